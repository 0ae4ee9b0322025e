#include "TwkAnnLoader.h"

#include <dlfcn.h>

#include "MainFrame.h"
#include "ProgressPump.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"

namespace {

TW_TWKANN g_twkAnn;

}  // namespace

TW_TWKANN& TW_TwkAnn() { return g_twkAnn; }

bool TW_LoadTwkANN() {
  TW_SetWaitCursor(true);
  twk::ProgressGuard progress(L"Loading TwkANN.dll", true);
  CString folder;
  TW_GetProgramFolder(&folder);
  const CString path = PR_JoinPath(folder, TW_TWKANN_FILE);
  bool ok = false;
  void* module = PR_FileExists(path) ? dlopen(path.toUtf8().c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
  if (module) {
    TW_TWKANN entries;
    // Resolved in this order; the first missing one stops the chain (PR_GetProcAddress has told the
    // user its name) and none of them is kept.
    void** entryAddresses[] = {reinterpret_cast<void**>(&entries.InitLib),
                      &entries.TestSGD,
                      &entries.PrepareTraining_BinarySegmentCommonBoundRect,
                      &entries.PrepareTraining_BinarySegmentMinBoundRect,
                      &entries.PrepareTraining_BRUNET2D_Binary,
                      &entries.TrainUnet3DwSftMax,
                      &entries.TrainUnetPI3DwSftMax,
                      &entries.TrainBreastXnet2D,
                      &entries.TrainBreastYnet2D,
                      &entries.TrainBRUNET2D_FlexDim,
                      &entries.BRUNET2D_SegmentationTmsAsCat};
    const char* names[] = {"TWKANN_InitLib",
                           "TWKANN_TestSGD",
                           "TWKANN_PrepareTraining_BinarySegmentCommonBoundRect",
                           "TWKANN_PrepareTraining_BinarySegmentMinBoundRect",
                           "TWKANN_PrepareTraining_BRUNET2D_Binary",
                           "TWKANN_TrainUnet3DwSftMax",
                           "TWKANN_TrainUnetPI3DwSftMax",
                           "TWKANN_TrainBreastXnet2D",
                           "TWKANN_TrainBreastYnet2D",
                           "TWKANN_TrainBRUNET2D_FlexDim",
                           "TWKANN_BRUNET2D_SegmentationTmsAsCat"};
    static_assert(sizeof(entryAddresses) / sizeof(entryAddresses[0]) == 11 && sizeof(names) / sizeof(names[0]) == 11);
    bool complete = true;
    for (size_t i = 0; i < 11 && complete; ++i) {
      *entryAddresses[i] = PR_GetProcAddress(module, names[i]);
      complete = *entryAddresses[i] != nullptr;
    }
    if (!complete) {
      dlclose(module);
    } else {
      entries.module = module;
      g_twkAnn = entries;
      if (g_twkAnn.InitLib(true)) {
        ok = true;
      } else {
        twk::showNamedError(L"TW_LoadTwkANN", L"Loaded but unable to initialize TwkANN library");
        g_twkAnn.module = nullptr;  // the library stays loaded but is not used
      }
    }
  }
  TW_SetWaitCursor(false);
  progress.End();
  return ok;
}
