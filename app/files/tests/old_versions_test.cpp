// Documents of the older versions, written here from their layouts, read back as the same documents
// as their version-17 equivalents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "DocumentFile.h"
#include "DocumentRecords.h"
#include "DynExp.h"
#include "FilesTestKit.h"
#include "LegacyDocuments.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "VolumeHeaders.h"
#include "serial/FrameFile.h"

using namespace twk::filestest;

namespace {

void expectSameDocument(CDrawDoc* expected, CDrawDoc* actual) {
  bool identical = false;
  ASSERT_TRUE(TW_DocumentsIdentical(expected, actual, &identical));
  EXPECT_TRUE(identical);
  ASSERT_EQ(actual->objects.size(), expected->objects.size());
  CDrawSet* a = expected->GetActiveSet();
  CDrawSet* b = actual->GetActiveSet();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->name, a->name);
  EXPECT_EQ(b->GetActive(), a->GetActive());
  // Older versions carry no interlace: the set keeps its defaults.
  EXPECT_EQ(b->interlaceMode, 0);
  EXPECT_EQ(b->interlaceCell, 1);
  for (int i = 0; i < a->NumLayers(); ++i) {
    SCOPED_TRACE(i);
    const CDrawVol* la = a->GetLayer(i);
    const CDrawVol* lb = b->GetLayer(i);
    EXPECT_EQ(lb->filter.adaptive, 0);
    EXPECT_EQ(lb->filter.level, la->filter.level);
    EXPECT_EQ(lb->filter.width, la->filter.width);
    EXPECT_EQ(lb->filter.scheme, la->filter.scheme);
    EXPECT_EQ(lb->filter.roiColor, la->filter.roiColor);
    EXPECT_EQ(lb->opacity, la->opacity);
    EXPECT_EQ(lb->vol->GetModality(), la->vol->GetModality());
    EXPECT_DOUBLE_EQ(lb->vol->Vx(), la->vol->Vx());
    EXPECT_DOUBLE_EQ(lb->vol->Vz(), la->vol->Vz());
  }
  for (size_t i = 0; i < expected->objects.size(); ++i) {
    if (expected->objects[i]->kind != DRAWOBJ_POLY) continue;
    auto* pa = static_cast<CDrawPoly*>(expected->objects[i]);
    auto* pb = static_cast<CDrawPoly*>(actual->objects[i]);
    ASSERT_EQ(pb->kind, DRAWOBJ_POLY);
    ASSERT_EQ(pb->contourCount, pa->contourCount);
    ASSERT_EQ(pb->NumPoints(), pa->NumPoints());
    EXPECT_EQ(std::memcmp(pb->points, pa->points, size_t(pa->NumPoints()) * sizeof(DPOINT)), 0);
    EXPECT_EQ(pb->opacity, pa->opacity);
    EXPECT_EQ(pb->closed, pa->closed);
  }
}

class OldVersions : public DocumentFileTest {};

TEST_F(OldVersions, Version16And12ReadAsTheirVersion17Equivalent) {
  for (int version : {16, 12}) {
    SCOPED_TRACE(version);
    std::unique_ptr<CDrawDoc> expected(makeVersionDocument());
    // Plane points did not exist before version 14.
    if (version < 14)
      for (CDrawObj* o : expected->objects)
        if (o->kind == DRAWOBJ_POLY) std::fill(static_cast<CDrawPoly*>(o)->planePoint, static_cast<CDrawPoly*>(o)->planePoint + 3, 0.0);
    const CString path = scratch_.file("old.twk");
    writeAll(path, writeVersion(version, expected.get()));
    ui.clear();
    std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
    ASSERT_TRUE(back) << (ui.messages.empty() ? std::string() : ui.lastMessage().toUtf8());
    expectSameDocument(expected.get(), back.get());
    ASSERT_TRUE(back->storedProjection);
    EXPECT_EQ(back->storedProjection->slice, 1);
    EXPECT_EQ(back->storedProjection->rotation[2], 90.0);
    EXPECT_EQ(back->storedProjection->slabThickness, 0.0);

    // The same document saved now reads back identical.
    std::unique_ptr<CDrawDoc> current(makeVersionDocument());
    const CString now = scratch_.file("now.twk");
    ASSERT_TRUE(current->Save(now, nullptr, false, false, false));
    std::unique_ptr<CDrawDoc> again(TW_LoadDocumentNoView(now, false));
    bool identical = false;
    ASSERT_TRUE(TW_DocumentsIdentical(back.get(), again.get(), &identical));
    EXPECT_TRUE(identical);
  }
}

TEST_F(OldVersions, Version2ReadsCodedRealsAndBuildsItsViewRecord) {
  const int d = kV2Depth;
  Version2Fixture fixture = makeVersion2();
  CDrawDoc* expected = fixture.expected.get();
  CDrawVol* layer = fixture.layer;
  const CString path = scratch_.file("v2.twk");
  writeAll(path, fixture.bytes);
  ui.clear();
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back) << (ui.messages.empty() ? std::string() : ui.lastMessage().toUtf8());
  bool identical = false;
  ASSERT_TRUE(TW_DocumentsIdentical(expected, back.get(), &identical));
  EXPECT_TRUE(identical);

  CDrawSet* b = back->GetActiveSet();
  const CVol* vol = b->GetBaseVol();
  EXPECT_TRUE(vol->IsReal());
  EXPECT_EQ(vol->name, L"C:\\old\\scan.im");  // kept whole
  EXPECT_EQ(vol->GetModality(), MODALITY_MR);
  EXPECT_DOUBLE_EQ(vol->Vx(), 0.5);
  EXPECT_DOUBLE_EQ(vol->Vy(), 0.75);
  EXPECT_DOUBLE_EQ(vol->Vz(), 2.0);
  EXPECT_EQ(b->GetLayer(0)->filter.level, layer->filter.level);
  EXPECT_EQ(b->GetLayer(0)->filter.width, decoded(1600000));
  EXPECT_EQ(b->GetLayer(0)->filter.invert, 1);
  EXPECT_EQ(b->GetLayer(1)->filter.level, 120.0);
  // The old dynamic record: five doubles kept, the rest undefined, the flip angle the volume's.
  ASSERT_TRUE(vol->dyn);
  EXPECT_EQ(vol->dyn[0].timeEnd, 5.0);
  EXPECT_EQ(vol->dyn[0].echoTime, 0.03);
  EXPECT_EQ(vol->dyn[0].spinLockTime, VOID_VALUE);
  EXPECT_EQ(vol->dyn[0].repetitionTime, VOID_VALUE);
  EXPECT_EQ(vol->dyn[0].flipAngle, 15.0);
  // A stored slice beyond the depth opens at the middle slice, a time point beyond at the first.
  ASSERT_TRUE(back->storedProjection);
  EXPECT_EQ(back->storedProjection->slice, d / 2);
  EXPECT_EQ(back->storedProjection->timeIndex, 0);
  EXPECT_EQ(back->storedProjection->mode, 1);
}

TEST_F(OldVersions, PolylineCountsMustAddUpToThePointCount) {
  const struct {
    int version;
    int32_t declared;
    const wchar_t* message;
  } cases[] = {
      {12, 7, nullptr},
      {12, 6, L"LoadDrawPoly_v12 : Polyline loading Boundary Array mismatch"},
      {11, 8, L"LoadDrawPoly_v11 : Polyline loading Boundary Array mismatch"},
      {10, 7, nullptr},
      {10, 9, L"LoadDrawPoly_v10 : Polyline loading Boundary Array mismatch"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version * 100 + c.declared);
    const CString path = scratch_.file("poly.twk");
    writeAll(path, polylineOnlyDocument(c.version, c.declared));
    ui.clear();
    CDrawDoc doc;
    EXPECT_EQ(doc.Load(path, false), c.message == nullptr);
    if (c.message) {
      ASSERT_EQ(ui.messages.size(), 2u);
      EXPECT_EQ(ui.messages[0], c.message);
      EXPECT_EQ(ui.messages[1], L"CDrawDoc::Load : Invalid TWK format header");
    } else {
      ASSERT_EQ(doc.objects.size(), 1u);
      EXPECT_EQ(static_cast<CDrawPoly*>(doc.objects[0])->NumPoints(), 7);
    }
  }
}

TEST_F(OldVersions, DicomHeaderWithALengthBeyondItIsRefused) {
  // Version 12 stores the headers raw: the length of the first header's second meta element (an
  // OB of the long form) is made to run far beyond the header.
  std::unique_ptr<CDrawDoc> expected(makeVersionDocument());
  std::vector<uint8_t> file = writeVersion(12, expected.get());
  const uint8_t dicm[] = {'D', 'I', 'C', 'M'};
  const auto at = std::search(file.begin(), file.end(), std::begin(dicm), std::end(dicm));
  ASSERT_NE(at, file.end());
  const size_t element = size_t(at - file.begin()) + 4 + 12;
  ASSERT_EQ(file[element], 0x02);
  ASSERT_EQ(file[element + 2], 0x01);
  ASSERT_EQ(file[element + 4], 'O');
  const uint32_t huge = 0xF0000000u;
  std::memcpy(file.data() + element + 8, &huge, 4);
  const CString path = scratch_.file("header.twk");
  writeAll(path, file);
  ui.clear();
  CDrawDoc doc;
  EXPECT_FALSE(doc.Load(path, false));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"Failed to load DrawVol object");
  EXPECT_EQ(ui.messages[1], L"CDrawDoc::Load : Invalid TWK format header");
}

TEST_F(OldVersions, DamagedDynamicBlockOfVersion16) {
  std::unique_ptr<CDrawDoc> expected(makeVersionDocument());
  std::vector<uint8_t> file = writeVersion(16, expected.get());
  file.resize(file.size() - 6);
  const CString path = scratch_.file("v16.twk");
  writeAll(path, file);
  ui.clear();
  CDrawDoc doc;
  EXPECT_FALSE(doc.Load(path, false));
  // The host's own report of the damaged block comes first.
  ASSERT_GE(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[ui.messages.size() - 2],
            L"CDrawDoc::LoadOldTwk_V16 : Unable to load Dynamic Experiment from TWK file");
  EXPECT_EQ(ui.messages.back(), L"CDrawDoc::Load : Invalid TWK format header");
}

}  // namespace

namespace {

// The seed documents of the reader's fuzz target stay readable.
TEST_F(OldVersions, FuzzSeedsAreReadableDocuments) {
  const std::filesystem::path folder = std::filesystem::path(TWK_SOURCE_DIR) / "app/files/fuzz_seeds";
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().filename().string());
    CDrawDoc doc;
    EXPECT_TRUE(doc.Load(CString::fromUtf8(entry.path().string()), false));
    ++seen;
  }
  EXPECT_GE(seen, 7);
}

}  // namespace
