#include "app/LinkReason.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QStatusBar>

namespace veilex {

void SetRowReason(QStandardItemModel& rows, int row, const std::string& raison) {
  const QString tip = QString::fromUtf8(raison.data(), static_cast<qsizetype>(raison.size()));
  for (int column = 0; column < rows.columnCount(); ++column) {
    if (QStandardItem* item = rows.item(row, column)) item->setToolTip(tip);
  }
}

void ShowSelectedReason(QStatusBar& status, const QAbstractItemView& view) {
  const QModelIndexList selected = view.selectionModel()->selectedRows();
  const QString reason = selected.isEmpty() ? QString() : selected.first().data(Qt::ToolTipRole).toString();
  if (reason.isEmpty()) {
    status.clearMessage();
  } else {
    status.showMessage(QStringLiteral("Echec : ") + reason);
  }
}

}  // namespace veilex
