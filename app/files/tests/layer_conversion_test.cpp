// Layer conversions (ROI to labels, real to integer, signal to a real map, mosaic to volume), the
// duplicate of a layer, the VIBE/GRASP merge command and the atlas-document lookup, with the values
// each should give worked out in the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "ExternalTools.h"
#include "FilesTestKit.h"
#include "DocumentFile.h"
#include "DocumentFolder.h"
#include "LayerConversions.h"
#include "LayerMerge.h"
#include "Vol.h"
#include "dicom/DicomVolume.h"
#include "seriesmerge/VibeGraspMerge.h"
#include "volume/VoxelAccess.h"

using namespace twk::filestest;
namespace fs = std::filesystem;

namespace {

// A document with one set of the given layers (all marked, the first active); the document owns them.
CDrawDoc* documentOf(std::vector<CVol*> volumes, const wchar_t* title = L"doc") {
  auto* doc = new CDrawDoc;
  doc->SetTitle(title);
  auto* set = new CDrawSet(doc);
  for (CVol* v : volumes) set->AppendLayer(makeLayer(v));
  set->SetActive(0);
  CDrawObj* obj = set;
  doc->AddObject(&obj, true);
  return doc;
}

class LayerConversion : public DocumentFileTest {
 protected:
  void TearDown() override {
    int count = 0;
    CDrawDoc** all = TW_GetAllDocuments(&count);
    for (int i = 0; i < count; ++i) delete all[i];
    pf_free(&all);
    DocumentFileTest::TearDown();
  }
  static double voxel(const CVol* v, int x, int y, int z, int t = 0) { return twk::voxelValue(v->frame, x, y, z, t); }
};

TEST_F(LayerConversion, RoiBecomesAnIntegerLayerOfOnesUnlessTwoRoisAreMarked) {
  CDrawDoc* doc = documentOf({makeVolume(FRM_INT, 6, 5, 3, 1, L"base.nii", 16), makeVolume(FRM_ROI, 6, 5, 3, 1, L"lesion.im")});
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_TRUE(twk::files::RoiToIntegerLayer(*set));
  ASSERT_EQ(set->NumLayers(), 3);
  EXPECT_EQ(set->GetActive(), 2);
  const CVol* labels = set->GetActiveVol();
  EXPECT_EQ(labels->name, L"lesion_integer.im");
  EXPECT_TRUE(labels->IsINT());
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) ASSERT_EQ(voxel(labels, x, y, z), (x + y + z) % 2 == 0 ? 1.0 : 0.0);
  // A second marked ROI: the ambiguity, without a prefix, and nothing added.
  set->AppendLayer(makeLayer(makeVolume(FRM_ROI, 6, 5, 3, 1, L"other.im")));
  ui.clear();
  EXPECT_FALSE(twk::files::RoiToIntegerLayer(*set));
  EXPECT_EQ(ui.messages, std::vector<CString>{TW_AMBIGUOUS_LAYERS});
  EXPECT_EQ(set->NumLayers(), 4);
}

TEST_F(LayerConversion, RealToIntegerReplacesTheRealLayerOrRefusesValuesOutOfRange) {
  CDrawDoc* doc = documentOf({makeVolume(FRM_REAL, 6, 5, 3, 1, L"map.nii"), makeVolume(FRM_INT, 6, 5, 3, 1, L"t1.nii", 16)});
  CDrawSet* set = doc->GetActiveSet();
  ui.answerValues({8});
  ASSERT_TRUE(twk::files::VolumeConversion_REALtoINT(*set, 16, true));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(0)->name, L"t1.nii");
  const CVol* converted = set->GetLayerVol(1);
  EXPECT_EQ(converted->name, L"map_integer");
  EXPECT_EQ(converted->frame->bpv, 8);
  for (int z = 0; z < 3; ++z)  // the real voxels are (x + 10y + 100z) / 4, rounded half away from zero
    for (int x = 0; x < 6; ++x) ASSERT_EQ(voxel(converted, x, 4, z), std::floor((x + 40 + 100 * z) / 4.0 + 0.5));

  // A negative value cannot be held: refused with the range, the set unchanged.
  CVol* signedMap = makeVolume(FRM_REAL, 6, 5, 3, 1, L"signed.nii");
  twk::setVoxelValue(signedMap->frame, 1, 1, 1, 0, -3.5);
  set->AppendLayer(makeLayer(signedMap));
  set->SetLayerMarked(set->GetLayerVol(0), false);
  set->SetActive(2);
  ui.clear();
  EXPECT_FALSE(twk::files::VolumeConversion_REALtoINT(*set, 8, false));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::VolumeConversion_REALtoINT : Values from -3.5 to 61.25 do not fit the range 0 .. 255 of 8 bits");
  EXPECT_EQ(set->NumLayers(), 3);
  EXPECT_EQ(set->GetActiveVol(), signedMap);
}

TEST_F(LayerConversion, SignalToRealMapAndDuplicate) {
  CDrawDoc* doc = documentOf({makeVolume(FRM_INT, 6, 5, 3, 1, L"t1.nii", 16), makeVolume(FRM_ROI, 6, 5, 3, 1, L"roi.im")});
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_TRUE(twk::files::SiVolumeToParamMap(*set));
  const CVol* real = set->GetActiveVol();
  EXPECT_EQ(real->name, L"t1_real.nii");
  EXPECT_TRUE(real->IsReal());
  EXPECT_EQ(voxel(real, 5, 4, 2), 5 + 40 + 200);

  set->SetActive(0);
  set->GetLayer(0)->filter.level = 77;
  ASSERT_TRUE(twk::files::CloneLayer(*set));
  EXPECT_EQ(set->GetActiveVol()->name, L"t1_copy");
  EXPECT_EQ(set->GetActiveLayer()->filter.level, 77);
  EXPECT_EQ(0, std::memcmp(set->GetActiveVol()->frame->data, set->GetLayerVol(0)->frame->data,
                           size_t(PR_FrameMemSize(set->GetLayerVol(0)->frame))));
}

TEST_F(LayerConversion, MosaicSplitsIntoItsTilesInANewDocument) {
  const std::string out = (fs::path(scratch_.folder().toUtf8()) / "mosaic").string();
  std::string log;
  ASSERT_EQ(twk::test::runCommand("/usr/bin/python3 " + std::string(TWK_SOURCE_DIR) +
                                      "/platform/basalt/dicom/testdata/make_series.py mosaictiles " + out,
                                  &log),
            0)
      << log;
  const CString files[] = {CString::fromUtf8(out + "/tiles_0.dcm"), CString::fromUtf8(out + "/tiles_1.dcm")};
  const wchar_t* list[] = {files[0], files[1]};
  CVol* mosaic = VA_LoadDicomVolume(list, 2, false);
  ASSERT_TRUE(mosaic);
  ASSERT_EQ(mosaic->D(), 1);
  ASSERT_EQ(mosaic->T(), 2);
  CDrawDoc* doc = documentOf({mosaic});
  ASSERT_TRUE(twk::files::Convert2DmosaicToVolume(*doc->GetActiveSet(), false));
  EXPECT_TRUE(ui.prompts.empty());  // the count stands in the header
  int count = 0;
  CDrawDoc** all = TW_GetAllDocuments(&count);
  ASSERT_EQ(count, 2);
  CDrawDoc* made = all[1];
  pf_free(&all);
  const CVol* vol = made->GetActiveSet()->GetBaseVol();
  ASSERT_EQ(vol->W(), 8);
  ASSERT_EQ(vol->H(), 8);
  ASSERT_EQ(vol->D(), 7);
  ASSERT_EQ(vol->T(), 2);
  for (int t = 0; t < 2; ++t)
    for (int k = 0; k < 7; ++k) ASSERT_EQ(voxel(vol, 3, 5, k, t), 10 * k + 3 + 10 + 100 * t) << k << " " << t;
  EXPECT_TRUE(made->IsModified());

  // A count the tiles cannot hold is refused by the split, nothing made.
  ui.answerValues({5});
  EXPECT_FALSE(twk::files::Convert2DmosaicToVolume(*doc->GetActiveSet(), true));
  EXPECT_EQ(TW_GetAllDocuments(&count) ? count : 0, 2);
}

TEST_F(LayerConversion, MergeAsksItsValuesAndRefusesMoreThanTwoDocuments) {
  const SPC spc{2, 2, 3};
  auto blob = [](int x, int y, int z) { return 100.0 + 50.0 * std::exp(-((x - 10) * (x - 10) + (y - 9) * (y - 9) + (z - 3) * (z - 3)) / 30.0); };
  CVol* vibe = makeVolume(FRM_INT, 20, 18, 6, 1, L"vibe.nii", 16);
  CVol* grasp = makeVolume(FRM_INT, 20, 18, 6, 4, L"grasp.nii", 16);
  for (int z = 0; z < 6; ++z)
    for (int y = 0; y < 18; ++y)
      for (int x = 0; x < 20; ++x) {
        twk::setVoxelValue(vibe->frame, x, y, z, 0, 2 * blob(x, y, z));
        for (int t = 0; t < 4; ++t) twk::setVoxelValue(grasp->frame, x, y, z, t, blob(x, y, z));
      }
  vibe->spc = grasp->spc = spc;
  CDrawDoc* vibeDoc = documentOf({vibe}, L"vibe");
  documentOf({grasp}, L"grasp");
  CDrawDoc* third = documentOf({makeVolume(FRM_INT, 4, 4, 2, 1, L"x.nii", 16)}, L"third");
  EXPECT_FALSE(twk::files::ConcatenateVibeGrasp(*vibeDoc->GetActiveSet()));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::ConcatenateVibeGrasp : Exactly two open documents are required");
  delete third;

  // No ROI: asked whether to go on; axis 1.6 is stored as 2; no "norm layer" in the result.
  ui.clear();
  ui.answerMessage(IDYES).answerValuesText({L"1.6", L"0"}).answerValues({5}).answerValues({2});
  ASSERT_TRUE(twk::files::ConcatenateVibeGrasp(*vibeDoc->GetActiveSet()));
  EXPECT_EQ(ui.messages.front(), L"Normalization ROI over VIBE is not present.\nProceed anyway?");
  EXPECT_EQ(TW_VibeGraspParms().axis, 2);
  EXPECT_EQ(TW_VibeGraspParms().graspFrames, 2);
  int count = 0;
  CDrawDoc** all = TW_GetAllDocuments(&count);
  ASSERT_EQ(count, 3);
  const CDrawSet* merged = all[2]->GetActiveSet();
  pf_free(&all);
  ASSERT_EQ(merged->NumLayers(), 1);
  EXPECT_EQ(merged->GetBaseVol()->T(), 5);
  EXPECT_EQ(merged->FindVolumeLayer(L"norm layer", true), -1);
  TW_VibeGraspParms() = VA_VIBEGRASPPARMS();
}

TEST_F(LayerConversion, AtlasDocumentIsFoundByAPartOfItsTitle) {
  documentOf({makeVolume(FRM_INT, 4, 4, 2, 1, L"a.nii", 16)}, L"Mouse brain ATLAS v2");
  documentOf({makeVolume(FRM_INT, 4, 4, 2, 1, L"b.nii", 16)}, L"case 12");
  CDrawDoc* mouse = TW_GetDocumentWithNameParts(L"Mouse");
  ASSERT_TRUE(mouse);
  EXPECT_EQ(mouse->GetTitle(), L"Mouse brain ATLAS v2");
  EXPECT_EQ(TW_GetDocumentWithNameParts(L"Rat"), nullptr);
  documentOf({makeVolume(FRM_INT, 4, 4, 2, 1, L"c.nii", 16)}, L"mouse atlas old");
  ui.clear();
  EXPECT_EQ(TW_GetDocumentWithNameParts(L"mouse"), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"TW_GetDocumentWithNameParts : More than one suitable document is present");
}

TEST_F(LayerConversion, RoiTissueT1IsKeptByTheDocument) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  CVol* roi = doc->GetActiveSet()->GetLayerVol(2);
  ASSERT_TRUE(roi->IsROI());
  roi->tissue.t1 = 1.375;
  const CString path = scratch_.file("t1.twk");
  ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->GetActiveSet()->GetLayerVol(2)->tissue.t1, 1.375);
  EXPECT_EQ(back->GetActiveSet()->GetLayerVol(0)->tissue.t1, 0.0);
}

TEST_F(LayerConversion, FolderOfDocumentsOpensEveryDocument) {
  const std::string folder = (fs::path(scratch_.folder().toUtf8()) / "docs").string();
  fs::create_directories(folder);
  ui.clear();
  EXPECT_FALSE(TWK_LoadAllTwkDocuments(CString::fromUtf8(folder)));
  EXPECT_EQ(ui.lastMessage(), L"TWK_LoadAllTwkDocuments : No TWK files are found");
  for (const char* name : {"a.twk", "b.twk"}) {
    std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
    ASSERT_TRUE(doc->Save(CString::fromUtf8(folder + "/" + name), nullptr, false, false, false));
  }
  std::ofstream(folder + "/notes.txt") << "not a document\n";
  ASSERT_TRUE(TWK_LoadAllTwkDocuments(CString::fromUtf8(folder)));
  int count = 0;
  CDrawDoc** all = TW_GetAllDocuments(&count);
  pf_free(&all);
  EXPECT_EQ(count, 2);
}

}  // namespace
