#include "io/ImageFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "TextCodec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageData.h"
#include "paths/FilePaths.h"

using namespace twk::io;

namespace {

enum class Format { Unknown, Dicom, Nifti, Mgh, Nrrd, Numpy, Im, TimeSet };

// The format of a file by its (decompressed) first bytes, the extension deciding only where the
// content cannot (MGH has no signature).
Format detectFormat(const CString& path, bool* gzip = nullptr) {
  InputFile in(path);
  if (gzip) *gzip = in.compressed();
  uint8_t head[132] = {};
  const int64_t got = in.readSome(head, sizeof(head));
  if (got >= 6 && std::memcmp(head, "\x93NUMPY", 6) == 0) return Format::Numpy;
  if (got >= 7 && std::memcmp(head, "NRRD000", 7) == 0) return Format::Nrrd;
  if (got >= 8 && std::memcmp(head, "TWKIM01\n", 8) == 0) return Format::Im;
  if (got >= 9 && std::memcmp(head, "TWKTIME 1", 9) == 0) return Format::TimeSet;
  if (got >= 132 && std::memcmp(head + 128, "DICM", 4) == 0) return Format::Dicom;
  if (got >= 4) {
    int32_t size;
    std::memcpy(&size, head, 4);
    const int32_t swappedSize = int32_t(__builtin_bswap32(uint32_t(size)));
    if (size == 348 || size == 540 || swappedSize == 348 || swappedSize == 540) return Format::Nifti;
  }
  const std::wstring ext = lowerExtension(path);
  if ((ext == L"mgh" || ext == L"mgz") && got >= 4 && head[0] == 0 && head[1] == 0 && head[2] == 0 && head[3] == 1)
    return Format::Mgh;
  return Format::Unknown;
}

// A path whose header is a .hdr of an ANALYZE/NIfTI pair may be given by its .img name.
CString headerPathOf(const CString& path) {
  const std::wstring ext = lowerExtension(path);
  if (ext == L"img" || ext == L"img.gz") {
    CString stem = PR_GetFileName(path);
    if (ext == L"img.gz") stem = PR_GetFileName(stem);
    for (const wchar_t* e : {L".hdr", L".HDR", L".hdr.gz"})
      if (PR_FileExists(stem + e)) return stem + e;
  }
  return path;
}

}  // namespace

void twk::io::requireReplaceableImage(const CString& path) {
  if (!PR_FileExists(path)) return;
  Format f = Format::Unknown;
  try {
    f = detectFormat(path);
    // The voxel file of an ANALYZE pair has no signature: its header beside it decides.
    if (f == Format::Unknown && headerPathOf(path) != path) f = detectFormat(headerPathOf(path));
  } catch (const IoError&) {
    f = Format::Unknown;
  }
  if (f == Format::Unknown || f == Format::Dicom)
    throw IoError{L"the file exists and is not an image file: not overwritten"};
}

namespace {

void readImage(const CString& path, Format format, ImageData& image, bool headerOnly, VA_RAWPARAMCALLBACK callback,
               bool* cancelled) {
  switch (format) {
    case Format::Nifti: readNifti(path, image, headerOnly, callback, cancelled); break;
    case Format::Mgh: readMgh(path, image, headerOnly); break;
    case Format::Nrrd: readNrrd(path, image, headerOnly); break;
    case Format::Im: readIm(path, image, headerOnly); break;
    case Format::Numpy: {
      int ndim = 0;
      uint64_t shape[VA_NUMPY_MAXDIMS] = {};
      readNumpy(path, image, headerOnly, &ndim, shape);
      if (ndim < 2 || ndim > 4 || image.dim.w < 1) throw IoError{L"a NumPy volume needs 2 to 4 dimensions"};
      if (PR_IsComplexType(image.type)) throw IoError{L"complex arrays must be converted before they become volumes"};
      break;
    }
    case Format::Dicom: throw IoError{L"DICOM files are loaded through the DICOM loader"};
    default: throw IoError{L"unknown or unsupported image file format"};
  }
}

bool isTimeSet(const CString& path) {
  try {
    return detectFormat(path) == Format::TimeSet;
  } catch (const IoError&) {
    return false;
  }
}

VA_IMAGEFORMAT imageFormatOf(Format f) {
  switch (f) {
    case Format::Dicom: return VA_IMAGE_DICOM;
    case Format::Nifti: return VA_IMAGE_NIFTI;
    case Format::Mgh: return VA_IMAGE_MGH;
    case Format::Nrrd: return VA_IMAGE_NRRD;
    case Format::Numpy: return VA_IMAGE_NUMPY;
    case Format::Im: return VA_IMAGE_IM;
    case Format::TimeSet: return VA_IMAGE_TIMESET;
    default: return VA_IMAGE_UNKNOWN;
  }
}

Format formatOf(VA_IMAGEFORMAT f) {
  switch (f) {
    case VA_IMAGE_DICOM: return Format::Dicom;
    case VA_IMAGE_NIFTI: return Format::Nifti;
    case VA_IMAGE_MGH: return Format::Mgh;
    case VA_IMAGE_NRRD: return Format::Nrrd;
    case VA_IMAGE_NUMPY: return Format::Numpy;
    case VA_IMAGE_IM: return Format::Im;
    case VA_IMAGE_TIMESET: return Format::TimeSet;
    default: return Format::Unknown;
  }
}

bool isTimeSetFile(const VA_IMAGEPATH& file) { return file.format == VA_IMAGE_TIMESET && file.fault.IsEmpty(); }

}  // namespace

VA_IMAGEPATH VA_ClassifyImagePath(const wchar_t* path) {
  VA_IMAGEPATH file;
  file.path = path ? path : L"";
  file.headerPath = headerPathOf(file.path);
  Format format = Format::Unknown;
  try {
    format = detectFormat(file.path, &file.compressed);
  } catch (const IoError& e) {
    file.fault = e.what;
  }
  // The voxel file of a pair has no signature: the header beside it decides.
  if (file.headerPath != file.path) {
    file.fault.Empty();
    try {
      format = detectFormat(file.headerPath);
    } catch (const IoError& e) {
      file.fault = e.what;
    }
  }
  file.format = imageFormatOf(format);
  file.timeSetBeside = VA_TimeNifti4D_IsPairPresent(file.path);
  return file;
}

VA_IMAGEPATH VA_DecompressedImagePath(const VA_IMAGEPATH& file, const wchar_t* copy) {
  // A pair named by its compressed voxel file has a header only beside the original: the copy is
  // what its own bytes say.
  if (file.headerPath != file.path || !file.fault.IsEmpty()) return VA_ClassifyImagePath(copy);
  VA_IMAGEPATH out = file;
  out.path = out.headerPath = copy ? copy : L"";
  out.compressed = false;
  out.timeSetBeside = false;
  return out;
}

struct VA_ImageReader::Header {
  ImageData image;
};

VA_ImageReader::VA_ImageReader(VA_IMAGEPATH file) : file_(std::move(file)) {}

VA_ImageReader::~VA_ImageReader() = default;

bool VA_ImageReader::ReadHeader(DIM3D* dim, SPC* spc, const wchar_t* function, bool report) {
  try {
    if (isTimeSetFile(file_)) {
      readTimeSet(file_.path, true, dim, spc, report);
      return true;
    }
    if (!header_) {
      if (!file_.fault.IsEmpty()) throw IoError{file_.fault};
      auto header = std::make_unique<Header>();
      readImage(file_.headerPath, formatOf(file_.format), header->image, true, nullptr, nullptr);
      header_ = std::move(header);
    }
    checkDimensions(header_->image.dim);
    if (dim) *dim = header_->image.dim;
    if (spc) *spc = header_->image.spc;
    return true;
  } catch (const IoError& e) {
    reportFailure(report, function, file_.path, e.what);
    return false;
  }
}

CVol* VA_ImageReader::Load(PR_VIEWFILT* filter, VA_RAWPARAMCALLBACK callback, bool* bigEndian, const wchar_t* function,
                           bool show) {
  if (filter) *filter = PR_VIEWFILT{};
  try {
    if (isTimeSetFile(file_)) return readTimeSet(file_.path, false, nullptr, nullptr, show);
    std::unique_ptr<Header> header = std::move(header_);
    if (header && header->image.readVoxels) {
      // The header was read at the door: only the voxels are left.
      auto readVoxels = std::move(header->image.readVoxels);
      header->image.readVoxels = nullptr;
      readVoxels(header->image);
    } else {
      if (!file_.fault.IsEmpty()) throw IoError{file_.fault};
      header = std::make_unique<Header>();
      bool cancelled = false;
      readImage(file_.headerPath, formatOf(file_.format), header->image, false, callback, &cancelled);
      if (cancelled) return nullptr;
    }
    ImageData& image = header->image;
    CVol* vol = buildVolume(image, file_.path);
    if (filter) *filter = image.filter;
    if (bigEndian) *bigEndian = image.bigEndian;
    return vol;
  } catch (const IoError& e) {
    reportFailure(show, function, file_.path, e.what);
    return nullptr;
  }
}

int VA_RawFileType(const wchar_t* path) {
  const std::wstring ext = lowerExtension(path ? path : L"");
  if (ext == L"im") return RAWFILE_IM;
  if (ext == L"img" || ext == L"hdr") return RAWFILE_ANALYZE;
  if (ext == L"nii" || ext == L"nii.gz") return RAWFILE_NIFTI;
  return RAWFILE_UNKNOWN;
}

bool VA_IsMghFile(const wchar_t* path) {
  if (!path) return false;
  try {
    return detectFormat(path) == Format::Mgh;
  } catch (const IoError&) {
    return false;
  }
}

bool VA_GetImageFileType(const wchar_t* path, int* kind) {
  if (!path || !kind) return false;
  *kind = 0;
  try {
    bool gzip = false;
    const Format f = detectFormat(path, &gzip);
    switch (f) {
      case Format::Dicom: *kind = 1; break;
      case Format::Nifti: {
        ImageData image;
        readNifti(headerPathOf(path), image, true, nullptr, nullptr);
        const std::wstring ext = lowerExtension(path);
        *kind = (ext == L"hdr" || ext == L"img") && !PR_FileExists(PR_GetFileName(path) + L".nii") ? 3 : 2;
        // A pair whose header carries the NIfTI magic is NIfTI, not ANALYZE.
        if (*kind == 3) {
          FILE* fp = std::fopen(twk::pathToNative(headerPathOf(path)).c_str(), "rb");
          char magic[4] = {};
          if (fp && std::fseek(fp, 344, SEEK_SET) == 0 && std::fread(magic, 1, 4, fp) == 4 && std::memcmp(magic, "ni1", 4) == 0) *kind = 2;
          if (fp) std::fclose(fp);
        }
        break;
      }
      case Format::Mgh: *kind = 4; break;
      case Format::Nrrd: *kind = 5; break;
      case Format::Numpy: *kind = 6; break;
      case Format::Im: *kind = 7; break;
      case Format::TimeSet: *kind = 8; break;
      default: *kind = gzip ? 9 : 0; break;
    }
    return true;
  } catch (const IoError&) {
    return false;
  }
}

bool VA_TimeNifti4D_IsPairPresent(const wchar_t* path) {
  if (VA_RawFileType(path) != RAWFILE_NIFTI) return false;
  CString stem = PR_GetFileName(path);
  if (lowerExtension(path) == L"nii.gz") stem = PR_GetFileName(stem);
  return isTimeSet(stem + L".time");
}

bool VA_RAW_FileInfo(const wchar_t* path, DIM3D* dim, SPC* spc, bool report) {
  if (!path) return false;
  VA_ImageReader reader(VA_ClassifyImagePath(path));
  return reader.ReadHeader(dim, spc, L"VA_RAW_FileInfo", report);
}

CVol* VA_RAW_LoadVolume(const wchar_t* path, PR_VIEWFILT* filter, VA_RAWPARAMCALLBACK callback, bool* bigEndian,
                        bool show) {
  if (filter) *filter = PR_VIEWFILT{};
  if (!path) return nullptr;
  VA_ImageReader reader(VA_ClassifyImagePath(path));
  return reader.Load(filter, callback, bigEndian, L"VA_RAW_LoadVolume", show);
}

CVol* VA_RAW_CreateVol(const wchar_t* path, bool show) { return VA_RAW_LoadVolume(path, nullptr, nullptr, nullptr, show); }

namespace {

bool saveRequest(const wchar_t* path, WriteRequest& r, int mode, bool show) {
  try {
    if (!path || !*path) throw IoError{L"no file name"};
    if (!r.values) throw IoError{L"no voxel data"};
    const std::wstring ext = lowerExtension(path);
    const bool timeSet = ext == L"time";
    int kind = VA_RawFileType(path);
    if (timeSet) {
      kind = mode >= 5 && mode <= 7 ? mode - 4 : mode >= 1 && mode <= 3 ? mode : RAWFILE_NIFTI;
      writeTimeSet(path, r, kind);
      return true;
    }
    if (kind == RAWFILE_UNKNOWN && mode >= 1 && mode <= 3) kind = mode;
    switch (kind) {
      case RAWFILE_IM: writeIm(path, r); break;
      case RAWFILE_ANALYZE: writeNifti(path, r, true); break;
      case RAWFILE_NIFTI: writeNifti(path, r, false); break;
      default: throw IoError{L"Invalid RAW file type"};
    }
    return true;
  } catch (const IoError& e) {
    reportFailure(show, L"VA_RAW_VolSaveFile", path ? path : L"", e.what);
    return false;
  }
}

void fillGeometry(WriteRequest& r, const SPC* spc, const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos,
                  int modality, const wchar_t* unit, const PR_VIEWFILT* filter) {
  if (spc) r.spc = *spc;
  r.orient = orient;
  r.firstPos = firstPos;
  r.lastPos = lastPos;
  r.modality = modality;
  r.unit = unit ? unit : L"";
  r.filter = filter;
}

}  // namespace

bool VA_RAW_VolSaveFile(const wchar_t* path, const FRAME* frame, int timeIndex, const SPC* spc, const double* orient,
                        const DPOINT3D* firstPos, const DPOINT3D* lastPos, int modality, int mode, const wchar_t* unit,
                        const PR_VIEWFILT* filter, const DYNCRD* dyn, bool show) {
  if (!frame || !frame->data || timeIndex < -1 || timeIndex >= frame->dim.t) {
    reportFailure(show, L"VA_RAW_VolSaveFile", path ? path : L"", L"invalid frame or time point");
    return false;
  }
  WriteRequest r;
  r.kind = frame->type;
  r.bitsPerVoxel = frame->bpv;
  r.lineBytes = frame->lineBytes;
  r.dim = frame->dim;
  const int64_t perTime = frame->lineBytes * frame->dim.h * frame->dim.d;
  r.values = frame->data + (timeIndex > 0 ? timeIndex * perTime : 0);
  if (timeIndex >= 0) r.dim.t = 1;
  r.dyn = dyn ? dyn + std::max(timeIndex, 0) : nullptr;
  fillGeometry(r, spc, orient, firstPos, lastPos, modality, unit, filter);
  return saveRequest(path, r, mode, show);
}

bool VA_RAW_VolSaveFile(const wchar_t* path, const void* values, int bitsPerVoxel, const DIM3D* dim, int timeIndex,
                        const SPC* spc, const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos,
                        int modality, int mode, const wchar_t* unit, const PR_VIEWFILT* filter, const DYNCRD* dyn,
                        bool show) {
  if (!dim || (bitsPerVoxel != 8 && bitsPerVoxel != 16 && bitsPerVoxel != 32 && bitsPerVoxel != 64) || timeIndex < -1 ||
      timeIndex >= dim->t) {
    reportFailure(show, L"VA_RAW_VolSaveFile", path ? path : L"", L"invalid dimensions, bits per voxel or time point");
    return false;
  }
  WriteRequest r;
  r.kind = bitsPerVoxel == 64 ? FRM_REAL : FRM_INT;
  r.bitsPerVoxel = bitsPerVoxel;
  r.lineBytes = int64_t(dim->w) * bitsPerVoxel / 8;
  r.dim = *dim;
  const int64_t perTime = r.lineBytes * dim->h * dim->d;
  r.values = static_cast<const uint8_t*>(values) + (timeIndex > 0 ? timeIndex * perTime : 0);
  if (timeIndex >= 0) r.dim.t = 1;
  r.dyn = dyn ? dyn + std::max(timeIndex, 0) : nullptr;
  fillGeometry(r, spc, orient, firstPos, lastPos, modality, unit, filter);
  return saveRequest(path, r, mode, show);
}

bool VA_NiftiSaveVol(const wchar_t* path, const void* values, int bitsPerVoxel, const DIM3D* dim, const SPC* spc,
                     const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos, int modality,
                     const PR_VIEWFILT* filter, bool show) {
  return VA_RAW_VolSaveFile(path, values, bitsPerVoxel, dim, -1, spc, orient, firstPos, lastPos, modality, RAWFILE_NIFTI,
                            L"", filter, nullptr, show);
}
