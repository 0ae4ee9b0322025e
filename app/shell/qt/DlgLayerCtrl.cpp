#include "DlgLayerCtrl.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "ColumnTreeCtrl.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawViewWidget.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "MainFrame.h"
#include "ProgressPump.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "ViewFilter.h"
#include "paths/FilePaths.h"
#include "render/ColorSchemes.h"
#include "volume/VoxelAccess.h"

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }

QColor fromColorref(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// The middle of the slices that hold ROI voxels at time point t; false for an empty ROI.
bool roiMidSlice(const CVol* vol, int t, int* slice) {
  if (!vol || !vol->frame || !slice) return false;
  const FRAME* f = vol->frame;
  t = std::clamp(t, 0, std::max(0, vol->T() - 1));
  int first = -1, last = -1;
  for (int z = 0; z < vol->D(); ++z) {
    bool found = false;
    for (int y = 0; y < vol->H() && !found; ++y)
      for (int x = 0; x < vol->W() && !found; ++x) found = twk::voxelValue(f, x, y, z, t) != 0;
    if (found) {
      if (first < 0) first = z;
      last = z;
    }
  }
  if (first < 0) return false;
  *slice = (first + last) / 2;
  return true;
}

}  // namespace

TW_LAYERPANEL_HOOKS& TW_LayerPanelHooks() {
  static TW_LAYERPANEL_HOOKS hooks;
  return hooks;
}

CDlgLayerCtrl::CDlgLayerCtrl(CDrawView* view, QWidget* parent) : QDialog(parent), view_(view) {
  setObjectName(QStringLiteral("LayersPanel"));
  setWindowTitle(QStringLiteral("Layers"));
  setModal(false);
  auto* layout = new QVBoxLayout(this);

  tree_ = new CColumnTreeCtrl(this);
  tree_->setObjectName(QStringLiteral("LayerTree"));
  tree_->setIconSize(QSize(24, 24));
  tree_->setRootIsDecorated(false);
  tree_->setMinimumHeight(140);
  layout->addWidget(tree_, 1);

  auto* grid = new QGridLayout;
  const struct {
    int id;
    const char* caption;
    int row, column;
  } buttons[] = {
      {IDC_LAYER_NEW_ROI_3D, "New ROI 3D", 0, 0},       {IDC_LAYER_NEW_ROI_4D, "New ROI 4D", 0, 1},
      {IDC_LAYER_LOAD_IMAGE, "Load Image", 0, 2},       {IDC_LAYER_LOAD_DICOM, "Load DICOM", 0, 3},
      {IDC_LAYER_DUPLICATE, "Duplicate", 1, 0},         {IDC_LAYER_REMOVE_ACTIVE, "Remove Active", 1, 1},
      {IDC_LAYER_REMOVE_UNMARKED, "Remove Unmarked", 1, 2}, {IDC_LAYER_MARK_ALL, "Mark\\Unmark All", 1, 3},
      {IDC_LAYER_SAVE_IMAGE, "Save Image", 2, 0},       {IDC_LAYER_SAVE_ALL, "Save All", 2, 1},
      {IDC_LAYER_SAVE_DICOM, "Save DICOM", 2, 2},       {IDC_LAYER_INFO, "Info", 2, 3},
      {IDC_LAYER_ROI_STATS_3D, "ROI Stats 3D", 3, 0},   {IDC_LAYER_ROI_STATS_4D, "ROI Stats 4D", 3, 1},
      {IDC_LAYER_VIEW_FILTER, "ViewFilter", 3, 2},      {IDC_LAYER_ATTRIBUTES, "Attributes", 3, 3},
      {IDC_LAYER_OPERATION, "Operation", 4, 0},
  };
  for (const auto& b : buttons) {
    const int id = b.id;
    QPushButton* button = addButton(id, QString::fromUtf8(b.caption), [this, id] {
      TW_LAYERPANEL_HOOKS& hooks = TW_LayerPanelHooks();
      if (!set_ || TW_PumpRunning()) return;
      switch (id) {
        case IDC_LAYER_NEW_ROI_3D: OnNewRoi(false); break;
        case IDC_LAYER_NEW_ROI_4D: OnNewRoi(true); break;
        case IDC_LAYER_LOAD_IMAGE: OnLoadImage(); break;
        case IDC_LAYER_REMOVE_ACTIVE: OnRemoveActive(); break;
        case IDC_LAYER_REMOVE_UNMARKED: OnRemoveUnmarked(); break;
        case IDC_LAYER_MARK_ALL: OnMarkUnmarkAll(); break;
        case IDC_LAYER_VIEW_FILTER: OnViewFilter(); break;
        case IDC_LAYER_LOAD_DICOM:
          if (hooks.loadDicom && hooks.loadDicom(set_)) {
            set_->SetActiveLayerLast();
            FillLayerTree(true);
          }
          break;
        case IDC_LAYER_SAVE_DICOM:
          if (hooks.saveDicom) hooks.saveDicom(set_);
          tree_->setFocus();
          break;
        case IDC_LAYER_SAVE_IMAGE:
          if (hooks.saveImage) hooks.saveImage(set_);
          FillLayerTree(false);
          tree_->setFocus();
          break;
        case IDC_LAYER_SAVE_ALL:
          if (hooks.saveAll) hooks.saveAll(set_, view_);
          break;
        case IDC_LAYER_DUPLICATE:
          if (PR_InWorkProcess() || !hooks.duplicate) break;
          hooks.duplicate(set_);
          FillLayerTree(true);
          break;
        case IDC_LAYER_ROI_STATS_3D:
        case IDC_LAYER_ROI_STATS_4D:
          if (hooks.roiStatistics) hooks.roiStatistics(set_, view_, id == IDC_LAYER_ROI_STATS_3D ? 1 : 2);
          FillLayerTree(true);
          break;
        case IDC_LAYER_INFO:
          if (hooks.info) hooks.info(set_, view_);
          tree_->setFocus();
          break;
        case IDC_LAYER_ATTRIBUTES: {
          CDrawVol* active = set_->GetActiveLayer();
          if (active && active->vol && active->vol->frame && active->vol->IsROI()) {
            if (hooks.attributes) hooks.attributes(active);
          } else {
            twk::showNamedError(L"CDlgLayerCtrl::OnBnClickedOvrRoiAttrib", L"ROI is not present or enabled");
          }
          break;
        }
        case IDC_LAYER_OPERATION:
          if (hooks.operation) hooks.operation(set_);
          break;
        default: break;
      }
    });
    grid->addWidget(button, b.row, b.column);
  }
  layout->addLayout(grid);

  auto* interlaceRow = new QHBoxLayout;
  displayUnmarked_ = new QCheckBox(QStringLiteral("Display unmarked layers"), this);
  interlace_ = new QComboBox(this);
  interlace_->addItems({QStringLiteral("Interlace None"), QStringLiteral("Interlace X"), QStringLiteral("Interlace Y"),
                        QStringLiteral("Interlace XY")});
  interlaceCell_ = new QSlider(Qt::Horizontal, this);
  interlaceCell_->setRange(1, 200);
  interlaceCellText_ = new QLabel(QStringLiteral("1"), this);
  interlaceCellText_->setMinimumWidth(28);
  interlaceRow->addWidget(displayUnmarked_);
  interlaceRow->addWidget(interlace_);
  interlaceRow->addWidget(interlaceCell_, 1);
  interlaceRow->addWidget(interlaceCellText_);
  layout->addLayout(interlaceRow);

  auto* alphaRow = new QHBoxLayout;
  opacity_ = new QSlider(Qt::Horizontal, this);
  opacity_->setObjectName(QStringLiteral("Alpha"));
  opacity_->setRange(0, 100);
  applyAllRois_ = new QCheckBox(QStringLiteral("Apply to all ROIs"), this);
  alphaRow->addWidget(new QLabel(QStringLiteral("Alpha"), this));
  alphaRow->addWidget(new QLabel(QStringLiteral("0%"), this));
  alphaRow->addWidget(opacity_, 1);
  alphaRow->addWidget(new QLabel(QStringLiteral("100%"), this));
  alphaRow->addWidget(applyAllRois_);
  layout->addLayout(alphaRow);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(box, &QDialogButtonBox::accepted, this, &CDlgLayerCtrl::accept);
  connect(box, &QDialogButtonBox::rejected, this, &CDlgLayerCtrl::reject);
  layout->addWidget(box);

  connect(displayUnmarked_, &QCheckBox::toggled, this, [this](bool on) { OnDisplayUnmarked(on); });
  connect(interlace_, &QComboBox::currentIndexChanged, this, [this](int index) { OnInterlaceMode(index); });
  connect(interlaceCell_, &QSlider::valueChanged, this, [this](int value) { OnInterlaceCell(value); });
  connect(opacity_, &QSlider::valueChanged, this, [this](int value) { OnOpacity(value); });

  tree_->SetClickCallback([this](QTreeWidgetItem* item, bool) { OnItemClicked(item); });
  tree_->SetCheckCallback([this](QTreeWidgetItem* item, bool checked) { OnCheckToggled(item, checked); });
  tree_->SetDoubleClickCallback([this](QTreeWidgetItem* item, bool ctrl) { OnItemDoubleClicked(item, ctrl); });
  tree_->SetDragCallbacks([this](QTreeWidgetItem* item) { BeginDrag(item); }, [this](QPoint p) { DragMove(p); },
                          [this](QPoint p) { EndDrag(p); });
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
  tree_->installEventFilter(this);
  resize(520, 440);
}

CDlgLayerCtrl::~CDlgLayerCtrl() {
  if (CMainFrame* frame = CMainFrame::Get(); frame && frame->Panel(TW_PANEL_LAYERS) == this)
    frame->SetPanel(TW_PANEL_LAYERS, nullptr);
}

QPushButton* CDlgLayerCtrl::addButton(int id, const QString& text, std::function<void()> action) {
  auto* button = new QPushButton(text, this);
  button->setObjectName(QStringLiteral("Button%1").arg(id));
  button->setAutoDefault(false);
  connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
  buttons_.emplace_back(id, button);
  return button;
}

QPushButton* CDlgLayerCtrl::Button(int id) const {
  for (const auto& [buttonId, button] : buttons_)
    if (buttonId == id) return button;
  return nullptr;
}

void CDlgLayerCtrl::updateButtons() {
  const TW_LAYERPANEL_HOOKS& hooks = TW_LayerPanelHooks();
  const std::pair<int, bool> installed[] = {
      {IDC_LAYER_LOAD_DICOM, bool(hooks.loadDicom)},   {IDC_LAYER_SAVE_DICOM, bool(hooks.saveDicom)},
      {IDC_LAYER_SAVE_IMAGE, bool(hooks.saveImage)},   {IDC_LAYER_SAVE_ALL, bool(hooks.saveAll)},
      {IDC_LAYER_DUPLICATE, bool(hooks.duplicate)},    {IDC_LAYER_ROI_STATS_3D, bool(hooks.roiStatistics)},
      {IDC_LAYER_ROI_STATS_4D, bool(hooks.roiStatistics)}, {IDC_LAYER_INFO, bool(hooks.info)},
      {IDC_LAYER_ATTRIBUTES, bool(hooks.attributes)},  {IDC_LAYER_OPERATION, bool(hooks.operation)},
  };
  for (const auto& [id, on] : installed)
    if (QPushButton* b = Button(id)) {
      b->setEnabled(on);
      b->setToolTip(on ? QString() : QStringLiteral("Not available yet: the operation is not part of this build"));
    }
}

bool CDlgLayerCtrl::OnInitDialog() {
  CDrawDoc* doc = view_ ? view_->GetDocument() : nullptr;
  set_ = doc ? doc->GetActiveSet() : nullptr;
  if (!set_) return false;
  viewObject_ = dynamic_cast<QObject*>(view_);
  if (viewObject_)
    connect(viewObject_, &QObject::destroyed, this, [this] {
      view_ = nullptr;
      viewObject_ = nullptr;
    });
  tree_->SetFirstColumnMinWidth(10);
  SetupColumns();
  {
    const QSignalBlocker b1(displayUnmarked_), b2(interlace_), b3(interlaceCell_);
    displayUnmarked_->setChecked(set_->displayUnmarked != 0);
    interlace_->setCurrentIndex(std::clamp(int(set_->interlaceMode), 0, 3));
    interlaceCell_->setValue(std::clamp(int(set_->interlaceCell), 1, 200));
    interlaceCellText_->setText(QString::number(interlaceCell_->value()));
  }
  updateButtons();
  return FillLayerTree(true);
}

// ---------------------------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------------------------

void CDlgLayerCtrl::SetupColumns() {
  // The three value columns take 192 pixels; the description the rest.
  const int first = std::max(50, tree_->contentsRect().width() - 192);
  tree_->InsertColumn(0, QStringLiteral("description"), first);
  tree_->InsertColumn(1, QStringLiteral("%"), 48);
  tree_->InsertColumn(2, QStringLiteral("#times"), 72);
  tree_->InsertColumn(3, QStringLiteral("type"), 72);
}

void CDlgLayerCtrl::RebuildColumns() {
  for (int i = tree_->ColumnCount() - 1; i >= 0; --i) tree_->DeleteColumn(i);
  SetupColumns();
  FillLayerTree(true);
}

void CDlgLayerCtrl::resizeEvent(QResizeEvent* event) { QDialog::resizeEvent(event); }

bool CDlgLayerCtrl::eventFilter(QObject* watched, QEvent* event) {
  // The first column takes the width the tree has: the columns are rebuilt at every size change.
  if (watched == tree_ && event->type() == QEvent::Resize && set_) RebuildColumns();
  return QDialog::eventFilter(watched, event);
}

QString CDlgLayerCtrl::RowText(const CDrawVol* layer) {
  if (!layer || !layer->vol || !layer->vol->frame) return QString();
  const CVol* vol = layer->vol;
  const char* type = vol->Type() == FRM_ROI ? "roi" : vol->Type() == FRM_INT ? "integer" : "real";
  return toQt(PR_GetFileTitle(vol->name)) +
         QStringLiteral("\t%1\t%2\t").arg(unsigned(layer->opacity)).arg(unsigned(vol->T())) +
         QString::fromLatin1(type) + QLatin1Char('\t');
}

QImage CDlgLayerCtrl::LayerIcon(const CDrawVol* layer) {
  QImage icon(24, 24, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  if (!layer || !layer->vol || !layer->vol->frame) return icon;
  if (layer->vol->IsROI()) {
    QPainter painter(&icon);
    painter.fillRect(QRect(0, 0, 23, 23), fromColorref(uint32_t(layer->filter.roiColor)));
    return icon;
  }
  for (int r = 0; r < 24; ++r) {
    const int i = std::min(255, int(std::floor(r * 256.0 / 23.0 + 0.5)));
    const uint32_t rgb = VA_SchemeInxColor(layer->filter.scheme, layer->filter.invert ? i : 255 - i);
    const QRgb pixel = qRgb(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
    for (int x = 0; x < 24; ++x) icon.setPixel(x, r, pixel);
  }
  return icon;
}

QString CDlgLayerCtrl::TitleText() const {
  if (!set_) return QStringLiteral("Layers");
  const CDrawDoc* doc = set_->GetDocument();
  const CVol* vol = set_->GetActiveVol();
  if (!vol || !vol->frame) return QStringLiteral("Layers");
  CString title;
  title.Format(L"%s: %s : w%u x h%u x d%u x t%u (%u marked)", doc ? doc->GetTitle().GetString() : L"",
               vol->name.GetString(), unsigned(vol->W()), unsigned(vol->H()), unsigned(vol->D()), unsigned(vol->T()),
               unsigned(set_->NumMarkedLayers()));
  return toQt(title);
}

QTreeWidgetItem* CDlgLayerCtrl::RowOfLayer(const CDrawVol* layer) const {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i)
    if (LayerOfRow(tree_->topLevelItem(i)) == layer) return tree_->topLevelItem(i);
  return nullptr;
}

CDrawVol* CDlgLayerCtrl::LayerOfRow(const QTreeWidgetItem* item) const {
  return item ? reinterpret_cast<CDrawVol*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

void CDlgLayerCtrl::ClearLayerTree() {
  const int active = set_ ? set_->GetActive() : 0;
  filling_ = true;
  tree_->clear();
  filling_ = false;
  if (set_) set_->SetActive(active);
}

bool CDlgLayerCtrl::FillLayerTree(bool redraw) {
  if (!set_) return false;
  ClearLayerTree();
  filling_ = true;
  for (int i = 0; i < set_->NumLayers(); ++i) {
    CDrawVol* layer = set_->GetLayer(i);
    QTreeWidgetItem* row = tree_->InsertRootItem();
    row->setIcon(0, QIcon(QPixmap::fromImage(LayerIcon(layer))));
    tree_->SetChecked(row, layer->IsMarked());
    row->setData(0, Qt::UserRole, QVariant::fromValue(quintptr(layer)));
    tree_->SetItemText(row, RowText(layer));
  }
  filling_ = false;
  ShowActiveLayer();
  if (redraw) {
    redrawViews();
    TW_SetWaitCursor(false);
  }
  return true;
}

void CDlgLayerCtrl::ShowActiveLayer() {
  if (!set_) return;
  CDrawVol* active = set_->GetActiveLayer();
  if (QTreeWidgetItem* row = RowOfLayer(active)) {
    const bool wasFilling = filling_;
    filling_ = true;
    tree_->setCurrentItem(row);
    tree_->scrollToItem(row);
    filling_ = wasFilling;
  }
  tree_->setFocus();
  setWindowTitle(TitleText());
  const QSignalBlocker block(opacity_);
  opacity_->setValue(active ? std::clamp(int(active->opacity), 0, 100) : 100);
}

void CDlgLayerCtrl::AttachToView(CDrawView* view) {
  if (!view || view == view_) return;
  ClearLayerTree();
  if (viewObject_) disconnect(viewObject_, &QObject::destroyed, this, nullptr);
  view_ = view;
  viewObject_ = dynamic_cast<QObject*>(view);
  if (viewObject_)
    connect(viewObject_, &QObject::destroyed, this, [this] {
      view_ = nullptr;
      viewObject_ = nullptr;
    });
  CDrawDoc* doc = view->GetDocument();
  set_ = doc ? doc->GetActiveSet() : nullptr;
  {
    const QSignalBlocker b1(displayUnmarked_), b2(interlace_), b3(interlaceCell_);
    if (set_) {
      displayUnmarked_->setChecked(set_->displayUnmarked != 0);
      interlace_->setCurrentIndex(std::clamp(int(set_->interlaceMode), 0, 3));
      interlaceCell_->setValue(std::clamp(int(set_->interlaceCell), 1, 200));
      interlaceCellText_->setText(QString::number(interlaceCell_->value()));
    }
  }
  if (set_) FillLayerTree(false);
  else setWindowTitle(QStringLiteral("Layers"));
}

void CDlgLayerCtrl::DetachDocument(CDrawDoc* doc) {
  if (!set_ || set_->GetDocument() != doc) return;
  filling_ = true;
  tree_->clear();
  filling_ = false;
  set_ = nullptr;
  dragged_ = nullptr;
  if (view_ && view_->GetDocument() == doc) view_ = nullptr;
  setWindowTitle(QStringLiteral("Layers"));
}

void CDlgLayerCtrl::redrawViews() {
  if (set_) CDrawDoc::RedrawAllViews(set_->GetDocument(), false);
}

// ---------------------------------------------------------------------------------------------
// Mouse on the tree
// ---------------------------------------------------------------------------------------------

void CDlgLayerCtrl::OnItemClicked(QTreeWidgetItem* item) {
  if (!set_) return;
  const int index = set_->IndexOfLayer(LayerOfRow(item));
  if (index >= 0) set_->SetActive(index);
  ShowActiveLayer();
  redrawViews();
  TW_SetWaitCursor(false);
}

void CDlgLayerCtrl::OnCheckToggled(QTreeWidgetItem* item, bool checked) {
  if (!set_) return;
  CDrawVol* layer = LayerOfRow(item);
  if (!layer || set_->IndexOfLayer(layer) < 0) return;
  layer->SetMarked(checked);
  ShowActiveLayer();
  redrawViews();
  TW_SetWaitCursor(false);
}

void CDlgLayerCtrl::OnCurrentItemChanged(QTreeWidgetItem* item) {
  if (filling_ || !set_ || !item) return;
  const int index = set_->IndexOfLayer(LayerOfRow(item));
  if (index < 0) return;
  set_->SetActive(index);
  ShowActiveLayer();
}

void CDlgLayerCtrl::OnItemDoubleClicked(QTreeWidgetItem* item, bool ctrl) {
  if (!set_) return;
  CDrawVol* layer = LayerOfRow(item);
  const int index = set_->IndexOfLayer(layer);
  if (index < 0 || !layer->vol) return;
  set_->activeLayer = index;
  ShowActiveLayer();
  if (!ctrl) {
    const QRect rect = tree_->visualItemRect(item);
    const QPoint at = tree_->viewport()->mapToGlobal(rect.topLeft());
    CString name = layer->vol->name;
    if (!TW_EditString(at.x(), at.y(), &name)) return;
    layer->vol->name = name;
    // A renamed layer is a change of the document: it must not be lost without a question.
    if (CDrawDoc* doc = set_->GetDocument()) doc->SetModifiedFlag();
    if (QTreeWidgetItem* row = RowOfLayer(layer)) tree_->SetItemText(row, RowText(layer));
    setWindowTitle(TitleText());
    return;
  }
  if (!layer->vol->frame || !layer->vol->IsROI()) return;
  const int time = view_ ? view_->CurrentTime() : 0;
  int slice = 0;
  if (roiMidSlice(layer->vol, time, &slice)) set_->VolChangeSlice(nullptr, 6, time, slice, 3);
}

void CDlgLayerCtrl::BeginDrag(QTreeWidgetItem* item) { dragged_ = LayerOfRow(item); }

void CDlgLayerCtrl::DragMove(QPoint global) {
  // The row under the pointer is the drop target, shown selected-looking without changing the
  // active layer.
  const QPoint local = tree_->viewport()->mapFromGlobal(global);
  QTreeWidgetItem* under = tree_->viewport()->rect().contains(local) ? tree_->itemAt(local) : nullptr;
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = tree_->topLevelItem(i);
    for (int c = 0; c < tree_->columnCount(); ++c)
      row->setBackground(c, row == under ? palette().brush(QPalette::Highlight).color().lighter(160) : QBrush());
  }
}

void CDlgLayerCtrl::EndDrag(QPoint global) {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i)
    for (int c = 0; c < tree_->columnCount(); ++c) tree_->topLevelItem(i)->setBackground(c, QBrush());
  QWidget* target = QApplication::widgetAt(global);
  if (target && (target == tree_ || tree_->isAncestorOf(target))) {
    const QPoint local = tree_->viewport()->mapFromGlobal(global);
    DropOnTree(tree_->viewport()->rect().contains(local) ? tree_->itemAt(local) : nullptr);
  } else {
    CDrawView* view = nullptr;
    for (QWidget* w = target; w && !view; w = w->parentWidget()) view = dynamic_cast<CDrawViewWidget*>(w);
    if (view) DropOnView(view);
    else FillLayerTree(true);
  }
  dragged_ = nullptr;
}

void CDlgLayerCtrl::DropOnTree(QTreeWidgetItem* target) {
  if (!set_ || !dragged_ || set_->IndexOfLayer(dragged_) < 0) return;
  CDrawVol* before = LayerOfRow(target);
  if (before == dragged_) return;  // onto itself: nothing, not even a refill
  // Onto a row: the layer takes that row's place; onto empty space: the end. It becomes active.
  set_->MoveLayer(dragged_, before);
  dragged_ = nullptr;
  FillLayerTree(true);
}

void CDlgLayerCtrl::DropOnView(CDrawView* view) {
  CDrawDoc* doc = view ? view->GetDocument() : nullptr;
  if (set_ && dragged_ && dragged_->vol && doc && doc != set_->GetDocument()) {
    if (CDrawSet* target = doc->GetActiveSet()) {
      CVol* copy = dragged_->vol->CloneByReformat(nullptr);
      if (copy) {
        copy->name = dragged_->vol->name;
        if (target->AddLayer(&copy, dragged_->opacity, dragged_->filter.scheme, -1)) {
          target->SetActiveLayerLast();
          if (CDrawVol* added = target->GetLayer(target->NumLayers() - 1)) added->filter = dragged_->filter;
          doc->RedrawAllViews(false);
        }
        delete copy;  // still ours when the set did not take it
      }
    }
  }
  dragged_ = nullptr;
  FillLayerTree(true);
}

// ---------------------------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------------------------

void CDlgLayerCtrl::OnNewRoi(bool is4D) {
  if (!set_ || PR_InWorkProcess()) return;
  set_->NewRoiLayer(is4D);
  FillLayerTree(true);
}

void CDlgLayerCtrl::OnLoadImage() {
  if (!set_) return;
  int count = 0;
  CString** paths = TW_GetMultiFileLoadName(TW_FILTER_RAW_ALL, &TW_EditOptions().rawLoadFolder, &TW_EditOptions().rawLoadFilterInx,
                                            &TW_EditOptions().rawLoadExt, &count);
  if (!paths) return;
  bool all = true;
  for (int i = 0; i < count && all; ++i) all = set_->AddLayerVol(true, *paths[i], -1, 0, -1, nullptr, true);
  for (int i = 0; i < count; ++i) delete paths[i];
  pf_free(&paths);
  if (!all || !set_) return;
  set_->SetActive(set_->NumLayers() - 1);
  FillLayerTree(true);
}

void CDlgLayerCtrl::OnRemoveActive() {
  if (!set_ || PR_InWorkProcess()) return;
  if (set_->NumLayers() > 1) {
    CVol* vol = set_->GetActiveVol();
    if (vol && twk::askYesNo(CString(L"Remove Active layer?") + L" : " + PR_GetFileTitleName(vol->name)))
      set_->DeleteLayerVol(&vol);
  } else {
    twk::showNamedError(L"CDlgLayerCtrl::OnBnClickedRemoveActive", L"Not allowed to remove all layers");
  }
  FillLayerTree(true);
}

void CDlgLayerCtrl::OnRemoveUnmarked() {
  if (!set_ || PR_InWorkProcess()) return;
  const int n = set_->NumLayers();
  const int m = set_->NumMarkedLayers();
  if (n > 1 && m > 0) {
    if (m < n && twk::askYesNo(FmtStr(L"Remove %u unmarked layers?", unsigned(n - m)))) {
      for (int i = n - 1; i >= 0; --i) {
        CDrawVol* layer = set_->GetLayer(i);
        if (layer && !layer->IsMarked()) {
          CVol* vol = layer->vol;
          set_->DeleteLayerVol(&vol);
        }
      }
    }
  } else {
    twk::showNamedError(L"CDlgLayerCtrl::OnBnClickedRemoveUnmarked", L"Not allowed to remove all layers");
  }
  FillLayerTree(true);
}

void CDlgLayerCtrl::OnMarkUnmarkAll() {
  if (!set_) return;
  const bool allMarked = set_->NumMarkedLayers() == set_->NumLayers();
  for (int i = 0; i < set_->NumLayers(); ++i) set_->GetLayer(i)->SetMarked(!allMarked);
  FillLayerTree(true);
}

void CDlgLayerCtrl::OnDisplayUnmarked(bool on) {
  if (!set_) return;
  set_->displayUnmarked = on ? 1 : 0;
  FillLayerTree(true);
}

void CDlgLayerCtrl::OnInterlaceMode(int mode) {
  if (!set_ || mode < 0 || mode > 3) return;
  set_->interlaceMode = mode;
  redrawViews();
  TW_SetWaitCursor(false);
}

void CDlgLayerCtrl::OnOpacity(int percent) {
  if (!set_) return;
  CDrawVol* active = set_->GetActiveLayer();
  if (!active) return;
  percent = std::clamp(percent, 0, 100);
  active->opacity = percent;
  if (QTreeWidgetItem* row = RowOfLayer(active)) tree_->SetItemColumnText(row, 1, QString::number(percent));
  if (applyAllRois_->isChecked()) {
    for (int i = 0; i < set_->NumLayers(); ++i) {
      CDrawVol* layer = set_->GetLayer(i);
      if (!layer->IsMarked() || !layer->vol || !layer->vol->frame || !layer->vol->IsROI()) continue;
      layer->opacity = percent;
      if (QTreeWidgetItem* row = RowOfLayer(layer)) tree_->SetItemColumnText(row, 1, QString::number(percent));
    }
  }
  redrawViews();
  TW_SetWaitCursor(false);
}

void CDlgLayerCtrl::OnInterlaceCell(int cell) {
  if (!set_) return;
  cell = std::clamp(cell, 1, 200);
  set_->interlaceCell = cell;
  interlaceCellText_->setText(QString::number(cell));
  redrawViews();
}

void CDlgLayerCtrl::OnViewFilter() {
  if (!set_) return;
  {
    TW_MODAL_SCOPE modal;
    TW_DlgVolIntWin(set_, view_);
  }
  tree_->setFocus();
  FillLayerTree(false);
}

// ---------------------------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------------------------

void CDlgLayerCtrl::accept() { closePanel(); }

void CDlgLayerCtrl::reject() { closePanel(); }

void CDlgLayerCtrl::closePanel() {
  CMainFrame* frame = CMainFrame::Get();
  if (frame && frame->Panel(TW_PANEL_LAYERS) == this) {
    frame->SetPanel(TW_PANEL_LAYERS, nullptr);
    hide();
    deleteLater();
    return;
  }
  QDialog::reject();
}

CDlgLayerCtrl* TW_LayerPanel() {
  CMainFrame* frame = CMainFrame::Get();
  return frame ? qobject_cast<CDlgLayerCtrl*>(frame->Panel(TW_PANEL_LAYERS)) : nullptr;
}

CDlgLayerCtrl* TW_OpenDlgLayerCtrl(CDrawView* view) {
  if (TW_LayerPanel() || !view) return nullptr;
  CMainFrame* frame = CMainFrame::Get();
  auto* panel = new CDlgLayerCtrl(view, frame);
  if (!panel->OnInitDialog()) {
    delete panel;
    return nullptr;
  }
  if (frame) {
    frame->SetPanel(TW_PANEL_LAYERS, panel);
    // Beside the main frame when the screen has room there, else over its right side.
    const QRect f = frame->frameGeometry();
    const QRect screen = frame->screen() ? frame->screen()->availableGeometry() : f;
    const int x = f.right() + 8 + panel->width() <= screen.right() ? f.right() + 8 : f.right() - panel->width() - 40;
    panel->move(std::max(screen.left(), x), f.top() + 60);
  }
  panel->show();
  return panel;
}

void TW_RefreshLayerPanel(CDrawSet* set) {
  CDlgLayerCtrl* panel = TW_LayerPanel();
  if (panel && (!set || panel->Set() == set)) panel->FillLayerTree(true);
}
