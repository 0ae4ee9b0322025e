#pragma once
// Main-frame commands that do their work in the shell itself (no document involved): the basic
// measurements of a curve file, the rounding timing diagnostic and the processor information.

#include "CString.h"

// "Single curve basic measurements": a curve file (named columns), its X and Y columns (asked when
// there are more than two), the measurements shown through the text viewer. False on cancel or
// failure (reported).
bool TW_SingleCurveBasicMeasurement();

// "Tets Rounding": times rounding of a running value by the runtime and by floor(x + 0.5) over
// steps steps each; shows the times ("Tm1" floor-based, "Tm2" runtime) and the sum of both totals
// ("rsum"). The program's command runs 100,000,000 steps.
void TW_TestRounding(long long steps);

// "CPU Info": the processor information in a message box.
void TW_ShowCpuInfo();

// The About box's line "Allocated Memory : %I64u bytes" with the utility library's counter.
CString TW_AllocatedMemoryLine();
