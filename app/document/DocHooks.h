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

// The framework's parts of opening a document (the child frame and its view, fitting the frame, the
// orthogonal views, the projection convention of the view): the shell's and the display's, so that
// the open itself runs headless. Without them a document gets no view.
struct TW_OPENSERVICES {
  // Creates the document's child frame with its view (the document template) and gives the view
  // its initial update; null when that fails.
  std::function<CDrawView*(CDrawDoc* doc)> createView;
  // Fits the view's child frame into the main frame and shows it (TW_ShowChildFrameFitted).
  std::function<void(CDrawView* view)> showFitted;
  // Opens the views of the two other orthogonal projections (layout 2).
  std::function<void(CDrawView* view)> createOrthogonalViews;
  // Turns the view's projection to the conventional name of its plane (option "ProjViewConvention").
  std::function<void(CDrawView* view)> applyProjectionConvention;
};

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

  // The modality question of a layer load for 4D volumes of unknown modality (the shell's, which
  // offers the last answer first); unset, the modality stays unknown.
  std::function<bool(unsigned* modality)> specifyModality;

  // The framework's parts of an open (unset: documents open without a view).
  TW_OPENSERVICES open;
};

TW_DOCUMENT_HOOKS& TW_DocumentHooks();
