// Tests of layer rendering through a view's paint: window and inversion, opacity, interlace, label
// overlays, render caches, and a screenshot of a brain in three planes against a reviewed reference.

#include <gtest/gtest.h>

#include <QImage>
#include <QPoint>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "AppOptions.h"
#include "DisplayTestKit.h"
#include "DocDraw.h"
#include "DrawShapes.h"
#include "TestFolder.h"
#include "TestTools.h"
#include "VolRender.h"
#include "io/ImageFiles.h"
#include "render/ProjectionGeometry.h"

using namespace twk::displaytest;

namespace {

// A document whose volumes of w x h voxels map one voxel to one client pixel of a w x h view.
struct PixelScene {
  CDrawDoc doc;
  CDrawSet* set = nullptr;
  std::unique_ptr<TestView> view;
  int w, h;

  PixelScene(int width, int height, const std::vector<CDrawVol*>& layers) : w(width), h(height) {
    guiApp();
    TW_EditOptions().interpVols = 0;
    TW_EditOptions().interpRois = 0;
    TW_EditOptions().interpPmaps = 0;
    TW_EditOptions().displayOrient = 0;
    doc.backgroundColor = 0;
    const double side = std::max(w, h);
    set = addSet(&doc, layers, DRECT{0, 0, side, side});
    view = std::make_unique<TestView>(&doc, w, h);
    view->InitialUpdate();
    view->GetProjection()->filmView = 0;
    // The slice is centred in the square world: show exactly its rectangle.
    view->worldLeft = (side - w) / 2;
    view->worldTop = (side + h) / 2;
    view->scale = 1;
  }
  QImage render() { return TW_RenderView(view.get()); }
};

int channel(const QImage& im, int x, int y, int c) { return im.constScanLine(y)[3 * x + c]; }

CDrawVol* rampLayer(int w, int h, int opacity = 100) {
  return makeLayer(makeVol(FRM_INT, 16, DIM3D{w, h, 1, 1}, [](int x, int, int, int) { return x; }), 32, 64, opacity);
}
CDrawVol* flatLayer(int w, int h, double value, int opacity = 100) {
  return makeLayer(makeVol(FRM_REAL, 64, DIM3D{w, h, 1, 1}, [=](int, int, int, int) { return value; }), 32, 64,
                   opacity);
}

TEST(LayerRendering, WindowMapsTheRampAndInvertMirrorsIt) {
  PixelScene s(64, 4, {rampLayer(64, 4)});
  QImage im = s.render();
  ASSERT_EQ(im.bytesPerLine(), TW_BitmapStride(64));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(channel(im, x, y, c), 4 * x) << x << "," << y;
  s.set->GetLayer(0)->filter.invert = 1;
  im = s.render();
  for (int x = 0; x < 64; ++x) EXPECT_EQ(channel(im, x, 2, 1), 255 - 4 * x);
}

TEST(LayerRendering, HalfOpacityBlendsWithWhatLiesBelow) {
  // Layer 0: the ramp (4x); layer 1: a flat 40, window index 160, at opacity 50 (alpha 128).
  PixelScene s(64, 2, {rampLayer(64, 2), flatLayer(64, 2, 40, 50)});
  const QImage im = s.render();
  for (int x = 0; x < 64; ++x) EXPECT_EQ(channel(im, x, 1, 0), (160 * 128 + 4 * x * 127) / 255) << x;
}

TEST(LayerRendering, InterlaceXYGivesSquaresOfTheCellSize) {
  PixelScene s(32, 32, {flatLayer(32, 32, 0), flatLayer(32, 32, 100)});
  s.set->interlaceMode = 3;
  s.set->interlaceCell = 8;
  QImage im = s.render();
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(channel(im, x, y, 2), ((x / 8 + y / 8) % 2) ? 255 : 0) << x << "," << y;
  // With a third layer the checkerboard is off and the top layer covers all.
  auto* third = flatLayer(32, 32, 32);
  third->position = s.set->position;
  s.set->AppendLayer(third);
  im = s.render();
  for (int y = 0; y < 32; y += 5)
    for (int x = 0; x < 32; x += 5) EXPECT_EQ(channel(im, x, y, 0), 128);
  // Interlace by columns with two marked layers.
  s.set->GetLayer(2)->SetMarked(false);
  s.set->interlaceMode = 1;
  s.set->interlaceCell = 2;
  im = s.render();
  for (int x = 0; x < 32; ++x) EXPECT_EQ(channel(im, x, 7, 0), (x / 2) % 2 ? 255 : 0);
}

TEST(LayerRendering, TransparentLabelsLeaveTheBitmap) {
  for (int opacity : {100, 20}) {
    SCOPED_TRACE(opacity);
    CVol* roi = makeVol(FRM_ROI, 1, DIM3D{16, 16, 1, 1}, [](int x, int, int, int) { return x < 8 ? 1 : 0; });
    CDrawVol* roiLayer = makeLayer(roi, 0.5, 1, opacity);
    roiLayer->filter.roiColor = int32_t(RGB(255, 0, 0));
    PixelScene s(16, 16, {flatLayer(16, 16, 16), roiLayer});
    const QImage im = s.render();
    const int alpha = (255 * opacity + 50) / 100;
    for (int x = 0; x < 16; ++x) {
      const int red = x < 8 ? ((255 - alpha) * 64 + alpha * 255) / 255 : 64;
      const int blue = x < 8 ? ((255 - alpha) * 64) / 255 : 64;
      EXPECT_EQ(channel(im, x, 3, 2), red) << x;
      EXPECT_EQ(channel(im, x, 3, 0), blue) << x;
    }
  }
  // A one-row client area draws its labels too.
  CVol* roi = makeVol(FRM_ROI, 1, DIM3D{16, 1, 1, 1}, [](int, int, int, int) { return 1; });
  CDrawVol* roiLayer = makeLayer(roi, 0.5, 1);
  roiLayer->filter.roiColor = int32_t(RGB(0, 255, 0));
  PixelScene row(16, 1, {flatLayer(16, 1, 0), roiLayer});
  const QImage im = row.render();
  EXPECT_EQ(channel(im, 5, 0, 1), 255);
}

TEST(LayerRendering, CachedPictureUntilTheCachesAreFreedOrTheFrameReplaced) {
  PixelScene s(16, 4, {rampLayer(16, 4)});
  s.render();
  CDrawVol* layer = s.set->GetLayer(0);
  ASSERT_EQ(layer->caches.size(), 1u);
  const void* picture = static_cast<TW_RENDERCACHE*>(layer->caches[0].get())->picture;
  s.render();
  EXPECT_EQ(static_cast<TW_RENDERCACHE*>(layer->caches[0].get())->picture, picture);
  // Voxels changed in place: the old picture stays until the caches are freed.
  twk::setVoxelValue(layer->vol->frame, 3, 0, 0, 0, 60);
  EXPECT_EQ(channel(s.render(), 3, 0, 0), 12);
  s.set->FreeAllViewCaches();
  EXPECT_EQ(channel(s.render(), 3, 0, 0), 240);
  // A replaced frame is drawn afresh.
  FRAME* other = VA_VolClone(layer->vol->frame);
  twk::setVoxelValue(other, 3, 0, 0, 0, 0);
  PR_FrameDelete(&layer->vol->frame);
  layer->vol->frame = other;
  EXPECT_EQ(channel(s.render(), 3, 0, 0), 0);
  // Another slice or a scroll of the view makes a new picture.
  s.view->worldLeft += 1;
  EXPECT_EQ(channel(s.render(), 3, 0, 0), 16);
}

TEST(ViewPaint, RowsAreFourByteAlignedAndTheCrosshairNeedsTwoViews) {
  for (const auto& [w, stride] : {std::pair{1, 4}, {4, 12}, {5, 16}}) {
    EXPECT_EQ(TW_BitmapStride(w), stride);
    EXPECT_EQ(QImage(w, 3, QImage::Format_BGR888).bytesPerLine(), stride);
  }
  PixelScene s(16, 16, {flatLayer(16, 16, 0)});
  TW_EditOptions().volCursor = 1;
  s.view->SetActive(true);
  s.doc.linkedCursor.projection = DPOINT3D{8.5, 4.5, s.view->GetProjection()->slice + 0.49995};
  QImage im = s.render();
  EXPECT_EQ(channel(im, 3, 4, 0), 0);  // one view: no crosshair
  TestView second(&s.doc, 16, 16);
  second.InitialUpdate();
  im = s.render();
  EXPECT_EQ(channel(im, 3, 4, 0), 255);  // the XOR lines through (8, 4)
  EXPECT_EQ(channel(im, 8, 12, 1), 255);
  EXPECT_EQ(channel(im, 3, 12, 1), 0);
}

// ---- a brain in three planes ----

const char* kBrainTemplate = "/usr/share/mricron/templates/ch2.nii.gz";

std::filesystem::path testTmp() { return twk::testing::testFolder(); }

// Grey level of a value in a window of the given level and width: the window's span onto 0..256,
// clamped to 0..255.
int windowGrey(double value, double level, double width) {
  return std::clamp(int(std::floor((value - (level - width / 2)) * 256 / width)), 0, 255);
}

// The three planes side by side; `centreGreys` gets, per plane, the grey drawn at the view's centre
// pixel and the range of grey levels the voxels around the point it shows can give; `letterCorners`
// gets the places of the orientation letters (in the picture): the top-left corners of their 40-pixel
// text, at the middles of the edges of the slice's rectangle in the view (top, bottom, left, right).
QImage brainViews(std::vector<std::array<int, 3>>* centreGreys = nullptr, std::vector<QPoint>* letterCorners = nullptr) {
  CVol* vol = VA_RAW_CreateVol(CString(kBrainTemplate), false);
  if (!vol) return QImage();
  CDrawDoc doc;
  doc.backgroundColor = RGB(0, 0, 0);
  CDrawVol* layer = makeLayer(vol, 0, 0);
  const CVol* v = layer->vol;
  const double d = std::sqrt(double(v->W()) * v->W() + double(v->H()) * v->H() + double(v->D()) * v->D());
  CDrawSet* set = addSet(&doc, {layer}, DRECT{0, 0, d, d});
  // The template's intensities: background near 0, white matter near 90.
  layer->filter.level = 60;
  layer->filter.width = 120;
  TW_EditOptions().interpVols = 1;
  TW_EditOptions().displayOrient = 1;
  const double planes[3][3] = {{180, 0, 0}, {-90, 0, 0}, {-90, 0, -90}};  // axial (anterior up), coronal, sagittal
  QImage out(3 * 256, 256, QImage::Format_RGB888);
  out.fill(Qt::black);
  for (int i = 0; i < 3; ++i) {
    TestView view(&doc, 256, 256);
    view.InitialUpdate();
    VA_VOLPROJ* p = view.GetProjection();
    p->filmView = 0;
    std::copy(planes[i], planes[i] + 3, p->rotation);
    DIM3D pd;
    VA_VolProjGridDimensions(v->Dim(), v->Spc(), p, &pd);
    p->slice = pd.d / 2;
    view.ZoomAll();
    const QImage im = TW_RenderView(&view).convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < 256; ++y) std::memcpy(out.scanLine(y) + 3 * 256 * i, im.constScanLine(y), 3 * 256);
    DRECT shown;
    if (letterCorners && set->DisplayedBounds(&view, &shown)) {
      const RECT2D r = view.WorldToClientRect(shown);
      const int left = std::max(r.left, 0), top = std::max(r.top, 0), right = std::min(r.right, 255),
                bottom = std::min(r.bottom, 255);
      const int cx = (left + right) / 2, cy = (top + bottom) / 2;
      for (const QPoint corner : {QPoint(cx, top), QPoint(cx, bottom - 40), QPoint(left, cy), QPoint(right - 40, cy)})
        letterCorners->push_back(corner + QPoint(256 * i, 0));
    }
    DPOINT3D at, proj;
    if (centreGreys && view.ClientToVolume(set, {128, 128}, &at, &proj)) {
      // Interpolated or not, the pixel lies between the darkest and brightest of the voxels around
      // the point (one voxel each way: a pixel spans about one voxel at this zoom).
      int low = 255, high = 0;
      const int x0 = int(std::floor(at.x)), y0 = int(std::floor(at.y)), z0 = int(std::floor(at.z));
      for (int z = z0 - 1; z <= z0 + 1; ++z)
        for (int y = y0 - 1; y <= y0 + 1; ++y)
          for (int x = x0 - 1; x <= x0 + 1; ++x) {
            const int g = windowGrey(twk::voxelValue(v->frame, std::clamp(x, 0, v->W() - 1), std::clamp(y, 0, v->H() - 1),
                                                     std::clamp(z, 0, v->D() - 1), 0),
                                     60, 120);
            low = std::min(low, g);
            high = std::max(high, g);
          }
      centreGreys->push_back({im.pixelColor(128, 128).green(), low, high});
    }
  }
  return out;
}

TEST(Screenshot, BrainInAxialCoronalAndSagittalPlanes) {
  guiApp();
  TWK_REQUIRE_TOOL(std::filesystem::exists(kBrainTemplate), "the brain template of mricron-data");
  std::vector<std::array<int, 3>> centres;
  std::vector<QPoint> letters;
  const QImage shot = brainViews(&centres, &letters);
  ASSERT_FALSE(shot.isNull());
  // Each plane's centre shows brain tissue at the grey its voxels give in the window, worked out here
  // from the voxel values rather than taken from a render.
  ASSERT_EQ(centres.size(), 3u);
  for (const auto& [grey, low, high] : centres) {
    SCOPED_TRACE(testing::Message() << "grey " << grey << " voxels " << low << ".." << high);
    EXPECT_GT(high, 0);
    EXPECT_GE(grey, low - 1);
    EXPECT_LE(grey, high + 1);
  }
  const std::filesystem::path artefact = testTmp() / "display_brain_views.png";
  ASSERT_TRUE(shot.save(QString::fromStdString(artefact.string())));
  const std::string refPath = std::string(TWK_SOURCE_DIR) + "/app/display/testdata/brain_views.png";
  QImage ref(QString::fromStdString(refPath));
  ASSERT_FALSE(ref.isNull()) << "no reference image " << refPath << "; candidate written to " << artefact;
  ref = ref.convertToFormat(QImage::Format_RGB888);
  ASSERT_EQ(ref.size(), shot.size());
  // The orientation letters are text, whose glyphs change with the fonts a machine has: the picture
  // is compared with the reference where neither shows a letter, and the letters are checked by their
  // place and colour. The slices are grey; a letter's pixel is the green of the letters blended over
  // the grey (red equal to blue, green above them), and lies in the cell of its letter (the 40-pixel
  // text from its corner, with room for any font's ascent and antialiasing).
  ASSERT_EQ(letters.size(), 12u);
  const auto green = [](const uchar* p) { return p[1] > std::max(p[0], p[2]); };
  const auto cellOf = [&](int x, int y) {
    for (size_t i = 0; i < letters.size(); ++i)
      if (x >= letters[i].x() - 4 && x < letters[i].x() + 48 && y >= letters[i].y() - 4 && y < letters[i].y() + 64)
        return int(i);
    return -1;
  };
  std::vector<int> strokes(letters.size(), 0);  // the strongly green pixels of each letter
  int64_t strays = 0, offColour = 0;
  // Antialiasing may differ by machine: a small mean difference and few outliers.
  double total = 0;
  int64_t outliers = 0, compared = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const uchar* s = shot.constScanLine(y) + 3 * x;
      const uchar* r = ref.constScanLine(y) + 3 * x;
      if (green(s)) {
        const int cell = cellOf(x, y);
        if (cell < 0) ++strays;
        else if (s[1] - std::max(s[0], s[2]) >= 96) ++strokes[size_t(cell)];
        if (s[0] != s[2]) ++offColour;
      }
      if (green(s) || green(r)) continue;
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(int(s[c]) - int(r[c]));
        total += d;
        if (d > 48) ++outliers;
      }
      compared += 3;
    }
  EXPECT_EQ(strays, 0) << "green pixels outside the letters' places";
  EXPECT_EQ(offColour, 0) << "letter pixels that are not green over grey";
  for (size_t i = 0; i < letters.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "letter " << i % 4 << " of plane " << i / 4 << " at " << letters[i].x() << ","
                                    << letters[i].y());
    EXPECT_GE(strokes[i], 20);
  }
  // The letters cover a few percent of the picture at most.
  const double n = double(compared);
  ASSERT_GT(n, 0.9 * 3.0 * shot.width() * shot.height());
  EXPECT_LT(total / n, 2.0);
  EXPECT_LT(outliers / n, 0.01);
}

}  // namespace

TEST(CurveLength, AnOpenPolylineShowsItsLengthInMmByItsLastPointWhileTheSwitchIsOn) {
  PixelScene s(96, 64, {flatLayer(96, 64, 0.0)});
  const double plane[3] = {0, 0, 0};
  auto* poly = new CDrawPoly(1, 3, false, 0, false, s.view->GetProjection()->slice, plane);
  poly->pointsPerContour[0] = 3;
  poly->points[0] = DPOINT{10, 50};
  poly->points[1] = DPOINT{40, 50};
  poly->points[2] = DPOINT{40, 10};
  CDrawObj* obj = poly;
  s.doc.AddObject(&obj, true);
  ASSERT_TRUE(poly->IsVisibleInView(s.view.get()));
  EXPECT_DOUBLE_EQ(poly->CurveLengthMm(s.view.get()), 70.0);

  // The label stands to the right of the last point; nothing is drawn there with the switch off.
  const POINT2D last = s.view->WorldToClientPoint(poly->points[2]);
  auto labelPixels = [&](const QImage& im) {
    int lit = 0;
    for (int y = std::max(0, last.y - 24); y < std::min(im.height(), last.y); ++y)
      for (int x = last.x + 6; x < im.width(); ++x) lit += channel(im, x, y, 0) + channel(im, x, y, 1) + channel(im, x, y, 2) > 0;
    return lit;
  };
  g_DrawSettings.m_bShowCurveLength = false;
  EXPECT_EQ(labelPixels(s.render()), 0);
  g_DrawSettings.m_bShowCurveLength = true;
  EXPECT_GT(labelPixels(s.render()), 20);
  // A closed contour has no curve length label.
  poly->closed = true;
  EXPECT_EQ(labelPixels(s.render()), 0);
  g_DrawSettings.m_bShowCurveLength = false;

  // Anisotropic voxels: x steps of 0.5 mm, y steps of 2 mm.
  s.set->GetLayer(0)->vol->Spc()->x = 0.5;
  s.set->GetLayer(0)->vol->Spc()->y = 2.0;
  EXPECT_DOUBLE_EQ(poly->CurveLengthMm(s.view.get()), 30 * 0.5 + 40 * 2.0);
}
