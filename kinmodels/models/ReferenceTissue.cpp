#include "ReferenceTissue.h"

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Messages.h"
#include "ModelKit.h"

namespace kin::reference {

bool InitMultilinear(int type, const wchar_t* function, const INPUTFUNC* ifuncs, MultilinearTables& t) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (n <= 2) {
    showNamedMessage(function, L"Insufficient number of timepoints");
    return false;
  }
  if (!IsValidDynamicComponent(L"Time", acq.time, n)) return false;
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, t.times)) return false;
  if (ifuncs[0].count != n) {
    showNamedMessage(function, L"Input functions are missing or incorrect");
    return false;
  }
  if (!kit::Take(PR_PrepareInputFunc(ifuncs, t.times.data(), n), n, t.reference)) return false;
  t.refIntegral.resize(n);
  CumulativeTrapezoid(t.reference.data(), t.times.data(), n, t.refIntegral.data());
  t.startTime = freeParm(type, 0);
  t.endTime = freeParm(type, 1);
  t.maxErr = freeParm(type, 2) * 0.01;
  t.threshold = freeParm(type, 3);
  t.n = n;
  return true;
}

bool TargetIntegral(const double* curve, const double* times, int n, double threshold, std::vector<double>& integral) {
  if (PR_ArrStats(curve, n, nullptr) < threshold) return false;
  integral.assign(n, 0.0);
  CumulativeTrapezoid(curve, times, n, integral.data());
  return true;
}

}  // namespace kin::reference
