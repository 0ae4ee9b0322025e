#include "DlgOpenDicomDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

#include "ColumnTreeCtrl.h"
#include "DicomNodeImages.h"
#include "DlgDicomExtractorCT.h"
#include "DlgVolInfo.h"
#include "DocDraw.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
CString fromQt(const QString& s) { return CString(s.toStdWString()); }

constexpr int kItemRole = Qt::UserRole + 1;

// The preview: the picture centred on the menu colour.
class PreviewArea : public QWidget {
 public:
  PreviewArea(const QImage* image, QWidget* parent) : QWidget(parent), image_(image) { setMinimumSize(160, 160); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    if (image_->isNull()) return;
    p.drawImage((width() - image_->width()) / 2, (height() - image_->height()) / 2, *image_);
  }

 private:
  const QImage* image_;
};

}  // namespace

CDlgOpenDicomDir::CDlgOpenDicomDir(OpenDicomDir* browser, QWidget* parent) : QDialog(parent), browser_(browser) {
  setWindowTitle(QStringLiteral("DICOM Tree"));
  setObjectName(QStringLiteral("DICOM Tree"));
  resize(1100, 680);
  auto* layout = new QVBoxLayout(this);
  folder_ = new QLabel(toQt(browser_->Folder()), this);
  layout->addWidget(folder_);

  auto* options = new QHBoxLayout;
  fullInfo_ = new QCheckBox(QStringLiteral("Full info"), this);
  useSeriesUid_ = new QCheckBox(QStringLiteral("Use Series UID"), this);
  combineStudies_ = new QCheckBox(QStringLiteral("Combine Studies"), this);
  filter_ = new QLineEdit(toQt(browser_->SeriesFilter()), this);
  options->addWidget(fullInfo_);
  options->addWidget(useSeriesUid_);
  options->addWidget(combineStudies_);
  options->addWidget(new QLabel(QStringLiteral("Only Series containing"), this));
  options->addWidget(filter_, 1);
  layout->addLayout(options);

  auto* split = new QSplitter(Qt::Horizontal, this);
  tree_ = new CColumnTreeCtrl(split);
  tree_->setObjectName(QStringLiteral("StudyTree"));
  tree_->setRootIsDecorated(true);
  tree_->setIconSize(QSize(16, 16));
  const char* titles[6] = {"Description", "Series", "Dimension WxHxDxN", "Time (s)", "Echo time (ms)", "b-value (s/mm^2)"};
  for (int i = 0; i < 6; ++i) tree_->InsertColumn(i, QString::fromLatin1(titles[i]), 100);
  auto* right = new QSplitter(Qt::Vertical, split);
  tags_ = new CColumnTreeCtrl(right);
  tags_->setObjectName(QStringLiteral("TagTree"));
  tags_->setRootIsDecorated(false);
  previewArea_ = new PreviewArea(&preview_, right);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);

  auto* grid = new QGridLayout;
  const char* captions[13] = {"&Browse", "Refresh", "Load", "Copy", "Delete", "Show Compatible Volumes", "Check Subtree",
                              "Check\\Uncheck All", "Check Range", "Compare", "Set b-value", "Set TE", "Copy Info"};
  const std::function<void()> actions[13] = {
      [this] { browser_->OnBrowse(); },
      [this] { browser_->OnRefresh(); },
      [this] { browser_->OnLoad(); },
      [this] { browser_->OnCopy(); },
      [this] { browser_->OnDelete(); },
      [this] { browser_->OnShowCompatibleVolumes(); },
      [this] { browser_->OnCheckSubtree(); },
      [this] { browser_->OnCheckUncheckAll(); },
      [this] { browser_->OnCheckRange(); },
      [this] { browser_->OnCompare(); },
      [this] { browser_->OnSetBvalue(); },
      [this] { browser_->OnSetTE(); },
      [this] { browser_->OnCopyInfo(); },
  };
  for (int i = 0; i < 13; ++i) grid->addWidget(addButton(QString::fromLatin1(captions[i]), actions[i]), i / 7, i % 7);
  layout->addLayout(grid);
  Button(QStringLiteral("Load"))->setEnabled(false);
  refreshOptions();

  connect(fullInfo_, &QCheckBox::toggled, this, [this](bool on) {
    if (!syncing_) browser_->SetFullInfo(on);
  });
  connect(useSeriesUid_, &QCheckBox::toggled, this, [this](bool on) {
    if (!syncing_) browser_->SetUseSeriesUid(on);
  });
  connect(combineStudies_, &QCheckBox::toggled, this, [this](bool on) {
    if (!syncing_) browser_->SetCombineStudies(on);
  });
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) { browser_->SetSeriesFilter(fromQt(text)); });
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
    if (syncing_ || !current) return;
    const Qt::KeyboardModifiers keys = modifiers();
    browser_->OnSelect(ItemOf(current), keys & Qt::ControlModifier, keys & Qt::ShiftModifier);
  });
  tree_->SetClickCallback([this](QTreeWidgetItem* row, bool) {
    VA_DICOMTREEITEM* item = ItemOf(row);
    // Only a click on the item that was highlighted before the click repeats the Ctrl/Shift rule.
    if (!item || item != pressedOnHighlighted_) return;
    const Qt::KeyboardModifiers keys = modifiers();
    browser_->OnClickLabel(item, keys & Qt::ControlModifier, keys & Qt::ShiftModifier);
  });
  tree_->SetCheckCallback([this](QTreeWidgetItem* row, bool checked) {
    if (!syncing_) browser_->SetChecked(ItemOf(row), checked);
  });
  connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* row) {
    if (!syncing_) browser_->SetExpanded(ItemOf(row), true);
  });
  connect(tree_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* row) {
    if (!syncing_) browser_->SetExpanded(ItemOf(row), false);
  });
  tags_->SetColumnClickCallback([this](int column) { browser_->OnTagHeaderClick(column); });
  tree_->viewport()->installEventFilter(this);
  previewArea_->installEventFilter(this);
  browser_->SetNotify([this](unsigned changes) { onChange(changes); });
}

CDlgOpenDicomDir::~CDlgOpenDicomDir() { browser_->SetNotify(nullptr); }

QPushButton* CDlgOpenDicomDir::addButton(const QString& text, std::function<void()> action) {
  auto* button = new QPushButton(text, this);
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [action = std::move(action)] {
    // Nothing starts inside a running operation (a scan pumps events while it reads).
    if (!PR_InWorkProcess()) action();
  });
  buttons_.push_back(button);
  return button;
}

QPushButton* CDlgOpenDicomDir::Button(const QString& text) const {
  for (QPushButton* b : buttons_)
    if (b->text() == text || QString(b->text()).remove(QLatin1Char('&')) == text) return b;
  return nullptr;
}

QTreeWidgetItem* CDlgOpenDicomDir::RowOf(const VA_DICOMTREEITEM* item) const {
  auto it = rows_.find(item);
  return it == rows_.end() ? nullptr : it->second;
}

VA_DICOMTREEITEM* CDlgOpenDicomDir::ItemOf(const QTreeWidgetItem* row) const {
  return row ? reinterpret_cast<VA_DICOMTREEITEM*>(row->data(0, kItemRole).value<quintptr>()) : nullptr;
}

void CDlgOpenDicomDir::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  layoutColumns();
  if (opened_ || opening_) return;
  opening_ = true;
  // The tree is built once the dialog is on the screen, so that a long scan shows it painted.
  QTimer::singleShot(0, this, [this] {
    opened_ = true;
    browser_->OnInitDialog();
    for (QPushButton* b : buttons_)
      if (b->text() == QLatin1String("Load")) b->setEnabled(browser_->LoadEnabled());
    if (browser_->Result()) done(browser_->Result() == IDOK ? QDialog::Accepted : QDialog::Rejected);
  });
}

void CDlgOpenDicomDir::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layoutColumns();
  if (opened_) refreshTags();
}

void CDlgOpenDicomDir::layoutColumns() {
  const std::vector<int> widths = TW_DicomTreeColumnWidths(tree_->viewport()->width());
  for (int i = 0; i < 6 && i < tree_->ColumnCount(); ++i) tree_->header()->resizeSection(i, widths[size_t(i)]);
}

bool CDlgOpenDicomDir::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tree_->viewport() && event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    VA_DICOMTREEITEM* item = ItemOf(tree_->itemAt(mouse->position().toPoint()));
    pressedOnHighlighted_ = item && item == browser_->Highlighted() ? item : nullptr;
    pressKeys_ = mouse->modifiers();
    pressing_ = true;
  }
  if (watched == tree_->viewport() && event->type() == QEvent::MouseButtonRelease) pressing_ = false;
  if (watched == previewArea_ && event->type() == QEvent::Resize) refreshTags();
  return QDialog::eventFilter(watched, event);
}

Qt::KeyboardModifiers CDlgOpenDicomDir::modifiers() const {
  return pressing_ ? pressKeys_ : QApplication::keyboardModifiers();
}

void CDlgOpenDicomDir::reject() {
  browser_->OnCancel();
  QDialog::reject();
}

void CDlgOpenDicomDir::onChange(unsigned changes) {
  if (changes & OpenDicomDir::kFolderChanged) folder_->setText(toQt(browser_->Folder()));
  if (changes & OpenDicomDir::kTreeRebuilt) rebuildRows();
  else if (changes & OpenDicomDir::kRowsChanged) refreshRows();
  if (changes & OpenDicomDir::kSelectionChanged) selectHighlighted();
  if (changes & OpenDicomDir::kTagsChanged) refreshTags();
  if (changes & OpenDicomDir::kOptionsChanged) refreshOptions();
  if (opened_ && browser_->Result() && isVisible())
    QTimer::singleShot(0, this, [this] { done(browser_->Result() == IDOK ? QDialog::Accepted : QDialog::Rejected); });
}

void CDlgOpenDicomDir::rebuildRows() {
  syncing_ = true;
  tree_->clear();
  rows_.clear();
  std::function<void(VA_DICOMTREEITEM*, QTreeWidgetItem*)> add = [&](VA_DICOMTREEITEM* item, QTreeWidgetItem* parent) {
    QTreeWidgetItem* row = parent ? new QTreeWidgetItem(parent) : tree_->InsertRootItem();
    row->setFlags((row->flags() | Qt::ItemIsSelectable | Qt::ItemIsEnabled) & ~Qt::ItemIsUserCheckable);
    row->setData(0, kItemRole, QVariant::fromValue(quintptr(item)));
    rows_[item] = row;
    for (auto& child : item->children) add(child.get(), row);
  };
  for (auto& item : browser_->Tree().items) add(item.get(), nullptr);
  refreshRows();
  for (auto& [item, row] : rows_) row->setExpanded(browser_->IsExpanded(item));
  syncing_ = false;
  selectHighlighted();
}

void CDlgOpenDicomDir::refreshRows() {
  const bool was = syncing_;
  syncing_ = true;
  for (auto& [item, row] : rows_) {
    tree_->SetItemText(row, toQt(browser_->RowText(item)));
    tree_->SetChecked(row, item->checked);
    row->setIcon(0, TW_DicomNodeIcon(item->image));
  }
  syncing_ = was;
}

void CDlgOpenDicomDir::selectHighlighted() {
  const bool was = syncing_;
  syncing_ = true;
  QTreeWidgetItem* row = RowOf(browser_->Highlighted());
  tree_->setCurrentItem(row);
  if (row) tree_->scrollToItem(row);
  syncing_ = was;
}

void CDlgOpenDicomDir::refreshTags() {
  TW_ShowInfoTable(tags_, browser_->Tags(), browser_->FullInfo());
  preview_ = QImage();
  const std::vector<double>& values = browser_->PreviewValues();
  if (!values.empty())
    TW_RenderImageToBitmap(values.data(), browser_->PreviewWidth(), browser_->PreviewHeight(), true,
                           previewArea_->width(), previewArea_->height(), 0, &preview_);
  previewArea_->update();
}

void CDlgOpenDicomDir::refreshOptions() {
  syncing_ = true;
  fullInfo_->setChecked(browser_->FullInfo());
  useSeriesUid_->setChecked(browser_->UseSeriesUid());
  combineStudies_->setChecked(browser_->CombineStudies());
  syncing_ = false;
}

namespace {

QWidget* dialogParent() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->inherits("QMainWindow")) return w;
  return nullptr;
}

}  // namespace

void TW_InstallDicomDialogs() {
  TW_SetOpenDicomDirView([](OpenDicomDir* browser) -> int {
    // A load request runs without the window: the item is found and loaded at once.
    if (browser->Request()) {
      browser->OnInitDialog();
      return browser->Result() ? browser->Result() : IDCANCEL;
    }
    CDlgOpenDicomDir dialog(browser, dialogParent());
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
  });
  TW_SetVolInfoView([](VolInfo* info) {
    CDlgVolInfo dialog(info, dialogParent());
    if (!dialog.OnInitDialog()) return false;
    dialog.exec();
    return true;
  });
  TW_SetDicomExtractorView([](DicomExtractorCTSettings* settings) {
    CDlgDicomExtractorCT dialog(*settings, dialogParent());
    if (dialog.exec() != QDialog::Accepted) return false;
    *settings = dialog.Settings();
    return true;
  });
}

void TW_RemoveDicomDialogs() {
  TW_SetOpenDicomDirView(nullptr);
  TW_SetVolInfoView(nullptr);
  TW_SetDicomExtractorView(nullptr);
}
