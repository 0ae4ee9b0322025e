// Mosaic in-slice motion correction: refusals and a mosaic series with known in-plane shifts.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "AutofocusPresets.h"
#include "CommandTable.h"
#include "MosaicMotion.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "paths/FilePaths.h"

namespace {

using twk::optest::Documents;
using twk::optest::makeVolume;
using twk::optest::rowId;

constexpr int kTile = 24, kGrid = 2, kSlices = 4, kTimes = 3;
// In-plane shift (x, y) of every slice at each time point, in voxels.
constexpr double kShift[kTimes][2] = {{0, 0}, {2.0, 0.0}, {-1.0, 1.5}};

// Slice k's picture: two blobs of different sizes, placed per slice, moved by the time point's shift.
double picture(double x, double y, int k) {
  const double ax = 9 + k, ay = 10, bx = 15, by = 14 - k;
  return 100 + 800 * std::exp(-((x - ax) * (x - ax) + (y - ay) * (y - ay)) / 18.0) +
         500 * std::exp(-((x - bx) * (x - bx) + (y - by) * (y - by)) / 8.0);
}

// The mosaic: the slices' tiles row by row, one 2D image per time point.
CVol* mosaicSeries() {
  return makeVolume(FRM_REAL, 64, DIM3D{kTile * kGrid, kTile * kGrid, 1, kTimes},
                    [](int x, int y, int, int t) {
                      const int k = (y / kTile) * kGrid + x / kTile;
                      return picture(x % kTile - kShift[t][0], y % kTile - kShift[t][1], k);
                    },
                    L"/data/mosaic.nii");
}

CVol* mosaicRoi() {
  return makeVolume(FRM_ROI, 1, DIM3D{kTile * kGrid, kTile * kGrid, 1, 1},
                    [](int x, int y, int, int) {
                      const int u = x % kTile, v = y % kTile;
                      return u >= 4 && u < 20 && v >= 4 && v < 20 ? 1.0 : 0.0;
                    },
                    L"/data/mask.nii");
}

// Mean absolute difference of time point t against the unshifted pictures inside the tiles' middles.
double misfit(const FRAME* f, int t) {
  double sum = 0;
  int n = 0;
  for (int y = 0; y < f->dim.h; ++y)
    for (int x = 0; x < f->dim.w; ++x) {
      const int u = x % kTile, v = y % kTile, k = (y / kTile) * kGrid + x / kTile;
      if (u < 6 || u >= 18 || v < 6 || v >= 18) continue;
      sum += std::fabs(twk::voxelValue(f, x, y, 0, t) - picture(u, v, k));
      ++n;
    }
  return sum / n;
}

bool hasMessage(const twk::ScriptedUi& ui, const CString& text) {
  for (const CString& m : ui.messages)
    if (m == text) return true;
  return false;
}

TEST(MosaicMotion, RefusesAnotherOpenDocumentAndLayersOtherThanSignalThenRoi) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus4DDefaults();
  const CString fn = L"CDrawSet::MosaicMotionCorrectionInSlice_MI : ";
  {
    CDrawDoc* doc = docs.open({twk::testkit::makeLayer(mosaicSeries()), twk::testkit::makeLayer(mosaicRoi())});
    CDrawDoc* other = docs.open({twk::testkit::makeLayer(mosaicSeries())}, L"/data/other.twk");
    EXPECT_FALSE(TW_MosaicMotionCorrectionInSlice_MI(doc->GetActiveSet(), true, &g_AF4DInSliceMI));
    EXPECT_TRUE(hasMessage(ui, fn + L"Single Opened document is expected"));
    EXPECT_EQ(doc->GetActiveSet()->NumLayers(), 2);
    docs.close(other);
    docs.close(doc);
  }
  struct Case {
    bool roiFirst;
    int layers;
    const wchar_t* message;
  } cases[] = {{true, 2, L"Two Layer document with Signal and ROI layers is expected"},
               {false, 1, L"Exactly two raster layers should be present"},
               {false, 3, L"Exactly two raster layers should be present"}};
  for (const Case& c : cases) {
    ui.clear();
    std::vector<CDrawVol*> layers;
    if (c.roiFirst) layers = {twk::testkit::makeLayer(mosaicRoi()), twk::testkit::makeLayer(mosaicSeries())};
    else
      for (int i = 0; i < c.layers; ++i)
        layers.push_back(twk::testkit::makeLayer(i == 1 ? mosaicRoi() : mosaicSeries()));
    CDrawDoc* doc = docs.open(layers);
    EXPECT_FALSE(TW_MosaicMotionCorrectionInSlice_MI(doc->GetActiveSet(), true, &g_AF4DInSliceMI));
    EXPECT_TRUE(hasMessage(ui, fn + c.message)) << CString(c.message).toUtf8();
    EXPECT_EQ(doc->GetActiveSet()->NumLayers(), c.layers);
    EXPECT_TRUE(ui.prompts.empty());  // refused before anything is asked
    docs.close(doc);
  }
}

TEST(MosaicMotion, ShiftedSlicesOfAMosaicAreCorrectedIntoTheMcLayerBetweenSignalAndRoi) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus4DDefaults();
  CVol* signal = mosaicSeries();
  CVol* roi = mosaicRoi();
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(signal), twk::testkit::makeLayer(roi)});
  CDrawSet* set = doc->GetActiveSet();
  const std::vector<double> before = twk::optest::voxels(signal->frame);
  const int row = rowId("Workflows", "Renal Multilice > Mosaic Motion correction in-slice (MI)");
  ASSERT_TRUE(TW_RowAvailable(TW_FindCommandRow(row)));
  ui.answerValues({kSlices});  // the number of images in the mosaic
  ui.answerValues({});         // the registration dialog as preset
  TW_DispatchCommand(row, Documents::viewOf(doc));
  ASSERT_EQ(set->NumLayers(), 3) << (ui.messages.empty() ? std::string() : ui.messages.back().toUtf8());
  EXPECT_EQ(set->GetLayerVol(0), signal);
  EXPECT_EQ(set->GetLayerVol(2), roi);
  CVol* mc = set->GetLayerVol(1);
  EXPECT_EQ(PR_GetFileTitle(mc->name), L"MC");
  EXPECT_EQ(set->GetLayer(1)->opacity, 100);
  ASSERT_EQ(mc->W(), signal->W());
  ASSERT_EQ(mc->H(), signal->H());
  ASSERT_EQ(mc->D(), 1);
  ASSERT_EQ(mc->T(), kTimes);
  EXPECT_EQ(twk::optest::voxels(signal->frame), before);
  // The intermediate document is closed again.
  int count = 0;
  CDrawDoc** all = TW_GetAllDocuments(&count);
  pf_free(&all);
  EXPECT_EQ(count, 1);
  // The shifted time points now match the unshifted pictures (base time point 0).
  EXPECT_LT(misfit(mc->frame, 0), 1e-6);
  for (int t = 1; t < kTimes; ++t) {
    const double was = misfit(signal->frame, t), now = misfit(mc->frame, t);
    EXPECT_GT(was, 40.0) << t;
    EXPECT_LT(now, 0.1 * was) << t << ": " << was << " -> " << now;
  }
}

}  // namespace
