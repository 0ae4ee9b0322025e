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
#include "TextCodec.h"
#include "TwkDicom.h"
#include "VolumeHeaders.h"
#include "serial/FrameFile.h"

using namespace twk::filestest;

namespace {

// Little-endian bytes of an old document, field by field.
class Legacy {
 public:
  template <class T>
  Legacy& value(const T& v) {
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    bytes.insert(bytes.end(), p, p + sizeof v);
    return *this;
  }
  Legacy& raw(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + n);
    return *this;
  }
  Legacy& line(const std::wstring& text) {
    const std::string s = twk::toUtf16LE(text + L"\n");
    return raw(s.data(), s.size());
  }
  Legacy& unsignedField(uint64_t v, int width) {
    for (int b = 0; b < width; ++b) bytes.push_back(uint8_t(v >> (8 * b)));
    return *this;
  }
  std::vector<uint8_t> bytes;
};

twk::files::BASEREC baseOf(CDrawObj* obj, const DRECT& world) {
  twk::files::BASEREC rec;
  rec.marked = obj->marked;
  rec.opacity = obj->opacity;
  rec.world = world;
  rec.style = obj->style;
  rec.highlight = obj->highlight;
  return rec;
}

std::vector<uint8_t> frameBytes(const FRAME* frame) {
  MFILE* mf = PR_MemFileOpen(0);
  EXPECT_TRUE(PR_FrameWrite(mf, frame));
  std::vector<uint8_t> out = mf->bytes;
  PR_MemFileClose(&mf);
  return out;
}

std::vector<uint8_t> rawHeaders(const CVol* vol) {
  int64_t size = 0;
  void* bytes = twk::files::volumeHeaderBytes(vol, &size);
  EXPECT_TRUE(bytes);
  std::vector<uint8_t> out(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + size);
  pf_free(&bytes);
  return out;
}

std::vector<uint8_t> dynBlock() {
  MFILE* mf = PR_MemFileOpen(0);
  auto dynExp = std::make_unique<CDynExp>();
  EXPECT_TRUE(dynExp->Write(mf, false));
  std::vector<uint8_t> out = mf->bytes;
  PR_MemFileClose(&mf);
  return out;
}

int ownerPosition(CDrawDoc* doc, const CDrawSet* owner) {
  for (size_t i = 0; i < doc->objects.size(); ++i)
    if (doc->objects[i] == owner) return int(i);
  return -1;
}

void writeVectorRoi(Legacy& out, CDrawDoc* doc, CDrawSet* set) {
  const HIGHOBJ& h = *set->vroi;
  out.value(int32_t(DRAWOBJ_SET)).value(baseOf(set, set->position)).line(set->name.wstr()).value(uint8_t(1));
  out.line(CString(h.label).wstr()).value(h.kind).value(h.shape).value(int32_t(ownerPosition(doc, h.owner)));
  out.value(h.t0).value(h.t1).value(h.x0).value(h.y0).value(h.z0).value(h.x1).value(h.y1).value(h.z1);
}

// Version 8 to 16 volume layers; headers are stored raw.
void writeVolume(Legacy& out, int version, CDrawVol* layer, const DRECT& world) {
  const CVol* vol = layer->vol;
  twk::files::VOLBLOCK block;
  twk::files::packVolumeBlock(vol, &block);
  out.value(int32_t(DRAWOBJ_VOL)).value(baseOf(layer, world));
  out.raw(reinterpret_cast<const uint8_t*>(&layer->filter) + 1, 25);
  out.line(vol->name.wstr()).line(vol->unit.wstr()).value(block);
  if (version <= 15) out.raw(std::string(16, '\x5A').data(), 16);
  const std::vector<uint8_t> frame = frameBytes(vol->frame);
  out.raw(frame.data(), frame.size()).value(uint8_t(0));
  const std::vector<uint8_t> headers = rawHeaders(vol);
  if (version == 16) out.value(int64_t(headers.size())).value(-int64_t(headers.size()));
  else out.value(int64_t(headers.size()));
  out.raw(headers.data(), headers.size());
}

void writeSet(Legacy& out, int version, CDrawSet* set) {
  out.value(int32_t(DRAWOBJ_SET)).value(baseOf(set, set->position)).line(set->name.wstr()).value(uint8_t(0));
  out.value(int32_t(set->GetActive())).value(int32_t(set->NumLayers()));
  for (int i = 0; i < set->NumLayers(); ++i) writeVolume(out, version, set->GetLayer(i), set->position);
}

void writePoly(Legacy& out, int version, CDrawPoly* poly) {
  poly->ComputeBounds();
  out.value(int32_t(DRAWOBJ_POLY)).value(baseOf(poly, poly->position));
  const int32_t n = poly->NumPoints();
  if (version >= 14) {
    out.value(poly->slice).raw(poly->planePoint, 24).value(poly->spline).value(poly->reserved).value(poly->tension);
    out.value(poly->closed).value(poly->contourCount);
  } else {
    out.value(poly->contourCount).value(n).value(poly->slice).value(poly->spline).value(poly->reserved);
    out.value(poly->tension).value(poly->opacity).value(poly->closed);
  }
  out.raw(poly->pointsPerContour, size_t(poly->contourCount) * 4).raw(poly->points, size_t(n) * 16);
}

// A document of the given version (12 or 16) with the objects of doc.
std::vector<uint8_t> writeVersion(int version, CDrawDoc* doc) {
  Legacy out;
  out.line(FmtStr(L"Tarnwick v.%d document. Created with Build 460.", version).wstr()).value(int32_t(0x808080));
  VA_VOLPROJ view;
  view.slice = 1;
  view.rotation[2] = 90;
  out.raw(&view, version >= 15 ? 57 : 49);
  out.value(int32_t(doc->objects.size()));
  for (CDrawObj* o : doc->objects) {
    if (o->kind == DRAWOBJ_POLY) writePoly(out, version, static_cast<CDrawPoly*>(o));
    else if (static_cast<CDrawSet*>(o)->IsVectorRoi()) writeVectorRoi(out, doc, static_cast<CDrawSet*>(o));
    else writeSet(out, version, static_cast<CDrawSet*>(o));
  }
  const std::vector<uint8_t> block = dynBlock();
  out.raw(block.data(), block.size());
  return out.bytes;
}

// A document of a set of an integer and an ROI layer, a polyline and a vector ROI: what versions 5
// and later can hold.
CDrawDoc* makeVersionDocument() {
  auto* doc = new CDrawDoc;
  auto* set = new CDrawSet(doc);
  set->name = L"Series 4";
  set->highlight = 1;
  set->position = DRECT{0, 0, 9, 9};
  set->AppendLayer(makeLayer(makeVolume(FRM_INT, 6, 5, 3, 1, L"t2.nii", 16)));
  set->AppendLayer(makeLayer(makeVolume(FRM_ROI, 6, 5, 3, 1, L"roi.im"), 0x00FF00));
  set->SetActive(1);
  add(doc, set);
  add(doc, makePolyline());
  add(doc, makeVectorRoi(doc, set, "lesion", 0, 0, 0.25));
  return doc;
}

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

// One header tree of a version-2.0 layer: a root and its elements.
std::vector<uint8_t> headerTree() {
  struct Node {
    uint32_t tag;
    char vr[3];
    std::string value;
  };
  const Node nodes[] = {{0, "\0\0", ""},
                        {TWKDCM_TAG(0x0008, 0x0060), "CS", "MR"},
                        {TWKDCM_TAG(0x0010, 0x0010), "PN", "Old^Patient"},
                        {TWKDCM_TAG(0x0028, 0x0030), "DS", "0.75\\0.5"},
                        {TWKDCM_TAG(0x0018, 0x0088), "DS", "2"},
                        {TWKDCM_TAG(0x0018, 0x1314), "DS", "15"}};
  const uint32_t m = uint32_t(std::size(nodes));
  Legacy tree;
  tree.value(m).value(uint8_t(1)).value(uint8_t(2));
  for (uint32_t i = 0; i < m; ++i) {
    const Node& n = nodes[i];
    tree.value(n.tag).value(TWKDCM_VR(n.vr[0], n.vr[1])).unsignedField(0, 1).unsignedField(n.value.size(), 2);
    tree.raw(n.value.data(), n.value.size());
    if (i == 0) {
      tree.unsignedField(m - 1, 1);
      for (uint32_t c = 1; c < m; ++c) tree.unsignedField(c, 1);
    } else {
      tree.unsignedField(0, 1);
    }
  }
  Legacy slice;
  slice.value(int32_t(tree.bytes.size() + 4)).raw(tree.bytes.data(), tree.bytes.size());
  return slice.bytes;
}

constexpr double kLo = -100.0, kHi = 1500.0;

double decoded(uint32_t code) { return code == VOID_INT_VALUE ? VOID_VALUE : code * (kHi - kLo) / 1.6e7 + kLo; }

// A version-2.0 document of a coded-real layer and an ROI layer with header trees, a stored slice
// beyond the depth and a vector ROI, with its version-17 equivalent.
struct Version2Fixture {
  std::unique_ptr<CDrawDoc> expected;
  CDrawVol* layer = nullptr;
  std::vector<uint8_t> bytes;
};

constexpr int kV2Depth = 4;

Version2Fixture makeVersion2() {
  const int w = 5, h = 4, d = kV2Depth;
  // The coded layer: codes of the voxel values, one voxel void.
  FRAME* coded = PR_FrameCreate(FRM_INT, 32, DIM3D{w, h, d, 1}, true);
  auto code = [&](int x, int y, int z) { return x == 2 && y == 1 && z == 3 ? VOID_INT_VALUE : uint32_t((x + 10 * y + 100 * z) * 1000); };
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        reinterpret_cast<uint32_t*>(coded->data + (int64_t(z) * h + y) * coded->lineBytes)[x] = code(x, y, z);

  // Its version-17 equivalent: the decoded reals, void as 1e60.
  Version2Fixture fixture;
  fixture.expected = std::make_unique<CDrawDoc>();
  CDrawDoc* expected = fixture.expected.get();
  auto* set = new CDrawSet(expected);
  set->name = L"Old";
  set->position = DRECT{0, 0, 8, 8};
  CVol* real = makeVolume(FRM_REAL, w, h, d, 1, L"C:\\old\\scan.im");
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        reinterpret_cast<double*>(real->frame->data + (int64_t(z) * h + y) * real->frame->lineBytes)[x] = decoded(code(x, y, z));
  CDrawVol* layer = makeLayer(real);
  layer->filter.level = decoded(800000);
  layer->filter.width = decoded(1600000) - kLo;
  layer->filter.invert = 1;
  set->AppendLayer(layer);
  CDrawVol* roi = makeLayer(makeVolume(FRM_ROI, w, h, d, 1, L"C:\\old\\roi.im"), 0x0000FF);
  set->AppendLayer(roi);
  add(expected, set);
  add(expected, makeVectorRoi(expected, set, "old roi", 0, 0, 0));

  Legacy out;
  out.line(L"Tarnwick v.2.0 document").value(int32_t(0)).value(int32_t(5)).value(int32_t(99));
  out.value(int32_t(2));
  out.value(int32_t(DRAWOBJ_SET)).value(baseOf(set, set->position)).line(L"Old").value(uint8_t(0));
  out.value(int32_t(0)).value(int32_t(2));
  struct OldFilter {
    int32_t level, width;
    uint8_t invert;
    int32_t scheme, roiColor;
  } __attribute__((packed));
  const std::vector<uint8_t> tree = headerTree();
  auto oldLayer = [&](CDrawVol* l, const FRAME* frame, const OldFilter& filter, double lo, double hi) {
    out.value(int32_t(DRAWOBJ_VOL)).value(baseOf(l, set->position)).value(filter);
    out.line(l->vol->name.wstr()).line(l->vol->unit.wstr()).value(lo).value(hi);
    const std::vector<uint8_t> frameData = frameBytes(frame);
    out.raw(frameData.data(), frameData.size());
    // Stored dynamics: one 64-byte record.
    out.value(uint8_t(1));
    const double old[8] = {0, 5, 0.03, 0.9, 0, 7, 7, 7};
    out.raw(old, 64);
    for (int s = 0; s < d; ++s) out.raw(tree.data(), tree.size());
  };
  oldLayer(layer, coded, OldFilter{800000, 1600000, 1, layer->filter.scheme, 0}, kLo, kHi);
  oldLayer(roi, roi->vol->frame, OldFilter{120, 240, 0, 0, 0x0000FF}, VOID_VALUE, VOID_VALUE);
  writeVectorRoi(out, expected, static_cast<CDrawSet*>(expected->objects[1]));
  PR_FrameDelete(&coded);
  fixture.layer = layer;
  fixture.bytes = out.bytes;
  return fixture;
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

std::vector<uint8_t> polylineOnlyDocument(int version, int32_t declaredPoints) {
  std::unique_ptr<CDrawPoly> poly(makePolyline());
  Legacy out;
  out.line(FmtStr(L"Tarnwick v.%d document", version).wstr()).value(int32_t(0));
  VA_VOLPROJ view;
  out.raw(&view, 49).value(int32_t(1));
  out.value(int32_t(DRAWOBJ_POLY)).value(baseOf(poly.get(), poly->position));
  out.value(poly->contourCount).value(declaredPoints).value(poly->slice).value(poly->spline).value(poly->reserved);
  out.value(poly->tension).value(poly->opacity).value(poly->closed);
  out.raw(poly->pointsPerContour, 8).raw(poly->points, 7 * 16);
  const std::vector<uint8_t> block = dynBlock();
  out.raw(block.data(), block.size());
  return out.bytes;
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

// Writes the seed documents of the reader's fuzz target into the source tree; run by hand with
// --gtest_also_run_disabled_tests --gtest_filter=*FuzzSeeds* when the format changes.
TEST_F(OldVersions, DISABLED_WriteFuzzSeeds) {
  const std::string folder = std::string(TWK_SOURCE_DIR) + "/app/files/fuzz_seeds/";
  auto save = [&](CDrawDoc* doc, const char* name) {
    const CString path = CString::fromUtf8(folder + name);
    ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  };
  std::unique_ptr<CDrawDoc> fixture(makeFixtureDocument());
  save(fixture.get(), "fixture_v17.twk");
  CDrawDoc empty;
  save(&empty, "empty_v17.twk");
  CDrawDoc shapes;
  add(&shapes, makePolyline());
  add(&shapes, new CDrawRect(DRAWOBJ_ELLIPSE, DRECT{0, 0, 2, 3}));
  add(&shapes, new CDrawArc(DRECT{0, 0, 4, 4}));
  add(&shapes, makeVectorRoi(&shapes, nullptr, "free", 0, 1, 0));
  save(&shapes, "shapes_v17.twk");
  std::unique_ptr<CDrawDoc> versioned(makeVersionDocument());
  writeAll(CString::fromUtf8(folder + "version16.twk"), writeVersion(16, versioned.get()));
  writeAll(CString::fromUtf8(folder + "version12.twk"), writeVersion(12, versioned.get()));
  writeAll(CString::fromUtf8(folder + "version10_poly.twk"), polylineOnlyDocument(10, 7));
  writeAll(CString::fromUtf8(folder + "version2.twk"), makeVersion2().bytes);
}

}  // namespace
