// TfrmMain: the main window. Shows every link as one row of the list Grille,
// offers the commands on its tool bar and progress in its status bar. It owns
// its widgets and actions, not the links: those live in the TData it is
// given, which must outlive it. Page checks run from its event loop (through
// TCheckRunner) while the window stays usable. GUI thread only.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QCloseEvent;
class QResizeEvent;
class QModelIndex;
class QProgressBar;
class QShowEvent;
class QSortFilterProxyModel;
class QStandardItemModel;
class QStatusBar;
class QToolBar;
class QToolButton;
class QTreeView;

namespace veilex {

struct THistoryBounds;
class TData;
class TCheckRunner;
class TImportExport;
class TLinkList;
struct TCheckRunResult;

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // The columns of Grille, left to right.
  enum TColumn { kColNom = 0, kColUrl, kColMajOk, kColMaj, kColEtat, kColChg, kColumnCount };

  explicit TfrmMain(TData& data, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // Fills Grille from the link table, sorted on the name (the table too).
  void RemplirGrille();
  // Sizes the columns: "Nom" to its longest text within a share of the
  // width, the dates and the state to their longest texts, and "URL" to what
  // is left (eliding its texts), so that the state stays in view.
  void AjusterColonnes();

  // The list's rows in their internal order, the order in which they were
  // added (not the order shown, which is sorted on "Nom").
  int RowCount() const;
  // The name a row stands for, as the bytes stored in the table.
  std::string RowName(int row) const;
  // What a row shows in a column.
  QString RowText(int row, int column) const;
  // Writes the stored bytes `value` into a row's column, shown as text.
  void SetRowText(int row, int column, const std::string& value);
  // The selected row with the focus, else the first selected (internal
  // order), or -1.
  int SelectedRow() const;
  // Every selected row, in internal order.
  std::vector<int> SelectedRows() const;
  void SelectRow(int row);

  // Starts the check of the link of a list row (internal order) and returns:
  // the status bar tells which link is checked, and once it is done the
  // row's columns show the outcome. Fetch failures end in the state "Echec
  // de la mise à jour"; nothing is raised for them. Nothing happens while
  // another check runs.
  void MettreAJourLien(int row);
  // True while a page check runs ("Mettre à jour" or "Tout mettre à jour"):
  // the commands that would change the links meanwhile are disabled.
  bool Checking() const;
  // What runs the checks; it says when a run ends (RunFinished).
  TCheckRunner& Runner() const { return *runner_; }

  // Asked when the window is closed other than by « Quitter »: true hides
  // it instead (checks go on in the background); unset closes it.
  std::function<bool()> HideOnClose;

  // The link commands, then below them "A propos de...", "Options..." and
  // "Quitter".
  QToolBar* ToolBar1;
  QToolBar* ToolBar2;
  // The button that shows `action` on either tool bar.
  QToolButton* ToolButton(QAction* action) const;
  QTreeView* Grille;
  // Sorting, search, column memory and the context menu of Grille.
  TLinkList* Liste = nullptr;
  // « Importer... » and « Exporter... ».
  TImportExport* ImportExport = nullptr;
  QStatusBar* Status;
  // "k / n" in the status bar during "Tout mettre à jour".
  QProgressBar* Progression;
  // How many links are unread, in the status bar (empty when none).
  QLabel* lblNonLus;

  // True when the row's link is unread (shown in bold).
  bool RowUnread(int row) const;
  // The names of the unread links, as shown.
  QStringList UnreadNames() const;
  // What the history of versions keeps from now on; what it holds beyond
  // that goes at once.
  void SetHistoryBounds(const THistoryBounds& bounds);

  QAction* actAjouter;
  QAction* actModifier;
  QAction* actSupprimer;
  QAction* actMettreAJour;
  QAction* actToutMettreAJour;
  QAction* actArreter;
  QAction* actVoirChangements;
  QAction* actMarquerLu;
  QAction* actToutMarquerLu;
  QAction* actAProposDe;
  QAction* actOptions;
  QAction* actQuitter;

 signals:
  // « Options... » was chosen; whoever keeps the settings opens the dialog.
  void OptionsRequested();
  // The set of unread links changed (a check, « Marquer comme lu », the
  // comparison window opened); the names of those unread now.
  void UnreadChanged(const QStringList& unread_names);

 public slots:
  void actAjouterExecute();
  void actModifierExecute();
  void actSupprimerExecute();
  void actMettreAJourExecute();
  void actToutMettreAJourExecute();
  void actArreterExecute();
  void actVoirChangementsExecute();
  // « Marquer comme lu »: the selected links; « Tout marquer comme lu ».
  void actMarquerLuExecute();
  void actToutMarquerLuExecute();
  void actAProposDeExecute();
  void actOptionsExecute();
  void actQuitterExecute();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateToolBar();
  void CreateGrille();
  void FormShow();
  // Appends a row holding the table's current row; returns its index.
  int AddRowFromTable();
  QModelIndex SourceIndex(int row, int column) const;
  // Starts checking the links of `rows` (internal order); with `whole_list`,
  // as "Tout mettre à jour": progress bar and "Arrêter".
  void StartChecks(std::vector<int> rows, bool whole_list);
  void ShowCheckStatus(const std::string& name);
  // The row of the run's `index`-th link now, found by its name; -1 when
  // the link is gone.
  int CheckedRow(size_t index) const;
  void ShowCheckResults(const std::vector<TCheckRunResult>& results);
  void ShowCheckProgress();
  // After a run: the window as before it, and a close asked for meanwhile.
  void EndChecks();
  // Shows the unread mark and last change date the table holds for the
  // row's link (uMainMarks.cpp), and the count of unread links.
  void RefreshRowMarks(int row);
  void ShowUnreadCount();
  // Greys the commands that cannot run now: during a check those that
  // change links, without a selected row those that act on one.
  void UpdateCommands();

  TData& data_;
  QStandardItemModel* rows_;      // the rows in the order they were added
  QSortFilterProxyModel* shown_;  // the same rows sorted and filtered (Liste's)
  bool shown_once_ = false;
  TCheckRunner* runner_;
  // The links of the run under way, by position in its names: the row each
  // was on when the run started, and its name.
  struct TCheckedRow {
    int row;
    std::string name;
  };
  std::vector<TCheckedRow> checked_rows_;
  bool close_pending_ = false;
  bool quitting_ = false;
};

}  // namespace veilex
