#include "dicom/DicomVolume.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <limits>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "ArrayHelpers.h"
#include "OwnedPtrArray.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "DicomDecode.h"
#include "dicom/DicomAssembly.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomTree.h"
#include "dicom/DicomWrite.h"
#include "docsupport/DocSupport.h"
#include "paths/FilePaths.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::dcm;

namespace {

int modalityCode(const CString& text) {
  if (text == L"CT") return MODALITY_CT;
  if (text == L"MR") return MODALITY_MR;
  if (text == L"PT") return MODALITY_PET;
  return MODALITY_UNKNOWN;
}

bool needsReal(const DICOMREC& r) {
  return r.rescaleSlope != 1.0 || r.rescaleIntercept != 0.0 || r.pixelRepresentation == 1 || r.modalityLut || r.floatPixels;
}

// Same record: the same object, or the same file and instance.
bool sameRecord(const DICOMREC* a, const DICOMREC* b) {
  return a == b || (a->filePath == b->filePath && a->sopInstanceUid == b->sopInstanceUid);
}

// Dynamic coordinates of the time points from their records (records in volume order).
void dynamicsFromRecords(DICOMREC* const* records, int D, int T, DYNCRD* dyn) {
  std::vector<const DICOMREC*> all(records, records + int64_t(D) * T);
  const bool stored = std::all_of(all.begin(), all.end(), [](auto* r) { return r->dynStored; });
  for (int t = 0; t < T; ++t) {
    const DICOMREC& r = *records[int64_t(t) * D];
    dyn[t] = r.dyn;
    dyn[t].spinLockTime = stored ? r.dyn.spinLockTime : VOID_VALUE;
  }
  if (stored) return;
  // Times: the earliest image of each time point on the first clock that every image has and that
  // tells the time points apart: acquisition date and time, time of day, trigger time, frame
  // reference time (PET); else the time point's number.
  using Clock = double (*)(const DICOMREC&);
  const Clock clocks[] = {[](const DICOMREC& r) { return r.acquisitionDateTime; },
                          [](const DICOMREC& r) { return r.acquisitionSeconds; },
                          [](const DICOMREC& r) { return r.triggerTime; },
                          [](const DICOMREC& r) { return r.frameReferenceTime; }};
  std::vector<double> start(size_t(T), 0.0), duration(size_t(T), VOID_VALUE);
  bool found = false;
  for (Clock clock : clocks) {
    if (!std::all_of(all.begin(), all.end(), [&](auto* r) { return clock(*r) != VOID_VALUE; })) continue;
    for (int t = 0; t < T; ++t) {
      double earliest = VOID_VALUE;
      for (int z = 0; z < D; ++z) earliest = std::min(earliest, clock(*records[int64_t(t) * D + z]));
      start[size_t(t)] = earliest;
    }
    found = T == 1 || std::any_of(start.begin(), start.end(), [&](double v) { return v != start[0]; });
    if (found) break;
  }
  for (int t = 0; t < T; ++t) {
    if (!found) start[size_t(t)] = double(t);
    duration[size_t(t)] = records[int64_t(t) * D]->frameDuration;
  }
  for (int t = 0; t < T; ++t) dyn[t].time = start[size_t(t)] - start[0];
  for (int t = 0; t < T; ++t) {
    if (t + 1 < T) dyn[t].timeEnd = dyn[t + 1].time;
    else if (duration[size_t(t)] != VOID_VALUE) dyn[t].timeEnd = dyn[t].time + duration[size_t(t)];
    else if (T > 1) dyn[t].timeEnd = dyn[t].time + (dyn[t].time - dyn[t - 1].time);
    else dyn[t].timeEnd = dyn[t].time;
  }
}

// How the stored values of one image become voxel values: its Modality LUT, else its rescale.
struct ValueMap {
  double slope = 1, intercept = 0;
  std::vector<double> lut;  // entry k is the value of the stored value lutFirst + k
  double lutFirst = 0;

  bool read(DcmItem* data, const DICOMREC& rec, bool signedPixels, std::string* why) {
    slope = rec.rescaleSlope;
    intercept = rec.rescaleIntercept;
    lut.clear();
    DcmItem* item = nullptr;
    if (data->findAndGetSequenceItem(DCM_ModalityLUTSequence, item, 0).bad() || !item) return true;
    double entries = 0, first = 0, bits = 0;
    if (!getNumber(item, DCM_LUTDescriptor, entries, 0) || !getNumber(item, DCM_LUTDescriptor, first, 1) ||
        !getNumber(item, DCM_LUTDescriptor, bits, 2) || !(bits >= 1 && bits <= 16)) {
      if (why) *why = "the Modality LUT has no valid descriptor";
      return false;
    }
    if (entries == 0) entries = 65536;
    // The first value mapped is signed when the stored values are, whatever the descriptor's VR.
    if (signedPixels && first > 32767) first -= 65536;
    DcmElement* data16 = nullptr;
    Uint16* values = nullptr;
    if (item->findAndGetElement(DCM_LUTData, data16).bad() || !data16 || data16->getUint16Array(values).bad() || !values ||
        int64_t(data16->getLength() / 2) < int64_t(entries)) {
      if (why) *why = "the Modality LUT holds fewer values than its descriptor gives";
      return false;
    }
    const uint32_t mask = bits >= 16 ? 0xFFFFu : (1u << int(bits)) - 1u;
    lut.resize(size_t(entries));
    for (size_t k = 0; k < lut.size(); ++k) lut[k] = double(values[k] & mask);
    lutFirst = first;
    return true;
  }

  void apply(double* row, int n) const {
    if (!lut.empty()) {
      const double last = double(lut.size() - 1);
      for (int x = 0; x < n; ++x) row[x] = lut[size_t(std::clamp(row[x] - lutFirst, 0.0, last))];
    } else if (slope != 1.0 || intercept != 0.0) {
      for (int x = 0; x < n; ++x) row[x] = row[x] * slope + intercept;
    }
  }
};

// Reads an image's voxel values into slice z of time point t, row by row straight into the frame
// (real frames) or through one row of values (integer frames, clamped to the voxel type).
template <class V>
void storeSlice(FRAME* frame, int z, int t, const twk::dicom::PixelReader& reader, const ValueMap& map,
                std::vector<double>& row) {
  const int W = frame->dim.w, H = frame->dim.h;
  row.resize(size_t(W));
  for (int y = 0; y < H; ++y) {
    V* line = reinterpret_cast<V*>(twk::frameLine(frame, y, z, t));
    if constexpr (std::is_same_v<V, double>) {
      reader.row(0, y, line);
      map.apply(line, W);
    } else {
      reader.row(0, y, row.data());
      map.apply(row.data(), W);
      const double top = double(std::numeric_limits<V>::max());
      for (int x = 0; x < W; ++x) line[x] = V(std::clamp(std::nearbyint(row[size_t(x)]), 0.0, top));
    }
  }
}

// The cause of the last failed voxel load of this thread (see VA_GetDicomLoadError).
thread_local CString t_loadError;

// Frees a pf_malloc array of new CStrings.
bool appendLines(const std::vector<CString>& lines, CString*** records, int64_t* count) {
  if (lines.empty()) return true;
  const int64_t n = *count + int64_t(lines.size());
  if (!pf_realloc(records, n * int64_t(sizeof(CString*)))) return false;
  for (size_t i = 0; i < lines.size(); ++i) (*records)[*count + int64_t(i)] = new CString(lines[i]);
  *count = n;
  return true;
}

// The identifying facts of a record, for records without a readable header: listed as its PHI and
// cleared by de-identification (a document writes them into the basic header it makes).
struct PhiFact {
  const wchar_t* label;
  CString DICOMREC::*member;
};
const PhiFact kPhiFacts[] = {
    {L"(0010,0010) PatientName", &DICOMREC::patientName},
    {L"(0010,0020) PatientID", &DICOMREC::patientId},
    {L"(0010,0030) PatientBirthDate", &DICOMREC::patientBirthDate},
    {L"(0010,0040) PatientSex", &DICOMREC::patientSex},
    {L"(0008,0020) StudyDate", &DICOMREC::studyDate},
    {L"(0008,0030) StudyTime", &DICOMREC::studyTime},
    {L"(0008,1030) StudyDescription", &DICOMREC::studyDescription},
};

}  // namespace

bool VA_CheckCompatibleAndGetCommonDimensions(const VA_DICOMTREE* tree, VA_DICOMTREEITEM* const* series, int seriesCount,
                                              DICOMREC** records, int recordCount, DIM3D* dims, int* seriesCombined,
                                              bool show) {
  const wchar_t* kName = L"VA_CheckCompatibleAndGetCommonDimensions";
  if (!tree || !series || seriesCount < 1 || !dims) return false;
  std::vector<const DICOMREC*> images;
  for (int s = 0; s < seriesCount; ++s) {
    std::vector<VA_DICOMTREEITEM*> items;
    if (!series[s] || !VA_EnumerateTreeImageItems(series[s], &items)) return false;
    for (VA_DICOMTREEITEM* i : items)
      if (i->rec) images.push_back(i->rec.get());
  }
  // Derived images join acquired ones never: with both at hand, the volume is the acquired one.
  if (std::any_of(images.begin(), images.end(), [](const DICOMREC* r) { return r->derivedKind.IsEmpty(); }))
    images.erase(std::remove_if(images.begin(), images.end(), [](const DICOMREC* r) { return !r->derivedKind.IsEmpty(); }),
                 images.end());
  Assembly a;
  if (!assemble(images, a)) {
    if (show) twk::showNamedError(kName, a.problem);
    return false;
  }
  if (records) {
    // The volume's records first, in volume order, then the others.
    std::vector<DICOMREC*> pool(records, records + std::max(0, recordCount));
    std::vector<DICOMREC*> ordered;
    std::vector<bool> used(pool.size(), false);
    std::unordered_multimap<std::wstring, size_t> byPath;
    for (size_t k = 0; k < pool.size(); ++k)
      if (pool[k]) byPath.emplace(pool[k]->filePath.wstr(), k);
    for (const DICOMREC* want : a.order) {
      size_t found = pool.size();
      auto [first, last] = byPath.equal_range(want->filePath.wstr());
      for (auto it = first; it != last && found == pool.size(); ++it)
        if (!used[it->second] && sameRecord(pool[it->second], want)) found = it->second;
      if (found == pool.size()) {
        if (show) twk::showNamedError(kName, L"The records do not belong to the tree's images");
        return false;
      }
      used[found] = true;
      ordered.push_back(pool[found]);
    }
    for (size_t k = 0; k < pool.size(); ++k)
      if (!used[k]) ordered.push_back(pool[k]);
    std::copy(ordered.begin(), ordered.end(), records);
  }
  dims->w = a.order.front()->width;
  dims->h = a.order.front()->height;
  dims->d = a.depth;
  dims->t = a.times;
  if (seriesCombined) *seriesCombined = seriesCount;
  return true;
}

CVol* VA_LoadByItem_VolHeader(const DIM3D* dims, DICOMREC* const* records, const SPC* spacing, FRMTYPE* kind,
                              bool interactive) {
  if (!dims || !records || dims->w < 1 || dims->h < 1 || dims->d < 1 || dims->t < 1) return nullptr;
  const int D = dims->d, T = dims->t;
  const int64_t n = int64_t(D) * T;
  for (int64_t i = 0; i < n; ++i)
    if (!records[i]) return nullptr;
  auto vol = std::make_unique<CVol>();
  const DICOMREC& first = *records[0];
  vol->modality = modalityCode(first.modality);
  vol->unit = first.unit;
  if (validOrientation(first.orientation)) std::copy(first.orientation, first.orientation + 6, vol->orient);
  vol->spc.x = first.pixelSpacing[0] != VOID_VALUE ? first.pixelSpacing[0] : 1.0;
  vol->spc.y = first.pixelSpacing[1] != VOID_VALUE ? first.pixelSpacing[1] : 1.0;

  double normal[3];
  sliceNormal(vol->orient, normal);
  bool allPositions = true;
  for (int z = 0; z < D; ++z)
    for (double c : records[z]->imagePosition) allPositions = allPositions && c != VOID_VALUE;
  double z = VOID_VALUE;
  if (allPositions && D > 1) {
    auto along = [&](const DICOMREC* r) {
      return r->imagePosition[0] * normal[0] + r->imagePosition[1] * normal[1] + r->imagePosition[2] * normal[2];
    };
    z = std::fabs(along(records[D - 1]) - along(records[0])) / double(D - 1);
  } else if (D > 1) {
    std::vector<double> zs;
    for (int k = 0; k < D; ++k) zs.push_back(records[k]->sliceZ);
    if (std::none_of(zs.begin(), zs.end(), [](double v) { return v == VOID_VALUE; })) z = std::fabs(zs.back() - zs.front()) / double(D - 1);
  }
  if (!(z > 0) || z == VOID_VALUE)
    z = first.spacingBetweenSlices != VOID_VALUE ? first.spacingBetweenSlices
        : first.sliceThickness != VOID_VALUE     ? first.sliceThickness
                                                 : 1.0;
  vol->spc.z = z;
  if (spacing) vol->spc = *spacing;

  vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(D) * int64_t(sizeof(DPOINT3D))));
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(T) * int64_t(sizeof(DYNCRD))));
  vol->dicom = static_cast<DICOMREC**>(pf_calloc(n * int64_t(sizeof(DICOMREC*))));
  if (!vol->imgPos || !vol->dyn || !vol->dicom) {
    if (interactive) twk::showNamedError(L"VA_LoadByItem_VolHeader", L"Memory allocation failure");
    return nullptr;
  }
  vol->numDicom = n;
  for (int64_t i = 0; i < n; ++i) vol->dicom[i] = new DICOMREC(*records[i]);
  const DPOINT3D origin = first.imagePosition[0] != VOID_VALUE && first.imagePosition[1] != VOID_VALUE &&
                                  first.imagePosition[2] != VOID_VALUE
                              ? DPOINT3D{first.imagePosition[0], first.imagePosition[1], first.imagePosition[2]}
                              : DPOINT3D{};
  for (int k = 0; k < D; ++k) {
    if (allPositions) {
      vol->imgPos[k] = DPOINT3D{records[k]->imagePosition[0], records[k]->imagePosition[1], records[k]->imagePosition[2]};
    } else {
      vol->imgPos[k] = DPOINT3D{origin.x + normal[0] * vol->spc.z * k, origin.y + normal[1] * vol->spc.z * k,
                                origin.z + normal[2] * vol->spc.z * k};
    }
  }
  dynamicsFromRecords(records, D, T, vol->dyn);

  if (kind) {
    bool real = false;
    for (int64_t i = 0; i < n; ++i) real = real || needsReal(*records[i]);
    *kind = real ? FRM_REAL : FRM_INT;
  }
  return vol.release();
}

bool VA_LoadByItem_CreateFrame(CVol* vol, const DIM3D* dims, FRMTYPE kind) {
  if (!vol || !dims || (kind != FRM_INT && kind != FRM_REAL)) return false;
  bool wide = false;
  for (int64_t i = 0; vol->dicom && i < vol->numDicom; ++i) wide = wide || (vol->dicom[i] && vol->dicom[i]->bitsAllocated > 16);
  FRAME* frame = kind == FRM_REAL ? VA_VolCreateUniform(FRM_REAL, *dims, VOID_VALUE)
                                  : VA_VolCreateUniform(FRM_INT, *dims, VOID_VALUE, wide ? 32 : 16);
  if (!frame) return false;
  PR_FrameDelete(&vol->frame);
  vol->frame = frame;
  return true;
}

bool VA_LoadByItem_VolData(CVol* vol, bool interactive) {
  const wchar_t* kName = L"VA_LoadByItem_VolData";
  if (!vol || !vol->frame || !vol->dicom || !vol->imgPos) return false;
  FRAME* frame = vol->frame;
  const int D = vol->D(), T = vol->T();
  const int64_t n = int64_t(D) * T;
  if (vol->numDicom < n) {
    if (interactive) twk::showNamedError(kName, L"The volume has fewer DICOM records than slices");
    return false;
  }
  const twk::VoxelElem elem = twk::voxelElemOf(frame);
  if (elem == twk::VoxelElem::Invalid || elem == twk::VoxelElem::Bit) return false;

  TWKDCM_DJDecodeRegister();
  struct DecodersGuard {
    ~DecodersGuard() { TWKDCM_DJDecodeClean(); }
  } guard;
  twk::ProgressGuard progress(L"Loading DICOM images", interactive);
  std::mutex errorMutex;
  CString error;
  std::atomic<bool> failed{false};
  const int64_t block = 32;
  bool stopped = false;
  for (int64_t begin = 0; begin < n && !failed && !stopped; begin += block) {
    const int64_t end = std::min(n, begin + block);
    tbb::parallel_for(begin, end, [&](int64_t i) {
      if (failed) return;
      DICOMREC& rec = *vol->dicom[i];
      auto report = [&](const std::string& why) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!failed.exchange(true)) error = CString(L"Cannot read the pixels of ") + rec.filePath + L" : " + CString::fromUtf8(why);
      };
      DcmFileFormat file;
      std::string why;
      if (rec.filePath.IsEmpty() || !loadFile(native(rec.filePath), file, true, &why)) return report(why.empty() ? "no file" : why);
      twk::dicom::PixelReader reader;
      ValueMap map;
      if (!twk::dicom::decodeToNative(file, &why) || !reader.open(file, &why) ||
          !map.read(file.getDataset(), rec, reader.description().isSigned, &why))
        return report(why);
      const twk::dicom::PixelDescription& format = reader.description();
      if (format.columns != frame->dim.w || format.rows != frame->dim.h) return report("the image size differs from the volume's");
      const int t = int(i / D), z = int(i % D);
      thread_local std::vector<double> row;
      switch (elem) {
        case twk::VoxelElem::U8: storeSlice<uint8_t>(frame, z, t, reader, map, row); break;
        case twk::VoxelElem::U16: storeSlice<uint16_t>(frame, z, t, reader, map, row); break;
        case twk::VoxelElem::U32: storeSlice<uint32_t>(frame, z, t, reader, map, row); break;
        case twk::VoxelElem::F64: storeSlice<double>(frame, z, t, reader, map, row); break;
        default: break;
      }
      if (rec.header.empty()) rec.header = headerBlock(file);
    });
    if (!progress.Step(end, n)) stopped = true;
  }
  progress.End();
  if (failed) {
    t_loadError = error;
    if (interactive) twk::showNamedError(kName, error);
    return false;
  }
  t_loadError = stopped ? CString(L"Stopped by the user") : CString();
  return !stopped;
}

CString VA_GetDicomLoadError() { return t_loadError; }

CVol* VA_LoadDicomVolume(const wchar_t* const* files, int count, bool show) {
  VA_DICOMTREE tree;
  DICOMREC** records = nullptr;
  int recordCount = 0;
  if (!VA_FolderFullDicomTree(false, nullptr, nullptr, nullptr, true, nullptr, &tree, files, count, &records,
                              &recordCount, nullptr, nullptr, show))
    return nullptr;
  struct Free {
    DICOMREC*** r;
    int* n;
    ~Free() { TW_FreeDicomRecArray(r, *n); }
  } freeRecords{&records, &recordCount};
  std::vector<VA_DICOMTREEITEM*> series;
  VA_EnumerateAllSimpleSeries(&tree, &series);
  DIM3D dims;
  int combined = 0;
  if (!VA_CheckCompatibleAndGetCommonDimensions(&tree, series.data(), int(series.size()), records, recordCount, &dims,
                                                &combined, show))
    return nullptr;
  FRMTYPE kind = FRM_INT;
  std::unique_ptr<CVol> vol(VA_LoadByItem_VolHeader(&dims, records, nullptr, &kind, show));
  if (!vol || !VA_LoadByItem_CreateFrame(vol.get(), &dims, kind) || !VA_LoadByItem_VolData(vol.get(), show)) return nullptr;
  CString name;
  VA_ConstructVolumeName(vol->dicom[0], true, true, 16, PR_GetFileFolder(records[0]->filePath), L"", &name);
  vol->name = name;
  return vol.release();
}

bool VA_DicomSliceSpacing(const DICOMREC* const* records, int depth, VA_SLICESPACING* result) {
  if (!records || depth < 1 || !result) return false;
  *result = VA_SLICESPACING();
  for (int i = 0; i < depth; ++i) {
    if (!records[i]) return false;
    if (records[i]->sliceZ == VOID_VALUE) {
      result->undefinedSlice = i;
      if (records[0]->sliceThickness != VOID_VALUE) {
        result->spacing = records[0]->sliceThickness;
        return true;
      }
      return false;
    }
  }
  if (depth < 2) {
    result->spacing = records[0]->sliceThickness;
    return true;
  }
  std::vector<double> d;
  for (int i = 0; i + 1 < depth; ++i) d.push_back(std::fabs(records[i + 1]->sliceZ - records[i]->sliceZ));
  double mean = 0;
  for (double v : d) mean += v;
  mean /= double(d.size());
  int k = 0;
  for (int i = 1; i < int(d.size()); ++i)
    if (std::fabs(mean - d[size_t(i)]) > std::fabs(mean - d[size_t(k)])) k = i;
  result->spacing = mean;
  result->pair = k;
  result->pairDistance = d[size_t(k)];
  result->irregular = std::fabs(mean - d[size_t(k)]) > 0.01;
  return true;
}

bool VA_VolEnsurePositiveOrient(CVol* vol, bool show) {
  if (!vol || !vol->frame) return false;
  const int D = vol->D(), T = vol->T();
  if (D < 2 || !vol->imgPos) return true;
  double n[3];
  sliceNormal(vol->orient, n);
  const DPOINT3D &a = vol->imgPos[0], &b = vol->imgPos[D - 1];
  if ((b.x - a.x) * n[0] + (b.y - a.y) * n[1] + (b.z - a.z) * n[2] >= 0) return true;
  FRAME* f = vol->frame;
  const int64_t sliceBytes = f->lineBytes * f->dim.h;
  std::vector<uint8_t> swap(static_cast<size_t>(sliceBytes));
  for (int t = 0; t < T; ++t)
    for (int z = 0; z < D / 2; ++z) {
      uint8_t* p = twk::frameLine(f, 0, z, t);
      uint8_t* q = twk::frameLine(f, 0, D - 1 - z, t);
      std::memcpy(swap.data(), p, size_t(sliceBytes));
      std::memcpy(p, q, size_t(sliceBytes));
      std::memcpy(q, swap.data(), size_t(sliceBytes));
    }
  std::reverse(vol->imgPos, vol->imgPos + D);
  if (vol->dicom && vol->numDicom == int64_t(D) * T)
    for (int t = 0; t < T; ++t) std::reverse(vol->dicom + int64_t(t) * D, vol->dicom + int64_t(t + 1) * D);
  (void)show;
  return true;
}

bool VA_VolSetWiHi(CVol* vol, int width, int height) {
  if (!vol || width < 1 || height < 1 || width > 65535 || height > 65535) return false;
  for (int64_t i = 0; vol->dicom && i < vol->numDicom; ++i)
    if (vol->dicom[i]) {
      vol->dicom[i]->width = uint16_t(width);
      vol->dicom[i]->height = uint16_t(height);
    }
  return true;
}

bool VA_VolIsTSLdata(const CVol* vol) {
  std::vector<double> values;
  if (!VA_VolExtractTSLdata(vol, &values, nullptr) || values.size() < 2) return false;
  return std::any_of(values.begin(), values.end(), [&](double v) { return v != values.front(); });
}

bool VA_VolExtractTSLdata(const CVol* vol, std::vector<double>* values, std::vector<CString>* lines) {
  if (!vol || !vol->frame || !vol->dicom) return false;
  const int D = vol->D(), T = vol->T();
  if (vol->numDicom < int64_t(D) * T) return false;
  if (values) values->clear();
  if (lines) lines->clear();
  for (int t = 0; t < T; ++t) {
    const DICOMREC* r = vol->dicom[int64_t(t) * D];
    const double v = r ? spinLockNumber(*r) : VOID_VALUE;
    if (v == VOID_VALUE) return false;
    if (values) values->push_back(v);
    if (lines) {
      CString line;
      line.Format(L"Time point %u : %s", unsigned(t + 1), r->imageComments.GetString());
      lines->push_back(line);
    }
  }
  return true;
}

int VA_VolNumImgMosaic(const CVol* vol) {
  if (!vol || !vol->dicom || vol->numDicom < 1 || !vol->dicom[0]) return 0;
  DCMFF* header = VA_DicomRecGetHeader(vol->dicom[0]);
  int n = 0;
  if (!header || !TWKDCM_GetNumImagesInMosaic(header, &n)) n = 0;
  TWKDCM_DeleteFF(&header);
  return n;
}

CVol* VA_VolMosaicToVolume(const CVol* mosaic, int n, bool show) {
  auto fail = [&](const wchar_t* why) -> CVol* {
    if (show) twk::showNamedError(L"VA_VolMosaicToVolume", why);
    return nullptr;
  };
  if (!mosaic || !mosaic->frame || mosaic->D() != 1) return fail(L"A single slice mosaic is required");
  const int T = mosaic->T();
  if (!mosaic->dicom || mosaic->numDicom < T) return fail(L"The mosaic has no DICOM records");
  std::vector<DCMFF*> headers(size_t(T), nullptr);
  struct Headers {
    std::vector<DCMFF*>& list;
    ~Headers() {
      for (DCMFF*& h : list) TWKDCM_DeleteFF(&h);
    }
  } freeHeaders{headers};
  for (int t = 0; t < T; ++t)
    if (!(headers[size_t(t)] = VA_DicomRecGetHeader(mosaic->dicom[t]))) return fail(L"A DICOM header of the mosaic cannot be read");
  std::unique_ptr<CVol> vol(new CVol);
  vol->frame = VA_VolumeMosaicToVolumeUser(mosaic->frame, n, show);
  if (!vol->frame) return nullptr;
  const int64_t count = int64_t(T) * n;
  DCMFF** slices = TWKDCM_CloneHeaderFromMosaic(headers.data(), T, n);
  if (!slices) return fail(L"The slice headers of the mosaic cannot be made");
  vol->dicom = VA_GetDicomRecArr(slices, count);
  TWKDCM_DeleteFFarr(&slices, count);
  if (!vol->dicom) return fail(L"The slice headers of the mosaic cannot be made");
  vol->numDicom = count;
  for (int64_t i = 0; i < count; ++i) vol->dicom[i]->filePath = mosaic->dicom[i / n]->filePath;
  vol->name = mosaic->name;
  vol->unit = mosaic->unit;
  vol->modality = mosaic->modality;
  std::copy(mosaic->orient, mosaic->orient + 6, vol->orient);
  vol->spc = mosaic->spc;
  vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(n) * int64_t(sizeof(DPOINT3D))));
  if (!vol->imgPos) return fail(L"Memory allocation failure");
  for (int z = 0; z < n; ++z) {
    const double* p = vol->dicom[z]->imagePosition;
    vol->imgPos[z] = p[0] != VOID_VALUE ? DPOINT3D{p[0], p[1], p[2]} : mosaic->imgPos ? mosaic->imgPos[0] : DPOINT3D{};
  }
  if (n > 1) {
    const DPOINT3D &a = vol->imgPos[0], &b = vol->imgPos[1];
    const double step = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) + (b.z - a.z) * (b.z - a.z));
    if (step > 0) vol->spc.z = step;
  }
  if (mosaic->dyn && !vol->SetDynamicCoords(mosaic->dyn, T)) return fail(L"Memory allocation failure");
  if (!VA_VolEnsurePositiveOrient(vol.get(), show)) return nullptr;
  return vol.release();
}

bool VA_VolGetProtocolName(const CVol* vol, CString* name) {
  if (!vol || !name || !vol->dicom || vol->numDicom < 1 || !vol->dicom[0]) return false;
  *name = vol->dicom[0]->protocolName.IsEmpty() ? vol->dicom[0]->seriesDescription : vol->dicom[0]->protocolName;
  return !name->IsEmpty();
}

bool VA_VolGetDicomBasedName(const CVol* vol, CString* name) {
  if (!vol || !name || !vol->dicom || vol->numDicom < 1 || !vol->dicom[0]) return false;
  const DICOMREC& r = *vol->dicom[0];
  CString text;
  text.Format(L"%s_%s_%d", r.patientId.GetString(), r.studyDate.GetString(), r.seriesNumber);
  PR_FilenameReplaceInvalidChars(&text);
  *name = text;
  return true;
}

bool VA_VolEnsureDicomHeaders(CVol* vol) {
  if (!vol || !vol->frame) return false;
  const int D = vol->D(), T = vol->T();
  const int64_t n = int64_t(D) * T;
  HeaderContext context;
  std::vector<DICOMREC*> records(size_t(n), nullptr);
  for (int64_t i = 0; i < n; ++i) {
    const DICOMREC* own = vol->dicom && i < vol->numDicom ? vol->dicom[i] : nullptr;
    if (own && !own->header.empty()) {
      records[size_t(i)] = new DICOMREC(*own);
      continue;
    }
    std::unique_ptr<DcmFileFormat> file = sliceHeader(*vol, int(i / D), int(i % D), context, true);
    if (!file) {
      for (DICOMREC* r : records) delete r;
      return false;
    }
    auto* rec = own ? new DICOMREC(*own) : new DICOMREC;
    fillRecord(*file, *rec);
    rec->header = headerBlock(*file);
    records[size_t(i)] = rec;
  }
  auto** array = static_cast<DICOMREC**>(pf_calloc(n * int64_t(sizeof(DICOMREC*))));
  if (!array) {
    for (DICOMREC* r : records) delete r;
    return false;
  }
  std::copy(records.begin(), records.end(), array);
  TW_FreeDicomRecArray(&vol->dicom, int(vol->numDicom));
  vol->dicom = array;
  vol->numDicom = n;
  return true;
}

bool VA_VolExtractPHIrecords(const CVol* vol, CString*** records, int64_t* count) {
  if (!vol || !records || !count) return false;
  std::set<CString> seen;
  std::vector<CString> lines;
  for (int64_t i = 0; vol->dicom && i < vol->numDicom; ++i) {
    const DICOMREC* rec = vol->dicom[i];
    if (!rec) continue;
    DCMFF* header = VA_DicomRecGetHeader(rec);
    if (!header) {
      for (const PhiFact& fact : kPhiFacts) {
        const CString& value = rec->*(fact.member);
        if (value.IsEmpty()) continue;
        const CString line = CString(fact.label) + L" : " + value;
        if (seen.insert(line).second) lines.push_back(line);
      }
      continue;
    }
    twk::OwnedPtrArray<CString> found;
    const bool ok = TWKDCM_ExtractPHIrecords(header, found.Items(), found.CountPtr());
    TWKDCM_DeleteFF(&header);
    for (int64_t k = 0; k < found.Count(); ++k)
      if (found[k] && seen.insert(*found[k]).second) lines.push_back(*found[k]);
    if (!ok) return false;
  }
  return appendLines(lines, records, count);
}

bool VA_VolDeidentify(CVol* vol, bool show) {
  if (!vol) return false;
  twk::ProgressGuard progress(L"Deidentify volume", show);
  for (int64_t i = 0; vol->dicom && i < vol->numDicom; ++i) {
    if (!progress.Step(i, vol->numDicom)) return false;  // Esc
    DICOMREC* rec = vol->dicom[i];
    if (!rec) continue;
    DCMFF* header = VA_DicomRecGetHeader(rec);
    if (!header) {
      for (const PhiFact& fact : kPhiFacts) (rec->*(fact.member)).Empty();
      continue;
    }
    const CString path = rec->filePath;
    const bool ok = TWKDCM_DeidentifyFF(header) && VA_DicomRecSetHeader(rec, header);
    TWKDCM_DeleteFF(&header);
    rec->filePath = path;
    if (!ok) {
      if (show) twk::showNamedError(L"VA_VolDeidentify", L"Unable to de-identify a DICOM header of the volume");
      return false;
    }
  }
  return true;
}
