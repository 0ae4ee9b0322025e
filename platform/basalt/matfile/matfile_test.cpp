// Layers from Matlab files written by scipy.io.savemat (MAT v5 and v4): the axis mapping, the
// choice of the array that fits, and the refusals.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "matfile/MatlabLayer.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

TEST(MatlabLayer, SavematArraysLoadWithTheirIndicesAsVoxels) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const std::string dir = twk::testing::testFolder().string() + "/";
  const std::string script =
      "import numpy as np, scipy.io as sio\n"
      "x, y, z = np.mgrid[0:5, 0:4, 0:3]\n"
      "vol = (x + 10 * y + 100 * z).astype(np.int16)\n"
      "sio.savemat('" + dir + "m5.mat', {'label': 'text', 'small': np.ones((2, 2)), 'vol': vol})\n"
      "sio.savemat('" + dir + "m4.mat', {'vol': vol[:, :, 0].astype(float)}, format='4')\n"
      "sio.savemat('" + dir + "none.mat', {'label': 'text', 'small': np.ones((2, 2))})\n"
      "open('" + dir + "bad.mat', 'w').write('not a mat file')\n";
  ASSERT_EQ(std::system((std::string(TWK_DEBIAN_PYTHON) + " -c \"" + script + "\"").c_str()), 0);
  const DIM3D dims{5, 4, 3, 1};
  CString name;
  FRAME* f = VA_LoadMatlabFileLayer(CString::fromUtf8(dir + "m5.mat"), &dims, &name, true);
  ASSERT_TRUE(f);
  EXPECT_EQ(name, CString(L"vol"));  // the 2 x 2 array before it does not fit
  EXPECT_EQ(f->dim.w, 5);
  EXPECT_EQ(f->dim.d, 3);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(twk::voxelValue(f, x, y, z, 0), x + 10 * y + 100 * z);
  PR_FrameDelete(&f);
  // Without a size to fit: the first numeric array; a v4 file of one slice.
  f = VA_LoadMatlabFileLayer(CString::fromUtf8(dir + "m4.mat"), nullptr, &name, true);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->dim.d, 1);
  EXPECT_EQ(twk::voxelValue(f, 4, 3, 0, 0), 34);
  PR_FrameDelete(&f);
  EXPECT_EQ(VA_LoadMatlabFileLayer(CString::fromUtf8(dir + "none.mat"), &dims, nullptr, true), nullptr);
  EXPECT_EQ(ui.lastMessage(), CString(L"VA_LoadMatlabFileLayer : No array of 5 x 4 x 3 voxels is found in ") +
                                  CString::fromUtf8(dir + "none.mat"));
  EXPECT_EQ(VA_LoadMatlabFileLayer(CString::fromUtf8(dir + "bad.mat"), &dims, nullptr, true), nullptr);
  EXPECT_EQ(ui.lastMessage(), CString(L"VA_LoadMatlabFileLayer : Unable to open ") + CString::fromUtf8(dir + "bad.mat"));
}
