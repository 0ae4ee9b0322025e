// Landmark registration of a second document onto a layer set, and the dialogs of the landmark and
// transform-file commands, run headless with a scripted UI (the dialogs also in their Qt window).

#include <gtest/gtest.h>

#include <QApplication>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "DicomRec.h"
#include "HighObj.h"
#include "OperationsTestKit.h"
#include "RecordDialog.h"
#include "LandmarkRegistration.h"
#include "TransformOperations.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TextCodec.h"
#include "VectRois.h"
#include "VectorRois.h"
#include "paths/FilePaths.h"
#include "registration/Transform.h"
#include "registration/AutoFocus.h"
#include "registration/Reslice.h"
#include "registration/TransformFiles.h"
#include "volume/Frame.h"

namespace {

using twk::optest::Documents;

QApplication& app() {
  static int argc = 1;
  static char name[] = "registration_operations_test";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!QApplication::instance()) new QApplication(argc, argv);
  return *static_cast<QApplication*>(QApplication::instance());
}

const wchar_t* const kFn = L"CDrawSet::Register3D_WithInitPoints : ";

// A known target-to-source voxel-index affine (rows of four, translation last).
const double kAffine[16] = {1.02, 0.05, 0.1, 1.3, -0.04, 0.98, 0.08, 0.7, 0.02, -0.03, 1.05, 0.4, 0, 0, 0, 1};

DPOINT3D apply(const double m[16], const DPOINT3D& p) {
  return {m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3], m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7],
          m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11]};
}

// A smooth phantom, so that reslices agree closely.
CVol* phantom(DIM3D dims, SPC spc, const wchar_t* name) {
  CVol* vol = twk::optest::makeVolume(FRM_REAL, 64, dims, [](int x, int y, int z, int) {
    return 100 + 3.0 * x + 2.0 * y * y / 10 + 5.0 * std::sin(z * 0.4);
  }, name);
  vol->spc = spc;
  return vol;
}

// A landmark one voxel wide around voxel index p: voxel i covers [i, i + 1) in box coordinates.
void addLandmark(CDrawSet* set, const DPOINT3D& p, const char* label) {
  const double box[6] = {p.x, p.y, p.z, p.x + 1, p.y + 1, p.z + 1};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, box, 0, 0, label));
}

const std::vector<DPOINT3D> kTargetPoints = {{3, 4, 2}, {15, 3, 3}, {4, 14, 7}, {16, 15, 6}, {9, 9, 1},
                                             {10, 8, 8}, {6, 11, 4}, {13, 6, 5}, {8, 2, 6}, {2, 9, 8}};

struct Pair {
  CDrawDoc* target = nullptr;
  CDrawDoc* source = nullptr;
  CVol* sourceVol = nullptr;
  CVol* targetVol = nullptr;
};

// A target of 20 x 18 x 10 voxels of 1 x 1 x 2 mm and a source of another grid whose landmarks are
// the target's moved by the affine, the source's listed in reverse order.
Pair openPair(Documents& docs, int count) {
  Pair p;
  p.targetVol = phantom(DIM3D{20, 18, 10, 1}, SPC{1, 1, 2}, L"/data/target.nii");
  p.sourceVol = phantom(DIM3D{22, 20, 12, 1}, SPC{0.9, 1.1, 1.8}, L"/data/moving.nii");
  p.target = docs.open({twk::testkit::makeLayer(p.targetVol)}, L"/data/target.twk");
  p.source = docs.open({twk::testkit::makeLayer(p.sourceVol)}, L"/data/moving.twk");
  for (int i = 0; i < count; ++i) addLandmark(p.target->GetActiveSet(), kTargetPoints[size_t(i)], FmtStr("L%d", i).toUtf8().c_str());
  for (int i = count - 1; i >= 0; --i)
    addLandmark(p.source->GetActiveSet(), apply(kAffine, kTargetPoints[size_t(i)]), FmtStr("L%d", i).toUtf8().c_str());
  return p;
}

CDrawVol* lastLayer(CDrawDoc* doc) {
  CDrawSet* set = doc->GetActiveSet();
  return set->GetLayer(set->NumLayers() - 1);
}

// The largest difference between a result and the source resliced by the known affine (trilinear).
double differenceFromAffineReslice(const Pair& p, const CVol* result) {
  const FramePtr expected(VA_ResliceAffine(kAffine, p.sourceVol->frame, &p.targetVol->frame->dim, 1, 0.0, false));
  if (!expected || !result || !result->frame) return 1e300;
  const std::vector<double> got = twk::optest::voxels(result->frame), want = twk::optest::voxels(expected.get());
  if (got.size() != want.size()) return 1e300;
  double worst = 0;
  for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::fabs(got[i] - want[i]));
  return worst;
}

struct OptionsGuard {
  NPNTREGPARMS saved = g_LandmarkRegisterParms;
  ~OptionsGuard() { g_LandmarkRegisterParms = saved; }
};

TEST(LandmarkLabels, UniquenessMatchingAndTheMismatchReport) {
  HIGHOBJ a, b, a2, c, lower, empty;
  TW_SetVectRoiLabel(&a, "A");
  TW_SetVectRoiLabel(&b, "B");
  TW_SetVectRoiLabel(&a2, "A");
  TW_SetVectRoiLabel(&c, "C");
  TW_SetVectRoiLabel(&lower, "a");
  TW_SetVectRoiLabel(&empty, "");
  const struct {
    std::vector<HIGHOBJ*> marks;
    bool unique;
  } lists[] = {{{&a, &b, &a2}, false}, {{&a, &b, &c}, true}, {{&a, &lower}, true}, {{&a2, &c, &a}, false}, {{}, true}};
  for (const auto& l : lists) EXPECT_EQ(TW_LandmarkLabelsUnique(l.marks.data(), int(l.marks.size())), l.unique);

  HIGHOBJ* source[] = {&c, &a, &b};
  HIGHOBJ* target[] = {&a2, &b, &c};
  ASSERT_TRUE(TW_MatchLandmarkLabels(source, target, 3));
  EXPECT_EQ(target[0], &c);
  EXPECT_EQ(target[1], &a2);
  EXPECT_EQ(target[2], &b);
  HIGHOBJ* other[] = {&a, &b, &lower};
  HIGHOBJ* kept[] = {&a, &b, &lower};
  EXPECT_FALSE(TW_MatchLandmarkLabels(source, other, 3));
  EXPECT_TRUE(std::equal(other, other + 3, kept));

  HIGHOBJ* src[] = {&a, &b, &c, &empty};
  HIGHOBJ* tgt[] = {&b, &lower, &a};
  CString report;
  TW_LandmarkMismatchReport(src, 4, tgt, 3, &report);
  EXPECT_EQ(report, L"Source number of landmarks = 4\nTarget number of landmarks = 3\nMismatched labels:\n"
                    L"Source label: C \nSource label: Empty name \nTarget label: a \n");
}

// Six and more pairs from a known affine between grids of different spacing give it back, and the
// confirmation shows every landmark's errors, the matrix and its determinant; No gives nothing.
TEST(LandmarkTransform, AKnownAffineIsFoundAndConfirmedWithItsErrors) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const Pair p = openPair(docs, 6);
  int n = 0;
  HIGHOBJ** target = TW_GatherVectRoisInTimeRange(p.target->GetActiveSet(), 0, 0, &n);
  ASSERT_EQ(n, 6);
  int m = 0;
  HIGHOBJ** source = TW_GatherVectRoisInTimeRange(p.source->GetActiveSet(), 0, 0, &m);
  ASSERT_TRUE(TW_MatchLandmarkLabels(source, target, n));
  NPNTREGPARMS options;
  const DIM3D dims{20, 18, 10, 1};
  double* k = CalculateTransformByLandmarks(&options, &dims, &p.sourceVol->spc, &p.targetVol->spc, source, target, n,
                                            false);
  ASSERT_TRUE(k);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(k[i], kAffine[i], 1e-9) << i;
  pf_free(&k);

  // The confirmation text, answered No.
  ui.answerMessage(IDNO);
  k = CalculateTransformByLandmarks(&options, &dims, &p.sourceVol->spc, &p.targetVol->spc, source, target, n, true);
  EXPECT_FALSE(k);
  ASSERT_EQ(ui.messages.size(), 1u);
  CString expected;
  // The source lists its landmarks in reverse, the target is put into its order, and the lines
  // stand in reverse order of that.
  for (int i = 0; i < n; ++i) expected.AppendFormat(L"L%d> dir(  0.0000)  rev(  0.0000) mm\n", i);
  double det = 0;
  ASSERT_TRUE(PR_MatrixDeterminantByMinors(kAffine, 4, &det));
  expected.AppendFormat(L"Transformation Matrix:\n%lf %lf  %lf  T%lf\n%lf %lf  %lf  T%lf\n%lf %lf  %lf  T%lf\n",
                        1.02, 0.05, 0.1, 1.3, -0.04, 0.98, 0.08, 0.7, 0.02, -0.03, 1.05, 0.4);
  expected.AppendFormat(L"--------------------\nTransform Matrix Determinant = %8.4lf\nDirect RMSE =   0.0000 mm\n"
                        L"Reverse RMSE =   0.0000\nProceed with Transformation?",
                        det);
  EXPECT_EQ(ui.messages[0], expected);
  pf_free(&source);
  pf_free(&target);

  // A polynomial: its direct errors only; Yes gives the coefficients.
  Documents more;
  const Pair q = openPair(more, 10);
  target = TW_GatherVectRoisInTimeRange(q.target->GetActiveSet(), 0, 0, &n);
  source = TW_GatherVectRoisInTimeRange(q.source->GetActiveSet(), 0, 0, &m);
  ASSERT_TRUE(TW_MatchLandmarkLabels(source, target, n));
  options.transformType = 3;
  ui.clear();
  ui.answerMessage(IDYES);
  k = CalculateTransformByLandmarks(&options, &dims, &q.sourceVol->spc, &q.targetVol->spc, source, target, n, true);
  ASSERT_TRUE(k);
  pf_free(&k);
  CString poly;
  for (int i = 0; i < n; ++i) poly.AppendFormat(L"L%d> dir(  0.0000) mm\n", i);
  poly += L"--------------------\nDirect RMSE =   0.0000 mm\nProceed with Transformation?";
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], poly);
  pf_free(&source);
  pf_free(&target);
}

// The command: degenerate boxes are dropped, the source layers come into the target grid as
// "_reg" layers equal to the reslice by the known affine, and the transform file holds the fit.
TEST(LandmarkRegistration, TheSourceIsReslicedByTheFittedTransformAndTheFileWritten) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  OptionsGuard guard;
  const Pair p = openPair(docs, 6);
  // A box under one voxel on every axis is no landmark.
  const double dot[6] = {5, 5, 5, 5.5, 5.5, 5.5};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(p.target->GetActiveSet(), dot, 0, 0, "stray"));
  const std::vector<double> sourceBefore = twk::optest::voxels(p.sourceVol->frame);
  const std::string file = twk::testing::testFile("landmarks_affine.vtf");
  std::remove(file.c_str());
  g_LandmarkRegisterParms = NPNTREGPARMS{};
  g_LandmarkRegisterParms.transformFile = CString::fromUtf8(file);
  CDrawSet* set = p.target->GetActiveSet();
  ASSERT_TRUE(twk::registration::Register3D_WithInitPoints(*set, Documents::viewOf(p.target), false, false))
      << (ui.messages.empty() ? "" : ui.lastMessage().toUtf8());
  ASSERT_EQ(set->NumLayers(), 2);
  const CVol* result = lastLayer(p.target)->vol;
  EXPECT_EQ(result->name, L"moving_reg");
  EXPECT_EQ(result->spc.z, 2.0);
  EXPECT_LT(differenceFromAffineReslice(p, result), 1e-6);
  EXPECT_EQ(twk::optest::voxels(p.sourceVol->frame), sourceBefore);
  VA_VTFINFO info;
  double* k = VTF_Load(CString::fromUtf8(file), &info, false);
  ASSERT_TRUE(k);
  EXPECT_EQ(info.type, 2);
  EXPECT_EQ(info.sourceDim.w, 22);
  EXPECT_EQ(info.targetDim.w, 20);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(k[i], kAffine[i], 1e-9);
  pf_free(&k);

  // A file that cannot be written is said, and the layers still come.
  ui.clear();
  g_LandmarkRegisterParms.transformFile = L"/nonexistent-folder/x.vtf";
  EXPECT_TRUE(twk::registration::Register3D_WithInitPoints(*set, Documents::viewOf(p.target), false, false));
  EXPECT_EQ(ui.messages, std::vector<CString>{L"Failed to save Transformation File"});
  EXPECT_EQ(set->NumLayers(), 3);

  // Gaussian radial basis functions: the layers come through a flow field, no file is written.
  const std::string rbfFile = twk::testing::testFile("landmarks_rbf.vtf");
  std::remove(rbfFile.c_str());
  g_LandmarkRegisterParms.transformType = 4;
  g_LandmarkRegisterParms.sigma = 30;
  g_LandmarkRegisterParms.transformFile = CString::fromUtf8(rbfFile);
  ui.clear();
  EXPECT_TRUE(twk::registration::Register3D_WithInitPoints(*set, Documents::viewOf(p.target), false, false));
  EXPECT_EQ(set->NumLayers(), 4);
  EXPECT_FALSE(PR_FileExists(CString::fromUtf8(rbfFile)));

  // Interactively: the dialog (type, degree, sigma, lambda, interpolation; file), then the
  // confirmation; Cancel in the dialog or No to the question adds nothing.
  const std::string asked = twk::testing::testFile("landmarks_asked.vtf");
  std::remove(asked.c_str());
  const struct {
    bool dialogOk;
    int answer;
    bool added;
  } runs[] = {{false, 0, false}, {true, IDNO, false}, {true, IDYES, true}};
  for (const auto& r : runs) {
    ui.clear();
    const int layers = set->NumLayers();
    if (r.dialogOk) {
      ui.answerValues({1, 2, 200, 0, 0}, {CString::fromUtf8(asked)});
      ui.answerMessage(r.answer);
    } else {
      ui.cancelValues();
    }
    EXPECT_EQ(twk::registration::Register3D_WithInitPoints(*set, Documents::viewOf(p.target), false, true), r.added);
    EXPECT_FALSE(ui.pendingAnswers());
    EXPECT_EQ(set->NumLayers(), layers + (r.added ? 1 : 0));
    EXPECT_EQ(PR_FileExists(CString::fromUtf8(asked)), r.added);
  }
  EXPECT_EQ(g_LandmarkRegisterParms.transformType, 1);
}

// Every refusal names its cause and adds nothing.
TEST(LandmarkRegistration, RefusalsSayWhyAndAddNothing) {
  const struct {
    const char* name;
    std::vector<std::string> target;
    std::vector<std::vector<std::string>> sources;
    int type;
    CString message;
  } cases[] = {
      {"single document", {"A", "B", "C"}, {}, 2, CString(kFn) + L"More than one document should be present"},
      {"no landmarks", {}, {{"A"}}, 2, CString(kFn) + L"There are no landmarks present"},
      {"duplicate target", {"A", "B", "A"}, {{"A", "B", "C"}}, 2,
       CString(kFn) + L"Target: Labels should be unique in both volumes"},
      {"two candidates", {"A", "B", "C", "D"}, {{"A", "B", "C", "D"}, {"D", "C", "B", "A"}}, 2,
       CString(kFn) + L"More than one document with compatible landmarks is present"},
      {"one landmark more", {"A", "B", "C", "D"}, {{"A", "B", "C", "D", "E"}}, 2,
       L"Source number of landmarks = 5\nTarget number of landmarks = 4\nMismatched labels:\nSource label: E \n"},
      {"duplicate source", {"A", "B", "C"}, {{"A", "A", "B", "C"}}, 2,
       CString(kFn) + L"Source: Labels should be unique in both volumes"},
      {"other labels", {"A", "B", "C", "D"}, {{"A", "B", "C", "X"}}, 2,
       CString(kFn) + L"Label names should match in the source and destination"},
      {"thin-plate spline", {"A", "B", "C", "D"}, {{"D", "C", "B", "A"}}, 5,
       CString(kFn) + L"TPS transform is not available at the moment"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    OptionsGuard guard;
    g_LandmarkRegisterParms.transformType = c.type;
    CDrawDoc* target = docs.open({twk::testkit::makeLayer(phantom(DIM3D{20, 18, 10, 1}, SPC{1, 1, 2}, L"/data/t.nii"))},
                                 L"/data/t.twk");
    for (size_t i = 0; i < c.target.size(); ++i)
      addLandmark(target->GetActiveSet(), kTargetPoints[i], c.target[i].c_str());
    for (const auto& labels : c.sources) {
      CDrawDoc* source = docs.open({twk::testkit::makeLayer(phantom(DIM3D{20, 18, 10, 1}, SPC{1, 1, 2}, L"/data/s.nii"))},
                                   L"/data/s.twk");
      for (size_t i = 0; i < labels.size(); ++i)
        addLandmark(source->GetActiveSet(), kTargetPoints[i], labels[i].c_str());
    }
    EXPECT_FALSE(twk::registration::Register3D_WithInitPoints(*target->GetActiveSet(), Documents::viewOf(target), false, false));
    EXPECT_EQ(ui.lastMessage(), c.message);
    EXPECT_EQ(target->GetActiveSet()->NumLayers(), 1);
  }
}

// With voxel similarity the AutoFocus step starts from this run's landmark transform, not from
// whatever file the options last named: a polynomial fit saves no file, and a stale identity
// file there must not be used. With no search and no fine step the result is the landmark reslice.
TEST(LandmarkRegistration, VoxelSimilarityStartsFromThisRunsTransform) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  OptionsGuard guard;
  const Pair p = openPair(docs, 10);
  const std::string stale = twk::testing::testFile("landmarks_stale.vtf");
  const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const DIM3D sd{22, 20, 12, 1}, td{20, 18, 10, 1};
  ASSERT_TRUE(VTF_Save(CString::fromUtf8(stale), 2, &sd, &p.sourceVol->spc, &td, &p.targetVol->spc, identity, false));
  g_LandmarkRegisterParms = NPNTREGPARMS{};
  g_LandmarkRegisterParms.transformType = 3;
  g_LandmarkRegisterParms.transformFile = CString::fromUtf8(stale);
  VA_AF3D& record = TW_LandmarkAutofocusRecord();
  const VA_AF3D saved = record;
  record = VA_AF3D{};
  record.measure = 1;
  record.subsample = 1;
  record.rotationGrid = record.scaleGrid = record.shearGrid = 1;
  record.power = 0;
  record.transformType = 2;
  record.interpolation = 1;
  CDrawSet* set = p.target->GetActiveSet();
  const bool ok = twk::registration::Register3D_WithInitPoints(*set, Documents::viewOf(p.target), true, false);
  const CString used = record.initialTransformFile;
  record = saved;
  ASSERT_TRUE(ok) << (ui.messages.empty() ? "" : ui.lastMessage().toUtf8());
  EXPECT_NE(used, CString::fromUtf8(stale));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_LT(differenceFromAffineReslice(p, lastLayer(p.target)->vol), 1e-3);
}

// A volume of the patient frame (axial, first slice at first) whose voxels are value(patient mm).
CVol* placed(FRMTYPE type, int bpv, DIM3D dims, SPC spc, DPOINT3D first,
             const std::function<double(double, double, double)>& value, const wchar_t* name) {
  CVol* vol = twk::optest::makeVolume(type, bpv, dims, [&](int x, int y, int z, int) {
    return value(first.x + x * spc.x, first.y + y * spc.y, first.z + z * spc.z);
  }, name);
  vol->spc = spc;
  vol->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(dims.d) * int64_t(sizeof(DPOINT3D))));
  for (int z = 0; z < dims.d; ++z) vol->imgPos[z] = {first.x, first.y, first.z + z * spc.z};
  vol->dicom = static_cast<DICOMREC**>(pf_calloc(int64_t(dims.d) * int64_t(sizeof(DICOMREC*))));
  vol->numDicom = dims.d;
  for (int z = 0; z < dims.d; ++z) vol->dicom[z] = new DICOMREC;
  return vol;
}

// The other document's layers come into this grid by the patient geometry alone: a field linear
// in patient millimetres comes back exactly (linear interpolation), and with the header flag a
// resliced ROI keeps one header, without it the source's per-slice headers.
TEST(DicomTagRegistration, LayersComeByTheirPatientGeometryAndROIHeadersAreMinimised) {
  const auto field = [](double x, double y, double z) { return 50 + 2 * x - 1.5 * y + 0.75 * z; };
  for (const bool minimise : {true, false}) {
    SCOPED_TRACE(minimise ? "minimised" : "kept");
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    CVol* target = placed(FRM_REAL, 64, DIM3D{16, 14, 8, 1}, SPC{1, 1, 2}, DPOINT3D{-8, -7, -8}, field, L"/data/t.nii");
    CVol* source = placed(FRM_REAL, 64, DIM3D{22, 20, 12, 1}, SPC{0.9, 0.8, 1.5}, DPOINT3D{-10, -9, -9.5}, field,
                          L"/data/s.nii");
    CVol* roi = placed(FRM_ROI, 1, DIM3D{22, 20, 12, 1}, SPC{0.9, 0.8, 1.5}, DPOINT3D{-10, -9, -9.5},
                       [](double x, double, double) { return x > 0 ? 1 : 0; }, L"/data/s_roi.nii");
    CDrawDoc* doc = docs.open({twk::testkit::makeLayer(target)}, L"/data/t.twk");
    docs.open({twk::testkit::makeLayer(source), twk::testkit::makeLayer(roi)}, L"/data/s.twk");
    CDrawSet* set = doc->GetActiveSet();
    ASSERT_TRUE(twk::registration::RegisterByDicomTags(*set, false, false, nullptr, false, minimise))
        << (ui.messages.empty() ? "" : ui.lastMessage().toUtf8());
    ASSERT_EQ(set->NumLayers(), 3);
    const CVol* base = set->GetLayer(1)->vol;
    EXPECT_EQ(base->name, L"/data/s_reg.nii");
    const std::vector<double> got = twk::optest::voxels(base->frame), want = twk::optest::voxels(target->frame);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], 1e-9) << i;
    const CVol* mask = set->GetLayer(2)->vol;
    ASSERT_TRUE(mask->IsROI());
    EXPECT_EQ(mask->numDicom, minimise ? 1 : 12);
    EXPECT_EQ(base->numDicom, 12);
  }
}

// Where the results of a DICOM-tag registration go with 4D sets: a 3D source base onto a 4D target
// asks; two 4D sets go to a new document without asking; 4D layers are not added to a 4D set.
TEST(DicomTagRegistration, FourDimensionalSetsChooseTheirDestination) {
  const auto field = [](double x, double y, double z) { return 10 + x + y + z; };
  const SPC spc{1, 1, 2};
  const DPOINT3D first{-4, -4, -4};
  auto volume = [&](int t, const wchar_t* name) {
    return placed(FRM_REAL, 64, DIM3D{8, 8, 4, t}, spc, first, field, name);
  };
  const struct {
    const char* name;
    int targetT;
    std::vector<int> sourceT;  // the source set's layers
    bool interactive;
    int answer;                // three-button answer, -1 when none is expected
    int layersAdded;           // to the target set
    int documentsOpened;
    bool skipped;
  } cases[] = {
      {"3D base onto 4D target, as a layer", 3, {1}, true, 0, 1, 0, false},
      {"3D base onto 4D target, new document", 3, {1}, true, 1, 0, 1, false},
      {"two 4D sets", 3, {3}, true, -1, 0, 1, false},
      {"4D layer into a 4D set", 3, {1, 3}, false, -1, 1, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    CDrawDoc* doc = docs.open({twk::testkit::makeLayer(volume(c.targetT, L"/data/t.nii"))}, L"/data/t.twk");
    std::vector<CDrawVol*> layers;
    for (int t : c.sourceT) layers.push_back(twk::testkit::makeLayer(volume(t, L"/data/s.nii")));
    docs.open(layers, L"/data/s.twk");
    const int before = Documents::openCount();
    if (c.interactive) ui.answerValues({1});
    if (c.answer >= 0) ui.answerThreeButtons(c.answer);
    CDrawSet* set = doc->GetActiveSet();
    ASSERT_TRUE(twk::registration::RegisterByDicomTags(*set, c.interactive, false, nullptr, false, true));
    EXPECT_FALSE(ui.pendingAnswers());
    EXPECT_EQ(set->NumLayers(), 1 + c.layersAdded);
    EXPECT_EQ(Documents::openCount(), before + c.documentsOpened);
    EXPECT_EQ(!ui.messages.empty() && ui.lastMessage() == L"Skipped adding some 4D layers to the existing document",
              c.skipped);
  }
}

// A transform file's results keep one DICOM header for a region of interest (its source's
// per-slice headers do not describe the new grid), all of them for other layers.
TEST(TransformFiles, ResultsOfRegionsOfInterestKeepOneHeader) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const auto field = [](double x, double, double) { return x; };
  const DIM3D dims{8, 8, 5, 1};
  CVol* base = placed(FRM_REAL, 64, dims, SPC{1, 1, 2}, DPOINT3D{0, 0, 0}, field, L"/data/v.nii");
  CVol* roi = placed(FRM_ROI, 1, dims, SPC{1, 1, 2}, DPOINT3D{0, 0, 0}, [](double x, double, double) { return x > 3; },
                     L"/data/v_roi.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(base), twk::testkit::makeLayer(roi)});
  const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  const std::string file = twk::testing::testFile("identity.vtf");
  ASSERT_TRUE(VTF_Save(CString::fromUtf8(file), 2, &dims, &base->spc, &dims, &base->spc, identity, false));
  const int before = Documents::openCount();
  ui.answerValues({1, 0, 50}, {CString::fromUtf8(file)});
  twk::registration::AffineTransformByVTF(*doc->GetActiveSet(), g_VtfTransformTask);
  const std::vector<CDrawDoc*> opened = Documents::openedAfter(before);
  ASSERT_EQ(opened.size(), 1u);
  CDrawSet* set = opened[0]->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayer(0)->vol->numDicom, 5);
  EXPECT_TRUE(set->GetLayer(1)->vol->IsROI());
  EXPECT_EQ(set->GetLayer(1)->vol->numDicom, 1);
}

// "Browse" of both dialogs: the chosen file shows in the path field and is stored only with OK.
TEST(RegistrationDialogs, BrowsePutsTheChosenFileInThePathOnlyOkStoresIt) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  TW_InstallRecordDialog();
  for (const bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    NPNTREGPARMS record;
    record.transformFile = L"/data/old.vtf";
    ui.clear();
    ui.answerSaveFile(L"/data/chosen.vtf");
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.choose(L"Type", 1).press(L"Browse");
    if (ok) script.ok();
    else script.cancel();
    EXPECT_EQ(TW_DlgNpntPairRegister(&record), ok);
    EXPECT_EQ(script.titles, std::vector<CString>{L"Register Volumes Using Landmarks"});
    EXPECT_EQ(record.transformFile, ok ? L"/data/chosen.vtf" : L"/data/old.vtf");
    EXPECT_EQ(record.transformType, ok ? 1 : 2);
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].filter, L"Volume Transform File (*.vtf)|*.vtf|");
  }
  // The transform-task dialog opens its picker in the remembered transform folder, with the
  // filter of the file kind; a cancelled picker leaves the path.
  const CString savedFolder = TW_Options().vtfFolder;
  TW_EditOptions().vtfFolder = L"/data/transforms";
  const struct {
    int kind;
    const wchar_t* filter;
  } kinds[] = {{3, L"Volume Transform File (*.vtf)|*.vtf|"}, {12, L"Flow Field File (*.fff)|*.fff|"}};
  for (const auto& k : kinds) {
    VTFTASKPARM task;
    task.file = L"/data/before";
    ui.clear();
    ui.cancelPicker();
    ui.answerOpenFile(L"/data/transforms/picked");
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"Browse").press(L"Browse").ok();
    EXPECT_TRUE(TW_DlgVtfTransform(k.kind, &task));
    EXPECT_EQ(task.file, L"/data/transforms/picked");
    ASSERT_EQ(ui.fileRequests.size(), 2u);
    EXPECT_EQ(ui.fileRequests[0].filter, k.filter);
    EXPECT_EQ(ui.fileRequests[0].initialPath.Left(16), L"/data/transforms");
  }
  TW_EditOptions().vtfFolder = savedFolder;
  TW_RemoveRecordDialog();
}

}  // namespace
