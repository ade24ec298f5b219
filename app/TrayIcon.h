// TTrayIcon: Veilex's icon in the desktop's system tray, where there is one.
// Its tooltip tells how many links are unread; a click shows
// the main window; its menu shows the window or quits. Owned by TAutoChecks;
// GUI thread only.
#pragma once

#include <QObject>
#include <QStringList>

class QMenu;
class QSystemTrayIcon;

namespace veilex {

class TfrmMain;

class TTrayIcon : public QObject {
  Q_OBJECT

 public:
  // Creates the icon only when the desktop has a system tray.
  explicit TTrayIcon(TfrmMain& main, QObject* parent = nullptr);
  ~TTrayIcon() override;

  // True when the icon is in a tray (the window may then hide into it).
  bool Available() const { return icon_ != nullptr; }
  // Shows the links unread now.
  void SetChanged(const QStringList& unread_names);
  QString ToolTip() const { return tool_tip_; }

  // Brings the main window back from the tray.
  void ShowWindow();

 private:
  TfrmMain& main_;
  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_ = nullptr;
  QString tool_tip_;
};

// The tooltip for the unread links: « Veilex » alone, or « Veilex – 2 pages
// non lues : ... ».
QString TrayToolTip(const QStringList& unread_names);

}  // namespace veilex
