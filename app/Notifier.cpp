#include "app/Notifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QVariantMap>

namespace veilex {
namespace {

const QString kConnectionName = QStringLiteral("veilex-notifications");

// True when the session has a bus to look for: an address in the
// environment, or the socket a systemd session puts in the runtime
// directory. Without either, the D-Bus library would try to start a bus
// daemon of its own through X11, which a notification must never do (a cron
// job has no desktop to start it for).
const char kNoBusAddress[] = "disabled:";

bool SessionBusKnown() {
  const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == kNoBusAddress) return false;  // set below: there is none
  if (!address.isEmpty()) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

QString ChangedPagesText(const QStringList& names) {
  const qsizetype count = names.size();
  if (count == 0) return QString();
  QString text =
      count == 1 ? QStringLiteral("1 page a changé : ") : QStringLiteral("%1 pages ont changé : ").arg(count);
  // One name more than the limit would take as much room as « … et 1 autre ».
  if (count <= kMaxNamesShown + 1) return text + names.join(QStringLiteral(", "));
  const qsizetype others = count - kMaxNamesShown;
  return text + names.mid(0, kMaxNamesShown).join(QStringLiteral(", ")) +
         QStringLiteral(" … et %1 autres").arg(others);
}

void KeepTheSessionBusFromStarting() {
  // An address of no known kind: connecting fails, nothing is started.
  if (!SessionBusKnown()) qputenv("DBUS_SESSION_BUS_ADDRESS", kNoBusAddress);
}

QString UnreadPagesText(const QStringList& names) {
  const qsizetype count = names.size();
  if (count == 0) return QString();
  QString text = count == 1 ? QStringLiteral("1 page non lue : ") : QStringLiteral("%1 pages non lues : ").arg(count);
  if (count <= kMaxNamesShown + 1) return text + names.join(QStringLiteral(", "));
  return text + names.mid(0, kMaxNamesShown).join(QStringLiteral(", ")) +
         QStringLiteral(" … et %1 autres").arg(count - kMaxNamesShown);
}

QString NotificationText(const QStringList& names, int unread) {
  QString text = ChangedPagesText(names);
  if (unread > names.size()) text += QStringLiteral("\n%1 pages non lues en tout").arg(unread);
  return text;
}

QString NotificationBody(const QStringList& names, int unread) {
  QStringList escaped;
  for (const QString& name : names) escaped << name.toHtmlEscaped();
  return NotificationText(escaped, unread);
}

void NotifyChangedPages(const QStringList& names, TNotifyWait wait, int unread) {
  if (names.isEmpty() || !SessionBusKnown()) return;
  try {
    // A connection of its own, which a process about to end can close
    // before it goes: the shared one is torn down by Qt's exit handlers,
    // racing with its own thread.
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConnectionName);
    struct TClose {
      bool close;
      ~TClose() {
        if (!close) return;
        QDBusConnection::disconnectFromBus(kConnectionName);
        // What the bus's thread handed back to this one (the connection's
        // deferred deletion) is done now rather than left behind at exit.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      }
    } close_after{wait == TNotifyWait::UntilDelivered || !bus.isConnected()};
    if (!bus.isConnected()) return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    notify << QStringLiteral("Veilex") << 0u << QStringLiteral("veilex") << QStringLiteral("Veilex")
           << NotificationBody(names, unread) << QStringList() << QVariantMap() << -1;
    // Without a service the bus answers with an error at once; that answer
    // is simply dropped.
    QDBusPendingCall call = bus.asyncCall(notify, kNotifyTimeoutMs);
    if (wait == TNotifyWait::UntilDelivered) call.waitForFinished();
  } catch (...) {
    // A notification is a courtesy; it never ends a run.
  }
}

}  // namespace veilex
