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

// Where the files go: the folder, the title the names are made from and the extension (with its
// dot). A path naming a folder writes there under the volume's title; the extension "dic" asks for
// one multi-frame file.
struct OutputNames {
  fs::path folder, title;
  std::string extension;
};

bool outputNames(const CVol& vol, const wchar_t* path, bool& multipleFiles, OutputNames& out, CString& error) {
  std::error_code ec;
  CString ext = PR_GetFileExt(path);
  const fs::path given(twk::pathToNative(path));
  if (fs::is_directory(given, ec)) {
    out.folder = given;
    CString t = PR_GetFileTitleName(vol.name);
    PR_FilenameReplaceInvalidChars(&t);
    out.title = twk::pathToNative(t.IsEmpty() ? CString(L"volume") : t);
    ext = L"dcm";
  } else {
    out.folder = given.parent_path();
    out.title = twk::pathToNative(PR_GetFileTitleName(path));
    if (ext.IsEmpty()) ext = L"dcm";
  }
  if (out.folder.empty()) out.folder = ".";
  if (!fs::is_directory(out.folder, ec)) {
    error = CString(L"Folder does not exist : ") + CString::fromUtf8(out.folder.string());
    return false;
  }
  if (ext.CompareNoCase(L"dic") == 0) multipleFiles = false;
  out.extension = "." + ext.toUtf8();
  return true;
}

// What every written image shares: the volume's value encoding, its window and its identifiers.
class ImageWriter {
 public:
  ImageWriter(const CVol& vol, const PR_VIEWFILT* filter, bool keepIdentifiers, bool multipleFiles)
      : vol_(vol), filter_(filter), keepIdentifiers_(keepIdentifiers) {
    const twk::VoxelElem elem = twk::voxelElemOf(vol.frame);
    ct_ = vol.modality == MODALITY_CT && vol.unit == L"HU";
    real_ = elem == twk::VoxelElem::F64;
    rescale_ = real_ || ct_;
    // Integer volumes and multi-frame files take one encoding over the whole volume; real volumes
    // written file by file take one per slice (sliceEncoding).
    if (elem == twk::VoxelElem::Bit || elem == twk::VoxelElem::U8) {
      encoding_.bits = 8;
    } else if (!real_ || !multipleFiles) {
      double lo = 1e300, hi = -1e300;
      bool whole = true;
      for (int t = 0; t < vol.T(); ++t)
        for (int z = 0; z < vol.D(); ++z) rangeOf(sliceValues(vol.frame, z, t), lo, hi, whole);
      if (real_) {
        encoding_ = realEncoding(lo, hi, whole);
        lowest_ = lo <= hi ? lo : 0;
      } else {
        encoding_.bits = hi <= 65535 ? 16 : 32;
        if (ct_) encoding_.intercept = -1024;
      }
    }
  }

  const Encoding& volumeEncoding() const { return encoding_; }
  double volumeLowest() const { return lowest_; }
  bool ct() const { return ct_; }
  bool rescale() const { return rescale_; }

  // The stored values of slice z of time point t. Integer CT voxels carry the bias: voxel v is
  // v - 1024 Hounsfield units, which the files hold as the stored value v with the intercept -1024.
  std::vector<double> storedValues(int z, int t) const {
    std::vector<double> values = sliceValues(vol_.frame, z, t);
    if (!real_ && ct_)
      for (double& v : values) v -= 1024.0;
    return values;
  }
  // The encoding of one file's values (and the value void voxels take).
  Encoding sliceEncoding(const std::vector<double>& values, double& lowest) const {
    lowest = 0;
    if (!real_) return encoding_;
    double lo = 1e300, hi = -1e300;
    bool whole = true;
    rangeOf(values, lo, hi, whole);
    lowest = lo <= hi ? lo : 0;
    return realEncoding(lo, hi, whole);
  }
  // Pixel description, window (in the written values) and identifiers of an image.
  void describe(DcmItem* d, const Encoding& e) {
    setPixelDescription(d, e, ct_, rescale_);
    if (filter_ && filter_->width > 0) {
      putNumber(d, DCM_WindowCenter, filter_->level + (ct_ && !real_ ? -1024.0 : 0.0));
      putNumber(d, DCM_WindowWidth, filter_->width);
    }
    std::string sop;
    if (!keepIdentifiers_) putUids(d, studyUid_, seriesUid_, frameUid_);
    else getText(d, DCM_SOPInstanceUID, sop);
    if (sop.empty() || usedSop_.count(sop)) sop = newUid();
    usedSop_.insert(sop);
    putText(d, DCM_SOPInstanceUID, sop);
  }

 private:
  const CVol& vol_;
  const PR_VIEWFILT* filter_;
  bool keepIdentifiers_;
  bool ct_ = false, real_ = false, rescale_ = false;
  Encoding encoding_;
  double lowest_ = 0;
  const std::string studyUid_ = newUid(), seriesUid_ = newUid(), frameUid_ = newUid();
  std::set<std::string> usedSop_;
};

// One file per slice and time point. False with the error (empty when the user stopped).
bool writeSliceFiles(const CVol& vol, ImageWriter& writer, const OutputNames& names, bool compress, bool numberedNames,
                     bool keepAcquisitionValues, twk::ProgressGuard& progress, CString& error) {
  HeaderContext context;
  const int D = vol.D(), T = vol.T();
  const int64_t n = int64_t(D) * T;
  for (int t = 0; t < T; ++t)
    for (int z = 0; z < D; ++z) {
      const int64_t i = int64_t(t) * D + z;
      std::unique_ptr<DcmFileFormat> file = sliceHeader(vol, t, z, context, !keepAcquisitionValues);
      if (!file) {
        error = L"Cannot make the DICOM header of a slice";
        return false;
      }
      DcmDataset* d = file->getDataset();
      const std::vector<double> values = writer.storedValues(z, t);
      double lowest = 0;
      const Encoding e = writer.sliceEncoding(values, lowest);
      writer.describe(d, e);
      std::string sopClass;
      if (!getText(d, DCM_SOPClassUID, sopClass)) putText(d, DCM_SOPClassUID, imageSopClass(vol.modality));
      std::vector<uint8_t> bytes;
      encodeValues(values, e, lowest, bytes);
      if (!insertPixels(d, bytes, e.bits)) {
        error = L"Cannot build the pixel data";
        return false;
      }
      char suffix[40];
      if (numberedNames) std::snprintf(suffix, sizeof suffix, "_t%04d_n%06d", t, z);
      else std::snprintf(suffix, sizeof suffix, "_%06lld", static_cast<long long>(i));
      fs::path target = names.folder / names.title;
      target += std::string(suffix) + names.extension;
      std::string reason;
      if (!writeFile(*file, target, compress, e.bits, reason)) {
        error = CString(L"Cannot write ") + CString::fromUtf8(target.string()) + L" : " + CString::fromUtf8(reason);
        return false;
      }
      if (!progress.Step(i + 1, n)) return false;
    }
  return true;
}

// The functional groups of one frame: its position, its place in the stack and in time, and its
// dynamic coordinates.
bool putFrameGroups(const CVol& vol, DcmDataset* d, int z, int t, bool keepAcquisitionValues) {
  DcmItem* perFrame = nullptr;
  DcmItem* item = nullptr;
  if (d->findOrCreateSequenceItem(DcmTagKey(0x5200, 0x9230), perFrame, -2).bad() || !perFrame) return false;
  if (perFrame->findOrCreateSequenceItem(DCM_PlanePositionSequence, item, 0).good() && item) {
    const DPOINT3D p = slicePosition(vol, z);
    const double position[3] = {p.x, p.y, p.z};
    putNumbers(item, DCM_ImagePositionPatient, position, 3);
  }
  if (perFrame->findOrCreateSequenceItem(DCM_FrameContentSequence, item, 0).good() && item) {
    putText(item, DcmTagKey(0x0020, 0x9056), "1");
    item->putAndInsertUint32(DcmTagKey(0x0020, 0x9057), Uint32(z + 1));
    item->putAndInsertUint32(DcmTagKey(0x0020, 0x9128), Uint32(t + 1));
  }
  if (vol.dyn) {
    const DYNCRD& dyn = vol.dyn[t];
    putStoredDyn(perFrame, dyn);
    if (!keepAcquisitionValues && isDefined(dyn.bValue) &&
        perFrame->findOrCreateSequenceItem(DcmTagKey(0x0018, 0x9117), item, 0).good() && item)
      item->putAndInsertFloat64(DcmTagKey(0x0018, 0x9087), dyn.bValue);
    if (!keepAcquisitionValues && isDefined(dyn.echoTime) && dyn.echoTime > 0 &&
        perFrame->findOrCreateSequenceItem(DcmTagKey(0x0018, 0x9114), item, 0).good() && item)
      item->putAndInsertFloat64(DcmTagKey(0x0018, 0x9082), dyn.echoTime * 1000.0);
  }
  return true;
}

// One multi-frame file: the first slice's header with every slice in the functional groups.
bool writeMultiFrameFile(const CVol& vol, ImageWriter& writer, const OutputNames& names, bool compress,
                         bool keepAcquisitionValues, CString& error) {
  HeaderContext context;
  const int D = vol.D(), T = vol.T();
  std::unique_ptr<DcmFileFormat> file = sliceHeader(vol, 0, 0, context, !keepAcquisitionValues);
  if (!file) {
    error = L"Cannot make the DICOM header of the volume";
    return false;
  }
  DcmDataset* d = file->getDataset();
  const Encoding& e = writer.volumeEncoding();
  writer.describe(d, e);
  putText(d, DCM_SOPClassUID, vol.modality == MODALITY_CT    ? UID_EnhancedCTImageStorage
                              : vol.modality == MODALITY_PET ? UID_EnhancedPETImageStorage
                                                             : UID_EnhancedMRImageStorage);
  putText(d, DCM_NumberOfFrames, std::to_string(int64_t(D) * T));
  DcmItem* shared = nullptr;
  DcmItem* item = nullptr;
  if (d->findOrCreateSequenceItem(DcmTagKey(0x5200, 0x9229), shared, 0).bad() || !shared) {
    error = L"Cannot build the functional groups";
    return false;
  }
  if (shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, item, 0).good() && item) {
    const double spacing[2] = {vol.spc.y, vol.spc.x};
    putNumbers(item, DCM_PixelSpacing, spacing, 2);
    putNumber(item, DCM_SliceThickness, vol.spc.z);
    putNumber(item, DCM_SpacingBetweenSlices, vol.spc.z);
  }
  if (shared->findOrCreateSequenceItem(DCM_PlaneOrientationSequence, item, 0).good() && item)
    putNumbers(item, DCM_ImageOrientationPatient, vol.orient, 6);
  if (writer.rescale() && shared->findOrCreateSequenceItem(DCM_PixelValueTransformationSequence, item, 0).good() && item) {
    putNumber(item, DCM_RescaleSlope, e.slope);
    putNumber(item, DCM_RescaleIntercept, e.intercept);
    putText(item, DCM_RescaleType, writer.ct() ? "HU" : "US");
  }
  std::vector<uint8_t> bytes;
  for (int t = 0; t < T; ++t)
    for (int z = 0; z < D; ++z) {
      if (!putFrameGroups(vol, d, z, t, keepAcquisitionValues)) {
        error = L"Cannot build the functional groups";
        return false;
      }
      encodeValues(writer.storedValues(z, t), e, writer.volumeLowest(), bytes);
    }
  if (!insertPixels(d, bytes, e.bits)) {
    error = L"Cannot build the pixel data";
    return false;
  }
  fs::path target = names.folder / names.title;
  target += names.extension;
  std::string reason;
  if (!writeFile(*file, target, compress, e.bits, reason)) {
    error = CString(L"Cannot write ") + CString::fromUtf8(target.string()) + L" : " + CString::fromUtf8(reason);
    return false;
  }
  return true;
}

}  // namespace

bool CVol::SaveToDicom(CVol* vol, bool keepIdentifiers, const wchar_t* path, const PR_VIEWFILT* filter, bool compress,
                       bool multipleFiles, bool numberedNames, bool keepAcquisitionValues, bool show) {
  auto fail = [&](const CString& why) {
    if (show && !why.IsEmpty()) twk::showNamedError(kName, why);
    return false;
  };
  if (!vol || !vol->frame || !vol->frame->data) return fail(L"Volume is required");
  if (!path || !*path) return fail(L"No file name");
  if (twk::voxelElemOf(vol->frame) == twk::VoxelElem::Invalid) return fail(L"Invalid volume");
  if (vol->W() > 65535 || vol->H() > 65535) return fail(L"The slices are too large for DICOM");
  OutputNames names;
  CString error;
  if (!outputNames(*vol, path, multipleFiles, names, error)) return fail(error);
  ImageWriter writer(*vol, filter, keepIdentifiers, multipleFiles);
  twk::ProgressGuard progress(L"Saving DICOM files", show);
  const bool written = multipleFiles
                           ? writeSliceFiles(*vol, writer, names, compress, numberedNames, keepAcquisitionValues, progress, error)
                           : writeMultiFrameFile(*vol, writer, names, compress, keepAcquisitionValues, error);
  return written || fail(error);
}
