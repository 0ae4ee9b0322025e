// Conventional planes of a view and the orthogonal views of a document, on volumes acquired axial,
// coronal and sagittal.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "AppOptions.h"
#include "DisplayTestKit.h"
#include "ScriptedUi.h"
#include "ViewGeometry.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"

using namespace twk::displaytest;

namespace {

const double kAxial[6] = {1, 0, 0, 0, 1, 0};
const double kCoronal[6] = {1, 0, 0, 0, 0, -1};   // DICOM 1\0\0\0\0\-1
const double kSagittal[6] = {0, 1, 0, 0, 0, -1};  // DICOM 0\1\0\0\0\-1

// A document of one 6 x 5 x 4 volume with the given orientation, its views made by the view hooks
// as the shell makes them (a window, then the initial update).
class ConventionFixture : public testing::Test {
 protected:
  void SetUp() override {
    savedConvention_ = TW_Options().projViewConvention;
    TW_VIEW_HOOKS& hooks = TW_ViewHooks();
    hooks.createView = [this](CDrawDoc* viewDoc, const RECT2D* rect) -> CDrawView* {
      rects.push_back(rect ? *rect : RECT2D{-1, -1, -1, -1});
      views_.push_back(std::make_unique<TestView>(viewDoc, 100, 100));
      views_.back()->InitialUpdate();
      return views_.back().get();
    };
    hooks.frameRect = [](CDrawView*, RECT2D* r) {
      *r = RECT2D{10, 20, 310, 220};
      return true;
    };
    hooks.showFitted = [this](CDrawView*) { ++fitted; };
    hooks.tileWindows = [this] { ++tiled; };
  }
  // A new empty document (the views of the old one go first).
  void fresh() {
    views_.clear();
    owned_ = std::make_unique<CDrawDoc>();
    doc = owned_.get();
  }
  void TearDown() override {
    TW_EditOptions().projViewConvention = savedConvention_;
    TW_VIEW_HOOKS& hooks = TW_ViewHooks();
    hooks.createView = nullptr;
    hooks.frameRect = nullptr;
    hooks.showFitted = nullptr;
    hooks.tileWindows = nullptr;
    views_.clear();
    owned_.reset();
  }

  // The document with its first view (after the initial update).
  TestView* open(const double orient[6]) {
    CVol* vol = makeVol(FRM_INT, 16, DIM3D{6, 5, 4, 1}, [](int x, int y, int z, int) { return x + y + z; });
    std::memcpy(vol->orient, orient, sizeof vol->orient);
    addSet(doc, {makeLayer(vol, 5, 10)}, DRECT{0, 0, 100, 100});
    views_.push_back(std::make_unique<TestView>(doc, 100, 100));
    views_.back()->InitialUpdate();
    return views_.back().get();
  }
  CString text(CDrawView* view) {
    CString t;
    const VA_VOLPROJ* p = view->GetProjection();
    EXPECT_NE(p, nullptr);
    if (p) {
      EXPECT_TRUE(doc->GetActiveVol()->GetProjText(p, &t));
    }
    return t;
  }
  std::multiset<CString> texts() {
    std::multiset<CString> all;
    for (CDrawView* v : doc->Views()) all.insert(text(v));
    return all;
  }
  static CString conventional(int convention, int type) { return VA_GetProjectionConventionName(convention, type); }

  std::unique_ptr<CDrawDoc> owned_ = std::make_unique<CDrawDoc>();
  CDrawDoc* doc = owned_.get();
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
  std::vector<RECT2D> rects;
  int fitted = 0, tiled = 0;

 private:
  std::vector<std::unique_ptr<TestView>> views_;
  int savedConvention_ = 1;
};

using ProjectionConvention = ConventionFixture;
using OrthogonalViews = ConventionFixture;

void setAngles(VA_VOLPROJ* p, double rx, double ry, double rz) {
  p->rotation[0] = rx;
  p->rotation[1] = ry;
  p->rotation[2] = rz;
}

}  // namespace

TEST_F(ProjectionConvention, TurnsTheViewToTheConventionalTextOfItsPlane) {
  const struct {
    const double* orient;
    double rx, ry, rz;
    int convention;
    const wchar_t* expected;
  } cases[] = {
      {kCoronal, 0, 0, 180, 1, L"COR R>L S>I"},  // upside down and mirrored
      {kCoronal, 0, 0, 0, 2, L"COR L>R S>I"},
      {kCoronal, 90, 0, 0, 1, L"AX R>L A>P"},    // the coronal volume's axial plane
      {kCoronal, 0, 90, 0, 1, L"SAG A>P S>I"},
      {kAxial, 0, 180, 0, 1, L"AX R>L A>P"},
      {kAxial, 0, 0, 0, 2, L"AX L>R A>P"},
      {kSagittal, 180, 0, 0, 1, L"SAG A>P S>I"},
      {kSagittal, 0, 90, 0, 2, L"COR L>R S>I"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.orient[1] << c.orient[5] << " " << c.rx << " " << c.ry << " " << c.rz
                                    << " convention " << c.convention);
    fresh();
    TestView* view = open(c.orient);
    VA_VOLPROJ* p = view->GetProjection();
    ASSERT_NE(p, nullptr);
    setAngles(p, c.rx, c.ry, c.rz);
    p->slice = 1;
    p->timeIndex = 0;
    const int type = doc->GetActiveVol()->GetMajorProjType(p);
    TW_EditOptions().projViewConvention = c.convention;
    view->ApplyProjectionConvention();
    EXPECT_EQ(text(view), c.expected);
    EXPECT_EQ(text(view), conventional(c.convention, type));
    EXPECT_EQ(doc->GetActiveVol()->GetMajorProjType(p), type);  // the plane stays
    EXPECT_EQ(p->view, view);
    DIM3D dims;
    ASSERT_TRUE(VA_VolProjGridDimensions(doc->GetActiveVol()->Dim(), doc->GetActiveVol()->Spc(), p, &dims));
    EXPECT_GE(p->slice, 0);
    EXPECT_LT(p->slice, dims.d);
  }
}

TEST_F(ProjectionConvention, KeepsTheSlicePlaceWhenTheTurnMirrorsTheSliceAxis) {
  // A half turn about y runs the slices the other way: slice 1 of 4 becomes slice 2.
  TestView* view = open(kAxial);
  VA_VOLPROJ* p = view->GetProjection();
  setAngles(p, 0, 180, 0);
  p->slice = 1;
  TW_EditOptions().projViewConvention = 1;
  view->ApplyProjectionConvention();
  EXPECT_EQ(text(view), L"AX R>L A>P");
  EXPECT_EQ(p->slice, 2);
}

TEST_F(ProjectionConvention, NothingChangesWithoutAConventionOrAKnownOrientation) {
  TestView* view = open(kCoronal);
  VA_VOLPROJ* p = view->GetProjection();
  setAngles(p, 0, 0, 180);
  TW_EditOptions().projViewConvention = 0;
  view->ApplyProjectionConvention();
  EXPECT_EQ(p->rotation[2], 180);
  EXPECT_EQ(text(view), L"COR L>R I>S");

  TW_EditOptions().projViewConvention = 1;
  std::memset(doc->GetActiveVol()->orient, 0, sizeof doc->GetActiveVol()->orient);
  view->ApplyProjectionConvention();
  EXPECT_EQ(p->rotation[0], 0);
  EXPECT_EQ(p->rotation[1], 0);
  EXPECT_EQ(p->rotation[2], 180);
  EXPECT_TRUE(script.messages.empty());
}

TEST_F(OrthogonalViews, OpenTheTwoMissingConventionalPlanes) {
  for (const double* orient : {kAxial, kCoronal, kSagittal})
    for (int convention : {1, 2}) {
      SCOPED_TRACE(testing::Message() << orient[1] << orient[5] << " convention " << convention);
      fresh();
      rects.clear();
      TW_EditOptions().projViewConvention = convention;
      TestView* view = open(orient);
      view->ApplyProjectionConvention();
      const int tiledBefore = tiled;
      view->OnCreateOrthogonalViews();
      ASSERT_EQ(doc->Views().size(), 3u);
      EXPECT_EQ(texts(), (std::multiset<CString>{conventional(convention, 0), conventional(convention, 1),
                                                  conventional(convention, 2)}));
      ASSERT_EQ(rects.size(), 2u);
      for (const RECT2D& r : rects) EXPECT_EQ(r.left, 10);
      EXPECT_EQ(tiled, tiledBefore + 1);
      // Each new view shows the middle slice of its plane.
      for (CDrawView* v : doc->Views()) {
        if (v == view) continue;
        const VA_VOLPROJ* p = v->GetProjection();
        DIM3D dims;
        ASSERT_TRUE(VA_VolProjGridDimensions(doc->GetActiveVol()->Dim(), doc->GetActiveVol()->Spc(), p, &dims));
        EXPECT_EQ(p->slice, dims.d / 2);
      }
      // A second run finds every plane shown.
      view->OnCreateOrthogonalViews();
      EXPECT_EQ(doc->Views().size(), 3u);
    }
  EXPECT_TRUE(script.messages.empty());
}

TEST_F(OrthogonalViews, ReportsAMissingProjectionOrVolumeAndNeedsAKnownOrientation) {
  // A view without a record: the document has no volume set.
  TestView bare(doc, 100, 100);
  bare.OnCreateOrthogonalViews();
  EXPECT_EQ(script.lastMessage(), L"CDrawView::OnCreateOrthogonalViews : Valid Projection is required");
  doc->RemoveView(&bare);

  TestView* view = open(kAxial);
  CVol* base = doc->GetActiveVol();
  FRAME* frame = base->frame;
  base->frame = nullptr;  // a set without voxels
  view->OnCreateOrthogonalViews();
  base->frame = frame;
  EXPECT_EQ(script.lastMessage(), L"CDrawView::OnCreateOrthogonalViews : Volumetric Entity is required");
  EXPECT_EQ(doc->Views().size(), 1u);
  EXPECT_EQ(script.messages.size(), 2u);

  // Unknown orientation: no views, no tiling, but the redraw.
  std::memset(base->orient, 0, sizeof base->orient);
  const int redraws = view->redraws;
  view->OnCreateOrthogonalViews();
  EXPECT_EQ(doc->Views().size(), 1u);
  EXPECT_EQ(tiled, 0);
  EXPECT_GT(view->redraws, redraws);
  EXPECT_EQ(script.messages.size(), 2u);
}

TEST_F(OrthogonalViews, NewProjectionViewCopiesTheRecordButKeepsItsOwnView) {
  TestView* view = open(kAxial);
  VA_VOLPROJ record = *view->GetProjection();
  setAngles(&record, 90, 0, 0);
  record.slice = 2;
  record.timeIndex = 0;
  record.filmView = 0;
  CDrawView* created = doc->CreateNewProjectionView(nullptr, &record);
  ASSERT_NE(created, nullptr);
  const VA_VOLPROJ* p = created->GetProjection();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->view, created);
  EXPECT_EQ(p->rotation[0], 90);
  EXPECT_EQ(p->slice, 2);
  EXPECT_EQ(fitted, 1);
  EXPECT_EQ(view->GetProjection()->rotation[0], 0);
  TW_ViewHooks().createView = nullptr;
  EXPECT_EQ(doc->CreateNewProjectionView(nullptr, &record), nullptr);
}
