#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "TwkTypes.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"

namespace {

std::string tempDir(const char* name) {
  return twk::testing::testFolder(name).string();
}

void touch(const std::string& path, const char* text = "x") { std::ofstream(path) << text; }

}  // namespace

TEST(FilePaths, NamesSplitOnBothSeparators) {
  const struct { const wchar_t* path; const wchar_t* title; const wchar_t* titleName; const wchar_t* name; const wchar_t* ext; const wchar_t* folder; } cases[] = {
      {L"/data/scan.nii", L"scan.nii", L"scan", L"/data/scan", L"nii", L"/data"},
      {L"C:\\work\\New ROI 3D #0", L"New ROI 3D #0", L"New ROI 3D #0", L"C:\\work\\New ROI 3D #0", L"", L"C:\\work"},
      {L"a/b.c/d", L"d", L"d", L"a/b.c/d", L"", L"a/b.c"},
      {L"scan.nii.gz", L"scan.nii.gz", L"scan.nii", L"scan.nii", L"gz", L""},
      {L"/x/.hidden", L".hidden", L".hidden", L"/x/.hidden", L"", L"/x"},
      {L"/top", L"top", L"top", L"/top", L"", L"/"},
      {L"", L"", L"", L"", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.path).toUtf8());
    EXPECT_EQ(PR_GetFileTitle(c.path), CString(c.title));
    EXPECT_EQ(PR_GetFileTitleName(c.path), CString(c.titleName));
    EXPECT_EQ(PR_GetFileName(c.path), CString(c.name));
    EXPECT_EQ(PR_GetFileExt(c.path), CString(c.ext));
    EXPECT_EQ(PR_GetFileFolder(c.path), CString(c.folder));
  }
}

TEST(FilePaths, SuffixesAndNameCleaning) {
  EXPECT_EQ(PR_AddFileNameSfx(L"/d/scan.nii", L"_cropped"), CString(L"/d/scan_cropped.nii"));
  EXPECT_EQ(PR_AddFileNameSfx(L"/d/scan.nii", L"_reg", false), CString(L"/d/scan_reg"));
  EXPECT_EQ(PR_AddFileNameSfx(L"/d.x/scan", L"_integer"), CString(L"/d.x/scan_integer"));
  EXPECT_EQ(PR_AddFileNameSfxChangeExt(L"/t/doc.twk", L"_Cmp", L"twk"), CString(L"/t/doc_Cmp.twk"));
  EXPECT_EQ(PR_GetFileTitleNameAddSfx(L"/t/brain.nii", L" Left Breast"), CString(L"brain Left Breast"));
  CString bad(L"a:b/c*d?e");
  EXPECT_EQ(PR_FilenameReplaceInvalidChars(&bad), 4);
  EXPECT_EQ(bad, CString(L"a-b-c-d-e"));
  EXPECT_EQ(PR_LayerNameRemoveExtraInfo(L"/maps/Ktrans [1/min]"), CString(L"/maps/Ktrans"));
  EXPECT_EQ(PR_LayerNameRemoveExtraInfo(L"/maps/T1 map (ms) [x]"), CString(L"/maps/T1 map"));
  EXPECT_EQ(PR_LayerNameRemoveExtraInfo(L"plain"), CString(L"plain"));
  EXPECT_EQ(PR_ReplaceFolderInName(L"/a/b/c.nii", L"/z/"), CString(L"/z/c.nii"));
  EXPECT_EQ(VA_ProduceZlibDecompressName(L"/in/scan.nii.gz", L"/tmp/w"), CString(L"/tmp/w/scan.nii"));
}

TEST(FilePaths, FoldersListClearAndRemove) {
  const std::string dir = tempDir("folders");
  std::filesystem::create_directories(dir + "/sub/deeper");
  touch(dir + "/b.TWK");
  touch(dir + "/a.twk");
  touch(dir + "/c.nii.gz");
  touch(dir + "/d.txt");
  touch(dir + "/sub/e.twk");
  const CString folder = CString::fromUtf8(dir);

  int n = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, L".twk", false, false, &n, false);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(CString(files[0]), CString::fromUtf8(dir + "/a.twk"));
  EXPECT_EQ(CString(files[1]), CString::fromUtf8(dir + "/b.TWK"));
  pf_free_parr(&files, n);
  files = PR_FindAllFilesInFolder(folder, L"twk;nii.gz", true, true, &n, false);
  EXPECT_EQ(n, 4);
  pf_free_parr(&files, n);
  EXPECT_EQ(PR_FindAllFilesInFolder(folder, L"dcm", false, false, &n, false), nullptr);
  EXPECT_EQ(n, 0);

  wchar_t** subs = PR_FindAllSubfoldersInFolder(true, folder, &n, false);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(CString(subs[0]), CString(L"sub"));
  pf_free_parr(&subs, n);

  EXPECT_EQ(PR_CountAllFilesInFolder(folder), 4);
  EXPECT_TRUE(PR_UsableFolder(folder, false));
  EXPECT_FALSE(PR_UsableFolder(folder + L"/absent", false));
  ASSERT_TRUE(PR_ClearFolderContent(folder, false));
  EXPECT_EQ(PR_CountAllFilesInFolder(folder), 0);
  EXPECT_TRUE(std::filesystem::exists(dir + "/sub/e.twk"));  // subfolders are left alone
  EXPECT_EQ(PR_FindOneFileInFolder(folder + L"/sub", false), CString::fromUtf8(dir + "/sub/e.twk"));

  ASSERT_TRUE(PR_ClearExistingFolderOrCreateNew(folder + L"/new/inner", false));
  EXPECT_TRUE(PR_FolderExists(folder + L"/new/inner"));
  ASSERT_TRUE(PR_RemoveFolder(folder));
  EXPECT_FALSE(PR_FolderExists(folder));
}

TEST(FilePaths, FilesCompareCopyAndGzipSignature) {
  const std::string dir = tempDir("files");
  touch(dir + "/a.txt", "same");
  touch(dir + "/b.txt", "same");
  touch(dir + "/c.txt", "samf");
  const CString f = CString::fromUtf8(dir);
  bool same = false;
  ASSERT_TRUE(PR_CompareFiles(f + L"/a.txt", f + L"/b.txt", &same, false));
  EXPECT_TRUE(same);
  ASSERT_TRUE(PR_CompareFiles(f + L"/a.txt", f + L"/c.txt", &same, false));
  EXPECT_FALSE(same);
  EXPECT_FALSE(PR_CompareFiles(f + L"/a.txt", f + L"/none.txt", &same, false));
  ASSERT_TRUE(PR_SaveTextToFile(f + L"/t.txt", L"\u00c4rger\n"));
  EXPECT_EQ(PR_FileSize(f + L"/t.txt"), 7);
  const wchar_t* names[] = {L"x/one.nii", L"y/ONE.nii"};
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  EXPECT_FALSE(PR_CheckUniqueFileTitles(names, 2, true));
  EXPECT_EQ(script.messages.size(), 1u);
  touch(dir + "/g.gz", "\x1f\x8b\x08");
  EXPECT_TRUE(PR_IsZlibFile(f + L"/g.gz"));
  EXPECT_FALSE(PR_IsZlibFile(f + L"/a.txt"));
}

TEST(ValueText, NumbersFromTextAndBack) {
  const struct { const wchar_t* text; bool ok; std::vector<double> values; } cases[] = {
      {L"1.5", true, {1.5}}, {L" 2, 3.25;4\t5e-3 ", true, {2, 3.25, 4, 0.005}}, {L"1,,2", true, {1, 2}},
      {L"", false, {}}, {L"1, x", false, {}}, {L"1.5.2", false, {}}, {L"void, 3", true, {VOID_VALUE, 3}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.text).toUtf8());
    double* values = nullptr;
    int n = -1;
    EXPECT_EQ(PR_ExtractDoubles(c.text, &values, &n), c.ok);
    ASSERT_EQ(n, int(c.values.size()));
    for (int i = 0; i < n; ++i) EXPECT_EQ(values[i], c.values[size_t(i)]);
    pf_free(&values);
  }
  int* ints = nullptr;
  int n = 0;
  EXPECT_TRUE(PR_ExtractIntegers(L"3 1 2", &ints, &n));
  EXPECT_EQ(n, 3);
  pf_free(&ints);
  EXPECT_FALSE(PR_ExtractIntegers(L"1 2.5", &ints, &n));
  EXPECT_FALSE(PR_ExtractIntegers(L"99999999999", &ints, &n));

  // The value string reads back to the same numbers.
  const double values[] = {2.5, 0.1, 1.0 / 3.0, 1e-9, VOID_VALUE, -40};
  const CString text = PR_MakeValueString(values, 6);
  EXPECT_EQ(text.Left(10), CString(L"2.5, 0.1, "));
  double* back = nullptr;
  ASSERT_TRUE(PR_ExtractDoubles(text, &back, &n));
  ASSERT_EQ(n, 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back[i], values[i]);
  pf_free(&back);
}

TEST(ValueText, PrecisionPermutationAndIndices) {
  EXPECT_DOUBLE_EQ(PR_SetValuePrecision(1234.5678, 2), 1200);
  EXPECT_DOUBLE_EQ(PR_SetValuePrecision(0.0123456, 3), 0.0123);
  EXPECT_EQ(PR_SetValuePrecision(VOID_VALUE, 2), VOID_VALUE);
  EXPECT_TRUE(PR_StringIsPermutation(L"xyzt", L"tzyx"));
  EXPECT_FALSE(PR_StringIsPermutation(L"xxzt", L"tzyx"));
  EXPECT_FALSE(PR_StringIsPermutation(L"xyz", L"tzyx"));
  EXPECT_TRUE(PR_StringContainsSubstring(L"SCAN OPTIONS FS", L"fs", true));
  EXPECT_FALSE(PR_StringContainsSubstring(L"SCAN OPTIONS FS", L"fs", false));
  int64_t index = 0;
  ASSERT_TRUE(PR_ExtractInxFromString(L"/d/case_012.nii", &index));
  EXPECT_EQ(index, 12);
  EXPECT_FALSE(PR_ExtractInxFromString(L"/d9/case.nii", &index));
}

TEST(ValueText, QuestionsGoThroughTheUi) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  script.answerMessage(IDYES).answerMessage(IDNO).answerMessage(IDCANCEL);
  EXPECT_TRUE(PR_AskYesNo(L"Proceed?"));
  bool yes = true;
  EXPECT_TRUE(PR_AskYesNoCancel(L"Resume?", &yes));
  EXPECT_FALSE(yes);
  EXPECT_FALSE(PR_AskYesNoCancel(L"Resume?", &yes));
  PR_ShowStop(L"TWK file save failed");
  EXPECT_EQ(script.lastMessage(), CString(L"TWK file save failed"));
  EXPECT_EQ(script.messageTypes.back() & 0xF0u, unsigned(MB_ICONSTOP));
  EXPECT_FALSE(script.pendingAnswers());
}
