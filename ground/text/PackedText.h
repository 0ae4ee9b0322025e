#pragma once
// Wide-character text fields of byte-packed records sit at any address, where the C library's
// wide-string routines (vectorised for aligned text) may misread them: these copy them character
// by character.

#include <cstring>
#include <string>

#include "CString.h"

namespace twk {

// The field's text up to its terminator, at most size - 1 characters.
inline CString packedText(const void* field, int size) {
  std::wstring out;
  const char* bytes = static_cast<const char*>(field);
  for (int i = 0; i + 1 < size; ++i) {
    wchar_t c;
    std::memcpy(&c, bytes + size_t(i) * sizeof(wchar_t), sizeof c);
    if (!c) break;
    out += c;
  }
  return CString(out.c_str());
}

// The text cut to size - 1 characters, then the terminator, zeros to the end of the field.
inline void setPackedText(void* field, int size, const CString& text) {
  char* bytes = static_cast<char*>(field);
  for (int i = 0; i < size; ++i) {
    const wchar_t c = i + 1 < size && i < text.GetLength() ? text.GetString()[i] : L'\0';
    std::memcpy(bytes + size_t(i) * sizeof(wchar_t), &c, sizeof c);
  }
}

}  // namespace twk
