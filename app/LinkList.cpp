#include "app/LinkList.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QSettings>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include "app/MainMenus.h"
#include "app/MessageBoxes.h"
#include "app/Settings.h"
#include "app/TextCodec.h"
#include "app/uMain.h"
#include "rtl/StrUtils.h"
#include "watch/LinkAddress.h"
#include "watch/LinkDate.h"

namespace veilex {
namespace {

constexpr const char* kWidthsKey = "liste/largeurs";
constexpr const char* kSortColumnKey = "liste/tri_colonne";
constexpr const char* kSortOrderKey = "liste/tri_ordre";

// The stored bytes of a cell (shared with the model, not copied).
QByteArray Bytes(const QModelIndex& index) { return index.data(kLinkBytesRole).toByteArray(); }

std::string_view View(const QByteArray& bytes) {
  return {bytes.constData(), static_cast<size_t>(bytes.size())};
}

bool IsDateColumn(int column) {
  return column == TfrmMain::kColMajOk || column == TfrmMain::kColMaj || column == TfrmMain::kColChg;
}

// Undated texts ("inconnue") sort before every date.
long long DateKey(const QModelIndex& index) {
  const QByteArray bytes = Bytes(index);
  const std::optional<TDateText> date = ReadDateText(View(bytes));
  return date ? date->Key() : -1;
}

}  // namespace

void TLinkListProxy::SetSearchText(const QString& text) {
  const QString needle = text.trimmed().toCaseFolded();
  if (needle == search_) return;
  search_ = needle;
  // Only the rows that come or go change places; a full invalidate() would
  // sort the whole list again at every key (three times slower at 10,000).
  invalidateFilter();
}

void TLinkListProxy::setSourceModel(QAbstractItemModel* rows) {
  if (sourceModel() != nullptr) disconnect(sourceModel(), nullptr, this, nullptr);
  keys_.clear();
  if (rows != nullptr) {
    // Connected before the base class connects its own: slots run in the
    // order they were connected.
    connect(rows, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
              for (int row = first.row(); row <= last.row() && row < static_cast<int>(keys_.size()); ++row)
                keys_[row] = TRowKeys();
            });
    connect(rows, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
              if (parent.isValid() || first > static_cast<int>(keys_.size())) return keys_.clear();
              keys_.insert(keys_.begin() + first, last - first + 1, TRowKeys());
            });
    connect(rows, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
              if (parent.isValid() || last >= static_cast<int>(keys_.size())) return keys_.clear();
              keys_.erase(keys_.begin() + first, keys_.begin() + last + 1);
            });
    const auto forget = [this] { keys_.clear(); };
    connect(rows, &QAbstractItemModel::modelReset, this, forget);
    connect(rows, &QAbstractItemModel::layoutChanged, this, forget);
    connect(rows, &QAbstractItemModel::rowsMoved, this, forget);
  }
  QSortFilterProxyModel::setSourceModel(rows);
}

TLinkListProxy::TRowKeys& TLinkListProxy::KeysOf(int source_row) const {
  // Whatever the model did that was not followed, the keys start again.
  const int rows = sourceModel()->rowCount();
  if (static_cast<int>(keys_.size()) != rows) keys_.assign(rows, TRowKeys());
  return keys_[source_row];
}

const TLinkListProxy::TRowKeys& TLinkListProxy::SearchKeysOf(int source_row) const {
  TRowKeys& keys = KeysOf(source_row);
  if (!keys.Searchable) {
    const QAbstractItemModel* rows = sourceModel();
    const auto folded = [&](int column) {
      return rows->index(source_row, column).data().toString().toCaseFolded();
    };
    keys.Nom = folded(TfrmMain::kColNom);
    keys.Url = folded(TfrmMain::kColUrl);
    keys.Etat = folded(TfrmMain::kColEtat);
    keys.Searchable = true;
  }
  return keys;
}

const TLinkListProxy::TRowKeys& TLinkListProxy::SortKeysOf(int source_row, int column) const {
  TRowKeys& keys = KeysOf(source_row);
  if (keys.SortColumn != column) {
    const QModelIndex cell = sourceModel()->index(source_row, column);
    if (IsDateColumn(column)) {
      keys.Date = DateKey(cell);
    } else if (column == TfrmMain::kColEtat) {
      keys.Text = cell.data().toString();
    } else {
      keys.Bytes = Bytes(cell);
    }
    keys.SortColumn = column;
  }
  return keys;
}

bool TLinkListProxy::filterAcceptsRow(int source_row, const QModelIndex& source_parent) const {
  if (search_.isEmpty() || source_parent.isValid()) return true;
  const TRowKeys& keys = SearchKeysOf(source_row);
  return keys.Nom.contains(search_) || keys.Url.contains(search_) || keys.Etat.contains(search_);
}

bool TLinkListProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const int column = left.column();
  const TRowKeys& one = SortKeysOf(left.row(), column);
  const TRowKeys& other = SortKeysOf(right.row(), column);
  if (IsDateColumn(column)) return one.Date < other.Date;
  if (column == TfrmMain::kColEtat) return QString::localeAwareCompare(one.Text, other.Text) < 0;
  // Names and addresses by their bytes, as the table sorts: "B" before "a".
  return CompareStr(View(one.Bytes), View(other.Bytes)) < 0;
}

Qt::ItemFlags TLinkListProxy::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren
                         : Qt::NoItemFlags;
}

bool TLinkListProxy::hasChildren(const QModelIndex& parent) const {
  return !parent.isValid() && rowCount() > 0;
}

QVariant TLinkListProxy::data(const QModelIndex& index, int role) const {
  const QVariant value = QSortFilterProxyModel::data(index, role);
  if (role != Qt::ToolTipRole || !index.isValid()) return value;
  QString tip;
  if (index.column() == TfrmMain::kColUrl) {
    tip = index.data(Qt::DisplayRole).toString();
  } else if (IsDateColumn(index.column())) {
    const QByteArray bytes = Bytes(index);
    if (const std::optional<TDateText> date = ReadDateText(View(bytes)))
      tip = QString::fromUtf8(LongDateText(*date));
  }
  const QString reason = value.toString();
  if (tip.isEmpty()) return value;
  if (reason.isEmpty()) return tip;
  // A reason written as rich text keeps its markup; the line above it is
  // then escaped to match.
  if (reason.startsWith(QLatin1Char('<'))) return tip.toHtmlEscaped() + QStringLiteral("<br>") + reason;
  return tip + QLatin1Char('\n') + reason;
}

TLinkList::TLinkList(TfrmMain& main, QTreeView* view, QAbstractItemModel* rows)
    : QObject(&main),
      OpenUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      main_(main),
      view_(view),
      rows_(rows) {
  proxy_ = new TLinkListProxy(this);
  proxy_->setSourceModel(rows_);
  proxy_->setDynamicSortFilter(true);  // a new or renamed row takes its place at once

  edtRecherche = new QLineEdit;
  edtRecherche->setObjectName(QStringLiteral("edtRecherche"));
  edtRecherche->setPlaceholderText(QStringLiteral("Rechercher un nom, une adresse ou un état (Ctrl+F)"));
  edtRecherche->setClearButtonEnabled(true);
  connect(edtRecherche, &QLineEdit::textChanged, proxy_, &TLinkListProxy::SetSearchText);
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(edtRecherche);
  layout->addWidget(view_);
  main.setCentralWidget(central);

  lblVide =
      new QLabel(QStringLiteral("Ajoutez une page à surveiller avec « Ajouter... »"), view_->viewport());
  lblVide->setObjectName(QStringLiteral("lblVide"));
  lblVide->setAlignment(Qt::AlignCenter);
  lblVide->setWordWrap(true);
  lblVide->setEnabled(false);  // drawn greyed, as a hint
  lblVide->setAttribute(Qt::WA_TransparentForMouseEvents);
  view_->viewport()->installEventFilter(this);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(rows_, signal, this, &TLinkList::UpdateHint);
  connect(rows_, &QAbstractItemModel::modelReset, this, &TLinkList::UpdateHint);
  UpdateHint();

  auto make = [this](QAction*& action, const char* name, const QString& caption,
                     void (TLinkList::*handler)()) {
    action = NewCommand(&main_, name, caption);
    connect(action, &QAction::triggered, this, handler);
  };
  make(actRechercher, "actRechercher", QStringLiteral("Rechercher"), &TLinkList::actRechercherExecute);
  make(actOuvrirPage, "actOuvrirPage", QStringLiteral("Ouvrir la page"), &TLinkList::actOuvrirPageExecute);
  make(actCopierAdresse, "actCopierAdresse", QStringLiteral("Copier l'adresse"),
       &TLinkList::actCopierAdresseExecute);

  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this, &TLinkList::ShowContextMenu);
  MenuContextuel = new QMenu(view_);
  MenuContextuel->setObjectName(QStringLiteral("MenuContextuel"));
  MenuContextuel->addActions({main.actMettreAJour, main.actVoirChangements, actOuvrirPage, actCopierAdresse});
  MenuContextuel->addSeparator();
  MenuContextuel->addActions({main.actModifier, main.actSupprimer});
}

void TLinkList::RestoreColumns() {
  const auto store = SettingsStore();
  QHeaderView* header = view_->header();
  const QVariantList widths = store->value(kWidthsKey).toList();
  if (widths.size() == TfrmMain::kColumnCount) {
    user_widths_ = true;
    header->setStretchLastSection(true);
    for (int column = 0; column < TfrmMain::kColumnCount; ++column)
      view_->setColumnWidth(column, std::max(20, widths[column].toInt()));
  }
  bool is_number = false;
  const int column = store->value(kSortColumnKey, TfrmMain::kColNom).toInt(&is_number);
  const Qt::SortOrder order =
      store->value(kSortOrderKey).toInt() == Qt::DescendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  view_->sortByColumn(
      is_number && column >= 0 && column < TfrmMain::kColumnCount ? column : TfrmMain::kColNom, order);
  // From now on, what the user changes is kept.
  header->viewport()->installEventFilter(this);
  connect(header, &QHeaderView::sectionResized, this, [this] {
    if (!dragging_) return;
    user_widths_ = true;
    view_->header()->setStretchLastSection(true);
    SaveColumns();
  });
  connect(header, &QHeaderView::sortIndicatorChanged, this, [this] { SaveColumns(); });
}

void TLinkList::SaveColumns() const {
  const auto store = SettingsStore();
  const QHeaderView* header = view_->header();
  if (user_widths_) {
    QVariantList widths;
    for (int column = 0; column < TfrmMain::kColumnCount; ++column) widths << view_->columnWidth(column);
    store->setValue(kWidthsKey, widths);
  }
  store->setValue(kSortColumnKey, header->sortIndicatorSection());
  store->setValue(kSortOrderKey, static_cast<int>(header->sortIndicatorOrder()));
}

bool TLinkList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_->header()->viewport()) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
      dragging_ = true;
    if (event->type() == QEvent::MouseButtonRelease) {
      // A double click on a border fits the column: its resize comes now.
      QMetaObject::invokeMethod(
          this, [this] { dragging_ = false; }, Qt::QueuedConnection);
    }
  } else if (watched == view_->viewport() && event->type() == QEvent::Resize) {
    lblVide->setGeometry(view_->viewport()->rect().adjusted(16, 16, -16, -16));
  }
  return QObject::eventFilter(watched, event);
}

void TLinkList::UpdateHint() {
  lblVide->setGeometry(view_->viewport()->rect().adjusted(16, 16, -16, -16));
  lblVide->setVisible(rows_->rowCount() == 0);
}

void TLinkList::ShowContextMenu(const QPoint& position) {
  const QModelIndex index = view_->indexAt(position);
  if (!index.isValid()) return;
  if (!view_->selectionModel()->isRowSelected(index.row(), index.parent()))
    view_->selectionModel()->setCurrentIndex(index,
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  MenuContextuel->popup(view_->viewport()->mapToGlobal(position));
}

void TLinkList::actRechercherExecute() {
  edtRecherche->setFocus(Qt::ShortcutFocusReason);
  edtRecherche->selectAll();
}

QList<QUrl> TLinkList::SelectedAddresses(QStringList* problems) const {
  QList<QUrl> addresses;
  for (int row : main_.SelectedRows()) {
    const std::string stored =
        rows_->index(row, TfrmMain::kColUrl).data(kLinkBytesRole).toByteArray().toStdString();
    const TFetchTarget target = FetchTargetOf(stored);
    if (target.Ok) {
      addresses << QUrl::fromEncoded(QByteArray::fromStdString(target.Address));
    } else if (problems != nullptr) {
      *problems << DisplayText(stored) + QStringLiteral(" : ") + QString::fromUtf8(target.Problem);
    }
  }
  return addresses;
}

void TLinkList::actOuvrirPageExecute() {
  RunGuarded(&main_, [this] {
    QStringList problems;
    for (const QUrl& address : SelectedAddresses(&problems))
      if (!OpenUrl(address))
        problems << address.toString() + QStringLiteral(" : le navigateur n'a pas pu l'ouvrir");
    if (!problems.isEmpty())
      ShowError(&main_, QStringLiteral("Impossible d'ouvrir la page :\n") + problems.join(QLatin1Char('\n')));
  });
}

void TLinkList::actCopierAdresseExecute() {
  QStringList lines;
  for (const QUrl& address : SelectedAddresses(nullptr)) lines << address.toString();
  if (!lines.isEmpty()) QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

}  // namespace veilex
