// The link commands of the main window through the link dialog: adding,
// modifying, deleting, with their boxes, the list row kept in step and the
// data file read back after each change.
#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QLayout>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <iterator>

#include "app/uMain.h"
#include "app/WatchSettingsBox.h"
#include "app/uURL.h"
#include "tests/app/TestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

const char* const kInconnue = "inconnue";
const char* const kJamais = "Jamais mise \xe0 jour";

// A link the dialog creates, as stored: it compares the page's text.
TRow NewLinkRow(TRow six_fields) {
  TRow row = StoredRow(std::move(six_fields));
  for (size_t i = 0; i < std::size(kAddedLinkFields); ++i)
    if (std::string(kAddedLinkFields[i]) == kFieldMode) row[std::size(kLinkFields) + i] = kModeTexte;
  return row;
}

// Runs `steps` on the link dialog when it opens.
void WhenDialog(std::function<void(TfrmURL*)> steps) {
  WhenModal([steps](QWidget* modal) {
    auto* dialog = qobject_cast<TfrmURL*>(modal);
    if (dialog == nullptr) {
      QFAIL("the link dialog did not open");
    }
    steps(dialog);
  });
}

// Types `text` into an edit field in place of what it held.
void Retype(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  Type(edit, text);
}

}  // namespace

class TestLinkCommands : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void addingALinkShowsItSelectedAndStoresItFresh() {
    TSession session(TLinks{{"Zeta", "z.example.org"}});
    session.Start();
    bool checked = false;
    WhenDialog([&](TfrmURL* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Propriétés du lien"));
      QCOMPARE(dialog->size(), QSize(375, 550));  // grown by what the link watches
      QCOMPARE(dialog->focusWidget(), static_cast<QWidget*>(dialog->edtNom));
      QVERIFY(dialog->edtNom->text().isEmpty() && dialog->edtURL->text().isEmpty());
      QVERIFY(dialog->edtMaJOK->isReadOnly() && dialog->edtMaJ->isReadOnly() &&
              dialog->edtEtat->isReadOnly());
      // « Conserver » is the default button (Return); Escape cancels.
      QVERIFY(dialog->btnConserver->isDefault() && !dialog->btnAnnuler->isDefault());
      // Tab goes down the dialog, past the read-only fields; what the link
      // watches comes between the address and the buttons.
      TWatchSettingsBox* box = dialog->boxSurveillance;
      const QList<QWidget*> tab_order{dialog->edtNom,       dialog->edtURL,     dialog->chkJavascript,
                                      box->cmbMode,         box->edtPartie,     box->edtIgnorer,
                                      box->chkAjouts,       box->btnTester,     box->btnApprendre,
                                      dialog->btnConserver, dialog->btnAnnuler};
      for (int i = 0; i + 1 < tab_order.size(); ++i) {
        QWidget* next = tab_order[i]->nextInFocusChain();
        // Tab passes over what cannot take it and what is hidden (the
        // « déménagé » line and its button, for a page that did not move).
        while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(dialog)) next = next->nextInFocusChain();
        QCOMPARE(next, tab_order[i + 1]);
      }
      Type(dialog->edtNom, "Alpha");
      Type(dialog->edtURL, "example.org/page");
      checked = true;
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(session.Main().actAjouter);
    QVERIFY(checked);
    TfrmMain& main = session.Main();
    QCOMPARE(session.ShownNames(), (QStringList{"Alpha", "Zeta"}));
    QCOMPARE(session.InternalNames(), (QStringList{"Zeta", "Alpha"}));  // added at the end
    const int row = session.RowOf("Alpha");
    QCOMPARE(main.SelectedRow(), row);
    QCOMPARE(main.RowText(row, TfrmMain::kColUrl), QStringLiteral("example.org/page"));
    QCOMPARE(main.RowText(row, TfrmMain::kColMajOk), QStringLiteral("inconnue"));
    QCOMPARE(main.RowText(row, TfrmMain::kColMaj), QStringLiteral("inconnue"));
    QCOMPARE(main.RowText(row, TfrmMain::kColEtat), QStringLiteral("Jamais mise à jour"));
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Link("Alpha"),
             NewLinkRow({"Alpha", "example.org/page", kInconnue, kInconnue, kJamais, ""}));
  }

  void theAddressIsStoredInItsForm_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("no scheme") << "example.org/page"
                               << "example.org/page";
    QTest::newRow("host and port") << "127.0.0.1:8080/index.html"
                                   << "127.0.0.1:8080/index.html";
    QTest::newRow("http") << "http://127.0.0.1:8080/index.html"
                          << "127.0.0.1:8080/index.html";
    QTest::newRow("HTTP") << "HTTP://Example.org/"
                          << "Example.org/";
    QTest::newRow("https") << "https://127.0.0.1:8443/"
                           << "https://127.0.0.1:8443/";
    QTest::newRow("HTTPS, spaces around") << "  HTTPS://example.org/a b  "
                                          << "HTTPS://example.org/a b";
  }

  void theAddressIsStoredInItsForm() {
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    for (const bool adding : {true, false}) {
      TSession session(
          TLinks{{"Site", "old.example.org", "03/10/16 \xe0 14:05", "inconnue", kJamais, "page"}});
      session.Start();
      WhenDialog([&](TfrmURL* dialog) {
        QVERIFY(dialog->Label2->text().contains(QStringLiteral("https://")));
        if (adding) Type(dialog->edtNom, "Nouveau");
        Retype(dialog->edtURL, typed);
        QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
      });
      if (!adding) session.ClickRow("Site");
      session.ClickTool(adding ? session.Main().actAjouter : session.Main().actModifier);
      const std::string nom = adding ? "Nouveau" : "Site";
      QCOMPARE(ReadTable(session.DataFile()).Value(nom, kFieldUrl), stored.toStdString());
      QCOMPARE(session.Main().RowText(session.RowOf(QString::fromStdString(nom)), TfrmMain::kColUrl), stored);
    }
  }

  // The final address is fetched in ASCII; the reader is shown, and offered, the name as written.
  void aPageThatMovedSaysWhereAndItsNewAddressIsStoredOnlyByConserver() {
    TSession session;
    std::vector<std::string> fields(std::begin(kLinkFields), std::end(kLinkFields));
    fields.insert(fields.end(), std::begin(kAddedLinkFields), std::end(kAddedLinkFields));
    TRow row = StoredRow({"Site", "old.example.org", kInconnue, kInconnue, "Pas de changement", "page"});
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] == kFieldAdresseFinale) row[i] = "https://xn--caf-dma.example/neuf";
      if (fields[i] == kFieldDemenage) row[i] = kOui;
    }
    WriteTable(session.DataFile(), fields, {row});
    session.Start();
    const QString moved = QStringLiteral("Cette page a déménagé vers https://café.example/neuf");
    session.ClickRow("Site");
    QCOMPARE(session.Main().Status->currentMessage(), moved);
    WhenDialog([&](TfrmURL* dialog) {
      QVERIFY(dialog->lblDemenage->isVisible());
      QCOMPARE(dialog->lblDemenage->text(), moved);
      QCOMPARE(dialog->edtURL->text(), QStringLiteral("old.example.org"));
      QTest::mouseClick(dialog->btnAdopter, Qt::LeftButton);
      QCOMPARE(dialog->edtURL->text(), QStringLiteral("https://café.example/neuf"));
      QCOMPARE(ReadTable(session.DataFile()).Value("Site", kFieldUrl), std::string("old.example.org"));
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(session.Main().actModifier);
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Value("Site", kFieldUrl), std::string("https://caf\xc3\xa9.example/neuf"));
    QCOMPARE(stored.Value("Site", kFieldAdresseFinale), std::string());
  }

  void aRefusedAddressKeepsTheDialogOpenAndTheFileUnchanged_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("why");
    const QString empty = QStringLiteral("L'adresse est vide.");
    const QString scheme = QStringLiteral("Seules les adresses http:// et https:// sont prises en charge.");
    QTest::newRow("empty") << "" << empty;
    QTest::newRow("spaces") << "   " << empty;
    QTest::newRow("scheme alone") << "https://" << empty;
    QTest::newRow("ftp") << "ftp://example.org/f" << scheme;
    QTest::newRow("file") << "file:///etc/passwd" << scheme;
    QTest::newRow("javascript") << "javascript:alert(1)" << scheme;
    QTest::newRow("mailto") << "mailto:moi@example.org" << scheme;
  }

  void aRefusedAddressKeepsTheDialogOpenAndTheFileUnchanged() {
    QFETCH(QString, typed);
    QFETCH(QString, why);
    for (const bool adding : {true, false}) {
      TSession session(
          TLinks{{"Site", "old.example.org", "03/10/16 \xe0 14:05", "inconnue", kJamais, "page"}});
      session.Start();
      const std::string before = ReadBytes(session.DataFile());
      TBoxSeen refusal;
      bool still_open = false;
      WhenDialog([&](TfrmURL* dialog) {
        if (adding) Type(dialog->edtNom, "Nouveau");
        Retype(dialog->edtURL, typed);
        AnswerBox(&refusal, QMessageBox::Ok, [&, dialog] {
          WhenModal([&, dialog](QWidget* modal) {
            still_open = modal == dialog && dialog->edtURL->text() == typed;
            QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
          });
        });
        QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
      });
      if (!adding) session.ClickRow("Site");
      session.ClickTool(adding ? session.Main().actAjouter : session.Main().actModifier);
      QVERIFY(refusal.seen);
      QCOMPARE(refusal.title, QStringLiteral("Erreur"));
      QCOMPARE(refusal.text, QStringLiteral("Impossible de poursuivre :\r") + why);
      QVERIFY(still_open);
      QCOMPARE(ReadBytes(session.DataFile()), before);
      QCOMPARE(session.ShownNames(), QStringList{"Site"});
    }
  }

  void addingChecksTheNameByItsExactBytes_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal_text");  // "" when accepted
    const QString exists = QStringLiteral("Ce nom existe déjà.");
    const QString empty = QStringLiteral("Le nom est vide.");
    QTest::newRow("same name") << "Site" << exists;
    QTest::newRow("other case") << "site" << QString();
    QTest::newRow("trailing space") << "Site " << QString();
    QTest::newRow("accented, same bytes") << "Café" << exists;
    QTest::newRow("accented, other case") << "CAFÉ" << QString();
    QTest::newRow("empty name") << "" << empty;
    QTest::newRow("spaces only") << "   " << empty;
  }

  void addingChecksTheNameByItsExactBytes() {
    QFETCH(QString, typed);
    QFETCH(QString, refusal_text);
    const bool accepted = refusal_text.isEmpty();
    TSession session(
        TLinks{{"Site", "old.example.org", "03/10/16 \xe0 14:05"}, {"Caf\xc3\xa9", "cafe.example.org"}});
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    TBoxSeen refusal;
    WhenDialog([&](TfrmURL* dialog) {
      Type(dialog->edtNom, typed);
      Type(dialog->edtURL, "new.example.org");
      if (!accepted) {
        AnswerBox(&refusal, QMessageBox::Ok, [&, dialog] {
          // The dialog stays open with the typed texts; then the user gives up.
          WhenModal([&, dialog](QWidget* modal) {
            QCOMPARE(modal, static_cast<QWidget*>(dialog));
            QCOMPARE(dialog->edtNom->text(), typed);
            QCOMPARE(dialog->edtURL->text(), QStringLiteral("new.example.org"));
            QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
          });
        });
      }
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(session.Main().actAjouter);
    if (accepted) {
      QCOMPARE(session.Main().RowCount(), 3);
      QCOMPARE(ReadTable(session.DataFile()).rows.size(), size_t(3));
      QCOMPARE(ReadTable(session.DataFile()).Value(typed.toStdString(), "url"),
               std::string("new.example.org"));
    } else {
      QVERIFY(refusal.seen);
      QCOMPARE(refusal.title, QStringLiteral("Erreur"));
      QCOMPARE(refusal.text, QStringLiteral("Impossible de poursuivre :\r") + refusal_text);
      QCOMPARE(refusal.icon, QMessageBox::Critical);
      QCOMPARE(refusal.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
      QCOMPARE(session.Main().RowCount(), 2);
      QCOMPARE(ReadBytes(session.DataFile()), before);
    }
  }

  void cancellingOrClosingTheDialogChangesNothing_data() {
    QTest::addColumn<bool>("add_mode");
    QTest::addColumn<bool>("close_window");
    QTest::newRow("add, Annuler") << true << false;
    QTest::newRow("add, window closed") << true << true;
    QTest::newRow("modify, Annuler") << false << false;
    QTest::newRow("modify, window closed") << false << true;
  }

  void cancellingOrClosingTheDialogChangesNothing() {
    QFETCH(bool, add_mode);
    QFETCH(bool, close_window);
    TSession session(TLinks{{"Site", "example.org"}});
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    WhenDialog([&](TfrmURL* dialog) {
      Retype(dialog->edtNom, "Autre");
      Retype(dialog->edtURL, "autre.example.org");
      if (close_window)
        dialog->close();
      else
        QTest::mouseClick(dialog->btnAnnuler, Qt::LeftButton);
    });
    if (add_mode) {
      session.ClickTool(session.Main().actAjouter);
    } else {
      session.ClickRow("Site");
      session.ClickTool(session.Main().actModifier);
    }
    QCOMPARE(session.ShownNames(), QStringList{"Site"});
    QCOMPARE(session.Main().RowText(0, TfrmMain::kColUrl), QStringLiteral("example.org"));
    QCOMPARE(ReadBytes(session.DataFile()), before);
  }

  void modifyingKeepsTheHistoryOfTheLink_data() {
    QTest::addColumn<QString>("new_name");
    QTest::addColumn<QString>("new_url");
    QTest::newRow("address only") << "Site"
                                  << "example.org/new";
    QTest::newRow("renamed") << "Renamed"
                             << "example.org/old";
    QTest::newRow("renamed to an existing name") << "Other"
                                                 << "example.org/old";
  }

  void modifyingKeepsTheHistoryOfTheLink() {
    QFETCH(QString, new_name);
    QFETCH(QString, new_url);
    const TRow site{
        "Site",       "example.org/old", "03/10/16 \xe0 14:05", "03/10/17 \xe0 09:30", "Pas de changement",
        "<p>body</p>"};
    TSession session(TLinks{{"Other", "other.example.org"}, site});
    session.Start();
    WhenDialog([&](TfrmURL* dialog) {
      QCOMPARE(dialog->edtNom->text(), QStringLiteral("Site"));
      QCOMPARE(dialog->edtURL->text(), QStringLiteral("example.org/old"));
      QCOMPARE(dialog->edtMaJOK->text(), QStringLiteral("03/10/16 à 14:05"));
      QCOMPARE(dialog->edtMaJ->text(), QStringLiteral("03/10/17 à 09:30"));
      QCOMPARE(dialog->edtEtat->text(), QStringLiteral("Pas de changement"));
      Retype(dialog->edtNom, new_name);
      Retype(dialog->edtURL, new_url);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickRow("Site");
    session.ClickTool(session.Main().actModifier);
    const int row = session.Main().SelectedRow();
    QCOMPARE(session.Main().RowText(row, TfrmMain::kColNom), new_name);
    QCOMPARE(session.Main().RowText(row, TfrmMain::kColUrl), new_url);
    QCOMPARE(session.Main().RowText(row, TfrmMain::kColEtat), QStringLiteral("Pas de changement"));
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.rows.size(), size_t(2));
    TRow expected = StoredRow(site);
    expected[0] = new_name.toStdString();
    expected[1] = new_url.toStdString();
    // With a duplicate name the changed row is the second of the two.
    QCOMPARE(stored.rows[1], expected);
    QCOMPARE(stored.rows[0][1], std::string("other.example.org"));
  }

  void theJavascriptBoxIsTheLinksField() {
    TSession session(TLinks{{"Site", "example.org/app"}});
    session.Start();
    WhenDialog([](TfrmURL* dialog) {
      QVERIFY(!dialog->chkJavascript->isChecked());
      // The fixed size leaves room for every row, the box included.
      QVERIFY(dialog->layout()->minimumSize().height() <= dialog->height());
      QCOMPARE(dialog->chkJavascript->text(), QStringLiteral("Exécuter le JavaScript de la page"));
      QTest::mouseClick(dialog->chkJavascript, Qt::LeftButton);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickRow("Site");
    session.ClickTool(session.Main().actModifier);
    QCOMPARE(ReadTable(session.DataFile()).Value("Site", kFieldJavascript), std::string(kOui));
    // Shown ticked next time; unticked, the field is emptied.
    WhenDialog([](TfrmURL* dialog) {
      QVERIFY(dialog->chkJavascript->isChecked());
      QTest::mouseClick(dialog->chkJavascript, Qt::LeftButton);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickRow("Site");
    session.ClickTool(session.Main().actModifier);
    QCOMPARE(ReadTable(session.DataFile()).Value("Site", kFieldJavascript), std::string());
  }

  void aDoubleClickDoesWhatModifyDoes() {
    TSession session(TLinks{{"Alpha", "a.example.org"}, {"Beta", "b.example.org"}});
    session.Start();
    QTreeView* grille = session.Main().Grille;
    const QModelIndex beta = grille->model()->index(1, 0);
    QString opened_on;
    WhenDialog([&](TfrmURL* dialog) {
      opened_on = dialog->edtNom->text();
      QVERIFY(!dialog->ModeAjout);
      Retype(dialog->edtURL, "b2.example.org");
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    DoubleClick(grille->viewport(), grille->visualRect(beta).center());
    QCOMPARE(opened_on, QStringLiteral("Beta"));
    QCOMPARE(session.Main().RowText(session.RowOf("Beta"), TfrmMain::kColUrl),
             QStringLiteral("b2.example.org"));
    QCOMPARE(ReadTable(session.DataFile()).Value("Beta", "url"), std::string("b2.example.org"));
  }

  void rowCommandsWithoutASelectedRowAreGreyedAndSayNothing_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("text");
    QTest::newRow("Modifier...") << "modify"
                                 << "Rien à modifier.";
    QTest::newRow("Supprimer") << "delete"
                               << "Rien à supprimer.";
  }

  void rowCommandsWithoutASelectedRowAreGreyedAndSayNothing() {
    QFETCH(QString, command);
    QFETCH(QString, text);
    TSession session(TLinks{{"Site", "example.org"}});
    session.Start();
    TfrmMain& main = session.Main();
    const std::string before = ReadBytes(session.DataFile());
    QCOMPARE(main.SelectedRow(), -1);
    QAction* action = command == "modify" ? main.actModifier : main.actSupprimer;
    QVERIFY(!action->isEnabled());
    session.ClickTool(action);
    // A double click beside the rows modifies nothing either.
    QWidget* viewport = main.Grille->viewport();
    DoubleClick(viewport, QPoint(10, viewport->height() - 10));
    QTest::qWait(50);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    // The command itself, run all the same, still says there is nothing to do.
    TBoxSeen box;
    AnswerBox(&box);
    if (command == "modify") {
      main.actModifierExecute();
    } else {
      main.actSupprimerExecute();
    }
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Erreur"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(session.Main().RowCount(), 1);
    QCOMPARE(ReadBytes(session.DataFile()), before);
  }

  void deletingAsksFirstAndOnlyYesDeletes_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << true;
    QTest::newRow("No") << int(QMessageBox::No) << false;
    QTest::newRow("box closed") << int(QMessageBox::NoButton) << false;
  }

  void deletingAsksFirstAndOnlyYesDeletes() {
    QFETCH(int, answer);
    QFETCH(bool, deleted);
    TSession session(TLinks{{"Alpha"}, {"Beta"}, {"Gamma"}});
    session.Start();
    const std::string before = ReadBytes(session.DataFile());
    session.ClickRow("Beta");
    TBoxSeen box;
    AnswerBox(&box, static_cast<QMessageBox::StandardButton>(answer));
    session.ClickTool(session.Main().actSupprimer);
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Confirmation"));
    QCOMPARE(box.text, QStringLiteral("Voulez-vous réellement supprimer le lien « Beta » ?"));
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.default_button, QMessageBox::Yes);
    if (deleted) {
      QCOMPARE(session.ShownNames(), (QStringList{"Alpha", "Gamma"}));
      QCOMPARE(session.Main().SelectedRow(), -1);
      QCOMPARE(ReadTable(session.DataFile()).Column("nom"), (std::vector<std::string>{"Alpha", "Gamma"}));
    } else {
      QCOMPARE(session.ShownNames(), (QStringList{"Alpha", "Beta", "Gamma"}));
      QCOMPARE(ReadBytes(session.DataFile()), before);
    }
  }

  void deletingARowWhoseNameVanishedDoesNothing() {
    TSession session(TLinks{{"Alpha"}, {"Beta"}});
    session.Start();
    session.ClickRow("Beta");
    QVERIFY(session.Data().TrouverLien("Beta"));
    session.Data().Table.SetData("nom", "Beta renamed elsewhere");
    session.Data().Save();
    const std::string before = ReadBytes(session.DataFile());
    AnswerBox(nullptr, QMessageBox::Yes);  // the confirmation; no other box may follow
    session.ClickTool(session.Main().actSupprimer);
    QCOMPARE(session.ShownNames(), (QStringList{"Alpha", "Beta"}));
    QCOMPARE(ReadBytes(session.DataFile()), before);
    QCOMPARE(ReadTable(session.DataFile()).rows.size(), size_t(2));
  }

  void modifyingARowWhoseNameVanishedRecreatesTheLink() {
    TSession session(TLinks{{"Alpha"},
                            {"Beta", "b.example.org", "03/10/16 \xe0 14:05", "03/10/16 \xe0 14:05",
                             "Pas de changement", "page"}});
    session.Start();
    session.ClickRow("Beta");
    QVERIFY(session.Data().TrouverLien("Beta"));
    session.Data().Table.Delete();
    TBoxSeen gone, recreated;
    // The first warning comes as the dialog opens; the dialog follows it.
    AnswerBox(&gone, QMessageBox::Ok, [&] {
      WhenDialog([&](TfrmURL* dialog) {
        QVERIFY(dialog->edtNom->text().isEmpty() && dialog->edtEtat->text().isEmpty());
        Type(dialog->edtNom, "Beta 2");
        Type(dialog->edtURL, "b2.example.org");
        AnswerBox(&recreated);
        QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
      });
    });
    session.ClickTool(session.Main().actModifier);
    QVERIFY(gone.seen);
    QCOMPARE(gone.title, QStringLiteral("Avertissement"));
    QCOMPARE(gone.text, QStringLiteral("Ce nom n'existe plus."));
    QVERIFY(recreated.seen);
    QCOMPARE(recreated.title, QStringLiteral("Avertissement"));
    QCOMPARE(recreated.text, QStringLiteral("Ce nom n'existe plus et a été recréé."));
    // The row's name and address change; its dates and state keep their texts.
    const int row = session.RowOf("Beta 2");
    QVERIFY(row >= 0);
    QCOMPARE(session.Main().RowText(row, TfrmMain::kColUrl), QStringLiteral("b2.example.org"));
    QCOMPARE(session.Main().RowText(row, TfrmMain::kColEtat), QStringLiteral("Pas de changement"));
    const TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Link("Beta 2"),
             NewLinkRow({"Beta 2", "b2.example.org", kInconnue, kInconnue, kJamais, ""}));
    QCOMPARE(stored.rows.size(), size_t(2));
  }

  void typedTextIsStoredAsUtf8AndStoredLatin1TextShowsRight() {
    TSession session(
        TLinks{{"R\xe9sum\xe9", "old.example.org", "inconnue", "inconnue", "Changements d\xe9tect\xe9s"}});
    session.Start();
    QCOMPARE(session.ShownNames(), QStringList{"Résumé"});
    // Only the address changes: the ISO 8859-1 name keeps its bytes, so the
    // link stays the same link.
    WhenDialog([&](TfrmURL* dialog) {
      QCOMPARE(dialog->edtNom->text(), QStringLiteral("Résumé"));
      QCOMPARE(dialog->edtEtat->text(), QStringLiteral("Changements détectés"));
      Retype(dialog->edtURL, "été.example.org");
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickRow("Résumé");
    session.ClickTool(session.Main().actModifier);
    TStoredTable stored = ReadTable(session.DataFile());
    QCOMPARE(stored.rows.size(), size_t(1));
    QCOMPARE(stored.Value("R\xe9sum\xe9", "url"), std::string("\xc3\xa9t\xc3\xa9.example.org"));
    QCOMPARE(session.Main().RowText(0, TfrmMain::kColUrl), QStringLiteral("été.example.org"));
    // A typed name is stored as UTF-8 and found again by those bytes.
    WhenDialog([&](TfrmURL* dialog) {
      Type(dialog->edtNom, "Café");
      Type(dialog->edtURL, "cafe.example.org");
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(session.Main().actAjouter);
    stored = ReadTable(session.DataFile());
    QCOMPARE(stored.Column("nom"), (std::vector<std::string>{"R\xe9sum\xe9", "Caf\xc3\xa9"}));
    QCOMPARE(session.Main().RowName(session.RowOf("Café")), std::string("Caf\xc3\xa9"));
    session.ClickRow("Café");
    AnswerBox(nullptr, QMessageBox::Yes);
    session.ClickTool(session.Main().actSupprimer);
    QCOMPARE(ReadTable(session.DataFile()).Column("nom"), std::vector<std::string>{"R\xe9sum\xe9"});
  }

  void aFailedSaveWarnsKeepsTheLinkAndTheNextChangeSavesIt() {
    TSession session(TLinks{{"Alpha"}, {"Beta"}});
    session.warn_like_the_program = true;
    session.Start();
    const std::string directory = session.Dir().Path();
    const std::string away = directory.substr(0, directory.size() - 1) + "-away";
    std::filesystem::rename(directory, away);  // nothing can be written there now
    TBoxSeen warning;
    WhenDialog([&](TfrmURL* dialog) {
      Type(dialog->edtNom, "Gamma");
      Type(dialog->edtURL, "gamma.example.org");
      AnswerBox(&warning);
      QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
    });
    session.ClickTool(session.Main().actAjouter);
    std::filesystem::rename(away, directory);
    QVERIFY(warning.seen);
    QCOMPARE(warning.title, QStringLiteral("Avertissement"));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QVERIFY(warning.text.contains(QString::fromStdString(session.DataFile())));
    QCOMPARE(session.save_errors, 1);
    QCOMPARE(session.ShownNames(), (QStringList{"Alpha", "Beta", "Gamma"}));
    QCOMPARE(ReadTable(session.DataFile()).rows.size(), size_t(2));
    // The next change writes everything, the link that failed included.
    session.ClickRow("Alpha");
    AnswerBox(nullptr, QMessageBox::Yes);
    session.ClickTool(session.Main().actSupprimer);
    QCOMPARE(ReadTable(session.DataFile()).Column("nom"), (std::vector<std::string>{"Beta", "Gamma"}));
    QCOMPARE(session.save_errors, 1);
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestLinkCommands)
#include "tst_LinkCommands.moc"
