#pragma once
// Optimisers of the imaging core for curve fitting.
//
//   - PR_OptimizeAmoebaOverGrid: a global search over a box: a grid, the division of its promising
//     cells, and downhill-simplex (Nelder-Mead) searches from the distinct basins found.
//   - PR_AmoebaPlus: the simplex alone, refining an offset added to a fixed base point.
//   - PR_GO_NonconstrCostOptimizeSLX and PR_GOWSS_OptimizeBestSol: interval branch and bound. The cost
//     of a whole box is enclosed by interval arithmetic (IntervalArith.h); boxes whose lower bound
//     lies above the best cost found are discarded, the others are bisected. A grid-and-simplex search
//     of the whole box comes first (its cost discards most boxes at once, and it does not depend on
//     the basin of the box centre), short simplex fits probe the box of the lowest bound as the search
//     goes, and a last fit polishes the best point, so that the answer is the best point evaluated,
//     not the centre of the last box the budget allowed. The reported cost range [lower bound, best cost]
//     always contains the global minimum over the search box, provided the cost callback returns
//     true lower bounds.
//
// Every function is reentrant: all state lives on the caller's stack or in the context pointer the
// caller passes, so many threads may fit curves at once and get the same bits as one thread would.
// Failures are reported through the result (false), never by a message box.

#include "TwkTypes.h"

// Cost of the point x, or of x + dx element by element when dx is not null. Large values (1e60)
// mark points where the model cannot be built; NaN is treated as the worst possible cost.
using PR_AMOEBACOSTFUNC = double (*)(void* context, const double* x, const double* dx);

// Global search over the box `bounds` of nVars variables: a grid, the division of its promising
// cells, and downhill-simplex searches from the distinct basins found.
//   1. Grid: gridPoints points per variable, at the centres of gridPoints equal cells of each range
//      (0 or 1: the box centre only). A variable whose range is empty (lo == hi) is held at that
//      value and not searched. The whole grid is capped at 10 million points by lowering the count
//      per variable.
//   2. Division: the cells are divided into thirds as the DIRECT method does: in each round, the
//      cells that are best for their size and lie on the lower right convex hull of (size, value)
//      are divided along their longest sides, the side whose two new centres are better first. So
//      both large unexplored cells and small promising ones are refined, and a basin that falls
//      between grid centres (a minimum near a bound, a narrow valley) is found. The division spends
//      D = min(4000, max(G, 40 * nFree)) evaluations, G the grid's point count and nFree the number
//      of searched variables.
//   3. Simplex: searches start from the best cell and from up to two further cells that are local
//      minima of all cells seen (no touching cell is better), in that order, each with initial edges
//      of half its cell and whatever budget the searches before it left. Each search goes to a coarse
//      tolerance (values agreeing to 1e-6, vertices within 1e-4 of the edges), in runs of at most
//      30 (nFree + 1) iterations or a seventh of the budget, whichever is more: a run still going when
//      its iterations end restarts from its end with a fresh simplex (a long valley is followed much
//      faster so), and a run that ends on a bound or
//      stalls is restarted the same way (at most 10 times, while that improves it). The best end is
//      then polished to the full tolerance with the budget left. The answer is the best point
//      evaluated anywhere in the three steps.
//   keepInBounds   true: every simplex vertex is clamped into the box; false: the simplex may leave it.
//   maxIterations  the simplex budget in iterations (reflections, expansions, contractions, shrinks)
//                  shared by all starts and restarts; 0 keeps the best grid point (no division).
//   balance        > 0: the search minimises cost + balance * |cost| * q, q the mean squared distance
//                  from the box centre in half-widths (0 at the centre, 1 at a corner), so that among
//                  nearly equal costs the more central point wins; 0 or less: the plain cost.
//                  bestCost is always the plain cost of the best point.
//   bestCost, bestPoint (nVars doubles) receive the result; the best point lies in the box when
//                  keepInBounds is true. bounds with lo > hi are used in ascending order.
// The cost is evaluated at most G + D + maxIterations * (nFree + 2.4) + 44 * (nFree + 1) times: an
// iteration evaluates it at most nFree + 2 times, and each fresh simplex needs at most nFree + 1 new
// points; there are at most 11 per search of the simplex core (one run and 10 restarts), and at most
// maxIterations / (30 (nFree + 1)) + 4 such searches (the runs cut at 30 (nFree + 1) iterations, one
// last run per start and the polish). The search is deterministic (ties go to the first point in
// grid order) and keeps all its state on the stack, so it may run in many threads at once.
// False when an argument is invalid (nVars < 1, null pointers, non-finite bounds) or no evaluated
// point had a finite cost below 1e60.
bool PR_OptimizeAmoebaOverGrid(int gridPoints, int nVars, const INTERVAL* bounds, bool keepInBounds,
                               PR_AMOEBACOSTFUNC cost, void* context, int maxIterations, double balance,
                               double* bestCost, double* bestPoint);

// Simplex refinement of an offset added to the base point: cost(context, base, offset) is minimised.
//   offset         in: the start offset (nVars doubles); out: the best offset found.
//   steps          the initial simplex edge per variable (a zero step holds that variable).
//   scale          > 0: every offset component is kept within +-scale * |step| (scale 100 with steps
//                  of one hundredth of a grid step keeps the search within one grid step of the base);
//                  <= 0: unconstrained.
//   maxIterations  budget of simplex iterations over all restarts.
//   bestCost       may be null.
// False on invalid arguments or when no finite cost below 1e60 was found.
bool PR_AmoebaPlus(PR_AMOEBACOSTFUNC cost, void* context, const double* base, int nVars, double* offset,
                   const double* steps, double scale, int maxIterations, double* bestCost);

// Interval cost of a box of nVars parameter intervals. The callback writes
//   *lowerBound  a value never above the cost at any point of the box (1e60 or more: the box holds
//                no admissible point and is dropped);
//   *centreCost  the cost at the centre of the box (1e60 when it cannot be computed);
//   *upperBound  optionally a value never below the cost anywhere in the box; it is preset to 1e60
//                and may be left alone.
// y and x are the data arrays the optimiser was given (null for PR_GOWSS_OptimizeBestSol). A NaN
// lower bound counts as minus infinity (the box is kept), a NaN centre cost as 1e60. The local fits
// call it with point boxes (lo == hi on every side) and use their centre cost.
using PR_BOXCOSTFUNC = void (*)(void* context, const INTERVAL* box, const double* y, const double* x,
                                double* lowerBound, double* centreCost, double* upperBound);

// A lower bound of sum_i r_i(p)^2 over the box p = c + d, |d_j| <= halfWidth[j], of k <= 8 variables
// and n residuals, from a linearisation at the centre c:
//   residual  (n) r_i(c);
//   jacobian  (n x k, row-major) the Jacobian dr_i/dp_j at c (any approximation keeps the bound valid;
//             the exact one makes it tight);
//   slopes    (n x k, row-major) enclosures of dr_i/dp_j over the whole box;
//   slack     optional (n): a bound of the rounding error of each r_i(c);
//   work      scratch of 2 n doubles;
//   suggestAxis  true: names the side of the box that loses most of the bound to the branch and
//             bound (PR_SuggestBisectionAxis), for costs whose bound this is.
// The bound closes as the square of the box around a least-squares minimum (so branch and bound
// can prove a minimum to a tight tolerance with few boxes), and is never above the true minimum.
// Returns 0 on invalid arguments.
double PR_LeastSquaresBoxBound(int n, int k, const double* residual, const double* jacobian, const INTERVAL* slopes,
                               const double* halfWidth, const double* slack, double* work,
                               bool suggestAxis = false);

// Called by a box cost while it evaluates a box (PR_BOXCOSTFUNC) to name the side (0-based) whose
// halving would tighten its lower bound most; the branch and bound halves that side of the box when
// its turn comes (instead of its own rule), while the side is wider than the box tolerance. The hint
// is kept per thread and per box; costs that never call it leave the search's own rule in charge.
void PR_SuggestBisectionAxis(int axis);

// Interval branch and bound over `box` (nVars intervals).
//   boxTolerance   a box whose every side is at most boxTolerance times the side of the search box is
//                  not bisected further (it stays a candidate); <= 0 uses 1e-12.
//   costTolerance  the search ends when best cost - lowest lower bound <= costTolerance * max(1, |best|).
//   maxIterations  budget of bisections B (each evaluates the cost on two half boxes). The box of the
//                  lowest bound is halved along its longest side measured in the cost's own scale
//                  (side over the search box's side, times the square root of the cost's curvature
//                  along that axis at the best point of the first search, with a floor of 1e-3 of the
//                  largest), so that well determined parameters are cut finely and poorly determined
//                  ones are left wide. The point
//                  searches add a number of point evaluations that follows B (nFree: the sides of
//                  the search box that are not a single value; G <= max(min(500, B), 2^nFree)
//                  grid points): G + min(4000, max(G, 40 nFree)) + 44 nFree for the first search's
//                  grid, division and simplex starts, plus (nFree + 2) times the simplex
//                  iterations: min(300 nFree, B / 2) (first search) + 15 (nFree + 1) per probe (one
//                  every 500 bisections) and per box centre that becomes the best point (at most 24)
//                  + min(60 nFree, B) (last probe) + min(1200 nFree, 2 B) (polish), and 3 nFree + 1 for
//                  the axes' curvature.
//   bestBox        (nVars) a box centred on the best point found (the solution), as wide as the box
//                  of the search in which that point was found, within the search box.
//   bestCost       the best cost found (the cost at the centre of bestBox).
//   confidenceBox  optional (nVars): the hull of every box that may still hold a global minimiser.
//   costRange      optional: [lower bound of the global minimum, bestCost]; lo <= hi always.
//   bisections     optional: the number of bisections done.
//   showProgress   announce the search through the progress protocol; Esc stops it with false.
// False on invalid arguments, when stopped, or when no box centre had a cost below 1e60.
bool PR_GO_NonconstrCostOptimizeSLX(int nVars, PR_BOXCOSTFUNC cost, void* context, const INTERVAL* box,
                                    const double* y, const double* x, double boxTolerance,
                                    double costTolerance, int maxIterations, INTERVAL* bestBox,
                                    double* bestCost, INTERVAL* confidenceBox, INTERVAL* costRange,
                                    double* bisections, bool showProgress);

// The same search for callbacks that take their data from the context alone. The search ends as soon
// as the best cost falls to targetCost or the enclosure [lower bound, best] is narrower than
// targetCost (absolute), or when maxIterations bisections are done. Boxes are bisected down to
// 1e-12 of the search box. Outputs as for PR_GO_NonconstrCostOptimizeSLX (bestBox, bestCost required,
// the others optional).
bool PR_GOWSS_OptimizeBestSol(int nVars, PR_BOXCOSTFUNC cost, void* context, const INTERVAL* box,
                              double targetCost, int maxIterations, INTERVAL* bestBox, double* bestCost,
                              INTERVAL* confidenceBox, INTERVAL* costRange, double* bisections,
                              bool showProgress);
