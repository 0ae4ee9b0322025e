// Tests of the Qt parameter dialogs on real widgets (offscreen): the projection dialog (its steps,
// and its plane buttons against nibabel's axis codes of an oblique file), the polyline properties,
// the colour dialog, the user-interface options and the vector-ROI properties panel.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "AppOptions.h"
#include "ChooseColor.h"
#include "DisplayTestKit.h"
#include "DlgPolyline.h"
#include "DlgUserOpt.h"
#include "DlgVolProj.h"
#include "DlgVROI.h"
#include "DocHooks.h"
#include "HighObj.h"
#include "PanelSlots.h"
#include "TestFolder.h"
#include "VectorRois.h"
#include "DrawShapes.h"
#include "ScriptedUi.h"
#include "UiHelpers.h"
#include "ViewGeometry.h"
#include "io/ImageFiles.h"
#include "render/ProjectionGeometry.h"

namespace fs = std::filesystem;
using namespace twk::displaytest;

namespace {

fs::path scratch(const std::string& name) {
  return twk::testing::testFolder("dialogs/" + name);
}

CString wide(const fs::path& p) { return CString::fromUtf8(p.string()); }

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// A document with one volume set shown in a view without a window.
struct Scene {
  CDrawDoc doc;
  CDrawSet* set;
  std::unique_ptr<TestView> view;
  explicit Scene(CVol* vol) {
    guiApp();
    set = addSet(&doc, {makeLayer(vol, 100, 200)}, DRECT{0, 0, 100, 100});
    view = std::make_unique<TestView>(&doc, 300, 200);
    view->InitialUpdate();
  }
};

}  // namespace

TEST(ProjectionDialogSteps, SpinsStayWithinTheirRangesAndQuarterTurnsWrap) {
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(359.8, -1), 360);
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(360, -1), 360);
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(0.2, 1), 0);
  EXPECT_DOUBLE_EQ(TW_ProjAngleSpin(10, 1), 9.5);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(-90, false), -180);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(-180, false), 90);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(90, true), 180);
  EXPECT_DOUBLE_EQ(TW_ProjAngleQuarter(180, true), -90);
  EXPECT_NEAR(TW_ProjSlabSpin(0.05, 1), 0, 1e-12);
  EXPECT_NEAR(TW_ProjSlabSpin(1.0, -1), 1.1, 1e-12);
}

TEST(ProjectionDialog, EveryControlAppliesToTheRecordAtOnce) {
  Scene s(makeVol(FRM_INT, 16, DIM3D{8, 6, 9, 1}, [](int x, int y, int z, int) { return x + y + z; }));
  VA_VOLPROJ* p = s.view->GetProjection();
  ASSERT_NE(p, nullptr);
  CDlgVolProj dialog(s.view.get(), p);
  const int redraws = s.view->redraws;
  // "-90<" on X from 0: -90, -180, then 90 (wrapped); ">90" on Y: 90, 180, -90.
  for (double expected : {-90.0, -180.0, 90.0}) {
    dialog.minus90[0]->click();
    EXPECT_EQ(p->rotation[0], expected);
  }
  for (double expected : {90.0, 180.0, -90.0}) {
    dialog.plus90[1]->click();
    EXPECT_EQ(p->rotation[1], expected);
  }
  EXPECT_GT(s.view->redraws, redraws);
  // The spins stop at 360 and at 0.
  dialog.angle[2]->setText(QStringLiteral("359.8"));
  dialog.spinUp[2]->click();
  EXPECT_EQ(p->rotation[2], 360);
  dialog.spinUp[2]->click();
  EXPECT_EQ(p->rotation[2], 360);
  dialog.angle[2]->setText(QStringLiteral("0.3"));
  dialog.spinDown[2]->click();
  EXPECT_EQ(p->rotation[2], 0);
  // The slab is offered only off "Normal"; its spin steps by 0.1 and stops at 0.
  EXPECT_FALSE(dialog.slab->isEnabled());
  dialog.type->setCurrentIndex(1);
  EXPECT_EQ(p->projType, 1);
  EXPECT_TRUE(dialog.slab->isEnabled());
  dialog.slabUp->click();
  dialog.slabUp->click();
  EXPECT_NEAR(p->slabThickness, 0.2, 1e-12);
  for (int i = 0; i < 3; ++i) dialog.slabDown->click();
  EXPECT_EQ(p->slabThickness, 0);
  dialog.type->setCurrentIndex(0);
  EXPECT_FALSE(dialog.slab->isEnabled());
  // "Native": the volume's plane at its middle slice.
  p->slice = 0;
  dialog.native->click();
  EXPECT_TRUE(TW_IsProjUnrotated(p));
  EXPECT_EQ(p->slice, 4);
  // Cancel keeps what was applied.
  dialog.plus90[0]->click();
  dialog.reject();
  EXPECT_EQ(p->rotation[0], 90);
}

TEST(ProjectionDialog, PlaneButtonsShowTheLettersNibabelGivesAnObliqueFile) {
  // Voxel axes pointing left, inferior and anterior, turned by 15 degrees about z and 10 about x.
  const fs::path folder = scratch("oblique");
  const fs::path file = folder / "oblique.nii", script = folder / "make.py";
  std::ofstream(script) << R"(import sys, numpy as np, nibabel as nib
from nibabel.orientations import aff2axcodes
a, b = np.radians(15), np.radians(10)
rz = np.array([[np.cos(a), -np.sin(a), 0], [np.sin(a), np.cos(a), 0], [0, 0, 1]])
rx = np.array([[1, 0, 0], [0, np.cos(b), -np.sin(b)], [0, np.sin(b), np.cos(b)]])
perm = np.array([[-1, 0, 0], [0, 0, 1], [0, -1, 0]]) @ np.diag([0.9, 1.1, 2.0])
aff = np.eye(4); aff[:3, :3] = rz @ rx @ perm; aff[:3, 3] = [10, -20, 5]
nib.save(nib.Nifti1Image(np.arange(12 * 10 * 8, dtype=np.int16).reshape(12, 10, 8), aff), sys.argv[1])
print(''.join(aff2axcodes(aff)))
)";
  const std::string codes = run("/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'");
  ASSERT_EQ(codes, "LIA");
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = VA_RAW_CreateVol(wide(file), true);
  ASSERT_NE(vol, nullptr) << ui.lastMessage().toUtf8();
  Scene s(vol);
  VA_VOLPROJ* p = s.view->GetProjection();
  CDlgVolProj dialog(s.view.get(), p);
  auto opposite = [](char c) {
    const char* pairs = "LRRLAPPASIIS";
    for (int i = 0; i < 12; i += 2)
      if (pairs[i] == c) return pairs[i + 1];
    return '?';
  };
  // The patient end each screen direction points to: x to the right, y down, and the normal.
  auto ends = [&] {
    VA_PROJMAP map;
    EXPECT_TRUE(VA_VolProjMap(s.set->GetBaseVol()->Dim(), s.set->GetBaseVol()->Spc(), p, &map));
    std::string out;
    for (int k = 0; k < 3; ++k) {
      const char c = codes[size_t(map.axis[k])];
      out += map.reversed[k] ? opposite(c) : c;
    }
    return out;
  };
  const USEROPT saved = TW_Options();
  const struct {
    int convention;
    QPushButton* button;
    const char* screen;  // right, down; the normal's letter pair
    const char* normal;
  } cases[] = {{1, dialog.axial, "LP", "SI"},    {1, dialog.coronal, "LI", "AP"}, {1, dialog.sagittal, "PI", "LR"},
               {2, dialog.axial, "RP", "SI"},    {2, dialog.coronal, "RI", "AP"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.convention) + " " + c.button->text().toStdString());
    TW_EditOptions().projViewConvention = c.convention;
    dialog.native->click();
    c.button->click();
    const std::string e = ends();
    EXPECT_EQ(e.substr(0, 2), c.screen);
    EXPECT_NE(std::string(c.normal).find(e[2]), std::string::npos) << e;
  }
  TW_EditOptions() = saved;
  EXPECT_TRUE(ui.messages.empty()) << ui.lastMessage().toUtf8();
}

TEST(PolylineDialog, ChangesApplyAtOnceAndColoursWaitForTheNextChange) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  Scene s(makeVol(FRM_INT, 16, DIM3D{8, 6, 3, 1}, nullptr));
  const double plane[3] = {0, 0, 0};
  auto* poly = new CDrawPoly(1, 3, false, 0.5, false, 1, plane);
  poly->pointsPerContour[0] = 3;
  poly->points[0] = {1, 1};
  poly->points[1] = {5, 1};
  poly->points[2] = {5, 4};
  CDrawObj* obj = poly;
  s.doc.AddObject(&obj, true);
  const COLORREF line = poly->style.lineColor;
  {
    CDlgPolyline dialog(poly);
    dialog.alpha->clear();
    QTest::keyClicks(dialog.alpha, QStringLiteral("55.7"));
    EXPECT_EQ(poly->opacity, 55);
    dialog.width->clear();
    QTest::keyClicks(dialog.width, QStringLiteral("3.5"));
    EXPECT_EQ(poly->style.lineWidth, 3.5);
    ui.answerValues({10, 20, 30});
    dialog.lineColor->click();
    EXPECT_EQ(dialog.LineColorMember(), RGB(10, 20, 30));
    EXPECT_EQ(poly->style.lineColor, line);  // not yet
    dialog.reject();
  }
  EXPECT_EQ(poly->style.lineColor, line);  // Cancel: the colour never reached the object
  EXPECT_EQ(poly->style.lineWidth, 3.5);   // while the width stays applied
  EXPECT_EQ(poly->opacity, 55);
  {
    CDlgPolyline dialog(poly);
    ui.answerValues({10, 20, 30});
    dialog.lineColor->click();
    dialog.spline->setChecked(true);  // the next change carries the colour
    EXPECT_EQ(poly->style.lineColor, RGB(10, 20, 30));
    EXPECT_EQ(poly->spline, 1);
    dialog.slice->clear();
    QTest::keyClicks(dialog.slice, QStringLiteral("2"));
    EXPECT_EQ(poly->slice, 2);
    dialog.accept();
  }
  EXPECT_FALSE(ui.pendingAnswers());
}

TEST(ColourDialog, TheProgramsDialogAnswersThroughTheChooser) {
  guiApp();
  TW_InstallColorDialog();
  auto answer = [](bool accept, QColor colour, QColor* shown) {
    QTimer::singleShot(0, [=] {
      auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      *shown = dialog->currentColor();
      dialog->setCurrentColor(colour);
      if (accept) dialog->accept();
      else dialog->reject();
    });
  };
  QColor shown;
  COLORREF c = 0xFFFFFFFF;  // starts at black
  answer(true, QColor(1, 2, 3), &shown);
  EXPECT_TRUE(TW_ChooseColor(&c));
  EXPECT_EQ(shown, QColor(0, 0, 0));
  EXPECT_EQ(c, RGB(1, 2, 3));
  answer(false, QColor(200, 100, 50), &shown);
  EXPECT_FALSE(TW_ChooseColor(&c));
  EXPECT_EQ(shown, QColor(1, 2, 3));
  EXPECT_EQ(c, RGB(1, 2, 3));
  TW_SetColorChooserView(nullptr);
}

TEST(OptionsDialog, ClearEmptiesOnlyTheTemporaryFolderInForceAndOkRefusesAnUnusableOne) {
  guiApp();
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const USEROPT saved = TW_Options();
  const fs::path temp = scratch("temp"), other = scratch("other");
  for (const fs::path& f : {temp / "a.tmp", temp / "b.tmp", temp / "c.tmp", other / "keep.txt"})
    std::ofstream(f) << std::string(500000, 'x');
  TW_EditOptions().tempFolder = wide(temp);
  {
    CDlgUserOpt dialog;
    EXPECT_EQ(dialog.tempSize->text(), QStringLiteral("Temp folder (     1.5 MB)"));
    // A folder typed in the edit is not the one in force: refused.
    dialog.tempFolder->setText(QString::fromStdString(other.string()));
    dialog.clear->click();
    EXPECT_TRUE(fs::exists(other / "keep.txt"));
    EXPECT_NE(ui.lastMessage().Find(L"Only the temporary folder in force can be cleared"), -1);
    // The folder in force, after a question naming it and its files.
    dialog.tempFolder->setText(QString::fromStdString(temp.string()));
    ui.answerMessage(IDYES);
    dialog.clear->click();
    EXPECT_NE(ui.lastMessage().Find(L"Clear Temporary Folder?"), -1);
    EXPECT_NE(ui.lastMessage().Find(wide(temp)), -1);
    EXPECT_NE(ui.lastMessage().Find(L"3 files"), -1);
    EXPECT_TRUE(fs::is_empty(temp));
    EXPECT_EQ(dialog.tempSize->text(), QStringLiteral("Temp folder (     0.0 MB)"));
    // OK with a folder that cannot be used keeps the option and the dialog.
    dialog.tempFolder->setText(QString::fromStdString((temp / "missing" / "deeper").string()));
    EXPECT_FALSE(dialog.ApplyOk());
    EXPECT_EQ(TW_Options().tempFolder, wide(temp));
    EXPECT_NE(ui.lastMessage().Find(L"is not usable"), -1);
    dialog.tempFolder->setText(QString::fromStdString(other.string()));
    dialog.convention->setCurrentIndex(2);
    EXPECT_TRUE(dialog.ApplyOk());
    EXPECT_EQ(TW_Options().tempFolder, wide(other));
    EXPECT_EQ(TW_Options().projViewConvention, 2);
  }
  // The background colour goes to every open document at once.
  CDrawDoc doc;
  doc.backgroundColor = 0;
  {
    CDlgUserOpt dialog;
    ui.answerValues({0, 128, 255});
    dialog.background->click();
    EXPECT_EQ(TW_Options().docBackgroundColor, RGB(0, 128, 255));
    EXPECT_EQ(doc.backgroundColor, RGB(0, 128, 255));
  }
  // Silent apply passes the options through the OK step unchanged.
  const USEROPT before = TW_Options();
  EXPECT_TRUE(TW_DlgUserOpt(true));
  EXPECT_EQ(TW_Options().tempFolder, before.tempFolder);
  EXPECT_EQ(TW_Options().projViewConvention, before.projViewConvention);
  TW_EditOptions() = saved;
}

namespace {

// A 4D document (21 x 10 x 5 voxels of 0.5 x 0.5 x 2 mm, 3 time points) with two vector ROIs and the
// main frame's five panel panels.
struct VroiScene {
  QWidget* panels[TW_PANEL_SLOTS] = {};
  std::unique_ptr<Scene> scene;
  CDrawSet* a = nullptr;
  CDrawSet* b = nullptr;
  VroiScene() {
    CVol* vol = makeVol(FRM_INT, 16, DIM3D{21, 10, 5, 3}, nullptr);
    *vol->Spc() = SPC{0.5, 0.5, 2.0};
    scene = std::make_unique<Scene>(vol);
    TW_SetPanelSlots({[this](int s) { return panels[s]; }, [this](int s, QWidget* p) { panels[s] = p; }});
    TW_InstallVectorRoiPanel();
    TW_DocumentHooks().floatingPanelsOpen = [] { return TW_AnyPanelSlotInUse(); };
    const double boxA[6] = {2, 3, 1, 8, 7, 3}, boxB[6] = {10, 0, 0, 12, 4, 5};
    EXPECT_TRUE(TW_CreateVectRoiFromLabel(scene->set, boxA, 0, 1, "A"));
    a = static_cast<CDrawSet*>(scene->doc.objects.back());
    EXPECT_TRUE(TW_CreateVectRoiFromLabel(scene->set, boxB, 2, 2, "B"));
    b = static_cast<CDrawSet*>(scene->doc.objects.back());
  }
  ~VroiScene() {
    delete panels[3];
    TW_RemoveVectorRoiPanel();
    TW_DocumentHooks().floatingPanelsOpen = nullptr;
    TW_SetPanelSlots({});
  }
  CDlgVROI* panel() const { return qobject_cast<CDlgVROI*>(panels[3]); }
};

void commit(QLineEdit* edit, const QString& text) {
  edit->setText(text);
  emit edit->editingFinished();
}

}  // namespace

TEST(VectorRoiPanel, OpensOnceFollowsTheSelectionAndRunsModallyBesideAnotherPanel) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VroiScene s;
  s.scene->doc.SetSelection({s.a});
  s.a->OnEditProperties(s.scene->view.get());
  CDlgVROI* panel = s.panel();
  ASSERT_NE(panel, nullptr);
  EXPECT_FALSE(panel->Modal());
  EXPECT_EQ(panel->windowTitle(), QStringLiteral("Vector ROI Properties"));
  EXPECT_EQ(panel->nameEdit->text(), QStringLiteral("A"));
  EXPECT_EQ(panel->coordEdit[1]->text(), QStringLiteral("8"));
  EXPECT_EQ(panel->startEdit->text(), QStringLiteral("1"));
  EXPECT_EQ(panel->endEdit->text(), QStringLiteral("2"));
  EXPECT_DOUBLE_EQ(panel->centreX, 5);

  // Another properties request opens no second panel; selecting B rebinds the open one.
  s.b->OnEditProperties(s.scene->view.get());
  EXPECT_EQ(s.panel(), panel);
  EXPECT_EQ(panel->Object(), s.a);
  s.scene->doc.SetSelection({s.b});
  EXPECT_EQ(panel->Object(), s.b);
  EXPECT_EQ(panel->nameEdit->text(), QStringLiteral("B"));
  EXPECT_TRUE(panel->undoButton->isEnabled());

  // Two objects, a volume set or nothing selected: bound to none, zeros, controls disabled.
  for (const std::vector<CDrawObj*>& chosen :
       {std::vector<CDrawObj*>{s.a, s.b}, std::vector<CDrawObj*>{s.scene->set}, std::vector<CDrawObj*>{}}) {
    s.scene->doc.SetSelection({s.b});
    s.scene->doc.SetSelection(chosen);
    EXPECT_EQ(panel->Object(), nullptr);
    EXPECT_EQ(panel->nameEdit->text(), QStringLiteral("none selected"));
    EXPECT_EQ(panel->coordEdit[1]->text(), QStringLiteral("0"));
    EXPECT_EQ(panel->endEdit->text(), QStringLiteral("0"));
    EXPECT_FALSE(panel->undoButton->isEnabled());
    EXPECT_FALSE(panel->coordEdit[0]->isEnabled());
  }
  // Unbound, the controls change nothing.
  const HIGHOBJ before = *s.a->vroi;
  panel->OnFullVolume();
  EXPECT_EQ(std::memcmp(&before, s.a->vroi, sizeof before), 0);

  // Cancel closes the panel and clears the frame's slot.
  panel->reject();
  EXPECT_EQ(s.panels[3], nullptr);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  // With another of the frame's panels open the properties run modally, outside the slot.
  QWidget other;
  s.panels[0] = &other;
  bool ran = false;
  TW_SetDlgVROIModalScript([&](CDlgVROI& modal) {
    ran = true;
    EXPECT_TRUE(modal.Modal());
    EXPECT_EQ(modal.Object(), s.b);
    commit(modal.nameEdit, QStringLiteral("renamed"));
  });
  s.b->OnEditProperties(s.scene->view.get());
  TW_SetDlgVROIModalScript(nullptr);
  s.panels[0] = nullptr;
  EXPECT_TRUE(ran);
  EXPECT_EQ(s.panels[3], nullptr);
  EXPECT_STREQ(s.b->vroi->label, "renamed");
}

TEST(VectorRoiPanel, ControlsEditTheBoxTimesAndColourAndUndoReturnsToTheBinding) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VroiScene s;
  CDlgVROI* panel = TW_OpenDlgVROI(s.a, false);
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(TW_OpenDlgVROI(s.b, false), nullptr);  // one panel at a time
  HIGHOBJ& h = *s.a->vroi;

  // Times are clamped into 1 .. T.
  commit(panel->startEdit, QStringLiteral("0"));
  commit(panel->endEdit, QStringLiteral("9"));
  EXPECT_EQ(h.t0, 0);
  EXPECT_EQ(h.t1, 2);
  EXPECT_EQ(panel->endEdit->text(), QStringLiteral("3"));

  // Millimetres show the spacing-scaled box; the record does not change with the unit.
  panel->unitCombo->setCurrentIndex(1);
  panel->OnUnit();
  EXPECT_EQ(panel->coordEdit[0]->text(), QStringLiteral("1"));    // x0 2 * 0.5
  EXPECT_EQ(panel->coordEdit[5]->text(), QStringLiteral("6"));    // z1 3 * 2
  EXPECT_EQ(panel->sizeEdit[2]->text(), QStringLiteral("4"));     // depth 2 slices of 2 mm
  EXPECT_DOUBLE_EQ(h.x0, 2);
  // A width in mm keeps the centre: 5 mm = 10 voxels about x = 5.
  commit(panel->sizeEdit[0], QStringLiteral("5"));
  EXPECT_DOUBLE_EQ(h.x0, 0);
  EXPECT_DOUBLE_EQ(h.x1, 10);
  // A centre in mm keeps the half extent: z centre 4 mm = slice 2, half extent 1.
  commit(panel->centreEdit[2], QStringLiteral("4"));
  EXPECT_DOUBLE_EQ(h.z0, 1);
  EXPECT_DOUBLE_EQ(h.z1, 3);
  panel->unitCombo->setCurrentIndex(0);
  panel->OnUnit();
  EXPECT_EQ(panel->coordEdit[1]->text(), QStringLiteral("10"));
  // A coordinate outside its range keeps the shown value.
  commit(panel->coordEdit[2], QStringLiteral("-4"));
  EXPECT_DOUBLE_EQ(h.y0, 3);
  commit(panel->coordEdit[2], QStringLiteral("4"));
  EXPECT_DOUBLE_EQ(h.y0, 4);

  // "Center": the centre at (21 / 2, 10 / 2, 5 / 2) in integer halves, extents kept.
  panel->OnCenter();
  EXPECT_DOUBLE_EQ(h.x0, 5);
  EXPECT_DOUBLE_EQ(h.x1, 15);
  EXPECT_DOUBLE_EQ(h.y0, 3.5);
  EXPECT_DOUBLE_EQ(h.z0, 1);

  // "Scale Dimensions": a factor of 2 about the centre, clamped to the volume; 0, -1 or Cancel: nothing.
  ui.answerValues({2.0});
  panel->OnScaleDimensions();
  EXPECT_DOUBLE_EQ(h.x0, 0);
  EXPECT_DOUBLE_EQ(h.x1, 20);
  EXPECT_DOUBLE_EQ(h.y0, 2);
  EXPECT_DOUBLE_EQ(h.y1, 8);
  EXPECT_DOUBLE_EQ(h.z1, 4);
  const HIGHOBJ scaled = h;
  ui.answerValues({0.0});
  panel->OnScaleDimensions();
  ui.answerValues({-1.0});
  panel->OnScaleDimensions();
  ui.cancelValues();
  panel->OnScaleDimensions();
  EXPECT_EQ(std::memcmp(&scaled, &h, sizeof h), 0);

  // A name over 127 bytes is cut; the colour goes to fill and line.
  commit(panel->nameEdit, QString(300, QLatin1Char('n')));
  EXPECT_EQ(std::strlen(h.label), 127u);
  ui.answerValues({10, 20, 30});
  panel->OnColour();
  EXPECT_EQ(s.a->style.fillColor, RGB(10, 20, 30));
  EXPECT_EQ(s.a->style.lineColor, RGB(10, 20, 30));

  // "Full Volume" and "All Timepoints".
  commit(panel->endEdit, QStringLiteral("1"));
  panel->OnFullVolume();
  panel->OnAllTimepoints();
  EXPECT_DOUBLE_EQ(h.x1, 21);
  EXPECT_DOUBLE_EQ(h.y1, 10);
  EXPECT_DOUBLE_EQ(h.z1, 5);
  EXPECT_EQ(h.t0, 0);
  EXPECT_EQ(h.t1, 2);

  // While the box is dragged the fields follow it; Undo still returns to the state at binding.
  h.x0 = 7;
  s.scene->doc.RefreshVectorRoiPanel();
  EXPECT_EQ(panel->coordEdit[0]->text(), QStringLiteral("7"));
  panel->OnUndo();
  EXPECT_DOUBLE_EQ(h.x0, 2);
  EXPECT_DOUBLE_EQ(h.x1, 8);
  EXPECT_EQ(h.t1, 1);
  EXPECT_STREQ(h.label, "A");
  EXPECT_EQ(panel->nameEdit->text(), QStringLiteral("A"));
  EXPECT_FALSE(ui.pendingAnswers());

  // The unit in use when the panel closes is that of the next panel.
  panel->unitCombo->setCurrentIndex(1);
  panel->OnUnit();
  panel->accept();
  EXPECT_EQ(s.panels[3], nullptr);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  CDlgVROI* next = TW_OpenDlgVROI(s.b, false);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->unit, 1);
  EXPECT_EQ(next->coordEdit[5]->text(), QStringLiteral("10"));  // z1 5 * 2 mm
  next->unitCombo->setCurrentIndex(0);
  next->OnUnit();
}

TEST(VectorRoiPanel, ABoxThatMissesTheVolumeStaysAndIsNotScaledBackIntoIt) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VroiScene s;
  HIGHOBJ& h = *s.b->vroi;
  h.x0 = 30;
  h.x1 = 40;
  CDlgVROI* panel = TW_OpenDlgVROI(s.b, false);
  ASSERT_NE(panel, nullptr);
  EXPECT_DOUBLE_EQ(h.x0, 30);  // no overlap: not clipped
  ui.answerValues({0.5});
  panel->OnScaleDimensions();
  EXPECT_DOUBLE_EQ(h.x0, 30);
  EXPECT_DOUBLE_EQ(h.x1, 40);
  // A box that overlaps is clipped to the volume when shown.
  commit(panel->coordEdit[0], QStringLiteral("15"));
  EXPECT_DOUBLE_EQ(h.x0, 15);
  EXPECT_DOUBLE_EQ(h.x1, 21);
}
