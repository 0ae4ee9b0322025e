#pragma once
// CVol, the volume object of the imaging core: one voxel frame with its geometry, modality,
// dynamic coordinates and DICOM header records. The light accessors are inline here; construction,
// destruction, copying and the heavy methods live in the imaging core (platform/basalt/volume).
//
// A CVol owns its frame, its dynamic coordinates, its image positions and its DICOM records;
// copies are deep (a copy never shares the frame, so both can be destroyed). The inline accessors
// that read the frame need one: callers ask only volumes that hold a frame.

#include <cstdint>

#include "CString.h"
#include "TwkMem.h"
#include "TwkTypes.h"
#include "VolProj.h"

struct BRUSHPARMS;
struct DICOMREC;
struct PR_VIEWFILT;
struct UNDOREC;
struct VA_BRUSHPOINT;
struct VA_LINCONV;
struct VA_ROT;
struct VA_URALGRAD;

// Modalities; volumes whose modality is not known carry MODALITY_UNKNOWN.
enum : int32_t { MODALITY_CT = 0, MODALITY_MR = 1, MODALITY_PET = 2, MODALITY_UNKNOWN = 10000 };

// Imaging-core functions that the accessors forward to (declared with their defaults in
// platform/basalt/volume/).
int PR_VolBpv(const FRAME* frame);
DYNDIM VA_GetDynType(const DYNCRD* dyn, int numTimes);
void* VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, int bpv, double inValue, double outValue);
bool VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, void* out, int bpv, double inValue, double outValue);
bool VA_VolSetBox(FRAME* frame, int t, const RECT3D* box, const void* data, int bpv);
bool VA_VolFillBox(FRAME* frame, int t, const RECT3D* box, bool inside, double value);
double* VA_VolGetRoiTac(const FRAME* frame, const FRAME* roi, uint8_t** validFlags);
bool VA_VolProjDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, DIM3D* out, SPC* outSpc);
bool VA_VolBoxProjConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DRECT3D* in,
                             DRECT3D* out, int direction);

class CVol {
 public:
  CVol();
  ~CVol();
  CVol(const CVol& other);             // deep copy: frame, dynamic coordinates, positions, records
  CVol& operator=(const CVol& other);  // deep copy

  // --- data members (the imaging core owns their meaning) ---
  FRAME* frame = nullptr;           // owned voxel frame
  CString name;                     // the volume's name (a path-like text; also the layer's name)
  DYNCRD* dyn = nullptr;            // one record per time point, or null (pf_malloc, owned)
  CString unit;                     // signal unit text, e.g. "HU"
  SPC spc;                          // voxel spacing, millimetres
  int32_t modality = MODALITY_MR;   // 0 CT, 1 MR, 2 PET, 10000 unknown
  double orient[6] = {1, 0, 0, 0, 1, 0};  // row and column direction cosines
  DPOINT3D* imgPos = nullptr;       // image position of every slice (depth entries), or null (pf_malloc, owned)
  DICOMREC** dicom = nullptr;       // DICOM header records (numDicom entries), or null (pf_malloc array, owned)
  int64_t numDicom = 0;
  VA_TISSUEATTRIB tissue;           // tissue attributes of an ROI (its T1 is kept in documents)
  // Alignment: after a registration aligned the voxels, the frame as it was before (owned) and the
  // alignment transform (4x4, row-major, homogeneous, in the imaging core's transform-file form).
  // A volume without an unaligned frame has no alignment. Both are copied and freed with the
  // volume; documents do not store them.
  FRAME* unalignedFrame = nullptr;
  double alignment[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

  // --- modality, orientation, dynamic coordinates (imaging core) ---
  int GetModality() const { return modality; }
  // Accepts 0 (CT), 1 (MR), 2 (PET) and 10000 (unknown); false for any other value.
  bool SetModality(int value);
  bool GetOrientation(double out[6]) const;
  // False (orientation unchanged) for values that are not finite or a zero direction vector.
  bool SetOrientation(const double values[6]);
  // Copies the other volume's direction cosines; false for a null other or when either call fails.
  bool SetOrientation(CVol* other) {
    double o[6];
    return other && other->GetOrientation(o) && SetOrientation(o);
  }
  // Replaces the dynamic coordinates by a copy of n records; n must equal the time points.
  bool SetDynamicCoords(const DYNCRD* records, int n);

  // Writes the volume as DICOM files (imaging core, DICOM family: platform/basalt/dicom/DicomSave.h
  // tells the arguments).
  static bool SaveToDicom(CVol* vol, bool keepIdentifiers, const wchar_t* path, const PR_VIEWFILT* filter,
                          bool compress, bool multipleFiles, bool numberedNames, bool keepAcquisitionValues, bool show);

  // --- frame accessors ---
  FRMTYPE Type() const { return frame->type; }
  DIM3D* Dim() const { return &frame->dim; }
  DIM3D tdim(int t) const { return DIM3D{frame->dim.w, frame->dim.h, frame->dim.d, t}; }
  int W() const { return frame->dim.w; }
  int H() const { return frame->dim.h; }
  int D() const { return frame->dim.d; }
  int T() const { return frame->dim.t; }
  int NumSlices() const { return D() * T(); }
  int64_t NP() const { return int64_t(W()) * H(); }
  int64_t NumVox() const { return NP() * D(); }
  int64_t TotNumVox() const { return NumVox() * T(); }
  int Bpv() const { return PR_VolBpv(frame); }

  // --- spacing ---
  // The flag is accepted for the callers that pass one; the spacing is always at hand.
  SPC* Spc(bool = false) { return &spc; }
  const SPC* Spc(bool = false) const { return &spc; }
  double Vx() const { return Spc()->x; }
  double Vy() const { return Spc()->y; }
  double Vz() const { return Spc()->z; }
  double Vxy() const { return Vx() * Vy(); }
  double VoxSz() const { return Vx() * Vy() * Vz(); }
  double IsoVox() const {
    double m = Vx() < Vy() ? Vx() : Vy();
    return Vz() < m ? Vz() : m;
  }
  double GetVoxCM3() const { return VoxSz() * 0.001; }
  bool IsIsotropic() const {
    auto near = [](double a, double b) { return (a > b ? a - b : b - a) < 0.01; };
    return near(Vx(), Vy()) && near(Vx(), Vz()) && near(Vy(), Vz());
  }
  bool IsIsoPix() const { return PR_IsIsoPix(Spc()); }

  // --- kind and dimensionality ---
  bool Is3D() const { return T() == 1; }
  bool Is4D() const { return T() > 1; }
  int effT(int t) const { return Is3D() ? 0 : t; }
  bool AllowedDyn(bool allow3D, bool allow4D) const { return (allow3D && T() == 1) || (allow4D && T() > 1); }
  bool IsROI() const { return Type() == FRM_ROI; }
  bool IsINT() const { return Type() == FRM_INT; }
  bool IsReal() const { return Type() == FRM_REAL; }
  bool IsROI3D() const { return IsROI() && T() == 1; }
  bool IsINT3D() const { return IsINT() && T() == 1; }
  bool IsReal3D() const { return IsReal() && T() == 1; }
  bool IsParamMap() const { return IsReal() && T() == 1; }
  bool IsINT4D() const { return IsINT() && T() > 1; }
  bool IsReal4D() const { return IsReal() && T() > 1; }
  bool IsNonROI3D() const { return !IsROI() && T() == 1; }
  bool IsNonROI4D() const { return !IsROI() && T() >= 2; }
  bool IsCT() const { return GetModality() == MODALITY_CT; }
  bool IsMR() const { return GetModality() == MODALITY_MR; }
  bool IsCT3D() const { return IsCT() && T() == 1; }
  bool IsMR3D() const { return IsMR() && T() == 1; }
  bool IsPET() const { return (IsINT() || IsReal()) && GetModality() == MODALITY_PET; }
  bool IsPET4D() const { return IsPET() && T() > 1; }

  // --- dynamic coordinates ---
  // Time from the first to the last time point; 0.0 without dynamic coordinates.
  double TimeSpan() const { return dyn && T() > 0 ? dyn[T() - 1].time - dyn[0].time : 0.0; }
  // End time of the last time point; 0.0 without dynamic coordinates.
  double GetMaxTime() const { return dyn && T() > 0 ? dyn[T() - 1].timeEnd : 0.0; }
  DYNDIM GetDynType() const { return VA_GetDynType(dyn, T()); }

  // Shifts a box between corner-based and centre-based voxel coordinates (halves truncated).
  void RectToCentralCoords(RECT3D* r) const {
    const int cx = W() / 2, cy = H() / 2, cz = D() / 2;
    r->x0 -= cx; r->x1 -= cx; r->y0 -= cy; r->y1 -= cy; r->z0 -= cz; r->z1 -= cz;
  }
  void RectFromCentralCoords(RECT3D* r) const {
    const int cx = W() / 2, cy = H() / 2, cz = D() / 2;
    r->x0 += cx; r->x1 += cx; r->y0 += cy; r->y1 += cy; r->z0 += cz; r->z1 += cz;
  }

  // --- voxel boxes (see platform/basalt/volume/VolumeBox.h for the buffer layouts) ---
  void* GetBox(int t, const RECT3D* box, int bpv = 0, double inValue = 1.0, double outValue = 0.0) const {
    return VA_VolGetBox(frame, t, box, bpv, inValue, outValue);
  }
  bool GetBox(int t, const RECT3D* box, void* out, int bpv = 0, double inValue = 1.0, double outValue = 0.0) const {
    return VA_VolGetBox(frame, t, box, out, bpv, inValue, outValue);
  }
  bool SetBox(int t, const RECT3D* box, const void* data, int bpv = 0) { return VA_VolSetBox(frame, t, box, data, bpv); }
  bool FillBox(int t, const RECT3D* box, int value, bool inside = true) {
    return VA_VolFillBox(frame, t, box, inside, double(value));
  }
  // One whole slice of time point t.
  void* GetSlice(int t, int z, int bpv = 0, double inValue = 1.0, double outValue = 0.0) const {
    const RECT3D box{0, 0, z, W() - 1, H() - 1, z};
    return VA_VolGetBox(frame, t, &box, bpv, inValue, outValue);
  }
  double* GetRoiTac(const FRAME* roi, uint8_t** validFlags = nullptr) const {
    return VA_VolGetRoiTac(frame, roi, validFlags);
  }
  bool ProjDimensions(const VA_VOLPROJ* proj, DIM3D* out, SPC* outSpc = nullptr) const {
    return VA_VolProjDimensions(Dim(), Spc(), proj, out, outSpc);
  }
  bool BoxProjConversion(const VA_VOLPROJ* proj, const DRECT3D* in, DRECT3D* out, int direction) const {
    return VA_VolBoxProjConversion(Dim(), Spc(), proj, in, out, direction);
  }

  // --- member forms of the imaging core's volume functions (platform/basalt/volops/VolMembers.cpp;
  // the free functions they forward to tell the details) ---
  // Dynamic dimension: name, unit and a new pf_malloc array of its T values in ascending order.
  bool GetDynamicDimension(CString* name, CString* unit, double** values, bool show = false) const;
  bool DynInxToTimeInx(int dynInx, int* timeInx) const;
  bool TimeInxToDynInx(int timeInx, int* dynInx) const;
  bool TacToDynamicOrder(double* curve) const;
  bool EnforceChronoOrder(bool show);
  // Per time point repetition time, echo time (seconds) and flip angle (degrees), new pf_malloc arrays.
  double* GetAll_TR() const;
  double* GetAll_TE() const;
  double* GetAll_FA() const;
  // The volume's flip angle (degrees), repetition and echo time (seconds); 1e60 when unknown.
  double GetFlipAngle() const;
  double GetTR() const;
  double GetTE() const;

  // New volumes made from this one.
  CVol* CloneByReformat(FRAME** frame, const SPC* spacing = nullptr, const double* orientation = nullptr,
                        const DPOINT3D* position = nullptr, bool show = false) const;
  // Exactly one of box and time list ({count, t0, t1, ...}) is given.
  CVol* CloneByCrop(const RECT4D* box, const int32_t* timeList, bool cloneDicom, bool show = false) const;
  CVol* IntegerToReal(bool show) const;
  CVol* RoiToInteger(bool show) const;
  // In place.
  bool IntegerToReal(double scale, double offset);
  bool MinimizeDicomHeaders(bool show = false);
  // --- alignment (see unalignedFrame) ---
  bool HasAlignment() const { return unalignedFrame != nullptr; }
  // Takes *unaligned (cleared) as the frame before the alignment, replacing an earlier one, with
  // the transform; false (nothing taken) for a null frame or transform.
  bool SetAlignment(FRAME** unaligned, const double transform[16]);
  // Frees the unaligned frame and resets the transform to identity.
  void ClearAlignment();

  // --- dynamic coordinates that a command rewrites in place (platform/basalt/dynamics) ---
  // Every coordinate but the time takes the value of the first time point, so that only the time
  // varies; false without dynamic coordinates.
  bool RemoveAllDynamicDimensionsExceptTime();
  // The echo times of an echo-time series become spin-lock times (TSL) and the echo time that of
  // the first time point; false when the dynamic dimension is not the echo time.
  bool DynDimReplaceEchoTimeByTSL();

  // The clamped linear conversion of the voxels (inside roi when given); see VA_VolLinearConversionWithClamp.
  bool LinearConversionWithClamp(const VA_LINCONV* conversion, const FRAME* roi, bool show = false);
  bool CopyAllSpatialInfo(const CVol* source);
  // Reverses the voxels along axis 1 (x), 2 (y) or 3 (z); with keepWorld every voxel keeps its
  // place in the patient (orientation and positions change with the voxels).
  bool Mirror(bool keepWorld, int axis, bool show = false);
  bool SetBpv(int bits);
  // Replaces the frame by one of the given kind and dimensions with every voxel set to value.
  bool CreateUniform(int type, const DIM3D& dims, double value, int bpv = 0);
  // Paints or erases one brush segment from anchor to current (imaging core, volops/Brush.h tells
  // the shapes); a new undo record of the changed box goes to *undo when undo is given.
  bool ApplyBrush(const BRUSHPARMS* parms, const VA_VOLPROJ* proj, const VA_BRUSHPOINT* anchor,
                  const VA_BRUSHPOINT* current, bool paint, int shape, UNDOREC** undo);

  // Quarter-turn rotation, patient orientation and positions (platform/basalt/geometry/Geometry.h:
  // VA_VolOrthoRotate, VA_VolSetSpecifiedOrientation3AXIS, VA_VolSetImagePositions).
  CVol* OrthoRotate(const VA_ROT* rotation, bool keepWorld, bool show = true) const;
  bool SetSpecifiedOrientation3AXIS(const wchar_t* letters, bool show = true);
  bool SetImagePositions(const DPOINT3D* start);
  // The line-guide moves, in place (the frame keeps its address): the voxels shifted by the vector
  // from points[0] to points[1], or turned about points[1] by the angle from points[0] to points[2]
  // (volume voxel coordinates; VA_VolShiftUsingVector, VA_VolRotateUsingSector).
  bool ShiftUsingVector(const VA_VOLPROJ* proj, const DPOINT3D points[2], int interpolation, bool show = true);
  bool RotateUsingSector(const VA_VOLPROJ* proj, const DPOINT3D points[3], int interpolation, bool show = true);
  // The largest texture-gradient magnitude over the time points (VA_MSTG_Aggregate4D).
  FRAME* MSTG_Aggregate4D(const VA_URALGRAD* record, double noise, const FRAME* roi, bool show = true) const;

  // Geometry.
  bool IsEqualDim(const CVol* other) const;     // width, height and depth
  bool IsEqualSpc(const CVol* other) const;     // within the program's tolerance
  bool IsEqualOrient(const CVol* other) const;  // within the program's tolerance
  // Same grid and, unless tolerance is 1e60, the same voxels within tolerance (see
  // VA_VolIsMatchingVolume); false when the comparison cannot be made.
  bool IsMatchingVolume(const CVol* other, double tolerance, bool* match) const;
  // Compares time point t (t outside 0 .. T-1: every time point) with the volume stored in a file:
  // passed when the largest absolute voxel difference is at most maxBound and their mean at most
  // meanBound (1e60: no bound); a void voxel matches only a void one. False when the file cannot
  // be read or its width, height and depth (or its time points, for every time point) differ.
  bool CompareToStandard(int t, const wchar_t* path, double maxBound, double meanBound, bool* passed) const;
  bool IsValidSpc() const;
  bool IsValidOrientation() const;
  // Diagonal of the volume's box in millimetres.
  double UnivoxDiam() const;
  // Anatomical plane of a view with this record (null: the native plane): 0 sagittal, 1 axial,
  // 2 coronal, -1 without a valid orientation.
  int GetMajorProjType(const VA_VOLPROJ* proj = nullptr) const;
  // Row and column direction cosines of that plane in patient space.
  bool GetProjOrientation(const VA_VOLPROJ* proj, double orient[6]) const;
  // The plane and the patient ends of the screen's edges, e.g. "AX R>L A>P" (see
  // VA_VolGetProjText); false without a valid orientation.
  bool GetProjText(const VA_VOLPROJ* proj, CString* text) const;
};
