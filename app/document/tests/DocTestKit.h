#pragma once
// Small fixtures for the document tests: volumes of a given kind and size, sets built from them,
// and a view that counts its repaints.

#include <string>
#include <vector>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "Vol.h"
#include "volume/Frame.h"

namespace twk::testkit {

inline CVol* makeVol(FRMTYPE type, int w, int h, int d, int t, const wchar_t* name = L"vol", int modality = 1,
                     int bpv = 0) {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, bpv, DIM3D{w, h, d, t}, true);
  vol->name = name;
  vol->modality = modality;
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(t) * int64_t(sizeof(DYNCRD))));
  return vol;
}

// A layer holding vol with a fixed window (no window computation needed).
inline CDrawVol* makeLayer(CVol* vol, bool marked = true) {
  auto* layer = new CDrawVol;
  PR_VIEWFILT filter;
  filter.level = 100;
  filter.width = 200;
  layer->Init(&vol, &filter, false);
  layer->SetMarked(marked);
  return layer;
}

// A document whose only object is a set of the given layers.
inline CDrawSet* addSet(CDrawDoc* doc, const std::vector<CDrawVol*>& layers) {
  auto* set = new CDrawSet(doc);
  for (CDrawVol* layer : layers) set->AppendLayer(layer);
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  return set;
}

class CountingView : public CDrawView {
 public:
  explicit CountingView(std::vector<CountingView*>* log = nullptr) : log_(log) {}
  void RedrawNow() override {
    ++redraws;
    if (log_) log_->push_back(this);
  }
  void ZoomAll() override { ++zooms; }
  int redraws = 0;
  int zooms = 0;

 private:
  std::vector<CountingView*>* log_;
};

}  // namespace twk::testkit
