#pragma once
// The denoising operations of the layer sets. Each adds its result as a new layer (the active one,
// but for the incoherence map and the streak removal) and answers true when it did.

class CDrawSet;
class CDrawView;

namespace twk::filterops {

// Non-local means on g_NlmParms (NLM-D for a 4D operand on request).
bool NLMdenoising(CDrawSet& set);
// The voxelwise incoherence map of the operand for the entered time delta, "<title>_incogerence2".
bool Incoherence2Map(CDrawSet& set);
// The slice streaks of the operand at the view's time point removed.
bool RemoveSliceStreaks(CDrawSet& set, CDrawView* view);
// The temporal shape means of a 4D operand within the optional ROI: plain (TSM, with its time shown
// afterwards), space-temporal (STSM), guided by the marked "model" layer (MTSM), and of the complex
// pair of layers "complex_re" and "complex_im" within the operand ROI.
bool TSMdenoising(CDrawSet& set);
bool STSMdenoising(CDrawSet& set);
bool ModelBasedTSMdenoising(CDrawSet& set);
bool ComplexTSMdenoising(CDrawSet& set);

}  // namespace twk::filterops
