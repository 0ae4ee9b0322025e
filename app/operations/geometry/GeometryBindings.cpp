// The menu rows of the geometry and dynamic-series operations: each row's operation bound to the
// set's operation with the row's constant arguments, and the rotation records the rows pass.
#include "CommandTable.h"
#include "DrawSet.h"
#include "GeometryDialogs.h"
#include "GeometryOperations.h"

TW_COMMAND_BINDINGS(geometry_operations) {
  TW_RegisterPreset("g_RotateParms", &g_RotateParms);
  TW_RegisterPreset("g_RotateOrthoParms", &g_RotateOrthoParms);
  TW_BindOperation("CDrawSet::SetVolumeOrientation", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SetVolumeOrientation(c.view);
  });
  TW_BindOperation("CDrawSet::RotateVolumeOrtho", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->RotateVolumeOrtho(c.Flag(0), c.Record<VA_ROT>(1), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::ChangeResolution", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->ChangeResolution();
  });
  TW_BindOperation("CDrawSet::MirrorVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->MirrorVolume(c.Int(0));
  });
  TW_BindOperation("CDrawSet::Rotate", [](const TW_COMMAND_CALL& c) {
    if (!c.set) return;
    const CString suffix = c.IsNull(4) ? CString() : c.Text(4);
    c.set->Rotate(c.Flag(0), c.view, c.Record<VOLROTATEPARM>(2), c.Int(3), c.IsNull(4) ? nullptr : (const wchar_t*)suffix,
                  nullptr, c.Flag(6));
  });
  TW_BindOperation("CDrawSet::MakeIsotropic", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->MakeIsotropic(c.view);
  });
  TW_BindOperation("CDrawSet::PadVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->PadVolume();
  });
  TW_BindOperation("CDrawSet::CropByROI", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->CropByROI(c.view);
  });
  TW_BindOperation("CDrawSet::SetImagePositionOrientation", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SetImagePositionOrientation(c.Flag(0));
  });
  TW_BindOperation("CDrawSet::DiscardAlignment", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->DiscardAlignment();
  });
  TW_BindOperation("CDrawSet::LoadLandmarkFile", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->LoadLandmarkFile(c.view);
  });
  TW_BindOperation("CDrawSet::TranslateUsingLineGuide", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->TranslateUsingLineGuide(c.view);
  });
  TW_BindOperation("CDrawSet::RotateUsingLineGuides", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->RotateUsingLineGuides(c.view);
  });
  // Dynamic series.
  TW_BindOperation("CDrawSet::SUVmapCalculation", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SUVmapCalculation();
  });
  TW_BindOperation("CDrawSet::DynSubtractionVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->DynSubtractionVolume();
  });
  TW_BindOperation("CDrawSet::AggregateDynamicPoints", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->AggregateDynamicPoints(c.Int(0));
  });
  TW_BindOperation("TW_ConvertDocumentLayersTo4D", [](const TW_COMMAND_CALL& c) { TW_ConvertDocumentLayersTo4D(c.doc); });
  TW_BindOperation("CDrawSet::Cross4DMutualInfoOverRoi", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Cross4DMutualInfoOverRoi(c.Int(0));
  });
  TW_BindOperation("CDrawSet::DynamicAccumulate", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->DynamicAccumulate(c.Int(0), c.Flag(1));
  });
  TW_BindOperation("CDrawSet::Volume4DtoPCA", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Volume4DtoPCA(c.Flag(0));
  });
  TW_BindOperation("CDrawSet::VolumeTimeToDepth", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->VolumeTimeToDepth();
  });
  TW_BindOperation("CDrawSet::VolumeDepthToTime", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->VolumeDepthToTime(c.view);
  });
  TW_BindOperation("CDrawSet::CropEmptyAreas", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->CropEmptyAreas(c.view);
  });
  TW_BindOperation("CDrawSet::Play4D", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Play4D(c.view);
  });
  TW_BindOperation("CDrawSet::ExtrapolateMultiechoToTE0", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->ExtrapolateMultiechoToTE0();
  });
  TW_BindOperation("CDrawSet::RestoreIvimResidualMap", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->RestoreIvimResidualMap();
  });
  TW_BindOperation("CDrawSet::AdvanceToTimepointOfVroiPeak", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->AdvanceToTimepointOfVroiPeak(c.view);
  });
  TW_BindOperation("CDrawSet::Basic4Dgradient", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Basic4Dgradient();
  });
  TW_BindOperation("CDrawSet::ImageGradientAverageOverTime", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->ImageGradientAverageOverTime(c.view);
  });
  TW_RegisterPreset("g_UralGradParms", &g_UralGradParms);
  TW_BindOperation("CDrawSet::BPEmapAnalysisAndReport", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->BPEmapAnalysisAndReport(c.Flag(0));
  });
  TW_BindOperation("CDrawSet::AggregateGrad4D", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->AggregateGrad4D();
  });
  TW_BindOperation("CDrawSet::LoadMatlabLayer", [](const TW_COMMAND_CALL& c) { TW_LoadMatlabLayer(c.set); });
}
