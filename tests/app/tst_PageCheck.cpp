// The page checks of the main window, end to end: "Mettre à jour" and "Tout
// mettre à jour" against a real nginx and scripted servers on loopback, with
// the list row, the status bar and the data file read back.
#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/LinkReason.h"
#include "app/uMain.h"
#include "app/uURL.h"
#include "tests/app/TestSupport.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TlsTestPeer.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

using testing::NginxPeer;
using testing::ScriptedConnection;
using testing::ScriptedServer;

const QString kChangements = QStringLiteral("Changements détectés");
const QString kPasDeChangement = QStringLiteral("Pas de changement");
const QString kEchec = QStringLiteral("Echec de la mise à jour");
const QRegularExpression kDateText(QStringLiteral("^\\d\\d/\\d\\d/\\d\\d à \\d\\d:\\d\\d$"));

std::string Url(int port, const std::string& path) { return "127.0.0.1:" + std::to_string(port) + path; }

// A link as the dialog stores it, or with the values of an earlier check.
TRow Link(const std::string& nom, const std::string& url, const std::string& majok = "inconnue",
          const std::string& etat = "Jamais mise \xe0 jour", const std::string& page = "") {
  return {nom, url, majok, "inconnue", etat, page};
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

class TestPageCheck : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!NginxPeer::Installed() || !nginx_.Start()) QSKIP("nginx-light is needed (scripts/install-deps)");
  }
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void aPageCheckedTwiceIsChangedThenUnchanged() {
    nginx_.WriteFile("/page.html", "<p>bonjour</p>");
    TSession session(TLinks{Link("site", Url(nginx_.Port(), "/page.html"))});
    session.Start();
    TfrmMain& main = session.Main();
    session.ClickRow(QStringLiteral("site"));
    session.ClickTool(main.actMettreAJour);
    QVERIFY(session.WaitForChecks());

    const int row = session.RowOf(QStringLiteral("site"));
    QCOMPARE(main.RowText(row, TfrmMain::kColEtat), kChangements);
    const QString date = main.RowText(row, TfrmMain::kColMaj);
    QVERIFY2(kDateText.match(date).hasMatch(), qPrintable(date));
    QCOMPARE(main.RowText(row, TfrmMain::kColMajOk), date);
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Value("site", kFieldPage), std::string("<p>bonjour</p>"));
    QCOMPARE(stored.Value("site", kFieldEtat), std::string(kEtatChangements));
    QCOMPARE(QString::fromLatin1(stored.Value("site", kFieldMaj)), date);

    session.ClickTool(main.actMettreAJour);
    QVERIFY(session.WaitForChecks());
    QCOMPARE(main.RowText(row, TfrmMain::kColEtat), kPasDeChangement);
    QCOMPARE(ReadTable(session.DataFile()).Value("site", kFieldEtat), std::string(kEtatPasDeChangement));
    QVERIFY(main.Status->currentMessage().isEmpty());
  }

  void aFailureShowsTheAttemptAndKeepsTheLastSuccess() {
    TSession session(TLinks{
        Link("absent", Url(nginx_.Port(), "/absent.html"), "01/02/03 \xe0 04:05", "Pas de changement",
             "avant"),
        Link("ailleurs", Url(nginx_.Port(), "/moved"), "01/02/03 \xe0 04:05", "Pas de changement", "avant")});
    session.Start();
    TfrmMain& main = session.Main();
    for (const QString& name : {QStringLiteral("absent"), QStringLiteral("ailleurs")}) {
      session.ClickRow(name);
      session.ClickTool(main.actMettreAJour);
      QVERIFY(session.WaitForChecks());
    QVERIFY(session.WaitForChecks());
      const int row = session.RowOf(name);
      QCOMPARE(main.RowText(row, TfrmMain::kColEtat), kEchec);
      QVERIFY(kDateText.match(main.RowText(row, TfrmMain::kColMaj)).hasMatch());
      QCOMPARE(main.RowText(row, TfrmMain::kColMajOk), QStringLiteral("01/02/03 à 04:05"));
      const TStoredTable stored = ReadTable(session.DataFile());
      QCOMPARE(stored.Value(name.toStdString(), kFieldPage), std::string("avant"));
      QCOMPARE(stored.Value(name.toStdString(), kFieldEtat), std::string(kEtatEchec));
    }
  }

  void aFailuresReasonIsTheRowsTooltipAndShownWhileItIsSelected() {
    nginx_.WriteFile("/present.html", "ici");
    TSession session(TLinks{Link("absent", Url(nginx_.Port(), "/absent.html")),
                            Link("present", Url(nginx_.Port(), "/present.html"))});
    session.Start();
    TfrmMain& main = session.Main();
    const QString reason = QStringLiteral("Réponse 404 Not Found");
    for (const QString& name : {QStringLiteral("present"), QStringLiteral("absent")}) {
      session.ClickRow(name);
      session.ClickTool(main.actMettreAJour);
      QVERIFY(session.WaitForChecks());
    }
    const QAbstractItemModel* shown = main.Grille->model();
    const auto tip = [&](const QString& name, int column) {
      for (int row = 0; row < shown->rowCount(); ++row) {
        if (shown->index(row, 0).data().toString() == name)
          return RowReason(shown->index(row, column));
      }
      return QStringLiteral("no row");
    };
    QCOMPARE(tip(QStringLiteral("absent"), TfrmMain::kColEtat), reason);
    // The address cell's tooltip shows the whole address above the reason.
    const auto url_tip = [&](const QString& name) {
      for (int row = 0; row < shown->rowCount(); ++row) {
        if (shown->index(row, 0).data().toString() == name)
          return shown->index(row, TfrmMain::kColUrl).data(Qt::ToolTipRole).toString();
      }
      return QStringLiteral("no row");
    };
    const QString absent = url_tip(QStringLiteral("absent"));
    const qsizetype address_at = absent.indexOf(QStringLiteral("/absent.html"));
    QVERIFY2(address_at >= 0 && absent.indexOf(reason) > address_at, qPrintable(absent));
    QCOMPARE(tip(QStringLiteral("present"), TfrmMain::kColEtat), QString());
    // The row just checked is the selected one.
    QCOMPARE(main.Status->currentMessage(), QStringLiteral("Echec : ") + reason);
    session.ClickRow(QStringLiteral("present"));
    QVERIFY(main.Status->currentMessage().isEmpty());
    session.ClickRow(QStringLiteral("absent"));
    QCOMPARE(main.Status->currentMessage(), QStringLiteral("Echec : ") + reason);
    QCOMPARE(ReadTable(session.DataFile()).Value("absent", kFieldRaison), reason.toStdString());

    // The next start shows it again, from the file.
    session.Stop();
    TSession again(TLinks{});
    std::filesystem::copy_file(session.DataFile(), again.DataFile());
    again.Start();
    const QAbstractItemModel* reloaded = again.Main().Grille->model();
    bool found = false;
    for (int row = 0; row < reloaded->rowCount(); ++row) {
      if (reloaded->index(row, 0).data().toString() != QStringLiteral("absent")) continue;
      QCOMPARE(RowReason(reloaded->index(row, TfrmMain::kColEtat)), reason);
      found = true;
    }
    QVERIFY(found);
  }

  void aReasonWithAccentsReadsTheSameInTheWindowAndTheFile() {
    TSession session(TLinks{Link("Caf\xe9", "[caf\xe9]/")});  // ISO 8859-1, as older files hold
    session.Start();
    session.ClickRow(QStringLiteral("Café"));
    session.ClickTool(session.Main().actMettreAJour);
    QVERIFY(session.WaitForChecks());
    const QString reason = QStringLiteral("Adresse IPv6 incorrecte : [café]");
    QCOMPARE(RowReason(session.Main().Grille->model()->index(0, TfrmMain::kColEtat)), reason);
    QCOMPARE(session.Main().Status->currentMessage(), QStringLiteral("Echec : ") + reason);
    QCOMPARE(ReadTable(session.DataFile()).Value("Caf\xe9", kFieldRaison), reason.toStdString());
  }

  void anHttpsLinkAddedThroughTheDialogIsChecked() {
    const CaFiles& ca = AuthorityFiles();
    qputenv("SSL_CERT_FILE", QByteArray::fromStdString(ca.CaCert));
    NginxPeer tls;
    tls.EnableTls(ca.GoodCert, ca.GoodKey);
    tls.WriteFile("/page.html", "<p>s\xc3\xbbr</p>");
    QVERIFY2(tls.Start(), tls.Error().c_str());
    const QString typed = QString::fromStdString(tls.TlsAddress("/page.html"));
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    WhenModal([&](QWidget* modal) {
      auto* dialog = qobject_cast<TfrmURL*>(modal);
      QVERIFY(dialog != nullptr);
      Type(dialog->edtNom, "chiffré");
      Type(dialog->edtURL, typed);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(main.actAjouter);
    QCOMPARE(ReadTable(session.DataFile()).Value("chiffr\xc3\xa9", kFieldUrl), typed.toStdString());
    session.ClickTool(main.actMettreAJour);  // the new link is selected
    QVERIFY(session.WaitForChecks());
    const int row = session.RowOf(QStringLiteral("chiffré"));
    QCOMPARE(main.RowText(row, TfrmMain::kColEtat), kChangements);
    QCOMPARE(ReadTable(session.DataFile()).Value("chiffr\xc3\xa9", kFieldPage),
             std::string("<p>s\xc3\xbbr</p>"));
    qunsetenv("SSL_CERT_FILE");
  }

  void mettreAJourWithoutASelectionOnlySaysSo() {
    TSession session(TLinks{Link("site", Url(nginx_.Port(), "/page.html"))});
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    // Greyed: its button does nothing; the command run all the same says so.
    QVERIFY(!session.Main().actMettreAJour->isEnabled());
    session.ClickTool(session.Main().actMettreAJour);
    TBoxSeen seen;
    AnswerBox(&seen);
    session.Main().actMettreAJourExecute();
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Erreur"));
    QCOMPARE(seen.text, QStringLiteral("Rien à mettre à jour."));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(ReadBytes(session.DataFile()), before);
    QCOMPARE(session.Main().RowText(0, TfrmMain::kColMaj), QStringLiteral("inconnue"));
    QVERIFY(session.Main().Status->currentMessage().isEmpty());
  }

  void aRowWhoseLinkVanishedIsSkipped() {
    TSession session(TLinks{Link("site", Url(nginx_.Port(), "/page.html"))});
    session.Start();
    // The table loses the link behind the list's back.
    QVERIFY(session.Data().TrouverLien("site"));
    session.Data().Table.Delete();
    const std::string before = ReadBytes(session.DataFile());
    session.ClickRow(QStringLiteral("site"));
    session.ClickTool(session.Main().actMettreAJour);
    QVERIFY(session.WaitForChecks());
    QCOMPARE(ReadBytes(session.DataFile()), before);
    QCOMPARE(session.Main().RowText(0, TfrmMain::kColMaj), QStringLiteral("inconnue"));
    QCOMPARE(session.Main().RowText(0, TfrmMain::kColEtat), QStringLiteral("Jamais mise à jour"));
    QVERIFY(session.Main().Status->currentMessage().isEmpty());
  }

  void toutMettreAJourFollowsTheListsInternalOrderPastAFailure() {
    ScriptedServer server(ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    const int port = server.Port();
    TSession session(
        TLinks{Link("a", Url(testing::UnusedLoopbackPort(), "/a")), Link("C", Url(port, "/C")), Link("B", Url(port, "/B"))});
    session.Start();
    TfrmMain& main = session.Main();
    // A link added during the run comes last in the internal order, though
    // it is shown first.
    WhenModal([port](QWidget* modal) {
      auto* dialog = qobject_cast<TfrmURL*>(modal);
      QVERIFY(dialog != nullptr);
      dialog->edtNom->setText(QStringLiteral("A"));
      dialog->edtURL->setText(QString::fromStdString(Url(port, "/A")));
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(main.actAjouter);
    QCOMPARE(session.ShownNames(), QStringList({"A", "B", "C", "a"}));
    QCOMPARE(session.InternalNames(), QStringList({"B", "C", "a", "A"}));

    session.ClickTool(main.actToutMettreAJour);
    QVERIFY(session.WaitForChecks());
    QStringList paths;
    for (const std::string& request : server.Requests())
      paths << QString::fromStdString(request.substr(4, 2));
    QCOMPARE(paths, QStringList({"/B", "/C", "/A"}));
    QCOMPARE(main.RowText(session.RowOf("a"), TfrmMain::kColEtat), kEchec);
    const TStoredTable stored = ReadTable(session.DataFile());
    for (const char* name : {"A", "B", "C"}) {
      QCOMPARE(main.RowText(session.RowOf(name), TfrmMain::kColEtat), kChangements);
      QCOMPARE(stored.Value(name, kFieldPage), std::string("ok"));
    }
    QCOMPARE(stored.Value("a", kFieldEtat), std::string(kEtatEchec));
    QVERIFY(main.Status->currentMessage().isEmpty());
  }

  void toutMettreAJourWarnsOnceWhenTheFileCannotBeWritten() {
    ScriptedServer server(ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    const int port = server.Port();
    TSession session(
        TLinks{Link("a", Url(port, "/a")), Link("b", Url(port, "/b")), Link("c", Url(port, "/c"))});
    session.warn_like_the_program = true;
    session.Start();
    const std::string directory = session.Dir().Path();
    const std::string away = directory.substr(0, directory.size() - 1) + "-away";
    std::filesystem::rename(directory, away);  // nothing can be written there now
    TBoxSeen warning;
    AnswerBox(&warning);
    session.ClickTool(session.Main().actToutMettreAJour);
    QVERIFY(session.WaitForChecks());
    std::filesystem::rename(away, directory);
    QCOMPARE(server.Requests().size(), size_t(3));  // every link was still checked
    QCOMPARE(session.save_errors, 1);
    QVERIFY(warning.seen);
    // The next failure outside the run is told again.
    std::filesystem::rename(directory, away);
    TBoxSeen again;
    AnswerBox(&again);
    session.ClickRow("a");
    session.ClickTool(session.Main().actMettreAJour);
    QVERIFY(session.WaitForChecks());
    std::filesystem::rename(away, directory);
    QVERIFY(again.seen);
    QCOMPARE(session.save_errors, 2);
  }

  void toutMettreAJourOnAnEmptyListDoesNothing() {
    TSession session;
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    session.ClickTool(session.Main().actToutMettreAJour);
    QVERIFY(!session.Main().Checking());
    QCOMPARE(ReadBytes(session.DataFile()), before);
    QCOMPARE(session.Main().RowCount(), 0);
    QVERIFY(session.Main().Status->currentMessage().isEmpty());
  }

  void aSilentServerEndsAsEchecWhileTheWindowKeepsPainting() {
    ScriptedServer silent([](ScriptedConnection& connection, int) {
      connection.ReadRequest();
      connection.ClientClosedWithin(5000);
    });
    nginx_.WriteFile("/autre.html", "autre");
    TSession session(
        TLinks{Link("lent", Url(silent.Port(), "/")), Link("autre", Url(nginx_.Port(), "/autre.html"))});
    session.Start();
    session.Data().CheckLimits.SilenceMs = 1000;
    TfrmMain& main = session.Main();
    PaintCounter status_paints(main.Status);

    // What the window does while the first link waits for its server.
    QString status_during;
    QString maj_during;
    int paints_during = -1;
    QTimer::singleShot(300, [&] {
      status_during = main.Status->currentMessage();
      maj_during = main.RowText(session.RowOf("lent"), TfrmMain::kColMaj);
      status_paints.paints = 0;
      main.Status->update();
      // A second run cannot cut into this one.
      main.actToutMettreAJourExecute();
    });
    QTimer::singleShot(600, [&] { paints_during = status_paints.paints; });

    QElapsedTimer timer;
    timer.start();
    session.ClickTool(main.actToutMettreAJour);
    QVERIFY(main.Checking());
    QVERIFY(session.WaitForChecks());
    const qint64 waited = timer.elapsed();

    QCOMPARE(status_during, QStringLiteral(" Mise à jour en cours (lent) ..."));
    QCOMPARE(maj_during, QStringLiteral("inconnue"));  // written once the check is done
    QVERIFY2(paints_during > 0, "the status bar was repainted during the fetch");
    QVERIFY2(waited >= 900 && waited < 4000, qPrintable(QString::number(waited)));
    QCOMPARE(main.RowText(session.RowOf("lent"), TfrmMain::kColEtat), kEchec);
    QVERIFY(kDateText.match(main.RowText(session.RowOf("lent"), TfrmMain::kColMaj)).hasMatch());
    QCOMPARE(main.RowText(session.RowOf("autre"), TfrmMain::kColEtat), kChangements);
    QCOMPARE(silent.Connections(), 1);
    QVERIFY(main.Status->currentMessage().isEmpty());
  }

 private:
  NginxPeer nginx_;
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestPageCheck)
#include "tst_PageCheck.moc"
