// NRRD volumes: attached (.nrrd) or detached (.nhdr + data file) data, raw, gzip or ASCII encoding,
// 2 to 4 dimensions; a non-spatial axis (space direction "none") is the time axis, first or last.

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TextCodec.h"
#include "TwkMem.h"
#include "io/ImageData.h"
#include "paths/FilePaths.h"

namespace twk::io {
namespace {

std::string trim(std::string s) {
  const char* blanks = " \t\r\n";
  s.erase(0, s.find_first_not_of(blanks));
  const size_t end = s.find_last_not_of(blanks);
  s.erase(end == std::string::npos ? 0 : end + 1);
  return s;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

DTYPE typeFromNrrd(const std::string& name) {
  static const std::map<std::string, DTYPE> kTypes = {
      {"signed char", DTYPE_INT8}, {"int8", DTYPE_INT8}, {"int8_t", DTYPE_INT8},
      {"uchar", DTYPE_UINT8}, {"unsigned char", DTYPE_UINT8}, {"uint8", DTYPE_UINT8}, {"uint8_t", DTYPE_UINT8},
      {"short", DTYPE_INT16}, {"short int", DTYPE_INT16}, {"signed short", DTYPE_INT16},
      {"signed short int", DTYPE_INT16}, {"int16", DTYPE_INT16}, {"int16_t", DTYPE_INT16},
      {"ushort", DTYPE_UINT16}, {"unsigned short", DTYPE_UINT16}, {"unsigned short int", DTYPE_UINT16},
      {"uint16", DTYPE_UINT16}, {"uint16_t", DTYPE_UINT16},
      {"int", DTYPE_INT32}, {"signed int", DTYPE_INT32}, {"int32", DTYPE_INT32}, {"int32_t", DTYPE_INT32},
      {"uint", DTYPE_UINT32}, {"unsigned int", DTYPE_UINT32}, {"uint32", DTYPE_UINT32}, {"uint32_t", DTYPE_UINT32},
      {"longlong", DTYPE_INT64}, {"long long", DTYPE_INT64}, {"long long int", DTYPE_INT64},
      {"signed long long", DTYPE_INT64}, {"signed long long int", DTYPE_INT64}, {"int64", DTYPE_INT64},
      {"int64_t", DTYPE_INT64}, {"ulonglong", DTYPE_UINT64}, {"unsigned long long", DTYPE_UINT64},
      {"unsigned long long int", DTYPE_UINT64}, {"uint64", DTYPE_UINT64}, {"uint64_t", DTYPE_UINT64},
      {"float", DTYPE_FLOAT32}, {"double", DTYPE_FLOAT64}};
  auto it = kTypes.find(lower(trim(name)));
  return it == kTypes.end() ? DTYPE_UNKNOWN : it->second;
}

// "(1,0,0) (0,1,0) none (0,0,2)" -> vectors; an empty vector stands for "none".
std::vector<std::vector<double>> parseVectors(const std::string& text) {
  std::vector<std::vector<double>> out;
  size_t i = 0;
  while (i < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    if (text[i] == '(') {
      const size_t close = text.find(')', i);
      if (close == std::string::npos) throw IoError{L"unbalanced parenthesis in a vector field"};
      std::vector<double> v;
      std::string inner = text.substr(i + 1, close - i - 1);
      std::replace(inner.begin(), inner.end(), ',', ' ');
      std::istringstream s(inner);
      double x;
      while (s >> x) v.push_back(x);
      if (v.empty()) throw IoError{L"empty vector in a vector field"};
      out.push_back(v);
      i = close + 1;
    } else if (text.compare(i, 4, "none") == 0) {
      out.emplace_back();
      i += 4;
    } else {
      throw IoError{L"invalid vector field"};
    }
  }
  return out;
}

// Inflates gzip data from the stream into exactly n bytes.
void inflateExactly(FILE* fp, uint8_t* out, int64_t n) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) throw IoError{L"cannot start decompression"};
  std::vector<uint8_t> in(1 << 16);
  int64_t produced = 0;
  int rc = Z_OK;
  while (produced < n) {
    if (z.avail_in == 0) {
      const size_t got = std::fread(in.data(), 1, in.size(), fp);
      if (got == 0) break;
      z.next_in = in.data();
      z.avail_in = unsigned(got);
    }
    z.next_out = out + produced;
    z.avail_out = unsigned(std::min<int64_t>(n - produced, 1 << 30));
    rc = inflate(&z, Z_NO_FLUSH);
    produced = int64_t(z.total_out);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      inflateEnd(&z);
      throw IoError{L"the gzip data are corrupt"};
    }
  }
  inflateEnd(&z);
  if (produced < n) {
    CString s;
    s.Format(L"voxel data: the gzip stream ends early (%I64d of %I64d bytes)", produced, n);
    throw IoError{s};
  }
}

void readAscii(FILE* fp, ImageData& image) {
  const int64_t n = image.voxelCount();
  const int size = PR_DataTypeSize(image.type);
  for (int64_t i = 0; i < n; ++i) {
    double v;
    if (std::fscanf(fp, " %lf", &v) != 1) throw IoError{L"voxel data: fewer ASCII values than voxels"};
    uint8_t* p = image.voxels + i * size;
    switch (image.type) {
      case DTYPE_INT8: { int8_t x = int8_t(v); std::memcpy(p, &x, 1); break; }
      case DTYPE_UINT8: { uint8_t x = uint8_t(v); std::memcpy(p, &x, 1); break; }
      case DTYPE_INT16: { int16_t x = int16_t(v); std::memcpy(p, &x, 2); break; }
      case DTYPE_UINT16: { uint16_t x = uint16_t(v); std::memcpy(p, &x, 2); break; }
      case DTYPE_INT32: { int32_t x = int32_t(v); std::memcpy(p, &x, 4); break; }
      case DTYPE_UINT32: { uint32_t x = uint32_t(v); std::memcpy(p, &x, 4); break; }
      case DTYPE_INT64: { int64_t x = int64_t(v); std::memcpy(p, &x, 8); break; }
      case DTYPE_UINT64: { uint64_t x = uint64_t(v); std::memcpy(p, &x, 8); break; }
      case DTYPE_FLOAT32: { float x = float(v); std::memcpy(p, &x, 4); break; }
      default: std::memcpy(p, &v, 8); break;
    }
  }
}

struct FileCloser {
  void operator()(FILE* fp) const {
    if (fp) std::fclose(fp);
  }
};

}  // namespace

namespace {

// The voxels after the header (fp is at the line after it) or in the detached data file.
void readNrrdVoxels(const CString& path, std::shared_ptr<FILE>& fp, const std::map<std::string, std::string>& fields,
                    int timeAxis, ImageData& image) {
  auto field = [&](const char* name) -> std::string {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
  };
  // Data: attached after the header, or in the detached file named by "data file".
  const std::string encoding = lower(field("encoding"));
  const bool gzip = encoding == "gzip" || encoding == "gz";
  const bool ascii = encoding == "ascii" || encoding == "text" || encoding == "txt";
  if (!gzip && !ascii && encoding != "raw") throw IoError{CString(L"unsupported encoding ") + CString(encoding.c_str())};
  std::string dataFile = field("data file");
  if (dataFile.empty()) dataFile = field("datafile");
  if (!dataFile.empty()) {
    if (dataFile.rfind("LIST", 0) == 0 || dataFile.find('%') != std::string::npos)
      throw IoError{L"data split over several files is not supported"};
    CString dataPath = CString::fromUtf8(dataFile);
    if (dataFile[0] != '/') dataPath = PR_JoinPath(PR_GetFileFolder(path), dataPath);
    fp.reset(std::fopen(twk::pathToNative(dataPath).c_str(), "rb"), FileCloser{});
    if (!fp) throw IoError{CString(L"the data file is missing: ") + dataPath};
  }
  const int64_t lineSkip = std::atoll(field("line skip").c_str());
  for (int64_t i = 0; i < lineSkip; ++i) {
    int c;
    while ((c = std::fgetc(fp.get())) != EOF && c != '\n') {
    }
    if (c == EOF) throw IoError{L"line skip reaches past the end of the data"};
  }
  const int size = PR_DataTypeSize(image.type);
  const int64_t bytes = checkedProduct({image.dim.w, image.dim.h, image.dim.d, image.dim.t, size}, L"voxel data");
  const int64_t byteSkip = std::atoll(field("byte skip").c_str());
  const int64_t start = std::ftell(fp.get());
  std::fseek(fp.get(), 0, SEEK_END);
  const int64_t end = std::ftell(fp.get());
  int64_t dataStart = start + std::max<int64_t>(0, byteSkip);
  if (byteSkip == -1) {
    if (gzip || ascii) throw IoError{L"byte skip -1 is only valid for raw data"};
    dataStart = end - bytes;
  }
  if (dataStart < start || dataStart > end) throw IoError{L"voxel data: the file is truncated"};
  const int64_t available = end - dataStart;
  if (!ascii && available < (gzip ? (bytes + kMaxDeflateRatio - 1) / kMaxDeflateRatio : bytes)) {
    CString s;
    s.Format(L"voxel data needs %I64d bytes but only %I64d remain: the file is truncated", bytes, available);
    throw IoError{s};
  }
  std::fseek(fp.get(), long(dataStart), SEEK_SET);
  image.allocateVoxels(nullptr);
  if (gzip) {
    inflateExactly(fp.get(), image.voxels, bytes);
  } else if (ascii) {
    readAscii(fp.get(), image);
  } else if (int64_t(std::fread(image.voxels, 1, size_t(bytes), fp.get())) != bytes) {
    throw IoError{L"voxel data: the file is truncated"};
  }
  const bool big = lower(field("endian")) == "big";
  image.bigEndian = big;
  if (big && !ascii && size > 1)
    for (int64_t i = 0; i < image.voxelCount(); ++i) std::reverse(image.voxels + i * size, image.voxels + (i + 1) * size);
  if (timeAxis == 0 && image.dim.t > 1) {
    // Time fastest in the file: move it to the slowest axis.
    const int64_t perTime = int64_t(image.dim.w) * image.dim.h * image.dim.d;
    const int T = image.dim.t;
    auto* moved = static_cast<uint8_t*>(pf_malloc(bytes));
    if (!moved) throw IoError{L"not enough memory"};
    for (int64_t v = 0; v < perTime; ++v)
      for (int t = 0; t < T; ++t)
        std::memcpy(moved + (t * perTime + v) * size, image.voxels + (v * T + t) * size, size_t(size));
    pf_free(&image.voxels);
    image.voxels = moved;
  }
}

}  // namespace

void readNrrd(const CString& path, ImageData& image, bool headerOnly) {
  std::shared_ptr<FILE> fp(std::fopen(twk::pathToNative(path).c_str(), "rb"), FileCloser{});
  if (!fp) throw IoError{L"file does not exist or cannot be read"};
  // Header: "NRRD000x", then "field: value" and "key:=value" lines up to an empty line (or the end
  // of a detached header).
  std::map<std::string, std::string> fields;
  std::string line;
  bool first = true;
  int64_t headerBytes = 0;
  for (;;) {
    line.clear();
    int c;
    while ((c = std::fgetc(fp.get())) != EOF && c != '\n') {
      line += char(c);
      if (line.size() > 65536) throw IoError{L"header line too long"};
    }
    headerBytes += int64_t(line.size()) + (c == '\n' ? 1 : 0);
    if (headerBytes > (1 << 22)) throw IoError{L"header too long"};
    if (first) {
      if (line.rfind("NRRD000", 0) != 0) throw IoError{L"not a NRRD file"};
      first = false;
    } else {
      const std::string t = trim(line);
      if (t.empty()) break;
      if (t[0] != '#' && t.find(":=") == std::string::npos) {
        const size_t colon = t.find(": ");
        if (colon == std::string::npos) throw IoError{L"invalid header line"};
        fields[lower(trim(t.substr(0, colon)))] = trim(t.substr(colon + 2));
      }
    }
    if (c == EOF) break;
  }
  auto field = [&](const char* name) -> std::string {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
  };

  image.type = typeFromNrrd(field("type"));
  if (image.type == DTYPE_UNKNOWN) throw IoError{CString(L"unsupported or unknown data type ") + CString(field("type").c_str())};
  const int dimension = std::atoi(field("dimension").c_str());
  if (dimension < 2 || dimension > 4) throw IoError{L"only 2, 3 and 4 dimensions are supported"};
  std::vector<int64_t> sizes;
  {
    std::istringstream s(field("sizes"));
    long long v;
    while (s >> v) sizes.push_back(v);
  }
  if (int(sizes.size()) != dimension) throw IoError{L"sizes do not match the dimension"};
  for (int64_t s : sizes)
    if (s < 1 || s > INT32_MAX) throw IoError{L"invalid sizes in the header"};

  // The time axis: the one whose space direction is "none", or a kinds entry that is not spatial.
  int timeAxis = -1;
  std::vector<std::vector<double>> directions;
  if (!field("space directions").empty()) {
    directions = parseVectors(field("space directions"));
    if (int(directions.size()) != dimension) throw IoError{L"space directions do not match the dimension"};
    for (int i = 0; i < dimension; ++i)
      if (directions[size_t(i)].empty()) timeAxis = timeAxis < 0 ? i : -2;
  } else if (dimension == 4) {
    std::istringstream s(lower(field("kinds")));
    std::string kind;
    for (int i = 0; s >> kind; ++i)
      if (kind != "domain" && kind != "space") timeAxis = timeAxis < 0 ? i : -2;
    if (timeAxis == -1) timeAxis = 3;
  }
  if (timeAxis == -2) throw IoError{L"more than one non-spatial axis"};
  if (dimension == 4 && timeAxis != 0 && timeAxis != 3) throw IoError{L"the time axis must be the first or the last"};
  if (dimension < 4 && timeAxis >= 0) throw IoError{L"non-spatial axes are only supported in 4D files"};
  std::vector<int> spatial;
  for (int i = 0; i < dimension; ++i)
    if (i != timeAxis) spatial.push_back(i);
  image.dim.w = int(sizes[size_t(spatial[0])]);
  image.dim.h = int(sizes[size_t(spatial[1])]);
  image.dim.d = spatial.size() > 2 ? int(sizes[size_t(spatial[2])]) : 1;
  image.dim.t = timeAxis >= 0 ? int(sizes[size_t(timeAxis)]) : 1;
  checkDimensions(image.dim);

  // Geometry: space directions and origin, converted from the file's space to patient coordinates.
  const std::string space = lower(field("space"));
  if (!directions.empty() && spatial.size() == 3) {
    bool ras = space == "right-anterior-superior" || space == "ras";
    bool las = space == "left-anterior-superior" || space == "las";
    Affine a;
    for (int c = 0; c < 3; ++c) {
      const auto& v = directions[size_t(spatial[size_t(c)])];
      if (v.size() != 3) throw IoError{L"space directions must have three components"};
      for (int r = 0; r < 3; ++r) a.m[r][c] = v[size_t(r)];
    }
    std::vector<double> origin = {0, 0, 0};
    if (!field("space origin").empty()) {
      auto o = parseVectors(field("space origin"));
      if (o.size() != 1 || o[0].size() != 3) throw IoError{L"invalid space origin"};
      origin = o[0];
    }
    for (int r = 0; r < 3; ++r) a.m[r][3] = origin[size_t(r)];
    if (las)  // only y differs from patient coordinates
      for (int c = 0; c < 4; ++c) a.m[1][c] = -a.m[1][c];
    geometryFromAffine(a, ras, image);
  } else if (!field("spacings").empty()) {
    std::istringstream s(field("spacings"));
    std::vector<double> v;
    std::string token;
    while (s >> token) v.push_back(std::atof(token.c_str()));
    auto good = [](double x) { return std::isfinite(x) && x > 0 ? x : 1.0; };
    if (v.size() == size_t(dimension)) {
      image.spc.x = good(v[size_t(spatial[0])]);
      image.spc.y = good(v[size_t(spatial[1])]);
      if (spatial.size() > 2) image.spc.z = good(v[size_t(spatial[2])]);
      if (timeAxis >= 0 && std::isfinite(v[size_t(timeAxis)]) && v[size_t(timeAxis)] > 0) image.timeStep = v[size_t(timeAxis)];
    }
  }
  if (headerOnly) {
    image.readVoxels = [path, fp, fields, timeAxis](ImageData& later) {
      std::shared_ptr<FILE> file = fp;
      readNrrdVoxels(path, file, fields, timeAxis, later);
    };
    return;
  }
  readNrrdVoxels(path, fp, fields, timeAxis, image);
}

}  // namespace twk::io
