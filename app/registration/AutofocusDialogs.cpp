#include "AutofocusDialogs.h"

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "FilePickers.h"
#include "ParameterDialog.h"
#include "TextureEdgeDialog.h"
#include "TwkTypes.h"
#include "TwkUi.h"
#include "registration/DicomTransform.h"
#include "registration/TransformFiles.h"
#include "Vol.h"
#include "registration/Transform.h"

namespace {

// Noise levels and converted inflates are shown to one decimal.
double roundTenth(double v) { return std::floor(v / 0.1 + 0.5) * 0.1; }

double smallestVoxel(const SPC* spacing) {
  if (!spacing) return 1.0;
  const double v = std::min({spacing->x, spacing->y, spacing->z});
  return v > 0 ? v : 1.0;
}

const wchar_t* const kMeasure = L"Similarity measure";
const wchar_t* const kUnits = L"Inflate units";
const wchar_t* const kInflate = L"Inflate";
const wchar_t* const kInitialFile = L"Load inital transformation";
const wchar_t* const kFinalFile = L"Save final transformation";

// The fields both dialogs share, bound to the working copy; the ranges that differ are passed in.
struct SharedRanges {
  double translationMax, shearMax, gridMax, rotationGridMax, scaleGridMax, shearGridMax;
};

void addSearchFields(TW_DIALOG& d, VA_AF3D& w, const SharedRanges& r) {
  d.Integer(L"Mutual Info number of bins", &w.miBins, 0, 100000);
  d.Real(L"Subsample [1,8]", &w.subsample, 1, 10);
  d.Real(L"Translation max X mm", &w.translationMax[0], 0, r.translationMax);
  d.Real(L"Translation max Y mm", &w.translationMax[1], 0, r.translationMax);
  d.Real(L"Translation max Z mm", &w.translationMax[2], 0, r.translationMax);
  d.Real(L"Rotation angle max X (deg)", &w.rotationMax[0], 0, 90);
  d.Real(L"Rotation angle max Y (deg)", &w.rotationMax[1], 0, 90);
  d.Real(L"Rotation angle max Z (deg)", &w.rotationMax[2], 0, 90);
  d.Integer(L"Rotation grid", &w.rotationGrid, 1, r.rotationGridMax);
}

void addScaleShearFields(TW_DIALOG& d, VA_AF3D& w, const SharedRanges& r) {
  d.Real(L"Scale deformation max X", &w.scaleMax[0], 0, 10);
  d.Real(L"Scale deformation max Y", &w.scaleMax[1], 0, 10);
  d.Real(L"Scale deformation max Z", &w.scaleMax[2], 0, 10);
  d.Integer(L"Scale grid", &w.scaleGrid, 1, r.scaleGridMax);
  d.Real(L"Shear magnitude max [0,10]", &w.shearMax, 0, r.shearMax);
  d.Integer(L"Shear grid", &w.shearGrid, 1, r.shearGridMax);
  d.Integer(L"Power [0,1000]", &w.power, 0, 100000);
  d.Flag(L"Multipass", &w.multipass);
}

// "voxels" <-> "mm": the inflate is multiplied or divided by the smallest voxel size.
std::function<void(TW_DIALOG_VALUES&, int)> inflateUnitsSwitch(double voxel) {
  return [voxel](TW_DIALOG_VALUES& v, int field) {
    if (field != v.IndexOf(kUnits)) return;
    const double value = v.Number(kInflate);
    v.SetText(kInflate, TW_RoundTripText(roundTenth(v.Choice(kUnits) == 1 ? value * voxel : value / voxel)));
  };
}

// "URAL Settings": the texture-gradient dialog edits the dialog's copy of the settings (its OK
// keeps the edit; the record itself changes only with the AutoFocus dialog's OK).
void addUralButton(TW_DIALOG& d, VA_URALGRAD* settings) {
  d.Button(L"URAL Settings", [settings](TW_DIALOG_VALUES&) {
    VA_URALGRAD edited = *settings;
    if (TW_DlgMultiScaleTextureGrad(&edited)) *settings = edited;
  });
}

// The measure needs noise levels: a gradient measure with the dialog's current magnitude.
bool needsNoise(int measure, const VA_URALGRAD& settings) {
  return (measure == 5 || measure == 6) && settings.magnitude == 2;
}

}  // namespace

bool TW_AutofocusNeedsNoise(const VA_AF3D& record) {
  return VA_AF3D_UsesGradientMeasure(record) && record.ural.magnitude == 2;
}

bool TW_DlgAutofocus3D(VA_AF3D* record, CVol* source, CVol* target, const SPC* spacing,
                       const wchar_t* targetRoiName, bool silent) {
  if (!record) return false;
  VA_AF3D w = *record;
  w.sourceNoise = roundTenth(w.sourceNoise);
  w.targetNoise = roundTenth(w.targetNoise);
  const bool haveRoi = targetRoiName && *targetRoiName;
  if (!haveRoi) w.useTargetRoi = 0;
  const CString roiLabel = haveRoi ? CString(L"Use Target ROI : ") + targetRoiName : CString(L"Use Target ROI:");
  const SharedRanges ranges{3000, 10, 0, 999, 1000, 100};

  TW_DIALOG d(L"3D Registration with AutoFocus", L"CDlgAutofocus3D");
  d.Choice(kMeasure, &w.measure,
           {L"Signal Difference", L"Cross Correlation", L"Image Ratio Uniformity", L"Mutual Info",
            L"Mutual Info Normalized", L"Normalized Gradient Field", L"Normalized Gradient Field+"});
  auto roiEnabled = [haveRoi](const TW_DIALOG_VALUES&) { return haveRoi; };
  d.Flag(roiLabel, &w.useTargetRoi).EnabledWhen(roiEnabled);
  d.Choice(kUnits, &w.inflateUnits, {L"voxels", L"mm"}).EnabledWhen(roiEnabled);
  d.Real(kInflate, &w.inflate, 0, 1024).EnabledWhen(roiEnabled);
  d.Real(L"Source noise", &w.sourceNoise, 0, 10000);
  d.Real(L"Target noise", &w.targetNoise, 0, 10000);
  addSearchFields(d, w, ranges);
  d.Flag(L"Uniform scale", &w.uniformScale);
  addScaleShearFields(d, w, ranges);
  d.Choice(L"Transform", &w.transformType,
           {L"Translation", L"Rigid", L"Affine", L"Quadratic", L"Polynomial Multipass"});
  d.Choice(L"Interpolation", &w.interpolation,
           {L"Nearest Neighbor", L"Tri linear", L"Wsinc2", L"Wsinc3", L"Wsinc4"});
  d.Flag(L"Reslice Target to Source", &w.resliceTargetToSource);
  d.Text(kInitialFile, &w.initialTransformFile);
  d.Text(kFinalFile, &w.finalTransformFile);
  d.onChange = inflateUnitsSwitch(smallestVoxel(spacing));
  addUralButton(d, &w.ural);
  // The two transformation files are picked with the transform-file filter; Cancel keeps the text.
  d.Button(L"Browse initial transformation", [](TW_DIALOG_VALUES& v) {
    CString path = v.Text(kInitialFile);
    if (TW_GetFileLoadName(TW_FILTER_VTF, nullptr, nullptr, nullptr, &path)) v.SetText(kInitialFile, path);
  });
  d.Button(L"Browse final transformation", [](TW_DIALOG_VALUES& v) {
    CString path = v.Text(kFinalFile);
    if (TW_GetFileSaveName(TW_FILTER_VTF, nullptr, nullptr, nullptr, &path)) v.SetText(kFinalFile, path);
  });
  // "From DICOM" (offered with both volumes): the transform the two volumes' patient geometry
  // implies, saved as "DicomTags.vtf" in the 3D save folder, becomes the initial transformation.
  // A failure leaves the field as it was and says nothing.
  if (source && target && source->frame && target->frame) {
    d.Button(L"From DICOM", [source, target](TW_DIALOG_VALUES& v) {
      double matrix[16];
      if (!VA_GetInitTransformWithDicomTags(source, target, false, matrix, false)) return;
      CString path = TW_Options().rawSave3DFolder;
      if (!path.IsEmpty() && path.Right(1) != L"/") path += L"/";
      path += L"DicomTags.vtf";
      const DIM3D sd{source->frame->dim.w, source->frame->dim.h, source->frame->dim.d, 1};
      const DIM3D td{target->frame->dim.w, target->frame->dim.h, target->frame->dim.d, 1};
      if (VTF_Save(path, VA_TRANSFORM_AFFINE, &sd, &source->spc, &td, &target->spc, matrix, false))
        v.SetText(kInitialFile, path);
    });
  }
  // URAL-UNI (a gradient measure with the normalized magnitude) needs both noise levels.
  const VA_URALGRAD* ural = &w.ural;
  d.onCheck = [ural](const TW_DIALOG_VALUES& v) {
    if (needsNoise(v.Choice(kMeasure), *ural) &&
        (std::fabs(v.Number(L"Source noise")) < 1e-100 || std::fabs(v.Number(L"Target noise")) < 1e-100)) {
      twk::messageBox(L"Specify Source and Target noise for URAL-UNI registration measure", MB_OK | MB_ICONSTOP);
      return false;
    }
    return true;
  };
  if (!TW_RunDialog(silent, d)) return false;
  *record = w;
  return true;
}

bool TW_DlgAutofocus4D(VA_AF4D* record, int currentDynamic, const SPC* spacing, bool disable2D, bool silent) {
  if (!record) return false;
  VA_AF4D w = *record;
  const bool roiAllowed = w.useTargetRoi != 0;
  const SharedRanges ranges{10000, 1000, 0, 10000, 10000, 10000};
  CString dynamicText;
  dynamicText.Format(L"Current dynamic index %u", unsigned(std::max(0, currentDynamic) + 1));
  CString dynamicValue;

  TW_DIALOG d(L"4D Registration with AutoFocus", L"CDlgAutofocus4D");
  d.Text(dynamicText, &dynamicValue).EnabledWhen([](const TW_DIALOG_VALUES&) { return false; });
  d.Choice(kMeasure, &w.measure,
           {L"Signal Difference", L"Cross Correlation", L"Image Ratio Uniformity", L"Mutual Info",
            L"Mutual Info Norm", L"Normalized Gradient Field", L"Normalized Gradient Field+"});
  auto roiEnabled = [roiAllowed](const TW_DIALOG_VALUES&) { return roiAllowed; };
  d.Flag(L"Use Target ROI", &w.useTargetRoi).EnabledWhen(roiEnabled);
  d.Choice(kUnits, &w.inflateUnits, {L"voxels", L"mm"});
  d.Real(kInflate, &w.inflate, 0, 1024).EnabledWhen(roiEnabled);
  d.Real(L"Noise (URAL-UNI measure only)", &w.targetNoise, 0, 10000);
  addSearchFields(d, w, ranges);
  addScaleShearFields(d, w, ranges);
  d.Choice(L"Transform", &w.transformType, {L"Translation", L"Rigid", L"Affine", L"Quadratic"});
  d.Choice(L"Interpolation", &w.interpolation,
           {L"Nearest Neighbor", L"Tri Linear", L"Wsinc 2", L"Wsinc 3", L"Wsinc 4"});
  d.Flag(L"2D mode", &w.mode2D).EnabledWhen([disable2D](const TW_DIALOG_VALUES&) { return !disable2D; });
  d.Choice(L"4D algorithm", &w.algorithm4D, {L"Serial", L"Radial", L"Serial Forward", L"Radial Forward"});
  d.Flag(L"Output ROI motion", &w.outputRoiMotion);
  d.Flag(L"Save timepoint transform", &w.saveTimepointTransform);
  d.onChange = inflateUnitsSwitch(smallestVoxel(spacing));
  addUralButton(d, &w.ural);
  const VA_URALGRAD* ural = &w.ural;
  d.onCheck = [ural](const TW_DIALOG_VALUES& v) {
    if (needsNoise(v.Choice(kMeasure), *ural) &&
        std::fabs(v.Number(L"Noise (URAL-UNI measure only)")) < 1e-100) {
      twk::messageBox(L"Specify noise for URAL-UNI registration measure", MB_OK | MB_ICONSTOP);
      return false;
    }
    return true;
  };
  if (!TW_RunDialog(silent, d)) return false;
  *record = w;
  return true;
}
