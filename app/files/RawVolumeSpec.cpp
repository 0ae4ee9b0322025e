#include "RawVolumeSpec.h"

#include <cmath>
#include <vector>

#include "DocMessages.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/ValueText.h"

const wchar_t* const kRawDynamicKindNames[6] = {L"Time", L"Inversion time", L"Echo time", L"B-value", L"Flip Angle",
                                                L"TSL"};

namespace {

TW_RAWVOLUMEVIEW g_rawVolumeView;

bool isOrder(const CString& order) { return PR_StringIsPermutation(order, L"tzyx"); }

// The headless view: one prompt with the dialog's fields.
bool promptView(RawVolumeSpec* spec) {
  std::vector<twk::PromptField> fields = {
      twk::PromptField::integer(L"Width ", spec->width),
      twk::PromptField::integer(L"Height", spec->height),
      twk::PromptField::integer(L"Depth", spec->depth),
      twk::PromptField::integer(L"Number of timepoints", spec->timePoints),
      twk::PromptField::real(L"Vx", spec->voxel[0]),
      twk::PromptField::real(L"Vy", spec->voxel[1]),
      twk::PromptField::real(L"Vz", spec->voxel[2]),
      twk::PromptField::choice(L"Type", {kRawDynamicKindNames, kRawDynamicKindNames + 6}, spec->dynamicKind),
      twk::PromptField::string(L"Values", spec->dynamicValues),
      twk::PromptField::string(L"Order :", spec->order),
  };
  const CString title = CString(L"Specify RAW Volume  ") + RawVolumeShapeLabel(*spec) + L"  " +
                        RawVolumeDataTypeLabel(*spec);
  if (!twk::ui().askValues(title, fields)) return false;
  spec->width = int(fields[0].number);
  spec->height = int(fields[1].number);
  spec->depth = int(fields[2].number);
  spec->timePoints = int(fields[3].number);
  for (int i = 0; i < 3; ++i) spec->voxel[i] = fields[size_t(4 + i)].number;
  spec->dynamicKind = int(fields[7].number);
  spec->dynamicValues = fields[8].text;
  spec->order = fields[9].text;
  return true;
}

void refuse(const CString& text) { twk::doc::information(text); }

}  // namespace

CString RawVolumeShapeLabel(const RawVolumeSpec& spec) {
  return FmtStr(L"Shape : (%u,%u,%u,%u)", unsigned(spec.shape[0]), unsigned(spec.shape[1]), unsigned(spec.shape[2]),
                unsigned(spec.shape[3]));
}

CString RawVolumeDataTypeLabel(const RawVolumeSpec& spec) { return PR_GetDataTypeName(spec.type); }

uint64_t RawVolumeElementCount(const RawVolumeSpec& spec) {
  return spec.shape[0] * spec.shape[1] * spec.shape[2] * spec.shape[3];
}

bool RawVolumeUpdate(RawVolumeSpec* spec) {
  if (!spec) return false;
  int w = 0, h = 0, d = 0, t = 0;
  if (!isOrder(spec->order) || !PR_DimFromShapeAndOrder(spec->shape, spec->order, &w, &h, &d, &t)) {
    refuse(L"Order should be a permutation of axis : xyzt");
    return false;
  }
  spec->width = w;
  spec->height = h;
  spec->depth = d;
  spec->timePoints = t;
  return true;
}

bool RawVolumeAccept(const RawVolumeSpec& spec) {
  if (!isOrder(spec.order)) {
    refuse(L"Order should be a permutation of axis : xyzt");
    return false;
  }
  const int dims[4] = {spec.width, spec.height, spec.depth, spec.timePoints};
  uint64_t product = 1;
  for (int n : dims) {
    if (n < 1) {
      refuse(L"Width, Height, Depth and Number of timepoints must be at least 1");
      return false;
    }
    product *= uint64_t(n);
  }
  const uint64_t elements = RawVolumeElementCount(spec);
  if (product != elements) {
    refuse(FmtStr(L"Width x Height x Depth x Number of timepoints must equal the number of elements (%I64u)",
                  static_cast<unsigned long long>(elements)));
    return false;
  }
  for (double v : spec.voxel)
    if (!(v > 0) || !std::isfinite(v)) {
      refuse(L"Voxel size must be positive");
      return false;
    }
  if (spec.dynamicKind < 0 || spec.dynamicKind > 5) {
    refuse(L"Invalid dynamic dimension type");
    return false;
  }
  return true;
}

void TW_SetRawVolumeView(TW_RAWVOLUMEVIEW view) { g_rawVolumeView = std::move(view); }

bool TW_SpecifyRawVolume(const uint64_t shape[4], DTYPE type, int dims[4], double voxel[3], int* dynamicKind,
                         CString* dynamicValues, CString* order) {
  if (!shape || !dims || !voxel || !dynamicKind || !dynamicValues || !order) return false;
  RawVolumeSpec spec;
  for (int i = 0; i < 4; ++i) spec.shape[i] = shape[i];
  spec.type = type;
  spec.width = int(shape[3]);
  spec.height = int(shape[2]);
  spec.depth = int(shape[1]);
  spec.timePoints = int(shape[0]);
  for (int i = 0; i < 3; ++i) spec.voxel[i] = voxel[i];
  spec.dynamicKind = *dynamicKind;
  spec.dynamicValues = *dynamicValues;
  spec.order = L"tzyx";
  const TW_RAWVOLUMEVIEW& view = g_rawVolumeView ? g_rawVolumeView : TW_RAWVOLUMEVIEW(promptView);
  for (;;) {
    if (!view(&spec)) return false;
    if (RawVolumeAccept(spec)) break;
  }
  dims[0] = spec.width;
  dims[1] = spec.height;
  dims[2] = spec.depth;
  dims[3] = spec.timePoints;
  for (int i = 0; i < 3; ++i) voxel[i] = spec.voxel[i];
  *dynamicKind = spec.dynamicKind;
  *dynamicValues = spec.dynamicValues;
  *order = spec.order;
  return true;
}
