// Type 0, basic measurements: statistics of the concentration curve over an index range.
//
// Statistics are those of the range's values as a population: mean, median (the mean of the two
// middle values for an even count), standard deviation with divisor n, skewness m3 / m2^1.5 and
// excess kurtosis m4 / m2^2 - 3 (both 0 for a flat range).

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "ModelTable.h"

namespace kin {
namespace {

constexpr int kType = 0;
enum Output { kMax, kSpread, kMedian, kMean, kStdDev, kCoeffOfVariation, kSkewness, kKurtosis };

// The 0-based range chosen by the free parameters, set by init.
struct Range {
  int first = 0;
  int last = 0;
} range;

bool M0_ModelInit(const INPUTFUNC*) {
  return RangeFromStartLength(freeParm(kType, 0), freeParm(kType, 1), acquisition().n, &range.first, &range.last);
}

struct Statistics {
  double max, min, median, mean, stdDev, skewness, kurtosis;
};

Statistics statisticsOf(std::vector<double> values) {
  Statistics s{};
  const size_t count = values.size();
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  s.min = *lo;
  s.max = *hi;
  double sum = 0;
  for (double v : values) sum += v;
  s.mean = sum / double(count);
  double m2 = 0, m3 = 0, m4 = 0;
  for (double v : values) {
    const double d = v - s.mean;
    m2 += d * d;
    m3 += d * d * d;
    m4 += d * d * d * d;
  }
  m2 /= double(count);
  m3 /= double(count);
  m4 /= double(count);
  s.stdDev = std::sqrt(m2);
  s.skewness = m2 > 0 ? m3 / std::pow(m2, 1.5) : 0;
  s.kurtosis = m2 > 0 ? m4 / (m2 * m2) - 3 : 0;
  const size_t middle = count / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  s.median = values[middle];
  if (count % 2 == 0) s.median = (s.median + *std::max_element(values.begin(), values.begin() + middle)) / 2;
  return s;
}

bool M0_ComputeParms(const CurveCall& call) {
  std::vector<double> conc(call.n);
  if (!SignalToConcentration(call.curve, call.n, conc.data())) return false;
  int first = range.first, last = range.last;
  if (first == 0 && last == 0) last = call.n - 1;
  const Statistics s = statisticsOf(std::vector<double>(conc.begin() + first, conc.begin() + last + 1));
  const OutputWriter& out = *call.out;
  out.put(kMax, s.max);
  out.put(kSpread, s.max - s.min);
  out.put(kMedian, s.median);
  out.put(kMean, s.mean);
  out.put(kStdDev, s.stdDev);
  out.put(kCoeffOfVariation, std::fabs(s.mean) < 1e-100 ? 0.0 : s.stdDev / s.mean);
  out.put(kSkewness, s.skewness);
  out.put(kKurtosis, s.kurtosis);
  return true;
}

constexpr ModelOps kOps = {.init = M0_ModelInit, .compute = M0_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs00[] = {
    {"Max value", "", 1},
    {"Value spread", "", 1},
    {"Median value", "", 1},
    {"Mean value", "", 1},
    {"Value StdDev", "", 1},
    {"CoeffOfVariation", "", 1},
    {"Skewness", "", 1},
    {"Kurtosis", "", 1},
};
constexpr FreeParmSpec kFreeParms00[] = {
    {"Start Index", 0},
    {"Length (0=all remaining)", 0},
};
const ModelSpec kModel00 = {
    .type = 0,
    .name = "0. Basic measurements",
    .outputs = kOutputs00,
    .freeParms = kFreeParms00,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisAny,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
