// Helpers that many operations share: the layer lookup by name part, the seeds of a set and the
// body-mask prompt.
#include "OperationHelpers.h"

#include <algorithm>
#include <vector>

#include "CommandTable.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"

VA_BODYFORG g_BodyMaskParms;

namespace {

struct SEED {
  DRECT3D box;
  bool selected;
};

// The seeds of the set (vector ROIs of its document that it owns), in drawing order, their
// in-plane bounds ordered and clipped to [0, width] x [0, height].
std::vector<SEED> collectSeeds(const CDrawSet* set, const int wh[2]) {
  std::vector<SEED> seeds;
  const CDrawDoc* doc = set->GetDocument();
  if (!doc) return seeds;
  const double w = wh ? wh[0] : 1e300, h = wh ? wh[1] : 1e300;
  for (const CDrawObj* obj : doc->objects) {
    if (obj->kind != DRAWOBJ_SET) continue;
    const HIGHOBJ* r = static_cast<const CDrawSet*>(obj)->vroi;
    if (!r || r->kind != HIGHOBJ_VECTOR_ROI || r->owner != set) continue;
    SEED s;
    s.box = DRECT3D{std::clamp(std::min(r->x0, r->x1), 0.0, w), std::clamp(std::min(r->y0, r->y1), 0.0, h), r->z0,
                    std::clamp(std::max(r->x0, r->x1), 0.0, w), std::clamp(std::max(r->y0, r->y1), 0.0, h), r->z1};
    s.selected = std::find(doc->selection.begin(), doc->selection.end(), obj) != doc->selection.end();
    seeds.push_back(s);
  }
  return seeds;
}

}  // namespace

namespace twk::ops {

CVol* FindLayerContaining(const CDrawSet& set, bool report, const wchar_t* text, bool markedOnly) {
  CString wanted(text ? text : L"");
  wanted.MakeUpper();
  for (int i = 0; i < set.NumEntries(); ++i) {
    CDrawObj* entry = set.GetEntry(i);
    if (!entry || entry->Kind() != DRAWOBJ_VOL) continue;
    auto* layer = static_cast<CDrawVol*>(entry);
    if (markedOnly && !layer->IsMarked()) continue;
    CVol* vol = layer->GetVol();
    if (!vol) continue;
    CString title = PR_GetFileTitleName(vol->name);
    title.MakeUpper();
    if (title.Find(wanted) != -1) return vol;
  }
  if (report)
    twk::ui().messageBox(FmtStr(L"Layer containing %s not found", static_cast<const wchar_t*>(wanted)), L"Tarnwick",
                         MB_OK | MB_ICONSTOP);
  return nullptr;
}

bool ExtractOperSeedBox(const CDrawSet& set, CDrawView*, const int wh[2], DRECT3D* box) {
  const wchar_t* where = L"CDrawSet::ExtractOperSeedBox";
  const std::vector<SEED> seeds = collectSeeds(&set, wh);
  if (seeds.empty()) {
    twk::doc::message(where, L"At least one seed is expected");
    return false;
  }
  const SEED* chosen = seeds.size() == 1 ? &seeds[0] : nullptr;
  if (!chosen && std::count_if(seeds.begin(), seeds.end(), [](const SEED& s) { return s.selected; }) == 1)
    chosen = &*std::find_if(seeds.begin(), seeds.end(), [](const SEED& s) { return s.selected; });
  if (!chosen) {
    twk::doc::message(where, L"With several seeds present a single one should be selected");
    return false;
  }
  if (box) *box = chosen->box;
  return true;
}

bool GetSeedBoxes(const CDrawSet& set, CDrawView*, const int wh[2], DRECT3D** boxes, int* count, int* selected,
                  int* selectedCount) {
  const std::vector<SEED> seeds = collectSeeds(&set, wh);
  if (boxes) *boxes = nullptr;
  if (count) *count = int(seeds.size());
  int last = -1, chosen = 0;
  for (size_t i = 0; i < seeds.size(); ++i)
    if (seeds[i].selected) {
      last = int(i);
      ++chosen;
    }
  if (selected) *selected = last;
  if (selectedCount) *selectedCount = chosen;
  if (boxes && !seeds.empty()) {
    *boxes = static_cast<DRECT3D*>(pf_malloc(int64_t(seeds.size() * sizeof(DRECT3D))));
    if (!*boxes) return false;
    for (size_t i = 0; i < seeds.size(); ++i) (*boxes)[i] = seeds[i].box;
  }
  return true;
}

}  // namespace twk::ops

bool TW_AskBodyMaskParms(VA_BODYFORG* parms) {
  if (!parms) return false;
  if (!TW_SpecifyThreeDoubles(L"Detect Body Mask", L"Body radius (mm)", &parms->bodyRadius, L"Relative threshold",
                              &parms->relativeThreshold, L"Peel\\Grow", &parms->peelGrow))
    return false;
  parms->peelGrowApplied = parms->peelGrow;
  return true;
}

void TW_SetDefaultBodyMaskParms(VA_BODYFORG* parms) {
  if (parms) *parms = VA_BODYFORG{};
}

TW_COMMAND_BINDINGS(operation_helpers) {
  TW_RegisterPreset("g_BodyMaskParms", &g_BodyMaskParms);
  TW_BindOperation("CDrawSet::Deidentify", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Deidentify(c.Flag(0));
  });
}
