#pragma once
// Segmentation commands of the layer sets kept as free functions (bound to their rows under the
// set operation's name): the label-map split and the organ recipes and reports.

#include "CString.h"

class CDrawSet;
class CDrawView;

// "Extract ROIs from LabelMap": one ROI layer "atlas region <label>" per region of the operand
// label map, all of them or those of the entered list. True when every asked layer was added.
bool TW_AtlasSplit(CDrawSet* set);

// "Cartilage detection": cartilage beside the bone mask (the operand ROI) of the operand volume,
// as the layer "cartilage".
bool TW_DetectCartilage(CDrawSet* set);
// "Measurement along the central axis": the first marked ROI cut into segments along its longest
// axis, the segments as the layer "layers" and their measurements in Notepad and the clipboard.
bool TW_PancreasMeasurementAlongCentralAxis(CDrawSet* set);
// The all-document reports in Notepad: the mean of each marked real volume over each marked 3D
// ROI, and the vicinity irregularity of each marked real 3D layer. False (no report) when there is
// no document or a measurement fails.
bool TW_AllDocumentsMeanOverRois();
bool TW_AllDocumentsIrregularity2D();

struct INPUTFUNC;

// "Segment heart from CT": a set of exactly three layers (a 3D CT and two 3D lung ROIs) seen in an
// axial view gives the layer "heart mask".
bool TW_SegmentHeartCT(CDrawSet* set, CDrawView* view);
// "Current Slice Structure Graph": the triangles of the first marked ROI's slice in the view, as
// red polylines of the document, the interior ones filled blue.
bool TW_CurrentSliceStructureGraph(CDrawSet* set, CDrawView* view);
// "4D: Blood Vessel Map" with the input functions of the program's kinetic-model host, and the
// same with given curves and names (n of each): one layer per input function named after it, the
// rest of the ROI as "Organ".
bool TW_SegmentVesselMap(CDrawSet* set);
bool TW_SegmentVesselMapWith(CDrawSet* set, const INPUTFUNC* ifuncs, const CString* names, int n);
