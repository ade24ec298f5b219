#include "tests/app/NotificationBus.h"

#include <signal.h>
#include <sys/prctl.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace veilex::test {
namespace {

constexpr const char* kServiceConnection = "veilex-test-notifications";

}  // namespace

std::vector<TNotifyCall> TNotificationService::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

uint TNotificationService::Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
                                  const QString& summary, const QString& body, const QStringList& actions,
                                  const QVariantMap& hints, int expire_timeout) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.push_back({app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout});
  return static_cast<uint>(calls_.size());
}

TPrivateBus::~TPrivateBus() {
  if (service_ != nullptr) {
    QDBusConnection::disconnectFromBus(kServiceConnection);
    thread_.quit();
    thread_.wait(5000);
    delete service_;
  }
  daemon_.kill();
  daemon_.waitForFinished(5000);
}

bool TPrivateBus::Start() {
  if (!dir_.isValid()) {
    error_ = QStringLiteral("no scratch directory");
    return false;
  }
  // Killed with the test process, whatever ends it.
  daemon_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
  daemon_.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                 QStringLiteral("--address=unix:path=") + dir_.path() + QStringLiteral("/bus"),
                 QStringLiteral("--print-address=1")});
  if (!daemon_.waitForStarted(5000)) {
    error_ = QStringLiteral("dbus-daemon would not start: ") + daemon_.errorString();
    return false;
  }
  while (!daemon_.canReadLine()) {
    if (!daemon_.waitForReadyRead(5000)) {
      error_ =
          QStringLiteral("dbus-daemon gave no address: ") + QString::fromUtf8(daemon_.readAllStandardError());
      return false;
    }
  }
  address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  return !address_.isEmpty();
}

bool TPrivateBus::RegisterService() {
  QDBusConnection connection = QDBusConnection::connectToBus(address_, kServiceConnection);
  if (!connection.isConnected()) {
    error_ = connection.lastError().message();
    return false;
  }
  service_ = new TNotificationService;
  service_->moveToThread(&thread_);
  thread_.start();
  if (!connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), service_,
                                 QDBusConnection::ExportAllSlots) ||
      !connection.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
    error_ = connection.lastError().message();
    return false;
  }
  return true;
}

}  // namespace veilex::test
