// Tests of the imaging core's DICOM family against independent references: the series are written
// by Debian's Python with pydicom (testdata/make_series.py) and converted by the DCMTK tools
// (dcmconv, dcmcjpls, dcmcrle, dcmodify); geometry is compared with what dcm2niix writes, and what
// we write is read back by dcmdump.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ArrayHelpers.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "ViewFilt.h"
#include "Vol.h"
#include "dicom/DicomAssembly.h"
#include "dicom/DicomFolders.h"
#include "dicom/DicomHeaderBlob.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomTree.h"
#include "dicom/DicomVolume.h"
#include "ops/VolumeOps.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace fs = std::filesystem;

namespace {

std::string g_dir;

std::string run(const std::string& command, int* status = nullptr) {
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  std::string out;
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = ::pclose(p);
  if (status) *status = rc;
  return out;
}

void runOk(const std::string& command) {
  int rc = 0;
  const std::string out = run(command, &rc);
  ASSERT_EQ(rc, 0) << command << "\n" << out;
}

// The folder of a series made by the fixture script (made once per run).
std::string series(const std::string& kind) {
  static std::map<std::string, std::string> made;
  if (made.count(kind)) return made[kind];
  const std::string folder = g_dir + "/" + kind;
  int rc = 0;
  const std::string out = run(std::string(TWK_DEBIAN_PYTHON) + " -W ignore " + TWK_DICOM_TEST_DIR +
                                  "/testdata/make_series.py " + kind + " " + folder,
                              &rc);
  EXPECT_EQ(rc, 0) << out;
  made[kind] = folder;
  return folder;
}

// The same series converted file by file with a DCMTK tool ("dcmconv +tb", "dcmcjpls", "dcmcrle").
std::string converted(const std::string& kind, const std::string& tool, const std::string& name) {
  const std::string source = series(kind), folder = g_dir + "/" + name;
  if (fs::exists(folder)) return folder;
  fs::create_directories(folder);
  for (const auto& e : fs::directory_iterator(source))
    runOk(tool + " " + e.path().string() + " " + folder + "/" + e.path().filename().string());
  return folder;
}

std::string copyOf(const std::string& source, const std::string& name) {
  const std::string folder = g_dir + "/" + name;
  fs::remove_all(folder);
  fs::copy(source, folder, fs::copy_options::recursive);
  return folder;
}

std::vector<CString> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  std::vector<CString> files;
  for (const auto& n : names) files.push_back(CString::fromUtf8(n));
  return files;
}

std::unique_ptr<CVol> load(const std::string& folder) {
  const std::vector<CString> files = filesIn(folder);
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  return std::unique_ptr<CVol>(VA_LoadDicomVolume(list.data(), int(list.size()), false));
}

double voxel(const CVol& v, int x, int y, int z, int t) { return twk::voxelValue(v.frame, x, y, z, t); }

// ---- dcm2niix ----

struct Nifti {
  int dim[8] = {};
  float pixdim[8] = {};
  float srow[3][4] = {};
  std::vector<double> bvals;
};

Nifti dcm2niix(const std::string& folder, const std::string& name) {
  Nifti n;
  const std::string out = g_dir + "/nii";
  fs::create_directories(out);
  int rc = 0;
  const std::string log = run(std::string(TWK_DCM2NIIX) + " -o " + out + " -f " + name + " -z n -b n " + folder, &rc);
  EXPECT_EQ(rc, 0) << log;
  std::ifstream in(out + "/" + name + ".nii", std::ios::binary);
  EXPECT_TRUE(in.good()) << log;
  char header[348] = {};
  in.read(header, sizeof header);
  for (int i = 0; i < 8; ++i) {
    int16_t d;
    std::memcpy(&d, header + 40 + 2 * i, 2);
    n.dim[i] = d;
    std::memcpy(&n.pixdim[i], header + 76 + 4 * i, 4);
  }
  std::memcpy(n.srow, header + 280, sizeof n.srow);
  std::ifstream bval(out + "/" + name + ".bval");
  for (double b; bval >> b;) n.bvals.push_back(b);
  return n;
}

// The world positions (patient coordinates, mm) of the eight corner voxels of our volume, and of
// dcm2niix's image (its RAS sform turned into patient coordinates): equal as sets when both readers
// agree on dimensions, spacing, orientation and position, whatever axis flips dcm2niix chose.
std::vector<DPOINT3D> corners(const CVol& v) {
  std::vector<DPOINT3D> out;
  const double* o = v.orient;
  for (int k : {0, v.D() - 1})
    for (int j : {0, v.H() - 1})
      for (int i : {0, v.W() - 1}) {
        const DPOINT3D& p = v.imgPos[k];
        out.push_back({p.x + i * v.spc.x * o[0] + j * v.spc.y * o[3], p.y + i * v.spc.x * o[1] + j * v.spc.y * o[4],
                       p.z + i * v.spc.x * o[2] + j * v.spc.y * o[5]});
      }
  return out;
}

std::vector<DPOINT3D> corners(const Nifti& n) {
  std::vector<DPOINT3D> out;
  for (int k : {0, n.dim[3] - 1})
    for (int j : {0, n.dim[2] - 1})
      for (int i : {0, n.dim[1] - 1}) {
        double ras[3];
        for (int r = 0; r < 3; ++r) ras[r] = n.srow[r][0] * i + n.srow[r][1] * j + n.srow[r][2] * k + n.srow[r][3];
        out.push_back({-ras[0], -ras[1], ras[2]});
      }
  return out;
}

// tolerance: of the corners (mm); spacingTolerance: of the spacings (dcm2niix takes the slice distance
// from the first two slices, we take the mean).
void expectLikeDcm2niix(const CVol& v, const std::string& folder, const std::string& name, double tolerance = 0.02,
                        double spacingTolerance = 1e-3) {
  SCOPED_TRACE(name);
  const Nifti n = dcm2niix(folder, name);
  std::multiset<int> ours{v.W(), v.H(), v.D()}, theirs{n.dim[1], n.dim[2], n.dim[3]};
  EXPECT_EQ(ours, theirs);
  EXPECT_EQ(v.T(), std::max(1, n.dim[0] >= 4 ? n.dim[4] : 1));
  std::vector<double> a{v.spc.x, v.spc.y, v.spc.z}, b{n.pixdim[1], n.pixdim[2], n.pixdim[3]};
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[size_t(i)], b[size_t(i)], spacingTolerance);
  const std::vector<DPOINT3D> p = corners(v), q = corners(n);
  for (const DPOINT3D& c : p) {
    double best = 1e300;
    for (const DPOINT3D& d : q) best = std::min(best, std::hypot(c.x - d.x, c.y - d.y, c.z - d.z));
    EXPECT_LT(best, tolerance) << "corner " << c.x << " " << c.y << " " << c.z;
  }
}

// ---- dcmdump ----

std::string dump(const std::string& file) { return run("dcmdump +L " + file); }

// The value of a tag in dcmdump's output ("(0020,000d) UI [1.2.3]" gives "1.2.3", "(0028,0103) US 1"
// gives "1"), empty when absent or empty.
std::string dumpValue(const std::string& text, const std::string& tag) {
  const size_t at = text.find(tag);
  if (at == std::string::npos) return "";
  const size_t open = text.find('[', at), eol = text.find('\n', at);
  if (open != std::string::npos && open < eol) return text.substr(open + 1, text.find(']', open) - open - 1);
  // Binary values follow the VR without brackets, up to the comment.
  std::string value = text.substr(at + 15, text.find('#', at) - at - 15);
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value.find("(no value") == 0 ? "" : value;
}

// Rotation of the fixture script (rz @ ry @ rx), column c.
void rotationColumn(double ax, double ay, double az, int c, double out[3]) {
  const double cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay), cz = std::cos(az), sz = std::sin(az);
  const double rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
  const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
  const double rz[3][3] = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
  double m[3][3] = {}, r[3][3] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) m[i][j] += rz[i][k] * ry[k][j];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) r[i][j] += m[i][k] * rx[k][j];
  for (int i = 0; i < 3; ++i) out[i] = r[i][c];
}

class DicomEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_dir = twk::testing::testFolder("dicom_test").string();
    TWKDCM_Initialize();
  }
  void TearDown() override { fs::remove_all(g_dir); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new DicomEnvironment);

// The PHI lines come as a counted array of CStrings made with new.
void freeLines(CString*** lines, int64_t count) {
  for (int64_t i = 0; i < count; ++i) delete (*lines)[i];
  pf_free(lines);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Loading series
// ---------------------------------------------------------------------------------------------

TEST(DicomLoad, CtWithRescaleGivesHounsfieldValuesInPositionOrder) {
  const std::string folder = series("ct");
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->W(), 40);
  EXPECT_EQ(v->H(), 30);
  EXPECT_EQ(v->D(), 20);
  EXPECT_EQ(v->T(), 1);
  EXPECT_TRUE(v->IsReal());
  EXPECT_EQ(v->modality, MODALITY_CT);
  EXPECT_EQ(v->unit, CString(L"HU"));
  EXPECT_NEAR(v->spc.x, 0.7, 1e-9);
  EXPECT_NEAR(v->spc.y, 0.8, 1e-9);
  EXPECT_NEAR(v->spc.z, 2.5, 1e-5);
  double row[3], col[3];
  rotationColumn(0.2, -0.1, 0.3, 0, row);
  rotationColumn(0.2, -0.1, 0.3, 1, col);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(v->orient[i], row[i], 1e-7);
    EXPECT_NEAR(v->orient[3 + i], col[i], 1e-7);
  }
  // Slice 0 is the first position although its instance number is the last.
  EXPECT_NEAR(v->imgPos[0].x, -20.5, 1e-6);
  EXPECT_NEAR(v->imgPos[0].y, 13.25, 1e-6);
  EXPECT_NEAR(v->imgPos[0].z, 40.0, 1e-6);
  for (int z : {0, 7, 19})
    for (int y : {0, 29})
      for (int x : {0, 13, 39}) EXPECT_EQ(voxel(*v, x, y, z, 0), 2.0 * (x + 2 * y + 3 * z + 100) - 1024) << x << y << z;
  expectLikeDcm2niix(*v, folder, "ct");
}

TEST(DicomLoad, SignedPixelsGiveRealValues) {
  auto v = load(series("signed"));
  ASSERT_TRUE(v);
  EXPECT_TRUE(v->IsReal());
  EXPECT_EQ(voxel(*v, 3, 2, 4, 0), -1024 + 40 + 3 + 4);
  expectLikeDcm2niix(*v, series("signed"), "signed");
}

TEST(DicomLoad, GapSeriesUsesTheMeanSpacingAndFlagsThePair) {
  const std::string folder = series("mrgap");
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->D(), 12);
  EXPECT_TRUE(v->IsINT());
  EXPECT_NEAR(v->spc.z, 11.02 / 11.0, 1e-9);
  EXPECT_NEAR(v->imgPos[6].z - v->imgPos[5].z, 1.02, 1e-9);
  VA_SLICESPACING s;
  ASSERT_TRUE(VA_DicomSliceSpacing(v->dicom, v->D(), &s));
  EXPECT_TRUE(s.irregular);
  EXPECT_EQ(s.pair, 5);
  EXPECT_NEAR(s.pairDistance, 1.02, 1e-9);
  EXPECT_EQ(voxel(*v, 5, 3, 11, 0), 110 + 5 + 6);
  expectLikeDcm2niix(*v, folder, "mrgap", 0.05, 0.005);
}

TEST(DicomLoad, SliceSpacingCheckTolerance) {
  // Eleven slices 1.0 mm apart but for one gap; flagged only when it deviates more than 0.01 mm
  // from the mean distance.
  const struct {
    double gap;
    bool irregular;
  } cases[] = {{1.0, false}, {1.005, false}, {1.011, false}, {1.012, true}, {1.02, true}, {0.98, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.gap);
    std::vector<DICOMREC> recs(11);
    std::vector<const DICOMREC*> ptrs;
    double z = 0;
    for (int k = 0; k < 11; ++k) {
      recs[size_t(k)].sliceZ = z;
      z += k == 4 ? c.gap : 1.0;
      ptrs.push_back(&recs[size_t(k)]);
    }
    VA_SLICESPACING s;
    ASSERT_TRUE(VA_DicomSliceSpacing(ptrs.data(), 11, &s));
    EXPECT_EQ(s.irregular, c.irregular);
    EXPECT_NEAR(s.spacing, (9.0 + c.gap) / 10.0, 1e-12);
  }
  // Undefined positions: the first slice's thickness, else a failure naming the slice.
  std::vector<DICOMREC> recs(3);
  std::vector<const DICOMREC*> ptrs{&recs[0], &recs[1], &recs[2]};
  recs[0].sliceZ = 0;
  recs[2].sliceZ = 2;
  VA_SLICESPACING s;
  EXPECT_FALSE(VA_DicomSliceSpacing(ptrs.data(), 3, &s));
  EXPECT_EQ(s.undefinedSlice, 1);
  recs[0].sliceThickness = 3.0;
  ASSERT_TRUE(VA_DicomSliceSpacing(ptrs.data(), 3, &s));
  EXPECT_EQ(s.spacing, 3.0);
  EXPECT_FALSE(s.irregular);
}

TEST(DicomLoad, DiffusionSeriesGivesOneTimePointPerBvalue) {
  const std::string folder = series("dwi");
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->W(), 24);
  EXPECT_EQ(v->H(), 20);
  EXPECT_EQ(v->D(), 10);
  ASSERT_EQ(v->T(), 5);
  const double b[] = {0, 50, 200, 500, 1000};
  for (int t = 0; t < 5; ++t) {
    EXPECT_EQ(v->dyn[t].bValue, b[t]);
    for (int z : {0, 9}) EXPECT_EQ(voxel(*v, 3, 2, z, t), 1000 * t + 10 * z + 3 + 4) << t << " " << z;
  }
  EXPECT_EQ(v->GetDynType(), DYN_BVALUE);
  expectLikeDcm2niix(*v, folder, "dwi");
  const Nifti n = dcm2niix(folder, "dwi_b");
  EXPECT_EQ(n.bvals, std::vector<double>(std::begin(b), std::end(b)));

  // b-values that only a vendor's private element gives, in an implicit VR file.
  auto s = load(series("siemensdwi"));
  ASSERT_TRUE(s);
  ASSERT_EQ(s->T(), 2);
  EXPECT_EQ(s->dyn[0].bValue, 0);
  EXPECT_EQ(s->dyn[1].bValue, 800);
  EXPECT_EQ(voxel(*s, 1, 1, 2, 1), 100 + 2 + 1 + 2);
  expectLikeDcm2niix(*s, series("siemensdwi"), "siemensdwi");
}

TEST(DicomLoad, PrivateBvaluesAreFoundInEveryPrivateBlock) {
  VA_DICOMTREE tree;
  DICOMREC** records = nullptr;
  int count = 0;
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(series("privateblocks")), nullptr, false, nullptr,
                                     &tree, nullptr, 0, &records, &count, nullptr, nullptr, false));
  ASSERT_EQ(count, 2);
  std::map<std::string, double> bvalues;
  for (int i = 0; i < count; ++i)
    bvalues[fs::path(records[i]->filePath.toUtf8()).filename().string()] = records[i]->bValue;
  TW_FreeDicomRecArray(&records, count);
  EXPECT_EQ(bvalues, (std::map<std::string, double>{{"after_siemens.dcm", 450.0}, {"second_siemens.dcm", 1000.0}}));
}

TEST(DicomLoad, DynamicFramesFollowAcquisitionTimeNotInstanceNumber) {
  const std::string folder = series("dyn");
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->D(), 6);
  ASSERT_EQ(v->T(), 10);
  for (int t = 0; t < 10; ++t) {
    EXPECT_NEAR(v->dyn[t].time, 5.0 * t, 1e-6);
    if (t < 9) {
      EXPECT_NEAR(v->dyn[t].timeEnd, 5.0 * (t + 1), 1e-6);
    }
    for (int z = 0; z < 6; ++z) EXPECT_EQ(voxel(*v, 2, 1, z, t), 1000 * t + 10 * z + 2 + 2) << t << " " << z;
  }
  EXPECT_NEAR(v->GetMaxTime(), 50.0, 1e-6);
  EXPECT_EQ(v->GetDynType(), DYN_TIME);
  expectLikeDcm2niix(*v, folder, "dyn");
}

TEST(DicomLoad, TimePointsTakeTheFirstClockThatTellsThemApart) {
  // Two slices, three time points of records made in memory.
  const struct {
    const char* name;
    double acquisition[3], trigger[3], duration;
    double time[3], lastEnd;
  } cases[] = {
      {"time of day", {100, 130, 170}, {VOID_VALUE, VOID_VALUE, VOID_VALUE}, VOID_VALUE, {0, 30, 70}, 110},
      {"one acquisition time, trigger times", {100, 100, 100}, {0.5, 1.0, 1.5}, VOID_VALUE, {0, 0.5, 1.0}, 1.5},
      {"no clock", {VOID_VALUE, VOID_VALUE, VOID_VALUE}, {VOID_VALUE, 2, 3}, VOID_VALUE, {0, 1, 2}, 3},
      {"frame durations", {0, 60, 180}, {VOID_VALUE, VOID_VALUE, VOID_VALUE}, 240, {0, 60, 180}, 420},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DICOMREC> recs(6);
    std::vector<DICOMREC*> ptrs;
    for (int t = 0; t < 3; ++t)
      for (int z = 0; z < 2; ++z) {
        DICOMREC& r = recs[size_t(t * 2 + z)];
        r.width = r.height = 2;
        r.acquisitionSeconds = c.acquisition[t] == VOID_VALUE ? VOID_VALUE : c.acquisition[t] + z;
        r.triggerTime = c.trigger[t];
        r.frameDuration = c.duration;
        ptrs.push_back(&r);
      }
    const DIM3D dims{2, 2, 2, 3};
    std::unique_ptr<CVol> v(VA_LoadByItem_VolHeader(&dims, ptrs.data(), nullptr, nullptr, false));
    ASSERT_TRUE(v);
    for (int t = 0; t < 3; ++t) EXPECT_EQ(v->dyn[t].time, c.time[t]) << t;
    EXPECT_EQ(v->dyn[1].timeEnd, c.time[2]);
    EXPECT_EQ(v->dyn[2].timeEnd, c.lastEnd);
  }
}

TEST(DicomLoad, TransferSyntaxesGiveTheSameVolume) {
  auto reference = load(series("small"));
  ASSERT_TRUE(reference);
  EXPECT_EQ(reference->W(), 10);
  EXPECT_EQ(reference->H(), 12);
  EXPECT_EQ(reference->D(), 4);
  expectLikeDcm2niix(*reference, series("small"), "small");
  const struct {
    const char* tool;
    const char* name;
    bool dcm2niixReads;
  } cases[] = {{"dcmconv +tb", "bigendian", true}, {"dcmcjpls", "jpegls", false}, {"dcmcrle", "rle", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = converted("small", c.tool, c.name);
    auto v = load(folder);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->TotNumVox(), reference->TotNumVox());
    EXPECT_EQ(0, std::memcmp(v->frame->data, reference->frame->data, size_t(PR_FrameMemSize(v->frame))));
    EXPECT_EQ(0, std::memcmp(v->orient, reference->orient, sizeof v->orient));
    EXPECT_EQ(v->spc.z, reference->spc.z);
    // dcm2niix of this build has no JPEG-LS decoder: the geometry is that of the uncompressed files.
    expectLikeDcm2niix(*v, c.dcm2niixReads ? folder : series("small"), c.name);
  }
}

// ---------------------------------------------------------------------------------------------
// Trees and bad input
// ---------------------------------------------------------------------------------------------

TEST(DicomTree, TwoPatientsGiveTwoTopLevelItems) {
  VA_DICOMTREE tree;
  DICOMREC** records = nullptr;
  int count = 0;
  const CString folder = CString::fromUtf8(series("patients"));
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, folder, nullptr, false, nullptr, &tree, nullptr, 0, &records, &count,
                                     nullptr, nullptr, false));
  ASSERT_EQ(tree.items.size(), 2u);
  EXPECT_EQ(tree.items[0]->text, CString(L"Poe^Bob [P200]"));
  EXPECT_EQ(tree.items[1]->text, CString(L"Roe^Ann [P100]"));
  EXPECT_EQ(count, 6);
  for (const auto& patient : tree.items) {
    ASSERT_EQ(patient->NumChildren(), 1);
    const VA_DICOMTREEITEM* s = patient->Child(0)->Child(0);
    ASSERT_TRUE(s && s->IsSimpleSeries());
    EXPECT_EQ(s->NumChildren(), 3);
    EXPECT_EQ(s->rec->seriesDepth, 3);
    EXPECT_EQ(s->rec->seriesTimes, 1);
  }
  TW_FreeDicomRecArray(&records, count);

  // Load requests find the item of each kind that holds a file.
  const CString file = CString::fromUtf8(series("patients") + "/pat1_01.dcm");
  VA_DICOMTREEITEM* image = VA_FindItemByLeafName(&tree, file, DCMLOAD_IMAGE);
  ASSERT_TRUE(image && image->IsImage());
  EXPECT_EQ(image->rec->filePath, file);
  EXPECT_EQ(VA_FindItemByLeafName(&tree, file, DCMLOAD_3D), image->parent);
  EXPECT_EQ(VA_FindItemByLeafName(&tree, file, DCMLOAD_STUDY), image->parent->parent);
  EXPECT_EQ(VA_FindItemByLeafName(&tree, file + L"x", DCMLOAD_IMAGE), nullptr);
  const CString folderSlash = folder + L"/";
  EXPECT_NE(VA_FindItemByLeafName(&tree, folderSlash, DCMLOAD_3D), nullptr);

  // The browser's columns of a series.
  CString dims, echo, time, b;
  ASSERT_TRUE(VA_GetSimpleSeriesInfoLine(false, nullptr, image->parent->rec.get(), 3, &dims, &echo, &time, &b));
  EXPECT_EQ(dims, CString(L"8x8x3x1"));
  EXPECT_EQ(time, CString(L"12:13:20"));
}

TEST(DicomTree, SeriesOfSeveralPlanesIsCompositeAndRefusedAsOneVolume) {
  VA_DICOMTREE tree;
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(series("localizer")), nullptr, false, nullptr,
                                     &tree, nullptr, 0, nullptr, nullptr, nullptr, nullptr, false));
  const VA_DICOMTREEITEM* s = tree.items[0]->Child(0)->Child(0);
  ASSERT_TRUE(s->IsCompositeSeries());
  EXPECT_EQ(s->NumChildren(), 3);
  for (const auto& sub : s->children) {
    EXPECT_TRUE(sub->IsSubSeries() && sub->IsSimpleSeries());
    EXPECT_EQ(sub->rec->seriesDepth, 1);
  }
  EXPECT_EQ(s->Child(2)->rec->width, 20);

  // All three planes as one volume are refused, with the cause.
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  std::vector<VA_DICOMTREEITEM*> all;
  VA_EnumerateAllSimpleSeries(&tree, &all);
  DIM3D dims;
  EXPECT_FALSE(VA_CheckCompatibleAndGetCommonDimensions(&tree, all.data(), int(all.size()), nullptr, 0, &dims, nullptr, true));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.lastMessage().Find(L"Images differ in"), -1);
  EXPECT_FALSE(load(series("localizer")));
}

TEST(DicomTree, DamagedFilesAreSkippedCountedAndReported) {
  const std::string folder = copyOf(series("ct"), "damaged");
  // The last slice cut inside its pixel data.
  const std::string cut = folder + "/ct_19.dcm";
  fs::resize_file(cut, fs::file_size(cut) - 500);
  // A DICOM file whose pixel data are shorter than its rows say, a text file, an empty file, noise.
  runOk("cp " + series("small") + "/small_00.dcm " + folder + "/short.dcm && dcmodify -nb -m \"(0028,0010)=400\" " +
        folder + "/short.dcm");
  std::ofstream(folder + "/notes.txt") << "not an image\n";
  std::ofstream(folder + "/empty.dcm");
  {
    std::ofstream noise(folder + "/noise.bin", std::ios::binary);
    for (int i = 0; i < 5000; ++i) noise.put(char((i * 7919) & 0xFF));
  }

  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VA_DICOMTREE tree;
  int64_t skipped = 0;
  CString report;
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(folder), nullptr, false, nullptr, &tree, nullptr, 0,
                                     nullptr, nullptr, &skipped, &report, true));
  EXPECT_EQ(skipped, 5);
  for (const char* name : {"ct_19.dcm", "short.dcm", "notes.txt", "empty.dcm", "noise.bin"})
    EXPECT_NE(report.Find(CString::fromUtf8(name)), -1) << name;
  // Reported once, to the user.
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages[0].Find(L"5 files were skipped"), -1);
  EXPECT_NE(ui.messages[0].Find(L"ct_19.dcm"), -1);

  // The rest loads: the 19 intact slices.
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->D(), 19);
  EXPECT_EQ(voxel(*v, 1, 1, 18, 0), 2.0 * (1 + 2 + 54 + 100) - 1024);
}

TEST(DicomTree, EveryTruncationOrCorruptionIsReadSafely) {
  // One file cut at many lengths and with bytes overwritten: never a crash, never an image with
  // fewer pixels than it claims.
  const std::string source = series("small") + "/small_01.dcm";
  std::ifstream in(source, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string folder = g_dir + "/cuts";
  fs::create_directories(folder);
  std::vector<std::string> names;
  for (size_t length : {size_t(1), size_t(8), size_t(100), size_t(132), size_t(200), size_t(400), bytes.size() / 2,
                        bytes.size() - 241, bytes.size() - 1}) {
    const std::string name = folder + "/cut_" + std::to_string(length);
    std::ofstream(name, std::ios::binary).write(bytes.data(), std::streamsize(length));
    names.push_back(name);
  }
  for (size_t at = 0; at + 16 < bytes.size(); at += 37) {
    std::vector<char> damaged(bytes);
    for (size_t k = at; k < at + 16; ++k) damaged[k] = char(0xFF - damaged[k]);
    const std::string name = folder + "/flip_" + std::to_string(at);
    std::ofstream(name, std::ios::binary).write(damaged.data(), std::streamsize(damaged.size()));
    names.push_back(name);
  }
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    int kind = -1;
    CString why;
    std::unique_ptr<DICOMREC> rec(VA_ReadDicomRec(CString::fromUtf8(name), true, &kind, &why));
    if (name.find("cut_") != std::string::npos) {
      EXPECT_FALSE(rec);
      EXPECT_TRUE(kind == DCMFILE_NOT_DICOM || kind == DCMFILE_DAMAGED);
      EXPECT_FALSE(why.IsEmpty());
    }
    if (!rec || kind != DCMFILE_IMAGE) continue;
    // What reads as an image must load as one or be refused, with its pixels all there.
    const CString path = CString::fromUtf8(name);
    const wchar_t* one[] = {path};
    std::unique_ptr<CVol> v(VA_LoadDicomVolume(one, 1, false));
    if (v) {
      EXPECT_EQ(v->NumVox(), int64_t(rec->width) * rec->height);
    }
  }
}

TEST(DicomTree, HugeCountsAndNumbersOfDamagedFilesAreRefusedOrIgnored) {
  // A small multi-frame file whose counts and numbers pydicom rewrites as a damaged file may hold
  // them: frame counts and image sizes whose product overflows, numbers far beyond the integers'
  // range where an integer belongs. Each is refused as damaged, or reads with the number taken as
  // absent; the split refuses them too.
  const struct {
    const char* name;
    const char* edit;  // Python statements on ds
    bool damaged;
  } cases[] = {
      {"frames_overflow",
       "ds.Rows = ds.Columns = 65535; ds.SamplesPerPixel = 3; ds.PhotometricInterpretation = 'RGB'; "
       "ds.PlanarConfiguration = 0; ds.BitsAllocated = ds.BitsStored = 32; ds.HighBit = 31; "
       "ds.NumberOfFrames = 2147483647",
       true},
      {"frames_1e300", "del ds[0x00280008]; ds.add_new(0x00280008, 'DS', '1e300')", true},
      {"numbers_1e300",
       "del ds[0x00280008]; ds.add_new(0x00200013, 'DS', '1e300'); ds.add_new(0x00200011, 'DS', '-1e300'); "
       "ds.add_new(0x00200100, 'FD', 1e300)",
       false},
      {"numbers_ul",
       "del ds[0x00280008]; del ds[0x00200011]; del ds[0x00200013]; ds.add_new(0x00200011, 'UL', 4294967089); "
       "ds.add_new(0x00200013, 'UL', 4294967295); ds.add_new(0x00200100, 'UL', 3000000000)",
       false},
  };
  const std::string folder = g_dir + "/huge_numbers";
  fs::create_directories(folder);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder + "/" + c.name + ".dcm";
    runOk(std::string(TWK_DEBIAN_PYTHON) + " -W ignore -c \"import pydicom; ds = pydicom.dcmread('" +
          TWK_DICOM_TEST_DIR + "/fuzz_seeds/file/multiframe.dcm'); " + c.edit + "; ds.save_as('" + path + "')\"");
    const CString file = CString::fromUtf8(path);
    int kind = -1;
    CString why;
    std::unique_ptr<DICOMREC> rec(VA_ReadDicomRec(file, true, &kind, &why));
    if (c.damaged) {
      EXPECT_FALSE(rec);
      EXPECT_EQ(kind, DCMFILE_DAMAGED);
      EXPECT_FALSE(why.IsEmpty());
    } else {
      ASSERT_TRUE(rec);
      EXPECT_EQ(kind, DCMFILE_IMAGE);
      EXPECT_EQ(rec->instanceNumber, 0);
      EXPECT_EQ(rec->seriesNumber, 0);
      EXPECT_EQ(rec->temporalPosition, 0);
      EXPECT_EQ(rec->numberOfFrames, 1);
    }
    EXPECT_FALSE(TWKDCM_SplitMultiframeFile(file, CString::fromUtf8(folder + "/split"), nullptr, false, false));
    // A load of the file alone gives its one image or nothing.
    const wchar_t* one[] = {file};
    std::unique_ptr<CVol> v(VA_LoadDicomVolume(one, 1, false));
    EXPECT_EQ(bool(v), !c.damaged);
  }
}

TEST(DicomTree, FolderWithoutImagesFails) {
  const std::string folder = g_dir + "/noimages";
  fs::create_directories(folder);
  std::ofstream(folder + "/a.txt") << "text";
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VA_DICOMTREE tree;
  EXPECT_FALSE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(folder), nullptr, false, nullptr, &tree, nullptr,
                                      0, nullptr, nullptr, nullptr, nullptr, true));
  EXPECT_NE(ui.lastMessage().Find(L"No DICOM images were found"), -1);
  EXPECT_FALSE(VA_FolderFullDicomTree(true, nullptr, L"/no/such/folder", nullptr, false, nullptr, &tree, nullptr, 0,
                                      nullptr, nullptr, nullptr, nullptr, false));
}

// The assembly of images into slices and time points, on records made in memory.
TEST(DicomAssembly, ImagesThatFormNoVolumeAreRefusedWithTheCause) {
  auto image = [](double z, int instance, double time = 0, double b = VOID_VALUE) {
    DICOMREC r;
    r.width = 4;
    r.height = 4;
    r.imagePosition[0] = r.imagePosition[1] = 0;
    r.imagePosition[2] = z;
    r.sliceZ = z;
    r.instanceNumber = instance;
    r.acquisitionSeconds = time;
    r.bValue = b;
    r.sopInstanceUid.Format(L"1.2.%d", instance);
    return r;
  };
  struct Case {
    const char* name;
    std::vector<DICOMREC> images;
    const wchar_t* problem;  // null: they form a volume
    int depth, times;
  };
  std::vector<Case> cases;
  cases.push_back({"stack", {image(0, 1), image(1, 2), image(2, 3), image(3, 4)}, nullptr, 4, 1});
  cases.push_back({"missing slice", {image(0, 1), image(1, 2), image(3, 3), image(4, 4)}, L"A slice is missing", 0, 0});
  cases.push_back({"extra slice", {image(0, 1), image(1, 2), image(1, 5), image(2, 3)}, L"holds 2 images", 0, 0});
  {
    std::vector<DICOMREC> twice{image(0, 1), image(1, 2), image(0, 3), image(1, 4)};
    twice[2].sopInstanceUid = twice[0].sopInstanceUid;
    cases.push_back({"same image twice", twice, L"present twice", 0, 0});
  }
  {
    std::vector<DICOMREC> sizes{image(0, 1), image(1, 2)};
    sizes[1].width = 5;
    cases.push_back({"sizes", sizes, L"differ in size", 0, 0});
    std::vector<DICOMREC> tilted{image(0, 1), image(1, 2)};
    tilted[1].orientation[1] = 0.01;
    cases.push_back({"orientation", tilted, L"differ in orientation", 0, 0});
  }
  // Two b-values whose acquisition times interleave differently per slice: the b-value orders them.
  cases.push_back({"b-values", {image(0, 1, 10, 0), image(0, 2, 20, 500), image(1, 3, 30, 500), image(1, 4, 5, 0)}, nullptr, 2, 2});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<const DICOMREC*> ptrs;
    for (const DICOMREC& r : c.images) ptrs.push_back(&r);
    twk::dcm::Assembly a;
    const bool ok = twk::dcm::assemble(ptrs, a);
    EXPECT_EQ(ok, c.problem == nullptr) << a.problem.toUtf8();
    if (c.problem) {
      EXPECT_NE(a.problem.Find(c.problem), -1) << a.problem.toUtf8();
    } else {
      EXPECT_EQ(a.depth, c.depth);
      EXPECT_EQ(a.times, c.times);
      for (int t = 0; t < a.times; ++t)
        for (int z = 0; z < a.depth; ++z) EXPECT_EQ(a.order[size_t(t * a.depth + z)]->sliceZ, double(z));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Writing DICOM
// ---------------------------------------------------------------------------------------------

TEST(DicomSave, NewIdentifiersRoundTripVoxelsAndGeometry) {
  auto v = load(series("ct"));
  ASSERT_TRUE(v);
  const std::string out = g_dir + "/savect";
  fs::create_directories(out);
  ASSERT_TRUE(CVol::SaveToDicom(v.get(), false, CString::fromUtf8(out + "/X.dcm"), nullptr, false, true, true, false, false));
  ASSERT_TRUE(fs::exists(out + "/X_t0000_n000000.dcm"));
  EXPECT_EQ(filesIn(out).size(), 20u);
  auto back = load(out);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->TotNumVox(), v->TotNumVox());
  EXPECT_EQ(0, std::memcmp(back->frame->data, v->frame->data, size_t(PR_FrameMemSize(v->frame))));
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(back->orient[i], v->orient[i], 1e-9);
  for (int z = 0; z < v->D(); ++z) {
    EXPECT_NEAR(back->imgPos[z].x, v->imgPos[z].x, 1e-6);
    EXPECT_NEAR(back->imgPos[z].z, v->imgPos[z].z, 1e-6);
  }
  EXPECT_NEAR(back->spc.z, v->spc.z, 1e-9);
  expectLikeDcm2niix(*back, out, "savect");

  // dcmdump: new study, series and instance UIDs; the patient kept.
  const std::string original = dump(series("ct") + "/ct_00.dcm"), written = dump(out + "/X_t0000_n000000.dcm");
  for (const char* tag : {"(0020,000d)", "(0020,000e)", "(0008,0018)"}) {
    SCOPED_TRACE(tag);
    EXPECT_FALSE(dumpValue(written, tag).empty());
    EXPECT_NE(dumpValue(written, tag), dumpValue(original, tag));
  }
  EXPECT_EQ(dumpValue(written, "(0010,0010)"), "Doe^Jane");
  std::set<std::string> sops;
  for (const CString& f : filesIn(out)) sops.insert(dumpValue(dump(f.toUtf8()), "(0008,0018)"));
  EXPECT_EQ(sops.size(), 20u);
}

// A DICOM export replaces DICOM files only: a file of another kind under the chosen name keeps its
// bytes and the export fails; an earlier export under that name is replaced.
TEST(DicomSave, ReplacesOnlyDicomFiles) {
  auto v = load(series("small"));
  ASSERT_TRUE(v);
  const std::string out = g_dir + "/savereplace";
  fs::create_directories(out);
  const std::string text = out + "/M.dic";
  { std::ofstream(text) << "notes\n"; }
  EXPECT_FALSE(CVol::SaveToDicom(v.get(), false, CString::fromUtf8(text), nullptr, false, false, false, false, false));
  std::ifstream in(text);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "notes\n");
  fs::remove(text);
  ASSERT_TRUE(CVol::SaveToDicom(v.get(), false, CString::fromUtf8(text), nullptr, false, false, false, false, false));
  const std::string first = dumpValue(dump(text), "(0020,000e)");
  ASSERT_TRUE(CVol::SaveToDicom(v.get(), false, CString::fromUtf8(text), nullptr, false, false, false, false, false));
  EXPECT_NE(dumpValue(dump(text), "(0020,000e)"), first);  // replaced by the new export
  EXPECT_EQ(filesIn(out).size(), 1u);
}

TEST(DicomSave, KeptIdentifiersAndJpegLsCompression) {
  auto v = load(series("small"));
  ASSERT_TRUE(v);
  ASSERT_TRUE(v->IsINT());
  const std::string out = g_dir + "/savesmall";
  fs::create_directories(out);
  PR_VIEWFILT filter;
  filter.level = 700;
  filter.width = 300;
  ASSERT_TRUE(CVol::SaveToDicom(v.get(), true, CString::fromUtf8(out + "/S.dcm"), &filter, true, true, false, false, false));
  ASSERT_TRUE(fs::exists(out + "/S_000003.dcm"));
  const std::string written = dump(out + "/S_000000.dcm"), original = dump(series("small") + "/small_00.dcm");
  EXPECT_NE(written.find("JPEGLSLossless"), std::string::npos);
  for (const char* tag : {"(0020,000d)", "(0020,000e)"}) EXPECT_EQ(dumpValue(written, tag), dumpValue(original, tag)) << tag;
  std::set<std::string> sops, originalSops;
  for (const CString& f : filesIn(out)) sops.insert(dumpValue(dump(f.toUtf8()), "(0008,0018)"));
  for (const CString& f : filesIn(series("small"))) originalSops.insert(dumpValue(dump(f.toUtf8()), "(0008,0018)"));
  EXPECT_EQ(sops, originalSops);
  EXPECT_EQ(dumpValue(written, "(0028,1050)"), "700");
  EXPECT_EQ(dumpValue(written, "(0028,1051)"), "300");
  auto back = load(out);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->IsINT());
  EXPECT_EQ(0, std::memcmp(back->frame->data, v->frame->data, size_t(PR_FrameMemSize(v->frame))));
}

TEST(DicomSave, RealAndBiasedIntegerVolumesKeepTheirValues) {
  // Real values that are not whole numbers: 32-bit images with a slope and intercept per image.
  auto v = load(series("dyn"));
  ASSERT_TRUE(v);
  ASSERT_TRUE(VA_VolIntegerToReal(v.get(), 0.37, -12.5));
  const std::string out = g_dir + "/savereal";
  fs::create_directories(out);
  ASSERT_TRUE(CVol::SaveToDicom(v.get(), false, CString::fromUtf8(out + "/R.dcm"), nullptr, false, true, true, false, false));
  auto back = load(out);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->T(), 10);
  double worst = 0;
  for (int t = 0; t < 10; ++t)
    for (int z = 0; z < 6; ++z)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 18; ++x) worst = std::max(worst, std::fabs(voxel(*back, x, y, z, t) - voxel(*v, x, y, z, t)));
  EXPECT_LT(worst, 1e-5);
  expectLikeDcm2niix(*back, out, "savereal");
  // The dynamic coordinates come back exactly.
  for (int t = 0; t < 10; ++t) {
    EXPECT_EQ(back->dyn[t].time, v->dyn[t].time);
    EXPECT_EQ(back->dyn[t].timeEnd, v->dyn[t].timeEnd);
  }

  // Negative whole numbers: signed 16-bit images, also compressed.
  auto negative = load(series("signed"));
  ASSERT_TRUE(negative && negative->IsReal());
  const std::string signedOut = g_dir + "/savesigned";
  fs::create_directories(signedOut);
  ASSERT_TRUE(CVol::SaveToDicom(negative.get(), false, CString::fromUtf8(signedOut + "/N.dcm"), nullptr, true, true, true,
                                false, false));
  EXPECT_EQ(dumpValue(dump(signedOut + "/N_t0000_n000000.dcm"), "(0028,0103)"), "1");
  auto negativeBack = load(signedOut);
  ASSERT_TRUE(negativeBack);
  EXPECT_EQ(0, std::memcmp(negativeBack->frame->data, negative->frame->data, size_t(PR_FrameMemSize(negative->frame))));

  // A CT volume with the 1024 bias: the files hold Hounsfield units.
  auto ct = load(series("ct"));
  ASSERT_TRUE(ct);
  FRAME* biased = VA_VolRealToInteger(ct->frame, 1024.0, 16, false);
  ASSERT_TRUE(biased);
  PR_FrameDelete(&ct->frame);
  ct->frame = biased;
  const std::string ctOut = g_dir + "/savebias";
  fs::create_directories(ctOut);
  ASSERT_TRUE(CVol::SaveToDicom(ct.get(), true, CString::fromUtf8(ctOut + "/B.dcm"), nullptr, true, true, true, false, false));
  const std::string written = dump(ctOut + "/B_t0000_n000000.dcm");
  EXPECT_EQ(dumpValue(written, "(0028,1052)"), "-1024");
  auto hu = load(ctOut);
  ASSERT_TRUE(hu);
  EXPECT_TRUE(hu->IsReal());
  EXPECT_EQ(voxel(*hu, 5, 6, 7, 0), 2.0 * (5 + 12 + 21 + 100) - 1024);
}

TEST(DicomSave, OneMultiFrameFileReloadsAsTheVolume) {
  auto v = load(series("dwi"));
  ASSERT_TRUE(v);
  const std::string out = g_dir + "/savemf";
  fs::create_directories(out);
  ASSERT_TRUE(CVol::SaveToDicom(v.get(), false, CString::fromUtf8(out + "/M.dic"), nullptr, false, true, true, false, false));
  ASSERT_EQ(filesIn(out).size(), 1u);
  EXPECT_EQ(dumpValue(dump(out + "/M.dic"), "(0028,0008)"), "50");
  auto back = load(out);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->D(), 10);
  ASSERT_EQ(back->T(), 5);
  EXPECT_EQ(0, std::memcmp(back->frame->data, v->frame->data, size_t(PR_FrameMemSize(v->frame))));
  for (int t = 0; t < 5; ++t) EXPECT_EQ(back->dyn[t].bValue, v->dyn[t].bValue);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(back->orient[i], v->orient[i], 1e-9);
  EXPECT_NEAR(back->imgPos[9].z, v->imgPos[9].z, 1e-6);
  expectLikeDcm2niix(*back, out, "savemf");
}

// ---------------------------------------------------------------------------------------------
// The header blob of documents
// ---------------------------------------------------------------------------------------------

TEST(DicomHeaderBlob, DocumentHeadersGiveTheVolumeBack) {
  auto v = load(series("dyn"));
  ASSERT_TRUE(v);
  // A spin-lock time that no header holds comes back through the stored coordinates.
  v->dyn[3].spinLockTime = 0.04;
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    int64_t size = 0, stored = 0;
    void* blob = VA_VolCompressDicomHeaders(v.get(), compress, &size, &stored);
    ASSERT_TRUE(blob);
    EXPECT_EQ(stored > 0, compress);
    if (compress) {
      EXPECT_LT(stored, size / 4);
    }
    std::vector<uint8_t> raw(static_cast<size_t>(size));
    if (compress) ASSERT_TRUE(VA_VolDecompressDicomHeaders(blob, stored, 60, raw.data(), size));
    else std::memcpy(raw.data(), blob, size_t(size));
    DCMFF** headers = TWKDCM_LoadHeaders(raw.data(), size, 60);
    ASSERT_TRUE(headers);
    DICOMREC** recs = VA_GetDicomRecArr(headers, 60);
    ASSERT_TRUE(recs);
    DIM3D dims = *v->Dim();
    FRMTYPE kind;
    std::unique_ptr<CVol> back(VA_LoadByItem_VolHeader(&dims, recs, nullptr, &kind, false));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->spc.x, v->spc.x);
    EXPECT_NEAR(back->spc.z, v->spc.z, 1e-12);
    EXPECT_EQ(0, std::memcmp(back->orient, v->orient, sizeof v->orient));
    for (int z = 0; z < 6; ++z) EXPECT_EQ(back->imgPos[z].z, v->imgPos[z].z);
    EXPECT_EQ(0, std::memcmp(back->dyn, v->dyn, 10 * sizeof(DYNCRD)));
    EXPECT_EQ(back->modality, v->modality);
    EXPECT_EQ(back->dicom[0]->patientName, CString(L"Doe^Jane"));
    TW_FreeDicomRecArray(&recs, 60);
    TWKDCM_DeleteFFarr(&headers, 60);
    pf_free(&blob);
  }
}

TEST(DicomHeaderBlob, VolumeWithoutRecordsGetsBasicHeaders) {
  CVol v;
  const DIM3D dims{5, 4, 3, 2};
  v.frame = VA_VolCreateUniform(FRM_INT, dims, 7.0, 16);
  v.modality = MODALITY_PET;
  v.spc = SPC{1.5, 2.0, 3.5};
  const double tilted[6] = {0.6, 0.8, 0, -0.8, 0.6, 0};
  v.SetOrientation(tilted);
  v.imgPos = static_cast<DPOINT3D*>(pf_calloc(3 * sizeof(DPOINT3D)));
  for (int z = 0; z < 3; ++z) v.imgPos[z] = DPOINT3D{10, 20, 30 + 3.5 * z};
  v.dyn = static_cast<DYNCRD*>(pf_calloc(2 * sizeof(DYNCRD)));
  v.dyn[0].time = 30;
  v.dyn[0].timeEnd = 90;
  v.dyn[1].time = 90;
  v.dyn[1].timeEnd = 150;
  int64_t size = 0, stored = 0;
  void* blob = VA_VolCompressDicomHeaders(&v, true, &size, &stored);
  ASSERT_TRUE(blob);
  std::vector<uint8_t> raw(static_cast<size_t>(size));
  ASSERT_TRUE(VA_VolDecompressDicomHeaders(blob, stored, 6, raw.data(), size));
  DCMFF** headers = TWKDCM_LoadHeaders(raw.data(), size, 6);
  ASSERT_TRUE(headers);
  DICOMREC** recs = VA_GetDicomRecArr(headers, 6);
  FRMTYPE kind;
  std::unique_ptr<CVol> back(VA_LoadByItem_VolHeader(&dims, recs, nullptr, &kind, false));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->modality, MODALITY_PET);
  EXPECT_NEAR(back->spc.z, 3.5, 1e-9);
  EXPECT_NEAR(back->spc.y, 2.0, 1e-12);
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(back->orient[i], tilted[i], 1e-12);
  EXPECT_EQ(back->dyn[0].time, 30);
  EXPECT_EQ(back->dyn[1].timeEnd, 150);
  TW_FreeDicomRecArray(&recs, 6);
  TWKDCM_DeleteFFarr(&headers, 6);

  // Damaged blobs are refused.
  auto* bytes = static_cast<uint8_t*>(blob);
  std::vector<uint8_t> out(static_cast<size_t>(size));
  EXPECT_FALSE(VA_VolDecompressDicomHeaders(blob, stored, 7, out.data(), size));      // another header count
  EXPECT_FALSE(VA_VolDecompressDicomHeaders(blob, stored, 6, out.data(), size - 1));  // another size
  EXPECT_FALSE(VA_VolDecompressDicomHeaders(blob, stored - 10, 6, out.data(), size));  // cut short
  bytes[0] = 'X';
  EXPECT_FALSE(VA_VolDecompressDicomHeaders(blob, stored, 6, out.data(), size));  // not this format
  pf_free(&blob);
}

// ---------------------------------------------------------------------------------------------
// Protected health information
// ---------------------------------------------------------------------------------------------

TEST(DicomDeidentify, FolderLosesEveryProfileAttributeAndThenHasNothingToRemove) {
  const std::string folder = copyOf(series("ct"), "deid");
  const std::string before = dump(folder + "/ct_03.dcm");
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  int64_t changed = 0;
  ASSERT_TRUE(VA_DeidentifyDicomFolder(CString::fromUtf8(folder), nullptr, false, &changed));
  EXPECT_EQ(changed, 20);
  const std::string after = dump(folder + "/ct_03.dcm");

  // Every attribute of the profile in force that the file had is gone, emptied or replaced.
  const std::string profile = g_dir + "/profile.txt";
  ASSERT_TRUE(TWKDCM_SaveCurrentPHIprofile(CString::fromUtf8(profile)));
  std::ifstream in(profile);
  int checked = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 12 || line[0] != '(' || line.find('x') < 11) continue;
    std::string tag = line.substr(0, 11);
    for (char& c : tag) c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string action = line.substr(12, line.find(' ', 12) - 12);
    const std::string old = dumpValue(before, tag);
    if (old.empty()) continue;
    SCOPED_TRACE(line);
    ++checked;
    if (action == "remove") {
      EXPECT_EQ(after.find(tag), std::string::npos);
    } else if (action == "empty") {
      EXPECT_EQ(dumpValue(after, tag), "");
    } else if (action == "replace") {
      EXPECT_NE(dumpValue(after, tag), old);
    }
  }
  EXPECT_GT(checked, 8);
  for (const char* phi : {"Doe^Jane", "P001", "19700101", "Research study"}) EXPECT_EQ(after.find(phi), std::string::npos) << phi;
  // The images still load.
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->D(), 20);

  // An anonymous series: nothing to remove, neither in the folder nor in the volume.
  ui.clear();
  ASSERT_TRUE(VA_DeidentifyDicomFolder(CString::fromUtf8(folder), nullptr, true, &changed));
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(ui.lastMessage(), CString(L"No PHI is present"));
  CString** lines = nullptr;
  int64_t count = 0;
  ASSERT_TRUE(VA_VolExtractPHIrecords(v.get(), &lines, &count));
  EXPECT_EQ(count, 0);
  freeLines(&lines, count);
}

TEST(DicomDeidentify, VolumeHeadersLoseTheirPhi) {
  auto v = load(series("patients"));
  ASSERT_FALSE(v);  // two patients are not one volume
  std::vector<CString> files;
  for (const CString& f : filesIn(series("patients")))
    if (f.Find(L"pat0_") != -1) files.push_back(f);
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  std::unique_ptr<CVol> vol(VA_LoadDicomVolume(list.data(), int(list.size()), false));
  ASSERT_TRUE(vol);
  CString** lines = nullptr;
  int64_t count = 0;
  ASSERT_TRUE(VA_VolExtractPHIrecords(vol.get(), &lines, &count));
  bool named = false;
  for (int64_t i = 0; i < count; ++i) named = named || lines[i]->Find(L"Roe^Ann") != -1;
  EXPECT_TRUE(named);
  freeLines(&lines, count);
  ASSERT_TRUE(VA_VolDeidentify(vol.get(), false));
  count = 0;
  ASSERT_TRUE(VA_VolExtractPHIrecords(vol.get(), &lines, &count));
  EXPECT_EQ(count, 0);
  freeLines(&lines, count);
  EXPECT_NE(vol->dicom[0]->patientName, CString(L"Roe^Ann"));
  // The document blob carries no trace of the name.
  int64_t size = 0, stored = 0;
  void* blob = VA_VolCompressDicomHeaders(vol.get(), false, &size, &stored);
  ASSERT_TRUE(blob);
  const std::string text(static_cast<char*>(blob), static_cast<size_t>(size));
  EXPECT_EQ(text.find("Roe^Ann"), std::string::npos);
  pf_free(&blob);
}

TEST(DicomDeidentify, RecordsWithoutHeadersListAndLoseTheirIdentifyingFacts) {
  // Records of a volume that never had a file: the document writes their facts into the basic
  // header it makes, so the facts are the PHI.
  CVol vol;
  vol.frame = PR_FrameCreate(FRM_INT, 16, DIM3D{2, 2, 2, 1}, true);
  vol.numDicom = 2;
  vol.dicom = static_cast<DICOMREC**>(pf_calloc(2 * int64_t(sizeof(DICOMREC*))));
  for (int i = 0; i < 2; ++i) {
    vol.dicom[i] = new DICOMREC;
    vol.dicom[i]->patientName = L"Roe^Ann";
    vol.dicom[i]->seriesDescription = L"T1 axial";
  }
  vol.dicom[1]->patientId = L"P9";
  auto extract = [&vol](CString*** lines, int64_t* count) {
    EXPECT_TRUE(VA_VolExtractPHIrecords(&vol, lines, count));
    std::vector<CString> texts;
    for (int64_t i = 0; i < *count; ++i) texts.push_back(*(*lines)[i]);
    return texts;
  };
  CString** lines = nullptr;
  int64_t count = 0;
  EXPECT_EQ(extract(&lines, &count), (std::vector<CString>{L"(0010,0010) PatientName : Roe^Ann", L"(0010,0020) PatientID : P9"}));
  EXPECT_EQ(extract(&lines, &count).size(), 4u);  // appended
  for (int64_t i = 0; i < count; ++i) delete lines[i];
  pf_free(&lines);

  ASSERT_TRUE(VA_VolDeidentify(&vol, false));
  count = 0;
  EXPECT_TRUE(extract(&lines, &count).empty());
  EXPECT_EQ(lines, nullptr);
  EXPECT_TRUE(vol.dicom[1]->patientName.IsEmpty());
  EXPECT_EQ(vol.dicom[1]->seriesDescription, CString(L"T1 axial"));
}

// ---------------------------------------------------------------------------------------------
// Folders
// ---------------------------------------------------------------------------------------------

TEST(DicomFolders, TreeToFoldersWithAndWithoutDicomDir) {
  const std::string plain = g_dir + "/tree_plain", indexed = g_dir + "/tree_dicomdir";
  ASSERT_TRUE(VA_DicomTreeToFolders(CString::fromUtf8(series("patients")), CString::fromUtf8(plain), false, false));
  EXPECT_TRUE(fs::exists(plain + "/PATIENT_1/STUDY_1/SERIES_1/IM000003"));
  EXPECT_TRUE(fs::exists(plain + "/PATIENT_2/STUDY_1/SERIES_1/IM000001"));
  EXPECT_FALSE(fs::exists(plain + "/DICOMDIR"));

  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  ASSERT_TRUE(VA_DicomTreeToFolders(CString::fromUtf8(series("patients")), CString::fromUtf8(indexed), true, true))
      << ui.lastMessage().toUtf8();
  ASSERT_TRUE(fs::exists(indexed + "/DICOMDIR"));
  const std::string dir = dump(indexed + "/DICOMDIR");
  size_t images = 0;
  for (size_t at = dir.find("[IMAGE"); at != std::string::npos; at = dir.find("[IMAGE", at + 1)) ++images;
  EXPECT_EQ(images, 6u);
  EXPECT_NE(dir.find("PAT00002\\STU00001\\SER00001\\IM000003"), std::string::npos);
  // A DICOMDIR in a folder is neither an image nor a damaged file.
  VA_DICOMTREE tree;
  int64_t skipped = -1;
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(indexed), nullptr, false, nullptr, &tree, nullptr,
                                     0, nullptr, nullptr, &skipped, nullptr, false));
  EXPECT_EQ(skipped, 0);
  EXPECT_EQ(tree.imageCount, 6);

  // Sorting by the DICOMDIR into folders named by patient.
  const std::string named = g_dir + "/tree_named";
  ASSERT_TRUE(VA_DICOMDIRtoFileFolders(true, CString::fromUtf8(indexed), CString::fromUtf8(named), false));
  EXPECT_TRUE(fs::exists(named + "/ROE_ANN_P100"));
  EXPECT_TRUE(fs::exists(named + "/POE_BOB_P200"));
  EXPECT_EQ(filesIn(named).size(), 6u);
}

TEST(DicomFolders, ExtractionRulesAndFileSets) {
  const std::string source = g_dir + "/mixed";
  fs::remove_all(source);  // a repeated run starts afresh
  fs::create_directories(source);
  fs::copy(series("ct"), source + "/ct");
  fs::copy(series("patients"), source + "/patients");
  VA_DICOMTREE tree;
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(source), nullptr, false, nullptr, &tree, nullptr,
                                     0, nullptr, nullptr, nullptr, nullptr, false));
  ASSERT_EQ(tree.items.size(), 3u);

  VA_DICOMFILEEXTRACTOR rules;
  rules.sliceRange = 1;
  rules.minSlices = 10;
  rules.maxSlices = 100;
  rules.allVolumes = 1;
  int count = 0;
  FILESET** sets = VA_MakeDicomVolumeFileSets(&rules, &tree, &count, false);
  ASSERT_TRUE(sets);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(sets[0]->count, 20);
  EXPECT_EQ(sets[0]->GetCommonFolder(), CString::fromUtf8(source + "/ct"));
  VA_FreeFileSets(&sets, count);

  rules.sliceRange = 0;
  rules.modality = 1;  // CT only
  sets = VA_MakeDicomVolumeFileSets(&rules, &tree, &count, false);
  ASSERT_EQ(count, 1);
  VA_FreeFileSets(&sets, count);
  rules.modality = 0;
  sets = VA_MakeDicomVolumeFileSets(&rules, &tree, &count, false);
  EXPECT_EQ(count, 3);
  VA_FreeFileSets(&sets, count);

  // List files per volume, and copies per patient.
  const std::string lists = g_dir + "/lists", copies = g_dir + "/copies";
  fs::remove_all(lists);
  fs::remove_all(copies);
  rules.listFiles = 1;
  std::wcsncpy(rules.targetFolder, CString::fromUtf8(lists), 1023);
  for (const auto& p : tree.items) ASSERT_TRUE(VA_ExtractPatientDicoms(&rules, &tree, p.get(), true));
  EXPECT_EQ(filesIn(lists).size(), 3u);
  rules.listFiles = 0;
  rules.sliceRange = 1;
  rules.minSlices = 3;
  rules.maxSlices = 3;
  std::wcsncpy(rules.targetFolder, CString::fromUtf8(copies), 1023);
  for (const auto& p : tree.items) ASSERT_TRUE(VA_ExtractPatientDicoms(&rules, &tree, p.get(), true));
  EXPECT_EQ(filesIn(copies).size(), 6u);
  // Studies at least a month apart: these patients have one study each.
  rules.separatedStudies = 1;
  rules.months = 1;
  fs::remove_all(copies);
  for (const auto& p : tree.items) ASSERT_TRUE(VA_ExtractPatientDicoms(&rules, &tree, p.get(), true));
  EXPECT_FALSE(fs::exists(copies));
}

TEST(DicomFolders, Queries) {
  int count = 0;
  double* b = VA_EnumerateAllBvalsInDicomFolder(CString::fromUtf8(series("dwi")), &count, false);
  ASSERT_TRUE(b);
  EXPECT_EQ(std::vector<double>(b, b + count), (std::vector<double>{0, 50, 200, 500, 1000}));
  pf_free(&b);
  EXPECT_FALSE(VA_EnumerateAllBvalsInDicomFolder(CString::fromUtf8(series("ct")), &count, false));

  const CString one = VA_FindOneDicomFileInFolder(CString::fromUtf8(series("patients")), false);
  EXPECT_NE(one.Find(L"pat0_00.dcm"), -1);

  int64_t total = 0, pixels = 0;
  ASSERT_TRUE(VA_DicomFolderTotalPixSize(CString::fromUtf8(series("small")), &total, &pixels, false));
  EXPECT_EQ(pixels, 4 * 10 * 12 * 2);
  EXPECT_GT(total, pixels);

  const CString diff = VA_VolDicomDifference(CString::fromUtf8(series("ct") + "/ct_00.dcm"),
                                             CString::fromUtf8(series("ct") + "/ct_01.dcm"), false);
  EXPECT_NE(diff.Find(L"(0020,0013) InstanceNumber : 20 | 19"), -1) << diff.toUtf8();
  EXPECT_NE(diff.Find(L"(0020,0032)"), -1);
  EXPECT_EQ(diff.Find(L"(0010,0010)"), -1);
}

TEST(DicomVolume, SlicesRunAlongTheNormal) {
  auto v = load(series("mrgap"));
  ASSERT_TRUE(v);
  auto reference = load(series("mrgap"));
  // Reverse the slices by hand: the positions then run against the normal.
  const int D = v->D();
  for (int z = 0; z < D / 2; ++z) {
    std::swap(v->imgPos[z], v->imgPos[D - 1 - z]);
    std::swap(v->dicom[z], v->dicom[D - 1 - z]);
    for (int y = 0; y < v->H(); ++y)
      std::swap_ranges(twk::frameLine(v->frame, y, z, 0), twk::frameLine(v->frame, y, z, 0) + v->frame->lineBytes,
                       twk::frameLine(v->frame, y, D - 1 - z, 0));
  }
  ASSERT_TRUE(VA_VolEnsurePositiveOrient(v.get(), false));
  EXPECT_EQ(0, std::memcmp(v->frame->data, reference->frame->data, size_t(PR_FrameMemSize(v->frame))));
  EXPECT_EQ(v->imgPos[D - 1].z, reference->imgPos[D - 1].z);
  EXPECT_EQ(v->dicom[0]->sliceZ, reference->dicom[0]->sliceZ);
}

// ---------------------------------------------------------------------------------------------
// Files of research scanners: mosaics, enhanced multi-frame, derived images, JPEG 2000, colour,
// float pixel data, Modality LUT, dose grids
// ---------------------------------------------------------------------------------------------

namespace {

// Every number of a JSON file of nested arrays of numbers, in order.
std::vector<double> jsonNumbers(const std::string& path) {
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (char& c : text)
    if (c == '[' || c == ']' || c == ',') c = ' ';
  std::istringstream numbers(text);
  std::vector<double> out;
  for (double v; numbers >> v;) out.push_back(v);
  return out;
}

// Little-endian 16-bit samples of a raw file written by opj_decompress.
std::vector<int> littleEndianSamples(const std::string& path, bool isSigned) {
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int> out;
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const int v = b[i] | (b[i + 1] << 8);
    out.push_back(isSigned && v >= 32768 ? v - 65536 : v);
  }
  return out;
}

double distance(const DPOINT3D& a, const double b[3]) { return std::hypot(a.x - b[0], a.y - b[1], a.z - b[2]); }

}  // namespace

TEST(DicomMosaic, TiledImagesConvertIntoTheVolumeOfTheirSlices) {
  // 35 slices of 64 x 64 in a 6 x 6 grid, oblique; the tiles follow the scanner's slice normal,
  // which points along the orientation's normal or against it.
  const struct {
    const char* kind;
    int times;
    bool reverse;
  } cases[] = {{"mosaic", 3, false}, {"mosaic3drev", 1, true}, {"mosaic4drev", 3, true}};
  double row[3], col[3], normal[3];
  rotationColumn(0.3, -0.2, 0.25, 0, row);
  rotationColumn(0.3, -0.2, 0.25, 1, col);
  rotationColumn(0.3, -0.2, 0.25, 2, normal);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const std::string folder = series(c.kind);
    // Until converted, a mosaic is an honest tiled image: one slice per time point, and the
    // browser's line says what it holds.
    auto tiled = load(folder);
    ASSERT_TRUE(tiled);
    EXPECT_EQ(tiled->W(), 384);
    EXPECT_EQ(tiled->H(), 384);
    EXPECT_EQ(tiled->D(), 1);
    ASSERT_EQ(tiled->T(), c.times);
    EXPECT_EQ(VA_VolNumImgMosaic(tiled.get()), 35);
    VA_DICOMTREE tree;
    ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(folder), nullptr, false, nullptr, &tree, nullptr,
                                       0, nullptr, nullptr, nullptr, nullptr, false));
    const VA_DICOMTREEITEM* s = tree.items[0]->Child(0)->Child(0);
    CString dims;
    ASSERT_TRUE(VA_GetSimpleSeriesInfoLine(false, nullptr, s->rec.get(), s->NumChildren(), &dims, nullptr, nullptr, nullptr));
    CString wanted;
    wanted.Format(L"384x384x1x%d, mosaic of 35 slices", c.times);
    EXPECT_EQ(dims, wanted) << dims.toUtf8();

    std::unique_ptr<CVol> v(VA_VolMosaicToVolume(tiled.get(), 35, false));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->W(), 64);
    EXPECT_EQ(v->H(), 64);
    ASSERT_EQ(v->D(), 35);
    ASSERT_EQ(v->T(), c.times);
    EXPECT_NEAR(v->spc.x, 3.0, 1e-9);
    EXPECT_NEAR(v->spc.y, 3.0, 1e-9);
    EXPECT_NEAR(v->spc.z, 3.5, 1e-4);
    // Slice z of the volume runs along the orientation's normal: tile z, or tile 34 - z when the
    // tiles run against it. Tile k lies at P0 + 3.5 k along the scanner's normal.
    for (int z : {0, 17, 34}) {
      const int k = c.reverse ? 34 - z : z;
      const double sign = c.reverse ? -1.0 : 1.0;
      const double p[3] = {-96.0 + sign * normal[0] * 3.5 * k, -88.5 + sign * normal[1] * 3.5 * k,
                           20.25 + sign * normal[2] * 3.5 * k};
      EXPECT_LT(distance(v->imgPos[z], p), 0.01) << z;
      for (int t = 0; t < c.times; ++t) EXPECT_EQ(voxel(*v, 5, 7, z, t), 5 + 14 + 50 * k + 1000 * t) << z << " " << t;
    }
    EXPECT_EQ(v->dyn[c.times - 1].time, 2.0 * (c.times - 1));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(v->orient[i], row[i], 1e-7);
    // The slice headers are no mosaics any more.
    EXPECT_EQ(VA_VolNumImgMosaic(v.get()), 0);
    expectLikeDcm2niix(*v, folder, c.kind, 0.01);
  }
}

TEST(DicomEnhanced, PositionsComeFromTheStandardFunctionalGroups) {
  // Eight frames stored out of slice order; each per-frame item also holds a vendor's private copy
  // of position, orientation and spacing that disagrees. Orientation and pixel measures stand in
  // the shared groups, or in every per-frame item.
  double row[3], col[3], normal[3];
  rotationColumn(0.1, 0.25, -0.15, 0, row);
  rotationColumn(0.1, 0.25, -0.15, 1, col);
  rotationColumn(0.1, 0.25, -0.15, 2, normal);
  for (const char* kind : {"enhanced", "enhancedperframe"}) {
    SCOPED_TRACE(kind);
    auto v = load(series(kind));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->W(), 24);
    EXPECT_EQ(v->H(), 20);
    ASSERT_EQ(v->D(), 8);
    EXPECT_EQ(v->T(), 1);
    EXPECT_NEAR(v->spc.x, 1.5, 1e-9);
    EXPECT_NEAR(v->spc.y, 1.25, 1e-9);
    EXPECT_NEAR(v->spc.z, 2.0, 1e-5);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(v->orient[i], row[i], 1e-7);
      EXPECT_NEAR(v->orient[3 + i], col[i], 1e-7);
    }
    for (int z = 0; z < 8; ++z) {
      const double p[3] = {10.0 + normal[0] * 2.0 * z, -20.0 + normal[1] * 2.0 * z, 30.0 + normal[2] * 2.0 * z};
      EXPECT_LT(distance(v->imgPos[z], p), 0.01) << z;
      EXPECT_EQ(voxel(*v, 3, 4, z, 0), 3 + 8 + 100 * z) << z;
    }
  }
}

TEST(DicomEnhanced, TimePointsFollowTheFrameContent) {
  // 4 slices x 6 time points stored in random order; the top-level acquisition date and time is
  // one for all frames, the Frame Content gives each frame's temporal index and time.
  const std::string folder = series("enhancedtime");
  auto v = load(folder);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->D(), 4);
  ASSERT_EQ(v->T(), 6);
  const double times[] = {0, 0, 127.5, 127.5, 255, 255};
  for (int t = 0; t < 6; ++t) {
    EXPECT_NEAR(v->dyn[t].time, times[t], 1e-6) << t;
    for (int z = 0; z < 4; ++z) EXPECT_EQ(voxel(*v, 2, 1, z, t), 2 + 2 + 10 * z + 1000 * t) << t << " " << z;
  }
  expectLikeDcm2niix(*v, folder, "enhancedtime", 0.01);
}

TEST(DicomDerived, TraceAndMapsFormTheirOwnSubSeries) {
  // b = 0, four directions at b = 1000, the scanner's trace image (b = 1000 without direction) and
  // an ADC map, 3 slices each.
  const std::string folder = series("dwitrace");
  VA_DICOMTREE tree;
  ASSERT_TRUE(VA_FolderFullDicomTree(true, nullptr, CString::fromUtf8(folder), nullptr, false, nullptr, &tree, nullptr, 0,
                                     nullptr, nullptr, nullptr, nullptr, false));
  const VA_DICOMTREEITEM* s = tree.items[0]->Child(0)->Child(0);
  ASSERT_TRUE(s->IsCompositeSeries());
  ASSERT_EQ(s->NumChildren(), 3);
  EXPECT_EQ(s->Child(0)->NumChildren(), 15);
  EXPECT_EQ(s->Child(0)->rec->seriesTimes, 5);
  EXPECT_TRUE(s->Child(0)->rec->derivedKind.IsEmpty());
  std::set<CString> derived{s->Child(1)->rec->derivedKind, s->Child(2)->rec->derivedKind};
  EXPECT_EQ(derived, (std::set<CString>{L"TRACEW", L"ADC"}));

  // The whole series loads as its acquired time points only.
  auto v = load(folder);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->D(), 3);
  ASSERT_EQ(v->T(), 5);
  const double b[] = {0, 1000, 1000, 1000, 1000};
  for (int t = 0; t < 5; ++t) {
    EXPECT_EQ(v->dyn[t].bValue, b[t]);
    EXPECT_EQ(voxel(*v, 1, 1, 2, t), 1 + 2 + 20 + 100 * t) << t;
  }
  // The trace image alone is a volume of its own.
  for (int i = 1; i <= 2; ++i) {
    std::vector<VA_DICOMTREEITEM*> images;
    VA_EnumerateTreeImageItems(s->Child(i), &images);
    std::vector<CString> files;
    for (auto* image : images) files.push_back(image->rec->filePath);
    std::vector<const wchar_t*> list;
    for (const CString& f : files) list.push_back(f);
    std::unique_ptr<CVol> map(VA_LoadDicomVolume(list.data(), int(list.size()), false));
    ASSERT_TRUE(map);
    EXPECT_EQ(map->T(), 1);
    const int volume = s->Child(i)->rec->derivedKind == L"TRACEW" ? 5 : 6;
    EXPECT_EQ(voxel(*map, 1, 1, 2, 0), 1 + 2 + 20 + 100 * volume);
  }
}

TEST(DicomJpeg2000, EveryKindGivesThePixelsOfTheReferenceDecoder) {
  // Three 64 x 64 slices (unsigned 12-bit, and signed CT values) as JPEG 2000 lossless and lossy
  // and high-throughput JPEG 2000 lossless and lossy: lossless ones give the plain series' voxels,
  // lossy ones the values opj_decompress gives for the same codestream.
  const std::string root = series("j2k");
  for (bool isSigned : {false, true}) {
    const std::string prefix = isSigned ? "s" : "u";
    auto plain = load(root + "/" + prefix + "plain");
    ASSERT_TRUE(plain);
    for (const char* kind : {"lossless", "lossy", "htlossless", "htlossy"}) {
      SCOPED_TRACE(prefix + kind);
      auto v = load(root + "/" + prefix + kind);
      ASSERT_TRUE(v) << VA_GetDicomLoadError().toUtf8();
      ASSERT_EQ(v->D(), 3);
      EXPECT_EQ(v->Type(), plain->Type());
      const bool lossless = std::string(kind).find("lossless") != std::string::npos;
      int differing = 0;
      for (int z = 0; z < 3; ++z) {
        const std::vector<int> reference =
            littleEndianSamples(root + "/work/" + kind + "_" + std::to_string(int(isSigned)) + "_" + std::to_string(z) + "_dec.rawl",
                                isSigned);
        ASSERT_EQ(reference.size(), 64u * 64u);
        for (int y = 0; y < 64; ++y)
          for (int x = 0; x < 64; ++x) {
            const double ours = voxel(*v, x, y, z, 0);
            EXPECT_EQ(ours, reference[size_t(y * 64 + x)]) << x << " " << y << " " << z;
            if (lossless) {
              EXPECT_EQ(ours, voxel(*plain, x, y, z, 0));
            }
            differing += ours != voxel(*plain, x, y, z, 0);
          }
      }
      // The lossy codestreams really are lossy.
      if (!lossless) {
        EXPECT_GT(differing, 0);
      }
    }
  }
}

TEST(DicomPixels, ColourImagesGiveTheirLuminance) {
  const std::string root = series("colour");
  const std::vector<double> rgb = jsonNumbers(root + "/luminance.json");
  ASSERT_EQ(rgb.size(), 2u * 48u);
  const struct {
    const char* folder;
    size_t offset;  // of the expected luminance in the JSON file
  } cases[] = {{"rgb", 0}, {"ybrfull", 48}, {"ybr422", 48}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    auto v = load(root + "/" + c.folder);
    ASSERT_TRUE(v) << VA_GetDicomLoadError().toUtf8();
    ASSERT_EQ(v->W(), 8);
    ASSERT_EQ(v->H(), 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) EXPECT_EQ(voxel(*v, x, y, 0, 0), rgb[c.offset + size_t(y * 8 + x)]) << x << " " << y;
  }
}

TEST(DicomPixels, RefusalsNameTheFileAndTheCause) {
  const struct {
    std::string folder, file, cause;
  } cases[] = {
      {series("colour") + "/palette", "palette.dcm", "PALETTE COLOR"},
      {series("unsupported"), "u_1.dcm", "1.2.3.4.5.6.7.8.9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    EXPECT_FALSE(load(c.folder));
    const CString error = VA_GetDicomLoadError();
    EXPECT_NE(error.Find(CString::fromUtf8(c.file)), -1) << error.toUtf8();
    EXPECT_NE(error.Find(CString::fromUtf8(c.cause)), -1) << error.toUtf8();
    // Shown once, with the same text, to a user who loads the files.
    const std::vector<CString> files = filesIn(c.folder);
    std::vector<const wchar_t*> list;
    for (const CString& f : files) list.push_back(f);
    delete VA_LoadDicomVolume(list.data(), int(list.size()), true);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.lastMessage().Find(error), -1) << ui.lastMessage().toUtf8();
  }
}

TEST(DicomPixels, FloatPixelDataGiveRealVoxels) {
  for (const char* kind : {"f32", "f64"}) {
    SCOPED_TRACE(kind);
    auto v = load(series("floatmap") + "/" + kind);
    ASSERT_TRUE(v) << VA_GetDicomLoadError().toUtf8();
    EXPECT_TRUE(v->IsReal());
    EXPECT_EQ(v->W(), 10);
    EXPECT_EQ(v->H(), 6);
    ASSERT_EQ(v->D(), 4);
    EXPECT_NEAR(v->spc.z, 5.0, 1e-9);
    for (int z = 0; z < 4; ++z)
      for (int y : {0, 5})
        for (int x : {0, 9}) {
          const double value = x * 0.25 - y * 1.5 + z * 100.125 - 7.3;
          EXPECT_EQ(voxel(*v, x, y, z, 0), std::string(kind) == "f32" ? double(float(value)) : value);
        }
  }
}

TEST(DicomPixels, ModalityLutIsApplied) {
  // pydicom's apply_modality_lut gives the expected values.
  const std::string folder = series("modlut");
  const std::vector<double> expected = jsonNumbers(folder + "/expected.json");
  ASSERT_EQ(expected.size(), 2u * 10u * 12u);
  auto v = load(folder);
  ASSERT_TRUE(v) << VA_GetDicomLoadError().toUtf8();
  EXPECT_EQ(v->unit, CString(L"HU"));
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) EXPECT_EQ(voxel(*v, x, y, z, 0), expected[size_t((z * 10 + y) * 12 + x)]) << x << y << z;
}

TEST(DicomPixels, DoseGridIsAVolumeInGrayAtItsPlanes) {
  auto v = load(series("rtdose"));
  ASSERT_TRUE(v) << VA_GetDicomLoadError().toUtf8();
  EXPECT_EQ(v->W(), 6);
  EXPECT_EQ(v->H(), 8);
  ASSERT_EQ(v->D(), 15);
  EXPECT_EQ(v->T(), 1);
  EXPECT_EQ(v->unit, CString(L"Gy"));
  EXPECT_NEAR(v->spc.x, 3.0, 1e-9);
  EXPECT_NEAR(v->spc.y, 2.5, 1e-9);
  EXPECT_NEAR(v->spc.z, 2.5, 1e-9);
  for (int z : {0, 7, 14}) {
    const double p[3] = {-10.0, -7.5, -20.0 + 2.5 * z};
    EXPECT_LT(distance(v->imgPos[z], p), 1e-6);
    for (int y : {0, 7})
      for (int x : {0, 5}) EXPECT_NEAR(voxel(*v, x, y, z, 0), (x + 10 * y + 100 * z + 7) * 0.000125, 1e-12);
  }
}
