// The 3D ROI statistics dialog (its state, buttons, plot, report) and the ROI statistics command
// that opens it: operands, vector ROIs, the ROI layer's histogram settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "AppOptions.h"
#include "DocTestKit.h"
#include "DrawDoc.h"
#include "RoiStat3D.h"
#include "RoiStat4D.h"
#include "RoiStatisticsOperation.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "VectorRois.h"
#include "paths/FilePaths.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;
using namespace twk::roiops;

namespace {

// 10 x 10 x 10 integers 0..999 in voxel order.
CVol* rampVol(const wchar_t* name = L"ramp.nii") {
  CVol* vol = makeVol(FRM_INT, 10, 10, 10, 1, name);
  for (int i = 0; i < 1000; ++i) twk::setVoxelValue(vol->frame, i % 10, (i / 10) % 10, i / 100, 0, i);
  return vol;
}

FRAME* boxRoi(DIM3D dims, RECT3D box) {
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, dims, true);
  VA_VolFillBox(roi, 0, &box, true, 1.0);
  return roi;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The golden report of the source tree; TWK_WRITE_GOLDEN=1 writes it instead.
void expectGolden(const CString& report, const char* name) {
  const std::string path = std::string(TWK_TEST_DATA_DIR) + "/" + name;
  if (std::getenv("TWK_WRITE_GOLDEN")) std::ofstream(path, std::ios::binary) << report.toUtf8();
  EXPECT_EQ(report.toUtf8(), readFile(path)) << path;
}

// The standard normal quantile of p, by Newton steps on the error function.
double normalQuantile(double p) {
  const double y = 2 * p - 1;
  double x = 0;
  for (int it = 0; it < 60; ++it) x -= (std::erf(x) - y) / (2 / std::sqrt(M_PI) * std::exp(-x * x));
  return std::sqrt(2.0) * x;
}

struct Scripted {
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
};

// A document with one set of the given layers and a view of it.
struct Document : Scripted {
  CDrawDoc doc;
  CountingView view;
  CDrawSet* set = nullptr;
  explicit Document(const std::vector<CDrawVol*>& layers) {
    set = addSet(&doc, layers);
    doc.AddView(&view);
    set->AddViewProjection(&view);
  }
  ~Document() { doc.RemoveView(&view); }
};

}  // namespace

TEST(RoiStat3D, RampStatisticsReportsAndTheSavedFile) {
  Scripted s;
  std::unique_ptr<CVol> vol(rampVol());
  // Without an ROI: the whole volume, 100 bins, mean 499.5 and standard deviation 288.675.
  {
    CDlgRoiStat3D d(vol.get(), 0, nullptr, CString(), 0, nullptr);
    ASSERT_TRUE(d.OnInitDialog());
    EXPECT_EQ(d.Title(), CString(L"ROI Stats3D > [ramp.nii]"));
    EXPECT_EQ(d.Bins(), 100);
    EXPECT_DOUBLE_EQ(d.Info().mean, 499.5);
    EXPECT_NEAR(d.Info().stdev, 288.675, 5e-4);
    EXPECT_EQ(d.RangeText(), CString(L"[0.000000e+00 , 9.990000e+02]"));
    EXPECT_TRUE(d.GeometryValues().IsEmpty());
    EXPECT_FALSE(d.FullEnabled());
    expectGolden(d.ReportText(), "RoiStats3D_whole.txt");
    EXPECT_EQ(d.ReportText().Find(L"ROI is a full volume\n"), 20);
  }
  // Over the lower half: the ROI's statistics, geometry and the saved report in Notepad.
  const FramePtr roi(boxRoi(vol->frame->dim, RECT3D{0, 0, 0, 9, 9, 4}));
  {
    const CString saved = TW_Options().tempFolder;
    TW_EditOptions().tempFolder = CString::fromUtf8(twk::testing::testFolder().string());
    CDlgRoiStat3D d(vol.get(), 0, roi.get(), L"C:/rois/lower half.nii", 0xFF, nullptr);
    ASSERT_TRUE(d.OnInitDialog());
    EXPECT_EQ(d.Title(), CString(L"ROI Stats3D > [ramp.nii] over [lower half]"));
    EXPECT_EQ(d.Info().count, 500u);
    EXPECT_DOUBLE_EQ(d.Info().mean, 249.5);
    EXPECT_EQ(d.FirstOrderValues().Left(11), CString(L"[0,499]\r\n2."));
    EXPECT_EQ(d.GeometryValues().Left(27), CString(L"500\r\n5.000000e-01 cm3\r\n0\r\n1"));
    ASSERT_TRUE(d.OnSaveStats());
    const CString path = TW_Options().tempFolder + L"/RoiStats3D.txt";
    ASSERT_EQ(s.script.shownFiles.size(), 1u);
    EXPECT_EQ(s.script.shownFiles[0], path);
    EXPECT_EQ(readFile(path.toUtf8()), d.ReportText().toUtf8());
    expectGolden(d.ReportText(), "RoiStats3D_roi.txt");
    TW_EditOptions().tempFolder = saved;
  }
}

TEST(RoiStat3D, OpeningRulesBinsRangesAndTheEmptyRoi) {
  Scripted s;
  // An integer volume spanning less than 1.01 opens with 2 bins; a real one with 100.
  std::unique_ptr<CVol> flat(makeVol(FRM_INT, 4, 4, 2, 1, L"flat"));
  twk::setVoxelValue(flat->frame, 0, 0, 0, 0, 1);
  std::unique_ptr<CVol> real(makeVol(FRM_REAL, 4, 4, 2, 1, L"real"));
  twk::setVoxelValue(real->frame, 0, 0, 0, 0, 0.5);
  {
    CDlgRoiStat3D a(flat.get(), 0, nullptr, CString(), 0, nullptr);
    ASSERT_TRUE(a.OnInitDialog());
    EXPECT_EQ(a.Bins(), 2);
    CDlgRoiStat3D b(real.get(), 0, nullptr, CString(), 0, nullptr);
    ASSERT_TRUE(b.OnInitDialog());
    EXPECT_EQ(b.Bins(), 100);
  }
  // An empty ROI cancels with the named message; the runner gives false and writes nothing.
  const FramePtr empty(PR_FrameCreate(FRM_ROI, 1, flat->frame->dim, true));
  double threshold = 7;
  EXPECT_FALSE(TW_DlgRoiStat3D(flat.get(), 0, empty.get(), L"lesion.nii", 0, nullptr, &threshold, true));
  EXPECT_EQ(s.script.lastMessage(), CString(L"CDlgRoiStat3D::OnInitDialog : lesion- ROI is empty"));
  EXPECT_EQ(threshold, 7);

  std::unique_ptr<CVol> vol(rampVol());
  CDlgRoiStat3D d(vol.get(), 0, nullptr, CString(), 0, nullptr);
  ASSERT_TRUE(d.OnInitDialog());
  // "Bin Width" 10: 100 bins of exactly 10 that a later recomputation keeps.
  s.script.answerValues({10.0});
  d.OnBinWidth();
  EXPECT_EQ(d.Bins(), 100);
  EXPECT_EQ(d.BinWidth(), 10.0);
  d.OnClip();
  EXPECT_EQ(d.BinWidth(), 10.0);
  // A range wholly outside the values is reset to the volume's range.
  s.script.answerValuesText({L"5000", L"6000"});
  d.OnRange();
  EXPECT_EQ(d.RangeLow(), 0.0);
  EXPECT_EQ(d.RangeHigh(), 999.0);
  // "%": the interval is checked first; 10..90 % of 0..999 with 25 bins.
  s.script.answerValues({25});
  d.OnNumberOfBins();
  EXPECT_EQ(d.Bins(), 25);
  s.script.answerValuesText({L"50", L"40"});
  d.OnRangePercent();
  EXPECT_EQ(s.script.lastMessage(), CString(L"CDlgRoiStat3D::OnBnClickedRangePercent : Invalid percentage interval"));
  s.script.answerValuesText({L"10", L"90"});
  d.OnRangePercent();
  EXPECT_NEAR(d.RangeLow(), 99.9, 1e-9);
  EXPECT_NEAR(d.RangeHigh(), 899.1, 1e-9);
  EXPECT_EQ(d.Bins(), 25);
  EXPECT_TRUE(d.FullEnabled());
  EXPECT_EQ(d.Info().count, 800u);  // clipped to the range: 100..899
  d.OnFull();
  EXPECT_FALSE(d.FullEnabled());
  EXPECT_EQ(d.Info().count, 1000u);
  // Number of bins below 1 is not taken.
  s.script.answerValues({0});
  d.OnNumberOfBins();
  EXPECT_GT(d.Bins(), 0);
}

TEST(RoiStat3D, SegmentationThresholdModelsAndThePlot) {
  Scripted s;
  // Two Gaussian classes at 100 and 200 (standard deviation 20), drawn from their quantiles.
  std::unique_ptr<CVol> vol(makeVol(FRM_REAL, 40, 40, 4, 1, L"two classes"));
  const int n = 40 * 40 * 4;
  for (int i = 0; i < n; ++i) {
    const int half = i % 2, k = i / 2;
    const double z = normalQuantile((k + 0.5) / (n / 2));
    twk::setVoxelValue(vol->frame, i % 40, (i / 40) % 40, i / 1600, 0, (half ? 200.0 : 100.0) + 20.0 * z);
  }
  CDlgRoiStat3D d(vol.get(), 0, nullptr, CString(), 0, nullptr);
  ASSERT_TRUE(d.OnInitDialog());
  // Fewer than two segments: "Update" only recomputes.
  d.segments = 1;
  d.OnUpdate();
  EXPECT_EQ(d.OutputThreshold(), 1e60);
  EXPECT_TRUE(d.ThresholdsText().IsEmpty());
  // Bimodal method with its dialog cancelled: nothing changes.
  d.segments = 2;
  d.method = 1;
  s.script.cancelValues();
  d.OnUpdate();
  EXPECT_EQ(s.script.messages.back(), CString(L"BiGaussian Histogram Split with Ratio constraints"));
  EXPECT_EQ(d.OutputThreshold(), 1e60);
  // Otsu: the threshold between the classes.
  d.method = 0;
  d.OnUpdate();
  EXPECT_NEAR(d.OutputThreshold(), 150.0, 3.0);
  EXPECT_EQ(d.ThresholdsText().Find(L"threshold[0]="), 0);
  EXPECT_NE(d.ThresholdsText().Find(L"\nresidual="), -1);
  // A mixture model: curves for "All Curves" and their sum for "Cumulative".
  d.method = 3;
  d.OnMethodChanged();
  EXPECT_TRUE(d.ThresholdsText().IsEmpty());  // models cleared
  d.OnUpdate();
  EXPECT_NEAR(d.OutputThreshold(), 150.0, 3.0);
  const RECT2D area{0, 0, 100, 200};  // plot width 99 of 100 bins
  d.showModel = 1;
  CDlgRoiStat3D::Plot plot = d.PlotIn(area);
  ASSERT_EQ(plot.bars.size(), 100u);
  EXPECT_EQ(plot.curves.size(), 2u);
  EXPECT_EQ(plot.bars[0].rgb, 0x0000E1u);
  EXPECT_EQ(plot.bars[1].rgb, 0x0000FFu);
  const int peak = d.PeakBin();
  EXPECT_EQ(plot.bars[size_t(peak)].rect.top, 200 - 190 - 1);  // 0.95 of the height
  for (const auto& b : plot.bars) EXPECT_GE(b.rect.right, b.rect.left + 1);
  d.showModel = 2;
  plot = d.PlotIn(area);
  ASSERT_EQ(plot.curves.size(), 1u);
  EXPECT_EQ(plot.curves[0].size(), 100u);
  // The mixture's sum follows the histogram near its peak.
  EXPECT_NEAR(plot.curves[0][size_t(peak)].y, plot.bars[size_t(peak)].rect.top, 40);
  // Cursor read-out: inside the area (bounds inclusive) the bin under it, outside nothing.
  EXPECT_EQ(d.CursorText(0, 0, area).Find(L"val=") , 0);
  EXPECT_NE(d.CursorText(100, 200, area).Find(L" bin=99 count="), -1);
  EXPECT_TRUE(d.CursorText(101, 10, area).IsEmpty());
  // Segmentation is not offered for an ROI operand.
  std::unique_ptr<CVol> roiVol(makeVol(FRM_ROI, 4, 4, 2, 1, L"mask"));
  twk::setRoiBit(roiVol->frame, 1, 1, 1, 0, true);
  CDlgRoiStat3D r(roiVol.get(), 0, nullptr, CString(), 0, nullptr);
  ASSERT_TRUE(r.OnInitDialog());
  r.OnUpdate();
  EXPECT_EQ(r.OutputThreshold(), 1e60);
}

TEST(RoiStat3D, RunnerPresetsAndTheBimodalDialog) {
  Scripted s;
  std::unique_ptr<CVol> vol(rampVol());
  // OK without "Update": the threshold stays 1e60; the preset receives range, width and clip.
  ROISTATPRESET preset;
  preset.rangeLow = 100;
  preset.binWidth = 50;
  double threshold = 0;
  ASSERT_TRUE(TW_DlgRoiStat3D(vol.get(), 0, nullptr, CString(), 0, &preset, &threshold, true));
  EXPECT_EQ(threshold, 1e60);
  EXPECT_EQ(preset.rangeLow, 100.0);
  EXPECT_EQ(preset.rangeHigh, 999.0);
  EXPECT_EQ(preset.binWidth, 50.0);
  EXPECT_EQ(preset.clip, 1);
  // Headless: the four controls, then "Update" and OK; the last values open the next time.
  s.script.answerValues({0, 0, 0, 2});
  ASSERT_TRUE(TW_DlgRoiStat3D(vol.get(), 0, nullptr, CString(), 0, nullptr, &threshold, false));
  EXPECT_LT(threshold, 1e60);
  s.script.cancelValues();
  EXPECT_FALSE(TW_DlgRoiStat3D(vol.get(), 0, nullptr, CString(), 0, nullptr, &threshold, false));
  ASSERT_FALSE(s.script.prompts.empty());
  EXPECT_EQ(s.script.prompts.back()[0].number, 0);  // "Clip" as confirmed
  s.script.answerValues({1, 0, 0, 2});
  ASSERT_TRUE(TW_DlgRoiStat3D(vol.get(), 0, nullptr, CString(), 0, nullptr, nullptr, false));

  // The bimodal dialog: methods 1 and 2 only; OK writes the record.
  VA_BIMODALSPLIT record;
  EXPECT_FALSE(TW_DlgBimodalHistSplit(3, &record));
  EXPECT_EQ(s.script.lastMessage(), CString(L"TW_DlgBimodalHistSplit : Invalid histogram segmentation method"));
  s.script.answerValues({1, 0.5, 0.8, 1.1, 2.5, 5000});
  ASSERT_TRUE(TW_DlgBimodalHistSplit(2, &record));
  EXPECT_EQ(s.script.messages.back(), CString(L"BiLaplace Histogram Split with Ratio constraints"));
  EXPECT_EQ(record.constrainMassRatio, 1);
  EXPECT_EQ(record.massRatioHigh, 0.8);
  EXPECT_EQ(record.iterations, 5000);
}

TEST(RoiStatisticsCommand, OperandsVectorRoisAndTheLayersSettings) {
  CVol* roi = makeVol(FRM_ROI, 10, 10, 10, 1, L"C:/data/upper.nii");
  const RECT3D upper{0, 0, 5, 9, 9, 9};
  VA_VolFillBox(roi->frame, 0, &upper, true, 1.0);
  Document d({makeLayer(rampVol()), makeLayer(roi, false), makeLayer(rampVol(L"second"), false)});
  CDrawDoc& doc = d.doc;
  CountingView& view = d.view;
  twk::ScriptedUi& script = d.script;
  CDrawSet* set = d.set;

  // No ROI marked: the whole volume.
  script.answerValues({1, 0, 0, 1});
  ASSERT_TRUE(RoiStatistics(*set, &view, 1, false, TW_DlgRoiStat4D));
  EXPECT_EQ(script.messages.back(), CString(L"ROI Stats3D > [ramp.nii] over [whole volume]"));
  // The marked ROI layer, then a silent run: its settings are kept on the ROI layer.
  set->GetLayer(1)->SetMarked(true);
  script.answerValues({1, 0, 0, 1});
  ASSERT_TRUE(RoiStatistics(*set, &view, 1, false, TW_DlgRoiStat4D));
  EXPECT_EQ(script.messages.back(), CString(L"ROI Stats3D > [ramp.nii] over [upper]"));
  ROISTATPRESET& kept = set->GetLayer(1)->roiStats;
  EXPECT_EQ(kept.owner, set->GetLayer(0)->LayerId());
  EXPECT_EQ(kept.rangeLow, 500.0);
  kept.binWidth = 100;
  ASSERT_TRUE(RoiStatistics(*set, &view, 1, true, TW_DlgRoiStat4D));
  EXPECT_EQ(kept.binWidth, 100.0);  // reused for the same operand
  // Another operand resets them.
  set->GetLayer(0)->SetMarked(false);
  set->GetLayer(2)->SetMarked(true);
  ASSERT_TRUE(RoiStatistics(*set, &view, 1, true, TW_DlgRoiStat4D));
  EXPECT_EQ(kept.owner, set->GetLayer(2)->LayerId());
  EXPECT_NE(kept.binWidth, 100.0);

  // A selected vector ROI of the set wins over the marked ROI layer.
  const double box[6] = {0, 0, 0, 2, 2, 2};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, box, 0, 0, "spot"));
  int count = 0;
  CDrawSet** vrois = TW_CollectVectRoiObjects(set, &count);
  ASSERT_EQ(count, 1);
  CDrawSet* v = vrois[0];
  pf_free(&vrois);
  doc.selection = {v};
  script.answerValues({1, 0, 0, 1});
  ASSERT_TRUE(RoiStatistics(*set, &view, 1, false, TW_DlgRoiStat4D));
  EXPECT_EQ(script.messages.back(), CString(L"ROI Stats3D > [second] over [VROI spot]"));
  doc.selection.clear();

  // The 4D statistics need a 4D signal layer: a set of 3D layers opens no dialog.
  EXPECT_FALSE(RoiStatistics(*set, &view, 2, true, TW_DlgRoiStat4D));
}

TEST(RoiStatisticsCommand, A4DOperandIsMeasuredAtTheViewsTimePoint) {
  CVol* vol = makeVol(FRM_INT, 4, 4, 2, 3, L"dynamic");
  for (int t = 0; t < 3; ++t)
    for (int i = 0; i < 32; ++i) twk::setVoxelValue(vol->frame, i % 4, (i / 4) % 4, i / 16, t, 100 * t + i);
  Document document({makeLayer(vol)});
  document.set->FindViewProjection(&document.view)->timeIndex = 2;
  CDlgRoiStat3D d(vol, 2, nullptr, CString(), 0, nullptr);
  ASSERT_TRUE(d.OnInitDialog());
  EXPECT_DOUBLE_EQ(d.Info().mean, 215.5);
  EXPECT_EQ(d.Info().count, 32u);
  document.script.answerValues({1, 0, 0, 1});
  EXPECT_TRUE(RoiStatistics(*document.set, &document.view, 1, false, TW_DlgRoiStat4D));
  // Mode 2 opens the 4D statistics of the same operand over the whole volume.
  EXPECT_TRUE(RoiStatistics(*document.set, &document.view, 2, true, TW_DlgRoiStat4D));
}

TEST(RoiStatisticsCommand, HistogramSplitHandsTheOtsuThresholdToTheSplitDialog) {
  // Two populations, 100..109 in the lower half of the slices and 300..309 in the upper.
  CVol* vol = makeVol(FRM_INT, 10, 10, 10, 1, L"two.nii");
  for (int i = 0; i < 1000; ++i) twk::setVoxelValue(vol->frame, i % 10, (i / 10) % 10, i / 100, 0, (i / 100 < 5 ? 100 : 300) + i % 10);
  Document d({makeLayer(vol)});
  // The statistics dialog (clip, Otsu, no model, two segments), then the split's threshold kept.
  d.script.answerValues({1, 0, 0, 2});
  d.script.answerValues({});
  ASSERT_TRUE(RoiSplitUsingHist(*d.set, &d.view));
  const double threshold = d.script.prompts.back()[0].number;
  EXPECT_GT(threshold, 109);
  EXPECT_LT(threshold, 300);
  ASSERT_EQ(d.set->NumLayers(), 3);
  int64_t above = 0, below = 0;
  VA_RoiNumVox(d.set->GetLayerVol(1)->frame, -1, -1, &above);
  VA_RoiNumVox(d.set->GetLayerVol(2)->frame, -1, -1, &below);
  EXPECT_EQ(above + below, 1000);
  EXPECT_EQ(std::min(above, below), 500);
  // Cancelling the statistics dialog ends it with nothing added.
  d.script.cancelValues();
  EXPECT_FALSE(RoiSplitUsingHist(*d.set, &d.view));
  EXPECT_EQ(d.set->NumLayers(), 3);
}
