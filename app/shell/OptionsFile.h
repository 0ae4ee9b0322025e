#pragma once
// The options file "TarnwickConfig.txt": one option per line, the key, ":=" and the value, each line
// ended by "\n". Numbers are unsigned decimal, flags 0 or 1, texts UTF-8. Reading splits a line at
// its first ":=", compares the key exactly (letter case included) and takes the rest of the line as
// the value, so folders with blanks survive a round trip.

#include "AppOptions.h"
#include "CString.h"

// Sets the defaults, then reads the file; false (defaults kept, nothing shown) when it cannot be
// opened. Remembered folders that do not exist become the temporary work folder.
bool TW_LoadUserOptions(const wchar_t* path, USEROPT* options = &TW_EditOptions());
// Checks the folders, then writes all 38 lines (through a temporary file that replaces the old one
// only when complete); false on a write error.
bool TW_SaveUserOptions(const wchar_t* path, USEROPT* options = &TW_EditOptions());
// Every remembered folder that is empty or missing becomes the temporary work folder.
void TW_CheckUserOptionFolders(USEROPT* options = &TW_EditOptions());
// The option lines as TW_ShowUserOptions lists them.
CString TW_UserOptionsText(const USEROPT& options = TW_Options());
// An information box listing the options.
void TW_ShowUserOptions();
