// The shell's headless services: options file, pickers, value prompts, the three-button box, the
// colour chooser and the curve pane's geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DocHooks.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "TestFolder.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"
#include "OptionsFile.h"
#include "PlotPane.h"
#include "Prompts.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "UiHelpers.h"

namespace fs = std::filesystem;

namespace {

fs::path scratchFolder(const char* name) {
  return twk::testing::testFolder(std::string("shell_test_") + name);
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

CString wide(const fs::path& p) { return CString::fromUtf8(p.string()); }

}  // namespace

TEST(OptionsFile, WithoutAFileSavingWritesEveryKeyWithItsDefault) {
  const fs::path folder = scratchFolder("defaults");
  USEROPT options;
  options.undoEnabled = 0;
  EXPECT_FALSE(TW_LoadUserOptions(wide(folder / "missing.txt"), &options));
  EXPECT_EQ(options.undoEnabled, 1);
  ASSERT_TRUE(TW_SaveUserOptions(wide(folder / "TarnwickConfig.txt"), &options));
  const std::string expected =
      "DICOM compress:=0\nTemp Folder:=\nRAW Load Folder:=\nRAW Save3D Folder:=\nRAW Save4D Folder:=\n"
      "TWK Load Folder:=\nTWK Save Folder:=\nDCM Load Folder:=\nTAC Load Folder:=\nVROI Load Folder:=\n"
      "VTF Folder:=\nCurrent Work Folder:=\nRAW Load extension:=\nRAW Save3D extension:=\nRAW Save4D extension:=\n"
      "TWK Load extension:=\nTWK Save extension:=\nRAW Load FilterInx:=0\nRAW Save3D FilterInx:=0\n"
      "RAW Save4D FilterInx:=0\nTWK Load FilterInx:=0\nTWK Save FilterInx:=0\nInterpVols:=1\nInterpRois:=0\n"
      "InterpPmaps:=1\nInterpAllowFilmView:=0\nDisplayOrient:=1\nLoadDMDBfromTWK:=1\nVolCursor:=1\n"
      "MainframeAutoTile:=1\nVerifyModality:=0\nCompressDICOMinTWK:=1\nDefaultInterpolation:=1\nToolbarAlign:=2\n"
      "ImageOpenLayout:=0\nProjViewConvention:=1\nVisualStyle:=0\nDocBakgroundColor:=12607584\n";
  EXPECT_EQ(readFile(folder / "TarnwickConfig.txt"), expected);
  EXPECT_FALSE(fs::exists(folder / "TarnwickConfig.txt.tmp"));
  fs::remove_all(folder);
}

TEST(OptionsFile, RoundTripRestoresEveryStoredValue) {
  const fs::path folder = scratchFolder("roundtrip");
  const fs::path blank = folder / "with blank";
  fs::create_directories(blank);
  const fs::path temp = folder / "temp";
  fs::create_directories(temp);
  USEROPT o;
  o.dicomCompress = 1;
  o.visualStyle = 3;
  o.docBackgroundColor = 0x102030;
  o.interpVols = 0;
  o.interpRois = 1;
  o.interpPmaps = 0;
  o.interpFilmView = 1;
  o.displayOrient = 0;
  o.loadDmdbFromTwk = 0;
  o.imageOpenLayout = 2;
  o.projViewConvention = 2;
  o.volCursor = 0;
  o.autoTile = 0;
  o.verifyModality = 1;
  o.defaultInterpolation = 4;
  o.toolbarAlign = 1;
  o.compressDicomInTwk = 0;
  o.rawLoadFilterInx = 2;
  o.rawSave3DFilterInx = 3;
  o.rawSave4DFilterInx = 4;
  o.twkLoadFilterInx = 5;
  o.twkSaveFilterInx = 6;
  o.rawLoadExt = L"nii";
  o.rawSave3DExt = L"img";
  o.rawSave4DExt = L"time";
  o.twkLoadExt = L"twk";
  o.twkSaveExt = L"tw k";
  o.tempFolder = wide(temp);
  for (CString* f : {&o.rawLoadFolder, &o.rawSave3DFolder, &o.rawSave4DFolder, &o.twkLoadFolder, &o.twkSaveFolder,
                     &o.dcmLoadFolder, &o.tacLoadFolder, &o.vroiLoadFolder, &o.vtfFolder, &o.currentWorkFolder})
    *f = wide(blank);
  const CString path = wide(folder / "TarnwickConfig.txt");
  ASSERT_TRUE(TW_SaveUserOptions(path, &o));
  USEROPT back;
  ASSERT_TRUE(TW_LoadUserOptions(path, &back));
  EXPECT_EQ(TW_UserOptionsText(back), TW_UserOptionsText(o));
  EXPECT_EQ(back.rawLoadFolder, wide(blank));
  EXPECT_EQ(back.visualStyle, 3);
  EXPECT_EQ(back.docBackgroundColor, 0x102030u);
  EXPECT_EQ(back.twkSaveExt, L"tw k");
  EXPECT_EQ(back.twkSaveFilterInx, 6);
  fs::remove_all(folder);
}

TEST(OptionsFile, KeysMatchExactlyAndMissingFoldersFallBack) {
  const fs::path folder = scratchFolder("keys");
  const fs::path temp = folder / "temp";
  fs::create_directories(temp);
  const fs::path config = folder / "TarnwickConfig.txt";
  std::ofstream(config) << "Temp Folder:=" << temp.string() << "\n"
                        << "VolCursor:=0\r\n"
                        << "InterpRois:=7\n"
                        << "interpvols:=0\n"            // other letter case: ignored
                        << "My InterpPmaps:=0\n"        // a key inside a longer text: ignored
                        << "no separator here\n"
                        << "TAC Load Folder:=" << (folder / "gone").string() << "\n"
                        << "VTF Folder:=" << folder.string() << "\n"
                        << "ToolbarAlign:=x\n";
  USEROPT o;
  ASSERT_TRUE(TW_LoadUserOptions(wide(config), &o));
  EXPECT_EQ(o.volCursor, 0);
  EXPECT_EQ(o.interpRois, 1);
  EXPECT_EQ(o.interpVols, 1);
  EXPECT_EQ(o.interpPmaps, 1);
  EXPECT_EQ(o.toolbarAlign, 2);
  EXPECT_EQ(o.tacLoadFolder, wide(temp));
  EXPECT_EQ(o.vtfFolder, wide(folder));
  EXPECT_EQ(o.rawLoadFolder, wide(temp));
  EXPECT_EQ(o.undoEnabled, 1);
  fs::remove_all(folder);
}

TEST(OptionsFile, ListingNamesTheEnumeratedValues) {
  USEROPT o;
  const CString text = TW_UserOptionsText(o);
  EXPECT_EQ(text.Find(L"Temp Folder:="), 0);
  EXPECT_GE(text.Find(L"\nImageOpenLayout:=FilmView\nProjViewConvention:=Radiological\n"), 0);
  EXPECT_GE(text.Find(L"\nDefaultInterpolation:=Tri linear\nToolbarAlign:=2\n"), 0);
}

TEST(Pickers, RememberedFolderTypeAndExtension) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CString folder = L"/remembered";
  int filterIndex = 1;
  CString extension;
  CString path = L"/elsewhere/suggested.nii";
  ui.answerOpenFile(L"/chosen/place/scan.nii.gz");
  ASSERT_TRUE(TW_GetFileLoadName(TW_FILTER_RAW_ALL, &folder, &filterIndex, &extension, &path));
  ASSERT_EQ(ui.fileRequests.size(), 1u);
  EXPECT_EQ(ui.fileRequests[0].initialPath, L"/remembered/suggested.nii");
  EXPECT_EQ(ui.fileRequests[0].filterIndex, 1);
  EXPECT_EQ(ui.fileRequests[0].filter.Left(18), L"All (*.im;*.img;*n");
  EXPECT_EQ(path, L"/chosen/place/scan.nii.gz");
  EXPECT_EQ(folder, L"/chosen/place");
  EXPECT_EQ(extension, L"gz");
  EXPECT_EQ(filterIndex, 1);

  ui.answerSaveFile(L"/out/doc.twk");
  CString savePath;
  ASSERT_TRUE(TW_GetFileSaveName(TW_FILTER_DOCUMENT, &folder, &filterIndex, &extension, &savePath));
  EXPECT_EQ(savePath, L"/out/doc.twk");
  EXPECT_EQ(extension, L"twk");

  ui.cancelPicker();
  EXPECT_FALSE(TW_GetFileLoadName(TW_FILTER_TEXT, &folder, &filterIndex, &extension, &path));
  EXPECT_EQ(folder, L"/out");
  EXPECT_EQ(path, L"/chosen/place/scan.nii.gz");

  EXPECT_FALSE(TW_GetFileLoadName(12345, &folder, nullptr, nullptr, &path));
  EXPECT_EQ(ui.lastMessage(), L"TW_GetFileLoadName : Unable to load a string resource");
  EXPECT_FALSE(ui.pendingAnswers());
}

TEST(Pickers, FilterIndexFollowsTheChosenFile) {
  CString filter;
  ASSERT_TRUE(TW_LoadResourceString(TW_FILTER_RAW_ALL, &filter));
  EXPECT_EQ(TW_FilterIndexOfPath(filter, L"/a/b.mgz"), 1);
  ASSERT_TRUE(TW_LoadResourceString(TW_FILTER_INPUT_FUNCTION, &filter));
  EXPECT_EQ(TW_FilterIndexOfPath(filter, L"/a/b.idwc"), 1);
  EXPECT_EQ(TW_FilterIndexOfPath(L"Obrix (*.im)|*.im|Nifti (*.nii)|*.nii|", L"x.NII"), 2);
  EXPECT_EQ(TW_FilterIndexOfPath(L"Obrix (*.im)|*.im|", L"x.txt"), 0);
}

TEST(Pickers, MultipleFilesAndFolders) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CString folder;
  int count = 0;
  ui.answerOpenFiles({L"/d/one.nii"});
  CString** files = TW_GetMultiFileLoadName(TW_FILTER_NIFTI, &folder, nullptr, nullptr, &count);
  ASSERT_NE(files, nullptr);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(*files[0], L"/d/one.nii");
  EXPECT_EQ(folder, L"/d");
  delete files[0];
  pf_free(&files);

  ui.cancelPicker();
  count = -1;
  EXPECT_EQ(TW_GetMultiFileLoadName(TW_FILTER_NIFTI, &folder, nullptr, nullptr, &count), nullptr);
  EXPECT_EQ(count, -1);

  EXPECT_FALSE(TW_SpecifyFolder(nullptr));
  EXPECT_EQ(ui.lastMessage(), L"TW_SpecifyFolder : NULL folder is not allowed here");
  ui.answerFolder(L"/picked");
  CString chosen;
  ASSERT_TRUE(TW_SpecifyFolder(&chosen));
  EXPECT_EQ(chosen, L"/picked");
}

TEST(Prompts, OkWritesAndCancelKeeps) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  int value = 7;
  ui.answerValues({});
  EXPECT_TRUE(TW_SpecifyInt(L"Number of classes", &value));
  EXPECT_EQ(value, 7);
  ui.cancelValues();
  EXPECT_FALSE(TW_SpecifyInt(L"Number of classes", &value));
  EXPECT_EQ(value, 7);
  ui.answerValues({9});
  EXPECT_TRUE(TW_SpecifyInt(L"Number of classes", &value));
  EXPECT_EQ(value, 9);
  EXPECT_EQ(ui.prompts[0][0].label, L"Number of classes");
  EXPECT_EQ(ui.messages[0], L"Specify Integer");

  double a = 0.5, b = -2;
  ui.answerValues({});
  ASSERT_TRUE(TW_SpecifyTwoDouble(L"Range", L"From", &a, L"To", &b));
  EXPECT_EQ(ui.prompts.back()[0].text, L"5.00000000e-01");
  EXPECT_EQ(ui.prompts.back()[1].text, L"-2.00000000e+00");
  EXPECT_EQ(a, 0.5);
  // A text that is no number is refused and asked again.
  ui.answerValuesText({L"abc", L"1"}).answerValuesText({L"0.25", L"3e2"});
  ASSERT_TRUE(TW_SpecifyTwoDouble(L"Range", L"From", &a, L"To", &b));
  EXPECT_EQ(a, 0.25);
  EXPECT_EQ(b, 300.0);

  int x = 1, y = 2, z = 3;
  ui.answerValues({4, 5, 6});
  ASSERT_TRUE(TW_SpecifyThreeInt(L"Split selected lung ROI  across {X,Y,Z} axis", L"X", L"Y", L"Z", &x, &y, &z));
  EXPECT_EQ(x + y + z, 15);
  EXPECT_FALSE(ui.pendingAnswers());
}

TEST(Prompts, ResolutionShowsUnsetSizesAsOneAndChecksRanges) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_VOXELSIZE size{1e60, 0.5, 1e60};
  ui.answerValues({});
  ASSERT_TRUE(TW_SpecifyResolution(&size, 2.5, 1e60, 1e60));
  EXPECT_EQ(size.x, 1.0);
  EXPECT_EQ(size.y, 0.5);
  EXPECT_EQ(size.z, 1.0);
  EXPECT_EQ(ui.messages[0], L"Specify Valid Resolution\nAverage Interslice Dist =    2.500 mm");

  // The prompt accepts an x of 50000 but no y above 10000.
  EXPECT_EQ(ui.prompts[0][0].maximum, 100000.0);
  EXPECT_EQ(ui.prompts[0][1].maximum, 10000.0);
  EXPECT_EQ(ui.prompts[0][2].maximum, 10000.0);
  EXPECT_EQ(ui.prompts[0][1].minimum, 0.0);
  ui.answerValues({50000, 2, 1});
  ASSERT_TRUE(TW_SpecifyResolution(&size, 1e60, 1e60, 1e60));
  EXPECT_EQ(size.x, 50000.0);
  EXPECT_EQ(size.y, 2.0);
  ui.answerValues({1, 50000, 1});
  EXPECT_THROW(TW_SpecifyResolution(&size, 1e60, 1e60, 1e60), twk::UnexpectedPrompt);
  EXPECT_EQ(size.y, 2.0);
}

TEST(Prompts, ModalityFoldersAndThreeButtons) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  unsigned modality = 10000;
  ui.answerValues({2});
  ASSERT_TRUE(TW_SpecifyModality(&modality));
  EXPECT_EQ(modality, 2u);
  EXPECT_EQ(ui.prompts[0][0].number, 0);
  EXPECT_EQ(ui.prompts[0][0].choices.size(), 4u);

  CString first = wide(fs::temp_directory_path()), second;
  ui.answerValues({});
  EXPECT_FALSE(TW_SpecifyTwoFolders(L"Source", L"Target", &first, &second, true));
  EXPECT_EQ(first, wide(fs::temp_directory_path()));
  EXPECT_TRUE(second.IsEmpty());

  const wchar_t* lines[] = {L"(0010,0010) PatientName : DOE^JOHN"};
  ui.answerThreeButtons(1);
  EXPECT_EQ(TW_ThreeButtonMsgBox(L"Protected Health Info is present", lines, 1, L"Deidentify", L"Cancel", L""), 1);
  // Closed without a button: the box answers as "Cancel", never as "Deidentify".
  ui.answerThreeButtons(2);
  EXPECT_EQ(TW_ThreeButtonMsgBox(L"Protected Health Info is present", lines, 1, L"Deidentify", L"Cancel", L""), 1);
  ui.answerThreeButtons(0);
  EXPECT_EQ(TW_ThreeButtonMsgBox(nullptr, nullptr, 0, L"Load as microseconds", L"Load as milliseconds", L"No TSL"), 0);
}

TEST(UiHelpers, ColourChooserReportsCancel) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  COLORREF colour = 0x00FF8040;
  ui.cancelValues();
  EXPECT_FALSE(TW_ChooseColor(&colour));
  EXPECT_EQ(colour, 0x00FF8040u);
  ui.answerValues({});
  ASSERT_TRUE(TW_ChooseColor(&colour));
  EXPECT_EQ(colour, 0x00FF8040u);
  colour = 0xFFFFFFFF;
  ui.answerValues({255, 0, 16});
  ASSERT_TRUE(TW_ChooseColor(&colour));
  EXPECT_EQ(ui.prompts.back()[0].number, 0);  // unset starts at black
  EXPECT_EQ(colour, RGB(255, 0, 16));
}

TEST(PlotPane, RangesGridAndNearestCurve) {
  const double values[] = {1e60, 3, -2, 1e60};
  double lo = 0, hi = 0;
  TW_GetPlotRange(values, 4, &lo, &hi);
  EXPECT_EQ(lo, -2);
  EXPECT_EQ(hi, 3);
  TW_GetPlotRange(values, 1, &lo, &hi);
  EXPECT_EQ(lo, 1e60);
  EXPECT_EQ(hi, 1e60);

  TW_PLOT_SCENE grid;
  TW_DrawPaneGrid(TW_PANE_RECT{10, 20, 110, 70}, &grid);
  ASSERT_EQ(grid.lines.size(), 16u);
  EXPECT_EQ(grid.lines[0].y0, 30);  // 1 x 50 / 5 + 20
  EXPECT_EQ(grid.lines[1].x1, 2);   // tick left of the pane
  EXPECT_EQ(grid.lines[8].x0, 30);

  const double x[] = {0, 1};
  const double curveA[] = {0, 10}, curveB[] = {5, 5};
  const double* curves[] = {curveA, curveB};
  EXPECT_EQ(TW_FindNearestPlotCurve(0, 10, TW_PANE_RECT{0, 0, 100, 100}, curves, 2, x, 2, 50, 40), 1);
  EXPECT_EQ(TW_MarkerBrushColour(0x0000FF), RGB(146, 0, 0));
}

TEST(PlotPane, CurveRunsMarkersAndDegenerateRanges) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const TW_PANE_RECT pane{0, 0, 99, 99};
  const double x[] = {1, 0, 2, 1}, y[] = {4, 1, 3, 2};
  double lo = 1e60, hi = 1e60;
  TW_PLOT_SCENE scene;
  const int filled[] = {0};
  ASSERT_TRUE(TW_DrawPaneTac(&scene, &lo, &hi, pane, y, x, 4, 0x00FF00, 0x0000FF, 0, 3, filled, 1, true));
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 4);
  // (0,1) -> (1,3), the vertical at x = 1 from 2 to 4, then (1,3) -> (2,3).
  ASSERT_EQ(scene.lines.size(), 3u);
  auto py = [](double v) { return 99 - int(std::floor((v - 1) * 100 / 3 + 0.5)); };
  EXPECT_EQ(scene.lines[0].x0, 0);
  EXPECT_EQ(scene.lines[0].y0, py(1));
  EXPECT_EQ(scene.lines[0].x1, 50);
  EXPECT_EQ(scene.lines[0].y1, py(3));
  EXPECT_EQ(scene.lines[1].y0, py(2));
  EXPECT_EQ(scene.lines[1].y1, std::max(0, py(4)));
  EXPECT_EQ(scene.lines[2].x1, 99);
  ASSERT_EQ(scene.markers.size(), 4u);
  EXPECT_TRUE(scene.markers[0].filled);
  EXPECT_FALSE(scene.markers[1].filled);
  EXPECT_EQ(scene.markers[0].right - scene.markers[0].left, 5);

  // A flat curve lies in the middle of the pane instead of dividing by a zero range.
  const double flatX[] = {0, 1, 2}, flatY[] = {5, 5, 5};
  lo = hi = 1e60;
  TW_PLOT_SCENE flat;
  ASSERT_TRUE(TW_DrawPaneTac(&flat, &lo, &hi, pane, flatY, flatX, 3, 0x00FF00, 0xFFFFFFFF, 0, 3, nullptr, 0, false));
  ASSERT_EQ(flat.lines.size(), 2u);
  EXPECT_EQ(flat.lines[0].y0, 49);
  EXPECT_TRUE(flat.markers.empty());

  // A single point is drawn in the middle; equal x of several points is an error.
  const double one[] = {2};
  lo = hi = 1e60;
  TW_PLOT_SCENE single;
  ASSERT_TRUE(TW_DrawPaneTac(&single, &lo, &hi, pane, one, one, 1, 0x00FF00, 0x0000FF, 0, 2, nullptr, 0, false));
  ASSERT_EQ(single.markers.size(), 1u);
  EXPECT_EQ(single.markers[0].left, 50 - 2);
  EXPECT_TRUE(ui.messages.empty());
  const double sameX[] = {1, 1}, twoY[] = {1, 2};
  lo = hi = 1e60;
  TW_PLOT_SCENE collapsed;
  EXPECT_FALSE(TW_DrawPaneTac(&collapsed, &lo, &hi, pane, twoY, sameX, 2, 0, 0, 0, 2, nullptr, 0, false));
  EXPECT_EQ(ui.lastMessage(), L"TW_DrawPaneTac : Function argument axis is collapsed");
  EXPECT_TRUE(collapsed.lines.empty());
}

TEST(LayerLoad, FourDVolumeOfUnknownModalityAsksForIt) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InstallShellServices();
  const fs::path folder = scratchFolder("load");
  const FramePtr frame(PR_FrameCreate(FRM_INT, 16, DIM3D{6, 5, 4, 3}, true));
  const CString path = wide(folder / "dynamic.nii");
  ASSERT_TRUE(VA_RAW_VolSaveFile(path, frame.get(), -1, nullptr, nullptr, nullptr, nullptr, MODALITY_UNKNOWN, 0, L"",
                                 nullptr, nullptr, false));

  CDrawDoc doc;
  auto* set = new CDrawSet(&doc);
  CVol* base = new CVol;
  base->frame = PR_FrameCreate(FRM_INT, 16, DIM3D{6, 5, 4, 3}, true);
  auto* baseLayer = new CDrawVol;
  PR_VIEWFILT window;
  window.level = window.width = 10;
  baseLayer->Init(&base, &window, false);
  set->AppendLayer(baseLayer);
  CDrawObj* obj = set;
  doc.AddObject(&obj, true);

  ui.answerValues({2});
  ASSERT_TRUE(set->AddLayerVol(false, path, -1, 3, -1, nullptr, false));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, L"dynamic");
  EXPECT_EQ(set->GetLayerVol(1)->GetModality(), MODALITY_PET);
  EXPECT_EQ(set->GetLayer(1)->filter.scheme, 3);
  EXPECT_EQ(ui.messages[0], L"Specify Modality");

  // A gzip-compressed file is read through a decompressed copy in the work folder.
  const fs::path packed = folder / "packed.nii";
  fs::copy_file(folder / "dynamic.nii", packed);
  ASSERT_EQ(std::system(("gzip -f " + packed.string()).c_str()), 0);
  TW_EditOptions().tempFolder = wide(folder);
  ui.answerValues({1});
  ASSERT_TRUE(set->AddLayerVol(false, wide(folder / "packed.nii.gz"), -1, 0, -1, nullptr, false));
  EXPECT_EQ(set->GetLayerVol(2)->GetModality(), MODALITY_MR);
  EXPECT_FALSE(fs::exists(folder / "packed.nii"));
  TW_EditOptions().tempFolder.Empty();

  ui.cancelValues();
  EXPECT_FALSE(set->AddLayerVol(false, path, -1, 0, -1, nullptr, false));
  EXPECT_EQ(ui.lastMessage(), L"Failed to add new layer");
  EXPECT_EQ(set->NumLayers(), 3);
  TW_DocumentHooks().specifyModality = nullptr;
  fs::remove_all(folder);
}
