#include "dicom/DicomTree.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <filesystem>
#include <functional>
#include <map>
#include <unistd.h>

#include "ArrayHelpers.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "dicom/DicomAssembly.h"
#include "dicom/DicomRecords.h"
#include "paths/FilePaths.h"

namespace fs = std::filesystem;

namespace {

const wchar_t kTreeName[] = L"VA_FolderFullDicomTree";

struct ScannedFile {
  CString path;
  CString sourceFile{};  // the multi-frame file it was split from
  std::unique_ptr<DICOMREC> rec{};
  int kind = DCMFILE_NOT_DICOM;
  CString reason{};
};

// Reads the records of the files in blocks, in parallel within a block, reporting progress between
// blocks. False when the user stopped.
bool scanFiles(std::vector<ScannedFile>& files, int64_t progressStart, int64_t progressEnd, twk::ProgressGuard& progress) {
  const size_t block = 64;
  for (size_t begin = 0; begin < files.size(); begin += block) {
    const size_t end = std::min(files.size(), begin + block);
    tbb::parallel_for(begin, end, [&](size_t i) {
      ScannedFile& f = files[i];
      f.rec.reset(VA_ReadDicomRec(f.path, false, &f.kind, &f.reason));
    });
    if (!progress.Step(int64_t(end), int64_t(files.size()), progressStart, progressEnd)) return false;
  }
  return true;
}

CString formatDate(const CString& date) {
  if (date.GetLength() == 8) return date.Left(4) + L"-" + date.Mid(4, 2) + L"-" + date.Right(2);
  return date;
}

CString formatTimeText(const CString& time) {
  if (time.GetLength() >= 6 && std::iswdigit(time[0])) return time.Left(2) + L":" + time.Mid(2, 2) + L":" + time.Mid(4, 2);
  return time;
}

bool containsNoCase(const CString& text, const wchar_t* part) {
  if (!part || !*part) return true;
  CString a(text), b(part);
  a.MakeLower();
  b.MakeLower();
  return a.Find(b) >= 0;
}

// The text that tells the kinds of images of a series apart.
CString subSeriesKey(const DICOMREC& r) {
  CString key;
  key.Format(L"%ux%u", unsigned(r.width), unsigned(r.height));
  for (double o : r.orientation) key.AppendFormat(L" %.4f", std::fabs(o) < 5e-5 ? 0.0 : o);
  for (double s : r.pixelSpacing) {
    if (s == VOID_VALUE) key += L" -";
    else key.AppendFormat(L" %.2f", s);
  }
  if (!r.derivedKind.IsEmpty()) key += L" " + r.derivedKind;
  return key;
}

std::unique_ptr<VA_DICOMTREEITEM> newItem(VA_DICOMITEMKIND kind, VA_DICOMTREEITEM* parent) {
  auto item = std::make_unique<VA_DICOMTREEITEM>();
  item->kind = kind;
  item->parent = parent;
  item->image = kind == DCMITEM_PATIENT ? 0 : kind == DCMITEM_STUDY ? 1 : 2;
  return item;
}

// Fills a series record from its images: what volume they form.
void describeSeries(DICOMREC& series, const std::vector<const DICOMREC*>& images) {
  twk::dcm::Assembly a;
  if (twk::dcm::assemble(images, a)) {
    series.seriesDepth = a.depth;
    series.seriesTimes = a.times;
    series.seriesProblem.Empty();
  } else {
    series.seriesDepth = series.seriesTimes = 0;
    series.seriesProblem = a.problem;
  }
  series.seriesEchoTimes.clear();
  series.seriesBvalues.clear();
  for (const DICOMREC* r : images) {
    if (r->echoTime != VOID_VALUE) series.seriesEchoTimes.push_back(r->echoTime);
    if (r->bValue != VOID_VALUE) series.seriesBvalues.push_back(r->bValue);
  }
  for (auto* v : {&series.seriesEchoTimes, &series.seriesBvalues}) {
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end(), [](double x, double y) { return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(x)); }),
             v->end());
  }
  series.numChildren = uint16_t(std::min<size_t>(images.size(), 65535));
}

std::unique_ptr<DICOMREC> seriesRecord(const DICOMREC& first) {
  auto rec = std::make_unique<DICOMREC>(first);
  rec->header.clear();
  return rec;
}

// Adds the image items of a simple series or sub-series and describes it.
void fillSimpleSeries(VA_DICOMTREEITEM* series, std::vector<ScannedFile*>& images, bool imageItems) {
  std::stable_sort(images.begin(), images.end(), [](const ScannedFile* a, const ScannedFile* b) {
    if (a->rec->instanceNumber != b->rec->instanceNumber) return a->rec->instanceNumber < b->rec->instanceNumber;
    if (a->rec->sliceZ != b->rec->sliceZ) return a->rec->sliceZ < b->rec->sliceZ;
    return a->path.Compare(b->path) < 0;
  });
  std::vector<const DICOMREC*> records;
  for (ScannedFile* f : images) records.push_back(f->rec.get());
  describeSeries(*series->rec, records);
  if (!imageItems) return;
  for (ScannedFile* f : images) {
    auto item = newItem(DCMITEM_IMAGE, series);
    item->rec = std::move(f->rec);
    item->sourceFile = f->sourceFile;
    series->children.push_back(std::move(item));
  }
}

void walk(const VA_DICOMTREEITEM* item, const std::function<void(const VA_DICOMTREEITEM*)>& visit) {
  visit(item);
  for (const auto& c : item->children) walk(c.get(), visit);
}

void appendSimpleSeries(const VA_DICOMTREEITEM* item, std::vector<VA_DICOMTREEITEM*>* series) {
  walk(item, [series](const VA_DICOMTREEITEM* i) {
    if (i->IsSimpleSeries()) series->push_back(const_cast<VA_DICOMTREEITEM*>(i));
  });
}

void collectRecords(const VA_DICOMTREE* tree, std::vector<const DICOMREC*>& out) {
  for (const auto& p : tree->items)
    walk(p.get(), [&](const VA_DICOMTREEITEM* i) {
      if (i->IsImage() && i->rec) out.push_back(i->rec.get());
    });
}

CString normalisedPath(const wchar_t* path) {
  CString p(path);
  p.Replace(L'\\', L'/');
  return p;
}

// The folder in which multi-frame files are split when the caller names none. The frames are read
// as long as their records live, so the folder is removed when the process ends.
CString defaultMultiFrameFolder() {
  static const struct Folder {
    fs::path path;
    Folder() {
      std::error_code ec;
      fs::path base = fs::temp_directory_path(ec);
      if (ec) base = "/tmp";
      path = base / ("twk_multiframe_" + std::to_string(::getpid()));
    }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } folder;
  return CString::fromUtf8(folder.path.string());
}

}  // namespace

bool VA_FolderFullDicomTree(bool includeSubfolders, const VA_DICOMFOLDEROPTS* options, const wchar_t* folder,
                            const wchar_t* seriesFilter, bool combineStudies, const wchar_t* multiFrameFolder,
                            VA_DICOMTREE* tree, const wchar_t* const* files, int fileCount, DICOMREC*** records,
                            int* recordCount, int64_t* skippedCount, CString* skippedReport, bool interactive) {
  return VA_FolderGetDicomTreeAndRecArr(1, includeSubfolders, options ? options->useSeriesUid : 1, files, fileCount,
                                        folder, seriesFilter, combineStudies, multiFrameFolder, tree, records,
                                        recordCount, skippedCount, skippedReport, interactive);
}

namespace {

// The files a tree is built of: the given list, else the folder's files (and its subfolders'), in
// name order. False when the folder does not exist (reported when interactive).
bool listFiles(const wchar_t* const* files, int fileCount, const wchar_t* folder, bool includeSubfolders,
               VA_DICOMTREE* tree, std::vector<ScannedFile>& scanned, bool interactive) {
  if (files) {
    for (int i = 0; i < fileCount; ++i)
      if (files[i] && *files[i]) scanned.push_back(ScannedFile{CString(files[i])});
    return true;
  }
  if (!folder || !*folder) return false;
  tree->folder = folder;
  const fs::path root(twk::pathToNative(folder));
  std::error_code ec;
  if (!fs::is_directory(root, ec)) {
    if (interactive) twk::showNamedError(kTreeName, CString(L"Folder does not exist : ") + folder);
    return false;
  }
  std::vector<std::string> paths;
  auto add = [&](const fs::directory_entry& e) {
    std::error_code fe;
    if (e.is_regular_file(fe)) paths.push_back(e.path().string());
  };
  if (includeSubfolders) {
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end; !ec && it != end; it.increment(ec))
      add(*it);
  } else {
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) add(*it);
  }
  std::sort(paths.begin(), paths.end());
  for (const std::string& p : paths) scanned.push_back(ScannedFile{CString::fromUtf8(p)});
  return true;
}

// Multi-frame files become single-frame files of their own in the split folder; their frames are
// read into `frames`. A file that cannot be split counts as damaged. False when the user stopped.
bool splitMultiFrameFiles(std::vector<ScannedFile>& scanned, const wchar_t* multiFrameFolder,
                          std::vector<ScannedFile>& frames, twk::ProgressGuard& progress) {
  const CString splitFolder = multiFrameFolder && *multiFrameFolder ? CString(multiFrameFolder) : defaultMultiFrameFolder();
  for (size_t i = 0; i < scanned.size(); ++i) {
    ScannedFile& f = scanned[i];
    if (f.kind != DCMFILE_MULTIFRAME || !f.rec) continue;
    CString stem;
    stem.Format(L"%s_%u", PR_GetFileTitleName(f.path).GetString(), unsigned(i));
    const int n = f.rec->numberOfFrames;
    if (!TWKDCM_SplitMultiframeFile(f.path, splitFolder, stem, false, false)) {
      f.kind = DCMFILE_DAMAGED;
      f.reason = L"the frames of the multi-frame file cannot be split";
      continue;
    }
    for (int k = 1; k <= n; ++k) {
      CString name;
      name.Format(L"%s_%04u.dcm", stem.GetString(), unsigned(k));
      frames.push_back(ScannedFile{PR_JoinPath(splitFolder, name), f.path});
    }
    f.rec.reset();
  }
  return frames.empty() || scanFiles(frames, 80, 90, progress);
}

// The images among the read files; files that are not DICOM or are damaged are counted and listed
// in the tree's report.
std::vector<ScannedFile*> sortOutImages(std::vector<ScannedFile>& scanned, std::vector<ScannedFile>& frames,
                                        VA_DICOMTREE* tree) {
  std::vector<ScannedFile*> images;
  for (auto* list : {&scanned, &frames})
    for (ScannedFile& f : *list) {
      if (f.kind == DCMFILE_IMAGE && f.rec) {
        images.push_back(&f);
      } else if (f.kind == DCMFILE_NOT_DICOM || f.kind == DCMFILE_DAMAGED) {
        ++tree->skippedCount;
        tree->skippedReport += f.path + L" : " + f.reason + L"\n";
      }
    }
  return images;
}

// Patients, their studies and their series, in the order first met.
struct SeriesGroup {
  std::vector<ScannedFile*> images;
};
struct StudyGroup {
  std::map<CString, SeriesGroup> series;
  std::vector<CString> order;
};
struct PatientGroup {
  CString text;
  std::map<CString, StudyGroup> studies;
  std::vector<CString> order;
};

std::map<CString, PatientGroup> groupImages(const std::vector<ScannedFile*>& images, const wchar_t* seriesFilter,
                                            bool combineStudies, int useSeriesUid) {
  std::map<CString, PatientGroup> patients;
  for (ScannedFile* f : images) {
    const DICOMREC& r = *f->rec;
    if (!containsNoCase(r.seriesDescription, seriesFilter)) continue;
    PatientGroup& p = patients[r.patientId + L"\x01" + r.patientName];
    if (p.text.IsEmpty()) {
      p.text = r.patientName.IsEmpty() ? CString(L"(no name)") : r.patientName;
      if (!r.patientId.IsEmpty()) p.text += L" [" + r.patientId + L"]";
    }
    CString studyKey = combineStudies ? CString() : r.studyInstanceUid;
    if (!combineStudies && studyKey.IsEmpty()) studyKey = r.studyDate + L"\x01" + r.studyDescription;
    if (!p.studies.count(studyKey)) p.order.push_back(studyKey);
    StudyGroup& s = p.studies[studyKey];
    CString seriesKey = useSeriesUid ? r.seriesInstanceUid : CString();
    if (seriesKey.IsEmpty()) {
      seriesKey.Format(L"%d\x01", r.seriesNumber);
      seriesKey += r.seriesDescription + L"\x01" + r.modality;
    }
    if (!s.series.count(seriesKey)) s.order.push_back(seriesKey);
    s.series[seriesKey].images.push_back(f);
  }
  return patients;
}

// Within a diffusion series whose weighted images carry gradient directions, a weighted image
// without one is the scanner's isotropic (trace) image: derived, not a time point of the others.
void markDerivedImages(const SeriesGroup& group) {
  auto weighted = [](const DICOMREC& r) { return r.bValue != VOID_VALUE && r.bValue > 0; };
  auto directed = [](const DICOMREC& r) { return r.gradientDirection[0] != VOID_VALUE; };
  const bool anyDirected = std::any_of(group.images.begin(), group.images.end(), [&](const ScannedFile* f) {
    return weighted(*f->rec) && directed(*f->rec) && f->rec->derivedKind.IsEmpty();
  });
  if (!anyDirected) return;
  for (ScannedFile* f : group.images)
    if (weighted(*f->rec) && !directed(*f->rec) && f->rec->derivedKind.IsEmpty()) f->rec->derivedKind = L"ISOTROPIC";
}

// The series item of a group: simple, or composite with one sub-series per kind of image.
std::unique_ptr<VA_DICOMTREEITEM> seriesItem(SeriesGroup& g, VA_DICOMTREEITEM* study, bool imageItems) {
  auto series = newItem(DCMITEM_SERIES, study);
  markDerivedImages(g);
  std::map<CString, std::vector<ScannedFile*>> kinds;
  std::vector<CString> kindOrder;
  for (ScannedFile* f : g.images) {
    const CString key = subSeriesKey(*f->rec);
    if (!kinds.count(key)) kindOrder.push_back(key);
    kinds[key].push_back(f);
  }
  auto minInstance = [&](const CString& key) {
    int m = INT32_MAX;
    for (ScannedFile* f : kinds[key]) m = std::min(m, f->rec->instanceNumber);
    return m;
  };
  // Acquired images before derived ones, then by their first instance.
  auto isDerived = [&](const CString& key) { return !kinds[key].front()->rec->derivedKind.IsEmpty(); };
  std::stable_sort(kindOrder.begin(), kindOrder.end(), [&](const CString& a, const CString& b) {
    if (isDerived(a) != isDerived(b)) return !isDerived(a);
    return minInstance(a) < minInstance(b);
  });
  const DICOMREC& firstImage = *kinds[kindOrder.front()].front()->rec;
  series->rec = seriesRecord(firstImage);
  if (kindOrder.size() == 1) {
    fillSimpleSeries(series.get(), g.images, imageItems);
    return series;
  }
  series->rec->composite = 1;
  series->rec->seriesDepth = series->rec->seriesTimes = 0;
  series->rec->seriesProblem = L"The series holds images of different sizes, orientations or pixel spacings, or derived images";
  size_t largest = 0;
  for (const CString& key : kindOrder) {
    auto sub = newItem(DCMITEM_SUBSERIES, series.get());
    std::vector<ScannedFile*>& members = kinds[key];
    largest = std::max(largest, members.size());
    sub->rec = seriesRecord(*members.front()->rec);
    sub->rec->subSeriesKey = key;
    fillSimpleSeries(sub.get(), members, imageItems);
    series->children.push_back(std::move(sub));
  }
  series->rec->numChildren = uint16_t(std::min<size_t>(largest, 65535));
  return series;
}

// The tree items of the groups: patients by name, studies by date and time, series by number and
// description.
void buildTree(std::map<CString, PatientGroup>& patients, bool combineStudies, bool imageItems, VA_DICOMTREE* tree) {
  std::vector<PatientGroup*> patientOrder;
  for (auto& [key, p] : patients) patientOrder.push_back(&p);
  std::stable_sort(patientOrder.begin(), patientOrder.end(),
                   [](const PatientGroup* a, const PatientGroup* b) { return a->text.Compare(b->text) < 0; });
  for (PatientGroup* p : patientOrder) {
    auto patient = newItem(DCMITEM_PATIENT, nullptr);
    patient->text = p->text;
    std::vector<CString> studyKeys(p->order);
    auto firstOf = [&](const CString& key) { return p->studies[key].series.begin()->second.images.front()->rec.get(); };
    std::stable_sort(studyKeys.begin(), studyKeys.end(), [&](const CString& a, const CString& b) {
      const DICOMREC *ra = firstOf(a), *rb = firstOf(b);
      const int c = ra->studyDate.Compare(rb->studyDate);
      return c != 0 ? c < 0 : ra->studyTime.Compare(rb->studyTime) < 0;
    });
    for (const CString& studyKey : studyKeys) {
      StudyGroup& s = p->studies[studyKey];
      auto study = newItem(DCMITEM_STUDY, patient.get());
      const DICOMREC* first = firstOf(studyKey);
      if (combineStudies) study->text = L"Combined studies";
      else study->text = formatDate(first->studyDate) + (first->studyDescription.IsEmpty() ? CString() : L" " + first->studyDescription);
      if (study->text.IsEmpty()) study->text = L"(no date)";
      std::vector<SeriesGroup*> seriesOrder;
      for (const CString& k : s.order) seriesOrder.push_back(&s.series[k]);
      std::stable_sort(seriesOrder.begin(), seriesOrder.end(), [](const SeriesGroup* a, const SeriesGroup* b) {
        const DICOMREC *ra = a->images.front()->rec.get(), *rb = b->images.front()->rec.get();
        if (ra->seriesNumber != rb->seriesNumber) return ra->seriesNumber < rb->seriesNumber;
        return ra->seriesDescription.Compare(rb->seriesDescription) < 0;
      });
      for (SeriesGroup* g : seriesOrder) {
        tree->imageCount += int64_t(g->images.size());
        study->children.push_back(seriesItem(*g, study.get(), imageItems));
      }
      patient->children.push_back(std::move(study));
    }
    tree->items.push_back(std::move(patient));
  }
}

// Copies of the records of every image of the tree, in tree order, as a new record array.
bool copyRecords(const VA_DICOMTREE* tree, DICOMREC*** records, int* recordCount) {
  std::vector<const DICOMREC*> all;
  collectRecords(tree, all);
  if (all.empty()) return true;
  auto** out = static_cast<DICOMREC**>(pf_calloc(int64_t(all.size()) * int64_t(sizeof(DICOMREC*))));
  if (!out) return false;
  for (size_t i = 0; i < all.size(); ++i) out[i] = new DICOMREC(*all[i]);
  *records = out;
  if (recordCount) *recordCount = int(all.size());
  return true;
}

}  // namespace

bool VA_FolderGetDicomTreeAndRecArr(int imageItems, bool includeSubfolders, int useSeriesUid,
                                    const wchar_t* const* files, int fileCount, const wchar_t* folder,
                                    const wchar_t* seriesFilter, bool combineStudies, const wchar_t* multiFrameFolder,
                                    VA_DICOMTREE* tree, DICOMREC*** records, int* recordCount, int64_t* skippedCount,
                                    CString* skippedReport, bool interactive) {
  if (records) *records = nullptr;
  if (recordCount) *recordCount = 0;
  if (skippedCount) *skippedCount = 0;
  if (skippedReport) skippedReport->Empty();
  if (!tree) return false;
  tree->Clear();

  std::vector<ScannedFile> scanned, frames;
  if (!listFiles(files, fileCount, folder, includeSubfolders, tree, scanned, interactive)) return false;
  twk::ProgressGuard progress(L"Reading DICOM files", interactive);
  if (!scanFiles(scanned, 0, 80, progress) || !splitMultiFrameFiles(scanned, multiFrameFolder, frames, progress))
    return false;
  const std::vector<ScannedFile*> images = sortOutImages(scanned, frames, tree);
  std::map<CString, PatientGroup> patients = groupImages(images, seriesFilter, combineStudies, useSeriesUid);
  buildTree(patients, combineStudies, imageItems != 0, tree);

  if (skippedCount) *skippedCount = tree->skippedCount;
  if (skippedReport) *skippedReport = tree->skippedReport;
  if (interactive && tree->skippedCount > 0) {
    CString text;
    text.Format(L"%I64d files were skipped (not DICOM or damaged):\n", tree->skippedCount);
    twk::ui().messageBox(text + tree->skippedReport, L"Tarnwick", MB_OK | MB_ICONINFORMATION);
  }
  if (tree->imageCount == 0) {
    if (interactive) twk::showNamedError(kTreeName, CString(L"No DICOM images were found in ") + (folder ? folder : L"the files"));
    return false;
  }
  return !records || copyRecords(tree, records, recordCount);
}

bool VA_EnumerateTreeImageItems(const VA_DICOMTREEITEM* item, std::vector<VA_DICOMTREEITEM*>* images) {
  if (!item || !images) return false;
  images->clear();
  walk(item, [&](const VA_DICOMTREEITEM* i) {
    if (i->IsImage()) images->push_back(const_cast<VA_DICOMTREEITEM*>(i));
  });
  return true;
}

bool VA_EnumerateTreeImageItemsWithCheckedAncestors(const VA_DICOMTREE* tree, std::vector<VA_DICOMTREEITEM*>* images) {
  if (!tree || !images) return false;
  images->clear();
  std::function<void(const VA_DICOMTREEITEM*, bool)> visit = [&](const VA_DICOMTREEITEM* i, bool checked) {
    checked = checked || i->checked;
    if (i->IsImage() && checked) images->push_back(const_cast<VA_DICOMTREEITEM*>(i));
    for (const auto& c : i->children) visit(c.get(), checked);
  };
  for (const auto& p : tree->items) visit(p.get(), false);
  return true;
}

bool VA_EnumerateSimpleSeries(const VA_DICOMTREEITEM* item, std::vector<VA_DICOMTREEITEM*>* series) {
  if (!item || !series) return false;
  series->clear();
  appendSimpleSeries(item, series);
  return true;
}

bool VA_EnumerateAllSimpleSeries(const VA_DICOMTREE* tree, std::vector<VA_DICOMTREEITEM*>* series) {
  if (!tree || !series) return false;
  series->clear();
  for (const auto& p : tree->items) appendSimpleSeries(p.get(), series);
  return true;
}

VA_DICOMTREEITEM* VA_FindItemByLeafName(const VA_DICOMTREE* tree, const wchar_t* path, int kind) {
  if (!tree || !path || !*path) return nullptr;
  const CString wanted = normalisedPath(path);
  const bool isFolder = wanted[wanted.GetLength() - 1] == L'/';
  const VA_DICOMTREEITEM* found = nullptr;
  for (int pass = 0; pass < 2 && !found; ++pass) {
    for (const auto& p : tree->items) {
      walk(p.get(), [&](const VA_DICOMTREEITEM* i) {
        if (found || !i->IsImage() || !i->rec) return;
        const CString own = normalisedPath(i->rec->filePath), source = normalisedPath(i->sourceFile);
        if (isFolder) {
          if (own.Left(wanted.GetLength()) == wanted || (!source.IsEmpty() && source.Left(wanted.GetLength()) == wanted)) found = i;
        } else if (pass == 0 ? (own == wanted || source == wanted)
                             : (own.CompareNoCase(wanted) == 0 || source.CompareNoCase(wanted) == 0)) {
          found = i;
        }
      });
      if (found) break;
    }
  }
  if (!found) return nullptr;
  const VA_DICOMTREEITEM* item = found;
  switch (kind) {
    case DCMLOAD_IMAGE: break;
    case DCMLOAD_3D: item = item->parent; break;
    case DCMLOAD_4D:
      item = item->parent;
      if (item && item->IsSubSeries()) item = item->parent;
      break;
    case DCMLOAD_STUDY:
      while (item && item->kind != DCMITEM_STUDY) item = item->parent;
      break;
    default: return nullptr;
  }
  return const_cast<VA_DICOMTREEITEM*>(item);
}

bool VA_GetSimpleSeriesInfoLine(bool isSubSeries, const DICOMREC* parentSeries, const DICOMREC* series,
                                int imageCount, CString* dimensions, CString* echo, CString* time, CString* bvalues) {
  if (!series) return false;
  if (dimensions) {
    if (series->seriesDepth > 0)
      dimensions->Format(L"%ux%ux%ux%u", unsigned(series->width), unsigned(series->height), unsigned(series->seriesDepth),
                         unsigned(series->seriesTimes));
    else
      dimensions->Format(L"%ux%u, %u images", unsigned(series->width), unsigned(series->height), unsigned(std::max(0, imageCount)));
    // A mosaic holds its slices as tiles: say so until it is converted into a volume.
    if (series->mosaicImages > 1) dimensions->AppendFormat(L", mosaic of %u slices", unsigned(series->mosaicImages));
  }
  if (echo) {
    echo->Empty();
    const auto& e = series->seriesEchoTimes;
    if (e.size() == 1) echo->Format(L"%8.3lf", e[0] * 1000.0);
    else if (e.size() > 1) echo->Format(L"%.3lf-%.3lf (%u)", e.front() * 1000.0, e.back() * 1000.0, unsigned(e.size()));
  }
  if (time) *time = formatTimeText(series->acquisitionTime.IsEmpty() && parentSeries ? parentSeries->acquisitionTime : series->acquisitionTime);
  if (bvalues) {
    bvalues->Empty();
    for (size_t i = 0; i < series->seriesBvalues.size(); ++i)
      bvalues->AppendFormat(i ? L",%u" : L"%u", unsigned(std::floor(series->seriesBvalues[i] + 0.5)));
  }
  (void)isSubSeries;
  return true;
}

void VA_GetCompositeSeriesInfoLine(int width, int height, int images, int times, CString* line) {
  if (!line) return;
  if (!line->IsEmpty()) *line += L", ";
  line->AppendFormat(L"%ux%ux%u", unsigned(width), unsigned(height), unsigned(images));
  if (times > 1) line->AppendFormat(L"x%u", unsigned(times));
}

bool VA_GetVolInfo(const VA_DICOMTREEITEM* series, VA_VOLINFO* info) {
  if (!series || !info || !series->IsSimpleSeries() || !series->rec) return false;
  const DICOMREC& r = *series->rec;
  *info = VA_VOLINFO();
  info->width = r.width;
  info->height = r.height;
  info->depth = r.seriesDepth > 0 ? r.seriesDepth : r.numChildren;
  info->times = 1;
  info->pixelSpacing[0] = r.pixelSpacing[0];
  info->pixelSpacing[1] = r.pixelSpacing[1];
  info->sliceThickness = r.sliceThickness;
  std::copy(r.orientation, r.orientation + 6, info->orientation);
  info->modality = r.modality;
  return true;
}

bool VA_IsCompatibleVolInfo(const VA_VOLINFO* a, const VA_VOLINFO* b) {
  if (!a || !b) return false;
  if (a->width != b->width || a->height != b->height || a->depth != b->depth) return false;
  for (int i = 0; i < 2; ++i) {
    const double p = a->pixelSpacing[i], q = b->pixelSpacing[i];
    if ((p == VOID_VALUE) != (q == VOID_VALUE)) return false;
    if (p != VOID_VALUE && std::fabs(p - q) > twk::dcm::kPixelSpacingTolerance) return false;
  }
  for (int i = 0; i < 6; ++i)
    if (std::fabs(a->orientation[i] - b->orientation[i]) > twk::dcm::kOrientationTolerance) return false;
  return true;
}
