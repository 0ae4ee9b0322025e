#pragma once
// Documents of the older versions, written from their layouts field by field: the fixtures of the
// old-version tests and of the seed documents of the document reader's fuzz target.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DocumentFile.h"
#include "DocumentRecords.h"
#include "DynExp.h"
#include "FilesTestKit.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "VolumeHeaders.h"
#include "serial/FrameFile.h"

namespace twk::filestest {

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

inline twk::files::BASEREC baseOf(CDrawObj* obj, const DRECT& world) {
  twk::files::BASEREC rec;
  rec.marked = obj->marked;
  rec.opacity = obj->opacity;
  rec.world = world;
  rec.style = obj->style;
  rec.highlight = obj->highlight;
  return rec;
}

inline std::vector<uint8_t> frameBytes(const FRAME* frame) {
  MFILE* mf = PR_MemFileOpen(0);
  EXPECT_TRUE(PR_FrameWrite(mf, frame));
  std::vector<uint8_t> out = mf->bytes;
  PR_MemFileClose(&mf);
  return out;
}

inline std::vector<uint8_t> rawHeaders(const CVol* vol) {
  int64_t size = 0;
  void* bytes = twk::files::volumeHeaderBytes(vol, &size);
  EXPECT_TRUE(bytes);
  std::vector<uint8_t> out(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + size);
  pf_free(&bytes);
  return out;
}

inline std::vector<uint8_t> dynBlock() {
  MFILE* mf = PR_MemFileOpen(0);
  auto dynExp = std::make_unique<CDynExp>();
  EXPECT_TRUE(dynExp->Write(mf, false));
  std::vector<uint8_t> out = mf->bytes;
  PR_MemFileClose(&mf);
  return out;
}

inline int ownerPosition(CDrawDoc* doc, const CDrawSet* owner) {
  for (size_t i = 0; i < doc->objects.size(); ++i)
    if (doc->objects[i] == owner) return int(i);
  return -1;
}

inline void writeVectorRoi(Legacy& out, CDrawDoc* doc, CDrawSet* set) {
  const HIGHOBJ& h = *set->vroi;
  out.value(int32_t(DRAWOBJ_SET)).value(baseOf(set, set->position)).line(set->name.wstr()).value(uint8_t(1));
  out.line(CString(h.label).wstr()).value(h.kind).value(h.shape).value(int32_t(ownerPosition(doc, h.owner)));
  out.value(h.t0).value(h.t1).value(h.x0).value(h.y0).value(h.z0).value(h.x1).value(h.y1).value(h.z1);
}

// Version 8 to 16 volume layers; headers are stored raw.
inline void writeVolume(Legacy& out, int version, CDrawVol* layer, const DRECT& world) {
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

inline void writeSet(Legacy& out, int version, CDrawSet* set) {
  out.value(int32_t(DRAWOBJ_SET)).value(baseOf(set, set->position)).line(set->name.wstr()).value(uint8_t(0));
  out.value(int32_t(set->GetActive())).value(int32_t(set->NumLayers()));
  for (int i = 0; i < set->NumLayers(); ++i) writeVolume(out, version, set->GetLayer(i), set->position);
}

inline void writePoly(Legacy& out, int version, CDrawPoly* poly) {
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
inline std::vector<uint8_t> writeVersion(int version, CDrawDoc* doc) {
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
inline CDrawDoc* makeVersionDocument() {
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

// One header tree of a version-2.0 layer: a root and its elements.
inline std::vector<uint8_t> headerTree() {
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

inline double decoded(uint32_t code) { return code == VOID_INT_VALUE ? VOID_VALUE : code * (kHi - kLo) / 1.6e7 + kLo; }

// A version-2.0 document of a coded-real layer and an ROI layer with header trees, a stored slice
// beyond the depth and a vector ROI, with its version-17 equivalent.
struct Version2Fixture {
  std::unique_ptr<CDrawDoc> expected;
  CDrawVol* layer = nullptr;
  std::vector<uint8_t> bytes;
};

constexpr int kV2Depth = 4;

inline Version2Fixture makeVersion2() {
  const int w = 5, h = 4, d = kV2Depth;
  // The coded layer: codes of the voxel values, one voxel void.
  const FramePtr codedFrame(PR_FrameCreate(FRM_INT, 32, DIM3D{w, h, d, 1}, true));
  FRAME* coded = codedFrame.get();
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
  fixture.layer = layer;
  fixture.bytes = out.bytes;
  return fixture;
}

inline std::vector<uint8_t> polylineOnlyDocument(int version, int32_t declaredPoints) {
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

}  // namespace twk::filestest
