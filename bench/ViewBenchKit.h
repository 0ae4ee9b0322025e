#pragma once
// What the view benchmarks share: a Gui application on the offscreen platform, a view without a
// window, and a volume layer of a frame at the world rectangle (0, 0, 512, 512).

#include <QGuiApplication>

#include <cstdlib>

#include "DrawDoc.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"

namespace twk::viewbench {

inline void ensureApp() {
  static int argc = 1;
  static char name[] = "bench_view";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
}

class BenchView : public CDrawView {
 public:
  BenchView(CDrawDoc* doc, int w, int h) {
    clientWidth = w;
    clientHeight = h;
    doc->AddView(this);
  }
  ~BenchView() override {
    if (GetDocument()) GetDocument()->RemoveView(this);
  }
  void RedrawNow() override {}
  void ZoomAll() override { ZoomAllObjects(); }
};

// The frame (taken) as a layer with this window and opacity.
inline CDrawVol* layerOf(FRAME* frame, double level, double width, int opacity) {
  auto* vol = new CVol;
  vol->frame = frame;
  vol->name = L"bench";
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(frame->dim.t) * int64_t(sizeof(DYNCRD))));
  auto* layer = new CDrawVol;
  PR_VIEWFILT f;
  f.level = level;
  f.width = width;
  layer->Init(&vol, &f, false);
  layer->opacity = opacity;
  layer->position = DRECT{0, 0, 512, 512};
  return layer;
}

}  // namespace twk::viewbench
