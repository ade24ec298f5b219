#include "app/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

namespace veilex {

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

void NotifyChangedPages(const QStringList& names, TNotifyWait wait) {
  if (names.isEmpty()) return;
  try {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    notify << QStringLiteral("Veilex") << 0u << QStringLiteral("veilex") << QStringLiteral("Veilex")
           << ChangedPagesText(names) << QStringList() << QVariantMap() << -1;
    // Without a service the bus answers with an error at once; that answer
    // is simply dropped.
    QDBusPendingCall call = bus.asyncCall(notify, kNotifyTimeoutMs);
    if (wait == TNotifyWait::UntilDelivered) call.waitForFinished();
  } catch (...) {
    // A notification is a courtesy; it never ends a run.
  }
}

}  // namespace veilex
