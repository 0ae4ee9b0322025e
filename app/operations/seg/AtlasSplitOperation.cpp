// The label-map split of the layer sets: the operand's regions into ROI layers.
#include "AtlasSplitOperation.h"

#include <cmath>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "Prompts.h"
#include "SegOperationEnd.h"
#include "TwkMem.h"
#include "Vol.h"
#include "ops/VolumeOps.h"
#include "roi/LabelMaps.h"
#include "volume/Frame.h"

namespace twk::seg {

bool AtlasSplit(CDrawSet& set) {
  const wchar_t* where = L"CDrawSet::AtlasSplit";
  if (!set.IsVolumeSet()) return false;
  RedrawAtEnd end{set.GetDocument()};
  CVol* operand = set.WorkVolNonRoi();
  if (!operand || !operand->frame) {
    twk::doc::message(where, L"Integer or Real volume is required");
    return false;
  }
  if (operand->Is4D()) {
    twk::doc::message(where, L"3D volume is required");
    return false;
  }
  // The range of the labels (a real map rounded to integers for it).
  double lo = 0, hi = 0;
  {
    const bool real = operand->frame->type == FRM_REAL;
    const FramePtr integers(real ? VA_VolRealToInteger(operand->frame, 0.0, 30, true) : nullptr);
    if (real && !integers) return false;
    if (!VA_VolMinMax(integers ? integers.get() : operand->frame, 0, nullptr, &lo, &hi)) return false;
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  CString list;
  if (!TW_SpecifyStr(FmtStr(L"Enter region indices from [%u,%u] range separated by commas.\nEmpty string for all regions",
                            unsigned(std::max(0.0, lo)), unsigned(std::max(0.0, hi))),
                     &list))
    return false;
  list.Trim();
  int count = 0;
  int* labels = nullptr;
  FRAME** regions = VA_AtlasSplit(operand->frame, list, 0, &labels, &count, true);
  if (!regions) {
    pf_free(&labels);
    return false;
  }
  bool ok = true;
  {
    twk::ProgressGuard progress(L"Adding layers", true);
    for (int i = 0; i < count && ok; ++i) {
      if (!progress.Step(i, count)) {
        ok = false;
        break;
      }
      ok = set.AddResultLayer(false, false, FmtStr(L"atlas region %u", unsigned(labels ? labels[i] : i + 1)), operand,
                              &regions[i], 100, 0, int(set.NewRoiColor()));
    }
  }
  PR_FrameArrDelete(&regions, count);
  pf_free(&labels);
  return ok;
}

}  // namespace twk::seg
