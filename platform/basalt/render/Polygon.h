#pragma once
// Polygons burnt into one-bit slices, as the ROI layers hold them: w x h bits, lines of
// ((w + 15) / 16) x 2 bytes, the leftmost voxel in the most significant bit.

#include <cstdint>

#include "render/RectHelpers.h"

// Fills n polygons (counts[i] vertices each, one after the other in vertices; the last vertex joins
// the first) into bits by the even-odd rule at pixel centres: a pixel (x, y) is inside when the
// point (x, y) is, a centre on an edge counting as inside. fillValue 0 clears, any other value sets
// the pixels; outlineValue >= 0 also draws every edge's pixels with that value, while -1 draws the
// edges with the fill value, so that a contour always covers the pixels it passes through.
// Pixels outside w x h are clipped. False for null arrays or sizes below 1.
bool PR_DrawPolypolygon(uint8_t* bits, int w, int h, const POINT2D* vertices, const int* counts, int n,
                        int outlineValue, int fillValue);
