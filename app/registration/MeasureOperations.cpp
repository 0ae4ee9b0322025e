// Layer comparison measurements: two marked layers of a set against each other, optionally over an
// ROI, and the total variation of every marked layer. Nothing is added to or changed in the document.
#include "MeasureOperations.h"

#include <algorithm>
#include <vector>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawSet.h"
#include "RoiOperationFrame.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "registration/Measures.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"

namespace {

constexpr const wchar_t* kSingle = L"CDrawSet::SingleMeasurement";

// Display names of the registration measures 3 and 4 used here.
const wchar_t* mutualInfoName(int measure) { return measure == 3 ? L"Mutual Info" : L"Mutual Info Normalized"; }

// The marked layers of the set, in layer order, that are (roi) or are not (!roi) regions of interest.
std::vector<CVol*> markedLayers(const CDrawSet& set, bool roi) {
  std::vector<CVol*> out;
  for (int i = 0; i < set.NumLayers(); ++i) {
    const CDrawVol* layer = set.GetLayer(i);
    if (layer && layer->IsMarked() && layer->vol && layer->vol->frame && layer->vol->IsROI() == roi)
      out.push_back(layer->vol);
  }
  return out;
}

}  // namespace

namespace twk::registration {

bool SingleMeasurement(CDrawSet& set, CDrawView*, int code) {
  if (code == 18) {
    const std::vector<CVol*> rois = markedLayers(set, true);
    if (rois.size() != 2) {
      twk::doc::message(kSingle, L"Two marked ROIs are required");
      return false;
    }
    const DIM3D& a = rois[0]->frame->dim;
    const DIM3D& b = rois[1]->frame->dim;
    if (a.w != b.w || a.h != b.h || a.d != b.d) {
      twk::doc::message(kSingle, L"Equal dimensions are expected");
      return false;
    }
    const FramePtr difference(VA_RoisXOR(rois[0]->frame, rois[1]->frame, true));
    if (!difference) return false;
    int64_t count = 0;
    if (!VA_RoiNumVox(difference.get(), -1, -1, &count)) return false;
    twk::doc::message(kSingle, FmtStr(L"Roi difference = %u voxels", unsigned(count)), MB_OK | MB_ICONINFORMATION);
    return true;
  }
  if (code != 0 && code != 16 && code != 17 && code != 19) return false;
  const int markedCount = set.NumMarkedLayers();
  if (markedCount != 2 && markedCount != 3) {
    twk::doc::message(kSingle, L"2 or 3 enabled volume layers are required");
    return false;
  }
  // The ROI of three marked layers, by the operand rule (its messages stand alone).
  CVol* roi = nullptr;
  if (code == 0 && markedCount == 3 && !(roi = twk::roiops::RoiOperand(&set))) return false;
  std::vector<CVol*> volumes = markedLayers(set, false);
  if (volumes.size() != 2) {
    twk::doc::message(kSingle, L"Two Non-Roi operands are expected");
    return false;
  }
  if (code == 0) {
    const FRAME* frames[2] = {volumes[0]->frame, volumes[1]->frame};
    double value = 0;
    if (!VA_VolumeSingleMeasurement(2, frames, roi ? roi->frame : nullptr, VA_SINGLEMEASURE_RMSD, &value, true))
      return false;
    twk::doc::message(kSingle, FmtStr(roi ? L"RMSD over the ROI = %e" : L"RMSD = %e", value),
                      MB_OK | MB_ICONINFORMATION);
    return true;
  }
  if (markedCount == 3) {
    if (!(roi = twk::roiops::RoiOperand(&set))) return false;
    if (roi->T() != 1) {
      twk::doc::message(kSingle, L"3D ROI is required");
      return false;
    }
  }
  if (code == 19) {
    if (volumes[0]->T() != 1 || volumes[1]->T() != 1) {
      twk::doc::message(kSingle, L"3D volume is required");
      return false;
    }
    double value = 0;
    if (!VA_VolCalcZNCC(volumes[0]->frame, volumes[1]->frame, roi ? roi->frame : nullptr, &value, true)) return false;
    PR_DisplayDoubleValue(L"Zero normalized Cross Correlation", value);
    return true;
  }
  // Mutual information per time point; the volume with fewer time points first. Two 4D series
  // must have equal time-point counts: pairing time points of unequal series would compare
  // unrelated frames.
  if (volumes[0]->T() > volumes[1]->T()) std::swap(volumes[0], volumes[1]);
  const int T = volumes[1]->T();
  if (volumes[0]->T() != 1 && volumes[0]->T() != T) {
    twk::doc::message(kSingle, L"Equal numbers of time points are expected");
    return false;
  }
  const int measure = code == 16 ? 3 : 4;
  CString report = roi ? FmtStr(L"%s : %s : over %s\n", (const wchar_t*)volumes[0]->name,
                                (const wchar_t*)volumes[1]->name, (const wchar_t*)roi->name)
                       : FmtStr(L"%s : %s\n", (const wchar_t*)volumes[0]->name, (const wchar_t*)volumes[1]->name);
  report += FmtStr(L"Measurement of %s\n", mutualInfoName(measure));
  {
    twk::ProgressGuard progress(CString(L"Measure ") + mutualInfoName(measure), true);
    for (int t = 0; t < T; ++t) {
      PR_SendMessageInterval(1, 98, t, T, true);
      double value = 0;
      if (!VA_VolPairCalculateMutualInfoOverROI(measure, volumes[0]->frame, volumes[1]->frame,
                                                roi ? roi->frame : nullptr, t, &value, true))
        return false;
      report += FmtStr(L"t%u\t%e\n", unsigned(t), value);
    }
  }
  PR_NotepadExeOpenString(TW_Options().tempFolder, report);
  return true;
}

bool MeasureTVTable(CDrawSet& set) {
  CString table = L"name\tTV\n";
  for (int i = 0; i < set.NumLayers(); ++i) {
    const CDrawVol* layer = set.GetLayer(i);
    if (!layer || !layer->IsMarked() || !layer->vol || !layer->vol->frame || layer->vol->IsROI()) continue;
    double value = 0;
    if (!VA_VolMeasureTV(true, layer->vol->frame, &value, true)) return false;
    table += FmtStr(L"%s\t%e\n", (const wchar_t*)PR_GetFileTitleName(layer->vol->name), value);
  }
  twk::doc::information(table);
  return true;
}

}  // namespace twk::registration
