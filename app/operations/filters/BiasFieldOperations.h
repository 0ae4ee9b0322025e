#pragma once
// The bias-field corrections of the layer sets: N4 and N3 of the view's time point and BiCal.
// Each adds the corrected volume (or the field) as the new active layer; true when it did.

class CDrawSet;
class CDrawView;
struct VA_BICALZF;

namespace twk::filterops {

// N4 on g_N4Parms (its dialog after the operand): the layer "_N4", or "_N4_BiasField".
bool N4BiasCorrection(CDrawSet& set, CDrawView* view);
// N3 on g_N3Parms (its dialog only withDialog; a cancelled dialog counts as done): the operand's
// name with "_N3" or "_N3_BiasField".
bool VolProc_N3(CDrawSet& set, CDrawView* view, bool withDialog);
// BiCal on the record (its dialog after the operand): "_BiCal" or "_BiCalField". Both menu rows
// pass mode 0.
bool Bical(CDrawSet& set, int mode, VA_BICALZF* record);

}  // namespace twk::filterops
