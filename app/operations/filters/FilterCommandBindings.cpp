// The command rows of the filter, smoothing and noise operations.
#include "BicalBatch.h"
#include "CommandTable.h"
#include "DrawSet.h"
#include "FilterDialogs.h"

TW_COMMAND_BINDINGS(filter_operations) {
  TW_BindOperation("CDrawSet::SmoothVolume", [](const TW_COMMAND_CALL& c) { CDrawSet::SmoothVolume(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::SingleVolConstrainedSmooth",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::SingleVolConstrainedSmooth(c.set); });
  TW_BindOperation("CDrawSet::ConstrainedSmooth",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::ConstrainedSmooth(c.set, c.view); });
  TW_BindOperation("CDrawSet::RoiSmoothShape", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiSmoothShape(c.set); });
  // The four noise commands: the estimator is the row's constant.
  TW_BindOperation("CVol::MeasureNoise",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::MeasureNoise(c.set, c.view, c.Int(0)); });
  TW_BindOperation("CDrawSet::N4BiasCorrection",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::N4BiasCorrection(c.set, c.view); });
  TW_BindOperation("CDrawSet::VolProc_N3",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::VolProc_N3(c.set, c.view, c.Flag(1)); });
  TW_BindOperation("PerformBicalBatch", [](const TW_COMMAND_CALL&) {
    if (TW_DlgBicalBatch(&g_BicalBatchParms)) PerformBicalBatch(&g_BicalBatchParms);
  });
  TW_BindOperation("CDrawSet::Bical", [](const TW_COMMAND_CALL& c) {
    CDrawSet::Bical(c.set, c.Int(0), c.Record<VA_BICALZF>(1));
  });
  TW_RegisterPreset("g_BicalParms", &g_BicalParms);
  TW_RegisterPreset("g_BicalBreastFgtParms", &g_BicalBreastFgtParms);
  TW_BindOperation("CDrawSet::NLMdenoising", [](const TW_COMMAND_CALL& c) { CDrawSet::NLMdenoising(c.set); });
  TW_BindOperation("CDrawSet::TSMdenoising", [](const TW_COMMAND_CALL& c) { CDrawSet::TSMdenoising(c.set); });
  TW_BindOperation("CDrawSet::STSMdenoising", [](const TW_COMMAND_CALL& c) { CDrawSet::STSMdenoising(c.set); });
  TW_BindOperation("CDrawSet::ModelBasedTSMdenoising",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::ModelBasedTSMdenoising(c.set); });
  TW_BindOperation("CDrawSet::ComplexTSMdenoising",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::ComplexTSMdenoising(c.set); });
  TW_BindOperation("CDrawSet::Incoherence2Map", [](const TW_COMMAND_CALL& c) { CDrawSet::Incoherence2Map(c.set); });
  TW_BindOperation("CDrawSet::Radiomics2Dfeatures", [](const TW_COMMAND_CALL& c) {
    CDrawSet::Radiomics2Dfeatures(c.set, c.Flag(0), c.view, c.Flag(2));
  });
  TW_BindOperation("CDrawSet::OutputParamMapNtupleFile",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::OutputParamMapNtupleFile(c.set); });
  TW_BindOperation("CDrawSet::ProjectionSnapshot",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::ProjectionSnapshot(c.set, c.view); });
  // Rows: unused, Tomasi (true) or basic (false), points (true) or the response map.
  TW_BindOperation("CDrawSet::ProduceFeatureMap", [](const TW_COMMAND_CALL& c) {
    CDrawSet::ProduceFeatureMap(c.set, c.Flag(1) ? 1 : 0, c.Flag(2));
  });
}
