#include "app/AutoChecks.h"

#include <QApplication>

#include "app/CheckRunner.h"
#include "app/MessageBoxes.h"
#include "app/Notifier.h"
#include "app/PeriodicChecks.h"
#include "app/TrayIcon.h"
#include "app/uMain.h"
#include "app/uOptions.h"

namespace veilex {

TAutoChecks::TAutoChecks(TfrmMain& main, QObject* parent)
    : QObject(parent), main_(main), settings_(TSettings::Load()) {
  // A box open over the window may be about to change the links (« Supprimer »
  // asks first): no run starts under it, and its turn is skipped.
  periodic_ = new TPeriodicChecks(
      [this] { return main_.Checking() || QApplication::activeModalWidget() != nullptr; },
      [this] { main_.actToutMettreAJourExecute(); }, this);
  tray_ = new TTrayIcon(main_, this);
  connect(&main_, &TfrmMain::OptionsRequested, this, &TAutoChecks::OpenOptions);
  connect(&main_.Runner(), &TCheckRunner::RunFinished, this, &TAutoChecks::RunEnded);
  connect(&main_, &TfrmMain::UnreadChanged, tray_, &TTrayIcon::SetChanged);
  main_.HideOnClose = [this] {
    if (!tray_->Available() || !settings_.Periodic()) return false;
    // Hidden, the window is no longer there to keep the program running,
    // and a box closing meanwhile must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    return true;
  };
  ApplyInterval();
  main_.SetHistoryBounds(settings_.HistoryBounds());
}

TAutoChecks::~TAutoChecks() { main_.HideOnClose = nullptr; }

bool TAutoChecks::SetSettings(const TSettings& settings) {
  const bool interval_changed = settings.IntervalMinutes != settings_.IntervalMinutes;
  settings_ = settings;
  if (interval_changed) ApplyInterval();
  main_.SetHistoryBounds(settings_.HistoryBounds());
  return settings_.Save();
}

void TAutoChecks::SetMinute(std::chrono::milliseconds minute) {
  minute_ = minute;
  ApplyInterval();
}

void TAutoChecks::ApplyInterval() { periodic_->SetInterval(minute_ * settings_.IntervalMinutes); }

void TAutoChecks::OpenOptions() {
  RunGuarded(&main_, [this] {
    TfrmOptions frmOptions(settings_, &main_);
    if (frmOptions.exec() != QDialog::Accepted) return;
    if (!SetSettings(frmOptions.Settings()))
      ShowWarning(&main_, QStringLiteral("Les options n'ont pas pu être enregistrées dans le fichier :\n%1\n"
                                         "Elles valent jusqu'à la fermeture de Veilex.")
                              .arg(TSettings::FileName()));
  });
}

void TAutoChecks::RunEnded(const QStringList&) {
  // Only links that were not unread yet are news.
  if (settings_.NotifyChanges)
    NotifyChangedPages(main_.Runner().LastNewlyUnread(), TNotifyWait::No,
                       static_cast<int>(main_.UnreadNames().size()));
}

}  // namespace veilex
