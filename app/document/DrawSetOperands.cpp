// The operand rule: which layers of a set a command works on. A layer is an operand only when it
// is marked; the active layer wins when it is marked and of the wanted kind; otherwise the marked
// layers of that kind are searched in layer order.
#include <functional>

#include "DocMessages.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"

namespace {

using Wanted = std::function<bool(const CVol*)>;

bool usable(const CDrawVol* layer) { return layer && layer->vol && layer->vol->frame; }

const Wanted kInteger = [](const CVol* v) { return v->IsINT(); };
const Wanted kNonRoi = [](const CVol* v) { return !v->IsROI(); };
const Wanted kRoi = [](const CVol* v) { return v->IsROI(); };
const Wanted kNonRoi4D = [](const CVol* v) { return !v->IsROI() && v->T() >= 2; };
const Wanted kReal = [](const CVol* v) { return v->IsReal(); };
const Wanted kAny = [](const CVol*) { return true; };
const Wanted kPet4D = [](const CVol* v) {
  return v->T() >= 2 && (v->IsINT() || v->IsReal()) && v->GetModality() == MODALITY_PET;
};

void ambiguous(const wchar_t* picker) { twk::doc::message(picker, TW_AMBIGUOUS_LAYERS); }

}  // namespace

namespace twk::doc {

// The active layer when it is marked and wanted, else the marked wanted layers in order.
struct Candidates {
  CVol* active = nullptr;
  std::vector<CVol*> marked;
};

static Candidates candidates(const CDrawSet& set, const Wanted& wanted) {
  Candidates c;
  const CDrawVol* activeLayer = set.GetActiveLayer();
  if (usable(activeLayer) && activeLayer->IsMarked() && wanted(activeLayer->vol)) {
    c.active = activeLayer->vol;
    return c;
  }
  for (int i = 0; i < set.NumLayers(); ++i) {
    const CDrawVol* layer = set.GetLayer(i);
    if (usable(layer) && layer->IsMarked() && wanted(layer->vol)) c.marked.push_back(layer->vol);
  }
  return c;
}

}  // namespace twk::doc

using twk::doc::candidates;

CVol* CDrawSet::WorkVolSI() {
  if (!guardVolumeSet(nullptr)) return nullptr;
  const auto c = candidates(*this, kInteger);
  if (c.active) return c.active;
  if (c.marked.size() >= 2) {
    ambiguous(L"CDrawSet::WorkVolSI");
    return nullptr;
  }
  return c.marked.empty() ? nullptr : c.marked[0];
}

CVol* CDrawSet::WorkVolNonRoi(bool* isAmbiguous) {
  if (isAmbiguous) *isAmbiguous = false;
  const auto c = candidates(*this, kNonRoi);
  if (c.active) return c.active;
  if (c.marked.size() >= 2) {
    if (isAmbiguous) *isAmbiguous = true;
    ambiguous(L"CDrawSet::WorkVolNonRoi");
    return nullptr;
  }
  return c.marked.empty() ? nullptr : c.marked[0];
}

CVol* CDrawSet::WorkVolROI(int* count) {
  if (count) *count = 0;
  if (!guardVolumeSet(nullptr)) return nullptr;
  const auto c = candidates(*this, kRoi);
  if (c.active) {
    if (count) *count = 1;
    return c.active;
  }
  if (count) *count = int(c.marked.size());
  return c.marked.size() == 1 ? c.marked[0] : nullptr;
}

CVol* CDrawSet::WorkVolNonROI4D() {
  if (!guardVolumeSet(nullptr)) return nullptr;
  const auto c = candidates(*this, kNonRoi4D);
  if (c.active) return c.active;
  if (c.marked.size() >= 2) {
    ambiguous(L"CDrawSet::WorkVolNonROI4D");
    return nullptr;
  }
  return c.marked.empty() ? nullptr : c.marked[0];
}

static CVol* firstOf(const twk::doc::Candidates& c) { return c.active ? c.active : c.marked.empty() ? nullptr : c.marked[0]; }

CVol* CDrawSet::WorkVolReal() { return guardVolumeSet(nullptr) ? firstOf(candidates(*this, kReal)) : nullptr; }
CVol* CDrawSet::WorkVolAny() { return guardVolumeSet(nullptr) ? firstOf(candidates(*this, kAny)) : nullptr; }
CVol* CDrawSet::WorkVolRoiFirstMarked() { return guardVolumeSet(nullptr) ? firstOf(candidates(*this, kRoi)) : nullptr; }
CVol* CDrawSet::WorkVolPET4D() { return guardVolumeSet(nullptr) ? firstOf(candidates(*this, kPet4D)) : nullptr; }

namespace {

// The steps shared by the two volume-and-ROI pickers; volume holds the picked volume even when a
// later check fails.
bool volumeAndRoi(CDrawSet& set, const wchar_t* prefix, CVol* picked, bool require3D, bool require4D,
                  bool roiRequired, CVol** volume, CVol** roi) {
  if (volume) *volume = picked;
  if (!picked) {
    twk::doc::message(prefix, L"No suitable volume is present or enabled");
    return false;
  }
  if (require4D && picked->T() == 1) {
    twk::doc::message(prefix, L"4D volume is required");
    return false;
  }
  if (require3D && picked->T() >= 2) {
    twk::doc::message(prefix, L"3D volume is required");
    return false;
  }
  if (!roi) return true;
  int count = 0;
  *roi = set.WorkVolROI(&count);
  if (count >= 2) {
    twk::doc::message(prefix, TW_AMBIGUOUS_LAYERS);
    return false;
  }
  if (roiRequired && !*roi) {
    twk::doc::message(prefix, L"ROI is not present or enabled");
    return false;
  }
  return true;
}

}  // namespace

bool CDrawSet::WorkVolNonROIandROI(bool require3D, bool require4D, bool roiRequired, CVol** volume, CVol** roi) {
  CVol* picked = WorkVolNonRoi();
  return volumeAndRoi(*this, L"CDrawSet::WorkVolNonROIandROI", picked, require3D, require4D, roiRequired, volume,
                      roi);
}

bool CDrawSet::WorkVolSIandROI(bool require3D, bool require4D, bool roiRequired, CVol** volume, CVol** roi) {
  CVol* picked = WorkVolSI();
  return volumeAndRoi(*this, L"CDrawSet::WorkVolSIandROI", picked, require3D, require4D, roiRequired, volume, roi);
}

bool CDrawSet::WorkVolNonROIandTwoROIs(CVol** volume, CVol** roi1, CVol** roi2) {
  if (volume) *volume = nullptr;
  if (roi1) *roi1 = nullptr;
  if (roi2) *roi2 = nullptr;
  if (CountMarkedNonRoi() >= 2 || CountMarkedRoi() >= 3) {
    twk::doc::message(L"CDrawSet::WorkVolNonROIandTwoROIs", TW_AMBIGUOUS_LAYERS);
    return false;
  }
  int rois = 0;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (!usable(layer) || !layer->IsMarked()) continue;
    if (!layer->vol->IsROI()) {
      if (volume) *volume = layer->vol;
    } else if (rois++ == 0) {
      if (roi1) *roi1 = layer->vol;
    } else if (roi2) {
      *roi2 = layer->vol;
    }
  }
  return true;
}

bool CDrawSet::WorkVolROI_SingleOptional(CVol** roi) { return WorkVolROI_SingleOptional(this, roi); }

bool CDrawSet::GetMarkedRoiLayers(bool want3D, bool want4D, CVol*** array, int* count) {
  if (!array || !count) return false;
  *array = static_cast<CVol**>(pf_calloc(int64_t(std::max(1, NumLayers())) * int64_t(sizeof(CVol*))));
  *count = 0;
  if (!*array) return false;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (!usable(layer) || !layer->IsMarked() || !layer->vol->IsROI()) continue;
    const CVol* v = layer->vol;
    if ((want3D && v->T() == 1) || (want4D && v->T() > 1)) (*array)[(*count)++] = layer->vol;
  }
  return true;
}

// --- null-safe forms ---

CVol* CDrawSet::WorkVolSI(CDrawSet* set) { return set ? set->WorkVolSI() : nullptr; }
CVol* CDrawSet::WorkVolNonRoi(CDrawSet* set, bool* isAmbiguous) {
  if (isAmbiguous) *isAmbiguous = false;
  return set ? set->WorkVolNonRoi(isAmbiguous) : nullptr;
}
CVol* CDrawSet::WorkVolROI(CDrawSet* set, int* count) {
  if (set) return set->WorkVolROI(count);
  if (count) *count = 0;
  twk::doc::message(nullptr, L"Volumetric Entity is required");
  return nullptr;
}
CVol* CDrawSet::WorkVolNonROI4D(CDrawSet* set) { return set ? set->WorkVolNonROI4D() : nullptr; }
CVol* CDrawSet::WorkVolReal(CDrawSet* set) {
  if (set) return set->WorkVolReal();
  twk::doc::message(nullptr, L"Volumetric Entity is required");
  return nullptr;
}
CVol* CDrawSet::WorkVolAny(CDrawSet* set) { return set ? set->WorkVolAny() : nullptr; }
CVol* CDrawSet::WorkVolRoiFirstMarked(CDrawSet* set) { return set ? set->WorkVolRoiFirstMarked() : nullptr; }
CVol* CDrawSet::WorkVolPET4D(CDrawSet* set) {
  if (set) return set->WorkVolPET4D();
  twk::doc::message(nullptr, L"Volumetric Entity is required");
  return nullptr;
}
bool CDrawSet::WorkVolROI_SingleOptional(CDrawSet* set, CVol** roi) {
  if (roi) *roi = nullptr;
  if (!set) {
    twk::doc::message(L"CDrawSet::WorkVolROI_SingleOptional", L"Operand is not present");
    return false;
  }
  if (!set->IsVolumeSet()) {
    twk::doc::message(L"CDrawSet::WorkVolROI_SingleOptional", L"Volumetric Entity is required");
    return false;
  }
  int count = 0;
  CVol* found = set->WorkVolROI(&count);
  if (roi && count <= 1) *roi = found;
  return true;
}
