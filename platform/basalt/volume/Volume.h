#pragma once
// The volume family of the imaging core in one include: frames, boxes, curves, projections and
// voxel access (CVol itself is declared in the shared Vol.h).

#include "Frame.h"
#include "Vol.h"
#include "VolumeBox.h"
#include "VolumeCurves.h"
#include "VolumeProjection.h"
#include "VoxelAccess.h"
