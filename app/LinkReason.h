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
// « Cette page a déménagé vers … » (UTF-8) when the link's last check
// followed only permanent redirects (`demenage`) to `adresse_finale`; ""
// otherwise.
std::string MovedText(const std::string& adresse_finale, const std::string& demenage);

// What a row's tooltip tells: the reason of a failure, else that the page
// moved, else nothing.
std::string RowTip(const std::string& raison, const std::string& adresse_finale, const std::string& demenage);

// Sets the tooltip of `row`'s cells to `raison`; an empty reason removes it.
void SetRowReason(QStandardItemModel& rows, int row, const std::string& raison);

// Shows in `status` the reason of the row selected in `view` (or that its
// page moved), or clears it when no row is selected or the row has none.
void ShowSelectedReason(QStatusBar& status, const QAbstractItemView& view);

}  // namespace veilex
