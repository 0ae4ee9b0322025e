#pragma once
// The ROI statistics command (F3/F4 in a view, the Layers panel's "ROI Stats 3D"/"ROI Stats 4D")
// and the histogram split of the operand that it offers. Each returns true on success.

#include "CString.h"
#include "TwkTypes.h"

class CDrawSet;
class CDrawView;
class CVol;
struct FRAME;

namespace twk::roiops {

// The 4D ROI statistics dialog the statistics open in mode 2 (the dynamic room's TW_DlgRoiStat4D):
// silent, view, set, operand, ROI frame, ROI colour and name; false when it does not open.
using RoiStat4DDialog = bool (*)(bool silent, CDrawView* view, CDrawSet* set, const CVol* vol, const FRAME* roi,
                                 COLORREF roiColour, const CString& roiName);

// The operand's statistics over the selected vector ROI, the operand ROI or the whole volume: mode
// 1 the 3D ROI statistics dialog (with the ROI layer's last histogram settings), mode 2 the 4D one
// (dialog4D; none gives false). silent computes and closes the dialog without the user. True when
// a dialog ran.
bool RoiStatistics(CDrawSet& set, CDrawView* view, int mode, bool silent, RoiStat4DDialog dialog4D);
// The operand split in two ROI layers "A" and "B" at a threshold picked on its histogram in the
// ROI statistics dialog.
bool RoiSplitUsingHist(CDrawSet& set, CDrawView* view);

}  // namespace twk::roiops
