// Tells the desktop that pages changed: one notification through the
// freedesktop notification service on the session bus. Where there is no
// session bus or no such service, nothing happens and nothing is printed.
// Needs a QCoreApplication; its thread only.
#pragma once

#include <QString>
#include <QStringList>

namespace veilex {

// The text of a notification about `names`: « 1 page a changé : Mairie »,
// « 2 pages ont changé : Mairie, Recettes »; past kMaxNamesShown names, the
// first ones then « … et 3 autres ». Empty for no names.
inline constexpr int kMaxNamesShown = 5;
QString ChangedPagesText(const QStringList& names);
// ChangedPagesText as a notification's body, where the service may read
// markup: the names escaped.
QString NotificationBody(const QStringList& names, int unread = 0);

// The tray's text for the unread links: « 1 page non lue : Mairie »,
// « 3 pages non lues : ... », names past kMaxNamesShown as above.
QString UnreadPagesText(const QStringList& names);
// The body of a notification about the links `names` just marked unread,
// when `unread` links are unread in all: ChangedPagesText(names), and
// « N pages non lues en tout » on a line of its own when others were unread
// already.
QString NotificationText(const QStringList& names, int unread);

enum class TNotifyWait {
  No,              // send and go on (the window)
  UntilDelivered,  // wait, within kNotifyTimeoutMs, for the service's answer
                   // (a process about to end)
};
// How long a notification may wait for the service before it is given up.
inline constexpr int kNotifyTimeoutMs = 2000;

// Sends « Veilex » / NotificationText(names, unread) to
// org.freedesktop.Notifications when `names` is not empty. Raises nothing; a
// missing bus or service is no error.
void NotifyChangedPages(const QStringList& names, TNotifyWait wait, int unread = 0);

// Where the session has no bus (no address in the environment, no socket in
// the runtime directory), the D-Bus library starts one of its own through
// X11 ("dbus-launch --autolaunch") at Qt's first use of the session bus (the
// accessibility bridge, the tray, a notification), and that process outlives
// Veilex. This names an address that fails at once instead, so that no start
// leaves a process behind. Call before the application object exists.
void KeepTheSessionBusFromStarting();

}  // namespace veilex
