// CDrawDoc: objects, views, the active set and the helpers over all open documents.
#include "DrawDoc.h"

#include <algorithm>
#include <cstring>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawObj.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"

namespace {

constexpr int kMaxDocuments = 2048;

std::vector<CDrawDoc*>& openDocuments() {
  static std::vector<CDrawDoc*> documents;
  return documents;
}

template <class T>
T** toCountedArray(const std::vector<T*>& items, int* count) {
  if (count) *count = 0;
  if (items.empty()) return nullptr;
  auto** out = static_cast<T**>(pf_malloc(int64_t(items.size()) * int64_t(sizeof(T*))));
  if (!out) return nullptr;
  std::copy(items.begin(), items.end(), out);
  if (count) *count = int(items.size());
  return out;
}

// Objects of documents without volume layers: the same kind, flags and style, and the same bounds
// of their own geometry (recomputed, as drawing does).
bool sameObject(CDrawObj* p, CDrawObj* q) {
  if (!p || !q) return p == q;
  p->ComputeBounds();
  q->ComputeBounds();
  return p->kind == q->kind && p->marked == q->marked && p->opacity == q->opacity && p->highlight == q->highlight &&
         std::memcmp(&p->style, &q->style, sizeof(DRAWSTYLE)) == 0 &&
         std::memcmp(&p->position, &q->position, sizeof(DRECT)) == 0;
}

}  // namespace

CDrawDoc::CDrawDoc() : backgroundColor(TW_Options().docBackgroundColor) { openDocuments().push_back(this); }

CDrawDoc::~CDrawDoc() {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  if (hooks.vroiPanelOpen && hooks.vroiPanelOpen() && hooks.vroiPanelDestroy) {
    CDrawObj* bound = hooks.vroiPanelObject ? hooks.vroiPanelObject() : nullptr;
    if (!bound || std::find(objects.begin(), objects.end(), bound) != objects.end()) hooks.vroiPanelDestroy();
  }
  // Layers purge their undo records while the history still exists.
  while (!objects.empty()) {
    CDrawObj* obj = objects.front();
    objects.erase(objects.begin());
    delete obj;
  }
  selection.clear();
  auto& documents = openDocuments();
  documents.erase(std::remove(documents.begin(), documents.end(), this), documents.end());
  if (documents.empty() && hooks.floatingPanelsOpen && hooks.floatingPanelsOpen() && hooks.closeFloatingPanels)
    hooks.closeFloatingPanels();
  pf_free(&storedProjection);
  undo_.clear();
  undoCurrent_ = undoCapacity_ = 0;
  for (CDrawView* view : views_) view->document_ = nullptr;
}

bool CDrawDoc::SaveModified() {
  if (!IsModified()) return true;
  const int answer = twk::ui().messageBox(L"Document was modified. Would you like to save it?", L"Tarnwick",
                                          MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) return false;
  if (answer == IDNO) return true;
  const auto& save = TW_DocumentHooks().saveDocument;
  return save && save(this);
}

// --- objects ---

bool CDrawDoc::AddObject(CDrawObj** obj, bool take) {
  if (!obj || !*obj) return true;
  CDrawObj* o = *obj;
  objects.push_back(o);
  o->ComputeBounds();
  o->SetDocument(this);
  if (take) *obj = nullptr;
  SetModifiedFlag();
  return true;
}

void CDrawDoc::RemoveObject(CDrawObj* obj) {
  selection.erase(std::remove(selection.begin(), selection.end(), obj), selection.end());
  auto it = std::find(objects.begin(), objects.end(), obj);
  if (it != objects.end()) {
    objects.erase(it);
    UpdateVectorRoiPanel();
  }
  SetModifiedFlag();
}

CDrawObj** CDrawDoc::GetObjectsArray(int* count) const {
  std::vector<CDrawObj*> polylines;
  for (CDrawObj* o : objects)
    if (o && o->kind == DRAWOBJ_POLY) polylines.push_back(o);
  return toCountedArray(polylines, count);
}

void CDrawDoc::SetSelection(const std::vector<CDrawObj*>& chosen) {
  selection = chosen;
  UpdateVectorRoiPanel();
}

void CDrawDoc::UpdateVectorRoiPanel() {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  if (!hooks.vroiPanelOpen || !hooks.vroiPanelOpen() || !hooks.vroiPanelBind) return;
  if (selection.size() != 1) {
    hooks.vroiPanelBind(nullptr, false);
    return;
  }
  // The panel follows the single selected vector ROI; any other selection leaves it bound to none,
  // so that it never keeps an object that was removed or deselected.
  CDrawObj* only = selection.front();
  if (only && only->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(only)->IsVectorRoi()) hooks.vroiPanelBind(only, true);
  else hooks.vroiPanelBind(nullptr, false);
}

void CDrawDoc::RefreshVectorRoiPanel() {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  if (hooks.vroiPanelOpen && hooks.vroiPanelOpen() && hooks.vroiPanelRefresh) hooks.vroiPanelRefresh();
}

CDrawSet* CDrawDoc::GetActiveSet() const {
  for (CDrawObj* o : objects)
    if (o && o->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(o)->IsVolumeSet()) return static_cast<CDrawSet*>(o);
  return nullptr;
}

CVol* CDrawDoc::GetActiveVol() const {
  const CDrawSet* set = GetActiveSet();
  return set ? set->GetBaseVol() : nullptr;
}

CDrawVol* CDrawDoc::GetBaseLayer() const {
  const CDrawSet* set = GetActiveSet();
  return set ? set->GetBaseLayer() : nullptr;
}

bool CDrawDoc::CheckVolumetricType(int modality, bool want3D, bool want4D) const {
  if (want3D && want4D) {
    twk::doc::message(L"CDrawDoc::CheckVolumetricType", L"3D and 4D are requested at the same time");
    return false;
  }
  const CDrawSet* set = GetActiveSet();
  if (!set) return false;
  for (int i = 0; i < set->NumLayers(); ++i) {
    const CVol* vol = set->GetLayerVol(i);
    if (!vol || !vol->frame || vol->GetModality() != modality) continue;
    if (want3D && vol->T() != 1) continue;
    if (want4D && vol->T() <= 1) continue;
    return true;
  }
  return false;
}

// --- views ---

void CDrawDoc::AddView(CDrawView* view) {
  if (!view || std::find(views_.begin(), views_.end(), view) != views_.end()) return;
  views_.push_back(view);
  view->document_ = this;
}

void CDrawDoc::RemoveView(CDrawView* view) {
  auto it = std::find(views_.begin(), views_.end(), view);
  if (it == views_.end()) return;
  views_.erase(it);
  view->document_ = nullptr;
  for (CDrawObj* o : objects)
    if (o && o->kind == DRAWOBJ_SET) static_cast<CDrawSet*>(o)->RemoveViewProjection(view);
}

CDrawView** CDrawDoc::GetViews(int* count) const { return toCountedArray(views_, count); }

CDrawView* CDrawDoc::GetActiveOrFirstView() const {
  for (CDrawView* v : views_)
    if (v->IsActive()) return v;
  return views_.empty() ? nullptr : views_.front();
}

CDrawView* CDrawDoc::GetActiveView(bool report) const {
  for (CDrawView* v : views_)
    if (v->IsActive()) return v;
  if (report)
    twk::doc::message(L"CDrawDoc::GetActiveView", GetTitle() + L":" + L"This document does not have Active Views");
  return nullptr;
}

CDrawView* CDrawDoc::GetActiveOrSingleView() const {
  if (views_.size() == 1) return views_.front();
  for (CDrawView* v : views_)
    if (v->IsActive()) return v;
  if (!views_.empty())
    twk::doc::message(L"CDrawDoc::GetActiveOrSingleView",
                      GetTitle() + L":" + L"This document does not have Active Views");
  return nullptr;
}

bool CDrawDoc::HasActiveView() const {
  return std::any_of(views_.begin(), views_.end(), [](const CDrawView* v) { return v->IsActive(); });
}

void CDrawDoc::RedrawAllViews(CDrawDoc* doc, bool refreshPanel) {
  if (!doc || doc->views_.empty()) return;
  CDrawView* active = nullptr;
  const std::vector<CDrawView*> views = doc->views_;
  for (CDrawView* v : views) {
    if (v->IsActive()) active = v;
    v->RedrawNow();
  }
  if (active) active->RedrawNow();
  if (refreshPanel)
    if (const CDrawSet* set = doc->GetActiveSet()) set->RefreshLayerPanel(true);
}

// --- open documents ---

CDrawDoc** TW_GetAllDocuments(int* count) {
  std::vector<CDrawDoc*> docs = openDocuments();
  if (docs.size() > size_t(kMaxDocuments)) docs.resize(size_t(kMaxDocuments));
  return toCountedArray(docs, count);
}

CDrawDoc* TW_FindDocumentByPath(const wchar_t* path) {
  if (!path) return nullptr;
  for (CDrawDoc* d : openDocuments())
    if (d->GetPathName().Compare(path) == 0) return d;
  return nullptr;
}

CDrawDoc* TW_GetSingleVolumetricDoc() {
  if (openDocuments().size() == 1) return openDocuments().front();
  twk::doc::message(L"TW_GetSingleVolumetricDoc", L"Exactly one document should be opened in Tarnwick.");
  return nullptr;
}

CDrawDoc* TW_LocateAnotherVolumetricDoc(CDrawDoc* const* skip, int skipCount, int* count) {
  CDrawDoc* first = nullptr;
  int found = 0;
  for (CDrawDoc* d : openDocuments()) {
    if (skip && std::find(skip, skip + std::max(0, skipCount), d) != skip + std::max(0, skipCount)) continue;
    if (!d->GetActiveSet()) continue;
    if (!first) first = d;
    ++found;
  }
  if (count) *count = found;
  if (!first) twk::doc::message(L"TW_LocateAnotherVolumetricDoc", L"No suitable Source volume is found");
  return first;
}

CDrawDoc* TW_GetSingleDoc(int modality, bool want3D, bool want4D) {
  const wchar_t* modalityName = TWKDCM_GetModalityName(modality);
  const CString sizeWord = want3D ? L" 3D " : L" 4D ";
  CDrawDoc* result = nullptr;
  if (want3D && want4D) {
    twk::doc::message(L"TW_GetSpecifiedDocuments", L"Can not be 3D and 4D at the same time");
  } else if (modalityName) {
    std::vector<CDrawDoc*> matches;
    for (CDrawDoc* d : openDocuments())
      if (d->CheckVolumetricType(modality, want3D, want4D)) matches.push_back(d);
    if (matches.size() == 1) result = matches.front();
    else if (matches.size() >= 2) twk::doc::message(L"TW_GetSingleDoc", L"More than one suitable document is present");
  }
  if (!result)
    twk::doc::information(CString(L"Unable to locate") + sizeWord + (modalityName ? modalityName : L"") +
                          L" document");
  return result;
}

void TW_CloseAllDocumentsBut(CDrawDoc* keep, bool ask) {
  std::vector<CDrawDoc*> others;
  for (CDrawDoc* d : openDocuments())
    if (d != keep) others.push_back(d);
  if (ask && std::any_of(others.begin(), others.end(), [](const CDrawDoc* d) { return d->IsModified(); }) &&
      !twk::askYesNo(L"Some documents about to close are modified. Proceed?"))
    return;
  const auto& close = TW_DocumentHooks().closeDocument;
  for (CDrawDoc* d : others) {
    d->RedrawAllViews(false);
    if (CDrawSet* set = d->GetActiveSet()) set->FreeAllViewCaches();
    if (close) close(d);
    else delete d;
  }
}

bool TW_DocumentsIdentical(CDrawDoc* a, CDrawDoc* b, bool* identical) {
  if (!identical) return false;
  *identical = false;
  if (!a || !b) return false;
  CDrawSet* sa = a->GetActiveSet();
  CDrawSet* sb = b->GetActiveSet();
  if (!sa && !sb) {
    *identical = a->objects.size() == b->objects.size() &&
                 std::equal(a->objects.begin(), a->objects.end(), b->objects.begin(), sameObject);
    return true;
  }
  if (!sa || !sb) return true;
  if (sa->NumEntries() != sb->NumEntries()) return true;
  for (int i = 0; i < sa->NumLayers(); ++i) {
    const CVol* va = sa->GetLayerVol(i);
    const CVol* vb = sb->GetLayerVol(i);
    if (!va || !vb || !PR_FramesHaveIdenticalData(va->frame, vb->frame)) return true;
  }
  int maxT = 0;
  sa->MaxT(&maxT, nullptr);
  auto collect = [maxT](CDrawDoc* doc, const CDrawSet* owner) {
    std::vector<const HIGHOBJ*> records;
    for (CDrawObj* o : doc->objects) {
      if (!o || o->kind != DRAWOBJ_SET) continue;
      const auto* s = static_cast<const CDrawSet*>(o);
      if (!s->IsVectorRoi() || s->vroi->owner != owner) continue;
      if (s->vroi->t1 < 0 || s->vroi->t0 > maxT) continue;
      records.push_back(s->vroi);
    }
    return records;
  };
  const auto ra = collect(a, sa), rb = collect(b, sb);
  if (ra.size() != rb.size()) return false;
  for (size_t i = 0; i < ra.size(); ++i) {
    const HIGHOBJ &p = *ra[i], &q = *rb[i];
    if (std::strncmp(p.label, q.label, sizeof p.label) != 0 || p.kind != q.kind || p.shape != q.shape ||
        p.t0 != q.t0 || p.t1 != q.t1 || p.x0 != q.x0 || p.y0 != q.y0 || p.z0 != q.z0 || p.x1 != q.x1 ||
        p.y1 != q.y1 || p.z1 != q.z1)
      return false;
  }
  *identical = true;
  return true;
}

CDrawVol* TW_FindDrawVolOfFrame(const FRAME* frame) {
  if (!frame) return nullptr;
  for (CDrawDoc* d : openDocuments())
    if (const CDrawSet* set = d->GetActiveSet())
      if (CDrawVol* layer = set->FindLayerByFrame(frame)) return layer;
  return nullptr;
}

CDrawVol* TW_FindDrawVolOfUndoRec(const UNDOREC* record) {
  if (!record || !record->frame) return nullptr;
  for (CDrawDoc* d : openDocuments()) {
    const CDrawSet* set = d->GetActiveSet();
    if (!set) continue;
    for (int i = 0; i < set->NumLayers(); ++i) {
      CDrawVol* layer = set->GetLayer(i);
      if (!layer->vol || layer->vol->frame != record->frame) continue;
      if (record->owner == 0 || layer->LayerId() == record->owner) return layer;
    }
  }
  return nullptr;
}
