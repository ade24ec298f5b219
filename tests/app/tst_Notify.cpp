// Desktop notifications: their texts, then the calls a notification service
// receives on a private session bus started by the test, after runs of the
// window and of `veilex --check --notify` that found changes or none.
#include <QProcess>
#include <QTest>
#include <QTextDocument>
#include <QTextDocumentFragment>

#include "app/AutoChecks.h"
#include "app/Notifier.h"
#include "app/Settings.h"
#include "app/TextCodec.h"
#include "app/TrayIcon.h"
#include "app/uMain.h"
#include "tests/app/NotificationBus.h"
#include "tests/app/TestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"
#include "tests/support/NginxPeer.h"

namespace veilex::test {
namespace {

using testing::NginxPeer;

std::string Url(int port, const std::string& path) { return "127.0.0.1:" + std::to_string(port) + path; }

TRow Link(const std::string& nom, const std::string& url) {
  return {nom, url, "inconnue", "inconnue", "Jamais mise \xe0 jour", ""};
}

QStringList Bodies(const std::vector<TNotifyCall>& calls) {
  QStringList bodies;
  for (const TNotifyCall& call : calls) bodies << call.body;
  return bodies;
}

// Waits until the service has seen `count` calls, then a little more so
// that a call too many would show.
std::vector<TNotifyCall> CallsOnceThere(const TPrivateBus& bus, size_t count) {
  QElapsedTimer clock;
  clock.start();
  while (bus.Calls().size() < count && clock.elapsed() < 5000) QTest::qWait(10);
  QTest::qWait(100);
  return bus.Calls();
}

}  // namespace

class TestNotify : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    QVERIFY2(bus_.Start(), qPrintable(bus_.Error()));
    // Before anything opens the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus_.Address().toUtf8());
    QVERIFY2(bus_.RegisterService(), qPrintable(bus_.Error()));
    nginx_ok_ = NginxPeer::Installed() && nginx_.Start();
  }

  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void theTextNamesThePagesAndShortensLongLists_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << QStringList{} << QString();
    QTest::newRow("one") << QStringList{"Mairie"} << QStringLiteral("1 page a changé : Mairie");
    QTest::newRow("two") << QStringList{"Mairie", "Recettes"}
                         << QStringLiteral("2 pages ont changé : Mairie, Recettes");
    QTest::newRow("six, all shown") << QStringList{"a", "b", "c", "d", "e", "f"}
                                    << QStringLiteral("6 pages ont changé : a, b, c, d, e, f");
    QTest::newRow("eight") << QStringList{"a", "b", "c", "d", "e", "f", "g", "h"}
                           << QStringLiteral("8 pages ont changé : a, b, c, d, e … et 3 autres");
  }
  void theTextNamesThePagesAndShortensLongLists() {
    QFETCH(QStringList, names);
    QTEST(ChangedPagesText(names), "text");
  }

  void theTrayToolTipCountsTheUnreadPages() {
    QCOMPARE(TrayToolTip({}), QStringLiteral("Veilex"));
    QCOMPARE(TrayToolTip({"Mairie", "Recettes"}),
             QStringLiteral("Veilex – 2 pages non lues : Mairie, Recettes"));
  }

  // Names are the user's text: « & » and « < » show as they are, never as
  // markup, in the notification and the tray's tooltip.
  void namesAreShownAsTextNeverAsMarkup() {
    const QStringList names = {"Courses & <b>prix</b>", "<img src=\"/etc/x.png\">"};
    const size_t before = bus_.Calls().size();
    NotifyChangedPages(names, TNotifyWait::UntilDelivered);
    const std::vector<TNotifyCall> calls = CallsOnceThere(bus_, before + 1);
    QCOMPARE(calls.size(), before + 1);
    QCOMPARE(calls.back().body, QStringLiteral("2 pages ont changé : Courses &amp; &lt;b&gt;prix&lt;/b&gt;, "
                                               "&lt;img src=&quot;/etc/x.png&quot;&gt;"));
    const QString tip = ToolTipText(TrayToolTip(names));
    QVERIFY(Qt::mightBeRichText(tip));
    QCOMPARE(QTextDocumentFragment::fromHtml(tip).toPlainText(), TrayToolTip(names));
  }

  // The window: one notification after a run that marked links unread, none
  // after one that did not (nothing changed, or only links unread already),
  // none when the user turned them off.
  void aWindowRunNotifiesOnlyOfNewlyUnreadLinks() {
    if (!nginx_ok_) QSKIP("nginx-light is needed (scripts/install-deps)");
    nginx_.WriteFile("/mairie.html", "v1");
    nginx_.WriteFile("/recettes.html", "r1");
    const size_t before = bus_.Calls().size();
    TSession session({Link("Mairie", Url(nginx_.Port(), "/mairie.html")),
                      Link("Recettes", Url(nginx_.Port(), "/recettes.html"))});
    session.Start();
    // Both checked before, with another page then.
    for (const char* name : {"Mairie", "Recettes"}) {
      QVERIFY(session.Data().TrouverLien(name));
      session.Data().Table.SetData(kFieldPage, "avant");
      session.Data().Table.SetData(kFieldChg, "24/05/01 \xe0 10:00");
    }
    TAutoChecks auto_checks(session.Main());
    QVERIFY(auto_checks.Settings().NotifyChanges);

    session.ClickTool(session.Main().actToutMettreAJour);  // both changed
    QVERIFY(session.WaitForChecks());
    std::vector<TNotifyCall> calls = CallsOnceThere(bus_, before + 1);
    QCOMPARE(calls.size(), before + 1);
    const TNotifyCall& call = calls.back();
    QCOMPARE(call.app_name, QStringLiteral("Veilex"));
    QCOMPARE(call.replaces_id, 0u);
    QCOMPARE(call.app_icon, QStringLiteral("veilex"));
    QCOMPARE(call.summary, QStringLiteral("Veilex"));
    QCOMPARE(call.body, QStringLiteral("2 pages ont changé : Mairie, Recettes"));
    QVERIFY(call.actions.isEmpty());
    QVERIFY(call.hints.isEmpty());
    QCOMPARE(call.expire_timeout, -1);
    QCOMPARE(auto_checks.Tray().ToolTip(), QStringLiteral("Veilex – 2 pages non lues : Mairie, Recettes"));

    session.ClickTool(session.Main().actToutMettreAJour);  // nothing changed: still unread
    QVERIFY(session.WaitForChecks());
    QCOMPARE(auto_checks.Tray().ToolTip(), QStringLiteral("Veilex – 2 pages non lues : Mairie, Recettes"));
    session.Main().actToutMarquerLu->trigger();
    QCOMPARE(auto_checks.Tray().ToolTip(), QStringLiteral("Veilex"));
    QTest::qWait(200);
    // A later run's notification comes after anything the quiet run sent,
    // on the same connection: none may stand between them.
    nginx_.WriteFile("/recettes.html", "r2");
    session.ClickTool(session.Main().actToutMettreAJour);
    QVERIFY(session.WaitForChecks());
    calls = CallsOnceThere(bus_, before + 2);
    QCOMPARE(Bodies(calls).mid(int(before)),
             QStringList({"2 pages ont changé : Mairie, Recettes", "1 page a changé : Recettes"}));

    QVERIFY(auto_checks.SetSettings(TSettings{0, false}));
    nginx_.WriteFile("/mairie.html", "v2");
    session.ClickTool(session.Main().actToutMettreAJour);
    QVERIFY(session.WaitForChecks());
    QVERIFY(auto_checks.SetSettings(TSettings{0, true}));
    session.ClickRow("Mairie");
    nginx_.WriteFile("/mairie.html", "v3");
    session.ClickTool(session.Main().actMettreAJour);  // unread already: no news
    QVERIFY(session.WaitForChecks());
    session.Main().actMarquerLu->trigger();
    nginx_.WriteFile("/mairie.html", "v4");
    session.ClickTool(session.Main().actMettreAJour);
    QVERIFY(session.WaitForChecks());
    calls = CallsOnceThere(bus_, before + 3);
    QCOMPARE(Bodies(calls).mid(int(before)),
             QStringList({"2 pages ont changé : Mairie, Recettes", "1 page a changé : Recettes",
                          "1 page a changé : Mairie\n2 pages non lues en tout"}));
  }

  // `veilex --check` tells the desktop only when asked with --notify.
  void theCommandLineNotifiesOnlyWithNotify() {
    if (!nginx_ok_) QSKIP("nginx-light is needed (scripts/install-deps)");
    nginx_.WriteFile("/cli.html", "c1");
    TTempDir dir;
    WriteLinks(dir.DataFile(), {Link("Mairie", Url(nginx_.Port(), "/cli.html"))});
    const size_t before = bus_.Calls().size();
    auto run = [&](const QStringList& arguments) {
      QProcess process;
      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
      environment.remove("DISPLAY");
      environment.insert("LSAN_OPTIONS", "print_suppressions=0:suppressions=" VEILEX_LSAN_QT_SUPPRESSIONS);
      process.setProcessEnvironment(environment);
      process.start(QStringLiteral(VEILEX_EXECUTABLE), arguments);
      if (!process.waitForFinished(60000)) process.kill();
      return process.exitCode();
    };
    QCOMPARE(run({"--check", "--data", QString::fromStdString(dir.DataFile())}), 0);  // changed, not asked
    nginx_.WriteFile("/cli.html", "c2");
    QCOMPARE(run({"--check", "--notify", "--data", QString::fromStdString(dir.DataFile())}), 0);
    QCOMPARE(run({"--check", "--notify", "--data", QString::fromStdString(dir.DataFile())}), 0);  // unchanged
    const std::vector<TNotifyCall> calls = CallsOnceThere(bus_, before + 1);
    QCOMPARE(Bodies(calls).mid(int(before)), QStringList({"1 page a changé : Mairie"}));
    QCOMPARE(calls.back().summary, QStringLiteral("Veilex"));
  }

 private:
  QTemporaryDir config_;
  TPrivateBus bus_;
  NginxPeer nginx_;
  bool nginx_ok_ = false;
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestNotify)
#include "tst_Notify.moc"
