#include "roi/LabelMaps.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/ValueText.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

bool sameGrid(const FRAME* a, const FRAME* b) {
  return a->dim.w == b->dim.w && a->dim.h == b->dim.h && a->dim.d == b->dim.d;
}

FRAME** newArray(int n) { return static_cast<FRAME**>(pf_calloc(int64_t(std::max(n, 1)) * int64_t(sizeof(FRAME*)))); }

}  // namespace

FRAME* VA_MakeAtlas(const FRAME* const* rois, int count) {
  if (!rois || count < 1 || !rois[0]) return nullptr;
  int times = 1;
  for (int i = 0; i < count; ++i) {
    if (!rois[i] || rois[i]->type != FRM_ROI || !sameGrid(rois[i], rois[0])) return nullptr;
    times = std::max(times, rois[i]->dim.t);
  }
  FRAME* out = PR_FrameCreate(FRM_INT, 32, DIM3D{rois[0]->dim.w, rois[0]->dim.h, rois[0]->dim.d, times}, true);
  if (!out) return nullptr;
  for (int t = 0; t < times; ++t)
    for (int i = 0; i < count; ++i) {
      const FRAME* r = rois[i];
      const int rt = r->dim.t == 1 ? 0 : t;
      if (rt >= r->dim.t) continue;
      for (int z = 0; z < r->dim.d; ++z)
        for (int y = 0; y < r->dim.h; ++y) {
          const uint8_t* bits = twk::frameLine(r, y, z, rt);
          uint32_t* dst = reinterpret_cast<uint32_t*>(twk::frameLine(out, y, z, t));
          for (int x = 0; x < r->dim.w; ++x)
            if (twk::getBit(bits, x)) dst[x] = uint32_t(i + 1);
        }
    }
  return out;
}

FRAME** VA_AtlasSplit(const FRAME* labels, const wchar_t* list, int labelCount, int** outLabels, int* count,
                      bool show) {
  if (count) *count = 0;
  if (outLabels) *outLabels = nullptr;
  if (!labels || !count || labelCount < 0 || labelCount == 1 || labels->type == FRM_ROI ||
      labels->type == FRM_INVALID)
    return nullptr;
  const int64_t n = int64_t(labels->dim.w) * labels->dim.h * labels->dim.d * labels->dim.t;
  // The labels asked for (all when the list is empty); labels beyond this bound are not regions.
  constexpr int kMaxLabel = 1 << 24;
  std::vector<uint8_t> asked;
  const bool all = !list || !*list;
  if (!all) {
    int* values = nullptr;
    int k = 0;
    if (!PR_ExtractIntegers(list, &values, &k) || k < 1) {
      pf_free(&values);
      if (show) twk::showNamedError(L"VA_AtlasSplit", L"Invalid region list");
      return nullptr;
    }
    for (int i = 0; i < k; ++i)
      if (values[i] >= 1 && values[i] < kMaxLabel) {
        if (size_t(values[i]) >= asked.size()) asked.resize(size_t(values[i]) + 1, 0);
        asked[size_t(values[i])] = 1;
      }
    pf_free(&values);
  }
  const int bound = labelCount > 0 ? labelCount : kMaxLabel;
  auto labelAt = [&](int64_t i) {
    const int64_t x = i % labels->dim.w, y = i / labels->dim.w % labels->dim.h;
    const int64_t s = i / (int64_t(labels->dim.w) * labels->dim.h);
    const double v = twk::voxelValue(labels, x, y, s % labels->dim.d, s / labels->dim.d);
    const double l = std::floor(v + 0.5);
    const bool region = l >= 1 && l < bound && (all || (size_t(l) < asked.size() && asked[size_t(l)]));
    return region ? int(l) : 0;
  };
  // Which labels occur, then one frame for each.
  std::vector<uint8_t> present;
  for (int64_t i = 0; i < n; ++i)
    if (const int l = labelAt(i)) {
      if (size_t(l) >= present.size()) present.resize(size_t(l) + 1, 0);
      present[size_t(l)] = 1;
    }
  std::vector<int> wanted;
  for (size_t l = 1; l < present.size(); ++l)
    if (present[l]) wanted.push_back(int(l));
  if (wanted.empty()) return nullptr;
  FRAME** frames = newArray(int(wanted.size()));
  if (!frames) return nullptr;
  for (size_t k = 0; k < wanted.size(); ++k) {
    frames[k] = PR_FrameCreate(FRM_ROI, 1, labels->dim, true);
    if (!frames[k]) {
      if (show) twk::showNamedError(L"VA_AtlasSplit", L"Not enough memory");
      PR_FrameArrDelete(&frames, int(wanted.size()));
      return nullptr;
    }
  }
  std::vector<int> slot(present.size(), -1);
  for (size_t k = 0; k < wanted.size(); ++k) slot[size_t(wanted[k])] = int(k);
  for (int64_t i = 0; i < n; ++i) {
    const int l = labelAt(i);
    if (!l) continue;
    const int64_t x = i % labels->dim.w, y = i / labels->dim.w % labels->dim.h;
    const int64_t s = i / (int64_t(labels->dim.w) * labels->dim.h);
    twk::setRoiBit(frames[slot[size_t(l)]], x, y, s % labels->dim.d, s / labels->dim.d, true);
  }
  if (outLabels) {
    *outLabels = static_cast<int*>(pf_malloc(int64_t(wanted.size() * sizeof(int))));
    if (*outLabels) std::copy(wanted.begin(), wanted.end(), *outLabels);
  }
  *count = int(wanted.size());
  return frames;
}

FRAME* VA_AverageRois(const FRAME* const* rois, int count, double normalisation, double background) {
  if (!rois || count < 1 || !rois[0]) return nullptr;
  for (int i = 0; i < count; ++i)
    if (!rois[i] || rois[i]->type != FRM_ROI || rois[i]->dim.t != 1 || !sameGrid(rois[i], rois[0])) return nullptr;
  const DIM3D dims{rois[0]->dim.w, rois[0]->dim.h, rois[0]->dim.d, 1};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, dims, false);
  if (!out) return nullptr;
  const double empty = background == -1 ? VOID_VALUE : background;
  for (int z = 0; z < dims.d; ++z)
    for (int y = 0; y < dims.h; ++y) {
      double* dst = reinterpret_cast<double*>(twk::frameLine(out, y, z, 0));
      for (int x = 0; x < dims.w; ++x) {
        int in = 0;
        for (int i = 0; i < count; ++i) in += twk::roiBit(rois[i], x, y, z, 0);
        dst[x] = in ? normalisation * double(in) / double(count) : empty;
      }
    }
  return out;
}

FRAME** VA_RoiOnionPeel(const FRAME* roi, const SPC* spc, int t, double width, int n, bool show) {
  if (!roi || roi->type != FRM_ROI || n < 1 || !(width > 0) || t < 0 || t >= roi->dim.t) return nullptr;
  FRAME* depth = VA_RoiInsideDistance(roi, t, spc, show);
  if (!depth) return nullptr;
  FRAME** shells = newArray(n);
  const DIM3D dims{roi->dim.w, roi->dim.h, roi->dim.d, 1};
  bool ok = shells != nullptr;
  for (int k = 0; ok && k < n; ++k) ok = (shells[k] = PR_FrameCreate(FRM_ROI, 1, dims, true)) != nullptr;
  const double* d = reinterpret_cast<const double*>(depth->data);
  bool any = false;
  for (int z = 0; ok && z < dims.d; ++z)
    for (int y = 0; y < dims.h; ++y)
      for (int x = 0; x < dims.w; ++x) {
        const double v = d[(size_t(z) * dims.h + y) * dims.w + x];
        if (v <= 0) continue;
        const int k = std::min(n - 1, int(std::ceil(v / width - 1e-9)) - 1);
        twk::setRoiBit(shells[std::max(k, 0)], x, y, z, 0, true);
        any = true;
      }
  PR_FrameDelete(&depth);
  if (!ok || !any) PR_FrameArrDelete(&shells, n);
  return shells;
}
