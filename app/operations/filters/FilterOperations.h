#pragma once
// The smoothing and noise operations of the layer sets. Each adds its result as a new layer and
// answers true when it did; a set without a usable operand ends with the operation's message.

class CDrawSet;
class CDrawView;

namespace twk::filterops {

// "Smooth over (optional) ROI": the operand smoothed by g_VolSmoothParms (its dialog first unless
// withoutDialog), within the optional 3D ROI, as the new active layer.
bool SmoothVolume(CDrawSet& set, bool withoutDialog);
// The edge-constrained smooth of the operand by itself, or of the first other signal layer by the
// operand's edges at the view's time point (all time points on request).
bool SingleVolConstrainedSmooth(CDrawSet& set);
bool ConstrainedSmooth(CDrawSet& set, CDrawView* view);
// The operand ROI's shape smoothed with the entered radius, as the new active layer.
bool RoiSmoothShape(CDrawSet& set);
// The noise of the operand at the view's time point by estimator algorithm, shown to the user.
bool MeasureNoise(CDrawSet& set, CDrawView* view, int algorithm);

}  // namespace twk::filterops
