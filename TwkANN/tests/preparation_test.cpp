// Training-data preparation on NIfTI files written by nibabel, with the outputs read back by
// nibabel: label-5 slice pairs, the boxes around the region of interest, and the file-name checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "AnnLib.h"
#include "ScriptedUi.h"
#include "TestKit.h"
#include "TestTools.h"

namespace fs = std::filesystem;
using annkit::scratch;
using annkit::wide;
using annkit::startsWith;

namespace {

// Runs a script with Debian's python3 in the folder; its standard output is returned.
std::string python(const fs::path& folder, const std::string& script) {
  const fs::path file = folder / "script.py";
  std::ofstream(file) << "import numpy as np, nibabel as nib, os, sys\nos.chdir('" << folder.string() << "')\n" << script;
  FILE* p = ::popen(("/usr/bin/python3 " + file.string() + " 2>&1").c_str(), "r");
  std::string out;
  char buffer[4096];
  for (size_t n; p && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  const int rc = p ? ::pclose(p) : -1;
  EXPECT_EQ(rc, 0) << out;
  return out;
}

bool nibabelAvailable() { return std::system("/usr/bin/python3 -c 'import nibabel' 2> /dev/null") == 0; }

}  // namespace

TEST(Preparation, Brunet2DPairsOfLabelFive) {
  TWK_REQUIRE_TOOL(nibabelAvailable(), "python3-nibabel of Debian");
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const int64_t baseline = PR_GetTotalAllocSize();
  const fs::path folder = scratch("prep_brunet");
  python(folder, R"(
for case, with5 in (('caseA', True), ('caseB', False)):
    os.makedirs('in/' + case)
    image = (np.arange(320 * 320 * 3).reshape(320, 320, 3) % 1000).astype(np.float32)
    mask = np.zeros((320, 321, 3), np.int16)
    mask[:, :, 0] = 2
    if with5:
        mask[10:20, 300:321, 1] = 5   # the row past 320 is cut off
        mask[40, 40, 1] = 3
    nib.save(nib.Nifti1Image(image, np.eye(4)), f'in/{case}/{case}_preVIBE_3D.nii')
    nib.save(nib.Nifti1Image(mask, np.eye(4)), f'in/{case}/{case}_mask_3D.nii')
os.makedirs('out')
)");
  std::wstring out = wide(folder / "out").wstr();
  ASSERT_TRUE(TWKANN_PrepareTraining_BRUNET2D_Binary(wide(folder / "in"), out.data(), false));
  EXPECT_EQ(script.lastMessage(), L"1 pairs were processed");
  EXPECT_EQ(python(folder, R"(
i = nib.load('out/image_0.nii'); m = nib.load('out/mask_0.nii')
src = (np.arange(320 * 320 * 3).reshape(320, 320, 3) % 1000)[:, :, 1]
print(i.shape, m.shape, int(m.get_fdata().sum()), int(m.get_fdata().max()), bool((i.get_fdata()[:, :, 0] == src).all()),
      os.path.exists('out/image_1.nii'))
)"),
            "(320, 320, 1) (320, 320, 1) 200 1 True False\n");

  // A mask of 320 by 320 pixels, a missing file.
  python(folder, R"(
os.makedirs('bad/caseC')
nib.save(nib.Nifti1Image(np.zeros((320, 320, 2), np.float32), np.eye(4)), 'bad/caseC/caseC_preVIBE_3D.nii')
nib.save(nib.Nifti1Image(np.zeros((320, 320, 2), np.int16), np.eye(4)), 'bad/caseC/caseC_mask_3D.nii')
os.makedirs('missing/caseD')
nib.save(nib.Nifti1Image(np.zeros((320, 320, 2), np.float32), np.eye(4)), 'missing/caseD/caseD_preVIBE_3D.nii')
)");
  EXPECT_FALSE(TWKANN_PrepareTraining_BRUNET2D_Binary(wide(folder / "bad"), out.data(), false));
  EXPECT_EQ(script.lastMessage(), L"TWKANN_PrepareTraining_BRUNET2D_Binary : Incompatible dimensions");
  EXPECT_FALSE(TWKANN_PrepareTraining_BRUNET2D_Binary(wide(folder / "missing"), out.data(), false));
  EXPECT_EQ(script.lastMessage(), L"TWKANN_PrepareTraining_BRUNET2D_Binary : Missing file : " +
                                      wide(folder / "missing" / "caseD" / "caseD_mask_3D.nii"));
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST(Preparation, MinimalAndCommonBoundingBoxes) {
  TWK_REQUIRE_TOOL(nibabelAvailable(), "python3-nibabel of Debian");
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const int64_t baseline = PR_GetTotalAllocSize();
  const fs::path folder = scratch("prep_boxes");
  // Case 3: a region of 41 x 50 x 12 voxels at (5, 6, 4); case 7 a smaller one in a smaller volume.
  // Images and masks are paired by the number in their names.
  python(folder, R"(
for d in ('img', 'seg', 'out', 'common'): os.makedirs(d)
a = np.zeros((60, 70, 20), np.int16); a[5:46, 6:56, 4:16] = 1
nib.save(nib.Nifti1Image(np.full((60, 70, 20), 100, np.int16), np.eye(4)), 'img/case_3.nii')
nib.save(nib.Nifti1Image(a, np.eye(4)), 'seg/seg_3.nii')
b = np.zeros((50, 50, 16), np.int16); b[10:40, 20:40, 3:13] = 1
nib.save(nib.Nifti1Image(np.full((50, 50, 16), 100, np.int16), np.eye(4)), 'img/case_7.nii.gz')
nib.save(nib.Nifti1Image(b, np.eye(4)), 'seg/seg_7.nii')
)");
  ASSERT_TRUE(TWKANN_PrepareTraining_BinarySegmentMinBoundRect(wide(folder), wide(folder / "img"), wide(folder / "seg"), 0,
                                                               1.0, 30.0, 16, wide(folder / "out"), false))
      << script.lastMessage().toUtf8();
  EXPECT_EQ(script.lastMessage(), L"2 pairs were processed");
  // Each case centred on its own region: 41 -> 101 -> 112 wide, 11 more voxels (5 low, 6 high);
  // the box starts at (5-35, 6-31, 4-34) and its first voxel's place is the file's origin.
  EXPECT_EQ(python(folder, R"(
for k in (0, 1):
    i = nib.load(f'out/image_{k}.nii'); m = nib.load(f'out/mask_{k}.nii')
    print(i.shape, m.shape, tuple(float(z) for z in i.header.get_zooms()), int(i.get_fdata().min()),
          int(i.get_fdata().max()), int(m.get_fdata().sum()), [int(round(v)) for v in i.affine[:3, 3]])
)"),
            "(112, 112, 80) (112, 112, 80) (1.0, 1.0, 1.0) -1024 100 24600 [-30, -25, -30]\n"
            "(112, 112, 80) (112, 112, 80) (1.0, 1.0, 1.0) -1024 100 6000 [-31, -26, -32]\n");

  // One common box centred on the volumes: both cases get the same size, a multiple of 16.
  ASSERT_TRUE(TWKANN_PrepareTraining_BinarySegmentCommonBoundRect(wide(folder), wide(folder / "img"), wide(folder / "seg"), 1,
                                                                  1.0, 4.0, 16, wide(folder / "common"), false));
  EXPECT_EQ(python(folder, R"(
shapes = [nib.load(f'common/image_{k}.nii').shape for k in (0, 1)]
print(shapes[0] == shapes[1], all(s % 16 == 0 for s in shapes[0]), int(nib.load('common/image_0.nii').get_fdata().min()),
      [int(nib.load(f'common/mask_{k}.nii').get_fdata().sum()) for k in (0, 1)])
)"),
            "True True 0 [24600, 6000]\n");

  // Names: a repeated number, a different count, an unmatched number.
  python(folder, R"(
for d in ('rep_img', 'rep_seg'): os.makedirs(d)
z = np.zeros((8, 8, 8), np.int16)
for name in ('rep_img/a_1.nii', 'rep_img/b_1.nii', 'rep_seg/m_1.nii', 'rep_seg/m_2.nii'): nib.save(nib.Nifti1Image(z, np.eye(4)), name)
)");
  script.clear();
  EXPECT_FALSE(TWKANN_PrepareTraining_BinarySegmentMinBoundRect(wide(folder), wide(folder / "rep_img"), wide(folder / "rep_seg"), 0,
                                                                1.0, 30.0, 16, wide(folder / "out"), false));
  EXPECT_EQ(script.lastMessage(), L"CheckPresentUniqueIndices : Repeating input file index");
  EXPECT_FALSE(TWKANN_PrepareTraining_BinarySegmentMinBoundRect(wide(folder), wide(folder / "img"), wide(folder / "common"), 0,
                                                                1.0, 30.0, 16, wide(folder / "out"), false));
  EXPECT_EQ(script.lastMessage(), L"TWKANN_PrepareTraining_BinarySegmentMinBoundRect : Different number of input and output files");
  python(folder, "os.rename('seg/seg_7.nii', 'seg/seg_8.nii')\n");
  EXPECT_FALSE(TWKANN_PrepareTraining_BinarySegmentCommonBoundRect(wide(folder), wide(folder / "img"), wide(folder / "seg"), 0,
                                                                   1.0, 30.0, 16, wide(folder / "out"), false));
  EXPECT_TRUE(startsWith(script.lastMessage(), L"TWKANN_PrepareTraining_BinarySegmentCommonBoundRect : Unable to find match for input "));
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}
