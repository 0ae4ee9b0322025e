// A stand-in of the network library with the entries that start-up resolves. Built three times:
// complete, without TWKANN_TrainBreastYnet2D (TWKANN_STUB_WITHOUT_YNET2D), and with an
// initialisation that fails (TWKANN_STUB_INIT_FAILS).
#define STUB_ENTRY(name) \
  extern "C" __attribute__((visibility("default"))) int name() { return 0; }

extern "C" __attribute__((visibility("default"))) bool TWKANN_InitLib(bool) {
#ifdef TWKANN_STUB_INIT_FAILS
  return false;
#else
  return true;
#endif
}

STUB_ENTRY(TWKANN_TestSGD)
STUB_ENTRY(TWKANN_PrepareTraining_BinarySegmentCommonBoundRect)
STUB_ENTRY(TWKANN_PrepareTraining_BinarySegmentMinBoundRect)
STUB_ENTRY(TWKANN_PrepareTraining_BRUNET2D_Binary)
STUB_ENTRY(TWKANN_TrainUnet3DwSftMax)
STUB_ENTRY(TWKANN_TrainUnetPI3DwSftMax)
STUB_ENTRY(TWKANN_TrainBreastXnet2D)
#ifndef TWKANN_STUB_WITHOUT_YNET2D
STUB_ENTRY(TWKANN_TrainBreastYnet2D)
#endif
STUB_ENTRY(TWKANN_TrainBRUNET2D_FlexDim)
STUB_ENTRY(TWKANN_BRUNET2D_SegmentationTmsAsCat)
