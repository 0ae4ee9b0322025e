#include "ColumnTreeCtrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

constexpr int kMaxColumns = 16;

// The item delegate, with the style option of an item open to the tree's check-box hit test.
class ItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void fillOption(QStyleOptionViewItem* option, const QModelIndex& index) const { initStyleOption(option, index); }
};

}  // namespace

CColumnTreeCtrl::CColumnTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setItemDelegate(new ItemDelegate(this));
  setRootIsDecorated(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setColumnCount(0);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setSectionsClickable(true);
  header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  connect(header(), &QHeaderView::sectionResized, this, [this](int logical, int oldSize, int newSize) {
    if (logical >= 0 && logical < ColumnCount()) widths_[size_t(logical)] = newSize;
    if (resizing_ || logical != 0 || newSize >= firstMinWidth_) return;
    // The first column never gets narrower than its minimum.
    resizing_ = true;
    header()->resizeSection(0, oldSize >= firstMinWidth_ ? oldSize : firstMinWidth_);
    resizing_ = false;
  });
  connect(header(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (columnClick_) columnClick_(column);
  });
}

int CColumnTreeCtrl::InsertColumn(int index, const QString& text, int width) {
  if (ColumnCount() >= kMaxColumns) return -1;
  if (index < 0 || index > ColumnCount()) index = ColumnCount();
  titles_.insert(index, text);
  widths_.insert(widths_.begin() + index, width);
  applyHeader();
  return index;
}

int CColumnTreeCtrl::DeleteColumn(int index) {
  if (index < 0 || index >= ColumnCount()) return 0;
  titles_.removeAt(index);
  widths_.erase(widths_.begin() + index);
  applyHeader();
  return 1;
}

int CColumnTreeCtrl::ColumnWidth(int index) const {
  return index >= 0 && index < ColumnCount() ? widths_[size_t(index)] : 0;
}

void CColumnTreeCtrl::applyHeader() {
  resizing_ = true;
  const std::vector<int> widths = widths_;
  setColumnCount(int(widths.size()));
  setHeaderLabels(titles_);
  for (int i = 0; i < int(widths.size()); ++i) {
    header()->resizeSection(i, widths[size_t(i)]);
    if (QTreeWidgetItem* h = headerItem()) h->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
  }
  widths_ = widths;
  resizing_ = false;
}

QTreeWidgetItem* CColumnTreeCtrl::InsertRootItem() {
  auto* item = new QTreeWidgetItem(this);
  // The tree toggles check boxes itself (see mousePressEvent); the view must not toggle them too.
  item->setFlags((item->flags() | Qt::ItemIsSelectable | Qt::ItemIsEnabled) & ~Qt::ItemIsUserCheckable);
  return item;
}

QString CColumnTreeCtrl::ItemText(const QTreeWidgetItem* item) const {
  QString text;
  if (!item) return text;
  for (int i = 0; i < ColumnCount(); ++i) text += item->text(i) + QLatin1Char('\t');
  return text;
}

void CColumnTreeCtrl::SetItemText(QTreeWidgetItem* item, const QString& tabText) {
  if (!item) return;
  const QStringList fields = tabText.split(QLatin1Char('\t'));
  for (int i = 0; i < ColumnCount(); ++i) item->setText(i, i < fields.size() ? fields[i] : QString());
}

QString CColumnTreeCtrl::GetItemColumnText(const QTreeWidgetItem* item, int column) const {
  if (!item || column < 0 || column >= ColumnCount()) return QString();
  return item->text(column);
}

void CColumnTreeCtrl::SetItemColumnText(QTreeWidgetItem* item, int column, const QString& text) {
  if (item && column >= 0 && column < ColumnCount()) item->setText(column, text);
}

void CColumnTreeCtrl::SortByColumn(int column, bool ascending) {
  if (column < 0 || column >= ColumnCount()) return;
  // The items keep their data: the order comes from the texts alone.
  QList<QTreeWidgetItem*> items;
  while (topLevelItemCount() > 0) items.append(takeTopLevelItem(0));
  std::stable_sort(items.begin(), items.end(), [column, ascending](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    const int c = QString::compare(a->text(column), b->text(column), Qt::CaseSensitive);
    return ascending ? c < 0 : c > 0;
  });
  addTopLevelItems(items);
}

bool CColumnTreeCtrl::IsChecked(const QTreeWidgetItem* item) const {
  return item && item->checkState(0) == Qt::Checked;
}

void CColumnTreeCtrl::SetChecked(QTreeWidgetItem* item, bool checked) {
  if (item) item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

QRect CColumnTreeCtrl::CheckBoxRect(const QTreeWidgetItem* item) const {
  if (!item || !item->data(0, Qt::CheckStateRole).isValid()) return QRect();
  const QModelIndex index = indexFromItem(item, 0);
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  static_cast<const ItemDelegate*>(itemDelegate())->fillOption(&option, index);
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

void CColumnTreeCtrl::SetDragCallbacks(std::function<void(QTreeWidgetItem*)> begin, std::function<void(QPoint)> move,
                                       std::function<void(QPoint)> end) {
  dragBegin_ = std::move(begin);
  dragMove_ = std::move(move);
  dragEnd_ = std::move(end);
}

void CColumnTreeCtrl::toggleCheck(QTreeWidgetItem* item) {
  const bool checked = !IsChecked(item);
  SetChecked(item, checked);
  if (check_) check_(item, checked);
}

void CColumnTreeCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(p);
  pressItem_ = nullptr;
  if (event->button() == Qt::LeftButton && item && CheckBoxRect(item).contains(p)) {
    toggleCheck(item);
    swallowRelease_ = true;
    event->accept();
    return;
  }
  QTreeWidget::mousePressEvent(event);
  if (event->button() == Qt::LeftButton && item) {
    pressItem_ = item;
    pressPos_ = p;
    if (click_) click_(item, IsChecked(item));
  }
}

void CColumnTreeCtrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (dragging_) {
    if (dragMove_) dragMove_(event->globalPosition().toPoint());
    event->accept();
    return;
  }
  if ((event->buttons() & Qt::LeftButton) && pressItem_ && dragBegin_ &&
      (p - pressPos_).manhattanLength() >= QApplication::startDragDistance()) {
    dragging_ = true;
    viewport()->grabMouse(QCursor(Qt::DragMoveCursor));
    dragBegin_(pressItem_);
    event->accept();
    return;
  }
  QTreeWidget::mouseMoveEvent(event);
}

void CColumnTreeCtrl::mouseReleaseEvent(QMouseEvent* event) {
  if (dragging_) {
    dragging_ = false;
    pressItem_ = nullptr;
    viewport()->releaseMouse();
    if (dragEnd_) dragEnd_(event->globalPosition().toPoint());
    event->accept();
    return;
  }
  pressItem_ = nullptr;
  if (swallowRelease_) {
    swallowRelease_ = false;
    event->accept();
    return;
  }
  QTreeWidget::mouseReleaseEvent(event);
}

void CColumnTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(p);
  if (event->button() == Qt::LeftButton && item && CheckBoxRect(item).contains(p)) {
    // The second click of a double click on a box toggles it again.
    toggleCheck(item);
    swallowRelease_ = true;
    event->accept();
    return;
  }
  if (event->button() == Qt::LeftButton && item) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (doubleClick_) doubleClick_(item, ctrl);
    event->accept();
    return;
  }
  QTreeWidget::mouseDoubleClickEvent(event);
}

void CColumnTreeCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && currentItem() && currentItem()->data(0, Qt::CheckStateRole).isValid()) {
    toggleCheck(currentItem());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void CColumnTreeCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QTreeWidget::drawRow(painter, option, index);
  // A red frame marks the selected row over its whole width.
  if (selectionModel() && selectionModel()->isSelected(index)) {
    painter->save();
    painter->setPen(QColor(255, 0, 0));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->restore();
  }
}
