// Tests of the View Filter: scale texts, spin steps, the Polar rule, the default window, the colour
// bar, and the dialog's controls over the model.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>

#include "DisplayTestKit.h"
#include "DlgVolIntWin.h"
#include "ViewFilter.h"
#include "render/ColorSchemes.h"

using namespace twk::displaytest;

namespace {

struct FilterScene {
  CDrawDoc doc;
  CDrawSet* set;
  TestView view{&doc, 50, 50};
  explicit FilterScene(FRMTYPE type = FRM_INT, int bpv = 16) {
    CVol* vol = makeVol(type, bpv, DIM3D{10, 10, 2, 1}, [](int x, int y, int, int) { return x * 10 + y; });
    vol->unit = L"HU";
    set = addSet(&doc, {makeLayer(vol, 100, 40)}, DRECT{0, 0, 10, 10});
    view.InitialUpdate();
  }
  CDrawVol* layer() { return set->GetLayer(0); }
};

TEST(ViewFilter, ScaleTextsFromBottomToTop) {
  FilterScene s;
  CViewFilterModel model(s.layer());
  const std::array<CString, 5> t = model.ScaleTexts();
  const wchar_t* expected[5] = {L"80.000000 HU", L"90.000000 HU", L"100.000000 HU", L"110.000000 HU",
                                L"120.000000 HU"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(t[size_t(i)], CString(expected[i]));
  EXPECT_EQ(model.Caption(), CString(L"vol.nii"));
}

TEST(ViewFilter, SpinStepsChangeByOnePercentOfTheValue) {
  FilterScene s;
  CViewFilterModel model(s.layer());
  const struct {
    double level, width;
    int delta;
    double newLevel, newWidth;
  } cases[] = {{0, 100, 1, 0, 101}, {-100, 100, 1, -101, 101}, {200, 50, -1, 198, 49.5}};
  for (const auto& c : cases) {
    s.layer()->filter.level = c.level;
    s.layer()->filter.width = c.width;
    model.StepLevel(c.delta);
    model.StepWidth(c.delta);
    EXPECT_NEAR(s.layer()->filter.level, c.newLevel, 1e-9);
    EXPECT_NEAR(s.layer()->filter.width, c.newWidth, 1e-9);
  }
  EXPECT_GT(s.view.redraws, 0);  // every change redraws the document's views
}

TEST(ViewFilter, PolarSetsLevelZeroOnlyForRealLayers) {
  FilterScene ints;
  CViewFilterModel a(ints.layer());
  a.SetScheme(4);
  EXPECT_EQ(ints.layer()->filter.level, 100);
  FilterScene reals(FRM_REAL, 64);
  CViewFilterModel b(reals.layer());
  b.SetScheme(4);
  EXPECT_EQ(reals.layer()->filter.level, 0);
  EXPECT_EQ(b.ShownLevel(), 0);
  EXPECT_EQ(reals.layer()->filter.scheme, 4);
}

TEST(ViewFilter, DefaultWindowSwitchesAdaptiveOff) {
  FilterScene s;
  CViewFilterModel model(s.layer());
  model.SetAdaptive(true);
  ASSERT_TRUE(model.Default());
  EXPECT_FALSE(model.Adaptive());
  EXPECT_GT(s.layer()->filter.width, 0);
  EXPECT_NE(s.layer()->filter.level, 100);
}

TEST(ViewFilter, ColorBarRowsAndTicks) {
  bool tick = false;
  // Bar from 10 to 266 (height 256): the top row has index 255, the bottom row 0.
  EXPECT_EQ(CViewFilterModel::ColorBarRow(0, false, 10, 266, 10, &tick), 0xFFFFFFu);
  EXPECT_TRUE(tick);
  EXPECT_EQ(CViewFilterModel::ColorBarRow(0, false, 10, 266, 266, &tick), 0x000000u);
  EXPECT_TRUE(tick);
  EXPECT_EQ(CViewFilterModel::ColorBarRow(0, true, 10, 266, 266, &tick), 0xFFFFFFu);
  CViewFilterModel::ColorBarRow(0, false, 10, 266, 265, &tick);
  EXPECT_FALSE(tick);
  EXPECT_EQ(CViewFilterModel::ColorBarRow(0, false, 10, 266, 202, &tick), 0x404040u);  // grey 64 of monochrome
  EXPECT_TRUE(tick);
  // A bar without height draws its single row without dividing by zero.
  EXPECT_EQ(CViewFilterModel::ColorBarRow(3, false, 5, 5, 5, &tick), 0xFFFFFFu);  // the top of "Hot" is white
}

TEST(ViewFilterDialog, ControlsApplyAtOnceAndCancelKeepsThem) {
  guiApp();
  FilterScene s;
  CDlgVolIntWin dialog(s.layer());
  const auto texts = dialog.ScaleLabelTexts();
  EXPECT_EQ(texts[0], QStringLiteral("80.000000 HU"));
  EXPECT_EQ(texts[4], QStringLiteral("120.000000 HU"));
  EXPECT_TRUE(dialog.LevelWidthEnabled());
  dialog.adaptive->setChecked(true);
  EXPECT_FALSE(dialog.LevelWidthEnabled());
  EXPECT_EQ(s.layer()->filter.adaptive, 1);
  dialog.scheme->setCurrentIndex(3);
  dialog.reject();
  EXPECT_EQ(s.layer()->filter.scheme, 3);  // Cancel does not restore
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("vol.nii"));
}

}  // namespace
