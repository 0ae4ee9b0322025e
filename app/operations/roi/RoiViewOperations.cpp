// ROI operations that act on the view and the vector ROIs: zooming the view onto the ROI and
// enclosing the ROI's connected components by vector ROIs.
#include <algorithm>
#include <cmath>
#include <vector>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "HighObj.h"
#include "RoiOperationFrame.h"
#include "RoiViewOperations.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VectorRois.h"
#include "roi/RoiComponents.h"

namespace twk::roiops {

namespace {

bool sameBox(const DRECT3D& a, const HIGHOBJ& b) {
  const double d[6] = {a.x0 - b.x0, a.y0 - b.y0, a.z0 - b.z0, a.x1 - b.x1, a.y1 - b.y1, a.z1 - b.z1};
  for (double v : d)
    if (std::fabs(v) > 1e-6) return false;
  return true;
}

}  // namespace

bool RoiOptimalZoom(CDrawSet& set, CDrawView* view) {
  // Only this view is redrawn, on every way out.
  struct RedrawView {
    CDrawView* view;
    ~RedrawView() {
      if (view) view->InvalidateClient();
    }
  } redraw{view};
  CVol* roi = RoiOperand(&set);
  if (!roi) {
    Named(L"CDrawSet::RoiOptimalZoom", L"ROI is not present or enabled");
    return false;
  }
  if (!view) return false;
  RECT3D* boxes = VA_RoiBoundRect(roi->frame);
  if (!boxes) return false;
  const int t = roi->frame->dim.t < 2 ? 0 : std::min(view->CurrentTime(), roi->frame->dim.t - 1);
  const RECT3D box = boxes[t];
  pf_free(&boxes);
  if (box.x0 < 0) return false;  // nothing at this time point
  set.VolChangeSlice(view, 6, 0, (box.z0 + box.z1) / 2, 3);
  DRECT bounds;
  if (!set.DisplayedBounds(view, &bounds)) return false;
  const double w = roi->frame->dim.w, h = roi->frame->dim.h;
  DRECT world;
  world.x0 = bounds.x0 + box.x0 * (bounds.x1 - bounds.x0) / w;
  world.x1 = bounds.x0 + box.x1 * (bounds.x1 - bounds.x0) / w;
  world.y1 = bounds.y1 - box.y0 * (bounds.y1 - bounds.y0) / h;
  world.y0 = bounds.y1 - box.y1 * (bounds.y1 - bounds.y0) / h;
  view->ZoomToWorldRect(world);
  return true;
}

bool RoiEncloseCCByVectRois(CDrawSet& set, CDrawView* view) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  twk::ProgressGuard progress(L"Enclose ROI connected components by VROIs", true);
  int created = 0, matched = 0, largestT = 0;
  double largest = -1;
  DRECT3D largestBox;
  for (int t = 0; t < roi->frame->dim.t; ++t) {
    int count = 0;
    DRECT3D* boxes = VA_RoiCCrects(roi->frame, &roi->frame->dim, t, 26, &count);
    if (count < 0) return false;
    int found = 0;
    CDrawSet** existing = TW_CollectVectRoiObjects(&set, &found);
    for (int c = 0; c < count; ++c) {
      const DRECT3D& b = boxes[c];
      bool same = false;
      for (int i = 0; i < found && !same; ++i) {
        const HIGHOBJ* v = existing[i]->vroi;
        same = v && v->t0 <= t && t <= v->t1 && sameBox(b, *v);
      }
      if (same) {
        ++matched;
        continue;
      }
      const double corners[6] = {b.x0, b.y0, b.z0, b.x1, b.y1, b.z1};
      if (!TW_CreateVectRoiFromLabel(&set, corners, t, t, FmtStr(L"cc_%u_t%u", unsigned(c), unsigned(t)).GetString())) {
        pf_free(&existing);
        pf_free(&boxes);
        return false;
      }
      ++created;
      const double size = (b.x1 - b.x0) * (b.y1 - b.y0) * (b.z1 - b.z0);
      if (size > largest) {
        largest = size;
        largestBox = b;
        largestT = t;
      }
    }
    pf_free(&existing);
    pf_free(&boxes);
  }
  if (created > 0 && view)
    set.VolChangeSlice(view, 7, largestT, int(std::floor((largestBox.z0 + largestBox.z1) / 2)), 3);
  if (created >= 2) {
    twk::messageBox(FmtStr(L"%u VROIs were created", unsigned(created)), MB_OK | MB_ICONINFORMATION);
  } else if (created == 0) {
    twk::messageBox(matched ? L"No new VROIs were created because matching VROI instances were present"
                            : L"No new VROIs were created",
                    MB_OK | MB_ICONINFORMATION);
  }
  return true;
}

}  // namespace twk::roiops
