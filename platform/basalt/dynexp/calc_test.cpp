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
#include "RegularisedMaps.h"
#include "DynExp.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

namespace fs = std::filesystem;

fs::path tempFolder() {
  fs::path dir = twk::testing::testFolder() / "dynexp_calc_test";
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

// Extrapolation of a diffusion series with the monoexponential ADC model: every voxel's model curve
// at the wanted b-values becomes a time point of the new volume (coordinates = the wanted values);
// a model that does not extrapolate and a text without numbers are refused.
TEST(Extrapolation, AdcSeriesToWantedBValues) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CDynExp host;
  ASSERT_TRUE(host.LoadDomain(CString(KINMODELS_LIBRARY)));
  constexpr int kB = 6;
  const double bValues[kB] = {0, 100, 200, 400, 600, 800};
  auto vol = std::make_unique<CVol>();
  vol->frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{3, 2, 1, kB}, true);
  vol->modality = MODALITY_MR;
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(kB * int64_t(sizeof(DYNCRD))));
  for (int k = 0; k < kB; ++k) vol->dyn[k].bValue = bValues[k];
  auto adc = [](int x, int y) { return 0.0005 + 0.0004 * x + 0.0002 * y; };
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < kB; ++k)
        twk::setVoxelValue(vol->frame, x, y, 0, k, 1000.0 * std::exp(-bValues[k] * adc(x, y)));
  host.tissueConc.method = 0;
  const int none[DYNEXP_NUM_OUTPUTS] = {};
  host.SetCurrentModel(19);
  host.SetParmReq(none, DYNEXP_NUM_OUTPUTS);  // extrapolation needs no output

  CVol* out = host.VolExtrapolateModel(vol.get(), nullptr, nullptr, 19, L"50, 1000 1500");
  ASSERT_NE(out, nullptr) << twk::toUtf8(script.lastMessage().wstr());
  ASSERT_EQ(out->T(), 3);
  EXPECT_EQ(out->dyn[0].bValue, 50);
  EXPECT_EQ(out->dyn[2].bValue, 1500);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int k = 0; k < 3; ++k) {
        const double b = out->dyn[k].bValue;
        EXPECT_NEAR(twk::voxelValue(out->frame, x, y, 0, k), 1000.0 * std::exp(-b * adc(x, y)), 1.0) << x << y << k;
      }
  delete out;

  script.clear();
  EXPECT_EQ(host.VolExtrapolateModel(vol.get(), nullptr, nullptr, 19, L"none"), nullptr);
  EXPECT_EQ(script.lastMessage(), CString(L"CDynExp::VolExtrapolateModel : Enter at least one value to extrapolate to"));
  EXPECT_EQ(host.VolExtrapolateModel(vol.get(), nullptr, nullptr, 8, L"100"), nullptr);
  EXPECT_EQ(script.lastMessage(), CString(L"CDynExp::VolExtrapolateModel : The model does not extrapolate"));
}

// ---------------------------------------------------------------------------------------------
// Regularised maps.

namespace {

// A real 4D volume of w x h x 1 voxels whose curve at (x, y) is curve(x, y) plus Gaussian noise.
std::unique_ptr<CVol> curveVolume(int w, int h, const std::vector<DYNCRD>& dyn,
                                  const std::function<std::vector<double>(int, int)>& curve, double sigma,
                                  uint32_t seed, std::vector<double>* noiseRms = nullptr) {
  auto vol = std::make_unique<CVol>();
  const int n = int(dyn.size());
  vol->frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{w, h, 1, n}, true);
  vol->SetDynamicCoords(dyn.data(), n);
  vol->SetModality(MODALITY_MR);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  if (noiseRms) noiseRms->assign(size_t(w) * h, 0.0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::vector<double> c = curve(x, y);
      double ss = 0;
      for (int k = 0; k < n; ++k) {
        const double e = sigma > 0 ? noise(rng) : 0.0;
        ss += e * e;
        twk::setVoxelValue(vol->frame, x, y, 0, k, c[size_t(k)] + e);
      }
      if (noiseRms) (*noiseRms)[size_t(y) * w + x] = std::sqrt(ss / n);
    }
  return vol;
}

FRAME* wholeMask(const CVol& vol) { return VA_VolCreateUniform(FRM_ROI, DIM3D{vol.W(), vol.H(), vol.D(), 1}, 1.0); }

double spread(const std::vector<double>& v) {
  double mean = 0, ss = 0;
  for (double x : v) mean += x;
  mean /= double(v.size());
  for (double x : v) ss += (x - mean) * (x - mean);
  return std::sqrt(ss / double(v.size()));
}

std::vector<double> mapValues(const FRAME* f) {
  std::vector<double> v;
  for (int y = 0; y < f->dim.h; ++y)
    for (int x = 0; x < f->dim.w; ++x) v.push_back(twk::voxelValue(f, x, y, 0, 0));
  return v;
}

}  // namespace

// Noise-free IVIM curves whose f and Dt change across the image: with tolerance 0 each voxel keeps
// its own fit, so the maps are the truth; the non-void mask leaves out a voxel with a void point.
TEST(RegularisedMaps, IvimWithoutToleranceKeepsEachVoxelsFit) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const double b[] = {0, 10, 20, 40, 80, 150, 300, 500, 700, 900};
  std::vector<DYNCRD> dyn(std::size(b));
  for (size_t k = 0; k < dyn.size(); ++k) dyn[k].bValue = b[k];
  auto f = [](int x) { return 0.08 + 0.03 * x; };
  auto dt = [](int y) { return 0.0007 + 0.0002 * y; };
  constexpr double kDp = 0.03, kS0 = 1000;
  auto vol = curveVolume(5, 3, dyn, [&](int x, int y) {
    std::vector<double> c;
    for (double v : b) c.push_back(kS0 * ((1 - f(x)) * std::exp(-v * dt(y)) + f(x) * std::exp(-v * kDp)));
    return c;
  }, 0.0, 1);
  twk::setVoxelValue(vol->frame, 4, 2, 0, 3, VOID_VALUE);
  FRAME* mask = VA_GetNonVoidMask(vol->frame);
  ASSERT_NE(mask, nullptr);
  EXPECT_FALSE(twk::roiBit(mask, 4, 2, 0, 0));
  EXPECT_TRUE(twk::roiBit(mask, 3, 2, 0, 0));

  const double freeParms[7] = {0.2, 0, 1, 0.00014, 0.0031, 0.006, 0.2};
  VA_SMOOTHSETTINGS settings;
  settings.tolerance = 0;
  VA_SMOOTHMAPS maps;
  ASSERT_TRUE(VA_SmoothMapIvimM18(vol.get(), mask, settings, freeParms, &maps)) << twk::toUtf8(script.lastMessage().wstr());
  ASSERT_EQ(maps.maps.size(), 4u);  // S0, f, Dp, Dt
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      if (x == 4 && y == 2) {
        EXPECT_EQ(twk::voxelValue(maps.maps[1], x, y, 0, 0), VOID_VALUE);
        EXPECT_EQ(twk::voxelValue(maps.additional, x, y, 0, 0), VOID_VALUE);
        continue;
      }
      EXPECT_NEAR(twk::voxelValue(maps.maps[0], x, y, 0, 0), kS0, 1) << x << y;
      EXPECT_NEAR(twk::voxelValue(maps.maps[1], x, y, 0, 0), f(x), 0.005) << x << y;
      EXPECT_NEAR(twk::voxelValue(maps.maps[2], x, y, 0, 0), kDp, 0.003) << x << y;
      EXPECT_NEAR(twk::voxelValue(maps.maps[3], x, y, 0, 0), dt(y), 2e-5) << x << y;
      EXPECT_LT(twk::voxelValue(maps.additional, x, y, 0, 0), 0.5) << x << y;
    }
  PR_FrameDelete(&mask);

  // A volume along time is refused.
  std::vector<DYNCRD> timed(4);
  for (int k = 0; k < 4; ++k) timed[size_t(k)].time = k;
  auto wrong = curveVolume(2, 2, timed, [](int, int) { return std::vector<double>(4, 1.0); }, 0.0, 1);
  FRAME* all = wholeMask(*wrong);
  EXPECT_FALSE(VA_SmoothMapIvimM18(wrong.get(), all, settings, freeParms, &maps));
  EXPECT_EQ(script.lastMessage(), CString(L"VA_SmoothMapIvimM18 : The volume's dynamic dimension must be the b-value"));
  EXPECT_TRUE(maps.maps.empty());
  PR_FrameDelete(&all);
}

// One noisy region of a single gamma variate: a tolerance of about the noise level makes the maps
// far smoother than the voxels' own fits, keeps their median at the truth, and no voxel's error
// exceeds its own best error plus the tolerance (its own best is at most its noise RMS).
TEST(RegularisedMaps, GammaVariateToleranceSmoothsWithinTheErrorBound) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  constexpr int kN = 30, kSide = 8;
  constexpr double kK = 2000, kAlpha = 2, kBeta = 0.3, kSigma = 2;  // peak about 100
  std::vector<DYNCRD> dyn(kN);
  for (int k = 0; k < kN; ++k) dyn[size_t(k)].time = dyn[size_t(k)].timeEnd = 2.0 * k;
  auto curve = [&](int, int) {
    std::vector<double> c;
    for (int k = 0; k < kN; ++k) {
      const double u = double(k) / (kN - 1);
      c.push_back(kK * std::pow(u, kAlpha) * std::exp(-u / kBeta));
    }
    return c;
  };
  std::vector<double> noiseRms;
  auto vol = curveVolume(kSide, kSide, dyn, curve, kSigma, 7, &noiseRms);
  FRAME* mask = wholeMask(*vol);
  const double freeParms[2] = {0, 0};
  VA_SMOOTHSETTINGS own, smooth;
  own.tolerance = 0;
  smooth.tolerance = kSigma;
  VA_SMOOTHMAPS a, b;
  ASSERT_TRUE(VA_SmoothMapGammaVariateM52(vol.get(), mask, own, freeParms, &a));
  ASSERT_TRUE(VA_SmoothMapGammaVariateM52(vol.get(), mask, smooth, freeParms, &b));
  ASSERT_EQ(b.maps.size(), 3u);  // K, alpha, beta
  const std::vector<double> alphaOwn = mapValues(a.maps[1]), alphaSmooth = mapValues(b.maps[1]);
  EXPECT_LT(spread(alphaSmooth), 0.5 * spread(alphaOwn));
  EXPECT_NEAR(median(alphaSmooth), kAlpha, 0.05 * kAlpha);
  EXPECT_NEAR(median(mapValues(b.maps[2])), kBeta, 0.05 * kBeta);
  EXPECT_NEAR(median(mapValues(b.maps[0])), kK, 0.05 * kK);
  const std::vector<double> error = mapValues(b.additional);
  for (size_t i = 0; i < error.size(); ++i) EXPECT_LE(error[i], noiseRms[i] + kSigma + 1e-6) << i;
  PR_FrameDelete(&mask);
}

// The Tofts fit through the host's spoiled-gradient-echo conversion recovers each region of the
// noise-free phantom; Esc stops it with nothing left allocated.
TEST(RegularisedMaps, ToftsThroughTheConversionRecoversTheRegions) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  Phantom p = makePhantom(3, 0.0);
  VA_CONCSETUP tissue = spgrSetup(4);
  tissue.record.averageNext = 2;
  tissue.t10 = kT10;
  VA_PrepareSigToConcCallbacks(tissue);
  FRAME* mask = wholeMask(*p.vol);
  const double freeParms[7] = {1, 10, 0, 0, 2, 1.01, 1};
  VA_SMOOTHSETTINGS settings;
  settings.tolerance = 0.01;
  VA_SMOOTHMAPS maps;
  ASSERT_TRUE(VA_SmoothKtransM57(p.vol.get(), mask, settings, freeParms, p.times.data(), p.cp.data(), kT,
                                 VA_SigToConcCallback, VA_ConcToSigCallback, &maps))
      << twk::toUtf8(script.lastMessage().wstr());
  ASSERT_EQ(maps.maps.size(), 3u);  // Ktrans (1/min), ve, delay
  std::vector<double> ktrans[3], ve[3];
  for (int z = 0; z < kD; ++z)
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        ktrans[regionOf(x)].push_back(twk::voxelValue(maps.maps[0], x, y, z, 0));
        ve[regionOf(x)].push_back(twk::voxelValue(maps.maps[1], x, y, z, 0));
        EXPECT_EQ(twk::voxelValue(maps.maps[2], x, y, z, 0), 0.0);
      }
  for (int r = 0; r < 3; ++r) {
    EXPECT_NEAR(median(ktrans[r]), kKtrans[r], 0.02 * kKtrans[r]) << r;
    EXPECT_NEAR(median(ve[r]), kVe[r], 0.02 * kVe[r]) << r;
  }

  MSGBLOCK block;
  block.showMessage = escAfterPumps;
  PR_InitFrameFunctions(&block);
  pumpsUntilEsc = 1;
  maps.clear();
  const int64_t before = PR_GetTotalAllocSize();
  EXPECT_FALSE(VA_SmoothKtransM57(p.vol.get(), mask, settings, freeParms, p.times.data(), p.cp.data(), kT,
                                  VA_SigToConcCallback, VA_ConcToSigCallback, &maps));
  pumpsUntilEsc = -1;
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
  EXPECT_TRUE(maps.maps.empty());
  EXPECT_EQ(PR_GetTotalAllocSize(), before);
  PR_FrameDelete(&mask);
}

// A model with a vicinity radius fits, at each voxel, the mean of the curves within that radius in
// the slice (clipped at the border): the voxel's map value is the single-curve fit of that square.
TEST(VicinityRadius, VoxelsAreFittedWithTheirNeighbours) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CDynExp host;
  ASSERT_TRUE(host.LoadDomain(CString(KINMODELS_LIBRARY)));
  ASSERT_TRUE(host.SetCurrentModel(51));
  const int req[DYNEXP_NUM_OUTPUTS] = {1, 1};  // T1, M0
  host.SetParmReq(req, DYNEXP_NUM_OUTPUTS);
  host.tissueConc.method = 0;
  const double flips[] = {3, 6, 10, 15, 20, 25};
  std::vector<DYNCRD> dyn(std::size(flips));
  for (size_t k = 0; k < dyn.size(); ++k) {
    dyn[k].flipAngle = flips[k];
    dyn[k].repetitionTime = 0.01;
    dyn[k].time = dyn[k].timeEnd = double(k);
  }
  auto t1 = [](int x, int y) { return 0.6 + 0.15 * ((x * 7 + y * 3) % 5); };
  auto vol = curveVolume(5, 5, dyn, [&](int x, int y) {
    std::vector<double> c;
    for (double a : flips) {
      const double e = std::exp(-0.01 / t1(x, y)), s = std::sin(a * std::numbers::pi / 180);
      c.push_back(1000 * s * (1 - e) / (1 - std::cos(a * std::numbers::pi / 180) * e));
    }
    return c;
  }, 0.0, 1);

  auto mapAt = [&](int radius, double* t1Map, double* m0Map) {
    double free[DYNEXP_MAX_FREE_PARMS];
    host.GetFreeParms(51, free);
    free[0] = radius;
    host.SetFreeParms(51, free);
    double** maps = host.CalculateDynamicExperiment(vol.get(), nullptr, nullptr, 51, 1, nullptr, nullptr, nullptr, 0);
    ASSERT_NE(maps, nullptr) << twk::toUtf8(script.lastMessage().wstr());
    std::copy_n(maps[0], 25, t1Map);
    std::copy_n(maps[1], 25, m0Map);
    pf_free_parr(&maps, 2);
  };
  auto squareFit = [&](int x0, int y0, int x1, int y1, double* t1Out, double* m0Out) {
    FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{5, 5, 1, 1}, true);
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) twk::setRoiBit(roi, x, y, 0, 0, true);
    double** maps = host.CalculateDynamicExperiment(vol.get(), roi, nullptr, 51, 3, nullptr, nullptr, nullptr, 0);
    PR_FrameDelete(&roi);
    ASSERT_NE(maps, nullptr);
    *t1Out = maps[0][0];
    *m0Out = maps[1][0];
    pf_free_parr(&maps, 2);
  };
  double t1One[25], m0One[25], t1Own[25], m0Own[25], t1Square, m0Square;
  mapAt(1, t1One, m0One);
  mapAt(0, t1Own, m0Own);
  squareFit(1, 1, 3, 3, &t1Square, &m0Square);  // around (2, 2)
  EXPECT_NEAR(m0One[2 * 5 + 2], m0Square, 1e-3 * m0Square);
  EXPECT_NEAR(t1One[2 * 5 + 2], t1Square, 1e-3 * t1Square);
  EXPECT_GT(std::fabs(m0Own[2 * 5 + 2] - m0Square), 2e-3 * m0Square);  // the test tells them apart
  squareFit(3, 0, 4, 1, &t1Square, &m0Square);  // around (4, 0), clipped
  EXPECT_NEAR(m0One[0 * 5 + 4], m0Square, 1e-3 * m0Square);
}
