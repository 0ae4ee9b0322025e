// The organ recipes and reports of the layer sets: the heart of a chest CT, cartilage beside a bone
// mask, segments along a pancreas's axis, the structure graph of an ROI slice, and the reports over
// all open documents.
#include "OrganOperations.h"

#include <vector>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawShapes.h"
#include "DrawVol.h"
#include "Prompts.h"
#include "SegOperationEnd.h"
#include "TwkMem.h"
#include "VolProj.h"
#include "trace/MagTrace.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "roi/OrganRecipes.h"
#include "volume/Frame.h"

namespace {

bool showReport(const CString& text) { return PR_NotepadExeOpenString(TW_Options().tempFolder, text); }

// The time point a document's active (or first) view shows; without a view, 0 after its message.
int documentTime(CDrawDoc* doc) {
  CDrawView* view = doc->GetActiveOrFirstView();
  if (!view) {
    twk::doc::message(L"CDrawView::CurrentTime", L"NULL View is not allowed in this operation");
    return 0;
  }
  return std::max(0, view->CurrentTime());
}

std::vector<CDrawDoc*> allDocuments() {
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  std::vector<CDrawDoc*> out(docs, docs + count);
  pf_free(&docs);
  return out;
}

}  // namespace

namespace twk::seg {

bool DetectCartilage(CDrawSet& set) {
  if (!set.IsVolumeSet()) return false;
  RedrawAtEnd end{set.GetDocument()};
  CVol* volume = nullptr;
  CVol* bone = nullptr;
  if (!set.WorkVolNonROIandROI(false, false, true, &volume, &bone)) return false;
  double coefficient = 2.0, thickness = 5.0;
  if (!TW_SpecifyTwoDouble(L"Cartilage detection", L"Signal coefficient x bone average", &coefficient,
                           L"Max thickness (mm)", &thickness))
    return false;
  const VA_GETCARTILAGE record{thickness, coefficient};
  FramePtr cartilage(
      VA_VolDetectCartilageFromFemurAndTibia3(&record, volume->frame, bone->frame, &volume->spc, true));
  if (!cartilage) return false;
  const CDrawVol* boneLayer = set.GetLayerOfVol(bone);
  return set.AddResultLayer(false, false, L"cartilage", volume, FrameHandOff(cartilage),
                            boneLayer ? boneLayer->opacity : 20, 0, int(set.NewRoiColor()));
}

bool Pancreas_MeasurementAlongCentralAxis(CDrawSet& set) {
  const wchar_t* where = L"CDrawSet::Pancreas_MeasurementAlongCentralAxis";
  if (!set.IsVolumeSet()) return false;
  RedrawAtEnd end{set.GetDocument()};
  CVol* roi = set.WorkVolRoiFirstMarked();
  if (!roi) {
    twk::doc::message(where, L"ROI is not present or enabled");
    return false;
  }
  CVol* volume = set.WorkVolNonRoi();
  if (!volume) return false;
  int segments = 21;
  if (!TW_SpecifyInt(L"Number of Segments", &segments)) return false;
  if (segments < 2) {
    twk::doc::message(where, L"At least 2 segments are expected");
    return false;
  }
  double orientation[6];
  if (!volume->GetOrientation(orientation)) return false;
  CString measurements;
  FramePtr layers(VA_RoiLongestAxis_MeasureNonopverlappingSegments(volume, roi, orientation, segments,
                                                                    VA_AXISSTART_THICKER, &measurements, true));
  if (!layers) return false;
  if (!set.AddResultLayer(false, false, L"layers", roi, FrameHandOff(layers), 50, 1, int(set.NewRoiColor())))
    return false;
  CDrawDoc* doc = set.GetDocument();
  const CString text = (doc ? PR_GetFileTitle(doc->GetPathName()) : CString()) + L"\n" + measurements;
  showReport(text);
  PR_CopyStrToClipboard(text.GetString());
  return true;
}

bool AllDocumentsMeanOverRois() {
  const std::vector<CDrawDoc*> docs = allDocuments();
  if (docs.empty()) return false;
  CString text;
  for (CDrawDoc* doc : docs) {
    CDrawSet* set = doc->GetActiveSet();
    if (!set) continue;
    text += doc->GetTitle() + L"\n";
    const int t = documentTime(doc);
    std::vector<const CVol*> volumes, rois;
    for (int i = 0; i < set->NumLayers(); ++i) {
      CVol* vol = set->GetLayerVol(i);
      if (!vol || !vol->frame || !set->IsLayerMarked(vol)) continue;
      if (vol->IsReal()) volumes.push_back(vol);
      else if (vol->IsROI3D()) rois.push_back(vol);
    }
    if (volumes.empty()) continue;
    CString part;
    if (!VA_CalcMeanOverAllRois(t, volumes.data(), int(volumes.size()), rois.data(), int(rois.size()), &part, true))
      return false;
    text += part + L"\n";
  }
  showReport(text);
  return true;
}

bool AllDocumentsIrregularity2D() {
  const std::vector<CDrawDoc*> docs = allDocuments();
  if (docs.empty()) return false;
  CString text;
  for (CDrawDoc* doc : docs) {
    text += FmtStr(L"%s\nLayer\tIrregularity2D\t\n", doc->GetTitle().GetString());
    if (CDrawSet* set = doc->GetActiveSet())
      for (int i = 0; i < set->NumLayers(); ++i) {
        CVol* vol = set->GetLayerVol(i);
        if (!vol || !vol->frame || !set->IsLayerMarked(vol) || !vol->IsReal3D()) continue;
        double value = 0;
        if (!VA_VolVicIrregularity2D(vol->frame, &value)) return false;
        text += FmtStr(L"%s:\t%e\n", PR_GetFileTitle(vol->name).GetString(), value);
      }
    text += L"\n";
  }
  showReport(text);
  return true;
}

bool SegmentHeartCT(CDrawSet& set, CDrawView* view) {
  const wchar_t* where = L"CDrawSet::SegmentHeartCT";
  if (!set.IsVolumeSet()) return false;
  RedrawAtEnd end{set.GetDocument()};
  if (set.NumLayers() != 3) {
    twk::doc::message(where, L"3 layers are expected");
    return false;
  }
  CVol* ct = set.GetLayerVol(0);
  if (!ct || !ct->frame || !ct->Is3D() || ct->IsROI() || !ct->IsCT()) {
    twk::doc::message(where, L"3D CT layer is expected");
    return false;
  }
  const int plane = ct->GetMajorProjType(view ? view->GetProjection() : nullptr);
  if (plane < 0) return false;
  if (plane != 1) {
    twk::doc::message(where, L"Axial projection is expected");
    return false;
  }
  CVol* lung1 = set.GetLayerVol(1);
  CVol* lung2 = set.GetLayerVol(2);
  if (!lung1 || !lung1->frame || !lung1->IsROI3D() || !lung2 || !lung2->frame || !lung2->IsROI3D()) {
    twk::doc::message(where, L"3D lung ROI is expected");
    return false;
  }
  const VA_HEARTSEGCT record{1400, 5.0, 8.0};
  FramePtr heart(VA_VolSegmentHeartCT(&record, ct, lung1, lung2, true));
  if (!heart) return false;
  return set.AddResultLayer(false, false, L"heart mask", lung1, FrameHandOff(heart), -1, 0,
                            int(set.NewRoiColor()));
}

bool CurrentSliceStructureGraph(CDrawSet& set, CDrawView* view) {
  if (!set.IsVolumeSet() || !view) return false;
  RedrawAtEnd end{set.GetDocument()};
  int filmSlice = 0;
  if (view->IsFilmView(&filmSlice)) {
    twk::doc::message(L"CDrawSet::CurrentSliceStructureGraph", L"Film View is not allowed");
    return false;
  }
  CVol* roi = set.WorkVolRoiFirstMarked();
  if (!roi || !roi->frame) return false;
  const VA_VOLPROJ* proj = view->GetProjection();
  FramePtr slice(VA_VolCropSlice(roi->frame, proj ? proj->slice : 0, proj ? roi->effT(proj->timeIndex) : 0));
  if (!slice) return false;
  VA_STRUCGRAPHPARM parameters;
  if (!TW_EnterDouble(L"Triangle size threshold", &parameters.sizeThreshold)) return false;
  int count = 0;
  TRINODE* triangles = VA_RoiSliceStructureGraph(&parameters, slice.get(), &count);
  slice.reset();
  if (!triangles) return false;
  CDrawDoc* doc = set.GetDocument();
  if (!doc) {
    pf_free(&triangles);
    return false;
  }
  doc->SetModifiedFlag();
  view->ZoomAll();
  double plane[3] = {0, 0, 0};
  if (proj) std::copy(proj->rotation, proj->rotation + 3, plane);
  const double left = view->worldLeft, top = view->worldTop;
  for (int i = 0; i < count; ++i) {
    const TRINODE& t = triangles[i];
    auto* poly = new CDrawPoly(1, 4, false, 0, false, proj ? proj->slice : 0, plane);
    if (!poly->points) {
      delete poly;
      break;
    }
    for (int k = 0; k <= 3; ++k) poly->points[k] = DPOINT{t.x[k % 3] + left, top - t.y[k % 3]};
    poly->pointsPerContour[0] = 4;
    poly->style.lineColor = 0x0000FF;
    if (t.neighbour[0] != VA_TRINODE_NONE && t.neighbour[1] != VA_TRINODE_NONE && t.neighbour[2] != VA_TRINODE_NONE) {
      poly->style.fillColor = 0xFF0000;
      poly->style.filled = 1;
    }
    poly->document = doc;
    CDrawObj* obj = poly;
    doc->AddObject(&obj, true);
    doc->SetModifiedFlag();
  }
  pf_free(&triangles);
  return true;
}

}  // namespace twk::seg
