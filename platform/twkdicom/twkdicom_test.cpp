// TwkDicom against files written by independent tools: pydicom (Debian's /usr/bin/python3) writes the
// reference series, the DCMTK command-line tools re-encode them (big endian, deflated, implicit,
// JPEG, JPEG-LS, RLE) and dcmdump reads back what the library writes.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TextCodec.h"
#include "TwkDicom.h"
#include "TwkMem.h"

namespace fs = std::filesystem;

// The largest single request made through operator new (the DICOM toolkit's value buffers among
// them), so that a test can show that a damaged length never became a request of its size. Requests
// beyond 1 GiB are refused rather than served: the test must not take the memory it looks for.
std::atomic<size_t> g_largestNewRequest{0};

void* operator new(size_t size) {
  size_t seen = g_largestNewRequest.load(std::memory_order_relaxed);
  while (size > seen && !g_largestNewRequest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {}
  if (size <= (size_t(1) << 30))
    if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
// The compiler cannot tell that the operator new above is malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

// Writes the reference files into the folder given as argument. Pixel values follow
// value(r, c, frame) = (37 r + 1013 c + 5000 frame + 11) mod 65536 (minus 32768 when signed),
// which expectedPixel() below repeats.
const char kFixtureScript[] = R"PY(
import os, struct, sys
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian
out = sys.argv[1]
def base(sop_class, modality):
    ds = Dataset()
    ds.file_meta = FileMetaDataset()
    ds.file_meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds.file_meta.MediaStorageSOPClassUID = sop_class
    ds.file_meta.MediaStorageSOPInstanceUID = "1.2.826.0.1.3680043.10.999.3.1"
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = "1.2.826.0.1.3680043.10.999.3.1"
    ds.StudyInstanceUID = "1.2.826.0.1.3680043.10.999.1"
    ds.SeriesInstanceUID = "1.2.826.0.1.3680043.10.999.2"
    ds.FrameOfReferenceUID = "1.2.826.0.1.3680043.10.999.4"
    ds.Modality = modality
    ds.PatientName = "Doe^John"
    ds.PatientID = "PID123"
    ds.PatientBirthDate = "19700215"
    ds.PatientSex = "M"
    ds.PatientAge = "054Y"
    ds.PatientAddress = "1 Main Street"
    ds.OtherPatientIDsSequence = Sequence([Dataset()])
    ds.OtherPatientIDsSequence[0].PatientID = "OTHER9"
    ds.StudyDate = "20240102"
    ds.SeriesDate = "20240102"
    ds.AcquisitionDate = "20240102"
    ds.ContentDate = "20240102"
    ds.StudyTime = "101000"
    ds.SeriesTime = "101500"
    ds.AcquisitionTime = "101530.25"
    ds.ContentTime = "101531"
    ds.AccessionNumber = "ACC77"
    ds.InstitutionName = "General Hospital"
    ds.InstitutionAddress = "2 Side Road"
    ds.ReferringPhysicianName = "Who^Doctor"
    ds.PerformingPhysicianName = "Smith^Anna"
    ds.OperatorsName = "Op^Erator"
    ds.StationName = "SCANNER1"
    ds.StudyDescription = "Brain study"
    ds.SeriesDescription = "T2 axial"
    ds.ProtocolName = "t2_tse"
    ds.StudyID = "S55"
    ds.DeviceSerialNumber = "SN123"
    ds.ImageComments = "patient moved"
    ds.ReferencedImageSequence = Sequence([Dataset()])
    ds.ReferencedImageSequence[0].ReferencedSOPClassUID = sop_class
    ds.ReferencedImageSequence[0].ReferencedSOPInstanceUID = "1.2.826.0.1.3680043.10.999.3.9"
    ds.SeriesNumber = 7
    ds.InstanceNumber = 3
    ds.ImagePositionPatient = [-10.5, 20.25, 30]
    ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    ds.PixelSpacing = [0.5, 0.75]
    ds.SliceThickness = 2.5
    return ds
def pixels16(rows, cols, signed, frame=0):
    vals = []
    for r in range(rows):
        for c in range(cols):
            v = (r * 37 + c * 1013 + frame * 5000 + 11) % 65536
            vals.append(v - 32768 if signed else v)
    return struct.pack('<%d%s' % (len(vals), 'h' if signed else 'H'), *vals)
def image(ds, rows, cols, bits, signed, data, frames=None):
    ds.Rows = rows; ds.Columns = cols
    ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = bits; ds.BitsStored = bits; ds.HighBit = bits - 1
    ds.PixelRepresentation = 1 if signed else 0
    if frames: ds.NumberOfFrames = frames
    ds.PixelData = data
def save(ds, name):
    ds.is_little_endian = True; ds.is_implicit_VR = False
    ds.save_as(os.path.join(out, name), write_like_original=False)
MR = "1.2.840.10008.5.1.4.1.1.4"
CT = "1.2.840.10008.5.1.4.1.1.2"
EMR = "1.2.840.10008.5.1.4.1.1.4.1"
ds = base(MR, "MR")
ds.EchoTime = 20; ds.RepetitionTime = 500; ds.FlipAngle = 15
ds.RescaleSlope = 2; ds.RescaleIntercept = -10
ds.add_new(0x00189087, 'FD', 800.0)
ds.add_new(0x00190010, 'LO', "SIEMENS MR HEADER")
ds.add_new(0x0019100C, 'IS', 1000)
ds.add_new(0x00291010, 'OB', b"SECRET PHI BYTES")
image(ds, 7, 5, 16, False, pixels16(7, 5, False))
save(ds, "mr_le.dcm")
for name, elems in [("b_siemens.dcm", [(0x00190010, 'LO', "SIEMENS MR HEADER"), (0x0019100C, 'IS', 1000)]),
                    ("b_ge.dcm", [(0x00430010, 'LO', "GEMS_PARM_01"), (0x00431039, 'IS', [1000000700, 8, 0, 0])]),
                    ("b_philips.dcm", [(0x20010010, 'LO', "Philips Imaging DD 001"), (0x20011003, 'FL', 300.0)]),
                    ("b_other.dcm", [(0x00190010, 'LO', "HITACHI MEDICAL"), (0x001910B0, 'DS', "450")]),
                    ("b_ge_block.dcm", [(0x00190010, 'LO', "GEMS_ACQU_01"), (0x001910B0, 'DS', "999")]),
                    ("b_none.dcm", [])]:
    ds = base(MR, "MR")
    for tag, vr, value in elems: ds.add_new(tag, vr, value)
    image(ds, 2, 2, 16, False, pixels16(2, 2, False))
    save(ds, name)
ds = base(CT, "CT")
ds.RescaleSlope = 1; ds.RescaleIntercept = -1024
image(ds, 6, 9, 16, True, pixels16(6, 9, True))
save(ds, "ct_signed.dcm")
ds = base(CT, "CT")
image(ds, 2, 2, 16, True, struct.pack('<4H', *[(v & 0x0FFF) | 0xA000 for v in (0xFFB, 0x005, 0x800, 0x7FF)]))
ds.BitsStored = 12; ds.HighBit = 11
save(ds, "ct_12bit.dcm")
ds = base("1.2.840.10008.5.1.4.1.1.7", "OT")
ds.Rows = 2; ds.Columns = 2; ds.SamplesPerPixel = 3; ds.PhotometricInterpretation = "RGB"
ds.PlanarConfiguration = 0; ds.BitsAllocated = 8; ds.BitsStored = 8; ds.HighBit = 7; ds.PixelRepresentation = 0
ds.PixelData = bytes([255, 0, 0, 0, 255, 0, 0, 0, 255, 100, 150, 200])
save(ds, "rgb.dcm")
ds = base(MR, "MR")
image(ds, 4, 3, 16, False, b"".join(pixels16(4, 3, False, f) for f in range(3)), frames=3)
save(ds, "multi_classic.dcm")
ds = base(EMR, "MR")
del ds.ImagePositionPatient; del ds.ImageOrientationPatient; del ds.PixelSpacing; del ds.SliceThickness
shared = Dataset()
pm = Dataset(); pm.PixelSpacing = [0.8, 0.9]; pm.SliceThickness = 2.5; pm.SpacingBetweenSlices = 2.5
shared.PixelMeasuresSequence = Sequence([pm])
po = Dataset(); po.ImageOrientationPatient = [1, 0, 0, 0, 0, -1]
shared.PlaneOrientationSequence = Sequence([po])
tm = Dataset(); tm.RepetitionTime = 3000; tm.FlipAngle = 90
shared.MRTimingAndRelatedParametersSequence = Sequence([tm])
ds.SharedFunctionalGroupsSequence = Sequence([shared])
frames = []
for f in range(3):
    fg = Dataset()
    pp = Dataset(); pp.ImagePositionPatient = [5.0, 2.5 * f, -7.5]
    fg.PlanePositionSequence = Sequence([pp])
    ec = Dataset(); ec.EffectiveEchoTime = 10.0 * (f + 1)
    fg.MREchoSequence = Sequence([ec])
    df = Dataset(); df.DiffusionBValue = 500.0 * f; df.DiffusionDirectionality = "NONE"
    fg.MRDiffusionSequence = Sequence([df])
    fc = Dataset(); fc.FrameAcquisitionDateTime = "20240102101530.5"; fc.TemporalPositionIndex = f + 1
    fg.FrameContentSequence = Sequence([fc])
    frames.append(fg)
ds.PerFrameFunctionalGroupsSequence = Sequence(frames)
image(ds, 4, 3, 16, False, b"".join(pixels16(4, 3, False, f) for f in range(3)), frames=3)
save(ds, "multi_enhanced.dcm")
ds = base(MR, "MR")
ds.add_new(0x00190010, 'LO', "SIEMENS MR HEADER")
ds.add_new(0x0019100A, 'US', 4)
ds.ImagePositionPatient = [-100, -50, 10]
ds.PixelSpacing = [2.0, 3.0]
ds.SpacingBetweenSlices = 4.0
image(ds, 6, 4, 16, False, pixels16(6, 4, False))
save(ds, "mosaic.dcm")
)PY";

int32_t expectedPixel(int row, int column, bool isSigned, int frame = 0) {
  const int value = (row * 37 + column * 1013 + frame * 5000 + 11) % 65536;
  return isSigned ? value - 32768 : value;
}

std::string g_folder;  // the fixtures of this run

std::string fixture(const std::string& name) { return g_folder + "/" + name; }
std::wstring wide(const std::string& path) { return twk::fromUtf8(path); }

int shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string capture(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  pclose(pipe);
  return output;
}

std::string dump(const std::string& path) { return capture("dcmdump -q +L '" + path + "'"); }

// The value shown by dcmdump for a top-level tag ("0018,0081", lower case): the text in brackets, the
// name after '=' of a UID, the number of a binary element, "" for an empty one, "<absent>" when missing.
std::string dumpValue(const std::string& text, const std::string& tag) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("(" + tag + ")", 0) != 0 || line.size() < 16) continue;
    const std::string value = line.substr(15);
    if (value[0] == '[') return value.substr(1, value.find(']') - 1);
    if (value.rfind("(no value available)", 0) == 0) return "";
    if (value[0] == '(') return "?";
    const size_t start = value[0] == '=' ? 1 : 0;
    return value.substr(start, value.find(' ') - start);
  }
  return "<absent>";
}

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Image {
  int width = 0, height = 0;
  bool isSigned = false;
  std::vector<int32_t> values;
};

bool readImage(const std::string& path, Image& image) {
  int32_t* pixels = nullptr;
  if (!TWKDCM_GetImage(wide(path).c_str(), &image.width, &image.height, &pixels, &image.isSigned)) return false;
  image.values.assign(pixels, pixels + int64_t(image.width) * image.height);
  pf_free(&pixels);
  return true;
}

struct Header {
  DCMFF* handle = nullptr;
  explicit Header(const std::string& path) : handle(TWKDCM_LoadDcmFF(wide(path).c_str())) {}
  explicit Header(DCMFF* h) : handle(h) {}
  ~Header() { TWKDCM_DeleteFF(&handle); }
  Header(const Header&) = delete;
  Header& operator=(const Header&) = delete;
};

std::wstring takeString(wchar_t* text) {
  std::wstring result = text ? text : L"<null>";
  pf_free(&text);
  return result;
}

class TwkDicomTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_folder = twk::testing::testFolder("twkdicom").string();
    const std::string script = fixture("make_fixtures.py");
    std::ofstream(script) << kFixtureScript;
    ASSERT_EQ(shell("/usr/bin/python3 '" + script + "' '" + g_folder + "'"), 0) << "pydicom fixtures";
    const struct { const char* tool; const char* from; const char* to; } conversions[] = {
        {"dcmconv +tb", "mr_le.dcm", "mr_be.dcm"},       {"dcmconv +td", "mr_le.dcm", "mr_deflated.dcm"},
        {"dcmconv +ti", "mr_le.dcm", "mr_implicit.dcm"}, {"dcmcjpls", "mr_le.dcm", "mr_jpegls.dcm"},
        {"dcmcrle", "mr_le.dcm", "mr_rle.dcm"},          {"dcmcjpeg +e1", "mr_le.dcm", "mr_jpeg.dcm"},
        {"dcmcjpls", "ct_signed.dcm", "ct_jpegls.dcm"},  {"dcmcrle", "ct_signed.dcm", "ct_rle.dcm"},
        {"dcmconv +tb", "ct_signed.dcm", "ct_be.dcm"},   {"dcmconv +ti", "b_siemens.dcm", "b_siemens_implicit.dcm"},
        {"dcmcrle", "multi_classic.dcm", "multi_rle.dcm"},   {"dcmconv +ti", "b_philips.dcm", "b_philips_implicit.dcm"},
        {"dcmconv +ti", "mosaic.dcm", "mosaic_implicit.dcm"},
    };
    for (const auto& c : conversions)
      ASSERT_EQ(shell(std::string(c.tool) + " '" + fixture(c.from) + "' '" + fixture(c.to) + "'"), 0) << c.tool << " " << c.to;
    ASSERT_TRUE(TWKDCM_Initialize());
  }

  static void TearDownTestSuite() {
    TWKDCM_Shutdown();
    std::error_code error;
    fs::remove_all(g_folder, error);
  }

  void SetUp() override {
    work_ = fixture(std::string("work_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(work_);
  }

  // A copy of a fixture that the test may change.
  std::string copy(const std::string& name) {
    const std::string target = work_ + "/" + name;
    fs::copy_file(fixture(name), target, fs::copy_options::overwrite_existing);
    return target;
  }

  twk::ScriptedUi ui_;
  twk::ScopedUi installed_{ui_};
  std::string work_;
};

// ------------------------------------------------------------------------------------------------
// Pixels

TEST_F(TwkDicomTest, GetImageGivesTheSamePixelsInEveryTransferSyntax) {
  const struct { const char* file; const char* syntax; } cases[] = {
      {"mr_le.dcm", "Little Endian Explicit"},   {"mr_be.dcm", "Big Endian Explicit"},
      {"mr_deflated.dcm", "Deflated Explicit VR Little Endian"}, {"mr_implicit.dcm", "Little Endian Implicit"},
      {"mr_jpegls.dcm", "JPEG-LS Lossless"},     {"mr_rle.dcm", "RLE Lossless"},
      {"mr_jpeg.dcm", "JPEG Lossless, Non-hierarchical, 1st Order Prediction"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Image image;
    ASSERT_TRUE(readImage(fixture(c.file), image));
    ASSERT_EQ(image.width, 5);
    ASSERT_EQ(image.height, 7);
    EXPECT_FALSE(image.isSigned);
    for (int r = 0; r < 7; ++r)
      for (int col = 0; col < 5; ++col) ASSERT_EQ(image.values[size_t(r * 5 + col)], expectedPixel(r, col, false)) << r << "," << col;
    int64_t size = 0;
    CString syntax;
    ASSERT_TRUE(TWKDCM_GetPixelDataInfo(wide(fixture(c.file)).c_str(), &size, &syntax));
    EXPECT_EQ(syntax, CString(c.syntax));
    if (std::string(c.file) == "mr_le.dcm") { EXPECT_EQ(size, 7 * 5 * 2); }
    EXPECT_GT(size, 0);
  }
}

TEST_F(TwkDicomTest, SignedMaskedAndColourPixels) {
  for (const char* file : {"ct_signed.dcm", "ct_jpegls.dcm", "ct_rle.dcm", "ct_be.dcm"}) {
    SCOPED_TRACE(file);
    Image image;
    ASSERT_TRUE(readImage(fixture(file), image));
    ASSERT_EQ(image.width, 9);
    EXPECT_TRUE(image.isSigned);
    for (int r = 0; r < 6; ++r)
      for (int col = 0; col < 9; ++col) ASSERT_EQ(image.values[size_t(r * 9 + col)], expectedPixel(r, col, true));
  }
  // 12 stored bits with other bits set above the high bit: the value is the sign-extended 12 bits.
  Image masked;
  ASSERT_TRUE(readImage(fixture("ct_12bit.dcm"), masked));
  EXPECT_EQ(masked.values, (std::vector<int32_t>{-5, 5, -2048, 2047}));

  Image rgb;
  ASSERT_TRUE(readImage(fixture("rgb.dcm"), rgb));
  EXPECT_FALSE(rgb.isSigned);
  EXPECT_EQ(rgb.values, (std::vector<int32_t>{76, 150, 29, 141}));  // 0.299 R + 0.587 G + 0.114 B
}

TEST_F(TwkDicomTest, BadFilesGiveNullOrFalse) {
  const std::string source = fixture("mr_le.dcm");
  const auto whole = fs::file_size(source);
  std::ifstream in(source, std::ios::binary);
  std::vector<char> bytes(whole);
  in.read(bytes.data(), std::streamsize(whole));
  auto write = [&](const std::string& name, size_t length) {
    const std::string path = work_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(length));
    return path;
  };
  const std::string inHeader = write("cut_header.dcm", 400);
  const std::string inPixels = write("cut_pixels.dcm", whole - 20);
  const std::string empty = write("empty.dcm", 0);
  const std::string text = work_ + "/notes.txt";
  std::ofstream(text) << "This is not a DICOM file, only text that goes on for a while.\n";
  const std::string missing = work_ + "/missing.dcm";

  for (const std::string& path : {inHeader, empty, text, missing, work_}) {
    SCOPED_TRACE(path);
    Header header(path);
    EXPECT_EQ(header.handle, nullptr);
    Image image;
    EXPECT_FALSE(readImage(path, image));
    int64_t size = 0;
    CString syntax;
    EXPECT_FALSE(TWKDCM_GetPixelDataInfo(wide(path).c_str(), &size, &syntax));
  }
  // The header is whole when only pixel data are missing; the pixels are not.
  Header header(inPixels);
  EXPECT_NE(header.handle, nullptr);
  Image image;
  EXPECT_FALSE(readImage(inPixels, image));
  EXPECT_TRUE(ui_.messages.empty());  // queries stay silent
}

TEST_F(TwkDicomTest, DamagedFilesNeverCrash) {
  // Random bytes overwritten and files cut short, the same every run: every call must return
  // cleanly, whatever it returns.
  std::mt19937 random(20240102);
  const std::string damaged = work_ + "/damaged.dcm";
  for (const char* name : {"mr_le.dcm", "mr_jpegls.dcm", "mr_rle.dcm", "mr_jpeg.dcm", "multi_enhanced.dcm"}) {
    std::ifstream in(fixture(name), std::ios::binary);
    const std::vector<char> original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int round = 0; round < 100; ++round) {
      std::vector<char> bytes = original;
      for (int k = 1 + int(random() % 4); k > 0; --k) bytes[random() % bytes.size()] = char(random());
      if (round % 4 == 0) bytes.resize(random() % bytes.size());
      std::ofstream(damaged, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
      Header header(damaged);
      if (header.handle) {
        DCMNODE* tree = TWKDCM_CreateDCMNODE(header.handle);
        TWKDCM_DeleteDCMNODE(&tree);
        int64_t byteCount = 0;
        void* blob = TWKDCM_SaveHeaders(&header.handle, 1, &byteCount);
        DCMFF** back = blob ? TWKDCM_LoadHeaders(blob, byteCount, 1) : nullptr;
        TWKDCM_DeleteFFarr(&back, 1);
        pf_free(&blob);
      }
      Image image;
      readImage(damaged, image);
      TWKDCM_SplitMultiframeFile(wide(damaged).c_str(), wide(work_ + "/split").c_str(), nullptr, false, false);
    }
  }
  EXPECT_TRUE(ui_.messages.empty());
}

// ------------------------------------------------------------------------------------------------
// Values

TEST_F(TwkDicomTest, AcquisitionValuesInTheirUnits) {
  Header mr(fixture("mr_le.dcm"));
  ASSERT_NE(mr.handle, nullptr);
  double value = 0;
  ASSERT_TRUE(TWKDCM_GetTE(mr.handle, &value));
  EXPECT_DOUBLE_EQ(value, 0.02);
  ASSERT_TRUE(TWKDCM_GetTR(mr.handle, &value));
  EXPECT_DOUBLE_EQ(value, 0.5);
  ASSERT_TRUE(TWKDCM_GetFlipAngle(mr.handle, &value));
  EXPECT_DOUBLE_EQ(value, 15);
  ASSERT_TRUE(TWKDCM_GetAcquisitionTime(mr.handle, &value));
  EXPECT_DOUBLE_EQ(value, 10 * 3600 + 15 * 60 + 30.25);
  ASSERT_TRUE(TWKDCM_GetAbsoluteTime(mr.handle, &value));
  EXPECT_DOUBLE_EQ(value, 19724.0 * 86400 + 36930.25);  // 2024-01-02 is day 19724 of the epoch

  DPOINT3D position;
  ASSERT_TRUE(TWKDCM_GetImagePosition(mr.handle, &position));
  EXPECT_DOUBLE_EQ(position.x, -10.5);
  EXPECT_DOUBLE_EQ(position.y, 20.25);
  EXPECT_DOUBLE_EQ(position.z, 30);
  double orientation[6];
  ASSERT_TRUE(TWKDCM_GetImageOrientation(mr.handle, orientation));
  EXPECT_EQ(orientation[4], 1);

  double slope = 0, intercept = 0;
  EXPECT_TRUE(TWKDCM_GetSlopeIntercept(mr.handle, &slope, &intercept));
  EXPECT_EQ(slope, 2);
  EXPECT_EQ(intercept, -10);
  Header noRescale(fixture("b_none.dcm"));
  EXPECT_FALSE(TWKDCM_GetSlopeIntercept(noRescale.handle, &slope, &intercept));
  EXPECT_EQ(slope, 1);
  EXPECT_EQ(intercept, 0);
  EXPECT_FALSE(TWKDCM_GetTE(noRescale.handle, &value));

  CString description, uid, id, sex, birth, date;
  ASSERT_TRUE(TWKDCM_GetStudyDescriptionAndUID(mr.handle, &description, &uid));
  EXPECT_EQ(description, CString(L"Brain study"));
  EXPECT_EQ(uid, CString(L"1.2.826.0.1.3680043.10.999.1"));
  ASSERT_TRUE(TWKDCM_GetPatientInfo(mr.handle, &id, &sex, &birth));
  EXPECT_EQ(id, CString(L"PID123"));
  EXPECT_EQ(sex, CString(L"M"));
  EXPECT_EQ(birth, CString(L"19700215"));
  ASSERT_TRUE(TWKDCM_GetGeneralDate(mr.handle, &date));
  EXPECT_EQ(date, CString(L"20240102"));
  int number = 0, modality = -1;
  ASSERT_TRUE(TWKDCM_GetSeriesNumber(mr.handle, &number));
  EXPECT_EQ(number, 7);
  ASSERT_TRUE(TWKDCM_GetImageIndex(mr.handle, &number));
  EXPECT_EQ(number, 3);
  ASSERT_TRUE(TWKDCM_GetModality(mr.handle, &modality));
  EXPECT_EQ(modality, 1);
  Header ct(fixture("ct_signed.dcm"));
  ASSERT_TRUE(TWKDCM_GetModality(ct.handle, &modality));
  EXPECT_EQ(modality, 0);

  // Generic reads: value numbers, sequence items and times of day.
  ASSERT_TRUE(TWKDCM_GetDouble(mr.handle, TWKDCM_TAG(0x0028, 0x0030), &value, 1));
  EXPECT_EQ(value, 0.75);
  EXPECT_FALSE(TWKDCM_GetDouble(mr.handle, TWKDCM_TAG(0x0028, 0x0030), &value, 2));
  EXPECT_FALSE(TWKDCM_GetDoubles(mr.handle, TWKDCM_TAG(0x0028, 0x0030), orientation, 3));
  CString other;
  ASSERT_TRUE(TWKDCM_GetSequenceString(mr.handle, TWKDCM_TAG(0x0010, 0x1002), 0, TWKDCM_TAG(0x0010, 0x0020), &other));
  EXPECT_EQ(other, CString(L"OTHER9"));
  EXPECT_FALSE(TWKDCM_GetSequenceString(mr.handle, TWKDCM_TAG(0x0010, 0x1002), 1, TWKDCM_TAG(0x0010, 0x0020), &other));
  EXPECT_FALSE(TWKDCM_GetSequenceString(mr.handle, TWKDCM_TAG(0x0010, 0x0020), 0, TWKDCM_TAG(0x0010, 0x0020), &other));
  ASSERT_TRUE(TWKDCM_GetTimeSeconds(mr.handle, TWKDCM_TAG(0x0008, 0x0031), &value));
  EXPECT_EQ(value, 36900);
  EXPECT_FALSE(TWKDCM_GetTimeSeconds(mr.handle, TWKDCM_TAG(0x0008, 0x0020), &value));  // a date is no time

  const struct { int code; const wchar_t* name; } names[] = {{0, L"CT"}, {1, L"MR"}, {2, L"PET"}, {3, nullptr}, {-1, nullptr}};
  for (const auto& n : names) {
    const wchar_t* name = TWKDCM_GetModalityName(n.code);
    if (n.name) {
      ASSERT_NE(name, nullptr);
      EXPECT_EQ(std::wstring(name), std::wstring(n.name));
    } else {
      EXPECT_EQ(name, nullptr);
    }
  }
}

TEST_F(TwkDicomTest, DiffusionBvalueFromTheStandardAndVendorElements) {
  const struct { const char* file; bool found; double b; } cases[] = {
      {"mr_le.dcm", true, 800},       // (0018,9087) wins over the vendor element
      {"b_siemens.dcm", true, 1000},  {"b_siemens_implicit.dcm", true, 1000},  // private value without a VR
      {"b_ge.dcm", true, 700},        // 1e9 offset removed
      {"b_philips.dcm", true, 300},   {"b_philips_implicit.dcm", true, 300},  {"b_other.dcm", true, 450},
      {"b_ge_block.dcm", false, 0},   // (0019,10B0) of GE's acquisition block is something else
      {"b_none.dcm", false, 0},       {"multi_enhanced.dcm", true, 0},  // first frame's functional group
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    Header header(fixture(c.file));
    ASSERT_NE(header.handle, nullptr);
    double b = -1;
    ASSERT_EQ(TWKDCM_GetDiffusionBvalue(header.handle, &b), c.found);
    if (c.found) { EXPECT_DOUBLE_EQ(b, c.b); }
  }
}

TEST_F(TwkDicomTest, ReplaceValuesInFilesKeepsPixelsAndTransferSyntax) {
  for (const char* name : {"mr_le.dcm", "mr_jpegls.dcm", "mr_be.dcm"}) {
    SCOPED_TRACE(name);
    const std::string path = copy(name);
    CString before;
    int64_t size = 0;
    ASSERT_TRUE(TWKDCM_GetPixelDataInfo(wide(path).c_str(), &size, &before));
    ASSERT_TRUE(TWKDCM_ReplaceTEval(wide(path).c_str(), 0.035));
    ASSERT_TRUE(TWKDCM_ReplaceDiffusionBvalue(wide(path).c_str(), 1500));
    Header header(path);
    double value = 0;
    ASSERT_TRUE(TWKDCM_GetTE(header.handle, &value));
    EXPECT_DOUBLE_EQ(value, 0.035);
    ASSERT_TRUE(TWKDCM_GetDiffusionBvalue(header.handle, &value));
    EXPECT_DOUBLE_EQ(value, 1500);
    const std::string text = dump(path);
    EXPECT_EQ(dumpValue(text, "0018,0081"), "35");
    EXPECT_EQ(dumpValue(text, "0019,100c"), "1500");  // the vendor element follows
    CString after;
    ASSERT_TRUE(TWKDCM_GetPixelDataInfo(wide(path).c_str(), &size, &after));
    EXPECT_EQ(after, before);
    Image image;
    ASSERT_TRUE(readImage(path, image));
    EXPECT_EQ(image.values[12], expectedPixel(2, 2, false));
    EXPECT_TRUE(fs::exists(path));
    for (const auto& entry : fs::directory_iterator(work_))
      EXPECT_EQ(entry.path().string().find(".twktmp"), std::string::npos) << "temporary file left behind";
  }
  // The GE element keeps its offset and its other values.
  const std::string ge = copy("b_ge.dcm");
  ASSERT_TRUE(TWKDCM_ReplaceDiffusionBvalue(wide(ge).c_str(), 50));
  EXPECT_EQ(dumpValue(dump(ge), "0043,1039"), "1000000050\\8\\0\\0");

  EXPECT_FALSE(TWKDCM_ReplaceTEval(wide(work_ + "/missing.dcm").c_str(), 0.01));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].Find(L"TWKDCM_ReplaceTEval : Cannot read"), -1);
  EXPECT_FALSE(TWKDCM_ReplaceTEval(wide(copy("mr_le.dcm")).c_str(), -1));
}

TEST_F(TwkDicomTest, SettersAndHeaderBytesRoundTrip) {
  Header first(fixture("mr_le.dcm"));
  Header second(fixture("ct_signed.dcm"));
  ASSERT_TRUE(TWKDCM_SetTE(first.handle, 0.0125));
  ASSERT_TRUE(TWKDCM_SetTR(first.handle, 2.5));
  ASSERT_TRUE(TWKDCM_SetFlipAngle(first.handle, 7.5));
  DPOINT3D position{1.25, -2.5, 1e-3};
  ASSERT_TRUE(TWKDCM_SetImagePosition(first.handle, &position));
  ASSERT_TRUE(TWKDCM_SetStudyDescriptionAndUID(first.handle, L"Combined study \u00e9", L"1.2.3.4"));
  EXPECT_FALSE(TWKDCM_SetStudyDescriptionAndUID(first.handle, L"x", L"not a uid"));
  ASSERT_TRUE(TWKDCM_SetSlopeIntercept(first.handle, 0.5, 3));
  ASSERT_TRUE(TWKDCM_SetTimeSeconds(first.handle, TWKDCM_TAG(0x0008, 0x0032), 86400 + 3661.5));
  ASSERT_TRUE(TWKDCM_SetImageIndex(first.handle, 141));
  ASSERT_TRUE(TWKDCM_SetString(first.handle, TWKDCM_TAG(0x0008, 0x1090), "Biograph_mMR"));
  ASSERT_TRUE(TWKDCM_SetInt(first.handle, TWKDCM_TAG(0x0054, 0x0101), 3));
  ASSERT_TRUE(TWKDCM_SetDiffusionBvalue(first.handle, 900));
  EXPECT_TRUE(TWKDCM_RemoveElement(first.handle, TWKDCM_TAG(0x0008, 0x0033)));
  EXPECT_FALSE(TWKDCM_RemoveElement(first.handle, TWKDCM_TAG(0x0008, 0x0033)));
  EXPECT_FALSE(TWKDCM_SetString(first.handle, TWKDCM_TAG(0x0029, 0x1234), "no creator"));

  DCMFF* pair[2] = {first.handle, second.handle};
  int64_t byteCount = 0;
  void* bytes = TWKDCM_SaveHeaders(pair, 2, &byteCount);
  ASSERT_NE(bytes, nullptr);
  DCMFF** loaded = TWKDCM_LoadHeaders(bytes, byteCount, 2);
  ASSERT_NE(loaded, nullptr);
  double value = 0;
  ASSERT_TRUE(TWKDCM_GetTE(loaded[0], &value));
  EXPECT_DOUBLE_EQ(value, 0.0125);
  ASSERT_TRUE(TWKDCM_GetTR(loaded[0], &value));
  EXPECT_DOUBLE_EQ(value, 2.5);
  ASSERT_TRUE(TWKDCM_GetFlipAngle(loaded[0], &value));
  EXPECT_DOUBLE_EQ(value, 7.5);
  DPOINT3D readBack;
  ASSERT_TRUE(TWKDCM_GetImagePosition(loaded[0], &readBack));
  EXPECT_DOUBLE_EQ(readBack.z, 1e-3);
  CString description, uid, text;
  ASSERT_TRUE(TWKDCM_GetStudyDescriptionAndUID(loaded[0], &description, &uid));
  EXPECT_EQ(description, CString(L"Combined study \u00e9"));
  EXPECT_EQ(uid, CString(L"1.2.3.4"));
  double slope = 0, intercept = 0;
  ASSERT_TRUE(TWKDCM_GetSlopeIntercept(loaded[0], &slope, &intercept));
  EXPECT_EQ(slope, 0.5);
  EXPECT_EQ(intercept, 3);
  ASSERT_TRUE(TWKDCM_GetString(loaded[0], TWKDCM_TAG(0x0008, 0x0032), &text));
  EXPECT_EQ(text, CString(L"010101.500000"));  // the day wraps
  ASSERT_TRUE(TWKDCM_GetAcquisitionTime(loaded[0], &value));
  EXPECT_DOUBLE_EQ(value, 3661.5);
  int index = 0;
  ASSERT_TRUE(TWKDCM_GetImageIndex(loaded[0], &index));
  EXPECT_EQ(index, 141);
  ASSERT_TRUE(TWKDCM_GetString(loaded[0], TWKDCM_TAG(0x0008, 0x1090), &text));
  EXPECT_EQ(text, CString(L"Biograph_mMR"));
  int64_t slices = 0;
  ASSERT_TRUE(TWKDCM_GetInt(loaded[0], TWKDCM_TAG(0x0054, 0x0101), &slices));
  EXPECT_EQ(slices, 3);
  ASSERT_TRUE(TWKDCM_GetDiffusionBvalue(loaded[0], &value));
  EXPECT_EQ(value, 900);
  EXPECT_FALSE(TWKDCM_GetString(loaded[0], TWKDCM_TAG(0x0008, 0x0033), &text));
  int modality = -1;
  ASSERT_TRUE(TWKDCM_GetModality(loaded[1], &modality));
  EXPECT_EQ(modality, 0);
  TWKDCM_DeleteFFarr(&loaded, 2);
  EXPECT_EQ(loaded, nullptr);

  // Short or damaged bytes never give headers.
  EXPECT_EQ(TWKDCM_LoadHeaders(bytes, byteCount, 3), nullptr);
  EXPECT_EQ(TWKDCM_LoadHeaders(bytes, byteCount - 10, 2), nullptr);
  EXPECT_EQ(TWKDCM_LoadHeaders(bytes, 4, 1), nullptr);
  std::vector<uint8_t> garbage(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + byteCount);
  garbage[0] = 0xFF;  // a length far beyond the block
  garbage[7] = 0x7F;
  EXPECT_EQ(TWKDCM_LoadHeaders(garbage.data(), byteCount, 2), nullptr);
  pf_free(&bytes);
}

TEST_F(TwkDicomTest, HeaderBytesOfEveryFixtureReadBack) {
  // The stored form is Explicit VR Little Endian whatever the file was; the check of the stored
  // lengths must accept every header the library writes.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(g_folder)) {
    if (entry.path().extension() != ".dcm") continue;
    SCOPED_TRACE(entry.path().filename().string());
    Header header(entry.path().string());
    ASSERT_NE(header.handle, nullptr);
    int64_t byteCount = 0;
    void* bytes = TWKDCM_SaveHeaders(&header.handle, 1, &byteCount);
    ASSERT_NE(bytes, nullptr);
    DCMFF** back = TWKDCM_LoadHeaders(bytes, byteCount, 1);
    EXPECT_NE(back, nullptr);
    TWKDCM_DeleteFFarr(&back, 1);
    pf_free(&bytes);
    ++files;
  }
  EXPECT_GE(files, 20);
}

TEST_F(TwkDicomTest, DamagedLengthsInHeaderBytesTakeNoMemory) {
  // Each case sets one declared length of a stored header far beyond the bytes: the header is
  // refused before any memory of that size is asked for.
  Header header(fixture("mr_le.dcm"));
  ASSERT_TRUE(TWKDCM_SetString(header.handle, TWKDCM_TAG(0x0040, 0xA160), "free text"));  // a UT element
  int64_t byteCount = 0;
  auto* bytes = static_cast<uint8_t*>(TWKDCM_SaveHeaders(&header.handle, 1, &byteCount));
  ASSERT_NE(bytes, nullptr);
  const std::vector<uint8_t> sound(bytes, bytes + byteCount);
  pf_free(&bytes);
  constexpr size_t kModest = size_t(1) << 20;

  const struct {
    const char* what;
    std::vector<uint8_t> element;  // the bytes that start the element
    int lengthAt, lengthBytes;
  } cases[] = {
      {"meta OB", {0x02, 0x00, 0x01, 0x00, 'O', 'B'}, 8, 4},
      {"text UT", {0x40, 0x00, 0x60, 0xA1, 'U', 'T'}, 8, 4},
      {"sequence", {0x10, 0x00, 0x02, 0x10, 'S', 'Q'}, 8, 4},
      {"item", {0xFE, 0xFF, 0x00, 0xE0}, 4, 4},
      {"short PN", {0x10, 0x00, 0x10, 0x00, 'P', 'N'}, 6, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> damaged = sound;
    const auto at = std::search(damaged.begin(), damaged.end(), c.element.begin(), c.element.end());
    ASSERT_NE(at, damaged.end());
    const uint32_t huge = c.lengthBytes == 4 ? 0xFFFFFFF0u : 0xFFF0u;
    std::memcpy(&*at + c.lengthAt, &huge, size_t(c.lengthBytes));
    g_largestNewRequest = 0;
    DCMFF** back = TWKDCM_LoadHeaders(damaged.data(), int64_t(damaged.size()), 1);
    EXPECT_EQ(back, nullptr);
    EXPECT_LT(g_largestNewRequest.load(), kModest);
    TWKDCM_DeleteFFarr(&back, 1);
  }

  // A header count that the bytes cannot hold is refused before its array is made.
  PR_ResetAllocMemInfo();
  EXPECT_EQ(TWKDCM_LoadHeaders(sound.data(), int64_t(sound.size()), int64_t(1) << 27), nullptr);
  uint64_t peak = 0, largest = 0;
  PR_GetAllocMemInfo(&peak, &largest, false);
  EXPECT_LT(largest, kModest);

  // The undamaged bytes still read.
  DCMFF** back = TWKDCM_LoadHeaders(sound.data(), int64_t(sound.size()), 1);
  EXPECT_NE(back, nullptr);
  TWKDCM_DeleteFFarr(&back, 1);
  EXPECT_TRUE(ui_.messages.empty());
}

// ------------------------------------------------------------------------------------------------
// Element trees

TEST_F(TwkDicomTest, ElementTreeOfAHeader) {
  Header header(fixture("mr_le.dcm"));
  DCMNODE* root = TWKDCM_CreateDCMNODE(header.handle);
  ASSERT_NE(root, nullptr);
  const DCMNODE* echo = TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0018, 0x0081));
  ASSERT_NE(echo, nullptr);
  const std::wstring text = echo->text;
  EXPECT_EQ(text.substr(text.size() - 9), L"0018,0081");
  EXPECT_EQ(text.substr(0, text.size() - 12), L"EchoTime");
  EXPECT_EQ(echo->vr, TWKDCM_VR('D', 'S'));
  EXPECT_EQ(takeString(TWKDCM_GetValueToString(echo)), L"20.0");  // as stored
  EXPECT_EQ(takeString(TWKDCM_GetFirstConvertVal(echo)), L"20");

  const DCMNODE* position = TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0020, 0x0032));
  EXPECT_EQ(takeString(TWKDCM_GetValueToString(position)), L"-10.5\\20.25\\30.0");
  EXPECT_EQ(takeString(TWKDCM_GetFirstConvertVal(position)), L"-10.5");
  EXPECT_EQ(takeString(TWKDCM_GetFirstConvertVal(TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0028, 0x0010)))), L"7");

  const DCMNODE* sequence = TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0008, 0x1140));
  ASSERT_NE(sequence, nullptr);
  ASSERT_EQ(sequence->numChildren, 1u);
  EXPECT_EQ(sequence->children[0]->tag, TWKDCM_TAG(0xFFFE, 0xE000));
  EXPECT_EQ(takeString(TWKDCM_GetValueToString(sequence)), L"<null>");
  // Search goes into sequences when the top level has no such element.
  const DCMNODE* referenced = TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0008, 0x1155));
  ASSERT_NE(referenced, nullptr);
  EXPECT_EQ(takeString(TWKDCM_GetValueToString(referenced)), L"1.2.826.0.1.3680043.10.999.3.9");
  // The top-level element is found before the one inside a sequence.
  EXPECT_EQ(takeString(TWKDCM_GetValueToString(TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0010, 0x0020)))), L"PID123");
  EXPECT_EQ(TWKDCM_FindDCMNODE(root, TWKDCM_TAG(0x0018, 0x0082)), nullptr);
  EXPECT_EQ(TWKDCM_GetFirstConvertVal(nullptr), nullptr);
  TWKDCM_DeleteDCMNODE(&root);
  EXPECT_EQ(root, nullptr);

  CString name;
  ASSERT_TRUE(TWKDCM_GetTagName(TWKDCM_TAG(0x0010, 0x0010), &name));
  EXPECT_EQ(name, CString(L"PatientName"));
  EXPECT_FALSE(TWKDCM_GetTagName(TWKDCM_TAG(0x0029, 0x1234), &name));
}

TEST_F(TwkDicomTest, BasicHeaderFromABuiltTree) {
  auto text = [](uint32_t tag, const char* vr, const std::string& value) {
    return TWKDCM_NewDCMNODE(tag, TWKDCM_VR(vr[0], vr[1]), value.data(), int64_t(value.size()));
  };
  DCMNODE* root = TWKDCM_NewDCMNODE(0, 0, nullptr, 0);
  ASSERT_NE(root, nullptr);
  const uint16_t rows = 512;
  DCMNODE* binary = TWKDCM_NewDCMNODE(TWKDCM_TAG(0x0028, 0x0010), TWKDCM_VR('U', 'S'), &rows, 2);
  ASSERT_NE(binary, nullptr);
  EXPECT_EQ(takeString(TWKDCM_GetValueToString(binary)), L"512");
  EXPECT_EQ(TWKDCM_NewDCMNODE(TWKDCM_TAG(0x0029, 0x1234), TWKDCM_VR('L', 'O'), "x", 1), nullptr);
  for (DCMNODE* node : {binary, text(TWKDCM_TAG(0x0020, 0x000D), "UI", "1.2.3"),
                        text(TWKDCM_TAG(0x0020, 0x000E), "UI", "1.2.3.4"), text(TWKDCM_TAG(0x0010, 0x0010), "PN", "Roe^Jane"),
                        text(TWKDCM_TAG(0x0010, 0x0020), "LO", "ID7 "), text(TWKDCM_TAG(0x0020, 0x0037), "DS", "1\\0\\0\\0\\0\\-1"),
                        text(TWKDCM_TAG(0x0028, 0x0030), "DS", "0.9\\0.8"), text(TWKDCM_TAG(0x0018, 0x0050), "DS", "3"),
                        text(TWKDCM_TAG(0x0018, 0x0080), "DS", "450")})
    ASSERT_TRUE(TWKDCM_AddDCMNODEchild(root, node));

  // Without a modality there is no header.
  EXPECT_EQ(TWKDCM_CreateBasicDCMFF(root, 64, 32, 16, 1, 4, nullptr), nullptr);
  ASSERT_TRUE(TWKDCM_AddDCMNODEchild(root, text(TWKDCM_TAG(0x0008, 0x0060), "CS", "MR")));
  DYNCRD dyn;
  dyn.echoTime = 0.03;
  dyn.flipAngle = 12;
  dyn.time = 3600;
  dyn.inversionTime = dyn.repetitionTime = dyn.bValue = 1e60;
  Header header(TWKDCM_CreateBasicDCMFF(root, 64, 32, 16, 1, 4, &dyn));
  ASSERT_NE(header.handle, nullptr);
  TWKDCM_DeleteDCMNODE(&root);

  const std::string path = work_ + "/basic.dcm";
  // dcmdump reads what the header holds, written through the bytes form.
  int64_t byteCount = 0;
  DCMFF* one[1] = {header.handle};
  void* bytes = TWKDCM_SaveHeaders(one, 1, &byteCount);
  ASSERT_NE(bytes, nullptr);
  std::ofstream(path, std::ios::binary).write(static_cast<char*>(bytes) + 8, std::streamsize(byteCount - 8));
  pf_free(&bytes);
  const std::string text8 = dump(path);
  const struct { const char* tag; const char* value; } expected[] = {
      {"0020,000d", "1.2.3"},         {"0010,0010", "Roe^Jane"},          {"0010,0020", "ID7"},
      {"0008,0018", ""},              {"0020,0032", "0\\0\\0"},           {"0020,0037", "1\\0\\0\\0\\0\\-1"},
      {"0028,0030", "0.9\\0.8"},      {"0018,0088", "3"},                 {"0018,0050", "3"},
      {"0028,0010", "32"},            {"0028,0011", "64"},                {"0028,0100", "16"},
      {"0020,0100", "2"},             {"0020,0013", "5"},                 {"0018,0081", "30"},
      {"0018,1314", "12"},            {"0008,0032", "010000.000000"},     {"0018,0080", "450"},
      {"0018,9087", "<absent>"},
  };
  for (const auto& e : expected) EXPECT_EQ(dumpValue(text8, e.tag), e.value) << e.tag;
}

// ------------------------------------------------------------------------------------------------
// Protected health information

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(TwkDicomTest, ProfileDefaultsSaveAndLoad) {
  EXPECT_FALSE(TWKDCM_SetPHItags(wide(work_ + "/TarnwickPHIprofile.txt").c_str()));  // absent: default
  EXPECT_TRUE(ui_.messages.empty());
  const std::string saved = work_ + "/CurrPHIprofile.txt";
  ASSERT_TRUE(TWKDCM_SaveCurrentPHIprofile(wide(saved).c_str()));
  const std::vector<std::string> lines = readLines(saved);
  const std::set<std::string> rules(lines.begin(), lines.end());
  for (const char* rule : {"(0010,0010) empty", "(0010,0020) empty", "(0010,0030) empty", "(0010,1040) remove",
                           "(0008,0080) remove", "(0008,0090) empty", "(0008,1050) remove", "(0008,0020) empty",
                           "(0008,0021) remove", "(0020,000D) replace", "(0020,000E) replace", "(0008,0018) replace",
                           "(0020,0052) replace", "(0008,1155) replace", "(60xx,3000) remove", "private remove"})
    EXPECT_EQ(rules.count(rule), 1u) << rule;

  // What is saved loads back as the same profile.
  ASSERT_TRUE(TWKDCM_SetPHItags(wide(saved).c_str()));
  const std::string again = work_ + "/again.txt";
  ASSERT_TRUE(TWKDCM_SaveCurrentPHIprofile(wide(again).c_str()));
  EXPECT_EQ(readLines(again), lines);

  // A profile of our own, with a replacement value, a keep and private elements kept.
  const std::string own = work_ + "/own.txt";
  std::ofstream(own) << "# own\n\n(0010,0010) replace Nobody Known\n(0010,0020) remove\n(0008,0080) keep\nprivate keep\r\n";
  ASSERT_TRUE(TWKDCM_SetPHItags(wide(own).c_str()));
  ASSERT_TRUE(TWKDCM_SaveCurrentPHIprofile(wide(again).c_str()));
  EXPECT_EQ(readLines(again).back(), "private keep");
  Header header(fixture("mr_le.dcm"));
  ASSERT_TRUE(TWKDCM_DeidentifyFF(header.handle));
  CString value;
  ASSERT_TRUE(TWKDCM_GetString(header.handle, TWKDCM_TAG(0x0010, 0x0010), &value));
  EXPECT_EQ(value, CString(L"Nobody Known"));
  EXPECT_FALSE(TWKDCM_GetString(header.handle, TWKDCM_TAG(0x0010, 0x0020), &value));
  ASSERT_TRUE(TWKDCM_GetString(header.handle, TWKDCM_TAG(0x0008, 0x0080), &value));
  EXPECT_EQ(value, CString(L"General Hospital"));
  ASSERT_TRUE(TWKDCM_GetString(header.handle, TWKDCM_TAG(0x0019, 0x100C), &value));  // private kept
  ASSERT_TRUE(TWKDCM_GetString(header.handle, TWKDCM_TAG(0x0012, 0x0062), &value));
  EXPECT_EQ(value, CString(L"YES"));

  // A bad line is reported and leaves the default profile in force.
  const struct { const char* line; } bad[] = {{"(0010,0010) scramble"}, {"(0010,001) remove"}, {"(0010,0010) remove now"},
                                               {"private maybe"}, {"0010,0010 remove"}};
  for (const auto& b : bad) {
    SCOPED_TRACE(b.line);
    ui_.clear();
    std::ofstream(own) << "(0010,0020) keep\n" << b.line << "\n";
    EXPECT_FALSE(TWKDCM_SetPHItags(wide(own).c_str()));
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].Find(L"Invalid line 2"), -1);
    ASSERT_TRUE(TWKDCM_SaveCurrentPHIprofile(wide(again).c_str()));
    EXPECT_EQ(readLines(again), lines);
  }
  EXPECT_FALSE(TWKDCM_SaveCurrentPHIprofile(wide(work_ + "/no/such/folder/p.txt").c_str()));
}

TEST_F(TwkDicomTest, DeidentificationRemovesEveryProfileAttribute) {
  TWKDCM_SetPHItags(nullptr);  // default profile
  const std::string profile = work_ + "/profile.txt";
  ASSERT_TRUE(TWKDCM_SaveCurrentPHIprofile(wide(profile).c_str()));

  Header original(fixture("mr_le.dcm"));
  CString** records = nullptr;
  int64_t count = 0;
  ASSERT_TRUE(TWKDCM_ExtractPHIrecords(original.handle, &records, &count));
  std::set<std::wstring> found;
  for (int64_t i = 0; i < count; ++i) found.insert(records[i]->wstr());
  EXPECT_EQ(found.count(L"(0010,0010) PatientName : Doe^John"), 1u);
  EXPECT_EQ(found.count(L"(0008,0080) InstitutionName : General Hospital"), 1u);
  EXPECT_EQ(found.count(L"(0020,000D) StudyInstanceUID : 1.2.826.0.1.3680043.10.999.1"), 1u);
  EXPECT_EQ(found.count(L"(0010,1002) OtherPatientIDsSequence : 1 item(s)"), 1u);
  EXPECT_EQ(found.count(L"(private) Private elements : 3"), 1u);
  for (int64_t i = 0; i < count; ++i) delete records[i];
  pf_free(&records);

  const std::string source = fixture("mr_le.dcm");
  const std::string target = work_ + "/anonymous.dcm";
  const std::string second = work_ + "/anonymous_rle.dcm";
  ASSERT_TRUE(TWKDCM_DeidentifyFile(wide(source).c_str(), wide(target).c_str()));
  ASSERT_TRUE(TWKDCM_DeidentifyFile(wide(fixture("mr_rle.dcm")).c_str(), wide(second).c_str()));
  const std::string before = dump(source);
  const std::string after = dump(target);
  ASSERT_NE(after.find("PixelData"), std::string::npos) << after;

  // Every rule of the profile, checked against dcmdump's reading of the result.
  const std::regex rule(R"(\(([0-9A-F]{4}),([0-9A-F]{4})\) (remove|empty|replace))");
  int checked = 0;
  for (const std::string& line : readLines(profile)) {
    std::smatch m;
    if (!std::regex_match(line, m, rule)) continue;
    const std::string tag = lower(m[1].str() + "," + m[2].str());
    const std::string was = dumpValue(before, tag), now = dumpValue(after, tag);
    if (was == "<absent>") continue;
    SCOPED_TRACE(line);
    ++checked;
    if (m[3] == "remove") { EXPECT_EQ(now, "<absent>"); }
    if (m[3] == "empty") { EXPECT_TRUE(now == "" || now == "<absent>") << now; }
    if (m[3] == "replace") { EXPECT_NE(now, was); }
  }
  EXPECT_GE(checked, 30);
  for (const char* secret : {"Doe^John", "PID123", "OTHER9", "General Hospital", "Who^Doctor", "Smith^Anna", "SN123",
                             "patient moved", "1.2.826.0.1.3680043.10.999", "(0019,", "(0029,", "20240102"})
    EXPECT_EQ(after.find(secret), std::string::npos) << secret;
  EXPECT_EQ(dumpValue(after, "0012,0062"), "YES");
  // Nested UIDs are replaced, not dropped.
  EXPECT_NE(after.find("ReferencedSOPInstanceUID"), std::string::npos);

  // The same old UID gives the same new one, so series stay together across files.
  const std::string other = dump(second);
  EXPECT_EQ(dumpValue(other, "0020,000e"), dumpValue(after, "0020,000e"));
  EXPECT_EQ(dumpValue(other, "0002,0010"), "RLELossless");
  Image image;
  ASSERT_TRUE(readImage(second, image));
  EXPECT_EQ(image.values[34], expectedPixel(6, 4, false));

  Header anonymous(target);
  count = 0;
  ASSERT_TRUE(TWKDCM_ExtractPHIrecords(anonymous.handle, &records, &count));
  EXPECT_EQ(count, 0);
  pf_free(&records);

  // In place.
  const std::string inPlace = copy("ct_signed.dcm");
  ASSERT_TRUE(TWKDCM_DeidentifyFile(wide(inPlace).c_str(), nullptr));
  EXPECT_EQ(dump(inPlace).find("Doe^John"), std::string::npos);
  EXPECT_FALSE(TWKDCM_DeidentifyFile(wide(work_ + "/missing.dcm").c_str(), nullptr));
  EXPECT_EQ(ui_.messages.size(), 1u);
}

// ------------------------------------------------------------------------------------------------
// Multi-frame files and derived headers

TEST_F(TwkDicomTest, SplitClassicAndEnhancedMultiframeFiles) {
  const std::string classic = work_ + "/classic";
  const std::string fromRle = work_ + "/rle";
  ASSERT_TRUE(TWKDCM_SplitMultiframeFile(wide(fixture("multi_classic.dcm")).c_str(), wide(classic).c_str(), nullptr, true, true));
  ASSERT_TRUE(TWKDCM_SplitMultiframeFile(wide(fixture("multi_rle.dcm")).c_str(), wide(fromRle).c_str(), L"frame", true, true));
  std::set<std::string> uids;
  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(f);
    char name[32];
    std::snprintf(name, sizeof(name), "/multi_classic_%04d.dcm", f + 1);
    const std::string path = classic + name;
    ASSERT_EQ(shell("dcmdump '" + path + "'"), 0);
    const std::string text = dump(path);
    EXPECT_EQ(dumpValue(text, "0020,0013"), std::to_string(f + 1));
    EXPECT_EQ(dumpValue(text, "0028,0008"), "<absent>");
    EXPECT_EQ(dumpValue(text, "0002,0003"), dumpValue(text, "0008,0018"));
    uids.insert(dumpValue(text, "0008,0018"));
    for (const std::string& file : {path, fromRle + "/frame_000" + std::to_string(f + 1) + ".dcm"}) {
      Image image;
      ASSERT_TRUE(readImage(file, image)) << file;
      ASSERT_EQ(image.values.size(), 12u);
      EXPECT_EQ(image.values[7], expectedPixel(2, 1, false, f));
    }
  }
  EXPECT_EQ(uids.size(), 3u);
  EXPECT_EQ(uids.count("1.2.826.0.1.3680043.10.999.3.1"), 0u);

  const std::string enhanced = work_ + "/enhanced";
  ASSERT_TRUE(TWKDCM_SplitMultiframeFile(wide(fixture("multi_enhanced.dcm")).c_str(), wide(enhanced).c_str(), L"e", false, true));
  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(f);
    const std::string path = enhanced + "/e_000" + std::to_string(f + 1) + ".dcm";
    const std::string text = dump(path);
    EXPECT_EQ(dumpValue(text, "0008,0016"), "MRImageStorage");
    EXPECT_EQ(dumpValue(text, "5200,9230"), "<absent>");
    Header header(path);
    DPOINT3D position;
    ASSERT_TRUE(TWKDCM_GetImagePosition(header.handle, &position));
    EXPECT_DOUBLE_EQ(position.y, 2.5 * f);
    EXPECT_DOUBLE_EQ(position.z, -7.5);
    double value = 0, orientation[6];
    ASSERT_TRUE(TWKDCM_GetImageOrientation(header.handle, orientation));
    EXPECT_EQ(orientation[5], -1);
    ASSERT_TRUE(TWKDCM_GetTE(header.handle, &value));
    EXPECT_DOUBLE_EQ(value, 0.01 * (f + 1));
    EXPECT_EQ(dumpValue(text, "0018,0081"), std::to_string(10 * (f + 1)));
    ASSERT_TRUE(TWKDCM_GetDiffusionBvalue(header.handle, &value));
    EXPECT_DOUBLE_EQ(value, 500.0 * f);
    ASSERT_TRUE(TWKDCM_GetTR(header.handle, &value));
    EXPECT_DOUBLE_EQ(value, 3);
    EXPECT_EQ(dumpValue(text, "0028,0030"), "0.8\\0.9");
    EXPECT_EQ(dumpValue(text, "0008,0032"), "101530.5");
    Image image;
    ASSERT_TRUE(readImage(path, image));
    EXPECT_EQ(image.values[11], expectedPixel(3, 2, false, f));
  }
  // dcm2niix, an independent reader of geometry, stacks the split files into one volume of three
  // slices 2.5 mm apart along y (the echo times differ, so stacking is asked for).
  const std::string niftiFolder = work_ + "/nifti";
  fs::create_directories(niftiFolder);
  ASSERT_EQ(shell("dcm2niix -m y -z n -f vol -o '" + niftiFolder + "' '" + enhanced + "'"), 0);
  std::ifstream nifti(niftiFolder + "/vol.nii", std::ios::binary);
  ASSERT_TRUE(nifti.good());
  std::vector<char> head(352);
  nifti.read(head.data(), std::streamsize(head.size()));
  int16_t dims[4];
  std::memcpy(dims, head.data() + 40, sizeof(dims));
  EXPECT_EQ(dims[0], 3);
  EXPECT_EQ(dims[3], 3);
  float srowY[4];
  std::memcpy(srowY, head.data() + 296, sizeof(srowY));
  EXPECT_NEAR(std::fabs(srowY[2]), 2.5, 1e-5);

  // Single frames are copied or refused; other files are refused.
  const std::string single = work_ + "/single";
  EXPECT_TRUE(TWKDCM_SplitMultiframeFile(wide(fixture("mr_le.dcm")).c_str(), wide(single).c_str(), nullptr, true, false));
  EXPECT_TRUE(fs::exists(single + "/mr_le.dcm"));
  EXPECT_FALSE(TWKDCM_SplitMultiframeFile(wide(fixture("mr_le.dcm")).c_str(), wide(single).c_str(), nullptr, false, false));
  const std::string notes = work_ + "/notes.txt";
  std::ofstream(notes) << "not dicom\n";
  EXPECT_FALSE(TWKDCM_SplitMultiframeFile(wide(notes).c_str(), wide(single).c_str(), nullptr, true, false));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_FALSE(TWKDCM_SplitMultiframeFile(wide(notes).c_str(), wide(single).c_str(), nullptr, true, true));
  EXPECT_EQ(ui_.messages.size(), 1u);
}

TEST_F(TwkDicomTest, HeadersForNewGeometriesAndMosaics) {
  Header source(fixture("mr_le.dcm"));
  DIM3D dim;
  dim.w = 3;
  dim.h = 2;
  dim.d = 2;
  dim.t = 2;
  DCMFF* one[1] = {source.handle};
  DCMFF** headers = TWKDCM_CloneHeaderWithNewGeometryAndType(one, 1, &dim, FRM_REAL);
  ASSERT_NE(headers, nullptr);
  std::set<std::wstring> uids;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    int64_t value = 0;
    ASSERT_TRUE(TWKDCM_GetInt(headers[i], TWKDCM_TAG(0x0028, 0x0010), &value));
    EXPECT_EQ(value, 2);
    ASSERT_TRUE(TWKDCM_GetInt(headers[i], TWKDCM_TAG(0x0028, 0x0011), &value));
    EXPECT_EQ(value, 3);
    ASSERT_TRUE(TWKDCM_GetInt(headers[i], TWKDCM_TAG(0x0028, 0x0100), &value));
    EXPECT_EQ(value, 32);
    ASSERT_TRUE(TWKDCM_GetInt(headers[i], TWKDCM_TAG(0x0028, 0x0103), &value));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(TWKDCM_GetInt(headers[i], TWKDCM_TAG(0x0020, 0x0013), &value));
    EXPECT_EQ(value, i + 1);
    ASSERT_TRUE(TWKDCM_GetInt(headers[i], TWKDCM_TAG(0x0020, 0x0100), &value));
    EXPECT_EQ(value, i / 2 + 1);
    double slope = 0, intercept = 0;
    ASSERT_TRUE(TWKDCM_GetSlopeIntercept(headers[i], &slope, &intercept));
    EXPECT_EQ(slope, 1);
    EXPECT_EQ(intercept, 0);
    CString uid;
    ASSERT_TRUE(TWKDCM_GetString(headers[i], TWKDCM_TAG(0x0008, 0x0018), &uid));
    uids.insert(uid.wstr());
    double te = 0;
    EXPECT_TRUE(TWKDCM_GetTE(headers[i], &te));  // everything else is the source's
  }
  uids.insert(L"1.2.826.0.1.3680043.10.999.3.1");
  EXPECT_EQ(uids.size(), 5u);
  TWKDCM_DeleteFFarr(&headers, 4);
  dim.w = 0;
  EXPECT_EQ(TWKDCM_CloneHeaderWithNewGeometryAndType(one, 1, &dim, FRM_INT), nullptr);

  Header mosaic(fixture("mosaic.dcm"));
  int images = 0;
  ASSERT_TRUE(TWKDCM_GetNumImagesInMosaic(mosaic.handle, &images));
  EXPECT_EQ(images, 4);
  EXPECT_FALSE(TWKDCM_GetNumImagesInMosaic(source.handle, &images));
  Header implicitMosaic(fixture("mosaic_implicit.dcm"));  // the count arrives as two raw bytes
  images = 0;
  ASSERT_TRUE(TWKDCM_GetNumImagesInMosaic(implicitMosaic.handle, &images));
  EXPECT_EQ(images, 4);
  DCMFF* mosaics[2] = {mosaic.handle, mosaic.handle};
  DCMFF** slices = TWKDCM_CloneHeaderFromMosaic(mosaics, 2, 4);
  ASSERT_NE(slices, nullptr);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    int64_t rows = 0, columns = 0;
    ASSERT_TRUE(TWKDCM_GetInt(slices[i], TWKDCM_TAG(0x0028, 0x0010), &rows));
    ASSERT_TRUE(TWKDCM_GetInt(slices[i], TWKDCM_TAG(0x0028, 0x0011), &columns));
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(columns, 2);
    DPOINT3D position;
    ASSERT_TRUE(TWKDCM_GetImagePosition(slices[i], &position));
    // The 6 x 4 mosaic of 2 x 2 tiles: the first tile's corner is half the untiled size further
    // along the row (columns, 3 mm) and column (rows, 2 mm) directions.
    EXPECT_DOUBLE_EQ(position.x, -100 + 1 * 3.0);
    EXPECT_DOUBLE_EQ(position.y, -50 + 1.5 * 2.0);
    EXPECT_DOUBLE_EQ(position.z, 10 + 4.0 * (i % 4));
  }
  TWKDCM_DeleteFFarr(&slices, 8);
  EXPECT_EQ(TWKDCM_CloneHeaderFromMosaic(mosaics, 2, 9), nullptr);  // 3 x 3 tiles do not divide 6 x 4
}

TEST_F(TwkDicomTest, DecoderRegistrationIsCounted) {
  TWKDCM_DJDecodeRegister();
  TWKDCM_DJDecodeRegister();
  TWKDCM_DJDecodeClean();
  Image image;
  EXPECT_TRUE(readImage(fixture("mr_jpegls.dcm"), image));
  TWKDCM_DJDecodeClean();
  TWKDCM_DJDecodeClean();  // one too many does no harm
  EXPECT_TRUE(readImage(fixture("mr_jpeg.dcm"), image));
}

}  // namespace
