// Documents, layer sets and volume layers: ROI layers and colours, insertion and removal, the
// volume layers, result layers, the active set and the view list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <memory>
#include <vector>

#include "AppOptions.h"
#include "DicomRec.h"
#include "volume/VoxelAccess.h"
#include "DocHooks.h"
#include "DocTestKit.h"
#include "HighObj.h"
#include "ScriptedUi.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"

using namespace twk::testkit;

// The ROI counter is one for the whole program: it starts at 0 when the program starts and counts
// across documents, so the names here follow on from whatever number the first one got.
TEST(NewRoiLayer, NamesCountAcrossDocumentsAndColoursFollowThePalette) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  auto first = std::make_unique<CDrawDoc>();
  auto second = std::make_unique<CDrawDoc>();
  CDrawSet* a = addSet(first.get(), {makeLayer(makeVol(FRM_INT, 8, 8, 3, 1, L"/data/study/scan"))});
  CDrawSet* b = addSet(second.get(), {makeLayer(makeVol(FRM_INT, 8, 8, 3, 1, L"plain"))});

  ASSERT_TRUE(a->NewRoiLayer(false));
  ASSERT_TRUE(b->NewRoiLayer(false));
  const CString firstName = a->GetLayerVol(1)->name;
  unsigned number = 0;
  wchar_t tail = 0;
  ASSERT_EQ(std::swscanf(firstName.GetString(), L"New ROI 3D #%u%lc", &number, &tail), 1) << firstName.toUtf8();
  auto named = [](unsigned n) { return FmtStr(L"New ROI 3D #%u", n); };
  EXPECT_EQ(b->GetLayerVol(1)->name, named(number + 1));
  EXPECT_EQ(a->GetActive(), 1);
  EXPECT_TRUE(a->GetLayerVol(1)->IsROI3D());
  EXPECT_EQ(a->GetLayer(1)->opacity, 20);
  EXPECT_EQ(a->GetLayer(1)->filter.roiColor, 0x0000FF);

  ASSERT_TRUE(a->NewRoiLayer(false));
  EXPECT_EQ(a->GetLayer(2)->filter.roiColor, 0xFF0000);
  EXPECT_EQ(a->GetLayerVol(2)->name, named(number + 2));
  EXPECT_TRUE(first->IsModified());
  EXPECT_TRUE(ui.messages.empty());
}

TEST(NewRoiColor, PaletteInOrderThenBrightNonGreyColours) {
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  const COLORREF palette[20] = {0x0000FF, 0xFF0000, 0x00FF00, 0x00FFFF, 0xFFFF00, 0x400080, 0x408000,
                                0x800040, 0x0050FF, 0x2DE39F, 0xDF9E31, 0xD33D88, 0x7848C8, 0x4FC1B9,
                                0x8000FF, 0x5028C8, 0xFF5A1E, 0x142850, 0x1E5AFF, 0x000000};
  for (COLORREF expected : palette) {
    const COLORREF c = set->NewRoiColor();
    EXPECT_EQ(c, expected);
    CDrawVol* roi = makeLayer(makeVol(FRM_ROI, 4, 4, 2, 1));
    roi->filter.roiColor = int32_t(c);
    set->AppendLayer(roi);
  }
  // A colour used by a non-ROI layer does not count as taken.
  for (int i = 0; i < 1000; ++i) {
    const COLORREF c = set->NewRoiColor();
    const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    const int mean = int(std::floor((r + g + b) / 3.0 + 0.5));
    ASSERT_GE(mean, 92) << std::hex << c;
    ASSERT_FALSE(std::abs(r - mean) <= 32 && std::abs(g - mean) <= 32 && std::abs(b - mean) <= 32) << std::hex << c;
  }
  CDrawSet notVolumeSet;
  EXPECT_EQ(notVolumeSet.NewRoiColor(), 0u);
}

TEST(LayerSet, AddLayerRefusesOtherTimePointCounts) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 6, 5, 4, 12))});
  CVol* ten = makeVol(FRM_INT, 6, 5, 4, 10);
  EXPECT_FALSE(set->AddLayer(&ten, -1, 0, -1));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::AddLayer : Invalid dynamic points");
  ASSERT_NE(ten, nullptr);  // not taken
  delete ten;

  CVol* roi = makeVol(FRM_ROI, 6, 5, 4, 1);
  roi->spc = SPC{3, 3, 3};
  ASSERT_TRUE(set->AddLayer(&roi, -1, 0, -1));
  EXPECT_EQ(roi, nullptr);
  ASSERT_EQ(set->NumLayers(), 2);
  const CDrawVol* added = set->GetLayer(1);
  EXPECT_EQ(added->opacity, 20);
  EXPECT_EQ(added->filter.roiColor, 0x0000FF);
  EXPECT_DOUBLE_EQ(added->vol->Vx(), 1.0);  // the base's spacing

  CVol* otherSize = makeVol(FRM_INT, 7, 5, 4, 1);
  EXPECT_FALSE(set->AddLayer(&otherSize, -1, 0, -1));
  delete otherSize;
}

TEST(LayerSet, RemovalKeepsActiveLayerAndOpacity) {
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1, L"a")), makeLayer(makeVol(FRM_INT, 4, 4, 2, 1, L"b")),
                                makeLayer(makeVol(FRM_ROI, 4, 4, 2, 1, L"c"))});
  set->GetLayer(0)->opacity = 40;
  set->SetActive(2);
  ASSERT_TRUE(set->RemoveLayer(2, true));
  EXPECT_EQ(set->GetActive(), 1);
  EXPECT_EQ(set->GetActiveVol()->name, L"b");

  // Swapping the active layer keeps the same layer active.
  ASSERT_TRUE(set->SwapLayers(0, 1));
  EXPECT_EQ(set->GetActive(), 0);
  EXPECT_EQ(set->GetActiveVol()->name, L"b");

  CVol* b = set->GetLayerVol(0);
  ASSERT_TRUE(set->DeleteLayerVol(&b));
  EXPECT_EQ(b, nullptr);
  ASSERT_EQ(set->NumLayers(), 1);
  EXPECT_EQ(set->GetActive(), 0);
  EXPECT_EQ(set->GetLayer(0)->opacity, 100);
}

TEST(LayerSet, ActivationAndSwapIndicesAreChecked) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  EXPECT_FALSE(set->SetActive(1));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SetActive : Invalid Layer Index");
  EXPECT_FALSE(set->SwapLayers(0, -1));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SwapLayers : Incorrect Layer Index");
}

TEST(LayerSet, DeletingTheLast4DLayerResetsTimeIndices) {
  CDrawDoc doc;
  CountingView view;
  doc.AddView(&view);
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 9, 1)), makeLayer(makeVol(FRM_INT, 4, 4, 9, 5))});
  ASSERT_TRUE(set->AddViewProjection(&view));
  VA_VOLPROJ* p = set->FindViewProjection(&view);
  EXPECT_EQ(p->slice, 4);
  EXPECT_EQ(p->filmView, 1);
  p->timeIndex = 3;
  CVol* dynamic = set->GetLayerVol(1);
  ASSERT_TRUE(set->DeleteLayerVol(&dynamic));
  EXPECT_EQ(p->timeIndex, 0);
  doc.RemoveView(&view);
  EXPECT_EQ(set->FindViewProjection(&view), nullptr);
}

TEST(VolumeLayer, LayerLoadTakesTheVolumeUnderTheTitleOfItsName) {
  CDrawDoc doc;
  CVol* vol = makeVol(FRM_INT, 3, 3, 2, 1, L"held");
  std::unique_ptr<CDrawVol> layer(LoadVolFile(&doc, &vol, L"/no/such/folder/other_name.nii", nullptr, false));
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(vol, nullptr);
  EXPECT_EQ(layer->vol->name, L"other_name");
  EXPECT_EQ(layer->vol->W(), 3);
  EXPECT_EQ(layer->GetDocument(), &doc);
}

TEST(ResultLayer, TakesTheFrameAndNamesTheLayer) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 5, 4, 3, 1, L"base"))});
  CVol* base = set->GetBaseVol();
  FRAME* result = PR_FrameCreate(FRM_ROI, 0, DIM3D{5, 4, 3, 1}, true);
  ASSERT_TRUE(set->AddResultLayer(false, false, L"/tmp/base_mask", base, &result, -1, 0, 0x123456));
  EXPECT_EQ(result, nullptr);
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, L"base_mask");
  EXPECT_EQ(set->GetLayer(1)->opacity, 20);
  EXPECT_EQ(set->GetLayer(1)->filter.roiColor, 0x123456);
  EXPECT_TRUE(doc.IsModified());

  // A different spacing asks first; No leaves the set as it was.
  FRAME* second = PR_FrameCreate(FRM_INT, 16, DIM3D{5, 4, 3, 1}, true);
  const SPC other{2, 2, 2};
  ui.answerMessage(IDNO);
  EXPECT_FALSE(set->AddResultLayer(true, false, L"odd", base, &second, -1, 0, -1, &other));
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"New layer <odd> spatial information differs from base layer base.\nProceed anyway?");
  EXPECT_EQ(ui.messages[1], L"Failed to add new layer");
  EXPECT_EQ(set->NumLayers(), 2);

  // Other dimensions are refused.
  FRAME* wrong = PR_FrameCreate(FRM_INT, 16, DIM3D{6, 4, 3, 1}, true);
  EXPECT_FALSE(set->AddResultLayerNewGeometry(base, false, L"wrong", &wrong, -1, 0, -1));
  EXPECT_EQ(wrong, nullptr);
  EXPECT_EQ(ui.messages[2], L"CDrawSet::AddLayerVol : Equal dimensions are expected");
  EXPECT_EQ(set->NumLayers(), 2);
}

TEST(ResultLayer, ParametricMapsAreRemovedFromTheBack) {
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 3, L"dyn")), makeLayer(makeVol(FRM_REAL, 4, 4, 2, 1, L"k1")),
                                makeLayer(makeVol(FRM_ROI, 4, 4, 2, 1, L"roi")), makeLayer(makeVol(FRM_REAL, 4, 4, 2, 1, L"k2"))});
  ASSERT_TRUE(set->DeleteParamMapLayers());
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(0)->name, L"dyn");
  EXPECT_EQ(set->GetLayerVol(1)->name, L"roi");
}

TEST(Document, ActiveSetIsTheFirstVolumeSet) {
  CDrawDoc doc;
  EXPECT_EQ(doc.GetActiveSet(), nullptr);
  auto* vector = new CDrawSet(&doc);
  vector->vroi = static_cast<HIGHOBJ*>(pf_calloc(sizeof(HIGHOBJ)));
  vector->vroi->kind = HIGHOBJ_VECTOR_ROI;
  CDrawObj* obj = vector;
  doc.AddObject(&obj, true);
  EXPECT_EQ(doc.GetActiveSet(), nullptr);
  CDrawSet* volumes = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  EXPECT_EQ(doc.GetActiveSet(), volumes);
  EXPECT_EQ(doc.GetActiveVol(), volumes->GetBaseVol());

  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  EXPECT_EQ(vector->WorkVolAny(), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"Volumetric Entity is required");
}

TEST(Document, RedrawPaintsTheActiveViewLastAndRefreshesThePanel) {
  std::vector<CountingView*> order;
  CountingView a(&order), b(&order), c(&order);
  CDrawDoc doc;
  CDrawSet* set = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  for (CountingView* v : {&a, &b, &c}) doc.AddView(v);
  int refills = 0;
  TW_DocumentHooks().layerPanelSet = [set] { return set; };
  TW_DocumentHooks().fillLayerTree = [&](bool) { return ++refills, true; };

  doc.RedrawAllViews(false);
  EXPECT_EQ(order, (std::vector<CountingView*>{&a, &b, &c}));
  EXPECT_EQ(refills, 0);

  order.clear();
  a.SetActive(true);
  b.SetActive(true);
  doc.RedrawAllViews(true);
  EXPECT_EQ(order, (std::vector<CountingView*>{&a, &b, &c, &b}));
  EXPECT_EQ(refills, 1);
  CDrawDoc::RedrawAllViews(nullptr, true);  // does nothing

  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  a.SetActive(false);
  b.SetActive(false);
  EXPECT_EQ(doc.GetActiveView(false), nullptr);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(doc.GetActiveOrFirstView(), &a);
  TW_DocumentHooks() = TW_DOCUMENT_HOOKS();
  for (CountingView* v : {&a, &b, &c}) doc.RemoveView(v);
}

TEST(Document, SingleDocumentOfAKind) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  EXPECT_EQ(TW_GetSingleDoc(1, true, true), nullptr);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0], L"TW_GetSpecifiedDocuments : Can not be 3D and 4D at the same time");
  EXPECT_EQ(ui.messages[1], L"Unable to locate 3D MR document");

  CDrawDoc mr, pet;
  addSet(&mr, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1, L"mr", 1))});
  addSet(&pet, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 4, L"pet", 2))});
  EXPECT_EQ(TW_GetSingleDoc(1, true, false), &mr);
  EXPECT_EQ(TW_GetSingleDoc(2, false, true), &pet);
  ui.clear();
  EXPECT_EQ(TW_GetSingleDoc(2, true, false), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"Unable to locate 3D PET document");
}

TEST(Document, SaveModifiedAsksOnlyWhenModified) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  EXPECT_TRUE(doc.SaveModified());
  doc.SetModifiedFlag();
  int saves = 0;
  TW_DocumentHooks().saveDocument = [&](CDrawDoc*) { return ++saves, false; };
  ui.answerMessage(IDCANCEL).answerMessage(IDNO).answerMessage(IDYES);
  EXPECT_FALSE(doc.SaveModified());
  EXPECT_TRUE(doc.SaveModified());
  EXPECT_FALSE(doc.SaveModified());  // the save failed
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(ui.lastMessage(), L"Document was modified. Would you like to save it?");
  TW_DocumentHooks() = TW_DOCUMENT_HOOKS();
}

TEST(Document, FilmViewAndSliceChanges) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  CountingView view;
  doc.AddView(&view);
  CDrawSet* single = addSet(&doc, {makeLayer(makeVol(FRM_INT, 4, 4, 1, 3))});
  ASSERT_TRUE(single->AddViewProjection(&view));
  VA_VOLPROJ* p = single->FindViewProjection(&view);
  EXPECT_EQ(p->filmView, 0);
  ASSERT_TRUE(single->VolChangeSlice(nullptr, 1 | 4, 2, 0, 1));
  EXPECT_EQ(p->timeIndex, 2);
  EXPECT_EQ(p->filmView, 0);  // one slice: never film view
  EXPECT_EQ(view.redraws, 1);
  EXPECT_FALSE(single->VolChangeSlice(&view, 4, 0, 0, 7));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::VolChangeSlice : Invalid Filmview change code");
  doc.RemoveView(&view);
}

TEST(Document, PhiLinesAndDeidentification) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  CVol* vol = makeVol(FRM_INT, 4, 4, 2, 1);
  vol->numDicom = 2;
  vol->dicom = static_cast<DICOMREC**>(pf_calloc(2 * sizeof(DICOMREC*)));
  for (int i = 0; i < 2; ++i) {
    vol->dicom[i] = new DICOMREC;
    vol->dicom[i]->patientName = L"DOE^JOHN";
    vol->dicom[i]->studyDate = L"20200102";
  }
  CDrawSet* set = addSet(&doc, {makeLayer(vol)});
  CString** lines = nullptr;
  int count = 0;
  ASSERT_TRUE(set->ExtractPHIrecords(&lines, &count));
  ASSERT_EQ(count, 2);  // one line per distinct value
  EXPECT_EQ(*lines[0], L"(0010,0010) PatientName : DOE^JOHN");
  for (int i = 0; i < count; ++i) delete lines[i];
  pf_free(&lines);

  // Cancel, or the box closed: nothing changed, which is no failure.
  ui.answerThreeButtons(1);
  EXPECT_TRUE(set->Deidentify(true));
  EXPECT_EQ(set->GetBaseVol()->dicom[0]->patientName, L"DOE^JOHN");
  ui.answerThreeButtons(2);
  EXPECT_TRUE(set->Deidentify(true));
  EXPECT_EQ(set->GetBaseVol()->dicom[0]->patientName, L"DOE^JOHN");
  ui.answerThreeButtons(0);
  ASSERT_TRUE(set->Deidentify(true));
  ASSERT_TRUE(set->ExtractPHIrecords(&lines, &count));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(lines, nullptr);
  ui.clear();
  EXPECT_TRUE(set->Deidentify(true));
  EXPECT_EQ(ui.lastMessage(), L"No PHI is present");
}

namespace deidentify {
std::vector<uint64_t> percents;
int pumps = 0;
int escAtPump = 0;  // the pump at which Esc is pressed; 0 never
void sink(uint64_t value) {
  if (value >= 1 && value <= 99) percents.push_back(value);
}
bool message(const wchar_t* text, bool pump) {
  if (!text && pump && ++pumps == escAtPump) PR_SetInWorkProcess(false);
  return true;
}
}  // namespace deidentify

TEST(Document, DeidentificationRunsOneBarOverEveryRecordAndStopsOnEsc) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  MSGBLOCK block;
  block.progressSink = deidentify::sink;
  block.showMessage = deidentify::message;
  PR_InitFrameFunctions(&block);
  auto withRecords = [](int n) {
    CVol* vol = makeVol(FRM_INT, 4, 4, n, 1);
    vol->numDicom = n;
    vol->dicom = static_cast<DICOMREC**>(pf_calloc(n * int64_t(sizeof(DICOMREC*))));
    for (int i = 0; i < n; ++i) {
      vol->dicom[i] = new DICOMREC;
      vol->dicom[i]->patientName = L"DOE^JANE";
    }
    return vol;
  };
  auto named = [](CDrawSet* set, int layer, int record) {
    return !set->GetLayerVol(layer)->dicom[record]->patientName.IsEmpty();
  };

  // Three records, then one: the first layer fills 0..75 % record by record, the second 75..100 %.
  for (int escAtPump : {0, 2}) {
    SCOPED_TRACE(escAtPump);
    deidentify::percents.clear();
    deidentify::pumps = 0;
    deidentify::escAtPump = escAtPump;
    CDrawDoc doc;
    CDrawSet* set = addSet(&doc, {makeLayer(withRecords(3)), makeLayer(withRecords(1))});
    doc.SetModifiedFlag(false);
    if (escAtPump == 0) {
      ASSERT_TRUE(set->Deidentify(false));
      EXPECT_EQ(deidentify::percents, (std::vector<uint64_t>{1, 25, 50, 75, 75, 99}));
      for (auto [layer, record] : {std::pair{0, 0}, {0, 2}, {1, 0}}) EXPECT_FALSE(named(set, layer, record));
    } else {
      // Esc while the second record's step is shown: the first record alone was de-identified.
      EXPECT_FALSE(set->Deidentify(false));
      EXPECT_EQ(deidentify::percents, (std::vector<uint64_t>{1, 25}));
      EXPECT_FALSE(named(set, 0, 0));
      EXPECT_TRUE(named(set, 0, 1));
      EXPECT_TRUE(named(set, 1, 0));
    }
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(PR_InWorkProcess());
    EXPECT_TRUE(ui.messages.empty());
  }
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
}

TEST(Document, PhiOfTheWholeHeadersOfEveryLayer) {
  // One layer carries DICOM headers with an element that no record field holds (the patient's
  // address); the other has records of facts only.
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  CVol* withHeaders = makeVol(FRM_INT, 4, 4, 2, 1);
  ASSERT_TRUE(VA_VolEnsureDicomHeaders(withHeaders));
  for (int64_t i = 0; i < withHeaders->numDicom; ++i) {
    DCMFF* header = VA_DicomRecGetHeader(withHeaders->dicom[i]);
    ASSERT_TRUE(header && TWKDCM_SetStringW(header, TWKDCM_TAG(0x0010, 0x1040), L"1 Main Street") &&
                VA_DicomRecSetHeader(withHeaders->dicom[i], header));
    TWKDCM_DeleteFF(&header);
  }
  CVol* factsOnly = makeVol(FRM_INT, 4, 4, 2, 1);
  factsOnly->numDicom = 1;
  factsOnly->dicom = static_cast<DICOMREC**>(pf_calloc(sizeof(DICOMREC*)));
  factsOnly->dicom[0] = new DICOMREC;
  factsOnly->dicom[0]->patientName = L"DOE^JOHN";
  CDrawSet* set = addSet(&doc, {makeLayer(withHeaders), makeLayer(factsOnly)});

  auto phi = [set] {
    CString** lines = nullptr;
    int count = 0;
    EXPECT_TRUE(set->ExtractPHIrecords(&lines, &count));
    std::vector<CString> texts;
    for (int i = 0; i < count; ++i) {
      texts.push_back(*lines[i]);
      delete lines[i];
    }
    pf_free(&lines);
    return texts;
  };
  const std::vector<CString> before = phi();
  auto listed = [&before](const wchar_t* text) {
    return std::any_of(before.begin(), before.end(), [text](const CString& line) { return line.Find(text) >= 0; });
  };
  EXPECT_TRUE(listed(L"1 Main Street"));
  EXPECT_TRUE(listed(L"(0010,0010) PatientName : DOE^JOHN"));

  ASSERT_TRUE(set->Deidentify(false));
  EXPECT_TRUE(phi().empty());
  EXPECT_TRUE(doc.IsModified());
  DCMFF* header = VA_DicomRecGetHeader(set->GetLayerVol(0)->dicom[0]);
  ASSERT_TRUE(header);
  CString address;
  EXPECT_FALSE(TWKDCM_GetString(header, TWKDCM_TAG(0x0010, 0x1040), &address) && !address.IsEmpty());
  TWKDCM_DeleteFF(&header);
  EXPECT_TRUE(set->GetLayerVol(1)->dicom[0]->patientName.IsEmpty());
}

TEST(Document, IdenticalDocumentsAndClosingOthers) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  auto* a = new CDrawDoc;
  auto* b = new CDrawDoc;
  CDrawDoc keep;
  addSet(a, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1)), makeLayer(makeVol(FRM_ROI, 4, 4, 2, 1))});
  CDrawSet* sb = addSet(b, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1)), makeLayer(makeVol(FRM_ROI, 4, 4, 2, 1))});
  bool identical = false;
  ASSERT_TRUE(TW_DocumentsIdentical(a, b, &identical));
  EXPECT_TRUE(identical);
  twk::setVoxelValue(sb->GetLayerVol(1)->frame, 1, 1, 1, 0, 1.0);
  ASSERT_TRUE(TW_DocumentsIdentical(a, b, &identical));
  EXPECT_FALSE(identical);

  // The bits that pad an ROI line to whole bytes are no data.
  twk::setVoxelValue(sb->GetLayerVol(1)->frame, 1, 1, 1, 0, 0.0);
  sb->GetLayerVol(1)->frame->data[0] |= 0x0F;
  ASSERT_TRUE(TW_DocumentsIdentical(a, b, &identical));
  EXPECT_TRUE(identical);

  b->SetModifiedFlag();
  ui.answerMessage(IDNO);
  TW_CloseAllDocumentsBut(&keep, true);
  int count = 0;
  CDrawDoc** all = TW_GetAllDocuments(&count);
  EXPECT_EQ(count, 3);
  pf_free(&all);
  ui.answerMessage(IDYES);
  TW_CloseAllDocumentsBut(&keep, true);
  EXPECT_EQ(ui.lastMessage(), L"Some documents about to close are modified. Proceed?");
  all = TW_GetAllDocuments(&count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(all[0], &keep);
  pf_free(&all);
  EXPECT_EQ(TW_GetSingleVolumetricDoc(), &keep);
}

TEST(Document, IdenticalDocumentsWithoutVolumeLayers) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  struct Shape {
    int kind;
    DRECT where;
    COLORREF line;
  };
  const Shape rect{DRAWOBJ_RECT, {1, 2, 5, 6}, 0xFFFFFF};
  const Shape moved{DRAWOBJ_RECT, {1, 2, 5, 7}, 0xFFFFFF};
  const Shape ellipse{DRAWOBJ_ELLIPSE, {1, 2, 5, 6}, 0xFFFFFF};
  const Shape red{DRAWOBJ_RECT, {1, 2, 5, 6}, 0x0000FF};
  const struct {
    const char* what;
    std::vector<Shape> a, b;
    bool identical;
  } cases[] = {
      {"both empty", {}, {}, true},
      {"the same rectangle", {rect}, {rect}, true},
      {"two in the same order", {rect, ellipse}, {rect, ellipse}, true},
      {"moved", {rect}, {moved}, false},
      {"another kind", {rect}, {ellipse}, false},
      {"another colour", {rect}, {red}, false},
      {"one more", {rect}, {rect, rect}, false},
      {"another order", {rect, ellipse}, {ellipse, rect}, false},
  };
  auto fill = [](CDrawDoc& doc, const std::vector<Shape>& shapes) {
    for (const Shape& s : shapes) {
      auto* obj = new CDrawObj;
      obj->kind = s.kind;
      obj->position = s.where;
      obj->style.lineColor = s.line;
      CDrawObj* added = obj;
      doc.AddObject(&added, true);
    }
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CDrawDoc a, b;
    fill(a, c.a);
    fill(b, c.b);
    bool identical = !c.identical;
    ASSERT_TRUE(TW_DocumentsIdentical(&a, &b, &identical));
    EXPECT_EQ(identical, c.identical);
  }

  // A document with volume layers and one without are compared, and differ.
  CDrawDoc withLayers, without;
  addSet(&withLayers, {makeLayer(makeVol(FRM_INT, 4, 4, 2, 1))});
  fill(without, {rect});
  bool identical = true;
  ASSERT_TRUE(TW_DocumentsIdentical(&withLayers, &without, &identical));
  EXPECT_FALSE(identical);
  ASSERT_TRUE(TW_DocumentsIdentical(&without, &withLayers, &identical));
  EXPECT_FALSE(identical);
}
