// The whole run, from the lock to the last save: first start, restart, a data
// file that cannot be read, a second Veilex on the same file (a process that
// holds the lock, and the real program), and a start-up save that fails.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <QTimer>
#include <QToolBar>
#include <cerrno>
#include <filesystem>

#include "app/Application.h"
#include "app/DataSession.h"
#include "app/SingleInstance.h"
#include "app/uMain.h"
#include "app/uURL.h"
#include "mlb/SafeFileWriter.h"
#include "tests/app/TestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

namespace fs = std::filesystem;

// Runs `steps` on the main window once it is shown.
void WhenMainWindowShown(std::function<void(TfrmMain*)> steps) {
  auto* timer = new QTimer(qApp);
  timer->setObjectName(kTestWatchName);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, steps] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* main = qobject_cast<TfrmMain*>(widget);
      if (main == nullptr || !main->isVisible() || QApplication::activeModalWidget() != nullptr) continue;
      timer->stop();
      timer->deleteLater();
      steps(main);
      return;
    }
  });
  timer->start(10);
}

void Quit(TfrmMain* main) {
  QTest::mouseClick(main->ToolButton(main->actQuitter), Qt::LeftButton);
}

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!condition()) {
    if (clock.elapsed() > timeout_ms) return false;
    QTest::qWait(20);
  }
  return true;
}

// The fields a new data file gets: the six, then those added after them.
std::vector<std::string> AllLinkFields() {
  std::vector<std::string> fields(std::begin(kLinkFields), std::end(kLinkFields));
  fields.insert(fields.end(), std::begin(kAddedLinkFields), std::end(kAddedLinkFields));
  return fields;
}

bool LockHeldElsewhere(const std::string& data_file) { return HeldByAnotherProcess(data_file); }

// The pid of a process that has ended, as a save cut short leaves in its
// temporary file's name.
std::string EndedPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return std::to_string(child);
}

ssize_t FailingWrite(int, const struct iovec*, int) {
  errno = ENOSPC;
  return -1;
}

// A process stopped for good at the end of the test, whatever happens.
class TChild {
 public:
  ~TChild() {
    process.kill();
    process.waitForFinished(5000);
  }
  QProcess process;
};

// Starts `holder` as one process that locks the data file and then only
// sleeps (flock(1) alone would leave the lock with its child); true once the
// lock is held.
bool HoldLock(TChild& holder, const std::string& data_file) {
  holder.process.start("sh", {"-c", "exec 9<\"$0\" && flock 9 && exec sleep 60",
                              QString::fromStdString(data_file)});
  return holder.process.waitForStarted(5000) && WaitFor([&] { return LockHeldElsewhere(data_file); }, 5000);
}

}  // namespace

class TestStartup : public QObject {
  Q_OBJECT

 private slots:
  void init() { BeginModalChecks(); }
  void cleanup() {
    TSafeFileWriter::SetWriteFunction(nullptr);
    EndModalChecks();
  }

  void aFirstRunCreatesTheFileAtOnceAndLinksSurviveARestart() {
    TTempDir dir;
    bool first_seen = false;
    WhenMainWindowShown([&](TfrmMain* main) {
      first_seen = true;
      QCOMPARE(main->RowCount(), 0);
      const TStoredTable stored = ReadTable(dir.DataFile());
      QVERIFY(stored.loaded);  // written by the start-up save, before any change
      QCOMPARE(stored.fields, AllLinkFields());
      WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmURL*>(modal);
        QVERIFY(dialog != nullptr);
        Type(dialog->edtNom, "Journal");
        Type(dialog->edtURL, "journal.example.org");
        QTest::mouseClick(dialog->btnConserver, Qt::LeftButton);
      });
      QTest::mouseClick(main->ToolButton(main->actAjouter), Qt::LeftButton);
      Quit(main);
    });
    QCOMPARE(RunVeilex(dir.DataFile()), 0);
    QVERIFY(first_seen);
    // The program's own icon, from its resources, on every window.
    QCOMPARE(QApplication::windowIcon().availableSizes(), QList<QSize>{QSize(64, 64)});

    QString shown;
    WhenMainWindowShown([&](TfrmMain* main) {
      if (main->RowCount() == 1)
        shown = main->RowText(0, TfrmMain::kColNom) + " " + main->RowText(0, TfrmMain::kColUrl);
      Quit(main);
    });
    QCOMPARE(RunVeilex(dir.DataFile()), 0);
    QCOMPARE(shown, QStringLiteral("Journal journal.example.org"));
  }

  void anUnreadableFileIsToldAndLeftByteForByte_data() {
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("problem");
    const QString not_mlb = QStringLiteral("ce n'est pas une table MLB");
    QTest::newRow("not an MLB file") << QByteArray("nom;url\r\nJournal;journal.example.org\r\n") << not_mlb;
    QTest::newRow("no table") << QByteArray("MLB\x02\x02\x01\x00\x00", 8)
                              << QStringLiteral("la table MLB est endommagée");
    QTest::newRow("empty") << QByteArray() << not_mlb;
  }

  void anUnreadableFileIsToldAndLeftByteForByte() {
    QFETCH(QByteArray, contents);
    QFETCH(QString, problem);
    TTempDir dir;
    const std::string bytes = contents.toStdString();
    WriteBytes(dir.DataFile(), bytes);
    TBoxSeen box;
    AnswerBox(&box);
    bool window_shown = false;
    WhenMainWindowShown([&](TfrmMain* main) {
      window_shown = true;
      main->close();
    });
    QCOMPARE(RunVeilex(dir.DataFile()), 1);
    QVERIFY(!window_shown);
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Erreur"));
    QCOMPARE(box.text, UnreadableFileText(dir.DataFile(), problem.toStdString()));
    QVERIFY(box.text.contains(problem));
    QVERIFY(box.text.contains(QString::fromStdString(dir.DataFile())));
    QVERIFY(box.text.contains(QStringLiteral("n'a pas pu être lu")));
    QCOMPARE(ReadBytes(dir.DataFile()), bytes);
    for (QWidget* widget : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<TfrmMain*>(widget));
  }

  void aProcessHoldingTheLockKeepsASecondRunAwayUntilItDies() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {{"Journal", "journal.example.org"}});
    const std::string before = ReadBytes(dir.DataFile());
    const auto written = fs::last_write_time(dir.DataFile());
    TChild holder;
    QVERIFY(HoldLock(holder, dir.DataFile()));

    TBoxSeen box;
    AnswerBox(&box);
    QCOMPARE(RunVeilex(dir.DataFile()), 1);
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Erreur"));
    QCOMPARE(box.text, AlreadyRunningText(dir.DataFile()));
    QCOMPARE(ReadBytes(dir.DataFile()), before);
    QVERIFY(fs::last_write_time(dir.DataFile()) == written);

    // A holder that dies without a word (as in a crash) frees the file.
    holder.process.kill();
    QVERIFY(holder.process.waitForFinished(5000));
    bool shown = false;
    WhenMainWindowShown([&](TfrmMain* main) {
      shown = main->RowCount() == 1;
      Quit(main);
    });
    QCOMPARE(RunVeilex(dir.DataFile()), 0);
    QVERIFY(shown);
  }

  void theProgramKeepsItsFileNextToItsExecutableAndHoldsIt() {
    TTempDir place, elsewhere;
    const std::string bin = place.Path() + "bin/";
    fs::create_directories(bin);
    fs::copy_file(VEILEX_EXECUTABLE, bin + "veilex");
    TChild veilex;
    veilex.process.setWorkingDirectory(QString::fromStdString(elsewhere.Path()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    veilex.process.setProcessEnvironment(environment);
    veilex.process.start(QString::fromStdString(bin + "veilex"), {});
    QVERIFY(veilex.process.waitForStarted(5000));
    QVERIFY(WaitFor([&] { return ReadTable(bin + "veilex.mlb").loaded; }, 20000));
    QCOMPARE(ReadTable(bin + "veilex.mlb").fields, AllLinkFields());
    QVERIFY(!fs::exists(elsewhere.DataFile()));
    QVERIFY(WaitFor([&] { return LockHeldElsewhere(bin + "veilex.mlb"); }, 5000));

    // A second start hands over to the running Veilex, which answers once
    // its window is shown; no box, and the first one runs on.
    QCOMPARE(RunVeilex(bin + "veilex.mlb"), 0);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(veilex.process.state(), QProcess::Running);
  }

  void leftoversOfAnInterruptedSaveGoOnlyOnceTheLockIsHeld() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {{"Journal", "journal.example.org"}});
    const std::string leftover = dir.Path() + ".veilex.mlb.tmp4242.0";
    const std::string other = dir.Path() + ".autre.mlb.tmp4242.0";
    WriteBytes(leftover, std::string(1000, 'x'));
    WriteBytes(other, "x");

    // While another process holds the file, its save may be under way.
    TChild holder;
    QVERIFY(HoldLock(holder, dir.DataFile()));
    TBoxSeen box;
    AnswerBox(&box);
    QCOMPARE(RunVeilex(dir.DataFile()), 1);
    QVERIFY(fs::exists(leftover));
    holder.process.kill();
    QVERIFY(holder.process.waitForFinished(5000));

    bool shown = false;
    WhenMainWindowShown([&](TfrmMain* main) {
      shown = main->RowCount() == 1;
      QVERIFY(!fs::exists(leftover));  // gone before the window came up
      Quit(main);
    });
    QCOMPARE(RunVeilex(dir.DataFile()), 0);
    QVERIFY(shown);
    QVERIFY(fs::exists(other));
  }

  void everyPathToTheFileMeetsOneLock() {
    TTempDir dir;
    WriteLinks(dir.Path() + "real.mlb", {{"Journal", "journal.example.org"}});
    fs::create_symlink("real.mlb", dir.Path() + "link.mlb");
    TDataSession first(dir.Path() + "real.mlb", nullptr);
    QCOMPARE(first.State(), TDataSession::TState::Open);
    // The first one's save may be under way: its temporary file must stay.
    const std::string saving = dir.Path() + ".real.mlb.tmp" + EndedPid() + ".0";
    WriteBytes(saving, "x");
    TDataSession second(dir.Path() + "link.mlb", nullptr);
    QCOMPARE(second.State(), TDataSession::TState::HeldElsewhere);
    QVERIFY(fs::exists(saving));
  }

  void aFileWhoseLockFileCannotBeMadeIsStillLocked() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {{"Journal", "journal.example.org"}});
    // As in a directory Veilex may not write: no "veilex.mlb.lock" can be made.
    fs::create_symlink("nulle/part", dir.DataFile() + ".lock");
    TDataSession first(dir.DataFile(), nullptr);
    QCOMPARE(first.State(), TDataSession::TState::Open);
    first.Data().Save();  // replaces the file: the lock goes with it
    TDataSession second(dir.DataFile(), nullptr);
    QCOMPARE(second.State(), TDataSession::TState::HeldElsewhere);
  }

  void aFileThatCannotBeLockedIsToldAndNotOpened() {
    TTempDir dir;
    const std::string nowhere = dir.Path() + "absent/veilex.mlb";
    TBoxSeen box;
    AnswerBox(&box);
    QCOMPARE(RunVeilex(nowhere), 1);
    QVERIFY(box.seen);
    QCOMPARE(box.text, UnlockableFileText(nowhere, ENOENT));
    QVERIFY(box.text.contains(QStringLiteral("n'a pas pu être verrouillé")));
  }

  void aStartWithoutASessionBusLeavesNoProcessBehind() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("dbus-launch")).isEmpty())
      QSKIP("Xvfb and dbus-launch are needed (scripts/install-deps)");
    // Whatever the program leaves behind becomes this process's child.
    QVERIFY(::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0);
    TTempDir dir;
    const QString display_file = QString::fromStdString(dir.Path() + "display");
    TChild xvfb;
    xvfb.process.start("sh", {"-c", "exec Xvfb -displayfd 3 -nolisten tcp 3>\"$0\"", display_file});
    QVERIFY(WaitFor([&] { return ReadBytes(display_file.toStdString()).find('\n') != std::string::npos; }, 10000));
    const QString display = QString::fromStdString(ReadBytes(display_file.toStdString())).trimmed();

    TChild veilex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.insert("XDG_RUNTIME_DIR", "/nonexistent/veilex-test-runtime");
    environment.insert("DISPLAY", ":" + display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    veilex.process.setProcessEnvironment(environment);
    veilex.process.start(QStringLiteral(VEILEX_EXECUTABLE), {"--data", QString::fromStdString(dir.DataFile())});
    QVERIFY(WaitFor([&] { return ReadTable(dir.DataFile()).loaded; }, 20000));
    QTest::qWait(1000);  // the window up, the tray and the desktop asked for
    veilex.process.terminate();
    QVERIFY(veilex.process.waitForFinished(10000));
    QTest::qWait(500);

    QStringList left;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      bool number = false;
      const qint64 pid = entry.toLongLong(&number);
      if (!number || pid == xvfb.process.processId()) continue;
      const QString stat = QString::fromStdString(ReadBytes("/proc/" + entry.toStdString() + "/stat"));
      const QStringList fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
      if (fields.size() < 2 || fields[1].toLongLong() != ::getpid()) continue;
      left << QString::fromStdString(ReadBytes("/proc/" + entry.toStdString() + "/cmdline")).replace('\0', ' ');
      ::kill(static_cast<pid_t>(pid), SIGKILL);
      ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
    }
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QStringLiteral(" | "))));
  }

  void aStartUpSaveThatFailsIsToldAndTheRunGoesOn() {
    TTempDir dir;
    WriteLinks(dir.DataFile(), {{"Journal", "journal.example.org"}});
    const std::string before = ReadBytes(dir.DataFile());
    TSafeFileWriter::SetWriteFunction(&FailingWrite);  // a full disk
    TBoxSeen warning;
    AnswerBox(&warning, QMessageBox::Ok, [&] {
      QCOMPARE(ReadBytes(dir.DataFile()), before);
      TSafeFileWriter::SetWriteFunction(nullptr);  // room again
    });
    bool shown = false;
    WhenMainWindowShown([&](TfrmMain* main) {
      shown = main->RowCount() == 1;
      Quit(main);
    });
    QCOMPARE(RunVeilex(dir.DataFile()), 0);
    QVERIFY(warning.seen);
    QCOMPARE(warning.title, QStringLiteral("Avertissement"));
    QCOMPARE(warning.text, SaveFailedText(dir.DataFile()));
    QVERIFY(shown);
    QCOMPARE(ReadTable(dir.DataFile()).Column("nom"), std::vector<std::string>{"Journal"});
  }
};

}  // namespace veilex::test

QTEST_MAIN(veilex::test::TestStartup)
#include "tst_Startup.moc"
