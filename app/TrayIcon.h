// TTrayIcon: Veilex's icon in the desktop's system tray, where there is one.
// Its tooltip tells how many pages the last run found changed; a click shows
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
  // Shows the outcome of a run: the pages it found changed.
  void SetChanged(const QStringList& names);
  QString ToolTip() const { return tool_tip_; }

  // Brings the main window back from the tray.
  void ShowWindow();

 private:
  TfrmMain& main_;
  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_ = nullptr;
  QString tool_tip_;
};

// The tooltip for the pages a run found changed: « Veilex » alone, or
// « Veilex – 2 pages ont changé : ... ».
QString TrayToolTip(const QStringList& changed_names);

}  // namespace veilex
