// Tests of the Kinmodels plug-in through its exports only: the library is loaded with dlopen, as
// the host loads it, and every DIDU_* function is resolved by name. Only the program's UI interface
// is linked, the one the plug-in falls back to when the host installs no message callbacks.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "KinmodelsApi.h"
#include "ScriptedUi.h"
#include "tests/ModelTestHost.h"

namespace {

constexpr double kVoid = 1e60;

using modeltest::Api;
using modeltest::api;
using modeltest::connectHost;
using modeltest::MessageRecorder;
using modeltest::range;

class KinmodelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(api().missing.empty()) << api().missing.front();
    recorder_.defaultAnswer = 1;  // IDOK
    connectHost(recorder_, callbacks_);
  }
  void TearDown() override {
    const Api& a = api();
    for (int type = 0; type < 58; ++type) {
      a.DIDU_ModelClose(type);
      a.DIDU_DefaultFreeParms(type);
    }
    a.DIDU_SetParmReq(nullptr, 0);
    a.DIDU_SetCallbacks(nullptr);
  }

  // Requests every output of the type.
  void requestAll(int type) {
    const int flags[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    api().DIDU_SetParmReq(flags, api().DIDU_GetNumOutParms(type));
  }
  void setTimes(const std::vector<double>& times) { api().DIDU_DefineTimeProfile(times.data(), int(times.size())); }

  // One curve through DIDU_ComputeParmArray; records start as a sentinel so that writes show.
  std::vector<DEMPOUT> compute(int type, const std::vector<double>& curve, int records, std::vector<double>* fit = nullptr) {
    std::vector<DEMPOUT> out(records + 1, DEMPOUT{-7, -7, -7, -7});
    const double* curves[1] = {curve.data()};
    api().DIDU_ComputeParmArray(type, curves, 1, fit ? fit->data() : nullptr, out.data(), nullptr, 0);
    EXPECT_EQ(out.back().value, -7) << "a record beyond the requested outputs was written";
    out.pop_back();
    return out;
  }

  MessageRecorder recorder_;
  DIDU_CALLBACKS callbacks_{};
};

// --- the catalogue as its tables document it, typed independently of the library's own table ---

const char* const kCatalogueRows =
R"tbl(
| 0 | "0. Basic measurements" | 8 | 2 | 0 | (empty) | all (0-8) | any | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 1 | "1. Area Under the Curve (AUC)" | 1 | 2 | 0 | (empty) | all (0-8) | time | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 2 | "2. Peak analysis" | 6 | 1 | 0 | (empty) | all (0-8) | time | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 3 | "3. Interleaved 2-state profile" | 4 | 0 | 0 | (empty) | 0 only | any | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 4 | "4. Reference curve distance and correlation" | 2 | 3 | 1 | "Reference curve" | all (0-8) | time | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 5 | "5. Time of active rise" | 2 | 2 | 0 | (empty) | all (0-8) | time | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 6 | (empty) | 1 | 2 | 0 | (empty) | all (0-8) | time | MR | 1 (initial 1: 0, 0) | no |
| 7 | "7.  T1 mapping using inversion-recovery" | 3 | 3 | 0 | "Input function" | 0 only | inversion time | MR | 2 (initial 2: 0, 4000) | no |
| 8 | "8.  Tofts two compartment exchange model {k-trans,Ve}" | 4 | 6 | 1 | "Input function" | all (0-8) | time | CT, MR, PET, US | 3, 4 (initial 4: 11, 2000) | no |
| 9 | "9.  Modified Tofts two compartment exchange model {k-trans,Ve,Va}" | 5 | 6 | 1 | "Input function" | all (0-8) | time | CT, MR, PET, US | 3, 4 (initial 4: 7, 2000) | no |
| 10 | "10. RPF\vACx (AIF integration)" | 3 | 2 | 1 | "Input function" | all (0-8) | time | CT, MR, PET | 3 (initial 3: 20, 2000) | no |
| 11 | (empty) | 3 | 1 | 1 | "Input function" | all (0-8) | time | CT, MR, PET, US | 3 (initial 3: 1, 200) | no |
| 12 | (empty) | 5 | 0 | 1 | "Input function" | all (0-8) | time | CT, MR, PET, US | 3 (initial 3: 3, 500) | no |
| 13 | "13. Transit Model {wa,ki,kti} (AIF convolution)" | 4 | 1 | 1 | "Input function" | all (0-8) | time | CT, MR, PET, US | 3 (initial 3: 6, 200) | no |
| 14 | "14. GKM with two site water exchange" | 4 | 6 | 1 | "Input function" | all (0-8) | time | MR | 3 (initial 3: 1, 200) | no |
| 15 | "15. Dual Input (Arterial\Portal Vein): {k_trans,V_e,Artf}" | 4 | 4 | 2 | "Two Input Functions" | all (0-8) | time | CT, MR, PET, US | 3 (initial 3: 5, 2000) | no |
| 16 | "16. T2 or T2* mono-exponential mapping" | 4 | 2 | 0 | (empty) | 0 only | echo time | MR | 2 (initial 2: 0, 2000) | no |
| 17 | "17. IVIM bi-exponential diffusion Segmented Fit:  S0*(f*exp(-b*Dp)+(1-f)*exp(-b*Dt))" | 7 | 5 | 0 | (empty) | 0 only | b-value | MR | 2 (initial 2: 0, 20000) | no |
| 18 | "18. IVIM bi-exponential diffusion: S(b) = S0*((1-f)*exp(-b*Dt) + f*exp(-b*Dp))" | 4 | 7 | 0 | (empty) | 0 only | b-value | MR | 2, 7 (initial 7: 0, 100000) | no |
| 19 | "19. ADC monoexponential diffusion: S = S0*exp(-b*ADC)" | 2 | 2 | 0 | (empty) | 0 only | b-value | MR | 2 (initial 2: 0, 5000) | yes |
| 20 | (empty) | 2 | 4 | 2 | "Two Input functions" | all (0-8) | time | CT, MR, PET, US | 1 (initial 1: 0, 0) | no |
| 21 | "21. Stretched exponential diffusion: S = S0*exp((-b*DDC)^alpha)" | 3 | 2 | 0 | (empty) | 0 only | b-value | MR | 2 (initial 2: 0, 2000) | yes |
| 22 | "22. S = M0*(1-exp(-TD/T1) with 6 fixed TD values" | 6 | 1 | 0 | (empty) | 0 only | time | MR | 2 (initial 2: 0, 100000) | no |
| 23 | "23. S=M0*(1-exp(-TD/T1) - 2 variables, TD=(700/4000) or TD=(350,700,1050,1750,2450,4000)" | 6 | 0 | 0 | (empty) | 0 only | time | MR | 2 (initial 2: 0, 50000) | no |
| 24 | "24. T1 mapping using variable flip angle: S = M0*(1-exp(-TR/T1))*sin(A)/(1-exp(-TR/T1)*cos(A)) " | 3 | 1 | 0 | (empty) | 0 only | flip angle | MR | 2, 6 (initial 2: 0, 1000) | no |
| 25 | "25. T2 mapping biexponential: S = Noise + S0*(RWP*exp(-TE/T2short)+FWP*exp(-TE/T2long))" | 8 | 5 | 0 | (empty) | 0 only | echo time | MR | 2 (initial 2: 0, 50000) | no |
| 26 | "26. T1rho mono-exponential model" | 4 | 1 | 0 | (empty) | 0 only | spin-lock time | MR | 2 (initial 2: 0, 1000) | no |
| 27 | "27. Vt (Logan Plot)" | 3 | 3 | 1 | "Reference Curve" | all (0-8) | time | PET | 1 (initial 1: 0, 0) | no |
| 28 | "28. Diffusional kurtosis: S = S0*exp(-b*D + b^2*D^2*K/6)" | 3 | 2 | 0 | (empty) | 0 only | b-value | MR | 2, 3 (initial 2: 5, 20000) | yes |
| 29 | "29. Ichise's Non-Invasive Plot (MRTM0)" | 5 | 4 | 1 | "Reference Curve" | all (0-8) | time | PET | 1 (initial 1: 0, 0) | no |
| 30 | "30. Ichise's Multilinear Reference Tissue Model (MRTM)" | 4 | 4 | 1 | "Reference Curve" | all (0-8) | time | PET | 1 (initial 1: 0, 0) | no |
| 31 | "31. Ichise MRTM2 with fixed k2'" | 5 | 5 | 1 | "Reference Curve" | all (0-8) | time | PET | 1 (initial 1: 0, 0) | no |
| 32 | "32. FDG  2-Tissue Compartment Models {K1,k2,k3,k4}" | 5 | 4 | 1 | "Input function" | all (0-8) | time | PET | 3 (initial 3: 7, 2000) | no |
| 33 | "33. Two-compartment model short formula (Sokoloff'79)" | 6 | 11 | 1 | "Input function" | all (0-8) | time | PET | 3 (initial 3: 5, 2000) | yes |
| 34 | "34. Two-compartment model long formula (Reivich'85)" | 5 | 9 | 1 | "Input function" | all (0-8) | time | PET | 3 (initial 3: 5, 2000) | no |
| 35 | (empty) | 11 | 7 | 2 | "Dual Compartment Dual Input " | all (0-8) | time | MR | 3 (initial 3: 3, 2000) | no |
| 36 | (empty) | 11 | 4 | 2 | "Two Input functions" | all (0-8) | time | MR | 3 (initial 3: 5, 1000) | no |
| 37 | (empty) | 11 | 3 | 2 | "Two Input functions" | all (0-8) | time | MR | 3 (initial 3: 1, 500) | no |
| 38 | (empty) | 11 | 8 | 2 | "Two Input functions" | all (0-8) | time | MR | 3 (initial 3: 5, 1000) | no |
| 39 | (empty) | 11 | 6 | 2 | "Two Input functions" | all (0-8) | time | MR | 3 (initial 3: 3, 2000) | no |
| 40 | (empty) | 11 | 8 | 2 | "Two Input functions" | all (0-8) | time | MR | 3 (initial 3: 5, 1000) | no |
| 41 | (empty) | 11 | 8 | 2 | "Two Input functions" | all (0-8) | time | MR | 3 (initial 3: 5, 1000) | no |
| 42 | "42. T1 mapping using variable flip angle with B-field" | 4 | 6 | 0 | (empty) | 0 only | flip angle | MR | 2 (initial 2: 0, 20000) | no |
| 43 | "43. 2CXM {vp,ve,Fp,PS} simplex optimization [Flouri 2016]" | 6 | 8 | 1 | "Input function" | all (0-8) | time | MR | 3 (initial 3: 5, 2000) | no |
| 44 | (empty) | 5 | 4 | 1 | "Input function" | all (0-8) | time | MR | 2 (initial 2: 0, 10000) | no |
| 45 | "45. 2CXM {vp,ve,Fp,PS} - LLS" | 5 | 1 | 1 | "Input function" | all (0-8) | time | MR | 1 (initial 1: 0, 0) | no |
| 46 | "46. 2CFM {vp,ve,Fp,PS} simplex optimization [Flouri 2016]" | 6 | 8 | 1 | "Input function" | all (0-8) | time | MR | 3 (initial 3: 5, 2000) | no |
| 47 | "47. Tissue Uptake Model {vp,Fp,PS} simplex optimization [Sourbron 2013]" | 6 | 7 | 1 | "Input function" | all (0-8) | time | MR | 3 (initial 3: 5, 2000) | no |
| 48 | "48. Kety-Schmidt model { K}" | 5 | 6 | 1 | "Input function" | 0 only | time | CT, PET | 3 (initial 3: 50, 5000) | no |
| 49 | "49. MR 2-Compartment Reference Region model [Yankeelov 2005]" | 3 | 3 | 1 | "Reference Curve" | all (0-8) | time | MR | 3 (initial 3: 4, 20000) | no |
| 50 | "50. T1rho bi-exponential model : S = S0*(fS*exp(-TSL[i]/T1rhoS) + fL*exp(-TSL[i]/T1rhoL))" | 7 | 4 | 0 | (empty) | 0 only | spin-lock time | MR | 2 (initial 2: 0, 25000) | no |
| 51 | "51. T1 mapping using variable flip angle and TR with bias field" | 5 | 7 | 0 | (empty) | 0 only | flip angle | MR | 2, 3 (initial 2: 5, 20000) | no |
| 52 | "52. Gamma Variate fit: Y(t) = K*((t-TA)/Tspan)^alpha*exp(-(t-TA)/Tspan/beta)" | 5 | 2 | 0 | (empty) | all (0-8) | time | CT, MR, PET | 2, 7 (initial 7: 0, 50000) | no |
| 53 | "53. T1 mapping using variable flip angle and two TR values" | 6 | 7 | 0 | (empty) | 0 only | flip angle | MR | 2 (initial 2: 0, 500000) | no |
| 54 | (empty) | 4 | 4 | 0 | (empty) | 0 only | b-value | none | 2, 7 (initial 7: 0, 100000) | no |
| 55 | (none: null) | 0 | 0 | 0 | (none: null) | - | - | - | - | no |
| 56 | (none: null) | 0 | 0 | 0 | (none: null) | - | - | - | - | no |
| 57 | "57.  Tofts two compartment exchange model {k-trans,Ve} - GOMR" | 5 | 7 | 1 | "Input function" | all (0-8) | time | CT, MR, PET, US | 2, 7 (initial 7: 1, 200000) | no |
)tbl"
;

const char* const kOutputAndParmRows =
R"tbl(
| 0 | "Max value" (1); "Value spread" (1); "Median value" (1); "Mean value" (1); "Value StdDev" (1); "CoeffOfVariation" (1); "Skewness" (1); "Kurtosis" (1) | "Start Index" = 0; "Length (0=all remaining)" = 0 |
| 1 | "Curve integral by time" (1) | "Start Index" = 0; "Length (0=all remaining)" = 0 |
| 2 | "Effective Peak Reach Time" ["sec"] (1); "mTTP from Bolus" ["sec"] (1); "Weighted Peak" ["sec"] (1); "Time of Bolus arrival _mTTP-based_" ["sec"] (1); "Peak time" ["sec"] (1); "mTTP absolute" ["sec"] (1) | "Minimal surge length" = 2 |
| 3 | "mean of odd frames" (1); "stdev of odd frames" (1); "mean of even frames" (1); "stdev of even frames" (1) | - |
| 4 | "Distance" (1); "correlation" (1) | "L-norm" = 2; "start index" = 0; "end index" = 0 |
| 5 | "Active rise time" ["sec"] (1); "Slope" (1) | "Active Rise Low Threshold" = 0.2; "Active Rise High Threshold" = 0.95 |
| 6 | "CBV baseline integral" (1) | "Background Threshold" = 20; "Skip Initial Time Points" = 0 |
| 7 | "S0 spin" (1); "T1 relaxation time (sec)" ["sec"] (1); "residual" (1) | "Method (0=Real\1=Modulus)" = 0; "Air threhsold" = 20; "Offset signal" = 0 |
| 8 | "K-trans" ["1/min"] (1); "Ve" (1); "Ta delay" ["sec"] (1); "residual" (1) | "K-trans max (1/min)" = 5; "Ve max" = 10; "Min arterial delay (sec)" = 0; "Max arterial delay (sec)" = 0; "Use L1\L2 residual metric" = 2; "Use balanced solution (0\1)" = 1 |
| 9 | "K-trans" ["1/min"] (1); "Ve" (1); "Va" (1); "Arterial_delay" ["sec"] (1); "residual" (1) | "K-trans max (1/min)" = 5; "Ve max" = 10; "Min arterial delay (sec)" = 0; "Max arterial delay (sec)" = 0; "Use L1\L2 residual metric" = 2; "Use Balanced solution (0\1)" = 1 |
| 10 | "RPF" (1); "vACx" (1); "residual" (1) | "RPF_max" = 5; "Va_max" = 5 |
| 11 | "RPF" (1); "vACx" (1); "residual" (1) | "Convolution precision" = 0.01 |
| 12 | "E" (1); "F" ["1/min"] (1); "Tc" ["sec"] (1); "Ve" (1); "residual" (1) | - |
| 13 | "Ki blood flow" (1); "Ti minimum transit time" ["sec"] (1); "voxel blood volume" (1); "residual" (1) | "Convolution precision" = 0.01 |
| 14 | "k_trans" ["1/min"] (1); "V_e" (1); "IWL_tau" ["sec"] (1); "resid" (1) | "Ktrans_Min" = 0.01; "Ktrans_Max" = 10; "Ve_Min" = 0.01; "Ve_Max" = 10; "Tau_Min" = 0.05; "Tau_Max" = 1 |
| 15 | "k_trans" ["1/min"] (1); "V_e" (1); "ArtFract" (1); "residual" (1) | "Ktrans_Min" = 0.2; "Ktrans_Max" = 0.8; "Ve_Min" = 0.2; "Ve_Max" = 10 |
| 16 | "S0" (1); "T2" ["sec"] (1); "R2" ["1/sec"] (1); "residual" (1) | "T2 low (sec)" = 0.01; "T2 high (sec)" = 1 |
| 17 | "S0" (1); "f microcirculation fraction" (1); "Dt component" ["mm^2/sec"] (1); "Dp component" ["mm^2/sec"] (1); "Dt_x_1-f" ["mm^2/sec"] (1); "Dp_x_f" ["mm^2/sec"] (1); "RMSE" (1) | "min Dt (mm^2/sec)" = 0.00014; "max Dt (mm^2/sec)" = 0.0031; "min Dp (mm^2/sec)" = 0.006; "max Dp (mm^2/sec)" = 0.2; "B-value Tail Start" = 199.99 |
| 18 | "f" (1); "Dt" ["mm^2/sec"] (1); "Dp" ["mm^2/sec"] (1); "RMSE" (1) | "S0 noise" = 0.2; "min f" = 0; "max f" = 1; "min Dt (mm^2/sec)" = 0.00014; "max Dt (mm^2/sec)" = 0.0031; "min Dp (mm^2/sec)" = 0.006; "max Dp (mm^2/sec)" = 0.2 |
| 19 | "ADC" ["mm^2/sec"] (8); "residual" (1) | "Low signal tail cutoff" = 0; "maximal ADC (mm^2/sec)" = 0.05 |
| 20 | "Combined Distance" (1); "Label Map" (1) | "Distance Mode" = 2; "Distance Threshold" = 0.02; "Noise Level" = 0; "FLAT Threshold" = 0 |
| 21 | "DDC" ["mm^2/sec"] (1); "alpha" (1); "residual" (1) | "Low signal tail cutoff" = 0; "DDC upper limit" = 0.05 |
| 22 | "T1" ["ms"] (1); "Fitting residual" (1); "Analytic T1" ["ms"] (1); "Analytic T1 Diff" ["ms"] (1); "Analytic T1 Diff Relative" (1); "Analytic T1 Diff Percentage" ["pct"] (1) | "Round T1 values" = 1 |
| 23 | "Analytic T1" ["ms"] (1); "T1" ["ms"] (1); "Fitting residual" (1); "Analytic T1 Diff" ["ms"] (1); "Analytic T1 Diff Relative" (1); "Analytic T1 Diff Percentage" ["pct"] (1) | - |
| 24 | "T1" ["sec"] (1); "M0" (1); "residual" (1) | "Background threshold (xNoise)" = 5 |
| 25 | "S0" (1); "T2short" ["sec"] (1); "T2long" ["sec"] (1); "R2short" ["1/sec"] (1); "R2long" ["1/sec"] (1); "RWP" (1); "FWP" (1); "residual" (1) | "T2short low (s)" = 0.01; "T2short high (s)" = 3; "T2long low (s)" = 0.01; "T2long high (s)" = 3; "Noise" = 1 |
| 26 | "T1rho" ["sec"] (1); "R1rho" (1); "RMSE" (1); "RRSE" (1) | "Noise" = 1 |
| 27 | "Vt" (1); "Intersect" (1); "t-star" ["sec"] (1) | "Equilibration time t* (min)" = 0; "Max Err (%)" = 10; "Background threshold" = 3 |
| 28 | "D corrected diffusion" ["mm^2/sec"] (8); "K excess kurtosis" (8); "residual" (1) | "minimal K excess kurtosis" = 0; "maximal K excess kurtosis" = 3 |
| 29 | "BPnd - binding potential" (8); "k2'- clearance rate constant" (8); "R1- relative radioligand delivery" (1); "b - Fitting intercept" (8); "t-star equilibration time (sec)" (1) | "Start Lin (sec)" = 0; "End Lin  (sec)" = 3600; "Max Err %" = 10; "Background threshold" = 3 |
| 30 | "BPnd - binding potential" (8); "k2'- clearance rate constant" (8); "R1- relative radioligand delivery" (1); "t-star equilibration time (sec)" (1) | "Start (sec)" = 0; "End   (sec)" = 3600; "Max Err %" = 10; "Background threshold" = 3 |
| 31 | "BPnd - binding potential" (8); "R1- relative radioligand delivery" ["min"] (8); "t-star - equilibration time" ["sec"] (1); "max relative error" (1); "residual over average signal" (1) | "Start (min)" = 0; "End   (min)" = 600; "Max Err %" = 10; "Background threshold" = 3; "k2' (1/min)" = 0.022 |
| 32 | "K1" ["1/min"] (1); "k2" ["1/min"] (1); "k3" ["1/min"] (1); "k4" ["1/min"] (1); "residual" (1) | "K1 max (1/min)" = 100; "k2 max (1/min)" = 100; "k3 max (1/min)" = 100; "k4 max (1/min)" = 100 |
| 33 | "K1" ["1/min"] (1); "k2" ["1/min"] (1); "k3" ["1/min"] (1); "Ki" (1); "Ta - arterial delay" ["sec"] (1); "residual" (1) | "K1 min (1/min)" = 0.001; "K1 max (1/min)" = 1.5; "k2 min (1/min)" = 0.001; "k2 max (1/min)" = 1; "k3 min (1/min)" = 0.001; "k3 max (1/min)" = 1; "blood volume" = 0.045; "Min Arterial delay (sec)" = 0; "Max Arterial delay (sec)" = 0; "Arterial delay precision (sec)" = 0.1; "Use L1\L2 residual metric {1,2}" = 2 |
| 34 | "K1" ["1/min"] (1); "k2" ["1/min"] (1); "k3" ["1/min"] (1); "Ta - arterial delay" ["sec"] (1); "residual" (1) | "K1 min (1/min)" = 0.001; "K1 max (1/min)" = 1.5; "k2 min (1/min)" = 0.001; "k2 max (1/min)" = 1; "k3 min (1/min)" = 0.001; "k3 max (1/min)" = 1; "blood volume" = 0.045; "Max Arterial delay (sec)" = 0; "Use L1\L2 residual metric {1,2}" = 2 |
| 35 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "Flow max [0.01,500]" = 250; "fa min   [0,1]" = 0.05; "fa max   [0,1]" = 0.9; "Max Arterial delay (sec)" = 0; "Max Venous delay (sec)" = 0; "Arterial arrives first" = 0; "Use L1\L2 metric" = 2 |
| 36 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "Flow max [0.01,500]" = 200; "fa min   [0,1]" = 0.05; "fa max   [0,1]" = 0.9; "Max Venous arrival relative to arterial (sec)" = 0 |
| 37 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "fa min   [0,1]" = 0.05; "fa max   [0,1]" = 0.9; "Max Venous arrival relative to arterial (sec)" = 0 |
| 38 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "Flow max [1,150]" = 150; "fa min   [0,1]" = 0.05; "fa max   [0,1]" = 0.9; "Ki max   [0.01,50]" = 0; "Max Arterial delay (sec)" = 15; "Max Venous delay (sec" = 0; "Analysis length (sec)" = 1; "Concentration linear=1\log=0" = 0 |
| 39 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "Flow max [0.01,100]" = 100; "MonoTail start (sec)" = 100; "Max Arterial delay (sec)" = 15; "Max Venous delay (sec" = 0; "Arterial arrives first" = 0; "Use L1\L2 metric" = 2 |
| 40 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "Flow max [1,150]" = 150; "fa min   [0,1]" = 0.05; "fa max   [0,1]" = 0.9; "Ki max   [0.01,50]" = 50; "Max Arterial delay (sec)" = 15; "Max Venous delay (sec)" = 15; "Use L1\L2 metric" = 2; "Monotail start (sec)" = 180 |
| 41 | "F-total plasma flow" ["ml/min/100ml"] (3); "Fa-arterial plasma flow" ["ml/min/100ml"] (3); "Fv-venous plasma flow" ["ml/min/100ml"] (3); "fa-arterial flow fraction" (3); "Ve-extracellular volume" ["ml/100ml"] (3); "EMTT-extracellular mean transit time" ["sec"] (3); "Ki-intracellular uptake rate" ["1/100/min"] (3); "fi-hepatic uptake fraction" (3); "Arterial delay" ["sec"] (3); "Venous delay" ["sec"] (3); "residual" (3) | "Flow max" = 200; "fa min   [0,1]" = 0.05; "fa max   [0,1]" = 0.9; "Ki max" = 100; "Max Arterial delay (sec)" = 5; "Max Venous delay (sec" = 0; "Analysis length (sec)" = 400; "Use L1\L2 residual metric" = 2 |
| 42 | "T1" ["sec"] (1); "M0" (1); "Bias field" (1); "fitting RMSE" (1) | "Min bias" = 0.5; "Max bias" = 2; "Bias precision" = 100; "Min T1 (ms)" = 500; "Max T1 (ms)" = 3000; "Regularize cost coefficient" = 0 |
| 43 | "vp" (1); "ve" (1); "Fp" ["1/min"] (1); "PS" ["1/min"] (1); "Ta" ["sec"] (1); "residual" (1) | "vp max" = 1; "ve max" = 1; "Fp max (1/min)" = 5; "PS max (1/min)" = 5; "Use L1\L2 residual metric" = 2; "Min Arterial delay (sec)" = 0; "Max Arterial delay (sec)" = 0; "Arterial delay delta (sec)" = 0.5 |
| 44 | "vp" (1); "ve" (1); "Fp" ["1/min"] (1); "PS" ["1/min"] (1); "residual" (1) | "vp max" = 1; "ve max" = 1; "Fp max (1/min)" = 10; "PS max (1/min)" = 10 |
| 45 | "vp" (1); "ve" (1); "Fp" ["1/min"] (1); "PS" ["1/min"] (1); "residual" (1) | "Exclude invalid" = 0 |
| 46 | "vp" (1); "ve" (1); "Fp" ["1/min"] (1); "PS" ["1/min"] (1); "Ta" ["sec"] (1); "residual" (1) | "vp max" = 1; "ve max" = 1; "Fp max (1/min)" = 10; "PS max (1/min)" = 10; "Use L1\L2 residual metric" = 2; "Min Arterial delay (sec)" = 0; "Max Arterial delay (sec)" = 0; "Arterial delay delta (sec)" = 0.5 |
| 47 | "vp" (1); "Fp" ["1/min"] (1); "PS" ["1/min"] (1); "Ta" ["sec"] (1); "Ktrans" ["1/min"] (1); "residual" (1) | "vp max" = 1; "Fp max (1/min)" = 5; "PS max (1/min)" = 5; "Use L1\L2 residual metric" = 2; "Min Arterial delay (sec)" = 0; "Max Arterial delay (sec)" = 0; "Arterial delay delta (sec)" = 0.5 |
| 48 | "K" ["g/100mlXmin"] (1); "f" ["g/100mlXmin"] (1); "Ta - arterial delay" ["sec"] (1); "Dispersion time" ["sec"] (1); "residual" (5) | "Lambda (ml/g)" = 0.95; "Max K ml/(100gXmin)" = 500; "Alaysis length (sec)" = 300; "Max Arterial delay (sec)" = 10; "Max Arterial dispersion (sec)" = 10; "Use L1 or L2 residual metric" = 2 |
| 49 | "Ktrans" (8); "ve" (8); "residual" (1) | "Ktrans-RR" = 0.15; "ve-RR" = 0.12; "Ktrans max (1/min)" = 2 |
| 50 | "T1rhoS" ["sec"] (3); "fS" (3); "T1rhoL" ["sec"] (3); "fL" (3); "number of components" (3); "RMSE" (3); "RRSE" (3) | "Noise" = 1; "T1rhoL >= T1rhoS*" = 4; "Min T1rhoL (ms)" = 25; "Monoexponential fraction limit" = 0.1 |
| 51 | "T1" ["sec"] (1); "M0" (1); "Bias field" (1); "T2" ["sec"] (1); "fitting RMSE" (0) | "Vicinity Rad" = 4; "Min bias" = 0.5; "Max bias" = 2; "Min T1 (ms)" = 200; "Max T1 (ms)" = 3000; "Min T2 (ms)" = 40; "Max T2 (ms)" = 60 |
| 52 | "K" (8); "alpha" (1); "beta" (8); "TA" ["sec"] (1); "residual" (8) | "Minimal Time of Arrival (sec)" = 0; "Maximal Time of Arrival (sec)" = 0 |
| 53 | "T1" ["sec"] (1); "T2" ["sec"] (1); "M0" (1); "M1" (1); "Bias field" (0); "fitting RMSE" (0) | "Vicinity Rad" = 4; "Min bias" = 0.5; "Max bias" = 2; "Min T1 (ms)" = 200; "Max T1 (ms)" = 3000; "Min T2 (ms)" = 40; "Max T2 (ms)" = 60 |
| 54 | "f" (1); "D" ["mm^2/sec"] (1); "Dstar" ["mm^2/sec"] (1); "RMSE" (1) | "S0 noise" = 0.2; "max D (mm^2/sec)" = 0.005; "min D1 (mm^2/sec)" = 0.005; "max D1 (mm^2/sec)" = 0.3 |
| 57 | "K-trans" ["1/min"] (1); "Ve" (1); "Ta delay" ["sec"] (1); "residual" (1); "original time fit RMSE" (1) | "K-trans max (1/min)" = 1; "Ve max" = 10; "Min arterial delay (sec)" = 0; "Max arterial delay (sec)" = 0; "Time delta" = 2; "Flatline advantage" = 1.01; "Remove blood vessels" = 1 |
)tbl"
;

struct ExpectedOutput {
  std::string name, units;
  int colour = 0;
};
struct ExpectedParm {
  std::string name;
  double value = 0;
};
struct ExpectedModel {
  bool exists = false;
  std::string name, panel;
  int numOut = 0, numFree = 0, numIfuncs = 0;
  int conv = 0, dyn = 0, modality = 0, methods = 0, method = 0, optA = 0, optB = 0;
  bool extrapolate = false;
  std::vector<ExpectedOutput> outputs;
  std::vector<ExpectedParm> parms;
};

std::vector<std::string> splitCells(const std::string& row) {
  // "| a | b | c |" -> a, b, c
  std::vector<std::string> cells;
  size_t pos = 2;
  while (pos < row.size()) {
    const size_t next = row.find(" | ", pos);
    if (next == std::string::npos) {
      cells.push_back(row.substr(pos, row.size() - 2 - pos));
      break;
    }
    cells.push_back(row.substr(pos, next - pos));
    pos = next + 3;
  }
  return cells;
}

std::vector<std::string> lines(const char* text) {
  std::vector<std::string> out;
  std::string s(text);
  size_t pos = 0;
  while (pos < s.size()) {
    size_t end = s.find('\n', pos);
    if (end == std::string::npos) end = s.size();
    if (end > pos) out.push_back(s.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

std::string unquote(const std::string& cell) {
  if (cell == "(empty)") return "";
  return cell.substr(1, cell.size() - 2);
}

int bitsOfWords(const std::string& cell, const std::vector<std::pair<std::string, int>>& words) {
  int bits = 0;
  for (const auto& [word, bit] : words)
    if (cell == word || cell.find(word + ",") != std::string::npos || cell.ends_with(" " + word) ||
        cell.starts_with(word + ","))
      bits |= bit;
  return bits;
}

// The quoted string starting at pos; pos moves past its closing quote.
std::string quoted(const std::string& s, size_t& pos) {
  const size_t open = s.find('"', pos);
  const size_t close = s.find('"', open + 1);
  pos = close + 1;
  return s.substr(open + 1, close - open - 1);
}

std::vector<ExpectedModel> expectedCatalogue() {
  std::vector<ExpectedModel> models(58);
  for (const std::string& row : lines(kCatalogueRows)) {
    const auto c = splitCells(row);
    EXPECT_EQ(c.size(), 11u) << row;
    ExpectedModel& m = models.at(std::stoi(c[0]));
    m.exists = c[1] != "(none: null)";
    if (!m.exists) continue;
    m.name = unquote(c[1]);
    m.numOut = std::stoi(c[2]);
    m.numFree = std::stoi(c[3]);
    m.numIfuncs = std::stoi(c[4]);
    m.panel = unquote(c[5]);
    m.conv = c[6] == "all (0-8)" ? 511 : c[6] == "0 only" ? 1 : -1;
    const std::vector<std::pair<std::string, int>> axes = {{"any", 63},         {"time", 1},        {"inversion time", 2},
                                                           {"echo time", 4},    {"b-value", 8},     {"flip angle", 16},
                                                           {"spin-lock time", 32}};
    for (const auto& [word, bit] : axes)
      if (c[7] == word) m.dyn = bit;
    m.modality = bitsOfWords(c[8], {{"CT", 1}, {"MR", 2}, {"PET", 4}, {"US", 8}});
    // "3, 4 (initial 4: 11, 2000)"
    const size_t open = c[9].find(" (initial ");
    std::string list = c[9].substr(0, open);
    for (size_t p = 0; p < list.size();) {
      m.methods |= 1 << std::stoi(list.substr(p));
      p = list.find(", ", p);
      p = p == std::string::npos ? list.size() : p + 2;
    }
    std::sscanf(c[9].c_str() + open, " (initial %d: %d, %d)", &m.method, &m.optA, &m.optB);
    m.extrapolate = c[10] == "yes";
  }
  for (const std::string& row : lines(kOutputAndParmRows)) {
    const auto c = splitCells(row);
    ExpectedModel& m = models.at(std::stoi(c[0]));
    for (size_t pos = 0; c[1].find('"', pos) != std::string::npos;) {
      ExpectedOutput o;
      o.name = quoted(c[1], pos);
      if (c[1].compare(pos, 2, " [") == 0) o.units = quoted(c[1], pos);
      o.colour = std::stoi(c[1].substr(c[1].find('(', pos) + 1));
      pos = c[1].find(')', pos) + 1;
      m.outputs.push_back(o);
    }
    for (size_t pos = 0; c[2] != "-" && c[2].find('"', pos) != std::string::npos;) {
      ExpectedParm p;
      p.name = quoted(c[2], pos);
      p.value = std::stod(c[2].substr(c[2].find("= ", pos) + 2));
      m.parms.push_back(p);
    }
  }
  return models;
}

std::string text(const char* s) { return s ? s : "<null>"; }

// --- tests ---

TEST_F(KinmodelsTest, LoadsAndResolvesEveryExportButNothingElse) {
  const Api& a = api();
  EXPECT_TRUE(a.missing.empty());
  // Internal functions stay hidden: kin::modelSpec(long long) is not exported.
  EXPECT_EQ(dlsym(a.handle, "_ZN3kin9modelSpecEx"), nullptr);
  EXPECT_STREQ(a.DIDU_GetDomainName(), "Dynamic experiment framework");
  EXPECT_EQ(a.DIDU_GetNumModels(), 58);
  EXPECT_FALSE(a.DIDU_ModelOutputFitCurve());
}

TEST_F(KinmodelsTest, CatalogueMatchesItsTablesFieldByField) {
  const Api& a = api();
  const std::vector<ExpectedModel> expected = expectedCatalogue();
  for (int type = 0; type < 58; ++type) {
    SCOPED_TRACE("type " + std::to_string(type));
    const ExpectedModel& m = expected[type];
    if (!m.exists) {
      EXPECT_EQ(a.DIDU_GetModelName(type), nullptr);
      EXPECT_EQ(a.DIDU_GetIFpanelName(type), nullptr);
      EXPECT_EQ(a.DIDU_GetNumOutParms(type) + a.DIDU_GetNumFreeParms(type) + a.DIDU_GetNumIfuncs(type), 0);
      EXPECT_EQ(a.DIDU_GetAllowedConcConv(type) | a.DIDU_GetAllowedDynDim(type) | a.DIDU_GetAllowedModality(type) |
                    a.DIDU_GetAllowedOptimization(type),
                0);
      EXPECT_EQ(a.DIDU_DefaultFreeParms(type), nullptr);
      continue;
    }
    EXPECT_EQ(text(a.DIDU_GetModelName(type)), m.name);
    EXPECT_EQ(text(a.DIDU_GetIFpanelName(type)), m.panel);
    EXPECT_EQ(a.DIDU_GetNumIfuncs(type), m.numIfuncs);
    EXPECT_EQ(a.DIDU_GetAllowedConcConv(type), m.conv);
    EXPECT_EQ(a.DIDU_GetAllowedDynDim(type), m.dyn);
    EXPECT_EQ(a.DIDU_GetAllowedModality(type), m.modality);
    EXPECT_EQ(a.DIDU_GetAllowedOptimization(type), m.methods);
    EXPECT_EQ(a.DIDU_ExtrapolateEnabled(type), m.extrapolate);
    int optA = -1, optB = -1;
    EXPECT_EQ(a.DIDU_GetCurrentOptimization(type, &optA, &optB), m.method);
    EXPECT_EQ(optA, m.optA);
    EXPECT_EQ(optB, m.optB);

    ASSERT_EQ(a.DIDU_GetNumOutParms(type), m.numOut);
    ASSERT_EQ(int(m.outputs.size()), m.numOut);
    for (int i = 0; i < m.numOut; ++i) {
      EXPECT_EQ(text(a.DIDU_GetOutParmName(type, i)), m.outputs[i].name);
      EXPECT_EQ(text(a.DIDU_GetOutParmUnits(type, i)), m.outputs[i].units);
      EXPECT_EQ(a.DIDU_GetDefaultClrScheme(type, i), m.outputs[i].colour);
    }
    ASSERT_EQ(a.DIDU_GetNumFreeParms(type), m.numFree);
    ASSERT_EQ(int(m.parms.size()), m.numFree);
    std::vector<double> values(m.numFree + 1, -1);
    if (m.numFree > 0) {
      EXPECT_EQ(a.DIDU_GetFreeParms(type, values.data()), values.data());
    }
    for (int i = 0; i < m.numFree; ++i) {
      EXPECT_EQ(text(a.DIDU_GetFreeParmName(type, i)), m.parms[i].name);
      EXPECT_EQ(values[i], m.parms[i].value) << m.parms[i].name;
    }
    EXPECT_EQ(values.back(), -1) << "more values copied than the model has";

    int tasks[2] = {-1, -1};
    a.DIDU_GetPreprocessTasks(type, tasks);
    EXPECT_EQ(tasks[0], type == 6 || type == 24 ? 1 : 0);
    EXPECT_EQ(tasks[1], type == 6 ? 1 : 0);
  }
}

TEST_F(KinmodelsTest, UnknownTypesAndIndicesGiveNothing) {
  const Api& a = api();
  EXPECT_STREQ(a.DIDU_GetModelName(6), "");
  for (unsigned type : {55u, 56u, 58u, 99u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(a.DIDU_GetModelName(type), nullptr);
    EXPECT_EQ(a.DIDU_GetNumOutParms(type), 0);
    EXPECT_EQ(a.DIDU_GetOutParmName(type, 0), nullptr);
    EXPECT_FALSE(a.DIDU_ExtrapolateEnabled(int(type)));
    EXPECT_EQ(a.DIDU_SetFreeParms(int(type), nullptr), nullptr);
    double dst = -1;
    EXPECT_EQ(a.DIDU_GetFreeParms(int(type), &dst), nullptr);
    EXPECT_EQ(dst, -1);
    EXPECT_EQ(a.DIDU_GetCalcVicRad(int(type)), 0);
  }
  // Output and parameter indices outside the counts.
  EXPECT_EQ(a.DIDU_GetOutParmName(0, 8), nullptr);
  EXPECT_EQ(a.DIDU_GetOutParmName(0, -1), nullptr);
  EXPECT_EQ(a.DIDU_GetOutParmUnits(2, 6), nullptr);
  EXPECT_EQ(a.DIDU_GetDefaultClrScheme(51, 5), 0);
  EXPECT_EQ(a.DIDU_GetFreeParmName(0, 2), nullptr);
  EXPECT_EQ(a.DIDU_GetFreeParmName(3, 0), nullptr);
  // Types without free parameters have no storage.
  EXPECT_EQ(a.DIDU_DefaultFreeParms(3), nullptr);
  EXPECT_EQ(a.DIDU_GetFreeParms(12, nullptr), nullptr);
  EXPECT_EQ(a.DIDU_GetFreeParms(0, nullptr), nullptr);
}

TEST_F(KinmodelsTest, SelectsModelsByName) {
  const Api& a = api();
  const struct {
    const wchar_t* text;
    int result, current;
  } cases[] = {
      {L"8.  Tofts two compartment exchange model {k-trans,Ve}", 1, 8},
      {L"57.  Tofts two compartment exchange model {k-trans,Ve} - GOMR", 1, 57},
      {L"Model: 16. T2 or T2* mono-exponential mapping (chosen)", 1, 16},
      {L"no such model", 0, 16},
      {L"", 0, 16},
  };
  a.DIDU_SetCurrentModel(3);
  EXPECT_EQ(a.DIDU_GetCurrentModel(), 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(a.DIDU_SetCurrentModelByName(c.text), c.result);
    EXPECT_EQ(a.DIDU_GetCurrentModel(), c.current);
  }
  EXPECT_EQ(a.DIDU_SetCurrentModelByName(nullptr), 0);
  a.DIDU_SetCurrentModel(0);
}

TEST_F(KinmodelsTest, FreeParametersOptimisationAndVicinityRadius) {
  const Api& a = api();
  EXPECT_EQ(a.DIDU_GetCalcVicRad(51), 4);
  EXPECT_EQ(a.DIDU_GetCalcVicRad(53), 4);
  EXPECT_EQ(a.DIDU_GetCalcVicRad(16), 0);
  std::vector<double> values(7);
  a.DIDU_GetFreeParms(51, values.data());
  values[0] = 2.9;
  const double* current = a.DIDU_SetFreeParms(51, values.data());
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current[0], 2.9);
  EXPECT_EQ(a.DIDU_GetCalcVicRad(51), 2);
  values[0] = 1e60;  // no radius at all rather than an overflowing conversion
  a.DIDU_SetFreeParms(51, values.data());
  EXPECT_EQ(a.DIDU_GetCalcVicRad(51), 0);
  EXPECT_EQ(a.DIDU_DefaultFreeParms(51)[0], 4);
  EXPECT_EQ(a.DIDU_GetCalcVicRad(51), 4);

  a.DIDU_SetCurrentOptimization(8, 3, 5, 700);
  int optA = 0, optB = 0;
  EXPECT_EQ(a.DIDU_GetCurrentOptimization(8, &optA, &optB), 3);
  EXPECT_EQ(optA, 5);
  EXPECT_EQ(optB, 700);
  EXPECT_EQ(a.DIDU_GetCurrentOptimization(8, nullptr, nullptr), 3);
  a.DIDU_SetCurrentOptimization(8, 4, 11, 2000);
}

TEST_F(KinmodelsTest, RequestedOutputFlags) {
  const Api& a = api();
  const int three[3] = {1, 0, 1};
  a.DIDU_SetParmReq(three, 3);
  std::vector<int> flags(14, 9);
  a.DIDU_GetParmReq(flags.data(), 14);  // more than the 12 flags: the rest is cleared, nothing read beyond
  EXPECT_EQ(flags, (std::vector<int>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  const std::vector<int> many(20, 1);
  a.DIDU_SetParmReq(many.data(), 20);
  a.DIDU_GetParmReq(flags.data(), 14);
  EXPECT_EQ(flags, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}));
  a.DIDU_GetParmReq(nullptr, 3);
  a.DIDU_GetParmReq(flags.data(), -1);
}

TEST_F(KinmodelsTest, TooManyTimePointsAreRefusedAtInit) {
  const Api& a = api();
  const std::vector<double> times = range(0, 1, 20001);
  a.DIDU_DefineTimeProfile(times.data(), 20001);
  void* work = &recorder_;
  EXPECT_FALSE(a.DIDU_ModelInit(0, nullptr, nullptr, &work));
  EXPECT_EQ(work, nullptr);
  ASSERT_EQ(recorder_.texts.size(), 1u);
  EXPECT_EQ(recorder_.texts[0], L"Number of time points exceeds maximum");
  // Curves are not computed for a refused cycle.
  requestAll(0);
  std::vector<double> curve(20001, 1.0), fit(20001, 0.0);
  const auto out = compute(0, curve, 8, &fit);
  for (const DEMPOUT& r : out) EXPECT_EQ(r.value, kVoid);
  EXPECT_EQ(fit.back(), kVoid);

  setTimes(range(0, 1, 20000));
  EXPECT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  EXPECT_EQ(recorder_.texts.size(), 1u);
}

TEST_F(KinmodelsTest, CurveHoldingTheVoidValueGivesVoidEverywhere) {
  const Api& a = api();
  const std::vector<double> echoTimes = range(0.01, 0.01, 10);
  setTimes(range(0, 1, 10));
  a.DIDU_DefineEchoTmsProfile(echoTimes.data(), 10);
  for (int type : {0, 1, 16}) {
    SCOPED_TRACE(type);
    requestAll(type);
    ASSERT_TRUE(a.DIDU_ModelInit(type, nullptr, nullptr, nullptr));
    std::vector<double> curve = range(100, -5, 10), fit(10, 0.0);
    curve[4] = kVoid;
    const int count = a.DIDU_GetNumOutParms(type);
    for (const DEMPOUT& r : compute(type, curve, count, &fit)) {
      EXPECT_EQ(r.value, kVoid);
      EXPECT_EQ(r.aux1, kVoid);
      EXPECT_EQ(r.aux2, kVoid);
      EXPECT_EQ(r.spare, -7);  // never written
    }
    for (double v : fit) EXPECT_EQ(v, kVoid);
    a.DIDU_ModelClose(type);
  }
}

TEST_F(KinmodelsTest, ComputeRefusesWhatWasNotSetUp) {
  const Api& a = api();
  setTimes(range(0, 1, 9));
  const std::vector<double> curve = range(1, 1, 9);
  requestAll(0);
  // Never initialised, closed, unknown or out-of-range types and missing curves: the failure value.
  auto allVoid = [&](int type) {
    std::vector<double> fit(9, 0.0);
    for (const DEMPOUT& r : compute(type, curve, 8, &fit)) {
      if (a.DIDU_GetNumOutParms(type) > 0) {
        EXPECT_EQ(r.value, kVoid);
      } else {
        EXPECT_EQ(r.value, -7);
      }
    }
    for (double v : fit) EXPECT_EQ(v, kVoid);
  };
  allVoid(0);
  ASSERT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  a.DIDU_ModelClose(0);
  a.DIDU_ModelClose(0);
  allVoid(0);
  for (int type : {55, 56, 58, -1, 1000}) {
    EXPECT_FALSE(a.DIDU_ModelInit(type, nullptr, nullptr, nullptr));
    allVoid(type);
  }
  ASSERT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  std::vector<DEMPOUT> out(8, DEMPOUT{-7, -7, -7, -7});
  a.DIDU_ComputeParmArray(0, nullptr, 1, nullptr, out.data(), nullptr, 0);
  EXPECT_EQ(out[0].value, kVoid);
  const double* noCurve[1] = {nullptr};
  a.DIDU_ComputeParmArray(0, noCurve, 1, nullptr, out.data(), nullptr, 0);
  EXPECT_EQ(out[7].value, kVoid);
  a.DIDU_ComputeParmArray(0, noCurve, 1, nullptr, nullptr, nullptr, 0);  // no records: nothing written
  // A time profile changed after init no longer fits the tables that init prepared.
  setTimes(range(0, 1, 12));
  std::vector<double> longer(12, 1.0), fit(12, 0.0);
  EXPECT_EQ(compute(0, longer, 8, &fit)[3].value, kVoid);
  EXPECT_EQ(fit[11], kVoid);
  EXPECT_TRUE(recorder_.texts.empty());
}

TEST_F(KinmodelsTest, ModelsInNeedOfInputFunctionsRefuseNone) {
  const Api& a = api();
  setTimes(range(0, 1, 9));
  EXPECT_FALSE(a.DIDU_ModelInit(8, nullptr, nullptr, nullptr));
  ASSERT_EQ(recorder_.texts.size(), 1u);
  EXPECT_EQ(recorder_.texts[0], L"DIDU_ModelInit : Input functions is missing or incorrect");
  // A record whose count exceeds its arrays is refused before any model reads it.
  std::vector<INPUTFUNC> ifuncs(2);
  ifuncs[0].count = 9;
  ifuncs[1].count = 20001;
  EXPECT_FALSE(a.DIDU_ModelInit(15, ifuncs.data(), nullptr, nullptr));
  EXPECT_EQ(recorder_.texts.size(), 2u);
}

// Type 11 has no computation, as every catalogue entry whose model is not written yet: a cycle
// runs and every curve reads the failure value.
TEST_F(KinmodelsTest, EntryWithoutComputationGivesTheFailureValue) {
  const Api& a = api();
  setTimes(range(0, 1, 9));
  std::vector<INPUTFUNC> ifunc(1);
  ifunc[0].count = 9;
  for (int i = 0; i < 9; ++i) ifunc[0].times[i] = i, ifunc[0].values[i] = i;
  requestAll(11);
  ASSERT_TRUE(a.DIDU_ModelInit(11, ifunc.data(), nullptr, nullptr));
  std::vector<double> fit(9, 0.0);
  for (const DEMPOUT& r : compute(11, range(1, 1, 9), 3, &fit)) EXPECT_EQ(r.value, kVoid);
  EXPECT_EQ(fit[0], kVoid);
  a.DIDU_ModelClose(11);
  a.DIDU_ModelAutoTest(11);
  EXPECT_TRUE(recorder_.texts.empty());
}

// --- types 0 and 1 ---

TEST_F(KinmodelsTest, BasicMeasurementsOfOneToNine) {
  const Api& a = api();
  setTimes(range(0, 1, 9));
  requestAll(0);
  ASSERT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  const auto out = compute(0, range(1, 1, 9), 8);
  EXPECT_EQ(out[0].value, 9);  // max
  EXPECT_EQ(out[1].value, 8);  // spread
  EXPECT_EQ(out[2].value, 5);  // median
  EXPECT_EQ(out[3].value, 5);  // mean
  EXPECT_DOUBLE_EQ(out[4].value, std::sqrt(60.0 / 9));
  EXPECT_DOUBLE_EQ(out[5].value, std::sqrt(60.0 / 9) / 5);
  EXPECT_NEAR(out[6].value, 0, 1e-15);
  EXPECT_NEAR(out[7].value, -1.23, 1e-12);  // excess kurtosis of a uniform set of nine
  for (const DEMPOUT& r : out) {
    EXPECT_EQ(r.aux1, kVoid);
    EXPECT_EQ(r.aux2, kVoid);
  }
}

TEST_F(KinmodelsTest, BasicMeasurementsAgreeWithScipy) {
  const Api& a = api();
  // Reference: numpy max/median/mean/std (ddof 0), scipy.stats skew and kurtosis (bias, Fisher).
  const std::vector<double> curve = {3.0, 1.5, 4.0, 1.0, 5.5, 9.0, 2.5, 6.0};
  const double expected[8] = {9.0, 8.0, 3.5, 4.0625, 2.4929588343973914, 0.6136514053901271, 0.6458479215013204,
                              -0.5695037413862782};
  setTimes(range(0, 1, 8));
  requestAll(0);
  ASSERT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  const auto out = compute(0, curve, 8);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(out[i].value, expected[i], 1e-12) << a.DIDU_GetOutParmName(0, i);
}

TEST_F(KinmodelsTest, BasicMeasurementsRangesAndRequestedSubsets) {
  const Api& a = api();
  setTimes(range(0, 1, 10));
  const std::vector<double> curve = {10, 1, 2, 3, 40, 50, 60, 70, 80, 90};
  const struct {
    double start, length;
    double mean, max;
  } cases[] = {
      {2, 3, 2, 3},        // 1-based points 2..4
      {3.6, 2, 21.5, 40},  // starts at the fourth point
      {0, 0, 40.6, 90},    // the whole curve
      {9, 5, 85, 90},      // a range past the end is cut at the last point
      {-4, -1, 40.6, 90},  // clamped to the first point, the rest of the curve
  };
  const int meanAndMax[8] = {1, 0, 0, 1, 0, 0, 0, 0};
  a.DIDU_SetParmReq(meanAndMax, 8);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " / " << c.length);
    const double parms[2] = {c.start, c.length};
    a.DIDU_SetFreeParms(0, parms);
    ASSERT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
    const auto out = compute(0, curve, 2);
    EXPECT_DOUBLE_EQ(out[0].value, c.max);
    EXPECT_DOUBLE_EQ(out[1].value, c.mean);
    a.DIDU_ModelClose(0);
  }
}

TEST_F(KinmodelsTest, BasicMeasurementsOfAFlatCurve) {
  const Api& a = api();
  setTimes(range(0, 1, 6));
  requestAll(0);
  ASSERT_TRUE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  for (double level : {0.0, 7.0}) {
    const auto out = compute(0, std::vector<double>(6, level), 8);
    EXPECT_EQ(out[1].value, 0);  // spread
    EXPECT_EQ(out[4].value, 0);  // standard deviation
    EXPECT_EQ(out[5].value, 0);  // coefficient of variation
    EXPECT_EQ(out[6].value, 0);
    EXPECT_EQ(out[7].value, 0);
  }
}

TEST_F(KinmodelsTest, AreaUnderTheCurve) {
  const Api& a = api();
  requestAll(1);
  // A triangle 0..10 s peaking at 5 at 5 s, on irregular times that hold the corners.
  const std::vector<double> times = {0, 1, 2.5, 5, 6, 8, 10};
  std::vector<double> triangle;
  for (double t : times) triangle.push_back(t <= 5 ? t : 10 - t);
  setTimes(times);
  ASSERT_TRUE(a.DIDU_ModelInit(1, nullptr, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(compute(1, triangle, 1)[0].value, 25);
  a.DIDU_ModelClose(1);

  // A range on absolute times that do not start at 0; reference numpy.trapz.
  const std::vector<double> curve = {3.0, 1.5, 4.0, 1.0, 5.5, 9.0, 2.5, 6.0};
  std::vector<double> later = {0, 2, 3, 7, 8, 12.5, 15, 20};
  for (double& t : later) t += 100;
  setTimes(later);
  ASSERT_TRUE(a.DIDU_ModelInit(1, nullptr, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(compute(1, curve, 1)[0].value, 88.75);
  a.DIDU_ModelClose(1);
  const double parms[2] = {2, 3};  // points 2..4: (102, 1.5), (103, 4), (107, 1)
  a.DIDU_SetFreeParms(1, parms);
  ASSERT_TRUE(a.DIDU_ModelInit(1, nullptr, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(compute(1, curve, 1)[0].value, 2.75 + 10);
}

TEST_F(KinmodelsTest, ConversionThatTheHostDidNotSetIsReportedOncePerMap) {
  const Api& a = api();
  setTimes(range(0, 1, 5));
  requestAll(1);
  a.DIDU_SetTissue_SigToConc(nullptr);
  ASSERT_TRUE(a.DIDU_ModelInit(1, nullptr, nullptr, nullptr));
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(compute(1, range(1, 1, 5), 1)[0].value, kVoid);
  EXPECT_TRUE(recorder_.texts.empty()) << "shown while the map runs";
  a.DIDU_ModelClose(1);
  ASSERT_EQ(recorder_.texts.size(), 1u);
  EXPECT_EQ(recorder_.texts[0], L"DIDU_ComputeParmArray : Signal to concentration conversion is not set");
  a.DIDU_ModelClose(1);
  EXPECT_EQ(recorder_.texts.size(), 1u);
}

// --- type 16 ---

std::vector<double> t2Curve(double s0, double t2, const std::vector<double>& echoTimes) {
  std::vector<double> curve;
  for (double te : echoTimes) curve.push_back(s0 * std::exp(-te / t2));
  return curve;
}

TEST_F(KinmodelsTest, T2MonoExponentialRecoversItsOwnCurve) {
  const Api& a = api();
  const std::vector<double> echoTimes = range(0.01, 0.01, 10);  // 0.01 .. 0.1 s
  setTimes(range(0, 1, 10));
  a.DIDU_DefineEchoTmsProfile(echoTimes.data(), 10);
  requestAll(16);
  ASSERT_TRUE(a.DIDU_ModelInit(16, nullptr, nullptr, nullptr));
  std::vector<double> fit(10, 0.0);
  const std::vector<double> curve = t2Curve(1000, 0.05, echoTimes);
  const auto out = compute(16, curve, 4, &fit);
  EXPECT_NEAR(out[0].value, 1000, 0.5);
  EXPECT_NEAR(out[1].value, 0.05, 5e-5);
  EXPECT_NEAR(out[2].value, 20, 0.02);
  EXPECT_LT(out[3].value, 0.5);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(fit[i], curve[i], 0.5);

  // A flat curve has nothing to fit: all four outputs 0, the fitted curve stays void.
  const auto flat = compute(16, std::vector<double>(10, 300.0), 4, &fit);
  for (const DEMPOUT& r : flat) EXPECT_EQ(r.value, 0);
  EXPECT_EQ(fit[0], kVoid);
}

TEST_F(KinmodelsTest, T2MonoExponentialChecksTheEchoTimes) {
  const Api& a = api();
  setTimes(range(0, 1, 4));
  const struct {
    std::vector<double> echoTimes;
    const wchar_t* message;
  } cases[] = {
      {{0.02, 0.02, 0.02, 0.02}, L"IsValidDynamicComponent : Dynamic component Echo Time: all values are constant"},
      {{0.02, 0.02, 1e60, 0.02}, L"IsValidDynamicComponent : Dynamic component Echo Time: invalid values are present"},
      {{0.04, 0.03, 0.02, 0.01}, nullptr},  // the order of echo times is free
  };
  for (const auto& c : cases) {
    recorder_.texts.clear();
    a.DIDU_DefineEchoTmsProfile(c.echoTimes.data(), 4);
    EXPECT_EQ(a.DIDU_ModelInit(16, nullptr, nullptr, nullptr), c.message == nullptr);
    if (c.message) {
      ASSERT_EQ(recorder_.texts.size(), 1u);
      EXPECT_EQ(recorder_.texts[0], c.message);
    } else {
      EXPECT_TRUE(recorder_.texts.empty());
    }
  }
}

// --- many threads ---

// Noisy decays of many amplitudes and T2 values, and some flat or void curves among them.
std::vector<std::vector<double>> mapCurves(int count, const std::vector<double>& echoTimes) {
  std::vector<std::vector<double>> curves;
  unsigned state = 12345;
  auto noise = [&] {
    state = state * 1103515245u + 12345u;
    return double((state >> 16) & 0x7FFF) / 32767.0 - 0.5;
  };
  for (int i = 0; i < count; ++i) {
    std::vector<double> c = t2Curve(200 + 10 * (i % 90), 0.015 + 0.002 * (i % 97), echoTimes);
    for (double& v : c) v += 4 * noise();
    if (i % 501 == 0) c.assign(echoTimes.size(), 50.0);
    if (i % 777 == 0) c[3] = kVoid;
    curves.push_back(c);
  }
  return curves;
}

TEST_F(KinmodelsTest, ParallelMapEqualsSequentialBitForBit) {
  const Api& a = api();
  const std::vector<double> echoTimes = range(0.01, 0.01, 10);
  setTimes(range(0, 1, 10));
  a.DIDU_DefineEchoTmsProfile(echoTimes.data(), 10);
  const int count = 10000;
  const auto curves = mapCurves(count, echoTimes);
  // A small budget for the T2 fits keeps the test quick; it changes nothing in the comparison.
  a.DIDU_SetCurrentOptimization(16, 2, 0, 200);
  for (int type : {0, 1, 16}) {
    SCOPED_TRACE(type);
    requestAll(type);
    const int records = a.DIDU_GetNumOutParms(type);
    ASSERT_TRUE(a.DIDU_ModelInit(type, nullptr, nullptr, nullptr));
    auto run = [&](int first, int step, std::vector<DEMPOUT>& out, std::vector<double>& fits) {
      for (int i = first; i < count; i += step) {
        const double* curve[1] = {curves[i].data()};
        a.DIDU_ComputeParmArray(type, curve, 1, &fits[size_t(i) * 10], &out[size_t(i) * records], nullptr, 0);
      }
    };
    std::vector<DEMPOUT> sequential(size_t(count) * records), parallel(sequential.size());
    std::vector<double> sequentialFits(size_t(count) * 10), parallelFits(sequentialFits.size());
    run(0, 1, sequential, sequentialFits);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { run(t, 8, parallel, parallelFits); });
    for (std::thread& t : threads) t.join();
    a.DIDU_ModelClose(type);
    EXPECT_EQ(std::memcmp(sequential.data(), parallel.data(), sequential.size() * sizeof(DEMPOUT)), 0);
    EXPECT_EQ(std::memcmp(sequentialFits.data(), parallelFits.data(), sequentialFits.size() * sizeof(double)), 0);
    EXPECT_EQ(sequential[777 * records].value, kVoid);
    EXPECT_NE(sequential[1 * records].value, kVoid);
  }
  a.DIDU_SetCurrentOptimization(16, 2, 0, 2000);
  EXPECT_TRUE(recorder_.texts.empty());
}

TEST_F(KinmodelsTest, WithoutHostCallbacksMessagesReachTheProgramsInterface) {
  const Api& a = api();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  a.DIDU_SetCallbacks(nullptr);
  const std::vector<double> times = range(0, 1, 20001);
  a.DIDU_DefineTimeProfile(times.data(), 20001);
  EXPECT_FALSE(a.DIDU_ModelInit(0, nullptr, nullptr, nullptr));
  EXPECT_EQ(script.lastMessage(), L"Number of time points exceeds maximum");
  EXPECT_TRUE(recorder_.texts.empty());
}

}  // namespace
