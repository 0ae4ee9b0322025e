// ROI measurements: distances between ROIs, overlap, surface distances and the surface-wave map.
#include <cmath>
#include <vector>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "CurveViewer.h"
#include "Prompts.h"
#include "RoiMeasurements.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "paths/ValueText.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"

namespace twk::roiops {

namespace {

// Exactly two marked ROI layers, else the operation's own "Two ROIs are required".
bool twoRois(CDrawSet& set, const wchar_t* operation, CVol** a, CVol** b) {
  if (set.NumMarkedRoiLayers() != 2) {
    Named(operation, L"Two ROIs are required");
    return false;
  }
  return set.GetTwoMarkedROIs(a, b);
}

}  // namespace

bool RoiMassCenterDistance(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol *a = nullptr, *b = nullptr;
  if (!twoRois(set, L"CDrawSet::RoiMassCenterDistance", &a, &b)) return false;
  DPOINT3D ca, cb;
  if (!VA_RoiGetMassCenter(a->frame, 0, &ca) || !VA_RoiGetMassCenter(b->frame, 0, &cb)) return false;
  const double dx = (ca.x - cb.x) * a->Vx(), dy = (ca.y - cb.y) * a->Vy(), dz = (ca.z - cb.z) * a->Vz();
  PR_DisplayDoubleValue(L"ROI mass center distance", std::sqrt(dx * dx + dy * dy + dz * dz));
  return true;
}

bool MeasureDICE_SelectSlices(CDrawSet& set, CDrawView* view, DiceSliceRange& range) {
  OperationEnd end(set.GetDocument(), false);
  const wchar_t* name = L"CDrawSet::MeasureDICE_SelectSlices";
  CVol *a = nullptr, *b = nullptr;
  if (!twoRois(set, name, &a, &b)) return false;
  if (range.start == 0 && range.end == 0) {
    range.start = 1;
    range.end = a->D();
  }
  int start = range.start, stop = range.end;
  if (!TW_SpecifyTwoInt(L"Specify slices", L"start", &start, L"end", &stop)) return false;
  range.start = start;
  range.end = stop;
  const int depth = a->D();
  if (start < 1 || start > depth || stop < 1 || stop > depth || stop < start) {
    Named(name, L"Invalid slice selection");
    return false;
  }
  const int t = view ? view->CurrentTime() : 0;
  double dice = 0;
  if (!VA_MeasureDICE(a->frame, a->effT(t), b->frame, b->effT(t), start - 1, stop - 1, &dice, nullptr, nullptr))
    return false;
  twk::doc::information(FmtStr(L"DICE coefficient on slices [%u,%u] = %e", unsigned(start), unsigned(stop), dice));
  return true;
}

bool RoiHausdorffDistance(CDrawSet& set, bool edgeBased) {
  OperationEnd end(set.GetDocument(), false);
  CVol *a = nullptr, *b = nullptr;
  if (!twoRois(set, L"CDrawSet::RoiHausdorffDistance", &a, &b)) return false;
  double hausdorff = 0, average = 0;
  if (!VA_HausfdoffDist(edgeBased, a->frame, b->frame, a->Spc(), &hausdorff, &average)) return false;
  twk::doc::information(FmtStr(L"Hausdorff distance = %8.3lf mm\nAverage distance=%8.3lf mm", hausdorff, average));
  return true;
}

bool RoiSurfaceWaveDistance(CDrawSet& set, bool inside, bool outside) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  FramePtr distances(VA_RoiWaveDistance_x100(roi->frame, roi->Spc(), inside, outside, true));
  if (!distances) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const bool ok = set.AddResultLayer(false, false, L"surface wave distance", roi, FrameHandOff(distances), -1, 0, -1);
  if (ok) set.SetActiveLayerLast();
  return ok;
}

bool RoiRingProfiles(CDrawSet& set) {
  CVol *vol = nullptr, *roi = nullptr;
  if (!set.WorkVolSIandROI(true, false, true, &vol, &roi) || !vol || !roi) return false;
  int step = 1;
  if (!TW_SpecifyInt(L"Layer step (vox)", &step)) return false;
  double* stats[5] = {};
  int count = 0;
  if (!VA_RoiGetPeelProfile(vol->frame, 0, roi->frame, step, &stats[0], &stats[1], &stats[2], &stats[3], &stats[4],
                            &count, true)) {
    for (double*& p : stats) pf_free(&p);
    return false;
  }
  // One row per statistic, one tab-separated column per ring, copied for a spreadsheet.
  const wchar_t* rowNames[5] = {L"Mean", L"Stdev", L"Skew", L"Kurt", L"Median"};
  CString text;
  for (int r = 0; r < 5; ++r) {
    text += rowNames[r];
    for (int k = 0; k < count; ++k) text += FmtStr(L"\t %8.5lf", stats[r][k]);
    text += L"\n";
  }
  PR_CopyStrToClipboard(static_cast<const wchar_t*>(text));
  std::vector<double> ring(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) ring[size_t(k)] = k;
  const double* curves[2] = {stats[0], stats[1]};
  TW_CURVEVIEWER viewer;
  viewer.title = L"ROI concentric Ring Profiles";
  viewer.valueName = L"Mean";
  viewer.argName = L"LayerInx";
  viewer.curves = curves;
  viewer.count = 2;
  viewer.x = ring.data();
  viewer.n = count;
  if (count > 0) TW_DlgViewCurves(viewer);
  for (double*& p : stats) pf_free(&p);
  return true;
}

}  // namespace twk::roiops
