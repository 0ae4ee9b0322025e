#pragma once
// The volume information dialog ("Volume Info", CDlgVolInfo): the DICOM header of one slice of a
// volume layer, or of one DICOM file, shown as its element tree, as the value of the selected
// element and as a table that either summarises the acquisition or lists every element with its tag.
// VolInfo is the dialog's state and commands, headless; the Qt dialog is a thin view over it. The
// summary table is also what the DICOM tree browser shows for the image under its cursor
// (TW_FillDicomSummary).

#include <cstdint>
#include <functional>
#include <vector>

#include "CString.h"

class CDrawSet;
class CDrawView;
class CVol;
struct DCMFF;
struct DCMNODE;

// The rows of a column tree: each row its column texts.
struct DicomInfoTable {
  std::vector<CString> columns;
  std::vector<std::vector<CString>> rows;

  void Clear() {
    columns.clear();
    rows.clear();
  }
  void AddRow(std::vector<CString> fields) { rows.push_back(std::move(fields)); }
  // Sorts the rows by one column, case-sensitive; a column outside the table does nothing.
  void SortByColumn(int column, bool ascending);
  // "Copy Info": every field followed by " \t", every row ended by "\n".
  CString Text() const;
  // The value of the first row named name (column 0), empty when none.
  CString Value(const wchar_t* name) const;
};

// A click on a column header of such a table: with fullInfo columns 0 and 1 sort, without it only
// column 0; each accepted click sorts in the direction *ascending holds, then flips it. True when
// the table was sorted.
bool TW_SortInfoTable(DicomInfoTable* table, bool fullInfo, int column, bool* ascending);

// Widths of the tables' columns in a client area of the given width: with fullInfo "Tag" 80,
// "Name" w / 3 and "Value" 10 w, else "Name" and "Value" (w = client width + 1).
std::vector<int> TW_DicomInfoColumnWidths(bool fullInfo, int clientWidth);

// TW_FillDicomSummary: the table of a header's element tree. Full info: every element (sequence
// items and their elements below, named "Sequence>..."), columns "Tag", "Name", "Value". Summary:
// columns "Name", "Value", rows in a fixed order (name, file, patient, geometry, bits, times,
// modality rows of MR, CT and PT, memory and time points of a volume); elements absent from the
// header leave their rows out. vol or path names what the rows describe; vol adds the volume's
// rows. header (null: read from path when one is given) gives the diffusion b-value. False when the
// summary stops early (no bits allocated or stored) or the tree is null.
bool TW_FillDicomSummary(bool fullInfo, const DCMNODE* root, const CVol* vol, const wchar_t* path,
                         DicomInfoTable* table, const DCMFF* header = nullptr);
// The same for a file: its header is read and its element tree built; false when either fails.
bool TW_FillDicomSummaryFromFile(bool fullInfo, const wchar_t* path, DicomInfoTable* table);

class VolInfo {
 public:
  // A volume's slice (time index forced to 0 for a 3D volume or a negative index).
  VolInfo(const CVol* vol, int timeIndex, int sliceIndex);
  // A DICOM file.
  explicit VolInfo(const wchar_t* path);
  ~VolInfo();
  VolInfo(const VolInfo&) = delete;
  VolInfo& operator=(const VolInfo&) = delete;

  // Reads the header and builds the element tree and the table; false when the dialog is to close
  // at once (neither or both of volume and path, no header, no element tree).
  bool OnInitDialog();

  // "Full DICOM Info for Time index = %u, Slice index #%u", or "Full DICOM info for the selected item".
  CString Title() const;
  const DCMNODE* Root() const { return root_; }
  // The record whose header is shown: depth x time index + slice, the last record when that lies
  // beyond the volume's records (an ROI keeps one).
  int64_t HeaderIndex() const { return headerIndex_; }
  int TimeIndex() const { return timeIndex_; }
  int SliceIndex() const { return sliceIndex_; }

  bool FullInfo() const { return fullInfo_; }
  // "Full info": rebuilds the table in the other mode.
  void SetFullInfo(bool on);
  const DicomInfoTable& Table() const { return table_; }
  // A column header click: with Full info columns 0 and 1 sort, without it only column 0; each
  // accepted click flips the direction (ascending first). True when the table was sorted.
  bool OnColumnClick(int column);
  // The element's value text (all its values), empty for a node without one.
  static CString ValueText(const DCMNODE* node);
  // "Copy Info": the table's text in the text viewer.
  bool OnCopyInfo() const;

 private:
  void fillTable();

  const CVol* vol_ = nullptr;
  CString path_;
  int timeIndex_ = 0;
  int sliceIndex_ = 0;
  int64_t headerIndex_ = -1;
  DCMFF* header_ = nullptr;
  DCMNODE* root_ = nullptr;
  bool fullInfo_ = false;
  bool ascending_ = true;
  DicomInfoTable table_;
};

// The dialog's window: runs it modally over the state; false when it closed at once (its opening
// failed). The default (headless) view only runs the opening.
using TW_VOLINFOVIEW = std::function<bool(VolInfo* info)>;
void TW_SetVolInfoView(TW_VOLINFOVIEW view);

// TW_DlgVolInfo: the dialog on a volume's slice; false when it cannot open.
bool TW_DlgVolInfo(int timeIndex, int sliceIndex, const CVol* vol);
// The dialog on a DICOM file.
bool TW_DlgVolInfoFile(const wchar_t* path);
// The slice and time index that ShowInfoDialog passes for the view: its slice when the view shows a
// plain slice outside film view (else 0), its time index when the layer has more than one time
// point (else 0).
void TW_InfoDialogIndices(const CDrawSet* set, const CDrawView* view, int* timeIndex, int* sliceIndex);

namespace twk::files {

// The dialog on the set's active layer at the view's slice and time point; false when it cannot open.
bool ShowInfoDialog(CDrawSet& set, CDrawView* view);

}  // namespace twk::files
