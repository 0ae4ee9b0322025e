// "4D: Blood Vessel Map": the voxels of the ROI whose curves follow one of the kinetic-model host's
// input functions become one layer per function; the rest of the ROI becomes "Organ".
#include "VesselMapOperation.h"

#include <vector>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DynExp.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dynamics/Dynamics.h"
#include "roi/VesselMap.h"
#include "volume/Frame.h"

namespace {

// Fixed for the program's lifetime; the command does not edit it.
const VA_VESSMAP_PARM g_VesselMapParms{1, 10, 2, 10.0, 10.0, 10.0, 1};

}  // namespace

namespace twk::seg {

bool SegmentVesselMapWith(CDrawSet& set, const INPUTFUNC* ifuncs, const CString* names, int n) {
  const wchar_t* where = L"CDrawSet::SegmentVesselMap";
  if (!set.IsVolumeSet()) return false;
  CVol* volume = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolSIandROI(false, true, true, &volume, &roi) || !volume || !roi) return false;
  const int T = volume->T();
  std::vector<int> order(static_cast<size_t>(T));
  DYNDIM kind = DYN_UNKNOWN;
  if (!VA_MainDynComponentToChronoOrder(volume->dyn, T, order.data(), &kind, nullptr, nullptr)) return false;
  if (kind != DYN_TIME) {
    twk::doc::message(where, L"Time dynamic dimension is required");
    return false;
  }
  if (!ifuncs || n < 1 || n > 10) {
    twk::doc::message(where, L"Invalid number of Input Functions");
    return false;
  }
  FRAME** maps = VA_VolVesselMap(&g_VesselMapParms, volume->frame, roi->frame, &volume->spc, order.data(), ifuncs, n,
                                 true, true);
  if (!maps) return false;
  bool ok = true;
  for (int k = 0; k <= n && ok; ++k)
    ok = set.AddResultLayer(false, false, k < n ? names[k].GetString() : L"Organ", roi, &maps[k], -1, 0,
                            int(set.NewRoiColor()));
  PR_FrameArrDelete(&maps, n + 1);
  if (ok) set.SetActiveLayerLast();
  if (CDrawDoc* doc = set.GetDocument()) CDrawDoc::RedrawAllViews(doc, false);
  return ok;
}

bool SegmentVesselMap(CDrawSet& set, const CDynExp* host) {
  if (!host) return false;
  // The filled slots in order, with their names.
  std::vector<INPUTFUNC> curves;
  std::vector<CString> names;
  for (int i = 0; i < DYNEXP_NUM_INPUTFUNCS; ++i)
    if (!host->ifuncName[i].IsEmpty()) {
      curves.push_back(host->ifunc[i]);
      names.push_back(host->ifuncName[i]);
    }
  return SegmentVesselMapWith(set, curves.data(), names.data(), int(curves.size()));
}

}  // namespace twk::seg
