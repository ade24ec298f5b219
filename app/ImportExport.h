// TImportExport: « Importer... » and « Exporter... » of the main window: the
// file chosen in a file dialog, the work done by watch/LinkImport.h, the
// list refilled after an import and the report shown (how many links came
// in, which were refused and why). Owned by the main window. GUI thread
// only.
#pragma once

#include <QObject>
#include <functional>

class QAction;
class QMessageBox;

namespace veilex {

class TData;
class TfrmMain;
struct TImportReport;

class TImportExport : public QObject {
  Q_OBJECT

 public:
  TImportExport(TfrmMain& main, TData& data);

  // Asks the file to read (save false) or to write (save true); empty when
  // the user cancelled. A file dialog by default; tests replace it.
  std::function<QString(bool save)> AskFileName;

  QAction* actImporter;
  QAction* actExporter;

  // Imports `file_name` and reports, as « Importer... » does once the file
  // is chosen.
  void Import(const QString& file_name);

 public slots:
  void actImporterExecute();
  void actExporterExecute();

 private:
  TfrmMain& main_;
  TData& data_;
};

// The report box of an import: the summary as its text, the reasons of the
// refusals and what was left out in its details.
void ShowImportReport(QWidget* parent, const TImportReport& report);

}  // namespace veilex
