// The unread marks and the history as the user meets them: bold rows, their
// count and the « Dernier changement » column in the window, « Marquer comme
// lu » and « Tout marquer comme lu », the comparison window that marks its
// link seen; and the same marks and the versions from the command line
// (--list, --mark-read, --history), run as the real program against nginx.
#include <QLabel>
#include <QProcess>
#include <QSpinBox>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeView>
#include <filesystem>

#include "app/CommandLine.h"
#include "app/EtatDelegate.h"
#include "app/Notifier.h"
#include "app/SingleInstance.h"
#include "app/TrayIcon.h"
#include "app/Settings.h"
#include "app/uChangements.h"
#include "app/uOptions.h"
#include "app/uMain.h"
#include "history/Sha256.h"
#include "history/THistory.h"
#include "tests/app/TestSupport.h"
#include "tests/support/NginxPeer.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

using testing::NginxPeer;
using TMode = TCommandLine::TMode;

QString Q(const std::string& text) { return QString::fromStdString(text); }

struct TRun {
  int status = -1;
  QByteArray out;
  QString err;
  QStringList Lines() const { return QString::fromUtf8(out).split('\n', Qt::SkipEmptyParts); }
};

// The program as a script runs it: no display, no session bus.
TRun RunProgram(const QStringList& arguments) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove("DISPLAY");
  environment.insert("QT_QPA_PLATFORM", "xcb");
  environment.insert("LSAN_OPTIONS", "print_suppressions=0:suppressions=" VEILEX_LSAN_QT_SUPPRESSIONS);
  environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/veilex-test-bus");
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(VEILEX_EXECUTABLE), arguments);
  TRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished(5000);
    return run;
  }
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput();
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

// The link fields, then the added ones, as a data file of this version
// holds them.
std::vector<std::string> AllFields() {
  std::vector<std::string> fields(std::begin(kLinkFields), std::end(kLinkFields));
  fields.insert(fields.end(), std::begin(kAddedLinkFields), std::end(kAddedLinkFields));
  return fields;
}

// A link with its unread mark, last change date and previous page.
TRow Marked(const std::string& nom, bool unread, const std::string& chg, const std::string& ancienne = "") {
  TRow row(AllFields().size());
  const std::vector<std::string> fields = AllFields();
  auto set = [&](const char* field, const std::string& value) {
    row[static_cast<size_t>(std::find(fields.begin(), fields.end(), field) - fields.begin())] = value;
  };
  set(kFieldNom, nom);
  set(kFieldUrl, "example.org/" + nom);
  set(kFieldEtat, unread ? kEtatChangements : kEtatPasDeChangement);
  set(kFieldPage, "<p>maintenant</p>");
  set(kFieldAncienne, ancienne);
  set(kFieldChg, chg);
  set(kFieldNonLu, unread ? kOui : "");
  return row;
}

}  // namespace

class TestUnread : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void theWindowShowsUnreadLinksInBoldWithTheirCountAndLastChange() {
    TSession session;
    WriteTable(session.DataFile(), AllFields(),
               {Marked("un", true, "24/05/01 \xe0 10:00"), Marked("deux", true, "24/05/02 \xe0 11:00"),
                Marked("lu", false, "24/04/30 \xe0 09:00")});
    session.Start();
    TfrmMain& main = session.Main();
    QCOMPARE(main.Grille->model()->headerData(TfrmMain::kColChg, Qt::Horizontal).toString(),
             QStringLiteral("Dernier changement"));
    QCOMPARE(main.RowText(session.RowOf("lu"), TfrmMain::kColChg), QStringLiteral("24/04/30 à 09:00"));
    QCOMPARE(Bolds(main), (QStringList{"deux", "un"}));
    QCOMPARE(main.lblNonLus->text(), QStringLiteral("2 non lus"));

    // « Marquer comme lu » on the selected link, saved at once.
    session.ClickRow("un");
    main.actMarquerLu->trigger();
    QCOMPARE(Bolds(main), QStringList{"deux"});
    QCOMPARE(main.lblNonLus->text(), QStringLiteral("1 non lu"));
    QCOMPARE(ReadTable(session.DataFile()).Value("un", kFieldNonLu), std::string());
    QCOMPARE(ReadTable(session.DataFile()).Value("deux", kFieldNonLu), std::string(kOui));

    main.actToutMarquerLu->trigger();
    QCOMPARE(Bolds(main), QStringList{});
    QCOMPARE(main.lblNonLus->text(), QString());
    QCOMPARE(ReadTable(session.DataFile()).Value("deux", kFieldNonLu), std::string());
  }

  void openingTheComparisonMarksTheLinkSeen() {
    TSession session;
    WriteTable(session.DataFile(), AllFields(),
               {Marked("un", true, "24/05/01 \xe0 10:00", "<p>avant</p>"), Marked("deux", true, "24/05/02 \xe0 11:00")});
    session.Start();
    TfrmMain& main = session.Main();
    QSignalSpy unread(&main, &TfrmMain::UnreadChanged);
    session.ClickRow("un");
    main.actVoirChangements->trigger();
    auto* window = main.findChild<TfrmChangements*>();
    QVERIFY(window != nullptr);
    window->close();
    QCOMPARE(Bolds(main), QStringList{"deux"});
    QCOMPARE(ReadTable(session.DataFile()).Value("un", kFieldNonLu), std::string());
    QVERIFY(!unread.isEmpty());
    QCOMPARE(unread.last().at(0).toStringList(), QStringList{"deux"});
    // Without a previous version nothing opens, and the mark stays.
    session.ClickRow("deux");
    TBoxSeen box;
    AnswerBox(&box);
    main.actVoirChangements->trigger();
    QVERIFY(box.seen);
    QCOMPARE(Bolds(main), QStringList{"deux"});
  }

  void theTrayAndTheNotificationCountUnreadLinks_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("unread");
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<QString>("notification");
    QTest::newRow("none") << QStringList{} << 0 << "Veilex" << "";
    QTest::newRow("one, the only one") << QStringList{"Mairie"} << 1 << "Veilex – 1 page non lue : Mairie"
                                       << "1 page a changé : Mairie";
    QTest::newRow("one of three") << QStringList{"Mairie"} << 3 << "Veilex – 1 page non lue : Mairie"
                                  << "1 page a changé : Mairie\n3 pages non lues en tout";
    QTest::newRow("two") << QStringList{"Mairie", "Recettes"} << 2
                         << "Veilex – 2 pages non lues : Mairie, Recettes"
                         << "2 pages ont changé : Mairie, Recettes";
  }

  void theTrayAndTheNotificationCountUnreadLinks() {
    QFETCH(QStringList, names);
    QFETCH(int, unread);
    QTEST(TrayToolTip(names), "tooltip");
    QTEST(NotificationText(names, unread), "notification");
  }

  void theOptionsBoundTheHistory() {
    TSettings settings;
    QCOMPARE(settings.HistoryVersions, 100);
    QCOMPARE(settings.HistoryMegabytes, 500);
    settings.HistoryVersions = 7;
    settings.HistoryMegabytes = 3;
    TfrmOptions options(settings);
    QCOMPARE(options.spnVersions->value(), 7);
    QCOMPARE(options.spnMegaOctets->value(), 3);
    options.spnVersions->setValue(1);  // fewer than a link's latest two
    QCOMPARE(options.Settings().HistoryVersions, 2);
    QCOMPARE(options.Settings().HistoryBounds().MaxBytes, int64_t{3} << 20);
    QVERIFY(options.Settings().Save());
    QCOMPARE(TSettings::Load(), options.Settings());
    QVERIFY(TSettings().Save());
  }

  void deletingALinkDeletesItsHistory() {
    TSession session;
    WriteTable(session.DataFile(), AllFields(), {Marked("un", false, "24/05/01 \xe0 10:00")});
    {
      THistory history(THistory::FileFor(session.DataFile()), THistory::TOpen::Create);
      history.Add({{"un", "24/05/01 \xe0 10:00", "<p>maintenant</p>"}}, {});
    }
    session.Start();
    session.ClickRow("un");
    AnswerBox(nullptr, QMessageBox::Yes);
    session.Main().actSupprimer->trigger();
    QCOMPARE(session.Main().RowCount(), 0);
    session.Data().History.Flush();
    THistory history(THistory::FileFor(session.DataFile()), THistory::TOpen::ReadOnly);
    QVERIFY(history.Versions("un").empty());
  }

  void parsesTheLinkCommands_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<qint64>("version");
    const int refused = int(TMode::UsageError);
    QTest::newRow("list") << QStringList{"--list", "--data", "f"} << int(TMode::List) << QStringList{} << 0ll;
    QTest::newRow("mark all read") << QStringList{"--mark-read"} << int(TMode::MarkRead) << QStringList{} << 0ll;
    QTest::newRow("mark two read") << QStringList{"--mark-read", "a", "b"} << int(TMode::MarkRead)
                                   << QStringList{"a", "b"} << 0ll;
    QTest::newRow("history") << QStringList{"--history", "a"} << int(TMode::History) << QStringList{"a"} << 0ll;
    QTest::newRow("a version") << QStringList{"--version", "12", "--history", "a"} << int(TMode::History)
                               << QStringList{"a"} << 12ll;
    QTest::newRow("--version=") << QStringList{"--history", "a", "--version=3"} << int(TMode::History)
                                << QStringList{"a"} << 3ll;
    QTest::newRow("--version alone still tells the version")
        << QStringList{"--version"} << int(TMode::Version) << QStringList{} << 0ll;
    QTest::newRow("names with --list") << QStringList{"--list", "a"} << refused << QStringList{} << 0ll;
    QTest::newRow("history of two") << QStringList{"--history", "a", "b"} << refused << QStringList{} << 0ll;
    QTest::newRow("history of none") << QStringList{"--history"} << refused << QStringList{} << 0ll;
    QTest::newRow("version 0") << QStringList{"--history", "a", "--version", "0"} << refused << QStringList{}
                               << 0ll;
    QTest::newRow("version x") << QStringList{"--history", "a", "--version", "x"} << refused << QStringList{}
                               << 0ll;
    QTest::newRow("two commands") << QStringList{"--list", "--check"} << refused << QStringList{} << 0ll;
  }

  void parsesTheLinkCommands() {
    QFETCH(QStringList, arguments);
    std::vector<std::string> argv;
    for (const QString& argument : arguments) argv.push_back(argument.toStdString());
    const TCommandLine line = ParseCommandLine(argv);
    QTEST(int(line.Mode), "mode");
    if (line.Mode == TMode::UsageError) return;
    QStringList names;
    for (const std::string& name : line.Names) names << Q(name);
    QTEST(names, "names");
    QTEST(qint64(line.Version), "version");
  }

  void theCommandLineListsMarksAndShowsVersions() {
    NginxPeer nginx;
    if (!NginxPeer::Installed() || !nginx.Start()) QSKIP("nginx-light is needed (scripts/install-deps)");
    TTempDir dir;
    const QString data = Q(dir.DataFile());
    const std::string url = "127.0.0.1:" + std::to_string(nginx.Port()) + "/mairie.html";
    WriteLinks(dir.DataFile(), {{"Mairie \xc3\xa9t\xc3\xa9", url, "inconnue", "inconnue", kEtatJamais, ""},
                                {"autre", "127.0.0.1:1/x", "inconnue", "inconnue", kEtatJamais, ""}});
    const std::string v1 = "<p>conseil</p>", v2 = std::string("<p>conseil \xff\x00 lundi</p>\r\n", 26);
    nginx.WriteFile("/mairie.html", v1);
    QCOMPARE(RunProgram({"--check", "--data", data, "Mairie été"}).status, kExitAllChecked);
    // Sorted as the window sorts: "M" before "a".
    const QString mairie_first = RunProgram({"--list", "--data", data}).Lines().value(0);
    QVERIFY2(mairie_first.startsWith(QStringLiteral("Mairie été\t") + Q(url) + "\tChangements détectés\t"),
             qPrintable(mairie_first));
    QVERIFY2(mairie_first.endsWith("\t\t"), qPrintable(mairie_first));  // no mark after the first page

    nginx.WriteFile("/mairie.html", v2);
    QCOMPARE(RunProgram({"--check", "--data", data, "Mairie été"}).status, kExitAllChecked);
    const TRun listed = RunProgram({"--list", "--data", data});
    QCOMPARE(listed.status, kExitAllChecked);
    QCOMPARE(listed.Lines().size(), 2);
    QCOMPARE(listed.Lines()[1], QStringLiteral("autre\t127.0.0.1:1/x\tJamais mise à jour\t\t\t"));
    const QStringList fields = listed.Lines()[0].split('\t');
    QCOMPARE(fields.size(), 6);
    QCOMPARE(fields[3], DisplayChg(dir.DataFile(), "Mairie \xc3\xa9t\xc3\xa9"));
    QVERIFY(!fields[3].isEmpty());
    QCOMPARE(fields[4], QStringLiteral("non lu"));

    const TRun history = RunProgram({"--history", "Mairie été", "--data", data});
    QCOMPARE(history.status, kExitAllChecked);
    const QStringList versions = history.Lines();
    QCOMPARE(versions.size(), 2);
    QCOMPARE(versions[1].split('\t').value(0), QStringLiteral("2"));
    QCOMPARE(versions[1].split('\t').value(2), QString::number(v2.size()));
    QCOMPARE(versions[1].split('\t').value(3), Q(Sha256Hex(v2)));
    QCOMPARE(RunProgram({"--history", "Mairie été", "--version", "1", "--data", data}).out,
             QByteArray::fromStdString(v1));
    QCOMPARE(RunProgram({"--history", "Mairie été", "--version", "2", "--data", data}).out,
             QByteArray::fromStdString(v2));
    QCOMPARE(RunProgram({"--history", "Mairie été", "--version", "3", "--data", data}).status, kExitSomeFailed);
    QCOMPARE(RunProgram({"--history", "autre", "--data", data}).status, kExitSomeFailed);
    {
      // Read while a window holds the file.
      TSingleInstanceLock running(dir.DataFile() + ".lock");
      QCOMPARE(RunProgram({"--history", "Mairie été", "--data", data}).Lines(), versions);
    }

    QCOMPARE(RunProgram({"--mark-read", "--data", data, "absent"}).status, kExitSomeFailed);
    QCOMPARE(RunProgram({"--mark-read", "--data", data, "Mairie été"}).status, kExitAllChecked);
    QCOMPARE(RunProgram({"--list", "--data", data}).Lines().value(0).split('\t').value(4), QString());
    // Unchanged since: no mark comes back.
    QCOMPARE(RunProgram({"--check", "--data", data, "Mairie été"}).status, kExitAllChecked);
    QCOMPARE(ReadTable(dir.DataFile()).Value("Mairie \xc3\xa9t\xc3\xa9", kFieldNonLu), std::string());
  }

  void theLinkCommandsRefuseAMissingLockedOrDamagedFile() {
    TTempDir dir;
    const QString data = Q(dir.DataFile());
    for (const char* command : {"--list", "--mark-read"}) {
      const TRun run = RunProgram({command, "--data", data});
      QCOMPARE(run.status, kExitUsageOrFile);
      QVERIFY(!std::filesystem::exists(dir.DataFile()));
    }
    QCOMPARE(RunProgram({"--history", "x", "--data", data}).status, kExitUsageOrFile);

    WriteLinks(dir.DataFile(), {{"a", "example.org", "inconnue", "inconnue", kEtatJamais, ""}});
    {
      TSingleInstanceLock running(dir.DataFile() + ".lock");
      for (const char* command : {"--list", "--mark-read"}) {
        const TRun run = RunProgram({command, "--data", data});
        QCOMPARE(run.status, kExitUsageOrFile);
        QVERIFY2(run.err.contains(QStringLiteral("déjà en cours d'exécution")), qPrintable(run.err));
      }
    }
    const std::string damaged = "MLB pas du tout\n\x01\x02";
    WriteBytes(dir.DataFile(), damaged);
    for (const char* command : {"--list", "--mark-read"})
      QCOMPARE(RunProgram({command, "--data", data}).status, kExitUsageOrFile);
    QCOMPARE(ReadBytes(dir.DataFile()), damaged);
    WriteBytes(dir.DataFile() + ".history", std::string(3000, 'x'));
    QCOMPARE(RunProgram({"--history", "x", "--data", data}).status, kExitUsageOrFile);
  }

 private:
  // The names of the rows drawn in bold, sorted.
  static QStringList Bolds(TfrmMain& main) {
    struct TProbe : TEtatDelegate {
      using TEtatDelegate::initStyleOption;
      using TEtatDelegate::TEtatDelegate;
    } probe(TfrmMain::kColEtat, nullptr);
    QStringList names;
    const QAbstractItemModel* model = main.Grille->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      QStyleOptionViewItem item;
      item.initFrom(main.Grille);
      probe.initStyleOption(&item, model->index(row, TfrmMain::kColUrl));
      if (item.font.bold()) names << model->index(row, 0).data().toString();
    }
    names.sort();
    return names;
  }

  // `chg` of a link as the list shows it.
  static QString DisplayChg(const std::string& file, const std::string& nom) {
    return QString::fromLatin1(ReadTable(file).Value(nom, kFieldChg));
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestUnread)
#include "tst_Unread.moc"
