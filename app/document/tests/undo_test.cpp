// The undo history: pushes, growth, Undo and Redo restoring voxels byte for byte, purges when
// layers go, failed steps, identity of layers and the size of records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "AppOptions.h"
#include "DocTestKit.h"
#include "ScriptedUi.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;

namespace {

std::vector<uint8_t> bytesOf(const FRAME* f) { return std::vector<uint8_t>(f->data, f->data + PR_FrameMemSize(f)); }

void fillRandom(FRAME* f, unsigned seed) {
  std::mt19937 rng(seed);
  for (uint64_t i = 0; i < PR_FrameMemSize(f); ++i) f->data[i] = uint8_t(rng());
}

// Changes a few voxels of time point t inside [x0, x0 + 2] x [y0, y0 + 2] of slice z.
void paint(FRAME* f, int x0, int y0, int z, int t, double value) {
  for (int y = y0; y < y0 + 3; ++y)
    for (int x = x0; x < x0 + 3; ++x) twk::setVoxelValue(f, x, y, z, t, value);
}

struct UndoFixture : ::testing::Test {
  void SetUp() override {
    TW_EditOptions().undoEnabled = 1;
    set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 16, 12, 4, 2, L"a", 1, 16)), makeLayer(makeVol(FRM_ROI, 16, 12, 4, 1, L"b")),
                        makeLayer(makeVol(FRM_REAL, 16, 12, 4, 1, L"c"))});
    for (int i = 0; i < 3; ++i) fillRandom(set->GetLayerVol(i)->frame, 10 + i);
  }
  CDrawVol* layer(int i) { return set->GetLayer(i); }
  FRAME* frame(int i) { return set->GetLayerVol(i)->frame; }
  // The change commands make: record the layer, then change it.
  void change(int i, double value, const RECT4D* box = nullptr) {
    doc.PushUndoForLayer(layer(i), box);
    paint(frame(i), 2, 3, 1, 0, value);
  }
  CDrawDoc doc;
  CDrawSet* set = nullptr;
};

}  // namespace

TEST_F(UndoFixture, PushAfterUndoDropsTheRedoTail) {
  change(0, 1);
  change(0, 2);
  ASSERT_TRUE(doc.Undo());
  change(0, 3);
  EXPECT_EQ(doc.UndoCount(), 2);
  EXPECT_EQ(doc.UndoCurrent(), 2);
  EXPECT_FALSE(doc.CanRedo());
}

TEST_F(UndoFixture, CapacityGrowsByHundred) {
  for (int i = 0; i < 100; ++i) doc.PushUndoForLayer(layer(1), nullptr);
  EXPECT_EQ(doc.UndoCapacity(), 100);
  for (int i = 0; i < 50; ++i) doc.PushUndoForLayer(layer(1), nullptr);
  EXPECT_EQ(doc.UndoCapacity(), 200);
  EXPECT_EQ(doc.UndoCount(), 150);
  for (int i = 0; i < 150; ++i) EXPECT_NE(doc.UndoRecord(i), nullptr);
}

TEST_F(UndoFixture, UndoAndRedoRestoreVoxelsByteForByte) {
  CountingView view;
  doc.AddView(&view);
  for (int i : {0, 1, 2}) {
    SCOPED_TRACE(i);
    const std::vector<uint8_t> before = bytesOf(frame(i));
    const PR_VIEWFILT filterBefore = layer(i)->filter;
    change(i, 7);
    layer(i)->filter.level = 999;
    const std::vector<uint8_t> after = bytesOf(frame(i));
    ASSERT_NE(before, after);
    const int current = doc.UndoCurrent();
    ASSERT_TRUE(doc.CanUndo());
    ASSERT_TRUE(doc.Undo());
    EXPECT_EQ(bytesOf(frame(i)), before);
    EXPECT_EQ(layer(i)->filter.level, filterBefore.level);
    ASSERT_TRUE(doc.Redo());
    EXPECT_EQ(bytesOf(frame(i)), after);
    EXPECT_EQ(layer(i)->filter.level, 999);
    EXPECT_EQ(doc.UndoCurrent(), current);
    EXPECT_FALSE(doc.CanRedo());
  }
  EXPECT_GT(view.redraws, 0);
  // Walk all the way back and forth again.
  while (doc.CanUndo()) ASSERT_TRUE(doc.Undo());
  EXPECT_FALSE(doc.Undo());
  while (doc.CanRedo()) ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(doc.UndoCurrent(), 3);
  doc.RemoveView(&view);
}

TEST_F(UndoFixture, BoxRecordsRestoreTheirBoxOnly) {
  const std::vector<uint8_t> before = bytesOf(frame(0));
  const RECT4D box{2, 3, 1, 4, 5, 1, 0, 0};
  change(0, 5, &box);
  EXPECT_EQ(doc.UndoRecord(0)->box.x1, 4);
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(bytesOf(frame(0)), before);
  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(twk::voxelValue(frame(0), 3, 4, 1, 0), 5.0);
}

TEST_F(UndoFixture, DeletingALayerKeepsThePositionConsistent) {
  change(1, 1);  // b
  change(0, 2);  // a
  change(1, 3);  // b
  change(2, 4);  // c
  change(1, 5);  // b
  ASSERT_TRUE(doc.Undo());
  ASSERT_TRUE(doc.Undo());  // current 3: records of b at 0 and 2 lie before it, at 4 after it
  ASSERT_EQ(doc.UndoCurrent(), 3);
  const std::vector<uint8_t> cBefore = bytesOf(frame(2));
  CVol* b = set->GetLayerVol(1);
  ASSERT_TRUE(set->DeleteLayerVol(&b));
  EXPECT_EQ(doc.UndoCount(), 2);
  EXPECT_EQ(doc.UndoCurrent(), 1);
  for (int i = 0; i < doc.UndoCount(); ++i) EXPECT_NE(doc.UndoRecord(i), nullptr);
  ASSERT_TRUE(doc.Redo());  // c's change again
  EXPECT_NE(bytesOf(frame(1)), cBefore);
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(bytesOf(frame(1)), cBefore);
  ASSERT_TRUE(doc.Undo());  // a's change
  EXPECT_FALSE(doc.CanUndo());
}

TEST_F(UndoFixture, PurgeAtTheEndOfTheHistoryLeavesNoPositionPastIt) {
  change(0, 1);
  change(1, 2);
  change(1, 3);
  ASSERT_EQ(doc.UndoCurrent(), doc.UndoCount());
  CVol* b = set->GetLayerVol(1);
  ASSERT_TRUE(set->DeleteLayerVol(&b));
  EXPECT_EQ(doc.UndoCount(), 1);
  EXPECT_EQ(doc.UndoCurrent(), 1);
  EXPECT_FALSE(doc.CanRedo());
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(doc.UndoCurrent(), 0);
}

TEST_F(UndoFixture, FailedStepsLeaveNoEmptySlot) {
  // A record of a frame that no layer of an open document holds.
  std::unique_ptr<CVol> loose(makeVol(FRM_INT, 4, 4, 2, 1));
  change(0, 1);
  UNDOREC* stray = VA_CompleteUndoRec(nullptr, loose->frame);
  ASSERT_TRUE(doc.PushUndo(&stray));
  change(0, 2);
  ASSERT_TRUE(doc.Undo());
  EXPECT_FALSE(doc.Undo());  // the stray record
  EXPECT_EQ(doc.UndoCount(), 2);
  EXPECT_EQ(doc.UndoCurrent(), 1);
  for (int i = 0; i < doc.UndoCount(); ++i) EXPECT_NE(doc.UndoRecord(i), nullptr);
  ASSERT_TRUE(doc.Undo());
  ASSERT_TRUE(doc.Redo());
  ASSERT_TRUE(doc.Redo());
  EXPECT_EQ(doc.UndoCurrent(), 2);
}

TEST_F(UndoFixture, RecordsFollowTheLayerNotTheFrameAddress) {
  change(1, 1);
  // Another layer that holds the recorded frame's address cannot take the record.
  UNDOREC* record = VA_CompleteUndoRec(nullptr, frame(2));
  record->owner = layer(1)->LayerId();
  ASSERT_TRUE(doc.PushUndo(&record));
  const std::vector<uint8_t> c = bytesOf(frame(2));
  paint(frame(2), 0, 0, 0, 0, 3.5);
  const std::vector<uint8_t> changed = bytesOf(frame(2));
  EXPECT_FALSE(doc.Undo());
  EXPECT_EQ(bytesOf(frame(2)), changed);
  EXPECT_NE(changed, c);

  // Replacing a layer's volume drops its records.
  const int before = doc.UndoCount();
  CVol* replacement = makeVol(FRM_ROI, 16, 12, 4, 1);
  layer(1)->ReplaceVol(&replacement);
  EXPECT_EQ(doc.UndoCount(), before - 1);
}

TEST_F(UndoFixture, SwitchedOffUndoRecordsNothing) {
  TW_EditOptions().undoEnabled = 0;
  change(0, 1);
  EXPECT_EQ(doc.UndoCount(), 0);
  EXPECT_FALSE(doc.CanUndo());
  TW_EditOptions().undoEnabled = 1;
}

TEST(UndoSize, BrushStrokeOnALarge4DVolumeCostsKilobytes) {
  TW_EditOptions().undoEnabled = 1;
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 256, 256, 40, 50, L"dyn", 1, 16))});
  CDrawVol* layer = set->GetLayer(0);
  FRAME* f = layer->vol->frame;
  ASSERT_EQ(PR_FrameMemSize(f), 256ull * 256 * 40 * 50 * 2);

  // A stroke whose box the brush knows.
  const RECT4D stroke{100, 120, 17, 110, 130, 17, 23, 23};
  doc.PushUndoForLayer(layer, &stroke);
  for (int y = 120; y <= 130; ++y)
    for (int x = 100; x <= 110; ++x) twk::setVoxelValue(f, x, y, 17, 23, 900);
  EXPECT_LE(doc.UndoRecord(0)->MemSize(), 4096u);

  // A change recorded without a box: the record settles to the changed voxels.
  doc.PushUndoForLayer(layer, nullptr);
  for (int y = 10; y <= 14; ++y)
    for (int x = 30; x <= 34; ++x) twk::setVoxelValue(f, x, y, 3, 40, 77);
  const std::vector<uint8_t> changed = bytesOf(f);
  ASSERT_TRUE(doc.Undo());
  EXPECT_LE(doc.UndoRecord(1)->MemSize(), 4096u);  // the redo entry
  EXPECT_EQ(twk::voxelValue(f, 32, 12, 3, 40), 0.0);
  EXPECT_EQ(twk::voxelValue(f, 105, 125, 17, 23), 900.0);
  ASSERT_TRUE(doc.Redo());
  EXPECT_TRUE(bytesOf(f) == changed);
  ASSERT_TRUE(doc.Undo());
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(twk::voxelValue(f, 105, 125, 17, 23), 0.0);
  uint64_t total = 0;
  for (int i = 0; i < doc.UndoCount(); ++i) total += doc.UndoRecord(i)->MemSize();
  EXPECT_LE(total, 8192u);
}
