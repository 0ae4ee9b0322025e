#pragma once
// Vector ROIs of a volume layer set: creation from a labelled box, the queries the commands and
// other subsystems use, and the set's save, load, delete, list and 2D-to-3D commands.
//
// A vector ROI is a layer set of the document holding a HIGHOBJ record (kind 1) whose owner is the
// volume set it lies over; boxes are continuous voxel coordinates, voxel i covering [i, i + 1).

#include <cstdint>

#include "TwkTypes.h"

class CDrawSet;
class CDrawView;
struct HIGHOBJ;

// A new vector ROI of ownerSet's document with the label, box (x0, y0, z0, x1, y1, z1) and time
// range, appended last in drawing order; the document is marked modified. False without a document
// or memory.
bool TW_CreateVectRoiFromLabel(CDrawSet* ownerSet, const double box[6], int t0, int t1, const char* label);

// The records of ownerSet's vector ROIs whose time range overlaps [t0, t1] (either below 0: every
// range) in a new pf_calloc array the caller frees; null with *count 0 when there is none.
HIGHOBJ** TW_GatherVectRoisInTimeRange(CDrawSet* ownerSet, int t0, int t1, int* count);
// ownerSet's vector-ROI objects in a new pf_calloc array (null with *count 0 when none).
CDrawSet** TW_CollectVectRoiObjects(CDrawSet* ownerSet, int* count);
// ownerSet's vector-ROI objects; when some of them are selected, only the selected ones. False only
// when memory runs out.
bool TW_CollectVectRoisOfVolume(CDrawSet* ownerSet, CDrawView* view, CDrawSet*** out, int* count);
// The boxes of TW_CollectVectRoisOfVolume's objects with x and y ordered and clipped to
// [0, wh[0]] x [0, wh[1]], z as stored; a new pf_calloc array. False when memory runs out.
bool TW_GetVectRoiBoxes(CDrawSet* ownerSet, CDrawView* view, const int wh[2], DRECT3D** out, int* count);
// The same for a single record: its box ordered and clipped in x and y.
bool TW_GetVectRoiBox(const HIGHOBJ* record, const int wh[2], DRECT3D* out);
// Whether one of ownerSet's vector ROIs (time-filtered as above) has exactly this box.
bool TW_VectRoiBoxExists(CDrawSet* ownerSet, const DRECT3D* box, int t0, int t1);
// Restricts a record to a crop (x0, y0, z0, x1, y1, z1, t0, t1, inclusive voxel bounds) and moves it
// into the crop's coordinates; false when they do not meet.
bool TW_IntersectVectRoiBounds(HIGHOBJ* record, const int limits[8]);
