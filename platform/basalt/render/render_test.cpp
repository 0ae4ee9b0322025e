// Tests of the render family: rectangle helpers, splines, projection geometry at quarter-turn and
// oblique planes, film layout, orientation letters, picture zoom (nearest, bilinear, slab
// projections, labels) and the window mapping of the colour schemes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "TwkMem.h"
#include "Vol.h"
#include "render/ColorSchemes.h"
#include "render/HermiteSpline.h"
#include "render/PictureZoom.h"
#include "render/ProjectionGeometry.h"
#include "render/RectHelpers.h"
#include "volume/Volume.h"

namespace {

TEST(RectHelpers, IntersectionNormalisesAndCountsTouching) {
  const struct {
    DRECT a, b;
    bool meet;
    DRECT expected;
  } cases[] = {
      {{0, 0, 10, 10}, {5, 5, 20, 20}, true, {5, 5, 10, 10}},
      {{10, 10, 0, 0}, {20, 20, 5, 5}, true, {5, 5, 10, 10}},   // corners in either order
      {{0, 0, 10, 10}, {10, 0, 20, 10}, true, {10, 0, 10, 10}},  // touching: zero width
      {{0, 0, 10, 10}, {10.5, 0, 20, 10}, false, {}},
  };
  for (const auto& c : cases) {
    DRECT r;
    ASSERT_EQ(PR_IntersectDrects(&c.a, &c.b, &r), c.meet);
    if (c.meet) {
      EXPECT_TRUE(VA_IsEqualRect(&r, &c.expected));
    }
  }
}

TEST(RectHelpers, InnerRectMapsWorldIntoPictureUnitsWithYDownwards) {
  const DRECT bounds{10, 20, 110, 70};  // 100 x 50 world units holding a 200 x 100 picture
  const DRECT world{10, 70, 20, 60};    // the top-left corner
  DRECT r;
  ASSERT_TRUE(PR_GetInnerDrect(&bounds, 200, 100, &world, &r));
  EXPECT_DOUBLE_EQ(r.x0, 0);
  EXPECT_DOUBLE_EQ(r.x1, 20);
  EXPECT_DOUBLE_EQ(r.y0, 0);
  EXPECT_DOUBLE_EQ(r.y1, 20);
  const DRECT flat{0, 0, 0, 10};
  EXPECT_FALSE(PR_GetInnerDrect(&flat, 10, 10, &world, &r));
}

TEST(RectHelpers, BoundingBoxOfNoPointsIsEmpty) {
  DRECT r;
  PR_PointSetBndRect(nullptr, 0, &r);
  EXPECT_GT(r.x0, r.x1);
  const DPOINT p[] = {{3, -1}, {-2, 4}, {1, 1}};
  PR_PointSetBndRect(p, 3, &r);
  const DRECT expected{-2, -1, 3, 4};
  EXPECT_TRUE(VA_IsEqualRect(&r, &expected));
}

TEST(RectHelpers, EllipseHitsByAreaOrOutline) {
  const DRECT ellipse{0, 0, 20, 10};  // centre (10, 5), half axes 10 and 5
  const struct {
    const char* name;
    DRECT rect;
    bool filled, outline;
  } cases[] = {
      {"inside", {9, 4, 11, 6}, true, false},
      {"across the edge", {18, 4, 22, 6}, true, true},
      {"corner of the box outside the ellipse", {0, 0, 1, 1}, false, false},
      {"covering all", {-5, -5, 25, 15}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PR_RectIntersectEllipce(&ellipse, &c.rect, true), c.filled);
    EXPECT_EQ(PR_RectIntersectEllipce(&ellipse, &c.rect, false), c.outline);
  }
}

TEST(RectHelpers, PolylineHitsWithWidthAndClosingSegment) {
  const DPOINT p[] = {{0, 0}, {10, 0}, {10, 10}};
  const DRECT nearDiagonal{4, 4, 6, 6};     // only the closing segment passes here
  const DRECT besideLine{4, 1, 6, 2};       // 1 unit above the first segment
  EXPECT_FALSE(PR_PolylineDrectIntersect(p, 3, false, 0, &nearDiagonal));
  EXPECT_TRUE(PR_PolylineDrectIntersect(p, 3, true, 0, &nearDiagonal));
  EXPECT_FALSE(PR_PolylineDrectIntersect(p, 3, false, 1, &besideLine));
  EXPECT_TRUE(PR_PolylineDrectIntersect(p, 3, false, 2, &besideLine));
}

TEST(HermiteSpline, PassesThroughPointsAndStraightensAtFullTension) {
  const DPOINT p[] = {{0, 0}, {10, 5}, {20, 0}, {30, 8}};
  int n = 0;
  DPOINT* s = PR_CubicHermiteSpline2D(false, 0, 0.0, p, 4, 0.5, &n);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s[0].x, 0);
  EXPECT_EQ(s[n - 1].x, 30);
  EXPECT_EQ(s[n - 1].y, 8);
  int found = 0;
  for (int i = 0; i < n; ++i)
    for (const DPOINT& q : p)
      if (std::fabs(s[i].x - q.x) < 1e-12 && std::fabs(s[i].y - q.y) < 1e-12) ++found;
  EXPECT_EQ(found, 4);
  pf_free(&s);
  // Tension 1: every sample of the first segment lies on its chord.
  s = PR_CubicHermiteSpline2D(false, 0, 1.0, p, 4, 0.5, &n);
  for (int i = 0; i < n && s[i].x <= 10; ++i) EXPECT_NEAR(s[i].y, s[i].x * 0.5, 1e-9);
  pf_free(&s);
  EXPECT_EQ(PR_CubicHermiteSpline2D(false, 0, 0, p, 0, 0.1, &n), nullptr);
}

TEST(HermiteSpline, InsertedPointGoesIntoTheNearestSegment) {
  auto* p = static_cast<DPOINT*>(pf_malloc(3 * sizeof(DPOINT)));
  p[0] = {0, 0};
  p[1] = {10, 0};
  p[2] = {20, 0};
  int n = 3;
  ASSERT_TRUE(PR_CubicHermiteSpline2D_InsertPoint(&p, &n, {15, 1}, false, 0.5));
  ASSERT_EQ(n, 4);
  EXPECT_EQ(p[2].x, 15);
  ASSERT_TRUE(PR_CubicHermiteSpline2D_InsertPoint(&p, &n, {30, 0}, false, 0.5));
  EXPECT_EQ(p[4].x, 30);  // beyond the open end: appended
  pf_free(&p);
}

VA_VOLPROJ record(double rx, double ry, double rz, int slice = 0) {
  VA_VOLPROJ p;
  VA_InitVOLPROJ(&p);
  p.rotation[0] = rx;
  p.rotation[1] = ry;
  p.rotation[2] = rz;
  p.slice = slice;
  return p;
}

TEST(Projection, CopyKeepsTheTargetsView) {
  VA_VOLPROJ a = record(90, 0, 0, 7), b;
  a.view = reinterpret_cast<CDrawView*>(0x10);
  a.slabThickness = 3;
  VA_InitVOLPROJ(&b);
  EXPECT_EQ(b.mode, 1);
  b.view = reinterpret_cast<CDrawView*>(0x20);
  ASSERT_TRUE(VA_CopyVOLPROJ(&b, &a));
  EXPECT_EQ(b.view, reinterpret_cast<CDrawView*>(0x20));
  EXPECT_EQ(b.slice, 7);
  EXPECT_EQ(b.slabThickness, 3);
  EXPECT_FALSE(VA_CopyVOLPROJ(&b, nullptr));
}

TEST(Projection, QuarterTurnMapAgreesWithTheVolumeFamily) {
  const DIM3D dims{5, 7, 3, 1};
  const SPC spc{1, 2, 3};
  for (double rx : {0.0, 90.0, 180.0, -90.0})
    for (double ry : {0.0, 90.0})
      for (double rz : {0.0, 270.0}) {
        const VA_VOLPROJ p = record(rx, ry, rz);
        DIM3D a, b;
        ASSERT_TRUE(VA_VolProjDimensions(&dims, &spc, &p, &a));
        ASSERT_TRUE(VA_VolProjGridDimensions(&dims, &spc, &p, &b));
        EXPECT_EQ(a.w, b.w);
        EXPECT_EQ(a.h, b.h);
        EXPECT_EQ(a.d, b.d);
        const DPOINT3D q{1.25, 2.5, 0.75};
        DPOINT3D v1, v2;
        ASSERT_TRUE(VA_VolProjConversion(&dims, &spc, &p, &q, &v1, 0));
        ASSERT_TRUE(VA_VolProjGridConversion(&dims, &spc, &p, &q, &v2, 0));
        EXPECT_NEAR(v1.x, v2.x, 1e-12);
        EXPECT_NEAR(v1.y, v2.y, 1e-12);
        EXPECT_NEAR(v1.z, v2.z, 1e-12);
      }
}

TEST(Projection, ObliquePlaneIsResampledAndRoundTrips) {
  const DIM3D dims{40, 30, 20, 1};
  const SPC spc{1, 1, 2};
  VA_VOLPROJ p = record(30, 0, 0);
  EXPECT_FALSE(VA_VolProjDimensions(&dims, &spc, &p, nullptr));
  DIM3D pd;
  SPC ps;
  ASSERT_TRUE(VA_VolProjGridDimensions(&dims, &spc, &p, &pd, &ps));
  EXPECT_EQ(ps.x, 1);
  EXPECT_EQ(pd.w, 40);  // x is the axis of rotation
  // The rotated y-z extent: 30*cos30 + 40*sin30 and 30*sin30 + 40*cos30 millimetres.
  EXPECT_EQ(pd.h, int(std::ceil(30 * std::cos(M_PI / 6) + 40 * 0.5 - 1e-3)));
  EXPECT_EQ(pd.d, int(std::ceil(30 * 0.5 + 40 * std::cos(M_PI / 6) - 1e-3)));
  const DPOINT3D q{12.5, 7.25, 19.5};
  DPOINT3D v, back;
  ASSERT_TRUE(VA_VolProjGridConversion(&dims, &spc, &p, &q, &v, 0));
  ASSERT_TRUE(VA_VolProjGridConversion(&dims, &spc, &p, &v, &back, 1));
  EXPECT_NEAR(back.x, q.x, 1e-9);
  EXPECT_NEAR(back.y, q.y, 1e-9);
  EXPECT_NEAR(back.z, q.z, 1e-9);
  // The centre of the grid is the centre of the volume.
  const DPOINT3D centre{pd.w / 2.0, pd.h / 2.0, pd.d / 2.0};
  ASSERT_TRUE(VA_VolProjGridConversion(&dims, &spc, &p, &centre, &v, 0));
  EXPECT_NEAR(v.x, 20, 1e-9);
  EXPECT_NEAR(v.y, 15, 1e-9);
  EXPECT_NEAR(v.z, 10, 1e-9);
  // Just off a quarter turn, the resampled map is close to the quarter-turn one.
  const DIM3D cube{16, 16, 16, 1};
  const SPC unit{1, 1, 1};
  const VA_VOLPROJ exact = record(90, 0, 0), near = record(90.0001, 0, 0);
  DPOINT3D a, b;
  const DPOINT3D pt{3.5, 8.5, 11.5};
  ASSERT_TRUE(VA_VolProjGridConversion(&cube, &unit, &exact, &pt, &a, 0));
  ASSERT_TRUE(VA_VolProjGridConversion(&cube, &unit, &near, &pt, &b, 0));
  EXPECT_NEAR(a.x, b.x, 1e-3);
  EXPECT_NEAR(a.y, b.y, 1e-3);
  EXPECT_NEAR(a.z, b.z, 1e-3);
}

TEST(Projection, ProjectionSpacingFollowsThePlane) {
  const SPC spc{0.5, 0.75, 2};
  struct Case {
    double rx, ry, rz;
    SPC want;
  };
  // Axial, coronal (the plane turned about x), sagittal (about y), a quarter turn in plane, oblique.
  const Case cases[] = {{0, 0, 0, {0.5, 0.75, 2}},   {90, 0, 0, {0.5, 2, 0.75}}, {0, 90, 0, {2, 0.75, 0.5}},
                        {0, 0, 90, {0.75, 0.5, 2}}, {30, 0, 0, {0.5, 0.5, 0.5}}};
  for (const Case& c : cases) {
    const VA_VOLPROJ p = record(c.rx, c.ry, c.rz);
    SPC out;
    ASSERT_TRUE(VA_GetProjSpc(&p, &spc, &out));
    EXPECT_DOUBLE_EQ(out.x, c.want.x) << c.rx << " " << c.ry << " " << c.rz;
    EXPECT_DOUBLE_EQ(out.y, c.want.y) << c.rx << " " << c.ry << " " << c.rz;
    EXPECT_DOUBLE_EQ(out.z, c.want.z) << c.rx << " " << c.ry << " " << c.rz;
    // The same spacing as the projected dimensions report.
    const DIM3D dims{9, 8, 7, 1};
    DIM3D pd;
    SPC ps;
    ASSERT_TRUE(VA_VolProjGridDimensions(&dims, &spc, &p, &pd, &ps));
    EXPECT_DOUBLE_EQ(ps.y, out.y);
  }
  const VA_VOLPROJ axial = record(0, 0, 0);
  SPC out;
  const SPC zero{0, 1, 1};
  EXPECT_FALSE(VA_GetProjSpc(&axial, &zero, &out));
  EXPECT_FALSE(VA_GetProjSpc(nullptr, &spc, &out));
  ASSERT_TRUE(VA_GetProjSpc(&axial, nullptr, &out));
  EXPECT_DOUBLE_EQ(out.z, 1);
}

TEST(Projection, FilmLayoutTilesAndDisplayedRectangle) {
  const DIM3D dims{10, 20, 9, 1};
  const SPC spc{2, 1, 1};  // square tiles of 20 x 20 mm
  VA_VOLPROJ p = record(0, 0, 0, 4);
  p.filmView = 1;
  int cols, rows, fw, fh;
  ASSERT_TRUE(VA_VolProjFilmViewLayout(&dims, &spc, &p, &cols, &rows));
  EXPECT_EQ(cols, 3);
  EXPECT_EQ(rows, 3);
  ASSERT_TRUE(VA_FilmViewDimensions(&dims, &spc, &p, &fw, &fh));
  EXPECT_EQ(fw, 30);
  EXPECT_EQ(fh, 60);
  RECT2D tile;
  ASSERT_TRUE(VA_FilmViewTilePos(&dims, &spc, &p, 5, &tile));
  EXPECT_EQ(tile.left, 20);
  EXPECT_EQ(tile.top, 20);
  EXPECT_EQ(tile.right, 30);
  EXPECT_EQ(tile.bottom, 40);
  EXPECT_FALSE(VA_FilmViewTilePos(&dims, &spc, &p, 9, &tile));
  // A 20 x 10 mm single slice in a square world rectangle: full width, centred vertically.
  p.filmView = 0;
  const DIM3D flat{20, 10, 1, 1};
  const SPC unit{1, 1, 1};
  const DRECT world{0, 0, 100, 100};
  DRECT shown;
  ASSERT_TRUE(VA_VolDisplayActualWorldRect(&world, &flat, &unit, &p, &shown));
  const DRECT expected{0, 25, 100, 75};
  EXPECT_TRUE(VA_IsEqualRect(&shown, &expected));
  EXPECT_FALSE(VA_IsFilmView(&flat, &unit, &p));
}

TEST(Projection, VisibleSlices) {
  const struct {
    double z0, z1;
    int depth;
    bool any;
    int first, last;
  } cases[] = {{3, 4, 10, true, 3, 3},   {3, 3, 10, true, 3, 3},  {2.5, 5.2, 10, true, 2, 5},
               {-4, 2, 10, true, 0, 1},  {9.5, 20, 10, true, 9, 9}, {10, 12, 10, false, 0, 0},
               {-3, -1, 10, false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.z0);
    int f = -1, l = -1;
    ASSERT_EQ(VA_DetermineVisibleSlices(c.z0, c.z1, c.depth, &f, &l), c.any);
    if (c.any) {
      EXPECT_EQ(f, c.first);
      EXPECT_EQ(l, c.last);
    }
  }
}

TEST(Projection, OrientationLettersFollowThePlane) {
  CVol vol;
  const DIM3D dims{8, 8, 8, 1};
  vol.frame = VA_VolCreateUniform(FRM_INT, dims, 0.0);
  CString t[4];
  VA_VOLPROJ axial = record(0, 0, 0);
  ASSERT_TRUE(VA_GenerateOrientTxt(&vol, &axial, t));
  EXPECT_EQ(t[0], CString(L"A"));
  EXPECT_EQ(t[1], CString(L"P"));
  EXPECT_EQ(t[2], CString(L"R"));
  EXPECT_EQ(t[3], CString(L"L"));
  // A quarter turn about x shows the slice direction (superior for this volume) upwards or downwards.
  VA_VOLPROJ turned = record(90, 0, 0);
  ASSERT_TRUE(VA_GenerateOrientTxt(&vol, &turned, t));
  EXPECT_TRUE((t[0] == CString(L"S") && t[1] == CString(L"I")) || (t[0] == CString(L"I") && t[1] == CString(L"S")));
  EXPECT_EQ(t[3], CString(L"L"));
  // An oblique plane names both directions, the stronger first.
  VA_VOLPROJ oblique = record(0, 0, 30);
  ASSERT_TRUE(VA_GenerateOrientTxt(&vol, &oblique, t));
  EXPECT_EQ(t[3].GetLength(), 2);
  EXPECT_EQ(t[3][0], L'L');
}

// A world of one unit per voxel holding a w x h x d frame, and the visible world of a client of
// cw x ch pixels at s pixels per unit, from the top-left corner.
struct View {
  DRECT layer;
  double visible[4];
};
View unitView(int w, int h, int cw, int ch, double s) {
  View v;
  v.layer = DRECT{0, 0, double(w), double(h)};
  v.visible[0] = 0;
  v.visible[3] = h;
  v.visible[2] = (cw - 1) / s;
  v.visible[1] = h - (ch - 1) / s;
  return v;
}

TEST(PictureZoom, NearestZoomRepeatsVoxelsAndMarksTheOutside) {
  std::vector<double> values(4 * 2);
  for (int i = 0; i < 8; ++i) values[i] = i * 10;
  FRAME* f = VA_CreateVol(values.data(), 64, 4, 2, 1, 1);
  VA_VOLPROJ p = record(0, 0, 0);
  p.mode = 0;
  const View v = unitView(4, 2, 10, 4, 2.0);  // 2 pixels per voxel; 2 pixels past the right edge
  void* pic = nullptr;
  double geo[16];
  ASSERT_EQ(VA_PictureZoom(f, 0, &v.layer, nullptr, &p, v.visible, 10, 4, nullptr, &pic, geo), VA_PIXEL_REAL);
  const double* d = static_cast<const double*>(pic);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x) {
      SCOPED_TRACE(x + 100 * y);
      if (x >= 8) EXPECT_EQ(d[y * 10 + x], VOID_VALUE);
      else EXPECT_EQ(d[y * 10 + x], values[(y / 2) * 4 + x / 2]);
    }
  EXPECT_EQ(geo[VA_ZOOMGEO_SCALE], 2.0);
  pf_free(&pic);
  PR_FrameDelete(&f);
}

TEST(PictureZoom, BilinearBetweenVoxelCentres) {
  const double values[2] = {0, 100};
  FRAME* f = VA_CreateVol(values, 64, 2, 1, 1, 1);
  VA_VOLPROJ p = record(0, 0, 0);  // mode 1
  const View v = unitView(2, 1, 8, 1, 4.0);
  void* pic = nullptr;
  ASSERT_EQ(VA_PictureZoom(f, 0, &v.layer, nullptr, &p, v.visible, 8, 1, nullptr, &pic, nullptr), VA_PIXEL_REAL);
  const double* d = static_cast<const double*>(pic);
  // Pixel centres at voxel coordinates 0.125, 0.375, ...: flat to the first centre, then linear.
  const double expected[8] = {0, 0, 12.5, 37.5, 62.5, 87.5, 100, 100};
  for (int x = 0; x < 8; ++x) EXPECT_NEAR(d[x], expected[x], 1e-9) << x;
  pf_free(&pic);
  PR_FrameDelete(&f);
}

TEST(PictureZoom, SlabProjectionsAndPlanes) {
  // 2 x 1 x 4 volume: voxel (x, 0, z) = 10 z + x; one void voxel at z = 3, x = 1.
  std::vector<double> values = {0, 1, 10, 11, 20, 21, 30, VOID_VALUE};
  FRAME* f = VA_CreateVol(values.data(), 64, 2, 1, 4, 1);
  const View v = unitView(2, 1, 2, 1, 1.0);
  const struct {
    int type;
    double slab;
    int slice;
    double x0, x1;
  } cases[] = {
      {0, 0, 2, 20, 21},   {1, 0, 0, 30, 21},  // max over all slices leaves the void out
      {2, 0, 0, 0, 1},     {3, 0, 0, 15, 11},  {1, 1, 1, 10, 11},  // a 1 mm slab is the slice itself
      {1, 3, 1, 20, 21},   {2, 3, 1, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type * 100 + c.slab * 10 + c.slice);
    VA_VOLPROJ p = record(0, 0, 0, c.slice);
    p.mode = 0;
    p.projType = c.type;
    p.slabThickness = c.slab;
    void* pic = nullptr;
    ASSERT_EQ(VA_PictureZoom(f, 0, &v.layer, nullptr, &p, v.visible, 2, 1, nullptr, &pic, nullptr), VA_PIXEL_REAL);
    EXPECT_DOUBLE_EQ(static_cast<double*>(pic)[0], c.x0);
    EXPECT_DOUBLE_EQ(static_cast<double*>(pic)[1], c.x1);
    pf_free(&pic);
  }
  PR_FrameDelete(&f);
}

TEST(PictureZoom, SagittalPlaneOfAnIntegerVolume) {
  // 3 x 2 x 4 volume, value 100 x + 10 y + z; a quarter turn about y shows z across and y down.
  std::vector<uint16_t> values;
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) values.push_back(uint16_t(100 * x + 10 * y + z));
  FRAME* f = VA_CreateVol(values.data(), 16, 3, 2, 4, 1);
  VA_VOLPROJ p = record(0, 90, 0, 1);
  p.mode = 0;
  DIM3D pd;
  ASSERT_TRUE(VA_VolProjGridDimensions(&f->dim, nullptr, &p, &pd));
  ASSERT_EQ(pd.w, 4);
  ASSERT_EQ(pd.h, 2);
  const View v = unitView(pd.w, pd.h, pd.w, pd.h, 1.0);
  void* pic = nullptr;
  ASSERT_EQ(VA_PictureZoom(f, 0, &v.layer, nullptr, &p, v.visible, pd.w, pd.h, nullptr, &pic, nullptr), VA_PIXEL_INT);
  const uint32_t* d = static_cast<const uint32_t*>(pic);
  for (int y = 0; y < pd.h; ++y)
    for (int x = 0; x < pd.w; ++x) {
      const DPOINT3D q{x + 0.5, y + 0.5, p.slice + 0.5};
      DPOINT3D vox;
      ASSERT_TRUE(VA_VolProjConversion(&f->dim, nullptr, &p, &q, &vox, 0));
      EXPECT_EQ(d[y * pd.w + x], 100 * int(vox.x) + 10 * int(vox.y) + int(vox.z));
    }
  pf_free(&pic);
  PR_FrameDelete(&f);
}

TEST(PictureZoom, RoiGivesLabelsInRgbOrder) {
  const uint8_t inside[4] = {1, 0, 0, 1};
  FRAME* f = VA_CreateVol(inside, 1, 2, 2, 1, 1);
  VA_VOLPROJ p = record(0, 0, 0);
  p.mode = 0;
  const View v = unitView(2, 2, 2, 2, 1.0);
  void* pic = nullptr;
  ASSERT_EQ(VA_PictureZoom(f, RGB(0x11, 0x22, 0x33), &v.layer, nullptr, &p, v.visible, 2, 2, nullptr, &pic, nullptr),
            VA_PIXEL_LABELS);
  const uint32_t* d = static_cast<const uint32_t*>(pic);
  EXPECT_EQ(d[0], 0x112233u);
  EXPECT_EQ(d[1], VA_PIXEL_TRANSPARENT);
  EXPECT_EQ(d[3], 0x112233u);
  pf_free(&pic);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(VA_PictureZoom(f, 0, &v.layer, nullptr, &p, v.visible, 0, 2, nullptr, &none, nullptr), VA_PIXEL_NONE);
  EXPECT_EQ(none, nullptr);
  PR_FrameDelete(&f);
}

TEST(PictureZoom, RoiBitsInEveryQuarterTurnPlane) {
  std::vector<uint8_t> inside(13 * 5 * 3);
  for (size_t i = 0; i < inside.size(); ++i) inside[i] = (i * 7 + i / 5) % 3 == 0;
  FRAME* f = VA_CreateVol(inside.data(), 1, 13, 5, 3, 1);
  const double planes[][3] = {{0, 0, 0}, {90, 0, 0}, {0, 90, 0}, {0, 0, 90}, {180, 0, 270}, {90, 90, 0}};
  for (const auto& r : planes) {
    SCOPED_TRACE(r[0] * 10000 + r[1] * 100 + r[2]);
    VA_VOLPROJ p = record(r[0], r[1], r[2]);
    p.mode = 0;
    DIM3D pd;
    ASSERT_TRUE(VA_VolProjGridDimensions(&f->dim, nullptr, &p, &pd));
    for (int slice = 0; slice < pd.d; ++slice) {
      p.slice = slice;
      const View v = unitView(pd.w, pd.h, pd.w, pd.h, 1.0);
      void* pic = nullptr;
      ASSERT_EQ(VA_PictureZoom(f, RGB(1, 2, 3), &v.layer, nullptr, &p, v.visible, pd.w, pd.h, nullptr, &pic, nullptr),
                VA_PIXEL_LABELS);
      const uint32_t* d = static_cast<const uint32_t*>(pic);
      for (int y = 0; y < pd.h; ++y)
        for (int x = 0; x < pd.w; ++x) {
          const DPOINT3D q{x + 0.5, y + 0.5, slice + 0.5};
          DPOINT3D vox;
          ASSERT_TRUE(VA_VolProjConversion(&f->dim, nullptr, &p, &q, &vox, 0));
          const bool in = twk::roiBit(f, int(vox.x), int(vox.y), int(vox.z), 0);
          ASSERT_EQ(d[y * pd.w + x], in ? 0x010203u : VA_PIXEL_TRANSPARENT) << x << "," << y;
        }
      pf_free(&pic);
    }
  }
  PR_FrameDelete(&f);
}

TEST(ColorSchemes, WindowMapsTheRampAndInvertMirrorsIt) {
  std::vector<double> ramp(64);
  for (int i = 0; i < 64; ++i) ramp[i] = i;
  PR_VIEWFILT filt;
  filt.level = 32;
  filt.width = 64;
  std::vector<uint8_t> bits(64 * 3 + 4, 7);
  ASSERT_TRUE(VA_VolFiltDrawRGB(VA_PIXEL_REAL, ramp.data(), 64, 1, &filt, bits.data(), 196, 0xFFFFFFFF));
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(bits[3 * i], 4 * i);
    EXPECT_EQ(bits[3 * i + 2], 4 * i);
  }
  EXPECT_EQ(bits[192], 7);  // padding untouched
  filt.invert = 1;
  ASSERT_TRUE(VA_VolFiltDrawRGB(VA_PIXEL_REAL, ramp.data(), 64, 1, &filt, bits.data(), 196, 0xFFFFFFFF));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(bits[3 * i + 1], 255 - 4 * i);
  // Outside values and voids keep the bitmap; the override scheme wins over the filter's.
  const uint32_t ints[3] = {VA_PIXEL_TRANSPARENT, VOID_INT_VALUE, 1000};
  uint8_t px[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  filt.invert = 0;
  ASSERT_TRUE(VA_VolFiltDrawRGB(VA_PIXEL_INT, ints, 3, 1, &filt, px, 9, 5));
  EXPECT_EQ(px[0], 1);
  EXPECT_EQ(px[3], 4);
  EXPECT_EQ(px[6], 0);    // red scheme at 255: blue 0
  EXPECT_EQ(px[8], 255);  // red 255
  EXPECT_FALSE(VA_VolFiltDrawRGB(VA_PIXEL_LABELS, ints, 3, 1, &filt, px, 9, 0));
}

TEST(ColorSchemes, AdaptiveWindowSpansThePicture) {
  const double v[3] = {100, 150, 200};
  PR_VIEWFILT filt;
  filt.adaptive = 1;
  filt.level = 0;
  filt.width = 1;
  uint8_t px[9] = {};
  ASSERT_TRUE(VA_VolFiltDrawRGB(VA_PIXEL_REAL, v, 3, 1, &filt, px, 9, 0xFFFFFFFF));
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[3], 128);
  EXPECT_EQ(px[6], 255);
}

TEST(ColorSchemes, SchemesAtTheirEnds) {
  const struct {
    int scheme;
    uint32_t at0, at255;
  } cases[] = {{0, 0x000000, 0xFFFFFF}, {1, 0x0000FF, 0xFF0000}, {3, 0x000000, 0xFFFFFF}, {4, 0x0000FF, 0xFF0000},
               {5, 0x000000, 0xFF0000}, {6, 0x000000, 0x00FF00}, {7, 0x000000, 0x0000FF}, {8, 0x0000FF, 0xFFFF00},
               {99, 0x000000, 0xFFFFFF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scheme);
    EXPECT_EQ(VA_SchemeInxColor(c.scheme, 0), c.at0);
    EXPECT_EQ(VA_SchemeInxColor(c.scheme, 255), c.at255);
    EXPECT_EQ(VA_SchemeInxColor(c.scheme, 300), c.at255);
  }
  EXPECT_EQ(VA_SchemeInxColor(4, 128), 0x010000u);  // the polar middle is nearly black
}

}  // namespace
