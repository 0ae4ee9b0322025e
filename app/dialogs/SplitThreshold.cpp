#include "SplitThreshold.h"

#include <utility>
#include <algorithm>
#include <cmath>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VolProj.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "roi/RoiComponents.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

VA_SPLITTHRVALUE g_SplitThrValue;

namespace {

TW_SPLITTHRVIEW g_splitView;

double round2(double v) { return std::floor(v * 100.0 + 0.5) / 100.0; }

size_t roiBytes(const FRAME* f) { return size_t(f->lineBytes) * size_t(f->dim.h) * size_t(f->dim.d); }

}  // namespace

CSplitThrSession::~CSplitThrSession() {
  if (open_) Cancel();
  pf_free(&values_);
}

bool CSplitThrSession::Open(CDrawView* view, CDrawSet* set, const CString& upperName, const CString& lowerName,
                            COLORREF upperColour, COLORREF lowerColour, FRAME** preprocessed, const double* spacing,
                            VA_SPLITTHRVALUE* record) {
  FramePtr source(preprocessed ? *preprocessed : nullptr);
  if (preprocessed) *preprocessed = nullptr;
  if (!set || !record) return false;
  view_ = view;
  set_ = set;
  record_ = record;
  upperShort_ = upperName;
  lowerShort_ = lowerName;
  if (!set->WorkVolNonROIandROI(false, false, false, &volume_, &roi_) || !volume_ || !volume_->frame) return false;
  const VA_VOLPROJ* projection = view ? set->FindViewProjection(view) : nullptr;
  const int t = std::clamp(projection ? projection->timeIndex : 0, 0, volume_->T() - 1);
  const DIM3D& d = volume_->frame->dim;
  mask_.reset(roi_ ? VA_VolCropTimepoint(roi_->frame, roi_->Is4D() ? t : 0, true)
                   : VA_VolCreateUniform(FRM_ROI, DIM3D{d.w, d.h, d.d, 1}, 1.0));
  if (!mask_) return false;
  if (!source) source.reset(VA_VolCropTimepoint(volume_->frame, t, true));
  if (!source || source->dim.w != mask_->dim.w || source->dim.h != mask_->dim.h || source->dim.d != mask_->dim.d)
    return false;
  // Voxels the source leaves undefined are not split.
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x)
        if (twk::roiBit(mask_.get(), x, y, z, 0) && twk::voxelValue(source.get(), x, y, z, 0) == VOID_VALUE)
          twk::setRoiBit(mask_.get(), x, y, z, 0, false);
  if (VA_CheckRoiIsEmpty(true, mask_.get(), nullptr, &total_)) return false;
  if (!VA_VolMinMax(source.get(), 0, mask_.get(), &minimum_, &maximum_)) return false;
  values_ = static_cast<double*>(VA_VolGetAll(source.get(), 0, 64, 1, true));
  if (!values_) return false;
  voxelMm3_ = spacing ? spacing[0] * spacing[1] * spacing[2] : 1.0;
  startValue_ = record->mode == 0 ? record->value : minimum_ + (maximum_ - minimum_) * record->fraction;
  threshold_ = std::clamp(startValue_, minimum_, maximum_);
  record->value = threshold_;
  startValue_ = record->value;
  const CDrawVol* roiLayer = roi_ ? set->GetLayerOfVol(roi_) : nullptr;
  opacity_ = roiLayer ? roiLayer->opacity : 20;
  CString upperLayer = upperName, lowerLayer = lowerName;
  const CString file = PR_GetFileName(volume_->name);
  if (!file.IsEmpty()) {
    upperLayer = file + L"_" + upperName;
    lowerLayer = file + L"_" + lowerName;
  }
  if (roi_) set->SetLayerMarked(roi_, false);
  // The two layers start as copies of the mask; a copy the insertion did not take goes at the end.
  FRAME* up = VA_VolClone(mask_.get());
  FRAME* low = VA_VolClone(mask_.get());
  const bool added = up && low && set->AddResultLayer(false, false, upperLayer, volume_, &up, opacity_, 0, int(upperColour));
  if (added) upper_ = set->GetLayer(set->NumLayers() - 1);
  const bool both = added && set->AddResultLayer(false, false, lowerLayer, volume_, &low, opacity_, 0, int(lowerColour));
  if (both) lower_ = set->GetLayer(set->NumLayers() - 1);
  const FramePtr upLeft(up), lowLeft(low);
  open_ = true;
  if (!both) {
    Cancel();
    return false;
  }
  update();
  return true;
}

void CSplitThrSession::update() {
  if (!upper_ || !lower_) return;
  CVol* up = upper_->vol;
  CVol* low = lower_->vol;
  if (!up || !low) return;
  upper_->opacity = opacity_;
  lower_->opacity = opacity_;
  std::copy_n(mask_->data, roiBytes(mask_.get()), up->frame->data);
  std::copy_n(mask_->data, roiBytes(mask_.get()), low->frame->data);
  int64_t nU = 0;
  if (!VA_ThresholdVol(values_, threshold_, up->frame, low->frame) || !VA_RoiNumVox(up->frame, 0, -1, &nU)) return;
  for (CDrawVol* layer : {upper_, lower_}) {
    for (double& v : layer->unsetValues) v = 1e60;
    layer->FreeViewCaches();
  }
  const int64_t nL = total_ - nU;
  const unsigned pU = unsigned(std::lround(double(nU) * 100.0 / double(total_)));
  const double vU = round2(double(nU) * voxelMm3_ * 0.001), vL = round2(double(nL) * voxelMm3_ * 0.001);
  title_ = FmtStr(L"%s= %3.2lf cm3 (%u%%), %s= %3.2lf cm3 (%u%%)", lowerShort_.GetString(), vL, 100 - pU,
                  upperShort_.GetString(), vU, pU);
  if (nU > 0 && nL > 0) {
    const double r = double(nL) / double(nU);
    title_ += L" , ratio= ";
    title_ += r > 1 ? FmtStr(L"%4.2lf/1", round2(r)) : FmtStr(L"1/%4.2lf", round2(1.0 / r));
  }
  if (CDrawDoc* doc = set_->GetDocument()) CDrawDoc::RedrawAllViews(doc, false);
}

void CSplitThrSession::SetThreshold(double threshold) {
  threshold_ = threshold;
  update();
}

void CSplitThrSession::SetSliderPosition(int position) {
  position = std::clamp(position, 0, 1000);
  SetThreshold(minimum_ + (maximum_ - minimum_) * position / 1000.0);
}

int CSplitThrSession::SliderPosition() const {
  return maximum_ > minimum_ ? int(std::lround((threshold_ - minimum_) / (maximum_ - minimum_) * 1000.0)) : 0;
}

void CSplitThrSession::SetOpacity(int percent) {
  opacity_ = std::clamp(percent, 0, 100);
  update();
}

void CSplitThrSession::Default() { SetThreshold(std::clamp(startValue_, minimum_, maximum_)); }

void CSplitThrSession::finish(bool ok) {
  if (!open_) return;
  open_ = false;
  if (ok) {
    record_->value = threshold_;
    if (roi_) {
      const int index = set_->IndexOfVol(roi_);
      if (index >= 0) set_->RemoveLayer(index, true);
      roi_ = nullptr;
    }
  } else {
    for (CDrawVol* layer : {lower_, upper_}) {
      const int index = layer ? set_->IndexOfLayer(layer) : -1;
      if (index >= 0) set_->RemoveLayer(index, true);
    }
    if (roi_) set_->SetLayerMarked(roi_, true);
  }
  upper_ = lower_ = nullptr;
  set_->SetActiveVol(volume_);
  if (CDrawDoc* doc = set_->GetDocument()) CDrawDoc::RedrawAllViews(doc, true);
}

void CSplitThrSession::Ok() { finish(true); }
void CSplitThrSession::Cancel() { finish(false); }

void TW_SetSplitThrView(TW_SPLITTHRVIEW view) { g_splitView = std::move(view); }

bool TW_DlgSplitThr(bool silent, CDrawView* view, CDrawSet* set, const CString& upperName, const CString& lowerName,
                    COLORREF upperColour, COLORREF lowerColour, FRAME** preprocessed, const double* spacing,
                    VA_SPLITTHRVALUE* record) {
  CSplitThrSession session;
  if (!session.Open(view, set, upperName, lowerName, upperColour, lowerColour, preprocessed, spacing, record))
    return false;
  if (silent) {
    session.Ok();
    return true;
  }
  if (g_splitView) return g_splitView(session);
  double threshold = session.Threshold();
  if (!TW_EnterDouble(L"Threshold", &threshold)) {
    session.Cancel();
    return false;
  }
  session.SetThreshold(threshold);
  session.Ok();
  return true;
}

bool TW_SplitByThreshold(CDrawSet* set, FRAME** preprocessed, int mode, VA_SPLITTHRVALUE* record,
                         const CString& nameA, const CString& nameB, COLORREF colourA, COLORREF colourB,
                         CDrawView* view) {
  if (!set || !record) {
    // The preprocessed frame is taken whatever happens.
    if (preprocessed) FramePtr(std::exchange(*preprocessed, nullptr)).reset();
    return false;
  }
  if (colourA == 0xFFFFFFFFu && colourB == 0xFFFFFFFFu) {
    colourA = set->NewRoiColor();
    colourB = colourA ^ 0xFFFFFFu;
  }
  if (CDrawDoc* doc = set->GetDocument()) doc->SetModifiedFlag();
  record->mode = mode;
  const CVol* base = set->GetBaseVol();
  const double spacing[3] = {base ? base->spc.x : 1.0, base ? base->spc.y : 1.0, base ? base->spc.z : 1.0};
  return TW_DlgSplitThr(false, view, set, nameA, nameB, colourA, colourB, preprocessed, spacing, record);
}
