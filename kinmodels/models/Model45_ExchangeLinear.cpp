// Type 45: the two-compartment exchange model solved by linear least squares, without arterial
// delay. Integrated twice, the model reads
//   Ct = -B0 * IICt - B1 * ICt + B2 * IICa + B3 * ICa
// (I and II the first and second running integrals) with B0 = 1/(Tc Te), B1 = (T + Te)/(Tc Te),
// B2 = Fp T/(Tc Te) and B3 = Fp, T = (vp + ve)/Fp; the coefficients come from the normal
// equations on a uniform time grid, the parameters from the coefficients.

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "Messages.h"
#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/CurveStats.h"
#include "numerics/LinearAlgebra.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 45;
// The fit keeps its design within this many grid points.
constexpr int kMaxGridPoints = 2001;

// Prepared by the init, read-only while curves are computed.
struct LinearExchangeTables {
  int n = 0;
  std::vector<double> times;      // seconds from the first acquisition
  std::vector<double> input;      // the input function at those times
  std::vector<double> grid;       // uniform grid covering the times
  std::vector<double> gridInput;  // the input function on the grid
  std::vector<double> inputIntegral, inputIntegral2;  // its first and second running integrals
  bool excludeInvalid = false;
};

LinearExchangeTables& tables() {
  static LinearExchangeTables t;
  return t;
}

// Solves the normal equations of the m x 4 design (rows) for the right-hand side y. The columns
// are scaled to unit length first: their magnitudes differ by the square of the curve's duration,
// and the scaling keeps the normal matrix well conditioned without changing the solution.
bool M45_SolveNormalEquations(const double* rows, int m, const double* y, double* out) {
  double scale[4];
  for (int j = 0; j < 4; ++j) {
    double sum = 0;
    for (int i = 0; i < m; ++i) sum += rows[4 * i + j] * rows[4 * i + j];
    scale[j] = sum > 0 ? std::sqrt(sum) : 1.0;
  }
  double matrix[16] = {}, rhs[4] = {};
  for (int i = 0; i < m; ++i) {
    const double* row = rows + 4 * i;
    for (int j = 0; j < 4; ++j) {
      const double xj = row[j] / scale[j];
      rhs[j] += xj * y[i];
      for (int k = 0; k < 4; ++k) matrix[4 * j + k] += xj * row[k] / scale[k];
    }
  }
  double solution[4];
  if (!PR_SolveLinearSystemParSVD(0.0, INT_MAX, matrix, 4, rhs, solution, false, 10, nullptr)) return false;
  for (int j = 0; j < 4; ++j) out[j] = solution[j] / scale[j];
  return true;
}

void M45_ModelClose() { tables() = LinearExchangeTables{}; }

bool M45_ModelInit(const INPUTFUNC* ifuncs) {
  M45_ModelClose();
  LinearExchangeTables t;
  t.excludeInvalid = kit::Rounded(freeParms(kType)[0]) != 0;
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  if (!MakeUniformGrid(t.times, t.grid)) return false;
  const int m = int(t.grid.size());
  if (m >= kMaxGridPoints) {
    showNamedMessage(L"M45_ModelInit", L"Too many timepoints");
    return false;
  }
  t.gridInput.resize(m);
  if (!Resample(t.input.data(), t.times.data(), int(t.times.size()), t.grid.data(), m, t.gridInput.data()))
    return false;
  t.inputIntegral.resize(m);
  t.inputIntegral2.resize(m);
  PR_CalculateIntegral(t.gridInput.data(), t.grid.data(), m, t.inputIntegral.data());
  PR_CalculateIntegral(t.inputIntegral.data(), t.grid.data(), m, t.inputIntegral2.data());
  t.n = int(t.times.size());
  tables() = std::move(t);
  return true;
}

bool M45_ComputeParms(const CurveCall& call) {
  const LinearExchangeTables& t = tables();
  const int n = call.n;
  if (t.n != n || n < 1) return false;
  const int m = int(t.grid.size());

  std::vector<double> measured(m), conc(m), integral(m), integral2(m);
  if (!Resample(call.curve, t.times.data(), n, t.grid.data(), m, measured.data())) return false;
  double info[3] = {};
  if (!SignalToConcentration(measured.data(), m, conc.data(), info)) return false;
  PR_CalculateIntegral(conc.data(), t.grid.data(), m, integral.data());
  PR_CalculateIntegral(integral.data(), t.grid.data(), m, integral2.data());

  std::vector<double> rows(4 * size_t(m));
  for (int i = 0; i < m; ++i) {
    rows[4 * i] = -integral2[i];
    rows[4 * i + 1] = -integral[i];
    rows[4 * i + 2] = t.inputIntegral2[i];
    rows[4 * i + 3] = t.inputIntegral[i];
  }
  double b[4];
  if (!M45_SolveNormalEquations(rows.data(), m, conc.data(), b)) return false;
  if (b[3] < 1e-100) return false;

  const double fp = b[3];
  const double total = b[2] / (b[3] * b[0]);
  const double te = b[1] / b[0] - total;
  const double tc = 1 / (te * b[0]);
  if (t.excludeInvalid && (total < 0 || te < 0 || tc < 0)) return false;
  const double vp = tc * fp;
  const double ve = (total - tc) * fp;
  const double ps = ve / te;
  if (t.excludeInvalid && (vp < 0 || ve < 0 || ps < 0)) return false;
  // A singular design (B0 or Te zero) gives no parameters at all.
  if (!std::isfinite(vp) || !std::isfinite(ve) || !std::isfinite(ps) || !std::isfinite(tc)) return false;

  std::vector<double> curve(m), work(m), signal(m);
  ExchangeCurve(tc, te, fp, ps, t.gridInput.data(), t.grid.data(), m, curve.data(), work.data());
  if (!ConcentrationToSignal(curve.data(), m, signal.data(), info)) return false;
  const double residual = PR_ComputeRMSE(signal.data(), measured.data(), m);
  if (call.fitCurve && !Resample(signal.data(), t.grid.data(), m, t.times.data(), n, call.fitCurve)) return false;

  call.out->put(0, vp);
  call.out->put(1, ve);
  call.out->put(2, fp * 60);
  call.out->put(3, ps * 60);
  call.out->put(4, residual);
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs45[] = {
    {"vp", "", 1},
    {"ve", "", 1},
    {"Fp", "1/min", 1},
    {"PS", "1/min", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms45[] = {
    {"Exclude invalid", 0},
};
const ModelSpec kModel45 = {
    .type = 45,
    .name = "45. 2CXM {vp,ve,Fp,PS} - LLS",
    .outputs = kOutputs45,
    .freeParms = kFreeParms45,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M45_ModelInit, .compute = M45_ComputeParms, .close = M45_ModelClose},
};

}  // namespace kin
