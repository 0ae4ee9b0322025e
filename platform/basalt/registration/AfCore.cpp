#include "AfCore.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "volume/VoxelAccess.h"

namespace twk::af {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Index and weight of a millimetre position along one axis of n voxels spaced s apart; false
// outside. A single voxel is read within half a voxel of its centre.
inline bool axisPos(double x, double s, int n, int* i0, double* f) {
  const double u = x / s;
  if (n == 1) {
    if (u < -0.5 || u > 0.5) return false;
    *i0 = 0;
    *f = 0.0;
    return true;
  }
  if (!(u >= 0.0 && u <= n - 1)) return false;
  int i = int(u);
  if (i > n - 2) i = n - 2;
  *i0 = i;
  *f = u - i;
  return true;
}

}  // namespace

bool AfImage::sample(double x, double y, double z, double* value) const {
  x -= ox;
  y -= oy;
  z -= oz;
  int ix, iy, iz;
  double fx, fy, fz;
  if (!axisPos(x, sx, w, &ix, &fx) || !axisPos(y, sy, h, &iy, &fy) || !axisPos(z, sz, d, &iz, &fz)) return false;
  const int dx = w > 1 ? 1 : 0, dy = h > 1 ? 1 : 0, dz = d > 1 ? 1 : 0;
  const size_t sw = size_t(w), sh = size_t(h) * w;
  const float* p = v.data() + iz * sh + iy * sw + ix;
  const double c000 = p[0], c100 = p[dx], c010 = p[dy * sw], c110 = p[dy * sw + dx];
  const double c001 = p[dz * sh], c101 = p[dz * sh + dx], c011 = p[dz * sh + dy * sw], c111 = p[dz * sh + dy * sw + dx];
  const double c00 = c000 + fx * (c100 - c000), c10 = c010 + fx * (c110 - c010);
  const double c01 = c001 + fx * (c101 - c001), c11 = c011 + fx * (c111 - c011);
  const double c0 = c00 + fy * (c10 - c00), c1 = c01 + fy * (c11 - c01);
  const double r = c0 + fz * (c1 - c0);
  if (r != r) return false;  // a void neighbour
  *value = r;
  return true;
}

bool afImageFromFrame(const FRAME* frame, int t, const SPC* spc, AfImage* out) {
  if (!frame || !frame->data || t < 0 || t >= frame->dim.t) return false;
  const VoxelElem e = voxelElemOf(frame);
  if (e == VoxelElem::Invalid) return false;
  out->w = frame->dim.w;
  out->h = frame->dim.h;
  out->d = frame->dim.d;
  out->sx = spc ? spc->x : 1.0;
  out->sy = spc ? spc->y : 1.0;
  out->sz = spc ? spc->z : 1.0;
  out->v.resize(size_t(out->w) * out->h * out->d);
  const int w = out->w, h = out->h;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(h) * out->d), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t l = r.begin(); l < r.end(); ++l) {
      const int64_t y = l % h, z = l / h;
      const uint8_t* line = frameLine(frame, y, z, t);
      float* dst = out->v.data() + l * w;
      switch (e) {
        case VoxelElem::Bit:
          for (int x = 0; x < w; ++x) dst[x] = getBit(line, x) ? 1.0f : 0.0f;
          break;
        case VoxelElem::U8:
          for (int x = 0; x < w; ++x) dst[x] = line[x];
          break;
        case VoxelElem::U16:
          for (int x = 0; x < w; ++x) dst[x] = reinterpret_cast<const uint16_t*>(line)[x];
          break;
        case VoxelElem::U32:
          for (int x = 0; x < w; ++x) {
            const uint32_t u = reinterpret_cast<const uint32_t*>(line)[x];
            dst[x] = u == VOID_INT_VALUE ? std::numeric_limits<float>::quiet_NaN() : float(u);
          }
          break;
        default:
          for (int x = 0; x < w; ++x) {
            const double u = reinterpret_cast<const double*>(line)[x];
            dst[x] = (u == VOID_VALUE || !std::isfinite(u)) ? std::numeric_limits<float>::quiet_NaN() : float(u);
          }
          break;
      }
    }
  });
  return true;
}

AfImage afShrink(const AfImage& in, const int f[3]) {
  AfImage out;
  const int fx = std::max(1, std::min(f[0], in.w)), fy = std::max(1, std::min(f[1], in.h)),
            fz = std::max(1, std::min(f[2], in.d));
  out.w = in.w / fx;
  out.h = in.h / fy;
  out.d = in.d / fz;
  out.sx = in.sx * fx;
  out.sy = in.sy * fy;
  out.sz = in.sz * fz;
  out.ox = in.ox + (fx - 1) * 0.5 * in.sx;
  out.oy = in.oy + (fy - 1) * 0.5 * in.sy;
  out.oz = in.oz + (fz - 1) * 0.5 * in.sz;
  out.v.resize(size_t(out.w) * out.h * out.d);
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(out.h) * out.d), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t l = r.begin(); l < r.end(); ++l) {
      const int y = int(l % out.h), z = int(l / out.h);
      for (int x = 0; x < out.w; ++x) {
        double sum = 0;
        int n = 0;
        for (int k = 0; k < fz; ++k)
          for (int j = 0; j < fy; ++j)
            for (int i = 0; i < fx; ++i) {
              const float u = in.at(x * fx + i, y * fy + j, z * fz + k);
              if (u == u) {
                sum += u;
                ++n;
              }
            }
        out.v[size_t(l) * out.w + x] = n ? float(sum / n) : std::numeric_limits<float>::quiet_NaN();
      }
    }
  });
  return out;
}

AfAffine AfAffine::then(const AfAffine& outer) const {
  AfAffine r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += outer.a[i][k] * a[k][j];
      r.a[i][j] = s;
    }
    double s = outer.b[i];
    for (int k = 0; k < 3; ++k) s += outer.a[i][k] * b[k];
    r.b[i] = s;
  }
  return r;
}

AfAffine AfAffine::inverse() const {
  AfAffine r;
  const double(&m)[3][3] = a;
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  const double id = 1.0 / det;
  r.a[0][0] = (m[1][1] * m[2][2] - m[1][2] * m[2][1]) * id;
  r.a[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * id;
  r.a[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * id;
  r.a[1][0] = (m[1][2] * m[2][0] - m[1][0] * m[2][2]) * id;
  r.a[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * id;
  r.a[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * id;
  r.a[2][0] = (m[1][0] * m[2][1] - m[1][1] * m[2][0]) * id;
  r.a[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * id;
  r.a[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * id;
  for (int i = 0; i < 3; ++i) r.b[i] = -(r.a[i][0] * b[0] + r.a[i][1] * b[1] + r.a[i][2] * b[2]);
  return r;
}

void afAffineToIndexMatrix(const AfAffine& m, const SPC& srcSpc, const SPC& tgtSpc, double matrix[16]) {
  const double ss[3] = {srcSpc.x, srcSpc.y, srcSpc.z}, ts[3] = {tgtSpc.x, tgtSpc.y, tgtSpc.z};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) matrix[r * 4 + c] = m.a[r][c] * ts[c] / ss[r];
    matrix[r * 4 + 3] = m.b[r] / ss[r];
  }
  matrix[12] = matrix[13] = matrix[14] = 0.0;
  matrix[15] = 1.0;
}

AfAffine afAffineFromIndexMatrix(const double matrix[16], const SPC& srcSpc, const SPC& tgtSpc) {
  const double ss[3] = {srcSpc.x, srcSpc.y, srcSpc.z}, ts[3] = {tgtSpc.x, tgtSpc.y, tgtSpc.z};
  AfAffine m;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m.a[r][c] = matrix[r * 4 + c] * ss[r] / ts[c];
    m.b[r] = matrix[r * 4 + 3] * ss[r];
  }
  return m;
}

void afQuadraticToIndexPolynomial(const AfQuadratic& m, const SPC& srcSpc, const SPC& tgtSpc, double k[30]) {
  // p_c = ts_c i_c, u_c = al_c i_c + be_c with al_c = ts_c / scale and be_c = -centre_c / scale; each
  // product u_j u_k expands into terms of i_j i_k, i_j, i_k and 1. Rows are divided by the source
  // spacing (millimetres to source indices).
  const double ss[3] = {srcSpc.x, srcSpc.y, srcSpc.z}, ts[3] = {tgtSpc.x, tgtSpc.y, tgtSpc.z};
  double al[3], be[3];
  for (int c = 0; c < 3; ++c) {
    al[c] = ts[c] / m.scale;
    be[c] = -m.centre[c] / m.scale;
  }
  // Quadratic term index of the pair (j, k), j <= k, in both layouts: uu uv uw vv vw ww.
  const int pair[3][3] = {{0, 1, 2}, {1, 3, 4}, {2, 4, 5}};
  for (int r = 0; r < 3; ++r) {
    double* row = k + 10 * r;
    for (int t = 0; t < 10; ++t) row[t] = 0;
    for (int c = 0; c < 3; ++c) row[c] = m.lin.a[r][c] * ts[c];
    row[3] = m.lin.b[r];
    for (int j = 0; j < 3; ++j)
      for (int l = j; l < 3; ++l) {
        const double w = m.q[r][pair[j][l]];
        if (w == 0) continue;
        row[4 + pair[j][l]] += w * al[j] * al[l];
        row[j] += w * al[j] * be[l];
        row[l] += w * be[j] * al[l];
        row[3] += w * be[j] * be[l];
      }
    for (int t = 0; t < 10; ++t) row[t] /= ss[r];
  }
}

AfAffine afCompose(const AfParams& p, const double centre[3], const AfAffine& init) {
  const double d2r = M_PI / 180.0;
  const double cx = std::cos(p.r[0] * d2r), sx = std::sin(p.r[0] * d2r);
  const double cy = std::cos(p.r[1] * d2r), sy = std::sin(p.r[1] * d2r);
  const double cz = std::cos(p.r[2] * d2r), sz = std::sin(p.r[2] * d2r);
  // R = Rz * Ry * Rx, the resampler's order.
  const double R[3][3] = {{cz * cy, cz * sy * sx - sz * cx, cz * sy * cx + sz * sx},
                          {sz * cy, sz * sy * sx + cz * cx, sz * sy * cx - cz * sx},
                          {-sy, cy * sx, cy * cx}};
  const double H[3][3] = {{1, p.h[0], p.h[1]}, {0, 1, p.h[2]}, {0, 0, 1}};
  double SH[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) SH[i][j] = p.s[i] * H[i][j];
  AfAffine m;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m.a[i][j] = R[i][0] * SH[0][j] + R[i][1] * SH[1][j] + R[i][2] * SH[2][j];
    m.b[i] = centre[i] + p.t[i] - (m.a[i][0] * centre[0] + m.a[i][1] * centre[1] + m.a[i][2] * centre[2]);
  }
  return m.then(init);
}

// ---------------------------------------------------------------------------------------------
// Measures

AfMeasure::AfMeasure(int code, int bins, const AfImage* source, const AfImage* sourceGrad, double sourceNoise)
    : code_(code), bins_(bins), source_(source), grad_(sourceGrad), eps_(sourceNoise) {
  float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
  for (float u : source->v)
    if (u == u) {
      lo = std::min(lo, u);
      hi = std::max(hi, u);
    }
  lo_ = lo;
  hi_ = hi > lo ? hi : lo + 1.0f;
}

void AfMeasure::prepare(AfSamples* s, const AfImage* targetGrad, double targetNoise) const {
  float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
  for (float u : s->value) {
    lo = std::min(lo, u);
    hi = std::max(hi, u);
  }
  s->lo = lo;
  s->hi = hi > lo ? hi : lo + 1.0f;
  // The overlap the volumes could have at best: every sample, or the share of the samples' volume
  // that the source's own volume could cover. Without the samples' volume, a tenth of the samples.
  const double n0 = double(s->pos.size());
  const AfImage& src = *source_;
  const double sourceVolume = double(src.w) * src.sx * double(src.h) * src.sy * double(src.d) * src.sz;
  const double best = s->volume > 0 ? n0 * std::min(1.0, sourceVolume / s->volume) : n0 * 0.2;
  s->leastUsed = std::max(16.0, kLeastOverlapFraction * best);
  if ((code_ != VA_REGMEASURE_GRADIENT_FIELD && code_ != VA_REGMEASURE_GRADIENT_FIELD_PLUS) || !targetGrad) return;
  const size_t n = s->pos.size();
  s->ngf.assign(n, {0.f, 0.f, 0.f});
  const double e2 = targetNoise * targetNoise;
  tbb::parallel_for(tbb::blocked_range<size_t>(0, n), [&](const tbb::blocked_range<size_t>& r) {
    for (size_t i = r.begin(); i < r.end(); ++i) {
      double g[3] = {0, 0, 0};
      for (int k = 0; k < 3; ++k)
        if (!targetGrad[k].sample(s->pos[i][0], s->pos[i][1], s->pos[i][2], &g[k])) g[k] = 0;
      const double norm = std::sqrt(g[0] * g[0] + g[1] * g[1] + g[2] * g[2] + e2);
      if (norm > 0)
        for (int k = 0; k < 3; ++k) s->ngf[i][k] = float(g[k] / norm);
    }
  });
}

namespace {

// Sums of the pointwise measures.
struct Moments {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  void add(double x, double y) {
    n += 1;
    sa += x;
    sb += y;
    saa += x * x;
    sbb += y * y;
    sab += x * y;
  }
  void join(const Moments& o) {
    n += o.n;
    sa += o.sa;
    sb += o.sb;
    saa += o.saa;
    sbb += o.sbb;
    sab += o.sab;
  }
};

bool enoughOverlap(double used, const AfSamples& s) { return used >= s.leastUsed; }

}  // namespace

double AfMeasure::cost(const AfSamples& s, const AfAffine& m) const { return costOf(s, m); }
double AfMeasure::cost(const AfSamples& s, const AfQuadratic& m) const { return costOf(s, m); }

template <class Map>
double AfMeasure::costOf(const AfSamples& s, const Map& m) const {
  const size_t n = s.pos.size();
  if (n == 0) return kInf;
  const size_t grain = 2048;
  const AfImage& src = *source_;

  if (code_ == VA_REGMEASURE_GRADIENT_FIELD || code_ == VA_REGMEASURE_GRADIENT_FIELD_PLUS) {
    if (!grad_ || s.ngf.size() != n) return kInf;
    const double e2 = eps_ * eps_;
    const bool squared = code_ == VA_REGMEASURE_GRADIENT_FIELD;
    using Acc = std::pair<double, double>;  // (sum, count)
    const Acc acc = tbb::parallel_deterministic_reduce(
        tbb::blocked_range<size_t>(0, n, grain), Acc{0, 0},
        [&](const tbb::blocked_range<size_t>& r, Acc a) {
          for (size_t i = r.begin(); i < r.end(); ++i) {
            const double p[3] = {s.pos[i][0], s.pos[i][1], s.pos[i][2]};
            double q[3];
            m.apply(p, q);
            double g[3];
            bool ok = true;
            for (int k = 0; k < 3 && ok; ++k) ok = grad_[k].sample(q[0], q[1], q[2], &g[k]);
            if (!ok) continue;
            // The source gradient seen in the target's axes: J^T g (J the map's Jacobian at p).
            double J[3][3];
            m.jacobian(p, J);
            double gt[3];
            for (int k = 0; k < 3; ++k) gt[k] = J[0][k] * g[0] + J[1][k] * g[1] + J[2][k] * g[2];
            const double norm = std::sqrt(gt[0] * gt[0] + gt[1] * gt[1] + gt[2] * gt[2] + e2);
            double dot = 0;
            if (norm > 0) dot = (gt[0] * s.ngf[i][0] + gt[1] * s.ngf[i][1] + gt[2] * s.ngf[i][2]) / norm;
            a.first += squared ? dot * dot : dot;
            a.second += 1;
          }
          return a;
        },
        [](Acc a, const Acc& b) { return Acc{a.first + b.first, a.second + b.second}; });
    if (!enoughOverlap(acc.second, s)) return kInf;
    return -acc.first / acc.second;
  }

  if (code_ == VA_REGMEASURE_MUTUAL_INFO || code_ == VA_REGMEASURE_MUTUAL_INFO_NORM) {
    int bins = bins_ > 1 ? bins_ : int(std::clamp(std::cbrt(double(n) / 4.0), 8.0, 64.0));
    bins = std::min(bins, 256);
    const double tScale = (bins - 1) / double(s.hi - s.lo), sScale = (bins - 1) / double(hi_ - lo_);
    using Hist = std::vector<double>;
    Hist joint = tbb::parallel_deterministic_reduce(
        tbb::blocked_range<size_t>(0, n, grain), Hist(),
        [&](const tbb::blocked_range<size_t>& r, Hist h) {
          if (h.empty()) h.assign(size_t(bins) * bins + 1, 0.0);
          for (size_t i = r.begin(); i < r.end(); ++i) {
            const double p[3] = {s.pos[i][0], s.pos[i][1], s.pos[i][2]};
            double q[3], v;
            m.apply(p, q);
            if (!src.sample(q[0], q[1], q[2], &v)) continue;
            const int ti = std::clamp(int((s.value[i] - s.lo) * tScale + 0.5), 0, bins - 1);
            // The source value is spread over its two nearest bins (partial volume), which keeps
            // the measure continuous in the transform.
            const double u = std::clamp((v - lo_) * sScale, 0.0, double(bins - 1));
            const int s0 = std::min(int(u), bins - 2 < 0 ? 0 : bins - 2);
            const double f = u - s0;
            h[size_t(ti) * bins + s0] += 1.0 - f;
            if (bins > 1) h[size_t(ti) * bins + s0 + 1] += f;
            h.back() += 1.0;
          }
          return h;
        },
        [](Hist a, const Hist& b) {
          if (a.empty()) return b;
          if (b.empty()) return a;
          for (size_t i = 0; i < a.size(); ++i) a[i] += b[i];
          return a;
        });
    if (joint.empty() || !enoughOverlap(joint.back(), s)) return kInf;
    const double total = joint.back();
    std::vector<double> pt(bins, 0.0), ps(bins, 0.0);
    for (int i = 0; i < bins; ++i)
      for (int j = 0; j < bins; ++j) {
        const double c = joint[size_t(i) * bins + j] / total;
        pt[i] += c;
        ps[j] += c;
      }
    double hj = 0, ht = 0, hs = 0;
    for (int i = 0; i < bins; ++i) {
      if (pt[i] > 0) ht -= pt[i] * std::log(pt[i]);
      if (ps[i] > 0) hs -= ps[i] * std::log(ps[i]);
      for (int j = 0; j < bins; ++j) {
        const double c = joint[size_t(i) * bins + j] / total;
        if (c > 0) hj -= c * std::log(c);
      }
    }
    if (code_ == VA_REGMEASURE_MUTUAL_INFO) return -(ht + hs - hj);
    return hj > 0 ? -(ht + hs) / hj : kInf;
  }

  if (code_ == VA_REGMEASURE_RATIO_UNIFORMITY) {
    // Uniformity of the ratio source / target over the target's positive samples: its standard
    // deviation over its mean.
    const double floor = 1e-3 * std::max(std::fabs(double(s.hi)), 1e-12);
    Moments mo = tbb::parallel_deterministic_reduce(
        tbb::blocked_range<size_t>(0, n, grain), Moments(),
        [&](const tbb::blocked_range<size_t>& r, Moments a) {
          // The ratios go into n, sa, saa; sb counts every sample inside the source (the overlap).
          for (size_t i = r.begin(); i < r.end(); ++i) {
            const double p[3] = {s.pos[i][0], s.pos[i][1], s.pos[i][2]};
            double q[3], v;
            m.apply(p, q);
            if (!src.sample(q[0], q[1], q[2], &v)) continue;
            a.sb += 1;
            if (s.value[i] <= floor) continue;
            const double ratio = v / s.value[i];
            a.n += 1;
            a.sa += ratio;
            a.saa += ratio * ratio;
          }
          return a;
        },
        [](Moments a, const Moments& b) {
          a.join(b);
          return a;
        });
    if (!enoughOverlap(mo.sb, s) || mo.n < 16) return kInf;
    const double mean = mo.sa / mo.n;
    const double var = std::max(0.0, mo.saa / mo.n - mean * mean);
    return std::fabs(mean) > 0 ? std::sqrt(var) / std::fabs(mean) : kInf;
  }

  // Signal difference and cross correlation.
  Moments mo = tbb::parallel_deterministic_reduce(
      tbb::blocked_range<size_t>(0, n, grain), Moments(),
      [&](const tbb::blocked_range<size_t>& r, Moments a) {
        for (size_t i = r.begin(); i < r.end(); ++i) {
          const double p[3] = {s.pos[i][0], s.pos[i][1], s.pos[i][2]};
          double q[3], v;
          m.apply(p, q);
          if (!src.sample(q[0], q[1], q[2], &v)) continue;
          a.add(s.value[i], v);
        }
        return a;
      },
      [](Moments a, const Moments& b) {
        a.join(b);
        return a;
      });
  if (!enoughOverlap(mo.n, s)) return kInf;
  if (code_ == VA_REGMEASURE_CROSS_CORRELATION) {
    const double vt = mo.saa - mo.sa * mo.sa / mo.n, vs = mo.sbb - mo.sb * mo.sb / mo.n;
    const double cov = mo.sab - mo.sa * mo.sb / mo.n;
    if (!(vt > 0) || !(vs > 0)) return 0.0;
    return -(cov * cov) / (vt * vs);
  }
  return (mo.saa - 2 * mo.sab + mo.sbb) / mo.n;
}

// ---------------------------------------------------------------------------------------------
// Samples

void afCollectSamples(const AfImage& level, const int f[3], const AfImage& target, const std::vector<uint8_t>* mask,
                      size_t maxCount, AfSamples* out) {
  out->pos.clear();
  out->value.clear();
  out->ngf.clear();
  // Level voxel I covers original voxels I * f .. I * f + f - 1 (an axis shorter than f: 1).
  const int f0 = level.w == target.w ? 1 : f[0], f1 = level.h == target.h ? 1 : f[1], f2 = level.d == target.d ? 1 : f[2];
  const bool useMask = mask && !mask->empty();
  for (int z = 0; z < level.d; ++z)
    for (int y = 0; y < level.h; ++y)
      for (int x = 0; x < level.w; ++x) {
        const float u = level.at(x, y, z);
        if (u != u) continue;
        if (useMask) {
          // Inside when the original voxel nearest to the block centre is inside.
          const int cx = std::min(target.w - 1, x * f0 + f0 / 2), cy = std::min(target.h - 1, y * f1 + f1 / 2),
                    cz = std::min(target.d - 1, z * f2 + f2 / 2);
          if (!(*mask)[(size_t(cz) * target.h + cy) * target.w + cx]) continue;
        }
        out->pos.push_back(
            {float(level.ox + x * level.sx), float(level.oy + y * level.sy), float(level.oz + z * level.sz)});
        out->value.push_back(u);
      }
  out->volume = double(out->pos.size()) * level.sx * level.sy * level.sz;
  if (maxCount > 0 && out->pos.size() > maxCount) {
    // Even thinning: keep every k-th sample (a fractional stride keeps the spread uniform).
    const double stride = double(out->pos.size()) / double(maxCount);
    size_t j = 0;
    for (size_t i = 0; i < maxCount; ++i) {
      const size_t src = size_t(i * stride);
      out->pos[j] = out->pos[src];
      out->value[j] = out->value[src];
      ++j;
    }
    out->pos.resize(j);
    out->value.resize(j);
  }
}

// ---------------------------------------------------------------------------------------------
// Coarse search

namespace {

struct Search {
  const AfMeasure& measure;
  const AfSamples& samples;
  const double* centre;
  const AfAffine& init;
  double tmax[3];

  double eval(const AfParams& p) const { return measure.cost(samples, afCompose(p, centre, init)); }

  // Pattern search of the translation from the candidate, steps halving from start to stop, never
  // leaving the ranges.
  void refine(AfCandidate* c, double start, double stop) const {
    double step = start;
    int guard = 0;
    while (step >= stop && guard++ < 200) {
      bool moved = false;
      for (int k = 0; k < 3; ++k) {
        if (!(tmax[k] > 0)) continue;
        for (double dir : {-1.0, 1.0}) {
          AfParams q = c->p;
          q.t[k] = std::clamp(q.t[k] + dir * step, -tmax[k], tmax[k]);
          if (q.t[k] == c->p.t[k]) continue;
          const double v = eval(q);
          if (v < c->cost) {
            c->p = q;
            c->cost = v;
            moved = true;
            break;
          }
        }
      }
      if (!moved) step *= 0.5;
    }
  }
};

// Values of a grid of n points over [-max, max] (the centre 0 when n is odd); {0} without a range.
std::vector<double> gridValues(double max, int n) {
  if (!(max > 0) || n <= 1) return {0.0};
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = -max + 2.0 * max * i / (n - 1);
  return v;
}

// Scale factors of a scale range: a range above 1 is the largest factor (factors from 1/max to
// max, evenly spaced in the logarithm), a range up to 1 a deformation (factors 1 - max to 1 + max).
std::vector<double> scaleValues(double max, int n) {
  if (!(max > 0) || n <= 1 || max == 1.0) return {1.0};
  std::vector<double> v = gridValues(max > 1 ? std::log(max) : max, n);
  for (double& x : v) x = max > 1 ? std::exp(x) : 1.0 + x;
  return v;
}

// Every combination of per-axis values.
std::vector<std::array<double, 3>> combos(const std::vector<double> axes[3]) {
  std::vector<std::array<double, 3>> out;
  for (double a : axes[0])
    for (double b : axes[1])
      for (double c : axes[2]) out.push_back({a, b, c});
  return out;
}

bool sameParams(const AfParams& a, const AfParams& b) {
  for (int k = 0; k < 3; ++k)
    if (std::fabs(a.t[k] - b.t[k]) > 1e-9 || std::fabs(a.r[k] - b.r[k]) > 1e-9 || std::fabs(a.s[k] - b.s[k]) > 1e-9 ||
        std::fabs(a.h[k] - b.h[k]) > 1e-9)
      return false;
  return true;
}

// The best keep distinct candidates, best first.
void keepBest(std::vector<AfCandidate>* v, size_t keep) {
  std::stable_sort(v->begin(), v->end(), [](const AfCandidate& a, const AfCandidate& b) { return a.cost < b.cost; });
  std::vector<AfCandidate> out;
  for (const AfCandidate& c : *v) {
    if (out.size() >= keep) break;
    bool dup = false;
    for (const AfCandidate& o : out) dup = dup || sameParams(o.p, c.p);
    if (!dup) out.push_back(c);
  }
  *v = std::move(out);
}

// Evaluates every candidate in parallel.
void evalAll(const Search& s, std::vector<AfCandidate>* v) {
  tbb::parallel_for(size_t(0), v->size(), [&](size_t i) { (*v)[i].cost = s.eval((*v)[i].p); });
}

// One stage over a grid of the non-translation parameters: every grid point from every kept
// candidate, the best 3 x keep refined in translation, the best keep kept.
template <class Set>
void stage(const Search& s, std::vector<AfCandidate>* kept, const std::vector<std::array<double, 3>>& grid, Set set,
           double step, size_t keep) {
  if (grid.size() <= 1) return;
  std::vector<AfCandidate> all = *kept;
  for (const AfCandidate& c : *kept)
    for (const auto& g : grid) {
      AfCandidate n = c;
      set(&n.p, g);
      all.push_back(n);
    }
  evalAll(s, &all);
  keepBest(&all, 3 * keep);
  tbb::parallel_for(size_t(0), all.size(), [&](size_t i) { s.refine(&all[i], step, step * 0.25); });
  keepBest(&all, keep);
  *kept = all;
}

}  // namespace

std::vector<AfCandidate> afCoarseSearch(const VA_AF3D& rec, const AfMeasure& measure, const AfSamples& samples,
                                        const double centre[3], const AfAffine& init, double step, bool singleSlice,
                                        size_t keep, const std::function<bool(int)>& progress) {
  Search s{measure, samples, centre, init, {std::max(0.0, rec.translationMax[0]), std::max(0.0, rec.translationMax[1]),
                                            std::max(0.0, rec.translationMax[2])}};
  if (singleSlice) s.tmax[2] = 0;
  keep = std::max<size_t>(1, keep);
  const double stop = step * 0.25;

  // Translation: a grid of at most 9 points per axis (no finer than half the step), then refined.
  std::vector<double> axes[3];
  for (int k = 0; k < 3; ++k) {
    if (!(s.tmax[k] > 0)) {
      axes[k] = {0.0};
      continue;
    }
    const double g = std::max(0.5 * step, s.tmax[k] / 4.0);
    const int n = int(std::floor(s.tmax[k] / g + 1e-9));
    for (int i = -n; i <= n; ++i) axes[k].push_back(i * g);
  }
  std::vector<AfCandidate> kept;
  for (const auto& t : combos(axes)) {
    AfCandidate c;
    c.p.t[0] = t[0];
    c.p.t[1] = t[1];
    c.p.t[2] = t[2];
    kept.push_back(c);
  }
  evalAll(s, &kept);
  keepBest(&kept, 3 * keep);
  double gmax = step;
  for (int k = 0; k < 3; ++k)
    if (s.tmax[k] > 0) gmax = std::max(gmax, std::max(0.5 * step, s.tmax[k] / 4.0));
  tbb::parallel_for(size_t(0), kept.size(), [&](size_t i) { s.refine(&kept[i], gmax * 0.5, stop); });
  keepBest(&kept, keep);
  if (progress && !progress(25)) return {};

  // Rotation about the target centre.
  std::vector<double> rot[3];
  for (int k = 0; k < 3; ++k) rot[k] = gridValues(singleSlice && k < 2 ? 0.0 : rec.rotationMax[k], rec.rotationGrid);
  stage(s, &kept, combos(rot), [](AfParams* p, const std::array<double, 3>& g) {
    for (int k = 0; k < 3; ++k) p->r[k] = g[k];
  }, step, keep);
  if (progress && !progress(50)) return {};

  // Scale: one factor for all axes, or per axis.
  if (rec.scaleGrid > 1) {
    std::vector<std::array<double, 3>> grid;
    if (rec.uniformScale) {
      for (double v : scaleValues(rec.scaleMax[0], rec.scaleGrid)) grid.push_back({v, v, singleSlice ? 1.0 : v});
    } else {
      std::vector<double> sc[3];
      for (int k = 0; k < 3; ++k) sc[k] = scaleValues(singleSlice && k == 2 ? 0.0 : rec.scaleMax[k], rec.scaleGrid);
      grid = combos(sc);
    }
    stage(s, &kept, grid, [](AfParams* p, const std::array<double, 3>& g) {
      for (int k = 0; k < 3; ++k) p->s[k] = g[k];
    }, step, keep);
  }
  if (progress && !progress(75)) return {};

  // Shear of the three axis pairs; the range is the largest shear angle in degrees.
  if (rec.shearGrid > 1 && rec.shearMax > 0) {
    std::vector<double> sh[3];
    for (int k = 0; k < 3; ++k) {
      sh[k] = gridValues(singleSlice && k > 0 ? 0.0 : rec.shearMax, rec.shearGrid);
      for (double& x : sh[k]) x = std::tan(x * M_PI / 180.0);
    }
    stage(s, &kept, combos(sh), [](AfParams* p, const std::array<double, 3>& g) {
      for (int k = 0; k < 3; ++k) p->h[k] = g[k];
    }, step, keep);
  }
  if (progress && !progress(100)) return {};
  return kept;
}

void afPolish(const AfMeasure& measure, const AfSamples& samples, const double centre[3], int transformType,
              bool singleSlice, AfAffine* map) {
  struct Dim {
    int group, axis;  // 0 t, 1 r, 2 s, 3 h
    double step;
  };
  std::vector<Dim> dims;
  for (int k = 0; k < 3; ++k)
    if (!(singleSlice && k == 2)) dims.push_back({0, k, 0.5});
  if (transformType >= 1)
    for (int k = 0; k < 3; ++k)
      if (!(singleSlice && k < 2)) dims.push_back({1, k, 0.25});
  if (transformType >= 2)
    for (int k = 0; k < 3; ++k) {
      if (!(singleSlice && k == 2)) dims.push_back({2, k, 0.005});
      if (!(singleSlice && k > 0)) dims.push_back({3, k, 0.005});
    }
  const AfAffine base = *map;
  AfParams best;
  auto evalAt = [&](const AfParams& p) { return measure.cost(samples, afCompose(p, centre, base)); };
  double bestCost = evalAt(best);
  if (!std::isfinite(bestCost)) return;
  for (double scale = 1.0; scale >= 1.0 / 16; scale *= 0.5) {
    for (int round = 0; round < 20; ++round) {
      bool moved = false;
      for (const Dim& d : dims) {
        for (double dir : {-1.0, 1.0}) {
          AfParams q = best;
          double* v = d.group == 0 ? q.t : d.group == 1 ? q.r : d.group == 2 ? q.s : q.h;
          v[d.axis] += dir * d.step * scale;
          const double c = evalAt(q);
          if (c < bestCost) {
            best = q;
            bestCost = c;
            moved = true;
            break;
          }
        }
      }
      if (!moved) break;
    }
  }
  *map = afCompose(best, centre, base);
}

void afPolishQuadratic(const AfMeasure& measure, const AfSamples& samples, bool singleSlice, AfQuadratic* map) {
  // One coordinate of the map: a translation, a matrix entry or a quadratic term.
  struct Dim {
    double* value;
    double step;
  };
  AfQuadratic m = *map;
  std::vector<Dim> dims;
  for (int r = 0; r < 3; ++r) {
    if (singleSlice && r == 2) continue;  // the source slice stays the target's
    dims.push_back({&m.lin.b[r], 0.5});
    for (int c = 0; c < 3; ++c)
      if (!(singleSlice && c == 2)) dims.push_back({&m.lin.a[r][c], 0.005});
    for (int t = 0; t < 6; ++t) {
      // Terms of w (the slice axis) are constant on a single slice.
      if (singleSlice && (t == 2 || t == 4 || t == 5)) continue;
      dims.push_back({&m.q[r][t], 0.5});
    }
  }
  double best = measure.cost(samples, m);
  if (!std::isfinite(best)) return;
  for (double scale = 2.0; scale >= 1.0 / 32; scale *= 0.5) {
    for (int round = 0; round < 20; ++round) {
      bool moved = false;
      for (const Dim& d : dims) {
        for (double dir : {-1.0, 1.0}) {
          const double old = *d.value;
          *d.value = old + dir * d.step * scale;
          const double c = measure.cost(samples, m);
          if (c < best) {
            best = c;
            moved = true;
            break;
          }
          *d.value = old;
        }
      }
      if (!moved) break;
    }
  }
  *map = m;
}

}  // namespace twk::af
