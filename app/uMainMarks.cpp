// The unread marks in the main window: the bold rows, the count in the
// status bar, « Marquer comme lu » and « Tout marquer comme lu »; and the
// bounds of the history. Members of TfrmMain kept apart from its other
// commands.
#include <QItemSelectionModel>
#include <QLabel>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTreeView>
#include <set>

#include "app/EtatDelegate.h"
#include "app/MessageBoxes.h"
#include "app/uMain.h"
#include "watch/LinkRecord.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {

bool TfrmMain::RowUnread(int row) const { return SourceIndex(row, kColNom).data(kUnreadRole).toBool(); }

QStringList TfrmMain::UnreadNames() const {
  QStringList names;
  for (int row = 0; row < RowCount(); ++row)
    if (RowUnread(row)) names << RowText(row, kColNom);
  names.sort();
  return names;
}

void TfrmMain::RefreshRowMarks(int row) {
  if (!data_.TrouverLien(RowName(row))) return;
  SetRowText(row, kColChg, data_.Table.GetData(kFieldChg));
  rows_->item(row, kColNom)->setData(IsUnread(data_), kUnreadRole);
  // The whole row changes its font.
  Grille->viewport()->update();
}

void TfrmMain::ShowUnreadCount() {
  const QStringList unread = UnreadNames();
  lblNonLus->setText(unread.isEmpty()     ? QString()
                     : unread.size() == 1 ? QStringLiteral("1 non lu")
                                          : QStringLiteral("%1 non lus").arg(unread.size()));
  emit UnreadChanged(unread);
}

void TfrmMain::SetHistoryBounds(const THistoryBounds& bounds) {
  data_.History.Bounds = bounds;
  data_.History.Trim();
}

void TfrmMain::actMarquerLuExecute() {
  RunGuarded(this, [this] {
    std::set<int> rows;
    for (const QModelIndex& index : Grille->selectionModel()->selectedRows())
      rows.insert(shown_->mapToSource(index).row());
    if (rows.empty()) {
      ShowError(this, QStringLiteral("Rien à marquer comme lu."));
      return;
    }
    for (int row : rows) MarkRead(data_, RowName(row));
    data_.Save();
    for (int row : rows) RefreshRowMarks(row);
    ShowUnreadCount();
  });
}

void TfrmMain::actToutMarquerLuExecute() {
  RunGuarded(this, [this] {
    if (MarkAllRead(data_) > 0) data_.Save();
    for (int row = 0; row < RowCount(); ++row)
      if (RowUnread(row)) RefreshRowMarks(row);
    ShowUnreadCount();
  });
}

}  // namespace veilex
