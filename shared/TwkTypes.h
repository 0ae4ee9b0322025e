#pragma once
// Plain value types of the imaging core that every module shares: dimensions, boxes, points,
// spacing, dynamic coordinates and the voxel frame. Only plain data here: TwkMem includes this
// header too, and the records cross library boundaries unchanged.

#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using INT64 = int64_t;
using UINT64 = uint64_t;
using COLORREF = uint32_t;  // 0x00BBGGRR

#ifndef RGB
#define RGB(r, g, b) (COLORREF(uint8_t(r)) | (COLORREF(uint8_t(g)) << 8) | (COLORREF(uint8_t(b)) << 16))
#endif
#define GetRValue(c) (uint8_t((c) & 0xFF))
#define GetGValue(c) (uint8_t(((c) >> 8) & 0xFF))
#define GetBValue(c) (uint8_t(((c) >> 16) & 0xFF))

// The value that marks an undefined value: unset bounds, void voxels, outputs not computed.
constexpr double VOID_VALUE = 1e60;
// Void voxels of integer frames.
constexpr uint32_t VOID_INT_VALUE = 16777215u;

// Voxel kind of a frame.
enum FRMTYPE : int32_t {
  FRM_INVALID = 0,
  FRM_ROI = 1,   // region of interest, 1 bit per voxel
  FRM_INT = 4,   // unsigned integers of 8, 16 or 32 bits
  FRM_REAL = 5,  // 64-bit reals
};

// Which dynamic coordinate varies along the fourth dimension.
enum DYNDIM : int32_t {
  DYN_TIME = 0,
  DYN_INVERSION_TIME = 1,
  DYN_ECHO_TIME = 2,
  DYN_BVALUE = 3,
  DYN_FLIP_ANGLE = 4,
  DYN_SPINLOCK_TIME = 5,
  DYN_UNKNOWN = -1,
};

#pragma pack(push, 1)

// Width, height, depth (slices per time point) and time points.
struct DIM3D {
  int32_t w = 0, h = 0, d = 0, t = 0;
};

// Inclusive integer box in voxel space.
struct RECT3D {
  int32_t x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;
};

struct RECT4D {
  int32_t x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0, t0 = 0, t1 = 0;
};

struct DRECT3D {
  double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;
};

// 2D rectangle; in world space (y upwards) y0 is the lower and y1 the upper edge.
struct DRECT {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct DPOINT {
  double x = 0, y = 0;
};

struct DPOINT3D {
  double x = 0, y = 0, z = 0;
};

struct POINT3D {
  int32_t x = 0, y = 0, z = 0;
};

struct INTERVAL {
  double lo = 0, hi = 0;
};

// Voxel spacing in millimetres; the first three doubles are x, y and z.
struct SPC {
  double x = 1, y = 1, z = 1;
};

// Tissue or blood attributes (128 bytes); the program sets only the first value, the T1 in seconds.
struct VA_TISSUEATTRIB {
  double t1 = 0;
  double reserved[15] = {};
};
static_assert(sizeof(VA_TISSUEATTRIB) == 128, "VA_TISSUEATTRIB is 128 bytes");

// Dynamic coordinates of one time point (72 bytes).
struct DYNCRD {
  double time = 0;         // start time of the time point, seconds
  double timeEnd = 0;      // end time (GetMaxTime reads it of the last time point)
  double echoTime = 0;     // seconds
  double inversionTime = 0;
  double bValue = 0;       // s/mm^2
  double spinLockTime = 0;
  double flipAngle = 0;    // degrees
  double repetitionTime = 0;
  double reserved = 0;
};
static_assert(sizeof(DYNCRD) == 72, "DYNCRD is 72 bytes");

// The voxel frame. Slices are stored in the order z + t * depth; every slice is height lines of
// lineBytes bytes. Integer voxels are unsigned 8-, 16- or 32-bit values; ROI lines hold 1 bit per
// voxel, the leftmost voxel in the most significant bit, padded to whole 16-bit words.
struct FRAME {
  FRMTYPE type = FRM_INVALID;
  DIM3D dim;
  int32_t bpv = 0;         // bits per voxel: 1, 8, 16, 32 or 64
  int64_t lineBytes = 0;   // bytes per image line
  uint8_t* data = nullptr; // owned, pf_malloc
};

#pragma pack(pop)

static_assert(sizeof(DIM3D) == 16 && sizeof(RECT3D) == 24, "packed records");
