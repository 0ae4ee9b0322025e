// The host's calculation side: concentration conversions (round trips, a hand calculation),
// input-function files, the checks made before a run, and Tofts maps of a small three-region
// phantom in modes 1, 2 and 3, cross-checked against scipy's curve_fit; Esc stops a map cleanly.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ConcConv.h"
#include "DynExp.h"
#include "ScriptedUi.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

namespace fs = std::filesystem;

fs::path tempFolder() {
  const char* base = std::getenv("TWK_TEST_TMP");
  fs::path dir = fs::path(base ? base : fs::temp_directory_path().string()) / "dynexp_calc_test";
  fs::create_directories(dir);
  return dir;
}

CString wide(const std::string& s) { return CString(s.c_str()); }

VA_CONCSETUP spgrSetup(int method) {
  VA_CONCSETUP s;
  s.record.method = uint32_t(method);
  s.record.tr = 0.0057;
  s.record.flipAngle = 10;
  s.record.te = 0.03;
  s.record.r1 = 4.2;
  s.record.waterFraction = 0.8;
  s.record.lifetime = 0.5;
  s.record.relaxationRate = 0.6;
  s.record.manualBaseline = 1;
  s.record.skipFirst = 0;
  s.record.averageNext = 3;
  s.t10 = 1.4;
  return s;
}

TEST(ConcConv, NamesAndMethodMasks) {
  for (int m = 0; m < VA_NUM_CONC_METHODS; ++m) {
    CString name;
    ASSERT_TRUE(VA_GetConcentrationName(m, &name));
    EXPECT_FALSE(name.IsEmpty());
    EXPECT_EQ(VA_GetConcentrationByName(name), m);
  }
  CString name = L"kept";
  EXPECT_FALSE(VA_GetConcentrationName(9, &name));
  EXPECT_TRUE(name.IsEmpty());
  EXPECT_EQ(VA_GetConcentrationByName(L"Nonsense"), -1);

  int method = 4;
  EXPECT_TRUE(VA_UpdateCurrentConc(511, &method));
  EXPECT_EQ(method, 4);
  EXPECT_TRUE(VA_UpdateCurrentConc(1 << 2 | 1 << 7, &method));
  EXPECT_EQ(method, 2);
  EXPECT_FALSE(VA_UpdateCurrentConc(0, &method));

  EXPECT_DOUBLE_EQ(VA_GetContrastRelaxivity(3, 1, 0), 4.78);  // Gadavist, human plasma, 1.5 T
  EXPECT_DOUBLE_EQ(VA_GetContrastRelaxivity(5, 0, 2), 2.8);   // Dotarem, human blood, 7 T
  for (int agent = 0; agent < 6; ++agent)
    for (int medium = 0; medium < 6; ++medium)
      for (int field = 0; field < 3; ++field) {
        const double r = VA_GetContrastRelaxivity(agent, medium, field);
        EXPECT_GT(r, 2.0);
        EXPECT_LT(r, 8.0);
      }
  EXPECT_EQ(VA_GetContrastRelaxivity(6, 0, 0), 0.0);
  EXPECT_EQ(VA_GetContrastRelaxivity(0, 0, 3), 0.0);
}

// Concentration -> signal -> concentration for every method with an inverse, tissue and blood.
TEST(ConcConv, RoundTripsEveryInvertibleMethod) {
  const std::vector<double> conc = {0, 0, 0, 0.05, 0.4, 1.2, 3.0, 0.8, 0.2};
  for (int method = 1; method < VA_NUM_CONC_METHODS; ++method)
    for (bool blood : {false, true}) {
      if (blood && method == 6) continue;
      VA_CONCSETUP s = spgrSetup(method);
      s.blood = blood;
      s.record.hct = blood ? 0.42 : 0;
      const double s0 = method == 7 ? 40.0 : 812.5;
      std::vector<double> signal(conc.size()), back(conc.size());
      ASSERT_TRUE(VA_ConcentrationToSignal(s, s0, conc.data(), int64_t(conc.size()), signal.data()));
      double baseline = 0;
      ASSERT_TRUE(VA_SignalToConcentration(s, signal.data(), int64_t(signal.size()), back.data(), &baseline));
      EXPECT_NEAR(baseline, s0, 1e-9 * s0) << method;
      for (size_t i = 0; i < conc.size(); ++i) EXPECT_NEAR(back[i], conc[i], 1e-9) << "method " << method << " point " << i;
    }
}

TEST(ConcConv, SpoiledGradientEchoMatchesHandCalculation) {
  // TR 5.7 ms, flip 10 degrees, r1 4.2, T10 1.4 s: 0.5 mM raises the signal 2.43561... times.
  const double ratio = 2.4356116489148016;
  const VA_CONCSETUP s = spgrSetup(4);
  const double signal[4] = {100, 100, 100, 100 * ratio};
  double conc[4];
  ASSERT_TRUE(VA_SignalToConcentration(s, signal, 4, conc));
  EXPECT_NEAR(conc[3], 0.5, 1e-12);
  EXPECT_NEAR(conc[0], 0.0, 1e-12);
  // A signal the gradient echo cannot reach has no concentration.
  const double beyond[4] = {100, 100, 100, 1e6};
  ASSERT_TRUE(VA_SignalToConcentration(s, beyond, 4, conc));
  EXPECT_EQ(conc[3], VOID_VALUE);
}

TEST(ConcConv, BaselineSpanAndProblems) {
  struct Case {
    int manual, skip, average, n, first, count;
  } cases[] = {
      {0, 0, 0, 60, 0, 5}, {0, 0, 0, 12, 0, 1}, {1, 2, 3, 60, 2, 3},
      {1, 10000, 3, 60, 59, 1},  // skips beyond the curve are clamped
      {1, 0, 0, 60, 0, 1},       {1, 5, 1000, 8, 5, 3}, {1, 0, 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    VA_CONCCONV r;
    r.manualBaseline = c.manual;
    r.skipFirst = c.skip;
    r.averageNext = c.average;
    int first = -1, count = -1;
    VA_ConcBaselineSpan(r, c.n, &first, &count);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(count, c.count);
  }
  struct Problem {
    int method;
    double tr, flip, te, r1;
    bool bad;
  } problems[] = {
      {0, 0, 0, 0, 0, false}, {4, 0.0057, 10, 0, 4.2, false}, {4, 0, 10, 0, 4.2, true},
      {4, 0.0057, 0, 0, 4.2, true}, {8, 0.0057, 0, 0, 4.2, true}, {3, 0, 0, 0, 4.2, true},
      {3, 0, 0, 0.03, 4.2, false}, {2, 0, 0, 0, 0, true},
  };
  for (const Problem& p : problems) {
    VA_CONCSETUP s;
    s.record.method = uint32_t(p.method);
    s.record.tr = p.tr;
    s.record.flipAngle = p.flip;
    s.record.te = p.te;
    s.record.r1 = p.r1;
    s.t10 = 1.4;
    EXPECT_EQ(!VA_ConcConvProblem(s).IsEmpty(), p.bad) << p.method;
  }
}

TEST(InputFunctionFile, ReadsBackExactlyAndRefusesBadFiles) {
  twk::ScriptedUi script;
  twk::ScopedUi ui(script);
  CDynExp host;
  const fs::path dir = tempFolder();
  // Values written with 17 significant digits come back bit for bit.
  std::vector<double> t, v;
  {
    std::ofstream out(dir / "aif.txt");
    out << "# name: Aorta\r\n# seconds, mM\n\n";
    for (int i = 0; i < 50; ++i) {
      t.push_back(i * 0.7 + (i ? 1e-3 : 0));
      v.push_back(std::exp(-i / 7.0) * std::sin(i + 0.3) / 3.0);
      char line[96];
      std::snprintf(line, sizeof line, i % 2 ? "%.17g, %.17g\n" : "%.17g\t%.17g\n", t.back(), v.back());
      out << line;
    }
  }
  ASSERT_TRUE(host.LoadInputFunction(wide((dir / "aif.txt").string())));
  EXPECT_EQ(host.NumberIfuncs(), 1);
  EXPECT_EQ(host.ifuncName[0], CString(L"Aorta"));
  ASSERT_EQ(host.ifunc[0].count, 50);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(host.ifunc[0].times[i], t[size_t(i)]);
    EXPECT_EQ(host.ifunc[0].values[i], v[size_t(i)]);
  }

  struct Bad {
    const char* name;
    const char* text;
  } bad[] = {
      {"decreasing.txt", "0 1\n2 3\n1 4\n"}, {"single.txt", "0 1\n"},  {"words.txt", "0 1\ntime value\n"},
      {"negative.txt", "-1 0\n0 1\n"},      {"three.txt", "0 1 2\n1 2 3\n"}, {"empty.txt", ""},
  };
  for (const Bad& b : bad) {
    std::ofstream(dir / b.name) << b.text;
    script.messages.clear();
    EXPECT_FALSE(host.LoadInputFunction(wide((dir / b.name).string()))) << b.name;
    EXPECT_EQ(script.messages.size(), 1u) << b.name;
  }
  EXPECT_FALSE(host.LoadInputFunction(wide((dir / "absent.txt").string())));
  EXPECT_EQ(host.NumberIfuncs(), 1);

  // Untitled curves take the file's title; a fifth curve finds no slot.
  std::ofstream(dir / "portal.txt") << "0 0\n1 1\n";
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(host.LoadInputFunction(wide((dir / "portal.txt").string())));
  EXPECT_EQ(host.ifuncName[1], CString(L"portal"));
  script.messages.clear();
  EXPECT_FALSE(host.LoadInputFunction(wide((dir / "portal.txt").string())));
  EXPECT_EQ(script.messages.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// The three-region Tofts phantom.

constexpr int kW = 12, kH = 12, kD = 2, kT = 60;
constexpr double kDt = 5.0;
constexpr double kTR = 0.0057, kFlip = 10, kR1 = 4.2, kT10 = 1.4, kM0 = 1000;
constexpr double kKtrans[3] = {0.25, 0.10, 0.05};  // 1/min
constexpr double kVe[3] = {0.30, 0.20, 0.45};

int regionOf(int x) { return x * 3 / kW; }

double plasma(double t) {
  const double x = (t - 10) / 15;
  return x <= 0 ? 0.0 : 6 * x * std::exp(1 - x) + 0.8 * (1 - std::exp(-x));
}

// Tofts concentration for a piecewise-linear plasma curve on the sample times: exact integral of
// each linear piece against exp(-kep (t - tau)).
std::vector<double> tofts(double ktransPerMin, double ve, const std::vector<double>& times, const std::vector<double>& cp) {
  const double kt = ktransPerMin / 60, kep = kt / ve;
  std::vector<double> c(times.size(), 0.0);
  for (size_t i = 1; i < times.size(); ++i) {
    const double h = times[i] - times[i - 1], e = std::exp(-kep * h);
    const double a = cp[i - 1], b = cp[i], slope = (b - a) / h;
    // integral over [0, h] of (a + slope s) exp(-kep (h - s)) ds
    const double piece = a * (1 - e) / kep + slope * (h / kep - (1 - e) / (kep * kep));
    c[i] = c[i - 1] * e + kt * piece;
  }
  return c;
}

double spgrSignal(double conc) {
  const double a = kFlip * std::numbers::pi / 180, e = std::exp(-kTR * (1 / kT10 + kR1 * conc));
  return kM0 * std::sin(a) * (1 - e) / (1 - std::cos(a) * e);
}

struct Phantom {
  std::unique_ptr<CVol> vol;
  std::vector<double> times, cp;
};

Phantom makePhantom(uint32_t seed, double noiseFraction = 0.02) {
  Phantom p;
  for (int k = 0; k < kT; ++k) p.times.push_back(k * kDt);
  for (double t : p.times) p.cp.push_back(plasma(t));
  p.vol = std::make_unique<CVol>();
  p.vol->frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{kW, kH, kD, kT}, true);
  std::vector<DYNCRD> dyn(kT);
  for (int k = 0; k < kT; ++k) dyn[size_t(k)].time = dyn[size_t(k)].timeEnd = p.times[size_t(k)];
  p.vol->SetDynamicCoords(dyn.data(), kT);
  p.vol->SetModality(MODALITY_MR);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, noiseFraction * spgrSignal(0));
  std::vector<double> curves[3];
  for (int r = 0; r < 3; ++r) curves[r] = tofts(kKtrans[r], kVe[r], p.times, p.cp);
  for (int z = 0; z < kD; ++z)
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int k = 0; k < kT; ++k)
          twk::setVoxelValue(p.vol->frame, x, y, z, k,
                             spgrSignal(curves[regionOf(x)][size_t(k)]) + (noiseFraction > 0 ? noise(rng) : 0.0));
  return p;
}

void writeCurve(const fs::path& path, const std::vector<double>& t, const std::vector<double>& v) {
  std::ofstream out(path);
  char line[96];
  for (size_t i = 0; i < t.size(); ++i) {
    std::snprintf(line, sizeof line, "%.17g %.17g\n", t[i], v[i]);
    out << line;
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? VOID_VALUE : v[v.size() / 2];
}

class ToftsMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.LoadDomain(wide(KINMODELS_LIBRARY)));
    ASSERT_TRUE(host.SetCurrentModelByName(host.GetModelName(8) + L" : 1IF"));
    ASSERT_EQ(host.GetCurrentModel(), 8);
    int req[DYNEXP_NUM_OUTPUTS] = {1, 1, 0, 0};  // Ktrans, ve
    host.SetParmReq(req, DYNEXP_NUM_OUTPUTS);
    // Plain least squares, as scipy's curve_fit does: the model's balanced solution leans slow
    // regions' Ktrans upwards under noise (about 7 % for region 2 here).
    double free[DYNEXP_MAX_FREE_PARMS];
    host.GetFreeParms(8, free);
    free[5] = 0;
    host.SetFreeParms(8, free);
    host.tissueConc = spgrSetup(4).record;
    host.tissueConc.averageNext = 2;  // the plasma arrives after 10 s
    host.ifuncConc.method = 0;        // the curve file holds concentrations
    phantom = makePhantom(20261211);
    aifPath = tempFolder() / "phantom_aif.txt";
    writeCurve(aifPath, phantom.times, phantom.cp);
    ASSERT_TRUE(host.LoadInputFunction(wide(aifPath.string())));
    attrib.t1 = kT10;
  }
  twk::ScriptedUi script;
  twk::ScopedUi ui{script};
  CDynExp host;
  Phantom phantom;
  fs::path aifPath;
  VA_TISSUEATTRIB attrib;
};

TEST_F(ToftsMaps, WholeVolumeRecoversEachRegionAndAgreesWithScipy) {
  ASSERT_TRUE(host.VerifyProcessing(1, phantom.vol.get(), nullptr, 0, false));
  FRAME* fits = nullptr;
  double** maps = host.CalculateDynamicExperiment(phantom.vol.get(), nullptr, &attrib, 8, 1, nullptr, nullptr, &fits, 0);
  ASSERT_NE(maps, nullptr);
  ASSERT_NE(fits, nullptr);
  EXPECT_TRUE(script.messages.empty());

  std::vector<double> ktrans[3], ve[3];
  for (int z = 0; z < kD; ++z)
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const int64_t v = (int64_t(z) * kH + y) * kW + x;
        ktrans[regionOf(x)].push_back(maps[0][v]);
        ve[regionOf(x)].push_back(maps[1][v]);
      }
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(median(ktrans[r]), kKtrans[r], 0.05 * kKtrans[r]) << "region " << r;
    EXPECT_NEAR(median(ve[r]), kVe[r], 0.05 * kVe[r]) << "region " << r;
  }
  // The fit volume holds signal curves close to the measured ones.
  const double measured = twk::voxelValue(phantom.vol->frame, 1, 1, 0, 30);
  EXPECT_NEAR(twk::voxelValue(fits, 1, 1, 0, 30), measured, 0.1 * measured);

  // scipy's curve_fit on the same curves, converted with the same gradient-echo formula.
  const fs::path data = tempFolder() / "phantom_curves.txt";
  {
    std::ofstream out(data);
    char num[40];
    for (int z = 0; z < kD; ++z)
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          out << regionOf(x);
          for (int k = 0; k < kT; ++k) {
            std::snprintf(num, sizeof num, " %.17g", twk::voxelValue(phantom.vol->frame, x, y, z, k));
            out << num;
          }
          out << "\n";
        }
  }
  const std::string script_py = R"PY(
import sys, numpy as np
from scipy.optimize import curve_fit
aif = np.loadtxt(sys.argv[1]); t, cp = aif[:, 0], aif[:, 1]
TR, a, r1, T10 = 0.0057, np.radians(10), 4.2, 1.4
def f(R): E = np.exp(-TR * R); return (1 - E) / (1 - np.cos(a) * E)
def conc(s):
    q = s / s[:2].mean() * f(1 / T10); E = (1 - q) / (1 - np.cos(a) * q)
    return (-np.log(E) / TR - 1 / T10) / r1
def tofts(t, kt, ve):
    kt = kt / 60; kep = kt / ve; c = np.zeros_like(t)
    for i in range(1, len(t)):
        h = t[i] - t[i-1]; e = np.exp(-kep * h); sl = (cp[i] - cp[i-1]) / h
        c[i] = c[i-1] * e + kt * (cp[i-1] * (1 - e) / kep + sl * (h / kep - (1 - e) / kep**2))
    return c
rows = np.loadtxt(sys.argv[2]); out = {0: [], 1: [], 2: []}
for row in rows:
    p, _ = curve_fit(tofts, t, conc(row[1:]), p0=[0.1, 0.3], bounds=([1e-6, 0.01], [5, 10]))
    out[int(row[0])].append(p)
for r in range(3):
    m = np.median(np.array(out[r]), axis=0); print("%.10g %.10g" % (m[0], m[1]))
)PY";
  const fs::path py = tempFolder() / "tofts_fit.py";
  std::ofstream(py) << script_py;
  const std::string command = "/usr/bin/python3 " + py.string() + " " + aifPath.string() + " " + data.string();
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  double ref[3][2] = {};
  int got = 0;
  for (int r = 0; r < 3; ++r) got += std::fscanf(pipe, "%lf %lf", &ref[r][0], &ref[r][1]);
  ASSERT_EQ(pclose(pipe), 0);
  ASSERT_EQ(got, 6);
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(median(ktrans[r]), ref[r][0], 0.05 * ref[r][0]) << "region " << r;
    EXPECT_NEAR(median(ve[r]), ref[r][1], 0.05 * ref[r][1]) << "region " << r;
  }
  pf_free_parr(&maps, host.NumReqOutputParms());
  PR_FrameDelete(&fits);
}

TEST_F(ToftsMaps, RoiModesLeaveOutsideUndefinedAndFitTheMeanCurve) {
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{kW, kH, kD, 1}, true);
  for (int y = 2; y < 6; ++y)
    for (int x = 4; x < 8; ++x) twk::setRoiBit(roi, x, y, 1, 0, true);  // region 1, slice 1
  double** maps = host.CalculateDynamicExperiment(phantom.vol.get(), roi, &attrib, 8, 2, nullptr, nullptr, nullptr, 0);
  ASSERT_NE(maps, nullptr);
  int inside = 0;
  std::vector<double> insideKtrans;
  for (int z = 0; z < kD; ++z)
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const int64_t v = (int64_t(z) * kH + y) * kW + x;
        if (twk::roiBit(roi, x, y, z, 0)) {
          ++inside;
          insideKtrans.push_back(maps[0][v]);
          EXPECT_NE(maps[1][v], VOID_VALUE);
        } else {
          EXPECT_EQ(maps[0][v], VOID_VALUE);
          EXPECT_EQ(maps[1][v], VOID_VALUE);
        }
      }
  EXPECT_EQ(inside, 16);
  EXPECT_NEAR(median(insideKtrans), kKtrans[1], 0.1 * kKtrans[1]);
  pf_free_parr(&maps, 2);

  // Mode 3: the ROI's mean curve, with bounds and the fitted curve in stored order.
  std::vector<double> fit(kT + 1, VOID_VALUE), intervals(8, 0.0);
  maps = host.CalculateDynamicExperiment(phantom.vol.get(), roi, &attrib, 8, 3, fit.data(), intervals.data(), nullptr, 0);
  ASSERT_NE(maps, nullptr);
  EXPECT_NEAR(maps[0][0], kKtrans[1], 0.05 * kKtrans[1]);
  EXPECT_NEAR(maps[1][0], kVe[1], 0.05 * kVe[1]);
  EXPECT_EQ(intervals[0], maps[0][0]);
  EXPECT_EQ(intervals[4], maps[1][0]);
  EXPECT_EQ(fit[kT], VOID_VALUE);
  double* tac = phantom.vol->GetRoiTac(roi);
  for (int k = 0; k < kT; ++k) EXPECT_NEAR(fit[size_t(k)], tac[k], 0.02 * spgrSignal(0)) << k;
  pf_free(&tac);
  pf_free_parr(&maps, 2);

  // A mean curve with a void time point cannot be fitted: undefined outputs, no fitted curve.
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) twk::setVoxelValue(phantom.vol->frame, x, y, 1, 7, VOID_VALUE);
  std::fill(fit.begin(), fit.end(), 0.0);
  maps = host.CalculateDynamicExperiment(phantom.vol.get(), roi, &attrib, 8, 3, fit.data(), intervals.data(), nullptr, 0);
  ASSERT_NE(maps, nullptr);
  EXPECT_EQ(maps[0][0], VOID_VALUE);
  EXPECT_EQ(intervals[0], VOID_VALUE);
  EXPECT_EQ(fit[3], VOID_VALUE);
  pf_free_parr(&maps, 2);
  PR_FrameDelete(&roi);
}

int pumpsUntilEsc = -1;
bool escAfterPumps(const wchar_t*, bool) {
  if (pumpsUntilEsc >= 0 && pumpsUntilEsc-- == 0) PR_SetInWorkProcess(false);
  return true;
}

TEST_F(ToftsMaps, EscStopsTheMapAndFreesWhatItMade) {
  MSGBLOCK block;
  block.showMessage = escAfterPumps;
  PR_InitFrameFunctions(&block);
  pumpsUntilEsc = 1;  // the start message pumps once, the first progress report stops
  const int64_t before = PR_GetTotalAllocSize();
  FRAME* fits = nullptr;
  double** maps = host.CalculateDynamicExperiment(phantom.vol.get(), nullptr, &attrib, 8, 1, nullptr, nullptr, &fits, 0);
  pumpsUntilEsc = -1;
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
  EXPECT_EQ(maps, nullptr);
  EXPECT_EQ(fits, nullptr);
  EXPECT_TRUE(script.messages.empty());  // a stop is silent
  EXPECT_EQ(PR_GetTotalAllocSize(), before);
}

// Every input the model cannot use is reported before any fitting, and nothing is made.
TEST_F(ToftsMaps, BadInputIsReportedBeforeFitting) {
  struct Case {
    const char* what;
    std::function<void(CDynExp&, CVol&)> spoil;
    const char* expected;  // part of the message
  } cases[] = {
      {"3D volume",
       [](CDynExp&, CVol& v) {
         PR_FrameDelete(&v.frame);
         v.frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{kW, kH, kD, 1}, true);
       },
       "4D volume is required"},
      {"b-value axis",
       [](CDynExp&, CVol& v) {
         for (int k = 0; k < kT; ++k) v.dyn[k].bValue = 10.0 * k, v.dyn[k].time = 0;
       },
       "dynamic dimension"},
      {"too few points",
       [](CDynExp&, CVol& v) {
         const int32_t list[] = {4, 0, 1, 2, 3};
         CVol* cut = v.CloneByCrop(nullptr, list, false);
         v = *cut;
         delete cut;
       },
       "at least 5 time points"},
      {"short input function",
       [](CDynExp& h, CVol&) { h.ifunc[0].count = 20; },
       "covers 0 to 95 sec"},
      {"no input function", [](CDynExp& h, CVol&) { h.ClearInputFunctions(); }, "slot 1 is empty"},
      {"flip angle 0", [](CDynExp& h, CVol&) { h.tissueConc.flipAngle = 0; }, "flip angle"},
      {"TR 0", [](CDynExp& h, CVol&) { h.tissueConc.tr = 0; }, "repetition time"},
      {"no output", [](CDynExp& h, CVol&) { h.SetParmReq(nullptr, 0); }, "At least one Output parameter is required"},
  };
  for (const Case& c : cases) {
    CDynExp h(host);
    CVol v(*phantom.vol);
    c.spoil(h, v);
    script.messages.clear();
    EXPECT_FALSE(h.VerifyProcessing(1, &v, nullptr, 0, false)) << c.what;
    ASSERT_EQ(script.messages.size(), 1u) << c.what;
    EXPECT_NE(script.messages[0].Find(CString(c.expected)), -1) << c.what << ": " << twk::toUtf8(script.messages[0].wstr());
    const int64_t before = PR_GetTotalAllocSize();
    EXPECT_EQ(h.CalculateDynamicExperiment(&v, nullptr, &attrib, 8, 1, nullptr, nullptr, nullptr, 0), nullptr) << c.what;
    EXPECT_EQ(PR_GetTotalAllocSize(), before) << c.what;
  }
  // Mode 2 needs a ROI; a tissue T1 is needed by the gradient-echo conversion.
  script.messages.clear();
  EXPECT_FALSE(host.VerifyProcessing(2, phantom.vol.get(), nullptr, 0, false));
  VA_TISSUEATTRIB none;
  EXPECT_EQ(host.CalculateDynamicExperiment(phantom.vol.get(), nullptr, &none, 8, 1, nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(script.messages.size(), 2u);
}

}  // namespace
