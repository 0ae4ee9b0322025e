#include "DualInputLiver.h"

#include <algorithm>
#include <cmath>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Messages.h"
#include "ModelKit.h"
#include "numerics/PwlCalculus.h"

namespace kin::liver {

bool PrepareDualInputs(const INPUTFUNC* ifuncs, bool findBolusStarts, DualInputs& inputs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  inputs = DualInputs{};
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, inputs.times)) return false;
  if (!CheckIfuncTiming(ifuncs, 2, n)) return false;
  inputs.arterial.assign(ifuncs[0].values, ifuncs[0].values + n);
  inputs.venous.assign(ifuncs[1].values, ifuncs[1].values + n);
  const int arterialPeak = kit::FirstMaxIndex(inputs.arterial.data(), n);
  const int venousPeak = kit::FirstMaxIndex(inputs.venous.data(), n);
  if (venousPeak < arterialPeak &&
      !askYesNo(L"Arterial peak seem to happen later than one for vein.\nProceed anyway?"))
    return false;
  if (findBolusStarts) {
    int start = 0;
    if (!PR_GetBolusStart(inputs.arterial.data(), inputs.times.data(), n, 0.1, &start)) return false;
    inputs.arterialBolusTime = inputs.times[start];
    if (!PR_GetBolusStart(inputs.venous.data(), inputs.times.data(), n, 0.1, &start)) return false;
    inputs.venousBolusTime = inputs.times[start];
  }
  inputs.n = n;
  return true;
}

bool UptakeCurve(double F, double fa, double Ve, double Ki, const double* ca, const double* cv, const double* times,
                 int n, CurveWork& work, double* out) {
  if (!(Ve > 0) || n < 1) return false;
  for (int i = 0; i < n; ++i) work.mix[i] = F * (fa * ca[i] + (1 - fa) * cv[i]) / Ve;
  PR_SolveLinearFirstOrderDE_PWL((F + Ki) / Ve, work.mix.data(), times, n, work.ce.data());
  PR_CalculateIntegral(work.ce.data(), times, n, work.integral.data());
  for (int i = 0; i < n; ++i) {
    out[i] = Ve * work.ce[i] + Ki * work.integral[i];
    if (!std::isfinite(out[i])) return false;
  }
  return true;
}

double LateUptakeKi(const LateUptake& late, double F, double fa, double Ve) {
  const double inputLast = (1 - fa) * late.cvLast + fa * late.caLast;
  const double extracellular = std::max(0.0, inputLast - late.tissueSlope / F);
  return (extracellular * Ve - late.tissueLast) /
         (late.tissueLast / F - fa * late.caIntegral - (1 - fa) * late.cvIntegral);
}

LateUptake LateInputs(const DualInputs& inputs) {
  const int n = inputs.n;
  const double* times = inputs.times.data();
  LateUptake late;
  late.caLast = inputs.arterial[n - 1];
  late.cvLast = inputs.venous[n - 1];
  late.caIntegral = PR_CalculateIntegral(inputs.arterial.data(), times, n);
  late.cvIntegral = PR_CalculateIntegral(inputs.venous.data(), times, n);
  return late;
}

LateUptake WithTissue(const LateUptake& inputPart, const double* tissue, const double* times, int n, int tailFrames) {
  LateUptake late = inputPart;
  late.tissueLast = tissue[n - 1];
  late.tissueSlope = TailSlope(tissue, times, n, tailFrames);
  return late;
}

bool LateUptakeCurve(const LateUptake& late, INTERVAL kiBox, const double* p, const double* ca, const double* cv,
                     const double* times, int n, CurveWork& work, double* out) {
  const double ki = LateUptakeKi(late, p[0], p[1], p[2]);
  if (std::isnan(ki)) return false;
  return UptakeCurve(p[0], p[1], p[2], std::clamp(ki, kiBox.lo, kiBox.hi), ca, cv, times, n, work, out);
}

bool SearchVenousDelay(int type, const DualInputs& inputs, double lo, double hi, long long steps, const INTERVAL* box,
                       int nVars, PR_AMOEBACOSTFUNC cost, void* context, const double** venousSlot,
                       std::vector<double>& venous, double* best, double* bestPoint, double* bestDelay) {
  const Optimisation choice = optimisation(type);
  const int n = inputs.n;
  *best = VOID_VALUE;
  std::vector<double> p(nVars);
  long long step = 0;
  for (double tv = lo; tv <= hi; tv += 1) {
    kit::ReportStep(step++, steps);
    if (!kit::Take(PR_DelayThisFunction(inputs.venous.data(), inputs.times.data(), n, tv), n, venous)) return false;
    *venousSlot = venous.data();
    double value = VOID_VALUE;
    std::fill(p.begin(), p.end(), 0.0);
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, nVars, box, true, cost, context, choice.optB, 0, &value, p.data()))
      return false;
    if (value < *best) {
      *best = value;
      std::copy(p.begin(), p.end(), bestPoint);
      *bestDelay = tv;
    }
  }
  return true;
}

double TailSlope(const double* tissue, const double* times, int n, int k) {
  k = std::clamp(k, 1, n - 1);
  const double dt = times[n - 1] - times[n - k];
  return dt > 0 ? (tissue[n - 1] - tissue[n - k]) / dt : 0.0;
}

void PutOutputs(const OutputWriter& out, double F, double fa, double vePercent, double Ki, double arterialDelay,
                double venousDelay, double residual) {
  const double flow = F * 6000;
  out.put(0, flow);
  out.put(1, flow * fa);
  out.put(2, flow - flow * fa);
  out.put(3, fa);
  out.put(4, vePercent);
  out.put(5, vePercent / ((Ki * 6000 + F * 6000) / 60));
  out.put(6, Ki * 6000);
  out.put(7, Ki / (Ki + F));
  out.put(8, arterialDelay);
  out.put(9, venousDelay);
  out.put(10, residual);
}

void ShowCurveValues(const wchar_t* text) {
  if (kit::ShowsProgress()) curveMessage(text, MB_OK | MB_ICONINFORMATION);
}

bool ShiftedArterial(const DualInputs& inputs, int n, double delay, std::vector<double>& ca) {
  const double* times = inputs.times.data();
  std::vector<double> shiftedTimes(n);
  PR_GetDelayedTimes(times, n, delay, shiftedTimes.data());
  return kit::Take(PR_ResampleFunction(inputs.arterial.data(), shiftedTimes.data(), n, times, n, false), n, ca);
}

bool TissueBolusStart(const CurveCall& call, const double* times, std::vector<double>& tissue, int* start,
                      int* firstPassEnd) {
  tissue.assign(call.n, 0.0);
  if (!SignalToConcentration(call.curve, call.n, tissue.data())) return false;
  return PR_GetBolusStart(tissue.data(), times, call.n, 0.1, start, firstPassEnd);
}

bool SearchVenousArrival(int type, const DualInputs& inputs, double tissueBolusTime, double maxArrival,
                         const INTERVAL* box, int nVars, PR_AMOEBACOSTFUNC cost, void* context,
                         const double** venousSlot, std::vector<double>& venous, double* best, double* bestPoint,
                         double* bestDelay) {
  const double lo = std::max(0.0, tissueBolusTime - inputs.venousBolusTime);
  const long long total = std::max(1LL, (long long)std::ceil(maxArrival));
  if (!SearchVenousDelay(type, inputs, lo, lo + maxArrival, total, box, nVars, cost, context, venousSlot, venous, best,
                         bestPoint, bestDelay))
    return false;
  return *best < VOID_VALUE;
}

}  // namespace kin::liver
