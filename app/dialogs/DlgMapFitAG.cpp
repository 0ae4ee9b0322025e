#include "DlgMapFitAG.h"

#include <cstdint>

#include "ParameterDialog.h"
#include "trace/MapFit.h"

bool TW_DlgMapFitAG(VA_MAPFITAGPARM* record) {
  if (!record) return false;
  // The record is byte-packed: the dialog edits aligned copies of its fields.
  struct {
    uint8_t flags[11];
    uint8_t snapEnds;
    double edgeRadius, step, smoothness, signatureRadius;
  } v{};
  VA_MAPFITAGPARM& r = *record;
  uint8_t* fields[11] = {&r.similarSignature, &r.maxEdge, &r.similarGradient, &r.similarGradientDirection,
                         &r.gradientContourNormal, &r.wholeContourSimilarSignature, &r.similarHistogramSignature,
                         &r.maxGradient, &r.ridgeMap, &r.reserved10, &r.preferDark};
  for (int i = 0; i < 11; ++i) v.flags[i] = *fields[i];
  v.snapEnds = r.snapContourEndsToBottomY;
  v.edgeRadius = r.edgeRadius;
  v.step = r.evolutionStep;
  v.smoothness = r.smoothness;
  v.signatureRadius = r.signatureRadius;

  TW_DIALOG d(L"MapFit MAG (Multi-Agent)", L"CDlgMapFitAG");
  d.Real(L"Edge radius (vox) [2,30]", &v.edgeRadius, 2, 20);
  d.Real(L"Contour evolution step (vox) [1,20]", &v.step, 1, 100);
  d.Real(L"Contour smoothness (vox)", &v.smoothness, 0, 100000);
  d.Real(L"Signature comparison radius (vox) [1,20]", &v.signatureRadius, 1, 100);
  const wchar_t* labels[11] = {L"Similar signature", L"Max edge", L"Similar gradient", L"Similar gradient direction",
                               L"Gradient contour normal", L"Whole contour similar signature",
                               L"Similar histogram signature", L"Max gradient", L"Ridge map", nullptr,
                               L"Prefer dark"};
  for (int i = 0; i < 11; ++i)
    if (labels[i]) d.Flag(labels[i], &v.flags[i]);
  d.Flag(L"Snap contour ends to bottom Y", &v.snapEnds);
  if (!TW_RunDialog(d)) return false;

  for (int i = 0; i < 11; ++i) *fields[i] = v.flags[i] ? 1 : 0;
  r.snapContourEndsToBottomY = v.snapEnds ? 1 : 0;
  r.edgeRadius = v.edgeRadius;
  r.evolutionStep = v.step;
  r.smoothness = int32_t(v.smoothness);
  r.signatureRadius = v.signatureRadius;
  return true;
}
