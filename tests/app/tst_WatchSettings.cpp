// What a link watches, in the link dialog: the four settings stored and shown
// again, a part or a rule that cannot be used refused with the dialog left
// open, « Tester » showing the text a check would compare, « Apprendre le
// bruit » placing its rules in the field. The pages come from a scripted
// server on loopback.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/WatchSettingsBox.h"
#include "app/uMain.h"
#include "app/uURL.h"
#include "tests/app/TestSupport.h"
#include "tests/support/NoisyPage.h"
#include "tests/support/ScriptedServer.h"
#include "watch/LinkRecord.h"

namespace veilex::test {
namespace {

using testing::ScriptedServer;

void WhenDialog(std::function<void(TfrmURL*, TWatchSettingsBox*)> steps) {
  WhenModal([steps](QWidget* modal) {
    auto* dialog = qobject_cast<TfrmURL*>(modal);
    if (dialog == nullptr) QFAIL("the link dialog did not open");
    steps(dialog, dialog->boxSurveillance);
  });
}

TRow Link(const std::string& nom, const std::string& url) {
  return {nom, url, "inconnue", "inconnue", "Jamais mise \xe0 jour", ""};
}

std::string UrlOf(const ScriptedServer& server) { return server.Address("/").substr(std::string("http://").size()); }

// Opens the dialog on `nom` (or a new link when empty) and runs `steps` in it.
void OpenDialog(TSession& session, const QString& nom, std::function<void(TfrmURL*, TWatchSettingsBox*)> steps) {
  WhenDialog(std::move(steps));
  if (nom.isEmpty()) {
    session.ClickTool(session.Main().actAjouter);
  } else {
    session.ClickRow(nom);
    session.ClickTool(session.Main().actModifier);
  }
}

}  // namespace

class TestWatchSettings : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void theSettingsAreStoredAndShownAgain() {
    TSession session(TLinks{Link("Ancien", "old.example.org")});
    session.Start();
    OpenDialog(session, "", [](TfrmURL* dialog, TWatchSettingsBox* box) {
      QCOMPARE(box->cmbMode->currentText(), QStringLiteral("texte"));  // a new link compares text
      Type(dialog->edtNom, "Nouveau");
      Type(dialog->edtURL, "example.org/page");
      box->cmbMode->setCurrentIndex(box->cmbMode->findText(QStringLiteral("source")));
      Type(box->edtPartie, "div.news > p, #prix");
      box->edtIgnorer->setPlainText(QStringLiteral("Visiteurs\n/^\\d+ vues$/\n"));
      QTest::keyClick(box->chkAjouts, Qt::Key_Space);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Value("Nouveau", kFieldMode), std::string(kModeSource));
    QCOMPARE(stored.Value("Nouveau", kFieldPartie), std::string("div.news > p, #prix"));
    QCOMPARE(stored.Value("Nouveau", kFieldIgnorer), std::string("Visiteurs\n/^\\d+ vues$/\n"));
    QCOMPARE(stored.Value("Nouveau", kFieldAjouts), std::string(kOui));
    QCOMPARE(stored.Value("Ancien", kFieldMode), std::string());

    bool shown = false;
    OpenDialog(session, "Nouveau", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      shown = box->cmbMode->currentText() == "source" && box->edtPartie->text() == "div.news > p, #prix" &&
              box->edtIgnorer->toPlainText() == "Visiteurs\n/^\\d+ vues$/\n" && box->chkAjouts->isChecked();
      box->cmbMode->setCurrentIndex(box->cmbMode->findText(QStringLiteral("texte")));
      QTest::keyClick(box->chkAjouts, Qt::Key_Space);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    QVERIFY(shown);
    const TStoredTable again = ReadTable(session.DataFile());
    QCOMPARE(again.Value("Nouveau", kFieldMode), std::string(kModeTexte));
    QCOMPARE(again.Value("Nouveau", kFieldAjouts), std::string());
    QCOMPARE(again.Value("Nouveau", kFieldPartie), std::string("div.news > p, #prix"));

    // A link of a file written before these settings compares its bytes.
    bool source = false;
    OpenDialog(session, "Ancien", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      source = box->cmbMode->currentText() == "source" && box->edtPartie->text().isEmpty() &&
               !box->chkAjouts->isChecked();
      QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
    });
    QVERIFY(source);
  }

  void aPartOrARuleThatCannotBeUsedIsRefused_data() {
    QTest::addColumn<QString>("partie");
    QTest::addColumn<QString>("ignorer");
    QTest::newRow("selector") << "div[" << "";
    QTest::newRow("expression") << "" << "Visiteurs\n/(/\n";
  }

  void aPartOrARuleThatCannotBeUsedIsRefused() {
    QFETCH(QString, partie);
    QFETCH(QString, ignorer);
    TSession session(TLinks{Link("Site", "example.org")});
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    TBoxSeen refusal;
    bool still_open = false;
    OpenDialog(session, "Site", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      box->edtPartie->setText(partie);
      box->edtIgnorer->setPlainText(ignorer);
      AnswerBox(&refusal, QMessageBox::Ok, [&, dialog, box] {
        WhenModal([&, dialog, box](QWidget* modal) {
          still_open = modal == dialog && box->edtPartie->text() == partie;
          QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
        });
      });
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    QVERIFY(refusal.seen);
    QCOMPARE(refusal.title, QStringLiteral("Erreur"));
    QVERIFY2(refusal.text.startsWith(QStringLiteral("Impossible de poursuivre :\r")) &&
                 refusal.text.size() > QStringLiteral("Impossible de poursuivre :\r").size(),
             qPrintable(refusal.text));
    QVERIFY(still_open);
    QCOMPARE(ReadBytes(session.DataFile()), before);
  }

  void testerShowsTheTextThatWouldBeCompared() {
    ScriptedServer server(testing::ServeNoisyPage());
    TSession session(TLinks{Link("Actu", UrlOf(server))});
    session.Start();
    QString shown;
    OpenDialog(session, "Actu", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      box->cmbMode->setCurrentIndex(box->cmbMode->findText(QStringLiteral("texte")));
      box->edtPartie->setText(QStringLiteral("#main"));
      box->edtIgnorer->setPlainText(QStringLiteral("actualit\u00e9s"));
      WhenModal([&](QWidget* window) {
        auto* text = window->findChild<QPlainTextEdit*>(QStringLiteral("edtTexte"));
        if (text != nullptr) shown = text->toPlainText();
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("btnFermer")), Qt::LeftButton);
      });
      QTest::mouseClick(box->btnTester, Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty() && !box->Busy(), 10000);
      QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
    });
    QCOMPARE(shown, QStringLiteral("Le marché ouvre samedi.\n"));
    // Nothing was stored: « Tester » only looks.
    QCOMPARE(ReadTable(session.DataFile()).Value("Actu", kFieldPartie), std::string());
  }

  void testerTellsWhyThereIsNoText() {
    ScriptedServer server(testing::ServeNoisyPage());
    TSession session(TLinks{Link("Actu", UrlOf(server))});
    session.Start();
    TBoxSeen warning;
    OpenDialog(session, "Actu", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      box->edtPartie->setText(QStringLiteral("#absent"));
      AnswerBox(&warning);
      QTest::mouseClick(box->btnTester, Qt::LeftButton);
      QTRY_VERIFY_WITH_TIMEOUT(warning.seen && !box->Busy(), 10000);
      QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
    });
    QCOMPARE(warning.title, QStringLiteral("Avertissement"));
    QVERIFY2(warning.text.startsWith(QStringLiteral("La page n'a pas donné de texte à comparer :\r")) &&
                 warning.text.contains(QStringLiteral("#absent")),
             qPrintable(warning.text));
  }

  void apprendreLeBruitProposesRulesInTheField() {
    ScriptedServer server(testing::ServeNoisyPage());
    TSession session(TLinks{Link("Actu", UrlOf(server))});
    session.Start();
    QString proposed;
    OpenDialog(session, "Actu", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      box->Options.GapMs = 20;
      box->cmbMode->setCurrentIndex(box->cmbMode->findText(QStringLiteral("texte")));
      box->edtIgnorer->setPlainText(QStringLiteral("Publicité"));
      QTest::mouseClick(box->btnApprendre, Qt::LeftButton);
      QVERIFY(!box->btnTester->isEnabled());  // one fetch at a time
      QTRY_VERIFY_WITH_TIMEOUT(!box->Busy() && box->btnTester->isEnabled(), 10000);
      proposed = box->edtIgnorer->toPlainText();
      QVERIFY2(box->lblEssai->text().startsWith(QStringLiteral("2 règle(s) proposée(s)")),
               qPrintable(box->lblEssai->text()));
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    QCOMPARE(server.Connections(), 3);
    const QString expected = QStringLiteral(
        "Publicité\n"
        "/^Jeton de session : [0-9a-fA-F]{16}$/\n"
        "/^Page générée le \\d{2}\\/\\d{2}\\/\\d{4} à \\d{2}:\\d{2}:\\d{2}$/\n");
    QCOMPARE(proposed, expected);
    QCOMPARE(QString::fromStdString(ReadTable(session.DataFile()).Value("Actu", kFieldIgnorer)), expected);
  }

  void closingTheDialogStopsALearningUnderWay() {
    ScriptedServer server(testing::ServeNoisyPage());
    TSession session(TLinks{Link("Actu", UrlOf(server))});
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    OpenDialog(session, "Actu", [&](TfrmURL* dialog, TWatchSettingsBox* box) {
      box->Options.GapMs = 600000;  // the second fetch would come in ten minutes
      QTest::mouseClick(box->btnApprendre, Qt::LeftButton);
      QTRY_COMPARE(server.Connections(), 1);
      QVERIFY(box->Busy());
      QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
    });
    // The dialog is gone, its thread stopped with it: nothing was written.
    QCOMPARE(server.Connections(), 1);
    QCOMPARE(ReadBytes(session.DataFile()), before);
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestWatchSettings)
#include "tst_WatchSettings.moc"
