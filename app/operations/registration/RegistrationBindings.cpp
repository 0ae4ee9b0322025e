// The menu rows of the registration, transform and comparison operations, and the services the
// registration engine installs.
#include "CommandTable.h"
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

TW_COMMAND_BINDINGS(registration_operations) { TW_InstallRegistrationServices(); }
