#include "app/uChangements.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>
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
#include <algorithm>
#include <utility>

#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "compare/PageComparison.h"
#include "mlb/SafeFileWriter.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {
namespace {

// Time the GUI thread gives to writing a comparison before it turns to its
// other events.
constexpr int kRenderSliceMs = 15;

// The text of a version in the lists « Avant » and « Après »: its number,
// its date and its size.
QString VersionText(const TLinkVersion& version, size_t index) {
  const QString date = version.Date.empty() ? QStringLiteral("date inconnue") : DisplayText(version.Date);
  return QStringLiteral("%1 \u2014 %2 \u2014 %3 octets")
      .arg(index + 1)
      .arg(date, QLocale(QLocale::French).toString(static_cast<qlonglong>(version.Size)));
}

// A name to offer for a saved version: the link's, without what a file name
// cannot hold, and the version's number.
QString SuggestedName(const std::string& nom, int index) {
  QString name = DisplayText(nom);
  static const QRegularExpression kUnfit(QStringLiteral("[/\\\\:*?\"<>|\\x00-\\x1f]"));
  name.replace(kUnfit, QStringLiteral("_"));
  if (name.isEmpty() || name.startsWith(QLatin1Char('.'))) name.prepend(QStringLiteral("page"));
  return name + QStringLiteral("-version-%1.html").arg(index + 1);
}

}  // namespace

TfrmChangements::TfrmChangements(TChangedLink link, QWidget* parent, const TCompareLimits& limits)
    : TfrmChangements(TChangedLink{link.Nom, link.Url, link.Chg, {}, {}},
                      std::make_shared<const TLinkVersions>(
                          TLinkVersions::FromPages(std::move(link.Ancienne), std::move(link.Page), link.Chg)),
                      parent, limits) {}

TfrmChangements::TfrmChangements(TChangedLink link, std::shared_ptr<const TLinkVersions> versions, QWidget* parent,
                                 const TCompareLimits& limits)
    : QWidget(parent, Qt::Window),
      OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      link_(std::move(link)),
      versions_(std::move(versions)),
      limits_(limits),
      stop_(std::make_shared<std::atomic<bool>>(false)) {
  // The pages are the versions' to hold now.
  link_.Ancienne.clear();
  link_.Page.clear();
  ChooseFile = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Enregistrer cette version"), suggested);
  };
  setObjectName(QStringLiteral("frmChangements"));
  setAttribute(Qt::WA_DeleteOnClose);
  // Closing the main window ends the program even while comparisons are
  // open; they go with it.
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowTitle(QStringLiteral("Changements \u2014 ") + DisplayText(link_.Nom));
  resize(800, 520);

  lblDate = new QLabel(this);
  cbAvant = new QComboBox(this);
  cbAvant->setObjectName(QStringLiteral("cbAvant"));
  cbApres = new QComboBox(this);
  cbApres->setObjectName(QStringLiteral("cbApres"));
  for (size_t i = 0; i < versions_->Count(); ++i) {
    cbAvant->addItem(VersionText((*versions_)[i], i));
    cbApres->addItem(VersionText((*versions_)[i], i));
  }
  auto* lblAvant = new QLabel(QStringLiteral("A&vant :"), this);
  lblAvant->setBuddy(cbAvant);
  auto* lblApres = new QLabel(QStringLiteral("A&près :"), this);
  lblApres->setBuddy(cbApres);
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
  btnEnregistrer = new QPushButton(QStringLiteral("&Enregistrer cette version..."), this);
  btnFermer = new QPushButton(QStringLiteral("Fermer"), this);

  auto* top = new QHBoxLayout;
  top->addWidget(lblDate);
  top->addStretch();
  top->addWidget(btnTexte);
  top->addWidget(btnSource);
  // The versions are offered for choice when they come from a history;
  // otherwise the window compares the link's two pages, as it always did.
  auto* choice = new QWidget(this);
  auto* pair = new QHBoxLayout(choice);
  pair->setContentsMargins(0, 0, 0, 0);
  pair->addWidget(lblAvant);
  pair->addWidget(cbAvant, 1);
  pair->addWidget(lblApres);
  pair->addWidget(cbApres, 1);
  choice->setVisible(versions_->FromHistory());
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(btnPrecedent);
  bottom->addWidget(btnSuivant);
  bottom->addWidget(lblCompte);
  bottom->addStretch();
  bottom->addWidget(btnEnregistrer);
  bottom->addWidget(btnOuvrir);
  bottom->addWidget(btnFermer);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(choice);
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
  connect(btnEnregistrer, &QPushButton::clicked, this, &TfrmChangements::EnregistrerVersion);
  const auto chosen = [this] { SetPair(cbAvant->currentIndex(), cbApres->currentIndex()); };
  connect(cbAvant, &QComboBox::activated, this, chosen);
  connect(cbApres, &QComboBox::activated, this, chosen);
  connect(btnFermer, &QPushButton::clicked, this, &QWidget::close);
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

  const int count = static_cast<int>(versions_->Count());
  SetPair(count - 2, count - 1);
}

TfrmChangements::~TfrmChangements() {
  // A comparison still running stops at its next look; its thread keeps
  // the pages alive until then.
  stop_->store(true);
}

void TfrmChangements::SetPair(int before, int after, bool at_last) {
  const int count = static_cast<int>(versions_->Count());
  if (before < 0 || after < 0 || before >= count || after >= count) return;
  before_ = before;
  after_ = after;
  at_last_ = at_last;
  // What was started for the previous pair stops and is forgotten.
  stop_->store(true);
  stop_ = std::make_shared<std::atomic<bool>>(false);
  for (auto& watcher : watchers_) {
    if (watcher == nullptr) continue;
    watcher->disconnect(this);
    watcher->deleteLater();
    watcher = nullptr;
  }
  for (auto& result : results_) result.reset();
  {
    const QSignalBlocker quiet_before(cbAvant);
    const QSignalBlocker quiet_after(cbApres);
    cbAvant->setCurrentIndex(before);
    cbApres->setCurrentIndex(after);
  }
  ShowPairDate();
  SetMode(mode_);
}

void TfrmChangements::ShowPairDate() {
  const std::string& date = (*versions_)[static_cast<size_t>(after_)].Date;
  lblDate->setText(date.empty() ? QStringLiteral("Date du changement inconnue")
                                : QStringLiteral("Changement détecté le ") + DisplayText(date));
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
  auto* watcher = new QFutureWatcher<TPairResult>(this);
  watchers_[mode] = watcher;
  connect(watcher, &QFutureWatcherBase::finished, this, [this, mode] { Finished(mode); });
  TCompareLimits limits = limits_;
  limits.Stop = stop_.get();
  const auto before = static_cast<size_t>(before_);
  const auto after = static_cast<size_t>(after_);
  // Raises nothing: versions that cannot be read say why; a comparison that
  // cannot be made (memory) is reported as stopped.
  watcher->setFuture(QtConcurrent::run([versions = versions_, stop = stop_, limits, mode, before, after] {
    TPairResult result;
    try {
      const auto [old_page, new_page] = versions->ReadPair(before, after);
      result.Comparison =
          ComparePages(old_page, new_page, mode == kTexte ? TPageView::Text : TPageView::Source, limits);
    } catch (const std::exception& e) {
      result.Comparison.Stopped = true;
      result.ReadError = e.what();
    } catch (...) {
      result.Comparison.Stopped = true;
    }
    return result;
  }));
}

void TfrmChangements::Finished(TMode mode) {
  results_[mode] = std::make_unique<TPairResult>(watchers_[mode]->result());
  if (mode == mode_ && !renderer_) Show(mode);
}

bool TfrmChangements::Ready() const { return shown_ == mode_; }

const TComparison* TfrmChangements::Shown() const { return Ready() ? &results_[mode_]->Comparison : nullptr; }

int TfrmChangements::ChangeCount() const {
  return Ready() ? static_cast<int>(results_[mode_]->Comparison.ChangeCount) : 0;
}

void TfrmChangements::Show(TMode mode) {
  rendered_ = new QTextDocument(Vue);
  rendered_->setDefaultFont(mode == kSource ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : Vue->font());
  renderer_ = std::make_unique<TComparisonRenderer>(*rendered_, results_[mode]->Comparison, Vue->palette());
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
  const TComparison& comparison = results_[mode_]->Comparison;
  if (!results_[mode_]->ReadError.empty()) {
    Vue->setPlainText(QStringLiteral("Les versions n'ont pas pu être lues : ") +
                      QString::fromStdString(results_[mode_]->ReadError));
  } else if (comparison.Stopped) {
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
    GoTo(at_last_ ? static_cast<int>(starts_.size()) - 1 : 0);
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
  // Past the pair's first or last change, the walk goes on to the pair of
  // versions before or after it.
  const bool earlier = Ready() && std::min(before_, after_) > 0;
  const bool later = Ready() && std::max(before_, after_) + 1 < static_cast<int>(versions_->Count());
  btnPrecedent->setEnabled(current_ > 0 || earlier);
  btnSuivant->setEnabled((current_ >= 0 && current_ + 1 < shown) || later);
  if (!Ready()) {
    lblCompte->clear();
  } else if (ChangeCount() == 0) {
    lblCompte->setText(QStringLiteral("Aucun changement"));
  } else {
    lblCompte->setText(QStringLiteral("Changement %1 sur %2").arg(current_ + 1).arg(ChangeCount()));
  }
}

void TfrmChangements::ChangementSuivant() {
  if (!Ready()) return;
  if (current_ >= 0 && current_ + 1 < static_cast<int>(starts_.size())) {
    GoTo(current_ + 1);
    return;
  }
  const int last = std::max(before_, after_);
  if (last + 1 < static_cast<int>(versions_->Count())) SetPair(last, last + 1);
}

void TfrmChangements::ChangementPrecedent() {
  if (!Ready()) return;
  if (current_ > 0) {
    GoTo(current_ - 1);
    return;
  }
  const int first = std::min(before_, after_);
  if (first > 0) SetPair(first - 1, first, true);
}

QUrl TfrmChangements::PageUrl() const {
  // The page the check fetches, read by the same reader.
  if (const TFetchTarget target = FetchTargetOf(link_.Url); target.Ok) {
    // Appended rather than "#" + ...: GCC 12 sees an overlap that is not there.
    std::string fragment;
    if (!target.Fragment.empty()) fragment.append(1, '#').append(EncodeRequestTarget(target.Fragment));
    return QUrl(QString::fromLatin1(target.Address + fragment));
  }
  const QString address = DisplayText(link_.Url);
  static const QRegularExpression kScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
  return QUrl(kScheme.match(address).hasMatch() ? address : QStringLiteral("http://") + address);
}

void TfrmChangements::OuvrirLaPage() {
  RunGuarded(this, [this] {
    if (!OpenUrl(PageUrl())) ShowError(this, QStringLiteral("Le navigateur n'a pas pu ouvrir la page."));
  });
}

void TfrmChangements::EnregistrerVersion() {
  RunGuarded(this, [this] {
    const QString file = ChooseFile(SuggestedName(link_.Nom, after_));
    if (file.isEmpty()) return;
    std::string error;
    try {
      const std::string bytes = versions_->Read(static_cast<size_t>(after_));
      if (!WriteWholeFile(QFile::encodeName(file).toStdString(), bytes))
        error = "le fichier ne peut pas être créé";
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!error.empty())
      ShowError(this, QStringLiteral("La version n'a pas pu être enregistrée dans « %1 » : %2.")
                          .arg(file, QString::fromStdString(error)));
  });
}

TfrmChangements* OuvrirChangements(QWidget* parent, TData& data, const std::string& name) {
  if (!data.TrouverLien(name)) return nullptr;
  auto versions = std::make_shared<const TLinkVersions>(TLinkVersions::Of(data, name));
  if (!versions->FromHistory() && (*versions)[0].Size == 0) {
    ShowInformation(parent, QStringLiteral("Pas encore de version précédente à comparer pour ce lien."));
    return nullptr;
  }
  TChangedLink link;
  link.Nom = name;
  link.Url = data.Table.GetData(kFieldUrl);
  link.Chg = data.Table.GetData(kFieldChg);
  auto* window = new TfrmChangements(std::move(link), std::move(versions), parent);
  // Its size once shown, buttons and all, so that it opens centred.
  window->resize(window->size().expandedTo(window->minimumSizeHint()));
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
