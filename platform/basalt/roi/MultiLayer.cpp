#include "roi/MultiLayer.h"

#include <itkConnectedComponentImageFilter.h>
#include <itkHMaximaImageFilter.h>
#include <itkMorphologicalWatershedFromMarkersImageFilter.h>
#include <itkRegionalMaximaImageFilter.h>
#include <itkRelabelComponentImageFilter.h>
#include <itkSignedMaurerDistanceMapImageFilter.h>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/enumerable_thread_specific.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_reduce.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "itk/ItkImageViews.h"
#include "volops/VoxelLines.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::itkv;

namespace {

constexpr int kMaxJointBins = 4096;

bool sameGrid(const FRAME* a, const FRAME* b) {
  return a->dim.w == b->dim.w && a->dim.h == b->dim.h && a->dim.d == b->dim.d;
}
bool isVolume(const FRAME* f) { return f && f->data && (f->type == FRM_INT || f->type == FRM_REAL); }
bool isDefined(double v) { return v != VOID_VALUE && v == v; }

void fail(bool show, const wchar_t* name, const wchar_t* text) {
  if (show) twk::showNamedError(name, text);
}

// Runs body(y, z, lines) over every line of a w x h x d grid in parallel; lines is a scratch
// vector per chunk.
template <class Body>
void forEachLine(const DIM3D& dims, Body&& body) {
  const int64_t lines = int64_t(dims.h) * dims.d;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 16), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) body(i % dims.h, i / dims.h);
  });
}

struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  void join(const Range& o) {
    lo = std::min(lo, o.lo);
    hi = std::max(hi, o.hi);
  }
};

// numpy's bin of v on [lo, hi] in bins bins (the last one closed).
inline int binOf(double v, double lo, double hi, int bins) {
  const int b = int(std::floor((v - lo) / (hi - lo) * bins));
  return std::clamp(b, 0, bins - 1);
}

// True when frames holds n >= 1 three-dimensional volumes on one grid; else says which is wrong:
// missing (none, or the first is not a volume) or mismatched (another size, or 4D).
bool sameSize3D(const FRAME* const* frames, int n, bool show, const wchar_t* name, const wchar_t* missing,
                const wchar_t* mismatched) {
  if (!frames || n < 1 || !isVolume(frames[0])) {
    fail(show, name, missing);
    return false;
  }
  for (int i = 0; i < n; ++i)
    if (!isVolume(frames[i]) || !sameGrid(frames[i], frames[0]) || frames[i]->dim.t != 1) {
      fail(show, name, mismatched);
      return false;
    }
  return true;
}

}  // namespace

FRAME* VA_CalcJointHist(const FRAME* first, const FRAME* second, const FRAME* roi, int bins, bool show) {
  const wchar_t* name = L"VA_CalcJointHist";
  if (!isVolume(first) || !isVolume(second) || !sameGrid(first, second)) {
    fail(show, name, L"Two volumes of one size are required");
    return nullptr;
  }
  if (roi && (roi->type != FRM_ROI || !roi->data || !sameGrid(roi, first))) {
    fail(show, name, L"The ROI does not match the volumes");
    return nullptr;
  }
  if (bins < 2 || bins > kMaxJointBins) {
    fail(show, name, L"Number of bins should be within [2,4096] range");
    return nullptr;
  }
  const DIM3D dims = first->dim;
  auto counted = [&](int64_t y, int64_t z, std::vector<double>& a, std::vector<double>& b, auto&& fn) {
    twk::lineToDoubles(first, y, z, 0, a);
    twk::lineToDoubles(second, y, z, 0, b);
    const uint8_t* bits = roi ? twk::frameLine(roi, y, z, 0) : nullptr;
    for (int64_t x = 0; x < dims.w; ++x)
      if (isDefined(a[size_t(x)]) && isDefined(b[size_t(x)]) && (!bits || twk::getBit(bits, x)))
        fn(a[size_t(x)], b[size_t(x)]);
  };
  // Pass 1: the ranges of both axes.
  tbb::enumerable_thread_specific<std::pair<Range, Range>> ranges;
  tbb::enumerable_thread_specific<std::vector<double>> bufA, bufB;
  forEachLine(dims, [&](int64_t y, int64_t z) {
    auto& r = ranges.local();
    counted(y, z, bufA.local(), bufB.local(), [&](double a, double b) {
      r.first.add(a);
      r.second.add(b);
    });
  });
  Range ra, rb;
  for (const auto& r : ranges) {
    ra.join(r.first);
    rb.join(r.second);
  }
  if (!(ra.lo <= ra.hi)) {
    fail(show, name, L"No voxel to count");
    return nullptr;
  }
  if (ra.lo == ra.hi) ra = Range{ra.lo - 0.5, ra.hi + 0.5};
  if (rb.lo == rb.hi) rb = Range{rb.lo - 0.5, rb.hi + 0.5};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{bins, bins, 1, 1}, true);
  if (!out) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  // Pass 2: counts, per thread, then summed.
  const size_t cells = size_t(bins) * size_t(bins);
  tbb::enumerable_thread_specific<std::vector<uint64_t>> counts([cells] { return std::vector<uint64_t>(cells, 0); });
  forEachLine(dims, [&](int64_t y, int64_t z) {
    auto& c = counts.local();
    counted(y, z, bufA.local(), bufB.local(), [&](double a, double b) {
      ++c[size_t(binOf(b, rb.lo, rb.hi, bins)) * size_t(bins) + size_t(binOf(a, ra.lo, ra.hi, bins))];
    });
  });
  for (const auto& c : counts)
    for (int j = 0; j < bins; ++j) {
      double* line = reinterpret_cast<double*>(twk::frameLine(out, j, 0, 0));
      for (int i = 0; i < bins; ++i) line[i] += double(c[size_t(j) * size_t(bins) + size_t(i)]);
    }
  return out;
}

FRAME* VA_VolArrTo4D(const FRAME* const* frames, int n, bool show) {
  const wchar_t* name = L"VA_VolArrTo4D";
  if (!sameSize3D(frames, n, show, name, L"Volumes are required", L"3D volumes of one size are required"))
    return nullptr;
  const DIM3D dims{frames[0]->dim.w, frames[0]->dim.h, frames[0]->dim.d, n};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, dims, false);
  if (!out) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  tbb::enumerable_thread_specific<std::vector<double>> buf;
  for (int t = 0; t < n; ++t)
    forEachLine(dims, [&](int64_t y, int64_t z) {
      std::vector<double>& line = buf.local();
      twk::lineToDoubles(frames[t], y, z, 0, line);
      std::copy(line.begin(), line.end(), reinterpret_cast<double*>(twk::frameLine(out, y, z, t)));
    });
  return out;
}

FRAME* VA_Vol4DtoPCA(const FRAME* frame, int k, bool show) {
  const wchar_t* name = L"VA_Vol4DtoPCA";
  if (!isVolume(frame)) {
    fail(show, name, L"A volume is required");
    return nullptr;
  }
  const int T = frame->dim.t;
  if (k < 1 || k > T) {
    fail(show, name, L"Invalid number of components requested");
    return nullptr;
  }
  const DIM3D dims = frame->dim;
  // One pass: count, sums and cross products of the samples defined at every time point, in
  // parallel; the covariance follows from them (shifted by the first sample's values to keep the
  // sums small).
  struct Acc {
    int64_t n = 0;
    Eigen::VectorXd sum;
    Eigen::MatrixXd cross;
  };
  std::vector<double> shift(size_t(T), 0.0);
  bool haveShift = false;
  for (int64_t i = 0; i < int64_t(dims.w) * dims.h * dims.d && !haveShift; ++i) {
    const int64_t x = i % dims.w, y = i / dims.w % dims.h, z = i / (int64_t(dims.w) * dims.h);
    bool all = true;
    for (int t = 0; t < T && all; ++t) {
      shift[size_t(t)] = twk::voxelValue(frame, x, y, z, t);
      all = isDefined(shift[size_t(t)]) && !(frame->type == FRM_INT && frame->bpv == 32 &&
                                             shift[size_t(t)] == double(VOID_INT_VALUE));
    }
    haveShift = all;
  }
  if (!haveShift) {
    fail(show, name, L"No voxel is defined at every time point");
    return nullptr;
  }
  twk::ProgressGuard progress(L"Principal components", show);
  tbb::enumerable_thread_specific<Acc> accs([T] {
    Acc a;
    a.sum = Eigen::VectorXd::Zero(T);
    a.cross = Eigen::MatrixXd::Zero(T, T);
    return a;
  });
  tbb::enumerable_thread_specific<std::vector<std::vector<double>>> bufs(
      [T] { return std::vector<std::vector<double>>(size_t(T)); });
  auto sampleLine = [&](int64_t y, int64_t z, std::vector<std::vector<double>>& lines) {
    for (int t = 0; t < T; ++t) twk::lineToDoubles(frame, y, z, t, lines[size_t(t)]);
  };
  forEachLine(dims, [&](int64_t y, int64_t z) {
    auto& lines = bufs.local();
    sampleLine(y, z, lines);
    Acc& acc = accs.local();
    Eigen::VectorXd s(T);
    for (int64_t x = 0; x < dims.w; ++x) {
      bool all = true;
      for (int t = 0; t < T && all; ++t) {
        const double v = lines[size_t(t)][size_t(x)];
        all = isDefined(v);
        s[t] = v - shift[size_t(t)];
      }
      if (!all) continue;
      ++acc.n;
      acc.sum += s;
      acc.cross.selfadjointView<Eigen::Lower>().rankUpdate(s);
    }
  });
  if (progress.Stopped()) return nullptr;
  Acc total;
  total.sum = Eigen::VectorXd::Zero(T);
  total.cross = Eigen::MatrixXd::Zero(T, T);
  for (const Acc& a : accs) {
    total.n += a.n;
    total.sum += a.sum;
    total.cross += a.cross;
  }
  const double n = double(total.n);
  const Eigen::VectorXd meanShifted = total.sum / n;
  Eigen::MatrixXd cov = total.cross.selfadjointView<Eigen::Lower>();
  cov = cov / n - meanShifted * meanShifted.transpose();
  Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(cov);
  if (eig.info() != Eigen::Success) {
    fail(show, name, L"The covariance matrix could not be decomposed");
    return nullptr;
  }
  // Eigen sorts eigenvalues increasingly: component j is column T - 1 - j.
  Eigen::MatrixXd basis(T, k);
  for (int j = 0; j < k; ++j) {
    Eigen::VectorXd e = eig.eigenvectors().col(T - 1 - j);
    Eigen::Index big = 0;
    e.cwiseAbs().maxCoeff(&big);
    if (e[big] < 0) e = -e;
    basis.col(j) = e;
  }
  Eigen::VectorXd mean(T);
  for (int t = 0; t < T; ++t) mean[t] = meanShifted[t] + shift[size_t(t)];
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{dims.w, dims.h, dims.d, k}, false);
  if (!out) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  forEachLine(dims, [&](int64_t y, int64_t z) {
    auto& lines = bufs.local();
    sampleLine(y, z, lines);
    Eigen::VectorXd s(T);
    for (int64_t x = 0; x < dims.w; ++x) {
      bool all = true;
      for (int t = 0; t < T && all; ++t) {
        const double v = lines[size_t(t)][size_t(x)];
        all = isDefined(v);
        s[t] = v - mean[t];
      }
      for (int j = 0; j < k; ++j)
        reinterpret_cast<double*>(twk::frameLine(out, y, z, j))[x] = all ? basis.col(j).dot(s) : VOID_VALUE;
    }
  });
  return out;
}

FRAME* VA_CombineProbabMapsIntoAtlas(const FRAME* const* maps, int count, bool show) {
  const wchar_t* name = L"VA_CombineProbabMapsIntoAtlas";
  if (!sameSize3D(maps, count, show, name, L"Probability maps are required",
                  L"3D probability maps of one size are required"))
    return nullptr;
  const DIM3D dims{maps[0]->dim.w, maps[0]->dim.h, maps[0]->dim.d, 1};
  FRAME* out = PR_FrameCreate(FRM_INT, 32, dims, true);
  if (!out) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  tbb::enumerable_thread_specific<std::vector<double>> buf, best;
  forEachLine(dims, [&](int64_t y, int64_t z) {
    std::vector<double>& line = buf.local();
    std::vector<double>& top = best.local();
    top.assign(size_t(dims.w), 0.0);
    uint32_t* dst = reinterpret_cast<uint32_t*>(twk::frameLine(out, y, z, 0));
    for (int i = 0; i < count; ++i) {
      twk::lineToDoubles(maps[i], y, z, 0, line);
      for (int64_t x = 0; x < dims.w; ++x) {
        const double v = line[size_t(x)];
        if (isDefined(v) && v > top[size_t(x)]) {
          top[size_t(x)] = v;
          dst[x] = uint32_t(i + 1);
        }
      }
    }
  });
  return out;
}

FRAME* VA_SharpenTemplateUsingAtlas(const FRAME* templ, const FRAME* atlas, bool show) {
  const wchar_t* name = L"VA_SharpenTemplateUsingAtlas";
  if (!isVolume(templ) || !isVolume(atlas) || !sameGrid(templ, atlas)) {
    fail(show, name, L"A template and an atlas of one size are required");
    return nullptr;
  }
  const DIM3D dims{templ->dim.w, templ->dim.h, templ->dim.d, 1};
  // Label of a voxel: the atlas value rounded; voids (the 32-bit integer void reads as the real
  // one) and values below 1 are background.
  auto labelOf = [](double v) -> int64_t { return isDefined(v) && v >= 0.5 ? int64_t(std::floor(v + 0.5)) : 0; };
  Range labels;
  tbb::enumerable_thread_specific<std::vector<double>> bufA, bufT;
  tbb::enumerable_thread_specific<Range> ranges;
  forEachLine(dims, [&](int64_t y, int64_t z) {
    std::vector<double>& a = bufA.local();
    twk::lineToDoubles(atlas, y, z, 0, a);
    for (double v : a) ranges.local().add(double(labelOf(v)));
  });
  for (const Range& r : ranges) labels.join(r);
  const int64_t maxLabel = labels.hi >= 1 ? int64_t(labels.hi) : 0;
  if (maxLabel > (int64_t(1) << 24)) {
    fail(show, name, L"Too many labels");
    return nullptr;
  }
  using Sums = std::vector<std::pair<double, int64_t>>;
  tbb::enumerable_thread_specific<Sums> sums([maxLabel] { return Sums(size_t(maxLabel + 1), {0.0, 0}); });
  forEachLine(dims, [&](int64_t y, int64_t z) {
    std::vector<double>& a = bufA.local();
    std::vector<double>& t = bufT.local();
    twk::lineToDoubles(atlas, y, z, 0, a);
    twk::lineToDoubles(templ, y, z, 0, t);
    Sums& s = sums.local();
    for (int64_t x = 0; x < dims.w; ++x) {
      const int64_t l = labelOf(a[size_t(x)]);
      if (l > 0 && isDefined(t[size_t(x)])) {
        s[size_t(l)].first += t[size_t(x)];
        ++s[size_t(l)].second;
      }
    }
  });
  std::vector<double> mean(size_t(maxLabel + 1), VOID_VALUE);
  {
    Sums total(size_t(maxLabel + 1), {0.0, 0});
    for (const Sums& s : sums)
      for (size_t l = 0; l < s.size(); ++l) {
        total[l].first += s[l].first;
        total[l].second += s[l].second;
      }
    for (size_t l = 1; l < total.size(); ++l)
      if (total[l].second > 0) mean[l] = total[l].first / double(total[l].second);
  }
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, dims, false);
  if (!out) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  forEachLine(dims, [&](int64_t y, int64_t z) {
    std::vector<double>& a = bufA.local();
    std::vector<double>& t = bufT.local();
    twk::lineToDoubles(atlas, y, z, 0, a);
    twk::lineToDoubles(templ, y, z, 0, t);
    double* dst = reinterpret_cast<double*>(twk::frameLine(out, y, z, 0));
    for (int64_t x = 0; x < dims.w; ++x) {
      const int64_t l = labelOf(a[size_t(x)]);
      dst[x] = l > 0 && isDefined(t[size_t(x)]) ? mean[size_t(l)] : t[size_t(x)];
    }
  });
  return out;
}

FRAME* VA_RoiUnlump(const FRAME* roi, const SPC* spc, double peel, double /*reserved*/, bool show) {
  const wchar_t* name = L"VA_RoiUnlump";
  if (!roi || roi->type != FRM_ROI || !roi->data) {
    fail(show, name, L"ROI is required");
    return nullptr;
  }
  if (!(peel >= 0)) {
    fail(show, name, L"Peel should not be negative");
    return nullptr;
  }
  capThreads();
  twk::ProgressGuard progress(L"Unclumping components", show);
  MaskImage::Pointer mask = unpackRoi(roi, 0, spc);
  if (!mask) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  const int64_t n = int64_t(mask->GetPixelContainer()->Size());
  const uint8_t* m = mask->GetBufferPointer();
  int64_t inside = 0;
  for (int64_t i = 0; i < n; ++i) inside += m[i];
  if (inside == 0) {
    fail(show, name, L"ROI is empty");
    return nullptr;
  }
  // Inside distance: the distance to the nearest clear voxel (the volume's edge is no surface).
  FloatImage::Pointer depth;
  {
    MaskImage::Pointer clear = newImage<uint8_t>(roi->dim, spc, false);
    uint8_t* c = clear->GetBufferPointer();
    for (int64_t i = 0; i < n; ++i) c[i] = m[i] ? 0 : 1;
    using Maurer = itk::SignedMaurerDistanceMapImageFilter<MaskImage, FloatImage>;
    bool anyClear = inside < n;
    if (anyClear) {
      auto maurer = Maurer::New();
      maurer->SetInput(clear);
      maurer->SetBackgroundValue(0);
      maurer->SetInsideIsPositive(false);
      maurer->SetSquaredDistance(false);
      maurer->SetUseImageSpacing(true);
      if (!update(maurer, name, show, 1, 40)) return nullptr;
      depth = maurer->GetOutput();
      depth->DisconnectPipeline();
    } else {
      // A full volume: one flat plateau, one marker.
      depth = newImage<float>(roi->dim, spc, false);
      depth->FillBuffer(1.0f);
    }
  }
  float* d = depth->GetBufferPointer();
  for (int64_t i = 0; i < n; ++i) d[i] = m[i] ? std::max(d[i], 0.0f) : 0.0f;
  // Markers.
  MaskImage::Pointer seeds;
  if (peel > 0) {
    seeds = newImage<uint8_t>(roi->dim, spc, false);
    uint8_t* s = seeds->GetBufferPointer();
    for (int64_t i = 0; i < n; ++i) s[i] = d[i] > peel ? 1 : 0;
  } else {
    const double step =
        spc ? std::min({std::fabs(spc->x), std::fabs(spc->y), std::fabs(spc->z)}) : 1.0;
    auto hmax = itk::HMaximaImageFilter<FloatImage, FloatImage>::New();
    hmax->SetInput(depth);
    hmax->SetHeight(float(step));
    auto maxima = itk::RegionalMaximaImageFilter<FloatImage, MaskImage>::New();
    maxima->SetInput(hmax->GetOutput());
    maxima->SetFullyConnected(true);
    maxima->SetFlatIsMaxima(true);
    maxima->SetForegroundValue(1);
    maxima->SetBackgroundValue(0);
    if (!update(maxima, name, show, 40, 70)) return nullptr;
    seeds = maxima->GetOutput();
    seeds->DisconnectPipeline();
    uint8_t* s = seeds->GetBufferPointer();
    for (int64_t i = 0; i < n; ++i) s[i] = m[i] ? s[i] : 0;
  }
  auto seedLabels = itk::ConnectedComponentImageFilter<MaskImage, LabelImage>::New();
  seedLabels->SetInput(seeds);
  seedLabels->SetFullyConnected(true);
  if (!update(seedLabels, name, show, 70, 75)) return nullptr;
  LabelImage::Pointer markers = seedLabels->GetOutput();
  markers->DisconnectPipeline();
  uint32_t nextLabel = uint32_t(seedLabels->GetObjectCount()) + 1;
  // Every connected part of the ROI without a marker gets one at its deepest voxel.
  {
    auto parts = itk::ConnectedComponentImageFilter<MaskImage, LabelImage>::New();
    parts->SetInput(mask);
    parts->SetFullyConnected(true);
    if (!update(parts, name, show, 75, 80)) return nullptr;
    const uint32_t* p = parts->GetOutput()->GetBufferPointer();
    const size_t partCount = size_t(parts->GetObjectCount()) + 1;
    std::vector<uint8_t> marked(partCount, 0);
    std::vector<int64_t> deepest(partCount, -1);
    uint32_t* mk = markers->GetBufferPointer();
    for (int64_t i = 0; i < n; ++i) {
      if (!p[i]) continue;
      if (mk[i]) marked[p[i]] = 1;
      if (deepest[p[i]] < 0 || d[i] > d[deepest[p[i]]]) deepest[p[i]] = i;
    }
    for (size_t c = 1; c < partCount; ++c)
      if (!marked[c] && deepest[c] >= 0) mk[deepest[c]] = nextLabel++;
  }
  // Flood the negated depth from the markers: every ROI voxel lies below the clear voxels' 0, so
  // each part is flooded from its own markers before any flood crosses the background.
  for (int64_t i = 0; i < n; ++i) d[i] = -d[i];
  auto shed = itk::MorphologicalWatershedFromMarkersImageFilter<FloatImage, LabelImage>::New();
  shed->SetInput(depth);
  shed->SetMarkerImage(markers);
  shed->SetMarkWatershedLine(false);
  shed->SetFullyConnected(true);
  if (!update(shed, name, show, 80, 95)) return nullptr;
  LabelImage::Pointer flooded = shed->GetOutput();
  flooded->DisconnectPipeline();
  uint32_t* f = flooded->GetBufferPointer();
  for (int64_t i = 0; i < n; ++i)
    if (!m[i]) f[i] = 0;
  auto relabel = itk::RelabelComponentImageFilter<LabelImage, LabelImage>::New();
  relabel->SetInput(flooded);
  if (!update(relabel, name, show, 95, 98)) return nullptr;
  FRAME* out = PR_FrameCreate(FRM_INT, 32, DIM3D{roi->dim.w, roi->dim.h, roi->dim.d, 1}, false);
  if (!out) {
    fail(show, name, L"Not enough memory");
    return nullptr;
  }
  const uint32_t* lab = relabel->GetOutput()->GetBufferPointer();
  const int64_t w = roi->dim.w, h = roi->dim.h;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, h * roi->dim.d, 16), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t line = r.begin(); line < r.end(); ++line)
      std::copy(lab + line * w, lab + (line + 1) * w,
                reinterpret_cast<uint32_t*>(twk::frameLine(out, line % h, line / h, 0)));
  });
  return out;
}
