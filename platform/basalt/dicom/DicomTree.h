#pragma once
// The DICOM tree of the imaging core: the images of a folder (or of a list of files) grouped into
// patients, studies, series, sub-series and images. It is a plain data model: the DICOM browser
// shows it in a tree control, commands walk it to build file sets, and the volume loader asks it
// which images form one volume.
//
// Grouping: patients by patient ID and name; studies by study instance UID (or all studies of a
// patient in one item with "Combine Studies"); series by series instance UID (or, without "Use
// Series UID", by series number, description and modality). A series whose images differ in size,
// orientation or pixel spacing, or that holds derived images (DICOMREC::derivedKind: the scanner's
// trace, ADC or FA images, or an isotropic image among directional diffusion images), is composite:
// one sub-series per kind of image, acquired ones first. Every simple series
// and sub-series carries in its record the volume that its images form (depth, time points, echo
// times, b-values) or why they form none.
//
// Files that are not DICOM, or that are damaged (truncated, pixel data shorter than the image,
// unsupported pixel formats) are skipped and counted; DICOM objects without pixel data (DICOMDIR,
// reports) are passed over silently. Multi-frame files are split into single-frame files first:
// each frame takes the functional groups of the file (the standard macros over any private copy of
// their elements, per-frame over shared), and a dose grid's frames its planes (Grid Frame Offset
// Vector).

#include <cstdint>
#include <memory>
#include <vector>

#include "CString.h"
#include "DicomRec.h"
#include "TwkTypes.h"

enum VA_DICOMITEMKIND : int32_t {
  DCMITEM_PATIENT = 0,
  DCMITEM_STUDY = 1,
  DCMITEM_SERIES = 2,
  DCMITEM_SUBSERIES = 3,
  DCMITEM_IMAGE = 4,
};

struct VA_DICOMTREEITEM {
  VA_DICOMITEMKIND kind = DCMITEM_PATIENT;
  CString text;                    // patient and study items: the line shown for them
  int image = 0;                   // node image: 0 patient, 1 study, 2 series and images (the browser may change it)
  bool checked = false;            // the browser's check mark
  std::unique_ptr<DICOMREC> rec;   // series and sub-series: the series record; images: the image's record
  CString sourceFile;              // images split from a multi-frame file: that file
  VA_DICOMTREEITEM* parent = nullptr;
  std::vector<std::unique_ptr<VA_DICOMTREEITEM>> children;

  bool IsImage() const { return kind == DCMITEM_IMAGE; }
  bool IsSeries() const { return kind == DCMITEM_SERIES || kind == DCMITEM_SUBSERIES; }
  bool IsSubSeries() const { return kind == DCMITEM_SUBSERIES; }
  // A series (or sub-series) whose children are images.
  bool IsSimpleSeries() const { return IsSeries() && (children.empty() || children.front()->IsImage()); }
  // A series made of sub-series.
  bool IsCompositeSeries() const { return kind == DCMITEM_SERIES && !children.empty() && children.front()->IsSubSeries(); }
  int NumChildren() const { return int(children.size()); }
  VA_DICOMTREEITEM* Child(int i) const { return i >= 0 && i < NumChildren() ? children[size_t(i)].get() : nullptr; }
};

struct VA_DICOMTREE {
  std::vector<std::unique_ptr<VA_DICOMTREEITEM>> items;  // the patients, in order of their names
  CString folder;                // the folder read (empty for a list of files)
  int64_t imageCount = 0;        // image items in the tree
  int64_t skippedCount = 0;      // files skipped as not DICOM or damaged
  CString skippedReport;         // one line per skipped file: its path, " : " and the cause
  void Clear() {
    items.clear();
    folder.Empty();
    imageCount = skippedCount = 0;
    skippedReport.Empty();
  }
};

// Options of the folder builders. useSeriesUid is the browser's "Use Series UID" option.
struct VA_DICOMFOLDEROPTS {
  uint8_t useSeriesUid = 1;
};

// Builds the tree of a folder (files null) or of exactly the given files (folder ignored):
//   includeSubfolders  read the subfolders too (the browser passes true; a load request its flag);
//   options            null: series are told apart by their UID;
//   seriesFilter       null or empty: all series; else only series whose description contains it (any case);
//   combineStudies     all studies of a patient in one study item;
//   multiFrameFolder   where multi-frame files are split (null or empty: a folder under the system's
//                      temporary folder);
//   records, recordCount  when given: a new array of copies of the image records in tree order
//                      (free it with TW_FreeDicomRecArray);
//   skippedCount, skippedReport  when given: the files skipped and why;
//   interactive        shows progress (Esc stops the reading), reports the skipped files once and
//                      reports a folder without DICOM images.
// False when the folder cannot be read, no DICOM image is found or the user stops; the tree is
// cleared first and keeps what was built.
bool VA_FolderFullDicomTree(bool includeSubfolders, const VA_DICOMFOLDEROPTS* options, const wchar_t* folder,
                            const wchar_t* seriesFilter, bool combineStudies, const wchar_t* multiFrameFolder,
                            VA_DICOMTREE* tree, const wchar_t* const* files, int fileCount, DICOMREC*** records,
                            int* recordCount, int64_t* skippedCount, CString* skippedReport, bool interactive);
// The plain builder of the "Open selected SERIES" browser: the same tree; with imageItems 0 the series
// items carry no image items (their records still count their images). useSeriesUid as the option.
bool VA_FolderGetDicomTreeAndRecArr(int imageItems, bool includeSubfolders, int useSeriesUid,
                                    const wchar_t* const* files, int fileCount, const wchar_t* folder,
                                    const wchar_t* seriesFilter, bool combineStudies, const wchar_t* multiFrameFolder,
                                    VA_DICOMTREE* tree, DICOMREC*** records, int* recordCount, int64_t* skippedCount,
                                    CString* skippedReport, bool interactive);

// The image items under an item (the item itself when it is an image), in tree order.
bool VA_EnumerateTreeImageItems(const VA_DICOMTREEITEM* item, std::vector<VA_DICOMTREEITEM*>* images);
// Every image item that is checked or has a checked ancestor, in tree order.
bool VA_EnumerateTreeImageItemsWithCheckedAncestors(const VA_DICOMTREE* tree, std::vector<VA_DICOMTREEITEM*>* images);
// Every simple series and sub-series under an item (the item itself when it is one), in tree order.
bool VA_EnumerateSimpleSeries(const VA_DICOMTREEITEM* item, std::vector<VA_DICOMTREEITEM*>* series);
// Every simple series and sub-series of the tree, in tree order.
bool VA_EnumerateAllSimpleSeries(const VA_DICOMTREE* tree, std::vector<VA_DICOMTREEITEM*>* series);

// Load-request kinds of the browser.
enum : int32_t { DCMLOAD_IMAGE = 0, DCMLOAD_3D = 1, DCMLOAD_4D = 2, DCMLOAD_STUDY = 3 };
// The item of the kind that holds the file: 0 the image, 1 its simple series or sub-series, 2 its
// series, 3 its study. A path naming a folder (ending with a separator) finds the folder's first
// image; a multi-frame file finds its first frame. Null when not found.
VA_DICOMTREEITEM* VA_FindItemByLeafName(const VA_DICOMTREE* tree, const wchar_t* path, int kind);

// The browser's columns of a simple series or sub-series (parentSeries: the composite series of a
// sub-series, else null): "WxHxDxN" (width, height, slices, time points; "WxH, n images" when the
// images form no volume; ", mosaic of N slices" follows for mosaic images), the echo time(s) in ms, the acquisition time and the b-value(s).
bool VA_GetSimpleSeriesInfoLine(bool isSubSeries, const DICOMREC* parentSeries, const DICOMREC* series,
                                int imageCount, CString* dimensions, CString* echo, CString* time, CString* bvalues);
// Appends one sub-series of a composite series to the dimension column: "WxHxN" (", " between them).
void VA_GetCompositeSeriesInfoLine(int width, int height, int images, int times, CString* line);

// The facts of a volume for compatibility tests ("Show Compatible Volumes").
struct VA_VOLINFO {
  int32_t width = 0, height = 0, depth = 0, times = 1;
  double pixelSpacing[2] = {VOID_VALUE, VOID_VALUE};
  double sliceThickness = VOID_VALUE;
  double orientation[6] = {1, 0, 0, 0, 1, 0};
  CString modality;
};
// The facts of a simple series or sub-series (times set to 1). False for other items.
bool VA_GetVolInfo(const VA_DICOMTREEITEM* series, VA_VOLINFO* info);
// Equal width, height and depth, pixel spacing within 0.01 mm and orientation within 1e-4.
bool VA_IsCompatibleVolInfo(const VA_VOLINFO* a, const VA_VOLINFO* b);
