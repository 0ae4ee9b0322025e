// The registration operations of the layer sets, run headless with a scripted UI.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "OperationHelpers.h"
#include "OperationsTestKit.h"
#include "RegistrationOperations.h"
#include "ScriptedUi.h"
#include "registration/TransformFiles.h"

namespace {

using twk::optest::Documents;
using twk::optest::rowId;

TEST(RegistrationServices, SaveAlignmentWritesATransformFileThatReadsBackExactly) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = twk::optest::makeVolume(FRM_INT, 16, DIM3D{6, 5, 3, 1}, nullptr);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  FRAME* before = VA_VolClone(vol->frame);
  const double transform[16] = {0.1 + 0.2, 0, 0, 7.5, 0, 1, 0, -1.0 / 3.0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_TRUE(vol->SetAlignment(&before, transform));
  const int row = rowId("Transform", "Save Alignment (*.vtf)");
  TW_RemoveRegistrationServices();
  EXPECT_FALSE(TW_RowAvailable(TW_FindCommandRow(row)));
  TW_InstallRegistrationServices();
  EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(row)));
  const std::string file = testing::TempDir() + "alignment.vtf";
  std::remove(file.c_str());
  const CString path = CString::fromUtf8(file);
  ui.answerSaveFile(path);
  Documents::viewOf(doc)->OnTransformSaveAlignmentVTF();
  EXPECT_TRUE(ui.messages.empty());
  VA_VTFINFO info;
  double* back = VTF_Load(path, &info, true);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::memcmp(back, transform, sizeof transform), 0);
  EXPECT_EQ(info.type, 2);
  EXPECT_EQ(info.sourceDim.w, 6);
  EXPECT_EQ(info.sourceSpc.z, 2.0);
  EXPECT_FALSE(info.hasTarget);
  pf_free(&back);
  TW_RemoveRegistrationServices();
}

}  // namespace
