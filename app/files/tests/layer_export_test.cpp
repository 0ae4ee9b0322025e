// Layer export: raw image files checked with nibabel (voxels) and dcm2niix (world geometry), DICOM
// files checked with pydicom and dcmdump, per-series folders, every marked layer at once, and the
// rewriting of echo times in the DICOM headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "ExternalTools.h"
#include "FilesTestKit.h"
#include "LayerExport.h"
#include "Vol.h"
#include "dicom/DicomVolume.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/VoxelAccess.h"

using namespace twk::filestest;
namespace fs = std::filesystem;

namespace {

const std::string kSeriesScript = std::string(TWK_SOURCE_DIR) + "/platform/basalt/dicom/testdata/make_series.py";

std::unique_ptr<CVol> loadSeries(const std::string& folder) {
  std::vector<CString> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(CString::fromUtf8(e.path().string()));
  std::sort(files.begin(), files.end(), [](const CString& a, const CString& b) { return a.toUtf8() < b.toUtf8(); });
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  return std::unique_ptr<CVol>(VA_LoadDicomVolume(list.data(), int(list.size()), false));
}

// A document with one set holding the given volumes as marked layers (the first one active).
std::unique_ptr<CDrawDoc> documentOf(std::vector<CVol*> volumes) {
  auto doc = std::make_unique<CDrawDoc>();
  auto* set = new CDrawSet(doc.get());
  for (CVol* v : volumes) set->AppendLayer(makeLayer(v));
  set->SetActive(0);
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  return doc;
}

// Python that compares a NIfTI written by us with the volume a reference wrote (dcm2niix NIfTI or
// ours): both sets of world positions of the voxel centres carry the same values, whatever axes
// either writer flipped. Prints "ok" or the first difference.
const char* kSameWorld = R"(
import sys, numpy as np, nibabel as nib
def same_world(a, b, t=None):
    A, B = nib.load(a), nib.load(b)
    da, db = np.asanyarray(A.dataobj), np.asanyarray(B.dataobj)
    if t is not None: da = da[..., t] if da.ndim == 4 else da
    if db.ndim == 4: db = db[..., t if t is not None else 0]
    if da.ndim == 4: da = da[..., 0]
    M = np.linalg.inv(B.affine) @ A.affine
    idx = np.indices(da.shape).reshape(3, -1)
    j = M[:3, :3] @ idx + M[:3, 3:4]
    if np.abs(j - np.round(j)).max() > 0.01 / min(B.header.get_zooms()[:3]):
        return 'positions differ by %g voxel' % np.abs(j - np.round(j)).max()
    j = np.round(j).astype(int)
    if (j < 0).any() or (j >= np.array(db.shape[:3])[:, None]).any(): return 'voxels outside the reference'
    if not np.array_equal(da[tuple(idx)], db[tuple(j)]): return 'values differ'
    return 'ok'
)";

class LayerExport : public DocumentFileTest {
 protected:
  std::string folder(const std::string& name) const { return (fs::path(scratch_.folder().toUtf8()) / name).string(); }
  std::string makeSeries(const std::string& kind) {
    const std::string out = folder(kind);
    std::string log;
    EXPECT_EQ(twk::test::runCommand("/usr/bin/python3 " + kSeriesScript + " " + kind + " " + out, &log), 0) << log;
    return out;
  }
  std::string python(const std::string& script) {
    std::string out;
    EXPECT_TRUE(twk::test::runPython(std::string(kSameWorld) + script, &out)) << out;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
};

TEST_F(LayerExport, NiftiKeepsVoxelsAndWorldGeometryAndNeverTouchesTheLayer) {
  const std::string series = makeSeries("oblique4d");
  auto vol = loadSeries(series);
  ASSERT_TRUE(vol);
  ASSERT_EQ(vol->T(), 3);
  std::string log;
  ASSERT_EQ(twk::test::runCommand("dcm2niix -z n -f reference -o " + folder("") + " " + series, &log), 0) << log;
  auto doc = documentOf({new CVol(*vol)});
  CDrawSet* set = doc->GetActiveSet();
  const std::vector<uint8_t> before(set->GetActiveVol()->frame->data,
                                    set->GetActiveVol()->frame->data + PR_FrameMemSize(set->GetActiveVol()->frame));

  // One file: "No" to the .time set, "No" to the slice order; then a .time set; then reversed slices.
  ui.answerSaveFile(scratch_.file("single.nii")).answerMessage(IDNO).answerMessage(IDNO);
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  ui.answerSaveFile(scratch_.file("set.nii")).answerMessage(IDYES).answerMessage(IDNO);
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  ui.answerSaveFile(scratch_.file("reversed.nii")).answerMessage(IDNO).answerMessage(IDYES);
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  EXPECT_FALSE(ui.pendingAnswers());
  EXPECT_TRUE(fs::exists(folder("set.time")));

  const std::string d = folder("");
  for (int t = 0; t < 3; ++t)
    EXPECT_EQ(python("print(same_world('" + d + "/single.nii', '" + d + "/reference.nii', " + std::to_string(t) + "))"), "ok") << t;
  EXPECT_EQ(python("print(same_world('" + d + "/set_t0002.nii', '" + d + "/reference.nii', 2))"), "ok");
  EXPECT_EQ(python("print(same_world('" + d + "/reversed.nii', '" + d + "/reference.nii', 1))"), "ok");
  // The reversed file holds the data flipped along k; the layer keeps its bytes.
  EXPECT_EQ(python("a = np.asanyarray(nib.load('" + d + "/single.nii').dataobj); b = np.asanyarray(nib.load('" + d +
                   "/reversed.nii').dataobj)\nprint('ok' if np.array_equal(a[:, :, ::-1], b) else 'not flipped')"),
            "ok");
  const FRAME* f = set->GetActiveVol()->frame;
  EXPECT_TRUE(std::equal(before.begin(), before.end(), f->data));
}

TEST_F(LayerExport, VoidVoxelsBecomeTheChosenValueExactlyWhereTheyWere) {
  CVol* integer = makeVolume(FRM_INT, 6, 5, 3, 1, L"int.nii", 32);
  CVol* real = makeVolume(FRM_REAL, 6, 5, 3, 1, L"real.nii");
  twk::setVoxelValue(integer->frame, 2, 1, 1, 0, VOID_VALUE);
  twk::setVoxelValue(real->frame, 4, 3, 2, 0, VOID_VALUE);
  auto doc = documentOf({integer, real});
  CDrawSet* set = doc->GetActiveSet();
  ui.answerSaveFile(scratch_.file("int.nii")).answerMessage(IDNO).answerValues({0});
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  set->SetActive(1);
  ui.answerSaveFile(scratch_.file("real.nii")).answerMessage(IDNO).answerValuesText({L"NaN"});
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  const std::string d = folder("");
  EXPECT_EQ(python("i = np.asanyarray(nib.load('" + d + "/int.nii').dataobj); r = np.asanyarray(nib.load('" + d +
                   "/real.nii').dataobj)\n"
                   "x, y, z = np.indices(i.shape)\ne = x + 10 * y + 100 * z\n"
                   "ok = i[2, 1, 1] == 0 and (np.delete(i.ravel(), np.ravel_multi_index((2, 1, 1), i.shape)) == "
                   "np.delete(e.ravel(), np.ravel_multi_index((2, 1, 1), i.shape))).all()\n"
                   "ok = ok and np.isnan(r[4, 3, 2]) and np.isnan(r).sum() == 1\nprint('ok' if ok else 'wrong')"),
            "ok");
  // The layer keeps its void voxel.
  EXPECT_EQ(twk::voxelValue(integer->frame, 2, 1, 1, 0), double(VOID_INT_VALUE));
}

TEST_F(LayerExport, AnalyzeAndImFilesOf4DLayersBecomeTimeSetsUnasked) {
  auto doc = documentOf({makeVolume(FRM_INT, 6, 5, 3, 2, L"dyn.img", 16)});
  CDrawSet* set = doc->GetActiveSet();
  ui.answerSaveFile(scratch_.file("dyn.img"));
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_TRUE(fs::exists(folder("dyn.time")));
  EXPECT_EQ(python("a = nib.load('" + folder("dyn_t0001.img") + "')\nd = np.asanyarray(a.dataobj)\n"
                   "x, y, z = np.indices(d.shape)\nprint('ok' if isinstance(a, nib.AnalyzeImage) and "
                   "np.array_equal(d, x + 10 * y + 100 * (z + 3)) else 'wrong')"),
            "ok");
  ui.answerSaveFile(scratch_.file("dyn.im")).answerMessage(IDYES);  // the .time list is replaced
  ASSERT_TRUE(twk::files::SaveActiveVolumeToRAW(*set));
  EXPECT_EQ(ui.messages.back(), L"File " + scratch_.file("dyn.time") + L" will be ovewritten. Proceed?");
  std::unique_ptr<CVol> back(VA_RAW_LoadVolume(scratch_.file("dyn.time"), nullptr, nullptr, nullptr, true));
  ASSERT_TRUE(back);
  EXPECT_EQ(0, std::memcmp(back->frame->data, set->GetActiveVol()->frame->data, size_t(PR_FrameMemSize(back->frame))));
}

TEST_F(LayerExport, DicomFilesCarryTheLayerValuesAndTheChosenIdentifiers) {
  const std::string series = makeSeries("oblique4d");
  auto doc = documentOf({loadSeries(series).release(), makeVolume(FRM_REAL, 6, 5, 3, 1, L"map")});
  CDrawSet* set = doc->GetActiveSet();
  const std::string fresh = folder("fresh"), kept = folder("kept");
  fs::create_directories(fresh);
  fs::create_directories(kept);
  ui.answerSaveFile(CString::fromUtf8(fresh + "/s.dcm")).answerMessage(IDYES);
  ASSERT_TRUE(twk::files::SaveDicomData(*set));
  ui.answerSaveFile(CString::fromUtf8(kept + "/s.dcm")).answerMessage(IDNO);
  ASSERT_TRUE(twk::files::SaveDicomData(*set));
  ui.answerSaveFile(scratch_.file("one.dic")).answerMessage(IDNO);
  ASSERT_TRUE(twk::files::SaveDicomData(*set));
  // pydicom: stored values x slope + intercept equal the layer's; the series UID new on Yes, kept on No.
  EXPECT_EQ(python("import pydicom, glob, os\n"
                   "orig = pydicom.dcmread(sorted(glob.glob('" + series + "/*.dcm'))[0]).SeriesInstanceUID\n"
                   "def values(folder):\n"
                   "    out = {}\n"
                   "    for f in glob.glob(folder + '/*.dcm'):\n"
                   "        ds = pydicom.dcmread(f); out[(int(ds.TemporalPositionIdentifier) if 'TemporalPositionIdentifier' in ds else 0, round(float(ds.ImagePositionPatient[2]), 3))] = ds.pixel_array * float(getattr(ds, 'RescaleSlope', 1)) + float(getattr(ds, 'RescaleIntercept', 0)), ds.SeriesInstanceUID\n"
                   "    return out\n"
                   "a, b = values('" + fresh + "'), values('" + kept + "')\n"
                   "ok = len(a) == 15 and all(np.array_equal(a[k][0], b[k][0]) for k in a)\n"
                   "ok = ok and all(v[1] != orig for v in a.values()) and all(v[1] == orig for v in b.values())\n"
                   "single = pydicom.dcmread('" + folder("one.dic") + "')\n"
                   "ok = ok and int(single.NumberOfFrames) == 15\n"
                   "print('ok' if ok else 'wrong %d' % len(a))"),
            "ok");
  // Every file's first voxel is the series' stored value 50z + 400t of its slice and time point.
  EXPECT_EQ(python("import pydicom, glob\nds = [pydicom.dcmread(f) for f in glob.glob('" + fresh + "/*.dcm')]\n"
                   "vals = sorted(int(d.pixel_array[0, 0]) for d in ds)\n"
                   "print('ok' if vals == sorted(50 * z + 400 * t for t in range(3) for z in range(5)) else vals)"),
            "ok");
  // A real-valued layer is refused by both DICOM exports.
  set->SetActive(1);
  ui.clear();
  EXPECT_FALSE(twk::files::SaveDicomData(*set));
  EXPECT_FALSE(twk::files::SaveActiveLayer_DicomFolders(*set));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"CDrawSet::SaveDicomData : Real valued volumes are not allowed in this operation");
}

TEST_F(LayerExport, DicomFoldersPerSeriesWithAndWithoutPatientName) {
  auto doc = documentOf({loadSeries(makeSeries("oblique4d")).release()});
  CDrawSet* set = doc->GetActiveSet();
  for (const bool named : {true, false}) {
    SCOPED_TRACE(named);
    const std::string target = folder(named ? "named" : "plain");
    fs::create_directories(target);
    ui.answerFolder(CString::fromUtf8(target)).answerMessage(named ? IDYES : IDNO);
    ASSERT_TRUE(twk::files::SaveActiveLayer_DicomFolders(*set));
    int files = 0;
    std::string first;
    for (const auto& e : fs::recursive_directory_iterator(target))
      if (e.is_regular_file() && ++files == 1) first = fs::relative(e.path(), target).string();
    EXPECT_EQ(files, 15);
    EXPECT_EQ(first.rfind(named ? "DOE_JANE_P001/STUDY_1_20240301/SERIES_3_" : "PATIENT_1/STUDY_1_20240301/SERIES_3_", 0), 0u)
        << first;
    EXPECT_FALSE(fs::exists(folder("TmpDicomSaveFolder")));
  }
  ui.answerFolder(scratch_.file("missing"));
  EXPECT_FALSE(twk::files::SaveActiveLayer_DicomFolders(*set));
  EXPECT_EQ(ui.messages.back(), L"CDrawSet::SaveActiveLayer_DicomFolders : Folder does not exist : " + scratch_.file("missing"));
  EXPECT_FALSE(fs::exists(folder("TmpDicomSaveFolder")));
}

TEST_F(LayerExport, EchoTimesPerTimePointReachEveryFileOfTheirTimePoint) {
  auto doc = documentOf({loadSeries(makeSeries("oblique4d")).release()});
  CDrawSet* set = doc->GetActiveSet();
  ui.answerValuesText({L"10 20"});
  EXPECT_FALSE(twk::files::SetDicomTag(*set, TW_DICOMTAG_TE));
  EXPECT_EQ(ui.messages.back(), L"CDrawSet::SetDicomTag : Specify one value or equal to number of timepoints");
  ASSERT_EQ(ui.prompts.back().size(), 1u);
  EXPECT_EQ(ui.prompts.back()[0].label, L"TE (Echo time) ms : 3 timepoints");
  const double shown[] = {10, 10, 10};
  EXPECT_EQ(ui.prompts.back()[0].text, PR_MakeValueString(shown, 3));
  ui.answerValuesText({L"10 20 30"});
  ASSERT_TRUE(twk::files::SetDicomTag(*set, TW_DICOMTAG_TE));
  EXPECT_DOUBLE_EQ(set->GetActiveVol()->dyn[2].echoTime, 0.030);
  const std::string out = folder("te");
  fs::create_directories(out);
  ui.answerSaveFile(CString::fromUtf8(out + "/e.dcm")).answerMessage(IDNO);
  ASSERT_TRUE(twk::files::SaveDicomData(*set));
  EXPECT_EQ(python("import pydicom, glob\nte = {}\nfor f in glob.glob('" + out + "/*.dcm'):\n"
                   "    d = pydicom.dcmread(f); te.setdefault(int(d.pixel_array[0, 0]) // 400, set()).add(float(d.EchoTime))\n"
                   "print('ok' if te == {0: {10.0}, 1: {20.0}, 2: {30.0}} else te)"),
            "ok");
}

TEST_F(LayerExport, SaveAllWritesOneFilePerMarkedLayerInsideTheFolder) {
  auto doc = documentOf({makeVolume(FRM_INT, 6, 5, 3, 1, L"/a/first.nii", 16),
                         makeVolume(FRM_REAL, 6, 5, 3, 1, L"second [map]"),
                         makeVolume(FRM_INT, 6, 5, 3, 1, L"../../escape", 16)});
  CDrawSet* set = doc->GetActiveSet();
  for (int i = 0; i < 3; ++i) set->GetLayerVol(i)->SetOrientation(std::vector<double>{1, 0, 0, 0, 1, 0}.data());
  const std::string out = folder("all");
  fs::create_directories(out);
  ui.answerSaveFile(CString::fromUtf8(out + "/a-b-c.nii"));
  EXPECT_FALSE(twk::files::SaveAllMarkedVolumeLayersToRAW(*set, nullptr));
  EXPECT_EQ(ui.messages.back(), L"CDrawSet::SaveAllMarkedVolumeLayersToRAW : Exactly one dash - required in Save ALL File name");
  ui.answerSaveFile(CString::fromUtf8(out + "/-.nii"));
  ASSERT_TRUE(twk::files::SaveAllMarkedVolumeLayersToRAW(*set, nullptr));
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"escape.nii", "first.nii", "second.nii"}));
  EXPECT_EQ(python("import glob\nprint('ok' if all(nib.load(f).shape == (6, 5, 3) for f in glob.glob('" + out +
                   "/*.nii')) else 'wrong')"),
            "ok");
  // Two marked layers of one name are refused before anything is asked.
  set->GetLayerVol(1)->name = L"/b/first.img";
  ui.clear();
  EXPECT_FALSE(twk::files::SaveAllMarkedVolumeLayersToRAW(*set, nullptr));
  EXPECT_EQ(ui.messages.back(), L"CDrawSet::SaveAllMarkedVolumeLayersToRAW : Duplicate Layer names are marked : first");
  EXPECT_TRUE(ui.fileRequests.empty());
}

}  // namespace
