#pragma once
// Volume calls of the imaging core that the document model makes when it turns frames into layers:
// cloning a template volume around a new frame, minimal and re-shaped DICOM records, copies of
// spatial information, layer compatibility, volume names, the time point of maximal signal and the
// optimal intensity window.
//
// Ownership follows the core's rules: a CVol returned here is new and belongs to the caller; a
// FRAME passed by address is taken over (the caller's pointer is cleared) only when the call says so.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"
#include "ViewFilt.h"

class CVol;
struct DICOMREC;

// A new volume with the template's name, modality, unit, spacing, orientation, image positions,
// dynamic coordinates and DICOM records around *frame, which it takes over (*frame is cleared).
// With *frame null (or frame null) the template's voxels are copied. spacing, orientation (six
// direction cosines) and position (the first slice's image position) replace the template's when
// given. Dynamic coordinates are kept when the time points agree, image positions when the depth
// agrees; otherwise defaults are made. Null on failure (the frame stays with the caller).
CVol* VA_CloneByReformat(const CVol* templateVol, FRAME** frame, const SPC* spacing, const double* orientation,
                         const DPOINT3D* position, bool show);

// Reduces the volume's DICOM records to the first one (an ROI needs no per-slice headers).
bool VA_MinimizeDicomHeaders(CVol* vol);

// DICOM records for a volume of new dimensions and voxel kind made from the source's records:
// dim->d x dim->t records, record i a copy of source record i (or of the last one when there are
// fewer), with the new width and height, the bits of the kind, instance number i + 1 and temporal
// position t + 1. A source without records gives none (*records null, *count 0) and true.
bool VA_CloneDicomRecsWithNewGeometry(const CVol* source, const DIM3D* dim, FRMTYPE kind, DICOMREC*** records,
                                      int64_t* count);

// Copies spacing, orientation and, when the depths agree, the image positions of src into dst.
bool VA_CopyAllSpatialInfo(CVol* dst, const CVol* src);

// Equal width, height and depth (time points may differ).
bool VA_IsEqualDim(const CVol* a, const CVol* b);
// Whether a volume may become a layer over the base: equal width, height and depth; with mode 1
// also a time-point count of 1 or the base's.
bool VA_LayersAreCompatible(const CVol* layer, const CVol* base, int mode);

// A volume name in folder: "<folder>\<series number>_<description><suffix>" from a DICOM record
// (withNumber and withDescription choose the parts; the description is cut to maxDescription
// characters and characters that cannot stand in a file name become '-'). Without a record, or with
// neither part, the name is "Volume". False only when name is null.
bool VA_ConstructVolumeName(const DICOMREC* record, bool withNumber, bool withDescription, int maxDescription,
                            const wchar_t* folder, const wchar_t* suffix, CString* name);

// The time point whose defined voxels have the largest sum (0 for 3D frames). False for a null or
// invalid frame.
bool VA_VolGetTimeOfMaxSignal(const FRAME* frame, int* t);

// Sets the window (level and width) of the filter from the defined voxels of time point t:
// mode 1 spans the 0.5th to the 99.5th percentile (of a regular sample of about four million voxels
// on larger volumes), mode 0 the full range of every voxel. Void voxels (1e60, and 16777215 in
// 32-bit frames) are left out. An ROI frame gets level 0.5 and width 1; a flat frame a width of 1.
// The other fields of the filter are left alone. False (reported when show is set) for a bad frame
// or time point, or a time point without defined voxels.
bool VA_OptimalIntensWindow(int mode, const FRAME* frame, int t, PR_VIEWFILT* filter, bool show);
// The same over the voxels inside an ROI mask of the frame's width, height and depth (one time
// point, used for all, or the frame's): the window that mode gives on a copy whose outside voxels
// are void, without making the copy. False also for a mask that does not fit or holds no defined
// voxel of the frame.
bool VA_OptimalIntensWindowInMask(int mode, const FRAME* frame, int t, const FRAME* mask, PR_VIEWFILT* filter,
                                  bool show);

// Display names of the option values: image open layout ("FilmView", "Single Slice", "Axial,
// Sagittal and Coronal projections"), projection view convention ("Original Data", "Radiological",
// "Neurological") and transform interpolation ("Nearest Neighbor", "Tri linear", "Wsinc2",
// "Wsinc3", "Wsinc4"); "Unknown" outside the range.
const wchar_t* VA_ImageOpenLayoutTypeName(int layout);
const wchar_t* VA_ProjViewConventionTypeName(int convention);
const wchar_t* VA_GetInterpolationName(int interpolation);
