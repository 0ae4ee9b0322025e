#pragma once
// CVol, the volume object of the imaging core: one voxel frame with its geometry, modality,
// dynamic coordinates and DICOM header records. The light accessors are inline here; construction,
// destruction and the heavy methods live in the imaging core (platform/basalt).

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

struct DICOMREC;

// Modalities.
enum : int32_t { MODALITY_CT = 0, MODALITY_MR = 1, MODALITY_PET = 2 };

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
  int32_t modality = MODALITY_MR;   // 0 CT, 1 MR, 2 PET
  double orient[6] = {1, 0, 0, 0, 1, 0};  // row and column direction cosines
  DPOINT3D* imgPos = nullptr;       // image position of every slice (depth entries), or null (pf_malloc, owned)
  DICOMREC** dicom = nullptr;       // DICOM header records (numDicom entries), or null (pf_malloc array, owned)
  int64_t numDicom = 0;

  // --- inline accessors on the frame (the frame must exist) ---
  FRMTYPE Type() const { return frame->type; }
  DIM3D* Dim() const { return &frame->dim; }
  int W() const { return frame->dim.w; }
  int H() const { return frame->dim.h; }
  int D() const { return frame->dim.d; }
  int T() const { return frame->dim.t; }

  // Accessors of the volume object (more follow in this class as the imaging core grows).
  SPC* Spc() { return &spc; }
  const SPC* Spc() const { return &spc; }
};
