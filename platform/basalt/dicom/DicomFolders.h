#pragma once
// Folder work of the imaging core's DICOM family: file sets of volumes, extraction of patients'
// volumes by rules, copies sorted into patient, study and series folders (with a DICOMDIR index on
// request), de-identification of folders, and small folder queries (one DICOM file, b-values,
// sizes, header differences).
//
// Folders are read through the DICOM tree (DicomTree.h): files that are not DICOM or are damaged
// are skipped. Folder and file names the program writes are upper-case letters, digits and
// underscores ("PATIENT_1", "STUDY_1", "SERIES_3", files "IM000001").

#include <cstdint>

#include "CString.h"

struct VA_DICOMTREE;
struct VA_DICOMTREEITEM;

// A set of files, each a pf_malloc wide string in a pf_malloc array, owned by the set.
struct FILESET {
  wchar_t** files = nullptr;
  int64_t count = 0;

  FILESET() = default;
  ~FILESET();
  FILESET(const FILESET&) = delete;
  FILESET& operator=(const FILESET&) = delete;
  bool Add(const wchar_t* path);
  // The deepest folder that holds every file (no trailing separator); empty for an empty set.
  CString GetCommonFolder() const;
};
// Deletes the sets of a pf_malloc array of new FILESETs and frees the array.
void VA_FreeFileSets(FILESET*** sets, int count);

// The rules of volume extraction ("Dicom File Extractor", file sets of batch jobs). The folders are
// zero-terminated; the other fields keep the order of the record the callers fill.
#pragma pack(push, 1)
struct VA_DICOMFILEEXTRACTOR {
  wchar_t sourceFolder[1024] = {};
  wchar_t targetFolder[1024] = {};
  uint8_t listFiles = 0;          // write one list file per volume (a ".txt" of its file paths, one a line)
                                  // into the target folder instead of copying the files
  uint8_t allVolumes = 0;         // every volume that passes the rules; 0: per study only the one with most slices
  uint8_t reserved = 0;
  uint8_t separatedStudies = 0;   // a patient needs studies at least `months` months apart, else nothing of theirs is taken
  int32_t months = 0;
  uint8_t sliceRange = 0;         // volumes must have minSlices to maxSlices slices
  int32_t minSlices = 1;
  int32_t maxSlices = 360;
  uint8_t modality = 0;           // 0 any, 1 CT, 2 MR, 3 PET
};
#pragma pack(pop)

// The volumes of one patient item of the tree that pass the rules, copied into the target folder
// (under "PATIENT_n" when multiplePatients, n the patient's place in the tree from 1, then
// "STUDY_s" and "SERIES_v") or written as list files ("PATIENT_n_STUDY_s_SERIES_v.txt"). True also
// when nothing passes; false (reported) when a file cannot be copied or written.
bool VA_ExtractPatientDicoms(const VA_DICOMFILEEXTRACTOR* rules, const VA_DICOMTREE* tree,
                             const VA_DICOMTREEITEM* patient, bool multiplePatients);
// One file set per volume of the tree that passes the rules (every patient, in tree order): a new
// pf_malloc array of new FILESETs (free with VA_FreeFileSets) and its count; null on failure. A
// tree without such volumes gives an empty array (count 0) rather than null.
FILESET** VA_MakeDicomVolumeFileSets(const VA_DICOMFILEEXTRACTOR* rules, const VA_DICOMTREE* tree, int* count,
                                     bool show);

// Copies the DICOM images of the source folder (and its subfolders) into
// target/PATIENT_p/STUDY_s/SERIES_e/IMnnnnnn, one series folder per simple series or sub-series;
// with writeDicomDir the folders are named within the eight characters that a DICOMDIR allows
// (PATppppp/STUsssss/SEReeeee) and a DICOMDIR indexing the files is written into the target. The target is created
// when missing. False (reported when show) when the source has no images or a file cannot be written.
bool VA_DicomTreeToFolders(const wchar_t* source, const wchar_t* target, bool writeDicomDir, bool show);
// Sorts the images of the source folder, or those its DICOMDIR lists when it has one, into
// per-series folders of the target: target/<patient>/<STUDY_s_date>/<SERIES_n_description>/IMnnnnnn.dcm,
// where <patient> is the patient's name and ID with includePatientName, else PATIENT_p.
bool VA_DICOMDIRtoFileFolders(bool includePatientName, const wchar_t* source, const wchar_t* target, bool show);
// Writes folder/DICOMDIR indexing the DICOM files below the folder (general-purpose profile, file
// names taken as they are). False (reported when show) when no file can be indexed.
bool VA_WriteDicomDir(const wchar_t* folder, bool show);

// De-identifies every DICOM file of the source folder (and its subfolders) through the PHI profile
// in force into the same place below the target (empty, null or the source itself: the files are
// replaced). Files without protected health information are left as they are (copied unchanged to
// another target). *changedFiles (may be null) counts the files that held PHI. With show, progress
// and "No PHI is present" when no file held any. False when a file cannot be written.
bool VA_DeidentifyDicomFolder(const wchar_t* source, const wchar_t* target, bool show, int64_t* changedFiles = nullptr);

// The first DICOM image file in or below the folder (in name order); empty when there is none
// ("No DICOM file found in " and the folder when show).
CString VA_FindOneDicomFileInFolder(const wchar_t* folder, bool show);
// The distinct diffusion b-values of the folder's images, ascending: a new pf_malloc array and its
// count; null when there are none (reported when show).
double* VA_EnumerateAllBvalsInDicomFolder(const wchar_t* folder, int* count, bool show);
// Bytes of all DICOM files in and below the folder, and of their pixel data as stored.
bool VA_DicomFolderTotalPixSize(const wchar_t* folder, int64_t* totalSize, int64_t* pixelSize, bool show);
// The differences between two files' headers, one line per element: "(gggg,eeee) Name : first | second"
// ("-" for a missing value), "The headers are identical" when there are none; empty when a file
// cannot be read (reported when show).
CString VA_VolDicomDifference(const wchar_t* first, const wchar_t* second, bool show);
