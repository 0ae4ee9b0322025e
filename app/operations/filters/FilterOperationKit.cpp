#include "FilterOperationKit.h"

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "TwkUi.h"

namespace twk::filterops {

void Named(const wchar_t* operation, const CString& text) { twk::showNamedError(operation, text); }

void MarkModified(CDrawSet& set) {
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
}

const PR_VIEWFILT* LayerFilter(const CDrawSet& set, const CVol* vol) {
  const CDrawVol* layer = set.GetLayerOfVol(vol);
  return layer ? &layer->filter : nullptr;
}

bool AddFrameAsLayer(CDrawSet& set, bool askSpatial, const wchar_t* name, CVol* templateVol, FramePtr result,
                     const PR_VIEWFILT* filter, int percent, int colour, int scheme) {
  if (!result) return false;
  // The display filter is copied first: adding a layer may move the set's layer array.
  PR_VIEWFILT copy;
  if (filter) copy = *filter;
  return set.AddResultLayer(askSpatial, false, name, templateVol, FrameHandOff(result), percent, scheme, colour,
                            nullptr, nullptr, nullptr, filter ? &copy : nullptr);
}

}  // namespace twk::filterops
