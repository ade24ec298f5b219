#include "app/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>

#include "app/Notifier.h"
#include "app/TextCodec.h"
#include "app/uMain.h"

namespace veilex {

QString TrayToolTip(const QStringList& unread_names) {
  if (unread_names.isEmpty()) return QStringLiteral("Veilex");
  return QStringLiteral("Veilex – ") + UnreadPagesText(unread_names);
}

TTrayIcon::TTrayIcon(TfrmMain& main, QObject* parent) : QObject(parent), main_(main) {
  tool_tip_ = TrayToolTip({});
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  // Veilex's own icon: the installed one, else the one built into the program.
  const QIcon fallback = QApplication::windowIcon().isNull() ? QIcon(QStringLiteral(":/veilex/veilex.png"))
                                                             : QApplication::windowIcon();
  icon_ = new QSystemTrayIcon(QIcon::fromTheme(QStringLiteral("veilex"), fallback), this);
  menu_ = new QMenu();
  menu_->addAction(QStringLiteral("Afficher Veilex"), this, &TTrayIcon::ShowWindow);
  menu_->addAction(QStringLiteral("Quitter"), this, [this] {
    // Hidden in the tray, the window no longer keeps the program running:
    // closing it for good must end the program.
    QApplication::setQuitOnLastWindowClosed(true);
    main_.actQuitter->trigger();
    if (!main_.isVisible() && !main_.Checking()) QApplication::quit();
  });
  icon_->setContextMenu(menu_);
  icon_->setToolTip(ToolTipText(tool_tip_));
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) ShowWindow();
  });
  icon_->show();
}

TTrayIcon::~TTrayIcon() { delete menu_; }

void TTrayIcon::SetChanged(const QStringList& names) {
  tool_tip_ = TrayToolTip(names);
  if (icon_ != nullptr) icon_->setToolTip(ToolTipText(tool_tip_));
}

void TTrayIcon::ShowWindow() {
  QApplication::setQuitOnLastWindowClosed(true);
  main_.showNormal();
  main_.raise();
  main_.activateWindow();
}

}  // namespace veilex
