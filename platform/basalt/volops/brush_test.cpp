// The voxel brush against lattice counts and closed forms: which voxels each shape paints, the box
// its undo record keeps, time points, signals and the refusals.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "UndoRec.h"
#include "render/ProjectionGeometry.h"
#include "volops/Brush.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

struct FrameOwner {
  FRAME* f = nullptr;
  explicit FrameOwner(FRAME* frame) : f(frame) {}
  ~FrameOwner() { PR_FrameDelete(&f); }
};

int64_t countSet(const FRAME* f, int t = -1) {
  int64_t n = 0;
  for (int ti = 0; ti < f->dim.t; ++ti) {
    if (t >= 0 && ti != t) continue;
    for (int z = 0; z < f->dim.d; ++z)
      for (int y = 0; y < f->dim.h; ++y)
        for (int x = 0; x < f->dim.w; ++x) n += twk::voxelValue(f, x, y, z, ti) != 0 ? 1 : 0;
  }
  return n;
}

VA_VOLPROJ nativePlane() {
  VA_VOLPROJ p;
  VA_InitVOLPROJ(&p);
  return p;
}

BRUSHPARMS parms(double radius) {
  BRUSHPARMS b;
  b.radius = radius;
  return b;
}

}  // namespace

TEST(Brush, ShapesPaintTheLatticePointsWithinTheRadius) {
  // One click at a voxel centre: the voxels whose centres lie within radius 2.
  // Circle: the 13 points with dx^2 + dy^2 <= 4; sphere: the 33 with dx^2 + dy^2 + dz^2 <= 4;
  // cylinder (1 mm slices): the circle on the 5 slices within 2 mm.
  const struct {
    int shape;
    int64_t voxels;
  } cases[] = {{VA_BRUSH_CIRCLE, 13}, {VA_BRUSH_SPHERE, 33}, {VA_BRUSH_CYLINDER, 65}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shape);
    FrameOwner roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{20, 20, 12, 1}, true));
    const SPC spc;
    const VA_VOLPROJ p = nativePlane();
    const BRUSHPARMS b = parms(2);
    const VA_BRUSHPOINT at{10.5, 10.5, 6.5, 0};
    UNDOREC* undo = nullptr;
    ASSERT_TRUE(VA_ApplyBrush(roi.f, &spc, &b, &p, &at, &at, true, c.shape, &undo));
    std::unique_ptr<UNDOREC> record(undo);
    EXPECT_EQ(countSet(roi.f), c.voxels);
    EXPECT_TRUE(twk::roiBit(roi.f, 10, 10, 6, 0));
    EXPECT_FALSE(twk::roiBit(roi.f, 13, 10, 6, 0));
  }
}

TEST(Brush, ABallOnAnisotropicVoxelsIsRoundInMillimetres) {
  // 0.5 x 0.5 x 2 mm, radius 10 voxels in the plane = 5 mm: the painted volume is within 5 % of the
  // ball's, wherever the centre falls between slices.
  const SPC spc{0.5, 0.5, 2.0};
  const double r = 5.0, ball = 4.0 / 3.0 * M_PI * r * r * r;
  for (double z : {8.5, 8.0, 8.25}) {
    SCOPED_TRACE(z);
    FrameOwner roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{40, 40, 16, 1}, true));
    const VA_VOLPROJ p = nativePlane();
    const BRUSHPARMS b = parms(10);
    const VA_BRUSHPOINT at{20.0, 20.0, z, 0};
    ASSERT_TRUE(VA_ApplyBrush(roi.f, &spc, &b, &p, &at, &at, true, VA_BRUSH_SPHERE, nullptr));
    const double painted = double(countSet(roi.f)) * spc.x * spc.y * spc.z;
    EXPECT_NEAR(painted / ball, 1.0, 0.05);
  }
}

TEST(Brush, ASegmentPaintsTheCapsuleAndItsRecordCoversOnlyItsBox) {
  FrameOwner vol(PR_FrameCreate(FRM_INT, 16, DIM3D{64, 48, 10, 1}, true));
  for (int64_t i = 0; i < 64 * 48 * 10; ++i) reinterpret_cast<uint16_t*>(vol.f->data)[i] = uint16_t(i % 1000);
  FrameOwner before(VA_VolClone(vol.f));
  const SPC spc;
  const VA_VOLPROJ p = nativePlane();
  BRUSHPARMS b = parms(3);
  b.paintSignal = 4095;
  const VA_BRUSHPOINT a{10.2, 20.7, 4.5, 0}, c{40.9, 25.1, 4.5, 0};
  UNDOREC* undo = nullptr;
  ASSERT_TRUE(VA_ApplyBrush(vol.f, &spc, &b, &p, &a, &c, true, VA_BRUSH_CIRCLE, &undo));
  std::unique_ptr<UNDOREC> record(undo);
  // Voxel by voxel against the distance of its centre to the segment.
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const double px = x + 0.5, py = y + 0.5, dx = c.x - a.x, dy = c.y - a.y;
      const double u = std::clamp(((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
      const double d = std::hypot(px - a.x - u * dx, py - a.y - u * dy);
      const double expected = d <= 3 ? 4095 : twk::voxelValue(before.f, x, y, 4, 0);
      ASSERT_EQ(twk::voxelValue(vol.f, x, y, 4, 0), expected) << x << "," << y;
    }
  // Other slices are untouched; the record holds the segment's box grown by the radius, one slice.
  for (int z : {3, 5}) EXPECT_EQ(std::memcmp(twk::frameLine(vol.f, 0, z, 0), twk::frameLine(before.f, 0, z, 0), 64 * 48 * 2), 0);
  const RECT4D box = record->box;
  EXPECT_EQ(box.x0, 7);
  EXPECT_EQ(box.x1, 43);
  EXPECT_EQ(box.y0, 18);
  EXPECT_EQ(box.y1, 27);
  EXPECT_EQ(box.z0, 4);
  EXPECT_EQ(box.z1, 4);
  const uint64_t boxBytes = uint64_t(box.x1 - box.x0 + 1) * (box.y1 - box.y0 + 1) * 2;
  EXPECT_LE(record->MemSize(), boxBytes + 512);
  // The record restores the voxels bit for bit.
  ASSERT_TRUE(record->ApplyFrameChange());
  EXPECT_EQ(std::memcmp(vol.f->data, before.f->data, PR_FrameMemSize(vol.f)), 0);
}

TEST(Brush, OneOrAllTimePointsAndTheSignalsOfRealLayers) {
  FrameOwner map(PR_FrameCreate(FRM_REAL, 64, DIM3D{16, 16, 4, 5}, true));
  const SPC spc;
  const VA_VOLPROJ p = nativePlane();
  BRUSHPARMS b = parms(1.6);
  b.paintSignal = 2.5;
  b.eraseSignal = -1;
  const VA_BRUSHPOINT at{8, 8, 2.5, 3};
  ASSERT_TRUE(VA_ApplyBrush(map.f, &spc, &b, &p, &at, &at, true, VA_BRUSH_CIRCLE, nullptr));
  for (int t = 0; t < 5; ++t) EXPECT_EQ(countSet(map.f, t), t == 3 ? 12 : 0) << t;
  EXPECT_EQ(twk::voxelValue(map.f, 8, 8, 2, 3), 2.5);
  b.allTimepoints = 1;
  ASSERT_TRUE(VA_ApplyBrush(map.f, &spc, &b, &p, &at, &at, false, VA_BRUSH_CIRCLE, nullptr));
  for (int t = 0; t < 5; ++t) {
    EXPECT_EQ(countSet(map.f, t), 12) << t;
    EXPECT_EQ(twk::voxelValue(map.f, 8, 8, 2, t), -1.0);
  }
}

TEST(Brush, TheDiscLiesInTheViewsPlane) {
  // A coronal view (a quarter turn about x): the disc spans x and z on one y slice.
  FrameOwner roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{20, 20, 20, 1}, true));
  const SPC spc;
  VA_VOLPROJ p = nativePlane();
  p.rotation[0] = 90;
  const BRUSHPARMS b = parms(2);
  const VA_BRUSHPOINT at{10.5, 7.5, 10.5, 0};
  ASSERT_TRUE(VA_ApplyBrush(roi.f, &spc, &b, &p, &at, &at, true, VA_BRUSH_CIRCLE, nullptr));
  EXPECT_EQ(countSet(roi.f), 13);
  for (int z = 8; z <= 12; ++z) EXPECT_TRUE(twk::roiBit(roi.f, 10, 7, z, 0)) << z;
  EXPECT_FALSE(twk::roiBit(roi.f, 10, 8, 10, 0));
  EXPECT_FALSE(twk::roiBit(roi.f, 10, 6, 10, 0));
}

TEST(Brush, RefusalsChangeNothingAndMakeNoRecord) {
  FrameOwner roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{10, 10, 4, 2}, true));
  const SPC spc;
  VA_VOLPROJ oblique = nativePlane();
  oblique.rotation[2] = 30;
  const VA_VOLPROJ p = nativePlane();
  const VA_BRUSHPOINT inside{5, 5, 1.5, 0}, far{500, 500, 1.5, 0}, late{5, 5, 1.5, 7};
  const struct {
    const char* name;
    double radius;
    const VA_VOLPROJ* plane;
    const VA_BRUSHPOINT* point;
  } cases[] = {{"radius 0", 0, &p, &inside},
               {"radius not a number", std::nan(""), &p, &inside},
               {"oblique plane", 2, &oblique, &inside},
               {"outside the frame", 2, &p, &far},
               {"time point beyond the frame", 2, &p, &late}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const BRUSHPARMS b = parms(c.radius);
    UNDOREC* undo = reinterpret_cast<UNDOREC*>(0x1);
    EXPECT_FALSE(VA_ApplyBrush(roi.f, &spc, &b, c.plane, c.point, c.point, true, VA_BRUSH_CIRCLE, &undo));
    EXPECT_EQ(undo, reinterpret_cast<UNDOREC*>(0x1));
    EXPECT_EQ(countSet(roi.f), 0);
  }
}
