#pragma once
// ROI statistics of the imaging core: first-order statistics and the 64-bit histogram of a volume
// over an ROI, histogram ranges and bins, percent ranges, blobs, histogram segmentation, and the
// voxel-value conversions that the ROI operations use.
//
// Statistics count the defined voxels (not void: 1e60 in real frames, 16,777,215 in 32-bit
// integer frames) inside the mask. The standard deviation is the population one; skewness is
// m3 / m2^1.5 and kurtosis the excess m4 / m2^2 - 3; percentiles interpolate linearly between the
// sorted values (numpy's default); the entropy (nats) is -sum p ln p over the histogram's bins.
// Histogram bin i covers [low + i w, low + (i + 1) w) with the last bin closed at high.

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
struct VA_ROIINFO {
  double mean = 0;
  double entropy = 0;  // nats
  double stdev = 0;
  double variance = 0;
  double skewness = 0;
  double kurtosis = 0;
  double median = 0;
  double minimum = 0;
  double maximum = 0;
  double percentile[9] = {};  // 1, 5, 10, 25, 50, 75, 90, 95, 99 %
  uint32_t count = 0;
  double volumeCm3 = 0;       // filled by callers that know the spacing
};

// Settings of the bimodal histogram split (37 bytes).
struct VA_BIMODALSPLIT {
  uint8_t constrainMassRatio = 0;
  double massRatioLow = 0.59, massRatioHigh = 0.77;  // (high signal / low signal) mass ratio
  double peakRatioLow = 1.01, peakRatioHigh = 3.0;   // (high signal / low signal) peak position ratio
  int32_t iterations = 200000;
};

// Linear conversion with clamping: v' = min(max(coefficient v + bias, low), high).
struct VA_LINCONV {
  double coefficient = 1.0, bias = 0.0, lowLimit = 0.0, highLimit = 10000.0;
};
#pragma pack(pop)

// Histogram segmentation methods.
enum VA_HISTSEG : int32_t {
  VA_HISTSEG_OTSU = 0,
  VA_HISTSEG_BIGAUSS = 1,
  VA_HISTSEG_BILAPLACE = 2,
  VA_HISTSEG_GMM = 3,
};

// Completes the histogram's bins: exactly one of *binWidth (1e60: not given) and *bins (0: not
// given) is given. From a width: bins = max(1, ceil((high - low) / width)); from a count: width =
// (high - low) / bins (1 for an empty range). False otherwise.
bool VA_CalcRangeBins(double low, double high, double* binWidth, int* bins);

// Statistics of time point t over the mask's time point maskT (null mask: every voxel) and the
// histogram of [low, high] in bins of binWidth (or bins bins, VA_CalcRangeBins): a new pf_malloc
// array of bins 64-bit counts. With clip only voxels in [low, high] enter the statistics. Null
// (reported when show is set) for bad arguments, no memory or no voxel to count.
uint64_t* VA_VolCalcRoiInfo(bool show, const FRAME* frame, int t, const FRAME* mask, int maskT, double low,
                            double high, bool clip, double binWidth, int bins, VA_ROIINFO* info);
// Statistics of n values (sorted in place); the entropy is not computed. False for n < 1.
bool VA_StatisticsOfValues(double* values, int64_t n, VA_ROIINFO* info);
// The statistics (no histogram) after dropping the lowest cutLow and highest cutHigh percent.
bool VA_VolCalcRoiInfoCutPct(const FRAME* frame, int t, const FRAME* mask, int maskT, double cutLow, double cutHigh,
                             VA_ROIINFO* info, bool show);
// The values at the low and high percent of the defined voxels of time point t.
bool VA_VolRangePercent(const FRAME* frame, int t, double lowPercent, double highPercent, double* low, double* high);

// Blobs of the mask (26-connected components): their count, mean and standard deviation of size in
// voxels, and the nonuniformity, the standard deviation of the blobs' mean signals over the mean
// signal (0 for one blob).
bool VA_GetBlobStats(const FRAME* frame, const FRAME* mask, int t, int* count, double* blobMean, double* blobStdev,
                     double* nonuniformity);

// Segments a histogram into segments classes. Returns segments + 1 bin indices (pf_malloc): 0,
// then the first bin of every class after the first, then bins. models (may be null) receives
// segments curves of bins values (curve s at s * bins) of the fitted model (Otsu: none, zeros);
// residual the RMS difference of the summed model from the histogram, peakRatio and massRatio the
// ratios of the highest to the lowest class's peak position and mass. Methods: 0 Otsu (ITK's
// multiple-threshold calculator), 1 and 2 two Gaussians or Laplacians fitted by least squares
// under the record's ratio constraints (two classes), 3 a Gaussian mixture fitted by EM.
int* VA_SegHist(const uint64_t* histogram, int bins, int method, int segments, const VA_BIMODALSPLIT* record,
                double** models, double* residual, double* peakRatio, double* massRatio, bool show);

// An ROI of time point t's voxels in [low, high] (the frame's size, one time point).
FRAME* VA_VolThreshold(const FRAME* frame, int t, double low, double high, bool show);
// (v - offset) / divisor of every voxel as a new real frame (type 5); voids stay void. The divisor
// must not be below 1e-100 in magnitude.
FRAME* VA_VolSubAndDivide(int type, const FRAME* frame, double offset, double divisor, bool show);
// v' = minimum + maximum - v over the defined voxels, in place.
bool VA_VolInvert(FRAME* frame, bool show);
// The linear conversion with clamping in place, inside the ROI (null: everywhere); voids stay
// void, integer results are rounded and kept within the voxels' range (defined with the other
// voxel-value operations in ops/VoxelValues.cpp).
bool VA_VolLinearConversionWithClamp(FRAME* frame, const VA_LINCONV* conversion, const FRAME* roi, bool show);
