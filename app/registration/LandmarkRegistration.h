#pragma once
// Registration of a second document's volumes onto a layer set by pairs of landmarks with equal
// labels (LandmarkRegistration.cpp): the landmark checks, the options and their dialog, the fit of
// a transform to the pairs, and the registration itself.

#include <cstdint>

#include "CString.h"

class CDrawSet;
struct HIGHOBJ;
struct DIM3D;
struct SPC;
class CDrawDoc;
class CDrawView;

// True when no two landmarks carry the same label (byte-wise, case-sensitive).
bool TW_LandmarkLabelsUnique(HIGHOBJ* const* landmarks, int count);
// False when a source label has no equal target label; otherwise reorders target so that target i
// carries the label of source i (both lists count long).
bool TW_MatchLandmarkLabels(HIGHOBJ* const* source, HIGHOBJ** target, int count);
// The text telling both counts and every label without a partner on the other side.
void TW_LandmarkMismatchReport(HIGHOBJ* const* source, int sourceCount, HIGHOBJ* const* target, int targetCount,
                               CString* report);

// The options of landmark registration ("Register Volumes Using Landmarks"), kept for the run.
struct NPNTREGPARMS {
  int32_t interpolation = 1;   // VA_INTERP: 0 nearest, 1 trilinear, 2..4 windowed sinc
  int32_t transformType = 2;   // 0 translation, 1 rigid, 2 affine, 3 polynomial, 4 Gaussian RBF, 5 TPS
  int32_t degree = 2;          // of the polynomial
  double sigma = 200.0;        // mm, of the Gaussian radial basis functions
  double lambda = 0.0;         // their regularisation
  CString transformFile;       // where rigid and affine transforms are saved; empty: not saved
};
extern NPNTREGPARMS g_LandmarkRegisterParms;
// Start values; the transformation file is "NpointCoregTransform.vtf" in the 3D save folder.
void TW_InitLandmarkRegisterDefaults();
// The dialog "Register Volumes Using Landmarks" on the record; true on OK.
bool TW_DlgNpntPairRegister(NPNTREGPARMS* record);

struct VA_AF3D;
// The AutoFocus preset of "Landmark registration + Voxel similarity": the values of "Mutual Info
// with AutoFocus" when first used, then what its dialog last accepted.
VA_AF3D& TW_LandmarkAutofocusRecord();

// The transform (target voxel index -> source voxel index) fitted to the landmark pairs by the
// options' type: a new pf_malloc coefficient array, or null. Interactively the fit's errors and
// matrix are shown in a question and No gives null.
double* CalculateTransformByLandmarks(const NPNTREGPARMS* options, const DIM3D* targetDims, const SPC* sourceSpc,
                                      const SPC* targetSpc, HIGHOBJ* const* source, HIGHOBJ* const* target, int count,
                                      bool interactive);
// Whether the source document's active set can give landmarks for a registration onto a set of
// targetTimePoints time points: a volume set, landmarks at the view's time point with unique
// labels, time-point counts equal or one of them 1. *count: its number of landmarks.
bool IsNpoint3DRegisterPossible(CDrawView* view, int targetTimePoints, CDrawDoc* sourceDoc, int* count);

namespace twk::registration {

// Registers the volumes of the other document whose landmarks pair with this set's landmarks (at
// the view's time point) by label onto this set ("_reg" layers), with the options of
// g_LandmarkRegisterParms (their dialog when interactive); with voxel similarity the landmark
// transform starts an AutoFocus registration instead. Messages read
// "CDrawSet::Register3D_WithInitPoints : ...".
bool Register3D_WithInitPoints(CDrawSet& set, CDrawView* view, bool voxelSimilarity, bool interactive);

}  // namespace twk::registration
