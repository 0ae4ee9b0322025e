// DICOM series loading: file sets of tree items, the load of a file set into one volume, load
// requests, the single-file open and the node images of the tree.
#include "DicomLoad.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "AppOptions.h"
#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "DocMessages.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "OpenDicomDir.h"
#include "Prompts.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dicom/DicomTree.h"
#include "dicom/DicomVolume.h"
#include "docsupport/DocSupport.h"
#include "io/ImageFiles.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace {

constexpr double kSpacingTolerance = 0.01;  // mm
constexpr double kIntegerTop = 2147483647.0;  // 31-bit voxels

void loadFailed() { twk::ui().messageBox(L"Loading Dicom Failed", L"Tarnwick", MB_OK | MB_ICONINFORMATION); }

// The same image items, in any order.
bool sameItems(std::vector<VA_DICOMTREEITEM*> a, std::vector<VA_DICOMTREEITEM*> b) {
  if (a.size() != b.size()) return false;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

// The image positions of a volume whose slices had none: the first slice's position moved along the
// slice normal by the spacing.
void respaceSlices(CVol* vol, double spacing) {
  vol->spc.z = spacing;
  if (!vol->imgPos || vol->D() < 1) return;
  double normal[3];
  PR_GetNormalFromOrient(vol->orient, normal);
  const DPOINT3D origin = vol->imgPos[0];
  for (int k = 0; k < vol->D(); ++k)
    vol->imgPos[k] = DPOINT3D{origin.x + normal[0] * spacing * k, origin.y + normal[1] * spacing * k,
                              origin.z + normal[2] * spacing * k};
}

// Asks for a positive thickness until one is given or the user cancels.
bool askThickness(double* spacing) {
  double value = 1.0;
  for (;;) {
    if (!TW_EnterDouble(L"Specify Slice thickness (mm)", &value)) return false;
    if (std::isfinite(value) && value > 0) break;
    twk::ui().messageBox(L"The slice thickness must be a positive number of millimetres", L"Tarnwick",
                         MB_OK | MB_ICONEXCLAMATION);
    value = 1.0;
  }
  *spacing = value;
  return true;
}

// The spin-lock question of a 4D volume whose images name their spin-lock times.
void askSpinLockTimes(CVol* vol) {
  std::vector<double> values;
  std::vector<CString> lines;
  if (!VA_VolExtractTSLdata(vol, &values, &lines) || int(values.size()) != vol->T() || !vol->dyn) return;
  std::vector<const wchar_t*> text;
  for (const CString& line : lines) text.push_back(line.GetString());
  const int pressed = TW_ThreeButtonMsgBox(L"TSL data is present", text.data(), int(text.size()), L"Load as microseconds",
                                           L"Load as milliseconds", L"No TSL");
  if (pressed == 2) return;
  const double scale = pressed == 0 ? 0.000001 : 0.001;
  for (int t = 0; t < vol->T(); ++t) vol->dyn[t].spinLockTime = values[size_t(t)] * scale;
}

}  // namespace

bool TW_SetDicomLoadRequest(DICOMLOADREQ* request, const wchar_t* path, int kind, bool flag) {
  if (!request) return false;
  std::memset(request->path, 0, sizeof request->path);
  request->kind = kind;
  request->flag = flag ? 1 : 0;
  const size_t length = path ? std::wcslen(path) : 0;
  const size_t room = sizeof request->path / sizeof request->path[0];
  if (length == 0 || length >= room) return false;
  std::wmemcpy(request->path, path, length);
  return true;
}

bool TW_DicomLoadRequestPath(const DICOMLOADREQ* request, CString* path) {
  if (!request || !path) return false;
  const size_t room = sizeof request->path / sizeof request->path[0];
  const wchar_t* end = std::wmemchr(request->path, L'\0', room);
  if (!end) return false;
  *path = CString(request->path, int(end - request->path));
  return true;
}

const wchar_t* TW_DicomLoadKindName(int kind) {
  switch (kind) {
    case DICOMLOAD_SINGLE_IMAGE: return L"Single image";
    case DICOMLOAD_3D: return L"3D volume";
    case DICOMLOAD_4D: return L"4D volume";
    case DICOMLOAD_STUDY: return L"Study";
    default: return L"Unknown";
  }
}

void TW_DICOMFILESET::Clear() {
  pf_free(&files);
  pf_free(&records);
  count = 0;
}

bool ConstructFileSet(const wchar_t* title, bool askIfDifferent, const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* item,
                      TW_DICOMFILESET* set) {
  if (!set) return false;
  set->Clear();
  if (!tree || tree->items.empty() || tree->items.front()->children.empty()) {
    twk::doc::message(L"ConstructFileSet", L"Empty DICOM Tree");
    return false;
  }
  std::vector<VA_DICOMTREEITEM*> highlighted, checked;
  if (!VA_EnumerateTreeImageItems(item, &highlighted) || !VA_EnumerateTreeImageItemsWithCheckedAncestors(tree, &checked))
    return false;
  const std::vector<VA_DICOMTREEITEM*>* chosen = &highlighted;
  if (askIfDifferent && !checked.empty() && !sameItems(highlighted, checked)) {
    const wchar_t* lines[] = {L"Highlighted and checked items differ"};
    switch (TW_ThreeButtonMsgBox(title, lines, 1, L"Highlighted only", L"Checked only", L"Cancel")) {
      case 0: break;
      case 1: chosen = &checked; break;
      default: return false;
    }
  }
  const int n = int(chosen->size());
  if (n > 0) {
    set->files = static_cast<const wchar_t**>(pf_calloc(int64_t(n) * int64_t(sizeof(wchar_t*))));
    set->records = static_cast<DICOMREC**>(pf_calloc(int64_t(n) * int64_t(sizeof(DICOMREC*))));
    if (!set->files || !set->records) {
      set->Clear();
      return false;
    }
    for (int i = 0; i < n; ++i) {
      DICOMREC* rec = (*chosen)[size_t(i)]->rec.get();
      if (!rec) {
        set->Clear();
        return false;
      }
      set->records[i] = rec;
      set->files[i] = rec->filePath.GetString();
    }
  }
  set->count = n;
  return true;
}

bool TW_DicomSliceSpacingCheck(DICOMREC* const* records, int depth, TW_SLICESPACINGCHECK* result, bool interactive) {
  if (!records || depth < 1 || !result) return false;
  *result = TW_SLICESPACINGCHECK();
  VA_SLICESPACING check;
  const bool known = VA_DicomSliceSpacing(records, depth, &check);
  if (check.undefinedSlice >= 0) {
    result->undefined = true;
    if (known) {
      result->spacing = check.spacing;
      return true;
    }
    if (!interactive) return false;
    twk::ui().messageBox(FmtStr(L"Slice #%u z-coordinate is undefined.", unsigned(check.undefinedSlice)), L"Tarnwick",
                         MB_OK);
    return askThickness(&result->spacing);
  }
  if (!known) return false;
  result->spacing = check.spacing;
  result->irregular = check.irregular;
  if (check.irregular && interactive)
    twk::ui().messageBox(FmtStr(L"Interslice distance[%u-%u] = %8.5lf mm.\nThis differs from average distance of %8.5lf mm",
                                unsigned(check.pair), unsigned(check.pair + 1), check.pairDistance, check.spacing),
                         L"Tarnwick", MB_OK | MB_ICONINFORMATION);
  return true;
}

bool TW_DicomSignedToInteger(CVol* vol, bool askBias) {
  if (!vol || !vol->frame || !vol->IsReal()) return true;
  double minimum = 0, maximum = 0;
  bool whole = false;
  // Real voxels that are not all whole numbers, or no defined voxel: the volume stays real.
  if (!VA_VolRealRange(vol->frame, &minimum, &maximum, &whole) || !whole) return true;
  double bias = 0;
  if (minimum < 0) {
    if (!askBias) return true;
    const bool hounsfield = vol->IsCT() && vol->unit == L"HU";
    const double offered = hounsfield ? 1024.0 : -minimum;
    bias = offered;
    for (;;) {
      if (!TW_EnterDouble(L"Volume has signed integer voxels.\nPress Yes to accept the bias and load as unsigned.\n"
                          L"Press Cancel to load as Real",
                          &bias))
        return true;
      const bool clamps = minimum + bias < 0 && !(hounsfield && bias == 1024.0);
      const bool overflows = maximum + bias > kIntegerTop;
      if (std::isfinite(bias) && !clamps && !overflows) break;
      twk::ui().messageBox(FmtStr(L"A bias of %g does not fit the voxels (minimum %g, maximum %g).\n"
                                  L"Enter a bias from %g to %g.",
                                  bias, minimum, maximum, -minimum, kIntegerTop - maximum),
                           L"Tarnwick", MB_OK | MB_ICONEXCLAMATION);
      bias = offered;
    }
  }
  // 16-bit voxels when the biased values fit them: half the memory of 32-bit ones.
  const int bits = maximum + bias <= 65535.0 ? 16 : 31;
  FRAME* integer = VA_VolRealToInteger(vol->frame, bias, bits, askBias);
  if (!integer) return false;
  PR_FrameDelete(&vol->frame);
  vol->frame = integer;
  return true;
}

CVol* TW_LoadDicomFileSet(const wchar_t* const* files, int n, const wchar_t* nameSuffix, const DICOMLOADREQ* request,
                          bool combineStudies, bool interactive) {
  const bool ask = interactive && !request;
  const bool flag = request ? request->flag != 0 : true;
  VA_DICOMTREE scratch;
  DICOMREC** records = nullptr;
  int recordCount = 0;
  bool decoders = false;
  std::unique_ptr<CVol> vol;

  const bool ok = [&] {
    if (!files || n < 1) return false;
    if (!VA_FolderFullDicomTree(flag, nullptr, nullptr, nullptr, combineStudies, nullptr, &scratch, files, n, &records,
                                &recordCount, nullptr, nullptr, interactive))
      return false;
    std::vector<VA_DICOMTREEITEM*> series;
    DIM3D dims;
    int combined = 0;
    if (!VA_EnumerateAllSimpleSeries(&scratch, &series) ||
        !VA_CheckCompatibleAndGetCommonDimensions(&scratch, series.data(), int(series.size()), records, recordCount,
                                                  &dims, &combined, true))
      return false;
    TWKDCM_DJDecodeRegister();
    decoders = true;
    FRMTYPE kind = FRM_INT;
    vol.reset(VA_LoadByItem_VolHeader(&dims, records, nullptr, &kind, interactive));
    if (!vol || !VA_LoadByItem_CreateFrame(vol.get(), &dims, kind) || !VA_LoadByItem_VolData(vol.get(), interactive))
      return false;
    if (records[0]->unit == L"HU") vol->unit = L"HU";
    if (vol->name.IsEmpty()) {
      CString name;
      if (!VA_ConstructVolumeName(records[0], true, true, 16, TW_Options().tempFolder, L"", &name)) {
        twk::doc::message(L"TW_LoadDicomFileSet", L"Failed to construct new volume name");
        return false;
      }
      vol->name = name;
    }
    vol->name += nameSuffix ? nameSuffix : L"";
    if (dims.d > 1) {
      TW_SLICESPACINGCHECK spacing;
      if (!TW_DicomSliceSpacingCheck(records, dims.d, &spacing, ask)) return false;
      // Slices without positions were placed by the core's fallback; the spacing found or entered
      // here is the one the user stands by.
      if (spacing.undefined) respaceSlices(vol.get(), spacing.spacing);
    }
    VA_VolSetWiHi(vol.get(), dims.w, dims.h);
    if (dims.t > 1 && ask && VA_VolIsTSLdata(vol.get())) askSpinLockTimes(vol.get());
    VA_VolEnsurePositiveOrient(vol.get(), interactive);
    return TW_DicomSignedToInteger(vol.get(), ask);
  }();

  if (decoders) TWKDCM_DJDecodeClean();
  TW_FreeDicomRecArray(&records, recordCount);
  if (!ok) {
    vol.reset();
    loadFailed();
    return nullptr;
  }
  return vol.release();
}

bool GetSeriesInfo(const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* series, VA_VOLINFO* facts) {
  if (!tree || !series || !facts) return false;
  if (series->IsSimpleSeries()) return VA_GetVolInfo(series, facts);
  if (!series->IsCompositeSeries()) return false;
  VA_VOLINFO first, other;
  for (int i = 0; i < series->NumChildren(); ++i) {
    if (!VA_GetVolInfo(series->Child(i), i == 0 ? &first : &other)) return false;
    if (i > 0 && !VA_IsCompatibleVolInfo(&first, &other)) {
      twk::doc::message(L"GetSeriesInfo", L"Selected composite series contain incosistent attributes");
      return false;
    }
  }
  *facts = first;
  return true;
}

bool TW_CollectCompatibleSeries(const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* series,
                                std::vector<VA_DICOMTREEITEM*>* compatible) {
  if (!compatible) return false;
  compatible->clear();
  VA_VOLINFO facts;
  if (!GetSeriesInfo(tree, series, &facts)) return false;
  std::vector<VA_DICOMTREEITEM*> own;
  VA_EnumerateSimpleSeries(series, &own);
  compatible->insert(compatible->end(), own.begin(), own.end());
  const VA_DICOMTREEITEM* study = series->parent;
  while (study && study->kind != DCMITEM_STUDY) study = study->parent;
  if (!study) return true;
  std::vector<VA_DICOMTREEITEM*> candidates;
  VA_EnumerateSimpleSeries(study, &candidates);
  for (VA_DICOMTREEITEM* candidate : candidates) {
    if (std::find(own.begin(), own.end(), candidate) != own.end()) continue;
    VA_VOLINFO other;
    if (VA_GetVolInfo(candidate, &other) && VA_IsCompatibleVolInfo(&facts, &other)) compatible->push_back(candidate);
  }
  return true;
}

CDrawDoc* TW_OpenSingleDicomFile(CString* folder) {
  const wchar_t* fn = L"TW_OpenSingleDicomFile";
  CString start;
  int filterIndex = 0;
  CString extension, path;
  if (!TW_GetFilteredLoadName(L"All Files (*.*)|*.*|", folder ? folder : &start, &filterIndex, &extension, &path))
    return nullptr;
  const CString work = PR_JoinPath(TW_Options().tempFolder, L"SingleDicomFileLoad");
  if (PR_FolderExists(work)) {
    if (!PR_ClearFolderContent(work, true)) return nullptr;
  } else if (!PR_ClearExistingFolderOrCreateNew(work, false)) {
    twk::doc::message(fn, CString(L"Unable to create a folder : ") + work);
    return nullptr;
  }
  const CString copy = PR_JoinPath(work, PR_GetFileTitle(path));
  if (!PR_FileCopyUsingSystem(path, copy)) {
    twk::doc::message(fn, CString(L"Unable to copy ") + path + L" to " + copy);
    return nullptr;
  }
  DICOMLOADREQ request;
  if (!TW_SetDicomLoadRequest(&request, copy, DICOMLOAD_3D, false)) {
    twk::doc::message(fn, CString(L"The path is too long for a DICOM load request : ") + copy);
    return nullptr;
  }
  OpenDicomDir browser(work, nullptr, nullptr, false, false, &request, false, true);
  const int result = TW_RunOpenDicomDir(&browser);
  CDrawDoc* doc = result == IDOK ? browser.NewDocument() : nullptr;
  if (doc && !PR_ClearFolderContent(work, true)) return nullptr;
  return doc;
}

CVol* TW_LoadDicomFiles(int mode, const wchar_t* folder, bool showProgress) {
  if (mode == 2) return VA_Load4DvolumeFromDWIfolderOfNIFTIimages(TW_Options().tempFolder, folder, showProgress);
  if (mode != 1) return nullptr;
  OpenDicomDir browser(folder ? folder : L"", nullptr, nullptr, false, true, nullptr, false, showProgress);
  if (!browser.BuildTree()) return nullptr;
  TW_DICOMFILESET set;
  // The browser's first item is the one it highlights after a build.
  const VA_DICOMTREEITEM* first = browser.Tree().items.empty() ? nullptr : browser.Tree().items.front().get();
  if (!ConstructFileSet(L"Load DICOM Files", true, &browser.Tree(), first, &set) || set.count == 0) return nullptr;
  return TW_LoadDicomFileSet(set.files, set.count, L"", nullptr, false, showProgress);
}

const int kDicomNodeImageResources[9] = {385, 384, 386, 533, 536, 537, 538, 718, 719};

int TW_DicomNodeImageIndex(int resource) {
  for (int i = 0; i < 9; ++i)
    if (kDicomNodeImageResources[i] == resource) return i;
  return -1;
}
