#pragma once
// CDrawView as the document sees it: the interface the document and its layer sets use to refresh
// the views that show them. The display's view class derives from it and implements the redraw
// calls; tests use a counting fake. A view registers with its document (CDrawDoc::AddView) and
// leaves it when destroyed (CDrawDoc::RemoveView), which also drops its projection records.

class CDrawDoc;

class CDrawView {
 public:
  CDrawView() = default;
  virtual ~CDrawView() = default;
  CDrawView(const CDrawView&) = delete;
  CDrawView& operator=(const CDrawView&) = delete;

  // Repaints the whole view now (invalidate, update and erase at once).
  virtual void RedrawNow() = 0;
  // Zooms so that all objects of the document are visible, then repaints.
  virtual void ZoomAll() = 0;
  // Marks the client area for a later repaint.
  virtual void InvalidateClient() {}

  CDrawDoc* GetDocument() const { return document_; }
  // The view's active flag: set while the view is the one the user works in.
  bool IsActive() const { return active_; }
  void SetActive(bool on) { active_ = on; }

 private:
  friend class CDrawDoc;
  CDrawDoc* document_ = nullptr;
  bool active_ = false;
};
