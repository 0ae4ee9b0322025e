#include "OperationScope.h"

#include "DocDraw.h"
#include "DrawDoc.h"

void TW_RestoreArrowCursor() {
  if (TW_DocDrawHooks().waitCursor) TW_DocDrawHooks().waitCursor(false);
}

TW_OPERATION_END::~TW_OPERATION_END() {
  if (doc_) CDrawDoc::RedrawAllViews(doc_, refreshPanel_);
  TW_RestoreArrowCursor();
}
