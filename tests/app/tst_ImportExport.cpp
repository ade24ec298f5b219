// « Importer... » and « Exporter... » in the window, and `veilex --import`
// and `--export` run as a program: the list refilled, the report, the exit
// statuses.
#include <QAction>
#include <QProcess>
#include <QStatusBar>
#include <QTest>

#include "app/ImportExport.h"
#include "app/uMain.h"
#include "tests/app/TestSupport.h"

namespace veilex::test {
namespace {

struct TRun {
  int status = -1;
  QString out, err;
};

TRun RunProgram(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove("DISPLAY");
  environment.insert("LSAN_OPTIONS", "print_suppressions=0:suppressions=" VEILEX_LSAN_QT_SUPPRESSIONS);
  process.setProcessEnvironment(environment);
  process.start(VEILEX_EXECUTABLE, arguments);
  TRun run;
  if (!process.waitForFinished(20000)) {
    process.kill();
    process.waitForFinished(5000);
    return run;
  }
  run.status = process.exitCode();
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

const char* const kYaml =
    "name: Journal\nurl: http://journal.example.org/\n---\n"
    "name: Gazette\nurl: https://gazette.example.org/une\nfilter:\n  - css: main\n---\n"
    "name: Archive\nurl: ftp://archive.example.org/\n";

}  // namespace

class TestImportExport : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void importingFromTheWindowShowsTheLinksAndReports() {
    TSession session({{"Journal", "journal.example.org", "inconnue", "inconnue", "Jamais mise \xe0 jour"}});
    session.Start();
    TfrmMain& main = session.Main();
    WriteBytes(session.Dir().Path() + "urls.yaml", kYaml);
    main.ImportExport->AskFileName = [&](bool save) {
      return save ? QString() : QString::fromStdString(session.Dir().Path() + "urls.yaml");
    };
    TBoxSeen box;
    AnswerBox(&box);
    main.ImportExport->actImporter->trigger();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Importer"));
    QCOMPARE(box.text, QStringLiteral("2 liens importés, 1 refusé"));
    QCOMPARE(session.ShownNames(), (QStringList{"Gazette", "Journal", "Journal (2)"}));
    QCOMPARE(ReadTable(session.DataFile()).Value("Gazette", "partie"), std::string("main"));
  }

  void exportingFromTheWindowWritesTheChosenFile() {
    TSession session({{"Journal", "journal.example.org", "inconnue", "inconnue", "Jamais mise \xe0 jour", "<p>page</p>"}});
    session.Start();
    TfrmMain& main = session.Main();
    const std::string file = session.Dir().Path() + "liens.csv";
    main.ImportExport->AskFileName = [&](bool save) { return save ? QString::fromStdString(file) : QString(); };
    main.ImportExport->actExporter->trigger();
    QCOMPARE(QString::fromStdString(ReadBytes(file)),
             QStringLiteral("nom;url;mode;partie;ignorer;ajouts;javascript\nJournal;journal.example.org;;;;;\n"));
    QVERIFY(main.Status->currentMessage().startsWith(QStringLiteral("1 lien exporté")));
  }

  void theCommandLineImportsAndExportsWithItsExitStatuses() {
    TTempDir dir;
    const QString data = QString::fromStdString(dir.DataFile());
    WriteBytes(dir.Path() + "urls.yaml", kYaml);
    TRun run = RunProgram({"--import", QString::fromStdString(dir.Path() + "urls.yaml"), "--data", data});
    QCOMPARE(run.status, 1);  // one refused
    QVERIFY2(run.out.startsWith(QStringLiteral("2 liens importés, 1 refusé\nrefusé, entrée 3 (« Archive ») : ")),
             qPrintable(run.out));
    run = RunProgram({"--data", data, "--export", QString::fromStdString(dir.Path() + "copie.yaml")});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("2 liens exportés\n"));
    TTempDir other;
    run = RunProgram({"--import", QString::fromStdString(dir.Path() + "copie.yaml"), "--data",
                      QString::fromStdString(other.DataFile())});
    QCOMPARE(run.status, 0);
    QCOMPARE(ReadTable(other.DataFile()).Column("nom"), (std::vector<std::string>{"Journal", "Gazette"}));
    // A list that cannot be read adds nothing.
    const std::string before = ReadBytes(dir.DataFile());
    run = RunProgram({"--import", QString::fromStdString(dir.Path() + "absent.csv"), "--data", data});
    QCOMPARE(run.status, 2);
    QVERIFY(run.err.startsWith(QStringLiteral("veilex : aucun lien n'a été importé")));
    QCOMPARE(ReadBytes(dir.DataFile()), before);
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestImportExport)
#include "tst_ImportExport.moc"
