// NIfTI-1, NIfTI-2 and ANALYZE 7.5 through the NIfTI C library: the library reads and writes the
// headers, transforms and extensions; the voxels are read here, straight into the volume's buffer,
// after the header has been checked against the size of the data file.

#include <nifti2_io.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "TextCodec.h"
#include "TwkMem.h"
#include "io/ImageData.h"
#include "paths/FilePaths.h"

namespace twk::io {
namespace {

constexpr const char* kInfoTag = "TWKINFO\n";

struct NiftiDeleter {
  void operator()(nifti_image* nim) const {
    if (!nim) return;
    nim->data = nullptr;  // never the library's to free here
    nifti_image_free(nim);
  }
};
using NiftiPtr = std::unique_ptr<nifti_image, NiftiDeleter>;

DTYPE typeFromNifti(int datatype) {
  switch (datatype) {
    case NIFTI_TYPE_UINT8: return DTYPE_UINT8;
    case NIFTI_TYPE_INT8: return DTYPE_INT8;
    case NIFTI_TYPE_INT16: return DTYPE_INT16;
    case NIFTI_TYPE_UINT16: return DTYPE_UINT16;
    case NIFTI_TYPE_INT32: return DTYPE_INT32;
    case NIFTI_TYPE_UINT32: return DTYPE_UINT32;
    case NIFTI_TYPE_INT64: return DTYPE_INT64;
    case NIFTI_TYPE_UINT64: return DTYPE_UINT64;
    case NIFTI_TYPE_FLOAT32: return DTYPE_FLOAT32;
    case NIFTI_TYPE_FLOAT64: return DTYPE_FLOAT64;
    default: return DTYPE_UNKNOWN;
  }
}

template <class T>
T swapped(T v) {
  uint8_t b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  std::reverse(b, b + sizeof(T));
  std::memcpy(&v, b, sizeof(T));
  return v;
}

// What the raw header says, read before the library is involved so that damaged files are refused
// with a precise reason.
struct RawHeader {
  int version = 0;  // 1 (also ANALYZE) or 2
  bool swap = false;
  bool singleFile = false;
  int64_t dim[8] = {};
  int datatype = 0;
  int bitpix = 0;
  int64_t voxOffset = 0;
};

RawHeader readRawHeader(const CString& path) {
  InputFile in(path);
  uint8_t h[540] = {};
  in.read(h, 4, L"NIfTI header");
  int32_t size;
  std::memcpy(&size, h, 4);
  RawHeader r;
  if (size == 348 || swapped(size) == 348) r.version = 1;
  else if (size == 540 || swapped(size) == 540) r.version = 2;
  else throw IoError{L"not a NIfTI or ANALYZE header (wrong header size)"};
  r.swap = size != 348 && size != 540;
  const int total = r.version == 1 ? 348 : 540;
  in.read(h + 4, total - 4, L"NIfTI header");
  auto i16 = [&](int off) { int16_t v; std::memcpy(&v, h + off, 2); return r.swap ? swapped(v) : v; };
  auto i64 = [&](int off) { int64_t v; std::memcpy(&v, h + off, 8); return r.swap ? swapped(v) : v; };
  auto f32 = [&](int off) { float v; std::memcpy(&v, h + off, 4); return r.swap ? swapped(v) : v; };
  if (r.version == 1) {
    for (int i = 0; i < 8; ++i) r.dim[i] = i16(40 + 2 * i);
    r.datatype = i16(70);
    r.bitpix = i16(72);
    const float off = f32(108);
    if (!std::isfinite(off) || off < 0 || off > 1e12) throw IoError{L"invalid data offset in the header"};
    r.voxOffset = int64_t(off);
    r.singleFile = std::memcmp(h + 344, "n+1", 4) == 0;
  } else {
    r.datatype = i16(12);
    r.bitpix = i16(14);
    for (int i = 0; i < 8; ++i) r.dim[i] = i64(16 + 8 * i);
    r.voxOffset = i64(168);
    if (r.voxOffset < 0) throw IoError{L"invalid data offset in the header"};
    r.singleFile = std::memcmp(h + 4, "n+2", 4) == 0;
  }
  if (r.dim[0] < 1 || r.dim[0] > 7) throw IoError{L"invalid number of dimensions in the header"};
  for (int i = 1; i <= r.dim[0]; ++i)
    if (r.dim[i] < 1) throw IoError{L"invalid dimensions in the header"};
  for (int i = 5; i <= r.dim[0]; ++i)
    if (r.dim[i] != 1) throw IoError{L"images of more than four dimensions are not supported"};
  for (int i = 1; i <= 4; ++i)
    if (r.dim[i] > INT32_MAX) throw IoError{L"dimensions in the header are too large"};
  if (typeFromNifti(r.datatype) == DTYPE_UNKNOWN) {
    CString s;
    s.Format(L"unsupported or unknown data type %d", r.datatype);
    throw IoError{s};
  }
  return r;
}

// The file that holds the voxels: the .nii itself, or the .img beside a .hdr (gzip or not).
CString dataFileOf(const CString& path, const RawHeader& r) {
  if (r.singleFile) return path;
  CString stem = PR_GetFileName(path);
  CString ext = PR_GetFileExt(path);
  if (ext.CompareNoCase(L"gz") == 0) {
    stem = PR_GetFileName(stem);
    for (const wchar_t* e : {L".img.gz", L".IMG.gz", L".img", L".IMG"})
      if (PR_FileExists(stem + e)) return stem + e;
  }
  for (const wchar_t* e : {L".img", L".IMG", L".img.gz", L".IMG.gz"})
    if (PR_FileExists(stem + e)) return stem + e;
  throw IoError{L"the image file (.img) of the header is missing"};
}

void parseInfoExtension(const nifti_image* nim, ImageData& image) {
  for (int i = 0; i < nim->num_ext; ++i) {
    const nifti1_extension& ext = nim->ext_list[i];
    if (ext.ecode != NIFTI_ECODE_COMMENT || ext.esize < 16 || !ext.edata) continue;
    const std::string text(ext.edata, strnlen(ext.edata, size_t(ext.esize - 8)));
    if (text.rfind(kInfoTag, 0) != 0) continue;
    std::istringstream lines(text.substr(std::strlen(kInfoTag)));
    std::string line;
    std::vector<DYNCRD> dyn;
    while (std::getline(lines, line)) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "modality") image.modality = std::atoi(value.c_str());
      else if (key == "unit") image.unit = CString::fromUtf8(value);
      else if (key == "dyn") {
        std::istringstream numbers(value);
        DYNCRD d;
        double* f = &d.time;
        int k = 0;
        double v;
        while (numbers >> v) {
          f[k++] = v;
          if (k == 9) {
            dyn.push_back(d);
            k = 0;
          }
        }
      }
    }
    if (int(dyn.size()) == image.dim.t) image.dyn = std::move(dyn);
  }
}

void swapElements(uint8_t* data, int64_t count, int size) {
  if (size < 2) return;
  for (int64_t i = 0; i < count; ++i) std::reverse(data + i * size, data + (i + 1) * size);
}

void readNiftiVoxels(const CString& path, const RawHeader& raw, ImageData& image);

}  // namespace

void readNifti(const CString& path, ImageData& image, bool headerOnly, VA_RAWPARAMCALLBACK callback, bool* cancelled) {
  if (cancelled) *cancelled = false;
  const RawHeader raw = readRawHeader(path);
  NiftiPtr nim(nifti_image_read(twk::pathToNative(path).c_str(), 0));
  if (!nim) throw IoError{L"the NIfTI library cannot read the header"};

  image.dim.w = int(raw.dim[1]);
  image.dim.h = raw.dim[0] >= 2 ? int(raw.dim[2]) : 1;
  image.dim.d = raw.dim[0] >= 3 ? int(raw.dim[3]) : 1;
  image.dim.t = raw.dim[0] >= 4 ? int(raw.dim[4]) : 1;
  checkDimensions(image.dim);
  image.type = typeFromNifti(raw.datatype);
  image.bigEndian = raw.swap != (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
  image.slope = nim->scl_slope;
  image.offset = nim->scl_inter;
  if (image.slope == 0 || !std::isfinite(image.slope)) {
    image.slope = 1;
    image.offset = 0;
  }
  auto positive = [](double v) { v = std::fabs(v); return v > 0 && std::isfinite(v) ? v : 1.0; };
  image.spc.x = positive(nim->dx);
  image.spc.y = positive(nim->dy);
  image.spc.z = positive(nim->dz);
  const nifti_dmat44* xform = nim->sform_code > 0 ? &nim->sto_xyz : nim->qform_code > 0 ? &nim->qto_xyz : nullptr;
  if (xform && nim->nifti_type != NIFTI_FTYPE_ANALYZE) {
    Affine a;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) a.m[r][c] = xform->m[r][c];
    const SPC fallback = image.spc;
    geometryFromAffine(a, true, image);
    if (!image.hasGeometry) image.spc = fallback;
  }
  if (image.dim.t > 1) {
    double step = std::fabs(nim->dt);
    if (nim->time_units == NIFTI_UNITS_MSEC) step /= 1000.0;
    else if (nim->time_units == NIFTI_UNITS_USEC) step /= 1e6;
    image.timeStep = std::isfinite(step) ? step : 0;
  }
  if (nim->cal_max > nim->cal_min && std::isfinite(nim->cal_min) && std::isfinite(nim->cal_max)) {
    image.filter.level = 0.5 * (nim->cal_min + nim->cal_max);
    image.filter.width = nim->cal_max - nim->cal_min;
  }
  parseInfoExtension(nim.get(), image);

  if (nim->nifti_type == NIFTI_FTYPE_ANALYZE && callback) {
    RAW_LOADPARAMS params;
    params.dim = image.dim;
    params.spc = image.spc;
    params.modality = image.modality;
    std::copy(image.orient, image.orient + 6, params.orient);
    if (!callback(path, &params)) {
      if (cancelled) *cancelled = true;
      return;
    }
    if (params.spc.x > 0 && params.spc.y > 0 && params.spc.z > 0) image.spc = params.spc;
    image.modality = params.modality;
    std::copy(params.orient, params.orient + 6, image.orient);
  }
  if (headerOnly) {
    image.readVoxels = [path, raw](ImageData& later) { readNiftiVoxels(path, raw, later); };
    return;
  }
  readNiftiVoxels(path, raw, image);
}

namespace {

void readNiftiVoxels(const CString& path, const RawHeader& raw, ImageData& image) {
  const CString dataPath = dataFileOf(path, raw);
  InputFile in(dataPath);
  const int64_t offset = raw.singleFile ? std::max<int64_t>(raw.voxOffset, raw.version == 1 ? 348 : 540) : raw.voxOffset;
  in.skip(offset, L"data offset");
  image.allocateVoxels(&in, false);
  // Read in blocks (in parallel for plain files) and swap and check the values of each block
  // while it is still in the cache.
  const int size = PR_DataTypeSize(image.type);
  std::atomic<bool> outside{false};
  in.readBlocks(image.voxels, image.voxelCount() * size, int64_t(4) << 20, L"voxel data",
                [&](uint8_t* p, int64_t bytes) {
                  const int64_t n = bytes / size;
                  if (raw.swap) swapElements(p, n, size);
                  if (!outside.load(std::memory_order_relaxed) && outOfUnsignedRange(image.type, p, n))
                    outside = true;
                });
  image.unsignedRange = outside ? 0 : 1;
}

}  // namespace

void writeNifti(const CString& path, const WriteRequest& request, bool analyze) {
  const DIM3D& dim = request.dim;
  checkDimensions(dim);
  int datatype = NIFTI_TYPE_FLOAT64;
  if (request.bitsPerVoxel == 8 || request.bitsPerVoxel == 1) datatype = NIFTI_TYPE_UINT8;
  else if (request.bitsPerVoxel == 16) datatype = analyze ? NIFTI_TYPE_INT16 : NIFTI_TYPE_UINT16;
  else if (request.bitsPerVoxel == 32) datatype = analyze ? NIFTI_TYPE_INT32 : NIFTI_TYPE_UINT32;
  const int64_t count = int64_t(dim.w) * dim.h * dim.d * dim.t;
  const int outSize = datatype == NIFTI_TYPE_UINT8 ? 1 : datatype == NIFTI_TYPE_FLOAT64 ? 8 : request.bitsPerVoxel / 8;

  // The voxels in the file's layout (lines without padding; ROI bits as 0/1 bytes; ANALYZE has no
  // unsigned 16/32-bit type, so values above the signed range are refused).
  std::vector<uint8_t> packed;
  const uint8_t* voxels = request.values;
  const int64_t lineOut = int64_t(dim.w) * outSize;
  if (request.bitsPerVoxel == 1 || request.lineBytes != lineOut) {
    packed.resize(size_t(count * outSize));
    const int64_t lines = int64_t(dim.h) * dim.d * dim.t;
    for (int64_t l = 0; l < lines; ++l) {
      const uint8_t* src = request.values + l * request.lineBytes;
      uint8_t* dst = packed.data() + l * lineOut;
      if (request.bitsPerVoxel == 1) {
        for (int x = 0; x < dim.w; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
      } else {
        std::memcpy(dst, src, size_t(lineOut));
      }
    }
    voxels = packed.data();
  }
  if (analyze && (request.bitsPerVoxel == 16 || request.bitsPerVoxel == 32)) {
    for (int64_t i = 0; i < count; ++i) {
      const bool over = request.bitsPerVoxel == 16 ? reinterpret_cast<const uint16_t*>(voxels)[i] > 32767
                                                   : reinterpret_cast<const uint32_t*>(voxels)[i] > 2147483647u;
      if (over) throw IoError{L"integer values too large for an ANALYZE file"};
    }
  }

  int64_t dims[8] = {dim.t > 1 ? 4 : 3, dim.w, dim.h, dim.d, dim.t, 1, 1, 1};
  NiftiPtr nim(nifti_make_new_nim(dims, datatype, 0));
  if (!nim) throw IoError{L"the NIfTI library cannot make a header"};
  nim->nifti_type = analyze ? NIFTI_FTYPE_ANALYZE : NIFTI_FTYPE_NIFTI1_1;
  nim->dx = nim->pixdim[1] = request.spc.x;
  nim->dy = nim->pixdim[2] = request.spc.y;
  nim->dz = nim->pixdim[3] = request.spc.z;
  nim->xyz_units = NIFTI_UNITS_MM;
  if (dim.t > 1) {
    double step = 0;
    if (request.dyn && dim.t > 1) step = request.dyn[1].time - request.dyn[0].time;
    nim->dt = nim->pixdim[4] = step > 0 ? step : 1.0;
    nim->time_units = NIFTI_UNITS_SEC;
  }
  if (!analyze) {
    const Affine a = rasAffine(request.spc, request.orient, request.firstPos, request.lastPos, dim.d);
    nifti_dmat44 m{};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) m.m[r][c] = a.m[r][c];
    m.m[3][3] = 1;
    nim->sform_code = NIFTI_XFORM_SCANNER_ANAT;
    nim->qform_code = NIFTI_XFORM_SCANNER_ANAT;
    nim->sto_xyz = m;
    nim->sto_ijk = nifti_dmat44_inverse(m);
    double qb, qc, qd, qx, qy, qz, ddx, ddy, ddz, qfac;
    nifti_dmat44_to_quatern(m, &qb, &qc, &qd, &qx, &qy, &qz, &ddx, &ddy, &ddz, &qfac);
    nim->quatern_b = qb;
    nim->quatern_c = qc;
    nim->quatern_d = qd;
    nim->qoffset_x = qx;
    nim->qoffset_y = qy;
    nim->qoffset_z = qz;
    nim->qfac = qfac;
    nim->qto_xyz = nifti_quatern_to_dmat44(qb, qc, qd, qx, qy, qz, nim->dx, nim->dy, nim->dz, qfac);
    nim->qto_ijk = nifti_dmat44_inverse(nim->qto_xyz);
  }
  if (request.filter && request.filter->width > 0) {
    nim->cal_min = request.filter->level - request.filter->width / 2;
    nim->cal_max = request.filter->level + request.filter->width / 2;
  }
  std::snprintf(nim->descrip, sizeof(nim->descrip), "Tarnwick");
  if (!analyze) {
    std::ostringstream info;
    info << kInfoTag << "modality=" << request.modality << "\n";
    if (!request.unit.IsEmpty()) info << "unit=" << request.unit.toUtf8() << "\n";
    info << "dyndim=" << int(request.dynDim) << "\n";
    if (request.dyn) {
      info.precision(17);
      info << "dyn=";
      for (int t = 0; t < dim.t; ++t) {
        const double* f = &request.dyn[t].time;
        for (int k = 0; k < 9; ++k) info << (t || k ? " " : "") << f[k];
      }
      info << "\n";
    }
    const std::string text = info.str();
    if (nifti_add_extension(nim.get(), text.c_str(), int(text.size()) + 1, NIFTI_ECODE_COMMENT) != 0)
      throw IoError{L"the NIfTI library cannot add the header extension"};
  }

  // Written under temporary names and renamed when complete, so a failed save keeps the old file.
  const std::wstring ext = lowerExtension(path);
  const bool gz = ext.size() > 3 && ext.compare(ext.size() - 3, 3, L".gz") == 0;
  CString stem = PR_GetFileName(path);
  if (gz) stem = PR_GetFileName(stem);
  const CString tempStem = stem + CString(L".~save") + CString(std::to_wstring(::getpid()));
  const CString suffix = gz ? L".gz" : L"";
  const CString finalHeader = analyze ? stem + L".hdr" + suffix : path;
  const CString finalImage = analyze ? stem + L".img" + suffix : CString();
  const CString tempHeader = tempStem + (analyze ? L".hdr" : L".nii") + suffix;
  const CString tempImage = analyze ? tempStem + L".img" + suffix : CString();
  auto removeTemps = [&] {
    std::remove(twk::pathToNative(tempHeader).c_str());
    if (analyze) std::remove(twk::pathToNative(tempImage).c_str());
  };
  requireReplaceableImage(finalHeader);
  if (analyze) requireReplaceableImage(finalImage);
  if (nifti_set_filenames(nim.get(), twk::pathToNative(tempHeader).c_str(), 0, 1) != 0)
    throw IoError{L"invalid file name for NIfTI"};
  nim->data = const_cast<uint8_t*>(voxels);
  nifti_image_write(nim.get());
  nim->data = nullptr;

  // The library reports write errors only on its error stream: check what reached the disk.
  const int64_t dataBytes = count * outSize;
  bool ok;
  if (gz) {
    NiftiPtr check(nifti_image_read(twk::pathToNative(tempHeader).c_str(), 0));
    ok = check && check->nvox == count;
  } else if (analyze) {
    ok = PR_FileSize(tempHeader) == 348 && PR_FileSize(tempImage) == dataBytes;
  } else {
    ok = PR_FileSize(tempHeader) >= 352 + dataBytes;
  }
  if (!ok) {
    removeTemps();
    throw IoError{L"unable to write the file (disk full or no permission?)"};
  }
  bool renamed = std::rename(twk::pathToNative(tempHeader).c_str(), twk::pathToNative(finalHeader).c_str()) == 0;
  if (renamed && analyze)
    renamed = std::rename(twk::pathToNative(tempImage).c_str(), twk::pathToNative(finalImage).c_str()) == 0;
  if (!renamed) {
    removeTemps();
    throw IoError{L"unable to replace the file"};
  }
}

}  // namespace twk::io
