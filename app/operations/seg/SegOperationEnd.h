#pragma once
// The end of every segmentation operation: all views of the document are redrawn (with the Layers
// panel) when the operation's scope ends, on success and failure alike.

#include "DrawDoc.h"

namespace twk::seg {

struct RedrawAtEnd {
  CDrawDoc* doc;
  ~RedrawAtEnd() {
    if (doc) CDrawDoc::RedrawAllViews(doc, true);
  }
};

}  // namespace twk::seg
