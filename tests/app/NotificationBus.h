// A private session bus for the notification tests: a dbus-daemon of their
// own on a socket in a scratch directory, killed when the test ends (even
// when the test process dies), and a small notification service on it that
// records every Notify call. The service answers on a thread of its own, so
// that a caller may block on its answer.
#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>
#include <mutex>
#include <vector>

namespace veilex::test {

struct TNotifyCall {
  QString app_name;
  uint replaces_id = 0;
  QString app_icon;
  QString summary;
  QString body;
  QStringList actions;
  QVariantMap hints;
  int expire_timeout = 0;
};

// What the freedesktop notification service offers, reduced to Notify.
class TNotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  std::vector<TNotifyCall> Calls() const;

 public slots:
  uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints, int expire_timeout);

 private:
  mutable std::mutex mutex_;
  std::vector<TNotifyCall> calls_;
};

class TPrivateBus {
 public:
  TPrivateBus() = default;
  ~TPrivateBus();
  TPrivateBus(const TPrivateBus&) = delete;
  TPrivateBus& operator=(const TPrivateBus&) = delete;

  // Starts the daemon; false with Error() when it would not start.
  bool Start();
  // Puts the notification service on the bus; false when it could not.
  bool RegisterService();
  QString Address() const { return address_; }
  QString Error() const { return error_; }
  std::vector<TNotifyCall> Calls() const { return service_ ? service_->Calls() : std::vector<TNotifyCall>(); }

 private:
  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
  QString error_;
  QThread thread_;
  TNotificationService* service_ = nullptr;
};

}  // namespace veilex::test
