#pragma once
// Geometry operations of the layer sets: the orientation guard and letters, rotations (quarter
// turns and free rotations) and the resolution change into new documents, mirroring with undo,
// padding, cropping by an ROI, the patient position and orientation, discarding an alignment,
// landmark files as vector ROIs, Matlab layers and the line-guide moves.

class CDrawDoc;
class CDrawSet;
class CDrawView;
struct VA_ROT;
struct VOLROTATEPARM;

namespace twk::geometry {

// True when the base volume has a valid orientation; otherwise false, with "Valid Orientation is
// required in this operation..." when showMessage.
bool CheckValidOrientation(const CDrawSet& set, bool showMessage);
// The six orientation letters entered for the view's original projection set on every layer.
bool SetVolumeOrientation(CDrawSet& set, CDrawView* view);
// Every layer turned by the quarter turns of the rotation (its dialog first with askUser) into a new
// document named with the rotation counter.
bool RotateVolumeOrtho(CDrawSet& set, bool askUser, VA_ROT* rotation, bool keepWorld);
// Every layer resampled to the entered voxel size into a new document.
CDrawDoc* ChangeResolution(CDrawSet& set);
// The marked layers mirrored in place along the axis, each with an undo record.
bool MirrorVolume(CDrawSet& set, int axis);
// Every layer rotated into a new document: by the record, or (record null) to the orientation of
// the projection code (quarter turns through RotateVolumeOrtho when they suffice); ask runs the
// rotation dialog on the view's projection. The suffix and the rotation counter name the document;
// *rotated (may be null) tells whether anything turned.
bool Rotate(CDrawSet& set, bool ask, CDrawView* view, const VOLROTATEPARM* record, int code, const wchar_t* suffix,
            bool* rotated, bool flag);
// The set resampled to the entered isotropic resolution ("iso" documents through Rotate).
bool MakeIsotropic(CDrawSet& set, CDrawView* view);
// Every layer padded by the entered millimetres into a new document "_pad".
bool PadVolume(CDrawSet& set);
// The set cropped to the box of the operand ROI over all time points, into a new document.
bool CropByROI(CDrawSet& set, CDrawView* view);
// The base volume's first image position and orientation edited in their dialog (silent: snapped
// to the scanner axes) and set on every layer.
bool SetImagePositionOrientation(CDrawSet& set, bool silent);
// The marked layers' alignments discarded: each layer shows its unaligned voxels again.
void DiscardAlignment(CDrawSet& set);
// The landmarks of a chosen text file as vector ROIs named by their index.
bool LoadLandmarkFile(CDrawSet& set, CDrawView* view);
// "Load Matlab Layer": a Matlab file chosen with the file picker, its first array of the base
// volume's width, height and depth (matfile/MatlabLayer.h tells the axis mapping) added to the set
// as a real layer named after the array. False on cancel or failure.
bool LoadMatlabLayer(CDrawSet& set);
// The marked layers moved in place along the selected guide polyline of the view: a two-point
// vector, or a three-point sector turned about its middle point; one undo record per layer.
bool TranslateUsingLineGuide(CDrawSet& set, CDrawView* view);
bool RotateUsingLineGuides(CDrawSet& set, CDrawView* view);

}  // namespace twk::geometry
