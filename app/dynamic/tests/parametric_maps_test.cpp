// The parametric-map driver on small documents: the checks of the set and their messages, map
// layers with their names and colour schemes, ROI modes, the single-curve report, the tissue
// prompt, and the layer lookup by name part.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "AppOptions.h"
#include "ConcConv.h"
#include "DocTestKit.h"
#include "DynExp.h"
#include "DynExpDialogs.h"
#include "OperationHelpers.h"
#include "OperationsTestKit.h"
#include "ParametricMaps.h"
#include "RegularisedMapDriver.h"
#include "TacVolume.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;

namespace {

namespace fs = std::filesystem;

constexpr int kW = 6, kH = 4, kD = 1, kT = 40;
constexpr double kKtrans = 0.2, kVe = 0.3;

double plasma(double t) {
  const double x = (t - 10) / 15;
  return x <= 0 ? 0.0 : 6 * x * std::exp(1 - x) + 0.8 * (1 - std::exp(-x));
}

// A noise-free Tofts tissue curve in concentration (the conversion is left at "Signal").
std::vector<double> toftsCurve(const std::vector<double>& times) {
  const double kt = kKtrans / 60, kep = kt / kVe;
  std::vector<double> c(times.size(), 0.0);
  for (size_t i = 1; i < times.size(); ++i) {
    const double h = times[i] - times[i - 1], e = std::exp(-kep * h);
    const double a = plasma(times[i - 1]), slope = (plasma(times[i]) - a) / h;
    c[i] = c[i - 1] * e + kt * (a * (1 - e) / kep + slope * (h / kep - (1 - e) / (kep * kep)));
  }
  return c;
}

// A document whose set holds a real 4D volume of Tofts curves (and the given further layers), the
// program's host loaded with model 8 and an input function.
struct Fixture {
  CDrawDoc doc;
  CountingView view;
  CDrawSet* set = nullptr;
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
  CDynExp host;

  explicit Fixture(std::vector<std::pair<CVol*, bool>> more = {}, int w = kW, int h = kH, int d = kD) {
    CVol* vol = makeVol(FRM_REAL, w, h, d, kT, L"/data/dce.nii");
    std::vector<double> times;
    for (int k = 0; k < kT; ++k) times.push_back(5.0 * k);
    for (int k = 0; k < kT; ++k) vol->dyn[k].time = vol->dyn[k].timeEnd = times[size_t(k)];
    const std::vector<double> c = toftsCurve(times);
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          for (int k = 0; k < kT; ++k) twk::setVoxelValue(vol->frame, x, y, z, k, c[size_t(k)]);
    std::vector<CDrawVol*> layers{makeLayer(vol)};
    for (auto& [v, marked] : more) layers.push_back(makeLayer(v, marked));
    set = addSet(&doc, layers);
    set->SetActive(0);
    doc.AddView(&view);
    set->AddViewProjection(&view);

    EXPECT_TRUE(host.LoadDomain(CString(KINMODELS_LIBRARY)));
    host.SetCurrentModel(8);
    const int req[DYNEXP_NUM_OUTPUTS] = {1, 1};
    host.SetParmReq(req, DYNEXP_NUM_OUTPUTS);
    host.tissueConc.method = 0;
    host.ifuncConc.method = 0;
    const fs::path dir = twk::testing::testFolder() / "parametric_maps_test";
    fs::create_directories(dir);
    {
      std::ofstream out(dir / "aif.txt");
      char line[80];
      for (double t : times) {
        std::snprintf(line, sizeof line, "%.17g %.17g\n", t, plasma(t));
        out << line;
      }
    }
    EXPECT_TRUE(host.LoadInputFunction(CString((dir / "aif.txt").string().c_str())));
    TW_SetDynExpHost(&host);
    TW_EditOptions().tempFolder = L"C:\\temp";
  }
  ~Fixture() {
    TW_SetDynExpHost(nullptr);
    doc.RemoveView(&view);
  }
  CVol* layer(int i) const { return set->GetLayerVol(i); }
};

CVol* roiVol(std::initializer_list<RECT3D> boxes, const wchar_t* name) {
  CVol* vol = makeVol(FRM_ROI, kW, kH, kD, 1, name);
  for (const RECT3D& b : boxes) VA_VolFillBox(vol->frame, 0, &b, true, 1.0);
  return vol;
}

}  // namespace

TEST(ParametricMaps, SetsWithoutA4DVolumeOrHostAreRefused) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CDynExp host;
  TW_SetDynExpHost(&host);
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1, L"a")), makeLayer(makeVol(FRM_INT, 4, 4, 2, 1, L"b"))});
  EXPECT_FALSE(twk::dynamic::ActivateParametricMapCalculation(*set, -1, nullptr, 15, 1, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0], CString(L"4D volume is required"));

  // A 4D set with a host that has no plug-in: false without a message.
  script.clear();
  CDrawSet* set4D = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 5, L"c"))});
  EXPECT_FALSE(twk::dynamic::ActivateParametricMapCalculation(*set4D, -1, nullptr, 15, 1, nullptr, nullptr, false, false, 1));
  EXPECT_TRUE(script.messages.empty());
  TW_SetDynExpHost(nullptr);
}

TEST(ParametricMaps, VoxelwiseMapsBecomeLayersNamedByOutput) {
  Fixture f;
  // Outputs 0 and 2 requested: two layers, their schemes by output index.
  const int req[DYNEXP_NUM_OUTPUTS] = {1, 0, 1};
  int chosen = 0;
  ASSERT_TRUE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 8, req, 15, 1, nullptr, &chosen, true, false, 1));
  EXPECT_EQ(chosen, 1);
  EXPECT_TRUE(f.script.messages.empty()) << twk::toUtf8(f.script.lastMessage().wstr());
  ASSERT_EQ(f.set->NumLayers(), 3);
  // Named by the output paths ("<temp folder>\<output>.im"); the layer keeps the file title.
  EXPECT_EQ(f.host.outPath[1], CString(L"C:\\temp\\Ta delay.im"));
  EXPECT_EQ(f.layer(1)->name, CString(L"K-trans"));
  EXPECT_EQ(f.layer(2)->name, CString(L"Ta delay"));
  EXPECT_EQ(f.set->GetLayer(1)->filter.scheme, f.host.GetDefaultClrScheme(8, 0));
  EXPECT_EQ(f.set->GetLayer(2)->filter.scheme, f.host.GetDefaultClrScheme(8, 2));
  EXPECT_TRUE(f.layer(1)->IsParamMap());
  for (int x = 0; x < kW; ++x) EXPECT_NEAR(twk::voxelValue(f.layer(1)->frame, x, 1, 0, 0), kKtrans, 1e-3 * kKtrans);
  EXPECT_TRUE(f.doc.IsModified());
  EXPECT_GT(f.view.redraws, 0);
}

TEST(ParametricMaps, NothingRequestedShowsBothBoxesAndAddsNoLayer) {
  Fixture f;
  const int none[DYNEXP_NUM_OUTPUTS] = {};
  EXPECT_FALSE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 8, none, 15, 1, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(f.script.messages.size(), 2u);
  EXPECT_EQ(f.script.messages[0], CString(L"At least one Output parameter is required"));
  EXPECT_EQ(f.script.messages[1],
            CString(L"CDrawSet::ActivateParametricMapCalculation : At least one Output parameter is required"));
  EXPECT_EQ(f.set->NumLayers(), 1);
}

TEST(ParametricMaps, RoiVoxelwiseLeavesOutsideUndefined) {
  Fixture f({{roiVol({{1, 1, 0, 2, 2, 0}}, L"/data/lesion.roi"), true}});
  ASSERT_TRUE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 8, nullptr, 15, 2, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(f.set->NumLayers(), 4);
  const FRAME* map = f.layer(2)->frame;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
      const double v = twk::voxelValue(map, x, y, 0, 0);
      if (inside) EXPECT_NEAR(v, kKtrans, 1e-3 * kKtrans);
      else EXPECT_EQ(v, VOID_VALUE);
    }
}

TEST(ParametricMaps, SingleCurveReportIsExact) {
  // Without ROIs the whole volume is one curve.
  Fixture f;
  CString report;
  ASSERT_TRUE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 8, nullptr, 15, 3, &report, nullptr, false, false, 1));
  EXPECT_EQ(f.set->NumLayers(), 1);
  const CString expected = FmtStr(L"/data/dce.nii\nwhole volume : K-trans\t%e\t1/min\tVe\t%e\t\t\n", kKtrans, kVe);
  // The fitted values differ from the truth in the last digits only.
  EXPECT_EQ(report.GetLength(), expected.GetLength());
  EXPECT_EQ(report.Left(28), expected.Left(28));

  // The report and the table rows from fixed records: a failed fit is "undefined".
  CVol* rois[2] = {roiVol({{0, 0, 0, 1, 1, 0}}, L"left"), roiVol({{3, 0, 0, 4, 1, 0}}, L"right")};
  const double intervals[2 * 2 * 4] = {0.25, 0.2, 0.3, 0, 0.5, 1e60, 1e60, 0,  // curve 0
                                       1e60, 1e60, 1e60, 0, 2.0, 1.0, 5.0, 0};  // curve 1
  const CString names[2] = {L"K-trans", L"Ve"}, units[2] = {L"1/min", L""};
  TW_SINGLECURVE r;
  r.vol = f.layer(0);
  r.rois = rois;
  r.count = 2;
  r.intervals = intervals;
  r.names = names;
  r.units = units;
  r.nReq = 2;
  EXPECT_EQ(TW_SingleCurveReport(r),
            CString(L"/data/dce.nii\nleft : K-trans\t2.500000e-01\t1/min\tVe\t5.000000e-01\t\t\n"
                    L"right : K-trans\tundefined\t1/min\tVe\t2.000000e+00\t\t\n"));
  const struct {
    int r, j;
    const wchar_t *value, *bounds, *spread;
  } rows[] = {
      {0, 0, L"0.25", L"[ 0.200000 , 0.300000 ]", L"20.000"},
      {0, 1, L"0.5", L"", L""},
      {1, 0, L"undefined", L"", L""},
      {1, 1, L"2", L"[ 1.000000 , 5.000000 ]", L"100.000"},  // the spread reaches the value
  };
  for (const auto& c : rows) {
    const TW_SINGLECURVEROW row = TW_SingleCurveRow(r, c.r, c.j);
    EXPECT_EQ(row.value, CString(c.value));
    EXPECT_EQ(row.bounds, CString(c.bounds));
    EXPECT_EQ(row.spread, CString(c.spread));
  }
  delete rois[0];
  delete rois[1];
}

TEST(ParametricMaps, GradientEchoConversionAsksForTheTissueT1) {
  Fixture f;
  f.host.tissueConc.method = 4;
  f.host.tissueConc.tr = 0.005;
  f.host.tissueConc.flipAngle = 15;
  f.host.tissueConc.r1 = 4.5;
  f.script.cancelValues();
  EXPECT_FALSE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 8, nullptr, 15, 1, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(f.script.prompts.size(), 1u);
  EXPECT_EQ(f.script.messages.back(), CString(L"Tissue attributes"));
  EXPECT_EQ(f.set->NumLayers(), 1);
}

TEST(ParametricMaps, FindLayerContainingIgnoresCaseAndFolders) {
  Fixture f({{roiVol({}, L"/cortex/left kidney.roi"), true},
             {roiVol({}, L"/data/Renal CORTEX left.roi"), false},
             {roiVol({}, L"/data/cortex right.roi"), true}});
  EXPECT_EQ(twk::ops::FindLayerContaining(*f.set, false, L"cortex", false), f.layer(2));
  EXPECT_EQ(twk::ops::FindLayerContaining(*f.set, false, L"Cortex", true), f.layer(3));
  EXPECT_EQ(twk::ops::FindLayerContaining(*f.set, false, L"medulla", false), nullptr);
  EXPECT_TRUE(f.script.messages.empty());
  EXPECT_EQ(twk::ops::FindLayerContaining(*f.set, true, L"medulla", false), nullptr);
  EXPECT_EQ(f.script.lastMessage(), CString(L"Layer containing MEDULLA not found"));
}

namespace {

// Esc once the first progress report after the start has been seen; counts what is reported after.
int g_pumpsUntilEsc = -1;
int g_reportsAfterEsc = 0;
bool g_stopped = false;
bool escAfterPumps(const wchar_t*, bool) {
  if (g_pumpsUntilEsc >= 0 && g_pumpsUntilEsc-- == 0) {
    PR_SetInWorkProcess(false);
    g_stopped = true;
  }
  return true;
}
void countReports(uint64_t value) {
  if (g_stopped && value != PR_MSG_RESET && value != PR_MSG_END) ++g_reportsAfterEsc;
}

}  // namespace

// Esc during a map of 10^5 voxels: the run ends at the next progress step, no layer is added, the
// document is neither modified nor given an undo entry, and nothing stays allocated.
TEST(ParametricMaps, EscStopsAMapOfAHundredThousandVoxels) {
  Fixture f({}, 200, 100, 5);
  f.doc.SetModifiedFlag(false);
  const int layers = f.set->NumLayers();
  const int undo = f.doc.UndoCount();
  MSGBLOCK block;
  block.showMessage = escAfterPumps;
  block.progressSink = countReports;
  PR_InitFrameFunctions(&block);
  g_pumpsUntilEsc = 1;
  g_reportsAfterEsc = 0;
  g_stopped = false;
  const int64_t before = PR_GetTotalAllocSize();
  const int req[DYNEXP_NUM_OUTPUTS] = {1, 1, 1, 1};
  EXPECT_FALSE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 8, req, 15, 1, nullptr, nullptr, true, false, 1));
  g_pumpsUntilEsc = -1;
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
  EXPECT_TRUE(g_stopped);
  EXPECT_EQ(g_reportsAfterEsc, 0);
  EXPECT_TRUE(f.script.messages.empty()) << twk::toUtf8(f.script.lastMessage().wstr());
  EXPECT_EQ(f.set->NumLayers(), layers);
  EXPECT_FALSE(f.doc.IsModified());
  EXPECT_EQ(f.doc.UndoCount(), undo);
  EXPECT_EQ(PR_GetTotalAllocSize(), before);
}

// "Extrapolate": the wanted b-values typed at the prompt give a new document of the model curves;
// the source set is not changed.
TEST(ParametricMaps, ExtrapolationOpensANewDocument) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  twk::optest::Documents docs;
  CDynExp host;
  ASSERT_TRUE(host.LoadDomain(CString(KINMODELS_LIBRARY)));
  host.SetCurrentModel(19);
  const int none[DYNEXP_NUM_OUTPUTS] = {};
  host.SetParmReq(none, DYNEXP_NUM_OUTPUTS);
  host.tissueConc.method = 0;
  TW_SetDynExpHost(&host);
  CVol* vol = makeVol(FRM_REAL, 2, 2, 1, 5, L"/data/dwi.nii");
  for (int k = 0; k < 5; ++k) {
    vol->dyn[k].bValue = 200.0 * k;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) twk::setVoxelValue(vol->frame, x, y, 0, k, 800.0 * std::exp(-0.001 * 200.0 * k));
  }
  CDrawDoc* doc = docs.open({makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  const int before = twk::optest::Documents::openCount();
  // Buttons offered without ROIs: voxelwise, single curve, Extrapolate (index 2).
  script.answerValues({2, 0}).answerValuesText({L"100 1200"});
  EXPECT_TRUE(twk::dynamic::ActivateParametricMapCalculation(*set, -1, nullptr, 15, 5, nullptr, nullptr, false, false, 1))
      << twk::toUtf8(script.lastMessage().wstr());
  ASSERT_GE(script.prompts.size(), 2u);
  EXPECT_EQ(script.prompts[1][0].label, CString(L"Enter additional B-value (s/mm2)"));
  EXPECT_EQ(set->NumLayers(), 1);
  const std::vector<CDrawDoc*> made = twk::optest::Documents::openedAfter(before);
  ASSERT_EQ(made.size(), 1u);
  const CVol* out = made[0]->GetActiveSet()->GetLayerVol(0);
  ASSERT_EQ(out->T(), 2);
  EXPECT_EQ(out->dyn[1].bValue, 1200);
  EXPECT_NEAR(twk::voxelValue(out->frame, 1, 1, 0, 1), 800.0 * std::exp(-1.2), 0.5);
  TW_SetDynExpHost(nullptr);
}

// The output arrays of the regularised fits follow each model's table: parameter maps, the
// additional map, zeros, and undefined values for an output the regularised fit does not give.
TEST(RegularisedMaps, OutputArraysFollowTheModelsTable) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  FramePtr held[4];
  FRAME* maps[4];
  for (int k = 0; k < 4; ++k) {
    held[k].reset(VA_VolCreateUniform(FRM_REAL, DIM3D{2, 2, 1, 1}, 10.0 + k));
    maps[k] = held[k].get();
  }
  const FramePtr heldAdditional(VA_VolCreateUniform(FRM_REAL, DIM3D{2, 2, 1, 1}, 99.0));
  FRAME* additional = heldAdditional.get();
  struct Case {
    int model;
    std::vector<int> requested;
    std::vector<double> values;  // the first voxel of each entry
  };
  const Case cases[] = {
      {18, {1, 1, 1, 1}, {11, 13, 12, 99}},            // f, Dt, Dp, RMSE
      {52, {0, 1, 0, 1, 1}, {11, 0, 99}},              // alpha, TA (zeros), residual
      {52, {1, 0, 0, 0, 0}, {10}},                     // only K
      {57, {1, 0, 0, 1, 1}, {10, 99, VOID_VALUE}},     // the last output has no regularised map
  };
  for (const Case& c : cases) {
    const int nReq = int(std::count(c.requested.begin(), c.requested.end(), 1));
    double** out = GOMRconvertToDEMPoutput(c.model, int(c.requested.size()), c.requested.data(), nReq, maps, additional);
    ASSERT_NE(out, nullptr) << c.model;
    for (int j = 0; j < nReq; ++j) {
      EXPECT_EQ(out[j][0], c.values[size_t(j)]) << c.model << " entry " << j;
      EXPECT_EQ(out[j][3], c.values[size_t(j)]) << c.model << " entry " << j;
    }
    pf_free_parr(&out, nReq);
  }
  EXPECT_TRUE(script.messages.empty());
  const int one[1] = {1};
  EXPECT_EQ(GOMRconvertToDEMPoutput(8, 1, one, 1, maps, additional), nullptr);
  EXPECT_EQ(script.lastMessage(), CString(L"GOMRconvertToDEMPoutput : Model does not support GoMR"));
}

// Optimisation 7 through the driver: one ROI gives the regularised maps as layers (undefined
// outside the ROI); the whole volume, or two ROIs, give the one-ROI message and change nothing;
// an interactive fit asks for its tolerance, and Cancel there ends quietly.
TEST(RegularisedMaps, DriverFitsTheOneRoiOrRefuses) {
  Fixture f({{roiVol({{1, 1, 0, 3, 2, 0}}, L"/data/lesion.roi"), true}});
  f.host.SetCurrentModel(52);
  ASSERT_EQ(f.host.GetCurrentOptimization(52, nullptr, nullptr), 7);
  EXPECT_TRUE(TW_ModelSupportsGOMR(&f.host, 52));
  const int req[DYNEXP_NUM_OUTPUTS] = {1, 1, 0, 1, 1};
  ASSERT_TRUE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 52, req, 15, 2, nullptr, nullptr, false, false, 1))
      << twk::toUtf8(f.script.lastMessage().wstr());
  EXPECT_TRUE(f.script.messages.empty()) << twk::toUtf8(f.script.lastMessage().wstr());
  ASSERT_EQ(f.set->NumLayers(), 6);
  EXPECT_EQ(f.layer(2)->name, CString(L"K"));
  EXPECT_EQ(f.layer(4)->name, CString(L"TA"));
  EXPECT_EQ(f.set->GetLayer(2)->filter.scheme, f.host.GetDefaultClrScheme(52, 0));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
      const double k = twk::voxelValue(f.layer(2)->frame, x, y, 0, 0);
      if (inside) {
        EXPECT_GT(k, 0) << x << y;
      } else {
        EXPECT_EQ(k, VOID_VALUE) << x << y;
      }
      EXPECT_EQ(twk::voxelValue(f.layer(4)->frame, x, y, 0, 0), 0.0);
      // Every voxel has the same curve, so the same fit and residual.
      if (inside) {
        EXPECT_NEAR(twk::voxelValue(f.layer(5)->frame, x, y, 0, 0), twk::voxelValue(f.layer(5)->frame, 1, 1, 0, 0),
                    1e-12) << x << y;
      }
    }

  // The whole volume: no ROI.
  f.script.clear();
  f.doc.SetModifiedFlag(false);
  EXPECT_FALSE(twk::dynamic::ActivateParametricMapCalculation(*f.set, 52, req, 15, 1, nullptr, nullptr, false, false, 1));
  EXPECT_EQ(f.script.lastMessage(), CString(L"GOMR_CalculateMap : GOMR optimization : exactly one ROI is required"));
  EXPECT_EQ(f.set->NumLayers(), 6);
  EXPECT_FALSE(f.doc.IsModified());

  // Asked for the tolerance; Cancel ends without a message.
  f.script.clear();
  CVol* roi = f.layer(1);
  f.script.cancelValues();
  EXPECT_EQ(GOMR_CalculateMap(false, 52, &f.host, f.layer(0), nullptr, &roi, 1, true), nullptr);
  ASSERT_EQ(f.script.prompts.size(), 1u);
  EXPECT_EQ(f.script.prompts[0][0].label,
            CString(L"Map Regularization fitting error tolerance in signal units.\nIncrease for smoother maps."));
  EXPECT_EQ(f.script.prompts[0][0].number, 1.0);
  EXPECT_EQ(f.script.messages.size(), 1u);  // the prompt's title only

  // Two ROIs; a model without the regularised fit.
  f.script.clear();
  CVol* two[2] = {roi, roi};
  EXPECT_EQ(GOMR_CalculateMap(true, 52, &f.host, f.layer(0), nullptr, two, 2, true), nullptr);
  EXPECT_EQ(f.script.lastMessage(), CString(L"GOMR_CalculateMap : GOMR optimization : exactly one ROI is required"));
  EXPECT_FALSE(TW_ModelSupportsGOMR(&f.host, 8));
  EXPECT_EQ(GOMR_CalculateMap(true, 8, &f.host, f.layer(0), nullptr, &roi, 1, true), nullptr);
  EXPECT_EQ(f.script.lastMessage(), CString(L"GOMR_CalculateMap : GOMR is not supported for this Model"));
}

// "Open TAC as 4D": a silent open gives one voxel carrying the curve; the dialog's size and noise
// (in percent) shape the volume; Cancel, an unreadable file and a file without points make no
// document.
TEST(TacVolume, CurveFileBecomesASyntheticDocument) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  twk::optest::Documents docs;
  const fs::path dir = twk::testing::testFolder() / "tac_volume_test";
  fs::create_directories(dir);
  const double times[] = {0, 2.5, 5, 10, 20}, values[] = {1, 4, 9.5, 6, 3};
  {
    std::ofstream out(dir / "curve.txt");
    out << "# name: aorta\n";
    for (int k = 0; k < 5; ++k) out << times[k] << "\t" << values[k] << "\n";
    std::ofstream(dir / "empty.txt") << "# nothing but a header\n";
  }
  const CString curve((dir / "curve.txt").string().c_str());
  int before = twk::optest::Documents::openCount();
  CDrawDoc* doc = TW_OpenTacAs4D(MODALITY_MR, curve.GetString(), true);
  ASSERT_NE(doc, nullptr) << twk::toUtf8(script.lastMessage().wstr());
  const CVol* vol = doc->GetActiveSet()->GetLayerVol(0);
  ASSERT_EQ(vol->W() * vol->H() * vol->D(), 1);
  ASSERT_EQ(vol->T(), 5);
  EXPECT_EQ(vol->GetModality(), MODALITY_MR);
  EXPECT_TRUE(vol->name.Find(L"curve") >= 0) << twk::toUtf8(vol->name.wstr());
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(vol->dyn[k].time, times[k]);
    EXPECT_EQ(twk::voxelValue(vol->frame, 0, 0, 0, k), values[k]);
  }
  EXPECT_TRUE(script.messages.empty());

  // Through the dialog: 4 x 3 x 2 voxels, noise 5 % of the curve's peak (another file: a document
  // of the same name is open).
  fs::copy_file(dir / "curve.txt", dir / "curve2.txt", fs::copy_options::overwrite_existing);
  const CString curve2((dir / "curve2.txt").string().c_str());
  script.answerValues({4, 3, 2, 5});
  doc = TW_OpenTacAs4D(MODALITY_PET, curve2.GetString(), false);
  ASSERT_NE(doc, nullptr) << twk::toUtf8(script.lastMessage().wstr());
  vol = doc->GetActiveSet()->GetLayerVol(0);
  EXPECT_EQ(vol->W(), 4);
  EXPECT_EQ(vol->H(), 3);
  EXPECT_EQ(vol->D(), 2);
  double ss = 0;
  int n = 0;
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        for (int k = 0; k < 5; ++k, ++n) ss += std::pow(twk::voxelValue(vol->frame, x, y, z, k) - values[k], 2);
  const double sigma = std::sqrt(ss / n);
  EXPECT_GT(sigma, 0.05 * 9.5 * 0.7);
  EXPECT_LT(sigma, 0.05 * 9.5 * 1.3);
  EXPECT_EQ(twk::optest::Documents::openCount(), before + 2);

  // Cancel on the dialog; no point; no file.
  script.clear();
  script.cancelValues();
  EXPECT_EQ(TW_OpenTacAs4D(MODALITY_PET, curve2.GetString(), false), nullptr);
  EXPECT_EQ(script.messageTypes.size(), script.prompts.size());  // no message box beside the prompt
  script.clear();
  EXPECT_EQ(TW_OpenTacAs4D(MODALITY_PET, CString((dir / "empty.txt").string().c_str()).GetString(), true), nullptr);
  EXPECT_EQ(script.lastMessage(), CString(L"TW_OpenTacAs4D : Invalid TAC text file"));
  EXPECT_EQ(TW_OpenTacAs4D(MODALITY_PET, CString((dir / "missing.txt").string().c_str()).GetString(), true), nullptr);
  EXPECT_EQ(script.lastMessage(), CString(L"TW_OpenTacAs4D : Failed to load Dynamic Activity Curve"));
  EXPECT_EQ(twk::optest::Documents::openCount(), before + 2);
}
