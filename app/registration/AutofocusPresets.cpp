#include "AutofocusPresets.h"

#include <cmath>

#include "CommandTable.h"

VA_AF3D g_AF3DSignalDifference, g_AF3DCrossCorrelation, g_AF3DBuildTest, g_AF3DSliceBySlice, g_AF3DSingleModality,
    g_AF3DMultiModality, g_AF3DPostmortem, g_AF3DMouseHeadAtlas, g_AF3DMonkeyBrain, g_AF3DMRandPET, g_AF3DBrainFDGDCE,
    g_AF3DPalvenSliceA, g_AF3DPalvenSliceB, g_AF3DPalvenKidneyRoi, g_AF3DPalvenVibe, g_AF3DHipAtlas,
    g_AF3DBreastEPItoT1, g_AF3DBreastPETtoT1, g_AF3DLandmarks;

VA_AF4D g_AF4DBuildTest, g_AF4DIvimKidney, g_AF4DRodentMI, g_AF4DRodentURAL, g_AF4DRenalURAL, g_AF4DRenalMI,
    g_AF4DInSliceURAL, g_AF4DInSliceMI, g_AF4DKidneyMIRadial, g_AF4DKidneyMIEnsemble, g_AF4DKidney2D, g_AF4DKidney3D,
    g_AF4DBrainMaskMR, g_AF4DPetBrainMask, g_AF4DPalvenPerfusion, g_AF4DPalvenProtonDensity, g_AF4DTwoDocuments,
    g_AF4DSpare, g_AF4DNeckDwi;

namespace {

enum { SD = 0, EMD = 1 };          // texture-gradient metrics
enum { LIN = 0, LOG = 1, NORM = 2 };  // magnitude measures
enum { VOX = 0, MM = 1 };

// One line of a preset table.
struct PRESET3D {
  VA_AF3D* record;
  int measure;
  int metric;
  double radius;
  int magnitude;
  double normalization;
  bool targetRoi;
  double inflate;
  int inflateUnits;
  double subsample;
  double translation[3];
  double rotation[3];
  int rotationGrid;
  double scale[3];
  int scaleGrid;
  bool uniformScale;
  int power;
  int transform;
  int interpolation;
  int miBins;
  bool multipass;
  bool reslice;
  bool extraFlag;
};

// Every field from the table; the rest as a static record holds them (both strings empty, the
// noise levels 0, shear 0 with grid 1, no multipass, clean-by-mask off).
void write(const PRESET3D& p) {
  VA_AF3D& r = *p.record;
  r.measure = p.measure;
  VA_UralGradBasicParms(&r.ural, p.metric, p.radius, p.magnitude, p.normalization);
  r.initialTransformFile.Empty();
  r.finalTransformFile.Empty();
  r.useTargetRoi = p.targetRoi ? 1 : 0;
  r.inflate = p.inflate;
  r.inflateUnits = p.inflateUnits;
  r.extraFlag = p.extraFlag ? 1 : 0;
  r.sourceNoise = r.targetNoise = 0.0;
  r.miBins = p.miBins;
  r.subsample = p.subsample;
  for (int i = 0; i < 3; ++i) {
    r.translationMax[i] = p.translation[i];
    r.rotationMax[i] = p.rotation[i];
    r.scaleMax[i] = p.scale[i];
  }
  r.rotationGrid = p.rotationGrid;
  r.scaleGrid = p.scaleGrid;
  r.uniformScale = p.uniformScale ? 1 : 0;
  r.shearMax = 0.0;
  r.shearGrid = 1;
  r.power = p.power;
  r.multipass = p.multipass ? 1 : 0;
  r.transformType = p.transform;
  r.interpolation = p.interpolation;
  r.resliceTargetToSource = p.reslice ? 1 : 0;
  r.cleanByMask = 0;
}

struct PRESET4D {
  PRESET3D base;
  int algorithm;
  bool mode2D;
};

void write(const PRESET4D& p) {
  write(p.base);
  auto& r = static_cast<VA_AF4D&>(*p.base.record);
  r.algorithm4D = p.algorithm;
  r.mode2D = p.mode2D ? 1 : 0;
  r.outputRoiMotion = 0;
  r.saveTimepointTransform = 0;
}


}  // namespace

void TW_InitAutofocus3DDefaults() {
  // record, measure, texture gradient (metric, radius, magnitude, normalization), target ROI,
  // inflate and its unit, subsample, translation, rotation and grid, scale and grid, uniform,
  // power, transform, interpolation, MI bins, multipass, reslice target to source, extra flag.
  const PRESET3D table[] = {
      {&g_AF3DSignalDifference, 0, SD, 2.6, LIN, 1.0, false, 0, VOX, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 20, 1, 1, 0, false, false, false},
      {&g_AF3DCrossCorrelation, 1, SD, 2.6, LIN, 1.0, false, 0, VOX, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 20, 1, 1, 0, false, false, false},
      {&g_AF3DBuildTest, 3, SD, 2.6, LIN, 1.0, false, 0, VOX, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 1, 1, 1, 0, false, false, false},
      {&g_AF3DSliceBySlice, 5, SD, 2.6, LOG, 4.0, false, 0, VOX, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 1, 1, 1, 0, false, false, false},
      {&g_AF3DSingleModality, 5, SD, 2.6, NORM, 4.0, false, 0, VOX, 3, {30, 30, 30}, {6, 6, 6}, 7, {0, 0, 0}, 1, false, 1, 1, 1, 0, false, false, false},
      {&g_AF3DMultiModality, 5, SD, 2.6, NORM, 4.0, false, 0, VOX, 3, {30, 30, 30}, {6, 6, 6}, 7, {0, 0, 0}, 1, false, 1, 1, 1, 0, false, false, false},
      {&g_AF3DPostmortem, 5, SD, 2.6, NORM, 2.0, false, 2, VOX, 5, {10, 10, 10}, {5, 5, 5}, 7, {0.2, 0.2, 0.2}, 7, false, 1, 2, 1, 0, false, false, false},
      {&g_AF3DMouseHeadAtlas, 4, SD, 2.6, LIN, 1.0, false, 0, VOX, 5, {5, 5, 15}, {5, 5, 5}, 10, {0, 0, 0}, 1, true, 1, 1, 1, 32, false, false, false},
      {&g_AF3DMonkeyBrain, 5, SD, 2.6, LIN, 1.0, false, 5, VOX, 5, {10, 10, 10}, {30, 30, 30}, 10, {0, 0, 0}, 1, true, 1, 1, 1, 0, false, false, false},
      {&g_AF3DMRandPET, 5, SD, 3.0, LIN, 1.0, true, 0, VOX, 2, {10, 10, 10}, {20, 20, 20}, 7, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, true, false},
      {&g_AF3DBrainFDGDCE, 5, SD, 3.0, LIN, 1.0, true, 0, VOX, 2, {20, 20, 20}, {20, 20, 20}, 11, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, true, false},
      {&g_AF3DPalvenSliceA, 5, SD, 4.0, LOG, 2.0, false, 8, VOX, 1, {12, 25, 10}, {3, 3, 3}, 3, {0, 0, 0}, 1, false, 100, 2, 1, 0, false, false, true},
      {&g_AF3DPalvenSliceB, 5, SD, 3.0, LIN, 2.0, false, 3, VOX, 1, {12, 25, 10}, {5, 5, 5}, 55, {0, 0, 0}, 1, false, 100, 2, 1, 0, false, false, false},
      {&g_AF3DPalvenKidneyRoi, 5, EMD, 2.6, LIN, 1.0, true, 0, VOX, 1, {20, 30, 10}, {3, 3, 3}, 7, {0, 0, 0}, 1, false, 1, 1, 1, 0, false, false, false},
      {&g_AF3DPalvenVibe, 5, SD, 3.0, LIN, 2.0, false, 0, VOX, 1, {12, 25, 10}, {5, 5, 5}, 55, {0, 0, 0}, 1, false, 100, 2, 1, 0, false, false, false},
      {&g_AF3DHipAtlas, 3, SD, 2.6, LIN, 1.0, false, 20, VOX, 4, {70, 70, 70}, {0, 0, 0}, 1, {1.3, 1.3, 1.3}, 100, true, 1, 1, 1, 64, true, false, false},
      {&g_AF3DBreastEPItoT1, 3, SD, 2.6, LOG, 4.0, false, 3, VOX, 1, {15, 15, 15}, {0, 0, 0}, 1, {0, 0.2, 0}, 20, false, 0, 1, 1, 0, false, false, false},
      {&g_AF3DBreastPETtoT1, 3, SD, 2.6, LOG, 3.0, false, 3, VOX, 2, {15, 15, 15}, {0, 0, 0}, 1, {0, 0.2, 0}, 20, false, 1, 1, 1, 0, false, false, false},
      {&g_AF3DLandmarks, 5, SD, 2.6, NORM, 5.0, false, 0, VOX, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 20, 1, 1, 0, false, false, false},
  };
  for (const PRESET3D& p : table) write(p);
  // Two inflates follow the texture gradient's radius: rounded up to whole voxels, and as it is.
  g_AF3DBrainFDGDCE.inflate = std::ceil(g_AF3DBrainFDGDCE.ural.highRadius);
  g_AF3DPalvenVibe.inflate = g_AF3DPalvenVibe.ural.highRadius;
}

void TW_InitAutofocus4DDefaults() {
  const PRESET4D table[] = {
      {{&g_AF4DBuildTest, 1, SD, 2.6, LIN, 4.0, false, 0, VOX, 1, {20, 20, 20}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DIvimKidney, 5, SD, 3.0, LOG, 2.0, false, 3, VOX, 1, {12, 15, 0}, {5, 5, 5}, 15, {0, 0, 0}, 1, false, 5, 1, 2, 0, false, false, false}, 1, true},
      {{&g_AF4DRodentMI, 4, SD, 2.6, LIN, 4.0, false, 0, VOX, 2, {15, 15, 15}, {5, 5, 5}, 7, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DRodentURAL, 5, SD, 2.6, LIN, 3.0, false, 0, VOX, 2, {15, 15, 15}, {5, 5, 5}, 7, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DRenalURAL, 5, SD, 2.6, NORM, 2.0, false, 4, VOX, 1, {20, 30, 10}, {3, 3, 3}, 3, {0, 0, 0}, 1, false, 5, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DRenalMI, 4, SD, 2.6, LIN, 2.0, false, 3, VOX, 1, {20, 30, 10}, {3, 3, 3}, 3, {0, 0, 0}, 1, false, 5, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DInSliceURAL, 5, SD, 2.6, NORM, 2.0, false, 4, VOX, 1, {20, 30, 0}, {0, 0, 5}, 15, {0, 0, 0}, 1, false, 5, 1, 2, 0, false, false, false}, 1, true},
      {{&g_AF4DInSliceMI, 4, SD, 2.6, LIN, 2.0, false, 3, VOX, 1, {20, 30, 0}, {0, 0, 5}, 15, {0, 0, 0}, 1, false, 5, 1, 2, 0, false, false, false}, 1, true},
      {{&g_AF4DKidneyMIRadial, 3, SD, 4.6, LIN, 2.0, false, 3, VOX, 2, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, false, 3, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DKidneyMIEnsemble, 3, SD, 4.6, LIN, 2.0, false, 3, VOX, 2.5, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, false, 20, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DKidney2D, 6, SD, 3.6, LIN, 2.0, false, 3, VOX, 2, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DKidney3D, 6, SD, 3.3, LIN, 2.0, false, 3, VOX, 2, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, false, false}, 1, false},
      // The scale grid is 1, the least the 4D dialog accepts (no scale is searched either way).
      {{&g_AF4DBrainMaskMR, 5, SD, 2.6, LIN, 2.0, true, 3, VOX, 3, {5, 5, 5}, {20, 20, 20}, 11, {0, 0, 0}, 1, true, 1, 1, 1, 0, false, false, false}, 1, false},
      {{&g_AF4DPetBrainMask, 0, SD, 3.0, LOG, 2.0, true, 0, VOX, 2, {25, 25, 25}, {10, 10, 10}, 5, {0, 0, 0}, 1, false, 1, 1, 1, 16, false, false, false}, 2, false},
      {{&g_AF4DPalvenPerfusion, 5, EMD, 4.0, LOG, 2.0, false, 20, MM, 1, {12, 25, 10}, {3, 3, 3}, 33, {0, 0, 0}, 1, false, 25, 2, 2, 0, false, false, false}, 1, true},
      {{&g_AF4DPalvenProtonDensity, 5, EMD, 4.0, LOG, 2.0, false, 20, MM, 1, {12, 25, 10}, {3, 3, 3}, 33, {0, 0, 0}, 1, false, 25, 2, 2, 0, false, false, false}, 1, true},
      {{&g_AF4DTwoDocuments, 5, SD, 4.1, NORM, 2.0, false, 0, VOX, 2, {10, 10, 50}, {7, 7, 7}, 7, {0, 0, 0}, 1, false, 1, 1, 2, 0, false, false, false}, 1, false},
      {{&g_AF4DSpare, 5, SD, 4.0, LIN, 10.0, false, 8, VOX, 1, {12, 20, 10}, {5, 5, 5}, 25, {0, 0, 0}, 1, false, 50, 2, 2, 0, false, false, false}, 1, true},
  };
  for (const PRESET4D& p : table) write(p);
}

void TW_InitNeckAutofocusDefaults() {
  write(PRESET4D{{&g_AF4DNeckDwi, 3, SD, 4.1, NORM, 2.0, true, 3, VOX, 2, {5, 5, 5}, {3, 3, 3}, 3, {0, 0, 0}, 1, false, 1, 1, 1, 0, false, false, false}, 1, false});
}

VA_AF3D TW_UncropAutofocusRecord() {
  VA_AF3D r;
  write(PRESET3D{&r, 0, SD, 2.6, LIN, 1.0, false, 0, VOX, 1.0, {100, 100, 100}, {0, 0, 0}, 1, {0, 0, 0}, 1, false, 0, 1, 0, 0, false, true, false});
  return r;
}

TW_COMMAND_BINDINGS(autofocus_presets) {
  // The rows name the records by the commands' preset names.
  const struct {
    const char* name;
    VA_AF3D* record;
  } presets3D[] = {
      {"g_AF3DSignalDifference", &g_AF3DSignalDifference}, {"g_AF3DCrossCorrelation", &g_AF3DCrossCorrelation},
      {"g_AF3DBuildTest", &g_AF3DBuildTest},               {"g_AF3DSliceBySlice", &g_AF3DSliceBySlice},
      {"g_AF3DSingleModality", &g_AF3DSingleModality},     {"g_AF3DMultiModality", &g_AF3DMultiModality},
      {"g_AF3DPostmortem", &g_AF3DPostmortem},             {"g_AF3DMouseHeadAtlas", &g_AF3DMouseHeadAtlas},
      {"g_AF3DMonkeyBrain", &g_AF3DMonkeyBrain},           {"g_AF3DMRandPET", &g_AF3DMRandPET},
      {"g_AF3DBrainFDGDCE", &g_AF3DBrainFDGDCE},           {"g_AF3DPalvenSliceA", &g_AF3DPalvenSliceA},
      {"g_AF3DPalvenSliceB", &g_AF3DPalvenSliceB},         {"g_AF3DPalvenKidneyRoi", &g_AF3DPalvenKidneyRoi},
      {"g_AF3DPalvenVibe", &g_AF3DPalvenVibe},             {"g_AF3DHipAtlas", &g_AF3DHipAtlas},
      {"g_AF3DBreastEPItoT1", &g_AF3DBreastEPItoT1},       {"g_AF3DBreastPETtoT1", &g_AF3DBreastPETtoT1},
      {"g_AF3DLandmarks", &g_AF3DLandmarks},
  };
  for (const auto& p : presets3D) TW_RegisterPreset(p.name, p.record);
  const struct {
    const char* name;
    VA_AF4D* record;
  } presets4D[] = {
      {"g_AF4DBuildTest", &g_AF4DBuildTest},         {"g_AF4DIvimKidney", &g_AF4DIvimKidney},
      {"g_AF4DRodentMI", &g_AF4DRodentMI},           {"g_AF4DRodentURAL", &g_AF4DRodentURAL},
      {"g_AF4DRenalURAL", &g_AF4DRenalURAL},         {"g_AF4DRenalMI", &g_AF4DRenalMI},
      {"g_AF4DInSliceURAL", &g_AF4DInSliceURAL},     {"g_AF4DInSliceMI", &g_AF4DInSliceMI},
      {"g_AF4DKidneyMIRadial", &g_AF4DKidneyMIRadial}, {"g_AF4DKidneyMIEnsemble", &g_AF4DKidneyMIEnsemble},
      {"g_AF4DKidney2D", &g_AF4DKidney2D},           {"g_AF4DKidney3D", &g_AF4DKidney3D},
      {"g_AF4DBrainMaskMR", &g_AF4DBrainMaskMR},     {"g_AF4DPetBrainMask", &g_AF4DPetBrainMask},
      {"g_AF4DPalvenPerfusion", &g_AF4DPalvenPerfusion}, {"g_AF4DPalvenProtonDensity", &g_AF4DPalvenProtonDensity},
      {"g_AF4DTwoDocuments", &g_AF4DTwoDocuments},   {"g_AF4DSpare", &g_AF4DSpare},
      {"g_AF4DNeckDwi", &g_AF4DNeckDwi},
  };
  for (const auto& p : presets4D) TW_RegisterPreset(p.name, p.record);
}
