// Non-local means over the search offsets: for each offset the squared patch differences of every
// voxel come from one box sum of the squared voxel differences (separable running sums), so the
// cost grows with the search volume, not with the patch volume.
#include <oneapi/tbb/enumerable_thread_specific.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/Denoise.h"
#include "filters/FilterCore.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

// The time points of one NLM run, mirrored by a margin on every side of the grid; voids hold the
// mean of the defined voxels (so that patches stay finite) and are flagged.
struct Padded {
  int w = 0, h = 0, d = 0;        // the volume
  int mx = 0, my = 0, mz = 0;     // margins
  int pw = 0, ph = 0, pd = 0;     // padded grid
  std::vector<std::vector<double>> values;  // per time point
  std::vector<uint8_t> valid;               // the first time point's flags (voids of any time point)
  std::vector<double> use;                  // valid as 1.0 / 0.0 (a factor of the weights)
  int64_t index(int x, int y, int z) const { return (int64_t(z + mz) * ph + (y + my)) * pw + (x + mx); }
};

bool pad(const std::vector<Volume3>& vols, int mx, int my, int mz, Padded* p) {
  const Volume3& v0 = vols[0];
  p->w = v0.w, p->h = v0.h, p->d = v0.d;
  p->mx = mx, p->my = my, p->mz = mz;
  p->pw = v0.w + 2 * mx, p->ph = v0.h + 2 * my, p->pd = v0.d + 2 * mz;
  const int64_t n = int64_t(p->pw) * p->ph * p->pd;
  p->values.assign(vols.size(), std::vector<double>(size_t(n)));
  p->valid.assign(size_t(n), 1);
  for (size_t k = 0; k < vols.size(); ++k) {
    const Volume3& v = vols[k];
    double sum = 0;
    int64_t count = 0;
    for (size_t i = 0; i < v.v.size(); ++i)
      if (v.valid[i]) sum += v.v[i], ++count;
    if (count == 0) return false;
    const double fill = sum / double(count);
    std::vector<double>& out = p->values[k];
    tbb::parallel_for(0, p->pd, [&](int pz) {
      const int z = mirror(pz - mz, v.d);
      for (int py = 0; py < p->ph; ++py) {
        const int y = mirror(py - my, v.h);
        for (int px = 0; px < p->pw; ++px) {
          const int64_t i = v.index(mirror(px - mx, v.w), y, z);
          const int64_t o = (int64_t(pz) * p->ph + py) * p->pw + px;
          out[size_t(o)] = v.valid[size_t(i)] ? v.v[size_t(i)] : fill;
          if (!v.valid[size_t(i)]) p->valid[size_t(o)] = 0;
        }
      }
    });
  }
  p->use.assign(p->valid.begin(), p->valid.end());
  return true;
}

// exp(-d) for d in [0, 5], to a few units of the last place, in straight-line arithmetic the
// compiler turns into vector code (the library call is a quarter of the work otherwise):
// exp(-d) = 2^n exp(r), n the nearest integer to -d / ln 2, |r| <= ln 2 / 2, exp(r) by its
// Taylor series to r^11 (the rest below 1e-14), 2^n written into the exponent bits.
inline double expOfMinus(double d) {
  constexpr double kLog2e = 1.4426950408889634, kLn2Hi = 0.693147180369123816490, kLn2Lo = 1.90821492927058770002e-10;
  constexpr double kRound = 6755399441055744.0;  // 1.5 x 2^52: adding it rounds to an integer
  const double x = -d;
  const double shifted = x * kLog2e + kRound;
  const double n = shifted - kRound;
  const double r = x - n * kLn2Hi - n * kLn2Lo;
  double q = 1.0 / 39916800.0;
  q = q * r + 1.0 / 3628800.0;
  q = q * r + 1.0 / 362880.0;
  q = q * r + 1.0 / 40320.0;
  q = q * r + 1.0 / 5040.0;
  q = q * r + 1.0 / 720.0;
  q = q * r + 1.0 / 120.0;
  q = q * r + 1.0 / 24.0;
  q = q * r + 1.0 / 6.0;
  q = q * r + 0.5;
  q = q * r + 1.0;
  q = q * r + 1.0;
  int64_t bits;
  std::memcpy(&bits, &shifted, sizeof bits);
  const int64_t scaleBits = (bits - int64_t(0x4338000000000000) + 1023) << 52;
  double scale;
  std::memcpy(&scale, &scaleBits, sizeof scale);
  return q * scale;
}

// Scratch planes of one tile's pass over one offset (reused by each thread).
struct Scratch {
  std::vector<double> diff, boxX, ring, plane;
};

// One tile of output voxels (planes z0..z1-1, rows y0..y1-1, all columns).
struct Tile {
  int z0, z1, y0, y1;
};

// NLM over the padded time points: weights from the patches of all of them, each denoised with
// the same weights. out[k] receives w*h*d values per time point.
//
// The patch distance of an offset o is symmetric: the distance between the patches at i and i + o
// is the one between i + o and i for offset -o. Only half of the offsets are visited; each
// weight serves both voxels of the pair. The volume is cut into tiles of planes and rows, each
// tile owned by one task, and for each offset a tile runs all its passes (squared differences,
// box sums along x, y and z, weights, sums) plane by plane in small buffers that stay in cache.
bool nonLocalMeans(const Padded& p, int patch, int search, bool use3D, double sigma, double h,
                   std::vector<std::vector<double>>* out, twk::ProgressGuard& progress) {
  const int w = p.w, hh = p.h, d = p.d;
  const int pz = use3D ? patch : 0, sz = use3D ? search : 0;
  const size_t numT = p.values.size();
  const int64_t n = int64_t(w) * hh * d;
  std::vector<double> weights(size_t(n), 0.0);
  std::vector<std::vector<double>> sums(numT, std::vector<double>(size_t(n), 0.0));
  const double patchVolume = double(2 * patch + 1) * (2 * patch + 1) * (2 * pz + 1);
  const double noiseTerm = 2 * sigma * sigma;
  const double invH2 = 1.0 / (h * h);
  const double invPatch = 1.0 / patchVolume;
  const double invT = 1.0 / double(numT);
  auto outIndex = [&](int x, int y, int z) { return (int64_t(z) * hh + y) * w + x; };
  // The voxel itself: distance 0, weight 1.
  tbb::parallel_for(0, d, [&](int z) {
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < w; ++x) {
        const int64_t q = p.index(x, y, z);
        if (!p.valid[size_t(q)]) continue;
        const int64_t i = outIndex(x, y, z);
        weights[size_t(i)] = 1;
        for (size_t k = 0; k < numT; ++k) sums[k][size_t(i)] = p.values[k][size_t(q)];
      }
  });
  std::vector<Tile> tiles;
  const int tileZ = use3D ? 16 : 1, tileY = 32;
  for (int z0 = 0; z0 < d; z0 += tileZ)
    for (int y0 = 0; y0 < hh; y0 += tileY) tiles.push_back({z0, std::min(d, z0 + tileZ), y0, std::min(hh, y0 + tileY)});
  tbb::enumerable_thread_specific<Scratch> scratches;
  // One row of output voxels from o (its first index in the output) takes the weights wr[0..w) of
  // the partners from q0 (their first padded index); void partners count nothing.
  auto accumulateRow = [&](const double* wr, int64_t q0, int64_t o) {
    const double* use = &p.use[size_t(q0)];
    double* wsum = &weights[size_t(o)];
    for (int x = 0; x < w; ++x) wsum[x] += wr[x] * use[x];
    for (size_t k = 0; k < numT; ++k) {
      const double* v = &p.values[k][size_t(q0)];
      double* vsum = &sums[k][size_t(o)];
      for (int x = 0; x < w; ++x) vsum[x] += wr[x] * use[x] * v[x];
    }
  };

  auto pass = [&](const Tile& tile, int ox, int oy, int oz, Scratch& sc) {
    const int64_t shift = (int64_t(oz) * p.ph + oy) * p.pw + ox;
    // Distances are needed where the tile's voxels are (their partner at +o) and at the tile's
    // voxels shifted by -o (whose partner at +o lies in the tile). oz >= 0.
    const int xlo = std::min(0, -ox), xhi = w + std::max(0, -ox);
    const int ylo = std::min(tile.y0, tile.y0 - oy), yhi = std::max(tile.y1, tile.y1 - oy);
    const int zlo = tile.z0 - oz, zhi = tile.z1;
    const int rw = xhi - xlo, rh = yhi - ylo, dw = rw + 2 * patch, dh = rh + 2 * patch;
    const int ringSize = 2 * pz + 1;
    const size_t planeSize = size_t(rw) * rh;
    sc.diff.resize(size_t(dw) * dh);
    sc.boxX.resize(size_t(rw) * dh);
    sc.ring.resize(planeSize * ringSize);
    sc.plane.resize(planeSize);
    // The patch-summed squared differences of plane zz into its ring slot.
    auto boxPlane = [&](int zz) {
      for (int r = 0; r < dh; ++r) {
        const int64_t a = p.index(xlo - patch, ylo - patch + r, zz);
        double* line = &sc.diff[size_t(r) * dw];
        if (numT == 1) {
          const double* v = p.values[0].data() + a;
          for (int c = 0; c < dw; ++c) {
            const double t = v[c] - v[c + shift];
            line[c] = t * t;
          }
        } else {
          for (int c = 0; c < dw; ++c) {
            double s = 0;
            for (size_t k = 0; k < numT; ++k) {
              const double t = p.values[k][size_t(a + c)] - p.values[k][size_t(a + c + shift)];
              s += t * t;
            }
            line[c] = s * invT;
          }
        }
        double* bx = &sc.boxX[size_t(r) * rw];
        double s = 0;
        for (int c = 0; c < 2 * patch + 1; ++c) s += line[c];
        bx[0] = s;
        for (int c = 1; c < rw; ++c) bx[c] = s += line[c + 2 * patch] - line[c - 1];
      }
      double* slot = &sc.ring[planeSize * size_t((zz - (zlo - pz)) % ringSize)];
      std::fill(slot, slot + rw, 0.0);
      for (int r = 0; r < 2 * patch + 1; ++r) {
        const double* bx = &sc.boxX[size_t(r) * rw];
        for (int c = 0; c < rw; ++c) slot[c] += bx[c];
      }
      for (int r = 1; r < rh; ++r) {
        const double* prev = slot + size_t(r - 1) * rw;
        const double* add = &sc.boxX[size_t(r + 2 * patch) * rw];
        const double* sub = &sc.boxX[size_t(r - 1) * rw];
        double* row = slot + size_t(r) * rw;
        for (int c = 0; c < rw; ++c) row[c] = prev[c] + add[c] - sub[c];
      }
    };
    for (int zz = zlo - pz; zz < zlo + pz; ++zz) boxPlane(zz);
    for (int zi = zlo; zi < zhi; ++zi) {
      boxPlane(zi + pz);
      // Weights of the plane's positions.
      std::copy(sc.ring.begin(), sc.ring.begin() + long(planeSize), sc.plane.begin());
      for (int r = 1; r < ringSize; ++r) {
        const double* slot = &sc.ring[planeSize * size_t(r)];
        for (size_t c = 0; c < planeSize; ++c) sc.plane[c] += slot[c];
      }
      double* weightPlane = sc.plane.data();
      for (size_t c = 0; c < planeSize; ++c) {
        const double distance = std::max(weightPlane[c] * invPatch - noiseTerm, 0.0) * invH2;
        // Beyond 5 the weight is dropped (a select, so that the loop stays straight-line).
        const double e = expOfMinus(std::min(distance, 5.0));
        weightPlane[c] = distance > 5.0 ? 0.0 : e;
      }
      // Forward: the tile's voxel i takes its partner i + o.
      if (zi >= tile.z0)
        for (int y = tile.y0; y < tile.y1; ++y) {
          const double* wr = &sc.plane[size_t(y - ylo) * rw + size_t(-xlo)];
          const int64_t q0 = p.index(0, y, zi) + shift;
          const int64_t i0 = outIndex(0, y, zi);
          accumulateRow(wr, q0, i0);
        }
      // Backward: the tile's voxel j = i + o takes i, with the weight found at i.
      const int zj = zi + oz;
      if (zj >= tile.z0 && zj < tile.z1)
        for (int yj = tile.y0; yj < tile.y1; ++yj) {
          const int y = yj - oy;
          const double* wr = &sc.plane[size_t(y - ylo) * rw + size_t(-xlo)];
          const int64_t q0 = p.index(0, y, zi) - ox;
          const int64_t j0 = outIndex(0, yj, zj);
          accumulateRow(wr - ox, q0, j0);
        }
    }
  };

  // Half of the offsets, (oz, oy) rows of them at a time: oz > 0, or oz = 0 and oy > 0, or
  // oz = oy = 0 and ox > 0.
  const int64_t rows = int64_t(sz) * (2 * search + 1) + search + 1;
  int64_t done = 0;
  for (int oz = 0; oz <= sz; ++oz)
    for (int oy = oz == 0 ? 0 : -search; oy <= search; ++oy) {
      const int oxFirst = oz == 0 && oy == 0 ? 1 : -search;
      tbb::parallel_for(size_t(0), tiles.size(), [&](size_t t) {
        Scratch& sc = scratches.local();
        for (int ox = oxFirst; ox <= search; ++ox) pass(tiles[t], ox, oy, oz, sc);
      });
      if (!progress.Step(++done, rows)) return false;
    }
  out->assign(numT, std::vector<double>(size_t(n)));
  tbb::parallel_for(0, d, [&](int z) {
    for (size_t k = 0; k < numT; ++k)
      for (int y = 0; y < hh; ++y)
        for (int x = 0; x < w; ++x) {
          const int64_t i = outIndex(x, y, z);
          const int64_t q = p.index(x, y, z);
          (*out)[k][size_t(i)] = !p.valid[size_t(q)]     ? VOID_VALUE
                                 : weights[size_t(i)] > 0 ? sums[k][size_t(i)] / weights[size_t(i)]
                                                          : p.values[k][size_t(q)];
        }
  });
  return true;
}

bool checkRecord(const wchar_t* name, const VA_NLMDENOISE* record, const FRAME* frame, bool show) {
  if (!frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL)) {
    reportError(name, L"Integer or Real volume is required", show);
    return false;
  }
  if (!record || record->patchRadius < 0 || record->patchRadius > 10 || record->searchRadius < 1 ||
      record->searchRadius > 50 || !(record->sigma > 0) || !(record->coefficient > 0)) {
    reportError(name, L"Invalid parameters", show);
    return false;
  }
  return true;
}

// Runs NLM on the time points ts together and writes the results into result.
bool denoiseTogether(const VA_NLMDENOISE* record, const FRAME* frame, const std::vector<int>& ts, FRAME* result,
                     twk::ProgressGuard& progress, const wchar_t* name, bool show) {
  std::vector<Volume3> vols(ts.size());
  for (size_t k = 0; k < ts.size(); ++k)
    if (!readTimePoint(frame, ts[k], &vols[k])) return false;
  const bool use3D = record->use3D && frame->dim.d > 1;
  const int m = record->patchRadius + record->searchRadius;
  Padded padded;
  if (!pad(vols, m, m, use3D ? m : 0, &padded)) {
    reportError(name, L"No defined voxels", show);
    return false;
  }
  vols.clear();
  std::vector<std::vector<double>> out;
  if (!nonLocalMeans(padded, record->patchRadius, record->searchRadius, use3D, record->sigma,
                     record->coefficient * record->sigma, &out, progress))
    return false;
  for (size_t k = 0; k < ts.size(); ++k)
    if (!writeTimePoint(result, ts[k], out[k].data())) return false;
  return true;
}

}  // namespace

FRAME* VA_VolDenoiseNLM(const VA_NLMDENOISE* record, const FRAME* frame, const SPC* spc, int t, bool show) {
  (void)spc;  // radii are in voxels
  const wchar_t* name = L"VA_VolDenoiseNLM";
  if (!checkRecord(name, record, frame, show)) return nullptr;
  if (t < -1 || t >= frame->dim.t) {
    reportError(name, L"Invalid time point", show);
    return nullptr;
  }
  FRAME* result = VA_VolClone(frame);
  if (!result) return nullptr;
  twk::ProgressGuard progress(L"Non-local means denoising", show);
  const int t0 = t < 0 ? 0 : t, t1 = t < 0 ? frame->dim.t - 1 : t;
  for (int k = t0; k <= t1; ++k) {
    progress.NestInto(100 * (k - t0) / (t1 - t0 + 1), 100 * (k - t0 + 1) / (t1 - t0 + 1));
    twk::ProgressGuard part(L"Non-local means denoising", show);
    if (!denoiseTogether(record, frame, {k}, result, part, name, show)) {
      PR_FrameDelete(&result);
      return nullptr;
    }
  }
  return result;
}

FRAME* VA_VolDenoiseNLMD(const VA_NLMDENOISE* record, const FRAME* frame, const SPC* spc, bool show) {
  (void)spc;
  const wchar_t* name = L"VA_VolDenoiseNLMD";
  if (!checkRecord(name, record, frame, show)) return nullptr;
  if (frame->dim.t < 2) {
    reportError(name, L"4D volume is required", show);
    return nullptr;
  }
  FRAME* result = VA_VolClone(frame);
  if (!result) return nullptr;
  twk::ProgressGuard progress(L"Non-local means denoising (4D)", show);
  std::vector<int> ts(static_cast<size_t>(frame->dim.t));
  for (int k = 0; k < frame->dim.t; ++k) ts[size_t(k)] = k;
  if (!denoiseTogether(record, frame, ts, result, progress, name, show)) PR_FrameDelete(&result);
  return result;
}
