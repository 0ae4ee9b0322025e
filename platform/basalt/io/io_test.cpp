// Image file tests against independent references: fixtures are written by Debian's Python with
// nibabel and numpy, and what we write is read back by nibabel.

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ExternalTools.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

std::string g_dir;

// Runs a Python script with Debian's interpreter (nibabel and numpy installed there) in the test
// folder; true on exit 0, a failure with the script's output otherwise.
bool runPython(const std::string& script, std::string* output = nullptr) {
  std::string out;
  const bool ok = twk::test::runPython(
      "import numpy as np, nibabel as nib, gzip, sys, os\nos.chdir(" + std::string(1, '"') + g_dir + '"' + ")\n" + script,
      &out);
  if (output) *output = out;
  if (!ok) ADD_FAILURE() << out;
  return ok;
}

CString path(const std::string& name) { return CString::fromUtf8(g_dir + "/" + name); }

std::vector<uint8_t> readAll(const std::string& name) {
  std::ifstream in(g_dir + "/" + name, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void writeAll(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(g_dir + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The fixtures' voxel values: distinct per voxel and time point, some negative when signed is set.
double expectedValue(int x, int y, int z, int t, bool negative) {
  return (x + 10 * y + 100 * z + 1000 * t) - (negative ? 300 : 0);
}

// The rotated affine (RAS) shared by the fixtures, for voxel sizes sx, sy, sz.
const char* kAffineCode =
    "def affine(sx, sy, sz):\n"
    "    c, s = np.cos(0.3), np.sin(0.3)\n"
    "    R = np.array([[c, -s, 0], [s, c, 0], [0, 0, 1.0]])\n"
    "    A = np.eye(4); A[:3, :3] = R @ np.diag([sx, sy, sz]); A[:3, 3] = [12.5, -30.25, 7.0]\n"
    "    return A\n"
    "def volume(shape, negative, dtype):\n"
    "    x, y, z, t = np.meshgrid(*[np.arange(n) for n in shape], indexing='ij')\n"
    "    v = x + 10 * y + 100 * z + 1000 * t - (300 if negative else 0)\n"
    "    return v.astype(dtype)\n";

// Checks a volume's geometry against the RAS affine of the fixtures.
void expectFixtureGeometry(const CVol* vol, double sx, double sy, double sz) {
  const double c = std::cos(0.3), s = std::sin(0.3);
  EXPECT_NEAR(vol->spc.x, sx, 1e-5);
  EXPECT_NEAR(vol->spc.y, sy, 1e-5);
  EXPECT_NEAR(vol->spc.z, sz, 1e-5);
  // RAS columns (c, s, 0) and (-s, c, 0) become (-c, -s, 0) and (s, -c, 0) in patient coordinates.
  const double orient[6] = {-c, -s, 0, s, -c, 0};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(vol->orient[i], orient[i], 1e-5) << i;
  ASSERT_NE(vol->imgPos, nullptr);
  EXPECT_NEAR(vol->imgPos[0].x, -12.5, 1e-4);
  EXPECT_NEAR(vol->imgPos[0].y, 30.25, 1e-4);
  EXPECT_NEAR(vol->imgPos[0].z, 7.0, 1e-4);
  EXPECT_NEAR(vol->imgPos[vol->D() - 1].z, 7.0 + (vol->D() - 1) * sz, 1e-4);
}

void expectFixtureValues(const CVol* vol, bool negative) {
  int bad = 0;
  for (int t = 0; t < vol->T(); ++t)
    for (int z = 0; z < vol->D(); ++z)
      for (int y = 0; y < vol->H(); ++y)
        for (int x = 0; x < vol->W(); ++x)
          if (twk::voxelValue(vol->frame, x, y, z, t) != expectedValue(x, y, z, t, negative) && ++bad < 5)
            ADD_FAILURE() << "voxel " << x << "," << y << "," << z << "," << t << " = " << twk::voxelValue(vol->frame, x, y, z, t);
  EXPECT_EQ(bad, 0);
}

class ImageFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_dir = twk::testing::testFolder("io_test").string();
    ASSERT_TRUE(runPython(std::string(kAffineCode) + R"(
v = volume((7, 6, 5, 1), True, np.int16)[..., 0]
nib.save(nib.Nifti1Image(v, affine(0.9, 0.9, 3.0)), 'n1_int16.nii')
nib.save(nib.Nifti1Image(v, affine(0.9, 0.9, 3.0)), 'n1_int16.nii.gz')
u = volume((7, 6, 5, 1), False, np.int16)[..., 0]
nib.save(nib.Nifti1Image(u, affine(0.9, 0.9, 3.0)), 'n1_uint.nii')
f = volume((6, 5, 4, 3), False, np.float32)
img = nib.Nifti1Image(f, affine(0.8, 0.8, 2.0))
img.header.set_zooms((0.8, 0.8, 2.0, 1.5)); img.header.set_xyzt_units('mm', 'sec')
nib.save(img, 'n1_4d.nii')
nib.save(nib.Nifti2Image(v, affine(0.9, 0.9, 3.0)), 'n2.nii')
a = nib.AnalyzeImage(u, np.diag([1.5, 1.25, 4.0, 1.0]))
nib.save(a, 'analyze.img')
m = nib.MGHImage(volume((6, 5, 4, 1), False, np.int16)[..., 0], affine(1.0, 1.0, 1.5))
nib.save(m, 'vol.mgz')
np.save('arr.npy', volume((6, 5, 3, 4), False, np.float32).transpose(3, 2, 1, 0))  # t, z, y, x
np.save('arr_fortran.npy', np.asfortranarray(volume((6, 5, 3, 4), False, np.int32).transpose(3, 2, 1, 0)))
np.save('arr_big.npy', volume((6, 5, 3, 4), False, '>u2').transpose(3, 2, 1, 0))
c = (volume((4, 3, 2, 1), False, np.float64)[..., 0] * (1 + 2j)).astype(np.complex64).transpose(2, 1, 0)
np.save('arr_complex.npy', c)
# NRRD of the signed NIfTI: LPS directions and origin from its affine, gzip data, x fastest.
A = affine(0.9, 0.9, 3.0); L = np.diag([-1, -1, 1]) @ A[:3]
dirs = ' '.join('(%r,%r,%r)' % tuple(L[:, i]) for i in range(3))
hdr = ('NRRD0004\ntype: short\ndimension: 3\nspace: left-posterior-superior\nsizes: 7 6 5\n'
       'space directions: %s\nkinds: domain domain domain\nendian: little\nencoding: gzip\n'
       'space origin: (%r,%r,%r)\n\n' % (dirs, L[0, 3], L[1, 3], L[2, 3]))
open('vol.nrrd', 'wb').write(hdr.encode() + gzip.compress(v.tobytes(order='F')))
open('det.nhdr', 'w').write(hdr.replace('encoding: gzip', 'encoding: raw').rstrip('\n') + '\ndata file: det.raw\n')
open('det.raw', 'wb').write(v.tobytes(order='F'))
# 4D NRRD with the time axis first (time fastest in the data).
w = volume((6, 5, 4, 3), False, np.uint16)
open('t4.nrrd', 'wb').write(('NRRD0004\ntype: ushort\ndimension: 4\nspace: right-anterior-superior\nsizes: 3 6 5 4\n'
       'space directions: none (0.8,0,0) (0,0.8,0) (0,0,2)\nkinds: list domain domain domain\n'
       'endian: big\nencoding: raw\nspace origin: (0,0,0)\n\n').encode() + w.transpose(3, 0, 1, 2).astype('>u2').tobytes(order='F'))
)"));
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(g_dir); }

  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
};

}  // namespace

TEST_F(ImageFilesTest, NiftiFromNibabelKeepsDimensionsGeometryAndValues) {
  const struct { const char* file; bool negative; FRMTYPE kind; int bpv; } cases[] = {
      {"n1_int16.nii", true, FRM_REAL, 64},  // negative values: a real frame
      {"n1_int16.nii.gz", true, FRM_REAL, 64},
      {"n1_uint.nii", false, FRM_INT, 16},   // non-negative int16: an integer frame
      {"n2.nii", true, FRM_REAL, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    DIM3D dim;
    SPC spc;
    ASSERT_TRUE(VA_RAW_FileInfo(path(c.file), &dim, &spc, true));
    EXPECT_EQ(dim.w, 7);
    EXPECT_EQ(dim.h, 6);
    EXPECT_EQ(dim.d, 5);
    EXPECT_EQ(dim.t, 1);
    CVol* vol = VA_RAW_LoadVolume(path(c.file), nullptr, nullptr, nullptr, true);
    ASSERT_NE(vol, nullptr);
    EXPECT_EQ(vol->Type(), c.kind);
    EXPECT_EQ(vol->frame->bpv, c.bpv);
    expectFixtureGeometry(vol, 0.9, 0.9, 3.0);
    expectFixtureValues(vol, c.negative);
    EXPECT_EQ(vol->modality, MODALITY_UNKNOWN);
    delete vol;
  }
  EXPECT_TRUE(script.messages.empty());
}

TEST_F(ImageFilesTest, Nifti4DFloatCarriesSpacingAndTimeStep) {
  CVol* vol = VA_RAW_LoadVolume(path("n1_4d.nii"), nullptr, nullptr, nullptr, true);
  ASSERT_NE(vol, nullptr);
  EXPECT_EQ(vol->W(), 6);
  EXPECT_EQ(vol->H(), 5);
  EXPECT_EQ(vol->D(), 4);
  EXPECT_EQ(vol->T(), 3);
  expectFixtureGeometry(vol, 0.8, 0.8, 2.0);
  expectFixtureValues(vol, false);
  ASSERT_NE(vol->dyn, nullptr);
  EXPECT_DOUBLE_EQ(vol->dyn[0].time, 0.0);
  EXPECT_DOUBLE_EQ(vol->dyn[2].time, 3.0);
  delete vol;
}

TEST_F(ImageFilesTest, EveryStoredTypeAndRescaleConvertsIntoTheFrame) {
  // NIfTI files from nibabel with the rescale patched into the header (nibabel itself confirms the
  // values it reads), and a half-float NumPy array. Values are x + 5y + 20z + base, times the slope,
  // plus the intercept; the large case spans several of the loader's conversion blocks.
  ASSERT_TRUE(runPython(R"(
import struct
def value(shape, base):
    x, y, z = np.meshgrid(*[np.arange(n) for n in shape], indexing='ij')
    return x + 5 * y + 20 * z + base
cases = [('i8', np.int8, -30, 1, 0), ('u8s', np.uint8, 0, 0.5, 0), ('i16s', np.int16, 0, 2.5, -1024),
         ('u16', np.uint16, 0, 1, 0.5), ('i32', np.int32, -30, 1, 0), ('u32', np.uint32, 3000000000, 1, 0),
         ('i64', np.int64, -30, 1, 0), ('i64u', np.int64, 70000, 1, 0), ('f32', np.float32, -30.25, 1, 0),
         ('f64s', np.float64, 0.125, 2, 1), ('big', np.int16, -300, 2.5, -1024)]
for name, dtype, base, slope, inter in cases:
    v = value((130, 90, 50) if name == 'big' else (5, 4, 3), base).astype(dtype)
    nib.save(nib.Nifti1Image(v, np.eye(4), dtype=dtype), name + '.nii')
    b = bytearray(open(name + '.nii', 'rb').read())
    b[112:120] = struct.pack('<ff', slope, inter)
    open(name + '.nii', 'wb').write(b)
    assert np.array_equal(nib.load(name + '.nii').get_fdata(), v.astype(np.float64) * slope + inter), name
np.save('f16.npy', value((5, 4, 3), -30.5)[..., None].astype(np.float16).transpose(3, 2, 1, 0))  # t, z, y, x
)"));
  const struct { const char* file; double base, slope, inter; FRMTYPE kind; int bpv; } cases[] = {
      {"i8.nii", -30, 1, 0, FRM_REAL, 64},        // negative values need a real frame
      {"u8s.nii", 0, 0.5, 0, FRM_REAL, 64},       // so does any rescale
      {"i16s.nii", 0, 2.5, -1024, FRM_REAL, 64},
      {"u16.nii", 0, 1, 0.5, FRM_REAL, 64},
      {"i32.nii", -30, 1, 0, FRM_REAL, 64},
      {"u32.nii", 3e9, 1, 0, FRM_INT, 32},        // unsigned, above the signed 32-bit range
      {"i64.nii", -30, 1, 0, FRM_REAL, 64},
      {"i64u.nii", 70000, 1, 0, FRM_INT, 32},     // 64-bit integers that fit 32 unsigned bits
      {"f32.nii", -30.25, 1, 0, FRM_REAL, 64},
      {"f64s.nii", 0.125, 2, 1, FRM_REAL, 64},
      {"big.nii", -300, 2.5, -1024, FRM_REAL, 64},
      {"f16.npy", -30.5, 1, 0, FRM_REAL, 64},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    CVol* vol = nullptr;
    if (std::string(c.file).find(".npy") != std::string::npos) {
      int ndim = 0;
      uint64_t shape[VA_NUMPY_MAXDIMS];
      DTYPE type;
      void* data = nullptr;
      ASSERT_TRUE(VA_NumpyLoad(path(c.file), &ndim, shape, &type, &data, true));
      EXPECT_EQ(type, DTYPE_FLOAT16);
      int w, h, d, t;
      ASSERT_TRUE(PR_DimFromShapeAndOrder(shape, L"tzyx", &w, &h, &d, &t));
      const DIM3D dim{w, h, d, t};
      const SPC spc{1, 1, 1};
      vol = VA_LoadRawData(data, type, &dim, &spc, DYN_TIME, L"", path(c.file), true);
      pf_free(&data);
    } else {
      vol = VA_RAW_LoadVolume(path(c.file), nullptr, nullptr, nullptr, true);
    }
    ASSERT_NE(vol, nullptr);
    EXPECT_EQ(vol->Type(), c.kind);
    EXPECT_EQ(vol->frame->bpv, c.bpv);
    int bad = 0;
    for (int z = 0; z < vol->D(); ++z)
      for (int y = 0; y < vol->H(); ++y)
        for (int x = 0; x < vol->W(); ++x) {
          const double expected = (x + 5 * y + 20 * z + c.base) * c.slope + c.inter;
          const double got = twk::voxelValue(vol->frame, x, y, z, 0);
          if (got != expected && ++bad < 5) ADD_FAILURE() << "voxel " << x << "," << y << "," << z << " = " << got << ", not " << expected;
        }
    EXPECT_EQ(bad, 0);
    delete vol;
  }
  EXPECT_TRUE(script.messages.empty());
}

TEST_F(ImageFilesTest, AnalyzeMgzAndNumpyLoad) {
  CVol* a = VA_RAW_LoadVolume(path("analyze.img"), nullptr, nullptr, nullptr, true);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->W(), 7);
  EXPECT_NEAR(a->spc.x, 1.5, 1e-6);
  EXPECT_NEAR(a->spc.y, 1.25, 1e-6);
  EXPECT_NEAR(a->spc.z, 4.0, 1e-6);
  expectFixtureValues(a, false);
  delete a;

  EXPECT_TRUE(VA_IsMghFile(path("vol.mgz")));
  EXPECT_FALSE(VA_IsMghFile(path("n2.nii")));
  CVol* m = VA_RAW_LoadVolume(path("vol.mgz"), nullptr, nullptr, nullptr, true);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->D(), 4);
  expectFixtureGeometry(m, 1.0, 1.0, 1.5);
  expectFixtureValues(m, false);
  delete m;

  // (4,3,5,6) in "tzyx" order: W 6, H 5, D 3, T 4, whatever the memory order or byte order.
  for (const char* file : {"arr.npy", "arr_fortran.npy", "arr_big.npy"}) {
    SCOPED_TRACE(file);
    int ndim = 0;
    uint64_t shape[VA_NUMPY_MAXDIMS];
    DTYPE type;
    void* data = nullptr;
    ASSERT_TRUE(VA_NumpyLoad(path(file), &ndim, shape, &type, &data, true));
    ASSERT_EQ(ndim, 4);
    int w, h, d, t;
    ASSERT_TRUE(PR_DimFromShapeAndOrder(shape, L"tzyx", &w, &h, &d, &t));
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(d, 3);
    EXPECT_EQ(t, 4);
    const DIM3D dim{w, h, d, t};
    const SPC spc{1, 1, 1};
    CVol* vol = VA_LoadRawData(data, type, &dim, &spc, DYN_TIME, L"", path(file), true);
    pf_free(&data);
    ASSERT_NE(vol, nullptr);
    expectFixtureValues(vol, false);
    delete vol;
  }
}

TEST_F(ImageFilesTest, NumpyAxisOrderAndComplexConversion) {
  // Reading the (t,z,y,x) array with its axes named "xyzt" and normalising it transposes it fully.
  int ndim;
  uint64_t shape[VA_NUMPY_MAXDIMS];
  DTYPE type;
  void* data = nullptr;
  ASSERT_TRUE(VA_NumpyLoad(path("arr.npy"), &ndim, shape, &type, &data, true));
  int w, h, d, t;
  ASSERT_TRUE(PR_DimFromShapeAndOrder(shape, L"xyzt", &w, &h, &d, &t));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(t, 6);
  EXPECT_FALSE(PR_DimFromShapeAndOrder(shape, L"xxzt", &w, &h, &d, &t));
  ASSERT_TRUE(PR_NormalizeAxisOrder(data, type, shape, L"xyzt"));
  const float* f = static_cast<const float*>(data);
  // New (x, y, z, t) = old (t, z, y, x) indices: value at new x=3,y=2,z=1,t=5 is old x=5,y=1,z=2,t=3.
  EXPECT_EQ(f[((5 * 5 + 1) * 3 + 2) * 4 + 3], float(expectedValue(5, 1, 2, 3, false)));
  pf_free(&data);

  ASSERT_TRUE(VA_NumpyLoad(path("arr_complex.npy"), &ndim, shape, &type, &data, true));
  EXPECT_EQ(type, DTYPE_COMPLEX64);
  const struct { int mode; double factor; } modes[] = {{1, std::sqrt(5.0)}, {2, 1}, {3, 2}, {4, 0}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    void* copy = pf_malloc(24 * 8);
    std::memcpy(copy, data, 24 * 8);
    DTYPE ct = type;
    ASSERT_TRUE(PR_ComplexToRealConversion(&copy, &ct, 24, m.mode));
    EXPECT_EQ(ct, DTYPE_FLOAT64);
    const double* v = static_cast<const double*>(copy);
    const double base = expectedValue(3, 2, 1, 0, false);  // last element
    EXPECT_NEAR(v[23], m.mode == 4 ? std::atan2(2.0, 1.0) : base * m.factor, 1e-3);
    pf_free(&copy);
  }
  // A single nonzero coefficient at the centre of k-space is a constant image.
  std::vector<float> k(2 * 4 * 4, 0.f);
  k[2 * (2 * 4 + 2)] = 16.f;
  ASSERT_TRUE(PR_InverseFourier2D(k.data(), DTYPE_COMPLEX64, 4, 4, 1));
  for (int i = 0; i < 16; ++i) {
    EXPECT_NEAR(k[2 * i], 1.f, 1e-6);
    EXPECT_NEAR(k[2 * i + 1], 0.f, 1e-6);
  }
  pf_free(&data);
}

TEST_F(ImageFilesTest, NrrdAndNiftiOfTheSameImageAgreeVoxelForVoxel) {
  CVol* n = VA_RAW_LoadVolume(path("n1_int16.nii"), nullptr, nullptr, nullptr, true);
  ASSERT_NE(n, nullptr);
  for (const char* file : {"vol.nrrd", "det.nhdr"}) {
    SCOPED_TRACE(file);
    CVol* r = VA_RAW_LoadVolume(path(file), nullptr, nullptr, nullptr, true);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->Type(), n->Type());
    ASSERT_EQ(std::memcmp(r->Dim(), n->Dim(), sizeof(DIM3D)), 0);
    EXPECT_EQ(std::memcmp(r->frame->data, n->frame->data, PR_FrameMemSize(n->frame)), 0);
    // NIfTI keeps its transform in 32-bit floats.
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(r->orient[i], n->orient[i], 1e-6);
    EXPECT_NEAR(r->imgPos[4].z, n->imgPos[4].z, 1e-5);
    EXPECT_NEAR(r->spc.z, n->spc.z, 1e-6);
    delete r;
  }
  delete n;
  // Time axis first, big-endian, RAS space.
  CVol* t4 = VA_RAW_LoadVolume(path("t4.nrrd"), nullptr, nullptr, nullptr, true);
  ASSERT_NE(t4, nullptr);
  EXPECT_EQ(t4->T(), 3);
  EXPECT_EQ(t4->D(), 4);
  EXPECT_NEAR(t4->spc.z, 2.0, 1e-12);
  EXPECT_NEAR(t4->orient[0], -1.0, 1e-12);
  expectFixtureValues(t4, false);
  delete t4;
}

TEST_F(ImageFilesTest, WrittenNiftiReadsBackInNibabelAndHere) {
  // A 4D integer volume with an oblique orientation, written by us and checked by nibabel.
  const DIM3D dim{5, 4, 3, 2};
  FRAME* f = PR_FrameCreate(FRM_INT, 16, dim, true);
  for (int t = 0; t < 2; ++t)
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) twk::setVoxelValue(f, x, y, z, t, expectedValue(x, y, z, t, false));
  const double c = std::cos(0.3), s = std::sin(0.3);
  const double orient[6] = {-c, -s, 0, s, -c, 0};
  const SPC spc{0.8, 0.8, 2.0};
  const DPOINT3D first{-12.5, 30.25, 7.0}, last{-12.5, 30.25, 11.0};
  DYNCRD dyn[2] = {};
  dyn[1].time = 1.5;
  PR_VIEWFILT filter;
  filter.level = 100;
  filter.width = 50;
  ASSERT_TRUE(VA_RAW_VolSaveFile(path("ours.nii"), f, -1, &spc, orient, &first, &last, MODALITY_CT, RAWSAVE_SINGLE,
                                 L"HU", &filter, dyn, true));
  ASSERT_TRUE(VA_RAW_VolSaveFile(path("ours.nii.gz"), f, 1, &spc, orient, &first, &last, MODALITY_CT, RAWSAVE_SINGLE,
                                 L"HU", &filter, dyn, true));
  ASSERT_TRUE(runPython(std::string(kAffineCode) + R"(
img = nib.load('ours.nii')
expect = volume((5, 4, 3, 2), False, np.uint16)
assert img.shape == (5, 4, 3, 2), img.shape
assert img.get_data_dtype() == np.uint16
assert np.array_equal(np.asanyarray(img.dataobj), expect)
assert np.allclose(img.affine, affine(0.8, 0.8, 2.0), atol=1e-5), img.affine
assert np.allclose(img.header.get_zooms(), (0.8, 0.8, 2.0, 1.5), atol=1e-6)
assert abs(img.header['cal_min'] - 75) < 1e-6 and abs(img.header['cal_max'] - 125) < 1e-6
one = nib.load('ours.nii.gz')
assert one.shape == (5, 4, 3)
assert np.array_equal(np.asanyarray(one.dataobj), expect[..., 1])
)"));
  CVol* back = VA_RAW_LoadVolume(path("ours.nii"), nullptr, nullptr, nullptr, true);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->modality, MODALITY_CT);
  EXPECT_EQ(back->unit, CString(L"HU"));
  EXPECT_EQ(back->Type(), FRM_INT);
  EXPECT_EQ(std::memcmp(back->frame->data, f->data, PR_FrameMemSize(f)), 0);
  EXPECT_DOUBLE_EQ(back->dyn[1].time, 1.5);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(back->orient[i], orient[i], 1e-6);
  delete back;
  PR_FrameDelete(&f);
}

TEST_F(ImageFilesTest, ImAndTimeSetsRoundTripEveryKind) {
  const struct { FRMTYPE kind; int bpv; const char* file; int mode; } cases[] = {
      {FRM_ROI, 1, "roi.im", RAWSAVE_SINGLE},       {FRM_INT, 8, "u8.im", RAWSAVE_SINGLE},
      {FRM_REAL, 64, "real.im", RAWSAVE_SINGLE},    {FRM_INT, 32, "set_im.time", RAWSAVE_TIMESET_IM},
      {FRM_REAL, 64, "set_nii.time", RAWSAVE_TIMESET_NIFTI}, {FRM_INT, 16, "set_img.time", RAWSAVE_TIMESET_ANALYZE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const DIM3D dim{9, 4, 3, 3};
    FRAME* f = PR_FrameCreate(c.kind, c.bpv, dim, true);
    for (int t = 0; t < 3; ++t)
      for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 4; ++y)
          for (int x = 0; x < 9; ++x)
            twk::setVoxelValue(f, x, y, z, t, c.kind == FRM_ROI ? double((x + y + z + t) % 2) : expectedValue(x, y, z, t, false) + (c.kind == FRM_REAL ? 0.25 : 0));
    DYNCRD dyn[3] = {};
    for (int t = 0; t < 3; ++t) {
      dyn[t].time = 2.0 * t;
      dyn[t].echoTime = 0.01 * (t + 1);
    }
    const SPC spc{0.5, 0.75, 3};
    const DPOINT3D first{1, 2, 3};
    PR_VIEWFILT filter;
    filter.level = 10;
    filter.width = 4;
    ASSERT_TRUE(VA_RAW_VolSaveFile(path(c.file), f, -1, &spc, nullptr, &first, nullptr, MODALITY_PET, c.mode, L"Bq/ml",
                                   &filter, dyn, true));
    PR_VIEWFILT readFilter;
    CVol* back = VA_RAW_LoadVolume(path(c.file), &readFilter, nullptr, nullptr, true);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Type(), c.kind);
    ASSERT_EQ(std::memcmp(back->Dim(), &dim, sizeof(DIM3D)), 0);
    EXPECT_EQ(std::memcmp(back->frame->data, f->data, PR_FrameMemSize(f)), 0);
    EXPECT_DOUBLE_EQ(back->dyn[2].time, 4.0);
    EXPECT_DOUBLE_EQ(back->dyn[2].echoTime, 0.03);
    EXPECT_NEAR(back->spc.y, 0.75, 1e-6);
    if (std::string(c.file).find(".im") != std::string::npos && c.mode == RAWSAVE_SINGLE) {
      EXPECT_EQ(back->modality, MODALITY_PET);
      EXPECT_EQ(back->unit, CString(L"Bq/ml"));
      EXPECT_EQ(readFilter.level, 10);
      EXPECT_NEAR(back->imgPos[2].z, 9.0, 1e-12);
    }
    delete back;
    PR_FrameDelete(&f);
  }
  EXPECT_TRUE(script.messages.empty());
}

// Image writers replace image files only: an existing file of another kind keeps its bytes and the
// save reports why; an existing image is replaced.
TEST_F(ImageFilesTest, WritersReplaceOnlyImageFiles) {
  const auto bytesOf = [](const CString& file) {
    std::ifstream in(file.toUtf8(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  std::ofstream(path("notes.nii").toUtf8()) << "my notes, not an image\n";
  std::ofstream(path("raw_alone.img").toUtf8()) << std::string(9 * 4 * 3 * 2, 'x');
  std::ofstream(path("notes.time").toUtf8()) << "a text\n";
  std::filesystem::copy_file(path("n1_int16.nii").toUtf8(), path("old.nii").toUtf8(),
                             std::filesystem::copy_options::overwrite_existing);
  const struct { const char* file; int mode; bool replaced; } cases[] = {
      {"notes.nii", RAWSAVE_SINGLE, false},
      {"raw_alone.img", RAWSAVE_SINGLE, false},  // voxel data without a header: not an image we read
      {"notes.time", RAWSAVE_TIMESET_NIFTI, false},
      {"old.nii", RAWSAVE_SINGLE, true}};
  const DIM3D dim{9, 4, 3, 1};
  FRAME* f = PR_FrameCreate(FRM_INT, 16, dim, true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string before = bytesOf(path(c.file));
    script.messages.clear();
    const SPC spc{1, 1, 1};
    EXPECT_EQ(VA_RAW_VolSaveFile(path(c.file), f, -1, &spc, nullptr, nullptr, nullptr, MODALITY_MR, c.mode, L"",
                                 nullptr, nullptr, true),
              c.replaced);
    if (c.replaced) {
      EXPECT_NE(bytesOf(path(c.file)), before);
      EXPECT_TRUE(script.messages.empty());
    } else {
      EXPECT_EQ(bytesOf(path(c.file)), before);
      ASSERT_EQ(script.messages.size(), 1u);
      EXPECT_NE(script.messages[0].Find(L"is not an image file: not overwritten"), -1) << script.messages[0].toUtf8();
    }
  }
  PR_FrameDelete(&f);
}

TEST_F(ImageFilesTest, TheDoorClassifiesAPathOnce) {
  const struct {
    const char* file;
    VA_IMAGEFORMAT format;
    bool compressed;
    const char* header;  // the header file, when not the path itself
    bool readable;
  } cases[] = {
      {"n1_int16.nii", VA_IMAGE_NIFTI, false, nullptr, true},
      {"n1_int16.nii.gz", VA_IMAGE_NIFTI, true, nullptr, true},
      {"analyze.img", VA_IMAGE_NIFTI, false, "analyze.hdr", true},
      {"vol.mgz", VA_IMAGE_MGH, true, nullptr, true},
      {"vol.nrrd", VA_IMAGE_NRRD, false, nullptr, true},
      {"arr.npy", VA_IMAGE_NUMPY, false, nullptr, true},
      {"no_such_file.nii", VA_IMAGE_UNKNOWN, false, nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const VA_IMAGEPATH file = VA_ClassifyImagePath(path(c.file));
    EXPECT_EQ(file.path, path(c.file));
    EXPECT_EQ(file.format, c.format);
    EXPECT_EQ(file.compressed, c.compressed);
    EXPECT_EQ(file.headerPath, path(c.header ? c.header : c.file));
    EXPECT_EQ(file.fault.IsEmpty(), c.readable);
    EXPECT_FALSE(file.timeSetBeside);
  }
  // A ".time" set of the same name beside a NIfTI file is noted at the door.
  writeAll("paired.time", {'T', 'W', 'K', 'T', 'I', 'M', 'E', ' ', '1', '\n'});
  std::filesystem::copy_file(g_dir + "/n1_uint.nii", g_dir + "/paired.nii", std::filesystem::copy_options::overwrite_existing);
  EXPECT_TRUE(VA_ClassifyImagePath(path("paired.nii")).timeSetBeside);
}

TEST_F(ImageFilesTest, AHeaderReadAtTheDoorIsNotReadAgainForTheVoxels) {
  // After the header is read, the copy's first bytes are spoiled in place: a second reading of the
  // header would refuse the file, the voxels still load with the header read first.
  for (const char* file : {"n1_int16.nii", "vol.nrrd", "arr.npy"}) {
    SCOPED_TRACE(file);
    const std::string copy = std::string("door_") + file;
    writeAll(copy, readAll(file));
    VA_ImageReader reader(VA_ClassifyImagePath(path(copy)));
    DIM3D dim;
    SPC spc;
    ASSERT_TRUE(reader.ReadHeader(&dim, &spc, L"VA_RAW_FileInfo", true));
    {
      std::fstream spoil(g_dir + "/" + copy, std::ios::in | std::ios::out | std::ios::binary);
      spoil.write("XXXXXXXX", 8);
    }
    EXPECT_FALSE(VA_RAW_FileInfo(path(copy), nullptr, nullptr, false));
    std::unique_ptr<CVol> vol(reader.Load(nullptr, nullptr, nullptr, L"VA_RAW_LoadVolume", true));
    ASSERT_NE(vol, nullptr);
    EXPECT_EQ(vol->W(), dim.w);
    EXPECT_EQ(vol->D(), dim.d);
    EXPECT_EQ(vol->T(), dim.t);
    EXPECT_EQ(vol->name, path(copy));
    expectFixtureValues(vol.get(), std::string(file) != "arr.npy");
  }

  // A header the readers refuse is reported once, under the caller's name, naming the file.
  writeAll("door_text.nii", {'h', 'e', 'l', 'l', 'o'});
  VA_ImageReader text(VA_ClassifyImagePath(path("door_text.nii")));
  script.clear();
  EXPECT_FALSE(text.ReadHeader(nullptr, nullptr, L"VA_RAW_FileInfo", true));
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0], L"VA_RAW_FileInfo : " + path("door_text.nii") + L" : unknown or unsupported image file format");
}

TEST_F(ImageFilesTest, DamagedFilesFailCleanlyWithAMessageNamingTheFile) {
  auto patch = [](const char* from, const char* to, size_t offset, std::vector<uint8_t> bytes) {
    auto b = readAll(from);
    std::copy(bytes.begin(), bytes.end(), b.begin() + long(offset));
    writeAll(to, b);
  };
  auto truncate = [](const char* from, const char* to, size_t keep) {
    auto b = readAll(from);
    b.resize(std::min(b.size(), keep));
    writeAll(to, b);
  };
  auto replaceText = [](const char* from, const char* to, const std::string& a, const std::string& b) {
    auto bytes = readAll(from);
    std::string s(bytes.begin(), bytes.end());
    s.replace(s.find(a), a.size(), b);
    writeAll(to, std::vector<uint8_t>(s.begin(), s.end()));
  };
  const size_t niiSize = readAll("n1_int16.nii").size();
  truncate("n1_int16.nii", "t_nii.nii", niiSize - 10);
  patch("n1_int16.nii", "big_nii.nii", 42, {0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F});  // 32767^3 voxels
  patch("n1_int16.nii", "type_nii.nii", 70, {0x0F, 0x27});                          // datatype 9999
  truncate("n1_int16.nii.gz", "t_gz.nii.gz", readAll("n1_int16.nii.gz").size() / 2);
  truncate("n2.nii", "t_n2.nii", 300);  // inside the 540-byte header
  truncate("analyze.img", "t_an.img", 100);
  std::filesystem::copy_file(g_dir + "/analyze.hdr", g_dir + "/t_an.hdr", std::filesystem::copy_options::overwrite_existing);
  truncate("vol.mgz", "t_mgz.mgz", readAll("vol.mgz").size() / 2);
  {
    // An MGH whose width is 2^31-1.
    CVol* m = VA_RAW_LoadVolume(path("vol.mgz"), nullptr, nullptr, nullptr, true);
    ASSERT_NE(m, nullptr);
    delete m;
    gzFile in = gzopen((g_dir + "/vol.mgz").c_str(), "rb");
    std::vector<uint8_t> raw(1 << 20);
    raw.resize(size_t(gzread(in, raw.data(), unsigned(raw.size()))));
    gzclose(in);
    raw[4] = 0x7F, raw[5] = raw[6] = raw[7] = 0xFF;
    writeAll("big.mgh", raw);
    raw[4] = raw[5] = raw[6] = 0, raw[7] = 6;
    raw[20] = raw[21] = raw[22] = 0, raw[23] = 9;  // unknown type code
    writeAll("type.mgh", raw);
    // A header that claims 2^30 slices: its information must come without memory for them.
    raw[20] = raw[21] = raw[22] = 0, raw[23] = 0;
    raw[4] = raw[5] = raw[6] = 0, raw[7] = 1;  // 1 x 1 x 2^30
    raw[8] = raw[9] = raw[10] = 0, raw[11] = 1;
    raw[12] = 0x40, raw[13] = raw[14] = raw[15] = 0;
    writeAll("deep.mgh", raw);
    DIM3D dim;
    SPC spc;
    const int64_t before = PR_GetTotalAllocSize();
    EXPECT_TRUE(VA_RAW_FileInfo(path("deep.mgh"), &dim, &spc, false));
    EXPECT_EQ(dim.d, 1 << 30);
    EXPECT_EQ(PR_GetTotalAllocSize(), before);
  }
  replaceText("vol.nrrd", "big.nrrd", "sizes: 7 6 5", "sizes: 7 6 5000000");
  replaceText("vol.nrrd", "type.nrrd", "type: short", "type: quaternion");
  truncate("vol.nrrd", "t.nrrd", readAll("vol.nrrd").size() - 20);
  truncate("arr.npy", "t.npy", readAll("arr.npy").size() - 1);
  replaceText("arr.npy", "big.npy", "(4, 3, 5, 6)", "(4, 3, 5, 9999999999)");
  replaceText("arr.npy", "type.npy", "<f4", "<x4");
  {
    const DIM3D dim{4, 4, 2, 1};
    FRAME* f = PR_FrameCreate(FRM_INT, 16, dim, true);
    ASSERT_TRUE(VA_RAW_VolSaveFile(path("good.im"), f, -1, nullptr, nullptr, nullptr, nullptr, 1, 0, L"", nullptr, nullptr, true));
    PR_FrameDelete(&f);
  }
  truncate("good.im", "t.im", readAll("good.im").size() - 1);
  patch("good.im", "big.im", 20, {0xFF, 0xFF, 0xFF, 0x7F});
  std::ofstream(g_dir + "/unknown.xyz") << "hello";

  const char* cases[][2] = {
      {"t_nii.nii", "truncated"}, {"big_nii.nii", ""}, {"type_nii.nii", "data type"},
      {"t_gz.nii.gz", "gzip stream ends early"}, {"t_n2.nii", "truncated"}, {"t_an.img", "truncated"},
      {"t_mgz.mgz", "gzip stream ends early"}, {"big.mgh", ""}, {"type.mgh", "data type"}, {"deep.mgh", "truncated"},
      {"big.nrrd", ""}, {"type.nrrd", "data type"}, {"t.nrrd", "gzip stream ends early"},
      {"t.npy", "truncated"}, {"big.npy", ""}, {"type.npy", "data type"},
      {"t.im", "truncated"}, {"big.im", ""}, {"unknown.xyz", "unknown"}, {"absent.nii", "does not exist"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    script.clear();
    const int64_t before = PR_GetTotalAllocSize();
    CVol* vol = VA_RAW_LoadVolume(path(c[0]), nullptr, nullptr, nullptr, true);
    EXPECT_EQ(vol, nullptr);
    delete vol;
    EXPECT_EQ(PR_GetTotalAllocSize(), before);  // nothing half-made stays behind
    ASSERT_EQ(script.messages.size(), 1u);
    const CString message = script.lastMessage();
    EXPECT_NE(message.Find(path(c[0])), -1) << message.toUtf8();
    EXPECT_NE(message.Find(CString(c[1])), -1) << message.toUtf8();
  }
}

TEST_F(ImageFilesTest, NcolumnTextTable) {
  std::ofstream(g_dir + "/tac.txt") << "time\taorta\tkidney\n0\t1.5\t2\n1.5\t3\t4e1\n\n3\t-1\t0\n";
  wchar_t** names = nullptr;
  double* values = nullptr;
  int columns = 0, points = 0;
  ASSERT_TRUE(PR_LoadNcolumnFile(path("tac.txt"), &names, &columns, &points, &values, true));
  ASSERT_EQ(columns, 3);
  ASSERT_EQ(points, 3);
  EXPECT_EQ(CString(names[1]), CString(L"aorta"));
  EXPECT_EQ(values[2 * 3 + 1], 40.0);  // column 2, point 1
  EXPECT_EQ(values[1 * 3 + 2], -1.0);
  pf_free_parr(&names, columns);
  pf_free(&values);
  std::ofstream(g_dir + "/bad.txt") << "a b\n1 2\n3\n";
  EXPECT_FALSE(PR_LoadNcolumnFile(path("bad.txt"), &names, &columns, &points, &values, true));
  EXPECT_NE(script.lastMessage().Find(L"line 3"), -1);
}
