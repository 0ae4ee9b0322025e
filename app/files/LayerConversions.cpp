// Conversions of a layer's voxel kind or arrangement (ROI to integer labels, real to integer, signal
// to a real map, a 2D mosaic into a volume of its own document) and the duplicate of a layer.
#include "LayerConversions.h"

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "ImageOpen.h"
#include "Prompts.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "ViewGeometry.h"
#include "Vol.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"
#include "docsupport/DocSupport.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"

namespace {

// Adds the volume as a layer and makes it the active one; a volume the set did not take is deleted.
bool addAsActiveLayer(CDrawSet& set, CVol* vol, int percent, int scheme, int colour) {
  CVol* taken = vol;
  const bool ok = set.AddLayer(&taken, percent, scheme, colour);
  delete taken;
  if (ok) set.SetActiveLayerLast();
  return ok;
}

// The frame as a new layer made like the template volume (AddResultLayer); the layer takes the
// frame, and what it did not take goes with the holder.
bool addResultLayer(CDrawSet& set, const wchar_t* name, CVol* templateVol, FramePtr frame, int percent, int scheme,
                    const PR_VIEWFILT* filter, bool showProgress) {
  FRAME* handed = frame.release();
  const bool added = set.AddResultLayer(false, showProgress, name, templateVol, &handed, percent, scheme, -1, nullptr,
                                        nullptr, nullptr, filter);
  frame.reset(handed);
  return added;
}

// A mosaic layer split into a volume of n slices per time point: the tiles as slices, each slice's
// header cloned from its mosaic's (positions of the tiles), the dynamic coordinates of the source.
// Null (reported) when the mosaic does not split into n tiles.
CVol* splitMosaic(const CVol* source, int n, const CString& name) {
  FramePtr frame(VA_VolumeMosaicToVolumeUser(source->frame, n, true));
  if (!frame) return nullptr;
  const int T = source->T();
  const DIM3D dims = frame->dim;
  CVol* vol = nullptr;
  // Headers of the time points' mosaics, when the source has them.
  std::vector<DCMFF*> mosaics;
  if (source->dicom && source->numDicom >= T)
    for (int t = 0; t < T; ++t)
      if (DCMFF* h = VA_DicomRecGetHeader(source->dicom[source->numDicom == T ? t : int64_t(t) * source->D()]))
        mosaics.push_back(h);
  if (int(mosaics.size()) == T) {
    DCMFF** slices = TWKDCM_CloneHeaderFromMosaic(mosaics.data(), T, n);
    if (slices) {
      DICOMREC** records = VA_GetDicomRecArr(slices, int64_t(n) * T);
      if (records) {
        FRMTYPE kind = source->Type();
        vol = VA_LoadByItem_VolHeader(&dims, records, nullptr, &kind, false);
        for (int64_t i = 0; i < int64_t(n) * T; ++i) delete records[i];
        pf_free(&records);
      }
      TWKDCM_DeleteFFarr(&slices, int64_t(n) * T);
    }
  }
  for (DCMFF*& h : mosaics) TWKDCM_DeleteFF(&h);
  if (!vol) {
    // Without headers the tiles keep the source's in-plane geometry.
    vol = new CVol;
    vol->spc = source->spc;
    vol->modality = source->modality;
    vol->unit = source->unit;
    double orient[6];
    if (source->GetOrientation(orient)) vol->SetOrientation(orient);
  }
  // The volume takes the tiles; a frame its headers came with goes.
  const FramePtr replaced(std::exchange(vol->frame, frame.release()));
  if (source->dyn) vol->SetDynamicCoords(source->dyn, T);
  vol->name = name;
  return vol;
}

}  // namespace

namespace twk::files {

bool RoiToIntegerLayer(CDrawSet& set) {
  if (!set.IsVolumeSet()) {
    twk::doc::message(nullptr, L"Volumetric Entity is required");
    return false;
  }
  int count = 0;
  CVol* roi = set.WorkVolROI(&count);
  bool ok = false;
  if (count >= 2) {
    twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
  } else if (!roi) {
    twk::doc::message(nullptr, L"ROI is not present or enabled");
  } else {
    if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
    if (CVol* labels = roi->RoiToInteger(true)) {
      labels->name = PR_AddFileNameSfx(roi->name, L"_integer");
      ok = addAsActiveLayer(set, labels, 100, 1, 0);
    }
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->RedrawAllViews(true);
  return ok;
}

bool VolumeConversion_REALtoINT(CDrawSet& set, int bits, bool ask) {
  const wchar_t* fn = L"CDrawSet::VolumeConversion_REALtoINT";
  CVol* real = set.WorkVolReal();
  if (!real || !real->IsReal()) {
    twk::doc::message(fn, L"Real valued volume is required");
    return false;
  }
  if (ask && !TW_SpecifyInt(L"Resulting Bits", &bits)) return false;
  if (bits < 1 || bits > 32) {
    twk::doc::message(fn, L"Resulting Bits should be between 1 and 32");
    return false;
  }
  // Values the integers cannot hold would be clamped: refuse instead, the set unchanged.
  double low = 0, high = 0;
  const double top = std::ldexp(1.0, bits) - 1;
  if (VA_VolMinMax(real->frame, -1, nullptr, &low, &high) && (std::round(low) < 0 || std::round(high) > top)) {
    twk::doc::message(fn, FmtStr(L"Values from %g to %g do not fit the range 0 .. %.0f of %d bits", low, high, top, bits));
    return false;
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  FramePtr result(VA_VolRealToInteger(real->frame, 0.0, bits, true));
  bool ok = false;
  if (result) {
    CDrawVol* operand = set.GetLayerOfVol(real);
    const int scheme = operand ? operand->filter.scheme : 0;
    ok = addResultLayer(set, PR_AddFileNameSfx(real->name, L"_integer"), real, std::move(result), 100, scheme, nullptr,
                        true);
    if (ok) {
      if (CVol* added = set.GetLayerVol(set.NumLayers() - 1)) added->SetBpv(bits);
      set.DeleteLayerVol(&real);
    }
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->RedrawAllViews(true);
  return ok;
}

bool SiVolumeToParamMap(CDrawSet& set) {
  CVol* signal = set.WorkVolSI();
  if (!signal) {
    twk::doc::message(L"CDrawSet::SiVolumeToParamMap", L"Signal Intensity volume is required");
    return false;
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  bool ok = false;
  if (CVol* real = signal->IntegerToReal(true)) {
    real->name = PR_AddFileNameSfx(signal->name, L"_real");
    CDrawVol* operand = set.GetLayerOfVol(signal);
    ok = addAsActiveLayer(set, real, 100, operand ? operand->filter.scheme : 0, 0);
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->RedrawAllViews(false);
  return ok;
}

bool Convert2DmosaicToVolume(CDrawSet& set, bool askAlways) {
  const wchar_t* fn = L"CDrawSet::Convert2DmosaicToVolume";
  CVol* base = set.GetBaseVol();
  if (!base) return false;
  int n = VA_VolNumImgMosaic(base);
  const bool unknown = n == 0;
  if (unknown) n = 1;
  else if (n < 2 && !askAlways) {
    twk::doc::message(fn, L"No Mosaic is present");
    return false;
  }
  if ((unknown || askAlways) && !TW_SpecifyInt(L"Number of images in the Mosaic", &n)) return false;

  CString volName;
  VA_ConstructVolumeName(base->dicom ? base->dicom[0] : nullptr, true, true, 64, TW_Options().tempFolder, L"_from_mosaic",
                         &volName);
  CVol* vol = splitMosaic(base, n, volName);
  if (!vol) return false;
  CDrawDoc* doc = TW_CreateDocumentFromVolume(&vol);
  delete vol;
  if (!doc) return false;
  doc->SetModifiedFlag();
  CDrawSet* target = doc->GetActiveSet();
  bool ok = target != nullptr;
  for (int i = 1; ok && i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    CVol* split = layer ? splitMosaic(layer->vol, n, PR_AddFileNameSfx(layer->vol->name, L"_from_mosaic")) : nullptr;
    ok = split && target->AddLayer(&split, layer->opacity, 0, 0);
    delete split;
    if (ok) target->GetLayer(target->NumLayers() - 1)->filter = layer->filter;
  }
  if (CDrawView* view = doc->GetActiveOrFirstView())
    if (TW_ViewHooks().showFitted) TW_ViewHooks().showFitted(view);
  doc->RedrawAllViews(true);
  return ok;
}

bool CloneLayer(CDrawSet& set) {
  CDrawVol* layer = set.GetActiveLayer();
  CVol* source = set.GetActiveVol();
  if (!set.IsVolumeSet() || !layer || !source) {
    twk::doc::message(L"CDrawSet::CloneLayer", L"Volumetric Entity is required");
    return false;
  }
  FramePtr copy(VA_VolClone(source->frame));
  if (!copy) {
    twk::doc::message(L"CDrawSet::CloneLayer", L"Not enough memory");
    return false;
  }
  const PR_VIEWFILT filter = layer->filter;
  const bool ok = addResultLayer(set, PR_AddFileNameSfx(source->name, L"_copy"), source, std::move(copy),
                                 layer->opacity, filter.scheme, source->IsROI() ? nullptr : &filter, false);
  if (ok) set.SetActiveLayerLast();
  set.RefreshLayerPanel();
  return ok;
}

}  // namespace twk::files
