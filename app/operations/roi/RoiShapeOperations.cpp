// ROI shape operations: clearing slabs of slices, moving the external surface, concentric zones
// between two ROIs and closing broken contours.
#include <cmath>
#include <utility>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "Prompts.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

using namespace twk::roiops;

bool CDrawSet::RoiClearSlicesZ0Z1(CDrawSet* set, bool inside) { return set ? set->RoiClearSlicesZ0Z1(inside) : false; }

bool CDrawSet::RoiClearSlicesZ0Z1(bool inside) {
  OperationEnd end(GetDocument(), false);
  CVol* roi = WorkVolROI(nullptr);
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
  CDrawDoc* doc = GetDocument();
  CDrawVol* layer = GetLayerOfVol(roi);
  if (doc) {
    doc->PushUndoForLayer(layer);
    doc->SetModifiedFlag();
  }
  ResetLayerCache(layer);
  const RECT3D box{0, 0, z0, roi->W() - 1, roi->H() - 1, z1};
  return VA_VolFillBox(roi->frame, -1, &box, inside, 0.0);
}

bool CDrawSet::RoiPeelGrowExternal(CDrawSet* set) { return set ? set->RoiPeelGrowExternal() : false; }

bool CDrawSet::RoiPeelGrowExternal() {
  OperationEnd end(GetDocument(), false);
  CVol* roi = WorkVolRoiFirstMarked();
  if (!roi) return false;
  double peel = 3.0, grow = 3.0;
  if (!TW_SpecifyTwoDouble(L"Specify Peel\\Grow", L"Peel (mm)", &peel, L"Grow (mm)", &grow)) return false;
  CDrawDoc* doc = GetDocument();
  CDrawVol* layer = GetLayerOfVol(roi);
  if (doc) {
    doc->SetModifiedFlag();
    doc->PushUndoForLayer(layer);
  }
  ResetLayerCache(layer);
  return VA_RoiPeelGrow(roi->frame, roi->Spc(), peel, grow, false, 1, nullptr, true);
}

bool CDrawSet::MultipleZonesConcentricObjects(CDrawSet* set) { return set ? set->MultipleZonesConcentricObjects() : false; }

bool CDrawSet::MultipleZonesConcentricObjects() {
  // Kept for the program's run: the number of zones offered is the last one entered.
  static VA_MZCO record;
  OperationEnd end(GetDocument(), true);
  CVol *first = nullptr, *second = nullptr;
  if (!GetTwoMarkedROIs(&first, &second)) return false;
  int zones = record.zones;
  if (!TW_SpecifyInt(L"Number of zones", &zones)) return false;
  record.zones = zones;
  record.method = 3;
  FRAME* labels = VA_ProduceMultipleZoneConcentricObjects(&record, first->frame, second->frame, true);
  if (!labels) return false;
  const bool ok = AddResultLayer(true, true, nullptr, first, &labels, 50, 1, int(NewRoiColor()));
  PR_FrameDelete(&labels);
  return ok;
}

bool CDrawSet::MorphologyCloseContours2D(CDrawSet* set) { return set ? set->MorphologyCloseContours2D() : false; }

bool CDrawSet::MorphologyCloseContours2D() {
  OperationEnd end(GetDocument(), false);
  CVol* roi = WorkVolRoiFirstMarked();
  if (!roi) return false;
  double distance = 1.0, steps = 1.0;
  if (!TW_SpecifyTwoDouble(L"", L"Close max distance (mm)", &distance, L"Number of steps", &steps)) return false;
  const double rounded = std::floor(steps + 0.5);
  if (!(rounded >= 1 && rounded <= 100)) {
    Named(L"CDrawSet::MorphologyCloseContours2D", L"Num steps should be within [0,100] range");
    return false;
  }
  CDrawDoc* doc = GetDocument();
  CDrawVol* layer = GetLayerOfVol(roi);
  if (doc) {
    doc->PushUndoForLayer(layer);
    doc->SetModifiedFlag();
  }
  ResetLayerCache(layer);
  return VA_RoiContourSimpleClosureAndFill2D(roi->frame, roi->Spc(), distance, 0, roi->D() - 1, true);
}
