// 4D operations against closed forms and numpy: V[t] = t and its reverse through subtraction,
// average, maximum and the trapezoid integral on uneven times (numpy.trapz), aggregation of equal
// b-values (numpy grouping), the TE=0 fold of model data, mutual information (numpy.histogram2d),
// time to depth and back, and the mosaic round trip.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GeometryTestKit.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomVolume.h"
#include "dynamics/Dynamics.h"
#include "filters/Filters.h"
#include "geometry/Dynamic4D.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using twk::geotest::FrameGuard;

// Debian's Python on a script; the numbers it prints.
std::vector<double> python(const std::string& script) {
  const std::string file = twk::testing::testFile("dynamic4d.py");
  if (FILE* f = std::fopen(file.c_str(), "w")) {
    std::fputs(("import numpy as np\n" + script).c_str(), f);
    std::fclose(f);
  }
  FILE* p = ::popen((std::string(TWK_DEBIAN_PYTHON) + " " + file).c_str(), "r");
  std::string out;
  char buf[4096];
  for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) {
    EXPECT_EQ(::pclose(p), 0) << out;
  }
  std::istringstream in(out);
  std::vector<double> v;
  for (double x; in >> x;) v.push_back(x);
  return v;
}

std::string list(const std::vector<double>& v) {
  std::ostringstream s;
  s.precision(17);
  s << "[";
  for (double x : v) s << x << ",";
  s << "]";
  return s.str();
}

FRAME* makeFrame(FRMTYPE type, int bpv, DIM3D d, double (*value)(int, int, int, int)) {
  FRAME* f = PR_FrameCreate(type, bpv, d, true);
  for (int t = 0; t < d.t; ++t)
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) twk::setVoxelValue(f, x, y, z, t, value(x, y, z, t));
  return f;
}

class Dynamic4D : public ::testing::Test {
 protected:
  twk::ScriptedUi ui_;
  twk::ScopedUi installed_{ui_};
};

TEST_F(Dynamic4D, RampAndItsReverseThroughSubtractionAverageIntegralAndMax) {
  const DIM3D d{3, 2, 2, 5};
  // Stored out of chronological order, with uneven steps.
  const double times[5] = {0, 7, 1, 8, 3};
  DYNCRD dyn[5];
  for (int t = 0; t < 5; ++t) dyn[t].time = times[t];
  int order[5];
  ASSERT_TRUE(VA_SpecifiedDynComponentToChronoOrder(DYN_TIME, dyn, 5, order));
  std::vector<double> chrono;
  for (int i = 0; i < 5; ++i) chrono.push_back(times[order[i]]);
  // numpy.trapz of every voxel curve first, in one run.
  auto v = [](bool reverse, int x, int t) { return double((reverse ? 4 - t : t) * (x + 1)); };
  std::string py;
  for (bool reverse : {false, true})
    for (int x = 0; x < 3; ++x) {
      std::vector<double> values;
      for (int i = 0; i < 5; ++i) values.push_back(v(reverse, x, order[i]));
      py += "print(np.trapz(" + list(values) + ", " + list(chrono) + "))\n";
    }
  const std::vector<double> trapz = python(py);
  ASSERT_EQ(trapz.size(), 6u);
  for (bool reverse : {false, true}) {
    SCOPED_TRACE(reverse);
    FrameGuard f(reverse ? makeFrame(FRM_INT, 16, d, [](int x, int, int, int t) { return double((4 - t) * (x + 1)); })
                         : makeFrame(FRM_INT, 16, d, [](int x, int, int, int t) { return double(t * (x + 1)); }));
    FrameGuard sub(VA_VolDynSubtraction(f.f, true));
    FrameGuard avg(VA_VolDynamicAverage(f.f, 1, 3, true));
    FrameGuard max(VA_VolDynamicMax(f.f, 0, 4, true));
    FrameGuard integral(VA_VolDynamicIntegral(f.f, dyn, order, 0, 4, true));
    ASSERT_TRUE(sub.f && avg.f && max.f && integral.f);
    EXPECT_EQ(sub.f->type, FRM_REAL);
    for (int x = 0; x < 3; ++x) {
      for (int t = 0; t < 5; ++t) EXPECT_EQ(twk::voxelValue(sub.f, x, 1, 1, t), v(reverse, x, t) - v(reverse, x, 0));
      EXPECT_EQ(twk::voxelValue(avg.f, x, 0, 1, 0), (v(reverse, x, 1) + v(reverse, x, 2) + v(reverse, x, 3)) / 3);
      EXPECT_EQ(twk::voxelValue(max.f, x, 1, 0, 0), std::max(v(reverse, x, 0), v(reverse, x, 4)));
      EXPECT_NEAR(twk::voxelValue(integral.f, x, 0, 0, 0), trapz[size_t(3 * reverse + x)], 1e-12);
    }
  }
  FrameGuard f(makeFrame(FRM_INT, 16, d, [](int, int, int, int t) { return double(t); }));
  const struct {
    int t0, t1;
  } bad[] = {{3, 1}, {-1, 2}, {0, 5}};
  for (const auto& b : bad) {
    EXPECT_EQ(VA_VolDynamicAverage(f.f, b.t0, b.t1, true), nullptr);
    EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolDynamicAverage : Invalid time interval"));
  }
  FrameGuard flat(makeFrame(FRM_INT, 16, DIM3D{2, 2, 2, 1}, [](int, int, int, int) { return 1.0; }));
  EXPECT_EQ(VA_VolDynSubtraction(flat.f, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolDynSubtraction : 4D volume is required"));
}

TEST_F(Dynamic4D, AggregationAgreesWithNumpyGrouping) {
  const double b[7] = {0, 0, 50, 50, 50, 0, 800};
  CVol vol;
  vol.frame = makeFrame(FRM_INT, 16, DIM3D{2, 2, 1, 7}, [](int x, int y, int, int t) {
    return double((t * 37 + x * 11 + y * 5) % 23 + 1);
  });
  vol.dyn = static_cast<DYNCRD*>(pf_calloc(7 * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < 7; ++t) {
    vol.dyn[t].bValue = b[t];
    vol.dyn[t].time = t;
  }
  std::ostringstream py;
  py << "b = np.array([0, 0, 50, 50, 50, 0, 800])\nfor x, y in [(0, 0), (1, 0), (0, 1), (1, 1)]:\n"
     << "    v = np.array([(t * 37 + x * 11 + y * 5) % 23 + 1 for t in range(7)], float)\n"
     << "    for groups in ([[0, 1], [2, 3, 4], [5], [6]], [[0, 1, 5], [2, 3, 4], [6]]):\n"
     << "        for g in groups:\n"
     << "            s = v[g]\n"
     << "            print(s.mean(), np.median(s), s.std(), s.std() / abs(s.mean()))\n";
  const std::vector<double> ref = python(py.str());
  ASSERT_EQ(ref.size(), 4u * 7 * 4);
  size_t k = 0;
  const int xy[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  std::vector<CVol*> results[2];
  for (int all = 0; all < 2; ++all)
    for (int type = 0; type < 4; ++type) {
      results[all].push_back(VA_AggregateVolume4D(type, all != 0, &vol, true));
      ASSERT_TRUE(results[all].back());
      EXPECT_EQ(results[all].back()->T(), all ? 3 : 4);
    }
  EXPECT_EQ(results[1][0]->dyn[2].bValue, 800);
  for (const auto& p : xy)
    for (int all = 0; all < 2; ++all)
      for (int g = 0; g < (all ? 3 : 4); ++g)
        for (int type = 0; type < 4; ++type)
          EXPECT_NEAR(twk::voxelValue(results[all][size_t(type)]->frame, p[0], p[1], 0, g), ref[k++], 1e-12)
              << "all " << all << " group " << g << " type " << type;
  for (auto& r : results)
    for (CVol* v : r) delete v;
  // The time coordinate is no dynamic value to aggregate.
  for (int t = 0; t < 7; ++t) vol.dyn[t].bValue = 0;
  EXPECT_EQ(VA_AggregateVolume4D(0, false, &vol, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_AggregateVolume4D : Invalid Dynamic dimension"));
}

TEST_F(Dynamic4D, MultiechoFoldRecoversS0AndT2OfModelData) {
  CVol vol;
  const double te[6] = {0.010, 0.020, 0.035, 0.050, 0.070, 0.090};
  vol.frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{3, 2, 2, 6}, true);
  vol.dyn = static_cast<DYNCRD*>(pf_calloc(6 * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < 6; ++t) vol.dyn[t].echoTime = te[t];
  auto s0 = [](int x, int y, int z) { return 500.0 + 100 * x + 40 * y + 10 * z; };
  auto t2 = [](int x, int y, int) { return 0.030 + 0.02 * x + 0.01 * y; };
  for (int t = 0; t < 6; ++t)
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          twk::setVoxelValue(vol.frame, x, y, z, t, x == 2 && y == 1 && z == 1 ? 3.0 : s0(x, y, z) * std::exp(-te[t] / t2(x, y, z)));
  CVol* a = nullptr;
  CVol* b = nullptr;
  ASSERT_TRUE(VA_FoldMultiechoVolume4D(&vol, nullptr, 5.0, &a, &b, true));
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        if (x == 2 && y == 1 && z == 1) {  // air: below the threshold
          EXPECT_EQ(twk::voxelValue(a->frame, x, y, z, 0), 0);
          continue;
        }
        EXPECT_NEAR(twk::voxelValue(a->frame, x, y, z, 0), s0(x, y, z), 0.005 * s0(x, y, z));
        EXPECT_NEAR(twk::voxelValue(b->frame, x, y, z, 0), t2(x, y, z), 0.005 * t2(x, y, z));
      }
  delete a;
  delete b;
}

TEST_F(Dynamic4D, MutualInformationAgreesWithNumpyHistogram2d) {
  FrameGuard f(makeFrame(FRM_REAL, 64, DIM3D{9, 8, 3, 4}, [](int x, int y, int z, int t) {
    return std::sin(0.7 * x + 0.3 * t) * 100 + y * y * (t + 1) + 5.0 * z;
  }));
  FrameGuard roi(makeFrame(FRM_ROI, 1, DIM3D{9, 8, 3, 1}, [](int x, int y, int, int) { return x + y > 4 ? 1.0 : 0.0; }));
  std::ostringstream py;
  py << "import math\n"
     << "def frame(t):\n"
     << "    return np.array([[[math.sin(0.7 * x + 0.3 * t) * 100 + y * y * (t + 1) + 5.0 * z for x in range(9)]\n"
     << "                      for y in range(8)] for z in range(3)])\n"
     << "mask = np.array([[[x + y > 4 for x in range(9)] for y in range(8)] for z in range(3)])\n"
     << "def H(p):\n"
     << "    p = p[p > 0] / p.sum()\n"
     << "    return -(p * np.log(p)).sum()\n"
     << "for m in (None, mask):\n"
     << "    mi, nmi = [], []\n"
     << "    for t in range(3):\n"
     << "        a, b = frame(t), frame(t + 1)\n"
     << "        if m is not None: a, b = a[m], b[m]\n"
     << "        j, _, _ = np.histogram2d(a.ravel(), b.ravel(), bins=64)\n"
     << "        ha, hb, hab = H(j.sum(1)), H(j.sum(0)), H(j.ravel())\n"
     << "        mi.append(ha + hb - hab); nmi.append((ha + hb) / hab)\n"
     << "    print(np.mean(mi), np.mean(nmi))\n";
  const std::vector<double> ref = python(py.str());
  ASSERT_EQ(ref.size(), 4u);
  for (int withRoi = 0; withRoi < 2; ++withRoi)
    for (int measure : {3, 4}) {
      double value = 0;
      ASSERT_TRUE(VA_Vol4D_CalculateMutualInfoOverROI(measure, f.f, withRoi ? roi.f : nullptr, &value, true));
      EXPECT_NEAR(value, ref[size_t(2 * withRoi + measure - 3)], 1e-9) << withRoi << " " << measure;
    }
}

TEST_F(Dynamic4D, TimeToDepthAndBackIsBitIdentical) {
  FrameGuard f(makeFrame(FRM_ROI, 1, DIM3D{11, 3, 4, 5}, [](int x, int y, int z, int t) { return double((x * y + z + t) % 3 == 0); }));
  FrameGuard i(makeFrame(FRM_INT, 16, DIM3D{5, 3, 4, 5}, [](int x, int y, int z, int t) { return double(x + 7 * y + 50 * z + 1000 * t); }));
  for (const FRAME* frame : {f.f, i.f}) {
    CVol depth;
    depth.frame = VA_VolumeTimeToDepth(frame, true);
    ASSERT_TRUE(depth.frame);
    EXPECT_EQ(depth.D(), 20);
    EXPECT_EQ(depth.T(), 1);
    // Four slice positions repeating: the period of the original series.
    depth.imgPos = static_cast<DPOINT3D*>(pf_calloc(20 * int64_t(sizeof(DPOINT3D))));
    for (int k = 0; k < 20; ++k) depth.imgPos[k] = DPOINT3D{1, 2, 3.0 + 2.5 * (k % 4)};
    DIM3D dims;
    FrameGuard back(VA_VolumeDepthToTime(&depth, &dims, true));
    ASSERT_TRUE(back.f);
    EXPECT_EQ(dims.d, 4);
    EXPECT_EQ(dims.t, 5);
    EXPECT_TRUE(PR_FramesHaveIdenticalData(back.f, frame));
    for (int k = 0; k < 20; ++k) depth.imgPos[k].z = 3.0 + k;
    EXPECT_EQ(VA_VolumeDepthToTime(&depth, &dims, true), nullptr);
    EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolumeDepthToTime : No repeating slice positions are found"));
  }
  DYNCRD* dyn = VA_AllocDynCrd(4);
  ASSERT_TRUE(dyn);
  EXPECT_EQ(dyn[3].time, 3);
  pf_free(&dyn);
}

TEST_F(Dynamic4D, MosaicFoldsBackIntoTheTilesItWasSplitFrom) {
  FrameGuard volume(makeFrame(FRM_INT, 16, DIM3D{4, 3, 5, 2}, [](int x, int y, int z, int t) { return double(1 + x + 10 * y + 100 * z + 1000 * t); }));
  FrameGuard mosaic(VA_VolumeUserToVolumeMosaic(volume.f, true));
  ASSERT_TRUE(mosaic.f);
  EXPECT_EQ(mosaic.f->dim.w, 12);  // a 3 x 3 grid for 5 slices
  EXPECT_EQ(mosaic.f->dim.h, 9);
  EXPECT_EQ(twk::voxelValue(mosaic.f, 11, 8, 0, 1), 0);  // an unused tile
  FrameGuard again(VA_VolumeMosaicToVolumeUser(mosaic.f, 5, true));
  ASSERT_TRUE(again.f);
  EXPECT_TRUE(PR_FramesHaveIdenticalData(again.f, volume.f));
}

// A dynamic PET series written by pydicom: 2 time points of 2 slices of 6 x 5, activity = stored x 0.5.
const char* kPetScript = R"(
import sys, os, pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, generate_uid
def secs(t): return int(t[0:2]) * 3600 + int(t[2:4]) * 60 + float(t[4:])
def make(folder, corr, inj, series_time):
  acq = ['233000', '000500'] if series_time == '233000' else ['101600', '102600']
  os.makedirs(folder, exist_ok=True)
  study, ser, frame = generate_uid(), generate_uid(), generate_uid()
  expected = []
  for t in range(2):
      for k in range(2):
          ds = Dataset(); meta = FileMetaDataset()
          meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.128'
          meta.MediaStorageSOPInstanceUID = generate_uid()
          meta.TransferSyntaxUID = ExplicitVRLittleEndian
          meta.ImplementationClassUID = '1.2.826.0.1.3680043.8.498.1'
          ds.file_meta = meta; ds.is_little_endian = True; ds.is_implicit_VR = False
          ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
          ds.Modality = 'PT'; ds.PatientName = 'Suv^Test'; ds.PatientID = 'SUV1'; ds.PatientWeight = 72.5
          ds.StudyInstanceUID = study; ds.SeriesInstanceUID = ser; ds.FrameOfReferenceUID = frame
          ds.StudyDate = '20240301'; ds.SeriesDate = '20240301'; ds.SeriesTime = series_time; ds.SeriesNumber = 5
          ds.SeriesDescription = 'PET dynamic'
          ri = Dataset(); ri.RadionuclideTotalDose = 370000000; ri.RadionuclideHalfLife = 6586.2
          ri.RadiopharmaceuticalStartTime = inj
          ds.RadiopharmaceuticalInformationSequence = Sequence([ri])
          ds.Units = 'BQML'; ds.DecayCorrection = corr
          ds.AcquisitionTime = acq[t]; ds.ContentTime = acq[t]
          ds.FrameReferenceTime = t * 600000; ds.ActualFrameDuration = 600000
          ds.TemporalPositionIdentifier = t + 1; ds.NumberOfTemporalPositions = 2
          ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]; ds.PixelSpacing = [2.0, 2.0]; ds.SliceThickness = 3.0
          ds.ImagePositionPatient = [-5.0, -4.0, 3.0 * k]; ds.InstanceNumber = t * 2 + k + 1
          y, x = np.mgrid[0:5, 0:6]
          a = (x * 7 + y * 13 + k * 31 + t * 5) % 1000 + 10
          ds.Rows, ds.Columns = 5, 6; ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = 'MONOCHROME2'
          ds.BitsAllocated = 16; ds.BitsStored = 16; ds.HighBit = 15; ds.PixelRepresentation = 0
          ds.RescaleIntercept = 0; ds.RescaleSlope = 0.5
          ds.PixelData = a.astype(np.uint16).tobytes()
          ds.save_as(os.path.join(folder, 'PT_%d_%d.dcm' % (t, k)), write_like_original=False)
          ref = {'START': secs(series_time), 'NONE': secs(acq[t]), 'ADMIN': secs(inj)}[corr]
          if ref < secs(inj): ref += 86400
          expected.append(a * 0.5 * 72.5 * 1000 / (370000000 * 2 ** (-(ref - secs(inj)) / 6586.2)))
  np.array(expected, dtype=np.float64).tofile(os.path.join(folder, 'expected.raw'))
args = sys.argv[1:]
for i in range(0, len(args), 4):
  make(*args[i:i + 4])
)";

TEST_F(Dynamic4D, SuvOfPydicomSeriesEqualsTheHandFormula) {
  const std::string script = twk::testing::testFile("make_pet.py");
  std::ofstream(script) << "import numpy as np\n" << kPetScript;
  const struct {
    const char* correction;
    const char* injection;
    const char* seriesTime;
  } cases[] = {{"START", "093000", "101600"}, {"NONE", "093000", "101600"}, {"ADMIN", "093000", "101600"},
               {"START", "231500", "233000"}, {"NONE", "235000", "233000"}};
  std::string command = std::string("rm -rf '") + twk::testing::testFile("pet_") + "'* && " + TWK_DEBIAN_PYTHON + " -W ignore " + script;
  for (size_t i = 0; i < std::size(cases); ++i)
    command += " " + twk::testing::testFile("pet_") + std::to_string(i) + " " + cases[i].correction + " " +
               cases[i].injection + " " + cases[i].seriesTime;
  ASSERT_EQ(std::system(command.c_str()), 0);
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.correction + std::string(" ") + c.injection);
    const std::string folder = twk::testing::testFile("pet_") + std::to_string(n++);
    std::vector<CString> names;
    for (int t = 0; t < 2; ++t)
      for (int k = 0; k < 2; ++k) names.push_back(CString::fromUtf8(folder + "/PT_" + std::to_string(t) + "_" + std::to_string(k) + ".dcm"));
    std::vector<const wchar_t*> files;
    for (const CString& s : names) files.push_back(s);
    CVol* vol = VA_LoadDicomVolume(files.data(), int(files.size()), true);
    ASSERT_TRUE(vol);
    ASSERT_EQ(vol->T(), 2);
    ASSERT_EQ(vol->D(), 2);
    CVol* suv = VA_SUVmapCalculation(vol, true);
    ASSERT_TRUE(suv) << ui_.lastMessage().toUtf8();
    std::vector<double> expected(2 * 2 * 5 * 6);
    std::ifstream(folder + "/expected.raw", std::ios::binary)
        .read(reinterpret_cast<char*>(expected.data()), std::streamsize(expected.size() * sizeof(double)));
    size_t i = 0;
    for (int t = 0; t < 2; ++t)
      for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 5; ++y)
          for (int x = 0; x < 6; ++x, ++i) {
            const double got = twk::voxelValue(suv->frame, x, y, z, t);
            EXPECT_NEAR(got, expected[i], 1e-9 * std::fabs(expected[i])) << x << "," << y << "," << z << "," << t;
          }
    EXPECT_EQ(suv->unit, CString(L"SUV"));
    delete suv;
    // Refusals: an MR volume, a volume without weight.
    vol->modality = MODALITY_MR;
    EXPECT_EQ(VA_SUVmapCalculation(vol, true), nullptr);
    EXPECT_EQ(ui_.lastMessage(), CString(L"VA_SUVmapCalculation : PET volume is required"));
    delete vol;
  }
}

}  // namespace

namespace {

// A volume of T time points over a w x h x d grid, value(x, y, z, t), with its dynamic records.
struct Series {
  CVol vol;
  Series(DIM3D d, const std::vector<DYNCRD>& dyn, const std::function<double(int, int, int, int)>& value) {
    vol.frame = PR_FrameCreate(FRM_REAL, 64, d, true);
    vol.dyn = pf_duplicate(dyn.data(), int64_t(dyn.size()));
    for (int t = 0; t < d.t; ++t)
      for (int z = 0; z < d.d; ++z)
        for (int y = 0; y < d.h; ++y)
          for (int x = 0; x < d.w; ++x) twk::setVoxelValue(vol.frame, x, y, z, t, value(x, y, z, t));
  }
};

CVol* mapOf(DIM3D d, const std::function<double(int, int, int)>& value) {
  auto* v = new CVol;
  v->frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{d.w, d.h, d.d, 1}, true);
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) twk::setVoxelValue(v->frame, x, y, z, 0, value(x, y, z));
  return v;
}

}  // namespace

TEST_F(Dynamic4D, IvimResidualIsZeroOnModelDataAndTheRmsOfKnownDeviations) {
  const std::vector<double> bValues = {0, 10, 50, 100, 200, 400, 800};
  std::vector<DYNCRD> dyn(bValues.size());
  for (size_t i = 0; i < dyn.size(); ++i) dyn[i].bValue = bValues[i];
  const DIM3D d{3, 2, 2, int(bValues.size())};
  auto f = [](int x, int, int) { return 0.05 + 0.05 * x; };
  auto dt = [](int, int y, int) { return 0.0008 + 0.0004 * y; };
  auto dp = [](int x, int y, int z) { return x == 2 && z == 1 ? VOID_VALUE : 0.02 + 0.01 * y; };
  auto s0 = [](int x, int y, int z) { return 800.0 + 50 * x + 20 * y + 10 * z; };
  auto model = [&](int x, int y, int z, int t) {
    const double b = bValues[size_t(t)];
    if (dp(x, y, z) == VOID_VALUE) return s0(x, y, z) * std::exp(-b * dt(x, y, z));  // mono-exponential
    return s0(x, y, z) * ((1 - f(x, y, z)) * std::exp(-b * dt(x, y, z)) + f(x, y, z) * std::exp(-b * dp(x, y, z)));
  };
  std::unique_ptr<CVol> fMap(mapOf(d, f)), dtMap(mapOf(d, dt)), dpMap(mapOf(d, dp)), s0Map(mapOf(d, s0));
  // Known deviations +e at b = 10, -e at b = 400 on top of the model: with the S0 map the RMS is
  // e sqrt(2 / 7).
  for (const double e : {0.0, 6.0}) {
    Series series(d, dyn, [&](int x, int y, int z, int t) { return model(x, y, z, t) + (t == 1 ? e : t == 5 ? -e : 0); });
    FrameGuard withS0(VA_RecoverIvimResidual(&series.vol, s0Map.get(), fMap.get(), dpMap.get(), dtMap.get(), true));
    FrameGuard fitted(VA_RecoverIvimResidual(&series.vol, nullptr, fMap.get(), dpMap.get(), dtMap.get(), true));
    ASSERT_TRUE(withS0.f && fitted.f);
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
          EXPECT_NEAR(twk::voxelValue(withS0.f, x, y, z, 0), e * std::sqrt(2.0 / 7), 1e-9) << x << y << z;
          // The least-squares amplitude can only do as well or better than the true S0.
          const double r = twk::voxelValue(fitted.f, x, y, z, 0);
          if (e == 0) EXPECT_NEAR(r, 0, 1e-9);
          else EXPECT_LE(r, e * std::sqrt(2.0 / 7) + 1e-9);
        }
  }
  // Maps of another grid are refused by name.
  Series series(d, dyn, model);
  std::unique_ptr<CVol> small(mapOf(DIM3D{2, 2, 2, 1}, f));
  EXPECT_EQ(VA_RecoverIvimResidual(&series.vol, nullptr, small.get(), dpMap.get(), dtMap.get(), true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_RecoverIvimResidual : Parameter maps should match the volume's dimensions"));
}

TEST_F(Dynamic4D, BoxPeakIsTheTimePointOfTheLargestBoxMean) {
  std::vector<DYNCRD> dyn(6);
  // Inside x, y in 1..2 the signal peaks at t = 4, elsewhere at t = 1 (and much higher).
  Series series(DIM3D{5, 4, 2, 6}, dyn, [](int x, int y, int, int t) {
    const bool inside = x >= 1 && x <= 2 && y >= 1 && y <= 2;
    return inside ? 10.0 - (t - 4) * (t - 4) + x : 1000.0 * (t == 1);
  });
  int t = -1;
  const RECT3D box{1, 1, 0, 2, 2, 1};
  ASSERT_TRUE(VA_VolGetBoxPeak(series.vol.frame, &box, &t, true));
  EXPECT_EQ(t, 4);
  // Corners in any order; a box partly outside is clipped to the volume.
  const RECT3D reversed{2, 2, 1, 1, 1, -5};
  ASSERT_TRUE(VA_VolGetBoxPeak(series.vol.frame, &reversed, &t, true));
  EXPECT_EQ(t, 4);
  const RECT3D whole{-3, -3, -3, 10, 10, 10};
  ASSERT_TRUE(VA_VolGetBoxPeak(series.vol.frame, &whole, &t, true));
  EXPECT_EQ(t, 1);
  const RECT3D outside{6, 0, 0, 9, 3, 1};
  EXPECT_FALSE(VA_VolGetBoxPeak(series.vol.frame, &outside, &t, true));
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolGetBoxPeak : Box is outside the volume"));
}

TEST_F(Dynamic4D, BasicGradient4DOfALinearSeriesIsConstant) {
  // Times stored out of order and unevenly spaced; V = 2x + 3y - z + 0.5 time.
  const double times[5] = {4, 0, 1.5, 9, 2};
  std::vector<DYNCRD> dyn(5);
  for (int t = 0; t < 5; ++t) dyn[size_t(t)].time = times[t];
  const DIM3D d{5, 4, 3, 5};
  Series series(d, dyn, [&](int x, int y, int z, int t) { return 2.0 * x + 3.0 * y - z + 0.5 * times[t]; });
  FrameGuard roi(makeFrame(FRM_ROI, 1, DIM3D{5, 4, 3, 1}, [](int x, int, int, int) { return x < 4 ? 1.0 : 0.0; }));
  FrameGuard g(VA_VolBasicGradient4D(series.vol.frame, series.vol.dyn, roi.f, 0, true));
  ASSERT_TRUE(g.f);
  const double expected = std::sqrt(4.0 + 9.0 + 1.0 + 0.25);
  for (int t = 0; t < 5; ++t)
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
          ASSERT_NEAR(twk::voxelValue(g.f, x, y, z, t), x < 4 ? expected : 0.0, 1e-12) << x << y << z << t;
  // A void voxel voids its neighbours' derivatives along each axis and itself.
  twk::setVoxelValue(series.vol.frame, 2, 2, 1, 2, VOID_VALUE);
  FrameGuard v(VA_VolBasicGradient4D(series.vol.frame, series.vol.dyn, nullptr, 0, true));
  EXPECT_EQ(twk::voxelValue(v.f, 2, 2, 1, 2), VOID_VALUE);
  EXPECT_EQ(twk::voxelValue(v.f, 1, 2, 1, 2), VOID_VALUE);
  EXPECT_EQ(twk::voxelValue(v.f, 2, 2, 1, 4), VOID_VALUE);  // chronological neighbour (t 2 is time 1.5, t 4 is 2)
  EXPECT_NEAR(twk::voxelValue(v.f, 0, 0, 0, 2), expected, 1e-12);
  // Bad input: another type, two time points sharing a time.
  EXPECT_EQ(VA_VolBasicGradient4D(series.vol.frame, series.vol.dyn, nullptr, 1, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolBasicGradient4D : Invalid gradient type"));
  series.vol.dyn[3].time = 4;
  EXPECT_EQ(VA_VolBasicGradient4D(series.vol.frame, series.vol.dyn, nullptr, 0, true), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_VolBasicGradient4D : Times should differ"));
}

TEST_F(Dynamic4D, MultiechoFoldWithSmoothingFitsTheSmoothedEchoes) {
  const double te[4] = {0.01, 0.03, 0.05, 0.08};
  std::vector<DYNCRD> dyn(4);
  for (int t = 0; t < 4; ++t) dyn[size_t(t)].echoTime = te[t];
  Series series(DIM3D{6, 5, 3, 4}, dyn, [&](int x, int y, int z, int t) {
    return (300.0 + 40 * ((x * 7 + y * 3 + z) % 5)) * std::exp(-te[t] / (0.04 + 0.01 * (x % 2)));
  });
  VA_VOLSMOOTH smooth;
  smooth.radius = 1.0;
  CVol* a = nullptr;
  CVol* b = nullptr;
  ASSERT_TRUE(VA_FoldMultiechoVolume4D(&series.vol, &smooth, 0.0, &a, &b, true));
  // The same fit on echoes smoothed beforehand.
  CVol pre;
  pre.frame = VA_VolSmoothWithROI(&smooth, series.vol.frame, -1, nullptr, series.vol.Spc(), false, false);
  pre.dyn = pf_duplicate(dyn.data(), 4);
  pre.spc = series.vol.spc;
  CVol* c = nullptr;
  CVol* e = nullptr;
  ASSERT_TRUE(VA_FoldMultiechoVolume4D(&pre, nullptr, 0.0, &c, &e, true));
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(twk::voxelValue(a->frame, x, y, z, 0), twk::voxelValue(c->frame, x, y, z, 0));
        EXPECT_EQ(twk::voxelValue(b->frame, x, y, z, 0), twk::voxelValue(e->frame, x, y, z, 0));
      }
  // The smoothing changed the echoes, so the maps differ from the unsmoothed fit somewhere.
  CVol* raw = nullptr;
  CVol* rawT2 = nullptr;
  ASSERT_TRUE(VA_FoldMultiechoVolume4D(&series.vol, nullptr, 0.0, &raw, &rawT2, true));
  EXPECT_NE(twk::voxelValue(raw->frame, 2, 2, 1, 0), twk::voxelValue(a->frame, 2, 2, 1, 0));
  delete raw;
  delete rawT2;
  for (CVol* v : {a, b, c, e}) delete v;
}

TEST_F(Dynamic4D, GradientOfTheTimeAverageLessItsMinimum) {
  // Mean over time 10 + 2x - 3y + 0.5 z^2 (+ t - 1 averages away over t = 0, 1, 2).
  std::vector<DYNCRD> dyn(3);
  const DIM3D d{5, 4, 3, 3};
  Series series(d, dyn, [](int x, int y, int z, int t) { return 10.0 + 2 * x - 3 * y + 0.5 * z * z + (t - 1); });
  FRAME* averaged = nullptr;
  double* g = VA_ImageGradAverageOverTimeSubtractMin(series.vol.frame, &averaged, true);
  ASSERT_TRUE(g && averaged);
  FrameGuard keep(averaged);
  // The smallest mean (x 0, y 3, z 0: 1) is subtracted.
  EXPECT_EQ(twk::voxelValue(averaged, 0, 3, 0, 0), 0.0);
  EXPECT_EQ(twk::voxelValue(averaged, 4, 0, 2, 0), 10.0 + 8 + 2 - 1);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const double* v = g + 3 * ((z * 4 + y) * 5 + x);
        EXPECT_NEAR(v[0], 2.0, 1e-12);
        EXPECT_NEAR(v[1], -3.0, 1e-12);
        // d/dz of 0.5 z^2 by central (z = 1: 1) and one-sided differences (z = 0: 0.5, z = 2: 1.5).
        EXPECT_NEAR(v[2], z == 1 ? 1.0 : z == 0 ? 0.5 : 1.5, 1e-12);
      }
  pf_free(&g);
}

TEST_F(Dynamic4D, BreastEnhancementMapAndReportOfAKnownSeries) {
  // Baseline 100; early enhancement 10 x percent at 1 min, 6 % more at 2 min (slope 6 %/min).
  std::vector<DYNCRD> dyn(3);
  const double times[3] = {0, 60, 120};
  Series series(DIM3D{8, 2, 1, 3}, dyn, [](int x, int, int, int t) { return t == 0 ? 100.0 : 100.0 + 10 * x + 6 * (t - 1); });
  FrameGuard roi(makeFrame(FRM_ROI, 1, DIM3D{8, 2, 1, 1}, [](int, int, int, int) { return 1.0; }));
  const SPC spc{1, 1, 2};
  CString report;
  FrameGuard map(VA_BreastBPEmapAnalysisAndReport(series.vol.frame, roi.f, &spc, times, 45, true, &report));
  ASSERT_TRUE(map.f);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_NEAR(twk::voxelValue(map.f, x, y, 0, 0), x >= 5 ? 6.0 : 0.0, 1e-9) << x;
  EXPECT_EQ(report, CString(L"ROI voxels\tROI volume (cm3)\tBPE voxels\tBPE volume (cm3)\tBPE fraction (%)\t"
                            L"Mean early enhancement (%)\tMean slope (%/min)\n"
                            L"16\t0.0320\t6\t0.0120\t37.5000\t60.0000\t6.0000\n"));
  // Two time points: the early enhancement is the map; a threshold above 100 is refused.
  Series two(DIM3D{8, 2, 1, 2}, std::vector<DYNCRD>(2), [](int x, int, int, int t) { return t == 0 ? 100.0 : 100.0 + 10 * x; });
  FrameGuard early(VA_BreastBPEmapAnalysisAndReport(two.vol.frame, roi.f, &spc, times, 45, false, &report));
  ASSERT_TRUE(early.f);
  EXPECT_EQ(twk::voxelValue(early.f, 7, 1, 0, 0), 70.0);
  EXPECT_EQ(report, CString(L"16\t0.0320\t6\t0.0120\t37.5000\t60.0000\t60.0000\n"));
  EXPECT_EQ(VA_BreastBPEmapAnalysisAndReport(two.vol.frame, roi.f, &spc, times, 101, false, &report), nullptr);
  EXPECT_EQ(ui_.lastMessage(), CString(L"VA_BreastBPEmapAnalysisAndReport : Threshold percentage should lie in [0,100]"));
}

TEST_F(Dynamic4D, TextureGradientMaximumOverTime) {
  // A step along x whose height grows with time: the last time point's gradient is the largest.
  std::vector<DYNCRD> dyn(3);
  Series series(DIM3D{12, 8, 6, 3}, dyn, [](int x, int, int, int t) { return x < 6 ? 100.0 : 100.0 + 50 * (t + 1); });
  VA_URALGRAD record{0, 0, 0, 1.0, 1.0, 2.0};
  FrameGuard roi(makeFrame(FRM_ROI, 1, DIM3D{12, 8, 6, 1}, [](int x, int, int, int) { return x < 9 ? 1.0 : 0.0; }));
  FrameGuard top(VA_MSTG_Aggregate4D(&series.vol, &record, 0, roi.f, true));
  ASSERT_TRUE(top.f);
  FRAME* last = nullptr;
  ASSERT_TRUE(VA_DetectGrad3D(&record, series.vol.frame, 2, series.vol.Spc(), nullptr, nullptr, nullptr, &last, false));
  FrameGuard keep(last);
  for (int z = 0; z < 6; ++z)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 12; ++x)
        ASSERT_EQ(twk::voxelValue(top.f, x, y, z, 0), x < 9 ? twk::voxelValue(last, x, y, z, 0) : 0.0) << x << y << z;
  EXPECT_GT(twk::voxelValue(top.f, 6, 4, 3, 0), 0.0);
}
