// The resampler and the exact geometry functions against independent references: scipy.ndimage's
// affine_transform with our target-to-source matrix, ITK's ResampleImageFilter called directly,
// numpy's rot90, nibabel's world coordinates and axis codes of saved NIfTI files, and closed forms.

#include <gtest/gtest.h>

#include <itkAffineTransform.h>
#include <itkResampleImageFilter.h>
#include <itkWindowedSincInterpolateImageFunction.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "GeometryTestKit.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "geometry/Geometry.h"
#include "io/ImageFiles.h"
#include "itk/ItkImageViews.h"
#include "volume/Frame.h"
#include "volops/VolumeOperations.h"
#include "volume/VoxelAccess.h"

namespace {

std::string& g_dir = twk::geotest::testDir();

using twk::geotest::FrameGuard;
using twk::geotest::readRaw;
using twk::geotest::runPython;
using twk::geotest::smoothVolume;
using twk::geotest::values;
using twk::geotest::writeRaw;

class Geometry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_dir = twk::testing::testFolder("geometry_test").string();
  }
  void SetUp() override { installed_ = std::make_unique<twk::ScopedUi>(ui_); }
  twk::ScriptedUi ui_;
  std::unique_ptr<twk::ScopedUi> installed_;
};

TEST_F(Geometry, RotationEqualsScipyAffineTransformWithOurMatrix) {
  const DIM3D dims{14, 12, 9, 1};
  const SPC spc{1.0, 1.3, 2.1};
  FrameGuard src(smoothVolume(dims));
  writeRaw("src.raw", values(src.f));
  const struct {
    int interpolation;
    double ax, ay, az, scale;
    bool preserve;
  } cases[] = {{1, 10, 20, 30, 1.0, false}, {0, 10, 20, 30, 1.0, false}, {1, -35, 5, 80, 1.5, false},
               {1, 0, 0, 25, 1.0, true},   {0, 90, 45, 0, 0.7, false}};
  // Our results first, then every reference in one run of Python.
  std::vector<FrameGuard> outs(std::size(cases));
  std::vector<std::array<double, 16>> matrices(std::size(cases));
  std::ostringstream py;
  py.precision(17);
  py << "a = np.fromfile('src.raw').reshape(" << dims.d << "," << dims.h << "," << dims.w << ")\n";
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const double iso = std::min({spc.x, spc.y, spc.z}) / c.scale;
    const SPC target = c.preserve ? spc : SPC{iso, iso, iso};
    double* m = matrices[i].data();
    outs[i].f = VA_VolRotation(src.f, &spc, nullptr, &target, c.ax, c.ay, c.az, c.preserve, false, c.interpolation,
                               false, 50, m, true);
    ASSERT_TRUE(outs[i].f);
    const DIM3D& od = outs[i].f->dim;
    // scipy indexes (z, y, x): the matrix with its axes reversed.
    py << "M = np.array([";
    for (int r = 2; r >= 0; --r) {
      py << "[";
      for (int k = 2; k >= 0; --k) py << m[4 * r + k] << ",";
      py << m[4 * r + 3] << "],";
    }
    py << "])\nndi.affine_transform(a, M[:, :3], offset=M[:, 3], output_shape=(" << od.d << "," << od.h << ","
       << od.w << "), order=" << c.interpolation << ", mode='constant', cval=0.0).tofile('ref" << i << ".raw')\n";
  }
  runPython(py.str());
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(testing::Message() << "interp " << c.interpolation << " angles " << c.ax << "," << c.ay << "," << c.az);
    const double* m = matrices[i].data();
    const DIM3D& od = outs[i].f->dim;
    const std::vector<double> ref = readRaw("ref" + std::to_string(i) + ".raw", size_t(od.w) * od.h * od.d);
    const std::vector<double> ours = values(outs[i].f);
    int64_t inside = 0, bad = 0;
    for (int z = 0; z < od.d; ++z)
      for (int y = 0; y < od.h; ++y)
        for (int x = 0; x < od.w; ++x) {
          const double p[3] = {m[0] * x + m[1] * y + m[2] * z + m[3], m[4] * x + m[5] * y + m[6] * z + m[7],
                               m[8] * x + m[9] * y + m[10] * z + m[11]};
          const int n[3] = {dims.w, dims.h, dims.d};
          bool in = true;
          // Nearest neighbour: a point near a rounding tie may pick either voxel.
          for (int k = 0; k < 3; ++k) {
            in = in && p[k] >= 0 && p[k] <= n[k] - 1;
            if (c.interpolation == 0) in = in && std::fabs(p[k] - std::floor(p[k]) - 0.5) > 1e-6;
          }
          if (!in) continue;
          ++inside;
          const size_t j = (size_t(z) * od.h + y) * od.w + x;
          if (std::fabs(ours[j] - ref[j]) > 1e-6) ++bad;
        }
    EXPECT_GT(inside, 100);
    EXPECT_EQ(bad, 0);
  }
}

TEST_F(Geometry, WindowedSincEqualsItkResampleFilter) {
  const DIM3D dims{16, 15, 10, 1};
  const SPC spc{0.9, 0.9, 1.8};
  FrameGuard src(smoothVolume(dims));
  const SPC target{0.9, 0.9, 0.9};
  double m[16];
  FrameGuard out(VA_VolRotation(src.f, &spc, nullptr, &target, 12, -7, 33, false, false, VA_INTERP_WSINC3, false, 50,
                                m, true));
  ASSERT_TRUE(out.f);
  // The same resampling spelled out with ITK: physical transform of the documented convention.
  using Image = itk::Image<double, 3>;
  auto input = twk::itkv::viewTimePoint<double>(src.f, 0, &spc);
  auto transform = itk::AffineTransform<double, 3>::New();
  itk::AffineTransform<double, 3>::MatrixType a;
  itk::AffineTransform<double, 3>::OutputVectorType b;
  const double ss[3] = {spc.x, spc.y, spc.z}, ts[3] = {target.x, target.y, target.z};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) a(r, c) = ss[r] * m[4 * r + c] / ts[c];
    b[r] = ss[r] * m[4 * r + 3];
  }
  transform->SetMatrix(a);
  transform->SetOffset(b);
  auto filter = itk::ResampleImageFilter<Image, Image>::New();
  filter->SetInput(input);
  filter->SetTransform(transform);
  filter->SetInterpolator(itk::WindowedSincInterpolateImageFunction<Image, 3>::New());
  filter->SetDefaultPixelValue(VOID_VALUE);
  Image::SizeType size;
  size[0] = out.f->dim.w;
  size[1] = out.f->dim.h;
  size[2] = out.f->dim.d;
  filter->SetSize(size);
  filter->SetOutputSpacing(ts);
  filter->Update();
  const double* ref = filter->GetOutput()->GetBufferPointer();
  const std::vector<double> ours = values(out.f);
  for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], ref[i]) << i;
}

TEST_F(Geometry, OutsideValuesAndIntegerSincClampedNotWrapped) {
  const DIM3D dims{12, 12, 6, 1};
  const SPC spc{1, 1, 1};
  // Hard 0/255 edges make a windowed sinc overshoot both ends of the 8-bit range.
  std::vector<uint8_t> bytes(size_t(dims.w) * dims.h * dims.d);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = ((i % 12) / 3) % 2 ? 255 : 0;
  FrameGuard u8(VA_CreateVol(bytes.data(), 8, dims.w, dims.h, dims.d, 1));
  std::vector<double> reals(bytes.begin(), bytes.end());
  FrameGuard real(VA_CreateVol(reals.data(), 64, dims.w, dims.h, dims.d, 1));
  for (int interp : {VA_INTERP_WSINC2, VA_INTERP_WSINC4}) {
    FrameGuard ri(VA_VolRotation(u8.f, &spc, nullptr, &spc, 0, 0, 20, false, false, interp, false, 50, nullptr, true));
    FrameGuard rr(VA_VolRotation(real.f, &spc, nullptr, &spc, 0, 0, 20, false, false, interp, false, 50, nullptr, true));
    ASSERT_TRUE(ri.f && rr.f);
    int over = 0, under = 0;
    for (int z = 0; z < rr.f->dim.d; ++z)
      for (int y = 0; y < rr.f->dim.h; ++y)
        for (int x = 0; x < rr.f->dim.w; ++x) {
          const double r = twk::voxelValue(rr.f, x, y, z, 0), i = twk::voxelValue(ri.f, x, y, z, 0);
          if (r == VOID_VALUE) {
            EXPECT_EQ(i, 0);  // outside: void in real results, 0 in integer ones
            continue;
          }
          over += r > 255.5;
          under += r < -0.5;
          EXPECT_EQ(i, std::clamp(std::floor(r + 0.5), 0.0, 255.0)) << x << "," << y << "," << z;
        }
    EXPECT_GT(over, 0);
    EXPECT_GT(under, 0);
  }
}

TEST_F(Geometry, RoiFollowsBinaryThresholdAndQuarterTurnsAgreeWithTheResampler) {
  const DIM3D dims{9, 7, 5, 2};
  std::vector<uint8_t> bytes(size_t(dims.w) * dims.h * dims.d * dims.t);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i * 7919) % 5 < 2;
  FrameGuard roi(VA_CreateVol(bytes.data(), 1, dims.w, dims.h, dims.d, dims.t));
  CVol vol;
  vol.frame = VA_VolClone(roi.f);
  vol.spc = SPC{1, 1, 1};
  VA_ROT rot;
  rot.axis[0] = 3;
  rot.angle[0] = 90;
  CVol* turned = vol.OrthoRotate(&rot, true);
  ASSERT_TRUE(turned);
  for (int interp : {VA_INTERP_NEAREST, VA_INTERP_LINEAR}) {
    FrameGuard resampled(VA_VolRotation(roi.f, &vol.spc, nullptr, &vol.spc, 0, 0, 90, false, false, interp, false, 50,
                                        nullptr, true));
    ASSERT_TRUE(resampled.f);
    EXPECT_TRUE(PR_FramesHaveIdenticalData(resampled.f, turned->frame));
  }
  delete turned;
  // A half-voxel shift puts every voxel at 0.5 between two: threshold 49 keeps the union, 50 none.
  const double shift[16] = {1, 0, 0, 0.5, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const DIM3D grid{dims.w - 1, dims.h, dims.d, 1};
  FrameGuard low(VA_VolResample(roi.f, &vol.spc, shift, &grid, &vol.spc, VA_INTERP_LINEAR, false, 49, true));
  FrameGuard high(VA_VolResample(roi.f, &vol.spc, shift, &grid, &vol.spc, VA_INTERP_LINEAR, false, 50, true));
  ASSERT_TRUE(low.f && high.f);
  for (int t = 0; t < dims.t; ++t)
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < grid.w; ++x) {
          const bool a = twk::roiBit(roi.f, x, y, z, t), b = twk::roiBit(roi.f, x + 1, y, z, t);
          EXPECT_EQ(twk::roiBit(low.f, x, y, z, t), a || b);
          EXPECT_EQ(twk::roiBit(high.f, x, y, z, t), a && b);
        }
}

TEST_F(Geometry, OrthogonalRotationIsBitExactAgainstNumpyRot90) {
  const DIM3D dims{6, 5, 4, 1};
  std::vector<uint16_t> v(size_t(dims.w) * dims.h * dims.d);
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint16_t(i * 37 % 1000);
  std::vector<double> asDouble(v.begin(), v.end());
  writeRaw("ortho.raw", asDouble);
  CVol vol;
  vol.frame = VA_CreateVol(v.data(), 16, dims.w, dims.h, dims.d, 1);
  vol.spc = SPC{0.5, 0.7, 2.0};
  // numpy axes: 0 z, 1 y, 2 x; a turn about x rotates (z, y), about y (x, z), about z (y, x).
  const struct {
    int axes[3];
    double angles[3];
    const char* numpy;
  } cases[] = {
      {{1, 0, 0}, {90, 0, 0}, "np.rot90(a, 1, axes=(0, 1))"},
      {{2, 0, 0}, {90, 0, 0}, "np.rot90(a, 1, axes=(2, 0))"},
      {{3, 0, 0}, {90, 0, 0}, "np.rot90(a, 1, axes=(1, 2))"},
      {{3, 0, 0}, {-90, 0, 0}, "np.rot90(a, -1, axes=(1, 2))"},
      {{1, 0, 0}, {180, 0, 0}, "np.rot90(a, 2, axes=(0, 1))"},
      {{3, 1, 0}, {90, 270, 0}, "np.rot90(np.rot90(a, 1, axes=(1, 2)), 3, axes=(0, 1))"},
      {{2, 3, 1}, {90, 180, -90}, "np.rot90(np.rot90(np.rot90(a, 1, axes=(2, 0)), 2, axes=(1, 2)), -1, axes=(0, 1))"},
  };
  std::string py = "a = np.fromfile('ortho.raw').reshape(4, 5, 6)\n";
  for (size_t i = 0; i < std::size(cases); ++i)
    py += std::string("r = ") + cases[i].numpy + "\nr.astype(np.float64).tofile('ortho_ref" + std::to_string(i) +
          ".raw')\nprint(*r.shape)\n";
  std::istringstream shapes(runPython(py));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.numpy);
    VA_ROT rot;
    for (int k = 0; k < 3; ++k) {
      rot.axis[k] = c.axes[k];
      rot.angle[k] = c.angles[k];
    }
    CVol* out = vol.OrthoRotate(&rot, true);
    ASSERT_TRUE(out);
    int d = 0, h = 0, w = 0;
    shapes >> d >> h >> w;
    ASSERT_EQ(out->W(), w);
    ASSERT_EQ(out->H(), h);
    ASSERT_EQ(out->D(), d);
    EXPECT_EQ(values(out->frame), readRaw("ortho_ref" + std::to_string(i) + ".raw", size_t(w) * h * d));
    // The spacing turns with the axes (the three sizes differ, so each axis is known by its size).
    const double sp[3] = {0.5, 0.7, 2.0};
    const int n[3] = {6, 5, 4};
    for (int k = 0; k < 3; ++k)
      for (int j = 0; j < 3; ++j)
        if ((k == 0 ? w : k == 1 ? h : d) == n[j]) {
          EXPECT_EQ((&out->spc.x)[k], sp[j]);
        }
    delete out;
  }
  VA_ROT none;
  EXPECT_EQ(vol.OrthoRotate(&none, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"CVol::OrthoRotate : Rotation is not specified"));
  VA_ROT odd;
  odd.axis[0] = 1;
  odd.angle[0] = 45;
  EXPECT_EQ(vol.OrthoRotate(&odd, true), nullptr);
}

// World positions (three numbers each) of voxels of saved NIfTI files, read by nibabel in one run.
std::vector<double> nibabelWorld(const std::vector<std::pair<std::string, std::array<double, 3>>>& points) {
  std::ostringstream py;
  py.precision(17);
  py << "import nibabel as nib\n";
  for (const auto& [file, v] : points)
    py << "print(*(nib.load('" << file << "').affine @ [" << v[0] << "," << v[1] << "," << v[2] << ",1])[:3])\n";
  std::istringstream in(runPython(py.str()));
  std::vector<double> out;
  double x;
  while (in >> x) out.push_back(x);
  EXPECT_EQ(out.size(), 3 * points.size());
  out.resize(3 * points.size());
  return out;
}

bool saveNifti(const CVol* vol, const std::string& name) {
  const std::vector<double> v = values(vol->frame);
  const DPOINT3D* last = vol->imgPos ? &vol->imgPos[vol->D() - 1] : nullptr;
  return VA_NiftiSaveVol(CString::fromUtf8(g_dir + "/" + name), v.data(), 64, vol->Dim(), vol->Spc(), vol->orient,
                         vol->imgPos, last, MODALITY_MR, nullptr, true);
}

// The index of the largest voxel of time point 0.
std::array<double, 3> peak(const FRAME* f) {
  std::array<double, 3> best{0, 0, 0};
  double top = -1;
  for (int z = 0; z < f->dim.d; ++z)
    for (int y = 0; y < f->dim.h; ++y)
      for (int x = 0; x < f->dim.w; ++x) {
        const double v = twk::voxelValue(f, x, y, z, 0);
        if (v != VOID_VALUE && v > top) {
          top = v;
          best = {double(x), double(y), double(z)};
        }
      }
  return best;
}

TEST_F(Geometry, MarkersKeepTheirWorldPositionInSavedNifti) {
  // An oblique source with a single bright marker.
  const DIM3D dims{11, 9, 7, 1};
  CVol vol;
  vol.frame = VA_VolCreateUniform(FRM_REAL, dims, 0.0);
  vol.spc = SPC{1.0, 1.0, 2.0};
  const double c = std::cos(0.3), s = std::sin(0.3);
  const double orient[6] = {c, s, 0, -s, c, 0};
  vol.SetOrientation(orient);
  const DPOINT3D start{-20, 15, 40};
  vol.SetImagePositions(&start);
  const std::array<double, 3> marker{3, 6, 2};
  twk::setVoxelValue(vol.frame, 3, 6, 2, 0, 1000);
  ASSERT_TRUE(saveNifti(&vol, "marker_src.nii"));

  VA_ROT rot;
  rot.axis[0] = 2;
  rot.angle[0] = 90;
  rot.axis[1] = 3;
  rot.angle[1] = 180;
  CVol* ortho = vol.OrthoRotate(&rot, true);
  ASSERT_TRUE(ortho);
  ASSERT_TRUE(saveNifti(ortho, "marker_ortho.nii"));
  const std::array<double, 3> orthoPeak = peak(ortho->frame);
  delete ortho;

  const SPC iso{1, 1, 1};
  double m[16];
  FRAME* turned = VA_VolRotation(vol.frame, &vol.spc, nullptr, &iso, 25, -10, 40, false, false, VA_INTERP_NEAREST, false,
                                 50, m, true);
  ASSERT_TRUE(turned);
  CVol* free = VA_CloneResampled(&vol, &turned, m, &iso, true);
  ASSERT_TRUE(free);
  ASSERT_TRUE(saveNifti(free, "marker_free.nii"));
  // Every target voxel lies in the patient where the matrix says it samples the source: the peak
  // voxel through the target's saved geometry and through the source's, both read by nibabel.
  const std::array<double, 3> q = peak(free->frame);
  std::array<double, 3> p;
  for (int r = 0; r < 3; ++r) p[size_t(r)] = m[4 * r] * q[0] + m[4 * r + 1] * q[1] + m[4 * r + 2] * q[2] + m[4 * r + 3];
  const std::vector<double> w = nibabelWorld(
      {{"marker_src.nii", marker}, {"marker_ortho.nii", orthoPeak}, {"marker_free.nii", q}, {"marker_src.nii", p}});
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(w[3 + size_t(k)], w[size_t(k)], 1e-6);  // the quarter turns keep the marker exactly
    EXPECT_NEAR(w[6 + size_t(k)], w[9 + size_t(k)], 1e-6);
    // Nearest neighbour: the sampled point is within half a voxel of the marker on every axis.
    EXPECT_LE(std::fabs(p[size_t(k)] - marker[size_t(k)]), 0.5 + 1e-9);
  }
  // The orientation of a rotation agrees with the geometry of its document.
  double o[6];
  DPOINT3D first;
  ASSERT_TRUE(VA_DicomOrientation_ChangeByRotation(&vol, 25, -10, 40, free->Dim(), &iso, o, &first));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(o[k], free->orient[k], 1e-12);
  EXPECT_NEAR(first.x, free->imgPos[0].x, 1e-9);
  EXPECT_NEAR(first.z, free->imgPos[0].z, 1e-9);
  delete free;
}

TEST_F(Geometry, SpecifiedOrientationLettersMatchNibabelAxisCodes) {
  CVol vol;
  vol.frame = VA_VolCreateUniform(FRM_INT, DIM3D{4, 3, 5, 1}, 7.0);
  vol.spc = SPC{1, 2, 3};
  const wchar_t* cases[] = {L"APRLSI", L"SILRAP", L"ISRLPA", L"LRSIPA"};
  std::string py = "import nibabel as nib\n";
  for (size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(vol.SetSpecifiedOrientation3AXIS(cases[i])) << CString(cases[i]).toUtf8();
    const std::string file = "letters" + std::to_string(i) + ".nii";
    ASSERT_TRUE(saveNifti(&vol, file));
    py += "print(''.join(nib.aff2axcodes(nib.load('" + file + "').affine)))\n";
  }
  std::istringstream codes(runPython(py));
  for (const wchar_t* letters : cases) {
    // Index x grows towards the right edge, y towards the bottom, z towards the last slice.
    const std::string want{char(letters[3]), char(letters[1]), char(letters[5])};
    std::string got;
    codes >> got;
    EXPECT_EQ(got, want) << CString(letters).toUtf8();
  }
  for (const wchar_t* bad : {L"SILRA", L"SIIRAP", L"SILRSI", L"SILRAX", L"SSLRAP"}) {
    EXPECT_FALSE(vol.SetSpecifiedOrientation3AXIS(bad)) << CString(bad).toUtf8();
    EXPECT_EQ(ui_.lastMessage(), CString(L"CVol::SetSpecifiedOrientation3AXIS : Orientation letters should be three "
                                         L"pairs of opposite directions"));
  }
}

TEST_F(Geometry, GridsOfIsotropicAndResolutionChanges) {
  // Make Isotropic on 0.5 x 0.5 x 3 mm: 0.5 mm and six times the slices.
  const DIM3D dims{20, 16, 8, 1};
  const SPC spc{0.5, 0.5, 3};
  const SPC iso{0.5, 0.5, 0.5};
  DIM3D grid;
  ASSERT_TRUE(VA_RotationGrid(&dims, &spc, &iso, 0, 0, 0, false, false, &grid, nullptr));
  EXPECT_EQ(grid.w, 20);
  EXPECT_EQ(grid.h, 16);
  EXPECT_EQ(grid.d, 48);
  // One slice turned about z stays one slice when asked.
  const DIM3D flat{20, 16, 1, 1};
  ASSERT_TRUE(VA_RotationGrid(&flat, &spc, &iso, 0, 0, 30, false, true, &grid, nullptr));
  EXPECT_EQ(grid.d, 1);

  CVol vol;
  vol.frame = VA_VolCreateUniform(FRM_INT, DIM3D{10, 10, 4, 3}, 42.0);
  vol.spc = SPC{1, 1, 3};
  const SPC half{0.5, 0.5, 1.5};
  CVol* fine = VA_VolChangeResolution(&vol, &half, VA_INTERP_LINEAR, true);
  ASSERT_TRUE(fine);
  EXPECT_EQ(fine->W(), 20);
  EXPECT_EQ(fine->D(), 8);
  EXPECT_EQ(fine->T(), 3);
  // Same field of view: every voxel keeps the uniform value (the edge clamps, nothing falls outside).
  for (double v : values(fine->frame)) ASSERT_EQ(v, 42.0);
  delete fine;
  for (SPC bad : {SPC{0.0005, 1, 1}, SPC{1, -1, 1}, SPC{1, 1, std::nan("")}}) {
    EXPECT_EQ(VA_VolChangeResolution(&vol, &bad, VA_INTERP_LINEAR, true), nullptr);
    EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolChangeResolution : Invalid resolution is specified"));
  }
}

TEST_F(Geometry, PadGrowsEveryAxisAndKeepsTheVoxels) {
  const DIM3D dims{3, 2, 2, 2};
  std::vector<uint8_t> bytes(size_t(dims.w) * dims.h * dims.d * dims.t);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i + 1);
  for (int bpv : {8, 1}) {
    FrameGuard f(VA_CreateVol(bytes.data(), bpv, dims.w, dims.h, dims.d, dims.t));
    for (bool endOnly : {false, true}) {
      DIM3D nd;
      FrameGuard p(VA_VolumePad(f.f, 2, 1, 3, endOnly, 0.0, &nd, true));
      ASSERT_TRUE(p.f);
      const int k = endOnly ? 1 : 2, ox = endOnly ? 0 : 2, oy = endOnly ? 0 : 1, oz = endOnly ? 0 : 3;
      EXPECT_EQ(nd.w, 3 + 2 * k);
      EXPECT_EQ(nd.h, 2 + 1 * k);
      EXPECT_EQ(nd.d, 2 + 3 * k);
      EXPECT_EQ(nd.t, 2);
      double sum = 0, want = 0;
      for (int t = 0; t < nd.t; ++t)
        for (int z = 0; z < nd.d; ++z)
          for (int y = 0; y < nd.h; ++y)
            for (int x = 0; x < nd.w; ++x) sum += twk::voxelValue(p.f, x, y, z, t);
      for (int t = 0; t < dims.t; ++t)
        for (int z = 0; z < dims.d; ++z)
          for (int y = 0; y < dims.h; ++y)
            for (int x = 0; x < dims.w; ++x) {
              want += twk::voxelValue(f.f, x, y, z, t);
              EXPECT_EQ(twk::voxelValue(p.f, x + ox, y + oy, z + oz, t), twk::voxelValue(f.f, x, y, z, t));
            }
      EXPECT_EQ(sum, want);  // the border holds only the pad value
    }
  }
  FrameGuard f(VA_CreateVol(bytes.data(), 8, dims.w, dims.h, dims.d, dims.t));
  EXPECT_EQ(VA_VolumePad(f.f, 1, -1, 0, false, 0.0, nullptr, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolumePad : Pad size must not be negative"));
}

TEST_F(Geometry, RoiBoundsOverAllTimes) {
  FrameGuard roi(VA_VolCreateUniform(FRM_ROI, DIM3D{8, 6, 5, 3}, 0.0));
  RECT3D box;
  ASSERT_TRUE(VA_RoiBoundRectAllTimes(roi.f, &box));
  EXPECT_GT(box.x0, box.x1);  // empty
  twk::setRoiBit(roi.f, 2, 4, 1, 0, true);
  twk::setRoiBit(roi.f, 6, 1, 3, 2, true);
  ASSERT_TRUE(VA_RoiBoundRectAllTimes(roi.f, &box));
  EXPECT_EQ(box.x0, 2);
  EXPECT_EQ(box.x1, 6);
  EXPECT_EQ(box.y0, 1);
  EXPECT_EQ(box.y1, 4);
  EXPECT_EQ(box.z0, 1);
  EXPECT_EQ(box.z1, 3);
  ASSERT_TRUE(VA_GetSingleBoundRect(roi.f, &box));
  EXPECT_EQ(box.x1, 2);
  EXPECT_EQ(box.z1, 1);
}

TEST_F(Geometry, LandmarkFilesFromNumpySavetxt) {
  runPython("np.savetxt('marks.txt', np.array([[1, 2, 3], [4.5, 0, 0], [9, 7, 4]]))\n"
            "open('bad.txt', 'w').write('1 2 3\\n4 x 5\\n')\n"
            "open('outside.txt', 'w').write('# x y z\\n1 2 3\\n\\n10.6, 1, 1\\n')\n");
  FrameGuard f(VA_VolCreateUniform(FRM_INT, DIM3D{10, 8, 5, 1}, 0.0));
  int n = 0;
  DPOINT3D* points = VA_LoadLandmarkFile(f.f, CString::fromUtf8(g_dir + "/marks.txt"), &n, true);
  ASSERT_TRUE(points);
  ASSERT_EQ(n, 3);
  EXPECT_EQ(points[1].x, 4.5);
  EXPECT_EQ(points[2].z, 4);
  pf_free(&points);
  const struct {
    const char* file;
    const wchar_t* message;
  } bad[] = {{"bad.txt", L"VA_LoadLandmarkFile : Invalid landmark line 2"},
             {"outside.txt", L"VA_LoadLandmarkFile : Landmark 2 is outside the volume"}};
  for (const auto& b : bad) {
    EXPECT_EQ(VA_LoadLandmarkFile(f.f, CString::fromUtf8(g_dir + "/" + b.file), &n, true), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(ui_.lastMessage(), CString(b.message));
  }
}

// Simulates Esc: the second pump after the start (the first progress report) clears the work flag.
int pumpsUntilEsc = -1;
bool escAfterPumps(const wchar_t*, bool) {
  if (pumpsUntilEsc >= 0 && pumpsUntilEsc-- == 0) PR_SetInWorkProcess(false);
  return true;
}

TEST_F(Geometry, EscStopsAResampleSilently) {
  FrameGuard src(smoothVolume(DIM3D{40, 40, 30, 3}));
  const SPC spc{1, 1, 1};
  MSGBLOCK block;
  block.showMessage = escAfterPumps;
  PR_InitFrameFunctions(&block);
  pumpsUntilEsc = 1;
  FRAME* out = VA_VolRotation(src.f, &spc, nullptr, &spc, 10, 10, 10, false, false, VA_INTERP_LINEAR, true, 50, nullptr,
                              true);
  pumpsUntilEsc = -1;
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
  EXPECT_EQ(out, nullptr);
  PR_FrameDelete(&out);
  EXPECT_TRUE(ui_.messages.empty());
}

}  // namespace

TEST_F(Geometry, LineGuideShiftAndSectorTurnInPlace) {
  auto fill = [](CVol& vol, DIM3D d) {
    vol.frame = PR_FrameCreate(FRM_INT, 16, d, true);
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) twk::setVoxelValue(vol.frame, x, y, z, 0, 1 + x + 20 * y + 400 * z);
  };
  const DIM3D d{14, 10, 5, 1};
  auto source = [](int x, int y, int z) { return 1.0 + x + 20 * y + 400 * z; };
  auto inside = [&](int x, int y, int z) { return x >= 0 && y >= 0 && z >= 0 && x < d.w && y < d.h && z < d.d; };
  {
    CVol vol;
    fill(vol, d);
    const FRAME* frame = vol.frame;
    const uint8_t* data = frame->data;
    const DPOINT3D vector[2] = {{3, 3, 1}, {5, 2, 2}};  // (2, -1, 1)
    ASSERT_TRUE(vol.ShiftUsingVector(nullptr, vector, VA_INTERP_NEAREST));
    EXPECT_EQ(vol.frame, frame);
    EXPECT_NE(vol.frame->data, data);  // new voxels swapped into the same frame
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x)
          ASSERT_EQ(twk::voxelValue(vol.frame, x, y, z, 0),
                    inside(x - 2, y + 1, z - 1) ? source(x - 2, y + 1, z - 1) : 0.0) << x << y << z;
    const DPOINT3D none[2] = {{1, 1, 1}, {1, 1, 1}};
    EXPECT_FALSE(vol.ShiftUsingVector(nullptr, none, VA_INTERP_NEAREST));
    EXPECT_EQ(ui_.lastMessage(), CString(L"CVol::ShiftUsingVector : Shift vector is zero"));
  }
  {
    // A quarter turn about z in millimetres on voxels twice as tall as wide: the arm of 4 voxels
    // along x (4 mm) turns onto the arm of 2 voxels along y (4 mm). The voxel dx, dy from the apex
    // comes from (2 dy, -dx / 2), which is a voxel centre for even dx.
    CVol vol;
    fill(vol, d);
    vol.spc = SPC{1, 2, 1};
    const DPOINT3D sector[3] = {{10, 4, 2}, {6, 4, 2}, {6, 6, 2}};
    ASSERT_TRUE(vol.RotateUsingSector(nullptr, sector, VA_INTERP_NEAREST));
    int checked = 0;
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; x += 1) {
          const int dx = x - 6, dy = y - 4;
          if (dx % 2 != 0) continue;
          const int sx = 6 + 2 * dy, sy = 4 - dx / 2;
          ASSERT_EQ(twk::voxelValue(vol.frame, x, y, z, 0), inside(sx, sy, z) ? source(sx, sy, z) : 0.0)
              << x << " " << y << " " << z;
          ++checked;
        }
    EXPECT_GT(checked, 100);
    const struct {
      DPOINT3D p[3];
      const wchar_t* message;
    } refused[] = {
        {{{8, 4, 2}, {6, 4, 2}, {10, 4, 2}}, L"CVol::RotateUsingSector : Rotation is not specified"},
        {{{8, 4, 2}, {6, 4, 2}, {2, 4, 2}}, L"CVol::RotateUsingSector : Sector arms should not lie on one line"},
        {{{6, 4, 2}, {6, 4, 2}, {2, 4, 2}}, L"CVol::RotateUsingSector : Sector arms should not be empty"},
    };
    for (const auto& r : refused) {
      EXPECT_FALSE(vol.RotateUsingSector(nullptr, r.p, VA_INTERP_NEAREST));
      EXPECT_EQ(ui_.lastMessage(), CString(r.message));
    }
  }
}
