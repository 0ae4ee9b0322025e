#pragma once
// Tools shared by the contrast-enhanced perfusion models (Tofts family, exchange, filtration and
// uptake models, Kety-Schmidt and reference-region models): the preparation of relative times and
// input functions, input-function delays, the time-integral residuals, the two-compartment exchange
// curve and the delay searches of the simplex models. The tools of every model family (core arrays,
// progress, the metric choice) are in ModelKit.h.
//
// Nothing here keeps state: a model's init stores what it prepares in its own tables, and its
// compute may call any of these from many threads at once.

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

// --- the simplex models on a uniform grid with a search over arterial delays ---

// Prepared by the init of a grid model, read-only while curves are computed.
struct GridModelTables {
  int n = 0;
  std::vector<double> times;  // seconds from the first acquisition
  std::vector<double> input;  // the input function at those times
  std::vector<double> grid;   // the uniform grid covering the times
  int metric = 2;             // 1: L1, 2: L2
  double minDelay = 0, maxDelay = 0, delayStep = 0.5;
  std::vector<INTERVAL> bounds;  // of the fitted variables, rates per second
};

// The working data of one curve, handed to a grid model's cost: the delayed input and the
// measured signal on the grid, the conversion record and room for the model's curves.
struct GridFit {
  explicit GridFit(const GridModelTables& t);
  const GridModelTables* tables;
  std::vector<double> input;     // the delayed input function on the grid
  std::vector<double> measured;  // the measured signal on the grid
  double info[3] = {};           // the conversion record of the measured curve
  std::vector<double> conc, signal, work;
};

// The shared part of a grid model's init, in the order of its checks: the metric, the delay
// interval and its step, then the relative times, the input function and the uniform grid, which
// must have fewer than maxGridPoints points. Messages go under the init's name.
bool InitGridModel(const wchar_t* function, const INPUTFUNC* ifuncs, double metric, double minDelay,
                   double maxDelay, double delayStep, int maxGridPoints, GridModelTables& t);

// Resamples the measured curve onto the grid and fills the conversion record.
bool PrepareGridFit(const GridModelTables& t, const double* curve, GridFit& fit);

// The delay search: from the minimum delay in steps of the delay step (the maximum delay always
// tried last), the input is delayed, the model's variables are fitted by grid search and simplex
// (the model's optimisation settings) and the fit with the smallest residual is kept, the earliest
// delay on ties. cost(fit, x, null) must return the residual and leave the model signal in
// fit.signal. point receives the variables, bestSignal the fitted signal on the grid.
bool DelaySearchOnGrid(int type, const GridModelTables& t, GridFit& fit, PR_AMOEBACOSTFUNC cost, double* point,
                       double* delay, double* residual, std::vector<double>& bestSignal);

// The fitted grid signal resampled back to the acquisition times into the host's buffer.
bool FitCurveFromGrid(const GridModelTables& t, const std::vector<double>& gridSignal, double* fitCurve);

}  // namespace kin::perfusion
