#pragma once
// CDlgVolInfo, the "Volume Info" dialog: a thin Qt view over VolInfo. The element tree of the
// header ("Data header"), the value of the selected element ("Element value"), the summary or
// full-info table with "Full info", sorting by column header and "Copy Info".

#include <QDialog>

#include "VolInfo.h"

class CColumnTreeCtrl;
class QCheckBox;
class QTreeWidget;
class QTreeWidgetItem;

// Shows a table in a column tree: its columns at the widths for the tree's client area, its rows.
void TW_ShowInfoTable(CColumnTreeCtrl* tree, const DicomInfoTable& table, bool fullInfo);

class CDlgVolInfo : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgVolInfo(VolInfo* info, QWidget* parent = nullptr);

  // Builds the trees; false when the dialog is to close at once.
  bool OnInitDialog();

  QTreeWidget* ElementTree() const { return elements_; }
  QTreeWidget* ValueTree() const { return value_; }
  CColumnTreeCtrl* Table() const { return table_; }
  QCheckBox* FullInfo() const { return fullInfo_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void fillTable();

  VolInfo* info_;
  QTreeWidget* elements_ = nullptr;
  QTreeWidget* value_ = nullptr;
  CColumnTreeCtrl* table_ = nullptr;
  QCheckBox* fullInfo_ = nullptr;
};
