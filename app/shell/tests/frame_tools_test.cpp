// The layer operations record, the tissue attributes prompt and the main frame's own commands
// (single-curve measurements, the rounding diagnostic, the allocated-memory line).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "FrameTools.h"
#include "LayerOperations.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "UiHelpers.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace fs = std::filesystem;

namespace {

CVol* volumeOf(FRMTYPE type, const wchar_t* name, const std::function<double(int, int, int)>& fn) {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, type == FRM_INT ? 16 : 0, DIM3D{5, 4, 3, 1}, true);
  vol->name = name;
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) twk::setVoxelValue(vol->frame, x, y, z, 0, fn(x, y, z));
  return vol;
}

// A document whose set holds the layers; marked as given.
struct Fixture {
  std::unique_ptr<CDrawDoc> doc = std::make_unique<CDrawDoc>();
  CDrawSet* set = nullptr;
  Fixture(std::vector<std::pair<CVol*, bool>> layers) {
    set = new CDrawSet(doc.get());
    for (auto& [vol, marked] : layers) {
      auto* layer = new CDrawVol;
      CVol* v = vol;
      layer->Init(&v, nullptr, false);
      layer->marked = marked ? 1 : 0;
      set->AppendLayer(layer);
    }
    CDrawObj* obj = set;
    doc->AddObject(&obj, true);
  }
};

class FrameTools : public ::testing::Test {
 protected:
  twk::ScriptedUi ui;
  twk::ScopedUi installed{ui};
};

TEST_F(FrameTools, LayerOperationsEnableWhatTheMarkedLayersAllow) {
  auto roiA = [] { return volumeOf(FRM_ROI, L"a", [](int x, int, int) { return x % 2; }); };
  auto roiB = [] { return volumeOf(FRM_ROI, L"b", [](int, int y, int) { return y % 2; }); };
  auto real = [] { return volumeOf(FRM_REAL, L"r", [](int x, int y, int z) { return x + y + z; }); };
  const struct {
    const char* name;
    std::vector<std::pair<CVol*, bool>> layers;
    bool opens;
    std::vector<int> enabled;
    const wchar_t* message;
  } cases[] = {
      {"two ROIs", {{roiA(), true}, {roiB(), true}}, true, {1, 2, 3, 4, 5, 6, 7}, nullptr},
      {"one ROI", {{roiA(), true}, {roiB(), false}}, true, {5}, nullptr},
      {"ROI and real", {{roiA(), true}, {real(), true}}, true, {6, 7}, nullptr},
      {"one real", {{real(), true}, {roiA(), false}}, false, {}, L"CDlgLayerOpers::OnInitDialog : Invalid layer operand"},
      {"none marked", {{roiA(), false}, {roiB(), false}}, false, {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(c.layers);
    ui.clear();
    TW_LAYEROPERS record;
    EXPECT_EQ(TW_PrepareLayerOperations(f.set, &record), c.opens);
    if (c.message) EXPECT_EQ(ui.lastMessage(), c.message);
    else EXPECT_TRUE(ui.messages.empty());
    if (!c.opens) continue;
    for (int code = 1; code <= 7; ++code)
      EXPECT_EQ(record.enabled[code], std::count(c.enabled.begin(), c.enabled.end(), code) == 1) << code;
  }
  // A vector-ROI set is no volumetric entity.
  CDrawSet vectorSet;
  TW_LAYEROPERS record;
  ui.clear();
  EXPECT_FALSE(TW_PrepareLayerOperations(&vectorSet, &record));
  EXPECT_EQ(ui.lastMessage(), L"CDlgLayerOpers::OnInitDialog : Volumetric Entity is required");
}

TEST_F(FrameTools, LayerOperationResultIsNamedAndActive) {
  Fixture f({{volumeOf(FRM_ROI, L"a", [](int x, int, int) { return x % 2; }), true},
             {volumeOf(FRM_ROI, L"b", [](int, int y, int) { return y % 2; }), true}});
  TW_LAYEROPERS record;
  ASSERT_TRUE(TW_PrepareLayerOperations(f.set, &record));
  ASSERT_TRUE(TW_RunLayerOperation(record, 4));  // XOR
  ASSERT_EQ(f.set->NumLayers(), 3);
  EXPECT_EQ(f.set->GetActive(), 2);
  const CVol* result = f.set->GetActiveVol();
  EXPECT_EQ(result->name, L"XOR result");
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(twk::voxelValue(result->frame, x, y, 1, 0), double((x % 2) != (y % 2)));
  // The prompt that stands in for the dialog lists the enabled operations; Cancel runs nothing.
  ui.cancelValues();
  EXPECT_TRUE(TW_DlgLayerOpers(f.set));
  EXPECT_EQ(f.set->NumLayers(), 3);
}

TEST_F(FrameTools, TissueAttributesEditOnlyTheT1) {
  VA_TISSUEATTRIB attributes;
  attributes.t1 = 1.2;
  attributes.reserved[3] = 7;
  ui.answerValues({0.85});
  ASSERT_TRUE(TW_DlgTissueProp(5, &attributes));
  EXPECT_EQ(ui.messages.back(), L"Tissue attributes");
  EXPECT_EQ(attributes.t1, 0.85);
  EXPECT_EQ(attributes.reserved[3], 7);
  ui.cancelValues();
  EXPECT_FALSE(TW_DlgTissueProp(2, &attributes));
  EXPECT_EQ(ui.messages.back(), L"Tissue Properties");
  EXPECT_EQ(attributes.t1, 0.85);
}

TEST_F(FrameTools, SingleCurveMeasurementsAskForColumnsAndShowTheReport) {
  const fs::path folder = twk::testing::testFolder("frame_tools");
  const USEROPT saved = TW_Options();
  TW_EditOptions().tempFolder = CString::fromUtf8(folder.string());
  const std::string file = (folder / "curve.txt").string();
  std::ofstream(file) << "t a b\n0 1 5\n1 3 4\n2 2 3\n";
  ui.answerOpenFile(CString::fromUtf8(file)).answerValues({2, 2});
  EXPECT_FALSE(TW_SingleCurveBasicMeasurement());
  ASSERT_GE(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[ui.messages.size() - 2], L"t[1] ,a[2] ,b[3] ");
  EXPECT_EQ(ui.lastMessage(), L"CMainFrame::OnSingleCurveBasicMeasurement : Invalid column indices were specified");
  ui.clear();
  ui.answerOpenFile(CString::fromUtf8(file)).answerValues({1, 3});
  ASSERT_TRUE(TW_SingleCurveBasicMeasurement());
  ASSERT_EQ(ui.shownFileTexts.size(), 1u);
  EXPECT_NE(ui.shownFileTexts[0].Find(L"Maximum\t5\tat x\t0"), -1) << ui.shownFileTexts[0].toUtf8();
  // One column is not a curve.
  std::ofstream(file) << "t\n0\n1\n";
  ui.clear();
  ui.answerOpenFile(CString::fromUtf8(file));
  EXPECT_FALSE(TW_SingleCurveBasicMeasurement());
  EXPECT_EQ(ui.lastMessage(), L"CMainFrame::OnSingleCurveBasicMeasurement : At least 2 columns required");
  TW_EditOptions() = saved;
  fs::remove_all(folder);
}

TEST_F(FrameTools, RoundingDiagnosticAndMemoryLine) {
  TW_TestRounding(20000);  // 0.0001 steps: both totals sum the same rounded values
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].Find(L"Tm1"), 0);
  // sum over k = 1..20000 of round(k / 10000), twice: 5000 ones, 5001 ... 15000 ones, then twos
  double total = 0, x = 0;
  for (int i = 0; i < 20000; ++i) total += std::floor((x += 0.0001) + 0.5);
  EXPECT_NE(ui.messages[1].Find(CString::fromUtf8(std::to_string(int64_t(2 * total)))), -1) << ui.messages[1].toUtf8();
  EXPECT_EQ(TW_AllocatedMemoryLine(),
            FmtStr(L"Allocated Memory : %I64u bytes", static_cast<unsigned long long>(PR_GetTotalAllocSize())));
}

}  // namespace
