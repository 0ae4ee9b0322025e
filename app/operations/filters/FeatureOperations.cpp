// Feature points and response maps of the layer sets, and the snapshot of a view.
#include "FeatureOperations.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilterOperationKit.h"
#include "ImageOpen.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "VectorRois.h"
#include "Vol.h"
#include "filters/Features.h"
#include "render/PictureZoom.h"
#include "volume/Frame.h"

// The records of the two detectors, kept until the program exits.
VA_FEATUREDETECT g_FeatureDetectParms[2] = {{0, 4.0, 4.0, 1.0}, {1, 1.5, 5.0, 1.0}};

namespace twk::filterops {

bool ProduceFeatureMap(CDrawSet& set, int type, bool points) {
  const wchar_t* operation = L"CDrawSet::ProduceFeatureMap";
  TW_OPERATION_END end(set.GetDocument(), true);
  if (type < 0 || type > 1) {
    Named(operation, L"Unsupported feature type");
    return false;
  }
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  CVol* roi = nullptr;
  if (!set.WorkVolROI_SingleOptional(&roi)) return false;
  VA_FEATUREDETECT& r = g_FeatureDetectParms[type];
  if (!points) {
    if (!TW_EnterDouble(L"Spatial scale (mm)", &r.scale)) return false;
    FramePtr map(VA_VolFeatureResponseMap(&r, vol->frame, vol->Spc(), roi ? roi->frame : nullptr, true));
    return AddFrameAsLayer(set, true, L"feature response map", vol, std::move(map), nullptr);
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
    ok = TW_CreateVectRoiFromLabel(&set, box, 0, 0, static_cast<const char*>(nullptr));
  }
  pf_free(&found);
  return ok;
}

// What the view shows of the operand as a new single-slice document "snapshot": the view's
// current slice (or slab projection) at one pixel per millimetre-step of the finest of the
// operand's three spacings, so that the picture keeps its proportions; for an isotropic volume
// that is one pixel per displayed voxel. The operand is an integer volume; the snapshot holds its
// 32-bit grey values. The pixels carry the projection's orientation and that spacing, the first pixel at
// the origin; the layer takes the operand layer's display filter.
CDrawDoc* ProjectionSnapshot(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* vol = set.WorkVolSI();
  const VA_VOLPROJ* shown = view ? set.FindViewProjection(view) : nullptr;
  if (!vol || !vol->frame || !shown) return nullptr;
  VA_VOLPROJ proj = *shown;
  proj.filmView = 0;  // the slice in view, not the film of all slices
  DIM3D plane;
  SPC planeSpc;
  if (!VA_VolProjDimensions(vol->Dim(), vol->Spc(), &proj, &plane, &planeSpc)) return nullptr;
  const double step = std::min({vol->spc.x, vol->spc.y, vol->spc.z});
  if (!(step > 0)) return nullptr;
  const int width = std::max(1, int(std::lround(plane.w * planeSpc.x / step)));
  const int height = std::max(1, int(std::lround(plane.h * planeSpc.y / step)));
  // The layer's world is the picture at one unit per pixel, seen whole at one pixel per unit.
  const DRECT layer{0, 0, double(width), double(height)};
  const double visible[4] = {0, 1, double(width - 1), double(height)};
  void* picture = nullptr;
  const int type = VA_PictureZoom(vol->frame, 0, &layer, vol->Spc(), &proj, visible, width, height, nullptr, &picture,
                                  nullptr);
  if (type != VA_PIXEL_INT) {
    pf_free(&picture);
    return nullptr;
  }
  FramePtr frame(VA_CreateVol(picture, 32, width, height, 1, 1));
  pf_free(&picture);
  if (!frame) return nullptr;
  double orient[6];
  if (!vol->GetProjOrientation(&proj, orient)) vol->GetOrientation(orient);
  const SPC spacing{step, step, step};
  const DPOINT3D origin{0, 0, 0};
  std::unique_ptr<CVol> snapshot(vol->CloneByReformat(FrameHandOff(frame), &spacing, orient, &origin, false));
  if (!snapshot) return nullptr;
  CDrawDoc* doc = TW_CreateDocumentByClone(L"snapshot", snapshot.get(), nullptr, nullptr, nullptr, false);
  if (!doc) return nullptr;
  CDrawSet* target = doc->GetActiveSet();
  const PR_VIEWFILT* filter = LayerFilter(set, vol);
  if (CDrawVol* added = target && filter ? target->GetLayer(0) : nullptr) added->filter = *filter;
  CDrawDoc::RedrawAllViews(doc, true);
  return doc;
}

}  // namespace twk::filterops
