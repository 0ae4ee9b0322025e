// MGH / MGZ volumes: a big-endian header of 284 bytes, the voxels (x fastest, then y, z, frames)
// and an optional trailer with TR (ms), flip angle (radians), TE (ms), TI (ms) and field of view.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "TwkMem.h"
#include "io/ImageData.h"

namespace twk::io {
namespace {

constexpr int kHeaderBytes = 284;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
int32_t beInt(const uint8_t* p) { return int32_t(be32(p)); }
float beFloat(const uint8_t* p) {
  const uint32_t u = be32(p);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

DTYPE typeFromMgh(int code) {
  switch (code) {
    case 0: return DTYPE_UINT8;   // MRI_UCHAR
    case 1: return DTYPE_INT32;   // MRI_INT
    case 3: return DTYPE_FLOAT32; // MRI_FLOAT
    case 4: return DTYPE_INT16;   // MRI_SHORT
    default: return DTYPE_UNKNOWN;
  }
}

}  // namespace

namespace {

// The voxels and the optional acquisition parameters after them; in is at the first voxel.
void readMghVoxels(InputFile& in, ImageData& image) {
  image.allocateVoxels(&in, false);
  const int size = PR_DataTypeSize(image.type);
  // Big-endian values: each block is turned to native order while it is still in the cache.
  in.readBlocks(image.voxels, image.voxelCount() * size, int64_t(4) << 20, L"voxel data",
                [size](uint8_t* p, int64_t bytes) {
                  if (size > 1)
                    for (int64_t i = 0; i < bytes; i += size) std::reverse(p + i, p + i + size);
                });

  // Optional acquisition parameters after the voxels.
  uint8_t tail[16];
  if (in.readSome(tail, 16) == 16) {
    const double tr = beFloat(tail), flip = beFloat(tail + 4), te = beFloat(tail + 8), ti = beFloat(tail + 12);
    if (std::isfinite(tr) && std::isfinite(flip) && std::isfinite(te) && std::isfinite(ti)) {
      image.dyn.assign(size_t(image.dim.t), DYNCRD{});
      const double step = tr > 0 ? tr / 1000.0 : 1.0;
      for (int t = 0; t < image.dim.t; ++t) {
        DYNCRD& d = image.dyn[size_t(t)];
        d.time = t * step;
        d.timeEnd = (t + 1) * step;
        d.repetitionTime = tr / 1000.0;
        d.echoTime = te / 1000.0;
        d.inversionTime = ti / 1000.0;
        d.flipAngle = flip * 180.0 / M_PI;
      }
    }
  }
}

}  // namespace

void readMgh(const CString& path, ImageData& image, bool headerOnly) {
  auto input = std::make_shared<InputFile>(path);
  InputFile& in = *input;
  uint8_t h[kHeaderBytes];
  in.read(h, kHeaderBytes, L"MGH header");
  if (beInt(h) != 1) throw IoError{L"not an MGH file (version is not 1)"};
  image.dim.w = beInt(h + 4);
  image.dim.h = beInt(h + 8);
  image.dim.d = beInt(h + 12);
  image.dim.t = beInt(h + 16);
  checkDimensions(image.dim);
  const int code = beInt(h + 20);
  image.type = typeFromMgh(code);
  if (image.type == DTYPE_UNKNOWN) {
    CString s;
    s.Format(L"unsupported or unknown data type %d", code);
    throw IoError{s};
  }
  image.bigEndian = true;
  const int16_t goodRas = int16_t(uint16_t(h[28]) << 8 | h[29]);
  double spacing[3], mdc[9], center[3];
  for (int i = 0; i < 3; ++i) spacing[i] = beFloat(h + 30 + 4 * i);
  for (int i = 0; i < 9; ++i) mdc[i] = beFloat(h + 42 + 4 * i);
  for (int i = 0; i < 3; ++i) center[i] = beFloat(h + 78 + 4 * i);
  if (goodRas <= 0) {
    // Without a valid direction block the scanner's coronal convention (LIA) holds.
    static const double kLia[9] = {-1, 0, 0, 0, 0, -1, 0, 1, 0};
    std::copy(kLia, kLia + 9, mdc);
    for (double& s : spacing) s = s > 0 ? s : 1.0;
  }
  for (double s : spacing)
    if (!(s > 0) || !std::isfinite(s)) throw IoError{L"invalid voxel size in the header"};
  // vox2ras: columns are the axis directions scaled by the voxel size; the centre of the volume
  // (dims / 2) maps to c_ras.
  Affine a;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a.m[r][c] = mdc[3 * c + r] * spacing[c];
  const double half[3] = {image.dim.w / 2.0, image.dim.h / 2.0, image.dim.d / 2.0};
  for (int r = 0; r < 3; ++r)
    a.m[r][3] = center[r] - (a.m[r][0] * half[0] + a.m[r][1] * half[1] + a.m[r][2] * half[2]);
  geometryFromAffine(a, true, image);
  if (!image.hasGeometry) image.spc = SPC{spacing[0], spacing[1], spacing[2]};
  image.modality = 1;  // MR
  if (headerOnly) {
    image.readVoxels = [input](ImageData& later) { readMghVoxels(*input, later); };
    return;
  }
  readMghVoxels(in, image);
}

}  // namespace twk::io
