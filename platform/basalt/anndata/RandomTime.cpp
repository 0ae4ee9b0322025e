// Random order and draws, the high-resolution clock, element sizes and batch gathering.
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>
#include <random>

#include "AnnData.h"
#include "TwkMem.h"

struct PR_RANDGEN {
  std::mt19937_64 engine;
  explicit PR_RANDGEN(uint64_t seed) : engine(seed) {}
};

PR_RANDGEN* PR_InitRandGen(uint64_t seed) { return new (std::nothrow) PR_RANDGEN(seed); }

void PR_DeleteRandGen(PR_RANDGEN** gen) {
  if (!gen) return;
  delete *gen;
  *gen = nullptr;
}

namespace {

// An unbiased integer in [0, bound) by rejection, the same on every standard library (the
// library distributions are free to differ between implementations).
uint64_t drawBelow(std::mt19937_64& engine, uint64_t bound) {
  const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
  uint64_t v;
  do v = engine();
  while (v >= limit);
  return v % bound;
}

// Uniform in [0, 1) from the top 53 bits.
double unit(std::mt19937_64& engine) { return double(engine() >> 11) * 0x1.0p-53; }

}  // namespace

int* PR_ShuffleIntegerArray(PR_RANDGEN* gen, int64_t n) {
  if (!gen || n < 1 || n > INT32_MAX) return nullptr;
  int* order = static_cast<int*>(pf_malloc(n * int64_t(sizeof(int))));
  if (!order) return nullptr;
  for (int64_t i = 0; i < n; ++i) order[i] = int(i);
  for (int64_t i = n - 1; i > 0; --i) std::swap(order[i], order[drawBelow(gen->engine, uint64_t(i) + 1)]);
  return order;
}

double PR_RandUniform(PR_RANDGEN* gen, double lo, double hi) { return lo + (hi - lo) * unit(gen->engine); }

double PR_RandNormal(PR_RANDGEN* gen) {
  double u1 = unit(gen->engine);
  while (u1 <= 0) u1 = unit(gen->engine);
  const double u2 = unit(gen->engine);
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

bool PR_RandChance(PR_RANDGEN* gen, double probability) { return probability > 0 && unit(gen->engine) < probability; }

int64_t PR_RandPoisson(PR_RANDGEN* gen, double mean) {
  if (!(mean > 0)) return 0;
  if (mean > 60) {  // normal approximation, ample for noise simulation at such counts
    const double v = std::round(mean + std::sqrt(mean) * PR_RandNormal(gen));
    return v < 0 ? 0 : int64_t(v);
  }
  const double limit = std::exp(-mean);  // Knuth's product method
  int64_t k = 0;
  for (double p = unit(gen->engine); p > limit; p *= unit(gen->engine)) ++k;
  return k;
}

int64_t PR_GetPerformanceCounter() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double PR_GetElapsedTime(int64_t start, bool) { return double(PR_GetPerformanceCounter() - start) * 1e-9; }

int VA_TorchDataSize(int type) {
  switch (type) {
    case TORCHDT_UINT8: case TORCHDT_INT8: case TORCHDT_BOOL: return 1;
    case TORCHDT_INT16: case TORCHDT_FLOAT16: return 2;
    case TORCHDT_INT32: case TORCHDT_FLOAT32: return 4;
    case TORCHDT_INT64: case TORCHDT_FLOAT64: return 8;
    default: return 0;
  }
}

void VA_VolWHDTPV(const DIM3D* dims, int* w, int* h, int* d, int* t, int64_t* planePixels, int64_t* volumeVoxels) {
  if (!dims) return;
  if (w) *w = dims->w;
  if (h) *h = dims->h;
  if (d) *d = dims->d;
  if (t) *t = dims->t;
  if (planePixels) *planePixels = int64_t(dims->w) * dims->h;
  if (volumeVoxels) *volumeVoxels = int64_t(dims->w) * dims->h * dims->d;
}

bool VA_ObtainNextBatch(int imageType, void* const* images, int64_t imageElems, int labelType, void* const* labels,
                        int64_t labelElems, const int* order, int64_t first, int64_t last, void* imageOut,
                        void* labelOut) {
  const int64_t imageBytes = imageElems * VA_TorchDataSize(imageType);
  const int64_t labelBytes = labelElems * VA_TorchDataSize(labelType);
  if (!images || !labels || !order || !imageOut || !labelOut || first < 0 || last < first || imageBytes <= 0 ||
      labelBytes <= 0)
    return false;
  auto* imageDst = static_cast<uint8_t*>(imageOut);
  auto* labelDst = static_cast<uint8_t*>(labelOut);
  for (int64_t i = first; i <= last; ++i) {
    const int s = order[i];
    if (s < 0 || !images[s] || !labels[s]) return false;
    std::memcpy(imageDst, images[s], size_t(imageBytes));
    std::memcpy(labelDst, labels[s], size_t(labelBytes));
    imageDst += imageBytes;
    labelDst += labelBytes;
  }
  return true;
}
