#pragma once
// USEROPT, the user-interface options every part of the program reads: interpolation switches,
// view conventions, remembered folders, extensions and file types of the pickers, the temporary
// work folder, the document background colour and the visual style. The program holds one record;
// everything reads it through TW_Options(), and the few places that change it (the options file at
// start-up and exit, the options dialog, the pickers' remembered folders) through TW_EditOptions().

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

struct USEROPT {
  uint8_t dicomCompress = 0;            // DICOM compression on save
  int32_t visualStyle = 0;              // 0..4
  uint32_t docBackgroundColor = 0xC06060;
  uint8_t interpVols = 1;
  uint8_t interpRois = 0;
  uint8_t interpPmaps = 1;              // real volumes (parametric maps)
  uint8_t interpFilmView = 0;
  uint8_t displayOrient = 1;            // patient orientation letters
  uint8_t loadDmdbFromTwk = 1;          // dynamic-modelling settings from documents
  int32_t imageOpenLayout = 0;          // 0..2
  int32_t projViewConvention = 1;       // 0..2
  int32_t volCursor = 1;                // 0..1
  uint8_t autoTile = 1;
  uint8_t verifyModality = 0;           // ask for a missing modality
  int32_t defaultInterpolation = 1;     // 0..4
  int32_t toolbarAlign = 2;             // 0..3
  uint8_t compressDicomInTwk = 1;
  int32_t rawLoadFilterInx = 0, rawSave4DFilterInx = 0, rawSave3DFilterInx = 0;
  int32_t twkLoadFilterInx = 0, twkSaveFilterInx = 0;
  CString rawLoadExt, rawSave3DExt, rawSave4DExt, twkLoadExt, twkSaveExt;
  uint8_t undoEnabled = 1;              // not stored in the file; on after every start
  CString rawLoadFolder, rawSave3DFolder, rawSave4DFolder, twkLoadFolder, twkSaveFolder;
  CString dcmLoadFolder, tacLoadFolder, vroiLoadFolder, vtfFolder, tempFolder, currentWorkFolder;
  CString deidentifySourceFolder;       // not stored in the file
};

// The program's options, to read.
const USEROPT& TW_Options();
// The same record, to change.
USEROPT& TW_EditOptions();

// Sets every member to its default; the document filter indices keep their values.
void TW_SetUserOptionDefaults(USEROPT* options);
