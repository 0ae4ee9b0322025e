// The DICOM tree browser, series loading, the CT extractor, volume information and the DICOM folder
// commands, on folders written by pydicom and checked against pydicom, dcmtk and dcm2niix.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>

#include "AppOptions.h"
#include "DicomExtractorCT.h"
#include "DicomFolderCommands.h"
#include "DicomLoad.h"
#include "DicomTestKit.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "FilesTestKit.h"
#include "OpenDicomDir.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VolInfo.h"
#include "dicom/DicomFolders.h"
#include "ops/VolumeOps.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using namespace twk::dicomtest;
using twk::filestest::DocumentFileTest;

class DicomBrowserTest : public DocumentFileTest {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(TWKDCM_Initialize());
    fixtures();
  }
  void SetUp() override {
    DocumentFileTest::SetUp();
    TW_UseSeriesUidOption() = 1;
    baseline_ = PR_GetTotalAllocSize();
  }
  void TearDown() override {
    documents_.clear();
    // Everything a dialog took from the counted allocator went back.
    EXPECT_EQ(PR_GetTotalAllocSize(), baseline_);
    DocumentFileTest::TearDown();
  }

  fs::path folder(const char* name) const { return fixtures() / name; }
  fs::path scratchPath() const { return fs::path(scratch_.folder().toUtf8()); }

  // A browser of the folder, built non-interactively unless asked.
  std::unique_ptr<OpenDicomDir> browse(const fs::path& path, bool interactive = false, bool fullTree = true) {
    auto b = std::make_unique<OpenDicomDir>(wide(path), nullptr, nullptr, false, fullTree, nullptr, false, interactive);
    EXPECT_TRUE(b->OnInitDialog());
    return b;
  }

  CDrawDoc* keep(CDrawDoc* doc) {
    if (doc) documents_.emplace_back(doc);
    return doc;
  }
  CVol* baseVol(CDrawDoc* doc) const { return doc && doc->GetActiveSet() ? doc->GetActiveSet()->GetBaseVol() : nullptr; }

  // Loads the series with the number from the folder through the "Load" button.
  CVol* loadSeries(OpenDicomDir& b, int number) {
    VA_DICOMTREEITEM* series = findSeries(b.Tree(), number);
    if (!series) return nullptr;
    b.OnSelect(series, false, false);
    if (!b.OnLoad()) return nullptr;
    return baseVol(keep(b.NewDocument()));
  }

  std::vector<std::unique_ptr<CDrawDoc>> documents_;
  int64_t baseline_ = 0;
};

double voxelSum(const CVol* vol) {
  double sum = 0;
  for (int t = 0; t < vol->T(); ++t)
    for (int z = 0; z < vol->D(); ++z)
      for (int y = 0; y < vol->H(); ++y)
        for (int x = 0; x < vol->W(); ++x) sum += twk::voxelValue(vol->frame, x, y, z, t);
  return sum;
}

// --- the tree and its columns ------------------------------------------------------------------

TEST_F(DicomBrowserTest, RowsAreTheFilesValuesAndSeriesDimensionsAreDcm2niixs) {
  auto b = browse(folder("tree"), true);
  const VA_DICOMTREE& tree = b->Tree();
  // The truncated file and the text file are skipped and reported once.
  EXPECT_EQ(tree.skippedCount, 2);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].Find(L"truncated.dcm"), -1);
  EXPECT_NE(ui.messages[0].Find(L"notes.txt"), -1);

  // Patients in name order with their decoded names (UTF-8 and ISO_IR 100).
  ASSERT_EQ(tree.items.size(), 2u);
  EXPECT_EQ(b->RowText(tree.items[0].get()).Find(L"Müller^Jörg"), 0);
  EXPECT_EQ(b->RowText(tree.items[1].get()).Find(L"Ørsted^Hans"), 0);
  EXPECT_EQ(tree.items[0]->NumChildren(), 2);  // two studies

  // Every image row from pydicom's values: its number among the images of its series of its size.
  std::map<std::string, std::vector<std::vector<std::string>>> bySeries;
  const auto images = readTable(fixtures() / "images.tsv");
  for (const auto& r : images) bySeries[r[2] + "/" + r[9]].push_back(r);
  int checkedRows = 0;
  for (auto& [key, rows] : bySeries) {
    std::sort(rows.begin(), rows.end(), [](auto& a, auto& c) { return std::stoi(a[11]) < std::stoi(c[11]); });
    for (size_t k = 0; k < rows.size(); ++k) {
      const auto& r = rows[k];
      SCOPED_TRACE(r[0]);
      VA_DICOMTREEITEM* item = findImage(tree, CString::fromUtf8(r[0]));
      ASSERT_NE(item, nullptr);
      CString label = r[8].empty() ? FmtStr(L"IMAGE #%u", unsigned(k))
                                   : FmtStr(L"IMAGE #%u, z = %5.4lf", unsigned(k), std::stod(r[8]));
      CString echo = r[6].empty() ? CString() : FmtStr(L"%8.3lf", std::stod(r[6]));
      CString bvalue = r[7].empty() ? CString() : FmtStr(L"%u", unsigned(std::floor(std::stod(r[7]) + 0.5)));
      EXPECT_EQ(b->RowText(item), label + L"\t\t\t" + CString::fromUtf8(r[5]) + L"\t" + echo + L"\t" + bvalue + L"\t");
      ++checkedRows;
    }
  }
  EXPECT_EQ(checkedRows, 50 + 18 + 10 + 6 + 8 + 4);

  // Series: number, description, and width, height and depth as dcm2niix makes the volumes.
  std::multimap<int, std::string> niix;
  for (const auto& r : readTable(fixtures() / "nii" / "dims.tsv"))
    niix.emplace(std::stoi(r[0]), r[1] + "x" + r[2] + "x" + r[3]);
  int series = 0;
  walk(tree, [&](VA_DICOMTREEITEM* i) {
    if (!i->IsSimpleSeries()) return;
    ++series;
    const std::vector<CString> f = fields(b->RowText(i));
    ASSERT_EQ(f.size(), 6u);
    SCOPED_TRACE(f[0].toUtf8());
    EXPECT_EQ(f[1], FmtStr(L"%u", unsigned(i->rec->seriesNumber)));
    std::string whd = f[2].toUtf8();
    whd = whd.substr(0, whd.rfind('x'));
    bool matched = false;
    for (auto [it, end] = niix.equal_range(i->rec->seriesNumber); it != end; ++it) matched = matched || it->second == whd;
    EXPECT_TRUE(matched) << whd;
  });
  EXPECT_EQ(series, 8);  // DWI, echoes, gap, two localizer sub-series, enhanced, CT, PET

  VA_DICOMTREEITEM* dwi = findSeries(tree, 2);
  ASSERT_NE(dwi, nullptr);
  EXPECT_EQ(fields(b->RowText(dwi))[2], L"16x16x10x5");
  EXPECT_EQ(fields(b->RowText(dwi))[5], L"0,100,200,500,800");
  EXPECT_EQ(fields(b->RowText(findSeries(tree, 3)))[4], L"10.000-30.000 (3)");
  VA_DICOMTREEITEM* localizer = findSeries(tree, 5);
  ASSERT_TRUE(localizer && localizer->IsCompositeSeries());
  EXPECT_EQ(fields(b->RowText(localizer))[2], L"16x16x3, 8x8x3");
  EXPECT_EQ(fields(b->RowText(localizer->Child(1)))[0], L"#1  Localizer");
  EXPECT_EQ(localizer->rec->composite, 1);
  EXPECT_EQ(localizer->rec->numChildren, 3);
  // Node images: simple series of several images 5, a composite of several images per sub-series 6.
  EXPECT_EQ(dwi->image, 5);
  EXPECT_EQ(localizer->image, 6);
  EXPECT_EQ(findSeries(tree, 6)->NumChildren(), 4);  // the multi-frame file's frames
}

TEST_F(DicomBrowserTest, ColumnWidthsFollowTheClientArea) {
  EXPECT_EQ(TW_DicomTreeColumnWidths(999), (std::vector<int>{450, 60, 150, 100, 100, 140}));
  EXPECT_EQ(TW_DicomTreeColumnWidths(99), (std::vector<int>{45, 6, 15, 10, 10, 14}));
  EXPECT_EQ(TW_DicomInfoColumnWidths(true, 299), (std::vector<int>{80, 100, 3000}));
  EXPECT_EQ(TW_DicomInfoColumnWidths(false, 299), (std::vector<int>{100, 3000}));
}

TEST_F(DicomBrowserTest, SingleSeriesFolderOpensExpandedToItsImages) {
  auto b = browse(folder("gap1005"), true);
  const VA_DICOMTREEITEM* patient = b->Tree().items.at(0).get();
  const VA_DICOMTREEITEM* study = patient->Child(0);
  const VA_DICOMTREEITEM* series = study->Child(0);
  EXPECT_TRUE(b->IsExpanded(patient) && b->IsExpanded(study) && b->IsExpanded(series));
  EXPECT_EQ(series->NumChildren(), 10);
  EXPECT_EQ(b->Highlighted(), patient);  // the first item is selected
  // Two patients: nothing below the top level opens.
  auto two = browse(folder("tree"));
  for (const auto& p : two->Tree().items) EXPECT_FALSE(two->IsExpanded(p.get()));
}

TEST_F(DicomBrowserTest, SelectionShowsTheMiddleImageAndCtrlShiftCheck) {
  auto b = browse(folder("tree"));
  VA_DICOMTREEITEM* dwi = findSeries(b->Tree(), 2);
  b->OnSelect(dwi, false, false);
  ASSERT_NE(b->ShownImage(), nullptr);
  EXPECT_EQ(b->ShownImage(), dwi->Child(25));
  const std::string values = fixtureScript("values " + quote(narrow(dwi->Child(25)->rec->filePath)) + " 00200013");
  EXPECT_EQ(b->Tags().Value(L"Instance Number").toUtf8() + "\n", values);
  EXPECT_FALSE(dwi->checked);

  VA_DICOMTREEITEM* image = dwi->Child(3);
  b->OnSelect(image, true, false);  // Ctrl toggles
  EXPECT_TRUE(image->checked);
  b->OnClickLabel(image, true, false);  // a Ctrl click on the highlighted label toggles again
  EXPECT_FALSE(image->checked);
  b->OnClickLabel(image, false, true);  // Shift checks
  b->OnClickLabel(image, false, true);
  EXPECT_TRUE(image->checked);
  b->OnSelect(dwi->Child(4), true, true);  // both keys: nothing
  EXPECT_FALSE(dwi->Child(4)->checked);
  EXPECT_EQ(b->ShownImage(), dwi->Child(4));
}

TEST_F(DicomBrowserTest, SignedPreviewIsShiftedToZero) {
  auto b = browse(folder("mrsigned"));
  VA_DICOMTREEITEM* series = findSeries(b->Tree(), 14);
  b->OnSelect(series->Child(0), false, false);
  const std::vector<double>& values = b->PreviewValues();
  ASSERT_EQ(values.size(), 256u);
  EXPECT_EQ(*std::min_element(values.begin(), values.end()), 0.0);
  const std::string study = fixtureScript("study " + quote(narrow(series->Child(0)->rec->filePath)));
  ASSERT_FALSE(study.empty());
  double sum = 0;
  for (double v : values) sum += v;
  EXPECT_DOUBLE_EQ(sum, std::stod(split(study, '\t')[1]) + 50.0 * 256);
}

TEST_F(DicomBrowserTest, UndecodablePreviewStillShowsTags) {
  const fs::path copy = scratchPath() / "short";
  copyFolder(folder("gap1005"), copy);
  auto b = browse(copy);
  // The file loses its pixels after the scan: its header is still read, its image no longer.
  VA_DICOMTREEITEM* image = findSeries(b->Tree(), 11)->Child(2);
  fs::copy_file(folder("shortpix") / "short.dcm", image->rec->filePath.toUtf8(), fs::copy_options::overwrite_existing);
  b->OnSelect(image, false, false);
  EXPECT_EQ(b->ShownImage(), image);
  EXPECT_TRUE(b->PreviewValues().empty());
  EXPECT_EQ(b->Tags().Value(L"Series Number"), L"11");
}

TEST_F(DicomBrowserTest, CheckCommands) {
  auto b = browse(folder("tree"));
  int all = countItems(b->Tree());
  auto countChecked = [&] {
    int n = 0;
    walk(b->Tree(), [&](VA_DICOMTREEITEM* i) { n += i->checked ? 1 : 0; });
    return n;
  };
  b->OnCheckUncheckAll();
  EXPECT_EQ(countChecked(), all);
  b->OnCheckUncheckAll();
  EXPECT_EQ(countChecked(), 0);

  VA_DICOMTREEITEM* dwi = findSeries(b->Tree(), 2);
  b->OnSelect(dwi->parent, false, false);
  b->OnCheckSubtree();  // the direct children only
  EXPECT_EQ(countChecked(), dwi->parent->NumChildren());
  EXPECT_FALSE(dwi->Child(0)->checked);
  b->OnCheckUncheckAll();
  b->OnCheckUncheckAll();

  b->OnSelect(dwi, false, false);
  OpenDicomDir::RangeStart() = -5;
  OpenDicomDir::RangeEnd() = 400;
  ui.answerValues({10, 12});
  b->OnCheckRange();
  ASSERT_EQ(ui.prompts.size(), 1u);
  EXPECT_EQ(ui.messages.back(), L"Specify descendant range in [0,49]");
  EXPECT_EQ(ui.prompts[0][0].number, 0);   // the start clamped to 0
  EXPECT_EQ(ui.prompts[0][1].number, 49);  // the end lowered to n - 1
  EXPECT_EQ(countChecked(), 3);
  EXPECT_TRUE(dwi->Child(10)->checked && dwi->Child(12)->checked && !dwi->Child(13)->checked);
  EXPECT_EQ(OpenDicomDir::RangeStart(), 10);
  // An item with fewer than two children asks nothing.
  b->OnSelect(findSeries(b->Tree(), 6)->Child(0), false, false);
  b->OnCheckRange();
  EXPECT_EQ(ui.prompts.size(), 1u);
  OpenDicomDir::RangeStart() = OpenDicomDir::RangeEnd() = 0;
}

TEST_F(DicomBrowserTest, CompareListsTheTagsPydicomFindsDifferent) {
  auto b = browse(folder("tree"));
  VA_DICOMTREEITEM* dwi = findSeries(b->Tree(), 2);
  const CString prefix = L"CDlgOpenDicomDir::OnBnClickedCompareItems : ";
  dwi->Child(0)->checked = dwi->Child(7)->checked = dwi->Child(9)->checked = true;
  EXPECT_FALSE(b->OnCompare());
  EXPECT_EQ(ui.lastMessage(), prefix + L"Only two image comparison is allowed");
  dwi->Child(9)->checked = false;
  dwi->Child(7)->checked = false;
  findSeries(b->Tree(), 4)->checked = true;
  EXPECT_FALSE(b->OnCompare());
  EXPECT_EQ(ui.lastMessage(), prefix + L"Image items should be selected");
  findSeries(b->Tree(), 4)->checked = false;
  VA_DICOMTREEITEM* other = findSeries(b->Tree(), 3)->Child(4);
  other->checked = true;
  ASSERT_TRUE(b->OnCompare());
  ASSERT_EQ(ui.shownFileTexts.size(), 1u);
  std::set<std::string> listed;
  for (const std::string& line : split(ui.shownFileTexts[0].toUtf8(), '\n'))
    if (line.size() > 11) listed.insert(line.substr(0, 11));
  std::set<std::string> expected;
  for (const std::string& line :
       split(fixtureScript("diff " + quote(narrow(dwi->Child(0)->rec->filePath)) + " " + quote(narrow(other->rec->filePath))), '\n'))
    if (!line.empty()) expected.insert(line);
  EXPECT_EQ(listed, expected);
}

// --- rewriting, copying and deleting files ------------------------------------------------------

TEST_F(DicomBrowserTest, SetEchoTimeAndBvalueRewriteEveryFileAndTheColumns) {
  const fs::path copy = scratchPath() / "gap";
  copyFolder(folder("tree") / "A" / "gap", copy);
  auto b = browse(copy);
  VA_DICOMTREEITEM* series = findSeries(b->Tree(), 4);
  b->OnSelect(findSeries(b->Tree(), 4)->parent, false, false);
  EXPECT_FALSE(b->OnSetTE());
  EXPECT_EQ(ui.lastMessage(),
            L"CDlgOpenDicomDir::OnBnClickedSetTE : Series or Image item should be selected in this operation");

  b->OnSelect(series, false, false);
  ui.answerValues({25});
  ASSERT_TRUE(b->OnSetTE());
  EXPECT_EQ(ui.prompts.back()[0].label, L"TE echo time (ms)");
  EXPECT_EQ(ui.prompts.back()[0].number, 12);  // the series' echo time
  std::string all;
  for (const fs::path& f : filesIn(copy)) all += " " + quote(f.string());
  const std::vector<std::string> dumped = split(run("dcmdump -q +P 0018,0081" + all), '\n');
  ASSERT_EQ(std::count_if(dumped.begin(), dumped.end(), [](const std::string& l) { return !l.empty(); }), 10);
  for (const std::string& line : dumped) {
    if (!line.empty()) {
      EXPECT_NE(line.find("[25]"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(fields(b->RowText(series))[4], L"  25.000 ms");
  EXPECT_EQ(fields(b->RowText(series->Child(3)))[4], L"  25.000 ms");

  ui.answerValues({800});
  ASSERT_TRUE(b->OnSetBvalue());
  EXPECT_EQ(ui.prompts.back()[0].label, L"b-value (sec/mm^2)");
  EXPECT_EQ(ui.prompts.back()[0].number, 0);
  std::string files;
  for (const fs::path& f : filesIn(copy)) files += " " + quote(f.string());
  std::string expected;
  for (int i = 0; i < 10; ++i) expected += "800\n";
  EXPECT_EQ(fixtureScript("bvalue" + files), expected);
  EXPECT_EQ(fields(b->RowText(series))[5], L"800");
  EXPECT_EQ(fields(b->RowText(series->Child(9)))[5], L"800");
}

TEST_F(DicomBrowserTest, RewriteStoppedMidwayNamesTheFileAndRebuilds) {
  const fs::path copy = scratchPath() / "gap";
  copyFolder(folder("tree") / "A" / "gap", copy);
  auto b = browse(copy);
  VA_DICOMTREEITEM* series = findSeries(b->Tree(), 4);
  const CString locked = series->Child(5)->rec->filePath;
  ::chmod(locked.toUtf8().c_str(), 0444);
  b->OnSelect(series, false, false);
  ui.answerValues({30});
  EXPECT_FALSE(b->OnSetTE());
  EXPECT_EQ(ui.lastMessage(), L"CDlgOpenDicomDir::OnBnClickedSetTE : Stopped at " + locked +
                                  L" (the file is read-only): 5 of 10 files were changed");
  // The tree was read again: it shows the files as they are now.
  VA_DICOMTREEITEM* again = findSeries(b->Tree(), 4);
  ASSERT_NE(again, nullptr);
  EXPECT_NEAR(again->Child(4)->rec->echoTime, 0.030, 1e-9);
  EXPECT_NEAR(again->Child(5)->rec->echoTime, 0.012, 1e-9);
  ::chmod(locked.toUtf8().c_str(), 0644);
}

TEST_F(DicomBrowserTest, CopyIsByteIdenticalAndNeverWritesOver) {
  auto b = browse(folder("tree"));
  VA_DICOMTREEITEM* gap = findSeries(b->Tree(), 4);
  b->OnSelect(gap, false, false);
  const fs::path target = scratchPath() / "copy";
  fs::create_directories(target);
  ui.answerFolder(wide(target));
  ASSERT_TRUE(b->OnCopy());
  const auto sources = filesIn(folder("tree") / "A" / "gap");
  ASSERT_EQ(filesIn(target).size(), sources.size());
  for (const fs::path& s : sources) {
    int status = -1;
    run("cmp -s " + quote(s.string()) + " " + quote((target / s.filename()).string()), &status);
    EXPECT_EQ(status, 0) << s;
  }
  ui.answerFolder(wide(target));
  EXPECT_FALSE(b->OnCopy());
  EXPECT_EQ(ui.lastMessage(), L"Copy Operation Failed");
  ui.cancelPicker();
  EXPECT_FALSE(b->OnCopy());
  EXPECT_EQ(ui.lastMessage(), L"Copy Operation Failed");
}

TEST_F(DicomBrowserTest, CombinedCopiesCarryTheItemsStudyWithEqualPixels) {
  auto b = browse(folder("tree"));
  b->SetCombineStudies(true);
  VA_DICOMTREEITEM* localizer = findSeries(b->Tree(), 5);
  VA_DICOMTREEITEM* gap = findSeries(b->Tree(), 4);
  ASSERT_TRUE(localizer && gap);
  const CString studyUid = localizer->rec->studyInstanceUid;
  ASSERT_NE(studyUid, gap->rec->studyInstanceUid);
  b->OnSelect(localizer, false, false);
  gap->checked = true;
  const fs::path target = scratchPath() / "combined";
  fs::create_directories(target);
  ui.answerFolder(wide(target)).answerThreeButtons(1);  // "Checked only"
  ASSERT_TRUE(b->OnCopy());
  std::vector<VA_DICOMTREEITEM*> images;
  VA_EnumerateTreeImageItems(gap, &images);
  ASSERT_EQ(filesIn(target).size(), images.size());
  std::string copies, sources;
  for (size_t i = 0; i < images.size(); ++i) {
    copies += " " + quote((target / ("slice_" + std::to_string(i) + ".dcm")).string());
    sources += " " + quote(narrow(images[i]->rec->filePath));
  }
  const auto copied = split(fixtureScript("study" + copies), '\n');
  const auto original = split(fixtureScript("study" + sources), '\n');
  ASSERT_GE(copied.size(), images.size());
  ASSERT_GE(original.size(), images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE(i);
    const auto c = split(copied[i], '\t'), o = split(original[i], '\t');
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0], studyUid.toUtf8());
    EXPECT_EQ(c[1], o[1]);  // the pixels in their units
    // The identifiers the export would renew are kept.
    EXPECT_EQ(c[2], o[2]);
    EXPECT_EQ(c[3], o[3]);
  }
}

TEST_F(DicomBrowserTest, DeleteRemovesExactlyTheChosenFiles) {
  const fs::path copy = scratchPath() / "tree";
  copyFolder(folder("tree"), copy);
  auto b = browse(copy);
  VA_DICOMTREEITEM* gap = findSeries(b->Tree(), 4);
  const CString one = gap->Child(2)->rec->filePath;
  b->OnSelect(gap->Child(2), false, false);
  ui.answerMessage(IDNO);
  EXPECT_FALSE(b->OnDelete());
  EXPECT_TRUE(fs::exists(one.toUtf8()));
  const size_t before = filesIn(copy).size();
  ::chmod(one.toUtf8().c_str(), 0444);  // read-only files are deleted all the same
  ui.answerMessage(IDYES);
  ASSERT_TRUE(b->OnDelete());
  EXPECT_FALSE(fs::exists(one.toUtf8()));
  EXPECT_EQ(filesIn(copy).size(), before - 1);
  EXPECT_EQ(findSeries(b->Tree(), 4)->NumChildren(), 9);  // rebuilt

  // The enhanced file's frames stand for the file: deleting the series deletes it.
  b->OnSelect(findSeries(b->Tree(), 6), false, false);
  ui.answerMessage(IDYES);
  ASSERT_TRUE(b->OnDelete());
  EXPECT_FALSE(fs::exists(copy / "A" / "enh" / "enhanced.dcm"));
  EXPECT_EQ(findSeries(b->Tree(), 6), nullptr);
}

TEST_F(DicomBrowserTest, CompatibleVolumesOfTheStudy) {
  auto b = browse(folder("tree"));
  b->OnSelect(findSeries(b->Tree(), 2)->parent, false, false);
  EXPECT_FALSE(b->OnShowCompatibleVolumes());
  EXPECT_EQ(ui.lastMessage(), L"CDlgOpenDicomDir::OnBnSelRelatedOnly : Please select *Series* key corresponding to your volume");
  b->OnSelect(findSeries(b->Tree(), 2)->Child(3), false, false);  // an image stands for its series
  ASSERT_TRUE(b->OnShowCompatibleVolumes());
  std::set<int> numbers;
  walk(b->Tree(), [&](VA_DICOMTREEITEM* i) {
    if (i->kind == DCMITEM_SERIES) numbers.insert(i->rec->seriesNumber);
  });
  // 16 x 16 x 10 with the same spacing and orientation: the DWI and the gap series.
  EXPECT_EQ(numbers, (std::set<int>{2, 4}));
  b->OnRefresh();
  EXPECT_NE(findSeries(b->Tree(), 7), nullptr);
}

// --- loading ------------------------------------------------------------------------------------

TEST_F(DicomBrowserTest, SignedCtLoadsAsHounsfieldPlus1024AtDcm2niixPositions) {
  auto b = browse(folder("ct"));
  ui.answerValues({1024});
  CVol* vol = loadSeries(*b, 7);
  ASSERT_NE(vol, nullptr);
  EXPECT_EQ(ui.prompts.back()[0].number, 1024);
  EXPECT_NE(ui.prompts.back()[0].label.Find(L"Volume has signed integer voxels."), -1);
  EXPECT_TRUE(vol->IsINT());
  EXPECT_EQ(vol->unit, L"HU");
  double hu = 0;
  std::string files;
  for (const fs::path& f : filesIn(folder("ct"))) files += " " + quote(f.string());
  for (const std::string& line : split(fixtureScript("study" + files), '\n'))
    if (!line.empty()) hu += std::stod(split(line, '\t')[1]);
  EXPECT_DOUBLE_EQ(voxelSum(vol), hu + 1024.0 * vol->TotNumVox());
  EXPECT_EQ(b->Result(), IDOK);

  // Every voxel's world position falls on dcm2niix's voxel of the same value.
  const fs::path nii = scratchPath() / "nii";
  fixtureScript("niix " + quote(folder("ct").string()) + " " + quote(nii.string()));
  const fs::path ours = scratchPath() / "ours.txt";
  {
    std::ofstream out(ours);
    out.precision(10);
    const double* o = vol->orient;
    for (int z = 0; z < vol->D(); ++z)
      for (int y = 0; y < vol->H(); ++y)
        for (int x = 0; x < vol->W(); ++x) {
          const DPOINT3D p = vol->imgPos[z];
          out << p.x + o[0] * vol->Vx() * x + o[3] * vol->Vy() * y << ' ' << p.y + o[1] * vol->Vx() * x + o[4] * vol->Vy() * y
              << ' ' << p.z + o[2] * vol->Vx() * x + o[5] * vol->Vy() * y << ' '
              << twk::voxelValue(vol->frame, x, y, z, 0) - 1024 << '\n';
        }
  }
  int status = -1;
  const std::string report = fixtureScript("world " + quote((nii / "7_0_.nii").string()) + " " + quote(ours.string()), &status);
  EXPECT_EQ(status, 0) << report;
}

TEST_F(DicomBrowserTest, SignedMrOffersMinusTheMinimumAndCancelKeepsReal) {
  {
    auto b = browse(folder("mrsigned"));
    ui.cancelValues();
    CVol* vol = loadSeries(*b, 14);
    ASSERT_NE(vol, nullptr);
    EXPECT_EQ(ui.prompts.back()[0].number, 50);
    EXPECT_TRUE(vol->IsReal());
    double minimum = 0, maximum = 0;
    VA_VolMinMax(vol->frame, -1, nullptr, &minimum, &maximum);
    EXPECT_EQ(minimum, -50);
  }
  // A bias that would clamp voxels at 0 is refused and asked again.
  documents_.clear();
  auto b = browse(folder("mrsigned"));
  ui.answerValues({10}).answerValues({60});
  CVol* vol = loadSeries(*b, 14);
  ASSERT_NE(vol, nullptr);
  EXPECT_EQ(ui.prompts.size(), 3u);
  EXPECT_NE(ui.messages[ui.messages.size() - 2].Find(L"A bias of 10 does not fit the voxels"), -1);
  double minimum = 0, maximum = 0;
  VA_VolMinMax(vol->frame, -1, nullptr, &minimum, &maximum);
  EXPECT_TRUE(vol->IsINT());
  EXPECT_EQ(minimum, 10);
}

TEST_F(DicomBrowserTest, SpacingGapMessageOnlyBeyondTheTolerance) {
  {
    auto b = browse(folder("tree"));
    ASSERT_NE(loadSeries(*b, 4), nullptr);
    // pydicom's positions: one distance of 1.02 among 1.0, the mean of nine.
    const double mean = (8 * 1.0 + 1.02) / 9;
    EXPECT_EQ(ui.lastMessage(), FmtStr(L"Interslice distance[4-5] = %8.5lf mm.\nThis differs from average distance of %8.5lf mm",
                                       1.02, mean));
  }
  ui.clear();
  auto b = browse(folder("gap1005"));
  ASSERT_NE(loadSeries(*b, 11), nullptr);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DicomBrowserTest, SlicesWithoutPositions) {
  const struct {
    const char* folder;
    int number;
    bool interactive;
    bool loads;
    double spacing;
  } cases[] = {{"nopos", 12, true, true, 2.5},
               {"nopos", 12, false, true, 2.5},
               {"nothick", 13, false, false, 0},
               {"nothick", 13, true, true, 3.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + (c.interactive ? " interactive" : " with a request"));
    ui.clear();
    documents_.clear();
    auto b = browse(folder(c.folder));
    VA_DICOMTREEITEM* series = findSeries(b->Tree(), c.number);
    b->OnSelect(series, false, false);
    DICOMLOADREQ request;
    ASSERT_TRUE(TW_SetDicomLoadRequest(&request, series->Child(0)->rec->filePath, DICOMLOAD_3D, false));
    if (c.interactive && !c.loads) ui.cancelValues();
    if (c.interactive && c.spacing == 3.0) ui.answerValues({3.0});
    const bool loaded = b->LoadItem(c.interactive ? nullptr : &request, c.interactive);
    EXPECT_EQ(loaded, c.loads);
    if (!c.loads) {
      EXPECT_EQ(ui.lastMessage(), L"Loading Dicom Failed");
      EXPECT_EQ(b->NewDocument(), nullptr);
      continue;
    }
    CVol* vol = baseVol(keep(b->NewDocument()));
    ASSERT_NE(vol, nullptr);
    EXPECT_DOUBLE_EQ(vol->Vz(), c.spacing);
    EXPECT_NEAR(vol->imgPos[3].z - vol->imgPos[0].z, 3 * c.spacing, 1e-9);
    if (c.spacing == 3.0) {
      EXPECT_EQ(ui.messages[0], L"Slice #0 z-coordinate is undefined.");
      EXPECT_EQ(ui.prompts[0][0].label, L"Specify Slice thickness (mm)");
      EXPECT_EQ(ui.prompts[0][0].number, 1.0);
    } else {
      EXPECT_TRUE(ui.messages.empty());
    }
  }
}

TEST_F(DicomBrowserTest, SpinLockTimesInMicrosecondsOrMilliseconds) {
  const struct {
    int button;
    double scale;
  } cases[] = {{0, 1e-6}, {1, 1e-3}, {2, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    ui.clear();
    documents_.clear();
    auto b = browse(folder("tsl"));
    ui.answerThreeButtons(c.button);
    CVol* vol = loadSeries(*b, 15);
    ASSERT_NE(vol, nullptr);
    ASSERT_EQ(vol->T(), 3);
    EXPECT_EQ(ui.messageTypes[0], twk::ScriptedUi::kThreeButtonsEntry);
    const double tsl[3] = {10, 20, 40};
    for (int t = 0; t < 3; ++t) {
      if (c.scale > 0) {
        EXPECT_DOUBLE_EQ(vol->dyn[t].spinLockTime, tsl[t] * c.scale);
      } else {
        EXPECT_EQ(vol->dyn[t].spinLockTime, VOID_VALUE);
      }
    }
  }
}

TEST_F(DicomBrowserTest, HighlightedAndCheckedItemsAskWhichToLoad) {
  auto b = browse(folder("tree"));
  VA_DICOMTREEITEM* gap = findSeries(b->Tree(), 4);
  b->OnSelect(gap, false, false);
  gap->checked = true;  // the same items: no question
  ASSERT_NE(loadSeries(*b, 4), nullptr);
  EXPECT_EQ(std::count(ui.messageTypes.begin(), ui.messageTypes.end(), twk::ScriptedUi::kThreeButtonsEntry), 0);

  findSeries(b->Tree(), 7)->checked = true;
  gap->checked = false;
  ui.answerThreeButtons(1).answerValues({1024});  // "Checked only": the CT
  CVol* vol = loadSeries(*b, 4);
  ASSERT_NE(vol, nullptr);
  EXPECT_TRUE(vol->IsCT());
  ui.answerThreeButtons(2);
  EXPECT_EQ(loadSeries(*b, 4), nullptr);
}

TEST_F(DicomBrowserTest, LoadRequests) {
  // A request loads its item at once and the dialog ends; a file outside the folder leaves nothing.
  DICOMLOADREQ request;
  const fs::path dwi = folder("tree") / "A" / "dwi" / "DWI_007.dcm";
  ASSERT_TRUE(TW_SetDicomLoadRequest(&request, wide(dwi), DICOMLOAD_4D, true));
  CString start = wide(folder("tree"));
  CDrawDoc* doc = keep(TW_DlgOpenDicomDir(&start, nullptr, false, true, &request, false));
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(baseVol(doc)->T(), 5);
  EXPECT_EQ(baseVol(doc)->D(), 10);

  ASSERT_TRUE(TW_SetDicomLoadRequest(&request, L"/nowhere/x.dcm", DICOMLOAD_3D, true));
  OpenDicomDir missing(wide(folder("tree")), nullptr, nullptr, false, true, &request, false, false);
  EXPECT_EQ(TW_RunOpenDicomDir(&missing), IDCANCEL);
  EXPECT_EQ(missing.NewDocument(), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"CDlgOpenDicomDir::OnInitDialog : Unable to find 3D volume corresponding to file /nowhere/x.dcm");
  request.kind = 9;
  OpenDicomDir unknown(wide(folder("tree")), nullptr, nullptr, false, true, &request, false, false);
  TW_RunOpenDicomDir(&unknown);
  EXPECT_NE(ui.lastMessage().Find(L"Unable to find Unknown corresponding"), -1);

  // The path fills the record or is refused; nothing is cut and nothing read beyond the record.
  const std::wstring longest(255, L'a'), tooLong(256, L'a');
  EXPECT_TRUE(TW_SetDicomLoadRequest(&request, longest.c_str(), 1, false));
  CString path;
  EXPECT_TRUE(TW_DicomLoadRequestPath(&request, &path));
  EXPECT_EQ(path.GetLength(), 255);
  EXPECT_FALSE(TW_SetDicomLoadRequest(&request, tooLong.c_str(), 1, false));
  EXPECT_EQ(request.path[0], L'\0');
  std::wmemset(request.path, L'b', 256);
  EXPECT_FALSE(TW_DicomLoadRequestPath(&request, &path));
}

TEST_F(DicomBrowserTest, LoadIntoALayerSet) {
  auto b = browse(folder("ct"));
  ui.answerValues({1024});
  CDrawDoc* doc = nullptr;
  ASSERT_NE(loadSeries(*b, 7), nullptr);
  doc = b->NewDocument();
  CDrawSet* set = doc->GetActiveSet();
  CString remembered;
  OpenDicomDir layer(wide(folder("ct")), &remembered, set, false, true, nullptr, false, false);
  ASSERT_TRUE(layer.OnInitDialog());
  layer.OnSelect(findSeries(layer.Tree(), 7), false, false);
  ui.answerValues({1024});
  ASSERT_TRUE(layer.OnLoad());
  EXPECT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(layer.NewDocument(), nullptr);
  EXPECT_EQ(remembered, wide(folder("ct")));
  EXPECT_EQ(layer.Result(), IDOK);
}

TEST_F(DicomBrowserTest, FailedLoadsLeaveNothing) {
  // Files gone between the scan and the load: the core's reason, then "Loading Dicom Failed".
  const fs::path copy = scratchPath() / "gone";
  copyFolder(folder("gap1005"), copy);
  auto b = browse(copy);
  fs::remove(copy / "Gap1005_004.dcm");
  const size_t before = ui.messages.size();
  EXPECT_EQ(loadSeries(*b, 11), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"Loading Dicom Failed");
  EXPECT_EQ(ui.messageTypes.back() & MB_ICONINFORMATION, unsigned(MB_ICONINFORMATION));
  EXPECT_GT(ui.messages.size(), before + 1);  // the cause came first
  EXPECT_TRUE(documents_.empty());
  // Images of different sizes form no volume.
  auto tree = browse(folder("tree"));
  EXPECT_EQ(loadSeries(*tree, 5), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"Loading Dicom Failed");
  // A folder without DICOM images.
  fs::create_directories(scratchPath() / "empty");
  OpenDicomDir empty(wide(scratchPath() / "empty"), nullptr, nullptr, false, true, nullptr, false, true);
  EXPECT_FALSE(empty.OnInitDialog());
  EXPECT_FALSE(empty.LoadEnabled());
  // Folders that cannot be read (gone, or a file in place of the folder): a message, no tree.
  for (const fs::path& bad : {scratchPath() / "nowhere", folder("gap1005") / "Gap1005_001.dcm"}) {
    SCOPED_TRACE(bad.string());
    const size_t shown = ui.messages.size();
    OpenDicomDir unreadable(wide(bad), nullptr, nullptr, false, true, nullptr, false, true);
    EXPECT_FALSE(unreadable.OnInitDialog());
    EXPECT_TRUE(unreadable.Tree().items.empty());
    EXPECT_EQ(unreadable.RecordCount(), 0);
    EXPECT_EQ(ui.messages.size(), shown + 1);
  }
}

TEST_F(DicomBrowserTest, SingleFileOpen) {
  const fs::path file = folder("tree") / "A" / "gap" / "Gap_003.dcm";
  CString start;
  ui.answerOpenFile(wide(file));
  CDrawDoc* doc = keep(TW_OpenSingleDicomFile(&start));
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(baseVol(doc)->D(), 1);
  EXPECT_EQ(baseVol(doc)->W(), 16);
  EXPECT_TRUE(filesIn(fs::path(TW_Options().tempFolder.toUtf8()) / "SingleDicomFileLoad").empty());
}

TEST_F(DicomBrowserTest, EscStopsTheScanAtTheNextBlock) {
  const fs::path large = scratchPath() / "large";
  fixtureScript("folder " + quote(large.string()) + " 640");
  static int reports = 0;
  reports = 0;
  MSGBLOCK block;
  block.progressSink = [](uint64_t value) {
    if (value == PR_MSG_RESET || value == PR_MSG_END || value > 100) return;
    // Esc as soon as progress shows.
    if (++reports == 1) PR_SetInWorkProcess(false);
  };
  block.showMessage = [](const wchar_t*, bool) { return true; };
  PR_InitFrameFunctions(&block);
  OpenDicomDir b(wide(large), nullptr, nullptr, false, true, nullptr, false, true);
  EXPECT_FALSE(b.OnInitDialog());
  PR_InitFrameFunctions(nullptr);
  MSGBLOCK none;
  PR_InitFrameFunctions(&none);
  EXPECT_EQ(reports, 1);  // the block after Esc reports nothing: the scan ended there
  EXPECT_TRUE(b.Tree().items.empty());
  EXPECT_EQ(b.Result(), 0);  // the dialog stays
}

// Per time point: the sum, the smallest and the largest voxel.
struct TimePointStats {
  double sum = 0, low = 1e300, high = -1e300;
  bool operator==(const TimePointStats& o) const { return sum == o.sum && low == o.low && high == o.high; }
};

std::vector<TimePointStats> timePointStats(const CVol* vol) {
  std::vector<TimePointStats> out(size_t(vol->T()));
  for (int t = 0; t < vol->T(); ++t)
    for (int z = 0; z < vol->D(); ++z)
      for (int y = 0; y < vol->H(); ++y)
        for (int x = 0; x < vol->W(); ++x) {
          const double v = twk::voxelValue(vol->frame, x, y, z, t);
          TimePointStats& s = out[size_t(t)];
          s.sum += v;
          s.low = std::min(s.low, v);
          s.high = std::max(s.high, v);
        }
  return out;
}

TEST_F(DicomBrowserTest, FolderLoadsByMode) {
  // Mode 1: the folder's series through the browser's tree into one volume.
  std::unique_ptr<CVol> series(TW_LoadDicomFiles(1, wide(folder("gap1005")), false));
  ASSERT_NE(series, nullptr);
  EXPECT_EQ(series->D(), 10);
  EXPECT_EQ(series->W(), 16);
  fs::create_directories(scratchPath() / "nodicom");
  std::ofstream(scratchPath() / "nodicom" / "notes.txt") << "no images here";
  EXPECT_EQ(TW_LoadDicomFiles(1, wide(scratchPath() / "nodicom"), false), nullptr);
  EXPECT_EQ(TW_LoadDicomFiles(3, wide(folder("gap1005")), false), nullptr);

  // Mode 2: a folder of 3D diffusion NIfTI images (written by nibabel) as one 4D volume, the
  // b-values from the folder's .bval file.
  const fs::path dwi = scratchPath() / "dwinii";
  fixtureScript("dwinii " + quote(dwi.string()) + " 3");
  std::unique_ptr<CVol> four(TW_LoadDicomFiles(2, wide(dwi), false));
  ASSERT_NE(four, nullptr);
  EXPECT_EQ(four->W(), 4);
  EXPECT_EQ(four->H(), 3);
  EXPECT_EQ(four->D(), 2);
  ASSERT_EQ(four->T(), 3);
  // Voxel x + 10 y + 100 z + 1000 t: each time point holds its own image, whatever the orientation
  // (over the 4 x 3 x 2 grid x sums to 36, 10 y to 240 and 100 z to 1200).
  const std::vector<TimePointStats> stats = timePointStats(four.get());
  for (int t = 0; t < 3; ++t) {
    SCOPED_TRACE(t);
    const TimePointStats expected{1476.0 + 1000.0 * t * 24, 1000.0 * t, 123 + 1000.0 * t};
    EXPECT_EQ(stats[size_t(t)], expected);
    EXPECT_EQ(four->dyn[t].bValue, 500.0 * t);
  }
}

TEST_F(DicomBrowserTest, DiffusionNiftiFolderOpensAsADocument) {
  const fs::path dwi = scratchPath() / "dwinii";
  fixtureScript("dwinii " + quote(dwi.string()) + " 4");
  ui.answerFolder(wide(dwi));
  CDrawDoc* doc = keep(TW_LoadDwiFolderOfNiiImagesCommand());
  ASSERT_NE(doc, nullptr);
  ASSERT_NE(baseVol(doc), nullptr);
  EXPECT_EQ(baseVol(doc)->T(), 4);

  // Images of different sizes form no volume: the reason, no document.
  const fs::path odd = scratchPath() / "dwiodd";
  fixtureScript("dwinii " + quote(odd.string()) + " 3 odd");
  ui.answerFolder(wide(odd));
  const size_t before = ui.messages.size();
  EXPECT_EQ(TW_LoadDwiFolderOfNiiImagesCommand(), nullptr);
  EXPECT_GT(ui.messages.size(), before);
  EXPECT_NE(ui.lastMessage().Find(L"dimensions differ"), -1) << ui.lastMessage().toUtf8();
  // A cancelled folder choice does nothing.
  ui.cancelPicker();
  EXPECT_EQ(TW_LoadDwiFolderOfNiiImagesCommand(), nullptr);
  EXPECT_FALSE(ui.pendingAnswers());
}

// --- volume information ---------------------------------------------------------------------------

std::vector<CString> names(const DicomInfoTable& table) {
  std::vector<CString> out;
  for (const auto& row : table.rows) out.push_back(row[0]);
  return out;
}

TEST_F(DicomBrowserTest, SummaryRowsOfFilesAreTheirElementsInOrder) {
  struct Row {
    const wchar_t* name;
    const char* tag;
  };
  const std::vector<Row> common = {
      {L"Modality", "00080060"},         {L"Study Date", "00080020"},      {L"Patient's Name", "00100010"},
      {L"Patient's Sex", "00100040"},    {L"Patient's Age", "00101010"},   {L"Protocol Name", "00181030"},
      {L"Rows", "00280010"},             {L"Columns", "00280011"},         {L"Series Number", "00200011"},
      {L"Series UID", "0020000E"},       {L"Instance Number", "00200013"}, {L"Slice Location", "00201041"},
      {L"Pixel Spacing (X,Y mm)", "00280030"}, {L"Spacing Between Slices (mm)", "00180088"},
      {L"Slice Thickness", "00180050"}};
  const std::vector<Row> tail = {{L"Orientation", "00200037"},    {L"Series time", "00080031"},
                                 {L"Instance creation time", "00080013"}, {L"Content time", "00080033"},
                                 {L"Acquisition time", "00080032"}, {L"Series date", "00080021"},
                                 {L"Instance creation date", "00080012"}, {L"Content date", "00080023"},
                                 {L"Acquisition date", "00080022"}};
  const std::vector<Row> rescale = {{L"Pixel Representation", "00280103"}, {L"Rescale Intercept", "00281052"},
                                    {L"Rescale Slope", "00281053"}, {L"Rescale Type", "00281054"}};
  std::vector<Row> mr = {{L"Series Description", "0008103E"}, {L"Sequence Name", "00180024"},
                         {L"Repetition Time (TR, ms)", "00180080"}, {L"Echo Number", "00180086"},
                         {L"Echo Time (TE, ms)", "00180081"}, {L"Effective Echo Time (TE, ms)", "00189082"},
                         {L"Inversion Time (TI, ms)", "00180082"}, {L"Inversion Times (TI, ms)", "00189079"}};
  const std::vector<Row> mrTail = {{L"Flip Angle", "00181314"}, {L"Phase Encoding Direction", "00181312"}};
  std::vector<Row> ct = {{L"KVP", "00180060"}, {L"Exposure Time (ms)", "00181150"}, {L"X-Ray Tube Current", "00181151"},
                         {L"Convolution Kernel", "00181210"}};
  const struct {
    fs::path file;
    const char* modality;
    const wchar_t* bvalue;
  } cases[] = {{folder("tree") / "B" / "ct" / "CT_002.dcm", "CT", nullptr},
               {folder("tree") / "A" / "dwi" / "DWI_045.dcm", "MR", L" 800.0"},
               {folder("tree") / "A" / "gap" / "Gap_002.dcm", "MR", nullptr},
               {folder("tree") / "B" / "pt" / "PT_002.dcm", "PT", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.string());
    std::vector<Row> rows = common;
    rows.push_back({L"Bits Per Voxel Allocated\\Stored", nullptr});
    rows.push_back({L"Samples Per Voxel Allocated\\Stored", nullptr});
    rows.insert(rows.end(), tail.begin(), tail.end());
    const std::string m = c.modality;
    if (m == "MR") {
      rows.insert(rows.end(), mr.begin(), mr.end());
      if (c.bvalue) rows.push_back({L"Diffusion B-value", nullptr});
      rows.insert(rows.end(), mrTail.begin(), mrTail.end());
      rows.insert(rows.end(), rescale.begin(), rescale.end());
    } else if (m == "CT") {
      rows.insert(rows.end(), ct.begin(), ct.end());
      rows.insert(rows.end(), rescale.begin(), rescale.end());
    } else {
      rows.insert(rows.end(), rescale.begin(), rescale.end());
      rows.push_back({L"Frame Reference Time", "00541300"});
      rows.push_back({L"Actual Frame duration", "00181242"});
    }
    rows.push_back({L"Lossy compression", "00282110"});
    std::string tags = "00280100 00280101 00280002 00280003";
    for (const Row& r : rows)
      if (r.tag) tags += std::string(" ") + r.tag;
    const std::vector<std::string> values = split(split(fixtureScript("values " + quote(c.file.string()) + " " + tags), '\n')[0], '\t');
    std::vector<std::pair<CString, CString>> expected = {{L"Name", wide(c.file)}};
    size_t v = 4;
    for (const Row& r : rows) {
      if (!r.tag) {
        if (CString(r.name) == L"Bits Per Voxel Allocated\\Stored") expected.push_back({r.name, CString::fromUtf8(values[0] + "\\" + values[1])});
        else if (CString(r.name) == L"Samples Per Voxel Allocated\\Stored")
          expected.push_back({r.name, CString::fromUtf8(values[2] + "\\" + (values[3] == "-" ? std::string("undef") : values[3]))});
        else expected.push_back({r.name, c.bvalue});
        continue;
      }
      const std::string value = values[v++];
      if (value != "-") expected.push_back({r.name, CString::fromUtf8(value)});
    }
    DicomInfoTable table;
    ASSERT_TRUE(TW_FillDicomSummaryFromFile(false, wide(c.file), &table));
    EXPECT_EQ(table.columns, (std::vector<CString>{L"Name", L"Value"}));
    // The file rows follow the name; the manufacturer row joins two elements.
    ASSERT_GE(table.rows.size(), 3u);
    EXPECT_EQ(table.rows[1][0], L"Transfer Syntax");
    EXPECT_EQ(table.rows[2][0], L"File\\Pixel data size");
    EXPECT_EQ(table.rows[2][1].Find(FmtStr(L"%I64d\\", static_cast<long long>(fs::file_size(c.file)))), 0);
    std::vector<std::pair<CString, CString>> got;
    for (const auto& row : table.rows)
      if (row[0] != L"Transfer Syntax" && row[0] != L"File\\Pixel data size" && row[0] != L"Manufacturer\\Model")
        got.push_back({row[0], row[1]});
    EXPECT_EQ(got, expected);
    EXPECT_EQ(table.Value(L"Manufacturer\\Model"), L"Tarnwick test\\pydicom");
  }
  // Without Bits Allocated the summary ends after the slice thickness.
  DicomInfoTable table;
  EXPECT_FALSE(TW_FillDicomSummaryFromFile(false, wide(folder("nobits") / "nobits.dcm"), &table));
  EXPECT_EQ(table.rows.back()[0], L"Slice Thickness");
}

TEST_F(DicomBrowserTest, FullInfoRowsAreDcmdumpsElements) {
  const fs::path file = folder("tree") / "A" / "enh" / "enhanced.dcm";
  DicomInfoTable table;
  ASSERT_TRUE(TW_FillDicomSummaryFromFile(true, wide(file), &table));
  EXPECT_EQ(table.columns, (std::vector<CString>{L"Tag", L"Name", L"Value"}));
  std::vector<std::string> ours, theirs;
  for (const auto& row : table.rows) ours.push_back(row[0].toUtf8());
  for (const std::string& line : split(run("dcmdump -q " + quote(file.string())), '\n')) {
    const size_t open = line.find('(');
    if (open == std::string::npos || line.size() < open + 11 || line[open + 10] != ')') continue;
    std::string tag = line.substr(open + 1, 9);
    for (char& ch : tag) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    // Delimiters are not elements; the header is read without its pixel data.
    if (tag == "FFFE,E00D" || tag == "FFFE,E0DD" || tag == "7FE0,0010") continue;
    theirs.push_back(tag);
  }
  EXPECT_EQ(ours, theirs);

  // Elements inside sequences are named as such; values are the first value.
  bool nested = false;
  for (const auto& row : table.rows)
    if (row[0] == L"0020,0032") {
      nested = true;
      EXPECT_EQ(row[1], L"Sequence>ImagePositionPatient");
    }
  EXPECT_TRUE(nested);
}

TEST_F(DicomBrowserTest, VolumeInfoOfA4DLoad) {
  auto b = browse(folder("dyn"));
  CVol* vol = loadSeries(*b, 17);
  ASSERT_NE(vol, nullptr);
  ASSERT_EQ(vol->T(), 3);
  VolInfo info(vol, 1, 2);
  ASSERT_TRUE(info.OnInitDialog());
  EXPECT_EQ(info.Title(), L"Full DICOM Info for Time index = 1, Slice index #2");
  EXPECT_EQ(info.HeaderIndex(), 4 * 1 + 2);
  const DicomInfoTable& t = info.Table();
  EXPECT_EQ(t.Value(L"Number Of Slices"), L"4");
  EXPECT_EQ(t.Value(L"Number Of Time points"), L"3");
  EXPECT_EQ(t.Value(L"Voxel size (X,Y,Z mm)"), L"0.8000, 0.7500, 1.0000");
  EXPECT_EQ(t.Value(L"Instance Number"), L"7");
  const uint64_t memory = PR_FrameMemSize(vol->frame);
  EXPECT_EQ(t.Value(L"Used memory"), FmtStr(L"%I64u bytes", static_cast<unsigned long long>(memory)));
  EXPECT_EQ(t.Value(L"Lossless memory compression"),
            FmtStr(L"%8.3lf", (16.0 * 16 * 4 * 3 * std::min(16, vol->Bpv()) + 7) * 0.125 / double(memory)));
  // The time points: a minute apart, from the first.
  const std::vector<CString> n = names(t);
  const auto separator = std::find(n.begin(), n.end(), CString(L"____________________________"));
  ASSERT_NE(separator, n.end());
  const size_t at = size_t(separator - n.begin());
  EXPECT_EQ(t.rows[at + 1][0], L"Time");
  EXPECT_EQ(t.rows[at + 2][0], L"Base time");
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(t.rows[at + 3 + size_t(k)][0], FmtStr(L"%u", unsigned(k + 1)));
    EXPECT_EQ(t.rows[at + 3 + size_t(k)][1], FmtStr(L"%e", 60.0 * k));
  }
  // Sorting: "Name" ascending then descending; "Value" does not sort without Full info.
  EXPECT_FALSE(info.OnColumnClick(1));
  ASSERT_TRUE(info.OnColumnClick(0));
  EXPECT_TRUE(std::is_sorted(info.Table().rows.begin(), info.Table().rows.end(),
                             [](auto& a, auto& c) { return a[0].Compare(c[0]) < 0; }));
  ASSERT_TRUE(info.OnColumnClick(0));
  EXPECT_TRUE(std::is_sorted(info.Table().rows.begin(), info.Table().rows.end(),
                             [](auto& a, auto& c) { return a[0].Compare(c[0]) > 0; }));
  info.SetFullInfo(true);
  EXPECT_TRUE(info.OnColumnClick(1));
  EXPECT_TRUE(info.OnCopyInfo());
  EXPECT_EQ(ui.shownFileTexts.back(), info.Table().Text());
}

TEST_F(DicomBrowserTest, VolumeInfoHeaderIndexStaysWithinTheRecords) {
  auto b = browse(folder("gap1005"));
  CVol* vol = loadSeries(*b, 11);
  ASSERT_NE(vol, nullptr);
  // A 3D volume asked for time point 2 shows time point 0.
  VolInfo third(vol, 2, 6);
  ASSERT_TRUE(third.OnInitDialog());
  EXPECT_EQ(third.HeaderIndex(), 6);
  EXPECT_EQ(third.Title(), L"Full DICOM Info for Time index = 0, Slice index #6");
  // An ROI crop keeps one record: the last record is shown, nothing is read beyond.
  ASSERT_TRUE(vol->MinimizeDicomHeaders());
  ASSERT_EQ(vol->numDicom, 1);
  VolInfo cropped(vol, 0, 8);
  ASSERT_TRUE(cropped.OnInitDialog());
  EXPECT_EQ(cropped.HeaderIndex(), 0);
  // A file, and neither volume nor file.
  VolInfo file(wide(folder("gap1005") / "Gap1005_001.dcm"));
  ASSERT_TRUE(file.OnInitDialog());
  EXPECT_EQ(file.Title(), L"Full DICOM info for the selected item");
  VolInfo none(L"");
  EXPECT_FALSE(none.OnInitDialog());
}

// --- the CT extractor and the folder commands ----------------------------------------------------

TEST_F(DicomBrowserTest, ExtractorWritesOneFolderPerPatient) {
  DicomExtractorCTSettings s;
  s.sourceFolder = wide(folder("tree"));
  s.targetFolder = wide(scratchPath() / "extracted");
  s.sliceRange = true;
  s.minSlices = 4;
  s.maxSlices = 10;
  VA_DICOMFILEEXTRACTOR record;
  std::memset(static_cast<void*>(&record), 0xFF, sizeof record);
  ASSERT_TRUE(TW_FillDicomExtractor(s, &record));
  // The three bytes before the studies-separation flag are zero, not left as they were.
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
  const size_t flag = offsetof(VA_DICOMFILEEXTRACTOR, separatedStudies);
  EXPECT_EQ(bytes[flag - 3] | bytes[flag - 2] | bytes[flag - 1], 0);
  EXPECT_EQ(record.separatedStudies, 0);
  EXPECT_EQ(record.sliceRange, 1);
  EXPECT_EQ(record.minSlices, 4);
  EXPECT_EQ(record.modality, 0);
  ASSERT_TRUE(TW_ExtractDICOMfilesCT(&record));
  EXPECT_TRUE(fs::is_directory(scratchPath() / "extracted" / "PATIENT_1"));
  EXPECT_TRUE(fs::is_directory(scratchPath() / "extracted" / "PATIENT_2"));
  // One patient: its studies go straight into the target.
  s.sourceFolder = wide(folder("ct"));
  s.targetFolder = wide(scratchPath() / "single");
  ASSERT_TRUE(TW_FillDicomExtractor(s, &record));
  ASSERT_TRUE(TW_ExtractDICOMfilesCT(&record));
  EXPECT_TRUE(fs::is_directory(scratchPath() / "single" / "STUDY_1" / "SERIES_1"));
  EXPECT_FALSE(fs::exists(scratchPath() / "single" / "PATIENT_1"));
  s.sourceFolder = wide(folder("tree"));

  const struct {
    fs::path target;
    const wchar_t* message;
  } refused[] = {{folder("tree"), L"TW_ExtractDICOMfilesCT : Source and Target folders should be different"},
                 {fs::path(), L"TW_ExtractDICOMfilesCT : Target folder should be specified"},
                 {folder("tree") / "out", L"TW_ExtractDICOMfilesCT : Source and Target folders should not lie one inside the other"},
                 {fixtures(), L"TW_ExtractDICOMfilesCT : Source and Target folders should not lie one inside the other"}};
  for (const auto& r : refused) {
    s.targetFolder = r.target.empty() ? CString() : wide(r.target);
    ASSERT_TRUE(TW_FillDicomExtractor(s, &record));
    EXPECT_FALSE(TW_ExtractDICOMfilesCT(&record));
    EXPECT_EQ(ui.lastMessage(), r.message);
  }
  EXPECT_TRUE(fs::exists(folder("tree") / "A" / "dwi" / "DWI_001.dcm"));

  s.months = 1001;
  EXPECT_FALSE(TW_DicomExtractorAccept(s));
  EXPECT_EQ(ui.lastMessage(), L"Please enter an integer between 0 and 1000.");
}

TEST_F(DicomBrowserTest, DeidentifyToATargetLeavesTheSource) {
  const fs::path source = scratchPath() / "source", target = scratchPath() / "target";
  copyFolder(folder("tree") / "B" / "ct", source);
  std::vector<std::vector<uint8_t>> before;
  for (const fs::path& f : filesIn(source)) before.push_back(twk::filestest::readAll(wide(f)));
  ui.answerValuesText({wide(source), wide(target)});
  ASSERT_TRUE(TW_DeidentifyDicomFolderCommand());
  std::vector<std::vector<uint8_t>> after;
  for (const fs::path& f : filesIn(source)) after.push_back(twk::filestest::readAll(wide(f)));
  EXPECT_EQ(before, after);
  std::vector<fs::path> copies;
  for (const fs::path& f : filesIn(target))
    if (f.filename() != "DICOMDIR") copies.push_back(f);
  ASSERT_EQ(copies.size(), before.size());
  EXPECT_NE(fixtureScript("values " + quote(copies[0].string()) + " 00100010"), "Ørsted^Hans\n");
  EXPECT_EQ(TW_Options().deidentifySourceFolder, wide(source));
  // In place only after the question.
  ui.answerValuesText({wide(source), L""}).answerMessage(IDNO);
  EXPECT_FALSE(TW_DeidentifyDicomFolderCommand());
  EXPECT_EQ(ui.lastMessage(), FmtStr(L"Files in folder %s will be overwritten. Proceed?", wide(source).GetString()));
}

TEST_F(DicomBrowserTest, FolderSizeTreeToFoldersAndSplitFileCommands) {
  // "DICOM folder total Pixel Element size": the file sizes and pydicom's pixel data lengths.
  const fs::path gap = folder("gap1005");
  int64_t total = 0;
  std::string files;
  for (const fs::path& f : filesIn(gap)) {
    total += int64_t(fs::file_size(f));
    files += " " + quote(f.string());
  }
  const long long pixels = std::stoll(fixtureScript("pixbytes" + files));
  ui.answerFolder(wide(gap));
  ASSERT_TRUE(TW_DicomFolderTotalPixelSizeCommand());
  EXPECT_EQ(ui.lastMessage(), FmtStr(L"Total DICOM file size = %lld\nTotal DICOM Pixel Element file size = %lld",
                                     static_cast<long long>(total), pixels));

  // "DICOM Tree to Folders": one folder per patient under a DICOMDIR; a target that does not exist
  // is refused.
  const fs::path sorted = scratchPath() / "sorted";
  fs::create_directories(sorted);
  ui.answerValuesText({wide(folder("tree")), wide(sorted)});
  ASSERT_TRUE(TW_DicomTreeToFoldersCommand()) << ui.lastMessage().toUtf8();
  EXPECT_TRUE(fs::is_regular_file(sorted / "DICOMDIR"));
  EXPECT_TRUE(fs::is_directory(sorted / "PAT00001"));
  EXPECT_TRUE(fs::is_directory(sorted / "PAT00002"));
  ui.answerValuesText({wide(folder("tree")), wide(scratchPath() / "missing")});
  EXPECT_FALSE(TW_DicomTreeToFoldersCommand());
  EXPECT_FALSE(fs::exists(scratchPath() / "missing"));

  // "Split Multiframe DICOM file": one file per frame.
  const fs::path frames = scratchPath() / "frames";
  fs::create_directories(frames);
  ui.answerOpenFile(wide(folder("tree") / "A" / "enh" / "enhanced.dcm")).answerFolder(wide(frames));
  ASSERT_TRUE(TW_SplitMultiframeDicomFileCommand(wide(scratchPath())));
  EXPECT_EQ(filesIn(frames).size(), 4u);
  ui.cancelPicker();
  EXPECT_FALSE(TW_SplitMultiframeDicomFileCommand(wide(scratchPath())));
  EXPECT_FALSE(ui.pendingAnswers());
}

TEST_F(DicomBrowserTest, SplitFolderGivesDistinctNamesAndReportsItsStop) {
  const fs::path source = scratchPath() / "multi", target = scratchPath() / "frames";
  fs::create_directories(source / "one");
  fs::create_directories(source / "two");
  fs::create_directories(target);
  fs::copy_file(folder("tree") / "A" / "enh" / "enhanced.dcm", source / "one" / "x.dcm");
  fs::copy_file(folder("tree") / "A" / "enh" / "enhanced.dcm", source / "two" / "x.dcm");
  fs::copy_file(folder("gap1005") / "Gap1005_001.dcm", source / "two" / "x.ima");
  ASSERT_TRUE(TW_SplitMultiframeDicomFolder(wide(source), wide(target)));
  std::set<std::string> written;
  for (const fs::path& f : filesIn(target)) written.insert(f.filename().string());
  EXPECT_EQ(written, (std::set<std::string>{"one_x_0001.dcm", "one_x_0002.dcm", "one_x_0003.dcm", "one_x_0004.dcm",
                                             "two_x_0001.dcm", "two_x_0002.dcm", "two_x_0003.dcm", "two_x_0004.dcm",
                                             "two_x_2.dcm"}));
  std::ofstream(source / "zz.txt") << "text";
  EXPECT_FALSE(TW_SplitMultiframeDicomFolder(wide(source), wide(target)));
  EXPECT_EQ(ui.lastMessage(), L"Split Multiframe DICOM folder : Unable to split " + wide(source / "zz.txt") +
                                  L": 3 of 4 files were split");
}

}  // namespace
