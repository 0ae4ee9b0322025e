#pragma once
// The opened kinetic-model plug-in of a CDynExp: the library handle and every DIDU_* export of
// KinmodelsApi.h, resolved by name when the library is opened. The host calls the plug-in only
// through this table.

#include "CString.h"
#include "KinmodelsApi.h"

// Every export the host resolves, in the order they are looked up.
#define TWK_DIDU_EXPORTS(X)                                                                                     \
  X(DIDU_GetDomainName) X(DIDU_GetNumModels) X(DIDU_GetModelName) X(DIDU_SetCurrentModel)                       \
  X(DIDU_GetCurrentModel) X(DIDU_SetCurrentModelByName) X(DIDU_GetNumOutParms) X(DIDU_GetOutParmName)            \
  X(DIDU_GetOutParmUnits) X(DIDU_GetDefaultClrScheme) X(DIDU_GetNumFreeParms) X(DIDU_GetFreeParmName)            \
  X(DIDU_DefaultFreeParms) X(DIDU_SetFreeParms) X(DIDU_GetFreeParms) X(DIDU_GetNumIfuncs) X(DIDU_GetIFpanelName) \
  X(DIDU_GetAllowedConcConv) X(DIDU_GetAllowedDynDim) X(DIDU_GetAllowedModality) X(DIDU_GetAllowedOptimization)  \
  X(DIDU_SetCurrentOptimization) X(DIDU_GetCurrentOptimization) X(DIDU_GetPreprocessTasks)                       \
  X(DIDU_ExtrapolateEnabled) X(DIDU_GetCalcVicRad) X(DIDU_ModelOutputFitCurve) X(DIDU_SetParmReq)                \
  X(DIDU_GetParmReq) X(DIDU_DefineTimeProfile) X(DIDU_DefineEchoTmsProfile) X(DIDU_DefineBfactorProfile)         \
  X(DIDU_DefineFlipAngleProfile) X(DIDU_DefineRepetitionTimeProfile) X(DIDU_DefineTSLProfile)                    \
  X(DIDU_DefineInvTmsProfile) X(DIDU_SetTR) X(DIDU_SetNoiseLev) X(DIDU_SetFlipAngle) X(DIDU_SetGlobalTac)        \
  X(DIDU_SetTissue_SigToConc) X(DIDU_SetTissue_ConcToSig) X(DIDU_SetCalcMode) X(DIDU_SetCallbacks)               \
  X(DIDU_ModelInit) X(DIDU_ComputeParmArray) X(DIDU_ModelClose) X(DIDU_ModelAutoTest)

struct DynExpDomain {
  void* handle = nullptr;
#define TWK_DIDU_MEMBER(name) decltype(&::name) name = nullptr;
  TWK_DIDU_EXPORTS(TWK_DIDU_MEMBER)
#undef TWK_DIDU_MEMBER
};

// Opens the plug-in file and resolves every export; null on failure. A file that cannot be opened
// is reported when show is set (prefix "CDynExp::LoadDomain"); the first missing export is always
// reported, by PR_GetProcAddress ("Loading DLL: unable to locate " + name), and the library is
// closed again.
DynExpDomain* TW_OpenDynExpDomain(const CString& path, bool show);
// Closes the library and frees the table; *domain becomes null.
void TW_CloseDynExpDomain(DynExpDomain** domain);
