// Commands of the view that act on documents, windows and the display rather than on voxels:
// closing the document, other views or other documents, the redraw speed test, the curve-length
// display and deleting all splines.
#include "DocumentCommands.h"

#include <cmath>
#include <vector>

#include "CommandTable.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Clock.h"

namespace {

void closeDocumentNow(CDrawDoc* doc) {
  const auto& close = TW_DocumentHooks().closeDocument;
  if (close) close(doc);
  else delete doc;
}

// Every view of every open document, each document's active view last.
void redrawAllOpenViews() {
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  for (int i = 0; i < count; ++i) CDrawDoc::RedrawAllViews(docs[i], false);
  pf_free(&docs);
}

}  // namespace

namespace twk::ops {

void OnCloseDocument(CDrawView& view) {
  CDrawDoc* doc = view.GetDocument();
  if (!doc) return;
  // Cancel, or a save that failed: the document stays open with its changes.
  if (!doc->SaveModified()) return;
  CDrawDoc::RedrawAllViews(doc, false);
  if (CDrawSet* set = doc->GetActiveSet()) set->FreeAllViewCaches();
  closeDocumentNow(doc);  // this view goes with it
}

void CloseOtherViews(CDrawView& view, int mode) {
  CDrawDoc* doc = view.GetDocument();
  switch (mode) {
    case 0:
      TW_CloseAllDocumentsBut(nullptr, true);
      break;
    case 1: {
      if (!doc) return;
      const auto& closeView = TW_DocumentHooks().closeView;
      // Copied first: closing a window removes its view from the document.
      const std::vector<CDrawView*> others = doc->Views();
      for (CDrawView* other : others)
        if (other != &view && closeView) closeView(other);  // a view without a window is skipped
      break;
    }
    case 2:
      TW_CloseAllDocumentsBut(doc, true);
      break;
    default:
      break;
  }
}

void TestRedrawSpeed(CDrawView* view) {
  int n = 100;
  if (!TW_SpecifyInt(L"Number of redraws", &n)) return;
  const double start = twk::secondsSinceStart();
  CDrawDoc* doc = view ? view->GetDocument() : nullptr;
  {
    twk::ProgressGuard progress(L"Test redraw speed", true);
    for (int i = 0; i < n; ++i) {
      if (!progress.Step(i, n, 1, 98)) break;  // Esc
      if (doc) CDrawDoc::RedrawAllViews(doc, false);
      TW_RestoreArrowCursor();
    }
  }
  CString text;
  text.Format(L"Elapsed time = %.3lf s", twk::secondsSinceStart() - start);
  twk::messageBox(text, MB_OK | MB_ICONINFORMATION);
}

void OnCurveLength(CDrawView&) {
  g_DrawSettings.m_bShowCurveLength = !g_DrawSettings.m_bShowCurveLength;
  redrawAllOpenViews();
}

bool OnUpdateCurveLength(const CDrawView*) { return g_DrawSettings.m_bShowCurveLength; }

}  // namespace twk::ops

bool CDrawDoc::DeleteAllSplines() {
  TW_OPERATION_END end(this, false);
  SetModifiedFlag();
  bool removed = false;
  const std::vector<CDrawObj*> all = objects;
  for (CDrawObj* obj : all) {
    if (obj->kind != DRAWOBJ_POLY || !static_cast<CDrawPoly*>(obj)->spline) continue;
    RemoveObject(obj);
    delete obj;
    removed = true;
  }
  if (removed) SetSelection({});
  else twk::doc::message(L"CDrawDoc::DeleteAllSplines", L"No splines were found");
  return removed;
}

TW_COMMAND_BINDINGS(document_commands) {
  TW_BindOperation("CDrawView::OnCloseDocument", [](const TW_COMMAND_CALL& c) {
    if (c.view) twk::ops::OnCloseDocument(*c.view);
  });
  TW_BindOperation("TW_CloseAllDocumentsBut", [](const TW_COMMAND_CALL& c) {
    TW_CloseAllDocumentsBut(c.IsNull(0) ? nullptr : c.doc, c.Flag(1));
  });
  TW_BindOperation("CDrawView::CloseOtherViews", [](const TW_COMMAND_CALL& c) {
    if (c.view) twk::ops::CloseOtherViews(*c.view, c.Int(1));
  });
  TW_BindOperation("CDrawView::TestRedrawSpeed", [](const TW_COMMAND_CALL& c) { twk::ops::TestRedrawSpeed(c.view); });
  TW_BindOperation("CDrawView::OnCurveLength", [](const TW_COMMAND_CALL& c) {
    if (c.view) twk::ops::OnCurveLength(*c.view);
  });
  TW_OPERATION_BINDING check;
  check.checked = [](const TW_COMMAND_CALL& c) { return twk::ops::OnUpdateCurveLength(c.view); };
  TW_BindOperation("CDrawView::OnUpdateCurveLength", check);
  TW_BindOperation("CDrawDoc::DeleteAllSplines", [](const TW_COMMAND_CALL& c) {
    if (c.doc) c.doc->DeleteAllSplines();
  });
}
