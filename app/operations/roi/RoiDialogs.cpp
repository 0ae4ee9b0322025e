#include "RoiDialogs.h"

#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"

namespace {

TW_ROIINFLATEVIEW& inflateView() {
  static TW_ROIINFLATEVIEW view;
  return view;
}

}  // namespace

void TW_SetRoiInflateView(TW_ROIINFLATEVIEW view) { inflateView() = std::move(view); }

bool TW_DlgRoiInflate(ROIPEELGROW* record) {
  if (!record) return false;
  if (inflateView()) return inflateView()(record);
  std::vector<twk::PromptField> fields{twk::PromptField::real(L"Radius", record->radius),
                                       twk::PromptField::check(L"Use voxels (uncheck for mm)", record->useVoxels != 0),
                                       twk::PromptField::check(L"All layers", record->allLayers != 0),
                                       twk::PromptField::check(L"3D mode", record->mode3D != 0)};
  if (!twk::ui().askValues(record->grow ? L"Grow ROI" : L"Peel ROI", fields)) return false;
  record->radius = fields[0].number;
  record->useVoxels = fields[1].number != 0 ? 1 : 0;
  record->allLayers = fields[2].number != 0 ? 1 : 0;
  record->mode3D = fields[3].number != 0 ? 1 : 0;
  return true;
}

VA_SALTPEPPER g_SaltPepperParms;

namespace {

TW_SALTPEPPERVIEW& saltPepperView() {
  static TW_SALTPEPPERVIEW view;
  return view;
}

}  // namespace

void TW_SetSaltPepperView(TW_SALTPEPPERVIEW view) { saltPepperView() = std::move(view); }

bool TW_DlgSaltPepper() {
  VA_SALTPEPPER& r = g_SaltPepperParms;
  if (saltPepperView()) return saltPepperView()(&r);
  std::vector<twk::PromptField> fields{twk::PromptField::check(L"2D mode", r.mode2D != 0),
                                       twk::PromptField::check(L"Salt removal", r.saltRemoval != 0),
                                       twk::PromptField::integer(L"Salt weight threshold", r.saltThreshold),
                                       twk::PromptField::check(L"Pepper removal", r.pepperRemoval != 0),
                                       twk::PromptField::integer(L"Pepper weight threshold", r.pepperThreshold)};
  fields[2].minimum = fields[4].minimum = 0;
  fields[2].maximum = fields[4].maximum = 1000000;
  if (!twk::ui().askValues(L"\"Salt & Pepper\" Artefact Removal", fields)) return false;
  r.mode2D = fields[0].number != 0 ? 1 : 0;
  r.saltRemoval = fields[1].number != 0 ? 1 : 0;
  r.saltThreshold = int32_t(fields[2].number);
  r.pepperRemoval = fields[3].number != 0 ? 1 : 0;
  r.pepperThreshold = int32_t(fields[4].number);
  return true;
}

VA_LINCONV g_LinConvParms;

namespace {

TW_LINCONVVIEW& linConvView() {
  static TW_LINCONVVIEW view;
  return view;
}
TW_NORMALIZEVIEW& normalizeView() {
  static TW_NORMALIZEVIEW view;
  return view;
}

}  // namespace

void TW_SetVolLinAmplifView(TW_LINCONVVIEW view) { linConvView() = std::move(view); }
void TW_SetVolNormalizeView(TW_NORMALIZEVIEW view) { normalizeView() = std::move(view); }

bool TW_DlgVolLinAmplif() {
  VA_LINCONV& r = g_LinConvParms;
  if (linConvView()) return linConvView()(&r);
  std::vector<twk::PromptField> fields{twk::PromptField::real(L"Coefficient", r.coefficient),
                                       twk::PromptField::real(L"Bias", r.bias),
                                       twk::PromptField::real(L"Low limit", r.lowLimit),
                                       twk::PromptField::real(L"High limit", r.highLimit)};
  if (!twk::ui().askValues(L" Linear Converison", fields)) return false;
  r = VA_LINCONV{fields[0].number, fields[1].number, fields[2].number, fields[3].number};
  return true;
}

bool TW_DlgVolNormalize(const VA_ROIINFO* info, int* type, double* stdev, double* coefficient) {
  if (!info || !type || !stdev || !coefficient) return false;
  TW_NORMALIZECHOICE choice;
  choice.summary = FmtStr(L"%e / %e / %e / %e", info->minimum, info->maximum, info->mean, info->stdev);
  choice.type = 0;
  choice.coefficient = info->mean;
  choice.stdev = info->stdev;
  bool ok = false;
  if (normalizeView()) {
    ok = normalizeView()(&choice);
  } else {
    std::vector<twk::PromptField> fields{
        twk::PromptField::choice(L"MIN / MAX / AVERAGE / STDDEV: " + choice.summary,
                                 {L"Division by coefficient", L"Z-score"}, 0),
        twk::PromptField::real(L"Normalization coefficient", choice.coefficient),
        twk::PromptField::real(L"Region stdev", choice.stdev)};
    ok = twk::ui().askValues(L"Volume Normalization", fields);
    if (ok) {
      choice.type = int(fields[0].number);
      choice.coefficient = fields[1].number;
      choice.stdev = fields[2].number;
    }
  }
  if (!ok) return false;
  *type = choice.type;
  *coefficient = choice.coefficient;
  *stdev = choice.stdev;
  return true;
}
