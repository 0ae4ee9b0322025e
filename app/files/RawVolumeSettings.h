#pragma once
// RawVolumeSettings, the record of the "Specify RAW Volume" dialog (CDlgSpecifyRawVolume): how an
// array read from a file (its shape and element type known, its meaning not) becomes a volume:
// which array axis is x, y, z and t, the four dimensions, the voxel size and what the fourth
// dimension measures. The dialog is a thin view over this record; the runner below works headless
// through a value prompt unless the shell installs the dialog.

#include <cstdint>
#include <functional>

#include "CString.h"
#include "io/ImageFiles.h"

struct RawVolumeSettings {
  uint64_t shape[4] = {1, 1, 1, 1};  // array shape, outermost axis first
  DTYPE type = DTYPE_UNKNOWN;
  int width = 1, height = 1, depth = 1, timePoints = 1;
  double voxel[3] = {1.0, 1.0, 1.0};  // millimetres
  int dynamicKind = 0;                // 0 Time, 1 Inversion time, 2 Echo time, 3 B-value, 4 Flip Angle, 5 TSL
  CString dynamicValues;              // one value per time point, comma-separated; empty: 0, 1, 2, ...
  CString order = L"tzyx";            // the axis names of the shape, outermost first
};

// The names of the dynamic dimensions, in list order.
extern const wchar_t* const kRawDynamicKindNames[6];

// "Shape : (%u,%u,%u,%u)" of the four shape values.
CString RawVolumeShapeLabel(const RawVolumeSettings& settings);
// The element type's name ("int16", "complex64", ...).
CString RawVolumeDataTypeLabel(const RawVolumeSettings& settings);
// Number of array elements (the product of the shape).
uint64_t RawVolumeElementCount(const RawVolumeSettings& settings);

// The "Update" button: the order must be a permutation of "tzyx", else "Order should be a
// permutation of axis : xyzt" is shown (information icon) and nothing changes; otherwise the four
// dimensions are recomputed from the shape and the order.
bool RawVolumeUpdate(RawVolumeSettings* settings);
// The check of OK: the order is a permutation of "tzyx", every dimension is at least 1, their
// product equals the element count, the voxel sizes are positive and the dynamic kind lies in 0..5.
// A refusal is shown (information icon) and gives false.
bool RawVolumeAccept(const RawVolumeSettings& settings);

// The view that edits the record: true on OK (the record then holds the edited values). The
// default view is a value prompt (twk::ui().askValues); the shell may install its dialog.
using TW_RAWVOLUMEVIEW = std::function<bool(RawVolumeSettings* settings)>;
void TW_SetRawVolumeView(TW_RAWVOLUMEVIEW view);

// The runner: shows the dialog for the shape and type with the caller's voxel size, dynamic kind
// and values, asks again until the values are accepted or the user cancels. On OK it writes W, H,
// D, T to dims, the voxel size, the kind and the values, and returns true with the order text in
// *order; on Cancel nothing is written and the result is false.
bool TW_SpecifyRawVolume(const uint64_t shape[4], DTYPE type, int dims[4], double voxel[3], int* dynamicKind,
                         CString* dynamicValues, CString* order);
