// Tests of view geometry and navigation, projection records of views, and the drawing objects'
// control points, hit tests and visibility.

#include <gtest/gtest.h>

#include <cmath>

#include "DisplayTestKit.h"
#include "DrawShapes.h"
#include "ScriptedUi.h"
#include "ViewGeometry.h"
#include "render/ProjectionGeometry.h"
#include "volume/VolumeProjection.h"

using namespace twk::displaytest;

namespace {

CDrawSet* volumeDocument(CDrawDoc& doc, DIM3D dims, int t = 1) {
  dims.t = t;
  CVol* vol = makeVol(FRM_INT, 16, dims, [](int x, int y, int z, int) { return x + y + z; });
  return addSet(&doc, {makeLayer(vol, 100, 200)}, DRECT{0, 0, 100, 100});
}

TEST(ViewGeometry, ClientWorldRoundTripAndUpwardY) {
  CDrawDoc doc;
  TestView view(&doc, 640, 480);
  view.worldLeft = -12.5;
  view.worldTop = 80;
  view.scale = 3.7;
  for (int px : {0, 1, 319, 639})
    for (int py : {0, 240, 479}) {
      const DPOINT w = view.ClientToWorldPoint({px, py});
      const POINT2D back = view.WorldToClientPoint(w);
      EXPECT_LE(std::abs(back.x - px), 1);
      EXPECT_LE(std::abs(back.y - py), 1);
    }
  const RECT2D top = view.WorldToClientRect(DRECT{0, 10, 10, 20});
  EXPECT_LT(top.top, top.bottom);  // y1 (the upper edge) maps to the client top
  const DRECT v = view.GetVisibleWorldRect();
  EXPECT_DOUBLE_EQ(v.y1, 80);
  EXPECT_DOUBLE_EQ(v.y0, 80 - 480 / 3.7);
}

TEST(ViewGeometry, ZoomInThenOutKeepsTheCentre) {
  CDrawDoc doc;
  TestView view(&doc, 500, 300);
  view.worldLeft = 10;
  view.worldTop = 50;
  view.scale = 2;
  const DPOINT centre = view.ClientToWorldPoint({250, 150});
  view.ZoomBy(1.05);
  EXPECT_DOUBLE_EQ(view.scale, 2 * 1.05);
  view.ZoomBy(1 / 1.05);
  EXPECT_NEAR(view.scale, 2, 1e-12);
  const DPOINT after = view.ClientToWorldPoint({250, 150});
  EXPECT_NEAR(after.x, centre.x, 1e-9);
  EXPECT_NEAR(after.y, centre.y, 1e-9);
  // Ctrl and the plus key zoom as well; without Ctrl nothing changes.
  volumeDocument(doc, DIM3D{4, 4, 3});
  view.InitialUpdate();
  EXPECT_TRUE(view.OnViewKey(TW_VK_OEM_PLUS, true));
  EXPECT_NEAR(view.scale, 2 * 1.05, 1e-12);
  view.OnViewKey(TW_VK_OEM_PLUS, false);
  EXPECT_NEAR(view.scale, 2 * 1.05, 1e-12);
}

TEST(ViewGeometry, EmptyDocumentAndDegenerateRectangles) {
  CDrawDoc doc;
  TestView view(&doc, 200, 100);
  view.worldLeft = 7;
  view.worldTop = 9;
  view.scale = 4;
  view.ZoomAll();
  EXPECT_EQ(view.worldLeft, 0);
  EXPECT_EQ(view.worldTop, 0);
  EXPECT_EQ(view.scale, 1.0);
  view.ZoomToWorldRect(DRECT{3, 4, 3, 10});
  EXPECT_EQ(view.scale, 1.0);
  view.ZoomToWorldRect(DRECT{0, 0, 50, 100});
  EXPECT_EQ(view.scale, 1.0);  // min(200/50, 100/100)
  EXPECT_EQ(view.worldTop, 100);
}

TEST(ViewGeometry, ZoomAllFitsTheDisplayedVolume) {
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{20, 10, 1});
  TestView view(&doc, 400, 400);
  view.InitialUpdate();
  view.ZoomAll();
  // A 20 x 10 slice in the square world (0, 0, 100, 100) is shown as (0, 25, 100, 75).
  EXPECT_DOUBLE_EQ(view.worldLeft, 0);
  EXPECT_DOUBLE_EQ(view.worldTop, 75);
  EXPECT_DOUBLE_EQ(view.scale, 4);
}

TEST(ProjectionRecords, NewViewsOpenAtTheMiddleSlice) {
  const struct {
    int depth, slice;
    bool film;
  } cases[] = {{9, 4, true}, {10, 5, true}, {1, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    CDrawDoc doc;
    volumeDocument(doc, DIM3D{4, 4, c.depth});
    TestView view(&doc, 100, 100);
    view.InitialUpdate();
    view.InitialUpdate();  // a second update adds no second record
    CDrawSet* set = doc.GetActiveSet();
    ASSERT_EQ(set->Projections().size(), 1u);
    const VA_VOLPROJ* p = view.GetProjection();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->slice, c.slice);
    EXPECT_EQ(p->filmView != 0, c.film);
    EXPECT_EQ(view.IsFilmView(nullptr), c.film);
  }
}

TEST(ProjectionRecords, ResetKeepsTimeAndFilmView) {
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{4, 4, 9}, 3);
  TestView view(&doc, 100, 100);
  view.InitialUpdate();
  VA_VOLPROJ* p = view.GetProjection();
  p->rotation[0] = 90;
  p->slice = 1;
  p->timeIndex = 2;
  p->projType = 1;
  view.OnResetProjection();
  EXPECT_EQ(p->rotation[0], 0);
  EXPECT_EQ(p->slice, 4);
  EXPECT_EQ(p->timeIndex, 2);
  EXPECT_EQ(p->filmView, 1);
  EXPECT_EQ(p->projType, 1);
  EXPECT_EQ(view.redraws, 1);
}

TEST(Navigation, SliceAndTimeSteppingStopsAtTheEnds) {
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{4, 4, 3}, 6);
  TestView view(&doc, 100, 100);
  view.InitialUpdate();
  VA_VOLPROJ* p = view.GetProjection();
  p->slice = 0;
  view.OnViewKey(TW_VK_DOWN, false);
  EXPECT_EQ(p->slice, 0);
  view.OnViewKey(TW_VK_UP, false);
  view.OnViewKey(TW_VK_UP, false);
  view.OnViewKey(TW_VK_UP, false);
  EXPECT_EQ(p->slice, 2);
  p->timeIndex = 3;  // T - 3
  view.OnViewKey(TW_VK_NEXT, false);
  EXPECT_EQ(p->timeIndex, 5);
  view.OnViewKey(TW_VK_PRIOR, false);
  EXPECT_EQ(p->timeIndex, 0);
  // A 3D volume keeps time 0; a view without a record changes nothing.
  CDrawDoc flat;
  volumeDocument(flat, DIM3D{4, 4, 3});
  TestView other(&flat, 10, 10);
  EXPECT_FALSE(flat.GetActiveSet()->ScrollVolume(&other, TW_VK_UP));
  other.InitialUpdate();
  other.OnViewKey(TW_VK_RIGHT, false);
  EXPECT_EQ(other.GetProjection()->timeIndex, 0);
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  EXPECT_FALSE(flat.GetActiveSet()->ScrollVolume(&other, 65));
  EXPECT_EQ(script.lastMessage(), CString(L"CDrawSet::ScrollVolume : Invalid Character Code in ScrollVolume"));
}

TEST(Navigation, FilmViewMapsToTheTileWithTheLargerOverlap) {
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{10, 10, 4});  // 2 x 2 tiles of 10 x 10 voxels
  TestView view(&doc, 200, 200);
  view.InitialUpdate();
  CDrawSet* set = doc.GetActiveSet();
  DRECT shown;
  ASSERT_TRUE(set->DisplayedBounds(&view, &shown));
  const double unit = (shown.x1 - shown.x0) / 20;  // world units per film voxel
  // Voxels 8..13 of the top row: 2 voxels in tile 0, 4 in tile 1.
  const DRECT world{shown.x0 + 8 * unit, shown.y1 - 3 * unit, shown.x0 + 14 * unit, shown.y1 - 1 * unit};
  DRECT3D proj;
  int t = -1;
  ASSERT_TRUE(set->GetInVolCoords(&view, &world, &t, nullptr, &proj));
  EXPECT_EQ(t, 0);
  EXPECT_NEAR(proj.z0, 1, 1e-12);
  EXPECT_NEAR(proj.x0, -2, 1e-9);
  EXPECT_NEAR(proj.x1, 4, 1e-9);
  const DRECT outside{shown.x1 + 5, shown.y0 - 10, shown.x1 + 6, shown.y0 - 9};
  EXPECT_FALSE(set->GetInVolCoords(&view, &outside, nullptr, nullptr, nullptr));
  // VolBoxToWorldRect of the same box in its tile is the inverse.
  DRECT back;
  ASSERT_TRUE(set->VolBoxToWorldRect(&view, &proj, 1, &back));
  EXPECT_NEAR(back.x0, world.x0, 1e-9);
  EXPECT_NEAR(back.y1, world.y1, 1e-9);
}

TEST(Navigation, ClientToVolumeOfAQuarterTurnPlane) {
  // An 8 x 6 x 4 volume turned by 90 degrees about x shows 8 x 4 slices (projection y runs along
  // volume z, slices run against volume y). In the square world of 100 it is 12.5 world units a
  // voxel, at world y 25..75; zoomed to fit a 100 x 100 view, client (px, py) is world (px, 75 - py),
  // so projection (px / 12.5, py / 12.5) and volume (px / 12.5, 6 - slice position, py / 12.5).
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{8, 6, 4});
  TestView view(&doc, 100, 100);
  view.InitialUpdate();
  VA_VOLPROJ* p = view.GetProjection();
  p->filmView = 0;
  p->rotation[0] = 90;
  p->slice = 2;
  view.ZoomAll();
  const double slicePosition = 2.49995;  // within the slice, just short of its far face
  for (const auto& [px, py] : {std::pair{50, 25}, {25, 10}, {90, 40}, {5, 45}}) {
    SCOPED_TRACE(testing::Message() << px << "," << py);
    DPOINT3D vol, proj;
    ASSERT_TRUE(view.ClientToVolume(doc.GetActiveSet(), {px, py}, &vol, &proj));
    // Half a client pixel is 0.04 voxels.
    EXPECT_NEAR(proj.x, px / 12.5, 0.041);
    EXPECT_NEAR(proj.y, py / 12.5, 0.041);
    EXPECT_NEAR(proj.z, slicePosition, 1e-9);
    EXPECT_NEAR(vol.x, px / 12.5, 0.041);
    EXPECT_NEAR(vol.y, 6 - slicePosition, 1e-9);
    EXPECT_NEAR(vol.z, py / 12.5, 0.041);
  }
}

TEST(DrawObjects, PolylineRubberBandAndRemoval) {
  const double plane[3] = {0, 0, 0};
  CDrawPoly poly(1, 2, false, 0, false, 0, plane);
  poly.points[0] = poly.points[1] = DPOINT{1, 1};
  poly.pointsPerContour[0] = 2;
  ASSERT_TRUE(poly.AppendPoint(DPOINT{1, 1}));  // the last two coincide: replaced, no new node
  EXPECT_EQ(poly.NumPoints(), 2);
  poly.points[1] = DPOINT{5, 5};                // the mouse dragged the last point
  ASSERT_TRUE(poly.AppendPoint(DPOINT{5, 5}));
  EXPECT_EQ(poly.NumPoints(), 3);
  poly.RemovePoint(-1);
  EXPECT_EQ(poly.NumPoints(), 2);
  poly.RemovePoint(-1);  // a single contour of 2 points keeps them
  EXPECT_EQ(poly.NumPoints(), 2);
  EXPECT_FALSE(poly.DeletePoint(7));
  DRECT b;
  poly.ComputePolyBounds(&b);
  EXPECT_EQ(b.x0, 0);
  EXPECT_EQ(b.x1, 6);
  CDrawPoly empty(1, 0, false, 0, false, 0, plane);
  empty.ComputePolyBounds(&b);
  EXPECT_EQ(b.x0, 1e60 - 1);
}

TEST(DrawObjects, PolylineVisibleOnlyInItsPlaneAndSlice) {
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{8, 8, 5});
  TestView view(&doc, 100, 100);
  view.InitialUpdate();
  VA_VOLPROJ* p = view.GetProjection();
  p->filmView = 0;
  const double plane[3] = {0, 0, 0};
  auto* poly = new CDrawPoly(1, 2, false, 0, false, p->slice, plane);
  poly->pointsPerContour[0] = 2;
  CDrawObj* obj = poly;
  doc.AddObject(&obj, true);
  EXPECT_TRUE(poly->IsVisibleInView(&view));
  p->rotation[1] = 90;
  EXPECT_FALSE(poly->IsVisibleInView(&view));
  p->rotation[1] = 0;
  p->filmView = 1;
  EXPECT_FALSE(poly->IsVisibleInView(&view));
  p->filmView = 0;
  ++p->slice;
  EXPECT_FALSE(poly->IsVisibleInView(&view));
}

TEST(DrawObjects, ControlPointsHitTestsAndMoves) {
  CDrawDoc doc;
  volumeDocument(doc, DIM3D{8, 8, 1});
  TestView view(&doc, 200, 200);
  view.InitialUpdate();
  view.worldLeft = 0;
  view.worldTop = 100;
  view.scale = 2;
  auto* rect = new CDrawRect(DRAWOBJ_RECT, DRECT{10, 10, 30, 40});
  CDrawObj* obj = rect;
  doc.AddObject(&obj, true);
  int n = 0;
  DPOINT* pts = nullptr;
  ASSERT_TRUE(rect->GetControlPoints(&n, &pts));
  ASSERT_EQ(n, 2);
  pf_free(&pts);
  const POINT2D corner = view.WorldToClientPoint({30, 40});
  EXPECT_EQ(rect->HitTest({corner.x + 3, corner.y - 2}, &view, true), 2);
  EXPECT_EQ(rect->HitTest({corner.x + 3, corner.y - 2}, &view, false), 0);
  EXPECT_EQ(rect->HitTest({190, 190}, &view, true), -1);
  int handle = 0;
  rect->MoveControlPoint(&view, &handle, {0, 0}, {10, -20});  // 5 world units right, 10 up
  EXPECT_DOUBLE_EQ(rect->rect.x0, 15);
  EXPECT_DOUBLE_EQ(rect->rect.y1, 50);
  EXPECT_TRUE(doc.IsModified());
  rect->highlight = 1;
  const DPOINT moved[2] = {{0, 0}, {1, 1}};
  EXPECT_FALSE(rect->SetControlSeq(&view, moved));
  // A filled ellipse is hit inside; its outline only near the edge.
  auto* ellipse = new CDrawRect(DRAWOBJ_ELLIPSE, DRECT{50, 0, 90, 40});
  obj = ellipse;
  doc.AddObject(&obj, true);
  const POINT2D centre = view.WorldToClientPoint({70, 20});
  EXPECT_EQ(ellipse->HitTest(centre, &view, false), -1);
  ellipse->style.filled = 1;
  EXPECT_EQ(ellipse->HitTest(centre, &view, false), 0);
}

TEST(DrawObjects, LineSegmentsGoIntoTheViewsProjection) {
  CDrawDoc doc;
  CDrawSet* set = volumeDocument(doc, DIM3D{8, 8, 4});
  TestView view(&doc, 100, 100);
  view.InitialUpdate();
  view.worldLeft = 5;
  view.worldTop = 50;
  view.GetProjection()->rotation[2] = 90;
  ASSERT_TRUE(TW_AddLineSegment(set, &view, 1, 2, 2.6, 3, 4, 2.6, 0x123456));
  auto* line = static_cast<CDrawPoly*>(doc.objects.back());
  EXPECT_EQ(line->slice, 3);
  EXPECT_EQ(line->planePoint[2], 90);
  EXPECT_EQ(line->points[0].x, 6);
  EXPECT_EQ(line->points[0].y, 48);
  EXPECT_EQ(line->style.lineColor, 0x123456u);
}

}  // namespace
