#pragma once
// Transform files (".vtf") and flow-field files (".fff") of registration.
//
// A ".vtf" file is UTF-8 text, readable in the text viewer, every number written with 17
// significant digits so that it reads back bit for bit:
//
//   Tarnwick volume transform 1
//   type 2
//   degree 1
//   timepoints 1
//   source <w> <h> <d> <t> <spacing x> <spacing y> <spacing z>
//   target <w> <h> <d> <t> <spacing x> <spacing y> <spacing z>      ("target none" when not given)
//   coefficients <count per time point>
//   <one line per row: 4 rows of 4 for kinds 1 and 2, 3 rows of the polynomial terms for kind 3,
//    the rows of every time point in turn>
//   end
//
// A ".fff" file is binary, little-endian: the 8 bytes "TWKFFF\0\0", the version (uint32, 1), the
// source and target grids (DIM3D as four int32, SPC as three doubles, each), then one DPOINT3D
// (three doubles) per voxel of the target grid's first time point. A flow field maps target voxel
// (i, j, k) to the source voxel index (i, j, k) + field[(k * h + j) * w + i].
//
// Loading refuses files of another kind or version, truncated files, files with trailing bytes
// and values out of range, naming the file and the cause; nothing is returned then.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

// What a ".vtf" file holds besides its coefficients.
struct VA_VTFINFO {
  int32_t type = 0;        // VA_TRANSFORM 1, 2 or 3
  int32_t degree = 1;      // polynomial degree (1 for the affine kinds)
  int32_t timePoints = 1;  // sets of coefficients, one per time point when two or more
  DIM3D sourceDim;         // the grid the transform maps into (its voxel indices are the output)
  SPC sourceSpc;
  bool hasTarget = false;  // the grid the transform was made for; absent in alignment files
  DIM3D targetDim;
  SPC targetSpc;
};

// The flow field's grids: the field has one displacement per voxel of the target grid.
struct VA_FLOWFIELDINFO {
  DIM3D sourceDim;
  SPC sourceSpc;
  DIM3D targetDim;
  SPC targetSpc;
};

// Writes a transform of one time point (targetDims and targetSpc may be null). Polynomial
// transforms (kind 3) are of degree 2 here; VTF_SaveEx writes any degree and time points.
bool VTF_Save(const wchar_t* path, int type, const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims,
              const SPC* targetSpc, const double* coefficients, bool show = true);
// coefficients: timePoints sets of VA_TransformCoefficientCount(type, degree) values.
bool VTF_SaveEx(const wchar_t* path, const VA_VTFINFO& info, const double* coefficients, bool show = true);
// A new pf_malloc array of info->timePoints coefficient sets, or null.
double* VTF_Load(const wchar_t* path, VA_VTFINFO* info, bool show = true);
// Whether a transform of the file may be applied to a layer of the given grid: silently true when
// the layer's dimensions and spacing are the file's source grid; otherwise the user is asked.
bool VTF_LoadConfirm(const VA_VTFINFO& info, const DIM3D* layerDims, const SPC* layerSpc);
// The path a transform file is saved under: the name with the extension "vtf"; a name without a
// folder goes into folder.
CString VA_VTF_GetSaveName(const wchar_t* name, const wchar_t* folder);

bool VA_SaveFlowField(const wchar_t* path, const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims,
                      const SPC* targetSpc, const DPOINT3D* field, bool show = true);
// A new pf_malloc field of targetDim.w x h x d displacements, or null.
DPOINT3D* VA_LoadFlowField(const wchar_t* path, VA_FLOWFIELDINFO* info, bool show = true);
