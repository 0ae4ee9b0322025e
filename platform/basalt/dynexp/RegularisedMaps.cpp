// Regularised parametric maps of the imaging core (see RegularisedMaps.h): one engine of
// single-voxel fits and constrained neighbour smoothing, and the three models that use it.

#include "RegularisedMaps.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "DynOrder.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "numerics/CurveTools.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

VA_SMOOTHMAPS::~VA_SMOOTHMAPS() { clear(); }

void VA_SMOOTHMAPS::clear() {
  for (FRAME*& f : maps) PR_FrameDelete(&f);
  maps.clear();
  PR_FrameDelete(&additional);
}

FRAME* VA_GetNonVoidMask(const FRAME* frame) {
  if (!frame || !frame->data || frame->type == FRM_ROI) return nullptr;
  const DIM3D d = frame->dim;
  FRAME* mask = VA_VolCreateUniform(FRM_ROI, DIM3D{d.w, d.h, d.d, 1}, 0.0);
  if (!mask) return nullptr;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(d.h) * d.d), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t line = r.begin(); line != r.end(); ++line) {
      const int y = int(line % d.h), z = int(line / d.h);
      uint8_t* bits = twk::frameLine(mask, y, z, 0);
      for (int x = 0; x < d.w; ++x) {
        bool defined = true;
        for (int t = 0; t < d.t && defined; ++t) {
          const double v = twk::voxelValue(frame, x, y, z, t);
          defined = frame->type == FRM_REAL ? v != VOID_VALUE : !(frame->bpv == 32 && v == VOID_INT_VALUE);
        }
        twk::setBit(bits, x, defined);
      }
    }
  });
  return mask;
}

namespace {

constexpr double kVoid = VOID_VALUE;
constexpr double kSteps[] = {1.0, 0.5, 0.25, 0.125};
constexpr int kMaxParams = 4;

// One voxel while it is fitted: its curve (dynamic order), the conversion record of its baseline and
// the fixed setting (a delay) its own fit chose.
struct Voxel {
  const double* curve = nullptr;
  int n = 0;
  double info[3] = {};
  int alternative = 0;
};

class SmoothModel {
 public:
  virtual ~SmoothModel() = default;
  // Smoothed parameters and their search box.
  virtual int params() const = 0;
  virtual const INTERVAL* bounds() const = 0;
  // Fixed settings searched one after the other by the single-voxel fit (delays); 1: none.
  virtual int alternatives() const { return 1; }
  // Prepares the voxel once its curve is read; false: the voxel is not fitted.
  virtual bool prepare(Voxel&) const { return true; }
  // The RMSE at p (1e60 when the model cannot be built); *amplitude the linear amplitude, if any.
  // work holds room for 2 n doubles.
  virtual double error(const double* p, const Voxel& v, double* work, double* amplitude) const = 0;
  virtual int maps() const = 0;
  virtual void mapValues(const double* p, double amplitude, const Voxel& v, double* values) const = 0;
};

// RMSE of the curve against a * g, a the least-squares amplitude (written to *amplitude).
double amplitudeError(const double* y, const double* g, int n, double* amplitude) {
  double gy = 0, gg = 0;
  for (int i = 0; i < n; ++i) {
    gy += g[i] * y[i];
    gg += g[i] * g[i];
  }
  if (!(gg > 1e-300) || !std::isfinite(gg)) return kVoid;
  const double a = gy / gg;
  double ss = 0;
  for (int i = 0; i < n; ++i) ss += (y[i] - a * g[i]) * (y[i] - a * g[i]);
  if (amplitude) *amplitude = a;
  const double rmse = std::sqrt(ss / n);
  return std::isfinite(rmse) ? rmse : kVoid;
}

// Reads the curve of voxel (x, y, z) in dynamic order; false when a point is void.
bool readCurve(const FRAME* f, int x, int y, int z, const std::vector<int>& timeOf, double* out) {
  for (size_t k = 0; k < timeOf.size(); ++k) {
    const double v = twk::voxelValue(f, x, y, z, timeOf[k]);
    if (f->type == FRM_REAL ? v == VOID_VALUE : (f->bpv == 32 && v == VOID_INT_VALUE)) return false;
    out[k] = v;
  }
  return true;
}

struct CostContext {
  const SmoothModel* model;
  const Voxel* voxel;
  double* work;
};

double voxelCost(void* context, const double* x, const double* dx) {
  const auto& c = *static_cast<const CostContext*>(context);
  double p[kMaxParams];
  const int np = c.model->params();
  for (int i = 0; i < np; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  const double e = c.model->error(p, *c.voxel, c.work, nullptr);
  return e >= kVoid ? kVoid : e * e;
}

// The engine: fits, sweeps and maps. name prefixes its messages.
bool smoothMaps(const wchar_t* name, const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                const twk::dynexp::DynamicOrder& order, const SmoothModel& model, VA_SMOOTHMAPS* out) {
  out->clear();
  const int w = vol->W(), h = vol->H(), depth = vol->D(), n = vol->T();
  const FRAME* f = vol->frame;
  if (!mask || mask->type != FRM_ROI || mask->dim.w != w || mask->dim.h != h || mask->dim.d != depth) {
    twk::showNamedError(name, L"The mask does not match the volume");
    return false;
  }
  if (!(settings.tolerance >= 0) || !std::isfinite(settings.tolerance)) {
    twk::showNamedError(name, L"The fitting error tolerance must be 0 or more");
    return false;
  }
  const int grid = settings.grid >= 2 ? std::min(settings.grid, 20) : 4;
  const int budget = settings.iterations > 0 ? std::clamp(settings.iterations, 100, 2000) : 300;
  const int np = model.params();

  // The mask's voxels and their places.
  std::vector<int64_t> where;
  const int64_t voxels = int64_t(w) * h * depth;
  std::vector<int32_t> place(size_t(voxels), -1);
  for (int z = 0; z < depth; ++z)
    for (int y = 0; y < h; ++y) {
      const uint8_t* bits = twk::frameLine(mask, y, z, 0);
      for (int x = 0; x < w; ++x)
        if (twk::getBit(bits, x)) {
          const int64_t v = (int64_t(z) * h + y) * w + x;
          place[size_t(v)] = int32_t(where.size());
          where.push_back(v);
        }
    }
  const int64_t m = int64_t(where.size());
  if (m == 0) {
    twk::showNamedError(name, L"The mask holds no voxel");
    return false;
  }
  std::vector<double> params(size_t(m) * np, kVoid), amplitude(size_t(m), kVoid), best(size_t(m), kVoid),
      error(size_t(m), kVoid);
  std::vector<int> alternative(size_t(m), 0);
  std::vector<Voxel> prepared(static_cast<size_t>(m));

  twk::ProgressGuard progress(L"Regularized parametric map", true);
  const int64_t total = m * (1 + kSmoothSweeps);
  std::atomic<int64_t> done{0};
  std::atomic<bool> stop{false};
  const std::thread::id mainThread = std::this_thread::get_id();
  auto step = [&](int64_t count) {
    const int64_t now = done.fetch_add(count) + count;
    if (std::this_thread::get_id() == mainThread && !progress.Step(now, total)) stop = true;
    return !stop.load(std::memory_order_relaxed) && !progress.Stopped();
  };
  auto coords = [&](int64_t v, int* x, int* y, int* z) {
    *x = int(v % w);
    *y = int(v / w % h);
    *z = int(v / (int64_t(w) * h));
  };

  // 1. Every voxel alone.
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, m, 16), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> curve(static_cast<size_t>(n)), work(static_cast<size_t>(2 * n) + 2);
    for (int64_t i = r.begin(); i != r.end(); ++i) {
      int x, y, z;
      coords(where[size_t(i)], &x, &y, &z);
      Voxel v;
      v.curve = curve.data();
      v.n = n;
      if (readCurve(f, x, y, z, order.timeOf, curve.data()) && model.prepare(v)) {
        double bestCost = kVoid, point[kMaxParams] = {};
        for (int a = 0; a < model.alternatives(); ++a) {
          Voxel trial = v;
          trial.alternative = a;
          CostContext context{&model, &trial, work.data()};
          double cost = kVoid, p[kMaxParams] = {};
          if (!PR_OptimizeAmoebaOverGrid(grid, np, model.bounds(), true, voxelCost, &context, budget, 0, &cost, p))
            continue;
          if (cost < bestCost) {
            bestCost = cost;
            std::copy_n(p, np, point);
            v.alternative = a;
          }
        }
        if (bestCost < kVoid) {
          double a = kVoid;
          const double e = model.error(point, v, work.data(), &a);
          if (e < kVoid) {
            std::copy_n(point, np, &params[size_t(i) * np]);
            amplitude[size_t(i)] = a;
            best[size_t(i)] = error[size_t(i)] = e;
            alternative[size_t(i)] = v.alternative;
            std::copy_n(v.info, 3, prepared[size_t(i)].info);
          }
        }
      }
      if (!step(1)) return;
    }
  });
  if (stop || progress.Stopped()) return false;

  // 2. Sweeps toward the neighbours' mean within each voxel's error bound.
  const int64_t strides[3] = {1, w, int64_t(w) * h};
  const int extents[3] = {w, h, depth};
  std::vector<double> next(params);
  for (int sweep = 0; sweep < kSmoothSweeps; ++sweep) {
    std::atomic<bool> moved{false};
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, m, 64), [&](const tbb::blocked_range<int64_t>& r) {
      std::vector<double> curve(static_cast<size_t>(n)), work(static_cast<size_t>(2 * n) + 2);
      for (int64_t i = r.begin(); i != r.end(); ++i) {
        if (stop.load(std::memory_order_relaxed) || progress.Stopped()) return;
        const double* own = &params[size_t(i) * np];
        double* target = &next[size_t(i) * np];
        std::copy_n(own, np, target);
        if (best[size_t(i)] >= kVoid) continue;
        const int64_t v = where[size_t(i)];
        int c[3];
        coords(v, &c[0], &c[1], &c[2]);
        double mean[kMaxParams] = {};
        int count = 0;
        for (int axis = 0; axis < 3; ++axis)
          for (int side = -1; side <= 1; side += 2) {
            const int at = c[axis] + side;
            if (at < 0 || at >= extents[axis]) continue;
            const int32_t j = place[size_t(v + side * strides[axis])];
            if (j < 0 || best[size_t(j)] >= kVoid) continue;
            for (int k = 0; k < np; ++k) mean[k] += params[size_t(j) * np + k];
            ++count;
          }
        if (count == 0) continue;
        bool differs = false;
        for (int k = 0; k < np; ++k) {
          mean[k] /= count;
          differs = differs || std::fabs(mean[k] - own[k]) > 1e-9 * (std::fabs(own[k]) + 1e-12);
        }
        if (!differs) continue;
        Voxel vox;
        vox.curve = curve.data();
        vox.n = n;
        vox.alternative = alternative[size_t(i)];
        std::copy_n(prepared[size_t(i)].info, 3, vox.info);
        if (!readCurve(f, c[0], c[1], c[2], order.timeOf, curve.data())) continue;
        const double bound = best[size_t(i)] + settings.tolerance + 1e-12 * std::fabs(best[size_t(i)]);
        for (double s : kSteps) {
          double candidate[kMaxParams];
          for (int k = 0; k < np; ++k) candidate[k] = own[k] + s * (mean[k] - own[k]);
          double a = kVoid;
          const double e = model.error(candidate, vox, work.data(), &a);
          if (e <= bound) {
            std::copy_n(candidate, np, target);
            amplitude[size_t(i)] = a;
            error[size_t(i)] = e;
            moved = true;
            break;
          }
        }
      }
      step(r.end() - r.begin());
    });
    if (stop || progress.Stopped()) return false;
    params.swap(next);
    if (!moved) break;
  }

  // 3. The maps.
  const int count = model.maps();
  std::vector<std::vector<double>> values(size_t(count) + 1, std::vector<double>(size_t(voxels), kVoid));
  std::vector<double> one(static_cast<size_t>(count));
  for (int64_t i = 0; i < m; ++i) {
    if (best[size_t(i)] >= kVoid) continue;
    Voxel vox;
    vox.alternative = alternative[size_t(i)];
    model.mapValues(&params[size_t(i) * np], amplitude[size_t(i)], vox, one.data());
    const int64_t v = where[size_t(i)];
    for (int k = 0; k < count; ++k) values[size_t(k)][size_t(v)] = one[size_t(k)];
    values[size_t(count)][size_t(v)] = error[size_t(i)];
  }
  for (int k = 0; k <= count; ++k) {
    FRAME* frame = VA_CreateVol(values[size_t(k)].data(), 64, w, h, depth, 1);
    if (!frame) {
      out->clear();
      twk::showNamedError(name, L"Not enough memory for the maps");
      return false;
    }
    if (k < count) out->maps.push_back(frame);
    else out->additional = frame;
  }
  return true;
}

// --- IVIM ---
class IvimModel final : public SmoothModel {
 public:
  IvimModel(const std::vector<double>& b, const double* fp) : b_(b) {
    // Smoothed: f, Dp, Dt.
    box_[0] = IntervalOf(fp[1], fp[2]);
    box_[1] = IntervalOf(fp[5], fp[6]);
    box_[2] = IntervalOf(fp[3], fp[4]);
  }
  int params() const override { return 3; }
  const INTERVAL* bounds() const override { return box_; }
  double error(const double* p, const Voxel& v, double* work, double* amplitude) const override {
    for (int i = 0; i < v.n; ++i)
      work[i] = (1 - p[0]) * std::exp(-b_[size_t(i)] * p[2]) + p[0] * std::exp(-b_[size_t(i)] * p[1]);
    return amplitudeError(v.curve, work, v.n, amplitude);
  }
  int maps() const override { return 4; }
  void mapValues(const double* p, double a, const Voxel&, double* values) const override {
    values[0] = a;
    values[1] = p[0];
    values[2] = p[1];
    values[3] = p[2];
  }

 private:
  const std::vector<double>& b_;
  INTERVAL box_[3];
};

// --- gamma variate ---
class GammaVariateModel final : public SmoothModel {
 public:
  explicit GammaVariateModel(const std::vector<double>& times) : times_(times) {
    span_ = times.empty() ? 0 : times.back();
    box_[0] = INTERVAL{0.01, 100};   // alpha
    box_[1] = INTERVAL{0.001, 100};  // 1 / beta
  }
  int params() const override { return 2; }
  const INTERVAL* bounds() const override { return box_; }
  double error(const double* p, const Voxel& v, double* work, double* amplitude) const override {
    if (!(span_ > 0) || !(p[1] > 0)) return kVoid;
    for (int i = 0; i < v.n; ++i) {
      const double u = times_[size_t(i)] / span_;
      work[i] = u <= 0 ? 0.0 : std::pow(u, p[0]) * std::exp(-u * p[1]);
    }
    return amplitudeError(v.curve, work, v.n, amplitude);
  }
  int maps() const override { return 3; }
  void mapValues(const double* p, double a, const Voxel&, double* values) const override {
    values[0] = a;
    values[1] = p[0];
    values[2] = 1 / p[1];
  }

 private:
  const std::vector<double>& times_;
  double span_ = 0;
  INTERVAL box_[2];
};

// --- Tofts ---
class ToftsModel final : public SmoothModel {
 public:
  ToftsModel(const std::vector<double>& times, std::vector<std::vector<double>> delayed, std::vector<double> delays,
             const double* fp, VA_SIGTOCONCFUNC sigToConc, VA_CONCTOSIGFUNC concToSig)
      : times_(times), delayed_(std::move(delayed)), delays_(std::move(delays)), sigToConc_(sigToConc),
        concToSig_(concToSig) {
    const double kmax = fp[0] / 60;
    box_[0] = IntervalOf(std::min(0.0, kmax), std::max(0.0, kmax));
    box_[1] = IntervalOf(std::min(0.01, fp[1]), std::max(0.01, fp[1]));
  }
  int params() const override { return 2; }
  const INTERVAL* bounds() const override { return box_; }
  int alternatives() const override { return int(delays_.size()); }
  bool prepare(Voxel& v) const override {
    std::vector<double> conc(size_t(v.n));
    sigToConc_(v.curve, v.n, conc.data(), 1, v.info);
    return std::isfinite(v.info[0]);
  }
  double error(const double* p, const Voxel& v, double* work, double* amplitude) const override {
    if (!(std::fabs(p[1]) >= 1e-100)) return kVoid;
    const std::vector<double>& input = delayed_[size_t(v.alternative)];
    PR_IntegralFunc_PWL_NegExp(p[0] / p[1], input.data(), times_.data(), v.n, work);
    for (int i = 0; i < v.n; ++i) work[i] *= p[0];
    double* signal = work + v.n;
    concToSig_(work, v.n, signal, 1, v.info);
    double ss = 0;
    for (int i = 0; i < v.n; ++i) {
      if (!std::isfinite(signal[i]) || signal[i] >= kVoid) return kVoid;
      ss += (signal[i] - v.curve[i]) * (signal[i] - v.curve[i]);
    }
    if (amplitude) *amplitude = kVoid;
    return std::sqrt(ss / v.n);
  }
  int maps() const override { return 3; }
  void mapValues(const double* p, double, const Voxel& v, double* values) const override {
    values[0] = p[0] * 60;
    values[1] = p[1];
    values[2] = delays_[size_t(v.alternative)];
  }

 private:
  const std::vector<double>& times_;
  std::vector<std::vector<double>> delayed_;
  std::vector<double> delays_;
  VA_SIGTOCONCFUNC sigToConc_;
  VA_CONCTOSIGFUNC concToSig_;
  INTERVAL box_[2];
};

bool orderOf(const wchar_t* name, const CVol* vol, DYNDIM wanted, twk::dynexp::DynamicOrder* order) {
  if (!vol || !vol->frame || vol->IsROI() || !vol->Is4D() || !twk::dynexp::dynamicOrder(vol, order)) {
    twk::showNamedError(name, L"4D volume is required");
    return false;
  }
  const DYNDIM kind = order->kind == DYN_UNKNOWN ? DYN_TIME : order->kind;
  if (kind != wanted) {
    twk::showNamedError(name, wanted == DYN_BVALUE ? L"The volume's dynamic dimension must be the b-value"
                                                   : L"The volume's dynamic dimension must be time");
    return false;
  }
  return true;
}

}  // namespace

bool VA_SmoothMapIvimM18(const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                         const double* freeParms, VA_SMOOTHMAPS* out) {
  constexpr const wchar_t* kName = L"VA_SmoothMapIvimM18";
  if (out) out->clear();
  twk::dynexp::DynamicOrder order;
  if (!out || !freeParms || !orderOf(kName, vol, DYN_BVALUE, &order)) return false;
  const IvimModel model(order.axis, freeParms);
  return smoothMaps(kName, vol, mask, settings, order, model, out);
}

bool VA_SmoothMapGammaVariateM52(const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                                 const double* freeParms, VA_SMOOTHMAPS* out) {
  constexpr const wchar_t* kName = L"VA_SmoothMapGammaVariateM52";
  if (out) out->clear();
  twk::dynexp::DynamicOrder order;
  if (!out || !freeParms || !orderOf(kName, vol, DYN_TIME, &order)) return false;
  if (vol->T() < 4) {
    twk::showNamedError(kName, L"This model requires at least 4 dynamic points");
    return false;
  }
  const GammaVariateModel model(order.times);
  return smoothMaps(kName, vol, mask, settings, order, model, out);
}

bool VA_SmoothKtransM57(const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                        const double* freeParms, const double* ifTimes, const double* input, int ifCount,
                        VA_SIGTOCONCFUNC sigToConc, VA_CONCTOSIGFUNC concToSig, VA_SMOOTHMAPS* out) {
  constexpr const wchar_t* kName = L"VA_SmoothKtransM57";
  if (out) out->clear();
  twk::dynexp::DynamicOrder order;
  if (!out || !freeParms || !orderOf(kName, vol, DYN_TIME, &order)) return false;
  if (!ifTimes || !input || ifCount < 2 || !sigToConc || !concToSig) {
    twk::showNamedError(kName, L"Input function is missing or incorrect");
    return false;
  }
  const double minDelay = freeParms[2], maxDelay = freeParms[3], delta = freeParms[4];
  if (!(delta > 0)) {
    twk::showNamedError(kName, L"Time delta should be greater than 0");
    return false;
  }
  if (!(minDelay <= maxDelay) || (maxDelay - minDelay) / delta > 1000) {
    twk::showNamedError(kName, L"Invalid Input Function delay interval");
    return false;
  }
  const int n = vol->T();
  double* onTimes = PR_ResampleFunction(input, ifTimes, ifCount, order.times.data(), n, true);
  if (!onTimes) {
    twk::showNamedError(kName, L"Input function is missing or incorrect");
    return false;
  }
  std::vector<double> delays;
  std::vector<std::vector<double>> delayed;
  for (int k = 0;; ++k) {
    const double delay = minDelay + k * delta;
    if (delay > maxDelay + 1e-9 * delta) break;
    double* shifted = PR_DelayThisFunction(onTimes, order.times.data(), n, delay);
    if (!shifted) break;
    delays.push_back(delay);
    delayed.emplace_back(shifted, shifted + n);
    pf_free(&shifted);
  }
  pf_free(&onTimes);
  if (delays.empty()) {
    twk::showNamedError(kName, L"Input function is missing or incorrect");
    return false;
  }
  const ToftsModel model(order.times, std::move(delayed), std::move(delays), freeParms, sigToConc, concToSig);
  return smoothMaps(kName, vol, mask, settings, order, model, out);
}
