#pragma once
// DICOM series loading: the items of a DICOM tree turned into a file set, a file set loaded into one
// new volume (3D, or 4D when the images form time points) with the slice-spacing check, the
// spin-lock-time question and the signed-voxel conversion, load requests by which commands have one
// series loaded without interaction, the single-file open and the node images of the tree.
//
// The grouping of files into series and time points, the reading of headers and voxels and the 4D
// assembly are the imaging core's (platform/basalt/dicom); this code fixes the order of those calls
// and every decision taken around them. Every failure of a load ends in the one message "Loading
// Dicom Failed"; nothing partial reaches a document or a layer set. The user is reached through
// twk::ui().

#include <cstdint>
#include <vector>

#include "CString.h"

class CDrawDoc;
class CVol;
struct DICOMREC;
struct VA_DICOMTREE;
struct VA_DICOMTREEITEM;
struct VA_VOLINFO;

// A request to load the series of one file without interaction. The caller owns it; loaders read it
// and never write it. Set it with TW_SetDicomLoadRequest, which clears the whole path first.
struct DICOMLOADREQ {
  wchar_t path[256];  // the file whose item is loaded, zero-terminated
  int32_t kind;       // 0 single image, 1 3D volume, 2 4D volume, 3 study
  uint8_t flag;       // handed to the tree builder (read the subfolders)
};
enum : int32_t { DICOMLOAD_SINGLE_IMAGE = 0, DICOMLOAD_3D = 1, DICOMLOAD_4D = 2, DICOMLOAD_STUDY = 3 };

// Fills a request. A path that does not fit the record with its terminator is refused (false, the
// record cleared): a cut path would name another file.
bool TW_SetDicomLoadRequest(DICOMLOADREQ* request, const wchar_t* path, int kind, bool flag);
// The request's path; false when the record holds no terminator within its 256 characters.
bool TW_DicomLoadRequestPath(const DICOMLOADREQ* request, CString* path);
// "Single image", "3D volume", "4D volume", "Study"; "Unknown" for any other kind.
const wchar_t* TW_DicomLoadKindName(int kind);

// The files of a tree item: paths (pointing at the tree's records, valid while the tree lives) and
// the records themselves, in tree order.
struct TW_DICOMFILESET {
  const wchar_t** files = nullptr;  // pf_malloc array
  DICOMREC** records = nullptr;     // pf_malloc array
  int count = 0;
  TW_DICOMFILESET() = default;
  ~TW_DICOMFILESET() { Clear(); }
  TW_DICOMFILESET(const TW_DICOMFILESET&) = delete;
  TW_DICOMFILESET& operator=(const TW_DICOMFILESET&) = delete;
  void Clear();
};

// ConstructFileSet: the image items under item (the highlighted set), or, when askIfDifferent is
// set, something is checked and the checked items (checked or under a checked ancestor) differ from
// the highlighted ones, the set the user picks ("Highlighted only", "Checked only", "Cancel", with
// the title as caption). "Empty DICOM Tree" when the tree has no top-level item with a child. False
// on failure or cancel; an empty set is a success with count 0.
bool ConstructFileSet(const wchar_t* title, bool askIfDifferent, const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* item,
                      TW_DICOMFILESET* set);

// The slice-spacing check over the D slice records (one time point, slice order): the mean distance
// of the slice positions, with the pair that deviates most from it shown (interactive) when it
// deviates by more than 0.01 mm. Without positions the first slice's thickness is the spacing; without
// that, interactive asks "Specify Slice thickness (mm)" (Cancel fails), otherwise the check fails.
// *undefined tells that the positions were missing (the spacing then replaces the volume's own).
struct TW_SLICESPACINGCHECK {
  double spacing = 0;
  bool irregular = false;
  bool undefined = false;
};
bool TW_DicomSliceSpacingCheck(DICOMREC* const* records, int depth, TW_SLICESPACINGCHECK* result, bool interactive);

// TW_LoadDicomFileSet: a new volume from exactly the n files, or null ("Loading Dicom Failed"
// shown, information icon, also without interaction). With a request the load is non-interactive:
// no spacing, spin-lock or signed-voxel questions (signed data stays real). nameSuffix is appended
// to the volume's name.
CVol* TW_LoadDicomFileSet(const wchar_t* const* files, int n, const wchar_t* nameSuffix, const DICOMLOADREQ* request,
                          bool combineStudies, bool interactive);

// The signed-voxel step of a load: a real volume whose values are whole numbers becomes an integer
// volume (bias 0 when its minimum is 0 or more; otherwise, without a request, the bias the user
// accepts, offered as 1024 for CT in "HU", else minus the minimum; Cancel keeps it real). A bias
// that would clamp voxels at 0 is refused and asked again, except CT's 1024 (below -1024 HU is
// padding). The integer voxels have 16 bits when the values fit them, else 32. False when the
// conversion fails.
bool TW_DicomSignedToInteger(CVol* vol, bool askBias);

// GetSeriesInfo: the facts of a simple series, or of a composite series' first sub-series when all
// its sub-series are compatible ("Selected composite series contain incosistent attributes").
bool GetSeriesInfo(const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* series, VA_VOLINFO* facts);
// The simple series and sub-series of the series' study that are compatible with it (the series'
// own first), in tree order. False when the series' facts cannot be gathered.
bool TW_CollectCompatibleSeries(const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* series,
                                std::vector<VA_DICOMTREEITEM*>* compatible);

// TW_OpenSingleDicomFile: one file picked from folder is copied into the temporary folder
// "SingleDicomFileLoad" and its series opened through the tree dialog with a 3D-volume request; the
// new document or null.
CDrawDoc* TW_OpenSingleDicomFile(CString* folder);

// TW_LoadDicomFiles: mode 1 loads the file set of a folder's tree (the first item, or the checked
// ones on request); mode 2 a folder of NIfTI diffusion images as one 4D volume. Null on failure or
// cancel.
CVol* TW_LoadDicomFiles(int mode, const wchar_t* folder, bool showProgress);

// The node images of the DICOM tree: nine 16 x 16 pictures made at start-up, known by the resource
// numbers they had (385 closed folder, 384 open folder, 386 image, then the series pictures).
extern const int kDicomNodeImageResources[9];
// The image index of a resource number, or -1.
int TW_DicomNodeImageIndex(int resource);
