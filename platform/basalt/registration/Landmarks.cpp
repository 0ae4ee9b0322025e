// Landmark fits (rigid by Kabsch, affine and polynomial by least squares), Gaussian radial basis
// function fields and the plane through landmarks, on Eigen.
#include "registration/Landmarks.h"

#include <Eigen/Dense>

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "registration/Transform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

using Mat = Eigen::MatrixXd;
using Vec3 = Eigen::Vector3d;

bool report(bool show, const wchar_t* name, const CString& text) {
  if (show) twk::showNamedError(name, text);
  return false;
}

bool validSpacing(const SPC* s) {
  return s && std::isfinite(s->x) && std::isfinite(s->y) && std::isfinite(s->z) && s->x > 0 && s->y > 0 && s->z > 0;
}

bool finitePoints(const DPOINT3D* p, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(p[i].x) || !std::isfinite(p[i].y) || !std::isfinite(p[i].z)) return false;
  return true;
}

Vec3 mm(const DPOINT3D& p, const SPC& s) { return Vec3(p.x * s.x, p.y * s.y, p.z * s.z); }

// Least squares of design * x = rhs with columns scaled to unit norm (the monomials of voxel
// indices span many orders of magnitude); false when the design is rank deficient.
bool solveScaled(const Mat& design, const Mat& rhs, Mat* x) {
  Eigen::VectorXd scale = design.colwise().norm().transpose();
  for (Eigen::Index j = 0; j < scale.size(); ++j)
    if (!(scale(j) > 0)) scale(j) = 1.0;
  const Mat scaled = design * scale.cwiseInverse().asDiagonal();
  Eigen::ColPivHouseholderQR<Mat> qr(scaled);
  qr.setThreshold(1e-10);
  if (qr.rank() < design.cols()) return false;
  *x = scale.cwiseInverse().asDiagonal() * qr.solve(rhs);
  return x->allFinite();
}

}  // namespace

double* VA_FindOptimalTransform(int type, int degree, const DPOINT3D* source, const DPOINT3D* target, int count,
                                const SPC* sourceSpc, const SPC* targetSpc, double* errors1, double* errors2,
                                double* rmse1, double* rmse2, bool show, const DIM3D* targetDims) {
  const wchar_t* name = L"VA_FindOptimalTransform";
  auto fail = [&](const CString& why) -> double* {
    report(show, name, why);
    return nullptr;
  };
  if (type != VA_TRANSFORM_RIGID && type != VA_TRANSFORM_AFFINE && type != VA_TRANSFORM_POLYNOMIAL)
    return fail(L"Unknown transform type");
  if (type == VA_TRANSFORM_POLYNOMIAL && VA_PolyTermCount(degree) == 0) return fail(L"Invalid polynomial degree");
  if (!source || !target || count < 0) return fail(L"No landmarks");
  if (!validSpacing(sourceSpc) || !validSpacing(targetSpc)) return fail(L"Invalid voxel size");
  if (targetDims && (targetDims->w < 1 || targetDims->h < 1 || targetDims->d < 1)) return fail(L"Invalid target grid");
  if (!finitePoints(source, count) || !finitePoints(target, count)) return fail(L"Invalid landmark position");
  const int needed = type == VA_TRANSFORM_RIGID ? 3 : type == VA_TRANSFORM_AFFINE ? 4 : VA_PolyTermCount(degree);
  if (count < needed) return fail(FmtStr(L"At least %d landmark pairs are required", needed));
  const SPC& ss = *sourceSpc;
  const SPC& ts = *targetSpc;
  const int terms = type == VA_TRANSFORM_POLYNOMIAL ? VA_PolyTermCount(degree) : 4;
  const int ncoef = VA_TransformCoefficientCount(type, degree);
  std::vector<double> c(size_t(ncoef), 0.0);

  if (type == VA_TRANSFORM_RIGID) {
    // Kabsch in millimetres: s = R t + T.
    Vec3 cs = Vec3::Zero(), ct = Vec3::Zero();
    for (int i = 0; i < count; ++i) cs += mm(source[i], ss), ct += mm(target[i], ts);
    cs /= count;
    ct /= count;
    Eigen::Matrix3d h = Eigen::Matrix3d::Zero();
    for (int i = 0; i < count; ++i) h += (mm(target[i], ts) - ct) * (mm(source[i], ss) - cs).transpose();
    Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Vec3 sv = svd.singularValues();
    if (!(sv(1) > 1e-9 * std::max(sv(0), 1e-300))) return fail(L"Landmarks are degenerate (all on one line)");
    Eigen::Matrix3d d = Eigen::Matrix3d::Identity();
    d(2, 2) = (svd.matrixV() * svd.matrixU().transpose()).determinant() < 0 ? -1.0 : 1.0;
    const Eigen::Matrix3d r = svd.matrixV() * d * svd.matrixU().transpose();
    const Vec3 t = cs - r * ct;
    // Into voxel indices: M = Ssrc^-1 [R | T] Stgt.
    const double sv3[3] = {ss.x, ss.y, ss.z}, tv3[3] = {ts.x, ts.y, ts.z};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) c[size_t(4 * i + j)] = r(i, j) * tv3[j] / sv3[i];
      c[size_t(4 * i + 3)] = t(i) / sv3[i];
    }
    c[15] = 1.0;
  } else {
    Mat design(count, terms), rhs(count, 3);
    for (int i = 0; i < count; ++i) {
      const double p[3] = {target[i].x, target[i].y, target[i].z};
      for (int k = 0; k < terms; ++k) {
        int e[3];
        VA_PolyTermExponents(type == VA_TRANSFORM_POLYNOMIAL ? degree : 1, k, e);
        design(i, k) = std::pow(p[0], e[0]) * std::pow(p[1], e[1]) * std::pow(p[2], e[2]);
      }
      rhs(i, 0) = source[i].x, rhs(i, 1) = source[i].y, rhs(i, 2) = source[i].z;
    }
    Mat x;
    if (!solveScaled(design, rhs, &x))
      return fail(type == VA_TRANSFORM_AFFINE ? L"Landmarks are degenerate (all in one plane)"
                                              : L"Landmarks are degenerate for a polynomial of this degree");
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < terms; ++k) c[size_t(r * terms + k)] = x(k, r);
    if (type == VA_TRANSFORM_AFFINE) c[15] = 1.0;
  }

  // Errors of the transform and, for the matrices, of its inverse.
  double inverse[16];
  const bool matrix = type != VA_TRANSFORM_POLYNOMIAL;
  if (matrix && !PR_MatxInverse(c.data(), inverse)) return fail(L"Invalid Transformation Matrix");
  double sum1 = 0, sum2 = 0;
  for (int i = 0; i < count; ++i) {
    const double t[3] = {target[i].x, target[i].y, target[i].z};
    double s[3];
    VA_TransformPoint(type, degree, c.data(), t, s);
    const double e1 = std::hypot((s[0] - source[i].x) * ss.x, (s[1] - source[i].y) * ss.y, (s[2] - source[i].z) * ss.z);
    double e2 = 0.0;
    if (matrix) {
      const double q[3] = {source[i].x, source[i].y, source[i].z};
      double back[3];
      VA_TransformPoint(VA_TRANSFORM_AFFINE, 1, inverse, q, back);
      e2 = std::hypot((back[0] - t[0]) * ts.x, (back[1] - t[1]) * ts.y, (back[2] - t[2]) * ts.z);
    }
    if (errors1) errors1[i] = e1;
    if (errors2) errors2[i] = e2;
    sum1 += e1 * e1;
    sum2 += e2 * e2;
  }
  if (rmse1) *rmse1 = std::sqrt(sum1 / count);
  if (rmse2) *rmse2 = std::sqrt(sum2 / count);
  double* out = pf_duplicate(c.data(), ncoef);
  if (!out) return fail(L"Not enough memory");
  return out;
}

DPOINT3D* VA_PerformGaussRBF(double sigma, double lambda, bool affine, const DPOINT3D* source, const DPOINT3D* target,
                             int count, const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims,
                             const SPC* targetSpc, VA_FLOWFIELDINFO* info, bool show) {
  const wchar_t* name = L"VA_PerformGaussRBF";
  auto fail = [&](const CString& why) -> DPOINT3D* {
    report(show, name, why);
    return nullptr;
  };
  if (!(sigma > 0) || !std::isfinite(sigma)) return fail(L"Sigma must be positive");
  if (!(lambda >= 0) || !std::isfinite(lambda)) return fail(L"Lambda must not be negative");
  if (!source || !target || count < 1) return fail(L"No landmarks");
  if (!finitePoints(source, count) || !finitePoints(target, count)) return fail(L"Invalid landmark position");
  if (!sourceDims || !targetDims || !validSpacing(sourceSpc) || !validSpacing(targetSpc) || targetDims->w < 1 ||
      targetDims->h < 1 || targetDims->d < 1)
    return fail(L"Invalid grid");
  const SPC& ss = *sourceSpc;
  const SPC& ts = *targetSpc;
  // The affine part (target index -> source index), or the identity between the grids' millimetres.
  double a[16] = {ts.x / ss.x, 0, 0, 0, 0, ts.y / ss.y, 0, 0, 0, 0, ts.z / ss.z, 0, 0, 0, 0, 1};
  if (affine) {
    double* fit = VA_FindOptimalTransform(VA_TRANSFORM_AFFINE, 1, source, target, count, sourceSpc, targetSpc, nullptr,
                                          nullptr, nullptr, nullptr, show, targetDims);
    if (!fit) return nullptr;
    std::copy(fit, fit + 16, a);
    pf_free(&fit);
  }
  // Residual displacements in source millimetres at the target landmarks (target millimetres).
  std::vector<Vec3> centres(static_cast<size_t>(count));
  Mat d(count, 3);
  for (int i = 0; i < count; ++i) {
    centres[size_t(i)] = mm(target[i], ts);
    const double t[3] = {target[i].x, target[i].y, target[i].z};
    double s[3];
    VA_TransformPoint(VA_TRANSFORM_AFFINE, 1, a, t, s);
    d(i, 0) = (source[i].x - s[0]) * ss.x, d(i, 1) = (source[i].y - s[1]) * ss.y, d(i, 2) = (source[i].z - s[2]) * ss.z;
  }
  const double g = 1.0 / (2.0 * sigma * sigma);
  Mat k(count, count);
  for (int i = 0; i < count; ++i)
    for (int j = 0; j < count; ++j)
      k(i, j) = std::exp(-g * (centres[size_t(i)] - centres[size_t(j)]).squaredNorm()) + (i == j ? lambda : 0.0);
  Eigen::FullPivLU<Mat> lu(k);
  lu.setThreshold(1e-12);
  if (!lu.isInvertible()) return fail(L"Landmarks are degenerate (two target landmarks coincide)");
  const Mat w = lu.solve(d);
  if (!w.allFinite()) return fail(L"Landmarks are degenerate (two target landmarks coincide)");
  const int64_t nx = targetDims->w, ny = targetDims->h, nz = targetDims->d;
  auto* field = static_cast<DPOINT3D*>(pf_malloc(nx * ny * nz * int64_t(sizeof(DPOINT3D))));
  if (!field) return fail(L"Not enough memory");
  tbb::parallel_for(int64_t(0), ny * nz, [&](int64_t line) {
    const int64_t y = line % ny, z = line / ny;
    for (int64_t x = 0; x < nx; ++x) {
      const Vec3 p(double(x) * ts.x, double(y) * ts.y, double(z) * ts.z);
      Vec3 u = Vec3::Zero();
      for (int j = 0; j < count; ++j) u += std::exp(-g * (p - centres[size_t(j)]).squaredNorm()) * w.row(j).transpose();
      const double t[3] = {double(x), double(y), double(z)};
      double s[3];
      VA_TransformPoint(VA_TRANSFORM_AFFINE, 1, a, t, s);
      field[line * nx + x] = DPOINT3D{s[0] + u(0) / ss.x - t[0], s[1] + u(1) / ss.y - t[1], s[2] + u(2) / ss.z - t[2]};
    }
  });
  if (info) {
    info->sourceDim = *sourceDims;
    info->sourceSpc = ss;
    info->targetDim = *targetDims;
    info->targetSpc = ts;
  }
  return field;
}

bool VA_CalculateOptimalPlane(const DPOINT3D* points, int count, double plane[4], double* error, bool show) {
  const wchar_t* name = L"VA_CalculateOptimalPlane";
  if (!points || !plane || count < 3) return report(show, name, L"At least 3 landmarks are required");
  if (!finitePoints(points, count)) return report(show, name, L"Invalid landmark position");
  Vec3 centre = Vec3::Zero();
  for (int i = 0; i < count; ++i) centre += Vec3(points[i].x, points[i].y, points[i].z);
  centre /= count;
  Eigen::Matrix3d scatter = Eigen::Matrix3d::Zero();
  for (int i = 0; i < count; ++i) {
    const Vec3 q = Vec3(points[i].x, points[i].y, points[i].z) - centre;
    scatter += q * q.transpose();
  }
  Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eig(scatter);
  const Vec3 ev = eig.eigenvalues();  // ascending
  if (!(ev(1) > 1e-12 * std::max(ev(2), 1e-300))) return report(show, name, L"Landmarks are degenerate (all on one line)");
  Vec3 normal = eig.eigenvectors().col(0).normalized();
  if (normal(2) < 0) normal = -normal;
  plane[0] = normal(0), plane[1] = normal(1), plane[2] = normal(2);
  plane[3] = -normal.dot(centre);
  if (error) *error = std::sqrt(std::max(ev(0), 0.0) / count);
  return true;
}

bool VA_CalculateRotationByPlane(const double plane[4], double* angleX, double* angleY, bool show) {
  const wchar_t* name = L"VA_CalculateRotationByPlane";
  if (!plane || !angleX || !angleY) return report(show, name, L"No plane");
  Vec3 n(plane[0], plane[1], plane[2]);
  if (!n.allFinite() || !(n.norm() > 0)) return report(show, name, L"Invalid plane");
  n.normalize();
  if (n(2) < 0) n = -n;
  // The turned z axis is Ry(ay) Rx(ax) e_z = (sin ay cos ax, -sin ax, cos ay cos ax).
  const double ax = std::asin(std::clamp(-n(1), -1.0, 1.0));
  const double ay = std::atan2(n(0), n(2));
  *angleX = ax * 180.0 / kPi;
  *angleY = ay * 180.0 / kPi;
  return true;
}
