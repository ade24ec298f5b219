// « Voir les changements »: the command and its boxes, and the comparison
// window on a link checked twice against nginx with a changed page: the
// changed words highlighted, the navigation, the source switch, the date
// and « Ouvrir la page ». The versions of a link's history: choosing two,
// walking their changes across pairs, saving one. Also the colours in light
// and dark palettes.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLocale>
#include <QAction>
#include <QLabel>
#include <QPalette>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QThreadPool>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>

#include "app/ComparisonRender.h"
#include "app/uChangements.h"
#include "app/uMain.h"
#include "history/THistory.h"
#include "tests/app/TestSupport.h"
#include "tests/support/NginxPeer.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

using testing::NginxPeer;

// A page with two changes far apart: a word in the first paragraph, a word
// in the last, ten unchanged paragraphs between.
std::string Page(const std::string& animal, const std::string& mois) {
  std::string page = "<html><head><title>Club</title><script>var x = 1;</script></head><body>\n";
  page += "<h1>Nouvelles</h1>\n<p>Le " + animal + " dort au soleil.</p>\n";
  for (int i = 1; i <= 10; ++i) page += "<p>Paragraphe " + std::to_string(i) + " sans changement.</p>\n";
  page += "<p>Fin du mois de " + mois + ".</p>\n</body></html>\n";
  return page;
}

// The format of the first piece of the document whose text is `text`.
bool FindFragment(const QTextDocument* document, const QString& text, QTextCharFormat& format) {
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      if (it.fragment().text() == text) {
        format = it.fragment().charFormat();
        return true;
      }
    }
  }
  return false;
}

double Lightness(const QColor& colour) { return colour.lightnessF(); }

// The link "Club" of a running session, its versions `pages` in its history
// (dated 24/05/01, 24/05/02, ...) and the last of them as its page.
struct THistorySession {
  explicit THistorySession(const std::vector<std::string>& pages, std::string page = {})
      : session(TLinks{{"Club", "127.0.0.1:1/club", "", "", "Changements détectés",
                        page.empty() ? pages.back() : page}}) {
    session.Start();
    // Written once the store is open: the store finds no history to catch up.
    THistory history(THistory::FileFor(session.DataFile()), THistory::TOpen::Create);
    std::vector<TNewVersion> versions;
    for (size_t i = 0; i < pages.size(); ++i)
      versions.push_back({"Club", "24/05/0" + std::to_string(i + 1) + " \xe0 10:00", pages[i]});
    history.Add(versions, {});
  }
  // The comparison window, its first comparison shown.
  TfrmChangements* Open() {
    TfrmChangements* window = OuvrirChangements(&session.Main(), session.Data(), "Club");
    if (window != nullptr && !QTest::qWaitFor([window] { return window->Ready(); }, 5000)) return nullptr;
    return window;
  }
  TSession session;
};

// Waits for the comparison of the pair chosen; true when it is shown.
bool Shown(TfrmChangements* window) {
  return QTest::qWaitFor([window] { return window->Ready(); }, 5000);
}

}  // namespace

class TestChangements : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!NginxPeer::Installed() || !nginx_.Start()) QSKIP("nginx-light is needed (scripts/install-deps)");
  }
  void init() { BeginModalChecks(); }
  void cleanup() { EndModalChecks(); }

  void theCommandSitsAfterToutMettreAJour() {
    TSession session;
    session.Start();
    const QList<QAction*> actions = session.Main().ToolBar1->actions();
    const int index = actions.indexOf(session.Main().actVoirChangements);
    QVERIFY(index > 0);
    QCOMPARE(actions[index - 1], session.Main().actToutMettreAJour);
    QCOMPARE(session.Main().actVoirChangements->iconText(), QStringLiteral("Voir les changements"));
  }

  void noRowSelectedSaysRienAComparer() {
    TSession session(TLinks{{"site", "127.0.0.1:1/"}});
    session.Start();
    // Greyed: neither its button nor Return does anything; the command run
    // all the same says there is nothing to compare.
    QVERIFY(!session.Main().actVoirChangements->isEnabled());
    session.ClickTool(session.Main().actVoirChangements);
    QTest::keyClick(session.Main().Grille, Qt::Key_Return);
    QTest::qWait(50);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    TBoxSeen seen;
    AnswerBox(&seen);
    session.Main().actVoirChangementsExecute();
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Erreur"));
    QCOMPARE(seen.text, QStringLiteral("Rien à comparer."));
    QCOMPARE(seen.icon, QMessageBox::Critical);
  }

  void aLinkWithoutPreviousVersionSaysSoInAnInformationBox() {
    nginx_.WriteFile("/once.html", Page("chat", "mai"));
    TSession session(TLinks{{"site", Address("/once.html"), "inconnue", "inconnue", "Jamais mise \xe0 jour"}});
    session.Start();
    session.ClickRow(QStringLiteral("site"));
    session.ClickTool(session.Main().actMettreAJour);  // a first check: no previous version
    QVERIFY(session.WaitForChecks());
    TBoxSeen seen;
    AnswerBox(&seen);
    QTest::keyClick(session.Main().Grille, Qt::Key_Return);
    QVERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Information"));
    QCOMPARE(seen.text, QStringLiteral("Pas encore de version précédente à comparer pour ce lien."));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(session.Main().findChild<TfrmChangements*>() == nullptr);
  }

  void theWindowShowsTheChangedWordsAndNavigatesBetweenChanges() {
    nginx_.WriteFile("/twice.html", Page("chat", "mai"));
    TSession session(TLinks{{"Club", Address("/twice.html"), "inconnue", "inconnue", "Jamais mise \xe0 jour"}});
    session.Start();
    TfrmMain& main = session.Main();
    session.ClickRow(QStringLiteral("Club"));
    session.ClickTool(main.actMettreAJour);
    QVERIFY(session.WaitForChecks());
    nginx_.WriteFile("/twice.html", Page("chien", "juin"));
    session.ClickTool(main.actMettreAJour);
    QVERIFY(session.WaitForChecks());
    const QString chg = main.RowText(session.RowOf(QStringLiteral("Club")), TfrmMain::kColMaj);

    QTest::keyClick(main.Grille, Qt::Key_Return);
    auto* window = main.findChild<TfrmChangements*>();
    QVERIFY(window != nullptr);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Changements — Club"));
    QVERIFY(window->isWindow());
    QVERIFY(!window->testAttribute(Qt::WA_QuitOnClose));  // closing the main window still quits
    QTRY_VERIFY_WITH_TIMEOUT(window->Ready(), 5000);
    QCOMPARE(window->Mode(), TfrmChangements::kTexte);
    QVERIFY(window->btnTexte->isChecked());
    QCOMPARE(window->lblDate->text(), QStringLiteral("Changement détecté le ") + chg);

    // The text as a reader sees it: no script, no tags.
    const QString text = window->Vue->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("Le chatchien dort au soleil.")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("<p>")));
    QVERIFY(!text.contains(QStringLiteral("var x")));
    QVERIFY(text.contains(QStringLiteral("lignes identiques")));

    const TDiffColours colours = DiffColours(window->Vue->palette());
    QTextCharFormat added;
    QVERIFY(FindFragment(window->Vue->document(), QStringLiteral("chien"), added));
    QCOMPARE(added.background().color(), colours.AddedBackground);
    QVERIFY(!added.fontStrikeOut());
    QTextCharFormat removed;
    QVERIFY(FindFragment(window->Vue->document(), QStringLiteral("chat"), removed));
    QVERIFY(removed.fontStrikeOut());
    QCOMPARE(removed.foreground().color(), colours.RemovedText);
    QTextCharFormat same;
    QVERIFY(FindFragment(window->Vue->document(), QStringLiteral(" dort au soleil."), same));
    QVERIFY(!same.fontStrikeOut());
    QVERIFY(same.background().style() == Qt::NoBrush);

    // Two changes; the view starts on the first.
    QCOMPARE(window->ChangeCount(), 2);
    QCOMPARE(window->CurrentChange(), 0);
    QCOMPARE(window->lblCompte->text(), QStringLiteral("Changement 1 sur 2"));
    QVERIFY(!window->btnPrecedent->isEnabled());
    QVERIFY(window->btnSuivant->isEnabled());
    const int first = window->Vue->textCursor().position();
    QTest::mouseClick(window->btnSuivant, Qt::LeftButton);
    QCOMPARE(window->CurrentChange(), 1);
    QCOMPARE(window->lblCompte->text(), QStringLiteral("Changement 2 sur 2"));
    QVERIFY(!window->btnSuivant->isEnabled());
    QVERIFY(window->btnPrecedent->isEnabled());
    const int second = window->Vue->textCursor().position();
    QVERIFY(second > first);
    QCOMPARE(window->Vue->document()->toPlainText().mid(second, 23), QStringLiteral("Fin du mois de maijuin."));
    QTest::mouseClick(window->btnPrecedent, Qt::LeftButton);
    QCOMPARE(window->CurrentChange(), 0);
    QCOMPARE(window->Vue->textCursor().position(), first);

    // The source: the lines of the raw pages.
    QTest::mouseClick(window->btnSource, Qt::LeftButton);
    QCOMPARE(window->Mode(), TfrmChangements::kSource);
    QTRY_VERIFY_WITH_TIMEOUT(window->Ready(), 5000);
    const QString source = window->Vue->toPlainText();
    QVERIFY2(source.contains(QStringLiteral("<p>Le chatchien dort au soleil.</p>")), qPrintable(source));
    QCOMPARE(window->ChangeCount(), 2);
    QTest::mouseClick(window->btnTexte, Qt::LeftButton);
    QVERIFY(window->Ready());  // kept from the first time
    QVERIFY(!window->Vue->toPlainText().contains(QStringLiteral("<p>")));

    // « Ouvrir la page » asks the desktop for the link's address.
    QUrl opened;
    window->OpenUrl = [&opened](const QUrl& url) {
      opened = url;
      return true;
    };
    QTest::mouseClick(window->btnOuvrir, Qt::LeftButton);
    QCOMPARE(opened, QUrl(QString::fromStdString("http://" + Address("/twice.html"))));

    QTest::mouseClick(window->btnFermer, Qt::LeftButton);
    QTRY_VERIFY(main.findChild<TfrmChangements*>() == nullptr);  // deleted on close
  }

  void theWindowListsTheVersionsAndComparesAnyTwo() {
    const std::vector<std::string> pages = {Page("chat", "mai"), Page("chien", "juin"), Page("loup", "juillet")};
    // The store's page is one save ahead of its history.
    THistorySession club(pages, Page("ours", "ao\xc3\xbbt"));
    TfrmChangements* window = club.Open();
    QVERIFY(window != nullptr);
    QVERIFY(window->cbAvant->isVisibleTo(window));
    QCOMPARE(window->cbAvant->count(), 4);
    QCOMPARE(window->cbApres->count(), 4);
    QCOMPARE(window->cbAvant->itemText(0), QStringLiteral("1 — 24/05/01 à 10:00 — %1 octets")
                                               .arg(QLocale(QLocale::French).toString(qlonglong(pages[0].size()))));
    QVERIFY(window->cbAvant->itemText(3).startsWith(QStringLiteral("4 — date inconnue — ")));
    // The last pair first: the store's page against the history's latest.
    QCOMPARE(window->cbAvant->currentIndex(), 2);
    QCOMPARE(window->cbApres->currentIndex(), 3);
    QVERIFY(window->Vue->toPlainText().contains(QStringLiteral("Le loupours dort")));

    QVERIFY(QTest::qWaitForWindowExposed(window));
    QApplication::setActiveWindow(window);
    QTest::keyClick(window, Qt::Key_V, Qt::AltModifier);
    QVERIFY(window->cbAvant->hasFocus());
    QTest::keyClick(window, Qt::Key_P, Qt::AltModifier);
    QVERIFY(window->cbApres->hasFocus());
    QTest::keyClick(window->cbAvant, Qt::Key_Home);  // the first version
    QCOMPARE(window->Before(), 0);
    QVERIFY(Shown(window));
    QVERIFY2(window->Vue->toPlainText().contains(QStringLiteral("Le chatours dort")),
             qPrintable(window->Vue->toPlainText()));
    QTest::keyClick(window->cbApres, Qt::Key_Up);  // the third
    QVERIFY(Shown(window));
    QVERIFY(window->Vue->toPlainText().contains(QStringLiteral("Fin du mois de maijuillet.")));
    QCOMPARE(window->lblDate->text(), QStringLiteral("Changement détecté le 24/05/03 à 10:00"));
    window->close();
  }

  // Each pair of versions has two changes: « suivant » and « précédent »
  // go through all six, from pair to pair, and stop only at the ends.
  void theWalkCrossesPairsOfVersionsAndStopsAtTheEnds() {
    THistorySession club({Page("chat", "mai"), Page("chien", "juin"), Page("loup", "juillet"), Page("ours", "ao\xc3\xbbt")});
    TfrmChangements* window = club.Open();
    QVERIFY(window != nullptr);
    struct TStep {
      QPushButton* button;
      int before, change;
    };
    const TStep back[] = {{window->btnPrecedent, 2, 0}, {window->btnPrecedent, 1, 1}, {window->btnPrecedent, 1, 0},
                          {window->btnPrecedent, 0, 1}, {window->btnPrecedent, 0, 0}};
    const TStep forth[] = {{window->btnSuivant, 0, 1}, {window->btnSuivant, 1, 0}, {window->btnSuivant, 1, 1},
                           {window->btnSuivant, 2, 0}, {window->btnSuivant, 2, 1}};
    QCOMPARE(window->Before(), 2);
    QCOMPARE(window->CurrentChange(), 0);
    QTest::mouseClick(window->btnSuivant, Qt::LeftButton);  // to the last change of the last pair
    for (const auto& steps : {std::vector<TStep>(std::begin(back), std::end(back)),
                              std::vector<TStep>(std::begin(forth), std::end(forth))}) {
      for (const TStep& step : steps) {
        QVERIFY(step.button->isEnabled());
        QTest::mouseClick(step.button, Qt::LeftButton);
        QVERIFY(Shown(window));
        QCOMPARE(window->Before(), step.before);
        QCOMPARE(window->After(), step.before + 1);
        QCOMPARE(window->CurrentChange(), step.change);
        QCOMPARE(window->cbAvant->currentIndex(), step.before);
      }
      QVERIFY(!steps.back().button->isEnabled());  // the very end
    }
    window->close();
  }

  void theSavedFileHoldsTheVersionsBytesExactly() {
    using namespace std::string_literals;
    const std::string binary = "<p>un</p>\0\xff\xfe\r\n\0fin"s;
    THistorySession club({binary, "<p>deux</p>", "<p>trois</p>"});
    TfrmChangements* window = club.Open();
    QVERIFY(window != nullptr);
    const std::string target = club.session.Dir().Path() + "version.html";
    QString suggested;
    window->ChooseFile = [&](const QString& name) {
      suggested = name;
      return QString::fromStdString(target);
    };
    QTest::keyClick(window->cbApres, Qt::Key_Home);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QApplication::setActiveWindow(window);
    QTest::keyClick(window, Qt::Key_E, Qt::AltModifier);
    QTRY_COMPARE(suggested, QStringLiteral("Club-version-1.html"));  // the button clicks itself shortly after
    QCOMPARE(ReadBytes(target), binary);

    // A file that cannot be made says so; nothing is left behind.
    window->ChooseFile = [&](const QString&) { return QString::fromStdString(target + ".d/absent/v.html"); };
    TBoxSeen seen;
    AnswerBox(&seen);
    QTest::mouseClick(window->btnEnregistrer, Qt::LeftButton);
    QTRY_VERIFY(seen.seen);
    QCOMPARE(seen.title, QStringLiteral("Erreur"));
    QVERIFY2(seen.text.startsWith(QStringLiteral("La version n'a pas pu être enregistrée dans « ")), qPrintable(seen.text));
    QVERIFY(!QFile::exists(QString::fromStdString(target + ".d")));
    // Giving up writes nothing.
    window->ChooseFile = [](const QString&) { return QString(); };
    QTest::mouseClick(window->btnEnregistrer, Qt::LeftButton);
    window->close();
  }

  // Without a history worth choosing from, the window compares the store's
  // previous page and page, as it did before histories, and saves the page.
  void aLinkWithoutHistoryComparesItsTwoPagesAsBefore_data() {
    QTest::addColumn<QByteArray>("history");  // the history file's bytes; "one": a single version
    QTest::newRow("no history") << QByteArray();
    QTest::newRow("damaged history") << QByteArray("SQLite format 3\0 not quite", 27);
    QTest::newRow("one version") << QByteArray("one");
  }

  void aLinkWithoutHistoryComparesItsTwoPagesAsBefore() {
    QFETCH(QByteArray, history);
    TSession session(TLinks{{"Club", "127.0.0.1:1/club", "", "", "Changements détectés", Page("chien", "juin")}});
    session.Start();
    QVERIFY(session.Data().TrouverLien("Club"));
    session.Data().Table.SetData(kFieldAncienne, Page("chat", "mai"));
    const std::string file = THistory::FileFor(session.DataFile());
    if (history == "one") {
      THistory(file, THistory::TOpen::Create).Add({{"Club", "", Page("chien", "juin")}}, {});
    } else if (!history.isEmpty()) {
      WriteBytes(file, history.toStdString());
    }
    QPointer<TfrmChangements> window = OuvrirChangements(&session.Main(), session.Data(), "Club");
    QVERIFY(window);
    QVERIFY(Shown(window));
    QVERIFY(!window->Versions().FromHistory());
    QVERIFY(!window->cbAvant->isVisibleTo(window));
    QCOMPARE(window->lblDate->text(), QStringLiteral("Date du changement inconnue"));
    QCOMPARE(window->ChangeCount(), 2);
    QVERIFY(!window->btnPrecedent->isEnabled());
    QTest::mouseClick(window->btnSuivant, Qt::LeftButton);
    QCOMPARE(window->CurrentChange(), 1);
    QVERIFY(!window->btnSuivant->isEnabled());
    const std::string target = session.Dir().Path() + "page.html";
    window->ChooseFile = [&](const QString&) { return QString::fromStdString(target); };
    QTest::mouseClick(window->btnEnregistrer, Qt::LeftButton);
    QCOMPARE(ReadBytes(target), Page("chien", "juin"));
    window->close();
  }

  void onlyMarkupChangedSaysTheTextIsTheSame() {
    TfrmChangements window({"n", "example.org/", "24/05/02 \xe0 10:30", "<p>same</p>", "<p class=x>same</p>"});
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(window.Ready(), 5000);
    QCOMPARE(window.ChangeCount(), 0);
    QCOMPARE(window.lblCompte->text(), QStringLiteral("Aucun changement"));
    QVERIFY(window.Vue->toPlainText().contains(QStringLiteral("« Source »")));
    QVERIFY(!window.btnSuivant->isEnabled());
    window.SetMode(TfrmChangements::kSource);
    QTRY_VERIFY_WITH_TIMEOUT(window.Ready(), 5000);
    QCOMPARE(window.ChangeCount(), 1);
  }

  void anAddressWithItsSchemeOpensAsStored() {
    TfrmChangements https({"n", "https://example.org/a", "", "a", "b"});
    QCOMPARE(https.PageUrl(), QUrl(QStringLiteral("https://example.org/a")));
    QCOMPARE(https.lblDate->text(), QStringLiteral("Date du changement inconnue"));
    TfrmChangements plain({"n", "example.org:8080/a?b=c", "", "a", "b"});
    QCOMPARE(plain.PageUrl(), QUrl(QStringLiteral("http://example.org:8080/a?b=c")));
    // The host the check fetches from, whatever the address holds after it.
    TfrmChangements odd({"n", "https://a.example?@b.example/#haut", "", "a", "b"});
    QCOMPARE(odd.PageUrl(), QUrl(QStringLiteral("https://a.example/?@b.example/#haut")));
  }

  void theLimitsAreSaidInTheWindow() {
    TCompareLimits limits;
    limits.MaxBlockWords = 1;
    TfrmChangements window({"n", "x/", "", "one two\n", "one three\n"}, nullptr, limits);
    QTRY_VERIFY_WITH_TIMEOUT(window.Ready(), 5000);
    QVERIFY(!window.lblNote->isHidden());
    QVERIFY(window.lblNote->text().contains(QStringLiteral("lignes entières")));
  }

  // A version past the parser's bounds is shown as its source lines, and the
  // window says why.
  void aPageTooDeepForTheTextViewIsShownAsItsSourceWithTheReason() {
    std::string deep;
    for (int i = 0; i < 2000; ++i) deep += "<span>";
    TfrmChangements window({"n", "x/", "", deep + "\nancien\n", deep + "\nnouveau\n"});
    QTRY_VERIFY_WITH_TIMEOUT(window.Ready(), 5000);
    QCOMPARE(window.ChangeCount(), 1);
    QVERIFY(window.Vue->toPlainText().contains(QStringLiteral("<span><span>")));
    QVERIFY(window.Vue->toPlainText().contains(QStringLiteral("nouveau")));
    QVERIFY(!window.lblNote->isHidden());
    QCOMPARE(window.lblNote->text(),
             QStringLiteral("Page trop imbriquée pour être lue comme HTML : plus de 1024 éléments les uns dans les "
                            "autres. Sa source est montrée à la place."));
  }

  // Closing the window stops its comparison, even one still parsing a page
  // that would take the parser long: nothing is left for the program's end
  // to wait for.
  void closingTheWindowStopsAParseUnderWay() {
    std::string slow;
    for (int i = 0; i < 1000; ++i) slow += "<div>";
    for (int i = 0; i < 400'000; ++i) slow += "<li>x";
    QPointer<TfrmChangements> window = new TfrmChangements({"n", "x/", "", slow, slow + "<p>y"});
    window->show();
    QTest::qWait(200);
    QVERIFY(!window->Ready());
    window->close();  // deletes itself
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 1000);
    QElapsedTimer took;
    took.start();
    QVERIFY(QThreadPool::globalInstance()->waitForDone(3000));
    QVERIFY2(took.elapsed() < 3000, qPrintable(QString::number(took.elapsed())));
  }

  void theColoursFollowLightAndDarkPalettes() {
    QPalette light;
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Text, Qt::black);
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    for (const QPalette& palette : {light, dark}) {
      const TDiffColours colours = DiffColours(palette);
      const double text = Lightness(palette.color(QPalette::Text));
      // The text stays readable on both grounds, and the removed text on the base.
      QVERIFY(std::abs(text - Lightness(colours.AddedBackground)) > 0.4);
      QVERIFY(std::abs(text - Lightness(colours.RemovedBackground)) > 0.4);
      QVERIFY(std::abs(Lightness(palette.color(QPalette::Base)) - Lightness(colours.RemovedText)) > 0.3);
      QVERIFY(colours.AddedBackground.green() > colours.AddedBackground.red());
      QVERIFY(colours.RemovedText.red() > colours.RemovedText.green());
    }
  }

 private:
  std::string Address(const std::string& path) { return "127.0.0.1:" + std::to_string(nginx_.Port()) + path; }

  NginxPeer nginx_;
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestChangements)
#include "tst_Changements.moc"
