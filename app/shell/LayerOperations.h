#pragma once
// The record behind the "Layer Operations" dialog: the marked layers of a set as operands and which
// of the seven operations they allow, and the run of one operation into a new layer. The Qt dialog
// (CDlgLayerOpers) shows the buttons this record enables.

#include <vector>

class CDrawSet;
class CVol;

struct TW_LAYEROPERS {
  CDrawSet* set = nullptr;
  std::vector<CVol*> operands;  // the marked volume layers, in layer order
  bool enabled[8] = {};         // by operation code 1..7 (VA_LAYEROP)
};

// Fills the record for the set: false when the dialog must not open ("Volumetric Entity is required"
// or "Invalid layer operand" shown with the prefix CDlgLayerOpers::OnInitDialog; no marked layer
// closes it silently).
bool TW_PrepareLayerOperations(CDrawSet* set, TW_LAYEROPERS* record);

// Runs the operation (1..7) on the operands: the result is named after the operation with " result",
// added to the set with the colour scheme of the first operand's layer and made active. False when
// the imaging core gave no result (it reports why).
bool TW_RunLayerOperation(const TW_LAYEROPERS& record, int code);

// The modal dialog on the set (the Layers panel's "Operation" button); a null set does nothing. The
// shell installs the dialog; without it the operation is chosen through a value prompt.
bool TW_DlgLayerOpers(CDrawSet* set);
