// Training and test sets from the image and mask pairs that the preparation exports write.
#include <memory>
#include <optional>
#include <vector>

#include "AnnLib.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "volume/VolumeBox.h"

ANN_SampleSet::~ANN_SampleSet() {
  pf_free_parr(&images, count);
  pf_free_parr(&labels, count);
}

bool ANN_IsTestPair(int position, int pairs) { return pairs < 5 ? position == pairs - 1 : position % 5 == 4; }

namespace {

// Samples under construction for both sets; handed over at the end, freed on failure.
struct SetBuilder {
  std::vector<void*> images[2], labels[2];
  ~SetBuilder() {
    for (int s = 0; s < 2; ++s)
      for (auto* list : {&images[s], &labels[s]})
        for (void* p : *list) pf_free(&p);
  }
  bool add(bool test, void* image, void* label) {
    images[test].push_back(image);
    labels[test].push_back(label);
    return image && label;
  }
  bool hand(ANN_SampleSet* train, ANN_SampleSet* test) {
    ANN_SampleSet* out[2] = {train, test};
    for (int s = 0; s < 2; ++s) {
      const int64_t n = int64_t(images[s].size());
      out[s]->images = static_cast<void**>(pf_malloc(std::max<int64_t>(n, 1) * int64_t(sizeof(void*))));
      out[s]->labels = static_cast<void**>(pf_malloc(std::max<int64_t>(n, 1) * int64_t(sizeof(void*))));
      if (!out[s]->images || !out[s]->labels) {
        pf_free(&out[s]->images), pf_free(&out[s]->labels);
        return false;
      }
      std::copy(images[s].begin(), images[s].end(), out[s]->images);
      std::copy(labels[s].begin(), labels[s].end(), out[s]->labels);
      out[s]->count = n;
      images[s].clear(), labels[s].clear();
    }
    return true;
  }
};

// Pairs of the folder, two at least, loaded one at a time.
template <class Visit>
bool forEachPair(const wchar_t* name, const wchar_t* folder, bool show, Visit&& visit) {
  std::vector<VA_CASEPAIR> pairs;
  if (!VA_ListTrainingPairs(folder, &pairs, show)) return false;
  if (pairs.size() < 2) {
    ANN_NamedMessage(name, L"At least two image and mask pairs are required");
    return false;
  }
  for (size_t p = 0; p < pairs.size(); ++p) {
    std::unique_ptr<CVol> image(VA_RAW_LoadVolume(pairs[p].image, nullptr, nullptr, nullptr, show));
    if (!image) return false;
    std::unique_ptr<CVol> mask(VA_RAW_LoadVolume(pairs[p].mask, nullptr, nullptr, nullptr, show));
    if (!mask) return false;
    if (!image->IsEqualDim(mask.get()) || mask->T() != 1) {
      ANN_NamedMessage(name, FmtStr(L"Incompatible dimensions : %s : %s", pairs[p].image.GetString(), pairs[p].mask.GetString()));
      return false;
    }
    if (!visit(*image, *mask, pairs[p], ANN_IsTestPair(int(p), int(pairs.size())))) return false;
  }
  return true;
}

// Every pair of a set has the size of the first: width, height and time points, and depth when asked.
bool sameSize(const wchar_t* name, const VA_CASEPAIR& pair, const DIM3D& d, std::optional<DIM3D>& first, bool depth) {
  if (!first) first = d;
  if (d.w == first->w && d.h == first->h && d.t == first->t && (!depth || d.d == first->d)) return true;
  ANN_NamedMessage(name, FmtStr(L"Incompatible dimensions : %s", pair.image.GetString()));
  return false;
}

}  // namespace

bool ANN_LoadSlicePairs(const wchar_t* name, const wchar_t* folder, int slabR, int normMethod, double lo, double hi,
                        int numClasses, ANN_SampleSet* train, ANN_SampleSet* test, DIM3D* dims, int* channels, bool show) {
  SetBuilder builder;
  std::optional<DIM3D> first;
  const bool ok = forEachPair(name, folder, show, [&](CVol& image, CVol& mask, const VA_CASEPAIR& pair, bool isTest) {
    const DIM3D d = *image.Dim();
    if (!sameSize(name, pair, d, first, false)) return false;
    ANN_Counted<double> voxels(VA_VolGetNormalized(image.frame, normMethod, lo, hi));
    ANN_Counted<uint32_t> classes(static_cast<uint32_t*>(VA_VolGetAll(mask.frame, 0, 32, 1)));
    if (!voxels || !classes) {
      ANN_NamedMessage(name, L"Not enough memory");
      return false;
    }
    const int64_t plane = int64_t(d.w) * d.h;
    for (int64_t i = 0; i < plane * d.d; ++i)
      if (classes[i] >= uint32_t(numClasses)) {
        ANN_NamedMessage(name, FmtStr(L"Label values outside the %d classes : %s", numClasses, pair.mask.GetString()));
        return false;
      }
    const int c = (2 * slabR + 1) * d.t;
    std::vector<float> slabs(size_t(plane * c * d.d));
    VA_FillSlabs(voxels.get(), d, slabR, true, slabs.data());
    for (int z = 0; z < d.d; ++z) {
      auto* img = static_cast<float*>(pf_malloc(plane * c * 4));
      auto* lbl = static_cast<uint8_t*>(pf_malloc(plane));
      if (!builder.add(isTest, img, lbl)) {
        ANN_NamedMessage(name, L"Not enough memory");
        return false;
      }
      std::copy(slabs.begin() + z * plane * c, slabs.begin() + (z + 1) * plane * c, img);
      for (int64_t i = 0; i < plane; ++i) lbl[i] = uint8_t(classes[z * plane + i]);
    }
    return true;
  });
  if (!ok || !builder.hand(train, test)) return false;
  *dims = DIM3D{first->w, first->h, 1, first->t};
  *channels = (2 * slabR + 1) * first->t;
  return true;
}

bool ANN_LoadVolumePairs(const wchar_t* name, const wchar_t* folder, int tensorType, int normMethod, double lo,
                         double hi, ANN_SampleSet* train, ANN_SampleSet* test, DIM3D* dims, bool show) {
  if (tensorType != TORCHDT_FLOAT32 && tensorType != TORCHDT_FLOAT64) tensorType = TORCHDT_FLOAT64;
  SetBuilder builder;
  std::optional<DIM3D> first;
  const bool ok = forEachPair(name, folder, show, [&](CVol& image, CVol& mask, const VA_CASEPAIR& pair, bool isTest) {
    const DIM3D d = *image.Dim();
    if (!sameSize(name, pair, d, first, true)) return false;
    if (d.t != 1) {
      ANN_NamedMessage(name, FmtStr(L"A 3D volume is required : %s", pair.image.GetString()));
      return false;
    }
    const int64_t n = int64_t(d.w) * d.h * d.d;
    ANN_Counted<double> voxels(VA_VolGetNormalized(image.frame, normMethod, lo, hi));
    ANN_Counted<double> foreground(static_cast<double*>(VA_VolGetAll(mask.frame, 0, 64, 1)));
    const int size = VA_TorchDataSize(tensorType);
    void* img = pf_malloc(n * size);
    void* lbl = pf_malloc(n * size);
    if (!builder.add(isTest, img, lbl) || !voxels || !foreground) {
      ANN_NamedMessage(name, L"Not enough memory");
      return false;
    }
    for (int64_t i = 0; i < n; ++i) {
      const double label = foreground[i] > 0 ? 1.0 : 0.0;
      if (tensorType == TORCHDT_FLOAT32) {
        static_cast<float*>(img)[i] = float(voxels[i]);
        static_cast<float*>(lbl)[i] = float(label);
      } else {
        static_cast<double*>(img)[i] = voxels[i];
        static_cast<double*>(lbl)[i] = label;
      }
    }
    return true;
  });
  if (!ok || !builder.hand(train, test)) return false;
  *dims = DIM3D{first->w, first->h, first->d, 1};
  return true;
}
