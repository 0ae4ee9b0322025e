#pragma once
// Explicit text encodings for files and for the 8-bit interfaces.
//   UTF-16LE: the "wide text" of document headers and wide text files (no byte-order mark is added;
//             decoding skips a leading BOM when asked to).
//   UTF-8:    the narrow text of Linux paths, command lines and the toolkit interfaces.
//   8-bit:    the single-byte code page of the program's narrow file texts (Windows-1252); characters
//             it cannot hold become '?'.

#include <cstdint>
#include <string>
#include <string_view>

#include "CString.h"

namespace twk {

std::string toUtf16LE(std::wstring_view text);                       // two bytes per code unit, surrogates as needed
std::wstring fromUtf16LE(const void* bytes, size_t byteCount, bool skipBom = true);

std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);                      // invalid sequences become U+FFFD

std::string toCodePage1252(std::wstring_view text);
std::wstring fromCodePage1252(std::string_view text);

// Paths for the C runtime and the toolkits: wide path -> UTF-8 bytes.
inline std::string pathToNative(const wchar_t* path) { return toUtf8(path ? std::wstring_view(path) : std::wstring_view()); }
inline std::string pathToNative(const CString& path) { return toUtf8(path.wstr()); }

}  // namespace twk
