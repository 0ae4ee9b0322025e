// The DICOM tree browser's state and commands.
#include "OpenDicomDir.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "AppOptions.h"
#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "DocMessages.h"
#include "DrawSet.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "Prompts.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dicom/DicomFolders.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"
#include "paths/FilePaths.h"

namespace {

TW_OPENDICOMDIRVIEW g_view;

constexpr const wchar_t* kDialog = L"CDlgOpenDicomDir";

void walk(VA_DICOMTREEITEM* item, const std::function<void(VA_DICOMTREEITEM*)>& visit) {
  visit(item);
  for (auto& child : item->children) walk(child.get(), visit);
}

void walkTree(VA_DICOMTREE& tree, const std::function<void(VA_DICOMTREEITEM*)>& visit) {
  for (auto& item : tree.items) walk(item.get(), visit);
}

int imageChildren(const VA_DICOMTREEITEM* item) {
  int n = 0;
  for (const auto& child : item->children) n += child->IsImage() ? 1 : 0;
  return n;
}

int placeAmongSiblings(const VA_DICOMTREEITEM* item) {
  if (!item->parent) return 0;
  for (int i = 0; i < item->parent->NumChildren(); ++i)
    if (item->parent->Child(i) == item) return i;
  return 0;
}

// The files a command on the set changes: a frame split from a multi-frame file stands for that
// file, which is changed once.
std::vector<CString> sourceFiles(const TW_DICOMFILESET& set, const VA_DICOMTREE& tree) {
  std::unordered_map<const DICOMREC*, CString> sources;
  for (const auto& p : tree.items)
    walk(p.get(), [&](VA_DICOMTREEITEM* i) {
      if (i->IsImage() && i->rec && !i->sourceFile.IsEmpty()) sources[i->rec.get()] = i->sourceFile;
    });
  std::vector<CString> files;
  std::set<std::wstring> seen;
  for (int i = 0; i < set.count; ++i) {
    auto it = sources.find(set.records[i]);
    const CString file = it != sources.end() ? it->second : CString(set.files[i]);
    if (seen.insert(file.wstr()).second) files.push_back(file);
  }
  return files;
}

// A file the user marked read-only (no write permission bit) is left alone, whoever runs the program.
bool writable(const CString& path) {
  std::error_code error;
  const auto mode = std::filesystem::status(twk::pathToNative(path), error).permissions();
  using std::filesystem::perms;
  return !error && (mode & (perms::owner_write | perms::group_write | perms::others_write)) != perms::none &&
         ::access(twk::pathToNative(path).c_str(), W_OK) == 0;
}

}  // namespace

uint8_t& TW_UseSeriesUidOption() {
  static uint8_t option = 1;
  return option;
}

std::vector<int> TW_DicomTreeColumnWidths(int clientWidth) {
  const double w = double(clientWidth) + 1.0;
  std::vector<int> widths;
  int used = 0;
  for (double share : {0.45, 0.06, 0.15, 0.10, 0.10}) {
    widths.push_back(int(std::floor(share * w + 0.5)));
    used += widths.back();
  }
  widths.push_back(std::max(0, int(w) - used));
  return widths;
}

int& OpenDicomDir::RangeStart() {
  static int start = 0;
  return start;
}

int& OpenDicomDir::RangeEnd() {
  static int end = 0;
  return end;
}

OpenDicomDir::OpenDicomDir(const CString& folder, CString* callerFolder, CDrawSet* target, bool keepOpen, bool fullTree,
                           const DICOMLOADREQ* request, bool combineStudies, bool interactive)
    : folder_(folder),
      callerFolder_(callerFolder),
      target_(target),
      keepOpen_(keepOpen),
      fullTree_(fullTree),
      request_(request),
      interactive_(interactive),
      useSeriesUid_(TW_UseSeriesUidOption() != 0),
      combineStudies_(combineStudies) {}

OpenDicomDir::~OpenDicomDir() { freeRecords(); }

void OpenDicomDir::freeRecords() { TW_FreeDicomRecArray(&records_, recordCount_); recordCount_ = 0; }

bool OpenDicomDir::OnInitDialog() {
  loadEnabled_ = false;
  const bool built = BuildTree();
  loadEnabled_ = built;
  if (!request_) return built;
  bool loaded = false;
  if (built) {
    CString path;
    VA_DICOMTREEITEM* item = nullptr;
    if (TW_DicomLoadRequestPath(request_, &path)) item = VA_FindItemByLeafName(&tree_, path, request_->kind);
    if (item) {
      highlighted_ = item;
      loaded = LoadItem(request_, interactive_);
    } else {
      twk::doc::message(L"CDlgOpenDicomDir::OnInitDialog",
                        FmtStr(L"Unable to find %s corresponding to file %s", TW_DicomLoadKindName(request_->kind),
                               path.GetString()));
    }
  }
  // A request is served once, whatever came of it.
  if (!result_) end(loaded ? IDOK : IDCANCEL);
  return built;
}

void OpenDicomDir::end(int result) {
  result_ = result;
  changed(0);
}

void OpenDicomDir::OnCancel() { end(IDCANCEL); }

bool OpenDicomDir::BuildTree() {
  highlighted_ = nullptr;
  clearShown();
  rows_.clear();
  expanded_.clear();
  freeRecords();
  // The view lets go of the old items before they go.
  tree_.Clear();
  changed(kTreeRebuilt | kTagsChanged);
  const CString multiFrame = PR_JoinPath(TW_Options().tempFolder, L"MultifrmDir");
  std::error_code error;
  std::filesystem::create_directories(twk::pathToNative(multiFrame), error);
  const bool flag = request_ ? request_->flag != 0 : true;
  bool ok = false;
  if (fullTree_) {
    VA_DICOMFOLDEROPTS options;
    options.useSeriesUid = useSeriesUid_ ? 1 : 0;
    std::vector<const wchar_t*> files;
    for (const CString& f : fileList_) files.push_back(f.GetString());
    ok = VA_FolderFullDicomTree(flag, &options, folder_, seriesFilter_, combineStudies_, multiFrame, &tree_,
                                files.empty() ? nullptr : files.data(), int(files.size()), &records_, &recordCount_,
                                nullptr, nullptr, interactive_);
  } else {
    ok = VA_FolderGetDicomTreeAndRecArr(1, flag, 1, nullptr, 0, folder_, nullptr, combineStudies_, multiFrame, &tree_,
                                        &records_, &recordCount_, nullptr, nullptr, interactive_);
  }
  if (ok) {
    for (auto& patient : tree_.items) {
      setRow(patient.get(), {patient->text});
      fillColumns(patient.get());
    }
    expandSingles();
    if (interactive_ && !tree_.items.empty()) OnSelect(tree_.items.front().get(), false, false);
  }
  changed(kTreeRebuilt | kFolderChanged | kTagsChanged | kSelectionChanged);
  return ok;
}

void OpenDicomDir::setRow(const VA_DICOMTREEITEM* item, std::vector<CString> fields) {
  fields.resize(6);  // every row has the six columns, empty ones included
  rows_[item] = std::move(fields);
}

void OpenDicomDir::setRowField(const VA_DICOMTREEITEM* item, int column, const CString& text) {
  std::vector<CString>& fields = rows_[item];
  if (int(fields.size()) <= column) fields.resize(size_t(column) + 1);
  fields[size_t(column)] = text;
}

CString OpenDicomDir::RowText(const VA_DICOMTREEITEM* item) const {
  CString text;
  auto it = rows_.find(item);
  if (it == rows_.end()) return text;
  for (const CString& field : it->second) text += field + L"\t";
  return text;
}

void OpenDicomDir::SetExpanded(const VA_DICOMTREEITEM* item, bool expanded) {
  if (expanded) expanded_.insert(item);
  else expanded_.erase(item);
}

void OpenDicomDir::fillColumns(VA_DICOMTREEITEM* parent) {
  unsigned imageNumber = 0;
  for (auto& owned : parent->children) {
    VA_DICOMTREEITEM* item = owned.get();
    DICOMREC* rec = item->rec.get();
    if (item->IsImage()) {
      CString label = FmtStr(L"IMAGE #%u", imageNumber++);
      CString echo, bvalue;
      if (rec && rec->sliceZ != VOID_VALUE) label = FmtStr(L"IMAGE #%u, z = %5.4lf", imageNumber - 1, rec->sliceZ);
      if (rec && rec->echoTime != VOID_VALUE) echo = FmtStr(L"%8.3lf", rec->echoTime * 1000.0);
      if (rec && rec->bValue != VOID_VALUE) bvalue = FmtStr(L"%u", unsigned(std::floor(rec->bValue + 0.5)));
      setRow(item, {label, L"", L"", rec ? rec->acquisitionTime : CString(), echo, bvalue});
      continue;
    }
    if (!item->IsSeries() || !rec) {
      setRow(item, {item->text});
      fillColumns(item);
      continue;
    }
    if (item->IsCompositeSeries()) {
      rec->composite = 1;
      CString dimensions;
      int largest = 0, lowest = INT32_MAX, highest = INT32_MIN;
      bool singles = true;
      for (auto& sub : item->children) {
        const int n = sub->NumChildren();
        if (sub->rec) {
          VA_GetCompositeSeriesInfoLine(sub->rec->width, sub->rec->height, n, 1, &dimensions);
          lowest = std::min(lowest, sub->rec->seriesNumber);
          highest = std::max(highest, sub->rec->seriesNumber);
        }
        largest = std::max(largest, n);
        singles = singles && n == 1;
      }
      rec->numChildren = uint16_t(std::min(largest, 65535));
      CString label = rec->seriesDescription;
      const DICOMREC* first = item->Child(0) ? item->Child(0)->rec.get() : nullptr;
      if (singles && first && first->sliceZ != VOID_VALUE) label += FmtStr(L" z=%lf", first->sliceZ);
      const CString number = lowest == highest || lowest == INT32_MAX ? FmtStr(L"%u", unsigned(rec->seriesNumber))
                                                                       : FmtStr(L"[%u,%u]", unsigned(lowest), unsigned(highest));
      setRow(item, {label, number, dimensions, rec->acquisitionTime, L"", L""});
      if (fullTree_) {
        const bool commented = !rec->imageComments.IsEmpty();
        item->image = commented ? (singles ? 7 : 8) : (singles ? 4 : 6);
      }
    } else {
      rec->composite = 0;
      const int count = imageChildren(item);
      rec->numChildren = uint16_t(std::min(count, 65535));
      CString label = rec->seriesDescription;
      if (item->IsSubSeries()) label = FmtStr(L"#%u  ", unsigned(placeAmongSiblings(item))) + label;
      CString dimensions, echo, time, bvalues;
      VA_GetSimpleSeriesInfoLine(item->IsSubSeries(), item->IsSubSeries() && item->parent ? item->parent->rec.get() : nullptr,
                                 rec, count, &dimensions, &echo, &time, &bvalues);
      setRow(item, {label, FmtStr(L"%u", unsigned(rec->seriesNumber)), dimensions, time, echo, bvalues});
      if (fullTree_) item->image = count == 1 ? 3 : 5;
    }
    fillColumns(item);
  }
}

void OpenDicomDir::expandSingles() {
  const std::vector<std::unique_ptr<VA_DICOMTREEITEM>>* level = &tree_.items;
  while (level->size() == 1) {
    VA_DICOMTREEITEM* only = level->front().get();
    expanded_.insert(only);
    level = &only->children;
  }
}

void OpenDicomDir::clearShown() {
  shownImage_ = nullptr;
  tags_.Clear();
  tags_.columns = fullInfo_ ? std::vector<CString>{L"Tag", L"Name", L"Value"} : std::vector<CString>{L"Name", L"Value"};
  preview_.clear();
  previewWidth_ = previewHeight_ = 0;
}

void OpenDicomDir::showItem(const VA_DICOMTREEITEM* item) {
  const VA_DICOMTREEITEM* image = item;
  while (image && !image->IsImage() && !image->IsSimpleSeries()) image = image->children.empty() ? nullptr : image->Child(0);
  if (image && image->IsSimpleSeries()) image = image->Child(image->NumChildren() / 2);
  clearShown();
  if (!image || !image->IsImage() || !image->rec) {
    changed(kTagsChanged);
    return;
  }
  shownImage_ = image;
  const CString path = image->rec->filePath;
  DCMFF* header = TWKDCM_LoadDcmFF(path);
  DCMNODE* root = header ? TWKDCM_CreateDCMNODE(header) : nullptr;
  if (root) TW_FillDicomSummary(fullInfo_, root, nullptr, path, &tags_, header);
  TWKDCM_DeleteDCMNODE(&root);
  TWKDCM_DeleteFF(&header);

  int width = 0, height = 0;
  int32_t* pixels = nullptr;
  bool isSigned = false;
  TWKDCM_DJDecodeRegister();
  const bool decoded = TWKDCM_GetImage(path, &width, &height, &pixels, &isSigned);
  TWKDCM_DJDecodeClean();
  if (decoded && pixels && width > 0 && height > 0) {
    const size_t n = size_t(width) * size_t(height);
    preview_.resize(n);
    if (isSigned) {
      const int32_t lowest = *std::min_element(pixels, pixels + n);
      const double shift = lowest < 1 ? double(lowest) : 0.0;
      for (size_t i = 0; i < n; ++i) preview_[i] = double(pixels[i]) - shift;
    } else {
      for (size_t i = 0; i < n; ++i) preview_[i] = double(uint32_t(pixels[i]));
    }
    previewWidth_ = width;
    previewHeight_ = height;
  }
  pf_free(&pixels);
  changed(kTagsChanged);
}

void OpenDicomDir::checkRule(VA_DICOMTREEITEM* item, bool ctrl, bool shift) {
  if (!item) return;
  if (ctrl && !shift) item->checked = !item->checked;
  else if (shift && !ctrl) item->checked = true;
  else return;
  changed(kRowsChanged);
}

void OpenDicomDir::OnSelect(VA_DICOMTREEITEM* item, bool ctrl, bool shift) {
  if (!item || item == highlighted_) return;
  highlighted_ = item;
  checkRule(item, ctrl, shift);
  changed(kSelectionChanged);
  showItem(item);
}

void OpenDicomDir::OnClickLabel(VA_DICOMTREEITEM* item, bool ctrl, bool shift) {
  if (item && item == highlighted_) checkRule(item, ctrl, shift);
}

void OpenDicomDir::SetChecked(VA_DICOMTREEITEM* item, bool checked) {
  if (!item || item->checked == checked) return;
  item->checked = checked;
  changed(kRowsChanged);
}

void OpenDicomDir::SetFullInfo(bool on) {
  fullInfo_ = on;
  showItem(shownImage_ ? shownImage_ : highlighted_);
  changed(kOptionsChanged);
}

void OpenDicomDir::SetUseSeriesUid(bool on) {
  useSeriesUid_ = on;
  TW_UseSeriesUidOption() = on ? 1 : 0;
  changed(kOptionsChanged);
  BuildTree();
}

void OpenDicomDir::SetCombineStudies(bool on) {
  combineStudies_ = on;
  changed(kOptionsChanged);
  BuildTree();
}

void OpenDicomDir::OnTagHeaderClick(int column) {
  if (TW_SortInfoTable(&tags_, fullInfo_, column, &tagAscending_)) changed(kTagsChanged);
}

void OpenDicomDir::OnBrowse() {
  CString folder = folder_;
  if (!TW_SpecifyFolder(&folder)) return;
  folder_ = folder;
  fileList_.clear();
  BuildTree();
}

void OpenDicomDir::OnRefresh() {
  fileList_.clear();
  BuildTree();
}

bool OpenDicomDir::OnLoad() { return LoadItem(nullptr, true); }

bool OpenDicomDir::LoadItem(const DICOMLOADREQ* request, bool interactive) {
  TW_DICOMFILESET set;
  if (!ConstructFileSet(L"Load DICOM Files", request == nullptr, &tree_, highlighted_, &set) || set.count == 0)
    return false;
  CVol* vol = TW_LoadDicomFileSet(set.files, set.count, L"", request, combineStudies_, interactive);
  if (!vol) return false;
  if (!target_) {
    CDrawDoc* doc = TW_CreateDocumentFromVolume(&vol);
    delete vol;
    if (!doc) return false;
    newDocument_ = doc;
  } else {
    std::unique_ptr<CVol> loaded(vol);
    const CString name = loaded->name;
    if (!target_->AddResultLayer(true, interactive, name, loaded.get(), &loaded->frame, -1, 0, -1)) return false;
  }
  if (callerFolder_) *callerFolder_ = folder_;
  TW_UseSeriesUidOption() = useSeriesUid_ ? 1 : 0;
  if (!keepOpen_) end(IDOK);
  return true;
}

void OpenDicomDir::OnCheckUncheckAll() {
  const bool state = checkToggle_;
  walkTree(tree_, [state](VA_DICOMTREEITEM* i) { i->checked = state; });
  checkToggle_ = !checkToggle_;
  changed(kRowsChanged);
}

void OpenDicomDir::OnCheckSubtree() {
  if (!highlighted_) return;
  for (auto& child : highlighted_->children) child->checked = true;
  changed(kRowsChanged);
}

void OpenDicomDir::OnCheckRange() {
  if (!highlighted_) return;
  const int n = highlighted_->NumChildren();
  if (n < 2) return;
  int start = std::max(0, RangeStart());
  int last = RangeEnd() >= n - 1 ? n - 1 : RangeEnd();
  if (!TW_SpecifyTwoInt(FmtStr(L"Specify descendant range in [%u,%u]", 0u, unsigned(n - 1)), L"Range start", &start,
                        L"Range end", &last))
    return;
  for (int i = std::max(0, start); i <= last && i < n; ++i) highlighted_->Child(i)->checked = true;
  RangeStart() = start;
  RangeEnd() = last;
  changed(kRowsChanged);
}

bool OpenDicomDir::OnCompare() {
  const wchar_t* fn = L"CDlgOpenDicomDir::OnBnClickedCompareItems";
  std::vector<VA_DICOMTREEITEM*> checked;
  walkTree(tree_, [&](VA_DICOMTREEITEM* i) {
    if (i->checked) checked.push_back(i);
  });
  if (checked.size() != 2) {
    twk::doc::message(fn, L"Only two image comparison is allowed");
    return false;
  }
  CString files[2];
  for (int k = 0; k < 2; ++k) {
    std::vector<VA_DICOMTREEITEM*> images;
    if (!VA_EnumerateTreeImageItems(checked[size_t(k)], &images) || images.size() != 1 || !images[0]->rec) {
      twk::doc::message(fn, L"Image items should be selected");
      return false;
    }
    files[k] = images[0]->rec->filePath;
  }
  const CString difference = VA_VolDicomDifference(files[0], files[1], true);
  if (difference.IsEmpty()) return false;
  if (PR_CopyStrToClipboard(difference.GetString())) PR_NotepadExeOpenString(TW_Options().tempFolder, difference);
  return true;
}

bool OpenDicomDir::rewriteFiles(bool echoTime, double value, const wchar_t* function) {
  TW_DICOMFILESET set;
  if (!ConstructFileSet(L"Obtain DICOM files", false, &tree_, highlighted_, &set)) return false;
  if (set.count == 0) return false;
  // The frames of a multi-frame file are rewritten with the file itself.
  std::vector<CString> files = sourceFiles(set, tree_);
  for (int i = 0; i < set.count; ++i)
    if (std::find(files.begin(), files.end(), CString(set.files[i])) == files.end()) files.push_back(set.files[i]);
  const int n = int(files.size());
  twk::ProgressGuard progress(echoTime ? L"Replace echo time" : L"Replace diffusion b-value", interactive_);
  int done = 0;
  CString failed, why;
  for (; done < n; ++done) {
    if (!progress.Step(done, n, 1, 98)) {
      failed = files[size_t(done)];
      why = L"stopped by the user";
      break;
    }
    const CString& file = files[size_t(done)];
    if (!writable(file)) {
      failed = file;
      why = L"the file is read-only";
      break;
    }
    if (!(echoTime ? TWKDCM_ReplaceTEval(file, value) : TWKDCM_ReplaceDiffusionBvalue(file, value))) {
      failed = file;
      why = L"the file could not be rewritten";
      break;
    }
  }
  progress.End();
  if (done == n) return true;
  // Some files are changed, some not: the tree is read again so that it shows the files as they are.
  twk::doc::message(function, FmtStr(L"Stopped at %s (%s): %u of %u files were changed", failed.GetString(),
                                     why.GetString(), unsigned(done), unsigned(n)));
  BuildTree();
  return false;
}

VA_DICOMTREEITEM* OpenDicomDir::itemToRewrite(const wchar_t* function) {
  VA_DICOMTREEITEM* item = highlighted_;
  if (!item || !(item->IsImage() || item->IsSeries())) {
    twk::doc::message(function, L"Series or Image item should be selected in this operation");
    return nullptr;
  }
  TW_DICOMFILESET set;
  if (!ConstructFileSet(L"Obtain DICOM files", false, &tree_, item, &set) || set.count == 0) return nullptr;
  return item;
}

bool OpenDicomDir::OnSetTE() {
  const wchar_t* fn = L"CDlgOpenDicomDir::OnBnClickedSetTE";
  VA_DICOMTREEITEM* item = itemToRewrite(fn);
  if (!item) return false;
  double ms = item->rec && item->rec->echoTime != VOID_VALUE ? item->rec->echoTime * 1000.0 : 0.0;
  if (!TW_EnterDouble(L"TE echo time (ms)", &ms)) return false;
  if (!rewriteFiles(true, ms / 1000.0, fn)) return false;
  walk(item, [&](VA_DICOMTREEITEM* i) {
    if (!i->rec) return;
    i->rec->echoTime = ms / 1000.0;
    if (i->IsSeries()) i->rec->seriesEchoTimes.assign(1, ms / 1000.0);
    if (i->IsImage() || i->IsSimpleSeries() || i == item) setRowField(i, 4, FmtStr(L"%8.3lf ms", ms));
  });
  changed(kRowsChanged);
  showItem(item);
  return true;
}

bool OpenDicomDir::OnSetBvalue() {
  const wchar_t* fn = L"CDlgOpenDicomDir::OnBnClickedSetBvalue";
  VA_DICOMTREEITEM* item = itemToRewrite(fn);
  if (!item) return false;
  double bvalue = 0;
  if (!TW_EnterDouble(L"b-value (sec/mm^2)", &bvalue)) return false;
  if (!rewriteFiles(false, bvalue, fn)) return false;
  // The column shows the new value as "Set TE" does for the echo time.
  walk(item, [&](VA_DICOMTREEITEM* i) {
    if (!i->rec) return;
    i->rec->bValue = bvalue;
    if (i->IsSeries()) i->rec->seriesBvalues.assign(1, bvalue);
    if (i->IsImage() || i->IsSimpleSeries() || i == item)
      setRowField(i, 5, FmtStr(L"%u", unsigned(std::floor(bvalue + 0.5))));
  });
  changed(kRowsChanged);
  showItem(item);
  return true;
}

bool OpenDicomDir::OnCopy() {
  auto failed = [] {
    twk::messageBox(L"Copy Operation Failed");
    return false;
  };
  CString target;
  if (!TW_SpecifyFolder(&target)) return failed();
  TW_DICOMFILESET set;
  if (!ConstructFileSet(L"Copy DICOM Files", true, &tree_, highlighted_, &set)) return failed();
  if (set.count == 0) return true;
  if (!combineStudies_) {
    // Nothing is written over: neither two files of one name nor a file already in the target.
    if (!PR_CheckUniqueFileTitles(set.files, set.count, true)) return failed();
    for (int i = 0; i < set.count; ++i) {
      const CString copy = PR_ReplaceFolderInName(set.files[i], target);
      if (PR_FileExists(copy)) {
        twk::doc::message(L"CDlgOpenDicomDir::OnBnClickedCopy", CString(L"The target already holds ") + copy);
        return failed();
      }
    }
    return PR_CopyFileArr(set.files, set.count, target, L"Copy DICOM files") || failed();
  }
  // Every file becomes a study of the item's study: a one-file volume with the item's study
  // description and UID, written with the identifiers the export would otherwise renew.
  const DICOMREC* study = highlighted_ && highlighted_->rec ? highlighted_->rec.get() : set.records[0];
  const CString studyDescription = study->studyDescription, studyUid = study->studyInstanceUid;
  const CString scratch = PR_JoinPath(TW_Options().tempFolder, L"CopyDicomFiles");
  std::vector<CString> files(set.files, set.files + set.count);
  twk::ProgressGuard progress(L"Copying modified Dciom files", interactive_);
  bool ok = true;
  for (int i = 0; i < int(files.size()) && ok; ++i) {
    ok = progress.Step(i, int64_t(files.size()), 1, 98);
    const CString copy = PR_JoinPath(target, FmtStr(L"slice_%u.dcm", unsigned(i)));
    if (ok && PR_FileExists(copy)) {
      twk::doc::message(L"CDlgOpenDicomDir::OnBnClickedCopy", CString(L"The target already holds ") + copy);
      ok = false;
    }
    DICOMLOADREQ request;
    ok = ok && TW_SetDicomLoadRequest(&request, files[size_t(i)], DICOMLOAD_4D, false);
    const wchar_t* one[] = {files[size_t(i)].GetString()};
    std::unique_ptr<CVol> vol(ok ? TW_LoadDicomFileSet(one, 1, L"", &request, combineStudies_, false) : nullptr);
    ok = ok && vol && VA_VolEnsureDicomHeaders(vol.get());
    for (int64_t r = 0; ok && r < vol->numDicom; ++r) {
      DCMFF* header = VA_DicomRecGetHeader(vol->dicom[r]);
      ok = header && TWKDCM_SetStudyDescriptionAndUID(header, studyDescription, studyUid) &&
           VA_DicomRecSetHeader(vol->dicom[r], header);
      TWKDCM_DeleteFF(&header);
    }
    ok = ok && PR_ClearExistingFolderOrCreateNew(scratch, true) &&
         CVol::SaveToDicom(vol.get(), true, PR_JoinPath(scratch, L"slice.dcm"), nullptr, false, true, false, true, false);
    const CString written = ok ? PR_FindOneFileInFolder(scratch, false) : CString();
    ok = ok && !written.IsEmpty() && PR_FileMoveUsingSystem(written, copy);
  }
  progress.End();
  PR_RemoveFolder(scratch);
  return ok || failed();
}

bool OpenDicomDir::OnDelete() {
  auto failed = [] {
    twk::messageBox(L"Delete Operation Failed");
    return false;
  };
  if (!twk::askYesNo(L"Some DICOM files will be deleted")) return false;
  TW_DICOMFILESET set;
  if (!ConstructFileSet(L"Delete DICOM Files", true, &tree_, highlighted_, &set)) return failed();
  const std::vector<CString> files = sourceFiles(set, tree_);
  set.Clear();
  int done = 0;
  CString failure;
  for (const CString& file : files) {
    std::error_code error;
    const std::filesystem::path native(twk::pathToNative(file));
    std::filesystem::permissions(native, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, error);
    if (!std::filesystem::remove(native, error) || error) {
      failure = file;
      break;
    }
    ++done;
  }
  BuildTree();
  if (failure.IsEmpty()) return true;
  twk::doc::message(L"CDlgOpenDicomDir::OnBnClickedDelete",
                    FmtStr(L"Unable to delete %s: %u of %u files were deleted", failure.GetString(), unsigned(done),
                           unsigned(files.size())));
  return failed();
}

bool OpenDicomDir::OnShowCompatibleVolumes() {
  VA_DICOMTREEITEM* item = highlighted_;
  if (item && item->IsImage()) item = item->parent;
  if (!item || !item->IsSeries()) {
    twk::doc::message(L"CDlgOpenDicomDir::OnBnSelRelatedOnly", L"Please select *Series* key corresponding to your volume");
    return false;
  }
  twk::ProgressGuard progress(L"Select related Series only", interactive_);
  std::vector<VA_DICOMTREEITEM*> series;
  const bool ok = TW_CollectCompatibleSeries(&tree_, item, &series);
  std::vector<CString> files;
  for (size_t s = 0; ok && s < series.size(); ++s) {
    progress.Step(int64_t(s), int64_t(series.size()), 1, 98);
    std::vector<VA_DICOMTREEITEM*> images;
    VA_EnumerateTreeImageItems(series[s], &images);
    for (VA_DICOMTREEITEM* image : images)
      if (image->rec) files.push_back(image->rec->filePath);
  }
  progress.End();
  if (!ok || files.empty()) return false;
  fileList_ = std::move(files);
  return BuildTree();
}

bool OpenDicomDir::OnCopyInfo() { return PR_NotepadExeOpenString(TW_Options().tempFolder, tags_.Text()); }

void TW_SetOpenDicomDirView(TW_OPENDICOMDIRVIEW view) { g_view = std::move(view); }

int TW_RunOpenDicomDir(OpenDicomDir* browser) {
  if (!browser) return IDCANCEL;
  if (g_view) return g_view(browser);
  browser->OnInitDialog();
  return browser->Result() ? browser->Result() : IDCANCEL;
}

CDrawDoc* TW_DlgOpenDicomDir(CString* folder, CDrawSet* target, bool keepOpen, bool fullTree,
                             const DICOMLOADREQ* request, bool interactive) {
  CString chosen = folder ? *folder : CString();
  if (!request && !TW_SpecifyFolder(&chosen)) return nullptr;
  if (!request && folder) *folder = chosen;
  OpenDicomDir browser(chosen, folder, target, keepOpen, fullTree, request, false, interactive);
  const int result = TW_RunOpenDicomDir(&browser);
  return result == IDOK && !target ? browser.NewDocument() : nullptr;
}
