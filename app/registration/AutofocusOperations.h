#pragma once
// AutoFocus registration of the layer sets: one volume onto another (the source is the active layer
// of the one other open volumetric document) and motion correction of a 4D layer, each adding its
// result as a new layer and never changing the volumes it registered.
#include "registration/AutoFocus.h"

class CDrawSet;
class CDrawView;
class CVol;

// The source layer onto the target (targetName: the first marked layer whose name contains it,
// else the active layer); the result "<source>_registered" goes into the target's set (in the
// target-to-source direction every layer of the target's set goes into the source's set). True on
// success and when the user declines an ROI question; false on every failure (reported).
bool TW_RegisterAF3D(CDrawSet* set, bool interactive, CDrawView* view, VA_AF3D* parms, const wchar_t* targetName);

// The same pairing registered slice by slice within the slices' planes: the result "<source>_reg"
// (or "_reg_over_<mask>") in the target's grid goes into this set. With a 4D source, the transforms
// of the view's time point serve every time point when useCurrentDynamic or the user says so, else
// each time point is registered on its own.
bool TW_RegisterAF3D_Mode2D(CDrawSet* set, bool useCurrentDynamic, bool interactive, CDrawView* view, VA_AF3D* parms);

// Motion correction of the set's 4D layer onto the view's time point into a new "<name>_moco"
// layer; with a target mask the mask ends last and the result active.
bool TW_RegisterAF4D(CDrawSet* set, bool interactive, CDrawView* view, VA_AF4D* parms);

// A 4D source of the other document registered as a series onto the current time point of this
// set's active layer; the result "registered" goes into this set. The source is never changed.
bool TW_RegisterTwoDocumentsAF(CDrawSet* set, CDrawView* view);

// False ("Both Source and Target may not be 4D unless have equal number of timepoints") when both
// sets hold 4D layers with different time-point counts, or when a count cannot be had.
bool Check4Dcompatibility(CDrawSet* source, CDrawSet* target);

// Moves the layer of vol to the end of the set and makes the layer now before it active.
void TW_MoveLayerToEnd(CDrawSet* set, CVol* vol);

// The record the two-document registration keeps between runs.
VA_AF4D& TW_TwoDocumentsAutofocusRecord();
