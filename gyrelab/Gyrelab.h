#pragma once
// Gyrelab, the brain-processing library: white-matter lesions of FLAIR volumes guided by the
// lateral ventricles (two variants and a folder batch), lateral-ventricle segmentation, the
// white-matter seed finder, the surface atrophy-depth map and the names of atlas regions.
//
// The exports work on voxel frames and volumes of the imaging core. Every FRAME* returned, and every
// FRAME* stored through an output pointer, is new and belongs to the caller (PR_FrameDelete); the
// library never frees or keeps what it is given, keeps no state between calls and starts no threads
// of its own. A failure returns null (or false) after the library's own message, if any, shown as
// "<function> : <message>"; failures of the imaging-core calls are reported by the core (when the
// caller asked for progress) and give a silent null.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"
#include "filters/BiasField.h"
#include "registration/AutoFocus.h"
#include "roi/RoiStatistics.h"

class CVol;

#if defined(GYRELAB_BUILD)
#define GYRELAB_API __attribute__((visibility("default")))
#else
#define GYRELAB_API
#endif

// Parameters of the white-matter lesion functions, filled by the lesion dialog and the batches and
// only read by the library. The registration record holds file names (CString), so the record is
// naturally aligned rather than byte-packed; it never goes to a file.
struct VA_WMLVENTRSEG {
  int32_t AlgoVersion = 2;        // 2 or 4: which variant the caller runs (the library ignores it)
  uint8_t DoN3 = 1;               // N3 on the FLAIR working copy and the resliced MPRAGE
  VA_N3PARM N3parms;
  uint8_t UseGMmask = 0;          // use the given gray-matter mask
  uint8_t UseMprage = 0;          // derive the gray matter from the given MPRAGE
  VA_AF3D AF3Dparms;              // MPRAGE-to-FLAIR registration
  double BmCoreSiLo = 0.4;        // brain mask signal interval, relative to the white-matter seed
  double BmCoreSiHi = 1.5;
  double BmPeel = 3.1;            // mm
  double BmGrow = 6.4;            // mm
  double StemWeightThr = 0.05;    // fraction of the largest slice area; 0 keeps the brain stem
  double VentPeel = 2.0;          // mm
  double VentGrow = 30.0;         // mm
  int32_t VentMaxCC = 1;          // ventricle components kept
  uint8_t UseWMseedForNormVoxels = 0;  // healthy statistics from the seed box (variant 2)
  double WmDeflateToNormal = 5.0;      // mm peel of the brain mask leaving healthy white matter (variant 2)
  double WMLThresholdStddevMult = 2.0; // lesion threshold: mean + this x stdev (variant 2)
  double WMLzoneDeflate = 3.0;    // mm: cortical rim without a gray-matter mask; ventricle guard growth
  uint8_t WmMaxCCOnly = 1;        // keep the largest white-matter component only
  double GMbrightThrKoff = 1.5;   // gray matter brighter than this x its FLAIR level is dropped
  double WMLminSize = 12.0;       // mm^3
};

// Parameters of BP_BrainSegmentLateralVentricle.
struct VA_LATERALVENTRSEG {
  double brainMaskSiLow = 0.4;    // relative to the white-matter seed level
  double brainMaskPeel = 2.9;     // mm
  double brainMaskGrow = 6.4;     // mm
  double ventricleMinWidth = 2.0; // mm: the peel of the ventricle wave
  double ventricleGrow = 3.0;     // the grow of the ventricle wave
  int32_t maxComponents = 1;      // ventricle components kept
};

// Parameters of the reserved BP_SegmentBrainCSF (no field is read).
struct BP_CSFPARM {
  int32_t reserved = 0;
};

// "(RH Rostral Middle Frontal)" for atlas labels 1..51, "(LH ...)" for 52..102 (label n + 51 is
// the left twin of n); an empty text for any other label.
GYRELAB_API CString BP_GetCerebrAregionName(int label);

// For every boundary voxel of the surface region (ROI voxels of time point 0 with a 6-neighbour
// outside it or outside the grid), its distance from the reference region's surface in hundredths
// of a millimetre (inside or outside the reference, on the given spacing; null: 1 mm voxels); every
// other voxel holds 16,777,215. A new 32-bit integer frame of one time point. Both regions must
// have the same width, height and depth ("Equal dimensions are expected"); their time points may
// differ.
GYRELAB_API FRAME* BP_AtrophySurfaceDepth_x100(const FRAME* reference, const FRAME* surface, const SPC* spc);

// Reserved: does nothing and returns null.
GYRELAB_API FRAME* BP_SegmentBrainCSF(const FRAME* volume, const DIM3D* dims, const SPC* spc, const FRAME* mask,
                                      const BP_CSFPARM* record);

// Segments lesions with variant 2 in every NIfTI file of the source folder (3D volumes; 4D files
// are skipped) and writes "<title>_lesion_mask.nii" into the destination folder. The folders must
// differ and neither may lie inside the other. True when every volume was processed.
GYRELAB_API bool BP_WMlesionsFlair_BatchProcess(const VA_WMLVENTRSEG* record, CString source, CString destination);

// White-matter lesions of a 3D FLAIR volume (the method is written in Lesions.cpp). The result is
// the lesion ROI in the FLAIR's grid, or null. Optional inputs: an MPRAGE of the same subject in any
// grid (used with UseMprage) and a gray-matter ROI in the FLAIR grid (used with UseGMmask; it wins
// over the MPRAGE). Optional outputs (set to null on entry): the lesion threshold, the excluded
// gray matter, the lateral ventricle, the registered MPRAGE in the FLAIR grid, the white matter
// that lesions were searched in and its statistics (variant 2: of the healthy white matter).
GYRELAB_API FRAME* BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(
    const VA_WMLVENTRSEG* record, const CVol* flair, const CVol* mprage, const CVol* grayMatter, double* threshold,
    FRAME** grayMatterOut, FRAME** ventricleOut, FRAME** mprageOut, FRAME** whiteMatterOut,
    VA_ROIINFO* whiteMatterInfo, bool show);
GYRELAB_API FRAME* BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(
    const VA_WMLVENTRSEG* record, const CVol* flair, const CVol* mprage, const CVol* grayMatter, double* threshold,
    FRAME** grayMatterOut, FRAME** ventricleOut, FRAME** mprageOut, FRAME** whiteMatterOut,
    VA_ROIINFO* whiteMatterInfo, bool show);

// The lateral ventricles of a T1 or FLAIR volume as the holes of an EdgeWave brain mask, as an ROI
// in the grid of voxels (a frame in the volume's grid; the volume gives orientation and spacing).
GYRELAB_API FRAME* BP_BrainSegmentLateralVentricle(const VA_LATERALVENTRSEG* record, const CVol* volume,
                                                   const FRAME* voxels, bool show);

// The most uniform bright cube (mean over standard deviation, above the volume's average) in a slab
// through the middle of the volume across direction (0 x, 1 y, 2 z) as the white-matter seed box
// (voxel coordinates, upper edges exclusive). False for an ROI frame, no spacing, a volume thinner
// than the cube along the direction (reported), or when no cube qualifies.
GYRELAB_API bool BP_VoldFindWMseedBasic(const FRAME* frame, const SPC* spc, int t, double cubeSizeMm, int direction,
                                        DRECT3D* seed, bool show);
