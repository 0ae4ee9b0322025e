#pragma once
// The brain commands of the layer sets, on the brain library: white-matter lesions of a FLAIR
// volume ("White Matter FLAIR Lesions") and the lateral ventricles of a T1 or FLAIR volume
// ("Segment Lateral Ventricle from T1W or FLAIR"). Free functions bound to the rows of
// CDrawSet::SegmentFlairLesionsAlgo2 and CDrawSet::BrainSegmentLateralVentricle.
#include "Gyrelab.h"

class CDrawSet;
class CDrawView;

// Lesions of the set's FLAIR (3D, by the operand rule) with the dialog (silent: without user
// input) on record. The gray-matter mask is the set's first ROI layer; the T1 is the single layer of
// the other document when exactly two are open. Adds "WML_thr_<threshold>" and, where the library
// returned them, "gray matter", "lateral ventricle" and "white matter"; the last becomes active.
bool TW_SegmentFlairLesions(CDrawSet* set, bool silent, CDrawView* view, VA_WMLVENTRSEG* record);

// The lateral ventricles of the set's volume (3D) with the "Lateral Ventricle Segmentation" dialog
// on g_LateralVentrSeg; adds the layer "lateral ventricle".
bool TW_BrainSegmentLateralVentricle(CDrawSet* set);

// The last source and target folders of the white-matter lesion batches (the temporary work folder
// until one is chosen).
extern CString g_WmlBatchSourceFolder, g_WmlBatchTargetFolder;

// "NIFTI Folder : White Matter Lesions (FLAIR) batch measurement": two existing folders, the
// lesion dialog on g_WmlVentrSeg (no FLAIR, MPRAGE or mask), then the library's NIfTI batch, which
// writes "<title>_lesion_mask.nii" for every 3D volume of the source folder. True when it ran to its
// end.
bool TW_WMLBatchFromNiftiFolder();
