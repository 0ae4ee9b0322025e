#pragma once
// The frame shared by the operations with an ROI operand: the operand checks with their bare
// messages, the reset of a layer's cached values, the redraw at the end of every operation, and
// the hand-off of a held frame to a taker.

#include "CString.h"
#include "volume/Frame.h"

class CDrawDoc;
class CDrawSet;
class CDrawVol;
class CVol;

namespace twk::roiops {

// Steps 1 to 3 of the common frame: "Operand is not present" for a null set, "Volumetric Entity
// is required" for a set that is not a volume set, the ambiguity message for more than one ROI
// candidate, "ROI is not present or enabled" for none (each bare unless quiet). The ROI or null.
CVol* RoiOperand(CDrawSet* set, bool quietWithoutSet = false);

// The cache reset of a layer whose voxels change in place: cached values unset, render caches freed.
void ResetLayerCache(CDrawVol* layer);

// "<operation> : <text>" in a message box.
void Named(const wchar_t* operation, const CString& text);

// Redraws all views of the document (refilling the Layers panel when asked) and brings the arrow
// cursor back when the scope ends, on every way out of the operation.
class OperationEnd {
 public:
  OperationEnd(CDrawDoc* doc, bool refreshPanel) : doc_(doc), refreshPanel_(refreshPanel) {}
  ~OperationEnd();
  OperationEnd(const OperationEnd&) = delete;
  OperationEnd& operator=(const OperationEnd&) = delete;
  void SetRefreshPanel(bool refresh) { refreshPanel_ = refresh; }

 private:
  CDrawDoc* doc_;
  bool refreshPanel_;
};

}  // namespace twk::roiops

