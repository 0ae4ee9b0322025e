#pragma once
// Records and runners of the geometry dialogs: "Rotate Volume" (a free rotation into a new
// volume), "Rotate Volume Orthogonally Around Volume Center" (quarter turns, with the matrix they
// make) and "Specify Image Position\Orientation Patient" (position and orientation of a volume,
// with the snap to the scanner axes). The runners go through the parameter dialogs of
// app/dialogs (headless: twk::ui().askValues, one value a field in order).

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"
#include "VolProj.h"
#include "geometry/Geometry.h"
#include "TextureEdgeDialog.h"
#include "registration/AutoFocus.h"

// The record of "Rotate Volume" (byte-packed).
#pragma pack(push, 1)
struct VOLROTATEPARM {
  double scale = 1.0;           // target voxel = smallest source voxel / scale; accepted 0.01 to 100
  double angle[3] = {0, 0, 0};  // degrees about x, y, z (Geometry.h: turned about x, then y, then z)
  int32_t interpolation = VA_INTERP_LINEAR;
  uint8_t preserve = 0;         // keep the source's field of view and voxel size
  uint8_t gaussianDownscale = 0;
  int32_t binaryThreshold = 50; // percent, ROI layers
};
#pragma pack(pop)

// The record of "Rotate & Create new volume (changes voxel size)" and the quarter turns of
// "Rotate Orthogonal and Create new volume (preserves voxel size)" (presets g_RotateParms and
// g_RotateOrthoParms).
extern VOLROTATEPARM g_RotateParms;
extern VA_ROT g_RotateOrthoParms;

// "Rotate Volume" on the record; projection (may be null) gives the angles that "Current
// projection to Native" takes. True on OK.
bool TW_DlgVolumeRotate(VA_VOLPROJ* projection, VOLROTATEPARM* record);
// "Current projection to Native": the projection's three angles into the record.
void TW_RotateAnglesFromProjection(const VA_VOLPROJ* projection, VOLROTATEPARM* record);

// "Rotate Volume Orthogonally Around Volume Center" on the record, for a source of the given
// dimensions and spacing. True on OK (the record then holds the axes and angles).
bool TW_DlgVolRotOrtho(VA_ROT* record, const DIM3D* dims, const SPC* spacing);
// The buttons of one rotation: ">90" adds 90 degrees (360 and more become 0), "-90<" subtracts 90
// (below -359 becomes 0); nothing for an axis that is none.
void TW_RotOrthoStep(VA_ROT* record, int index, bool forward);
// "Matrix to Clipboard": the 3 x 4 matrix (0 "Source = M*Target", 1 "Target = M*Source") as text,
// three rows of "  %lf" values separated by "  ", each row ended by "\n". False (text empty) when
// the rotation is not made of quarter turns.
bool TW_RotOrthoMatrixText(const VA_ROT* record, int direction, const DIM3D* dims, const SPC* spacing, CString* text);
// "Save ": the matrix of the same direction, with the rotated grid as the target grid, written as
// an affine transform file <temporary work folder>/RotOrtho.vtf (over the previous one) and opened
// in the text viewer. False (path empty) when the rotation does not fit or the file cannot be written.
bool TW_RotOrthoSave(const VA_ROT* record, int direction, const DIM3D* dims, const SPC* spacing, CString* path);

// The texture-gradient record of "Multiscale Texture Gradient with 4D Max", edited by the
// "Multiscale Texture Gradient" dialog (TW_DlgMultiScaleTextureGrad, TextureEdgeDialog.h).
extern VA_URALGRAD g_UralGradParms;

// "Specify Image Position\Orientation Patient" on the position of the first slice and the six
// direction cosines. Silent: no window waits; the orientation is snapped to the scanner axes and
// written back. Modal: true on OK. The cosines must be two orthogonal unit vectors (within 1e-4):
// "Orientation must be two orthogonal unit vectors" keeps the dialog open.
bool TW_DlgSlicePosOrient(bool silent, double position[3], double orientation[6]);
// "Align With Scanner": a valid orientation (validOrientation) turns each of the row and column
// directions into its dominant axis (ties to x before y before z, the sign kept, a zero component
// 0); an invalid one becomes the axial identity (1, 0, 0, 0, 1, 0).
void TW_AlignWithScanner(bool validOrientation, double orientation[6]);
