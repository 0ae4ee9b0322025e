#include "EdgeWaveDialog.h"

#include <algorithm>
#include <cmath>

#include "ParameterDialog.h"
#include "TextureEdgeDialog.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "roi/EdgeWaveRegions.h"

VA_EW g_EdgeWaveParms;
VA_EW g_EdgeWaveBrain;

namespace {

VA_EW absolute500() {
  VA_EW r;
  r.mode3D = 0;
  r.siLow = 500.0;
  r.siHigh = 1150.0;
  r.siUnits = 0;
  r.peel = 6.0;
  r.grow = 7.0;
  r.connectedComponents = 0;
  r.gaussianDownscale = 0;
  return r;
}

VA_EW relative(double low, double high, int components) {
  VA_EW r;
  r.siLow = low;
  r.siHigh = high;
  r.connectedComponents = components;
  return r;
}

const wchar_t* const kLow = L"Signal intensity interval  [low, high]";
const wchar_t* const kHigh = L"high";
const wchar_t* const kUnits = L"Distance units";
const wchar_t* const kPeel = L"Peel distance";
const wchar_t* const kGrow = L"Grow distance";

double roundTenth(double v) { return std::floor(v / 0.1 + 0.5) * 0.1; }

}  // namespace

VA_EW g_EdgeWaveAbs500 = absolute500();
VA_EW g_EdgeWaveRel02 = relative(0.2, 1000.0, 0);
VA_EW g_EdgeWaveRel04 = relative(0.4, 1.35, 2);

bool TW_DlgEdgeWave(bool silent, const FRAME* frame, const double* spacing, unsigned, const DRECT3D* seeds,
                    int numSeeds, VA_EW* record) {
  if (!record) return false;
  const double voxel = spacing ? std::min({spacing[0], spacing[1], spacing[2]}) : 1.0;
  const bool roiOperand = frame && frame->type == FRM_ROI;
  CString seedText;
  if (seeds && numSeeds == 1 && frame) {
    double average = 0;
    if (!VA_VolAverageOverSeeds(frame, 0, seeds, 1, 0.0, 1e59, &average)) return false;
    if (average == 1e60) {
      twk::showNamedError(L"CDlgEdgeWave::OnInitDialog", L"Invalid Seed-Volume combination");
      if (!silent) return false;
    } else {
      seedText = FmtStr(L"Seed average = %8.4lf", average);
    }
  }
  // The record is byte-packed: its fields are edited through aligned copies written back on OK.
  uint8_t mode3D = record->mode3D, competitive = record->competitiveGrowth, strict = record->strictCoreSurface,
          edges = record->useEdges, thin = record->thinEdge, binary = record->outputBinaryRoi,
          downscale = record->gaussianDownscale;
  double low = record->siLow, high = record->siHigh, peel = record->peel, grow = record->grow;
  int32_t units = record->siUnits, texture = record->textureSimilarity, distanceUnits = record->distanceUnits,
          components = record->connectedComponents, sublevel = record->subvoxelLevel;
  const bool noSeeds = !seeds || numSeeds <= 0;
  if (noSeeds) {
    if (components == 2) components = 0;
    units = 0;
    texture = 0;
  }
  const auto signalControl = [roiOperand](const TW_DIALOG_VALUES&) { return !roiOperand; };
  const auto seedControl = [noSeeds](const TW_DIALOG_VALUES&) { return !noSeeds; };

  TW_DIALOG d(L"EdgeWave Parameters", L"CDlgEdgeWave");
  d.Flag(L"3D mode", &mode3D);
  d.Real(kLow, &low).EnabledWhen(signalControl);
  d.Real(kHigh, &high).EnabledWhen(signalControl);
  d.Choice(L"Signal units", &units, {L"Absolute SI", L"Relative to Seed Average"}).EnabledWhen(seedControl);
  d.Choice(L"Use texture similarity", &texture, {L"None", L"2D", L"3D"}).EnabledWhen(seedControl);
  d.Choice(kUnits, &distanceUnits, {L"voxels", L"mm"});
  d.Real(kPeel, &peel, -10000, 10000);
  d.Real(kGrow, &grow, 0, 10000);
  d.Flag(L"Competitive growth", &competitive);
  d.Choice(L"Connected components", &components, {L"Max Component only", L"All Components", L"Seed Components"});
  d.Flag(L"Strict Core Set surface", &strict).EnabledWhen(signalControl);
  d.Flag(L"Use edges", &edges).EnabledWhen(signalControl);
  d.Flag(L"Thin edge", &thin);
  d.Integer(L"Subvoxel level", &sublevel, 1, 10).EnabledWhen(signalControl);
  d.Flag(L"Output binary ROI", &binary).EnabledWhen(signalControl);
  d.Flag(L"Gaussian downscale", &downscale);
  d.Text(L"Seed average", &seedText).EnabledWhen([](const TW_DIALOG_VALUES&) { return false; });
  d.onChange = [voxel](TW_DIALOG_VALUES& v, int field) {
    if (field != v.IndexOf(kUnits)) return;
    const bool toMm = v.Choice(kUnits) == 1;
    for (const wchar_t* label : {kPeel, kGrow}) {
      const double value = v.Number(label);
      v.SetText(label, TW_RoundTripText(roundTenth(toMm ? value * voxel : value / voxel)));
    }
  };
  // "Edge Settings": the texture-edge dialog on a copy of the edge block, kept only by OK.
  VA_URALEDGE edge = record->edge;
  d.Button(L"Edge Settings", [&edge](TW_DIALOG_VALUES&) {
    VA_URALEDGE edited = edge;
    if (TW_DlgTextureEdge(&edited)) edge = edited;
  });
  if (!TW_RunDialog(silent, d)) return false;
  record->edge = edge;
  record->mode3D = mode3D;
  record->siLow = low;
  record->siHigh = high;
  record->siUnits = units;
  record->textureSimilarity = texture;
  record->distanceUnits = distanceUnits;
  record->peel = peel;
  record->grow = grow;
  record->competitiveGrowth = competitive;
  record->connectedComponents = components;
  record->strictCoreSurface = strict;
  record->useEdges = edges;
  record->thinEdge = thin;
  record->subvoxelLevel = sublevel;
  record->outputBinaryRoi = binary;
  record->gaussianDownscale = downscale;
  return true;
}
