// Checks nobody asks for: the periodic timer (a due turn, a turn skipped
// while a run goes on), the settings kept under $XDG_CONFIG_HOME and read
// back by the next run, the « Options » dialog, and the main window driven
// by them against a real nginx.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <utility>

#include "app/AutoChecks.h"
#include "app/CheckRunner.h"
#include "app/PeriodicChecks.h"
#include "app/Settings.h"
#include "app/TextCodec.h"
#include "app/TrayIcon.h"
#include "app/uMain.h"
#include "app/uOptions.h"
#include "tests/app/TestSupport.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/ScriptedServer.h"
#include "watch/LinkRecord.h"

namespace veilex::test {
namespace {

using namespace std::chrono_literals;
using testing::NginxPeer;
using testing::ScriptedConnection;
using testing::ScriptedServer;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Answers the next « Options » dialog: the interval's entry, the box, then
// the button.
void AnswerOptions(int interval_index, bool notify, QPushButton* TfrmOptions::*button) {
  WhenModal([=](QWidget* modal) {
    auto* dialog = qobject_cast<TfrmOptions*>(modal);
    if (dialog == nullptr) {
      modal->close();
      return;
    }
    dialog->cbxVerifier->setCurrentIndex(interval_index);
    dialog->chkPrevenir->setChecked(notify);
    (dialog->*button)->click();
  });
}

}  // namespace

class TestPeriodicChecks : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Before anything reads settings: they go to a scratch place.
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
  }

  void init() {
    QFile::remove(TSettings::FileName());
    BeginModalChecks();
  }
  void cleanup() { EndModalChecks(); }

  void aDueTurnStartsARun() {
    int runs = 0;
    TPeriodicChecks periodic([] { return false; }, [&runs] { ++runs; });
    periodic.SetInterval(20ms);
    QTRY_VERIFY_WITH_TIMEOUT(runs >= 2, 2000);
    QCOMPARE(periodic.RunsStarted(), runs);
    QCOMPARE(periodic.TurnsSkipped(), 0);
  }

  void turnsDueDuringARunAreSkippedNotQueued() {
    // A run that holds the thread in a nested loop for many turns, as the
    // window's checks do.
    bool running = false;
    int runs = 0;
    TPeriodicChecks periodic([&running] { return running; },
                             [&] {
                               ++runs;
                               running = true;
                               QTest::qWait(200);
                               running = false;
                             });
    periodic.SetInterval(20ms);
    QTRY_VERIFY_WITH_TIMEOUT(runs >= 1, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!running, 2000);
    periodic.SetInterval(0ms);
    QCOMPARE(runs, 1);
    QVERIFY2(periodic.TurnsSkipped() >= 3, qPrintable(QString::number(periodic.TurnsSkipped())));
    // Nothing was kept for later.
    QTest::qWait(100);
    QCOMPARE(runs, 1);
  }

  void aZeroIntervalStopsTheTurns() {
    int runs = 0;
    TPeriodicChecks periodic([] { return false; }, [&runs] { ++runs; });
    periodic.SetInterval(10ms);
    periodic.SetInterval(0ms);
    QVERIFY(!periodic.Active());
    QTest::qWait(60);
    QCOMPARE(runs, 0);
  }

  void settingsLiveUnderXdgConfigHome() {
    QCOMPARE(TSettings::FileName(), config_.path() + QStringLiteral("/veilex/veilex.conf"));
    QCOMPARE(TSettings::Load(), TSettings());  // nothing stored yet: never, notify
    QVERIFY((TSettings{60, false}).Save());
    QVERIFY(QFile::exists(TSettings::FileName()));
    QCOMPARE(TSettings::Load(), (TSettings{60, false}));
  }

  void valuesTheProgramDoesNotOfferReadAsDefaults_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("interval");
    QTest::newRow("not offered") << QByteArray("intervalle_minutes=7\n") << 0;
    QTest::newRow("negative") << QByteArray("intervalle_minutes=-15\n") << 0;
    QTest::newRow("not a number") << QByteArray("intervalle_minutes=souvent\n") << 0;
    QTest::newRow("huge") << QByteArray("intervalle_minutes=99999999999999\n") << 0;
    QTest::newRow("offered") << QByteArray("intervalle_minutes=360\n") << 360;
  }
  void valuesTheProgramDoesNotOfferReadAsDefaults() {
    QFETCH(QByteArray, stored);
    QDir().mkpath(config_.path() + "/veilex");
    QFile file(TSettings::FileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[verification]\n" + stored);
    file.close();
    QTEST(TSettings::Load().IntervalMinutes, "interval");
  }

  void theOptionsDialogShowsAndReturnsTheSettings() {
    TfrmOptions dialog(TSettings{360, false});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Options"));
    QCOMPARE(dialog.lblVerifier->text(), QStringLiteral("Vérifier automatiquement"));
    QCOMPARE(dialog.chkPrevenir->text(), QStringLiteral("Prévenir quand une page change"));
    QStringList captions;
    for (int i = 0; i < dialog.cbxVerifier->count(); ++i) captions << dialog.cbxVerifier->itemText(i);
    QCOMPARE(captions, QStringList({"Jamais", "Toutes les 15 minutes", "Toutes les 30 minutes",
                                    "Toutes les heures", "Toutes les 6 heures", "Toutes les 24 heures"}));
    QCOMPARE(dialog.cbxVerifier->currentText(), QStringLiteral("Toutes les 6 heures"));
    QVERIFY(!dialog.chkPrevenir->isChecked());
    dialog.cbxVerifier->setCurrentIndex(3);
    dialog.chkPrevenir->setChecked(true);
    QCOMPARE(dialog.Settings(), (TSettings{60, true}));
  }

  void optionsChosenInTheWindowAreReadBackAfterARestart() {
    TSession session;
    session.Start();
    {
      TAutoChecks auto_checks(session.Main());
      QVERIFY(!auto_checks.Periodic().Active());
      QToolButton* button =
          session.Main().ToolButton(session.Main().actOptions);
      QVERIFY(button != nullptr);
      QCOMPARE(button->text(), QStringLiteral("Options..."));
      AnswerOptions(1, false, &TfrmOptions::btnOK);
      QTest::mouseClick(button, Qt::LeftButton);
      QCOMPARE(auto_checks.Settings(), (TSettings{15, false}));
      QCOMPARE(auto_checks.Periodic().Interval(), std::chrono::milliseconds(15min));
    }
    // The next run of the program.
    TAutoChecks restarted(session.Main());
    QCOMPARE(restarted.Settings(), (TSettings{15, false}));
    QVERIFY(restarted.Periodic().Active());
    QCOMPARE(restarted.Periodic().Interval(), std::chrono::milliseconds(15min));
  }

  void cancellingTheOptionsChangesNothing() {
    TSession session;
    session.Start();
    TAutoChecks auto_checks(session.Main());
    AnswerOptions(5, true, &TfrmOptions::btnAnnuler);
    session.Main().actOptions->trigger();
    QCOMPARE(auto_checks.Settings(), TSettings());
    QVERIFY(!QFile::exists(TSettings::FileName()));
  }

  void aDueTurnRunsToutMettreAJourInTheWindow() {
    NginxPeer nginx;
    if (!NginxPeer::Installed() || !nginx.Start()) QSKIP("nginx-light is needed (scripts/install-deps)");
    nginx.WriteFile("/page.html", "<p>bonjour</p>");
    const std::string url = "127.0.0.1:" + std::to_string(nginx.Port()) + "/page.html";
    TSession session({{"site", url, "inconnue", "inconnue", "Jamais mise \xe0 jour", ""}});
    session.Start();
    QVERIFY((TSettings{60, false}).Save());
    TAutoChecks auto_checks(session.Main());
    // Turns come every 60 ms: what the first one left is read as it ends,
    // before the next can overwrite it.
    bool first_ended = false;
    QStringList changed;
    QString stored_state;
    QString shown_state;
    connect(&session.Main().Runner(), &TCheckRunner::RunFinished, this, [&](const QStringList& names) {
      if (std::exchange(first_ended, true)) return;
      changed = names;
      stored_state = Q(ReadTable(session.DataFile()).Value("site", kFieldEtat));
      shown_state = session.Main().RowText(0, TfrmMain::kColEtat);
    });
    auto_checks.SetMinute(1ms);  // an hour is 60 ms
    QTRY_VERIFY_WITH_TIMEOUT(first_ended, 5000);
    QCOMPARE(stored_state, Q(kEtatChangements));
    QCOMPARE(shown_state, QStringLiteral("Changements détectés"));
    QCOMPARE(changed, QStringList({"site"}));
    QTRY_COMPARE_WITH_TIMEOUT(session.Main().RowText(0, TfrmMain::kColEtat),
                              QStringLiteral("Pas de changement"), 5000);
    QVERIFY(auto_checks.Periodic().RunsStarted() >= 2);
  }

  void aTurnDueWhileTheWindowChecksIsSkipped() {
    // A server that accepts and never answers holds the run for a while.
    ScriptedServer silent([](ScriptedConnection& connection, int) {
      connection.ReadRequest();
      connection.ClientClosedWithin(5000);
    });
    const std::string url = "127.0.0.1:" + std::to_string(silent.Port()) + "/";
    TSession session({{"lent", url, "inconnue", "inconnue", "Jamais mise \xe0 jour", ""}});
    session.Start();
    session.Data().CheckLimits.SilenceMs = 600;
    QVERIFY((TSettings{15, false}).Save());
    TAutoChecks auto_checks(session.Main());
    auto_checks.SetMinute(2ms);  // a turn every 30 ms
    QTRY_VERIFY_WITH_TIMEOUT(session.Main().Checking(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(auto_checks.Periodic().TurnsSkipped() >= 3, 2000);
    QCOMPARE(auto_checks.Periodic().RunsStarted(), 1);
    QVERIFY(session.Main().Checking());
    auto_checks.SetMinute(std::chrono::minutes(1));
    QVERIFY(session.WaitForChecks());
    QCOMPARE(Q(ReadTable(session.DataFile()).Value("lent", kFieldEtat)), Q(kEtatEchec));
  }

  void noTurnStartsUnderABoxThatDeletesALink() {
    ScriptedServer ok(ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    const std::string url = "127.0.0.1:" + std::to_string(ok.Port()) + "/";
    const char* jamais = "Jamais mise \xe0 jour";
    // "b" fails (no server names no host), "a" and "c" succeed.
    TSession session({{"a", url, "inconnue", "inconnue", jamais, ""},
                      {"b", "/sans-hote", "inconnue", "inconnue", jamais, ""},
                      {"c", url, "inconnue", "inconnue", jamais, ""}});
    session.Start();
    QVERIFY((TSettings{15, false}).Save());
    TAutoChecks auto_checks(session.Main());
    int runs_under_box = -1;
    TBoxSeen box;
    AnswerBox(&box, QMessageBox::Yes, [&] {
      auto_checks.SetMinute(2ms);  // a turn every 30 ms
      (void)QTest::qWaitFor([&] { return auto_checks.Periodic().TurnsSkipped() >= 2; }, 2000);
      runs_under_box = auto_checks.Periodic().RunsStarted();
    });
    session.ClickRow("a");
    session.ClickTool(session.Main().actSupprimer);
    QVERIFY(box.seen);
    QCOMPARE(runs_under_box, 0);
    QTRY_VERIFY_WITH_TIMEOUT(auto_checks.Periodic().RunsStarted() >= 1, 2000);
    auto_checks.SetMinute(std::chrono::minutes(1));
    QVERIFY(session.WaitForChecks());
    // Each row shows its own link's outcome.
    QCOMPARE(session.InternalNames(), QStringList({"b", "c"}));
    QCOMPARE(session.Main().RowText(0, TfrmMain::kColEtat), QStringLiteral("Echec de la mise à jour"));
    QVERIFY(session.Data().TrouverLien("c"));
    QCOMPARE(session.Main().RowText(1, TfrmMain::kColEtat), DisplayText(session.Data().Table.GetData(kFieldEtat)));
    QVERIFY(session.Main().RowText(1, TfrmMain::kColEtat) != QStringLiteral("Echec de la mise à jour"));
  }

  void closingHidesTheWindowOnlyWhenAskedAndQuitterStillCloses() {
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    int asked = 0;
    main.HideOnClose = [&asked] {
      ++asked;
      return true;
    };
    QVERIFY(!main.close());  // as the window manager's close button does
    QCOMPARE(asked, 1);
    QVERIFY(main.isHidden());
    main.show();
    main.actQuitter->trigger();
    QCOMPARE(asked, 1);
    QVERIFY(main.isHidden());
  }

  void withoutATrayClosingClosesEvenWithPeriodicChecks() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("this platform has a system tray");
    QVERIFY((TSettings{60, true}).Save());
    TSession session;
    session.Start();
    TAutoChecks auto_checks(session.Main());
    QVERIFY(!auto_checks.Tray().Available());
    QVERIFY(session.Main().close());
    QCOMPARE(auto_checks.Tray().ToolTip(), QStringLiteral("Veilex"));
  }

 private:
  QTemporaryDir config_;
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestPeriodicChecks)
#include "tst_PeriodicChecks.moc"
