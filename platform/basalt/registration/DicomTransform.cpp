// The patient-geometry transform between two volumes, through the convention's patient frames.
#include "registration/DicomTransform.h"

#include <Eigen/Dense>

#include <cmath>

#include "TwkUi.h"
#include "Vol.h"
#include "geometry/Geometry.h"

bool VA_GetInitTransformWithDicomTags(const CVol* source, const CVol* target, bool centring, double matrix[16],
                                      bool show) {
  const wchar_t* name = L"VA_GetInitTransformWithDicomTags";
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(name, why);
    return false;
  };
  if (!source || !target || !source->frame || !target->frame || !matrix) return fail(L"Two volumes are required");
  if (!source->IsValidOrientation() || !target->IsValidOrientation())
    return fail(L"Valid orientation is required in both volumes");
  if (!centring && (!source->imgPos || !target->imgPos)) return fail(L"Image positions are required in both volumes");
  using M3 = Eigen::Matrix3d;
  using V3 = Eigen::Vector3d;
  // patient = origin + axes * diag(spacing) * index, for both grids.
  auto frame = [](const CVol* v, M3* a, V3* o) {
    double origin[3], axes[3][3];
    VA_VolPatientFrame(v, origin, axes);
    const double s[3] = {v->spc.x, v->spc.y, v->spc.z};
    for (int r = 0; r < 3; ++r) {
      (*o)(r) = origin[r];
      for (int c = 0; c < 3; ++c) (*a)(r, c) = axes[r][c] * s[c];
    }
  };
  M3 as, at;
  V3 os, ot;
  frame(source, &as, &os);
  frame(target, &at, &ot);
  Eigen::FullPivLU<M3> lu(as);
  if (!lu.isInvertible()) return fail(L"Valid orientation is required in both volumes");
  const M3 linear = lu.solve(at);
  V3 shift;
  if (centring) {
    const V3 cs((source->W() - 1) / 2.0, (source->H() - 1) / 2.0, (source->D() - 1) / 2.0);
    const V3 ct((target->W() - 1) / 2.0, (target->H() - 1) / 2.0, (target->D() - 1) / 2.0);
    shift = cs - linear * ct;
  } else {
    shift = lu.solve(ot - os);
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) matrix[4 * r + c] = linear(r, c);
    matrix[4 * r + 3] = shift(r);
  }
  matrix[12] = matrix[13] = matrix[14] = 0.0;
  matrix[15] = 1.0;
  for (int i = 0; i < 12; ++i)
    if (!std::isfinite(matrix[i])) return fail(L"Valid orientation is required in both volumes");
  return true;
}
