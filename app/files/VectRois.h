#pragma once
// Vector ROIs of a volume layer set: the queries of their records and boxes beside those of the
// document (VectorRois.h), and the set's save, load, delete, list and 2D-to-3D commands.
//
// A vector ROI is a layer set of the document holding a HIGHOBJ record (kind 1) whose owner is the
// volume set it lies over; boxes are continuous voxel coordinates, voxel i covering [i, i + 1).

#include <cstdint>

#include "TwkTypes.h"
#include "VectorRois.h"

class CDrawSet;
class CDrawView;
struct HIGHOBJ;

// The records of ownerSet's vector ROIs whose time range overlaps [t0, t1] (either below 0: every
// range) in a new pf_calloc array the caller frees; null with *count 0 when there is none.
HIGHOBJ** TW_GatherVectRoisInTimeRange(CDrawSet* ownerSet, int t0, int t1, int* count);
// The boxes of TW_CollectVectRoisOfVolume's objects with x and y ordered and clipped to
// [0, wh[0]] x [0, wh[1]], z as stored; a new pf_calloc array. False when memory runs out.
bool TW_GetVectRoiBoxes(CDrawSet* ownerSet, CDrawView* view, const int wh[2], DRECT3D** out, int* count);
// The same for a single record: its box ordered and clipped in x and y.
bool TW_GetVectRoiBox(const HIGHOBJ* record, const int wh[2], DRECT3D* out);
// Whether one of ownerSet's vector ROIs (time-filtered as above) has exactly this box.
bool TW_VectRoiBoxExists(CDrawSet* ownerSet, const DRECT3D* box, int t0, int t1);

namespace twk::files {

// The vector ROIs the volume set owns (VectRois.cpp); messages read "CDrawSet::<operation> : ...".
// Saves them to a ".vroi" file the user picks.
bool VectRoiSave(CDrawSet& set);
// Loads a ".vroi" file (null path: picked) as new vector ROIs of the set's document.
bool VectRoiLoad(CDrawSet& set, const wchar_t* path);
// Deletes them (mode 2: only boxes under 1 voxel on every axis; any other mode: all); sayNone tells
// when there were none.
bool DeleteVectROIs(CDrawSet& set, int mode, bool sayNone);
// Lists those within the set's time points.
bool ListAllVectorROIs(CDrawSet& set);
// On a vector-ROI object: widens its 2D box into a 3D box as deep in millimetres as its larger side.
bool VectorRoi_2Dto3D(CDrawSet& vectorRoi, CDrawView* view);

}  // namespace twk::files
