// The rows of the view's menus that export and convert layers and merge series: File's DICOM and
// image saves, Volume's DICOM tags, type conversions and mosaic split, and the VIBE\GRASP merge.
// The operations themselves live with the layer set (app/files).
#include "CommandTable.h"
#include "DrawSet.h"

TW_COMMAND_BINDINGS(layer_commands) {
  TW_BindOperation("CDrawSet::SaveDicomData", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SaveDicomData();
  });
  TW_BindOperation("CDrawSet::SaveActiveLayer_DicomFolders", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SaveActiveLayer_DicomFolders();
  });
  TW_BindOperation("CDrawSet::SaveActiveVolumeToRAW", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SaveActiveVolumeToRAW();
  });
  // The row's argument is the DICOM tag (group and element) to rewrite: TR, TE or the flip angle.
  TW_BindOperation("CDrawSet::SetDicomTag", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SetDicomTag(c.Int(0));
  });
  TW_BindOperation("CDrawSet::SiVolumeToParamMap", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->SiVolumeToParamMap();
  });
  TW_BindOperation("CDrawSet::VolumeConversion_REALtoINT", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->VolumeConversion_REALtoINT(c.Int(0), c.Flag(1));
  });
  TW_BindOperation("CDrawSet::RoiToIntegerLayer", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->RoiToIntegerLayer();
  });
  TW_BindOperation("CDrawSet::Convert2DmosaicToVolume", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->Convert2DmosaicToVolume(c.Flag(0));
  });
  TW_BindOperation("CDrawSet::ConcatenateVibeGrasp", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->ConcatenateVibeGrasp();
  });
}
