#pragma once
// Tools shared by the contrast-enhanced perfusion models (Tofts family, exchange, filtration and
// uptake models, Kety-Schmidt and reference-region models): the preparation of relative times and
// input functions, input-function delays, the time-integral residuals, the two-compartment exchange
// curve and the delay searches of the simplex models. The tools of every model family (core arrays,
// progress, the metric choice) are in ModelKit.h.
//
// Nothing here keeps state: a model's init stores what it prepares in its own tables, and its
// compute may call any of these from many threads at once.

#include <initializer_list>
#include <vector>

#include "ModelFrame.h"
#include "ModelKit.h"
#include "numerics/Optimize.h"

namespace kin::perfusion {

// The acquisition times relative to the first and the first input function prepared at them.
// Shows the time check's message when there are fewer than 3 points; false on any failure.
bool PrepareTimesAndInput(const INPUTFUNC* ifuncs, std::vector<double>& times, std::vector<double>& input);

// out[i] = values(times[i] - delay): the curve delayed on its own times, its first value held
// before the start (the imaging core's delay). A zero delay copies the curve. False when the core
// cannot make the delayed curve.
bool DelayOnTimes(const double* values, const double* times, int n, double delay, double* out);

// The input function (n values over the acquisition times) delayed by `delay` seconds and resampled
// onto a uniform grid of m points: the acquisition times are shifted by the delay and the input is
// resampled from them onto the grid.
bool DelayOntoGrid(const double* input, const double* times, int n, double delay, const double* grid, int m,
                   double* out);

// A uniform grid covering the acquisition times (the imaging core's choice of step).
bool MakeUniformGrid(const std::vector<double>& times, std::vector<double>& grid);

// values over `from` (count points) resampled at the m times of `to`.
bool Resample(const double* values, const double* from, int count, const double* to, int m, double* out);

// The two-compartment exchange concentration on a grid for the input Ca (m points), with the plasma
// and extravascular mean transit times Tc = vp/Fp and Te = ve/PS, the plasma flow Fp and the
// permeability-surface product PS (per second). work holds m doubles. False, with a zero curve, when
// the two time constants cannot be separated (A^2 - 4 Tc Te below 1e-100).
bool ExchangeCurve(double tc, double te, double fp, double ps, const double* ca, const double* grid, int m,
                   double* out, double* work);

// Residuals of two curves on a uniform grid, as the time-integral metrics of the simplex models:
// metric 2 gives sqrt(integral (a - b)^2 dt / duration), metric 1 integral |a - b| dt / duration,
// both curves piecewise linear.
double IntegralResidual(const double* a, const double* b, const double* grid, int m, int metric);

// --- the Tofts models: kinetic variables and an arterial delay on the acquisition times ---

// The tissue concentration for the kinetic variables p and the (delayed) input cp over n times;
// false when the variables give no curve.
using DelayedInputCurve = bool (*)(const double* p, const double* cp, const double* times, int n, double* out);

// Prepared by the init of a Tofts model, read-only while curves are computed.
struct DelayedInputTables {
  int n = 0;
  std::vector<double> times;     // seconds from the first acquisition
  std::vector<double> input;     // the input function at those times
  int metric = 2;                // 1: L1 distance, 2: RMSE
  bool balanced = true;
  std::vector<INTERVAL> bounds;  // the kinetic variables (Ktrans per second, ve, ...), then the delay (s)
  DelayedInputCurve curve = nullptr;
};

// The shared init of the Tofts models, in the order of its checks: the relative times and the
// input function, the metric (free parameter 4), the balanced-solution flag (5) and the delay
// interval (2 to 3). The bounds are Ktrans in [1e-6, parameter 0 per minute], ve in
// [0.01, parameter 1], then `extraBounds`, then the delay. Messages go under the init's name.
bool InitDelayedInputModel(int type, const wchar_t* function, const INPUTFUNC* ifuncs,
                           std::initializer_list<INTERVAL> extraBounds, DelayedInputCurve curve,
                           DelayedInputTables& t);

// Fits one curve in the measured signal domain by the model's method: 4 fits the kinetic variables
// and the delay together (grid search plus simplex); 3 fits the kinetic variables for every
// whole-second delay from the minimum to the maximum delay and keeps the best. point receives the
// variables (the delay last) clamped into their bounds, residual the metric there; the model's
// signal goes into the host's fitted curve when it asks for one.
bool FitWithArterialDelay(int type, const DelayedInputTables& t, const CurveCall& call, double* point,
                          double* residual);

// One curve fitted as above, with the outputs of the Tofts models written in order: Ktrans per
// minute, the other kinetic variables and the delay as fitted, then the residual.
bool FitToftsOutputs(int type, const DelayedInputTables& t, const CurveCall& call);

// --- the simplex models on a uniform grid with a search over arterial delays ---

// The tissue concentration of a grid model for its variables p and the delayed input ca on the
// grid (m points); work holds m doubles. False when the variables give no curve.
using GridCurve = bool (*)(const double* p, const double* ca, const double* grid, int m, double* out,
                           double* work);

// Prepared by the init of a grid model, read-only while curves are computed.
struct GridModelTables {
  int n = 0;
  std::vector<double> times;  // seconds from the first acquisition
  std::vector<double> input;  // the input function at those times
  std::vector<double> grid;   // the uniform grid covering the times
  int metric = 2;             // 1: L1, 2: L2
  bool pointRmse = false;     // compare by the RMSE over the grid points, whatever the metric
  double minDelay = 0, maxDelay = 0, delayStep = 0.5;
  std::vector<INTERVAL> bounds;  // of the fitted variables, rates per second
  GridCurve curve = nullptr;
};

// The shared part of a grid model's init, in the order of its checks: the metric, the delay
// interval and its step, then the relative times, the input function and the uniform grid, which
// must have fewer than 5001 points (the limit of the curve builders' work arrays). Messages go
// under the init's name.
bool InitGridModel(const wchar_t* function, const INPUTFUNC* ifuncs, GridCurve curve, double metric,
                   double minDelay, double maxDelay, double delayStep, GridModelTables& t);

// Fits one curve with a grid model: the measured signal resampled onto the grid, then the delay
// search from the minimum delay in steps of the delay step (the maximum delay always tried last),
// fitting the variables by grid search and simplex (the model's optimisation settings) for each
// delay and keeping the smallest residual, the earliest delay on ties. point receives the
// variables; the fitted signal goes back onto the acquisition times into the host's fitted curve.
bool FitOnGrid(int type, const GridModelTables& t, const CurveCall& call, double* point, double* delay,
               double* residual);

// The compute of the grid models of (vp, ve, Fp, PS): fits the curve and writes vp, ve, Fp and PS
// per minute, the delay and the residual.
bool ComputeVolumesAndFlows(int type, const GridModelTables& t, const CurveCall& call);

}  // namespace kin::perfusion
