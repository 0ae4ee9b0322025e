// ROI algorithms against independent references: scipy.ndimage, scikit-image and numpy run by
// Debian's Python on the same masks (saved as .npy), and closed forms.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "io/ImageFiles.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace {

std::string g_dir;

struct FrameGuard {
  FRAME* f = nullptr;
  FrameGuard() = default;
  explicit FrameGuard(FRAME* frame) : f(frame) {}
  ~FrameGuard() { PR_FrameDelete(&f); }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;
};

// Runs a script with Debian's Python in the test folder (numpy as np, scipy.ndimage as ndi).
bool runPython(const std::string& script) {
  const std::string file = g_dir + "/script.py";
  std::ofstream(file) << "import numpy as np, os\nfrom scipy import ndimage as ndi\nos.chdir(\"" << g_dir << "\")\n"
                      << script;
  FILE* p = ::popen((std::string(TWK_DEBIAN_PYTHON) + " " + file + " 2>&1").c_str(), "r");
  if (!p) return false;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (rc != 0) ADD_FAILURE() << out;
  return rc == 0;
}

// A 3D .npy array (z, y, x) as doubles with its dimensions.
std::vector<double> loadArray(const std::string& name, DIM3D* dims) {
  int ndim = 0;
  uint64_t shape[VA_NUMPY_MAXDIMS] = {};
  DTYPE type = DTYPE_UNKNOWN;
  void* data = nullptr;
  const CString path = CString::fromUtf8(g_dir + "/" + name);
  EXPECT_TRUE(VA_NumpyLoad(path, &ndim, shape, &type, &data, false)) << name;
  std::vector<double> out;
  if (!data) return out;
  EXPECT_EQ(ndim, 3);
  *dims = DIM3D{int(shape[2]), int(shape[1]), int(shape[0]), 1};
  const int64_t n = int64_t(shape[0] * shape[1] * shape[2]);
  out.resize(size_t(n));
  for (int64_t i = 0; i < n; ++i) {
    switch (type) {
      case DTYPE_UINT8: out[size_t(i)] = static_cast<uint8_t*>(data)[i]; break;
      case DTYPE_INT32: out[size_t(i)] = static_cast<int32_t*>(data)[i]; break;
      case DTYPE_FLOAT64: out[size_t(i)] = static_cast<double*>(data)[i]; break;
      default: ADD_FAILURE() << name << ": unexpected element type"; return {};
    }
  }
  pf_free(&data);
  return out;
}

// An ROI frame of the voxels where the array is nonzero (or equals label when given).
FRAME* roiFromArray(const std::vector<double>& a, const DIM3D& dims, double label = -1) {
  std::vector<uint8_t> bytes(a.size());
  for (size_t i = 0; i < a.size(); ++i) bytes[i] = label < 0 ? a[i] != 0 : a[i] == label;
  return VA_CreateVol(bytes.data(), 1, dims.w, dims.h, dims.d, 1);
}

// Voxels where two ROI frames (time point 0) differ.
int64_t differingVoxels(const FRAME* a, const FRAME* b) {
  int64_t n = 0;
  for (int z = 0; z < a->dim.d; ++z)
    for (int y = 0; y < a->dim.h; ++y)
      for (int x = 0; x < a->dim.w; ++x) n += twk::roiBit(a, x, y, z, 0) != twk::roiBit(b, x, y, z, 0);
  return n;
}

class RoiAlgorithms : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* tmp = std::getenv("TWK_TEST_TMP");
    g_dir = std::string(tmp ? tmp : "/tmp") + "/roi_test";
    std::string cmd = "mkdir -p '" + g_dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // Masks and references, made once: random blobs, spheres with holes, a sphere on anisotropic
    // voxels (z, y, x order; spacing 2.5 x 0.7 x 0.7 mm).
    ASSERT_TRUE(runPython(R"(
rng = np.random.default_rng(7)
blobs = ndi.gaussian_filter(rng.random((24, 30, 37)), 1.2) > 0.52
np.save('blobs.npy', blobs.astype(np.uint8))
for c, s in ((6, ndi.generate_binary_structure(3, 1)), (18, ndi.generate_binary_structure(3, 2)),
             (26, np.ones((3, 3, 3)))):
    lab, n = ndi.label(blobs, structure=s)
    np.save('labels%d.npy' % c, lab.astype(np.int32))
lab2d = np.zeros(blobs.shape, np.int32)
largest2d = np.zeros(blobs.shape, np.uint8)
for z in range(blobs.shape[0]):
    lab, n = ndi.label(blobs[z], structure=np.ones((3, 3)))
    if n:
        sizes = ndi.sum(blobs[z], lab, range(1, n + 1))
        largest2d[z] = lab == 1 + int(np.argmax(sizes))
np.save('largest2d.npy', largest2d)
shell = np.zeros((20, 22, 24), bool)
zz, yy, xx = np.mgrid[:20, :22, :24]
r = np.sqrt((zz - 10) ** 2 + (yy - 11) ** 2 + (xx - 12) ** 2)
shell[(r < 8) & (r > 4)] = True
shell[(r < 2)] = True
shell[3:6, 2:5, 2:5] = True
shell[4, 3, 3] = False
np.save('shell.npy', shell.astype(np.uint8))
np.save('filled.npy', ndi.binary_fill_holes(shell).astype(np.uint8))
filled2d = np.stack([ndi.binary_fill_holes(s) for s in shell])
np.save('filled2d.npy', filled2d.astype(np.uint8))
sp = (2.5, 0.7, 0.7)
zz, yy, xx = np.mgrid[:16, :40, :44]
ell = ((zz - 7.3) * sp[0]) ** 2 + ((yy - 19) * sp[1]) ** 2 + ((xx - 21) * sp[2]) ** 2 < 8.0 ** 2
ell[7, 5:9, 30:40] = True
np.save('ellipsoid.npy', ell.astype(np.uint8))
outside = ndi.distance_transform_edt(~ell, sampling=sp)
inside = ndi.distance_transform_edt(ell, sampling=sp)
np.save('outside.npy', outside)
np.save('inside.npy', inside)
np.save('grow.npy', (outside <= 2.0 + 1e-9).astype(np.uint8))
np.save('peel.npy', (ell & (inside > 2.0 + 1e-9)).astype(np.uint8))
)"));
  }
};

TEST_F(RoiAlgorithms, ComponentsMatchScipyLabelForEveryConnectivity) {
  DIM3D dims;
  const std::vector<double> blobs = loadArray("blobs.npy", &dims);
  FrameGuard roi(roiFromArray(blobs, dims));
  ASSERT_TRUE(roi.f);
  for (int connectivity : {6, 18, 26}) {
    SCOPED_TRACE(connectivity);
    DIM3D ldims;
    const std::vector<double> labels = loadArray("labels" + std::to_string(connectivity) + ".npy", &ldims);
    const int expected = int(*std::max_element(labels.begin(), labels.end()));
    ASSERT_GT(expected, 2);
    int count = 0;
    FRAME** parts = VA_RoiSplitConnectedComponents(roi.f, connectivity, &count, false);
    ASSERT_EQ(count, expected);
    // Same components in the same (raster) order as scipy numbers them.
    for (int k = 0; k < count; ++k) {
      FrameGuard reference(roiFromArray(labels, dims, k + 1));
      EXPECT_EQ(differingVoxels(parts[k], reference.f), 0) << "component " << k;
    }
    // The largest component and the boxes agree with the labels as well.
    std::vector<int64_t> sizes(size_t(expected) + 1, 0);
    for (double l : labels) ++sizes[size_t(l)];
    sizes[0] = 0;
    const int64_t biggest = std::max_element(sizes.begin(), sizes.end()) - sizes.begin();
    FrameGuard largest(VA_RoiExtractMaxCC(roi.f, 0, connectivity, false, false));
    FrameGuard reference(roiFromArray(labels, dims, double(biggest)));
    EXPECT_EQ(differingVoxels(largest.f, reference.f), 0);
    int boxes = 0;
    DRECT3D* rects = VA_RoiCCrects(roi.f, &dims, 0, connectivity, &boxes);
    ASSERT_EQ(boxes, expected);
    RECT3D* bound = VA_RoiBoundRect(parts[0]);
    ASSERT_TRUE(bound);
    EXPECT_EQ(rects[0].x0, bound[0].x0);
    EXPECT_EQ(rects[0].x1, bound[0].x1 + 1);
    EXPECT_EQ(rects[0].z1, bound[0].z1 + 1);
    pf_free(&bound);
    pf_free(&rects);
    PR_FrameArrDelete(&parts, count);
  }
  // Per slice, 8-connected: the largest piece of every slice.
  DIM3D sdims;
  FrameGuard largest2d(roiFromArray(loadArray("largest2d.npy", &sdims), sdims));
  FrameGuard mine(VA_RoiExtractMaxCC(roi.f, 0, 26, true, false));
  EXPECT_EQ(differingVoxels(mine.f, largest2d.f), 0);
}

TEST_F(RoiAlgorithms, HolesMatchBinaryFillHolesIn3DAndPerSlice) {
  DIM3D dims;
  const std::vector<double> shell = loadArray("shell.npy", &dims);
  FrameGuard roi(roiFromArray(shell, dims));
  FrameGuard filled(roiFromArray(loadArray("filled.npy", &dims), dims));
  FrameGuard filled2d(roiFromArray(loadArray("filled2d.npy", &dims), dims));

  FrameGuard holes(VA_RoiExtractHoles3D(roi.f, false));
  ASSERT_TRUE(holes.f);
  int64_t holeCount = 0, shellCount = 0, filledCount = 0;
  VA_RoiNumVox(holes.f, 0, -1, &holeCount);
  VA_RoiNumVox(roi.f, -1, -1, &shellCount);
  VA_RoiNumVox(filled.f, 0, -1, &filledCount);
  EXPECT_EQ(holeCount + shellCount, filledCount);

  FrameGuard copy(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_RoiFillHoles3D(copy.f, false));
  EXPECT_EQ(differingVoxels(copy.f, filled.f), 0);

  FrameGuard slices(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_FillSliceContours(slices.f, false));
  EXPECT_EQ(differingVoxels(slices.f, filled2d.f), 0);
}

TEST_F(RoiAlgorithms, PeelGrowAndWaveDistancesMatchScipyOnAnisotropicVoxels) {
  DIM3D dims;
  const SPC spc{0.7, 0.7, 2.5};
  FrameGuard roi(roiFromArray(loadArray("ellipsoid.npy", &dims), dims));
  const std::vector<double> outside = loadArray("outside.npy", &dims);
  const std::vector<double> inside = loadArray("inside.npy", &dims);

  FrameGuard wave(VA_RoiWaveDistance_x100(roi.f, &spc, true, true, false));
  ASSERT_TRUE(wave.f);
  double worst = 0;
  const int64_t n = int64_t(dims.w) * dims.h * dims.d;
  const uint32_t* w = reinterpret_cast<const uint32_t*>(wave.f->data);
  for (int64_t i = 0; i < n; ++i) {
    const double expected = outside[size_t(i)] > 0 ? outside[size_t(i)] : inside[size_t(i)];
    worst = std::max(worst, std::fabs(w[i] / 100.0 - expected));
  }
  EXPECT_LE(worst, 0.01);

  // One side only: the other side is unmeasured.
  FrameGuard in(VA_RoiWaveDistance_x100(roi.f, &spc, true, false, false));
  const uint32_t* v = reinterpret_cast<const uint32_t*>(in.f->data);
  for (int64_t i = 0; i < n; ++i) {
    if (outside[size_t(i)] > 0) { ASSERT_EQ(v[i], VOID_INT_VALUE); }
  }

  FrameGuard grown(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_RoiInflate(grown.f, &spc, true, true, 2.0, 2.0, 2.0, false));
  FrameGuard grow(roiFromArray(loadArray("grow.npy", &dims), dims));
  EXPECT_EQ(differingVoxels(grown.f, grow.f), 0);
  FrameGuard peeled(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_RoiDeflate(peeled.f, &spc, true, true, 2.0, 2.0, 2.0, false));
  FrameGuard peel(roiFromArray(loadArray("peel.npy", &dims), dims));
  EXPECT_EQ(differingVoxels(peeled.f, peel.f), 0);
}

TEST_F(RoiAlgorithms, SliceModeNeverReachesAcrossSlicesAndBadRadiiAreRefused) {
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{9, 9, 3, 2}, true));
  twk::setRoiBit(roi.f, 4, 4, 1, 0, true);
  twk::setRoiBit(roi.f, 4, 4, 1, 1, true);
  FrameGuard before(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_RoiInflate(roi.f, nullptr, false, false, 1.0, 1.0, 1.0, false));
  int64_t n = 0;
  VA_RoiNumVox(roi.f, 0, 1, &n);
  EXPECT_EQ(n, 5);  // the 4-neighbourhood in its own slice
  VA_RoiNumVox(roi.f, 0, 0, &n);
  EXPECT_EQ(n, 0);
  VA_RoiNumVox(roi.f, 1, -1, &n);
  EXPECT_EQ(n, 1);  // time point 1 untouched without allTimePoints

  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  FrameGuard copy(VA_VolClone(roi.f));
  for (double r : {0.0, -1.0, std::nan("")}) {
    EXPECT_FALSE(VA_RoiDeflate(roi.f, nullptr, true, true, r, 1.0, 1.0, true));
    EXPECT_EQ(script.lastMessage(), CString(L"VA_RoiDeflate : Radius should be positive"));
  }
  EXPECT_EQ(std::memcmp(roi.f->data, copy.f->data, PR_FrameMemSize(roi.f)), 0);
}

TEST_F(RoiAlgorithms, MassCentreDiceAndHausdorffOfOffsetShapes) {
  // Centres in voxel coordinates; a and b 20 voxels apart along x, c half over a.
  const DIM3D dims{60, 40, 20, 1};
  FrameGuard a(PR_FrameCreate(FRM_ROI, 1, dims, true)), b(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const RECT3D boxA{10, 10, 5, 19, 19, 9}, boxB{30, 10, 5, 39, 19, 9};
  ASSERT_TRUE(VA_VolFillBox(a.f, 0, &boxA, true, 1.0));
  ASSERT_TRUE(VA_VolFillBox(b.f, 0, &boxB, true, 1.0));
  DPOINT3D ca, cb;
  ASSERT_TRUE(VA_RoiGetMassCenter(a.f, 0, &ca));
  ASSERT_TRUE(VA_RoiGetMassCenter(b.f, 0, &cb));
  EXPECT_DOUBLE_EQ(ca.x, 14.5);
  EXPECT_DOUBLE_EQ(cb.x - ca.x, 20.0);
  EXPECT_DOUBLE_EQ(cb.z, 7.0);

  double dice = -1;
  int64_t na = 0, nb = 0;
  ASSERT_TRUE(VA_MeasureDICE(a.f, 0, b.f, 0, 0, dims.d - 1, &dice, &na, &nb));
  EXPECT_EQ(dice, 0.0);
  EXPECT_EQ(na, 500);
  // Overlapping half: boxes x 10..19 and 15..24 share 5 of 10 columns.
  FrameGuard c(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const RECT3D boxC{15, 10, 5, 24, 19, 9};
  VA_VolFillBox(c.f, 0, &boxC, true, 1.0);
  ASSERT_TRUE(VA_MeasureDICE(a.f, 0, c.f, 0, 0, dims.d - 1, &dice, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(dice, 0.5);
  ASSERT_TRUE(VA_MeasureDICE(a.f, 0, c.f, 0, 7, 7, &dice, nullptr, nullptr));
  EXPECT_DOUBLE_EQ(dice, 0.5);

  // Hausdorff of two cubes shifted by 5 voxels in x on 0.7 mm: every voxel moves 3.5 mm.
  const SPC spc{0.7, 0.8, 2.5};
  double hd = 0, avg = 0;
  ASSERT_TRUE(VA_HausfdoffDist(false, a.f, c.f, &spc, &hd, &avg));
  EXPECT_NEAR(hd, 3.5, 1e-6);
  ASSERT_TRUE(VA_HausfdoffDist(true, a.f, c.f, &spc, &hd, &avg));
  EXPECT_NEAR(hd, 3.5, 1e-6);
  EXPECT_GT(avg, 0.0);
  FrameGuard empty(PR_FrameCreate(FRM_ROI, 1, dims, true));
  EXPECT_FALSE(VA_HausfdoffDist(false, a.f, empty.f, &spc, &hd, &avg));
}

TEST_F(RoiAlgorithms, EmptyChecksAndTimePointCrops) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{5, 5, 2, 3}, true));
  EXPECT_TRUE(VA_CheckRoiIsEmpty(true, roi.f, nullptr, nullptr, L"lesion"));
  EXPECT_EQ(script.lastMessage(), CString(L"lesion - ROI is empty"));
  EXPECT_FALSE(VA_RoiBoundRect(roi.f));
  twk::setRoiBit(roi.f, 1, 2, 1, 2, true);
  const int t0 = 0, t2 = 2;
  EXPECT_TRUE(VA_CheckRoiIsEmpty(false, roi.f, &t0, nullptr));
  EXPECT_FALSE(VA_CheckRoiIsEmpty(false, roi.f, &t2, nullptr));
  RECT3D* boxes = VA_RoiBoundRect(roi.f);
  ASSERT_TRUE(boxes);
  EXPECT_EQ(boxes[0].x0, -1);
  EXPECT_EQ(boxes[2].x0, 1);
  EXPECT_EQ(boxes[2].z1, 1);
  pf_free(&boxes);
  FrameGuard one(VA_VolCropTimepoint(roi.f, 2));
  ASSERT_TRUE(one.f);
  EXPECT_EQ(one.f->dim.t, 1);
  EXPECT_TRUE(twk::roiBit(one.f, 1, 2, 1, 0));
  EXPECT_FALSE(VA_VolCropTimepoint(roi.f, 3));
  // An empty ROI splits into nothing; a missing one is refused by name.
  int count = -1;
  FrameGuard empty(PR_FrameCreate(FRM_ROI, 1, DIM3D{4, 4, 4, 1}, true));
  EXPECT_FALSE(VA_RoiSplitConnectedComponents(empty.f, 26, &count, false));
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(VA_RoiExtractMaxCC(nullptr, 0, 26, false, true));
  EXPECT_EQ(script.lastMessage(), CString(L"VA_RoiExtractMaxCC : ROI is required"));
}

}  // namespace
