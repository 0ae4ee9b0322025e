// Type 41, the dual-input liver model with all four parameters F, fa, ve and Ki fitted on the
// frames before "Analysis length (sec)", at every pair of whole-second venous and arterial delays up
// to their maxima. The fit compares concentrations by the root of the integrated squared
// difference (or the integrated absolute one).

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "DualInputLiver.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 41;

struct Liver41Tables {
  int n = 0;
  int analysed = 0;            // frames compared
  std::vector<double> times;   // seconds from the first frame
  std::vector<double> arterial, venous;
  INTERVAL box[4];             // F (per second), fa, ve, Ki (per second)
  int metric = 2;
  double maxArterialDelay = 5, maxVenousDelay = 0;
};

Liver41Tables& tables() {
  static Liver41Tables t;
  return t;
}

struct Liver41Fit {
  const Liver41Tables* tables;
  const double* tissue;  // concentration
  const double* ca;      // delayed inputs
  const double* cv;
  liver::CurveWork work;
  std::vector<double> model;
};

// The tissue curve over the analysed frames; false when it cannot be built.
bool M41_UptakeCurve(Liver41Fit& fit, const double* p) {
  const Liver41Tables& t = *fit.tables;
  return liver::UptakeCurve(p[0], p[1], p[2], p[3], fit.ca, fit.cv, t.times.data(), t.analysed, fit.work,
                            fit.model.data());
}

double M41_Cost(void* context, const double* x, const double* dx) {
  Liver41Fit& fit = *static_cast<Liver41Fit*>(context);
  double p[4];
  kit::CostPoint(x, dx, 4, p);
  if (!M41_UptakeCurve(fit, p)) return VOID_VALUE;
  const Liver41Tables& t = *fit.tables;
  return kit::IntegralDistanceCost(t.metric, fit.model.data(), fit.tissue, t.times.data(), t.analysed);
}

void M41_ModelClose() { tables() = Liver41Tables{}; }

bool M41_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  const double* p = freeParms(kType);
  Liver41Tables t;
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, t.times)) return false;
  t.analysed = kit::FirstIndexAtOrAfter(t.times.data(), n, p[6]);
  if (t.analysed < 2) {
    // Nothing before the analysis length to compare the model with.
    showNamedMessage(L"M41_ModelInit", L"Analysis length is too short");
    return false;
  }
  liver::FourParameterBoxes(p, {0.01, 0.99}, t.box);
  if (!CheckIfuncTiming(ifuncs, 2, n)) return false;
  t.arterial.assign(ifuncs[0].values, ifuncs[0].values + n);
  t.venous.assign(ifuncs[1].values, ifuncs[1].values + n);
  const int arterialPeak = kit::FirstMaxIndex(t.arterial.data(), t.analysed);
  const int venousPeak = kit::FirstMaxIndex(t.venous.data(), t.analysed);
  if (venousPeak < arterialPeak && !askYesNo(L"Arterial peak seem to happen later than one for vein.\nProceed anyway?"))
    return false;
  if (!kit::ReadMetric(p[7], L"M41_ModelInit", &t.metric)) return false;
  t.maxArterialDelay = p[4];
  t.maxVenousDelay = p[5];
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M41_ComputeParms(const CurveCall& call) {
  const Liver41Tables& t = tables();
  const int n = call.n;
  const double* times = t.times.data();
  std::vector<double> tissue(n);
  if (!SignalToConcentration(call.curve, n, tissue.data())) return false;

  Liver41Fit fit{&t, tissue.data(), nullptr, nullptr, liver::CurveWork(n), std::vector<double>(n)};
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  const long long total = std::max(1LL, (long long)std::ceil(std::min(t.maxVenousDelay, 1e9))) *
                          std::max(1LL, (long long)std::ceil(std::min(t.maxArterialDelay, 1e9)));
  double best = VOID_VALUE, bestP[4] = {}, bestArterial = 0, bestVenous = 0;
  std::vector<double> ca, cv;
  long long tried = 0;
  for (long long v = 0; double(v) <= t.maxVenousDelay; ++v) {
    if (!kit::Take(PR_DelayThisFunction(t.venous.data(), times, n, double(v)), n, cv)) return false;
    for (long long a = 0; double(a) <= t.maxArterialDelay; ++a) {
      kit::ReportStep(tried++, total);
      if (!kit::Take(PR_DelayThisFunction(t.arterial.data(), times, n, double(a)), n, ca)) return false;
      fit.ca = ca.data();
      fit.cv = cv.data();
      double cost = VOID_VALUE, p[4] = {};
      if (!PR_OptimizeAmoebaOverGrid(choice.optA, 4, t.box, true, M41_Cost, &fit, choice.optB, 0, &cost, p))
        return false;
      if (cost < best) {
        best = cost;
        std::copy(p, p + 4, bestP);
        bestArterial = double(a);
        bestVenous = double(v);
      }
    }
  }
  if (!(best < VOID_VALUE)) return false;

  if (call.fitCurve) {
    if (!kit::Take(PR_DelayThisFunction(t.venous.data(), times, n, bestVenous), n, cv)) return false;
    if (!kit::Take(PR_DelayThisFunction(t.arterial.data(), times, n, bestArterial), n, ca)) return false;
    fit.ca = ca.data();
    fit.cv = cv.data();
    if (!M41_UptakeCurve(fit, bestP)) return false;
    if (!ConcentrationToSignal(fit.model.data(), t.analysed, call.fitCurve)) return false;
  }
  const double flow = bestP[0] * 6000, ki = bestP[3] * 6000, ve = bestP[2];
  const double arterialFlow = flow * bestP[1];
  const OutputWriter& out = *call.out;
  out.put(0, flow);
  out.put(1, arterialFlow);
  out.put(2, flow - arterialFlow);
  out.put(3, arterialFlow / flow);
  out.put(4, ve);
  out.put(5, ve * 100 / ((flow + ki) / 60));  // seconds: ve / (F + Ki) with flows per second
  out.put(6, ki);
  out.put(7, ki / (flow + ki));
  out.put(8, bestArterial);
  out.put(9, bestVenous);
  out.put(10, best);
  return true;
}

constexpr ModelOps kOps = {.init = M41_ModelInit, .compute = M41_ComputeParms, .close = M41_ModelClose};

}  // namespace

constexpr FreeParmSpec kFreeParms41[] = {
    {"Flow max", 200},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Ki max", 100},
    {"Max Arterial delay (sec)", 5},
    {"Max Venous delay (sec", 0},
    {"Analysis length (sec)", 400},
    {"Use L1\\L2 residual metric", 2},
};
const ModelSpec kModel41 = {
    .type = 41,
    .name = "",
    .outputs = liver::kOutputs,
    .freeParms = kFreeParms41,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
