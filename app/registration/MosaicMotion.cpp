// Mosaic in-slice motion correction through an intermediate unfolded document.
#include "MosaicMotion.h"

#include <algorithm>
#include <vector>

#include "AutofocusOperations.h"
#include "CommandTable.h"
#include "DocHooks.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "LayerConversions.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "geometry/Dynamic4D.h"
#include "volume/Frame.h"

bool TW_MosaicMotionCorrectionInSlice_MI(CDrawSet* set, bool flag, VA_AF4D* parms) {
  const wchar_t* const fn = L"CDrawSet::MosaicMotionCorrectionInSlice_MI";
  if (!set || !parms) return false;
  int open = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&open);
  pf_free(&docs);
  if (open != 1) {
    twk::showNamedError(fn, L"Single Opened document is expected");
    return false;
  }
  if (set->NumLayers() != 2 || !set->GetLayerVol(0) || !set->GetLayerVol(1)) {
    twk::showNamedError(fn, L"Exactly two raster layers should be present");
    return false;
  }
  CVol* signal = set->GetLayerVol(0);
  CVol* roi = set->GetLayerVol(1);
  if (signal->IsROI() || !roi->IsROI()) {
    twk::showNamedError(fn, L"Two Layer document with Signal and ROI layers is expected");
    return false;
  }
  CDrawDoc* self = set->GetDocument();
  if (!twk::files::Convert2DmosaicToVolume(*set, flag)) return false;
  CDrawDoc* unfolded = TW_LocateAnotherVolumetricDoc(&self, 1, nullptr);
  CDrawSet* work = unfolded ? unfolded->GetActiveSet() : nullptr;
  CDrawView* view = unfolded ? unfolded->GetActiveOrFirstView() : nullptr;
  if (!work) return false;
  std::vector<const CVol*> before;
  for (int i = 0; i < work->NumLayers(); ++i) before.push_back(work->GetLayerVol(i));
  if (!TW_RegisterAF4D(work, flag, view, parms)) return false;
  // The corrected series is the layer the registration added (before the mask, which it moves
  // last; found by itself so that an unmasked run does not fold the uncorrected series back).
  CVol* corrected = nullptr;
  for (int i = 0; i < work->NumLayers() && !corrected; ++i)
    if (std::find(before.begin(), before.end(), work->GetLayerVol(i)) == before.end()) corrected = work->GetLayerVol(i);
  FramePtr mosaic(corrected && corrected->frame ? VA_VolumeUserToVolumeMosaic(corrected->frame, true) : nullptr);
  if (!mosaic) return false;
  unfolded->RedrawAllViews(false);
  work->FreeAllViewCaches();
  if (const auto& close = TW_DocumentHooks().closeDocument) close(unfolded);
  else delete unfolded;

  FRAME* handed = mosaic.release();
  const bool added = set->AddResultLayerNewGeometry(signal, false, L"MC", &handed, 100, 0, -1) && set->SwapLayers(1, 2);
  mosaic.reset(handed);  // what the layer did not take
  if (self) self->RedrawAllViews(true);
  set->RefreshLayerPanel();
  return added;
}

// "Workflows > Renal Multilice > Mosaic Motion correction in-slice (MI)".
TW_COMMAND_BINDINGS(mosaic_motion) {
  TW_BindOperation("CDrawSet::MosaicMotionCorrectionInSlice_MI", [](const TW_COMMAND_CALL& c) {
    if (c.set) TW_MosaicMotionCorrectionInSlice_MI(c.set, c.Flag(0), c.Record<VA_AF4D>(1));
  });
}
