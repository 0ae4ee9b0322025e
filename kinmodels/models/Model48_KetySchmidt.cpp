// Type 48: the Kety-Schmidt model of a freely diffusible tracer, C(t) = f * integral of
// Ca(tau) exp(-(f/lambda)(t - tau)) d tau with the partition coefficient lambda. The fit runs over
// the first part of the curve (the analysis length) for a grid of arterial dispersions and delays,
// one single-variable simplex per pair; K = f/lambda is fitted per second and reported in
// ml/(100 g min).

#include <algorithm>
#include <cmath>
#include <vector>

#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 48;
// Dispersion times and delays are searched in quarter seconds.
constexpr double kSearchStep = 0.25;

// Prepared by the init, read-only while curves are computed.
struct KetyTables {
  int n = 0;                  // acquisition points
  int analysed = 0;           // points of the analysis length
  std::vector<double> times;  // seconds from the first acquisition (n)
  std::vector<double> input;  // the input function over the analysed points
  double lambda = 0.95;
  INTERVAL kBound;            // K per second
  double maxDelay = 0, maxDispersion = 0.001;
  int metric = 2;
};

KetyTables& tables() {
  static KetyTables t;
  return t;
}

// The working data of one curve, handed to the cost.
struct KetyFit {
  const KetyTables* tables;
  const double* input;     // the dispersed and delayed input
  const double* measured;  // the measured signal (analysed points)
  const double* info;      // its conversion record
  std::vector<double> conc, signal;
};

// C = lambda * K * J(K)(input) over the analysed points.
void M48_KetyCurve(const KetyTables& t, double k, const double* input, double* out) {
  PR_IntegralFunc_PWL_NegExp(k, input, t.times.data(), t.analysed, out);
  for (int i = 0; i < t.analysed; ++i) out[i] *= t.lambda * k;
}

// x = (K): the time integral of the squared (metric 2, then its root) or absolute (metric 1)
// difference of the model's signal from the measured one.
double M48_Cost(void* context, const double* x, const double* dx) {
  KetyFit& fit = *static_cast<KetyFit*>(context);
  const KetyTables& t = *fit.tables;
  const double k = x[0] + (dx ? dx[0] : 0.0);
  M48_KetyCurve(t, k, fit.input, fit.conc.data());
  if (!ConcentrationToSignal(fit.conc.data(), t.analysed, fit.signal.data(), fit.info)) return VOID_VALUE;
  return kit::IntegralDistance(t.metric, fit.signal.data(), fit.measured, t.times.data(), t.analysed);
}

// The input convolved with a normalised exponential of time constant h (h = 0: the input itself).
void disperse(const KetyTables& t, double h, double* out) {
  if (std::fabs(h) < 1e-100) {
    std::copy(t.input.begin(), t.input.end(), out);
    return;
  }
  PR_IntegralFunc_PWL_NegExp(1 / h, t.input.data(), t.times.data(), t.analysed, out);
  for (int i = 0; i < t.analysed; ++i) out[i] /= h;
}

void M48_ModelClose() { tables() = KetyTables{}; }

bool M48_ModelInit(const INPUTFUNC* ifuncs) {
  M48_ModelClose();
  KetyTables t;
  std::vector<double> input;
  if (!PrepareTimesAndInput(ifuncs, t.times, input)) return false;
  const double* p = freeParms(kType);
  if (!kit::ReadMetric(p[5], L"M48_ModelInit", &t.metric)) return false;
  t.lambda = p[0];
  t.kBound = IntervalOf(1e-12, p[1] / 6000);
  const double length = p[2];
  t.maxDelay = p[3];
  t.maxDispersion = std::max(0.001, p[4]);

  const int n = int(t.times.size());
  t.analysed = n;
  for (int i = 0; i < n; ++i)
    if (t.times[i] >= length) {
      t.analysed = i + 1;
      break;
    }
  if (t.analysed <= 4) {
    showNamedMessage(L"M48_ModelInit", L"Insufficient number of timepoints");
    return false;
  }
  t.input.assign(input.begin(), input.begin() + t.analysed);
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M48_ComputeParms(const CurveCall& call) {
  const KetyTables& t = tables();
  if (t.n != call.n || t.n < 1) return false;
  const int na = t.analysed;

  double info[3] = {};
  KetyFit fit{&t, nullptr, call.curve, info, std::vector<double>(na), std::vector<double>(na)};
  if (!SignalToConcentration(call.curve, na, fit.conc.data(), info)) return false;
  SingleCurveAnnouncement announcement(kType);

  const Optimisation choice = optimisation(kType);
  const long long total = std::max(1LL, (long long)std::ceil(4 * t.maxDelay));
  std::vector<double> dispersed(na), delayed(na);
  double best = VOID_VALUE, bestK = 0, bestDispersion = 0, bestDelay = 0;
  long long tried = 0;
  for (long long i = 0; kSearchStep * double(i) < t.maxDispersion; ++i) {
    const double h = kSearchStep * double(i);
    disperse(t, h, dispersed.data());
    if (t.maxDelay < 0) continue;
    for (long long j = 0; kSearchStep * double(j) <= t.maxDelay; ++j) {
      const double l = kSearchStep * double(j);
      kit::ReportStep(tried++, total);
      if (!DelayOnTimes(dispersed.data(), t.times.data(), na, l, delayed.data())) return false;
      fit.input = delayed.data();
      double cost = VOID_VALUE, k = 0;
      if (!PR_OptimizeAmoebaOverGrid(choice.optA, 1, &t.kBound, true, M48_Cost, &fit, choice.optB, 0.0, &cost, &k))
        return false;
      if (cost < best) {
        best = cost;
        bestK = k;
        bestDispersion = h;
        bestDelay = l;
      }
    }
  }
  if (!(best < VOID_VALUE)) return false;

  if (call.fitCurve) {
    disperse(t, bestDispersion, dispersed.data());
    if (!DelayOnTimes(dispersed.data(), t.times.data(), na, bestDelay, delayed.data())) return false;
    M48_KetyCurve(t, bestK, delayed.data(), fit.conc.data());
    if (!ConcentrationToSignal(fit.conc.data(), na, call.fitCurve, info)) return false;
  }
  call.out->put(0, bestK * 6000);
  call.out->put(1, bestK * 6000 * t.lambda);
  call.out->put(2, bestDelay);
  call.out->put(3, bestDispersion);
  call.out->put(4, best);
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs48[] = {
    {"K", "g/100mlXmin", 1},
    {"f", "g/100mlXmin", 1},
    {"Ta - arterial delay", "sec", 1},
    {"Dispersion time", "sec", 1},
    {"residual", "", 5},
};
constexpr FreeParmSpec kFreeParms48[] = {
    {"Lambda (ml/g)", 0.95},
    {"Max K ml/(100gXmin)", 500},
    {"Alaysis length (sec)", 300},
    {"Max Arterial delay (sec)", 10},
    {"Max Arterial dispersion (sec)", 10},
    {"Use L1 or L2 residual metric", 2},
};
const ModelSpec kModel48 = {
    .type = 48,
    .name = "48. Kety-Schmidt model { K}",
    .outputs = kOutputs48,
    .freeParms = kFreeParms48,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModCT | kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 50, .optB = 5000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M48_ModelInit, .compute = M48_ComputeParms, .close = M48_ModelClose},
};

}  // namespace kin
