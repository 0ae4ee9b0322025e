// ROI statistics of a 4D volume: opening checks, the info fields with skips beyond the curve, the
// value axis, peak and bolus arrival, the curve text and the view's time point.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ConcConv.h"
#include "DocTestKit.h"
#include "RoiStat4D.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "VolProj.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;

namespace {

constexpr int kT = 12;

// A bolus: flat 100 for four points, then a rise to 400 at point 6, then a slow fall.
double bolus(int k) { return k < 4 ? 100.0 : k <= 6 ? 100.0 + 100.0 * (k - 3) : 400.0 - 20.0 * (k - 6); }

struct Fixture {
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
  CDrawDoc doc;
  CountingView view;
  CVol* vol = makeVol(FRM_REAL, 3, 3, 1, kT, L"/data/perf.nii");
  CVol* roi = makeVol(FRM_ROI, 3, 3, 1, 1, L"/data/tumour.roi");
  CDrawSet* set = nullptr;
  TW_ROISTAT4D s;

  Fixture() {
    for (int k = 0; k < kT; ++k) {
      vol->dyn[k].time = vol->dyn[k].timeEnd = 100.0 + 2.0 * k;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) twk::setVoxelValue(vol->frame, x, y, 0, k, x == 0 ? 0.0 : bolus(k));
    }
    vol->spc = SPC{2, 2, 5};
    const RECT3D box{1, 0, 0, 2, 2, 0};
    VA_VolFillBox(roi->frame, 0, &box, true, 1.0);
    set = addSet(&doc, {makeLayer(vol), makeLayer(roi)});
    doc.AddView(&view);
    set->AddViewProjection(&view);
    s.view = &view;
    s.set = set;
    s.vol = vol;
    s.roi = roi->frame;
    s.roiColour = 0xF0F0F0;
    s.roiName = L"tumour";
  }
  ~Fixture() { doc.RemoveView(&view); }
};

}  // namespace

TEST(RoiStat4D, OpeningChecksAndInfoFields) {
  Fixture f;
  // No ROI: the one message; an empty ROI closes silently.
  TW_ROISTAT4D none = f.s;
  none.roi = nullptr;
  EXPECT_FALSE(TW_RoiStat4DOpen(&none));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDlgRoiStat4D::OnInitDialog : At least one ROI is required"));
  CVol* empty = makeVol(FRM_ROI, 3, 3, 1, 1, L"empty");
  TW_ROISTAT4D blank = f.s;
  blank.roi = empty->frame;
  f.script.clear();
  EXPECT_FALSE(TW_RoiStat4DOpen(&blank));
  EXPECT_TRUE(f.script.messages.empty());
  delete empty;

  ASSERT_TRUE(TW_RoiStat4DOpen(&f.s));
  EXPECT_EQ(f.s.background, 0x5C5C5Cu);  // a light ROI colour: grey background
  EXPECT_EQ(TW_RoiStat4DCaption(f.s), CString(L"ROI Stats 4D > [perf] over [tumour]"));
  EXPECT_EQ(f.s.label, CString(L"tumour"));
  EXPECT_EQ(f.s.conc.hct, 0.4);
  TW_ROISTAT4DINFO info = TW_RoiStat4DInfo(f.s);
  EXPECT_EQ(info.start, CString(L" 0.000"));
  EXPECT_EQ(info.end, CString(L"22.000"));
  EXPECT_EQ(info.axisLine, CString(L"Time,  max at 7 (1.200000e+01)"));
  EXPECT_EQ(info.units, CString(L"sec"));

  // Skips within, beyond and across the curve: clamped, and no info for an empty span.
  struct CASE {
    int skipStart, skipEnd;
    const wchar_t *start, *end;
  } cases[] = {{2, 3, L" 4.000", L"16.000"}, {10000, 0, L"", L""}, {0, 10000, L"", L""}, {6, 6, L"", L""},
               {11, 0, L"22.000", L"22.000"}};
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.skipStart * 100000 + c.skipEnd);
    f.s.skipStart = c.skipStart;
    f.s.skipEnd = c.skipEnd;
    info = TW_RoiStat4DInfo(f.s);
    EXPECT_EQ(info.start, CString(c.start));
    EXPECT_EQ(info.end, CString(c.end));
    double low = 0, high = 0;
    EXPECT_EQ(TW_RoiStat4DValueRange(f.s, &low, &high), info.start.GetLength() > 0);
  }
}

TEST(RoiStat4D, ValueAxisConversionPeakBolusAndCurveText) {
  Fixture f;
  ASSERT_TRUE(TW_RoiStat4DOpen(&f.s));
  double low = 0, high = 0;
  ASSERT_TRUE(TW_RoiStat4DValueRange(f.s, &low, &high));
  EXPECT_EQ(low, 0);
  EXPECT_DOUBLE_EQ(high, 420);
  // A conversion that cannot work (spoiled gradient echo with TR 0) draws no curve.
  f.s.conc.method = 4;
  f.s.conc.tr = 0;
  std::vector<double> conc;
  EXPECT_FALSE(TW_RoiStat4DConverted(f.s, 0, &conc));
  EXPECT_FALSE(TW_RoiStat4DValueRange(f.s, &low, &high));
  EXPECT_FALSE(TW_RoiStat4DCopy(f.s));
  EXPECT_TRUE(f.script.messages.empty());
  // Absolute enhancement over the first point, as plasma of HCT 0.4: (400 - 100) / 0.6 at the peak.
  f.s.conc.method = 2;
  f.s.conc.r1 = 1;
  f.s.conc.manualBaseline = 1;
  f.s.conc.averageNext = 1;
  ASSERT_TRUE(TW_RoiStat4DValueRange(f.s, &low, &high));
  EXPECT_DOUBLE_EQ(high, 1.05 * 500);
  EXPECT_EQ(low, 0);

  int k = -1;
  ASSERT_TRUE(TW_RoiStat4DPeak(f.s, &k));
  EXPECT_EQ(k, 6);
  ASSERT_TRUE(TW_RoiStat4DBolusArrival(f.s, &k));
  EXPECT_EQ(k, 3);  // the last point not above 100 + 0.25 * 300 before the peak
  ASSERT_TRUE(TW_RoiStat4DGoTo(f.s, 6));
  EXPECT_EQ(f.set->FindViewProjection(&f.view)->timeIndex, 6);
  EXPECT_EQ(f.view.redraws, 1);

  // The curve text of the shown span: header lines as comments, the ROI volume, time and value.
  f.s.conc.method = 0;
  f.s.skipStart = 9;
  CString text;
  ASSERT_TRUE(TW_RoiStat4DCurveText(f.s, nullptr, &text));
  EXPECT_EQ(text, CString(L"# tumour average\n# Time(sec)\tavgVal\t vol_cm3\n# vol_cm3: 0.12\n"
                          L"118\t340\n120\t320\n122\t300\n"));
}

TEST(RoiStat4D, BolusNeedsATimeAxis) {
  Fixture f;
  for (int k = 0; k < kT; ++k) {
    f.vol->dyn[k].bValue = 50.0 * k;
    f.vol->dyn[k].time = f.vol->dyn[k].timeEnd = 0;
  }
  ASSERT_TRUE(TW_RoiStat4DOpen(&f.s));
  EXPECT_EQ(f.s.axisName, CString(L"B-value"));
  int k = -1;
  EXPECT_FALSE(TW_RoiStat4DBolusArrival(f.s, &k));
  const TW_ROISTAT4DINFO info = TW_RoiStat4DInfo(f.s);
  EXPECT_EQ(info.start, CString(L"0.000000e+00"));
  EXPECT_EQ(info.end, CString(L"5.500000e+02"));
}
