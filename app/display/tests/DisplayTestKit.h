#pragma once
// Fixtures of the display tests: a Qt application for painting, volumes filled by a function,
// documents with one layer set, and a view that keeps its geometry without a window.

#include <QApplication>

#include <cstdlib>
#include <functional>
#include <vector>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace twk::displaytest {

// Painting needs a Gui application (fonts) and dialogs a Widgets one: one QApplication serves both;
// tests run on the offscreen platform.
inline QApplication& guiApp() {
  static int argc = 1;
  static char name[] = "display_test";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

inline CVol* makeVol(FRMTYPE type, int bpv, DIM3D dims, const std::function<double(int, int, int, int)>& value,
                     const wchar_t* name = L"/data/vol.nii") {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, bpv, dims, true);
  vol->name = name;
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(dims.t) * int64_t(sizeof(DYNCRD))));
  for (int i = 0; i < dims.t; ++i) vol->dyn[i].time = i;
  if (value)
    for (int t = 0; t < dims.t; ++t)
      for (int z = 0; z < dims.d; ++z)
        for (int y = 0; y < dims.h; ++y)
          for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, t, value(x, y, z, t));
  return vol;
}

inline CDrawVol* makeLayer(CVol* vol, double level, double width, int opacity = 100) {
  auto* layer = new CDrawVol;
  PR_VIEWFILT filter;
  filter.level = level;
  filter.width = width;
  layer->Init(&vol, &filter, false);
  layer->filter.level = level;
  layer->filter.width = width;
  layer->opacity = opacity;
  return layer;
}

// A set of the layers at world rectangle (0, 0, w, h) appended to the document.
inline CDrawSet* addSet(CDrawDoc* doc, const std::vector<CDrawVol*>& layers, DRECT world) {
  auto* set = new CDrawSet(doc);
  for (CDrawVol* layer : layers) {
    set->AppendLayer(layer);
    layer->position = world;
  }
  set->position = world;
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  set->position = world;
  return set;
}

// A view without a window: a client size, repaint counters.
class TestView : public CDrawView {
 public:
  TestView(CDrawDoc* doc, int w, int h) {
    clientWidth = w;
    clientHeight = h;
    if (doc) doc->AddView(this);
  }
  ~TestView() override {
    if (GetDocument()) GetDocument()->RemoveView(this);
  }
  void RedrawNow() override { ++redraws; }
  void ZoomAll() override { ZoomAllObjects(); }
  void InvalidateClient() override { ++invalidations; }
  // Records in every volume set, as the view's initial update makes them.
  void InitialUpdate() {
    for (CDrawObj* obj : GetDocument()->objects)
      if (obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVolumeSet())
        static_cast<CDrawSet*>(obj)->AddViewProjection(this);
  }
  int redraws = 0, invalidations = 0;
};

}  // namespace twk::displaytest
