#include "SegmentationDialogs.h"

#include "ParameterDialog.h"

VA_MOUSEHOLDERSEG g_MouseHolderParms;

VA_SEGMENTDYN TW_SegmentDynPreset(int preset) {
  VA_SEGMENTDYN r;
  if (preset == 2) {
    r.smoothResidualMotion = 1;
    r.iterations = 400;
    r.level = 3;
  } else if (preset == 3) {
    r.magnitudeThreshold = 0.0;
    r.relativeThreshold = 0.0;
    r.iterations = 100;
    r.tacConversion = 2;
  }
  return r;
}

VA_WHOLEBREASTMAPFIT TW_WholeBreastPreset(int preset) {
  VA_WHOLEBREASTMAPFIT r;
  if (preset == 2) {
    r.edgeRadius = 3.0;
    r.evolutionStep = 10.0;
    r.smoothness = 5;
    r.similarGradient = r.similarSignature = r.similarGradientDirection = r.wholeContourSimilarSignature =
        r.ridgeMap = 1;
  }
  return r;
}

bool TW_DlgSegmentDCE(VA_SEGMENTDYN* record) {
  if (!record) return false;
  // Aligned copies of the packed record's fields.
  double noise = record->noiseLevel, magnitude = record->magnitudeThreshold, relative = record->relativeThreshold;
  int32_t motion = record->smoothResidualMotion, iterations = record->iterations, level = record->level,
          tac = record->tacConversion;
  uint8_t correct = tac < 2 ? 1 : 0;
  TW_DIALOG d(L"Dynamic Segmentation", L"CDlgSegmentDCE");
  d.Real(L"Noise level", &noise, 0, 10000);
  d.Real(L"Magnitude threshold", &magnitude, 0, 10000);
  d.Real(L"Relative threshold", &relative, 0, 10000);
  d.Integer(L"Smooth residual Motion", &motion, 0, 100);
  d.Integer(L"Segmentation iterations", &iterations, 0, 10000);
  d.Integer(L"Level", &level, 2, 16);
  d.Choice(L"TAC conversion", &tac,
           {L"None", L"Hybrid", L"Normalize", L"Linear concentration", L"Linear concentration L2-norm",
            L"Linear concentration Peak-norm"});
  d.Flag(L"Correct non-uniformity ", &correct);
  if (!TW_RunDialog(d)) return false;
  record->noiseLevel = noise;
  record->magnitudeThreshold = magnitude;
  record->relativeThreshold = relative;
  record->smoothResidualMotion = motion;
  record->iterations = iterations;
  record->level = level;
  record->tacConversion = tac;
  record->correctNonuniformity = correct;
  return true;
}

bool TW_DlgWholeBreastSeg(VA_WHOLEBREASTMAPFIT* record, bool silent) {
  if (!record) return false;
  VA_WHOLEBREASTMAPFIT r = *record;
  double air = r.airThreshold, edge = r.edgeRadius, step = r.evolutionStep, signature = r.signatureRadius;
  int32_t smoothness = r.smoothness;
  uint8_t flags[10] = {r.similarGradient, r.similarSignature, r.maxGradient, r.gradientContourNormal,
                       r.similarGradientDirection, r.wholeContourSimilarSignature, r.ridgeMap, r.maxEdge,
                       r.similarHistogramSignature, r.preferDark};
  const wchar_t* labels[10] = {L"Similar gradient", L"Similar signature", L"Max gradient",
                               L"Gradient contour normal", L"Similar gradient direction",
                               L"Whole contour similar signature", L"Ridge map", L"Max edge",
                               L"Similar histogram signature", L"Prefer dark"};
  TW_DIALOG d(L"Whole Breast Segmentation", L"CDlgWholeBreastSeg");
  d.Real(L"Air threshold coefficient [1,10]", &air, 0, 100);
  d.Real(L"Edge radius (vox) [2,30]", &edge, 2, 100);
  d.Real(L"Contour evolution step (vox) [1,20]", &step, 1, 10000);
  d.Integer(L"Contour smoothness (vox)", &smoothness, 0, 10000);
  d.Real(L"Signature comparison radius (vox) [1,20]", &signature, 1, 1000);
  for (int i = 0; i < 10; ++i) d.Flag(labels[i], &flags[i]);
  if (!TW_RunDialog(silent, d)) return false;
  r.airThreshold = air;
  r.edgeRadius = edge;
  r.evolutionStep = step;
  r.smoothness = smoothness;
  r.signatureRadius = signature;
  uint8_t* out[10] = {&r.similarGradient, &r.similarSignature, &r.maxGradient, &r.gradientContourNormal,
                      &r.similarGradientDirection, &r.wholeContourSimilarSignature, &r.ridgeMap, &r.maxEdge,
                      &r.similarHistogramSignature, &r.preferDark};
  for (int i = 0; i < 10; ++i) *out[i] = flags[i];
  *record = r;
  return true;
}

bool TW_DlgSegmentMouseHolder(bool silent, VA_MOUSEHOLDERSEG* record) {
  if (!record) return false;
  int32_t regions = record->regions, threshold = record->lowSignalThreshold;
  double separation = record->chamberSeparation;
  uint8_t cropped = record->outputCroppedVolumes, atlas = record->outputAtlas;
  TW_DIALOG d(L"Rodent Multi-holder Segmentation", L"CDlgSegmentMouseHolder");
  d.Integer(L"Number of regions", &regions);
  d.Integer(L"Low signal threshold", &threshold);
  d.Real(L"Chamber separation (mm)", &separation);
  d.Flag(L"Output cropped volumes", &cropped);
  d.Flag(L"Output segmentation atlas", &atlas);
  if (!TW_RunDialog(silent, d)) return false;
  record->regions = regions;
  record->lowSignalThreshold = threshold;
  record->chamberSeparation = separation;
  record->outputCroppedVolumes = cropped;
  record->outputAtlas = atlas;
  return true;
}
