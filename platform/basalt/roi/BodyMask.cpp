#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>

#include "TwkMem.h"
#include "TwkUi.h"
#include "ops/BodyForeground.h"
#include "ops/VolumeOps.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "roi/RoiStatistics.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

FRAME* VA_DetectBodyForeground(const VA_BODYFORG* parms, const FRAME* frame, const SPC* spacing, int t, bool show) {
  const wchar_t* name = L"VA_DetectBodyForeground";
  auto fail = [&](const wchar_t* text) -> FRAME* {
    if (show && text) twk::showNamedError(name, text);
    return nullptr;
  };
  if (!parms || !frame || !frame->data || !spacing || frame->type == FRM_ROI || t < 0 || t >= frame->dim.t ||
      twk::voxelElemOf(frame) == twk::VoxelElem::Invalid)
    return fail(L"Invalid volume");
  if (!(parms->bodyRadius > 0)) return fail(L"Body radius should be positive");
  double lo = 0, hi = 0;
  if (!VA_VolMinMax(frame, t, nullptr, &lo, &hi)) return fail(L"The volume holds no defined voxel");
  const double threshold = lo + parms->relativeThreshold * (hi - lo);
  FRAME* candidates = VA_VolThreshold(frame, t, std::nextafter(threshold, 1e300), 1e59, false);
  if (!candidates) return fail(nullptr);
  FRAME* body = VA_RoiExtractMaxCC(candidates, 0, 26, false, show);
  PR_FrameDelete(&candidates);
  DPOINT3D centre;
  if (!body || !VA_RoiGetMassCenter(body, 0, &centre)) {
    PR_FrameDelete(&body);
    return fail(body ? L"No body voxel above the threshold" : nullptr);
  }
  // Only what lies within the body radius of the body's axis.
  const double r2 = parms->bodyRadius * parms->bodyRadius;
  const int64_t h = body->dim.h;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, h * body->dim.d, 64), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const int64_t y = i % h, z = i / h;
      uint8_t* line = twk::frameLine(body, y, z, 0);
      const double dy = (double(y) - centre.y) * spacing->y;
      for (int64_t x = 0; x < body->dim.w; ++x) {
        const double dx = (double(x) - centre.x) * spacing->x;
        if (dx * dx + dy * dy > r2) twk::setBit(line, x, false);
      }
    }
  });
  const double change = parms->peelGrow;
  const bool ok = VA_FillSliceContours(body, show) && VA_RoiFillHoles3D(body, show) &&
                  (change == 0 || VA_RoiPeelGrow(body, spacing, change < 0 ? -change : 0, change > 0 ? change : 0,
                                                 true, 0, nullptr, show));
  if (!ok) PR_FrameDelete(&body);
  return body;
}
