#include "RawVolumeSettings.h"

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
bool promptView(RawVolumeSettings* settings) {
  std::vector<twk::PromptField> fields = {
      twk::PromptField::integer(L"Width ", settings->width),
      twk::PromptField::integer(L"Height", settings->height),
      twk::PromptField::integer(L"Depth", settings->depth),
      twk::PromptField::integer(L"Number of timepoints", settings->timePoints),
      twk::PromptField::real(L"Vx", settings->voxel[0]),
      twk::PromptField::real(L"Vy", settings->voxel[1]),
      twk::PromptField::real(L"Vz", settings->voxel[2]),
      twk::PromptField::choice(L"Type", {kRawDynamicKindNames, kRawDynamicKindNames + 6}, settings->dynamicKind),
      twk::PromptField::string(L"Values", settings->dynamicValues),
      twk::PromptField::string(L"Order :", settings->order),
  };
  const CString title = CString(L"Specify RAW Volume  ") + RawVolumeShapeLabel(*settings) + L"  " +
                        RawVolumeDataTypeLabel(*settings);
  if (!twk::ui().askValues(title, fields)) return false;
  settings->width = int(fields[0].number);
  settings->height = int(fields[1].number);
  settings->depth = int(fields[2].number);
  settings->timePoints = int(fields[3].number);
  for (int i = 0; i < 3; ++i) settings->voxel[i] = fields[size_t(4 + i)].number;
  settings->dynamicKind = int(fields[7].number);
  settings->dynamicValues = fields[8].text;
  settings->order = fields[9].text;
  return true;
}

void refuse(const CString& text) { twk::doc::information(text); }

}  // namespace

CString RawVolumeShapeLabel(const RawVolumeSettings& settings) {
  return FmtStr(L"Shape : (%u,%u,%u,%u)", unsigned(settings.shape[0]), unsigned(settings.shape[1]), unsigned(settings.shape[2]),
                unsigned(settings.shape[3]));
}

CString RawVolumeDataTypeLabel(const RawVolumeSettings& settings) { return PR_GetDataTypeName(settings.type); }

uint64_t RawVolumeElementCount(const RawVolumeSettings& settings) {
  return settings.shape[0] * settings.shape[1] * settings.shape[2] * settings.shape[3];
}

bool RawVolumeUpdate(RawVolumeSettings* settings) {
  if (!settings) return false;
  int w = 0, h = 0, d = 0, t = 0;
  if (!isOrder(settings->order) || !PR_DimFromShapeAndOrder(settings->shape, settings->order, &w, &h, &d, &t)) {
    refuse(L"Order should be a permutation of axis : xyzt");
    return false;
  }
  settings->width = w;
  settings->height = h;
  settings->depth = d;
  settings->timePoints = t;
  return true;
}

bool RawVolumeAccept(const RawVolumeSettings& settings) {
  if (!isOrder(settings.order)) {
    refuse(L"Order should be a permutation of axis : xyzt");
    return false;
  }
  const int dims[4] = {settings.width, settings.height, settings.depth, settings.timePoints};
  uint64_t product = 1;
  for (int n : dims) {
    if (n < 1) {
      refuse(L"Width, Height, Depth and Number of timepoints must be at least 1");
      return false;
    }
    product *= uint64_t(n);
  }
  const uint64_t elements = RawVolumeElementCount(settings);
  if (product != elements) {
    refuse(FmtStr(L"Width x Height x Depth x Number of timepoints must equal the number of elements (%I64u)",
                  static_cast<unsigned long long>(elements)));
    return false;
  }
  for (double v : settings.voxel)
    if (!(v > 0) || !std::isfinite(v)) {
      refuse(L"Voxel size must be positive");
      return false;
    }
  if (settings.dynamicKind < 0 || settings.dynamicKind > 5) {
    refuse(L"Invalid dynamic dimension type");
    return false;
  }
  return true;
}

void TW_SetRawVolumeView(TW_RAWVOLUMEVIEW view) { g_rawVolumeView = std::move(view); }

bool TW_SpecifyRawVolume(const uint64_t shape[4], DTYPE type, int dims[4], double voxel[3], int* dynamicKind,
                         CString* dynamicValues, CString* order) {
  if (!shape || !dims || !voxel || !dynamicKind || !dynamicValues || !order) return false;
  RawVolumeSettings settings;
  for (int i = 0; i < 4; ++i) settings.shape[i] = shape[i];
  settings.type = type;
  settings.width = int(shape[3]);
  settings.height = int(shape[2]);
  settings.depth = int(shape[1]);
  settings.timePoints = int(shape[0]);
  for (int i = 0; i < 3; ++i) settings.voxel[i] = voxel[i];
  settings.dynamicKind = *dynamicKind;
  settings.dynamicValues = *dynamicValues;
  settings.order = L"tzyx";
  const TW_RAWVOLUMEVIEW& view = g_rawVolumeView ? g_rawVolumeView : TW_RAWVOLUMEVIEW(promptView);
  for (;;) {
    if (!view(&settings)) return false;
    if (RawVolumeAccept(settings)) break;
  }
  dims[0] = settings.width;
  dims[1] = settings.height;
  dims[2] = settings.depth;
  dims[3] = settings.timePoints;
  for (int i = 0; i < 3; ++i) voxel[i] = settings.voxel[i];
  *dynamicKind = settings.dynamicKind;
  *dynamicValues = settings.dynamicValues;
  *order = settings.order;
  return true;
}
