#pragma once
// "EdgeWave Live with Constraint ROI" (CDlgEWL): EdgeWave from one seed inside a constraint ROI
// (the blanket), tuned while the result is watched. It works on a temporary document cropped to
// the blanket's box; Accept writes the result into the source set at the crop box, Cancel leaves the
// source set alone; both close the temporary document.
//
// CEdgeWaveLiveSession is the dialog's logic without a window: the Qt window
// (qt/EdgeWaveLiveDialog.h) drives it with its buttons, edits and slider, tests drive it directly.
// The live range runs EdgeWave over a grid of peel distances x edge thresholds on the crop (one
// shared edge map and value caches), sorts the results by volume, drops empty and repeated ones and
// puts them on the slider.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "volume/Frame.h"
#include "AppOptions.h"
#include "CString.h"
#include "TwkTypes.h"
#include "roi/EdgeWaveLive.h"

class CDrawDoc;
class CDrawSet;
class CDrawVol;
class CDrawView;
class CVol;

// The records of the view command and of the kidney workflow.
extern VA_EWL g_EWLParms;
extern VA_EWL g_EWLParmsKidney;

class CEdgeWaveLiveSession {
 public:
  enum class Field { EdgeThreshold, Peel, GrowFactor, SiLow, SiHigh };
  struct Entry {
    FramePtr roi;
    int64_t count = 0;
    double edgeThreshold = 0, peel = 0;
  };

  CEdgeWaveLiveSession() = default;
  ~CEdgeWaveLiveSession();
  CEdgeWaveLiveSession(const CEdgeWaveLiveSession&) = delete;
  CEdgeWaveLiveSession& operator=(const CEdgeWaveLiveSession&) = delete;

  // The opening: the temporary set (of the cropped document) with its blanket ROI and seed, the
  // record, the result layer's name, the source set and blanket ROI, the crop box in the source
  // volume and its time point. Checks the working volume, the blanket and isotropy, hides the
  // blanket layer and the seed, crops the working volume and blanket to the blanket's box widened by
  // up to 3 voxels, computes the edge map (the edge threshold starts at its maximum) and switches
  // the interpolated display off. False after its message (nothing kept); Process is not run yet.
  bool Open(CDrawSet* tempSet, CVol* blanket, CDrawSet* seed, VA_EWL* record, const CString& name, CDrawSet* sourceSet,
            CVol* sourceBlanket, const RECT3D& cropBox, int t);

  // One EdgeWave with the present values; the result becomes the live layer. Nothing while busy.
  bool Process();
  // The live range (peel steps x edge steps of the values); false when refused or stopped.
  bool Range();
  // The slider picked range entry i.
  void SelectEntry(int i);
  // "<<" (down) and ">>" (up): x 0.9 (floor 0) and x 1.1, rounded to 0.01, then Process.
  void StepField(Field field, bool up);
  // The spin arrows: + or - 0.01 (floor 0), then Process; nothing while busy.
  void SpinField(Field field, bool up);
  // An edit changed: the value is taken; range cleared, live layer removed, Process enabled.
  void SetField(Field field, double value);
  double FieldValue(Field field) const;
  // The check boxes "peel and grow" and "use edges" (both run Process) and "Correct nonuniformity".
  void SetPeelAndGrow(bool on);
  void SetUseEdges(bool on);
  void SetCorrectNonuniformity(bool on);
  // "Settings": the texture-edge dialog on the edge settings (the map is computed again when its
  // radii, metric or weights changed); on OK the range is cleared and Process runs.
  bool EdgeSettings();
  // "N3  Options": the N3 dialog; on OK the corrected values are dropped with the live layer.
  bool N3Options();
  // Accept writes the live ROI into the source set (when there is one); Cancel does not. Both close
  // the temporary document and restore the display options.
  void Accept();
  void Cancel();

  const VA_EWL& Values() const { return values_; }
  bool Busy() const { return busy_; }
  bool ProcessEnabled() const { return processEnabled_; }
  bool AcceptEnabled() const { return acceptEnabled_; }
  bool Finished() const { return finished_; }
  // The live ROI's volume ("%8.2lf cm3"); empty without one.
  const CString& VolumeText() const { return volumeText_; }
  // "%8.2lf,%8.2lf" of the range's edge thresholds and peel distances (empty: no spread).
  const CString& EdgeRangeText() const { return edgeRangeText_; }
  const CString& PeelRangeText() const { return peelRangeText_; }
  bool HasRange() const { return rangeCount_ >= 2; }
  int SliderMaximum() const { return HasRange() ? rangeCount_ - 1 : 0; }
  int SliderPosition() const { return sliderPosition_; }
  const std::vector<Entry>& Entries() const { return entries_; }
  double EdgeMapMaximum() const { return edgeMax_; }
  CVol* LiveRoi() const;
  CDrawDoc* TemporaryDocument() const { return tempDoc_; }
  const wchar_t* Caption() const { return L"EdgeWave Live with Constraint ROI"; }

 private:
  FramePtr runOnce(const VA_EWL& record, bool show);
  void show(const FRAME* roi);
  void removeLiveLayer();
  void clearRange();
  void changed();
  void rangeTexts();
  void closeTemporary();
  void release();
  void setValue(Field f, double v);

  CDrawDoc* tempDoc_ = nullptr;
  CDrawSet* tempSet_ = nullptr;
  CVol* blanket_ = nullptr;
  CDrawSet* seed_ = nullptr;
  VA_EWL* record_ = nullptr;
  VA_EWL values_;
  CString name_;
  CDrawSet* sourceSet_ = nullptr;
  CVol* sourceBlanket_ = nullptr;
  RECT3D cropBox_{};
  int t_ = 0;
  CDrawVol* live_ = nullptr;
  int liveColour_ = -1, liveOpacity_ = 20;
  USEROPT savedOptions_;
  bool optionsSaved_ = false;
  // The working crop (the blanket's box + 3 voxels in the temporary document).
  FramePtr cropVolume_;
  FramePtr cropBlanket_;
  RECT3D workBox_{};
  SPC spc_{1, 1, 1};
  DRECT3D seedBox_{};
  double* edgeMap_ = nullptr;
  double edgeMax_ = 0;
  VA_EWLCACHE plain_, corrected_;
  std::vector<Entry> entries_;
  int rangeCount_ = 0, sliderPosition_ = 0;
  bool busy_ = false, processEnabled_ = true, acceptEnabled_ = false, finished_ = false;
  CString volumeText_, edgeRangeText_, peelRangeText_;
};

// Opens the dialog over a new session: the program's modeless window (TW_SetEdgeWaveLiveView), or
// headless the values as a prompt, then Process and Accept (Cancel cancels). True when it opened.
bool TW_OpenDlgEWL(CDrawSet* tempSet, CVol* blanket, CDrawSet* seed, VA_EWL* record, const CString& name,
                   CDrawSet* sourceSet, CVol* sourceBlanket, const RECT3D& cropBox, int t);

// The program's window: whether any floating dialog is open, and the opener of the modeless window
// that takes the opened session (false: it could not open).
struct TW_EWLVIEW {
  std::function<bool()> anyFloatingOpen;
  std::function<bool(std::unique_ptr<CEdgeWaveLiveSession> session)> open;
};
void TW_SetEdgeWaveLiveView(TW_EWLVIEW view);
// The N3 dialog of "N3  Options" (the filter commands install theirs).
void TW_SetEdgeWaveLiveN3Dialog(std::function<bool(VA_N3PARM*)> dialog);
bool TW_AnyFloatingDialogOpen();

// "EdgeWave-Live with Single Seed and Constraint ROI": checks the set, crops the document to the
// blanket ROI's box at the view's time point and opens the dialog there. True when it opened.
bool TW_EdgeWaveLive(CDrawSet* set, CDrawView* view, VA_EWL* record, const CString& name);
