#pragma once
// The end of every command handler and inline operation: whatever way the work leaves (success,
// a failure message, a cancelled prompt), all views of the document are redrawn (with or without a
// refill of the Layers panel) and the arrow cursor comes back. One guard at the top of the
// operation does both:
//
//   bool ScaleToInterval(CDrawSet& set) {
//     TW_OPERATION_END end(set.GetDocument(), false);   // redraw, arrow cursor, on every return
//     ...
//   }

class CDrawDoc;

class TW_OPERATION_END {
 public:
  TW_OPERATION_END(CDrawDoc* doc, bool refreshPanel) : doc_(doc), refreshPanel_(refreshPanel) {}
  ~TW_OPERATION_END();
  TW_OPERATION_END(const TW_OPERATION_END&) = delete;
  TW_OPERATION_END& operator=(const TW_OPERATION_END&) = delete;

  // The document went away during the operation (closed): nothing to redraw.
  void Forget() { doc_ = nullptr; }
  void SetRefreshPanel(bool refresh) { refreshPanel_ = refresh; }

 private:
  CDrawDoc* doc_;
  bool refreshPanel_;
};

// The arrow cursor again (the wait cursor of long work ends).
void TW_RestoreArrowCursor();
