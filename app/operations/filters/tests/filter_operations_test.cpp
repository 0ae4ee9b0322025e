// The filter commands from their menu rows: operands, prompts and dialogs scripted, results as
// layers; the Qt dialogs of their records driven offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <cmath>
#include <cstring>
#include <random>

#include "../../tests/OperationsTestKit.h"
#include "FilterDialogs.h"
#include "ParameterDialog.h"
#include "RecordDialog.h"
#include "ScriptedUi.h"

using namespace twk::optest;

namespace {

// White noise of sigma 5 at time point 0 and 20 at time point 1 around 500.
CVol* noisyVolume(int t = 2) {
  std::mt19937 rng(17);
  std::normal_distribution<double> n(0, 1);
  return makeVolume(FRM_REAL, 64, DIM3D{32, 32, 8, t},
                    [&](int, int, int, int k) { return 500 + (k ? 20 : 5) * n(rng); });
}

class FilterCommands : public ::testing::Test {
 protected:
  void SetUp() override { installed_ = std::make_unique<twk::ScopedUi>(ui); }
  void TearDown() override { installed_.reset(); }
  // Runs the row of the menu path for the document's view.
  bool run(const char* group, const char* path, CDrawDoc* doc) {
    const int id = rowId(group, path);
    EXPECT_NE(id, 0) << path;
    EXPECT_TRUE(TW_CommandEnabled(id, Documents::viewOf(doc))) << path;
    return TW_DispatchCommand(id, Documents::viewOf(doc));
  }
  twk::ScriptedUi ui;
  Documents docs;

 private:
  std::unique_ptr<twk::ScopedUi> installed_;
};

TEST_F(FilterCommands, NoiseCommandsMeasureTheViewsTimePoint) {
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(noisyVolume())});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  const struct {
    const char* path;
    const wchar_t* title;
  } rows[] = {{"Noise > Effective Noise", L"Effective Noise = "},
              {"Noise > Median Noise", L"Median Noise = "},
              {"Noise > Local 2D Difference Noise", L"Local 2D Difference Noise = "}};
  for (int t = 0; t < 2; ++t) {
    ASSERT_TRUE(set->VolChangeSlice(view, 1, t, 0, 0));
    ASSERT_EQ(view->CurrentTime(), t);
    doc->SetModifiedFlag(false);
    for (const auto& r : rows) {
      SCOPED_TRACE(r.path);
      ui.clear();
      run("Volume", r.path, doc);
      ASSERT_EQ(ui.messages.size(), 1u);
      const CString text = ui.messages[0];
      ASSERT_EQ(text.Left(int(std::wcslen(r.title))), r.title);
      const double value = std::wcstod(text.GetString() + std::wcslen(r.title), nullptr);
      EXPECT_NEAR(value, t ? 20 : 5, t ? 2 : 0.5);
    }
  }
  EXPECT_FALSE(doc->IsModified());
  EXPECT_EQ(set->NumLayers(), 1);
}

TEST_F(FilterCommands, SmoothOverRoiAddsTheSmoothedLayer) {
  CVol* vol = noisyVolume(1);
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{32, 32, 8, 1}, [](int x, int, int, int) { return x < 16 ? 1 : 0; },
                         L"/data/roi.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi)});
  CDrawSet* set = doc->GetActiveSet();
  set->SetActive(0);
  g_VolSmoothParms = VA_VOLSMOOTH{};
  g_VolSmoothParms.constrainByMask = 1;
  // Process 3D, Separable, Radius, Constrain by mask, Kernel.
  ui.answerValues({1, 0, 2.0, 1, 0});
  run("Volume", "Smooth over (optional) ROI", doc);
  ASSERT_EQ(set->NumLayers(), 3);
  EXPECT_EQ(set->GetActive(), 2);
  const FRAME* out = set->GetLayerVol(2)->frame;
  // Inside the ROI the noise falls, outside the voxels are the source's.
  EXPECT_EQ(twk::voxelValue(out, 20, 10, 3, 0), twk::voxelValue(vol->frame, 20, 10, 3, 0));
  double s = 0;
  for (int y = 4; y < 28; ++y) s += std::pow(twk::voxelValue(out, 8, y, 4, 0) - 500, 2);
  EXPECT_LT(std::sqrt(s / 24), 2.5);
  EXPECT_EQ(set->GetLayer(2)->filter.level, set->GetLayer(0)->filter.level);
  EXPECT_TRUE(doc->IsModified());
}

TEST_F(FilterCommands, SmoothingRefusals) {
  CVol* roi4d = makeVolume(FRM_ROI, 1, DIM3D{32, 32, 8, 2}, [](int, int, int, int) { return 1; }, L"/data/roi4.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(noisyVolume(1)), twk::testkit::makeLayer(roi4d)});
  doc->GetActiveSet()->SetActive(0);
  run("Volume", "Smooth over (optional) ROI", doc);
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SmoothVolume : 3D ROI is required");
  // Separable with the median kernel: the core refuses, nothing is added.
  doc->GetActiveSet()->SetLayerMarked(roi4d, false);
  ui.clear();
  ui.answerValues({1, 1, 2.0, 0, 4});
  run("Volume", "Smooth over (optional) ROI", doc);
  EXPECT_EQ(ui.lastMessage(), L"VA_VolConvoluteSeparable3D : Separable smoothing needs a weighted kernel");
  EXPECT_EQ(doc->GetActiveSet()->NumLayers(), 2);
  // Inter-volume smoothing needs a second signal layer.
  ui.clear();
  run("System", "Test > Inter-Volume Edge-Constrained Smooth", doc);
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::ConstrainedSmooth : No suitable volume is present or enabled");
}

TEST_F(FilterCommands, SmoothShapeAddsARedRoi) {
  CVol* vol = noisyVolume(1);
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{32, 32, 8, 1},
                         [](int x, int y, int, int) { return x > 5 && x < 20 && y > 5 && y < 20; }, L"/data/roi.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi)});
  ui.answerValues({2.0});
  run("ROI", "Smooth Shape", doc);
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), 3);
  EXPECT_TRUE(set->GetLayerVol(2)->IsROI());
  EXPECT_EQ(set->GetLayer(2)->filter.roiColor, 0x0000FFu);
  EXPECT_EQ(set->GetActive(), 2);
}

TEST_F(FilterCommands, EdgeConstrainedSmoothingKeepsTheLayerActive) {
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(noisyVolume(1))});
  CDrawSet* set = doc->GetActiveSet();
  // Edge noise shown; metric, weights, radii, threshold, default flag, filter, radii.
  ui.answerValues({0, 0, 2, 2, 40, 0, 0, 3, 1});
  run("Volume", "Volume Edge-constrained Smooth", doc);
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetActive(), 0);
  ASSERT_FALSE(ui.prompts.empty());
  EXPECT_EQ(ui.prompts[0][2].text.Trim(), L"5.00");  // the edge noise level, one decimal
}

// The Qt dialogs of the records, offscreen.
class FilterDialogs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "filter_operations_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    TW_InstallRecordDialog();
  }
  static void TearDownTestSuite() { TW_RemoveRecordDialog(); }
};

TEST_F(FilterDialogs, SmoothDialogRangesAndMask) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VA_VOLSMOOTH record{1, 0, 2.0, 1, 0};
  {
    SCOPED_TRACE("cancel without a mask clears the constrain flag only");
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.set(L"Radius (vox)", L"7").cancel();
    EXPECT_FALSE(TW_DlgVolSmooth(&record, false));
    EXPECT_EQ(record.constrainByMask, 0);
    EXPECT_EQ(record.radius, 2.0);
  }
  {
    SCOPED_TRACE("Maximal SI cannot be confirmed");
    const VA_VOLSMOOTH before = record;
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.choose(L"Kernel", 6).ok().cancel();
    EXPECT_FALSE(TW_DlgVolSmooth(&record, true));
    EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0);
    EXPECT_EQ(ui.lastMessage(), L"Kernel : Please enter an integer between 0 and 4.");
  }
  {
    SCOPED_TRACE("OK stores the edits");
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.choose(L"Kernel", 4).set(L"Radius (vox)", L"1.5").check(L"Constrain by mask", true).ok();
    EXPECT_TRUE(TW_DlgVolSmooth(&record, true));
    EXPECT_EQ(record.kernel, 4);
    EXPECT_EQ(record.radius, 1.5);
    EXPECT_EQ(record.constrainByMask, 1);
  }
}

TEST_F(FilterDialogs, ConstrainedSmoothDialog) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  g_IvcsParms = VA_IVCS{};
  const VA_IVCS before = g_IvcsParms;
  {
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.set(L"Regional smooth radius (vox)", L"0").ok().set(L"Final smooth radius (vox)", L"-1").cancel();
    EXPECT_FALSE(TW_DlgIntervolConstrSmooth(L"a", L"b", 4.26));
    EXPECT_EQ(std::memcmp(&before, &g_IvcsParms, sizeof before), 0);
  }
  {
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.set(L"Final smooth radius (vox)", L"-1").check(L"Default edge settings", true).ok();
    EXPECT_TRUE(TW_DlgIntervolConstrSmooth(L"a", L"b", 4.26));
    EXPECT_EQ(g_IvcsParms.finalRadius, -1);
    EXPECT_NEAR(g_IvcsParms.edge.edgeThreshold, 8.6, 1e-12);  // twice the noise rounded to 4.3
  }
}

}  // namespace
