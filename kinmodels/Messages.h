#pragma once
// The plug-in's message boxes and questions. They reach the user through the callbacks that the
// host installs (DIDU_SetCallbacks), or through the program's UI interface when none are installed.
//
// Messages of initialisations are shown at once (the host's thread). A message that a curve
// raises while a map is computed would otherwise appear once per voxel: such messages are
// collected, each distinct text once, and shown when the cycle closes.

#include "CString.h"
#include "KinmodelsApi.h"
#include "TwkUi.h"  // MB_* styles and ID* answers

namespace kin {

void setCallbacks(const DIDU_CALLBACKS* callbacks);

int messageBox(const CString& text, unsigned type);
// "<function> : <message>" in an OK box, the usual report of a failed check.
void showNamedMessage(const wchar_t* function, const CString& message);
bool askYesNo(const CString& text);

// A message raised while computing a curve: remembered once per distinct text, safe from any thread.
void curveMessage(const CString& text, unsigned type);
// Shows the remembered curve messages, each once, and forgets them.
void flushCurveMessages();

}  // namespace kin
