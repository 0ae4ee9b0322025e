// Operations that combine several layers into one result or split an ROI into perceived parts:
// atlas sharpening of a template, the atlas of probability maps, principal components, the joint
// histogram of two volumes and the unclumping of touching objects.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "DocMessages.h"
#include "ImageOpen.h"
#include "MultiLayerOperations.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include <algorithm>
#include <cmath>
#include <vector>

#include "Prompts.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "roi/LabelMaps.h"
#include "roi/MultiLayer.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace twk::roiops {

namespace {

// The volume layers of the set, marked or not, that pass the test, in layer order.
template <class Test>
std::vector<CVol*> layersWhere(const CDrawSet& set, Test&& test) {
  std::vector<CVol*> out;
  for (int i = 0; i < set.NumLayers(); ++i) {
    CVol* vol = set.GetLayerVol(i);
    if (vol && vol->frame && test(vol)) out.push_back(vol);
  }
  return out;
}

std::vector<const FRAME*> framesOf(const std::vector<CVol*>& vols) {
  std::vector<const FRAME*> frames;
  for (const CVol* v : vols) frames.push_back(v->frame);
  return frames;
}

// The ROI operand with the operand rule's bare messages for more than one candidate or none.
CVol* roiOperandOrMessage(CDrawSet& set) {
  int candidates = 0;
  CVol* roi = set.WorkVolROI(&candidates);
  if (!roi) {
    if (candidates > 1) twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    else if (set.IsVolumeSet()) twk::doc::message(nullptr, L"ROI is not present or enabled");
  }
  return roi;
}

}  // namespace

bool SharpenTemplateUsingAtlas(CDrawSet& set, bool /*unused*/) {
  const wchar_t* operation = L"CDrawSet::SharpenTemplateUsingAtlas";
  OperationEnd end(set.GetDocument(), true);
  const std::vector<CVol*> layers = layersWhere(set, [](const CVol*) { return true; });
  if (layers.size() != 2) {
    Named(operation, L"Exactly two raster layers should be present");
    return false;
  }
  if (!layers[0]->IsReal3D()) {
    Named(operation, L"first layer should be real3D");
    return false;
  }
  if (!layers[1]->IsINT3D()) {
    Named(operation, L"second layer should be int3D");
    return false;
  }
  FramePtr sharp(VA_SharpenTemplateUsingAtlas(layers[0]->frame, layers[1]->frame, true));
  if (!sharp) return false;
  return set.AddResultLayer(false, false, L"templ", layers[0], FrameHandOff(sharp), 100, 1, int(set.NewRoiColor()));
}

bool CombineProbMapsToAtlas(CDrawSet& set, bool /*unused*/) {
  OperationEnd end(set.GetDocument(), true);
  const std::vector<CVol*> maps = layersWhere(set, [](const CVol* v) { return v->IsReal3D(); });
  if (maps.size() < 2) {
    Named(L"CDrawSet::CombineProbMapsToAtlas", L"At least two probability layers are required");
    return false;
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const std::vector<const FRAME*> frames = framesOf(maps);
  FramePtr atlas(VA_CombineProbabMapsIntoAtlas(frames.data(), int(frames.size()), true));
  if (!atlas) return false;
  return set.AddResultLayer(false, false, L"atlas", set.GetBaseVol(), FrameHandOff(atlas), 100, 1, int(set.NewRoiColor()));
}

bool VolMultilayerPCA(CDrawSet& set, bool /*unused*/) {
  const wchar_t* operation = L"CDrawSet::VolMultilayerPCA";
  OperationEnd end(set.GetDocument(), true);
  const std::vector<CVol*> volumes = layersWhere(set, [](const CVol* v) { return !v->IsROI() && v->Is3D(); });
  if (volumes.size() < 2) {
    Named(operation, L"at least non-roi layers are required ");
    return false;
  }
  const int n = int(volumes.size());
  int k = n;
  if (!TW_SpecifyInt(L"Number of Principal Components to keep", &k)) return false;
  if (k < 1 || k > n) {
    Named(operation, L"Invalid number of components requested");
    return false;
  }
  CVol* templateVol = volumes[0];
  const std::vector<const FRAME*> frames = framesOf(volumes);
  FramePtr stack(VA_VolArrTo4D(frames.data(), n, true));
  if (!stack) return false;
  const FramePtr components(VA_Vol4DtoPCA(stack.get(), k, true));
  stack.reset();
  if (!components) return false;
  CDrawDoc* source = set.GetDocument();
  const CString title = source ? source->GetTitle() : CString(L"volume");
  const CString docName = PR_AddFileNameSfx(PR_GetFileTitleName(title), L"_PCA");
  // The last kept component opens the new document; the others follow down to the first.
  bool ok = false;
  CString full;
  FramePtr last(VA_VolCropTimepoint(components.get(), k - 1, true));
  CDrawDoc* doc = nullptr;
  if (last && GetFullPathCheckPresent(docName, &full)) {
    CVol* vol = templateVol->CloneByReformat(FrameHandOff(last));
    if (vol) {
      vol->name = full;
      doc = TW_CreateDocumentFromVolume(&vol);
      delete vol;
    }
  }
  last.reset();
  CDrawSet* target = doc ? doc->GetActiveSet() : nullptr;
  if (target && target->GetLayerVol(0)) {
    target->GetLayerVol(0)->name = FmtStr(L"pca component #%u", unsigned(k - 1));
    ok = true;
    for (int j = k - 2; j >= 0 && ok; --j) {
      FramePtr component(VA_VolCropTimepoint(components.get(), j, true));
      ok = component && target->AddResultLayer(true, true, FmtStr(L"pca component #%u", unsigned(j)), templateVol,
                                               FrameHandOff(component), 100, 0, int(target->NewRoiColor()));
    }
    doc->RedrawAllViews(true);
  }
  return ok;
}

bool GenerateTwoLayerJointHist(CDrawSet& set) {
  const wchar_t* operation = L"CDrawSet::GenerateTwoLayerJointHist";
  OperationEnd end(set.GetDocument(), true);
  const std::vector<CVol*> enabled = layersWhere(set, [&set](const CVol* v) { return set.IsLayerMarked(v); });
  if (enabled.size() < 2 || enabled.size() > 3) {
    Named(operation, L"2 or 3 enabled volume layers are required");
    return false;
  }
  std::vector<CVol*> signals;
  for (CVol* v : enabled)
    if (!v->IsROI()) signals.push_back(v);
  if (signals.size() != 2) {
    Named(operation, L"Two Non-Roi operands are expected");
    return false;
  }
  CVol* roi = nullptr;
  if (enabled.size() == 3) {
    if (!set.IsVolumeSet()) {
      twk::doc::message(nullptr, L"Volumetric Entity is required");
      return false;
    }
    if (!(roi = roiOperandOrMessage(set))) return false;
    if (!roi->Is3D()) {
      Named(operation, L"3D ROI is required");
      return false;
    }
  }
  int bins = 0;
  if (!TW_SpecifyInt(L"Number of bins", &bins)) return false;
  // Fewer than two bins make no histogram; more than 4096 squared would not fit in memory.
  if (bins < 2 || bins > 4096) {
    Named(operation, L"Number of bins should be within [2,4096] range");
    return false;
  }
  FramePtr joint(VA_CalcJointHist(signals[0]->frame, signals[1]->frame, roi ? roi->frame : nullptr, bins, true));
  if (!joint) return false;
  CString full;
  if (!GetFullPathCheckPresent(L"Joint Histogram", &full)) return false;
  const SPC unit{1.0, 1.0, 1.0};
  CVol* vol = signals[0]->CloneByReformat(FrameHandOff(joint), &unit);
  joint.reset();
  if (!vol) return false;
  vol->name = full;
  CDrawDoc* doc = TW_CreateDocumentFromVolume(&vol);
  delete vol;
  if (!doc) return false;
  if (CDrawSet* histogram = doc->GetActiveSet()) {
    if (CDrawVol* layer = histogram->GetLayer(0)) {
      layer->filter.scheme = 0;
      layer->filter.roiColor = 0;
    }
    for (CDrawView* view : doc->Views())
      if (VA_VOLPROJ* record = histogram->FindViewProjection(view))
        record->rotation[0] = record->rotation[1] = record->rotation[2] = 0;
  }
  doc->RedrawAllViews(false);
  return true;
}

bool RoiUnclumpComponents(CDrawSet& set, bool /*unused*/, int mode) {
  OperationEnd end(set.GetDocument(), true);
  CVol* roi = roiOperandOrMessage(set);
  if (!roi) return false;
  double peel = 0.0;
  if (!TW_EnterDouble(L"Peel (mm)", &peel)) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const double iso = std::min({roi->Vx(), roi->Vy(), roi->Vz()});
  const SPC spacing{iso, iso, iso};
  FramePtr labels(VA_RoiUnlump(roi->frame, &spacing, peel, VOID_VALUE, true));
  if (!labels) return false;
  if (mode == 0) return set.AddResultLayer(true, false, L"base", roi, FrameHandOff(labels), 100, 1, int(set.NewRoiColor()));
  double low = 0, high = 0;
  VA_VolMinMax(labels.get(), 0, nullptr, &low, &high);
  const int m = int(std::floor(high + 0.5));
  int count = 0;
  FRAME** regions = m >= 1 ? VA_AtlasSplit(labels.get(), nullptr, m + 1, nullptr, &count, true) : nullptr;
  labels.reset();
  if (!regions) return false;
  PR_DisplayInteger(L"Number of Regions created", count);
  twk::ProgressGuard progress(L"Adding layers", true);
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    // Esc keeps the layers added so far and the source ROI.
    if (!progress.Step(i, count, 1, 98)) {
      ok = false;
      break;
    }
    ok = set.AddResultLayer(false, false, FmtStr(L"region %u", unsigned(i)), roi, &regions[i], 20, 0,
                            int(set.NewRoiColor()));
  }
  if (ok) set.DeleteLayerVol(&roi);
  progress.End();
  PR_FrameArrDelete(&regions, count);
  return ok;
}

}  // namespace twk::roiops
