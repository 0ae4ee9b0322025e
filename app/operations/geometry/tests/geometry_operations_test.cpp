// Geometry operations of the layer sets: rotations and "Make Isotropic" into new documents (names,
// grids, patient geometry, carried vector ROIs, the refusals), padding, mirroring with undo, the
// patient position dialog, landmarks as vector ROIs, discarding an alignment and the rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <utility>

#include "AppOptions.h"
#include "DrawShapes.h"
#include "DynamicOperations.h"
#include "GeometryDialogs.h"
#include "GeometryOperations.h"
#include "HighObj.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "VectorRois.h"
#include "geometry/Geometry.h"
#include "registration/Reslice.h"
#include "registration/Transform.h"
#include "registration/TransformFiles.h"
#include "volops/VolumeOperations.h"

using namespace twk::optest;

extern unsigned g_RotationCounter;

namespace {

// An axial volume (identity cosines) with positions along +z, voxels x + 10y + 100z.
CVol* axial(DIM3D dims, SPC spc, const wchar_t* name = L"/data/vol.nii", FRMTYPE type = FRM_INT, int bpv = 16) {
  CVol* vol = makeVolume(type, bpv, dims, [](int x, int y, int z, int t) { return x + 10 * y + 100 * z + t; }, name);
  vol->spc = spc;
  const DPOINT3D start{-10, -20, 30};
  vol->SetImagePositions(&start);
  return vol;
}

CDrawDoc* lastOpened(int before) {
  const std::vector<CDrawDoc*> opened = Documents::openedAfter(before);
  return opened.empty() ? nullptr : opened.back();
}

class GeometryOperations : public ::testing::Test {
 protected:
  Documents docs_;
  twk::ScriptedUi ui_;
  twk::ScopedUi installed_{ui_};
};

TEST_F(GeometryOperations, MakeIsotropicGivesHalfMillimetreVoxelsAndSixTimesTheSlices) {
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{8, 6, 4, 1}, [](int x, int, int, int) { return x < 4; }, L"/data/mask.im");
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(axial(DIM3D{8, 6, 4, 1}, SPC{0.5, 0.5, 3})),
                              twk::testkit::makeLayer(roi)});
  const unsigned counter = g_RotationCounter;
  const int before = Documents::openCount();
  ui_.answerValues({0.5});  // the default: the smallest voxel size
  ASSERT_TRUE(twk::geometry::MakeIsotropic(*doc->GetActiveSet(), Documents::viewOf(doc)));
  EXPECT_EQ(ui_.prompts[0][0].label, L"Resolution (mm)");
  EXPECT_EQ(ui_.prompts[0][0].number, 0.5);
  CDrawDoc* made = lastOpened(before);
  ASSERT_TRUE(made);
  const CString sfx = FmtStr(L"iso_%u", counter);
  EXPECT_EQ(made->GetPathName(), CString(L"/data/source") + sfx + L".twk");
  CDrawSet* set = made->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(0)->name, CString(L"/data/vol") + sfx + L".nii");
  EXPECT_EQ(set->GetLayerVol(1)->name, CString(L"/data/mask") + sfx + L".im");
  const CVol* iso = set->GetLayerVol(0);
  EXPECT_EQ(iso->W(), 8);
  EXPECT_EQ(iso->D(), 24);
  EXPECT_DOUBLE_EQ(iso->spc.z, 0.5);
  EXPECT_TRUE(set->GetLayerVol(1)->IsROI());
  EXPECT_EQ(g_RotationCounter, counter + 1);
  // The slices stay where the source's voxel boxes were: 24 of 0.5 mm centred on the 4 of 3 mm.
  EXPECT_NEAR(iso->imgPos[0].z, 30 - 1.5 + 0.25, 1e-9);
  EXPECT_NEAR(iso->imgPos[23].z, 30 + 9 + 1.5 - 0.25, 1e-9);
}

TEST_F(GeometryOperations, RotateRefusesWithoutOrientationOrWithABadScale) {
  CVol* vol = axial(DIM3D{6, 5, 4, 1}, SPC{1, 1, 2});
  vol->orient[0] = 0;  // not a unit vector: no valid orientation
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  const int before = Documents::openCount();
  VOLROTATEPARM parms;
  parms.angle[2] = 20;
  EXPECT_FALSE(twk::geometry::Rotate(*set, false, nullptr, &parms, 100, L"_rotated", nullptr, true));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::CheckValidOrientation : Valid Orientation is required in this "
                                       L"operation.\nUse Main Menu>Volume>Set Volume Orientation"));
  EXPECT_EQ(Documents::openCount(), before);
  EXPECT_FALSE(twk::geometry::CheckValidOrientation(*set, false));

  vol->orient[0] = 1;
  for (double scale : {0.0, -1.0, 0.005, 101.0, std::nan("")}) {
    SCOPED_TRACE(scale);
    parms.scale = scale;
    EXPECT_FALSE(twk::geometry::Rotate(*set, false, nullptr, &parms, 100, L"_rotated", nullptr, true));
    EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::Rotate : Scale must be within [0.01, 100]"));
    EXPECT_EQ(Documents::openCount(), before);
  }
  // Nothing turns: refused by name, nothing made.
  VA_ROT none;
  EXPECT_FALSE(twk::geometry::RotateVolumeOrtho(*set, false, &none, true));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::RotateVolumeOrtho : Rotation is not specified"));
  EXPECT_EQ(Documents::openCount(), before);
}

TEST_F(GeometryOperations, RotateToAxialTurnsASagittalSeriesIntoAxialCosines) {
  CVol* vol = axial(DIM3D{10, 8, 6, 1}, SPC{1, 1, 1.5});
  const double sagittal[6] = {0, 1, 0, 0, 0, -1};
  vol->SetOrientation(sagittal);
  const DPOINT3D start{0, 0, 0};
  vol->SetImagePositions(&start);
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  const int before = Documents::openCount();
  bool rotated = false;
  ASSERT_TRUE(twk::geometry::Rotate(*doc->GetActiveSet(), false, Documents::viewOf(doc), nullptr, 1, L"_rotated",
                                    &rotated, true));
  EXPECT_TRUE(rotated);
  CDrawDoc* made = lastOpened(before);
  ASSERT_TRUE(made);
  const CVol* out = made->GetActiveSet()->GetBaseVol();
  EXPECT_EQ(out->GetMajorProjType(nullptr), 1);  // its native plane is axial
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(std::fabs(out->orient[k]), k == 0 || k == 4 ? 1.0 : 0.0, 1e-9);
}

TEST_F(GeometryOperations, HalfTurnsAboutXAndYAreExactQuarterTurnRotations) {
  // An axial volume stored upside down: turning it to the conventional axial view is a half turn.
  CVol* vol = axial(DIM3D{7, 5, 3, 1}, SPC{0.8, 0.8, 2.5});
  const double flipped[6] = {1, 0, 0, 0, -1, 0};
  vol->SetOrientation(flipped);
  const DPOINT3D start{0, 0, 0};
  vol->SetImagePositions(&start);
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  DPOINT3D angles;
  ASSERT_TRUE(VA_RotateToSpecifiedOrient(vol, VA_PROJ_CONVENTION_RADIOLOGICAL, 1, &angles, false));
  // Half turns (or none) about x and y: the exact rotation, no resampling.
  for (double a : {angles.x, angles.y}) ASSERT_TRUE(a == 0 || std::fabs(a) == 180) << a;
  ASSERT_NE(std::fabs(angles.x) + std::fabs(angles.y) + std::fabs(angles.z), 0);
  const int before = Documents::openCount();
  ASSERT_TRUE(twk::geometry::Rotate(*doc->GetActiveSet(), false, Documents::viewOf(doc), nullptr, 1, L"_rotated",
                                    nullptr, true));
  CDrawDoc* made = lastOpened(before);
  ASSERT_TRUE(made);
  const CVol* out = made->GetActiveSet()->GetBaseVol();
  // Voxels copied, never interpolated: the same multiset of values, spacing kept per axis.
  std::vector<double> a = voxels(vol->frame), b = voxels(out->frame);
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  EXPECT_EQ(out->spc.z, 2.5);
}

TEST_F(GeometryOperations, CarriedVectorRoisStillHoldTheirVoxelsOnAnisotropicGrids) {
  // A bright block inside a vector ROI box, on voxels four times deeper than wide.
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{20, 20, 6, 1},
                         [](int x, int y, int z, int) { return x >= 12 && x <= 15 && y >= 3 && y <= 6 && z >= 2 && z <= 3 ? 1000 : 0; });
  vol->spc = SPC{1, 1, 4};
  const DPOINT3D start{0, 0, 0};
  vol->SetImagePositions(&start);
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  const double box[6] = {12, 3, 2, 15, 6, 3};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, box, 0, 0, "block"));
  const int before = Documents::openCount();
  for (double angle : {0.0, 35.0}) {
    SCOPED_TRACE(angle);
    VOLROTATEPARM parms;
    parms.angle[2] = angle;
    parms.interpolation = VA_INTERP_NEAREST;
    ASSERT_TRUE(twk::geometry::Rotate(*set, false, nullptr, &parms, 100, L"_rotated", nullptr, true));
    CDrawDoc* made = lastOpened(before);
    ASSERT_TRUE(made);
    CDrawSet* newSet = made->GetActiveSet();
    int count = 0;
    CDrawSet** rois = TW_CollectVectRoiObjects(newSet, &count);
    ASSERT_EQ(count, 1);
    const HIGHOBJ r = *rois[0]->vroi;
    pf_free(&rois);
    EXPECT_STREQ(r.label, "block");
    // Every bright voxel of the result lies in the carried box.
    const FRAME* f = newSet->GetBaseVol()->frame;
    int bright = 0;
    for (int z = 0; z < f->dim.d; ++z)
      for (int y = 0; y < f->dim.h; ++y)
        for (int x = 0; x < f->dim.w; ++x)
          if (twk::voxelValue(f, x, y, z, 0) == 1000) {
            ++bright;
            EXPECT_TRUE(x >= r.x0 - 0.5 && x <= r.x1 + 0.5 && y >= r.y0 - 0.5 && y <= r.y1 + 0.5 && z >= r.z0 - 0.5 &&
                        z <= r.z1 + 0.5)
                << x << "," << y << "," << z << " box " << r.x0 << ".." << r.x1 << " " << r.y0 << ".." << r.y1 << " "
                << r.z0 << ".." << r.z1;
          }
    EXPECT_GT(bright, 0);
    docs_.close(made);
  }
}

TEST_F(GeometryOperations, PadRoundsMillimetresToVoxels) {
  const struct {
    double mm;
    int voxels;
  } cases[] = {{5.0, 3}, {4.9, 2}, {0.0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mm);
    CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(axial(DIM3D{4, 3, 2, 1}, SPC{2, 2, 2}))});
    const int before = Documents::openCount();
    ui_.answerValues({c.mm});
    ASSERT_TRUE(twk::geometry::PadVolume(*doc->GetActiveSet()));
    CDrawDoc* made = lastOpened(before);
    ASSERT_TRUE(made);
    const CVol* out = made->GetActiveSet()->GetBaseVol();
    EXPECT_EQ(out->W(), 4 + 2 * c.voxels);
    EXPECT_EQ(out->D(), 2 + 2 * c.voxels);
    EXPECT_EQ(twk::voxelValue(out->frame, c.voxels + 1, c.voxels + 2, c.voxels + 1, 0), 1 + 20 + 100);
    // The old voxels keep their patient place.
    EXPECT_NEAR(out->imgPos[c.voxels].z, 30, 1e-9);
    EXPECT_NEAR(out->imgPos[0].x, -10 - 2.0 * c.voxels, 1e-9);
    docs_.close(made);
  }
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(axial(DIM3D{4, 3, 2, 1}, SPC{2, 2, 2}))});
  const int before = Documents::openCount();
  ui_.answerValues({-1.0});
  EXPECT_FALSE(twk::geometry::PadVolume(*doc->GetActiveSet()));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::PadVolume : Pad size must not be negative"));
  EXPECT_EQ(Documents::openCount(), before);
}

TEST_F(GeometryOperations, MirrorTurnsMarkedLayersOnlyAndEachCanBeUndone) {
  CVol* a = axial(DIM3D{4, 3, 2, 1}, SPC{1, 1, 1});
  CVol* b = axial(DIM3D{4, 3, 2, 1}, SPC{1, 1, 1}, L"/data/b.nii");
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(a), twk::testkit::makeLayer(b, false)});
  const std::vector<double> original = voxels(a->frame);
  const FRAME* frame = a->frame;
  ASSERT_TRUE(twk::geometry::MirrorVolume(*doc->GetActiveSet(), 1));
  EXPECT_EQ(a->frame, frame);  // mirrored in place: the undo record's frame is the layer's
  EXPECT_EQ(twk::voxelValue(a->frame, 0, 0, 0, 0), 3);
  EXPECT_EQ(voxels(b->frame), original);  // unmarked: untouched
  EXPECT_TRUE(doc->IsModified());
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(voxels(a->frame), original);
}

TEST_F(GeometryOperations, PatientPositionDialogAlignsWithTheScanner) {
  double orient[6] = {0.6, -0.8, 0.0, 0.5, 0.5, 0.1};
  TW_AlignWithScanner(true, orient);
  const double want[6] = {0, -1, 0, 1, 0, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(orient[k], want[k]);
  double typed[6] = {0.2, 0.9, 0.1, 0.7, 0.1, 0.1};
  TW_AlignWithScanner(false, typed);  // an invalid stored orientation: the axial identity
  const double axialCosines[6] = {1, 0, 0, 0, 1, 0};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(typed[k], axialCosines[k]);

  // Silent: the set takes the snapped orientation and positions from the given start.
  CVol* vol = axial(DIM3D{4, 3, 3, 1}, SPC{1, 1, 2});
  const double c = std::cos(0.2), s = std::sin(0.2);
  const double oblique[6] = {c, s, 0, -s, c, 0};
  vol->SetOrientation(oblique);
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  ASSERT_TRUE(twk::geometry::SetImagePositionOrientation(*doc->GetActiveSet(), true));
  for (int k = 0; k < 6; ++k) EXPECT_EQ(vol->orient[k], axialCosines[k]);
  EXPECT_NEAR(vol->imgPos[2].z - vol->imgPos[0].z, 4.0, 1e-12);
  // Modal, with cosines that are no orthonormal pair: refused, asked again, then cancelled.
  ui_.answerValues({0, 0, 0, 1, 1, 0, 0, 1, 0});
  ui_.cancelValues();
  EXPECT_FALSE(twk::geometry::SetImagePositionOrientation(*doc->GetActiveSet(), false));
  EXPECT_NE(std::find(ui_.messages.begin(), ui_.messages.end(),
                      CString(L"CDlgSlicePosOrient : Orientation must be two orthogonal unit vectors")),
            ui_.messages.end());
  for (int k = 0; k < 6; ++k) EXPECT_EQ(vol->orient[k], axialCosines[k]);
}

TEST_F(GeometryOperations, RotateDialogRefusesAThresholdOf101) {
  VOLROTATEPARM record;
  ui_.answerValues({1.0, 0, 0, 10, 1, 0, 0, 101});
  ui_.cancelValues();
  EXPECT_FALSE(TW_DlgVolumeRotate(nullptr, &record));
  EXPECT_EQ(record.binaryThreshold, 50);
  EXPECT_EQ(record.angle[2], 0);
  EXPECT_GE(ui_.messages.size(), 2u);
}

TEST_F(GeometryOperations, OrthogonalRotationButtonsAndClipboardText) {
  VA_ROT rot;
  rot.axis[0] = 3;
  for (double want : {90.0, 180.0, 270.0, 0.0}) {
    TW_RotOrthoStep(&rot, 0, true);
    EXPECT_EQ(rot.angle[0], want);
  }
  TW_RotOrthoStep(&rot, 1, true);  // axis none: nothing
  EXPECT_EQ(rot.angle[1], 0);
  rot.angle[0] = 90;
  const DIM3D dims{4, 3, 2, 1};
  const SPC spc{1, 1, 1};
  CString text;
  ASSERT_TRUE(TW_RotOrthoMatrixText(&rot, 0, &dims, &spc, &text));
  // Target x runs along source y, target y against source x.
  EXPECT_EQ(text, CString(L"  0.000000    -1.000000    0.000000    3.000000\n"
                          L"  1.000000    0.000000    0.000000    0.000000\n"
                          L"  0.000000    0.000000    1.000000    0.000000\n"));
  rot.angle[0] = 45;
  EXPECT_FALSE(TW_RotOrthoMatrixText(&rot, 0, &dims, &spc, &text));
  EXPECT_TRUE(text.IsEmpty());
}

TEST_F(GeometryOperations, OrthogonalRotationSavesATransformFileThatReslicesIntoTheRotatedVolume) {
  // Quarter turns about z then x of an anisotropic grid; the file's kind, grids and matrix, and
  // the file applied by the reslicer equal the exact orthogonal rotation voxel for voxel.
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{5, 4, 3, 1}, [](int x, int y, int z, int) { return 100 * z + 10 * y + x; });
  vol->spc = SPC{1.0, 2.0, 3.0};
  std::unique_ptr<CVol> owned(vol);
  VA_ROT rot;
  rot.axis[0] = 3;
  rot.angle[0] = 90;
  rot.axis[1] = 1;
  rot.angle[1] = -90;
  CString path;
  ASSERT_TRUE(TW_RotOrthoSave(&rot, 0, vol->Dim(), vol->Spc(), &path));
  EXPECT_EQ(path, TW_Options().tempFolder + L"/RotOrtho.vtf");
  ASSERT_EQ(ui_.shownFiles.size(), 1u);
  EXPECT_EQ(ui_.shownFiles[0], path);
  VA_VTFINFO info;
  double* m = VTF_Load(path, &info, true);
  ASSERT_TRUE(m);
  EXPECT_EQ(info.type, VA_TRANSFORM_AFFINE);
  EXPECT_EQ(info.sourceDim.w, 5);
  EXPECT_EQ(info.sourceSpc.y, 2.0);
  ASSERT_TRUE(info.hasTarget);
  double fitted[12];
  SPC targetSpc;
  DIM3D targetDims;
  ASSERT_TRUE(VA_FitOrthoRotation_DstToSrcMatx(true, vol->Spc(), vol->Dim(), &rot, &targetSpc, &targetDims, fitted));
  EXPECT_EQ(info.targetDim.w, targetDims.w);
  EXPECT_EQ(info.targetDim.h, targetDims.h);
  EXPECT_EQ(info.targetDim.d, targetDims.d);
  EXPECT_EQ(info.targetSpc.x, targetSpc.x);
  EXPECT_EQ(info.targetSpc.z, targetSpc.z);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(m[i], fitted[i]) << i;
  EXPECT_EQ(m[15], 1.0);
  std::unique_ptr<CVol> rotated(VA_VolOrthoRotate(vol, &rot, true, true));
  ASSERT_TRUE(rotated);
  const FramePtr resliced(VA_ResliceAffine(m, vol->frame, &info.targetDim, 0, 0.0, true));
  pf_free(&m);
  ASSERT_TRUE(resliced);
  EXPECT_TRUE(PR_FramesHaveIdenticalData(resliced.get(), rotated->frame));

  // A rotation off quarter turns saves nothing.
  rot.angle[1] = 45;
  EXPECT_FALSE(TW_RotOrthoSave(&rot, 0, vol->Dim(), vol->Spc(), &path));
  EXPECT_TRUE(path.IsEmpty());
  EXPECT_EQ(ui_.shownFiles.size(), 1u);

  // The headless dialog shows the matrix rows of the rotation it opens with (direction 0).
  rot.angle[1] = -90;
  ui_.cancelValues();
  EXPECT_FALSE(TW_DlgVolRotOrtho(&rot, vol->Dim(), vol->Spc()));
  ASSERT_EQ(ui_.prompts.size(), 1u);
  ASSERT_EQ(ui_.prompts[0].size(), 10u);
  EXPECT_EQ(ui_.prompts[0][6].label, L"Matrix direction");
  EXPECT_EQ(ui_.prompts[0][7].text, FmtStr(L"%lf  %lf  %lf  %lf", fitted[0], fitted[1], fitted[2], fitted[3]));
}

TEST_F(GeometryOperations, LandmarkFileBecomesNumberedVectorRois) {
  const std::string path = twk::testing::testFile("landmarks.txt");
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import numpy as np; np.savetxt('" + path +
                         "', np.array([[1, 2, 0], [3.5, 1, 1], [0, 0, 1]]))\"")
                            .c_str()),
            0);
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(axial(DIM3D{5, 4, 2, 1}, SPC{1, 1, 1}))});
  ui_.answerOpenFile(CString::fromUtf8(path));
  ASSERT_TRUE(twk::geometry::LoadLandmarkFile(*doc->GetActiveSet(), Documents::viewOf(doc)));
  int count = 0;
  CDrawSet** rois = TW_CollectVectRoiObjects(doc->GetActiveSet(), &count);
  ASSERT_EQ(count, 3);
  for (int i = 0; i < count; ++i) EXPECT_STREQ(rois[i]->vroi->label, std::to_string(i).c_str());
  EXPECT_EQ(rois[1]->vroi->x0, 1.5);
  EXPECT_EQ(rois[1]->vroi->x1, 5.5);
  EXPECT_EQ(rois[1]->vroi->z0, 1);
  pf_free(&rois);
}

TEST_F(GeometryOperations, DiscardAlignmentRestoresTheUnalignedVoxels) {
  CVol* aligned = axial(DIM3D{4, 3, 2, 1}, SPC{1, 1, 1});
  CVol* plain = axial(DIM3D{4, 3, 2, 1}, SPC{1, 1, 1}, L"/data/plain.nii");
  FRAME* before = VA_VolCreateUniform(FRM_INT, DIM3D{4, 3, 2, 1}, 7.0, 16);
  const double transform[16] = {1, 0, 0, 2, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_TRUE(aligned->SetAlignment(&before, transform));
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(aligned), twk::testkit::makeLayer(plain)});
  doc->SetModifiedFlag(false);
  const std::vector<double> plainVoxels = voxels(plain->frame);
  twk::geometry::DiscardAlignment(*doc->GetActiveSet());
  EXPECT_TRUE(doc->IsModified());
  EXPECT_FALSE(aligned->HasAlignment());
  EXPECT_EQ(twk::voxelValue(aligned->frame, 1, 1, 1, 0), 7);
  EXPECT_EQ(aligned->alignment[3], 0);
  EXPECT_EQ(voxels(plain->frame), plainVoxels);
}

TEST_F(GeometryOperations, RowsAreAvailable) {
  for (const char* path : {"Make Isotropic", "Rotate to Axial", "Rotate & Create new volume (changes voxel size)",
                           "Rotate Orthogonal and Create new volume (preserves voxel size)", "Change resolution",
                           "Discard Alignment", "Load landmark file", "Mirror voxels along axis > Mirror Z"}) {
    const TW_COMMAND_ROW* row = TW_FindCommandRow(rowId("Transform", path));
    ASSERT_TRUE(row) << path;
    EXPECT_TRUE(TW_RowAvailable(row)) << path;
  }
  for (const char* path : {"Pad ", "Set Volume Orientation", "Change Patient Position and Orientation"})
    EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId("Volume", path)))) << path;
  EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId("ROI", "Crop Volume By ROI"))));
}

// A b-value series of 3 x 2 x 2 voxels: values t + 1, b-values 0, 0, 500, 500, 1000 (other lengths:
// 100 t).
CVol* bSeries(const wchar_t* name = L"/data/dwi.nii", int T = 5) {
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{3, 2, 2, T}, [](int, int, int, int t) { return t + 1.0; }, name);
  const double b[5] = {0, 0, 500, 500, 1000};
  for (int t = 0; t < T; ++t) vol->dyn[t].bValue = T == 5 ? b[t] : 100.0 * t;
  return vol;
}

TEST_F(GeometryOperations, AggregationNamesCountAndRefusals) {
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(bSeries())});
  CDrawSet* set = doc->GetActiveSet();
  int before = Documents::openCount();
  ui_.answerMessage(IDNO);
  ASSERT_TRUE(twk::geometry::AggregateDynamicPoints(*set, 0));
  CDrawDoc* made = lastOpened(before);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->GetActiveSet()->GetBaseVol()->name, CString(L"dwi_Aggregate"));
  EXPECT_EQ(made->GetActiveSet()->GetBaseVol()->T(), 3);
  // A refused run advances the counter too.
  CDrawDoc* timeDoc = docs_.open({twk::testkit::makeLayer(makeVolume(FRM_INT, 16, DIM3D{2, 2, 1, 3}, nullptr))},
                                 L"/data/time.twk");
  ui_.clear();
  EXPECT_FALSE(twk::geometry::AggregateDynamicPoints(*timeDoc->GetActiveSet(), 1));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::AggregateDynamicPoints : Invalid Dynamic dimension"));
  before = Documents::openCount();
  ui_.answerMessage(IDYES);
  ASSERT_TRUE(twk::geometry::AggregateDynamicPoints(*set, 1));
  made = lastOpened(before);
  ASSERT_TRUE(made);
  const CString name = made->GetActiveSet()->GetBaseVol()->name;
  EXPECT_EQ(name.Find(L"dwi_AggregateMedian_"), 0) << name.toUtf8();
  // Real volumes have no residual aggregation.
  CVol* real = bSeries(L"/data/real.nii");
  real->IntegerToReal(1.0, 0.0);
  CDrawDoc* realDoc = docs_.open({twk::testkit::makeLayer(real)}, L"/data/real.twk");
  EXPECT_FALSE(twk::geometry::AggregateDynamicPoints(*realDoc->GetActiveSet(), 2));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::AggregateDynamicPoints : Invalid Aggregate type for Real images"));
}

TEST_F(GeometryOperations, StackingThreeDLayersKeepsTheirEchoTimesAndRefusesOtherSizes) {
  auto echo = [](const wchar_t* name, double time, double te, FRMTYPE type) {
    CVol* vol = makeVolume(type, type == FRM_REAL ? 64 : 16, DIM3D{3, 2, 2, 1}, [](int x, int, int, int) { return x + 0.5; }, name);
    vol->dyn[0].time = time;
    vol->dyn[0].echoTime = te;
    return vol;
  };
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(echo(L"/data/e2.nii", 20, 0.020, FRM_INT)),
                              twk::testkit::makeLayer(echo(L"/data/e1.nii", 10, 0.010, FRM_REAL)),
                              twk::testkit::makeLayer(makeVolume(FRM_ROI, 1, DIM3D{3, 2, 2, 1}, nullptr, L"/data/m.im"))});
  CDrawDoc* made = twk::geometry::ConvertDocumentLayersTo4D(*doc);
  ASSERT_TRUE(made);
  const CVol* vol = made->GetActiveSet()->GetBaseVol();
  ASSERT_EQ(vol->T(), 2);
  EXPECT_TRUE(vol->IsReal());  // an integer and a real layer stack as real
  EXPECT_EQ(vol->dyn[0].echoTime, 0.010);  // sorted by time, each keeping its own echo time
  EXPECT_EQ(vol->dyn[1].echoTime, 0.020);
  EXPECT_EQ(twk::voxelValue(vol->frame, 1, 0, 0, 0), 1.5);
  EXPECT_EQ(twk::voxelValue(vol->frame, 1, 0, 0, 1), 2.0);  // the integer layer's rounded values

  const struct {
    std::vector<CVol*> layers;
    const wchar_t* message;
  } refused[] = {
      {{makeVolume(FRM_INT, 16, DIM3D{3, 2, 2, 2}, nullptr, L"/data/a.nii")}, L"3D volume is required"},
      {{makeVolume(FRM_ROI, 1, DIM3D{3, 2, 2, 1}, nullptr, L"/data/r.im")}, L"No suitable Source volume is found"},
      {{makeVolume(FRM_INT, 16, DIM3D{3, 2, 2, 1}, nullptr, L"/data/b.nii"),
        makeVolume(FRM_INT, 16, DIM3D{4, 2, 2, 1}, nullptr, L"/data/c.nii")},
       L"Equal dimensions are expected"},
  };
  int n = 0;
  for (const auto& r : refused) {
    std::vector<CDrawVol*> layers;
    for (CVol* v : r.layers) layers.push_back(twk::testkit::makeLayer(v));
    CDrawDoc* d = docs_.open(layers, CString(L"/data/refused") + FmtStr(L"%d", n++) + L".twk");
    const int before = Documents::openCount();
    EXPECT_EQ(twk::geometry::ConvertDocumentLayersTo4D(*d), nullptr);
    EXPECT_EQ(ui_.lastMessage(), CString(L"TW_ConvertDocumentLayersTo4D : ") + r.message);
    EXPECT_EQ(Documents::openCount(), before);
  }
}

TEST_F(GeometryOperations, DynamicAccumulateRefusesIntervalsOutsideTheSeries) {
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(bSeries())});
  CDrawSet* set = doc->GetActiveSet();
  for (std::vector<double> interval : {std::vector<double>{3, 1}, {-1, 2}, {0, 5}}) {
    ui_.answerValues(interval);
    EXPECT_FALSE(twk::geometry::DynamicAccumulate(*set, 0, true));
    EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::DynamicAccumulate : Time interval should lie in 0..4 with T0 <= T1"));
    EXPECT_EQ(set->NumLayers(), 1);
  }
  ui_.answerValues({1, 3});
  ASSERT_TRUE(twk::geometry::DynamicAccumulate(*set, 0, true));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, CString(L"signal average"));
  EXPECT_EQ(twk::voxelValue(set->GetLayerVol(1)->frame, 0, 0, 0, 0), 3.0);
  EXPECT_EQ(set->GetActive(), 1);
}

TEST_F(GeometryOperations, PrincipalComponentsCountIsCheckedAndNumbered) {
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(makeVolume(FRM_REAL, 64, DIM3D{4, 3, 2, 5},
                                                                 [](int x, int y, int z, int t) { return std::sin(x + t) + y * t + z; }))});
  CDrawSet* set = doc->GetActiveSet();
  for (double k : {0.0, 6.0}) {
    ui_.answerValues({k});
    EXPECT_FALSE(twk::geometry::Volume4DtoPCA(*set, false));
    EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::Volume4DtoPCA : Number of Principal Components should be 1..5"));
  }
  const int before = Documents::openCount();
  ASSERT_TRUE(twk::geometry::Volume4DtoPCA(*set, true));
  CDrawDoc* made = lastOpened(before);
  ASSERT_TRUE(made);
  const CVol* pca = made->GetActiveSet()->GetBaseVol();
  ASSERT_EQ(pca->T(), 5);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(pca->dyn[k].time, k + 1);
}

TEST_F(GeometryOperations, PlayShowsTheRemainingTimePointsThenTheFirstInEverySyncedDocument) {
  CDrawDoc* a = docs_.open({twk::testkit::makeLayer(bSeries(L"/data/a.nii", 10))}, L"/data/a.twk");
  CDrawDoc* b = docs_.open({twk::testkit::makeLayer(bSeries(L"/data/b.nii", 10))}, L"/data/b.twk");
  CVol* other = bSeries(L"/data/c.nii", 10);
  other->dyn[9].bValue = 999;  // one b-value differs: not played along
  CDrawDoc* c = docs_.open({twk::testkit::makeLayer(other)}, L"/data/c.twk");
  for (CDrawDoc* d : {a, b, c}) d->GetActiveSet()->FindViewProjection(Documents::viewOf(d))->timeIndex = 3;
  CDrawView* view = Documents::viewOf(a);
  int start = 0;
  a->GetActiveSet()->VolChangeSlice(view, 1, 7, 0, 0);
  start = view->CurrentDynInx();
  ASSERT_EQ(start, 7);
  ui_.answerValues({0.0});
  ui_.statusTexts.clear();
  ASSERT_TRUE(twk::geometry::Play4D(*a->GetActiveSet(), view));
  std::vector<CString> shown;
  for (const CString& text : ui_.statusTexts)
    if (text.Find(L"B-value") == 0) shown.push_back(text.Mid(text.ReverseFind(L'(')));
  EXPECT_EQ(shown, (std::vector<CString>{L"(7)", L"(8)", L"(9)", L"(0)"}));
  EXPECT_EQ(Documents::viewOf(b)->CurrentTime(), 0);
  EXPECT_EQ(Documents::viewOf(c)->CurrentTime(), 3);
}

TEST_F(GeometryOperations, DynamicRowsAreAvailable) {
  for (const char* path : {"Aggregate", "Calculate Subtraction Volume (V[t]-V[1])", "Convert 3D layers to 4D volume",
                           "Dynamic Averaging", "Dynamic Integral", "Dynamic Max", "SUV map calculation ",
                           "4D Volume to Principal Components (PCA)"})
    EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId("Dynamic Analysis", path)))) << path;
  for (const char* path : {"Time To Depth", "Depth To Time"})
    EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId("Volume", path)))) << path;
}

TEST_F(GeometryOperations, MatlabArrayLoadsAsALayer) {
  const std::string path = twk::testing::testFile("layer.mat");
  ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import numpy as np, scipy.io as sio; x, y, z = np.mgrid[0:4, 0:3, 0:2]; "
                         "sio.savemat('" + path + "', {'other': np.ones((3, 3)), 'map': (x + 10 * y + 100 * z) * 0.5})\"")
                            .c_str()),
            0);
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(axial(DIM3D{4, 3, 2, 1}, SPC{1, 1, 2}))});
  CDrawSet* set = doc->GetActiveSet();
  ui_.answerOpenFile(CString::fromUtf8(path));
  ASSERT_TRUE(twk::geometry::LoadMatlabLayer(*set));
  ASSERT_EQ(set->NumLayers(), 2);
  const CVol* layer = set->GetLayerVol(1);
  EXPECT_TRUE(layer->IsReal());
  EXPECT_EQ(twk::voxelValue(layer->frame, 3, 2, 1, 0), 0.5 * (3 + 20 + 100));
  EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId("System", "Test > Load Matlab Layer"))));
}

}  // namespace

TEST_F(GeometryOperations, ExtrapolationToTeZeroOpensTheS0DocumentWithAHiddenT2Layer) {
  const double te[4] = {0.01, 0.02, 0.04, 0.06};
  CVol* vol = makeVolume(FRM_REAL, 64, DIM3D{4, 3, 2, 4},
                         [](int x, int, int, int t) {
                           const double echo[4] = {0.01, 0.02, 0.04, 0.06};
                           return (400.0 + 50 * x) * std::exp(-echo[t] / 0.05);
                         },
                         L"/data/me.nii");
  for (int t = 0; t < 4; ++t) vol->dyn[t].echoTime = te[t];
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  const int before = Documents::openCount();
  // The smoothing dialog cancelled (no smoothing), then the air threshold.
  ui_.cancelValues();
  ui_.answerValues({0.0});
  ASSERT_TRUE(twk::geometry::ExtrapolateMultiechoToTE0(*doc->GetActiveSet()));
  CDrawDoc* made = lastOpened(before);
  ASSERT_TRUE(made);
  CDrawSet* set = made->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_NEAR(twk::voxelValue(set->GetLayerVol(0)->frame, 2, 1, 1, 0), 500.0, 1e-6);
  EXPECT_NEAR(twk::voxelValue(set->GetLayerVol(1)->frame, 2, 1, 1, 0), 0.05, 1e-9);
  EXPECT_FALSE(set->GetLayer(1)->IsMarked());
  EXPECT_EQ(set->GetLayer(1)->filter.level, 0.05);
  EXPECT_EQ(set->GetLayer(1)->filter.width, 0.1);
  // A 3D operand has no echoes to fold.
  CDrawDoc* flat = docs_.open({twk::testkit::makeLayer(makeVolume(FRM_INT, 16, DIM3D{3, 3, 2, 1}, nullptr))},
                              L"/data/flat.twk");
  EXPECT_FALSE(twk::geometry::ExtrapolateMultiechoToTE0(*flat->GetActiveSet()));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::ExtrapolateMultiechoToTE0 : 4D volume is required"));
}

TEST_F(GeometryOperations, IvimResidualNeedsItsThreeParameterLayers) {
  const double b[5] = {0, 50, 200, 500, 800};
  CVol* series = makeVolume(FRM_REAL, 64, DIM3D{3, 2, 2, 5},
                            [](int, int, int, int t) {
                              const double bv[5] = {0, 50, 200, 500, 800};
                              return 1000.0 * (0.9 * std::exp(-bv[t] * 0.001) + 0.1 * std::exp(-bv[t] * 0.03));
                            },
                            L"/data/ivim.nii");
  for (int t = 0; t < 5; ++t) series->dyn[t].bValue = b[t];
  auto uniform = [](const wchar_t* name, double value) {
    return makeVolume(FRM_REAL, 64, DIM3D{3, 2, 2, 1}, [value](int, int, int, int) { return value; }, name);
  };
  auto map = [&](const wchar_t* name, double value) { return twk::testkit::makeLayer(uniform(name, value)); };
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(series), map(L"/data/f microcirculation.nii", 0.1),
                              map(L"/data/Dt component.nii", 0.001)});
  CDrawSet* set = doc->GetActiveSet();
  EXPECT_FALSE(twk::geometry::RestoreIvimResidualMap(*set));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::RestoreIvimResidualMap : Missing parameter map layer"));
  EXPECT_EQ(set->NumLayers(), 3);
  CVol* dp = uniform(L"/data/Dp component.nii", 0.03);
  ASSERT_TRUE(set->AddLayer(&dp, 100, 0, 0));
  delete dp;
  ASSERT_TRUE(twk::geometry::RestoreIvimResidualMap(*set));
  ASSERT_EQ(set->NumLayers(), 5);
  EXPECT_EQ(set->GetLayerVol(4)->name, CString(L"rmse"));
  EXPECT_NEAR(twk::voxelValue(set->GetLayerVol(4)->frame, 1, 1, 1, 0), 0.0, 1e-9);
}

TEST_F(GeometryOperations, TimepointOfVectorRoiPeakMovesEveryView) {
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{8, 8, 2, 6},
                         [](int x, int y, int, int t) { return x >= 5 && y >= 5 ? 100 - (t - 2) * (t - 2) : 10 * t; });
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  // Without a seed the seed box names what is missing.
  EXPECT_FALSE(twk::geometry::AdvanceToTimepointOfVroiPeak(*set, view));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::ExtractOperSeedBox : At least one seed is expected"));
  const double box[6] = {5, 5, 0, 7, 7, 1};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, box, 0, 0, "peak"));
  ASSERT_TRUE(twk::geometry::AdvanceToTimepointOfVroiPeak(*set, view));
  EXPECT_EQ(view->CurrentTime(), 2);
  EXPECT_TRUE(doc->IsModified());
  CDrawDoc* flat = docs_.open({twk::testkit::makeLayer(makeVolume(FRM_INT, 16, DIM3D{3, 3, 2, 1}, nullptr))},
                              L"/data/flat.twk");
  EXPECT_FALSE(twk::geometry::AdvanceToTimepointOfVroiPeak(*flat->GetActiveSet(), Documents::viewOf(flat)));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::AdvanceToTimepointOfVroiPeak : 4D volume is required"));
}

TEST_F(GeometryOperations, Basic4DGradientLayerAndRefusals) {
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{4, 3, 2, 3}, [](int x, int, int, int t) { return 3 * x + 2 * t; });
  for (int t = 0; t < 3; ++t) vol->dyn[t].time = 10.0 * t;
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_TRUE(twk::geometry::Basic4Dgradient(*set));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetActive(), 1);
  EXPECT_NEAR(twk::voxelValue(set->GetLayerVol(1)->frame, 1, 1, 1, 1), std::sqrt(9 + 0.04), 1e-12);
  CDrawDoc* flat = docs_.open({twk::testkit::makeLayer(makeVolume(FRM_INT, 16, DIM3D{3, 3, 2, 1}, nullptr))},
                              L"/data/flat.twk");
  EXPECT_FALSE(twk::geometry::Basic4Dgradient(*flat->GetActiveSet()));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::Basic4Dgradient : 4D volume is required"));
}

TEST_F(GeometryOperations, NewDynamicRowsAreAvailable) {
  for (const auto& [menu, path] : std::vector<std::pair<const char*, const char*>>{
           {"Dynamic Analysis", "Extrapolate Multi-echo volume into TE=0"},
           {"Dynamic Analysis", "Basic 4D Gradient"},
           {"System", "Test > Restore IVIM Residual Map (Model 18)"},
           {"Dynamic Analysis", "Image Gradient Average over Time"},
           {"Workflows", "Breast BPE map analysis > BPE Slope Map Generation and Report"},
           {"Volume", "Multiscale Texture Gradient with 4D Max"},
           {"Transform", "Rotate Active layer using sector"},
           {"Transform", "Translate Active layer using vector"},
           {"Volume", "Advance to > Timepoint of Vector ROI peak"}})
    EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId(menu, path)))) << path;
}

TEST_F(GeometryOperations, LineGuideMovesNeedTheirPolylineAndEachLayerCanBeUndone) {
  CVol* a = makeVolume(FRM_INT, 16, DIM3D{12, 10, 1, 1}, [](int x, int y, int, int) { return 1 + x + 20 * y; });
  CVol* b = makeVolume(FRM_INT, 16, DIM3D{12, 10, 1, 1}, [](int x, int, int, int) { return 500 + x; }, L"/data/b.nii");
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(a), twk::testkit::makeLayer(b)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  const std::vector<double> originalA = voxels(a->frame), originalB = voxels(b->frame);
  set->position = DRECT{0, 0, 120, 100};  // the set's place in the world
  // A guide through voxel centres, in the view's world coordinates.
  auto guide = [&](std::vector<DPOINT3D> voxelPoints) {
    const double plane[3] = {0, 0, 0};
    auto* poly = new CDrawPoly(1, int(voxelPoints.size()), false, 0, false, 0, plane);
    poly->pointsPerContour[0] = int(voxelPoints.size());
    for (size_t i = 0; i < voxelPoints.size(); ++i) {
      const DPOINT3D& p = voxelPoints[i];
      const DRECT3D box{p.x, p.y, p.z, p.x, p.y, p.z};
      DRECT r;
      EXPECT_TRUE(set->VolBoxToWorldRect(view, &box, 0, &r));
      poly->points[i] = DPOINT{(r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2};
    }
    CDrawObj* obj = poly;
    doc->AddObject(&obj, true);
    doc->selection = {poly};
    return poly;
  };
  TW_EditOptions().defaultInterpolation = VA_INTERP_NEAREST;
  // Nothing selected, a three-point guide for the shift, a two-point one for the sector.
  doc->selection.clear();
  EXPECT_FALSE(twk::geometry::TranslateUsingLineGuide(*set, view));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::TranslateUsingLineGuide : Polyline object should be selected"));
  EXPECT_FALSE(twk::geometry::RotateUsingLineGuides(*set, view));
  EXPECT_EQ(ui_.lastMessage(),
            CString(L"CDrawSet::RotateUsingLineGuides : Single object should be present or selected in the destination document"));
  CDrawPoly* three = guide({{2, 2, 0}, {4, 2, 0}, {4, 4, 0}});
  EXPECT_FALSE(twk::geometry::TranslateUsingLineGuide(*set, view));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::TranslateUsingLineGuide : Single line segment is required"));
  doc->RemoveObject(three);
  delete three;
  CDrawPoly* two = guide({{2, 2, 0}, {5, 3, 0}});
  EXPECT_FALSE(twk::geometry::RotateUsingLineGuides(*set, view));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::RotateUsingLineGuides : Polyline with 3 points is required"));
  EXPECT_EQ(voxels(a->frame), originalA);
  // The shift by (3, 1) moves both marked layers and removes the guide.
  ASSERT_TRUE(twk::geometry::TranslateUsingLineGuide(*set, view)) << ui_.lastMessage().toUtf8();
  EXPECT_EQ(twk::voxelValue(a->frame, 5, 4, 0, 0), 1 + 2 + 20 * 3);
  EXPECT_EQ(twk::voxelValue(b->frame, 5, 4, 0, 0), 502);
  EXPECT_EQ(twk::voxelValue(a->frame, 0, 0, 0, 0), 0);
  int count = 0;
  CDrawObj** polylines = doc->GetObjectsArray(&count);
  pf_free(&polylines);
  EXPECT_EQ(count, 0);
  (void)two;
  // One undo record per layer: two steps give both layers back.
  ASSERT_TRUE(doc->Undo());
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(voxels(a->frame), originalA);
  EXPECT_EQ(voxels(b->frame), originalB);
  TW_EditOptions().defaultInterpolation = 1;
}

TEST_F(GeometryOperations, GradientOfTheAverageOverTimeIsDrawnInsideTheRoi) {
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{6, 5, 1, 3}, [](int x, int, int, int t) { return 10 + 2 * x + t; });
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{6, 5, 1, 1}, [](int x, int y, int, int) { return x >= 2 && x <= 3 && y == 2; },
                         L"/data/roi.nii");
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  // Without an ROI nothing happens.
  EXPECT_FALSE(twk::geometry::ImageGradientAverageOverTime(*set, view));
  EXPECT_EQ(set->NumLayers(), 1);
  ASSERT_TRUE(set->AddLayer(&roi, 20, 0, 0));
  ASSERT_TRUE(twk::geometry::ImageGradientAverageOverTime(*set, view));
  ASSERT_EQ(set->NumLayers(), 3);
  EXPECT_EQ(twk::voxelValue(set->GetLayerVol(2)->frame, 4, 0, 0, 0), 8.0);  // mean 19 less the smallest 11
  int count = 0;
  CDrawObj** lines = doc->GetObjectsArray(&count);
  pf_free(&lines);
  EXPECT_EQ(count, 2);  // one per ROI voxel
}

TEST_F(GeometryOperations, BreastEnhancementMapIsAddedAndItsReportShown) {
  CVol* vol = makeVolume(FRM_INT, 16, DIM3D{8, 2, 1, 3}, [](int x, int, int, int t) { return t == 0 ? 100 : 100 + 10 * x + 6 * (t - 1); });
  for (int t = 0; t < 3; ++t) vol->dyn[t].time = vol->dyn[t].timeEnd = 60.0 * t;
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{8, 2, 1, 1}, [](int, int, int, int) { return 1; }, L"/data/breast.nii");
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi)});
  CDrawSet* set = doc->GetActiveSet();
  set->SetActive(0);
  ui_.answerValues({45});
  ui_.answerMessage(IDNO);
  ASSERT_TRUE(twk::geometry::BPEmapAnalysisAndReport(*set, false));
  ASSERT_EQ(set->NumLayers(), 3);
  // The layer is named as a path: "BPE map _45.0 pct" shows as its title.
  EXPECT_EQ(set->GetLayerVol(2)->name.Find(L"BPE map _45"), 0) << set->GetLayerVol(2)->name.toUtf8();
  EXPECT_NEAR(twk::voxelValue(set->GetLayerVol(2)->frame, 6, 0, 0, 0), 6.0, 1e-9);
  ASSERT_EQ(ui_.shownFileTexts.size(), 1u);
  EXPECT_NE(ui_.shownFileTexts[0].Find(L"16\t0.0320\t6\t0.0120\t37.5000"), -1) << ui_.shownFileTexts[0].toUtf8();
  // An echo-time series is no contrast series.
  for (int t = 0; t < 3; ++t) {
    vol->dyn[t].time = vol->dyn[t].timeEnd = 0;
    vol->dyn[t].echoTime = 0.01 * (t + 1);
  }
  EXPECT_FALSE(twk::geometry::BPEmapAnalysisAndReport(*set, false));
  EXPECT_EQ(ui_.lastMessage(), CString(L"CDrawSet::BPEmapAnalysisAndReport : Time dynamic dimension is required"));
}

TEST_F(GeometryOperations, TextureGradientMaximumOverTimeLayer) {
  CVol* vol = makeVolume(FRM_REAL, 64, DIM3D{10, 8, 4, 2}, [](int x, int, int, int t) { return x < 5 ? 10.0 : 40.0 + t; },
                         L"/data/kidney.nii");
  CDrawDoc* doc = docs_.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  // Metric, weights, magnitude, coefficient, low and high radius (1.5 snaps to sqrt(2)).
  ui_.answerValues({0, 0, 0, 1.0, 1.0, 1.5});
  ASSERT_TRUE(twk::geometry::AggregateGrad4D(*set));
  EXPECT_NEAR(g_UralGradParms.highRadius, std::sqrt(2.0), 1e-12);
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, CString(L"kidney_AggregateGrad4D"));
  EXPECT_EQ(set->GetActive(), 1);
  EXPECT_GT(twk::voxelValue(set->GetLayerVol(1)->frame, 5, 4, 2, 0), 0.0);
  ui_.cancelValues();
  EXPECT_FALSE(twk::geometry::AggregateGrad4D(*set));
  EXPECT_EQ(set->NumLayers(), 2);
}
