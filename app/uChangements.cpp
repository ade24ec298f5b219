#include "app/uChangements.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <QDesktopServices>
#include <utility>

#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "compare/PageComparison.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {
namespace {

// Time the GUI thread gives to writing a comparison before it turns to its
// other events.
constexpr int kRenderSliceMs = 15;

// What a pool thread computes for one mode. Raises nothing: a comparison
// that cannot be made (memory) is reported as stopped.
TComparison Compare(const TChangedLink& link, TfrmChangements::TMode mode, const TCompareLimits& limits) {
  try {
    return ComparePages(link.Ancienne, link.Page,
                        mode == TfrmChangements::kTexte ? TPageView::Text : TPageView::Source, limits);
  } catch (...) {
    TComparison failed;
    failed.Stopped = true;
    return failed;
  }
}

}  // namespace

TfrmChangements::TfrmChangements(TChangedLink link, QWidget* parent, const TCompareLimits& limits)
    : QWidget(parent, Qt::Window),
      OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      link_(std::make_shared<const TChangedLink>(std::move(link))),
      limits_(limits),
      stop_(std::make_shared<std::atomic<bool>>(false)) {
  setObjectName(QStringLiteral("frmChangements"));
  setAttribute(Qt::WA_DeleteOnClose);
  // Closing the main window ends the program even while comparisons are
  // open; they go with it.
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(QStringLiteral("Changements \u2014 ") + DisplayText(link_->Nom));
  resize(640, 480);

  lblDate = new QLabel(link_->Chg.empty()
                           ? QStringLiteral("Date du changement inconnue")
                           : QStringLiteral("Changement détecté le ") + DisplayText(link_->Chg),
                       this);
  btnTexte = new QRadioButton(QStringLiteral("Texte"), this);
  btnSource = new QRadioButton(QStringLiteral("Source"), this);
  btnTexte->setChecked(true);
  Vue = new QTextBrowser(this);
  Vue->setObjectName(QStringLiteral("Vue"));
  Vue->setOpenLinks(false);
  Vue->setUndoRedoEnabled(false);
  lblNote = new QLabel(this);
  lblNote->setWordWrap(true);
  lblNote->hide();
  btnPrecedent = new QPushButton(QStringLiteral("Changement précédent"), this);
  btnSuivant = new QPushButton(QStringLiteral("Changement suivant"), this);
  lblCompte = new QLabel(this);
  btnOuvrir = new QPushButton(QStringLiteral("Ouvrir la page"), this);
  btnFermer = new QPushButton(QStringLiteral("Fermer"), this);

  auto* top = new QHBoxLayout;
  top->addWidget(lblDate);
  top->addStretch();
  top->addWidget(btnTexte);
  top->addWidget(btnSource);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(btnPrecedent);
  bottom->addWidget(btnSuivant);
  bottom->addWidget(lblCompte);
  bottom->addStretch();
  bottom->addWidget(btnOuvrir);
  bottom->addWidget(btnFermer);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Vue);
  layout->addWidget(lblNote);
  layout->addLayout(bottom);

  connect(btnTexte, &QRadioButton::toggled, this, [this](bool on) {
    if (on) SetMode(kTexte);
  });
  connect(btnSource, &QRadioButton::toggled, this, [this](bool on) {
    if (on) SetMode(kSource);
  });
  connect(btnSuivant, &QPushButton::clicked, this, &TfrmChangements::ChangementSuivant);
  connect(btnPrecedent, &QPushButton::clicked, this, &TfrmChangements::ChangementPrecedent);
  connect(btnOuvrir, &QPushButton::clicked, this, &TfrmChangements::OuvrirLaPage);
  connect(btnFermer, &QPushButton::clicked, this, &QWidget::close);
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

  SetMode(kTexte);
}

TfrmChangements::~TfrmChangements() {
  // A comparison still running stops at its next look; its thread keeps
  // the pages alive until then.
  stop_->store(true);
}

void TfrmChangements::SetMode(TMode mode) {
  mode_ = mode;
  (mode == kTexte ? btnTexte : btnSource)->setChecked(true);
  if (renderer_) {  // another mode's comparison was being written
    renderer_.reset();
    delete rendered_;
    rendered_ = nullptr;
  }
  current_ = -1;
  starts_.clear();
  shown_ = -1;
  Vue->setPlainText(QStringLiteral("Comparaison en cours\u2026"));
  lblNote->hide();
  UpdateNavigation();
  if (results_[mode]) {
    Show(mode);
  } else if (watchers_[mode] == nullptr) {
    Start(mode);
  }
}

void TfrmChangements::Start(TMode mode) {
  auto* watcher = new QFutureWatcher<TComparison>(this);
  watchers_[mode] = watcher;
  connect(watcher, &QFutureWatcherBase::finished, this, [this, mode] { Finished(mode); });
  TCompareLimits limits = limits_;
  limits.Stop = stop_.get();
  watcher->setFuture(QtConcurrent::run(
      [link = link_, stop = stop_, limits, mode] { return Compare(*link, mode, limits); }));
}

void TfrmChangements::Finished(TMode mode) {
  results_[mode] = std::make_unique<TComparison>(watchers_[mode]->result());
  if (mode == mode_ && !renderer_) Show(mode);
}

bool TfrmChangements::Ready() const { return shown_ == mode_; }

const TComparison* TfrmChangements::Shown() const { return Ready() ? results_[mode_].get() : nullptr; }

int TfrmChangements::ChangeCount() const {
  return Ready() ? static_cast<int>(results_[mode_]->ChangeCount) : 0;
}

void TfrmChangements::Show(TMode mode) {
  rendered_ = new QTextDocument(Vue);
  rendered_->setDefaultFont(mode == kSource ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : Vue->font());
  renderer_ = std::make_unique<TComparisonRenderer>(*rendered_, *results_[mode], Vue->palette());
  RenderSlice();
}

void TfrmChangements::RenderSlice() {
  if (!renderer_) return;  // a slice asked for by a comparison since dropped
  if (!renderer_->Step(kRenderSliceMs)) {
    QTimer::singleShot(0, this, &TfrmChangements::RenderSlice);
    return;
  }
  starts_ = renderer_->ChangeStarts();
  renderer_.reset();
  // The view deletes the document it made itself; the ones made here are
  // this window's to delete.
  QTextDocument* previous = Vue->document();
  const bool made_here = previous->parent() == Vue;
  Vue->setDocument(rendered_);
  rendered_ = nullptr;
  if (made_here) previous->deleteLater();
  RenderingDone();
}

void TfrmChangements::RenderingDone() {
  shown_ = mode_;
  const TComparison& comparison = *results_[mode_];
  if (comparison.Stopped) {
    Vue->setPlainText(QStringLiteral("La comparaison n'a pas pu être faite."));
  } else if (comparison.Identical()) {
    Vue->setPlainText(mode_ == kTexte ? QStringLiteral("Le texte de la page n'a pas changé : seule sa source "
                                                       "diffère (voir « Source »).")
                                      : QStringLiteral("Les deux versions sont identiques."));
  }
  QStringList notes;
  if (!comparison.Refusal.empty())
    notes << QString::fromUtf8(comparison.Refusal.data(), static_cast<qsizetype>(comparison.Refusal.size())) +
                 QStringLiteral(". Sa source est montrée à la place.");
  if (comparison.Approximate)
    notes << QStringLiteral("Pages trop différentes pour une comparaison fine : la partie changée est "
                            "montrée d'un seul bloc.");
  if (comparison.LinesOnly)
    notes << QStringLiteral("Certains changements trop longs sont montrés par lignes entières, sans le "
                            "détail des mots.");
  if (comparison.Truncated)
    notes << QStringLiteral("La comparaison est trop longue : seul son début est affiché.");
  lblNote->setText(notes.join(QLatin1Char(' ')));
  lblNote->setVisible(!notes.isEmpty());
  current_ = -1;
  if (!starts_.empty()) {
    GoTo(0);
  } else {
    Vue->moveCursor(QTextCursor::Start);
    UpdateNavigation();
  }
  emit ComparisonShown();
}

void TfrmChangements::GoTo(int change) {
  if (change < 0 || change >= static_cast<int>(starts_.size())) return;
  current_ = change;
  QTextCursor cursor(Vue->document());
  cursor.setPosition(starts_[static_cast<size_t>(change)]);
  Vue->setTextCursor(cursor);
  // The change's line comes to the top of the view; only the document up to
  // it needs laying out for that.
  const QRectF line = Vue->document()->documentLayout()->blockBoundingRect(cursor.block());
  Vue->verticalScrollBar()->setValue(static_cast<int>(line.top()));
  UpdateNavigation();
}

void TfrmChangements::UpdateNavigation() {
  const int shown = static_cast<int>(starts_.size());
  btnPrecedent->setEnabled(current_ > 0);
  btnSuivant->setEnabled(current_ >= 0 && current_ + 1 < shown);
  if (!Ready()) {
    lblCompte->clear();
  } else if (ChangeCount() == 0) {
    lblCompte->setText(QStringLiteral("Aucun changement"));
  } else {
    lblCompte->setText(QStringLiteral("Changement %1 sur %2").arg(current_ + 1).arg(ChangeCount()));
  }
}

void TfrmChangements::ChangementSuivant() { GoTo(current_ + 1); }

void TfrmChangements::ChangementPrecedent() { GoTo(current_ - 1); }

QUrl TfrmChangements::PageUrl() const {
  // The page the check fetches, read by the same reader.
  if (const TFetchTarget target = FetchTargetOf(link_->Url); target.Ok) {
    const std::string fragment = target.Fragment.empty() ? std::string() : "#" + EncodeRequestTarget(target.Fragment);
    return QUrl(QString::fromLatin1(target.Address + fragment));
  }
  const QString address = DisplayText(link_->Url);
  static const QRegularExpression kScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
  return QUrl(kScheme.match(address).hasMatch() ? address : QStringLiteral("http://") + address);
}

void TfrmChangements::OuvrirLaPage() {
  RunGuarded(this, [this] {
    if (!OpenUrl(PageUrl())) ShowError(this, QStringLiteral("Le navigateur n'a pas pu ouvrir la page."));
  });
}

TfrmChangements* OuvrirChangements(QWidget* parent, TData& data, const std::string& name) {
  if (!data.TrouverLien(name)) return nullptr;
  TChangedLink link;
  link.Ancienne = data.Table.GetData(kFieldAncienne);
  if (link.Ancienne.empty()) {
    ShowInformation(parent, QStringLiteral("Pas encore de version précédente à comparer pour ce lien."));
    return nullptr;
  }
  link.Nom = name;
  link.Url = data.Table.GetData(kFieldUrl);
  link.Chg = data.Table.GetData(kFieldChg);
  link.Page = data.Table.GetData(kFieldPage);
  auto* window = new TfrmChangements(std::move(link), parent);
  if (parent != nullptr && parent->isVisible())
    window->move(parent->frameGeometry().center() - window->rect().center());
  window->show();
  // The change is seen.
  if (IsUnread(data)) {
    MarkRead(data, name);
    data.Save();
  }
  return window;
}

}  // namespace veilex
