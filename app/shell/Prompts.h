#pragma once
// The value prompts: modal questions for one to three numbers, a text, two folders, a modality or a
// choice between three actions. Each shows the caller's current values and writes the edited values
// back only on OK (true); Cancel returns false and leaves every value untouched. A value that does
// not convert or lies outside its range is refused with a message and asked again. All go through
// twk::ui().

#include "CString.h"

// Voxel size in millimetres; 1e60 marks an unset size.
struct TW_VOXELSIZE {
  double x = 1e60, y = 1e60, z = 1e60;
};

bool TW_SpecifyInt(const CString& prompt, int* value);
bool TW_SpecifyTwoInt(const CString& caption, const CString& labelA, int* a, const CString& labelB, int* b);
bool TW_SpecifyThreeInt(const CString& caption, const CString& labelA, const CString& labelB, const CString& labelC,
                        int* a, int* b, int* c);
bool TW_EnterDouble(const CString& prompt, double* value);
// Both values are shown as "%.8e" texts.
bool TW_SpecifyTwoDouble(const CString& caption, const CString& labelA, double* a, const CString& labelB, double* b);
bool TW_SpecifyThreeDoubles(const CString& caption, const CString& labelA, double* a, const CString& labelB, double* b,
                            const CString& labelC, double* c);
// Unset sizes are shown as 1.0 and written back as shown; x in 0..100000, y and z in 0..10000.
// The reference values are listed when they are not 1e60.
bool TW_SpecifyResolution(TW_VOXELSIZE* size, double ref1, double ref2, double ref3);
bool TW_SpecifyStr(const CString& prompt, CString* value);
// x, y: the screen position of the prompt when both are 0 or more (the desktop dialog uses it).
bool TW_EditString(int x, int y, CString* text);
// With mustExist both folders must exist (each missing one is reported); otherwise nothing is written.
bool TW_SpecifyTwoFolders(const CString& labelA, const CString& labelB, CString* folderA, CString* folderB,
                          bool mustExist);
// "CT", "MR", "PET", "US"; an unknown modality (10000) preselects "CT".
bool TW_SpecifyModality(unsigned* modality);
// Three buttons with the caller's texts (an empty text disables its button) under a list of lines;
// 0, 1 or 2 for the button pressed. A box closed without a button answers as the button named
// "Cancel" when there is one, else 2, so that no caller goes on with an action nobody chose.
int TW_ThreeButtonMsgBox(const wchar_t* caption, const wchar_t* const* lines, int lineCount, const CString& textA,
                         const CString& textB, const CString& textC);
