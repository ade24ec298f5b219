// The main window at start-up: its list filled and sorted from the link
// table, its tool bar, its columns, the about box and quitting.
#include <QAbstractItemModel>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "app/uAproposDe.h"
#include "app/uMain.h"
#include "tests/app/TestSupport.h"
#include "watch/uData.h"

namespace veilex::test {

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void firstStartShowsAnEmptyListWithItsFiveColumns() {
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    QCOMPARE(main.windowTitle(), QStringLiteral("Veilex v1.0"));
    QCOMPARE(main.size(), QSize(696, 480));
    QCOMPARE(main.focusWidget(), static_cast<QWidget*>(main.Grille));
    const QAbstractItemModel* model = main.Grille->model();
    QCOMPARE(model->rowCount(), 0);
    QStringList headers;
    for (int column = 0; column < model->columnCount(); ++column)
      headers << model->headerData(column, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{"Nom", "URL", "MàJ Ok", "MàJ", "Etat"}));
    const int widths[] = {150, 250, 70, 70};
    for (int column = 0; column < 4; ++column) QCOMPARE(main.Grille->columnWidth(column), widths[column]);
    QVERIFY(main.Status->currentMessage().isEmpty());
  }

  void theToolBarShowsEveryCaptionExactly() {
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    QStringList shown;
    for (QAction* action : main.ToolBar1->actions()) {
      if (action->isSeparator()) {
        shown << "|";
        continue;
      }
      auto* button = qobject_cast<QToolButton*>(main.ToolBar1->widgetForAction(action));
      QVERIFY(button != nullptr);
      QCOMPARE(button->height(), 25);
      // "Arrêter" only while "Tout mettre à jour" runs.
      QCOMPARE(button->isEnabled(), action != main.actArreter);
      shown << button->text();
    }
    QCOMPARE(shown, (QStringList{"Ajouter...", "Modifier...", "Supprimer", "|", "Mettre à jour",
                                 "Tout mettre à jour", "Arrêter", "|", "A propos de...", "Options...", "|", "Quitter"}));
  }

  void theStartUpSortsOnTheNameBytesAndTheExitSaveWritesThatOrder() {
    // Byte order: capitals before small letters, UTF-8 (C3) before ISO 8859-1 (E9).
    TSession session(TLinks{{"b"}, {"\xe9t\xe9"}, {"C"}, {"a"}, {"\xc3\xa9t\xc3\xa9"}, {"B"}, {"z"}});
    session.Start();
    const QStringList sorted{"B", "C", "a", "b", "z", "été", "été"};
    QCOMPARE(session.ShownNames(), sorted);
    QCOMPARE(session.InternalNames(), sorted);  // rows added in the sorted table order
    QCOMPARE(session.Main().RowName(5), std::string("\xc3\xa9t\xc3\xa9"));
    QCOMPARE(session.Main().RowName(6), std::string("\xe9t\xe9"));
    // The start-up save came before the sort; only the exit save has the new order.
    const std::vector<std::string> file_order{"b", "\xe9t\xe9", "C", "a", "\xc3\xa9t\xc3\xa9", "B", "z"};
    QCOMPARE(ReadTable(session.DataFile()).Column("nom"), file_order);
    session.Stop();
    const std::vector<std::string> exit_order{"B", "C", "a", "b", "z", "\xc3\xa9t\xc3\xa9", "\xe9t\xe9"};
    QCOMPARE(ReadTable(session.DataFile()).Column("nom"), exit_order);
  }

  void aRowShowsTheFourFieldsAfterTheNameButNeverThePage() {
    TSession session(
        TLinks{{"Site", "example.org/a", "03/10/16 \xe0 14:05", "03/10/17 \xe0 09:00",
                "Changements d\xe9tect\xe9s", "<html>secret</html>"},
               {"Caf\xc3\xa9", "caf\xc3\xa9.example.org", "inconnue", "inconnue", "Jamais mise \xe0 jour"}});
    session.Start();
    TfrmMain& main = session.Main();
    const int site = session.RowOf("Site");
    QVERIFY(site >= 0);
    QCOMPARE(main.RowText(site, TfrmMain::kColUrl), QStringLiteral("example.org/a"));
    QCOMPARE(main.RowText(site, TfrmMain::kColMajOk), QStringLiteral("03/10/16 à 14:05"));
    QCOMPARE(main.RowText(site, TfrmMain::kColMaj), QStringLiteral("03/10/17 à 09:00"));
    QCOMPARE(main.RowText(site, TfrmMain::kColEtat), QStringLiteral("Changements détectés"));
    const int cafe = session.RowOf("Café");
    QVERIFY(cafe >= 0);
    QCOMPARE(main.RowText(cafe, TfrmMain::kColUrl), QStringLiteral("café.example.org"));
    QCOMPARE(main.RowText(cafe, TfrmMain::kColEtat), QStringLiteral("Jamais mise à jour"));
    const QAbstractItemModel* model = main.Grille->model();
    QCOMPARE(model->columnCount(), 5);
    for (int row = 0; row < model->rowCount(); ++row)
      for (int column = 0; column < model->columnCount(); ++column)
        QVERIFY(!model->index(row, column).data().toString().contains("secret"));
    // An auto-sized column widens to its longest text.
    QVERIFY(main.Grille->columnWidth(TfrmMain::kColEtat) >=
            main.Grille->fontMetrics().horizontalAdvance("Changements détectés"));
  }

  void namesDifferingOnlyInCaseAreSeparateRows() {
    TSession session(TLinks{{"site", "a"}, {"Site", "b"}, {"SITE", "c"}});
    session.Start();
    QCOMPARE(session.ShownNames(), (QStringList{"SITE", "Site", "site"}));
    QCOMPARE(session.Main().RowText(session.RowOf("site"), TfrmMain::kColUrl), QStringLiteral("a"));
  }

  void theAboutBoxOpensModallyAndClosesWithItsButton() {
    TSession session;
    session.Start();
    bool seen = false;
    WhenModal([&](QWidget* modal) {
      auto* about = qobject_cast<TfrmAproposDe*>(modal);
      QVERIFY(about != nullptr);
      seen = true;
      QCOMPARE(about->windowTitle(), QStringLiteral("A propos de..."));
      QCOMPARE(about->size(), QSize(345, 140));
      QCOMPARE(about->parentWidget(), static_cast<QWidget*>(&session.Main()));
      QCOMPARE(about->Label1->text(), QStringLiteral("Veilex version 1.0"));
      QVERIFY(about->Label1->font().bold());
      QCOMPARE(about->Label2->text(), QStringLiteral("(Dernière mise à jour le 16 octobre 2003)"));
      QVERIFY(!about->Label3->text().isEmpty());
      QVERIFY(about->Label4->text().contains("veilex"));
      QCOMPARE(about->Button1->text(), QStringLiteral("Fermer"));
      QCOMPARE(about->focusWidget(), static_cast<QWidget*>(about->Button1));
      QTest::mouseClick(about->Button1, Qt::LeftButton);
    });
    session.ClickTool(session.Main().actAProposDe);
    QVERIFY(seen);
  }

  void quitClosesTheMainWindowAndTheExitSaveRuns() {
    TSession session(TLinks{{"b"}, {"a"}});
    session.Start();
    QVERIFY(session.Main().isVisible());
    session.ClickTool(session.Main().actQuitter);
    QVERIFY(!session.Main().isVisible());
    session.Stop();
    QCOMPARE(ReadTable(session.DataFile()).Column("nom"), (std::vector<std::string>{"a", "b"}));
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestMainWindow)
#include "tst_MainWindow.moc"
