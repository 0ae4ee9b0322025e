// Temporal shape means: curves denoised by the weighted mean of the curves alike to them, found
// through a sort along their first principal component.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/Denoise.h"
#include "filters/FilterCore.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

constexpr int kWindow = 256;  // candidates on either side in the sorted order

// The time points of a frame as doubles, voxel-major curves of the used voxels.
struct Curves {
  int numT = 0;
  std::vector<double> values;  // used voxel k, time point t at k * numT + t
};

// Every time point of the frame; the used voxels are those in the ROI whose curves are defined in
// every one of the frames given.
bool readSeries(const FRAME* frame, std::vector<Volume3>* series) {
  series->resize(size_t(frame->dim.t));
  for (int t = 0; t < frame->dim.t; ++t)
    if (!readTimePoint(frame, t, &(*series)[size_t(t)])) return false;
  return true;
}

Curves gather(const std::vector<Volume3>& series, const std::vector<int64_t>& used, int t0, int t1) {
  Curves c;
  c.numT = t1 - t0;
  c.values.resize(used.size() * size_t(c.numT));
  tbb::parallel_for(size_t(0), used.size(), [&](size_t k) {
    for (int t = t0; t < t1; ++t) c.values[k * size_t(c.numT) + size_t(t - t0)] = series[size_t(t)].v[size_t(used[k])];
  });
  return c;
}

// The curves' positions along their first principal component (power iteration; s centred).
std::vector<double> principalPositions(const std::vector<double>& s, size_t n, size_t T) {
  std::vector<double> cov(T * T, 0.0);
  for (size_t k = 0; k < n; ++k)
    for (size_t a = 0; a < T; ++a)
      for (size_t b = 0; b < T; ++b) cov[a * T + b] += s[k * T + a] * s[k * T + b];
  std::vector<double> v(T, 1.0), next(T);
  for (size_t t = 0; t < T; ++t) v[t] = 1.0 + 0.01 * double(t);  // not orthogonal to the main axis by accident
  for (int it = 0; it < 100; ++it) {
    double norm = 0;
    for (size_t a = 0; a < T; ++a) {
      next[a] = 0;
      for (size_t b = 0; b < T; ++b) next[a] += cov[a * T + b] * v[b];
      norm += next[a] * next[a];
    }
    norm = std::sqrt(norm);
    if (norm == 0) break;
    for (size_t a = 0; a < T; ++a) v[a] = next[a] / norm;
  }
  std::vector<double> p(n);
  for (size_t k = 0; k < n; ++k) {
    double d = 0;
    for (size_t t = 0; t < T; ++t) d += s[k * T + t] * v[t];
    p[k] = d;
  }
  return p;
}

// The TSM of the data channels (each a Curves of the same used voxels) with weights from the
// similarity curves. extra(k) lists further candidates of curve k (spatial neighbours) or is empty.
template <class Extra>
bool shapeMeans(const Curves& similarity, std::vector<Curves*>& channels, double sigma, double h, const Extra& extra,
                twk::ProgressGuard& progress) {
  const size_t T = size_t(similarity.numT);
  const size_t n = similarity.values.size() / std::max<size_t>(1, T);
  if (n == 0) return true;
  // Positions along the first principal component of the curves about their mean curve.
  std::vector<double> centred(similarity.values);
  std::vector<double> meanCurve(T, 0.0);
  for (size_t k = 0; k < n; ++k)
    for (size_t t = 0; t < T; ++t) meanCurve[t] += centred[k * T + t] / double(n);
  for (size_t k = 0; k < n; ++k)
    for (size_t t = 0; t < T; ++t) centred[k * T + t] -= meanCurve[t];
  const std::vector<double> position = principalPositions(centred, n, T);
  std::vector<size_t> order(n), rank(n);
  std::iota(order.begin(), order.end(), size_t(0));
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return position[a] < position[b]; });
  for (size_t r = 0; r < n; ++r) rank[order[r]] = r;
  // Weights of each curve's candidates.
  std::vector<std::vector<std::pair<size_t, double>>> weights(n);
  const double noiseTerm = 2 * sigma * sigma, invH2 = 1.0 / (h * h);
  const double* f = similarity.values.data();
  tbb::parallel_for(size_t(0), n, [&](size_t i) {
    const size_t r = rank[i];
    const size_t r0 = r >= size_t(kWindow) ? r - kWindow : 0, r1 = std::min(n, r + kWindow + 1);
    auto consider = [&](size_t j) {
      double d2 = 0;
      for (size_t t = 0; t < T; ++t) {
        const double e = f[i * T + t] - f[j * T + t];
        d2 += e * e;
      }
      const double distance = std::max(d2 / double(T) - noiseTerm, 0.0) * invH2;
      if (distance <= 5.0) weights[i].push_back({j, std::exp(-distance)});
    };
    for (size_t q = r0; q < r1; ++q) consider(order[q]);
    for (size_t j : extra(i))
      if (rank[j] < r0 || rank[j] >= r1) consider(j);
  });
  if (!progress.Poll()) return false;
  for (Curves* c : channels) {
    const size_t cT = size_t(c->numT);
    const std::vector<double> source = c->values;
    tbb::parallel_for(size_t(0), n, [&](size_t i) {
      double sw = 0;
      std::vector<double> s(cT, 0.0);
      for (const auto& [j, w] : weights[i]) {
        sw += w;
        for (size_t t = 0; t < cT; ++t) s[t] += w * source[j * cT + t];
      }
      if (sw > 0)
        for (size_t t = 0; t < cT; ++t) c->values[i * cT + t] = s[t] / sw;
    });
    if (!progress.Poll()) return false;
  }
  return true;
}

// Writes denoised curves of the used voxels into a real frame that holds the series elsewhere.
FRAME* resultFrame(const DIM3D& dims, const std::vector<Volume3>& series, const std::vector<int64_t>& used,
                   const std::vector<std::pair<int, const Curves*>>& parts) {
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, dims, false);
  if (!out) return nullptr;
  for (int t = 0; t < dims.t; ++t) {
    std::vector<double> v = series[size_t(t)].v;
    for (const auto& [t0, c] : parts) {
      if (t < t0 || t >= t0 + c->numT) continue;
      for (size_t k = 0; k < used.size(); ++k) v[size_t(used[k])] = c->values[k * size_t(c->numT) + size_t(t - t0)];
    }
    writeTimePoint(out, t, v.data());
  }
  return out;
}

// The voxels of the ROI whose curves are defined in all the series.
std::vector<int64_t> usedVoxels(const std::vector<const std::vector<Volume3>*>& all, const FRAME* roi) {
  const Volume3& v0 = (*all[0])[0];
  std::vector<int64_t> used;
  for (int z = 0; z < v0.d; ++z)
    for (int y = 0; y < v0.h; ++y)
      for (int x = 0; x < v0.w; ++x) {
        if (roi && !twk::roiBit(roi, x, y, z, 0)) continue;
        const int64_t i = v0.index(x, y, z);
        bool ok = true;
        for (const auto* s : all)
          for (const Volume3& tp : *s) ok = ok && tp.valid[size_t(i)];
        if (ok) used.push_back(i);
      }
  return used;
}

bool checkInput(const wchar_t* name, const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi, bool show) {
  if (!record || !(record->sigma > 0) || !(record->coefficient > 0)) {
    reportError(name, L"Invalid parameters", show);
    return false;
  }
  if (!frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL)) {
    reportError(name, L"Integer or Real volume is required", show);
    return false;
  }
  if (frame->dim.t < 3) {
    reportError(name, L"4D volume of at least 3 time points is required", show);
    return false;
  }
  if (roi && (roi->type != FRM_ROI || roi->dim.w != frame->dim.w || roi->dim.h != frame->dim.h ||
              roi->dim.d != frame->dim.d)) {
    reportError(name, L"The ROI does not match the volume", show);
    return false;
  }
  return true;
}

auto noExtra = [](size_t) { return std::vector<size_t>{}; };

}  // namespace

FRAME* VA_VolTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi, bool show) {
  const wchar_t* name = L"VA_VolTemporalShapeMeans";
  if (!checkInput(name, record, frame, roi, show)) return nullptr;
  std::vector<Volume3> series;
  if (!readSeries(frame, &series)) return nullptr;
  const std::vector<int64_t> used = usedVoxels({&series}, roi);
  twk::ProgressGuard progress(L"Temporal shape means", show);
  Curves data = gather(series, used, 0, frame->dim.t);
  const Curves similarity = data;
  std::vector<Curves*> channels{&data};
  if (!shapeMeans(similarity, channels, record->sigma, record->coefficient * record->sigma, noExtra, progress))
    return nullptr;
  return resultFrame(frame->dim, series, used, {{0, &data}});
}

FRAME* VA_VolSpaceTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi,
                                     const FRAME* model, bool show) {
  (void)model;
  const wchar_t* name = L"VA_VolSpaceTemporalShapeMeans";
  if (!checkInput(name, record, frame, roi, show)) return nullptr;
  const int group = std::max(3, std::min(record->searchRadius, frame->dim.t));
  std::vector<Volume3> series;
  if (!readSeries(frame, &series)) return nullptr;
  const std::vector<int64_t> used = usedVoxels({&series}, roi);
  // The 26 spatial neighbours of each used voxel among the used voxels.
  const Volume3& v0 = series[0];
  std::vector<int64_t> slot(size_t(v0.size()), -1);
  for (size_t k = 0; k < used.size(); ++k) slot[size_t(used[k])] = int64_t(k);
  auto neighbours = [&](size_t k) {
    std::vector<size_t> out;
    const int64_t i = used[k];
    const int x = int(i % v0.w), y = int(i / v0.w % v0.h), z = int(i / (int64_t(v0.w) * v0.h));
    for (int dz = -1; dz <= 1; ++dz)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = x + dx, yy = y + dy, zz = z + dz;
          if ((!dx && !dy && !dz) || xx < 0 || yy < 0 || zz < 0 || xx >= v0.w || yy >= v0.h || zz >= v0.d) continue;
          const int64_t s = slot[size_t(v0.index(xx, yy, zz))];
          if (s >= 0) out.push_back(size_t(s));
        }
    return out;
  };
  twk::ProgressGuard progress(L"Space-temporal shape means", show);
  std::vector<Curves> parts;
  std::vector<int> starts;
  for (int t0 = 0; t0 < frame->dim.t; t0 += group) {
    int t1 = std::min(frame->dim.t, t0 + group);
    if (frame->dim.t - t1 < 3) t1 = frame->dim.t;  // the last group takes the rest
    parts.push_back(gather(series, used, t0, t1));
    starts.push_back(t0);
    Curves& data = parts.back();
    const Curves similarity = data;
    std::vector<Curves*> channels{&data};
    if (!shapeMeans(similarity, channels, record->sigma, record->coefficient * record->sigma, neighbours, progress))
      return nullptr;
    if (t1 == frame->dim.t) break;
  }
  std::vector<std::pair<int, const Curves*>> pieces;
  for (size_t p = 0; p < parts.size(); ++p) pieces.push_back({starts[p], &parts[p]});
  return resultFrame(frame->dim, series, used, pieces);
}

FRAME* VA_VolModelBasedTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi,
                                          const FRAME* model, bool show) {
  const wchar_t* name = L"VA_VolModelBasedTemporalShapeMeans";
  if (!checkInput(name, record, frame, roi, show)) return nullptr;
  if (!model || model->type != FRM_REAL || model->dim.t < 2 || model->dim.w != frame->dim.w ||
      model->dim.h != frame->dim.h || model->dim.d != frame->dim.d) {
    reportError(name, L"wrong model type", show);
    return nullptr;
  }
  std::vector<Volume3> series, modelSeries;
  if (!readSeries(frame, &series) || !readSeries(model, &modelSeries)) return nullptr;
  const std::vector<int64_t> used = usedVoxels({&series, &modelSeries}, roi);
  twk::ProgressGuard progress(L"Model-based temporal shape means", show);
  Curves data = gather(series, used, 0, frame->dim.t);
  const Curves similarity = gather(modelSeries, used, 0, model->dim.t);
  std::vector<Curves*> channels{&data};
  if (!shapeMeans(similarity, channels, record->sigma, record->coefficient * record->sigma, noExtra, progress))
    return nullptr;
  return resultFrame(frame->dim, series, used, {{0, &data}});
}

FRAME* VA_ComplexVolTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* real, const FRAME* imaginary,
                                       const FRAME* roi, bool show) {
  const wchar_t* name = L"VA_ComplexVolTemporalShapeMeans";
  if (!checkInput(name, record, real, roi, show) || !checkInput(name, record, imaginary, roi, show)) return nullptr;
  if (real->dim.w != imaginary->dim.w || real->dim.h != imaginary->dim.h || real->dim.d != imaginary->dim.d ||
      real->dim.t != imaginary->dim.t) {
    reportError(name, L"Equal dimensions are expected", show);
    return nullptr;
  }
  std::vector<Volume3> re, im;
  if (!readSeries(real, &re) || !readSeries(imaginary, &im)) return nullptr;
  const std::vector<int64_t> used = usedVoxels({&re, &im}, roi);
  twk::ProgressGuard progress(L"Complex temporal shape means", show);
  Curves cr = gather(re, used, 0, real->dim.t), ci = gather(im, used, 0, real->dim.t);
  // Similarity on the real and imaginary curves side by side.
  Curves joint;
  joint.numT = 2 * cr.numT;
  joint.values.resize(used.size() * size_t(joint.numT));
  for (size_t k = 0; k < used.size(); ++k)
    for (int t = 0; t < cr.numT; ++t) {
      joint.values[k * size_t(joint.numT) + size_t(t)] = cr.values[k * size_t(cr.numT) + size_t(t)];
      joint.values[k * size_t(joint.numT) + size_t(cr.numT + t)] = ci.values[k * size_t(cr.numT) + size_t(t)];
    }
  std::vector<Curves*> channels{&cr, &ci};
  if (!shapeMeans(joint, channels, record->sigma, record->coefficient * record->sigma, noExtra, progress))
    return nullptr;
  // The magnitude; outside the ROI that of the given parts.
  std::vector<Volume3> magnitude = re;
  for (int t = 0; t < real->dim.t; ++t)
    for (size_t i = 0; i < magnitude[size_t(t)].v.size(); ++i) {
      const double a = re[size_t(t)].v[i], b = im[size_t(t)].v[i];
      magnitude[size_t(t)].v[i] = re[size_t(t)].valid[i] && im[size_t(t)].valid[i] ? std::sqrt(a * a + b * b) : VOID_VALUE;
    }
  Curves mag;
  mag.numT = cr.numT;
  mag.values.resize(cr.values.size());
  for (size_t k = 0; k < cr.values.size(); ++k) mag.values[k] = std::hypot(cr.values[k], ci.values[k]);
  return resultFrame(real->dim, magnitude, used, {{0, &mag}});
}
