#pragma once
// The main frame's DICOM folder commands whose work is done here rather than in the imaging core:
// de-identification of a folder, the DICOM tree copied into folders, the total sizes of a folder,
// splitting multi-frame files (one, or every file of a folder) and the test command that opens a
// folder of NIfTI diffusion images as one 4D document. Folder prompts start from the remembered
// folders of the options record; everything reaches the user through twk::ui().

#include "CString.h"

class CDrawDoc;

// "De-identify DICOM folder": to another target the source's tree is copied there first and the
// copy de-identified (the source is never written); to an empty target or the source itself, after
// "Files in folder %s will be overwritten. Proceed?", the files are de-identified in place.
bool TW_DeidentifyDicomFolderCommand();
// "DICOM Tree to Folders": both folders must exist.
bool TW_DicomTreeToFoldersCommand();
// "DICOM folder total Pixel Element size": "Total DICOM file size = %I64d\nTotal DICOM Pixel Element
// file size = %I64d".
bool TW_DicomFolderTotalPixelSizeCommand();
// "Split Multiframe DICOM file": a file picked starting in startFolder, then the target folder.
bool TW_SplitMultiframeDicomFileCommand(const CString& startFolder);
// "Split Multiframe DICOM folder": every file below the source folder is split (single-frame files
// copied) into the target under a name made from its path below the source, so that files of one
// name in different subfolders do not overwrite each other. The first failure, or Esc, stops the
// loop, and the stop is reported with the file and the count done.
bool TW_SplitMultiframeDicomFolderCommand();
// The same on given folders, without prompts (the command's work).
bool TW_SplitMultiframeDicomFolder(const CString& source, const CString& target);
// "Load DWI folder of NII images": the NIfTI files of a chosen folder as the time points of one 4D
// document.
CDrawDoc* TW_LoadDwiFolderOfNiiImagesCommand();
