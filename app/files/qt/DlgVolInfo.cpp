#include "DlgVolInfo.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

#include "ColumnTreeCtrl.h"
#include "DicomLoad.h"
#include "DicomNodeImages.h"
#include "TwkDicom.h"

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }

constexpr int kNodeRole = Qt::UserRole + 1;

}  // namespace

CDlgVolInfo::CDlgVolInfo(VolInfo* info, QWidget* parent) : QDialog(parent), info_(info) {
  setWindowTitle(QStringLiteral("Volume Info"));
  setObjectName(QStringLiteral("Volume Info"));
  resize(980, 640);
  auto* layout = new QVBoxLayout(this);
  auto* split = new QSplitter(Qt::Horizontal, this);
  auto* header = new QGroupBox(QStringLiteral("Data header"), split);
  auto* headerLayout = new QVBoxLayout(header);
  elements_ = new QTreeWidget(header);
  elements_->setObjectName(QStringLiteral("ElementTree"));
  elements_->setHeaderHidden(true);
  elements_->setIconSize(QSize(16, 16));
  headerLayout->addWidget(elements_);
  auto* rightSide = new QWidget(split);
  auto* rightLayout = new QVBoxLayout(rightSide);
  auto* valueBox = new QGroupBox(QStringLiteral("Element value"), rightSide);
  auto* valueLayout = new QVBoxLayout(valueBox);
  value_ = new QTreeWidget(valueBox);
  value_->setHeaderHidden(true);
  value_->setMaximumHeight(80);
  valueLayout->addWidget(value_);
  rightLayout->addWidget(valueBox);
  table_ = new CColumnTreeCtrl(rightSide);
  table_->setObjectName(QStringLiteral("InfoTable"));
  table_->setRootIsDecorated(false);
  rightLayout->addWidget(table_, 1);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);

  auto* bottom = new QHBoxLayout;
  fullInfo_ = new QCheckBox(QStringLiteral("Full info"), this);
  auto* copy = new QPushButton(QStringLiteral("Copy Info"), this);
  copy->setAutoDefault(false);
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  bottom->addWidget(fullInfo_);
  bottom->addWidget(copy);
  bottom->addStretch(1);
  bottom->addWidget(ok);
  layout->addLayout(bottom);

  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(copy, &QPushButton::clicked, this, [this] { info_->OnCopyInfo(); });
  connect(fullInfo_, &QCheckBox::toggled, this, [this](bool on) {
    info_->SetFullInfo(on);
    fillTable();
  });
  table_->SetColumnClickCallback([this](int column) {
    if (info_->OnColumnClick(column)) fillTable();
  });
  connect(elements_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (current == previous) return;
    value_->clear();
    const auto* node = current ? reinterpret_cast<const DCMNODE*>(current->data(0, kNodeRole).value<quintptr>()) : nullptr;
    if (!node) return;
    auto* row = new QTreeWidgetItem(value_, QStringList(toQt(VolInfo::ValueText(node))));
    value_->setCurrentItem(row);
  });
  // Open and closed folders follow the nodes' expansion.
  connect(elements_, &QTreeWidget::itemExpanded, this,
          [](QTreeWidgetItem* row) { row->setIcon(0, TW_DicomNodeIcon(TW_DicomNodeImageIndex(0x180))); });
  connect(elements_, &QTreeWidget::itemCollapsed, this,
          [](QTreeWidgetItem* row) { row->setIcon(0, TW_DicomNodeIcon(TW_DicomNodeImageIndex(0x181))); });
}

bool CDlgVolInfo::OnInitDialog() {
  if (!info_->OnInitDialog()) return false;
  const DCMNODE* root = info_->Root();
  std::function<void(const DCMNODE*, QTreeWidgetItem*)> add = [&](const DCMNODE* node, QTreeWidgetItem* parent) {
    auto* row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(elements_);
    row->setText(0, toQt(CString(node->text ? node->text : L"DICOM header")));
    row->setIcon(0, TW_DicomNodeIcon(node->numChildren > 0 ? 1 : 2));
    row->setData(0, kNodeRole, QVariant::fromValue(quintptr(node)));
    for (uint32_t i = 0; i < node->numChildren; ++i)
      if (node->children[i]) add(node->children[i], row);
  };
  add(root, nullptr);
  if (QTreeWidgetItem* first = elements_->topLevelItem(0)) {
    first->setExpanded(true);
    elements_->setCurrentItem(first);
  }
  setWindowTitle(toQt(info_->Title()));
  fillTable();
  return true;
}

void CDlgVolInfo::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The columns take their widths from the table's client area, known once it is shown.
  fillTable();
}

void CDlgVolInfo::fillTable() { TW_ShowInfoTable(table_, info_->Table(), info_->FullInfo()); }

void TW_ShowInfoTable(CColumnTreeCtrl* tree, const DicomInfoTable& table, bool fullInfo) {
  tree->clear();
  while (tree->ColumnCount() > 0) tree->DeleteColumn(tree->ColumnCount() - 1);
  const std::vector<int> widths = TW_DicomInfoColumnWidths(fullInfo, tree->viewport()->width());
  for (size_t i = 0; i < table.columns.size() && i < widths.size(); ++i)
    tree->InsertColumn(int(i), toQt(table.columns[i]), widths[i]);
  for (const auto& fields : table.rows) {
    QTreeWidgetItem* row = tree->InsertRootItem();
    for (size_t i = 0; i < fields.size() && int(i) < tree->ColumnCount(); ++i) row->setText(int(i), toQt(fields[i]));
  }
}
