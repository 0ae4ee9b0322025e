#pragma once
// Path texts, folders and files of the imaging core.
//
// Path texts: both '/' and '\' separate folders, so that names built by the program with "\"
// (layer names, temporary names) split the same way as native paths. An extension is the text after
// the last '.' of the last path component; it is returned without the dot.
//
// Folder listings return arrays of wide strings allocated with pf_malloc (the array and every
// element); the caller frees them with pf_free_parr(&array, count). Paths come back sorted by name.
// Functions with a show flag report their failures through the UI (prefix: the function's name).

#include <cstdint>
#include <cstdio>

#include "CString.h"

// Last path component ("C:\a\b.nii" -> "b.nii").
CString PR_GetFileTitle(const wchar_t* path);
// Last path component without its extension ("b.nii" -> "b").
CString PR_GetFileTitleName(const wchar_t* path);
// The path without the extension of its last component.
CString PR_GetFileName(const wchar_t* path);
// Extension of the last component without the dot; empty when it has none.
CString PR_GetFileExt(const wchar_t* path);
// Folder part of the path without a trailing separator; empty when the path has no folder.
CString PR_GetFileFolder(const wchar_t* path);
// The suffix inserted before the extension ("a/b.nii", "_x" -> "a/b_x.nii"); without keepExtension
// the extension is dropped ("a/b_x").
CString PR_AddFileNameSfx(const wchar_t* name, const wchar_t* suffix, bool keepExtension = true);
// The suffix added and the extension replaced by ext (given without the dot).
CString PR_AddFileNameSfxChangeExt(const wchar_t* name, const wchar_t* suffix, const wchar_t* ext);
// File title without extension, followed by the suffix.
CString PR_GetFileTitleNameAddSfx(const wchar_t* name, const wchar_t* suffix);
// Replaces every character that cannot stand in a file name (< > : " / \ | ? * and controls)
// by '-'; returns the number replaced.
int PR_FilenameReplaceInvalidChars(CString* name);
// A layer name reduced to what can name a file: the folder part is kept, annotations that the
// program appends to the title (" [..]" and " (..)" at its end) are cut, and characters invalid in
// file names become '-'.
CString PR_LayerNameRemoveExtraInfo(const wchar_t* name);
// The path's file title placed in another folder.
CString PR_ReplaceFolderInName(const wchar_t* path, const wchar_t* folder);
// Joins folder and name with one '/' (none added when the folder already ends with a separator).
CString PR_JoinPath(const wchar_t* folder, const wchar_t* name);

// Folders.
bool PR_FolderExists(const wchar_t* folder, bool show = false);
// The folder exists and a file can be created and removed in it.
bool PR_UsableFolder(const wchar_t* folder, bool show);
// Deletes the files directly inside the folder (subfolders are left alone).
bool PR_ClearFolderContent(const wchar_t* folder, bool show);
// Empties an existing folder of its files, or creates it (with missing parents).
bool PR_ClearExistingFolderOrCreateNew(const wchar_t* folder, bool show = true);
// Removes the folder with everything inside it; true also when it did not exist.
bool PR_RemoveFolder(const wchar_t* folder);
// Files of the folder whose extension is one of extensions (";"- or ","-separated, with or without
// the dot, case-insensitive; null or empty: all files). includeSubfolders searches below as well;
// namesOnly gives file titles instead of full paths. Null with count 0 when nothing is found.
wchar_t** PR_FindAllFilesInFolder(const wchar_t* folder, const wchar_t* extensions, bool includeSubfolders,
                                  bool namesOnly, int* count, bool show);
// Subfolders directly inside folder (full paths); namesOnly gives their names.
wchar_t** PR_FindAllSubfoldersInFolder(bool namesOnly, const wchar_t* folder, int* count, bool show);
// The path of the only file in the folder; empty when there is none or more than one.
CString PR_FindOneFileInFolder(const wchar_t* folder, bool show);
// Number of files in the folder (not below); -1 when it cannot be read.
int64_t PR_CountAllFilesInFolder(const wchar_t* folder);
// Bytes of all files in and below the folder; 0 when it cannot be read.
int64_t PR_FolderSize(const wchar_t* folder);
// True when no two paths share a file title (case-insensitive); duplicates are reported when show is set.
bool PR_CheckUniqueFileTitles(const wchar_t* const* paths, int64_t count, bool show);

// Files.
int64_t PR_FileSize(const wchar_t* path);  // -1 when absent
bool PR_FileExists(const wchar_t* path);
// same is set when both files hold the same bytes. False when either cannot be read.
bool PR_CompareFiles(const wchar_t* a, const wchar_t* b, bool* same, bool show);
bool PR_FileCopyUsingSystem(const wchar_t* source, const wchar_t* target);
bool PR_FileMoveUsingSystem(const wchar_t* source, const wchar_t* target);
// Copies each file into folder under its file title, with progress under progressText.
bool PR_CopyFileArr(const wchar_t* const* files, int64_t count, const wchar_t* folder, const wchar_t* progressText);
// Writes the text as UTF-8 (replacing the file); true when complete.
bool PR_SaveTextToFile(const wchar_t* path, const wchar_t* text);
// printf to a stream with the program's wide format conventions; the text is written as UTF-8.
bool PR_FprintfTstr(FILE* fp, const wchar_t* format, ...);
// The file starts with the gzip signature (1F 8B).
bool PR_IsZlibFile(const wchar_t* path);
// Name of the decompressed copy of a gzip file in the work folder: its title less ".gz"
// ("scan.nii.gz" -> "<folder>/scan.nii").
CString VA_ProduceZlibDecompressName(const wchar_t* path, const wchar_t* workFolder);
