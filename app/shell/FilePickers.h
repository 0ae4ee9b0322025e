#pragma once
// The file and folder pickers every command uses. They keep the "remembered" state of each kind of
// file in the caller's variables (as a rule members of the options record): the dialog opens in
// the remembered folder with the remembered file type selected, and on OK the folder, file type and
// extension are updated from the user's choice. Cancel changes nothing. All go through twk::ui().
//
// Filters are "description|patterns|" pairs, given as text or as a string-table id (TW_FILTER_*).

#include "CString.h"

enum : int {
  TW_FILTER_VTF = 3,
  TW_FILTER_TRANSFORM_TASK = 4,
  TW_FILTER_TEXT = 5,
  TW_FILTER_TAC = 6,
  TW_FILTER_INPUT_FUNCTION = 7,
  TW_FILTER_TEXT2 = 8,
  TW_FILTER_RAW = 9,
  TW_FILTER_MATLAB = 10,
  TW_FILTER_NUMPY = 11,
  TW_FILTER_FLOW_FIELD = 12,
  TW_FILTER_NIFTI = 13,
  TW_FILTER_RAW_ALL = 113,
  TW_FILTER_DOCUMENT = 40579,
  TW_FILTER_RAW_LOAD = 61188,
};

// The text of a string-table entry; false when the id has none.
bool TW_LoadResourceString(int id, CString* text);

// The 1-based index of the first filter entry whose patterns match the file name; 0 when none.
int TW_FilterIndexOfPath(const wchar_t* filter, const wchar_t* path);

bool TW_GetFilteredLoadName(const wchar_t* filter, CString* folder, int* filterIndex, CString* extension,
                            CString* path);
bool TW_GetFilteredSaveName(const wchar_t* filter, CString* folder, int* filterIndex, CString* extension,
                            CString* path);
bool TW_GetFileLoadName(int filterId, CString* folder, int* filterIndex, CString* extension, CString* path);
bool TW_GetFileSaveName(int filterId, CString* folder, int* filterIndex, CString* extension, CString* path);
// A new pf_calloc array of new CStrings, one full path per chosen file; the caller deletes each
// entry and frees the array with pf_free. Null on cancel or failure (count then unchanged).
CString** TW_GetMultiFileLoadName(int filterId, CString* folder, int* filterIndex, CString* extension, int* count);
// A folder picker opening in *folder, or in the temporary work folder when it is empty.
bool TW_SpecifyFolder(CString* folder);
