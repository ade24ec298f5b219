#include "app/Application.h"

#include <QApplication>

#include "app/AutoChecks.h"
#include "app/MessageBoxes.h"
#include "app/SingleInstance.h"
#include "app/TextCodec.h"
#include "app/uMain.h"
#include "watch/uData.h"

namespace veilex {
namespace {

QString FileText(const std::string& data_file) { return DisplayText(data_file); }

// The link store opens "veilex.mlb" in a directory: the directory of
// `data_file`.
std::string DataDirectory(const std::string& data_file) {
  const size_t slash = data_file.rfind('/');
  return slash == std::string::npos ? std::string() : data_file.substr(0, slash + 1);
}

// Runs the program once the lock question is settled.
int RunWithLock(const std::string& data_file) {
  // Boxes shown before the main window must not end the run when they close.
  QApplication::setQuitOnLastWindowClosed(false);
  TData data(DataDirectory(data_file), WarnSaveFailed);
  if (data.LoadFailed()) {
    ShowError(nullptr, UnreadableFileText(data.FileName()));
    return 1;
  }
  int exit_code;
  {
    TfrmMain frmMain(data);
    TAutoChecks auto_checks(frmMain);
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

QString UnreadableFileText(const std::string& data_file) {
  return QStringLiteral(
             "Le fichier des liens n'a pas pu être lu :\n%1\n"
             "Il a été laissé tel quel. Veilex va se fermer.")
      .arg(FileText(data_file));
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
    // Held until the last save is done. When the lock file cannot be opened
    // at all, no save can succeed there either, so running unlocked is safe.
    TSingleInstanceLock lock(data_file + ".lock");
    if (lock.State() == TSingleInstanceLock::TState::HeldElsewhere) {
      ShowError(nullptr, AlreadyRunningText(data_file));
      return;
    }
    exit_code = RunWithLock(data_file);
  });
  return exit_code;
}

}  // namespace veilex
