// Detectors of the layer sets: dark or bright spots of a 3D signal volume.
#include "DetectSpotsDialog.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/Detectors.h"
#include "volume/Frame.h"

bool CDrawSet::DetectSpots(CDrawSet* set, bool bright) {
  if (!set) {
    twk::doc::message(L"CDrawSet::DetectSpots", L"3D volume is required");
    return false;
  }
  return set->DetectSpots(bright);
}

bool CDrawSet::DetectSpots(bool bright) {
  struct RedrawAtEnd {
    CDrawDoc* doc;
    ~RedrawAtEnd() {
      if (doc) CDrawDoc::RedrawAllViews(doc, true);
    }
  } end{GetDocument()};
  CVol* vol = IsVolumeSet() ? WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame || vol->Is4D()) {
    twk::doc::message(L"CDrawSet::DetectSpots", L"3D volume is required");
    return false;
  }
  if (!TW_DlgDetectSpots()) return false;
  // The command's polarity decides which spots are found.
  FRAME* spots = VA_VolDetectSpots(bright, &g_DetectSpotsParms, vol->frame, &vol->spc, true);
  if (!spots) return false;
  const bool added = AddResultLayer(false, false, L"spots", vol, &spots, -1, 0, -1);
  PR_FrameDelete(&spots);
  return added;
}
