// The menu rows of the registration, transform and comparison operations, and the services the
// registration engine installs.
#include "CommandTable.h"
#include "DrawSet.h"
#include "OperationHelpers.h"
#include "RegistrationOperations.h"
#include "registration/TransformFiles.h"

void TW_InstallRegistrationServices() {
  TW_SetTransformFileWriter([](const wchar_t* path, int kind, const DIM3D* dims, const SPC* spacing,
                               const DIM3D* targetDims, const SPC* targetSpacing, const double transform[16]) {
    return VTF_Save(path, kind, dims, spacing, targetDims, targetSpacing, transform, false);
  });
}

void TW_RemoveRegistrationServices() { TW_SetTransformFileWriter(nullptr); }

TW_COMMAND_BINDINGS(registration_operations) {
  TW_InstallRegistrationServices();
  TW_BindOperation("CDrawSet::SingleMeasurement", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SingleMeasurement(c.view, c.Int(1));
  });
  TW_BindOperation("CDrawSet::MeasureTVTable", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->MeasureTVTable();
  });
  TW_BindOperation("CDrawSet::AffineTransformByVTF", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->AffineTransformByVTF();
  });
  TW_BindOperation("CDrawSet::FlowFieldTransformByFFF", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->FlowFieldTransformByFFF();
  });
  TW_BindOperation("CDrawSet::FitPlaneToLandmarks", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->FitPlaneToLandmarks(c.view);
  });
  TW_BindOperation("CDrawSet::Register3D_WithInitPoints", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Register3D_WithInitPoints(c.view, c.Flag(1), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::RegisterByDicomTags", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->RegisterByDicomTags(c.Flag(0), c.Flag(1), nullptr, c.Flag(3), c.Flag(4));
  });
}
