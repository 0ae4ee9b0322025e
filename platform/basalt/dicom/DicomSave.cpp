#include "dicom/DicomSave.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <set>

#include "dcmtk/dcmjpls/djencode.h"

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "ViewFilt.h"
#include "Vol.h"
#include "dicom/DicomWrite.h"
#include "paths/FilePaths.h"
#include "volume/VoxelAccess.h"

namespace fs = std::filesystem;
using namespace twk::dcm;

namespace {

const wchar_t kName[] = L"CVol::SaveToDicom";

// How the values of the images are stored.
struct Encoding {
  int bits = 16;
  bool isSigned = false;
  double slope = 1, intercept = 0;
};

// The voxel values of slice z of time point t as doubles.
std::vector<double> sliceValues(const FRAME* f, int z, int t) {
  std::vector<double> v(size_t(f->dim.w) * size_t(f->dim.h));
  size_t k = 0;
  for (int y = 0; y < f->dim.h; ++y)
    for (int x = 0; x < f->dim.w; ++x) v[k++] = twk::voxelValue(f, x, y, z, t);
  return v;
}

bool isDefined(double v) { return std::isfinite(v) && v != VOID_VALUE; }

// The encoding of real values: whole numbers within 16 bits as they are, others as 32-bit values
// with a slope and intercept over their range.
Encoding realEncoding(double lo, double hi, bool whole) {
  Encoding e;
  if (!(lo <= hi)) lo = hi = 0;
  if (whole && lo >= -32768 && hi <= 32767) {
    e.isSigned = lo < 0;
    return e;
  }
  if (whole && lo >= 0 && hi <= 65535) return e;
  e.bits = 32;
  e.intercept = lo;
  e.slope = hi > lo ? (hi - lo) / 2147483646.0 : 1.0;
  // The slope and intercept are written as decimal strings: encode with the values read back.
  e.slope = std::stod(formatDS(e.slope));
  e.intercept = std::stod(formatDS(e.intercept));
  if (e.slope <= 0) e.slope = 1.0;
  return e;
}

void rangeOf(const std::vector<double>& values, double& lo, double& hi, bool& whole) {
  for (double v : values) {
    if (!isDefined(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    whole = whole && v == std::floor(v);
  }
}

// Appends the stored form of the values to bytes (little endian).
void encodeValues(const std::vector<double>& values, const Encoding& e, double lowest, std::vector<uint8_t>& bytes) {
  const size_t at = bytes.size();
  const size_t width = size_t(e.bits / 8);
  bytes.resize(at + values.size() * width);
  uint8_t* p = bytes.data() + at;
  for (double v : values) {
    if (!isDefined(v)) v = lowest;
    double s = (v - e.intercept) / e.slope;
    int64_t q = std::llround(s);
    if (e.bits == 8) q = std::clamp<int64_t>(q, 0, 255);
    else if (e.bits == 16) q = e.isSigned ? std::clamp<int64_t>(q, -32768, 32767) : std::clamp<int64_t>(q, 0, 65535);
    else q = std::clamp<int64_t>(q, 0, 4294967295LL);
    const uint64_t u = uint64_t(q);
    for (size_t b = 0; b < width; ++b) p[b] = uint8_t(u >> (8 * b));
    p += width;
  }
}

void setPixelDescription(DcmItem* d, const Encoding& e, bool ct, bool rescale) {
  d->putAndInsertUint16(DCM_SamplesPerPixel, 1);
  putText(d, DCM_PhotometricInterpretation, "MONOCHROME2");
  d->putAndInsertUint16(DCM_BitsAllocated, Uint16(e.bits));
  d->putAndInsertUint16(DCM_BitsStored, Uint16(e.bits));
  d->putAndInsertUint16(DCM_HighBit, Uint16(e.bits - 1));
  d->putAndInsertUint16(DCM_PixelRepresentation, e.isSigned ? 1 : 0);
  for (const DcmTagKey& key : {DCM_PlanarConfiguration, DCM_SmallestImagePixelValue, DCM_LargestImagePixelValue,
                               DCM_PixelPaddingValue, DCM_PixelPaddingRangeLimit, DCM_ModalityLUTSequence,
                               DCM_VOILUTSequence, DCM_IconImageSequence, DCM_RedPaletteColorLookupTableDescriptor,
                               DCM_GreenPaletteColorLookupTableDescriptor, DCM_BluePaletteColorLookupTableDescriptor,
                               DCM_RedPaletteColorLookupTableData, DCM_GreenPaletteColorLookupTableData,
                               DCM_BluePaletteColorLookupTableData})
    d->findAndDeleteElement(key);
  if (rescale) {
    putNumber(d, DCM_RescaleSlope, e.slope);
    putNumber(d, DCM_RescaleIntercept, e.intercept);
    if (ct) putText(d, DCM_RescaleType, "HU");
  } else {
    d->findAndDeleteElement(DCM_RescaleSlope);
    d->findAndDeleteElement(DCM_RescaleIntercept);
    d->findAndDeleteElement(DCM_RescaleType);
  }
}

bool insertPixels(DcmItem* d, const std::vector<uint8_t>& bytes, int bits) {
  auto* pixels = new DcmPixelData(DCM_PixelData);
  OFCondition st;
  if (bits == 8) {
    pixels->setVR(EVR_OB);
    st = pixels->putUint8Array(bytes.data(), unsigned(bytes.size()));
  } else {
    // Little-endian bytes as 16-bit words of the machine (a little-endian host).
    std::vector<Uint16> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i) words[i] = Uint16(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    pixels->setVR(EVR_OW);
    st = pixels->putUint16Array(words.data(), unsigned(words.size()));
  }
  if (st.bad() || d->insert(pixels, OFTrue).bad()) {
    delete pixels;
    return false;
  }
  return true;
}

// Writes the file under a temporary name, reads it back and renames it; false with the reason.
bool writeFile(DcmFileFormat& file, const fs::path& target, bool compress, int bits, std::string& reason) {
  // Only a DICOM file may be replaced: never an image, a document or any other file.
  std::error_code present;
  if (fs::exists(target, present)) {
    DcmFileFormat existing;
    if (!loadFile(target.string(), existing, false, nullptr)) {
      reason = "the file exists and is not a DICOM file: not overwritten";
      return false;
    }
  }
  E_TransferSyntax xfer = EXS_LittleEndianExplicit;
  if (compress && bits <= 16) {
    static std::once_flag once;
    std::call_once(once, [] { DJLSEncoderRegistration::registerCodecs(); });
    DcmDataset* d = file.getDataset();
    if (d->chooseRepresentation(EXS_JPEGLSLossless, nullptr).good() && d->canWriteXfer(EXS_JPEGLSLossless)) {
      xfer = EXS_JPEGLSLossless;
    } else {
      reason = "the JPEG-LS encoder refused the image";
      return false;
    }
  }
  fs::path temporary = target;
  temporary += ".tmp";
  OFCondition st = file.saveFile(OFFilename(temporary.string().c_str()), xfer, EET_ExplicitLength, EGL_recalcGL,
                                 EPD_noChange, 0, 0, EWM_createNewMeta);
  std::error_code ec;
  if (st.bad()) {
    reason = st.text();
    fs::remove(temporary, ec);
    return false;
  }
  DcmFileFormat check;
  if (!loadFile(temporary.string(), check, false, &reason)) {
    fs::remove(temporary, ec);
    return false;
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    reason = ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

void putUids(DcmItem* d, const std::string& study, const std::string& series, const std::string& frame) {
  putText(d, DCM_StudyInstanceUID, study);
  putText(d, DCM_SeriesInstanceUID, series);
  putText(d, DCM_FrameOfReferenceUID, frame);
}

}  // namespace

bool CVol::SaveToDicom(CVol* vol, bool keepIdentifiers, const wchar_t* path, const PR_VIEWFILT* filter, bool compress,
                       bool multipleFiles, bool numberedNames, bool keepAcquisitionValues, bool show) {
  auto fail = [&](const CString& why) {
    if (show) twk::showNamedError(kName, why);
    return false;
  };
  if (!vol || !vol->frame || !vol->frame->data) return fail(L"Volume is required");
  if (!path || !*path) return fail(L"No file name");
  const FRAME* frame = vol->frame;
  const twk::VoxelElem elem = twk::voxelElemOf(frame);
  if (elem == twk::VoxelElem::Invalid) return fail(L"Invalid volume");
  const int W = vol->W(), H = vol->H(), D = vol->D(), T = vol->T();
  if (W > 65535 || H > 65535) return fail(L"The slices are too large for DICOM");

  // File names.
  std::error_code ec;
  fs::path folder, title;
  CString ext = PR_GetFileExt(path);
  const fs::path given(twk::pathToNative(path));
  if (fs::is_directory(given, ec)) {
    folder = given;
    CString t = PR_GetFileTitleName(vol->name);
    PR_FilenameReplaceInvalidChars(&t);
    title = twk::pathToNative(t.IsEmpty() ? CString(L"volume") : t);
    ext = L"dcm";
  } else {
    folder = given.parent_path();
    title = twk::pathToNative(PR_GetFileTitleName(path));
    if (ext.IsEmpty()) ext = L"dcm";
  }
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) return fail(CString(L"Folder does not exist : ") + CString::fromUtf8(folder.string()));
  if (ext.CompareNoCase(L"dic") == 0) multipleFiles = false;
  const std::string extension = "." + ext.toUtf8();

  // Value encoding.
  const bool ct = vol->modality == MODALITY_CT && vol->unit == L"HU";
  const bool real = elem == twk::VoxelElem::F64;
  Encoding volumeEncoding;
  double volumeLowest = 0;
  if (elem == twk::VoxelElem::Bit || elem == twk::VoxelElem::U8) {
    volumeEncoding.bits = 8;
  } else if (!real) {
    double lo = 1e300, hi = -1e300;
    bool whole = true;
    for (int t = 0; t < T; ++t)
      for (int z = 0; z < D; ++z) rangeOf(sliceValues(frame, z, t), lo, hi, whole);
    volumeEncoding.bits = hi <= 65535 ? 16 : 32;
    if (ct) volumeEncoding.intercept = -1024;
  } else if (!multipleFiles) {
    double lo = 1e300, hi = -1e300;
    bool whole = true;
    for (int t = 0; t < T; ++t)
      for (int z = 0; z < D; ++z) rangeOf(sliceValues(frame, z, t), lo, hi, whole);
    volumeEncoding = realEncoding(lo, hi, whole);
    volumeLowest = lo <= hi ? lo : 0;
  }
  // Integer CT voxels carry the bias: voxel v is v - 1024 Hounsfield units, which the files hold
  // as the stored value v with the intercept -1024.
  auto storedOf = [&](std::vector<double>& values) {
    if (!real && ct)
      for (double& v : values) v -= 1024.0;
  };
  const bool rescale = real || ct;

  // Window centre and width in the written values.
  auto putWindow = [&](DcmItem* d) {
    if (!filter || !(filter->width > 0)) return;
    putNumber(d, DCM_WindowCenter, filter->level + (ct && !real ? -1024.0 : 0.0));
    putNumber(d, DCM_WindowWidth, filter->width);
  };

  // Identifiers.
  const std::string studyUid = newUid(), seriesUid = newUid(), frameUid = newUid();
  std::set<std::string> usedSop;
  auto setIdentifiers = [&](DcmItem* d) {
    std::string sop;
    if (!keepIdentifiers) {
      putUids(d, studyUid, seriesUid, frameUid);
    } else {
      getText(d, DCM_SOPInstanceUID, sop);
    }
    if (sop.empty() || usedSop.count(sop)) sop = newUid();
    usedSop.insert(sop);
    putText(d, DCM_SOPInstanceUID, sop);
  };

  HeaderContext context;
  twk::ProgressGuard progress(L"Saving DICOM files", show);

  if (multipleFiles) {
    const int64_t n = int64_t(D) * T;
    for (int t = 0; t < T; ++t)
      for (int z = 0; z < D; ++z) {
        const int64_t i = int64_t(t) * D + z;
        std::unique_ptr<DcmFileFormat> file = sliceHeader(*vol, t, z, context, !keepAcquisitionValues);
        if (!file) return fail(L"Cannot make the DICOM header of a slice");
        DcmDataset* d = file->getDataset();
        std::vector<double> values = sliceValues(frame, z, t);
        storedOf(values);
        Encoding e = volumeEncoding;
        double lowest = 0;
        if (real) {
          double lo = 1e300, hi = -1e300;
          bool whole = true;
          rangeOf(values, lo, hi, whole);
          e = realEncoding(lo, hi, whole);
          lowest = lo <= hi ? lo : 0;
        }
        setPixelDescription(d, e, ct, rescale);
        putWindow(d);
        setIdentifiers(d);
        std::string sopClass;
        if (!getText(d, DCM_SOPClassUID, sopClass)) putText(d, DCM_SOPClassUID, imageSopClass(vol->modality));
        std::vector<uint8_t> bytes;
        encodeValues(values, e, lowest, bytes);
        if (!insertPixels(d, bytes, e.bits)) return fail(L"Cannot build the pixel data");
        char suffix[40];
        if (numberedNames) std::snprintf(suffix, sizeof suffix, "_t%04d_n%06d", t, z);
        else std::snprintf(suffix, sizeof suffix, "_%06lld", static_cast<long long>(i));
        fs::path target = folder / title;
        target += std::string(suffix) + extension;
        std::string reason;
        if (!writeFile(*file, target, compress, e.bits, reason))
          return fail(CString(L"Cannot write ") + CString::fromUtf8(target.string()) + L" : " + CString::fromUtf8(reason));
        if (!progress.Step(i + 1, n)) return false;
      }
    return true;
  }

  // One multi-frame file: the first slice's header with every slice in the functional groups.
  std::unique_ptr<DcmFileFormat> file = sliceHeader(*vol, 0, 0, context, !keepAcquisitionValues);
  if (!file) return fail(L"Cannot make the DICOM header of the volume");
  DcmDataset* d = file->getDataset();
  const Encoding& e = volumeEncoding;
  setPixelDescription(d, e, ct, rescale);
  putWindow(d);
  setIdentifiers(d);
  putText(d, DCM_SOPClassUID, vol->modality == MODALITY_CT    ? UID_EnhancedCTImageStorage
                              : vol->modality == MODALITY_PET ? UID_EnhancedPETImageStorage
                                                              : UID_EnhancedMRImageStorage);
  putText(d, DCM_NumberOfFrames, std::to_string(int64_t(D) * T));
  DcmItem* shared = nullptr;
  DcmItem* item = nullptr;
  if (d->findOrCreateSequenceItem(DcmTagKey(0x5200, 0x9229), shared, 0).bad() || !shared)
    return fail(L"Cannot build the functional groups");
  if (shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, item, 0).good() && item) {
    const double spacing[2] = {vol->spc.y, vol->spc.x};
    putNumbers(item, DCM_PixelSpacing, spacing, 2);
    putNumber(item, DCM_SliceThickness, vol->spc.z);
    putNumber(item, DCM_SpacingBetweenSlices, vol->spc.z);
  }
  if (shared->findOrCreateSequenceItem(DCM_PlaneOrientationSequence, item, 0).good() && item)
    putNumbers(item, DCM_ImageOrientationPatient, vol->orient, 6);
  if (rescale && shared->findOrCreateSequenceItem(DCM_PixelValueTransformationSequence, item, 0).good() && item) {
    putNumber(item, DCM_RescaleSlope, e.slope);
    putNumber(item, DCM_RescaleIntercept, e.intercept);
    putText(item, DCM_RescaleType, ct ? "HU" : "US");
  }
  std::vector<uint8_t> bytes;
  for (int t = 0; t < T; ++t)
    for (int z = 0; z < D; ++z) {
      DcmItem* perFrame = nullptr;
      if (d->findOrCreateSequenceItem(DcmTagKey(0x5200, 0x9230), perFrame, -2).bad() || !perFrame)
        return fail(L"Cannot build the functional groups");
      if (perFrame->findOrCreateSequenceItem(DCM_PlanePositionSequence, item, 0).good() && item) {
        const DPOINT3D p = slicePosition(*vol, z);
        const double position[3] = {p.x, p.y, p.z};
        putNumbers(item, DCM_ImagePositionPatient, position, 3);
      }
      if (perFrame->findOrCreateSequenceItem(DCM_FrameContentSequence, item, 0).good() && item) {
        putText(item, DcmTagKey(0x0020, 0x9056), "1");
        item->putAndInsertUint32(DcmTagKey(0x0020, 0x9057), Uint32(z + 1));
        item->putAndInsertUint32(DcmTagKey(0x0020, 0x9128), Uint32(t + 1));
      }
      if (vol->dyn) {
        const DYNCRD& dyn = vol->dyn[t];
        putStoredDyn(perFrame, dyn);
        if (!keepAcquisitionValues && isDefined(dyn.bValue) &&
            perFrame->findOrCreateSequenceItem(DcmTagKey(0x0018, 0x9117), item, 0).good() && item)
          item->putAndInsertFloat64(DcmTagKey(0x0018, 0x9087), dyn.bValue);
        if (!keepAcquisitionValues && isDefined(dyn.echoTime) && dyn.echoTime > 0 &&
            perFrame->findOrCreateSequenceItem(DcmTagKey(0x0018, 0x9114), item, 0).good() && item)
          item->putAndInsertFloat64(DcmTagKey(0x0018, 0x9082), dyn.echoTime * 1000.0);
      }
      std::vector<double> values = sliceValues(frame, z, t);
      storedOf(values);
      encodeValues(values, e, volumeLowest, bytes);
    }
  if (!insertPixels(d, bytes, e.bits)) return fail(L"Cannot build the pixel data");
  fs::path target = folder / title;
  target += extension;
  std::string reason;
  if (!writeFile(*file, target, compress, e.bits, reason))
    return fail(CString(L"Cannot write ") + CString::fromUtf8(target.string()) + L" : " + CString::fromUtf8(reason));
  return true;
}
