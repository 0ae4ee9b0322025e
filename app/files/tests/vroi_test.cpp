// Vector-ROI files and the vector-ROI commands of a layer set: the writer's bytes against a
// python3 script's, the reader's damaged and odd files, round trips, save, load, delete, list,
// 2D to 3D and the queries.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "DocHooks.h"
#include "FilesTestKit.h"
#include "VectRoiFile.h"
#include "VectRois.h"

namespace twk::filestest {
namespace {

std::vector<uint8_t> utf16(const std::wstring& text) {
  std::vector<uint8_t> out;
  for (wchar_t c : text) {
    out.push_back(uint8_t(uint32_t(c) & 0xFF));
    out.push_back(uint8_t((uint32_t(c) >> 8) & 0xFF));
  }
  return out;
}

HIGHOBJ record(const char* label, int t0, int t1, double x0, double y0, double z0, double x1, double y1, double z1) {
  HIGHOBJ r;
  std::strncpy(r.label, label, sizeof r.label - 1);
  r.kind = HIGHOBJ_VECTOR_ROI;
  r.shape = HIGHOBJ_SHAPE_BOX;
  r.t0 = t0;
  r.t1 = t1;
  r.x0 = x0;
  r.y0 = y0;
  r.z0 = z0;
  r.x1 = x1;
  r.y1 = y1;
  r.z1 = z1;
  return r;
}

class VectRoiFileTest : public DocumentFileTest {
 protected:
  void SetUp() override {
    DocumentFileTest::SetUp();
    doc_.reset(makeFixtureDocument());
    set_ = doc_->GetActiveSet();
    PR_ResetAllocMemInfo();
  }
  // Reads a file; the outputs keep their sentinels when it fails.
  HIGHOBJ* read(const CString& path, uint32_t** colours, uint32_t* n) {
    *colours = reinterpret_cast<uint32_t*>(uintptr_t(0x1));
    *n = 77;
    return TW_ReadVectRoiFile(set_, path.GetString(), colours, n);
  }
  int vectRoiCount() {
    int n = 0;
    CDrawSet** sets = TW_CollectVectRoiObjects(set_, &n);
    pf_free(&sets);
    return n;
  }
  std::unique_ptr<CDrawDoc> doc_;
  CDrawSet* set_ = nullptr;
};

TEST_F(VectRoiFileTest, TheWritersBytesEqualAPythonScriptsAndReadBack) {
  // "café" in the narrow code page, a negative and a tiny coordinate, a large time point.
  HIGHOBJ a = record("caf\xe9 1", 0, 3, 12.5, -3.25, 0, 40.125, 17, 1);
  HIGHOBJ b = record("", 7, 12, 1e-7, 2.0 / 3.0, 123456.789, 1e300, 0.5, 29);
  HIGHOBJ* records[2] = {&a, &b};
  const uint32_t colours[2] = {0x00FF00, 0x123456};
  const CString path = scratch_.file("two.vroi"), expected = scratch_.file("python.vroi");
  ASSERT_EQ(TW_WriteVectRoiFile(records, colours, 2, path.GetString()), 1);

  const std::string script = (std::filesystem::path(scratch_.folder().toUtf8()) / "write.py").string();
  std::ofstream(script) << R"PY(import sys
rois = [("caf\u00e9 1", 0x00FF00, 0, 3, (12.5, 40.125, -3.25, 17.0, 0.0, 1.0)),
        ("", 0x123456, 7, 12, (1e-7, 1e300, 2.0 / 3.0, 0.5, 123456.789, 29.0))]
text = "Number of ROIs=%u\n" % len(rois)
for label, colour, t0, t1, box in rois:
    text += "Roi Label=%s\ncolor=%u\nt0=%u\nt1=%u\n" % (label, colour, t0, t1)
    for key, value in zip(("x0", "x1", "y0", "y1", "z0", "z1"), box):
        text += "%s=%s\n" % (key, '%e' % value)
open(sys.argv[1], "wb").write(text.encode("utf-16-le"))
)PY";
  ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + expected.toUtf8() + "'").c_str()), 0);
  EXPECT_EQ(readAll(path), readAll(expected));

  uint32_t* colours2 = nullptr;
  uint32_t n = 0;
  HIGHOBJ* back = read(path, &colours2, &n);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(n, 2u);
  EXPECT_STREQ(back[0].label, "caf\xe9 1");
  EXPECT_STREQ(back[1].label, "");
  EXPECT_EQ(colours2[0], 0x00FF00u);
  EXPECT_EQ(colours2[1], 0x123456u);
  for (int i = 0; i < 2; ++i) {
    const HIGHOBJ& in = *records[i];
    const HIGHOBJ& out = back[i];
    EXPECT_EQ(out.owner, set_);
    EXPECT_EQ(out.kind, HIGHOBJ_VECTOR_ROI);
    EXPECT_EQ(out.shape, HIGHOBJ_SHAPE_BOX);
    EXPECT_EQ(out.t0, in.t0);
    EXPECT_EQ(out.t1, in.t1);
    const double ins[6] = {in.x0, in.y0, in.z0, in.x1, in.y1, in.z1};
    const double outs[6] = {out.x0, out.y0, out.z0, out.x1, out.y1, out.z1};
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(outs[k], ins[k], std::fabs(ins[k]) * 1e-6) << i << " " << k;
  }
  pf_free(&back);
  pf_free(&colours2);
}

TEST_F(VectRoiFileTest, TheReaderHandlesMissingLinesOddCountsAndForeignFiles) {
  const std::wstring block = L"Roi Label=a\ncolor=255\nt0=1\nt1=2\nx0=1.0e+00\nx1=2.0e+00\ny0=3.0e+00\n"
                             L"y1=4.0e+00\nz0=5.0e+00\nz1=6.0e+00\n";
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool reads;
    uint32_t count;
  };
  std::vector<uint8_t> utf8Bytes;
  for (char c : std::string("Number of ROIs=1\nRoi Label=a\n")) utf8Bytes.push_back(uint8_t(c));
  const std::vector<Case> cases = {
      {"empty list", utf16(L"Number of ROIs=0\n"), true, 0},
      {"no colour", utf16(L"Number of ROIs=1\nRoi Label=b\nt0=4\nt1=9\nx0=1.5e+00\nx1=2.0e+00\n"), true, 1},
      {"no label", utf16(L"Number of ROIs=2\n" + block + L"color=1\nt0=1\n"), false, 0},
      {"truncated", utf16(L"Number of ROIs=2\n" + block), false, 0},
      {"huge count", utf16(L"Number of ROIs=4294967295\n" + block), false, 0},
      {"count not a number", utf16(L"Number of ROIs=two\n" + block), false, 0},
      {"utf-8", utf8Bytes, false, 0},
      {"empty file", {}, false, 0},
  };
  for (const Case& c : cases) {
    const CString path = scratch_.file("case.vroi");
    writeAll(path, c.bytes);
    uint32_t* colours = nullptr;
    uint32_t n = 0;
    HIGHOBJ* records = read(path, &colours, &n);
    EXPECT_EQ(records != nullptr, c.reads) << c.name;
    if (!records) {
      EXPECT_EQ(n, 77u) << c.name << ": outputs unchanged";
      continue;
    }
    EXPECT_EQ(n, c.count) << c.name;
    pf_free(&records);
    pf_free(&colours);
  }

  // The colour defaults to green and the keys after it still load; missing lines leave zeros.
  const CString path = scratch_.file("nocolour.vroi");
  writeAll(path, utf16(L"Number of ROIs=2\nRoi Label=b\nt0=4\nt1=9\nx0=1.5e+00\nx1=2.0e+00\n" + block));
  uint32_t* colours = nullptr;
  uint32_t n = 0;
  HIGHOBJ* records = read(path, &colours, &n);
  ASSERT_NE(records, nullptr);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(colours[0], 65280u);
  EXPECT_EQ(records[0].t0, 4);
  EXPECT_EQ(records[0].t1, 9);
  EXPECT_EQ(records[0].x0, 1.5);
  EXPECT_EQ(records[0].x1, 2.0);
  EXPECT_EQ(records[0].y0, 0.0);
  EXPECT_EQ(records[0].z1, 0.0);
  EXPECT_STREQ(records[1].label, "a");
  EXPECT_EQ(colours[1], 255u);
  EXPECT_EQ(records[1].z1, 6.0);
  pf_free(&records);
  pf_free(&colours);
  uint64_t peak = 0, largest = 0;
  PR_GetAllocMemInfo(&peak, &largest, false);
  EXPECT_LT(largest, uint64_t(1) << 20) << "the huge count is refused before allocating";
}

TEST_F(VectRoiFileTest, ALongLabelIsCutTo127Characters) {
  const std::wstring label(300, L'\u00e9');
  const CString path = scratch_.file("long.vroi");
  writeAll(path, utf16(L"Number of ROIs=1\nRoi Label=" + label + L"\ncolor=1\n"));
  uint32_t* colours = nullptr;
  uint32_t n = 0;
  HIGHOBJ* records = read(path, &colours, &n);
  ASSERT_NE(records, nullptr);
  EXPECT_EQ(std::strlen(records[0].label), 127u);
  EXPECT_EQ(uint8_t(records[0].label[126]), 0xE9);
  pf_free(&records);
  pf_free(&colours);
}

TEST_F(VectRoiFileTest, SaveAndLoadCarryTheSetsRoisOverAnotherDocument) {
  // Nothing to save: the message, and no picker is asked.
  std::unique_ptr<CDrawDoc> bare(new CDrawDoc);
  auto* bareSet = new CDrawSet(bare.get());
  bareSet->AppendLayer(makeLayer(makeVolume(FRM_INT, 8, 6, 4, 1, L"/data/other.nii", 16)));
  add(bare.get(), bareSet);
  EXPECT_FALSE(twk::files::VectRoiSave(*bareSet));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::VectRoiSave : There are no VROIs in this document");
  EXPECT_FALSE(ui.pendingAnswers());

  const CString path = scratch_.file("saved.vroi");
  ui.answerSaveFile(path);
  ASSERT_TRUE(twk::files::VectRoiSave(*set_));
  EXPECT_FALSE(twk::files::VectRoiLoad(*bareSet, scratch_.file("missing.vroi").GetString()));
  EXPECT_EQ(ui.lastMessage(), L"Failed to load " + scratch_.file("missing.vroi"));
  ui.answerOpenFile(path);
  ASSERT_TRUE(twk::files::VectRoiLoad(*bareSet, nullptr));
  int n = 0;
  CDrawSet** loaded = TW_CollectVectRoiObjects(bareSet, &n);
  ASSERT_EQ(n, 2);
  EXPECT_STREQ(loaded[0]->vroi->label, "tumour");
  EXPECT_STREQ(loaded[1]->vroi->label, "reference");
  EXPECT_EQ(loaded[1]->vroi->owner, bareSet);
  EXPECT_EQ(loaded[1]->style.fillColor, COLORREF(0x123456));
  EXPECT_DOUBLE_EQ(loaded[1]->vroi->z1, 2.5);
  EXPECT_TRUE(bare->IsModified());
  pf_free(&loaded);
  // A vector ROI is no volume set: it neither saves nor loads.
  EXPECT_FALSE(twk::files::VectRoiLoad(*static_cast<CDrawSet*>(doc_->objects.back()), path.GetString()));
}

TEST_F(VectRoiFileTest, DeleteListAndTwoDToThreeD) {
  const double thin[6] = {2, 3, 1, 12, 13, 2};   // 10 x 10 x 1
  const double point[6] = {5, 5, 1, 5, 5, 1};    // 0 x 0 x 0
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set_, thin, 0, 0, "thin"));
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set_, point, 0, 0, "seed"));
  ASSERT_EQ(vectRoiCount(), 4);
  ASSERT_TRUE(twk::files::DeleteVectROIs(*set_, 2, true));
  int n = 0;
  CDrawSet** left = TW_CollectVectRoiObjects(set_, &n);
  ASSERT_EQ(n, 3);
  EXPECT_STREQ(left[2]->vroi->label, "thin");
  pf_free(&left);

  ui.answerThreeButtons(1);
  ASSERT_TRUE(twk::files::ListAllVectorROIs(*set_));

  // 20 x 10 voxels at 0.5 x 0.5 x 2 mm: 10 mm deep, 2.5 slices each side.
  set_->GetBaseVol()->spc = SPC{0.5, 0.5, 2.0};
  const double flat[6] = {0, 0, 3, 20, 10, 3.5};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set_, flat, 0, 0, "flat"));
  auto* roi = static_cast<CDrawSet*>(doc_->objects.back());
  ASSERT_TRUE(twk::files::VectorRoi_2Dto3D(*roi, nullptr));
  EXPECT_DOUBLE_EQ(roi->vroi->z0, 0.5);
  EXPECT_DOUBLE_EQ(roi->vroi->z1, 6.0);
  EXPECT_FALSE(twk::files::VectorRoi_2Dto3D(*roi, nullptr));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::VectorRoi_2Dto3D : 2D Vector ROI is required for this operation");
  EXPECT_DOUBLE_EQ(roi->vroi->z0, 0.5);

  ASSERT_TRUE(twk::files::DeleteVectROIs(*set_, 0, true));
  EXPECT_EQ(vectRoiCount(), 0);
  ASSERT_TRUE(twk::files::DeleteVectROIs(*set_, 5, true));
  EXPECT_EQ(ui.lastMessage(), L"There are no VROIs in this document");
  EXPECT_FALSE(twk::files::ListAllVectorROIs(*set_));
}

TEST_F(VectRoiFileTest, QueriesFilterByTimeSelectionAndBox) {
  const double box[6] = {-2, 1, 0, 5, 30, 1};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set_, box, 2, 4, "late"));
  int n = 0;
  HIGHOBJ** records = TW_GatherVectRoisInTimeRange(set_, 3, 9, &n);
  ASSERT_EQ(n, 1);
  EXPECT_STREQ(records[0]->label, "late");
  pf_free(&records);
  records = TW_GatherVectRoisInTimeRange(set_, -1, 0, &n);
  EXPECT_EQ(n, 3);
  pf_free(&records);

  CDrawObj* late = doc_->objects.back();
  doc_->selection = {late};
  DRECT3D* boxes = nullptr;
  const int wh[2] = {8, 6};
  ASSERT_TRUE(TW_GetVectRoiBoxes(set_, nullptr, wh, &boxes, &n));
  ASSERT_EQ(n, 1);
  EXPECT_EQ(boxes[0].x0, 0.0);
  EXPECT_EQ(boxes[0].x1, 5.0);
  EXPECT_EQ(boxes[0].y1, 6.0);
  EXPECT_EQ(boxes[0].z1, 1.0);
  pf_free(&boxes);
  doc_->selection.clear();
  ASSERT_TRUE(TW_GetVectRoiBoxes(set_, nullptr, wh, &boxes, &n));
  EXPECT_EQ(n, 3);
  pf_free(&boxes);

  const DRECT3D same{-2, 1, 0, 5, 30, 1};
  EXPECT_TRUE(TW_VectRoiBoxExists(set_, &same, 4, 4));
  EXPECT_FALSE(TW_VectRoiBoxExists(set_, &same, 0, 1));

  // Crops: beyond the upper x bound + 1 misses; a straddling box is clipped and shifted.
  struct Crop {
    HIGHOBJ in;
    int limits[8];
    bool meets;
    double x0, x1, z0, z1;
    int t0, t1;
  };
  const Crop crops[] = {
      {record("", 0, 0, 12.5, 0, 0, 14, 1, 1), {2, 0, 0, 10, 5, 5, 0, 0}, false, 0, 0, 0, 0, 0, 0},
      {record("", 1, 5, 1, 0, 2, 20, 4, 9), {4, 0, 3, 10, 5, 6, 2, 3}, true, 0, 7, 0, 4, 0, 1},
      {record("", 4, 5, 1, 0, 2, 20, 4, 9), {4, 0, 3, 10, 5, 6, 0, 3}, false, 0, 0, 0, 0, 0, 0},
  };
  for (const Crop& c : crops) {
    HIGHOBJ r = c.in;
    ASSERT_EQ(TW_IntersectVectRoiBounds(&r, c.limits), c.meets);
    if (!c.meets) continue;
    EXPECT_EQ(r.x0, c.x0);
    EXPECT_EQ(r.x1, c.x1);
    EXPECT_EQ(r.z0, c.z0);
    EXPECT_EQ(r.z1, c.z1);
    EXPECT_EQ(r.t0, c.t0);
    EXPECT_EQ(r.t1, c.t1);
  }
}

TEST_F(VectRoiFileTest, ThePanelLetsGoOfARemovedOrDeselectedVectorRoi) {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  const TW_DOCUMENT_HOOKS saved = hooks;
  CDrawObj* bound = nullptr;
  hooks.vroiPanelOpen = [] { return true; };
  hooks.vroiPanelBind = [&bound](CDrawObj* object, bool) { bound = object; };
  CDrawObj* roi = doc_->objects.back();
  CDrawObj* polyline = doc_->objects[1];
  doc_->SetSelection({roi});
  EXPECT_EQ(bound, roi);
  doc_->SetSelection({polyline});
  EXPECT_EQ(bound, nullptr) << "a single selection that is no vector ROI unbinds";
  doc_->SetSelection({roi});
  ASSERT_TRUE(twk::files::DeleteVectROIs(*set_, 0, false));
  EXPECT_EQ(bound, nullptr);
  hooks = saved;
}

}  // namespace
}  // namespace twk::filestest
