#pragma once
// Small helpers several commands share: the colour chooser, the constraint-layer question, the
// protected-health-information profile viewer and the single-curve display, plus the installation
// of the shell's services into the document model. All talk to the user through twk::ui().

#include <functional>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"

class CDrawVol;

// The colour chooser on *colour (0xFFFFFFFF starts at black): true with the chosen colour on OK,
// false on Cancel (the colour then stays). The default view is a value prompt (red, green, blue
// through twk::ui().askValues); the program installs its colour dialog.
bool TW_ChooseColor(COLORREF* colour);
using TW_COLORVIEW = std::function<bool(COLORREF* colour)>;
void TW_SetColorChooserView(TW_COLORVIEW view);

// Deletes every file directly inside the folder; subfolders and files that cannot be removed are
// skipped silently. A missing folder leaves nothing to do.
void TW_DeleteFolderFiles(CString folder);
// The number of files directly inside the folder (0 for a missing folder).
int64_t TW_CountFolderFiles(const CString& folder);

// The tissue attributes dialog ("Tissue Properties"; kind 5, the Layers panel's, is titled "Tissue
// attributes"): edits the record's T1 in seconds (0 to 10000) and leaves the rest of the record as
// it is. True on OK (the record then holds the value), false on Cancel (unchanged).
bool TW_DlgTissueProp(int kind, VA_TISSUEATTRIB* attributes);

// Asks whether the layer (when *layer is set) should constrain the operation; No clears *layer.
void TW_ConfirmConstraintLayer(CDrawVol** layer);

// Writes the PHI profile in force to the temporary work folder ("CurrPHIprofile.txt") and shows it.
bool TW_ShowPHIprofile();

// The curve viewer that shows one curve (x, y) under a title; the dynamic-experiment dialogs
// install it. Unset: the curve is not shown.
using TW_CURVE_VIEWER = std::function<void(const CString& title, const std::vector<double>& x,
                                           const std::vector<double>& y)>;
void TW_SetCurveViewer(TW_CURVE_VIEWER viewer);
// Picks a column text file, chooses the X and Y columns (asking when there are more than two) and
// shows the curve in the curve viewer.
bool TW_DisplaySingleCurve();

// Hands the shell's prompts to the document model (the modality question of the layer load).
void TW_InstallShellServices();
