// TWatchSettingsBox: the part of the link dialog that says what of a page the
// link watches (`mode`, `partie`, `ignorer`, `ajouts`), with « Tester »,
// which shows the text a check would compare, and « Apprendre le bruit »,
// which proposes ignore rules in the `ignorer` field. Both fetch on a thread
// of the box's own; the box owns that fetch, interrupts it and waits for it
// when destroyed. GUI thread only.
#pragma once

#include <QFutureWatcher>
#include <QString>
#include <QThreadPool>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "watch/LinkAddress.h"
#include "watch/LinkTrial.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace veilex {

class TMlbc;
class TNetInterrupt;

class TWatchSettingsBox : public QWidget {
  Q_OBJECT

 public:
  explicit TWatchSettingsBox(QWidget* parent = nullptr);
  // Interrupts a fetch under way and waits for its thread.
  ~TWatchSettingsBox() override;

  // « texte » (index 0) or « source » (index 1).
  QComboBox* cmbMode;
  QLineEdit* edtPartie;
  QPlainTextEdit* edtIgnorer;
  QCheckBox* chkAjouts;
  QPushButton* btnTester;
  QPushButton* btnApprendre;
  // What the last « Tester » or « Apprendre le bruit » did, or is doing.
  QLabel* lblEssai;

  // The address the buttons fetch, as the dialog reads it when one is pressed.
  std::function<TTypedAddress()> Address;
  // The bounds of those fetches, the gap between the fetches that learn, the
  // cookies shared with the checks (tests lower the gap).
  TTrialOptions Options;

  // A new link's settings: « texte », the whole page, no rule.
  void LoadDefaults();
  // The stored settings of the row under `table`'s cursor; an empty or
  // unknown `mode` shows « source ».
  void Load(const TMlbc& table);
  // Writes the four fields into the row under `table`'s cursor: a setting
  // left as shown keeps its stored bytes (an empty `mode` stays empty), typed
  // text is stored as UTF-8.
  void Store(TMlbc& table) const;
  // The settings as they stand in the widgets, UTF-8.
  TWatchSettings Settings() const;
  // Why the part or a rule cannot be used, in French; "" when both can.
  QString Problem() const;
  // True while a fetch of « Tester » or « Apprendre le bruit » runs.
  bool Busy() const;

 signals:
  // A trial ended and its result was shown (or placed in the field).
  void TrialDone();

 private slots:
  void actTesterExecute();
  void actApprendreExecute();

 private:
  // Checks what the fetch needs; false (the user told why) when it cannot run.
  bool PrepareTrial(std::string& url);
  void BeginTrial(const QString& what);
  void EndTrial(const QString& what);
  void TestFinished();
  void LearnFinished();

  // The stored values the widgets were filled with.
  std::string shown_mode_;
  std::string shown_ajouts_;
  std::string shown_partie_;
  std::string shown_ignorer_;
  std::shared_ptr<TNetInterrupt> interrupt_;
  // The trials' own thread, declared before the watchers of its results.
  QThreadPool pool_;
  QFutureWatcher<TWatchedText> test_watcher_;
  QFutureWatcher<TLearnedNoise> learn_watcher_;
};

// Shows `text`, the text a check would compare, in a modal window titled
// "Texte comparé" over `parent`, read-only, with one button "Fermer".
void ShowComparedText(QWidget* parent, const QString& text);

}  // namespace veilex
