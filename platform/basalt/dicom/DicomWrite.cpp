#include "dicom/DicomWrite.h"

#include <algorithm>
#include <cmath>

#include "Vol.h"
#include "paths/FilePaths.h"

namespace twk::dcm {

namespace {

std::string orFresh(std::string& uid) {
  if (uid.empty()) uid = newUid();
  return uid;
}

void dropFrameElements(DcmItem* d) {
  d->findAndDeleteElement(DCM_PixelData);
  d->findAndDeleteElement(DcmTagKey(0x7FE0, 0x0008));
  d->findAndDeleteElement(DcmTagKey(0x7FE0, 0x0009));
  d->findAndDeleteElement(DCM_NumberOfFrames);
  d->findAndDeleteElement(DCM_FrameIncrementPointer);
  d->findAndDeleteElement(DcmTagKey(0x5200, 0x9229));
  d->findAndDeleteElement(DcmTagKey(0x5200, 0x9230));
  d->findAndDeleteElement(DcmTagKey(0xFFFC, 0xFFFC));
}

// A header made from the volume (and the facts of a record without a header).
std::unique_ptr<DcmFileFormat> basicHeader(const CVol& vol, const DICOMREC* rec, HeaderContext& ctx) {
  auto file = std::make_unique<DcmFileFormat>();
  DcmDataset* d = file->getDataset();
  d->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
  const std::string modality = rec && !rec->modality.IsEmpty() ? rec->modality.toUtf8() : modalityText(vol.modality);
  int code = vol.modality;
  if (modality == "CT") code = MODALITY_CT;
  else if (modality == "MR") code = MODALITY_MR;
  else if (modality == "PT") code = MODALITY_PET;
  putText(d, DCM_SOPClassUID, rec && !rec->sopClassUid.IsEmpty() ? rec->sopClassUid.toUtf8() : imageSopClass(code));
  putText(d, DCM_SOPInstanceUID, rec && !rec->sopInstanceUid.IsEmpty() ? rec->sopInstanceUid.toUtf8() : newUid());
  putText(d, DCM_StudyInstanceUID, rec && !rec->studyInstanceUid.IsEmpty() ? rec->studyInstanceUid.toUtf8() : orFresh(ctx.studyUid));
  putText(d, DCM_SeriesInstanceUID, rec && !rec->seriesInstanceUid.IsEmpty() ? rec->seriesInstanceUid.toUtf8() : orFresh(ctx.seriesUid));
  putText(d, DCM_FrameOfReferenceUID, rec && !rec->frameOfReferenceUid.IsEmpty() ? rec->frameOfReferenceUid.toUtf8() : orFresh(ctx.frameUid));
  putText(d, DCM_Modality, modality);
  putText(d, DCM_ImageType, "DERIVED\\SECONDARY");
  putWide(d, DCM_PatientName, rec ? rec->patientName : CString());
  putWide(d, DCM_PatientID, rec ? rec->patientId : CString());
  putWide(d, DCM_PatientBirthDate, rec ? rec->patientBirthDate : CString());
  putWide(d, DCM_PatientSex, rec ? rec->patientSex : CString());
  putWide(d, DCM_StudyDate, rec ? rec->studyDate : CString());
  putWide(d, DCM_StudyTime, rec ? rec->studyTime : CString());
  putWide(d, DCM_StudyDescription, rec ? rec->studyDescription : CString());
  putWide(d, DCM_SeriesDescription, rec && !rec->seriesDescription.IsEmpty() ? rec->seriesDescription
                                                                              : PR_GetFileTitleName(vol.name));
  putWide(d, DCM_ProtocolName, rec ? rec->protocolName : CString());
  putText(d, DCM_SeriesNumber, std::to_string(rec ? rec->seriesNumber : 1));
  if (rec && !rec->acquisitionTime.IsEmpty()) putWide(d, DCM_AcquisitionTime, rec->acquisitionTime);
  if (!vol.unit.IsEmpty() && code == MODALITY_CT) putText(d, DCM_RescaleType, "HU");
  putText(d, DCM_PatientPosition, "HFS");
  d->putAndInsertUint16(DCM_SamplesPerPixel, 1);
  putText(d, DCM_PhotometricInterpretation, "MONOCHROME2");
  d->putAndInsertUint16(DCM_BitsAllocated, 16);
  d->putAndInsertUint16(DCM_BitsStored, 16);
  d->putAndInsertUint16(DCM_HighBit, 15);
  d->putAndInsertUint16(DCM_PixelRepresentation, 0);
  return file;
}

}  // namespace

const char* modalityText(int modality) {
  switch (modality) {
    case MODALITY_CT: return "CT";
    case MODALITY_MR: return "MR";
    case MODALITY_PET: return "PT";
    default: return "OT";
  }
}

const char* imageSopClass(int modality) {
  switch (modality) {
    case MODALITY_CT: return UID_CTImageStorage;
    case MODALITY_MR: return UID_MRImageStorage;
    case MODALITY_PET: return UID_PositronEmissionTomographyImageStorage;
    default: return UID_SecondaryCaptureImageStorage;
  }
}

DPOINT3D slicePosition(const CVol& vol, int z) {
  if (vol.imgPos && vol.frame && z >= 0 && z < vol.D()) return vol.imgPos[z];
  double n[3];
  sliceNormal(vol.orient, n);
  DPOINT3D p = vol.imgPos ? vol.imgPos[0] : DPOINT3D{};
  p.x += n[0] * vol.spc.z * z;
  p.y += n[1] * vol.spc.z * z;
  p.z += n[2] * vol.spc.z * z;
  return p;
}

std::unique_ptr<DcmFileFormat> sliceHeader(const CVol& vol, int t, int z, HeaderContext& ctx, bool writeAcquisition) {
  if (!vol.frame) return nullptr;
  const int D = vol.D(), T = vol.T();
  const int64_t i = int64_t(t) * D + z;
  const DICOMREC* rec = vol.dicom && vol.numDicom > 0 ? vol.dicom[std::min<int64_t>(i, vol.numDicom - 1)] : nullptr;
  std::unique_ptr<DcmFileFormat> file;
  if (rec && !rec->header.empty()) file = fileFromBlock(rec->header);
  if (!file && rec && !rec->filePath.IsEmpty()) {
    file = std::make_unique<DcmFileFormat>();
    if (!loadFile(native(rec->filePath), *file, false, nullptr)) file.reset();
  }
  if (!file) file = basicHeader(vol, rec, ctx);
  DcmDataset* d = file->getDataset();
  dropFrameElements(d);

  d->putAndInsertUint16(DCM_Rows, Uint16(std::clamp(vol.H(), 0, 65535)));
  d->putAndInsertUint16(DCM_Columns, Uint16(std::clamp(vol.W(), 0, 65535)));
  const double spacing[2] = {vol.spc.y, vol.spc.x};
  putNumbers(d, DCM_PixelSpacing, spacing, 2);
  putNumbers(d, DCM_ImageOrientationPatient, vol.orient, 6);
  const DPOINT3D p = slicePosition(vol, z);
  const double position[3] = {p.x, p.y, p.z};
  putNumbers(d, DCM_ImagePositionPatient, position, 3);
  double n[3];
  sliceNormal(vol.orient, n);
  putNumber(d, DCM_SliceLocation, p.x * n[0] + p.y * n[1] + p.z * n[2]);
  double thickness = 0;
  if (!getNumber(d, DCM_SliceThickness, thickness) || thickness <= 0) putNumber(d, DCM_SliceThickness, vol.spc.z);
  putNumber(d, DCM_SpacingBetweenSlices, vol.spc.z);
  putText(d, DCM_InstanceNumber, std::to_string(i + 1));
  if (T > 1) {
    putText(d, DCM_TemporalPositionIdentifier, std::to_string(t + 1));
    putText(d, DCM_NumberOfTemporalPositions, std::to_string(T));
  }
  std::string text;
  if (!getText(d, DCM_Modality, text)) putText(d, DCM_Modality, modalityText(vol.modality));

  if (vol.dyn && t < T) {
    const DYNCRD& dyn = vol.dyn[t];
    putStoredDyn(d, dyn);
    if (writeAcquisition) {
      double present = 0;
      auto write = [&](const DcmTagKey& key, double value, double scale) {
        if (value == VOID_VALUE || !std::isfinite(value)) return;
        if (value == 0 && !getNumber(d, key, present)) return;
        putNumber(d, key, value * scale);
      };
      write(DCM_EchoTime, dyn.echoTime, 1000.0);
      write(DCM_InversionTime, dyn.inversionTime, 1000.0);
      write(DCM_RepetitionTime, dyn.repetitionTime, 1000.0);
      write(DCM_FlipAngle, dyn.flipAngle, 1.0);
      if (dyn.bValue != VOID_VALUE && std::isfinite(dyn.bValue) && (dyn.bValue != 0 || getNumber(d, DcmTagKey(0x0018, 0x9087), present)))
        d->putAndInsertFloat64(DcmTagKey(0x0018, 0x9087), dyn.bValue);
    }
  }
  return file;
}

}  // namespace twk::dcm
