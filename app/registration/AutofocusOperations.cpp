// AutoFocus registration of the layer sets and the menu rows that run it.
#include "AutofocusOperations.h"

#include <cmath>
#include <cstring>

#include "AppOptions.h"
#include "AutofocusDialogs.h"
#include "AutofocusPresets.h"
#include "CommandTable.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "OperationHelpers.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VolProj.h"
#include "filters/Filters.h"
#include "paths/FilePaths.h"
#include "registration/Reslice.h"
#include "Polynom.h"
#include "registration/Transform.h"
#include "roi/RoiDistance.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace {

const wchar_t* const kAmbiguous =
    L"Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";

double roundTenth(double v) { return std::floor(v / 0.1 + 0.5) * 0.1; }

int currentTime(CDrawSet* set, CDrawView* view) {
  const VA_VOLPROJ* p = set && view ? set->FindViewProjection(view) : nullptr;
  return p ? p->timeIndex : 0;
}

// The target's frame, of a 4D target the view's time point (cut into *cut). Null on failure.
const FRAME* frameAtViewTime(CVol* target, CDrawSet* set, CDrawView* view, FramePtr* cut) {
  if (!target->Is4D()) return target->frame;
  cut->reset(VA_VolCropTimepoint(target->frame, currentTime(set, view), true));
  return cut->get();
}

// Redraws the documents involved on every way out.
struct RedrawOnExit {
  CDrawDoc* a = nullptr;
  CDrawDoc* b = nullptr;
  ~RedrawOnExit() {
    if (a) a->RedrawAllViews(false);
    if (b && b != a) b->RedrawAllViews(false);
  }
};

// The source of a two-document registration: the active set of the one other open volumetric
// document. Null after a report.
CDrawSet* locateSourceSet(const wchar_t* function, CDrawDoc* self, CDrawDoc** sourceDoc) {
  int count = 0;
  CDrawDoc* other = TW_LocateAnotherVolumetricDoc(&self, 1, &count);
  if (!other) return nullptr;
  if (count > 1) {
    twk::showNamedError(function, L"More than one document is present to be selected as a source");
    return nullptr;
  }
  *sourceDoc = other;
  return other->GetActiveSet();
}

// Adds frame as the last layer of set, cloned from templateVol with the given geometry and display
// filter; the layer takes the frame, and what it did not take goes with the holder.
CDrawVol* addResult(CDrawSet* set, CVol* templateVol, const CString& name, FramePtr frame, int opacity,
                    const SPC* spacing, const double* orientation, const DPOINT3D* position,
                    const PR_VIEWFILT* filter) {
  FRAME* handed = frame.release();
  const bool added = set->AddResultLayer(false, true, name, templateVol, &handed, opacity, 0, -1, spacing,
                                         orientation, position, filter);
  frame.reset(handed);
  if (!added) return nullptr;
  CDrawVol* layer = set->GetLayer(set->NumLayers() - 1);
  if (layer) layer->opacity = opacity;
  return layer;
}

// The mask of a registration onto `target`: none for a region-of-interest target, else the one
// working ROI layer (or none). False after a report when several ROI layers could serve.
bool targetMask(CDrawSet* set, const CVol* target, const wchar_t* fn, CVol** mask) {
  *mask = nullptr;
  if (target->IsROI()) return true;
  int candidates = 0;
  CVol* found = set->WorkVolROI(&candidates);
  if (candidates > 1) {
    twk::showNamedError(fn, kAmbiguous);
    return false;
  }
  if (found != target) *mask = found;
  return true;
}

// Source and target noise levels for a record that needs them (rounded to one decimal); both 0
// otherwise.
bool setNoiseLevels(VA_AF3D* parms, CVol* source, const FRAME* target) {
  parms->sourceNoise = parms->targetNoise = 0;
  if (!TW_AutofocusNeedsNoise(*parms)) return true;
  double s = 0, t = 0;
  if (!VA_VolEffectiveNoise(source, -1, &s, true)) return false;
  if (!VA_VolEffectiveNoise(target, 0, &t, true)) return false;
  parms->sourceNoise = roundTenth(s);
  parms->targetNoise = roundTenth(t);
  return true;
}

// The record's noise levels, then (interactively) the 3D dialog with the target mask's name; the
// document counts as modified once the user has confirmed. False when the noise cannot be measured
// or the dialog is cancelled.
bool confirmParameters(VA_AF3D* parms, bool interactive, CVol* source, CVol* target, const FRAME* targetFrame,
                       const SPC* targetSpc, const CVol* maskVol, CDrawDoc* doc) {
  if (!setNoiseLevels(parms, source, targetFrame)) return false;
  if (interactive) {
    parms->useTargetRoi = maskVol ? 1 : 0;
    const CString maskName = maskVol ? maskVol->name : CString();
    if (!TW_DlgAutofocus3D(parms, source, target, targetSpc, maskName, false)) return false;
  }
  if (doc) doc->SetModifiedFlag(true);
  return true;
}

// The series with one more time point at its end: the 3D frame last (converted to the series' kind
// voxel by voxel when the kinds differ). The series itself is not touched.
FramePtr appendTimePoint(const FRAME* series, const FRAME* last) {
  DIM3D dims = series->dim;
  dims.t += 1;
  FramePtr out(PR_FrameCreate(series->type, series->bpv, dims, false));
  if (!out) return nullptr;
  const int64_t bytesPerTime = series->lineBytes * int64_t(dims.h) * int64_t(dims.d);
  std::memcpy(out->data, series->data, size_t(bytesPerTime * series->dim.t));
  if (last->type == series->type && last->bpv == series->bpv && last->lineBytes == series->lineBytes) {
    std::memcpy(out->data + bytesPerTime * series->dim.t, last->data, size_t(bytesPerTime));
  } else {
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x)
          twk::setVoxelValue(out.get(), x, y, z, series->dim.t, twk::voxelValue(last, x, y, z, 0));
  }
  return out;
}

// The first `count` time points of a frame as a new frame.
FramePtr firstTimePoints(const FRAME* frame, int count) {
  DIM3D dims = frame->dim;
  dims.t = count;
  FramePtr out(PR_FrameCreate(frame->type, frame->bpv, dims, false));
  if (out) std::memcpy(out->data, frame->data, size_t(frame->lineBytes * int64_t(dims.h) * int64_t(dims.d) * count));
  return out;
}

// The mask of a 4D-source or slice-by-slice registration: a copy of the target mask; or, without
// one, a region-of-interest target grown by one voxel for the gradient measures (the record then
// uses it as it stands). False after a report.
bool registrationMask(const FRAME* mask, const CVol* target, const FRAME* targetFrame, VA_AF3D* parms, FramePtr* out) {
  out->reset();
  if (mask) {
    out->reset(VA_VolClone(mask));
    return *out != nullptr;
  }
  if (!target->IsROI() || !VA_AF3D_UsesGradientMeasure(*parms)) return true;
  out->reset(VA_VolClone(targetFrame));
  if (!*out || !VA_RoiInflate(out->get(), nullptr, true, false, 1.0, 1.0, 1.0, true)) return false;
  parms->useTargetRoi = 1;
  parms->inflate = 0;
  return true;
}

}  // namespace

VA_AF4D& TW_TwoDocumentsAutofocusRecord() { return g_AF4DTwoDocuments; }

bool Check4Dcompatibility(CDrawSet* source, CDrawSet* target) {
  int sourceT = 0, targetT = 0, index = 0;
  if (!source || !target || !source->MaxT(&sourceT, &index) || !target->MaxT(&targetT, &index)) return false;
  if (sourceT > 1 && targetT > 1 && sourceT != targetT) {
    twk::showNamedError(L"Check4Dcompatibility", L"Both Source and Target may not be 4D unless have equal number of timepoints");
    return false;
  }
  return true;
}

void TW_MoveLayerToEnd(CDrawSet* set, CVol* vol) {
  if (!set || !vol) return;
  CDrawVol* layer = set->GetLayerOfVol(vol);
  if (!layer || !set->MoveLayer(layer, nullptr)) return;
  if (set->NumLayers() >= 2) set->SetActive(set->NumLayers() - 2);
}

bool TW_RegisterAF3D(CDrawSet* set, bool interactive, CDrawView* view, VA_AF3D* parms, const wchar_t* targetName) {
  const wchar_t* const fn = L"CDrawSet::RegisterAF3D";
  if (!set || !parms) return false;
  CDrawDoc* doc = set->GetDocument();
  RedrawOnExit redraw{doc, nullptr};
  if (!view && doc) view = doc->GetActiveOrFirstView();

  // 1. Target and its frame at the view's time point.
  CVol* target =
      targetName && *targetName ? twk::ops::FindLayerContaining(*set, true, targetName, true) : set->GetActiveVol();
  if (!target || !target->frame) return false;
  FramePtr targetCut;
  const FRAME* targetFrame = frameAtViewTime(target, set, view, &targetCut);
  if (!targetFrame) return false;
  const SPC targetSpc = target->spc;

  // 2. Target mask.
  int candidates = 0;
  CVol* maskVol = set->WorkVolROI(&candidates);
  if (candidates > 1) {
    CString text;
    text.Format(L"%s\nPresently there are %u ROI layers which can be used as the TargetMask in AutoFocus registration.\nYou can make the desired ROI active, or uncheck all other ROIs instead",
                kAmbiguous, unsigned(candidates));
    twk::showNamedError(fn, text);
    return false;
  }
  if (maskVol == target) maskVol = nullptr;

  // 3. Source.
  CDrawDoc* sourceDoc = nullptr;
  CDrawSet* sourceSet = locateSourceSet(fn, doc, &sourceDoc);
  redraw.b = sourceDoc;
  if (!sourceSet || !sourceDoc->GetActiveOrFirstView() || !Check4Dcompatibility(sourceSet, set)) return false;
  CVol* source = sourceSet->GetActiveVol();
  if (!source || !source->frame) return false;

  // 4. Regions of interest on either side.
  if (interactive && (source->IsROI() || target->IsROI())) {
    const wchar_t* q = source->IsROI() && target->IsROI() ? L"Both Source and Target are ROIs. Proceed?"
                       : source->IsROI()                 ? L"Source is ROI. Proceed?"
                                                         : L"Target is ROI. Proceed?";
    if (!twk::askYesNo(q)) return true;
  }

  // 5. Direction.
  if (parms->resliceTargetToSource) {
    if (source->Is4D()) {
      twk::showNamedError(fn, L"Target to Source reslice is for 3D->3D only");
      return false;
    }
    if (parms->transformType >= 3) {
      twk::showNamedError(fn, L"Only Affine transforms permit Target to Source");
      return false;
    }
  }

  // 6, 7. Noise levels and the dialog.
  if (!confirmParameters(parms, interactive, source, target, targetFrame, &targetSpc, maskVol, doc)) return false;
  const FRAME* mask = maskVol ? maskVol->frame : nullptr;

  if (source->Is4D()) {
    // 11. A 4D source onto the 3D target.
    CDrawView* sourceView = sourceDoc->GetActiveOrFirstView();
    int baseT = currentTime(sourceSet, sourceView);
    const bool single = twk::askYesNo(L"Use a single transform for all timepoints?");
    if (single) {
      const int choice = twk::ui().threeButtons(L"4D Registration base timepoint", L"4D Registration base timepoint",
                                                L"Use current timepoint", L"Auto-select timepoint", L"Cancel");
      if (choice == 2) return false;
      if (choice == 1) {
        int64_t best = 0;
        if (!VA_VolGetTimeOfMaxInfo(source->frame, nullptr, &best, true)) return false;
        baseT = int(best);
      }
    }
    FramePtr maskCopy;
    if (!registrationMask(mask, target, targetFrame, parms, &maskCopy)) return false;
    FramePtr result(VA_RegisterAF4Dto3D(*parms, TW_Options().rawSave4DFolder, source->frame, &source->spc,
                                        targetFrame, maskCopy.get(), &targetSpc, single, baseT, nullptr, true));
    if (!result) return false;
    CDrawVol* srcLayer = sourceSet->GetLayerOfVol(source);
    CDrawVol* added = addResult(set, source, PR_AddFileNameSfx(source->name, L"_registered"), std::move(result), 50,
                                &targetSpc, target->orient, target->imgPos, srcLayer ? &srcLayer->filter : nullptr);
    if (!added) return false;
    if (target->IsROI()) {
      added->opacity = 100;
      if (CDrawVol* t = set->GetLayerOfVol(target)) t->opacity = 50;
      if (!set->SwapLayers(set->IndexOfVol(target), set->IndexOfLayer(added))) return false;
    }
    for (CDrawView* v : doc->Views()) set->VolChangeSlice(v, 1 | 2 | 4, baseT, targetFrame->dim.d / 2, 3);
    set->RefreshLayerPanel();
    return true;
  }

  // 9, 10. A 3D source onto the target, or the target's set onto the source.
  if (parms->transformType > 3) {
    twk::showNamedError(fn, L"Unknown transform type");
    return false;
  }
  Poly3D* transform = nullptr;
  if (!VA_RegisterAF3Dto3D(*parms, TW_Options().rawSave3DFolder, source->frame, &source->spc, targetFrame, mask,
                           &targetSpc, &transform, true))
    return false;
  struct PolyHolder {
    Poly3D* p;
    ~PolyHolder() { VA_Poly3DDelete(&p); }
  } held{transform};
  if (!transform) {
    twk::showNamedError(fn, L"Registration has completed but returned no resulting transform");
    return false;
  }

  if (!parms->resliceTargetToSource) {
    for (int i = 0; i < sourceSet->NumLayers(); ++i) {
      CDrawVol* layer = sourceSet->GetLayer(i);
      CVol* vol = layer ? layer->vol : nullptr;
      if (!vol || !vol->frame) continue;
      DIM3D dims = targetFrame->dim;
      dims.t = vol->frame->dim.t;
      FramePtr resliced(VA_ResliceTB(transform, vol->frame, &dims, parms->interpolation, 0.0, true));
      if (!resliced) return false;
      CDrawVol* added = addResult(set, vol, PR_AddFileNameSfx(vol->name, L"_registered"), std::move(resliced),
                                  layer->opacity, &targetSpc, target->orient, target->imgPos, &layer->filter);
      if (!added) return false;
      set->SetLayerMarked(added->vol, layer->marked);
    }
    set->RefreshLayerPanel();
    return true;
  }

  // Target to source: every layer of this set resliced into the source grid by the inverse.
  double forward[16], inverse[16];
  if (!transform->GetAffineKoff(forward) || !PR_MatxInverse(forward, inverse)) {
    twk::showNamedError(fn, L"The transform cannot be inverted");
    return false;
  }
  FramePtr sourceMask;
  if (mask && parms->cleanByMask) {
    sourceMask.reset(VA_ResliceAffine(inverse, mask, &source->frame->dim, 1, 0.0, true));
    if (!sourceMask) return false;
  }
  const int count = set->NumLayers();
  for (int i = 0; i < count; ++i) {
    CDrawVol* layer = set->GetLayer(i);
    CVol* vol = layer ? layer->vol : nullptr;
    if (!vol || !vol->frame) continue;
    const double outside = vol->IsROI() || vol->Type() != FRM_REAL ? 0.0 : 1e60;
    DIM3D dims = source->frame->dim;
    dims.t = vol->frame->dim.t;
    FramePtr resliced(VA_ResliceAffine(inverse, vol->frame, &dims, parms->interpolation, outside, true));
    if (!resliced) return false;
    if (sourceMask && !VA_VolCleanMask(resliced.get(), -1, sourceMask.get(), false, outside, true)) return false;
    CDrawVol* added = addResult(sourceSet, vol, PR_AddFileNameSfx(vol->name, L"_registered"), std::move(resliced),
                                layer->opacity, &source->spc, source->orient, source->imgPos, &layer->filter);
    if (!added) return false;
    sourceSet->SetLayerMarked(added->vol, layer->marked);
  }
  sourceSet->RefreshLayerPanel();
  set->RefreshLayerPanel();
  return true;
}

bool TW_RegisterAF3D_Mode2D(CDrawSet* set, bool useCurrentDynamic, bool interactive, CDrawView* view, VA_AF3D* parms) {
  const wchar_t* const fn = L"CDrawSet::RegisterAF3D_Mode2D";
  if (!set || !parms) return false;
  CDrawDoc* doc = set->GetDocument();
  RedrawOnExit redraw{doc, nullptr};
  if (!view && doc) view = doc->GetActiveOrFirstView();
  if (parms->resliceTargetToSource) {
    twk::showNamedError(fn, L"Target to Source option is not allowed in 2D mode");
    return false;
  }
  // Target at the view's time point.
  CVol* target = set->GetActiveVol();
  if (!target || !target->frame) return false;
  FramePtr targetCut;
  const FRAME* targetFrame = frameAtViewTime(target, set, view, &targetCut);
  if (!targetFrame) return false;
  const SPC targetSpc = target->spc;
  CVol* maskVol = nullptr;
  if (!targetMask(set, target, fn, &maskVol)) return false;
  CDrawDoc* sourceDoc = nullptr;
  CDrawSet* sourceSet = locateSourceSet(L"CDrawSet::RegisterAF3D", doc, &sourceDoc);
  redraw.b = sourceDoc;
  if (!sourceSet || !sourceDoc->GetActiveOrFirstView() || !Check4Dcompatibility(sourceSet, set)) return false;
  CVol* source = sourceSet->GetActiveVol();
  if (!source || !source->frame) return false;
  if (interactive && (source->IsROI() || target->IsROI()) && !twk::askYesNo(L"Either Source or Target is ROI. Proceed?"))
    return true;
  if (!VA_RegisterSliceBySliceAllowed(&source->frame->dim, &source->spc, &targetFrame->dim, &targetSpc, true))
    return false;

  if (!confirmParameters(parms, interactive, source, target, targetFrame, &targetSpc, maskVol, doc)) return false;
  FramePtr maskCopy;
  if (!registrationMask(maskVol ? maskVol->frame : nullptr, target, targetFrame, parms, &maskCopy)) return false;

  // One transform per slice from the current dynamic point, or each time point its own.
  int t = 0;
  if (source->Is4D()) {
    CString question;
    question.Format(L"Use current dynamic point of %s to calculate a single transform?",
                    (const wchar_t*)PR_GetFileTitle(source->name));
    t = useCurrentDynamic || twk::askYesNo(question) ? currentTime(set, view) : -1;
  }
  FramePtr result(VA_RegisterAF3Dto3D_SliceBySlice(*parms, t, source->frame, &source->spc, targetFrame,
                                                   maskCopy.get(), &targetSpc, true));
  if (!result) return false;
  const CString suffix = maskVol ? CString(L"_reg_over_") + PR_GetFileTitleName(maskVol->name) : CString(L"_reg");
  CDrawVol* srcLayer = sourceSet->GetLayerOfVol(source);
  CDrawVol* added = addResult(set, source, PR_AddFileNameSfx(source->name, suffix), std::move(result), 50,
                              &targetSpc, nullptr, nullptr, srcLayer ? &srcLayer->filter : nullptr);
  if (!added) return false;
  if (maskVol) {
    if (!set->SwapLayers(set->IndexOfLayer(added), set->IndexOfVol(maskVol))) return false;
  } else if (target->IsROI()) {
    added->opacity = 100;
    if (CDrawVol* tl = set->GetLayerOfVol(target)) tl->opacity = 50;
    if (!set->SwapLayers(set->IndexOfVol(target), set->IndexOfLayer(added))) return false;
  }
  set->RefreshLayerPanel();
  return true;
}

bool TW_RegisterAF4D(CDrawSet* set, bool interactive, CDrawView* view, VA_AF4D* parms) {
  const wchar_t* const fn = L"CDrawSet::RegisterAF4D";
  if (!set || !parms) return false;
  CDrawDoc* doc = set->GetDocument();
  RedrawOnExit redraw{doc, nullptr};
  CVol* vol = set->NumLayers() < 2 ? set->GetLayerVol(0) : set->WorkVolNonRoi(nullptr);
  if (!vol || !vol->frame) return false;
  if (!vol->Is4D()) {
    twk::showNamedError(fn, L"4D volume is required");
    return false;
  }
  int candidates = 0;
  CVol* maskVol = set->WorkVolROI(&candidates);
  if (maskVol && set->NumMarkedRoiLayers() > 1 && candidates > 1) {
    twk::showNamedError(fn, kAmbiguous);
    return false;
  }
  parms->useTargetRoi = maskVol ? 1 : 0;
  parms->targetNoise = 1.0;
  if (interactive &&
      !TW_DlgAutofocus4D(parms, currentTime(set, view), &vol->spc, vol->frame->dim.d == 1, false))
    return false;
  if (doc) doc->SetModifiedFlag(true);
  if (!view || !set->FindViewProjection(view)) return false;

  int baseT = 0;
  CString report;
  CDrawVol* layer = set->GetLayerOfVol(vol);
  FramePtr result(VA_RegisterAF4D_EX(parms, layer ? (const wchar_t*)vol->name : L"", vol->frame, &vol->spc,
                                     maskVol ? maskVol->frame : nullptr, currentTime(set, view), &baseT, &report,
                                     true));
  if (!result) return false;
  if (parms->saveTimepointTransform || parms->outputRoiMotion) PR_NotepadExeOpenString(TW_Options().tempFolder, report);
  if (maskVol && result->type == FRM_ROI) set->SetLayerMarked(maskVol, false);
  CDrawVol* added = addResult(set, vol, PR_AddFileNameSfx(vol->name, L"_moco"), std::move(result), 100, nullptr,
                              nullptr, nullptr, layer ? &layer->filter : nullptr);
  if (!added) return false;
  if (VA_VOLPROJ* p = set->FindViewProjection(view)) p->timeIndex = baseT;
  if (maskVol) TW_MoveLayerToEnd(set, maskVol);
  set->RefreshLayerPanel();
  return true;
}

bool TW_RegisterTwoDocumentsAF(CDrawSet* set, CDrawView* view) {
  const wchar_t* const fn = L"CDrawSet::RegisterTwoDocumentsAF";
  if (!set) return false;
  CDrawDoc* doc = set->GetDocument();
  RedrawOnExit redraw{doc, nullptr};
  CVol* target = set->GetActiveVol();
  if (!target || !target->frame) return false;
  CDrawDoc* sourceDoc = nullptr;
  CDrawSet* sourceSet = locateSourceSet(fn, doc, &sourceDoc);
  redraw.b = sourceDoc;
  if (!sourceSet) return false;
  CVol* source = sourceSet->GetActiveVol();
  if (!source || !source->frame) return false;
  if (!source->IsEqualDim(target) || !source->IsEqualSpc(target) || source->T() < 2) {
    twk::showNamedError(fn, L"Invalid Registration configuration");
    return false;
  }
  const FramePtr targetCut(VA_VolCropTimepoint(target->frame, currentTime(set, view), true));
  if (!targetCut) return false;
  CVol* maskVol = nullptr;
  if (!targetMask(set, target, fn, &maskVol)) return false;
  VA_AF4D& parms = TW_TwoDocumentsAutofocusRecord();
  if (!TW_DlgAutofocus4D(&parms, currentTime(set, view), &target->spc, target->frame->dim.d == 1, false)) return false;

  // The series with the target appended is a copy: the source's own frame is never changed, and
  // nothing of the appended time point can be left behind when the registration fails.
  const FramePtr series = appendTimePoint(source->frame, targetCut.get());
  if (!series) return false;
  int baseT = 0;
  CString report;
  const FramePtr registered(VA_RegisterAF4D_EX(&parms, source->name, series.get(), &source->spc,
                                               maskVol ? maskVol->frame : nullptr, series->dim.t - 1, &baseT, &report,
                                               true));
  if (!registered) return false;
  if (parms.saveTimepointTransform || parms.outputRoiMotion) PR_NotepadExeOpenString(TW_Options().tempFolder, report);
  FramePtr result = firstTimePoints(registered.get(), source->T());
  if (!result) return false;
  CDrawVol* srcLayer = sourceSet->GetLayerOfVol(source);
  CDrawVol* added = addResult(set, source, L"registered", std::move(result), 50, &target->spc, target->orient,
                              target->imgPos, srcLayer ? &srcLayer->filter : nullptr);
  if (!added) return false;
  if (target->IsROI()) {
    const int targetIndex = set->IndexOfVol(target), addedIndex = set->IndexOfLayer(added);
    if (!set->SwapLayers(targetIndex, addedIndex)) return false;
    added->opacity = 100;
    if (CDrawVol* t = set->GetLayerOfVol(target)) t->opacity = 25;
  }
  set->RefreshLayerPanel();
  return true;
}

TW_COMMAND_BINDINGS(autofocus_operations) {
  TW_BindOperation("CDrawSet::RegisterAF3D", [](const TW_COMMAND_CALL& c) {
    if (!c.set) return;
    const TW_COMMAND_ARG* arg = c.Arg(3);
    if (arg && arg->kind == TW_COMMAND_ARG::Kind::NewRecord) {
      // "Uncrop Volume Region": a record filled afresh on every run.
      VA_AF3D record = TW_UncropAutofocusRecord();
      TW_RegisterAF3D(c.set, c.Flag(0), c.view, &record, nullptr);
      return;
    }
    const CString name = c.IsNull(4) ? CString() : c.Text(4);
    TW_RegisterAF3D(c.set, c.Flag(0), c.view, c.Record<VA_AF3D>(3), name.IsEmpty() ? nullptr : (const wchar_t*)name);
  });
  TW_BindOperation("CDrawSet::RegisterAF3D_Mode2D", [](const TW_COMMAND_CALL& c) {
    if (c.set) TW_RegisterAF3D_Mode2D(c.set, c.Flag(0), c.Flag(1), c.view, c.Record<VA_AF3D>(4));
  });
  TW_BindOperation("CDrawSet::RegisterAF4D", [](const TW_COMMAND_CALL& c) {
    if (c.set) TW_RegisterAF4D(c.set, c.Flag(0), c.view, c.Record<VA_AF4D>(2));
  });
}
