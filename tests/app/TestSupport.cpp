#include "tests/app/TestSupport.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolBar>
#include <QTreeView>
#include <QWidget>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/Application.h"
#include "app/Settings.h"
#include "app/uMain.h"
#include "mlb/mlb2.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex::test {
namespace {

int g_unanswered = 0;
constexpr int kModalWaitMs = 5000;
constexpr const char* kModalAnswerName = "veilex-test-modal";

}  // namespace

TRow StoredRow(TRow six_fields) {
  for (const char* field : kAddedLinkFields) {
    (void)field;
    six_fields.emplace_back();
  }
  return six_fields;
}

TTempDir::TTempDir() : dir_(QDir::tempPath() + QStringLiteral("/veilex-app-XXXXXX")) {}

std::vector<std::string> TStoredTable::Column(const std::string& field) const {
  std::vector<std::string> values;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i] != field) continue;
    for (const auto& row : rows) values.push_back(row[i]);
  }
  return values;
}

TRow TStoredTable::Link(const std::string& nom) const {
  const std::vector<std::string> names = Column(kFieldNom);
  for (size_t r = 0; r < names.size(); ++r)
    if (names[r] == nom) return rows[r];
  return TRow();
}

std::string TStoredTable::Value(const std::string& nom, const std::string& field) const {
  const TRow row = Link(nom);
  for (size_t i = 0; i < fields.size() && i < row.size(); ++i)
    if (fields[i] == field) return row[i];
  return "<none>";
}

TStoredTable ReadTable(const std::string& file_name) {
  TMlb2 table;
  TStoredTable stored;
  stored.loaded = table.LoadFromMLBFile(file_name);
  for (int i = 1; i <= table.FieldCount(); ++i) stored.fields.push_back(table.GetFieldName(i));
  for (int pos = 1; pos <= table.RowCount(); ++pos) {
    TRow row;
    for (int i = 1; i <= table.FieldCount(); ++i) row.push_back(table.GetDataAt(i, pos));
    stored.rows.push_back(row);
  }
  return stored;
}

void WriteTable(const std::string& file_name, const std::vector<std::string>& fields,
                const std::vector<TRow>& rows) {
  TMlb2 table;
  for (const auto& field : fields) table.AddField(field);
  for (const auto& row : rows) {
    table.AddRow();
    for (size_t i = 0; i < row.size(); ++i) table.SetDataByIndex(static_cast<int>(i) + 1, row[i]);
  }
  table.SaveToMLBFile(file_name);
}

void WriteLinks(const std::string& file_name, const std::vector<TRow>& links) {
  WriteTable(file_name, {kFieldNom, kFieldUrl, kFieldMajOk, kFieldMaj, kFieldEtat, kFieldPage}, links);
}

std::string ReadBytes(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& file_name, const std::string& bytes) {
  std::ofstream(file_name, std::ios::binary) << bytes;
}

void DoubleClick(QWidget* widget, QPoint position) {
  QTest::mouseClick(widget, Qt::LeftButton, {}, position);
  QTest::mouseDClick(widget, Qt::LeftButton, {}, position);
}

void Type(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x80)
      QTest::keyClick(widget, c.toLatin1());
    else
      QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

void WhenModal(std::function<void(QWidget*)> answer) {
  QPointer<QWidget> before = QApplication::activeModalWidget();
  auto* timer = new QTimer(qApp);
  timer->setObjectName(kModalAnswerName);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != before.data() && modal->isVisible()) {
      timer->stop();
      timer->deleteLater();
      answer(modal);
      return;
    }
    if (clock->elapsed() > kModalWaitMs) {
      timer->stop();
      timer->deleteLater();
      ++g_unanswered;
      if (modal != nullptr) modal->close();
    }
  });
  timer->start(10);
}

void InstallModalWatchdog() {
  static QTimer* watchdog = nullptr;
  if (watchdog != nullptr) return;
  watchdog = new QTimer(qApp);
  auto watched = std::make_shared<QPointer<QWidget>>();
  auto clock = std::make_shared<QElapsedTimer>();
  QObject::connect(watchdog, &QTimer::timeout, watchdog, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != watched->data()) {
      *watched = modal;
      clock->start();
    } else if (modal != nullptr && clock->elapsed() > 8000) {
      ++g_unanswered;
      modal->close();
      clock->start();
    }
  });
  watchdog->start(250);
}

void CancelPendingAnswers() {
  for (QTimer* timer : qApp->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (timer->objectName() == QLatin1String(kModalAnswerName) && timer->isActive()) {
      ++g_unanswered;
    } else if (timer->objectName() != QLatin1String(kTestWatchName)) {
      continue;
    }
    timer->stop();
    timer->deleteLater();
  }
}

int UnansweredModals() { return g_unanswered; }

void BeginModalChecks() {
  InstallModalWatchdog();
  ResetUnansweredModals();
}

void EndModalChecks() {
  CancelPendingAnswers();
  QCOMPARE(UnansweredModals(), 0);
  QVERIFY(QApplication::activeModalWidget() == nullptr);
}
void ResetUnansweredModals() { g_unanswered = 0; }

void AnswerBox(TBoxSeen* seen, QMessageBox::StandardButton button, std::function<void()> then) {
  WhenModal([seen, button, then](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      ++g_unanswered;  // something else opened: count it as a miss
      modal->close();
      return;
    }
    if (seen != nullptr) {
      seen->seen = true;
      seen->title = box->windowTitle();
      seen->text = box->text();
      seen->icon = box->icon();
      seen->buttons = box->standardButtons();
      seen->default_button =
          box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    }
    if (then) then();
    if (button == QMessageBox::NoButton) {
      box->close();
    } else if (QAbstractButton* pressed = box->button(button)) {
      pressed->click();
    } else {
      ++g_unanswered;
      box->close();
    }
  });
}

TSession::TSession(const std::vector<TRow>& links) {
  // Every session starts with the list's default columns and sort; a
  // restart (Stop, Start) keeps what the user chose.
  SettingsStore()->remove(QStringLiteral("liste"));
  if (!links.empty()) WriteLinks(dir_.DataFile(), links);
}

TSession::~TSession() { Stop(); }

void TSession::Start() {
  data_ = std::make_unique<TData>(dir_.Path(), [this](TData& sender) {
    ++save_errors;
    if (warn_like_the_program) WarnSaveFailed(sender);
  });
  main_ = std::make_unique<TfrmMain>(*data_);
  main_->show();
}

void TSession::Stop() {
  main_.reset();
  data_.reset();
}

QStringList TSession::ShownNames() const {
  const QAbstractItemModel* model = main_->Grille->model();
  QStringList names;
  for (int row = 0; row < model->rowCount(); ++row) names << model->index(row, 0).data().toString();
  return names;
}

QStringList TSession::InternalNames() const {
  QStringList names;
  for (int row = 0; row < main_->RowCount(); ++row) names << main_->RowText(row, TfrmMain::kColNom);
  return names;
}

int TSession::RowOf(const QString& name) const {
  for (int row = 0; row < main_->RowCount(); ++row)
    if (main_->RowText(row, TfrmMain::kColNom) == name) return row;
  return -1;
}

void TSession::ClickRow(const QString& name) {
  const QAbstractItemModel* model = main_->Grille->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    const QModelIndex index = model->index(row, 0);
    if (index.data().toString() != name) continue;
    QTest::mouseClick(main_->Grille->viewport(), Qt::LeftButton, {},
                      main_->Grille->visualRect(index).center());
    return;
  }
}

void TSession::ClickTool(QAction* action) {
  QTest::mouseClick(main_->ToolButton(action), Qt::LeftButton);
}

bool TSession::WaitForChecks(int limit_ms) {
  return QTest::qWaitFor([this] { return !main_->Checking(); }, limit_ms);
}

}  // namespace veilex::test
