// The CVol member forms of the imaging core's volume functions: each forwards to its free function.

#include "TwkUi.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "dynamics/Dynamics.h"
#include "ops/VolumeOps.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"

bool CVol::GetDynamicDimension(CString* dimensionName, CString* dimensionUnit, double** values, bool show) const {
  if (VA_VolGetDynamicDimension(this, nullptr, dimensionName, dimensionUnit, values)) return true;
  if (show) twk::showNamedError(L"CVol::GetDynamicDimension", L"Volume with dynamic coordinates is required");
  return false;
}

bool CVol::DynInxToTimeInx(int dynInx, int* timeInx) const { return VA_VolDynInxToTimeInx(this, dynInx, timeInx); }
bool CVol::TimeInxToDynInx(int timeInx, int* dynInx) const { return VA_VolTimeInxToDynInx(this, timeInx, dynInx); }
bool CVol::TacToDynamicOrder(double* curve) const { return VA_VolTacToDynamicOrder(this, curve); }
bool CVol::EnforceChronoOrder(bool show) { return VA_EnforceChronoOrder(this, show); }
double* CVol::GetAll_TR() const { return VA_VolGetAll_TR(this); }
double* CVol::GetAll_TE() const { return VA_VolGetAll_TE(this); }
double* CVol::GetAll_FA() const { return VA_VolGetAll_FA(this); }
double CVol::GetFlipAngle() const { return VA_VolGetFlipAngle(this); }
double CVol::GetTR() const { return VA_VolGetTR(this); }
double CVol::GetTE() const { return VA_VolGetTE(this); }

CVol* CVol::CloneByReformat(FRAME** result, const SPC* spacing, const double* orientation, const DPOINT3D* position,
                            bool show) const {
  return VA_CloneByReformat(this, result, spacing, orientation, position, show);
}
CVol* CVol::CloneByCrop(const RECT4D* box, const int32_t* timeList, bool cloneDicom, bool show) const {
  return VA_VolCloneByCrop(this, box, timeList, cloneDicom, show);
}
CVol* CVol::IntegerToReal(bool show) const { return VA_VolIntegerToReal(this, show); }
CVol* CVol::RoiToInteger(bool show) const { return VA_RoiToInteger(this, show); }
bool CVol::IntegerToReal(double scale, double offset) { return VA_VolIntegerToReal(this, scale, offset); }
bool CVol::MinimizeDicomHeaders(bool) { return VA_MinimizeDicomHeaders(this); }
bool CVol::CopyAllSpatialInfo(const CVol* source) { return VA_CopyAllSpatialInfo(this, source); }

bool CVol::Mirror(bool keepWorld, int axis, bool show) {
  if (axis >= 1 && axis <= 3 && VA_VolMirror(this, keepWorld, axis - 1)) return true;
  if (show) twk::showNamedError(L"CVol::Mirror", L"Invalid volume or axis");
  return false;
}

bool CVol::SetBpv(int bits) { return VA_VolSetBpv(this, bits); }
bool CVol::CreateUniform(int type, const DIM3D& dims, double value, int bpv) {
  return VA_VolSetUniformFrame(this, type, dims, value, bpv);
}

bool CVol::IsEqualDim(const CVol* other) const { return VA_IsEqualDim(this, other); }
bool CVol::IsEqualSpc(const CVol* other) const { return VA_VolIsEqualSpc(this, other); }
bool CVol::IsEqualOrient(const CVol* other) const { return VA_VolIsEqualOrient(this, other); }
bool CVol::IsMatchingVolume(const CVol* other, double tolerance, bool* match) const {
  return VA_VolIsMatchingVolume(this, other, tolerance, match);
}
bool CVol::IsValidSpc() const { return VA_VolIsValidSpc(this); }
bool CVol::IsValidOrientation() const { return VA_IsValidOrientation(orient); }
double CVol::UnivoxDiam() const { return VA_VolUnivoxDiam(this); }
int CVol::GetMajorProjType(const VA_VOLPROJ* proj) const { return VA_VolGetMajorProjType(this, proj); }
bool CVol::GetProjOrientation(const VA_VOLPROJ* proj, double projOrient[6]) const {
  return VA_VolGetProjOrientation(this, proj, projOrient);
}
bool CVol::GetProjText(const VA_VOLPROJ* proj, CString* text) const { return VA_VolGetProjText(this, proj, text); }
