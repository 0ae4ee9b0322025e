// 2D radiomics features (first order, GLCM, GLRLM, GLDM) over ROIs, slice by slice.
#include "filters/Radiomics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PackedText.h"
#include "TwkMem.h"
#include "volume/Frame.h"
#include "TwkUi.h"
#include "Vol.h"
#include "filters/FilterCore.h"
#include "geometry/Geometry.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "roi/RoiStatistics.h"
#include "volume/VoxelAccess.h"
#include "volume/VolumeBox.h"

using namespace twk::filters;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

using Matrix = std::vector<double>;  // row-major, rows of grey levels 1..Ng at index 0..Ng-1

struct Feature {
  const char* name;
  double value;
};

// numpy's default percentile (linear between the sorted values).
double percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return kNaN;
  const double pos = q / 100.0 * double(sorted.size() - 1);
  const size_t lo = size_t(std::floor(pos)), hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] + (pos - double(lo)) * (sorted[hi] - sorted[lo]);
}

double entropy2(double p) { return p > 0 ? -p * std::log2(p) : 0.0; }

std::vector<Feature> firstOrder(std::vector<double> v, const std::vector<int>& bins, int ng) {
  const double n = double(v.size());
  std::vector<Feature> f;
  if (v.empty()) {
    for (const char* name : {"mean", "variance", "skewness", "kurtosis", "median", "minimum", "p10", "p90", "maximum",
                             "interquartile_range", "range", "mean_absolute_deviation",
                             "robust_mean_absolute_deviation", "median_absolute_deviation", "coefficient_of_variation",
                             "quartile_coefficient_of_dispersion", "energy", "root_mean_square", "entropy",
                             "uniformity"})
      f.push_back({name, kNaN});
    return f;
  }
  double mean = 0;
  for (double x : v) mean += x;
  mean /= n;
  double m2 = 0, m3 = 0, m4 = 0, energy = 0, mad = 0;
  for (double x : v) {
    const double d = x - mean;
    m2 += d * d, m3 += d * d * d, m4 += d * d * d * d, energy += x * x, mad += std::fabs(d);
  }
  m2 /= n, m3 /= n, m4 /= n, mad /= n;
  std::sort(v.begin(), v.end());
  const double median = percentile(v, 50), p10 = percentile(v, 10), p90 = percentile(v, 90);
  const double p25 = percentile(v, 25), p75 = percentile(v, 75);
  double robustMean = 0, robust = 0, medianAbs = 0;
  int robustCount = 0;
  for (double x : v)
    if (x >= p10 && x <= p90) robustMean += x, ++robustCount;
  robustMean /= robustCount;
  for (double x : v) {
    if (x >= p10 && x <= p90) robust += std::fabs(x - robustMean);
    medianAbs += std::fabs(x - median);
  }
  std::vector<double> hist(size_t(ng) + 1, 0.0);
  for (int b : bins) hist[size_t(b)] += 1;
  double ent = 0, uni = 0;
  for (int g = 1; g <= ng; ++g) {
    const double p = hist[size_t(g)] / double(bins.size());
    ent += entropy2(p), uni += p * p;
  }
  f = {{"mean", mean},
       {"variance", m2},
       {"skewness", m2 > 0 ? m3 / std::pow(m2, 1.5) : kNaN},
       {"kurtosis", m2 > 0 ? m4 / (m2 * m2) - 3 : kNaN},
       {"median", median},
       {"minimum", v.front()},
       {"p10", p10},
       {"p90", p90},
       {"maximum", v.back()},
       {"interquartile_range", p75 - p25},
       {"range", v.back() - v.front()},
       {"mean_absolute_deviation", mad},
       {"robust_mean_absolute_deviation", robust / robustCount},
       {"median_absolute_deviation", medianAbs / n},
       {"coefficient_of_variation", mean != 0 ? std::sqrt(m2) / mean : kNaN},
       {"quartile_coefficient_of_dispersion", p75 + p25 != 0 ? (p75 - p25) / (p75 + p25) : kNaN},
       {"energy", energy},
       {"root_mean_square", std::sqrt(energy / n)},
       {"entropy", ent},
       {"uniformity", uni}};
  return f;
}

const char* const kGlcmNames[] = {"joint_maximum", "joint_average", "joint_variance", "joint_entropy",
                                  "difference_average", "difference_variance", "difference_entropy", "sum_average",
                                  "sum_variance", "sum_entropy", "angular_second_moment", "contrast", "dissimilarity",
                                  "inverse_difference", "normalised_inverse_difference", "inverse_difference_moment",
                                  "normalised_inverse_difference_moment", "inverse_variance", "correlation",
                                  "autocorrelation", "cluster_tendency", "cluster_shade", "cluster_prominence",
                                  "information_correlation_1", "information_correlation_2"};
constexpr int kGlcmCount = 25;

std::vector<double> glcmFeatures(const Matrix& m, int ng) {
  double total = 0;
  for (double x : m) total += x;
  std::vector<double> f(kGlcmCount, kNaN);
  if (total <= 0) return f;
  std::vector<double> px(size_t(ng), 0), py(size_t(ng), 0), sum(size_t(2 * ng + 1), 0), diff(size_t(ng), 0);
  double pmax = 0, mu = 0, hxy = 0, asm_ = 0, con = 0, dis = 0, id = 0, idn = 0, idm = 0, idmn = 0, auto_ = 0;
  for (int i = 1; i <= ng; ++i)
    for (int j = 1; j <= ng; ++j) {
      const double p = m[size_t((i - 1) * ng + (j - 1))] / total;
      if (p == 0) continue;
      px[size_t(i - 1)] += p, py[size_t(j - 1)] += p;
      sum[size_t(i + j)] += p, diff[size_t(std::abs(i - j))] += p;
      pmax = std::max(pmax, p);
      mu += i * p;
      hxy += entropy2(p);
      asm_ += p * p;
      const double k = std::abs(i - j);
      con += k * k * p, dis += k * p, id += p / (1 + k), idn += p / (1 + k / ng), idm += p / (1 + k * k),
          idmn += p / (1 + k * k / (double(ng) * ng)), auto_ += double(i) * j * p;
    }
  double var = 0, mux = 0, muy = 0, sx = 0, sy = 0, hx = 0, hy = 0;
  for (int i = 1; i <= ng; ++i) mux += i * px[size_t(i - 1)], muy += i * py[size_t(i - 1)];
  for (int i = 1; i <= ng; ++i) {
    sx += (i - mux) * (i - mux) * px[size_t(i - 1)], sy += (i - muy) * (i - muy) * py[size_t(i - 1)];
    hx += entropy2(px[size_t(i - 1)]), hy += entropy2(py[size_t(i - 1)]);
  }
  double corr = 0, ct = 0, cs = 0, cp = 0, hxy1 = 0, hxy2 = 0;
  for (int i = 1; i <= ng; ++i)
    for (int j = 1; j <= ng; ++j) {
      const double p = m[size_t((i - 1) * ng + (j - 1))] / total;
      const double q = px[size_t(i - 1)] * py[size_t(j - 1)];
      if (q > 0) hxy2 -= q * std::log2(q);
      if (p == 0) continue;
      var += (i - mu) * (i - mu) * p;
      corr += (i - mux) * (j - muy) * p;
      const double c = i + j - mux - muy;
      ct += c * c * p, cs += c * c * c * p, cp += c * c * c * c * p;
      hxy1 -= p * std::log2(q);
    }
  double da = 0, dv = 0, de = 0, sa = 0, sv = 0, se = 0, iv = 0;
  for (int k = 0; k < ng; ++k) da += k * diff[size_t(k)], de += entropy2(diff[size_t(k)]);
  for (int k = 0; k < ng; ++k) dv += (k - da) * (k - da) * diff[size_t(k)];
  for (int k = 1; k < ng; ++k) iv += diff[size_t(k)] / (double(k) * k);
  for (int k = 2; k <= 2 * ng; ++k) sa += k * sum[size_t(k)], se += entropy2(sum[size_t(k)]);
  for (int k = 2; k <= 2 * ng; ++k) sv += (k - sa) * (k - sa) * sum[size_t(k)];
  const double hmax = std::max(hx, hy);
  f = {pmax, mu, var, hxy, da, dv, de, sa, sv, se, asm_, con, dis, id, idn, idm, idmn, iv,
       sx > 0 && sy > 0 ? corr / std::sqrt(sx * sy) : kNaN, auto_, ct, cs, cp,
       hmax > 0 ? (hxy - hxy1) / hmax : kNaN, std::sqrt(std::max(0.0, 1 - std::exp(-2 * (hxy2 - hxy))))};
  return f;
}

const char* const kRunNames[] = {"short_runs_emphasis", "long_runs_emphasis", "grey_level_non_uniformity",
                                 "grey_level_non_uniformity_normalised", "run_length_non_uniformity",
                                 "run_length_non_uniformity_normalised", "run_percentage", "grey_level_variance",
                                 "run_length_variance", "run_entropy", "low_grey_level_run_emphasis",
                                 "high_grey_level_run_emphasis"};
const char* const kDependenceNames[] = {"low_dependence_emphasis", "high_dependence_emphasis",
                                        "grey_level_non_uniformity", "grey_level_non_uniformity_normalised",
                                        "dependence_count_non_uniformity",
                                        "dependence_count_non_uniformity_normalised", "dependence_count_percentage",
                                        "grey_level_variance", "dependence_count_variance",
                                        "dependence_count_entropy", "low_grey_level_count_emphasis",
                                        "high_grey_level_count_emphasis"};
constexpr int kZoneCount = 12;

// Features of a grey level x length (run length or dependence count) matrix of cols columns;
// voxels: the voxels the matrix stands for. The two families share their formulas.
std::vector<double> zoneFeatures(const Matrix& m, int ng, int cols, double voxels) {
  double n = 0;
  for (double x : m) n += x;
  std::vector<double> f(kZoneCount, kNaN);
  if (n <= 0) return f;
  std::vector<double> rows(size_t(ng), 0), colsum(size_t(cols), 0);
  double sre = 0, lre = 0, mui = 0, muj = 0, ent = 0, lg = 0, hg = 0;
  for (int i = 1; i <= ng; ++i)
    for (int j = 1; j <= cols; ++j) {
      const double r = m[size_t((i - 1) * cols + (j - 1))];
      if (r == 0) continue;
      const double p = r / n;
      rows[size_t(i - 1)] += r, colsum[size_t(j - 1)] += r;
      sre += r / (double(j) * j), lre += r * double(j) * j;
      mui += i * p, muj += j * p, ent += entropy2(p), lg += p / (double(i) * i), hg += p * double(i) * i;
    }
  double glnu = 0, rlnu = 0, vi = 0, vj = 0;
  for (double r : rows) glnu += r * r;
  for (double c : colsum) rlnu += c * c;
  for (int i = 1; i <= ng; ++i)
    for (int j = 1; j <= cols; ++j) {
      const double p = m[size_t((i - 1) * cols + (j - 1))] / n;
      vi += (i - mui) * (i - mui) * p, vj += (j - muj) * (j - muj) * p;
    }
  f = {sre / n, lre / n, glnu / n, glnu / (n * n), rlnu / n, rlnu / (n * n), voxels > 0 ? n / voxels : kNaN, vi, vj,
       ent, lg, hg};
  return f;
}

// One slice of discretised levels (0: not in the ROI).
struct Slice {
  int w = 0, h = 0;
  std::vector<int> q;
  int at(int x, int y) const { return x < 0 || y < 0 || x >= w || y >= h ? 0 : q[size_t(y * w + x)]; }
};

Matrix glcm(const Slice& s, int ng, int dx, int dy, bool symmetric) {
  Matrix m(size_t(ng) * ng, 0.0);
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      const int a = s.at(x, y), b = s.at(x + dx, y + dy);
      if (!a || !b) continue;
      m[size_t((a - 1) * ng + (b - 1))] += 1;
      if (symmetric) m[size_t((b - 1) * ng + (a - 1))] += 1;
    }
  return m;
}

Matrix runs(const Slice& s, int ng, int dx, int dy, int maxRun) {
  Matrix m(size_t(ng) * maxRun, 0.0);
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      const int g = s.at(x, y);
      // A run starts where the previous voxel along the direction differs.
      if (!g || s.at(x - dx, y - dy) == g) continue;
      int len = 1;
      while (s.at(x + len * dx, y + len * dy) == g) ++len;
      m[size_t((g - 1) * maxRun + (len - 1))] += 1;
    }
  return m;
}

Matrix dependence(const Slice& s, int ng, int eps) {
  Matrix m(size_t(ng) * 9, 0.0);
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      const int g = s.at(x, y);
      if (!g) continue;
      int k = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int o = (dx || dy) ? s.at(x + dx, y + dy) : 0;
          if (o && std::abs(o - g) <= eps) ++k;
        }
      m[size_t((g - 1) * 9 + k)] += 1;
    }
  return m;
}

double offsetWeight(int weights, int dx, int dy) {
  const double ax = std::abs(dx), ay = std::abs(dy);
  switch (weights) {
    case 2: return 1.0 / std::max(ax, ay);
    case 3: return 1.0 / std::sqrt(ax * ax + ay * ay);
    case 4: return 1.0 / (ax + ay);
    default: return 1.0;
  }
}

// Mean of feature vectors, each feature over the vectors where it is defined.
struct Average {
  std::vector<double> sum;
  std::vector<int> count;
  void add(const std::vector<double>& f) {
    if (sum.empty()) sum.assign(f.size(), 0.0), count.assign(f.size(), 0);
    for (size_t i = 0; i < f.size(); ++i)
      if (!std::isnan(f[i])) sum[i] += f[i], ++count[i];
  }
  std::vector<double> mean(size_t n) const {
    std::vector<double> out(n, kNaN);
    for (size_t i = 0; i < sum.size() && i < n; ++i)
      if (count[i]) out[i] = sum[i] / count[i];
    return out;
  }
};

CString number(double v) {
  if (std::isnan(v) || std::isinf(v)) return L"NaN";
  return FmtStr("%.17g", v);
}

}  // namespace

bool VA_VolumeRadiomics2D(const VA_PARM_RADIOM2D* record, const wchar_t* name, const CVol* vol, int t,
                          CVol* const* rois, int count, CString* text, bool show) {
  const wchar_t* function = L"VA_VolumeRadiomics2D";
  auto fail = [&](const wchar_t* message) {
    if (show) twk::showNamedError(function, message);
    return false;
  };
  if (!record || !vol || !vol->frame || vol->IsROI() || !text) return fail(L"Integer or Real volume is required");
  const ROISTATPRESET& disc = record->discretisation;
  if (disc.rangeLow == VOID_VALUE || disc.rangeHigh == VOID_VALUE || disc.binWidth == VOID_VALUE)
    return fail(L"Histogram-based discretization is undefined.");
  double width = disc.binWidth;
  int ng = 0;
  if (!(disc.rangeHigh > disc.rangeLow) || !(width > 0) || !VA_CalcRangeBins(disc.rangeLow, disc.rangeHigh, &width, &ng) || ng < 1)
    return fail(L"Histogram-based discretization is undefined.");
  // The list must end within its 32 characters.
  const CString distanceList = twk::packedText(record->distances, 32);
  wchar_t last = 0;
  std::memcpy(&last, reinterpret_cast<const char*>(record->distances) + 31 * sizeof(wchar_t), sizeof last);
  if (distanceList.GetLength() == 31 && last != 0) return fail(L"The distance list is longer than 31 characters");
  int* distances = nullptr;
  int numDistances = 0;
  if (!PR_ExtractIntegers(distanceList, &distances, &numDistances))
    return fail(L"The distance list must hold positive integers");
  std::vector<int> dist(distances, distances + numDistances);
  pf_free(&distances);
  for (int d : dist)
    if (d < 1) return fail(L"The distance list must hold positive integers");
  if (record->weights < 0 || record->weights > 4) return fail(L"Invalid averaging weights");
  if (!(record->resolution >= 0) || !std::isfinite(record->resolution)) return fail(L"Invalid working resolution");
  if (t < 0 || vol->effT(t) >= vol->T()) return fail(L"Invalid time point");
  for (int r = 0; r < count; ++r)
    if (!rois[r] || !rois[r]->frame || !rois[r]->IsROI() || rois[r]->W() != vol->W() || rois[r]->H() != vol->H() ||
        rois[r]->D() != vol->D())
      return fail(L"The ROIs must be 3D ROIs of the volume's size");
  // Another working resolution: the time point and the ROIs resampled in-plane to it (slices kept),
  // the signal linearly, the ROIs linearly with the half-voxel rule of the resampler.
  std::unique_ptr<CVol> resampled;
  std::vector<std::unique_ptr<CVol>> resampledRois;
  if (record->resolution != 0 &&
      (std::fabs(record->resolution - vol->Vx()) > 1e-6 || std::fabs(record->resolution - vol->Vy()) > 1e-6)) {
    FRAME* one = VA_VolCropTimepoint(vol->frame, vol->effT(t));
    std::unique_ptr<CVol> single(one ? vol->CloneByReformat(&one) : nullptr);
    PR_FrameDelete(&one);
    if (!single) return fail(L"Not enough memory");
    const SPC target{record->resolution, record->resolution, vol->Vz()};
    resampled.reset(VA_VolChangeResolution(single.get(), &target, VA_INTERP_LINEAR, show));
    if (!resampled) return false;
    for (int r = 0; r < count; ++r) {
      resampledRois.emplace_back(VA_VolChangeResolution(rois[r], &target, VA_INTERP_LINEAR, show));
      if (!resampledRois.back()) return false;
    }
    vol = resampled.get();
    t = 0;
  }
  auto roiAt = [&](int r) -> const CVol* { return resampledRois.empty() ? rois[r] : resampledRois[size_t(r)].get(); };
  const int w = vol->W(), h = vol->H(), d = vol->D();
  Volume3 values;
  if (!readTimePoint(vol->frame, vol->effT(t), &values)) return fail(L"Invalid time point");

  const wchar_t* const weightNames[] = {L"No averaging", L"Constant", L"Infinity norm", L"Euclidinan norm",
                                        L"Manhattan norm"};
  CString out;
  std::vector<std::string> columns;
  bool columnsDone = false;
  CString rowsText;
  const int numRows = count > 0 ? count : 1;
  for (int r = 0; r < numRows; ++r) {
    const CVol* roi = count > 0 ? roiAt(r) : nullptr;
    std::vector<double> inside;
    std::vector<int> bins;
    if (record->firstOrder) inside.reserve(size_t(w) * h * d), bins.reserve(size_t(w) * h * d);
    std::vector<Slice> slices(static_cast<size_t>(d));
    for (int z = 0; z < d; ++z) {
      Slice& s = slices[size_t(z)];
      s.w = w, s.h = h;
      s.q.assign(size_t(w) * h, 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int64_t i = values.index(x, y, z);
          if (!values.valid[size_t(i)] || (roi && !twk::roiBit(roi->frame, x, y, z, 0))) continue;
          double v = values.v[size_t(i)];
          if (v < disc.rangeLow || v > disc.rangeHigh) {
            if (!disc.clip) continue;
            v = std::clamp(v, disc.rangeLow, disc.rangeHigh);
          }
          const int b = std::clamp(int(std::floor((v - disc.rangeLow) / width)) + 1, 1, ng);
          s.q[size_t(y * w + x)] = b;
          if (record->firstOrder) inside.push_back(v), bins.push_back(b);
        }
    }
    std::vector<std::pair<std::string, double>> row;
    if (record->firstOrder)
      for (const Feature& f : firstOrder(inside, bins, ng)) row.push_back({std::string("FO_") + f.name, f.value});
    // The in-plane offsets of each distance: (d,0), (d,d), (0,d), (-d,d).
    std::vector<std::pair<int, int>> offsets;
    for (int dd : dist)
      for (auto o : {std::pair{dd, 0}, std::pair{dd, dd}, std::pair{0, dd}, std::pair{-dd, dd}}) offsets.push_back(o);
    const std::pair<int, int> directions[] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}};
    const int maxRun = std::max(w, h);
    Average glcmAverage, runAverage, depAverage;
    for (const Slice& s : slices) {
      int voxels = 0;
      for (int g : s.q) voxels += g != 0;
      if (!voxels) continue;
      if (record->glcm) {
        Matrix merged(size_t(ng) * ng, 0.0);
        for (auto [dx, dy] : offsets) {
          Matrix m = glcm(s, ng, dx, dy, record->symmetric != 0);
          if (record->weights == 0) {
            glcmAverage.add(glcmFeatures(m, ng));
          } else {
            const double wgt = offsetWeight(record->weights, dx, dy);
            for (size_t k = 0; k < m.size(); ++k) merged[k] += wgt * m[k];
          }
        }
        if (record->weights != 0) glcmAverage.add(glcmFeatures(merged, ng));
      }
      if (record->glrlm) {
        Matrix merged(size_t(ng) * maxRun, 0.0);
        double mergedVoxels = 0;
        for (auto [dx, dy] : directions) {
          Matrix m = runs(s, ng, dx, dy, maxRun);
          if (record->weights == 0) {
            runAverage.add(zoneFeatures(m, ng, maxRun, voxels));
          } else {
            const double wgt = offsetWeight(record->weights, dx, dy);
            for (size_t k = 0; k < m.size(); ++k) merged[k] += wgt * m[k];
            mergedVoxels += wgt * voxels;
          }
        }
        if (record->weights != 0) runAverage.add(zoneFeatures(merged, ng, maxRun, mergedVoxels));
      }
      if (record->gldm) depAverage.add(zoneFeatures(dependence(s, ng, record->dependenceEps), ng, 9, voxels));
    }
    if (record->glcm) {
      const std::vector<double> f = glcmAverage.mean(kGlcmCount);
      for (int k = 0; k < kGlcmCount; ++k) row.push_back({std::string("GLCM_") + kGlcmNames[k], f[size_t(k)]});
    }
    if (record->glrlm) {
      const std::vector<double> f = runAverage.mean(kZoneCount);
      for (int k = 0; k < kZoneCount; ++k) row.push_back({std::string("GLRLM_") + kRunNames[k], f[size_t(k)]});
    }
    if (record->gldm) {
      const std::vector<double> f = depAverage.mean(kZoneCount);
      for (int k = 0; k < kZoneCount; ++k) row.push_back({std::string("GLDM_") + kDependenceNames[k], f[size_t(k)]});
    }
    if (!columnsDone) {
      for (const auto& c : row) columns.push_back(c.first);
      columnsDone = true;
    }
    CString rowName = name ? CString(name) : roi ? PR_GetFileTitleName(roi->name) : CString(L"whole volume");
    if (count > 1 && name) rowName.Format(L"%s_%d", name, r + 1);
    rowsText += rowName;
    for (const auto& c : row) rowsText += L"\t" + number(c.second);
    rowsText += L"\n";
  }
  if (record->headerRow) {
    out.Format(L"Radiomics 2D features: discretisation range [%s, %s], bin width %s, %d bins, clip %d; resolution "
               L"%s; distances %s; weights %s; aggregation 2D by slice, %s, averaged over slices\n",
               number(disc.rangeLow).GetString(), number(disc.rangeHigh).GetString(), number(width).GetString(), ng,
               int(disc.clip), record->resolution != 0 ? number(record->resolution).GetString() : L"native",
               distanceList.GetString(), weightNames[record->weights],
               record->weights == 0 ? L"directions not merged" : L"directions merged");
    out += L"ROI";
    for (const std::string& c : columns) out += L"\t" + CString::fromUtf8(c);
    out += L"\n";
  }
  *text = out + rowsText;
  return true;
}
