// Type 49: the reference-region model. With a reference tissue of known Tofts parameters
// (Ktrans_RR, ve_RR) whose curve Cr stands in for the input function, a tissue following the Tofts
// model with (Ktrans, ve) has the curve
//   C = (Ktrans/Ktrans_RR) * [(Ktrans_RR/ve_RR - Ktrans/ve) * J(Ktrans/ve)(Cr) + Cr],
// J(k)(Cr) = integral of Cr(tau) exp(-k (t - tau)) d tau. Ktrans and ve are fitted by grid search and
// simplex in the measured signal domain; Ktrans is fitted per second and reported per minute.
//
// The self test checks that identity on a measured enhancement curve for 100 random tissues.

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MsRand.h"
#include "PerfusionCommon.h"
#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 49;

// Prepared by the init, read-only while curves are computed.
struct ReferenceRegionTables {
  int n = 0;
  std::vector<double> times;      // seconds from the first acquisition
  std::vector<double> reference;  // the reference curve at those times
  double ktransRR = 0.15 / 60;    // per second
  double veRR = 0.12;
  INTERVAL bounds[2];             // Ktrans (1/s), ve
};

ReferenceRegionTables& tables() {
  static ReferenceRegionTables t;
  return t;
}

// The working data of one curve, handed to the cost.
struct ReferenceRegionFit {
  const ReferenceRegionTables* tables;
  const double* measured;  // the measured signal
  const double* info;      // its conversion record
  std::vector<double> conc, signal;
};

// The tissue curve from the reference curve cr (n points over times); false when ve is 0.
bool M49_ReferenceRegionCurve(double ktrans, double ve, double ktransRR, double veRR, const double* cr,
                              const double* times, int n, double* out) {
  if (!(std::fabs(ve) >= 1e-100) || !(std::fabs(ktransRR) >= 1e-100) || !(std::fabs(veRR) >= 1e-100)) return false;
  const double kep = ktrans / ve;
  PR_IntegralFunc_PWL_NegExp(kep, cr, times, n, out);
  const double weight = ktransRR / veRR - kep, scale = ktrans / ktransRR;
  for (int i = 0; i < n; ++i) out[i] = scale * (weight * out[i] + cr[i]);
  return true;
}

// The Tofts curve Ktrans * J(Ktrans/ve)(input) on the times.
void M49_ToftsCurve(double ktrans, double ve, const double* input, const double* times, int n, double* out) {
  PR_IntegralFunc_PWL_NegExp(ktrans / ve, input, times, n, out);
  for (int i = 0; i < n; ++i) out[i] *= ktrans;
}

// x = (Ktrans, ve): the RMSE of the model's signal against the measured one.
double M49_Cost(void* context, const double* x, const double* dx) {
  ReferenceRegionFit& fit = *static_cast<ReferenceRegionFit*>(context);
  const ReferenceRegionTables& t = *fit.tables;
  const double ktrans = x[0] + (dx ? dx[0] : 0.0), ve = x[1] + (dx ? dx[1] : 0.0);
  if (!M49_ReferenceRegionCurve(ktrans, ve, t.ktransRR, t.veRR, t.reference.data(), t.times.data(), t.n,
                                fit.conc.data()))
    return VOID_VALUE;
  if (!ConcentrationToSignal(fit.conc.data(), t.n, fit.signal.data(), fit.info)) return VOID_VALUE;
  return PR_ComputeRMSE(fit.signal.data(), fit.measured, t.n);
}

void M49_ModelClose() { tables() = ReferenceRegionTables{}; }

bool M49_ModelInit(const INPUTFUNC* ifuncs) {
  M49_ModelClose();
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (n < 3) {
    showNamedMessage(L"M49_ModelInit", L"Insufficient number of timepoints");
    return false;
  }
  if (!IsValidDynamicComponent(L"Time", acq.time, n)) return false;
  ReferenceRegionTables t;
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  if (!ifuncs || ifuncs[0].count != n) {
    showNamedMessage(L"M49_ModelInit", L"Input functions are missing or incorrect");
    return false;
  }
  if (!kit::Take(PR_PrepareInputFunc(ifuncs, t.times.data(), n), n, t.reference)) return false;

  const double* p = freeParms(kType);
  t.ktransRR = p[0] / 60;
  t.veRR = p[1];
  t.bounds[0] = IntervalOf(1e-6, p[2] / 60);
  t.bounds[1] = {0.01, 1};
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M49_ComputeParms(const CurveCall& call) {
  const ReferenceRegionTables& t = tables();
  const int n = call.n;
  if (t.n != n || n < 1) return false;

  double info[3] = {};
  ReferenceRegionFit fit{&t, call.curve, info, std::vector<double>(n), std::vector<double>(n)};
  if (!SignalToConcentration(call.curve, n, fit.conc.data(), info)) return false;
  SingleCurveAnnouncement announcement(kType);

  const Optimisation choice = optimisation(kType);
  double cost = VOID_VALUE, point[2] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 2, t.bounds, true, M49_Cost, &fit, choice.optB, 0.0, &cost, point))
    return false;
  if (call.fitCurve) {
    if (M49_Cost(&fit, point, nullptr) >= VOID_VALUE) return false;
    std::copy(fit.signal.begin(), fit.signal.end(), call.fitCurve);
  }
  call.out->put(0, point[0] * 60);
  call.out->put(1, point[1]);
  call.out->put(2, cost);
  return true;
}

// The self test: a measured enhancement curve of 21 points serves as input function; for 100
// random tissues (Ktrans 0.01..2.01 per minute, ve 0.01..1.01) the reference-region curve built from
// a reference tissue (Ktrans 0.1 per minute, ve 0.1) must reproduce the tissue's Tofts curve. The
// largest RMSE is shown as "MaxErr". The random sequence is seeded, so every run shows the same
// figure. The model's tables are released: it must be initialised again before the next curve.
void M49_AutoTest() {
  static constexpr double kTimes[] = {
      66488.479999, 66731.364982, 66738.337505, 66745.312482, 66752.2875,   66759.262517, 66766.237494,
      66773.210017, 66780.184995, 66787.160012, 66794.134989, 66801.110007, 66808.08249,  66815.057507,
      66822.032484, 66829.007502, 66835.982519, 66842.957497, 66849.93002,  66856.904997, 66863.880014};
  static constexpr double kSignal[] = {
      208.767442, 208.44186,  452.046512, 6852.023256, 864.023256, 750.697674, 924.744186,
      906.930233, 860.093023, 878.651163, 856.465116, 849.976744, 846.813953,  837.488372,
      813.837209, 819.023256, 812.44186,  795.930233, 802.162791, 778.767442,  794.697674};
  constexpr int n = 21;

  M49_ModelClose();
  mutableAcquisition().n = n;

  std::vector<double> times(n), enhancement(n), reference(n), tissue(n), predicted(n);
  for (int i = 0; i < n; ++i) {
    times[i] = kTimes[i] - kTimes[0];
    enhancement[i] = std::max(0.0, (kSignal[i] - kSignal[0]) / kSignal[0]);
  }
  const double ktransRR = 0.1 / 60, veRR = 0.1;
  M49_ToftsCurve(ktransRR, veRR, enhancement.data(), times.data(), n, reference.data());

  twk::msSrand(1);
  double maxError = 0;
  for (int trial = 0; trial < 100; ++trial) {
    const int r1 = twk::msRand();
    const int r2 = twk::msRand();
    const double ktrans = (2.0 * r1 / 32767 + 0.01) / 60;
    const double ve = double(r2) / 32767 + 0.01;
    M49_ToftsCurve(ktrans, ve, enhancement.data(), times.data(), n, tissue.data());
    M49_ReferenceRegionCurve(ktrans, ve, ktransRR, veRR, reference.data(), times.data(), n, predicted.data());
    maxError = std::max(maxError, PR_ComputeRMSE(predicted.data(), tissue.data(), n));
  }
  // Shown as the core's value display does, through the plug-in's message route.
  CString text;
  text.Format(L"%s = %.10g", L"MaxErr", maxError);
  messageBox(text, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

constexpr OutputSpec kOutputs49[] = {
    {"Ktrans", "", 8},
    {"ve", "", 8},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms49[] = {
    {"Ktrans-RR", 0.15},
    {"ve-RR", 0.12},
    {"Ktrans max (1/min)", 2},
};
const ModelSpec kModel49 = {
    .type = 49,
    .name = "49. MR 2-Compartment Reference Region model [Yankeelov 2005]",
    .outputs = kOutputs49,
    .freeParms = kFreeParms49,
    .numIfuncs = 1,
    .ifPanelName = "Reference Curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 4, .optB = 20000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M49_ModelInit, .compute = M49_ComputeParms, .close = M49_ModelClose, .autoTest = M49_AutoTest},
};

}  // namespace kin
