#pragma once
// Numbers in user texts and in names, and the core's short message boxes.

#include <cstdint>

#include "CString.h"

// Parses every number of the text (separated by blanks, commas, semicolons or tabs) into a new
// pf_malloc array. False, with *values null and *count 0, when a token is not a number or the text
// holds none; the caller frees the array with pf_free.
bool PR_ExtractDoubles(const wchar_t* text, double** values, int* count);
// The same for integers; a token with a fraction or out of the int range is refused.
bool PR_ExtractIntegers(const wchar_t* text, int** values, int* count);
// The values joined by ", " in the shortest form that reads back the same ("%g" with up to 15
// digits); 1e60 is written as "void".
CString PR_MakeValueString(const double* values, int64_t count);
// The value rounded to the given number of significant digits (1e60 and non-finite values unchanged).
double PR_SetValuePrecision(double value, int digits);
// True when text is a permutation of the characters of reference (same length, same letters).
bool PR_StringIsPermutation(const wchar_t* text, const wchar_t* reference);
// Substring test; ignoreCase compares lower-cased texts.
bool PR_StringContainsSubstring(const wchar_t* text, const wchar_t* sub, bool ignoreCase);
// The last run of digits in the file title of name ("case_012.nii" -> 12); false when none.
bool PR_ExtractInxFromString(const wchar_t* name, int64_t* index);

// Message boxes of the core (through twk::ui()).
bool PR_AskYesNo(const wchar_t* text);                 // true on Yes
bool PR_AskYesNoCancel(const wchar_t* text, bool* yes); // false on Cancel, else *yes tells Yes
void PR_ShowStop(const wchar_t* text);                  // a stop box
void PR_ShowInfo(const wchar_t* text);                  // an information box
void PR_DisplayDoubleValue(const wchar_t* title, double value);
void PR_DisplayTwoDoubleValues(const wchar_t* title1, double value1, const wchar_t* title2, double value2);
void PR_DisplayInteger(const wchar_t* title, int64_t value);
