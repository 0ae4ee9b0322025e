// Radiomics tables and the N-tuple export of parametric maps.
#include "RadiomicsOperations.h"

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "OperationScope.h"
#include "TwkMem.h"
#include "Vol.h"
#include "filters/MapExport.h"
#include "filters/Radiomics.h"
#include "paths/ValueText.h"

#include <vector>

namespace twk::filterops {

bool Radiomics2Dfeatures(CDrawSet& set, bool silent, CDrawView* view, bool allRois) {
  const wchar_t* operation = L"CDrawSet::Radiomics2Dfeatures";
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  CVol* roi = nullptr;
  if (!set.WorkVolROI_SingleOptional(&roi)) return false;
  std::vector<CVol*> rois;
  if (allRois) {
    CVol** markedRois = nullptr;
    int count = 0;
    if (set.GetMarkedRoiLayers(true, false, &markedRois, &count)) rois.assign(markedRois, markedRois + count);
    pf_free(&markedRois);
    if (rois.empty()) {
      Named(operation, L"Several marked ROIs are expected");
      return false;
    }
  } else if (roi) {
    rois.push_back(roi);
  }
  VA_PARM_RADIOM2D* record = vol->IsReal() ? &g_Radiom2DReal : &g_Radiom2DInt;
  const int t = view ? view->CurrentTime() : 0;
  const CDrawVol* roiLayer = roi ? set.GetLayerOfVol(roi) : nullptr;
  const int colour = roiLayer ? int(roiLayer->filter.roiColor) : 255;
  if (!TW_DlgRadiomics2D(silent, vol, t, roi, colour, record)) return false;
  CString text;
  if (!VA_VolumeRadiomics2D(record, nullptr, vol, t, rois.data(), int(rois.size()), &text, true)) return false;
  if (record->toFile) PR_NotepadExeOpenString(TW_Options().tempFolder, text);
  if (record->toClipboard) PR_CopyStrToClipboard(text.GetString());
  return true;
}

bool OutputParamMapNtupleFile(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  std::vector<CVol*> maps;
  for (int i = 0; i < set.NumLayers(); ++i) {
    CVol* v = set.GetLayerVol(i);
    if (v && v->frame && set.IsLayerMarked(v) && v->IsReal3D()) maps.push_back(v);
  }
  if (maps.size() < 2) {
    Named(L"CDrawSet::OutputParamMapNtupleFile", L"At least two REAL volumes are required");
    return false;
  }
  CVol* roi = nullptr;
  if (!set.WorkVolROI_SingleOptional(&roi)) return false;
  CString folder = TW_Options().currentWorkFolder, extension, path;
  int filterIndex = 0;
  if (!TW_GetFileSaveName(5, &folder, &filterIndex, &extension, &path)) return false;
  const bool coordinates = PR_AskYesNo(L"Include coordinate info?");
  return VA_SaveParamMapNtupleFile(coordinates, path, maps.data(), int(maps.size()), roi, true);
}

}  // namespace twk::filterops
