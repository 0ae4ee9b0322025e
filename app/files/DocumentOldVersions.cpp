// Readers of the older document versions 2.0 to 16. Each reads its own header fields and view
// record, then the objects with its version's loaders, and gives the same document as the current
// reader; nothing is ever written in an older version.
#include <cstring>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DocumentReaders.h"
#include "DocumentRecords.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "TwkMem.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"

namespace twk::files {
namespace {

VA_VOLPROJ zeroedRecord() {
  VA_VOLPROJ rec;
  rec.view = nullptr;
  rec.rotation[0] = rec.rotation[1] = rec.rotation[2] = 0;
  rec.slice = rec.timeIndex = rec.projType = rec.mode = 0;
  rec.filmView = 0;
  rec.slabThickness = 0;
  return rec;
}

// The saved view record of versions 3.0 to 14, widened to the current record.
bool readOldViewRecord(FILE* fp, int version, VA_VOLPROJ* out) {
  VA_VOLPROJ rec = zeroedRecord();
  if (version >= 5) {
    // The current record without the slab thickness; the view field means nothing in a file.
    uint8_t bytes[49];
    if (!readBytes(fp, bytes, 49)) return false;
    std::memcpy(reinterpret_cast<uint8_t*>(static_cast<void*>(&rec)) + 8, bytes + 8, 41);
  } else {
    uint8_t bytes[46];
    if (!readBytes(fp, bytes, 46)) return false;
    std::memcpy(rec.rotation, bytes + 4, 24);
    std::memcpy(&rec.slice, bytes + 28, 4);
    std::memcpy(&rec.timeIndex, bytes + 32, 4);
    rec.filmView = bytes[36];
    std::memcpy(&rec.projType, bytes + 37, 4);
    std::memcpy(&rec.mode, bytes + 41, 4);
  }
  rec.view = nullptr;
  rec.slabThickness = 0;
  *out = rec;
  return true;
}

bool keepViewRecord(CDrawDoc* doc, const VA_VOLPROJ& rec) {
  pf_free(&doc->storedProjection);
  doc->storedProjection = static_cast<VA_VOLPROJ*>(pf_calloc(int64_t(sizeof(VA_VOLPROJ))));
  if (!doc->storedProjection) return false;
  *doc->storedProjection = rec;
  return true;
}

// Version 2.0 stored only a time point and a slice: the record is built from them once the layers
// are known (out-of-range values fall back to the middle slice and the first time point).
bool buildVersion2ViewRecord(CDrawDoc* doc, int32_t timeIndex, int32_t slice) {
  CDrawSet* set = doc->GetActiveSet();
  if (!set) return true;
  const CVol* base = set->GetBaseVol();
  int maxT = 0;
  if (!base || !base->frame || !set->MaxT(&maxT, nullptr)) return false;
  VA_VOLPROJ rec = zeroedRecord();
  rec.slice = slice >= 0 && slice < base->D() ? slice : base->D() / 2;
  rec.timeIndex = timeIndex >= 0 && timeIndex < maxT ? timeIndex : 0;
  rec.projType = 0;
  rec.mode = 1;
  return keepViewRecord(doc, rec);
}

}  // namespace

bool loadOldDocument(CDrawDoc* doc, FILE* fp, int version, const wchar_t* path, bool showProgress) {
  const ReadContext context{version, showProgress};
  if (!readBackgroundColour(doc, fp)) return false;
  int32_t timeIndex = 0, slice = 0;
  if (version == 2) {
    if (!readValue(fp, &timeIndex) || !readValue(fp, &slice)) return false;
  } else {
    VA_VOLPROJ rec;
    if (version >= 15 ? !readValue(fp, &rec) : !readOldViewRecord(fp, version, &rec)) return false;
    if (!keepViewRecord(doc, rec)) return false;
  }
  if (!readObjects(doc, fp, context)) return false;
  if (version >= 10) {
    if (!readDynExp(fp, version, path)) {
      twk::doc::message(FmtStr(L"CDrawDoc::LoadOldTwk_V%d", version), L"Unable to load Dynamic Experiment from TWK file");
      return false;
    }
  } else if (version >= 4 && TW_Options().loadDmdbFromTwk) {
    if (!readDynExp(fp, version, path)) return false;
  }
  resolveVectorRoiOwners(doc);
  if (version == 2 && !buildVersion2ViewRecord(doc, timeIndex, slice)) return false;
  return true;
}

}  // namespace twk::files
