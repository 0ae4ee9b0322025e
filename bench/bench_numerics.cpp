// Speed of the curve-fitting optimisers on a standard cost, a mono-exponential fit of 20 points:
// one curve on one thread, and 10,000 curves over all cores through a parallel loop as a map run
// does. Also the exact piecewise-linear kernels that the kinetic models call inside their costs.

#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <vector>

#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace {

constexpr int kPoints = 20;
constexpr int kCurves = 10000;

struct Curve {
  double t[kPoints];
  double y[kPoints];
};

Curve makeCurve(int index) {
  Curve c;
  const double amplitude = 40 + index % 97, rate = 0.01 + 0.001 * (index % 53);
  for (int i = 0; i < kPoints; ++i) {
    c.t[i] = 3.0 * i;
    c.y[i] = amplitude * std::exp(-rate * c.t[i]) + 0.3 * std::sin(1.3 * i + index);
  }
  return c;
}

const std::vector<Curve>& curves() {
  static const std::vector<Curve> all = [] {
    std::vector<Curve> v;
    v.reserve(kCurves);
    for (int i = 0; i < kCurves; ++i) v.push_back(makeCurve(i));
    return v;
  }();
  return all;
}

double rmse(void* context, const double* p, const double* dx) {
  const auto* c = static_cast<const Curve*>(context);
  const double a = p[0] + (dx ? dx[0] : 0), r = p[1] + (dx ? dx[1] : 0);
  double sum = 0;
  for (int i = 0; i < kPoints; ++i) {
    const double d = c->y[i] - a * std::exp(-r * c->t[i]);
    sum += d * d;
  }
  return std::sqrt(sum / kPoints);
}

void boxCost(void*, const INTERVAL* b, const double* y, const double* x, double* lower, double* centre,
             double* upper) {
  INTERVAL sum = IntervalPoint(0);
  const double a = IntervalMid(b[0]), r = IntervalMid(b[1]);
  double plain = 0;
  for (int i = 0; i < kPoints; ++i) {
    sum = sum + IntervalSquaredResidual(b[0] * IntervalExp(-b[1] * x[i]), y[i]);
    const double d = y[i] - a * std::exp(-r * x[i]);
    plain += d * d;
  }
  *lower = sum.lo / kPoints;
  *upper = sum.hi / kPoints;
  *centre = plain / kPoints;
}

double fitAmoeba(const Curve& c) {
  const INTERVAL box[2] = {{1, 300}, {0.001, 0.5}};
  double best[2], cost = 0;
  PR_OptimizeAmoebaOverGrid(11, 2, box, true, rmse, const_cast<Curve*>(&c), 2000, 0, &cost, best);
  return best[1];
}

double fitInterval(const Curve& c) {
  const INTERVAL box[2] = {{0.5 * c.y[0], 1.5 * c.y[0]}, {0, 0.2}};
  INTERVAL best[2];
  double cost = 0;
  PR_GO_NonconstrCostOptimizeSLX(2, boxCost, nullptr, box, c.y, c.t, 1e-8, 1e-6, 2000, best, &cost, nullptr,
                                 nullptr, nullptr, false);
  return IntervalMid(best[1]);
}

template <double (*Fit)(const Curve&)>
void singleThread(benchmark::State& state) {
  const auto& all = curves();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Fit(all[i]));
    i = (i + 1) % all.size();
  }
  state.SetItemsProcessed(state.iterations());
}

template <double (*Fit)(const Curve&)>
void allCores(benchmark::State& state) {
  const auto& all = curves();
  std::vector<double> out(all.size());
  for (auto _ : state) {
    tbb::parallel_for(size_t(0), all.size(), [&](size_t i) { out[i] = Fit(all[i]); });
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(all.size()));
}

void negExpIntegral(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<double> t(n), v(n), out(n);
  for (int i = 0; i < n; ++i) {
    t[i] = 1.5 * i;
    v[i] = t[i] * std::exp(-t[i] / 30);
  }
  double k = 0.01;
  for (auto _ : state) {
    PR_IntegralFunc_PWL_NegExp(k, v.data(), t.data(), n, out.data());
    benchmark::DoNotOptimize(out.data());
    k = k < 1 ? k * 1.01 : 0.01;
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void convolution(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<double> f, g, times(n), out(n);
  for (int i = 0; i < n; ++i) {
    times[i] = 2.0 * i;
    f.insert(f.end(), {times[i], times[i] * std::exp(-times[i] / 20)});
    g.insert(g.end(), {0.5 * i, std::exp(-0.05 * i)});
  }
  for (auto _ : state) {
    PR_ConvolutePWL(f.data(), n, g.data(), n, times.data(), n, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

}  // namespace

BENCHMARK(singleThread<fitAmoeba>)->Name("AmoebaOverGrid/MonoExp20/OneThread");
BENCHMARK(allCores<fitAmoeba>)->Name("AmoebaOverGrid/MonoExp20/AllCores10000")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(singleThread<fitInterval>)->Name("IntervalBranchBound/MonoExp20/OneThread");
BENCHMARK(allCores<fitInterval>)->Name("IntervalBranchBound/MonoExp20/AllCores10000")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(negExpIntegral)->Arg(60)->Arg(1000);
BENCHMARK(convolution)->Arg(60)->Arg(250);
