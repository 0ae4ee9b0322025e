// Polygons into one-bit slices: the even-odd rule, edges, clipping and far vertices.
#include <gtest/gtest.h>

#include <vector>

#include "render/Polygon.h"

namespace {

struct Slice {
  int w, h;
  std::vector<uint8_t> bits;
  Slice(int width, int height) : w(width), h(height), bits(size_t((width + 15) / 16 * 2 * height), 0) {}
  bool at(int x, int y) const { return (bits[size_t(y * ((w + 15) / 16 * 2) + x / 8)] >> (7 - x % 8)) & 1; }
  int count() const {
    int n = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) n += at(x, y);
    return n;
  }
};

TEST(Polygon, ARectangleCoversItsCornersAndTheEvenOddRuleLeavesAHole) {
  Slice s(20, 12);
  // An outer square and an inner one in the same call: the inner one is a hole.
  const std::vector<POINT2D> v = {{2, 1}, {15, 1}, {15, 10}, {2, 10}, {6, 4}, {10, 4}, {10, 7}, {6, 7}};
  const int counts[2] = {4, 4};
  ASSERT_TRUE(PR_DrawPolypolygon(s.bits.data(), s.w, s.h, v.data(), counts, 2, -1, 1));
  EXPECT_TRUE(s.at(2, 1));
  EXPECT_TRUE(s.at(15, 10));
  EXPECT_FALSE(s.at(16, 5));
  EXPECT_FALSE(s.at(8, 5)) << "inside the hole";
  EXPECT_TRUE(s.at(6, 5)) << "the hole's edge is drawn";
  EXPECT_EQ(s.count(), 14 * 10 - 3 * 2);
  // The bits beyond the width in the last byte stay clear.
  EXPECT_EQ(s.bits[2] & 0x0F, 0);
}

TEST(Polygon, ClipsToTheSliceAndClearsWithAZeroFill) {
  Slice s(10, 10);
  const std::vector<POINT2D> far = {{-2000000000, -5}, {2000000000, -5}, {5, 2000000000}};
  const int n = 3;
  ASSERT_TRUE(PR_DrawPolypolygon(s.bits.data(), s.w, s.h, far.data(), &n, 1, -1, 1));
  EXPECT_EQ(s.count(), 100);
  const std::vector<POINT2D> square = {{2, 2}, {4, 2}, {4, 4}, {2, 4}};
  const int four = 4;
  ASSERT_TRUE(PR_DrawPolypolygon(s.bits.data(), s.w, s.h, square.data(), &four, 1, -1, 0));
  EXPECT_EQ(s.count(), 91);
  // A single point and a line are their pixels.
  Slice t(8, 8);
  const std::vector<POINT2D> dot = {{3, 3}}, line = {{0, 7}, {7, 7}};
  const int one = 1, two = 2;
  ASSERT_TRUE(PR_DrawPolypolygon(t.bits.data(), t.w, t.h, dot.data(), &one, 1, -1, 1));
  ASSERT_TRUE(PR_DrawPolypolygon(t.bits.data(), t.w, t.h, line.data(), &two, 1, -1, 1));
  EXPECT_EQ(t.count(), 9);
  EXPECT_FALSE(PR_DrawPolypolygon(nullptr, 8, 8, dot.data(), &one, 1, -1, 1));
}

}  // namespace
