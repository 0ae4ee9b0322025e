#pragma once
// Operations of the view's commands on voxel values and layers (ValueOperations.cpp): values in
// place, with an undo record of the layer; a uniform layer; the headers and dynamic coordinates of
// every layer; the histogram equalisation and the logarithm into new layers. Messages read
// "CDrawSet::<operation> : ...".

class CDrawSet;
class CDrawView;

namespace twk::ops {

// The values "Replace Signal Value over ROI" offers: the last ones the user gave.
struct ReplaceValueRecord {
  double value = 0.0;
  double replacement = 0.0;
};

// The operand's voxels of one value (inside the optional ROI) take another; the prompt starts from
// the record and, on OK, leaves the user's values in it.
bool ReplaceSignalValue(CDrawSet& set, ReplaceValueRecord& record);
bool MakeSignalVoid(CDrawSet& set, CDrawView* view);
bool ChangeVoidToSignal(CDrawSet& set);
void ScaleToInterval(CDrawSet& set);
bool CopyTimepointToTarget(CDrawSet& set, CDrawView* view);
bool InsertUniformLayer(CDrawSet& set);
bool MinimizeDicomHeaders(CDrawSet& set);
void RemoveDynamicDimensionsExceptTime(CDrawSet& set);
bool ReplaceEchoTimeByTSL(CDrawSet& set);
bool EqualizeHistogram(CDrawSet& set);
bool LogConvert(CDrawSet& set);

}  // namespace twk::ops
