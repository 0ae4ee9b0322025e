// The parametric-map windows offscreen: the conversion settings and their enable table, the
// relaxivity lookup, the parametric-map dialog on the real plug-in, the curve window and the
// single-curve results.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppOptions.h"
#include "ConcConv.h"
#include "DicomRec.h"
#include "DlgDiduSingleCurveResult.h"
#include "DlgRoiStat4D.h"
#include "DlgViewTac.h"
#include "DocTestKit.h"
#include "DynExp.h"
#include "DynExpDialogsQt.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;

namespace {

namespace fs = std::filesystem;

QApplication& app() {
  static int argc = 1;
  static char name[] = "dynexp_dialogs_test";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

fs::path scratch(const char* name) {
  const fs::path dir = twk::testing::testFolder() / "dynexp_dialogs_test";
  fs::create_directories(dir);
  return dir / name;
}

std::string readText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

// The controls each method enables, for tissue and blood records; the listed methods.
TEST(ConcConvDialog, EnableTableAndMethodList) {
  const unsigned base = CONCCTRL_R1 | CONCCTRL_MANUAL;
  const unsigned acq = CONCCTRL_TR | CONCCTRL_FLIP;
  const unsigned water = CONCCTRL_FW | CONCCTRL_LIFETIME | CONCCTRL_RATE;
  const unsigned expected[VA_NUM_CONC_METHODS] = {0,          base,        base, base | CONCCTRL_TE, base | acq,
                                                  base | acq, base | acq | water, base, base | acq};
  for (int m = 0; m < VA_NUM_CONC_METHODS; ++m) {
    SCOPED_TRACE(m);
    EXPECT_EQ(TW_ConcConvControls(m, true, false), expected[m]);
    // Blood records add the haematocrit; "Manual" opens the baseline counts (never for method 0).
    EXPECT_EQ(TW_ConcConvControls(m, false, false), m == 0 ? 0u : expected[m] | CONCCTRL_HCT);
    EXPECT_EQ(TW_ConcConvControls(m, true, true), m == 0 ? 0u : expected[m] | CONCCTRL_BASELINE);
  }
  EXPECT_EQ(TW_ConcConvMethods(511, true), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(TW_ConcConvMethods(511, false), (std::vector<int>{0, 1, 2, 3, 4, 5, 7, 8}));
  EXPECT_EQ(TW_ConcConvMethods(388, true), (std::vector<int>{2, 7, 8}));
  EXPECT_EQ(TW_ConcConvMethods(64, false), std::vector<int>{});
}

// A record outside the mask never shows the dialog; a blood record never gets method 6; the
// headless form asks the method, then the values it enables, and refuses values out of range.
TEST(ConcConvDialog, RunnerRefusesAndEdits) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  VA_CONCCONV record;
  record.method = 4;
  EXPECT_FALSE(TW_DlgConcConv(nullptr, 5, true, &record, nullptr));
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0], CString(L"CDlgConcConv::OnInitDialog : Invalid Initial Concentration method in the dialog"));
  EXPECT_EQ(record.method, 4u);

  script.clear();
  record.method = 6;
  EXPECT_FALSE(TW_DlgConcConv(nullptr, 511, false, &record, nullptr));
  EXPECT_TRUE(script.prompts.empty());

  // Blood record: method 3 (index 3 of the list), then HCT 2 (refused), then HCT 0.45, r1 4.5, TE.
  script.clear();
  record = VA_CONCCONV{};
  record.r1 = 4.2;
  script.answerValues({3})
      .answerValues({2, 4.5, 0.03, 0})
      .answerValues({0.45, 0.03, 4.5, 0});
  ASSERT_TRUE(TW_DlgConcConv(nullptr, 511, false, &record, nullptr));
  ASSERT_EQ(script.prompts.size(), 3u);
  ASSERT_EQ(script.prompts[0][0].choices.size(), 8u);
  ASSERT_EQ(script.prompts[1].size(), 4u);  // HCT, TE, r1, Manual
  EXPECT_EQ(script.prompts[1][0].label, CString(L"HCT"));
  EXPECT_EQ(record.method, 3u);
  EXPECT_DOUBLE_EQ(record.hct, 0.45);
  EXPECT_DOUBLE_EQ(record.te, 0.03);
  EXPECT_DOUBLE_EQ(record.r1, 4.5);
}

TEST(ConcConvDialog, WindowFollowsTheTableAndWritesOnOK) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  DICOMREC header;
  header.repetitionTime = 0.0057;
  header.echoTime = 0.0021;
  header.flipAngle = 12;
  TW_CONCCONVDLG d;
  d.methods = TW_ConcConvMethods(511, false);
  d.tissue = false;
  d.dicom = &header;
  d.record.method = 0;
  d.record.averageNext = 1;
  CDlgConcConv window(&d);
  const unsigned controls[] = {CONCCTRL_HCT, CONCCTRL_FLIP, CONCCTRL_TR,   CONCCTRL_TE,      CONCCTRL_R1,
                               CONCCTRL_FW,  CONCCTRL_LIFETIME, CONCCTRL_RATE, CONCCTRL_BASELINE};
  for (int i = 0; i < window.Method()->count(); ++i) {
    window.Method()->setCurrentIndex(i);
    const int method = window.CurrentMethod();
    SCOPED_TRACE(method);
    EXPECT_EQ(method, d.methods[size_t(i)]);
    const unsigned expected = TW_ConcConvControls(method, false, false);
    for (unsigned c : controls) EXPECT_EQ(window.Edit(c)->isEnabled(), (expected & c) != 0) << c;
    EXPECT_EQ(window.Manual()->isEnabled(), method != 0);
  }
  // Method 4 ("from DICOM" fills the acquisition), manual baseline, a haematocrit out of range.
  window.Method()->setCurrentIndex(4);
  window.FromDicom()->click();
  EXPECT_EQ(window.Edit(CONCCTRL_TR)->text(), QStringLiteral("0.0057"));
  EXPECT_EQ(window.Edit(CONCCTRL_FLIP)->text(), QStringLiteral("12"));
  window.Manual()->setChecked(true);
  EXPECT_TRUE(window.Edit(CONCCTRL_BASELINE)->isEnabled());
  window.Edit(CONCCTRL_BASELINE)->setText(QStringLiteral("3"));
  window.AverageNext()->setText(QStringLiteral("4"));
  window.Edit(CONCCTRL_HCT)->setText(QStringLiteral("1.5"));
  EXPECT_FALSE(window.OnOK());
  EXPECT_EQ(script.lastMessage(), CString(L"HCT : enter a value from 0 to 1"));
  EXPECT_EQ(d.record.method, 0u);
  // "Lookup value": the relaxivity of Gadavist in human blood at 3 T.
  script.answerValues({3, 1, 0});
  window.Lookup()->click();
  EXPECT_EQ(window.Edit(CONCCTRL_R1)->text(), QStringLiteral("4.5"));
  window.Edit(CONCCTRL_HCT)->setText(QStringLiteral("0.42"));
  ASSERT_TRUE(window.OnOK());
  EXPECT_EQ(d.record.method, 4u);
  EXPECT_DOUBLE_EQ(d.record.tr, 0.0057);
  EXPECT_DOUBLE_EQ(d.record.flipAngle, 12);
  EXPECT_DOUBLE_EQ(d.record.hct, 0.42);
  EXPECT_DOUBLE_EQ(d.record.r1, 4.5);
  EXPECT_EQ(d.record.manualBaseline, 1);
  EXPECT_EQ(d.record.skipFirst, 3);
  EXPECT_EQ(d.record.averageNext, 4);
}

TEST(ConcConvDialog, RelaxivityLookupFollowsEachChoice) {
  app();
  CDlgRelaxivity window;
  EXPECT_EQ(window.Agent()->itemText(5), QStringLiteral("Dotarem\\ClariScan"));
  EXPECT_EQ(window.Field()->itemText(1), QStringLiteral(" 3T"));
  EXPECT_EQ(window.Medium()->itemText(3), QStringLiteral(" Bovine plasma"));
  EXPECT_DOUBLE_EQ(window.Value(), VA_GetContrastRelaxivity(0, 0, 0));
  window.Agent()->setCurrentIndex(2);
  window.Field()->setCurrentIndex(2);
  window.Medium()->setCurrentIndex(1);
  EXPECT_DOUBLE_EQ(window.Value(), VA_GetContrastRelaxivity(2, 1, 2));
  EXPECT_EQ(window.ValueText()->text().toStdWString(), FmtStr(L"%3.3lf  (1/(mM*s))", window.Value()).wstr());
}

namespace {

// A 4D MR volume on a time axis and the host loaded with the real plug-in.
struct PpmFixture {
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
  CDynExp host;
  CVol* vol = makeVol(FRM_REAL, 2, 2, 1, 20, L"/data/dce.nii");
  TW_PPMCALC d;

  PpmFixture() {
    app();
    for (int k = 0; k < 20; ++k) vol->dyn[k].time = vol->dyn[k].timeEnd = 3.0 * k;
    EXPECT_TRUE(host.LoadDomain(CString(KINMODELS_LIBRARY)));
    host.SetCurrentModel(8);
    const int none[DYNEXP_NUM_OUTPUTS] = {};
    host.SetParmReq(none, DYNEXP_NUM_OUTPUTS);
    d.host = &host;
    d.vol = vol;
    d.roiCount = 2;
    d.mask = 15;
  }
  ~PpmFixture() { delete vol; }
};

}  // namespace

TEST(PpmCalcDialog, ListsAndButtonsFollowTheModel) {
  PpmFixture f;
  CDlgPpmCalc window(&f.d);
  // Model 8 takes one input function: its entry carries the suffix and is selected.
  const QString entry = window.Model()->currentText();
  EXPECT_TRUE(entry.startsWith(QString::fromStdWString(f.host.GetModelName(8).wstr())));
  EXPECT_TRUE(entry.endsWith(QStringLiteral(" : 1IF")));
  EXPECT_EQ(f.host.GetCurrentModel(), 8);
  EXPECT_EQ(window.ModeButton(2)->text(), QStringLiteral("Process all ROIs voxelwise"));
  EXPECT_EQ(window.ModeButton(3)->text(), QStringLiteral("Process all ROIs as separate curves"));
  EXPECT_EQ(window.InputFunctionPanel()->title(), QStringLiteral("Input function"));
  EXPECT_TRUE(window.Button(L"Load from file")->isEnabled());
  // Outputs and hyperparameters of model 8; rows beyond them blank and disabled.
  EXPECT_EQ(window.Output(0)->text(), QStringLiteral("K-trans"));
  EXPECT_FALSE(window.Output(4)->isEnabled());
  EXPECT_EQ(window.ParameterName(0)->text(), QStringLiteral("K-trans max (1/min)"));
  EXPECT_TRUE(window.Parameter(5)->isEnabled());
  EXPECT_FALSE(window.Parameter(6)->isEnabled());
  EXPECT_TRUE(window.Parameter(6)->text().isEmpty());
  // Optimisations 3 and 4 of model 8, the current one (4) selected; both counts enabled.
  ASSERT_EQ(window.Optimization()->count(), 2);
  EXPECT_EQ(window.Optimization()->currentIndex(), 1);
  EXPECT_TRUE(window.Grid()->isEnabled());

  // A model without input functions disables their buttons and the blood conversion name.
  for (int i = 0; i < window.Model()->count(); ++i)
    if (window.Model()->itemText(i).startsWith(QStringLiteral("1. "))) window.Model()->setCurrentIndex(i);
  EXPECT_EQ(f.host.GetCurrentModel(), 1);
  for (const wchar_t* text : {L"Load from file", L"Paste", L"Delete", L"View", L"Attributes", L"Concentration"})
    EXPECT_FALSE(window.Button(text)->isEnabled()) << CString(text).toUtf8();
  EXPECT_TRUE(window.IfConcName()->text().isEmpty());
  // Method 1 has no search: grid and iterations disabled.
  EXPECT_FALSE(window.Grid()->isEnabled());
  EXPECT_FALSE(window.Iterations()->isEnabled());
}

TEST(PpmCalcDialog, ProcessingNeedsAnOutputAndStoresTheChoices) {
  PpmFixture f;
  CDlgPpmCalc window(&f.d);
  window.show();
  // Nothing ticked: the stop box, the dialog stays.
  EXPECT_FALSE(window.OnProcess(1));
  EXPECT_EQ(f.script.lastMessage(), CString(L"At least one Output parameter is required"));
  EXPECT_TRUE(window.isVisible());
  // Extrapolate needs no output (model 8 does not extrapolate: the button is disabled, but the
  // press itself is not refused for the missing output).
  EXPECT_FALSE(window.ModeButton(5)->isEnabled());

  window.Button(L"Select all")->click();
  window.Parameter(0)->setText(QStringLiteral("3.5"));
  window.FitVolume()->setChecked(true);
  window.Optimization()->setCurrentIndex(0);  // method 3
  window.Grid()->setText(QStringLiteral("7"));
  window.Iterations()->setText(QStringLiteral("900"));
  ASSERT_TRUE(window.OnProcess(2));
  EXPECT_EQ(f.d.mode, 2);
  EXPECT_TRUE(f.d.fitVolume);
  EXPECT_EQ(f.host.NumReqOutputParms(), f.host.GetNumOutParms(8));
  double parms[DYNEXP_MAX_FREE_PARMS] = {};
  f.host.GetFreeParms(8, parms);
  EXPECT_DOUBLE_EQ(parms[0], 3.5);
  int grid = 0, iterations = 0;
  EXPECT_EQ(f.host.GetCurrentOptimization(8, &grid, &iterations), 3);
  EXPECT_EQ(grid, 7);
  EXPECT_EQ(iterations, 900);

  // "Reset hyperparameters" brings back the catalogue's value.
  CDlgPpmCalc again(&f.d);
  EXPECT_FALSE(again.FitVolume()->isChecked());  // cleared at every opening
  again.Button(L"Reset hyperparameters")->click();
  EXPECT_EQ(again.Parameter(0)->text(), QStringLiteral("5"));
}

TEST(PpmCalcDialog, InputFunctionSlots) {
  PpmFixture f;
  const fs::path file = scratch("aif.txt");
  {
    std::ofstream out(file);
    out << "0 0\n3 1\n6 0.5\n";
  }
  CDlgPpmCalc window(&f.d);
  // "View" without an input function.
  window.OnView();
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDlgPpmCalc::OnBnClickedView : Input function is not present"));
  f.script.answerOpenFile(CString(file.string().c_str()));
  window.OnLoadInfunc();
  f.script.answerOpenFile(CString(file.string().c_str()));
  window.OnLoadInfunc();
  EXPECT_EQ(window.SlotName(0)->text(), QStringLiteral("aif"));
  EXPECT_EQ(window.SlotName(1)->text(), QStringLiteral("aif"));
  EXPECT_EQ(window.SlotColour(0), 0x0000FFu);
  EXPECT_EQ(window.SlotColour(1), 0xFF0000u);
  EXPECT_EQ(window.SlotColour(2), 0xFFFFFFu);
  // Deleting slot 1 selects the first slot still holding one.
  window.SelectSlot(1);
  window.OnDeleteInfunc();
  EXPECT_TRUE(window.SlotName(1)->text().isEmpty());
  EXPECT_EQ(window.SelectedSlot(), 0);
  EXPECT_EQ(f.host.NumberIfuncs(), 1);
  // A file that is not a curve.
  const fs::path bad = scratch("bad.txt");
  {
    std::ofstream out(bad);
    out << "not a curve\n";
  }
  f.script.answerOpenFile(CString(bad.string().c_str()));
  window.OnLoadInfunc();
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDlgPpmCalc::OnBnClickedLoadInfunc : Failed to load Input Function file"));
  EXPECT_EQ(f.host.NumberIfuncs(), 1);
}

// The curve window: the value labels, the time labels of clock times, the radius spin, the
// palette for many curves, the conversion kept in the caller's record, and "Save".
TEST(CurveViewer, LabelsSpinPaletteConversionAndSave) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  {
    CDlgViewTac viewer(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, true);
    const double undefined[3] = {1e60, 1e60, 1e60}, times[3] = {0, 1, 2};
    const double* curves[1] = {undefined};
    viewer.SetCurves(0, curves, 1, nullptr, times, 3);
    EXPECT_EQ(viewer.ValueMaxLabel()->text(), QStringLiteral("void"));
    EXPECT_EQ(viewer.TimeMinLabel()->text(), QStringLiteral("void"));
    EXPECT_TRUE(viewer.Scene(TW_PANE_RECT{0, 0, 99, 99}).lines.empty());
    EXPECT_TRUE(viewer.windowTitle().startsWith(QStringLiteral("Dynamic Activity Curve : ")));
    // The spin stays within 0..1000.
    viewer.OnSpin(1);
    EXPECT_EQ(viewer.Radius(), 0);
    for (int i = 0; i < 1005; ++i) viewer.OnSpin(-1);
    EXPECT_EQ(viewer.Radius(), 1000);
    EXPECT_EQ(viewer.RadiusLabel()->text(), QStringLiteral("radius 1000 voxels"));
    EXPECT_TRUE(viewer.StatusLabel()->text().isEmpty());
  }
  {
    // Three points at one time: a status text, nothing drawn, and no box however often it paints.
    CDlgViewTac viewer(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, true);
    const double values[3] = {1, 2, 3}, times[3] = {5, 5, 5};
    const double* curves[1] = {values};
    viewer.SetCurves(0, curves, 1, nullptr, times, 3);
    EXPECT_EQ(viewer.StatusLabel()->text(), QStringLiteral("Function argument axis is collapsed"));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(viewer.Scene(TW_PANE_RECT{0, 0, 99, 99}).lines.empty());
    viewer.resize(400, 300);
    viewer.grab();
    EXPECT_TRUE(script.messages.empty());
  }
  {
    // Clock times: labels 0 and 300; positive values plotted from 0; 25 curves without colours.
    CDlgViewTac viewer(nullptr, L"t", L"Signal", L"a.u.", L"Time", L"sec", nullptr, nullptr, true);
    const double times[2] = {1.7e9, 1.7e9 + 300};
    std::vector<std::vector<double>> values(25, std::vector<double>{2, 4});
    std::vector<const double*> curves;
    for (auto& v : values) curves.push_back(v.data());
    viewer.SetCurves(0, curves.data(), 25, nullptr, times, 2);
    EXPECT_EQ(viewer.TimeMinLabel()->text(), QStringLiteral("0.000000"));
    EXPECT_EQ(viewer.TimeMaxLabel()->text(), QStringLiteral("300.000000"));
    double lo = 0, hi = 0;
    ASSERT_TRUE(viewer.PlotRange(&lo, &hi));
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 4);
    ASSERT_EQ(viewer.Colours().size(), 25u);
    EXPECT_EQ(viewer.Colours()[20], viewer.Colours()[0]);
    EXPECT_EQ(viewer.Colours()[24], viewer.Colours()[4]);
  }
  {
    // Negative values lower the axis; "Concentration" edits the caller's record in place; "Save"
    // writes the first converted curve only.
    VA_CONCCONV record;
    record.averageNext = 1;
    CDlgViewTac viewer(nullptr, L"t", L"Conc", L"mM", L"Time", L"sec", &record, nullptr, true);
    const double a[4] = {10, 20, 30, -5}, b[4] = {1, 1, 1, 1}, times[4] = {0, 1, 2, 3};
    const double* curves[2] = {a, b};
    viewer.SetCurves(7, curves, 2, nullptr, times, 4);
    double lo = 0, hi = 0;
    ASSERT_TRUE(viewer.PlotRange(&lo, &hi));
    EXPECT_EQ(lo, -5);
    // Method 2 (absolute enhancement): HCT 0, r1 2, "Manual" ticked; then the baseline counts
    // (skip 0, average 1: the first point).
    script.answerValues({2}).answerValues({0, 2, 1}).answerValues({0, 2, 1, 0, 1});
    viewer.OnConcentration();
    EXPECT_EQ(record.method, 2u);
    EXPECT_TRUE(viewer.windowTitle().endsWith(QStringLiteral("Absolute enhancement")));
    EXPECT_DOUBLE_EQ(viewer.Converted()[0][2], 10.0);  // (30 - 10) / 2
    const fs::path out = scratch("saved_tac.txt");
    fs::remove(out);
    script.answerSaveFile(CString(out.string().c_str()));
    ASSERT_TRUE(viewer.OnSave());
    const std::string text = readText(out);
    EXPECT_EQ(text, "# Conc (mM)\tTime (sec)\n0\t0\n1\t5\n2\t10\n3\t-7.5\n");
  }
}

// The single-curve results: the table of a failed fit, the plot labels and a b-value axis.
TEST(SingleCurveResults, TableAndAxisLabels) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CVol* vol = makeVol(FRM_REAL, 2, 2, 1, 5, L"/data/ivim.nii");
  for (int k = 0; k < 5; ++k) {
    vol->dyn[k].time = vol->dyn[k].timeEnd = 10.0 + 2 * k;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) twk::setVoxelValue(vol->frame, x, y, 0, k, 100.0 + 10 * k);
  }
  const double fitted[6] = {100, 110, 120, 130, 140, 0};
  const double intervals[8] = {1e60, 1e60, 1e60, 0, 0.25, 0.2, 0.3, 0};
  const CString names[2] = {L"Ktrans", L"ve"}, units[2] = {L"1/min", L""};
  TW_SINGLECURVE r;
  r.vol = vol;
  r.fitted = fitted;
  r.intervals = intervals;
  r.names = names;
  r.units = units;
  r.nReq = 2;
  CDlgDiduSingleCurveResult window(r, L"report");
  ASSERT_TRUE(window.Ready());
  EXPECT_EQ(window.Curves()->itemText(0), QStringLiteral("whole volume"));
  ASSERT_EQ(window.Table()->topLevelItemCount(), 2);
  EXPECT_EQ(window.Table()->topLevelItem(0)->text(1), QStringLiteral("undefined"));
  EXPECT_TRUE(window.Table()->topLevelItem(0)->text(3).isEmpty());
  EXPECT_EQ(window.Table()->topLevelItem(1)->text(3), QStringLiteral("[ 0.200000 , 0.300000 ]"));
  EXPECT_EQ(window.Table()->topLevelItem(1)->text(4), QStringLiteral("20.000"));
  window.OffsetSignal()->setChecked(false);
  const TW_PLOT_SCENE scene = window.Scene(TW_PANE_RECT{0, 0, 199, 99});
  EXPECT_FALSE(scene.lines.empty());
  // Values from 0 (no offset) to 140; times as offsets from the first.
  EXPECT_EQ(window.YLabel(0)->text(), QStringLiteral("  0.0000"));
  EXPECT_EQ(window.YLabel(5)->text(), QStringLiteral("140.0000"));
  EXPECT_TRUE(window.XLabel(5)->text().startsWith(QStringLiteral("8.00000")));
  delete vol;
}

namespace {

// While installed, every modal window of these dialogs runs step(window) once it is shown, then is
// accepted.
struct ModalSteps {
  explicit ModalSteps(std::function<void(QWidget*)> step) {
    TW_InstallDynExpDialogs([step](const std::function<bool()>& run) {
      QTimer::singleShot(0, [step] {
        QWidget* window = QApplication::activeModalWidget();
        if (!window) return;
        step(window);
        static_cast<QDialog*>(window)->accept();
      });
      return run();
    });
  }
  ~ModalSteps() { TW_RemoveDynExpDialogs(); }
};

}  // namespace

// "Convert TAC to Concentration": an unreadable file says so; the conversion chosen in the window
// is kept in the program's record for the next run; the file reads back through the TAC reader.
TEST(CurveViewer, TacToConcentrationKeepsTheConversion) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const fs::path bad = scratch("bad_tac.txt");
  {
    std::ofstream out(bad);
    out << "0 1\n0 2\n";
  }
  script.answerOpenFile(CString(bad.string().c_str()));
  EXPECT_FALSE(TW_TacToConcentration());
  EXPECT_EQ(script.lastMessage(), CString(L"TW_TacToConcentration : Failed to load Dynamic Activity Curve"));

  const fs::path good = scratch("tac.txt");
  {
    std::ofstream out(good);
    out << "# Aorta\n0 10\n2.5 30\n5 20\n";
  }
  CString header;
  double *times = nullptr, *values = nullptr;
  int count = 0;
  ASSERT_TRUE(PR_LoadTacFile(CString(good.string().c_str()).GetString(), &header, &times, &count, &values, false));
  ASSERT_EQ(count, 3);
  EXPECT_EQ(header, CString(L"Aorta\n"));
  EXPECT_EQ(times[1], 2.5);
  EXPECT_EQ(values[2], 20);
  pf_free(&times);
  pf_free(&values);

  const uint32_t before = g_ConcConvTac.method;
  EXPECT_EQ(before, 0u);
  QString title;
  std::vector<double> converted;
  {
    ModalSteps steps([&](QWidget* window) {
      if (auto* conversion = qobject_cast<CDlgConcConv*>(window)) {
        // Relative enhancement with r1 1 on the automatic baseline (the first point).
        conversion->Method()->setCurrentIndex(1);
        conversion->Edit(CONCCTRL_R1)->setText(QStringLiteral("1"));
        conversion->OnOK();
        return;
      }
      auto* viewer = qobject_cast<CDlgViewTac*>(window);
      ASSERT_NE(viewer, nullptr);
      title = viewer->windowTitle();
      viewer->OnConcentration();
      converted = viewer->Converted()[0];
    });
    script.answerOpenFile(CString(good.string().c_str()));
    EXPECT_TRUE(TW_TacToConcentration());
  }
  EXPECT_TRUE(title.startsWith(QString::fromStdString(good.string())));
  EXPECT_EQ(g_ConcConvTac.method, 1u);
  ASSERT_EQ(converted.size(), 3u);
  EXPECT_DOUBLE_EQ(converted[1], 2.0);  // 30 / 10 - 1
  g_ConcConvTac.method = before;
}

// The voxel browser: opened as the main frame's panel, fed with the neighbourhood curve of the
// voxel under the pointer in dynamic order, and gone (pointer cleared) once closed.
TEST(CurveViewer, VoxelBrowserFollowsThePointer) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CDrawDoc doc;
  CVol* vol = makeVol(FRM_REAL, 3, 3, 1, 4, L"/data/dyn.nii");
  for (int k = 0; k < 4; ++k) {
    vol->dyn[k].time = vol->dyn[k].timeEnd = 30.0 - 10 * k;  // stored latest first
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) twk::setVoxelValue(vol->frame, x, y, 0, k, 10.0 * x + k);
  }
  CDrawSet* set = addSet(&doc, {makeLayer(vol)});
  CDlgViewTac* browser = TW_NewVoxelTacBrowser();
  ASSERT_EQ(TW_VoxelTacBrowser(), browser);
  const RECT3D voxel{2, 1, 0, 2, 1, 0};
  TW_FeedVoxelTacBrowser(nullptr, set, &voxel);
  ASSERT_EQ(browser->Converted().size(), 1u);
  EXPECT_EQ(browser->Converted()[0], (std::vector<double>{23, 22, 21, 20}));
  // A radius of 1 in 2D averages the 3 x 2 neighbours inside the image: x 1..2.
  browser->OnSpin(-1);
  TW_FeedVoxelTacBrowser(nullptr, set, &voxel);
  EXPECT_EQ(browser->Converted()[0][0], 18);
  browser->show();
  browser->reject();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(TW_VoxelTacBrowser(), nullptr);
}

// ROI statistics 4D: a conversion that cannot work shows a status text while painting, never a
// message box, and repainting does not repeat anything.
TEST(RoiStat4DWindow, InvalidConversionIsAStatusText) {
  app();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  CVol* vol = makeVol(FRM_REAL, 2, 2, 1, 6, L"/data/perf.nii");
  CVol* roi = makeVol(FRM_ROI, 2, 2, 1, 1, L"/data/r.roi");
  for (int k = 0; k < 6; ++k) {
    vol->dyn[k].time = vol->dyn[k].timeEnd = 2.0 * k;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) twk::setVoxelValue(vol->frame, x, y, 0, k, 100.0 + k);
  }
  const RECT3D all{0, 0, 0, 1, 1, 0};
  VA_VolFillBox(roi->frame, 0, &all, true, 1.0);
  TW_ROISTAT4D s;
  s.vol = vol;
  s.roi = roi->frame;
  s.roiName = L"r";
  ASSERT_TRUE(TW_RoiStat4DOpen(&s));
  CDlgRoiStat4D window(&s);
  EXPECT_FALSE(window.Scene(TW_PANE_RECT{0, 0, 99, 99}).lines.empty());
  EXPECT_EQ(window.ValueHigh()->text(), QStringLiteral("1.102500e+02"));
  s.conc.method = 4;
  s.conc.tr = 0;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(window.Scene(TW_PANE_RECT{0, 0, 99, 99}).lines.empty());
  EXPECT_EQ(window.Status()->text(), QStringLiteral("Invalid concentration conversion"));
  EXPECT_TRUE(script.messages.empty());
  EXPECT_EQ(window.ValueHigh()->text(), QStringLiteral("1.102500e+02"));  // left as it was
  // Skips that leave no point: no info, no curve.
  s.conc.method = 0;
  window.SkipStart()->setText(QStringLiteral("4"));
  window.SkipEnd()->setText(QStringLiteral("9000"));
  window.OnSkipChanged();
  EXPECT_TRUE(window.StartText()->text().isEmpty());
  EXPECT_TRUE(window.Scene(TW_PANE_RECT{0, 0, 99, 99}).lines.empty());
  delete vol;
  delete roi;
}
