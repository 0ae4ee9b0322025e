#pragma once
// CColumnTreeCtrl: a tree with a header of resizable columns. Each item's values are one text, the
// fields in column order each followed by a tab ("a\tb\tc\t"); field 0 is the tree label, the others
// stand in their columns. Header and tree scroll together; the first column keeps a minimum width.
//
// Check boxes belong to the caller: a click on an item's box toggles it and calls the check
// callback without selecting the item, so that ticking a box never changes the current row. A
// click elsewhere on an item selects it and calls the click callback. Dragging an item with the
// left button calls the drag callbacks with screen positions; the caller decides where it lands.

#include <QTreeWidget>

#include <functional>

class QStyledItemDelegate;

class CColumnTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CColumnTreeCtrl(QWidget* parent = nullptr);

  // At most 16 columns; the header item is left-aligned.
  int InsertColumn(int index, const QString& text, int width);
  int DeleteColumn(int index);
  int ColumnCount() const { return int(widths_.size()); }
  int ColumnWidth(int index) const;

  // A new root item at the end, its check box off (drawn only when the caller sets a state).
  QTreeWidgetItem* InsertRootItem();
  // The item's fields as one text, each followed by a tab, for as many fields as there are columns.
  QString ItemText(const QTreeWidgetItem* item) const;
  void SetItemText(QTreeWidgetItem* item, const QString& tabText);
  // Field column of the item (empty when absent).
  QString GetItemColumnText(const QTreeWidgetItem* item, int column) const;
  // Replaces one field; the others stay.
  void SetItemColumnText(QTreeWidgetItem* item, int column, const QString& text);
  // Sorts the root items by one field, case-sensitive; an invalid column does nothing.
  void SortByColumn(int column, bool ascending);

  void SetFirstColumnMinWidth(int width) { firstMinWidth_ = width; }
  int FirstColumnMinWidth() const { return firstMinWidth_; }

  bool IsChecked(const QTreeWidgetItem* item) const;
  void SetChecked(QTreeWidgetItem* item, bool checked);
  // The check box of the item, in viewport coordinates (empty without one).
  QRect CheckBoxRect(const QTreeWidgetItem* item) const;

  using ItemCallback = std::function<void(QTreeWidgetItem* item, bool checked)>;
  void SetClickCallback(ItemCallback callback) { click_ = std::move(callback); }
  void SetCheckCallback(ItemCallback callback) { check_ = std::move(callback); }
  // Double click with the Ctrl state.
  void SetDoubleClickCallback(std::function<void(QTreeWidgetItem* item, bool ctrl)> callback) {
    doubleClick_ = std::move(callback);
  }
  void SetColumnClickCallback(std::function<void(int column)> callback) { columnClick_ = std::move(callback); }
  void SetDragCallbacks(std::function<void(QTreeWidgetItem* item)> begin, std::function<void(QPoint global)> move,
                        std::function<void(QPoint global)> end);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  void toggleCheck(QTreeWidgetItem* item);
  void applyHeader();

  std::vector<int> widths_;
  QStringList titles_;
  int firstMinWidth_ = 20;
  bool resizing_ = false;
  bool swallowRelease_ = false;
  bool dragging_ = false;
  QTreeWidgetItem* pressItem_ = nullptr;
  QPoint pressPos_;
  ItemCallback click_, check_;
  std::function<void(QTreeWidgetItem*, bool)> doubleClick_;
  std::function<void(int)> columnClick_;
  std::function<void(QTreeWidgetItem*)> dragBegin_;
  std::function<void(QPoint)> dragMove_, dragEnd_;
};
