#include "roi/RoiStatistics.h"

#include <itkHistogram.h>
#include <itkOtsuMultipleThresholdsCalculator.h>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "numerics/Optimize.h"
#include "roi/RunComponents.h"
#include "volops/VoxelLines.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

bool frameOk(const FRAME* f) { return f && f->data && twk::voxelElemOf(f) != twk::VoxelElem::Invalid; }

bool maskFits(const FRAME* frame, const FRAME* mask, int maskT) {
  return !mask || (mask->type == FRM_ROI && mask->dim.w == frame->dim.w && mask->dim.h == frame->dim.h &&
                   mask->dim.d == frame->dim.d && maskT >= 0 && maskT < mask->dim.t);
}

// The defined voxels of time point t inside the mask, in voxel order; lines in parallel.
std::vector<double> maskedValues(const FRAME* frame, int t, const FRAME* mask, int maskT) {
  const int64_t h = frame->dim.h, lines = h * frame->dim.d;
  std::vector<std::vector<double>> perLine(static_cast<size_t>(lines));
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 32), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> line;
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const int64_t y = i % h, z = i / h;
      twk::lineToDoubles(frame, y, z, t, line);
      const uint8_t* bits = mask ? twk::frameLine(mask, y, z, maskT) : nullptr;
      std::vector<double>& out = perLine[size_t(i)];
      for (int64_t x = 0; x < frame->dim.w; ++x) {
        const double v = line[size_t(x)];
        if (v == VOID_VALUE || v != v) continue;
        if (bits && !twk::getBit(bits, x)) continue;
        out.push_back(v);
      }
    }
  });
  size_t n = 0;
  for (const auto& l : perLine) n += l.size();
  std::vector<double> all;
  all.reserve(n);
  for (const auto& l : perLine) all.insert(all.end(), l.begin(), l.end());
  return all;
}

double percentileOfSorted(const std::vector<double>& s, double p) {
  if (s.empty()) return 0.0;
  const double pos = p / 100.0 * double(s.size() - 1);
  const size_t i = size_t(std::floor(pos));
  const double f = pos - double(i);
  return i + 1 < s.size() ? s[i] + f * (s[i + 1] - s[i]) : s[i];
}

// Moments, order statistics; the entropy is left to the histogram.
void describe(std::vector<double>& v, VA_ROIINFO* info) {
  VA_ROIINFO r;
  const double n = double(v.size());
  double m = 0;
  for (double x : v) m += x;
  m /= n;
  double m2 = 0, m3 = 0, m4 = 0;
  for (double x : v) {
    const double d = x - m, d2 = d * d;
    m2 += d2;
    m3 += d2 * d;
    m4 += d2 * d2;
  }
  m2 /= n;
  m3 /= n;
  m4 /= n;
  r.mean = m;
  r.variance = m2;
  r.stdev = std::sqrt(m2);
  r.skewness = m2 > 0 ? m3 / std::pow(m2, 1.5) : 0.0;
  r.kurtosis = m2 > 0 ? m4 / (m2 * m2) - 3.0 : 0.0;
  std::sort(v.begin(), v.end());
  r.minimum = v.front();
  r.maximum = v.back();
  r.median = percentileOfSorted(v, 50);
  const double ps[9] = {1, 5, 10, 25, 50, 75, 90, 95, 99};
  for (int k = 0; k < 9; ++k) r.percentile[k] = percentileOfSorted(v, ps[k]);
  r.count = uint32_t(std::min<size_t>(v.size(), UINT32_MAX));
  r.volumeCm3 = info->volumeCm3;
  *info = r;
}

}  // namespace

bool VA_StatisticsOfValues(double* values, int64_t n, VA_ROIINFO* info) {
  if (!values || n < 1 || !info) return false;
  std::vector<double> v(values, values + n);
  describe(v, info);
  std::copy(v.begin(), v.end(), values);
  return true;
}

bool VA_CalcRangeBins(double low, double high, double* binWidth, int* bins) {
  if (!binWidth || !bins || !(high >= low)) return false;
  const bool haveWidth = *binWidth != VOID_VALUE, haveBins = *bins > 0;
  if (haveWidth == haveBins) return false;
  if (haveWidth) {
    if (!(*binWidth > 0)) return false;
    const double n = std::ceil((high - low) / *binWidth - 1e-9);
    if (n > 1e8) return false;
    *bins = std::max(1, int(n));
  } else {
    *binWidth = high > low ? (high - low) / *bins : 1.0;
  }
  return true;
}

uint64_t* VA_VolCalcRoiInfo(bool show, const FRAME* frame, int t, const FRAME* mask, int maskT, double low,
                            double high, bool clip, double binWidth, int bins, VA_ROIINFO* info) {
  const wchar_t* name = L"VA_VolCalcRoiInfo";
  if (!frameOk(frame) || !info || t < 0 || t >= frame->dim.t || !maskFits(frame, mask, maskT)) {
    report(name, L"Invalid volume or ROI", show);
    return nullptr;
  }
  if (!VA_CalcRangeBins(low, high, &binWidth, &bins)) {
    report(name, L"Invalid histogram range or bins", show);
    return nullptr;
  }
  std::vector<double> values = maskedValues(frame, t, mask, mask ? maskT : 0);
  if (clip) values.erase(std::remove_if(values.begin(), values.end(), [&](double v) { return v < low || v > high; }),
                         values.end());
  if (values.empty()) {
    report(name, L"ROI is empty", show);
    return nullptr;
  }
  uint64_t* histogram = static_cast<uint64_t*>(pf_calloc(int64_t(bins) * int64_t(sizeof(uint64_t))));
  if (!histogram) return nullptr;
  for (double v : values) {
    if (v < low || v > high) continue;
    const int64_t b = std::min<int64_t>(bins - 1, int64_t(std::floor((v - low) / binWidth)));
    ++histogram[std::max<int64_t>(0, b)];
  }
  describe(values, info);
  uint64_t total = 0;
  for (int b = 0; b < bins; ++b) total += histogram[b];
  double entropy = 0;
  for (int b = 0; b < bins && total; ++b)
    if (histogram[b]) {
      const double p = double(histogram[b]) / double(total);
      entropy -= p * std::log(p);
    }
  info->entropy = entropy;
  return histogram;
}

bool VA_VolCalcRoiInfoCutPct(const FRAME* frame, int t, const FRAME* mask, int maskT, double cutLow, double cutHigh,
                             VA_ROIINFO* info, bool show) {
  if (!frameOk(frame) || !info || t < 0 || t >= frame->dim.t || !maskFits(frame, mask, maskT) || cutLow < 0 ||
      cutHigh < 0 || cutLow + cutHigh >= 100) {
    report(L"VA_VolCalcRoiInfoCutPct", L"Invalid volume or ROI", show);
    return false;
  }
  std::vector<double> values = maskedValues(frame, t, mask, mask ? maskT : 0);
  if (values.empty()) {
    report(L"VA_VolCalcRoiInfoCutPct", L"ROI is empty", show);
    return false;
  }
  if (cutLow > 0 || cutHigh > 0) {
    std::sort(values.begin(), values.end());
    const size_t drop0 = size_t(double(values.size()) * cutLow / 100.0);
    const size_t drop1 = size_t(double(values.size()) * cutHigh / 100.0);
    values = std::vector<double>(values.begin() + long(drop0), values.end() - long(drop1));
    if (values.empty()) return false;
  }
  describe(values, info);
  return true;
}

bool VA_VolRangePercent(const FRAME* frame, int t, double lowPercent, double highPercent, double* low, double* high) {
  if (!frameOk(frame) || !low || !high || t < 0 || t >= frame->dim.t) return false;
  std::vector<double> values = maskedValues(frame, t, nullptr, 0);
  if (values.empty()) return false;
  std::sort(values.begin(), values.end());
  *low = percentileOfSorted(values, lowPercent);
  *high = percentileOfSorted(values, highPercent);
  return true;
}

bool VA_GetBlobStats(const FRAME* frame, const FRAME* mask, int t, int* count, double* blobMean, double* blobStdev,
                     double* nonuniformity) {
  if (!frameOk(frame) || !mask || t < 0 || t >= frame->dim.t || !maskFits(frame, mask, 0)) return false;
  twk::cc::RunLabels labels;
  if (!twk::cc::labelRoi(mask, 0, 26, false, false, &labels)) return false;
  const int64_t n = labels.count;
  std::vector<double> sum(size_t(n), 0.0), defined(size_t(n), 0.0);
  std::vector<double> line;
  const int64_t h = labels.dim.h;
  for (int64_t l = 0; l < h * labels.dim.d; ++l) {
    if (labels.lineStart[size_t(l)] == labels.lineStart[size_t(l) + 1]) continue;
    twk::lineToDoubles(frame, l % h, l / h, t, line);
    for (int64_t r = labels.lineStart[size_t(l)]; r < labels.lineStart[size_t(l) + 1]; ++r) {
      const twk::cc::Run& run = labels.runs[size_t(r)];
      for (int x = run.x0; x <= run.x1; ++x)
        if (line[size_t(x)] != VOID_VALUE) {
          sum[labels.label[size_t(r)]] += line[size_t(x)];
          defined[labels.label[size_t(r)]] += 1;
        }
    }
  }
  double sizeMean = 0, sizeVar = 0, signalMean = 0, signalVar = 0, overall = 0, overallCount = 0;
  for (int64_t c = 0; c < n; ++c) {
    sizeMean += double(labels.size[size_t(c)]);
    overall += sum[size_t(c)];
    overallCount += defined[size_t(c)];
  }
  if (n > 0) sizeMean /= double(n);
  for (int64_t c = 0; c < n; ++c) {
    const double d = double(labels.size[size_t(c)]) - sizeMean;
    sizeVar += d * d;
    signalMean += defined[size_t(c)] > 0 ? sum[size_t(c)] / defined[size_t(c)] : 0.0;
  }
  if (n > 0) {
    sizeVar /= double(n);
    signalMean /= double(n);
  }
  for (int64_t c = 0; c < n; ++c) {
    const double m = defined[size_t(c)] > 0 ? sum[size_t(c)] / defined[size_t(c)] : 0.0;
    signalVar += (m - signalMean) * (m - signalMean);
  }
  if (n > 0) signalVar /= double(n);
  const double mean = overallCount > 0 ? overall / overallCount : 0.0;
  if (count) *count = int(n);
  if (blobMean) *blobMean = sizeMean;
  if (blobStdev) *blobStdev = std::sqrt(sizeVar);
  if (nonuniformity) *nonuniformity = std::fabs(mean) > 1e-100 ? std::sqrt(signalVar) / std::fabs(mean) : 0.0;
  return true;
}

// ---- histogram segmentation ----

namespace {

std::vector<int> otsu(const uint64_t* histogram, int bins, int segments) {
  using Histogram = itk::Statistics::Histogram<double>;
  auto h = Histogram::New();
  Histogram::SizeType size(1);
  size[0] = itk::SizeValueType(bins);
  Histogram::MeasurementVectorType lower(1), upper(1);
  lower[0] = 0.0;
  upper[0] = double(bins);
  h->SetMeasurementVectorSize(1);
  h->Initialize(size, lower, upper);
  for (int b = 0; b < bins; ++b) h->SetFrequency(Histogram::InstanceIdentifier(b), double(histogram[b]));
  auto calculator = itk::OtsuMultipleThresholdsCalculator<Histogram>::New();
  calculator->SetInputHistogram(h);
  calculator->SetNumberOfThresholds(itk::SizeValueType(segments - 1));
  calculator->Compute();
  std::vector<int> cuts{0};
  // Each threshold is the upper edge of the last bin of a class: the next class starts there.
  for (double v : calculator->GetOutput()) cuts.push_back(std::clamp(int(std::lround(v)), 1, bins - 1));
  cuts.push_back(bins);
  return cuts;
}

struct BimodalFit {
  const std::vector<double>* counts;
  bool laplace;
  const VA_BIMODALSPLIT* record;
};

double component(bool laplace, double amplitude, double centre, double width, double x) {
  if (width <= 0) return 0;
  const double u = (x - centre) / width;
  return laplace ? amplitude * std::exp(-std::fabs(u)) : amplitude * std::exp(-0.5 * u * u);
}
double mass(bool laplace, double amplitude, double width) {
  return laplace ? 2.0 * amplitude * width : amplitude * width * std::sqrt(2.0 * M_PI);
}

// Least squares with the ratio constraints as penalties: x = A1, c1, w1, A2, c2, w2 (bin units;
// positions measured from bin -1 so that ratios stay finite at bin 0).
double bimodalCost(void* context, const double* x, const double* dx) {
  const BimodalFit& f = *static_cast<BimodalFit*>(context);
  double p[6];
  for (int i = 0; i < 6; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  const std::vector<double>& c = *f.counts;
  double cost = 0;
  for (size_t b = 0; b < c.size(); ++b) {
    const double xb = double(b) + 0.5;
    const double model = component(f.laplace, p[0], p[1], p[2], xb) + component(f.laplace, p[3], p[4], p[5], xb);
    cost += (model - c[b]) * (model - c[b]);
  }
  const double peak = (p[4] + 1.0) / std::max(1e-9, p[1] + 1.0);
  double penalty = 0;
  if (peak < f.record->peakRatioLow) penalty += f.record->peakRatioLow - peak;
  if (peak > f.record->peakRatioHigh) penalty += peak - f.record->peakRatioHigh;
  if (f.record->constrainMassRatio) {
    const double m = mass(f.laplace, p[3], p[5]) / std::max(1e-300, mass(f.laplace, p[0], p[2]));
    if (m < f.record->massRatioLow) penalty += f.record->massRatioLow - m;
    if (m > f.record->massRatioHigh) penalty += m - f.record->massRatioHigh;
  }
  return cost * (1.0 + 100.0 * penalty) + penalty * 1e3;
}

// Gaussian mixture on the histogram by EM (bin centres weighted by their counts).
bool gaussianMixture(const std::vector<double>& c, int k, std::vector<double>* weight, std::vector<double>* mu,
                     std::vector<double>* sigma) {
  const size_t bins = c.size();
  const double total = std::accumulate(c.begin(), c.end(), 0.0);
  if (total <= 0) return false;
  // Start at the class centres of equal-mass quantiles.
  weight->assign(size_t(k), 1.0 / k);
  mu->assign(size_t(k), 0.0);
  sigma->assign(size_t(k), std::max(1.0, double(bins) / (4.0 * k)));
  double acc = 0;
  int cls = 0;
  for (size_t b = 0; b < bins && cls < k; ++b) {
    acc += c[b];
    while (cls < k && acc >= total * (cls + 0.5) / k) (*mu)[size_t(cls++)] = double(b) + 0.5;
  }
  std::vector<double> r(bins * size_t(k));
  for (int iter = 0; iter < 500; ++iter) {
    for (size_t b = 0; b < bins; ++b) {
      double s = 0;
      for (int j = 0; j < k; ++j) {
        const double u = (double(b) + 0.5 - (*mu)[size_t(j)]) / (*sigma)[size_t(j)];
        const double p = (*weight)[size_t(j)] / (*sigma)[size_t(j)] * std::exp(-0.5 * u * u);
        r[b * size_t(k) + size_t(j)] = p;
        s += p;
      }
      for (int j = 0; j < k; ++j) r[b * size_t(k) + size_t(j)] = s > 0 ? r[b * size_t(k) + size_t(j)] / s : 1.0 / k;
    }
    double change = 0;
    for (int j = 0; j < k; ++j) {
      double n = 0, m = 0, v = 0;
      for (size_t b = 0; b < bins; ++b) {
        const double w = c[b] * r[b * size_t(k) + size_t(j)];
        n += w;
        m += w * (double(b) + 0.5);
      }
      if (n <= 0) continue;
      m /= n;
      for (size_t b = 0; b < bins; ++b) {
        const double d = double(b) + 0.5 - m;
        v += c[b] * r[b * size_t(k) + size_t(j)] * d * d;
      }
      v = std::max(v / n, 1.0 / 12.0);  // a class narrower than one bin keeps a bin's width
      change = std::max(change, std::fabs(m - (*mu)[size_t(j)]));
      (*weight)[size_t(j)] = n / total;
      (*mu)[size_t(j)] = m;
      (*sigma)[size_t(j)] = std::sqrt(v);
    }
    if (change < 1e-7) break;
  }
  return true;
}

}  // namespace

int* VA_SegHist(const uint64_t* histogram, int bins, int method, int segments, const VA_BIMODALSPLIT* record,
                double** models, double* residual, double* peakRatio, double* massRatio, bool show) {
  const wchar_t* name = L"VA_SegHist";
  if (models) *models = nullptr;
  if (!histogram || bins < 2 || segments < 2 || segments > bins || method < 0 || method > 3) {
    report(name, L"Invalid histogram or segments", show);
    return nullptr;
  }
  if ((method == 1 || method == 2) && (segments != 2 || !record)) {
    report(name, L"The bimodal split needs two segments and its settings", show);
    return nullptr;
  }
  std::vector<double> c(static_cast<size_t>(bins));
  for (int b = 0; b < bins; ++b) c[size_t(b)] = double(histogram[b]);
  std::vector<int> cuts;
  std::vector<double> curves(size_t(segments) * size_t(bins), 0.0);
  std::vector<double> classMass(size_t(segments), 0.0), classPeak(size_t(segments), 0.0);
  try {
    if (method == VA_HISTSEG_OTSU) {
      cuts = otsu(histogram, bins, segments);
    } else if (method == VA_HISTSEG_GMM) {
      std::vector<double> w, mu, sigma;
      if (!gaussianMixture(c, segments, &w, &mu, &sigma)) return nullptr;
      std::vector<int> order(static_cast<size_t>(segments));
      std::iota(order.begin(), order.end(), 0);
      std::sort(order.begin(), order.end(), [&](int a, int b) { return mu[size_t(a)] < mu[size_t(b)]; });
      const double total = std::accumulate(c.begin(), c.end(), 0.0);
      cuts.push_back(0);
      int previous = order[0];
      for (int b = 0; b < bins; ++b) {
        // The class of the bin centre: the largest weighted density.
        int best = order[0];
        double bestP = -1;
        for (int j : order) {
          const double u = (b + 0.5 - mu[size_t(j)]) / sigma[size_t(j)];
          const double p = w[size_t(j)] / sigma[size_t(j)] * std::exp(-0.5 * u * u);
          if (p > bestP) {
            bestP = p;
            best = j;
          }
        }
        if (best != previous && int(cuts.size()) < segments) cuts.push_back(b);
        previous = best;
      }
      while (int(cuts.size()) < segments) cuts.push_back(std::min(bins - 1, cuts.back() + 1));
      cuts.push_back(bins);
      for (int s = 0; s < segments; ++s) {
        const int j = order[size_t(s)];
        for (int b = 0; b < bins; ++b) {
          const double u = (b + 0.5 - mu[size_t(j)]) / sigma[size_t(j)];
          curves[size_t(s) * bins + size_t(b)] = total * w[size_t(j)] / (sigma[size_t(j)] * std::sqrt(2 * M_PI)) * std::exp(-0.5 * u * u);
        }
        classMass[size_t(s)] = w[size_t(j)];
        classPeak[size_t(s)] = mu[size_t(j)];
      }
    } else {
      const bool laplace = method == VA_HISTSEG_BILAPLACE;
      const std::vector<int> start = otsu(histogram, bins, 2);
      BimodalFit fit{&c, laplace, record};
      const double top = *std::max_element(c.begin(), c.end());
      const INTERVAL box[6] = {{0, 2 * top}, {0, double(start[1])}, {0.3, double(bins)},
                               {0, 2 * top}, {double(start[1]), double(bins)}, {0.3, double(bins)}};
      double best[6], cost = 0;
      const int iterations = std::clamp(record->iterations, 100, 1000000);
      if (!PR_OptimizeAmoebaOverGrid(5, 6, box, true, &bimodalCost, &fit, iterations / 10, 0.0, &cost, best)) {
        report(name, L"The bimodal fit failed", show);
        return nullptr;
      }
      // The threshold: the first bin after the lower peak where the upper component dominates.
      int cut = bins - 1;
      for (int b = std::max(0, int(best[1])); b < bins; ++b) {
        const double xb = b + 0.5;
        if (component(laplace, best[3], best[4], best[5], xb) > component(laplace, best[0], best[1], best[2], xb)) {
          cut = std::max(1, b);
          break;
        }
      }
      cuts = {0, cut, bins};
      for (int b = 0; b < bins; ++b) {
        curves[size_t(b)] = component(laplace, best[0], best[1], best[2], b + 0.5);
        curves[size_t(bins) + size_t(b)] = component(laplace, best[3], best[4], best[5], b + 0.5);
      }
      classMass = {mass(laplace, best[0], best[2]), mass(laplace, best[3], best[5])};
      classPeak = {best[1], best[4]};
    }
  } catch (const itk::ExceptionObject& e) {
    report(name, CString(e.GetDescription()), show);
    return nullptr;
  }
  if (method == VA_HISTSEG_OTSU) {
    // Otsu fits no curves: the classes' masses and mean positions describe them.
    for (int s = 0; s < segments; ++s) {
      double m = 0, sx = 0;
      for (int b = cuts[size_t(s)]; b < cuts[size_t(s) + 1]; ++b) {
        m += c[size_t(b)];
        sx += c[size_t(b)] * (b + 0.5);
      }
      classMass[size_t(s)] = m;
      classPeak[size_t(s)] = m > 0 ? sx / m : 0;
    }
  }
  double rss = 0;
  for (int b = 0; b < bins; ++b) {
    double model = 0;
    for (int s = 0; s < segments; ++s) model += curves[size_t(s) * bins + size_t(b)];
    rss += (model - c[size_t(b)]) * (model - c[size_t(b)]);
  }
  if (residual) *residual = method == VA_HISTSEG_OTSU ? 0.0 : std::sqrt(rss / bins);
  const size_t last = size_t(segments) - 1;
  if (peakRatio) *peakRatio = (classPeak[last] + 1.0) / std::max(1e-300, classPeak[0] + 1.0);
  if (massRatio) *massRatio = classMass[last] / std::max(1e-300, classMass[0]);
  int* out = static_cast<int*>(pf_malloc(int64_t(cuts.size()) * int64_t(sizeof(int))));
  if (!out) return nullptr;
  std::copy(cuts.begin(), cuts.end(), out);
  if (models) {
    *models = static_cast<double*>(pf_malloc(int64_t(curves.size()) * int64_t(sizeof(double))));
    if (*models) std::copy(curves.begin(), curves.end(), *models);
  }
  return out;
}

// ---- voxel conversions ----

FRAME* VA_VolThreshold(const FRAME* frame, int t, double low, double high, bool show) {
  if (!frameOk(frame) || t < 0 || t >= frame->dim.t) {
    report(L"VA_VolThreshold", L"Invalid volume", show);
    return nullptr;
  }
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, DIM3D{frame->dim.w, frame->dim.h, frame->dim.d, 1}, true);
  if (!out) return nullptr;
  const int64_t h = frame->dim.h;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, h * frame->dim.d, 32), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> line;
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      twk::lineToDoubles(frame, i % h, i / h, t, line);
      uint8_t* bits = twk::frameLine(out, i % h, i / h, 0);
      for (int64_t x = 0; x < frame->dim.w; ++x) {
        const double v = line[size_t(x)];
        if (v != VOID_VALUE && v >= low && v <= high) twk::setBit(bits, x, true);
      }
    }
  });
  return out;
}

FRAME* VA_VolSubAndDivide(int type, const FRAME* frame, double offset, double divisor, bool show) {
  const wchar_t* name = L"VA_VolSubAndDivide";
  if (!frameOk(frame) || type != FRM_REAL) {
    report(name, L"Invalid volume", show);
    return nullptr;
  }
  if (!(std::fabs(divisor) >= 1e-100)) {
    report(name, L"Division by zero", show);
    return nullptr;
  }
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, frame->dim, false);
  if (!out) return nullptr;
  const int64_t h = frame->dim.h, lines = h * frame->dim.d * frame->dim.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 32), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> line;
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const int64_t y = i % h, s = i / h;
      twk::lineToDoubles(frame, y, s % frame->dim.d, s / frame->dim.d, line);
      double* dst = reinterpret_cast<double*>(twk::frameLine(out, y, s % frame->dim.d, s / frame->dim.d));
      for (int64_t x = 0; x < frame->dim.w; ++x)
        dst[x] = line[size_t(x)] == VOID_VALUE ? VOID_VALUE : (line[size_t(x)] - offset) / divisor;
    }
  });
  return out;
}

namespace {

// Applies f to every defined voxel (inside the ROI when given) of every time point, in place.
template <class F>
void mapVoxels(FRAME* frame, const FRAME* roi, F f) {
  const int64_t h = frame->dim.h, lines = h * frame->dim.d * frame->dim.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 32), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const int64_t y = i % h, s = i / h, z = s % frame->dim.d, t = s / frame->dim.d;
      const uint8_t* bits = roi ? twk::frameLine(roi, y, z, roi->dim.t == 1 ? 0 : t) : nullptr;
      for (int64_t x = 0; x < frame->dim.w; ++x) {
        if (bits && !twk::getBit(bits, x)) continue;
        const double v = twk::voxelValue(frame, x, y, z, t);
        if (v == VOID_VALUE || (frame->type == FRM_INT && frame->bpv == 32 && v == double(VOID_INT_VALUE))) continue;
        twk::setVoxelValue(frame, x, y, z, t, f(v));
      }
    }
  });
}

}  // namespace

bool VA_VolInvert(FRAME* frame, bool show) {
  if (!frameOk(frame) || frame->type == FRM_ROI) {
    report(L"VA_VolInvert", L"Integer or Real volume is required", show);
    return false;
  }
  double lo = 0, hi = 0;
  std::vector<double> values = maskedValues(frame, 0, nullptr, 0);
  for (int t = 1; t < frame->dim.t; ++t) {
    std::vector<double> more = maskedValues(frame, t, nullptr, 0);
    values.insert(values.end(), more.begin(), more.end());
  }
  if (values.empty()) return true;
  const auto mm = std::minmax_element(values.begin(), values.end());
  lo = *mm.first;
  hi = *mm.second;
  mapVoxels(frame, nullptr, [&](double v) { return lo + hi - v; });
  return true;
}
