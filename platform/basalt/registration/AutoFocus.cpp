#include "AutoFocus.h"

#include <algorithm>
#include <cmath>

#include "AfCore.h"
#include "AfFine.h"
#include "Transform.h"
#include "TransformFiles.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/Filters.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::af;

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

const wchar_t* VA_GetRegMeasureName(int measure) {
  static const wchar_t* const names[] = {L"Signal Difference",
                                         L"Cross Correlation",
                                         L"Image Ratio Uniformity",
                                         L"Mutual Info",
                                         L"Mutual Info Normalized",
                                         L"Normalized Gradient Field",
                                         L"Normalized Gradient Field+",
                                         L"Micro Segmentation",
                                         L"Self Similarity Context"};
  return measure >= 0 && measure < int(std::size(names)) ? names[measure] : L"Unknown";
}

namespace twk::af {

namespace {

constexpr const wchar_t* kName = L"VA_RegisterAF3Dto3D";

bool fail(const wchar_t* name, const wchar_t* why, bool show) {
  if (show) twk::showNamedError(name, why);
  return false;
}

bool validSpacing(const SPC* s) {
  return s && std::isfinite(s->x) && std::isfinite(s->y) && std::isfinite(s->z) && s->x > 0 && s->y > 0 && s->z > 0;
}

bool constantImage(const AfImage& a) {
  bool first = true;
  float v0 = 0;
  for (float u : a.v) {
    if (u != u) continue;
    if (first) {
      v0 = u;
      first = false;
    } else if (u != v0) {
      return false;
    }
  }
  return true;
}

// The texture gradient of time point t as three images.
// The mean gradient magnitude over the voxels where the gradient is not zero.
double meanGradient(const AfImage g[3]) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i < g[0].v.size(); ++i) {
    const double m = std::sqrt(double(g[0].v[i]) * g[0].v[i] + double(g[1].v[i]) * g[1].v[i] + double(g[2].v[i]) * g[2].v[i]);
    if (m > 0 && std::isfinite(m)) {
      sum += m;
      ++n;
    }
  }
  return n ? sum / n : 0.0;
}

bool gradientImages(const VA_URALGRAD& ural, const FRAME* frame, int t, const SPC* spc, AfImage out[3], bool show) {
  FRAME* g[3] = {nullptr, nullptr, nullptr};
  if (!VA_DetectGrad3D(&ural, frame, t, spc, &g[0], &g[1], &g[2], nullptr, show)) return false;
  bool ok = true;
  for (int k = 0; k < 3; ++k) {
    ok = ok && g[k] && afImageFromFrame(g[k], 0, spc, &out[k]);
    PR_FrameDelete(&g[k]);
  }
  return ok;
}

}  // namespace

// Prepares the images of source time point ts and target time point tt. The mask (target grid,
// time point 0) is used when the record asks for the target ROI, grown by the inflate.
bool afPrepare(const wchar_t* name, const VA_AF3D& rec, const FRAME* source, int ts, const SPC* srcSpc,
               const FRAME* target, int tt, const FRAME* mask, const SPC* tgtSpc, AfPrepared* p, bool show) {
  if (!source || !source->data || !target || !target->data) return fail(name, L"Invalid volume", show);
  if (!validSpacing(srcSpc) || !validSpacing(tgtSpc)) return fail(name, L"Invalid voxel size", show);
  if (rec.measure < 0 || rec.measure > VA_REGMEASURE_GRADIENT_FIELD_PLUS)
    return fail(name, L"Unknown registration measure", show);
  // Quadratic transforms (3, 4) map one 3D volume onto another (VA_RegisterAF3Dto3D); the matrix,
  // 4D and slice-by-slice forms are affine.
  if (rec.transformType == 3 || rec.transformType == 4)
    return fail(name, L"Quadratic transforms are available for 3D to 3D registration only", show);
  if (rec.transformType < 0 || rec.transformType > 2) return fail(name, L"Unknown transform type", show);
  if (!afImageFromFrame(source, ts, srcSpc, &p->source) || !afImageFromFrame(target, tt, tgtSpc, &p->target))
    return fail(name, L"Invalid volume", show);
  if (constantImage(p->source)) return fail(name, L"Source volume is constant", show);
  if (constantImage(p->target)) return fail(name, L"Target volume is constant", show);
  p->singleSlice = target->dim.d == 1;
  p->mask.clear();
  if (rec.useTargetRoi && mask) {
    if (mask->type != FRM_ROI || mask->dim.w != target->dim.w || mask->dim.h != target->dim.h ||
        mask->dim.d != target->dim.d)
      return fail(name, L"Target mask does not match the target volume", show);
    FRAME* grown = VA_VolClone(mask);
    if (!grown) return fail(name, L"Not enough memory", show);
    if (grown->dim.t > 1) {
      FRAME* first = VA_VolCropTimepoint(grown, 0);
      PR_FrameDelete(&grown);
      grown = first;
      if (!grown) return fail(name, L"Not enough memory", show);
    }
    bool ok = true;
    if (rec.inflate > 0) {
      const double r[3] = {rec.inflateUnits == 1 ? rec.inflate : rec.inflate * tgtSpc->x,
                           rec.inflateUnits == 1 ? rec.inflate : rec.inflate * tgtSpc->y,
                           rec.inflateUnits == 1 ? rec.inflate : rec.inflate * tgtSpc->z};
      ok = VA_RoiInflate(grown, tgtSpc, !p->singleSlice, false, r[0], r[1], r[2], show);
    }
    if (ok) {
      AfImage m;
      ok = afImageFromFrame(grown, 0, tgtSpc, &m);
      p->mask.resize(m.v.size());
      size_t inside = 0;
      for (size_t i = 0; i < m.v.size(); ++i) inside += (p->mask[i] = m.v[i] > 0.5f ? 1 : 0);
      if (ok && inside == 0) {
        PR_FrameDelete(&grown);
        return fail(name, L"Target mask is empty", show);
      }
    }
    PR_FrameDelete(&grown);
    if (!ok) return false;
  }
  if (VA_AF3D_UsesGradientMeasure(rec)) {
    p->sourceNoise = rec.sourceNoise;
    p->targetNoise = rec.targetNoise;
    if (!(p->sourceNoise > 0) && !VA_VolEffectiveNoise(source, ts, &p->sourceNoise, false)) p->sourceNoise = 0;
    if (!(p->targetNoise > 0) && !VA_VolEffectiveNoise(target, tt, &p->targetNoise, false)) p->targetNoise = 0;
    if (!gradientImages(rec.ural, source, ts, srcSpc, p->sourceGrad, show) ||
        !gradientImages(rec.ural, target, tt, tgtSpc, p->targetGrad, show))
      return false;
    // The noise level is the epsilon of the normalised gradients; a tenth of the mean gradient at
    // the least, so that the flat background's tiny gradients do not count as edges.
    p->sourceNoise = std::max(p->sourceNoise, 0.1 * meanGradient(p->sourceGrad));
    p->targetNoise = std::max(p->targetNoise, 0.1 * meanGradient(p->targetGrad));
  }
  return true;
}

// The registration of prepared images from a start map; progress over from..to of the guard.
bool afRegister(const wchar_t* name, const VA_AF3D& rec, const AfPrepared& p, const AfAffine& start,
                twk::ProgressGuard* guard, int from, int to, AfAffine* result, double* finalCost, bool show) {
  const AfImage& tg = p.target;
  const double centre[3] = {(tg.w - 1) * 0.5 * tg.sx, (tg.h - 1) * 0.5 * tg.sy, (tg.d - 1) * 0.5 * tg.sz};
  // The coarsest level: the subsample as a block size, no axis shorter than 4 voxels.
  const int f = std::max(1, int(std::lround(std::clamp(rec.subsample, 1.0, 16.0))));
  const int fs[3] = {std::max(1, std::min(f, tg.w / 4)), std::max(1, std::min(f, tg.h / 4)),
                     std::max(1, std::min(f, tg.d / 4))};
  const int ff[3] = {fs[0], fs[1], fs[2]};
  const AfImage targetLevel = afShrink(tg, ff);
  const AfImage sourceLevel = afShrink(p.source, ff);
  AfImage sgLevel[3], tgLevel[3];
  const bool grad = VA_AF3D_UsesGradientMeasure(rec);
  if (grad)
    for (int k = 0; k < 3; ++k) {
      sgLevel[k] = afShrink(p.sourceGrad[k], ff);
      tgLevel[k] = afShrink(p.targetGrad[k], ff);
    }
  AfSamples samples;
  afCollectSamples(targetLevel, ff, tg, &p.mask, 12000, &samples);
  if (samples.pos.size() < 16) return fail(name, L"Too few target voxels to register", show);
  AfMeasure measure(rec.measure, rec.miBins, &sourceLevel, grad ? sgLevel : nullptr, p.sourceNoise);
  measure.prepare(&samples, grad ? tgLevel : nullptr, p.targetNoise);

  const double step = std::max({targetLevel.sx, targetLevel.sy, targetLevel.sz});
  const int mid = from + (to - from) * 3 / 10;
  auto coarseProgress = [&](int percent) { return !guard || guard->Step(percent, 100, from, mid); };
  std::vector<AfCandidate> best = afCoarseSearch(rec, measure, samples, centre, start, step, p.singleSlice, 3,
                                                 coarseProgress);
  if (best.empty() || !std::isfinite(best.front().cost)) {
    if (guard && guard->Stopped()) return false;
    return fail(name, L"The volumes do not overlap", show);
  }
  AfAffine map = afCompose(best.front().p, centre, start);
  if (finalCost) *finalCost = best.front().cost;

  if (rec.power > 0 && rec.transformType >= 0) {
    AfFineInput in;
    in.source = &p.source;
    in.target = &p.target;
    in.mask = &p.mask;
    in.sourceGrad = grad ? p.sourceGrad : nullptr;
    in.targetGrad = grad ? p.targetGrad : nullptr;
    in.sourceNoise = p.sourceNoise;
    in.targetNoise = p.targetNoise;
    in.measure = rec.measure;
    in.bins = rec.miBins;
    in.transformType = rec.transformType;
    in.iterations = std::min(2000, 50 + 20 * rec.power);
    in.shrink = f;
    in.singleSlice = p.singleSlice;
    for (int k = 0; k < 3; ++k) in.centre[k] = centre[k];
    const int passes = rec.multipass ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int a = mid + (to - mid) * pass / passes, b = mid + (to - mid) * (pass + 1) / passes;
      auto fineProgress = [&](int percent) { return !guard || guard->Step(percent, 100, a, b); };
      CString error;
      if (pass > 0) in.shrink = std::max(1, f / 2);
      if (!afFineTune(in, &map, &error, fineProgress)) {
        if (error.IsEmpty()) return false;  // Esc
        return fail(name, error, show);
      }
    }
  }
  // The measure at full resolution: the polish of the fine result (never worse than the coarse
  // search's; the optimiser may end past its best point) and the final value.
  AfSamples full;
  const int one[3] = {1, 1, 1};
  afCollectSamples(p.target, one, p.target, &p.mask, 250000, &full);
  AfMeasure fm(rec.measure, rec.miBins, &p.source, grad ? p.sourceGrad : nullptr, p.sourceNoise);
  fm.prepare(&full, grad ? p.targetGrad : nullptr, p.targetNoise);
  if (rec.power > 0) {
    const AfAffine coarse = afCompose(best.front().p, centre, start);
    if (fm.cost(full, coarse) < fm.cost(full, map)) map = coarse;
    afPolish(fm, full, centre, rec.transformType, p.singleSlice, &map);
  }
  if (finalCost) *finalCost = fm.cost(full, map);
  *result = map;
  return true;
}

bool afRegisterQuadratic(const VA_AF3D& rec, const AfPrepared& p, const AfAffine& affine, twk::ProgressGuard* guard,
                         AfQuadratic* result, double* finalCost) {
  const AfImage& tg = p.target;
  AfQuadratic quad;
  quad.lin = affine;
  quad.centre[0] = (tg.w - 1) * 0.5 * tg.sx;
  quad.centre[1] = (tg.h - 1) * 0.5 * tg.sy;
  quad.centre[2] = (tg.d - 1) * 0.5 * tg.sz;
  quad.scale = std::max({quad.centre[0], quad.centre[1], quad.centre[2], 1.0});
  const bool grad = VA_AF3D_UsesGradientMeasure(rec);
  // "Polynomial Multipass": the subsample's level first, then full resolution.
  std::vector<int> levels;
  const int f = std::max(1, int(std::lround(std::clamp(rec.subsample, 1.0, 16.0))));
  if (rec.transformType == 4 && f > 1) levels.push_back(f);
  levels.push_back(1);
  for (size_t l = 0; l < levels.size(); ++l) {
    if (guard && !guard->Step(int(l), int(levels.size()) + 1, 90, 99)) return false;
    const int fs[3] = {std::max(1, std::min(levels[l], tg.w / 4)), std::max(1, std::min(levels[l], tg.h / 4)),
                       std::max(1, std::min(levels[l], tg.d / 4))};
    const bool full = fs[0] == 1 && fs[1] == 1 && fs[2] == 1;
    const AfImage targetLevel = full ? AfImage() : afShrink(tg, fs), sourceLevel = full ? AfImage() : afShrink(p.source, fs);
    AfImage sg[3], tgl[3];
    if (grad && !full)
      for (int k = 0; k < 3; ++k) {
        sg[k] = afShrink(p.sourceGrad[k], fs);
        tgl[k] = afShrink(p.targetGrad[k], fs);
      }
    AfSamples samples;
    afCollectSamples(full ? tg : targetLevel, fs, tg, &p.mask, 60000, &samples);
    AfMeasure measure(rec.measure, rec.miBins, full ? &p.source : &sourceLevel,
                      grad ? (full ? p.sourceGrad : sg) : nullptr, p.sourceNoise);
    measure.prepare(&samples, grad ? (full ? p.targetGrad : tgl) : nullptr, p.targetNoise);
    afPolishQuadratic(measure, samples, p.singleSlice, &quad);
  }
  if (guard && !guard->Step(99, 100, 0, 100)) return false;
  if (finalCost) {
    AfSamples full;
    const int one[3] = {1, 1, 1};
    afCollectSamples(tg, one, tg, &p.mask, 250000, &full);
    AfMeasure fm(rec.measure, rec.miBins, &p.source, grad ? p.sourceGrad : nullptr, p.sourceNoise);
    fm.prepare(&full, grad ? p.targetGrad : nullptr, p.targetNoise);
    *finalCost = fm.cost(full, quad);
  }
  *result = quad;
  return true;
}

void afPolishPrepared(const VA_AF3D& rec, const AfPrepared& p, AfAffine* map) {
  const AfImage& tg = p.target;
  const double centre[3] = {(tg.w - 1) * 0.5 * tg.sx, (tg.h - 1) * 0.5 * tg.sy, (tg.d - 1) * 0.5 * tg.sz};
  const bool grad = VA_AF3D_UsesGradientMeasure(rec);
  AfSamples full;
  const int one[3] = {1, 1, 1};
  afCollectSamples(tg, one, tg, &p.mask, 250000, &full);
  AfMeasure fm(rec.measure, rec.miBins, &p.source, grad ? p.sourceGrad : nullptr, p.sourceNoise);
  fm.prepare(&full, grad ? p.targetGrad : nullptr, p.targetNoise);
  afPolish(fm, full, centre, rec.transformType, p.singleSlice, map);
}

// The start map: the centres of the two grids laid onto each other.
AfAffine afCentreMap(const AfImage& source, const AfImage& target) {
  AfAffine m;
  m.b[0] = (source.w - 1) * 0.5 * source.sx - (target.w - 1) * 0.5 * target.sx;
  m.b[1] = (source.h - 1) * 0.5 * source.sy - (target.h - 1) * 0.5 * target.sy;
  m.b[2] = (source.d - 1) * 0.5 * source.sz - (target.d - 1) * 0.5 * target.sz;
  return m;
}

}  // namespace twk::af

namespace twk::af {

// The start map: the record's initial transformation file (a name without a folder is in folder)
// or the grids' centres laid onto each other.
bool afStartMap(const wchar_t* name, const VA_AF3D& rec, const wchar_t* folder, const AfPrepared& p, const SPC& srcSpc,
                const SPC& tgtSpc, AfAffine* start, bool show) {
  if (rec.initialTransformFile.IsEmpty()) {
    *start = afCentreMap(p.source, p.target);
    return true;
  }
  CString path = rec.initialTransformFile;
  if (path.Find(L'/') < 0 && folder && *folder) path = CString(folder) + L"/" + path;
  VA_VTFINFO info;
  double* k = VTF_Load(path, &info, show);
  if (!k) return false;
  const bool affine = info.type == VA_TRANSFORM_RIGID || info.type == VA_TRANSFORM_AFFINE;
  if (affine) *start = afAffineFromIndexMatrix(k, srcSpc, tgtSpc);
  pf_free(&k);
  if (!affine) return fail(name, L"The initial transformation must be affine", show);
  return true;
}

// Writes the record's final transformation file (a name without a folder goes into folder).
bool afSaveFinal(const VA_AF3D& rec, const wchar_t* folder, const FRAME* source, const SPC* srcSpc, const FRAME* target,
                 const SPC* tgtSpc, const double matrix[16], bool show) {
  if (rec.finalTransformFile.IsEmpty()) return true;
  const CString path = VA_VTF_GetSaveName(rec.finalTransformFile, folder ? folder : L"");
  const DIM3D sd{source->dim.w, source->dim.h, source->dim.d, 1}, td{target->dim.w, target->dim.h, target->dim.d, 1};
  return VTF_Save(path, rec.transformType <= 1 ? VA_TRANSFORM_RIGID : VA_TRANSFORM_AFFINE, &sd, srcSpc, &td, tgtSpc,
                  matrix, show);
}

}  // namespace twk::af

namespace {

// The affine registration of a 3D source onto a 3D target, from the record's start map, with
// progress over 0..to of the guard; the prepared images stay in *p.
bool registerAffine(const VA_AF3D& record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                    const FRAME* target, const FRAME* mask, const SPC* tgtSpc, twk::ProgressGuard* guard, int to,
                    AfPrepared* p, AfAffine* map, double* finalCost, bool show) {
  if (source && source->dim.t != 1) return fail(kName, L"Source volume must be 3D", show);
  if (target && target->dim.t != 1) return fail(kName, L"Target volume must be 3D", show);
  if (!afPrepare(kName, record, source, 0, srcSpc, target, 0, mask, tgtSpc, p, show)) return false;
  AfAffine start;
  if (!afStartMap(kName, record, folder, *p, *srcSpc, *tgtSpc, &start, show)) return false;
  return afRegister(kName, record, *p, start, guard, 0, to, map, finalCost, show);
}

}  // namespace

bool VA_RegisterAF3Dto3DMatrix(const VA_AF3D& record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                               const FRAME* target, const FRAME* mask, const SPC* tgtSpc, double matrix[16],
                               double* finalCost, bool show) {
  if (!matrix) return fail(kName, L"Invalid arguments", show);
  twk::ProgressGuard guard(L"AutoFocus registration", show);
  AfPrepared p;
  AfAffine map;
  if (!registerAffine(record, folder, source, srcSpc, target, mask, tgtSpc, &guard, 100, &p, &map, finalCost, show))
    return false;
  afAffineToIndexMatrix(map, *srcSpc, *tgtSpc, matrix);
  return afSaveFinal(record, folder, source, srcSpc, target, tgtSpc, matrix, show);
}

namespace {

// Quadratic registration (types 3 and 4): the affine registration, then the quadratic refinement;
// the result is a polynomial of degree 2 (target to source voxel indices), written to the final
// transformation file as a polynomial transform.
bool registerQuadratic(const VA_AF3D& record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                       const FRAME* target, const FRAME* mask, const SPC* tgtSpc, double coefficients[30],
                       double* finalCost, bool show) {
  VA_AF3D affine = record;
  affine.transformType = VA_TRANSFORM_AFFINE;
  twk::ProgressGuard guard(L"AutoFocus registration", show);
  AfPrepared p;
  AfAffine map;
  if (!registerAffine(affine, folder, source, srcSpc, target, mask, tgtSpc, &guard, 90, &p, &map, nullptr, show))
    return false;
  AfQuadratic quad;
  if (!afRegisterQuadratic(record, p, map, &guard, &quad, finalCost)) return false;
  afQuadraticToIndexPolynomial(quad, *srcSpc, *tgtSpc, coefficients);
  if (record.finalTransformFile.IsEmpty()) return true;
  VA_VTFINFO info;
  info.type = VA_TRANSFORM_POLYNOMIAL;
  info.degree = 2;
  info.timePoints = 1;
  info.sourceDim = DIM3D{source->dim.w, source->dim.h, source->dim.d, 1};
  info.sourceSpc = *srcSpc;
  info.hasTarget = true;
  info.targetDim = DIM3D{target->dim.w, target->dim.h, target->dim.d, 1};
  info.targetSpc = *tgtSpc;
  return VTF_SaveEx(VA_VTF_GetSaveName(record.finalTransformFile, folder ? folder : L""), info, coefficients, show);
}

}  // namespace

bool VA_RegisterAF3Dto3D(VA_AF3D record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                         const FRAME* target, const FRAME* mask, const SPC* tgtSpc, Poly3D** transform, bool show) {
  if (!transform) return fail(kName, L"Invalid arguments", show);
  *transform = nullptr;
  if (record.transformType == 3 || record.transformType == 4) {
    double k[30];
    if (!registerQuadratic(record, folder, source, srcSpc, target, mask, tgtSpc, k, nullptr, show)) return false;
    *transform = VA_Poly3DCreate(VA_TRANSFORM_POLYNOMIAL, 2, k);
    return *transform != nullptr;
  }
  double m[16];
  if (!VA_RegisterAF3Dto3DMatrix(record, folder, source, srcSpc, target, mask, tgtSpc, m, nullptr, show)) return false;
  *transform = VA_Poly3DCreate(VA_TRANSFORM_AFFINE, 1, m);
  return *transform != nullptr;
}
