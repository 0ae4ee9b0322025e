#pragma once
// Bias-field (intensity non-uniformity) correction of the imaging core: N4 on ITK's
// N4BiasFieldCorrectionImageFilter, N3 and BiCal of our own. Each estimates a smooth
// multiplicative field on one time point and divides every time point of the volume by it; the
// corrected volume keeps the mean of the voxels the field was fitted on. Results are new real
// frames of the volume's size: the corrected volume, or the field itself when the record asks
// for it. Void voxels are left out of the fit and stay void.

#include <cstdint>

#include "TwkTypes.h"

class CVol;

#pragma pack(push, 1)
// "N4 nonuniformity correction" (37 bytes).
struct VA_N4PARAM {
  double airThreshold = 0.0;     // voxels at or below it are background (left out of the fit)
  int32_t iterations = 50;       // per fitting level
  double splineDistance = 200.0; // mm between the B-spline knots of the first level
  double fwhm = 0.1;             // of the bias field's log histogram (Wiener sharpening)
  double noise = 0.01;           // Wiener filter noise
  uint8_t outputBiasField = 0;   // the result is the field instead of the corrected volume
};
#pragma pack(pop)
static_assert(sizeof(VA_N4PARAM) == 37, "VA_N4PARAM is 37 bytes");

#pragma pack(push, 1)
// "N3 - Bias Field Correction" (48 bytes).
struct VA_N3PARM {
  double fieldSmoothness = 200.0;  // mm between the B-spline knots of the field
  int32_t iterations = 50;
  double subsample = 2.0;          // the fit runs on every subsample-th voxel of each axis
  double fwhm = 0.15;              // of the field's log histogram blur (Wiener sharpening)
  double noise = 0.01;             // Wiener filter noise
  int32_t padVolume = 1;           // the field's domain reaches half a knot beyond the volume
  int32_t dynamicField = 0;        // a field per time point instead of one for all
  int32_t outputBiasField = 0;     // the result is the field
};
#pragma pack(pop)
static_assert(sizeof(VA_N3PARM) == 48, "VA_N3PARM is 48 bytes");

#pragma pack(push, 1)
// "BiCal Parameters" (93 bytes).
struct VA_BICALZF {
  int32_t basis = 0;                  // 0 Legendre, 1 Chebyshev first kind, 2 Chebyshev second kind, 3 regular polynomial, 4 cosine
  double processingScale = 1.0;       // the fit samples every processing-scale-th voxel (0.1 to 10)
  double fieldPrecision = 20.0;       // mm: the shortest detail of the field, which sets the degree
  double maxCorrection = 5.0;         // the field is capped to [1 / max, max]
  double airLevel = 2.0;              // background: below air level x noise
  double lowSignal = 5.0;             // voxels below it take no part in the fit
  int32_t separation = 0;             // regions by 0 regular edges, 1 thin edges, 2 the gradient
  uint8_t adaptiveEdge = 0;           // the edge level follows the local noise (time series)
  double gradientRadius = 3.0;        // voxels
  double edgeLevel = 0.0;             // x noise; 0: eight times the noise (a smooth field is no edge)
  double gradientInclusion = 0.3;     // separation 2: the fraction of lowest-gradient voxels fitted
  double regionSmoothEps = 0.01;      // ridge of the least-squares fit
  double backgroundTransition = 1000.0;  // mm over which the field fades to 1 outside the foreground
  uint8_t outputReal = 0, outputField = 0, outputWorkMask = 0, allDocuments = 0;
};
#pragma pack(pop)
static_assert(sizeof(VA_BICALZF) == 93, "VA_BICALZF is 93 bytes");

#pragma pack(push, 1)
// "N4 Explorer": the ranges of an N4 parameter sweep (97 bytes). The embedded N4 record holds the
// sweep's other settings.
struct VA_N4EXPLR {
  VA_N4PARAM n4{0.0, 50, 0.0, 0.0, 0.0, 0};
  double minSplineDistance = 100.0, maxSplineDistance = 100.0;  // mm
  int32_t splineDistanceGrid = 1;
  double minFwhm = 0.1, maxFwhm = 0.15;
  int32_t fwhmGrid = 3;
  double minNoise = 0.01, maxNoise = 0.01;
  int32_t noiseGrid = 1;
};
#pragma pack(pop)
static_assert(sizeof(VA_N4EXPLR) == 97, "VA_N4EXPLR is 97 bytes");

#pragma pack(push, 1)
// "BiCal Explorer Parameters": the ranges of a BiCal parameter sweep (129 bytes).
struct VA_BICALEXPLR {
  VA_BICALZF bical;
  double minEdgeRadius = 3.0, maxEdgeRadius = 3.0;
  int32_t minSmoothPower = 0, maxSmoothPower = 100, smoothPowerGrid = 10;
  int32_t minDegree = 5, maxDegree = 12;
};
#pragma pack(pop)
static_assert(sizeof(VA_BICALEXPLR) == 129, "VA_BICALEXPLR is 129 bytes");

// The highest field degree for a volume: its largest extent (mm) over the field precision,
// at most 22.
int VA_BicalFieldDegree(const DIM3D* dims, const SPC* spc, double precision);

// The basic N3 settings with the given subsampling: field smoothness 200 mm, 50 iterations,
// FWHM 0.15, noise 0.01, padded, one field, corrected output.
void VA_N3setBasicParms(VA_N3PARM* record, double subsample);

// N4 of time point t of frame (spacing spc, null: 1 mm): the fit runs on the volume shrunk by 4
// (capped per axis so that at least 8 voxels remain), over 4 fitting levels that each halve the
// knot distance; the field is then evaluated at full size from the fitted control points. The fit
// covers the voxels above the air threshold (and inside mask, a 3D ROI, when given). With field
// given, the full-size field goes there too (a new real frame of one time point). Null on failure
// or Esc (nothing else is changed). Needs at least 4 slices.
FRAME* VA_N4BiasCorrection(const VA_N4PARAM* record, const FRAME* frame, const SPC* spc, int t, const FRAME* mask,
                           FRAME** field, bool show);
// The volume's form (the volume's N4): time point t of a 4D volume, the volume's spacing.
FRAME* VA_VolN4(const CVol* vol, const VA_N4PARAM* record, int t, const FRAME* mask, FRAME** field, bool show);

// N3 (non-parametric non-uniform intensity normalisation) of time point t, or of every time point
// with the record's dynamic field: the log intensities of the voxels above a tenth of the 99th
// percentile (within box when given), sampled every subsample-th voxel, are sharpened by Wiener
// deconvolution of their histogram with a Gaussian of the record's FWHM, and the residual between
// the log intensities and their sharpened expectation is fitted by a cubic B-spline with knots
// every field-smoothness millimetres (over the volume grown by half a knot when padded; a
// least-squares fit with a small penalty on the control points' second differences), for the
// record's iterations or until the field changes by less than 0.1 %. The corrected volume keeps
// the fitted voxels' mean. A new real frame (the field with the record's flag); null on failure.
FRAME* VA_N3padded(const FRAME* frame, const RECT3D* box, const SPC* spc, int t, const VA_N3PARM* record, bool show);

// BiCal of time point t: the log intensity of the foreground (above the air level x noise and
// the low signal level) is fitted by robust least squares (Tukey-reweighted, so that a region the
// edges left holding two tissues does not read the smaller one as field) as a field of the basis up to the field degree
// (at most 8 in the fit) plus one offset per region, the regions being the connected parts
// between the edges (or the lowest-gradient voxels); the field is capped, fades to 1 outside the
// foreground over the background transition, and divides every time point. The result is the
// corrected volume (real with outputReal, else of the operand's kind), the field (outputField) or
// the fitted mask (outputWorkMask, an ROI). Null on failure.
FRAME* VA_VolBicalZF(const VA_BICALZF* record, const FRAME* frame, const SPC* spc, int t, bool show);
