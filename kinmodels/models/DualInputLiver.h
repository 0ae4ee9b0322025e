#pragma once
// The dual-input liver model shared by types 35 to 41: an extracellular space of volume Ve fed by
// the flow-weighted mixture of an arterial input Ca and a portal-venous input Cv, drained by the
// plasma flow F and by an irreversible uptake into the cells at the rate Ki:
//   Ve dCe/dt = F (fa Ca + (1 - fa) Cv) - (F + Ki) Ce,   C(t) = Ve Ce(t) + Ki * integral of Ce.
// Flows and Ki are per second (ml/min/100ml divided by 6000), Ve a fraction. Nothing here keeps
// state: each model keeps what its init prepares in its own tables.

#include <algorithm>
#include <vector>

#include "ModelFrame.h"
#include "numerics/Optimize.h"

namespace kin::liver {

// The eleven outputs that every model of the family reports (PutOutputs writes them in this order).
inline constexpr OutputSpec kOutputs[] = {
    {"F-total plasma flow", "ml/min/100ml", 3},
    {"Fa-arterial plasma flow", "ml/min/100ml", 3},
    {"Fv-venous plasma flow", "ml/min/100ml", 3},
    {"fa-arterial flow fraction", "", 3},
    {"Ve-extracellular volume", "ml/100ml", 3},
    {"EMTT-extracellular mean transit time", "sec", 3},
    {"Ki-intracellular uptake rate", "1/100/min", 3},
    {"fi-hepatic uptake fraction", "", 3},
    {"Arterial delay", "sec", 3},
    {"Venous delay", "sec", 3},
    {"residual", "", 3},
};

// The box of a flow or of Ki between 1e-4 and `limit` ml/min/100ml (either order), per second.
inline INTERVAL PerSecondBox(double limit) { return {std::min(1e-4, limit) / 6000, std::max(1e-4, limit) / 6000}; }

// The arterial fraction's box between two limits, each clamped into [1e-4, 1] (either order).
inline INTERVAL FractionBox(double a, double b) {
  const double fa1 = std::clamp(a, 1e-4, 1.0), fa2 = std::clamp(b, 1e-4, 1.0);
  return {std::min(fa1, fa2), std::max(fa1, fa2)};
}

// The range into which Ki from the late-uptake balance is clamped: 1e-4 to 100 ml/min/100ml, per second.
inline INTERVAL LateUptakeKiBox() { return {1e-4 / 6000, 100.0 / 6000}; }

// The boxes of the models that fit F, fa and Ve with Ki from the late-uptake balance, from the free
// parameters flow max (clamped into [1e-4, 1e4] ml/min/100ml) and the two fa limits: F (per
// second), fa and Ve in box, and Ki's clamping range in kiBox.
inline void LateUptakeBoxes(double flowMax, double fa1, double fa2, INTERVAL box[3], INTERVAL* kiBox) {
  box[0] = PerSecondBox(std::clamp(flowMax, 1e-4, 1e4));
  box[1] = FractionBox(fa1, fa2);
  box[2] = {1e-4, 0.9999};
  *kiBox = LateUptakeKiBox();
}

// The boxes of the models that fit all four of F, fa, Ve and Ki, from the free parameters flow max,
// the two fa limits and Ki max (ml/min/100ml): F and Ki per second, fa between its limits (either
// order), and Ve in the model's own range.
inline void FourParameterBoxes(const double* p, INTERVAL veBox, INTERVAL box[4]) {
  box[0] = PerSecondBox(p[0]);
  box[1] = {std::min(p[1], p[2]), std::max(p[1], p[2])};
  box[2] = veBox;
  box[3] = PerSecondBox(p[3]);
}

// The inputs as init prepares them: relative times and both input functions on them.
struct DualInputs {
  int n = 0;
  std::vector<double> times;    // seconds from the first frame
  std::vector<double> arterial; // Ca, one value per frame
  std::vector<double> venous;   // Cv, one value per frame
  double arterialBolusTime = 0; // relative time of the bolus start of each input
  double venousBolusTime = 0;
};

// Reads both input functions (their timing must match the frames), asks whether to go on when the
// venous peak comes before the arterial one, and finds the bolus starts when asked to. False (after
// the check's own message, or silently when a bolus start cannot be found) stops the init.
bool PrepareDualInputs(const INPUTFUNC* ifuncs, bool findBolusStarts, DualInputs& inputs);

// The prepared arterial input shifted by `delay` seconds (earlier when negative) and resampled on
// the first n frames, into ca. False when the core cannot resample it.
bool ShiftedArterial(const DualInputs& inputs, int n, double delay, std::vector<double>& ca);

// The curve's concentration (by the host's conversion) into tissue, and the frame where its bolus
// starts (the last frame below 10 % of its rise) with, when asked, the end of its first pass. False
// when the conversion fails or no bolus start is found.
bool TissueBolusStart(const CurveCall& call, const double* times, std::vector<double>& tissue, int* start,
                      int* firstPassEnd = nullptr);

// Scratch arrays of one curve evaluation.
struct CurveWork {
  std::vector<double> mix, ce, integral;
  explicit CurveWork(int n = 0) : mix(n), ce(n), integral(n) {}
};

// The tissue curve for F, fa, Ve and Ki with the (already delayed) inputs over n points of times.
// False when Ve is not positive or the result is not finite.
bool UptakeCurve(double F, double fa, double Ve, double Ki, const double* ca, const double* cv, const double* times,
                 int n, CurveWork& work, double* out);

// Ki from the balance at the last frame (the late-uptake formula), for F, fa and Ve:
//   Ki = (max(0, Cin_last - slope / F) Ve - C_last) / (C_last / F - fa ICa - (1 - fa) ICv).
struct LateUptake {
  double caLast = 0, cvLast = 0;  // last values of the undelayed inputs
  double caIntegral = 0, cvIntegral = 0;
  double tissueLast = 0;          // last tissue value
  double tissueSlope = 0;         // tissue slope over the last frames
};
double LateUptakeKi(const LateUptake& late, double F, double fa, double Ve);
// The input part of the balance: the last values and the integrals of both prepared inputs.
LateUptake LateInputs(const DualInputs& inputs);
// The balance of one tissue curve: the input part with the tissue's last value and its slope over
// the last `tailFrames` frames.
LateUptake WithTissue(const LateUptake& inputPart, const double* tissue, const double* times, int n, int tailFrames);
// The tissue slope between frame n - k and the last frame.
double TailSlope(const double* tissue, const double* times, int n, int k);

// The tissue curve for p = (F, fa, Ve) with Ki from the late-uptake balance, clamped into kiBox;
// false when the balance gives no Ki or the curve cannot be built.
bool LateUptakeCurve(const LateUptake& late, INTERVAL kiBox, const double* p, const double* ca, const double* cv,
                     const double* times, int n, CurveWork& work, double* out);

// The search over whole-second venous delays from lo to hi: for each, the venous input is delayed
// and put into *venousSlot (which the cost's context reads), the nVars variables in box are fitted
// by grid search and simplex with the model's optimisation settings, and the smallest cost wins (the
// earliest delay on ties). Progress counts `steps` delays. False when the core cannot delay the
// input or the optimiser fails; *best stays 1e60 when no fit had a finite cost.
bool SearchVenousDelay(int type, const DualInputs& inputs, double lo, double hi, long long steps, const INTERVAL* box,
                       int nVars, PR_AMOEBACOSTFUNC cost, void* context, const double** venousSlot,
                       std::vector<double>& venous, double* best, double* bestPoint, double* bestDelay);

// The venous delay search of the models that align the arterial input on the bolus: whole-second
// delays from the tissue's bolus start minus the venous one (not below 0) up to maxArrival further,
// otherwise as SearchVenousDelay. False also when no fit had a finite cost.
bool SearchVenousArrival(int type, const DualInputs& inputs, double tissueBolusTime, double maxArrival,
                         const INTERVAL* box, int nVars, PR_AMOEBACOSTFUNC cost, void* context,
                         const double** venousSlot, std::vector<double>& venous, double* best, double* bestPoint,
                         double* bestDelay);

// Writes the eleven outputs of the family from F and Ki (per second), fa and Ve (ml/100ml); the
// extracellular mean transit time Ve / (F + Ki) follows in seconds.
void PutOutputs(const OutputWriter& out, double F, double fa, double vePercent, double Ki, double arterialDelay,
                double venousDelay, double residual);

// A curve's diagnostic value, shown once when a single region curve is computed; never per voxel of
// a map.
void ShowCurveValues(const wchar_t* text);

}  // namespace kin::liver
