#pragma once
// Documents of a folder, and the checkerboard test volume.

// Opens every ".twk" document of the folder ("Load Tarnwick folder" progress; Esc stops): false
// with "No TWK files are found" when there is none, or at the first document that fails to open
// (the documents opened so far stay open).
bool TWK_LoadAllTwkDocuments(const wchar_t* folder);

// "Make Checkerboard Volume": a 65 x 65 checkerboard written as "CheckerBoard.im" in the current
// work folder (the temporary work folder when none is set) and opened as a document.
bool TW_MakeCheckerboardVolume();
