// Writing a document into a memory file in the current version 17.
#include <algorithm>
#include <cstdint>

#include "DocMessages.h"
#include "DocumentFile.h"
#include "DocumentRecords.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "DynExp.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "VolumeHeaders.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "render/ProjectionGeometry.h"
#include "serial/FrameFile.h"
#include "serial/MemFile.h"

using namespace twk::files;

namespace {

bool writePoly(MFILE* mf, CDrawPoly* poly) {
  if (!poly->pointsPerContour || !poly->points || poly->contourCount < 1) return false;
  const int32_t n = poly->NumPoints();
  return writeValue(mf, int32_t(DRAWOBJ_POLY)) && writeBaseRecord(mf, poly) && writeValue(mf, poly->slice) &&
         writeBytes(mf, poly->planePoint, 24) && writeValue(mf, poly->spline) && writeValue(mf, poly->reserved) &&
         writeValue(mf, poly->tension) && writeValue(mf, poly->closed) && writeValue(mf, poly->contourCount) &&
         writeBytes(mf, poly->pointsPerContour, int64_t(poly->contourCount) * 4) &&
         writeBytes(mf, poly->points, int64_t(n) * int64_t(sizeof(DPOINT)));
}

bool writeRect(MFILE* mf, CDrawRect* rect) {
  return writeValue(mf, int32_t(rect->kind)) && writeValue(mf, rect->rect) && writeValue(mf, rect->highlight) &&
         writeValue(mf, rect->style);
}

bool writeArc(MFILE* mf, CDrawArc* arc) {
  return writeValue(mf, int32_t(DRAWOBJ_ARC)) && writeValue(mf, arc->highlight) && writeValue(mf, arc->style) &&
         writeValue(mf, arc->rect) && writeValue(mf, arc->start) && writeValue(mf, arc->end);
}

bool writeVectorRoi(MFILE* mf, CDrawSet* set) {
  const HIGHOBJ& h = *set->vroi;
  char label[sizeof h.label + 1] = {};
  std::copy(h.label, h.label + sizeof h.label, label);
  wchar_t wide[sizeof label] = {};
  CstrToTstr(label, wide, sizeof label);
  // A vector ROI whose owner is gone is stored without one (-1), which the reader maps to none, so
  // that one orphaned ROI cannot make every later save of the document fail.
  int32_t owner = -1;
  if (CDrawDoc* doc = set->GetDocument()) {
    const auto& objects = doc->objects;
    const auto it = std::find(objects.begin(), objects.end(), static_cast<CDrawObj*>(h.owner));
    if (h.owner && it != objects.end()) owner = int32_t(it - objects.begin());
  }
  return writeLine(mf, wide) && writeValue(mf, h.kind) && writeValue(mf, h.shape) && writeValue(mf, owner) &&
         writeValue(mf, h.t0) && writeValue(mf, h.t1) && writeValue(mf, h.x0) && writeValue(mf, h.y0) &&
         writeValue(mf, h.z0) && writeValue(mf, h.x1) && writeValue(mf, h.y1) && writeValue(mf, h.z1);
}

bool writeSet(MFILE* mf, CDrawSet* set) {
  const bool vectorRoi = set->IsVectorRoi();
  if (!writeValue(mf, int32_t(DRAWOBJ_SET)) || !writeBaseRecord(mf, set) || !writeLine(mf, set->name) ||
      !writeValue(mf, uint8_t(vectorRoi ? 1 : 0)))
    return false;
  if (vectorRoi) return writeVectorRoi(mf, set);
  const int32_t count = set->NumEntries();
  if (!writeValue(mf, int32_t(set->GetActive())) || !writeValue(mf, count) ||
      !writeValue(mf, uint8_t(set->interlaceMode & 0xFF)) || !writeValue(mf, set->interlaceCell))
    return false;
  for (int i = 0; i < count; ++i) {
    CDrawObj* entry = set->GetEntry(i);
    if (!entry || !entry->Write(mf)) return false;
  }
  return true;
}

bool writeVolFields(MFILE* mf, CDrawVol* layer) {
  const CVol* vol = layer->vol;
  if (!vol || !vol->frame) return false;
  VOLBLOCK block;
  packVolumeBlock(vol, &block);
  if (!writeValue(mf, int32_t(DRAWOBJ_VOL)) || !writeBaseRecord(mf, layer) || !writeValue(mf, layer->filter) ||
      !writeLine(mf, PR_GetFileTitle(vol->name)) || !writeLine(mf, vol->unit) || !writeValue(mf, block) ||
      !PR_FrameWrite(mf, vol->frame))
    return false;
  const bool storedDyn = vol->T() > 1 && vol->dyn && VA_GetDynType(vol->dyn, vol->T()) == DYN_SPINLOCK_TIME;
  if (!writeValue(mf, uint8_t(storedDyn ? 1 : 0))) return false;
  if (storedDyn && !writeBytes(mf, vol->dyn, int64_t(vol->T()) * int64_t(sizeof(DYNCRD)))) return false;
  int64_t headerSize = 0, storedSize = 0;
  void* stored = storedHeaderBytes(vol, &headerSize, &storedSize);
  const bool ok = stored && writeValue(mf, headerSize) && writeValue(mf, storedSize) &&
                  writeBytes(mf, stored, storedSize < 0 ? -storedSize : storedSize);
  pf_free(&stored);
  return ok;
}

bool writeVol(MFILE* mf, CDrawVol* layer) {
  if (writeVolFields(mf, layer)) return true;
  twk::doc::information(L"DrawVol save failed");
  return false;
}

}  // namespace

bool CDrawObj::Write(MFILE* mf) {
  switch (kind) {
    case DRAWOBJ_RECT:
    case DRAWOBJ_ROUNDRECT:
    case DRAWOBJ_ELLIPSE: return writeRect(mf, static_cast<CDrawRect*>(this));
    case DRAWOBJ_POLY: return writePoly(mf, static_cast<CDrawPoly*>(this));
    case DRAWOBJ_ARC: return writeArc(mf, static_cast<CDrawArc*>(this));
    case DRAWOBJ_SET: return writeSet(mf, static_cast<CDrawSet*>(this));
    case DRAWOBJ_VOL: return writeVol(mf, static_cast<CDrawVol*>(this));
    default: return writeBaseRecord(mf, this);
  }
}

MFILE* CDrawDoc::WriteToMemFile(CDrawView* view, bool showProgress) {
  twk::ProgressGuard progress(L"Document save to MemFile", showProgress);
  CString build;
  PR_GetBuildNumber(build);
  CString header = TW_TWK_HEADER_V17;
  header.AppendFormat(L". Created with Build %s.", build.GetString());
  // The file starts at 16 MiB and, for documents of large layers, at once at the size their voxels
  // need, so that the voxels are copied once and not again each time the file grows.
  int64_t voxelBytes = 0;
  for (const CDrawObj* obj : objects)
    if (obj) voxelBytes += obj->MemSize();
  MFILE* mf = PR_MemFileOpen(std::max<int64_t>(0x1000000, voxelBytes + 0x1000000));
  // The memory file of a large document is fresh memory that the voxels are copied into once.
  if (mf) pf_prefault(mf->bytes.data(), int64_t(mf->bytes.capacity()), int64_t(64) << 20);

  VA_VOLPROJ saved;
  VA_InitVOLPROJ(&saved);
  CDrawSet* active = GetActiveSet();
  if (active && view) {
    CDrawDoc* viewDoc = view->GetDocument();
    CDrawSet* viewSet = viewDoc ? viewDoc->GetActiveSet() : nullptr;
    VA_CopyVOLPROJ(&saved, viewSet ? viewSet->FindViewProjection(view) : nullptr);
  }
  bool ok = mf && writeLine(mf, header) && writeValue(mf, int32_t(backgroundColor)) && writeValue(mf, saved) &&
            writeValue(mf, int32_t(objects.size()));
  for (size_t i = 0; ok && i < objects.size(); ++i) ok = objects[i] && objects[i]->Write(mf);
  const CDynExp* dynExp = TW_DocumentDynExp();
  ok = ok && dynExp && dynExp->Write(mf, active && active->HasLayer4D());
  progress.End();
  if (!ok) PR_MemFileClose(&mf);
  return mf;
}
