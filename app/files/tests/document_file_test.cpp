// The document file of the current version: its bytes, saving with verification and reading back,
// and the reader's answers to damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "DocHooks.h"
#include "DocumentFile.h"
#include "DocumentRecords.h"
#include "DynExp.h"
#include "FilesTestKit.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "dicom/DicomHeaderBlob.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"
#include "io/ImageFiles.h"

using namespace twk::filestest;

namespace {

CDrawSet* activeSet(CDrawDoc* doc) { return doc ? doc->GetActiveSet() : nullptr; }

template <class T>
T* objectOfKind(CDrawDoc* doc, int kind, int nth = 0) {
  for (CDrawObj* o : doc->objects)
    if (o->kind == kind && nth-- == 0) return static_cast<T*>(o);
  return nullptr;
}

std::vector<CDrawSet*> vectorRois(CDrawDoc* doc) {
  std::vector<CDrawSet*> out;
  for (CDrawObj* o : doc->objects)
    if (o->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(o)->IsVectorRoi()) out.push_back(static_cast<CDrawSet*>(o));
  return out;
}

std::vector<uint8_t> utf16Line(const std::wstring& text) {
  const std::string bytes = twk::toUtf16LE(text + L"\n");
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Offset of the first object record: header line, colour, view record, object count.
size_t firstObjectOffset(const std::vector<uint8_t>& file) {
  for (size_t i = 0; i + 1 < file.size(); i += 2)
    if (file[i] == '\n' && file[i + 1] == 0) return i + 2 + 4 + 57 + 4;
  return 0;
}

template <class T>
void poke(std::vector<uint8_t>& bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

// The stored size S of the last volume layer: the int64 after which |S| bytes run up to end.
size_t storedSizeOffset(const std::vector<uint8_t>& file, size_t end) {
  for (size_t p = end - 8; p >= 8; --p) {
    int64_t s = 0;
    std::memcpy(&s, file.data() + p, 8);
    if (s != 0 && p + 8 + size_t(s < 0 ? -s : s) == end) return p;
  }
  return 0;
}

// The size of the dynamic-experiment block of a host without settings, as documents here carry it.
const size_t kEmptyDynBlock = [] {
  MFILE* mf = PR_MemFileOpen(0);
  auto dynExp = std::make_unique<CDynExp>();
  dynExp->Write(mf, false);
  const size_t size = size_t(PR_MemFileSize(mf));
  PR_MemFileClose(&mf);
  return size;
}();

class DocumentFile : public DocumentFileTest {};

TEST_F(DocumentFile, FixtureSavesAndReloadsIdentical) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  const CString path = scratch_.file("fixture.twk");
  ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  EXPECT_FALSE(doc->IsModified());

  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  bool identical = false;
  ASSERT_TRUE(TW_DocumentsIdentical(doc.get(), back.get(), &identical));
  EXPECT_TRUE(identical);
  EXPECT_FALSE(back->IsModified());
  EXPECT_EQ(back->GetPathName(), path);
  ASSERT_EQ(back->objects.size(), doc->objects.size());

  // The layer set: its layers' names, units, filters and geometry; interlace as stored; the
  // display-unmarked flag is not stored.
  CDrawSet* set = activeSet(back.get());
  ASSERT_TRUE(set);
  EXPECT_EQ(set->name, L"Case 1");
  EXPECT_EQ(set->GetActive(), 2);
  EXPECT_EQ(set->interlaceMode, 3);
  EXPECT_EQ(set->interlaceCell, 7);
  EXPECT_EQ(set->displayUnmarked, 0);
  EXPECT_EQ(set->highlight, 1);
  CDrawSet* original = activeSet(doc.get());
  ASSERT_EQ(set->NumLayers(), 3);
  const wchar_t* titles[] = {L"t1w.nii", L"adc.nii", L"lesion.im"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const CDrawVol* a = original->GetLayer(i);
    const CDrawVol* b = set->GetLayer(i);
    EXPECT_EQ(b->vol->name, titles[i]);
    EXPECT_EQ(b->vol->unit, a->vol->unit);
    EXPECT_EQ(std::memcmp(&a->filter, &b->filter, sizeof a->filter), 0);
    EXPECT_EQ(b->opacity, a->opacity);
    EXPECT_EQ(b->highlight, 2);
    EXPECT_EQ(b->vol->GetModality(), MODALITY_MR);
    EXPECT_DOUBLE_EQ(b->vol->Vx(), 0.5);
    EXPECT_DOUBLE_EQ(b->vol->Vy(), 0.75);
    EXPECT_DOUBLE_EQ(b->vol->Vz(), 2.0);
    EXPECT_EQ(b->vol->imgPos == nullptr, a->vol->imgPos == nullptr);
    EXPECT_EQ(b->position.x1, original->position.x1);
  }

  // The polyline with both contours.
  auto* poly = objectOfKind<CDrawPoly>(back.get(), DRAWOBJ_POLY);
  ASSERT_TRUE(poly);
  EXPECT_EQ(poly->contourCount, 2);
  EXPECT_EQ(poly->pointsPerContour[0], 4);
  EXPECT_EQ(poly->pointsPerContour[1], 3);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(poly->points[i].x, 1.5 * i);
    EXPECT_EQ(poly->points[i].y, 20.0 - i * i);
  }
  EXPECT_EQ(poly->spline, 1);
  EXPECT_EQ(poly->closed, 1);
  EXPECT_EQ(poly->tension, 0.5);
  EXPECT_EQ(poly->slice, 3);
  EXPECT_EQ(poly->planePoint[1], 90.0);
  EXPECT_EQ(poly->opacity, 60);

  // Rectangles, ellipses and arcs come back too.
  auto* rect = objectOfKind<CDrawRect>(back.get(), DRAWOBJ_RECT);
  auto* ellipse = objectOfKind<CDrawRect>(back.get(), DRAWOBJ_ELLIPSE);
  auto* arc = objectOfKind<CDrawArc>(back.get(), DRAWOBJ_ARC);
  ASSERT_TRUE(rect && ellipse && arc);
  EXPECT_EQ(rect->rect.x1, 5);
  EXPECT_EQ(rect->rect.y1, 7);
  EXPECT_EQ(ellipse->rect.y1, 4.5);
  EXPECT_EQ(std::memcmp(&ellipse->style, &g_DefaultDrawStyle, sizeof ellipse->style), 0);
  auto* arcBefore = objectOfKind<CDrawArc>(doc.get(), DRAWOBJ_ARC);
  EXPECT_EQ(arc->rect.x1, 6);
  EXPECT_EQ(arc->start.x, arcBefore->start.x);
  EXPECT_EQ(arc->end.y, arcBefore->end.y);

  // Both vector ROIs, owned by the reloaded set.
  const auto rois = vectorRois(back.get());
  ASSERT_EQ(rois.size(), 2u);
  EXPECT_STREQ(rois[0]->vroi->label, "tumour");
  EXPECT_STREQ(rois[1]->vroi->label, "reference");
  EXPECT_EQ(rois[0]->vroi->owner, set);
  EXPECT_EQ(rois[1]->vroi->owner, set);
  EXPECT_EQ(rois[1]->vroi->x0, 1.5);
  EXPECT_EQ(rois[1]->style.fillColor, 0x123456u);

  // The file starts with its header line in UTF-16LE and a line feed, and holds exactly the bytes
  // the document writes into memory.
  const std::vector<uint8_t> file = readAll(path);
  const std::vector<uint8_t> header = utf16Line(L"Tarnwick v.17 document. Created with Build 483.");
  ASSERT_GE(file.size(), header.size());
  EXPECT_TRUE(std::equal(header.begin(), header.end(), file.begin()));
  // Volumes without DICOM headers get new basic headers at every write; a reloaded document keeps
  // its headers, so its writes are repeatable.
  const CString again = scratch_.file("again.twk");
  ASSERT_TRUE(back->Save(again, nullptr, false, false, false));
  EXPECT_EQ(readAll(again), memoryFileBytes(back.get()));
  std::filesystem::remove(again.toUtf8());
  // Nothing but the document is left in the folder.
  EXPECT_EQ(scratch_.names(), std::vector<std::string>{"fixture.twk"});
}

TEST_F(DocumentFile, EmptyDocumentIsHeaderColourViewCountAndBlock) {
  CDrawDoc doc;
  const CString path = scratch_.file("empty.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  const std::vector<uint8_t> file = readAll(path);
  const size_t header = utf16Line(L"Tarnwick v.17 document. Created with Build 483.").size();
  EXPECT_EQ(file.size(), header + 4 + 57 + 4 + kEmptyDynBlock);
  int32_t count = -1;
  std::memcpy(&count, file.data() + header + 4 + 57, 4);
  EXPECT_EQ(count, 0);
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->objects.empty());
}

TEST_F(DocumentFile, DocumentOfManySmallRecordsReadsBack) {
  // Rectangles are the smallest records: a file of nothing else is as short as a file can be for
  // its object count.
  CDrawDoc doc;
  for (int i = 0; i < 40; ++i) add(&doc, new CDrawRect(i % 2 ? DRAWOBJ_RECT : DRAWOBJ_ELLIPSE, DRECT{0, 0, 1.0 + i, 2}));
  const CString path = scratch_.file("rects.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  CDrawDoc back;
  ASSERT_TRUE(back.Load(path, false));
  ASSERT_EQ(back.objects.size(), 40u);
  EXPECT_EQ(static_cast<CDrawRect*>(back.objects[39])->rect.x1, 40.0);
}

TEST_F(DocumentFile, DocumentOfOneRectangleSavesVerifiedAndComparesIdentical) {
  // Drawn from its lower right corner: the stored corners are the drawn ones.
  CDrawDoc doc;
  add(&doc, new CDrawRect(DRAWOBJ_RECT, DRECT{8, 9, 2, 3}));
  const CString path = scratch_.file("rectangle.twk");
  ui.clear();
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(doc.IsModified());
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  bool identical = false;
  ASSERT_TRUE(TW_DocumentsIdentical(&doc, back.get(), &identical));
  EXPECT_TRUE(identical);
  static_cast<CDrawRect*>(back->objects[0])->rect.x0 = 7;
  ASSERT_TRUE(TW_DocumentsIdentical(&doc, back.get(), &identical));
  EXPECT_FALSE(identical);
}

TEST_F(DocumentFile, BackgroundColourOfTheFileNeverReachesTheDocument) {
  CDrawDoc doc;
  doc.backgroundColor = 0x00ABCDEF;
  const CString path = scratch_.file("colour.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  TW_EditOptions().docBackgroundColor = 0x00102030;
  CDrawDoc back;
  ASSERT_TRUE(back.Load(path, false));
  EXPECT_EQ(back.backgroundColor, 0x00102030u);
}

TEST_F(DocumentFile, SavedViewRecordIsTheViewsRecordOnTheActiveSet) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  struct View : CDrawView {
    void RedrawNow() override {}
    void ZoomAll() override {}
  } view;
  doc->AddView(&view);
  CDrawSet* set = activeSet(doc.get());
  ASSERT_TRUE(set->AddViewProjection(&view));
  VA_VOLPROJ* record = set->FindViewProjection(&view);
  record->slice = 2;
  record->timeIndex = 0;
  record->rotation[1] = 90;
  record->slabThickness = 3.5;
  const CString path = scratch_.file("view.twk");
  ASSERT_TRUE(doc->Save(path, &view, false, false, false));
  CDrawDoc back;
  ASSERT_TRUE(back.Load(path, false));
  ASSERT_TRUE(back.storedProjection);
  EXPECT_EQ(back.storedProjection->slice, 2);
  EXPECT_EQ(back.storedProjection->rotation[1], 90.0);
  EXPECT_EQ(back.storedProjection->slabThickness, 3.5);
  EXPECT_EQ(back.storedProjection->view, nullptr);
  doc->RemoveView(&view);
}

TEST_F(DocumentFile, SpinLockDynamicsAreStoredExactly) {
  std::unique_ptr<CDrawDoc> doc(new CDrawDoc);
  CVol* vol = makeVolume(FRM_INT, 4, 4, 2, 3, L"tsl.nii", 16);
  for (int t = 0; t < 3; ++t) {
    vol->dyn[t].spinLockTime = 0.01 * (t + 1) + 1e-9;
    vol->dyn[t].echoTime = 0.0123456789;
  }
  add(doc.get(), [&] {
    auto* set = new CDrawSet(doc.get());
    set->AppendLayer(makeLayer(vol));
    return set;
  }());
  const CString path = scratch_.file("tsl.twk");
  ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  const CVol* a = activeSet(doc.get())->GetBaseVol();
  const CVol* b = activeSet(back.get())->GetBaseVol();
  ASSERT_TRUE(b->dyn);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(std::memcmp(&a->dyn[t], &b->dyn[t], sizeof(DYNCRD)), 0) << t;
}

TEST_F(DocumentFile, DynamicExperimentBlockFollowsTheOption) {
  auto mineOwned = std::make_unique<CDynExp>();
  CDynExp& mine = *mineOwned;
  TW_SetDocumentDynExp(&mine);
  struct Restore {
    ~Restore() { TW_SetDocumentDynExp(nullptr); }
  } restore;
  mine.ifuncName[1] = L"AIF";
  mine.ifunc[1].count = 3;
  for (int i = 0; i < 3; ++i) {
    mine.ifunc[1].times[i] = i * 2.0;
    mine.ifunc[1].values[i] = 100.0 + i;
  }
  CDrawDoc doc;
  const CString path = scratch_.file("dyn.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  // The check load of the save leaves the application's settings alone.
  mine.ifuncName[1] = L"changed";
  mine.ifunc[1].count = 1;

  TW_EditOptions().loadDmdbFromTwk = 0;
  CDrawDoc scratchOnly;
  ASSERT_TRUE(scratchOnly.Load(path, false));
  EXPECT_EQ(mine.ifuncName[1], L"changed");

  TW_EditOptions().loadDmdbFromTwk = 1;
  CDrawDoc loading;
  ASSERT_TRUE(loading.Load(path, false));
  EXPECT_EQ(mine.ifuncName[1], L"AIF");
  ASSERT_EQ(mine.ifunc[1].count, 3);
  EXPECT_EQ(mine.ifunc[1].values[2], 102.0);

  // A damaged block fails the load with its message, whichever way it is read.
  std::vector<uint8_t> file = readAll(path);
  file.resize(file.size() - 5);
  writeAll(path, file);
  for (uint8_t option : {0, 1}) {
    TW_EditOptions().loadDmdbFromTwk = option;
    ui.clear();
    CDrawDoc damaged;
    EXPECT_FALSE(damaged.Load(path, false));
    EXPECT_EQ(ui.lastMessage(), L"CDrawDoc::Load : Unable to load Dynamic Experiment from TWK file");
  }
}

TEST_F(DocumentFile, ZeroDicomHeaderSizeIsRefused) {
  std::unique_ptr<CDrawDoc> doc(new CDrawDoc);
  auto* set = new CDrawSet(doc.get());
  set->AppendLayer(makeLayer(makeVolume(FRM_INT, 4, 3, 2, 1, L"a.nii", 16)));
  add(doc.get(), set);
  const CString path = scratch_.file("zero.twk");
  ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  std::vector<uint8_t> file = readAll(path);
  const size_t at = storedSizeOffset(file, file.size() - kEmptyDynBlock);
  ASSERT_GT(at, 0u);
  poke<int64_t>(file, at, 0);
  writeAll(path, file);
  ui.clear();
  CDrawDoc back;
  EXPECT_FALSE(back.Load(path, false));
  ASSERT_GE(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"LoadDrawVol : Invalid TWK file : total DICOM headers size is zero.");
  EXPECT_EQ(ui.messages[1], L"Failed to load DrawVol object");
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(DocumentFile, TruncatedFilesFailCleanly) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  const CString good = scratch_.file("good.twk");
  ASSERT_TRUE(doc->Save(good, nullptr, false, false, false));
  const std::vector<uint8_t> file = readAll(good);
  const size_t first = firstObjectOffset(file);
  const size_t cuts[] = {1, 7, first - 4, first + 3, first + 90, file.size() / 3, file.size() / 2,
                         file.size() - kEmptyDynBlock - 1, file.size() - 3, file.size() - 1};
  for (size_t cut : cuts) {
    SCOPED_TRACE(cut);
    const CString path = scratch_.file("cut.twk");
    writeAll(path, std::vector<uint8_t>(file.begin(), file.begin() + long(cut)));
    CDrawDoc back;
    EXPECT_FALSE(back.Load(path, false));
  }
}

TEST_F(DocumentFile, HeaderLineDecidesWhatIsRead) {
  // An empty file fails without a message; an image file is no document; version 1.0 is refused
  // with its advice; any build text may follow the version text.
  const CString empty = scratch_.file("empty.twk");
  writeAll(empty, {});
  ui.clear();
  CDrawDoc a;
  EXPECT_FALSE(a.Load(empty, false));
  EXPECT_TRUE(ui.messages.empty());

  CVol* vol = makeVolume(FRM_INT, 4, 4, 2, 1, L"img", 16);
  const CString image = scratch_.file("image.nii");
  ASSERT_TRUE(VA_RAW_VolSaveFile(image, vol->frame, -1, vol->Spc(), nullptr, nullptr, nullptr, 1, 0, L"", nullptr,
                                 nullptr, false));
  delete vol;
  ui.clear();
  EXPECT_EQ(TW_LoadDocumentNoView(image, false), nullptr);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"CDrawDoc::Load : Invalid TWK format header");
  EXPECT_EQ(ui.messages[1], CString(L"Failed to load document : ") + image);

  const CString old = scratch_.file("old.twk");
  std::vector<uint8_t> bytes = utf16Line(L"Tarnwick v.1.0 document");
  bytes.resize(bytes.size() + 64, 0xEE);
  writeAll(old, bytes);
  ui.clear();
  CDrawDoc c;
  EXPECT_FALSE(c.Load(old, false));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], L"CDrawDoc::Load : This older TWK format is not supported.\nLoad this file in the older "
                            L"version of Tarnwick and\\or recreate it from original RAW or DICOM data.");

  CDrawDoc empty17;
  const CString path = scratch_.file("build.twk");
  ASSERT_TRUE(empty17.Save(path, nullptr, false, false, false));
  std::vector<uint8_t> file = readAll(path);
  const size_t oldHeader = utf16Line(L"Tarnwick v.17 document. Created with Build 483.").size();
  std::vector<uint8_t> renamed = utf16Line(L"\xFEFFTarnwick v.17 document, written by build 999");
  renamed.insert(renamed.end(), file.begin() + long(oldHeader), file.end());
  writeAll(path, renamed);
  CDrawDoc d;
  EXPECT_TRUE(d.Load(path, false));
}

TEST_F(DocumentFile, VectorRoiOwnersOutsideTheListBecomeNone) {
  // An ROI whose set is gone is written without owner and saves; stored positions beyond the
  // object list or negative read back as none.
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  CDrawSet gone;
  vectorRois(doc.get())[1]->vroi->owner = &gone;
  const CString path = scratch_.file("orphan.twk");
  ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  EXPECT_EQ(vectorRois(back.get())[0]->vroi->owner, activeSet(back.get()));
  EXPECT_EQ(vectorRois(back.get())[1]->vroi->owner, nullptr);

  // A document of one vector ROI: its owner field is easy to find.
  for (int32_t owner : {0, 1, 5, -3}) {
    SCOPED_TRACE(owner);
    CDrawDoc single;
    add(&single, makeVectorRoi(&single, nullptr, "x", 0, 0, 0));
    const CString one = scratch_.file("one.twk");
    ASSERT_TRUE(single.Save(one, nullptr, false, false, false));
    std::vector<uint8_t> file = readAll(one);
    const size_t label = firstObjectOffset(file) + 4 + 78 + utf16Line(L"vroi").size() + 1;
    const size_t ownerAt = label + utf16Line(L"x").size() + 8;
    int32_t stored = 0;
    std::memcpy(&stored, file.data() + ownerAt, 4);
    EXPECT_EQ(stored, -1);
    poke(file, ownerAt, owner);
    writeAll(one, file);
    CDrawDoc back2;
    ASSERT_TRUE(back2.Load(one, false));
    // Position 0 is the ROI itself, which is no volume set.
    EXPECT_EQ(vectorRois(&back2)[0]->vroi->owner, nullptr);
  }
}

TEST_F(DocumentFile, LongVectorRoiLabelIsCut) {
  CDrawDoc doc;
  add(&doc, makeVectorRoi(&doc, nullptr, "x", 0, 0, 0));
  const CString path = scratch_.file("label.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  std::vector<uint8_t> file = readAll(path);
  const size_t label = firstObjectOffset(file) + 4 + 78 + utf16Line(L"vroi").size() + 1;
  const std::vector<uint8_t> longLabel = utf16Line(std::wstring(300, L'q'));
  file.erase(file.begin() + long(label), file.begin() + long(label + utf16Line(L"x").size()));
  file.insert(file.begin() + long(label), longLabel.begin(), longLabel.end());
  writeAll(path, file);
  CDrawDoc back;
  ASSERT_TRUE(back.Load(path, false));
  EXPECT_EQ(std::string(vectorRois(&back)[0]->vroi->label), std::string(127, 'q'));
}

TEST_F(DocumentFile, DamagedCountsAreRefusedWithTheirMessages) {
  CDrawDoc doc;
  add(&doc, makePolyline());
  const CString path = scratch_.file("poly.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  const std::vector<uint8_t> good = readAll(path);
  const size_t poly = firstObjectOffset(good);
  const size_t contours = poly + 4 + 78 + 4 + 24 + 1 + 4 + 8 + 1;
  const CString points = L"LoadDrawPoly : Polyline loading points failed";
  const struct {
    const char* what;
    size_t at;
    int64_t value;
    int width;
    const wchar_t* message;
  } cases[] = {
      {"no contour", contours, 0, 4, points.GetString()},
      {"negative contours", contours, -2, 4, points.GetString()},
      {"more contours than bytes", contours, 100000000, 4, points.GetString()},
      {"negative contour length", contours + 4, -1, 4, points.GetString()},
      {"more points than bytes", contours + 8, 50000000, 4, points.GetString()},
      {"object count beyond the file", poly - 4, 0x7FFFFFFF, 4, nullptr},
      {"negative object count", poly - 4, -1, 4, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    poke<int32_t>(file, c.at, int32_t(c.value));
    writeAll(path, file);
    ui.clear();
    CDrawDoc back;
    EXPECT_FALSE(back.Load(path, false));
    if (c.message) EXPECT_EQ(ui.lastMessage(), c.message);
    else EXPECT_TRUE(ui.messages.empty());
  }

  // A set whose layer count runs beyond the file.
  CDrawDoc withSet;
  auto* set = new CDrawSet(&withSet);
  set->name = L"S";
  set->AppendLayer(makeLayer(makeVolume(FRM_INT, 2, 2, 1, 1, L"v", 8)));
  add(&withSet, set);
  ASSERT_TRUE(withSet.Save(path, nullptr, false, false, false));
  std::vector<uint8_t> file = readAll(path);
  const size_t layers = firstObjectOffset(file) + 4 + 78 + utf16Line(L"S").size() + 1 + 4;
  int32_t count = 0;
  std::memcpy(&count, file.data() + layers, 4);
  ASSERT_EQ(count, 1);
  poke<int32_t>(file, layers, 1000000);
  writeAll(path, file);
  CDrawDoc back;
  EXPECT_FALSE(back.Load(path, false));
}

TEST_F(DocumentFile, StoredActiveIndexOutsideTheLayersIsRefused) {
  CDrawDoc doc;
  auto* set = new CDrawSet(&doc);
  set->name = L"S";
  set->AppendLayer(makeLayer(makeVolume(FRM_INT, 2, 2, 1, 1, L"v", 8)));
  add(&doc, set);
  const CString path = scratch_.file("active.twk");
  ASSERT_TRUE(doc.Save(path, nullptr, false, false, false));
  std::vector<uint8_t> file = readAll(path);
  poke<int32_t>(file, firstObjectOffset(file) + 4 + 78 + utf16Line(L"S").size() + 1, 4);
  writeAll(path, file);
  ui.clear();
  CDrawDoc back;
  ASSERT_TRUE(back.Load(path, false));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SetActive : Invalid Layer Index");
  EXPECT_EQ(activeSet(&back)->GetActive(), 0);
}

// ---- saving ----

TEST_F(DocumentFile, FailedVerificationKeepsTheOldFileAndTheModifiedFlag) {
  const CString path = scratch_.file("keep.twk");
  std::unique_ptr<CDrawDoc> first(makeFixtureDocument());
  ASSERT_TRUE(first->Save(path, nullptr, false, false, false));
  const std::vector<uint8_t> before = readAll(path);

  // Time points out of acquisition order come back reordered, so the saved file does not read back
  // as this document.
  std::unique_ptr<CDrawDoc> doc(new CDrawDoc);
  CVol* vol = makeVolume(FRM_INT, 4, 4, 2, 2, L"dyn.nii", 16);
  vol->dyn[0].time = 60;
  vol->dyn[1].time = 0;
  auto* set = new CDrawSet(doc.get());
  set->AppendLayer(makeLayer(vol));
  add(doc.get(), set);
  ASSERT_TRUE(doc->IsModified());
  ui.clear();
  EXPECT_FALSE(doc->Save(path, nullptr, false, false, true));
  ASSERT_GE(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[ui.messages.size() - 2], L"CDrawDoc::Save : Verify saved document failed");
  EXPECT_EQ(ui.messages.back(), L"TWK file save failed");
  EXPECT_TRUE(doc->IsModified());
  EXPECT_EQ(readAll(path), before);
  EXPECT_EQ(scratch_.names(), std::vector<std::string>{"keep.twk"});
}

TEST_F(DocumentFile, FailedWriteNamesTheChosenFileAndItsCause) {
  // The bytes go to a temporary file beside the target; the message names the target itself.
  const CString path = scratch_.file("missing") + L"/doc.twk";
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  doc->SetModifiedFlag(true);
  ui.clear();
  EXPECT_FALSE(doc->Save(path, nullptr, false, false, true));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"PR_MemFileSaveToFile : Unable to create file " + path + L" : No such file or directory");
  EXPECT_EQ(ui.messages[1], L"TWK file save failed");
  EXPECT_TRUE(doc->IsModified());
  EXPECT_TRUE(scratch_.names().empty());
}

TEST_F(DocumentFile, QuickSaveNeedsTheDocumentsOwnNameOnlyWithoutAGivenPath) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  ui.clear();
  EXPECT_FALSE(doc->Save(nullptr, nullptr, false, false, true));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"CDrawDoc::Save : QuickSave name does not exist : ");
  EXPECT_EQ(ui.messages[1], L"TWK file save failed");
  EXPECT_TRUE(scratch_.names().empty());

  // A workflow's own file name is enough for a document that was never saved.
  const CString path = scratch_.file("workflow.twk");
  EXPECT_TRUE(doc->Save(path, nullptr, false, false, true));
  EXPECT_TRUE(doc->GetPathName().IsEmpty());
  // A quick save then writes to the document's own name.
  doc->SetPathName(path);
  doc->SetModifiedFlag(true);
  EXPECT_TRUE(doc->Save(nullptr, nullptr, false, false, false));
  EXPECT_FALSE(doc->IsModified());
}

TEST_F(DocumentFile, SaveAsTakesTheChosenNameAndCancelKeepsTheDocumentOpen) {
  TW_InstallDocumentFileServices();
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  // "Save before closing?" Yes, then the save-file dialog is cancelled: the document stays open,
  // still modified, and nothing is written or reported as failed.
  ui.answerMessage(IDYES).cancelPicker();
  EXPECT_FALSE(doc->SaveModified());
  EXPECT_TRUE(doc->IsModified());
  EXPECT_FALSE(ui.pendingAnswers());
  EXPECT_NE(ui.lastMessage(), L"TWK file save failed");
  bool cancelled = false;
  ui.cancelPicker();
  EXPECT_FALSE(doc->Save(nullptr, nullptr, true, true, true, &cancelled));
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(scratch_.names().empty());

  // Yes and a name: saved under it, which becomes the document's path.
  const CString path = scratch_.file("chosen.twk");
  std::vector<CString> recent;
  TW_SetRecentFileSink([&](const CString& p) { recent.push_back(p); });
  ui.answerMessage(IDYES).answerSaveFile(path);
  EXPECT_TRUE(doc->SaveModified());
  EXPECT_FALSE(doc->IsModified());
  EXPECT_EQ(doc->GetPathName(), path);
  EXPECT_EQ(recent, std::vector<CString>{path});
  EXPECT_EQ(ui.fileRequests.back().filter, L"Tarnwick Document (*.twk)|*.twk|");
  TW_SetRecentFileSink(nullptr);
  TW_DocumentHooks().saveDocument = nullptr;
}

TEST_F(DocumentFile, UnusableTemporaryFolderStopsReadAndSave) {
  TW_EditOptions().tempFolder = scratch_.file("missing");
  CDrawDoc doc;
  ui.clear();
  EXPECT_FALSE(doc.Save(scratch_.file("x.twk"), nullptr, false, false, false));
  EXPECT_EQ(ui.messages.at(0), CString(L"Current Tarnwick temporary folder ") + scratch_.file("missing") +
                                   L" is not usable.\nPlease set temporary folder to an accessible folder");
  EXPECT_FALSE(doc.Load(scratch_.file("x.twk"), false));
}

}  // namespace

namespace {

constexpr const wchar_t* kPatient = L"Doe^J\u00e4ne";

// A volume whose every slice carries a DICOM header naming the patient.
CVol* makeIdentifiedVolume() {
  CVol* vol = makeVolume(FRM_INT, 4, 3, 2, 1, L"patient.nii", 16);
  EXPECT_TRUE(VA_VolEnsureDicomHeaders(vol));
  for (int64_t i = 0; i < vol->numDicom; ++i) {
    DCMFF* header = VA_DicomRecGetHeader(vol->dicom[i]);
    EXPECT_TRUE(header && TWKDCM_SetStringW(header, TWKDCM_TAG(0x0010, 0x0010), kPatient) &&
                VA_DicomRecSetHeader(vol->dicom[i], header));
    TWKDCM_DeleteFF(&header);
  }
  return vol;
}

// A volume whose records hold the patient's name as a fact only: the save makes its headers.
CVol* makeVolumeOfFacts() {
  CVol* vol = makeVolume(FRM_INT, 4, 3, 2, 1, L"facts.nii", 16);
  vol->numDicom = 2;
  vol->dicom = static_cast<DICOMREC**>(pf_calloc(2 * int64_t(sizeof(DICOMREC*))));
  for (int i = 0; i < 2; ++i) {
    vol->dicom[i] = new DICOMREC;
    vol->dicom[i]->patientName = kPatient;
    vol->dicom[i]->modality = L"MR";
  }
  return vol;
}

bool namesPatient(CDrawDoc* doc) {
  CString** lines = nullptr;
  int count = 0;
  EXPECT_TRUE(doc->GetActiveSet()->ExtractPHIrecords(&lines, &count));
  bool found = false;
  for (int i = 0; i < count; ++i) {
    found = found || lines[i]->Find(kPatient) >= 0;
    delete lines[i];
  }
  pf_free(&lines);
  return found;
}

// Whether the bytes of a saved document hold the patient's name, or the part of it that any 8-bit
// text would hold, in UTF-8, Windows-1252 or UTF-16; compressed header blocks are unpacked first.
bool fileNamesPatient(const CString& path) {
  const std::vector<uint8_t> file = readAll(path);
  std::vector<uint8_t> bytes = file;
  const uint8_t magic[] = {'T', 'W', 'K', 'H'};
  for (auto at = file.begin(); (at = std::search(at, file.end(), magic, magic + 4)) != file.end(); ++at) {
    const size_t offset = size_t(at - file.begin());
    if (file.size() - offset < 24) break;
    uint64_t count = 0, size = 0;
    std::memcpy(&count, file.data() + offset + 8, 8);
    std::memcpy(&size, file.data() + offset + 16, 8);
    if (size == 0 || size > (uint64_t(1) << 26)) continue;
    std::vector<uint8_t> headers(size);
    if (VA_VolDecompressDicomHeaders(file.data() + offset, int64_t(file.size() - offset), int64_t(count),
                                     headers.data(), int64_t(size)))
      bytes.insert(bytes.end(), headers.begin(), headers.end());
  }
  const std::string needles[] = {CString(kPatient).toUtf8(), "Doe^J\xE4ne", twk::toUtf16LE(kPatient), "Doe^J",
                                 twk::toUtf16LE(L"Doe^J")};
  return std::any_of(std::begin(needles), std::end(needles), [&bytes](const std::string& needle) {
    return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
  });
}

TEST_F(DocumentFile, ProtectedHealthInformationChoiceBeforeSaveAs) {
  // "Deidentify and Save" (0) leaves no trace of the name in the file; "Save" (1) keeps it, which
  // shows that the scan of the file reaches the headers.
  const struct {
    int button;
    bool saved;
    bool keepsName;
  } cases[] = {{1, true, true}, {0, true, false}, {2, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    CDrawDoc doc;
    auto* set = new CDrawSet(&doc);
    set->AppendLayer(makeLayer(makeIdentifiedVolume()));
    set->AppendLayer(makeLayer(makeVolumeOfFacts()));
    add(&doc, set);
    ASSERT_TRUE(namesPatient(&doc));
    const CString path = scratch_.file("phi.twk");
    std::filesystem::remove(path.toUtf8());
    ui.clear();
    ui.answerThreeButtons(c.button);
    if (c.button != 2) ui.answerSaveFile(path);
    EXPECT_EQ(doc.Save(nullptr, nullptr, true, true, false), c.saved);
    EXPECT_FALSE(ui.pendingAnswers());
    EXPECT_EQ(ui.messageTypes.at(0), twk::ScriptedUi::kThreeButtonsEntry);
    if (!c.saved) {
      EXPECT_FALSE(std::filesystem::exists(path.toUtf8()));
      continue;
    }
    EXPECT_EQ(fileNamesPatient(path), c.keepsName);
    std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
    ASSERT_TRUE(back);
    EXPECT_EQ(namesPatient(back.get()), c.keepsName);
    EXPECT_EQ(namesPatient(&doc), c.keepsName);
  }
}

}  // namespace
