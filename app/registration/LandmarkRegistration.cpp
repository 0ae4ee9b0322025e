// Registration of a second document's volumes onto a layer set by pairs of landmarks with equal
// labels: the fit of a transform to the pairs (shown for confirmation), the reslice of every source
// layer into the target grid, or an AutoFocus registration started from the landmark transform.
#include "LandmarkRegistration.h"

#include <cstring>
#include <memory>
#include <vector>

#include "AppOptions.h"
#include "AutofocusOperations.h"
#include "AutofocusPresets.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "HighObj.h"
#include "LandmarkOperations.h"
#include "OperationScope.h"
#include "ParameterDialog.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VectRois.h"
#include "paths/FilePaths.h"
#include "registration/Landmarks.h"
#include "registration/Reslice.h"
#include "registration/Transform.h"
#include "registration/TransformFiles.h"
#include "volume/Frame.h"

NPNTREGPARMS g_LandmarkRegisterParms;

void TW_InitLandmarkRegisterDefaults() {
  g_LandmarkRegisterParms = NPNTREGPARMS{};
  g_LandmarkRegisterParms.transformFile = PR_JoinPath(TW_Options().rawSave3DFolder, L"NpointCoregTransform.vtf");
}

bool TW_DlgNpntPairRegister(NPNTREGPARMS* record) {
  if (!record) return false;
  TW_DIALOG d(L"Register Volumes Using Landmarks", L"CDlgNpntPairRegister");
  d.Choice(L"Type", &record->transformType,
           {L"Translation", L"Rigid", L"Affine", L"Polynomial", L"Gaussian Radial Basis Functions", L"TPS"});
  d.Integer(L"Polynomial degree", &record->degree, 1, 100);
  d.Real(L"Sigma (mm)", &record->sigma);
  d.Real(L"Lambda", &record->lambda);
  d.Choice(L"Interpolation", &record->interpolation, {L"Nearest Neighbor", L"Tri linear", L"Wsinc2", L"Wsinc3", L"Wsinc4"});
  d.Text(L"Transformation file", &record->transformFile);
  // The chosen file shows in the path field; the record takes it only with OK.
  d.Button(L"Browse", [](TW_DIALOG_VALUES& values) {
    CString folder = PR_GetFileFolder(values.Text(L"Transformation file"));
    CString path;
    if (TW_GetFileSaveName(3, &folder, nullptr, nullptr, &path)) values.SetText(L"Transformation file", path);
  });
  return TW_RunDialog(d);
}

bool TW_LandmarkLabelsUnique(HIGHOBJ* const* landmarks, int count) {
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j)
      if (std::strcmp(landmarks[i]->label, landmarks[j]->label) == 0) return false;
  return true;
}

namespace {

int findLabel(const char* label, HIGHOBJ* const* list, int count) {
  for (int i = 0; i < count; ++i)
    if (std::strcmp(label, list[i]->label) == 0) return i;
  return -1;
}

CString labelText(const HIGHOBJ* h) {
  return CString::fromUtf8(std::string_view(h->label, strnlen(h->label, sizeof h->label)));
}

// The landmarks' positions as voxel indices: a box's coordinates have voxel i covering [i, i + 1),
// the transforms have voxel centres at integer indices, so the box centre is half a voxel on.
std::vector<DPOINT3D> landmarkPoints(HIGHOBJ* const* landmarks, int count) {
  std::vector<double> centres(size_t(3 * count));
  TW_LandmarkCentres(landmarks, count, centres.data());
  std::vector<DPOINT3D> points(static_cast<size_t>(count));
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = {centres[3 * i] - 0.5, centres[3 * i + 1] - 0.5, centres[3 * i + 2] - 0.5};
  return points;
}

// A landmark list owned for a scope.
struct Landmarks {
  HIGHOBJ** marks = nullptr;
  int count = 0;
  Landmarks() = default;
  Landmarks(CDrawSet* set, int time) {
    if (set) marks = TW_GatherVectRoisInTimeRange(set, time, time, &count);
  }
  ~Landmarks() { pf_free(&marks); }
  Landmarks(const Landmarks&) = delete;
  Landmarks& operator=(const Landmarks&) = delete;
  Landmarks& operator=(Landmarks&& other) noexcept {
    std::swap(marks, other.marks);
    std::swap(count, other.count);
    return *this;
  }
};

// The time point a view shows (its document's active set); 0 without a view.
int viewTime(CDrawView* view) { return view ? std::max(0, view->CurrentTime()) : 0; }

// The time point of a document's active or first view; 0 after a message without one.
int documentTime(CDrawDoc* doc, bool onlyView) {
  CDrawView* view = onlyView ? doc->GetActiveOrSingleView() : doc->GetActiveOrFirstView();
  if (!view) {
    twk::doc::message(L"CDrawView::CurrentTime", L"NULL View is not allowed in this operation");
    return 0;
  }
  return viewTime(view);
}

std::vector<CDrawDoc*> otherDocuments(CDrawDoc* self) {
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  std::vector<CDrawDoc*> out;
  for (int i = 0; i < count; ++i)
    if (docs[i] != self) out.push_back(docs[i]);
  pf_free(&docs);
  return out;
}

// The first volume set of a document.
CDrawSet* firstVolumeSet(CDrawDoc* doc) {
  for (CDrawObj* obj : doc->objects)
    if (obj && obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVolumeSet()) return static_cast<CDrawSet*>(obj);
  return nullptr;
}

// Reslices every volume layer of the source set by reslice() into this set's grid, each added as
// "<file title>_reg" with its source layer's display filter.
template <typename Reslice>
bool addResliced(CDrawSet& set, CDrawSet* sourceSet, const CVol* target, Reslice reslice) {
  for (int i = 0; i < sourceSet->NumLayers(); ++i) {
    CDrawVol* layer = sourceSet->GetLayer(i);
    CVol* vol = layer ? layer->vol : nullptr;
    if (!vol || !vol->frame) continue;
    FramePtr frame(reslice(vol->frame));
    if (!frame) return false;
    FRAME* handed = frame.release();
    const bool added = set.AddResultLayer(false, true, PR_GetFileTitleNameAddSfx(vol->name, L"_reg"), vol, &handed,
                                          -1, 0, -1, &target->spc, target->orient, target->imgPos, &layer->filter);
    frame.reset(handed);  // what the layer did not take
    if (!added) return false;
  }
  set.RefreshLayerPanel(false);
  return true;
}

}  // namespace

VA_AF3D& TW_LandmarkAutofocusRecord() {
  static VA_AF3D record = g_AF3DBuildTest;
  return record;
}

bool TW_MatchLandmarkLabels(HIGHOBJ* const* source, HIGHOBJ** target, int count) {
  std::vector<HIGHOBJ*> ordered(static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    const int j = findLabel(source[i]->label, target, count);
    if (j < 0) return false;
    ordered[size_t(i)] = target[j];
  }
  std::copy(ordered.begin(), ordered.end(), target);
  return true;
}

void TW_LandmarkMismatchReport(HIGHOBJ* const* source, int sourceCount, HIGHOBJ* const* target, int targetCount,
                               CString* report) {
  if (!report) return;
  CString text;
  text.Format(L"Source number of landmarks = %u\n", unsigned(sourceCount));
  text.AppendFormat(L"Target number of landmarks = %u\n", unsigned(targetCount));
  text += L"Mismatched labels:\n";
  auto name = [](const HIGHOBJ* h) { return h->label[0] ? labelText(h) : CString(L"Empty name"); };
  for (int i = 0; i < sourceCount; ++i)
    if (findLabel(source[i]->label, target, targetCount) < 0) text.AppendFormat(L"Source label: %s \n", name(source[i]).GetString());
  for (int i = 0; i < targetCount; ++i)
    if (findLabel(target[i]->label, source, sourceCount) < 0) text.AppendFormat(L"Target label: %s \n", name(target[i]).GetString());
  *report = text;
}

double* CalculateTransformByLandmarks(const NPNTREGPARMS* options, const DIM3D* targetDims, const SPC* sourceSpc,
                                      const SPC* targetSpc, HIGHOBJ* const* source, HIGHOBJ* const* target, int count,
                                      bool interactive) {
  if (!options || !source || !target || count < 1) return nullptr;
  const std::vector<DPOINT3D> src = landmarkPoints(source, count), tgt = landmarkPoints(target, count);
  std::vector<double> errors1(static_cast<size_t>(count)), errors2(static_cast<size_t>(count));
  double rmse1 = 0, rmse2 = 0;
  double* k = VA_FindOptimalTransform(options->transformType, options->degree, src.data(), tgt.data(), count,
                                      sourceSpc, targetSpc, errors1.data(), errors2.data(), &rmse1, &rmse2, true,
                                      targetDims);
  if (!k || !interactive) return k;
  const int type = options->transformType;
  CString text;
  if (type == VA_TRANSFORM_RIGID || type == VA_TRANSFORM_AFFINE) {
    double determinant = 0;
    if (!PR_MatrixDeterminantByMinors(k, 4, &determinant)) {
      twk::doc::message(L"CalculateTransformByLandmarks", L"Invalid Transformation Matrix");
      pf_free(&k);
      return nullptr;
    }
    // "dir" is the registration's direction (source onto target, in target mm), "rev" the
    // transform's own (target onto source, in source mm).
    for (int i = count - 1; i >= 0; --i)
      text.AppendFormat(L"%s> dir(%8.4lf)  rev(%8.4lf) mm\n", labelText(target[i]).GetString(), errors2[size_t(i)],
                        errors1[size_t(i)]);
    text.AppendFormat(L"Transformation Matrix:\n%lf %lf  %lf  T%lf\n%lf %lf  %lf  T%lf\n%lf %lf  %lf  T%lf\n", k[0],
                      k[1], k[2], k[3], k[4], k[5], k[6], k[7], k[8], k[9], k[10], k[11]);
    text.AppendFormat(L"--------------------\nTransform Matrix Determinant = %8.4lf\nDirect RMSE = %8.4lf mm\n"
                      L"Reverse RMSE = %8.4lf\nProceed with Transformation?",
                      determinant, rmse2, rmse1);
  } else if (type == VA_TRANSFORM_POLYNOMIAL) {
    for (int i = count - 1; i >= 0; --i)
      text.AppendFormat(L"%s> dir(%8.4lf) mm\n", labelText(target[i]).GetString(), errors1[size_t(i)]);
    text.AppendFormat(L"--------------------\nDirect RMSE = %8.4lf mm\nProceed with Transformation?", rmse1);
  }
  if (!twk::askYesNo(text)) pf_free(&k);
  return k;
}

bool IsNpoint3DRegisterPossible(CDrawView* view, int targetTimePoints, CDrawDoc* sourceDoc, int* count) {
  CDrawSet* set = sourceDoc ? sourceDoc->GetActiveSet() : nullptr;
  const CDrawVol* first = set ? set->GetLayer(0) : nullptr;
  if (!set || !set->IsVolumeSet() || !first || !first->vol || !first->vol->frame) {
    twk::doc::message(L"IsNpoint3DRegisterPossible", L"Single Volume object should be present in the source document");
    return false;
  }
  const Landmarks marks(set, viewTime(view));
  if (marks.count == 0 || !TW_LandmarkLabelsUnique(marks.marks, marks.count)) return false;
  const int sourceTimePoints = first->vol->T();
  if (sourceTimePoints != 1 && targetTimePoints != 1 && sourceTimePoints != targetTimePoints) return false;
  if (count) *count = marks.count;
  return true;
}

namespace twk::registration {

bool Register3D_WithInitPoints(CDrawSet& set, CDrawView* view, bool voxelSimilarity, bool interactive) {
  const wchar_t* const fn = L"CDrawSet::Register3D_WithInitPoints";
  CDrawDoc* doc = set.GetDocument();
  TW_OPERATION_END end(doc, false);
  const std::vector<CDrawDoc*> others = otherDocuments(doc);
  if (!doc || others.empty()) {
    twk::doc::message(fn, L"More than one document should be present");
    return false;
  }
  // Boxes under one voxel on every axis are no landmarks: they go first, in every document.
  std::vector<CDrawDoc*> all = others;
  all.insert(all.begin(), doc);
  for (CDrawDoc* d : all) {
    const std::vector<CDrawObj*> objects = d->objects;
    for (CDrawObj* obj : objects)
      if (obj && obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVolumeSet())
        twk::files::DeleteVectROIs(*static_cast<CDrawSet*>(obj), 2, false);
  }

  // 2, 3. The target landmarks at the view's time point.
  int time = 0;
  if (!view) twk::doc::message(L"CDrawView::CurrentTime", L"NULL View is not allowed in this operation");
  else time = viewTime(view);
  Landmarks target(&set, time);
  if (target.count == 0) {
    twk::doc::message(fn, L"There are no landmarks present");
    return false;
  }
  if (!TW_LandmarkLabelsUnique(target.marks, target.count)) {
    twk::doc::message(fn, L"Target: Labels should be unique in both volumes");
    return false;
  }
  doc->SetModifiedFlag();
  CVol* targetVol = set.GetBaseVol();
  if (!targetVol || !targetVol->frame) return false;

  // 4. The other documents whose landmarks can pair with these.
  std::vector<CDrawDoc*> candidates;
  for (CDrawDoc* other : others) {
    CDrawSet* first = firstVolumeSet(other);
    int n = 0;
    if (first && IsNpoint3DRegisterPossible(view, targetVol->T(), other, &n) && n == target.count)
      candidates.push_back(other);
  }
  if (candidates.size() > 1) {
    twk::doc::message(fn, L"More than one document with compatible landmarks is present");
    return false;
  }
  if (candidates.empty()) {
    // 6. The document whose landmark count is nearest tells what does not pair.
    CDrawDoc* nearest = nullptr;
    Landmarks nearestMarks;
    int best = 0;
    for (CDrawDoc* other : others) {
      Landmarks marks(other->GetActiveSet(), documentTime(other, true));
      const int distance = std::abs(marks.count - target.count);
      if (!nearest || distance < best) {
        nearest = other;
        best = distance;
        nearestMarks = std::move(marks);
      }
    }
    if (TW_LandmarkLabelsUnique(nearestMarks.marks, nearestMarks.count)) {
      CString report;
      TW_LandmarkMismatchReport(nearestMarks.marks, nearestMarks.count, target.marks, target.count, &report);
      twk::doc::information(report);
    } else {
      twk::doc::message(fn, L"Source: Labels should be unique in both volumes");
    }
    return false;
  }

  // 5. The source set and its landmarks in the order of the target's.
  CDrawSet* sourceSet = candidates[0]->GetActiveSet();
  Landmarks source(sourceSet, documentTime(candidates[0], false));
  CVol* sourceVol = sourceSet ? sourceSet->GetBaseVol() : nullptr;
  if (!sourceVol || !sourceVol->frame || source.count != target.count) return false;
  if (!TW_MatchLandmarkLabels(source.marks, target.marks, target.count)) {
    twk::doc::message(fn, L"Label names should match in the source and destination");
    return false;
  }

  // 7. The options.
  NPNTREGPARMS& options = g_LandmarkRegisterParms;
  if (interactive) {
    options.transformFile = VA_VTF_GetSaveName(targetVol->name, L"");
    if (!TW_DlgNpntPairRegister(&options)) return false;
  }
  const DIM3D targetGrid{targetVol->W(), targetVol->H(), targetVol->D(), 1};
  const DIM3D sourceGrid{sourceVol->W(), sourceVol->H(), sourceVol->D(), 1};
  const int interpolation = options.interpolation;

  // 8. Radial basis functions: a flow field, no transform file.
  if (options.transformType == VA_TRANSFORM_TPS) {
    twk::doc::message(fn, L"TPS transform is not available at the moment");
    return false;
  }
  if (options.transformType == VA_TRANSFORM_GAUSS_RBF) {
    const std::vector<DPOINT3D> src = landmarkPoints(source.marks, source.count);
    const std::vector<DPOINT3D> tgt = landmarkPoints(target.marks, target.count);
    VA_FLOWFIELDINFO info;
    DPOINT3D* field = VA_PerformGaussRBF(options.sigma, options.lambda, false, src.data(), tgt.data(), source.count,
                                         &sourceGrid, &sourceVol->spc, &targetGrid, &targetVol->spc, &info, true);
    if (!field) return false;
    const bool ok = addResliced(set, sourceSet, targetVol, [&](const FRAME* frame) {
      return VA_ResliceByFlow(frame, -1, field, &targetGrid, interpolation, 0.0, true);
    });
    pf_free(&field);
    return ok;
  }

  // 9. A fitted transform, saved when rigid or affine and the options name a file.
  double* k = CalculateTransformByLandmarks(&options, &targetGrid, &sourceVol->spc, &targetVol->spc, source.marks,
                                            target.marks, target.count, interactive);
  if (!k) return false;
  std::unique_ptr<double, void (*)(double*)> held(k, [](double* p) { pf_free(&p); });
  const int type = options.transformType;
  CString savedFile;
  if (type < VA_TRANSFORM_POLYNOMIAL && !options.transformFile.IsEmpty()) {
    const CString path = VA_VTF_GetSaveName(options.transformFile, TW_Options().rawSave3DFolder);
    if (VTF_Save(path, type, &sourceGrid, &sourceVol->spc, &targetGrid, &targetVol->spc, k, false)) savedFile = path;
    else twk::doc::message(nullptr, L"Failed to save Transformation File");
  }
  const int resliceType = type == VA_TRANSFORM_POLYNOMIAL ? VA_TRANSFORM_POLYNOMIAL : VA_TRANSFORM_AFFINE;
  const int degree = type == VA_TRANSFORM_POLYNOMIAL ? options.degree : 1;

  // 10. The source layers resliced into this grid.
  if (!voxelSimilarity) {
    return addResliced(set, sourceSet, targetVol, [&](const FRAME* frame) {
      DIM3D dims = targetGrid;
      dims.t = frame->dim.t;
      return VA_ResliceTB(resliceType, degree, k, frame, &dims, interpolation, 0.0, true);
    });
  }

  // 11. AutoFocus from this run's landmark transform: the file just saved, else the transform
  // written for this run into the temporary folder (a polynomial starts from the affine fit of
  // the same landmarks, the search being affine).
  if (savedFile.IsEmpty()) {
    double* affine = k;
    std::unique_ptr<double, void (*)(double*)> fitted(nullptr, [](double* p) { pf_free(&p); });
    if (type == VA_TRANSFORM_POLYNOMIAL) {
      NPNTREGPARMS affineOptions = options;
      affineOptions.transformType = VA_TRANSFORM_AFFINE;
      fitted.reset(CalculateTransformByLandmarks(&affineOptions, &targetGrid, &sourceVol->spc, &targetVol->spc,
                                                 source.marks, target.marks, target.count, false));
      if (!fitted) return false;
      affine = fitted.get();
    }
    const CString path = PR_JoinPath(TW_Options().tempFolder, PR_GetFileTitleName(targetVol->name) + L"_landmarks.vtf");
    if (!VTF_Save(path, type == VA_TRANSFORM_RIGID ? VA_TRANSFORM_RIGID : VA_TRANSFORM_AFFINE, &sourceGrid,
                  &sourceVol->spc, &targetGrid, &targetVol->spc, affine, true))
      return false;
    savedFile = path;
  }
  VA_AF3D& record = TW_LandmarkAutofocusRecord();
  record.initialTransformFile = savedFile;
  return TW_RegisterAF3D(&set, interactive, view, &record, nullptr);
}

}  // namespace twk::registration
