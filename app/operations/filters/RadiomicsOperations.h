#pragma once
// Radiomics tables and the N-tuple export of parametric maps.

class CDrawSet;
class CDrawView;

namespace twk::filterops {

// The 2D radiomics features of the operand at the view's time point over the operand ROI (or every
// marked 3D ROI with allRois), as a table in Notepad and/or the clipboard as the record chooses.
bool Radiomics2Dfeatures(CDrawSet& set, bool silent, CDrawView* view, bool allRois);
// The marked real 3D maps voxel by voxel (within the optional ROI) into a chosen N-tuple file.
bool OutputParamMapNtupleFile(CDrawSet& set);

}  // namespace twk::filterops
