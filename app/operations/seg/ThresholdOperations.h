#pragma once
// Thresholds of a signal volume into new ROI layers at the view's time point: a signal interval (all
// time points on request), a signal-to-gradient ratio and a local Otsu threshold. Each result becomes
// the active layer; without an integer or real operand: "Integer or Real volume is required".

class CDrawSet;
class CDrawView;

namespace twk::seg {

bool ThesholdToROI(CDrawSet& set, CDrawView* view);
bool ThesholdToROI_SignalToGradRatio(CDrawSet& set, CDrawView* view);
bool LocalOtzuThresholdToROI(CDrawSet& set, CDrawView* view);

}  // namespace twk::seg
