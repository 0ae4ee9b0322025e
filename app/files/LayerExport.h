#pragma once
// Export of a set's layers (LayerExport.cpp): DICOM files or per-series DICOM folders, raw image
// files, every marked layer at once, and the rewriting of TR, TE or flip angle in a layer's DICOM
// headers. Messages read "CDrawSet::<operation> : ...".

class CDrawSet;
class CDrawView;

// The DICOM tags SetDicomTag rewrites: repetition time (0018,0080), echo time (0018,0081), flip
// angle (0018,1314).
enum : int { TW_DICOMTAG_TR = 0x00180080, TW_DICOMTAG_TE = 0x00180081, TW_DICOMTAG_FA = 0x00181314 };

namespace twk::files {

// The active layer as DICOM files (one per image, or one multi-frame ".dic" file).
bool SaveDicomData(CDrawSet& set);
// The active layer as DICOM files sorted into per-series folders of a chosen folder.
bool SaveActiveLayer_DicomFolders(CDrawSet& set);
// The active layer as a raw image file (".im", ANALYZE ".img", NIfTI ".nii", 4D ".time" sets).
bool SaveActiveVolumeToRAW(CDrawSet& set);
// Every marked layer (the view's time point) to its own file in one folder; true also on cancel.
bool SaveAllMarkedVolumeLayersToRAW(CDrawSet& set, CDrawView* view);
// Rewrites TR, TE or the flip angle (tag one of TW_DICOMTAG_*) in the operand layer's headers.
bool SetDicomTag(CDrawSet& set, int tag);

}  // namespace twk::files
