#include "DrawVol.h"

#include <atomic>

#include "docsupport/DocSupport.h"
#include "DrawDoc.h"
#include "Vol.h"
#include "volume/Frame.h"

namespace {
std::atomic<uint64_t> g_nextLayerId{1};
}

CDrawVol::CDrawVol() : layerId_(g_nextLayerId.fetch_add(1)) {
  kind = DRAWOBJ_VOL;
  style.fillColor = style.lineColor = 0xFFFFFF;
}

CDrawVol::~CDrawVol() {
  FreeViewCaches();
  if (vol) purgeUndo();
  delete vol;
}

void CDrawVol::purgeUndo() {
  if (document) document->PurgeUndoForLayer(layerId_, vol ? vol->frame : nullptr);
}

bool CDrawVol::Init(CVol** volume, const PR_VIEWFILT* initial, bool show) {
  if (!volume || !*volume) return false;
  vol = *volume;
  *volume = nullptr;
  if (initial && initial->width > 0 && initial->level > 0) {
    filter = *initial;
    return true;
  }
  int t = 0;
  if (!vol->IsROI() && vol->T() > 1 && !VA_VolGetTimeOfMaxSignal(vol->frame, &t)) return false;
  if (!VA_OptimalIntensWindow(1, vol->frame, t, &filter, show)) return false;
  filter.invert = 0;
  filter.scheme = 0;
  filter.roiColor = 0;
  return true;
}

void CDrawVol::ReplaceVol(CVol** volume) {
  if (!volume || *volume == vol) return;
  FreeViewCaches();
  if (vol) purgeUndo();
  delete vol;
  vol = *volume;
  *volume = nullptr;
}

void CDrawVol::FreeViewCaches() { caches.clear(); }

int64_t CDrawVol::MemSize() const {
  return int64_t(sizeof(CDrawVol)) + (vol && vol->frame ? int64_t(PR_FrameMemSize(vol->frame)) : 0);
}
