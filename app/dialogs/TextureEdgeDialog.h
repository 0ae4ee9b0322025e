#pragma once
// The texture dialogs.
//
// "3D Edge Detector" (CDlgTextureEdge): the texture edge detector's settings (metric, voxel weights,
// low and high radius, edge signal threshold). The radii take only the admissible radii of the
// multiscale gradient (up to 16 voxels): each is moved to the closest one, and the pair is kept in
// order (low <= high).

#include "registration/AutoFocus.h"
#include "roi/EdgeWave.h"

// Modal; true on OK, when the record holds the confirmed values.
bool TW_DlgTextureEdge(VA_URALEDGE* record);

// "Multiscale Texture Gradient" (CDlgMultiScaleTextureGrad): metric, voxel weights, magnitude
// measure, normalisation coefficient and the two radii, chosen as in the edge dialog. Modal; true on
// OK.
bool TW_DlgMultiScaleTextureGrad(VA_URALGRAD* record);

// "Single Scale Texture Gradient" (CDlgTextrGradSS): metric, voxel weights, magnitude measure,
// normalisation coefficient and one radius (mm, 0 to 1000), which starts at the record's low
// radius and is written to both radii on OK. Modal; true on OK.
bool TW_DlgTextrGradSS(VA_URALGRAD* record);
