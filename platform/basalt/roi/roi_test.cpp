// ROI algorithms against independent references: scipy.ndimage, scikit-image and numpy run by
// Debian's Python on the same masks (saved as .npy), and closed forms.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "io/ImageFiles.h"
#include "roi/RoiComponents.h"
#include "ops/BodyForeground.h"
#include "roi/MultiLayer.h"
#include "roi/NoduleVolume.h"
#include "roi/RoiDistance.h"
#include "roi/RoiShape.h"
#include "roi/RoiStatistics.h"
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
    g_dir = twk::testing::testFolder("roi_test").string();
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
from skimage.morphology import convex_hull_image, remove_small_objects, remove_small_holes
hull_in = np.zeros((3, 30, 34), bool)
hull_in[0, 5:9, 4:20] = True
hull_in[0, 20:25, 10:13] = True
hull_in[1, 3, 3] = True
hull_in[1, 26, 30] = True
hull_in[1, 10, 28] = True
np.save('hull_in.npy', hull_in.astype(np.uint8))
np.save('hull.npy', np.stack([convex_hull_image(s) if s.any() else s for s in hull_in]).astype(np.uint8))
sp_in = rng.random((4, 28, 31)) > 0.55
np.save('sp_in.npy', sp_in.astype(np.uint8))
clean = np.stack([remove_small_holes(remove_small_objects(s, 5, connectivity=1), 5, connectivity=1) for s in sp_in])
np.save('sp_out.npy', clean.astype(np.uint8))
from skimage.filters import threshold_otsu
from sklearn.mixture import GaussianMixture
two = np.concatenate([rng.normal(100, 12, 6000), rng.normal(200, 15, 4000)])
two = np.clip(np.round(two), 0, 400).reshape(10, 25, 40)
np.save('two.npy', two.astype(np.float64))
edges = np.linspace(two.min(), two.max(), 101)
hist = np.histogram(two, bins=edges)[0]
centres = (edges[:-1] + edges[1:]) / 2
with open('otsu.txt', 'w') as f:
    f.write('%.6f\n' % threshold_otsu(hist=(hist, centres)))
gm = GaussianMixture(2, random_state=0).fit(two.reshape(-1, 1))
m = np.sort(gm.means_.ravel())
xs = np.linspace(m[0], m[1], 20001).reshape(-1, 1)
cls = gm.predict(xs)
change = xs[np.argmax(cls != cls[0]), 0]
with open('gmm.txt', 'w') as f:
    f.write('%.6f %.6f %.6f\n' % (m[0], m[1], change))
ja = rng.integers(0, 60, (6, 20, 25)).astype(np.float64)
jb = np.round(0.5 * ja + rng.normal(0, 6, ja.shape)) + 200
jroi = rng.random(ja.shape) > 0.3
np.save('ja.npy', ja)
np.save('jb.npy', jb)
np.save('jroi.npy', jroi.astype(np.uint8))
np.save('joint.npy', np.histogram2d(ja[jroi], jb[jroi], bins=16)[0].T[None].copy())
np.save('joint_all.npy', np.histogram2d(ja.ravel(), jb.ravel(), bins=7)[0].T[None].copy())
base = rng.normal(0, 1, (3, 8, 12, 14))
mix = np.array([[3, 1, 0.5], [1, -2, 0.2], [0.5, 0.5, 1], [2, 0, -1]])
pv = np.tensordot(mix, base, 1) + np.arange(4).reshape(4, 1, 1, 1) * 10
for t in range(4):
    np.save('pv%d.npy' % t, pv[t])
xc = pv.reshape(4, -1).T
xc = xc - xc.mean(0)
u, s, vt = np.linalg.svd(xc, full_matrices=False)
scores = xc @ vt.T
for j in range(2):
    np.save('pc%d.npy' % j, scores[:, j].reshape(pv.shape[1:]))
from skimage.segmentation import watershed
from skimage.feature import peak_local_max
zz, yy, xx = np.mgrid[:30, :30, :44]
spheres = ((zz - 15) ** 2 + (yy - 15) ** 2 + (xx - 13) ** 2 < 81) | ((zz - 15) ** 2 + (yy - 15) ** 2 + (xx - 29) ** 2 < 81)
spheres[2:5, 2:5, 38:41] = True
np.save('spheres.npy', spheres.astype(np.uint8))
dist = ndi.distance_transform_edt(spheres)
peaks = peak_local_max(dist, labels=ndi.label(spheres)[0], min_distance=5, exclude_border=False)
markers = np.zeros(spheres.shape, np.int32)
for i, p in enumerate(peaks):
    markers[tuple(p)] = i + 1
np.save('unclumped.npy', watershed(-dist, markers, mask=spheres).astype(np.int32))
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

TEST_F(RoiAlgorithms, HullsAndSaltAndPepperMatchScikitImage) {
  DIM3D dims;
  FrameGuard in(roiFromArray(loadArray("hull_in.npy", &dims), dims));
  FrameGuard expected(roiFromArray(loadArray("hull.npy", &dims), dims));
  FrameGuard hull(VA_RoiConvexHull2D(in.f, false));
  ASSERT_TRUE(hull.f);
  // Within one voxel: only voxels on the hull's edge may differ.
  int64_t n = 0, differ = differingVoxels(hull.f, expected.f);
  VA_RoiNumVox(expected.f, 0, -1, &n);
  EXPECT_LE(differ, n / 50) << differ << " of " << n;

  FrameGuard noisy(roiFromArray(loadArray("sp_in.npy", &dims), dims));
  FrameGuard clean(roiFromArray(loadArray("sp_out.npy", &dims), dims));
  VA_SALTPEPPER record;
  record.pepperThreshold = 5;
  record.saltThreshold = 5;
  FrameGuard filtered(VA_FilterSaltPepper(&record, noisy.f, false));
  ASSERT_TRUE(filtered.f);
  EXPECT_EQ(differingVoxels(filtered.f, clean.f), 0);
}

TEST_F(RoiAlgorithms, SkeletonOfACylinderIsItsAxisAndASphereHasItsRadiusAsDepth) {
  // A cylinder of radius 4 along z, from slice 3 to 26.
  const DIM3D dims{21, 21, 30, 1};
  FrameGuard cyl(PR_FrameCreate(FRM_ROI, 1, dims, true));
  for (int z = 3; z <= 26; ++z)
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 21; ++x)
        if ((x - 10) * (x - 10) + (y - 10) * (y - 10) <= 16) twk::setRoiBit(cyl.f, x, y, z, 0, true);
  FrameGuard skeleton(VA_RoiMakeMiddlePlain(cyl.f, 1.0, nullptr));
  ASSERT_TRUE(skeleton.f);
  int64_t n = 0;
  VA_RoiNumVox(skeleton.f, 0, -1, &n);
  EXPECT_GE(n, 15);
  for (int z = 0; z < 30; ++z)
    for (int y = 0; y < 21; ++y)
      for (int x = 0; x < 21; ++x)
        if (twk::roiBit(skeleton.f, x, y, z, 0)) {
          EXPECT_LE(std::abs(x - 10), 1);
          EXPECT_LE(std::abs(y - 10), 1);
        }
  int parts = 0;
  FRAME** pieces = VA_RoiSplitConnectedComponents(skeleton.f, 26, &parts, false);
  EXPECT_EQ(parts, 1);
  PR_FrameArrDelete(&pieces, parts);

  // A ball of radius 6 mm on 0.5 mm voxels: its ridge and medial axis lie at depth 6.
  const DIM3D ball{31, 31, 31, 1};
  FrameGuard sphere(PR_FrameCreate(FRM_ROI, 1, ball, true));
  for (int z = 0; z < 31; ++z)
    for (int y = 0; y < 31; ++y)
      for (int x = 0; x < 31; ++x)
        if ((x - 15) * (x - 15) + (y - 15) * (y - 15) + (z - 15) * (z - 15) <= 144) twk::setRoiBit(sphere.f, x, y, z, 0, true);
  const SPC half{0.5, 0.5, 0.5};
  for (bool blum : {false, true}) {
    SCOPED_TRACE(blum);
    double depth = 0;
    FrameGuard axis(blum ? VA_MAT3D_Blums(sphere.f, &half, 1.0, &depth, false) : VA_RoiMAT(sphere.f, &half, 1.0, &depth, false));
    ASSERT_TRUE(axis.f);
    EXPECT_NEAR(depth, 6.0, 0.6);
  }
}

TEST_F(RoiAlgorithms, InterpolationCylindersAnd4DConversion) {
  // Squares drawn on slices 0 and 4 (sides 3 and 7): the morph fills 1..3 with growing squares.
  const DIM3D dims{12, 12, 5, 1};
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const RECT3D a{4, 4, 0, 6, 6, 0}, b{2, 2, 4, 8, 8, 4};
  VA_VolFillBox(roi.f, 0, &a, true, 1.0);
  VA_VolFillBox(roi.f, 0, &b, true, 1.0);
  FrameGuard morphed(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_RoiIntersliceMorph(morphed.f, false, false));
  int64_t counts[5];
  for (int z = 0; z < 5; ++z) VA_RoiNumVox(morphed.f, 0, z, &counts[z]);
  EXPECT_EQ(counts[0], 9);
  EXPECT_EQ(counts[4], 49);
  EXPECT_EQ(counts[2], 25);  // half way: side 5
  for (int z = 0; z < 4; ++z) EXPECT_LE(counts[z], counts[z + 1]);
  // The arc variant follows the centroids: a square moved from x 2..4 to x 7..9 passes through the middle.
  FrameGuard shifted(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const RECT3D c{2, 4, 0, 4, 6, 0}, d{7, 4, 4, 9, 6, 4};
  VA_VolFillBox(shifted.f, 0, &c, true, 1.0);
  VA_VolFillBox(shifted.f, 0, &d, true, 1.0);
  FrameGuard arc(VA_RoiIntesliceArcMorph(shifted.f, true, false));
  ASSERT_TRUE(arc.f);
  DPOINT3D centre;
  FrameGuard middle(VA_VolClone(arc.f));
  const RECT3D keep{0, 0, 2, 11, 11, 2};
  VA_VolFillBox(middle.f, 0, &keep, false, 0.0);
  ASSERT_TRUE(VA_RoiGetMassCenter(middle.f, 0, &centre));
  EXPECT_NEAR(centre.x, 5.5, 0.6);
  int64_t mid = 0;
  VA_RoiNumVox(arc.f, 0, 2, &mid);
  EXPECT_NEAR(double(mid), 9.0, 3.0);

  // Cylinders: union and intersection of the two squares in every slice.
  FrameGuard uni(VA_VolClone(roi.f)), inter(VA_VolClone(roi.f));
  ASSERT_TRUE(VA_FormCylinderFrom2Dcontours(uni.f, 0, false));
  ASSERT_TRUE(VA_FormCylinderFrom2Dcontours(inter.f, 1, false));
  int64_t nu = 0, ni = 0;
  VA_RoiNumVox(uni.f, 0, -1, &nu);
  VA_RoiNumVox(inter.f, 0, -1, &ni);
  EXPECT_EQ(nu, 49 * 5);
  EXPECT_EQ(ni, 9 * 5);

  const DIM3D dims4{12, 12, 5, 3};
  FrameGuard four(VA_RoiConvert3Dto4D(roi.f, 1, &dims4));
  ASSERT_TRUE(four.f);
  int64_t at[3];
  for (int t = 0; t < 3; ++t) VA_RoiNumVox(four.f, t, -1, &at[t]);
  EXPECT_EQ(at[0], 0);
  EXPECT_EQ(at[1], 58);
  EXPECT_EQ(at[2], 0);
  const DIM3D wrong{12, 11, 5, 3};
  EXPECT_FALSE(VA_RoiConvert3Dto4D(roi.f, 1, &wrong));
}
double readNumber(const std::string& name, int index = 0) {
  std::ifstream in(g_dir + "/" + name);
  double v = 0;
  for (int i = 0; i <= index; ++i) in >> v;
  return v;
}

TEST_F(RoiAlgorithms, StatisticsOfAKnownRamp) {
  // 0..999 in a 10 x 10 x 10 integer volume: mean 499.5, population SD 288.675.
  FrameGuard ramp(PR_FrameCreate(FRM_INT, 16, DIM3D{10, 10, 10, 1}, false));
  for (int i = 0; i < 1000; ++i) reinterpret_cast<uint16_t*>(ramp.f->data)[i] = uint16_t(i);
  VA_ROIINFO info;
  uint64_t* histogram = VA_VolCalcRoiInfo(false, ramp.f, 0, nullptr, 0, 0, 999, true, VOID_VALUE, 100, &info);
  ASSERT_TRUE(histogram);
  EXPECT_DOUBLE_EQ(info.mean, 499.5);
  EXPECT_NEAR(info.stdev, 288.675, 5e-4);
  EXPECT_DOUBLE_EQ(info.median, 499.5);
  EXPECT_DOUBLE_EQ(info.percentile[0], 9.99);  // numpy: percentile(0..999, 1)
  EXPECT_EQ(info.count, 1000u);
  EXPECT_NEAR(info.skewness, 0.0, 1e-12);
  EXPECT_NEAR(info.kurtosis, -1.2, 1e-5);
  EXPECT_NEAR(info.entropy, std::log(100.0), 1e-12);
  for (int b = 0; b < 100; ++b) EXPECT_EQ(histogram[b], 10u);
  pf_free(&histogram);

  // A mask and a range: only the voxels inside both count when clipping.
  FrameGuard mask(PR_FrameCreate(FRM_ROI, 1, DIM3D{10, 10, 10, 1}, true));
  const RECT3D half{0, 0, 0, 9, 9, 4};
  VA_VolFillBox(mask.f, 0, &half, true, 1.0);
  histogram = VA_VolCalcRoiInfo(false, ramp.f, 0, mask.f, 0, 100, 299, true, 10.0, 0, &info);
  ASSERT_TRUE(histogram);
  EXPECT_EQ(info.count, 200u);
  EXPECT_DOUBLE_EQ(info.mean, 199.5);
  pf_free(&histogram);
  double lo = 0, hi = 0;
  ASSERT_TRUE(VA_VolRangePercent(ramp.f, 0, 0, 100, &lo, &hi));
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 999.0);
  double width = VOID_VALUE;
  int bins = 0;
  EXPECT_FALSE(VA_CalcRangeBins(0, 10, &width, &bins));
  width = 3.0;
  ASSERT_TRUE(VA_CalcRangeBins(0, 10, &width, &bins));
  EXPECT_EQ(bins, 4);
  // A completed pair stays as it is (the width the user gave is not re-derived from the count)
  // until the range no longer fits it; then the count is kept.
  ASSERT_TRUE(VA_CalcRangeBins(0, 10, &width, &bins));
  EXPECT_EQ(width, 3.0);
  EXPECT_EQ(bins, 4);
  ASSERT_TRUE(VA_CalcRangeBins(0, 20, &width, &bins));
  EXPECT_EQ(width, 5.0);
  EXPECT_EQ(bins, 4);

  // Conversions: threshold, division, inversion and the clamped linear map.
  FrameGuard band(VA_VolThreshold(ramp.f, 0, 100, 199, false));
  int64_t n = 0;
  VA_RoiNumVox(band.f, 0, -1, &n);
  EXPECT_EQ(n, 100);
  FrameGuard divided(VA_VolSubAndDivide(FRM_REAL, ramp.f, 499.5, 2.0, false));
  EXPECT_DOUBLE_EQ(reinterpret_cast<double*>(divided.f->data)[999], 249.75);
  EXPECT_FALSE(VA_VolSubAndDivide(FRM_REAL, ramp.f, 0, 1e-101, false));
  FrameGuard inverted(VA_VolClone(ramp.f));
  ASSERT_TRUE(VA_VolInvert(inverted.f, false));
  EXPECT_EQ(reinterpret_cast<uint16_t*>(inverted.f->data)[0], 999);
  VA_LINCONV conversion{2.0, 10.0, 50.0, 900.0};
  FrameGuard converted(VA_VolClone(ramp.f));
  ASSERT_TRUE(VA_VolLinearConversionWithClamp(converted.f, &conversion, mask.f, false));
  const uint16_t* cv = reinterpret_cast<uint16_t*>(converted.f->data);
  EXPECT_EQ(cv[0], 50);
  EXPECT_EQ(cv[100], 210);
  EXPECT_EQ(cv[499], 900);
  EXPECT_EQ(cv[500], 500);  // outside the mask
}

TEST_F(RoiAlgorithms, HistogramSplitsMatchOtsuAndAGaussianMixture) {
  DIM3D dims;
  const std::vector<double> two = loadArray("two.npy", &dims);
  FrameGuard volume(VA_CreateVol(two.data(), 64, dims.w, dims.h, dims.d, 1));
  double lo = 0, hi = 0;
  ASSERT_TRUE(VA_VolRangePercent(volume.f, 0, 0, 100, &lo, &hi));
  VA_ROIINFO info;
  uint64_t* histogram = VA_VolCalcRoiInfo(false, volume.f, 0, nullptr, 0, lo, hi, true, VOID_VALUE, 100, &info);
  ASSERT_TRUE(histogram);
  const double step = (hi - lo) / 100;
  double residual = 0, peak = 0, mass = 0;
  int* cuts = VA_SegHist(histogram, 100, VA_HISTSEG_OTSU, 2, nullptr, nullptr, &residual, &peak, &mass, false);
  ASSERT_TRUE(cuts);
  const double otsu = lo + cuts[1] * step;
  EXPECT_NEAR(otsu, 150.0, 3.0);
  // scikit-image's threshold is a bin centre; ours is the first bin of the upper class.
  EXPECT_NEAR(otsu, readNumber("otsu.txt"), step);
  EXPECT_EQ(cuts[0], 0);
  EXPECT_EQ(cuts[2], 100);
  pf_free(&cuts);

  double* models = nullptr;
  cuts = VA_SegHist(histogram, 100, VA_HISTSEG_GMM, 2, nullptr, &models, &residual, &peak, &mass, false);
  ASSERT_TRUE(cuts && models);
  EXPECT_NEAR(lo + cuts[1] * step, readNumber("gmm.txt", 2), 1.5 * step);
  EXPECT_NEAR(mass, 4000.0 / 6000.0, 0.05);
  pf_free(&cuts);
  pf_free(&models);

  VA_BIMODALSPLIT record;
  for (int method : {VA_HISTSEG_BIGAUSS, VA_HISTSEG_BILAPLACE}) {
    SCOPED_TRACE(method);
    cuts = VA_SegHist(histogram, 100, method, 2, &record, &models, &residual, &peak, &mass, false);
    ASSERT_TRUE(cuts && models);
    EXPECT_NEAR(lo + cuts[1] * step, 150.0, 12.0);
    EXPECT_GE(peak, record.peakRatioLow);
    EXPECT_LE(peak, record.peakRatioHigh);
    pf_free(&cuts);
    pf_free(&models);
  }
  EXPECT_FALSE(VA_SegHist(histogram, 100, VA_HISTSEG_BIGAUSS, 3, &record, nullptr, nullptr, nullptr, nullptr, false));
  pf_free(&histogram);
}
TEST_F(RoiAlgorithms, RingProfilesFollowTheDepthFromTheSurface) {
  // A 7^3 cube in a 9^3 volume whose voxels hold their depth in voxels (1 on the surface shell,
  // 4 at the centre): ring k holds exactly the voxels of value k + 1.
  const DIM3D dims{9, 9, 9, 1};
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, dims, true)), volume(PR_FrameCreate(FRM_REAL, 64, dims, true));
  for (int z = 1; z <= 7; ++z)
    for (int y = 1; y <= 7; ++y)
      for (int x = 1; x <= 7; ++x) {
        twk::setRoiBit(roi.f, x, y, z, 0, true);
        const int depth = std::min({x, y, z, 8 - x, 8 - y, 8 - z});
        twk::setVoxelValue(volume.f, x, y, z, 0, double(depth) + (x % 2) * 0.5);
      }
  double *mean = nullptr, *sd = nullptr, *median = nullptr;
  int rings = 0;
  ASSERT_TRUE(VA_RoiGetPeelProfile(volume.f, 0, roi.f, 1, &mean, &sd, nullptr, nullptr, &median, &rings, false));
  ASSERT_EQ(rings, 4);
  EXPECT_NEAR(mean[3], 4.0, 1e-12);  // the centre voxel, x = 4
  EXPECT_EQ(sd[3], 0.0);
  // The surface shell: 218 voxels, odd x among them 0.5 higher.
  int odd = 0, all = 0;
  for (int z = 1; z <= 7; ++z)
    for (int y = 1; y <= 7; ++y)
      for (int x = 1; x <= 7; ++x)
        if (std::min({x, y, z, 8 - x, 8 - y, 8 - z}) == 1) {
          ++all;
          odd += x % 2;
        }
  const double p = double(odd) / all;
  EXPECT_NEAR(mean[0], 1.0 + 0.5 * p, 1e-12);
  EXPECT_NEAR(sd[0], 0.5 * std::sqrt(p * (1 - p)), 1e-12);
  EXPECT_EQ(median[0], 1.5);
  pf_free(&mean);
  pf_free(&sd);
  pf_free(&median);
  EXPECT_FALSE(VA_RoiGetPeelProfile(volume.f, 0, roi.f, 0, &mean, nullptr, nullptr, nullptr, nullptr, &rings, false));
}
TEST_F(RoiAlgorithms, JointHistogramMatchesNumpyHistogram2d) {
  DIM3D dims, rdims, hdims;
  const std::vector<double> a = loadArray("ja.npy", &dims), b = loadArray("jb.npy", &dims);
  FrameGuard fa(VA_CreateVol(a.data(), 64, dims.w, dims.h, dims.d, 1));
  FrameGuard fb(VA_CreateVol(b.data(), 64, dims.w, dims.h, dims.d, 1));
  FrameGuard roi(roiFromArray(loadArray("jroi.npy", &rdims), rdims));
  for (const auto& [file, bins, mask] : {std::tuple{"joint.npy", 16, roi.f}, std::tuple{"joint_all.npy", 7,
                                                                                        static_cast<FRAME*>(nullptr)}}) {
    SCOPED_TRACE(file);
    const std::vector<double> expected = loadArray(file, &hdims);
    FrameGuard joint(VA_CalcJointHist(fa.f, fb.f, mask, bins, false));
    ASSERT_TRUE(joint.f);
    ASSERT_EQ(joint.f->dim.w, bins);
    ASSERT_EQ(joint.f->dim.h, bins);
    const double* h = reinterpret_cast<const double*>(joint.f->data);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(h[i], expected[i]) << i;
  }
  for (int bins : {0, 1, 4097}) EXPECT_FALSE(VA_CalcJointHist(fa.f, fb.f, nullptr, bins, false)) << bins;
  FrameGuard empty(PR_FrameCreate(FRM_ROI, 1, dims, true));
  EXPECT_FALSE(VA_CalcJointHist(fa.f, fb.f, empty.f, 8, false));
}

TEST_F(RoiAlgorithms, PrincipalComponentsMatchNumpySvdUpToSign) {
  DIM3D dims;
  std::vector<std::vector<double>> arrays;
  std::vector<FrameGuard> guards(4);
  std::vector<const FRAME*> frames;
  for (int t = 0; t < 4; ++t) {
    arrays.push_back(loadArray("pv" + std::to_string(t) + ".npy", &dims));
    guards[size_t(t)].f = VA_CreateVol(arrays.back().data(), 64, dims.w, dims.h, dims.d, 1);
    frames.push_back(guards[size_t(t)].f);
  }
  FrameGuard stack(VA_VolArrTo4D(frames.data(), 4, false));
  ASSERT_TRUE(stack.f);
  ASSERT_EQ(stack.f->dim.t, 4);
  FrameGuard pca(VA_Vol4DtoPCA(stack.f, 2, false));
  ASSERT_TRUE(pca.f);
  ASSERT_EQ(pca.f->dim.t, 2);
  for (int j = 0; j < 2; ++j) {
    SCOPED_TRACE(j);
    const std::vector<double> expected = loadArray("pc" + std::to_string(j) + ".npy", &dims);
    const double* got = reinterpret_cast<const double*>(twk::frameLine(pca.f, 0, 0, j));
    const double sign = got[0] * expected[0] < 0 ? -1.0 : 1.0;
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_NEAR(sign * got[i], expected[i], 1e-8) << i;
  }
  for (int k : {0, 5}) EXPECT_FALSE(VA_Vol4DtoPCA(stack.f, k, false)) << k;
}

TEST_F(RoiAlgorithms, UnclumpSplitsTouchingSpheresAsTheWatershedDoes) {
  DIM3D dims;
  FrameGuard roi(roiFromArray(loadArray("spheres.npy", &dims), dims));
  const std::vector<double> reference = loadArray("unclumped.npy", &dims);
  const SPC spc{1.0, 1.0, 1.0};
  FrameGuard labels(VA_RoiUnlump(roi.f, &spc, 0.0, VOID_VALUE, false));
  ASSERT_TRUE(labels.f);
  // Two spheres and the small cube, numbered by size: the cube is label 3.
  const uint32_t* l = reinterpret_cast<const uint32_t*>(labels.f->data);
  const int64_t n = int64_t(reference.size());
  EXPECT_EQ(*std::max_element(l, l + n), 3u);
  for (uint32_t label = 1; label <= 3; ++label) {
    // The reference part that overlaps this label most, and their DICE.
    std::vector<int64_t> overlap(8, 0);
    int64_t ours = 0;
    for (int64_t i = 0; i < n; ++i)
      if (l[i] == label) {
        ++ours;
        ++overlap[size_t(reference[size_t(i)])];
      }
    const size_t best = size_t(std::max_element(overlap.begin() + 1, overlap.end()) - overlap.begin());
    const int64_t theirs = std::count(reference.begin(), reference.end(), double(best));
    EXPECT_GE(2.0 * double(overlap[best]) / double(ours + theirs), 0.95) << label;
  }
  // Peeled markers: the spheres' cores deeper than 5 mm are two markers; the cube keeps its own.
  FrameGuard peeled(VA_RoiUnlump(roi.f, &spc, 5.0, VOID_VALUE, false));
  ASSERT_TRUE(peeled.f);
  const uint32_t* p = reinterpret_cast<const uint32_t*>(peeled.f->data);
  EXPECT_EQ(*std::max_element(p, p + n), 3u);
  FrameGuard empty(PR_FrameCreate(FRM_ROI, 1, dims, true));
  EXPECT_FALSE(VA_RoiUnlump(empty.f, &spc, 0.0, VOID_VALUE, false));
  EXPECT_FALSE(VA_RoiUnlump(roi.f, &spc, -1.0, VOID_VALUE, false));
}

TEST(MultiLayer, ProbabilityAtlasAndTemplateSharpening) {
  const double p1[] = {0.2, 0.7, 0.0, 0.5}, p2[] = {0.6, 0.1, 0.0, 0.5};
  FrameGuard m1(VA_CreateVol(p1, 64, 4, 1, 1, 1)), m2(VA_CreateVol(p2, 64, 4, 1, 1, 1));
  const FRAME* maps[] = {m1.f, m2.f};
  FrameGuard atlas(VA_CombineProbabMapsIntoAtlas(maps, 2, false));
  ASSERT_TRUE(atlas.f);
  const uint32_t* a = reinterpret_cast<const uint32_t*>(atlas.f->data);
  EXPECT_EQ(std::vector<uint32_t>(a, a + 4), (std::vector<uint32_t>{2, 1, 0, 1}));  // ties: the first
  const double t[] = {10, 20, 5, 40};
  FrameGuard templ(VA_CreateVol(t, 64, 4, 1, 1, 1));
  FrameGuard sharp(VA_SharpenTemplateUsingAtlas(templ.f, atlas.f, false));
  ASSERT_TRUE(sharp.f);
  const double* s = reinterpret_cast<const double*>(sharp.f->data);
  EXPECT_EQ(std::vector<double>(s, s + 4), (std::vector<double>{10, 30, 5, 30}));
  FrameGuard other(PR_FrameCreate(FRM_REAL, 64, DIM3D{3, 1, 1, 1}, true));
  const FRAME* mismatched[] = {m1.f, other.f};
  EXPECT_FALSE(VA_CombineProbabMapsIntoAtlas(mismatched, 2, false));
  EXPECT_FALSE(VA_SharpenTemplateUsingAtlas(templ.f, other.f, false));
}
}  // namespace

// A Gaussian-blurred ball: the closed-form blur of a ball of radius r (mm) by sigma (mm) at distance
// d from its centre, as the share of the ball's contrast.
double blurredBall(double d, double r, double sigma) {
  const double s2 = sigma * std::sqrt(2.0);
  double v = 0.5 * (std::erf((r - d) / s2) + std::erf((r + d) / s2));
  if (d > 1e-9)
    v -= sigma / (d * std::sqrt(2 * M_PI)) *
         (std::exp(-(r - d) * (r - d) / (2 * sigma * sigma)) - std::exp(-(r + d) * (r + d) / (2 * sigma * sigma)));
  return v;
}

TEST(NoduleVolume, BlurredSphereVolumeWithinFivePercentAndAVesselLeftOut) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const SPC spacing{0.7, 0.7, 1.25};
  const DIM3D dims{48, 40, 24, 1};
  const double radius = 5.0, sigma = 1.0, truth = 4.0 / 3.0 * M_PI * radius * radius * radius;
  const VA_VOLNODEPARM parms;
  FrameGuard vol(PR_FrameCreate(FRM_REAL, 64, dims, true));
  const double cx = 16 * 0.7, cy = 20 * 0.7, cz = 12 * 1.25;
  for (int z = 0; z < dims.d; ++z)
    for (int y = 0; y < dims.h; ++y)
      for (int x = 0; x < dims.w; ++x) {
        const double dx = x * 0.7 - cx, dy = y * 0.7 - cy, dz = z * 1.25 - cz;
        double v = parms.background + (parms.solid - parms.background) *
                                          blurredBall(std::sqrt(dx * dx + dy * dy + dz * dz), radius, sigma);
        if (x >= 40 && x <= 42 && y >= 18 && y <= 22) v = parms.solid;  // a vessel through the slab
        twk::setVoxelValue(vol.f, x, y, z, 0, v);
      }
  // A generous ROI around the nodule that reaches the vessel.
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const RECT3D box{2, 4, 2, 44, 36, 21};
  VA_VolFillBox(roi.f, 0, &box, true, 1.0);
  FrameGuard noVessel(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const RECT3D nodule{2, 4, 2, 32, 36, 21};
  VA_VolFillBox(noVessel.f, 0, &nodule, true, 1.0);

  CString report, clipboard;
  ASSERT_TRUE(VA_VolNod_Basic(vol.f, &dims, &spacing, noVessel.f, &parms, nullptr, &report, &clipboard));
  const double basic = std::wcstod(report.Mid(report.Find(L"Volume (mm3)\t") + 13).GetString(), nullptr);
  EXPECT_NEAR(basic, 0.934 * truth, 0.02 * truth) << report.toUtf8();  // the clamps' known shortfall
  EXPECT_NE(report.Find(L"Nodule type\tsolid\n"), -1);
  EXPECT_EQ(clipboard.Find(L"Volume (mm3)\tEquivalent diameter (mm)\tSolid component (mm3)\n"), 0);

  // With the vessel inside the ROI the basic sum takes it in; the DeltaR-matched one does not.
  ASSERT_TRUE(VA_VolNod_Basic(vol.f, &dims, &spacing, roi.f, &parms, nullptr, &report, nullptr));
  EXPECT_GT(std::wcstod(report.Mid(report.Find(L"Volume (mm3)\t") + 13).GetString(), nullptr), 1.2 * truth);
  ASSERT_TRUE(VA_VolNod_MatchDeltaR(vol.f, &dims, &spacing, roi.f, &parms, &report, &clipboard));
  const double matched = std::wcstod(report.Mid(report.Find(L"Volume (mm3)\t") + 13).GetString(), nullptr);
  EXPECT_NEAR(matched, truth, 0.05 * truth) << report.toUtf8();

  // Refusals: an empty ROI, attenuations not above the background, a 4D frame.
  FrameGuard empty(PR_FrameCreate(FRM_ROI, 1, dims, true));
  EXPECT_FALSE(VA_VolNod_Basic(vol.f, &dims, &spacing, empty.f, &parms, nullptr, &report, &clipboard));
  EXPECT_EQ(script.lastMessage(), CString(L"VA_VolNod_Basic : No nodule voxels in the ROI"));
  VA_VOLNODEPARM bad = parms;
  bad.solid = 200;
  EXPECT_FALSE(VA_VolNod_MatchDeltaR(vol.f, &dims, &spacing, roi.f, &bad, &report, &clipboard));
  EXPECT_EQ(script.lastMessage(),
            CString(L"VA_VolNod_MatchDeltaR : Nodule attenuations must lie above the background attenuation"));
  FrameGuard fourD(PR_FrameCreate(FRM_REAL, 64, DIM3D{48, 40, 24, 2}, true));
  EXPECT_FALSE(VA_VolNod_Basic(fourD.f, nullptr, &spacing, roi.f, &parms, nullptr, &report, &clipboard));
  EXPECT_EQ(script.lastMessage(), CString(L"VA_VolNod_Basic : Invalid volume or ROI"));
}

TEST(BodyMask, TheBodyWithItsLungsFilledWithoutTheTableAndPeeledOnTheTrueSpacing) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const DIM3D dims{40, 40, 6, 2};
  const SPC spacing{1.0, 1.0, 2.0};
  FrameGuard vol(PR_FrameCreate(FRM_REAL, 64, dims, true));
  int64_t disc = 0, inner = 0;
  for (int z = 0; z < dims.d; ++z)
    for (int y = 0; y < dims.h; ++y)
      for (int x = 0; x < dims.w; ++x) {
        const int r2 = (x - 20) * (x - 20) + (y - 20) * (y - 20), lung = (x - 16) * (x - 16) + (y - 20) * (y - 20);
        double v = r2 <= 144 && lung > 16 ? 100.0 : 0.0;
        if (x <= 3 && y >= 10 && y <= 30) v = 100.0;  // the table beside the body
        for (int t = 0; t < dims.t; ++t) twk::setVoxelValue(vol.f, x, y, z, t, t == 1 ? v : 0.0);
        disc += r2 <= 144;
        inner += r2 <= 100;
      }
  VA_BODYFORG parms;
  FrameGuard mask(VA_DetectBodyForeground(&parms, vol.f, &spacing, 1, true));
  ASSERT_TRUE(mask.f);
  EXPECT_EQ(mask.f->dim.t, 1);
  int64_t n = 0;
  VA_RoiNumVox(mask.f, 0, -1, &n);
  EXPECT_EQ(n, disc);  // lungs filled, table left out
  EXPECT_FALSE(twk::roiBit(mask.f, 1, 20, 2, 0));
  // The same body no farther than 9 mm from its axis; then peeled by 2 mm.
  parms.bodyRadius = 9.0;
  FrameGuard narrow(VA_DetectBodyForeground(&parms, vol.f, &spacing, 1, true));
  VA_RoiNumVox(narrow.f, 0, -1, &n);
  EXPECT_LT(n, inner);
  parms.bodyRadius = 200.0;
  parms.peelGrow = -2.0;
  FrameGuard peeled(VA_DetectBodyForeground(&parms, vol.f, &spacing, 1, true));
  VA_RoiNumVox(peeled.f, 0, -1, &n);
  EXPECT_NEAR(double(n), double(inner), 0.06 * double(inner));
  // Nothing above the threshold (an empty time point), a radius of 0.
  EXPECT_FALSE(VA_DetectBodyForeground(&parms, vol.f, &spacing, 0, true));
  parms.bodyRadius = 0;
  EXPECT_FALSE(VA_DetectBodyForeground(&parms, vol.f, &spacing, 1, true));
  EXPECT_EQ(script.lastMessage(), CString(L"VA_DetectBodyForeground : Body radius should be positive"));
}
