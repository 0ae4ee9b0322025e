// Geometry operations of the layer sets: the orientation guard and letters, rotations (quarter
// turns and free rotations, also the engine of "Make Isotropic" and the turns to a plane) and the
// resolution change into new documents, mirroring with undo, padding, cropping by an ROI, the
// patient position and orientation, discarding an alignment and landmark files as vector ROIs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawShapes.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "GeometryDialogs.h"
#include "GeometryOperations.h"
#include "HighObj.h"
#include "ImageOpen.h"
#include "CropOperations.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "VectorRois.h"
#include "ViewGeometry.h"
#include "Vol.h"
#include "geometry/Geometry.h"
#include "matfile/MatlabLayer.h"
#include "paths/FilePaths.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"

// The program-wide counter of rotation names ("%s_%u"), shared by both rotations.
unsigned g_RotationCounter = 0;

namespace {

constexpr double kTiny = 1e-100;

// The new document's window fitted into the frame and shown, its views redrawn.
void showNewDocument(CDrawDoc* doc) {
  if (!doc) return;
  if (CDrawView* view = doc->GetActiveOrFirstView(); view && TW_ViewHooks().showFitted) TW_ViewHooks().showFitted(view);
  CDrawDoc::RedrawAllViews(doc, true);
}

void closeDocument(CDrawDoc* doc) {
  if (!doc) return;
  if (const auto& close = TW_DocumentHooks().closeDocument) close(doc);
  else delete doc;
}

// Opens a computed volume as a new document under a name to save under (not a file that exists).
CDrawDoc* openVolume(CVol** vol, const CString& name) {
  (*vol)->name = name;
  CDrawDoc* doc = TW_CreateDocumentFromVolume(vol);
  if (doc) doc->SetPathName(name, false);
  return doc;
}

// A new layer takes its source layer's display filter, marked flag and opacity.
void takeDisplay(CDrawVol* target, const CDrawVol* source) {
  if (!target || !source) return;
  target->filter = source->filter;
  target->SetMarked(source->IsMarked());
  target->opacity = source->opacity;
}

// Inverse of the 3 x 3 part of a target-to-source matrix applied to a source point.
bool toTarget(const double m[16], const double p[3], double q[3]) {
  const double a[3][3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (!(std::fabs(det) > 0)) return false;
  const double d[3] = {p[0] - m[3], p[1] - m[7], p[2] - m[11]};
  const double inv[3][3] = {{(a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det, (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det,
                             (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det},
                            {(a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det, (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det,
                             (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det},
                            {(a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det, (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det,
                             (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det}};
  for (int k = 0; k < 3; ++k) q[k] = inv[k][0] * d[0] + inv[k][1] * d[1] + inv[k][2] * d[2];
  return true;
}

// The vector ROIs of the source set carried into the target set. A box spans the voxels whose
// centres it holds, so the voxels' extents are what is carried: a turned box becomes a cube about
// its centre mapped into the target, as wide in millimetres as the diagonal of those extents; an
// unturned box has the corners of its extents mapped. Measuring in millimetres keeps the ROI inside
// on anisotropic voxels; the target box again holds the centres of the voxels it spans.
bool carryVectorRois(CDrawSet* source, CDrawSet* target, const double m[16], const SPC& sourceSpc,
                     const SPC& targetSpc, bool turned) {
  int count = 0;
  CDrawSet** rois = TW_CollectVectRoiObjects(source, &count);
  const double t[3] = {targetSpc.x, targetSpc.y, targetSpc.z};
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const HIGHOBJ& r = *rois[i]->vroi;
    double box[6];
    if (turned) {
      const double centre[3] = {(r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2, (r.z0 + r.z1) / 2};
      const double dx = (r.x1 - r.x0 + 1) * sourceSpc.x, dy = (r.y1 - r.y0 + 1) * sourceSpc.y,
                   dz = (r.z1 - r.z0 + 1) * sourceSpc.z;
      const double half = std::sqrt(dx * dx + dy * dy + dz * dz) / 2;
      double q[3];
      if (!(ok = toTarget(m, centre, q))) break;
      for (int k = 0; k < 3; ++k) {
        const double reach = std::max(0.0, half / t[k] - 0.5);
        box[k] = q[k] - reach;
        box[3 + k] = q[k] + reach;
      }
    } else {
      const double a[3] = {r.x0 - 0.5, r.y0 - 0.5, r.z0 - 0.5}, b[3] = {r.x1 + 0.5, r.y1 + 0.5, r.z1 + 0.5};
      double qa[3], qb[3];
      if (!(ok = toTarget(m, a, qa) && toTarget(m, b, qb))) break;
      for (int k = 0; k < 3; ++k) {
        const double lo = std::min(qa[k], qb[k]) + 0.5, hi = std::max(qa[k], qb[k]) - 0.5;
        box[k] = std::min(lo, hi);
        box[3 + k] = std::max(lo, hi);
      }
    }
    ok = TW_CreateVectRoiFromLabel(target, box, r.t0, r.t1, r.label);
  }
  pf_free(&rois);
  return ok;
}

}  // namespace

namespace twk::geometry {

bool CheckValidOrientation(const CDrawSet& set, bool showMessage) {
  const CVol* base = set.GetBaseVol();
  if (base && base->frame && base->IsValidOrientation()) return true;
  if (showMessage)
    twk::doc::message(L"CDrawSet::CheckValidOrientation",
                      L"Valid Orientation is required in this operation.\nUse Main Menu>Volume>Set Volume Orientation");
  return false;
}

bool SetVolumeOrientation(CDrawSet& set, CDrawView* view) {
  const wchar_t* where = L"CDrawSet::SetVolumeOrientation";
  struct End {
    CDrawDoc* doc;
    ~End() {
      CDrawDoc::RedrawAllViews(doc, false);
      TW_RestoreArrowCursor();
    }
  } end{set.document};
  VA_VOLPROJ* proj = view ? set.FindViewProjection(view) : nullptr;
  if (!proj) return false;
  for (double a : proj->rotation)
    if (!(std::fabs(a) < kTiny)) {
      twk::doc::message(where, L"Original Projection (0,0,0) is required");
      return false;
    }
  CString letters;
  if (!TW_SpecifyStr(L"Enter Orientation letters: screen {Top,Bottom,Left,Right}, f.e. LRAP.\nThen enter letters for "
                     L"the First and last slice, f.e. SI",
                     &letters))
    return false;
  if (letters.GetLength() != 6) {
    twk::doc::message(where, L"Exactly six orientation letters required, f.e. SILRAP");
    return false;
  }
  if (set.document) set.document->SetModifiedFlag();
  for (int i = 0; i < set.NumLayers(); ++i)
    if (CVol* vol = set.GetLayerVol(i); !vol || !vol->SetSpecifiedOrientation3AXIS(letters)) return false;
  return true;
}

bool RotateVolumeOrtho(CDrawSet& set, bool askUser, VA_ROT* rotation, bool keepWorld) {
  const wchar_t* where = L"CDrawSet::RotateVolumeOrtho";
  if (!CheckValidOrientation(set, true) || !set.IsVolumeSet() || !rotation) return false;
  CVol* base = set.GetBaseVol();
  if (askUser && !TW_DlgVolRotOrtho(rotation, base->Dim(), base->Spc())) return false;
  if (VA_RotIsIdentity(rotation)) {
    twk::doc::message(where, L"Rotation is not specified");
    return false;
  }
  // Named with the counter: under the source's own name the new document could not open beside it.
  const CString sfx = FmtStr(L"_%u", g_RotationCounter);
  ++g_RotationCounter;
  CDrawDoc* newDoc = nullptr;
  CDrawSet* newSet = nullptr;
  bool ok = true;
  for (int i = 0; i < set.NumLayers() && ok; ++i) {
    CDrawVol* layer = set.GetLayer(i);
    CVol* turned = layer && layer->vol ? layer->vol->OrthoRotate(rotation, keepWorld, true) : nullptr;
    if (!turned) {
      ok = false;
      break;
    }
    if (i == 0) {
      const CString layerName = PR_AddFileNameSfx(layer->vol->name, sfx);
      const CString path = set.document ? set.document->GetPathName() : layer->vol->name;
      newDoc = openVolume(&turned, PR_AddFileNameSfx(path, sfx));
      newSet = newDoc ? newDoc->GetActiveSet() : nullptr;
      if (!newSet || !newSet->GetLayer(0)) {
        ok = false;
      } else {
        newSet->GetLayer(0)->vol->name = layerName;
      }
    } else {
      turned->name = PR_AddFileNameSfx(layer->vol->name, sfx);
      ok = newSet->AddLayer(&turned, layer->opacity, 0, -1);
    }
    delete turned;
    if (ok) takeDisplay(newSet->GetLayer(newSet->NumLayers() - 1), layer);
  }
  if (newDoc) {
    // A partly filled document is no result: only a complete one stays.
    if (!ok) {
      closeDocument(newDoc);
      return false;
    }
    newSet->RefreshLayerPanel();
    showNewDocument(newDoc);
  }
  return ok;
}

CDrawDoc* ChangeResolution(CDrawSet& set) {
  if (!set.IsVolumeSet() || !set.GetBaseVol() || !CheckValidOrientation(set, true)) return nullptr;
  const CVol* base = set.GetBaseVol();
  TW_VOXELSIZE size{base->spc.x, base->spc.y, base->spc.z};
  if (!TW_SpecifyResolution(&size, 1e60, 1e60, 1e60)) return nullptr;
  const SPC voxel{size.x, size.y, size.z};
  CDrawDoc* newDoc = nullptr;
  CDrawSet* newSet = nullptr;
  twk::ProgressGuard progress(L"Changing resolution", true);
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    progress.NestInto(100 * i / set.NumLayers(), 100 * (i + 1) / set.NumLayers());
    CVol* vol = layer && layer->vol ? VA_VolChangeResolution(layer->vol, &voxel, VA_INTERP_LINEAR, true) : nullptr;
    bool ok = vol != nullptr;
    if (ok && i == 0) {
      const CString title = PR_GetFileTitleName(layer->vol->name);
      newDoc = openVolume(&vol, TW_Options().tempFolder + L"/" + title);
      newSet = newDoc ? newDoc->GetActiveSet() : nullptr;
      ok = newSet && newSet->GetLayer(0);
      if (ok) newSet->GetLayer(0)->vol->name = PR_AddFileNameSfx(layer->vol->name, L"");
    } else if (ok) {
      vol->name = PR_GetFileTitleName(layer->vol->name);
      ok = newSet->AddLayer(&vol, layer->opacity, layer->filter.scheme, int(layer->filter.roiColor));
    }
    delete vol;
    if (!ok) {
      if (newDoc) {
        CDrawDoc::RedrawAllViews(newDoc, false);
        closeDocument(newDoc);
      }
      return nullptr;
    }
    takeDisplay(newSet->GetLayer(newSet->NumLayers() - 1), layer);
  }
  progress.End();
  newSet->RefreshLayerPanel();
  showNewDocument(newDoc);
  return newDoc;
}

bool MirrorVolume(CDrawSet& set, int axis) {
  TW_OPERATION_END end(set.document, false);
  if (set.document) set.document->SetModifiedFlag();
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    if (!layer || !layer->vol || !layer->IsMarked()) continue;
    layer->FreeViewCaches();
    if (set.document) set.document->PushUndoForLayer(layer);
    if (!layer->vol->Mirror(axis != 3, axis, true)) return false;
  }
  return true;
}

bool Rotate(CDrawSet& set, bool ask, CDrawView* view, const VOLROTATEPARM* record, int code, const wchar_t* suffix,
            bool* rotated, bool flag) {
  const wchar_t* where = L"CDrawSet::Rotate";
  if (!set.IsVolumeSet()) return false;
  // Resampling a volume whose orientation is unknown would give a document of made-up geometry.
  if (!CheckValidOrientation(set, true)) return false;
  CVol* base = set.GetBaseVol();
  if (!base || !base->frame) return false;
  VOLROTATEPARM parms;
  if (!record) {
    DPOINT3D angles;
    if (!VA_RotateToSpecifiedOrient(base, VA_PROJ_CONVENTION_RADIOLOGICAL, code, &angles, true)) return false;
    if (rotated) *rotated = std::fabs(angles.x) >= kTiny || std::fabs(angles.y) >= kTiny || std::fabs(angles.z) >= kTiny;
    auto halfTurn = [](double a) { return std::fabs(a) < kTiny || std::fabs(std::fabs(a) - 180) < kTiny; };
    if (halfTurn(angles.x) && halfTurn(angles.y)) {
      // A rotation of half turns about x and y is exact: the quarter-turn rotation, turned about x,
      // then y, then z as the angles are.
      VA_ROT ortho;
      ortho.axis[0] = 3;
      ortho.angle[0] = angles.z;
      ortho.axis[1] = 2;
      ortho.angle[1] = angles.y;
      ortho.axis[2] = 1;
      ortho.angle[2] = angles.x;
      return RotateVolumeOrtho(set, ask, &ortho, flag);
    }
    parms.angle[0] = angles.x;
    parms.angle[1] = angles.y;
    parms.angle[2] = angles.z;
    parms.interpolation = VA_INTERP_LINEAR;
    parms.binaryThreshold = 50;
  } else {
    parms = *record;
    if (rotated) *rotated = true;
  }
  bool singleSlice = false;
  if (ask) {
    CDrawSet* active = view && view->GetDocument() ? view->GetDocument()->GetActiveSet() : nullptr;
    VA_VOLPROJ* proj = active ? active->FindViewProjection(view) : nullptr;
    if (!proj) {
      twk::doc::message(where, L"Valid Projection is required");
      return false;
    }
    if (!TW_DlgVolumeRotate(proj, &parms)) return false;
    if (base->D() == 1 && std::fabs(parms.angle[0]) < kTiny && std::fabs(parms.angle[1]) < kTiny)
      singleSlice = twk::ui().messageBox(L"Keep the result as a single slice?", L"Tarnwick", MB_YESNO | MB_ICONQUESTION) ==
                    IDYES;
  }
  // A scale of 0 or less would divide the spacing by zero: only the dialog's range is accepted.
  if (!(parms.scale >= 0.01 && parms.scale <= 100)) {
    twk::doc::message(where, L"Scale must be within [0.01, 100]");
    return false;
  }
  for (double a : parms.angle)
    if (!std::isfinite(a)) {
      twk::doc::message(where, L"Invalid rotation angles");
      return false;
    }
  const double iso = base->IsoVox() / parms.scale;
  const SPC target = parms.preserve ? base->spc : SPC{iso, iso, iso};
  const CString sfx = suffix ? FmtStr(L"%s_%u", suffix, g_RotationCounter) : CString();
  ++g_RotationCounter;
  const bool turned = std::fabs(parms.angle[0]) >= kTiny || std::fabs(parms.angle[1]) >= kTiny ||
                      std::fabs(parms.angle[2]) >= kTiny;

  CDrawDoc* newDoc = nullptr;
  CDrawSet* newSet = nullptr;
  double matrix[16];
  bool ok = true;
  {
    twk::ProgressGuard progress(L"Rotating", flag);
    for (int i = 0; i < set.NumLayers() && ok; ++i) {
      CDrawVol* layer = set.GetLayer(i);
      if (!layer || !layer->vol || !layer->vol->frame) continue;
      progress.NestInto(100 * i / set.NumLayers(), 100 * (i + 1) / set.NumLayers());
      FramePtr frame(VA_VolRotation(layer->vol->frame, &base->spc, nullptr, &target, parms.angle[0], parms.angle[1],
                                    parms.angle[2], parms.preserve != 0, singleSlice, parms.interpolation,
                                    parms.gaussianDownscale != 0, parms.binaryThreshold, matrix, flag));
      CVol* vol = frame ? VA_CloneResampled(base, FrameHandOff(frame), matrix, &target, flag) : nullptr;
      if (!vol) {
        ok = false;
        break;
      }
      // Each layer keeps its own kind of records and dynamic coordinates.
      vol->modality = layer->vol->modality;
      vol->unit = layer->vol->unit;
      if (layer->vol->dyn && layer->vol->T() == vol->T()) {
        pf_free(&vol->dyn);
        vol->dyn = pf_duplicate(layer->vol->dyn, vol->T());
      }
      if (i == 0) {
        CString path;
        const CString wanted = PR_AddFileNameSfx(set.document ? set.document->GetPathName() : layer->vol->name, sfx);
        if (!GetFullPathCheckPresent(wanted, &path)) {
          delete vol;
          ok = false;
          break;
        }
        newDoc = openVolume(&vol, path);
        newSet = newDoc ? newDoc->GetActiveSet() : nullptr;
        ok = newSet && newSet->GetLayer(0);
        if (ok) newSet->GetLayer(0)->vol->name = PR_AddFileNameSfx(layer->vol->name, sfx);
      } else {
        if (vol->IsROI()) vol->MinimizeDicomHeaders();
        vol->name = PR_AddFileNameSfx(layer->vol->name, sfx);
        newDoc->SetModifiedFlag();
        ok = newSet->AddLayer(&vol, layer->opacity, 0, -1);
      }
      delete vol;
      if (ok) takeDisplay(newSet->GetLayer(newSet->NumLayers() - 1), layer);
    }
  }
  if (ok && newSet) ok = carryVectorRois(&set, newSet, matrix, base->spc, target, turned);
  if (!ok) {
    // Esc or a failure: no half-made document is left behind.
    closeDocument(newDoc);
    return false;
  }
  if (!newDoc) return false;
  newSet->RefreshLayerPanel();
  showNewDocument(newDoc);
  return true;
}

bool MakeIsotropic(CDrawSet& set, CDrawView* view) {
  if (!CheckValidOrientation(set, true)) return false;
  const CVol* base = set.GetBaseVol();
  double resolution = base->IsoVox();
  if (!TW_EnterDouble(L"Resolution (mm)", &resolution)) return false;
  if (!std::isfinite(resolution) || resolution < 0.001) {
    twk::doc::message(L"CDrawSet::MakeIsotropic", L"Invalid resolution is specified");
    return false;
  }
  VOLROTATEPARM parms;
  parms.scale = base->IsoVox() / resolution;
  parms.interpolation = VA_INTERP_LINEAR;
  parms.binaryThreshold = 50;
  return Rotate(set, false, view, &parms, 100, L"iso", nullptr, true);
}

bool PadVolume(CDrawSet& set) {
  double mm = 0.0;
  if (!TW_EnterDouble(L"Pad size (mm)", &mm)) return false;
  if (!std::isfinite(mm) || mm < 0) {
    twk::doc::message(L"CDrawSet::PadVolume", L"Pad size must not be negative");
    return false;
  }
  const CVol* base = set.GetBaseVol();
  if (!set.IsVolumeSet() || !base) return false;
  if (set.document) set.document->SetModifiedFlag();
  const int p[3] = {int(std::floor(mm / base->spc.x + 0.5)), int(std::floor(mm / base->spc.y + 0.5)),
                    int(std::floor(mm / base->spc.z + 0.5))};
  // The first voxel moves by the pad along each axis of the patient frame.
  const double shift[16] = {1, 0, 0, double(-p[0]), 0, 1, 0, double(-p[1]), 0, 0, 1, double(-p[2]), 0, 0, 0, 1};
  CDrawDoc* newDoc = nullptr;
  CDrawSet* newSet = nullptr;
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    FramePtr frame(layer && layer->vol ? VA_VolumePad(layer->vol->frame, p[0], p[1], p[2], false, 0.0, nullptr, true)
                                       : nullptr);
    CVol* vol =
        frame ? VA_CloneResampled(layer->vol, FrameHandOff(frame), shift, &layer->vol->spc, true) : nullptr;
    bool ok = vol != nullptr;
    if (ok && i == 0) {
      const CString title = set.document ? set.document->GetTitle() : layer->vol->name;
      newDoc = openVolume(&vol, PR_GetFileTitleNameAddSfx(title, L"_pad"));
      newSet = newDoc ? newDoc->GetActiveSet() : nullptr;
      ok = newSet != nullptr;
      if (ok) takeDisplay(newSet->GetLayer(0), layer);
    } else if (ok) {
      vol->name = PR_AddFileNameSfx(layer->vol->name, L"_pad");
      ok = newSet->AddLayer(&vol, layer->opacity, layer->filter.scheme, int(layer->filter.roiColor));
      if (ok) takeDisplay(newSet->GetLayer(newSet->NumLayers() - 1), layer);
    }
    delete vol;
    if (!ok) {
      if (!newDoc) return false;
      break;
    }
  }
  if (!newDoc) return false;
  newSet->RefreshLayerPanel();
  showNewDocument(newDoc);
  return newSet->NumLayers() == set.NumLayers();
}

bool CropByROI(CDrawSet& set, CDrawView* view) {
  CVol* roi = twk::roiops::RoiOperand(&set);
  if (!roi) return false;
  RECT3D box;
  if (!VA_RoiBoundRectAllTimes(roi->frame, &box) || box.x0 > box.x1 || box.y0 > box.y1 || box.z0 > box.z1) {
    twk::doc::message(L"CDrawSet::CropByROI", L"ROI is empty");
    return false;
  }
  int maxT = 1;
  set.MaxT(&maxT, nullptr);
  const RECT4D box4{box.x0, box.y0, box.z0, box.x1, box.y1, box.z1, 0, maxT - 1};
  CDrawDoc* newDoc = view ? twk::ops::VolumeCrop(*view, true, &box4, nullptr, true) : nullptr;
  if (newDoc) CDrawDoc::RedrawAllViews(newDoc, true);
  return newDoc != nullptr;
}

bool SetImagePositionOrientation(CDrawSet& set, bool silent) {
  const wchar_t* where = L"CDrawSet::SetImagePositionOrientation";
  if (set.document) set.document->SetModifiedFlag();
  CVol* base = set.GetBaseVol();
  double orient[6];
  if (!base || !base->frame || !base->GetOrientation(orient)) return false;
  const DPOINT3D first = base->imgPos ? base->imgPos[0] : DPOINT3D{};
  double start3[3] = {first.x, first.y, first.z};
  if (!TW_DlgSlicePosOrient(silent, start3, orient)) return false;
  if (!VA_IsValidOrientation(orient)) {
    twk::doc::message(where, L"Orientation must be two orthogonal unit vectors");
    return false;
  }
  const DPOINT3D start{start3[0], start3[1], start3[2]};
  for (int i = 0; i < set.NumLayers(); ++i) {
    CVol* vol = set.GetLayerVol(i);
    if (!vol || !vol->SetOrientation(orient) || !vol->SetImagePositions(&start)) return false;
  }
  CDrawDoc::RedrawAllViews(set.document, false);
  return true;
}

void DiscardAlignment(CDrawSet& set) {
  TW_OPERATION_END end(set.document, true);
  if (set.document) set.document->SetModifiedFlag();
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    CVol* vol = layer ? layer->vol : nullptr;
    if (!vol || !layer->IsMarked() || !vol->HasAlignment()) continue;
    layer->FreeViewCaches();
    if (set.document) set.document->PurgeUndoForFrame(vol->frame);
    VA_SetIdentityTransform(vol->alignment);
    PR_FrameDelete(&vol->frame);
    vol->frame = vol->unalignedFrame;
    vol->unalignedFrame = nullptr;
  }
}

bool LoadLandmarkFile(CDrawSet& set, CDrawView* view) {
  (void)view;
  TW_OPERATION_END end(set.document, true);
  const CVol* base = set.GetBaseVol();
  if (!set.IsVolumeSet() || !base) return false;
  CString path;
  if (!TW_GetFileLoadName(TW_FILTER_TEXT2, &TW_EditOptions().currentWorkFolder, nullptr, nullptr, &path)) return false;
  int count = 0;
  DPOINT3D* points = VA_LoadLandmarkFile(base->frame, path, &count, true);
  if (!points) return false;
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    const double box[6] = {points[i].x - 2.0, points[i].y - 2.0, points[i].z, points[i].x + 2.0, points[i].y + 2.0,
                           points[i].z};
    ok = TW_CreateVectRoiFromLabel(&set, box, 0, 0, FmtStr(L"%d", i));
  }
  pf_free(&points);
  if (set.document) set.document->SetModifiedFlag();
  return ok;
}

bool LoadMatlabLayer(CDrawSet& set) {
  CDrawDoc* doc = set.document;
  TW_OPERATION_END end(doc, true);
  CVol* base = set.IsVolumeSet() ? set.GetBaseVol() : nullptr;
  if (!base || !base->frame) return false;
  CString path;
  if (!TW_GetFileLoadName(TW_FILTER_MATLAB, &TW_EditOptions().rawLoadFolder, nullptr, nullptr, &path)) return false;
  CString arrayName;
  FramePtr frame(VA_LoadMatlabFileLayer(path, base->Dim(), &arrayName, true));
  if (!frame) return false;
  if (arrayName.IsEmpty()) arrayName = PR_GetFileTitleName(path);
  const bool ok = set.AddResultLayer(true, true, arrayName, base, FrameHandOff(frame), -1, 0, -1);
  if (ok && doc) doc->SetModifiedFlag();
  return ok;
}

namespace {

// The line-guide moves: the selected polyline of the view's document (2 points: a shift vector, 3
// points: a sector about its middle point) moves every marked layer in place, each with an undo
// record of its voxels; the guide is removed afterwards.
bool lineGuideMove(CDrawSet& set, CDrawView* view, bool rotate) {
  const wchar_t* where = rotate ? L"CDrawSet::RotateUsingLineGuides" : L"CDrawSet::TranslateUsingLineGuide";
  TW_OPERATION_END end(set.GetDocument(), true);
  CDrawDoc* doc = view ? view->GetDocument() : nullptr;
  if (!doc || doc->selection.size() != 1) {
    twk::doc::message(where, rotate ? L"Single object should be present or selected in the destination document"
                                    : L"Polyline object should be selected");
    return false;
  }
  CDrawObj* object = doc->selection[0];
  if (!object || object->kind != DRAWOBJ_POLY) {
    twk::doc::message(where, L"Polyline object should be selected");
    return false;
  }
  auto* guide = static_cast<CDrawPoly*>(object);
  const int needed = rotate ? 3 : 2;
  if (guide->contourCount != 1 || !guide->pointsPerContour || guide->pointsPerContour[0] != needed) {
    twk::doc::message(where, rotate ? L"Polyline with 3 points is required" : L"Single line segment is required");
    return false;
  }
  VA_VOLPROJ* proj = set.FindViewProjection(view);
  if (!proj || !set.GetBaseVol()) return false;
  if (CDrawDoc* own = set.GetDocument()) own->SetModifiedFlag();
  DPOINT3D points[3];
  for (int i = 0; i < needed; ++i) {
    const DRECT r{guide->points[i].x, guide->points[i].y, guide->points[i].x, guide->points[i].y};
    DRECT3D box;
    if (!set.GetInVolCoords(view, &r, nullptr, &box, nullptr)) return false;
    points[i] = DPOINT3D{(box.x0 + box.x1) / 2, (box.y0 + box.y1) / 2, (box.z0 + box.z1) / 2};
  }
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    if (!layer || !layer->vol || !layer->vol->frame || !layer->IsMarked()) continue;
    layer->FreeViewCaches();
    // The move resamples the voxels in place: without this record they could not be had back.
    if (CDrawDoc* own = set.GetDocument()) own->PushUndoForLayer(layer);
    const bool ok = rotate ? layer->vol->RotateUsingSector(proj, points, TW_Options().defaultInterpolation)
                           : layer->vol->ShiftUsingVector(proj, points, TW_Options().defaultInterpolation);
    if (!ok) return false;
  }
  doc->RemoveObject(guide);
  delete guide;
  return true;
}

}  // namespace

bool TranslateUsingLineGuide(CDrawSet& set, CDrawView* view) { return lineGuideMove(set, view, false); }
bool RotateUsingLineGuides(CDrawSet& set, CDrawView* view) { return lineGuideMove(set, view, true); }

}  // namespace twk::geometry
