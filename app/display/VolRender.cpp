// Drawing of layer sets and volume layers into the paint target: render caches, window and colour
// mapping, opacity, interlace and the colour-label overlay.

#include "VolRender.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "render/ColorSchemes.h"
#include "render/PictureZoom.h"
#include "render/ProjectionGeometry.h"

int32_t g_DocDisplayCount = 0;
double g_DocDisplayClock = 0;

TW_RENDERCACHE::~TW_RENDERCACHE() { pf_free(&picture); }

namespace {

// The paint target of the view a projection record belongs to: the draw into that view's bitmap
// published it. Without a view the target is empty and nothing is drawn.
const TW_PAINTTARGET& paintTargetOf(const VA_VOLPROJ* projection) {
  static const TW_PAINTTARGET none;
  return projection && projection->view ? projection->view->paintTarget : none;
}

}  // namespace

void CDrawSet::Draw(CDrawView* view, QPainter* dc, int dx, int dy) {
  if (!IsVisibleInView(view)) return;
  VA_VOLPROJ* projection = IsVolumeSet() ? view->GetProjection() : nullptr;
  for (int i = 0; i < NumEntries(); ++i) {
    CDrawObj* entry = GetEntry(i);
    if (!entry->IsMarked() && !displayUnmarked) continue;
    if (entry->kind == DRAWOBJ_VOL) {
      if (projection) static_cast<CDrawVol*>(entry)->Draw(projection, dc);
    } else {
      entry->Draw(view, dc, dx, dy);
    }
  }
}

int CDrawVol::InterlacePosition(int* count) const {
  int n = 0, index = 0;
  const CDrawSet* set = document ? document->GetActiveSet() : nullptr;
  if (set)
    for (int i = 0; i < set->NumLayers(); ++i) {
      const CDrawVol* layer = set->GetLayer(i);
      if (!layer || !layer->IsMarked() || !layer->vol || !layer->vol->frame || layer->vol->IsROI()) continue;
      if (layer == this) index = n;
      ++n;
    }
  if (count) *count = n;
  return index;
}

bool CDrawVol::IsCacheValid(CRenderCache* base, const VA_VOLPROJ* p, int32_t roiColor, const DRECT* layerRect) {
  auto* c = dynamic_cast<TW_RENDERCACHE*>(base);
  if (!c || !p || !layerRect) return false;
  const VA_VOLPROJ& q = c->projection;
  if (q.view != p->view) return false;
  for (int k = 0; k < 3; ++k)
    if (std::fabs(q.rotation[k] - p->rotation[k]) >= 1e-100) return false;
  if (q.slice != p->slice || q.timeIndex != p->timeIndex || q.filmView != p->filmView || q.projType != p->projType ||
      q.mode != p->mode || q.slabThickness != p->slabThickness)
    return false;
  if (c->roiColor != roiColor || !VA_IsEqualRect(&c->layerRect, layerRect)) return false;
  const TW_PAINTTARGET& t = paintTargetOf(p);
  if (c->visible[0] != t.visible.x0 || c->visible[1] != t.visible.y0 || c->visible[2] != t.visible.x1 ||
      c->visible[3] != t.visible.y1 || c->width != t.width || c->height != t.height ||
      std::memcmp(&c->client, &t.client, sizeof(RECT2D)) != 0)
    return false;
  // The voxels must be the same buffers: a replaced frame is drawn afresh. Writes into the present
  // buffer are not seen; operations that make them free the caches.
  const FRAME* f = vol && vol->frame ? vol->frame : nullptr;
  if (!f || c->frame != f || c->frameData != f->data || std::memcmp(&c->frameDims, &f->dim, sizeof(DIM3D)) != 0) {
    c->frame = f;
    c->frameData = f ? f->data : nullptr;
    if (f) c->frameDims = f->dim;
    return false;
  }
  return true;
}

namespace {

bool interpolationOn(const CVol* vol, bool film) {
  bool on;
  switch (vol->Type()) {
    case FRM_REAL: on = TW_Options().interpPmaps != 0; break;
    case FRM_ROI: on = TW_Options().interpRois != 0; break;
    default: on = TW_Options().interpVols != 0; break;
  }
  if (film && !TW_Options().interpFilmView) on = false;
  return on;
}

// Whether pixel (x, y) belongs to layer r of n interlaced layers.
bool chosen(int mode, int cell, int n, int r, int x, int y) {
  switch (mode) {
    case 1: return (x / cell) % n == r;
    case 2: return (y / cell) % n == r;
    case 3: return ((x / cell) + ((y / cell) % n)) % n == r;
    default: return true;
  }
}

// (src * alpha + dst * (255 - alpha)) / 255 with integer division, without the division: for
// v <= 65025, (v + 1 + (v >> 8)) >> 8 equals v / 255.
inline uint8_t blend255(int src, int dst, int alpha) {
  const int v = src * alpha + dst * (255 - alpha);
  return uint8_t((v + 1 + (v >> 8)) >> 8);
}

// Blends count bytes of src over dst at alpha, as blend255 does byte by byte. With SSE2, sixteen
// bytes at a time in 16-bit lanes: src * alpha + dst * (255 - alpha) <= 65025 and the rounding
// sum <= 65280 both fit an unsigned 16-bit lane, so the integer result is the same.
void blendRow(const uint8_t* __restrict src, uint8_t* __restrict dst, int count, int alpha) {
  const int beta = 255 - alpha;
  int i = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1);
  const __m128i a = _mm_set1_epi16(int16_t(alpha)), b = _mm_set1_epi16(int16_t(beta));
  auto half = [&](__m128i s16, __m128i d16) {
    const __m128i v = _mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, b));
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(v, one), _mm_srli_epi16(v, 8)), 8);
  };
  for (; i + 16 <= count; i += 16) {
    const __m128i s8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i d8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    const __m128i lo = half(_mm_unpacklo_epi8(s8, zero), _mm_unpacklo_epi8(d8, zero));
    const __m128i hi = half(_mm_unpackhi_epi8(s8, zero), _mm_unpackhi_epi8(d8, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
#endif
  for (; i < count; ++i) {
    const int v = src[i] * alpha + dst[i] * beta;
    dst[i] = uint8_t((v + 1 + (v >> 8)) >> 8);
  }
}

void overlayLabels(const uint32_t* labels, int width, int height, int alpha, uint8_t* bits, int64_t stride) {
  auto row = [&](int y) {
    const uint32_t* src = labels + int64_t(y) * width;
    uint8_t* dst = bits + y * stride;
    if (alpha == 255) {
      for (int x = 0; x < width; ++x, dst += 3) {
        const uint32_t c = src[x];
        if (c == VA_PIXEL_TRANSPARENT) continue;
        dst[0] = uint8_t(c & 0xFF);
        dst[1] = uint8_t((c >> 8) & 0xFF);
        dst[2] = uint8_t((c >> 16) & 0xFF);
      }
      return;
    }
    // Every pixel blended and the bitmap's value kept where the label is transparent: a select
    // instead of a branch that a scattered mask mispredicts. The label of the previous pixel and
    // its weighted channels are reused while the label stays the same.
    uint32_t last = VA_PIXEL_TRANSPARENT;
    int wb = 0, wg = 0, wr = 0;
    const int beta = 255 - alpha;
    for (int x = 0; x < width; ++x, dst += 3) {
      const uint32_t c = src[x];
      const bool on = c != VA_PIXEL_TRANSPARENT;
      if (on && c != last) {
        last = c;
        wb = int(c & 0xFF) * alpha;
        wg = int((c >> 8) & 0xFF) * alpha;
        wr = int((c >> 16) & 0xFF) * alpha;
      }
      const int vb = wb + dst[0] * beta, vg = wg + dst[1] * beta, vr = wr + dst[2] * beta;
      const uint8_t b = uint8_t((vb + 1 + (vb >> 8)) >> 8), g = uint8_t((vg + 1 + (vg >> 8)) >> 8),
                    r = uint8_t((vr + 1 + (vr >> 8)) >> 8);
      dst[0] = on ? b : dst[0];
      dst[1] = on ? g : dst[1];
      dst[2] = on ? r : dst[2];
    }
  };
  if (height == 1) {
    row(0);
    return;
  }
  tbb::parallel_for(tbb::blocked_range<int>(0, height), [&](const tbb::blocked_range<int>& range) {
    for (int y = range.begin(); y != range.end(); ++y) row(y);
  });
}

}  // namespace

void CDrawVol::Draw(VA_VOLPROJ* projection, QPainter*) {
  const TW_PAINTTARGET& t = paintTargetOf(projection);
  if (!t.bits || t.width < 1 || t.height < 1 || !IsMarked() || !projection || !vol || !vol->frame) return;
  const bool film = VA_IsFilmView(vol->Dim(), vol->Spc(), projection);
  projection->mode = interpolationOn(vol, film) ? 1 : 0;
  DRECT layerRect;
  GetWorldRect(&layerRect);

  TW_RENDERCACHE* cache = nullptr;
  std::unique_ptr<CRenderCache> outdated;  // its picture buffer is reused when the size allows
  for (size_t i = 0; i < caches.size(); ++i) {
    auto* c = dynamic_cast<TW_RENDERCACHE*>(caches[i].get());
    if (!c || c->projection.view != projection->view) continue;
    if (IsCacheValid(c, projection, filter.roiColor, &layerRect)) {
      cache = c;
    } else {
      outdated = std::move(caches[i]);
      caches.erase(caches.begin() + long(i));
    }
    break;
  }
  if (!cache) {
    auto fresh = std::make_unique<TW_RENDERCACHE>();
    const double visible[4] = {t.visible.x0, t.visible.y0, t.visible.x1, t.visible.y1};
    const int64_t bytes = VA_PictureZoomBytes(vol->frame, t.width, t.height);
    auto* old = static_cast<TW_RENDERCACHE*>(outdated.get());
    if (old && old->picture && old->pictureBytes >= bytes) {
      fresh->picture = old->picture;
      fresh->pictureBytes = old->pictureBytes;
      old->picture = nullptr;
    } else {
      fresh->picture = bytes > 0 ? pf_malloc(bytes) : nullptr;
      fresh->pictureBytes = bytes;
    }
    outdated.reset();
    if (!fresh->picture) return;
    fresh->pixelType = VA_PictureZoomInto(vol->frame, uint32_t(filter.roiColor), &layerRect, vol->Spc(), projection,
                                          visible, t.width, t.height, fresh->picture, fresh->pictureBytes,
                                          fresh->geometry);
    if (fresh->pixelType == VA_PIXEL_NONE) return;
    fresh->projection = *projection;
    fresh->roiColor = filter.roiColor;
    fresh->layerRect = layerRect;
    std::copy(visible, visible + 4, fresh->visible);
    fresh->width = t.width;
    fresh->height = t.height;
    fresh->client = t.client;
    fresh->frame = vol->frame;
    fresh->frameData = vol->frame->data;
    fresh->frameDims = vol->frame->dim;
    cache = fresh.get();
    caches.insert(caches.begin(), std::move(fresh));
  }
  std::copy(cache->geometry, cache->geometry + 16, zoomGeometry);

  // floor(opacity * 2.55 + 0.5) in integers: 2.55 has no exact double, and 50 % must give 128.
  const int alpha = std::clamp((255 * std::max(opacity, 0) + 50) / 100, 0, 255);
  const CDrawSet* active = document ? document->GetActiveSet() : nullptr;
  int n = 0;
  const int r = InterlacePosition(&n);
  const int mode = active ? active->interlaceMode : 0, cell = active ? active->interlaceCell : 1;
  bool interlace = mode != 0 && cell >= 2 && n >= 1;
  if (mode == 3 && n > 2) interlace = false;
  const int64_t stride = TW_BitmapStride(t.width);

  switch (cache->pixelType) {
    case VA_PIXEL_INT:
    case VA_PIXEL_REAL: {
      if (alpha == 255 && !interlace) {
        VA_VolFiltDrawRGB(cache->pixelType, cache->picture, t.width, t.height, &filter, t.bits, stride, 0xFFFFFFFF);
        break;
      }
      // Bands of rows in parallel, each through a scratch band: the bitmap's pixels, the picture's
      // colours over them, then the chosen pixels blended back. Pixels the picture leaves
      // transparent keep the bitmap's value in the scratch band, and blending a value with itself
      // gives it back unchanged. The scratch band is kept per thread between paints.
      const PR_VIEWFILT effective = VA_VolFiltEffective(cache->pixelType, cache->picture, t.width, t.height, &filter);
      const int64_t pixelBytes = cache->pixelType == VA_PIXEL_REAL ? 8 : 4;
      const int width = t.width;
      uint8_t* const bits = t.bits;
      const void* const picture = cache->picture;
      const int pixelType = cache->pixelType;
      auto band = [&](int y0, int y1) {
        thread_local std::vector<uint8_t> scratch;
        const int64_t bytes = stride * (y1 - y0);
        if (int64_t(scratch.size()) < bytes) scratch.resize(size_t(bytes));
        uint8_t* const first = bits + y0 * stride;
        std::memcpy(scratch.data(), first, size_t(bytes));
        const auto* rows = static_cast<const uint8_t*>(picture) + int64_t(y0) * width * pixelBytes;
        VA_VolFiltDrawRGB(pixelType, rows, width, y1 - y0, &effective, scratch.data(), stride, 0xFFFFFFFF);
        for (int y = y0; y < y1; ++y) {
          uint8_t* dst = bits + y * stride;
          const uint8_t* src = scratch.data() + (y - y0) * stride;
          if (!interlace) {
            blendRow(src, dst, 3 * width, alpha);
            continue;
          }
          for (int x = 0; x < width; ++x) {
            if (!chosen(mode, cell, n, r, x, y)) continue;
            for (int c = 0; c < 3; ++c) dst[3 * x + c] = blend255(src[3 * x + c], dst[3 * x + c], alpha);
          }
        }
      };
      if (t.height < 32) {
        band(0, t.height);
        break;
      }
      tbb::parallel_for(tbb::blocked_range<int>(0, t.height, 16),
                        [&](const tbb::blocked_range<int>& range) { band(range.begin(), range.end()); });
      break;
    }
    case VA_PIXEL_LABELS:
      overlayLabels(static_cast<const uint32_t*>(cache->picture), t.width, t.height, alpha, t.bits, stride);
      break;
    default:
      twk::showNamedError(L"CDrawVol::Draw", L"CDrawVol::Draw: Unexpected pixel type");
      break;
  }
}
