#include "GeometryDialogs.h"

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "ParameterDialog.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/Filters.h"
#include "render/ProjectionGeometry.h"
#include "registration/Transform.h"
#include "registration/TransformFiles.h"

VOLROTATEPARM g_RotateParms;
VA_ROT g_RotateOrthoParms;
VA_URALGRAD g_UralGradParms{0, 0, 0, 1.0, 1.0, 3.0};

void TW_RotateAnglesFromProjection(const VA_VOLPROJ* projection, VOLROTATEPARM* record) {
  if (!projection || !record) return;
  for (int k = 0; k < 3; ++k) record->angle[k] = projection->rotation[k];
}

bool TW_DlgVolumeRotate(VA_VOLPROJ* projection, VOLROTATEPARM* record) {
  if (!record) return false;
  TW_DIALOG d(L"Rotate Volume", L"CDlgVolumeRotate");
  d.Real(L"Scale [0.01, 100]", &record->scale);
  d.Real(L"X-angle (deg)", &record->angle[0]);
  d.Real(L"Y-angle (deg)", &record->angle[1]);
  d.Real(L"Z-angle (deg)", &record->angle[2]);
  d.Choice(L"Interpolation", &record->interpolation, {L"Nearest Neighbor", L"Tri linear", L"Wsinc 2", L"Wsinc 3", L"Wsinc 4"});
  d.Flag(L"Preserve original FOV and resolution", &record->preserve);
  d.Flag(L"On", &record->gaussianDownscale);
  d.Integer(L"Binary threshold (0-99%)", &record->binaryThreshold, 0, 100);
  if (projection)
    d.Button(L"Current projection to Native", [projection](TW_DIALOG_VALUES& v) {
      const wchar_t* angles[3] = {L"X-angle (deg)", L"Y-angle (deg)", L"Z-angle (deg)"};
      for (int k = 0; k < 3; ++k) v.SetText(angles[k], TW_RoundTripText(projection->rotation[k]));
    });
  return TW_RunDialog(d);
}

void TW_RotOrthoStep(VA_ROT* record, int index, bool forward) {
  if (!record || index < 0 || index > 2 || record->axis[index] == 0) return;
  double& a = record->angle[index];
  if (forward) {
    a += 90;
    if (std::floor(a + 0.5) >= 360) a = 0;
  } else {
    a -= 90;
    if (std::floor(a + 0.5) < -359) a = 0;
  }
}

bool TW_RotOrthoMatrixText(const VA_ROT* record, int direction, const DIM3D* dims, const SPC* spacing, CString* text) {
  if (text) *text = CString();
  double m[12];
  if (!text || !VA_FitOrthoRotation_DstToSrcMatx(direction == 0, spacing, dims, record, nullptr, nullptr, m)) return false;
  CString out;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      if (c > 0) out += L"  ";
      out += FmtStr(L"  %lf", m[4 * r + c]);
    }
    out += L"\n";
  }
  *text = out;
  return true;
}

bool TW_RotOrthoSave(const VA_ROT* record, int direction, const DIM3D* dims, const SPC* spacing, CString* path) {
  if (path) *path = CString();
  double m[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  DIM3D targetDims;
  SPC targetSpc;
  if (!path || !dims || !spacing ||
      !VA_FitOrthoRotation_DstToSrcMatx(direction == 0, spacing, dims, record, &targetSpc, &targetDims, m))
    return false;
  const CString file = TW_Options().tempFolder + L"/RotOrtho.vtf";
  if (!VTF_Save(file, VA_TRANSFORM_AFFINE, dims, spacing, &targetDims, &targetSpc, m)) return false;
  *path = file;
  PR_NotepadExeOpenFile(file);
  return true;
}

namespace {

const wchar_t* const kOrthoAxes[3] = {L"1st rotation axis", L"2nd rotation axis", L"3rd rotation axis"};
const wchar_t* const kOrthoAngles[3] = {L"1st angle (deg)", L"2nd angle (deg)", L"3rd angle (deg)"};
const wchar_t* const kOrthoRows[3] = {L"Row 1", L"Row 2", L"Row 3"};
const wchar_t* const kOrthoDirection = L"Matrix direction";

VA_ROT shownRotation(const TW_DIALOG_VALUES& v) {
  VA_ROT r;
  for (int k = 0; k < 3; ++k) {
    r.axis[k] = v.Choice(kOrthoAxes[k]);
    r.angle[k] = v.Number(kOrthoAngles[k]);
  }
  return r;
}

// The shown matrix after every change; a rotation that does not fit leaves the rows as they were.
void showOrthoMatrix(TW_DIALOG_VALUES& v, const DIM3D* dims, const SPC* spacing) {
  const VA_ROT r = shownRotation(v);
  double m[12];
  if (!dims || !spacing || !VA_FitOrthoRotation_DstToSrcMatx(v.Choice(kOrthoDirection) == 0, spacing, dims, &r, nullptr, nullptr, m))
    return;
  for (int row = 0; row < 3; ++row)
    v.SetText(kOrthoRows[row], FmtStr(L"%lf  %lf  %lf  %lf", m[4 * row], m[4 * row + 1], m[4 * row + 2], m[4 * row + 3]));
}

}  // namespace

bool TW_DlgVolRotOrtho(VA_ROT* record, const DIM3D* dims, const SPC* spacing) {
  if (!record) return false;
  // Angles change by the quarter-turn buttons; the headless form asks them as numbers. The matrix
  // direction and the shown rows belong to the dialog alone (direction 0 at every opening).
  int32_t direction = 0;
  CString rows[3];
  TW_DIALOG d(L"Rotate Volume Orthogonally Around Volume Center", L"CDlgVolRotOrtho");
  for (int k = 0; k < 3; ++k) {
    d.Choice(kOrthoAxes[k], &record->axis[k], {L"None", L"X", L"Y", L"Z"});
    d.Real(kOrthoAngles[k], &record->angle[k]);
  }
  d.Choice(kOrthoDirection, &direction, {L"Source = M*Target", L"Target = M*Source"});
  for (int k = 0; k < 3; ++k) d.Text(kOrthoRows[k], &rows[k]).EnabledWhen([](const TW_DIALOG_VALUES&) { return false; });
  d.onInit = [dims, spacing](TW_DIALOG_VALUES& v) {
    showOrthoMatrix(v, dims, spacing);
    return true;
  };
  d.onChange = [dims, spacing](TW_DIALOG_VALUES& v, int field) {
    for (int k = 0; k < 3; ++k)
      if (field == v.IndexOf(kOrthoAxes[k])) v.SetText(kOrthoAngles[k], L"0");
    showOrthoMatrix(v, dims, spacing);
  };
  const wchar_t* const steps[3][2] = {{L"1st -90<", L"1st >90"}, {L"2nd -90<", L"2nd >90"}, {L"3rd -90<", L"3rd >90"}};
  for (int k = 0; k < 3; ++k)
    for (int forward = 0; forward < 2; ++forward)
      d.Button(steps[k][forward], [k, forward, dims, spacing](TW_DIALOG_VALUES& v) {
        VA_ROT r = shownRotation(v);
        TW_RotOrthoStep(&r, k, forward != 0);
        v.SetText(kOrthoAngles[k], TW_RoundTripText(r.angle[k]));
        showOrthoMatrix(v, dims, spacing);
      });
  d.Button(L"Reset", [dims, spacing](TW_DIALOG_VALUES& v) {
    for (int k = 0; k < 3; ++k) {
      v.SetState(kOrthoAxes[k], 0);
      v.SetText(kOrthoAngles[k], L"0");
    }
    showOrthoMatrix(v, dims, spacing);
  });
  d.Button(L"Matrix to Clipboard", [dims, spacing](TW_DIALOG_VALUES& v) {
    const VA_ROT r = shownRotation(v);
    CString text;
    if (TW_RotOrthoMatrixText(&r, v.Choice(kOrthoDirection), dims, spacing, &text)) PR_CopyStrToClipboard(text.GetString());
  });
  d.Button(L"Save ", [dims, spacing](TW_DIALOG_VALUES& v) {
    const VA_ROT r = shownRotation(v);
    CString path;
    TW_RotOrthoSave(&r, v.Choice(kOrthoDirection), dims, spacing, &path);
  });
  d.onCheck = [](const TW_DIALOG_VALUES& v) {
    for (const wchar_t* label : kOrthoAngles) {
      const double turns = v.Number(label) / 90.0;
      if (std::fabs(turns - std::round(turns)) > 1e-9) {
        twk::showNamedError(L"CDlgVolRotOrtho", L"Angles must be multiples of 90 degrees");
        return false;
      }
    }
    return true;
  };
  return TW_RunDialog(d);
}

void TW_AlignWithScanner(bool validOrientation, double orientation[6]) {
  if (!orientation) return;
  if (!validOrientation) {
    const double axial[6] = {1, 0, 0, 0, 1, 0};
    for (int k = 0; k < 6; ++k) orientation[k] = axial[k];
    return;
  }
  for (int v = 0; v < 2; ++v) {
    double* d = orientation + 3 * v;
    const double a[3] = {std::fabs(d[0]), std::fabs(d[1]), std::fabs(d[2])};
    const int dominant = a[0] >= a[1] && a[0] >= a[2] ? 0 : a[1] >= a[2] ? 1 : 2;
    const double sign = d[dominant] > 0 ? 1.0 : d[dominant] < 0 ? -1.0 : 0.0;
    for (int k = 0; k < 3; ++k) d[k] = k == dominant ? sign : 0.0;
  }
}

bool TW_DlgSlicePosOrient(bool silent, double position[3], double orientation[6]) {
  if (!position || !orientation) return false;
  double values[9] = {position[0], position[1], position[2]};
  for (int k = 0; k < 6; ++k) values[3 + k] = orientation[k];
  // A silent run snaps to the scanner axes before its OK step, by the caller's stored orientation.
  if (silent) TW_AlignWithScanner(VA_IsValidOrientation(orientation), values + 3);
  TW_DIALOG d(L"Specify Image Position\\Orientation Patient", L"CDlgSlicePosOrient");
  const wchar_t* labels[9] = {L"Position X", L"Position Y", L"Position Z", L"Row X", L"Row Y", L"Row Z",
                              L"Column X", L"Column Y", L"Column Z"};
  for (int k = 0; k < 9; ++k) d.Real(labels[k], &values[k]);
  const bool stored = VA_IsValidOrientation(orientation);
  d.Button(L"Align With Scanner", [labels, stored](TW_DIALOG_VALUES& v) {
    double o[6];
    for (int k = 0; k < 6; ++k) o[k] = v.Number(labels[3 + k]);
    TW_AlignWithScanner(stored, o);
    for (int k = 0; k < 6; ++k) v.SetText(labels[3 + k], TW_RoundTripText(o[k]));
  });
  d.onCheck = [labels](const TW_DIALOG_VALUES& v) {
    double o[6];
    for (int k = 0; k < 6; ++k) o[k] = v.Number(labels[3 + k]);
    const double rr = o[0] * o[0] + o[1] * o[1] + o[2] * o[2], cc = o[3] * o[3] + o[4] * o[4] + o[5] * o[5];
    const double rc = o[0] * o[3] + o[1] * o[4] + o[2] * o[5];
    if (!(std::fabs(rr - 1) < 1e-4 && std::fabs(cc - 1) < 1e-4 && std::fabs(rc) < 1e-4)) {
      twk::showNamedError(L"CDlgSlicePosOrient", L"Orientation must be two orthogonal unit vectors");
      return false;
    }
    return true;
  };
  if (!TW_RunDialog(silent, d)) return false;
  for (int k = 0; k < 3; ++k) position[k] = values[k];
  for (int k = 0; k < 6; ++k) orientation[k] = values[3 + k];
  return true;
}
