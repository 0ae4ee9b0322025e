#include "roi/EdgeWave.h"
#include "roi/EdgeWaveRegions.h"

#include <algorithm>
#include <vector>

#include "BoxHelpers.h"
#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "roi/RunComponents.h"
#include "volume/Frame.h"
#include "volops/VolumeOperations.h"
#include "volume/VolumeBox.h"

void VA_UralEdgeBasicParms(VA_URALEDGE* edge, double radius, double threshold) {
  if (!edge) return;
  *edge = VA_URALEDGE{};
  edge->lowRadius = radius;
  edge->highRadius = radius;
  edge->edgeThreshold = threshold;
}

namespace {

void report(const CString& text, bool show) {
  if (show) twk::showNamedError(L"VA_EdgeWave", text);
}

// Whether a component's runs meet one of the voxel boxes.
std::vector<uint8_t> componentsInBoxes(const twk::cc::RunLabels& labels, const std::vector<RECT3D>& boxes) {
  std::vector<uint8_t> hit(size_t(labels.count), 0);
  const int64_t h = labels.dim.h;
  for (const RECT3D& b : boxes)
    for (int z = b.z0; z <= b.z1; ++z)
      for (int y = b.y0; y <= b.y1; ++y) {
        const int64_t line = int64_t(z) * h + y;
        for (int64_t r = labels.lineStart[size_t(line)]; r < labels.lineStart[size_t(line) + 1]; ++r) {
          const twk::cc::Run& run = labels.runs[size_t(r)];
          if (run.x1 >= b.x0 && run.x0 <= b.x1) hit[labels.label[size_t(r)]] = 1;
        }
      }
  return hit;
}

}  // namespace

FRAME* VA_EdgeWave(const VA_EW* record, const FRAME* frame, const SPC* spc, const DRECT3D* seeds, int numSeeds,
                   const RECT3D* limit, double* outValue, bool show) {
  if (!record || !frame || !frame->data) {
    report(L"Invalid parameters", show);
    return nullptr;
  }
  if (frame->type != FRM_ROI) return VA_EdgeWaveSignal(record, frame, 0, spc, seeds, numSeeds, limit, show);
  const int mode = record->connectedComponents;
  if (mode < 0 || mode > 2) {
    report(L"Invalid connected components mode", show);
    return nullptr;
  }
  std::vector<RECT3D> boxes;
  for (int i = 0; seeds && i < numSeeds; ++i) {
    RECT3D b;
    if (PR_DRect3DToRect3D(&seeds[i], &b, &frame->dim)) boxes.push_back(b);
  }
  if (mode == 2 && boxes.empty()) {
    report(L"At least one seed is expected", show);
    return nullptr;
  }
  (void)outValue;
  twk::ProgressGuard progress(L"EdgeWave", show);
  // The operand's first time point, inside the box limit.
  FRAME* core = VA_VolCropTimepoint(frame, 0, show);
  if (!core) return nullptr;
  if (limit) {
    VA_VolFillBox(core, 0, limit, false, 0.0);
  }
  FRAME* region = VA_VolClone(core);
  const SPC* distanceSpc = record->distanceUnits == 1 ? spc : nullptr;
  const bool mode3D = record->mode3D != 0;
  const double peel = std::max(0.0, record->peel), grow = std::max(0.0, record->grow);
  bool ok = region && (peel <= 0 || VA_RoiDeflate(core, distanceSpc, mode3D, false, peel, peel, peel, show));
  twk::cc::RunLabels labels;
  ok = ok && twk::cc::labelRoi(core, 0, 26, !mode3D, false, &labels);
  FRAME* result = ok ? PR_FrameCreate(FRM_ROI, 1, core->dim, true) : nullptr;
  if (result) {
    std::vector<uint8_t> keep(size_t(labels.count), mode == 1 ? 1 : 0);
    if (mode == 0) {
      const int64_t best = twk::cc::largestComponent(labels);
      if (best >= 0) keep[size_t(best)] = 1;
    } else if (mode == 2) {
      keep = componentsInBoxes(labels, boxes);
    }
    twk::cc::writeRuns(labels, result, 0, true, [&](uint32_t c) { return keep[c] != 0; });
    // Grown back by peel + grow, never beyond the operand.
    const double reach = peel + grow;
    if (reach > 0) {
      ok = VA_RoiInflate(result, distanceSpc, mode3D, false, reach, reach, reach, show);
      if (ok) ok = VA_VolCleanMask(result, 0, region, false, 0.0, show);
    }
  }
  PR_FrameDelete(&core);
  PR_FrameDelete(&region);
  if (!ok) PR_FrameDelete(&result);
  return result;
}
