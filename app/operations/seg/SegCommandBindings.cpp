// The segmentation rows of the command table: EdgeWave and its variants, the thresholds to ROI and
// the detectors, with the parameter records their rows pass. A row without an active set ends as
// the operation always did without one: silently, or with the operation's message.
#include <string>

#include "AtlasSplitOperation.h"
#include "BimodalSplitOperation.h"
#include "CommandTable.h"
#include "DetectorOperations.h"
#include "DocMessages.h"
#include "DrawSet.h"
#include "EdgeWaveDialog.h"
#include "EdgeWaveLive.h"
#include "EdgeWaveOperations.h"
#include "FilterDialogs.h"
#include "KineticModelHost.h"
#include "MagTraceDialog.h"
#include "OrganOperations.h"
#include "RidgeDialog.h"
#include "SplitThreshold.h"
#include "ThresholdOperations.h"
#include "VesselMapOperation.h"

namespace seg = twk::seg;

TW_COMMAND_BINDINGS(seg_operations) {
  TW_RegisterPreset("g_EdgeWaveParms", &g_EdgeWaveParms);
  TW_BindOperation("CDrawSet::EdgeWave", [](const TW_COMMAND_CALL& c) {
    if (!c.set || !c.set->IsVolumeSet()) {
      twk::doc::message(L"CDrawSet::EdgeWave", L"No suitable volume is present or enabled");
      return;
    }
    seg::EdgeWave(*c.set, c.Flag(0), c.Flag(1), c.view, c.Record<VA_EW>(3));
  });
  TW_BindOperation("CDrawSet::EdgeWaveML", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(L"CDrawSet::EdgeWaveML", L"At least two enabled ROIs are required");
      return;
    }
    seg::EdgeWaveML(*c.set, c.Flag(1));
  });
  TW_BindOperation("CDrawSet::EdgeWaveNLargest", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(nullptr, L"Operand is not present");
      return;
    }
    seg::EdgeWaveNLargest(*c.set, c.view);
  });
  // The thresholds name their missing operand.
  TW_BindOperation("CDrawSet::ThesholdToROI", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(L"CDrawSet::ThesholdToROI", L"Integer or Real volume is required");
      return;
    }
    seg::ThesholdToROI(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::ThesholdToROI_SignalToGradRatio", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(L"CDrawSet::ThesholdToROI_SignalToGradRatio", L"Integer or Real volume is required");
      return;
    }
    seg::ThesholdToROI_SignalToGradRatio(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::LocalOtzuThresholdToROI", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(L"CDrawSet::LocalOtzuThresholdToROI", L"Integer or Real volume is required");
      return;
    }
    seg::LocalOtzuThresholdToROI(*c.set, c.view);
  });
  TW_RegisterPreset("g_RidgeParms", &g_RidgeParms);
  TW_BindOperation("CDrawSet::SegmentRidges", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(L"CDrawSet::SegmentRidges", L"3D volume is required");
      return;
    }
    seg::SegmentRidges(*c.set, c.Flag(0), c.Record<VA_RIDGEPARM>(1), c.Flag(2));
  });
  // Both spot rows pass the same constant; the item itself gives the polarity.
  TW_BindOperation("CDrawSet::DetectSpots", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(L"CDrawSet::DetectSpots", L"3D volume is required");
      return;
    }
    const bool bright = c.row && std::string(c.row->path).find("bright") != std::string::npos;
    seg::DetectSpots(*c.set, bright);
  });
  // "Split ROI with Threshold > using initial Threshold" (0) and "using Low Portion" (1): "A" above,
  // "B" below, in the set's next ROI colour and its complement.
  TW_BindOperation("TW_DlgSplitThr", [](const TW_COMMAND_CALL& c) {
    if (!c.set || !c.set->IsVolumeSet()) return;
    TW_SplitByThreshold(c.set, nullptr, c.Int(0) == 1 ? 1 : 0, &g_SplitThrValue, L"A", L"B", 0xFFFFFFFFu, 0xFFFFFFFFu,
                        c.view);
  });
  TW_BindOperation("CDrawSet::ThresholdBimodalHistSplit", [](const TW_COMMAND_CALL& c) {
    if (!c.set) {
      twk::doc::message(nullptr, L"Operand is not present");
      return;
    }
    seg::ThresholdBimodalHistSplit(*c.set, c.view);
  });
  // "EdgeWave-Live with Single Seed and Constraint ROI": the dialog's "N3  Options" edits with the
  // N3 dialog of the filter commands.
  TW_RegisterPreset("g_EdgeWaveLiveParms", &g_EWLParms);
  TW_SetEdgeWaveLiveN3Dialog([](VA_N3PARM* record) { return TW_DlgN3(record); });
  TW_BindOperation("CDrawSet::EdgeWaveLive", [](const TW_COMMAND_CALL& c) {
    TW_EdgeWaveLive(c.set, c.view, c.Record<VA_EWL>(1), c.Text(2));
  });
  // The MagTrace settings and the tool's application presets (the type is the first argument).
  TW_BindOperation("TW_DlgMagPoly", [](const TW_COMMAND_CALL& c) {
    if (VA_MAGTRACE* record = c.Record<VA_MAGTRACE>(1)) TW_DlgMagPoly(c.view, record);
  });
  TW_BindOperation("TW_MagtracePresetParms", [](const TW_COMMAND_CALL& c) { TW_MagtracePresetParms(c.Int(0)); });
  // The label-map split and the organ recipes end silently without a set.
  TW_BindOperation("CDrawSet::AtlasSplit", [](const TW_COMMAND_CALL& c) {
    if (c.set) seg::AtlasSplit(*c.set);
  });
  TW_BindOperation("CDrawSet::DetectCartilage", [](const TW_COMMAND_CALL& c) {
    if (c.set) seg::DetectCartilage(*c.set);
  });
  TW_BindOperation("CDrawSet::Pancreas_MeasurementAlongCentralAxis", [](const TW_COMMAND_CALL& c) {
    if (c.set) seg::Pancreas_MeasurementAlongCentralAxis(*c.set);
  });
  TW_BindOperation("CDrawSet::SegmentHeartCT", [](const TW_COMMAND_CALL& c) {
    if (c.set) seg::SegmentHeartCT(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::CurrentSliceStructureGraph", [](const TW_COMMAND_CALL& c) {
    if (c.set) seg::CurrentSliceStructureGraph(*c.set, c.view);
  });
  // The blood-vessel map takes the input functions of the program's kinetic-model host.
  TW_BindOperation("CDrawSet::SegmentVesselMap", [](const TW_COMMAND_CALL& c) {
    if (c.set) seg::SegmentVesselMap(*c.set, TW_DynExpHost());
  });
  TW_BindOperation("TW_AllDocumentsMeanOverRois", [](const TW_COMMAND_CALL&) { seg::AllDocumentsMeanOverRois(); });
  TW_BindOperation("TW_AllDocumentsIrregularity2D", [](const TW_COMMAND_CALL&) { seg::AllDocumentsIrregularity2D(); });
  // "Brain segmentation profile": the dialog on the brain profile without spacing or seeds.
  TW_BindOperation("CDlgEdgeWave", [](const TW_COMMAND_CALL&) {
    TW_DlgEdgeWave(false, nullptr, nullptr, 0, nullptr, 0, &g_EdgeWaveBrain);
  });
}
