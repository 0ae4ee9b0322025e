#pragma once
// "3D ROI Statistics": the first-order and geometrical statistics of one signal volume over one ROI
// at one time point, its histogram with adjustable range and bins, a segmentation of the histogram
// into classes with the fitted model curves, and the "RoiStats3D.txt" report.
//
// CDlgRoiStat3D holds the dialog's state and does what its buttons do; the window (the program's
// Qt dialog, qt/RoiStat3DWindow.h) shows the texts and the plot it computes and writes the four
// controls (clip, method, show model, number of segments) into it before each action. Headless,
// TW_DlgRoiStat3D asks those four controls through twk::ui() and, on OK, runs "Update" and OK.

#include <cstdint>
#include <functional>
#include <vector>

#include "CString.h"
#include "roi/RoiStatPreset.h"
#include "TwkTypes.h"
#include "render/RectHelpers.h"
#include "volume/Frame.h"
#include "roi/RoiStatistics.h"

class CVol;

class CDlgRoiStat3D {
 public:
  // vol, roi, preset: not owned, each may be null. roiName: a path-like name (its file title shows).
  CDlgRoiStat3D(CVol* vol, int timeIndex, const FRAME* roi, const CString& roiName, int roiColor,
                ROISTATPRESET* preset);
  ~CDlgRoiStat3D();
  CDlgRoiStat3D(const CDlgRoiStat3D&) = delete;
  CDlgRoiStat3D& operator=(const CDlgRoiStat3D&) = delete;

  // Builds the working frames and the first histogram; false: the dialog cancels itself (an empty
  // ROI has been reported).
  bool OnInitDialog();

  // --- the buttons; each keeps the previous state when a computation fails ---
  bool OnSaveStats();         // "Save Stats": the report to <temp folder>/RoiStats3D.txt, then Notepad
  void OnUpdate();            // "Update": histogram segmentation, then recomputation
  void OnFull();              // "Full": the volume's range
  void OnClip();              // "Clip" toggled (the control already written)
  void OnRangePercent();      // "%"
  void OnNumberOfBins();      // "Number of Bins"
  void OnBinWidth();          // "Bin Width"
  void OnRange();             // "Range"
  void OnMethodChanged();     // "Method" selection
  void OnShowModelChanged();  // "Show model" selection
  void OnOK();                // stores the controls and the preset

  // --- the controls ---
  int clip = 1;
  int method = 0;     // VA_HISTSEG: 0 "Otsu", 1 "Bimodal Gauss ratio constrained", 2 "Bimodal Laplace
                      // ratio constrained", 3 "Gaussian Mixture Model"
  int showModel = 0;  // 0 "None", 1 "All Curves", 2 "Cumulative"
  int segments = 2;   // 0 to 10

  // --- read-outs ---
  CString Title() const;
  bool FullEnabled() const;
  CString BinWidthText() const;  // "%e"
  CString BinsText() const;      // "%u"
  CString RangeText() const;     // "[%e , %e]"
  CString MaxCountText() const;  // "Max Count=%u"
  CString MinText() const;       // "Min=%e"
  CString MaxText() const;       // "Max=%e"
  CString MaxBinText() const;    // "Max bin = %u"
  const CString& FirstOrderLabels() const { return firstLabels_; }
  const CString& FirstOrderValues() const { return firstValues_; }
  const CString& GeometryLabels() const { return geometryLabels_; }
  const CString& GeometryValues() const { return geometryValues_; }
  const CString& ThresholdsText() const { return thresholdsText_; }
  // "val=%e bin=%u count=%u" for a point of the histogram area (bounds inclusive); empty outside.
  CString CursorText(int x, int y, const RECT2D& area) const;
  CString ReportText() const;

  // The histogram plot in the area: one bar per bin (odd bins RGB 0,0,255, even 0,0,225) and the
  // model polylines that "Show model" asks for, drawn red.
  struct Bar {
    RECT2D rect;
    uint32_t rgb;
  };
  struct Plot {
    std::vector<Bar> bars;
    std::vector<std::vector<POINT2D>> curves;
  };
  Plot PlotIn(const RECT2D& area) const;

  // --- state ---
  const uint64_t* Histogram() const { return histogram_; }
  int Bins() const { return bins_; }
  double BinWidth() const { return binWidth_; }
  double RangeLow() const { return rangeLow_; }
  double RangeHigh() const { return rangeHigh_; }
  const VA_ROIINFO& Info() const { return info_; }
  int64_t VoidCount() const { return voidCount_; }
  double OutputThreshold() const { return outputThreshold_; }
  int RoiColor() const { return roiColor_; }
  // The first bin of the largest count; 0 without a histogram.
  int PeakBin() const;

 private:
  bool recompute(bool clearModels);
  // Runs a change of range or bins: restores them when the recomputation fails.
  template <typename Change>
  void changeBinning(Change change);
  void freeModels();

  CVol* vol_;
  int timeIndex_;
  const FRAME* roi_;
  CString roiName_;
  int roiColor_;
  ROISTATPRESET* preset_;

  uint64_t* histogram_ = nullptr;
  int bins_ = 100;
  double binWidth_ = 1e60;
  double rangeLow_ = 0, rangeHigh_ = 0;
  int* thresholds_ = nullptr;
  double* models_ = nullptr;
  int modelCount_ = 0;  // curves in models_
  FramePtr frame_;
  FramePtr mask_;
  bool roiSignal_ = false;  // the signal is an ROI (measured as 0/1 integers)
  double volumeMin_ = 0, volumeMax_ = 0;
  VA_ROIINFO info_;
  int64_t voidCount_ = 0;
  double outputThreshold_ = 1e60;
  CString firstLabels_, firstValues_, geometryLabels_, geometryValues_, thresholdsText_;
};

// The dialog's runner. Not silent: modal (the installed window, else the headless prompt), true on
// OK. Silent: opened and its OK step run at once, true when it opened. On true *threshold (may be
// null) receives the output threshold (1e60 when no segmentation ran). False, with nothing written,
// when the dialog refused to open.
bool TW_DlgRoiStat3D(CVol* vol, int timeIndex, const FRAME* roi, const CString& roiName, int roiColor,
                     ROISTATPRESET* preset, double* threshold, bool silent);

// The program's window: runs the dialog modally, true on OK.
using TW_ROISTAT3DVIEW = std::function<bool(CDlgRoiStat3D& dialog)>;
void TW_SetRoiStat3DView(TW_ROISTAT3DVIEW view);

// "BiGaussian Histogram Split with Ratio constraints" (method 1) or "BiLaplace Histogram Split with
// Ratio constraints" (method 2) on the record; other methods are refused ("Invalid histogram
// segmentation method") before anything is shown. True on OK.
bool TW_DlgBimodalHistSplit(int method, VA_BIMODALSPLIT* record);
// The record of the view's bimodal split command.
extern VA_BIMODALSPLIT g_BimodalSplitParms;
