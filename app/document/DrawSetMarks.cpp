// The counts and checks of a layer set's marked layers that the Layers panel shows and the two-ROI
// commands and the export of marked layers rely on.
#include <vector>

#include "DocMessages.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "Vol.h"
#include "paths/FilePaths.h"

namespace {

bool isRoiLayer(const CDrawVol* layer) { return layer && layer->vol && layer->vol->frame && layer->vol->IsROI(); }

}  // namespace

int CDrawSet::NumMarkedLayers() const {
  int n = 0;
  for (int i = 0; i < NumLayers(); ++i)
    if (GetLayer(i)->IsMarked()) ++n;
  return n;
}

int CDrawSet::NumMarkedRoiLayers() const {
  int n = 0;
  for (int i = 0; i < NumLayers(); ++i)
    if (GetLayer(i)->IsMarked() && isRoiLayer(GetLayer(i))) ++n;
  return n;
}

bool CDrawSet::GetTwoMarkedROIs(CVol** first, CVol** second) const {
  CVol* found[2] = {nullptr, nullptr};
  int n = 0;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (!layer->IsMarked() || !isRoiLayer(layer)) continue;
    if (n < 2) found[n] = layer->vol;
    ++n;
  }
  if (n != 2) {
    twk::doc::message(L"CDrawSet::GetTwoMarkedROIs", L"Two ROIs are required");
    return false;
  }
  if (first) *first = found[0];
  if (second) *second = found[1];
  return true;
}

bool CDrawSet::CheckUniqueLayerNames(bool markedOnly, CString* duplicate) const {
  std::vector<CString> names;
  for (int i = 0; i < NumLayers(); ++i) {
    const CDrawVol* layer = GetLayer(i);
    if (markedOnly && !layer->IsMarked()) continue;
    names.push_back(layer->vol ? PR_GetFileTitleName(layer->vol->name) : CString());
  }
  for (size_t i = 0; i < names.size(); ++i)
    for (size_t j = i + 1; j < names.size(); ++j)
      if (names[i] == names[j]) {
        if (duplicate) *duplicate = names[i];
        return false;
      }
  if (duplicate) duplicate->Empty();
  return true;
}
