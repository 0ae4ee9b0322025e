#include "Vol.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "Frame.h"
#include "TwkMem.h"

CVol::CVol() = default;

CVol::~CVol() {
  PR_FrameDelete(&frame);
  pf_free(&dyn);
  pf_free(&imgPos);
  TW_FreeDicomRecArray(&dicom, int(numDicom));
  numDicom = 0;
  PR_FrameDelete(&unalignedFrame);
}

// Whatever cannot be copied for want of memory stays null in the copy.
CVol::CVol(const CVol& other)
    : name(other.name), unit(other.unit), spc(other.spc), modality(other.modality), tissue(other.tissue) {
  std::memcpy(orient, other.orient, sizeof orient);
  std::memcpy(alignment, other.alignment, sizeof alignment);
  frame = VA_VolClone(other.frame);
  unalignedFrame = VA_VolClone(other.unalignedFrame);
  if (other.frame) {
    dyn = pf_duplicate(other.dyn, other.frame->dim.t);
    imgPos = pf_duplicate(other.imgPos, other.frame->dim.d);
  }
  if (other.dicom && other.numDicom > 0) {
    dicom = static_cast<DICOMREC**>(pf_calloc(other.numDicom * int64_t(sizeof(DICOMREC*))));
    if (dicom) {
      numDicom = other.numDicom;
      for (int64_t i = 0; i < numDicom; ++i)
        if (other.dicom[i]) dicom[i] = new DICOMREC(*other.dicom[i]);
    }
  }
}

CVol& CVol::operator=(const CVol& other) {
  if (this == &other) return *this;
  CVol copy(other);
  std::swap(frame, copy.frame);
  std::swap(name, copy.name);
  std::swap(dyn, copy.dyn);
  std::swap(unit, copy.unit);
  std::swap(spc, copy.spc);
  std::swap(modality, copy.modality);
  std::swap(orient, copy.orient);
  std::swap(imgPos, copy.imgPos);
  std::swap(dicom, copy.dicom);
  std::swap(numDicom, copy.numDicom);
  std::swap(tissue, copy.tissue);
  std::swap(unalignedFrame, copy.unalignedFrame);
  std::swap(alignment, copy.alignment);
  return *this;
}

bool CVol::SetAlignment(FRAME** unaligned, const double transform[16]) {
  if (!unaligned || !*unaligned || !transform) return false;
  PR_FrameDelete(&unalignedFrame);
  unalignedFrame = *unaligned;
  *unaligned = nullptr;
  std::memcpy(alignment, transform, sizeof alignment);
  return true;
}

void CVol::ClearAlignment() {
  PR_FrameDelete(&unalignedFrame);
  static const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  std::memcpy(alignment, identity, sizeof alignment);
}

bool CVol::SetModality(int value) {
  if (value != MODALITY_CT && value != MODALITY_MR && value != MODALITY_PET && value != MODALITY_UNKNOWN) return false;
  modality = value;
  return true;
}

bool CVol::GetOrientation(double out[6]) const {
  if (!out) return false;
  std::memcpy(out, orient, sizeof orient);
  return true;
}

bool CVol::SetOrientation(const double values[6]) {
  if (!values) return false;
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(values[i])) return false;
  const double row = values[0] * values[0] + values[1] * values[1] + values[2] * values[2];
  const double column = values[3] * values[3] + values[4] * values[4] + values[5] * values[5];
  if (row < 1e-12 || column < 1e-12) return false;
  std::memcpy(orient, values, sizeof orient);
  return true;
}

bool CVol::SetDynamicCoords(const DYNCRD* records, int n) {
  if (!frame || !records || n != frame->dim.t) return false;
  DYNCRD* copy = pf_duplicate(records, n);
  if (!copy) return false;
  pf_free(&dyn);
  dyn = copy;
  return true;
}
