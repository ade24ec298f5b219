#include "app/uMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <algorithm>
#include <numeric>
#include <string_view>
#include <utility>
#include <vector>

#include "app/CheckRunner.h"
#include "app/EtatDelegate.h"
#include "app/ImportExport.h"
#include "app/LinkList.h"
#include "app/MainMenus.h"
#include "app/LinkReason.h"
#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "app/uAproposDe.h"
#include "app/uChangements.h"
#include "app/uURL.h"
#include "rtl/StrUtils.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

// Each cell keeps the stored bytes beside its display text: the name's bytes
// find the link again, and the list sorts on bytes as the table does.
constexpr int kBytesRole = kLinkBytesRole;

const int kColumnWidths[TfrmMain::kColumnCount] = {150, 250, 70, 70, 130, 70};

const char* const kColumnFields[TfrmMain::kColumnCount] = {kFieldNom, kFieldUrl,  kFieldMajOk,
                                                           kFieldMaj, kFieldEtat, kFieldChg};

}  // namespace

TfrmMain::TfrmMain(TData& data, QWidget* parent) : QMainWindow(parent), data_(data) {
  setWindowTitle(QStringLiteral("Veilex v1.0"));
  resize(696, 480);
  CreateActions();
  CreateToolBar();
  CreateGrille();
  Status = statusBar();
  Status->setObjectName(QStringLiteral("Status"));
  Progression = new QProgressBar(Status);
  Progression->setObjectName(QStringLiteral("Progression"));
  Progression->setFormat(QStringLiteral("%v / %m"));
  Progression->setMaximumWidth(200);
  Status->addPermanentWidget(Progression);
  Progression->hide();
  lblNonLus = new QLabel(Status);
  lblNonLus->setObjectName(QStringLiteral("lblNonLus"));
  Status->addPermanentWidget(lblNonLus);
  runner_ = new TCheckRunner(data_, this);
  connect(runner_, &TCheckRunner::LinksDone, this, &TfrmMain::ShowCheckResults);
  connect(runner_, &TCheckRunner::Progressed, this, &TfrmMain::ShowCheckProgress);
  connect(runner_, &TCheckRunner::RunFinished, this, &TfrmMain::EndChecks);
  connect(Grille->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (!Checking()) ShowSelectedReason(*Status, *Grille);
    UpdateCommands();
  });
  ImportExport = new TImportExport(*this, data_);
  BuildMainMenus(*this);
  UpdateCommands();
  if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  Grille->setFocus();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CreateActions() {
  // The captions keep their three dots on the tool buttons only through the
  // icon text: Qt strips a trailing "..." when it derives one from the text.
  auto make = [this](QAction*& action, const char* name, const QString& caption,
                     void (TfrmMain::*handler)()) {
    action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setIconText(caption);
    connect(action, &QAction::triggered, this, handler);
  };
  make(actAjouter, "actAjouter", QStringLiteral("Ajouter..."), &TfrmMain::actAjouterExecute);
  make(actModifier, "actModifier", QStringLiteral("Modifier..."), &TfrmMain::actModifierExecute);
  make(actSupprimer, "actSupprimer", QStringLiteral("Supprimer"), &TfrmMain::actSupprimerExecute);
  make(actMettreAJour, "actMettreAJour", QStringLiteral("Mettre à jour"), &TfrmMain::actMettreAJourExecute);
  make(actToutMettreAJour, "actToutMettreAJour", QStringLiteral("Tout mettre à jour"),
       &TfrmMain::actToutMettreAJourExecute);
  make(actVoirChangements, "actVoirChangements", QStringLiteral("Voir les changements"),
       &TfrmMain::actVoirChangementsExecute);
  make(actMarquerLu, "actMarquerLu", QStringLiteral("Marquer comme lu"), &TfrmMain::actMarquerLuExecute);
  make(actToutMarquerLu, "actToutMarquerLu", QStringLiteral("Tout marquer comme lu"),
       &TfrmMain::actToutMarquerLuExecute);
  make(actArreter, "actArreter", QStringLiteral("Arrêter"), &TfrmMain::actArreterExecute);
  actArreter->setEnabled(false);  // only while a check runs
  make(actAProposDe, "actAProposDe", QStringLiteral("A propos de..."), &TfrmMain::actAProposDeExecute);
  make(actOptions, "actOptions", QStringLiteral("Options..."), &TfrmMain::actOptionsExecute);
  make(actQuitter, "actQuitter", QStringLiteral("Quitter"), &TfrmMain::actQuitterExecute);
}

void TfrmMain::CreateToolBar() {
  // Two rows: every caption stays in view at the default width, the link
  // commands on the first, the program's own on the second.
  const auto make_bar = [this](const char* name, const std::vector<QList<QAction*>>& groups) {
    QToolBar* bar = addToolBar(QString::fromLatin1(name));
    bar->setObjectName(QString::fromLatin1(name));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setStyleSheet(
        QStringLiteral("QToolBar { background: rgb(184,194,229); border-top: 1px solid rgb(128,128,128);"
                       " border-bottom: 1px solid rgb(128,128,128); padding: 1px; spacing: 0px; }"
                       "QToolBar::separator { width: 8px; }"
                       "QToolButton { padding: 0px; margin: 0px; }"));
    bool first = true;
    for (const auto& group : groups) {
      if (!first) bar->addSeparator();
      first = false;
      for (QAction* action : group) {
        bar->addAction(action);
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action))) {
          button->setAutoRaise(true);  // flat
          button->setFixedHeight(25);
        }
      }
    }
    return bar;
  };
  ToolBar1 = make_bar("ToolBar1", {{actAjouter, actModifier, actSupprimer},
                                   {actMettreAJour, actToutMettreAJour, actVoirChangements, actArreter}});
  addToolBarBreak();
  ToolBar2 = make_bar("ToolBar2", {{actMarquerLu, actToutMarquerLu}, {actAProposDe, actOptions}, {actQuitter}});
}

QToolButton* TfrmMain::ToolButton(QAction* action) const {
  for (QToolBar* bar : {ToolBar1, ToolBar2})
    if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action))) return button;
  return nullptr;
}

void TfrmMain::CreateGrille() {
  rows_ = new QStandardItemModel(0, kColumnCount, this);
  rows_->setHorizontalHeaderLabels({QStringLiteral("Nom"), QStringLiteral("URL"), QStringLiteral("MàJ Ok"),
                                    QStringLiteral("MàJ"), QStringLiteral("Etat"),
                                    QStringLiteral("Dernier changement")});
  Grille = new QTreeView(this);
  Liste = new TLinkList(*this, Grille, rows_);
  shown_ = Liste->Proxy();
  Grille->setObjectName(QStringLiteral("Grille"));
  Grille->setModel(shown_);
  Grille->setRootIsDecorated(false);
  Grille->setItemsExpandable(false);
  Grille->setUniformRowHeights(true);
  Grille->setFrameShape(QFrame::NoFrame);
  Grille->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grille->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Grille->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grille->setSortingEnabled(true);
  Grille->sortByColumn(kColNom, Qt::AscendingOrder);
  QHeaderView* header = Grille->header();
  header->setSortIndicatorShown(true);
  header->setSectionsClickable(true);  // any column sorts
  // Every column can be widened by hand; until then "URL" takes the width
  // the other columns leave. Its texts are elided.
  header->setStretchLastSection(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  Grille->setTextElideMode(Qt::ElideMiddle);
  for (int column = 0; column < kColumnCount; ++column) Grille->setColumnWidth(column, kColumnWidths[column]);
  Liste->RestoreColumns();
  Grille->setItemDelegate(new TEtatDelegate(kColEtat, Grille));
  RepaintRowsOnEtatChange(Grille, kColEtat);
  // A double click anywhere on the list, on a row or not, modifies; Return
  // on a row shows its changes.
  Grille->viewport()->installEventFilter(this);
  Grille->installEventFilter(this);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Grille->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    // As "Modifier...", which is disabled during a check.
    if (actModifier->isEnabled()) actModifierExecute();
    return true;
  }
  if (watched == Grille && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (actVoirChangements->isEnabled()) actVoirChangementsExecute();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous() && !shown_once_) {
    shown_once_ = true;
    FormShow();
  }
}

void TfrmMain::FormShow() {
  RunGuarded(this, [this] { RemplirGrille(); });
}

void TfrmMain::RemplirGrille() {
  TMlbc& table = data_.Table;
  table.Sort("Nom", true);
  table.First();
  // The list is never shown half filled.
  Grille->setUpdatesEnabled(false);
  rows_->removeRows(0, rows_->rowCount());
  while (!table.EndOfFile()) {
    AddRowFromTable();
    table.Next();
  }
  AjusterColonnes();
  Grille->setUpdatesEnabled(true);
  ShowUnreadCount();
}

void TfrmMain::AjusterColonnes() {
  // The dates and the state fit their longest text (or their header), never
  // below their width; "Nom" too, but within a third of the list, so that a
  // long name cannot push the state out of view. "URL" stretches over the
  // rest. (QTreeView hides the size hint that its base class offers.)
  // Widths set by hand stay as they are.
  if (Liste->UserWidths()) return;
  const QAbstractItemView* view = Grille;
  const QHeaderView* header = Grille->header();
  const auto fitted = [&](int column) {
    return std::max({kColumnWidths[column], view->sizeHintForColumn(column), header->sectionSizeHint(column)});
  };
  for (int column : {kColMajOk, kColMaj, kColEtat}) Grille->setColumnWidth(column, fitted(column));
  // « Dernier changement » fits its dates; its long header is elided.
  Grille->setColumnWidth(kColChg, std::max(kColumnWidths[kColChg], view->sizeHintForColumn(kColChg)));
  Grille->setColumnWidth(kColNom, std::min(fitted(kColNom), std::max(kColumnWidths[kColNom], Grille->viewport()->width() / 3)));
  int others = 0;
  for (int column = 0; column < kColumnCount; ++column)
    if (column != kColUrl) others += Grille->columnWidth(column);
  Grille->setColumnWidth(kColUrl, std::max(100, Grille->viewport()->width() - others));
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  AjusterColonnes();
}

int TfrmMain::AddRowFromTable() {
  const int row = rows_->rowCount();
  QList<QStandardItem*> items;
  for (int column = 0; column < kColumnCount; ++column) items.append(new QStandardItem());
  rows_->appendRow(items);
  for (int column = 0; column < kColumnCount; ++column)
    SetRowText(row, column, data_.Table.GetData(kColumnFields[column]));
  SetRowReason(*rows_, row,
               RowTip(data_.Table.GetData(kFieldRaison), data_.Table.GetData(kFieldAdresseFinale),
                      data_.Table.GetData(kFieldDemenage)));
  rows_->item(row, kColNom)->setData(data_.Table.GetData(kFieldNonLu) == kOui, kUnreadRole);
  return row;
}

int TfrmMain::RowCount() const { return rows_->rowCount(); }

QModelIndex TfrmMain::SourceIndex(int row, int column) const { return rows_->index(row, column); }

std::string TfrmMain::RowName(int row) const {
  return SourceIndex(row, kColNom).data(kBytesRole).toByteArray().toStdString();
}

QString TfrmMain::RowText(int row, int column) const { return SourceIndex(row, column).data().toString(); }

void TfrmMain::SetRowText(int row, int column, const std::string& value) {
  QStandardItem* item = rows_->item(row, column);
  if (item == nullptr) return;
  item->setData(QByteArray(value.data(), static_cast<qsizetype>(value.size())), kBytesRole);
  item->setText(DisplayText(value));
}

int TfrmMain::SelectedRow() const {
  // The row with the focus when it is selected, else the first selected.
  const QModelIndex current = Grille->selectionModel()->currentIndex();
  if (current.isValid() && Grille->selectionModel()->isRowSelected(current.row(), current.parent()))
    return shown_->mapToSource(current).row();
  const QModelIndexList selected = Grille->selectionModel()->selectedRows();
  if (selected.isEmpty()) return -1;
  return shown_->mapToSource(selected.first()).row();
}

std::vector<int> TfrmMain::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : Grille->selectionModel()->selectedRows())
    rows.push_back(shown_->mapToSource(index).row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TfrmMain::SelectRow(int row) {
  const QModelIndex index = shown_->mapFromSource(SourceIndex(row, kColNom));
  Grille->selectionModel()->setCurrentIndex(index,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  Grille->scrollTo(index);
}

void TfrmMain::actAjouterExecute() {
  if (Checking()) return;
  RunGuarded(this, [this] {
    TfrmURL frmURL(data_, this);
    frmURL.ModeAjout = true;
    frmURL.exec();
    if (frmURL.Conserve) {
      SelectRow(AddRowFromTable());
      AjusterColonnes();
    }
  });
}

void TfrmMain::actModifierExecute() {
  if (Checking()) return;
  RunGuarded(this, [this] {
    const int row = SelectedRow();
    if (row < 0) {
      ShowError(this, QStringLiteral("Rien à modifier."));
      return;
    }
    TfrmURL frmURL(data_, this);
    frmURL.ModeAjout = false;
    frmURL.NomLien = RowName(row);
    frmURL.exec();
    if (frmURL.Conserve) {
      SetRowText(row, kColNom, data_.Table.GetData(kFieldNom));
      SetRowText(row, kColUrl, data_.Table.GetData(kFieldUrl));
      AjusterColonnes();
    }
  });
}

void TfrmMain::actSupprimerExecute() {
  if (Checking()) return;
  RunGuarded(this, [this] {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
      ShowError(this, QStringLiteral("Rien à supprimer."));
      return;
    }
    if (!AskConfirmation(this, DeleteQuestion(*this, rows))) return;
    bool deleted = false;
    std::vector<std::string> names;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
      if (!data_.TrouverLien(RowName(*row))) continue;
      names.push_back(RowName(*row));
      rows_->removeRow(*row);
      data_.Table.Delete();
      deleted = true;
    }
    Grille->selectionModel()->clearSelection();
    if (deleted) data_.Save();
    // A deleted link's versions go with it.
    for (const std::string& name : names) data_.History.DeleteLink(name);
    ShowUnreadCount();
  });
}

bool TfrmMain::Checking() const { return runner_->Running(); }

void TfrmMain::MettreAJourLien(int row) { StartChecks({row}, /*whole_list=*/false); }

void TfrmMain::actMettreAJourExecute() {
  if (Checking()) return;
  RunGuarded(this, [this] {
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
      ShowError(this, QStringLiteral("Rien à mettre à jour."));
      return;
    }
    // Several links: shown as a run, with its progress and « Arrêter ».
    const bool several = rows.size() > 1;
    StartChecks(std::move(rows), several);
  });
}

void TfrmMain::actToutMettreAJourExecute() {
  if (Checking()) return;
  RunGuarded(this, [this] {
    // In the order the rows were added, not the order shown.
    std::vector<int> rows(static_cast<size_t>(RowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    if (!rows.empty()) StartChecks(std::move(rows), /*whole_list=*/true);
  });
}

void TfrmMain::actArreterExecute() {
  if (actArreter->isEnabled()) runner_->Stop();
}

void TfrmMain::StartChecks(std::vector<int> rows, bool whole_list) {
  std::vector<std::string> names;
  for (int row : rows) names.push_back(RowName(row));
  if (rows.empty() || !runner_->Start(names)) return;
  checked_rows_.clear();
  for (size_t i = 0; i < rows.size(); ++i) checked_rows_.push_back({rows[i], std::move(names[i])});
  // Greyed, not queued: a click meanwhile does nothing, now or later.
  // Any run may be stopped, a single link's too.
  actArreter->setEnabled(true);
  UpdateCommands();
  if (whole_list) {
    Progression->setRange(0, static_cast<int>(checked_rows_.size()));
    Progression->setValue(0);
    Progression->show();
  }
  ShowCheckStatus(checked_rows_.front().name);
}

int TfrmMain::CheckedRow(size_t index) const {
  const TCheckedRow& checked = checked_rows_[index];
  if (checked.row < RowCount() && RowName(checked.row) == checked.name) return checked.row;
  // The rows moved since the run started: the link's row is the one of its name.
  for (int row = 0; row < RowCount(); ++row)
    if (RowName(row) == checked.name) return row;
  return -1;
}

void TfrmMain::ShowCheckStatus(const std::string& name) {
  Status->showMessage(QStringLiteral(" Mise à jour en cours (") + DisplayText(name) + QStringLiteral(") ..."));
}

void TfrmMain::ShowCheckResults(const std::vector<TCheckRunResult>& results) {
  for (const TCheckRunResult& result : results) {
    // A name without a link: nothing was written, nothing changes.
    if (result.Outcome == TCheckOutcome::NotFound) continue;
    const int row = CheckedRow(static_cast<size_t>(result.Index));
    if (row < 0) continue;
    SetRowText(row, kColMaj, result.DateText);
    if (result.Outcome != TCheckOutcome::Failed) SetRowText(row, kColMajOk, result.DateText);
    SetRowText(row, kColEtat, EtatText(result.Outcome));
    // A success may have found the page moved: the row's record says.
    const bool found = result.Reason.empty() && data_.TrouverLien(result.Name);
    SetRowReason(*rows_, row,
                 found ? RowTip(result.Reason, data_.Table.GetData(kFieldAdresseFinale),
                                data_.Table.GetData(kFieldDemenage))
                       : result.Reason);
    RefreshRowMarks(row);
  }
  ShowUnreadCount();
  AjusterColonnes();
  if (Progression->isVisibleTo(this)) Progression->setValue(runner_->Done());
}

void TfrmMain::ShowCheckProgress() {
  // The link waited for longest is the one the run waits on.
  const std::vector<int> fetching = runner_->Fetching();
  if (!fetching.empty()) ShowCheckStatus(checked_rows_[static_cast<size_t>(fetching.front())].name);
}

void TfrmMain::EndChecks() {
  checked_rows_.clear();
  Progression->hide();
  Status->clearMessage();
  ShowSelectedReason(*Status, *Grille);
  actArreter->setEnabled(false);
  UpdateCommands();
  if (close_pending_) {
    close_pending_ = false;
    close();
  }
}

void TfrmMain::UpdateCommands() { UpdateCommandStates(*this); }

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!quitting_ && HideOnClose && HideOnClose()) {
    hide();
    event->ignore();
    return;
  }
  if (Checking()) {
    // Stopped as "Arrêter" stops it; the window closes once what was done
    // is saved, a moment later.
    close_pending_ = true;
    runner_->Stop();
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TfrmMain::actVoirChangementsExecute() {
  RunGuarded(this, [this] {
    // Allowed during a run too: the window takes a copy of both versions,
    // and every check finds its link again before writing to it.
    const int row = SelectedRow();
    if (row < 0) {
      ShowError(this, QStringLiteral("Rien à comparer."));
      return;
    }
    // Seen once its window is open.
    if (OuvrirChangements(this, data_, RowName(row)) != nullptr) {
      RefreshRowMarks(row);
      ShowUnreadCount();
    }
  });
}

void TfrmMain::actAProposDeExecute() {
  RunGuarded(this, [this] {
    TfrmAproposDe frmAproposDe(this);
    frmAproposDe.exec();
  });
}

void TfrmMain::actOptionsExecute() { emit OptionsRequested(); }

void TfrmMain::actQuitterExecute() {
  quitting_ = true;
  close();
}

}  // namespace veilex
