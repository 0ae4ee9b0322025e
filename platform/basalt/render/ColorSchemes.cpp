#include "ColorSchemes.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

uint32_t rgb(int r, int g, int b) {
  return (uint32_t(std::clamp(r, 0, 255)) << 16) | (uint32_t(std::clamp(g, 0, 255)) << 8) | uint32_t(std::clamp(b, 0, 255));
}

// Hue 0..360 at full saturation and value.
uint32_t hue(double h) {
  h = std::fmod(std::fmod(h, 360.0) + 360.0, 360.0);
  const double x = 1 - std::fabs(std::fmod(h / 60.0, 2.0) - 1);
  const int c = 255, m = int(std::floor(x * 255 + 0.5));
  switch (int(h / 60)) {
    case 0: return rgb(c, m, 0);
    case 1: return rgb(m, c, 0);
    case 2: return rgb(0, c, m);
    case 3: return rgb(0, m, c);
    case 4: return rgb(m, 0, c);
    default: return rgb(c, 0, m);
  }
}

}  // namespace

uint32_t VA_SchemeInxColor(int scheme, int index) {
  const int i = std::clamp(index, 0, 255);
  switch (scheme) {
    case 1:  // Rainbow: blue through cyan, green and yellow to red.
      return hue(240.0 - 240.0 * i / 255.0);
    case 2: {  // Comb: eight bands of the rainbow, each rising in brightness.
      const uint32_t c = hue(300.0 * (i / 32) / 7.0);
      const double v = 0.5 + 0.5 * (i % 32) / 31.0;
      return rgb(int(((c >> 16) & 0xFF) * v + 0.5), int(((c >> 8) & 0xFF) * v + 0.5), int((c & 0xFF) * v + 0.5));
    }
    case 3:  // Hot: black, red, yellow, white.
      return rgb(3 * i, 3 * i - 255, 3 * i - 510);
    case 4:  // Polar: blue below the middle, black at it, red above.
      return i < 128 ? rgb(0, 0, 2 * (127 - i) + 1) : rgb(2 * (i - 128) + 1, 0, 0);
    case 5: return rgb(i, 0, 0);
    case 6: return rgb(0, i, 0);
    case 7: return rgb(0, 0, i);
    case 8: return rgb(i, i, 255 - i);  // Blue-Yellow
    default: return rgb(i, i, i);       // Monochrome
  }
}

namespace {

template <class T>
bool isGrey(T v) {
  if constexpr (sizeof(T) == 8) return v != VOID_VALUE;
  else return v != VA_PIXEL_TRANSPARENT && v != VOID_INT_VALUE;
}

template <class T>
void drawPicture(const T* picture, int width, int height, const PR_VIEWFILT& f, const uint8_t lut[256][3],
                 uint8_t* bits, int64_t stride) {
  const PR_VIEWFILT e = f.adaptive ? VA_VolFiltEffective(sizeof(T) == 8 ? VA_PIXEL_REAL : VA_PIXEL_INT, picture, width,
                                                        height, &f)
                                   : f;
  const double lo = e.level - e.width / 2, w = e.width;
  // A window without width is a step at its level.
  const double k = w > 0 ? 256.0 / w : 0.0;
  auto row = [&](int y) {
    const T* src = picture + int64_t(y) * width;
    uint8_t* dst = bits + y * stride;
    if (k > 0) {
      // (v - lo) * k as v * k + offset: one multiply-add per pixel.
      const double offset = -lo * k;
      for (int x = 0; x < width; ++x, dst += 3) {
        const T v = src[x];
        if (!isGrey(v)) continue;
        // Clamped to [0, 255] by min and max rather than by branches, which a varied picture
        // mispredicts; the index is the same.
        const double t = std::min(std::max(double(v) * k + offset, 0.0), 255.0);
        const int index = int(t);
        const uint8_t* c = lut[index];
        dst[0] = c[0];
        dst[1] = c[1];
        dst[2] = c[2];
      }
      return;
    }
    for (int x = 0; x < width; ++x, dst += 3) {
      const T v = src[x];
      if (!isGrey(v)) continue;
      const uint8_t* c = lut[double(v) >= lo ? 255 : 0];
      dst[0] = c[0];
      dst[1] = c[1];
      dst[2] = c[2];
    }
  };
  // Rows write disjoint parts of the bitmap: large pictures are coloured in parallel.
  if (height < 32) {
    for (int y = 0; y < height; ++y) row(y);
    return;
  }
  tbb::parallel_for(tbb::blocked_range<int>(0, height, 16), [&](const tbb::blocked_range<int>& range) {
    for (int y = range.begin(); y != range.end(); ++y) row(y);
  });
}

// The colours of every scheme's 256 indices, worked out once: a picture is coloured by table
// lookups, not by a scheme's arithmetic per index.
constexpr int kSchemes = 9;
using SchemeTable = std::array<std::array<uint32_t, 256>, kSchemes>;

const SchemeTable& schemeTable() {
  static const SchemeTable table = [] {
    SchemeTable t{};
    for (int s = 0; s < kSchemes; ++s)
      for (int i = 0; i < 256; ++i) t[s][i] = VA_SchemeInxColor(s, i);
    return t;
  }();
  return table;
}

}  // namespace

PR_VIEWFILT VA_VolFiltEffective(int type, const void* picture, int width, int height, const PR_VIEWFILT* filter) {
  PR_VIEWFILT e = *filter;
  if (!filter->adaptive || !picture || width < 1 || height < 1) return e;
  double mn = VOID_VALUE, mx = -VOID_VALUE;
  const int64_t n = int64_t(width) * height;
  auto scan = [&](auto* p) {
    for (int64_t i = 0; i < n; ++i)
      if (isGrey(p[i])) {
        mn = std::min(mn, double(p[i]));
        mx = std::max(mx, double(p[i]));
      }
  };
  if (type == VA_PIXEL_REAL) scan(static_cast<const double*>(picture));
  else if (type == VA_PIXEL_INT) scan(static_cast<const uint32_t*>(picture));
  if (mn <= mx) {
    e.level = (mn + mx) / 2;
    e.width = mx - mn;
  }
  e.adaptive = 0;
  return e;
}

bool VA_VolFiltDrawRGB(int type, const void* picture, int width, int height, const PR_VIEWFILT* filter, uint8_t* bits,
                       int64_t stride, uint32_t scheme) {
  if (!picture || !filter || !bits || width < 1 || height < 1 || stride < int64_t(width) * 3) return false;
  if (type != VA_PIXEL_INT && type != VA_PIXEL_REAL) return false;
  const int s = scheme == 0xFFFFFFFFu ? filter->scheme : int(scheme);
  // Schemes outside the table are monochrome, as VA_SchemeInxColor draws them.
  const std::array<uint32_t, 256>& colours = schemeTable()[s >= 0 && s < kSchemes ? s : 0];
  uint8_t lut[256][3];
  for (int i = 0; i < 256; ++i) {
    const uint32_t c = colours[filter->invert ? 255 - i : i];
    lut[i][0] = uint8_t(c & 0xFF);
    lut[i][1] = uint8_t((c >> 8) & 0xFF);
    lut[i][2] = uint8_t((c >> 16) & 0xFF);
  }
  if (type == VA_PIXEL_INT)
    drawPicture(static_cast<const uint32_t*>(picture), width, height, *filter, lut, bits, stride);
  else
    drawPicture(static_cast<const double*>(picture), width, height, *filter, lut, bits, stride);
  return true;
}
