#pragma once
// The modeless tool dialogs of the main frame's five panel slots (live region growing, the curve
// browser, the Layers panel, the vector-ROI panel, the motion-profile panel; the numbers of
// TW_PANEL_SLOT in MainFrame.h). Each slot is empty or holds its one open panel; a panel clears
// its slot when it is destroyed.
//
// A subsystem whose command opens a panel binds it here once its dialog exists:
//   TW_BindPanelCommand("CDrawView::OnVoxelTacBrowser", 1, [](CDrawView* view) -> QWidget* {
//     return new CDlgViewTac(...);   // created, not yet shown; null when it cannot be made
//   });
// The command then opens nothing while any slot is in use, and otherwise opens the panel in its
// slot and shows it.

#include <functional>

class CDrawView;
class QWidget;

constexpr int TW_PANEL_SLOTS = 5;

// The main frame's slots (the frame installs them).
struct TW_PANEL_SLOT_ACCESS {
  std::function<QWidget*(int slot)> get;
  std::function<void(int slot, QWidget* panel)> set;
};
void TW_SetPanelSlots(TW_PANEL_SLOT_ACCESS access);
bool TW_AnyPanelSlotInUse();
// The panel held in a slot (null: empty or no frame), and storing one there (false without a frame).
QWidget* TW_PanelInSlot(int slot);
bool TW_StorePanelInSlot(int slot, QWidget* panel);

using TW_PANEL_FACTORY = std::function<QWidget*(CDrawView* view)>;

// The opener of a modeless tool dialog: created only when all five slots are empty, stored in its
// slot and shown (true). When only its own slot is in use, the open dialog is destroyed and the
// slot cleared (the command closes it again); false. A dialog that cannot be created: false.
bool TW_OpenModelessDialog(int slot, const TW_PANEL_FACTORY& create, CDrawView* view);

// Binds a view command that opens a panel: nothing happens (silently) while any slot is in use.
void TW_BindPanelCommand(const char* operation, int slot, TW_PANEL_FACTORY create);
