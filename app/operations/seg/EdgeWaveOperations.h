#pragma once
// The EdgeWave commands of the layer sets: EdgeWave from seeds on one volume and its result layer,
// competing ROI layers (MultiLabel) and the N largest EdgeWave components of an ROI.

#include "volume/Frame.h"

class CDrawSet;
class CDrawView;
class CVol;
struct VA_EW;

namespace twk::seg {

// EdgeWave of the active (marked) layer, or the first marked layer, at the view's time point from
// the set's seed boxes; ask runs the parameter dialog first (silent: without showing it). The
// result becomes a new layer (AddEdgeWaveMaskLayer). True when a layer was added, and when the
// user declined to ignore the seeds.
bool EdgeWave(CDrawSet& set, bool ask, bool silent, CDrawView* view, VA_EW* record);
// The result frame (taken) as a layer named "<title>_ewmask", or "_ewmask-<dimension>#<t>" for a 4D
// operand: the ROI itself (binary), or the operand's time point t cleared outside it with the
// operand layer's display window.
bool AddEdgeWaveMaskLayer(CDrawSet& set, bool binary, int t, CVol* operand, FramePtr result);
// The marked ROI layers compete for their union ("Peel size (vox)"); each layer is rewritten in
// place with an undo record of its own.
bool EdgeWaveML(CDrawSet& set, bool boundaryOnly);
// The N largest EdgeWave components of the operand ROI as layers "CC_0", "CC_1", ...
bool EdgeWaveNLargest(CDrawSet& set, CDrawView* view);

}  // namespace twk::seg
