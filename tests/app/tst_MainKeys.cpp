// The main window driven from the keyboard and with several links at once:
// shortcuts, the link dialog's Return and Escape, multiple selection, sorting
// on any column, the search field, the context menu, the greyed commands,
// the run summary, remembered columns, and a second start handing over.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QPointer>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <atomic>
#include <thread>

#include "app/InstanceChannel.h"
#include "app/LinkList.h"
#include "app/MainMenus.h"
#include "app/uChangements.h"
#include "app/uMain.h"
#include "app/uURL.h"
#include "tests/app/TestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

// Port 1 of the loopback address refuses at once: a check there fails fast.
const TLinks kThreeLinks = {{"Bravo", "127.0.0.1:1/b", "26/01/05 \xe0 10:00", "26/01/05 \xe0 10:00", "Pas de changement"},
                            {"alpha", "127.0.0.1:1/a", "inconnue", "inconnue", "Jamais mise \xe0 jour"},
                            {"Charlie", "127.0.0.1:1/exemple", "25/12/31 \xe0 10:00", "26/12/09 \xe0 17:34",
                             "Echec de la mise \xe0 jour"}};

void Activate(TfrmMain& main) {
  QApplication::setActiveWindow(&main);
  QVERIFY(QTest::qWaitForWindowActive(&main));
  main.Grille->setFocus();
}

QLabel* Summary(TfrmMain& main) { return main.Status->findChild<QLabel*>(QStringLiteral("lblBilan")); }

}  // namespace

class TestMainKeys : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void shortcutsOpenTheirCommand_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("title");  // of the modal window that opens
    QTest::addColumn<QString>("text");   // the box's text, or the dialog's name field
    QTest::newRow("Inser") << int(Qt::Key_Insert) << 0 << "Propriétés du lien" << "";
    QTest::newRow("Ctrl+N") << int(Qt::Key_N) << int(Qt::ControlModifier) << "Propriétés du lien" << "";
    QTest::newRow("F2") << int(Qt::Key_F2) << 0 << "Propriétés du lien" << "Bravo";
    QTest::newRow("Suppr") << int(Qt::Key_Delete) << 0 << "Confirmation"
                           << "Voulez-vous réellement supprimer le lien « Bravo » ?";
    QTest::newRow("Entrée") << int(Qt::Key_Return) << 0 << "Information"
                            << "Pas encore de version précédente à comparer pour ce lien.";
  }

  void shortcutsOpenTheirCommand() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, title);
    QFETCH(QString, text);
    TSession session(kThreeLinks);
    session.Start();
    Activate(session.Main());
    session.ClickRow("Bravo");
    QString seen_title, seen_text;
    WhenModal([&](QWidget* modal) {
      seen_title = modal->windowTitle();
      if (auto* dialog = qobject_cast<TfrmURL*>(modal)) {
        seen_text = dialog->edtNom->text();
        dialog->reject();
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen_text = box->text();
        box->reject();
      }
    });
    QTest::keyClick(session.Main().Grille, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_COMPARE(seen_title, title);
    QCOMPARE(seen_text, text);
    QCOMPARE(session.Main().RowCount(), 3);
  }

  void f5ChecksTheSelectedLinksCtrlF5AllAndTheStatusBarSumsUp() {
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    Activate(main);
    session.ClickRow("Bravo");
    QTest::mouseClick(main.Grille->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      main.Grille->visualRect(main.Grille->model()->index(2, 0)).center());
    QCOMPARE(int(main.SelectedRows().size()), 2);
    QTest::keyClick(main.Grille, Qt::Key_F5);
    QVERIFY(session.WaitForChecks());
    QCOMPARE(Summary(main)->text(), QStringLiteral("0 page a changé, 2 échecs, 0 sans changement"));
    QCOMPARE(main.RowText(session.RowOf("alpha"), TfrmMain::kColEtat), QStringLiteral("Echec de la mise à jour"));
    QCOMPARE(main.RowText(session.RowOf("Charlie"), TfrmMain::kColMaj), QStringLiteral("26/12/09 à 17:34"));
    // The summary stays until the next command.
    QTest::keyClick(main.Grille, Qt::Key_F5, Qt::ControlModifier);
    QVERIFY(session.WaitForChecks());
    QCOMPARE(Summary(main)->text(), QStringLiteral("0 page a changé, 3 échecs, 0 sans changement"));
    QVERIFY(main.RowText(session.RowOf("Charlie"), TfrmMain::kColMaj) != QStringLiteral("26/12/09 à 17:34"));
    main.Liste->actRechercher->trigger();
    QVERIFY(Summary(main)->text().isEmpty());
  }

  void ctrlFGoesToTheSearchFieldWhichFiltersAsOneTypes() {
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    Activate(main);
    QTest::keyClick(main.Grille, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(main.Liste->edtRecherche));
    QTest::keyClicks(main.Liste->edtRecherche, "EXEMP");  // the address, letter case ignored
    QCOMPARE(session.ShownNames(), QStringList{"Charlie"});
    main.Liste->edtRecherche->clear();
    Type(main.Liste->edtRecherche, QStringLiteral("jamais"));  // the state
    QCOMPARE(session.ShownNames(), QStringList{"alpha"});
    main.Liste->edtRecherche->clear();
    QTest::keyClicks(main.Liste->edtRecherche, "a");  // names
    QCOMPARE(session.ShownNames(), (QStringList{"Bravo", "Charlie", "alpha"}));
    // Suppr in the field deletes a letter, not a link.
    QTest::keyClick(main.Liste->edtRecherche, Qt::Key_Home);
    QTest::keyClick(main.Liste->edtRecherche, Qt::Key_Delete);
    QCOMPARE(main.Liste->edtRecherche->text(), QString());
    QCOMPARE(main.RowCount(), 3);
  }

  void theSearchAndTheSortFollowTheRowsAsTheyChange() {
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    Type(main.Liste->edtRecherche, QStringLiteral("MISE À JOUR"));  // letter case ignored beyond ASCII too
    QCOMPARE(session.ShownNames(), (QStringList{"Charlie", "alpha"}));
    const auto row_of = [&main](const std::string& name) {
      for (int row = 0; row < main.RowCount(); ++row)
        if (main.RowName(row) == name) return row;
      return -1;
    };
    main.SetRowText(row_of("Bravo"), TfrmMain::kColEtat, "Mise \xe0 jour en cours");
    main.SetRowText(row_of("alpha"), TfrmMain::kColEtat, "Pas de changement");
    QCOMPARE(session.ShownNames(), (QStringList{"Bravo", "Charlie"}));
    main.SetRowText(row_of("Bravo"), TfrmMain::kColNom, "Delta");  // sorted again on its new name
    QCOMPARE(session.ShownNames(), (QStringList{"Charlie", "Delta"}));
    main.RemplirGrille();  // the rows again from the table
    QCOMPARE(session.ShownNames(), (QStringList{"Charlie", "alpha"}));
  }

  void ctrlQQuits() {
    TSession session(kThreeLinks);
    session.Start();
    Activate(session.Main());
    QTest::keyClick(session.Main().Grille, Qt::Key_Q, Qt::ControlModifier);
    QTRY_VERIFY(!session.Main().isVisible());
  }

  void theMenuBarHoldsEveryCommandWithItsShortcutAndAltLetters() {
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    QStringList menus;
    for (QAction* menu : main.menuBar()->actions()) {
      QStringList items;
      for (QAction* action : menu->menu()->actions())
        if (!action->isSeparator())
          items << action->text() + (action->shortcut().isEmpty() ? QString() : "\t" + action->shortcut().toString());
      menus << menu->text() + ": " + items.join(" | ");
    }
    QCOMPARE(menus, (QStringList{
                        "&Fichier: &Importer... | &Exporter... | &Options... | &Quitter\tCtrl+Q",
                        "&Liens: &Ajouter...\tIns | &Modifier...\tF2 | &Supprimer\tDel | Mettre à &jour\tF5 | "
                        "&Tout mettre à jour\tCtrl+F5 | A&rrêter\tEsc | &Voir les changements\tReturn | "
                        "&Ouvrir la page | &Copier l'adresse | Marquer comme &lu | Tout mar&quer comme lu",
                        "Affic&hage: &Rechercher\tCtrl+F",
                        "Ai&de: &A propos de...",
                    }));
    QCOMPARE(main.actAjouter->shortcuts().value(1), QKeySequence(Qt::CTRL | Qt::Key_N));
    // Tool buttons keep their captions, and Tab reaches them.
    QCOMPARE(main.ToolButton(main.actAjouter)->text(), QStringLiteral("Ajouter..."));
    Activate(main);
    bool reached = false;
    for (int i = 0; i < 20 && !reached; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      reached = qobject_cast<QToolButton*>(QApplication::focusWidget()) != nullptr;
    }
    QVERIFY(reached);
  }

  void commandsNeedingARowAreGreyedAndAnEmptyListShowsAHint() {
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    const QList<QAction*> need_row = {main.actModifier,   main.actSupprimer,        main.actMettreAJour,
                                      main.actVoirChangements, main.Liste->actOuvrirPage, main.Liste->actCopierAdresse};
    for (QAction* action : need_row) QVERIFY2(!action->isEnabled(), qPrintable(action->iconText()));
    QVERIFY(main.actAjouter->isEnabled());
    QVERIFY(main.Liste->lblVide->isVisible());
    QCOMPARE(main.Liste->lblVide->text(), QStringLiteral("Ajoutez une page à surveiller avec « Ajouter... »"));
    // F2 with nothing to modify does nothing, without a box.
    Activate(main);
    QTest::keyClick(main.Grille, Qt::Key_F2);
    QTest::qWait(50);
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    WhenModal([](QWidget* modal) {
      auto* dialog = qobject_cast<TfrmURL*>(modal);
      QVERIFY(dialog);
      // Return is « Conserver » from the name field; Tab skips read-only
      // fields, from the address to what the link watches.
      QTest::keyClicks(dialog->edtNom, "Nouveau");
      QTest::keyClick(dialog->edtNom, Qt::Key_Tab);
      QTest::keyClicks(dialog->edtURL, "127.0.0.1:1/n");
      QTest::keyClick(dialog->edtURL, Qt::Key_Tab);
      QCOMPARE(dialog->focusWidget(), static_cast<QWidget*>(dialog->chkJavascript));
      QTest::keyClick(dialog->edtURL, Qt::Key_Return);
    });
    QTest::keyClick(main.Grille, Qt::Key_Insert);
    QTRY_COMPARE(main.RowCount(), 1);
    QVERIFY(!main.Liste->lblVide->isVisible());
    for (QAction* action : need_row) QVERIFY2(action->isEnabled(), qPrintable(action->iconText()));
    QCOMPARE(ReadTable(session.DataFile()).Value("Nouveau", "url"), std::string("127.0.0.1:1/n"));

    // Escape is « Annuler »: nothing written.
    WhenModal([](QWidget* modal) {
      auto* dialog = qobject_cast<TfrmURL*>(modal);
      QVERIFY(dialog);
      QTest::keyClicks(dialog->edtNom, "Autre");
      QTest::keyClick(dialog->edtNom, Qt::Key_Escape);
    });
    Activate(main);
    QTest::keyClick(main.Grille, Qt::Key_N, Qt::ControlModifier);
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(main.RowCount(), 1);
    QCOMPARE(ReadTable(session.DataFile()).rows.size(), size_t(1));
  }

  void deletingSeveralLinksAsksOnceNamingHowMany_data() {
    QTest::addColumn<int>("answer");
    QTest::newRow("Oui") << int(QMessageBox::Yes);
    QTest::newRow("Non") << int(QMessageBox::No);
  }

  void deletingSeveralLinksAsksOnceNamingHowMany() {
    QFETCH(int, answer);
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    Activate(main);
    session.ClickRow("alpha");
    QTest::keyClick(main.Grille, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(int(main.SelectedRows().size()), 2);
    TBoxSeen box;
    AnswerBox(&box, QMessageBox::StandardButton(answer));
    QTest::keyClick(main.Grille, Qt::Key_Delete);
    QVERIFY(box.seen);
    QCOMPARE(box.text, QStringLiteral("Voulez-vous réellement supprimer ces 2 liens ?"));
    const QStringList left = answer == QMessageBox::Yes ? QStringList{"Bravo"} : QStringList{"Bravo", "Charlie", "alpha"};
    QCOMPARE(session.ShownNames(), left);
    QCOMPARE(int(ReadTable(session.DataFile()).rows.size()), left.size());
  }

  void everyColumnSortsDatesInTimeOrderAndTheChoiceIsRemembered() {
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    QHeaderView* header = main.Grille->header();
    const auto click_header = [&](int column) {
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    };
    click_header(TfrmMain::kColMajOk);
    // "inconnue" first, then 31 December 2025 before 5 January 2026 (which
    // sorts first as text).
    QCOMPARE(session.ShownNames(), (QStringList{"alpha", "Charlie", "Bravo"}));
    click_header(TfrmMain::kColMajOk);
    QCOMPARE(session.ShownNames(), (QStringList{"Bravo", "Charlie", "alpha"}));
    click_header(TfrmMain::kColEtat);
    QCOMPARE(session.ShownNames(), (QStringList{"Charlie", "alpha", "Bravo"}));
    // Date cells keep their text and spell the date out in their tooltip;
    // the address cell shows the whole address.
    const QAbstractItemModel* shown = main.Grille->model();
    QCOMPARE(shown->index(0, TfrmMain::kColMaj).data().toString(), QStringLiteral("26/12/09 à 17:34"));
    QCOMPARE(shown->index(0, TfrmMain::kColMaj).data(Qt::ToolTipRole).toString(),
             QStringLiteral("mercredi 9 décembre 2026 à 17:34"));
    QCOMPARE(shown->index(0, TfrmMain::kColUrl).data(Qt::ToolTipRole).toString(), QStringLiteral("127.0.0.1:1/exemple"));

    // Widths set by hand: a drag on the border after "Nom".
    const int border = header->sectionViewportPosition(TfrmMain::kColNom) + header->sectionSize(TfrmMain::kColNom) - 1;
    const int y = header->height() / 2;
    const auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
      QMouseEvent event(type, QPointF(x, y), header->viewport()->mapToGlobal(QPointF(x, y)), Qt::LeftButton, buttons,
                        {});
      QApplication::sendEvent(header->viewport(), &event);
    };
    send(QEvent::MouseButtonPress, border, Qt::LeftButton);
    send(QEvent::MouseMove, border + 60, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, border + 60, Qt::NoButton);
    const int width = main.Grille->columnWidth(TfrmMain::kColNom);
    QVERIFY(main.Liste->UserWidths());
    main.resize(800, 500);  // the window no longer fits them
    QCOMPARE(main.Grille->columnWidth(TfrmMain::kColNom), width);

    session.Stop();
    session.Start();
    QCOMPARE(session.ShownNames(), (QStringList{"Charlie", "alpha", "Bravo"}));
    QCOMPARE(session.Main().Grille->columnWidth(TfrmMain::kColNom), width);
  }

  void theContextMenuOffersTheRowCommandsOpensAndCopies() {
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    QList<QUrl> opened;
    main.Liste->OpenUrl = [&](const QUrl& url) {
      opened << url;
      return true;
    };
    const QModelIndex charlie = main.Grille->model()->index(1, 0);
    QCOMPARE(charlie.data().toString(), QStringLiteral("Charlie"));
    main.Liste->ShowContextMenu(main.Grille->visualRect(charlie).center());
    QTRY_VERIFY(main.Liste->MenuContextuel->isVisible());
    QCOMPARE(main.SelectedRows(), std::vector<int>{session.RowOf("Charlie")});
    QStringList items;
    for (QAction* action : main.Liste->MenuContextuel->actions())
      if (!action->isSeparator()) items << action->iconText();
    QCOMPARE(items, (QStringList{"Mettre à jour", "Voir les changements", "Ouvrir la page", "Copier l'adresse",
                                 "Modifier...", "Supprimer"}));
    main.Liste->MenuContextuel->hide();
    main.Liste->actOuvrirPage->trigger();
    QCOMPARE(opened, QList<QUrl>{QUrl("http://127.0.0.1:1/exemple")});
    main.Liste->actCopierAdresse->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1:1/exemple"));
  }

  void theComparisonWindowOpensCentredAndClosesWithEscapeOrCtrlW_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Échap") << int(Qt::Key_Escape) << 0;
    QTest::newRow("Ctrl+W") << int(Qt::Key_W) << int(Qt::ControlModifier);
  }

  void theComparisonWindowOpensCentredAndClosesWithEscapeOrCtrlW() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    TSession session({{"Bravo", "127.0.0.1:1/b", "inconnue", "inconnue", "Changements détectés", "<p>b</p>"}});
    session.Start();
    TfrmMain& main = session.Main();
    QVERIFY(session.Data().TrouverLien("Bravo"));
    session.Data().Table.SetData(kFieldAncienne, "<p>a</p>");
    main.move(100, 80);
    QPointer<TfrmChangements> window = OuvrirChangements(&main, session.Data(), "Bravo");
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY((window->frameGeometry().center() - main.frameGeometry().center()).manhattanLength() <= 4);
    QApplication::setActiveWindow(window);
    QTest::keyClick(window, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(window.isNull());
  }

  void aSecondStartShowsTheWindowOfTheVeilexHoldingTheFile() {
    TSession session(kThreeLinks);
    session.Start();
    TfrmMain& main = session.Main();
    main.hide();  // in the tray
    TInstanceServer server(session.DataFile(), [&main] { BringForward(main); });
    QVERIFY(server.Listening());
    std::atomic<bool> answered = false;
    std::thread second([&] { answered = AskRunningVeilexToShow(session.DataFile(), 5000); });
    QTRY_VERIFY(main.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
    second.join();
    // No Veilex on another file answers.
    TTempDir other;
    QVERIFY(!AskRunningVeilexToShow(other.DataFile(), 500));
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestMainKeys)
#include "tst_MainKeys.moc"
