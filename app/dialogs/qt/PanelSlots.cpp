#include "PanelSlots.h"

#include <QWidget>

#include "CommandTable.h"

namespace {

TW_PANEL_SLOT_ACCESS g_slots;

QWidget* slotPanel(int slot) { return g_slots.get ? g_slots.get(slot) : nullptr; }

}  // namespace

void TW_SetPanelSlots(TW_PANEL_SLOT_ACCESS access) { g_slots = std::move(access); }

bool TW_AnyPanelSlotInUse() {
  for (int s = 0; s < TW_PANEL_SLOTS; ++s)
    if (slotPanel(s)) return true;
  return false;
}

QWidget* TW_PanelInSlot(int slot) { return slot >= 0 && slot < TW_PANEL_SLOTS ? slotPanel(slot) : nullptr; }

bool TW_StorePanelInSlot(int slot, QWidget* panel) {
  if (slot < 0 || slot >= TW_PANEL_SLOTS || !g_slots.set) return false;
  g_slots.set(slot, panel);
  return true;
}

bool TW_OpenModelessDialog(int slot, const TW_PANEL_FACTORY& create, CDrawView* view) {
  if (slot < 0 || slot >= TW_PANEL_SLOTS || !g_slots.set) return false;
  if (!TW_AnyPanelSlotInUse()) {
    QWidget* panel = create ? create(view) : nullptr;
    if (!panel) return false;
    g_slots.set(slot, panel);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->show();
    return true;
  }
  // Only its own panel open: the command closes it.
  bool others = false;
  for (int s = 0; s < TW_PANEL_SLOTS; ++s)
    if (s != slot && slotPanel(s)) others = true;
  if (!others) {
    if (QWidget* own = slotPanel(slot)) {
      g_slots.set(slot, nullptr);
      own->deleteLater();
    }
  }
  return false;
}

void TW_BindPanelCommand(const char* operation, int slot, TW_PANEL_FACTORY create) {
  TW_BindOperation(operation, [slot, create = std::move(create)](const TW_COMMAND_CALL& c) {
    if (TW_AnyPanelSlotInUse()) return;
    TW_OpenModelessDialog(slot, create, c.view);
  });
}
