#pragma once
// "BiCal Batch Processing": every DICOM volume found below a source folder corrected by BiCal and
// written below a target folder, at the same relative place, as DICOM or NIfTI.

#include <cstdint>

#include "filters/BiasField.h"
#include "ops/BodyForeground.h"

#pragma pack(push, 1)
struct BICALBATCHPARM {
  VA_BICALZF bical;           // the method's settings
  VA_BODYFORG bodyMask;       // edited from the dialog; the batch does not mask
  wchar_t sourceFolder[512];  // root of the DICOM volumes
  wchar_t targetFolder[512];  // root of the outputs; must exist
  int32_t format;             // 0 "DICOM uncompressed", 1 "DICOM compressed", 2 "NIFTI"
};
#pragma pack(pop)

// The batch record (its defaults: TW_InitBicalBatchDefaults).
extern BICALBATCHPARM g_BicalBatchParms;
void TW_InitBicalBatchDefaults();

// "BiCal Batch Processing" on the record: source and target folders, "Apply BodyMask", the
// output format, and two buttons that edit the record's body-mask and BiCal parameters at once
// (kept on Cancel). True on OK (the record then holds the folders and the format).
bool TW_DlgBicalBatch(BICALBATCHPARM* record);

// The batch. Refused with a message, nothing written: no target ("Target folder should be
// specified"), a target that does not exist ("Specified folder does not exist"), a source that
// does not exist, or folders that are the same or one inside the other once links and relative
// parts are resolved ("Source and Target folders should be different"). Each volume is loaded from
// its own files (nothing is copied into the target), corrected, and written into the target
// folder at the same path below it as its files' common folder below the source (every missing
// level created; "Volume_<n>" when the set has no common folder): NIfTI as "<volume title>.nii",
// DICOM as the series "vol" (an integer result, or any DICOM result, as 31-bit integers). Files
// already in the target are never overwritten: a name in use gets "_2", "_3", ... True when every
// volume was written (also when none was found); false on a failure or Esc, the volumes finished
// before it staying in place.
bool PerformBicalBatch(const BICALBATCHPARM* record);
