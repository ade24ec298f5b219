#include "app/ImportExport.h"

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "app/MainMenus.h"
#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "app/uMain.h"
#include "watch/LinkImport.h"
#include "watch/uData.h"

namespace veilex {
namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string FileBytes(const QString& file_name) { return QFile::encodeName(file_name).toStdString(); }

// The reasons listed in the box itself; all of them are in its details.
constexpr int kReasonsShown = 5;

}  // namespace

TImportExport::TImportExport(TfrmMain& main, TData& data) : QObject(&main), main_(main), data_(data) {
  AskFileName = [this](bool save) {
    if (save)
      return QFileDialog::getSaveFileName(&main_, QStringLiteral("Exporter les liens"), QString(),
                                          QStringLiteral("Tableau CSV (*.csv);;Fichier urls.yaml (*.yaml)"));
    return QFileDialog::getOpenFileName(
        &main_, QStringLiteral("Importer des liens"), QString(),
        QStringLiteral("Listes de liens (*.yaml *.yml *.html *.htm *.csv *.txt);;Tous les fichiers (*)"));
  };
  auto make = [this](QAction*& action, const char* name, const QString& caption,
                     void (TImportExport::*handler)()) {
    action = NewCommand(&main_, name, caption);
    connect(action, &QAction::triggered, this, handler);
  };
  make(actImporter, "actImporter", QStringLiteral("Importer..."), &TImportExport::actImporterExecute);
  make(actExporter, "actExporter", QStringLiteral("Exporter..."), &TImportExport::actExporterExecute);
}

void TImportExport::actImporterExecute() {
  if (main_.Checking()) return;
  RunGuarded(&main_, [this] {
    const QString file_name = AskFileName(false);
    if (!file_name.isEmpty()) Import(file_name);
  });
}

void TImportExport::Import(const QString& file_name) {
  const TImportReport report = ImportLinks(data_, FileBytes(file_name));
  if (report.Imported > 0) main_.RemplirGrille();
  ShowImportReport(&main_, report);
}

void TImportExport::actExporterExecute() {
  if (main_.Checking()) return;
  RunGuarded(&main_, [this] {
    const QString file_name = AskFileName(true);
    if (file_name.isEmpty()) return;
    std::string error;
    int count = 0;
    if (!ExportLinks(data_, FileBytes(file_name), error, count)) {
      ShowError(&main_, QStringLiteral("Les liens n'ont pas pu être exportés dans le fichier :\n%1\n%2")
                            .arg(file_name, Utf8(error)));
      return;
    }
    main_.Status->showMessage(
        (count <= 1 ? QStringLiteral("%1 lien exporté dans %2") : QStringLiteral("%1 liens exportés dans %2"))
            .arg(count)
            .arg(file_name));
  });
}

void ShowImportReport(QWidget* parent, const TImportReport& report) {
  if (!report.Read) {
    ShowError(parent, QStringLiteral("Aucun lien n'a été importé : ") + Utf8(report.Error) + QLatin1Char('.'));
    return;
  }
  QMessageBox box(report.Refused.empty() ? QMessageBox::Information : QMessageBox::Warning,
                  QStringLiteral("Importer"), Utf8(ImportSummary(report)), QMessageBox::Ok, parent);
  QStringList reasons;
  for (const std::string& line : report.Refused) reasons << Utf8(line);
  QStringList details = reasons;
  for (const std::string& line : report.Notes) details << Utf8(line);
  QString informative = reasons.mid(0, kReasonsShown).join(QLatin1Char('\n'));
  if (reasons.size() > kReasonsShown) informative += QStringLiteral("\n…");
  if (!report.Saved)
    informative += QStringLiteral("\nLes liens n'ont pas pu être enregistrés dans le fichier des liens.");
  box.setInformativeText(informative.trimmed());
  if (!details.isEmpty()) box.setDetailedText(details.join(QLatin1Char('\n')));
  box.exec();
}

}  // namespace veilex
