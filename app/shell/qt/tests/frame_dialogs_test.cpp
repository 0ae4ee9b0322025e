// The About box and the Layer Operations dialog on the offscreen platform.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "AboutDlg.h"
#include "DlgLayerOpers.h"
#include "FrameTools.h"
#include "ShellQtTestKit.h"

namespace {

TEST(FrameDialogs, AboutShowsTheBuildAndTheAllocatedMemory) {
  twk::shelltest::app();
  CAboutDlg about(nullptr);
  EXPECT_EQ(about.BuildLabel()->text(), QStringLiteral("483"));
  EXPECT_TRUE(about.MemoryLabel()->text().startsWith(QStringLiteral("Allocated Memory : ")));
  EXPECT_TRUE(about.MemoryLabel()->text().endsWith(QStringLiteral(" bytes")));
}

TEST(FrameDialogs, LayerOperationsButtonsFollowTheRecordAndCloseWithTheirCode) {
  twk::shelltest::app();
  TW_LAYEROPERS record;
  record.enabled[6] = record.enabled[7] = true;
  CDlgLayerOpers dialog(record, nullptr);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Layer Operations"));
  const char* captions[8] = {"", "Union", "Intersect", "A AND (NOT B)", "XOR", "NOT", "Abs( Diff )", "Max( 0,Diff )"};
  for (int code = 1; code <= 7; ++code) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(dialog.Button(code));
    EXPECT_EQ(dialog.Button(code)->text(), QString::fromLatin1(captions[code]));
    EXPECT_EQ(dialog.Button(code)->isEnabled(), code >= 6);
  }
  dialog.Button(7)->click();
  EXPECT_EQ(dialog.Chosen(), 7);
  EXPECT_EQ(dialog.result(), int(QDialog::Accepted));
}

}  // namespace
