#pragma once
// The parameter dialogs of the segmentation workflows: dynamic segmentation of a registered
// contrast-enhanced series ("Dynamic Segmentation"), whole-breast and chest-wall contour fitting
// ("Whole Breast Segmentation") and the rodent multi-holder segmentation, with their records and
// presets.

#include <cstdint>

#pragma pack(push, 1)
// Segmentation of a registered dynamic series by its voxel curves (one of the three presets).
struct VA_SEGMENTDYN {
  double noiseLevel = 0.0;
  double magnitudeThreshold = 5.0;
  double relativeThreshold = 0.5;
  int32_t smoothResidualMotion = 0;
  int32_t iterations = 1000;
  int32_t level = 16;
  int32_t tacConversion = 3;  // "None", "Hybrid", "Normalize", "Linear concentration", "... L2-norm", "... Peak-norm"
  uint8_t correctNonuniformity = 0;
  uint8_t reserved = 1;       // not shown; kept as it is
};

// Contour fitting of the whole breast and the chest wall.
struct VA_WHOLEBREASTMAPFIT {
  double airThreshold = 5.0;
  double edgeRadius = 4.0;       // voxels
  double evolutionStep = 40.0;   // voxels
  int32_t smoothness = 100;      // voxels
  double signatureRadius = 5.0;  // voxels
  uint8_t similarGradient = 0, similarSignature = 0, maxGradient = 1, gradientContourNormal = 1,
          similarGradientDirection = 0, wholeContourSimilarSignature = 0, ridgeMap = 0, maxEdge = 0,
          similarHistogramSignature = 0, preferDark = 0;
};

// Several animal holders in one scan: one region per holder.
struct VA_MOUSEHOLDERSEG {
  int32_t regions = 6;
  int32_t lowSignalThreshold = 3000;
  double chamberSeparation = 3.0;  // mm
  uint8_t outputCroppedVolumes = 1;
  uint8_t outputAtlas = 1;
};
#pragma pack(pop)

// The presets (1-based as the workflows name them); 0 or out of range gives preset 1.
VA_SEGMENTDYN TW_SegmentDynPreset(int preset);
VA_WHOLEBREASTMAPFIT TW_WholeBreastPreset(int preset);
extern VA_MOUSEHOLDERSEG g_MouseHolderParms;

// "Dynamic Segmentation": the non-uniformity box starts checked exactly when the TAC conversion is
// "None" or "Hybrid"; OK stores it. Modal; true on OK.
bool TW_DlgSegmentDCE(VA_SEGMENTDYN* record);
// "Whole Breast Segmentation": two-mode runner (silent last).
bool TW_DlgWholeBreastSeg(VA_WHOLEBREASTMAPFIT* record, bool silent);
// "Rodent Multi-holder Segmentation": two-mode runner (silent first); no range checks.
bool TW_DlgSegmentMouseHolder(bool silent, VA_MOUSEHOLDERSEG* record);
