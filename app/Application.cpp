#include "app/Application.h"

#include <QApplication>
#include <QIcon>
#include <cstring>

#include "app/AutoChecks.h"
#include "app/DataSession.h"
#include "app/InstanceChannel.h"
#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "app/uAproposDe.h"
#include "app/uMain.h"
#include "watch/uData.h"

// The icon's resource lives in the application's static library, which the
// linker would leave out unless something refers to it.
static void InitResources() { Q_INIT_RESOURCE(veilex); }

namespace veilex {
namespace {

QString FileText(const std::string& data_file) { return DisplayText(data_file); }

// Runs the window on the open link store until it closes.
int RunWindow(TData& data) {
  int exit_code;
  {
    TfrmMain frmMain(data);
    TAutoChecks auto_checks(frmMain);
    // A Veilex started later on the same file shows this window instead.
    TInstanceServer instance_server(data.FileName(), [&frmMain] { BringForward(frmMain); });
    QApplication::setQuitOnLastWindowClosed(true);
    frmMain.show();
    exit_code = QApplication::exec();
  }
  // The data module's last save comes after the window is gone.
  data.OnSaveError = [](TData& sender) { ShowWarning(nullptr, ExitSaveFailedText(sender.FileName())); };
  return exit_code;
}

}  // namespace

void WarnSaveFailed(TData& sender) {
  // Over the dialog when the save comes from it, else over the main window.
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = QApplication::activeWindow();
  ShowWarning(parent, SaveFailedText(sender.FileName()));
}

QString AlreadyRunningText(const std::string& data_file) {
  return QStringLiteral(
             "Veilex est déjà en cours d'exécution avec le fichier :\n%1\n"
             "Cette copie se ferme sans toucher au fichier.")
      .arg(FileText(data_file));
}

QString UnreadableFileText(const std::string& data_file, const std::string& problem) {
  const QString why = problem.empty() ? QString() : QStringLiteral("(%1)\n").arg(QString::fromStdString(problem));
  return QStringLiteral(
             "Le fichier des liens n'a pas pu être lu :\n%1\n%2"
             "Il a été laissé tel quel. Veilex va se fermer.")
      .arg(FileText(data_file), why);
}

QString UnlockableFileText(const std::string& data_file, int error) {
  return QStringLiteral(
             "Le fichier des liens n'a pas pu être verrouillé :\n%1\n(%2)\n"
             "Il n'a pas été ouvert. Veilex va se fermer.")
      .arg(FileText(data_file), QString::fromLocal8Bit(std::strerror(error)));
}

QString SaveFailedText(const std::string& data_file) {
  return QStringLiteral(
             "Les liens n'ont pas pu être enregistrés dans le fichier :\n%1\n"
             "Ils restent en mémoire ; la prochaine modification tentera de nouveau "
             "de les enregistrer.")
      .arg(FileText(data_file));
}

QString ExitSaveFailedText(const std::string& data_file) {
  return QStringLiteral(
             "Les liens n'ont pas pu être enregistrés dans le fichier :\n%1\n"
             "Les modifications qui n'avaient pas pu être enregistrées sont perdues.")
      .arg(FileText(data_file));
}

int RunVeilex(const std::string& data_file) {
  int exit_code = 1;
  RunGuarded(nullptr, [&] {
    // Boxes shown before the main window must not end the run when they close.
    QApplication::setQuitOnLastWindowClosed(false);
    InitResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/veilex/veilex.png")));
    TfrmAproposDe::SetDataFileShown(data_file);
    TDataSession session(data_file, WarnSaveFailed);
    switch (session.State()) {
      case TDataSession::TState::HeldElsewhere:
        // The Veilex holding the file shows its window; only one that does
        // not answer (an older version, a hung one) leaves the error box.
        if (AskRunningVeilexToShow(data_file)) {
          exit_code = 0;
          return;
        }
        ShowError(nullptr, AlreadyRunningText(data_file));
        return;
      case TDataSession::TState::Unreadable:
        ShowError(nullptr, UnreadableFileText(data_file, session.Data().LoadProblem()));
        return;
      case TDataSession::TState::Unlockable:
        ShowError(nullptr, UnlockableFileText(data_file, session.LockError()));
        return;
      case TDataSession::TState::Open:
        exit_code = RunWindow(session.Data());
        return;
    }
  });
  return exit_code;
}

}  // namespace veilex
