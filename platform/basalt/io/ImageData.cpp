#include "io/ImageData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace twk::io {

int64_t checkedProduct(std::initializer_list<int64_t> factors, const wchar_t* what) {
  int64_t product = 1;
  for (int64_t f : factors) {
    if (f < 0) throw IoError{CString(what) + L" is negative"};
    if (f != 0 && product > kMaxVoxelBytes / f) throw IoError{CString(what) + L" is too large"};
    product *= f;
  }
  return product;
}

void checkDimensions(const DIM3D& dim) {
  if (dim.w < 1 || dim.h < 1 || dim.d < 1 || dim.t < 1) {
    CString s;
    s.Format(L"invalid dimensions %d x %d x %d x %d", dim.w, dim.h, dim.d, dim.t);
    throw IoError{s};
  }
  // Frames address voxels with 64-bit counts but slices with 32-bit indices.
  checkedProduct({dim.d, dim.t}, L"number of slices");
  if (int64_t(dim.d) * dim.t > INT_MAX) throw IoError{L"number of slices is too large"};
  checkedProduct({dim.w, dim.h, dim.d, dim.t, 8}, L"image size");
}

// ---------------------------------------------------------------------------------------------

InputFile::InputFile(const CString& path) {
  const std::string native = twk::pathToNative(path);
  native_ = native;
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) throw IoError{L"file does not exist or cannot be read"};
  if (!S_ISREG(st.st_mode)) throw IoError{L"not a regular file"};
  fileSize_ = int64_t(st.st_size);
  gz_ = gzopen(native.c_str(), "rb");
  if (!gz_) throw IoError{L"unable to open the file"};
  gzbuffer(gz_, 1 << 18);
  compressed_ = gzdirect(gz_) == 0;
  // gzdirect is only reliable after the first read attempt; peek one byte.
  unsigned char probe;
  int got = gzread(gz_, &probe, 1);
  compressed_ = gzdirect(gz_) == 0;
  gzrewind(gz_);
  (void)got;
}

InputFile::~InputFile() {
  if (gz_) gzclose(gz_);
}

int64_t InputFile::maxRemaining() const {
  if (!compressed_) return std::max<int64_t>(0, fileSize_ - position_);
  const int64_t bound = fileSize_ > kMaxVoxelBytes / kMaxDeflateRatio ? kMaxVoxelBytes : fileSize_ * kMaxDeflateRatio;
  return std::max<int64_t>(0, bound - position_);
}

void InputFile::require(int64_t n, const wchar_t* what) const {
  if (n < 0 || n > maxRemaining()) {
    CString s;
    if (compressed_)
      s.Format(L"%s needs %I64d bytes, more than the compressed file can hold", what, n);
    else
      s.Format(L"%s needs %I64d bytes but only %I64d remain: the file is truncated", what, n, maxRemaining());
    throw IoError{s};
  }
}

int64_t InputFile::readSome(void* buffer, int64_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < n) {
    const unsigned chunk = unsigned(std::min<int64_t>(n - done, 1 << 30));
    const int got = gzread(gz_, p + done, chunk);
    if (got < 0) {
      int code = 0;
      const char* msg = gzerror(gz_, &code);
      throw IoError{CString(L"read error: ") + CString(msg ? msg : "unknown")};
    }
    if (got == 0) break;
    done += got;
  }
  position_ += done;
  return done;
}

void InputFile::read(void* buffer, int64_t n, const wchar_t* what) {
  const int64_t got = readSome(buffer, n);
  if (got == n) return;
  CString s;
  if (compressed_) {
    int code = 0;
    gzerror(gz_, &code);
    s.Format(L"%s: the gzip stream ends early (%I64d of %I64d bytes)", what, got, n);
    if (code == Z_DATA_ERROR) s.Format(L"%s: the gzip data are corrupt", what);
  } else {
    s.Format(L"%s: the file is truncated (%I64d of %I64d bytes)", what, got, n);
  }
  throw IoError{s};
}

void InputFile::readBlocks(uint8_t* buffer, int64_t n, int64_t blockBytes, const wchar_t* what,
                           const std::function<void(uint8_t*, int64_t)>& onBlock) {
  blockBytes = std::max<int64_t>(blockBytes, 1);
  const int64_t blocks = (n + blockBytes - 1) / blockBytes;
  const int fd = compressed_ || blocks < 2 ? -1 : ::open(native_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    for (int64_t done = 0; done < n; done += blockBytes) {
      const int64_t bytes = std::min(blockBytes, n - done);
      pf_prefault(buffer + done, bytes, 0);
      read(buffer + done, bytes, what);
      onBlock(buffer + done, bytes);
    }
    return;
  }
  require(n, what);
  const int64_t start = position_;
  std::atomic<bool> failed{false};
  tbb::parallel_for(int64_t(0), blocks, [&](int64_t b) {
    if (failed.load(std::memory_order_relaxed)) return;
    const int64_t begin = b * blockBytes, bytes = std::min(blockBytes, n - begin);
    pf_prefault(buffer + begin, bytes, 0);  // each thread populates its own block
    int64_t got = 0;
    while (got < bytes) {
      const ssize_t r = ::pread(fd, buffer + begin + got, size_t(bytes - got), off_t(start + begin + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += r;
    }
    if (got < bytes) {
      failed = true;
      return;
    }
    onBlock(buffer + begin, bytes);
  });
  ::close(fd);
  if (failed) {
    // The file shrank after its size was taken, or a read failed: report it as the sequential
    // reader would.
    CString s;
    s.Format(L"%s: the file is truncated or cannot be read", what);
    throw IoError{s};
  }
  position_ = start + n;
  if (gzseek(gz_, z_off_t(position_), SEEK_SET) < 0) throw IoError{CString(what) + L": seek failed"};
}

void InputFile::skip(int64_t n, const wchar_t* what) {
  if (n < 0) throw IoError{CString(what) + L": negative offset"};
  if (!compressed_) {
    require(n, what);
    if (gzseek(gz_, z_off_t(position_ + n), SEEK_SET) < 0) throw IoError{CString(what) + L": seek failed"};
    position_ += n;
    return;
  }
  std::vector<uint8_t> sink(std::min<int64_t>(n, 1 << 20));
  int64_t left = n;
  while (left > 0) {
    const int64_t step = std::min<int64_t>(left, int64_t(sink.size()));
    read(sink.data(), step, what);
    left -= step;
  }
}

std::vector<uint8_t> InputFile::readRest(int64_t limit) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> block(1 << 16);
  for (;;) {
    const int64_t got = readSome(block.data(), int64_t(block.size()));
    if (got == 0) break;
    if (int64_t(out.size()) + got > limit) throw IoError{L"the file is larger than expected"};
    out.insert(out.end(), block.begin(), block.begin() + got);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------

ImageData::~ImageData() {
  pf_free(&voxels);
  PR_FrameDelete(&frame);
}

void ImageData::allocateVoxels(const InputFile* input, bool prefault) {
  checkDimensions(dim);
  const int size = PR_DataTypeSize(type);
  if (size == 0) throw IoError{L"unknown data type"};
  const int64_t bytes = checkedProduct({dim.w, dim.h, dim.d, dim.t, size}, L"voxel data");
  if (input) input->require(bytes, L"voxel data");
  pf_free(&voxels);
  voxels = static_cast<uint8_t*>(pf_malloc(bytes));
  if (!voxels) throw IoError{L"not enough memory for the voxel data"};
  if (prefault) pf_prefault(voxels, bytes, int64_t(4) << 20);
  else pf_advise_hugepages(voxels, bytes);
}

// ---------------------------------------------------------------------------------------------

void geometryFromAffine(const Affine& a, bool ras, ImageData& image) {
  double m[3][4];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) m[r][c] = (ras && r < 2) ? -a.m[r][c] : a.m[r][c];
  double len[3];
  for (int c = 0; c < 3; ++c) len[c] = std::sqrt(m[0][c] * m[0][c] + m[1][c] * m[1][c] + m[2][c] * m[2][c]);
  if (!(len[0] > 0 && len[1] > 0 && len[2] > 0) || !std::isfinite(len[0] + len[1] + len[2])) {
    image.hasGeometry = false;
    return;
  }
  image.spc.x = len[0];
  image.spc.y = len[1];
  image.spc.z = len[2];
  for (int r = 0; r < 3; ++r) {
    image.orient[r] = m[r][0] / len[0];
    image.orient[3 + r] = m[r][1] / len[1];
  }
  image.positions.assign(1, DPOINT3D{m[0][3], m[1][3], m[2][3]});
  image.sliceStep = DPOINT3D{m[0][2], m[1][2], m[2][2]};
  image.linearSlices = true;
  image.hasGeometry = true;
}

Affine rasAffine(const SPC& spc, const double* orient, const DPOINT3D* firstPos, const DPOINT3D* lastPos, int depth) {
  static const double kDefault[6] = {1, 0, 0, 0, 1, 0};
  const double* o = orient ? orient : kDefault;
  double row[3] = {o[0], o[1], o[2]}, col[3] = {o[3], o[4], o[5]};
  double normal[3] = {row[1] * col[2] - row[2] * col[1], row[2] * col[0] - row[0] * col[2],
                      row[0] * col[1] - row[1] * col[0]};
  if (firstPos && lastPos && depth > 1) {
    const double v[3] = {lastPos->x - firstPos->x, lastPos->y - firstPos->y, lastPos->z - firstPos->z};
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (n > 0)
      for (int i = 0; i < 3; ++i) normal[i] = v[i] / n;
  }
  const double origin[3] = {firstPos ? firstPos->x : 0, firstPos ? firstPos->y : 0, firstPos ? firstPos->z : 0};
  Affine a;
  for (int r = 0; r < 3; ++r) {
    const double sign = r < 2 ? -1 : 1;  // DICOM patient coordinates to RAS
    a.m[r][0] = sign * row[r] * spc.x;
    a.m[r][1] = sign * col[r] * spc.y;
    a.m[r][2] = sign * normal[r] * spc.z;
    a.m[r][3] = sign * origin[r];
  }
  return a;
}

// ---------------------------------------------------------------------------------------------

namespace {

// Whether any element is negative, or above the 32-bit range for 64-bit types: decides whether a
// signed file can become an integer frame. A branch-free loop over blocks, blocks in parallel.
template <class T>
bool outOfUnsignedRangeOf(const uint8_t* bytes, int64_t n) {
  const T* v = reinterpret_cast<const T*>(bytes);
  // OR of all values: the sign bit (and for 64-bit types the high word) tells without branches.
  T acc = 0;
  for (int64_t i = 0; i < n; ++i) acc |= v[i];
  return sizeof(T) == 8 ? (uint64_t(acc) >> 32) != 0 : acc < 0;
}

double halfToDouble(uint16_t h) {
  const int sign = (h >> 15) & 1, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
  double v;
  if (exponent == 0) v = std::ldexp(double(mantissa), -24);
  else if (exponent == 31) v = mantissa ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
  else v = std::ldexp(double(mantissa | 0x400), exponent - 25);
  return sign ? -v : v;
}

double elementAsDouble(DTYPE type, const uint8_t* p) {
  switch (type) {
    case DTYPE_BOOL:
    case DTYPE_UINT8: return *p;
    case DTYPE_INT8: return *reinterpret_cast<const int8_t*>(p);
    case DTYPE_INT16: { int16_t v; std::memcpy(&v, p, 2); return v; }
    case DTYPE_UINT16: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case DTYPE_INT32: { int32_t v; std::memcpy(&v, p, 4); return v; }
    case DTYPE_UINT32: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    case DTYPE_INT64: { int64_t v; std::memcpy(&v, p, 8); return double(v); }
    case DTYPE_UINT64: { uint64_t v; std::memcpy(&v, p, 8); return double(v); }
    case DTYPE_FLOAT16: { uint16_t v; std::memcpy(&v, p, 2); return halfToDouble(v); }
    case DTYPE_FLOAT32: { float v; std::memcpy(&v, p, 4); return v; }
    case DTYPE_FLOAT64: { double v; std::memcpy(&v, p, 8); return v; }
    default: return 0;
  }
}

// Elements of one stored type into frame values, scaled or not.
template <class T, class D>
void convertRun(const uint8_t* src, D* dst, int64_t n, bool scale, double slope, double offset) {
  if constexpr (std::is_same_v<T, D>) {
    if (!scale) {
      std::memcpy(dst, src, size_t(n) * sizeof(T));
      return;
    }
  }
  T v[256];
  for (int64_t i = 0; i < n; i += 256) {
    const int64_t m = std::min<int64_t>(256, n - i);
    std::memcpy(v, src + i * int64_t(sizeof(T)), size_t(m) * sizeof(T));  // stored elements need not be aligned
    if (scale)
      for (int64_t k = 0; k < m; ++k) dst[i + k] = D(double(v[k]) * slope + offset);
    else
      for (int64_t k = 0; k < m; ++k) dst[i + k] = D(v[k]);
  }
}

template <class D>
void convertHalfRun(const uint8_t* src, D* dst, int64_t n, bool scale, double slope, double offset) {
  for (int64_t i = 0; i < n; ++i) {
    const double v = elementAsDouble(DTYPE_FLOAT16, src + 2 * i);
    dst[i] = D(scale ? v * slope + offset : v);
  }
}

template <class D>
void convertElements(DTYPE type, const uint8_t* src, D* dst, int64_t n, bool scale, double slope, double offset) {
  switch (type) {
    case DTYPE_BOOL:
    case DTYPE_UINT8: return convertRun<uint8_t>(src, dst, n, scale, slope, offset);
    case DTYPE_INT8: return convertRun<int8_t>(src, dst, n, scale, slope, offset);
    case DTYPE_INT16: return convertRun<int16_t>(src, dst, n, scale, slope, offset);
    case DTYPE_UINT16: return convertRun<uint16_t>(src, dst, n, scale, slope, offset);
    case DTYPE_INT32: return convertRun<int32_t>(src, dst, n, scale, slope, offset);
    case DTYPE_UINT32: return convertRun<uint32_t>(src, dst, n, scale, slope, offset);
    case DTYPE_INT64: return convertRun<int64_t>(src, dst, n, scale, slope, offset);
    case DTYPE_UINT64: return convertRun<uint64_t>(src, dst, n, scale, slope, offset);
    case DTYPE_FLOAT16: return convertHalfRun(src, dst, n, scale, slope, offset);
    case DTYPE_FLOAT32: return convertRun<float>(src, dst, n, scale, slope, offset);
    case DTYPE_FLOAT64: return convertRun<double>(src, dst, n, scale, slope, offset);
    default: std::memset(static_cast<void*>(dst), 0, size_t(n) * sizeof(D));
  }
}

// A new frame after checking its dimensions and size; throws IoError when memory is short.
FRAME* createFrame(FRMTYPE type, int bpv, const DIM3D& dim, bool zero) {
  checkDimensions(dim);
  checkedProduct({PR_VolLineSize(dim.w, bpv), dim.h, dim.d, dim.t}, L"frame");
  FRAME* frame = PR_FrameCreate(type, bpv, dim, zero);
  if (!frame) throw IoError{L"not enough memory for the voxel data"};
  return frame;
}

// Converts n stored elements of the given type (native byte order) into the frame's elements
// first .. first + n - 1, as value * slope + offset (doubles for real frames, unsigned integers
// that must hold the values for integer frames).
void convertIntoFrame(DTYPE type, const uint8_t* src, int64_t first, int64_t n, FRAME* frame, double slope,
                      double offset) {
  // Frame lines of 8, 16, 32 and 64 bits have no padding: element i of the image is element i of
  // the frame's buffer.
  const bool scale = slope != 1 || offset != 0;
  switch (frame->bpv) {
    case 8: return convertElements(type, src, frame->data + first, n, scale, slope, offset);
    case 16: return convertElements(type, src, reinterpret_cast<uint16_t*>(frame->data) + first, n, scale, slope, offset);
    case 32: return convertElements(type, src, reinterpret_cast<uint32_t*>(frame->data) + first, n, scale, slope, offset);
    default: return convertElements(type, src, reinterpret_cast<double*>(frame->data) + first, n, scale, slope, offset);
  }
}

// A new frame whose voxels are not filled yet (asked for huge pages, not populated), for filling in
// parallel blocks that each populate their own pages. Throws IoError when memory is short.
FRAME* newUnfilledFrame(FRMTYPE type, int bpv, const DIM3D& dim) {
  FRAME* frame = createFrame(type, bpv, dim, false);
  pf_advise_hugepages(frame->data, PR_FrameMemSize(frame));
  return frame;
}

// Converts every element of the image into a fresh frame in parallel blocks; each thread populates
// the pages of its own block and fills them while the block's source is in the cache.
void fillFrame(const ImageData& image, FRAME* frame, bool scale) {
  const int size = PR_DataTypeSize(image.type);
  const int64_t n = image.voxelCount();
  const int64_t block = (int64_t(4) << 20) / 8;  // elements of 4 MiB of doubles
  const double slope = scale ? image.slope : 1, offset = scale ? image.offset : 0;
  const int elementBytes = frame->bpv / 8;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, (n + block - 1) / block, 1), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t b = r.begin(); b < r.end(); ++b) {
      const int64_t first = b * block, count = std::min(block, n - first);
      pf_prefault(frame->data + first * elementBytes, count * elementBytes, 0);
      convertIntoFrame(image.type, image.voxels + first * size, first, count, frame, slope, offset);
    }
  });
}

}  // namespace

bool outOfUnsignedRange(DTYPE type, const uint8_t* bytes, int64_t n) {
  auto check = [&](auto tag) {
    using T = decltype(tag);
    std::atomic<bool> found{false};
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 1 << 18), [&](const tbb::blocked_range<int64_t>& r) {
      if (!found.load(std::memory_order_relaxed) &&
          outOfUnsignedRangeOf<T>(bytes + r.begin() * int64_t(sizeof(T)), r.end() - r.begin()))
        found = true;
    });
    return found.load();
  };
  switch (type) {
    case DTYPE_INT8: return check(int8_t{});
    case DTYPE_INT16: return check(int16_t{});
    case DTYPE_INT32: return check(int32_t{});
    case DTYPE_INT64: return check(int64_t{});
    case DTYPE_UINT64: return check(uint64_t{});
    default: return false;
  }
}

CVol* buildVolume(ImageData& image, const CString& name) {
  checkDimensions(image.dim);
  FRAME* frame = image.frame;
  image.frame = nullptr;
  if (!frame) {
    if (!image.voxels) throw IoError{L"no voxel data"};
    const int64_t n = image.voxelCount();
    const bool scale = image.slope != 0 && std::isfinite(image.slope) && std::isfinite(image.offset) &&
                       (image.slope != 1 || image.offset != 0);
    int bpv = 64;
    if (!scale && image.type != DTYPE_FLOAT16 && image.type != DTYPE_FLOAT32 && image.type != DTYPE_FLOAT64) {
      const bool outside = image.unsignedRange >= 0 ? image.unsignedRange == 0 : outOfUnsignedRange(image.type, image.voxels, n);
      if (!outside) {
        const int size = PR_DataTypeSize(image.type);
        bpv = size <= 1 ? 8 : size == 2 ? 16 : 32;
      }
    }
    const bool real = bpv == 64;
    const bool adopt = !real && PR_DataTypeSize(image.type) * 8 == bpv && PR_VolLineSize(image.dim.w, bpv) == int64_t(image.dim.w) * bpv / 8;
    if (adopt) {
      // The stored layout already is the frame's: hand the buffer over instead of copying it.
      frame = static_cast<FRAME*>(pf_calloc(sizeof(FRAME)));
      if (!frame) throw IoError{L"not enough memory"};
      frame->type = FRM_INT;
      frame->dim = image.dim;
      frame->bpv = bpv;
      frame->lineBytes = int64_t(image.dim.w) * bpv / 8;
      frame->data = image.voxels;
      image.voxels = nullptr;
    } else {
      frame = newUnfilledFrame(real ? FRM_REAL : FRM_INT, bpv, image.dim);
      fillFrame(image, frame, scale);
      pf_free(&image.voxels);
    }
  }

  CVol* vol = new CVol;
  vol->frame = frame;
  vol->name = name;
  vol->spc = image.spc;
  vol->modality = image.modality;
  vol->unit = image.unit;
  std::copy(image.orient, image.orient + 6, vol->orient);
  const int depth = frame->dim.d, times = frame->dim.t;
  if (image.hasGeometry && image.linearSlices && !image.positions.empty()) {
    vol->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(depth) * sizeof(DPOINT3D)));
    if (vol->imgPos) {
      const DPOINT3D o = image.positions[0], s = image.sliceStep;
      for (int k = 0; k < depth; ++k) vol->imgPos[k] = DPOINT3D{o.x + k * s.x, o.y + k * s.y, o.z + k * s.z};
    }
  } else if (image.hasGeometry && int(image.positions.size()) >= depth) {
    vol->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(depth) * sizeof(DPOINT3D)));
    if (vol->imgPos) std::copy(image.positions.begin(), image.positions.begin() + depth, vol->imgPos);
  }
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(times) * sizeof(DYNCRD)));
  if (vol->dyn) {
    if (int(image.dyn.size()) == times) {
      std::copy(image.dyn.begin(), image.dyn.end(), vol->dyn);
    } else {
      const double step = image.timeStep > 0 ? image.timeStep : 1.0;
      for (int t = 0; t < times; ++t) {
        vol->dyn[t].time = t * step;
        vol->dyn[t].timeEnd = (t + 1) * step;
      }
    }
  }
  if (!vol->dyn || (image.hasGeometry && !vol->imgPos)) {
    delete vol;
    throw IoError{L"not enough memory"};
  }
  return vol;
}

FRAME* newFrame(FRMTYPE type, int bpv, const DIM3D& dim) { return createFrame(type, bpv, dim, true); }

void reportFailure(bool show, const wchar_t* function, const CString& path, const CString& what) {
  if (show) twk::showNamedError(function, path + L" : " + what);
}

std::wstring lowerExtension(const CString& path) {
  CString title = PR_GetFileTitle(path);
  title.MakeLower();
  std::wstring t = title.wstr();
  auto ends = [&](const wchar_t* tail) {
    const size_t n = std::wcslen(tail);
    return t.size() > n && t.compare(t.size() - n, n, tail) == 0;
  };
  for (const wchar_t* compound : {L".nii.gz", L".img.gz", L".hdr.gz", L".nrrd.gz", L".npy.gz", L".im.gz"})
    if (ends(compound)) return compound + 1;
  return PR_GetFileExt(title).wstr();
}

}  // namespace twk::io
