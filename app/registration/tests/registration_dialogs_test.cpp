// The motion-profile panel on real widgets (offscreen): one instance in the frame's slot, the
// layers it copies, which views keep or rebuild its copies, the pointer feeding it, its text and
// its picture.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QWidget>

#include <memory>
#include <vector>

#include "CommandTable.h"
#include "DocTestKit.h"
#include "DlgMotionProfile.h"
#include "PanelSlots.h"
#include "RecordDialog.h"
#include "AppOptions.h"
#include "GeometryDialogs.h"
#include "geometry/Geometry.h"
#include "registration/TransformFiles.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "ScriptedUi.h"
#include "ViewGeometry.h"
#include "volume/VoxelAccess.h"

namespace {

using twk::testkit::CountingView;
using twk::testkit::makeLayer;
using twk::testkit::makeVol;

QApplication& app() {
  static int argc = 1;
  static char name[] = "registration_dialogs_test";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

// A real volume whose voxel (x, y, z, t) holds 1000 t + 100 x + 10 y + z + offset.
CVol* coded(int w, int h, int d, int t, double offset, const wchar_t* name) {
  CVol* vol = makeVol(FRM_REAL, w, h, d, t, name);
  for (int tt = 0; tt < t; ++tt)
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) twk::setVoxelValue(vol->frame, x, y, z, tt, 1000.0 * tt + 100.0 * x + 10.0 * y + z + offset);
  return vol;
}

// The frame's five slots, cleared when a panel is destroyed.
struct Slots {
  QWidget* panels[TW_PANEL_SLOTS] = {};
  Slots() {
    TW_SetPanelSlots({[this](int s) { return panels[s]; },
                      [this](int s, QWidget* w) {
                        panels[s] = w;
                        if (w) QObject::connect(w, &QObject::destroyed, [this, s, w] {
                          if (panels[s] == w) panels[s] = nullptr;
                        });
                      }});
  }
  ~Slots() {
    if (CDlgMotionProfile* open = TW_MotionProfileDialog()) delete open;
    TW_SetPanelSlots({});
  }
};

// A document of one set with a view.
struct Doc {
  std::unique_ptr<CDrawDoc> doc = std::make_unique<CDrawDoc>();
  std::vector<std::unique_ptr<CountingView>> views;
  explicit Doc(const std::vector<CDrawVol*>& layers) {
    twk::testkit::addSet(doc.get(), layers);
    addView();
  }
  CDrawView* addView() {
    views.push_back(std::make_unique<CountingView>());
    doc->AddView(views.back().get());
    doc->GetActiveSet()->AddViewProjection(views.back().get());
    return views.back().get();
  }
  CDrawView* view(size_t i = 0) { return views[i].get(); }
  ~Doc() {
    for (auto& v : views) doc->RemoveView(v.get());
  }
};

int rowOf(const char* path) {
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (std::string(row->group) == "Measure" && std::string(row->path) == path) return row->id;
  return -1;
}

void deleteLater() { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

TEST(MotionProfilePanel, OneInstanceInItsSlotAndTheMenuOpensNothingWhileAnotherPanelIsOpen) {
  app();
  Slots frame;
  const int row = rowOf("Motion Profile Diagram");
  ASSERT_GE(row, 0);
  ASSERT_TRUE(TW_RowAvailable(TW_FindCommandRow(row)));
  Doc d({makeLayer(coded(4, 3, 2, 3, 0, L"series"))});

  // Another floating panel open: the menu command opens nothing; after it is gone, it opens.
  auto* layers = new QWidget;
  frame.panels[2] = layers;
  TW_DispatchCommand(row, d.view());
  EXPECT_EQ(TW_MotionProfileDialog(), nullptr);
  delete layers;
  frame.panels[2] = nullptr;
  TW_DispatchCommand(row, d.view());
  CDlgMotionProfile* panel = TW_MotionProfileDialog();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(frame.panels[4], panel);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->View(), nullptr);  // no view until the first update
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(panel->AxisBox(k)->isChecked());
  EXPECT_FALSE(panel->EqualizeBox()->isChecked());

  // Opening twice keeps one window.
  EXPECT_EQ(TW_OpenDlgMotionProfile(nullptr), nullptr);
  TW_DispatchCommand(row, d.view());
  EXPECT_EQ(TW_MotionProfileDialog(), panel);

  // Closing destroys it and clears the slot; it opens again afterwards.
  panel->reject();
  deleteLater();
  EXPECT_EQ(TW_MotionProfileDialog(), nullptr);
  EXPECT_EQ(frame.panels[4], nullptr);
  ASSERT_NE(TW_OpenDlgMotionProfile(nullptr), nullptr);
  TW_CloseDlgMotionProfile(TW_MotionProfileDialog());
  deleteLater();
  EXPECT_EQ(frame.panels[4], nullptr);
}

TEST(MotionProfilePanel, TakesTheFirstTwoMarked4DLayersAndKeepsThemForViewsOfTheSameSet) {
  app();
  Slots frame;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  // Layer order: an unmarked 4D layer, a 3D layer, then three marked 4D layers.
  Doc d({makeLayer(coded(5, 4, 3, 3, 7, L"unmarked"), false), makeLayer(coded(5, 4, 3, 1, 0, L"anatomy")),
         makeLayer(coded(5, 4, 3, 3, 1, L"first")), makeLayer(coded(5, 4, 3, 3, 2, L"second")),
         makeLayer(coded(5, 4, 3, 3, 3, L"third"))});
  CDlgMotionProfile* panel = TW_OpenDlgMotionProfile(nullptr);
  ASSERT_NE(panel, nullptr);
  const uint32_t point[3] = {4, 1, 2};
  ASSERT_TRUE(panel->Update(d.view(), point));
  EXPECT_EQ(panel->View(), d.view());
  EXPECT_EQ(panel->Dims().w, 5);
  EXPECT_EQ(panel->Dims().t, 3);
  ASSERT_NE(panel->SeriesA(), nullptr);
  ASSERT_NE(panel->SeriesB(), nullptr);
  // Voxel (1, 2, 0) at time point 2 of the copies: the first and the second marked 4D layers.
  const int64_t voxel = 1 + 2 * 5 + int64_t(2) * 5 * 4 * 3;
  EXPECT_EQ(panel->SeriesA()[voxel], 2000.0 + 100 + 20 + 0 + 1);
  EXPECT_EQ(panel->SeriesB()[voxel], 2000.0 + 100 + 20 + 0 + 2);
  for (int64_t i = 0; i < 5 * 4 * 3; ++i) ASSERT_EQ(panel->Mask()[i], 0);  // no ROI operand

  // The profile: x, y and z blocks (5 + 1 + 4 + 1 + 3) and two bands of 3 rows with a gap row.
  int w = 0, h = 0;
  const double* profile = panel->Profile(&w, &h);
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(w, 14);
  EXPECT_EQ(h, 7);
  EXPECT_EQ(profile[0], 0.0 + 10 + 2 + 1);               // x = 0 through (., 1, 2), t 0, first layer
  EXPECT_EQ(panel->Info(), L"4,1,2  (min=1.300000e+01,max=2.434000e+03)");
  EXPECT_FALSE(panel->Picture().isNull());

  // Another view of the same document keeps the copies; a pointer move keeps them too.
  const double* kept = panel->SeriesA();
  CDrawView* second = d.addView();
  const uint32_t other[3] = {0, 0, 0};
  ASSERT_TRUE(panel->Update(second, other));
  EXPECT_EQ(panel->SeriesA(), kept);
  EXPECT_EQ(panel->View(), second);
  EXPECT_EQ(panel->Info(), L"0,0,0  (min=1.000000e+00,max=2.402000e+03)");

  // A view of another document rebuilds them from that document's set.
  Doc e({makeLayer(coded(3, 3, 3, 2, 5, L"other"))});
  ASSERT_TRUE(panel->Update(e.view(), nullptr));  // the point is kept
  EXPECT_EQ(panel->Dims().w, 3);
  EXPECT_EQ(panel->SeriesB(), nullptr);
  EXPECT_EQ(panel->SeriesA()[0], 5.0);

  // "Signal equalize" recomputes at once with the stored view and point; the axes take effect on
  // the next update.
  panel->AxisBox(1)->setChecked(false);
  panel->AxisBox(2)->setChecked(false);
  panel->EqualizeBox()->click();
  profile = panel->Profile(&w, &h);
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  // Row means 105 and 1105 equalized to the block mean 605.
  EXPECT_NEAR(profile[1], 105.0 * 605.0 / 105.0, 1e-9);
  EXPECT_NEAR(profile[3 + 0], 1005.0 * 605.0 / 1105.0, 1e-9);
  TW_CloseDlgMotionProfile(panel);
  deleteLater();
}

TEST(MotionProfilePanel, ThreeDLayersGiveNoProfileButTheViewIsKeptAndAnAmbiguousRoiRefuses) {
  app();
  Slots frame;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDlgMotionProfile* panel = TW_OpenDlgMotionProfile(nullptr);
  ASSERT_NE(panel, nullptr);
  Doc flat({makeLayer(coded(4, 4, 4, 1, 0, L"a")), makeLayer(coded(4, 4, 4, 1, 0, L"b"))});
  const uint32_t point[3] = {1, 1, 1};
  EXPECT_FALSE(panel->Update(flat.view(), point));
  EXPECT_EQ(panel->View(), flat.view());
  EXPECT_EQ(panel->SeriesA(), nullptr);
  EXPECT_EQ(panel->Dims().w, 0);
  EXPECT_EQ(panel->Dims().t, 0);

  // Two marked ROIs: which one masks is ambiguous.
  Doc twoRois({makeLayer(coded(4, 4, 4, 3, 0, L"s")), makeLayer(makeVol(FRM_ROI, 4, 4, 4, 1, L"r1")),
               makeLayer(makeVol(FRM_ROI, 4, 4, 4, 1, L"r2"))});
  twoRois.doc->GetActiveSet()->SetActive(0);
  EXPECT_FALSE(panel->Update(twoRois.view(), point));

  // One ROI: its voxels mask the lines, those outside are void in the profile.
  CVol* roi = makeVol(FRM_ROI, 4, 4, 4, 1, L"r");
  twk::setVoxelValue(roi->frame, 2, 1, 1, 0, 1);
  twk::setVoxelValue(roi->frame, 3, 1, 1, 0, 1);
  Doc masked({makeLayer(coded(4, 4, 4, 2, 0, L"s")), makeLayer(roi)});
  masked.doc->GetActiveSet()->SetActive(0);
  panel->AxisBox(1)->setChecked(false);
  panel->AxisBox(2)->setChecked(false);
  ASSERT_TRUE(panel->Update(masked.view(), point));
  int w = 0, h = 0;
  const double* profile = panel->Profile(&w, &h);
  ASSERT_EQ(w, 4);
  EXPECT_EQ(profile[0], VOID_VALUE);
  EXPECT_EQ(profile[2], 200.0 + 10 + 1);
  EXPECT_EQ(panel->Info(), L"1,1,1  (min=2.110000e+02,max=1.311000e+03)");

  // The pointer over a view feeds the open panel through the view's curve-panel hook.
  const RECT3D voxel{3, 1, 1, 3, 1, 1};
  TW_ViewHooks().updateCurvePanels(masked.view(), masked.doc->GetActiveSet(), &voxel);
  EXPECT_EQ(panel->Point()[0], 3u);
  EXPECT_EQ(panel->Info(), L"3,1,1  (min=2.110000e+02,max=1.311000e+03)");
  // Out of the volume (no voxel): the panel keeps what it shows.
  TW_ViewHooks().updateCurvePanels(masked.view(), masked.doc->GetActiveSet(), nullptr);
  EXPECT_EQ(panel->Point()[0], 3u);
  TW_CloseDlgMotionProfile(panel);
  deleteLater();

  // The hooks reset (as a closing shell leaves them): a panel opened afterwards is fed again,
  // once per move, after what feeds the hook meanwhile.
  int earlier = 0;
  TW_ViewHooks().updateCurvePanels = [&earlier](CDrawView*, CDrawSet*, const RECT3D*) { ++earlier; };
  panel = TW_OpenDlgMotionProfile(nullptr);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(TW_OpenDlgMotionProfile(nullptr), nullptr);
  const RECT3D other{2, 1, 1, 2, 1, 1};
  TW_ViewHooks().updateCurvePanels(masked.view(), masked.doc->GetActiveSet(), &other);
  EXPECT_EQ(earlier, 1);
  EXPECT_EQ(panel->View(), masked.view());
  EXPECT_EQ(panel->Point()[0], 2u);
  TW_CloseDlgMotionProfile(panel);
  deleteLater();
  TW_ViewHooks().updateCurvePanels = nullptr;
}

// The geometry dialogs' buttons in the real window: the quarter turns and "Save " of the
// orthogonal rotation, "Align With Scanner", "Current projection to Native".
TEST(GeometryDialogButtons, QuarterTurnsResetSaveAlignAndProjectionReachTheRecords) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  TW_InstallRecordDialog();
  const CString savedTemp = TW_Options().tempFolder;
  TW_EditOptions().tempFolder = CString::fromUtf8(twk::testing::testFolder().string());
  const DIM3D dims{6, 4, 3, 1};
  const SPC spc{1, 1.5, 2};
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    VA_ROT rot;
    rot.axis[1] = 1;
    rot.angle[1] = 90;
    // A new axis starts at 0; three forward turns and one back give 180; the second rotation is
    // changed to Y, which resets its angle; "Save " writes the shown rotation.
    script.choose(L"1st rotation axis", 3)
        .press(L"1st >90").press(L"1st >90").press(L"1st >90").press(L"1st -90<")
        .choose(L"2nd rotation axis", 2)
        .press(L"3rd >90")  // axis none: nothing turns
        .press(L"Save ")
        .ok();
    ASSERT_TRUE(TW_DlgVolRotOrtho(&rot, &dims, &spc));
    EXPECT_EQ(rot.axis[0], 3);
    EXPECT_EQ(rot.angle[0], 180);
    EXPECT_EQ(rot.axis[1], 2);
    EXPECT_EQ(rot.angle[1], 0);
    EXPECT_EQ(rot.angle[2], 0);
    ASSERT_EQ(ui.shownFiles.size(), 1u);
    VA_VTFINFO info;
    double* m = VTF_Load(ui.shownFiles[0], &info, true);
    ASSERT_TRUE(m);
    double fitted[12];
    ASSERT_TRUE(VA_FitOrthoRotation_DstToSrcMatx(true, &spc, &dims, &rot, nullptr, nullptr, fitted));
    for (int i = 0; i < 12; ++i) EXPECT_EQ(m[i], fitted[i]) << i;
    pf_free(&m);

    // "Reset" clears every axis and angle.
    script.press(L"Reset").ok();
    ASSERT_TRUE(TW_DlgVolRotOrtho(&rot, &dims, &spc));
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(rot.axis[k], 0);
      EXPECT_EQ(rot.angle[k], 0);
    }

    // "Align With Scanner" snaps the typed cosines to their dominant axes.
    double position[3] = {1, 2, 3};
    double orientation[6] = {1, 0, 0, 0, 1, 0};
    script.set(L"Row X", L"0.6").set(L"Row Y", L"-0.8").set(L"Row Z", L"0")
        .set(L"Column X", L"0.5").set(L"Column Y", L"0.5").set(L"Column Z", L"0.1")
        .press(L"Align With Scanner").ok();
    ASSERT_TRUE(TW_DlgSlicePosOrient(false, position, orientation));
    const double expected[6] = {0, -1, 0, 1, 0, 0};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(orientation[k], expected[k]) << k;

    // "Current projection to Native" copies the view's three angles.
    VA_VOLPROJ projection;
    projection.rotation[0] = 10;
    projection.rotation[1] = -20;
    projection.rotation[2] = 30.5;
    VOLROTATEPARM record;
    script.press(L"Current projection to Native").ok();
    ASSERT_TRUE(TW_DlgVolumeRotate(&projection, &record));
    EXPECT_EQ(record.angle[0], 10);
    EXPECT_EQ(record.angle[1], -20);
    EXPECT_EQ(record.angle[2], 30.5);
    EXPECT_FALSE(script.pending());
  }
  TW_EditOptions().tempFolder = savedTemp;
  TW_RemoveRecordDialog();
}

}  // namespace
