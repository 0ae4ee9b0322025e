// Vector ROIs: creation, queries and the layer set's vector-ROI commands.

#include "VectRois.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "HighObj.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "VectRoiFile.h"
#include "VectorRois.h"
#include "Vol.h"
#include "render/RectHelpers.h"

namespace {

const wchar_t* const kVroiFilter = L"Vector ROIs (*.vroi)|*.vroi|";
const wchar_t* const kNoVrois = L"There are no VROIs in this document";

// The vector-ROI objects of the document owned by ownerSet, in drawing order.
std::vector<CDrawSet*> vectRoisOf(const CDrawSet* ownerSet) {
  std::vector<CDrawSet*> found;
  const CDrawDoc* doc = ownerSet ? ownerSet->GetDocument() : nullptr;
  if (!doc) return found;
  for (CDrawObj* o : doc->objects) {
    if (!o || o->kind != DRAWOBJ_SET) continue;
    auto* set = static_cast<CDrawSet*>(o);
    if (set->IsVectorRoi() && set->vroi->owner == ownerSet) found.push_back(set);
  }
  return found;
}

bool overlapsTime(const HIGHOBJ* r, int t0, int t1) {
  if (t0 < 0 || t1 < 0) return true;
  return r->t0 <= t1 && t0 <= r->t1;
}

template <class T>
T* toArray(const std::vector<T>& items, int* count) {
  *count = 0;
  if (items.empty()) return nullptr;
  auto* array = static_cast<T*>(pf_calloc(int64_t(items.size()) * int64_t(sizeof(T))));
  if (!array) return nullptr;
  std::copy(items.begin(), items.end(), array);
  *count = int(items.size());
  return array;
}

// A new vector-ROI object of the document holding a copy of record, drawn in colour.
// The set must be a volume set; otherwise "Volumetric Entity is required" under the prefix.
bool requireVolumeSet(const CDrawSet& set, const wchar_t* prefix) {
  if (set.IsVolumeSet()) return true;
  twk::doc::message(prefix, L"Volumetric Entity is required");
  return false;
}

bool addVectRoiObject(CDrawDoc* doc, const HIGHOBJ& record, COLORREF colour) {
  if (!doc) return false;
  auto* copy = static_cast<HIGHOBJ*>(pf_malloc(sizeof(HIGHOBJ)));
  if (!copy) return false;
  std::memcpy(copy, &record, sizeof(HIGHOBJ));
  auto* set = new CDrawSet(doc);
  set->vroi = copy;
  set->style.fillColor = colour;
  set->style.lineColor = colour;
  CDrawObj* add = set;
  if (!doc->AddObject(&add, true)) {
    delete set;
    return false;
  }
  doc->SetModifiedFlag();
  return true;
}

}  // namespace

HIGHOBJ** TW_GatherVectRoisInTimeRange(CDrawSet* ownerSet, int t0, int t1, int* count) {
  if (!count) return nullptr;
  std::vector<HIGHOBJ*> records;
  for (CDrawSet* set : vectRoisOf(ownerSet))
    if (overlapsTime(set->vroi, t0, t1)) records.push_back(set->vroi);
  return toArray(records, count);
}

bool TW_GetVectRoiBox(const HIGHOBJ* record, const int wh[2], DRECT3D* out) {
  if (!record || !wh || !out) return false;
  DRECT plane{record->x0, record->y0, record->x1, record->y1};
  PR_DrectNormalize(&plane);
  const DRECT frame{0, 0, double(wh[0]), double(wh[1])};
  DRECT clipped;
  // A box beside the frame keeps its ordered bounds: the clip only narrows what overlaps.
  if (PR_IntersectDrects(&plane, &frame, &clipped)) plane = clipped;
  *out = DRECT3D{plane.x0, plane.y0, record->z0, plane.x1, plane.y1, record->z1};
  return true;
}

bool TW_GetVectRoiBoxes(CDrawSet* ownerSet, CDrawView* view, const int wh[2], DRECT3D** out, int* count) {
  if (!out || !count || !wh) return false;
  *out = nullptr;
  *count = 0;
  CDrawSet** sets = nullptr;
  int n = 0;
  if (!TW_CollectVectRoisOfVolume(ownerSet, view, &sets, &n)) return false;
  if (n == 0) return true;
  auto* boxes = static_cast<DRECT3D*>(pf_calloc(int64_t(n) * int64_t(sizeof(DRECT3D))));
  if (!boxes) {
    pf_free(&sets);
    return false;
  }
  for (int i = 0; i < n; ++i) TW_GetVectRoiBox(sets[i]->vroi, wh, &boxes[i]);
  pf_free(&sets);
  *out = boxes;
  *count = n;
  return true;
}

bool TW_VectRoiBoxExists(CDrawSet* ownerSet, const DRECT3D* box, int t0, int t1) {
  if (!box) return false;
  for (CDrawSet* set : vectRoisOf(ownerSet)) {
    const HIGHOBJ* r = set->vroi;
    if (!overlapsTime(r, t0, t1)) continue;
    if (r->x0 == box->x0 && r->y0 == box->y0 && r->z0 == box->z0 && r->x1 == box->x1 && r->y1 == box->y1 &&
        r->z1 == box->z1)
      return true;
  }
  return false;
}

// --- commands ---

namespace twk::files {

bool VectRoiSave(CDrawSet& set) {
  static const wchar_t* const prefix = L"CDrawSet::VectRoiSave";
  if (!requireVolumeSet(set, prefix)) return false;
  const std::vector<CDrawSet*> rois = vectRoisOf(&set);
  if (rois.empty()) {
    twk::doc::message(prefix, kNoVrois);
    return false;
  }
  CString path;
  if (!TW_GetFilteredSaveName(kVroiFilter, nullptr, nullptr, nullptr, &path)) return false;
  std::vector<HIGHOBJ*> records;
  std::vector<uint32_t> colours;
  for (CDrawSet* roi : rois) {
    records.push_back(roi->vroi);
    colours.push_back(uint32_t(roi->style.fillColor));
  }
  if (!TW_WriteVectRoiFile(records.data(), colours.data(), uint32_t(records.size()), path.GetString())) {
    twk::doc::message(prefix, L"Failed to save Vector Roi objects");
    return false;
  }
  return true;
}

bool VectRoiLoad(CDrawSet& set, const wchar_t* pathArg) {
  static const wchar_t* const prefix = L"CDrawSet::VectRoiLoad";
  CDrawDoc* doc = set.GetDocument();
  auto fail = [&]() {
    twk::doc::information(CString(L"Failed to load ") + (pathArg ? pathArg : L""));
    CDrawDoc::RedrawAllViews(doc, false);
    return false;
  };
  if (!requireVolumeSet(set, prefix) || !doc) return fail();
  CString path = pathArg ? CString(pathArg) : CString();
  if (!pathArg && !TW_GetFilteredLoadName(kVroiFilter, &TW_EditOptions().vroiLoadFolder, nullptr, nullptr, &path))
    return fail();
  uint32_t* colours = nullptr;
  uint32_t n = 0;
  HIGHOBJ* records = TW_ReadVectRoiFile(&set, path.GetString(), &colours, &n);
  if (!records) return fail();
  doc->SetModifiedFlag();
  bool ok = true;
  for (uint32_t i = 0; ok && i < n; ++i) ok = addVectRoiObject(doc, records[i], COLORREF(colours[i]));
  pf_free(&records);
  pf_free(&colours);
  if (!ok) return fail();
  CDrawDoc::RedrawAllViews(doc, false);
  return true;
}

bool DeleteVectROIs(CDrawSet& set, int mode, bool sayNone) {
  if (!requireVolumeSet(set, L"CDrawSet::DeleteVectROIs")) return false;
  CDrawDoc* doc = set.GetDocument();
  int removed = 0;
  for (CDrawSet* roi : vectRoisOf(&set)) {
    const HIGHOBJ* r = roi->vroi;
    if (mode == 2 && !(std::fabs(r->x1 - r->x0) < 1.0 && std::fabs(r->y1 - r->y0) < 1.0 && std::fabs(r->z1 - r->z0) < 1.0))
      continue;
    doc->RemoveObject(roi);
    delete roi;
    ++removed;
  }
  if (removed == 0 && sayNone) twk::doc::information(kNoVrois);
  CDrawDoc::RedrawAllViews(doc, true);
  return true;
}

bool ListAllVectorROIs(CDrawSet& set) {
  static const wchar_t* const prefix = L"CDrawSet::ListAllVectorROIs";
  int maxT = 0, index = 0;
  if (!set.MaxT(&maxT, &index)) return false;
  std::vector<CString> lines;
  for (CDrawSet* roi : vectRoisOf(&set))
    if (overlapsTime(roi->vroi, 0, maxT - 1)) {
      const HIGHOBJ* r = roi->vroi;
      wchar_t label[sizeof r->label];
      CstrToTstr(r->label, label, sizeof r->label);
      CString line;
      line.Format(L"%s: [t%u , t%u]\n", label, unsigned(r->t0), unsigned(r->t1));
      lines.push_back(line);
    }
  if (lines.empty()) {
    twk::doc::message(prefix, kNoVrois);
    return false;
  }
  CString head;
  head.Format(L"Number of VROIs : %u\n", unsigned(lines.size()));
  lines.insert(lines.begin(), head);
  std::vector<const wchar_t*> texts;
  for (const CString& l : lines) texts.push_back(l.GetString());
  TW_ThreeButtonMsgBox(L"List of all VROIs", texts.data(), int(texts.size()), L"", L"OK", L"");
  return true;
}

bool VectorRoi_2Dto3D(CDrawSet& vectorRoi, CDrawView* view) {
  static const wchar_t* const prefix = L"CDrawSet::VectorRoi_2Dto3D";
  CDrawSet* owner = vectorRoi.vroi ? vectorRoi.vroi->owner : nullptr;
  const CVol* base = owner ? owner->GetBaseVol() : nullptr;
  if (!owner || !base) {
    twk::doc::message(prefix, L"Base entity is not present");
    return false;
  }
  CDrawDoc* doc = vectorRoi.GetDocument();
  if (doc) doc->SetModifiedFlag();
  if (!vectorRoi.IsVectorRoi()) return false;
  HIGHOBJ* r = vectorRoi.vroi;
  if (r->z1 - r->z0 > 1.0) {
    twk::doc::message(prefix, L"2D Vector ROI is required for this operation");
    return false;
  }
  const SPC* spc = base->Spc();
  const double e = std::max(std::fabs(r->x1 - r->x0) * spc->x, std::fabs(r->y1 - r->y0) * spc->y) / spc->z;
  r->z0 -= e / 2;
  r->z1 += e / 2;
  if (view) CDrawDoc::RedrawAllViews(doc, false);
  return true;
}

}  // namespace twk::files
