#pragma once
// The records of AutoFocus registration: a coarse grid search over translations, rotations,
// scalings and shears followed by a fine optimisation of the chosen transform. VA_AF3D registers
// one volume onto another, VA_AF4D corrects the motion of a 4D volume; both carry the texture-
// gradient settings (VA_URALGRAD) of the gradient similarity measures. Named fields in the order
// of the record; the records are passed by value and never stored in files.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

struct Poly3D;

// Similarity measures (VA_REGMEASURE).
enum : int32_t {
  VA_REGMEASURE_SIGNAL_DIFFERENCE = 0,
  VA_REGMEASURE_CROSS_CORRELATION = 1,
  VA_REGMEASURE_RATIO_UNIFORMITY = 2,
  VA_REGMEASURE_MUTUAL_INFO = 3,
  VA_REGMEASURE_MUTUAL_INFO_NORM = 4,
  VA_REGMEASURE_GRADIENT_FIELD = 5,
  VA_REGMEASURE_GRADIENT_FIELD_PLUS = 6,
  VA_REGMEASURE_MICRO_SEGMENTATION = 7,  // deformable registration only
  VA_REGMEASURE_SELF_SIMILARITY = 8,     // deformable registration only
};

// Texture-gradient settings.
struct VA_URALGRAD {
  int32_t metric = 0;          // 0 signal difference, 1 earth mover distance
  int32_t weights = 0;         // 0 "Constant", 1 "Gaussian", 2 "Radial", 3 "Rayleigh"
  int32_t magnitude = 0;       // 0 linear, 1 logarithm, 2 normalized
  double normalization = 0.0;  // normalization coefficient
  double lowRadius = 0.0;      // voxels
  double highRadius = 0.0;     // voxels
};

// The basic settings: the metric, the high radius (voxels; the low radius is 1 voxel, constant
// weights), the magnitude measure and the normalization coefficient.
void VA_UralGradBasicParms(VA_URALGRAD* settings, int metric, double highRadius, int magnitude, double normalization);

struct VA_AF3D {
  int32_t measure = 0;               // VA_REGMEASURE
  VA_URALGRAD ural;                  // for measures 5 and 6
  CString initialTransformFile;      // ".vtf" applied before the search; empty: none
  uint8_t useTargetRoi = 0;          // the similarity is taken inside the target ROI
  int32_t inflateUnits = 0;          // 0 voxels, 1 millimetres
  double inflate = 0.0;              // growth of the target ROI mask
  uint8_t extraFlag = 0;             // passed to the engine
  double sourceNoise = 0.0;          // noise levels of the normalized gradient measures
  double targetNoise = 0.0;
  int32_t miBins = 0;                // histogram bins of the mutual-information measures; 0: automatic
  double reserved1 = 0.0, reserved2 = 0.0;
  double subsample = 0.0;            // subsampling factor of the search
  double translationMax[3] = {0, 0, 0};  // mm
  double rotationMax[3] = {0, 0, 0};     // degrees
  int32_t rotationGrid = 0;
  uint8_t uniformScale = 0;
  double scaleMax[3] = {0, 0, 0};
  int32_t scaleGrid = 0;
  double shearMax = 0.0;
  int32_t shearGrid = 0;
  int32_t power = 0;                 // effort of the fine optimisation
  uint8_t multipass = 0;
  int32_t transformType = 0;         // 0 translation, 1 rigid, 2 affine, 3 quadratic, 4 polynomial multipass
  int32_t interpolation = 2;         // 0 nearest, 1 trilinear, 2..4 windowed sinc of radius 2..4
  uint8_t resliceTargetToSource = 0;
  uint8_t cleanByMask = 0;
  CString finalTransformFile;        // ".vtf" written after the registration; empty: none
};

struct VA_AF4D : VA_AF3D {
  uint8_t mode2D = 0;                  // slice by slice
  int32_t algorithm4D = 0;             // 0 serial, 1 radial, 2 serial forward, 3 radial forward
  uint8_t outputRoiMotion = 0;
  uint8_t saveTimepointTransform = 0;
};

// Whether the record's measure is a gradient measure (5 or 6), which uses the texture-gradient
// settings; with their magnitude 2 it also needs noise levels.
bool VA_AF3D_UsesGradientMeasure(const VA_AF3D& record);

// The display name of a similarity measure code ("Signal Difference" .. "Normalized Gradient
// Field+"; the deformable-only codes 7 and 8 too); "Unknown" for others.
const wchar_t* VA_GetRegMeasureName(int measure);

// ---- the engine ----
// Registration of a 3D source onto a 3D target (both time point 0). The search starts from the
// record's initial transformation file (relative names are in folder) or, without one, from the
// two grids' centres laid onto each other; a coarse search at the coarsest level of the subsample
// covers the record's translation ranges and rotation, scale and shear grids (never leaving them),
// then the fine optimisation of the transform type (0 translation, 1 rigid, 2 affine) runs over the
// levels from the subsample down to full resolution with an effort set by the finetune power (0:
// none), twice with multipass. With the use-target-ROI flag the measure is taken inside the mask
// (target grid), grown by the inflate in its units. Voids (1e60) never enter a measure. The result
// is the target-to-source voxel-index matrix (4 x 4, rows of four, translation last), written to
// the record's final transformation file when one is named. False on bad input (reported when
// show), on failure, or silently on Esc.
bool VA_RegisterAF3Dto3DMatrix(const VA_AF3D& record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                               const FRAME* target, const FRAME* mask, const SPC* tgtSpc, double matrix[16],
                               double* finalCost, bool show);
// The same returning the transform as a new Poly3D (the caller's). The quadratic types (3
// "Quadratic", 4 "Polynomial Multipass") refine the affine result by a second-order map (the
// multipass form at the subsample's level first, then at full resolution); the Poly3D and the final
// transformation file are then a polynomial of degree 2.
bool VA_RegisterAF3Dto3D(VA_AF3D record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                         const FRAME* target, const FRAME* mask, const SPC* tgtSpc, Poly3D** transform, bool show);

// A 4D source onto a 3D target: with singleTransform the source's time point baseT is registered
// and every time point resliced by that one transform, otherwise each time point is registered on
// its own. The result is a new frame of the source's kind and time points on the target grid
// (outside the source: 0 in integer frames, the void value in real ones). The final measure value
// (of baseT, or the mean over the time points) goes to finalCost when given. Null on failure or Esc.
FRAME* VA_RegisterAF4Dto3D(const VA_AF3D& record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                           const FRAME* target, const FRAME* mask, const SPC* tgtSpc, bool singleTransform, int baseT,
                           double* finalCost, bool show);

// Motion correction of a 4D frame onto its base time point (the current one): Radial registers
// every time point onto the base; Serial each onto its neighbour towards the base, the transforms
// composed; the Forward forms register only the time points after the base and copy the earlier
// ones unchanged. In 2D mode every slice is registered on its own within its plane. The base and
// the copied time points are bit-identical to the input. The report lists, per time point, the
// motion of the base grid's centre (mm) and the rotation (degrees), with the record's ROI motion
// the motion of the mask's centroid and with save-timepoint-transform the matrices. A new frame of
// the input's kind, or null ("4D volume is required" and the like, or Esc).
FRAME* VA_RegisterAF4D_EX(const VA_AF4D* record, const wchar_t* layerName, const FRAME* frame, const SPC* spc,
                          const FRAME* mask, int currentT, int* baseT, CString* report, bool show);

// Whether a source may be registered slice by slice onto a target: the same number of slices with
// the same slice spacing (within 1%). Refused with "Slice-by-slice registration requires the same
// number of slices and slice spacing" when show.
bool VA_RegisterSliceBySliceAllowed(const DIM3D* srcDims, const SPC* srcSpc, const DIM3D* tgtDims, const SPC* tgtSpc,
                                    bool show);
// Slice-by-slice registration: every slice of the source registered within its plane onto the same
// slice of the target. With t >= 0 the transforms of time point t serve every time point; with -1
// each time point has its own. A new frame of the source's kind and time points on the target
// grid, or null.
FRAME* VA_RegisterAF3Dto3D_SliceBySlice(const VA_AF3D& record, int t, const FRAME* source, const SPC* srcSpc,
                                        const FRAME* target, const FRAME* mask, const SPC* tgtSpc, bool show);

