#include "roi/RoiComponents.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_reduce.h>

#include <algorithm>
#include <bit>
#include <numeric>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "roi/RunComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

bool isRoi(const FRAME* f) { return f && f->type == FRM_ROI && f->data && f->bpv == 1; }

bool stopRequested(void* progress) { return static_cast<twk::ProgressGuard*>(progress)->Stopped(); }

// Labels time point t with progress; the title is shown only when nobody shows work yet.
bool labelWithProgress(const FRAME* roi, int t, int connectivity, bool twoD, bool invert, twk::cc::RunLabels* out,
                       twk::ProgressGuard& progress) {
  return twk::cc::labelRoi(roi, t, connectivity, twoD, invert, out, &stopRequested, &progress);
}

FRAME* newRoi3D(const FRAME* like) {
  return PR_FrameCreate(FRM_ROI, 1, DIM3D{like->dim.w, like->dim.h, like->dim.d, 1}, true);
}

bool validConnectivity(int c) { return c == 6 || c == 18 || c == 26; }

// Keeps, per group (the whole volume, or each slice with twoD), the n largest components.
std::vector<uint8_t> keepLargest(const twk::cc::RunLabels& labels, int n, bool twoD) {
  std::vector<uint8_t> keep(size_t(labels.count), 0);
  const int64_t h = labels.dim.h;
  // Group of every component: its slice (from its first run) in 2D, 0 in 3D.
  std::vector<int32_t> group(size_t(labels.count), 0);
  int32_t groups = 1;
  if (twoD) {
    groups = labels.dim.d;
    for (int64_t line = 0; line < h * labels.dim.d; ++line)
      for (int64_t r = labels.lineStart[size_t(line)]; r < labels.lineStart[size_t(line) + 1]; ++r)
        group[labels.label[size_t(r)]] = int32_t(line / h);
  }
  std::vector<std::vector<uint32_t>> members{size_t(groups)};
  for (int64_t c = 0; c < labels.count; ++c) members[size_t(group[size_t(c)])].push_back(uint32_t(c));
  for (auto& m : members) {
    std::stable_sort(m.begin(), m.end(), [&](uint32_t a, uint32_t b) { return labels.size[a] > labels.size[b]; });
    for (size_t i = 0; i < m.size() && i < size_t(n); ++i) keep[m[i]] = 1;
  }
  return keep;
}

FRAME* extractLargest(const wchar_t* name, const FRAME* roi, int t, int n, int connectivity, bool twoD, bool show) {
  if (!isRoi(roi) || t < 0 || t >= roi->dim.t) {
    report(name, L"ROI is required", show);
    return nullptr;
  }
  if (!validConnectivity(connectivity) || n < 1) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"Connected components", show);
  twk::cc::RunLabels labels;
  if (!labelWithProgress(roi, t, connectivity, twoD, false, &labels, progress)) {
    if (!progress.Stopped()) report(name, L"Not enough memory", show);
    return nullptr;
  }
  FRAME* out = newRoi3D(roi);
  if (!out) return nullptr;
  const std::vector<uint8_t> keep = keepLargest(labels, n, twoD);
  twk::cc::writeRuns(labels, out, 0, true, [&](uint32_t c) { return keep[c] != 0; });
  return out;
}

}  // namespace

FRAME* VA_RoiExtractMaxCC(const FRAME* roi, int t, int connectivity, bool twoD, bool show) {
  return extractLargest(L"VA_RoiExtractMaxCC", roi, t, 1, connectivity, twoD, show);
}

FRAME* VA_RoiExtractUptoNLargestCCs(const FRAME* roi, int t, int n, int connectivity, bool twoD, bool show) {
  return extractLargest(L"VA_RoiExtractUptoNLargestCCs", roi, t, n, connectivity, twoD, show);
}

FRAME** VA_RoiSplitConnectedComponents(const FRAME* roi, int connectivity, int* count, bool show) {
  const wchar_t* name = L"VA_RoiSplitConnectedComponents";
  if (count) *count = 0;
  if (!isRoi(roi) || !count || !validConnectivity(connectivity)) {
    report(name, L"ROI is required", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"Connected components", show);
  std::vector<twk::cc::RunLabels> perTime(size_t(roi->dim.t));
  int64_t total = 0;
  for (int t = 0; t < roi->dim.t; ++t) {
    if (!labelWithProgress(roi, t, connectivity, false, false, &perTime[size_t(t)], progress)) {
      if (!progress.Stopped()) report(name, L"Not enough memory", show);
      return nullptr;
    }
    total += perTime[size_t(t)].count;
    if (!progress.Step(t + 1, roi->dim.t, 1, 50)) return nullptr;
  }
  if (total == 0) return nullptr;
  // Every component becomes a frame of the ROI's size: refuse what cannot fit.
  uint64_t totalMemory = 0, available = 0;
  const uint64_t bytes = PR_FrameMemSize(roi);
  if (total > int64_t(INT32_MAX) ||
      (PR_GetTotalSystemMemory(&totalMemory, &available) && bytes > 0 && uint64_t(total) > available / bytes)) {
    report(name, FmtStr(L"Not enough memory for %u component layers", unsigned(std::min<int64_t>(total, UINT32_MAX))),
           show);
    return nullptr;
  }
  FRAME** frames = static_cast<FRAME**>(pf_calloc(total * int64_t(sizeof(FRAME*))));
  if (!frames) return nullptr;
  int64_t next = 0;
  for (int t = 0; t < roi->dim.t; ++t) {
    const twk::cc::RunLabels& labels = perTime[size_t(t)];
    for (int64_t c = 0; c < labels.count; ++c, ++next) {
      FRAME* f = PR_FrameCreate(FRM_ROI, 1, roi->dim, true);
      if (!f || !progress.Step(next + 1, total, 50, 98)) {
        PR_FrameDelete(&f);
        PR_FrameArrDelete(&frames, int(total));
        return nullptr;
      }
      twk::cc::writeRuns(labels, f, t, false, [c](uint32_t l) { return l == uint32_t(c); });
      frames[next] = f;
    }
  }
  *count = int(total);
  return frames;
}

DRECT3D* VA_RoiCCrects(const FRAME* roi, const DIM3D* dims, int t, int connectivity, int* count) {
  if (count) *count = -1;
  if (!isRoi(roi) || !count || t < 0 || t >= roi->dim.t || !validConnectivity(connectivity)) return nullptr;
  if (dims && (dims->w != roi->dim.w || dims->h != roi->dim.h || dims->d != roi->dim.d)) return nullptr;
  twk::cc::RunLabels labels;
  if (!twk::cc::labelRoi(roi, t, connectivity, false, false, &labels)) return nullptr;
  *count = 0;
  if (labels.count == 0) return nullptr;
  const std::vector<RECT3D> boxes = twk::cc::componentBoxes(labels);
  DRECT3D* out = static_cast<DRECT3D*>(pf_malloc(int64_t(boxes.size() * sizeof(DRECT3D))));
  if (!out) {
    *count = -1;
    return nullptr;
  }
  for (size_t i = 0; i < boxes.size(); ++i) {
    const RECT3D& b = boxes[i];
    out[i] = DRECT3D{double(b.x0), double(b.y0), double(b.z0), double(b.x1 + 1), double(b.y1 + 1), double(b.z1 + 1)};
  }
  *count = int(boxes.size());
  return out;
}

namespace {

// Holes of time point t: components of the clear voxels that do not touch the border, set in
// time point dstT of dst (which may be the ROI itself: the labelling is done before writing).
bool holesInto(const FRAME* roi, int t, bool twoD, FRAME* dst, int dstT, twk::ProgressGuard& progress) {
  twk::cc::RunLabels background;
  if (!labelWithProgress(roi, t, 6, twoD, true, &background, progress)) return false;
  const std::vector<uint8_t> border = twk::cc::componentsOnBorder(background, twoD);
  twk::cc::writeRuns(background, dst, dstT, false, [&](uint32_t c) { return border[c] == 0; });
  return true;
}

}  // namespace

FRAME* VA_RoiExtractHoles3D(const FRAME* roi, bool show) {
  const wchar_t* name = L"VA_RoiExtractHoles3D";
  if (!isRoi(roi) || roi->dim.t != 1) {
    report(name, L"3D ROI is required", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"Extract holes", show);
  FRAME* out = newRoi3D(roi);
  if (!out) return nullptr;
  if (!holesInto(roi, 0, false, out, 0, progress)) {
    if (!progress.Stopped()) report(name, L"Not enough memory", show);
    PR_FrameDelete(&out);
  }
  return out;
}

bool VA_RoiFillHoles3D(FRAME* roi, bool show) {
  if (!isRoi(roi) || roi->dim.t != 1) {
    report(L"VA_RoiFillHoles3D", L"3D ROI is required", show);
    return false;
  }
  twk::ProgressGuard progress(L"Fill holes", show);
  return holesInto(roi, 0, false, roi, 0, progress);
}

bool VA_FillSliceContours(FRAME* roi, bool show) {
  if (!isRoi(roi)) {
    report(L"VA_FillSliceContours", L"ROI is required", show);
    return false;
  }
  twk::ProgressGuard progress(L"Fill contours", show);
  // Each time point is labelled whole before its holes are written, so filling in place is safe.
  for (int t = 0; t < roi->dim.t; ++t)
    if (!holesInto(roi, t, true, roi, t, progress) || !progress.Step(t + 1, roi->dim.t)) return false;
  return true;
}

namespace {

// Set voxels of one packed line (the padding bits are ignored).
int64_t lineCount(const uint8_t* bits, int64_t w) {
  int64_t n = 0;
  const int64_t full = w / 8;
  for (int64_t b = 0; b < full; ++b) n += std::popcount(unsigned(bits[b]));
  if (w % 8) n += std::popcount(unsigned(bits[full] & uint8_t(0xFF00u >> (w % 8))));
  return n;
}

}  // namespace

bool VA_RoiNumVox(const FRAME* roi, int t, int z, int64_t* count) {
  if (!isRoi(roi) || !count || t < -1 || t >= roi->dim.t || z < -1 || z >= roi->dim.d) return false;
  const int t0 = t < 0 ? 0 : t, t1 = t < 0 ? roi->dim.t - 1 : t;
  const int z0 = z < 0 ? 0 : z, z1 = z < 0 ? roi->dim.d - 1 : z;
  const int64_t h = roi->dim.h, slices = int64_t(z1 - z0 + 1);
  const int64_t lines = int64_t(t1 - t0 + 1) * slices * h;
  *count = tbb::parallel_reduce(
      tbb::blocked_range<int64_t>(0, lines, 256), int64_t(0),
      [&](const tbb::blocked_range<int64_t>& r, int64_t acc) {
        for (int64_t i = r.begin(); i < r.end(); ++i) {
          const int64_t y = i % h, s = i / h;
          acc += lineCount(twk::frameLine(roi, y, z0 + s % slices, t0 + s / slices), roi->dim.w);
        }
        return acc;
      },
      std::plus<int64_t>());
  return true;
}

bool VA_CheckRoiIsEmpty(bool show, const FRAME* roi, const int* t, int64_t* count, const wchar_t* name) {
  int64_t n = 0;
  const bool ok = isRoi(roi) && VA_RoiNumVox(roi, t ? *t : -1, -1, &n);
  if (count) *count = ok ? n : 0;
  const bool empty = !ok || n == 0;
  if (empty && show) twk::messageBox(name ? CString(name) + L" - ROI is empty" : CString(L"ROI is empty"));
  return empty;
}

RECT3D* VA_RoiBoundRect(const FRAME* roi) {
  if (!isRoi(roi)) return nullptr;
  RECT3D* boxes = static_cast<RECT3D*>(pf_malloc(int64_t(roi->dim.t) * int64_t(sizeof(RECT3D))));
  if (!boxes) return nullptr;
  bool any = false;
  for (int t = 0; t < roi->dim.t; ++t) {
    RECT3D b{INT32_MAX, INT32_MAX, INT32_MAX, -1, -1, -1};
    for (int z = 0; z < roi->dim.d; ++z)
      for (int y = 0; y < roi->dim.h; ++y) {
        const uint8_t* bits = twk::frameLine(roi, y, z, t);
        if (lineCount(bits, roi->dim.w) == 0) continue;
        int x0 = 0, x1 = roi->dim.w - 1;
        while (!twk::getBit(bits, x0)) ++x0;
        while (!twk::getBit(bits, x1)) --x1;
        b.x0 = std::min(b.x0, x0);
        b.x1 = std::max(b.x1, x1);
        b.y0 = std::min(b.y0, y);
        b.y1 = std::max(b.y1, y);
        b.z0 = std::min(b.z0, z);
        b.z1 = std::max(b.z1, z);
      }
    if (b.x1 < 0) b = RECT3D{-1, -1, -1, -1, -1, -1};
    else any = true;
    boxes[t] = b;
  }
  if (!any) pf_free(&boxes);
  return boxes;
}

bool VA_RoiGetMassCenter(const FRAME* roi, int t, DPOINT3D* centre) {
  if (!isRoi(roi) || !centre || t < 0 || t >= roi->dim.t) return false;
  struct Sum {
    double n = 0, x = 0, y = 0, z = 0;
  };
  const int64_t h = roi->dim.h, w = roi->dim.w;
  const Sum s = tbb::parallel_reduce(
      tbb::blocked_range<int64_t>(0, h * roi->dim.d, 64), Sum{},
      [&](const tbb::blocked_range<int64_t>& r, Sum acc) {
        for (int64_t i = r.begin(); i < r.end(); ++i) {
          const int64_t y = i % h, z = i / h;
          const uint8_t* bits = twk::frameLine(roi, y, z, t);
          int64_t n = 0, sx = 0;
          for (int64_t x = 0; x < w; ++x)
            if (twk::getBit(bits, x)) {
              ++n;
              sx += x;
            }
          acc.n += double(n);
          acc.x += double(sx);
          acc.y += double(n * y);
          acc.z += double(n * z);
        }
        return acc;
      },
      [](Sum a, const Sum& b) {
        a.n += b.n;
        a.x += b.x;
        a.y += b.y;
        a.z += b.z;
        return a;
      });
  if (s.n == 0) return false;
  *centre = DPOINT3D{s.x / s.n, s.y / s.n, s.z / s.n};
  return true;
}
