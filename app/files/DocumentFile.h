#pragma once
// The document file ".twk": writing the current version 17 into memory, saving with verification,
// and reading version 17 and the older versions 2.0 to 16 (there is no 13; 1.0 is refused).
//
// Layout of version 17 (little-endian, no padding between fields):
//   header line   UTF-16LE "Tarnwick v.17 document. Created with Build 483." ended by one LF
//   int32         background colour (COLORREF); read and discarded, the option wins
//   57 bytes      saved view record (VA_VOLPROJ of the saved view on the active set)
//   int32         object count, then one object record per top-level object in drawing order
//   block         dynamic-experiment settings (CDynExp::Write, DynExp.h)
// Object records start with an int32 tag (the object kind): 2, 3, 4 rectangle and ellipse,
// 5 polyline, 6 arc, 8 layer set, 9 volume layer. Polylines, sets and volume layers carry the
// 78-byte base record of CDrawObj after the tag (DocumentRecords.h gives every record).
//
// CDrawDoc::WriteToMemFile, CDrawDoc::Load and CDrawDoc::Save (declared in DrawDoc.h) and the
// record operations CDrawObj::Write and CDrawObj::Read (DrawObj.h) are defined here.
//
// Every count and size read from a file is checked against the record's rules and against the
// bytes left in the file before anything is allocated, so a damaged file fails with a message and
// never makes the reader read past the end or take unbounded memory.

#include <cstdio>
#include <functional>

#include "CString.h"

class CDrawDoc;
class CDrawObj;
class CDynExp;

// The header text of the current version and the build text that follows it.
constexpr const wchar_t* TW_TWK_HEADER_V17 = L"Tarnwick v.17 document";

// Loads one object record (tag and record) of the current version; null on failure (the loader has
// shown its message where the format names one). The set and volume loaders get showProgress.
CDrawObj* LoadDrawObj(CDrawDoc* doc, FILE* fp, bool showProgress);
CDrawObj* LoadDrawPoly(CDrawDoc* doc, FILE* fp, bool showProgress);
CDrawObj* LoadDrawSet(CDrawDoc* doc, FILE* fp, bool showProgress);
CDrawObj* LoadDrawVol(CDrawDoc* doc, FILE* fp, bool showProgress);

// A new document outside the framework filled from the file, given the path and marked
// unmodified. On failure the document is deleted, "Failed to load document : <path>" is shown
// (information icon) and the result is null.
CDrawDoc* TW_LoadDocumentNoView(const wchar_t* path, bool showProgress);

// Whether the file starts with the header line of a Tarnwick document (any version). Saves replace
// only such files: an image, a text or any other file is never overwritten by a document.
bool TW_IsTarnwickDocumentFile(const wchar_t* path);

// Whether the temporary work folder of the options is usable; shows "Current Tarnwick temporary
// folder ... is not usable" and gives false when it is not. Reading and saving call it first.
bool TW_CheckTempFolder();

// The kinetic-model host whose settings documents save and load (the application's CDynExp). The
// shell hands its object over at start-up; until then a process-wide one serves.
CDynExp* TW_DocumentDynExp();
void TW_SetDocumentDynExp(CDynExp* dynExp);

// The shell's list of recent files: documents saved under a chosen name and opened files enter it.
using TW_RECENT_FILE_SINK = std::function<void(const CString& path)>;
void TW_SetRecentFileSink(TW_RECENT_FILE_SINK sink);
void TW_AddToRecentFiles(const CString& path);

// Installs the document save as the document model's save hook (the "save before closing?"
// question): a save-file dialog that is cancelled keeps the document open.
void TW_InstallDocumentFileServices();
