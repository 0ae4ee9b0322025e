#pragma once
// Vector ROIs: labelled boxes with a time range, stored as layer sets that hold a HIGHOBJ record
// (kind 1) instead of layers, owned by the volume set over which they lie. Here: their creation,
// the queries that find those of a set, and the restriction of a record to a crop box.

#include <cstdint>

#include "TwkTypes.h"

class CDrawDoc;
class CDrawSet;
class CDrawView;
struct HIGHOBJ;

// A new vector ROI of the owner set, appended to the owner's document (last in drawing order),
// its bounds computed, the document marked modified: the box as x0, y0, z0, x1, y1, z1, the time
// range and a label (null: empty; at most 127 characters, cut on a character boundary). False
// for an owner without document, or out of memory.
bool TW_CreateVectRoiFromLabel(CDrawSet* owner, const double box[6], int t0, int t1, const char* label);
// Writes a UTF-8 label into the record (the rest of the field zeroed): at most 127 bytes, cut so that
// it does not end inside a character. A null label empties it.
void TW_SetVectRoiLabel(HIGHOBJ* record, const char* label);
bool TW_CreateVectRoiFromLabel(CDrawSet* owner, const double box[6], int t0, int t1, const wchar_t* label);
// The same from an integer box with its time range (x0, y0, z0, x1, y1, z1, t0, t1), without a label.
bool TW_CreateVectRoiFromRect(CDrawSet* owner, const RECT4D* box);

// The vector-ROI objects (sets with a record) of the owner's document that belong to the owner,
// in drawing order, as a new pf_malloc array of *count entries; null with count 0 when none.
CDrawSet** TW_CollectVectRoiObjects(CDrawSet* owner, int* count);
// Those of them that are selected when any is, else all of them; the array is exactly *count long
// (null when 0). False only when memory runs out.
bool TW_CollectVectRoisOfVolume(CDrawSet* owner, CDrawView* view, CDrawSet*** out, int* count);

// Restricts the record to the crop limits (x0, y0, z0, x1, y1, z1, t0, t1) and moves it into the
// crop's coordinates (the limits' lower corner and first time point become 0). False, with the
// record unchanged, when the record lies wholly outside the limits.
bool TW_IntersectVectRoiBounds(HIGHOBJ* record, const int32_t limits[8]);
