#pragma once
// Message boxes of the document model: "<prefix> : <text>" with the default icon unless said.

#include "CString.h"
#include "TwkUi.h"

namespace twk::doc {

inline void message(const wchar_t* prefix, const CString& text, unsigned type = MB_OK) {
  ui().messageBox(prefix ? CString(prefix) + L" : " + text : text, L"Tarnwick", type);
}
inline void information(const CString& text) { ui().messageBox(text, L"Tarnwick", MB_OK | MB_ICONINFORMATION); }

}  // namespace twk::doc
