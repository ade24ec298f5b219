// The window while its checks run: the commands greyed and deaf, the status
// bar's text and progress bar, "Arrêter" and a close that stop a run at once
// and keep what it did, and the end of a run told with the links it found
// changed. Servers stand on several loopback addresses, one host each.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QToolBar>
#include <QTreeView>
#include <map>
#include <string>

#include "app/CheckRunner.h"
#include "app/uMain.h"
#include "tests/app/TestSupport.h"
#include "tests/support/ScriptedServer.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;

const char* const kJamais = "Jamais mise \xe0 jour";
const QString kEchec = QStringLiteral("Echec de la mise à jour");
const QString kChangements = QStringLiteral("Changements détectés");

std::string UrlOf(const ScriptedServer& server, const std::string& path) {
  return server.Address(path).substr(std::string("http://").size());
}

TRow Link(const std::string& nom, const std::string& url) {
  return {nom, url, "inconnue", "inconnue", kJamais};
}

// Answers "ok" to every request of a connection.
ScriptedServer::Script AnswerOk() {
  return ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
}

// Reads the request, then says nothing until the client goes.
void Silent(ScriptedConnection& connection, int) {
  connection.ReadRequest();
  connection.ClientClosedWithin(5000);
}

bool ToolEnabled(TfrmMain& main, QAction* action) {
  return action->isEnabled() && main.ToolButton(action)->isEnabled();
}

// The commands a check must keep from running.
QList<QAction*> EditCommands(TfrmMain& main) {
  return {main.actAjouter, main.actModifier, main.actSupprimer, main.actMettreAJour, main.actToutMettreAJour};
}

}  // namespace

class TestCheckRun : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void duringACheckTheCommandsAreGreyedAndClicksOnThemDoNothing() {
    ScriptedServer silent(Silent);
    TSession session(TLinks{Link("lent", UrlOf(silent, "/"))});
    session.Start();
    session.Data().CheckLimits.SilenceMs = 800;
    TfrmMain& main = session.Main();
    session.ClickRow("lent");
    session.ClickTool(main.actMettreAJour);

    QVERIFY(main.Checking());
    QCOMPARE(main.Status->currentMessage(), QStringLiteral(" Mise à jour en cours (lent) ..."));
    for (QAction* action : EditCommands(main))
      QVERIFY2(!ToolEnabled(main, action), qPrintable(action->text()));
    QVERIFY2(ToolEnabled(main, main.actArreter), "any check can be stopped");
    QVERIFY(ToolEnabled(main, main.actQuitter));
    QVERIFY(!main.Progression->isVisible());
    // Clicks a person makes meanwhile: every greyed command, and a double
    // click on the row (which modifies).
    for (QAction* action : EditCommands(main)) session.ClickTool(action);
    QTreeView* grille = main.Grille;
    DoubleClick(grille->viewport(), grille->visualRect(grille->model()->index(0, 0)).center());
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    QVERIFY(session.WaitForChecks());
    QTest::qWait(300);  // nothing held back comes out afterwards
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(silent.Connections(), 1);  // one check, not three
    QCOMPARE(main.RowCount(), 1);
    QCOMPARE(main.RowText(0, TfrmMain::kColEtat), kEchec);
    for (QAction* action : EditCommands(main))
      QVERIFY2(ToolEnabled(main, action), qPrintable(action->text()));
    QVERIFY(!ToolEnabled(main, main.actArreter));
    // The selected row's failure, in place of the check's text.
    QVERIFY2(main.Status->currentMessage().startsWith(QStringLiteral("Echec : ")),
             qPrintable(main.Status->currentMessage()));
  }

  void arreterStopsASingleCheckAtOnce() {
    ScriptedServer silent(Silent);
    TSession session(TLinks{Link("lent", UrlOf(silent, "/"))});
    session.Start();
    session.Data().CheckLimits.SilenceMs = 20000;  // only the stop can end it
    TfrmMain& main = session.Main();
    session.ClickRow("lent");
    session.ClickTool(main.actMettreAJour);
    QVERIFY(main.Checking());
    session.ClickTool(main.actArreter);
    QVERIFY(session.WaitForChecks(2000));
    QVERIFY(!ToolEnabled(main, main.actArreter));
  }

  void toutMettreAJourShowsItsProgressAndArreterStopsItAtOnce() {
    ScriptedServer fast(AnswerOk(), "127.0.0.1");
    ScriptedServer silent_one(Silent, "127.0.0.2");
    ScriptedServer silent_two(Silent, "127.0.0.3");
    TSession session(TLinks{Link("a", UrlOf(fast, "/a")), Link("b", UrlOf(fast, "/b")),
                            Link("c", UrlOf(fast, "/c")), Link("m1", UrlOf(silent_one, "/1")),
                            Link("m2", UrlOf(silent_one, "/2")), Link("m3", UrlOf(silent_two, "/3"))});
    session.Start();
    session.Data().CheckLimits.SilenceMs = 20000;  // only the stop can end these
    TfrmMain& main = session.Main();

    session.ClickTool(main.actToutMettreAJour);
    QVERIFY(main.Progression->isVisible());
    QCOMPARE(main.Progression->text(), QStringLiteral("0 / 6"));
    QVERIFY(ToolEnabled(main, main.actArreter));
    QVERIFY(QTest::qWaitFor([&] { return main.Runner().Done() == 3 && main.Runner().Fetching().size() == 2; },
                            5000));
    QTest::qWait(2 * TCheckRunner::kTickMs);
    QCOMPARE(main.Progression->text(), QStringLiteral("3 / 6"));
    QVERIFY2(main.Status->currentMessage().startsWith(QStringLiteral(" Mise à jour en cours (m")),
             qPrintable(main.Status->currentMessage()));

    QElapsedTimer timer;
    timer.start();
    session.ClickTool(main.actArreter);
    QVERIFY(session.WaitForChecks(1000));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!main.Progression->isVisible());
    QVERIFY(!ToolEnabled(main, main.actArreter));
    // Those that need a selected row stay greyed: none is selected.
    for (QAction* action : {main.actAjouter, main.actToutMettreAJour}) QVERIFY(ToolEnabled(main, action));
    for (QAction* action : {main.actModifier, main.actSupprimer, main.actMettreAJour})
      QVERIFY(!ToolEnabled(main, action));
    QVERIFY(main.Status->currentMessage().isEmpty());

    QTest::qWait(200);
    QCOMPARE(silent_one.Requests().size(), size_t(1));  // "m2" was never asked for
    const TStoredTable stored = ReadTable(session.DataFile());
    for (const char* name : {"a", "b", "c"}) {
      QCOMPARE(main.RowText(session.RowOf(name), TfrmMain::kColEtat), kChangements);
      QCOMPARE(stored.Value(name, kFieldEtat), std::string(kEtatChangements));
    }
    for (const char* name : {"m1", "m2", "m3"}) {
      // As if not checked.
      QCOMPARE(main.RowText(session.RowOf(name), TfrmMain::kColMaj), QStringLiteral("inconnue"));
      QCOMPARE(stored.Value(name, kFieldMaj), std::string("inconnue"));
      QCOMPARE(stored.Value(name, kFieldEtat), std::string(kJamais));
    }
  }

  void closingTheWindowDuringARunStopsItSavesAndCloses() {
    ScriptedServer fast(AnswerOk(), "127.0.0.1");
    ScriptedServer silent(Silent, "127.0.0.2");
    TSession session(TLinks{Link("a", UrlOf(fast, "/a")), Link("lent", UrlOf(silent, "/"))});
    session.Start();
    session.Data().CheckLimits.SilenceMs = 20000;
    TfrmMain& main = session.Main();
    session.ClickTool(main.actToutMettreAJour);
    QVERIFY(QTest::qWaitFor([&] { return main.Runner().Done() == 1; }, 5000));

    QElapsedTimer timer;
    timer.start();
    session.ClickTool(main.actQuitter);
    QVERIFY(QTest::qWaitFor([&] { return !main.isVisible(); }, 1000));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!main.Checking());
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Value("a", kFieldEtat), std::string(kEtatChangements));
    QCOMPARE(stored.Value("lent", kFieldMaj), std::string("inconnue"));
  }

  void theEndOfARunIsToldWithTheLinksFoundChanged() {
    ScriptedServer server([](ScriptedConnection& connection, int) {
      while (!connection.ReadRequest().empty())
        connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\npage");
    });
    TSession session(TLinks{{"neuf", UrlOf(server, "/1"), "inconnue", "inconnue", kJamais, ""},
                            {"pareil", UrlOf(server, "/2"), "inconnue", "inconnue", kJamais, "page"},
                            {"ailleurs", "127.0.0.1:1/", "inconnue", "inconnue", kJamais, ""}});
    session.Start();
    TfrmMain& main = session.Main();
    QSignalSpy finished(&main.Runner(), &TCheckRunner::RunFinished);
    session.ClickTool(main.actToutMettreAJour);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toStringList(), QStringList{"neuf"});
    QVERIFY(!main.Checking());
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestCheckRun)
#include "tst_CheckRun.moc"
