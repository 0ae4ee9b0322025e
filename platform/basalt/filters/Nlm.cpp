// Non-local means with the outer loop over the search offsets: for each offset the squared patch
// differences of every voxel come from one box sum of the squared voxel differences (separable
// running sums), so the cost grows with the search volume, not with the patch volume.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
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
  return true;
}

// NLM over the padded time points: weights from the patches of all of them, each denoised with
// the same weights. out[k] receives w*h*d values per time point.
bool nonLocalMeans(const Padded& p, int patch, int search, bool use3D, double sigma, double h,
                   std::vector<std::vector<double>>* out, twk::ProgressGuard& progress) {
  const int w = p.w, hh = p.h, d = p.d;
  const int pz = use3D ? patch : 0, sz = use3D ? search : 0;
  const size_t numT = p.values.size();
  const int64_t n = int64_t(w) * hh * d;
  // The patch differences are needed on the volume grown by the patch radius.
  const int ew = w + 2 * patch, eh = hh + 2 * patch, ed = d + 2 * pz;
  std::vector<double> diff(size_t(int64_t(ew) * eh * ed)), boxX(size_t(int64_t(w) * eh * ed)),
      boxXY(size_t(int64_t(w) * hh * ed));
  std::vector<double> weights(size_t(n), 0.0);
  std::vector<std::vector<double>> sums(numT, std::vector<double>(size_t(n), 0.0));
  const double patchVolume = double(2 * patch + 1) * (2 * patch + 1) * (2 * pz + 1);
  const double noiseTerm = 2 * sigma * sigma;
  const double invH2 = 1.0 / (h * h);
  const int64_t offsets = int64_t(2 * search + 1) * (2 * search + 1) * (2 * sz + 1);
  int64_t done = 0;
  for (int oz = -sz; oz <= sz; ++oz)
    for (int oy = -search; oy <= search; ++oy)
      for (int ox = -search; ox <= search; ++ox) {
        const int64_t shift = (int64_t(oz) * p.ph + oy) * p.pw + ox;
        // Squared differences (mean over the time points) on the grown grid.
        tbb::parallel_for(0, ed, [&](int ez) {
          for (int ey = 0; ey < eh; ++ey) {
            const int64_t src = p.index(-patch, ey - patch, ez - pz);
            double* line = &diff[(size_t(ez) * eh + ey) * ew];
            for (int ex = 0; ex < ew; ++ex) {
              double s = 0;
              for (size_t k = 0; k < numT; ++k) {
                const double t = p.values[k][size_t(src + ex)] - p.values[k][size_t(src + ex + shift)];
                s += t * t;
              }
              line[ex] = s / double(numT);
            }
          }
        });
        // Box sums along x, y, then z.
        tbb::parallel_for(0, ed, [&](int ez) {
          for (int ey = 0; ey < eh; ++ey) {
            const double* in = &diff[(size_t(ez) * eh + ey) * ew];
            double* o = &boxX[(size_t(ez) * eh + ey) * w];
            double s = 0;
            for (int k = 0; k < 2 * patch + 1; ++k) s += in[k];
            o[0] = s;
            for (int x = 1; x < w; ++x) o[x] = s += in[x + 2 * patch] - in[x - 1];
          }
          for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int k = 0; k < 2 * patch + 1; ++k) s += boxX[(size_t(ez) * eh + k) * w + x];
            boxXY[(size_t(ez) * hh + 0) * w + x] = s;
            for (int y = 1; y < hh; ++y) {
              s += boxX[(size_t(ez) * eh + y + 2 * patch) * w + x] - boxX[(size_t(ez) * eh + y - 1) * w + x];
              boxXY[(size_t(ez) * hh + y) * w + x] = s;
            }
          }
        });
        tbb::parallel_for(0, hh, [&](int y) {
          std::vector<double> column(static_cast<size_t>(d));
          for (int x = 0; x < w; ++x) {
            double s = 0;
            for (int k = 0; k < 2 * pz + 1; ++k) s += boxXY[(size_t(k) * hh + y) * w + x];
            column[0] = s;
            for (int z = 1; z < d; ++z) {
              s += boxXY[(size_t(z + 2 * pz) * hh + y) * w + x] - boxXY[(size_t(z - 1) * hh + y) * w + x];
              column[size_t(z)] = s;
            }
            for (int z = 0; z < d; ++z) {
              const int64_t q = p.index(x, y, z) + shift;
              if (!p.valid[size_t(q)]) continue;
              const double distance = std::max(column[size_t(z)] / patchVolume - noiseTerm, 0.0) * invH2;
              if (distance > 5.0) continue;
              const double weight = std::exp(-distance);
              const int64_t i = (int64_t(z) * hh + y) * w + x;
              weights[size_t(i)] += weight;
              for (size_t k = 0; k < numT; ++k) sums[k][size_t(i)] += weight * p.values[k][size_t(q)];
            }
          }
        });
        if (!progress.Step(++done, offsets)) return false;
      }
  out->assign(numT, std::vector<double>(size_t(n)));
  for (size_t k = 0; k < numT; ++k)
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < hh; ++y)
        for (int x = 0; x < w; ++x) {
          const int64_t i = (int64_t(z) * hh + y) * w + x;
          (*out)[k][size_t(i)] = !p.valid[size_t(p.index(x, y, z))] ? VOID_VALUE
                                 : weights[size_t(i)] > 0    ? sums[k][size_t(i)] / weights[size_t(i)]
                                                             : p.values[k][size_t(p.index(x, y, z))];
        }
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
