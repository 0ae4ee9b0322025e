#pragma once
// Registration, transform-file and layer-comparison operations of the layer sets, and the services
// the registration engine supplies to the rest of the program.

#include <cstdint>

#include "CString.h"

// The transform-task record of "Affine Transform using VTF file " (g_VtfTransformTask) and
// "Flow Field Transform using FFF file" (g_FlowFieldTransformTask).
struct VTFTASKPARM {
  int32_t interpolation = 1;      // VA_INTERP: 0 nearest, 1 trilinear, 2..4 windowed sinc
  uint8_t gaussianDownscale = 0;  // smooth the source to a coarser target grid first
  int32_t threshold = 50;         // per cent: an ROI voxel is inside above it
  CString file;                   // the transform or flow-field file
};
extern VTFTASKPARM g_VtfTransformTask, g_FlowFieldTransformTask;
// Start values: trilinear, threshold 50, no file; Gaussian downscale on for ".vtf", off for ".fff".
void TW_InitTransformTaskDefaults();
// The dialog "Affine Transform 3D Using VTF File" on the record; kind 3 for ".vtf", 12 for ".fff".
// True on OK (the record then holds the values).
bool TW_DlgVtfTransform(int kind, VTFTASKPARM* record);

struct HIGHOBJ;
// The centres of the landmarks' boxes (voxel coordinates): 3 doubles per landmark into out.
void TW_LandmarkCentres(HIGHOBJ* const* landmarks, int count, double* out);

// Installs the registration services other modules call through hooks (the transform-file writer
// of "Save Alignment (*.vtf)"); the library's command bindings install them when the program starts,
// TW_RemoveRegistrationServices takes them away again.
void TW_InstallRegistrationServices();
void TW_RemoveRegistrationServices();
