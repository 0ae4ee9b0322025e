// The document's undo history: pushing records, the Undo and Redo commands and purging the records
// of destroyed layers.
#include <algorithm>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawObj.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"

namespace {

constexpr int kUndoGrowth = 100;

// The layer of this document (any set) or of any open document's active set holding the frame.
CDrawVol* layerOfFrame(const CDrawDoc* doc, const FRAME* frame) {
  for (CDrawObj* o : doc->objects)
    if (o && o->kind == DRAWOBJ_SET)
      if (CDrawVol* layer = static_cast<CDrawSet*>(o)->FindLayerByFrame(frame)) return layer;
  return TW_FindDrawVolOfFrame(frame);
}

}  // namespace

bool CDrawDoc::PushUndo(UNDOREC** record) {
  if (!g_UserOpt.undoEnabled || !record || !*record) return true;
  // The change guarded by the newest record is complete now: keep only the voxels it changed.
  if (undoCurrent_ > 0)
    if (UNDOREC* previous = undoArr_[undoCurrent_ - 1])
      if (previous->kind == UNDO_FRAME_CHANGE && TW_FindDrawVolOfUndoRec(previous)) previous->ShrinkToChanges();
  for (int i = undoCurrent_; i < undoCount_; ++i) {
    delete undoArr_[i];
    undoArr_[i] = nullptr;
  }
  undoCount_ = undoCurrent_;
  if (undoCount_ == undoCapacity_) {
    const int grown = undoCapacity_ + kUndoGrowth;
    if (!pf_recalloc(&undoArr_, int64_t(grown) * int64_t(sizeof(UNDOREC*)))) return false;
    undoCapacity_ = grown;
  }
  UNDOREC* r = *record;
  if (r->owner == 0 && r->frame)
    if (const CDrawVol* layer = layerOfFrame(this, r->frame)) r->owner = layer->LayerId();
  undoArr_[undoCurrent_] = r;
  *record = nullptr;
  ++undoCurrent_;
  ++undoCount_;
  return true;
}

void CDrawDoc::PushUndoForLayer(CDrawVol* layer, const RECT4D* box) {
  if (!layer || !layer->vol || !layer->vol->frame) return;
  layer->FreeViewCaches();
  UNDOREC* record = box ? VA_CompleteUndoRecBox(&layer->filter, layer->vol->frame, box)
                        : VA_CompleteUndoRec(&layer->filter, layer->vol->frame);
  if (!record) return;
  record->owner = layer->LayerId();
  PushUndo(&record);
  delete record;
}

bool CDrawDoc::removeUndoSlot(int index) {
  if (index < 0 || index >= undoCount_) return false;
  delete undoArr_[index];
  std::copy(undoArr_ + index + 1, undoArr_ + undoCount_, undoArr_ + index);
  undoArr_[--undoCount_] = nullptr;
  if (undoCurrent_ > index) --undoCurrent_;
  return true;
}

bool CDrawDoc::purgeUndoWhere(const std::function<bool(const UNDOREC&)>& drop) {
  int kept = 0, keptBeforeCurrent = 0;
  for (int i = 0; i < undoCount_; ++i) {
    UNDOREC* r = undoArr_[i];
    if (!r || drop(*r)) {
      delete r;
      continue;
    }
    undoArr_[kept++] = r;
    if (i < undoCurrent_) keptBeforeCurrent = kept;
  }
  for (int i = kept; i < undoCount_; ++i) undoArr_[i] = nullptr;
  // The position counts the kept records that lay before it, also when it stood at the end.
  undoCurrent_ = keptBeforeCurrent;
  undoCount_ = kept;
  return true;
}

bool CDrawDoc::PurgeUndoForLayer(uint64_t layerId, const FRAME* frame) {
  return purgeUndoWhere([layerId, frame](const UNDOREC& r) {
    return r.kind == UNDO_FRAME_CHANGE &&
           ((layerId != 0 && r.owner == layerId) || (r.owner == 0 && frame && r.frame == frame));
  });
}

bool CDrawDoc::PurgeUndoForFrame(const FRAME* frame) {
  return purgeUndoWhere([frame](const UNDOREC& r) { return r.kind == UNDO_FRAME_CHANGE && r.frame == frame; });
}

bool CDrawDoc::CanUndo() const { return g_UserOpt.undoEnabled && undoCurrent_ > 0; }
bool CDrawDoc::CanRedo() const { return g_UserOpt.undoEnabled && undoCurrent_ < undoCount_; }

namespace {

// Applies a taken record to its layer and leaves the captured present state in *inverse. False when
// the layer is gone or the state cannot be captured or applied.
bool applyRecord(UNDOREC* record, UNDOREC** inverse, bool settle) {
  *inverse = nullptr;
  CDrawVol* layer = TW_FindDrawVolOfUndoRec(record);
  if (!layer) return false;
  if (settle) record->ShrinkToChanges();
  *inverse = record->GetFrameCurrentState(&layer->filter);
  if (!*inverse) return false;
  if (!record->ApplyFrameChange()) return false;
  layer->filter = record->filter;
  layer->FreeViewCaches();
  return true;
}

}  // namespace

bool CDrawDoc::Undo() {
  if (!CanUndo()) return false;
  --undoCurrent_;
  UNDOREC* record = undoArr_[undoCurrent_];
  undoArr_[undoCurrent_] = nullptr;
  bool ok = true;
  if (record && record->kind == UNDO_FRAME_CHANGE) {
    UNDOREC* inverse = nullptr;
    ok = applyRecord(record, &inverse, true);
    if (ok) {
      undoArr_[undoCurrent_] = inverse;
    } else {
      delete inverse;
    }
  }
  // A record that was discarded or failed leaves no empty slot behind.
  if (!undoArr_[undoCurrent_]) {
    std::copy(undoArr_ + undoCurrent_ + 1, undoArr_ + undoCount_, undoArr_ + undoCurrent_);
    undoArr_[--undoCount_] = nullptr;
  }
  delete record;
  if (ok) RedrawAllViews(false);
  return ok;
}

bool CDrawDoc::Redo() {
  if (!CanRedo()) return false;
  UNDOREC* record = undoArr_[undoCurrent_];
  undoArr_[undoCurrent_] = nullptr;
  bool ok = true;
  if (record && record->kind == UNDO_FRAME_CHANGE) {
    UNDOREC* inverse = nullptr;
    ok = applyRecord(record, &inverse, false);
    if (ok) {
      undoArr_[undoCurrent_] = inverse;
      ++undoCurrent_;
    } else {
      delete inverse;
    }
  }
  if (ok && !record) ok = true;
  if (undoCurrent_ < undoCount_ && !undoArr_[undoCurrent_]) {
    std::copy(undoArr_ + undoCurrent_ + 1, undoArr_ + undoCount_, undoArr_ + undoCurrent_);
    undoArr_[--undoCount_] = nullptr;
  }
  delete record;
  if (ok) RedrawAllViews(false);
  return ok;
}
