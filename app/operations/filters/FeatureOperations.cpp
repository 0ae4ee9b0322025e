// Feature points and response maps of the layer sets.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilterOperationKit.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "VectorRois.h"
#include "Vol.h"
#include "filters/Features.h"
#include "volume/Frame.h"

using twk::filterops::AddFrameAsLayer;
using twk::filterops::Named;

// The records of the two detectors, kept until the program exits.
VA_FEATUREDETECT g_FeatureDetectParms[2] = {{0, 4.0, 4.0, 1.0}, {1, 1.5, 5.0, 1.0}};

bool CDrawSet::ProduceFeatureMap(CDrawSet* set, int type, bool points) {
  return set && set->ProduceFeatureMap(type, points);
}

bool CDrawSet::ProduceFeatureMap(int type, bool points) {
  const wchar_t* operation = L"CDrawSet::ProduceFeatureMap";
  TW_OPERATION_END end(GetDocument(), true);
  if (type < 0 || type > 1) {
    Named(operation, L"Unsupported feature type");
    return false;
  }
  CVol* vol = WorkVolNonRoi();
  if (!vol) return false;
  CVol* roi = nullptr;
  if (!WorkVolROI_SingleOptional(&roi)) return false;
  VA_FEATUREDETECT& r = g_FeatureDetectParms[type];
  if (!points) {
    if (!TW_EnterDouble(L"Spatial scale (mm)", &r.scale)) return false;
    FRAME* map = VA_VolFeatureResponseMap(&r, vol->frame, vol->Spc(), roi ? roi->frame : nullptr, true);
    return AddFrameAsLayer(this, true, L"feature response map", vol, &map, nullptr);
  }
  if (!TW_SpecifyThreeDoubles(L"Basic Feature Detector", L"spatial scale (mm)", &r.scale, L"density (mm)", &r.density,
                              L"threshold", &r.threshold))
    return false;
  int count = 0;
  POINT3D* found = VA_VolFeaturePointCoords(&r, vol->frame, vol->Spc(), roi ? roi->frame : nullptr, &count, true);
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const POINT3D& p = found[i];
    const double box[6] = {p.x - 2.0, p.y - 2.0, p.z - 2.0, p.x + 2.0, p.y + 2.0, p.z + 2.0};
    ok = TW_CreateVectRoiFromLabel(this, box, 0, 0, static_cast<const char*>(nullptr));
  }
  pf_free(&found);
  return ok;
}
