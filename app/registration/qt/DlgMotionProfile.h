#pragma once
// "Motion Profile Diagram": the modeless panel that shows, for the voxel under the pointer, how
// the signal of the marked 4D layers moves along x, y and z over time (VA_VolMotionProfile: each
// axis's line through the voxel, one row per time point). It follows the views: the view's voxel
// information feeds it the voxel under the pointer. At most one panel exists; the main frame holds
// it in its motion-profile slot while it is open.

#include <QDialog>

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

class CDrawSet;
class CDrawView;
class QCheckBox;
class QLabel;
class QFrame;

class CDlgMotionProfile : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgMotionProfile(QWidget* parent = nullptr);
  ~CDlgMotionProfile() override;

  // Recomputes the profile for the view and point; either may be null (the stored one is kept). A
  // view of another layer set than the stored one's rebuilds the voxel copies from that set's
  // marked 4D layers (the first two in layer order) and its optional single ROI operand. False
  // when the set holds no volume layers, the ROI operand is ambiguous, a copy cannot be made or the
  // profile cannot be computed (no view yet, the point outside the volume, no axis chosen).
  bool Update(CDrawView* view, const uint32_t point[3]);

  // State (read by the tests).
  CDrawView* View() const { return view_; }
  const DIM3D& Dims() const { return dims_; }
  const double* SeriesA() const { return a_; }
  const double* SeriesB() const { return b_; }
  const uint8_t* Mask() const { return mask_; }
  const double* Profile(int* width, int* height) const;
  const uint32_t* Point() const { return point_; }
  CString Info() const;
  QCheckBox* AxisBox(int axis) const { return axes_[axis]; }
  QCheckBox* EqualizeBox() const { return equalize_; }
  QFrame* Pane() const { return pane_; }
  // The picture painted into the pane (empty without a profile).
  QImage Picture() const;

  void OnEqualize();
  // Close and Cancel destroy the panel held by the frame; a panel not held is closed as usual.
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void freeSeries();
  bool rebuild(CDrawSet* set);
  CDrawView* view_ = nullptr;
  CDrawSet* set_ = nullptr;  // the stored view's layer set when the copies were made (compared, never used)
  double* a_ = nullptr;
  double* b_ = nullptr;
  uint8_t* mask_ = nullptr;
  DIM3D dims_{};
  uint32_t point_[3] = {0, 0, 0};
  double* profile_ = nullptr;
  int width_ = 0, height_ = 0;
  QCheckBox* axes_[3];
  QCheckBox* equalize_;
  QLabel* info_;
  QFrame* pane_;
};

// Opens the panel modelessly, stores it in the main frame's motion-profile slot and shows it;
// null when an instance is open already (or it cannot be created).
CDlgMotionProfile* TW_OpenDlgMotionProfile(QWidget* parent);
// The open instance, if any.
CDlgMotionProfile* TW_MotionProfileDialog();
// Updates the open instance, if any.
void TW_UpdateMotionProfile(CDrawView* view, const uint32_t point[3]);
// Destroys the window of a non-null panel and clears the frame's slot.
void TW_CloseDlgMotionProfile(CDlgMotionProfile* dialog);
