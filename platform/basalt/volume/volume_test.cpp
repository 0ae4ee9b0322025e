// Tests of the volume family: frames, boxes of every voxel kind (ROI bit packing at odd widths and
// offsets included), fills, crops, whole-volume reads, ROI curves, dynamic kinds, orthogonal
// projections and undo records.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "BoxHelpers.h"
#include "UndoRec.h"
#include "volume/BoxTransfer.h"
#include "volume/Volume.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Kind {
  const char* name;
  FRMTYPE type;
  int bpv;
};
const Kind kKinds[] = {{"roi", FRM_ROI, 1}, {"int8", FRM_INT, 8}, {"int16", FRM_INT, 16}, {"int32", FRM_INT, 32},
                       {"real", FRM_REAL, 64}};

// A value per voxel that differs between neighbours and fits the kind.
double pattern(const Kind& k, int x, int y, int z, int t) {
  const int64_t n = x + 3 * y + 7 * z + 11 * t;
  switch (k.bpv) {
    case 1: return (x * 7 + y * 3 + z * 5 + t) % 3 == 0 ? 1 : 0;
    case 8: return double(n % 251);
    case 16: return double((n * 257) % 65521);
    case 32: return double((n * 2654435761ull) % 4294967291ull);
    default: return x * 0.5 - y * 1.25 + z * 100 + t * 1e4;
  }
}

FRAME* patterned(const Kind& k, DIM3D dims) {
  FRAME* f = VA_VolCreateUniform(k.type, dims, 0.0, k.bpv);
  for (int t = 0; t < dims.t; ++t)
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(f, x, y, z, t, pattern(k, x, y, z, t));
  return f;
}

// Element (x, y, z) of a buffer holding a box of w x h voxels per slice.
double bufferValue(const void* buf, twk::VoxelElem e, int64_t w, int64_t h, int64_t x, int64_t y, int64_t z) {
  const uint8_t* line = static_cast<const uint8_t*>(buf) + (z * h + y) * twk::voxelLineBytes(w, e);
  switch (e) {
    case twk::VoxelElem::Bit: return twk::getBit(line, x) ? 1 : 0;
    case twk::VoxelElem::U8: return line[x];
    case twk::VoxelElem::U16: return reinterpret_cast<const uint16_t*>(line)[x];
    case twk::VoxelElem::U32: return reinterpret_cast<const uint32_t*>(line)[x];
    default: return reinterpret_cast<const double*>(line)[x];
  }
}

// No bit beyond the width of any ROI line is set.
bool roiPaddingClear(const FRAME* f) {
  for (int64_t line = 0; line < int64_t(f->dim.h) * f->dim.d * f->dim.t; ++line)
    for (int64_t bit = f->dim.w; bit < f->lineBytes * 8; ++bit)
      if (twk::getBit(f->data + line * f->lineBytes, bit)) return false;
  return true;
}

bool inBox(const RECT3D& b, int x, int y, int z) {
  return x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1 && z >= b.z0 && z <= b.z1;
}

class VolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = twk::setUi(&ui_);
    allocated_ = PR_GetTotalAllocSize();
  }
  void TearDown() override {
    twk::setUi(previous_);
    EXPECT_EQ(PR_GetTotalAllocSize(), allocated_) << "counted memory left allocated";
  }
  twk::ScriptedUi ui_;

 private:
  twk::Ui* previous_ = nullptr;
  int64_t allocated_ = 0;
};

TEST_F(VolumeTest, BoxRoundTripsForEveryKind) {
  const DIM3D dims{37, 5, 4, 3};
  const struct { const char* name; RECT3D box; } boxes[] = {
      {"whole", {0, 0, 0, 36, 4, 3}},
      {"odd offset and width", {3, 1, 1, 21, 3, 2}},
      {"one voxel", {36, 4, 3, 36, 4, 3}},
      {"whole lines of some slices", {0, 0, 2, 36, 4, 3}},
      {"word-crossing run", {9, 0, 0, 33, 0, 0}},
  };
  for (const Kind& k : kKinds) {
    FRAME* f = patterned(k, dims);
    for (const auto& c : boxes) {
      SCOPED_TRACE(std::string(k.name) + " " + c.name);
      const RECT3D& b = c.box;
      const int64_t w = b.x1 - b.x0 + 1, h = b.y1 - b.y0 + 1, d = b.z1 - b.z0 + 1;
      const twk::VoxelElem e = twk::voxelElemOf(f);
      void* buf = VA_VolGetBox(f, 2, &b);
      ASSERT_NE(buf, nullptr);
      ASSERT_EQ(VA_VolBoxBytes(f, &b, 0), twk::voxelLineBytes(w, e) * h * d);
      for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            ASSERT_EQ(bufferValue(buf, e, w, h, x, y, z), pattern(k, b.x0 + x, b.y0 + y, b.z0 + z, 2))
                << x << "," << y << "," << z;
      if (e == twk::VoxelElem::Bit) {
        // The buffer is laid out as an ROI frame of the box's size, padding clear.
        FRAME view{FRM_ROI, DIM3D{int32_t(w), int32_t(h), int32_t(d), 1}, 1, twk::voxelLineBytes(w, e),
                   static_cast<uint8_t*>(buf)};
        EXPECT_TRUE(roiPaddingClear(&view));
      }

      FRAME* g = VA_VolCreateUniform(k.type, dims, 0.0, k.bpv);
      ASSERT_TRUE(VA_VolSetBox(g, 2, &b, buf));
      for (int t = 0; t < dims.t; ++t)
        for (int z = 0; z < dims.d; ++z)
          for (int y = 0; y < dims.h; ++y)
            for (int x = 0; x < dims.w; ++x) {
              const double want = t == 2 && inBox(b, x, y, z) ? pattern(k, x, y, z, t) : 0.0;
              ASSERT_EQ(twk::voxelValue(g, x, y, z, t), want) << x << "," << y << "," << z << "," << t;
            }
      if (k.type == FRM_ROI) {
        EXPECT_TRUE(roiPaddingClear(g));
      }
      pf_free(&buf);
      PR_FrameDelete(&g);
    }
    PR_FrameDelete(&f);
  }
}

TEST_F(VolumeTest, BoxesOutsideTheFrameAreRefused) {
  FRAME* f = VA_VolCreateUniform(FRM_INT, DIM3D{4, 4, 2, 2}, 0.0, 16);
  uint16_t buf[64] = {};
  const RECT3D boxes[] = {{-1, 0, 0, 2, 2, 0}, {0, 0, 0, 4, 3, 1}, {2, 0, 0, 1, 3, 1}, {0, 0, 1, 3, 3, 2}};
  for (const RECT3D& b : boxes) {
    EXPECT_EQ(VA_VolGetBox(f, 0, &b), nullptr);
    EXPECT_FALSE(VA_VolGetBox(f, 0, &b, buf));
    EXPECT_FALSE(VA_VolSetBox(f, 0, &b, buf));
  }
  EXPECT_FALSE(VA_VolGetBox(f, 2, nullptr, buf));  // no such time point
  EXPECT_FALSE(VA_VolSetBox(f, -1, nullptr, buf));
  EXPECT_FALSE(VA_VolGetBox(f, 0, nullptr, buf, 12));  // no such width
  EXPECT_TRUE(VA_VolGetBox(f, 1, nullptr, buf));
  void* native = VA_VolGetBox(f, 1, nullptr, 0, 1, 0);  // integer values after bpv 0: a new buffer
  EXPECT_NE(native, nullptr);
  pf_free(&native);
  PR_FrameDelete(&f);
}

TEST_F(VolumeTest, ConversionsBetweenKinds) {
  const double reals[] = {-3.2, 2.5, 70000.4, VOID_VALUE, kNaN, 4.4999, 0.0};
  FRAME* real = VA_CreateVol(reals, 64, 7, 1, 1, 1);
  ASSERT_NE(real, nullptr);
  const struct { int bpv; double want[7]; } cases[] = {
      {8, {0, 3, 255, 255, 0, 4, 0}},
      {16, {0, 3, 65535, 65535, 0, 4, 0}},
      {32, {0, 3, 70000, 16777215, 0, 4, 0}},
      {1, {1, 1, 1, 0, 0, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bpv);
    void* buf = VA_VolGetBox(real, 0, nullptr, c.bpv);
    ASSERT_NE(buf, nullptr);
    for (int x = 0; x < 7; ++x) EXPECT_EQ(bufferValue(buf, twk::voxelElemOfBpv(c.bpv), 7, 1, x, 0, 0), c.want[x]) << x;
    // Writing the doubles into a frame of that width converts the same way.
    FRAME* g = VA_VolCreateUniform(&real->dim, c.bpv, 0.0);
    ASSERT_TRUE(VA_VolSetBox(g, 0, nullptr, reals, 64));
    for (int x = 0; x < 7; ++x) EXPECT_EQ(twk::voxelValue(g, x, 0, 0, 0), c.want[x]) << x;
    pf_free(&buf);
    PR_FrameDelete(&g);
  }

  // An ROI read as numbers takes the caller's inside and outside values.
  const uint8_t inside[] = {1, 0, 9, 0, 0};
  FRAME* roi = VA_CreateVol(inside, 1, 5, 1, 1, 1);
  uint32_t out[5];
  ASSERT_TRUE(VA_VolGetBox(roi, 0, nullptr, out, 32, 100.0, 7.0));
  const uint32_t wantRoi[] = {100, 7, 100, 7, 7};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(out[x], wantRoi[x]);

  // Integer widths clamp; doubles are exact.
  const uint32_t ints[] = {300, 70000, 16777215};
  FRAME* i32 = VA_CreateVol(ints, 32, 3, 1, 1, 1);
  uint8_t narrow[3];
  double wide[3];
  ASSERT_TRUE(VA_VolGetBox(i32, 0, nullptr, narrow, 8));
  ASSERT_TRUE(VA_VolGetBox(i32, 0, nullptr, wide, 64));
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(narrow[x], 255);
    EXPECT_EQ(wide[x], double(ints[x]));
  }

  // Frame to frame across kinds: an ROI into an 8-bit box of a larger frame.
  FRAME* bytes = VA_VolCreateUniform(FRM_INT, DIM3D{8, 2, 1, 2}, 5.0, 8);
  const RECT3D dst{2, 1, 0, 6, 1, 0};
  ASSERT_TRUE(VA_VolSetBox(bytes, 1, &dst, roi, 0, nullptr));
  const double wantBytes[] = {5, 5, 1, 0, 1, 0, 0, 5};
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(twk::voxelValue(bytes, x, 1, 0, 1), wantBytes[x]) << x;
    EXPECT_EQ(twk::voxelValue(bytes, x, 1, 0, 0), 5.0);
  }
  const RECT3D wrongSize{2, 1, 0, 5, 1, 0};
  EXPECT_FALSE(VA_VolSetBox(bytes, 1, &wrongSize, roi, 0, nullptr));

  PR_FrameDelete(&real);
  PR_FrameDelete(&roi);
  PR_FrameDelete(&i32);
  PR_FrameDelete(&bytes);
}

TEST_F(VolumeTest, OverlappingBoxesWithinOneFrame) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    FRAME* f = patterned(k, DIM3D{21, 3, 2, 1});
    FRAME* before = VA_VolClone(f);
    const RECT3D src{0, 0, 0, 17, 2, 1}, dst{3, 0, 0, 20, 2, 1};
    ASSERT_TRUE(VA_VolSetBox(f, 0, &dst, f, 0, &src));
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 21; ++x) {
          const double want = x >= 3 ? twk::voxelValue(before, x - 3, y, z, 0) : twk::voxelValue(before, x, y, z, 0);
          ASSERT_EQ(twk::voxelValue(f, x, y, z, 0), want) << x;
        }
    PR_FrameDelete(&f);
    PR_FrameDelete(&before);
  }
}

TEST_F(VolumeTest, BitCopiesMatchBitByBitReference) {
  std::mt19937 random(12345);
  std::vector<uint8_t> src(48), dst(48), want(48);
  for (int round = 0; round < 3000; ++round) {
    for (auto& b : src) b = uint8_t(random());
    for (auto& b : dst) b = uint8_t(random());
    want = dst;
    const int64_t sp = random() % 70, dp = random() % 70, n = random() % (48 * 8 - 70);
    for (int64_t i = 0; i < n; ++i) twk::setBit(want.data(), dp + i, twk::getBit(src.data(), sp + i));
    twk::copyBits(src.data(), sp, dst.data(), dp, n);
    ASSERT_EQ(dst, want) << "sp " << sp << " dp " << dp << " n " << n;
  }
}

TEST_F(VolumeTest, LargeBoxesMatchVoxelReads) {
  // Large enough to run in parallel chunks.
  const DIM3D dims{256, 256, 12, 2};
  const RECT3D boxes[] = {{0, 0, 0, 255, 255, 11}, {5, 3, 1, 250, 254, 10}};
  for (const Kind& k : {kKinds[0], kKinds[2], kKinds[4]}) {
    FRAME* f = patterned(k, dims);
    for (const RECT3D& b : boxes) {
      SCOPED_TRACE(k.name);
      const int64_t w = b.x1 - b.x0 + 1, h = b.y1 - b.y0 + 1, d = b.z1 - b.z0 + 1;
      void* buf = VA_VolGetBox(f, 1, &b);
      ASSERT_NE(buf, nullptr);
      const twk::VoxelElem e = twk::voxelElemOf(f);
      int64_t mismatches = 0;
      for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            mismatches += bufferValue(buf, e, w, h, x, y, z) != twk::voxelValue(f, b.x0 + x, b.y0 + y, b.z0 + z, 1);
      EXPECT_EQ(mismatches, 0);
      FRAME* g = VA_VolCreateUniform(k.type, dims, 0.0, k.bpv);
      ASSERT_TRUE(VA_VolSetBox(g, 1, &b, buf));
      void* back = VA_VolGetBox(g, 1, &b);
      EXPECT_EQ(0, std::memcmp(back, buf, size_t(VA_VolBoxBytes(f, &b, 0))));
      pf_free(&buf);
      pf_free(&back);
      PR_FrameDelete(&g);
    }
    PR_FrameDelete(&f);
  }
}

TEST_F(VolumeTest, FillInsideAndOutsideBoxes) {
  const DIM3D dims{19, 4, 3, 2};
  const struct {
    const char* name;
    RECT3D box;
    bool inside;
    int t;
  } cases[] = {
      {"inside one time point", {2, 1, 0, 16, 2, 1}, true, 1},
      {"inside, clipped", {-5, 2, 1, 30, 9, 1}, true, 0},
      {"outside, every time point", {3, 1, 1, 17, 2, 1}, false, -1},
      {"outside of a box beyond the volume", {40, 0, 0, 50, 1, 1}, false, 0},
  };
  for (const Kind& k : {kKinds[0], kKinds[2], kKinds[4]}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(k.name) + " " + c.name);
      FRAME* f = VA_VolCreateUniform(k.type, dims, 0.0, k.bpv);
      ASSERT_TRUE(VA_VolFillBox(f, c.t, &c.box, c.inside, 1.0));
      for (int t = 0; t < dims.t; ++t)
        for (int z = 0; z < dims.d; ++z)
          for (int y = 0; y < dims.h; ++y)
            for (int x = 0; x < dims.w; ++x) {
              const bool timeHit = c.t < 0 || c.t == t;
              const bool hit = timeHit && inBox(c.box, x, y, z) == c.inside;
              ASSERT_EQ(twk::voxelValue(f, x, y, z, t), hit ? 1.0 : 0.0) << x << "," << y << "," << z << "," << t;
            }
      if (k.type == FRM_ROI) {
        EXPECT_TRUE(roiPaddingClear(f));
      }
      PR_FrameDelete(&f);
    }
  }
  FRAME* f = VA_VolCreateUniform(FRM_ROI, dims, 0.0);
  const RECT3D inverted{5, 0, 0, 4, 1, 1};
  EXPECT_FALSE(VA_VolFillBox(f, 0, &inverted, true, 1.0));
  EXPECT_FALSE(VA_VolFillBox(f, 2, nullptr, true, 1.0));
  ASSERT_TRUE(VA_VolFillBox(f, -1, nullptr, 1.0));
  EXPECT_TRUE(roiPaddingClear(f));
  EXPECT_EQ(twk::voxelValue(f, 18, 3, 2, 1), 1.0);
  PR_FrameDelete(&f);
}

TEST_F(VolumeTest, SlicesAndWholeVolumes) {
  const Kind k = kKinds[1];
  FRAME* f = patterned(k, DIM3D{5, 3, 2, 3});
  // The 32-bit integers of time points 1 and 2.
  uint32_t* all = static_cast<uint32_t*>(VA_VolGetAll(f, 1, 0, 0));
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(pf_msize(all) >= 2 * 30 * sizeof(uint32_t), true);
  EXPECT_EQ(all[0], uint32_t(pattern(k, 0, 0, 0, 1)));
  EXPECT_EQ(all[30 + 15 + 5 + 4], uint32_t(pattern(k, 4, 1, 1, 2)));
  pf_free(&all);
  double* one = static_cast<double*>(VA_VolGetAll(f, 2, 64, 1));
  EXPECT_EQ(one[29], pattern(k, 4, 2, 1, 2));
  pf_free(&one);
  EXPECT_EQ(VA_VolGetAll(f, 2, 64, 2), nullptr);  // beyond the last time point
  EXPECT_EQ(VA_VolGetAll(f, 0, 12, 1, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), L"VA_VolGetAll : Invalid number of bits per voxel");

  const uint8_t slice[15] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5};
  ASSERT_TRUE(VA_VolSetSlice(f, 2, 1, slice, 8));
  EXPECT_FALSE(VA_VolSetSlice(f, 2, 2, slice, 8));
  CVol v;
  v.frame = f;
  uint8_t* back = static_cast<uint8_t*>(v.GetSlice(2, 1));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(0, std::memcmp(back, slice, 15));
  EXPECT_EQ(twk::voxelValue(f, 0, 0, 0, 2), pattern(k, 0, 0, 0, 2));  // other slices untouched
  pf_free(&back);

  // An ROI read with 8 bits gives one byte per voxel, 1 inside.
  FRAME* roi = VA_VolCreateUniform(FRM_ROI, DIM3D{3, 1, 1, 1}, 0.0);
  twk::setRoiBit(roi, 1, 0, 0, 0, true);
  uint8_t* mask = static_cast<uint8_t*>(VA_VolGetAll(roi, 0, 8));
  EXPECT_EQ(mask[0], 0);
  EXPECT_EQ(mask[1], 1);
  pf_free(&mask);
  PR_FrameDelete(&roi);
}

TEST_F(VolumeTest, CropFourDimensionalBoxes) {
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(k.name);
    FRAME* f = patterned(k, DIM3D{23, 4, 5, 4});
    const RECT4D box{5, 1, 1, 21, 3, 3, 1, 2};
    FRAME* c = VA_VolCrop(f, &box);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type, f->type);
    EXPECT_EQ(c->bpv, f->bpv);
    EXPECT_EQ(c->dim.w, 17);
    EXPECT_EQ(c->dim.h, 3);
    EXPECT_EQ(c->dim.d, 3);
    EXPECT_EQ(c->dim.t, 2);
    for (int t = 0; t < 2; ++t)
      for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 17; ++x)
            ASSERT_EQ(twk::voxelValue(c, x, y, z, t), pattern(k, x + 5, y + 1, z + 1, t + 1));
    if (k.type == FRM_ROI) {
      EXPECT_TRUE(roiPaddingClear(c));
    }
    PR_FrameDelete(&c);
    PR_FrameDelete(&f);
  }
  FRAME* f = VA_VolCreateUniform(FRM_REAL, DIM3D{4, 4, 4, 2}, 1.0);
  const RECT4D badTime{0, 0, 0, 3, 3, 3, 1, 2};
  EXPECT_EQ(VA_VolCrop(f, &badTime, false), nullptr);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(VA_VolCrop(f, &badTime, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), L"VA_VolCrop : Crop box lies outside the volume");
  PR_FrameDelete(&f);
}

TEST_F(VolumeTest, CreatingFrames) {
  const DIM3D dims{19, 2, 2, 2};
  const struct {
    const char* name;
    int type;
    int bpv;  // 0: the kind's default
    double value;
    int wantBpv;
    double wantValue;
  } cases[] = {
      {"roi set", FRM_ROI, 0, 1.0, 1, 1.0},
      {"roi from void", FRM_ROI, 0, VOID_VALUE, 1, 0.0},
      {"integer default width", FRM_INT, 0, 1e60, 32, 16777215.0},
      {"integer 16 bits", FRM_INT, 16, 1e60, 16, 65535.0},
      {"integer rounding", FRM_INT, 8, 2.5, 8, 3.0},
      {"real", FRM_REAL, 0, -2.25, 64, -2.25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FRAME* f = VA_VolCreateUniform(c.type, dims, c.value, c.bpv);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->bpv, c.wantBpv);
    EXPECT_EQ(PR_VolBpv(f), c.wantBpv);
    EXPECT_EQ(PR_FrameMemSize(f), uint64_t(twk::voxelLineBytes(19, twk::voxelElemOf(f)) * 8));
    EXPECT_EQ(twk::voxelValue(f, 0, 0, 0, 0), c.wantValue);
    EXPECT_EQ(twk::voxelValue(f, 18, 1, 1, 1), c.wantValue);
    if (c.type == FRM_ROI) {
      EXPECT_TRUE(roiPaddingClear(f));
    }
    PR_FrameDelete(&f);
    EXPECT_EQ(f, nullptr);
  }
  EXPECT_EQ(VA_VolCreateUniform(3, dims, 0.0), nullptr);
  EXPECT_EQ(VA_VolCreateUniform(FRM_INT, dims, 0.0, 64), nullptr);
  EXPECT_EQ(VA_VolCreateUniform(FRM_REAL, DIM3D{4, 0, 1, 1}, 0.0), nullptr);
  EXPECT_EQ(VA_VolCreateUniform(&dims, 12, 0.0), nullptr);

  const uint8_t bytes[] = {0, 5, 0, 1, 255, 0};
  FRAME* roi = VA_CreateVol(bytes, 1, 3, 2, 1, 1);
  ASSERT_NE(roi, nullptr);
  EXPECT_EQ(roi->type, FRM_ROI);
  const bool want[] = {false, true, false, true, true, false};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(twk::roiBit(roi, i % 3, i / 3, 0, 0), want[i]);
  PR_FrameDelete(&roi);
  EXPECT_EQ(VA_CreateVol(nullptr, 64, 2, 2, 1, 1), nullptr);
  EXPECT_EQ(VA_CreateVol(bytes, 12, 2, 2, 1, 1), nullptr);

  FRAME** frames = static_cast<FRAME**>(pf_calloc(3 * sizeof(FRAME*)));
  frames[1] = VA_VolCreateUniform(FRM_REAL, dims, 1.0);
  PR_FrameArrDelete(&frames, 3);
  EXPECT_EQ(frames, nullptr);
}

TEST_F(VolumeTest, RoiCurves) {
  // Voxel value = 100 t + x on a 4 x 3 x 2 volume of 3 time points.
  FRAME* f = VA_VolCreateUniform(FRM_INT, DIM3D{4, 3, 2, 3}, 0.0, 16);
  for (int t = 0; t < 3; ++t)
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) twk::setVoxelValue(f, x, y, z, t, 100 * t + x);
  // A 3D ROI of the voxels with x = 1 and x = 3 in slice 1.
  FRAME* roi = VA_VolCreateUniform(FRM_ROI, DIM3D{4, 3, 2, 1}, 0.0);
  for (int y = 0; y < 3; ++y) {
    twk::setRoiBit(roi, 1, y, 1, 0, true);
    twk::setRoiBit(roi, 3, y, 1, 0, true);
  }
  uint8_t* valid = nullptr;
  double* curve = VA_VolGetRoiTac(f, roi, &valid);
  ASSERT_NE(curve, nullptr);
  for (int t = 0; t < 3; ++t) {
    EXPECT_DOUBLE_EQ(curve[t], 100 * t + 2);
    EXPECT_EQ(valid[t], 1);
  }
  pf_free(&curve);
  pf_free(&valid);

  // A 4D ROI that is empty at time point 1; the whole volume without ROI.
  FRAME* roi4 = VA_VolCreateUniform(FRM_ROI, DIM3D{4, 3, 2, 3}, 0.0);
  twk::setRoiBit(roi4, 0, 0, 0, 0, true);
  twk::setRoiBit(roi4, 3, 2, 1, 2, true);
  CVol v;
  v.frame = f;
  curve = v.GetRoiTac(roi4, &valid);
  ASSERT_NE(curve, nullptr);
  EXPECT_EQ(curve[0], 0.0);
  EXPECT_EQ(curve[1], VOID_VALUE);
  EXPECT_EQ(valid[1], 0);
  EXPECT_EQ(curve[2], 203.0);
  pf_free(&curve);
  pf_free(&valid);
  curve = VA_VolGetRoiTac(f, nullptr);
  EXPECT_DOUBLE_EQ(curve[1], 101.5);
  pf_free(&curve);

  // Void voxels of real frames are left out.
  const double reals[] = {1, VOID_VALUE, 3, VOID_VALUE};
  FRAME* real = VA_CreateVol(reals, 64, 2, 1, 1, 2);
  curve = VA_VolGetRoiTac(real, nullptr, &valid);
  EXPECT_EQ(curve[0], 1.0);
  EXPECT_EQ(curve[1], 3.0);
  pf_free(&curve);
  pf_free(&valid);

  FRAME* wrong = VA_VolCreateUniform(FRM_ROI, DIM3D{4, 3, 1, 1}, 1.0);
  EXPECT_EQ(VA_VolGetRoiTac(f, wrong, &valid), nullptr);
  EXPECT_EQ(valid, nullptr);
  PR_FrameDelete(&wrong);
  PR_FrameDelete(&real);
  PR_FrameDelete(&roi);
  PR_FrameDelete(&roi4);
}

TEST_F(VolumeTest, DynamicKinds) {
  const struct {
    const char* name;
    double DYNCRD::*member;
    DYNDIM want;
  } cases[] = {
      {"time", &DYNCRD::time, DYN_TIME},
      {"inversion time", &DYNCRD::inversionTime, DYN_INVERSION_TIME},
      {"echo time", &DYNCRD::echoTime, DYN_ECHO_TIME},
      {"b-value", &DYNCRD::bValue, DYN_BVALUE},
      {"flip angle", &DYNCRD::flipAngle, DYN_FLIP_ANGLE},
      {"spin-lock time", &DYNCRD::spinLockTime, DYN_SPINLOCK_TIME},
      {"repetition time only", &DYNCRD::repetitionTime, DYN_TIME},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DYNCRD dyn[3];
    for (int i = 0; i < 3; ++i) dyn[i].*c.member = 0.5 * i;
    EXPECT_EQ(VA_GetDynType(dyn, 3), c.want);
  }
  // An echo series acquired over time is an echo series.
  DYNCRD dyn[2];
  dyn[1].time = 30;
  dyn[1].echoTime = 0.02;
  EXPECT_EQ(VA_GetDynType(dyn, 2), DYN_ECHO_TIME);
  EXPECT_EQ(VA_GetDynType(dyn, 1), DYN_TIME);
  EXPECT_EQ(VA_GetDynType(nullptr, 2), DYN_UNKNOWN);
}

VA_VOLPROJ projection(double rx, double ry, double rz) {
  VA_VOLPROJ p;
  p.rotation[0] = rx;
  p.rotation[1] = ry;
  p.rotation[2] = rz;
  return p;
}

TEST_F(VolumeTest, OrthogonalProjectionDimensions) {
  const DIM3D dims{4, 5, 6, 2};
  const SPC spc{0.5, 0.7, 3.0};
  const struct { double rx, ry, rz; DIM3D want; double wantZ; } cases[] = {
      {0, 0, 0, {4, 5, 6, 2}, 3.0},      // native (axial for an axial volume)
      {90, 0, 0, {4, 6, 5, 2}, 0.7},     // about x: coronal
      {0, 90, 0, {6, 5, 4, 2}, 0.5},     // about y: sagittal
      {0, 0, -90, {5, 4, 6, 2}, 3.0},    // in-plane turn
      {180, 0, 450, {5, 4, 6, 2}, 3.0},  // angles reduce modulo 360
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rx + c.ry + c.rz);
    const VA_VOLPROJ p = projection(c.rx, c.ry, c.rz);
    DIM3D out;
    SPC outSpc;
    ASSERT_TRUE(VA_VolProjDimensions(&dims, &spc, &p, &out, &outSpc));
    EXPECT_EQ(0, std::memcmp(&out, &c.want, sizeof out));
    EXPECT_EQ(outSpc.z, c.wantZ);
  }
  const VA_VOLPROJ oblique = projection(45, 0, 0);
  DIM3D out;
  EXPECT_FALSE(VA_IsOrthoProj(&oblique));
  EXPECT_FALSE(VA_VolProjDimensions(&dims, &spc, &oblique, &out));
}

TEST_F(VolumeTest, ProjectionBoxesMapVoxelsOneToOne) {
  const DIM3D dims{3, 4, 5, 1};
  const SPC spc;
  // Every quarter-turn combination: unit voxel boxes of the projection map onto distinct unit
  // voxel boxes of the volume, and back.
  for (int i = 0; i < 64; ++i) {
    const VA_VOLPROJ p = projection((i % 4) * 90, ((i / 4) % 4) * 90, (i / 16) * 90);
    SCOPED_TRACE(i);
    DIM3D pd;
    ASSERT_TRUE(VA_VolProjDimensions(&dims, &spc, &p, &pd));
    ASSERT_EQ(int64_t(pd.w) * pd.h * pd.d, 60);
    std::vector<int> hits(60, 0);
    for (int z = 0; z < pd.d; ++z)
      for (int y = 0; y < pd.h; ++y)
        for (int x = 0; x < pd.w; ++x) {
          const DRECT3D in{double(x), double(y), double(z), x + 1.0, y + 1.0, z + 0.9999};
          DRECT3D vol, back;
          ASSERT_TRUE(VA_VolBoxProjConversion(&dims, &spc, &p, &in, &vol, 0));
          RECT3D v;
          ASSERT_TRUE(PR_DRect3DToRect3D(&vol, &v, nullptr));
          ASSERT_TRUE(v.x0 == v.x1 && v.y0 == v.y1 && v.z0 == v.z1);
          ASSERT_TRUE(v.x0 >= 0 && v.x0 < 3 && v.y0 >= 0 && v.y0 < 4 && v.z0 >= 0 && v.z0 < 5);
          ++hits[(v.z0 * 4 + v.y0) * 3 + v.x0];
          ASSERT_TRUE(VA_VolBoxProjConversion(&dims, &spc, &p, &vol, &back, 1));
          EXPECT_NEAR(back.x0, in.x0, 1e-12);
          EXPECT_NEAR(back.z1, in.z1, 1e-12);
        }
    for (int h : hits) ASSERT_EQ(h, 1);
  }
  // A known case: about x by 90, projection y runs along volume z and projection slices run
  // against volume y.
  const VA_VOLPROJ coronal = projection(90, 0, 0);
  const DPOINT3D pt{1.5, 2.5, 0.5};
  DPOINT3D v;
  ASSERT_TRUE(VA_VolProjConversion(&dims, &spc, &coronal, &pt, &v, 0));
  EXPECT_EQ(v.x, 1.5);
  EXPECT_EQ(v.y, 3.5);  // 4 - 0.5
  EXPECT_EQ(v.z, 2.5);
  CVol vol;
  vol.frame = VA_VolCreateUniform(FRM_ROI, dims, 0.0);
  DIM3D pd;
  ASSERT_TRUE(vol.ProjDimensions(&coronal, &pd));
  EXPECT_EQ(pd.d, 4);
}

TEST_F(VolumeTest, UndoRecordsRestoreFrames) {
  FRAME* f = VA_VolCreateUniform(FRM_ROI, DIM3D{9, 2, 1, 1}, 0.0);
  PR_VIEWFILT filter;
  filter.roiColor = 0x0000FF;
  UNDOREC* before = VA_CompleteUndoRec(&filter, f);
  ASSERT_NE(before, nullptr);
  EXPECT_EQ(before->kind, UNDO_FRAME_CHANGE);
  EXPECT_EQ(before->frame, f);

  twk::setRoiBit(f, 4, 1, 0, 0, true);
  PR_VIEWFILT later = filter;
  later.roiColor = 0x00FF00;
  UNDOREC* redo = before->GetFrameCurrentState(&later);
  ASSERT_NE(redo, nullptr);
  EXPECT_EQ(redo->filter.roiColor, 0x00FF00);

  UNDOREC copy(*before);  // copies own their snapshots
  ASSERT_NE(copy.snapshot, before->snapshot);
  delete before;
  ASSERT_TRUE(copy.ApplyFrameChange());
  EXPECT_FALSE(twk::roiBit(f, 4, 1, 0, 0));
  ASSERT_TRUE(redo->ApplyFrameChange());
  EXPECT_TRUE(twk::roiBit(f, 4, 1, 0, 0));

  // A frame whose shape changed since gets the snapshot's shape back, at the same address.
  FRAME* shape = f;
  FRAME* bigger = VA_VolCreateUniform(FRM_INT, DIM3D{3, 3, 3, 1}, 7.0, 8);
  std::swap(*f, *bigger);
  ASSERT_TRUE(copy.ApplyFrameChange());
  EXPECT_EQ(f, shape);
  EXPECT_EQ(f->type, FRM_ROI);
  EXPECT_EQ(f->dim.w, 9);
  delete redo;
  PR_FrameDelete(&bigger);
  PR_FrameDelete(&f);
}

}  // namespace
