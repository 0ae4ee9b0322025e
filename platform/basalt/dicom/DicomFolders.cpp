#include "dicom/DicomFolders.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "dcmtk/dcmdata/dcddirif.h"
#include "dcmtk/dcmdata/dcdicdir.h"

#include "ArrayHelpers.h"
#include "TextCodec.h"
#include "OwnedPtrArray.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "dicom/DicomCore.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomTree.h"
#include "paths/FilePaths.h"

namespace fs = std::filesystem;
using namespace twk::dcm;

namespace {

fs::path nativePath(const wchar_t* p) { return fs::path(twk::pathToNative(p)); }
fs::path nativePath(const CString& p) { return fs::path(twk::pathToNative(p)); }

// Simple series and sub-series under an item that form a volume.
std::vector<const VA_DICOMTREEITEM*> volumesUnder(const VA_DICOMTREEITEM* item) {
  std::vector<VA_DICOMTREEITEM*> series;
  VA_EnumerateSimpleSeries(item, &series);
  std::vector<const VA_DICOMTREEITEM*> out;
  for (const VA_DICOMTREEITEM* i : series)
    if (i->rec && i->rec->seriesDepth > 0) out.push_back(i);
  return out;
}

bool modalityPasses(const VA_DICOMFILEEXTRACTOR& r, const DICOMREC& rec) {
  switch (r.modality) {
    case 1: return rec.modality == L"CT";
    case 2: return rec.modality == L"MR";
    case 3: return rec.modality == L"PT";
    default: return true;
  }
}

bool volumePasses(const VA_DICOMFILEEXTRACTOR& r, const VA_DICOMTREEITEM* series) {
  const DICOMREC& rec = *series->rec;
  if (!modalityPasses(r, rec)) return false;
  if (r.sliceRange && (rec.seriesDepth < r.minSlices || rec.seriesDepth > r.maxSlices)) return false;
  return true;
}

// Whether the patient's studies span at least the given number of months (of 30.44 days).
bool studiesSeparated(const VA_DICOMTREEITEM* patient, int months) {
  int64_t first = INT64_MAX, last = INT64_MIN;
  for (const auto& study : patient->children) {
    std::vector<const VA_DICOMTREEITEM*> volumes = volumesUnder(study.get());
    if (volumes.empty()) continue;
    int64_t days = 0;
    if (!parseDate(volumes.front()->rec->studyDate.toUtf8(), days)) continue;
    first = std::min(first, days);
    last = std::max(last, days);
  }
  return first <= last && double(last - first) >= double(months) * 30.44;
}

// The volumes of a patient that pass the rules, per study: (study number from 1, volumes).
std::vector<std::pair<int, std::vector<const VA_DICOMTREEITEM*>>> selectVolumes(const VA_DICOMFILEEXTRACTOR& r,
                                                                                 const VA_DICOMTREEITEM* patient) {
  std::vector<std::pair<int, std::vector<const VA_DICOMTREEITEM*>>> out;
  if (r.separatedStudies && !studiesSeparated(patient, r.months)) return out;
  for (int s = 0; s < patient->NumChildren(); ++s) {
    std::vector<const VA_DICOMTREEITEM*> chosen;
    for (const VA_DICOMTREEITEM* v : volumesUnder(patient->Child(s)))
      if (volumePasses(r, v)) chosen.push_back(v);
    if (!r.allVolumes && chosen.size() > 1) {
      auto most = std::max_element(chosen.begin(), chosen.end(), [](auto* a, auto* b) {
        return int64_t(a->rec->seriesDepth) * a->rec->seriesTimes < int64_t(b->rec->seriesDepth) * b->rec->seriesTimes;
      });
      chosen = {*most};
    }
    if (!chosen.empty()) out.emplace_back(s + 1, chosen);
  }
  return out;
}

std::vector<CString> imageFiles(const VA_DICOMTREEITEM* item) {
  std::vector<VA_DICOMTREEITEM*> images;
  VA_EnumerateTreeImageItems(item, &images);
  std::vector<CString> files;
  for (auto* i : images)
    if (i->rec) files.push_back(i->rec->filePath);
  return files;
}

int patientNumber(const VA_DICOMTREE* tree, const VA_DICOMTREEITEM* patient) {
  for (size_t i = 0; i < tree->items.size(); ++i)
    if (tree->items[i].get() == patient) return int(i) + 1;
  return 1;
}

bool copyInto(const CString& file, const fs::path& folder, const std::string& name, CString& error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  fs::copy_file(nativePath(file), folder / name, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    error = CString(L"Cannot copy ") + file + L" : " + CString::fromUtf8(ec.message());
    return false;
  }
  return true;
}

std::string imageName(size_t index, const char* extension) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "IM%06u%s", unsigned(index + 1), extension);
  return buf;
}

// Upper-case letters, digits and underscores only.
std::string folderWord(const CString& text, size_t maxLength) {
  std::string out;
  for (wchar_t c : text.wstr()) {
    if (out.size() >= maxLength) break;
    if (std::iswalnum(c) && c < 128) out.push_back(char(std::towupper(c)));
    else if (!out.empty() && out.back() != '_') out.push_back('_');
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

// All regular files in and below the folder, sorted.
std::vector<fs::path> filesBelow(const fs::path& root) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code fe;
    if (it->is_regular_file(fe)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The tree of a folder or of a list of files, read silently.
bool readTree(const wchar_t* folder, const std::vector<CString>* files, VA_DICOMTREE& tree) {
  std::vector<const wchar_t*> list;
  if (files)
    for (const CString& f : *files) list.push_back(f);
  return VA_FolderFullDicomTree(true, nullptr, folder, nullptr, false, nullptr, &tree, files ? list.data() : nullptr,
                                int(list.size()), nullptr, nullptr, nullptr, nullptr, false);
}

}  // namespace

FILESET::~FILESET() { pf_free_parr(&files, count); }

bool FILESET::Add(const wchar_t* path) {
  if (!path) return false;
  if (!pf_realloc(&files, (count + 1) * int64_t(sizeof(wchar_t*)))) return false;
  files[count] = PR_CopyString(path);
  if (!files[count]) return false;
  ++count;
  return true;
}

CString FILESET::GetCommonFolder() const {
  if (count < 1) return CString();
  CString common = PR_GetFileFolder(files[0]);
  for (int64_t i = 1; i < count && !common.IsEmpty(); ++i) {
    const CString folder = PR_GetFileFolder(files[i]);
    while (!common.IsEmpty()) {
      const int n = common.GetLength();
      if (folder.Left(n) == common && (folder.GetLength() == n || folder[n] == L'/' || folder[n] == L'\\')) break;
      common = PR_GetFileFolder(common);
    }
  }
  return common;
}

void VA_FreeFileSets(FILESET*** sets, int count) {
  if (!sets || !*sets) return;
  for (int i = 0; i < count; ++i) delete (*sets)[i];
  pf_free(sets);
}

bool VA_ExtractPatientDicoms(const VA_DICOMFILEEXTRACTOR* rules, const VA_DICOMTREE* tree,
                             const VA_DICOMTREEITEM* patient, bool multiplePatients) {
  const wchar_t* kName = L"VA_ExtractPatientDicoms";
  if (!rules || !tree || !patient || patient->kind != DCMITEM_PATIENT) return false;
  const fs::path target = nativePath(rules->targetFolder);
  if (target.empty()) {
    twk::showNamedError(kName, L"Target folder should be specified");
    return false;
  }
  const int p = patientNumber(tree, patient);
  CString error;
  for (const auto& [study, volumes] : selectVolumes(*rules, patient)) {
    for (size_t v = 0; v < volumes.size(); ++v) {
      const std::vector<CString> files = imageFiles(volumes[v]);
      const std::string patientPart = "PATIENT_" + std::to_string(p);
      const std::string studyPart = "STUDY_" + std::to_string(study);
      const std::string seriesPart = "SERIES_" + std::to_string(v + 1);
      if (rules->listFiles) {
        std::error_code ec;
        fs::create_directories(target, ec);
        const fs::path list = target / (patientPart + "_" + studyPart + "_" + seriesPart + ".txt");
        std::ofstream out(list, std::ios::binary);
        for (const CString& f : files) out << f.toUtf8() << '\n';
        out.close();
        if (!out) {
          twk::showNamedError(kName, CString(L"Cannot write ") + CString::fromUtf8(list.string()));
          return false;
        }
        continue;
      }
      fs::path folder = target;
      if (multiplePatients) folder /= patientPart;
      folder = folder / studyPart / seriesPart;
      for (size_t k = 0; k < files.size(); ++k)
        if (!copyInto(files[k], folder, imageName(k, ".dcm"), error)) {
          twk::showNamedError(kName, error);
          return false;
        }
    }
  }
  return true;
}

FILESET** VA_MakeDicomVolumeFileSets(const VA_DICOMFILEEXTRACTOR* rules, const VA_DICOMTREE* tree, int* count,
                                     bool show) {
  if (!rules || !tree || !count) return nullptr;
  *count = 0;
  std::vector<FILESET*> sets;
  auto release = [&] {
    for (FILESET* s : sets) delete s;
  };
  for (const auto& patient : tree->items)
    for (const auto& [study, volumes] : selectVolumes(*rules, patient.get()))
      for (const VA_DICOMTREEITEM* v : volumes) {
        auto* set = new FILESET;
        sets.push_back(set);
        for (const CString& f : imageFiles(v))
          if (!set->Add(f)) {
            release();
            if (show) twk::showNamedError(L"VA_MakeDicomVolumeFileSets", L"Memory allocation failure");
            return nullptr;
          }
      }
  auto** out = static_cast<FILESET**>(pf_calloc(int64_t(std::max<size_t>(sets.size(), 1)) * int64_t(sizeof(FILESET*))));
  if (!out) {
    release();
    return nullptr;
  }
  std::copy(sets.begin(), sets.end(), out);
  *count = int(sets.size());
  return out;
}

bool VA_WriteDicomDir(const wchar_t* folder, bool show) {
  const wchar_t* kName = L"VA_WriteDicomDir";
  if (!folder || !*folder) return false;
  const fs::path root = nativePath(folder);
  const fs::path dicomdir = root / "DICOMDIR";
  std::error_code ec;
  fs::remove(dicomdir, ec);
  DicomDirInterface dir;
  dir.disableConsistencyCheck();
  dir.disableTransferSyntaxCheck();
  dir.disableEncodingCheck();
  dir.disableResolutionCheck();
  dir.disableBackupMode();
  // Record keys that a file lacks (study ID, series number) are made up rather than refusing the file.
  dir.enableInventMode();
  dir.enableInventPatientIDMode();
  if (dir.createNewDicomDir(DicomDirInterface::AP_GeneralPurpose, OFFilename(dicomdir.string().c_str()), "TARNWICK").bad()) {
    if (show) twk::showNamedError(kName, CString(L"Cannot create ") + CString::fromUtf8(dicomdir.string()));
    return false;
  }
  int added = 0;
  for (const fs::path& file : filesBelow(root)) {
    if (file == dicomdir) continue;
    const std::string relative = fs::relative(file, root, ec).string();
    if (ec) continue;
    if (dir.addDicomFile(OFFilename(relative.c_str()), OFFilename(root.string().c_str())).good()) ++added;
  }
  if (added == 0 || dir.writeDicomDir().bad()) {
    if (show) twk::showNamedError(kName, CString(L"Cannot index the DICOM files of ") + folder);
    fs::remove(dicomdir, ec);
    return false;
  }
  return true;
}

bool VA_DicomTreeToFolders(const wchar_t* source, const wchar_t* target, bool writeDicomDir, bool show) {
  const wchar_t* kName = L"VA_DicomTreeToFolders";
  if (!source || !target || !*target) return false;
  VA_DICOMTREE tree;
  if (!readTree(source, nullptr, tree)) {
    if (show) twk::showNamedError(kName, CString(L"No DICOM images were found in ") + source);
    return false;
  }
  const fs::path root = nativePath(target);
  std::error_code ec;
  fs::create_directories(root, ec);
  if (!fs::is_directory(root, ec)) {
    if (show) twk::showNamedError(kName, CString(L"Unable to create a folder : ") + target);
    return false;
  }
  twk::ProgressGuard progress(L"Copying DICOM files into folders", show);
  CString error;
  int64_t done = 0;
  bool ok = true;
  for (size_t p = 0; p < tree.items.size() && ok; ++p) {
    const VA_DICOMTREEITEM* patient = tree.items[p].get();
    for (int s = 0; s < patient->NumChildren() && ok; ++s) {
      std::vector<VA_DICOMTREEITEM*> series;
      VA_EnumerateSimpleSeries(patient->Child(s), &series);
      for (size_t e = 0; e < series.size() && ok; ++e) {
        // A DICOMDIR allows names of at most eight characters.
        char names[3][24];
        if (writeDicomDir) {
          std::snprintf(names[0], 24, "PAT%05u", unsigned(p + 1));
          std::snprintf(names[1], 24, "STU%05u", unsigned(s + 1));
          std::snprintf(names[2], 24, "SER%05u", unsigned(e + 1));
        } else {
          std::snprintf(names[0], 24, "PATIENT_%u", unsigned(p + 1));
          std::snprintf(names[1], 24, "STUDY_%u", unsigned(s + 1));
          std::snprintf(names[2], 24, "SERIES_%u", unsigned(e + 1));
        }
        const fs::path folder = root / names[0] / names[1] / names[2];
        const std::vector<CString> files = imageFiles(series[e]);
        for (size_t k = 0; k < files.size() && ok; ++k) {
          ok = copyInto(files[k], folder, imageName(k, ""), error);
          if (ok && !progress.Step(++done, tree.imageCount)) ok = false;  // Esc: stopped, no message
        }
      }
    }
  }
  progress.End();
  if (!ok) {
    if (show && !error.IsEmpty()) twk::showNamedError(kName, error);
    return false;
  }
  return !writeDicomDir || VA_WriteDicomDir(target, show);
}

bool VA_DICOMDIRtoFileFolders(bool includePatientName, const wchar_t* source, const wchar_t* target, bool show) {
  const wchar_t* kName = L"VA_DICOMDIRtoFileFolders";
  if (!source || !target || !*target) return false;
  // The files a DICOMDIR lists, when the folder has one.
  std::vector<CString> listed;
  const fs::path root = nativePath(source);
  const fs::path dicomdir = root / "DICOMDIR";
  std::error_code ec;
  if (fs::is_regular_file(dicomdir, ec)) {
    DcmDicomDir dir(OFFilename(dicomdir.string().c_str()));
    std::function<void(DcmDirectoryRecord*)> visit = [&](DcmDirectoryRecord* record) {
      if (!record) return;
      std::string id;
      if (getText(record, DCM_ReferencedFileID, id)) {
        std::replace(id.begin(), id.end(), '\\', '/');
        listed.push_back(CString::fromUtf8((root / id).string()));
      }
      for (unsigned long i = 0; i < record->cardSub(); ++i) visit(record->getSub(i));
    };
    if (dir.error().good()) visit(&dir.getRootRecord());
  }
  VA_DICOMTREE tree;
  if (!readTree(listed.empty() ? source : nullptr, listed.empty() ? nullptr : &listed, tree)) {
    if (show) twk::showNamedError(kName, CString(L"No DICOM images were found in ") + source);
    return false;
  }
  const fs::path out = nativePath(target);
  CString error;
  for (size_t p = 0; p < tree.items.size(); ++p) {
    const VA_DICOMTREEITEM* patient = tree.items[p].get();
    std::string patientFolder;
    if (includePatientName) {
      std::vector<VA_DICOMTREEITEM*> images;
      VA_EnumerateTreeImageItems(patient, &images);
      const DICOMREC* rec = images.empty() ? nullptr : images.front()->rec.get();
      if (rec) patientFolder = folderWord(rec->patientName + L" " + rec->patientId, 64);
    }
    if (patientFolder.empty()) patientFolder = "PATIENT_" + std::to_string(p + 1);
    for (int s = 0; s < patient->NumChildren(); ++s) {
      std::vector<VA_DICOMTREEITEM*> series;
      VA_EnumerateSimpleSeries(patient->Child(s), &series);
      if (series.empty()) continue;
      const DICOMREC& first = *series.front()->rec;
      std::string studyFolder = "STUDY_" + std::to_string(s + 1);
      if (!first.studyDate.IsEmpty()) studyFolder += "_" + folderWord(first.studyDate, 8);
      for (size_t e = 0; e < series.size(); ++e) {
        const DICOMREC& rec = *series[e]->rec;
        std::string seriesFolder = "SERIES_" + std::to_string(rec.seriesNumber);
        const std::string words = folderWord(rec.seriesDescription, 40);
        if (!words.empty()) seriesFolder += "_" + words;
        if (series[e]->IsSubSeries()) seriesFolder += "_" + std::to_string(e + 1);
        const std::vector<CString> files = imageFiles(series[e]);
        for (size_t k = 0; k < files.size(); ++k)
          if (!copyInto(files[k], out / patientFolder / studyFolder / seriesFolder, imageName(k, ".dcm"), error)) {
            if (show) twk::showNamedError(kName, error);
            return false;
          }
      }
    }
  }
  return true;
}

bool VA_DeidentifyDicomFolder(const wchar_t* source, const wchar_t* target, bool show, int64_t* changedFiles) {
  const wchar_t* kName = L"VA_DeidentifyDicomFolder";
  if (changedFiles) *changedFiles = 0;
  if (!source || !*source) return false;
  const fs::path from = nativePath(source);
  std::error_code ec;
  if (!fs::is_directory(from, ec)) {
    if (show) twk::showNamedError(kName, CString(L"Folder does not exist : ") + source);
    return false;
  }
  const bool inPlace = !target || !*target || fs::equivalent(from, nativePath(target), ec);
  const fs::path to = inPlace ? from : nativePath(target);
  const std::vector<fs::path> files = filesBelow(from);
  twk::ProgressGuard progress(L"De-identifying DICOM files", show);
  int64_t changed = 0;
  bool ok = true;
  for (size_t i = 0; i < files.size() && ok; ++i) {
    const CString path = CString::fromUtf8(files[i].string());
    DCMFF* header = TWKDCM_LoadDcmFF(path);
    if (!header) continue;  // not a DICOM file
    twk::OwnedPtrArray<CString> phi;
    TWKDCM_ExtractPHIrecords(header, phi.Items(), phi.CountPtr());
    const int64_t n = phi.Count();
    phi.Reset();
    TWKDCM_DeleteFF(&header);
    const fs::path out = to / fs::relative(files[i], from, ec);
    if (!inPlace) fs::create_directories(out.parent_path(), ec);
    if (n > 0) {
      ok = TWKDCM_DeidentifyFile(path, inPlace ? nullptr : CString::fromUtf8(out.string()).GetString());
      ++changed;
    } else if (!inPlace) {
      fs::copy_file(files[i], out, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        if (show) twk::showNamedError(kName, CString(L"Cannot copy ") + path + L" : " + CString::fromUtf8(ec.message()));
        ok = false;
      }
    }
    if (!progress.Step(int64_t(i + 1), int64_t(files.size()))) ok = false;
  }
  progress.End();
  if (changedFiles) *changedFiles = changed;
  if (ok && show && changed == 0) twk::ui().messageBox(L"No PHI is present", L"Tarnwick", MB_OK | MB_ICONINFORMATION);
  return ok;
}

CString VA_FindOneDicomFileInFolder(const wchar_t* folder, bool show) {
  if (!folder || !*folder) return CString();
  for (const fs::path& file : filesBelow(nativePath(folder))) {
    int kind = DCMFILE_NOT_DICOM;
    const CString path = CString::fromUtf8(file.string());
    std::unique_ptr<DICOMREC> rec(VA_ReadDicomRec(path, false, &kind, nullptr));
    if (rec && (kind == DCMFILE_IMAGE || kind == DCMFILE_MULTIFRAME)) return path;
  }
  if (show) twk::showNamedError(L"VA_FindOneDicomFileInFolder", CString(L"No DICOM file found in ") + folder);
  return CString();
}

double* VA_EnumerateAllBvalsInDicomFolder(const wchar_t* folder, int* count, bool show) {
  if (count) *count = 0;
  if (!folder || !count) return nullptr;
  VA_DICOMTREE tree;
  DICOMREC** records = nullptr;
  int n = 0;
  std::set<double> values;
  if (VA_FolderFullDicomTree(true, nullptr, folder, nullptr, false, nullptr, &tree, nullptr, 0, &records, &n, nullptr,
                             nullptr, false)) {
    for (int i = 0; i < n; ++i)
      if (records[i]->bValue != VOID_VALUE) values.insert(records[i]->bValue);
  }
  TW_FreeDicomRecArray(&records, n);
  if (values.empty()) {
    if (show) twk::showNamedError(L"VA_EnumerateAllBvalsInDicomFolder", CString(L"No diffusion b-values were found in ") + folder);
    return nullptr;
  }
  auto* out = static_cast<double*>(pf_malloc(int64_t(values.size()) * 8));
  if (!out) return nullptr;
  std::copy(values.begin(), values.end(), out);
  *count = int(values.size());
  return out;
}

bool VA_DicomFolderTotalPixSize(const wchar_t* folder, int64_t* totalSize, int64_t* pixelSize, bool show) {
  if (!folder || !totalSize || !pixelSize) return false;
  *totalSize = *pixelSize = 0;
  const fs::path root = nativePath(folder);
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    if (show) twk::showNamedError(L"VA_DicomFolderTotalPixSize", CString(L"Folder does not exist : ") + folder);
    return false;
  }
  for (const fs::path& file : filesBelow(root)) {
    const CString path = CString::fromUtf8(file.string());
    int64_t pixels = 0;
    CString syntax;
    if (!TWKDCM_GetPixelDataInfo(path, &pixels, &syntax)) continue;
    *totalSize += int64_t(fs::file_size(file, ec));
    *pixelSize += pixels;
  }
  return true;
}

CString VA_VolDicomDifference(const wchar_t* first, const wchar_t* second, bool show) {
  DcmFileFormat a, b;
  std::string why;
  for (auto [path, file] : {std::pair{first, &a}, std::pair{second, &b}})
    if (!path || !loadFile(native(path), *file, false, &why)) {
      if (show) twk::showNamedError(L"VA_VolDicomDifference", CString(L"Cannot read ") + (path ? path : L"") + L" : " + CString::fromUtf8(why));
      return CString();
    }
  // Top-level elements of each data set, by tag, with their values as text (pixel data left out).
  auto elements = [](DcmFileFormat& f) {
    std::map<DcmTagKey, std::string> out;
    DcmDataset* d = f.getDataset();
    for (unsigned long i = 0; i < d->card(); ++i) {
      DcmElement* e = d->getElement(i);
      if (!e || e->getTag() == DCM_PixelData) continue;
      std::string value;
      if (e->ident() == EVR_SQ) {
        value = "<sequence of " + std::to_string(static_cast<DcmSequenceOfItems*>(e)->card()) + " items>";
      } else if (e->getLength() > 1024) {
        value = "<" + std::to_string(e->getLength()) + " bytes>";
      } else {
        OFString s;
        if (e->getOFStringArray(s).good()) value = s.c_str();
      }
      out[e->getTag()] = value;
    }
    return out;
  };
  const auto ea = elements(a), eb = elements(b);
  std::set<DcmTagKey> tags;
  for (const auto& [k, v] : ea) tags.insert(k);
  for (const auto& [k, v] : eb) tags.insert(k);
  CString text;
  for (const DcmTagKey& k : tags) {
    const auto ia = ea.find(k), ib = eb.find(k);
    const std::string va = ia == ea.end() ? "-" : ia->second, vb = ib == eb.end() ? "-" : ib->second;
    if (ia != ea.end() && ib != eb.end() && va == vb) continue;
    CString line;
    line.Format(L"(%04X,%04X) %S : %S | %S\n", unsigned(k.getGroup()), unsigned(k.getElement()), DcmTag(k).getTagName(),
                va.c_str(), vb.c_str());
    text += line;
  }
  return text.IsEmpty() ? CString(L"The headers are identical") : text;
}
