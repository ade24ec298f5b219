#include "app/LinkReason.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QStatusBar>

#include "app/TextCodec.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"

namespace veilex {

namespace {

// The reason as text, beside its tooltip (which is markup).
constexpr int kReasonRole = Qt::UserRole + 7;

constexpr const char* kMovedPrefix = "Cette page a d\xc3\xa9m\xc3\xa9nag\xc3\xa9 vers ";
}  // namespace

std::string MovedText(const std::string& adresse_finale, const std::string& demenage) {
  if (adresse_finale.empty() || demenage != kOui) return std::string();
  return kMovedPrefix + AddressForDisplay(adresse_finale);
}

std::string RowTip(const std::string& raison, const std::string& adresse_finale,
                   const std::string& demenage) {
  return raison.empty() ? MovedText(adresse_finale, demenage) : raison;
}

void SetRowReason(QStandardItemModel& rows, int row, const std::string& raison) {
  const QString reason = QString::fromUtf8(raison.data(), static_cast<qsizetype>(raison.size()));
  // A tooltip that looks like markup is shown as markup: the reason quotes
  // what servers sent (a status line, a Location), so it goes in as text.
  const QString tip = ToolTipText(reason);
  for (int column = 0; column < rows.columnCount(); ++column) {
    if (QStandardItem* item = rows.item(row, column)) {
      item->setData(reason, kReasonRole);
      item->setToolTip(tip);
    }
  }
}

QString RowReason(const QModelIndex& index) { return index.data(kReasonRole).toString(); }

void ShowSelectedReason(QStatusBar& status, const QAbstractItemView& view) {
  const QModelIndexList selected = view.selectionModel()->selectedRows();
  const QString reason = selected.isEmpty() ? QString() : RowReason(selected.first());
  if (reason.isEmpty()) {
    status.clearMessage();
  } else if (reason.startsWith(QString::fromUtf8(kMovedPrefix))) {
    status.showMessage(reason);
  } else {
    status.showMessage(QStringLiteral("Echec : ") + reason);
  }
}

}  // namespace veilex
