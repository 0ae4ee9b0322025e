// The menu rows of the geometry and dynamic-series operations: each row's operation bound to the
// set's operation with the row's constant arguments, and the rotation records the rows pass. A row
// without an active set (or document) does nothing.
#include "CommandTable.h"
#include "DynamicOperations.h"
#include "GeometryDialogs.h"
#include "GeometryOperations.h"

namespace geo = twk::geometry;

TW_COMMAND_BINDINGS(geometry_operations) {
  TW_RegisterPreset("g_RotateParms", &g_RotateParms);
  TW_RegisterPreset("g_RotateOrthoParms", &g_RotateOrthoParms);
  TW_BindOperation("CDrawSet::SetVolumeOrientation", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::SetVolumeOrientation(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::RotateVolumeOrtho", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::RotateVolumeOrtho(*c.set, c.Flag(0), c.Record<VA_ROT>(1), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::ChangeResolution", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::ChangeResolution(*c.set);
  });
  TW_BindOperation("CDrawSet::MirrorVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::MirrorVolume(*c.set, c.Int(0));
  });
  TW_BindOperation("CDrawSet::Rotate", [](const TW_COMMAND_CALL& c) {
    if (!c.set) return;
    const CString suffix = c.IsNull(4) ? CString() : c.Text(4);
    geo::Rotate(*c.set, c.Flag(0), c.view, c.Record<VOLROTATEPARM>(2), c.Int(3),
                c.IsNull(4) ? nullptr : (const wchar_t*)suffix, nullptr, c.Flag(6));
  });
  TW_BindOperation("CDrawSet::MakeIsotropic", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::MakeIsotropic(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::PadVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::PadVolume(*c.set);
  });
  TW_BindOperation("CDrawSet::CropByROI", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::CropByROI(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::SetImagePositionOrientation", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::SetImagePositionOrientation(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::DiscardAlignment", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::DiscardAlignment(*c.set);
  });
  TW_BindOperation("CDrawSet::LoadLandmarkFile", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::LoadLandmarkFile(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::TranslateUsingLineGuide", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::TranslateUsingLineGuide(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::RotateUsingLineGuides", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::RotateUsingLineGuides(*c.set, c.view);
  });
  // Dynamic series.
  TW_BindOperation("CDrawSet::SUVmapCalculation", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::SUVmapCalculation(*c.set);
  });
  TW_BindOperation("CDrawSet::DynSubtractionVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::DynSubtractionVolume(*c.set);
  });
  TW_BindOperation("CDrawSet::AggregateDynamicPoints", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::AggregateDynamicPoints(*c.set, c.Int(0));
  });
  TW_BindOperation("TW_ConvertDocumentLayersTo4D", [](const TW_COMMAND_CALL& c) {
    if (c.doc) geo::ConvertDocumentLayersTo4D(*c.doc);
  });
  TW_BindOperation("CDrawSet::Cross4DMutualInfoOverRoi", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::Cross4DMutualInfoOverRoi(*c.set, c.Int(0));
  });
  TW_BindOperation("CDrawSet::DynamicAccumulate", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::DynamicAccumulate(*c.set, c.Int(0), c.Flag(1));
  });
  TW_BindOperation("CDrawSet::Volume4DtoPCA", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::Volume4DtoPCA(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::VolumeTimeToDepth", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::VolumeTimeToDepth(*c.set);
  });
  TW_BindOperation("CDrawSet::VolumeDepthToTime", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::VolumeDepthToTime(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::CropEmptyAreas", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::CropEmptyAreas(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::Play4D", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::Play4D(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::ExtrapolateMultiechoToTE0", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::ExtrapolateMultiechoToTE0(*c.set);
  });
  TW_BindOperation("CDrawSet::RestoreIvimResidualMap", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::RestoreIvimResidualMap(*c.set);
  });
  TW_BindOperation("CDrawSet::AdvanceToTimepointOfVroiPeak", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::AdvanceToTimepointOfVroiPeak(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::Basic4Dgradient", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::Basic4Dgradient(*c.set);
  });
  TW_BindOperation("CDrawSet::ImageGradientAverageOverTime", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::ImageGradientAverageOverTime(*c.set, c.view);
  });
  TW_RegisterPreset("g_UralGradParms", &g_UralGradParms);
  TW_BindOperation("CDrawSet::BPEmapAnalysisAndReport", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::BPEmapAnalysisAndReport(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::AggregateGrad4D", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::AggregateGrad4D(*c.set);
  });
  TW_BindOperation("CDrawSet::LoadMatlabLayer", [](const TW_COMMAND_CALL& c) {
    if (c.set) geo::LoadMatlabLayer(*c.set);
  });
}
