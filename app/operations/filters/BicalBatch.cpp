#include "BicalBatch.h"

#include <cwchar>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "CString.h"
#include "DicomLoad.h"
#include "FilterDialogs.h"
#include "OperationHelpers.h"
#include "PackedText.h"
#include "ParameterDialog.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dicom/DicomFolders.h"
#include "dicom/DicomTree.h"
#include "io/ImageFiles.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace fs = std::filesystem;

namespace {

BICALBATCHPARM startValues() {
  BICALBATCHPARM r{};
  r.bical = VA_BICALZF{};
  r.bodyMask = VA_BODYFORG{};
  twk::setPackedText(r.sourceFolder, 512, L"d:\\TempSrc");
  twk::setPackedText(r.targetFolder, 512, L"d:\\Temp");
  r.format = 0;
  return r;
}

}  // namespace

BICALBATCHPARM g_BicalBatchParms = startValues();

void TW_InitBicalBatchDefaults() { g_BicalBatchParms = startValues(); }

namespace {

fs::path native(const CString& path) { return fs::path(twk::pathToNative(path)); }
CString fromNative(const fs::path& path) { return CString::fromUtf8(path.string()); }

// The folder with links and "." / ".." resolved; empty when it cannot be resolved.
fs::path resolved(const CString& folder) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(native(folder), ec);
  return ec ? fs::path() : p;
}

// Whether inner is outer or lies below it (both resolved).
bool within(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

void report(const CString& text) { twk::showNamedError(L"PerformBicalBatch", text); }

// The first of "<title><ext>", "<title>_2<ext>", ... in folder for which taken() is false.
template <class Taken>
CString unusedTitle(const CString& title, Taken&& taken) {
  CString candidate = title;
  for (int k = 2; taken(candidate); ++k) candidate.Format(L"%s_%d", title.GetString(), k);
  return candidate;
}

// One volume: corrected and written into the output folder. False on a failure (reported by the
// calls that failed).
bool correctVolume(const BICALBATCHPARM& record, const FILESET& set, const CString& output) {
  std::unique_ptr<CVol> vol(TW_LoadDicomFileSet(set.files, int(set.count), L"", nullptr, false, false));
  if (!vol) return false;
  FramePtr corrected(VA_VolBicalZF(&record.bical, vol->frame, vol->Spc(), 0, true));
  if (!corrected) return false;
  // An integer volume stays integer; DICOM takes integers only.
  if (corrected->type == FRM_REAL && (vol->Type() == FRM_INT || record.format != 2)) {
    corrected.reset(VA_VolRealToInteger(corrected.get(), 0.0, 31, true));
    if (!corrected) return false;
  }
  bool ok = false;
  if (record.format == 2) {
    const CString title = unusedTitle(PR_GetFileTitleName(vol->name), [&](const CString& t) {
      return PR_FileExists(PR_JoinPath(output, t + L".nii"));
    });
    const DPOINT3D* first = vol->imgPos;
    const DPOINT3D* last = vol->imgPos ? vol->imgPos + (vol->D() - 1) : nullptr;
    ok = VA_RAW_VolSaveFile(PR_JoinPath(output, title + L".nii"), corrected.get(), -1, vol->Spc(), vol->orient, first,
                            last, vol->modality, RAWFILE_NIFTI, vol->unit, nullptr, vol->dyn, true);
  } else {
    // The series is named after "vol" (files vol_tTTTT_nNNNNNN.dcm); a series already there keeps its files.
    const CString title = unusedTitle(L"vol", [&](const CString& t) {
      return PR_FileExists(PR_JoinPath(output, t + L"_t0000_n000000.dcm"));
    });
    // The volume shows the corrected voxels while it is saved, then has its own back.
    FRAME* own = std::exchange(vol->frame, corrected.release());
    ok = CVol::SaveToDicom(vol.get(), true, PR_JoinPath(output, title + L".dcm"), nullptr, record.format == 1, true,
                           true, false, true);
    corrected.reset(std::exchange(vol->frame, own));
  }
  return ok;
}

}  // namespace

bool TW_DlgBicalBatch(BICALBATCHPARM* record) {
  if (!record) return false;
  CString source = twk::packedText(record->sourceFolder, 512), target = twk::packedText(record->targetFolder, 512);
  int32_t format = record->format, applyMask = 0;
  TW_DIALOG d(L"BiCal Batch Processing", L"CDlgBicalBatch");
  d.Text(L"Input folder", &source);
  d.Flag(L"Apply BodyMask", &applyMask);
  d.Text(L"Output folder", &target);
  d.Choice(L"Format", &format, {L"DICOM uncompressed", L"DICOM compressed", L"NIFTI"});
  d.onCheck = [title = d.title](const TW_DIALOG_VALUES& v) {
    if (v.Text(L"Input folder").GetLength() <= 511 && v.Text(L"Output folder").GetLength() <= 511) return true;
    twk::ui().messageBox(L"A folder name is too long", title, MB_OK | MB_ICONEXCLAMATION);
    return false;
  };
  // The parameter buttons edit the record's body-mask and BiCal parameters at once.
  d.Button(L"BodyMask parameters", [record](TW_DIALOG_VALUES&) { TW_AskBodyMaskParms(&record->bodyMask); });
  d.Button(L"BiCal parameters", [record](TW_DIALOG_VALUES&) { TW_DlgBicalZF(false, nullptr, &record->bical); });
  if (!TW_RunDialog(d)) return false;
  twk::setPackedText(record->sourceFolder, 512, source);
  twk::setPackedText(record->targetFolder, 512, target);
  record->format = format;
  return true;
}

bool PerformBicalBatch(const BICALBATCHPARM* record) {
  if (!record) return false;
  const CString source = twk::packedText(record->sourceFolder, 512), target = twk::packedText(record->targetFolder, 512);
  if (target.IsEmpty()) {
    report(L"Target folder should be specified");
    return false;
  }
  if (record->format < 0 || record->format > 2) {
    report(L"Invalid output format");
    return false;
  }
  if (!PR_FolderExists(target)) {
    report(L"Specified folder does not exist");
    return false;
  }
  if (!PR_FolderExists(source)) {
    report(L"Folder does not exist : " + source);
    return false;
  }
  // Compared as resolved folders: the same folder written differently, or one folder inside the
  // other, would make the batch read its own outputs or write among its inputs.
  const fs::path s = resolved(source), t = resolved(target);
  if (s.empty() || t.empty() || within(s, t) || within(t, s)) {
    report(L"Source and Target folders should be different");
    return false;
  }

  VA_DICOMTREE tree;
  if (!VA_FolderFullDicomTree(true, nullptr, source, nullptr, false, nullptr, &tree, nullptr, 0, nullptr, nullptr,
                              nullptr, nullptr, true))
    return false;
  VA_DICOMFILEEXTRACTOR rules;
  std::wcsncpy(rules.sourceFolder, fromNative(s).GetString(), 1023);
  std::wcsncpy(rules.targetFolder, fromNative(t).GetString(), 1023);
  rules.allVolumes = 1;  // every volume, not one per study
  rules.sliceRange = 1;
  rules.minSlices = 2;
  rules.maxSlices = 1000;
  int count = 0;
  FILESET** sets = VA_MakeDicomVolumeFileSets(&rules, &tree, &count, true);
  if (!sets) return false;
  struct SetsGuard {
    FILESET*** sets;
    int count;
    ~SetsGuard() { VA_FreeFileSets(sets, count); }
  } guard{&sets, count};

  twk::ProgressGuard progress(L"BiCal batch processing", true);
  for (int i = 0; i < count; ++i) {
    if (!progress.Step(i, count, 1, 98)) return false;
    // The set's place below the source, repeated below the target.
    const CString common = sets[i]->GetCommonFolder();
    fs::path output;
    const fs::path folder = common.IsEmpty() ? fs::path() : resolved(common);
    if (!folder.empty() && within(folder, s)) {
      output = t / folder.lexically_relative(s);
    } else {
      CString name;
      name.Format(L"Volume_%u", unsigned(i));
      output = t / native(name);
    }
    std::error_code ec;
    fs::create_directories(output, ec);
    if (ec || !fs::is_directory(output, ec)) {
      report(L"Unable to create a folder : " + fromNative(output));
      return false;
    }
    if (!correctVolume(*record, *sets[i], fromNative(output))) return false;
  }
  progress.Step(count, count, 1, 98);
  return true;
}
