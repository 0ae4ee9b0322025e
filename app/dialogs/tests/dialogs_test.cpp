// The runners of the parameter dialogs: modal and silent runs, their checks and what reaches the
// record, method-selecting and preset runners, the Qt window driven by its dialog script, the
// paintbrush settings and the opener of the modeless panels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QWidget>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "BrushParms.h"
#include "CommandTable.h"
#include "PanelSlots.h"
#include "ParameterDialog.h"
#include "RasterPaintbrush.h"
#include "RecordDialog.h"
#include "RoiStat3DWindow.h"
#include "SegmentationDialogs.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"
#include "ScriptedUi.h"

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "dialogs_test";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

struct RECORD {
  double radius = 1.0;
  double small = 0.1;  // no exact binary form: must pass round trips unchanged
  int32_t grid = 7;
  uint8_t voxels = 1;
  int32_t shape = 1;
  CString name = L"roi";
};

// Radius in [0, 256]; grid in [1, 999] only while "Use voxels" is checked.
TW_DIALOG dialogOf(RECORD* r) {
  TW_DIALOG d(L"Test Parameters", L"CDlgTest");
  d.Real(L"Radius", &r->radius, 0, 256);
  d.Real(L"Small", &r->small);
  d.Flag(L"Use voxels", &r->voxels);
  d.Integer(L"Grid", &r->grid, 1, 999).EnabledWhen([](const TW_DIALOG_VALUES& v) { return v.Checked(L"Use voxels"); });
  d.Choice(L"Shape", &r->shape, {L"Circle", L"Sphere", L"Cylinder"});
  d.Text(L"Name", &r->name);
  return d;
}

bool same(const RECORD& a, const RECORD& b) {
  return a.radius == b.radius && a.small == b.small && a.grid == b.grid && a.voxels == b.voxels &&
         a.shape == b.shape && a.name == b.name;
}

}  // namespace

TEST(Runners, ModalRunWritesOnlyAnAcceptedOk) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  RECORD r;
  const RECORD before = r;
  // Cancel: nothing changes.
  script.cancelValues();
  EXPECT_FALSE(TW_RunDialog(dialogOf(&r)));
  EXPECT_TRUE(same(r, before));
  // A radius out of range is refused and asked again; Cancel then keeps the record.
  script.answerValues({257, 0.1, 1, 5, 2}, {L"x"}).cancelValues();
  EXPECT_FALSE(TW_RunDialog(dialogOf(&r)));
  EXPECT_TRUE(same(r, before));
  EXPECT_EQ(script.messages[script.messages.size() - 2], L"Radius : Please enter a number between 0 and 256.");
  // In range: written, flags as 0 or 1, the list by index.
  script.answerValues({256, 0.25, 1, 12, 2}, {L"lesion"});
  EXPECT_TRUE(TW_RunDialog(dialogOf(&r)));
  EXPECT_EQ(r.radius, 256);
  EXPECT_EQ(r.small, 0.25);
  EXPECT_EQ(r.grid, 12);
  EXPECT_EQ(r.shape, 2);
  EXPECT_EQ(r.name, L"lesion");
  EXPECT_FALSE(script.pendingAnswers());
  // A greyed field is neither checked nor changed.
  script.answerValues({5, 0.1, 0, 0, 0}, {L"lesion"});
  EXPECT_TRUE(TW_RunDialog(dialogOf(&r)));
  EXPECT_EQ(r.grid, 12);
  EXPECT_EQ(r.voxels, 0);
}

TEST(Runners, SilentRunPassesStoredValuesUnchangedAndRefusesBadOnes) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const struct {
    const char* what;
    double radius;
    double small;
    int32_t grid;
    bool ok;
  } cases[] = {
      {"values in range", 3.3, 0.1, 7, true},
      {"round trip of awkward doubles", 1.0 / 3.0, std::nextafter(0.1, 1.0), 999, true},
      {"the smallest normal", 1e-300, std::numeric_limits<double>::min(), 1, true},
      {"radius beyond its range", 256.5, 0.1, 7, false},
      {"grid below its range", 3, 0.1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    script.clear();
    RECORD r;
    r.radius = c.radius;
    r.small = c.small;
    r.grid = c.grid;
    const RECORD before = r;
    EXPECT_EQ(TW_RunDialog(true, dialogOf(&r)), c.ok);
    EXPECT_TRUE(same(r, before));  // bit for bit in both cases
    EXPECT_EQ(script.messages.empty(), c.ok);
  }
  // Large whole numbers in an integer field pass both modes (their shortest text has an exponent).
  {
    script.clear();
    int32_t iterations = 200000;
    TW_DIALOG d(L"Iterations", L"CDlgTest");
    d.Integer(L"Number of iterations", &iterations, 1, 10000000);
    EXPECT_TRUE(TW_RunDialog(true, d));
    script.answerValues({300000});
    EXPECT_TRUE(TW_RunDialog(false, d));
    EXPECT_EQ(iterations, 300000);
    EXPECT_EQ(script.messages, std::vector<CString>{L"Iterations"});  // the prompt's title, no refusal
    EXPECT_EQ(TW_RoundTripText(-1e14), L"-100000000000000");
    EXPECT_EQ(TW_RoundTripText(1e21), L"1e+21");
  }
  // A dialog that refuses its context: false in both modes, nothing written, no window.
  RECORD r;
  TW_DIALOG d = dialogOf(&r);
  d.onInit = [](TW_DIALOG_VALUES&) {
    twk::showNamedError(L"CDlgTest::OnInitDialog", L"Invalid seed");
    return false;
  };
  script.clear();
  EXPECT_FALSE(TW_RunDialog(true, d));
  EXPECT_FALSE(TW_RunDialog(false, d));
  EXPECT_EQ(script.messages.size(), 2u);
  EXPECT_FALSE(script.pendingAnswers());
}

TEST(Runners, UnknownMethodsAndTypesAreRefusedBeforeAnythingShows) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  int ran = 0;
  EXPECT_FALSE(TW_RunMethodDialog(L"TW_DlgBimodalHistSplit", false, L"Invalid histogram segmentation method",
                                  [&] { return ++ran > 0; }));
  EXPECT_EQ(script.lastMessage(), L"TW_DlgBimodalHistSplit : Invalid histogram segmentation method");
  EXPECT_EQ(ran, 0);
  EXPECT_TRUE(TW_RunPresetDialog(L"TW_MagtracePresetParms", true, L"Invalid application type", [&] { return ++ran > 0; }));
  EXPECT_EQ(ran, 1);
}

TEST(RecordDialog, TheWindowChecksOkGreysFieldsAndPlaysItsScript) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  TW_InstallRecordDialog();
  RECORD r;
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.set(L"Radius", L"257").ok().set(L"Radius", L"12.5").check(L"Use voxels", false).set(L"Grid", L"0").ok();
    EXPECT_TRUE(TW_RunDialog(dialogOf(&r)));
    EXPECT_EQ(r.radius, 12.5);
    EXPECT_EQ(r.voxels, 0);
    EXPECT_EQ(r.grid, 7);  // greyed: the edit refused the text, the record kept its value
    EXPECT_EQ(script.titles, std::vector<CString>{L"Test Parameters"});
    EXPECT_EQ(ui.messages, std::vector<CString>{L"Radius : Please enter a number between 0 and 256."});
    EXPECT_FALSE(script.pending());

    // Edits then Cancel keep the record; a script that runs out cancels too.
    const RECORD before = r;
    script.set(L"Radius", L"3").cancel();
    EXPECT_FALSE(TW_RunDialog(dialogOf(&r)));
    script.set(L"Name", L"x");
    EXPECT_FALSE(TW_RunDialog(dialogOf(&r)));
    EXPECT_TRUE(same(r, before));
  }
  // The greying follows the check box as it changes.
  TW_DIALOG d = dialogOf(&r);
  CRecordDialog window(d, TW_LoadDialogValues(d));
  auto* grid = window.Editor(L"Grid");
  auto* voxels = qobject_cast<QCheckBox*>(window.Editor(L"Use voxels"));
  ASSERT_TRUE(grid && voxels);
  EXPECT_FALSE(grid->isEnabled());
  voxels->setChecked(true);
  EXPECT_TRUE(grid->isEnabled());
  // A silent run creates the window and runs its OK at once.
  ui.clear();
  r.radius = 300;
  EXPECT_FALSE(TW_RunDialog(true, dialogOf(&r)));
  EXPECT_EQ(ui.messages.size(), 1u);
  r.radius = 1.0 / 7.0;
  EXPECT_TRUE(TW_RunDialog(true, dialogOf(&r)));
  EXPECT_EQ(r.radius, 1.0 / 7.0);
  TW_RemoveRecordDialog();
}

TEST(RasterPaintbrush, CancelKeepsTheSettingsAndTheRadiusStaysWithin256) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const BRUSHPARMS saved = g_BrushParms;
  EXPECT_EQ(g_BrushParms.paintSignal, 255.0);
  EXPECT_EQ(g_BrushParms.radius, 2.0);
  EXPECT_EQ(g_BrushParms.onRois, 1);
  // paint, erase, radius, shape, ROIs, integer, real, all time points, centre zoom
  ui.answerValues({100, 5, 257, 1, 1, 1, 0, 1, 0}).cancelValues();
  EXPECT_FALSE(TW_DlgRastPaintbrush());
  EXPECT_EQ(ui.messages[ui.messages.size() - 2], L"Radius (vox) : Please enter a number between 0 and 256.");
  EXPECT_EQ(g_BrushParms.radius, 2.0);
  EXPECT_EQ(g_BrushParms.paintSignal, 255.0);
  ui.answerValues({100, 5, 256, 1, 1, 1, 0, 1, 0});
  EXPECT_TRUE(TW_DlgRastPaintbrush());
  EXPECT_EQ(g_BrushParms.radius, 256.0);
  EXPECT_EQ(g_BrushParms.shape, 1);
  EXPECT_EQ(g_BrushParms.onIntegerVolumes, 1);
  EXPECT_EQ(g_BrushParms.allTimepoints, 1);
  g_BrushParms = saved;
}

TEST(PanelSlots, OneFloatingPanelAtATimeAndItsCommandClosesIt) {
  app();
  QWidget* panels[TW_PANEL_SLOTS] = {};
  TW_SetPanelSlots({[&panels](int s) { return panels[s]; },
                    [&panels](int s, QWidget* w) {
                      panels[s] = w;
                      if (w) QObject::connect(w, &QObject::destroyed, [&panels, s] { panels[s] = nullptr; });
                    }});
  int made = 0;
  auto factory = [&made](CDrawView*) -> QWidget* {
    ++made;
    return new QWidget;
  };
  EXPECT_TRUE(TW_OpenModelessDialog(1, factory, nullptr));
  ASSERT_NE(panels[1], nullptr);
  EXPECT_TRUE(panels[1]->isVisible());
  // Another panel's opener creates nothing while one is open.
  EXPECT_FALSE(TW_OpenModelessDialog(4, factory, nullptr));
  EXPECT_EQ(made, 1);
  EXPECT_EQ(panels[4], nullptr);
  // Its own opener closes it.
  EXPECT_FALSE(TW_OpenModelessDialog(1, factory, nullptr));
  EXPECT_EQ(panels[1], nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  // A panel that cannot be made leaves the slot empty.
  EXPECT_FALSE(TW_OpenModelessDialog(2, [](CDrawView*) -> QWidget* { return nullptr; }, nullptr));
  EXPECT_EQ(panels[2], nullptr);
  // A bound panel command does nothing, silently, while any slot is in use.
  QWidget other;
  panels[3] = &other;
  TW_BindPanelCommand("TW_TestPanel", 0, factory);
  TW_FindBinding("TW_TestPanel")->run(TW_COMMAND_CALL{});
  EXPECT_EQ(made, 1);
  EXPECT_EQ(panels[0], nullptr);
  panels[3] = nullptr;
  TW_FindBinding("TW_TestPanel")->run(TW_COMMAND_CALL{});
  EXPECT_EQ(made, 2);
  EXPECT_NE(panels[0], nullptr);
  delete panels[0];
  TW_UnbindOperation("TW_TestPanel");
  TW_SetPanelSlots({});
}

TEST(RoiStat3DWindow, ButtonsPlotCursorAndOkReachTheDialog) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CVol vol;
  vol.name = L"ramp";
  vol.frame = PR_FrameCreate(FRM_INT, 16, DIM3D{10, 10, 10, 1}, true);
  for (int i = 0; i < 1000; ++i) twk::setVoxelValue(vol.frame, i % 10, (i / 10) % 10, i / 100, 0, i);
  TW_InstallRoiStat3DDialog();
  bool played = false;
  TW_SetRoiStat3DWindowScript([&](CRoiStat3DWindow& w) {
    played = true;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("ROI Stats3D > [ramp]"));
    EXPECT_FALSE(w.Button("Full")->isEnabled());
    // "Number of Bins" asks and shows the new count; the range then is no longer the full one.
    script.answerValues({50});
    w.Button("Number of Bins")->click();
    EXPECT_EQ(w.Dialog().Bins(), 50);
    script.answerValuesText({L"100", L"899"});
    w.Button("Range")->click();
    EXPECT_TRUE(w.Button("Full")->isEnabled());
    // The painter draws the bars; the cursor read-out follows the mouse over the histogram.
    QWidget* area = w.HistogramArea();
    area->resize(200, 100);
    EXPECT_FALSE(area->grab().isNull());
    QMouseEvent move(QEvent::MouseMove, QPointF(0, 10), area->mapToGlobal(QPointF(0, 10)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(area, &move);
    EXPECT_TRUE(w.CursorText().startsWith(QStringLiteral("val=1.000000e+02 bin=0 count=")));
    // Otsu with two segments: the thresholds text.
    w.Button("Update")->click();
    EXPECT_TRUE(w.ThresholdsText().startsWith(QStringLiteral("threshold[0]=")));
    return true;
  });
  ROISTATPRESET preset;
  double threshold = 0;
  EXPECT_TRUE(TW_DlgRoiStat3D(&vol, 0, nullptr, CString(), 0, &preset, &threshold, false));
  EXPECT_TRUE(played);
  EXPECT_EQ(preset.rangeLow, 100.0);
  EXPECT_EQ(preset.rangeHigh, 899.0);
  EXPECT_GT(threshold, 100.0);
  EXPECT_LT(threshold, 899.0);
  TW_SetRoiStat3DWindowScript(nullptr);
  TW_RemoveRoiStat3DDialog();
}

// The workflow segmentation dialogs: the dynamic dialog's non-uniformity box follows the TAC
// conversion and its level range holds; a silent whole-breast run keeps its preset; the holder
// dialog copies in and out.
TEST(SegmentationDialogs, DynamicBreastAndHolderRecords) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const struct {
    int preset;
    uint8_t stored;
    double shown;  // the box as the dialog opens
  } cases[] = {{3, 1, 0}, {1, 0, 0}};
  for (const auto& c : cases) {
    VA_SEGMENTDYN r = TW_SegmentDynPreset(c.preset);
    r.correctNonuniformity = c.stored;
    double seen = -1;
    TW_SetDialogView([&](const TW_DIALOG&, TW_DIALOG_VALUES& v, bool) {
      seen = v.Checked(L"Correct non-uniformity ");
      return false;
    });
    EXPECT_FALSE(TW_DlgSegmentDCE(&r));
    EXPECT_EQ(seen, c.shown) << c.preset;
  }
  VA_SEGMENTDYN none = TW_SegmentDynPreset(1);
  none.tacConversion = 0;
  TW_SetDialogView([&](const TW_DIALOG&, TW_DIALOG_VALUES& v, bool) { return v.Checked(L"Correct non-uniformity "); });
  EXPECT_TRUE(TW_DlgSegmentDCE(&none));
  EXPECT_EQ(none.correctNonuniformity, 1);
  EXPECT_EQ(none.reserved, 1);
  TW_SetDialogView(nullptr);
  // Level 17, then 1, are refused; Cancel keeps the record.
  VA_SEGMENTDYN r = TW_SegmentDynPreset(2);
  script.answerValues({0, 5, 0.5, 1, 400, 17, 3, 0}).answerValues({0, 5, 0.5, 1, 400, 1, 3, 0}).cancelValues();
  EXPECT_FALSE(TW_DlgSegmentDCE(&r));
  EXPECT_EQ(r.level, 3);
  EXPECT_EQ(script.messages.size(), 5u);  // three prompts, two refusals
  EXPECT_EQ(script.messages[1], L"Level : Please enter an integer between 2 and 16.");

  VA_WHOLEBREASTMAPFIT breast = TW_WholeBreastPreset(2);
  const VA_WHOLEBREASTMAPFIT before = breast;
  EXPECT_TRUE(TW_DlgWholeBreastSeg(&breast, true));
  EXPECT_EQ(std::memcmp(&before, &breast, sizeof breast), 0);
  EXPECT_EQ(breast.ridgeMap, 1);
  EXPECT_EQ(TW_WholeBreastPreset(1).smoothness, 100);

  VA_MOUSEHOLDERSEG holder;
  script.answerValues({4, 2500, 2.5, 0, 1});
  EXPECT_TRUE(TW_DlgSegmentMouseHolder(false, &holder));
  EXPECT_EQ(holder.regions, 4);
  EXPECT_EQ(holder.lowSignalThreshold, 2500);
  EXPECT_EQ(holder.chamberSeparation, 2.5);
  EXPECT_EQ(holder.outputCroppedVolumes, 0);
  EXPECT_EQ(holder.outputAtlas, 1);
}
