// Reading document files: the version dispatch, the current reader and the object loaders of
// every version.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "AppOptions.h"
#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "DocMessages.h"
#include "DocumentFile.h"
#include "DocumentReaders.h"
#include "DocumentRecords.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawVol.h"
#include "DynExp.h"
#include "HighObj.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "VolumeHeaders.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "serial/FrameFile.h"
#include "serial/MemFile.h"
#include "volume/Frame.h"

namespace twk::files {
namespace {

// Owner positions of the vector-ROI sets read so far, per document being read.
std::map<const CDrawDoc*, std::vector<std::pair<CDrawSet*, int32_t>>>& pendingOwners() {
  static std::map<const CDrawDoc*, std::vector<std::pair<CDrawSet*, int32_t>>> owners;
  return owners;
}

CString versionName(const wchar_t* base, int version) {
  if (version == 17) return base;
  return FmtStr(L"%s_v%d", base, version);
}

// ---- polylines ----

CDrawObj* loadPoly(CDrawDoc* doc, FILE* fp, const ReadContext& c) {
  const int v = c.version;
  // Versions 11 and later name their loader in the messages; the mismatch of counts is reported
  // from version 10 on, whose loader used not to check it.
  const CString prefix = versionName(L"LoadDrawPoly", v);
  const bool namesShortRead = v >= 11;
  auto poly = std::make_unique<CDrawPoly>(1, 1, false, 0.0, false, 0, nullptr);
  poly->document = doc;
  if (!poly->pointsPerContour || !poly->points || !readBaseRecord(fp, poly.get())) return nullptr;
  int32_t contours = 0, declaredPoints = 0, opacity = 0;
  if (v >= 14) {
    if (!readValue(fp, &poly->slice) || !readBytes(fp, poly->planePoint, 24) || !readValue(fp, &poly->spline) ||
        !readValue(fp, &poly->reserved) || !readValue(fp, &poly->tension) || !readValue(fp, &poly->closed) ||
        !readValue(fp, &contours))
      return nullptr;
  } else {
    if (!readValue(fp, &contours) || !readValue(fp, &declaredPoints) || !readValue(fp, &poly->slice) ||
        !readValue(fp, &poly->spline) || !readValue(fp, &poly->reserved) || !readValue(fp, &poly->tension))
      return nullptr;
    if (v >= 10) {
      if (!readValue(fp, &opacity) || !readValue(fp, &poly->closed)) return nullptr;
      poly->opacity = opacity;
    }
  }
  // Counts are checked against the record's rules and the bytes left before anything is taken.
  auto pointsFailed = [&]() -> CDrawObj* {
    if (namesShortRead) twk::doc::message(prefix, L"Polyline loading points failed");
    return nullptr;
  };
  if (contours < 1 || int64_t(contours) * 4 > bytesLeft(fp)) return pointsFailed();
  if (!pf_realloc(&poly->pointsPerContour, int64_t(contours) * 4)) return nullptr;
  poly->contourCount = contours;
  if (!readBytes(fp, poly->pointsPerContour, int64_t(contours) * 4)) return pointsFailed();
  int64_t total = 0;
  const int64_t pointsLeft = bytesLeft(fp) / 16;
  for (int32_t k = 0; k < contours; ++k) {
    if (poly->pointsPerContour[k] < 0) return pointsFailed();
    total += poly->pointsPerContour[k];
    if (total > pointsLeft) break;  // more than the file holds: refused below, before any sum overflows
  }
  // Before version 14 the point count is stored too; the contour counts must add up to it.
  if (v < 14 && total != declaredPoints) {
    if (v >= 10) twk::doc::message(prefix, L"Polyline loading Boundary Array mismatch");
    return nullptr;
  }
  if (total * 16 > bytesLeft(fp)) return pointsFailed();
  if (!pf_realloc(&poly->points, std::max<int64_t>(1, total) * int64_t(sizeof(DPOINT)))) return nullptr;
  if (!readBytes(fp, poly->points, total * int64_t(sizeof(DPOINT)))) return pointsFailed();
  return poly.release();
}

// ---- rectangles, ellipses and arcs ----

CDrawObj* loadRect(CDrawDoc* doc, FILE* fp, int kind) {
  DRECT rect;
  int32_t highlight = 0;
  DRAWSTYLE style;
  if (!readValue(fp, &rect) || !readValue(fp, &highlight) || !readValue(fp, &style)) return nullptr;
  auto* obj = new CDrawRect(kind, rect);
  obj->document = doc;
  obj->highlight = highlight;
  obj->style = style;
  return obj;
}

CDrawObj* loadArc(CDrawDoc* doc, FILE* fp) {
  int32_t highlight = 0;
  DRAWSTYLE style;
  DRECT rect;
  DPOINT start, end;
  if (!readValue(fp, &highlight) || !readValue(fp, &style) || !readValue(fp, &rect) || !readValue(fp, &start) ||
      !readValue(fp, &end))
    return nullptr;
  auto* obj = new CDrawArc(rect);
  obj->document = doc;
  obj->highlight = highlight;
  obj->style = style;
  obj->start = start;
  obj->end = end;
  return obj;
}

// ---- layer sets ----

CDrawObj* loadSet(CDrawDoc* doc, FILE* fp, const ReadContext& c) {
  auto set = std::make_unique<CDrawSet>(doc);
  uint8_t vectorRoi = 0;
  if (!readBaseRecord(fp, set.get()) || !readLine(fp, &set->name) || !readValue(fp, &vectorRoi) || vectorRoi > 1)
    return nullptr;
  set->displayUnmarked = 0;
  if (vectorRoi) {
    CString label;
    auto* h = static_cast<HIGHOBJ*>(pf_calloc(int64_t(sizeof(HIGHOBJ))));
    if (!h) return nullptr;
    set->vroi = h;
    int32_t owner = -1;
    if (!readLine(fp, &label) || !readValue(fp, &h->kind) || !readValue(fp, &h->shape) || !readValue(fp, &owner) ||
        !readValue(fp, &h->t0) || !readValue(fp, &h->t1) || !readValue(fp, &h->x0) || !readValue(fp, &h->y0) ||
        !readValue(fp, &h->z0) || !readValue(fp, &h->x1) || !readValue(fp, &h->y1) || !readValue(fp, &h->z1))
      return nullptr;
    // At most 127 characters fit the record; a longer label is cut.
    TstrToCstr(label, h->label, sizeof h->label);
    h->owner = nullptr;
    pendingOwners()[doc].emplace_back(set.get(), owner);
    return set.release();
  }
  int32_t active = 0, count = 0, cell = 1;
  uint8_t interlace = 0;
  if (!readValue(fp, &active) || !readValue(fp, &count)) return nullptr;
  if (c.version == 17 && (!readValue(fp, &interlace) || !readValue(fp, &cell))) return nullptr;
  if (count < 0 || int64_t(count) * kMinLayerRecord > bytesLeft(fp)) return nullptr;
  set->interlaceMode = interlace;
  set->interlaceCell = cell;
  for (int32_t i = 0; i < count; ++i) {
    CDrawObj* layer = loadObject(doc, fp, c);
    if (!layer) return nullptr;
    if (layer->kind != DRAWOBJ_VOL) {
      delete layer;
      return nullptr;
    }
    set->AppendLayer(layer);
  }
  // The stored index is applied once the layers are there, so that it is checked against them; an
  // index outside the layers is refused with its message and the set keeps layer 0 active.
  set->SetActive(active);
  return set.release();
}

// ---- volume layers ----

// Header trees of versions 2.0 to 7, one per slice: int32 length (counting itself), then uint32
// node count M, byte W1, byte W2 and the nodes: uint32 tag, uint16 VR, W1-byte field, W2-byte value
// length V, V value bytes, W3-byte child count K and K W3-byte child indices (W3 = 1 for M <= 255,
// 2 for M < 65536, else 4).
class TreeParser {
 public:
  TreeParser(const uint8_t* bytes, int64_t size) : at_(bytes), left_(size) {}

  DCMNODE* parse() {
    uint32_t m = 0;
    uint64_t w1 = 0, w2 = 0;
    if (!number(4, &m64_) || !number(1, &w1) || !number(1, &w2)) return nullptr;
    m = uint32_t(m64_);
    if (m < 1 || w1 < 1 || w1 > 8 || w2 < 1 || w2 > 8) return nullptr;
    const int w3 = m <= 255 ? 1 : m < 65536 ? 2 : 4;
    if (int64_t(m) * (4 + 2 + int64_t(w1) + int64_t(w2) + w3) > left_) return nullptr;
    std::vector<DCMNODE*> nodes(m, nullptr);
    std::vector<std::vector<uint32_t>> children(m);
    bool ok = true;
    for (uint32_t i = 0; ok && i < m; ++i) {
      uint64_t tag = 0, vr = 0, field = 0, length = 0, childCount = 0;
      ok = number(4, &tag) && number(2, &vr) && number(int(w1), &field) && number(int(w2), &length) &&
           length <= uint64_t(left_);
      if (!ok) break;
      nodes[i] = TWKDCM_NewDCMNODE(uint32_t(tag), uint16_t(vr), at_, int64_t(length));
      at_ += length;
      left_ -= int64_t(length);
      ok = nodes[i] && number(w3, &childCount) && childCount < m && int64_t(childCount) * w3 <= left_;
      for (uint64_t k = 0; ok && k < childCount; ++k) {
        uint64_t child = 0;
        ok = number(w3, &child) && child > 0 && child < m;
        if (ok) children[i].push_back(uint32_t(child));
      }
    }
    // Attach breadth first from the root; a node reached twice (a cycle or a shared child) makes
    // the tree invalid. Nodes that are not reached are freed on their own.
    std::vector<bool> attached(m, false);
    attached[0] = true;
    std::deque<uint32_t> pending{0};
    while (ok && !pending.empty()) {
      const uint32_t parent = pending.front();
      pending.pop_front();
      for (uint32_t child : children[parent]) {
        if (attached[child]) {
          ok = false;
          break;
        }
        if (!TWKDCM_AddDCMNODEchild(nodes[parent], nodes[child])) {
          ok = false;
          break;
        }
        attached[child] = true;
        pending.push_back(child);
      }
    }
    for (uint32_t i = 1; i < m; ++i)
      if (!attached[i]) TWKDCM_DeleteDCMNODE(&nodes[i]);
    if (!ok) TWKDCM_DeleteDCMNODE(&nodes[0]);
    return nodes[0];
  }

 private:
  bool number(int width, uint64_t* value) {
    if (width > left_) return false;
    *value = pf_readUIHT64(const_cast<uint8_t**>(&at_), width);
    left_ -= width;
    return true;
  }

  const uint8_t* at_;
  int64_t left_;
  uint64_t m64_ = 0;
};

struct TreeList {
  std::vector<DCMNODE*> trees;
  ~TreeList() {
    for (DCMNODE*& tree : trees) TWKDCM_DeleteDCMNODE(&tree);
  }
};

bool readHeaderTrees(FILE* fp, int64_t count, TreeList* list) {
  if (count > bytesLeft(fp) / 10) return false;
  list->trees.assign(size_t(count), nullptr);
  for (int64_t i = 0; i < count; ++i) {
    int32_t length = 0;
    if (!readValue(fp, &length) || length < 10 || int64_t(length) - 4 > bytesLeft(fp)) return false;
    std::vector<uint8_t> bytes(size_t(length) - 4);
    if (!readBytes(fp, bytes.data(), int64_t(bytes.size()))) return false;
    list->trees[size_t(i)] = TreeParser(bytes.data(), int64_t(bytes.size())).parse();
    if (!list->trees[size_t(i)]) return false;
  }
  return true;
}

double treeNumber(const DCMNODE* tree, uint32_t tag) {
  wchar_t* text = TWKDCM_GetFirstConvertVal(TWKDCM_FindDCMNODE(tree, tag));
  double value = VOID_VALUE;
  if (text) {
    wchar_t* end = nullptr;
    const double v = std::wcstod(text, &end);
    if (end != text && std::isfinite(v)) value = v;
  }
  pf_free(&text);
  return value;
}

// Coded reals of versions 2.0 to 6: code c stands for c x (hi - lo) / 1.6e7 + lo, or c itself when
// lo is undefined.
double decodeValue(double code, double lo, double hi) {
  return lo == VOID_VALUE ? code : code * (hi - lo) / 1.6e7 + lo;
}

// A real frame from an integer frame of coded values; 0xFFFFFF codes void (1e60).
FRAME* decodeFrame(const FRAME* coded, double lo, double hi) {
  FRAME* real = PR_FrameCreate(FRM_REAL, 64, coded->dim, false);
  if (!real) return nullptr;
  const int64_t lines = int64_t(coded->dim.h) * coded->dim.d * coded->dim.t;
  for (int64_t line = 0; line < lines; ++line) {
    const uint8_t* in = coded->data + line * coded->lineBytes;
    auto* out = reinterpret_cast<double*>(real->data + line * real->lineBytes);
    for (int x = 0; x < coded->dim.w; ++x) {
      uint32_t c = 0;
      if (coded->bpv == 8) c = in[x];
      else if (coded->bpv == 16) c = uint32_t(in[2 * x]) | uint32_t(in[2 * x + 1]) << 8;
      else std::memcpy(&c, in + 4 * x, 4);
      out[x] = c == VOID_INT_VALUE ? VOID_VALUE : decodeValue(double(c), lo, hi);
    }
  }
  return real;
}

#pragma pack(push, 1)
struct OLDFILTER {
  int32_t level = 0, width = 0;
  uint8_t invert = 0;
  int32_t scheme = 0, roiColor = 0;
};
#pragma pack(pop)
static_assert(sizeof(OLDFILTER) == 17, "the old display filter is 17 bytes");

struct VolumeParts {
  FramePtr frame;
  DICOMREC** records = nullptr;
  int64_t recordCount = 0;
  uint8_t* headerBytes = nullptr;
  ~VolumeParts() {
    TW_FreeDicomRecArray(&records, int(recordCount));
    pf_free(&headerBytes);
  }
};

// The header bytes of versions 8 to 17 at the stream's position.
bool readHeaderBytes(FILE* fp, const ReadContext& c, const CString& prefix, int64_t count, VolumeParts* parts,
                     int64_t* size) {
  const int v = c.version;
  auto zeroSize = [&]() {
    twk::doc::message(prefix, L"Invalid TWK file : total DICOM headers size is zero.");
    return false;
  };
  int64_t headerSize = 0, stored = 0;
  if (v >= 16) {
    if (!readValue(fp, &headerSize) || !readValue(fp, &stored)) return false;
    if (stored == 0) return zeroSize();
    if (headerSize <= 0) return false;
  } else {
    if (!readValue(fp, &stored)) return false;
    if (stored == 0 && v >= 10) return zeroSize();
    if (stored <= 0 && v < 14) return false;
    headerSize = stored < 0 ? -stored : 0;
  }
  if (stored < 0) {
    // Raw headers: exactly the header size, within the file.
    if (-stored != headerSize || headerSize > bytesLeft(fp)) return false;
    parts->headerBytes = static_cast<uint8_t*>(pf_malloc(headerSize));
    *size = headerSize;
    return parts->headerBytes && readBytes(fp, parts->headerBytes, headerSize);
  }
  if (stored > bytesLeft(fp)) return false;
  std::vector<uint8_t> packed(static_cast<size_t>(stored));
  if (!readBytes(fp, packed.data(), stored)) return false;
  if (v >= 16) {
    // Deflate cannot shrink data by more than about 1:1032, so a larger header size is damage.
    if (headerSize / 1100 > stored) return false;
    parts->headerBytes = unpackHeaderBytes(packed.data(), stored, headerSize, count);
    *size = headerSize;
  } else if (v >= 14) {
    parts->headerBytes = PR_gunzip_to_buf(packed.data(), stored, size);
  } else {
    parts->headerBytes = static_cast<uint8_t*>(pf_malloc(stored));
    if (parts->headerBytes) std::memcpy(parts->headerBytes, packed.data(), size_t(stored));
    *size = stored;
  }
  return parts->headerBytes != nullptr;
}

bool readVolRecord(CDrawVol* layer, FILE* fp, const ReadContext& c, const CString& prefix) {
  const int v = c.version;
  CString name, unit;
  OLDFILTER oldFilter;
  VOLBLOCK block;
  double range[2] = {VOID_VALUE, VOID_VALUE};
  if (!readBaseRecord(fp, layer)) return false;
  if (v == 17) {
    if (!readValue(fp, &layer->filter)) return false;
  } else if (v >= 7) {
    layer->filter = PR_VIEWFILT{};
    if (!readBytes(fp, reinterpret_cast<uint8_t*>(&layer->filter) + 1, 25)) return false;
  } else if (!readValue(fp, &oldFilter)) {
    return false;
  }
  if (!readLine(fp, &name) || !readLine(fp, &unit)) return false;
  if (v >= 9 && !readValue(fp, &block)) return false;
  if (v >= 7 && v <= 15 && !skipBytes(fp, 16)) return false;
  if (v <= 6 && !readBytes(fp, range, 16)) return false;

  VolumeParts parts;
  parts.frame.reset(PR_FrameReadFile(fp, c.showProgress, 90));
  if (!parts.frame) return false;
  const DIM3D dim = parts.frame->dim;
  const int64_t count = int64_t(dim.d) * dim.t;

  const double lo = std::min(range[0], range[1]), hi = std::max(range[0], range[1]);
  if (v <= 6) {
    if (parts.frame->type == FRM_INT && range[0] != VOID_VALUE) {
      parts.frame.reset(decodeFrame(parts.frame.get(), lo, hi));
      if (!parts.frame) return false;
    }
    layer->filter = PR_VIEWFILT{};
    layer->filter.level = decodeValue(oldFilter.level, lo, hi);
    layer->filter.width = decodeValue(oldFilter.width, lo, hi);
    layer->filter.invert = oldFilter.invert;
    layer->filter.scheme = oldFilter.scheme;
    layer->filter.roiColor = oldFilter.roiColor;
  }

  uint8_t dynFlag = 0;
  std::vector<DYNCRD> stored;
  if (!readValue(fp, &dynFlag) || dynFlag > 1) return false;
  if (dynFlag) {
    const int64_t recordSize = v <= 5 ? 64 : 72;
    if (int64_t(dim.t) * recordSize > bytesLeft(fp)) return false;
    if (v == 8) {
      if (!skipBytes(fp, int64_t(dim.t) * recordSize)) return false;
      dynFlag = 0;
    } else {
      stored.resize(size_t(dim.t));
      for (DYNCRD& d : stored) {
        if (v <= 5) {
          double old[8];
          if (!readBytes(fp, old, 64)) return false;
          std::memcpy(static_cast<void*>(&d), old, 40);
          d.spinLockTime = d.flipAngle = d.repetitionTime = d.reserved = VOID_VALUE;
        } else if (!readValue(fp, &d)) {
          return false;
        }
      }
    }
  }
  PR_SendMessage(90, c.showProgress);

  double volumeFlipAngle = VOID_VALUE;
  if (v >= 8) {
    int64_t size = 0;
    if (!readHeaderBytes(fp, c, prefix, count, &parts, &size)) return false;
    parts.records = recordsFromHeaderBytes(parts.headerBytes, size, count);
    if (!parts.records) return false;
    parts.recordCount = count;
  } else {
    TreeList trees;
    if (!readHeaderTrees(fp, count, &trees)) return false;
    PR_SendMessage(95, c.showProgress);
    volumeFlipAngle = treeNumber(trees.trees[0], TWKDCM_TAG(0x0018, 0x1314));
    if (v <= 5)
      for (DYNCRD& d : stored) d.flipAngle = volumeFlipAngle;
    parts.records = static_cast<DICOMREC**>(pf_calloc(count * int64_t(sizeof(DICOMREC*))));
    if (!parts.records) return false;
    parts.recordCount = count;
    for (int64_t i = 0; i < count; ++i) {
      const int t = int(i / dim.d);
      parts.records[i] = recordFromTree(trees.trees[size_t(i)], parts.frame.get(), t, int(i % dim.d),
                                        stored.empty() ? nullptr : &stored[size_t(t)]);
      if (!parts.records[i]) return false;
    }
  }

  FRAME* lent = parts.frame.release();
  CVol* vol = volumeFromRecords(&lent, &parts.records, count);
  parts.frame.reset(lent);
  if (!vol) return false;
  parts.recordCount = 0;
  layer->vol = vol;
  if (!stored.empty()) std::copy(stored.begin(), stored.end(), vol->dyn);
  if (v <= 5)
    for (int t = 0; t < dim.t; ++t) vol->dyn[t].flipAngle = volumeFlipAngle;
  if (v >= 9) unpackVolumeBlock(block, vol);
  vol->name = v >= 8 ? PR_GetFileTitle(name) : name;
  vol->unit = unit;
  if (v == 4 || v >= 7) {
    if (!vol->EnforceChronoOrder(false)) return false;
    vol->Spc(false);
  } else if (v == 5 || v == 6) {
    if (!vol->EnforceChronoOrder(false)) return false;
  }
  return true;
}

CDrawObj* loadVol(CDrawDoc* doc, FILE* fp, const ReadContext& c) {
  auto* layer = new CDrawVol;
  layer->document = doc;
  twk::ProgressGuard progress(L"Loading image data...", c.showProgress);
  const bool ok = readVolRecord(layer, fp, c, versionName(L"LoadDrawVol", c.version));
  progress.End();
  if (ok) return layer;
  delete layer;
  twk::doc::information(L"Failed to load DrawVol object");
  return nullptr;
}

}  // namespace

CDrawObj* loadObject(CDrawDoc* doc, FILE* fp, const ReadContext& c) {
  int32_t tag = 0;
  if (!readValue(fp, &tag)) return nullptr;
  switch (tag) {
    case DRAWOBJ_POLY: return c.version >= 5 ? loadPoly(doc, fp, ReadContext{c.version, false}) : nullptr;
    case DRAWOBJ_SET: return loadSet(doc, fp, c);
    case DRAWOBJ_VOL: return loadVol(doc, fp, c);
    case DRAWOBJ_RECT:
    case DRAWOBJ_ROUNDRECT:
    case DRAWOBJ_ELLIPSE: return c.version == 17 ? loadRect(doc, fp, tag) : nullptr;
    case DRAWOBJ_ARC: return c.version == 17 ? loadArc(doc, fp) : nullptr;
    default: return nullptr;
  }
}

bool readObjects(CDrawDoc* doc, FILE* fp, const ReadContext& c) {
  int32_t count = 0;
  if (!readValue(fp, &count) || count < 0 || int64_t(count) * kMinObjectRecord > bytesLeft(fp)) return false;
  for (int32_t i = 0; i < count; ++i) {
    CDrawObj* obj = loadObject(doc, fp, c);
    if (!obj) return false;
    doc->AddObject(&obj, true);
  }
  return true;
}

void resolveVectorRoiOwners(CDrawDoc* doc) {
  auto& all = pendingOwners();
  const auto found = all.find(doc);
  if (found == all.end()) return;
  const auto& objects = doc->objects;
  for (const auto& [set, position] : found->second) {
    if (std::find(objects.begin(), objects.end(), static_cast<CDrawObj*>(set)) == objects.end() || !set->vroi) continue;
    CDrawObj* owner = position >= 0 && size_t(position) < objects.size() ? objects[size_t(position)] : nullptr;
    // Only a volume set can own a vector ROI; anything else stored there counts as no owner.
    const bool volumeSet = owner && owner->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(owner)->IsVolumeSet();
    set->vroi->owner = volumeSet ? static_cast<CDrawSet*>(owner) : nullptr;
  }
  all.erase(found);
}

void dropPendingOwners(CDrawDoc* doc) { pendingOwners().erase(doc); }

bool readBackgroundColour(CDrawDoc* doc, FILE* fp) {
  int32_t colour = 0;
  if (!readValue(fp, &colour)) return false;
  doc->backgroundColor = TW_Options().docBackgroundColor;
  return true;
}

bool readDynExp(FILE* fp, int version, const wchar_t* path) {
  // Without the option the block is still read and checked, into a scratch host.
  std::unique_ptr<CDynExp> scratch;
  CDynExp* target = TW_DocumentDynExp();
  if (!TW_Options().loadDmdbFromTwk) {
    scratch = std::make_unique<CDynExp>();
    target = scratch.get();
  }
  if (!target) return false;
  switch (version) {
    case 17: return target->Load(path, fp, !scratch);
    case 16: return target->Load_v16(path, fp);
    case 15: return target->Load_v15(path, fp);
    case 14: return target->Load_v14(path, fp);
    case 11:
    case 12: return target->Load_v11_v12(path, fp);
    default: return target->Load_v2_v10(path, fp);
  }
}

}  // namespace twk::files

using namespace twk::files;

bool CDrawObj::Read(FILE* fp) { return readBaseRecord(fp, this); }

CDrawObj* LoadDrawObj(CDrawDoc* doc, FILE* fp, bool showProgress) {
  return loadObject(doc, fp, ReadContext{17, showProgress});
}

CDrawObj* LoadDrawPoly(CDrawDoc* doc, FILE* fp, bool) { return loadPoly(doc, fp, ReadContext{17, false}); }
CDrawObj* LoadDrawSet(CDrawDoc* doc, FILE* fp, bool showProgress) {
  return loadSet(doc, fp, ReadContext{17, showProgress});
}
CDrawObj* LoadDrawVol(CDrawDoc* doc, FILE* fp, bool showProgress) {
  return loadVol(doc, fp, ReadContext{17, showProgress});
}

namespace {

bool loadCurrentVersion(CDrawDoc* doc, FILE* fp, const wchar_t* path, bool showProgress) {
  VA_VOLPROJ saved;
  if (!readBackgroundColour(doc, fp) || !readValue(fp, &saved)) return false;
  pf_free(&doc->storedProjection);
  doc->storedProjection = static_cast<VA_VOLPROJ*>(pf_calloc(int64_t(sizeof(VA_VOLPROJ))));
  if (!doc->storedProjection) return false;
  *doc->storedProjection = saved;
  if (!readObjects(doc, fp, ReadContext{17, showProgress})) return false;
  if (!readDynExp(fp, 17, path)) {
    twk::doc::message(L"CDrawDoc::Load", L"Unable to load Dynamic Experiment from TWK file");
    return false;
  }
  resolveVectorRoiOwners(doc);
  return true;
}

// The older version texts and their version numbers (2 and 3 stand for 2.0 and 3.0).
constexpr struct {
  const wchar_t* text;
  int version;
} kOldVersions[] = {{L"Tarnwick v.2.0 document", 2}, {L"Tarnwick v.3.0 document", 3}, {L"Tarnwick v.4 document", 4},
                    {L"Tarnwick v.5 document", 5},   {L"Tarnwick v.6 document", 6},   {L"Tarnwick v.7 document", 7},
                    {L"Tarnwick v.8 document", 8},   {L"Tarnwick v.9 document", 9},   {L"Tarnwick v.10 document", 10},
                    {L"Tarnwick v.11 document", 11}, {L"Tarnwick v.12 document", 12}, {L"Tarnwick v.14 document", 14},
                    {L"Tarnwick v.15 document", 15}, {L"Tarnwick v.16 document", 16}};

// The first line of the file: 16-bit characters up to the line feed, at most 4096 of them. False
// only for a file without a single character; a file that is no document gives some other text.
bool readHeaderLine(FILE* fp, CString* line) {
  std::u16string units;
  unsigned char pair[2];
  while (units.size() < 4096 && std::fread(pair, 1, 2, fp) == 2) {
    const char16_t unit = char16_t(pair[0] | pair[1] << 8);
    if (unit == u'\n') break;
    units.push_back(unit);
  }
  if (units.empty() && std::ftell(fp) <= 0) return false;
  *line = CString(twk::fromUtf16LE(units.data(), units.size() * 2, false));
  return true;
}

}  // namespace

bool TW_IsTarnwickDocumentFile(const wchar_t* path) {
  FILE* fp = path ? std::fopen(twk::pathToNative(path).c_str(), "rb") : nullptr;
  if (!fp) return false;
  CString header;
  const bool read = readHeaderLine(fp, &header);
  std::fclose(fp);
  return read && header.Find(L"Tarnwick v.") == 0 && header.Find(L" document") > 0;
}

bool CDrawDoc::Load(const wchar_t* path, bool showProgress) {
  if (!TW_CheckTempFolder()) return false;
  SetModifiedFlag(false);
  FILE* fp = path ? std::fopen(twk::pathToNative(path).c_str(), "rb") : nullptr;
  if (!fp) return false;
  CString header;
  bool ok = false;
  dropPendingOwners(this);
  if (readHeaderLine(fp, &header)) {
    if (header.Find(L"Tarnwick v.1.0 document") >= 0) {
      twk::doc::message(L"CDrawDoc::Load",
                        CString(L"This older TWK format is not supported.") + L"\n" +
                            L"Load this file in the older version of Tarnwick and\\or recreate it from original RAW or "
                            L"DICOM data.");
    } else if (header.Find(TW_TWK_HEADER_V17) >= 0) {
      ok = loadCurrentVersion(this, fp, path, showProgress);
    } else {
      for (const auto& old : kOldVersions) {
        if (header.Find(old.text) < 0) continue;
        ok = loadOldDocument(this, fp, old.version, path, showProgress);
        break;
      }
      if (!ok) twk::doc::message(L"CDrawDoc::Load", L"Invalid TWK format header");
    }
  }
  dropPendingOwners(this);
  std::fclose(fp);
  return ok;
}

CDrawDoc* TW_LoadDocumentNoView(const wchar_t* path, bool showProgress) {
  auto* doc = new CDrawDoc;
  if (!doc->Load(path, showProgress)) {
    delete doc;
    twk::doc::information(FmtStr(L"Failed to load document : %s", path ? path : L""));
    return nullptr;
  }
  doc->SetPathName(path);
  doc->SetModifiedFlag(false);
  return doc;
}
