// CDrawSet: construction, access, projection records and ROI colours.
#include "DrawSet.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>

#include "Clock.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "MsRand.h"
#include "OwnedPtrArray.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomVolume.h"
#include "volume/Frame.h"

const wchar_t* const TW_AMBIGUOUS_LAYERS =
    L"Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";

namespace {

// The ROI palette, COLORREF values (red in the low byte).
constexpr COLORREF kRoiPalette[20] = {0x0000FF, 0xFF0000, 0x00FF00, 0x00FFFF, 0xFFFF00, 0x400080, 0x408000,
                                      0x800040, 0x0050FF, 0x2DE39F, 0xDF9E31, 0xD33D88, 0x7848C8, 0x4FC1B9,
                                      0x8000FF, 0x5028C8, 0xFF5A1E, 0x142850, 0x1E5AFF, 0x000000};

}  // namespace

COLORREF TW_RoiPaletteColour(int index) { return kRoiPalette[((index % 20) + 20) % 20]; }

CDrawSet::CDrawSet(CDrawDoc* doc) {
  kind = DRAWOBJ_SET;
  marked = 1;
  opacity = 100;
  document = doc;
  style.fillColor = style.lineColor = 0x00FF00;
}

CDrawSet::~CDrawSet() {
  for (VA_VOLPROJ*& p : projections_) pf_free(&p);
  projections_.clear();
  pf_free(&vroi);
  // One entry at a time, the others still in place: a layer's destruction may look at its set.
  for (std::unique_ptr<CDrawObj>& entry : entries_) entry.reset();
  entries_.clear();
}

void CDrawSet::SetDocument(CDrawDoc* doc) {
  document = doc;
  for (const std::unique_ptr<CDrawObj>& entry : entries_)
    if (entry) entry->SetDocument(doc);
}

int64_t CDrawSet::MemSize() const {
  int64_t total = int64_t(sizeof(CDrawSet));
  for (const std::unique_ptr<CDrawObj>& entry : entries_)
    if (entry) total += entry->MemSize();
  return total;
}

void CDrawSet::ComputeBounds() {
  if (!IsVectorRoi() || entries_.empty()) return;
  DRECT u;
  bool first = true;
  for (const std::unique_ptr<CDrawObj>& e : entries_) {
    e->ComputeBounds();
    DRECT b = e->position;
    if (b.x0 > b.x1) std::swap(b.x0, b.x1);
    if (b.y0 > b.y1) std::swap(b.y0, b.y1);
    if (first) {
      u = b;
      first = false;
    } else {
      u = DRECT{std::min(u.x0, b.x0), std::min(u.y0, b.y0), std::max(u.x1, b.x1), std::max(u.y1, b.y1)};
    }
  }
  position = u;
}

bool CDrawSet::IsVectorRoi() const { return kind == DRAWOBJ_SET && vroi && vroi->kind == HIGHOBJ_VECTOR_ROI; }

bool CDrawSet::IsVolumeSet() const {
  return kind == DRAWOBJ_SET && !IsVectorRoi() && !entries_.empty() && entries_[0] &&
         entries_[0]->kind == DRAWOBJ_VOL;
}

bool CDrawSet::guardVolumeSet(const wchar_t* prefix) const {
  if (IsVolumeSet()) return true;
  twk::doc::message(prefix, L"Volumetric Entity is required");
  return false;
}

// --- access ---

int CDrawSet::NumLayers() const {
  int n = 0;
  for (const std::unique_ptr<CDrawObj>& entry : entries_)
    if (entry && entry->kind == DRAWOBJ_VOL) ++n;
  return n;
}

CDrawVol* CDrawSet::GetLayer(int i) const {
  if (i < 0) return nullptr;
  for (const std::unique_ptr<CDrawObj>& entry : entries_)
    if (entry && entry->kind == DRAWOBJ_VOL && i-- == 0) return static_cast<CDrawVol*>(entry.get());
  return nullptr;
}

CVol* CDrawSet::GetLayerVol(int i) const {
  const CDrawVol* layer = GetLayer(i);
  return layer ? layer->vol : nullptr;
}

CVol* CDrawSet::GetBaseVol() const { return GetLayerVol(0); }
CDrawVol* CDrawSet::GetBaseLayer() const { return GetLayer(0); }

CDrawVol* CDrawSet::GetLayerOfVol(const CVol* vol) const {
  if (!vol || (!IsVolumeSet() && !IsVectorRoi())) return nullptr;
  for (const std::unique_ptr<CDrawObj>& entry : entries_)
    if (entry && entry->kind == DRAWOBJ_VOL && static_cast<CDrawVol*>(entry.get())->vol == vol)
      return static_cast<CDrawVol*>(entry.get());
  return nullptr;
}

bool CDrawSet::IsLayerMarked(const CVol* vol) const {
  const CDrawVol* layer = GetLayerOfVol(vol);
  return layer && layer->IsMarked();
}

CDrawVol* CDrawSet::SetLayerMarked(const CVol* vol, bool on) {
  CDrawVol* layer = GetLayerOfVol(vol);
  if (layer) layer->SetMarked(on);
  return layer;
}

int CDrawSet::IndexOfVol(const CVol* vol) const {
  if (!vol || (!IsVolumeSet() && !IsVectorRoi())) return -1;
  for (int i = 0; i < NumEntries(); ++i)
    if (entries_[size_t(i)] && entries_[size_t(i)]->kind == DRAWOBJ_VOL &&
        static_cast<CDrawVol*>(entries_[size_t(i)].get())->vol == vol)
      return i;
  return -1;
}

int CDrawSet::IndexOfLayer(const CDrawObj* layer) const {
  for (int i = 0; i < NumEntries(); ++i)
    if (layer && entries_[size_t(i)].get() == layer) return i;
  return -1;
}

CDrawVol* CDrawSet::FindLayerByFrame(const FRAME* frame) const {
  if (!frame) return nullptr;
  for (const std::unique_ptr<CDrawObj>& entry : entries_)
    if (entry && entry->kind == DRAWOBJ_VOL) {
      auto* layer = static_cast<CDrawVol*>(entry.get());
      if (layer->vol && layer->vol->frame == frame) return layer;
    }
  return nullptr;
}

int CDrawSet::FindVolumeLayer(const wchar_t* wanted, bool matchCase) const {
  if (!guardVolumeSet(L"CDrawSet::FindVolumeLayer")) return -1;
  if (!wanted) return -1;
  for (int i = 0; i < NumLayers(); ++i) {
    const CVol* vol = GetLayerVol(i);
    if (!vol) continue;
    if (matchCase ? vol->name.Compare(wanted) == 0 : vol->name.CompareNoCase(wanted) == 0) return i;
  }
  return -1;
}

bool CDrawSet::MaxT(int* maxT, int* index) const {
  if (!guardVolumeSet(L"CDrawSet::MaxT")) return false;
  int best = 0, bestIndex = 0;
  for (int i = 0; i < NumLayers(); ++i) {
    const CVol* vol = GetLayerVol(i);
    if (vol && vol->frame && vol->T() > best) {
      best = vol->T();
      bestIndex = i;
    }
  }
  if (maxT) *maxT = best;
  if (index) *index = bestIndex;
  return true;
}

bool CDrawSet::HasLayer4D() const {
  for (int i = 0; i < NumLayers(); ++i) {
    const CVol* vol = GetLayerVol(i);
    if (vol && vol->frame && vol->T() > 1) return true;
  }
  return false;
}

int CDrawSet::CountMarkedNonRoi() const {
  int n = 0;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (layer->IsMarked() && layer->vol && layer->vol->frame && !layer->vol->IsROI()) ++n;
  }
  return n;
}

int CDrawSet::CountMarkedRoi() const {
  int n = 0;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (layer->IsMarked() && layer->vol && layer->vol->frame && layer->vol->IsROI()) ++n;
  }
  return n;
}

// --- activation and order ---

bool CDrawSet::SetActive(int i) {
  if (i < 0 || i > NumEntries() - 1) {
    twk::doc::message(L"CDrawSet::SetActive", L"Invalid Layer Index");
    return false;
  }
  activeLayer = i;
  return true;
}

bool CDrawSet::SetActiveVol(const CVol* vol) {
  const int i = IndexOfVol(vol);
  if (i < 0) return false;
  activeLayer = i;
  return true;
}

bool CDrawSet::SwapLayers(int i, int j) {
  if (document) document->SetModifiedFlag();
  const int n = NumEntries();
  if (i < 0 || j < 0 || i > n - 1 || j > n - 1) {
    twk::doc::message(L"CDrawSet::SwapLayers", L"Incorrect Layer Index");
    return false;
  }
  std::swap(entries_[size_t(i)], entries_[size_t(j)]);
  if (activeLayer == i) activeLayer = j;
  else if (activeLayer == j) activeLayer = i;
  return true;
}

int CDrawSet::SetActiveLayerLast() {
  activeLayer = std::max(0, NumEntries() - 1);
  RefreshLayerPanel();
  return activeLayer;
}

bool CDrawSet::MoveLayer(CDrawVol* layer, CDrawVol* before) {
  const int from = IndexOfLayer(layer);
  if (from < 0) return false;
  if (layer == before) return true;
  std::unique_ptr<CDrawObj> moved = std::move(entries_[size_t(from)]);
  entries_.erase(entries_.begin() + from);
  const int to = before ? IndexOfLayer(before) : -1;
  if (to < 0) entries_.push_back(std::move(moved));
  else entries_.insert(entries_.begin() + to, std::move(moved));
  activeLayer = IndexOfLayer(layer);
  if (document) document->SetModifiedFlag();
  RefreshLayerPanel();
  return true;
}

void CDrawSet::RefreshLayerPanel(bool redraw) const {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  if (!hooks.layerPanelSet || !hooks.fillLayerTree) return;
  if (hooks.layerPanelSet() == this) hooks.fillLayerTree(redraw);
}

// --- ROI colours ---

COLORREF CDrawSet::NewRoiColor() const {
  if (!IsVolumeSet()) return 0;
  std::set<COLORREF> used;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (layer->vol && layer->vol->frame && layer->vol->IsROI()) used.insert(COLORREF(layer->filter.roiColor));
  }
  for (COLORREF c : kRoiPalette)
    if (!used.count(c)) return c;
  // All taken: a random bright colour that is not grey.
  twk::msSrand(unsigned(uint64_t(twk::monotonicNanoseconds()) & 0xFFFFFFFFu));
  COLORREF candidate = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int channel[3];
    for (int& c : channel) c = std::clamp(int(std::floor(double(twk::msRand()) / twk::kMsRandMax * 256.0)), 0, 255);
    candidate = RGB(channel[0], channel[1], channel[2]);
    const int mean = int(std::floor((channel[0] + channel[1] + channel[2]) / 3.0 + 0.5));
    const bool grey = std::abs(channel[0] - mean) <= 32 && std::abs(channel[1] - mean) <= 32 &&
                      std::abs(channel[2] - mean) <= 32;
    if (mean >= 92 && !grey) return candidate;
  }
  return candidate;
}

// --- projection records ---

VA_VOLPROJ* CDrawSet::FindViewProjection(const CDrawView* view) const {
  for (VA_VOLPROJ* p : projections_)
    if (p->view == view) return p;
  return nullptr;
}

bool CDrawSet::AddViewProjection(CDrawView* view) {
  if (FindViewProjection(view)) return true;
  auto* p = static_cast<VA_VOLPROJ*>(pf_malloc(int64_t(sizeof(VA_VOLPROJ))));
  if (!p) return false;
  new (p) VA_VOLPROJ;
  const CVol* base = GetBaseVol();
  p->slice = base && base->frame ? base->D() / 2 : 0;
  p->projType = 0;
  SetFilmView(p, true);
  p->mode = 1;
  p->timeIndex = 0;
  p->slabThickness = 0;
  p->view = view;
  projections_.push_back(p);
  if (view) view->InvalidateClient();
  return true;
}

void CDrawSet::RemoveViewProjection(const CDrawView* view) {
  for (size_t i = 0; i < projections_.size(); ++i)
    if (projections_[i]->view == view) {
      pf_free(&projections_[i]);
      projections_.erase(projections_.begin() + long(i));
      return;
    }
}

bool CDrawSet::SetFilmView(VA_VOLPROJ* projection, bool on) {
  const CVol* base = GetBaseVol();
  const bool singleSlice = !base || !base->frame || base->D() <= 1;
  if (projection) {
    projection->filmView = on && !singleSlice ? 1 : 0;
    return true;
  }
  if (!document) return false;
  for (CDrawView* view : document->Views())
    if (VA_VOLPROJ* p = FindViewProjection(view)) p->filmView = on && !singleSlice ? 1 : 0;
  return true;
}

bool CDrawSet::VolChangeSlice(CDrawView* view, int mask, int timeIndex, int slice, int filmCode) {
  if (!IsVolumeSet() && !IsVectorRoi()) return false;
  if ((mask & 4) && (filmCode < 1 || filmCode > 3)) {
    twk::doc::message(L"CDrawSet::VolChangeSlice", L"Invalid Filmview change code");
    return false;
  }
  // A vector-ROI set works through the records of the document's active set.
  const CDrawSet* owner = this;
  if (IsVectorRoi()) owner = document ? document->GetActiveSet() : nullptr;
  if (!owner) return false;
  const CVol* base = owner->GetBaseVol();
  const bool singleSlice = !base || !base->frame || base->D() <= 1;
  std::vector<CDrawView*> views;
  if (view) views.push_back(view);
  else if (document) views = document->Views();
  for (CDrawView* v : views) {
    VA_VOLPROJ* p = owner->FindViewProjection(v);
    if (!p) continue;
    if (mask & 1) p->timeIndex = timeIndex;
    if (mask & 2) p->slice = slice;
    if ((mask & 4) && p->projType == 0) {
      if (filmCode == 1) p->filmView = p->filmView ? 0 : 1;
      else p->filmView = filmCode == 2 ? 1 : 0;
      if (singleSlice) p->filmView = 0;
    }
    if (singleSlice) v->RedrawNow();
    else v->ZoomAll();
  }
  return true;
}

void CDrawSet::FreeAllViewCaches() {
  for (int i = 0; i < NumLayers(); ++i) GetLayer(i)->FreeViewCaches();
}

// --- protected health information ---

bool CDrawSet::ExtractPHIrecords(CString*** lines, int* count) {
  if (!lines || !count) return false;
  *lines = nullptr;
  *count = 0;
  twk::OwnedPtrArray<CString> all;
  for (int i = 0; i < NumLayers(); ++i) {
    const CVol* vol = GetLayerVol(i);
    if (vol && !VA_VolExtractPHIrecords(vol, all.Items(), all.CountPtr())) return false;
  }
  int64_t n = 0;
  *lines = all.Release(&n);
  *count = int(n);
  return true;
}

namespace {

// The volume sets whose PHI a de-identification covers: every volume set of the set's document
// (the set alone when it has none).
std::vector<CDrawSet*> phiSetsOf(CDrawSet* self) {
  std::vector<CDrawSet*> sets;
  if (self->document)
    for (CDrawObj* obj : self->document->objects)
      if (obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVolumeSet()) sets.push_back(static_cast<CDrawSet*>(obj));
  if (std::find(sets.begin(), sets.end(), self) == sets.end()) sets.insert(sets.begin(), self);
  return sets;
}

}  // namespace

bool CDrawSet::ExtractDocumentPHIrecords(CString*** lines, int* count) {
  if (!lines || !count) return false;
  *lines = nullptr;
  *count = 0;
  twk::OwnedPtrArray<CString> all;
  for (CDrawSet* set : phiSetsOf(this))
    for (int i = 0; i < set->NumLayers(); ++i) {
      const CVol* vol = set->GetLayerVol(i);
      if (vol && !VA_VolExtractPHIrecords(vol, all.Items(), all.CountPtr())) return false;
    }
  int64_t n = 0;
  *lines = all.Release(&n);
  *count = int(n);
  return true;
}

bool CDrawSet::Deidentify(bool ask) {
  const std::vector<CDrawSet*> sets = phiSetsOf(this);
  if (ask) {
    twk::OwnedPtrArray<CString, int> lines;
    if (!ExtractDocumentPHIrecords(lines.Items(), lines.CountPtr())) return false;
    CString text;
    for (int i = 0; i < lines.Count(); ++i) text += *lines[i] + L"\n";
    if (lines.Count() == 0) {
      twk::doc::information(L"No PHI is present");
      return true;
    }
    // Cancel: nothing changed, which is no failure.
    if (twk::ui().threeButtons(text, L"Protected Health Info is present", L"Deidentify", L"Cancel", L"") != 0)
      return true;
  }
  // The bar runs once over all the layers' DICOM records; each layer steps its share of it.
  std::vector<CVol*> vols;
  for (CDrawSet* set : sets)
    for (int i = 0; i < set->NumLayers(); ++i)
      if (CVol* vol = set->GetLayerVol(i)) vols.push_back(vol);
  int64_t total = 0;
  for (const CVol* vol : vols) total += std::max<int64_t>(1, vol->numDicom);
  twk::ProgressGuard progress(L"Deidentify volume", true);
  int64_t done = 0;
  bool ok = true;
  bool changed = false;
  for (CVol* vol : vols) {
    const int64_t share = std::max<int64_t>(1, vol->numDicom);
    progress.NestInto(100 * done / total, 100 * (done + share) / total);
    changed = true;
    if (!VA_VolDeidentify(vol, true)) {
      // Esc stops without a message; anything else is named.
      const bool stopped = progress.Stopped();
      progress.End();
      if (!stopped) twk::doc::message(L"CDrawSet::Deidentify", L"Failed to de-identify " + vol->name);
      ok = false;
      break;
    }
    if (!progress.Step(done += share, total)) {
      ok = false;
      break;
    }
  }
  progress.End();
  // A stop or failure part-way may have changed layers before it: the document is changed then too.
  if (changed && document) document->SetModifiedFlag();
  return ok;
}
