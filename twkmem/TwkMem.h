#pragma once
// TwkMem: the utility library that every module links.
//
//   - counted memory (pf_*): allocation with byte counters, peak and largest request, failure
//     messages and an optional leak-check table (memcheck);
//   - the message and progress protocol (PR_StartMessage, PR_SendMessageInterval, PR_EndMessage)
//     that forwards progress to the callbacks of the main window and carries cancellation (Esc);
//     long work holds it through twk::ProgressGuard, which ends it on every way out of a scope;
//   - string helpers and printf-style formatting into CString (MSVC conventions, see CString.h);
//   - whole-file reads and writes, little-endian field readers, the clipboard, external programs,
//     the text viewer, processor counts and the build number;
//   - the tolerances with which volumes are compared;
//   - gzip/zlib decompression into memory or into a file.
//
// Ownership: every block returned by pf_malloc/pf_calloc or by a function below that says so is
// released with pf_free, which takes the ADDRESS of the owner's pointer and sets it to null.
//
// Encodings: 8-bit texts that come from files, the clipboard or the narrow conversions
// (CstrToTstr, TstrToCstr) use the Windows-1252 code page; narrow texts written in source code
// (FmtStr formats, narrow progress titles) are UTF-8, as CString reads them; paths are UTF-8.
//
// Linux notes: no sleep inhibition is done while work runs; the registry does not exist, so the
// registry tests answer false; the clipboard is a process-wide text buffer unless the program routes
// it to the desktop clipboard with PR_SetClipboardHooks.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "CString.h"
#include "TwkTypes.h"

// ---------------------------------------------------------------------------------------------
// Counted memory allocation
// ---------------------------------------------------------------------------------------------

void* pf_malloc(int64_t size);
void* pf_calloc(int64_t size);
// pptr is the address of the owner's pointer (a void** in disguise).
bool pf_realloc(void* pptr, int64_t size);   // contents kept up to the smaller size; the old block is kept on failure
bool pf_recalloc(void* pptr, int64_t size);  // as pf_realloc, bytes past the old contents are zero
void pf_free(void* pptr);                    // frees *pptr (null is fine) and sets it to null
void pf_free_parr(void* pparr, int64_t n);   // frees the n elements of the array *pparr, then the array
void pf_aligned_free(void* pptr);
uint64_t pf_msize(void* p);                  // runtime size of a block (malloc_usable_size), 0 for null
// Prepares a large fresh buffer that is about to be filled (a file read, a copy): faulting it in
// page by page would cost several times the filling itself (much more so in virtual machines), so
// the system is asked for huge pages and to populate the buffer up front, making it one pass. Best
// effort: nothing happens for a null buffer, below minBytes, or where the system refuses.
void pf_prefault(void* buffer, int64_t bytes, int64_t minBytes);
// The first half of pf_prefault alone: asks for huge pages without populating, for a buffer that
// is then populated piece by piece by several threads (pf_prefault on each piece).
void pf_advise_hugepages(void* buffer, int64_t bytes);

// Type-safe forms: pf_free(&buffer) with any T* buffer.
template <class T>
inline void pf_free(T** p) { pf_free(static_cast<void*>(p)); }
template <class T>
inline bool pf_realloc(T** p, int64_t size) { return pf_realloc(static_cast<void*>(p), size); }
template <class T>
inline bool pf_recalloc(T** p, int64_t size) { return pf_recalloc(static_cast<void*>(p), size); }
template <class T>
inline void pf_free_parr(T*** p, int64_t n) { pf_free_parr(static_cast<void*>(p), n); }
// A new counted block with a copy of the n elements of src (a trivially copyable type); null when
// src is null, n < 1 or the allocation fails.
template <class T>
inline T* pf_duplicate(const T* src, int64_t n) {
  if (!src || n <= 0) return nullptr;
  T* out = static_cast<T*>(pf_malloc(n * int64_t(sizeof(T))));
  if (out) std::memcpy(out, src, size_t(n) * sizeof(T));
  return out;
}

void PR_InitTotalAllocSize();
void PR_SetAllocErrorDisplay(bool show);
int64_t PR_GetTotalAllocSize();
void PR_GetAllocMemInfo(uint64_t* peak, uint64_t* largest, bool show);
void PR_ResetAllocMemInfo();
void PR_DisplayMemoryResidual(int64_t baseline);
bool PR_GetTotalSystemMemory(uint64_t* total, uint64_t* available);
// Leak check: while on, every pf_malloc block is recorded until it is freed; PR_EndMemcheck shows
// the blocks still live (in the text viewer, through a file in the system temp folder, and on the
// clipboard) and switches the check off. The argument of PR_StartMemcheck has no effect.
bool PR_StartMemcheck(bool unused);
bool PR_EndMemcheck();

// ---------------------------------------------------------------------------------------------
// Message and progress protocol
// ---------------------------------------------------------------------------------------------

// The main window's callbacks. The progress sink takes plain values only: 0 (reset: a new operation
// begins), 1..99 (percent), 0x10000000 (end) or a colour (bits 30..63 set, COLORREF in the low
// bits); it never receives an address. The message callback writes a status text when given one
// and pumps pending events when pump is true; the first text after a reset is the operation's
// title. So a stray value after a reset can never be taken for a text.
struct MSGBLOCK {
  void (*progressSink)(uint64_t value) = nullptr;
  bool (*showMessage)(const wchar_t* text, bool pump) = nullptr;
  void (*setStatusText)(const wchar_t* text) = nullptr;  // used by the main program only
  void* reserved[2] = {nullptr, nullptr};
};
static_assert(sizeof(MSGBLOCK) == 5 * sizeof(void*), "MSGBLOCK is five pointer-sized words");

constexpr uint64_t PR_MSG_RESET = 0;
constexpr uint64_t PR_MSG_END = 0x10000000;

bool PR_InitFrameFunctions(MSGBLOCK* block);
// Returns true and changes nothing: the callbacks stay installed until the next PR_InitFrameFunctions.
bool PR_CloseFrameFunctions();
void PR_StartMessage(const wchar_t* text, bool show);
void PR_StartMessage(const char* text, bool show);
void PR_EndMessage(bool show);
// Progress of step i of n mapped onto start..end percent; reports on every max(1, n / 10000)-th
// step and returns false there when the work was stopped. n <= 0 reports nothing.
bool PR_SendMessageInterval(int64_t start, int64_t end, int64_t i, int64_t n, bool show);
// As above with percent i * 97 / n + 1 and the status text title + "  m:ss min remaining";
// startClock is a twk::clockMs() value taken when the work began.
bool PR_DisplayRemainingTime(CString title, long startClock, int64_t i, int64_t n, bool show);
bool PR_DisplayRemainingTime(const char* title, long startClock, int64_t i, int64_t n, bool show);
void PR_SendMessage(uint64_t value, bool show);
void PR_SendMessage(uint64_t value);
void PR_SendSingleMessage(const wchar_t* text, bool pump);
bool PR_InWorkProcess();
void PR_SetInWorkProcess(bool inWork);
int PR_GetNumLogicalCpus();

namespace twk {

// The progress protocol for one piece of long work, held for a scope: construction starts it (the
// title, a reset bar and the in-work flag), destruction ends it on every way out of the scope.
// Step reports real progress and tells the loop when Esc stopped the work:
//
//   twk::ProgressGuard progress(L"Saving DICOM files", show);
//   for (int64_t i = 0; i < n; ++i) {
//     ...
//     if (!progress.Step(i + 1, n)) return false;  // Esc
//   }
//
// A guard made while other work is shown joins that work: it neither resets the bar nor ends it,
// and a stop of the outer work stops it too. A guard with show false reports nothing and never stops.
// Guards belong to the thread that runs the work; Stopped() may be read from any thread.
class ProgressGuard {
 public:
  ProgressGuard(const wchar_t* title, bool show);
  ProgressGuard(const char* title, bool show);
  ~ProgressGuard();
  ProgressGuard(const ProgressGuard&) = delete;
  ProgressGuard& operator=(const ProgressGuard&) = delete;

  // Step i of n mapped onto the whole bar, or onto startPercent..endPercent; reports on every
  // max(1, n / 10000)-th step and pumps pending events there, so that Esc is seen. Returns false
  // once the work was stopped, on any step.
  bool Step(int64_t i, int64_t n);
  bool Step(int64_t i, int64_t n, int64_t startPercent, int64_t endPercent);
  // True once Esc stopped the work (never for a guard that is not shown). Reads a flag only.
  bool Stopped() const;
  // Pumps pending events, so that Esc is seen, without reporting a percent; false once the work
  // was stopped. For long stretches between two steps.
  bool Poll();
  // For work made of parts that run guards of their own (the layers of a set, the files of a
  // batch): the steps of guards that join this work are mapped onto startPercent..endPercent of its
  // bar until the next call, so the bar runs once across all the parts.
  void NestInto(int64_t startPercent, int64_t endPercent);
  // Ends the work before the scope does; the destructor then does nothing more.
  void End();
  bool Shown() const { return show_; }

 private:
  bool show_ = false;
  bool owner_ = false;  // this guard started the work and ends it
  bool ended_ = false;
};

}  // namespace twk

// ---------------------------------------------------------------------------------------------
// Strings and formatting
// ---------------------------------------------------------------------------------------------

CString FmtStr(const char* format, ...);
CString FmtStr(const wchar_t* format, ...);
wchar_t* PR_CopyString(const wchar_t* s);  // pf_malloc copy, null for null
// 8-bit (Windows-1252) to wide. The unsized form needs room for strlen(src) + 1 characters; the
// sized form writes at most dstCount characters including the terminator.
void CstrToTstr(const char* src, wchar_t* dst);
void CstrToTstr(const char* src, wchar_t* dst, size_t dstCount);
// Wide to 8-bit (Windows-1252; characters it cannot hold become '?'). The unsized form needs room
// for wcslen(src) + 1 bytes; the sized form writes at most dstSize bytes including the terminator.
// A null src leaves dst unchanged.
void TstrToCstr(const wchar_t* src, char* dst);
void TstrToCstr(const wchar_t* src, char* dst, size_t dstSize);
void PR_StringToLower(char* s);

void PR_RemoveRepeatingDelimiters(CString& s, wchar_t d);
// The fields between delimiters (runs of d count as one) up to the first empty one. The result is a
// pf_malloc array of CStrings made with new: delete each, then pf_free the array. Null with
// count 0 when there is no field.
CString** PR_ExtractAllSubstrings(const wchar_t* text, wchar_t d, int* count);

int PR_FindStringInx(CString** arr, int n, const wchar_t* s);
bool PR_StringEndsWith(CString s, CString tail, bool caseSensitive);
int PR_SubstringPosNonCase(const wchar_t* text, const wchar_t* sub);
bool PR_SubstringPresentNonCase(const wchar_t* text, const wchar_t* sub);
bool PR_StringPresentInArrNonCase(const wchar_t** arr, int64_t n, const wchar_t* s);
int PR_CountMatchingStrings(bool exact, const wchar_t** arr, int n, const wchar_t* s);
bool PR_AbsPresentInBuf(const int* buf, int64_t n, int v);

void PR_DoubleFloatRemoveNonDigits(wchar_t* s);
int PR_NumReqDigits(int v);
CString PR_GetFixedWidthIndexString(int index, int width);
void PR_GenerateRandom128bit(CString& s);

// ---------------------------------------------------------------------------------------------
// Files, processes, clipboard and system
// ---------------------------------------------------------------------------------------------

bool PR_FileSave(const wchar_t* path, const char* text);     // the 8-bit text as it stands
bool PR_FileSave(const wchar_t* path, const wchar_t* text);  // UTF-16LE with a byte-order mark
bool PR_FileSave(const wchar_t* path, const void* data, int64_t length, bool showErrors);
// The whole file in a new pf_malloc buffer; null on failure.
void* PR_FileLoad(const wchar_t* path, int64_t* expectedSize, int64_t* outSize, bool showErrors);
uint32_t pf_readUIHT32(uint8_t** cursor, int nbytes);  // little-endian, 1 to 4 bytes
uint64_t pf_readUIHT64(uint8_t** cursor, int nbytes);

// The clipboard holds 8-bit (Windows-1252) text. Without hooks it is a process-wide buffer; the
// program installs hooks that reach the desktop clipboard (the texts crossing them are wide).
// The getter returns false when the clipboard holds no text; the setter false when it failed.
using PR_ClipboardGetter = std::function<bool(std::wstring& text)>;
using PR_ClipboardSetter = std::function<bool(const std::wstring& text)>;
void PR_SetClipboardHooks(PR_ClipboardGetter getter, PR_ClipboardSetter setter);  // empty hooks: the buffer
char* PR_LoadStrFromClipboard();  // pf_malloc copy, null when there is no text
void PR_CopyStrToClipboard(const char* text);
bool PR_CopyStrToClipboard(const wchar_t* text);

// Starts the application (a path, or a name looked up in PATH) with the arguments split as a shell
// splits a command line (blanks separate, '...' and "..." group, \" is a quote). Without wait the
// program runs detached in its own session. With wait, false when it has not ended within
// timeoutSeconds (0xFFFFFFFF: no limit); the program is left running.
bool PR_ExecuteCommandLine(const wchar_t* application, const wchar_t* arguments, bool wait, unsigned timeoutSeconds,
                           bool showErrors);
// Writes the text to folder/NotepadTempFile.txt (UTF-16LE with a byte-order mark) and shows it in
// the text viewer of the UI; false when the file cannot be written.
bool PR_NotepadExeOpenString(const wchar_t* folder, const wchar_t* text);
bool PR_NotepadExeOpenFile(const wchar_t* path);

CString PR_GetLastErrorStr();  // strerror(errno), empty when errno is 0
wchar_t* PR_PrintStack();      // always null
bool FM_GetEqualTasks(int64_t nWorkers, int64_t nTasks, int64_t* nChunks, int64_t* chunkSize);
void FM_GetBatchParameters(int64_t factor, int64_t nTasks, int64_t* nBatches, int64_t* batchSize);
bool PR_RegistryKeyPresent(const wchar_t* subKey);                          // false: no registry
bool PR_TestRegistryKey(const wchar_t* subKey, const wchar_t* valueName);   // false: no registry
void PR_GetBuildNumber(CString& s);
void PR_DisplaySystemError(const wchar_t* text);
// An entry of a library opened with dlopen (null module: the global scope).
void* PR_GetProcAddress(void* module, const char* name);

// ---------------------------------------------------------------------------------------------
// Numeric and geometry checks
// ---------------------------------------------------------------------------------------------
// Tolerances are decimal: a difference of exactly the tolerance written in decimal (1.01 - 1.0
// against 0.01) is judged as a person would, not by the binary rounding of the operands.

bool PR_IsIsoPix(const SPC* spc);
bool PR_IsEqualSpc(const SPC* a, const SPC* b);
bool PR_IsEqualImgpos(const double* a, const double* b);
bool PR_IsEqualImgpos(const DPOINT3D* a, const DPOINT3D* b);
bool PR_AreEqualImgpos(const DPOINT3D* a, const DPOINT3D* b, int64_t n);
bool PR_IsEqualOrient(const double* a, const double* b);
bool PR_IsEqual(const double* a, const double* b, int64_t n);
bool PR_IsEqualDynCrd(DYNDIM kind, const DYNCRD* a, const DYNCRD* b);
bool PR_IsValidResult(const uint8_t* values, int64_t n);
bool PR_ArrayValidNumbers(const double* values, int64_t n);
void PR_ArrayReplaceInvalidNumbers(double* values, int n, double replacement);
void PR_GetNormalFromOrient(const double orient[6], double normal[3]);
FRMTYPE VA_VolType(int bitsPerVoxel);
int64_t PR_VolLineSize(int64_t width, int bitsPerVoxel);
void PR_SwapByteOrder(double* values, int n);
double PR_PointSetDiameter(const DPOINT3D* points, int n, DPOINT3D* vector);

// ---------------------------------------------------------------------------------------------
// Gzip decompression
// ---------------------------------------------------------------------------------------------

// gzip (one or more members) or zlib data to a new pf_malloc buffer; null on failure.
uint8_t* PR_gunzip_to_buf(const uint8_t* data, int64_t length, int64_t* outLength);
// A .gz file to a plain file; no target file is left behind on failure.
bool PR_gunzip_to_file(const wchar_t* gzPath, const wchar_t* outPath, bool show);
