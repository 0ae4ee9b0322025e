#include "PictureZoom.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "ProjectionGeometry.h"
#include "TwkMem.h"
#include "volume/VoxelAccess.h"

namespace {

// Runs row(y) for every picture row; rows write disjoint parts of the picture, so they run in
// parallel on large pictures.
template <class Row>
void forEachRow(int height, const Row& row) {
  if (height < 32) {
    for (int y = 0; y < height; ++y) row(y);
    return;
  }
  tbb::parallel_for(tbb::blocked_range<int>(0, height, 16), [&](const tbb::blocked_range<int>& range) {
    for (int y = range.begin(); y != range.end(); ++y) row(y);
  });
}

// Reads voxel x of the line that starts byteOffset bytes into the frame's data, as a double.
template <class T>
struct Reader {
  const uint8_t* data;
  double at(int64_t byteOffset, int64_t x) const {
    if constexpr (std::is_same_v<T, bool>) return twk::getBit(data + byteOffset, x) ? 1.0 : 0.0;
    else return double(reinterpret_cast<const T*>(data + byteOffset)[x]);
  }
  static bool isVoid(double v) {
    if constexpr (std::is_same_v<T, double>) return v == VOID_VALUE;
    else if constexpr (std::is_same_v<T, uint32_t>) return v == double(VOID_INT_VALUE);
    else return false;
  }
};

enum class Combine { Plain, Max, Min, Mean };

struct Setup {
  VA_PROJMAP map;
  DRECT shown;          // displayed world rectangle
  int cols = 1, rows = 1;
  int slice = 0, time = 0;
  bool smooth = false;
  Combine combine = Combine::Plain;
  int k0 = 0, k1 = 0;   // slab relative to the slice
  int width = 0, height = 0;
  double scale = 1;     // client pixels per world unit
  double vx0 = 0, vy1 = 0;
  // Strides of the frame's axes: bytes per line, per slice and per time point.
  int64_t lineBytes = 0, sliceBytes = 0, timeBytes = 0;
};

// Projection coordinate of a pixel column (u) or row (v) within the film, or NaN outside.
double columnCoordinate(const Setup& s, int px) {
  const double wx = s.vx0 + (px + 0.5) / s.scale;
  return (wx - s.shown.x0) * (s.cols * s.map.dims.w) / (s.shown.x1 - s.shown.x0);
}
double rowCoordinate(const Setup& s, int py) {
  const double wy = s.vy1 - (py + 0.5) / s.scale;
  return (s.shown.y1 - wy) * (s.rows * s.map.dims.h) / (s.shown.y1 - s.shown.y0);
}

// One sampling position along a projection axis: tile, two neighbouring voxels and the weight of
// the second (nearest sampling: both voxels equal, weight 0). tile -1 marks outside.
struct AxisSample {
  int tile = -1;
  int i0 = 0, i1 = 0;
  double w = 0;
};

AxisSample axisSample(double c, int size, int tiles, bool smooth) {
  AxisSample a;
  if (!(c >= 0) || c >= double(size) * tiles) return a;
  int tile = int(c / size);
  if (tile >= tiles) tile = tiles - 1;
  const double local = c - double(tile) * size;
  if (local < 0 || local >= size) return a;
  a.tile = tile;
  if (smooth) {
    const double p = local - 0.5;
    const double f = std::floor(p);
    a.i0 = std::clamp(int(f), 0, size - 1);
    a.i1 = std::clamp(int(f) + 1, 0, size - 1);
    a.w = p - f;
    if (a.i0 == a.i1) a.w = 0;
  } else {
    a.i0 = a.i1 = std::min(int(local), size - 1);
  }
  return a;
}

// Byte offset and x index of index i along projection axis k of a quarter-turn map.
struct Step {
  int64_t bytes = 0;
  int64_t x = 0;
};

Step axisStep(const Setup& s, const DIM3D& dims, int k, int i) {
  const int a = s.map.axis[k];
  const int size = a == 0 ? dims.w : a == 1 ? dims.h : dims.d;
  const int64_t v = s.map.reversed[k] ? size - 1 - i : i;
  if (a == 0) return {0, v};
  if (a == 1) return {v * s.lineBytes, 0};
  return {v * s.sliceBytes, 0};
}

template <class T>
double combineSlab(const Setup& s, const Reader<T>& r, const std::vector<Step>& zsteps, int slice, int64_t b, int64_t x,
                   bool smooth, int64_t b01, int64_t x01, int64_t b10, int64_t x10, int64_t b11, int64_t x11, double wx,
                   double wy) {
  const int depth = s.map.dims.d;
  const int lo = s.combine == Combine::Plain ? slice : std::max(0, slice + s.k0);
  const int hi = s.combine == Combine::Plain ? slice : std::min(depth - 1, slice + s.k1);
  double acc = s.combine == Combine::Min ? VOID_VALUE : s.combine == Combine::Max ? -VOID_VALUE : 0.0;
  int count = 0;
  for (int k = lo; k <= hi; ++k) {
    const int64_t zb = zsteps[k].bytes, zx = zsteps[k].x;
    double v = r.at(b + zb, x + zx);
    if (smooth) {
      const double v01 = r.at(b01 + zb, x01 + zx), v10 = r.at(b10 + zb, x10 + zx), v11 = r.at(b11 + zb, x11 + zx);
      if (!Reader<T>::isVoid(v) && !Reader<T>::isVoid(v01) && !Reader<T>::isVoid(v10) && !Reader<T>::isVoid(v11)) {
        const double top = v + (v01 - v) * wx, bottom = v10 + (v11 - v10) * wx;
        v = top + (bottom - top) * wy;
      } else {
        // The nearest of the four stands in for an interpolation across a void voxel.
        v = wy < 0.5 ? (wx < 0.5 ? v : v01) : (wx < 0.5 ? v10 : v11);
      }
    }
    if (Reader<T>::isVoid(v)) continue;
    switch (s.combine) {
      case Combine::Plain: return v;
      case Combine::Max: acc = std::max(acc, v); break;
      case Combine::Min: acc = std::min(acc, v); break;
      case Combine::Mean: acc += v; break;
    }
    ++count;
  }
  if (count == 0) return VOID_VALUE;
  return s.combine == Combine::Mean ? acc / count : acc;
}

// Writes one picture value.
struct Writer {
  int type;
  uint32_t label;
  void* picture;
  void put(int64_t i, double v) const {
    switch (type) {
      case VA_PIXEL_REAL: static_cast<double*>(picture)[i] = v; break;
      case VA_PIXEL_INT:
        static_cast<uint32_t*>(picture)[i] =
            v == VOID_VALUE ? VA_PIXEL_TRANSPARENT : v <= 0 ? 0u : v >= 4294967294.0 ? 4294967294u : uint32_t(v + 0.5);
        break;
      default: static_cast<uint32_t*>(picture)[i] = v != VOID_VALUE && v >= 0.5 ? label : VA_PIXEL_TRANSPARENT; break;
    }
  }
  void outside(int64_t i) const {
    if (type == VA_PIXEL_REAL) static_cast<double*>(picture)[i] = VOID_VALUE;
    else static_cast<uint32_t*>(picture)[i] = VA_PIXEL_TRANSPARENT;
  }
};

// Plain slice outside the film view, typed voxels: per-column and per-row byte offsets, and the
// columns that fall on the picture as one run (the mapping is monotonic).
template <class T, int Type>
void zoomPlainSlice(const Setup& s, const FRAME* frame, const Writer& out) {
  const DIM3D& dims = frame->dim;
  const DIM3D& pd = s.map.dims;
  const uint8_t* base = frame->data + s.time * s.timeBytes + axisStep(s, dims, 2, s.slice).bytes;
  const int64_t zx = axisStep(s, dims, 2, s.slice).x * int64_t(sizeof(T));
  struct Offsets {
    int64_t o0, o1;
    double w;
  };
  std::vector<Offsets> cols(s.width), rows(s.height);
  int first = s.width, last = -1;
  for (int px = 0; px < s.width; ++px) {
    const AxisSample a = axisSample(columnCoordinate(s, px), pd.w, 1, s.smooth);
    if (a.tile < 0) continue;
    const Step c0 = axisStep(s, dims, 0, a.i0), c1 = axisStep(s, dims, 0, a.i1);
    cols[px] = {c0.bytes + c0.x * int64_t(sizeof(T)), c1.bytes + c1.x * int64_t(sizeof(T)), a.w};
    first = std::min(first, px);
    last = std::max(last, px);
  }
  auto* realOut = static_cast<double*>(out.picture);
  auto* intOut = static_cast<uint32_t*>(out.picture);
  auto outside = [&](int64_t i) {
    if constexpr (Type == VA_PIXEL_REAL) realOut[i] = VOID_VALUE;
    else intOut[i] = VA_PIXEL_TRANSPARENT;
  };
  auto put = [&](int64_t i, double v) {
    if constexpr (Type == VA_PIXEL_REAL) realOut[i] = v;
    else intOut[i] = v == VOID_VALUE ? VA_PIXEL_TRANSPARENT : v <= 0 ? 0u : v >= 4294967294.0 ? 4294967294u : uint32_t(v + 0.5);
  };
  forEachRow(s.height, [&](int py) {
    const int64_t rowStart = int64_t(py) * s.width;
    const AxisSample a = axisSample(rowCoordinate(s, py), pd.h, 1, s.smooth);
    if (a.tile < 0 || first > last) {
      for (int px = 0; px < s.width; ++px) outside(rowStart + px);
      return;
    }
    const Step r0 = axisStep(s, dims, 1, a.i0), r1 = axisStep(s, dims, 1, a.i1);
    const uint8_t* line0 = base + zx + r0.bytes + r0.x * int64_t(sizeof(T));
    const uint8_t* line1 = base + zx + r1.bytes + r1.x * int64_t(sizeof(T));
    for (int px = 0; px < first; ++px) outside(rowStart + px);
    for (int px = last + 1; px < s.width; ++px) outside(rowStart + px);
    if (!s.smooth) {
      if constexpr (Type == VA_PIXEL_INT && !std::is_same_v<T, uint32_t>) {
        for (int px = first; px <= last; ++px) intOut[rowStart + px] = *reinterpret_cast<const T*>(line0 + cols[px].o0);
      } else {
        for (int px = first; px <= last; ++px) put(rowStart + px, double(*reinterpret_cast<const T*>(line0 + cols[px].o0)));
      }
      return;
    }
    const double wy = a.w;
    for (int px = first; px <= last; ++px) {
      const Offsets& c = cols[px];
      const double v00 = double(*reinterpret_cast<const T*>(line0 + c.o0));
      const double v01 = double(*reinterpret_cast<const T*>(line0 + c.o1));
      const double v10 = double(*reinterpret_cast<const T*>(line1 + c.o0));
      const double v11 = double(*reinterpret_cast<const T*>(line1 + c.o1));
      if (Reader<T>::isVoid(v00) || Reader<T>::isVoid(v01) || Reader<T>::isVoid(v10) || Reader<T>::isVoid(v11)) {
        const double v = wy < 0.5 ? (c.w < 0.5 ? v00 : v01) : (c.w < 0.5 ? v10 : v11);
        put(rowStart + px, Reader<T>::isVoid(v) ? VOID_VALUE : v);
        continue;
      }
      const double top = v00 + (v01 - v00) * c.w, bottom = v10 + (v11 - v10) * c.w;
      put(rowStart + px, top + (bottom - top) * wy);
    }
  });
}

// Plain slice of an ROI outside the film view: per-column and per-row steps; one of the three axes
// runs along the volume's x and moves the bit, the others move the byte.
void zoomPlainSliceBits(const Setup& s, const FRAME* frame, const Writer& out) {
  const DIM3D& dims = frame->dim;
  const DIM3D& pd = s.map.dims;
  const Step z = axisStep(s, dims, 2, s.slice);
  const uint8_t* base = frame->data + s.time * s.timeBytes + z.bytes;
  struct Sample {
    Step s0, s1;
    double w = 0;
  };
  std::vector<Sample> cols(s.width);
  int first = s.width, last = -1;
  for (int px = 0; px < s.width; ++px) {
    const AxisSample a = axisSample(columnCoordinate(s, px), pd.w, 1, s.smooth);
    if (a.tile < 0) continue;
    cols[px] = {axisStep(s, dims, 0, a.i0), axisStep(s, dims, 0, a.i1), a.w};
    first = std::min(first, px);
    last = std::max(last, px);
  }
  auto bitAt = [&](const Step& c, const Step& r) {
    const int64_t x = c.x + r.x + z.x;
    return (base[c.bytes + r.bytes + (x >> 3)] >> (7 - (x & 7))) & 1;
  };
  auto* labels = static_cast<uint32_t*>(out.picture);
  forEachRow(s.height, [&](int py) {
    uint32_t* row = labels + int64_t(py) * s.width;
    const AxisSample a = axisSample(rowCoordinate(s, py), pd.h, 1, s.smooth);
    if (a.tile < 0 || first > last) {
      std::fill(row, row + s.width, VA_PIXEL_TRANSPARENT);
      return;
    }
    std::fill(row, row + first, VA_PIXEL_TRANSPARENT);
    std::fill(row + last + 1, row + s.width, VA_PIXEL_TRANSPARENT);
    const Step r0 = axisStep(s, dims, 1, a.i0), r1 = axisStep(s, dims, 1, a.i1);
    if (!s.smooth) {
      for (int px = first; px <= last; ++px) row[px] = bitAt(cols[px].s0, r0) ? out.label : VA_PIXEL_TRANSPARENT;
      return;
    }
    for (int px = first; px <= last; ++px) {
      const Sample& c = cols[px];
      const double v00 = bitAt(c.s0, r0), v01 = bitAt(c.s1, r0), v10 = bitAt(c.s0, r1), v11 = bitAt(c.s1, r1);
      const double top = v00 + (v01 - v00) * c.w, bottom = v10 + (v11 - v10) * c.w;
      row[px] = top + (bottom - top) * a.w >= 0.5 ? out.label : VA_PIXEL_TRANSPARENT;
    }
  });
}

template <class T>
void zoomOrtho(const Setup& s, const FRAME* frame, const Writer& out) {
  if constexpr (std::is_same_v<T, bool>) {
    if (s.combine == Combine::Plain && s.cols * s.rows == 1) {
      zoomPlainSliceBits(s, frame, out);
      return;
    }
  } else {
    if (s.combine == Combine::Plain && s.cols * s.rows == 1) {
      if (out.type == VA_PIXEL_REAL) zoomPlainSlice<T, VA_PIXEL_REAL>(s, frame, out);
      else zoomPlainSlice<T, VA_PIXEL_INT>(s, frame, out);
      return;
    }
  }
  const Reader<T> r{frame->data + s.time * s.timeBytes};
  const DIM3D& dims = frame->dim;
  const DIM3D& pd = s.map.dims;
  std::vector<AxisSample> cols(s.width), rows(s.height);
  std::vector<Step> c0(s.width), c1(s.width), r0(s.height), r1(s.height), zsteps(pd.d);
  for (int px = 0; px < s.width; ++px) {
    cols[px] = axisSample(columnCoordinate(s, px), pd.w, s.cols, s.smooth);
    if (cols[px].tile >= 0) {
      c0[px] = axisStep(s, dims, 0, cols[px].i0);
      c1[px] = axisStep(s, dims, 0, cols[px].i1);
    }
  }
  for (int py = 0; py < s.height; ++py) {
    rows[py] = axisSample(rowCoordinate(s, py), pd.h, s.rows, s.smooth);
    if (rows[py].tile >= 0) {
      r0[py] = axisStep(s, dims, 1, rows[py].i0);
      r1[py] = axisStep(s, dims, 1, rows[py].i1);
    }
  }
  for (int k = 0; k < pd.d; ++k) zsteps[k] = axisStep(s, dims, 2, k);
  const bool film = s.cols * s.rows > 1;
  forEachRow(s.height, [&](int py) {
    const int64_t rowStart = int64_t(py) * s.width;
    const AxisSample& ry = rows[py];
    if (ry.tile < 0) {
      for (int px = 0; px < s.width; ++px) out.outside(rowStart + px);
      return;
    }
    for (int px = 0; px < s.width; ++px) {
      const AxisSample& cx = cols[px];
      int slice = s.slice;
      if (film) slice = cx.tile < 0 ? -1 : ry.tile * s.cols + cx.tile;
      if (cx.tile < 0 || slice < 0 || slice >= pd.d) {
        out.outside(rowStart + px);
        continue;
      }
      const double v = combineSlab(s, r, zsteps, slice, c0[px].bytes + r0[py].bytes, c0[px].x + r0[py].x, s.smooth,
                                   c1[px].bytes + r0[py].bytes, c1[px].x + r0[py].x, c0[px].bytes + r1[py].bytes,
                                   c0[px].x + r1[py].x, c1[px].bytes + r1[py].bytes, c1[px].x + r1[py].x, cx.w, ry.w);
      out.put(rowStart + px, v);
    }
  });
}

// A voxel of an oblique plane's sample point (continuous volume coordinates), or void outside.
template <class T>
double sampleVolume(const Setup& s, const Reader<T>& r, const DIM3D& dims, double x, double y, double z) {
  if (!(x >= 0 && y >= 0 && z >= 0 && x < dims.w && y < dims.h && z < dims.d)) return VOID_VALUE;
  auto voxel = [&](int ix, int iy, int iz) { return r.at(iz * s.sliceBytes + iy * s.lineBytes, ix); };
  if (!s.smooth) return voxel(int(x), int(y), int(z));
  const double p[3] = {x - 0.5, y - 0.5, z - 0.5};
  const int size[3] = {dims.w, dims.h, dims.d};
  int i0[3], i1[3];
  double f[3];
  for (int a = 0; a < 3; ++a) {
    const double fl = std::floor(p[a]);
    i0[a] = std::clamp(int(fl), 0, size[a] - 1);
    i1[a] = std::clamp(int(fl) + 1, 0, size[a] - 1);
    f[a] = p[a] - fl;
  }
  double c[8];
  for (int n = 0; n < 8; ++n) {
    c[n] = voxel(n & 1 ? i1[0] : i0[0], n & 2 ? i1[1] : i0[1], n & 4 ? i1[2] : i0[2]);
    if (Reader<T>::isVoid(c[n])) return voxel(int(x), int(y), int(z));
  }
  const double x00 = c[0] + (c[1] - c[0]) * f[0], x10 = c[2] + (c[3] - c[2]) * f[0];
  const double x01 = c[4] + (c[5] - c[4]) * f[0], x11 = c[6] + (c[7] - c[6]) * f[0];
  const double y0 = x00 + (x10 - x00) * f[1], y1 = x01 + (x11 - x01) * f[1];
  return y0 + (y1 - y0) * f[2];
}

template <class T>
void zoomOblique(const Setup& s, const FRAME* frame, const Writer& out) {
  const Reader<T> r{frame->data + s.time * s.timeBytes};
  const DIM3D& dims = frame->dim;
  const DIM3D& pd = s.map.dims;
  const auto& m = s.map.matrix;
  std::vector<double> us(s.width);
  for (int px = 0; px < s.width; ++px) us[px] = columnCoordinate(s, px);
  forEachRow(s.height, [&](int py) {
    const int64_t rowStart = int64_t(py) * s.width;
    const double vc = rowCoordinate(s, py);
    for (int px = 0; px < s.width; ++px) {
      const double uc = us[px];
      if (!(uc >= 0 && vc >= 0 && uc < double(s.cols) * pd.w && vc < double(s.rows) * pd.h)) {
        out.outside(rowStart + px);
        continue;
      }
      const int tc = std::min(int(uc / pd.w), s.cols - 1), tr = std::min(int(vc / pd.h), s.rows - 1);
      const int slice = s.cols * s.rows > 1 ? tr * s.cols + tc : s.slice;
      if (slice < 0 || slice >= pd.d) {
        out.outside(rowStart + px);
        continue;
      }
      const double u = uc - double(tc) * pd.w, v = vc - double(tr) * pd.h;
      const int lo = s.combine == Combine::Plain ? slice : std::max(0, slice + s.k0);
      const int hi = s.combine == Combine::Plain ? slice : std::min(pd.d - 1, slice + s.k1);
      double acc = s.combine == Combine::Min ? VOID_VALUE : s.combine == Combine::Max ? -VOID_VALUE : 0.0;
      int count = 0;
      double result = VOID_VALUE;
      for (int k = lo; k <= hi; ++k) {
        const double w = k + 0.5;
        const double x = m[0][0] * u + m[0][1] * v + m[0][2] * w + m[0][3];
        const double y = m[1][0] * u + m[1][1] * v + m[1][2] * w + m[1][3];
        const double z = m[2][0] * u + m[2][1] * v + m[2][2] * w + m[2][3];
        const double val = sampleVolume(s, r, dims, x, y, z);
        if (Reader<T>::isVoid(val) || val == VOID_VALUE) continue;
        if (s.combine == Combine::Plain) {
          result = val;
          break;
        }
        if (s.combine == Combine::Max) acc = std::max(acc, val);
        else if (s.combine == Combine::Min) acc = std::min(acc, val);
        else acc += val;
        ++count;
      }
      if (s.combine != Combine::Plain && count > 0) result = s.combine == Combine::Mean ? acc / count : acc;
      out.put(rowStart + px, result);
    }
  });
}

template <class T>
void zoom(const Setup& s, const FRAME* frame, const Writer& out) {
  if (s.map.ortho) zoomOrtho<T>(s, frame, out);
  else zoomOblique<T>(s, frame, out);
}

}  // namespace

int64_t VA_PictureZoomBytes(const FRAME* frame, int width, int height) {
  if (!frame || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid || width < 1 || height < 1) return 0;
  return int64_t(width) * height * (frame->type == FRM_REAL ? 8 : 4);
}

int VA_PictureZoom(const FRAME* frame, uint32_t roiColor, const DRECT* layerRect, const SPC* spc, const VA_VOLPROJ* proj,
                   const double visibleWorld[4], int width, int height, const RECT2D* client, void** picture,
                   double geometry[16]) {
  (void)client;
  if (picture) *picture = nullptr;
  const int64_t bytes = VA_PictureZoomBytes(frame, width, height);
  if (!picture || bytes == 0) return VA_PIXEL_NONE;
  void* buffer = pf_malloc(bytes);
  if (!buffer) return VA_PIXEL_NONE;
  const int type = VA_PictureZoomInto(frame, roiColor, layerRect, spc, proj, visibleWorld, width, height, buffer, bytes,
                                      geometry);
  if (type == VA_PIXEL_NONE) pf_free(&buffer);
  *picture = buffer;
  return type;
}

int VA_PictureZoomInto(const FRAME* frame, uint32_t roiColor, const DRECT* layerRect, const SPC* spc,
                       const VA_VOLPROJ* proj, const double visibleWorld[4], int width, int height, void* buffer,
                       int64_t bufferBytes, double geometry[16]) {
  if (!frame || !frame->data || !layerRect || !visibleWorld || !buffer || width < 1 || height < 1) return VA_PIXEL_NONE;
  if (bufferBytes < VA_PictureZoomBytes(frame, width, height)) return VA_PIXEL_NONE;
  const twk::VoxelElem elem = twk::voxelElemOf(frame);
  if (elem == twk::VoxelElem::Invalid || frame->dim.w < 1 || frame->dim.h < 1 || frame->dim.d < 1 || frame->dim.t < 1)
    return VA_PIXEL_NONE;
  VA_VOLPROJ record;
  VA_InitVOLPROJ(&record);
  if (proj) record = *proj;
  Setup s;
  if (!VA_VolProjMap(&frame->dim, spc, &record, &s.map)) return VA_PIXEL_NONE;
  if (!VA_VolDisplayActualWorldRect(layerRect, &frame->dim, spc, &record, &s.shown)) return VA_PIXEL_NONE;
  if (!(s.shown.x1 > s.shown.x0) || !(s.shown.y1 > s.shown.y0)) return VA_PIXEL_NONE;
  VA_VolProjFilmViewLayout(&frame->dim, spc, &record, &s.cols, &s.rows);
  s.width = width;
  s.height = height;
  s.vx0 = std::min(visibleWorld[0], visibleWorld[2]);
  s.vy1 = std::max(visibleWorld[1], visibleWorld[3]);
  const double ex = std::fabs(visibleWorld[2] - visibleWorld[0]), ey = std::fabs(visibleWorld[3] - visibleWorld[1]);
  if (width > 1 && ex > 0) s.scale = (width - 1) / ex;
  else if (height > 1 && ey > 0) s.scale = (height - 1) / ey;
  else s.scale = 1;
  s.slice = std::clamp(int(record.slice), 0, s.map.dims.d - 1);
  s.time = std::clamp(int(record.timeIndex), 0, frame->dim.t - 1);
  s.smooth = record.mode == 1;
  switch (record.projType) {
    case 1: s.combine = Combine::Max; break;
    case 2: s.combine = Combine::Min; break;
    case 3: s.combine = Combine::Mean; break;
    default: s.combine = Combine::Plain; break;
  }
  if (s.combine != Combine::Plain) {
    if (record.slabThickness > 0) {
      // The slab holds round(thickness / spacing) slices, at least one, centred on the slice.
      const int n = std::max(1, int(std::floor(record.slabThickness / s.map.spc.z + 0.5)));
      s.k0 = -((n - 1) / 2);
      s.k1 = n / 2;
    } else {
      s.k0 = -s.map.dims.d;
      s.k1 = s.map.dims.d;
    }
  }
  s.lineBytes = frame->lineBytes;
  s.sliceBytes = frame->lineBytes * frame->dim.h;
  s.timeBytes = s.sliceBytes * frame->dim.d;

  const int type = frame->type == FRM_ROI ? VA_PIXEL_LABELS : frame->type == FRM_INT ? VA_PIXEL_INT : VA_PIXEL_REAL;
  const uint32_t label = (uint32_t(GetRValue(roiColor)) << 16) | (uint32_t(GetGValue(roiColor)) << 8) | GetBValue(roiColor);
  const Writer out{type, label, buffer};
  switch (elem) {
    case twk::VoxelElem::Bit: zoom<bool>(s, frame, out); break;
    case twk::VoxelElem::U8: zoom<uint8_t>(s, frame, out); break;
    case twk::VoxelElem::U16: zoom<uint16_t>(s, frame, out); break;
    case twk::VoxelElem::U32: zoom<uint32_t>(s, frame, out); break;
    default: zoom<double>(s, frame, out); break;
  }
  if (geometry) {
    std::fill(geometry, geometry + 16, 0.0);
    geometry[VA_ZOOMGEO_X0 + 0] = s.shown.x0;
    geometry[VA_ZOOMGEO_X0 + 1] = s.shown.y0;
    geometry[VA_ZOOMGEO_X0 + 2] = s.shown.x1;
    geometry[VA_ZOOMGEO_X0 + 3] = s.shown.y1;
    geometry[VA_ZOOMGEO_WIDTH + 0] = s.map.dims.w;
    geometry[VA_ZOOMGEO_WIDTH + 1] = s.map.dims.h;
    geometry[VA_ZOOMGEO_WIDTH + 2] = s.map.dims.d;
    geometry[VA_ZOOMGEO_COLS + 0] = s.cols;
    geometry[VA_ZOOMGEO_COLS + 1] = s.rows;
    geometry[VA_ZOOMGEO_SCALE + 0] = s.scale * (s.shown.x1 - s.shown.x0) / (double(s.cols) * s.map.dims.w);
    geometry[VA_ZOOMGEO_SCALE + 1] = s.scale * (s.shown.y1 - s.shown.y0) / (double(s.rows) * s.map.dims.h);
    geometry[VA_ZOOMGEO_SPACING + 0] = s.map.spc.x;
    geometry[VA_ZOOMGEO_SPACING + 1] = s.map.spc.y;
    geometry[VA_ZOOMGEO_SLICE + 0] = s.slice;
    geometry[VA_ZOOMGEO_SLICE + 1] = s.time;
    geometry[VA_ZOOMGEO_PIXELTYPE] = type;
  }
  return type;
}
