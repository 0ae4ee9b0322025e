// The CT DICOM file extractor: its record, the extraction and the dialog's runner.
#include "DicomExtractorCT.h"

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <vector>

#include "AppOptions.h"
#include "DocMessages.h"
#include "OpenDicomDir.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "dicom/DicomFolders.h"
#include "paths/FilePaths.h"

const wchar_t* const kDicomExtractorModalities[5] = {L"All", L"MRI", L"CT", L"PET", L"Ultrasound"};

namespace {

TW_DICOMEXTRACTORVIEW g_view;

bool promptView(DicomExtractorCTSettings* s) {
  std::vector<twk::PromptField> fields = {
      twk::PromptField::string(L"Source folder:", s->sourceFolder),
      twk::PromptField::string(L"Target folder:", s->targetFolder),
      twk::PromptField::check(L"Patients with studies separated by at least", s->separatedStudies),
      twk::PromptField::integer(L"months", s->months),
      twk::PromptField::check(L"Volumes contain between", s->sliceRange),
      twk::PromptField::integer(L"slices (least)", s->minSlices),
      twk::PromptField::integer(L"slices (most)", s->maxSlices),
      twk::PromptField::choice(L"Modalities", {kDicomExtractorModalities, kDicomExtractorModalities + 5}, s->modality),
  };
  if (!twk::ui().askValues(L"Dicom File Extractor", fields)) return false;
  s->sourceFolder = fields[0].text;
  s->targetFolder = fields[1].text;
  s->separatedStudies = fields[2].number != 0;
  s->months = int(fields[3].number);
  s->sliceRange = fields[4].number != 0;
  s->minSlices = int(fields[5].number);
  s->maxSlices = int(fields[6].number);
  s->modality = int(fields[7].number);
  return true;
}

bool copyFolder(wchar_t (&field)[1024], const CString& folder) {
  std::memset(field, 0, sizeof field);
  if (folder.GetLength() >= 1024) return false;
  std::wmemcpy(field, folder.GetString(), size_t(folder.GetLength()));
  return true;
}

std::filesystem::path canonical(const CString& folder) {
  std::error_code error;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(twk::pathToNative(folder)), error);
  if (error) p = std::filesystem::path(twk::pathToNative(folder)).lexically_normal();
  return p;
}

// Whether inner lies inside outer (or is it).
bool within(const std::filesystem::path& inner, const std::filesystem::path& outer) {
  auto o = outer.begin(), i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

}  // namespace

DicomExtractorCTSettings& TW_DicomExtractorCTSettings() {
  static DicomExtractorCTSettings settings;
  static bool initialised = false;
  if (!initialised) {
    settings.sourceFolder = TW_Options().dcmLoadFolder;
    settings.targetFolder = PR_JoinPath(TW_Options().tempFolder, L"CTextract");
    initialised = true;
  }
  return settings;
}

bool TW_DicomExtractorAccept(const DicomExtractorCTSettings& s) {
  const struct {
    int value, low, high;
  } ranges[] = {{s.months, 0, 1000}, {s.minSlices, 1, 10000}, {s.maxSlices, 1, 10000}};
  for (const auto& r : ranges)
    if (r.value < r.low || r.value > r.high) {
      twk::ui().messageBox(FmtStr(L"Please enter an integer between %d and %d.", r.low, r.high), L"Tarnwick",
                           MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
  return true;
}

bool TW_FillDicomExtractor(const DicomExtractorCTSettings& s, VA_DICOMFILEEXTRACTOR* record) {
  if (!record) return false;
  std::memset(static_cast<void*>(record), 0, sizeof *record);
  if (!copyFolder(record->sourceFolder, s.sourceFolder) || !copyFolder(record->targetFolder, s.targetFolder)) {
    twk::doc::message(L"TW_DlgDicomExtractorCT", L"Folder names are limited to 1023 characters");
    return false;
  }
  record->separatedStudies = s.separatedStudies ? 1 : 0;
  record->months = s.months;
  record->sliceRange = s.sliceRange ? 1 : 0;
  record->minSlices = s.minSlices;
  record->maxSlices = s.maxSlices;
  record->modality = 0;
  return true;
}

bool TW_ExtractDICOMfilesCT(const VA_DICOMFILEEXTRACTOR* record) {
  const wchar_t* fn = L"TW_ExtractDICOMfilesCT";
  if (!record) return false;
  const CString source(record->sourceFolder, int(wcsnlen(record->sourceFolder, 1024)));
  const CString target(record->targetFolder, int(wcsnlen(record->targetFolder, 1024)));
  if (target.IsEmpty()) {
    twk::doc::message(fn, L"Target folder should be specified");
    return false;
  }
  const std::filesystem::path s = canonical(source), t = canonical(target);
  if (s == t) {
    twk::doc::message(fn, L"Source and Target folders should be different");
    return false;
  }
  // Emptying a target that holds the source, or extracting into the source itself, would lose files.
  if (within(t, s) || within(s, t)) {
    twk::doc::message(fn, L"Source and Target folders should not lie one inside the other");
    return false;
  }
  OpenDicomDir browser(source, nullptr, nullptr, false, true, nullptr, false, true);
  if (!browser.OnInitDialog()) return false;
  if (!PR_ClearExistingFolderOrCreateNew(target, true)) return false;
  const VA_DICOMTREE& tree = browser.Tree();
  const int64_t n = int64_t(tree.items.size());
  twk::ProgressGuard progress(L"Extracting DICOM files for the individual patients", true);
  bool ok = true;
  for (int64_t i = 0; i < n && ok; ++i) {
    ok = progress.Step(i, n, 1, 98) &&
         VA_ExtractPatientDicoms(record, &tree, tree.items[size_t(i)].get(), n > 1);
  }
  return ok;
}

void TW_SetDicomExtractorView(TW_DICOMEXTRACTORVIEW view) { g_view = std::move(view); }

bool TW_DlgDicomExtractorCT() {
  DicomExtractorCTSettings& remembered = TW_DicomExtractorCTSettings();
  DicomExtractorCTSettings settings = remembered;
  const TW_DICOMEXTRACTORVIEW& view = g_view ? g_view : TW_DICOMEXTRACTORVIEW(promptView);
  for (;;) {
    if (!view(&settings)) return false;
    if (TW_DicomExtractorAccept(settings)) break;
  }
  remembered = settings;
  VA_DICOMFILEEXTRACTOR record;
  if (TW_FillDicomExtractor(settings, &record)) TW_ExtractDICOMfilesCT(&record);
  return true;
}
