// The command rows of the filter, smoothing and noise operations. A row without an active set ends
// as the operation always did without one: silently, or with the operation's message.
#include "BiasFieldOperations.h"
#include "BicalBatch.h"
#include "CommandTable.h"
#include "DenoiseOperations.h"
#include "DocMessages.h"
#include "FeatureOperations.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "FilterOperations.h"
#include "RadiomicsOperations.h"
#include "TwkUi.h"

namespace fo = twk::filterops;

TW_COMMAND_BINDINGS(filter_operations) {
  TW_BindOperation("CDrawSet::SmoothVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::SmoothVolume(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::SingleVolConstrainedSmooth", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      fo::Named(L"CDrawSet::SingleVolConstrainedSmooth", L"No suitable volume is present or enabled");
      return;
    }
    fo::SingleVolConstrainedSmooth(*c.set);
  });
  TW_BindOperation("CDrawSet::ConstrainedSmooth", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      fo::Named(L"CDrawSet::ConstrainedSmooth", L"No suitable volume is present or enabled");
      return;
    }
    fo::ConstrainedSmooth(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::RoiSmoothShape", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(nullptr, L"Operand is not present");
      return;
    }
    fo::RoiSmoothShape(*c.set);
  });
  // The four noise commands: the estimator is the row's constant.
  TW_BindOperation("CVol::MeasureNoise", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::MeasureNoise(*c.set, c.view, c.Int(0));
  });
  TW_BindOperation("CDrawSet::N4BiasCorrection", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::N4BiasCorrection(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::VolProc_N3", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::VolProc_N3(*c.set, c.view, c.Flag(1));
  });
  TW_BindOperation("PerformBicalBatch", [](const TW_COMMAND_CALL&) {
    if (TW_DlgBicalBatch(&g_BicalBatchParms)) PerformBicalBatch(&g_BicalBatchParms);
  });
  TW_BindOperation("CDrawSet::Bical", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::Bical(*c.set, c.Int(0), c.Record<VA_BICALZF>(1));
  });
  TW_RegisterPreset("g_BicalParms", &g_BicalParms);
  TW_RegisterPreset("g_BicalBreastFgtParms", &g_BicalBreastFgtParms);
  TW_BindOperation("CDrawSet::NLMdenoising", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::NLMdenoising(*c.set);
  });
  TW_BindOperation("CDrawSet::TSMdenoising", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::TSMdenoising(*c.set);
  });
  TW_BindOperation("CDrawSet::STSMdenoising", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::STSMdenoising(*c.set);
  });
  TW_BindOperation("CDrawSet::ModelBasedTSMdenoising", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::ModelBasedTSMdenoising(*c.set);
  });
  TW_BindOperation("CDrawSet::ComplexTSMdenoising", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::messageBox(L"Operand is not present", MB_OK | MB_ICONERROR);
      return;
    }
    fo::ComplexTSMdenoising(*c.set);
  });
  TW_BindOperation("CDrawSet::Incoherence2Map", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::Incoherence2Map(*c.set);
  });
  TW_BindOperation("CDrawSet::Radiomics2Dfeatures", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::Radiomics2Dfeatures(*c.set, c.Flag(0), c.view, c.Flag(2));
  });
  TW_BindOperation("CDrawSet::OutputParamMapNtupleFile", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::OutputParamMapNtupleFile(*c.set);
  });
  TW_BindOperation("CDrawSet::ProjectionSnapshot", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::ProjectionSnapshot(*c.set, c.view);
  });
  // Rows: unused, Tomasi (true) or basic (false), points (true) or the response map.
  TW_BindOperation("CDrawSet::ProduceFeatureMap", [](const TW_COMMAND_CALL& c) {
    if (c.set) fo::ProduceFeatureMap(*c.set, c.Flag(1) ? 1 : 0, c.Flag(2));
  });
}
