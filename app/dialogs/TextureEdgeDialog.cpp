#include "TextureEdgeDialog.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "DocMessages.h"
#include "ParameterDialog.h"
#include "TwkMem.h"
#include "filters/Filters.h"

namespace {

const wchar_t* kLow = L"Low radius [1-20] (vox)";
const wchar_t* kHigh = L"High radius [1-20] (vox)";

double closest(const std::vector<double>& set, double value) {
  double best = set.front();
  for (double r : set)
    if (std::fabs(r - value) < std::fabs(best - value)) best = r;
  return best;
}

// Both radii moved to their closest admissible radius and ordered.
void snap(const std::vector<double>& set, double* low, double* high) {
  *low = closest(set, *low);
  *high = closest(set, *high);
  if (*low > *high) std::swap(*low, *high);
}

}  // namespace

namespace {

// The admissible radii of the multiscale gradient up to 16 voxels; empty after the dialog's message.
std::vector<double> radiusSet(const wchar_t* dialogClass) {
  int count = 0;
  double* radii = VA_RerazoRadiusSet(16.0, &count);
  std::vector<double> set;
  if (radii && count > 0) set.assign(radii, radii + count);
  pf_free(&radii);
  if (set.empty()) twk::doc::message(CString(dialogClass) + L"::OnInitDialog", L"Invalid radius set");
  return set;
}

const std::initializer_list<const wchar_t*> kMetrics = {L"Signal Difference", L"Earth Mover Distance"};
const std::initializer_list<const wchar_t*> kWeights = {L"Constant", L"Gaussian", L"Rayleigh", L"Radial"};

}  // namespace

bool TW_DlgTextureEdge(VA_URALEDGE* record) {
  if (!record) return false;
  const std::vector<double> set = radiusSet(L"CDlgTextureEdge");
  if (set.empty()) return false;
  // The record is byte-packed: its fields are edited through aligned copies.
  int32_t metric = record->distanceMetric, weights = record->voxelWeights;
  double low = record->lowRadius, high = record->highRadius, threshold = record->edgeThreshold;
  snap(set, &low, &high);
  TW_DIALOG d(L"3D Edge Detector", L"CDlgTextureEdge");
  d.Choice(L"Distance metric", &metric, kMetrics);
  d.Choice(L"Voxel weights", &weights, kWeights);
  d.Real(kLow, &low);
  d.Real(kHigh, &high);
  d.Real(L"Edge signal threshold", &threshold, 0, 65535);
  // A typed radius moves to its closest admissible radius when OK takes it.
  if (!TW_RunDialog(d)) return false;
  snap(set, &low, &high);
  record->distanceMetric = metric;
  record->voxelWeights = weights;
  record->lowRadius = low;
  record->highRadius = high;
  record->edgeThreshold = threshold;
  return true;
}

bool TW_DlgMultiScaleTextureGrad(VA_URALGRAD* record) {
  if (!record) return false;
  const std::vector<double> set = radiusSet(L"CDlgMultiScaleTextureGrad");
  if (set.empty()) return false;
  int32_t metric = record->metric, weights = record->weights, magnitude = record->magnitude;
  double normalization = record->normalization, low = record->lowRadius, high = record->highRadius;
  snap(set, &low, &high);
  TW_DIALOG d(L"Multiscale Texture Gradient", L"CDlgMultiScaleTextureGrad");
  d.Choice(L"Distance metric", &metric, kMetrics);
  d.Choice(L"Voxel weights", &weights, kWeights);
  d.Choice(L"Magnitude measure", &magnitude, {L"Linear", L"Logarithm", L"Normalized"});
  d.Real(L"Normalization coefficient", &normalization, 0, 10000);
  d.Real(kLow, &low);
  d.Real(kHigh, &high);
  if (!TW_RunDialog(d)) return false;
  snap(set, &low, &high);
  record->metric = metric;
  record->weights = weights;
  record->magnitude = magnitude;
  record->normalization = normalization;
  record->lowRadius = low;
  record->highRadius = high;
  return true;
}

bool TW_DlgTextrGradSS(VA_URALGRAD* record) {
  if (!record) return false;
  int32_t metric = record->metric, weights = record->weights, magnitude = record->magnitude;
  double normalization = record->normalization, radius = record->lowRadius;
  TW_DIALOG d(L"Single Scale Texture Gradient", L"CDlgTextrGradSS");
  d.Choice(L"Distance metric", &metric, kMetrics);
  d.Choice(L"Voxel weights", &weights, kWeights);
  d.Choice(L"Magnitude measure", &magnitude, {L"Linear", L"Logarithm", L"Normalized"});
  d.Real(L"Normalization coefficient", &normalization, 0, 10000);
  d.Real(L"Radius (mm)", &radius, 0, 1000);
  if (!TW_RunDialog(d)) return false;
  record->metric = metric;
  record->weights = weights;
  record->magnitude = magnitude;
  record->normalization = normalization;
  record->lowRadius = record->highRadius = radius;
  return true;
}
