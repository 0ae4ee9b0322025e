#include "roi/NoduleVolume.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_reduce.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "volops/VoxelLines.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// What one pass over the measured voxels gathers.
struct Sums {
  double fraction = 0, solid = 0, x = 0, y = 0, z = 0;
  int64_t pure = 0, partial = 0;
  void add(const Sums& o) {
    fraction += o.fraction;
    solid += o.solid;
    x += o.x;
    y += o.y;
    z += o.z;
    pure += o.pure;
    partial += o.partial;
  }
};

struct Measurement {
  Sums sums;
  double reference = 0, pureAttenuation = 0, volume = 0, radius = 0;
  bool solidNodule = false;
};

// The measured voxels: inside the ROI (time point 0), inside the region when given, and inside the
// sphere when its radius is positive.
struct Selection {
  const FRAME* roi;
  const FRAME* region;
  DPOINT3D centre;
  double radius;  // mm; 0: no sphere
  SPC spacing;
  bool contains(int64_t x, int64_t y, int64_t z) const {
    if (!twk::getBit(twk::frameLine(roi, y, z, 0), x)) return false;
    if (region && !twk::getBit(twk::frameLine(region, y, z, 0), x)) return false;
    if (radius <= 0) return true;
    const double dx = (x - centre.x) * spacing.x, dy = (y - centre.y) * spacing.y, dz = (z - centre.z) * spacing.z;
    return dx * dx + dy * dy + dz * dz <= radius * radius;
  }
};

template <typename Visit>
void forSelected(const FRAME* frame, const Selection& s, Visit visit) {
  const int64_t h = frame->dim.h;
  std::vector<double> line;
  for (int64_t i = 0; i < h * frame->dim.d; ++i) {
    const int64_t y = i % h, z = i / h;
    twk::lineToDoubles(frame, y, z, 0, line);
    for (int64_t x = 0; x < frame->dim.w; ++x)
      if (s.contains(x, y, z)) visit(x, y, z, line[size_t(x)]);
  }
}

bool measure(const FRAME* frame, const Selection& s, const VA_VOLNODEPARM& p, double voxelVolume, Measurement* m) {
  const double bg = p.background;
  // The pure attenuation: the brightest purePercent % of the voxels that are at least half
  // ground glass (the faint tail of a blurred border does not dilute it).
  const double half = 0.5 * (bg + p.groundGlass);
  std::vector<double> above;
  forSelected(frame, s, [&](int64_t, int64_t, int64_t, double v) {
    if (v != VOID_VALUE && v == v && v >= half) above.push_back(v);
  });
  if (above.empty()) return false;
  const size_t top = std::max<size_t>(1, size_t(std::ceil(above.size() * std::clamp(p.purePercent, 0.0, 100.0) / 100.0)));
  std::nth_element(above.begin(), above.end() - int64_t(top), above.end());
  double pure = 0;
  for (size_t i = above.size() - top; i < above.size(); ++i) pure += above[i];
  m->pureAttenuation = pure / double(top);
  m->solidNodule = m->pureAttenuation >= p.threshold;
  m->reference = m->solidNodule ? p.solid : p.groundGlass;

  const int64_t h = frame->dim.h, lines = h * frame->dim.d;
  m->sums = tbb::parallel_reduce(
      tbb::blocked_range<int64_t>(0, lines, 16), Sums{},
      [&](const tbb::blocked_range<int64_t>& r, Sums acc) {
        std::vector<double> line;
        for (int64_t i = r.begin(); i < r.end(); ++i) {
          const int64_t y = i % h, z = i / h;
          twk::lineToDoubles(frame, y, z, 0, line);
          for (int64_t x = 0; x < frame->dim.w; ++x) {
            const double v = line[size_t(x)];
            if (v == VOID_VALUE || v != v || !s.contains(x, y, z)) continue;
            double f = std::clamp((v - bg) / (m->reference - bg), 0.0, 1.0);
            if (f < p.lowClamp && s.radius <= 0) f = 0;
            else if (f > p.highClamp) f = 1;
            if (f <= 0) continue;
            acc.fraction += f;
            acc.x += f * double(x);
            acc.y += f * double(y);
            acc.z += f * double(z);
            (f >= 1 ? acc.pure : acc.partial) += 1;
            if (v >= p.threshold) acc.solid += std::clamp((v - bg) / (p.solid - bg), 0.0, 1.0);
          }
        }
        return acc;
      },
      [](Sums a, const Sums& b) {
        a.add(b);
        return a;
      });
  if (m->sums.fraction <= 0) return false;
  m->volume = m->sums.fraction * voxelVolume;
  m->radius = std::cbrt(3.0 * m->volume / (4.0 * kPi));
  return true;
}

bool checkArguments(const wchar_t* name, const FRAME* frame, const DIM3D* dims, const SPC* spacing, const FRAME* roi,
                    const VA_VOLNODEPARM* p, const FRAME* region) {
  auto fits = [&](const FRAME* r) {
    return r && r->data && r->type == FRM_ROI && r->dim.w == frame->dim.w && r->dim.h == frame->dim.h &&
           r->dim.d == frame->dim.d && r->dim.t >= 1;
  };
  if (!frame || !frame->data || !spacing || !p || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid ||
      frame->type == FRM_ROI || frame->dim.t != 1 || (dims && (dims->w != frame->dim.w || dims->h != frame->dim.h ||
                                                               dims->d != frame->dim.d)) ||
      !fits(roi) || (region && !fits(region)) || !(spacing->x > 0 && spacing->y > 0 && spacing->z > 0)) {
    twk::showNamedError(name, L"Invalid volume or ROI");
    return false;
  }
  if (!(p->groundGlass > p->background && p->solid > p->background && p->lowClamp <= p->highClamp)) {
    twk::showNamedError(name, L"Nodule attenuations must lie above the background attenuation");
    return false;
  }
  return true;
}

void describe(const Measurement& m, double voxelVolume, CString* report, CString* clipboard) {
  const double diameter = 2 * m.radius, solid = m.sums.solid * voxelVolume;
  if (report) {
    *report += FmtStr(L"Nodule type\t%s\n", m.solidNodule ? L"solid" : L"ground glass");
    *report += FmtStr(L"Pure attenuation\t%.1lf\n", m.pureAttenuation);
    *report += FmtStr(L"Volume (mm3)\t%.2lf\n", m.volume);
    *report += FmtStr(L"Equivalent diameter (mm)\t%.2lf\n", diameter);
    *report += FmtStr(L"Solid component (mm3)\t%.2lf\n", solid);
    *report += FmtStr(L"Pure voxels\t%I64d\nPartial voxels\t%I64d\n", m.sums.pure, m.sums.partial);
  }
  if (clipboard)
    *clipboard = FmtStr(L"Volume (mm3)\tEquivalent diameter (mm)\tSolid component (mm3)\n%.3lf\t%.3lf\t%.3lf\n",
                        m.volume, diameter, solid);
}

}  // namespace

bool VA_VolNod_Basic(const FRAME* frame, const DIM3D* dims, const SPC* spacing, const FRAME* roi,
                     const VA_VOLNODEPARM* parms, const FRAME* region, CString* report, CString* clipboard) {
  const wchar_t* name = L"VA_VolNod_Basic";
  if (!checkArguments(name, frame, dims, spacing, roi, parms, region)) return false;
  const double voxelVolume = spacing->x * spacing->y * spacing->z;
  Measurement m;
  if (!measure(frame, Selection{roi, region, {}, 0, *spacing}, *parms, voxelVolume, &m)) {
    twk::showNamedError(name, L"No nodule voxels in the ROI");
    return false;
  }
  if (report) *report = L"Method\tbasic partial volume\n";
  describe(m, voxelVolume, report, clipboard);
  return true;
}

bool VA_VolNod_MatchDeltaR(const FRAME* frame, const DIM3D* dims, const SPC* spacing, const FRAME* roi,
                           const VA_VOLNODEPARM* parms, CString* report, CString* clipboard) {
  const wchar_t* name = L"VA_VolNod_MatchDeltaR";
  if (!checkArguments(name, frame, dims, spacing, roi, parms, nullptr)) return false;
  const double voxelVolume = spacing->x * spacing->y * spacing->z;
  Measurement m;
  if (!measure(frame, Selection{roi, nullptr, {}, 0, *spacing}, *parms, voxelVolume, &m)) {
    twk::showNamedError(name, L"No nodule voxels in the ROI");
    return false;
  }
  int iterations = 0;
  double sphere = 0;
  for (; iterations < 50; ++iterations) {
    const DPOINT3D centre{m.sums.x / m.sums.fraction, m.sums.y / m.sums.fraction, m.sums.z / m.sums.fraction};
    sphere = m.radius + std::max(0.0, parms->targetDeltaR);
    Measurement next;
    if (!measure(frame, Selection{roi, nullptr, centre, sphere, *spacing}, *parms, voxelVolume, &next)) break;
    const double change = std::fabs(next.radius - m.radius);
    m = next;
    if (change < 0.01) {
      ++iterations;
      break;
    }
  }
  if (report) {
    *report = L"Method\tpartial volume, DeltaR matched\n";
    *report += FmtStr(L"Iterations\t%d\nMeasured radius (mm)\t%.2lf\n", iterations, sphere);
  }
  describe(m, voxelVolume, report, clipboard);
  return true;
}
