// TLinkList: what the main window's list offers beyond its rows: sorting on
// any column (names and addresses by their bytes, dates in time order), the
// search field that filters the rows as one types, the column widths and the
// sort remembered between runs, tooltips that spell out the whole address
// and the full date, a hint while the list is empty, and the row context
// menu with « Ouvrir la page » and « Copier l'adresse ». Owned by the main
// window, whose view, model and actions it works on. GUI thread only.
#pragma once

#include <QObject>
#include <QSortFilterProxyModel>
#include <functional>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTreeView;
class QUrl;

namespace veilex {

class TfrmMain;

// Each cell of the list keeps the stored bytes under this role beside its
// display text.
inline constexpr int kLinkBytesRole = Qt::UserRole + 1;

// The rows as shown: sorted on the column chosen, filtered by the search
// text (a row stays when its name, address or state holds it, letter case
// ignored). Equal keys keep the order the rows were added in.
class TLinkListProxy : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void SetSearchText(const QString& text);
  // Follows the rows' changes before the sorting and filtering do, so that
  // the folded texts searched are never stale.
  void setSourceModel(QAbstractItemModel* rows) override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Every cell is alike: selectable, never edited in place, never a parent.
  // Answered without asking the rows, since the view asks it of every row
  // each time it lays the list out.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool hasChildren(const QModelIndex& parent) const override;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int source_row, const QModelIndex& source_parent) const override;

 private:
  // What a row is searched and sorted by, worked out once rather than at
  // every key and every comparison: the texts a search looks in,
  // case-folded (folding while matching costs more than the match), and the
  // key of the column sorted on.
  struct TRowKeys {
    bool Searchable = false;
    QString Nom, Url, Etat;
    int SortColumn = -1;  // the column the fields below are for; -1: none
    QByteArray Bytes;     // names and addresses
    long long Date = -1;  // dates
    QString Text;         // the state
  };
  TRowKeys& KeysOf(int source_row) const;
  const TRowKeys& SearchKeysOf(int source_row) const;
  const TRowKeys& SortKeysOf(int source_row, int column) const;

  QString search_;                      // folded
  mutable std::vector<TRowKeys> keys_;  // by row of the rows model
};

class TLinkList : public QObject {
  Q_OBJECT

 public:
  // Builds the search field above `main`'s list and becomes the list's
  // sorting proxy; the window's central widget is set here.
  TLinkList(TfrmMain& main, QTreeView* view, QAbstractItemModel* rows);

  TLinkListProxy* Proxy() const { return proxy_; }
  // True once column widths were set by hand (now or in an earlier run):
  // the window then leaves them as they are.
  bool UserWidths() const { return user_widths_; }
  // Applies the widths and the sort remembered from an earlier run; once
  // the view shows the proxy.
  void RestoreColumns();
  // Opens the row context menu at `position` (in the view's viewport); a
  // row under it that is not selected becomes the selection.
  void ShowContextMenu(const QPoint& position);

  // Opens an address in the desktop's browser; tests replace it.
  std::function<bool(const QUrl&)> OpenUrl;

  QLineEdit* edtRecherche;
  QLabel* lblVide;  // the hint shown while there is no link
  QMenu* MenuContextuel;
  QAction* actRechercher;
  QAction* actOuvrirPage;
  QAction* actCopierAdresse;

 public slots:
  void actRechercherExecute();
  void actOuvrirPageExecute();
  void actCopierAdresseExecute();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SaveColumns() const;
  void UpdateHint();
  // The full addresses of the selected rows, as the browser takes them.
  QList<QUrl> SelectedAddresses(QStringList* problems) const;

  TfrmMain& main_;
  QTreeView* view_;
  QAbstractItemModel* rows_;
  TLinkListProxy* proxy_;
  bool user_widths_ = false;
  bool dragging_ = false;  // a header border is being dragged
};

}  // namespace veilex
