// Regularised parametric maps for the parametric-map driver (see RegularisedMapDriver.h).

#include "RegularisedMapDriver.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "ConcConv.h"
#include "DynExp.h"
#include "Prompts.h"
#include "RegularisedMaps.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr const wchar_t* kCalculate = L"GOMR_CalculateMap";
constexpr const wchar_t* kConvert = L"GOMRconvertToDEMPoutput";
constexpr int kAdditional = -1, kZeros = -2, kNone = -3;
constexpr int kTableOutputs = 5;

// Which regularised map feeds each output of the model: a map index, the additional map, zeros,
// or none (the regularised fit does not give that output). Null for other models.
const int* mapTable(int model) {
  static constexpr int ivim[kTableOutputs] = {1, 3, 2, kAdditional, kNone};
  static constexpr int gammaVariate[kTableOutputs] = {0, 1, 2, kZeros, kAdditional};
  static constexpr int tofts[kTableOutputs] = {0, 1, 2, kAdditional, kNone};
  switch (model) {
    case 18: return ivim;
    case 52: return gammaVariate;
    case 57: return tofts;
    default: return nullptr;
  }
}

}  // namespace

bool TW_ModelSupportsGOMR(CDynExp* experiment, int model) {
  return experiment && (experiment->GetAllowedOptimization(model) & 7) != 0;
}

double** GOMRconvertToDEMPoutput(int model, int outputCount, const int* requested, int requestedCount, FRAME** maps,
                                 FRAME* additional) {
  const int* table = mapTable(model);
  if (!table) {
    twk::showNamedError(kConvert, L"Model does not support GoMR");
    return nullptr;
  }
  if (!requested || !maps || requestedCount < 1) return nullptr;
  auto** out = static_cast<double**>(pf_calloc(int64_t(sizeof(double*)) * requestedCount));
  if (!out) return nullptr;
  const FRAME* shape = maps[0] ? maps[0] : additional;
  const int64_t voxels = shape ? int64_t(shape->dim.w) * shape->dim.h * shape->dim.d : 0;
  int j = 0;
  for (int k = 0; k < outputCount && j < requestedCount; ++k) {
    if (!requested[k]) continue;
    const int entry = k < kTableOutputs ? table[k] : kNone;
    if (entry >= 0 || entry == kAdditional) {
      const FRAME* source = entry >= 0 ? maps[entry] : additional;
      out[j] = source ? static_cast<double*>(VA_VolGetAll(source, 0, 64)) : nullptr;
    } else if (voxels > 0) {
      out[j] = static_cast<double*>(pf_malloc(int64_t(sizeof(double)) * voxels));
      if (out[j]) std::fill_n(out[j], voxels, entry == kZeros ? 0.0 : VOID_VALUE);
    }
    if (!out[j]) {
      pf_free_parr(&out, requestedCount);
      return nullptr;
    }
    ++j;
  }
  if (j < requestedCount) pf_free_parr(&out, requestedCount);
  return out;
}

double** GOMR_CalculateMap(bool silent, int model, CDynExp* experiment, CVol* volume, CVol* /*atlas*/, CVol** rois,
                           int roiCount, bool /*flag*/) {
  if (!experiment || !volume || !volume->frame) return nullptr;
  // 1, 2. The model and the one ROI.
  if (!TW_ModelSupportsGOMR(experiment, model)) {
    twk::showNamedError(kCalculate, L"GOMR is not supported for this Model");
    return nullptr;
  }
  if (roiCount != 1 || !rois || !rois[0] || !rois[0]->frame) {
    twk::showNamedError(kCalculate, L"GOMR optimization : exactly one ROI is required");
    return nullptr;
  }
  const FRAME* roi = rois[0]->frame;
  if (roi->type != FRM_ROI || roi->dim.w != volume->W() || roi->dim.h != volume->H() || roi->dim.d != volume->D()) {
    twk::showNamedError(kCalculate, L"The ROI does not match the volume");
    return nullptr;
  }

  // 3. The fit mask: the non-void voxels inside the ROI.
  const FramePtr nonVoid(VA_GetNonVoidMask(volume->frame));
  if (!nonVoid || VA_CheckRoiIsEmpty(true, nonVoid.get(), nullptr, nullptr, L"Nonvoid mask")) return nullptr;
  const int t0 = 0;
  if (VA_CheckRoiIsEmpty(true, roi, &t0, nullptr)) return nullptr;
  const FramePtr mask(VA_VolClone(nonVoid.get()));
  if (!mask) return nullptr;
  const int w = volume->W();
  for (int z = 0; z < volume->D(); ++z)
    for (int y = 0; y < volume->H(); ++y) {
      uint8_t* dst = twk::frameLine(mask.get(), y, z, 0);
      const uint8_t* src = twk::frameLine(roi, y, z, 0);
      for (int x = 0; x < w; ++x)
        if (!twk::getBit(src, x)) twk::setBit(dst, x, false);
    }
  if (VA_CheckRoiIsEmpty(true, mask.get(), nullptr, nullptr, L"Nonvoid mask inside the ROI")) return nullptr;

  // 4. The tolerance.
  VA_SMOOTHSETTINGS settings;
  settings.tolerance = 1.0;
  if (!silent &&
      !TW_EnterDouble(L"Map Regularization fitting error tolerance in signal units.\nIncrease for smoother maps.",
                      &settings.tolerance))
    return nullptr;

  // 5. The outputs and the optimisation.
  const int outputCount = experiment->NumOutputParms();
  const int requestedCount = experiment->NumReqOutputParms();
  int requested[DYNEXP_NUM_OUTPUTS] = {};
  experiment->GetParmReq(requested, DYNEXP_NUM_OUTPUTS);
  if (experiment->GetCurrentOptimization(model, &settings.grid, &settings.iterations) != 7 || requestedCount < 1)
    return nullptr;

  // 6. Free parameters, the input function in concentration and the conversion of the tissue.
  double freeParms[DYNEXP_MAX_FREE_PARMS] = {};
  if (!experiment->GetFreeParms(model, freeParms)) return nullptr;
  VA_SMOOTHMAPS maps;
  bool fitted = false;
  // 7. The model's regularised fit.
  switch (model) {
    case 18: fitted = VA_SmoothMapIvimM18(volume, mask.get(), settings, freeParms, &maps); break;
    case 52: fitted = VA_SmoothMapGammaVariateM52(volume, mask.get(), settings, freeParms, &maps); break;
    case 57: {
      std::unique_ptr<INPUTFUNC[]> inputs(new INPUTFUNC[DYNEXP_NUM_INPUTFUNCS]);
      experiment->GetIfuncConc(inputs.get());
      VA_CONCSETUP tissue{experiment->tissueConc, rois[0]->tissue.t1, false};
      if (experiment->tissueConc.method == 5) tissue.t10 = experiment->bloodAttrib.t1;
      const CString problem = VA_ConcConvProblem(tissue);
      if (!problem.IsEmpty()) {
        twk::showNamedError(kCalculate, L"Tissue conversion: " + problem);
        return nullptr;
      }
      VA_PrepareSigToConcCallbacks(tissue);
      fitted = VA_SmoothKtransM57(volume, mask.get(), settings, freeParms, inputs[0].times, inputs[0].values,
                                  inputs[0].count, VA_SigToConcCallback, VA_ConcToSigCallback, &maps);
      break;
    }
    default: twk::showNamedError(kCalculate, L"GOMR is not available for this model"); return nullptr;
  }
  if (!fitted) return nullptr;
  // 8. The driver's arrays.
  return GOMRconvertToDEMPoutput(model, outputCount, requested, requestedCount, maps.maps.data(), maps.additional);
}
