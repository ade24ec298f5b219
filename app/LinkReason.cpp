#include "app/LinkReason.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QStatusBar>

#include "watch/LinkRecord.h"

namespace veilex {

namespace {
constexpr const char* kMovedPrefix = "Cette page a d\xc3\xa9m\xc3\xa9nag\xc3\xa9 vers ";
}  // namespace

std::string MovedText(const std::string& adresse_finale, const std::string& demenage) {
  if (adresse_finale.empty() || demenage != kOui) return std::string();
  return kMovedPrefix + adresse_finale;
}

std::string RowTip(const std::string& raison, const std::string& adresse_finale,
                   const std::string& demenage) {
  return raison.empty() ? MovedText(adresse_finale, demenage) : raison;
}

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
  } else if (reason.startsWith(QString::fromUtf8(kMovedPrefix))) {
    status.showMessage(reason);
  } else {
    status.showMessage(QStringLiteral("Echec : ") + reason);
  }
}

}  // namespace veilex
