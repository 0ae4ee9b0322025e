// An axial and a sagittal DICOM series of one phantom, written by pydicom and read by the DICOM
// loader, reslice into each other by their orientation and position tags.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomVolume.h"
#include "registration/DicomTransform.h"
#include "registration/Reslice.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

namespace fs = std::filesystem;

// The phantom in patient millimetres (the same formula as the script's).
double phantom(double x, double y, double z) {
  return 100 + 20 * std::sin(0.11 * x) + 15 * std::cos(0.09 * y + 0.03 * z) + 0.4 * z;
}

// Writes <folder>/axial and <folder>/sagittal: stored integers of a hundredth, rescale slope 0.01.
// PixelSpacing is (between rows, between columns) as the standard has it.
const char* const kScript = R"(
import os, sys
import numpy as np
import pydicom
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

root = sys.argv[1]
study, frame = generate_uid(), generate_uid()

def phantom(x, y, z):
    return 100 + 20 * np.sin(0.11 * x) + 15 * np.cos(0.09 * y + 0.03 * z) + 0.4 * z

def series(name, number, cols, rows, slices, dx, dy, dz, row, col, first, step):
    folder = os.path.join(root, name)
    os.makedirs(folder, exist_ok=True)
    uid = generate_uid()
    row, col, first, step = (np.array(v, float) for v in (row, col, first, step))
    i, j = np.meshgrid(np.arange(cols), np.arange(rows))
    for k in range(slices):
        origin = first + step * dz * k
        p = origin[:, None, None] + row[:, None, None] * dx * i + col[:, None, None] * dy * j
        values = np.round(phantom(p[0], p[1], p[2]) * 100).astype(np.uint16)
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = '1.2.840.10008.5.1.4.1.1.4'
        meta.MediaStorageSOPInstanceUID = generate_uid()
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        path = os.path.join(folder, '%03d.dcm' % k)
        ds = FileDataset(path, {}, file_meta=meta, preamble=b'\0' * 128)
        ds.SOPClassUID = meta.MediaStorageSOPClassUID
        ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
        ds.PatientName, ds.PatientID = 'Phantom^One', 'PH1'
        ds.StudyInstanceUID, ds.SeriesInstanceUID, ds.FrameOfReferenceUID = study, uid, frame
        ds.StudyDate, ds.StudyTime = '20240301', '101500'
        ds.Modality, ds.SeriesNumber, ds.SeriesDescription = 'MR', number, name
        ds.InstanceNumber = k + 1
        ds.ImagePositionPatient = [float(v) for v in origin]
        ds.ImageOrientationPatient = [float(v) for v in list(row) + list(col)]
        ds.PixelSpacing = [dy, dx]
        ds.SliceThickness = dz
        ds.Rows, ds.Columns = rows, cols
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, 'MONOCHROME2'
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 0
        ds.RescaleSlope, ds.RescaleIntercept = 0.01, 0
        ds.PixelData = values.tobytes()
        ds.save_as(path, write_like_original=False)

# Axial: columns along x, rows along y, slices up. Sagittal: columns along y, rows down, slices
# along x (against the normal of its orientation, so the loader turns their order round).
series('axial', 1, 40, 36, 20, 1.0, 1.0, 2.0, (1, 0, 0), (0, 1, 0), (-20, -18, -20), (0, 0, 1))
series('sagittal', 2, 48, 30, 26, 0.9, 1.5, 1.8, (0, 1, 0), (0, 0, -1), (-24, -21, 22), (1, 0, 0))
)";

std::unique_ptr<CVol> load(const fs::path& folder) {
  std::vector<CString> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(CString::fromUtf8(e.path().string()));
  std::sort(names.begin(), names.end(), [](const CString& a, const CString& b) { return a.toUtf8() < b.toUtf8(); });
  std::vector<const wchar_t*> files;
  for (const CString& n : names) files.push_back(n.GetString());
  return std::unique_ptr<CVol>(VA_LoadDicomVolume(files.data(), int(files.size()), true));
}

TEST(DicomSeries, AxialAndSagittalSeriesOfOnePhantomResliceIntoEachOtherByTheirTags) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const fs::path root = twk::testing::testFolder() / "reg_dicom_series";
  fs::remove_all(root);
  fs::create_directories(root);
  const fs::path script = root / "write.py";
  std::ofstream(script) << kScript;
  ASSERT_EQ(std::system((std::string(TWK_DEBIAN_PYTHON) + " -W ignore " + script.string() + " " + root.string()).c_str()), 0);
  const std::unique_ptr<CVol> axial = load(root / "axial"), sagittal = load(root / "sagittal");
  ASSERT_TRUE(axial && sagittal) << (ui.messages.empty() ? "" : ui.lastMessage().toUtf8());
  ASSERT_EQ(axial->frame->dim.w, 40);
  ASSERT_EQ(sagittal->frame->dim.d, 26);
  EXPECT_DOUBLE_EQ(sagittal->spc.x, 0.9);
  EXPECT_DOUBLE_EQ(sagittal->spc.y, 1.5);
  EXPECT_NEAR(sagittal->spc.z, 1.8, 1e-9);

  const struct {
    const CVol* source;
    const CVol* target;
  } pairs[] = {{sagittal.get(), axial.get()}, {axial.get(), sagittal.get()}};
  for (const auto& p : pairs) {
    double m[16];
    ASSERT_TRUE(VA_GetInitTransformWithDicomTags(p.source, p.target, false, m, true));
    const DIM3D td = p.target->frame->dim, sd = p.source->frame->dim;
    FRAME* out = VA_ResliceTB(2, 1, m, p.source->frame, &td, 1, 0.0, true);
    ASSERT_TRUE(out);
    int64_t compared = 0;
    double worst = 0, worstTruth = 0;
    for (int k = 0; k < td.d; ++k)
      for (int j = 0; j < td.h; ++j)
        for (int i = 0; i < td.w; ++i) {
          const double s[3] = {m[0] * i + m[1] * j + m[2] * k + m[3], m[4] * i + m[5] * j + m[6] * k + m[7],
                               m[8] * i + m[9] * j + m[10] * k + m[11]};
          if (s[0] < 0 || s[1] < 0 || s[2] < 0 || s[0] > sd.w - 1 || s[1] > sd.h - 1 || s[2] > sd.d - 1) continue;
          ++compared;
          const double got = twk::voxelValue(out, i, j, k, 0);
          worst = std::max(worst, std::fabs(got - twk::voxelValue(p.target->frame, i, j, k, 0)));
          // The target voxel's own patient position, from the tags the loader kept.
          const DPOINT3D& o = p.target->imgPos[k];
          const double* r = p.target->orient;
          const double x = o.x + r[0] * p.target->spc.x * i + r[3] * p.target->spc.y * j;
          const double y = o.y + r[1] * p.target->spc.x * i + r[4] * p.target->spc.y * j;
          const double z = o.z + r[2] * p.target->spc.x * i + r[5] * p.target->spc.y * j;
          worstTruth = std::max(worstTruth, std::fabs(got - phantom(x, y, z)));
        }
    PR_FrameDelete(&out);
    EXPECT_GT(compared, 2000);
    // Linear interpolation of the smooth phantom at these spacings errs by well under one unit.
    EXPECT_LT(worst, 0.5);
    EXPECT_LT(worstTruth, 0.5);
  }
  fs::remove_all(root);
}

}  // namespace
