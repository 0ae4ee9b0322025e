#pragma once
// Layers from Matlab files (MAT v4, v5 and v7.3, read with libmatio).
//
// Axis mapping: a Matlab array A of size [n1 n2 n3 n4] becomes a frame of width n1, height n2,
// depth n3 and n4 time points with voxel (x, y, z, t) = A(x+1, y+1, z+1, t+1). Matlab stores arrays
// column-major, so this is the file's own element order (x fastest) and nothing is transposed;
// numpy arrays saved by scipy.io.savemat keep their indices: a[x, y, z] is voxel (x, y, z).
// Two-dimensional arrays are one slice.

#include "CString.h"
#include "TwkTypes.h"

// The first real numeric array of 2 to 4 dimensions in the file (with dims: the first whose
// width, height and depth equal dims'; its time points are free) as a new 64-bit real frame; the
// variable's name goes to *name when given. Null with "Unable to open <path>", or "No array of
// <w> x <h> x <d> voxels is found in <path>" when nothing fits.
FRAME* VA_LoadMatlabFileLayer(const wchar_t* path, const DIM3D* dims, CString* name, bool show);
