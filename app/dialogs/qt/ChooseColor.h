#pragma once
// The program's colour dialog: the view of TW_ChooseColor (UiHelpers.h) once installed.

#include "TwkTypes.h"

// The colour dialog on *colour (COLORREF 0x00BBGGRR; 0xFFFFFFFF starts at black), solid colours
// only. OK writes the chosen colour and gives true; Cancel leaves *colour and gives false.
bool TW_ChooseColorDialog(COLORREF* colour);
// Makes the dialog the view of TW_ChooseColor (the program calls it at start-up).
void TW_InstallColorDialog();
