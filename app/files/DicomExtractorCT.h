#pragma once
// The "Dicom File Extractor" dialog (CDlgDicomExtractorCT): copies the DICOM files of a source folder
// into an emptied target folder, one patient after another, keeping only the volumes that pass its
// rules (studies at least some months apart, a slice range). DicomExtractorCTSettings is the
// dialog's record; the dialog is a thin view over it and the extraction runs headless.

#include <functional>

#include "CString.h"

struct VA_DICOMFILEEXTRACTOR;

struct DicomExtractorCTSettings {
  CString sourceFolder;          // "Source folder:"
  CString targetFolder;          // "Target folder:"
  bool separatedStudies = false; // "Patients with studies separated by at least" ... "months"
  int months = 0;                // 0 to 1000
  bool sliceRange = false;       // "Volumes contain between" ... "slices"
  int minSlices = 1;             // 1 to 10000
  int maxSlices = 360;           // 1 to 10000
  int modality = 0;              // "Modalities": shown, not passed on
};

// The modality list of the dialog.
extern const wchar_t* const kDicomExtractorModalities[5];

// The remembered settings of the dialog (process-wide): the first use starts with the option "DCM
// Load Folder" as source and "CTextract" in the temporary work folder as target.
DicomExtractorCTSettings& TW_DicomExtractorCTSettings();

// OK's check of the numbers; a value out of its range is refused with a message (false).
bool TW_DicomExtractorAccept(const DicomExtractorCTSettings& settings);
// Fills the extractor record from the settings: both folders (refused when longer than the record
// holds), the flags and numbers, every other byte zero and the modality selector 0.
bool TW_FillDicomExtractor(const DicomExtractorCTSettings& settings, VA_DICOMFILEEXTRACTOR* record);

// TW_ExtractDICOMfilesCT: builds the tree of the source folder, refuses equal, nested or empty
// folders, empties (or creates) the target and extracts each patient's volumes under progress
// ("Extracting DICOM files for the individual patients"; Esc stops). False on any failure; files
// already extracted stay.
bool TW_ExtractDICOMfilesCT(const VA_DICOMFILEEXTRACTOR* record);

// The dialog's view: edits the settings; true on OK. The default view is a value prompt.
using TW_DICOMEXTRACTORVIEW = std::function<bool(DicomExtractorCTSettings* settings)>;
void TW_SetDicomExtractorView(TW_DICOMEXTRACTORVIEW view);

// TW_DlgDicomExtractorCT: the dialog; on OK the extraction runs (its result does not change the
// dialog's). True when the dialog ended with OK.
bool TW_DlgDicomExtractorCT();
