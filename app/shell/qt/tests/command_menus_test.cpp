// The menus built from the command table in the real main frame: a document window shows the
// document menus, where every row stands at its path, enabled exactly when it is available and
// firing its operation with its arguments; the accelerators and toolbar buttons fire their rows;
// without a document window the frame's menus stand.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

#include <map>
#include <set>
#include <string>

#include "CommandTable.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "MainFrame.h"
#include "ProgressPump.h"
#include "ScriptedUi.h"
#include "ShellQtTestKit.h"
#include "TwkMem.h"

namespace fs = std::filesystem;
using namespace twk::shelltest;

namespace {

QString shown(const QString& text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) out += text[i];
    else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) out += text[++i];
  }
  return out;
}

// The action at a " > " path of the menu bar, or null.
QAction* actionAt(QMenuBar* bar, const std::string& path) {
  const QStringList parts = QString::fromUtf8(path.c_str()).split(QStringLiteral(" > "));
  QList<QAction*> actions = bar->actions();
  QAction* found = nullptr;
  for (qsizetype level = 0; level < parts.size(); ++level) {
    found = nullptr;
    for (QAction* a : actions)
      if (!a->isSeparator() && shown(a->text()) == parts[level]) found = a;
    if (!found) return nullptr;
    if (level + 1 < parts.size()) {
      if (!found->menu()) return nullptr;
      actions = found->menu()->actions();
    }
  }
  return found;
}

struct RECORDED {
  int id;
  std::string operation;
  std::string arguments;
};

// Binds a recording stand-in to every operation that has no binding and registers a stand-in for
// every missing preset, so that every row is available; restores the table when it goes.
class EverythingBound {
 public:
  EverythingBound() {
    for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
      if (*row->operation && !TW_OperationBound(row->operation) && standIns_.insert(row->operation).second)
        TW_BindOperation(row->operation, [](const TW_COMMAND_CALL&) {});
      for (const TW_COMMAND_ARG& a : TW_RowArguments(row))
        if (a.kind == TW_COMMAND_ARG::Kind::Record && !TW_RowAvailable(row) && presets_.insert(a.text).second)
          TW_RegisterPreset(a.text.c_str(), &dummy_);
    }
  }
  ~EverythingBound() {
    for (const std::string& op : standIns_) TW_UnbindOperation(op.c_str());
    for (const std::string& name : presets_) TW_RegisterPresetAddress(name.c_str(), nullptr, typeid(int));
  }

 private:
  std::set<std::string> standIns_;
  std::set<std::string> presets_;
  int dummy_ = 0;
};

class CommandMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    folder_ = programFolder("command_menus");
    installed_ = std::make_unique<twk::ScopedUi>(script_);
    ASSERT_TRUE(startApp(drawApp_, folder_)) << script_.lastMessage().toUtf8();
    frame_ = drawApp_.MainFrame();
    frame_->show();
    script_.clear();
  }
  void TearDown() override {
    TW_SetCommandRecorder(nullptr);
    drawApp_.CloseAllDocuments(false);
    frame_->close();
  }
  // A document window with a 4D integer layer.
  CDrawDoc* openDocument() {
    auto* doc = new CDrawDoc;
    doc->SetTitle(L"menus");
    addSet(doc, {makeLayer(makeVol(FRM_INT, DIM3D{6, 5, 4, 3}, L"/tmp/menus.nii"))});
    EXPECT_NE(drawApp_.CreateDocumentView(doc), nullptr);
    return doc;
  }
  void record() {
    recorded_.clear();
    TW_SetCommandRecorder([this](const TW_COMMAND_CALL& c) {
      recorded_.push_back({c.row->id, c.row->operation, TW_FormatCommandArguments(*c.args)});
      return true;  // nothing runs
    });
  }

  fs::path folder_;
  twk::ScriptedUi script_;
  std::unique_ptr<twk::ScopedUi> installed_;
  CDrawApp drawApp_;
  CMainFrame* frame_ = nullptr;
  std::vector<RECORDED> recorded_;
};

}  // namespace

TEST_F(CommandMenus, EveryRowStandsAtItsPathEnabledWhenAvailableAndFiresItsArguments) {
  openDocument();
  frame_->UpdateCommandStates();
  QMenuBar* bar = frame_->menuBar();
  ASSERT_NE(actionAt(bar, "Volume > Voxel Value Conversion > Scale to Interval"), nullptr);

  int available = 0, unavailable = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    if (row->family == TW_UPDATE_HANDLER || !(row->menus & TW_DOCUMENT_MENU)) continue;
    SCOPED_TRACE(TW_RowMenuPath(row));
    QAction* action = actionAt(bar, TW_RowMenuPath(row));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action, frame_->Action(row->id));
    const TW_OPERATION_BINDING* binding = TW_FindBinding(row->operation);
    if (!binding || !binding->enabled) {
      EXPECT_EQ(action->isEnabled(), TW_RowAvailable(row));
    }
    EXPECT_EQ(action->statusTip() == QStringLiteral("Not available yet"), !TW_RowAvailable(row));
    (TW_RowAvailable(row) ? available : unavailable)++;
  }
  EXPECT_GT(available, 10);
  EXPECT_GT(unavailable, 100);

  // With every operation bound, each item fires its row: operation and arguments as tabled.
  {
    EverythingBound everything;
    frame_->UpdateCommandStates();
    record();
    for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
      if (row->family == TW_UPDATE_HANDLER || !(row->menus & TW_DOCUMENT_MENU) || !*row->operation) continue;
      SCOPED_TRACE(TW_RowMenuPath(row));
      QAction* action = actionAt(bar, TW_RowMenuPath(row));
      ASSERT_NE(action, nullptr);
      const TW_OPERATION_BINDING* binding = TW_FindBinding(row->operation);
      if (binding && binding->enabled && !action->isEnabled()) continue;  // undo without a step
      ASSERT_TRUE(action->isEnabled());
      recorded_.clear();
      action->trigger();
      ASSERT_EQ(recorded_.size(), 1u);
      EXPECT_EQ(recorded_[0].id, row->id);
      EXPECT_EQ(recorded_[0].operation, row->operation);
      EXPECT_EQ(recorded_[0].arguments, TW_FormatCommandArguments(TW_RowArguments(row)));
    }
  }
  frame_->UpdateCommandStates();
}

TEST_F(CommandMenus, AcceleratorsAndToolbarButtonsFireTheirRows) {
  openDocument();
  EverythingBound everything;
  frame_->UpdateCommandStates();
  record();
  QApplication::setActiveWindow(frame_);
  frame_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame_));
  const struct {
    const char* keys;
    const char* path;
  } keys[] = {{"Alt+2", "Snap selected spline to image (Any Direction : Alt+2)"},
              {"Alt+3", "Snap selected spline to image (Normal : Alt+3)"},
              {"Alt+5", "Copy selected spline (Alt+5)"}};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.keys);
    recorded_.clear();
    QTest::keySequence(frame_, QKeySequence(QString::fromLatin1(k.keys)));
    ASSERT_EQ(recorded_.size(), 1u);
    EXPECT_EQ(TW_FindCommandRow(recorded_[0].id)->path, std::string(k.path));
  }
  // Toolbar buttons with a row fire it.
  int fired = 0;
  for (QAction* button : frame_->MainToolBar()->actions()) {
    if (button->isSeparator()) continue;
    const int id = button->data().toInt();
    const TW_COMMAND_ROW* row = TW_FindCommandRow(id);
    if (!row) continue;
    SCOPED_TRACE(id);
    recorded_.clear();
    button->trigger();
    if (!button->isEnabled()) continue;
    ASSERT_EQ(recorded_.size(), 1u);
    EXPECT_EQ(recorded_[0].id, id);
    ++fired;
  }
  EXPECT_GE(fired, 8);  // TAC browser, 4D play, paintbrush, rasterise, parametric map, EdgeWave, ...
}

TEST_F(CommandMenus, WithoutADocumentWindowTheFrameMenusStand) {
  QMenuBar* bar = frame_->menuBar();
  frame_->UpdateCommandStates();
  EXPECT_NE(actionAt(bar, "File > Open Tarnwick document"), nullptr);
  EXPECT_NE(actionAt(bar, "Applications > CT > CT  DICOM file extractor"), nullptr);
  EXPECT_NE(actionAt(bar, "System > Test > Automatic Build Test - Full"), nullptr);
  EXPECT_EQ(actionAt(bar, "Volume > Crop > Crop current slice"), nullptr);
  EXPECT_TRUE(actionAt(bar, "File > Open Tarnwick document")->isEnabled());
  EXPECT_FALSE(actionAt(bar, "System > Test > Automatic Build Test - Full")->isEnabled());

  CDrawDoc* doc = openDocument();
  EXPECT_NE(actionAt(bar, "Volume > Crop > Crop current slice"), nullptr);
  EXPECT_NE(actionAt(bar, "File > Open Tarnwick document"), nullptr);  // repeated in the document menu
  EXPECT_NE(actionAt(bar, "Edit > Undo"), nullptr);
  EXPECT_EQ(actionAt(bar, "Applications > CT > CT  DICOM file extractor"), nullptr);
  drawApp_.CloseDocument(doc);
  EXPECT_EQ(actionAt(bar, "Volume > Crop > Crop current slice"), nullptr);
}

TEST_F(CommandMenus, TheCurveLengthItemFollowsItsSwitchAndNoCommandStartsInsideWork) {
  openDocument();
  frame_->UpdateCommandStates();
  QAction* curve = actionAt(frame_->menuBar(), "View > Display\\Hide Curve Length");
  ASSERT_NE(curve, nullptr);
  ASSERT_TRUE(curve->isCheckable());
  const bool before = curve->isChecked();
  curve->trigger();
  EXPECT_EQ(curve->isChecked(), !before);
  curve->trigger();  // twice restores
  EXPECT_EQ(curve->isChecked(), before);

  record();
  EverythingBound everything;
  frame_->UpdateCommandStates();
  QAction* scale = actionAt(frame_->menuBar(), "Volume > Voxel Value Conversion > Scale to Interval");
  ASSERT_NE(scale, nullptr);
  {
    twk::ProgressGuard work(L"Work", true);
    for (int64_t i = 0; i < 100; ++i) {
      if (i == 10) QMetaObject::invokeMethod(scale, "trigger", Qt::QueuedConnection);
      work.Step(i, 100, 1, 98);
    }
  }
  EXPECT_TRUE(recorded_.empty());
  scale->trigger();
  EXPECT_EQ(recorded_.size(), 1u);
}
