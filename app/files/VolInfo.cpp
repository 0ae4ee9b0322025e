// The volume information dialog's state and the DICOM summary table.
#include "VolInfo.h"

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "DicomRec.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomRecords.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace {

TW_VOLINFOVIEW g_view;

// The first value of the element as text; false when the header has no such element.
bool elementValue(const DCMNODE* root, uint32_t tag, CString* value) {
  const DCMNODE* node = TWKDCM_FindDCMNODE(root, tag);
  if (!node) return false;
  wchar_t* text = TWKDCM_GetFirstConvertVal(node);
  *value = text ? CString(text) : CString();
  pf_free(&text);
  return true;
}

class SummaryRows {
 public:
  SummaryRows(const DCMNODE* root, DicomInfoTable* table) : root_(root), table_(table) {}
  void add(const wchar_t* name, const CString& value) { table_->AddRow({name, value}); }
  // An element row, left out when the element is absent.
  void element(const wchar_t* name, uint32_t tag) {
    CString value;
    if (elementValue(root_, tag, &value)) add(name, value);
  }
  bool has(uint32_t tag, CString* value) const { return elementValue(root_, tag, value); }

 private:
  const DCMNODE* root_;
  DicomInfoTable* table_;
};

void fullInfoRows(const DCMNODE* node, int depth, DicomInfoTable* table) {
  for (uint32_t i = 0; i < node->numChildren; ++i) {
    const DCMNODE* child = node->children[i];
    if (!child) continue;
    const CString text = child->text ? child->text : L"";
    const int length = text.GetLength();
    CString name = length > 12 ? text.Left(length - 12) : CString();
    if (depth > 0) name = L"Sequence>" + name;
    wchar_t* value = TWKDCM_GetFirstConvertVal(child);
    table->AddRow({length >= 9 ? text.Right(9) : text, name, value ? CString(value) : CString()});
    pf_free(&value);
    fullInfoRows(child, depth + 1, table);
  }
}

void rescaleRows(SummaryRows& rows) {
  rows.element(L"Pixel Representation", TWKDCM_TAG(0x0028, 0x0103));
  rows.element(L"Rescale Intercept", TWKDCM_TAG(0x0028, 0x1052));
  rows.element(L"Rescale Slope", TWKDCM_TAG(0x0028, 0x1053));
  rows.element(L"Rescale Type", TWKDCM_TAG(0x0028, 0x1054));
}

void modalityRows(SummaryRows& rows, const CString& modality, const DCMFF* header) {
  if (modality == L"MR") {
    rows.element(L"Series Description", TWKDCM_TAG(0x0008, 0x103E));
    rows.element(L"Sequence Name", TWKDCM_TAG(0x0018, 0x0024));
    rows.element(L"Repetition Time (TR, ms)", TWKDCM_TAG(0x0018, 0x0080));
    rows.element(L"Echo Number", TWKDCM_TAG(0x0018, 0x0086));
    rows.element(L"Echo Time (TE, ms)", TWKDCM_TAG(0x0018, 0x0081));
    rows.element(L"Effective Echo Time (TE, ms)", TWKDCM_TAG(0x0018, 0x9082));
    rows.element(L"Inversion Time (TI, ms)", TWKDCM_TAG(0x0018, 0x0082));
    rows.element(L"Inversion Times (TI, ms)", TWKDCM_TAG(0x0018, 0x9079));
    double bvalue = 0;
    if (header && TWKDCM_GetDiffusionBvalue(header, &bvalue)) rows.add(L"Diffusion B-value", FmtStr(L"%6.1lf", bvalue));
    rows.element(L"Flip Angle", TWKDCM_TAG(0x0018, 0x1314));
    rows.element(L"Phase Encoding Direction", TWKDCM_TAG(0x0018, 0x1312));
    rescaleRows(rows);
  } else if (modality == L"CT") {
    rows.element(L"KVP", TWKDCM_TAG(0x0018, 0x0060));
    rows.element(L"Exposure Time (ms)", TWKDCM_TAG(0x0018, 0x1150));
    rows.element(L"X-Ray Tube Current", TWKDCM_TAG(0x0018, 0x1151));
    rows.element(L"Convolution Kernel", TWKDCM_TAG(0x0018, 0x1210));
    rescaleRows(rows);
  } else if (modality == L"PT") {
    rescaleRows(rows);
    rows.element(L"Frame Reference Time", TWKDCM_TAG(0x0054, 0x1300));
    rows.element(L"Actual Frame duration", TWKDCM_TAG(0x0018, 0x1242));
  }
}

void volumeRows(SummaryRows& rows, const CVol* vol) {
  const uint64_t memory = PR_FrameMemSize(vol->frame);
  rows.add(L"Used memory", FmtStr(L"%I64u bytes", static_cast<unsigned long long>(memory)));
  const double bits = vol->IsReal() ? 64.0 : double(std::min(16, vol->Bpv()));
  const double voxels = double(vol->W()) * vol->H() * vol->D() * vol->T();
  if (memory > 0) rows.add(L"Lossless memory compression", FmtStr(L"%8.3lf", (voxels * bits + 7) * 0.125 / double(memory)));
  if (vol->T() < 2) return;
  CString name, unit;
  double* values = nullptr;
  if (!vol->GetDynamicDimension(&name, &unit, &values) || !values) return;
  rows.add(L"____________________________", L"______________________________");
  rows.add(name, unit);
  double base = 0;
  if (name == L"Time") {
    base = values[0];
    rows.add(L"Base time", FmtStr(L"%e", base));
  }
  for (int t = 0; t < vol->T(); ++t) rows.add(FmtStr(L"%u", unsigned(t + 1)), FmtStr(L"%e", values[t] - base));
  pf_free(&values);
}

}  // namespace

void DicomInfoTable::SortByColumn(int column, bool ascending) {
  if (column < 0 || column >= int(columns.size())) return;
  auto field = [column](const std::vector<CString>& row) { return size_t(column) < row.size() ? row[size_t(column)] : CString(); };
  std::stable_sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) {
    const int c = field(a).Compare(field(b));
    return ascending ? c < 0 : c > 0;
  });
}

CString DicomInfoTable::Text() const {
  CString text;
  for (const auto& row : rows) {
    for (size_t i = 0; i < columns.size(); ++i) text += (i < row.size() ? row[i] : CString()) + L" \t";
    text += L"\n";
  }
  return text;
}

CString DicomInfoTable::Value(const wchar_t* name) const {
  for (const auto& row : rows)
    if (row.size() > 1 && row[0] == name) return row[1];
  return CString();
}

bool TW_SortInfoTable(DicomInfoTable* table, bool fullInfo, int column, bool* ascending) {
  if (!table || !ascending || column < 0 || column > (fullInfo ? 1 : 0)) return false;
  table->SortByColumn(column, *ascending);
  *ascending = !*ascending;
  return true;
}

std::vector<int> TW_DicomInfoColumnWidths(bool fullInfo, int clientWidth) {
  const int w = clientWidth + 1;
  if (fullInfo) return {80, w / 3, 10 * w};
  return {w / 3, 10 * w};
}

bool TW_FillDicomSummary(bool fullInfo, const DCMNODE* root, const CVol* vol, const wchar_t* path,
                         DicomInfoTable* table, const DCMFF* header) {
  if (!table) return false;
  table->Clear();
  table->columns = fullInfo ? std::vector<CString>{L"Tag", L"Name", L"Value"} : std::vector<CString>{L"Name", L"Value"};
  if (!root) return false;
  if (fullInfo) {
    fullInfoRows(root, 0, table);
    return true;
  }
  const CString file = path ? path : L"";
  DCMFF* ownHeader = nullptr;
  if (!header && !file.IsEmpty()) header = ownHeader = TWKDCM_LoadDcmFF(file);
  SummaryRows rows(root, table);
  rows.add(L"Name", vol ? vol->name : file);
  const int64_t fileSize = file.IsEmpty() ? -1 : PR_FileSize(file);
  int64_t pixelSize = 0;
  CString syntax;
  if (fileSize >= 0 && TWKDCM_GetPixelDataInfo(file, &pixelSize, &syntax)) {
    rows.add(L"Transfer Syntax", syntax);
    rows.add(L"File\\Pixel data size", FmtStr(L"%I64d\\%I64d bytes", static_cast<long long>(fileSize),
                                              static_cast<long long>(pixelSize)));
  } else if (fileSize >= 0) {
    rows.add(L"File size", FmtStr(L"%I64d bytes", static_cast<long long>(fileSize)));
  }
  CString modality;
  rows.has(TWKDCM_TAG(0x0008, 0x0060), &modality);
  rows.element(L"Modality", TWKDCM_TAG(0x0008, 0x0060));
  rows.element(L"Study Date", TWKDCM_TAG(0x0008, 0x0020));
  CString manufacturer, model;
  if (rows.has(TWKDCM_TAG(0x0008, 0x0070), &manufacturer) && rows.has(TWKDCM_TAG(0x0008, 0x1090), &model))
    rows.add(L"Manufacturer\\Model", manufacturer + L"\\" + model);
  rows.element(L"Patient's Name", TWKDCM_TAG(0x0010, 0x0010));
  rows.element(L"Patient's Sex", TWKDCM_TAG(0x0010, 0x0040));
  rows.element(L"Patient's Age", TWKDCM_TAG(0x0010, 0x1010));
  rows.element(L"Protocol Name", TWKDCM_TAG(0x0018, 0x1030));
  rows.element(L"Rows", TWKDCM_TAG(0x0028, 0x0010));
  rows.element(L"Columns", TWKDCM_TAG(0x0028, 0x0011));
  rows.element(L"Series Number", TWKDCM_TAG(0x0020, 0x0011));
  rows.element(L"Series UID", TWKDCM_TAG(0x0020, 0x000E));
  rows.element(L"Instance Number", TWKDCM_TAG(0x0020, 0x0013));
  rows.element(L"Slice Location", TWKDCM_TAG(0x0020, 0x1041));
  if (vol) {
    rows.add(L"Number Of Slices", FmtStr(L"%u", unsigned(vol->D())));
    rows.add(L"Number Of Time points", FmtStr(L"%u", unsigned(vol->T())));
    rows.add(L"Voxel size (X,Y,Z mm)", FmtStr(L"%3.4lf, %3.4lf, %3.4lf", vol->Vx(), vol->Vy(), vol->Vz()));
  } else {
    rows.element(L"Pixel Spacing (X,Y mm)", TWKDCM_TAG(0x0028, 0x0030));
    rows.element(L"Spacing Between Slices (mm)", TWKDCM_TAG(0x0018, 0x0088));
    rows.element(L"Slice Thickness", TWKDCM_TAG(0x0018, 0x0050));
  }
  const bool complete = [&] {
    CString allocated, stored;
    if (!rows.has(TWKDCM_TAG(0x0028, 0x0100), &allocated) || !rows.has(TWKDCM_TAG(0x0028, 0x0101), &stored))
      return false;
    rows.add(L"Bits Per Voxel Allocated\\Stored", allocated + L"\\" + stored);
    CString samples, used;
    const bool hasSamples = rows.has(TWKDCM_TAG(0x0028, 0x0002), &samples);
    const bool hasUsed = rows.has(TWKDCM_TAG(0x0028, 0x0003), &used);
    if (hasSamples || hasUsed)
      rows.add(L"Samples Per Voxel Allocated\\Stored",
               (hasSamples ? samples : CString(L"undef")) + L"\\" + (hasUsed ? used : CString(L"undef")));
    rows.element(L"Orientation", TWKDCM_TAG(0x0020, 0x0037));
    rows.element(L"Series time", TWKDCM_TAG(0x0008, 0x0031));
    rows.element(L"Instance creation time", TWKDCM_TAG(0x0008, 0x0013));
    rows.element(L"Content time", TWKDCM_TAG(0x0008, 0x0033));
    rows.element(L"Acquisition time", TWKDCM_TAG(0x0008, 0x0032));
    rows.element(L"Series date", TWKDCM_TAG(0x0008, 0x0021));
    rows.element(L"Instance creation date", TWKDCM_TAG(0x0008, 0x0012));
    rows.element(L"Content date", TWKDCM_TAG(0x0008, 0x0023));
    rows.element(L"Acquisition date", TWKDCM_TAG(0x0008, 0x0022));
    modalityRows(rows, modality, header);
    if (vol) volumeRows(rows, vol);
    else rows.element(L"Lossy compression", TWKDCM_TAG(0x0028, 0x2110));
    return true;
  }();
  TWKDCM_DeleteFF(&ownHeader);
  return complete;
}

bool TW_FillDicomSummaryFromFile(bool fullInfo, const wchar_t* path, DicomInfoTable* table) {
  DCMFF* header = TWKDCM_LoadDcmFF(path);
  if (!header) return false;
  DCMNODE* root = TWKDCM_CreateDCMNODE(header);
  const bool ok = root && TW_FillDicomSummary(fullInfo, root, nullptr, path, table, header);
  TWKDCM_DeleteDCMNODE(&root);
  TWKDCM_DeleteFF(&header);
  return ok;
}

VolInfo::VolInfo(const CVol* vol, int timeIndex, int sliceIndex) : vol_(vol), timeIndex_(timeIndex), sliceIndex_(sliceIndex) {
  if (!vol_ || !vol_->frame || vol_->T() < 2 || timeIndex_ < 0) timeIndex_ = 0;
}

VolInfo::VolInfo(const wchar_t* path) : path_(path ? path : L""), timeIndex_(-1), sliceIndex_(-1) {}

VolInfo::~VolInfo() {
  TWKDCM_DeleteDCMNODE(&root_);
  TWKDCM_DeleteFF(&header_);
}

bool VolInfo::OnInitDialog() {
  if ((vol_ != nullptr) == !path_.IsEmpty()) return false;
  if (vol_) {
    if (!vol_->frame || !vol_->dicom || vol_->numDicom < 1) return false;
    const int64_t wanted = int64_t(vol_->D()) * timeIndex_ + std::max(0, sliceIndex_);
    headerIndex_ = std::min(wanted, vol_->numDicom - 1);
    const DICOMREC* rec = vol_->dicom[headerIndex_];
    header_ = rec ? VA_DicomRecGetHeader(rec) : nullptr;
  } else {
    header_ = TWKDCM_LoadDcmFF(path_);
  }
  if (!header_) return false;
  root_ = TWKDCM_CreateDCMNODE(header_);
  if (!root_) return false;
  if (!vol_) TWKDCM_DeleteFF(&header_);
  fillTable();
  return true;
}

CString VolInfo::Title() const {
  if (timeIndex_ >= 0 && sliceIndex_ >= 0)
    return FmtStr(L"Full DICOM Info for Time index = %u, Slice index #%u", unsigned(timeIndex_), unsigned(sliceIndex_));
  return L"Full DICOM info for the selected item";
}

void VolInfo::fillTable() {
  // The summary's file rows describe the file of the header shown.
  CString file = path_;
  if (vol_ && headerIndex_ >= 0 && vol_->dicom[headerIndex_]) file = vol_->dicom[headerIndex_]->filePath;
  TW_FillDicomSummary(fullInfo_, root_, vol_, file, &table_, header_);
}

void VolInfo::SetFullInfo(bool on) {
  fullInfo_ = on;
  fillTable();
}

bool VolInfo::OnColumnClick(int column) { return TW_SortInfoTable(&table_, fullInfo_, column, &ascending_); }

CString VolInfo::ValueText(const DCMNODE* node) {
  wchar_t* text = TWKDCM_GetValueToString(node);
  const CString value = text ? CString(text) : CString();
  pf_free(&text);
  return value;
}

bool VolInfo::OnCopyInfo() const { return PR_NotepadExeOpenString(TW_Options().tempFolder, table_.Text()); }

void TW_SetVolInfoView(TW_VOLINFOVIEW view) { g_view = std::move(view); }

namespace {

bool runVolInfo(VolInfo& info) {
  return g_view ? g_view(&info) : info.OnInitDialog();
}

}  // namespace

bool TW_DlgVolInfo(int timeIndex, int sliceIndex, const CVol* vol) {
  VolInfo info(vol, timeIndex, sliceIndex);
  return runVolInfo(info);
}

bool TW_DlgVolInfoFile(const wchar_t* path) {
  VolInfo info(path);
  return runVolInfo(info);
}

void TW_InfoDialogIndices(const CDrawSet* set, const CDrawView* view, int* timeIndex, int* sliceIndex) {
  int t = 0, z = 0;
  const VA_VOLPROJ* proj = set && view ? set->FindViewProjection(view) : nullptr;
  const CVol* vol = set ? set->GetActiveVol() : nullptr;
  if (proj) {
    if (proj->projType == 0 && !proj->filmView) z = proj->slice;
    if (vol && vol->frame && vol->T() > 1) t = proj->timeIndex;
  }
  if (timeIndex) *timeIndex = t;
  if (sliceIndex) *sliceIndex = z;
}

namespace twk::files {

bool ShowInfoDialog(CDrawSet& set, CDrawView* view) {
  int t = 0, z = 0;
  TW_InfoDialogIndices(&set, view, &t, &z);
  return TW_DlgVolInfo(t, z, set.GetActiveVol());
}

}  // namespace twk::files
