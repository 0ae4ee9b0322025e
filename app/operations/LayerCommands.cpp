// The rows of the view's menus that export and convert layers and merge series: File's DICOM and
// image saves, Volume's DICOM tags, type conversions and mosaic split, and the VIBE\GRASP merge.
// The operations themselves live with the document files (app/files).
#include "CommandTable.h"
#include "LayerConversions.h"
#include "LayerExport.h"
#include "LayerMerge.h"

TW_COMMAND_BINDINGS(layer_commands) {
  TW_BindOperation("CDrawSet::SaveDicomData", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::SaveDicomData(*c.set);
  });
  TW_BindOperation("CDrawSet::SaveActiveLayer_DicomFolders", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::SaveActiveLayer_DicomFolders(*c.set);
  });
  TW_BindOperation("CDrawSet::SaveActiveVolumeToRAW", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::SaveActiveVolumeToRAW(*c.set);
  });
  // The row's argument is the DICOM tag (group and element) to rewrite: TR, TE or the flip angle.
  TW_BindOperation("CDrawSet::SetDicomTag", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::SetDicomTag(*c.set, c.Int(0));
  });
  TW_BindOperation("CDrawSet::SiVolumeToParamMap", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::SiVolumeToParamMap(*c.set);
  });
  TW_BindOperation("CDrawSet::VolumeConversion_REALtoINT", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::VolumeConversion_REALtoINT(*c.set, c.Int(0), c.Flag(1));
  });
  TW_BindOperation("CDrawSet::RoiToIntegerLayer", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::RoiToIntegerLayer(*c.set);
  });
  TW_BindOperation("CDrawSet::Convert2DmosaicToVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::Convert2DmosaicToVolume(*c.set, c.Flag(0));
  });
  TW_BindOperation("CDrawSet::ConcatenateVibeGrasp", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::ConcatenateVibeGrasp(*c.set);
  });
}
