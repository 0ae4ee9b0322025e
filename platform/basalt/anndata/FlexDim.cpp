// The 2D samples of the FlexDim training folder: sample blocks, case pairs, folds, the folder
// loader and the per-class Dice over volumes.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "AnnData.h"
#include "paths/FilePaths.h"
#include "io/ImageFiles.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/ValueText.h"
#include "Vol.h"
#include "volume/VolumeBox.h"

void* VA_FlexDim_NewImage(int width, int height, int channels) {
  if (width < 1 || height < 1 || channels < 1) return nullptr;
  const int64_t bytes = VA_FLEXDIM_IMAGE_HEAD + int64_t(width) * height * channels * int64_t(sizeof(float));
  auto* head = static_cast<VA_FLEXDIM_HEAD*>(pf_calloc(bytes));
  if (head) *head = {width, height, channels, 0};
  return head;
}

void* VA_FlexDim_NewBytemap(int width, int height) {
  if (width < 1 || height < 1) return nullptr;
  auto* head = static_cast<VA_FLEXDIM_HEAD*>(pf_calloc(VA_FLEXDIM_BYTEMAP_HEAD + int64_t(width) * height));
  if (head) *head = {width, height, 0, 0};
  return head;
}

void* VA_FlexDim_AllocAndCopyData(int typeCode, const void* sample, int channels) {
  if (!sample) return nullptr;
  const VA_FLEXDIM_HEAD* head = VA_FlexDimHead(sample);
  const int64_t plane = int64_t(head->width) * head->height;
  if (head->width < 1 || head->height < 1) return nullptr;
  if (typeCode == TORCHDT_UINT8) return pf_duplicate(static_cast<const uint8_t*>(sample), VA_FLEXDIM_BYTEMAP_HEAD + plane);
  if (channels != head->channels || channels < 1) return nullptr;
  return pf_duplicate(static_cast<const uint8_t*>(sample), VA_FLEXDIM_IMAGE_HEAD + plane * channels * 4);
}

void VA_FreeSampleGroup(VA_SAMPLEGROUP* group) {
  if (!group) return;
  pf_free_parr(&group->images, group->count);
  pf_free_parr(&group->labels, group->count);
  pf_free_parr(&group->masks, group->count);
  pf_free(&group->table);
  group->count = group->volumes = 0;
}

namespace {

// "image_<n>.nii", "mask_<n>.nii" (or .nii.gz): the number after the prefix, or -1.
int64_t pairNumber(const CString& title, const wchar_t* prefix) {
  CString lower = title;
  lower.MakeLower();
  const int prefixLength = int(wcslen(prefix));
  if (lower.Left(prefixLength) != prefix) return -1;
  int end = prefixLength;
  int64_t number = 0;
  while (end < lower.GetLength() && iswdigit(lower[end]) && number < (int64_t(1) << 40)) number = number * 10 + (lower[end++] - L'0');
  const CString rest = lower.Mid(end);
  if (end == prefixLength || (rest != L".nii" && rest != L".nii.gz")) return -1;
  return number;
}

}  // namespace

bool VA_ListTrainingPairs(const wchar_t* folder, std::vector<VA_CASEPAIR>* pairs, bool show) {
  pairs->clear();
  int count = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, L"nii;gz", false, false, &count, false);
  std::map<int64_t, CString> images, masks;
  for (int i = 0; i < count; ++i) {
    const CString title = PR_GetFileTitle(files[i]);
    if (const int64_t n = pairNumber(title, L"image_"); n >= 0) images[n] = files[i];
    if (const int64_t n = pairNumber(title, L"mask_"); n >= 0) masks[n] = files[i];
  }
  pf_free_parr(&files, count);
  for (const auto& [n, image] : images) {
    auto mask = masks.find(n);
    if (mask == masks.end()) {
      if (show) twk::showNamedError(L"VA_ListTrainingPairs", FmtStr(L"Unable to find match for input %s", image.GetString()));
      pairs->clear();
      return false;
    }
    pairs->push_back({n, image, mask->second});
  }
  if (pairs->empty()) {
    if (show) twk::showNamedError(L"VA_ListTrainingPairs", CString(L"No image and mask pairs in ") + folder);
    return false;
  }
  return true;
}

bool VA_CalculateDatasetNumCasesAndFolds(const wchar_t* folder, double validFraction, int* cases, int* folds,
                                         bool show) {
  const wchar_t* name = L"VA_CalculateDatasetNumCasesAndFolds";
  if (!(validFraction > 0 && validFraction < 1)) {
    if (show) twk::showNamedError(name, FmtStr(L"Invalid validation fraction %g", validFraction));
    return false;
  }
  std::vector<VA_CASEPAIR> pairs;
  if (!VA_ListTrainingPairs(folder, &pairs, show)) return false;
  const int n = int(pairs.size());
  if (n < 2) {
    if (show) twk::showNamedError(name, L"At least two cases are required");
    return false;
  }
  if (cases) *cases = n;
  if (folds) *folds = std::clamp(int(std::lround(1.0 / validFraction)), 2, n);
  return true;
}

namespace {

// Samples under construction; whatever is not handed over is freed.
struct GroupBuilder {
  std::vector<void*> images, labels, masks;
  std::vector<int32_t> table;
  int64_t volumes = 0;

  ~GroupBuilder() {
    for (auto* list : {&images, &labels, &masks})
      for (void* p : *list) pf_free(&p);
  }
  bool add(void* image, void* label, void* mask, int32_t volume) {
    images.push_back(image);
    labels.push_back(label);
    masks.push_back(mask);
    table.push_back(volume);
    return image && label && mask;
  }
  bool hand(VA_SAMPLEGROUP* out) {
    const int64_t n = int64_t(images.size());
    VA_SAMPLEGROUP g;
    g.count = n;
    g.volumes = volumes;
    if (n > 0) {
      g.images = static_cast<void**>(pf_malloc(n * int64_t(sizeof(void*))));
      g.labels = static_cast<void**>(pf_malloc(n * int64_t(sizeof(void*))));
      g.masks = static_cast<void**>(pf_malloc(n * int64_t(sizeof(void*))));
      g.table = pf_duplicate(table.data(), n);
      if (!g.images || !g.labels || !g.masks || !g.table) {
        pf_free(&g.images), pf_free(&g.labels), pf_free(&g.masks), pf_free(&g.table);
        return false;
      }
      std::copy(images.begin(), images.end(), g.images);
      std::copy(labels.begin(), labels.end(), g.labels);
      std::copy(masks.begin(), masks.end(), g.masks);
      images.clear(), labels.clear(), masks.clear();
    }
    *out = g;
    return true;
  }
  // Deep copies of another group's samples.
  bool copyOf(const GroupBuilder& other, int channels) {
    volumes = other.volumes;
    for (size_t i = 0; i < other.images.size(); ++i)
      if (!add(VA_FlexDim_AllocAndCopyData(TORCHDT_FLOAT32, other.images[i], channels),
               VA_FlexDim_AllocAndCopyData(TORCHDT_UINT8, other.labels[i], 1),
               VA_FlexDim_AllocAndCopyData(TORCHDT_UINT8, other.masks[i], 1), other.table[i]))
        return false;
    return true;
  }
};

struct VolDeleter {
  void operator()(CVol* v) const { delete v; }
};
using VolPtr = std::unique_ptr<CVol, VolDeleter>;

wchar_t** titleArray(const std::vector<CString>& titles) {
  if (titles.empty()) return nullptr;
  auto** arr = static_cast<wchar_t**>(pf_calloc(int64_t(titles.size()) * int64_t(sizeof(wchar_t*))));
  if (!arr) return nullptr;
  for (size_t i = 0; i < titles.size(); ++i)
    if (!(arr[i] = PR_CopyString(titles[i]))) {
      pf_free_parr(&arr, int64_t(titles.size()));
      return nullptr;
    }
  return arr;
}

}  // namespace

bool VA_Load4DVolumesAndTargetLabelsFromFolder_As25D_FlexDim(
    int fold, const VA_DATALOADPARM* parm, bool timesAsCategory, const wchar_t* folder, double /*scaleParam*/,
    int scaleMode, int minSize, VA_SAMPLEGROUP* train, VA_SAMPLEGROUP* eval, VA_SAMPLEGROUP* test,
    wchar_t*** testNames, wchar_t*** maskNames, int* numTestNames, DIM3D* dims, int* numCategories,
    int** categorySizes, bool show) {
  const wchar_t* name = L"VA_Load4DVolumesAndTargetLabelsFromFolder_As25D_FlexDim";
  auto fail = [&](const CString& message) {
    if (show && !message.IsEmpty()) twk::showNamedError(name, message);
    return false;
  };
  if (!parm || !train || !eval || !test || !dims) return false;
  if (scaleMode != 0) return fail(FmtStr(L"Unsupported image scaling mode %d", scaleMode));
  if (parm->slabR < 0) return fail(L"Invalid slab radius");
  int cases = 0, folds = 0;
  if (!VA_CalculateDatasetNumCasesAndFolds(folder, parm->validFraction, &cases, &folds, show)) return false;
  std::vector<VA_CASEPAIR> pairs;
  if (!VA_ListTrainingPairs(folder, &pairs, show)) return false;
  if (parm->loadLimit > 0 && int(pairs.size()) > parm->loadLimit) pairs.resize(size_t(parm->loadLimit));
  cases = int(pairs.size());
  if (fold < 0 || fold >= folds) return fail(FmtStr(L"Invalid fold %d of %d", fold, folds));

  // Groups by position: 0 training, 1 evaluation, 2 test.
  std::vector<int> groupOf(size_t(cases), 0);
  std::vector<int> rest;
  for (int p = 0; p < cases; ++p) {
    if (p % folds == fold) groupOf[size_t(p)] = 1;
    else rest.push_back(p);
  }
  int numTest = parm->testFraction > 0 ? std::max(1, int(std::lround(parm->testFraction * cases))) : 0;
  numTest = std::min(numTest, int(rest.size()) - 1);
  for (int i = 0; i < numTest; ++i) groupOf[size_t(rest[rest.size() - 1 - size_t(i)])] = 2;
  if (rest.size() < 1 || (parm->testFraction > 0 && numTest < 1))
    return fail(L"Not enough cases for training, evaluation and test groups");

  GroupBuilder groups[3];
  std::vector<CString> imageTitles, maskTitles;
  DIM3D first{};
  for (int p = 0; p < cases; ++p) {
    const VA_CASEPAIR& pair = pairs[size_t(p)];
    VolPtr image(VA_RAW_LoadVolume(pair.image, nullptr, nullptr, nullptr, show));
    if (!image) return false;
    VolPtr mask(VA_RAW_LoadVolume(pair.mask, nullptr, nullptr, nullptr, show));
    if (!mask) return false;
    const DIM3D d = *image->Dim(), md = *mask->Dim();
    if (p == 0) first = d;
    if (d.w != first.w || d.h != first.h || d.t != first.t)
      return fail(FmtStr(L"Incompatible dimensions : %s : %s", pairs[0].image.GetString(), pair.image.GetString()));
    if (md.w != d.w || md.h != d.h || md.d != d.d || (md.t != 1 && (!timesAsCategory || md.t != d.t)))
      return fail(FmtStr(L"Incompatible dimensions : %s : %s", pair.image.GetString(), pair.mask.GetString()));
    if (d.w < minSize || d.h < minSize) return fail(FmtStr(L"Image size below %d pixels : %s", minSize, pair.image.GetString()));
    if (mask->IsReal()) return fail(FmtStr(L"Real Image is not allowed : %s", pair.mask.GetString()));

    double* voxels = VA_VolGetNormalized(image->frame, parm->normMethod, parm->normLo, parm->normHi);
    auto* labels = static_cast<uint32_t*>(VA_VolGetAll(mask->frame, 0, 32, md.t, false));
    std::unique_ptr<double, void (*)(double*)> voxelsHolder(voxels, [](double* v) { pf_free(&v); });
    std::unique_ptr<uint32_t, void (*)(uint32_t*)> labelsHolder(labels, [](uint32_t* v) { pf_free(&v); });
    if (!voxels || !labels) return fail(L"Not enough memory");
    const int64_t plane = int64_t(d.w) * d.h;
    for (int64_t i = 0; i < plane * d.d * md.t; ++i)
      if (labels[i] > 255) return fail(FmtStr(L"Label value %u above 255 : %s", labels[i], pair.mask.GetString()));

    const int width = 2 * parm->slabR + 1;
    const int channels = timesAsCategory ? width : width * d.t;
    const int64_t numSlabs = timesAsCategory ? int64_t(d.d) * d.t : d.d;
    std::vector<float> slabs;
    try {
      slabs.resize(size_t(numSlabs * channels * plane));
    } catch (const std::bad_alloc&) {
      return fail(L"Not enough memory");
    }
    VA_FillSlabs(voxels, d, parm->slabR, !timesAsCategory, slabs.data());

    GroupBuilder& g = groups[groupOf[size_t(p)]];
    const int timeVolumes = timesAsCategory ? d.t : 1;
    for (int64_t s = 0; s < numSlabs; ++s) {
      const int z = int(timesAsCategory ? s % d.d : s);
      const int t = timesAsCategory ? int(s / d.d) : 0;
      const int32_t volume = int32_t(g.volumes + t);
      void* img = VA_FlexDim_NewImage(d.w, d.h, channels);
      void* lbl = VA_FlexDim_NewBytemap(d.w, d.h);
      void* msk = VA_FlexDim_NewBytemap(d.w, d.h);
      if (!g.add(img, lbl, msk, volume)) return fail(L"Not enough memory");
      auto* head = static_cast<VA_FLEXDIM_HEAD*>(img);
      head->volume = volume;
      if (timesAsCategory) VA_FlexDimCategories(img)[0] = t;
      std::memcpy(VA_FlexDimPixels(img), slabs.data() + s * channels * plane, size_t(channels * plane) * sizeof(float));
      const uint32_t* src = labels + (int64_t(md.t > 1 ? t : 0) * d.d + z) * plane;
      uint8_t* dst = VA_FlexDimBytes(lbl);
      for (int64_t i = 0; i < plane; ++i) dst[i] = uint8_t(src[i]);
      std::memset(VA_FlexDimBytes(msk), 1, size_t(plane));
      static_cast<VA_FLEXDIM_HEAD*>(lbl)->volume = volume;
      static_cast<VA_FLEXDIM_HEAD*>(msk)->volume = volume;
    }
    g.volumes += timeVolumes;
    if (groupOf[size_t(p)] == 2 || (numTest == 0 && groupOf[size_t(p)] == 1)) {
      imageTitles.push_back(PR_GetFileTitle(pair.image));
      maskTitles.push_back(PR_GetFileTitle(pair.mask));
    }
  }
  const int channels = timesAsCategory ? 2 * parm->slabR + 1 : (2 * parm->slabR + 1) * first.t;
  if (numTest == 0 && !groups[2].copyOf(groups[1], channels)) return fail(L"Not enough memory");
  if (groups[0].images.empty()) return fail(L"No training samples");

  int* sizes = nullptr;
  if (timesAsCategory && !(sizes = pf_duplicate(&first.t, 1))) return fail(L"Not enough memory");
  wchar_t** names1 = titleArray(imageTitles);
  wchar_t** names2 = titleArray(maskTitles);
  VA_SAMPLEGROUP out[3];
  bool ok = names1 && names2;
  for (int i = 0; i < 3 && ok; ++i) ok = groups[i].hand(&out[i]);
  if (!ok) {
    for (auto& g : out) VA_FreeSampleGroup(&g);
    pf_free_parr(&names1, int64_t(imageTitles.size()));
    pf_free_parr(&names2, int64_t(maskTitles.size()));
    pf_free(&sizes);
    return fail(L"Not enough memory");
  }
  *train = out[0];
  *eval = out[1];
  *test = out[2];
  if (testNames) *testNames = names1;
  else pf_free_parr(&names1, int64_t(imageTitles.size()));
  if (maskNames) *maskNames = names2;
  else pf_free_parr(&names2, int64_t(maskTitles.size()));
  if (numTestNames) *numTestNames = int(imageTitles.size());
  *dims = first;
  if (numCategories) *numCategories = timesAsCategory ? 1 : 0;
  if (categorySizes) *categorySizes = sizes;
  else pf_free(&sizes);
  return true;
}

double PR_AverageFinite(const double* values, int64_t n) {
  double sum = 0;
  int64_t count = 0;
  for (int64_t i = 0; i < n; ++i)
    if (std::isfinite(values[i])) sum += values[i], ++count;
  return count > 0 ? sum / double(count) : NAN;
}

double* VA_CalculateDICEperClassAveragedOverVolumes(int numClasses, int64_t pixels, void* const* labels,
                                                    void* const* masks, uint8_t* const* predictions, int64_t count,
                                                    int64_t volumes, const int32_t* table) {
  if (numClasses < 1 || numClasses > 256 || pixels < 1 || volumes < 0 || count < 0 || (count > 0 && (!labels || !predictions || !table)))
    return nullptr;
  // Per volume and class: overlap, predicted and true pixels.
  std::vector<int64_t> overlap(size_t(volumes * numClasses)), predicted(overlap.size()), truth(overlap.size());
  for (int64_t i = 0; i < count; ++i) {
    const int32_t v = table[i];
    if (v < 0 || v >= volumes || !labels[i] || !predictions[i]) return nullptr;
    const uint8_t* y = VA_FlexDimBytes(labels[i]);
    const uint8_t* m = masks && masks[i] ? VA_FlexDimBytes(masks[i]) : nullptr;
    const uint8_t* p = predictions[i];
    const size_t base = size_t(v) * size_t(numClasses);
    for (int64_t k = 0; k < pixels; ++k) {
      if (m && !m[k]) continue;
      if (p[k] < numClasses) ++predicted[base + p[k]];
      if (y[k] < numClasses) ++truth[base + y[k]];
      if (p[k] == y[k] && y[k] < numClasses) ++overlap[base + y[k]];
    }
  }
  auto* result = static_cast<double*>(pf_malloc(int64_t(numClasses) * 8));
  if (!result) return nullptr;
  std::vector<double> perVolume(static_cast<size_t>(volumes));
  for (int c = 0; c < numClasses; ++c) {
    for (int64_t v = 0; v < volumes; ++v) {
      const size_t k = size_t(v) * size_t(numClasses) + size_t(c);
      const int64_t denominator = predicted[k] + truth[k];
      perVolume[size_t(v)] = denominator > 0 ? 2.0 * double(overlap[k]) / double(denominator) : NAN;
    }
    result[c] = PR_AverageFinite(perVolume.data(), volumes);
  }
  return result;
}
