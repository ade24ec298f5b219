// TEtatDelegate: draws the rows of the link list so that the states that
// call for attention stand out: the row of an unread link (its first cell
// holds kUnreadRole true) in bold, the state "Echec de la mise à jour" in the palette's visited-link
// colour and in italics. It reads the state from the row's `etat_column`.
// Colours come from the view's palette, so dark themes stay readable.
// GUI thread only.
#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

namespace veilex {

// The role of a row's first cell that says its link is unread.
inline constexpr int kUnreadRole = Qt::UserRole + 2;

class TEtatDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  TEtatDelegate(int etat_column, QObject* parent);

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 private:
  int etat_column_;
};

// Makes `view` repaint a whole row when its state cell changes: the state
// decides how every cell of the row is drawn, and the model tells only the
// cell that changed. `view`'s model must be set.
void RepaintRowsOnEtatChange(QAbstractItemView* view, int etat_column);

}  // namespace veilex
