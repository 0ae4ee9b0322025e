// Merging the VIBE volume of one document with the GRASP series of the other open document.
#include <cmath>

#include "DocMessages.h"
#include "TwkMem.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "ImageOpen.h"
#include "LayerMerge.h"
#include "Prompts.h"
#include "Vol.h"
#include "seriesmerge/VibeGraspMerge.h"
#include "volume/Frame.h"

// The merge parameters, kept between runs.
VA_VIBEGRASPPARMS& TW_VibeGraspParms() {
  static VA_VIBEGRASPPARMS parms;
  return parms;
}

namespace twk::files {

bool ConcatenateVibeGrasp(CDrawSet& set) {
  const wchar_t* fn = L"CDrawSet::ConcatenateVibeGrasp";
  int documents = 0;
  CDrawDoc** all = TW_GetAllDocuments(&documents);
  pf_free(&all);
  if (documents != 2) {
    twk::doc::message(fn, L"Exactly two open documents are required");
    return false;
  }
  CVol* vibe = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolSIandROI(false, false, false, &vibe, &roi) || !vibe) return false;
  if (!roi && !twk::askYesNo(L"Normalization ROI over VIBE is not present.\nProceed anyway?")) return false;
  CDrawDoc* self = set.GetDocument();
  CDrawDoc* other = TW_LocateAnotherVolumetricDoc(&self, 1, nullptr);
  CVol* grasp = other ? CDrawSet::WorkVolSI(other->GetActiveSet()) : nullptr;
  if (!grasp) return false;

  VA_VIBEGRASPPARMS& parms = TW_VibeGraspParms();
  double axis = parms.axis, rotation = parms.rotation;
  if (!TW_SpecifyTwoDouble(L"Initial Rotation", L"Axis (0,1,2)", &axis, L"Rotation (deg)", &rotation)) return false;
  parms.axis = int32_t(std::floor(axis + 0.5));
  parms.rotation = rotation;
  if (!TW_EnterDouble(L"Alignment max translation (mm)", &parms.maxTranslation)) return false;
  int frames = parms.graspFrames;
  if (!TW_SpecifyInt(L"Number GRASP frames to average", &frames)) return false;
  parms.graspFrames = frames;

  CVol* merged = VA_VibeGraspMerge(&parms, nullptr, vibe, roi, grasp, true);
  if (!merged) return false;
  CDrawDoc* doc = TW_CreateDocumentFromVolume(&merged);
  delete merged;
  if (!doc) return false;
  if (!roi) return true;
  FramePtr copy(VA_VolClone(roi->frame));
  CDrawSet* mergedSet = doc->GetActiveSet();
  bool ok = false;
  if (copy && mergedSet) {
    FRAME* handed = copy.release();
    ok = mergedSet->AddResultLayerNewGeometry(vibe, true, L"norm layer", &handed, 100, 0, -1);
    copy.reset(handed);  // what the layer did not take
  }
  doc->RedrawAllViews(true);
  return ok;
}

}  // namespace twk::files

CDrawDoc* TW_GetDocumentWithNameParts(const wchar_t* part) {
  int count = 0;
  CDrawDoc** all = TW_GetAllDocuments(&count);
  CString wanted = part ? part : L"";
  wanted.MakeLower();
  CDrawDoc* found = nullptr;
  int matches = 0;
  for (int i = 0; i < count; ++i) {
    CString title = all[i]->GetTitle();
    title.MakeLower();
    if (title.Find(L"atlas") < 0 || (!wanted.IsEmpty() && title.Find(wanted) < 0)) continue;
    found = all[i];
    ++matches;
  }
  pf_free(&all);
  if (matches > 1) {
    twk::doc::message(L"TW_GetDocumentWithNameParts", L"More than one suitable document is present");
    return nullptr;
  }
  return found;
}
