// The filter commands from their menu rows: operands, prompts and dialogs scripted, results as
// layers; the Qt dialogs of their records driven offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <random>
#include <set>

#include "../../tests/OperationsTestKit.h"
#include "../../../files/tests/DicomTestKit.h"
#include "BicalBatch.h"
#include "FilterDialogs.h"
#include "PackedText.h"
#include "RadiomicsOperations.h"
#include "ParameterDialog.h"
#include "RecordDialog.h"
#include "TestFolder.h"
#include "TextureEdgeDialog.h"
#include "HighObj.h"
#include "ScriptedUi.h"
#include "VectorRois.h"
#include "paths/FilePaths.h"

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
  // Edge noise shown; filter and radii asked (the edge settings are the record's).
  g_IvcsParms = VA_IVCS{};
  g_IvcsParms.edge.edgeThreshold = 40;
  ui.answerValues({0, 3, 1});
  run("Volume", "Volume Edge-constrained Smooth", doc);
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetActive(), 0);
  ASSERT_FALSE(ui.prompts.empty());
  EXPECT_EQ(ui.prompts[0][2].text.Trim(), L"5.00");  // the edge noise level, one decimal
}

TEST_F(FilterCommands, N4OfTheViewsTimePointNamedByItsWholeName) {
  // A 4D volume whose second time point carries a left-right field.
  CVol* vol = makeVolume(FRM_REAL, 64, DIM3D{24, 24, 8, 2}, [](int x, int y, int z, int t) {
    const bool inside = (x - 12) * (x - 12) + (y - 12) * (y - 12) < 100 && z > 0 && z < 7;
    return inside ? 100.0 * (t ? 0.7 + 0.6 * x / 23.0 : 1.0) : 0.0;
  });
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  g_N4Parms = VA_N4PARAM{};
  ASSERT_TRUE(set->VolChangeSlice(view, 1, 1, 0, 0));
  for (int run = 0; run < 2; ++run) {
    ui.answerValues({10, 50, 200, 0.1, 0.01, 0});
    this->run("Nonuniformity", "N4 (UPenn implementation)", doc);
  }
  ASSERT_EQ(set->NumLayers(), 3);
  EXPECT_EQ(set->GetLayerVol(1)->name, L"_N4");
  EXPECT_EQ(set->GetLayerVol(2)->name, L"_N4");
  EXPECT_EQ(set->GetActive(), 2);
  // The field of time point 1 divides both: time point 1 flattens, time point 0 gains the inverse tilt.
  const FRAME* out = set->GetLayerVol(1)->frame;
  const double left1 = twk::voxelValue(out, 5, 12, 4, 1), right1 = twk::voxelValue(out, 19, 12, 4, 1);
  const double left0 = twk::voxelValue(out, 5, 12, 4, 0), right0 = twk::voxelValue(out, 19, 12, 4, 0);
  const double tilt = (0.7 + 0.6 * 19 / 23.0) / (0.7 + 0.6 * 5 / 23.0) - 1;
  EXPECT_LT(std::fabs(right1 / left1 - 1), 0.8 * tilt);
  EXPECT_LT(right0, left0);
  // Cancel adds nothing.
  ui.cancelValues();
  run("Nonuniformity", "N4 (UPenn implementation)", doc);
  EXPECT_EQ(set->NumLayers(), 3);
}

// N3 from its row: at time point 0 nothing is asked; at another time point the question comes
// first and No adds nothing; the output-field flag names the layer "_N3_BiasField".
TEST_F(FilterCommands, N3AsksOnlyAwayFromTheFirstTimePoint) {
  CVol* vol = makeVolume(FRM_REAL, 64, DIM3D{24, 24, 8, 2}, [](int x, int y, int z, int) {
    const bool inside = (x - 12) * (x - 12) + (y - 12) * (y - 12) < 100 && z > 0 && z < 7;
    return inside ? 100.0 * (0.7 + 0.6 * x / 23.0) : 0.0;
  });
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  ui.answerValues({200, 20, 1, 0.15, 0.01, 1, 0, 0});
  run("Nonuniformity", "N3 (Ardvale implementation)", doc);
  for (const CString& m : ui.messages) EXPECT_EQ(m.Find(L"Proceed anyway?"), -1) << m.toUtf8();
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, L"vol_N3");
  EXPECT_EQ(set->GetActive(), 1);
  // The left-right ramp loses at least half of its tilt.
  const FRAME* out = set->GetLayerVol(1)->frame;
  const double tilt = (0.7 + 0.6 * 19 / 23.0) / (0.7 + 0.6 * 5 / 23.0) - 1;
  EXPECT_LT(std::fabs(twk::voxelValue(out, 19, 12, 4, 0) / twk::voxelValue(out, 5, 12, 4, 0) - 1), 0.5 * tilt);
  set->SetActive(0);
  ASSERT_TRUE(set->VolChangeSlice(view, 1, 1, 0, 0));
  ui.clear();
  ui.answerMessage(IDNO);
  run("Nonuniformity", "N3 (Ardvale implementation)", doc);
  EXPECT_EQ(ui.lastMessage(), L"Generally a starting timepoint would be specified.\nProceed anyway?");
  EXPECT_EQ(set->NumLayers(), 2);
  ui.answerMessage(IDYES).answerValues({200, 20, 1, 0.15, 0.01, 1, 0, 1});
  run("Nonuniformity", "N3 (Ardvale implementation)", doc);
  ASSERT_EQ(set->NumLayers(), 3);
  EXPECT_EQ(set->GetLayerVol(2)->name, L"vol_N3_BiasField");
  EXPECT_FALSE(ui.pendingAnswers());
}

TEST_F(FilterCommands, NlmAsksForTheFourDVariantOnlyOnFourDVolumes) {
  CDrawDoc* doc3 = docs.open({twk::testkit::makeLayer(noisyVolume(1))});
  g_NlmParms = VA_NLMDENOISE{1, 1, 2, 5.0, 0.8};
  ui.answerValues({1, 1, 2, 5.0, 0.8});
  run("Volume", "Non-Local Means Denoising (NLM)", doc3);
  EXPECT_EQ(doc3->GetActiveSet()->NumLayers(), 2);
  EXPECT_EQ(doc3->GetActiveSet()->GetActive(), 1);
  for (const CString& m : ui.messages) EXPECT_NE(m, L"Volume is 4D. Use the NLM-D variant?");
  CDrawDoc* doc4 = docs.open({twk::testkit::makeLayer(noisyVolume(2))});
  ui.clear();
  ui.answerValues({1, 1, 2, 5.0, 0.8}).answerMessage(IDCANCEL);
  run("Volume", "Non-Local Means Denoising (NLM)", doc4);
  EXPECT_EQ(doc4->GetActiveSet()->NumLayers(), 1);
  EXPECT_EQ(ui.lastMessage(), L"Volume is 4D. Use the NLM-D variant?");
  ui.answerValues({1, 1, 2, 5.0, 0.8}).answerMessage(IDYES);
  run("Volume", "Non-Local Means Denoising (NLM)", doc4);
  EXPECT_EQ(doc4->GetActiveSet()->NumLayers(), 2);
}

TEST_F(FilterCommands, IncoherenceLayerNameAndScheme) {
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(
      makeVolume(FRM_REAL, 64, DIM3D{8, 8, 4, 5}, [](int x, int, int, int t) { return x + 2.0 * t; }, L"/data/lung.nii"))});
  ui.answerValues({0.5});
  run("Workflows", "Lung (MR) > Calculate Layer Voxelwise Incoherence2 Map", doc);
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, L"lung_incogerence2");
  EXPECT_EQ(set->GetLayer(1)->filter.scheme, 1);
}

TEST_F(FilterCommands, TomasiPointsBecomeVectorRois) {
  CVol* vol = makeVolume(FRM_REAL, 64, DIM3D{80, 40, 1, 1}, [](int x, int y, int, int) {
    const int c[3][2] = {{6, 8}, {32, 12}, {56, 6}};
    for (const auto& k : c)
      if (x >= k[0] && x < k[0] + 16 && y >= k[1] && y < k[1] + 16) return 100.0;
    return 0.0;
  });
  vol->spc = SPC{1, 1, 1};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  ui.answerValues({1.5, 5.0, 1.0});
  run("Segment", "Feature point detection > Tomasi Feature points", doc);
  int count = 0;
  CDrawSet** vrois = TW_CollectVectRoiObjects(doc->GetActiveSet(), &count);
  EXPECT_EQ(count, 12);
  for (int i = 0; i < count; ++i) {
    const HIGHOBJ* r = vrois[i]->vroi;
    EXPECT_EQ(r->x1 - r->x0, 4);
    EXPECT_EQ(r->z1 - r->z0, 4);
    EXPECT_EQ(r->t0, 0);
    EXPECT_EQ(r->t1, 0);
  }
  pf_free(&vrois);
}

TEST_F(FilterCommands, RadiomicsUndefinedFlowAndSilentRefusal) {
  CVol* vol = noisyVolume(1);
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{32, 32, 8, 1}, [](int x, int y, int, int) { return x > 4 && y > 4 && x < 20; },
                         L"/data/tumour.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi)});
  doc->GetActiveSet()->SetActive(0);
  g_Radiom2DReal = VA_PARM_RADIOM2D{};
  // Silent: the undefined discretisation refuses, nothing opens, nothing is written.
  ui.clear();
  EXPECT_FALSE(twk::filterops::Radiomics2Dfeatures(*doc->GetActiveSet(), true, Documents::viewOf(doc), false));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(g_Radiom2DReal.discretisation.binWidth, 1e60);
  // Modal: OK with "Undefined" stops, the 3D ROI statistics over the ROI define it (its clip,
  // method, model and segments asked headless; range: the ROI's values), a second OK closes.
  double low = 1e300, high = -1e300;
  for (int z = 0; z < 8; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        if (twk::roiBit(roi->frame, x, y, z, 0)) {
          low = std::min(low, twk::voxelValue(vol->frame, x, y, z, 0));
          high = std::max(high, twk::voxelValue(vol->frame, x, y, z, 0));
        }
  const std::vector<double> fields{1, 1, 1, 1, 1, 1, 0, 0, 1, 0, 1, 0};
  ui.answerValues(fields, {L"1", L"Undefined"}).answerValues({1, 0, 0, 2});
  ui.answerValues(fields, {L"1", L"Undefined"});
  run("Measure", "Radiomics 2D features - Active ROI", doc);
  const ROISTATPRESET& disc = g_Radiom2DReal.discretisation;
  EXPECT_DOUBLE_EQ(disc.rangeLow, low);
  EXPECT_DOUBLE_EQ(disc.rangeHigh, high);
  EXPECT_GT(disc.binWidth, 0);
  EXPECT_LT(disc.binWidth, high - low);
  EXPECT_EQ(disc.clip, 1);
  bool stopped = false, statistics = false;
  for (const CString& m : ui.messages) {
    stopped |= m == L"Histogram-based discretization is undefined.";
    statistics |= m.Find(L"ROI Stats3D > [") == 0 && m.Find(L"over [tumour]") != -1;
  }
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(statistics);
  EXPECT_FALSE(ui.pendingAnswers());
  // "Change discretization" with the statistics cancelled keeps the discretisation.
  const ROISTATPRESET kept = disc;
  ui.answerValues({1, 1, 1, 1, 1, 1, 0, 0, 1, 0, 1, 1}, {L"1", L""}).cancelValues();
  run("Measure", "Radiomics 2D features - Active ROI", doc);
  EXPECT_EQ(std::memcmp(&kept, &g_Radiom2DReal.discretisation, sizeof kept), 0);
  EXPECT_FALSE(ui.pendingAnswers());
  // The table went to the clipboard (only): one row named after the ROI.
  char* clip = PR_LoadStrFromClipboard();
  ASSERT_TRUE(clip);
  EXPECT_NE(std::string(clip).find("\ntumour\t"), std::string::npos);
  pf_free(&clip);
}

// "Active layer: Project to single slice volume": a sagittal view of a 30 x 24 x 10 volume gives a
// 24 x 10 single-slice document holding exactly the values of the sagittal slice shown; the
// layer keeps the operand's display filter; a second snapshot under the same name is refused.
TEST_F(FilterCommands, SnapshotOfASagittalViewHasTheViewsSize) {
  const int slice = 7;
  CVol* vol = makeVolume(FRM_INT, 32, DIM3D{30, 24, 10, 1},
                         [](int x, int y, int z, int) { return 10000 * z + 100 * y + x; });
  vol->spc = SPC{1, 1, 1};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  VA_VOLPROJ* proj = set->FindViewProjection(view);
  ASSERT_TRUE(proj);
  proj->rotation[0] = -90, proj->rotation[1] = 0, proj->rotation[2] = -90;  // sagittal
  proj->slice = slice;
  set->GetLayer(0)->filter.level = 1234;
  const int before = Documents::openCount();
  run("Transform", "Active layer: Project to single slice volume", doc);
  const auto opened = Documents::openedAfter(before);
  ASSERT_EQ(opened.size(), 1u) << ui.lastMessage().toUtf8();
  CDrawSet* made = opened[0]->GetActiveSet();
  ASSERT_EQ(made->NumLayers(), 1);
  const CVol* snap = made->GetLayerVol(0);
  EXPECT_EQ(snap->W(), 24);
  EXPECT_EQ(snap->H(), 10);
  EXPECT_EQ(snap->D(), 1);
  EXPECT_EQ(PR_GetFileTitle(snap->name), L"snapshot");
  EXPECT_EQ(made->GetLayer(0)->filter.level, 1234);
  EXPECT_TRUE(opened[0]->IsModified());
  // The pixels are one sagittal plane of the volume (one x for all), each (y, z) once.
  std::set<int> values, expected;
  int x = -1;
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 24; ++c) {
      const int v = int(twk::voxelValue(snap->frame, c, r, 0, 0));
      values.insert(v - v % 100);
      if (x < 0) x = v % 100;
      EXPECT_EQ(v % 100, x);
    }
  for (int z = 0; z < 10; ++z)
    for (int y = 0; y < 24; ++y) expected.insert(10000 * z + 100 * y);
  EXPECT_EQ(values, expected);
  // The name is taken now.
  ui.clear();
  run("Transform", "Active layer: Project to single slice volume", doc);
  EXPECT_EQ(Documents::openedAfter(before).size(), 1u);
  EXPECT_FALSE(ui.messages.empty());
  // Slices twice as thick: the picture keeps its proportions at the finest spacing (1 mm).
  opened[0]->SetPathName(L"/data/first_snapshot.twk");  // frees the name
  CVol* second = makeVolume(FRM_INT, 16, DIM3D{30, 24, 10, 1}, [](int, int y, int, int) { return y; });
  CDrawDoc* other = docs.open({twk::testkit::makeLayer(second)}, L"/data/thick.twk");
  VA_VOLPROJ* p2 = other->GetActiveSet()->FindViewProjection(Documents::viewOf(other));
  p2->rotation[0] = -90, p2->rotation[2] = -90;
  const int count = Documents::openCount();
  run("Transform", "Active layer: Project to single slice volume", other);
  const auto again = Documents::openedAfter(count);
  ASSERT_EQ(again.size(), 1u) << ui.lastMessage().toUtf8();
  const CVol* tall = again[0]->GetActiveSet()->GetLayerVol(0);
  EXPECT_EQ(tall->W(), 24);
  EXPECT_EQ(tall->H(), 20);
  EXPECT_EQ(tall->spc.x, 1.0);
  EXPECT_EQ(tall->spc.y, 1.0);
}

TEST_F(FilterCommands, NtupleFileReadsBackWithNumpy) {
  CVol* a = makeVolume(FRM_REAL, 64, DIM3D{4, 3, 2, 1}, [](int x, int y, int z, int) { return x + 10 * y + 100 * z; },
                       L"/data/ktrans.nii");
  CVol* b = makeVolume(FRM_REAL, 64, DIM3D{4, 3, 2, 1}, [](int x, int, int, int) { return x == 2 ? 1e60 : 0.5 * x; },
                       L"/data/ve.nii");
  CVol* i = makeVolume(FRM_INT, 16, DIM3D{4, 3, 2, 1}, [](int, int, int, int) { return 3; }, L"/data/int.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(i), twk::testkit::makeLayer(a)});
  run("Dynamic Analysis", "Output Parametric Map N-tuple file", doc);
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::OutputParamMapNtupleFile : At least two REAL volumes are required");
  doc->GetActiveSet()->AppendLayer(twk::testkit::makeLayer(b));
  const std::string path = twk::testing::testFile("maps.txt");
  std::remove(path.c_str());  // a file from an earlier run would bring the overwrite question
  ui.answerSaveFile(CString::fromUtf8(path)).answerMessage(IDYES);
  run("Dynamic Analysis", "Output Parametric Map N-tuple file", doc);
  const std::vector<double> got = numpyReference({0}, {1}, "float",
      "np.loadtxt('" + path + "', skiprows=1).ravel()");
  std::vector<double> expected;
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        for (double v : {double(x), double(y), double(z), x + 10.0 * y + 100 * z, x == 2 ? std::nan("") : 0.5 * x})
          expected.push_back(v);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t k = 0; k < got.size(); ++k)
    if (std::isnan(expected[k])) EXPECT_TRUE(std::isnan(got[k])) << k;
    else EXPECT_EQ(got[k], expected[k]) << k;
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
    SCOPED_TRACE("Default resets the edge settings at once; Cancel keeps them");
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    g_IvcsParms.edge = VA_URALEDGE{1, 2, 5.0, 8.0, 99.0};
    script.press(L"Default").set(L"Final smooth radius (vox)", L"-1").cancel();
    EXPECT_FALSE(TW_DlgIntervolConstrSmooth(L"a", L"b", 4.26));
    EXPECT_EQ(g_IvcsParms.finalRadius, before.finalRadius);
    EXPECT_EQ(g_IvcsParms.edge.distanceMetric, 0);
    EXPECT_EQ(g_IvcsParms.edge.lowRadius, 3.0);
    EXPECT_NEAR(g_IvcsParms.edge.edgeThreshold, 8.6, 1e-12);  // twice the noise rounded to 4.3
  }
  {
    SCOPED_TRACE("Edge Settings edits the record's edge settings (kept on Cancel); OK stores the radii");
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.press(L"Edge Settings").set(L"Edge signal threshold", L"25").ok().cancel();
    EXPECT_FALSE(TW_DlgIntervolConstrSmooth(L"a", L"b", 4.26));
    EXPECT_EQ(g_IvcsParms.edge.edgeThreshold, 25.0);
    script.set(L"Final smooth radius (vox)", L"-1").ok();
    EXPECT_TRUE(TW_DlgIntervolConstrSmooth(L"a", L"b", 4.26));
    EXPECT_EQ(g_IvcsParms.finalRadius, -1);
    EXPECT_EQ(g_IvcsParms.edge.edgeThreshold, 25.0);
  }
}

TEST_F(FilterDialogs, BiasFieldAndDenoisingDialogs) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  {
    SCOPED_TRACE("N4: a noise of 0 is refused, Cancel keeps the record byte for byte");
    VA_N4PARAM record;
    const VA_N4PARAM before = record;
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.set(L"Noise [0-1.0]", L"0").ok().cancel();
    EXPECT_FALSE(TW_DlgAntsN4(&record));
    EXPECT_EQ(std::memcmp(&before, &record, sizeof record), 0);
    EXPECT_EQ(ui.lastMessage(), L"Noise [0-1.0] : Please enter a number between 1e-06 and 1.");
  }
  {
    SCOPED_TRACE("NLM: the TSM variant greys the radii and stores them unchanged; variant 3 refuses");
    VA_NLMDENOISE record{0, 7, 9, 1.0, 1.0};
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.set(L"Noise sigma", L"3").ok();
    EXPECT_TRUE(TW_DlgNLMdenoise(false, 1, &record, nullptr));
    EXPECT_EQ(record.patchRadius, 7);
    EXPECT_EQ(record.searchRadius, 9);
    EXPECT_EQ(record.sigma, 3.0);
    EXPECT_FALSE(TW_DlgNLMdenoise(false, 3, &record, nullptr));
    EXPECT_EQ(ui.lastMessage(), L"CDlgNLMdenoise::OnInitDialog : Invalid dialog variant");
  }
  {
    SCOPED_TRACE("NLM: Get noise shows the operand's difference noise; a failed estimate keeps the sigma");
    std::unique_ptr<CVol> noisy(noisyVolume());
    double expected = 0;
    ASSERT_TRUE(VA_VolDiffNoise2D(noisy->frame, -1, &expected, false));
    EXPECT_GT(expected, 4.0);
    EXPECT_LT(expected, 25.0);
    VA_NLMDENOISE record{0, 1, 2, 1.0, 1.0};
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.press(L"Get noise").ok();
    EXPECT_TRUE(TW_DlgNLMdenoise(false, 0, &record, noisy.get()));
    EXPECT_EQ(record.sigma, expected);
    std::unique_ptr<CVol> flat(makeVolume(FRM_REAL, 64, DIM3D{16, 16, 4, 1}, [](int, int, int, int) { return 7.0; }));
    ui.clear();
    script.press(L"Get noise").ok();
    EXPECT_TRUE(TW_DlgNLMdenoise(false, 0, &record, flat.get()));
    EXPECT_EQ(record.sigma, expected);
    EXPECT_FALSE(ui.messages.empty());
  }
  {
    SCOPED_TRACE("BiCal: the background transition loses its fraction");
    VA_BICALZF record;
    record.backgroundTransition = 12.75;
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.choose(L"Region separation", 2).set(L"Gradient inclusion [0,1]", L"0.5").ok();
    EXPECT_TRUE(TW_DlgBicalZF(false, nullptr, &record));
    EXPECT_EQ(record.backgroundTransition, 12.0);
    EXPECT_EQ(record.separation, 2);
    EXPECT_EQ(record.gradientInclusion, 0.5);
  }
}

}  // namespace

// The BiCal folder batch on a pydicom tree: src/p/q holds one series, src/r two series of the same
// description. The NIfTI outputs are mirrored below the target and read by nibabel, a second run
// keeps the first run's files, the DICOM outputs are read by dcmdump, equal and nested folders
// are refused, and Esc after the first volume keeps it.
namespace {

namespace fs = std::filesystem;

// Writes the tree with the DICOM test fixtures' pydicom helpers: 24 x 24 x 8 uint16 slices of a
// ball of 200 times a left-right field of 0.75 to 1.25, noise sigma 3, background 0.
void writeBatchTree(const fs::path& root) {
  const std::string script = R"(
import sys, numpy as np
sys.path.insert(0, sys.argv[2])
from dicom_fixtures import base, pixels, place, save, MR
from pydicom.uid import generate_uid
root = sys.argv[1]
rng = np.random.default_rng(5)
z, y, x = np.mgrid[:8, :24, :24]
ball = ((x - 11.5)**2 + (y - 11.5)**2 + ((z - 3.5) * 2)**2) < 10**2
study = (generate_uid(), "20240101", "Batch", generate_uid())
for folder, number in (("p/q", 1), ("r", 2), ("r", 3)):
    series = generate_uid()
    field = 0.75 + 0.5 * x / 23.0
    vol = np.where(ball, 200 * field + rng.normal(0, 3, ball.shape), 0).clip(0, None).round()
    for k in range(8):
        ds = base(MR, "MR", ("Batch^Case", "B1", "F"), study, series, number, "T1")
        place(ds, float(k), instance=k + 1)
        pixels(ds, vol[k])
        save(ds, f"{root}/{folder}/s{number}_{k}.dcm")
)";
  const fs::path file = root.parent_path() / "batch_tree.py";
  std::ofstream(file) << script;
  int status = 0;
  const std::string out = twk::dicomtest::run("/usr/bin/python3 " + file.string() + " " + root.string() + " " + TWK_SOURCE_DIR +
                                    "/app/files/tests 2>&1",
                                &status);
  ASSERT_EQ(status, 0) << out;
}

std::vector<fs::path> filesBelow(const fs::path& root, const std::string& extension) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file() && it->path().extension() == extension) out.push_back(fs::relative(it->path(), root));
  std::sort(out.begin(), out.end());
  return out;
}

const fs::path* g_escWatch = nullptr;
bool escOnceAVolumeIsWritten(const wchar_t*, bool) {
  if (g_escWatch && !filesBelow(*g_escWatch, ".nii").empty()) PR_SetInWorkProcess(false);
  return true;
}

}  // namespace

TEST_F(FilterDialogs, ExplorersAndTheSingleScaleGradient) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitFilterDefaults();
  {
    SCOPED_TRACE("N4 Explorer: its N4 parameters stay only when the explorer ends with OK");
    const VA_N4EXPLR before = g_N4ExplrParms;
    EXPECT_EQ(before.n4.iterations, 50);
    EXPECT_EQ(before.n4.splineDistance, 0.0);
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    // The embedded record starts with zeros the N4 dialog's ranges refuse: they are typed in.
    auto n4Values = [&script] {
      script.press(L"N4 Parameters").set(L"Number of iterations", L"77").set(L"Spline distance (mm)", L"150");
      script.set(L"FWHM", L"0.15").set(L"Noise [0-1.0]", L"0.01").ok();
    };
    n4Values();
    script.cancel();
    EXPECT_FALSE(TW_DlgN4Explr());
    EXPECT_EQ(std::memcmp(&before, &g_N4ExplrParms, sizeof before), 0);
    script.set(L"Min spline distance (mm)", L"0").ok().cancel();
    EXPECT_FALSE(TW_DlgN4Explr());
    EXPECT_EQ(ui.lastMessage(), L"Min spline distance (mm) : Please enter a number between 1 and 1000.");
    n4Values();
    script.set(L"Min FWHM", L"0.3").set(L"Max FWHM", L"0.2").set(L"Noise grid", L"4").ok();
    EXPECT_TRUE(TW_DlgN4Explr());
    EXPECT_EQ(g_N4ExplrParms.n4.iterations, 77);
    EXPECT_EQ(g_N4ExplrParms.n4.splineDistance, 150.0);
    EXPECT_EQ(g_N4ExplrParms.minFwhm, 0.3);  // stored as entered, not ordered
    EXPECT_EQ(g_N4ExplrParms.maxFwhm, 0.2);
    EXPECT_EQ(g_N4ExplrParms.noiseGrid, 4);
  }
  {
    SCOPED_TRACE("BiCal Explorer: integer pairs ordered on opening, edge radii as they are");
    VA_BICALEXPLR record;
    record.minSmoothPower = 50, record.maxSmoothPower = 10, record.minDegree = 12, record.maxDegree = 5;
    record.minEdgeRadius = 5, record.maxEdgeRadius = 2;
    const VA_BICALEXPLR before = record;
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.press(L"BiCal parameters").choose(L"Basis functions", 3).ok().cancel();
    EXPECT_FALSE(TW_DlgBicalExplorer(&record));
    EXPECT_EQ(std::memcmp(&before, &record, sizeof before), 0);
    script.press(L"BiCal parameters").choose(L"Basis functions", 3).ok().ok();
    EXPECT_TRUE(TW_DlgBicalExplorer(&record));
    EXPECT_EQ(record.bical.basis, 3);
    EXPECT_EQ(record.minSmoothPower, 10);
    EXPECT_EQ(record.maxSmoothPower, 50);
    EXPECT_EQ(record.minDegree, 5);
    EXPECT_EQ(record.maxDegree, 12);
    EXPECT_EQ(record.minEdgeRadius, 5.0);
    EXPECT_EQ(record.maxEdgeRadius, 2.0);
  }
  {
    SCOPED_TRACE("Single-scale gradient: one radius for both; Cancel and a refused radius keep the record");
    VA_URALGRAD record{1, 2, 1, 3.0, 2.0, 5.0};
    const VA_URALGRAD before = record;
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.set(L"Radius (mm)", L"1001").ok().cancel();
    EXPECT_FALSE(TW_DlgTextrGradSS(&record));
    EXPECT_EQ(std::memcmp(&before, &record, sizeof before), 0);
    script.set(L"Radius (mm)", L"3.5").choose(L"Magnitude measure", 2).ok();
    EXPECT_TRUE(TW_DlgTextrGradSS(&record));
    EXPECT_EQ(record.lowRadius, 3.5);
    EXPECT_EQ(record.highRadius, 3.5);
    EXPECT_EQ(record.magnitude, 2);
    EXPECT_EQ(record.metric, 1);
  }
  {
    SCOPED_TRACE("BiCal batch: its BiCal parameters button edits the record at once");
    BICALBATCHPARM batch = g_BicalBatchParms;
    twk::DialogScript script;
    twk::ScopedDialogScript scripted(script);
    script.press(L"BiCal parameters").choose(L"Basis functions", 4).ok().cancel();
    EXPECT_FALSE(TW_DlgBicalBatch(&batch));
    EXPECT_EQ(batch.bical.basis, 4);
  }
  TW_InitFilterDefaults();
}

TEST_F(FilterCommands, BicalBatchMirrorsTheTreeAndKeepsWhatIsThere) {
  const fs::path root = twk::testing::testFolder() / "bical_batch";
  fs::remove_all(root);
  const fs::path src = root / "src", nii = root / "nii", dcm = root / "dcm";
  fs::create_directories(src);
  fs::create_directories(nii);
  fs::create_directories(dcm);
  writeBatchTree(src);
  BICALBATCHPARM record = g_BicalBatchParms;
  record.bical.fieldPrecision = 5;  // the phantom is 18 mm wide: a field of degree 3
  auto folders = [&](const fs::path& source, const fs::path& target, int format) {
    twk::setPackedText(record.sourceFolder, 512, CString::fromUtf8(source.string()));
    twk::setPackedText(record.targetFolder, 512, CString::fromUtf8(target.string()));
    record.format = format;
  };

  // NIfTI: p/q/T1.nii, r/T1.nii and r/T1_2.nii (the second series of r does not overwrite the first).
  folders(src, nii, 2);
  ASSERT_TRUE(PerformBicalBatch(&record)) << ui.lastMessage().toUtf8();
  const std::vector<fs::path> first = filesBelow(nii, ".nii");
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].parent_path(), fs::path("p/q"));
  EXPECT_EQ(first[1].parent_path(), fs::path("r"));
  EXPECT_EQ(first[2].parent_path(), fs::path("r"));
  EXPECT_NE(first[1].filename(), first[2].filename());
  EXPECT_TRUE(filesBelow(nii, ".dcm").empty());  // nothing of the sources is copied into the target
  // nibabel: the shape, and the tilt of the ball's left against its right half gone.
  const std::string check = twk::dicomtest::run("/usr/bin/python3 -c \"import sys, nibabel as nib, numpy as np\n"
                                  "for p in sys.argv[1:]:\n"
                                  "    a = np.asanyarray(nib.load(p).dataobj).astype(float)\n"
                                  "    m = a > 50\n"
                                  "    l = a[:12][m[:12]].mean(); r = a[12:][m[12:]].mean()\n"
                                  "    print(a.shape, round(r / l, 3))\" " +
                                  (nii / first[0]).string() + " " + (nii / first[1]).string() + " 2>&1");
  double ratio = 0;
  ASSERT_EQ(std::sscanf(check.c_str(), "(24, 24, 8) %lf", &ratio), 1) << check;
  EXPECT_LT(std::fabs(ratio - 1), 0.06) << check;  // the source's halves differ by 18 %
  // A second run writes new names and leaves the first run's files as they were.
  const auto stamp = fs::last_write_time(nii / first[0]);
  ASSERT_TRUE(PerformBicalBatch(&record));
  EXPECT_EQ(filesBelow(nii, ".nii").size(), 6u);
  EXPECT_EQ(fs::last_write_time(nii / first[0]), stamp);

  // DICOM: one series "vol" per volume, read by dcmdump.
  folders(src, dcm, 0);
  ASSERT_TRUE(PerformBicalBatch(&record)) << ui.lastMessage().toUtf8();
  const std::vector<fs::path> slices = filesBelow(dcm, ".dcm");
  EXPECT_EQ(slices.size(), 24u);
  int status = 0;
  const std::string dump = twk::dicomtest::run("dcmdump +P 0028,0100 +P 0020,000e " + (dcm / "p/q/vol_t0000_n000000.dcm").string() + " 2>&1", &status);
  EXPECT_EQ(status, 0) << dump;
  EXPECT_NE(dump.find("BitsAllocated"), std::string::npos) << dump;
  EXPECT_TRUE(fs::exists(dcm / "r/vol_2_t0000_n000000.dcm"));

  // Refusals, nothing written: no target, a target inside the source, the same folder spelt
  // differently, a missing target.
  const struct {
    fs::path source, target;
    const wchar_t* message;
  } refusals[] = {{src, "", L"PerformBicalBatch : Target folder should be specified"},
                  {src, src / "p", L"PerformBicalBatch : Source and Target folders should be different"},
                  {src / "r", src, L"PerformBicalBatch : Source and Target folders should be different"},
                  {src, src / "p" / "..", L"PerformBicalBatch : Source and Target folders should be different"},
                  {src, root / "missing", L"PerformBicalBatch : Specified folder does not exist"}};
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.target.string());
    folders(r.source, r.target, 2);
    ui.clear();
    EXPECT_FALSE(PerformBicalBatch(&record));
    EXPECT_EQ(ui.lastMessage(), r.message);
  }
  EXPECT_TRUE(filesBelow(src, ".nii").empty());

  // From the Applications menu: Cancel keeps the record byte for byte; OK stores the folders and
  // the format, then runs the batch.
  const int row = rowId("Applications", "BiCal Batch Processing");
  ASSERT_TRUE(TW_CommandEnabled(row, nullptr));
  const fs::path menu = root / "menu";
  fs::create_directories(menu);
  const BICALBATCHPARM before = g_BicalBatchParms;
  ui.clear();
  ui.cancelValues();
  TW_DispatchCommand(row, nullptr);
  EXPECT_EQ(std::memcmp(&before, &g_BicalBatchParms, sizeof before), 0);
  ui.answerValues({0, 2}, {CString::fromUtf8(src.string()), CString::fromUtf8(menu.string())});
  TW_DispatchCommand(row, nullptr);
  EXPECT_FALSE(ui.pendingAnswers());
  EXPECT_EQ(twk::packedText(g_BicalBatchParms.targetFolder, 512), CString::fromUtf8(menu.string()));
  EXPECT_EQ(g_BicalBatchParms.format, 2);
  EXPECT_EQ(filesBelow(menu, ".nii").size(), 3u);
  TW_InitBicalBatchDefaults();

  // Esc once the first volume is written: false, no message, that volume kept.
  const fs::path stopped = root / "stopped";
  fs::create_directories(stopped);
  folders(src, stopped, 2);
  MSGBLOCK block;
  block.showMessage = escOnceAVolumeIsWritten;
  PR_InitFrameFunctions(&block);
  g_escWatch = &stopped;
  ui.clear();
  const bool finished = PerformBicalBatch(&record);
  g_escWatch = nullptr;
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
  EXPECT_FALSE(finished);
  EXPECT_TRUE(ui.messages.empty()) << ui.lastMessage().toUtf8();
  const std::vector<fs::path> kept = filesBelow(stopped, ".nii");
  ASSERT_GE(kept.size(), 1u);
  EXPECT_LT(kept.size(), 3u);
  fs::remove_all(root);
}
