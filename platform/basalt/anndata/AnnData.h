#pragma once
// Training data of the network library: random order and timing, tensor element sizes, batches of
// sample volumes, 2.5D slabs with signal normalisation, the 2D samples of the FlexDim training
// folder with their augmentation and per-class Dice, in-plane and isotropic resampling, and the
// region boxes, crops and size rounding of the training-data preparation.
//
// Everything returned is new and belongs to the caller: buffers and arrays are pf_malloc blocks
// (pf_free, arrays of blocks pf_free_parr), frames are freed with PR_FrameDelete, volumes deleted.
// Functions with a show flag report their failures through the UI, prefixed by their own name.

#include <cstdint>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"

class CVol;

// ---------------------------------------------------------------------------------------------
// Random order and elapsed time
// ---------------------------------------------------------------------------------------------

// A seeded 64-bit Mersenne twister: the same seed gives the same orders and draws on every machine.
struct PR_RANDGEN;
PR_RANDGEN* PR_InitRandGen(uint64_t seed);   // null when it cannot be allocated
void PR_DeleteRandGen(PR_RANDGEN** gen);     // frees *gen (null is fine) and sets it to null
// The numbers 0 .. n-1 in a random order (Fisher-Yates); null for n < 1, a null generator or no memory.
int* PR_ShuffleIntegerArray(PR_RANDGEN* gen, int64_t n);
double PR_RandUniform(PR_RANDGEN* gen, double lo, double hi);  // uniform in [lo, hi)
double PR_RandNormal(PR_RANDGEN* gen);                         // standard normal (Box-Muller)
bool PR_RandChance(PR_RANDGEN* gen, double probability);       // true with that probability
int64_t PR_RandPoisson(PR_RANDGEN* gen, double mean);          // Poisson draw, 0 for mean <= 0

// A reading of the monotonic high-resolution clock, and the seconds elapsed since such a reading.
// The flag is accepted for the callers that pass one.
int64_t PR_GetPerformanceCounter();
double PR_GetElapsedTime(int64_t start, bool flag = false);

// ---------------------------------------------------------------------------------------------
// Element types and batches
// ---------------------------------------------------------------------------------------------

// Element type codes of tensors and sample buffers (the tensor library's scalar type numbers).
enum TORCHDT : int32_t {
  TORCHDT_UINT8 = 0,
  TORCHDT_INT8 = 1,
  TORCHDT_INT16 = 2,
  TORCHDT_INT32 = 3,
  TORCHDT_INT64 = 4,
  TORCHDT_FLOAT16 = 5,
  TORCHDT_FLOAT32 = 6,
  TORCHDT_FLOAT64 = 7,
  TORCHDT_BOOL = 11,
};
int VA_TorchDataSize(int type);  // bytes per element; 0 for an unknown code

// Width, height, depth, time points, pixels per plane and voxels per 3D volume of dims; null
// outputs are skipped.
void VA_VolWHDTPV(const DIM3D* dims, int* w, int* h, int* d, int* t, int64_t* planePixels, int64_t* volumeVoxels);

// Copies the samples at positions first .. last of order, one after the other, into two buffers:
// image sample order[i] is imageElems elements of imageType, label sample labelElems elements of
// labelType. False for a bad range, an unknown type or a null sample.
bool VA_ObtainNextBatch(int imageType, void* const* images, int64_t imageElems, int labelType, void* const* labels,
                        int64_t labelElems, const int* order, int64_t first, int64_t last, void* imageOut,
                        void* labelOut);

// ---------------------------------------------------------------------------------------------
// Signal normalisation and 2.5D slabs
// ---------------------------------------------------------------------------------------------

// Signal normalisation of a volume; the statistics are taken over every defined voxel of the
// whole volume (all time points); void voxels become 0.
enum DATANORMMETHOD : int32_t {
  DATANORM_NONE = 0,        // values as stored
  DATANORM_MINMAX = 1,      // (v - min) / (max - min)
  DATANORM_ZSCORE = 2,      // (v - mean) / standard deviation
  DATANORM_INTERVAL = 3,    // (v - lo) / (hi - lo) with the caller's interval; min-max without one
  DATANORM_PERCENTILE = 4,  // (v - p0.5) / (p99.5 - p0.5), percentiles of the defined voxels
};
// Normalises n values in place; a constant volume gives zeros. False for an unknown method.
bool VA_NormalizeSignal(double* values, int64_t n, int method, double lo, double hi);
// The frame's voxels (all time points, x fastest) as doubles, normalised; null on failure.
double* VA_VolGetNormalized(const FRAME* frame, int method, double lo, double hi);

// Slabs of 2*slabR+1 adjacent slices (slice z and slabR neighbours on each side; slices beyond the
// volume repeat the first or last one), in elements of torchType (TORCHDT_FLOAT32 or
// TORCHDT_FLOAT64), channel-major, then rows, then columns, signal normalised by normMethod.
// SeparateTimepoints: one slab per (t, z), time point by time point, 2*slabR+1 channels each.
// TimepointsAsChannels: one slab per slice z with T*(2*slabR+1) channels, channel t*(2*slabR+1)+k
// holding slice z+k-slabR of time point t. Null on failure; slabBytes and numSlabs describe the result.
void* VA_ExtractSlabs_SeparateTimepoints(const FRAME* frame, int torchType, int normMethod, int slabR,
                                         int64_t* slabBytes, int64_t* numSlabs);
void* VA_ExtractSlabs_TimepointsAsChannels(const FRAME* frame, int torchType, int normMethod, int slabR,
                                           int64_t* slabBytes, int64_t* numSlabs);
// The same from normalised voxels already at hand (w x h x d x t doubles), into a caller buffer
// of numSlabs * channels * w * h floats.
void VA_FillSlabs(const double* voxels, const DIM3D& dims, int slabR, bool timepointsAsChannels, float* out);

// ---------------------------------------------------------------------------------------------
// 2D samples of the FlexDim training folder
// ---------------------------------------------------------------------------------------------
//
// Image sample block: int32 width, int32 height, int32 channels, int32 volume index, 32 int64
// category indices, then channels x height x width 32-bit floats (272 bytes from the start).
// Label and mask sample blocks: int32 width, int32 height, int32 0, int32 volume index, then
// height x width bytes (16 bytes from the start). A label byte is a class index; a mask byte
// above 0 marks a pixel where the loss counts.
constexpr int VA_FLEXDIM_IMAGE_HEAD = 272;
constexpr int VA_FLEXDIM_BYTEMAP_HEAD = 16;
constexpr int VA_FLEXDIM_MAX_CATEGORIES = 32;

struct VA_FLEXDIM_HEAD {
  int32_t width, height, channels, volume;
};
inline const VA_FLEXDIM_HEAD* VA_FlexDimHead(const void* sample) { return static_cast<const VA_FLEXDIM_HEAD*>(sample); }
inline int64_t* VA_FlexDimCategories(void* sample) { return reinterpret_cast<int64_t*>(static_cast<uint8_t*>(sample) + 16); }
inline const int64_t* VA_FlexDimCategories(const void* sample) {
  return reinterpret_cast<const int64_t*>(static_cast<const uint8_t*>(sample) + 16);
}
inline float* VA_FlexDimPixels(void* sample) { return reinterpret_cast<float*>(static_cast<uint8_t*>(sample) + VA_FLEXDIM_IMAGE_HEAD); }
inline const float* VA_FlexDimPixels(const void* sample) {
  return reinterpret_cast<const float*>(static_cast<const uint8_t*>(sample) + VA_FLEXDIM_IMAGE_HEAD);
}
inline uint8_t* VA_FlexDimBytes(void* sample) { return static_cast<uint8_t*>(sample) + VA_FLEXDIM_BYTEMAP_HEAD; }
inline const uint8_t* VA_FlexDimBytes(const void* sample) { return static_cast<const uint8_t*>(sample) + VA_FLEXDIM_BYTEMAP_HEAD; }

// New sample blocks: an image of channels planes (zeroed), a byte map (zeroed).
void* VA_FlexDim_NewImage(int width, int height, int channels);
void* VA_FlexDim_NewBytemap(int width, int height);
// A new copy of a sample: type code 0 (TORCHDT_UINT8) copies a byte map, any other code an image
// block whose size its head gives (channels must match the head). Null for a null sample or a
// channel count that disagrees.
void* VA_FlexDim_AllocAndCopyData(int typeCode, const void* sample, int channels);

// A group of samples: parallel arrays of image, label and mask blocks, the number of volumes the
// samples come from and, per sample, the index of its volume (0 .. volumes-1).
struct VA_SAMPLEGROUP {
  void** images = nullptr;
  void** labels = nullptr;
  void** masks = nullptr;
  int64_t count = 0;
  int64_t volumes = 0;
  int32_t* table = nullptr;
};
void VA_FreeSampleGroup(VA_SAMPLEGROUP* group);

// Settings of the folder loader, byte-packed in this order.
#pragma pack(push, 1)
struct VA_DATALOADPARM {
  double trainFraction = 0.8;  // not read: every case outside the evaluation and test groups trains
  double testFraction = 0.0;   // share of the cases held out as the test group; 0: the evaluation group tests
  double validFraction = 0.2;  // the evaluation share; folds = round(1 / validFraction)
  int32_t normMethod = 0;      // DATANORMMETHOD
  double normLo = 0;
  double normHi = 0;
  int32_t tensorType = TORCHDT_FLOAT32;
  int32_t reserved = 0;
  int32_t slabR = 0;
  int32_t loadLimit = -1;      // above 0: only the first loadLimit cases are loaded
};
#pragma pack(pop)
static_assert(sizeof(VA_DATALOADPARM) == 60, "VA_DATALOADPARM is byte-packed");

// The cases of a training folder: "image_<n>.nii" (or .nii.gz) with "mask_<n>.nii" of the same
// number, sorted by number. False (reported) when the folder cannot be listed or holds no pair.
struct VA_CASEPAIR {
  int64_t index;
  CString image, mask;
};
bool VA_ListTrainingPairs(const wchar_t* folder, std::vector<VA_CASEPAIR>* pairs, bool show);

// Cases of a training folder and the folds of its evaluation share: folds = round(1 / validFraction),
// at least 2 and at most the number of cases. False (reported) for fewer than 2 cases or a
// fraction outside (0, 1).
bool VA_CalculateDatasetNumCasesAndFolds(const wchar_t* folder, double validFraction, int* cases, int* folds,
                                         bool show);
// Loads the 2D samples of every case: the evaluation group takes the cases at sorted position p
// with p % folds == fold, the test group the last round(testFraction * cases) other cases (at
// least one when testFraction > 0; with testFraction 0 the test group is a copy of the
// evaluation group), the training group the rest. With timesAsCategory every (time point, slice)
// is a sample of 2*slabR+1 channels whose category 0 is the time point (numCategories 1, size T)
// and the mask may have T time points or one; without it every slice is a sample of
// T*(2*slabR+1) channels and the mask must have one time point. Every case must have the same
// width, height and time points, its mask the image's width, height and depth, label values
// 0 .. 255; width and height at least minSize. scaleMode 0 (the images as stored) is the only mode.
// Masks mark every pixel. testNames / maskNames: file titles of the test cases (pf_malloc arrays
// of numTestNames pf_malloc strings).
bool VA_Load4DVolumesAndTargetLabelsFromFolder_As25D_FlexDim(
    int fold, const VA_DATALOADPARM* parm, bool timesAsCategory, const wchar_t* folder, double scaleParam,
    int scaleMode, int minSize, VA_SAMPLEGROUP* train, VA_SAMPLEGROUP* eval, VA_SAMPLEGROUP* test,
    wchar_t*** testNames, wchar_t*** maskNames, int* numTestNames, DIM3D* dims, int* numCategories,
    int** categorySizes, bool show);

// Per-class Dice of predicted label maps (count maps of `pixels` class bytes, no head) against the
// label samples, inside the masks (null: every pixel): for every volume of the table and class c,
// 2|P∩T| / (|P| + |T|) over all the volume's samples (not-a-number when the class is absent from
// both); the result for c is the mean of its finite values over the volumes (not-a-number when
// there is none). A new array of numClasses doubles, or null.
double* VA_CalculateDICEperClassAveragedOverVolumes(int numClasses, int64_t pixels, void* const* labels,
                                                    void* const* masks, uint8_t* const* predictions, int64_t count,
                                                    int64_t volumes, const int32_t* table);
// Mean of the finite values; not-a-number when none is finite.
double PR_AverageFinite(const double* values, int64_t n);

// ---------------------------------------------------------------------------------------------
// Augmentation of a batch
// ---------------------------------------------------------------------------------------------

// Augmentation settings, byte-packed. Units: translations, displacements and radii in pixels,
// angles in degrees, probabilities in 0..1; fields marked "not read" keep their places only.
#pragma pack(push, 1)
struct VA_AUGMENT3D {
  uint8_t ExpandByRegistration = 0;  // enlarge the training set by registering cases onto each other
  int32_t ExpandLimit = -1;
  double ExpandParmA = 30.0, ExpandParmB = 3.0, ExpandParmC = 1.0;
  int32_t ExpandCount = 5;
  int32_t LoadLimit = -1;            // cases loaded by the FlexDim loader (-1: all)
  double ProbAffine = 0.5;
  double AffMaxR = 0;                // not read
  double AffMaxT = 0;                // not read
  double affMaxScale = 1.5;          // scale factor drawn in [1/s, s]
  double affMaxRot = 20.0;
  double affMaxShear = 5.0;
  double affMaxTrans = 40.0;
  double WarpProb = 0.5;             // elastic warp: control points WarpGaussRad apart,
  double WarpDist = 5.0;             // each moved up to WarpDist, interpolated bilinearly
  double WarpGaussRad = 30.0;
  double reservedA = 0, reservedB = 0;  // not read
  double ProbGRBF = 0;               // Gaussian radial-basis deformation: GRBFgrid x GRBFgrid centres,
  int32_t GRBFgrid = 4;              // each moved up to GRBFmaxdisp, Gaussian width GRBFsmoothK times
  double GRBFmaxdisp = 5.0;          // the centre spacing
  double GRBFsmoothK = 0.5;
  double ProbInputGaussNoise = 0.5;
  double InputGaussNoiseStdev = 0.005;
  double ProbSigScaleAndShift = 0;
  double SigScaleMax = 0.05;
  double SigShiftMax = 0.05;
  double ProbContrastAdjustment = 0;
  double ContrastAdjMax = 0.05;
  double ProbPoisson = 0;
  double ProbMirrorX = 0.5;
  double reservedC = 0;              // not read
  double PoissonScale = 200.0;
};
#pragma pack(pop)
static_assert(sizeof(VA_AUGMENT3D) == 249, "VA_AUGMENT3D is byte-packed");

// Transforms count samples in place, each with its own draws in sample order: a random affine map
// (scale, rotation, shear, translation about the image centre), an elastic warp and a radial-basis
// deformation, then a left-right mirror, all with the same geometry for the image planes
// (bilinear, 0 outside), the label and the mask (nearest, 0 outside, so pixels moved in from
// outside do not count); then, on the image only, Gaussian noise, a signal scale and shift, a
// contrast change and Poisson noise. Masks may be null. False for a null generator or settings.
bool VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(PR_RANDGEN* gen, const VA_AUGMENT3D* aug, int tensorType,
                                                        void** images, void** labels, void** masks, int64_t count,
                                                        int channels);

// ---------------------------------------------------------------------------------------------
// Resampling, region boxes and crops
// ---------------------------------------------------------------------------------------------

// Every slice of the frame resampled in-plane to newW x newH (interpolation 1 bilinear, 0 nearest
// neighbour), pixel centres aligned: target pixel i samples the source at (i + 0.5) * W / newW - 0.5.
// The result has the source's kind (integer and ROI results of bilinear sampling are rounded).
FRAME* VA_ResampleSlices(const FRAME* frame, int newW, int newH, int interpolation);
// A new volume with isotropic voxels of mm millimetres (mode 1 trilinear, 0 nearest neighbour),
// the same box in the patient: the grid keeps the volume's corner, orientation and time points;
// image positions follow. Real results for trilinear sampling of non-ROI volumes, otherwise the
// source's kind. Null (reported) for a bad size.
CVol* VA_ResampleToVoxelSize(const CVol* vol, double mm, int mode, bool show);
// An ROI of the frame's first time point: voxels in [lo, hi] are inside; an ROI is copied.
FRAME* VA_VolThresholdToRoi(const FRAME* frame, double lo, double hi);
// The inclusive box of the ROI's inside voxels (first time point); false when it is empty.
bool VA_RoiBoundingBox(const FRAME* roi, RECT3D* box);
// The box of the first time point in a new frame of the same kind; voxels of the box outside the
// frame take fill. Null for an inverted box.
FRAME* VA_VolCropWithFill(const FRAME* frame, const RECT3D* box, double fill);
// Widens the box so that each of its sizes is a multiple of base (base < 1 changes nothing): the
// growth is split, the smaller half to the low side.
void PR_MakeDimensionsMultipleOfBase(RECT3D* box, int base);
// The same widths, heights and depths.
bool VA_AreCompatibleDimensions(const CVol* a, const CVol* b);
