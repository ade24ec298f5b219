#include "app/WatchSettingsBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "mlb/mlbc.h"
#include "net/TNetInterrupt.h"
#include "watch/LinkRecord.h"

namespace veilex {
namespace {

constexpr int kModeTexteIndex = 0;
constexpr int kModeSourceIndex = 1;

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// Runs `trial` on a thread of `pool` for `watcher`, under `interrupt`,
// which the thread keeps alive for as long as it runs. Whatever the trial
// raises becomes the reason of a failed result.
template <typename Result>
void RunTrial(QThreadPool& pool, QFutureWatcher<Result>& watcher, const std::string& url, const TWatchSettings& settings,
              TTrialOptions options, std::shared_ptr<TNetInterrupt> interrupt,
              Result (*trial)(const std::string&, const TWatchSettings&, const TTrialOptions&)) {
  options.Interrupt = interrupt.get();
  watcher.setFuture(QtConcurrent::run(&pool, [url, settings, options, interrupt, trial] {
    try {
      return trial(url, settings, options);
    } catch (...) {
      Result failed;
      failed.Reason = "Erreur inattendue";
      return failed;
    }
  }));
}

}  // namespace

TWatchSettingsBox::TWatchSettingsBox(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("boxSurveillance"));
  // A thread that fetched ends with its trial, as the checks' threads do, so
  // that what the TLS library keeps per thread is freed then and not left to
  // the program's exit.
  pool_.setExpiryTimeout(0);
  pool_.setMaxThreadCount(1);
  cmbMode = Named(new QComboBox, "cmbMode");
  cmbMode->addItem(QString::fromLatin1(kModeTexte));
  cmbMode->addItem(QString::fromLatin1(kModeSource));
  cmbMode->setItemData(kModeTexteIndex, QStringLiteral("Le texte de la page, tel qu'un lecteur le voit"),
                       Qt::ToolTipRole);
  cmbMode->setItemData(kModeSourceIndex, QStringLiteral("Les octets de la page, à l'identique"), Qt::ToolTipRole);
  edtPartie = Named(new QLineEdit, "edtPartie");
  edtPartie->setPlaceholderText(QStringLiteral("toute la page ; ou #main, div.news > p, //article"));
  edtIgnorer = Named(new QPlainTextEdit, "edtIgnorer");
  edtIgnorer->setPlaceholderText(QStringLiteral("une règle par ligne : un texte, ou /expression/"));
  edtIgnorer->setTabChangesFocus(true);
  edtIgnorer->setLineWrapMode(QPlainTextEdit::NoWrap);
  edtIgnorer->setFixedHeight(64);
  chkAjouts = Named(new QCheckBox(QStringLiteral("Ne signaler que les ajouts")), "chkAjouts");
  btnTester = Named(new QPushButton(QStringLiteral("Tester")), "btnTester");
  btnApprendre = Named(new QPushButton(QStringLiteral("Apprendre le bruit")), "btnApprendre");
  // Like the dialog's own buttons, neither is a default button.
  for (QPushButton* button : {btnTester, btnApprendre}) button->setAutoDefault(false);
  lblEssai = Named(new QLabel, "lblEssai");
  lblEssai->setWordWrap(true);

  auto* grid = new QGridLayout;
  grid->setVerticalSpacing(2);
  grid->addWidget(new QLabel(QStringLiteral("Comparer")), 0, 0);
  grid->addWidget(cmbMode, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Partie")), 1, 0);
  grid->addWidget(edtPartie, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Lignes à ignorer")), 2, 0, 1, 2);
  grid->addWidget(edtIgnorer, 3, 0, 1, 2);
  grid->addWidget(chkAjouts, 4, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnTester);
  buttons->addWidget(btnApprendre);
  buttons->addStretch(1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(grid);
  column->addLayout(buttons);
  column->addWidget(lblEssai);

  setTabOrder(cmbMode, edtPartie);
  setTabOrder(edtPartie, edtIgnorer);
  setTabOrder(edtIgnorer, chkAjouts);
  setTabOrder(chkAjouts, btnTester);
  setTabOrder(btnTester, btnApprendre);

  connect(btnTester, &QPushButton::clicked, this, &TWatchSettingsBox::actTesterExecute);
  connect(btnApprendre, &QPushButton::clicked, this, &TWatchSettingsBox::actApprendreExecute);
  connect(&test_watcher_, &QFutureWatcher<TWatchedText>::finished, this, [this] {
    RunGuarded(this, [this] { TestFinished(); });
  });
  connect(&learn_watcher_, &QFutureWatcher<TLearnedNoise>::finished, this, [this] {
    RunGuarded(this, [this] { LearnFinished(); });
  });
  LoadDefaults();
}

TWatchSettingsBox::~TWatchSettingsBox() {
  if (interrupt_) interrupt_->Interrupt();
  test_watcher_.waitForFinished();
  learn_watcher_.waitForFinished();
  pool_.waitForDone();
}

void TWatchSettingsBox::LoadDefaults() {
  cmbMode->setCurrentIndex(kModeTexteIndex);
  edtPartie->clear();
  edtIgnorer->clear();
  chkAjouts->setChecked(false);
  shown_mode_ = kModeTexte;
  shown_ajouts_.clear();
  shown_partie_.clear();
  shown_ignorer_.clear();
}

void TWatchSettingsBox::Load(const TMlbc& table) {
  shown_mode_ = table.GetData(kFieldMode);
  shown_ajouts_ = table.GetData(kFieldAjouts);
  cmbMode->setCurrentIndex(shown_mode_ == kModeTexte ? kModeTexteIndex : kModeSourceIndex);
  shown_partie_ = table.GetData(kFieldPartie);
  shown_ignorer_ = table.GetData(kFieldIgnorer);
  edtPartie->setText(DisplayText(shown_partie_));
  edtIgnorer->setPlainText(DisplayText(shown_ignorer_));
  chkAjouts->setChecked(shown_ajouts_ == kOui);
}

void TWatchSettingsBox::Store(TMlbc& table) const {
  // A choice left as it was shown keeps its stored value: an empty `mode`
  // of an older link stays empty.
  const bool texte = cmbMode->currentIndex() == kModeTexteIndex;
  const bool shown_texte = shown_mode_ == kModeTexte;
  table.SetData(kFieldMode, texte == shown_texte ? shown_mode_ : (texte ? kModeTexte : kModeSource));
  const bool shown_oui = shown_ajouts_ == kOui;
  table.SetData(kFieldAjouts, chkAjouts->isChecked() == shown_oui ? shown_ajouts_ : (shown_oui ? "" : kOui));
  table.SetData(kFieldPartie, StoredText(edtPartie->text(), shown_partie_));
  table.SetData(kFieldIgnorer, StoredText(edtIgnorer->toPlainText(), shown_ignorer_));
}

TWatchSettings TWatchSettingsBox::Settings() const {
  TWatchSettings settings;
  settings.Text = cmbMode->currentIndex() == kModeTexteIndex;
  settings.Part = StoredText(edtPartie->text());
  settings.IgnoreRules = StoredText(edtIgnorer->toPlainText());
  settings.AdditionsOnly = chkAjouts->isChecked();
  return settings;
}

QString TWatchSettingsBox::Problem() const {
  const TWatchSettings settings = Settings();
  std::string problem = PartProblem(settings.Part);
  if (problem.empty()) problem = RulesProblem(settings.IgnoreRules);
  return FromUtf8(problem);
}

bool TWatchSettingsBox::Busy() const { return test_watcher_.isRunning() || learn_watcher_.isRunning(); }

bool TWatchSettingsBox::PrepareTrial(std::string& url) {
  if (Busy()) return false;
  const QString problem = Problem();
  if (!problem.isEmpty()) {
    ShowError(this, QStringLiteral("Impossible de poursuivre :\r") + problem);
    return false;
  }
  const TTypedAddress address = Address ? Address() : TTypedAddress{};
  if (!address.Accepted) {
    ShowError(this, QStringLiteral("Impossible de poursuivre :\r") + FromUtf8(address.Refusal));
    return false;
  }
  url = address.Stored;
  return true;
}

void TWatchSettingsBox::BeginTrial(const QString& what) {
  // A new interrupt each time: one interrupted stays so.
  interrupt_ = std::make_shared<TNetInterrupt>();
  btnTester->setEnabled(false);
  btnApprendre->setEnabled(false);
  lblEssai->setText(what);
}

void TWatchSettingsBox::EndTrial(const QString& what) {
  btnTester->setEnabled(true);
  btnApprendre->setEnabled(true);
  lblEssai->setText(what);
}

void TWatchSettingsBox::actTesterExecute() {
  RunGuarded(this, [this] {
    std::string url;
    if (!PrepareTrial(url)) return;
    BeginTrial(QStringLiteral("Chargement de la page…"));
    RunTrial(pool_, test_watcher_, url, Settings(), Options, interrupt_, &TryLink);
  });
}

void TWatchSettingsBox::actApprendreExecute() {
  RunGuarded(this, [this] {
    std::string url;
    if (!PrepareTrial(url)) return;
    BeginTrial(QStringLiteral("Apprentissage du bruit : la page est chargée %1 fois…").arg(Options.Fetches));
    RunTrial(pool_, learn_watcher_, url, Settings(), Options, interrupt_, &LearnNoise);
  });
}

void TWatchSettingsBox::TestFinished() {
  const TWatchedText watched = test_watcher_.result();
  if (!watched.Ok) {
    EndTrial(QString());
    ShowWarning(this, QStringLiteral("La page n'a pas donné de texte à comparer :\r") + FromUtf8(watched.Reason));
  } else {
    const qsizetype lines = watched.Text.empty() ? 0 : FromUtf8(watched.Text).count(QLatin1Char('\n'));
    EndTrial(QStringLiteral("Texte comparé : %1 ligne(s).").arg(lines));
    ShowComparedText(this, DisplayText(watched.Text));
  }
  emit TrialDone();
}

void TWatchSettingsBox::LearnFinished() {
  const TLearnedNoise learned = learn_watcher_.result();
  if (!learned.Ok) {
    EndTrial(QString());
    ShowWarning(this, QStringLiteral("Le bruit n'a pas pu être appris :\r") + FromUtf8(learned.Reason));
    emit TrialDone();
    return;
  }
  // The proposal joins the rules already there, each once; the user reads it
  // and keeps it with « Conserver », or edits it first.
  QStringList rules = edtIgnorer->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  int added = 0;
  for (const std::string& rule : learned.Proposal.Rules) {
    const QString text = FromUtf8(rule);
    if (rules.contains(text)) continue;
    rules << text;
    ++added;
  }
  if (added > 0) edtIgnorer->setPlainText(rules.join(QLatin1Char('\n')) + QLatin1Char('\n'));
  QString what;
  if (learned.Proposal.NoisyLines == 0) {
    what = QStringLiteral("Aucune ligne ne change d'un chargement à l'autre : rien à ignorer.");
  } else {
    what = QStringLiteral("%1 règle(s) proposée(s) dans « Lignes à ignorer » : relisez-les, puis « Conserver ».")
               .arg(added);
    if (learned.Proposal.Truncated) what += QStringLiteral(" La page change trop : la liste est incomplète.");
    if (learned.Proposal.LongLines > 0)
      what += QStringLiteral(" %1 ligne(s) trop longue(s) restée(s) sans règle.").arg(learned.Proposal.LongLines);
  }
  EndTrial(what);
  emit TrialDone();
}

void ShowComparedText(QWidget* parent, const QString& text) {
  QDialog window(parent);
  window.setObjectName(QStringLiteral("frmTexteCompare"));
  window.setWindowTitle(QStringLiteral("Texte comparé"));
  window.resize(560, 420);
  auto* view = Named(new QPlainTextEdit, "edtTexte");
  view->setReadOnly(true);
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  view->setPlainText(text);
  auto* close = Named(new QPushButton(QStringLiteral("Fermer")), "btnFermer");
  QObject::connect(close, &QPushButton::clicked, &window, &QDialog::accept);
  auto* column = new QVBoxLayout(&window);
  column->addWidget(view);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(close);
  column->addLayout(row);
  window.exec();
}

}  // namespace veilex
