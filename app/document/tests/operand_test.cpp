// The operand rule as one table over layer configurations: which layer each picker returns and
// which messages it shows.
#include <gtest/gtest.h>

#include <memory>

#include "DocTestKit.h"
#include "HighObj.h"
#include "ScriptedUi.h"
#include "TwkMem.h"

using namespace twk::testkit;

namespace {

// One layer: kind ('i' integer, 'r' real, 'o' ROI), time points, marked, PET.
struct L {
  char kind;
  int t;
  bool marked;
  bool pet = false;
};

enum class Picker {
  SI, NonRoi, ROI, NonROI4D, Real, Any, RoiFirstMarked, PET4D,
  NonRoiAndRoi, SIandRoi, TwoRois, SingleOptional, MarkedRois3D
};

struct Case {
  const char* what;
  std::vector<L> layers;
  int active;
  Picker picker;
  // Expected: result (for bool pickers), volume / first operand index (-1 none), ROI index,
  // second ROI index, count (ROI picker, marked ROIs), messages.
  bool ok;
  int volume;
  int roi = -1;
  int roi2 = -1;
  int count = -1;
  std::vector<const wchar_t*> messages = {};
  bool require3D = false, require4D = false, roiRequired = false;
};

const wchar_t* const kAmbSI = L"CDrawSet::WorkVolSI : Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";
const wchar_t* const kAmbNonRoi = L"CDrawSet::WorkVolNonRoi : Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";
const wchar_t* const kAmb4D = L"CDrawSet::WorkVolNonROI4D : Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";
const wchar_t* const kAmbPair = L"CDrawSet::WorkVolNonROIandROI : Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";
const wchar_t* const kAmbTwo = L"CDrawSet::WorkVolNonROIandTwoROIs : Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";

const Case kCases[] = {
    // Integer operand.
    {"SI: marked active wins over others", {{'i', 1, true}, {'i', 1, true}, {'i', 1, true}}, 1, Picker::SI, true, 1},
    {"SI: unmarked active, one marked other", {{'i', 1, false}, {'i', 1, true}}, 0, Picker::SI, true, 1},
    {"SI: unmarked active, two marked others", {{'i', 1, false}, {'i', 1, true}, {'i', 1, true}}, 0, Picker::SI, false, -1, -1, -1, -1, {kAmbSI}},
    {"SI: none", {{'i', 1, false}, {'o', 1, true}}, 1, Picker::SI, false, -1},
    {"SI: active marked real is no operand", {{'r', 1, true}, {'i', 1, false}}, 0, Picker::SI, false, -1},
    {"SI: 4D integer counts", {{'o', 1, true}, {'i', 5, true}}, 0, Picker::SI, true, 1},
    // Any non-ROI.
    {"NonRoi: active marked real", {{'r', 1, true}, {'i', 1, true}}, 0, Picker::NonRoi, true, 0},
    {"NonRoi: ROI active, two candidates", {{'i', 1, true}, {'r', 1, true}, {'o', 1, true}}, 2, Picker::NonRoi, false, -1, -1, -1, -1, {kAmbNonRoi}},
    {"NonRoi: ROI active, one candidate", {{'i', 1, false}, {'r', 1, true}, {'o', 1, true}}, 2, Picker::NonRoi, true, 1},
    // ROI.
    {"ROI: active ROI among two marked", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 2, Picker::ROI, true, 2, -1, -1, 1},
    {"ROI: two marked, active not ROI", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 0, Picker::ROI, false, -1, -1, -1, 2},
    {"ROI: one marked", {{'i', 1, true}, {'o', 1, false}, {'o', 1, true}}, 0, Picker::ROI, true, 2, -1, -1, 1},
    {"ROI: none marked", {{'i', 1, true}, {'o', 1, false}}, 0, Picker::ROI, false, -1, -1, -1, 0},
    // 4D non-ROI.
    {"4D: active 3D, one marked 4D", {{'i', 1, true}, {'i', 6, true}}, 0, Picker::NonROI4D, true, 1},
    {"4D: two marked 4D", {{'i', 6, true}, {'r', 6, true}, {'o', 6, true}}, 2, Picker::NonROI4D, false, -1, -1, -1, -1, {kAmb4D}},
    {"4D: 4D ROI is no operand", {{'i', 1, true}, {'o', 6, true}}, 1, Picker::NonROI4D, false, -1},
    // First-one pickers.
    {"Real: first marked real", {{'i', 1, true}, {'r', 1, true}, {'r', 1, true}}, 0, Picker::Real, true, 1},
    {"Real: active marked real", {{'r', 1, true}, {'r', 1, true}}, 1, Picker::Real, true, 1},
    {"Any: unmarked active, first marked", {{'i', 1, false}, {'o', 1, true}, {'i', 1, true}}, 0, Picker::Any, true, 1},
    {"Any: nothing marked", {{'i', 1, false}}, 0, Picker::Any, false, -1},
    {"RoiFirstMarked: first of two", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 0, Picker::RoiFirstMarked, true, 1},
    {"RoiFirstMarked: active ROI", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 2, Picker::RoiFirstMarked, true, 2},
    {"PET4D: skips MR 4D and PET 3D", {{'i', 5, true}, {'i', 1, true, true}, {'i', 5, true, true}}, 0, Picker::PET4D, true, 2},
    {"PET4D: PET 4D ROI is no operand", {{'i', 5, true}, {'o', 5, true, true}}, 1, Picker::PET4D, false, -1},
    // Volume and ROI.
    {"pair: volume and ROI", {{'i', 1, true}, {'o', 1, true}}, 0, Picker::NonRoiAndRoi, true, 0, 1, -1, -1, {}, false, false, true},
    {"pair: optional ROI missing", {{'i', 1, true}, {'o', 1, false}}, 0, Picker::NonRoiAndRoi, true, 0, -1},
    {"pair: 4D required on 3D", {{'i', 1, true}, {'o', 1, true}}, 0, Picker::NonRoiAndRoi, false, 0, -1, -1, -1,
     {L"CDrawSet::WorkVolNonROIandROI : 4D volume is required"}, false, true, true},
    {"pair: 3D required on 4D", {{'i', 4, true}, {'o', 1, true}}, 0, Picker::NonRoiAndRoi, false, 0, -1, -1, -1,
     {L"CDrawSet::WorkVolNonROIandROI : 3D volume is required"}, true, false, true},
    {"pair: ROI required", {{'i', 1, true}, {'o', 1, false}}, 0, Picker::NonRoiAndRoi, false, 0, -1, -1, -1,
     {L"CDrawSet::WorkVolNonROIandROI : ROI is not present or enabled"}, false, false, true},
    {"pair: two ROIs", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 0, Picker::NonRoiAndRoi, false, 0, -1, -1, -1, {kAmbPair}},
    {"pair: no volume", {{'i', 1, false}, {'o', 1, true}}, 1, Picker::NonRoiAndRoi, false, -1, -1, -1, -1,
     {L"CDrawSet::WorkVolNonROIandROI : No suitable volume is present or enabled"}},
    {"pair: ambiguous volume", {{'i', 1, true}, {'r', 1, true}, {'o', 1, true}}, 2, Picker::NonRoiAndRoi, false, -1, -1, -1, -1,
     {kAmbNonRoi, L"CDrawSet::WorkVolNonROIandROI : No suitable volume is present or enabled"}},
    {"SI pair: real volume is no operand", {{'r', 1, true}, {'o', 1, true}}, 0, Picker::SIandRoi, false, -1, -1, -1, -1,
     {L"CDrawSet::WorkVolSIandROI : No suitable volume is present or enabled"}},
    {"SI pair: PET 4D with ROI", {{'i', 3, true, true}, {'o', 1, true}}, 1, Picker::SIandRoi, true, 0, 1, -1, -1, {}, false, true, true},
    // Volume and two ROIs.
    {"two ROIs: one ROI", {{'i', 1, true}, {'o', 1, true}}, 0, Picker::TwoRois, true, 0, 1, -1},
    {"two ROIs: two ROIs, unmarked volume", {{'o', 1, true}, {'i', 1, false}, {'o', 1, true}}, 1, Picker::TwoRois, true, -1, 0, 2},
    {"two ROIs: three ROIs", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}, {'o', 1, true}}, 0, Picker::TwoRois, false, -1, -1, -1, -1, {kAmbTwo}},
    {"two ROIs: two volumes", {{'i', 1, true}, {'r', 1, true}}, 0, Picker::TwoRois, false, -1, -1, -1, -1, {kAmbTwo}},
    // Optional single ROI.
    {"optional: two ROIs, neither active", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 0, Picker::SingleOptional, true, -1, -1},
    {"optional: two ROIs, one active", {{'i', 1, true}, {'o', 1, true}, {'o', 1, true}}, 1, Picker::SingleOptional, true, -1, 1},
    {"optional: one ROI", {{'i', 1, true}, {'o', 1, true}}, 0, Picker::SingleOptional, true, -1, 1},
    // All marked ROIs of a dimensionality.
    {"marked 3D ROIs", {{'i', 4, true}, {'o', 1, true}, {'o', 4, true}, {'o', 1, false}, {'o', 1, true}}, 0, Picker::MarkedRois3D, true, -1, 1, 4, 2},
};

CVol* makeCaseVol(const L& l) {
  const FRMTYPE type = l.kind == 'i' ? FRM_INT : l.kind == 'r' ? FRM_REAL : FRM_ROI;
  return makeVol(type, 4, 3, 2, l.t, L"layer", l.pet ? 2 : 1);
}

}  // namespace

TEST(OperandRule, Table) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    CDrawDoc doc;
    std::vector<CDrawVol*> layers;
    for (const L& l : c.layers) layers.push_back(makeLayer(makeCaseVol(l), l.marked));
    CDrawSet* set = addSet(&doc, layers);
    set->SetActive(c.active);
    auto index = [set](const CVol* v) { return v ? set->IndexOfVol(v) : -1; };

    bool ok = false;
    int volume = -1, roi = -1, roi2 = -1, count = -1;
    CVol *v = nullptr, *r = nullptr, *r2 = nullptr;
    switch (c.picker) {
      case Picker::SI: v = set->WorkVolSI(); break;
      case Picker::NonRoi: {
        bool ambiguous = false;
        v = set->WorkVolNonRoi(&ambiguous);
        EXPECT_EQ(ambiguous, !c.messages.empty());
        break;
      }
      case Picker::ROI: v = set->WorkVolROI(&count); break;
      case Picker::NonROI4D: v = set->WorkVolNonROI4D(); break;
      case Picker::Real: v = set->WorkVolReal(); break;
      case Picker::Any: v = set->WorkVolAny(); break;
      case Picker::RoiFirstMarked: v = set->WorkVolRoiFirstMarked(); break;
      case Picker::PET4D: v = set->WorkVolPET4D(); break;
      case Picker::NonRoiAndRoi: ok = set->WorkVolNonROIandROI(c.require3D, c.require4D, c.roiRequired, &v, &r); break;
      case Picker::SIandRoi: ok = set->WorkVolSIandROI(c.require3D, c.require4D, c.roiRequired, &v, &r); break;
      case Picker::TwoRois: ok = set->WorkVolNonROIandTwoROIs(&v, &r, &r2); break;
      case Picker::SingleOptional: ok = set->WorkVolROI_SingleOptional(&r); break;
      case Picker::MarkedRois3D: {
        CVol** found = nullptr;
        ok = set->GetMarkedRoiLayers(true, false, &found, &count);
        if (count > 0) r = found[0];
        if (count > 1) r2 = found[1];
        pf_free(&found);
        break;
      }
    }
    volume = index(v);
    roi = index(r);
    roi2 = index(r2);
    const bool single = c.picker <= Picker::PET4D;
    if (single) ok = v != nullptr;
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(volume, c.volume);
    if (!single) {
      EXPECT_EQ(roi, c.roi);
      EXPECT_EQ(roi2, c.roi2);
    }
    if (c.count >= 0) {
      EXPECT_EQ(count, c.count);
    }
    ASSERT_EQ(ui.messages.size(), c.messages.size());
    for (size_t i = 0; i < c.messages.size(); ++i) EXPECT_EQ(ui.messages[i], CString(c.messages[i]));
  }
}

TEST(OperandRule, SetsThatAreNoVolumeSets) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawSet vector;
  vector.vroi = static_cast<HIGHOBJ*>(pf_calloc(sizeof(HIGHOBJ)));
  vector.vroi->kind = HIGHOBJ_VECTOR_ROI;
  int count = 7;
  EXPECT_EQ(vector.WorkVolSI(), nullptr);
  EXPECT_EQ(vector.WorkVolROI(&count), nullptr);
  EXPECT_EQ(count, 0);
  CVol* roi = nullptr;
  EXPECT_FALSE(vector.WorkVolROI_SingleOptional(&roi));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0], L"Volumetric Entity is required");
  EXPECT_EQ(ui.messages[1], L"Volumetric Entity is required");
  EXPECT_EQ(ui.messages[2], L"CDrawSet::WorkVolROI_SingleOptional : Volumetric Entity is required");

  // A missing set: some pickers are silent, some show the guard message.
  ui.clear();
  EXPECT_EQ(CDrawSet::WorkVolSI(nullptr), nullptr);
  EXPECT_EQ(CDrawSet::WorkVolAny(nullptr), nullptr);
  EXPECT_EQ(CDrawSet::WorkVolNonROI4D(nullptr), nullptr);
  EXPECT_EQ(CDrawSet::WorkVolRoiFirstMarked(nullptr), nullptr);
  EXPECT_EQ(CDrawSet::WorkVolNonRoi(nullptr, nullptr), nullptr);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(CDrawSet::WorkVolReal(nullptr), nullptr);
  EXPECT_EQ(CDrawSet::WorkVolPET4D(nullptr), nullptr);
  EXPECT_EQ(CDrawSet::WorkVolROI(nullptr, &count), nullptr);
  EXPECT_FALSE(CDrawSet::WorkVolROI_SingleOptional(nullptr, &roi));
  ASSERT_EQ(ui.messages.size(), 4u);
  EXPECT_EQ(ui.messages[2], L"Volumetric Entity is required");
  EXPECT_EQ(ui.messages[3], L"CDrawSet::WorkVolROI_SingleOptional : Operand is not present");
}
