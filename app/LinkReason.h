// The reason of a link's last failed check (`raison`, UTF-8) where the user
// sees it: as the tooltip of every cell of its row in the list, and in the
// status bar while the row is selected. GUI thread only.
#pragma once

#include <string>

class QAbstractItemView;
class QModelIndex;
class QString;
class QStandardItemModel;
class QStatusBar;

namespace veilex {

// Sets the tooltip of `row`'s cells to `raison` (shown as text, never as
// markup); an empty reason removes it.
void SetRowReason(QStandardItemModel& rows, int row, const std::string& raison);

// The reason a cell's row holds, as text; "" when none.
QString RowReason(const QModelIndex& index);

// Shows in `status` the reason of the row selected in `view`, or clears it
// when no row is selected or the row has none.
void ShowSelectedReason(QStatusBar& status, const QAbstractItemView& view);

}  // namespace veilex
