#include "VectorRois.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "HighObj.h"
#include "TwkMem.h"

namespace {

bool ownedBy(const CDrawObj* obj, const CDrawSet* owner) {
  if (!obj || obj->kind != DRAWOBJ_SET) return false;
  const auto* set = static_cast<const CDrawSet*>(obj);
  return set->vroi && set->vroi->kind == HIGHOBJ_VECTOR_ROI && set->vroi->owner == owner;
}

}  // namespace

void TW_SetVectRoiLabel(HIGHOBJ* record, const char* label) {
  if (!record) return;
  std::memset(record->label, 0, sizeof(record->label));
  if (!label) return;
  // At most 127 bytes, not ending inside a UTF-8 character.
  const size_t length = std::strlen(label);
  size_t n = std::min<size_t>(length, sizeof(record->label) - 1);
  while (n > 0 && n < length && (static_cast<unsigned char>(label[n]) & 0xC0) == 0x80) --n;
  std::memcpy(record->label, label, n);
}

bool TW_CreateVectRoiFromLabel(CDrawSet* owner, const double box[6], int t0, int t1, const char* label) {
  CDrawDoc* doc = owner ? owner->GetDocument() : nullptr;
  if (!doc || !box) return false;
  auto* record = static_cast<HIGHOBJ*>(pf_calloc(int64_t(sizeof(HIGHOBJ))));
  if (!record) return false;
  TW_SetVectRoiLabel(record, label);
  record->kind = HIGHOBJ_VECTOR_ROI;
  record->shape = HIGHOBJ_SHAPE_BOX;
  record->owner = owner;
  record->t0 = t0;
  record->t1 = t1;
  record->x0 = box[0];
  record->y0 = box[1];
  record->z0 = box[2];
  record->x1 = box[3];
  record->y1 = box[4];
  record->z1 = box[5];
  auto* set = new CDrawSet(doc);
  set->vroi = record;
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  doc->SetModifiedFlag();
  return true;
}

bool TW_CreateVectRoiFromLabel(CDrawSet* owner, const double box[6], int t0, int t1, const wchar_t* label) {
  if (!label) return TW_CreateVectRoiFromLabel(owner, box, t0, t1, static_cast<const char*>(nullptr));
  const std::string narrow = CString(label).toUtf8();
  return TW_CreateVectRoiFromLabel(owner, box, t0, t1, narrow.c_str());
}

bool TW_CreateVectRoiFromRect(CDrawSet* owner, const RECT4D* box) {
  if (!box) return false;
  const double b[6] = {double(box->x0), double(box->y0), double(box->z0),
                       double(box->x1), double(box->y1), double(box->z1)};
  return TW_CreateVectRoiFromLabel(owner, b, box->t0, box->t1, static_cast<const char*>(nullptr));
}

CDrawSet** TW_CollectVectRoiObjects(CDrawSet* owner, int* count) {
  if (count) *count = 0;
  CDrawDoc* doc = owner ? owner->GetDocument() : nullptr;
  if (!doc || !count) return nullptr;
  int n = 0;
  for (const CDrawObj* obj : doc->objects) n += ownedBy(obj, owner);
  if (n == 0) return nullptr;
  auto** out = static_cast<CDrawSet**>(pf_malloc(int64_t(n) * int64_t(sizeof(CDrawSet*))));
  if (!out) return nullptr;
  int i = 0;
  for (CDrawObj* obj : doc->objects)
    if (ownedBy(obj, owner)) out[i++] = static_cast<CDrawSet*>(obj);
  *count = n;
  return out;
}

bool TW_CollectVectRoisOfVolume(CDrawSet* owner, CDrawView*, CDrawSet*** out, int* count) {
  if (!out || !count) return false;
  *out = nullptr;
  *count = 0;
  CDrawDoc* doc = owner ? owner->GetDocument() : nullptr;
  if (!doc) return true;
  int n = 0;
  CDrawSet** all = TW_CollectVectRoiObjects(owner, &n);
  if (!all) return true;
  auto selected = [doc](const CDrawSet* s) {
    return std::find(doc->selection.begin(), doc->selection.end(), s) != doc->selection.end();
  };
  const bool anySelected = std::any_of(all, all + n, selected);
  int kept = 0;
  for (int i = 0; i < n; ++i)
    if (!anySelected || selected(all[i])) all[kept++] = all[i];
  *out = all;
  *count = kept;
  return true;
}

bool TW_IntersectVectRoiBounds(HIGHOBJ* r, const int32_t limits[8]) {
  if (!r || !limits) return false;
  const int32_t lx0 = limits[0], ly0 = limits[1], lz0 = limits[2], lx1 = limits[3], ly1 = limits[4], lz1 = limits[5];
  const int32_t lt0 = limits[6], lt1 = limits[7];
  if (lt1 < r->t0 || r->t1 < lt0) return false;
  const double lower[3] = {double(lx0), double(ly0), double(lz0)};
  const double upper[3] = {double(lx1), double(ly1), double(lz1)};
  double* lo[3] = {&r->x0, &r->y0, &r->z0};
  double* hi[3] = {&r->x1, &r->y1, &r->z1};
  for (int a = 0; a < 3; ++a)
    if (*lo[a] > upper[a] + 1 || lower[a] > *hi[a]) return false;
  r->t0 = std::max(r->t0, lt0) - lt0;
  r->t1 = std::min(lt1, r->t1) - lt0;
  for (int a = 0; a < 3; ++a) {
    *lo[a] = std::max(*lo[a], lower[a]) - lower[a];
    *hi[a] = std::min(upper[a] + 1, *hi[a]) - lower[a];
  }
  return true;
}
