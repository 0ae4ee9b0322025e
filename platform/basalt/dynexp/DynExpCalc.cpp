// The calculation side of the kinetic-model host: the catalogue, input functions, checks of a run
// and the voxel, ROI and single-curve fits.

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ConcConv.h"
#include "DynExp.h"
#include "DynExpDomain.h"
#include "DynOrder.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dynamics/Dynamics.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace twk::dynexp {

bool dynamicOrder(const CVol* vol, DynamicOrder* order) {
  const int n = vol->T();
  if (!vol->dyn || n < 1) return false;
  order->timeOf.assign(size_t(n), 0);
  if (!VA_MainDynComponentToChronoOrder(vol->dyn, n, order->timeOf.data(), &order->kind, nullptr, nullptr))
    return false;
  order->axis.resize(size_t(n));
  order->times.resize(size_t(n));
  double first = vol->dyn[0].time;
  for (int t = 0; t < n; ++t) first = std::min(first, vol->dyn[t].time);
  for (int k = 0; k < n; ++k) {
    const DYNCRD& r = vol->dyn[order->timeOf[size_t(k)]];
    order->axis[size_t(k)] = VA_DynCoordinate(r, order->kind);
    order->times[size_t(k)] = r.time - first;
  }
  return true;
}

}  // namespace twk::dynexp

namespace {

using twk::dynexp::DynamicOrder;
using twk::dynexp::dynamicOrder;

constexpr const wchar_t* kCalculate = L"CDynExp::CalculateDynamicExperiment";
constexpr const wchar_t* kVerify = L"CDynExp::VerifyProcessing";
constexpr const wchar_t* kLoadIf = L"CDynExp::LoadInputFunction";

CString fromUtf8(const char* text) { return text ? CString(text) : CString(); }

// Models that take an input function need a baseline and an uptake: at least this many points.
constexpr int kMinPointsWithInput = 5;
constexpr int kMinPoints = 2;

// Bit of a modality in the plug-in's allowed-modality mask; 0 for a modality it does not name.
int modalityBit(int modality) {
  switch (modality) {
    case MODALITY_CT: return 1;
    case MODALITY_MR: return 2;
    case MODALITY_PET: return 4;
    default: return 0;
  }
}

// Conversions a volume of this modality can have.
int modalityConcMask(int modality) {
  if (modality == MODALITY_PET) return 1;
  if (modality == MODALITY_CT) return 1 | 4 | 128;
  return 511 & ~128;
}

// Hands the acquisition to the plug-in: the time profile (which sets the point count) and every
// coordinate profile of the dynamic records, in dynamic order.
void defineProfiles(const DynExpDomain* d, const CVol* vol, const DynamicOrder& order, double tr) {
  const int n = int(order.timeOf.size());
  std::vector<double> v(static_cast<size_t>(n));
  auto profile = [&](double DYNCRD::*field) {
    for (int k = 0; k < n; ++k) v[size_t(k)] = vol->dyn[order.timeOf[size_t(k)]].*field;
    return v.data();
  };
  // Time-like axes hand their times; the other axes keep the acquisition times.
  d->DIDU_DefineTimeProfile(order.times.data(), n);
  d->DIDU_DefineEchoTmsProfile(profile(&DYNCRD::echoTime), n);
  d->DIDU_DefineBfactorProfile(profile(&DYNCRD::bValue), n);
  d->DIDU_DefineFlipAngleProfile(profile(&DYNCRD::flipAngle), n);
  d->DIDU_DefineRepetitionTimeProfile(profile(&DYNCRD::repetitionTime), n);
  d->DIDU_DefineTSLProfile(profile(&DYNCRD::spinLockTime), n);
  d->DIDU_DefineInvTmsProfile(profile(&DYNCRD::inversionTime), n);
  d->DIDU_SetTR(tr);
}

// Voxel value as a curve point: void integer voxels become 1e60.
template <class T>
inline double curvePoint(T v) {
  if constexpr (std::is_floating_point_v<T>) return double(v);
  else return uint32_t(v) == VOID_INT_VALUE ? VOID_VALUE : double(v);
}

// Reads the curves of every voxel of line (y, z) into rows (w curves of n points, dynamic order).
template <class T>
void readLineCurves(const FRAME* f, int y, int z, const std::vector<int>& timeOf, double* rows) {
  const int w = f->dim.w, n = int(timeOf.size());
  for (int k = 0; k < n; ++k) {
    const T* line = reinterpret_cast<const T*>(twk::frameLine(f, y, z, timeOf[size_t(k)]));
    for (int x = 0; x < w; ++x) rows[int64_t(x) * n + k] = curvePoint(line[x]);
  }
}

bool readCurves(const FRAME* f, int y, int z, const std::vector<int>& timeOf, double* rows) {
  switch (twk::voxelElemOf(f)) {
    case twk::VoxelElem::U8: readLineCurves<uint8_t>(f, y, z, timeOf, rows); return true;
    case twk::VoxelElem::U16: readLineCurves<uint16_t>(f, y, z, timeOf, rows); return true;
    case twk::VoxelElem::U32: readLineCurves<uint32_t>(f, y, z, timeOf, rows); return true;
    case twk::VoxelElem::F64: readLineCurves<double>(f, y, z, timeOf, rows); return true;
    default: return false;
  }
}

// Output buffers of the requested outputs: a pf_malloc array of pf_malloc buffers, all 1e60.
double** newOutputs(int count, int64_t values) {
  auto** out = static_cast<double**>(pf_calloc(int64_t(sizeof(double*)) * count));
  if (!out) return nullptr;
  for (int j = 0; j < count; ++j) {
    out[j] = static_cast<double*>(pf_malloc(int64_t(sizeof(double)) * values));
    if (!out[j]) {
      pf_free_parr(&out, count);
      return nullptr;
    }
    std::fill_n(out[j], values, VOID_VALUE);
  }
  return out;
}

// A closing guard for a model cycle of the plug-in.
struct ModelCycle {
  const DynExpDomain* d;
  int model;
  bool open = false;
  ~ModelCycle() {
    if (open) d->DIDU_ModelClose(unsigned(model));
  }
};


}  // namespace

// --- catalogue ---

CString CDynExp::GetModelName(int model) const {
  if (!domain_ || model < 0 || model >= GetNumModels()) return CString();
  return fromUtf8(domain_->DIDU_GetModelName(unsigned(model)));
}

bool CDynExp::SetCurrentModelByName(const wchar_t* text) {
  if (!domain_ || !text) return false;
  CString name(text);
  // The model list shows "<name> : <n>IF" for models that take input functions.
  const int colon = name.ReverseFind(L':');
  if (colon >= 1 && name.Mid(colon - 1, 2) == L" :") {
    CString tail = name.Mid(colon + 1);
    tail.Trim();
    if (tail.GetLength() >= 3 && tail.Right(2) == L"IF" &&
        tail.Left(tail.GetLength() - 2).SpanIncluding(L"0123456789").GetLength() == tail.GetLength() - 2)
      name = name.Left(colon - 1);
  }
  for (int m = 0; m < GetNumModels(); ++m)
    if (!name.IsEmpty() && GetModelName(m) == name) return SetCurrentModel(m);
  return false;
}

bool CDynExp::DefaultFreeParms(int model) {
  if (!domain_ || model < 0 || model >= int(models.size())) return false;
  const double* values = domain_->DIDU_DefaultFreeParms(model);
  DYNEXP_MODELSET& set = models[size_t(model)];
  if (values && set.numFreeParms > 0) std::copy_n(values, set.numFreeParms, set.freeParms);
  return true;
}

int CDynExp::GetNumOutParms(int model) const {
  return domain_ && model >= 0 && model < GetNumModels()
             ? std::clamp(domain_->DIDU_GetNumOutParms(unsigned(model)), 0, DYNEXP_NUM_OUTPUTS)
             : 0;
}
CString CDynExp::GetOutParmName(int model, int index) const {
  return index >= 0 && index < GetNumOutParms(model) ? fromUtf8(domain_->DIDU_GetOutParmName(unsigned(model), index))
                                                     : CString();
}
CString CDynExp::GetOutParmUnits(int model, int index) const {
  return index >= 0 && index < GetNumOutParms(model) ? fromUtf8(domain_->DIDU_GetOutParmUnits(unsigned(model), index))
                                                     : CString();
}
int CDynExp::GetNumFreeParms(int model) const {
  return domain_ && model >= 0 && model < GetNumModels()
             ? std::clamp(domain_->DIDU_GetNumFreeParms(unsigned(model)), 0, DYNEXP_MAX_FREE_PARMS)
             : 0;
}
CString CDynExp::GetFreeParmName(int model, int index) const {
  return index >= 0 && index < GetNumFreeParms(model)
             ? fromUtf8(domain_->DIDU_GetFreeParmName(unsigned(model), index))
             : CString();
}
int CDynExp::GetNumRequiredIfuncs(int model) const {
  return domain_ && model >= 0 && model < GetNumModels()
             ? std::clamp(domain_->DIDU_GetNumIfuncs(unsigned(model)), 0, DYNEXP_NUM_INPUTFUNCS)
             : 0;
}
CString CDynExp::GetIFpanelName(int model) const {
  return domain_ && model >= 0 && model < GetNumModels() ? fromUtf8(domain_->DIDU_GetIFpanelName(unsigned(model)))
                                                         : CString();
}
int CDynExp::GetDefaultClrScheme(int model, int index) const {
  return index >= 0 && index < GetNumOutParms(model) ? domain_->DIDU_GetDefaultClrScheme(unsigned(model), index) : 0;
}
int CDynExp::GetAllowedOptimization(int model) const {
  return domain_ && model >= 0 && model < GetNumModels() ? domain_->DIDU_GetAllowedOptimization(unsigned(model)) : 0;
}
int CDynExp::GetAllowedConcConv(int model) const {
  return domain_ && model >= 0 && model < GetNumModels() ? domain_->DIDU_GetAllowedConcConv(unsigned(model)) & 511 : 0;
}
int CDynExp::GetAllowedDynDim(int model) const {
  return domain_ && model >= 0 && model < GetNumModels() ? domain_->DIDU_GetAllowedDynDim(unsigned(model)) : 0;
}
int CDynExp::GetAllowedModality(int model) const {
  return domain_ && model >= 0 && model < GetNumModels() ? domain_->DIDU_GetAllowedModality(unsigned(model)) : 0;
}
bool CDynExp::ExtrapolateEnabled(int model) const {
  return domain_ && model >= 0 && model < GetNumModels() && domain_->DIDU_ExtrapolateEnabled(model);
}

bool CDynExp::ModelIsAllowed(const CVol* vol, int model) const {
  if (!vol || !vol->frame || !vol->Is4D() || vol->IsROI() || GetModelName(model).IsEmpty()) return false;
  const DYNDIM kind = vol->GetDynType();
  const int axis = kind == DYN_UNKNOWN ? 1 << DYN_TIME : 1 << int(kind);
  if (!(GetAllowedDynDim(model) & axis)) return false;
  const int bit = modalityBit(vol->GetModality());
  return bit == 0 || (GetAllowedModality(model) & bit) != 0;
}

int CDynExp::NumOutputParms() const { return GetNumOutParms(currentModel); }

int CDynExp::NumReqOutputParms() const {
  int n = 0;
  for (int i = 0; i < NumOutputParms(); ++i)
    if (parmReq[i]) ++n;
  return n;
}

// --- input functions ---

bool CDynExp::LoadInputFunction(const wchar_t* path) {
  if (!path || !*path) return false;
  int slot = 0;
  while (slot < DYNEXP_NUM_INPUTFUNCS && !ifuncName[slot].IsEmpty()) ++slot;
  if (slot == DYNEXP_NUM_INPUTFUNCS) {
    twk::showNamedError(kLoadIf, L"All four input function slots are in use; delete one first");
    return false;
  }
  std::vector<double> times, values;
  CString name, problem;
  if (!VA_ReadCurveText(path, nullptr, &name, &times, &values, &problem)) {
    twk::showNamedError(kLoadIf, problem);
    return false;
  }
  if (name.IsEmpty()) name = PR_GetFileTitleName(CString(path));
  if (times.size() > size_t(INPUTFUNC_MAX_POINTS)) {
    twk::showNamedError(kLoadIf, CString(path) + L" : more than 20000 points");
    return false;
  }
  if (!times.empty() && times[0] < 0) {
    twk::showNamedError(kLoadIf, CString(path) + L" : times start at 0 or later");
    return false;
  }
  if (times.size() < 2) {
    twk::showNamedError(kLoadIf, CString(path) + L" : an input function needs at least two points");
    return false;
  }
  auto slotData = std::make_unique<INPUTFUNC>();
  slotData->count = int(times.size());
  std::copy(times.begin(), times.end(), slotData->times);
  std::copy(values.begin(), values.end(), slotData->values);
  ifunc[slot] = *slotData;
  ifuncName[slot] = name;
  return true;
}

// --- checks ---

bool CDynExp::VerifyAndChangeDefaultConcConv(const CVol* vol, int* mask) {
  if (!domain_) {
    twk::showNamedError(L"CDynExp::VerifyAndChangeDefaultConcConv", L"The kinetic model library is not loaded");
    return false;
  }
  if (!vol || !vol->frame || !vol->Is4D()) {
    twk::showNamedError(L"CDynExp::VerifyAndChangeDefaultConcConv", L"4D volume is required");
    return false;
  }
  const int allowed = modalityConcMask(vol->GetModality());
  if (mask) *mask = allowed;
  int both = allowed & GetAllowedConcConv(currentModel);
  if (!both) both = 1;
  int tissue = int(tissueConc.method), input = int(ifuncConc.method);
  VA_UpdateCurrentConc(both, &tissue);
  // The two-site exchange form describes tissue water only.
  VA_UpdateCurrentConc(both & ~(1 << 6), &input);
  tissueConc.method = uint32_t(tissue);
  ifuncConc.method = uint32_t(input);
  return true;
}

CString CDynExp::runProblem(int model, int mode, const CVol* vol, const FRAME* roi,
                            const VA_TISSUEATTRIB* attrib) const {
  if (!domain_) return L"The kinetic model library is not loaded";
  if (model < 0 || model >= GetNumModels() || GetModelName(model).IsEmpty()) return L"Unknown kinetic model";
  if (!vol || !vol->frame || vol->IsROI() || !vol->Is4D()) return L"4D volume is required";
  const DYNDIM kind = vol->GetDynType();
  if (!vol->dyn) return L"The volume has no dynamic coordinates";
  const int axisBit = kind == DYN_UNKNOWN ? 1 << DYN_TIME : 1 << int(kind);
  if (!(GetAllowedDynDim(model) & axisBit))
    return FmtStr(L"The model does not work along the dynamic dimension of the volume (%s)",
                  VA_DynDimName(kind));
  const int bit = modalityBit(vol->GetModality());
  if (bit && !(GetAllowedModality(model) & bit)) return L"The model does not suit the modality of the volume";
  const int nIf = GetNumRequiredIfuncs(model);
  const int need = nIf > 0 ? kMinPointsWithInput : kMinPoints;
  if (vol->T() < need) return FmtStr(L"The model needs at least %d time points; the volume has %d", need, vol->T());
  if (NumReqOutputParms() == 0 && model == currentModel && extrapolateTo_.empty())
    return L"At least one Output parameter is required";
  if ((mode == 1 || mode == 2 || mode == 3) && vol->T() > DIDU_MAX_POINTS)
    return L"Number of time points exceeds maximum";
  if (mode == 2 && !roi) return L"A ROI is required to process voxels inside ROIs";
  if (roi && (roi->type != FRM_ROI || roi->dim.w != vol->W() || roi->dim.h != vol->H() || roi->dim.d != vol->D()))
    return L"The ROI does not match the volume";

  // Input functions: each slot the model reads holds a curve that spans the acquisition.
  if (nIf > 0) {
    DynamicOrder order;
    if (!dynamicOrder(vol, &order)) return L"The volume has no dynamic coordinates";
    const double span = *std::max_element(order.times.begin(), order.times.end());
    for (int i = 0; i < nIf; ++i) {
      if (ifuncName[i].IsEmpty() || ifunc[i].count < 2)
        return FmtStr(L"The model needs %d input function(s); slot %d is empty", nIf, i + 1);
      const INPUTFUNC& f = ifunc[i];
      if (f.times[0] > 1e-9 * std::max(1.0, span) || f.times[f.count - 1] < span * (1 - 1e-9))
        return FmtStr(L"Input function %d (%s) covers %g to %g sec; the acquisition runs from 0 to %g sec", i + 1,
                      static_cast<const wchar_t*>(ifuncName[i]), f.times[0], f.times[f.count - 1], span);
    }
  }

  // Conversions.
  if (GetAllowedConcConv(model) != 0 && !(GetAllowedConcConv(model) >> tissueConc.method & 1))
    return L"The tissue concentration conversion is not allowed for this model";
  VA_CONCSETUP tissue{tissueConc, attrib ? attrib->t1 : -1.0, false};
  if (tissueConc.method == 5) tissue.t10 = bloodAttrib.t1;
  CString problem = VA_ConcConvProblem(tissue);
  if (!problem.IsEmpty()) return L"Tissue conversion: " + problem;
  if (nIf > 0) {
    if (ifuncConc.method == 6) return L"The water-exchange conversion applies to tissue only";
    const VA_CONCSETUP blood{ifuncConc, bloodAttrib.t1, true};
    problem = VA_ConcConvProblem(blood);
    if (!problem.IsEmpty()) return L"Input function conversion: " + problem;
  }
  return L"";
}

bool CDynExp::VerifyProcessing(int mode, const CVol* vol, CVol* const* rois, int count, bool regularised) {
  (void)regularised;
  if (mode == 2 && (count < 1 || !rois || !rois[0])) {
    twk::showNamedError(kVerify, L"A ROI is required to process voxels inside ROIs");
    return false;
  }
  // The tissue T1 is checked per curve, where the ROI's attributes are known.
  for (int i = 0; i < std::max(1, mode == 2 ? count : 1); ++i) {
    const FRAME* roi = mode == 2 && rois && rois[i] ? rois[i]->frame : nullptr;
    const CString problem = runProblem(currentModel, mode, vol, roi, nullptr);
    if (!problem.IsEmpty()) {
      twk::showNamedError(kVerify, problem);
      return false;
    }
  }
  return true;
}

// --- the fits ---

void CDynExp::GetIfuncConc(INPUTFUNC* dst) const {
  const VA_CONCSETUP blood{ifuncConc, bloodAttrib.t1, true};
  for (int i = 0; i < DYNEXP_NUM_INPUTFUNCS; ++i) {
    INPUTFUNC& f = dst[i];
    f.count = ifuncName[i].IsEmpty() ? 0 : std::clamp(ifunc[i].count, 0, INPUTFUNC_MAX_POINTS);
    std::copy_n(ifunc[i].times, f.count, f.times);
    if (!VA_SignalToConcentration(blood, ifunc[i].values, f.count, f.values)) std::copy_n(ifunc[i].values, f.count, f.values);
  }
}

double** CDynExp::CalculateDynamicExperiment(const CVol* vol, const FRAME* roi, const VA_TISSUEATTRIB* attrib,
                                             int model, int mode, double* fitCurve, double* intervals,
                                             FRAME** fitVolume, int flag) {
  (void)flag;
  if (fitVolume) *fitVolume = nullptr;
  if (mode < 1 || mode > 3) {
    twk::showNamedError(kCalculate, FmtStr(L"Unknown processing mode %d", mode));
    return nullptr;
  }
  if (model != currentModel && !SetCurrentModel(model)) {
    twk::showNamedError(kCalculate, L"Unknown kinetic model");
    return nullptr;
  }
  VA_TISSUEATTRIB noAttrib;
  const VA_TISSUEATTRIB& tissueAttrib = attrib ? *attrib : noAttrib;
  {
    const CString problem = runProblem(model, mode, vol, roi, &tissueAttrib);
    if (!problem.IsEmpty()) {
      twk::showNamedError(kCalculate, problem);
      return nullptr;
    }
  }
  DynamicOrder order;
  if (!dynamicOrder(vol, &order)) {
    twk::showNamedError(kCalculate, L"The volume has no dynamic coordinates");
    return nullptr;
  }
  const int n = vol->T();
  const int nReq = NumReqOutputParms();

  // The acquisition, the conversions and the settings go to the plug-in.
  pushSettingsToDomain();
  const double tr = tissueConc.tr > 0 ? tissueConc.tr : (vol->GetTR() != VOID_VALUE ? vol->GetTR() : 0.0);
  defineProfiles(domain_, vol, order, tr);
  VA_CONCSETUP tissue{tissueConc, tissueAttrib.t1, false};
  if (tissueConc.method == 5) tissue.t10 = bloodAttrib.t1;
  VA_PrepareSigToConcCallbacks(tissue);
  domain_->DIDU_SetTissue_SigToConc(VA_SigToConcCallback);
  domain_->DIDU_SetTissue_ConcToSig(VA_ConcToSigCallback);
  domain_->DIDU_SetCalcMode(mode);
  domain_->DIDU_SetGlobalTac(nullptr);

  // Input functions in concentration: the slots converted with the input-function record.
  std::unique_ptr<INPUTFUNC[]> inputs(new INPUTFUNC[DYNEXP_NUM_INPUTFUNCS]);
  GetIfuncConc(inputs.get());

  void* work = nullptr;
  ModelCycle cycle{domain_, model};
  if (!domain_->DIDU_ModelInit(model, inputs.get(), nullptr, &work)) {
    twk::showNamedError(kCalculate, L"The model could not be initialised for this acquisition");
    return nullptr;
  }
  cycle.open = true;

  if (mode == 3) {
    uint8_t* valid = nullptr;
    double* tac = VA_VolGetRoiTac(vol->frame, roi, &valid);
    pf_free(&valid);
    if (!tac) {
      twk::showNamedError(kCalculate, L"The mean curve could not be read");
      return nullptr;
    }
    std::vector<double> curve(static_cast<size_t>(n)), fit(static_cast<size_t>(n) + 1, VOID_VALUE);
    for (int k = 0; k < n; ++k) curve[size_t(k)] = tac[order.timeOf[size_t(k)]];
    pf_free(&tac);
    std::vector<DEMPOUT> out(size_t(std::max(nReq, 1)), DEMPOUT{VOID_VALUE, VOID_VALUE, VOID_VALUE, VOID_VALUE});
    const double* curves[1] = {curve.data()};
    domain_->DIDU_ComputeParmArray(model, curves, 1, fit.data(), out.data(), nullptr, 0);
    double** maps = newOutputs(nReq, 1);
    if (!maps) {
      twk::showNamedError(kCalculate, L"Not enough memory");
      return nullptr;
    }
    for (int j = 0; j < nReq; ++j) maps[j][0] = out[size_t(j)].value;
    if (fitCurve)
      for (int k = 0; k < n; ++k) fitCurve[order.timeOf[size_t(k)]] = fit[size_t(k)];
    if (intervals)
      for (int j = 0; j < nReq; ++j) {
        intervals[4 * j + 0] = out[size_t(j)].value;
        intervals[4 * j + 1] = out[size_t(j)].aux1;
        intervals[4 * j + 2] = out[size_t(j)].aux2;
        intervals[4 * j + 3] = out[size_t(j)].spare;
      }
    return maps;
  }

  // Modes 1 and 2: every voxel (inside the ROI), line by line in parallel. Extrapolation keeps the
  // model curves at the wanted values (the fit volume's time points) and no maps (one token buffer).
  const int w = vol->W(), h = vol->H(), depth = vol->D();
  const int64_t voxels = vol->NumVox();
  const bool extrapolating = !extrapolateTo_.empty();
  const int nExtra = int(extrapolateTo_.size());
  std::vector<double> wanted = extrapolateTo_;
  const int nMaps = extrapolating ? std::max(nReq, 1) : nReq;
  double** maps = newOutputs(nMaps, extrapolating ? 1 : voxels);
  FRAME* fits = nullptr;
  if (maps && fitVolume) fits = VA_VolCreateUniform(FRM_REAL, vol->tdim(extrapolating ? nExtra : n), VOID_VALUE);
  if (!maps || (fitVolume && !fits)) {
    pf_free_parr(&maps, nMaps);
    PR_FrameDelete(&fits);
    twk::showNamedError(kCalculate, L"Not enough memory for the output maps");
    return nullptr;
  }

  // Models with a vicinity radius receive, after each voxel's curve, the curves of the voxels of the
  // same slice within that radius (a square, clipped to the slice; voxels outside the ROI count too).
  const int radius = std::clamp(domain_->DIDU_GetCalcVicRad(model), 0, std::max(w, h));
  const int64_t lines = int64_t(h) * depth;
  std::atomic<int64_t> done{0};
  std::atomic<bool> stop{false};
  const std::thread::id mainThread = std::this_thread::get_id();
  twk::ProgressGuard progress(L"Parametric map calculation", true);
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 1), [&](const tbb::blocked_range<int64_t>& range) {
    std::vector<double> rows(size_t(w) * n), fit(size_t(std::max(n, nExtra)) + 1);
    std::vector<DEMPOUT> out(size_t(std::max(nReq, 1)));
    // With a radius: the curves of lines y - radius .. y + radius, and the curve list of one voxel.
    std::vector<double> block(radius > 0 ? size_t(std::min(2 * radius + 1, h)) * w * n : 0);
    std::vector<const double*> near;
    for (int64_t line = range.begin(); line != range.end(); ++line) {
      if (stop.load(std::memory_order_relaxed) || progress.Stopped()) {
        stop = true;
        return;
      }
      const int y = int(line % h), z = int(line / h);
      const uint8_t* inside = roi ? twk::frameLine(roi, y, z, 0) : nullptr;
      bool any = !inside;
      for (int x = 0; inside && x < w && !any; ++x) any = twk::getBit(inside, x);
      const int y0 = std::max(0, y - radius), y1 = std::min(h - 1, y + radius);
      bool read = any && readCurves(vol->frame, y, z, order.timeOf, rows.data());
      for (int j = y0; read && radius > 0 && j <= y1; ++j)
        read = readCurves(vol->frame, j, z, order.timeOf, block.data() + int64_t(j - y0) * w * n);
      if (read) {
        for (int x = 0; x < w; ++x) {
          if (inside && !twk::getBit(inside, x)) continue;
          near.assign(1, rows.data() + int64_t(x) * n);
          for (int j = y0; radius > 0 && j <= y1; ++j)
            for (int i = std::max(0, x - radius); i <= std::min(w - 1, x + radius); ++i)
              if (i != x || j != y) near.push_back(block.data() + (int64_t(j - y0) * w + i) * n);
          const double* const* curves = near.data();
          const int nCurves = int(near.size());
          if (extrapolating) {
            domain_->DIDU_ComputeParmArray(model, curves, nCurves, fit.data(), out.data(), wanted.data(), nExtra);
            if (fits)
              for (int k = 0; k < nExtra; ++k) reinterpret_cast<double*>(twk::frameLine(fits, y, z, k))[x] = fit[size_t(k)];
            continue;
          }
          domain_->DIDU_ComputeParmArray(model, curves, nCurves, fits ? fit.data() : nullptr, out.data(), nullptr, 0);
          const int64_t v = (int64_t(z) * h + y) * w + x;
          for (int j = 0; j < nReq; ++j) maps[j][v] = out[size_t(j)].value;
          if (fits)
            for (int k = 0; k < n; ++k)
              reinterpret_cast<double*>(twk::frameLine(fits, y, z, order.timeOf[size_t(k)]))[x] = fit[size_t(k)];
        }
      }
      const int64_t finished = done.fetch_add(1) + 1;
      if (std::this_thread::get_id() == mainThread && !progress.Step(finished, lines)) {
        stop = true;
        return;
      }
    }
  });
  if (stop || progress.Stopped()) {
    pf_free_parr(&maps, nMaps);
    PR_FrameDelete(&fits);
    return nullptr;
  }
  if (fitVolume) *fitVolume = fits;
  return maps;
}

// --- extrapolation ---

CVol* CDynExp::VolExtrapolateModel(const CVol* vol, const FRAME* roi, const VA_TISSUEATTRIB* attrib, int model,
                                   const wchar_t* text) {
  constexpr const wchar_t* kExtrapolate = L"CDynExp::VolExtrapolateModel";
  if (!domain_) {
    twk::showNamedError(kExtrapolate, L"The kinetic model library is not loaded");
    return nullptr;
  }
  if (!ExtrapolateEnabled(model)) {
    twk::showNamedError(kExtrapolate, L"The model does not extrapolate");
    return nullptr;
  }
  double* values = nullptr;
  int count = 0;
  if (!text || !PR_ExtractDoubles(text, &values, &count) || count < 1) {
    pf_free(&values);
    twk::showNamedError(kExtrapolate, L"Enter at least one value to extrapolate to");
    return nullptr;
  }
  if (count > DIDU_MAX_POINTS) {
    pf_free(&values);
    twk::showNamedError(kExtrapolate, L"Number of time points exceeds maximum");
    return nullptr;
  }
  extrapolateTo_.assign(values, values + count);
  pf_free(&values);
  FRAME* fits = nullptr;
  double** maps = CalculateDynamicExperiment(vol, roi, attrib, model, roi ? 2 : 1, nullptr, nullptr, &fits, 0);
  const std::vector<double> wanted = std::move(extrapolateTo_);
  extrapolateTo_.clear();
  if (!maps) return nullptr;
  pf_free_parr(&maps, std::max(NumReqOutputParms(), 1));
  CVol* out = vol->CloneByReformat(&fits, nullptr, nullptr, nullptr, true);
  if (!out) {
    PR_FrameDelete(&fits);
    return nullptr;
  }
  // The wanted values are the new volume's coordinates along the source's dynamic axis.
  const DYNDIM kind = vol->GetDynType();
  for (int k = 0; k < count; ++k) {
    DYNCRD& c = out->dyn[k];
    const double v = wanted[size_t(k)];
    switch (kind) {
      case DYN_BVALUE: c.bValue = v; break;
      case DYN_ECHO_TIME: c.echoTime = v; break;
      case DYN_INVERSION_TIME: c.inversionTime = v; break;
      case DYN_FLIP_ANGLE: c.flipAngle = v; break;
      case DYN_SPINLOCK_TIME: c.spinLockTime = v; break;
      default: c.time = c.timeEnd = v; break;
    }
  }
  return out;
}
