#pragma once
// The network library TwkANN, loaded by path at the end of start-up: "libTwkANN.so" in the program
// folder (the desktop build loads "TwkANN.dll" from its folder). Its absence is silent. Its eleven
// entries are resolved by name in a fixed order; the first one missing is reported once ("Loading
// DLL: unable to locate " and its name) and the library is unloaded again. With all entries found,
// TWKANN_InitLib (true) must succeed, else "Loaded but unable to initialize TwkANN library" is shown
// and the library counts as absent (it stays loaded). The library is never unloaded otherwise.
//
// The network commands test the module handle before they call an entry; the entries other than
// TWKANN_InitLib are kept untyped until the commands that call them come.

#include "CString.h"

struct TW_TWKANN {
  void* module = nullptr;  // null while the library is absent, incomplete or not initialised
  bool (*InitLib)(bool useGpu) = nullptr;
  void* TestSGD = nullptr;
  void* PrepareTraining_BinarySegmentCommonBoundRect = nullptr;
  void* PrepareTraining_BinarySegmentMinBoundRect = nullptr;
  void* PrepareTraining_BRUNET2D_Binary = nullptr;
  void* TrainUnet3DwSftMax = nullptr;
  void* TrainUnetPI3DwSftMax = nullptr;
  void* TrainBreastXnet2D = nullptr;
  void* TrainBreastYnet2D = nullptr;
  void* TrainBRUNET2D_FlexDim = nullptr;
  void* BRUNET2D_SegmentationTmsAsCat = nullptr;
};

// The loaded library (module null when it is not usable).
TW_TWKANN& TW_TwkAnn();

// The file name looked for in the program folder.
constexpr const wchar_t* TW_TWKANN_FILE = L"libTwkANN.so";

// Loads the library from the program folder (TW_GetProgramFolder); true when it is loaded and
// initialised.
bool TW_LoadTwkANN();
