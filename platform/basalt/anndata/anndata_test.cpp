// Tests of the training-data services: random order, batches, normalisation and slabs, the FlexDim
// folder loader, Dice over volumes, augmentation, resampling, crops and reference comparison.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "anndata/AnnData.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace fs = std::filesystem;

namespace {

fs::path scratch(const std::string& name) {
  return twk::testing::testFolder("anndata_" + name);
}

CString wide(const fs::path& p) { return CString(p.string().c_str()); }

// A frame of doubles from values in voxel order.
FRAME* realFrame(const std::vector<double>& values, int w, int h, int d, int t) {
  return VA_CreateVol(values.data(), 64, w, h, d, t);
}

std::vector<double> frameValues(const FRAME* f) {
  auto* p = static_cast<double*>(VA_VolGetAll(f, 0, 64, f->dim.t));
  std::vector<double> v(p, p + int64_t(f->dim.w) * f->dim.h * f->dim.d * f->dim.t);
  pf_free(&p);
  return v;
}

// Saves a NIfTI volume of w x h x d x t values with our own writer.
void saveNifti(const fs::path& path, const std::vector<double>& values, int bpv, DIM3D dims) {
  std::vector<uint8_t> bytes;
  const void* data = values.data();
  if (bpv == 8) {
    bytes.assign(values.begin(), values.end());
    data = bytes.data();
  }
  const SPC spc{1, 1, 1};
  ASSERT_TRUE(VA_NiftiSaveVol(wide(path), data, bpv, &dims, &spc, nullptr, nullptr, nullptr, 1, nullptr, false));
}

class Counted : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = PR_GetTotalAllocSize(); }
  void TearDown() override { EXPECT_EQ(PR_GetTotalAllocSize(), baseline_) << "counted memory left behind"; }
  int64_t baseline_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Random order, element sizes, batches
// ---------------------------------------------------------------------------------------------

TEST_F(Counted, ShuffleIsASeededPermutation) {
  auto orderOf = [](uint64_t seed, int n) {
    PR_RANDGEN* gen = PR_InitRandGen(seed);
    int* order = PR_ShuffleIntegerArray(gen, n);
    std::vector<int> v(order, order + n);
    pf_free(&order);
    PR_DeleteRandGen(&gen);
    EXPECT_EQ(gen, nullptr);
    return v;
  };
  const std::vector<int> a = orderOf(100, 50), b = orderOf(100, 50), c = orderOf(101, 50);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  std::vector<int> sorted = a;
  std::sort(sorted.begin(), sorted.end());
  std::vector<int> expected(50);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(sorted, expected);
  PR_RANDGEN* gen = PR_InitRandGen(1);
  EXPECT_EQ(PR_ShuffleIntegerArray(gen, 0), nullptr);
  EXPECT_EQ(PR_ShuffleIntegerArray(nullptr, 5), nullptr);
  PR_DeleteRandGen(&gen);
}

TEST(AnnData, ElementSizesAndDimensions) {
  const struct { int code, bytes; } cases[] = {{TORCHDT_UINT8, 1}, {TORCHDT_INT16, 2}, {TORCHDT_INT32, 4},
                                               {TORCHDT_FLOAT32, 4}, {TORCHDT_FLOAT64, 8}, {TORCHDT_INT64, 8},
                                               {TORCHDT_BOOL, 1}, {9, 0}, {-1, 0}};
  for (const auto& c : cases) EXPECT_EQ(VA_TorchDataSize(c.code), c.bytes) << c.code;
  const DIM3D dims{5, 4, 3, 2};
  int w = 0, d = 0;
  int64_t plane = 0, volume = 0;
  VA_VolWHDTPV(&dims, &w, nullptr, &d, nullptr, &plane, &volume);
  EXPECT_EQ(w, 5);
  EXPECT_EQ(d, 3);
  EXPECT_EQ(plane, 20);
  EXPECT_EQ(volume, 60);
}

TEST(AnnData, ObtainNextBatchCopiesTheOrderedSamples) {
  float images[3][4];
  uint8_t labels[3][4];
  for (int s = 0; s < 3; ++s)
    for (int i = 0; i < 4; ++i) images[s][i] = float(10 * s + i), labels[s][i] = uint8_t(s);
  void* imagePtrs[3] = {images[0], images[1], images[2]};
  void* labelPtrs[3] = {labels[0], labels[1], labels[2]};
  const int order[3] = {2, 0, 1};
  float imageOut[8] = {};
  uint8_t labelOut[8] = {};
  ASSERT_TRUE(VA_ObtainNextBatch(TORCHDT_FLOAT32, imagePtrs, 4, TORCHDT_UINT8, labelPtrs, 4, order, 1, 2, imageOut, labelOut));
  EXPECT_EQ(imageOut[0], 0.f);
  EXPECT_EQ(imageOut[7], 13.f);
  EXPECT_EQ(labelOut[0], 0);
  EXPECT_EQ(labelOut[4], 1);
  EXPECT_FALSE(VA_ObtainNextBatch(TORCHDT_FLOAT32, imagePtrs, 4, TORCHDT_UINT8, labelPtrs, 4, order, 2, 1, imageOut, labelOut));
  EXPECT_FALSE(VA_ObtainNextBatch(99, imagePtrs, 4, TORCHDT_UINT8, labelPtrs, 4, order, 0, 0, imageOut, labelOut));
}

// ---------------------------------------------------------------------------------------------
// Normalisation and slabs
// ---------------------------------------------------------------------------------------------

TEST(AnnData, SignalNormalisationMethods) {
  const std::vector<double> input = {2, 4, 6, 8, VOID_VALUE};
  const struct {
    int method;
    double lo, hi;
    std::vector<double> expected;
  } cases[] = {
      {DATANORM_NONE, 0, 0, {2, 4, 6, 8, 0}},
      {DATANORM_MINMAX, 0, 0, {0, 1.0 / 3, 2.0 / 3, 1, 0}},
      {DATANORM_ZSCORE, 0, 0, {-3 / std::sqrt(5.0), -1 / std::sqrt(5.0), 1 / std::sqrt(5.0), 3 / std::sqrt(5.0), 0}},
      {DATANORM_INTERVAL, 0, 10, {0.2, 0.4, 0.6, 0.8, 0}},
      {DATANORM_INTERVAL, 5, 5, {0, 1.0 / 3, 2.0 / 3, 1, 0}},  // no interval: min-max
      // percentiles 0.5 and 99.5 of 2,4,6,8: 2.03 and 7.97
      {DATANORM_PERCENTILE, 0, 0, {-0.03 / 5.94, 1.97 / 5.94, 3.97 / 5.94, 5.97 / 5.94, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    std::vector<double> v = input;
    ASSERT_TRUE(VA_NormalizeSignal(v.data(), int64_t(v.size()), c.method, c.lo, c.hi));
    for (size_t i = 0; i < v.size(); ++i) EXPECT_NEAR(v[i], c.expected[i], 1e-12) << i;
  }
  std::vector<double> constant = {3, 3, 3};
  ASSERT_TRUE(VA_NormalizeSignal(constant.data(), 3, DATANORM_MINMAX, 0, 0));
  EXPECT_EQ(constant, (std::vector<double>{0, 0, 0}));
  EXPECT_FALSE(VA_NormalizeSignal(constant.data(), 3, 9, 0, 0));
}

TEST_F(Counted, SlabsRepeatEdgeSlicesAndStackTimePoints) {
  // 2 x 1 pixels, 3 slices, 2 time points; voxel value 100 t + 10 z + x.
  std::vector<double> values;
  for (int t = 0; t < 2; ++t)
    for (int z = 0; z < 3; ++z)
      for (int x = 0; x < 2; ++x) values.push_back(100 * t + 10 * z + x);
  FRAME* frame = realFrame(values, 2, 1, 3, 2);
  int64_t bytes = 0, count = 0;
  auto* separate = static_cast<float*>(VA_ExtractSlabs_SeparateTimepoints(frame, TORCHDT_FLOAT32, DATANORM_NONE, 1, &bytes, &count));
  ASSERT_NE(separate, nullptr);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(bytes, 3 * 2 * 4);
  // Slab of (t 1, z 0): slices 0 (repeated below), 0, 1 of time point 1.
  const float* s = separate + 3 * 6;
  EXPECT_EQ(std::vector<float>(s, s + 6), (std::vector<float>{100, 101, 100, 101, 110, 111}));
  pf_free(&separate);

  auto* stacked = static_cast<float*>(VA_ExtractSlabs_TimepointsAsChannels(frame, TORCHDT_FLOAT32, DATANORM_NONE, 1, &bytes, &count));
  ASSERT_NE(stacked, nullptr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(bytes, 6 * 2 * 4);
  // Slab of z 2: time point 0 slices 1, 2, 2 then time point 1 slices 1, 2, 2.
  const float* c = stacked + 2 * 12;
  EXPECT_EQ(std::vector<float>(c, c + 12), (std::vector<float>{10, 11, 20, 21, 20, 21, 110, 111, 120, 121, 120, 121}));
  pf_free(&stacked);

  auto* doubles = static_cast<double*>(VA_ExtractSlabs_SeparateTimepoints(frame, TORCHDT_FLOAT64, DATANORM_MINMAX, 0, &bytes, &count));
  ASSERT_NE(doubles, nullptr);
  EXPECT_EQ(bytes, 2 * 8);
  EXPECT_DOUBLE_EQ(doubles[11], 1.0);  // the largest voxel
  pf_free(&doubles);
  EXPECT_EQ(VA_ExtractSlabs_SeparateTimepoints(frame, TORCHDT_INT32, 0, 0, &bytes, &count), nullptr);
  PR_FrameDelete(&frame);
}

// ---------------------------------------------------------------------------------------------
// FlexDim samples, the folder loader and Dice over volumes
// ---------------------------------------------------------------------------------------------

TEST_F(Counted, DicePerClassAveragesFiniteVolumes) {
  // Two volumes of one 4-pixel sample each, three classes.
  void* labels[2] = {VA_FlexDim_NewBytemap(4, 1), VA_FlexDim_NewBytemap(4, 1)};
  const uint8_t truth[2][4] = {{0, 1, 1, 0}, {0, 0, 0, 0}};
  uint8_t predictedA[4] = {0, 1, 0, 0}, predictedB[4] = {0, 0, 0, 2};
  uint8_t* predictions[2] = {predictedA, predictedB};
  for (int i = 0; i < 2; ++i) std::memcpy(VA_FlexDimBytes(labels[i]), truth[i], 4);
  const int32_t table[2] = {0, 1};
  double* dice = VA_CalculateDICEperClassAveragedOverVolumes(3, 4, labels, nullptr, predictions, 2, 2, table);
  ASSERT_NE(dice, nullptr);
  // Class 0: volume 0 2*2/(3+2)=0.8, volume 1 2*3/(3+4)=6/7. Class 1: volume 0 2/3, volume 1 absent.
  // Class 2: volume 0 absent, volume 1 0 (predicted only).
  EXPECT_NEAR(dice[0], (0.8 + 6.0 / 7) / 2, 1e-12);
  EXPECT_NEAR(dice[1], 2.0 / 3, 1e-12);
  EXPECT_EQ(dice[2], 0.0);
  pf_free(&dice);
  // A mask that leaves out the wrong pixel of volume 0 makes class 1 perfect there.
  void* masks[2] = {VA_FlexDim_NewBytemap(4, 1), VA_FlexDim_NewBytemap(4, 1)};
  std::memset(VA_FlexDimBytes(masks[0]), 1, 4);
  VA_FlexDimBytes(masks[0])[2] = 0;
  dice = VA_CalculateDICEperClassAveragedOverVolumes(3, 4, labels, masks, predictions, 2, 2, table);
  ASSERT_NE(dice, nullptr);
  EXPECT_NEAR(dice[1], 1.0, 1e-12);
  EXPECT_TRUE(std::isnan(dice[2]));  // volume 1 is all masked out, volume 0 has no class 2
  pf_free(&dice);
  EXPECT_TRUE(std::isnan(PR_AverageFinite(nullptr, 0)));
  for (void*& p : labels) pf_free(&p);
  for (void*& p : masks) pf_free(&p);
}

class FlexDimFolder : public Counted {
 protected:
  // Cases 0..n-1 of 16 x 16 x 2 slices and T time points; the image value is 10 z + t + case,
  // the label (mask file) 1 in the left half of slice 1.
  void writeCases(const fs::path& folder, int n, int t, int maskT) {
    for (int c = 0; c < n; ++c) {
      std::vector<double> image, mask;
      for (int tt = 0; tt < t; ++tt)
        for (int z = 0; z < 2; ++z)
          for (int i = 0; i < 256; ++i) image.push_back(10 * z + tt + c);
      for (int tt = 0; tt < maskT; ++tt)
        for (int z = 0; z < 2; ++z)
          for (int i = 0; i < 256; ++i) mask.push_back(z == 1 && i % 16 < 8 ? 1 + tt : 0);
      saveNifti(folder / ("image_" + std::to_string(c) + ".nii"), image, 64, DIM3D{16, 16, 2, t});
      saveNifti(folder / ("mask_" + std::to_string(c) + ".nii"), mask, 8, DIM3D{16, 16, 2, maskT});
    }
  }
};

TEST_F(FlexDimFolder, CasesFoldsAndGroups) {
  const fs::path folder = scratch("flexdim");
  writeCases(folder, 5, 3, 3);
  int cases = 0, folds = 0;
  ASSERT_TRUE(VA_CalculateDatasetNumCasesAndFolds(wide(folder), 0.2, &cases, &folds, false));
  EXPECT_EQ(cases, 5);
  EXPECT_EQ(folds, 5);
  ASSERT_TRUE(VA_CalculateDatasetNumCasesAndFolds(wide(folder), 0.3, &cases, &folds, false));
  EXPECT_EQ(folds, 3);

  const struct {
    bool category;
    double testFraction;
    int64_t train, eval, test, channels, volumesEval;
  } cases_[] = {
      // Fold 1 of 5: case 1 evaluates; time points as category: 3 x 2 samples per case.
      {true, 0.0, 24, 6, 6, 3, 3},
      {true, 0.2, 18, 6, 6, 3, 3},  // case 4 tests
      {false, 0.0, 8, 2, 2, 9, 1},  // slices only, T * 3 channels
  };
  for (const auto& c : cases_) {
    SCOPED_TRACE(c.category);
    VA_DATALOADPARM parm;
    parm.validFraction = 0.2;
    parm.testFraction = c.testFraction;
    parm.slabR = 1;
    VA_SAMPLEGROUP train, eval, test;
    wchar_t** names = nullptr;
    wchar_t** maskNames = nullptr;
    int numNames = 0, numCategories = -1;
    int* sizes = nullptr;
    DIM3D dims;
    const int maskT = c.category ? 3 : 1;
    fs::remove_all(folder);
    fs::create_directories(folder);
    writeCases(folder, 5, 3, maskT);
    ASSERT_TRUE(VA_Load4DVolumesAndTargetLabelsFromFolder_As25D_FlexDim(1, &parm, c.category, wide(folder), 1.0, 0, 16,
                                                                        &train, &eval, &test, &names, &maskNames,
                                                                        &numNames, &dims, &numCategories, &sizes, false));
    EXPECT_EQ(train.count, c.train);
    EXPECT_EQ(eval.count, c.eval);
    EXPECT_EQ(test.count, c.test);
    EXPECT_EQ(eval.volumes, c.volumesEval);
    EXPECT_EQ(dims.w, 16);
    EXPECT_EQ(dims.t, 3);
    EXPECT_EQ(VA_FlexDimHead(train.images[0])->channels, c.channels);
    EXPECT_EQ(numCategories, c.category ? 1 : 0);
    ASSERT_EQ(numNames, 1);
    EXPECT_EQ(CString(names[0]), c.testFraction > 0 ? L"image_4.nii" : L"image_1.nii");
    EXPECT_EQ(CString(maskNames[0]), c.testFraction > 0 ? L"mask_4.nii" : L"mask_1.nii");
    if (c.category) {
      ASSERT_NE(sizes, nullptr);
      EXPECT_EQ(sizes[0], 3);
      // Evaluation sample 4 is (t 2, slice 0) of case 1: category 2, centre channel 0 + 2 + 1.
      EXPECT_EQ(VA_FlexDimCategories(eval.images[4])[0], 2);
      EXPECT_EQ(VA_FlexDimPixels(eval.images[4])[256], 3.0f);
      EXPECT_EQ(eval.table[4], 2);
      // Its label is slice 0 of mask time point 2: empty. Sample 5 (slice 1) holds label 3 left.
      EXPECT_EQ(VA_FlexDimBytes(eval.labels[5])[0], 3);
      EXPECT_EQ(VA_FlexDimBytes(eval.labels[5])[8], 0);
      EXPECT_EQ(VA_FlexDimBytes(eval.masks[5])[8], 1);
    } else {
      EXPECT_EQ(sizes, nullptr);
      // Channel t*3 + k of slice 1: slice 0 + k (clamped) of time point t.
      EXPECT_EQ(VA_FlexDimPixels(eval.images[1])[(2 * 3 + 2) * 256], 10.0f + 2 + 1);
    }
    VA_FreeSampleGroup(&train);
    VA_FreeSampleGroup(&eval);
    VA_FreeSampleGroup(&test);
    pf_free_parr(&names, numNames);
    pf_free_parr(&maskNames, numNames);
    pf_free(&sizes);
  }
}

TEST_F(FlexDimFolder, RefusedFolders) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const fs::path folder = scratch("flexdim_bad");
  VA_DATALOADPARM parm;
  auto load = [&](bool category) {
    VA_SAMPLEGROUP train, eval, test;
    DIM3D dims;
    const bool ok = VA_Load4DVolumesAndTargetLabelsFromFolder_As25D_FlexDim(
        0, &parm, category, wide(folder), 1.0, 0, 16, &train, &eval, &test, nullptr, nullptr, nullptr, &dims, nullptr,
        nullptr, true);
    VA_FreeSampleGroup(&train);
    VA_FreeSampleGroup(&eval);
    VA_FreeSampleGroup(&test);
    return ok;
  };
  writeCases(folder, 1, 1, 1);
  EXPECT_FALSE(load(false));
  EXPECT_EQ(script.lastMessage(), L"VA_CalculateDatasetNumCasesAndFolds : At least two cases are required");
  writeCases(folder, 3, 2, 2);  // 4D masks without time points as category
  EXPECT_FALSE(load(false));
  EXPECT_NE(script.lastMessage().Find(L"Incompatible dimensions"), -1);
  saveNifti(folder / "image_7.nii", std::vector<double>(256, 1.0), 64, DIM3D{16, 16, 1, 1});
  EXPECT_FALSE(load(true));
  EXPECT_NE(script.lastMessage().Find(L"Unable to find match for input"), -1);
  fs::remove(folder / "image_7.nii");
  std::vector<double> big(2 * 256, 300.0);
  saveNifti(folder / "mask_2.nii", big, 64, DIM3D{16, 16, 2, 1});
  EXPECT_FALSE(load(true));
  EXPECT_NE(script.lastMessage().Find(L"Real Image is not allowed"), -1);
}

// ---------------------------------------------------------------------------------------------
// Augmentation
// ---------------------------------------------------------------------------------------------

namespace {

// One 8 x 6 sample of 2 channels: channel c, pixel (x, y) = 100 c + 10 y + x; label 1 at x < 3.
struct Sample {
  void* image = VA_FlexDim_NewImage(8, 6, 2);
  void* label = VA_FlexDim_NewBytemap(8, 6);
  void* mask = VA_FlexDim_NewBytemap(8, 6);
  Sample() {
    for (int c = 0; c < 2; ++c)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) VA_FlexDimPixels(image)[c * 48 + y * 8 + x] = float(100 * c + 10 * y + x);
    for (int k = 0; k < 48; ++k) VA_FlexDimBytes(label)[k] = k % 8 < 3, VA_FlexDimBytes(mask)[k] = 1;
  }
  ~Sample() { pf_free(&image), pf_free(&label), pf_free(&mask); }
  float pixel(int c, int x, int y) const { return VA_FlexDimPixels(image)[c * 48 + y * 8 + x]; }
  uint8_t labelAt(int x, int y) const { return VA_FlexDimBytes(label)[y * 8 + x]; }
  uint8_t maskAt(int x, int y) const { return VA_FlexDimBytes(mask)[y * 8 + x]; }
};

VA_AUGMENT3D noAugmentation() {
  VA_AUGMENT3D a;
  a.ProbAffine = a.WarpProb = a.ProbGRBF = a.ProbInputGaussNoise = a.ProbMirrorX = 0;
  a.ProbSigScaleAndShift = a.ProbContrastAdjustment = a.ProbPoisson = 0;
  return a;
}

}  // namespace

TEST_F(Counted, AugmentationMovesImageLabelAndMaskTogether) {
  PR_RANDGEN* gen = PR_InitRandGen(7);
  {
    Sample s;
    VA_AUGMENT3D aug = noAugmentation();
    ASSERT_TRUE(VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(gen, &aug, TORCHDT_FLOAT32, &s.image, &s.label, &s.mask, 1, 2));
    EXPECT_EQ(s.pixel(1, 5, 4), 145.f);  // untouched

    aug.ProbMirrorX = 1;
    ASSERT_TRUE(VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(gen, &aug, TORCHDT_FLOAT32, &s.image, &s.label, &s.mask, 1, 2));
    EXPECT_EQ(s.pixel(0, 0, 2), 27.f);
    EXPECT_EQ(s.pixel(1, 7, 2), 120.f);
    EXPECT_EQ(s.labelAt(7, 0), 1);
    EXPECT_EQ(s.labelAt(0, 0), 0);
  }
  {
    // A pure translation by a whole number of pixels: pixel (x, y) takes (x + tx, y + ty).
    Sample s;
    VA_AUGMENT3D aug = noAugmentation();
    aug.ProbAffine = 1;
    aug.affMaxScale = 1, aug.affMaxRot = 0, aug.affMaxShear = 0, aug.affMaxTrans = 3;
    ASSERT_TRUE(VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(gen, &aug, TORCHDT_FLOAT32, &s.image, &s.label, &s.mask, 1, 2));
    int moved = 0, outside = 0;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) {
        if (!s.maskAt(x, y)) {
          ++outside;
          EXPECT_EQ(s.labelAt(x, y), 0);
          continue;
        }
        // Inside, the label follows the image: label 1 where the source column is below 3.
        const double sourceX = s.pixel(0, x, y) - 10 * std::floor(s.pixel(0, x, y) / 10 + 1e-9);
        EXPECT_EQ(s.labelAt(x, y), std::lround(sourceX) < 3 ? 1 : 0) << x << "," << y;
        EXPECT_NEAR(s.pixel(1, x, y) - s.pixel(0, x, y), 100.0, 1e-4);
        moved += s.pixel(0, x, y) != float(10 * y + x);
      }
    EXPECT_GT(moved + outside, 0);
  }
  {
    Sample s;
    VA_AUGMENT3D aug = noAugmentation();
    aug.ProbSigScaleAndShift = 1;
    aug.SigScaleMax = 0, aug.SigShiftMax = 0.5;
    ASSERT_TRUE(VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(gen, &aug, TORCHDT_FLOAT32, &s.image, &s.label, &s.mask, 1, 2));
    const float shift = s.pixel(0, 0, 0);
    EXPECT_LE(std::abs(shift), 0.5f);
    EXPECT_NEAR(s.pixel(1, 7, 5), 157.f + shift, 1e-4);
    EXPECT_EQ(s.labelAt(0, 0), 1);
  }
  PR_DeleteRandGen(&gen);
}

// ---------------------------------------------------------------------------------------------
// Resampling, boxes and crops
// ---------------------------------------------------------------------------------------------

TEST_F(Counted, SliceResamplingAlignsPixelCentres) {
  // A ramp along x, 4 x 2, two slices.
  std::vector<double> ramp = {0, 1, 2, 3, 0, 1, 2, 3, 10, 11, 12, 13, 10, 11, 12, 13};
  FRAME* frame = realFrame(ramp, 4, 2, 2, 1);
  FRAME* same = VA_ResampleSlices(frame, 4, 2, 1);
  EXPECT_EQ(frameValues(same), ramp);
  FRAME* twice = VA_ResampleSlices(frame, 8, 2, 1);
  ASSERT_NE(twice, nullptr);
  // Target x samples (x + 0.5) / 2 - 0.5, clamped: 0, 0.25, 0.75, 1.25, ... 3.
  const std::vector<double> row = frameValues(twice);
  EXPECT_EQ(std::vector<double>(row.begin(), row.begin() + 8), (std::vector<double>{0, 0.25, 0.75, 1.25, 1.75, 2.25, 2.75, 3}));
  EXPECT_EQ(row[16 + 7], 13);
  FRAME* half = VA_ResampleSlices(frame, 2, 1, 0);
  EXPECT_EQ(frameValues(half), (std::vector<double>{1, 3, 11, 13}));
  for (FRAME* f : {frame, same, twice, half}) PR_FrameDelete(&f);

  FRAME* labels = VA_CreateVol(std::vector<uint8_t>{0, 1, 2, 3}.data(), 8, 4, 1, 1, 1);
  FRAME* wide = VA_ResampleSlices(labels, 8, 1, 0);
  EXPECT_EQ(wide->type, FRM_INT);
  EXPECT_EQ(wide->bpv, 8);
  EXPECT_EQ(frameValues(wide), (std::vector<double>{0, 0, 1, 1, 2, 2, 3, 3}));
  PR_FrameDelete(&labels);
  PR_FrameDelete(&wide);
}

TEST_F(Counted, IsotropicResamplingKeepsTheBox) {
  CVol vol;
  std::vector<double> v;
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) v.push_back(x + 10 * y + 100 * z);
  vol.frame = realFrame(v, 4, 2, 2, 1);
  vol.spc = SPC{1, 2, 3};
  vol.imgPos = static_cast<DPOINT3D*>(pf_calloc(2 * sizeof(DPOINT3D)));
  vol.imgPos[1].z = 3;
  CVol* out = VA_ResampleToVoxelSize(&vol, 1.0, 1, false);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->W(), 4);
  EXPECT_EQ(out->H(), 4);
  EXPECT_EQ(out->D(), 6);
  EXPECT_EQ(out->Vz(), 1.0);
  // Along y, target rows sample source rows (i + 0.5) / 2 - 0.5: -0.25 (clamped), 0.25, 0.75, 1.25.
  const std::vector<double> r = frameValues(out->frame);
  EXPECT_NEAR(r[1 * 4 + 0], 2.5, 1e-12);
  EXPECT_NEAR(r[2 * 4 + 0], 7.5, 1e-12);
  // The first target slice is a third of a source slice below the first source centre.
  EXPECT_NEAR(out->imgPos[0].z, -1.0, 1e-12);
  EXPECT_NEAR(out->imgPos[0].y, -0.5, 1e-12);
  delete out;
  EXPECT_EQ(VA_ResampleToVoxelSize(&vol, 0, 1, false), nullptr);
}

TEST_F(Counted, RegionBoxCropAndMultiples) {
  FRAME* mask = VA_VolCreateUniform(FRM_INT, DIM3D{6, 5, 4, 1}, 0.0);
  const RECT3D inside{1, 2, 1, 3, 2, 2};
  VA_VolFillBox(mask, 0, &inside, 5.0);
  FRAME* roi = VA_VolThresholdToRoi(mask, 0.99, 1e60);
  RECT3D box;
  ASSERT_TRUE(VA_RoiBoundingBox(roi, &box));
  EXPECT_EQ(box.x0, 1);
  EXPECT_EQ(box.x1, 3);
  EXPECT_EQ(box.y0, 2);
  EXPECT_EQ(box.y1, 2);
  EXPECT_EQ(box.z1, 2);
  FRAME* empty = VA_VolThresholdToRoi(mask, 6, 1e60);
  EXPECT_FALSE(VA_RoiBoundingBox(empty, &box));

  const RECT3D partly{-1, 2, 1, 1, 2, 1};  // starts one column left of the frame
  FRAME* crop = VA_VolCropWithFill(mask, &partly, 7.0);
  ASSERT_NE(crop, nullptr);
  EXPECT_EQ(frameValues(crop), (std::vector<double>{7, 0, 5}));
  PR_FrameDelete(&crop);

  // A region of 41 x 50 x 12 voxels with a 30-voxel margin, multiple 16: 112 x 112 x 80.
  RECT3D r{0, 0, 0, 40 + 60, 49 + 60, 11 + 60};
  PR_MakeDimensionsMultipleOfBase(&r, 16);
  EXPECT_EQ(r.x1 - r.x0 + 1, 112);
  EXPECT_EQ(r.y1 - r.y0 + 1, 112);
  EXPECT_EQ(r.z1 - r.z0 + 1, 80);
  EXPECT_EQ(r.x0, -5);  // 11 more voxels: 5 below, 6 above
  EXPECT_EQ(r.x1, 106);
  for (FRAME* f : {mask, roi, empty}) PR_FrameDelete(&f);
}

TEST_F(Counted, CompareToStandardUnderTwoBounds) {
  const fs::path folder = scratch("standard");
  std::vector<double> values = {1, 2, 3, 4};
  saveNifti(folder / "standard.nii", values, 64, DIM3D{2, 2, 1, 1});
  CVol vol;
  vol.frame = realFrame({1, 2, 3, 4.5}, 2, 2, 1, 1);
  const struct {
    double maxBound, meanBound;
    bool passed;
  } cases[] = {{0.5, 1e60, true}, {0.4, 1e60, false}, {1e60, 0.125, true}, {1e60, 0.12, false}, {0.0, 0.0, false}};
  for (const auto& c : cases) {
    bool passed = !c.passed;
    ASSERT_TRUE(vol.CompareToStandard(-1, wide(folder / "standard.nii"), c.maxBound, c.meanBound, &passed));
    EXPECT_EQ(passed, c.passed) << c.maxBound << " " << c.meanBound;
  }
  bool passed = false;
  EXPECT_FALSE(vol.CompareToStandard(-1, wide(folder / "missing.nii"), 1, 1, &passed));
  saveNifti(folder / "other.nii", {1, 2, 3}, 64, DIM3D{3, 1, 1, 1});
  EXPECT_FALSE(vol.CompareToStandard(-1, wide(folder / "other.nii"), 1, 1, &passed));
}
