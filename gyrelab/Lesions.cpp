// White-matter lesions of FLAIR volumes guided by the lateral ventricles, and the NIfTI folder batch.
//
// Method (both variants). The FLAIR's working copy F (variant 2: signal scaled so that its maximum
// is 10000; N3-corrected with DoN3) is rotated into the standard axial orientation on isotropic
// voxels of its smallest spacing s (R, with the matrix M from R's grid to the FLAIR's). From the
// most uniform bright cube of R (the white-matter seed) EdgeWave grows the brain mask B within
// [BmCoreSiLo, BmCoreSiHi] x the seed level. The holes of B at least as bright as B's maximum are
// lesions that the interval left out: they join B (variant 4 keeps their mean as the lesion
// candidate level). The brain stem goes: the slices below the first one whose area reaches
// StemWeightThr x the largest slice area are cleared. The lateral ventricle V is the ventricle wave
// (peel VentPeel, grow VentGrow) on the remaining holes of B, its VentMaxCC largest components.
// Gray matter G, in the FLAIR grid: the given mask; or the gray class of the MPRAGE registered onto
// the FLAIR (inside B and outside V, split from the white class by a two-Gaussian histogram fit,
// pieces under 50 mm^3 removed, voxels brighter than GMbrightThrKoff x the FLAIR level of the gray
// matter dropped); or the cortical rim of thickness WMLzoneDeflate; or none (empty). V grown by
// s + WMLzoneDeflate is removed from G, and the white matter W is B less G (its largest component
// with WmMaxCCOnly). Lesions are the voxels of W above the threshold, pieces under WMLminSize
// removed. Variant 2's threshold: mean + WMLThresholdStddevMult x stdev of healthy white matter
// (the seed box, or B peeled by WmDeflateToNormal). Variant 4's: halfway between the white-matter
// mean w and the candidate level, and no lesion at all when that level is not above 1.1 w.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "BrainSteps.h"
#include "Gyrelab.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "filters/BiasField.h"
#include "geometry/Geometry.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "registration/AutoFocus.h"
#include "registration/Reslice.h"
#include "registration/Transform.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "roi/RoiStatistics.h"
#include "roi/Thresholds.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"

namespace {

using gyrelab::Frames;

enum class Variant { Two, Four };

// Brain-stem removal: clears the slices below the first one (from the bottom, no further than the
// largest slice) whose area reaches limit = floor(largest x fraction).
void removeBrainStem(FRAME* brain, double fraction) {
  const std::vector<int64_t> counts = gyrelab::roiSliceCounts(brain);
  if (counts.empty()) return;
  size_t largest = 0;
  for (size_t z = 1; z < counts.size(); ++z)
    if (counts[z] > counts[largest]) largest = z;
  const int64_t limit = int64_t(std::floor(double(counts[largest]) * fraction));
  size_t first = largest;
  for (size_t z = 0; z <= largest; ++z)
    if (counts[z] >= limit) {
      first = z;
      break;
    }
  for (size_t z = 0; z < first; ++z) gyrelab::roiClearSlice(brain, int(z));
}

// The seed box as an inclusive voxel box: bounds floored, an upper bound within 1e-5 of a whole
// number steps back by one voxel (not below its lower bound).
RECT3D inclusiveBox(const DRECT3D& seed) {
  auto upper = [](double lo, double hi) {
    int u = int(std::floor(hi));
    if (std::fabs(hi - std::round(hi)) < 1e-5) u = int(std::round(hi)) - 1;
    return std::max(u, int(std::floor(lo)));
  };
  return RECT3D{int(std::floor(seed.x0)), int(std::floor(seed.y0)), int(std::floor(seed.z0)),
                upper(seed.x0, seed.x1), upper(seed.y0, seed.y1), upper(seed.z0, seed.z1)};
}

// Gray matter of the MPRAGE T (in R's grid) inside the region: the low class of a two-Gaussian
// split of its histogram, pieces under 50 mm^3 removed.
FRAME* grayMatterFromT1(const FRAME* t1, const FRAME* region, double s, bool show) {
  VA_BIMODALSPLIT split;
  split.constrainMassRatio = 1;
  split.massRatioLow = 0.59;
  split.massRatioHigh = 0.77;
  split.peakRatioLow = 1.01;
  split.peakRatioHigh = 2.0;
  split.iterations = 1000000;
  double threshold = 0;
  if (!VA_VolSegHistSingleThreshold(1, &split, t1, region, 0, &threshold, show)) return nullptr;
  Frames frames;
  FRAME*& gray = frames.add(VA_VolThreshold(t1, 0, 0, threshold, show));
  if (!gray || !gyrelab::roiAnd(gray, region)) return nullptr;
  return gyrelab::removeSmallPieces(gray, int64_t(std::floor(50.0 / (s * s * s))), show);
}

FRAME* segmentLesions(Variant variant, const VA_WMLVENTRSEG* record, const CVol* flair, const CVol* mprage,
                      const CVol* grayMatter, double* thresholdOut, FRAME** grayMatterOut, FRAME** ventricleOut,
                      FRAME** mprageOut, FRAME** whiteMatterOut, VA_ROIINFO* whiteMatterInfo, bool show) {
  const wchar_t* name = variant == Variant::Two ? L"BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2"
                                                : L"BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4";
  for (FRAME** out : {grayMatterOut, ventricleOut, mprageOut, whiteMatterOut})
    if (out) *out = nullptr;
  if (thresholdOut) *thresholdOut = 0;
  if (variant == Variant::Four && whiteMatterInfo) *whiteMatterInfo = VA_ROIINFO{};
  if (!record || !flair || !flair->frame || !flair->frame->data) return nullptr;
  if (flair->T() != 1 || flair->IsROI()) {
    gyrelab::reportFailure(name, L"3D Volume Required");
    return nullptr;
  }
  const bool healthyFromSeed = record->UseWMseedForNormVoxels != 0;
  if (variant == Variant::Two && !healthyFromSeed && !(record->WmDeflateToNormal > 0)) {
    gyrelab::reportFailure(name, L"Positive deflate is expected in *Lesions deflate to Normal voxels*");
    return nullptr;
  }
  const FRAME* gmGiven = record->UseGMmask && grayMatter ? grayMatter->frame : nullptr;
  if (gmGiven && (gmGiven->type != FRM_ROI || gmGiven->dim.w != flair->W() || gmGiven->dim.h != flair->H() ||
                  gmGiven->dim.d != flair->D())) {
    gyrelab::reportFailure(name, L"The Gray Matter ROI must have the FLAIR's dimensions");
    return nullptr;
  }
  // The orientation is checked before any long work.
  DPOINT3D angles{0, 0, 0};
  if (!VA_RotateToSpecifiedOrient(flair, VA_PROJ_CONVENTION_RADIOLOGICAL, 1, &angles, true)) return nullptr;
  twk::ProgressGuard progress(L"White matter lesions", show);
  Frames frames;
  const DIM3D flairDims{flair->W(), flair->H(), flair->D(), 1};

  // The working copy F.
  FRAME*& work = frames.add(variant == Variant::Two ? gyrelab::scaleSignalRange(flair->frame, 10000.0, show)
                                                     : VA_VolClone(flair->frame));
  if (!work) return nullptr;
  if (record->DoN3) {
    FRAME* corrected = VA_N3padded(work, nullptr, &flair->spc, 0, &record->N3parms, show);
    if (!corrected) return nullptr;
    PR_FrameDelete(&work);
    work = corrected;
  }
  if (progress.Stopped()) return nullptr;

  // R: F rotated onto isotropic voxels of the standard orientation; M: R's grid -> FLAIR grid.
  const double s = flair->IsoVox();
  const SPC iso{s, s, s};
  double m[16], back[16];
  FRAME*& rotated = frames.add(VA_VolRotation(work, &flair->spc, nullptr, &iso, angles.x, angles.y, angles.z, false,
                                              false, 1, false, 0, m, show));
  if (!rotated || !PR_MatxInverse(m, back)) return nullptr;

  // Seed and brain mask B.
  DRECT3D seed;
  if (!BP_VoldFindWMseedBasic(rotated, &iso, 0, 10.0, 1, &seed, show)) return nullptr;
  const VA_EW brainRecord = gyrelab::brainMaskRecord(record->BmCoreSiLo, record->BmCoreSiHi, record->BmPeel,
                                                     record->BmGrow);
  FRAME*& brain = frames.add(VA_EdgeWave(&brainRecord, rotated, &iso, &seed, 1, nullptr, nullptr, show));
  if (!brain) return nullptr;
  // Variant 2 measures healthy white matter in the brain mask as grown.
  FRAME*& healthy = frames.add(variant == Variant::Two && !healthyFromSeed ? VA_VolClone(brain) : nullptr);

  // Holes at least as bright as the brain's maximum join the mask.
  double brainMean = 0, brainMax = 0, candidateLevel = 0;
  if (!gyrelab::volOverRoiMeanMax(rotated, brain, &brainMean, &brainMax)) return nullptr;
  {
    FRAME*& holes = frames.add(VA_RoiExtractHoles3D(brain, show));
    FRAME*& bright = frames.add(VA_VolThreshold(rotated, 0, std::floor(brainMax), VOID_VALUE, show));
    if (!holes || !bright || !gyrelab::roiAnd(holes, bright)) return nullptr;
    int64_t count = 0;
    const int t0 = 0;
    if (!VA_CheckRoiIsEmpty(false, holes, &t0, &count) &&
        !gyrelab::volOverRoiMeanMax(rotated, holes, &candidateLevel, nullptr))
      candidateLevel = 0;
    if (!gyrelab::roiOr(brain, holes)) return nullptr;
    PR_FrameDelete(&holes);
    PR_FrameDelete(&bright);
  }

  if (std::fabs(record->StemWeightThr) >= 1e-100) {
    twk::ProgressGuard stem(L"Remove brain stem", show);
    removeBrainStem(brain, record->StemWeightThr);
  }

  // Lateral ventricle V in R's grid.
  FRAME*& ventricle = frames.add();
  {
    FRAME*& holes = frames.add(VA_RoiExtractHoles3D(brain, show));
    if (!holes) return nullptr;
    const VA_EW wave = gyrelab::ventricleRecord(brainRecord, record->VentPeel, record->VentGrow);
    FRAME*& grown = frames.add(VA_EdgeWave(&wave, holes, &iso, nullptr, 0, nullptr, nullptr, false));
    if (!grown) return nullptr;
    ventricle = VA_RoiExtractUptoNLargestCCs(grown, 0, std::max(1, record->VentMaxCC), 26, false, show);
    if (!ventricle) return nullptr;
    PR_FrameDelete(&holes);
    PR_FrameDelete(&grown);
  }

  // Variant 2: healthy white-matter statistics and the threshold.
  double threshold = 0;
  if (variant == Variant::Two) {
    VA_ROIINFO info;
    FRAME*& region = frames.add();
    if (healthyFromSeed) {
      region = gyrelab::boxRoi(rotated->dim, inclusiveBox(seed));
    } else {
      const double r = record->WmDeflateToNormal;
      if (!VA_RoiDeflate(healthy, &iso, true, false, r, r, r, show)) return nullptr;
      region = frames.release(healthy);
    }
    if (!region || !VA_VolCalcRoiInfoCutPct(rotated, 0, region, 0, 0, 0, &info, show)) return nullptr;
    if (whiteMatterInfo) *whiteMatterInfo = info;
    threshold = info.mean + record->WMLThresholdStddevMult * info.stdev;
    if (thresholdOut) *thresholdOut = threshold;
  }
  if (progress.Stopped()) return nullptr;

  // The brain mask in the FLAIR grid.
  FRAME*& brainFlair = frames.add(gyrelab::resliceRoi(back, brain, flairDims, show));
  if (!brainFlair) return nullptr;

  // Gray matter G in the FLAIR grid (empty when no source applies).
  const double p = record->WMLzoneDeflate;
  FRAME*& gray = frames.add();
  if (gmGiven) {
    gray = VA_VolClone(gmGiven);
    if (gray) gray->dim.t = 1;
  } else if (record->UseMprage && mprage && mprage->frame) {
    double a[16], k[16];
    if (!VA_RegisterAF3Dto3DMatrix(record->AF3Dparms, nullptr, mprage->frame, &mprage->spc, flair->frame, nullptr,
                                   &flair->spc, a, nullptr, show))
      return nullptr;
    // R's grid -> FLAIR grid -> MPRAGE grid.
    PR_MatxMultiplyMatx(a, m, k);
    const DIM3D rotatedDims{rotated->dim.w, rotated->dim.h, rotated->dim.d, 1};
    FRAME*& t1 = frames.add(VA_ResliceAffine(k, mprage->frame, &rotatedDims, 1, 0.0, show));
    if (!t1) return nullptr;
    if (record->DoN3) {
      FRAME* corrected = VA_N3padded(t1, nullptr, &iso, 0, &record->N3parms, show);
      if (!corrected) return nullptr;
      PR_FrameDelete(&t1);
      t1 = corrected;
    }
    FRAME*& region = frames.add(VA_VolClone(brain));
    if (!region || !gyrelab::roiAndNot(region, ventricle)) return nullptr;
    FRAME*& grayRotated = frames.add(grayMatterFromT1(t1, region, s, show));
    if (!grayRotated) return nullptr;
    gray = gyrelab::resliceRoi(back, grayRotated, flairDims, show);
    if (!gray) return nullptr;
    if (mprageOut) {
      const DIM3D target = flairDims;
      *mprageOut = VA_ResliceAffine(back, t1, &target, 1, 0.0, show);
    }
    // Gray matter that is bright in the FLAIR is lesion, not cortex.
    double level = 0;
    if (gyrelab::volRoiHistogramPeak(work, gray, &level)) {
      FRAME*& dim = frames.add(VA_VolThreshold(work, 0, 0, std::floor(level * record->GMbrightThrKoff), show));
      if (!dim || !gyrelab::roiAnd(gray, dim)) return nullptr;
    }
  } else if (p > 0) {
    gray = VA_VolClone(brainFlair);
    FRAME*& core = frames.add(VA_VolClone(brainFlair));
    if (!gray || !core || !VA_RoiDeflate(core, &flair->spc, true, false, p, p, p, show) ||
        !gyrelab::roiAndNot(gray, core))
      return nullptr;
  } else {
    gray = PR_FrameCreate(FRM_ROI, 1, flairDims, true);
  }
  if (!gray) return nullptr;

  // The ventricle, then its guard (grown by s + p) removed from the gray matter.
  if (ventricleOut) {
    *ventricleOut = gyrelab::resliceRoi(back, ventricle, flairDims, show);
    if (!*ventricleOut) return nullptr;
  }
  const double guard = s + p;
  if (guard > 0 && !VA_RoiInflate(ventricle, &iso, true, false, guard, guard, guard, show)) return nullptr;
  {
    FRAME*& guardFlair = frames.add(gyrelab::resliceRoi(back, ventricle, flairDims, show));
    if (!guardFlair || !gyrelab::roiAndNot(gray, guardFlair)) return nullptr;
  }

  // White matter W = brain mask less gray matter.
  FRAME*& white = frames.add(VA_VolClone(brainFlair));
  if (!white || !gyrelab::roiAndNot(white, gray)) return nullptr;
  if (record->WmMaxCCOnly) {
    FRAME* largest = VA_RoiExtractMaxCC(white, 0, 26, false, show);
    if (!largest) return nullptr;
    PR_FrameDelete(&white);
    white = largest;
  }

  const int64_t minPieces =
      int64_t(std::floor(record->WMLminSize / (flair->spc.x * flair->spc.y * flair->spc.z)));
  FRAME*& lesions = frames.add();
  if (variant == Variant::Four) {
    VA_ROIINFO info;
    if (!VA_VolCalcRoiInfoCutPct(work, 0, white, 0, 0, 0, &info, show)) return nullptr;
    if (whiteMatterInfo) *whiteMatterInfo = info;
    const double w = info.mean;
    if (candidateLevel <= 1.1 * w) {
      lesions = PR_FrameCreate(FRM_ROI, 1, flairDims, true);
      threshold = 0;
    } else {
      threshold = (w + candidateLevel) / 2;
    }
    if (thresholdOut) *thresholdOut = threshold;
  }
  if (!lesions) {
    FRAME*& above = frames.add(VA_VolThreshold(work, 0, threshold, VOID_VALUE, show));
    if (!above || !gyrelab::roiAnd(above, white)) return nullptr;
    lesions = gyrelab::removeSmallPieces(above, minPieces, show);
    if (!lesions) return nullptr;
  }
  if (progress.Stopped()) return nullptr;
  if (grayMatterOut) *grayMatterOut = frames.release(gray);
  if (whiteMatterOut) *whiteMatterOut = frames.release(white);
  return frames.release(lesions);
}

}  // namespace

FRAME* BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(const VA_WMLVENTRSEG* record, const CVol* flair,
                                                      const CVol* mprage, const CVol* grayMatter, double* threshold,
                                                      FRAME** grayMatterOut, FRAME** ventricleOut,
                                                      FRAME** mprageOut, FRAME** whiteMatterOut,
                                                      VA_ROIINFO* whiteMatterInfo, bool show) {
  return segmentLesions(Variant::Two, record, flair, mprage, grayMatter, threshold, grayMatterOut, ventricleOut,
                        mprageOut, whiteMatterOut, whiteMatterInfo, show);
}

FRAME* BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(const VA_WMLVENTRSEG* record, const CVol* flair,
                                                      const CVol* mprage, const CVol* grayMatter, double* threshold,
                                                      FRAME** grayMatterOut, FRAME** ventricleOut,
                                                      FRAME** mprageOut, FRAME** whiteMatterOut,
                                                      VA_ROIINFO* whiteMatterInfo, bool show) {
  return segmentLesions(Variant::Four, record, flair, mprage, grayMatter, threshold, grayMatterOut, ventricleOut,
                        mprageOut, whiteMatterOut, whiteMatterInfo, show);
}

namespace {

// Two folders are the same, or one lies inside the other, once both are made canonical.
bool foldersOverlap(const CString& a, const CString& b) {
  namespace fs = std::filesystem;
  std::error_code error;
  auto canonical = [&](const CString& path) {
    const fs::path p = fs::weakly_canonical(fs::path(path.toUtf8()), error);
    return (error ? fs::absolute(fs::path(path.toUtf8())) : p).lexically_normal();
  };
  auto inside = [](const fs::path& outer, const fs::path& inner) {
    auto o = outer.begin(), i = inner.begin();
    for (; o != outer.end() && i != inner.end(); ++o, ++i) {
      if (o->empty()) continue;
      if (*o != *i) return false;
    }
    return o == outer.end() || (std::next(o) == outer.end() && o->empty());
  };
  const fs::path ca = canonical(a), cb = canonical(b);
  return inside(ca, cb) || inside(cb, ca);
}

}  // namespace

bool BP_WMlesionsFlair_BatchProcess(const VA_WMLVENTRSEG* record, CString source, CString destination) {
  const wchar_t* name = L"BP_WMlesionsFlair_BatchProcess";
  if (!record) return false;
  if (source == destination || foldersOverlap(source, destination)) {
    gyrelab::reportFailure(name, L"Two different folders are required");
    return false;
  }
  int count = 0;
  wchar_t** files = PR_FindAllFilesInFolder(source, L".nii", false, false, &count, false);
  struct FileList {
    wchar_t**& files;
    int& count;
    ~FileList() { pf_free_parr(&files, count); }
  } list{files, count};
  if (!files || count <= 0) {
    CString message;
    message.Format(L"No NIFTI files are present in the source folder %s", source.GetString());
    gyrelab::reportFailure(name, message);
    return false;
  }
  CString question;
  question.Format(L"%u Volumes will be processed. Proceed?", unsigned(count));
  if (!PR_AskYesNo(question)) return false;
  twk::ProgressGuard progress(L"Perform FLAIR WM lesion measire,emt", true);
  CString folder = destination;
  if (folder.IsEmpty() || (folder.Right(1) != L"/" && folder.Right(1) != L"\\")) folder += L"/";
  for (int i = 0; i < count; ++i) {
    if (!progress.Step(i, count, 1, 98)) return false;
    CString status;
    status.Format(L"Processing %s : %u out of %u", files[i], unsigned(i + 1), unsigned(count));
    twk::ui().setStatusText(status);
    CVol* volume = VA_RAW_LoadVolume(files[i], nullptr, nullptr, nullptr, true);
    if (!volume) return false;
    struct VolumeGuard {
      CVol* v;
      ~VolumeGuard() { delete v; }
    } guard{volume};
    if (volume->T() > 1) continue;
    FRAME* lesions = BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(record, volume, nullptr, nullptr, nullptr,
                                                                     nullptr, nullptr, nullptr, nullptr, nullptr,
                                                                     false);
    if (!lesions) return false;
    const CString path = folder + PR_AddFileNameSfx(PR_GetFileTitle(volume->name), L"_lesion_mask", true);
    double orient[6];
    const bool placed = volume->GetOrientation(orient) && volume->imgPos;
    const bool written = placed && VA_RAW_VolSaveFile(path, lesions, 0, &volume->spc, orient, &volume->imgPos[0],
                                                      nullptr, MODALITY_MR, RAWSAVE_SINGLE, L"", nullptr, nullptr,
                                                      false);
    PR_FrameDelete(&lesions);
    if (!written) return false;
  }
  progress.End();
  PR_DisplayInteger(L"Processed volumes", count);
  return true;
}
