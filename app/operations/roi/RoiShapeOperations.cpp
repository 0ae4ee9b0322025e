// ROI shape operations: clearing slabs of slices, moving the external surface, concentric zones
// between two ROIs and closing broken contours.
#include <algorithm>
#include <cmath>
#include <utility>

#include "DrawDoc.h"
#include "DrawView.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "OperationHelpers.h"
#include "Prompts.h"
#include "RoiOperationFrame.h"
#include "RoiShapeOperations.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace twk::roiops {

bool RoiClearSlicesZ0Z1(CDrawSet& set, bool inside) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = set.WorkVolROI(nullptr);
  if (!roi) return false;
  const int depth = roi->D();
  int z0 = 1, z1 = depth;
  if (!TW_SpecifyTwoInt(L"Specify interval [Z0,Z1]", L"Z0", &z0, L"Z1", &z1)) return false;
  --z0;
  --z1;
  if (z0 < 0 || z0 > depth - 1 || z1 < 0 || z1 > depth - 1) {
    Named(L"CDrawSet::RoiClearSlicesZ0Z1", L"Z0,Z1 are outside allowed interval");
    return false;
  }
  if (z1 < z0) std::swap(z0, z1);
  CDrawDoc* doc = set.GetDocument();
  CDrawVol* layer = set.GetLayerOfVol(roi);
  if (doc) {
    doc->PushUndoForLayer(layer);
    doc->SetModifiedFlag();
  }
  ResetLayerCache(layer);
  const RECT3D box{0, 0, z0, roi->W() - 1, roi->H() - 1, z1};
  return VA_VolFillBox(roi->frame, -1, &box, inside, 0.0);
}

bool RoiPeelGrowExternal(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = set.WorkVolRoiFirstMarked();
  if (!roi) return false;
  double peel = 3.0, grow = 3.0;
  if (!TW_SpecifyTwoDouble(L"Specify Peel\\Grow", L"Peel (mm)", &peel, L"Grow (mm)", &grow)) return false;
  CDrawDoc* doc = set.GetDocument();
  CDrawVol* layer = set.GetLayerOfVol(roi);
  if (doc) {
    doc->SetModifiedFlag();
    doc->PushUndoForLayer(layer);
  }
  ResetLayerCache(layer);
  return VA_RoiPeelGrow(roi->frame, roi->Spc(), peel, grow, false, 1, nullptr, true);
}

bool MultipleZonesConcentricObjects(CDrawSet& set) {
  // Kept for the program's run: the number of zones offered is the last one entered.
  static VA_MZCO record;
  OperationEnd end(set.GetDocument(), true);
  CVol *first = nullptr, *second = nullptr;
  if (!set.GetTwoMarkedROIs(&first, &second)) return false;
  int zones = record.zones;
  if (!TW_SpecifyInt(L"Number of zones", &zones)) return false;
  record.zones = zones;
  record.method = 3;
  FramePtr labels(VA_ProduceMultipleZoneConcentricObjects(&record, first->frame, second->frame, true));
  if (!labels) return false;
  return set.AddResultLayer(true, true, nullptr, first, FrameHandOff(labels), 50, 1, int(set.NewRoiColor()));
}

bool MorphologyCloseContours2D(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = set.WorkVolRoiFirstMarked();
  if (!roi) return false;
  double distance = 1.0, steps = 1.0;
  if (!TW_SpecifyTwoDouble(L"", L"Close max distance (mm)", &distance, L"Number of steps", &steps)) return false;
  const double rounded = std::floor(steps + 0.5);
  if (!(rounded >= 1 && rounded <= 100)) {
    Named(L"CDrawSet::MorphologyCloseContours2D", L"Num steps should be within [0,100] range");
    return false;
  }
  CDrawDoc* doc = set.GetDocument();
  CDrawVol* layer = set.GetLayerOfVol(roi);
  if (doc) {
    doc->PushUndoForLayer(layer);
    doc->SetModifiedFlag();
  }
  ResetLayerCache(layer);
  return VA_RoiContourSimpleClosureAndFill2D(roi->frame, roi->Spc(), distance, 0, roi->D() - 1, true);
}

bool DetectBodyMask(CDrawSet& set, bool /*unused*/, CDrawView* view, VA_BODYFORG& record) {
  OperationEnd end(set.GetDocument(), true);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol || !vol->frame) return false;
  if (!TW_AskBodyMaskParms(&record)) return false;
  const int t = view ? std::min(view->CurrentTime(), vol->frame->dim.t - 1) : 0;
  FramePtr mask(VA_DetectBodyForeground(&record, vol->frame, vol->Spc(), t, true));
  if (!mask) return false;
  return set.AddResultLayer(true, true, nullptr, vol, FrameHandOff(mask), -1, 0, int(set.NewRoiColor()));
}

}  // namespace twk::roiops
