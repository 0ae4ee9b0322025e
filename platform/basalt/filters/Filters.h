#pragma once
// Filters of the imaging core: smoothing (separable, over an ROI, edge-constrained), the shape
// smoothing of ROIs, the texture gradient and edge detector, and the noise estimators. Bias-field
// correction is in BiasField.h, denoising in Denoise.h.
//
// Voxels and voids: every filter reads a time point as doubles. Void voxels (1e60 in real frames,
// 16,777,215 in 32-bit integer frames) are left out of every sum, median and estimate and stay
// void in the result. Results have the operand's kind (integer results rounded, as VoxelAccess.h
// converts).
//
// Kernels (VA_VOXWGHT), on a radius r in voxels. The support is the ball of voxel offsets d with
// |d|_mm <= r * s, s the smallest spacing (so the kernel is round in millimetres; on isotropic
// voxels |d| <= r); the separable form uses the box of per-axis half-widths floor(r * s / s_axis).
// With rho = |d|_mm / s the distance in voxels of the smallest spacing and sigma = r / 2:
//   0 uniform   w = 1
//   1 Gaussian  w = exp(-rho^2 / (2 sigma^2))
//   2 radial    w = 1 - rho / (r + 1)                 (a cone that is still positive at the rim)
//   3 Rayleigh  w = (rho + 0.5) exp(-(rho + 0.5)^2 / (2 sigma^2))   (a ring; the centre counts)
//   4 median    the median of the support's values (the upper one of an even count)
//   5 minimum, 6 maximum of the support's values
// Weights are normalised by their sum over the voxels that count. At the volume's borders the
// volume is mirrored (d c b a | a b c d, scipy.ndimage's "reflect"), so a volume without voids
// smooths exactly as scipy.ndimage.correlate with the normalised kernel and mode "reflect"; the
// separable Gaussian of an integer radius equals scipy.ndimage.gaussian_filter(sigma = r / 2,
// truncate = 2).

#include <cstdint>

#include "TwkTypes.h"
#include "roi/EdgeWave.h"  // VA_URALEDGE
#include "registration/AutoFocus.h"  // VA_URALGRAD

class CVol;

enum VA_VOXWGHT : int32_t {
  VA_VOXWGHT_UNIFORM = 0,
  VA_VOXWGHT_GAUSSIAN = 1,
  VA_VOXWGHT_RADIAL = 2,
  VA_VOXWGHT_RAYLEIGH = 3,
  VA_VOXWGHT_MEDIAN = 4,
  VA_VOXWGHT_MINIMUM = 5,
  VA_VOXWGHT_MAXIMUM = 6,
};

// Noise estimators (VA_NOISEALGO), each of one time point; see VA_VolMeasureNoise.
enum VA_NOISEALGO : int32_t {
  VA_NOISE_BACKGROUND = 0,
  VA_NOISE_EFFECTIVE = 1,
  VA_NOISE_MEDIAN = 2,
  VA_NOISE_DIFFERENCE_2D = 3,
};

#pragma pack(push, 1)
// "Volume Smooth Parameters" (15 bytes).
struct VA_VOLSMOOTH {
  uint8_t process3D = 1;        // 0: the kernel stays in its slice
  uint8_t separable = 0;
  double radius = 2.0;          // voxels
  uint8_t constrainByMask = 0;  // with an ROI: only ROI voxels feed the sums (they alone change either way)
  int32_t kernel = VA_VOXWGHT_UNIFORM;
};

// Edge-constrained smoothing (45 bytes): regions are the connected parts of the volume between
// the edges of the texture edge detector; each is smoothed on its own.
struct VA_IVCS {
  VA_URALEDGE edge{0, 0, 3.0, 3.0, 0.0};  // edge threshold <= 0: twice the measured noise
  int32_t filter = 0;            // regional smooth filter: 0 average, 1 median, 2 Gaussian
  int32_t regionalRadius = 5;    // voxels
  int32_t finalRadius = 2;       // voxels of a last uniform pass inside each region; -1 or 0: none
  uint8_t thinEdges = 1;         // edges thinned to the ridge of the gradient magnitude
};
#pragma pack(pop)
static_assert(sizeof(VA_VOLSMOOTH) == 15, "VA_VOLSMOOTH is 15 bytes");
static_assert(sizeof(VA_IVCS) == 45, "VA_IVCS is 45 bytes");

// --- smoothing ---
// The separable convolution of every time point with the kernel (uniform, Gaussian, radial or
// Rayleigh; the rank kernels are not separable: "Separable smoothing needs a weighted kernel").
// axisMask bit 1 x, 2 y, 4 z (0: all three). Null on failure or Esc.
FRAME* VA_VolConvoluteSeparable3D(const FRAME* frame, int axisMask, const SPC* spc, int kernel, double radius,
                                  bool show);
// Smoothing by the record's kernel and radius, of time point t (-1: all; the others are copied).
// With an ROI (3D, the frame's width, height and depth) only its voxels change, and with the
// record's constrain flag only its voxels count (normalised convolution over the ROI); voidOutside
// makes the voxels outside the ROI void. Null on failure or Esc.
FRAME* VA_VolSmoothWithROI(const VA_VOLSMOOTH* record, const FRAME* frame, int t, const FRAME* roi, const SPC* spc,
                           bool voidOutside, bool show);
// Edge-constrained smoothing of a volume by its own edges (every time point by the edges of its own).
FRAME* VA_SingleVolConstrainedSmooth(const VA_IVCS* record, const FRAME* frame, const SPC* spc, bool show);
// Edge-constrained smoothing of smoothed by the edges of time point t of edges (same width, height
// and depth): time point t of smoothed, or every time point with allTimes, by the same regions.
FRAME* VA_IntervolConstrainedSmooth(const VA_IVCS* record, int t, bool allTimes, const FRAME* edges,
                                    const FRAME* smoothed, const SPC* spc, bool show);
// The ROI (every time point) with its outline smoothed: a voxel is inside when more than half of
// the ball of the radius (voxels) around it is. Null for a frame that is not an ROI.
FRAME* VA_RoiSmoothShape(const FRAME* roi, double radius);

// --- texture gradient and edges ---
// The texture-gradient settings: metric, high radius (voxels), magnitude measure, normalisation
// coefficient; the low radius is 1 voxel and the weights constant (declared in AutoFocus.h).
// The admissible radii of the multiscale gradient up to maxRadius voxels: the radii sqrt(n) of the
// distinct digital balls (n a sum of three squares, 1 <= n <= maxRadius^2), ascending. A new
// pf_malloc array of *count values; null for maxRadius < 1.
double* VA_RerazoRadiusSet(double maxRadius, int* count);
// The texture gradient of time point t: along each axis the distance between the voxel values of
// the two half balls on either side (metric 0: difference of their weighted means; 1: earth
// mover's distance of their value distributions, signed by the means), largest over the
// admissible radii from the low to the high radius. Gradient components go to gx, gy, gz (new
// real frames of one time point; any may be null) and the magnitude measure (0 linear |g|, 1
// ln(1 + |g| / c), 2 |g| / (c + local mean), c the normalisation coefficient, 1 when 0) to
// magnitude. False on failure or Esc.
bool VA_DetectGrad3D(const VA_URALGRAD* record, const FRAME* frame, int t, const SPC* spc, FRAME** gx, FRAME** gy,
                     FRAME** gz, FRAME** magnitude, bool show);
// Edges of time point t: voxels whose gradient magnitude (metric and weights of the record, radii
// low..high, linear magnitude) exceeds the record's threshold (<= 0: twice the effective noise);
// with thin, only where the magnitude also peaks along the gradient's main axis. Within roi (3D,
// may be null) only. A new ROI frame of one time point; null on failure or Esc.
FRAME* VA_DetectEdge3D(const VA_URALEDGE* record, const FRAME* frame, int t, const SPC* spc, const FRAME* roi,
                       bool thin, bool show);

// --- noise ---
// The noise standard deviation of time point t by one estimator:
//   0 background: the voxels of the lowest mode (magnitude images: Rayleigh distributed); the
//     Rayleigh sigma from their second moment, iterated on the voxels below 3 sigma with the
//     truncation corrected;
//   1 effective: the median absolute finest diagonal Haar wavelet coefficient / 0.6745 (2x2x2
//     blocks, 2x2 in single slices), robust to structure;
//   2 median: the median of the local variances of 3x3x3 windows (3x3 in single slices), scaled
//     by the median of their chi-square distribution;
//   3 2D difference: the median absolute deviation of in-plane neighbour differences / (0.6745
//     sqrt 2).
// Zero-filled background (blocks, windows and pairs that are exactly 0) is no measured noise and is
// left out of estimators 1 to 3.
// False ("Constant volume: noise cannot be measured" and the like, when show) for a constant or
// void time point, a bad time point or algorithm.
bool VA_VolMeasureNoise(const FRAME* frame, int algorithm, int t, double* noise, bool show);
// The effective noise (estimator 1) of time point t.
bool VA_VolEffectiveNoise(const FRAME* frame, int t, double* noise, bool show);
// The 2D difference noise (estimator 3) of time point t, or the median over all time points for -1.
bool VA_VolDiffNoise2D(const FRAME* frame, int t, double* noise, bool show);
// The volume's forms: time point t of a 4D volume (a 3D volume's only one whatever t); with
// reportValue the value is shown under the estimator's name ("Effective Noise = ...").
bool VA_VolMeasureNoise(const CVol* vol, int algorithm, int t, double* noise, bool show, bool reportValue);
bool VA_VolEffectiveNoise(const CVol* vol, int t, double* noise, bool show);
