#include "ViewFilter.h"

#include <algorithm>
#include <cmath>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "render/ColorSchemes.h"

const wchar_t* const TW_COLOR_SCHEME_NAMES[9] = {L"Monochrome", L"Rainbow", L"Comb",  L"Hot",        L"Polar",
                                                 L"Red",        L"Green",   L"Blue",  L"Blue-Yellow"};

CViewFilterModel::CViewFilterModel(CDrawVol* layer) : layer_(layer) { updateShown(); }

CString CViewFilterModel::Caption() const {
  return layer_ && layer_->vol ? PR_GetFileTitle(layer_->vol->name) : CString();
}

bool CViewFilterModel::Adaptive() const { return layer_->filter.adaptive != 0; }
bool CViewFilterModel::Invert() const { return layer_->filter.invert != 0; }
int CViewFilterModel::Scheme() const { return layer_->filter.scheme; }

void CViewFilterModel::updateShown() {
  if (!layer_) return;
  shownLevel_ = PR_SetValuePrecision(layer_->filter.level, 2);
  shownWidth_ = PR_SetValuePrecision(layer_->filter.width, 2);
}

void CViewFilterModel::SetAdaptive(bool on) {
  layer_->filter.adaptive = on ? 1 : 0;
  Refresh();
}

void CViewFilterModel::SetInvert(bool on) {
  layer_->filter.invert = on ? 1 : 0;
  Refresh();
}

void CViewFilterModel::SetScheme(int scheme) {
  layer_->filter.scheme = scheme;
  if (scheme == 4 && layer_->vol && layer_->vol->frame && layer_->vol->IsReal()) {
    layer_->filter.level = 0;
    updateShown();
  }
  Refresh();
}

void CViewFilterModel::SetLevel(double level) {
  layer_->filter.level = level;
  Refresh();
}

void CViewFilterModel::SetWidth(double width) {
  layer_->filter.width = width;
  Refresh();
}

void CViewFilterModel::StepLevel(int delta) {
  layer_->filter.level *= delta >= 1 ? 1.01 : delta < 0 ? 0.99 : 1.0;
  updateShown();
  Refresh();
}

void CViewFilterModel::StepWidth(int delta) {
  layer_->filter.width *= delta >= 1 ? 1.01 : delta < 0 ? 0.99 : 1.0;
  updateShown();
  Refresh();
}

bool CViewFilterModel::Default() {
  const CVol* vol = layer_->vol;
  if (!vol || !vol->frame) return false;
  // The window that covers the optimal windows of every time point.
  double lo = VOID_VALUE, hi = -VOID_VALUE;
  for (int t = 0; t < vol->T(); ++t) {
    PR_VIEWFILT f = layer_->filter;
    if (!VA_OptimalIntensWindow(1, vol->frame, t, &f, false)) continue;
    lo = std::min(lo, f.level - f.width / 2);
    hi = std::max(hi, f.level + f.width / 2);
  }
  if (lo > hi) return false;
  layer_->filter.adaptive = 0;
  layer_->filter.level = (lo + hi) / 2;
  layer_->filter.width = hi - lo;
  updateShown();
  Refresh();
  return true;
}

std::array<CString, 5> CViewFilterModel::ScaleTexts() const {
  const double L = layer_->filter.level, W = layer_->filter.width;
  const CString unit = layer_->vol ? layer_->vol->unit : CString();
  const double values[5] = {L - W / 2, L - W / 4, L, L + W / 4, L + W / 2};
  std::array<CString, 5> out;
  for (int i = 0; i < 5; ++i) out[size_t(i)].Format(L"%Lf %s", values[i], unit.GetString());
  return out;
}

uint32_t CViewFilterModel::ColorBarRow(int scheme, bool invert, int top, int bottom, int y, bool* tick) {
  const int h = bottom - top, k = bottom - y;
  // A bar without height would divide by zero: its only row is the top row.
  int index = h > 0 ? std::min(255, int(std::floor(double(k) * 256 / h))) : 255;
  index = std::clamp(index, 0, 255);
  if (tick) *tick = index == 0 || index == 64 || index == 128 || index == 192 || index == 255;
  return VA_SchemeInxColor(scheme, invert ? 255 - index : index);
}

void CViewFilterModel::Refresh() {
  CDrawDoc* doc = layer_ ? layer_->GetDocument() : nullptr;
  if (!doc) return;
  if (CDrawSet* set = doc->GetActiveSet()) set->RefreshLayerPanel(true);
  doc->RedrawAllViews(false);
}
