#include "roi/EdgeWaveRegions.h"
#include "roi/EdgeWaveLive.h"

#include <itkGradientMagnitudeRecursiveGaussianImageFilter.h>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <queue>
#include <vector>

#include "BoxHelpers.h"
#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/BiasField.h"
#include "filters/Filters.h"
#include "itk/ItkImageViews.h"
#include "roi/GeodesicFront.h"
#include "roi/MaskDistance.h"
#include "roi/RoiDistance.h"
#include "roi/RunComponents.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace {

// Volume-sized buffers are allocated without zeroing, so that their first touch (and the page
// faults it costs) happens in the parallel loops that fill them.
template <class T>
struct UninitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  UninitAllocator() = default;
  template <class U>
  UninitAllocator(const UninitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};
template <class T>
using Buffer = std::vector<T, UninitAllocator<T>>;
using Mask = Buffer<uint8_t>;
using Labels = Buffer<uint32_t>;
using Floats = Buffer<float>;

// A buffer of n values, every one set to value in parallel.
template <class T>
Buffer<T> filled(size_t n, T value) {
  Buffer<T> out(n);
  tbb::parallel_for(tbb::blocked_range<size_t>(0, n, 1 << 16), [&](const tbb::blocked_range<size_t>& r) {
    std::fill(out.begin() + ptrdiff_t(r.begin()), out.begin() + ptrdiff_t(r.end()), value);
  });
  return out;
}

// A copy made in parallel.
template <class T>
Buffer<T> copied(const Buffer<T>& in) {
  Buffer<T> out(in.size());
  tbb::parallel_for(tbb::blocked_range<size_t>(0, in.size(), 1 << 16), [&](const tbb::blocked_range<size_t>& r) {
    std::copy(in.begin() + ptrdiff_t(r.begin()), in.begin() + ptrdiff_t(r.end()), out.begin() + ptrdiff_t(r.begin()));
  });
  return out;
}
constexpr uint32_t kRejected = 0xFFFFFFFFu;  // the fronts of discarded components

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

int64_t voxelCount(const DIM3D& d) { return int64_t(d.w) * d.h * d.d; }

// Runs fn(z) for every slice in parallel.
template <class Fn>
void forSlices(int depth, Fn&& fn) {
  tbb::parallel_for(tbb::blocked_range<int>(0, depth), [&](const tbb::blocked_range<int>& r) {
    for (int z = r.begin(); z != r.end(); ++z) fn(z);
  });
}

// Time point t of a frame as floats (voids as NaN).
Floats signalOf(const FRAME* frame, int t) {
  const DIM3D& d = frame->dim;
  Floats out(size_t(voxelCount(d)));
  forSlices(d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const double v = twk::voxelValue(frame, x, y, z, t);
        out[(size_t(z) * d.h + y) * d.w + x] = v == VOID_VALUE ? std::numeric_limits<float>::quiet_NaN() : float(v);
      }
  });
  return out;
}

Mask maskOf(const FRAME* roi, int t) {
  const DIM3D& d = roi->dim;
  Mask out(size_t(voxelCount(d)));
  forSlices(d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y) {
      const uint8_t* line = twk::frameLine(roi, y, z, t);
      for (int x = 0; x < d.w; ++x) out[(size_t(z) * d.h + y) * d.w + x] = twk::getBit(line, x) ? 1 : 0;
    }
  });
  return out;
}

// A new one-time-point ROI frame of the voxels for which keep(index) holds.
template <class Keep>
FRAME* roiOf(const DIM3D& dim, Keep keep) {
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{dim.w, dim.h, dim.d, 1}, true);
  if (!roi) return nullptr;
  forSlices(dim.d, [&](int z) {
    for (int y = 0; y < dim.h; ++y) {
      uint8_t* line = twk::frameLine(roi, y, z, 0);
      for (int x = 0; x < dim.w; ++x)
        if (keep((int64_t(z) * dim.h + y) * dim.w + x)) twk::setBit(line, x, true);
    }
  });
  return roi;
}

FRAME* labelFrameOf(const DIM3D& dim, const Labels& labels) {
  FRAME* out = PR_FrameCreate(FRM_INT, 32, DIM3D{dim.w, dim.h, dim.d, 1}, true);
  if (!out) return nullptr;
  forSlices(dim.d, [&](int z) {
    for (int y = 0; y < dim.h; ++y) {
      uint32_t* line = reinterpret_cast<uint32_t*>(twk::frameLine(out, y, z, 0));
      for (int x = 0; x < dim.w; ++x) {
        const uint32_t l = labels[(size_t(z) * dim.h + y) * dim.w + x];
        line[x] = l == kRejected ? 0 : l;
      }
    }
  });
  return out;
}

// Gaussian smoothing of a float volume in place, sigma in voxels on every axis: a separable kernel
// of radius ceil(3 sigma), normalised, with the edge voxels repeated beyond the borders; lines
// and planes in parallel. Voids (NaN) spread to the voxels whose kernel holds them.
void smoothOf(Floats& values, const DIM3D& d, double sigmaVoxels) {
  const int radius = std::max(1, int(std::ceil(3.0 * sigmaVoxels)));
  std::vector<float> kernel(size_t(2 * radius + 1));
  double sum = 0;
  for (int k = -radius; k <= radius; ++k) sum += std::exp(-0.5 * k * k / (sigmaVoxels * sigmaVoxels));
  for (int k = -radius; k <= radius; ++k)
    kernel[size_t(k + radius)] = float(std::exp(-0.5 * k * k / (sigmaVoxels * sigmaVoxels)) / sum);
  const int64_t plane = int64_t(d.w) * d.h;
  // Rows of n values `stride` apart, each the weighted sum of the rows around it (rows of `width`
  // values are convolved at once, so that the inner loop runs along x).
  const auto convolve = [&](float* first, int n, int64_t stride, int width, std::vector<float>& copy) {
    copy.resize(size_t(n) * size_t(width));
    for (int i = 0; i < n; ++i) std::copy_n(first + i * stride, width, copy.data() + size_t(i) * width);
    for (int i = 0; i < n; ++i) {
      float* out = first + i * stride;
      std::fill_n(out, width, 0.f);
      for (int k = -radius; k <= radius; ++k) {
        const float wk = kernel[size_t(k + radius)];
        const float* in = copy.data() + size_t(std::clamp(i + k, 0, n - 1)) * width;
        for (int x = 0; x < width; ++x) out[x] += wk * in[x];
      }
    }
  };
  // x: every line on its own (rows of one value).
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(d.h) * d.d), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<float> copy;
    for (int64_t l = r.begin(); l != r.end(); ++l) convolve(values.data() + l * d.w, d.w, 1, 1, copy);
  });
  // y: the rows of every plane.
  tbb::parallel_for(tbb::blocked_range<int>(0, d.d), [&](const tbb::blocked_range<int>& r) {
    std::vector<float> copy;
    for (int z = r.begin(); z != r.end(); ++z) convolve(values.data() + z * plane, d.h, d.w, d.w, copy);
  });
  // z: the rows of each y across the planes.
  if (d.d > 1)
    tbb::parallel_for(tbb::blocked_range<int>(0, d.h), [&](const tbb::blocked_range<int>& r) {
      std::vector<float> copy;
      for (int y = r.begin(); y != r.end(); ++y) convolve(values.data() + int64_t(y) * d.w, d.d, plane, d.w, copy);
    });
}

// Gaussian smoothing (smooth) or gradient magnitude (gradient) of a float volume, sigma in voxels
// on each axis, on the true spacing.
bool gaussianOf(Floats& values, const DIM3D& dim, const SPC* spc, double sigmaVoxels, bool gradient,
                const wchar_t* name, bool show) {
  if (!gradient) {
    smoothOf(values, dim, sigmaVoxels);
    return true;
  }
  using namespace twk::itkv;
  capThreads();
  auto image = newImage<float>(DIM3D{dim.w, dim.h, dim.d, 1}, spc, false);
  std::copy(values.begin(), values.end(), image->GetBufferPointer());
  const double voxel = spc ? std::min({spc->x, spc->y, spc->z}) : 1.0;
  auto filter = itk::GradientMagnitudeRecursiveGaussianImageFilter<FloatImage, FloatImage>::New();
  filter->SetInput(image);
  filter->SetSigma(sigmaVoxels * voxel);
  if (!update(filter, name, show)) return false;
  std::copy_n(filter->GetOutput()->GetBufferPointer(), values.size(), values.begin());
  return true;
}

using twk::geo::Grid;

bool geodesicGrow(const Grid& g, Labels& labels, const Mask& pass, double reach, const twk::ProgressGuard& progress) {
  return twk::geo::grow(g, labels.data(), pass.data(), reach, progress);
}

// The kept components of a core mask carry their labels; discarded ones kRejected (competitive)
// or nothing. labelOf(component, runs) gives 0 to discard a component.
struct CoreComponents {
  twk::cc::RunLabels runs;
  bool ok = false;
};

CoreComponents componentsOf(const Mask& core, const DIM3D& dim, bool mode3D) {
  CoreComponents out;
  FRAME* roi = roiOf(dim, [&](int64_t i) { return core[size_t(i)] != 0; });
  if (!roi) return out;
  out.ok = twk::cc::labelRoi(roi, 0, 26, !mode3D, false, &out.runs);
  PR_FrameDelete(&roi);
  return out;
}

void paintComponents(const twk::cc::RunLabels& runs, const std::vector<uint32_t>& labelOfComponent, Labels& labels) {
  const DIM3D& d = runs.dim;
  forSlices(d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y) {
      const int64_t line = runs.lineOf(z, y);
      for (int64_t r = runs.lineStart[size_t(line)]; r < runs.lineStart[size_t(line) + 1]; ++r) {
        const uint32_t l = labelOfComponent[runs.label[size_t(r)]];
        const twk::cc::Run& run = runs.runs[size_t(r)];
        for (int x = run.x0; x <= run.x1; ++x) labels[(size_t(z) * d.h + y) * d.w + x] = l;
      }
    }
  });
}

// The component each seed box touches first (in seed order): seedOf[component] = seed + 1.
std::vector<uint32_t> seedOfComponents(const twk::cc::RunLabels& runs, const std::vector<RECT3D>& boxes) {
  std::vector<uint32_t> seedOf(size_t(runs.count), 0);
  for (size_t s = 0; s < boxes.size(); ++s) {
    const RECT3D& b = boxes[s];
    for (int z = b.z0; z <= b.z1; ++z)
      for (int y = b.y0; y <= b.y1; ++y) {
        const int64_t line = runs.lineOf(z, y);
        for (int64_t r = runs.lineStart[size_t(line)]; r < runs.lineStart[size_t(line) + 1]; ++r) {
          const twk::cc::Run& run = runs.runs[size_t(r)];
          uint32_t& owner = seedOf[runs.label[size_t(r)]];
          if (run.x1 >= b.x0 && run.x0 <= b.x1 && owner == 0) owner = uint32_t(s + 1);
        }
      }
  }
  return seedOf;
}

// The largest component of every slice of a per-slice labelling (the first on ties).
std::vector<int64_t> largestPerSlice(const twk::cc::RunLabels& runs) {
  std::vector<int64_t> best(size_t(runs.dim.d), -1);
  for (int z = 0; z < runs.dim.d; ++z)
    for (int y = 0; y < runs.dim.h; ++y) {
      const int64_t line = runs.lineOf(z, y);
      for (int64_t r = runs.lineStart[size_t(line)]; r < runs.lineStart[size_t(line) + 1]; ++r) {
        const int64_t c = runs.label[size_t(r)];
        int64_t& b = best[size_t(z)];
        if (b < 0 || runs.size[size_t(c)] > runs.size[size_t(b)] || (runs.size[size_t(c)] == runs.size[size_t(b)] && c < b))
          b = c;
      }
    }
  best.erase(std::remove(best.begin(), best.end(), int64_t(-1)), best.end());
  return best;
}

std::vector<RECT3D> voxelBoxes(const DRECT3D* seeds, int numSeeds, const DIM3D& dim) {
  std::vector<RECT3D> boxes;
  for (int i = 0; seeds && i < numSeeds; ++i) {
    RECT3D b;
    if (PR_DRect3DToRect3D(&seeds[i], &b, &dim)) boxes.push_back(b);
  }
  return boxes;
}

double meanOverBoxes(const Floats& values, const DIM3D& dim, const std::vector<RECT3D>& boxes,
                     double low = -1e300, double high = 1e300) {
  double sum = 0;
  int64_t n = 0;
  for (const RECT3D& b : boxes)
    for (int z = b.z0; z <= b.z1; ++z)
      for (int y = b.y0; y <= b.y1; ++y)
        for (int x = b.x0; x <= b.x1; ++x) {
          const float v = values[(size_t(z) * dim.h + y) * dim.w + x];
          if (v == v && v >= low && v <= high) {
            sum += v;
            ++n;
          }
        }
  return n ? sum / double(n) : VOID_VALUE;
}

// Local standard deviation in a 3x3 (in-plane) or 3x3x3 window.
Floats localDeviation(const Floats& values, const DIM3D& d, bool threeD) {
  Floats out = filled(values.size(), 0.f);
  forSlices(d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        double s = 0, s2 = 0;
        int n = 0;
        for (int dz = threeD ? -1 : 0; dz <= (threeD ? 1 : 0); ++dz)
          for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
              const int nx = x + dx, ny = y + dy, nz = z + dz;
              if (nx < 0 || ny < 0 || nz < 0 || nx >= d.w || ny >= d.h || nz >= d.d) continue;
              const float v = values[(size_t(nz) * d.h + ny) * d.w + nx];
              if (v != v) continue;
              s += v;
              s2 += double(v) * v;
              ++n;
            }
        const double var = n ? s2 / n - (s / n) * (s / n) : 0.0;
        out[(size_t(z) * d.h + y) * d.w + x] = float(std::sqrt(std::max(0.0, var)));
      }
  });
  return out;
}

// Edge voxels (1) of the signal; allowed gives the interior over which the automatic threshold is
// measured.
bool edgeMask(const Floats& signal, const DIM3D& d, const SPC* spc, const VA_URALEDGE& settings, bool thin,
              const Mask& allowed, Mask* edges, bool show) {
  Floats gradient = copied(signal);
  for (float& v : gradient)
    if (v != v) v = 0.f;
  Floats smooth;
  const double sigma = std::max(0.5, settings.lowRadius / 2.6);
  if (thin) smooth = gradient;
  if (!gaussianOf(gradient, d, spc, sigma, true, L"VA_EdgeWave", show)) return false;
  if (thin && !gaussianOf(smooth, d, spc, sigma, false, L"VA_EdgeWave", show)) return false;
  double threshold = settings.edgeThreshold;
  if (threshold <= 0) {
    double s = 0, s2 = 0;
    int64_t n = 0;
    const int64_t plane = int64_t(d.w) * d.h;
    // Voxels at least three voxels inside the allowed region on every axis: the gradient there
    // is noise, not the region's own boundary.
    auto deepInside = [&](int x, int y, int z) {
      for (int k = 1; k <= 3; ++k) {
        if (x - k < 0 || x + k >= d.w || y - k < 0 || y + k >= d.h) return false;
        const int64_t i = (int64_t(z) * d.h + y) * d.w + x;
        if (!allowed[size_t(i - k)] || !allowed[size_t(i + k)] || !allowed[size_t(i - k * d.w)] ||
            !allowed[size_t(i + k * d.w)])
          return false;
        if (d.d > 1) {
          if (z - k < 0 || z + k >= d.d || !allowed[size_t(i - k * plane)] || !allowed[size_t(i + k * plane)])
            return false;
        }
      }
      return true;
    };
    for (int64_t i = 0; i < int64_t(gradient.size()); ++i) {
      if (!allowed[size_t(i)]) continue;
      if (!deepInside(int(i % d.w), int((i / d.w) % d.h), int(i / plane))) continue;
      s += gradient[size_t(i)];
      s2 += double(gradient[size_t(i)]) * gradient[size_t(i)];
      ++n;
    }
    const double mean = n ? s / n : 0.0;
    threshold = mean + 4.0 * std::sqrt(std::max(0.0, n ? s2 / n - mean * mean : 0.0));
  }
  edges->assign(signal.size(), 0);
  const int64_t plane = int64_t(d.w) * d.h;
  forSlices(d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const int64_t i = (int64_t(z) * d.h + y) * d.w + x;
        const float g = gradient[size_t(i)];
        if (!(g > threshold)) continue;
        if (thin) {
          // The gradient's direction from the smoothed signal, rounded to a neighbour.
          auto at = [&](int xx, int yy, int zz) {
            xx = std::clamp(xx, 0, d.w - 1);
            yy = std::clamp(yy, 0, d.h - 1);
            zz = std::clamp(zz, 0, d.d - 1);
            return int64_t(zz) * plane + int64_t(yy) * d.w + xx;
          };
          const double gx = smooth[size_t(at(x + 1, y, z))] - smooth[size_t(at(x - 1, y, z))];
          const double gy = smooth[size_t(at(x, y + 1, z))] - smooth[size_t(at(x, y - 1, z))];
          const double gz = d.d > 1 ? smooth[size_t(at(x, y, z + 1))] - smooth[size_t(at(x, y, z - 1))] : 0.0;
          const double norm = std::sqrt(gx * gx + gy * gy + gz * gz);
          if (norm > 0) {
            const int sx = int(std::lround(gx / norm)), sy = int(std::lround(gy / norm)),
                      sz = int(std::lround(gz / norm));
            if (gradient[size_t(at(x + sx, y + sy, z + sz))] > g || gradient[size_t(at(x - sx, y - sy, z - sz))] > g)
              continue;
          }
        }
        (*edges)[size_t(i)] = 1;
      }
  });
  return true;
}

// Peels (positive) or dilates (negative) a mask by distance (units on spc, or voxels).
bool peelMask(Mask& mask, const DIM3D& dim, const SPC* spc, bool mode3D, double distance, bool show,
              float* scratch = nullptr) {
  if (twk::maskdist::peelOrGrow(mask.data(), dim, spc, mode3D, distance, scratch)) return true;
  report(L"VA_EdgeWave", L"Not enough memory", show);
  return false;
}

Grid gridOf(const DIM3D& dim, const SPC* spc, bool mode3D) {
  Grid g;
  g.dim = DIM3D{dim.w, dim.h, dim.d, 1};
  if (spc) {
    g.sx = spc->x;
    g.sy = spc->y;
    g.sz = spc->z;
  }
  g.mode3D = mode3D;
  return g;
}

bool validRecord(const VA_EW* record, const wchar_t* name, bool show) {
  if (record->connectedComponents < 0 || record->connectedComponents > 2) {
    report(name, L"Invalid connected components mode", show);
    return false;
  }
  if (!(record->siLow <= record->siHigh)) {
    report(name, L"Invalid signal intensity interval", show);
    return false;
  }
  return true;
}

// The signal EdgeWave as labels (voxels of discarded fronts kRejected); labelled: each seed's
// components carry their own label. False on failure or Esc.
bool signalEdgeWave(const VA_EW* record, const FRAME* frame, int t, const SPC* spc, const DRECT3D* seeds,
                    int numSeeds, const RECT3D* limit, bool labelled, bool show, Labels& labels) {
  const wchar_t* name = L"VA_EdgeWave";
  if (!record || !frame || !frame->data || frame->type == FRM_ROI || t < 0 || t >= frame->dim.t) {
    report(name, L"Invalid parameters", show);
    return false;
  }
  if (!validRecord(record, name, show)) return false;
  const DIM3D dim{frame->dim.w, frame->dim.h, frame->dim.d, 1};
  const bool relative = record->siUnits == 1;
  const std::vector<RECT3D> boxes = relative ? voxelBoxes(seeds, numSeeds, dim) : std::vector<RECT3D>{};
  if (relative && boxes.empty()) {
    report(name, L"At least one seed is expected", show);
    return false;
  }
  twk::ProgressGuard progress(L"EdgeWave", show);
  const SPC* distanceSpc = record->distanceUnits == 1 ? spc : nullptr;
  const bool mode3D = record->mode3D != 0;

  Floats signal = signalOf(frame, t);
  if (record->gaussianDownscale && !gaussianOf(signal, dim, spc, 1.0, false, name, show)) return false;
  double low = record->siLow, high = record->siHigh;
  if (relative) {
    const double average = meanOverBoxes(signal, dim, boxes);
    if (average == VOID_VALUE) {
      report(name, L"Invalid Seed-Volume combination", show);
      return false;
    }
    low *= average;
    high *= average;
    if (low > high) std::swap(low, high);
  }
  RECT3D box{0, 0, 0, dim.w - 1, dim.h - 1, dim.d - 1};
  if (limit) {
    box.x0 = std::max(box.x0, limit->x0);
    box.y0 = std::max(box.y0, limit->y0);
    box.z0 = std::max(box.z0, limit->z0);
    box.x1 = std::min(box.x1, limit->x1);
    box.y1 = std::min(box.y1, limit->y1);
    box.z1 = std::min(box.z1, limit->z1);
  }
  // pass: the allowed region, then its edge voxels marked 2 (reached, not passed).
  Mask pass = filled(signal.size(), uint8_t(0));
  forSlices(dim.d, [&](int z) {
    if (z < box.z0 || z > box.z1) return;
    for (int y = box.y0; y <= box.y1; ++y)
      for (int x = box.x0; x <= box.x1; ++x) {
        const size_t i = (size_t(z) * dim.h + y) * dim.w + x;
        pass[i] = signal[i] >= low && signal[i] <= high ? 1 : 0;
      }
  });
  if (relative && record->textureSimilarity > 0) {
    const Floats deviation = localDeviation(signal, dim, record->textureSimilarity == 2);
    const double seedDeviation = meanOverBoxes(deviation, dim, boxes);
    const double cap = 2.0 * seedDeviation;
    for (size_t i = 0; i < pass.size(); ++i)
      if (pass[i] && deviation[i] > cap) pass[i] = 0;
  }
  if (!progress.Poll()) return false;

  Mask core = copied(pass);
  if (record->useEdges) {
    Mask edges;
    if (!edgeMask(signal, dim, spc, record->edge, record->thinEdge != 0, pass, &edges, show)) return false;
    for (size_t i = 0; i < pass.size(); ++i)
      if (pass[i] && edges[i]) {
        pass[i] = 2;
        if (!record->strictCoreSurface) core[i] = 0;
      }
  }
  // The signal is not needed any more: its floats are the peel's scratch.
  if (!peelMask(core, dim, distanceSpc, mode3D, record->peel, show, signal.data())) return false;
  signal = Floats();
  if (!progress.Poll()) return false;

  CoreComponents cc = componentsOf(core, dim, mode3D);
  if (!cc.ok) {
    report(name, L"Not enough memory", show);
    return false;
  }
  const int64_t count = cc.runs.count;
  const bool competitive = record->competitiveGrowth != 0;
  std::vector<uint32_t> labelOf(size_t(count), competitive ? kRejected : 0);
  int mode = record->connectedComponents;
  if (mode == 2 && boxes.empty()) mode = 0;
  if (mode == 0 && !mode3D) {
    for (const int64_t c : largestPerSlice(cc.runs)) labelOf[size_t(c)] = 1;
  } else if (mode == 0) {
    const int64_t best = twk::cc::largestComponent(cc.runs);
    if (best >= 0) labelOf[size_t(best)] = 1;
  } else if (mode == 1) {
    std::fill(labelOf.begin(), labelOf.end(), 1u);
  } else {
    const std::vector<uint32_t> seedOf = seedOfComponents(cc.runs, boxes);
    for (int64_t c = 0; c < count; ++c)
      if (seedOf[size_t(c)]) labelOf[size_t(c)] = labelled ? seedOf[size_t(c)] : 1u;
  }
  labels = filled(core.size(), 0u);
  paintComponents(cc.runs, labelOf, labels);
  // A dilated core may stand outside the allowed region: its voxels stay passable for its own front.
  forSlices(dim.d, [&](int z) {
    const size_t first = size_t(z) * dim.h * dim.w, last = first + size_t(dim.h) * dim.w;
    for (size_t i = first; i < last; ++i)
      if (labels[i] && !pass[i]) pass[i] = 1;
  });
  const double reach = std::max(0.0, record->peel) + std::max(0.0, record->grow);
  if (!geodesicGrow(gridOf(dim, distanceSpc, mode3D), labels, pass, reach, progress)) return false;
  return true;
}

}  // namespace

FRAME* VA_EdgeWaveLabels(const VA_EW* record, const FRAME* frame, int t, const SPC* spc, const DRECT3D* seeds,
                         int numSeeds, const RECT3D* limit, bool show) {
  Labels labels;
  if (!signalEdgeWave(record, frame, t, spc, seeds, numSeeds, limit, true, show, labels)) return nullptr;
  return labelFrameOf(DIM3D{frame->dim.w, frame->dim.h, frame->dim.d, 1}, labels);
}

FRAME* VA_EdgeWaveSignal(const VA_EW* record, const FRAME* frame, int t, const SPC* spc, const DRECT3D* seeds,
                         int numSeeds, const RECT3D* limit, bool show) {
  Labels labels;
  if (!signalEdgeWave(record, frame, t, spc, seeds, numSeeds, limit, false, show, labels)) return nullptr;
  return roiOf(DIM3D{frame->dim.w, frame->dim.h, frame->dim.d, 1},
               [&](int64_t i) { return labels[size_t(i)] != 0 && labels[size_t(i)] != kRejected; });
}

bool VA_VolAverageOverSeeds(const FRAME* frame, int t, const DRECT3D* seeds, int numSeeds, double low, double high,
                            double* average) {
  if (!frame || !frame->data || !average || t < 0 || t >= frame->dim.t || numSeeds < 0 || (numSeeds && !seeds))
    return false;
  const DIM3D dim{frame->dim.w, frame->dim.h, frame->dim.d, 1};
  double sum = 0;
  int64_t n = 0;
  for (const RECT3D& b : voxelBoxes(seeds, numSeeds, dim))
    for (int z = b.z0; z <= b.z1; ++z)
      for (int y = b.y0; y <= b.y1; ++y)
        for (int x = b.x0; x <= b.x1; ++x) {
          const double v = twk::voxelValue(frame, x, y, z, t);
          if (v != VOID_VALUE && v >= low && v <= high) {
            sum += v;
            ++n;
          }
        }
  *average = n ? sum / double(n) : VOID_VALUE;
  return true;
}

FRAME* VA_EdgeWaveML(const FRAME* const* rois, const SPC* spc, int count, int units, double peel, bool boundaryOnly,
                     bool show) {
  const wchar_t* name = L"VA_EdgeWaveML";
  if (!rois || count < 2) {
    report(name, L"At least two ROIs are expected", show);
    return nullptr;
  }
  const DIM3D dim{rois[0] ? rois[0]->dim.w : 0, rois[0] ? rois[0]->dim.h : 0, rois[0] ? rois[0]->dim.d : 0, 1};
  for (int i = 0; i < count; ++i)
    if (!rois[i] || rois[i]->type != FRM_ROI || !rois[i]->data || rois[i]->dim.w != dim.w ||
        rois[i]->dim.h != dim.h || rois[i]->dim.d != dim.d) {
      report(name, L"ROIs of the same size are expected", show);
      return nullptr;
    }
  twk::ProgressGuard progress(L"EdgeWave MultiLabel", show);
  const size_t n = size_t(voxelCount(dim));
  std::vector<uint16_t> holders(n, 0);
  Labels owner(n, 0);
  std::vector<Mask> masks;
  for (int i = 0; i < count; ++i) {
    masks.push_back(maskOf(rois[i], 0));
    for (size_t v = 0; v < n; ++v)
      if (masks.back()[v]) {
        ++holders[v];
        owner[v] = uint32_t(i + 1);
      }
  }
  const SPC* distanceSpc = units == 1 ? spc : nullptr;
  Labels labels(n, 0);
  for (int i = 0; i < count; ++i) {
    Mask core(n, 0);
    for (size_t v = 0; v < n; ++v) core[v] = masks[size_t(i)][v] && holders[v] == 1 ? 1 : 0;
    if (!boundaryOnly && !peelMask(core, dim, distanceSpc, true, peel, show)) return nullptr;
    for (size_t v = 0; v < n; ++v)
      if (core[v]) labels[v] = uint32_t(i + 1);
    if (!progress.Poll()) return nullptr;
  }
  Mask pass(n, 0);
  for (size_t v = 0; v < n; ++v) pass[v] = holders[v] ? 1 : 0;
  if (!geodesicGrow(gridOf(dim, distanceSpc, true), labels, pass, std::numeric_limits<double>::max(), progress))
    return nullptr;
  // Union voxels no front reached (cut off from every core) keep their last holder.
  for (size_t v = 0; v < n; ++v)
    if (holders[v] && !labels[v]) labels[v] = owner[v];
  return labelFrameOf(dim, labels);
}

FRAME** VA_LabelMapToRoiArr(const FRAME* labels, int count, bool show) {
  if (!labels || !labels->data || labels->type == FRM_ROI || count < 1) {
    report(L"VA_LabelMapToRoiArr", L"Invalid parameters", show);
    return nullptr;
  }
  FRAME** out = static_cast<FRAME**>(pf_calloc(int64_t(count) * int64_t(sizeof(FRAME*))));
  if (!out) return nullptr;
  const DIM3D dim{labels->dim.w, labels->dim.h, labels->dim.d, 1};
  const Floats values = signalOf(labels, 0);
  for (int k = 0; k < count; ++k) {
    const float label = float(k + 1);
    out[k] = roiOf(dim, [&](int64_t i) { return std::nearbyint(values[size_t(i)]) == label; });
    if (!out[k]) {
      PR_FrameArrDelete(&out, count);
      return nullptr;
    }
  }
  return out;
}

FRAME** VA_RoiEdgeWaveMultiMaxCC(const VA_EW* record, const FRAME* roi, const SPC* spc, int n, int* count, bool show) {
  const wchar_t* name = L"VA_RoiEdgeWaveMultiMaxCC";
  if (count) *count = 0;
  if (!record || !roi || roi->type != FRM_ROI || !roi->data || n < 1 || !count) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"EdgeWave components", show);
  const DIM3D dim{roi->dim.w, roi->dim.h, roi->dim.d, 1};
  const bool mode3D = record->mode3D != 0;
  const SPC* distanceSpc = record->distanceUnits == 1 ? spc : nullptr;
  const Mask region = maskOf(roi, 0);
  Mask core = region;
  if (!peelMask(core, dim, distanceSpc, mode3D, record->peel, show)) return nullptr;
  CoreComponents cc = componentsOf(core, dim, mode3D);
  if (!cc.ok) return nullptr;
  std::vector<int64_t> order(size_t(cc.runs.count));
  for (size_t i = 0; i < order.size(); ++i) order[i] = int64_t(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int64_t a, int64_t b) { return cc.runs.size[size_t(a)] > cc.runs.size[size_t(b)]; });
  const int kept = int(std::min<int64_t>(n, cc.runs.count));
  if (kept == 0) {
    report(name, L"ROI is empty", show);
    return nullptr;
  }
  std::vector<uint32_t> labelOf(size_t(cc.runs.count), kRejected);
  for (int k = 0; k < kept; ++k) labelOf[size_t(order[size_t(k)])] = uint32_t(k + 1);
  Labels labels(region.size(), 0);
  paintComponents(cc.runs, labelOf, labels);
  for (size_t i = 0; i < labels.size(); ++i)
    if (labels[i] && !region[i]) labels[i] = 0;
  const double reach = std::max(0.0, record->peel) + std::max(0.0, record->grow);
  if (!geodesicGrow(gridOf(dim, distanceSpc, mode3D), labels, region, reach, progress)) return nullptr;
  FRAME* map = labelFrameOf(dim, labels);
  if (!map) return nullptr;
  FRAME** out = VA_LabelMapToRoiArr(map, kept, show);
  PR_FrameDelete(&map);
  if (out) *count = kept;
  return out;
}

FRAME* VA_VolEdgeWave(const CVol* vol, const VA_EW* record, const DRECT3D* seeds, int numSeeds, bool eachTimePoint,
                      int t, bool show) {
  const FRAME* frame = vol ? vol->frame : nullptr;
  if (!frame || t < 0 || t >= frame->dim.t) {
    report(L"VA_VolEdgeWave", L"Invalid time point", show);
    return nullptr;
  }
  if (!eachTimePoint || frame->dim.t == 1) {
    if (frame->type == FRM_ROI) {
      FRAME* one = VA_VolCropTimepoint(frame, t, show);
      FRAME* result = one ? VA_EdgeWave(record, one, &vol->spc, seeds, numSeeds, nullptr, nullptr, show) : nullptr;
      PR_FrameDelete(&one);
      return result;
    }
    return VA_EdgeWaveSignal(record, frame, t, &vol->spc, seeds, numSeeds, nullptr, show);
  }
  // Every time point on its own (its own seed average), stacked into one 4D ROI.
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, frame->dim, true);
  if (!out) return nullptr;
  twk::ProgressGuard progress(L"EdgeWave", show);
  for (int k = 0; k < frame->dim.t; ++k) {
    FRAME* one = frame->type == FRM_ROI ? VA_VolCropTimepoint(frame, k, show) : nullptr;
    FRAME* result = frame->type == FRM_ROI
                        ? (one ? VA_EdgeWave(record, one, &vol->spc, seeds, numSeeds, nullptr, nullptr, show) : nullptr)
                        : VA_EdgeWaveSignal(record, frame, k, &vol->spc, seeds, numSeeds, nullptr, show);
    PR_FrameDelete(&one);
    if (!result || !progress.Step(k + 1, frame->dim.t)) {
      PR_FrameDelete(&result);
      PR_FrameDelete(&out);
      return nullptr;
    }
    const size_t bytes = size_t(out->lineBytes) * size_t(out->dim.h) * size_t(out->dim.d);
    std::memcpy(out->data + bytes * size_t(k), result->data, bytes);
    PR_FrameDelete(&result);
  }
  return out;
}

// --- EdgeWave Live ---

void VA_EWLCacheFree(VA_EWLCACHE* cache) {
  if (!cache) return;
  PR_FrameDelete(&cache->values);
  *cache = VA_EWLCACHE{};
}

double* VA_EdgeStrengthMap(const VA_URALEDGE* edge, const FRAME* volume, int t, const FRAME* blanket, double* maximum,
                           bool show) {
  const wchar_t* name = L"VA_EdgeStrengthMap";
  if (!edge || !volume || !volume->data || volume->type == FRM_ROI || t < 0 || t >= volume->dim.t ||
      (blanket && (blanket->type != FRM_ROI || blanket->dim.w != volume->dim.w || blanket->dim.h != volume->dim.h ||
                   blanket->dim.d != volume->dim.d))) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  VA_URALGRAD grad;
  grad.metric = edge->distanceMetric;
  grad.weights = edge->voxelWeights;
  grad.magnitude = 0;
  grad.lowRadius = edge->lowRadius;
  grad.highRadius = std::max(edge->lowRadius, edge->highRadius);
  FRAME* magnitude = nullptr;
  if (!VA_DetectGrad3D(&grad, volume, t, nullptr, nullptr, nullptr, nullptr, &magnitude, show) || !magnitude) {
    PR_FrameDelete(&magnitude);
    return nullptr;
  }
  const DIM3D& d = volume->dim;
  const int64_t n = voxelCount(d);
  auto* out = static_cast<double*>(pf_calloc(n * int64_t(sizeof(double))));
  if (!out) {
    PR_FrameDelete(&magnitude);
    report(name, L"Not enough memory", show);
    return nullptr;
  }
  const Mask inside = blanket ? maskOf(blanket, 0) : Mask(size_t(n), 1);
  const double* m = reinterpret_cast<const double*>(magnitude->data);
  double top = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (!inside[size_t(i)] || !(m[i] > 0) || m[i] == VOID_VALUE) continue;
    out[i] = m[i];
    top = std::max(top, m[i]);
  }
  PR_FrameDelete(&magnitude);
  if (maximum) *maximum = top;
  return out;
}

namespace {

// The cache's values of time point t of volume, computed (plain or N3-corrected) when the cache
// holds another frame's.
const FRAME* liveValues(const VA_EWL* record, const FRAME* volume, int t, const SPC* spc, VA_EWLCACHE* cache,
                        FRAME** owned, bool show) {
  if (cache && cache->values && cache->source == volume && cache->t == t) return cache->values;
  FRAME* values = nullptr;
  if (record->correctNonuniformity) {
    values = VA_N3padded(volume, nullptr, spc, t, &record->n3, show);
  } else {
    const Floats v = signalOf(volume, t);
    values = PR_FrameCreate(FRM_REAL, 64, DIM3D{volume->dim.w, volume->dim.h, volume->dim.d, 1}, false);
    if (values) {
      double* p = reinterpret_cast<double*>(values->data);
      for (size_t i = 0; i < v.size(); ++i) p[i] = v[i] == v[i] ? double(v[i]) : VOID_VALUE;
    }
  }
  if (!values) return nullptr;
  if (!cache) return *owned = values;
  VA_EWLCacheFree(cache);
  cache->values = values;
  cache->source = volume;
  cache->t = t;
  return values;
}

}  // namespace

FRAME* VA_EdgeWaveLive(const VA_EWL* record, int t, const DRECT3D* seed, const FRAME* volume, const DIM3D* dims,
                       const SPC* spc, const FRAME* blanket, VA_EWLCACHE* cache, const double* edgeMap, bool show) {
  const wchar_t* name = L"VA_EdgeWaveLive";
  if (!record || !seed || !volume || !volume->data || volume->type == FRM_ROI || !dims || t < 0 ||
      t >= volume->dim.t || dims->w != volume->dim.w || dims->h != volume->dim.h || dims->d != volume->dim.d ||
      (blanket && (blanket->type != FRM_ROI || blanket->dim.w != dims->w || blanket->dim.h != dims->h ||
                   blanket->dim.d != dims->d))) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  if (record->useSiLow && record->useSiHigh && !(record->siLow <= record->siHigh)) {
    report(name, L"Invalid signal intensity interval", show);
    return nullptr;
  }
  if (!(record->peel >= 0) || !(record->growFactor >= 0)) {
    report(name, L"Peel and grow should not be negative", show);
    return nullptr;
  }
  const DIM3D dim{dims->w, dims->h, dims->d, 1};
  const std::vector<RECT3D> boxes = voxelBoxes(seed, 1, dim);
  if (boxes.empty()) {
    report(name, L"The seed lies outside the volume", show);
    return nullptr;
  }
  FRAME* owned = nullptr;
  const FRAME* valuesFrame = liveValues(record, volume, t, spc, cache, &owned, show);
  if (!valuesFrame) return nullptr;
  const int64_t n = voxelCount(dim);
  const double* values = reinterpret_cast<const double*>(valuesFrame->data);
  const Mask inside = blanket ? maskOf(blanket, 0) : Mask(size_t(n), 1);

  // The seed average over the box's blanket voxels (the whole box when none is in the blanket).
  double average = VOID_VALUE;
  for (int pass = 0; pass < 2 && average == VOID_VALUE; ++pass) {
    double sum = 0;
    int64_t count = 0;
    const RECT3D& b = boxes[0];
    for (int z = b.z0; z <= b.z1; ++z)
      for (int y = b.y0; y <= b.y1; ++y)
        for (int x = b.x0; x <= b.x1; ++x) {
          const int64_t i = (int64_t(z) * dim.h + y) * dim.w + x;
          if (values[i] == VOID_VALUE || (pass == 0 && !inside[size_t(i)])) continue;
          sum += values[i];
          ++count;
        }
    if (count) average = sum / double(count);
  }
  if (average == VOID_VALUE) {
    PR_FrameDelete(&owned);
    report(name, L"Invalid Seed-Volume combination", show);
    return nullptr;
  }
  double low = record->siLow * average, high = record->siHigh * average;
  if (low > high) std::swap(low, high);
  const double edgeThreshold = record->edge.edgeThreshold;
  const bool edges = record->useEdges && edgeMap;
  Mask pass(size_t(n), 0), core(size_t(n), 0);
  forSlices(dim.d, [&](int z) {
    for (int64_t i = int64_t(z) * dim.w * dim.h; i < int64_t(z + 1) * dim.w * dim.h; ++i) {
      const double v = values[i];
      if (!inside[size_t(i)] || v == VOID_VALUE) continue;
      if ((record->useSiLow && v < low) || (record->useSiHigh && v > high)) continue;
      const bool edge = edges && edgeMap[i] > edgeThreshold;
      pass[size_t(i)] = edge ? 2 : 1;
      core[size_t(i)] = edge ? 0 : 1;
    }
  });
  PR_FrameDelete(&owned);
  const double peel = record->peelAndGrow ? record->peel : 0.0;
  if (peel > 0 && !peelMask(core, dim, spc, true, peel, show)) return nullptr;
  CoreComponents cc = componentsOf(core, dim, true);
  if (!cc.ok) {
    report(name, L"Not enough memory", show);
    return nullptr;
  }
  const std::vector<uint32_t> seedOf = seedOfComponents(cc.runs, boxes);
  std::vector<uint32_t> labelOf(seedOf.size(), 0);
  for (size_t c = 0; c < seedOf.size(); ++c) labelOf[c] = seedOf[c] ? 1u : 0u;
  Labels labels(size_t(n), 0);
  paintComponents(cc.runs, labelOf, labels);
  const double reach = record->peelAndGrow ? peel * (1.0 + record->growFactor) : 0.0;
  twk::ProgressGuard progress(L"EdgeWave", false);
  if (!geodesicGrow(gridOf(dim, spc, true), labels, pass, reach, progress)) return nullptr;
  FRAME* out = roiOf(dim, [&](int64_t i) { return labels[size_t(i)] != 0; });
  if (!out) report(name, L"Not enough memory", show);
  return out;
}
