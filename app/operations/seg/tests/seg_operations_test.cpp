// The segmentation commands on small documents: EdgeWave with its questions, names and result
// layers, competing ROI layers with undo, the N largest components, and the EdgeWave dialog
// (seed average, greyed controls, the unit switch) offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSlider>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "AtlasSplitOperation.h"
#include "BimodalSplitOperation.h"
#include "CommandTable.h"
#include "DetectorOperations.h"
#include "DocTestKit.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "DetectSpotsDialog.h"
#include "EdgeWaveDialog.h"
#include "EdgeWaveOperations.h"
#include "HighObj.h"
#include "ParameterDialog.h"
#include "OperationsTestKit.h"
#include "RecordDialog.h"
#include "RidgeDialog.h"
#include "RoiStat3D.h"
#include "SplitThrDialog.h"
#include "SplitThreshold.h"
#include "TextureEdgeDialog.h"
#include "ThresholdOperations.h"
#include "MagTraceDialog.h"
#include "SplitThrParms.h"
#include "SegTestApp.h"
#include "DrawTool.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;

namespace {

using twk::segtest::app;

bool inBall(int x, int y, int z) { return (x - 10) * (x - 10) + (y - 10) * (y - 10) + (z - 8) * (z - 8) <= 36; }

// A 20 x 20 x 16 ball of radius 6 (value 100 on 10), t time points.
CVol* ballVol(int t = 1, const wchar_t* name = L"/data/ball.nii") {
  CVol* vol = makeVol(FRM_INT, 20, 20, 16, t, name);
  for (int k = 0; k < t; ++k)
    for (int z = 0; z < 16; ++z)
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) twk::setVoxelValue(vol->frame, x, y, z, k, inBall(x, y, z) ? 100 : 10);
  vol->spc = SPC{1, 1, 1};
  if (t > 1) {
    vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(t) * int64_t(sizeof(DYNCRD))));
    for (int k = 0; k < t; ++k) vol->dyn[k].time = vol->dyn[k].timeEnd = 10.0 * k;
  }
  return vol;
}

struct Fixture {
  CDrawDoc doc;
  CountingView view;
  CDrawSet* set = nullptr;
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};

  explicit Fixture(std::vector<std::pair<CVol*, bool>> layers) {
    std::vector<CDrawVol*> made;
    for (auto& [vol, marked] : layers) made.push_back(makeLayer(vol, marked));
    set = addSet(&doc, made);
    doc.AddView(&view);
    set->AddViewProjection(&view);
  }
  ~Fixture() { doc.RemoveView(&view); }
  // A vector ROI of the set over the box.
  void addSeed(double x0, double y0, double z0, double x1, double y1, double z1) {
    auto* seed = new CDrawSet(&doc);
    seed->vroi = static_cast<HIGHOBJ*>(pf_calloc(sizeof(HIGHOBJ)));
    *seed->vroi = HIGHOBJ{};
    seed->vroi->kind = HIGHOBJ_VECTOR_ROI;
    seed->vroi->shape = HIGHOBJ_SHAPE_BOX;
    seed->vroi->owner = set;
    seed->vroi->x0 = x0;
    seed->vroi->y0 = y0;
    seed->vroi->z0 = z0;
    seed->vroi->x1 = x1;
    seed->vroi->y1 = y1;
    seed->vroi->z1 = z1;
    CDrawObj* obj = seed;
    doc.AddObject(&obj, true);
  }
  CVol* last() const { return set->GetLayerVol(set->NumLayers() - 1); }
};

VA_EW quickRecord() {
  VA_EW r;
  r.distanceUnits = 0;
  r.peel = 1.0;
  r.grow = 3.0;
  r.gaussianDownscale = 0;
  return r;
}

int64_t roiVoxels(const CVol* vol, int t = -1) {
  int64_t n = 0;
  VA_RoiNumVox(vol->frame, t, -1, &n);
  return n;
}

int64_t ballVoxels() {
  int64_t n = 0;
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) n += inBall(x, y, z);
  return n;
}

CVol* boxRoi(const RECT3D& box, const wchar_t* name) {
  CVol* vol = makeVol(FRM_ROI, 20, 20, 16, 1, name);
  VA_VolFillBox(vol->frame, 0, &box, true, 1.0);
  return vol;
}

}  // namespace

TEST(EdgeWaveCommand, A3DOperandGivesItsEwmaskLayerFromTheSeed) {
  Fixture f({{ballVol(), true}});
  f.addSeed(9, 9, 7, 12, 12, 10);
  VA_EW record = quickRecord();
  ASSERT_TRUE(twk::seg::EdgeWave(*f.set, true, true, &f.view, &record));
  ASSERT_EQ(f.set->NumLayers(), 2);
  EXPECT_EQ(f.last()->name, CString(L"ball_ewmask"));
  EXPECT_TRUE(f.last()->IsROI());
  EXPECT_EQ(roiVoxels(f.last()), ballVoxels());
  EXPECT_EQ(f.set->GetActive(), 1);
  EXPECT_TRUE(f.script.messages.empty());  // no time-point question for a 3D operand

  // Not binary: the operand's values inside, cleared outside, shown with the operand's window.
  f.set->GetLayer(0)->filter.scheme = 3;
  f.set->SetActive(0);
  record.outputBinaryRoi = 0;
  ASSERT_TRUE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  ASSERT_EQ(f.set->NumLayers(), 3);
  const CVol* masked = f.last();
  EXPECT_FALSE(masked->IsROI());
  EXPECT_EQ(f.set->GetLayer(2)->filter.scheme, 3);
  EXPECT_EQ(twk::voxelValue(masked->frame, 10, 10, 8, 0), 100.0);
  EXPECT_EQ(twk::voxelValue(masked->frame, 1, 1, 1, 0), 0.0);
}

TEST(EdgeWaveCommand, AbsoluteUnitsAskAboutTheSeedOnlyWhenOneIsDrawn) {
  Fixture f({{ballVol(), true}});
  VA_EW record = quickRecord();
  record.siUnits = 0;
  record.siLow = 50;
  record.siHigh = 150;
  record.connectedComponents = 0;
  // No seed: no question, the largest component.
  ASSERT_TRUE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  EXPECT_TRUE(f.script.messages.empty());
  EXPECT_EQ(f.set->NumLayers(), 2);
  // A seed: answering no adds nothing and counts as done.
  f.addSeed(9, 9, 7, 12, 12, 10);
  f.set->SetActive(0);
  f.script.answerMessage(IDNO);
  EXPECT_TRUE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  EXPECT_EQ(f.script.lastMessage(),
            CString(L"Seed is present but Absolute Units mode is specified. Seed will be ignored."));
  EXPECT_EQ(f.set->NumLayers(), 2);
  // Other refusals: a subvoxel level other than 1, an empty result.
  record.subvoxelLevel = 2;
  EXPECT_FALSE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::EdgeWave : This version only allows SubLevel=1 in EdgeWave"));
  record.subvoxelLevel = 1;
  record.siLow = 500;
  record.siHigh = 600;
  f.script.answerMessage(IDYES);
  EXPECT_FALSE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::EdgeWave : ROI is empty"));
  EXPECT_EQ(f.set->NumLayers(), 2);
}

TEST(EdgeWaveCommand, A4DOperandAtTimePoint3NamesItsDimensionAndTime) {
  Fixture f({{ballVol(5, L"/data/series.nii"), true}});
  f.addSeed(9, 9, 7, 12, 12, 10);
  ASSERT_TRUE(f.set->VolChangeSlice(&f.view, 1, 3, 0, 0));
  VA_EW record = quickRecord();
  f.script.answerMessage(IDNO);
  ASSERT_TRUE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  EXPECT_EQ(f.script.messages.front(), CString(L"Process each timepoint individually?"));
  CString label, unit;
  double* values = nullptr;
  ASSERT_TRUE(f.set->GetLayerVol(0)->GetDynamicDimension(&label, &unit, &values));
  pf_free(&values);
  EXPECT_EQ(f.last()->name, CString(L"series_ewmask-") + label + L"#3");
  EXPECT_EQ(f.last()->T(), 1);
  // Each time point on its own: a 4D ROI.
  f.set->SetActive(0);
  f.script.answerMessage(IDYES);
  ASSERT_TRUE(twk::seg::EdgeWave(*f.set, false, false, &f.view, &record));
  EXPECT_EQ(f.last()->T(), 5);
  EXPECT_EQ(roiVoxels(f.last(), 4), ballVoxels());
}

TEST(EdgeWaveCommand, MultiLabelPartitionsTheMarkedRoisWithOneUndoEach) {
  CVol* a = boxRoi(RECT3D{2, 2, 2, 11, 17, 13}, L"a");
  CVol* b = boxRoi(RECT3D{8, 2, 2, 17, 17, 13}, L"b");
  CVol* unmarked = boxRoi(RECT3D{0, 0, 0, 19, 19, 15}, L"c");
  Fixture f({{ballVol(), true}, {a, true}, {unmarked, false}, {b, true}});
  const FramePtr beforeA(VA_VolClone(a->frame));
  const FramePtr beforeB(VA_VolClone(b->frame));
  f.script.answerValues({1.0});
  ASSERT_TRUE(twk::seg::EdgeWaveML(*f.set, false));
  int64_t both = 0, inUnion = 0;
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) {
        const bool ia = twk::roiBit(a->frame, x, y, z, 0), ib = twk::roiBit(b->frame, x, y, z, 0);
        both += ia && ib;
        inUnion += ia || ib;
      }
  EXPECT_EQ(both, 0);
  EXPECT_EQ(inUnion, 16 * 16 * 12);
  EXPECT_EQ(roiVoxels(unmarked), 20 * 20 * 16);
  ASSERT_EQ(f.doc.UndoCount(), 2);
  ASSERT_TRUE(f.doc.Undo());
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(std::memcmp(a->frame->data, beforeA->data, PR_FrameMemSize(beforeA.get())), 0);
  EXPECT_EQ(std::memcmp(b->frame->data, beforeB->data, PR_FrameMemSize(beforeB.get())), 0);

  f.set->SetLayerMarked(b, false);
  EXPECT_FALSE(twk::seg::EdgeWaveML(*f.set, true));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::EdgeWaveML : At least two enabled ROIs are required"));
}

TEST(EdgeWaveCommand, NLargestAddsOnlyAsManyLayersAsThereAreComponents) {
  app();
  TW_InstallRecordDialog();
  CVol* roi = boxRoi(RECT3D{1, 1, 1, 8, 8, 8}, L"blobs");
  const RECT3D second{12, 12, 2, 17, 17, 7};
  VA_VolFillBox(roi->frame, 0, &second, true, 1.0);
  Fixture f({{ballVol(), true}, {roi, true}});
  const VA_EW saved = g_EdgeWaveParms;
  g_EdgeWaveParms = quickRecord();
  twk::DialogScript dialog;
  twk::ScopedDialogScript scripted(dialog);
  dialog.ok();
  f.script.answerValues({5});
  ASSERT_TRUE(twk::seg::EdgeWaveNLargest(*f.set, &f.view));
  EXPECT_EQ(dialog.titles, std::vector<CString>{L"EdgeWave Parameters"});
  ASSERT_EQ(f.set->NumLayers(), 4);
  EXPECT_EQ(f.set->GetLayerVol(2)->name, CString(L"CC_0"));
  EXPECT_EQ(f.set->GetLayerVol(3)->name, CString(L"CC_1"));
  EXPECT_EQ(roiVoxels(f.set->GetLayerVol(2)), 8 * 8 * 8);
  EXPECT_EQ(roiVoxels(f.set->GetLayerVol(3)), 6 * 6 * 6);
  EXPECT_EQ(f.set->GetLayer(2)->opacity, 25);
  g_EdgeWaveParms = saved;
  TW_RemoveRecordDialog();
}

TEST(SegmentationRows, EveryRowOfTheseOperationsIsAvailable) {
  TW_RegisterPreset("g_MagTraceParms", &g_MagTraceParms);  // the program's view bindings register it
  for (const char* op : {"CDrawSet::EdgeWave", "CDrawSet::EdgeWaveML", "CDrawSet::EdgeWaveNLargest", "CDlgEdgeWave",
                         "CDrawSet::ThesholdToROI", "CDrawSet::ThesholdToROI_SignalToGradRatio",
                         "CDrawSet::LocalOtzuThresholdToROI", "CDrawSet::DetectSpots",
                         "CDrawSet::ThresholdBimodalHistSplit", "CDrawSet::SegmentRidges", "TW_DlgSplitThr",
                         "CDrawSet::EdgeWaveLive", "TW_DlgMagPoly", "TW_MagtracePresetParms",
                         "CDrawSet::AtlasSplit", "CDrawSet::DetectCartilage",
                         "CDrawSet::Pancreas_MeasurementAlongCentralAxis", "TW_AllDocumentsMeanOverRois",
                         "TW_AllDocumentsIrregularity2D"}) {
    SCOPED_TRACE(op);
    int rows = 0;
    for (const TW_COMMAND_ROW* row : TW_CommandRows())
      if (row->operation && std::strcmp(row->operation, op) == 0) {
        ++rows;
        EXPECT_TRUE(TW_RowAvailable(row)) << row->path;
      }
    EXPECT_GT(rows, 0);
  }
}

// A ramp 0..190 along x (10 per voxel) in 2 time points, the second shifted by 5.
CVol* rampVol(int t) {
  CVol* vol = makeVol(FRM_INT, 20, 4, 3, t, L"/data/ramp.nii");
  for (int k = 0; k < t; ++k)
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 20; ++x) twk::setVoxelValue(vol->frame, x, y, z, k, 10.0 * x + 5 * k);
  return vol;
}

TEST(ThresholdCommands, SignalIntervalSwapsItsBoundsAndAsksOnlyFor4D) {
  {
    Fixture f({{rampVol(1), true}});
    f.script.answerValuesText({L"150", L"50"});  // low above high: the interval 50..150
    ASSERT_TRUE(twk::seg::ThesholdToROI(*f.set, &f.view));
    ASSERT_EQ(f.set->NumLayers(), 2);
    EXPECT_TRUE(f.last()->IsROI());
    EXPECT_EQ(roiVoxels(f.last()), 11 * 4 * 3);
    EXPECT_EQ(f.set->GetActive(), 1);
    EXPECT_EQ(f.script.messages.size(), 1u);  // the range prompt only
  }
  {
    Fixture f({{rampVol(2), true}});
    ASSERT_TRUE(f.set->VolChangeSlice(&f.view, 1, 1, 0, 0));
    f.script.answerValuesText({L"50", L"150"}).answerMessage(IDNO);
    ASSERT_TRUE(twk::seg::ThesholdToROI(*f.set, &f.view));
    EXPECT_EQ(f.script.lastMessage(), CString(L"Perform thresholding over all timepoints?"));
    EXPECT_EQ(f.last()->T(), 1);
    EXPECT_EQ(roiVoxels(f.last()), 10 * 4 * 3);  // 55 .. 145 at time point 1
    f.script.answerValuesText({L"50", L"150"}).answerMessage(IDYES);
    ASSERT_TRUE(twk::seg::ThesholdToROI(*f.set, &f.view));
    EXPECT_EQ(f.last()->T(), 2);
    EXPECT_EQ(roiVoxels(f.last(), 0), 11 * 4 * 3);
    f.script.answerValuesText({L"50", L"150"}).answerMessage(IDCANCEL);
    EXPECT_FALSE(twk::seg::ThesholdToROI(*f.set, &f.view));
    EXPECT_EQ(f.set->NumLayers(), 3);
  }
  Fixture none({{boxRoi(RECT3D{1, 1, 1, 2, 2, 2}, L"r"), true}});
  EXPECT_FALSE(twk::seg::ThesholdToROI(*none.set, &none.view));
  EXPECT_EQ(none.script.lastMessage(), CString(L"CDrawSet::ThesholdToROI : Integer or Real volume is required"));
}

TEST(ThresholdCommands, GradientRatioAndLocalOtsuAddActiveRois) {
  Fixture f({{ballVol(), true}});
  f.script.answerValues({0.1});
  ASSERT_TRUE(twk::seg::ThesholdToROI_SignalToGradRatio(*f.set, &f.view));
  ASSERT_EQ(f.set->NumLayers(), 2);
  EXPECT_GT(roiVoxels(f.last()), ballVoxels());  // the flat background (10) is kept too
  f.set->SetActive(0);
  f.script.answerValues({3});
  ASSERT_TRUE(twk::seg::LocalOtzuThresholdToROI(*f.set, &f.view));
  ASSERT_EQ(f.set->NumLayers(), 3);
  EXPECT_EQ(f.set->GetActive(), 2);
  EXPECT_TRUE(twk::roiBit(f.last()->frame, 10, 10, 8, 0));  // the ball's centre
  f.script.cancelValues();
  EXPECT_FALSE(twk::seg::LocalOtzuThresholdToROI(*f.set, &f.view));
  EXPECT_EQ(f.set->NumLayers(), 3);
}

// The two spot rows differ only by their items: bright finds the bright spot, dark the dark one.
TEST(DetectSpotsCommand, EachRowPassesItsPolarity) {
  CVol* vol = makeVol(FRM_INT, 24, 24, 1, 1, L"/data/spots.nii");
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) twk::setVoxelValue(vol->frame, x, y, 0, 0, 100);
  for (const auto& [cx, cy, value] : {std::tuple{6, 6, 170}, std::tuple{17, 16, 30}})
    for (const auto& [dx, dy] : {std::pair{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}})
      twk::setVoxelValue(vol->frame, cx + dx, cy + dy, 0, 0, value);
  Fixture f({{vol, true}});
  int bright = 0, dark = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    const std::string path = row->path ? row->path : "";
    if (path == "Detect bright spots") bright = row->id;
    if (path == "Detect dark spots") dark = row->id;
  }
  const VA_DETECTSPOTS saved = g_DetectSpotsParms;
  g_DetectSpotsParms.maxSpotSize = 20;
  // 3D mode, threshold, radius, size
  f.script.answerValues({0, 0.075, 8, 20});
  ASSERT_TRUE(TW_DispatchCommand(bright, &f.view));
  ASSERT_EQ(f.set->NumLayers(), 2);
  EXPECT_EQ(f.last()->name, CString(L"spots"));
  EXPECT_EQ(f.set->GetActive(), 0);
  EXPECT_TRUE(twk::roiBit(f.last()->frame, 6, 6, 0, 0));
  EXPECT_FALSE(twk::roiBit(f.last()->frame, 17, 16, 0, 0));
  f.script.answerValues({0, 0.075, 8, 20});
  ASSERT_TRUE(TW_DispatchCommand(dark, &f.view));
  ASSERT_EQ(f.set->NumLayers(), 3);
  EXPECT_FALSE(twk::roiBit(f.last()->frame, 6, 6, 0, 0));
  EXPECT_TRUE(twk::roiBit(f.last()->frame, 17, 16, 0, 0));
  g_DetectSpotsParms = saved;
}

// The dialog as its window sees it: the values and which fields are greyed.
struct SeenDialog {
  CString seedText;
  std::vector<std::pair<CString, bool>> enabled;
  bool Enabled(const wchar_t* label) const {
    for (const auto& [l, on] : enabled)
      if (l == CString(label)) return on;
    ADD_FAILURE() << "no field " << CString(label).toUtf8();
    return false;
  }
};

TEST(EdgeWaveDialog, SeedAverageGreyedSignalControlsAndNoSeedDefaults) {
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  SeenDialog seen;
  TW_SetDialogView([&](const TW_DIALOG& dialog, TW_DIALOG_VALUES& values, bool) {
    seen = SeenDialog{};
    seen.seedText = values.Text(L"Seed average");
    for (size_t i = 0; i < dialog.fields.size(); ++i) seen.enabled.push_back({dialog.fields[i].label, values.Enabled(i)});
    return true;
  });
  CVol* ball = ballVol();
  const DRECT3D seed{9, 9, 7, 12, 12, 10};
  VA_EW record;
  ASSERT_TRUE(TW_DlgEdgeWave(false, ball->frame, nullptr, 0, &seed, 1, &record));
  EXPECT_EQ(seen.seedText, CString(L"Seed average = 100.0000"));
  EXPECT_TRUE(seen.Enabled(L"Signal units"));
  EXPECT_EQ(record.siUnits, 1);

  // A seed over nothing: "Invalid Seed-Volume combination" and the dialog cancels itself.
  const DRECT3D outside{50, 50, 50, 60, 60, 60};
  EXPECT_FALSE(TW_DlgEdgeWave(false, ball->frame, nullptr, 0, &outside, 1, &record));
  EXPECT_EQ(ui.lastMessage(), CString(L"CDlgEdgeWave::OnInitDialog : Invalid Seed-Volume combination"));

  // An ROI operand greys the six signal controls, which keep and write back their values.
  CVol* roi = boxRoi(RECT3D{2, 2, 2, 5, 5, 5}, L"r");
  record = VA_EW{};
  record.siLow = 0.25;
  ASSERT_TRUE(TW_DlgEdgeWave(false, roi->frame, nullptr, 0, nullptr, 0, &record));
  for (const wchar_t* label : {L"Signal intensity interval  [low, high]", L"high", L"Use edges", L"Output binary ROI",
                               L"Subvoxel level", L"Strict Core Set surface"})
    EXPECT_FALSE(seen.Enabled(label)) << CString(label).toUtf8();
  EXPECT_TRUE(seen.Enabled(L"Peel distance"));
  EXPECT_EQ(record.siLow, 0.25);
  // Without seeds: seed components become the largest, units absolute, texture none, both greyed.
  EXPECT_EQ(record.connectedComponents, 0);
  EXPECT_EQ(record.siUnits, 0);
  EXPECT_EQ(record.textureSimilarity, 0);
  EXPECT_FALSE(seen.Enabled(L"Signal units"));
  EXPECT_FALSE(seen.Enabled(L"Use texture similarity"));
  TW_SetDialogView(nullptr);
  delete ball;
  delete roi;
}

TEST(EdgeWaveDialog, SwitchingDistanceUnitsConvertsByTheSmallestVoxel) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  TW_InstallRecordDialog();
  static const double anisotropic[3] = {0.7, 0.9, 3.0};
  const struct {
    const double* spacing;
    double peel, grow;  // after voxels -> mm -> voxels
    double peelMm;      // after voxels -> mm
  } spacings[] = {{nullptr, 2.9, 6.4, 2.9}, {anisotropic, 2.9, 6.4, 2.0}};
  for (const auto& c : spacings) {
    VA_EW record;  // mm, 2.9 and 6.4
    record.distanceUnits = 0;
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.choose(L"Distance units", 1).ok();
    ASSERT_TRUE(TW_DlgEdgeWave(false, nullptr, c.spacing, 0, nullptr, 0, &record));
    EXPECT_EQ(record.distanceUnits, 1);
    EXPECT_NEAR(record.peel, c.peelMm, 1e-12);
    script.choose(L"Distance units", 0).ok();
    ASSERT_TRUE(TW_DlgEdgeWave(false, nullptr, c.spacing, 0, nullptr, 0, &record));
    EXPECT_EQ(record.distanceUnits, 0);
    EXPECT_NEAR(record.peel, c.peel, 1e-12);
    EXPECT_NEAR(record.grow, c.grow, 1e-12);
  }
  TW_RemoveRecordDialog();
}

// A 10 x 10 x 20 volume of 1 mm voxels: 100 in the lower half of z, 200 in the upper.
CVol* halvesVol() {
  CVol* vol = makeVol(FRM_INT, 10, 10, 20, 1, L"/data/halves.nii");
  for (int z = 0; z < 20; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) twk::setVoxelValue(vol->frame, x, y, z, 0, z < 10 ? 100 : 200);
  vol->spc = SPC{1, 1, 1};
  return vol;
}

TEST(SplitThreshold, TitleVolumesRatioAndTheLayersOnOkAndCancel) {
  Fixture f({{halvesVol(), true}});
  const double spacing[3] = {1, 1, 1};
  VA_SPLITTHRVALUE record;  // mode 1, fraction 0.5: starts at 150
  {
    CSplitThrSession session;
    ASSERT_TRUE(session.Open(&f.view, f.set, L"A", L"B", 0x0000FF, 0xFFFF00, nullptr, spacing, &record));
    EXPECT_EQ(session.Threshold(), 150.0);
    EXPECT_EQ(session.SliderPosition(), 500);
    EXPECT_EQ(session.Title(), CString(L"B= 1.00 cm3 (50%), A= 1.00 cm3 (50%) , ratio= 1/1.00"));
    ASSERT_EQ(f.set->NumLayers(), 3);
    EXPECT_EQ(f.set->GetLayerVol(1)->name, CString(L"halves_A"));
    EXPECT_EQ(f.set->GetLayerVol(2)->name, CString(L"halves_B"));
    EXPECT_EQ(roiVoxels(f.set->GetLayerVol(1)), 1000);
    session.SetThreshold(250);  // above everything: the upper part is empty, no ratio
    EXPECT_EQ(session.Title(), CString(L"B= 2.00 cm3 (100%), A= 0.00 cm3 (0%)"));
    session.Cancel();
    EXPECT_EQ(f.set->NumLayers(), 1);
  }
  // An ROI of the lower three quarters (1000 voxels of 100, 500 of 200): the ratio in the
  // "%4.2lf/1" form, and OK removes the ROI layer.
  CVol* roi = makeVol(FRM_ROI, 10, 10, 20, 1, L"roi");
  const RECT3D lower{0, 0, 0, 9, 9, 14};
  VA_VolFillBox(roi->frame, 0, &lower, true, 1.0);
  f.set->AppendLayer(makeLayer(roi, true));
  record = VA_SPLITTHRVALUE{0, 1e6, 0.5};  // an absolute value above the range is clamped
  {
    CSplitThrSession session;
    ASSERT_TRUE(session.Open(&f.view, f.set, L"A", L"B", 0x0000FF, 0xFFFF00, nullptr, spacing, &record));
    EXPECT_EQ(session.Threshold(), 200.0);
    EXPECT_FALSE(f.set->IsLayerMarked(roi));
    session.SetThreshold(150);
    EXPECT_EQ(session.Title(), CString(L"B= 1.00 cm3 (67%), A= 0.50 cm3 (33%) , ratio= 2.00/1"));
    session.Default();
    EXPECT_EQ(session.Threshold(), 200.0);
    session.SetThreshold(150);
    session.Ok();
  }
  EXPECT_EQ(record.value, 150.0);
  ASSERT_EQ(f.set->NumLayers(), 3);  // the ROI gave way to its two parts
  EXPECT_EQ(f.set->IndexOfVol(roi), -1);
  EXPECT_EQ(f.set->GetActive(), 0);
}

// An ROI over voxels the volume leaves undefined is empty once they are taken out: the split
// refuses it (no division by a zero count) and adds nothing.
TEST(SplitThreshold, AMaskEmptiedByUndefinedVoxelsIsRefused) {
  CVol* vol = makeVol(FRM_REAL, 10, 10, 20, 1, L"/data/void.nii");
  for (int z = 0; z < 20; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) twk::setVoxelValue(vol->frame, x, y, z, 0, z < 5 ? 1e60 : 50.0);
  CVol* roi = makeVol(FRM_ROI, 10, 10, 20, 1, L"roi");
  const RECT3D voids{0, 0, 0, 9, 9, 4};
  VA_VolFillBox(roi->frame, 0, &voids, true, 1.0);
  Fixture f({{vol, true}, {roi, true}});
  const double spacing[3] = {1, 1, 1};
  VA_SPLITTHRVALUE record;
  CSplitThrSession session;
  EXPECT_FALSE(session.Open(&f.view, f.set, L"A", L"B", 0x0000FF, 0xFFFF00, nullptr, spacing, &record));
  EXPECT_EQ(f.script.lastMessage(), CString(L"ROI is empty"));
  EXPECT_EQ(f.set->NumLayers(), 2);
  EXPECT_TRUE(f.set->IsLayerMarked(roi));
}

TEST(SplitThreshold, RowsRunTheDialogAndTheWindowFollowsItsSlider) {
  app();
  Fixture f({{halvesVol(), true}});
  int initial = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (row->path && std::string(row->path) == "Split ROI with Threshold > using initial Threshold") initial = row->id;
  // Headless: the "Threshold" prompt, then OK.
  g_SplitThrValue = VA_SPLITTHRVALUE{};
  f.script.answerValues({120});
  ASSERT_TRUE(TW_DispatchCommand(initial, &f.view));
  EXPECT_EQ(g_SplitThrValue.mode, 0);
  EXPECT_EQ(g_SplitThrValue.value, 120.0);
  ASSERT_EQ(f.set->NumLayers(), 3);
  EXPECT_EQ(roiVoxels(f.set->GetLayerVol(1)), 1000);  // "A": at or above 120

  // The window: the slider moves the threshold and the title; OK keeps the layers.
  f.set->RemoveLayer(2, true);
  f.set->RemoveLayer(1, true);
  const double spacing[3] = {1, 1, 1};
  VA_SPLITTHRVALUE record;
  CSplitThrSession session;
  ASSERT_TRUE(session.Open(&f.view, f.set, L"A", L"B", 0x0000FF, 0xFFFF00, nullptr, spacing, &record));
  CSplitThrDialog window(session);
  EXPECT_EQ(window.windowTitle().toStdWString(), std::wstring(L"B= 1.00 cm3 (50%), A= 1.00 cm3 (50%) , ratio= 1/1.00"));
  window.ThresholdSlider()->setValue(1000);
  EXPECT_EQ(session.Threshold(), 200.0);
  window.OnDefault();
  EXPECT_EQ(window.ThresholdSlider()->value(), 500);
  window.accept();
  EXPECT_EQ(record.value, 150.0);
  EXPECT_EQ(f.set->NumLayers(), 3);
}

TEST(RidgeCommand, RidgesOpenANewDocumentOfTheBaseAnd4DIsRefused) {
  twk::optest::Documents docs;
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CVol* vol = twk::optest::makeVolume(FRM_REAL, 64, DIM3D{30, 30, 1, 1},
                                      [](int, int y, int, int) { return y == 15 ? 160.0 : 100.0; }, L"/data/lines.nii");
  CDrawDoc* doc = docs.open({makeLayer(vol)});
  const int before = twk::optest::Documents::openCount();
  VA_RIDGEPARM record;
  record.smoothRadius = 4.0;
  ASSERT_TRUE(twk::seg::SegmentRidges(*doc->GetActiveSet(), true, &record, true));
  const auto opened = twk::optest::Documents::openedAfter(before);
  ASSERT_EQ(opened.size(), 1u);
  CDrawSet* set = opened[0]->GetActiveSet();
  ASSERT_TRUE(set);
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, CString(L"Ridges"));
  EXPECT_TRUE(twk::roiBit(set->GetLayerVol(1)->frame, 15, 15, 0, 0));
  EXPECT_FALSE(twk::roiBit(set->GetLayerVol(1)->frame, 15, 5, 0, 0));

  CVol* series = twk::optest::makeVolume(FRM_REAL, 64, DIM3D{8, 8, 2, 3}, nullptr, L"/data/series.nii");
  CDrawDoc* dynamic = docs.open({makeLayer(series)}, L"/data/series.twk");
  EXPECT_FALSE(twk::seg::SegmentRidges(*dynamic->GetActiveSet(), false, &record, true));
  EXPECT_EQ(script.lastMessage(), CString(L"CDrawSet::SegmentRidges : 3D volume is required"));
}

// Two modes inside an ROI, negative signal outside it: the split names its masks with a signed
// integer and the low mask starts at the volume's minimum, so no voxel falls between the masks.
TEST(ThresholdCommands, BimodalSplitNamesAndCoversNegativeSignal) {
  CVol* vol = makeVol(FRM_REAL, 20, 20, 10, 1, L"/data/bimodal.nii");
  std::mt19937 rng(4);
  std::normal_distribution<double> low(-400, 20), high(-200, 20);
  for (int z = 0; z < 10; ++z)
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) twk::setVoxelValue(vol->frame, x, y, z, 0, x < 12 ? low(rng) : high(rng));
  CVol* roi = makeVol(FRM_ROI, 20, 20, 10, 1, L"roi");
  const RECT3D all{0, 0, 0, 19, 19, 9};
  VA_VolFillBox(roi->frame, 0, &all, true, 1.0);
  Fixture f({{vol, true}, {roi, true}});
  // BiGaussian, mass ratio unconstrained, peak position ratio 0.2 .. 5 (negative modes: 0.5).
  const VA_BIMODALSPLIT saved = g_BimodalSplitParms;
  g_BimodalSplitParms.constrainMassRatio = 0;
  f.script.answerValues({0, 0.59, 0.77, 0.2, 5.0, 20000});
  ASSERT_TRUE(twk::seg::ThresholdBimodalHistSplit(*f.set, &f.view));
  ASSERT_EQ(f.set->NumLayers(), 4);
  const CString lo = f.set->GetLayerVol(2)->name, hi = f.set->GetLayerVol(3)->name;
  EXPECT_EQ(lo.Left(12), CString(L"mask_lo_thr-"));
  EXPECT_EQ(hi.Left(12), CString(L"mask_hi_thr-"));
  EXPECT_EQ(roiVoxels(f.set->GetLayerVol(2)) + roiVoxels(f.set->GetLayerVol(3)), 20 * 20 * 10);
  g_BimodalSplitParms = saved;
}

// "Brain segmentation profile" edits the brain profile that "Brain EdgeWave\N3" passes on: OK keeps
// the edited values, Cancel leaves the profile as it was; no volume is needed.
TEST(BrainProfile, TheRowEditsTheStoredBrainProfileAndCancelKeepsIt) {
  Fixture f({{makeVol(FRM_INT, 4, 4, 2, 1, L"/data/b.nii"), true}});
  int row = 0;
  for (const TW_COMMAND_ROW* r : TW_CommandRows())
    if (r->path && std::string(r->path) == "Brain MR > Brain segmentation profile") row = r->id;
  ASSERT_NE(row, 0);
  const VA_EW saved = g_EdgeWaveBrain;
  CString title;
  bool accept = true;
  TW_SetDialogView([&](const TW_DIALOG& dialog, TW_DIALOG_VALUES& values, bool) {
    title = dialog.title;
    values.SetText(L"Peel distance", L"4.5");
    return accept;
  });
  g_EdgeWaveBrain.peel = 1.5;
  ASSERT_TRUE(TW_DispatchCommand(row, &f.view));
  EXPECT_EQ(title, CString(L"EdgeWave Parameters"));
  EXPECT_EQ(g_EdgeWaveBrain.peel, 4.5);
  accept = false;
  g_EdgeWaveBrain.peel = 1.5;
  ASSERT_TRUE(TW_DispatchCommand(row, &f.view));
  EXPECT_EQ(g_EdgeWaveBrain.peel, 1.5);
  TW_SetDialogView(nullptr);
  g_EdgeWaveBrain = saved;
}

// "3D Edge Detector": the radii move to their closest admissible radius and a reversed pair is put
// in order; in the EdgeWave dialog, "Edge Settings" edits the edge block, which only OK keeps.
TEST(EdgeWaveDialog, EdgeSettingsSnapAndOrderTheRadii) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  VA_URALEDGE edge{0, 0, 2.6, 1.2, 0.0};
  // Headless: metric, weights, low, high, threshold.
  ui.answerValues({1, 2, 2.6, 1.2, 40});
  ASSERT_TRUE(TW_DlgTextureEdge(&edge));
  EXPECT_EQ(edge.distanceMetric, 1);
  EXPECT_EQ(edge.voxelWeights, 2);
  EXPECT_DOUBLE_EQ(edge.lowRadius, 1.0);
  EXPECT_DOUBLE_EQ(edge.highRadius, std::sqrt(6.0));
  EXPECT_EQ(edge.edgeThreshold, 40);
  ui.cancelValues();
  const VA_URALEDGE kept = edge;
  EXPECT_FALSE(TW_DlgTextureEdge(&edge));
  EXPECT_EQ(std::memcmp(&kept, &edge, sizeof edge), 0);

  TW_InstallRecordDialog();
  for (const bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    VA_EW record;
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"Edge Settings").set(L"Low radius [1-20] (vox)", L"3.1").set(L"Edge signal threshold", L"25").ok();
    if (ok) script.ok();
    else script.cancel();
    EXPECT_EQ(TW_DlgEdgeWave(false, nullptr, nullptr, 0, nullptr, 0, &record), ok);
    ASSERT_EQ(script.titles.size(), 2u);
    EXPECT_EQ(script.titles[1], L"3D Edge Detector");
    EXPECT_DOUBLE_EQ(record.edge.lowRadius, ok ? std::sqrt(6.0) : 2.6);
    EXPECT_DOUBLE_EQ(record.edge.highRadius, ok ? std::sqrt(10.0) : 2.6);
    EXPECT_EQ(record.edge.edgeThreshold, ok ? 25.0 : 0.0);
  }
  TW_RemoveRecordDialog();
}

// MagTrace: the dialog writes what it shows and passes the rest through; the presets set their
// values before the dialog (which Cancel does not undo) and an unknown type is refused; "Edge
// Parameters" edits the edge block through the texture-gradient dialog.
TEST(MagTraceDialog, ShownFieldsPresetsAndEdgeParameters) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  const VA_MAGTRACE saved = g_MagTraceParms;
  VA_MAGTRACE record;
  record.strength = 55.0;
  record.wholeSliceMaps = 1;
  ui.answerValues({4.5, 0.25, 0, 1});  // snap radius, tension, connect, centered zoom
  ASSERT_TRUE(TW_DlgMagPoly(nullptr, &record));
  EXPECT_EQ(record.snapRadius, 4.5);
  EXPECT_EQ(record.tension, 0.25);
  EXPECT_EQ(record.connectEndToStart, 0);
  EXPECT_EQ(record.centeredAutoZoom, 1);
  EXPECT_EQ(record.strength, 55.0);
  EXPECT_EQ(record.wholeSliceMaps, 1);
  ui.answerValues({101, 0.25, 0, 1}).cancelValues();  // out of range, then Cancel
  EXPECT_FALSE(TW_DlgMagPoly(nullptr, &record));
  EXPECT_EQ(record.snapRadius, 4.5);

  EXPECT_FALSE(TW_MagtracePresetParms(3));
  EXPECT_EQ(ui.lastMessage(), L"TW_MagtracePresetParms : Uknown MagTrace application type");
  const struct {
    int type;
    double snap, radius;
    int weights;
  } presets[] = {{0, 10.0, 6.0, 0}, {1, 8.0, 2.2, 2}};
  for (const auto& p : presets) {
    SCOPED_TRACE(p.type);
    g_MagTraceParms.wholeSliceMaps = 1;
    ui.cancelValues();
    EXPECT_FALSE(TW_MagtracePresetParms(p.type));
    EXPECT_EQ(g_MagTraceParms.snapRadius, p.snap);
    EXPECT_EQ(g_MagTraceParms.edge.lowRadius, p.radius);
    EXPECT_EQ(g_MagTraceParms.edge.highRadius, p.radius);
    EXPECT_EQ(g_MagTraceParms.edge.weights, p.weights);
    EXPECT_EQ(g_MagTraceParms.edge.metric, 1);
    EXPECT_EQ(g_MagTraceParms.edge.magnitude, 2);
    EXPECT_EQ(g_MagTraceParms.wholeSliceMaps, 0);
  }
  TW_InstallRecordDialog();
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"Edge Parameters").choose(L"Magnitude measure", 0).set(L"High radius [1-20] (vox)", L"4").ok().ok();
    VA_MAGTRACE r;
    ASSERT_TRUE(TW_DlgMagPoly(nullptr, &r));
    EXPECT_EQ(script.titles.back(), L"Multiscale Texture Gradient");
    EXPECT_EQ(r.edge.magnitude, 0);
    EXPECT_DOUBLE_EQ(r.edge.lowRadius, 4.0);  // 5 and 4: ordered
    EXPECT_DOUBLE_EQ(r.edge.highRadius, 5.0);
  }
  TW_RemoveRecordDialog();
  g_MagTraceParms = saved;
}

// "Preprocess for Split by Threshold": its start values, the three fields, and the N3 block edited
// through its button, kept only by OK.
TEST(SplitThrParmsDialog, FieldsAndTheN3BlockKeptOnlyByOk) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  const VA_SPLITTHRPARMS saved = g_SplitThrParms;
  EXPECT_EQ(g_SplitThrParms.n3.subsample, 1.0);
  EXPECT_EQ(g_SplitThrParms.smoothing.kernel, VA_VOXWGHT_MEDIAN);
  EXPECT_EQ(g_SplitThrParms.gradient.metric, 1);
  ui.answerValues({1, 0, 0});
  ASSERT_TRUE(TW_DlgSplitThrParms());
  EXPECT_EQ(g_SplitThrParms.initialSegmentation, 1);
  EXPECT_EQ(g_SplitThrParms.n3Correction, 0);
  EXPECT_EQ(g_SplitThrParms.smooth, 0);
  TW_InstallRecordDialog();
  for (const bool ok : {false, true}) {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"N3 Parameters").set(L"Field smoothness (mm)", L"150").ok();
    if (ok) script.ok();
    else script.cancel();
    EXPECT_EQ(TW_DlgSplitThrParms(), ok);
    EXPECT_EQ(g_SplitThrParms.n3.fieldSmoothness, ok ? 150.0 : 200.0);
  }
  TW_RemoveRecordDialog();
  g_SplitThrParms = saved;
}

// "Extract ROIs from LabelMap": every region present (an empty list), or the listed ones, each as
// "atlas region <label>" with its voxels; a 4D operand and a list that does not read are refused.
TEST(AtlasSplit, RegionsOfTheLabelMapBecomeLayers) {
  auto labelMap = [](int t) {
    CVol* vol = makeVol(FRM_REAL, 6, 5, 4, t, L"/data/atlas.nii");
    for (int k = 0; k < t; ++k)
      for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 5; ++y)
          for (int x = 0; x < 6; ++x) twk::setVoxelValue(vol->frame, x, y, z, k, x < 2 ? 0.0 : x < 4 ? 2.0 : 5.2);
    return vol;
  };
  const struct {
    const wchar_t* list;
    std::vector<std::pair<const wchar_t*, int64_t>> layers;
  } cases[] = {{L"", {{L"atlas region 2", 40}, {L"atlas region 5", 40}}},
               {L"5, 7", {{L"atlas region 5", 40}}}};
  for (const auto& c : cases) {
    Fixture f({{labelMap(1), true}});
    f.script.answerValuesText({c.list});
    EXPECT_TRUE(twk::seg::AtlasSplit(*f.set));
    ASSERT_EQ(f.set->NumLayers(), int(1 + c.layers.size()));
    for (size_t i = 0; i < c.layers.size(); ++i) {
      CVol* roi = f.set->GetLayerVol(int(i) + 1);
      EXPECT_EQ(roi->name, c.layers[i].first);
      EXPECT_EQ(roiVoxels(roi), c.layers[i].second);
    }
    EXPECT_EQ(f.script.prompts.back()[0].label, L"Enter region indices from [0,5] range separated by commas.\nEmpty string for all regions");
  }
  Fixture bad({{labelMap(1), true}});
  bad.script.answerValuesText({L"two"});
  EXPECT_FALSE(twk::seg::AtlasSplit(*bad.set));
  EXPECT_EQ(bad.set->NumLayers(), 1);
  Fixture series({{labelMap(2), true}});
  EXPECT_FALSE(twk::seg::AtlasSplit(*series.set));
  EXPECT_EQ(series.script.lastMessage(), L"CDrawSet::AtlasSplit : 3D volume is required");
}
