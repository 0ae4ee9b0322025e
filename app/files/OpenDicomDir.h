#pragma once
// The DICOM tree browser ("DICOM Tree", CDlgOpenDicomDir): the DICOM files of a folder as a tree of
// patients, studies, series, sub-series and images with one line of acquisition facts per series,
// the header tags and a preview of the image under the cursor, check marks, rewriting echo time or
// b-value in the files, copying, deleting and comparing files, and loading the chosen items as a
// volume into a new document or a layer set.
//
// OpenDicomDir is the dialog's state and every command on it, headless: the tree is the imaging
// core's VA_DICOMTREE (its items carry the check marks and node images the tree control shows), the
// columns are texts kept per item, the tag tree a DicomInfoTable and the preview an array of values.
// The Qt dialog is a thin view that shows this state and forwards the user's clicks; it learns of
// changes through the notification callback. Every question and message goes through twk::ui().
//
// Tree rows: six tab-separated fields "Description", "Series", "Dimension WxHxDxN", "Time (s)",
// "Echo time (ms)", "b-value (s/mm^2)". Node images (fullTree only): 0 patient, 1 study, 2 series
// and images as the builder sets them, then for series 3 (simple, one image), 5 (simple, several),
// 4 or 6 (composite whose sub-series hold one image each, or more), 7 or 8 (the same for composite
// series whose images carry image comments).

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "CString.h"
#include "DicomLoad.h"
#include "VolInfo.h"
#include "dicom/DicomTree.h"

class CDrawDoc;
class CDrawSet;

// The process-wide "Use Series UID" option (1 at start).
uint8_t& TW_UseSeriesUidOption();

// Widths of the six study-tree columns in a client area of the given width (w = width + 1):
// 0.45 w, 0.06 w, 0.15 w, 0.10 w, 0.10 w and the rest, each rounded to the nearest pixel.
std::vector<int> TW_DicomTreeColumnWidths(int clientWidth);

class OpenDicomDir {
 public:
  // What changed, for the view.
  enum Change : unsigned {
    kTreeRebuilt = 1,   // every item is new (rows, checks, images, expansion)
    kRowsChanged = 2,   // texts, check marks or images of existing items
    kTagsChanged = 4,   // tag table and preview
    kFolderChanged = 8,
    kSelectionChanged = 16,
    kOptionsChanged = 32,  // check boxes and filter text
  };

  // folder: the folder shown; callerFolder (may be null) receives it after a successful load.
  // target: the layer set that loads go into (null: a new document per load).
  OpenDicomDir(const CString& folder, CString* callerFolder, CDrawSet* target, bool keepOpen, bool fullTree,
               const DICOMLOADREQ* request, bool combineStudies, bool interactive);
  ~OpenDicomDir();
  OpenDicomDir(const OpenDicomDir&) = delete;
  OpenDicomDir& operator=(const OpenDicomDir&) = delete;

  void SetNotify(std::function<void(unsigned changes)> notify) { notify_ = std::move(notify); }

  // The dialog's opening: builds the tree; with a load request finds the item of the request and
  // loads it, then the dialog ends. False when the tree could not be built.
  bool OnInitDialog();

  // --- state the view shows ---
  const CString& Folder() const { return folder_; }
  const VA_DICOMTREE& Tree() const { return tree_; }
  VA_DICOMTREE& Tree() { return tree_; }
  // The tab-separated text of a row.
  CString RowText(const VA_DICOMTREEITEM* item) const;
  bool IsExpanded(const VA_DICOMTREEITEM* item) const { return expanded_.count(item) != 0; }
  void SetExpanded(const VA_DICOMTREEITEM* item, bool expanded);
  VA_DICOMTREEITEM* Highlighted() const { return highlighted_; }
  bool FullTree() const { return fullTree_; }
  bool FullInfo() const { return fullInfo_; }
  bool UseSeriesUid() const { return useSeriesUid_; }
  bool CombineStudies() const { return combineStudies_; }
  const CString& SeriesFilter() const { return seriesFilter_; }
  bool LoadEnabled() const { return loadEnabled_; }
  bool Interactive() const { return interactive_; }
  const DICOMLOADREQ* Request() const { return request_; }
  const DicomInfoTable& Tags() const { return tags_; }
  // The preview's values (width x height, row by row), empty when the image could not be decoded.
  const std::vector<double>& PreviewValues() const { return preview_; }
  int PreviewWidth() const { return previewWidth_; }
  int PreviewHeight() const { return previewHeight_; }
  // The image whose tags and preview are shown (null when none).
  const VA_DICOMTREEITEM* ShownImage() const { return shownImage_; }
  // The records the tree builder returned.
  int RecordCount() const { return recordCount_; }

  // The dialog ended (IDOK or IDCANCEL; 0 while it runs) and the document of its last load.
  int Result() const { return result_; }
  CDrawDoc* NewDocument() const { return newDocument_; }

  // --- the user's actions ---
  // A new selection (Ctrl without Shift toggles the check mark, Shift without Ctrl checks it).
  void OnSelect(VA_DICOMTREEITEM* item, bool ctrl, bool shift);
  // A click on the label of an item (the Ctrl/Shift rule for the already highlighted item).
  void OnClickLabel(VA_DICOMTREEITEM* item, bool ctrl, bool shift);
  // The check box of an item.
  void SetChecked(VA_DICOMTREEITEM* item, bool checked);
  void SetFullInfo(bool on);
  void SetUseSeriesUid(bool on);
  void SetCombineStudies(bool on);
  void SetSeriesFilter(const CString& text) { seriesFilter_ = text; }
  // A click on a column header of the tag tree.
  void OnTagHeaderClick(int column);

  // The buttons.
  void OnBrowse();
  void OnRefresh();
  bool OnLoad();
  bool OnCopy();
  bool OnDelete();
  bool OnShowCompatibleVolumes();
  void OnCheckSubtree();
  void OnCheckUncheckAll();
  void OnCheckRange();
  bool OnCompare();
  bool OnSetBvalue();
  bool OnSetTE();
  bool OnCopyInfo();
  // Closing without a load (the window's close or Esc).
  void OnCancel();

  // Loads the highlighted item (the "Load" button passes no request and interactive true).
  bool LoadItem(const DICOMLOADREQ* request, bool interactive);
  // Builds the tree again from the folder (or the file list of "Show Compatible Volumes").
  bool BuildTree();

  // The remembered bounds of "Check Range" (process-wide).
  static int& RangeStart();
  static int& RangeEnd();

 private:
  void changed(unsigned what) const {
    if (notify_) notify_(what);
  }
  void freeRecords();
  void fillColumns(VA_DICOMTREEITEM* item);
  void setRow(const VA_DICOMTREEITEM* item, std::vector<CString> fields);
  void setRowField(const VA_DICOMTREEITEM* item, int column, const CString& text);
  void expandSingles();
  void showItem(const VA_DICOMTREEITEM* item);
  void clearShown();
  void checkRule(VA_DICOMTREEITEM* item, bool ctrl, bool shift);
  // The highlighted item when it is an image or a series with files (else its message, null).
  VA_DICOMTREEITEM* itemToRewrite(const wchar_t* function);
  bool rewriteFiles(bool echoTime, double value, const wchar_t* function);
  void end(int result);

  CString folder_;
  CString* callerFolder_ = nullptr;
  CDrawSet* target_ = nullptr;
  bool keepOpen_ = false;
  bool fullTree_ = true;
  const DICOMLOADREQ* request_ = nullptr;
  bool interactive_ = true;
  bool fullInfo_ = false;
  bool useSeriesUid_ = true;
  bool combineStudies_ = false;
  CString seriesFilter_;
  bool loadEnabled_ = false;
  bool checkToggle_ = true;    // "Check\Uncheck All" checks next
  bool tagAscending_ = true;

  VA_DICOMTREE tree_;
  std::vector<CString> fileList_;  // "Show Compatible Volumes": the tree is built from these files
  DICOMREC** records_ = nullptr;
  int recordCount_ = 0;
  std::unordered_map<const VA_DICOMTREEITEM*, std::vector<CString>> rows_;
  std::unordered_set<const VA_DICOMTREEITEM*> expanded_;
  VA_DICOMTREEITEM* highlighted_ = nullptr;
  const VA_DICOMTREEITEM* shownImage_ = nullptr;
  DicomInfoTable tags_;
  std::vector<double> preview_;
  int previewWidth_ = 0, previewHeight_ = 0;

  int result_ = 0;
  CDrawDoc* newDocument_ = nullptr;
  std::function<void(unsigned)> notify_;
};

// The dialog's window: runs it modally over the state and returns IDOK or IDCANCEL. The default
// (headless) view runs the opening only (a load request's load, or the tree build) and returns the
// result it ended with, else IDCANCEL.
using TW_OPENDICOMDIRVIEW = std::function<int(OpenDicomDir* browser)>;
void TW_SetOpenDicomDirView(TW_OPENDICOMDIRVIEW view);
int TW_RunOpenDicomDir(OpenDicomDir* browser);

// TW_DlgOpenDicomDir: without a request asks for the folder (starting at *folder, which receives the
// choice; cancel: null), runs the dialog and returns the document of its last load when it ended
// with OK (null when the loads went into the target set).
CDrawDoc* TW_DlgOpenDicomDir(CString* folder, CDrawSet* target, bool keepOpen, bool fullTree,
                             const DICOMLOADREQ* request, bool interactive);
