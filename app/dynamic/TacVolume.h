#pragma once
// A time-activity-curve file as a synthetic 4D document, so that the tools for dynamic volumes
// (parametric maps, single-curve fits) work on a curve.

#include "TwkTypes.h"

class CDrawDoc;

// Opens the curve file at path (asked with the curve-file picker when empty) as a new document
// whose volume carries the curve in every voxel: silent gives one voxel without noise, otherwise
// the "TAC Volume Attributes" dialog asks the size and the noise. modality: 0 CT, 1 MR, 2 PET;
// 10000 asks for it. Null when cancelled (quietly) or when the file cannot be read (reported).
CDrawDoc* TW_OpenTacAs4D(int modality, const wchar_t* path, bool silent);

// The "TAC Volume Attributes" dialog on its defaults (32 x 32 x 1, noise 0 %): on OK, width,
// height and depth with one time point, and the noise in percent as entered.
bool TW_DlgTacVolume(DIM3D* dims, double* noise);
