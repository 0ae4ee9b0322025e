#pragma once
// "Specify SI Threshold" (CDlgSplitThr): the live split of an ROI (or of the whole volume) of a
// signal layer into two new ROI layers above and below a threshold, with their volumes in the
// title. CSplitThrSession is the dialog's logic without a window: the Qt window
// (qt/SplitThrDialog.h) drives it with its sliders and buttons, tests drive it directly.

#include <cstdint>
#include <functional>

#include "volume/Frame.h"
#include "CString.h"
#include "TwkTypes.h"

class CDrawSet;
class CDrawView;
class CDrawVol;
class CVol;

#pragma pack(push, 1)
// The threshold record of the split (20 bytes): mode 0 takes value as the threshold, mode 1 starts
// at min + fraction * (max - min); OK writes the threshold into value.
struct VA_SPLITTHRVALUE {
  int32_t mode = 1;
  double value = 0.0;
  double fraction = 0.5;
};
#pragma pack(pop)
static_assert(sizeof(VA_SPLITTHRVALUE) == 20, "VA_SPLITTHRVALUE is 20 bytes");

// The record of the "Split ROI with Threshold" commands.
extern VA_SPLITTHRVALUE g_SplitThrValue;

class CSplitThrSession {
 public:
  CSplitThrSession() = default;
  ~CSplitThrSession();
  CSplitThrSession(const CSplitThrSession&) = delete;
  CSplitThrSession& operator=(const CSplitThrSession&) = delete;

  // The opening: the signal layer and optional ROI of the set (the operand rule), the mask at the
  // view's time point (the whole volume without ROI), the source (the preprocessed volume, taken
  // over and *preprocessed cleared, or the layer's time point), its range inside the mask, the start
  // threshold, the ROI layer hidden and the two result layers added ("<file name>_<name>"). False
  // (nothing added) when there is no usable operand or the mask is empty.
  bool Open(CDrawView* view, CDrawSet* set, const CString& upperName, const CString& lowerName, COLORREF upperColour,
            COLORREF lowerColour, FRAME** preprocessed, const double* spacing, VA_SPLITTHRVALUE* record);

  // The live update at a threshold (not clamped: "Specify" may go outside the range).
  void SetThreshold(double threshold);
  // Slider position 0 .. 1000 over [minimum, maximum].
  void SetSliderPosition(int position);
  int SliderPosition() const;
  void SetOpacity(int percent);
  // Back to the record's value at the opening, clamped to the range.
  void Default();
  // The layers stay, the ROI layer is removed, the record takes the threshold.
  void Ok();
  // The result layers are removed, the ROI layer shown again.
  void Cancel();

  double Threshold() const { return threshold_; }
  double Minimum() const { return minimum_; }
  double Maximum() const { return maximum_; }
  int Opacity() const { return opacity_; }
  // "%s= %3.2lf cm3 (%u%%), %s= %3.2lf cm3 (%u%%)" (lower, then upper) and the ratio when both
  // parts hold voxels.
  const CString& Title() const { return title_; }
  const CString& UpperCaption() const { return upperShort_; }
  const CString& LowerCaption() const { return lowerShort_; }
  CDrawView* View() const { return view_; }

 private:
  void update();
  void finish(bool ok);
  CDrawView* view_ = nullptr;
  CDrawSet* set_ = nullptr;
  CVol* volume_ = nullptr;
  CVol* roi_ = nullptr;
  CDrawVol* upper_ = nullptr;
  CDrawVol* lower_ = nullptr;
  VA_SPLITTHRVALUE* record_ = nullptr;
  FramePtr mask_;
  double* values_ = nullptr;
  int64_t total_ = 0;
  double voxelMm3_ = 1.0;
  double minimum_ = 0, maximum_ = 0, threshold_ = 0, startValue_ = 0;
  int opacity_ = 20;
  CString upperShort_, lowerShort_, title_;
  bool open_ = false;
};

// Runs the split dialog: silent confirms the start threshold at once; otherwise the program's
// window (TW_SetSplitThrView), or headless the "Threshold" prompt then OK (Cancel cancels). True
// when the split was accepted.
bool TW_DlgSplitThr(bool silent, CDrawView* view, CDrawSet* set, const CString& upperName, const CString& lowerName,
                    COLORREF upperColour, COLORREF lowerColour, FRAME** preprocessed, const double* spacing,
                    VA_SPLITTHRVALUE* record);
// The split for other operations: the threshold record takes the mode, colours both 0xFFFFFFFF
// become the set's next ROI colour and its complement, the document is marked modified and the
// dialog runs modally with the base volume's spacing. (The layer-set form of the split.)
bool TW_SplitByThreshold(CDrawSet* set, FRAME** preprocessed, int mode, VA_SPLITTHRVALUE* record,
                         const CString& nameA, const CString& nameB, COLORREF colourA, COLORREF colourB,
                         CDrawView* view);

// The window: runs modally over an open session and ends it with Ok or Cancel; true on OK.
using TW_SPLITTHRVIEW = std::function<bool(CSplitThrSession& session)>;
void TW_SetSplitThrView(TW_SPLITTHRVIEW view);
