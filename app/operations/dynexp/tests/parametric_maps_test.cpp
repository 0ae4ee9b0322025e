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
#include "ScriptedUi.h"
#include "TextCodec.h"
#include "TwkMem.h"
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

  explicit Fixture(std::vector<std::pair<CVol*, bool>> more = {}) {
    CVol* vol = makeVol(FRM_REAL, kW, kH, kD, kT, L"/data/dce.nii");
    std::vector<double> times;
    for (int k = 0; k < kT; ++k) times.push_back(5.0 * k);
    for (int k = 0; k < kT; ++k) vol->dyn[k].time = vol->dyn[k].timeEnd = times[size_t(k)];
    const std::vector<double> c = toftsCurve(times);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int k = 0; k < kT; ++k) twk::setVoxelValue(vol->frame, x, y, 0, k, c[size_t(k)]);
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
    const fs::path dir = fs::path(std::getenv("TWK_TEST_TMP") ? std::getenv("TWK_TEST_TMP") : "/tmp") / "parametric_maps_test";
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
    g_UserOpt.tempFolder = L"C:\\temp";
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
  EXPECT_FALSE(set->ActivateParametricMapCalculation(-1, nullptr, 15, 1, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0], CString(L"4D volume is required"));

  // A 4D set with a host that has no plug-in: false without a message.
  script.clear();
  CDrawSet* set4D = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 5, L"c"))});
  EXPECT_FALSE(set4D->ActivateParametricMapCalculation(-1, nullptr, 15, 1, nullptr, nullptr, false, false, 1));
  EXPECT_TRUE(script.messages.empty());
  TW_SetDynExpHost(nullptr);
}

TEST(ParametricMaps, VoxelwiseMapsBecomeLayersNamedByOutput) {
  Fixture f;
  // Outputs 0 and 2 requested: two layers, their schemes by output index.
  const int req[DYNEXP_NUM_OUTPUTS] = {1, 0, 1};
  int chosen = 0;
  ASSERT_TRUE(f.set->ActivateParametricMapCalculation(8, req, 15, 1, nullptr, &chosen, true, false, 1));
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
  EXPECT_FALSE(f.set->ActivateParametricMapCalculation(8, none, 15, 1, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(f.script.messages.size(), 2u);
  EXPECT_EQ(f.script.messages[0], CString(L"At least one Output parameter is required"));
  EXPECT_EQ(f.script.messages[1],
            CString(L"CDrawSet::ActivateParametricMapCalculation : At least one Output parameter is required"));
  EXPECT_EQ(f.set->NumLayers(), 1);
}

TEST(ParametricMaps, RoiVoxelwiseLeavesOutsideUndefined) {
  Fixture f({{roiVol({{1, 1, 0, 2, 2, 0}}, L"/data/lesion.roi"), true}});
  ASSERT_TRUE(f.set->ActivateParametricMapCalculation(8, nullptr, 15, 2, nullptr, nullptr, false, false, 1));
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
  ASSERT_TRUE(f.set->ActivateParametricMapCalculation(8, nullptr, 15, 3, &report, nullptr, false, false, 1));
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
  EXPECT_FALSE(f.set->ActivateParametricMapCalculation(8, nullptr, 15, 1, nullptr, nullptr, false, false, 1));
  ASSERT_EQ(f.script.prompts.size(), 1u);
  EXPECT_EQ(f.script.messages.back(), CString(L"Tissue attributes"));
  EXPECT_EQ(f.set->NumLayers(), 1);
}

TEST(ParametricMaps, FindLayerContainingIgnoresCaseAndFolders) {
  Fixture f({{roiVol({}, L"/cortex/left kidney.roi"), true},
             {roiVol({}, L"/data/Renal CORTEX left.roi"), false},
             {roiVol({}, L"/data/cortex right.roi"), true}});
  EXPECT_EQ(f.set->FindLayerContaining(false, L"cortex", false), f.layer(2));
  EXPECT_EQ(f.set->FindLayerContaining(false, L"Cortex", true), f.layer(3));
  EXPECT_EQ(f.set->FindLayerContaining(false, L"medulla", false), nullptr);
  EXPECT_TRUE(f.script.messages.empty());
  EXPECT_EQ(f.set->FindLayerContaining(true, L"medulla", false), nullptr);
  EXPECT_EQ(f.script.lastMessage(), CString(L"Layer containing MEDULLA not found"));
}
