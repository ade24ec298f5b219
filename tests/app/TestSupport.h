// What the GUI tests share: temporary data directories, data files written
// and read back with the table engine, and answers to the modal windows the
// code under test opens (message boxes, dialogs). GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QWidget;

namespace veilex {
class TData;
class TfrmMain;
}  // namespace veilex

namespace veilex::test {

using TRow = std::vector<std::string>;
using TLinks = std::vector<TRow>;

// A row as the data file holds it: the six link fields given, then the fields
// added after them, empty.
TRow StoredRow(TRow six_fields);

// A fresh directory, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir();
  std::string Path() const { return dir_.path().toStdString() + "/"; }
  std::string DataFile() const { return Path() + "veilex.mlb"; }

 private:
  QTemporaryDir dir_;
};

// A table file as the table engine reads it back.
struct TStoredTable {
  bool loaded = false;
  std::vector<std::string> fields;
  std::vector<TRow> rows;  // values in field order

  // The values of one field in file order.
  std::vector<std::string> Column(const std::string& field) const;
  // The row whose `nom` is `nom` (the first one), or an empty row.
  TRow Link(const std::string& nom) const;
  std::string Value(const std::string& nom, const std::string& field) const;
};

TStoredTable ReadTable(const std::string& file_name);
// Writes the six link fields and `links`, each given as nom, url, majok, maj,
// etat, page (missing values empty).
void WriteLinks(const std::string& file_name, const std::vector<TRow>& links);
void WriteTable(const std::string& file_name, const std::vector<std::string>& fields,
                const std::vector<TRow>& rows);
std::string ReadBytes(const std::string& file_name);
void WriteBytes(const std::string& file_name, const std::string& bytes);

// A double click as a mouse makes it: press and release, then the double
// click event (QTest::mouseDClick alone sends only the latter).
void DoubleClick(QWidget* widget, QPoint position);

// Types `text` into `widget` key by key, accented letters included (which
// QTest::keyClicks refuses).
void Type(QWidget* widget, const QString& text);

// Runs `answer` on the next modal window that opens above the one active now,
// checking every 10 ms. When none opens within 5 seconds, it counts the miss
// and closes whatever modal window is open.
void WhenModal(std::function<void(QWidget*)> answer);
// Starts (once) a watchdog that closes any modal window left open for more
// than 8 seconds, counting a miss, so that no test hangs on a window nobody
// answers.
void InstallModalWatchdog();
// Stops every WhenModal still waiting, each counted as unanswered, and every
// timer named kTestWatchName; for a test's cleanup.
inline constexpr const char* kTestWatchName = "veilex-test-watch";
void CancelPendingAnswers();
// A test's init and cleanup: the watchdog in place and the count at 0, then
// nothing left waiting, every modal window answered, none left open.
void BeginModalChecks();
void EndModalChecks();
// How many modal windows went unanswered; a test expects 0.
int UnansweredModals();
void ResetUnansweredModals();

// What a message box showed.
struct TBoxSeen {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

// Answers the next modal window, which must be a message box, by pressing
// `button`; with QMessageBox::NoButton it closes the box as a window manager
// would. What the box showed goes to `seen`. `then` runs just before the
// answer, to schedule what follows the box.
void AnswerBox(TBoxSeen* seen, QMessageBox::StandardButton button = QMessageBox::Ok,
               std::function<void()> then = nullptr);

// A running Veilex without its event loop: a link store on a data file in a
// temporary directory and the main window over it, shown.
class TSession {
 public:
  // Writes `links` first unless there are none (then it is a first start).
  explicit TSession(const std::vector<TRow>& links = {});
  ~TSession();

  // Creates the store and the window and shows it; the show fills the list.
  void Start();
  // Destroys the window, then the store (the exit save).
  void Stop();

  TData& Data() { return *data_; }
  TfrmMain& Main() { return *main_; }
  const TTempDir& Dir() const { return dir_; }
  std::string DataFile() const { return dir_.DataFile(); }

  // The names in the order the list shows them, and in its internal order.
  QStringList ShownNames() const;
  QStringList InternalNames() const;
  // The internal row showing `name`, or -1.
  int RowOf(const QString& name) const;
  // Selects the row showing `name` with a mouse click on it.
  void ClickRow(const QString& name);
  // Clicks the tool button of `action`.
  void ClickTool(QAction* action);
  // Lets the event loop run until no page check runs any more, at most
  // `limit_ms`; true when none runs.
  bool WaitForChecks(int limit_ms = 10000);

  // Failed saves seen; with `warn_like_the_program`, the warning box too.
  int save_errors = 0;
  bool warn_like_the_program = false;

 private:
  TTempDir dir_;
  std::unique_ptr<TData> data_;
  std::unique_ptr<TfrmMain> main_;
};

}  // namespace veilex::test
