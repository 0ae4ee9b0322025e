// Tests of the Qt parameter dialogs on real widgets (offscreen): the projection dialog (its steps,
// and its plane buttons against nibabel's axis codes of an oblique file), the polyline properties,
// the colour dialog and the user-interface options.

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
  const char* root = std::getenv("TWK_TEST_TMP");
  fs::path p = fs::path(root ? root : fs::temp_directory_path().string()) / "dialogs" / name;
  fs::remove_all(p);
  fs::create_directories(p);
  return p;
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
  const USEROPT saved = g_UserOpt;
  const struct {
    int convention;
    QPushButton* button;
    const char* screen;  // right, down; the normal's letter pair
    const char* normal;
  } cases[] = {{1, dialog.axial, "LP", "SI"},    {1, dialog.coronal, "LI", "AP"}, {1, dialog.sagittal, "PI", "LR"},
               {2, dialog.axial, "RP", "SI"},    {2, dialog.coronal, "RI", "AP"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.convention) + " " + c.button->text().toStdString());
    g_UserOpt.projViewConvention = c.convention;
    dialog.native->click();
    c.button->click();
    const std::string e = ends();
    EXPECT_EQ(e.substr(0, 2), c.screen);
    EXPECT_NE(std::string(c.normal).find(e[2]), std::string::npos) << e;
  }
  g_UserOpt = saved;
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
  const USEROPT saved = g_UserOpt;
  const fs::path temp = scratch("temp"), other = scratch("other");
  for (const fs::path& f : {temp / "a.tmp", temp / "b.tmp", temp / "c.tmp", other / "keep.txt"})
    std::ofstream(f) << std::string(500000, 'x');
  g_UserOpt.tempFolder = wide(temp);
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
    EXPECT_EQ(g_UserOpt.tempFolder, wide(temp));
    EXPECT_NE(ui.lastMessage().Find(L"is not usable"), -1);
    dialog.tempFolder->setText(QString::fromStdString(other.string()));
    dialog.convention->setCurrentIndex(2);
    EXPECT_TRUE(dialog.ApplyOk());
    EXPECT_EQ(g_UserOpt.tempFolder, wide(other));
    EXPECT_EQ(g_UserOpt.projViewConvention, 2);
  }
  // The background colour goes to every open document at once.
  CDrawDoc doc;
  doc.backgroundColor = 0;
  {
    CDlgUserOpt dialog;
    ui.answerValues({0, 128, 255});
    dialog.background->click();
    EXPECT_EQ(g_UserOpt.docBackgroundColor, RGB(0, 128, 255));
    EXPECT_EQ(doc.backgroundColor, RGB(0, 128, 255));
  }
  // Silent apply passes the options through the OK step unchanged.
  const USEROPT before = g_UserOpt;
  EXPECT_TRUE(TW_DlgUserOpt(true));
  EXPECT_EQ(g_UserOpt.tempFolder, before.tempFolder);
  EXPECT_EQ(g_UserOpt.projViewConvention, before.projViewConvention);
  g_UserOpt = saved;
}
