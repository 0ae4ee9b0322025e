// The voxel-value and layer operations of the view's commands against numpy and scikit-image on
// small fixtures: the prompts they ask, the undo records they leave, what Cancel keeps, and the
// set a command acts on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "ValueOperations.h"
#include "ops/VoxelValues.h"

using namespace twk::optest;

namespace {

// 16-bit voxels 3 * (x + 4y + 16z) + 7t + 2 of a 4 x 4 x 2 x T volume.
CVol* ramp(int T = 1, const wchar_t* name = L"/data/ramp.nii") {
  return makeVolume(FRM_INT, 16, DIM3D{4, 4, 2, T},
                    [](int x, int y, int z, int t) { return 3.0 * (x + 4 * y + 16 * z) + 7 * t + 2; }, name);
}

std::vector<int> shapeOf(const FRAME* f) { return {f->dim.t, f->dim.d, f->dim.h, f->dim.w}; }

CString text(double v) {
  CString s;
  s.Format(L"%.17g", v);
  return s;
}

}  // namespace

TEST(ValueOperations, ScaleToIntervalEqualsNumpyAndUndoesBitForBit) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const struct {
    double a, b;
  } cases[] = {{0, 100}, {10, 1000.5}, {-50, 50}, {200, 200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a);
    CDrawDoc* doc = docs.open({twk::testkit::makeLayer(ramp(2))});
    CDrawSet* set = doc->GetActiveSet();
    CVol* vol = set->GetBaseVol();
    const std::vector<double> before = voxels(vol->frame);
    ui.clear();
    ui.answerValuesText({text(c.a), text(c.b)});
    twk::ops::ScaleToInterval(*set);
    EXPECT_EQ(ui.messages.front(), L"Specify Signal Range");
    EXPECT_EQ(ui.prompts[0][0].label, L"Min Value");
    EXPECT_EQ(std::wcstod(ui.prompts[0][0].text, nullptr), 2.0);    // the volume's minimum over all time points
    EXPECT_EQ(std::wcstod(ui.prompts[0][1].text, nullptr), 102.0);  // and its maximum
    const std::vector<double> expected = numpyReference(
        before, shapeOf(vol->frame), "float64",
        "np.clip(np.floor(np.clip((" + std::to_string(c.b) + "-" + std::to_string(c.a) + ")/(102-2)*a + (" +
            std::to_string(c.b) + " - (" + std::to_string(c.b) + "-" + std::to_string(c.a) + ")/(102-2)*102), " +
            std::to_string(c.a) + ", " + std::to_string(c.b) + ") + 0.5), 0, 65535)");
    ASSERT_EQ(expected.size(), before.size());
    EXPECT_EQ(voxels(vol->frame), expected);
    EXPECT_TRUE(doc->IsModified());
    ASSERT_EQ(doc->UndoCount(), 1);
    ASSERT_TRUE(doc->Undo());
    EXPECT_EQ(voxels(vol->frame), before);
    docs.close(doc);
  }
}

TEST(ValueOperations, ConstantVolumesCancelAndBadRanges) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(makeVolume(FRM_REAL, 64, DIM3D{3, 3, 1, 1}, [](int, int, int, int) {
    return 5.0;
  }))});
  CDrawSet* set = doc->GetActiveSet();
  CVol* vol = set->GetBaseVol();
  // A constant volume: slope 1, intercept b - M, clamped.
  ui.answerValuesText({L"0", L"2"});
  twk::ops::ScaleToInterval(*set);
  EXPECT_EQ(voxels(vol->frame), std::vector<double>(9, 2.0));
  // Cancel: voxels and the undo list as they were.
  const int undo = doc->UndoCount();
  ui.cancelValues();
  twk::ops::ScaleToInterval(*set);
  EXPECT_EQ(doc->UndoCount(), undo);
  // A minimum above the maximum is refused with its message.
  ui.clear();
  ui.answerValuesText({L"3", L"1"});
  twk::ops::ScaleToInterval(*set);
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::ScaleToInterval : Min Value must not be above Max Value");
  EXPECT_EQ(doc->UndoCount(), undo);
  EXPECT_EQ(voxels(vol->frame), std::vector<double>(9, 2.0));
}

TEST(ValueOperations, ScaleToIntervalActsOnTheActiveSetOfTheView) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int id = rowId("Volume", "Voxel Value Conversion > Scale to Interval");
  ASSERT_TRUE(TW_RowAvailable(TW_FindCommandRow(id)));
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(ramp(1, L"/data/first.nii"))});
  CDrawSet* first = doc->GetActiveSet();
  CDrawSet* second = twk::testkit::addSet(doc, {twk::testkit::makeLayer(ramp(1, L"/data/second.nii"))});
  CDrawView* view = Documents::viewOf(doc);
  const struct {
    const char* what;
    std::vector<CDrawObj*> selection;
    CDrawSet* scaled;
  } cases[] = {{"the selected second set", {second}, second},
               {"two selected: the first", {first, second}, first},
               {"none selected: the first", {}, first}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<double> a = voxels(first->GetBaseVol()->frame), b = voxels(second->GetBaseVol()->frame);
    doc->SetSelection(c.selection);
    ui.answerValuesText({L"0", L"1"});
    EXPECT_TRUE(TW_DispatchCommand(id, view));
    EXPECT_EQ(voxels(first->GetBaseVol()->frame) != a, c.scaled == first);
    EXPECT_EQ(voxels(second->GetBaseVol()->frame) != b, c.scaled == second);
    doc->Undo();
  }
  // A document without a volume set: the command runs and changes nothing, asking nothing.
  CDrawDoc empty;
  CountingView emptyView;
  empty.AddView(&emptyView);
  ui.clear();
  EXPECT_TRUE(TW_DispatchCommand(id, &emptyView));
  EXPECT_TRUE(ui.messages.empty());
  empty.RemoveView(&emptyView);
}

TEST(ValueOperations, ReplaceSignalValueIsUndoableAndAsksOverItsRoi) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = ramp();
  const std::vector<double> before = voxels(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  twk::ops::ReplaceValueRecord last;
  // Without an ROI: the whole volume, the title alone.
  ui.answerValuesText({L"5", L"40000"});
  EXPECT_TRUE(twk::ops::ReplaceSignalValue(*set, last));
  EXPECT_EQ(ui.messages.front(), L"Specify Value Replacement");
  EXPECT_EQ(voxels(vol->frame), numpyReference(before, shapeOf(vol->frame), "float64", "np.where(a == 5, 40000, a)"));
  EXPECT_TRUE(doc->IsModified());
  ASSERT_EQ(doc->UndoCount(), 1);
  doc->Undo();
  EXPECT_EQ(voxels(vol->frame), before);
  // With an ROI (x == y): only inside it, and the title names the ROI; the last values are offered.
  set->AppendLayer(twk::testkit::makeLayer(makeVolume(FRM_ROI, 1, DIM3D{4, 4, 2, 1},
                                                      [](int x, int y, int, int) { return x == y ? 1 : 0; },
                                                      L"/data/diagonal.im")));
  ui.clear();
  ui.answerValuesText({L"17", L"1"});
  EXPECT_TRUE(twk::ops::ReplaceSignalValue(*set, last));
  EXPECT_EQ(ui.messages.front(), L"Specify Value Replacement over <diagonal.im>");
  EXPECT_EQ(std::wcstod(ui.prompts[0][0].text, nullptr), 5.0);
  EXPECT_EQ(std::wcstod(ui.prompts[0][1].text, nullptr), 40000.0);
  std::vector<double> expected = before;
  for (size_t i = 0; i < expected.size(); ++i) {
    const int x = int(i % 4), y = int(i / 4 % 4);
    if (x == y && expected[i] == 17) expected[i] = 1;
  }
  EXPECT_NE(expected, before);  // the fixture has a 17 on the diagonal
  EXPECT_EQ(voxels(vol->frame), expected);
  // A replacement the voxels cannot hold: named, nothing changed.
  ui.clear();
  ui.answerValuesText({L"2", L"-1"});
  EXPECT_FALSE(twk::ops::ReplaceSignalValue(*set, last));
  EXPECT_EQ(ui.lastMessage(), L"VA_VolReplaceValue : The replacement value cannot be stored in the volume's voxels");
  EXPECT_EQ(voxels(vol->frame), expected);
}

// The menu command keeps the values the user last gave for the program's run: the next run's
// prompt starts from them.
TEST(ValueOperations, ReplaceSignalValueCommandOffersTheLastValues) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(ramp())});
  CDrawView* view = Documents::viewOf(doc);
  const int id = rowId("Volume", "Voxel Value Conversion > Replace Signal Value over ROI");
  ui.answerValuesText({L"5", L"40000"});
  ASSERT_TRUE(TW_DispatchCommand(id, view));
  ASSERT_EQ(ui.prompts.size(), 1u);
  ui.clear();
  ui.answerValuesText({L"6", L"7"});
  ASSERT_TRUE(TW_DispatchCommand(id, view));
  ASSERT_EQ(ui.prompts.size(), 1u);
  EXPECT_EQ(std::wcstod(ui.prompts[0][0].text, nullptr), 5.0);
  EXPECT_EQ(std::wcstod(ui.prompts[0][1].text, nullptr), 40000.0);
}

TEST(ValueOperations, VoidVoxelsComeAndGoWithUndo) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = ramp();
  const std::vector<double> before = voxels(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  ui.answerValues({14});
  EXPECT_TRUE(twk::ops::MakeSignalVoid(*set, view));
  EXPECT_EQ(ui.prompts[0][0].label, L"Signal to become Transparent");
  // 16-bit voxels cannot mark a void: the layer now holds 32 bits, the 14 marked void.
  EXPECT_EQ(vol->frame->bpv, 32);
  EXPECT_EQ(voxels(vol->frame),
            numpyReference(before, shapeOf(vol->frame), "float64", "np.where(a == 14, 16777215, a)"));
  // Cancel in the fill prompt keeps everything.
  const int undo = doc->UndoCount();
  ui.cancelValues();
  EXPECT_FALSE(twk::ops::ChangeVoidToSignal(*set));
  EXPECT_EQ(doc->UndoCount(), undo);
  ui.answerValues({1000});
  EXPECT_TRUE(twk::ops::ChangeVoidToSignal(*set));
  EXPECT_EQ(ui.prompts.back()[0].label, L"New value for VOID voxels");
  EXPECT_EQ(voxels(vol->frame), numpyReference(before, shapeOf(vol->frame), "float64", "np.where(a == 14, 1000, a)"));
  // Two undos give the original 16-bit frame bit for bit.
  ASSERT_TRUE(doc->Undo());
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(vol->frame->bpv, 16);
  EXPECT_EQ(voxels(vol->frame), before);
}

TEST(ValueOperations, CopyTimepointChecksItsTarget) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = ramp(3);
  const std::vector<double> before = voxels(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  set->FindViewProjection(view)->timeIndex = 1;
  const struct {
    int target;
    bool ok;
    const char* expression;
  } cases[] = {{0, false, "a"}, {4, false, "a"}, {2, true, "a"}, {3, true, "np.concatenate([a[:2], a[1:2]])"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    ui.clear();
    ui.answerValues({double(c.target)});
    EXPECT_EQ(twk::ops::CopyTimepointToTarget(*set, view), c.ok);
    EXPECT_EQ(ui.prompts[0][0].number, 2.0);  // the view's time point, 1-based
    EXPECT_EQ(ui.prompts[0][0].label, L"Target dynamic point index");
    if (!c.ok) {
      EXPECT_EQ(ui.lastMessage(), L"CDrawSet::CopyTimepointToTarget : Invalid dynamic points");
    }
    EXPECT_EQ(voxels(vol->frame), numpyReference(before, shapeOf(vol->frame), "float64", c.expression));
  }
  EXPECT_EQ(doc->UndoCount(), 2);
}

TEST(ValueOperations, UniformLayerAndHeaderCommands) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* base = ramp(3);
  base->dyn[0].echoTime = 0.01;
  base->dyn[1].echoTime = 0.02;
  base->dyn[2].echoTime = 0.04;
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(base)});
  CDrawSet* set = doc->GetActiveSet();
  const struct {
    int answer;
    int layers;
    int timePoints;
  } cases[] = {{IDCANCEL, 1, 0}, {IDNO, 2, 3}, {IDYES, 3, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    ui.answerValues({2.5}).answerValuesText({L"flat"}).answerMessage(c.answer);
    twk::ops::InsertUniformLayer(*set);
    EXPECT_EQ(ui.messages[ui.messages.size() - 1], L"Base layer is 4D. Create 3D layer anyway?");
    ASSERT_EQ(set->NumLayers(), c.layers);
    if (c.timePoints) {
      CVol* added = set->GetLayerVol(c.layers - 1);
      EXPECT_EQ(added->T(), c.timePoints);
      EXPECT_TRUE(added->IsReal());
      EXPECT_EQ(added->name, L"flat");
      EXPECT_EQ(voxels(added->frame), std::vector<double>(size_t(16 * 2 * c.timePoints), 2.5));
    }
  }
  // Echo times become spin-lock times; then nothing varies but the time.
  EXPECT_TRUE(twk::ops::ReplaceEchoTimeByTSL(*set));
  EXPECT_EQ(base->GetDynType(), DYN_SPINLOCK_TIME);
  EXPECT_EQ(base->dyn[2].spinLockTime, 0.04);
  EXPECT_EQ(base->dyn[2].echoTime, 0.01);
  twk::ops::RemoveDynamicDimensionsExceptTime(*set);
  EXPECT_EQ(base->GetDynType(), DYN_TIME);
  EXPECT_EQ(base->dyn[2].time, 20.0);
}

TEST(ValueOperations, EqualizeWithinAGreyLevelOfScikitImageAndLogEqualsNumpy) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  // A skewed histogram: values (x * y * z) mod 97 + 3 of 8 x 8 x 4.
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{8, 8, 4, 1}, [](int x, int y, int z, int) { return (x * y * (z + 1)) % 97 + 3; });
  const std::vector<double> values = voxels(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_TRUE(twk::ops::EqualizeHistogram(*set));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetActive(), 1);
  const double lo = *std::min_element(values.begin(), values.end()), hi = *std::max_element(values.begin(), values.end());
  const std::vector<double> reference = numpyReference(
      values, {4, 8, 8}, "uint16",
      std::to_string(lo) + " + (" + std::to_string(hi - lo) + ") * exposure.equalize_hist(a, nbins=" +
          std::to_string(int(hi - lo) + 1) + ")");
  const std::vector<double> equalized = voxels(set->GetLayerVol(1)->frame);
  ASSERT_EQ(reference.size(), equalized.size());
  for (size_t i = 0; i < reference.size(); ++i) EXPECT_NEAR(equalized[i], reference[i], 1.0) << i;

  // The logarithm of an integer layer; zeros become void.
  CVol* counts = makeVolume(FRM_INT, 16, DIM3D{8, 8, 4, 1}, [](int x, int y, int z, int) { return x * (y + z); });
  const std::vector<double> raw = voxels(counts->frame);
  set->AppendLayer(twk::testkit::makeLayer(counts));
  set->SetActive(set->NumEntries() - 1);
  ASSERT_TRUE(twk::ops::LogConvert(*set)) << ui.lastMessage().toUtf8();
  const std::vector<double> logs = voxels(set->GetLayerVol(set->NumLayers() - 1)->frame);
  const std::vector<double> reference2 = numpyReference(raw, {4, 8, 8}, "float64", "np.where(a > 0, np.log(np.where(a > 0, a, 1)), 1e60)");
  ASSERT_EQ(logs.size(), reference2.size());
  for (size_t i = 0; i < logs.size(); ++i) EXPECT_DOUBLE_EQ(logs[i], reference2[i]) << i;
  // A real active layer: nothing, without a message.
  ui.clear();
  const int layers = set->NumLayers();
  EXPECT_FALSE(twk::ops::LogConvert(*set));
  EXPECT_EQ(set->NumLayers(), layers);
  EXPECT_TRUE(ui.messages.empty());
}
