#pragma once
// Opening files as new documents: document files and image files (DICOM, MGH, NIfTI, ANALYZE,
// NRRD, the program's ".im" volumes, any of them gzip-compressed), volumes that a command or a loader
// has made, and NumPy arrays through the raw-volume dialog.
//
// The shell's application object calls TW_OpenImageDocument from CDrawApp::OpenDocumentFile. The
// framework's parts of an open (the child frame and its view, fitting the frame, the orthogonal
// views, the projection convention of the view) are the shell's and the display's; the shell puts
// them into the document hooks (TW_DocumentHooks().open), so that the open itself runs headless.
// Without them a document gets no view.

#include <cstdint>
#include <functional>

#include "CString.h"
#include "TwkTypes.h"

class CDrawDoc;
class CDrawSet;
class CDrawView;
class CVol;

// CDrawApp::OpenDocumentFile (path, applyLayout, showProgress): a new document for the path with
// its view, the stored projection of a document file or the chosen layout for an image
// ("ImageOpenLayout": 0 film view, 1 single view, 2 single view and orthogonal views; a single-slice
// image always opens in single view), the modality question for volumes of unknown modality when
// "VerifyModality" is on (defaultModality, unless 10000 (unknown), is given instead of asking), and
// the view zoomed to all objects. An image's format is decided once, at the door, and its header
// read once. Null, with no document left behind, on failure.
CDrawDoc* TW_OpenImageDocument(const wchar_t* path, bool applyLayout, bool showProgress,
                               int defaultModality = 10000);
// The same for a volume made in memory (*vol is taken: cleared, and deleted on failure), under its
// name as the document's path; nothing is read.
CDrawDoc* TW_OpenVolumeDocument(CVol** vol, bool applyLayout, bool showProgress, int defaultModality = 10000);

// Opens *vol (taken: cleared) as a document under the volume's name without layout and progress,
// marked modified.
CDrawDoc* TW_CreateDocumentFromVolume(CVol** vol);
// A document around a 3D frame (*frame is taken when the document opens) under name; a frame of
// more than one time point is refused with "3D volume is required".
CDrawDoc* TW_CreateDocument(FRAME** frame, const wchar_t* name);

// The full path of name (relative names are taken in the working folder, at most 4000 characters);
// "Document name error" when there is none, "Document with requested name is already present" when
// a document is open under it; both false.
bool GetFullPathCheckPresent(const wchar_t* name, CString* full);
// A new document of the source reformatted (spacing, orientation, first image position; null keeps
// the source's) under the full path of name, without layout, marked modified, its last layer's
// colour scheme 0 and its view in the native plane. Null when the name is refused, the volume cannot
// be made or the document has no view record.
CDrawDoc* TW_CreateDocumentByClone(const wchar_t* name, const CVol* source, const SPC* spacing,
                                   const double* orientation, const DPOINT3D* position, bool showProgress);
// A new document of the source cropped to exactly one of a 3D box (all time points) and a 4D box,
// under the full path of name, without layout, marked modified.
CDrawDoc* TW_CreateDocumentByCrop(const wchar_t* name, const CVol* source, const RECT3D* box3, const RECT4D* box4,
                                  bool showProgress);
// The source cropped to one box as a new layer of the set (an ROI crop keeps one DICOM record),
// named by name with the characters that cannot stand in a file name replaced.
bool TW_CropToNewLayer(CDrawSet* set, bool askSpatial, const wchar_t* name, const CVol* source, const RECT3D* box3,
                       const RECT4D* box4, int percent, int scheme, int colour, bool showProgress);
// The forms of the crop commands: exactly one of a 4D box and a time list ({count, t0, t1, ...},
// 0-based, in the order wanted) is given; cloneFlag goes to the crop (DICOM records of the kept
// slices and time points). Otherwise as above.
CDrawDoc* TW_CreateDocumentByCrop(const wchar_t* name, const CVol* source, const RECT4D* box, const int32_t* timeList,
                                  bool cloneFlag, bool showProgress);
bool TW_CropToNewLayer(CDrawSet* set, bool askSpatial, const wchar_t* name, const CVol* source, const RECT4D* box,
                       const int32_t* timeList, int percent, int scheme, int colour, bool cloneFlag,
                       bool showProgress);
// ROI volumes of a folder's files: mode 2 reads every path, mode 3 the ".im" paths, which must be
// exactly half of an even number of paths; other modes give none. On success a new pf_malloc array
// of *count volumes; on failure every volume read is deleted.
bool TW_LoadRoisFromFolder(int mode, const wchar_t* folder, const wchar_t* const* paths, int n, CVol*** volumes,
                           int* count);

// Opens a NumPy array (.npy, optionally gzip-compressed) chosen with the file picker: the raw-volume
// dialog says how its axes map to x, y, z and t, complex values are converted on request, and the
// volume opens as a new document. False on cancel or failure.
bool TW_OpenRawVolume();
// The same for a given file (the picker skipped).
bool TW_OpenRawVolumeFile(const wchar_t* path);
