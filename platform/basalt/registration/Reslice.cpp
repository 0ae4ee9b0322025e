// Reslicing through affine matrices, polynomials and flow fields, all on the one resampler.
#include "registration/Reslice.h"

#include <cmath>
#include <cstdlib>

#include "TwkUi.h"
#include "geometry/Geometry.h"
#include "registration/Transform.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr SPC kUnit{1.0, 1.0, 1.0};

FRAME* fail(bool show, const wchar_t* name, const wchar_t* why) {
  if (show) twk::showNamedError(name, why);
  return nullptr;
}

bool validTarget(const DIM3D* d) { return d && d->w > 0 && d->h > 0 && d->d > 0; }

// A frame that shows time point t of another without copying (never freed).
FRAME timePointView(const FRAME* frame, int t) {
  FRAME view = *frame;
  view.dim.t = 1;
  view.data = twk::frameLine(frame, 0, 0, t);
  return view;
}

}  // namespace

FRAME* VA_ResliceAffine(const double matrix[16], const FRAME* frame, const DIM3D* targetDims, int interpolation,
                        double outside, bool show) {
  const wchar_t* name = L"VA_ResliceAffine";
  if (!matrix) return fail(show, name, L"No transform");
  if (!validTarget(targetDims)) return fail(show, name, L"Invalid target grid");
  VA_RESAMPLE_MAP map;
  map.matrices = matrix;
  map.matrixCount = 1;
  return VA_VolResampleMapped(frame, &kUnit, map, targetDims, &kUnit, interpolation, false, 50, outside, show);
}

FRAME* VA_ResliceTB(const Poly3D* transform, const FRAME* frame, const DIM3D* targetDims, int interpolation,
                    double outside, bool show) {
  const wchar_t* name = L"VA_ResliceTB";
  if (!transform || !transform->px || !transform->py || !transform->pz) return fail(show, name, L"No transform");
  if (transform->IsAffine()) {
    double m[16];
    transform->GetAffineKoff(m);
    return VA_ResliceAffine(m, frame, targetDims, interpolation, outside, show);
  }
  if (!validTarget(targetDims)) return fail(show, name, L"Invalid target grid");
  VA_RESAMPLE_MAP map;
  map.point = [transform](int, const double* target, double* source) {
    const DPOINT3D in{target[0], target[1], target[2]};
    DPOINT3D out;
    transform->Calc(&in, &out);
    source[0] = out.x, source[1] = out.y, source[2] = out.z;
  };
  return VA_VolResampleMapped(frame, &kUnit, map, targetDims, &kUnit, interpolation, false, 50, outside, show);
}

FRAME* VA_ResliceTB(int type, int degree, const double* coefficients, const FRAME* frame, const DIM3D* targetDims,
                    int interpolation, double outside, bool show) {
  if (!frame) return fail(show, L"VA_ResliceTB", L"Invalid volume");
  const SPC spc = kUnit;
  const DIM3D dims{frame->dim.w, frame->dim.h, frame->dim.d, 1};
  return VA_ResliceTB_EX(type, degree, coefficients, 1, frame, &dims, &spc, targetDims, &spc, interpolation, false, 50,
                         outside, show);
}

FRAME* VA_ResliceTB_EX(int type, int degree, const double* coefficients, int timePoints, const FRAME* frame,
                       const DIM3D* /*sourceDims*/, const SPC* sourceSpc, const DIM3D* targetDims, const SPC* targetSpc,
                       int interpolation, bool gaussianDownscale, int threshold, double outside, bool show) {
  const wchar_t* name = L"VA_ResliceTB";
  if (!frame || !frame->data) return fail(show, name, L"Invalid volume");
  if (type != VA_TRANSFORM_POLYNOMIAL) degree = 1;
  const int count = VA_TransformCoefficientCount(type, degree);
  if (count == 0) return fail(show, name, L"Unknown transform type");
  if (!coefficients) return fail(show, name, L"No transform");
  if (!validTarget(targetDims)) return fail(show, name, L"Invalid target grid");
  if (timePoints < 1 || (timePoints > 1 && timePoints != frame->dim.t))
    return fail(show, name, L"Transformation has unsuitable number of timepoints");
  for (int64_t i = 0; i < int64_t(count) * timePoints; ++i)
    if (!std::isfinite(coefficients[i])) return fail(show, name, L"Invalid transform");
  // The sampling is done in millimetres of the file's grids when they are given, so that the
  // Gaussian downscale sees the real voxel sizes; the transform itself works on voxel indices.
  const SPC sspc = sourceSpc ? *sourceSpc : kUnit;
  const SPC tspc = targetSpc ? *targetSpc : sspc;
  VA_RESAMPLE_MAP map;
  if (type == VA_TRANSFORM_POLYNOMIAL && degree > 1) {
    map.point = [=](int t, const double* target, double* source) {
      VA_TransformPoint(type, degree, coefficients + int64_t(count) * (timePoints == 1 ? 0 : t), target, source);
    };
  } else if (type == VA_TRANSFORM_POLYNOMIAL) {
    // A polynomial of degree 1 is an affine transform written without its last row.
    double* matrices = new double[size_t(16) * timePoints];
    for (int t = 0; t < timePoints; ++t) {
      double* m = matrices + 16 * t;
      for (int i = 0; i < 12; ++i) m[i] = coefficients[12 * t + i];
      m[12] = m[13] = m[14] = 0.0;
      m[15] = 1.0;
    }
    map.matrices = matrices;
    map.matrixCount = timePoints;
    FRAME* out = VA_VolResampleMapped(frame, &sspc, map, targetDims, &tspc, interpolation, gaussianDownscale,
                                      threshold, outside, show);
    delete[] matrices;
    return out;
  } else {
    map.matrices = coefficients;
    map.matrixCount = timePoints;
  }
  return VA_VolResampleMapped(frame, &sspc, map, targetDims, &tspc, interpolation, gaussianDownscale, threshold,
                              outside, show);
}

FRAME* VA_ResliceByFlow(const FRAME* frame, int timePoint, const DPOINT3D* field, const DIM3D* targetDims,
                        int interpolation, double outside, bool show) {
  const wchar_t* name = L"VA_ResliceByFlow";
  if (!frame || !frame->data) return fail(show, name, L"Invalid volume");
  if (!field) return fail(show, name, L"No flow field");
  if (!validTarget(targetDims)) return fail(show, name, L"Invalid target grid");
  if (timePoint < -1 || timePoint >= frame->dim.t) return fail(show, name, L"Invalid time point");
  const int64_t w = targetDims->w, h = targetDims->h, d = targetDims->d;
  VA_RESAMPLE_MAP map;
  // The resampler asks at target voxel centres; the index is rounded to find the voxel's vector.
  map.point = [=](int, const double* target, double* source) {
    const int64_t i = std::llround(target[0]), j = std::llround(target[1]), k = std::llround(target[2]);
    if (i < 0 || j < 0 || k < 0 || i >= w || j >= h || k >= d) {
      source[0] = source[1] = source[2] = -1e30;
      return;
    }
    const DPOINT3D& v = field[(k * h + j) * w + i];
    source[0] = target[0] + v.x, source[1] = target[1] + v.y, source[2] = target[2] + v.z;
  };
  if (timePoint < 0)
    return VA_VolResampleMapped(frame, &kUnit, map, targetDims, &kUnit, interpolation, false, 50, outside, show);
  const FRAME one = timePointView(frame, timePoint);
  return VA_VolResampleMapped(&one, &kUnit, map, targetDims, &kUnit, interpolation, false, 50, outside, show);
}
