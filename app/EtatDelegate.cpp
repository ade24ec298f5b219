#include "app/EtatDelegate.h"

#include <QAbstractItemView>

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

void RepaintRowsOnEtatChange(QAbstractItemView* view, int etat_column) {
  QObject::connect(view->model(), &QAbstractItemModel::dataChanged, view,
                   [view, etat_column](const QModelIndex& top_left, const QModelIndex& bottom_right) {
                     if (top_left.column() > etat_column || bottom_right.column() < etat_column) return;
                     QWidget* viewport = view->viewport();
                     for (int row = top_left.row(); row <= bottom_right.row(); ++row) {
                       const QRect cell = view->visualRect(top_left.siblingAtRow(row));
                       viewport->update(QRect(0, cell.top(), viewport->width(), cell.height()));
                     }
                   });
}

}  // namespace veilex
