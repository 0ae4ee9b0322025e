// The document's undo history: pushing records, the Undo and Redo commands and purging the records
// of destroyed layers.
#include <algorithm>
#include <new>

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
  if (!TW_Options().undoEnabled || !record || !*record) return true;
  // The change guarded by the newest record is complete now: keep only the voxels it changed.
  if (undoCurrent_ > 0)
    if (UNDOREC* previous = undo_[size_t(undoCurrent_ - 1)].get())
      if (previous->kind == UNDO_FRAME_CHANGE && TW_FindDrawVolOfUndoRec(previous)) previous->ShrinkToChanges();
  undo_.resize(size_t(undoCurrent_));  // the redo tail goes
  if (UndoCount() == undoCapacity_) {
    const int grown = undoCapacity_ + kUndoGrowth;
    try {
      undo_.reserve(size_t(grown));
    } catch (const std::bad_alloc&) {
      return false;  // the record stays the caller's
    }
    undoCapacity_ = grown;
  }
  UNDOREC* r = *record;
  if (r->owner == 0 && r->frame)
    if (const CDrawVol* layer = layerOfFrame(this, r->frame)) r->owner = layer->LayerId();
  undo_.emplace_back(r);
  *record = nullptr;
  ++undoCurrent_;
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
  if (index < 0 || index >= UndoCount()) return false;
  undo_.erase(undo_.begin() + index);
  if (undoCurrent_ > index) --undoCurrent_;
  return true;
}

bool CDrawDoc::purgeUndoWhere(const std::function<bool(const UNDOREC&)>& drop) {
  const int count = UndoCount();
  int kept = 0, keptBeforeCurrent = 0;
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<UNDOREC>& r = undo_[size_t(i)];
    if (!r || drop(*r)) {
      r.reset();
      continue;
    }
    if (kept != i) undo_[size_t(kept)] = std::move(r);
    ++kept;
    if (i < undoCurrent_) keptBeforeCurrent = kept;
  }
  undo_.resize(size_t(kept));
  // The position counts the kept records that lay before it, also when it stood at the end.
  undoCurrent_ = keptBeforeCurrent;
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

bool CDrawDoc::CanUndo() const { return TW_Options().undoEnabled && undoCurrent_ > 0; }
bool CDrawDoc::CanRedo() const { return TW_Options().undoEnabled && undoCurrent_ < UndoCount(); }

namespace {

// Applies a taken record to its layer and leaves the captured present state in *inverse. False when
// the layer is gone or the state cannot be captured or applied.
bool applyRecord(UNDOREC* record, std::unique_ptr<UNDOREC>* inverse, bool settle) {
  inverse->reset();
  CDrawVol* layer = TW_FindDrawVolOfUndoRec(record);
  if (!layer) return false;
  if (settle) record->ShrinkToChanges();
  inverse->reset(record->GetFrameCurrentState(&layer->filter));
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
  std::unique_ptr<UNDOREC> record = std::move(undo_[size_t(undoCurrent_)]);
  bool ok = true;
  if (record && record->kind == UNDO_FRAME_CHANGE) {
    std::unique_ptr<UNDOREC> inverse;
    ok = applyRecord(record.get(), &inverse, true);
    if (ok) undo_[size_t(undoCurrent_)] = std::move(inverse);
  }
  // A record that was discarded or failed leaves no empty slot behind.
  if (!undo_[size_t(undoCurrent_)]) undo_.erase(undo_.begin() + undoCurrent_);
  record.reset();
  if (ok) RedrawAllViews(false);
  return ok;
}

bool CDrawDoc::Redo() {
  if (!CanRedo()) return false;
  std::unique_ptr<UNDOREC> record = std::move(undo_[size_t(undoCurrent_)]);
  bool ok = true;
  if (record && record->kind == UNDO_FRAME_CHANGE) {
    std::unique_ptr<UNDOREC> inverse;
    ok = applyRecord(record.get(), &inverse, false);
    if (ok) {
      undo_[size_t(undoCurrent_)] = std::move(inverse);
      ++undoCurrent_;
    }
  }
  if (undoCurrent_ < UndoCount() && !undo_[size_t(undoCurrent_)]) undo_.erase(undo_.begin() + undoCurrent_);
  record.reset();
  if (ok) RedrawAllViews(false);
  return ok;
}
