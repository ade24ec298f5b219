// `veilex --check` and the rest of the command line: the parsing, then the
// real program run the way cron runs it (no display, no session bus) against
// a real nginx on loopback, with its output, its exit status and the data
// file read back.
#include <sys/resource.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <sstream>

#include "app/CheckCommand.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "app/TrialCommands.h"
#include "tests/app/TestSupport.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/NoisyPage.h"
#include "tests/support/ScriptedServer.h"
#include "watch/uData.h"
#include "watch/LinkRecord.h"

namespace veilex::test {
namespace {

using testing::NginxPeer;
using TMode = TCommandLine::TMode;

const QString kChangements = QStringLiteral("Changements détectés");
const QString kPasDeChangement = QStringLiteral("Pas de changement");
const QString kEchec = QStringLiteral("Echec de la mise à jour");

std::string Url(int port, const std::string& path) { return "127.0.0.1:" + std::to_string(port) + path; }

TRow Link(const std::string& nom, const std::string& url) {
  return {nom, url, "inconnue", "inconnue", "Jamais mise \xe0 jour", ""};
}

struct TRun {
  int status = -1;
  QString out;
  QString err;
  QStringList Lines() const { return out.split('\n', Qt::SkipEmptyParts); }
};

enum class TBus { Unreachable, Unset };

// Runs the program as cron would: no display (and a platform that would
// need one, so that loading it fails loudly), no session bus: an address
// where none listens, or none at all (and no runtime directory holding one).
TRun RunProgram(const QStringList& arguments, TBus bus = TBus::Unreachable) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove("DISPLAY");
  environment.remove("WAYLAND_DISPLAY");
  environment.insert("QT_QPA_PLATFORM", "xcb");
  environment.insert("LSAN_OPTIONS", "print_suppressions=0:suppressions=" VEILEX_LSAN_QT_SUPPRESSIONS);
  if (bus == TBus::Unreachable) {
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/veilex-test-bus");
  } else {
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.insert("XDG_RUNTIME_DIR", "/nonexistent/veilex-test-runtime");
  }
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(VEILEX_EXECUTABLE), arguments);
  TRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished(5000);
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString Line(const QString& etat, const QString& nom, const std::string& url) {
  return etat + '\t' + nom + '\t' + Q(url);
}

}  // namespace

class TestCommandLine : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!NginxPeer::Installed() || !nginx_.Start()) QSKIP("nginx-light is needed (scripts/install-deps)");
    nginx_.WriteFile("/mairie.html", "<p>conseil municipal</p>");
    nginx_.WriteFile("/recettes.html", "<p>tarte</p>");
  }

  void parses_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("data_file");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<QStringList>("names");
    const int window = int(TMode::Window), check = int(TMode::Check), refused = int(TMode::UsageError);
    QTest::newRow("nothing") << QStringList{} << window << "" << false << QStringList{};
    QTest::newRow("window on a file")
        << QStringList{"--data", "/x/l.mlb"} << window << "/x/l.mlb" << false << QStringList{};
    QTest::newRow("--data=") << QStringList{"--data=/x/l.mlb"} << window << "/x/l.mlb" << false
                             << QStringList{};
    QTest::newRow("check all") << QStringList{"--check"} << check << "" << false << QStringList{};
    QTest::newRow("options after names")
        << QStringList{"--check", "Mairie", "--notify", "Recettes", "--data", "f"} << check << "f" << true
        << QStringList{"Mairie", "Recettes"};
    QTest::newRow("-- ends options") << QStringList{"--check", "--", "--data"} << check << "" << false
                                     << QStringList{"--data"};
    QTest::newRow("help wins") << QStringList{"--check", "--help"} << int(TMode::Help) << "" << false
                               << QStringList{};
    QTest::newRow("version") << QStringList{"--version"} << int(TMode::Version) << "" << false
                             << QStringList{};
    QTest::newRow("unknown option") << QStringList{"--verbose"} << refused << "" << false << QStringList{};
    QTest::newRow("short option") << QStringList{"-c"} << refused << "" << false << QStringList{};
    QTest::newRow("--data without file")
        << QStringList{"--check", "--data"} << refused << "" << false << QStringList{};
    QTest::newRow("--data= empty") << QStringList{"--data="} << refused << "" << false << QStringList{};
    QTest::newRow("--data twice") << QStringList{"--data", "a", "--data", "b"} << refused << "" << false
                                  << QStringList{};
    QTest::newRow("--check twice") << QStringList{"--check", "--check"} << refused << "" << false
                                   << QStringList{};
    QTest::newRow("names without --check")
        << QStringList{"Mairie"} << refused << "" << false << QStringList{};
    QTest::newRow("--notify without --check")
        << QStringList{"--notify"} << refused << "" << false << QStringList{};
    QTest::newRow("test a link") << QStringList{"--test", "Mairie", "--data", "f"} << int(TMode::Test) << "f"
                                 << false << QStringList{"Mairie"};
    QTest::newRow("learn a link") << QStringList{"Mairie", "--learn"} << int(TMode::Learn) << "" << false
                                  << QStringList{"Mairie"};
    QTest::newRow("--test without name") << QStringList{"--test"} << refused << "" << false << QStringList{};
    QTest::newRow("--learn, two names")
        << QStringList{"--learn", "a", "b"} << refused << "" << false << QStringList{};
    QTest::newRow("--test and --check")
        << QStringList{"--test", "--check", "a"} << refused << "" << false << QStringList{};
    QTest::newRow("--learn and --notify")
        << QStringList{"--learn", "--notify", "a"} << refused << "" << false << QStringList{};
  }

  void parses() {
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    std::vector<std::string> argv;
    for (const QString& argument : arguments) argv.push_back(argument.toStdString());
    const TCommandLine line = ParseCommandLine(argv);
    QCOMPARE(int(line.Mode), mode);
    if (line.Mode == TMode::UsageError) {
      QVERIFY(!line.Error.empty());
      return;
    }
    QVERIFY(line.Error.empty());
    QTEST(Q(line.DataFile), "data_file");
    QTEST(line.Notify, "notify");
    QStringList names;
    for (const std::string& name : line.Names) names << Q(name);
    QTEST(names, "names");
  }

  void aLineKeepsItsFourFieldsWhateverTheValuesHold() {
    QCOMPARE(Q(CheckLine("Echec de la mise \xe0 jour", "a\tb\nc", "h/p\r", "Délai de lecture")),
             QStringLiteral("Echec de la mise à jour\ta b c\th/p \tDélai de lecture"));
    QCOMPARE(Q(CheckLine("Pas de changement", "Caf\xe9", "h/", "")),
             QStringLiteral("Pas de changement\tCafé\th/"));
    // The reason is UTF-8, whatever the rest of the line holds.
    QCOMPARE(Q(CheckLine("Echec de la mise \xe0 jour", "Caf\xe9", "[caf\xe9]/",
                         "Adresse IPv6 incorrecte : [caf\xc3\xa9]")),
             QStringLiteral("Echec de la mise à jour\tCafé\t[café]/\tAdresse IPv6 incorrecte : [café]"));
  }

  void aReasonWithAccentsReadsTheSameInTheFileAndOnTheLine() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {Link("Caf\xe9", "[caf\xe9]/")});  // ISO 8859-1, as older files hold
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitSomeFailed);
    const QString reason = QStringLiteral("Adresse IPv6 incorrecte : [café]");
    QCOMPARE(run.Lines(), QStringList({kEchec + "\tCafé\t[café]/\t" + reason}));
    QCOMPARE(ReadTable(dir.DataFile()).Value("Caf\xe9", kFieldRaison), reason.toStdString());
  }

  void helpAndVersionNeedNoDisplay() {
    const TRun help = RunProgram({"--help"});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Utilisation : veilex [--data FICHIER]\n")));
    QVERIFY(help.out.contains(QStringLiteral("veilex --check [--data FICHIER] [--notify] [NOM...]")));
    QCOMPARE(help.err, QString());
    const TRun version = RunProgram({"--version"});
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("Veilex 1.0\n"));
  }

  void anUnknownOptionPrintsTheUsageAndExitsTwo() {
    const TRun run = RunProgram({"--check", "--vite"});
    QCOMPARE(run.status, kExitUsageOrFile);
    QCOMPARE(run.out, QString());
    QVERIFY(run.err.startsWith(QStringLiteral("veilex : option inconnue : --vite\nUtilisation : ")));
  }

  void checksEveryLinkWithoutADisplayInTheListOrder() {
    TTempDir dir;
    const std::string mairie = Url(nginx_.Port(), "/mairie.html");
    const std::string recettes = Url(nginx_.Port(), "/recettes.html");
    // An ISO 8859-1 name, as older files hold, and a UTF-8 one.
    WriteLinks(dir.DataFile(), {Link("R\xe9"
                                     "cettes",
                                     recettes),
                                Link("Mairie \xc3\xa9t\xc3\xa9", mairie)});

    // Without a session bus, --notify is silent.
    const TRun first = RunProgram({"--check", "--notify", "--data", Q(dir.DataFile())});
    QCOMPARE(first.err, QString());
    QCOMPARE(first.status, kExitAllChecked);
    QCOMPARE(first.Lines(), QStringList({Line(kChangements, QStringLiteral("Mairie été"), mairie),
                                         Line(kChangements, QStringLiteral("Récettes"), recettes)}));
    const TStoredTable stored = ReadTable(dir.DataFile());
    QCOMPARE(stored.Value("Mairie \xc3\xa9t\xc3\xa9", kFieldPage), std::string("<p>conseil municipal</p>"));
    QCOMPARE(stored.Value("R\xe9"
                          "cettes",
                          kFieldEtat),
             std::string(kEtatChangements));

    nginx_.WriteFile("/mairie.html", "<p>conseil municipal</p>");  // the same bytes again
    const TRun second = RunProgram({"--check", "--notify", "--data", Q(dir.DataFile())}, TBus::Unset);
    QCOMPARE(second.err, QString());
    QCOMPARE(second.status, kExitAllChecked);
    QCOMPARE(second.Lines(), QStringList({Line(kPasDeChangement, QStringLiteral("Mairie été"), mairie),
                                          Line(kPasDeChangement, QStringLiteral("Récettes"), recettes)}));
  }

  void aFailedCheckGivesItsReasonAndExitsOne() {
    TTempDir dir;
    const std::string absent = Url(nginx_.Port(), "/absent.html");
    const std::string mairie = Url(nginx_.Port(), "/mairie.html");
    WriteLinks(dir.DataFile(), {Link("absent", absent), Link("mairie", mairie)});
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitSomeFailed);
    const QStringList lines = run.Lines();
    QCOMPARE(lines.size(), 2);
    const QStringList failed = lines[0].split('\t');
    QCOMPARE(failed.size(), 4);
    QCOMPARE(failed.mid(0, 3), QStringList({kEchec, "absent", Q(absent)}));
    QCOMPARE(failed[3], Q(ReadTable(dir.DataFile()).Value("absent", kFieldRaison)));
    QVERIFY(!failed[3].isEmpty());
    QCOMPARE(lines[1], Line(kChangements, "mairie", mairie));
  }

  void checksWithWhatEachLinkWatches() {
    TTempDir dir;
    nginx_.WriteFile("/prix.html", "<div id=\"prix\" class=\"a\">10 euros</div><p>pub 1</p>");
    const std::string prix = Url(nginx_.Port(), "/prix.html");
    const std::string stored = "<div id=\"prix\" class=\"b\">10 euros</div><p>pub 2</p>";
    const auto row = [&](const std::string& nom, const std::string& mode, const std::string& partie) {
      return TRow{nom, prix, "inconnue", "inconnue", "Pas de changement", stored, mode, partie};
    };
    WriteTable(dir.DataFile(), {kFieldNom, kFieldUrl, kFieldMajOk, kFieldMaj, kFieldEtat, kFieldPage, kFieldMode, kFieldPartie},
               {row("a texte", kModeTexte, "#prix"), row("b octets", "", ""), row("c absente", kModeTexte, "#absent")});
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitSomeFailed);
    QStringList lines = run.Lines();
    lines.sort();  // in the order the checks ended
    QCOMPARE(lines, QStringList({Line(kChangements, "b octets", prix),
                                 Line(kEchec, "c absente", prix) + QStringLiteral("\tLa partie choisie est introuvable : #absent"),
                                 Line(kPasDeChangement, "a texte", prix)}));
  }

  void checksOnlyTheNamedLinks() {
    TTempDir dir;
    const std::string mairie = Url(nginx_.Port(), "/mairie.html");
    const std::string recettes = Url(nginx_.Port(), "/recettes.html");
    WriteLinks(dir.DataFile(), {Link("Caf\xe9", recettes), Link("mairie", mairie), Link("autre", mairie)});
    // The ISO 8859-1 name typed as a UTF-8 terminal sends it.
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile()), "mairie", QStringLiteral("Café")});
    QCOMPARE(run.status, kExitAllChecked);
    QCOMPARE(run.Lines(), QStringList({Line(kChangements, "mairie", mairie),
                                       Line(kChangements, QStringLiteral("Café"), recettes)}));
    QCOMPARE(ReadTable(dir.DataFile()).Value("autre", kFieldEtat), std::string(kEtatJamais));
  }

  void aNameNotInTheListIsToldAndCountsAsAFailure() {
    TTempDir dir;
    const std::string mairie = Url(nginx_.Port(), "/mairie.html");
    WriteLinks(dir.DataFile(), {Link("mairie", mairie)});
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile()), "nulle part", "mairie"});
    QCOMPARE(run.status, kExitSomeFailed);
    QCOMPARE(run.err, QStringLiteral("veilex : aucun lien ne s'appelle « nulle part »\n"));
    QCOMPARE(run.Lines(), QStringList({Line(kChangements, "mairie", mairie)}));
  }

  void aFileHeldByARunningVeilexIsLeftUntouched() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {Link("mairie", Url(nginx_.Port(), "/mairie.html"))});
    const std::string before = ReadBytes(dir.DataFile());
    TSingleInstanceLock running(dir.DataFile());
    QCOMPARE(running.State(), TSingleInstanceLock::TState::Acquired);
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitUsageOrFile);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(QStringLiteral("déjà en cours d'exécution")), qPrintable(run.err));
    QCOMPARE(ReadBytes(dir.DataFile()), before);
  }

  void testPrintsTheComparedTextBesideAnOpenWindow() {
    TTempDir dir;
    nginx_.WriteFile("/actu.html", "<div id=main><p>conseil <b>municipal</b></p></div><p>Visites : 12</p>");
    const std::string actu = Url(nginx_.Port(), "/actu.html");
    std::vector<std::string> fields{kFieldNom, kFieldUrl, kFieldMajOk, kFieldMaj, kFieldEtat, kFieldPage,
                                    kFieldMode, kFieldPartie, kFieldIgnorer};
    WriteTable(dir.DataFile(), fields,
               {{"partie", actu, "", "", "", "", kModeTexte, "#main", ""},
                {"texte", actu, "", "", "", "", kModeTexte, "", "visites"},
                {"absente", actu, "", "", "", "", kModeTexte, "#absent", ""}});
    const std::string before = ReadBytes(dir.DataFile());
    // The window holds the file: --test only reads it.
    TSingleInstanceLock running(dir.DataFile() + ".lock");
    QCOMPARE(running.State(), TSingleInstanceLock::TState::Acquired);
    const TRun part = RunProgram({"--test", "partie", "--data", Q(dir.DataFile())});
    QCOMPARE(part.err, QString());
    QCOMPARE(part.status, kExitAllChecked);
    QCOMPARE(part.out, QStringLiteral("conseil municipal\n"));
    const TRun ruled = RunProgram({"--test", "texte", "--data", Q(dir.DataFile())});
    QCOMPARE(ruled.out, QStringLiteral("conseil municipal\n"));
    const TRun missing = RunProgram({"--test", "absente", "--data", Q(dir.DataFile())});
    QCOMPARE(missing.status, kExitSomeFailed);
    QCOMPARE(missing.out, QString());
    QVERIFY2(missing.err.startsWith(QStringLiteral("veilex : ")) && missing.err.contains(QStringLiteral("#absent")),
             qPrintable(missing.err));
    const TRun unknown = RunProgram({"--test", "inconnu", "--data", Q(dir.DataFile())});
    QCOMPARE(unknown.status, kExitSomeFailed);
    QCOMPARE(ReadBytes(dir.DataFile()), before);
  }

  void learnPrintsTheRulesForWhatChangesByItself() {
    testing::ScriptedServer server(testing::ServeNoisyPage());
    TTempDir dir;
    const std::string url = server.Address("/").substr(std::string("http://").size());
    WriteTable(dir.DataFile(), {kFieldNom, kFieldUrl, kFieldMode}, {{"Actu", url, kModeTexte}});
    TCommandLine line = ParseCommandLine({"--learn", "Actu"});
    TTrialOptions options;
    options.GapMs = 20;
    std::ostringstream out, err;
    QCOMPARE(RunLearn(line, dir.DataFile(), out, err, options), kExitAllChecked);
    QCOMPARE(Q(err.str()), QString());
    QCOMPARE(Q(out.str()), QStringLiteral("/^Jeton de session : [0-9a-fA-F]{16}$/\n"
                                          "/^Page générée le \\d{2}\\/\\d{2}\\/\\d{4} à "
                                          "\\d{2}:\\d{2}:\\d{2}$/\n"));
    QCOMPARE(server.Connections(), 3);

    // A page the server does not have: the reason, status 1.
    WriteTable(dir.DataFile(), {kFieldNom, kFieldUrl}, {{"Absente", Url(nginx_.Port(), "/absent.html")}});
    std::ostringstream none, why;
    QCOMPARE(RunLearn(ParseCommandLine({"--learn", "Absente"}), dir.DataFile(), none, why, options), kExitSomeFailed);
    QCOMPARE(Q(none.str()), QString());
    QVERIFY2(Q(why.str()).startsWith(QStringLiteral("veilex : ")), qPrintable(Q(why.str())));
  }

  void anUnreadableFileIsLeftUntouched() {
    TTempDir dir;
    const std::string damaged = "MLB pas du tout\n\x01\x02";
    WriteBytes(dir.DataFile(), damaged);
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitUsageOrFile);
    QVERIFY2(run.err.contains(QStringLiteral("n'a pas pu être lu")), qPrintable(run.err));
    QCOMPARE(ReadBytes(dir.DataFile()), damaged);
  }

  void aFileThatCannotBeLockedIsLeftUntouched() {
    TTempDir dir;
    std::filesystem::create_symlink("boucle.mlb", dir.Path() + "boucle.mlb");  // cannot be opened
    const TRun run = RunProgram({"--check", "--data", Q(dir.Path() + "boucle.mlb")});
    QCOMPARE(run.status, kExitUsageOrFile);
    QVERIFY2(run.err.contains(QStringLiteral("n'a pas pu être verrouillé")), qPrintable(run.err));
    QCOMPARE(run.out, QString());
  }

  void theDataFileIsAnMlbTableWhateverItsName() {
    TTempDir dir;
    const std::string mairie = Url(nginx_.Port(), "/mairie.html");
    const std::string csv = "nom;url\r\nmairie;" + mairie + "\r\n";
    for (const std::string name : {"liens.csv", "mesliens", "liens.txt"}) {
      const std::string file = dir.Path() + name;
      WriteBytes(file, csv);
      const TRun refused = RunProgram({"--check", "--data", Q(file)});
      QCOMPARE(refused.status, kExitUsageOrFile);
      QVERIFY2(refused.err.contains(QStringLiteral("ce n'est pas une table MLB")), qPrintable(refused.err));
      QCOMPARE(ReadBytes(file), csv);
      // The same name holding links is read and written as MLB.
      WriteLinks(file, {Link("mairie", mairie)});
      const TRun run = RunProgram({"--check", "--data", Q(file)});
      QCOMPARE(run.status, kExitAllChecked);
      QCOMPARE(ReadTable(file).Value("mairie", kFieldEtat), std::string(kEtatChangements));
    }
  }

  void aCheckWaitsForItsResultsWithoutWakingMeanwhile() {
    // Silent for 2.5 s: the run has nothing to do but wait for it.
    testing::ScriptedServer silent([](testing::ScriptedConnection& connection, int) {
      connection.ReadRequest();
      connection.ClientClosedWithin(5000);
    });
    TTempDir dir;
    WriteLinks(dir.DataFile(), {Link("muet", silent.Address("/").substr(std::string("http://").size()))});
    TData data(TDataFile{dir.DataFile()});
    data.CheckLimits.SilenceMs = 2500;
    struct rusage before, after;
    ::getrusage(RUSAGE_THREAD, &before);
    CheckLinks(data, {"muet"}, nullptr);
    ::getrusage(RUSAGE_THREAD, &after);
    // Each wait that ends is a voluntary switch: a wait of 1 ms at a time
    // would make about 1500 of them.
    const long wakeups = after.ru_nvcsw - before.ru_nvcsw;
    QVERIFY2(wakeups < 50, qPrintable(QString::number(wakeups)));
    QVERIFY(data.TrouverLien("muet"));
    QCOMPARE(data.Table.GetData(kFieldEtat), std::string(kEtatEchec));
  }

  void aMissingFileIsNotCreated() {
    TTempDir dir;
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitUsageOrFile);
    QVERIFY2(run.err.contains(QStringLiteral("n'existe pas")), qPrintable(run.err));
    QVERIFY(!std::filesystem::exists(dir.DataFile()));
    QVERIFY(!std::filesystem::exists(dir.DataFile() + ".lock"));
  }

  void dataNamesAnyFileForTheCheckAndForTheWindow() {
    TTempDir dir;
    const std::string liens = dir.Path() + "liens.mlb";
    const std::string mairie = Url(nginx_.Port(), "/mairie.html");
    WriteLinks(liens, {Link("mairie", mairie)});
    const TRun run = RunProgram({"--check", "--data", Q(liens)});
    QCOMPARE(run.status, kExitAllChecked);
    QCOMPARE(run.Lines(), QStringList({Line(kChangements, "mairie", mairie)}));
    QVERIFY(!std::filesystem::exists(dir.DataFile()));

    // The window on that file holds the lock beside it.
    struct TWindow {
      QProcess process;
      ~TWindow() {
        process.kill();
        process.waitForFinished(5000);
      }
    } window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    window.process.setProcessEnvironment(environment);
    window.process.start(QStringLiteral(VEILEX_EXECUTABLE), {"--data", Q(liens)});
    QVERIFY(window.process.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(HeldByAnotherProcess(liens), 20000);
    QCOMPARE(RunProgram({"--check", "--data", Q(liens)}).status, kExitUsageOrFile);
    QCOMPARE(ReadTable(liens).Value("mairie", kFieldEtat), std::string(kEtatChangements));
  }

  void anEmptyListChecksNothing() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {});
    const TRun run = RunProgram({"--check", "--data", Q(dir.DataFile())});
    QCOMPARE(run.status, kExitAllChecked);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QString());
  }

 private:
  NginxPeer nginx_;
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestCommandLine)
#include "tst_CommandLine.moc"
