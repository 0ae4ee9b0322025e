// The menu rows of the ROI operations: each row's operation bound to the set's operation, with the
// row's constant arguments, and the peel and grow records the rows pass.
#include "CommandTable.h"
#include "DrawSet.h"
#include "RoiRecords.h"
#include "ops/BodyForeground.h"

TW_COMMAND_BINDINGS(roi_operations) {
  TW_RegisterPreset("g_RoiPeelParms", &g_RoiPeelParms);
  TW_RegisterPreset("g_RoiGrowParms", &g_RoiGrowParms);
  // In place.
  TW_BindOperation("CDrawSet::RoiExtractMaxCC", [](const TW_COMMAND_CALL& c) {
    CDrawSet::RoiExtractMaxCC(c.set, c.view, c.Flag(1), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::RoiFillContours2D", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiFillContours2D(c.set); });
  TW_BindOperation("CDrawSet::RoiPeelGrow", [](const TW_COMMAND_CALL& c) {
    if (ROIPEELGROW* record = c.Record<ROIPEELGROW>(2)) CDrawSet::RoiPeelGrow(c.set, c.Flag(1), record);
  });
  TW_BindOperation("CDrawSet::RoiMakeConvex2D", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiMakeConvex2D(c.set); });
  TW_BindOperation("CDrawSet::RoiFillContoursArcMorph",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiFillContoursArcMorph(c.set); });
  TW_BindOperation("CDrawSet::RoiMorphConvex",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiMorphConvex(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::RoiRemoveSaltPepper",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiRemoveSaltPepper(c.set); });
  TW_BindOperation("CDrawSet::RoiUnionCylinder2D", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiUnionCylinder2D(c.set); });
  TW_BindOperation("CDrawSet::RoiIntersectCylinder2D",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiIntersectCylinder2D(c.set); });
  // Derived layers.
  TW_BindOperation("CDrawSet::RoiExtractHoles3D", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiExtractHoles3D(c.set); });
  TW_BindOperation("CDrawSet::RoiConvert3Dto4D",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiConvert3Dto4D(c.set, c.view); });
  TW_BindOperation("CDrawSet::RoiSkeleton",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiSkeleton(c.set, c.view, c.Int(1)); });
  // Signal layers with an ROI.
  TW_BindOperation("CDrawSet::BandOfAverageSignal",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::BandOfAverageSignal(c.set); });
  TW_BindOperation("CDrawSet::LinearConversionOverROI",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::LinearConversionOverROI(c.set); });
  TW_BindOperation("CDrawSet::NormalizeByROI", [](const TW_COMMAND_CALL& c) { CDrawSet::NormalizeByROI(c.set, c.view); });
  TW_BindOperation("CDrawSet::VolumeClipByRoi", [](const TW_COMMAND_CALL& c) { CDrawSet::VolumeClipByRoi(c.set); });
  TW_BindOperation("CDrawSet::NodVolume", [](const TW_COMMAND_CALL& c) { CDrawSet::NodVolume(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::InvertActiveLayer", [](const TW_COMMAND_CALL& c) { CDrawSet::InvertActiveLayer(c.set); });
  // Label maps, components and several layers.
  TW_BindOperation("CDrawSet::RoiSplitComponentsToLayers",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiSplitComponentsToLayers(c.set); });
  TW_BindOperation("CDrawSet::CreateLabelMapFromROIs",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::CreateLabelMapFromROIs(c.set); });
  TW_BindOperation("CDrawSet::AverageRoiLayers", [](const TW_COMMAND_CALL& c) { CDrawSet::AverageRoiLayers(c.set); });
  TW_BindOperation("CDrawSet::RoiOnionPeel", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiOnionPeel(c.set, nullptr); });
  TW_BindOperation("CDrawSet::SharpenTemplateUsingAtlas",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::SharpenTemplateUsingAtlas(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::CombineProbMapsToAtlas",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::CombineProbMapsToAtlas(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::VolMultilayerPCA",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::VolMultilayerPCA(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::GenerateTwoLayerJointHist",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::GenerateTwoLayerJointHist(c.set); });
  TW_BindOperation("CDrawSet::RoiUnclumpComponents",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiUnclumpComponents(c.set, c.Flag(0), c.Int(1)); });
  // The view and vector ROIs.
  TW_BindOperation("CDrawSet::RoiOptimalZoom",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiOptimalZoom(c.set, c.view); });
  TW_BindOperation("CDrawSet::RoiEncloseCCByVectRois",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiEncloseCCByVectRois(c.set, c.view); });
  // Shapes.
  TW_BindOperation("CDrawSet::DetectBodyMask", [](const TW_COMMAND_CALL& c) {
    if (VA_BODYFORG* record = c.Record<VA_BODYFORG>(2)) CDrawSet::DetectBodyMask(c.set, c.Flag(0), c.view, record);
  });
  TW_BindOperation("CDrawSet::RoiClearSlicesZ0Z1",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiClearSlicesZ0Z1(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::RoiPeelGrowExternal",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiPeelGrowExternal(c.set); });
  TW_BindOperation("CDrawSet::MultipleZonesConcentricObjects",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::MultipleZonesConcentricObjects(c.set); });
  TW_BindOperation("CDrawSet::MorphologyCloseContours2D",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::MorphologyCloseContours2D(c.set); });
  // Measurements.
  TW_BindOperation("CDrawSet::RoiMassCenterDistance",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiMassCenterDistance(c.set); });
  TW_BindOperation("CDrawSet::MeasureDICE_SelectSlices",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::MeasureDICE_SelectSlices(c.set, c.view); });
  TW_BindOperation("CDrawSet::RoiHausdorffDistance",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiHausdorffDistance(c.set, c.Flag(0)); });
  TW_BindOperation("CDrawSet::RoiSplitUsingHist",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiSplitUsingHist(c.set, c.view); });
  TW_BindOperation("CDrawSet::RoiRingProfiles", [](const TW_COMMAND_CALL& c) { CDrawSet::RoiRingProfiles(c.set); });
  TW_BindOperation("CDrawSet::RoiSurfaceWaveDistance",
                   [](const TW_COMMAND_CALL& c) { CDrawSet::RoiSurfaceWaveDistance(c.set, c.Flag(0), c.Flag(1)); });
}
