// NumPy .npy arrays (format versions 1 to 3), optionally gzip-compressed; the array operations that
// turn them into volumes (axis order, complex conversion, inverse Fourier transform).

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <string>
#include <unsupported/Eigen/FFT>
#include <vector>

#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageData.h"
#include "paths/ValueText.h"

namespace twk::io {
namespace {

DTYPE typeFromDescr(const std::string& descr, bool* swap) {
  if (descr.size() < 3) return DTYPE_UNKNOWN;
  const char order = descr[0], kind = descr[1];
  const int size = std::atoi(descr.c_str() + 2);
  *swap = order == '>';
  if (order != '<' && order != '>' && order != '|' && order != '=') return DTYPE_UNKNOWN;
  switch (kind) {
    case 'b': return size == 1 ? DTYPE_BOOL : DTYPE_UNKNOWN;
    case 'i': return size == 1 ? DTYPE_INT8 : size == 2 ? DTYPE_INT16 : size == 4 ? DTYPE_INT32 : size == 8 ? DTYPE_INT64 : DTYPE_UNKNOWN;
    case 'u': return size == 1 ? DTYPE_UINT8 : size == 2 ? DTYPE_UINT16 : size == 4 ? DTYPE_UINT32 : size == 8 ? DTYPE_UINT64 : DTYPE_UNKNOWN;
    case 'f': return size == 2 ? DTYPE_FLOAT16 : size == 4 ? DTYPE_FLOAT32 : size == 8 ? DTYPE_FLOAT64 : DTYPE_UNKNOWN;
    case 'c': return size == 8 ? DTYPE_COMPLEX64 : size == 16 ? DTYPE_COMPLEX128 : size == 32 ? DTYPE_COMPLEX256 : DTYPE_UNKNOWN;
    default: return DTYPE_UNKNOWN;
  }
}

// The value of a key of the header dictionary, as written by numpy: 'descr': '<i2', 'shape': (4, 3).
std::string dictValue(const std::string& header, const char* key) {
  const std::string quoted = std::string("'") + key + "'";
  size_t at = header.find(quoted);
  if (at == std::string::npos) throw IoError{CString(L"header has no ") + CString(key)};
  at = header.find(':', at + quoted.size());
  if (at == std::string::npos) throw IoError{L"invalid header dictionary"};
  ++at;
  while (at < header.size() && header[at] == ' ') ++at;
  if (at >= header.size()) throw IoError{L"invalid header dictionary"};
  if (header[at] == '\'') {
    const size_t end = header.find('\'', at + 1);
    if (end == std::string::npos) throw IoError{L"invalid header dictionary"};
    return header.substr(at + 1, end - at - 1);
  }
  if (header[at] == '(') {
    const size_t end = header.find(')', at);
    if (end == std::string::npos) throw IoError{L"invalid header dictionary"};
    return header.substr(at + 1, end - at - 1);
  }
  const size_t end = header.find_first_of(",}", at);
  return header.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Generic transpose of a Fortran-ordered array (first axis fastest) into C order (last fastest).
void fortranToC(uint8_t* data, int ndim, const uint64_t* shape, int size) {
  int64_t n = 1;
  for (int i = 0; i < ndim; ++i) n *= int64_t(shape[i]);
  if (ndim < 2 || n < 2) return;
  std::vector<uint8_t> copy(data, data + n * size);
  std::vector<int64_t> fstride(static_cast<size_t>(ndim));
  fstride[0] = 1;
  for (int i = 1; i < ndim; ++i) fstride[size_t(i)] = fstride[size_t(i - 1)] * int64_t(shape[i - 1]);
  std::vector<uint64_t> index(size_t(ndim), 0);
  for (int64_t c = 0; c < n; ++c) {
    int64_t f = 0;
    for (int i = 0; i < ndim; ++i) f += int64_t(index[size_t(i)]) * fstride[size_t(i)];
    std::memcpy(data + c * size, copy.data() + f * size, size_t(size));
    for (int i = ndim - 1; i >= 0; --i) {
      if (++index[size_t(i)] < shape[i]) break;
      index[size_t(i)] = 0;
    }
  }
}

}  // namespace

void readNumpy(const CString& path, ImageData& image, bool headerOnly, int* ndimOut, uint64_t* shapeOut) {
  auto input = std::make_shared<InputFile>(path);
  InputFile& in = *input;
  uint8_t magic[8];
  in.read(magic, 8, L"NumPy header");
  if (std::memcmp(magic, "\x93NUMPY", 6) != 0) throw IoError{L"not a NumPy .npy file"};
  const int major = magic[6];
  if (major < 1 || major > 3) throw IoError{L"unsupported .npy format version"};
  int64_t headerLength = 0;
  if (major == 1) {
    uint8_t b[2];
    in.read(b, 2, L"NumPy header");
    headerLength = b[0] | (b[1] << 8);
  } else {
    uint8_t b[4];
    in.read(b, 4, L"NumPy header");
    headerLength = int64_t(b[0]) | int64_t(b[1]) << 8 | int64_t(b[2]) << 16 | int64_t(b[3]) << 24;
  }
  if (headerLength > (1 << 20)) throw IoError{L"NumPy header too long"};
  in.require(headerLength, L"NumPy header");
  std::string header(size_t(headerLength), '\0');
  in.read(header.data(), headerLength, L"NumPy header");

  bool swap = false;
  const std::string descr = dictValue(header, "descr");
  image.type = typeFromDescr(descr, &swap);
  if (image.type == DTYPE_UNKNOWN) throw IoError{CString(L"unsupported or unknown data type ") + CString(descr.c_str())};
  const bool fortran = dictValue(header, "fortran_order").find("True") != std::string::npos;
  std::vector<uint64_t> shape;
  {
    std::string s = dictValue(header, "shape");
    std::replace(s.begin(), s.end(), ',', ' ');
    size_t at = 0;
    while (at < s.size()) {
      while (at < s.size() && s[at] == ' ') ++at;
      if (at >= s.size()) break;
      size_t end = at;
      while (end < s.size() && s[end] != ' ') ++end;
      const std::string token = s.substr(at, end - at);
      if (token.find_first_not_of("0123456789L") != std::string::npos || token.size() > 12)
        throw IoError{L"invalid shape in the header"};
      shape.push_back(std::stoull(token));
      at = end;
    }
  }
  if (shape.size() > size_t(VA_NUMPY_MAXDIMS)) throw IoError{L"too many dimensions"};
  const int size = PR_DataTypeSize(image.type);
  int64_t count = 1;
  for (uint64_t s : shape) count = checkedProduct({count, int64_t(s)}, L"array size");
  const int64_t bytes = checkedProduct({count, size}, L"array data");
  if (ndimOut) *ndimOut = int(shape.size());
  if (shapeOut) std::copy(shape.begin(), shape.end(), shapeOut);

  // As a volume the last axis is x: (t, z, y, x) with missing leading axes of extent 1.
  if (shape.size() >= 1 && shape.size() <= 4) {
    uint64_t s4[4] = {1, 1, 1, 1};
    std::copy(shape.begin(), shape.end(), s4 + (4 - shape.size()));
    auto fits = [](uint64_t v) { return v >= 1 && v <= uint64_t(INT32_MAX); };
    if (fits(s4[0]) && fits(s4[1]) && fits(s4[2]) && fits(s4[3])) {
      image.dim.t = int(s4[0]);
      image.dim.d = int(s4[1]);
      image.dim.h = int(s4[2]);
      image.dim.w = int(s4[3]);
    }
  }
  auto readVoxels = [input, bytes, size, count, swap, fortran, shape](ImageData& target) {
    input->require(bytes, L"array data");
    pf_free(&target.voxels);
    target.voxels = static_cast<uint8_t*>(pf_malloc(std::max<int64_t>(bytes, 1)));
    if (!target.voxels) throw IoError{L"not enough memory for the array data"};
    input->read(target.voxels, bytes, L"array data");
    const int unit = PR_IsComplexType(target.type) ? size / 2 : size;
    if (swap && unit > 1)
      for (int64_t i = 0; i < count * (size / unit); ++i)
        std::reverse(target.voxels + i * unit, target.voxels + (i + 1) * unit);
    if (fortran) fortranToC(target.voxels, int(shape.size()), shape.data(), size);
  };
  if (headerOnly) {
    image.readVoxels = readVoxels;
    return;
  }
  readVoxels(image);
}

}  // namespace twk::io

using namespace twk::io;

const wchar_t* PR_GetDataTypeName(DTYPE type) {
  switch (type) {
    case DTYPE_BOOL: return L"bool";
    case DTYPE_INT8: return L"int8";
    case DTYPE_UINT8: return L"uint8";
    case DTYPE_INT16: return L"int16";
    case DTYPE_UINT16: return L"uint16";
    case DTYPE_INT32: return L"int32";
    case DTYPE_UINT32: return L"uint32";
    case DTYPE_INT64: return L"int64";
    case DTYPE_UINT64: return L"uint64";
    case DTYPE_FLOAT16: return L"float16";
    case DTYPE_FLOAT32: return L"float32";
    case DTYPE_FLOAT64: return L"float64";
    case DTYPE_COMPLEX64: return L"complex64";
    case DTYPE_COMPLEX128: return L"complex128";
    case DTYPE_COMPLEX256: return L"complex256";
    default: return L"unknown";
  }
}

int PR_DataTypeSize(DTYPE type) {
  switch (type) {
    case DTYPE_BOOL:
    case DTYPE_INT8:
    case DTYPE_UINT8: return 1;
    case DTYPE_INT16:
    case DTYPE_UINT16:
    case DTYPE_FLOAT16: return 2;
    case DTYPE_INT32:
    case DTYPE_UINT32:
    case DTYPE_FLOAT32: return 4;
    case DTYPE_INT64:
    case DTYPE_UINT64:
    case DTYPE_FLOAT64:
    case DTYPE_COMPLEX64: return 8;
    case DTYPE_COMPLEX128: return 16;
    case DTYPE_COMPLEX256: return 32;
    default: return 0;
  }
}

bool PR_IsComplexType(DTYPE type) { return type == DTYPE_COMPLEX64 || type == DTYPE_COMPLEX128 || type == DTYPE_COMPLEX256; }

bool VA_NumpyLoad(const wchar_t* path, int* ndim, uint64_t shape[VA_NUMPY_MAXDIMS], DTYPE* type, void** data, bool show) {
  if (!path || !ndim || !shape || !type || !data) return false;
  *data = nullptr;
  try {
    ImageData image;
    uint64_t s[VA_NUMPY_MAXDIMS] = {};
    int n = 0;
    readNumpy(path, image, false, &n, s);
    *ndim = n;
    std::copy(s, s + VA_NUMPY_MAXDIMS, shape);
    *type = image.type;
    *data = image.voxels;
    image.voxels = nullptr;
    return true;
  } catch (const IoError& e) {
    reportFailure(show, L"VA_NumpyLoad", path, e.what);
    return false;
  }
}

bool PR_DimFromShapeAndOrder(const uint64_t shape[4], const wchar_t* order, int* w, int* h, int* d, int* t) {
  if (!shape || !PR_StringIsPermutation(order, L"tzyx")) return false;
  for (int i = 0; i < 4; ++i) {
    if (shape[i] < 1 || shape[i] > uint64_t(INT32_MAX)) return false;
    int* target = order[i] == L'x' ? w : order[i] == L'y' ? h : order[i] == L'z' ? d : t;
    if (target) *target = int(shape[i]);
  }
  return true;
}

bool PR_NormalizeAxisOrder(void* data, DTYPE type, const uint64_t shape[4], const wchar_t* order) {
  int dims[4];  // W, H, D, T
  if (!data || !PR_DimFromShapeAndOrder(shape, order, &dims[0], &dims[1], &dims[2], &dims[3])) return false;
  if (std::wstring(order) == L"tzyx") return true;
  const int size = PR_DataTypeSize(type);
  if (size == 0) return false;
  // Stride in the source of each target axis x, y, z, t.
  int64_t sourceStride[4] = {};
  int64_t stride = 1;
  for (int i = 3; i >= 0; --i) {
    const int axis = order[i] == L'x' ? 0 : order[i] == L'y' ? 1 : order[i] == L'z' ? 2 : 3;
    sourceStride[axis] = stride;
    stride *= int64_t(shape[i]);
  }
  const int64_t bytes = stride * size;
  auto* source = static_cast<uint8_t*>(pf_malloc(bytes));
  if (!source) return false;
  std::memcpy(source, data, size_t(bytes));
  auto* target = static_cast<uint8_t*>(data);
  const int64_t planes = int64_t(dims[2]) * dims[3];
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, planes), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t p = r.begin(); p < r.end(); ++p) {
      const int64_t z = p % dims[2], t = p / dims[2];
      for (int64_t y = 0; y < dims[1]; ++y) {
        const int64_t base = z * sourceStride[2] + t * sourceStride[3] + y * sourceStride[1];
        uint8_t* out = target + ((p * dims[1] + y) * dims[0]) * size;
        for (int64_t x = 0; x < dims[0]; ++x) std::memcpy(out + x * size, source + (base + x * sourceStride[0]) * size, size_t(size));
      }
    }
  });
  pf_free(&source);
  return true;
}

namespace {

template <class T>
void complexToReal(const void* data, double* out, int64_t count, int mode) {
  const T* v = static_cast<const T*>(data);
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, count, 1 << 14), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const double re = double(v[2 * i]), im = double(v[2 * i + 1]);
      out[i] = mode == 1 ? std::hypot(re, im) : mode == 2 ? re : mode == 3 ? im : std::atan2(im, re);
    }
  });
}

template <class T>
void inverseFourier(T* data, int64_t width, int64_t height, int64_t images) {
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, images), [&](const tbb::blocked_range<int64_t>& r) {
    Eigen::FFT<double> fft;
    std::vector<std::complex<double>> image(size_t(width * height)), in, out;
    for (int64_t k = r.begin(); k < r.end(); ++k) {
      T* p = data + 2 * k * width * height;
      // Shift the zero frequency from the centre to the origin.
      for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
          const int64_t sy = (y + height / 2) % height, sx = (x + width / 2) % width;
          const int64_t i = sy * width + sx;
          image[size_t(y * width + x)] = {double(p[2 * i]), double(p[2 * i + 1])};
        }
      in.resize(size_t(width));
      for (int64_t y = 0; y < height; ++y) {
        std::copy(image.begin() + y * width, image.begin() + (y + 1) * width, in.begin());
        fft.inv(out, in);  // normalised by 1/width
        std::copy(out.begin(), out.end(), image.begin() + y * width);
      }
      in.resize(size_t(height));
      for (int64_t x = 0; x < width; ++x) {
        for (int64_t y = 0; y < height; ++y) in[size_t(y)] = image[size_t(y * width + x)];
        fft.inv(out, in);  // normalised by 1/height
        for (int64_t y = 0; y < height; ++y) image[size_t(y * width + x)] = out[size_t(y)];
      }
      // And the image origin back to the centre.
      for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
          const int64_t sy = (y + height / 2) % height, sx = (x + width / 2) % width;
          const auto& c = image[size_t(y * width + x)];
          const int64_t i = sy * width + sx;
          p[2 * i] = T(c.real());
          p[2 * i + 1] = T(c.imag());
        }
    }
  });
}

}  // namespace

bool PR_ComplexToRealConversion(void** data, DTYPE* type, int64_t count, int mode) {
  if (!data || !*data || !type || !PR_IsComplexType(*type) || mode < 1 || mode > 4 || count < 0) return false;
  auto* out = static_cast<double*>(pf_malloc(std::max<int64_t>(count, 1) * 8));
  if (!out) return false;
  if (*type == DTYPE_COMPLEX64) complexToReal<float>(*data, out, count, mode);
  else if (*type == DTYPE_COMPLEX128) complexToReal<double>(*data, out, count, mode);
  else complexToReal<long double>(*data, out, count, mode);
  pf_free(data);
  *data = out;
  *type = DTYPE_FLOAT64;
  return true;
}

bool PR_InverseFourier2D(void* data, DTYPE type, int64_t width, int64_t height, int64_t images) {
  if (!data || !PR_IsComplexType(type) || width < 1 || height < 1 || images < 0) return false;
  if (type == DTYPE_COMPLEX64) inverseFourier(static_cast<float*>(data), width, height, images);
  else if (type == DTYPE_COMPLEX128) inverseFourier(static_cast<double*>(data), width, height, images);
  else inverseFourier(static_cast<long double*>(data), width, height, images);
  return true;
}
