#pragma once
// CDlgLayerCtrl, the Layers panel ("Layers"): the modeless window in which the user sees and
// manages the layers of the active layer set of one view's document - which are marked (drawn and
// eligible as operands: the row's check box), which one is active, their opacity, order and names,
// and the set's interlace and unmarked-display settings - and runs the layer-level commands.
// At most one panel exists; the main frame keeps it in its Layers slot. Everything that changes the
// layers of a set refills the panel when it shows that set (FillLayerTree), so its rows are always
// current.
//
// Rows: one per volume layer in layer order, the text "title\t%u\t%u\ttype\t" (file title of the
// layer's name, opacity percent, time points, "roi", "integer" or "real"), the check box the
// layer's marked flag and the icon its colour (ROI colour, or the colour scheme as a vertical bar).
// Commands whose operations belong to other subsystems (DICOM load and save, image export,
// duplicate, statistics, information, attributes, layer operations) run through
// TW_LayerPanelHooks(); their buttons are disabled while no operation is installed.

#include <QDialog>
#include <QImage>

#include <functional>

#include "CString.h"

class CColumnTreeCtrl;
class CDrawDoc;
class CDrawSet;
class CDrawView;
class CDrawVol;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QTreeWidgetItem;

// Control ids of the panel's buttons and boxes.
enum : int {
  IDC_LAYER_LOAD_DICOM = 3,
  IDC_LAYER_NEW_ROI_3D = 5,
  IDC_LAYER_SAVE_DICOM = 7,
  IDC_LAYER_INFO = 8,
  IDC_LAYER_ROI_STATS_3D = 9,
  IDC_LAYER_LOAD_IMAGE = 10,
  IDC_LAYER_SAVE_IMAGE = 11,
  IDC_LAYER_ROI_STATS_4D = 12,
  IDC_LAYER_NEW_ROI_4D = 13,
  IDC_LAYER_DUPLICATE = 14,
  IDC_LAYER_ATTRIBUTES = 15,
  IDC_LAYER_MARK_ALL = 16,
  IDC_LAYER_SAVE_ALL = 19,
  IDC_LAYER_REMOVE_ACTIVE = 23,
  IDC_LAYER_REMOVE_UNMARKED = 24,
  IDC_LAYER_VIEW_FILTER = 100,
  IDC_LAYER_OPERATION = 1454,
};

// The operations of other subsystems that the panel's buttons start.
struct TW_LAYERPANEL_HOOKS {
  std::function<bool(CDrawSet* set)> loadDicom;             // "Load DICOM": true when layers were added
  std::function<void(CDrawSet* set)> saveDicom;             // "Save DICOM"
  std::function<void(CDrawSet* set)> saveImage;             // "Save Image"
  std::function<void(CDrawSet* set, CDrawView* view)> saveAll;  // "Save All"
  std::function<bool(CDrawSet* set)> duplicate;             // "Duplicate" (CDrawSet::CloneLayer)
  std::function<void(CDrawSet* set, CDrawView* view, int mode)> roiStatistics;  // 1: 3D, 2: 4D
  std::function<void(CDrawSet* set, CDrawView* view)> info;  // volume information dialog
  std::function<void(CDrawVol* roiLayer)> attributes;       // tissue attributes of an ROI layer
  std::function<void(CDrawSet* set)> operation;             // layer operations dialog
};
TW_LAYERPANEL_HOOKS& TW_LayerPanelHooks();

class CDlgLayerCtrl : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgLayerCtrl(CDrawView* view, QWidget* parent = nullptr);
  ~CDlgLayerCtrl() override;

  // Takes the view's active set and fills the rows; false (the panel is to close) without one.
  bool OnInitDialog();

  CDrawView* View() const { return view_; }
  CDrawSet* Set() const { return set_; }
  CColumnTreeCtrl* Tree() const { return tree_; }

  // Shows the active set of another view's document (nothing when it shows that view already).
  void AttachToView(CDrawView* view);
  // Forgets the set when it belongs to a document that is closing.
  void DetachDocument(CDrawDoc* doc);
  void ClearLayerTree();
  // Rebuilds the rows, icons and title; with redraw, all views of the document are repainted.
  bool FillLayerTree(bool redraw);
  void ShowActiveLayer();
  void SetupColumns();
  void RebuildColumns();

  // The text of a layer's row and its 24 x 24 icon.
  static QString RowText(const CDrawVol* layer);
  static QImage LayerIcon(const CDrawVol* layer);
  QString TitleText() const;

  // --- actions of the tree ---
  void OnItemClicked(QTreeWidgetItem* item);
  void OnCheckToggled(QTreeWidgetItem* item, bool checked);
  void OnCurrentItemChanged(QTreeWidgetItem* item);
  void OnItemDoubleClicked(QTreeWidgetItem* item, bool ctrl);
  void BeginDrag(QTreeWidgetItem* item);
  void DragMove(QPoint global);
  void EndDrag(QPoint global);
  // The end of a drag over the tree: onto a row (null: empty space, the end of the list).
  void DropOnTree(QTreeWidgetItem* target);
  // The end of a drag over a view window.
  void DropOnView(CDrawView* view);

  // --- commands ---
  void OnNewRoi(bool is4D);
  void OnLoadImage();
  void OnRemoveActive();
  void OnRemoveUnmarked();
  void OnMarkUnmarkAll();
  void OnDisplayUnmarked(bool on);
  void OnInterlaceMode(int mode);
  void OnOpacity(int percent);
  void OnInterlaceCell(int cell);
  void OnViewFilter();

  QPushButton* Button(int id) const;
  QSlider* OpacitySlider() const { return opacity_; }
  QSlider* InterlaceSlider() const { return interlaceCell_; }
  QCheckBox* ApplyToAllRois() const { return applyAllRois_; }
  QCheckBox* DisplayUnmarked() const { return displayUnmarked_; }
  QComboBox* InterlaceCombo() const { return interlace_; }
  QTreeWidgetItem* RowOfLayer(const CDrawVol* layer) const;
  CDrawVol* LayerOfRow(const QTreeWidgetItem* item) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void accept() override;
  void reject() override;

 private:
  void closePanel();
  void redrawViews();
  void updateButtons();
  QPushButton* addButton(int id, const QString& text, std::function<void()> action);

  CDrawView* view_ = nullptr;
  QObject* viewObject_ = nullptr;  // the view's window, watched for its destruction
  CDrawSet* set_ = nullptr;
  CColumnTreeCtrl* tree_ = nullptr;
  QSlider* opacity_ = nullptr;
  QSlider* interlaceCell_ = nullptr;
  QLabel* interlaceCellText_ = nullptr;
  QComboBox* interlace_ = nullptr;
  QCheckBox* displayUnmarked_ = nullptr;
  QCheckBox* applyAllRois_ = nullptr;
  std::vector<std::pair<int, QPushButton*>> buttons_;
  CDrawVol* dragged_ = nullptr;
  bool filling_ = false;
};

// The open Layers panel (the main frame's Layers slot), or null.
CDlgLayerCtrl* TW_LayerPanel();
// Opens the panel for the view when none exists; null when one exists already or it cannot open.
CDlgLayerCtrl* TW_OpenDlgLayerCtrl(CDrawView* view);
// Refills the panel when it shows the set (any set for null).
void TW_RefreshLayerPanel(CDrawSet* set);
