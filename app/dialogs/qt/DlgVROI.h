#pragma once
// "Vector ROI Properties": the panel that shows and edits the selected vector ROI of a document:
// its label, colour, box (in voxels or millimetres) and interval of time points. It edits the
// object's record in place; every change is shown again and redraws the document's views.
//
// At most one panel exists; the main frame holds the modeless one in its vector-ROI slot. Once
// open it follows the document's selection (the document hooks vroiPanelBind / vroiPanelRefresh):
// a single selected vector ROI binds it, anything else leaves it bound to none ("none selected",
// controls disabled). A panel run modally (when another of the frame's panels is open) is not
// held by the frame and does not follow the selection.

#include <QDialog>

#include <functional>

#include "CString.h"
#include "TwkTypes.h"
#include "HighObj.h"

class CDrawObj;
class CDrawSet;
class QComboBox;
class QLineEdit;
class QPushButton;

class CDlgVROI : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgVROI(CDrawSet* object, QWidget* parent = nullptr);
  ~CDlgVROI() override;

  // Binds the panel to a vector-ROI set (null: none): sizes and spacing of the owner's base volume,
  // the box, the time interval, colour, name and the undo copy of the whole record.
  void SetObject(CDrawSet* object);
  // Recomputes the shown values from the bound record (the box first clipped to the volume when they
  // overlap); unless skipDisplay, writes them to the controls and redraws the document's views.
  void UpdateFromObject(bool skipDisplay = false);
  // Enables or disables every editing control and button together.
  void EnableControls(bool enable);
  CDrawSet* Object() const { return object_; }
  bool Modal() const { return modal_; }

  // --- the controls' actions (each reads all fields first; the controls call them) ---
  void OnName();
  void OnCoordinates();  // X0, X1, Y0, Y1, Z0, Z1
  void OnTimes();        // "Start", "End"
  void OnSize(int axis);    // "Width:", "Height:", "Depth:"
  void OnCentre(int axis);  // centre "X:", "Y:", "Z:"
  void OnUnit();
  void OnCenter();
  void OnFullVolume();
  void OnAllTimepoints();
  void OnScaleDimensions();
  void OnUndo();
  void OnColour();  // double click on the swatch

  // OK and Cancel: redraw the views and close through the cancel step.
  void accept() override;
  void reject() override;

  // --- shown values (what the controls hold after UpdateFromObject) ---
  int unit = 0;  // 0 voxels, 1 mm
  CString name;
  int start = 0, end = 0;
  double X0 = 0, X1 = 0, Y0 = 0, Y1 = 0, Z0 = 0, Z1 = 0;
  double width = 0, height = 0, depth = 0;
  double centreX = 0, centreY = 0, centreZ = 0;
  COLORREF Colour() const { return colour_; }

  // The controls, named by their captions for tests.
  QLineEdit* nameEdit = nullptr;
  QLineEdit* coordEdit[6] = {};   // X0, X1, Y0, Y1, Z0, Z1
  QLineEdit* startEdit = nullptr;
  QLineEdit* endEdit = nullptr;
  QLineEdit* sizeEdit[3] = {};    // Width, Height, Depth
  QLineEdit* centreEdit[3] = {};  // X, Y, Z
  QComboBox* unitCombo = nullptr;
  QPushButton* centerButton = nullptr;
  QPushButton* fullVolumeButton = nullptr;
  QPushButton* allTimepointsButton = nullptr;
  QPushButton* scaleButton = nullptr;
  QPushButton* undoButton = nullptr;
  QWidget* swatch = nullptr;

 private:
  friend CDlgVROI* TW_OpenDlgVROI(CDrawObj* object, bool modal);
  bool readFields();
  void writeFields();
  void changed();  // recompute, show, redraw, arrow cursor
  void cancelStep();
  double factor(int axis) const;
  HIGHOBJ* record() const;

  CDrawSet* object_ = nullptr;
  COLORREF colour_ = 0;
  int w_ = 0, h_ = 0, d_ = 0, t_ = 0;
  double spc_[3] = {1, 1, 1};
  double f_[3] = {1, 1, 1};
  HIGHOBJ undo_{};
  bool modal_ = false;
  bool closing_ = false;
};

// Opens the panel on a vector-ROI set: null at once when the main frame already holds a panel.
// modal: runs it modally and returns null; otherwise the panel is created modeless, stored in the
// main frame's vector-ROI slot and shown (null when it cannot be made).
CDlgVROI* TW_OpenDlgVROI(CDrawObj* object, bool modal);
// The open modeless panel, or null.
CDlgVROI* TW_VectorRoiPanel();

// Makes the panel that of the document's selection follow-up and of the views' edit-properties
// action (the program calls it at start-up); the remove form takes the hooks away again.
void TW_InstallVectorRoiPanel();
void TW_RemoveVectorRoiPanel();

// Tests: while set, a modal run shows the panel and plays the script on it instead of waiting for
// the user, then closes it as its OK does.
void TW_SetDlgVROIModalScript(std::function<void(CDlgVROI& panel)> script);
