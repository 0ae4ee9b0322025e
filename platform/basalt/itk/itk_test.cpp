// The ITK views of frames: in-place views of integer and real time points, ROI unpacking and
// packing, the thread cap and the pipeline runner with progress, Esc and errors.

#include <gtest/gtest.h>

#include <itkBinaryThresholdImageFilter.h>
#include <itkMultiThreaderBase.h>
#include <itkSignedMaurerDistanceMapImageFilter.h>

#include <oneapi/tbb/task_arena.h>

#include <random>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "itk/ItkImageViews.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::itkv;

namespace {

struct FrameGuard {
  FRAME* f;
  explicit FrameGuard(FRAME* frame) : f(frame) {}
  ~FrameGuard() { PR_FrameDelete(&f); }
};

}  // namespace

TEST(ItkViews, TimePointsAreViewedInPlaceWithTheirSpacing) {
  FrameGuard frame(PR_FrameCreate(FRM_INT, 16, DIM3D{5, 4, 3, 2}, true));
  const SPC spc{0.7, 0.8, 2.5};
  auto image = viewTimePoint<uint16_t>(frame.f, 1, &spc);
  ASSERT_TRUE(image);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(image->GetBufferPointer()), twk::frameLine(frame.f, 0, 0, 1));
  EXPECT_DOUBLE_EQ(image->GetSpacing()[0], 0.7);
  EXPECT_DOUBLE_EQ(image->GetSpacing()[2], 2.5);
  EXPECT_EQ(image->GetLargestPossibleRegion().GetSize()[2], 3u);

  // Writing through the view writes the frame; releasing the view leaves the frame's memory alone.
  Image3<uint16_t>::IndexType index{{4, 3, 2}};
  image->SetPixel(index, 777);
  image = nullptr;
  EXPECT_EQ(twk::voxelValue(frame.f, 4, 3, 2, 1), 777.0);
  EXPECT_EQ(twk::voxelValue(frame.f, 4, 3, 2, 0), 0.0);

  // A pixel type that does not match the frame, an ROI or a time point outside: no view.
  EXPECT_FALSE(viewTimePoint<uint8_t>(frame.f, 0, &spc));
  EXPECT_FALSE(viewTimePoint<uint16_t>(frame.f, 2, &spc));
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{5, 4, 3, 1}, true));
  EXPECT_FALSE(viewTimePoint<uint8_t>(roi.f, 0, &spc));

  int seen = 0;
  EXPECT_TRUE(withPixelType(frame.f, [&](auto v) { seen = int(sizeof(v)); }));
  EXPECT_EQ(seen, 2);
  EXPECT_FALSE(withPixelType(roi.f, [&](auto) {}));
}

TEST(ItkViews, RoiBitsRoundTripThroughBytesWithCleanPadding) {
  // Widths around the byte and word boundaries of the packed lines.
  for (int w : {1, 7, 8, 9, 16, 17, 37}) {
    SCOPED_TRACE(w);
    const DIM3D dims{w, 5, 3, 2};
    FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, dims, true));
    std::mt19937 rng{uint32_t(w)};
    for (int t = 0; t < 2; ++t)
      for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 5; ++y)
          for (int x = 0; x < w; ++x) twk::setRoiBit(roi.f, x, y, z, t, rng() % 3 == 0);
    FrameGuard copy(PR_FrameCreate(FRM_ROI, 1, dims, true));
    std::memcpy(copy.f->data, roi.f->data, PR_FrameMemSize(roi.f));

    auto bytes = unpackRoi(roi.f, 1, nullptr, 255);
    ASSERT_TRUE(bytes);
    int count = 0, expected = 0;
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t v = bytes->GetPixel({{x, y, z}});
          EXPECT_TRUE(v == 0 || v == 255);
          count += v != 0;
          expected += twk::roiBit(roi.f, x, y, z, 1);
        }
    EXPECT_EQ(count, expected);

    // Packing the bytes back into time point 1 of a cleared frame restores it bit for bit, padding
    // zero, and leaves time point 0 as it was.
    std::memset(twk::frameLine(roi.f, 0, 0, 1), 0xFF, size_t(roi.f->lineBytes * 5 * 3));
    ASSERT_TRUE(packRoi(bytes.GetPointer(), roi.f, 1));
    EXPECT_EQ(std::memcmp(roi.f->data, copy.f->data, PR_FrameMemSize(roi.f)), 0);
  }
}

TEST(ItkViews, PackingByLabelSetsOnlyThatLabel) {
  auto labels = newImage<uint32_t>(DIM3D{3, 1, 1, 1}, nullptr);
  labels->SetPixel({{0, 0, 0}}, 2);
  labels->SetPixel({{1, 0, 0}}, 1);
  labels->SetPixel({{2, 0, 0}}, 2);
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{3, 1, 1, 1}, true));
  ASSERT_TRUE(packRoiLabel<uint32_t>(labels.GetPointer(), 2u, roi.f, 0));
  EXPECT_TRUE(twk::roiBit(roi.f, 0, 0, 0, 0));
  EXPECT_FALSE(twk::roiBit(roi.f, 1, 0, 0, 0));
  EXPECT_TRUE(twk::roiBit(roi.f, 2, 0, 0, 0));
  // A grid that does not match the frame is refused.
  FrameGuard other(PR_FrameCreate(FRM_ROI, 1, DIM3D{4, 1, 1, 1}, true));
  EXPECT_FALSE(packRoi(labels.GetPointer(), other.f, 0));
}

TEST(ItkViews, ThreadsFollowTheTbbArena) {
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{16, 16, 8, 1}, true));
  // A filter run at full width first grows ITK's shared thread pool, which never shrinks again.
  auto wide = itk::BinaryThresholdImageFilter<MaskImage, MaskImage>::New();
  wide->SetInput(unpackRoi(roi.f, 0, nullptr));
  capThreads();
  ASSERT_TRUE(update(wide, L"test", false));

  auto filter = itk::BinaryThresholdImageFilter<MaskImage, MaskImage>::New();
  filter->SetInput(unpackRoi(roi.f, 0, nullptr));
  tbb::task_arena arena(2);
  arena.execute([&] {
    capThreads();
    EXPECT_TRUE(update(filter, L"test", false));
  });
  EXPECT_EQ(itk::MultiThreaderBase::GetGlobalDefaultNumberOfThreads(), 2u);
  // The work was cut into at most two units, so at most two threads ran it.
  EXPECT_LE(filter->GetNumberOfWorkUnits(), 2u);
  capThreads();
  EXPECT_EQ(itk::MultiThreaderBase::GetGlobalDefaultNumberOfThreads(),
            itk::ThreadIdType(tbb::this_task_arena::max_concurrency()));
}

namespace {

// Simulates Esc pressed during the work: the first pump after the start clears the work flag.
int pumpsUntilEsc = -1;
bool escAfterPumps(const wchar_t*, bool) {
  if (pumpsUntilEsc >= 0 && pumpsUntilEsc-- == 0) PR_SetInWorkProcess(false);
  return true;
}

}  // namespace

TEST(ItkViews, UpdateStopsOnEscAndReportsErrorsByName) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  capThreads();
  const DIM3D dims{48, 48, 48, 1};
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, dims, true));
  twk::setRoiBit(roi.f, 20, 20, 20, 0, true);
  auto mask = unpackRoi(roi.f, 0, nullptr);
  using Distance = itk::SignedMaurerDistanceMapImageFilter<MaskImage, FloatImage>;

  // Without a running progress message the work runs to the end, whatever the flag says.
  auto quiet = Distance::New();
  quiet->SetInput(mask);
  EXPECT_TRUE(update(quiet, L"test", true));

  MSGBLOCK block;
  block.showMessage = escAfterPumps;
  PR_InitFrameFunctions(&block);
  pumpsUntilEsc = 1;  // the start message pumps once, the first progress report stops
  {
    twk::ProgressGuard progress(L"Distances", true);
    auto stopped = Distance::New();
    stopped->SetInput(mask);
    EXPECT_FALSE(update(stopped, L"test", true));
  }
  EXPECT_TRUE(script.messages.empty());  // a stop is silent
  pumpsUntilEsc = -1;
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);

  // A filter without input fails with its name and ITK's description.
  auto broken = Distance::New();
  EXPECT_FALSE(update(broken, L"VA_Test", true));
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].Left(10), CString(L"VA_Test : "));
}
