#pragma once
// Reference curves of the kinetic-model tests and benchmarks, made independently of the plug-in:
// a population-average arterial input in closed form, a fine-step Runge-Kutta integrator of
// compartment equations, the spoiled gradient-echo signal conversion a host installs, and the
// residuals the sweeps compare fits by.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace modeltest {

// Population-average arterial input of plasma (mM), t in seconds: the blood curve of two Gaussians
// and a sigmoid-modulated exponential (t in minutes inside, the bolus `onset` seconds after the
// start), divided by 1 - haematocrit (0.42).
inline double populationInput(double seconds, double onset = 30) {
  const double t = (seconds - onset) / 60;
  const double a[2] = {0.809, 0.330}, centre[2] = {0.17046, 0.365}, sigma[2] = {0.0563, 0.132};
  double blood = 0;
  for (int i = 0; i < 2; ++i)
    blood += a[i] / (sigma[i] * std::sqrt(2 * std::numbers::pi)) *
             std::exp(-(t - centre[i]) * (t - centre[i]) / (2 * sigma[i] * sigma[i]));
  blood += 1.050 * std::exp(-0.1685 * t) / (1 + std::exp(-38.078 * (t - 0.483)));
  return blood / (1 - 0.42);
}

// Fourth-order Runge-Kutta of y' = f(t, y) for `dim` compartments from y(0) = 0 in steps of h;
// returns combine(y) at each of the times (each a multiple of h from 0).
inline std::vector<double> integrate(const std::vector<double>& times, double h, int dim,
                                     const std::function<void(double t, const double* y, double* dy)>& f,
                                     const std::function<double(const double* y)>& combine) {
  std::vector<double> out(times.size());
  std::vector<double> y(dim, 0.0), k1(dim), k2(dim), k3(dim), k4(dim), tmp(dim);
  size_t next = 0;
  long long step = 0;
  while (next < times.size()) {
    const double t = double(step) * h;
    while (next < times.size() && std::fabs(t - times[next]) < h / 2) out[next++] = combine(y.data());
    if (next >= times.size()) break;
    f(t, y.data(), k1.data());
    for (int i = 0; i < dim; ++i) tmp[i] = y[i] + h / 2 * k1[i];
    f(t + h / 2, tmp.data(), k2.data());
    for (int i = 0; i < dim; ++i) tmp[i] = y[i] + h / 2 * k2[i];
    f(t + h / 2, tmp.data(), k3.data());
    for (int i = 0; i < dim; ++i) tmp[i] = y[i] + h * k3[i];
    f(t + h, tmp.data(), k4.data());
    for (int i = 0; i < dim; ++i) y[i] += h / 6 * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]);
    ++step;
  }
  return out;
}

// The spoiled gradient-echo conversion the workstation uses for T1-weighted dynamic series.
// The signal of a voxel is S = M0 sin(a) (1 - E) / (1 - E cos(a)), E = exp(-TR R1), with
// R1 = R10 + r1 C. SigToConc takes the baseline as the mean of the first frames, solves M0 from it at
// the pre-contrast R10 and keeps M0 and R10 in the conversion record (info[0], info[1]); ConcToSig
// rebuilds the signal from that record. Signals beyond the equation's range (noise above
// M0 sin(a)) give the largest concentration the equation can express, never NaN.
struct SpoiledGradientEcho {
  double tr = 0.005;          // s
  double flipDegrees = 30;
  double t10 = 1.0;           // pre-contrast T1, s
  double relaxivity = 4.5;    // r1, 1/(mM s)
  int baselineFrames = 5;

  double sine() const { return std::sin(flipDegrees * std::numbers::pi / 180); }
  double cosine() const { return std::cos(flipDegrees * std::numbers::pi / 180); }
  // Signal of relaxation rate r1 for the equilibrium magnetisation m0.
  double signalOfRate(double m0, double rate) const {
    const double e = std::exp(-tr * rate);
    return m0 * sine() * (1 - e) / (1 - e * cosine());
  }
  double signalOf(double m0, double conc) const { return signalOfRate(m0, 1 / t10 + relaxivity * conc); }
  // Equilibrium magnetisation that gives the baseline signal at R10.
  double m0Of(double baseline) const { return baseline / signalOfRate(1, 1 / t10); }
  double concOf(double m0, double signal) const {
    const double a = m0 * sine();
    double e = (a - signal) / (a - signal * cosine());
    e = std::clamp(e, 1e-300, 1.0);
    return (-std::log(e) / tr - 1 / t10) / relaxivity;
  }
};
inline const SpoiledGradientEcho& spoiledGradientEcho() {
  static const SpoiledGradientEcho settings;
  return settings;
}
inline void spgrSigToConc(const double* in, int64_t n, double* out, int64_t, void* info) {
  const SpoiledGradientEcho& s = spoiledGradientEcho();
  const int64_t frames = std::max<int64_t>(1, std::min<int64_t>(n, s.baselineFrames));
  double baseline = 0;
  for (int64_t i = 0; i < frames; ++i) baseline += in[i];
  baseline /= double(frames);
  const double m0 = s.m0Of(baseline);
  if (info) {
    static_cast<double*>(info)[0] = m0;
    static_cast<double*>(info)[1] = 1 / s.t10;
  }
  for (int64_t i = 0; i < n; ++i) out[i] = s.concOf(m0, in[i]);
}
inline void spgrConcToSig(const double* in, int64_t n, double* out, int64_t, const void* info) {
  const SpoiledGradientEcho& s = spoiledGradientEcho();
  const double m0 = info ? static_cast<const double*>(info)[0] : 0.0;
  for (int64_t i = 0; i < n; ++i) out[i] = s.signalOf(m0, in[i]);
}
// The signal of a concentration curve for a voxel whose pre-contrast signal is `baseline`.
inline std::vector<double> spgrSignal(const std::vector<double>& conc, double baseline) {
  const SpoiledGradientEcho& s = spoiledGradientEcho();
  const double m0 = s.m0Of(baseline);
  std::vector<double> signal(conc.size());
  for (size_t i = 0; i < conc.size(); ++i) signal[i] = s.signalOf(m0, conc[i]);
  return signal;
}

// An input function as a curve of time.
using InputCurve = std::function<double(double)>;

// The curve through (times[i], values[i]), linear between the samples and held beyond them: an input
// function as a model sees it when it takes the sampled input as piecewise linear.
inline InputCurve sampledInput(const std::vector<double>& times, const std::vector<double>& values) {
  return [times, values](double t) {
    if (t <= times.front()) return values.front();
    if (t >= times.back()) return values.back();
    const size_t i = size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin());
    const double f = (t - times[i - 1]) / (times[i] - times[i - 1]);
    return values[i - 1] + f * (values[i] - values[i - 1]);
  };
}

// The Tofts tissue concentration by a Runge-Kutta integration of C' = Ktrans Cp - (Ktrans / ve) C in
// steps of h (rates per second), plus vp Cp for the extended model, C = vp Cp + (1 - vp) C_tofts.
// Cp is the population input unless another is given. The times must be multiples of h.
inline std::vector<double> toftsReference(const std::vector<double>& times, double ktrans, double ve, double vp = 0,
                                          double h = 0.05, const InputCurve& input = {}) {
  const InputCurve cp = input ? input : InputCurve([](double t) { return populationInput(t); });
  const double kep = ktrans / ve;
  std::vector<double> c = integrate(
      times, h, 1, [&](double t, const double* y, double* dy) { dy[0] = ktrans * cp(t) - kep * y[0]; },
      [](const double* y) { return y[0]; });
  for (size_t i = 0; i < times.size(); ++i) c[i] = vp * cp(times[i]) + (1 - vp) * c[i];
  return c;
}

// Two-compartment exchange of the population input, or of `input` when given (rates and flows per
// second), by Runge-Kutta: vp Cp' = Fp (Ca - Cp) + PS (Ce - Cp), ve Ce' = PS (Cp - Ce),
// C = vp Cp + ve Ce.
inline std::vector<double> exchangeReference(const std::vector<double>& times, double vp, double ve, double fp,
                                             double ps, double h = 0.05, const InputCurve& input = {}) {
  const InputCurve ca = input ? input : InputCurve([](double t) { return populationInput(t); });
  return integrate(
      times, h, 2,
      [&](double t, const double* y, double* dy) {
        dy[0] = (fp * (ca(t) - y[0]) + ps * (y[1] - y[0])) / vp;
        dy[1] = ps * (y[0] - y[1]) / ve;
      },
      [=](const double* y) { return vp * y[0] + ve * y[1]; });
}

// Tissue uptake of the population input (or of `input` when given) delayed by `delay` seconds:
// vp Cp' = Fp (Ca - Cp) - PS Cp, and the taken-up amount grows by PS Cp; C = vp Cp + taken-up amount.
inline std::vector<double> uptakeReference(const std::vector<double>& times, double vp, double fp, double ps,
                                           double delay = 0, double h = 0.05, const InputCurve& input = {}) {
  const InputCurve ca = input ? input : InputCurve([](double t) { return populationInput(t); });
  return integrate(
      times, h, 2,
      [&](double t, const double* y, double* dy) {
        dy[0] = (fp * (ca(t - delay) - y[0]) - ps * y[0]) / vp;
        dy[1] = ps * y[0];
      },
      [=](const double* y) { return vp * y[0] + y[1]; });
}

// --- comparing curves ---

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

// The point-wise root mean squared difference of two curves.
inline double rmse(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum / double(a.size()));
}

// The time-integral L2 residual of two curves linear between the samples:
// sqrt(integral of (a - b)^2 dt / duration).
inline double integralL2(const std::vector<double>& a, const std::vector<double>& b, const std::vector<double>& t) {
  double sum = 0;
  for (size_t i = 1; i < t.size(); ++i) {
    const double d0 = a[i - 1] - b[i - 1], d1 = a[i] - b[i];
    sum += (t[i] - t[i - 1]) * (d0 * d0 + d0 * d1 + d1 * d1) / 3;
  }
  return std::sqrt(sum / (t.back() - t.front()));
}

}  // namespace modeltest
