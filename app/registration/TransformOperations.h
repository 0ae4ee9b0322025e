#pragma once
// Volumes moved into another grid without optimisation (TransformOperations.cpp): by a transform
// file (".vtf"), by a flow-field file (".fff") and by the patient geometry (DICOM orientation and
// positions) of two documents; and the active layer's alignment saved as a transform file.

#include <cstdint>

#include "CString.h"

class CDrawDoc;
class CDrawSet;
class CDrawView;

// The transform-task record of "Affine Transform using VTF file " (g_VtfTransformTask) and
// "Flow Field Transform using FFF file" (g_FlowFieldTransformTask).
struct VTFTASKPARM {
  int32_t interpolation = 1;      // VA_INTERP: 0 nearest, 1 trilinear, 2..4 windowed sinc
  uint8_t gaussianDownscale = 0;  // smooth the source to a coarser target grid first
  int32_t threshold = 50;         // per cent: an ROI voxel is inside above it
  CString file;                   // the transform or flow-field file
};
// The two commands' records, kept until the program exits.
extern VTFTASKPARM g_VtfTransformTask, g_FlowFieldTransformTask;
// Start values: trilinear, threshold 50, no file; Gaussian downscale on for ".vtf", off for ".fff".
void TW_InitTransformTaskDefaults();
// The dialog "Affine Transform 3D Using VTF File" on the record; kind 3 for ".vtf", 12 for ".fff".
// True on OK (the record then holds the values).
bool TW_DlgVtfTransform(int kind, VTFTASKPARM* record);

namespace twk::registration {

// Every layer of the volume set resliced by the transform file of the task into a new document;
// the set must have a valid orientation, then the task's dialog runs on the record (kept there on
// OK) and the file must exist. Messages read "CDrawSet::AffineTransformByVTF : ...".
void AffineTransformByVTF(CDrawSet& set, VTFTASKPARM& task);
// The same by a flow-field file; the base layer's dimensions must be the field's source grid.
void FlowFieldTransformByFFF(CDrawSet& set, VTFTASKPARM& task);
// The layers of the one other volumetric document resliced into this set's grid by the two base
// volumes' DICOM geometry ("_reg" layers), into this set or a new document (newDocument, when
// given, receives it). centring aligns the volumes' centres; minimiseHeaders keeps one header for
// resliced ROIs.
bool RegisterByDicomTags(CDrawSet& set, bool interactive, bool forceNewDocument, CDrawDoc** newDocument,
                         bool centring, bool minimiseHeaders);
// "Save Alignment (*.vtf)": the active layer's alignment transform into a transform file the user
// picks. Messages read "CDrawView::OnTransformSaveAlignmentVTF : ...".
void OnTransformSaveAlignmentVTF(CDrawView& view);

}  // namespace twk::registration
