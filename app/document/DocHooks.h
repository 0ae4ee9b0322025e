#pragma once
// What the document model asks of the shell's panels and of the document file code, as replaceable
// callbacks: the Layers panel (which set it shows, its refill), the vector-ROI panel, the floating
// panels that close with the last document, the document save and the closing of a document. The
// shell installs them at start-up; unset callbacks mean "no such panel" and, for closing, delete.

#include <functional>

class CDrawDoc;
class CDrawObj;
class CDrawSet;
class CDrawView;

struct TW_DOCUMENT_HOOKS {
  // The set the Layers panel shows; null or unset when the panel is closed.
  std::function<const CDrawSet*()> layerPanelSet;
  // CDlgLayerCtrl::FillLayerTree.
  std::function<bool(bool redraw)> fillLayerTree;

  // The vector-ROI panel: open, the object it is bound to, bind (null unbinds and clears, enable
  // switches its controls), refresh (its fields recomputed from the bound record, as while a box
  // is dragged; the binding and its undo copy stay) and destroy.
  std::function<bool()> vroiPanelOpen;
  std::function<CDrawObj*()> vroiPanelObject;
  std::function<void(CDrawObj* object, bool enable)> vroiPanelBind;
  std::function<void()> vroiPanelRefresh;
  std::function<void()> vroiPanelDestroy;

  // Whether any of the main frame's floating panels is open, and closing them all.
  std::function<bool()> floatingPanelsOpen;
  std::function<void()> closeFloatingPanels;

  // The document save with a name prompt (true when saved).
  std::function<bool(CDrawDoc* doc)> saveDocument;
  // Closes a document without questions (default: delete it).
  std::function<void(CDrawDoc* doc)> closeDocument;
  // Closes the window of one view; false when the view has no window.
  std::function<bool(CDrawView* view)> closeView;

  // Whether the automatic build test runs (no prompts for missing modalities then).
  std::function<bool()> buildTestRunning;
};

TW_DOCUMENT_HOOKS& TW_DocumentHooks();
