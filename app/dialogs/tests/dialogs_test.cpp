// Tests of the Qt parameter dialogs: the projection dialog, the polyline properties and the
// user-interface options, on real widgets (offscreen).

#include <gtest/gtest.h>

#include "DlgVolProj.h"

TEST(ProjectionDialogSteps, SpinsStayWithinTheirRangesAndQuarterTurnsWrap) {
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(359.8, -1), 360);
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(360, -1), 360);
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(0.2, 1), 0);
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(10, 1), 9.5);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(-90, false), -180);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(-180, false), 90);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(90, true), 180);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(180, true), -90);
  EXPECT_NEAR(TW_ProjSlabSpin(0.05, 1), 0, 1e-12);
  EXPECT_NEAR(TW_ProjSlabSpin(1.0, -1), 1.1, 1e-12);
}
