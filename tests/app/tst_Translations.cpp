// Qt's own texts in French: the standard buttons of the boxes read « Oui »,
// « Non », « Annuler » once the translations are installed as the program
// does at start-up; and the window icon and the about box's data file line.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/Application.h"
#include "app/Translations.h"
#include "app/uAproposDe.h"

namespace veilex::test {

class TestTranslations : public QObject {
  Q_OBJECT

 private slots:
  void standardButtonsReadInFrench() {
    const QString file = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_fr.qm";
    if (!QFileInfo::exists(file)) QSKIP(qPrintable("Qt's French translations are not installed: " + file));
    QVERIFY(InstallFrenchTranslations());
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    auto text = [&](QMessageBox::StandardButton which) { return box.button(which)->text().remove('&'); };
    QCOMPARE(text(QMessageBox::Yes), QStringLiteral("Oui"));
    QCOMPARE(text(QMessageBox::No), QStringLiteral("Non"));
    QCOMPARE(text(QMessageBox::Cancel), QStringLiteral("Annuler"));
  }

  void theAboutBoxNamesTheDataFileInUse() {
    const std::string long_name = "/home/quelqu'un/" + std::string(200, 'd') + "/veilex.mlb";
    TfrmAproposDe::SetDataFileShown(long_name);
    TfrmAproposDe about;
    QVERIFY(!about.Label5->isHidden());
    QVERIFY(about.Label5->text().startsWith(QStringLiteral("Fichier des liens : /home/")));
    QVERIFY(about.Label5->text().endsWith(QStringLiteral("veilex.mlb")));
    QVERIFY(about.Label5->sizeHint().width() <= about.width());  // cut in the middle to fit
    QCOMPARE(about.Label5->toolTip(), QString::fromStdString(long_name));
    TfrmAproposDe::SetDataFileShown("");
    TfrmAproposDe without;
    QVERIFY(without.Label5->isHidden());
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestTranslations)
#include "tst_Translations.moc"
