// The menu rows of the registration, transform and comparison operations, and the view command
// that saves a layer's alignment as a transform file.
#include "RegistrationBindings.h"

#include "CommandTable.h"
#include "DrawSet.h"
#include "LandmarkOperations.h"
#include "LandmarkRegistration.h"
#include "MeasureOperations.h"
#include "TransformOperations.h"

void TW_InstallRegistrationServices() {
  TW_BindOperation("CDrawView::OnTransformSaveAlignmentVTF", [](const TW_COMMAND_CALL& c) {
    if (c.view) twk::registration::OnTransformSaveAlignmentVTF(*c.view);
  });
}

void TW_RemoveRegistrationServices() { TW_UnbindOperation("CDrawView::OnTransformSaveAlignmentVTF"); }

TW_COMMAND_BINDINGS(registration_operations) {
  TW_InstallRegistrationServices();
  TW_BindOperation("CDrawSet::SingleMeasurement", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::SingleMeasurement(*c.set, c.view, c.Int(1));
  });
  TW_BindOperation("CDrawSet::MeasureTVTable", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::MeasureTVTable(*c.set);
  });
  TW_BindOperation("CDrawSet::AffineTransformByVTF", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::AffineTransformByVTF(*c.set, g_VtfTransformTask);
  });
  TW_BindOperation("CDrawSet::FlowFieldTransformByFFF", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::FlowFieldTransformByFFF(*c.set, g_FlowFieldTransformTask);
  });
  TW_BindOperation("CDrawSet::FitPlaneToLandmarks", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::FitPlaneToLandmarks(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::Register3D_WithInitPoints", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::Register3D_WithInitPoints(*c.set, c.view, c.Flag(1), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::RegisterByDicomTags", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::registration::RegisterByDicomTags(*c.set, c.Flag(0), c.Flag(1), nullptr, c.Flag(3), c.Flag(4));
  });
}
