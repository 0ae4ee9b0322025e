// Landmarks of a layer set (its vector ROIs, each at the centre of its box) and the alignment that
// turns a volume so that its landmarks lie in one axial slice.
#include "LandmarkOperations.h"

#include <vector>

#include "DocHooks.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "GeometryDialogs.h"
#include "GeometryOperations.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VectRois.h"
#include "paths/ValueText.h"
#include "registration/Landmarks.h"

void TW_LandmarkCentres(HIGHOBJ* const* landmarks, int count, double* out) {
  for (int i = 0; i < count; ++i) {
    const HIGHOBJ* h = landmarks[i];
    out[3 * i] = (h->x0 + h->x1) / 2;
    out[3 * i + 1] = (h->y0 + h->y1) / 2;
    out[3 * i + 2] = (h->z0 + h->z1) / 2;
  }
}

namespace twk::registration {

bool FitPlaneToLandmarks(CDrawSet& set, CDrawView* view) {
  const CVol* vol = set.GetActiveLayer() ? set.GetActiveLayer()->vol : nullptr;
  if (!vol || !vol->frame) return false;
  const int t = view ? view->CurrentTime() : 0;
  int count = 0;
  HIGHOBJ** marks = TW_GatherVectRoisInTimeRange(&set, t, t, &count);
  if (!marks || count == 0) {
    pf_free(&marks);
    return false;
  }
  std::vector<double> centres(size_t(3 * count));
  TW_LandmarkCentres(marks, count, centres.data());
  pf_free(&marks);
  std::vector<DPOINT3D> points(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    points[size_t(i)] = {centres[size_t(3 * i)] * vol->spc.x, centres[size_t(3 * i + 1)] * vol->spc.y,
                         centres[size_t(3 * i + 2)] * vol->spc.z};
  double plane[4], error = 0, ax = 0, ay = 0;
  if (!VA_CalculateOptimalPlane(points.data(), count, plane, &error, true)) return false;
  PR_DisplayDoubleValue(L"Plane fitting error (mm)", error);
  if (!VA_CalculateRotationByPlane(plane, &ax, &ay, true)) return false;
  // The rotation record holds degrees (turned about x, then y).
  VOLROTATEPARM record;
  record.scale = 1.0;
  record.angle[0] = ax;
  record.angle[1] = ay;
  record.angle[2] = 0.0;
  record.interpolation = 1;
  const bool ok = twk::geometry::Rotate(set, false, view, &record, 100, L"_Z", nullptr, false);
  if (CDrawDoc* doc = set.GetDocument()) CDrawDoc::RedrawAllViews(doc, false);
  return ok;
}

}  // namespace twk::registration
