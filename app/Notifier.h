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

}  // namespace veilex
