#include "BrainDialogs.h"

#include "AutofocusDialogs.h"
#include "FilterDialogs.h"
#include "ParameterDialog.h"
#include "Vol.h"
#include "paths/FilePaths.h"

namespace {

VA_WMLVENTRSEG wmlDefaults() {
  VA_WMLVENTRSEG r;
  TW_InitWmlVentrSegDefaults(&r);
  return r;
}

VA_LATERALVENTRSEG ventricleDefaults() {
  VA_LATERALVENTRSEG r;
  TW_InitLateralVentrSegDefaults(&r);
  return r;
}

const wchar_t* const kAlgorithm = L"Algorithm version (2,4)";

}  // namespace

VA_WMLVENTRSEG g_WmlVentrSeg = wmlDefaults();
VA_LATERALVENTRSEG g_LateralVentrSeg = ventricleDefaults();

void TW_InitWmlVentrSegDefaults(VA_WMLVENTRSEG* r) {
  *r = VA_WMLVENTRSEG{};
  r->AlgoVersion = 2;
  r->DoN3 = 1;
  VA_N3setBasicParms(&r->N3parms, 2.0);
  r->UseGMmask = 0;
  r->UseMprage = 0;
  // The MPRAGE-to-FLAIR registration: rigid, mutual information of 32 bins, subsample 2, up to
  // 20 mm of translation, trilinear reslicing.
  VA_AF3D& af = r->AF3Dparms;
  af.measure = VA_REGMEASURE_MUTUAL_INFO;
  VA_UralGradBasicParms(&af.ural, 0, 2.6, 0, 1.0);
  af.useTargetRoi = 0;
  af.inflateUnits = 1;
  af.inflate = 0.0;
  af.extraFlag = 0;
  af.miBins = 32;
  af.subsample = 2.0;
  for (double& t : af.translationMax) t = 20.0;
  for (double& a : af.rotationMax) a = 0.0;
  af.rotationGrid = 1;
  af.uniformScale = 0;
  for (double& sc : af.scaleMax) sc = 0.0;
  af.scaleGrid = 1;
  af.shearMax = 0.0;
  af.shearGrid = 1;
  af.power = 1;
  af.multipass = 0;
  af.transformType = 1;
  af.interpolation = 1;
  af.resliceTargetToSource = 0;
  af.cleanByMask = 0;
  r->BmCoreSiLo = 0.4;
  r->BmCoreSiHi = 1.5;
  r->BmPeel = 3.1;
  r->BmGrow = 6.4;
  r->StemWeightThr = 0.05;
  r->VentPeel = 2.0;
  r->VentGrow = 30.0;
  r->VentMaxCC = 1;
  r->UseWMseedForNormVoxels = 0;
  r->WmDeflateToNormal = 5.0;
  r->WMLThresholdStddevMult = 2.0;
  r->WMLzoneDeflate = 3.0;
  r->WmMaxCCOnly = 1;
  r->GMbrightThrKoff = 1.5;
  r->WMLminSize = 12.0;
}

void TW_InitLateralVentrSegDefaults(VA_LATERALVENTRSEG* r) { *r = VA_LATERALVENTRSEG{0.4, 2.9, 6.4, 2.0, 3.0, 1}; }

bool TW_DlgLVWMLSeg(bool silent, VA_WMLVENTRSEG* record, CVol* flair, CVol* mprage, bool grayMatterMask) {
  if (!record) return false;
  // The dialog edits a copy; OK writes it back whole (the N3 and registration records included).
  VA_WMLVENTRSEG copy = *record;
  if (!grayMatterMask) copy.UseGMmask = 0;
  const bool hasMprage = mprage != nullptr;
  CString mprageName = hasMprage && mprage != TW_MPRAGE_GIVEN_LATER ? PR_GetFileTitle(mprage->name) : CString();
  auto whenMprage = [hasMprage](const TW_DIALOG_VALUES&) { return hasMprage; };
  auto algorithm2 = [](const TW_DIALOG_VALUES& v) { return v.Number(kAlgorithm) == 2; };

  TW_DIALOG d(L"White Matter Lesions Segmentation (FLAIR) Using Lateral Ventricle", L"CDlgLVWMLSeg");
  d.Integer(kAlgorithm, &copy.AlgoVersion);
  d.Flag(L"Nonuniformity correction", &copy.DoN3);
  d.Flag(L"Use provided Gray Matter mask", &copy.UseGMmask).EnabledWhen([grayMatterMask](const TW_DIALOG_VALUES&) {
    return grayMatterMask;
  });
  d.Text(L"MPRAGE", &mprageName).EnabledWhen([](const TW_DIALOG_VALUES&) { return false; });
  d.Flag(L"Use MPRAGE", &copy.UseMprage).EnabledWhen(whenMprage);
  d.Real(L"GM over FLAIR bright coeff threshold", &copy.GMbrightThrKoff);
  d.Real(L"Signal low (relative to seed)", &copy.BmCoreSiLo);
  d.Real(L"Peel (mm)", &copy.BmPeel);
  d.Real(L"Signal high (relative to seed)", &copy.BmCoreSiHi);
  d.Real(L"Grow (mm)", &copy.BmGrow);
  d.Real(L"Brain stem cutoff threshold", &copy.StemWeightThr);
  d.Real(L"Peel (mm)", &copy.VentPeel);
  d.Integer(L"Max number CC", &copy.VentMaxCC);
  d.Real(L"Grow (mm)", &copy.VentGrow);
  d.Flag(L"Use WM seed (uncheck for using WM morphology)", &copy.UseWMseedForNormVoxels).EnabledWhen(algorithm2);
  d.Real(L"Peel Brain mask to obtain healthy WM voxels (mm)", &copy.WmDeflateToNormal).EnabledWhen(algorithm2);
  d.Real(L"WML threshold stdev multiplier", &copy.WMLThresholdStddevMult).EnabledWhen(algorithm2);
  d.Real(L"Peel to exclude cortical lesions (mm)", &copy.WMLzoneDeflate);
  d.Flag(L"White Matter keep max connected component only", &copy.WmMaxCCOnly);
  d.Real(L"WML minimal size (mm^3)", &copy.WMLminSize);
  d.Button(L"N3 Parameters", [&copy](TW_DIALOG_VALUES&) {
    VA_N3PARM edited = copy.N3parms;
    if (TW_DlgN3(&edited)) copy.N3parms = edited;
  });
  d.Button(L"Registration Parameters", [&copy, flair, mprage, hasMprage](TW_DIALOG_VALUES&) {
    if (!hasMprage) return;
    CVol* source = mprage == TW_MPRAGE_GIVEN_LATER ? nullptr : mprage;
    VA_AF3D edited = copy.AF3Dparms;
    if (TW_DlgAutofocus3D(&edited, source, flair, flair ? &flair->spc : nullptr, nullptr, false))
      copy.AF3Dparms = edited;
  });
  if (!TW_RunDialog(silent, d)) return false;
  *record = copy;
  return true;
}

bool TW_DlgLateralVentrSeg(VA_LATERALVENTRSEG* record) {
  if (!record) return false;
  TW_DIALOG d(L"Lateral Ventricle Segmentation", L"CDlgLateralVentrSeg");
  d.Real(L"Brain Mask signal low (relative to WM)", &record->brainMaskSiLow);
  d.Real(L"Brain Mask peel (mm)", &record->brainMaskPeel);
  d.Real(L"Brain Mask grow (mm)", &record->brainMaskGrow);
  d.Real(L"Ventricle min width (mm)", &record->ventricleMinWidth);
  d.Real(L"Ventricle grow coefficient", &record->ventricleGrow);
  d.Integer(L"Max number of connected components", &record->maxComponents);
  return TW_RunDialog(d);
}
