// The main window at start-up: its list filled and sorted from the link
// table, its tool bar, its columns, the about box and quitting.
#include <QAbstractItemModel>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QStatusBar>
#include <QStandardItemModel>
#include <QTest>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "app/EtatDelegate.h"
#include "app/LinkReason.h"
#include "app/uAproposDe.h"
#include "app/uMain.h"
#include "tests/app/TestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

// Collects what a widget is asked to repaint.
class TPaintWatch : public QObject {
 public:
  explicit TPaintWatch(QWidget* widget) { widget->installEventFilter(this); }
  QRegion painted;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
};

}  // namespace

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
    QCOMPARE(headers, (QStringList{"Nom", "URL", "MàJ Ok", "MàJ", "Etat", "Dernier changement"}));
    // "Nom" keeps its width, the other columns fit at least their headers,
    // "URL" takes the rest.
    QCOMPARE(main.Grille->columnWidth(TfrmMain::kColNom), 150);
    for (int column : {TfrmMain::kColMajOk, TfrmMain::kColMaj, TfrmMain::kColEtat}) {
      QVERIFY(main.Grille->columnWidth(column) >= 70);
      QVERIFY(main.Grille->columnWidth(column) >= main.Grille->header()->sectionSizeHint(column));
    }
    for (int column = 0; column < model->columnCount(); ++column)
      QCOMPARE(main.Grille->header()->sectionResizeMode(column), QHeaderView::Interactive);
    int total = 0;
    for (int column = 0; column < model->columnCount(); ++column) total += main.Grille->columnWidth(column);
    QCOMPARE(total, main.Grille->viewport()->width());
    QVERIFY(main.Status->currentMessage().isEmpty());
  }

  void aReasonIsShownAsTextNeverAsMarkup() {
    QStandardItemModel rows(1, 2);
    rows.setItem(0, 0, new QStandardItem(QStringLiteral("a")));
    rows.setItem(0, 1, new QStandardItem(QStringLiteral("b")));
    const QString reason = QStringLiteral("Réponse 404 <b>Not</b> Found & <img src=\"/etc/x.png\">");
    SetRowReason(rows, 0, reason.toStdString());
    const QString tip = rows.index(0, 1).data(Qt::ToolTipRole).toString();
    // As a tooltip shows it: markup when it looks like markup.
    const QString shown = Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
    QCOMPARE(shown, reason);
    QCOMPARE(RowReason(rows.index(0, 0)), reason);
  }

  void aStateChangeRepaintsTheWholeRow() {
    TSession session({{"a", "a.example/", "inconnue", "inconnue", "Jamais mise \xe0 jour", ""}});
    session.Start();
    TfrmMain& main = session.Main();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QTest::qWait(50);
    TPaintWatch watch(main.Grille->viewport());
    // The name turns bold with this state: its cell is drawn again too.
    main.SetRowText(0, TfrmMain::kColEtat, "Changements d\xe9tect\xe9s");
    QTRY_VERIFY(!watch.painted.isEmpty());
    const QRect name = main.Grille->visualRect(main.Grille->model()->index(0, TfrmMain::kColNom));
    QVERIFY(watch.painted.contains(name));
  }

  void theToolBarShowsEveryCaptionExactly() {
    TSession session;
    session.Start();
    TfrmMain& main = session.Main();
    QStringList shown;
    const QList<QAction*> actions = main.ToolBar1->actions() + QList<QAction*>{nullptr} + main.ToolBar2->actions();
    for (QAction* action : actions) {
      if (action == nullptr) {
        shown << "||";  // the second row
        continue;
      }
      if (action->isSeparator()) {
        shown << "|";
        continue;
      }
      auto* button = main.ToolButton(action);
      QVERIFY(button != nullptr);
      QCOMPARE(button->height(), 25);
      // "Arrêter" only while "Tout mettre à jour" runs; the commands on a
      // row only once a row is selected.
      const bool greyed = action == main.actArreter || action == main.actModifier || action == main.actSupprimer ||
                          action == main.actMettreAJour || action == main.actVoirChangements ||
                          action == main.actMarquerLu;
      QCOMPARE(button->isEnabled(), !greyed);
      shown << button->text();
    }
    QCOMPARE(shown, (QStringList{"Ajouter...", "Modifier...", "Supprimer", "|", "Mettre à jour",
                                 "Tout mettre à jour", "Voir les changements", "Arrêter", "||",
                                 "Marquer comme lu", "Tout marquer comme lu", "|", "A propos de...",
                                 "Options...", "|", "Quitter"}));
    // At the default width every button is in view: none is left to the
    // tool bar's overflow menu.
    for (QAction* action : actions) {
      if (action == nullptr || action->isSeparator()) continue;
      QVERIFY2(main.ToolButton(action)->isVisible(), qPrintable(action->text()));
    }
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
    QCOMPARE(model->columnCount(), 6);
    for (int row = 0; row < model->rowCount(); ++row)
      for (int column = 0; column < model->columnCount(); ++column)
        QVERIFY(!model->index(row, column).data().toString().contains("secret"));
    // An auto-sized column widens to its longest text, in bold for a change
    // not seen yet.
    QVERIFY(session.Data().TrouverLien("Site"));
    session.Data().Table.SetData(kFieldNonLu, kOui);
    main.RemplirGrille();
    QFont bold = main.Grille->font();
    bold.setBold(true);
    QVERIFY(main.Grille->columnWidth(TfrmMain::kColEtat) >=
            QFontMetrics(bold).horizontalAdvance("Changements détectés"));
  }

  void atTheDefaultSizeTheStateColumnIsFullyVisibleAndTheUrlIsElided() {
    const std::string date = "26/12/08 \xe0 09:12";
    const std::string long_url = "www.un-site-au-nom-tres-long.example/rubrique/sous-rubrique/page-tres-longue.html";
    TSession session(TLinks{{"Journal du club", long_url, date, date, "Changements d\xe9tect\xe9s"},
                            {"Mairie", "www.mairie.example/agenda/", date, date, "Pas de changement"},
                            {"M\xe9t\xe9o locale", "meteo.example/ville?id=42", date, date,
                             "Echec de la mise \xe0 jour"},
                            {"Prix du train", "www.rail.example/tarifs", "inconnue", "inconnue",
                             "Jamais mise \xe0 jour"}});
    session.Start();
    TfrmMain& main = session.Main();
    QCOMPARE(main.size(), QSize(696, 480));
    QTreeView* grille = main.Grille;
    const QAbstractItemView* view = grille;  // QTreeView hides the size hint
    QHeaderView* header = grille->header();
    QVERIFY(!grille->horizontalScrollBar()->isVisible());
    const int etat_end = header->sectionViewportPosition(TfrmMain::kColEtat) + header->sectionSize(TfrmMain::kColEtat);
    QVERIFY2(etat_end <= grille->viewport()->width(), qPrintable(QString::number(etat_end)));
    QVERIFY(header->sectionSize(TfrmMain::kColEtat) >= view->sizeHintForColumn(TfrmMain::kColEtat));
    for (int column : {TfrmMain::kColMajOk, TfrmMain::kColMaj})
      QVERIFY(header->sectionSize(column) >= view->sizeHintForColumn(column));
    // The URL column got what was left, too little for the long address.
    QVERIFY(header->sectionSize(TfrmMain::kColUrl) < view->sizeHintForColumn(TfrmMain::kColUrl));
    QVERIFY(header->sectionSize(TfrmMain::kColUrl) >= 80);
    QVERIFY(grille->textElideMode() != Qt::ElideNone);

    // A wider window gives the width to the URL column alone.
    const int nom = header->sectionSize(TfrmMain::kColNom);
    const int url = header->sectionSize(TfrmMain::kColUrl);
    main.resize(900, 480);
    QTRY_VERIFY(header->sectionSize(TfrmMain::kColUrl) > url);
    QCOMPARE(header->sectionSize(TfrmMain::kColNom), nom);
  }

  void theStatesThatCallForAttentionStandOut() {
    const std::string date = "26/12/08 \xe0 09:12";
    TSession session(TLinks{{"change", "a", date, date, "Changements d\xe9tect\xe9s"},
                            {"echec", "b", date, date, "Echec de la mise \xe0 jour"},
                            {"calme", "c", date, date, "Pas de changement"}});
    session.Start();
    TfrmMain& main = session.Main();
    // The change not seen yet.
    QVERIFY(session.Data().TrouverLien("change"));
    session.Data().Table.SetData(kFieldNonLu, kOui);
    main.RemplirGrille();
    struct TProbe : TEtatDelegate {
      using TEtatDelegate::initStyleOption;
      using TEtatDelegate::TEtatDelegate;
    } probe(TfrmMain::kColEtat, nullptr);
    QVERIFY(qobject_cast<TEtatDelegate*>(main.Grille->itemDelegate()) != nullptr);
    const QAbstractItemModel* model = main.Grille->model();
    const auto option = [&](const QString& name, int column) {
      for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() != name) continue;
        QStyleOptionViewItem item;
        item.initFrom(main.Grille);
        probe.initStyleOption(&item, model->index(row, column));
        return item;
      }
      return QStyleOptionViewItem();
    };
    const QPalette palette = main.Grille->palette();
    // A change not seen yet: the whole row in bold.
    for (int column = 0; column < TfrmMain::kColumnCount; ++column)
      QVERIFY(option("change", column).font.bold());
    // A failure: its state in the palette's visited-link colour, in italics.
    const QStyleOptionViewItem echec = option("echec", TfrmMain::kColEtat);
    QVERIFY(echec.font.italic());
    QCOMPARE(echec.palette.color(QPalette::Text), palette.color(QPalette::LinkVisited));
    QVERIFY(!echec.font.bold());
    // The others as they were.
    const QStyleOptionViewItem calme = option("calme", TfrmMain::kColEtat);
    QVERIFY(!calme.font.bold() && !calme.font.italic());
    QCOMPARE(calme.palette.color(QPalette::Text), palette.color(QPalette::Text));
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
      QCOMPARE(about->Label2->text(), QStringLiteral("(Dernière mise à jour le 9 décembre 2026)"));
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
