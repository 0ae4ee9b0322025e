// "Open TAC as 4D": a curve file as a synthetic 4D document (see TacVolume.h).

#include "TacVolume.h"

#include <memory>

#include "ConcConv.h"
#include "DrawDoc.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "ParameterDialog.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dynamics/Dynamics.h"
#include "geometry/Dynamic4D.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

bool TW_DlgTacVolume(DIM3D* dims, double* noise) {
  if (!dims || !noise) return false;
  // Every run starts from the defaults.
  int32_t width = 32, height = 32, depth = 1;
  double percent = 0;
  TW_DIALOG d(L"TAC Volume Attributes", L"CDlgTacVolume");
  d.Integer(L"Width", &width, 1, 10000);
  d.Integer(L"Height", &height, 1, 10000);
  d.Integer(L"Depth", &depth, 1, 10000);
  d.Real(L"Noise [0,100]%", &percent, 0, 30000);
  if (!TW_RunDialog(d)) return false;
  *dims = DIM3D{width, height, depth, 1};
  *noise = percent;
  return true;
}

CDrawDoc* TW_OpenTacAs4D(int modality, const wchar_t* path, bool silent) {
  constexpr const wchar_t* kName = L"TW_OpenTacAs4D";
  CString file(path ? path : L"");
  if (file.IsEmpty()) {
    static CString folder;
    CString extension;
    int filterIndex = 0;
    if (!TW_GetFileLoadName(TW_FILTER_TAC, &folder, &filterIndex, &extension, &file)) return nullptr;
  }
  CString header;
  double *times = nullptr, *values = nullptr;
  int count = 0;
  if (!PR_LoadTacFile(file.GetString(), &header, &times, &count, &values, false)) {
    twk::showNamedError(kName, L"Failed to load Dynamic Activity Curve");
    return nullptr;
  }
  struct Arrays {
    double** times;
    double** values;
    ~Arrays() {
      pf_free(times);
      pf_free(values);
    }
  } arrays{&times, &values};
  if (count == 0) {
    twk::showNamedError(kName, L"Invalid TAC text file");
    return nullptr;
  }
  DIM3D dims{1, 1, 1, 1};
  double noise = 0;
  if (!silent) {
    if (!TW_DlgTacVolume(&dims, &noise)) return nullptr;
    noise *= 0.01;
  }
  dims.t = count;

  twk::ProgressGuard progress(L"Open TAC as 4D", true);
  auto vol = std::make_unique<CVol>();
  vol->frame = VA_VolumeCreateFromTAC(values, count, dims, noise);
  if (!vol->frame) return nullptr;
  vol->name = PR_GetFileTitleName(file.GetString());
  DYNCRD* dyn = VA_AllocDynCrd(count);
  if (!dyn) return nullptr;
  for (int k = 0; k < count; ++k) dyn[k].time = dyn[k].timeEnd = times[k];
  const bool placed = vol->SetDynamicCoords(dyn, count);
  pf_free(&dyn);
  if (!placed) return nullptr;
  unsigned chosen = unsigned(modality);
  if (modality == MODALITY_UNKNOWN && !TW_SpecifyModality(&chosen)) return nullptr;
  if (!vol->SetModality(int(chosen))) return nullptr;
  CDrawDoc* doc = TW_CreateDocumentByClone(vol->name.GetString(), vol.get(), nullptr, nullptr, nullptr, false);
  if (!doc) return nullptr;
  doc->RedrawAllViews(false);
  return doc;
}
