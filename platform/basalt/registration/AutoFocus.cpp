#include "AutoFocus.h"

void VA_UralGradBasicParms(VA_URALGRAD* settings, int metric, double highRadius, int magnitude, double normalization) {
  if (!settings) return;
  settings->metric = metric;
  settings->weights = 0;
  settings->magnitude = magnitude;
  settings->normalization = normalization;
  settings->lowRadius = 1.0;
  settings->highRadius = highRadius;
}

bool VA_AF3D_UsesGradientMeasure(const VA_AF3D& record) {
  return record.measure == VA_REGMEASURE_GRADIENT_FIELD || record.measure == VA_REGMEASURE_GRADIENT_FIELD_PLUS;
}
