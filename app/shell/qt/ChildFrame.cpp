#include "ChildFrame.h"

#include <QCloseEvent>

#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawViewWidget.h"
#include "ProgressPump.h"

CChildFrame::CChildFrame(CDrawDoc* doc, QWidget* parent) : QMdiSubWindow(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  view_ = new CDrawViewWidget(doc, this);
  view_->setObjectName(QStringLiteral("DrawView"));
  setWidget(view_);
  if (doc) setWindowTitle(QString::fromStdWString(doc->GetTitle().wstr()));
  resize(480, 400);
}

CChildFrame::~CChildFrame() {
  CDrawDoc* doc = Document();
  // The view leaves its document before the document may go.
  delete view_;
  view_ = nullptr;
  if (doc && doc->Views().empty())
    if (CDrawApp* app = CDrawApp::Get()) app->OnLastViewClosed(doc);
}

CDrawView* CChildFrame::View() const { return view_; }

CDrawDoc* CChildFrame::Document() const { return view_ ? view_->GetDocument() : nullptr; }

CChildFrame* CChildFrame::OfView(const CDrawView* view) {
  auto* widget = dynamic_cast<const CDrawViewWidget*>(view);
  if (!widget) return nullptr;
  for (QWidget* w = widget->parentWidget(); w; w = w->parentWidget())
    if (auto* frame = qobject_cast<CChildFrame*>(w)) return frame;
  return nullptr;
}

void CChildFrame::ActivateView(bool activate) {
  if (view_) view_->OnActivateView(activate);
}

void CChildFrame::CloseWithoutQuestion() {
  noQuestion_ = true;
  close();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  if (TW_PumpRunning()) {
    event->ignore();
    return;
  }
  CDrawDoc* doc = Document();
  // The last window of a document closes the document: ask first.
  if (!noQuestion_ && doc && doc->Views().size() == 1 && !doc->SaveModified()) {
    event->ignore();
    return;
  }
  QMdiSubWindow::closeEvent(event);
}
