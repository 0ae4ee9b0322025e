#include "DynExp.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "DynExpDomain.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"

namespace {

constexpr const wchar_t* kLoadDomain = L"CDynExp::LoadDomain";
// The plug-in reports at most 11 free parameters per model; a larger count is not trusted.
constexpr int kFreeParmBuffer = 64;

// Folders of desktop-style paths are separated by '\'; a desktop library name "X.dll" that is
// not present stands for "libX.so" in the same folder.
CString pluginFile(const wchar_t* path) {
  CString file(path);
  file.Replace(L'\\', L'/');
  if (PR_FileExists(file) || PR_GetFileExt(file).CompareNoCase(L"dll") != 0) return file;
  CString folder = PR_GetFileFolder(file);
  CString linuxName = L"lib" + PR_GetFileTitleName(file) + L".so";
  CString candidate = folder.IsEmpty() ? linuxName : PR_JoinPath(folder, linuxName);
  return PR_FileExists(candidate) ? candidate : file;
}

}  // namespace

DynExpDomain* TW_OpenDynExpDomain(const CString& path, bool show) {
  void* handle = dlopen(twk::pathToNative(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (show) twk::showNamedError(kLoadDomain, L"Unable to load " + path + L" : " + CString(dlerror()));
    return nullptr;
  }
  auto* domain = new DynExpDomain;
  domain->handle = handle;
  const char* missing = nullptr;
#define TWK_DIDU_RESOLVE(name)                                                         \
  if (!missing) {                                                                       \
    domain->name = reinterpret_cast<decltype(domain->name)>(PR_GetProcAddress(handle, #name)); \
    if (!domain->name) missing = #name;                                                 \
  }
  TWK_DIDU_EXPORTS(TWK_DIDU_RESOLVE)
#undef TWK_DIDU_RESOLVE
  // PR_GetProcAddress has reported the missing export ("Loading DLL: unable to locate " + name).
  if (missing) {
    TW_CloseDynExpDomain(&domain);
    return nullptr;
  }
  return domain;
}

void TW_CloseDynExpDomain(DynExpDomain** domain) {
  if (!domain || !*domain) return;
  if ((*domain)->handle) dlclose((*domain)->handle);
  delete *domain;
  *domain = nullptr;
}

CDynExp::CDynExp() = default;

CDynExp::~CDynExp() { releaseDomain(); }

// A copy is a host without settings that takes the other's, its own plug-in reference included.
CDynExp::CDynExp(const CDynExp& other) { *this = other; }

CDynExp& CDynExp::operator=(const CDynExp& other) {
  if (this == &other) return *this;
  // The copy opens its own reference first, so that a failure leaves this host as it was.
  DynExpDomain* domain = other.domain_ ? TW_OpenDynExpDomain(other.domainPath_, false) : nullptr;
  releaseDomain();
  domain_ = domain;
  domainPath_ = domain ? other.domainPath_ : CString();
  currentModel = other.currentModel;
  std::memcpy(parmReq, other.parmReq, sizeof parmReq);
  models = other.models;
  tissueConc = other.tissueConc;
  ifuncConc = other.ifuncConc;
  bloodAttrib = other.bloodAttrib;
  std::memcpy(ifunc, other.ifunc, sizeof ifunc);
  for (int i = 0; i < DYNEXP_NUM_INPUTFUNCS; ++i) ifuncName[i] = other.ifuncName[i];
  for (int i = 0; i < DYNEXP_NUM_OUTPUTS; ++i) {
    outPath[i] = other.outPath[i];
    outName[i] = other.outName[i];
    outUnits[i] = other.outUnits[i];
  }
  return *this;
}

void CDynExp::releaseDomain() {
  TW_CloseDynExpDomain(&domain_);
  domainPath_.Empty();
}

bool CDynExp::LoadDomain(const wchar_t* path) {
  releaseDomain();
  if (!path || !*path) {
    twk::showNamedError(kLoadDomain, L"No kinetic model library is given");
    return false;
  }
  const CString file = pluginFile(path);
  domain_ = TW_OpenDynExpDomain(file, true);
  if (!domain_) return false;
  domainPath_ = file;

  // Take over the plug-in's settings: the catalogue's defaults on a first load.
  takeSettingsFromDomain();
  return true;
}

void CDynExp::takeSettingsFromDomain() {
  if (!domain_) return;
  const int n = std::clamp(domain_->DIDU_GetNumModels(), 0, DYNEXP_MAX_MODELS);
  models.assign(size_t(n), DYNEXP_MODELSET{});
  double values[kFreeParmBuffer];
  for (int m = 0; m < n; ++m) {
    DYNEXP_MODELSET& set = models[size_t(m)];
    const int count = domain_->DIDU_GetNumFreeParms(unsigned(m));
    if (count > 0 && count <= kFreeParmBuffer && domain_->DIDU_GetFreeParms(m, values)) {
      set.numFreeParms = std::min(count, DYNEXP_MAX_FREE_PARMS);
      std::copy_n(values, set.numFreeParms, set.freeParms);
    }
    set.optimization = domain_->DIDU_GetCurrentOptimization(unsigned(m), &set.grid, &set.iterations);
  }
  currentModel = domain_->DIDU_GetCurrentModel();
  domain_->DIDU_GetParmReq(parmReq, DYNEXP_NUM_OUTPUTS);
}

int CDynExp::GetNumModels() const { return domain_ ? int(models.size()) : 0; }

void CDynExp::pushSettingsToDomain() const {
  if (!domain_) return;
  const int n = std::min(int(models.size()), std::clamp(domain_->DIDU_GetNumModels(), 0, DYNEXP_MAX_MODELS));
  for (int m = 0; m < n; ++m) {
    const DYNEXP_MODELSET& set = models[size_t(m)];
    // Free parameters go over only when they fit the catalogue's count for the model.
    const int count = domain_->DIDU_GetNumFreeParms(unsigned(m));
    if (count > 0 && count == set.numFreeParms) domain_->DIDU_SetFreeParms(m, set.freeParms);
    domain_->DIDU_SetCurrentOptimization(unsigned(m), set.optimization, set.grid, set.iterations);
  }
  domain_->DIDU_SetCurrentModel(currentModel);
  domain_->DIDU_SetParmReq(parmReq, DYNEXP_NUM_OUTPUTS);
}

bool CDynExp::SetCurrentModel(int model) {
  if (!domain_ || model < 0 || model >= int(models.size())) return false;
  currentModel = model;
  domain_->DIDU_SetCurrentModel(model);
  return true;
}

bool CDynExp::GetFreeParms(int model, double* dst) const {
  if (!dst || model < 0 || model >= int(models.size())) return false;
  const DYNEXP_MODELSET& set = models[size_t(model)];
  std::copy_n(set.freeParms, DYNEXP_MAX_FREE_PARMS, dst);
  return true;
}

bool CDynExp::SetFreeParms(int model, const double* values) {
  if (!values || model < 0 || model >= int(models.size())) return false;
  DYNEXP_MODELSET& set = models[size_t(model)];
  std::copy_n(values, set.numFreeParms, set.freeParms);
  if (domain_ && set.numFreeParms > 0) domain_->DIDU_SetFreeParms(model, set.freeParms);
  return true;
}

int CDynExp::GetCurrentOptimization(int model, int* grid, int* iterations) const {
  if (model < 0 || model >= int(models.size())) return -1;
  const DYNEXP_MODELSET& set = models[size_t(model)];
  if (grid) *grid = set.grid;
  if (iterations) *iterations = set.iterations;
  return set.optimization;
}

bool CDynExp::SetCurrentOptimization(int model, int method, int grid, int iterations) {
  if (model < 0 || model >= int(models.size())) return false;
  DYNEXP_MODELSET& set = models[size_t(model)];
  set.optimization = method;
  set.grid = grid;
  set.iterations = iterations;
  if (domain_) domain_->DIDU_SetCurrentOptimization(unsigned(model), method, grid, iterations);
  return true;
}

void CDynExp::SetParmReq(const int* flags, int n) {
  std::fill(std::begin(parmReq), std::end(parmReq), 0);
  if (flags && n > 0) std::copy_n(flags, std::min(n, DYNEXP_NUM_OUTPUTS), parmReq);
  if (domain_) domain_->DIDU_SetParmReq(parmReq, DYNEXP_NUM_OUTPUTS);
}

void CDynExp::GetParmReq(int* flags, int n) const {
  if (!flags || n <= 0) return;
  std::fill_n(flags, n, 0);
  std::copy_n(parmReq, std::min(n, DYNEXP_NUM_OUTPUTS), flags);
}

int CDynExp::NumberIfuncs() const {
  int n = 0;
  for (const CString& name : ifuncName)
    if (!name.IsEmpty()) ++n;
  return n;
}

bool CDynExp::ClearInputFunctions() {
  std::memset(ifunc, 0, sizeof ifunc);
  for (CString& name : ifuncName) name.Empty();
  return true;
}
