#pragma once
// What the filter operations share: named messages, marking the document modified, the display
// filter of an operand's layer, and adding a result frame as a layer (the frame is freed either way).

#include "CString.h"
#include "TwkTypes.h"
#include "volume/Frame.h"

class CDrawSet;
class CVol;
struct PR_VIEWFILT;

namespace twk::filterops {

// "<operation> : <text>" in a message box.
void Named(const wchar_t* operation, const CString& text);
void MarkModified(CDrawSet& set);
// The display filter of the layer that holds vol (null when none does).
const PR_VIEWFILT* LayerFilter(const CDrawSet& set, const CVol* vol);
// Adds the result (null: false, nothing added) as a result layer of the set with the template's
// geometry, the name (null: built by the imaging core), opacity (-1: the default), ROI colour (-1:
// the next free one) and display filter; a frame the layer does not adopt is freed. True when the
// layer was added.
bool AddFrameAsLayer(CDrawSet& set, bool askSpatial, const wchar_t* name, CVol* templateVol, FramePtr result,
                     const PR_VIEWFILT* filter, int percent = -1, int colour = -1, int scheme = 0);

}  // namespace twk::filterops
