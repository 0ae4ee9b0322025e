#pragma once
// Colour schemes of the display filter and the mapping of a zoomed grey picture through a layer's
// window into a 24-bit bitmap.
//
// Scheme numbers: 0 Monochrome, 1 Rainbow, 2 Comb, 3 Hot, 4 Polar, 5 Red, 6 Green, 7 Blue,
// 8 Blue-Yellow. A value v of a window with level L and width W takes the scheme index
// floor((v - (L - W/2)) * 256 / W) limited to 0..255, mirrored (255 - index) when the filter
// inverts. With the adaptive flag the window spans the smallest to the largest value of the picture.

#include <cstdint>

#include "TwkTypes.h"
#include "ViewFilt.h"

constexpr int VA_NUM_COLOR_SCHEMES = 9;

// Colour of a scheme at index 0..255 as 0x00RRGGBB (red in bits 16..23). Unknown schemes are
// monochrome; the index is limited to 0..255.
uint32_t VA_SchemeInxColor(int scheme, int index);

// Pixel types of a zoomed picture (VA_PictureZoom).
enum : int {
  VA_PIXEL_NONE = 0,    // nothing to draw
  VA_PIXEL_LABELS = 3,  // 32-bit 0x00RRGGBB labels, 0xFFFFFFFF transparent
  VA_PIXEL_INT = 4,     // 32-bit unsigned grey values, 0xFFFFFFFF outside the picture
  VA_PIXEL_REAL = 5,    // 64-bit grey values, 1e60 outside the picture or void
};
constexpr uint32_t VA_PIXEL_TRANSPARENT = 0xFFFFFFFFu;

// Maps a grey picture (type 4 or 5) of width x height pixels through the filter into a 24-bit
// top-down bitmap (blue, green, red bytes; rows of stride bytes). Pixels outside the picture and
// void values (1e60; 16777215 in integer pictures) leave the bitmap as it is. scheme overrides the
// filter's colour scheme unless it is 0xFFFFFFFF. False for bad arguments or another pixel type.
// The filter that VA_VolFiltDrawRGB applies to a picture: an adaptive filter takes the picture's
// range as its window and loses the adaptive flag, so that the picture can be drawn in parts.
PR_VIEWFILT VA_VolFiltEffective(int type, const void* picture, int width, int height, const PR_VIEWFILT* filter);

bool VA_VolFiltDrawRGB(int type, const void* picture, int width, int height, const PR_VIEWFILT* filter, uint8_t* bits,
                       int64_t stride, uint32_t scheme);
