// The menu rows of the ROI operations: each row's operation bound to the family's operation on the
// view's active set, with the row's constant arguments, and the peel and grow records the rows
// pass. Without an active set a row says what the operation's operand check says then ("Operand
// is not present" for most), or nothing.
#include <memory>

#include "CommandTable.h"
#include "DocMessages.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "MultiLayerOperations.h"
#include "RoiContourOperations.h"
#include "RoiDerived.h"
#include "RoiLabelMapOperations.h"
#include "RoiMeasurements.h"
#include "RoiOperationFrame.h"
#include "RoiOperations.h"
#include "RoiRecords.h"
#include "RoiShapeOperations.h"
#include "RoiSignalOperations.h"
#include "RoiStatisticsOperation.h"
#include "RoiViewOperations.h"
#include "ops/BodyForeground.h"

using namespace twk::roiops;

namespace {

// The view's active set; without one "Operand is not present" (the ROI operand check's message).
CDrawSet* setOrOperandMissing(const TW_COMMAND_CALL& c) {
  if (!c.set) RoiOperand(nullptr);
  return c.set;
}

// The view's active set; without one "Volumetric Entity is required" (the operand rule's message).
CDrawSet* setOrVolumeRequired(const TW_COMMAND_CALL& c) {
  if (!c.set) CDrawSet::WorkVolROI(nullptr, nullptr);
  return c.set;
}

// The view's active set; without one the operation's own "Two ROIs are required".
CDrawSet* setOrTwoRois(const TW_COMMAND_CALL& c, const wchar_t* operation) {
  if (!c.set) Named(operation, L"Two ROIs are required");
  return c.set;
}

}  // namespace

TW_COMMAND_BINDINGS(roi_operations) {
  TW_RegisterPreset("g_RoiPeelParms", &g_RoiPeelParms);
  TW_RegisterPreset("g_RoiGrowParms", &g_RoiGrowParms);
  // In place.
  TW_BindOperation("CDrawSet::RoiExtractMaxCC", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiExtractMaxCC(*set, c.view, c.Flag(1), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::RoiFillContours2D", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiFillContours2D(*set);
  });
  TW_BindOperation("CDrawSet::RoiPeelGrow", [](const TW_COMMAND_CALL& c) {
    if (ROIPEELGROW* record = c.Record<ROIPEELGROW>(2))
      if (CDrawSet* set = setOrOperandMissing(c)) RoiPeelGrow(*set, c.Flag(1), *record);
  });
  TW_BindOperation("CDrawSet::RoiMakeConvex2D", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiMakeConvex2D(*set);
  });
  TW_BindOperation("CDrawSet::RoiFillContoursArcMorph", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiFillContoursArcMorph(*set);
  });
  TW_BindOperation("CDrawSet::RoiMorphConvex", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiMorphConvex(*set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::RoiRemoveSaltPepper", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiRemoveSaltPepper(*set);
  });
  TW_BindOperation("CDrawSet::RoiUnionCylinder2D", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiUnionCylinder2D(*set);
  });
  TW_BindOperation("CDrawSet::RoiIntersectCylinder2D", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiIntersectCylinder2D(*set);
  });
  // Derived layers.
  TW_BindOperation("CDrawSet::RoiExtractHoles3D", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiExtractHoles3D(*c.set);
  });
  TW_BindOperation("CDrawSet::RoiConvert3Dto4D", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiConvert3Dto4D(*set, c.view);
    else Named(L"CDrawSet::RoiConvert3Dto4D", L"3D ROI is required");
  });
  TW_BindOperation("CDrawSet::RoiSkeleton", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiSkeleton(*c.set, c.view, c.Int(1));
  });
  // Signal layers with an ROI.
  TW_BindOperation("CDrawSet::BandOfAverageSignal", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) BandOfAverageSignal(*set);
  });
  TW_BindOperation("CDrawSet::LinearConversionOverROI", [](const TW_COMMAND_CALL& c) {
    if (c.set) LinearConversionOverROI(*c.set);
  });
  TW_BindOperation("CDrawSet::NormalizeByROI", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) NormalizeByROI(*set, c.view);
  });
  TW_BindOperation("CDrawSet::VolumeClipByRoi", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) VolumeClipByRoi(*set);
  });
  TW_BindOperation("CDrawSet::NodVolume", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) NodVolume(*set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::InvertActiveLayer", [](const TW_COMMAND_CALL& c) {
    if (c.set) InvertActiveLayer(*c.set);
  });
  // Label maps, components and several layers.
  TW_BindOperation("CDrawSet::RoiSplitComponentsToLayers", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrVolumeRequired(c)) RoiSplitComponentsToLayers(*set);
  });
  TW_BindOperation("CDrawSet::CreateLabelMapFromROIs", [](const TW_COMMAND_CALL& c) {
    if (c.set) CreateLabelMapFromROIs(*c.set);
  });
  TW_BindOperation("CDrawSet::AverageRoiLayers", [](const TW_COMMAND_CALL& c) {
    if (c.set) AverageRoiLayers(*c.set);
  });
  TW_BindOperation("CDrawSet::RoiOnionPeel", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiOnionPeel(*c.set, nullptr);
  });
  TW_BindOperation("CDrawSet::SharpenTemplateUsingAtlas", [](const TW_COMMAND_CALL& c) {
    if (c.set) SharpenTemplateUsingAtlas(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::CombineProbMapsToAtlas", [](const TW_COMMAND_CALL& c) {
    if (c.set) CombineProbMapsToAtlas(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::VolMultilayerPCA", [](const TW_COMMAND_CALL& c) {
    if (c.set) VolMultilayerPCA(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::GenerateTwoLayerJointHist", [](const TW_COMMAND_CALL& c) {
    if (c.set) GenerateTwoLayerJointHist(*c.set);
  });
  TW_BindOperation("CDrawSet::RoiUnclumpComponents", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrVolumeRequired(c)) RoiUnclumpComponents(*set, c.Flag(0), c.Int(1));
  });
  // The view and vector ROIs.
  TW_BindOperation("CDrawSet::RoiOptimalZoom", [](const TW_COMMAND_CALL& c) {
    if (c.set) {
      RoiOptimalZoom(*c.set, c.view);
      return;
    }
    // Without a set the zoom still names its missing ROI and redraws its view.
    RoiOperand(nullptr);
    Named(L"CDrawSet::RoiOptimalZoom", L"ROI is not present or enabled");
    if (c.view) c.view->InvalidateClient();
  });
  TW_BindOperation("CDrawSet::RoiEncloseCCByVectRois", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiEncloseCCByVectRois(*set, c.view);
  });
  // Shapes.
  TW_BindOperation("CDrawSet::DetectBodyMask", [](const TW_COMMAND_CALL& c) {
    if (VA_BODYFORG* record = c.Record<VA_BODYFORG>(2))
      if (c.set) DetectBodyMask(*c.set, c.Flag(0), c.view, *record);
  });
  TW_BindOperation("CDrawSet::RoiClearSlicesZ0Z1", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiClearSlicesZ0Z1(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::RoiPeelGrowExternal", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiPeelGrowExternal(*c.set);
  });
  TW_BindOperation("CDrawSet::MultipleZonesConcentricObjects", [](const TW_COMMAND_CALL& c) {
    if (c.set) MultipleZonesConcentricObjects(*c.set);
  });
  TW_BindOperation("CDrawSet::MorphologyCloseContours2D", [](const TW_COMMAND_CALL& c) {
    if (c.set) MorphologyCloseContours2D(*c.set);
  });
  // Measurements.
  TW_BindOperation("CDrawSet::RoiMassCenterDistance", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrTwoRois(c, L"CDrawSet::RoiMassCenterDistance")) RoiMassCenterDistance(*set);
  });
  // The command keeps the slice range last entered for as long as the program runs (shared by the
  // copies of the handler that each dispatch runs).
  TW_BindOperation("CDrawSet::MeasureDICE_SelectSlices",
                   [range = std::make_shared<DiceSliceRange>()](const TW_COMMAND_CALL& c) {
                     if (CDrawSet* set = setOrTwoRois(c, L"CDrawSet::MeasureDICE_SelectSlices"))
                       MeasureDICE_SelectSlices(*set, c.view, *range);
                   });
  TW_BindOperation("CDrawSet::RoiHausdorffDistance", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrTwoRois(c, L"CDrawSet::RoiHausdorffDistance")) RoiHausdorffDistance(*set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::RoiSplitUsingHist", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiSplitUsingHist(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::RoiRingProfiles", [](const TW_COMMAND_CALL& c) {
    if (c.set) RoiRingProfiles(*c.set);
  });
  TW_BindOperation("CDrawSet::RoiSurfaceWaveDistance", [](const TW_COMMAND_CALL& c) {
    if (CDrawSet* set = setOrOperandMissing(c)) RoiSurfaceWaveDistance(*set, c.Flag(0), c.Flag(1));
  });
}
