#pragma once
// Fitting helpers that the models share: small least-squares regressions solved through the
// imaging core's SVD solver, the interval-arithmetic box costs of mono- and bi-exponential decays
// for the interval optimisers, the mono-exponential fit, the input function on a common uniform
// time grid, and the progress announcement of a single region curve. Reentrant.

#include <vector>

#include "KinmodelsApi.h"
#include "TwkMem.h"
#include "TwkTypes.h"

namespace kin {

// --- least squares (false when the solver fails) ---

// y = slope * x + intercept; maxRelDev (optional) gets the largest |(y - fit) / fit| over the points
// whose fit is at least 1e-100 (0 for none).
bool FitLine(const double* x, const double* y, int count, double* slope, double* intercept, double* maxRelDev = nullptr);
// y = a * x1 + b * x2; maxRelDev: the largest |y - fit| / |y| over the points with |y| >= 1e-100;
// relRms: root mean squared residual over the mean of y (0 when |mean y| < 1e-100).
bool FitTwoRegressors(const double* y, const double* x1, const double* x2, int count, double* a, double* b,
                      double* maxRelDev = nullptr, double* relRms = nullptr);
// y = a * x1 + b * x2 + c * x3.
bool FitThreeRegressorsA(const double* y, const double* x1, const double* x2, const double* x3, int count, double* a,
                         double* b, double* c, double* maxRelDev = nullptr);
// y = a * x1 + b * x2 + c.
bool FitThreeRegressorsB(const double* y, const double* x1, const double* x2, int count, double* a, double* b,
                         double* c, double* maxRelDev = nullptr);

// --- box costs for PR_GO_NonconstrCostOptimizeSLX and PR_GOWSS_OptimizeBestSol ---

// The data of a decay fit. The optimisers hand y and x to the cost; when they pass null (the
// best-solution search), the cost takes them from here.
struct DecayFitContext {
  int count = 0;
  const double* y = nullptr;
  const double* x = nullptr;
};

// Box (amplitude A, rate r), model A * exp(-r * x): lower bound and centre value of the mean squared
// residual.
void MonoExpIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                         double* centreCost, double* upperBound);
// Box (amplitude A, fraction f, fast rate, slow rate), model A * ((1 - f) * exp(-x * slow) + f * exp(-x * fast)):
// lower bound, centre value and upper bound of the mean squared residual.
void BiExpIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                       double* centreCost, double* upperBound);
// Box (amplitude S0, fraction w, rate 1, rate 2), model S0 * (w * exp(-x * rate1) + (1 - w) * exp(-x * rate2)),
// for curves whose noise floor was subtracted: lower bound, centre value and upper bound.
void BiExpNoiseIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                            double* centreCost, double* upperBound);
// Mean squared residuals at one parameter point (A, r) and (A, f, fast, slow).
double MonoExpCentreCost(const DecayFitContext& data, double amplitude, double rate);
double BiExpCentreCost(const DecayFitContext& data, double amplitude, double fraction, double fastRate, double slowRate);

// Fits y = A * exp(-rate * x) by the interval optimiser. The rate box is [min, max] of the two
// limits; the amplitude box is the amplitude that the first point implies over the rate box,
// y[0] * exp(x[0] * rate), widened by halfWidth (a negative halfWidth means -halfWidth * y[0]).
// A and rate are the centres of the best box; rmse is the root mean squared residual.
// confidenceBox (2 intervals) and costRange are optional outputs of the optimiser.
bool FitMonoExp(double halfWidth, const double* y, const double* x, int count, double rateLimit1, double rateLimit2,
                int iterations, double* amplitude, double* rate, double* rmse, INTERVAL* confidenceBox = nullptr,
                INTERVAL* costRange = nullptr);

// --- input function on the data's time grid ---

struct UniformTiming {
  std::vector<double> grid;       // uniform times from 0
  std::vector<double> ifunc;      // the input function at the grid times
};
// Builds the common uniform grid of the acquisition times and one input function. An input
// function that does not match the data's times asks whether to proceed.
bool CombineTacAndIfuncTiming(const INPUTFUNC* ifunc, int n, UniformTiming& timing);

// --- progress ---

// Announces the fit of a single region curve in the status bar (only in the single-curve
// calculation mode) for the life of the object.
class SingleCurveAnnouncement {
 public:
  explicit SingleCurveAnnouncement(int type);

 private:
  twk::ProgressGuard progress_;
};
// The status title of the fit of a single region curve by the model of that type.
CString SingleCurveTitle(int type);

}  // namespace kin
