// Volume operations on whole volumes: layer operations, cropping, comparisons, masking and the
// small queries, on small fixtures with answers in closed form.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "DicomRec.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using VoxelFn = std::function<double(int x, int y, int z, int t)>;

// A volume of the given kind and grid whose voxels are fn(x, y, z, t).
std::unique_ptr<CVol> makeVol(FRMTYPE type, int bpv, DIM3D dims, const VoxelFn& fn) {
  auto vol = std::make_unique<CVol>();
  vol->frame = PR_FrameCreate(type, bpv, dims, true);
  for (int t = 0; t < dims.t; ++t)
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, t, fn(x, y, z, t));
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(dims.t) * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < dims.t; ++t) vol->dyn[t].time = vol->dyn[t].timeEnd = 10.0 * t;
  return vol;
}

double voxel(const CVol* v, int x, int y, int z, int t) { return twk::voxelValue(v->frame, x, y, z, t); }

// ROI patterns of different period, so that every combination of bits occurs within one line.
bool inA(int x, int y, int z) { return (x + y + z) % 2 == 0; }
bool inB(int x, int y, int z) { return (x / 2 + y + z) % 2 == 0; }
bool inC(int x, int /*y*/, int /*z*/) { return x % 3 == 0; }

TEST(LayerOperations, RoiOperationsFollowTheirTruthTables) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const DIM3D dims{19, 2, 2, 1};  // 19 voxels: the lines end inside their second 16-bit word
  auto a = makeVol(FRM_ROI, 1, dims, [](int x, int y, int z, int) { return inA(x, y, z); });
  auto b = makeVol(FRM_ROI, 1, dims, [](int x, int y, int z, int) { return inB(x, y, z); });
  auto c = makeVol(FRM_ROI, 1, dims, [](int x, int y, int z, int) { return inC(x, y, z); });
  const struct {
    int code;
    std::vector<CVol*> operands;
    std::function<bool(bool, bool, bool)> expected;
  } cases[] = {
      {VA_LAYEROP_UNION, {a.get(), b.get()}, [](bool p, bool q, bool) { return p || q; }},
      {VA_LAYEROP_INTERSECT, {a.get(), b.get()}, [](bool p, bool q, bool) { return p && q; }},
      {VA_LAYEROP_A_AND_NOT_B, {a.get(), b.get()}, [](bool p, bool q, bool) { return p && !q; }},
      {VA_LAYEROP_XOR, {a.get(), b.get()}, [](bool p, bool q, bool) { return p != q; }},
      {VA_LAYEROP_NOT, {a.get()}, [](bool p, bool, bool) { return !p; }},
      {VA_LAYEROP_NOT, {a.get(), b.get()}, [](bool p, bool q, bool) { return !p && !q; }},
      {VA_LAYEROP_XOR, {a.get(), b.get(), c.get()}, [](bool p, bool q, bool r) { return (p + q + r) % 2 == 1; }},
      {VA_LAYEROP_A_AND_NOT_B, {a.get(), b.get(), c.get()}, [](bool p, bool q, bool r) { return p && !q && !r; }},
      {VA_LAYEROP_INTERSECT, {a.get(), b.get(), c.get()}, [](bool p, bool q, bool r) { return p && q && r; }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << VA_LayerOperationName(k.code) << " of " << k.operands.size());
    std::unique_ptr<CVol> r(VA_OperationOnVolumes(k.code, k.operands.data(), int(k.operands.size()), true));
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->IsROI());
    ASSERT_EQ(r->T(), 1);
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y) {
        for (int x = 0; x < dims.w; ++x)
          EXPECT_EQ(twk::roiBit(r->frame, x, y, z, 0), k.expected(inA(x, y, z), inB(x, y, z), inC(x, y, z)))
              << x << "," << y << "," << z;
        // The bits beyond the width stay clear (NOT would set them).
        const uint8_t* line = twk::frameLine(r->frame, y, z, 0);
        for (int x = dims.w; x < r->frame->lineBytes * 8; ++x) EXPECT_FALSE(twk::getBit(line, x)) << x;
      }
  }
  EXPECT_TRUE(script.messages.empty());
}

TEST(LayerOperations, SingleTimePointOperandAppliesToEveryTimePoint) {
  auto mask3D = makeVol(FRM_ROI, 1, {8, 1, 1, 1}, [](int x, int, int, int) { return x < 4; });
  auto roi4D = makeVol(FRM_ROI, 1, {8, 1, 1, 3}, [](int x, int, int, int t) { return x == t; });
  roi4D->dicom = static_cast<DICOMREC**>(pf_calloc(3 * int64_t(sizeof(DICOMREC*))));
  roi4D->numDicom = 3;
  for (int i = 0; i < 3; ++i) roi4D->dicom[i] = new DICOMREC;
  CVol* ops[] = {mask3D.get(), roi4D.get()};
  std::unique_ptr<CVol> r(VA_OperationOnVolumes(VA_LAYEROP_A_AND_NOT_B, ops, 2, false));
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->T(), 3);
  for (int t = 0; t < 3; ++t)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(twk::roiBit(r->frame, x, 0, 0, t), x < 4 && x != t) << x << " " << t;
  // Geometry and dynamics of the operand with the time points; an ROI keeps one DICOM record.
  EXPECT_EQ(r->dyn[2].time, 20.0);
  EXPECT_EQ(r->numDicom, 1);
}

TEST(LayerOperations, DifferencesOfValueVolumesWithVoids) {
  // A: real, two time points; B: 32-bit integers, one time point; C: an ROI.
  const DIM3D dims{4, 1, 1, 2};
  const double aValues[2][4] = {{5, 1, VOID_VALUE, 2.5}, {-3, 7, 0, 4}};
  auto a = makeVol(FRM_REAL, 64, dims, [&](int x, int, int, int t) { return aValues[t][x]; });
  const double bValues[4] = {2, 4, 1, VOID_VALUE};
  auto b = makeVol(FRM_INT, 32, {4, 1, 1, 1}, [&](int x, int, int, int) { return bValues[x]; });
  auto roi = makeVol(FRM_ROI, 1, {4, 1, 1, 1}, [](int x, int, int, int) { return x % 2 == 1; });
  ASSERT_EQ(voxel(b.get(), 3, 0, 0, 0), double(VOID_INT_VALUE));

  for (int code : {VA_LAYEROP_ABS_DIFF, VA_LAYEROP_MAX_ZERO_DIFF}) {
    SCOPED_TRACE(code);
    auto expect = [code](double p, double q) {
      if (p == VOID_VALUE || q == VOID_VALUE) return VOID_VALUE;
      return code == VA_LAYEROP_ABS_DIFF ? std::fabs(p - q) : std::max(0.0, p - q);
    };
    CVol* ab[] = {a.get(), b.get()};
    std::unique_ptr<CVol> r(VA_OperationOnVolumes(code, ab, 2, false));
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->IsReal());
    ASSERT_EQ(r->T(), 2);
    for (int t = 0; t < 2; ++t)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(voxel(r.get(), x, 0, 0, t), expect(aValues[t][x], bValues[x])) << x << "," << t;
    CVol* roiFirst[] = {roi.get(), a.get()};
    r.reset(VA_OperationOnVolumes(code, roiFirst, 2, false));
    ASSERT_NE(r, nullptr);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(voxel(r.get(), x, 0, 0, 1), expect(x % 2 == 1, aValues[1][x])) << x;
  }
}

TEST(LayerOperations, RefusalsAreReported) {
  auto roi = makeVol(FRM_ROI, 1, {4, 2, 1, 1}, [](int, int, int, int) { return 1; });
  auto roi2 = makeVol(FRM_ROI, 1, {4, 2, 1, 2}, [](int, int, int, int) { return 1; });
  auto roi3 = makeVol(FRM_ROI, 1, {4, 2, 1, 3}, [](int, int, int, int) { return 1; });
  auto wide = makeVol(FRM_ROI, 1, {5, 2, 1, 1}, [](int, int, int, int) { return 1; });
  auto real = makeVol(FRM_REAL, 64, {4, 2, 1, 1}, [](int, int, int, int) { return 2.0; });
  const struct {
    int code;
    std::vector<CVol*> operands;
    const wchar_t* message;
  } cases[] = {
      {0, {roi.get(), roi.get()}, L"Invalid layer operation"},
      {8, {roi.get(), roi.get()}, L"Invalid layer operation"},
      {VA_LAYEROP_UNION, {}, L"No suitable volume is present or enabled"},
      {VA_LAYEROP_UNION, {roi.get(), nullptr}, L"Invalid operand volume"},
      {VA_LAYEROP_UNION, {roi.get(), real.get()}, L"ROI operands are required"},
      {VA_LAYEROP_XOR, {roi.get()}, L"At least two ROIs are required"},
      {VA_LAYEROP_ABS_DIFF, {real.get()}, L"Exactly two volumes are required"},
      {VA_LAYEROP_ABS_DIFF, {real.get(), real.get(), real.get()}, L"Exactly two volumes are required"},
      {VA_LAYEROP_INTERSECT, {roi.get(), wide.get()}, L"Equal dimensions are expected"},
      {VA_LAYEROP_INTERSECT, {roi2.get(), roi3.get()}, L"Invalid dynamic points"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.message).GetString());
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    EXPECT_EQ(VA_OperationOnVolumes(c.code, c.operands.data(), int(c.operands.size()), true), nullptr);
    EXPECT_EQ(script.lastMessage(), CString(L"VA_OperationOnVolumes : ") + c.message);
  }
  EXPECT_STREQ(VA_LayerOperationName(VA_LAYEROP_MAX_ZERO_DIFF), L"MaxZeroDiff");
  EXPECT_STREQ(VA_LayerOperationName(99), L"Unknown");
}

// A 4D integer volume 5 x 4 x 3 x 3 whose voxels spell their coordinates, with a rotated
// orientation, image positions and one DICOM record per slice and time point.
std::unique_ptr<CVol> coordinateVolume() {
  auto vol = makeVol(FRM_INT, 16, {5, 4, 3, 3}, [](int x, int y, int z, int t) { return x + 10 * y + 100 * z + 1000 * t; });
  vol->name = L"/data/series.im";
  vol->unit = L"HU";
  vol->modality = MODALITY_CT;
  vol->spc = SPC{0.5, 2.0, 3.0};
  const double orient[6] = {0, 1, 0, 0, 0, -1};  // rows along +y, columns along -z
  std::memcpy(vol->orient, orient, sizeof orient);
  vol->imgPos = static_cast<DPOINT3D*>(pf_malloc(3 * int64_t(sizeof(DPOINT3D))));
  for (int z = 0; z < 3; ++z) vol->imgPos[z] = DPOINT3D{3.0 * z, 10, 20};
  vol->numDicom = 9;
  vol->dicom = static_cast<DICOMREC**>(pf_calloc(9 * int64_t(sizeof(DICOMREC*))));
  for (int i = 0; i < 9; ++i) {
    vol->dicom[i] = new DICOMREC;
    vol->dicom[i]->instanceNumber = i + 1;
    vol->dicom[i]->width = 5;
    vol->dicom[i]->height = 4;
  }
  return vol;
}

TEST(CloneByCrop, BoxKeepsVoxelsGeometryDynamicsAndRecords) {
  auto vol = coordinateVolume();
  const RECT4D box{1, 2, 1, 3, 3, 2, 1, 2};
  for (bool cloneDicom : {true, false}) {
    SCOPED_TRACE(cloneDicom);
    std::unique_ptr<CVol> c(vol->CloneByCrop(&box, nullptr, cloneDicom, true));
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->W(), 3);
    ASSERT_EQ(c->H(), 2);
    ASSERT_EQ(c->D(), 2);
    ASSERT_EQ(c->T(), 2);
    for (int t = 0; t < 2; ++t)
      for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 3; ++x)
            EXPECT_EQ(voxel(c.get(), x, y, z, t), (x + 1) + 10 * (y + 2) + 100 * (z + 1) + 1000 * (t + 1));
    EXPECT_EQ(c->name, L"/data/series.im");
    EXPECT_EQ(c->unit, L"HU");
    EXPECT_EQ(c->modality, MODALITY_CT);
    EXPECT_EQ(c->dyn[0].time, 10.0);
    EXPECT_EQ(c->dyn[1].time, 20.0);
    // The corner moves 1 x 0.5 mm along the rows (+y) and 2 x 2 mm along the columns (-z).
    for (int z = 0; z < 2; ++z) {
      EXPECT_DOUBLE_EQ(c->imgPos[z].x, 3.0 * (z + 1));
      EXPECT_DOUBLE_EQ(c->imgPos[z].y, 10.5);
      EXPECT_DOUBLE_EQ(c->imgPos[z].z, 16.0);
    }
    ASSERT_EQ(c->numDicom, cloneDicom ? 4 : 1);
    for (int64_t i = 0; i < c->numDicom; ++i) {
      const DICOMREC* r = c->dicom[i];
      const int z = int(i % 2), t = int(i / 2);
      EXPECT_EQ(r->width, 3);
      EXPECT_EQ(r->height, 2);
      EXPECT_EQ(r->instanceNumber, cloneDicom ? (t + 1) * 3 + (z + 1) + 1 : 1);
      EXPECT_DOUBLE_EQ(r->imagePosition[0], 3.0 * (z + 1));
    }
  }
}

TEST(CloneByCrop, TimeListPicksTimePointsInItsOrder) {
  auto vol = coordinateVolume();
  const int32_t list[] = {3, 2, 0, 2};
  std::unique_ptr<CVol> c(vol->CloneByCrop(nullptr, list, true, true));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->T(), 3);
  ASSERT_EQ(c->W(), 5);
  const int times[] = {2, 0, 2};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(voxel(c.get(), 4, 3, 2, k), 4 + 30 + 200 + 1000 * times[k]);
    EXPECT_EQ(c->dyn[k].time, 10.0 * times[k]);
    EXPECT_EQ(c->dicom[k * 3]->instanceNumber, times[k] * 3 + 1);
  }
  EXPECT_EQ(c->imgPos[2].x, 6.0);
}

TEST(CloneByCrop, RoiBitsMoveToTheNewCorner) {
  auto roi = makeVol(FRM_ROI, 1, {37, 2, 1, 1}, [](int x, int y, int, int) { return (x * 7 + y) % 5 < 2; });
  const RECT4D box{3, 1, 0, 35, 1, 0, 0, 0};
  std::unique_ptr<CVol> c(roi->CloneByCrop(&box, nullptr, false));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->W(), 33);
  for (int x = 0; x < 33; ++x) EXPECT_EQ(twk::roiBit(c->frame, x, 0, 0, 0), ((x + 3) * 7 + 1) % 5 < 2) << x;
}

TEST(CloneByCrop, InvalidRequestsAreRefused) {
  auto vol = coordinateVolume();
  const RECT4D inside{0, 0, 0, 4, 3, 2, 0, 2};
  const RECT4D wideBox{0, 0, 0, 5, 3, 2, 0, 0}, lateBox{0, 0, 0, 4, 3, 2, 1, 3}, inverted{2, 0, 0, 1, 3, 2, 0, 0};
  const int32_t list[] = {1, 0}, emptyList[] = {0}, badList[] = {2, 1, 3}, negative[] = {1, -1};
  const struct {
    const char* name;
    const RECT4D* box;
    const int32_t* list;
    const wchar_t* message;
  } cases[] = {
      {"both", &inside, list, L"Invalid cropping parameters"},
      {"neither", nullptr, nullptr, L"Invalid cropping parameters"},
      {"box beyond the width", &wideBox, nullptr, L"Crop box lies outside the volume"},
      {"box beyond the time points", &lateBox, nullptr, L"Crop box lies outside the volume"},
      {"inverted box", &inverted, nullptr, L"Crop box lies outside the volume"},
      {"empty list", nullptr, emptyList, L"Invalid cropping parameters"},
      {"time point beyond", nullptr, badList, L"Invalid dynamic points"},
      {"negative time point", nullptr, negative, L"Invalid dynamic points"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    EXPECT_EQ(vol->CloneByCrop(c.box, c.list, true, true), nullptr);
    EXPECT_EQ(script.lastMessage(), CString(L"CVol::CloneByCrop : ") + c.message);
  }
}

TEST(VolumeCompare, MatchingVolumesWithinTolerance) {
  auto make = [] {
    auto v = makeVol(FRM_REAL, 64, {3, 2, 2, 2}, [](int x, int y, int z, int t) { return x == 1 && y == 1 ? VOID_VALUE : 1000.0 + x - y + z * t; });
    v->imgPos = static_cast<DPOINT3D*>(pf_calloc(2 * int64_t(sizeof(DPOINT3D))));
    v->imgPos[1].z = 1;
    return v;
  };
  auto a = make();
  const struct {
    const char* name;
    std::function<void(CVol*)> change;
    double tolerance;
    bool match;
  } cases[] = {
      {"identical", [](CVol*) {}, 1e-8, true},
      {"relative change below the tolerance", [](CVol* v) { twk::setVoxelValue(v->frame, 2, 0, 1, 1, 1003.000001); }, 1e-8, true},
      {"relative change above the tolerance", [](CVol* v) { twk::setVoxelValue(v->frame, 2, 0, 1, 1, 1003.1); }, 1e-8, false},
      {"large change without a tolerance", [](CVol* v) { twk::setVoxelValue(v->frame, 0, 0, 0, 0, -5); }, 1e60, true},
      {"void against a value", [](CVol* v) { twk::setVoxelValue(v->frame, 0, 0, 0, 0, VOID_VALUE); }, 0.02, false},
      {"spacing", [](CVol* v) { v->spc.z = 1.1; }, 1e60, false},
      {"spacing within its tolerance", [](CVol* v) { v->spc.z = 1.001; }, 1e60, true},
      {"orientation", [](CVol* v) { const double o[6] = {0, 1, 0, 1, 0, 0}; std::memcpy(v->orient, o, sizeof o); }, 1e60, false},
      {"image position", [](CVol* v) { v->imgPos[1].z = 2; }, 1e60, false},
      {"positions known on one side only", [](CVol* v) { pf_free(&v->imgPos); }, 1e-8, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = make();
    c.change(b.get());
    bool match = !c.match;
    ASSERT_TRUE(a->IsMatchingVolume(b.get(), c.tolerance, &match));
    EXPECT_EQ(match, c.match);
  }
  auto other = makeVol(FRM_REAL, 64, {3, 2, 2, 1}, [](int, int, int, int) { return 0.0; });
  bool match = true;
  ASSERT_TRUE(a->IsMatchingVolume(other.get(), 1e60, &match));
  EXPECT_FALSE(match);
  EXPECT_FALSE(a->IsMatchingVolume(nullptr, 1e60, &match));
}

TEST(VolumeCompare, IdenticalFramesIgnoreRoiPadding) {
  auto a = makeVol(FRM_ROI, 1, {10, 2, 1, 1}, [](int x, int, int, int) { return x % 3 == 0; });
  CVol b(*a);
  EXPECT_TRUE(PR_FramesHaveIdenticalData(a->frame, b.frame));
  b.frame->data[1] |= 0x01;  // a padding bit of the first line
  EXPECT_TRUE(PR_FramesHaveIdenticalData(a->frame, b.frame));
  twk::setRoiBit(b.frame, 8, 1, 0, 0, true);
  EXPECT_FALSE(PR_FramesHaveIdenticalData(a->frame, b.frame));
  auto ints = makeVol(FRM_INT, 8, {10, 2, 1, 1}, [](int x, int, int, int) { return x % 3 == 0; });
  EXPECT_FALSE(PR_FramesHaveIdenticalData(a->frame, ints->frame));
  CVol c(*ints);
  EXPECT_TRUE(PR_FramesHaveIdenticalData(ints->frame, c.frame));
  twk::setVoxelValue(c.frame, 9, 1, 0, 0, 7);
  EXPECT_FALSE(PR_FramesHaveIdenticalData(ints->frame, c.frame));
}

TEST(VolumeMasking, CleanMaskSetsOutsideOrInside) {
  auto mask = makeVol(FRM_ROI, 1, {6, 1, 1, 1}, [](int x, int, int, int) { return x >= 2 && x < 5; });
  const struct {
    FRMTYPE type;
    int bpv;
    int t;
    bool inside;
    double value;
    double expectedSet;
  } cases[] = {
      {FRM_REAL, 64, -1, false, VOID_VALUE, VOID_VALUE},
      {FRM_REAL, 64, 1, false, VOID_VALUE, VOID_VALUE},
      {FRM_INT, 8, -1, true, 0, 0},
      {FRM_INT, 32, 0, false, VOID_VALUE, double(VOID_INT_VALUE)},
      {FRM_ROI, 1, -1, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << "/" << c.bpv << " t=" << c.t << " inside=" << c.inside);
    auto v = makeVol(c.type, c.bpv, {6, 1, 1, 2}, [](int x, int, int, int t) { return 1 + x + t; });
    ASSERT_TRUE(VA_VolCleanMask(v->frame, c.t, mask->frame, c.inside, c.value, true));
    for (int t = 0; t < 2; ++t)
      for (int x = 0; x < 6; ++x) {
        const bool inMask = x >= 2 && x < 5;
        const bool cleaned = (c.t < 0 || c.t == t) && inMask == c.inside;
        const double original = c.type == FRM_ROI ? 1.0 : 1 + x + t;
        EXPECT_EQ(voxel(v.get(), x, 0, 0, t), cleaned ? c.expectedSet : original) << x << "," << t;
      }
  }
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto v = makeVol(FRM_REAL, 64, {5, 1, 1, 1}, [](int, int, int, int) { return 1.0; });
  EXPECT_FALSE(VA_VolCleanMask(v->frame, 0, mask->frame, false, 0, true));
  EXPECT_EQ(script.lastMessage(), L"VA_VolCleanMask : ROI of the volume's dimensions is required");
  auto six = makeVol(FRM_REAL, 64, {6, 1, 1, 1}, [](int, int, int, int) { return 1.0; });
  EXPECT_FALSE(VA_VolCleanMask(six->frame, 1, mask->frame, false, 0, true));
  EXPECT_EQ(script.lastMessage(), L"VA_VolCleanMask : Invalid time point");
}

TEST(VolumeMasking, TimeOfMaxInfoLooksInsideTheRoi) {
  // Time point 1 carries the most signal overall, time point 2 the most inside the ROI (x < 2);
  // a void voxel at time point 0 must not count as signal.
  const double values[3][4] = {{VOID_VALUE, 0, 0, 0}, {1, 1, 50, 50}, {5, 5, 0, 0}};
  auto v = makeVol(FRM_REAL, 64, {4, 1, 1, 3}, [&](int x, int, int, int t) { return values[t][x]; });
  auto roi = makeVol(FRM_ROI, 1, {4, 1, 1, 1}, [](int x, int, int, int) { return x < 2; });
  int64_t t = -1;
  ASSERT_TRUE(VA_VolGetTimeOfMaxInfo(v->frame, nullptr, &t, false));
  EXPECT_EQ(t, 1);
  ASSERT_TRUE(VA_VolGetTimeOfMaxInfo(v->frame, roi->frame, &t, false));
  EXPECT_EQ(t, 2);
  auto wrong = makeVol(FRM_ROI, 1, {3, 1, 1, 1}, [](int, int, int, int) { return 1; });
  EXPECT_FALSE(VA_VolGetTimeOfMaxInfo(v->frame, wrong->frame, &t, false));
}

TEST(VolumeQueries, SpacingDiameterBitsAndAcquisitionValues) {
  auto v = makeVol(FRM_INT, 32, {3, 4, 12, 1}, [](int x, int, int, int) { return 40000.0 * x; });
  const struct {
    SPC spc;
    bool valid;
  } spacings[] = {{{1, 1, 1}, true}, {{0.5, 0.5, 3}, true}, {{0, 1, 1}, false}, {{1, -1, 1}, false},
                  {{1, 1, VOID_VALUE}, false}, {{1, NAN, 1}, false}, {{INFINITY, 1, 1}, false}};
  for (const auto& s : spacings) {
    v->spc = s.spc;
    EXPECT_EQ(v->IsValidSpc(), s.valid) << s.spc.x << " " << s.spc.y << " " << s.spc.z;
  }
  v->spc = SPC{1, 1, 1};
  EXPECT_DOUBLE_EQ(v->UnivoxDiam(), 13.0);  // 3, 4, 12
  v->spc = SPC{2, 2, 2};
  EXPECT_DOUBLE_EQ(v->UnivoxDiam(), 26.0);

  v->dicom = static_cast<DICOMREC**>(pf_calloc(int64_t(sizeof(DICOMREC*))));
  v->numDicom = 1;
  v->dicom[0] = new DICOMREC;
  v->dicom[0]->bitsAllocated = 32;
  ASSERT_TRUE(v->SetBpv(12));
  EXPECT_EQ(v->frame->bpv, 16);
  EXPECT_EQ(v->dicom[0]->bitsAllocated, 16);
  EXPECT_EQ(voxel(v.get(), 2, 0, 0, 0), 65535.0);  // 80000 clamped to the stored width
  EXPECT_FALSE(v->SetBpv(33));
  EXPECT_FALSE(v->SetBpv(64));
  auto roi = makeVol(FRM_ROI, 1, {2, 1, 1, 1}, [](int, int, int, int) { return 1; });
  EXPECT_TRUE(roi->SetBpv(1));
  EXPECT_FALSE(roi->SetBpv(8));

  // Acquisition values: the record first, then the first time point's coordinates.
  EXPECT_EQ(v->GetFlipAngle(), 0.0);  // dynamic coordinates of the fixture: zero
  v->dyn[0].flipAngle = 12;
  v->dyn[0].repetitionTime = 0.004;
  EXPECT_EQ(v->GetFlipAngle(), 12.0);
  v->dicom[0]->flipAngle = 15;
  EXPECT_EQ(v->GetFlipAngle(), 15.0);
  EXPECT_EQ(v->GetTR(), 0.004);
  pf_free(&v->dyn);
  EXPECT_EQ(v->GetTE(), VOID_VALUE);
}

TEST(VolumeQueries, CreateUniformResizesRecordsToTheNewFrame) {
  auto v = makeVol(FRM_INT, 16, {2, 2, 3, 2}, [](int, int, int, int) { return 5; });
  v->imgPos = static_cast<DPOINT3D*>(pf_malloc(3 * int64_t(sizeof(DPOINT3D))));
  for (int z = 0; z < 3; ++z) v->imgPos[z] = DPOINT3D{0, 0, double(z)};
  ASSERT_TRUE(v->CreateUniform(FRM_REAL, DIM3D{4, 3, 2, 3}, VOID_VALUE));
  ASSERT_TRUE(v->IsReal());
  EXPECT_EQ(v->TotNumVox(), 72);
  EXPECT_EQ(voxel(v.get(), 3, 2, 1, 2), VOID_VALUE);
  EXPECT_EQ(v->dyn[1].time, 10.0);  // kept
  EXPECT_EQ(v->dyn[2].time, 0.0);   // new
  EXPECT_EQ(v->imgPos[1].z, 1.0);
  EXPECT_FALSE(v->CreateUniform(FRM_REAL, DIM3D{0, 3, 2, 3}, 0));
  EXPECT_EQ(v->TotNumVox(), 72);  // unchanged after a refusal
}

TEST(VolumeMembers, MirrorAxesCountFromOneAndGeometryComparisonsUseTolerances) {
  auto v = makeVol(FRM_INT, 16, {2, 2, 3, 1}, [](int x, int y, int z, int) { return x + 10 * y + 100 * z; });
  ASSERT_TRUE(v->Mirror(true, 3));  // the slice axis
  EXPECT_EQ(voxel(v.get(), 1, 1, 0, 0), 211.0);
  ASSERT_TRUE(v->Mirror(false, 1));
  EXPECT_EQ(voxel(v.get(), 0, 1, 0, 0), 211.0);
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  EXPECT_FALSE(v->Mirror(false, 0, true));
  EXPECT_FALSE(v->Mirror(false, 4, true));
  EXPECT_EQ(script.messages.size(), 2u);

  CVol w(*v);
  EXPECT_TRUE(v->IsEqualDim(&w));
  w.spc.x += 0.001;
  EXPECT_TRUE(v->IsEqualSpc(&w));
  w.spc.x += 0.5;
  EXPECT_FALSE(v->IsEqualSpc(&w));
  w.orient[0] = 0.999995;
  EXPECT_TRUE(v->IsEqualOrient(&w));
  w.orient[0] = 0.5;
  EXPECT_FALSE(v->IsEqualOrient(&w));
  EXPECT_FALSE(v->IsEqualSpc(nullptr));
}

TEST(VolumePlanes, MajorProjectionFollowsTheViewingDirection) {
  auto v = makeVol(FRM_INT, 8, {4, 5, 6, 1}, [](int, int, int, int) { return 0; });
  const double sagittal[6] = {0, 1, 0, 0, 0, -1}, coronal[6] = {1, 0, 0, 0, 0, -1}, axial[6] = {1, 0, 0, 0, 1, 0};
  const struct {
    const double* orient;
    double rx, ry;
    int type;
  } cases[] = {
      {axial, 0, 0, 1},   {axial, 90, 0, 2},  {axial, 0, 90, 0},    {sagittal, 0, 0, 0},
      {coronal, 0, 0, 2}, {coronal, 90, 0, 1}, {sagittal, 0, 90, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.orient[0] << c.orient[1] << c.orient[2] << " " << c.rx << " " << c.ry);
    std::memcpy(v->orient, c.orient, sizeof v->orient);
    VA_VOLPROJ proj;
    proj.rotation[0] = c.rx;
    proj.rotation[1] = c.ry;
    EXPECT_EQ(v->GetMajorProjType(&proj), c.type);
    double o[6];
    ASSERT_TRUE(v->GetProjOrientation(&proj, o));
    EXPECT_NEAR(o[0] * o[3] + o[1] * o[4] + o[2] * o[5], 0.0, 1e-12);
    EXPECT_NEAR(o[0] * o[0] + o[1] * o[1] + o[2] * o[2], 1.0, 1e-12);
  }
  std::memcpy(v->orient, sagittal, sizeof v->orient);
  double o[6];
  ASSERT_TRUE(v->GetProjOrientation(nullptr, o));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(o[k], sagittal[k], 1e-12);
  EXPECT_EQ(v->GetMajorProjType(), 0);
  std::memset(v->orient, 0, sizeof v->orient);
  EXPECT_EQ(v->GetMajorProjType(), -1);
  EXPECT_FALSE(v->GetProjOrientation(nullptr, o));
}

namespace {

// The record of a candidate plane: quarter turns about x, y and z.
VA_VOLPROJ turned(double rx, double ry, double rz) {
  VA_VOLPROJ proj;
  proj.rotation[0] = rx;
  proj.rotation[1] = ry;
  proj.rotation[2] = rz;
  return proj;
}

CString projText(const CVol& v, const VA_VOLPROJ& proj) {
  CString text;
  EXPECT_TRUE(v.GetProjText(&proj, &text));
  return text;
}

}  // namespace

TEST(VolumePlanes, ProjectionTextNamesThePlaneAndTheEdges) {
  auto v = makeVol(FRM_INT, 8, {4, 5, 6, 1}, [](int, int, int, int) { return 0; });
  const double axial[6] = {1, 0, 0, 0, 1, 0}, coronal[6] = {1, 0, 0, 0, 0, -1}, sagittal[6] = {0, 1, 0, 0, 0, -1};
  // Half turns reverse two screen axes whatever the sense of rotation, so their texts are known.
  const struct {
    const double* orient;
    double rx, ry, rz;
    const wchar_t* text;
  } cases[] = {
      {axial, 0, 0, 0, L"AX R>L A>P"},      {axial, 0, 0, 180, L"AX L>R P>A"},
      {axial, 0, 180, 0, L"AX L>R A>P"},    {axial, 180, 0, 0, L"AX R>L P>A"},
      {coronal, 0, 0, 0, L"COR R>L S>I"},   {coronal, 0, 180, 0, L"COR L>R S>I"},
      {coronal, 0, 0, 180, L"COR L>R I>S"}, {sagittal, 0, 0, 0, L"SAG A>P S>I"},
      {sagittal, 180, 0, 0, L"SAG A>P I>S"}, {sagittal, 0, 180, 0, L"SAG P>A S>I"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.orient[1] << c.orient[5] << " " << c.rx << " " << c.ry << " " << c.rz);
    std::memcpy(v->orient, c.orient, sizeof v->orient);
    EXPECT_EQ(projText(*v, turned(c.rx, c.ry, c.rz)), c.text);
  }

  // Over every quarter-turn plane the text agrees with the plane type and the screen directions.
  const double* orients[3] = {axial, coronal, sagittal};
  for (const double* orient : orients) {
    std::memcpy(v->orient, orient, sizeof v->orient);
    for (int i = 0; i < 64; ++i) {
      const VA_VOLPROJ proj = turned(i % 4 * 90, i / 4 % 4 * 90, i / 16 * 90);
      SCOPED_TRACE(testing::Message() << orient[1] << orient[5] << " candidate " << i);
      const CString text = projText(*v, proj);
      const int type = v->GetMajorProjType(&proj);
      EXPECT_EQ(text.Left(text.Find(L' ')), type == 1 ? L"AX" : type == 2 ? L"COR" : L"SAG");
      double o[6];
      ASSERT_TRUE(v->GetProjOrientation(&proj, o));
      const wchar_t ends[3][2] = {{L'R', L'L'}, {L'A', L'P'}, {L'I', L'S'}};
      for (int axis = 0; axis < 2; ++axis) {
        const double* d = o + 3 * axis;
        int k = 0;
        for (int c = 1; c < 3; ++c)
          if (std::fabs(d[c]) > std::fabs(d[k])) k = c;
        const int at = text.GetLength() - (axis == 0 ? 7 : 3);
        EXPECT_EQ(text[at], ends[k][d[k] > 0 ? 0 : 1]);
        EXPECT_EQ(text[at + 2], ends[k][d[k] > 0 ? 1 : 0]);
      }
    }
  }

  CString text = L"kept";
  std::memset(v->orient, 0, sizeof v->orient);
  EXPECT_FALSE(v->GetProjText(nullptr, &text));
  EXPECT_EQ(text, L"kept");
}

TEST(VolumePlanes, SlicesStoredAgainstTheNormalTurnTheSliceAxis) {
  // An axial volume whose slices run from the head to the feet: a plane that shows the slice axis
  // downwards has the head at the bottom only when the slices run upwards.
  auto v = makeVol(FRM_INT, 8, {4, 5, 6, 1}, [](int, int, int, int) { return 0; });
  const VA_VOLPROJ proj = turned(90, 0, 0);
  const CString upwards = projText(*v, proj);
  v->imgPos = static_cast<DPOINT3D*>(pf_malloc(6 * sizeof(DPOINT3D)));
  for (int k = 0; k < 6; ++k) v->imgPos[k] = DPOINT3D{0, 0, -2.0 * k};
  const CString downwards = projText(*v, proj);
  EXPECT_EQ(upwards.Left(6), downwards.Left(6));
  EXPECT_EQ(upwards[upwards.GetLength() - 3], downwards[downwards.GetLength() - 1]);
  EXPECT_EQ(upwards[upwards.GetLength() - 1], downwards[downwards.GetLength() - 3]);
  EXPECT_EQ(projText(*v, VA_VOLPROJ{}), L"AX R>L A>P");  // the native plane does not show the slice axis
}

TEST(VolumePlanes, EveryConventionalViewIsReachedByQuarterTurns) {
  const struct {
    int convention, type;
    const wchar_t* name;
  } names[] = {{1, 1, L"AX R>L A>P"}, {1, 2, L"COR R>L S>I"}, {1, 0, L"SAG A>P S>I"}, {2, 1, L"AX L>R A>P"},
               {2, 2, L"COR L>R S>I"}, {2, 0, L"SAG A>P S>I"}, {0, 1, nullptr},   {3, 1, nullptr},
               {1, -1, nullptr},        {1, 3, nullptr}};
  for (const auto& n : names) {
    SCOPED_TRACE(testing::Message() << n.convention << " " << n.type);
    const wchar_t* name = VA_GetProjectionConventionName(n.convention, n.type);
    if (!n.name) {
      EXPECT_EQ(name, nullptr);
      continue;
    }
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, n.name);
  }
  // Whatever the acquisition, each conventional name is the text of one of the 64 candidate planes.
  auto v = makeVol(FRM_INT, 8, {4, 5, 6, 1}, [](int, int, int, int) { return 0; });
  const double orients[3][6] = {{1, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 0, -1}, {0, 1, 0, 0, 0, -1}};
  for (const auto& orient : orients)
    for (int convention = 1; convention <= 2; ++convention)
      for (int type = 0; type < 3; ++type) {
        std::memcpy(v->orient, orient, sizeof v->orient);
        const CString name = VA_GetProjectionConventionName(convention, type);
        bool found = false;
        for (int i = 0; i < 64 && !found; ++i) {
          const VA_VOLPROJ proj = turned(i % 4 * 90, i / 4 % 4 * 90, i / 16 * 90);
          found = projText(*v, proj) == name;
          if (found) {
            EXPECT_EQ(v->GetMajorProjType(&proj), type);
          }
        }
        EXPECT_TRUE(found) << name.toUtf8() << " orient " << orient[1] << orient[5];
      }
}

TEST(VolumePlanes, MosaicTilesBecomeSlices) {
  // Tile k of a 3 x 3 grid of 2 x 2 tiles holds 10 * k + the voxel's place in the tile.
  auto mosaic = makeVol(FRM_INT, 16, {6, 6, 1, 2}, [](int x, int y, int, int t) {
    return 100 * t + 10 * ((y / 2) * 3 + x / 2) + (y % 2) * 2 + x % 2;
  });
  FRAME* v = VA_VolumeMosaicToVolumeUser(mosaic->frame, 7, true);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->dim.w, 2);
  EXPECT_EQ(v->dim.h, 2);
  EXPECT_EQ(v->dim.d, 7);
  EXPECT_EQ(v->dim.t, 2);
  for (int t = 0; t < 2; ++t)
    for (int k = 0; k < 7; ++k)
      for (int i = 0; i < 4; ++i) EXPECT_EQ(twk::voxelValue(v, i % 2, i / 2, k, t), 100 * t + 10 * k + i);
  PR_FrameDelete(&v);

  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  EXPECT_EQ(VA_VolumeMosaicToVolumeUser(mosaic->frame, 10, true), nullptr);  // a 4 x 4 grid
  EXPECT_EQ(script.lastMessage(), L"VA_VolumeMosaicToVolumeUser : Mosaic grid does not fit the image");
  EXPECT_EQ(VA_VolumeMosaicToVolumeUser(mosaic->frame, 0, true), nullptr);
  auto volume = makeVol(FRM_INT, 16, {6, 6, 2, 1}, [](int, int, int, int) { return 0; });
  EXPECT_EQ(VA_VolumeMosaicToVolumeUser(volume->frame, 4, true), nullptr);
  EXPECT_EQ(script.messages.size(), 3u);
}

}  // namespace
