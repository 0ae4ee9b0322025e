// Opening images, documents and NumPy arrays as new documents, and the raw-volume dialog's record.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <memory>
#include <string>

#include "DocHooks.h"
#include "DocumentFile.h"
#include "FilesTestKit.h"
#include "ImageOpen.h"
#include "RawVolumeSettings.h"
#include "io/ImageFiles.h"
#include "dicom/DicomVolume.h"
#include "paths/FilePaths.h"

using namespace twk::filestest;

namespace {

class CountingView : public CDrawView {
 public:
  void RedrawNow() override { ++redraws; }
  void ZoomAll() override { ++zooms; }
  int redraws = 0, zooms = 0;
};

// Services that give every document one counting view and record the framework's calls.
class OpenServices {
 public:
  OpenServices() {
    TW_OPENSERVICES s;
    s.createView = [this](CDrawDoc* doc) {
      views.push_back(std::make_unique<CountingView>());
      doc->AddView(views.back().get());
      views.back()->SetActive(true);
      return views.back().get();
    };
    s.showFitted = [this](CDrawView*) { ++fitted; };
    s.createOrthogonalViews = [this](CDrawView*) { ++orthogonal; };
    s.applyProjectionConvention = [this](CDrawView*) { ++conventions; };
    TW_DocumentHooks().open = s;
  }
  std::vector<std::unique_ptr<CountingView>> views;
  int fitted = 0, orthogonal = 0, conventions = 0;
};

int openDocumentCount() {
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  pf_free(&docs);
  return count;
}

CString writeImage(const ScratchFolder& folder, const char* name, int depth, int modality = MODALITY_MR) {
  std::unique_ptr<CVol> vol(makeVolume(FRM_INT, 6, 5, depth, 1, L"img", 16));
  const CString path = folder.file(name);
  EXPECT_TRUE(VA_RAW_VolSaveFile(path, vol->frame, -1, vol->Spc(), nullptr, nullptr, nullptr, modality, 0, L"", nullptr,
                                 nullptr, false));
  return path;
}

VA_VOLPROJ* viewRecord(CDrawDoc* doc) {
  CDrawView* view = doc->GetActiveOrFirstView();
  return view ? doc->GetActiveSet()->FindViewProjection(view) : nullptr;
}

class ImageOpen : public DocumentFileTest {
 protected:
  void TearDown() override {
    TW_DocumentHooks().open = {};
    views_.reset();
    DocumentFileTest::TearDown();
  }
  std::unique_ptr<OpenServices> views_ = std::make_unique<OpenServices>();
};

TEST_F(ImageOpen, LayoutOptionDecidesFilmOrSingleView) {
  const CString path = writeImage(scratch_, "head.im", 6);
  const struct {
    int layout;
    bool film;
    int orthogonal;
  } cases[] = {{0, true, 0}, {1, false, 0}, {2, false, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    TW_EditOptions().imageOpenLayout = c.layout;
    views_ = std::make_unique<OpenServices>();
    std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(path, true, false));
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(doc->GetPathName(), path);
    CDrawSet* set = doc->GetActiveSet();
    ASSERT_TRUE(set);
    EXPECT_EQ(set->highlight, 1);
    EXPECT_EQ(set->GetBaseLayer()->highlight, 2);
    EXPECT_EQ(set->GetBaseVol()->name, L"head");
    EXPECT_GT(set->position.x1, 0);
    EXPECT_EQ(set->GetBaseLayer()->position.x1, set->position.x1);
    VA_VOLPROJ* record = viewRecord(doc.get());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->filmView != 0, c.film);
    if (!c.film) {
      EXPECT_EQ(record->slice, 3);
    }
    EXPECT_EQ(views_->orthogonal, c.orthogonal);
    EXPECT_EQ(views_->conventions, 1);
    EXPECT_EQ(views_->fitted, 1);
    EXPECT_EQ(views_->views.front()->zooms, 1);
    doc.reset();
  }
}

TEST_F(ImageOpen, SingleSliceOpensInSingleViewAndBadLayoutLeavesNoDocument) {
  const CString flat = writeImage(scratch_, "flat.im", 1);
  for (int layout : {0, 2}) {
    TW_EditOptions().imageOpenLayout = layout;
    views_ = std::make_unique<OpenServices>();
    std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(flat, true, false));
    ASSERT_TRUE(doc);
    EXPECT_EQ(viewRecord(doc.get())->filmView, 0);
    EXPECT_EQ(viewRecord(doc.get())->slice, 0);
    EXPECT_EQ(views_->orthogonal, 0);
  }
  const CString path = writeImage(scratch_, "head.im", 4);
  TW_EditOptions().imageOpenLayout = 3;
  const int before = openDocumentCount();
  ui.clear();
  EXPECT_EQ(TW_OpenImageDocument(path, true, false), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"CDrawApp::OpenDocumentFile : Unknow Image Open layout");
  EXPECT_EQ(openDocumentCount(), before);
}

TEST_F(ImageOpen, PathAlreadyOpenIsRefusedBeforeReading) {
  const CString path = writeImage(scratch_, "head.im", 2);
  std::unique_ptr<CDrawDoc> first(TW_OpenImageDocument(path, false, false));
  ASSERT_TRUE(first);
  ui.clear();
  EXPECT_EQ(TW_OpenImageDocument(path, false, false), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"CDrawApp::OpenDocumentFile : Document with requested name is already present");
  EXPECT_EQ(views_->views.size(), 1u);
}

TEST_F(ImageOpen, GzipCompressedImageAndNonImageFiles) {
  const CString path = writeImage(scratch_, "head.nii", 3);
  const std::string gz = "gzip -c '" + path.toUtf8() + "' > '" + path.toUtf8() + ".gz'";
  ASSERT_EQ(std::system(gz.c_str()), 0);
  std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(path + L".gz", false, false));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->GetActiveSet()->GetBaseVol()->D(), 3);

  const CString text = scratch_.file("notes.txt");
  writeAll(text, {'h', 'e', 'l', 'l', 'o'});
  const int before = openDocumentCount();
  ui.clear();
  EXPECT_EQ(TW_OpenImageDocument(text, false, false), nullptr);
  EXPECT_EQ(openDocumentCount(), before);
  // The door reads the header once and names the file and the reason.
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], L"VA_RAW_FileInfo : " + text + L" : unknown or unsupported image file format");
}

TEST_F(ImageOpen, DocumentFileAppliesItsStoredProjectionToEveryView) {
  for (int depth : {4, 1}) {
    SCOPED_TRACE(depth);
    CDrawDoc source;
    auto* set = new CDrawSet(&source);
    set->AppendLayer(makeLayer(makeVolume(FRM_INT, 6, 5, depth, 1, L"a.nii", 16)));
    add(&source, set);
    CountingView view;
    source.AddView(&view);
    set->AddViewProjection(&view);
    VA_VOLPROJ* record = set->FindViewProjection(&view);
    record->slice = depth - 1;
    record->filmView = 1;
    record->projType = 2;
    const CString path = scratch_.file(depth == 4 ? "stored4.twk" : "stored1.twk");
    ASSERT_TRUE(source.Save(path, &view, false, false, false));
    source.RemoveView(&view);

    std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(path, true, false));
    ASSERT_TRUE(doc);
    VA_VOLPROJ* opened = viewRecord(doc.get());
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->slice, depth - 1);
    EXPECT_EQ(opened->projType, 0);
    EXPECT_EQ(opened->filmView, depth == 1 ? 0 : 1);
    EXPECT_EQ(opened->view, doc->GetActiveOrFirstView());
    EXPECT_EQ(doc->storedProjection, nullptr);
    EXPECT_FALSE(doc->IsModified());
  }
}

TEST_F(ImageOpen, UnknownModalityIsAskedAgainAfterCancel) {
  TW_EditOptions().verifyModality = 1;
  const CString path = writeImage(scratch_, "unknown.im", 2, MODALITY_UNKNOWN);
  ui.cancelValues().answerValues({1});
  std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(path, false, false));
  ASSERT_TRUE(doc);
  EXPECT_FALSE(ui.pendingAnswers());
  EXPECT_EQ(doc->GetActiveSet()->GetBaseVol()->GetModality(), MODALITY_MR);

  // A default modality is given without asking.
  doc.reset();
  doc.reset(TW_OpenImageDocument(path, false, false, MODALITY_CT));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->GetActiveSet()->GetBaseVol()->GetModality(), MODALITY_CT);
}

TEST_F(ImageOpen, ComputedVolumeOpensUnderItsName) {
  CVol* vol = makeVolume(FRM_INT, 4, 4, 2, 1, L"computed result", 16);
  std::unique_ptr<CDrawDoc> doc(TW_CreateDocumentFromVolume(&vol));
  ASSERT_TRUE(doc);
  EXPECT_EQ(vol, nullptr);
  EXPECT_TRUE(doc->IsModified());
  EXPECT_EQ(doc->GetPathName(), L"computed result");

  // A second volume of the same name is refused, and deleted with the refusal.
  CVol* again = makeVolume(FRM_INT, 4, 4, 2, 1, L"computed result", 16);
  ui.clear();
  EXPECT_EQ(TW_CreateDocumentFromVolume(&again), nullptr);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(ui.lastMessage(), L"CDrawApp::OpenDocumentFile : Document with requested name is already present");

  FramePtr frame(PR_FrameCreate(FRM_INT, 16, DIM3D{3, 3, 2, 2}, true));
  FRAME* refused = frame.get();
  ui.clear();
  EXPECT_EQ(TW_CreateDocument(&refused, L"four d"), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"TW_CreateDocument : 3D volume is required");
  EXPECT_EQ(refused, frame.get());
}

TEST_F(ImageOpen, DicomFilesOpenThroughTheLoadersVolume) {
  // A DICOM series is read by the DICOM loader, which hands its volume to the open under the name
  // the document opens with; the open takes it instead of reading the path.
  std::unique_ptr<CVol> source(makeVolume(FRM_INT, 6, 5, 3, 1, L"series", 16));
  const CString folder = scratch_.file("dicom");
  std::filesystem::create_directories(folder.toUtf8());
  ASSERT_TRUE(CVol::SaveToDicom(source.get(), false, PR_JoinPath(folder, L"image.dcm"), nullptr, false, true, false,
                                false, false));
  int count = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, L"dcm", false, false, &count, false);
  ASSERT_EQ(count, 3);
  CVol* vol = VA_LoadDicomVolume(files, count, false);
  const CString first = files[0];
  pf_free_parr(&files, count);
  ASSERT_TRUE(vol);
  vol->name = first;
  std::unique_ptr<CDrawDoc> doc(TW_OpenVolumeDocument(&vol, true, false));
  ASSERT_TRUE(doc);
  EXPECT_EQ(vol, nullptr);
  EXPECT_EQ(doc->GetPathName(), first);
  const CVol* opened = doc->GetActiveSet()->GetBaseVol();
  EXPECT_EQ(opened->D(), 3);
  EXPECT_EQ(opened->numDicom, 3);

  // Without the loader, a DICOM file is not read by the image open.
  ui.clear();
  doc.reset();
  EXPECT_EQ(TW_OpenImageDocument(first, true, false), nullptr);
  EXPECT_EQ(ui.lastMessage(), CString(L"LoadVolFile : Unable to load the Volume : ") + first);
}

TEST_F(ImageOpen, CropAndCloneMakeNewDocumentsUnderFullNames) {
  std::unique_ptr<CVol> source(makeVolume(FRM_INT, 6, 5, 4, 3, L"source", 16));
  const RECT3D box3{1, 1, 1, 3, 2, 2};
  const RECT4D box4{0, 0, 0, 5, 4, 3, 1, 2};
  ui.clear();
  EXPECT_EQ(TW_CreateDocumentByCrop(scratch_.file("c"), source.get(), &box3, &box4, false), nullptr);
  EXPECT_EQ(TW_CreateDocumentByCrop(scratch_.file("c"), source.get(), nullptr, nullptr, false), nullptr);
  EXPECT_EQ(ui.messages, (std::vector<CString>{L"TW_CreateDocumentByCrop : Invalid cropping parameters",
                                                L"TW_CreateDocumentByCrop : Invalid cropping parameters"}));

  std::unique_ptr<CDrawDoc> crop(TW_CreateDocumentByCrop(scratch_.file("crop"), source.get(), &box3, nullptr, false));
  ASSERT_TRUE(crop);
  EXPECT_TRUE(crop->IsModified());
  EXPECT_EQ(crop->GetPathName(), scratch_.file("crop"));
  const CVol* cropped = crop->GetActiveSet()->GetBaseVol();
  EXPECT_EQ((std::vector<int>{cropped->W(), cropped->H(), cropped->D(), cropped->T()}), (std::vector<int>{3, 2, 2, 3}));
  ui.clear();
  EXPECT_EQ(TW_CreateDocumentByCrop(scratch_.file("crop"), source.get(), nullptr, &box4, false), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"GetFullPathCheckPresent : Document with requested name is already present");

  // A clone: a copy of the voxels in the native plane of its view, colour scheme 0.
  const SPC spacing{1, 1, 3};
  std::unique_ptr<CDrawDoc> clone(TW_CreateDocumentByClone(scratch_.file("clone"), source.get(), &spacing, nullptr,
                                                           nullptr, false));
  ASSERT_TRUE(clone);
  const CVol* copy = clone->GetActiveSet()->GetBaseVol();
  EXPECT_EQ(std::memcmp(copy->frame->data, source->frame->data, size_t(PR_FrameMemSize(source->frame))), 0);
  EXPECT_DOUBLE_EQ(copy->Vz(), 3.0);
  EXPECT_EQ(clone->GetActiveSet()->GetLayer(0)->filter.scheme, 0);
  EXPECT_EQ(viewRecord(clone.get())->rotation[1], 0.0);
}

TEST_F(ImageOpen, CropToNewLayerAddsTheCropToTheSet) {
  std::unique_ptr<CDrawDoc> doc(new CDrawDoc);
  auto* set = new CDrawSet(doc.get());
  set->AppendLayer(makeLayer(makeVolume(FRM_INT, 4, 4, 2, 1, L"base", 16)));
  add(doc.get(), set);
  std::unique_ptr<CVol> big(makeVolume(FRM_ROI, 8, 6, 3, 1, L"roi", 0));
  const RECT3D box{2, 1, 0, 5, 4, 1};
  ASSERT_TRUE(TW_CropToNewLayer(set, false, L"lesion: left/upper", big.get(), &box, nullptr, 30, 0, -1, false));
  ASSERT_EQ(set->NumLayers(), 2);
  const CVol* layer = set->GetLayerVol(1);
  EXPECT_EQ(layer->W(), 4);
  EXPECT_TRUE(layer->IsROI());
  EXPECT_EQ(layer->name, L"lesion- left-upper");
  // A crop of another size is refused, and the cropped volume goes with it.
  const RECT3D small{0, 0, 0, 1, 1, 0};
  ui.clear();
  EXPECT_FALSE(TW_CropToNewLayer(set, false, L"x", big.get(), &small, nullptr, 30, 0, -1, false));
  EXPECT_EQ(set->NumLayers(), 2);
}

TEST_F(ImageOpen, RoiFilesOfAFolder) {
  const CString a = writeImage(scratch_, "a.im", 2), b = writeImage(scratch_, "b.im", 2);
  const CString n = writeImage(scratch_, "a.nii", 2);
  const wchar_t* pairs[] = {a, n, b, n};
  CVol** volumes = nullptr;
  int count = -1;
  ASSERT_TRUE(TW_LoadRoisFromFolder(3, L"rois", pairs, 4, &volumes, &count));
  ASSERT_EQ(count, 2);
  for (int i = 0; i < count; ++i) delete volumes[i];
  pf_free(&volumes);

  ui.clear();
  EXPECT_FALSE(TW_LoadRoisFromFolder(3, L"rois", pairs, 3, &volumes, &count));
  EXPECT_EQ(ui.lastMessage(), L"TW_LoadRoisFromFolder : Unexpected number of loaded OBRIX files rois");
  EXPECT_EQ(volumes, nullptr);

  const wchar_t* all[] = {a, n};
  ASSERT_TRUE(TW_LoadRoisFromFolder(2, L"rois", all, 2, &volumes, &count));
  EXPECT_EQ(count, 2);
  for (int i = 0; i < count; ++i) delete volumes[i];
  pf_free(&volumes);
  const wchar_t* missing[] = {a, L"/nonexistent/file.im"};
  EXPECT_FALSE(TW_LoadRoisFromFolder(2, L"rois", missing, 2, &volumes, &count));
  EXPECT_TRUE(TW_LoadRoisFromFolder(7, L"rois", all, 2, &volumes, &count));
  EXPECT_EQ(count, 0);
}

// ---- NumPy arrays and the raw-volume dialog ----

void writeNpy(const CString& path, const std::string& descr, const std::string& shape, const void* data, size_t bytes) {
  std::string header = "{'descr': '" + descr + "', 'fortran_order': False, 'shape': " + shape + ", }";
  while ((10 + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  std::vector<uint8_t> out = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0, uint8_t(header.size() & 0xFF), uint8_t(header.size() >> 8)};
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + bytes);
  writeAll(path, out);
}

TEST_F(ImageOpen, NumpyArrayOpensWithTheDialogsAxes) {
  // A (t, z, y, x) = (2, 3, 4, 5) array of uint16 holding its own index.
  std::vector<uint16_t> values(2 * 3 * 4 * 5);
  for (size_t i = 0; i < values.size(); ++i) values[i] = uint16_t(i);
  const CString path = scratch_.file("array.npy");
  writeNpy(path, "<u2", "(2, 3, 4, 5)", values.data(), values.size() * 2);
  TW_EditOptions().imageOpenLayout = 1;
  // Width, height, depth, time points, voxel size, kind, then the values text and the order.
  ui.answerValues({5, 4, 3, 2, 0.5, 0.5, 2, 0}, {L"", L"tzyx"});
  ASSERT_TRUE(TW_OpenRawVolumeFile(path));
  std::unique_ptr<CDrawDoc> doc(TW_FindDocumentByPath(path));
  ASSERT_TRUE(doc);
  const CVol* vol = doc->GetActiveSet()->GetBaseVol();
  EXPECT_EQ(vol->W(), 5);
  EXPECT_EQ(vol->H(), 4);
  EXPECT_EQ(vol->D(), 3);
  EXPECT_EQ(vol->T(), 2);
  EXPECT_DOUBLE_EQ(vol->Vz(), 2.0);
  ASSERT_EQ(ui.prompts.size(), 1u);
  EXPECT_EQ(ui.prompts[0][0].number, 5);  // width from the last axis
  EXPECT_EQ(ui.prompts[0][3].number, 2);  // time points from the first
}

TEST_F(ImageOpen, ComplexArrayAsksBothQuestionsAndRefusesAnUnknownMode) {
  std::vector<std::complex<float>> values(2 * 2 * 3 * 4, {1.0f, 2.0f});
  const CString path = scratch_.file("complex.npy");
  writeNpy(path, "<c8", "(2, 2, 3, 4)", values.data(), values.size() * 8);
  ui.answerValues({4, 3, 2, 2, 1, 1, 1, 0}, {L"", L"tzyx"}).answerMessage(IDNO).answerValues({5});
  const int before = openDocumentCount();
  EXPECT_FALSE(TW_OpenRawVolumeFile(path));
  EXPECT_FALSE(ui.pendingAnswers());
  EXPECT_EQ(ui.lastMessage(), L"TW_OpenRawVolume : Invalid Complex conversion mode");
  EXPECT_EQ(openDocumentCount(), before);

  const CString flat = scratch_.file("flat.npy");
  writeNpy(flat, "<u2", "(24,)", values.data(), 48);
  ui.clear();
  EXPECT_FALSE(TW_OpenRawVolumeFile(flat));
  EXPECT_EQ(ui.lastMessage(), L"TW_OpenRawVolume : Wrong number of dimensions");
}

TEST(RawVolumeSettings, UpdateAndAcceptFollowTheOrderAndTheElementCount) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  RawVolumeSettings settings;
  const uint64_t shape[4] = {1, 2, 3, 4};
  std::copy(shape, shape + 4, settings.shape);
  settings.type = DTYPE_INT16;
  EXPECT_EQ(RawVolumeShapeLabel(settings), L"Shape : (1,2,3,4)");
  EXPECT_EQ(RawVolumeDataTypeLabel(settings), L"int16");

  const struct {
    const wchar_t* order;
    bool ok;
    int w, h, d, t;
  } updates[] = {{L"tzyx", true, 4, 3, 2, 1}, {L"xyzt", true, 1, 2, 3, 4}, {L"zyxt", true, 3, 2, 1, 4},
                 {L"tzyy", false, 0, 0, 0, 0}, {L"tzy", false, 0, 0, 0, 0}, {L"abcd", false, 0, 0, 0, 0}};
  for (const auto& u : updates) {
    SCOPED_TRACE(CString(u.order).toUtf8());
    settings.order = u.order;
    settings.width = settings.height = settings.depth = settings.timePoints = 7;
    ui.clear();
    EXPECT_EQ(RawVolumeUpdate(&settings), u.ok);
    if (u.ok) {
      EXPECT_EQ((std::vector<int>{settings.width, settings.height, settings.depth, settings.timePoints}),
                (std::vector<int>{u.w, u.h, u.d, u.t}));
    } else {
      EXPECT_EQ(settings.width, 7);
      EXPECT_EQ(ui.lastMessage(), L"Order should be a permutation of axis : xyzt");
    }
  }

  const struct {
    const char* what;
    const wchar_t* order;
    int w, h, d, t;
    double vx;
    int kind;
    bool ok;
  } accepts[] = {
      {"as computed", L"tzyx", 4, 3, 2, 1, 1, 0, true},
      {"a reshape of the same count", L"tzyx", 12, 2, 1, 1, 1, 5, true},
      {"repeated axis", L"ttyx", 4, 3, 2, 1, 1, 0, false},
      {"product too large", L"tzyx", 4, 3, 2, 2, 1, 0, false},
      {"product too small", L"tzyx", 4, 3, 1, 1, 1, 0, false},
      {"zero dimension", L"tzyx", 0, 3, 2, 1, 1, 0, false},
      {"negative voxel", L"tzyx", 4, 3, 2, 1, -1, 0, false},
      {"kind beyond the list", L"tzyx", 4, 3, 2, 1, 1, 6, false},
  };
  for (const auto& a : accepts) {
    SCOPED_TRACE(a.what);
    settings.order = a.order;
    settings.width = a.w;
    settings.height = a.h;
    settings.depth = a.d;
    settings.timePoints = a.t;
    settings.voxel[0] = a.vx;
    settings.dynamicKind = a.kind;
    ui.clear();
    EXPECT_EQ(RawVolumeAccept(settings), a.ok);
    EXPECT_EQ(ui.messages.empty(), a.ok);
  }
}

TEST(RawVolumeSettings, CancelWritesNothingAndARefusalAsksAgain) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const uint64_t shape[4] = {2, 3, 4, 5};
  int dims[4] = {-1, -1, -1, -1};
  double voxel[3] = {0.7, 0.8, 0.9};
  int kind = 3;
  CString values = L"0,50", order;
  ui.cancelValues();
  EXPECT_FALSE(TW_SpecifyRawVolume(shape, DTYPE_UINT8, dims, voxel, &kind, &values, &order));
  EXPECT_EQ(dims[0], -1);
  EXPECT_EQ(voxel[2], 0.9);
  EXPECT_EQ(kind, 3);
  EXPECT_EQ(values, L"0,50");

  // An order that is no permutation is refused and the dialog comes again.
  ui.answerValues({5, 4, 3, 2, 1, 1, 1, 3}, {L"0,50", L"tzzx"}).answerValues({3, 4, 5, 2, 1, 1, 1, 3}, {L"0,50", L"tyxz"});
  ASSERT_TRUE(TW_SpecifyRawVolume(shape, DTYPE_UINT8, dims, voxel, &kind, &values, &order));
  EXPECT_NE(std::find(ui.messages.begin(), ui.messages.end(), CString(L"Order should be a permutation of axis : xyzt")),
            ui.messages.end());
  EXPECT_EQ(order, L"tyxz");
  EXPECT_EQ((std::vector<int>{dims[0], dims[1], dims[2], dims[3]}), (std::vector<int>{3, 4, 5, 2}));
  EXPECT_EQ(voxel[0], 1.0);
}

}  // namespace
