// Volumes moved into another grid without optimisation: by a transform file (".vtf"), by a
// flow-field file (".fff") and by the patient geometry (DICOM orientation and positions) of two
// documents. The transform-file results always go into a new document; the source is unchanged.
// The active layer's alignment goes into a transform file.
#include "TransformOperations.h"

#include <memory>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "GeometryOperations.h"
#include "ImageOpen.h"
#include "ParameterDialog.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "registration/DicomTransform.h"
#include "registration/Reslice.h"
#include "registration/Transform.h"
#include "registration/TransformFiles.h"
#include "volume/Frame.h"

VTFTASKPARM g_VtfTransformTask{1, 1, 50, {}};
VTFTASKPARM g_FlowFieldTransformTask{1, 0, 50, {}};

void TW_InitTransformTaskDefaults() {
  g_VtfTransformTask = VTFTASKPARM{};
  g_VtfTransformTask.gaussianDownscale = 1;
  g_FlowFieldTransformTask = VTFTASKPARM{};
  g_FlowFieldTransformTask.gaussianDownscale = 0;
}

bool TW_DlgVtfTransform(int kind, VTFTASKPARM* record) {
  if (!record || (kind != 3 && kind != 12)) return false;
  TW_DIALOG d(L"Affine Transform 3D Using VTF File", L"CDlgVtfTransform");
  d.Choice(L"Interpolation", &record->interpolation, {L"Nearest Neighbor", L"Tri linear", L"Wsinc 2", L"Wsinc 3", L"Wsinc 4"});
  d.Flag(L"Gaussian downscale", &record->gaussianDownscale);
  d.Integer(L"Binary threshold (0-99%)", &record->threshold, 0, 100);
  const CString fileLabel = kind == 3 ? L"Transformation file (*.vtf)" : L"Transformation file (*.fff)";
  d.Text(fileLabel, &record->file);
  // Picks the file from the remembered transform folder; the record takes it only with OK.
  d.Button(L"Browse", [kind, fileLabel](TW_DIALOG_VALUES& values) {
    CString folder = TW_Options().vtfFolder;
    CString path;
    if (TW_GetFileLoadName(kind, &folder, nullptr, nullptr, &path)) values.SetText(fileLabel, path);
  });
  return TW_RunDialog(d);
}

namespace {

// Adds a resliced frame of the source layer to the result document (made by the first result),
// with the source layer's display filter.
bool addResult(CDrawDoc** result, const CDrawVol* sourceLayer, FramePtr frame, const SPC& spacing) {
  FRAME* handed = frame.release();
  std::unique_ptr<CVol> vol(sourceLayer->vol->CloneByReformat(&handed, &spacing, nullptr, nullptr, true));
  frame.reset(handed);  // what the volume did not take
  if (!vol) return false;
  if (vol->IsROI()) vol->MinimizeDicomHeaders();
  if (!*result) {
    *result = TW_CreateDocumentByClone(PR_GetFileTitleName(sourceLayer->vol->name), vol.get(), nullptr, nullptr,
                                       nullptr, true);
    if (!*result) return false;
  } else {
    CDrawSet* set = (*result)->GetActiveSet();
    CVol* taken = vol.release();
    if (!set || !set->AddLayer(&taken, 100, 0, -1)) {
      delete taken;
      return false;
    }
    set->RefreshLayerPanel(false);
  }
  CDrawSet* set = (*result)->GetActiveSet();
  if (CDrawVol* added = set ? set->GetLayer(set->NumLayers() - 1) : nullptr) added->filter = sourceLayer->filter;
  return true;
}

// The checks and the dialog that start a transform-file command: a volume set of valid
// orientation, OK in the dialog, and a named file that exists.
bool askTransformTask(CDrawSet& set, const wchar_t* where, int kind, VTFTASKPARM* task) {
  if (!set.IsVolumeSet()) {
    twk::doc::message(nullptr, L"Volumetric Entity is required");
    return false;
  }
  if (!twk::geometry::CheckValidOrientation(set, true) || !TW_DlgVtfTransform(kind, task)) return false;
  if (task->file.IsEmpty() || !PR_FileExists(task->file)) {
    twk::doc::message(where, L"Transformation File was not found");
    return false;
  }
  return true;
}

}  // namespace

namespace twk::registration {

void AffineTransformByVTF(CDrawSet& set, VTFTASKPARM& task) {
  const wchar_t* where = L"CDrawSet::AffineTransformByVTF";
  if (!askTransformTask(set, where, 3, &task)) return;
  VA_VTFINFO info;
  double* coefficients = VTF_Load(task.file, &info, true);
  if (!coefficients) return;
  int maxT = 0;
  set.MaxT(&maxT, nullptr);
  if (info.timePoints >= 2 && maxT != info.timePoints) {
    twk::doc::message(where, L"Transformation has unsuitable number of timepoints");
    pf_free(&coefficients);
    return;
  }
  CDrawDoc* result = nullptr;
  for (int i = 0; i < set.NumLayers(); ++i) {
    const CDrawVol* layer = set.GetLayer(i);
    if (!layer || !layer->vol || !layer->vol->frame) continue;
    const CVol* vol = layer->vol;
    if (!VTF_LoadConfirm(info, &vol->frame->dim, &vol->spc)) break;
    const DIM3D target = info.hasTarget ? info.targetDim : vol->frame->dim;
    const SPC targetSpc = info.hasTarget ? info.targetSpc : vol->spc;
    // A layer of one time point takes the first set of a file with several.
    const int sets = vol->T() == 1 ? 1 : info.timePoints;
    // The file's own transform kind: a polynomial file is resliced as a polynomial.
    FramePtr frame(VA_ResliceTB_EX(info.type, info.degree, coefficients, sets, vol->frame, &info.sourceDim,
                                   &info.sourceSpc, &target, &targetSpc, task.interpolation,
                                   task.gaussianDownscale != 0, task.threshold, 0.0, true));
    if (!frame || !addResult(&result, layer, std::move(frame), targetSpc)) break;
  }
  if (result) CDrawDoc::RedrawAllViews(result, true);
  pf_free(&coefficients);
}

void FlowFieldTransformByFFF(CDrawSet& set, VTFTASKPARM& task) {
  const wchar_t* where = L"CDrawSet::FlowFieldTransformByFFF";
  if (!askTransformTask(set, where, 12, &task)) return;
  VA_FLOWFIELDINFO info;
  DPOINT3D* field = VA_LoadFlowField(task.file, &info, true);
  if (!field) return;
  const CVol* base = set.GetBaseVol();
  if (!base || base->W() != info.sourceDim.w || base->H() != info.sourceDim.h || base->D() != info.sourceDim.d) {
    twk::doc::message(where, L"Flow Field transform source dimension mismatch");
    pf_free(&field);
    return;
  }
  CDrawDoc* result = nullptr;
  for (int i = 0; i < set.NumLayers(); ++i) {
    const CDrawVol* layer = set.GetLayer(i);
    if (!layer || !layer->vol || !layer->vol->frame) continue;
    const CVol* vol = layer->vol;
    if (vol->W() != info.sourceDim.w || vol->H() != info.sourceDim.h || vol->D() != info.sourceDim.d) continue;
    FramePtr frame(VA_ResliceByFlow(vol->frame, -1, field, &info.targetDim, task.interpolation, 0.0, true));
    if (!frame || !addResult(&result, layer, std::move(frame), info.targetSpc)) break;
  }
  if (result) CDrawDoc::RedrawAllViews(result, true);
  pf_free(&field);
}

bool RegisterByDicomTags(CDrawSet& set, bool interactive, bool forceNewDocument, CDrawDoc** newDocument,
                         bool centring, bool minimiseHeaders) {
  if (newDocument) *newDocument = nullptr;
  CDrawDoc* self = set.GetDocument();
  int others = 0;
  CDrawDoc* other = TW_LocateAnotherVolumetricDoc(&self, 1, &others);
  if (others > 1) {
    twk::doc::message(L"CDrawSet::RegisterByDicomTags", L"More than one other volumetric document is open");
    return false;
  }
  CDrawSet* sourceSet = other ? other->GetActiveSet() : nullptr;
  if (!sourceSet) return false;
  CVol* sourceBase = sourceSet->GetBaseVol();
  CVol* targetBase = set.GetBaseVol();
  if (!sourceBase || !targetBase || !sourceBase->frame || !targetBase->frame) return false;
  double matrix[16];
  if (!VA_GetInitTransformWithDicomTags(sourceBase, targetBase, centring, matrix, true)) return false;
  if (self) self->SetModifiedFlag();
  int interpolation = 1;
  if (interactive && !TW_SpecifyInt(L"Interpolation : 0-Nearest Neighbor, 1-Linear", &interpolation)) return false;
  if (interpolation < 0 || interpolation > 1) interpolation = 1;
  const DIM3D target{targetBase->W(), targetBase->H(), targetBase->D(), 1};
  if (!targetBase->imgPos || !targetBase->IsValidOrientation()) {
    twk::doc::message(L"CDrawSet::RegisterByDicomTags", L"Image positions are required in both volumes");
    return false;
  }
  const DPOINT3D firstPosition = targetBase->imgPos[0];
  int maxT = 0;
  set.MaxT(&maxT, nullptr);
  bool asLayer = false;
  if (!forceNewDocument && (maxT <= 1 || sourceBase->T() == 1)) {
    if (interactive) {
      const int choice = twk::ui().threeButtons(L"Registered Volume", L"Registered Volume", L"Add as a new Layer",
                                                L"Create new Document", L"Cancel");
      if (choice == 2) return false;
      asLayer = choice == 0;
    } else {
      asLayer = true;
    }
  }
  CDrawSet* destination = asLayer ? &set : nullptr;
  CDrawDoc* created = nullptr;
  bool skipped = false;
  for (int i = 0; i < sourceSet->NumLayers(); ++i) {
    const CDrawVol* layer = sourceSet->GetLayer(i);
    if (!layer || !layer->vol || !layer->vol->frame) continue;
    const bool first = layer->vol == sourceBase;
    if (!first && destination == &set && maxT > 1 && layer->vol->T() > 1) {
      skipped = true;
      continue;
    }
    // The base layer takes the chosen interpolation, every further layer linear.
    FramePtr frame(VA_ResliceTB(VA_TRANSFORM_AFFINE, 1, matrix, layer->vol->frame, &target,
                                first ? interpolation : 1, 0.0, true));
    if (!frame) return false;
    FRAME* handed = frame.release();
    std::unique_ptr<CVol> vol(
        layer->vol->CloneByReformat(&handed, &targetBase->spc, targetBase->orient, &firstPosition, true));
    frame.reset(handed);  // what the volume did not take
    if (!vol) return false;
    // The source's per-slice headers do not describe a region of interest resliced into the
    // target grid: it keeps the first only.
    if (minimiseHeaders && vol->IsROI()) vol->MinimizeDicomHeaders();
    vol->name = PR_AddFileNameSfx(layer->vol->name, L"_reg");
    if (!destination) {
      const CString path = PR_JoinPath(TW_Options().tempFolder, PR_GetFileTitleName(layer->vol->name) + L"_reg");
      created = TW_CreateDocumentByClone(path, vol.get(), nullptr, nullptr, nullptr, true);
      if (!created || !created->GetActiveSet()) return false;
      destination = created->GetActiveSet();
    } else {
      CVol* taken = vol.release();
      if (!destination->AddLayer(&taken, 100, 0, -1)) {
        delete taken;
        return false;
      }
    }
    CDrawVol* added = destination->GetLayer(destination->NumLayers() - 1);
    if (added) {
      added->filter = layer->filter;
      if (first) added->SetMarked(layer->IsMarked());
    }
  }
  if (destination) destination->RefreshLayerPanel(false);
  if (skipped) twk::doc::information(L"Skipped adding some 4D layers to the existing document");
  if (created) {
    CDrawDoc::RedrawAllViews(created, true);
    if (newDocument) *newDocument = created;
  } else if (self) {
    CDrawDoc::RedrawAllViews(self, true);
  }
  return true;
}

void OnTransformSaveAlignmentVTF(CDrawView& view) {
  const wchar_t* name = L"CDrawView::OnTransformSaveAlignmentVTF";
  CDrawSet* set = view.GetActiveSet();
  CVol* vol = set ? set->GetActiveVol() : nullptr;
  if (!vol || !vol->frame) return;
  if (!vol->HasAlignment()) {
    twk::doc::message(name, L"Alignment transform is not present");
    return;
  }
  CString path = L"AlignTransform.vtf";
  int filterIndex = 0;
  CString extension;
  if (!TW_GetFileSaveName(TW_FILTER_VTF, &TW_EditOptions().vtfFolder, &filterIndex, &extension, &path)) return;
  if (!VTF_Save(path, 2, vol->Dim(), vol->Spc(), nullptr, nullptr, vol->alignment, false))
    twk::doc::message(name, L"Failed to save the transform file " + path);
}

}  // namespace twk::registration
