// View interaction on the real program (offscreen): zoom, the window/level drag, the wheel, film
// view, selection and drawing order, vector-ROI boxes, keys, the ROI brush with undo and redo, the
// voxel information over files nibabel wrote, the optimal window of an ROI and the options dialog.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "AppOptions.h"
#include "ChildFrame.h"
#include "DlgMapFitAG.h"
#include "DlgUserOpt.h"
#include "DocDraw.h"
#include "DrawApp.h"
#include "DrawShapes.h"
#include "DrawTool.h"
#include "DrawViewWidget.h"
#include "HighObj.h"
#include "MainFrame.h"
#include "volume/Frame.h"
#include "ScriptedUi.h"
#include "ShellQtTestKit.h"
#include "ToggleBar.h"
#include "UndoRec.h"
#include "VectRois.h"
#include "VectorRois.h"
#include "VectorRaster.h"
#include "ViewInput.h"
#include "ViewGeometry.h"
#include "VolRender.h"
#include "paths/FilePaths.h"
#include "trace/MapFit.h"
#include "volops/VolumeOperations.h"

namespace fs = std::filesystem;
using namespace twk::shelltest;

namespace {

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    if (pclose(p) != 0) return "failed: " + out;
  }
  return out;
}

// The program running headless with a scripted UI, and documents shown in windows of known size.
class ViewInput : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    saved_ = TW_Options();
    savedBrush_ = g_BrushParms;
    installed_ = std::make_unique<twk::ScopedUi>(script_);
    folder_ = programFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    drawApp_ = std::make_unique<CDrawApp>();
    ASSERT_TRUE(startApp(*drawApp_, folder_)) << script_.lastMessage().toUtf8();
    script_.clear();
    TW_EditOptions().autoTile = 0;
    TW_EditOptions().displayOrient = 0;
    TW_EditOptions().verifyModality = 0;
    TW_EditOptions().imageOpenLayout = 1;
    TW_EditOptions().projViewConvention = 0;
    g_CurrentTool = 0;
    frame()->resize(900, 760);
  }
  void TearDown() override {
    drawApp_->CloseAllDocuments(false);
    drawApp_->MainFrame()->close();
    drawApp_.reset();
    installed_.reset();
    TW_EditOptions() = saved_;
    g_BrushParms = savedBrush_;
    g_CurrentTool = 0;
  }

  CMainFrame* frame() const { return drawApp_->MainFrame(); }

  // A document of one layer set of the volumes (the first is the base), at world (0, 0, W, H) mm.
  CDrawDoc* makeDocument(const std::vector<CVol*>& vols) {
    auto* doc = new CDrawDoc;
    std::vector<CDrawVol*> layers;
    for (CVol* v : vols) layers.push_back(makeLayer(v));
    CDrawSet* set = addSet(doc, layers);
    const CVol* base = set->GetBaseVol();
    set->position = DRECT{0, 0, base->W() * base->Vx(), base->H() * base->Vy()};
    for (int i = 0; i < set->NumLayers(); ++i) set->GetLayer(i)->position = set->position;
    doc->backgroundColor = 0;
    return doc;
  }

  // The document in a window whose view is about width x height pixels, showing one slice.
  CDrawViewWidget* show(CDrawDoc* doc, int width = 400, int height = 300, bool film = false) {
    CDrawView* view = drawApp_->CreateDocumentView(doc);
    CChildFrame* child = CChildFrame::OfView(view);
    child->showNormal();
    child->resize(width + 20, height + 40);
    CDrawViewWidget* widget = child->ViewWidget();
    QApplication::processEvents();
    if (VA_VOLPROJ* p = view->GetProjection()) p->filmView = film ? 1 : 0;
    widget->ZoomAll();
    widget->OnActivateView(true);
    // The frame is the active window, so that its shortcuts reach its commands.
    frame()->activateWindow();
    QApplication::setActiveWindow(frame());
    return widget;
  }

  // The client point of a point of the active set's current slice (projection voxel coordinates).
  static QPoint clientOf(CDrawView* view, double x, double y) {
    CDrawSet* set = view->GetDocument()->GetActiveSet();
    const int tile = view->GetProjection()->slice;
    const DRECT3D box{x, y, double(tile), x, y, double(tile)};
    DRECT world;
    EXPECT_TRUE(set->VolBoxToWorldRect(view, &box, tile, &world));
    const POINT2D p = view->WorldToClientPoint({world.x0, world.y1});
    return QPoint(p.x, p.y);
  }

  static void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
                    Qt::KeyboardModifiers keys) {
    QMouseEvent event(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, held, keys);
    QApplication::sendEvent(w, &event);
  }
  static void drag(QWidget* w, QPoint from, QPoint to, int steps, Qt::MouseButton button = Qt::LeftButton,
                   Qt::KeyboardModifiers keys = Qt::NoModifier) {
    mouse(w, QEvent::MouseButtonPress, from, button, button, keys);
    for (int i = 1; i <= steps; ++i)
      mouse(w, QEvent::MouseMove, from + (to - from) * i / steps, Qt::NoButton, button, keys);
    mouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton, keys);
  }
  static void click(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers keys = Qt::NoModifier) {
    mouse(w, QEvent::MouseButtonPress, at, button, button, keys);
    mouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton, keys);
  }
  static void hover(QWidget* w, QPoint at) { mouse(w, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier); }
  static void wheel(QWidget* w, QPoint at, int notches, Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QWheelEvent event(QPointF(at), QPointF(w->mapToGlobal(at)), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, keys,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
  }

  void trigger(int id) {
    QAction* action = frame()->Action(id);
    ASSERT_NE(action, nullptr) << id;
    frame()->UpdateCommandStates();
    ASSERT_TRUE(action->isEnabled()) << id;
    action->trigger();
  }

  QString status() const { return frame()->StatusBarCtrl()->PaneText(); }

  fs::path folder_;
  twk::ScriptedUi script_;
  std::unique_ptr<twk::ScopedUi> installed_;
  std::unique_ptr<CDrawApp> drawApp_;
  USEROPT saved_;
  BRUSHPARMS savedBrush_;
};

CVol* volume(FRMTYPE type, DIM3D dims, double value = 0, SPC spc = SPC{}) {
  CVol* vol = makeVol(type, dims, L"/data/volume.nii");
  vol->spc = spc;
  for (int64_t i = 0; i < int64_t(PR_FrameMemSize(vol->frame)); ++i) vol->frame->data[i] = 0;
  if (value != 0)
    for (int t = 0; t < dims.t; ++t)
      for (int z = 0; z < dims.d; ++z)
        for (int y = 0; y < dims.h; ++y)
          for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, t, value);
  return vol;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Zoom, window/level, wheel, film view
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, ZoomInAndOutKeepTheCentreAndAZoomDragHasTheClientsAspect) {
  CDrawViewWidget* view = show(makeDocument({volume(FRM_INT, DIM3D{40, 30, 4, 1}, 5)}), 400, 300);
  const QPoint mid(view->width() / 2, view->height() / 2);
  const DPOINT centre = view->ClientToWorldPoint({mid.x(), mid.y()});
  const double scale = view->scale;
  trigger(32813);  // Zoom In
  EXPECT_NEAR(view->scale, scale * 1.05, 1e-12);
  trigger(32814);  // Zoom Out
  EXPECT_NEAR(view->scale, scale, 1e-12);
  const DPOINT after = view->ClientToWorldPoint({mid.x(), mid.y()});
  EXPECT_NEAR(after.x, centre.x, 1e-9);
  EXPECT_NEAR(after.y, centre.y, 1e-9);

  trigger(32819);  // Zoom by window selection
  EXPECT_EQ(g_CurrentTool, 1);
  frame()->UpdateCommandStates();
  EXPECT_TRUE(frame()->Action(32819)->isChecked());
  // A sideways drag: the band keeps the client's aspect.
  const QPoint from(60, 80), to(260, 84);
  mouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  mouse(view, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  const QRect band = view->FocusRect();
  const int expectedHeight = int(std::floor(200.0 * view->height() / view->width() + 0.5));
  EXPECT_EQ(band.width() - 1, 200);
  EXPECT_EQ(band.height() - 1, expectedHeight);
  const DPOINT corner = view->ClientToWorldPoint({from.x(), from.y()});
  const double s0 = view->scale;
  mouse(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  EXPECT_TRUE(view->FocusRect().isNull());
  EXPECT_EQ(g_CurrentTool, 0);
  EXPECT_DOUBLE_EQ(view->worldLeft, corner.x);
  EXPECT_DOUBLE_EQ(view->worldTop, corner.y);
  EXPECT_NEAR(view->scale, s0 * std::min(view->width() / 200.0, view->height() / double(expectedHeight)), 1e-9);
  // A click without a drag changes nothing and returns to the selection tool.
  trigger(32819);
  const double zoomed = view->scale;
  click(view, from);
  EXPECT_EQ(view->scale, zoomed);
  EXPECT_EQ(g_CurrentTool, 0);
}

TEST_F(ViewInput, WindowLevelDragStepsFromTheValuesMagnitude) {
  const struct {
    const char* name;
    FRMTYPE type;
    double level, width;
    int dx, dy;
    double level1, width1;
  } cases[] = {
      {"width 1000, 3 px right", FRM_INT, 500, 1000, 3, 0, 500, 1015},
      {"width 10, 1 px right", FRM_INT, 5, 10, 1, 0, 5, 11},
      {"level -600, 10 px down", FRM_INT, -600, 2000, 0, 10, -570, 2000},
      {"level 40, 4 px up", FRM_INT, 40, 400, 0, -4, 39, 400},
      {"real width 0.02, 10 px right", FRM_REAL, 0.01, 0.02, 10, 0, 0.01, 0.021},
      {"integer width 2, 300 px left", FRM_INT, 5, 2, -300, 0, 5, 1},
      {"real width 0.02, 300 px left", FRM_REAL, 0.01, 0.02, -300, 0, 0.01, 0.01},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CDrawDoc* doc = makeDocument({volume(c.type, DIM3D{20, 20, 2, 1}, 1)});
    CDrawViewWidget* view = show(doc);
    CDrawVol* layer = doc->GetActiveSet()->GetLayer(0);
    layer->filter.level = c.level;
    layer->filter.width = c.width;
    trigger(34130);
    ASSERT_EQ(g_CurrentTool, 10);
    frame()->UpdateCommandStates();
    EXPECT_TRUE(frame()->Action(34130)->isChecked());
    const QPoint at(200, 150);
    drag(view, at, at + QPoint(c.dx, c.dy), 1);
    EXPECT_NEAR(layer->filter.level, c.level1, 1e-12);
    EXPECT_NEAR(layer->filter.width, c.width1, 1e-12);
    EXPECT_GT(layer->filter.width, 0);
    trigger(34130);  // the button again: the selection tool
    EXPECT_EQ(g_CurrentTool, 0);
    drawApp_->CloseDocument(doc);
  }
}

TEST_F(ViewInput, WheelStepsSlicesAndTheBrushRadiusWithinTheirLimits) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{20, 20, 5, 1}, 1)});
  CDrawViewWidget* view = show(doc);
  VA_VOLPROJ* p = view->GetProjection();
  const QPoint at(200, 150);
  p->slice = 0;
  wheel(view, at, -1);
  EXPECT_EQ(p->slice, 0);
  wheel(view, at, 2);
  EXPECT_EQ(p->slice, 2);
  p->slice = 4;
  wheel(view, at, 1);
  EXPECT_EQ(p->slice, 4);
  // Ctrl and the wheel change the radius, not the slice, and stop at 0.
  g_BrushParms.radius = 1;
  wheel(view, at, -1, Qt::ControlModifier);
  wheel(view, at, -1, Qt::ControlModifier);
  EXPECT_EQ(g_BrushParms.radius, 0);
  EXPECT_EQ(p->slice, 4);
  EXPECT_EQ(view->ShownCursor(), TW_CURSOR::Brush);
  // The trace tool's wheel changes its smoothing within 0 .. 32 even without a tool object.
  g_CurrentTool = 11;
  g_MagTraceSmoothing = 31;
  wheel(view, at, 3);
  EXPECT_EQ(g_MagTraceSmoothing, 32);
  g_MagTraceSmoothing = 0;
  wheel(view, at, -1);
  EXPECT_EQ(g_MagTraceSmoothing, 0);
  EXPECT_EQ(p->slice, 4);
  g_CurrentTool = 0;
}

TEST_F(ViewInput, RightDoubleClickEntersFilmViewAndLeavesAtTheTileClicked) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{16, 16, 6, 1}, 1)});
  CDrawViewWidget* view = show(doc, 480, 360);
  VA_VOLPROJ* p = view->GetProjection();
  p->slice = 1;
  mouse(view, QEvent::MouseButtonDblClick, QPoint(240, 180), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
  ASSERT_EQ(p->filmView, 1);
  // The centre of tile 4.
  CDrawSet* set = doc->GetActiveSet();
  const DRECT3D box{8, 8, 4, 8, 8, 4};
  DRECT world;
  ASSERT_TRUE(set->VolBoxToWorldRect(view, &box, 4, &world));
  const POINT2D c = view->WorldToClientPoint({world.x0, world.y0});
  mouse(view, QEvent::MouseButtonDblClick, QPoint(c.x, c.y), Qt::RightButton, Qt::RightButton, Qt::ControlModifier);
  EXPECT_EQ(p->filmView, 1);  // Ctrl: ignored
  mouse(view, QEvent::MouseButtonDblClick, QPoint(c.x, c.y), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
  EXPECT_EQ(p->filmView, 0);
  EXPECT_EQ(p->slice, 4);
}

// ---------------------------------------------------------------------------------------------
// Selection, drawing order, vector-ROI boxes, keys
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, ClicksSelectTheTopmostAndTheOrderCommandsMoveTheSelection) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{20, 20, 3, 1}, 1)});
  auto* lower = new CDrawRect(DRAWOBJ_RECT, DRECT{2, 2, 12, 12});
  auto* upper = new CDrawRect(DRAWOBJ_RECT, DRECT{8, 8, 18, 18});
  for (CDrawObj* o : {static_cast<CDrawObj*>(lower), static_cast<CDrawObj*>(upper)}) doc->AddObject(&o, true);
  CDrawViewWidget* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  auto at = [&](double x, double y) {
    const POINT2D p = view->WorldToClientPoint({x, y});
    return QPoint(p.x, p.y);
  };
  click(view, at(10, 10));
  EXPECT_EQ(doc->selection, std::vector<CDrawObj*>{upper});
  click(view, at(4, 4));
  EXPECT_EQ(doc->selection, std::vector<CDrawObj*>{lower});
  click(view, at(19.5, 3));  // only the volume there: nothing selected
  EXPECT_TRUE(doc->selection.empty());

  // Pop Up on the last object changes nothing; on the first it passes its successor.
  doc->SetSelection({upper});
  view->OnMoveForward();
  EXPECT_EQ(doc->objects, (std::vector<CDrawObj*>{set, lower, upper}));
  doc->SetSelection({lower});
  view->OnMoveForward();
  EXPECT_EQ(doc->objects, (std::vector<CDrawObj*>{set, upper, lower}));
  view->OnMoveToBack();
  EXPECT_EQ(doc->objects.front(), lower);
  view->OnMoveToFront();
  EXPECT_EQ(doc->objects.back(), lower);
  view->OnMoveBackward();
  EXPECT_EQ(doc->objects, (std::vector<CDrawObj*>{set, lower, upper}));

  // Lock steps 0, 1, 2, 0; a volume set goes straight to 2; Pin gives 1.
  TW_CMDUI ui;
  for (int expected : {1, 2, 0}) {
    view->OnObjectLock();
    EXPECT_EQ(lower->lockState, expected);
  }
  doc->SetSelection({set});
  view->OnObjectLock();
  EXPECT_EQ(set->lockState, 2);
  doc->SetSelection({});
  view->OnUpdateObjectLock(&ui);
  EXPECT_FALSE(ui.enabled);
  doc->SetSelection({upper});
  view->OnObjectPin();
  EXPECT_EQ(upper->lockState, 1);

  // Select All and Erase: the volume set stays.
  view->OnSelectAll();
  EXPECT_EQ(doc->selection.size(), 3u);
  view->OnEditClear();
  EXPECT_EQ(doc->objects, std::vector<CDrawObj*>{set});
  EXPECT_EQ(doc->selection, std::vector<CDrawObj*>{set});
}

TEST_F(ViewInput, VectorRoiBoxesAreNamedInOrderAndF11CyclesThroughThem) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{30, 30, 4, 1}, 1)});
  CDrawViewWidget* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  g_ToolState.vroiCounter = 0;
  std::vector<CDrawSet*> rois;
  for (int i = 0; i < 3; ++i) {
    trigger(34553);  // Construct Vector ROI
    ASSERT_EQ(g_CurrentTool, 2);
    const QPoint from = clientOf(view, 3 + 8 * i, 4), to = clientOf(view, 8 + 8 * i, 12);
    click(view, from);
    hover(view, to);
    click(view, to);
    EXPECT_EQ(g_CurrentTool, 0);
    ASSERT_EQ(doc->selection.size(), 1u);
    auto* roi = static_cast<CDrawSet*>(doc->selection.front());
    ASSERT_TRUE(roi->IsVectorRoi());
    rois.push_back(roi);
  }
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const HIGHOBJ& h = *rois[size_t(i)]->vroi;
    EXPECT_STREQ(h.label, ("vroi_" + std::to_string(i)).c_str());
    EXPECT_EQ(h.owner, set);
    EXPECT_NEAR(h.x0, 3 + 8 * i, 0.5);
    EXPECT_NEAR(h.x1, 8 + 8 * i, 0.5);
    EXPECT_NEAR(h.y1, 12, 0.5);
  }
  // A box drawn with many moves, in any direction, spans the pressed point and the last one.
  struct Drag {
    int x0, y0, x1, y1;
  };
  for (const Drag& d : {Drag{3, 20, 13, 28}, Drag{13, 28, 3, 20}, Drag{13, 20, 3, 28}}) {
    SCOPED_TRACE(d.x0 * 100 + d.y0);
    trigger(34553);
    const QPoint from = clientOf(view, d.x0, d.y0), to = clientOf(view, d.x1, d.y1);
    drag(view, from, to, 4);
    click(view, to);
    ASSERT_EQ(doc->selection.size(), 1u);
    const HIGHOBJ& h = *static_cast<CDrawSet*>(doc->selection.front())->vroi;
    EXPECT_NEAR(h.x0, 3, 0.5);
    EXPECT_NEAR(h.x1, 13, 0.5);
    EXPECT_NEAR(h.y0, 20, 0.5);
    EXPECT_NEAR(h.y1, 28, 0.5);
    view->OnEditClear();
  }
  // F11: the second selected gives the third, the third the first.
  doc->SetSelection({rois[1]});
  QTest::keyClick(view, Qt::Key_F11);
  EXPECT_EQ(doc->selection, std::vector<CDrawObj*>{rois[2]});
  QTest::keyClick(view, Qt::Key_F11);
  EXPECT_EQ(doc->selection, std::vector<CDrawObj*>{rois[0]});
  // Esc while a box is being sized takes it out again.
  trigger(34553);
  click(view, clientOf(view, 20, 20));
  EXPECT_EQ(doc->objects.size(), 5u);
  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_EQ(doc->objects.size(), 4u);
  EXPECT_EQ(g_CurrentTool, 0);
}

TEST_F(ViewInput, BackspaceRemovesOneNodePerPress) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{20, 20, 3, 1}, 1)});
  CDrawViewWidget* view = show(doc);
  const double plane[3] = {0, 0, 0};
  auto* poly = new CDrawPoly(1, 4, false, 0, false, 1, plane);
  poly->pointsPerContour[0] = 4;
  for (int i = 0; i < 4; ++i) poly->points[i] = DPOINT{2.0 + 3 * i, 5.0 + i};
  CDrawObj* obj = poly;
  doc->AddObject(&obj, true);
  doc->SetSelection({poly});
  QTest::keyClick(view, Qt::Key_Backspace);
  EXPECT_EQ(poly->NumPoints(), 3);
  QTest::keyClick(view, Qt::Key_Backspace);
  EXPECT_EQ(poly->NumPoints(), 2);
  QTest::keyClick(view, Qt::Key_Backspace);  // a 2-point line keeps its points
  EXPECT_EQ(poly->NumPoints(), 2);
}

// ---------------------------------------------------------------------------------------------
// The ROI brush
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, CtrlDragPaintsADrawRoiThatUndoAndRedoRestoreBitForBit) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{40, 30, 6, 1}, 100)});
  CDrawViewWidget* view = show(doc, 400, 300);
  CDrawSet* set = doc->GetActiveSet();
  g_BrushParms = BRUSHPARMS{};
  g_BrushParms.radius = 2.5;
  view->GetProjection()->slice = 3;
  const QPoint from = clientOf(view, 6.3, 8.6), to = clientOf(view, 30.2, 19.4);
  const int steps = 3;
  // The brush positions the view will use: the press and every move.
  std::vector<VA_BRUSHPOINT> points;
  for (int i = 0; i <= steps; ++i) {
    const QPoint q = from + (to - from) * i / steps;
    VA_BRUSHPOINT b;
    ASSERT_TRUE(set->ClientToVoxelCentre(view, {q.x(), q.y()}, &b.x, &b.y, &b.z, &b.time));
    points.push_back(b);
  }
  drag(view, from, to, steps, Qt::LeftButton, Qt::ControlModifier);
  ASSERT_EQ(set->NumLayers(), 2);
  CVol* roi = set->GetLayerVol(1);
  ASSERT_TRUE(roi->IsROI());
  EXPECT_EQ(PR_GetFileTitle(roi->name), L"draw ROI");
  EXPECT_EQ(roi->W(), 40);
  EXPECT_EQ(roi->H(), 30);
  EXPECT_EQ(roi->D(), 6);
  EXPECT_EQ(roi->T(), 1);

  // The same voxel points and radius through numpy.
  const fs::path pointsFile = folder_ / "points.txt", maskFile = folder_ / "mask.txt", scriptFile = folder_ / "mask.py";
  {
    std::ofstream out(pointsFile);
    out.precision(17);
    for (const auto& b : points) out << b.x << " " << b.y << " " << b.z << "\n";
    std::ofstream(scriptFile) << R"(import sys, numpy as np
pts = np.loadtxt(sys.argv[1]); r = 2.5
x, y = np.meshgrid(np.arange(40) + 0.5, np.arange(30) + 0.5, indexing='ij')
mask = np.zeros((40, 30), bool)
segs = [(pts[0], pts[0])] + [(pts[i - 1], pts[i]) for i in range(1, len(pts))]
for a, c in segs:
    d = c[:2] - a[:2]; l2 = d @ d
    u = np.clip(((x - a[0]) * d[0] + (y - a[1]) * d[1]) / l2, 0, 1) if l2 > 0 else np.zeros_like(x)
    mask |= np.hypot(x - a[0] - u * d[0], y - a[1] - u * d[1]) <= r
np.savetxt(sys.argv[2], mask.T.astype(int), fmt='%d')
)";
  }
  ASSERT_EQ(std::system(("/usr/bin/python3 '" + scriptFile.string() + "' '" + pointsFile.string() + "' '" +
                         maskFile.string() + "'").c_str()),
            0);
  std::ifstream mask(maskFile);
  int64_t painted = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      int expected = -1;
      mask >> expected;
      ASSERT_EQ(int(twk::roiBit(roi->frame, x, y, 3, 0)), expected) << x << "," << y;
      painted += expected;
    }
  EXPECT_GT(painted, 100);
  for (int z : {2, 4})
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) ASSERT_FALSE(twk::roiBit(roi->frame, x, y, z, 0));

  // One record per brush call, each no larger than its box.
  ASSERT_EQ(doc->UndoCount(), steps + 1);
  for (int i = 0; i < doc->UndoCount(); ++i) {
    const UNDOREC* r = doc->UndoRecord(i);
    const RECT4D& b = r->box;
    const uint64_t boxBytes = uint64_t((b.x1 - b.x0 + 1 + 15) / 16 * 2) * (b.y1 - b.y0 + 1) * (b.z1 - b.z0 + 1) * (b.t1 - b.t0 + 1);
    EXPECT_LE(r->MemSize(), sizeof(UNDOREC) + sizeof(FRAME) + boxBytes) << i;
    EXPECT_LT(r->MemSize(), PR_FrameMemSize(roi->frame)) << i;
  }
  const FramePtr paintedHolder(VA_VolClone(roi->frame));
  const FRAME* paintedCopy = paintedHolder.get();
  // The keys as the keyboard gives them, once the frame has refreshed its commands (its idle timer).
  for (int i = 0; i <= steps; ++i) {
    frame()->UpdateCommandStates();
    QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
  }
  EXPECT_EQ(doc->UndoCurrent(), 0);
  for (int64_t i = 0; i < int64_t(PR_FrameMemSize(roi->frame)); ++i) ASSERT_EQ(roi->frame->data[i], 0) << i;
  for (int i = 0; i <= steps; ++i) {
    frame()->UpdateCommandStates();
    QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
  }
  EXPECT_EQ(std::memcmp(roi->frame->data, paintedCopy->data, PR_FrameMemSize(roi->frame)), 0);

  // Right Ctrl-drag erases from the same ROI.
  drag(view, from, to, steps, Qt::RightButton, Qt::ControlModifier);
  int64_t left = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) left += twk::roiBit(roi->frame, x, y, 3, 0) ? 1 : 0;
  EXPECT_EQ(left, 0);
  EXPECT_EQ(set->NumLayers(), 2);
}

TEST_F(ViewInput, TheBrushLeavesTwoMarkedRoisAndForbiddenLayersAlone) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{20, 20, 3, 1}, 7), volume(FRM_ROI, DIM3D{20, 20, 3, 1}),
                                volume(FRM_ROI, DIM3D{20, 20, 3, 1})});
  CDrawViewWidget* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  set->SetActive(0);
  g_BrushParms = BRUSHPARMS{};
  const QPoint from = clientOf(view, 4, 4), to = clientOf(view, 14, 14);
  drag(view, from, to, 2, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(set->NumLayers(), 3);
  for (int i : {1, 2})
    for (int64_t b = 0; b < int64_t(PR_FrameMemSize(set->GetLayerVol(i)->frame)); ++b)
      ASSERT_EQ(set->GetLayerVol(i)->frame->data[b], 0);
  EXPECT_EQ(doc->UndoCount(), 0);
  // ROIs not allowed: no "draw ROI" is made for a signal layer either.
  CDrawDoc* plain = makeDocument({volume(FRM_INT, DIM3D{20, 20, 3, 1}, 7)});
  CDrawViewWidget* other = show(plain);
  g_BrushParms.onRois = 0;
  drag(other, clientOf(other, 4, 4), clientOf(other, 14, 14), 2, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(plain->GetActiveSet()->NumLayers(), 1);
  EXPECT_EQ(plain->UndoCount(), 0);
}

TEST_F(ViewInput, PaintModePaintsWithAPlainDragIntoAnAllowedIntegerLayer) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{20, 20, 3, 1}, 7)});
  CDrawViewWidget* view = show(doc);
  CVol* vol = doc->GetActiveVol();
  g_BrushParms = BRUSHPARMS{};
  g_BrushParms.onIntegerVolumes = 1;
  g_BrushParms.paintSignal = 900;
  g_BrushParms.eraseSignal = 1;
  QTest::keyClick(view, Qt::Key_A);
  EXPECT_EQ(view->paintMode, 1);
  drag(view, clientOf(view, 5, 5), clientOf(view, 5.2, 5.1), 1);
  EXPECT_EQ(twk::voxelValue(vol->frame, 5, 5, view->GetProjection()->slice, 0), 900);
  QTest::keyClick(view, Qt::Key_Z);  // erase mode switches paint mode off
  EXPECT_EQ(view->paintMode, 0);
  EXPECT_EQ(view->eraseMode, 1);
  drag(view, clientOf(view, 5, 5), clientOf(view, 5.2, 5.1), 1);
  EXPECT_EQ(twk::voxelValue(vol->frame, 5, 5, view->GetProjection()->slice, 0), 1);
  EXPECT_EQ(doc->GetActiveSet()->NumLayers(), 1);
}

// ---------------------------------------------------------------------------------------------
// Voxel information over files nibabel wrote
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, StatusTextsOverFilesNibabelWrote) {
  const fs::path script = folder_ / "make.py";
  std::ofstream(script) << R"(import sys, numpy as np, nibabel as nib
d = sys.argv[1]
i, j, k = np.meshgrid(np.arange(24), np.arange(20), np.arange(8), indexing='ij')
nib.save(nib.Nifti1Image((1000 + 37 * i + 5 * j + 211 * k).astype(np.int16), np.diag([1.0, 1.0, 2.0, 1.0])), d + '/si.nii')
real = np.where(np.arange(12)[:, None, None] < 6, 2.0, 2.5) * np.ones((12, 10, 4))
nib.save(nib.Nifti1Image(real.astype(np.float64), np.eye(4)), d + '/real.nii')
dyn = nib.Nifti1Image(np.arange(10 * 10 * 3 * 5, dtype=np.int16).reshape(10, 10, 3, 5), np.eye(4))
dyn.header.set_xyzt_units('mm', 'sec'); dyn.header['pixdim'][4] = 3.0
nib.save(dyn, d + '/dyn.nii')
)";
  ASSERT_EQ(std::system(("/usr/bin/python3 '" + script.string() + "' '" + folder_.string() + "'").c_str()), 0);
  auto open = [&](const char* name, int width, int height) {
    CDrawDoc* doc = drawApp_->OpenDocumentFile(wide(folder_ / name));
    EXPECT_NE(doc, nullptr) << script_.lastMessage().toUtf8();
    auto* view = dynamic_cast<CDrawViewWidget*>(doc->Views().front());
    CChildFrame* child = CChildFrame::OfView(view);
    child->showNormal();
    child->resize(width + 20, height + 40);
    QApplication::processEvents();
    view->GetProjection()->filmView = 0;
    view->ZoomAll();
    view->OnActivateView(true);
    return view;
  };

  CDrawViewWidget* si = open("si.nii", 600, 250);
  VA_VOLPROJ* p = si->GetProjection();
  ASSERT_TRUE(TW_IsProjUnrotated(p));
  p->slice = 4;
  hover(si, QPoint(590, 125));  // beside the volume
  EXPECT_EQ(status(), QStringLiteral("Out of Volume Bounds"));
  hover(si, clientOf(si, 7.4, 11.6));
  const QString text = status();
  const QRegularExpression shape(QStringLiteral("^SI=(\\d+), xyz=\\(([0-9.]+), ([0-9.]+), 5\\) +\\(si\\)$"));
  const QRegularExpressionMatch m = shape.match(text);
  ASSERT_TRUE(m.hasMatch()) << text.toStdString();
  const int x = int(m.captured(2).toDouble()), y = int(m.captured(3).toDouble());
  const std::string nibabel = run("/usr/bin/python3 -c \"import nibabel as nib; print(int(nib.load('" +
                                  (folder_ / "si.nii").string() + "').get_fdata()[" + std::to_string(x) + "," +
                                  std::to_string(y) + ",4]))\"");
  EXPECT_EQ(m.captured(1).toStdString() + "\n", nibabel);
  // An ROI over it: the active marked ROI layer's value.
  CDrawSet* set = si->GetDocument()->GetActiveSet();
  ASSERT_TRUE(set->NewRoiLayer(false));
  set->SetActive(set->NumLayers() - 1);
  twk::setRoiBit(set->GetActiveVol()->frame, x, y, 4, 0, true);
  hover(si, clientOf(si, x + 0.5, y + 0.5));
  EXPECT_TRUE(status().startsWith(QStringLiteral("ROI=ON, xyz=("))) << status().toStdString();
  hover(si, clientOf(si, x + 1.5, y + 0.5));
  EXPECT_TRUE(status().startsWith(QStringLiteral("ROI=OFF"))) << status().toStdString();

  CDrawViewWidget* real = open("real.nii", 400, 300);
  real->GetProjection()->slice = 1;
  hover(real, clientOf(real, 2.5, 3.5));
  EXPECT_TRUE(status().startsWith(QStringLiteral("Real=2 ("))) << status().toStdString();
  hover(real, clientOf(real, 9.5, 3.5));
  EXPECT_TRUE(status().startsWith(QStringLiteral("Real=2.500000e+00 ("))) << status().toStdString();

  script_.answerValues({1});  // the modality of the 4D volume: MR
  CDrawViewWidget* dyn = open("dyn.nii", 400, 300);
  dyn->GetProjection()->timeIndex = 0;
  hover(dyn, clientOf(dyn, 4.5, 4.5));
  EXPECT_TRUE(status().contains(QStringLiteral("=0.000000000 "))) << status().toStdString();
  EXPECT_TRUE(status().contains(QStringLiteral(" (1)"))) << status().toStdString();
  QTest::keyClick(dyn, Qt::Key_Right);  // the next time point, the status refreshed by the step
  EXPECT_TRUE(status().contains(QStringLiteral(" (2)"))) << status().toStdString();
  // The modality question was the only one asked.
  EXPECT_EQ(script_.messages, std::vector<CString>{L"Specify Modality"});
}

// ---------------------------------------------------------------------------------------------
// Optimal window, display clock, grid, options
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, OptimalForTheRoiEqualsOptimalForAllOnACopyWithTheOutsideVoided) {
  const DIM3D dims{16, 12, 4, 3};
  CVol* signal = volume(FRM_REAL, dims);
  for (int t = 0; t < 3; ++t)
    for (int z = 0; z < 4; ++z)
      for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) twk::setVoxelValue(signal->frame, x, y, z, t, std::sin(x * 0.7 + y * 1.3 + z + t) * 100 * (x + 1));
  CVol* roi = volume(FRM_ROI, DIM3D{16, 12, 4, 1});
  for (int z = 1; z < 3; ++z)
    for (int y = 3; y < 9; ++y)
      for (int x = 2; x < 7; ++x) twk::setRoiBit(roi->frame, x, y, z, 0, true);
  FRAME* voided = VA_VolClone(signal->frame);
  ASSERT_TRUE(VA_VolCleanMask(voided, -1, roi->frame, false, 1e60, false));
  CVol* copy = volume(FRM_REAL, dims);
  PR_FrameDelete(&copy->frame);
  copy->frame = voided;

  CDrawDoc* withRoi = makeDocument({signal, roi});
  CDrawViewWidget* view = show(withRoi);
  view->GetProjection()->timeIndex = 2;
  withRoi->GetActiveSet()->SetActive(0);
  view->OnOptimalWindow(2);
  const PR_VIEWFILT got = withRoi->GetActiveSet()->GetLayer(0)->filter;

  CDrawDoc* other = makeDocument({copy});
  CDrawViewWidget* otherView = show(other);
  otherView->GetProjection()->timeIndex = 2;
  otherView->OnOptimalWindow(0);
  const PR_VIEWFILT expected = other->GetActiveSet()->GetLayer(0)->filter;
  EXPECT_DOUBLE_EQ(got.level, expected.level);
  EXPECT_DOUBLE_EQ(got.width, expected.width);
  EXPECT_TRUE(withRoi->IsModified());
  EXPECT_TRUE(script_.messages.empty()) << script_.lastMessage().toUtf8();
  // Without an ROI the operand rule says so and nothing changes.
  withRoi->GetActiveSet()->GetLayer(1)->SetMarked(false);
  view->OnOptimalWindow(2);
  EXPECT_EQ(script_.lastMessage(), L"CDrawSet::WorkVolNonROIandROI : ROI is not present or enabled");
}

TEST_F(ViewInput, DisplayClockBeforeAnyDrawShowsZero) {
  CDrawViewWidget* view = show(makeDocument({volume(FRM_INT, DIM3D{8, 8, 2, 1}, 1)}));
  view->OnResetDocDisplayClock();
  view->OnShowDocDisplayClock();
  EXPECT_EQ(script_.lastMessage(), L"Doc Display Count = 0\nDoc Display Avg Clock = 0");
  view->RedrawNow();
  EXPECT_GT(g_DocDisplayCount, 0);
}

TEST_F(ViewInput, AGridOfATinyStepDrawsOnlyLinesTwoPixelsApart) {
  CDrawViewWidget* view = show(makeDocument({volume(FRM_INT, DIM3D{30, 30, 2, 1}, 0)}), 300, 300);
  auto greenColumns = [&] {
    const QImage image = TW_RenderView(view);
    std::vector<int> columns;
    const int y = image.height() / 2;
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      if (qGreen(c) == 255 && qRed(c) == 0 && qBlue(c) == 0) columns.push_back(x);
    }
    return columns;
  };
  script_.answerValues({1e-9});
  view->OnDisplayGrid();
  ASSERT_EQ(view->showGrid, 1);
  const std::vector<int> tiny = greenColumns();
  ASSERT_GT(tiny.size(), 20u);
  for (size_t i = 1; i < tiny.size(); ++i) EXPECT_GE(tiny[i] - tiny[i - 1], 2);
  // A step of 1 mm on 1 mm voxels: a line per voxel, as many as fit.
  view->OnDisplayGrid();  // off
  script_.answerValues({1.0});
  view->OnDisplayGrid();
  EXPECT_EQ(view->gridStep, 1.0);
  EXPECT_GE(greenColumns().size(), 25u);
  // A cancelled prompt leaves the grid off and the step as it was.
  view->OnDisplayGrid();
  script_.cancelValues();
  view->OnDisplayGrid();
  EXPECT_EQ(view->showGrid, 0);
  EXPECT_EQ(view->gridStep, 1.0);
}

TEST_F(ViewInput, OptionsDockTheToolbarAtOnceAndStoreItOnOk) {
  TW_EditOptions().toolbarAlign = 2;
  frame()->DockToolBar(2);
  {
    CDlgUserOpt dialog(frame());
    dialog.toolbarAlign->setCurrentIndex(1);
    EXPECT_EQ(frame()->ToolBarEdge(), 1);
    EXPECT_EQ(frame()->toolBarArea(frame()->MainToolBar()), Qt::TopToolBarArea);
    EXPECT_EQ(TW_Options().toolbarAlign, 2);
    dialog.interpRois->setChecked(!TW_Options().interpRois);  // an immediate option
    EXPECT_EQ(TW_Options().interpRois, dialog.interpRois->isChecked() ? 1 : 0);
    ASSERT_TRUE(dialog.ApplyOk());
    EXPECT_EQ(TW_Options().toolbarAlign, 1);
  }
  {
    // Cancel keeps the option while the toolbar stays where it was docked.
    CDlgUserOpt dialog(frame());
    dialog.toolbarAlign->setCurrentIndex(3);
    dialog.reject();
    EXPECT_EQ(frame()->ToolBarEdge(), 3);
    EXPECT_EQ(TW_Options().toolbarAlign, 1);
  }
}

// ---------------------------------------------------------------------------------------------
// Vector objects into the ROI and polyline length
// ---------------------------------------------------------------------------------------------

namespace {

// The world point of a point in projection voxel coordinates of the view's current slice.
DPOINT worldOf(CDrawView* view, double x, double y) {
  CDrawSet* set = view->GetDocument()->GetActiveSet();
  const int slice = view->GetProjection()->slice;
  const DRECT3D box{x, y, double(slice), x, y, double(slice)};
  DRECT world;
  EXPECT_TRUE(set->VolBoxToWorldRect(view, &box, slice, &world));
  return DPOINT{world.x0, world.y0};
}

// A closed polyline through voxel centres (x + 0.5, y + 0.5) of the view's slice.
CDrawPoly* polylineThrough(CDrawView* view, const std::vector<POINT2D>& voxels, const double plane[3] = nullptr) {
  const double zero[3] = {0, 0, 0};
  auto* poly = new CDrawPoly(1, int(voxels.size()), false, 0, true, view->GetProjection()->slice, plane ? plane : zero);
  poly->pointsPerContour[0] = int(voxels.size());
  for (size_t i = 0; i < voxels.size(); ++i) poly->points[i] = worldOf(view, voxels[i].x + 0.5, voxels[i].y + 0.5);
  poly->ComputeBounds();
  return poly;
}

std::vector<uint8_t> frameBytes(const FRAME* f) { return std::vector<uint8_t>(f->data, f->data + PR_FrameMemSize(f)); }

double distanceToSegment(double px, double py, POINT2D a, POINT2D b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

}  // namespace

TEST_F(ViewInput, AClosedPolygonFillsAsSkimageDoesAwayFromItsOutlineAndOneUndoRestoresIt) {
  CVol* roiVol = volume(FRM_ROI, DIM3D{40, 32, 3, 1});
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{40, 32, 3, 1}, 10), roiVol});
  CDrawView* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  // Something already in the ROI on the slice, for the undo.
  twk::setVoxelValue(roiVol->frame, 1, 1, view->GetProjection()->slice, 0, 1);
  const std::vector<uint8_t> before = frameBytes(roiVol->frame);
  const std::vector<POINT2D> vertices = {{3, 2}, {30, 5}, {36, 27}, {17, 14}, {6, 29}};
  CDrawPoly* poly = polylineThrough(view, vertices);
  CDrawObj* add = poly;
  doc->AddObject(&add, true);
  doc->selection = {poly};
  ASSERT_TRUE(view->VectorObjectsToRoi(0));
  EXPECT_EQ(set->NumLayers(), 2) << "the ROI operand is used";

  std::ostringstream cmd;
  cmd << "/usr/bin/python3 -c \"import numpy as np; from skimage.draw import polygon; m = np.zeros((32, 40), np.uint8); "
         "rr, cc = polygon([";
  for (const POINT2D& v : vertices) cmd << v.y << ",";
  cmd << "], [";
  for (const POINT2D& v : vertices) cmd << v.x << ",";
  cmd << "], m.shape); m[rr, cc] = 1; print(''.join(str(v) for v in m.ravel()))\"";
  const std::string mask = run(cmd.str());
  ASSERT_EQ(mask.size(), 32u * 40u + 1) << mask;
  const int z = view->GetProjection()->slice;
  int disagreements = 0, inside = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool ours = twk::voxelValue(roiVol->frame, x, y, z, 0) != 0;
      const bool theirs = mask[size_t(y * 40 + x)] == '1';
      inside += theirs;
      if (ours == theirs || (x == 1 && y == 1)) continue;
      double nearest = 1e9;
      for (size_t k = 0; k < vertices.size(); ++k)
        nearest = std::min(nearest, distanceToSegment(x, y, vertices[k], vertices[(k + 1) % vertices.size()]));
      EXPECT_LT(nearest, 1.0) << "pixel " << x << "," << y << " away from the outline";
      ++disagreements;
    }
  EXPECT_GT(inside, 300);
  EXPECT_LT(disagreements, inside / 5);
  for (int zz = 0; zz < 3; ++zz) {
    if (zz != z) {
      EXPECT_EQ(twk::voxelValue(roiVol->frame, 20, 10, zz, 0), 0.0) << "other slices untouched";
    }
  }

  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(frameBytes(roiVol->frame), before);
}

TEST_F(ViewInput, BoxesFillAsNumpySlicesAndAFailedObjectLeavesNothing) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{12, 10, 6, 1}, 10)});
  CDrawView* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  const double inside[6] = {2.3, 1.0, 0.5, 5.0, 4.7, 2.0};  // voxels x 2..4, y 1..4, z 0..1
  const double across[6] = {9.5, -3, 4, 20, 2, 9};          // clipped: x 9..11, y 0..1, z 4..5
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, inside, 0, 0, "a"));
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, across, 0, 0, "b"));
  // "Rasterize All VROIs" without an ROI layer makes one first.
  ASSERT_TRUE(view->VectorObjectsToRoi(3));
  ASSERT_EQ(set->NumLayers(), 2);
  const FRAME* roi = set->GetLayerVol(1)->frame;
  ASSERT_TRUE(set->GetLayerVol(1)->IsROI());
  for (int z = 0; z < 6; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool a = x >= 2 && x <= 4 && y >= 1 && y <= 4 && z <= 1;
        const bool b = x >= 9 && y <= 1 && z >= 4;
        ASSERT_EQ(twk::voxelValue(roi, x, y, z, 0) != 0, a || b) << x << "," << y << "," << z;
      }
  const std::vector<uint8_t> filled = frameBytes(roi);

  // A box then a polyline on a slice the ROI does not have: the command fails and its record
  // takes the box back out.
  const double third[6] = {0, 5, 3, 2, 8, 4};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, third, 0, 0, "c"));
  CDrawObj* boxC = doc->objects.back();
  CDrawPoly* stray = polylineThrough(view, {{1, 1}, {5, 1}, {5, 5}});
  stray->slice = 40;
  CDrawObj* add = stray;
  doc->AddObject(&add, true);
  doc->selection = {boxC, stray};
  EXPECT_FALSE(view->VectorObjectsToRoi(0));
  EXPECT_EQ(frameBytes(roi), filled);

  // A polyline of a turned plane is left alone by every mode.
  const double plane[3] = {0, 30, 0};
  CDrawPoly* turned = polylineThrough(view, {{1, 6}, {8, 6}, {8, 9}}, plane);
  add = turned;
  doc->AddObject(&add, true);
  doc->selection = {turned};
  ASSERT_TRUE(view->VectorObjectsToRoi(2));
  EXPECT_FALSE(view->VectorObjectsToRoi(0));
  EXPECT_EQ(frameBytes(roi), filled);
}

TEST_F(ViewInput, TwoMarkedRoisAreReportedBeforeAnyLayerIsAdded) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{8, 8, 2, 1}, 10), volume(FRM_ROI, DIM3D{8, 8, 2, 1}),
                                volume(FRM_ROI, DIM3D{8, 8, 2, 1})});
  CDrawView* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  set->SetActive(0);
  EXPECT_FALSE(view->VectorObjectsToRoi(3));
  EXPECT_EQ(set->NumLayers(), 3);
  EXPECT_NE(script_.lastMessage().Find(L"Ambiguous Layer Configuration"), -1) << script_.lastMessage().toUtf8();
}

TEST_F(ViewInput, PolylineLengthIsInMillimetresOfTheVoxels) {
  struct Case {
    SPC spc;
    double open, closed;
  };
  // A 3-4-5 triangle of voxel steps; at 0.5 x 2 mm: 3 x 0.5 + 4 x 2 and the hypotenuse (1.5, 8).
  const Case cases[] = {{SPC{1, 1, 1}, 7, 12}, {SPC{0.5, 2, 1}, 9.5, 9.5 + std::hypot(1.5, 8.0)}};
  for (const Case& c : cases) {
    CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{16, 12, 2, 1}, 10, c.spc)});
    CDrawView* view = show(doc);
    CDrawPoly* poly = polylineThrough(view, {{2, 2}, {5, 2}, {5, 6}});
    poly->closed = 0;
    CDrawObj* add = poly;
    doc->AddObject(&add, true);
    doc->selection = {poly};
    script_.clear();
    view->MeasurePolylineLength();
    ASSERT_FALSE(script_.messages.empty());
    const std::string text = script_.lastMessage().toUtf8();
    double open = 0, closed = 0;
    const size_t a = text.find("Poly length (mm)"), b = text.find("Closed Poly length (mm)");
    ASSERT_NE(a, std::string::npos) << text;
    ASSERT_NE(b, std::string::npos) << text;
    open = std::atof(text.c_str() + text.find_first_of("-0123456789", a + 16));
    closed = std::atof(text.c_str() + text.find_first_of("-0123456789", b + 23));
    EXPECT_NEAR(open, c.open, 1e-3) << text;
    EXPECT_NEAR(closed, c.closed, 1e-3) << text;
    drawApp_->CloseAllDocuments(false);
  }
}

// ---------------------------------------------------------------------------------------------
// The polyline tool
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, ThePolylineToolAppendsClicksAndDragMovesAndFinishesClosesAndRefusesFilmView) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{30, 30, 4, 1}, 1)});
  CDrawViewWidget* view = show(doc);
  auto newest = [&] { return static_cast<CDrawPoly*>(doc->objects.back()); };
  auto worldOf = [&](QPoint p) { return view->ClientToWorldPoint({p.x(), p.y()}); };

  // Click, click, Esc: two points, where the clicks were, on the shown slice.
  trigger(34608);  // Insert Polyline
  ASSERT_EQ(g_CurrentTool, 5);
  const QPoint a = clientOf(view, 3, 4), b = clientOf(view, 12, 9);
  click(view, a);
  hover(view, b);
  click(view, b);
  hover(view, clientOf(view, 20, 20));
  QTest::keyClick(view, Qt::Key_Escape);
  ASSERT_EQ(doc->objects.size(), 2u);
  CDrawPoly* first = newest();
  ASSERT_EQ(first->NumPoints(), 2);
  EXPECT_NEAR(first->points[0].x, worldOf(a).x, 1e-9);
  EXPECT_NEAR(first->points[1].y, worldOf(b).y, 1e-9);
  EXPECT_EQ(first->slice, view->GetProjection()->slice);
  EXPECT_FALSE(first->spline);

  // A drag lays a node for every move after the first (which takes the rubber-band point).
  g_CurrentTool = 5;
  doc->SetSelection({});
  const QPoint from = clientOf(view, 2, 20);
  mouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  CDrawPoly* freehand = newest();
  ASSERT_NE(freehand, first);
  EXPECT_EQ(freehand->NumPoints(), 2);
  for (int i = 1; i <= 6; ++i) {
    mouse(view, QEvent::MouseMove, from + QPoint(6 * i, 2 * i), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(freehand->NumPoints(), 1 + i) << i;
  }
  mouse(view, QEvent::MouseButtonRelease, from + QPoint(36, 12), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  trigger(32842);  // finish (Tab): the rubber-band point goes, the tool stays
  EXPECT_EQ(freehand->NumPoints(), 6);
  EXPECT_EQ(g_CurrentTool, 5);

  // Closing a 4-point contour: an unfilled one ends on its first point, a filled one keeps its own.
  for (bool filled : {false, true}) {
    SCOPED_TRACE(filled);
    doc->SetSelection({});
    const QPoint corners[4] = {clientOf(view, 4, 4), clientOf(view, 20, 4), clientOf(view, 20, 14), clientOf(view, 4, 14)};
    for (const QPoint& p : corners) {
      hover(view, p);
      click(view, p);
    }
    CDrawPoly* square = newest();
    square->style.filled = filled ? 1 : 0;
    hover(view, clientOf(view, 10, 25));
    trigger(33106);  // Close Polyline
    ASSERT_EQ(square->NumPoints(), filled ? 4 : 5);
    EXPECT_NEAR(square->points[3].x, worldOf(corners[3]).x, 1e-9);
    if (!filled) {
      EXPECT_EQ(square->points[4].x, square->points[0].x);
      EXPECT_EQ(square->points[4].y, square->points[0].y);
    }
  }

  // A destroyed polyline is let go by the tool.
  doc->SetSelection({first});
  CDrawPoly* drawing = newest();
  TW_PolyTool()->poly = drawing;
  doc->RemoveObject(drawing);
  delete drawing;
  EXPECT_EQ(TW_PolyTool()->poly, nullptr);

  // Film view refuses the tool with its message and adds nothing.
  view->GetProjection()->filmView = 1;
  const size_t count = doc->objects.size();
  script_.clear();
  click(view, clientOf(view, 5, 5));
  EXPECT_EQ(doc->objects.size(), count);
  EXPECT_EQ(script_.lastMessage(), L"CPolyTool::OnLButtonDown : Film View is not allowed");
}

// ---------------------------------------------------------------------------------------------
// The magnetic-trace tool and the trace commands
// ---------------------------------------------------------------------------------------------

namespace {

// An integer 64 x 64 x 2 volume: 1000 inside the disc of radius 20 voxels about (32, 32), the edge
// blurred by a Gaussian of sigma 1.
CVol* discVolume() {
  CVol* vol = volume(FRM_INT, DIM3D{64, 64, 2, 1});
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const double r = std::hypot(x + 0.5 - 32, y + 0.5 - 32);
        twk::setVoxelValue(vol->frame, x, y, z, 0, 1000 * 0.5 * std::erfc((r - 20) / std::sqrt(2.0)));
      }
  return vol;
}

// Distance from the disc centre of a world point of the view.
double discRadius(CDrawView* view, DPOINT w) {
  const DRECT r{w.x, w.y, w.x, w.y};
  DRECT3D box;
  int t = 0;
  EXPECT_TRUE(view->GetDocument()->GetActiveSet()->GetInVolCoords(view, &r, &t, &box, nullptr));
  return std::hypot(box.x0 - 32, box.y0 - 32);
}

struct TraceParmsScope {
  VA_MAGTRACE saved = g_MagTraceParms;
  TraceParmsScope() {
    g_MagTraceParms.snapRadius = 4;
    g_MagTraceParms.edge.normalization = 1;
    g_MagTraceParms.strength = 70;
    g_MagTraceParms.wholeSliceMaps = 1;
  }
  ~TraceParmsScope() { g_MagTraceParms = saved; }
};

}  // namespace

TEST_F(ViewInput, TheTraceToolSnapsClicksToTheEdgeUnlessCtrlIsHeldOrThePlaneIsTurned) {
  TraceParmsScope parms;
  CDrawDoc* doc = makeDocument({discVolume()});
  CDrawViewWidget* view = show(doc, 400, 400);
  trigger(34184);  // Start MagTrace
  ASSERT_EQ(g_CurrentTool, 11);
  // Clicks 3 voxels off the edge, inside and outside, become nodes on the circle.
  const QPoint clicks[3] = {clientOf(view, 32 + 23, 32), clientOf(view, 32, 32 + 17), clientOf(view, 32 - 23, 32)};
  for (const QPoint& p : clicks) {
    hover(view, p);
    click(view, p);
  }
  auto* spline = static_cast<CDrawPoly*>(doc->objects.back());
  ASSERT_EQ(spline->kind, DRAWOBJ_POLY);
  EXPECT_TRUE(spline->spline);
  EXPECT_EQ(spline->tension, g_MagTraceParms.tension);
  ASSERT_EQ(spline->NumPoints(), 4);  // three nodes and the rubber-band point
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(discRadius(view, spline->points[i]), 20.0, 1.0) << i;

  // Ctrl places the plain point of the click.
  const QPoint plain = clientOf(view, 32, 32 - 23);
  hover(view, plain);
  click(view, plain, Qt::LeftButton, Qt::ControlModifier);
  ASSERT_EQ(spline->NumPoints(), 5);
  EXPECT_NEAR(discRadius(view, spline->points[3]), 23.0, 1.0);

  // Esc drops the rubber-band point; the tool lets the spline go.
  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_EQ(spline->NumPoints(), 4);
  EXPECT_EQ(TW_MagtraceTool()->poly, nullptr);

  // A turned plane places plain points too.
  g_CurrentTool = 11;
  doc->SetSelection({});
  view->GetProjection()->rotation[2] = 1e-3;
  const QPoint turned = clientOf(view, 32 + 23, 32);
  click(view, turned);
  auto* other = static_cast<CDrawPoly*>(doc->objects.back());
  ASSERT_NE(other, spline);
  EXPECT_EQ(other->points[0].x, view->ClientToWorldPoint({turned.x(), turned.y()}).x);
  view->GetProjection()->rotation[2] = 0;
}

TEST_F(ViewInput, TraceCommandsResnapAlongTheNormalAndCopyOntoTheShownSlice) {
  TraceParmsScope parms;
  CDrawDoc* doc = makeDocument({discVolume()});
  CDrawViewWidget* view = show(doc, 400, 400);
  // A closed contour drawn 2 voxels outside the disc, on slice 0.
  view->GetProjection()->slice = 0;
  const double plane[3] = {0, 0, 0};
  auto* contour = new CDrawPoly(1, 16, true, 0.5, true, view->GetProjection()->slice, plane);
  contour->pointsPerContour[0] = 16;
  for (int i = 0; i < 16; ++i) {
    const double a = 2 * M_PI * i / 16;
    contour->points[i] = worldOf(view, 32 + 22 * std::cos(a), 32 + 22 * std::sin(a));
  }
  CDrawObj* add = contour;
  doc->AddObject(&add, true);
  doc->SetSelection({contour});
  trigger(35279);  // Snap selected spline to image (Normal : Alt+3)
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(discRadius(view, contour->points[i]), 20.0, 1.0) << i;

  // A contour of two polylines is refused with its message and left as it was.
  auto* twoContours = new CDrawPoly(2, 4, true, 0.5, true, view->GetProjection()->slice, plane);
  twoContours->pointsPerContour[0] = twoContours->pointsPerContour[1] = 2;
  script_.clear();
  EXPECT_FALSE(twoContours->MagTrace_Resnap(view, 0));
  EXPECT_EQ(script_.lastMessage(), L"CDrawPoly::MagTrace_Resnap : Single contour polyline is expected");
  delete twoContours;

  // Copy selected spline (Alt+5) onto the next slice: a selected copy there with the same points.
  view->GetProjection()->slice = 1;
  const int shown = 1;
  trigger(35356);
  auto* copy = static_cast<CDrawPoly*>(doc->objects.back());
  ASSERT_NE(copy, contour);
  EXPECT_EQ(copy->slice, shown);
  EXPECT_NE(contour->slice, shown);
  EXPECT_EQ(copy->NumPoints(), 16);
  EXPECT_EQ(copy->points[5].x, contour->points[5].x);
  EXPECT_EQ(doc->selection, std::vector<CDrawObj*>{copy});
  // Without a single selected polyline, and in film view: the messages, nothing copied.
  doc->SetSelection({});
  script_.clear();
  EXPECT_FALSE(view->CopyPolyContoursFromAdjacentSlice());
  EXPECT_EQ(script_.lastMessage(), L"CDrawView::CopyPolyContoursFromAdjacentSlice : Single selected polyline is required");
  view->GetProjection()->filmView = 1;
  EXPECT_FALSE(view->MagTrace_ResnapSelectedSpline(0));
  EXPECT_EQ(script_.lastMessage(), L"CDrawView::MagTrace_ResnapSelectedSpline : Film View is not allowed");
  view->GetProjection()->filmView = 0;

  // The edge overlay: a new active layer of the shown slice's edges, on the circle.
  const int layers = doc->GetActiveSet()->NumLayers();
  trigger(34194);
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), layers + 1);
  const CVol* edges = set->GetLayerVol(layers);
  EXPECT_EQ(CString(edges->name).Find(L"edge slice=1"), 0) << CString(edges->name).toUtf8();
  double onCircle = 0, total = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const double v = twk::voxelValue(edges->frame, x, y, shown, 0);
      total += v;
      if (std::fabs(std::hypot(x + 0.5 - 32, y + 0.5 - 32) - 20) <= 1.5) onCircle += v;
      EXPECT_EQ(twk::voxelValue(edges->frame, x, y, 1 - shown, 0), 0.0);
    }
  EXPECT_GT(total, 80);
  EXPECT_EQ(onCircle, total);
}

// ---------------------------------------------------------------------------------------------
// Vector ROIs in a view: per-slice rectangles and cross-section edits
// ---------------------------------------------------------------------------------------------

TEST_F(ViewInput, VectorRoisShowOnTheSlicesTheyReachAndACoronalEditKeepsTheirY) {
  CDrawDoc* doc = makeDocument({volume(FRM_INT, DIM3D{20, 16, 6, 1}, 1)});
  CDrawViewWidget* view = show(doc);
  CDrawSet* set = doc->GetActiveSet();
  const double box[6] = {2, 3, 1, 9, 13, 3};  // slices 1 and 2
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, box, 0, 0, "box"));
  auto* roi = static_cast<CDrawSet*>(doc->objects.back());
  ASSERT_TRUE(roi->IsVectorRoi());
  VA_VOLPROJ* p = view->GetProjection();
  // Axial: a rectangle on slices 1 and 2 only, where the box lies.
  for (int slice = 0; slice < 4; ++slice) {
    SCOPED_TRACE(slice);
    p->slice = slice;
    ASSERT_TRUE(doc->ProjectHighObjects(view));
    ASSERT_EQ(roi->NumEntries(), slice == 1 || slice == 2 ? 1 : 0);
    if (roi->NumEntries()) {
      const DRECT& r = static_cast<CDrawRect*>(roi->GetEntry(0))->rect;
      const DPOINT a = worldOf(view, 2, 3), b = worldOf(view, 9, 13);
      EXPECT_NEAR(std::min(r.x0, r.x1), std::min(a.x, b.x), 1e-9);
      EXPECT_NEAR(std::max(r.y0, r.y1), std::max(a.y, b.y), 1e-9);
    }
  }
  // With the vector display off, or outside the box's time range: nothing projected.
  p->slice = 1;
  view->showVector = 0;
  EXPECT_TRUE(doc->ProjectHighObjects(view));
  view->showVector = 1;
  roi->vroi->t0 = roi->vroi->t1 = 2;
  ASSERT_TRUE(doc->ProjectHighObjects(view));
  EXPECT_EQ(roi->NumEntries(), 0);
  roi->vroi->t0 = roi->vroi->t1 = 0;

  // A coronal view: the rectangle's edit changes x and z; y (the view's axis) stays.
  p->rotation[0] = 90;
  view->ZoomAll();
  p->slice = 7;  // inside the box's y range whichever way the plane runs
  ASSERT_TRUE(doc->ProjectHighObjects(view));
  ASSERT_EQ(roi->NumEntries(), 1);
  auto* shown = static_cast<CDrawRect*>(roi->GetEntry(0));
  const double y0 = roi->vroi->y0, y1 = roi->vroi->y1;
  const DRECT moved{shown->rect.x0 + 2 * view->GetDocument()->GetActiveSet()->GetBaseVol()->Vx(), shown->rect.y0,
                    shown->rect.x1, shown->rect.y1};
  const double rect[4] = {moved.x0, moved.y0, moved.x1, moved.y1};
  ASSERT_TRUE(roi->ModifyHighObjCrossectionXY(view, rect));
  EXPECT_EQ(roi->vroi->y0, y0);
  EXPECT_EQ(roi->vroi->y1, y1);
  EXPECT_NE(roi->vroi->x0 + roi->vroi->x1 + roi->vroi->z0 + roi->vroi->z1, 2.0 + 9.0 + 1.0 + 3.0);
  EXPECT_NEAR(roi->vroi->x1 - roi->vroi->x0 + roi->vroi->z1 - roi->vroi->z0, 7.0 + 2.0 - 2.0, 1e-6);
  // The projected rectangle follows the edited box.
  ASSERT_TRUE(doc->ProjectHighObjects(view));
  ASSERT_EQ(roi->NumEntries(), 1);
  const DRECT& again = static_cast<CDrawRect*>(roi->GetEntry(0))->rect;
  EXPECT_NEAR(std::min(again.x0, again.x1), std::min(moved.x0, moved.x1), 1e-9);
  EXPECT_NEAR(std::max(again.x0, again.x1), std::max(moved.x0, moved.x1), 1e-9);
  p->rotation[0] = 0;
}

TEST_F(ViewInput, MapFitCarriesAContourDownATaperingCylinderAndCancelOnTheRangeEndsIt) {
  // An integer 64 x 64 x 8 cylinder whose radius shrinks by one voxel a slice (20 at slice 0).
  CVol* vol = volume(FRM_INT, DIM3D{64, 64, 8, 1});
  auto radius = [](int z) { return 20.0 - z; };
  for (int z = 0; z < 8; ++z)
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const double r = std::hypot(x + 0.5 - 32, y + 0.5 - 32);
        twk::setVoxelValue(vol->frame, x, y, z, 0, 1000 * 0.5 * std::erfc((r - radius(z)) / std::sqrt(2.0)));
      }
  CDrawDoc* doc = makeDocument({vol});
  CDrawViewWidget* view = show(doc, 400, 400);
  view->GetProjection()->slice = 0;
  const double plane[3] = {0, 0, 0};
  auto* contour = new CDrawPoly(1, 32, false, 0, true, 0, plane);
  contour->pointsPerContour[0] = 32;
  for (int i = 0; i < 32; ++i) {
    const double a = 2 * M_PI * i / 32;
    contour->points[i] = worldOf(view, 32 + 20 * std::cos(a), 32 + 20 * std::sin(a));
  }
  CDrawObj* add = contour;
  doc->AddObject(&add, true);

  // The dialog: the smoothness is edited as a real and stored truncated; Cancel changes nothing.
  VA_MAPFITAGPARM record;
  script_.answerValues({3.0, 10.0, 7.9, 5.0});
  ASSERT_TRUE(TW_DlgMapFitAG(&record));
  EXPECT_EQ(record.smoothness, 7);
  script_.cancelValues();
  record.edgeRadius = 4;
  EXPECT_FALSE(TW_DlgMapFitAG(&record));
  EXPECT_EQ(record.edgeRadius, 4.0);

  // Cancel on the slice range ends the command: nothing is added.
  script_.clear();
  script_.answerValues({}).cancelValues();
  EXPECT_FALSE(view->MapFitMultiAgent());
  EXPECT_EQ(doc->objects.size(), 2u);
  // A range the volume does not hold is refused.
  script_.answerValues({}).answerValues({5, 2});
  EXPECT_FALSE(view->MapFitMultiAgent());
  EXPECT_EQ(script_.lastMessage(), L"CDrawView::MapFitMultiAgent : Invalid slice range");
  script_.answerValues({}).answerValues({0, 8});
  EXPECT_FALSE(view->MapFitMultiAgent());
  EXPECT_EQ(doc->objects.size(), 2u);

  // Slices 0 .. 7: one new polyline a slice, each enclosing its slice's disc within 5 %.
  script_.answerValues({}).answerValues({0, 7});
  ASSERT_TRUE(view->MapFitMultiAgent());
  ASSERT_EQ(doc->objects.size(), 2u + 8u);
  for (size_t k = 2; k < doc->objects.size(); ++k) {
    auto* poly = static_cast<CDrawPoly*>(doc->objects[k]);
    SCOPED_TRACE(poly->slice);
    EXPECT_EQ(poly->style.lineColor, contour->style.lineColor ^ 0xFFFFFF);
    double area = 0;
    const int n = poly->NumPoints();
    for (int i = 0; i < n; ++i) {
      const DPOINT& a = poly->points[i];
      const DPOINT& b = poly->points[(i + 1) % n];
      area += a.x * b.y - b.x * a.y;
    }
    // World units are voxels here (1 mm voxels).
    const double r = radius(poly->slice);
    EXPECT_NEAR(std::fabs(area) / 2, M_PI * r * r, 0.05 * M_PI * r * r);
  }
}
