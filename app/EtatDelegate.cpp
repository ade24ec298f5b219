#include "app/EtatDelegate.h"

#include "app/TextCodec.h"
#include "watch/LinkRecord.h"

namespace veilex {

TEtatDelegate::TEtatDelegate(int etat_column, QObject* parent)
    : QStyledItemDelegate(parent), etat_column_(etat_column) {}

void TEtatDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  static const QString kEchec = DisplayText(kEtatEchec);
  const QString etat = index.siblingAtColumn(etat_column_).data().toString();
  if (index.siblingAtColumn(0).data(kUnreadRole).toBool()) {
    option->font.setBold(true);
  } else if (etat == kEchec && index.column() == etat_column_) {
    option->font.setItalic(true);
    // The selected row keeps the palette's highlighted text.
    option->palette.setColor(QPalette::Text, option->palette.color(QPalette::LinkVisited));
  }
}

}  // namespace veilex
