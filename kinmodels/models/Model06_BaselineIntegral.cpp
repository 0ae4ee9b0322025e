// Type 6, the baseline integral of a bolus passage (a signal drop, as in susceptibility-weighted
// perfusion series): within the window of the drop the curve is corrected by the straight line
// from the baseline level to the tail level, turned into -ln(S / baseline) and integrated over time.
//
// The pre-bolus and post-bolus lengths come from the host's global curve at init: the baseline
// lasts until the global curve has fallen by 5 % of its drop from its level at the third analysed
// point, the tail from where it is back within 5 % of its drop from its last level. The host gives
// no white-matter curve, so the integral is not normalised (factor 1).

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "ModelKit.h"
#include "ModelTable.h"

namespace kin {
namespace {

constexpr int kType = 6;
enum Output { kIntegral };

struct BaselineTables {
  std::vector<double> times;  // seconds from the first frame
  double background = 0;      // "Background Threshold" times the noise level
  int skipped = 0;            // initial points left out
  int preBolus = 1, postBolus = 1;
  double normalisation = 1;
};

BaselineTables& tables() {
  static BaselineTables t;
  return t;
}

void M6_ModelClose() { tables() = BaselineTables{}; }

bool M6_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!acq.globalTac) return false;
  BaselineTables t;
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, t.times)) return false;
  t.background = freeParm(kType, 0) * acq.noiseLevel;
  t.skipped = int(std::clamp<long long>(kit::Rounded(freeParm(kType, 1)), 0, std::max(0, n - 3)));
  const double* g = acq.globalTac + t.skipped;
  const int m = n - t.skipped;
  if (m < 3) return false;
  const double gMin = *std::min_element(g + 2, g + m);
  t.preBolus = m;
  for (int i = 1; i + 2 < m; ++i)
    if (0.95 * (g[2] - gMin) > g[i + 2] - gMin) {
      t.preBolus = i;
      break;
    }
  t.postBolus = m;
  for (int i = 1; i < m; ++i)
    if (0.95 * (g[m - 1] - gMin) > g[m - 1 - i] - gMin) {
      t.postBolus = i;
      break;
    }
  tables() = std::move(t);
  return true;
}

// The first and last index of the drop: from the deepest point backwards while the curve stays
// below the baseline by more than its spread, and forwards while it stays below the tail level by
// more than that spread.
void M6_BolusWindow(const double* s, int m, double spread, double baseline, double tail, int* first, int* last) {
  const int deepest = int(std::min_element(s, s + m) - s);
  int f = deepest;
  while (f > 0 && s[f] < baseline - spread) --f;
  int g = deepest;
  while (g < m - 1 && s[g] < tail - spread) ++g;
  *first = f;
  *last = g;
}

bool M6_ComputeParms(const CurveCall& call) {
  const BaselineTables& t = tables();
  // Background: the curve dips below the background level.
  if (IsAboveMinimum(call.curve, call.n, t.background)) return false;
  const int m = call.n - t.skipped;
  const double* s = call.curve + t.skipped;
  const double* times = t.times.data() + t.skipped;
  double spread = 0;
  const int pre = std::min(t.preBolus, m), post = std::min(t.postBolus, m);
  const double baseline = PR_ArrStats(s, pre, &spread);
  const double tail = PR_ArrStats(s + m - post, post, nullptr);
  int f = 0, g = 0;
  M6_BolusWindow(s, m, spread, baseline, tail, &f, &g);
  if (f >= g || !(std::fabs(baseline) >= 1e-100)) return false;

  std::vector<double> v(g - f + 1);
  for (int i = f; i <= g; ++i) {
    const double corrected = s[i] - (times[i] - times[f]) * (tail - baseline) / (times[g] - times[f]);
    const double r = corrected / baseline;
    v[i - f] = r > 0.01 && r < 1 ? -std::log(r) : 0.0;
  }
  double integral = 0;
  for (int i = f + 1; i <= g; ++i) integral += std::fabs((times[i] - times[i - 1]) * (v[i - f] + v[i - 1 - f]));
  call.out->put(kIntegral, 0.5 * integral * t.normalisation);
  return true;
}

constexpr ModelOps kOps = {.init = M6_ModelInit, .compute = M6_ComputeParms, .close = M6_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs06[] = {
    {"CBV baseline integral", "", 1},
};
constexpr FreeParmSpec kFreeParms06[] = {
    {"Background Threshold", 20},
    {"Skip Initial Time Points", 0},
};
const ModelSpec kModel06 = {
    .type = 6,
    .name = "",
    .outputs = kOutputs06,
    .freeParms = kFreeParms06,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {1, 1},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
