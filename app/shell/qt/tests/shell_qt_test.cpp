// Start-up and shutdown, window placement, the network library, the status bar's progress sink and
// the input guard of long work.
#include <gtest/gtest.h>

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QToolBar>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "ChildFrame.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawView.h"
#include "Vol.h"
#include "DynExp.h"
#include "MainFrame.h"
#include "ProgressPump.h"
#include "ScriptedUi.h"
#include "ShellQtTestKit.h"
#include "ToggleBar.h"
#include "TwkAnnLoader.h"
#include "TwkMem.h"
#include "AppOptions.h"

namespace fs = std::filesystem;
using namespace twk::shelltest;

namespace {

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

QString windowPos(const fs::path& folder) {
  QSettings profile(QString::fromStdString((folder / "Tarnwick.ini").string()), QSettings::IniFormat);
  return profile.value(QStringLiteral("Settings/WindowPos")).toString();
}

void writeWindowPos(const fs::path& folder, const QString& value) {
  QSettings profile(QString::fromStdString((folder / "Tarnwick.ini").string()), QSettings::IniFormat);
  profile.setValue(QStringLiteral("Settings/WindowPos"), value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown
// ---------------------------------------------------------------------------------------------

TEST(StartUp, EmptyProgramFolderGetsTempFolderOptionsFileAndPlacement) {
  app();
  const fs::path folder = programFolder("startup_empty");
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  {
    CDrawApp drawApp;
    ASSERT_TRUE(startApp(drawApp, folder)) << script.lastMessage().toUtf8();
    EXPECT_TRUE(script.messages.empty()) << script.lastMessage().toUtf8();  // no network library: silent
    EXPECT_TRUE(fs::is_directory(folder / "Temp"));
    EXPECT_EQ(TW_Options().tempFolder, wide(folder / "Temp"));
    EXPECT_TRUE(drawApp.DynExp().IsLoaded());
    EXPECT_EQ(TW_TwkAnn().module, nullptr);
    // A first start opens maximised.
    EXPECT_TRUE(drawApp.MainFrame()->isMaximized());
    EXPECT_FALSE(fs::exists(folder / "TarnwickConfig.txt"));
    drawApp.MainFrame()->close();
    EXPECT_TRUE(fs::exists(folder / "TarnwickConfig.txt"));
    EXPECT_NE(readFile(folder / "TarnwickConfig.txt").find("Temp Folder:=" + (folder / "Temp").string() + "\n"),
              std::string::npos);
  }
  TW_WINDOWPLACEMENT placement;
  const QString stored = windowPos(folder);
  ASSERT_TRUE(TW_ParseWindowPlacement(CString(stored.toStdWString()), &placement)) << stored.toStdString();
  EXPECT_EQ(stored.split(QLatin1Char(':')).size(), 10);
  EXPECT_EQ(placement.showCmd, 3);
  EXPECT_TRUE(placement.flags & 2);
}

TEST(StartUp, TempFolderIsEmptiedOfFilesAtEveryStartButAConfiguredOneIsKept) {
  app();
  const fs::path folder = programFolder("startup_temp");
  fs::create_directories(folder / "Temp" / "keep");
  std::ofstream(folder / "Temp" / "old.txt") << "x";
  const fs::path configured = scratch("startup_temp_configured");
  std::ofstream(configured / "mine.txt") << "y";
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  {
    CDrawApp drawApp;
    ASSERT_TRUE(startApp(drawApp, folder));
    EXPECT_FALSE(fs::exists(folder / "Temp" / "old.txt"));
    EXPECT_TRUE(fs::is_directory(folder / "Temp" / "keep"));  // subfolders stay
  }
  // A usable configured folder is used as it is and not emptied.
  std::ofstream(folder / "TarnwickConfig.txt") << "Temp Folder:=" << configured.string() << "\n";
  {
    CDrawApp drawApp;
    ASSERT_TRUE(startApp(drawApp, folder));
    EXPECT_EQ(TW_Options().tempFolder, wide(configured));
    EXPECT_TRUE(fs::exists(configured / "mine.txt"));
  }
}

TEST(StartUp, SavedPlacementRestoresTheWindowAndNineFieldsAreIgnored) {
  app();
  const struct {
    const char* stored;
    bool maximised;
    QRect geometry;
  } cases[] = {
      {"0:1:-1:-1:-1:-1:100:100:900:700", false, QRect(100, 100, 800, 600)},
      {"0:1:-1:-1:-1:-1:100:100:900", true, QRect()},
      {"", true, QRect()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    const fs::path folder = programFolder("placement");
    writeWindowPos(folder, QString::fromLatin1(c.stored));
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    CDrawApp drawApp;
    ASSERT_TRUE(startApp(drawApp, folder));
    CMainFrame* frame = drawApp.MainFrame();
    EXPECT_EQ(frame->isMaximized(), c.maximised);
    if (!c.maximised) {
      EXPECT_EQ(frame->geometry(), c.geometry);
    }
  }
}

TEST(Placement, TextNeedsAllTenFieldsAndStoresWhatTheWindowShows) {
  const struct {
    const wchar_t* text;
    bool ok;
  } cases[] = {{L"0:1:-1:-1:-1:-1:100:100:900:700", true},
               {L"2:3:-1:-1:-1:-1:0:0:10:10", true},
               {L"0:1:-1:-1:-1:-1:100:100:900", false},
               {L"", false},
               {L"a:b", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.text).toUtf8());
    TW_WINDOWPLACEMENT p;
    EXPECT_EQ(TW_ParseWindowPlacement(c.text, &p), c.ok);
    if (c.ok) {
      EXPECT_EQ(TW_FormatWindowPlacement(p), CString(c.text));
    }
  }

  app();
  const fs::path folder = scratch("placement_states");
  QSettings profile(QString::fromStdString((folder / "Tarnwick.ini").string()), QSettings::IniFormat);
  CMainFrame frame(&profile);
  frame.setGeometry(50, 60, 400, 300);
  frame.show();
  TW_WINDOWPLACEMENT normal = frame.CurrentPlacement();
  EXPECT_EQ(normal.showCmd, 1);
  EXPECT_EQ(normal.flags, 0);
  EXPECT_EQ(QRect(normal.left, normal.top, normal.right - normal.left, normal.bottom - normal.top),
            QRect(50, 60, 400, 300));
  frame.setWindowState(Qt::WindowMinimized);
  EXPECT_EQ(frame.CurrentPlacement().showCmd, 5);  // never opens minimised
  frame.setWindowState(Qt::WindowMaximized);
  EXPECT_EQ(frame.CurrentPlacement().showCmd, 3);
  EXPECT_TRUE(frame.CurrentPlacement().flags & 2);
}

TEST(MainFrame, TilesByTheShapeOfItsClientAreaWhenAutoTileIsOn) {
  const struct {
    int w, h, command;
  } cases[] = {{1000, 600, 57652}, {600, 1000, 57651}, {700, 700, 57652}};
  for (const auto& c : cases) EXPECT_EQ(CMainFrame::TileCommandFor(c.w, c.h), c.command) << c.w << "x" << c.h;

  app();
  const fs::path folder = scratch("tiling");
  QSettings profile(QString::fromStdString((folder / "p.ini").string()), QSettings::IniFormat);
  const uint8_t saved = TW_Options().autoTile;
  TW_EditOptions().autoTile = 0;
  CMainFrame frame(&profile);
  frame.show();
  frame.resize(500, 1000);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.LastTileCommand(), 0);  // no re-tiling while the option is off
  TW_EditOptions().autoTile = 1;
  frame.resize(500, 1000);
  frame.resize(400, 1000);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.LastTileCommand(), 57651);
  frame.resize(1000, 400);
  QCoreApplication::processEvents();
  EXPECT_EQ(frame.LastTileCommand(), 57652);
  TW_EditOptions().autoTile = saved;
}

TEST(MainFrame, ToolbarStaysOnTheOptionsEdgeWhenShownAgain) {
  app();
  const fs::path folder = scratch("toolbar");
  QSettings profile(QString::fromStdString((folder / "p.ini").string()), QSettings::IniFormat);
  const int saved = TW_Options().toolbarAlign;
  const struct {
    int align;
    Qt::ToolBarArea area;
  } cases[] = {
      {0, Qt::LeftToolBarArea}, {1, Qt::TopToolBarArea}, {2, Qt::RightToolBarArea}, {3, Qt::BottomToolBarArea}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.align);
    TW_EditOptions().toolbarAlign = c.align;
    CMainFrame frame(&profile);
    frame.show();
    EXPECT_EQ(frame.toolBarArea(frame.MainToolBar()), c.area);
    EXPECT_EQ(frame.MainToolBar()->allowedAreas(), c.area);
    frame.OnShowMainToolbar();
    EXPECT_TRUE(frame.MainToolBar()->isHidden());
    EXPECT_FALSE(frame.Action(ID_VIEW_MAIN_TOOLBAR)->isChecked());
    frame.OnShowMainToolbar();
    EXPECT_FALSE(frame.MainToolBar()->isHidden());
    EXPECT_EQ(frame.toolBarArea(frame.MainToolBar()), c.area);
    EXPECT_NE(frame.LastTileCommand(), 0);  // showing or hiding re-tiles
  }
  TW_EditOptions().toolbarAlign = saved;
}

// ---------------------------------------------------------------------------------------------
// Orthogonal views
// ---------------------------------------------------------------------------------------------

namespace {

// A NIfTI-1 file of 8 x 6 x 5 16-bit voxels of 1 x 1 x 2 mm whose qform is the identity: voxel
// axes run to the patient's left-to-right, back-to-front and feet-to-head (RAS), so the native
// axial view has the patient's left on the screen's left and the back at the top.
void writeRasNifti(const fs::path& path) {
  std::vector<char> header(352, 0);
  auto put = [&](int offset, const auto& value) { std::memcpy(header.data() + offset, &value, sizeof value); };
  put(0, int32_t(348));
  const int16_t dim[8] = {3, 8, 6, 5, 1, 1, 1, 1};
  put(40, dim);
  put(70, int16_t(4));   // signed 16-bit
  put(72, int16_t(16));
  const float pixdim[8] = {1, 1, 1, 2, 1, 0, 0, 0};
  put(76, pixdim);
  put(108, float(352));  // voxel offset
  put(112, float(1));    // scale slope
  put(252, int16_t(1));  // qform: scanner anatomy
  std::memcpy(header.data() + 344, "n+1", 4);
  std::vector<int16_t> voxels(8 * 6 * 5);
  for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = int16_t(i % 97);
  std::ofstream out(path, std::ios::binary);
  out.write(header.data(), std::streamsize(header.size()));
  out.write(reinterpret_cast<const char*>(voxels.data()), std::streamsize(voxels.size() * sizeof(int16_t)));
}

std::multiset<CString> viewTexts(CDrawDoc* doc) {
  std::multiset<CString> texts;
  for (CDrawView* view : doc->Views()) {
    CString text;
    const VA_VOLPROJ* p = view->GetProjection();
    EXPECT_TRUE(p && doc->GetActiveVol()->GetProjText(p, &text));
    texts.insert(text);
  }
  return texts;
}

}  // namespace

TEST(OrthogonalViews, LayoutTwoOpensTheThreeConventionalPlanesAndTheToolbarCommandAddsThem) {
  app();
  const fs::path folder = programFolder("orthogonal_views");
  writeRasNifti(folder / "head.nii");
  const USEROPT saved = TW_Options();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  {
    CDrawApp drawApp;
    ASSERT_TRUE(startApp(drawApp, folder)) << script.lastMessage().toUtf8();
    script.messages.clear();  // start-up's own reports are not this test's
    script.messageTypes.clear();
    TW_EditOptions().verifyModality = 0;
    const struct {
      int convention;
      const wchar_t* axial;
      const wchar_t* coronal;
    } cases[] = {{1, L"AX R>L A>P", L"COR R>L S>I"}, {2, L"AX L>R A>P", L"COR L>R S>I"}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.convention);
      TW_EditOptions().imageOpenLayout = 2;
      TW_EditOptions().projViewConvention = c.convention;
      CDrawDoc* doc = drawApp.OpenDocumentFile(wide(folder / "head.nii"));
      ASSERT_NE(doc, nullptr) << script.lastMessage().toUtf8();
      EXPECT_EQ(viewTexts(doc), (std::multiset<CString>{c.axial, c.coronal, L"SAG A>P S>I"}));
      EXPECT_NE(drawApp.MainFrame()->LastTileCommand(), 0);
      drawApp.CloseDocument(doc);
    }

    // Single view, then the toolbar's command on it: the two other planes join.
    TW_EditOptions().imageOpenLayout = 1;
    TW_EditOptions().projViewConvention = 1;
    CDrawDoc* doc = drawApp.OpenDocumentFile(wide(folder / "head.nii"));
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->Views().size(), 1u);
    EXPECT_EQ(viewTexts(doc), (std::multiset<CString>{L"AX R>L A>P"}));  // the convention turned the RAS file
    QAction* command = drawApp.MainFrame()->Action(ID_VIEW_ORTHOGONAL_PROJECTIONS);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->toolTip(), QStringLiteral("Display orthogonal projections"));
    command->trigger();
    EXPECT_EQ(viewTexts(doc), (std::multiset<CString>{L"AX R>L A>P", L"COR R>L S>I", L"SAG A>P S>I"}));
    command->trigger();  // every plane is shown: nothing more opens
    EXPECT_EQ(doc->Views().size(), 3u);
    EXPECT_TRUE(script.messages.empty()) << script.lastMessage().toUtf8();
    drawApp.CloseAllDocuments(false);
    drawApp.MainFrame()->close();
  }
  TW_EditOptions() = saved;
}

// ---------------------------------------------------------------------------------------------
// The network library
// ---------------------------------------------------------------------------------------------

TEST(TwkAnn, AbsentIncompleteFailingAndCompleteLibraries) {
  app();
  const struct {
    const char* folder;  // under the test libraries; "" for a folder without the library
    std::vector<std::string> messages;
    bool loaded;
  } cases[] = {
      {"", {}, false},
      {"twkann_missing", {"Loading DLL: unable to locate TWKANN_TrainBreastYnet2D"}, false},
      {"twkann_initfail", {"TW_LoadTwkANN : Loaded but unable to initialize TwkANN library"}, false},
      {"twkann_complete", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const fs::path folder = *c.folder ? fs::path(TWK_TESTLIBS_DIR) / c.folder : scratch("twkann_absent");
    TW_SetProgramFolder(wide(folder));
    TW_TwkAnn() = TW_TWKANN{};
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    EXPECT_EQ(TW_LoadTwkANN(), c.loaded);
    std::vector<std::string> shown;
    for (const CString& m : script.messages) shown.push_back(m.toUtf8());
    EXPECT_EQ(shown, c.messages);
    EXPECT_EQ(TW_TwkAnn().module != nullptr, c.loaded);
    EXPECT_EQ(TW_TwkAnn().TrainBreastYnet2D != nullptr, c.loaded || std::string(c.folder) == "twkann_initfail");
  }
  TW_TwkAnn() = TW_TWKANN{};
}

// ---------------------------------------------------------------------------------------------
// Status bar, progress sink and the pump of long work
// ---------------------------------------------------------------------------------------------

class StatusSink : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    folder_ = scratch("status");
    profile_ = std::make_unique<QSettings>(QString::fromStdString((folder_ / "p.ini").string()), QSettings::IniFormat);
    frame_ = std::make_unique<CMainFrame>(profile_.get());
    frame_->show();
    PR_InitFrameFunctions(frame_->MessageBlock());
  }
  void TearDown() override {
    PR_SetInWorkProcess(false);
    TW_SetWaitCursor(false);
    frame_.reset();
  }
  CToggleBar* bar() const { return frame_->StatusBarCtrl(); }

  fs::path folder_;
  std::unique_ptr<QSettings> profile_;
  std::unique_ptr<CMainFrame> frame_;
};

TEST_F(StatusSink, ResetTextPercentAndEnd) {
  PR_StartMessage(L"Loading", true);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Loading"));
  EXPECT_EQ(CMainFrame::LastStatusText(), L"Loading");
  EXPECT_TRUE(TW_WaitCursorShown());
  EXPECT_FALSE(frame_->NextValueIsText());
  PR_SendMessage(50);
  EXPECT_EQ(bar()->ProgressPos(), 50);
  PR_SendMessage(100);
  PR_SendMessage(250);
  EXPECT_EQ(bar()->ProgressPos(), 50);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Loading"));

  // The colour form paints the background and leaves the position.
  PR_SendMessage(0xFFFFFFFFC00000FFull);
  EXPECT_EQ(bar()->ProgressBackground(), 0x0000FFu);
  EXPECT_EQ(bar()->ProgressPos(), 50);

  PR_EndMessage(true);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Ready"));
  EXPECT_EQ(bar()->ProgressPos(), 0);
  EXPECT_FALSE(TW_WaitCursorShown());
  PR_SendMessage(30);  // a percent after the end moves the bar again without a new text
  EXPECT_EQ(bar()->ProgressPos(), 30);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Ready"));
}

TEST_F(StatusSink, AfterAResetNoValueIsTakenForATextAddress) {
  // Values that the old protocol would have read as the address of a text: numbers only now.
  PR_SendMessage(0);
  EXPECT_TRUE(frame_->NextValueIsText());
  PR_SendMessage(0x12345678ull);
  PR_SendMessage(0x7F0000001000ull);
  PR_SendMessage(100);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Ready"));
  EXPECT_TRUE(frame_->NextValueIsText());
  // The title comes through the typed callback, right after the reset.
  PR_SendSingleMessage(L"Title", true);
  EXPECT_EQ(CMainFrame::LastStatusText(), L"Title");
  EXPECT_FALSE(frame_->NextValueIsText());
  // A status text without a reset is shown but is no title.
  PR_SendSingleMessage(L"Plain", false);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Plain"));
  EXPECT_EQ(CMainFrame::LastStatusText(), L"Title");
  // A text setter call copies the text: the caller's buffer may go right after.
  {
    std::wstring temporary = L"Temporary";
    CMainFrame::SetStatusText(temporary.c_str());
    temporary.assign(temporary.size(), L'#');
  }
  EXPECT_EQ(CMainFrame::LastStatusText(), L"Temporary");
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Temporary"));
}

TEST_F(StatusSink, EscStopsALongLoopWithinOneReportingStep) {
  const int64_t n = 1000000;  // a report every 100 steps
  const int64_t escAt = 300050;  // between two reports
  int64_t stoppedAt = -1;
  {
    twk::ProgressGuard progress(L"Long work", true);
    for (int64_t i = 0; i < n; ++i) {
      if (i == escAt)
        QCoreApplication::postEvent(frame_.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
      if (!progress.Step(i, n, 1, 98)) {
        stoppedAt = i;
        break;
      }
    }
  }
  // The next report pumps the key press, and that very step stops.
  EXPECT_EQ(stoppedAt, escAt + 50);
  EXPECT_EQ(bar()->PaneText(), QStringLiteral("Ready"));
  EXPECT_FALSE(TW_WaitCursorShown());
}

TEST_F(StatusSink, InputWaitsWhileWorkRunsAndCommandsDoNotStart) {
  QPushButton button(QStringLiteral("Remove"));
  button.resize(100, 30);
  button.show();
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&clicks] { ++clicks; });
  auto click = [&button] {
    const QPointF at(10, 10);
    QCoreApplication::postEvent(&button, new QMouseEvent(QEvent::MouseButtonPress, at, button.mapToGlobal(at),
                                                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(&button, new QMouseEvent(QEvent::MouseButtonRelease, at, button.mapToGlobal(at),
                                                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
  };
  bool exitRan = false;
  QAction* exit = frame_->Action(ID_APP_EXIT);
  ASSERT_NE(exit, nullptr);
  QObject::connect(exit, &QAction::triggered, [&exitRan] { exitRan = TW_PumpRunning(); });

  {
    twk::ProgressGuard progress(L"Work", true);
    for (int64_t i = 0; i < 1000; ++i) {
      if (i == 100) {
        click();
        QCoreApplication::postEvent(frame_.get(), new QCloseEvent);
        QMetaObject::invokeMethod(exit, "trigger", Qt::QueuedConnection);
      }
      ASSERT_TRUE(progress.Step(i, 1000, 1, 98));
    }
  }
  EXPECT_EQ(clicks, 0);
  EXPECT_TRUE(frame_->isVisible());  // neither the close event nor Exit closed the frame
  EXPECT_TRUE(exitRan);              // the action fired inside the pump, and its command did not start

  // Outside the work, input is dispatched as usual.
  click();
  QCoreApplication::processEvents();
  EXPECT_EQ(clicks, 1);
}
