#pragma once
// Fixtures of the document file tests: a scratch folder, the options the readers need, small
// volumes with known voxels, and a document holding one of every kind of object.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "serial/MemFile.h"
#include "volume/Frame.h"

namespace twk::filestest {

// A fresh folder in the test process's folder, removed with the fixture.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    path_ = twk::testing::testFolder("files_" + name);
  }
  ~ScratchFolder() { std::filesystem::remove_all(path_); }
  CString file(const std::string& name) const { return CString::fromUtf8((path_ / name).string()); }
  CString folder() const { return CString::fromUtf8(path_.string()); }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
    return out;
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> readAll(const CString& path) {
  std::vector<uint8_t> bytes;
  FILE* fp = std::fopen(path.toUtf8().c_str(), "rb");
  if (!fp) return bytes;
  uint8_t buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, fp)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(fp);
  return bytes;
}

inline void writeAll(const CString& path, const std::vector<uint8_t>& bytes) {
  FILE* fp = std::fopen(path.toUtf8().c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), fp);
  std::fclose(fp);
}

// A volume whose voxels are known: integer voxel (x, y, slice) = x + 10 y + 100 slice, real voxel
// the same value / 4, ROI voxels set where (x + y + slice) is even.
inline CVol* makeVolume(FRMTYPE type, int w, int h, int d, int t, const wchar_t* name, int bpv = 0) {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, bpv, DIM3D{w, h, d, t}, true);
  vol->name = name;
  vol->unit = type == FRM_INT ? L"HU" : L"";
  vol->modality = MODALITY_MR;
  vol->spc = SPC{0.5, 0.75, 2.0};
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(t) * int64_t(sizeof(DYNCRD))));
  for (int i = 0; i < t; ++i) {
    vol->dyn[i].time = 10.0 * i;
    vol->dyn[i].timeEnd = 10.0 * (i + 1);
  }
  FRAME* f = vol->frame;
  for (int s = 0; s < d * t; ++s)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* line = f->data + (int64_t(s) * h + y) * f->lineBytes;
        const int value = x + 10 * y + 100 * s;
        if (type == FRM_ROI) {
          if ((x + y + s) % 2 == 0) {
            const RECT3D box{x, y, s % d, x, y, s % d};
            vol->FillBox(s / d, &box, 1);
          }
        } else if (type == FRM_REAL) {
          reinterpret_cast<double*>(line)[x] = value / 4.0;
        } else if (f->bpv == 8) {
          line[x] = uint8_t(value);
        } else if (f->bpv == 16) {
          reinterpret_cast<uint16_t*>(line)[x] = uint16_t(value);
        } else {
          reinterpret_cast<uint32_t*>(line)[x] = uint32_t(value);
        }
      }
  return vol;
}

inline CDrawVol* makeLayer(CVol* vol, int32_t roiColour = 0) {
  auto* layer = new CDrawVol;
  PR_VIEWFILT filter;
  filter.level = 120;
  filter.width = 240;
  filter.scheme = vol->IsROI() ? 0 : 3;
  filter.roiColor = roiColour;
  layer->Init(&vol, &filter, false);
  layer->highlight = 2;
  layer->opacity = 70;
  return layer;
}

inline CDrawSet* makeVectorRoi(CDrawDoc* doc, CDrawSet* owner, const char* label, int t0, int t1, double shift) {
  auto* set = new CDrawSet(doc);
  set->name = L"vroi";
  set->vroi = static_cast<HIGHOBJ*>(pf_calloc(int64_t(sizeof(HIGHOBJ))));
  std::strncpy(set->vroi->label, label, sizeof set->vroi->label - 1);
  set->vroi->kind = HIGHOBJ_VECTOR_ROI;
  set->vroi->shape = HIGHOBJ_SHAPE_BOX;
  set->vroi->owner = owner;
  set->vroi->t0 = t0;
  set->vroi->t1 = t1;
  set->vroi->x0 = 1 + shift;
  set->vroi->y0 = 1.5;
  set->vroi->z0 = 0;
  set->vroi->x1 = 4.25;
  set->vroi->y1 = 3;
  set->vroi->z1 = 2 + shift;
  set->style.fillColor = 0x123456;
  return set;
}

inline CDrawPoly* makePolyline() {
  const double plane[3] = {0, 90, 0};
  auto* poly = new CDrawPoly(2, 7, true, 0.5, true, 3, plane);
  poly->pointsPerContour[0] = 4;
  poly->pointsPerContour[1] = 3;
  for (int i = 0; i < 7; ++i) poly->points[i] = DPOINT{1.5 * i, 20.0 - i * i};
  poly->opacity = 60;
  return poly;
}

inline void add(CDrawDoc* doc, CDrawObj* obj) { doc->AddObject(&obj, true); }

// A document with a layer set of two volume layers and an ROI layer (interlace 3, cell 7, the ROI
// active), a two-contour polyline, a rectangle, an ellipse, an arc and two vector ROIs of the set.
inline CDrawDoc* makeFixtureDocument() {
  auto* doc = new CDrawDoc;
  auto* set = new CDrawSet(doc);
  set->name = L"Case 1";
  set->highlight = 1;
  set->position = DRECT{0, 0, 12.5, 12.5};
  set->AppendLayer(makeLayer(makeVolume(FRM_INT, 8, 6, 4, 1, L"/data/case1/t1w.nii", 16)));
  set->AppendLayer(makeLayer(makeVolume(FRM_REAL, 8, 6, 4, 1, L"/data/case1/adc.nii")));
  set->AppendLayer(makeLayer(makeVolume(FRM_ROI, 8, 6, 4, 1, L"/data/case1/lesion.im"), 0x0000FF));
  set->interlaceMode = 3;
  set->interlaceCell = 7;
  set->displayUnmarked = 1;
  set->SetActive(2);
  for (int i = 0; i < set->NumLayers(); ++i) set->GetLayer(i)->position = set->position;
  add(doc, set);
  add(doc, makePolyline());
  add(doc, new CDrawRect(DRAWOBJ_RECT, DRECT{1, 2, 5, 7}));
  add(doc, new CDrawRect(DRAWOBJ_ELLIPSE, DRECT{-1, -2, 3, 4.5}));
  auto* arc = new CDrawArc(DRECT{0, 0, 6, 4});
  arc->highlight = 0;
  add(doc, arc);
  add(doc, makeVectorRoi(doc, set, "tumour", 0, 0, 0));
  add(doc, makeVectorRoi(doc, set, "reference", 0, 0, 0.5));
  doc->SetModifiedFlag(true);
  return doc;
}

inline std::vector<uint8_t> memoryFileBytes(CDrawDoc* doc) {
  MFILE* mf = doc->WriteToMemFile(nullptr, false);
  std::vector<uint8_t> bytes;
  if (mf) bytes = mf->bytes;
  PR_MemFileClose(&mf);
  return bytes;
}

// Installs a scripted UI and the options every document test relies on.
class DocumentFileTest : public ::testing::Test {
 protected:
  DocumentFileTest() : scratch_(::testing::UnitTest::GetInstance()->current_test_info()->name()), installed_(ui) {}
  void SetUp() override {
    saved_ = TW_Options();
    TW_EditOptions().tempFolder = scratch_.folder();
    TW_EditOptions().loadDmdbFromTwk = 1;
  }
  void TearDown() override { TW_EditOptions() = saved_; }

  ScratchFolder scratch_;
  twk::ScriptedUi ui;
  twk::ScopedUi installed_;
  USEROPT saved_;
};

}  // namespace twk::filestest
