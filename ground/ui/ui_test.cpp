#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TextCodec.h"

namespace {

using twk::PromptField;
using twk::ScriptedUi;
using twk::UnexpectedPrompt;

TEST(SilentUi, AnswersEveryQuestionWithItsCancelValue) {
  twk::setUi(nullptr);
  twk::Ui& ui = twk::ui();
  const struct {
    unsigned type;
    int expected;
  } cases[] = {
      {MB_OK | MB_ICONERROR, IDOK},     {MB_OKCANCEL, IDCANCEL},         {MB_YESNO | MB_ICONQUESTION, IDNO},
      {MB_YESNOCANCEL, IDCANCEL},       {MB_RETRYCANCEL, IDCANCEL},      {MB_ABORTRETRYIGNORE, IDABORT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(ui.messageBox(L"text", L"caption", c.type), c.expected);
  }
  EXPECT_EQ(ui.threeButtons(L"t", L"c", L"a", L"b", L"c"), 2);
  EXPECT_FALSE(twk::askYesNo(L"Continue?"));

  std::vector<PromptField> fields{PromptField::integer(L"n", 3)};
  EXPECT_FALSE(ui.askValues(L"Values", fields));
  EXPECT_EQ(fields[0].number, 3);

  CString path = L"unchanged";
  std::vector<CString> paths;
  EXPECT_FALSE(ui.openFileName({}, path));
  EXPECT_FALSE(ui.openFileNames({}, paths));
  EXPECT_FALSE(ui.saveFileName({}, path));
  EXPECT_FALSE(ui.folderName(L"Folder", L"/tmp", path));
  EXPECT_EQ(path, L"unchanged");
  EXPECT_FALSE(ui.showTextFile(L"/nonexistent"));
  ui.setStatusText(L"s");
  ui.setProgress(50);
  ui.pumpEvents();
}

TEST(ScriptedUi, AnswersAreConsumedInOrderAndTextsCaptured) {
  ScriptedUi script;
  twk::ScopedUi installed(script);
  script.answerMessage(IDYES).answerThreeButtons(1).answerSaveFile(L"/out/a.vol").answerOpenFiles({L"/a", L"/b"}).answerFolder(L"/f");

  EXPECT_EQ(twk::messageBox(L"Plain note"), IDOK);  // needs no answer and takes none
  EXPECT_TRUE(twk::askYesNo(L"Overwrite?"));
  twk::showNamedError(L"SaveVolume", L"Disk full");
  EXPECT_EQ(twk::ui().threeButtons(L"Which one?", L"Tarnwick", L"A", L"B", L"C"), 1);

  twk::FileRequest request;
  request.title = L"Save volume";
  request.filter = L"Volumes (*.vol)|*.vol||";
  CString path;
  EXPECT_TRUE(twk::ui().saveFileName(request, path));
  EXPECT_EQ(path, L"/out/a.vol");
  std::vector<CString> paths;
  EXPECT_TRUE(twk::ui().openFileNames({}, paths));
  EXPECT_EQ(paths, (std::vector<CString>{L"/a", L"/b"}));
  CString folder;
  EXPECT_TRUE(twk::ui().folderName(L"Pick", L"", folder));
  EXPECT_EQ(folder, L"/f");
  EXPECT_FALSE(script.pendingAnswers());

  EXPECT_EQ(script.messages, (std::vector<CString>{L"Plain note", L"Overwrite?", L"SaveVolume : Disk full", L"Which one?"}));
  EXPECT_EQ(script.messageTypes, (std::vector<unsigned>{MB_OK, MB_YESNO | MB_ICONQUESTION, MB_OK | MB_ICONERROR,
                                                        ScriptedUi::kThreeButtonsEntry}));
  EXPECT_EQ(script.lastMessage(), L"Which one?");
  ASSERT_EQ(script.fileRequests.size(), 2u);
  EXPECT_EQ(script.fileRequests[0].filter, L"Volumes (*.vol)|*.vol||");

  twk::ui().setStatusText(L"Loading");
  twk::ui().setProgress(10);
  twk::ui().setProgress(-1);
  twk::ui().pumpEvents();
  EXPECT_EQ(script.statusTexts, std::vector<CString>{L"Loading"});
  EXPECT_EQ(script.progress, (std::vector<int>{10, -1}));
  EXPECT_EQ(script.pumps, 1);

  script.clear();
  EXPECT_TRUE(script.messages.empty());
  EXPECT_EQ(script.lastMessage(), L"");
}

TEST(ScriptedUi, UnexpectedPromptThrowsAtOnce) {
  ScriptedUi script;
  twk::ScopedUi installed(script);

  // No answer queued for a question.
  try {
    twk::askYesNo(L"Delete all layers?");
    FAIL() << "no exception";
  } catch (const UnexpectedPrompt& e) {
    EXPECT_NE(std::string(e.what()).find("messageBox"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Delete all layers?"), std::string::npos) << e.what();
  }

  // An answer of another kind stays queued for the question it was meant for.
  script.answerOpenFile(L"/in.vol");
  std::vector<PromptField> fields{PromptField::real(L"Sigma", 1.0)};
  EXPECT_THROW(twk::ui().askValues(L"Smoothing", fields), UnexpectedPrompt);
  EXPECT_EQ(fields[0].number, 1.0);
  EXPECT_TRUE(script.pendingAnswers());
  CString path;
  EXPECT_THROW(twk::ui().saveFileName({}, path), UnexpectedPrompt);
  EXPECT_TRUE(twk::ui().openFileName({}, path));
  EXPECT_EQ(path, L"/in.vol");

  // An answer that is not a button of the box, or not a button index.
  script.answerMessage(IDYES);
  EXPECT_THROW(twk::ui().messageBox(L"Proceed?", L"", MB_OKCANCEL), UnexpectedPrompt);
  script.answerThreeButtons(3);
  EXPECT_THROW(twk::ui().threeButtons(L"t", L"", L"a", L"b", L"c"), UnexpectedPrompt);
  EXPECT_THROW(twk::ui().folderName(L"Folder", L"", path), UnexpectedPrompt);
  EXPECT_FALSE(script.pendingAnswers());

  // A cancelled picker returns false and leaves the path alone.
  script.cancelPicker();
  EXPECT_FALSE(twk::ui().openFileName({}, path));
  EXPECT_EQ(path, L"/in.vol");
}

TEST(ScriptedUi, PromptWritesBackOnlyOnOk) {
  ScriptedUi script;
  twk::ScopedUi installed(script);
  auto makeFields = [] {
    std::vector<PromptField> f{PromptField::integer(L"Iterations", 10), PromptField::string(L"Name", L"old"),
                               PromptField::real(L"Sigma", 1.5), PromptField::check(L"Mask", false),
                               PromptField::choice(L"Mode", {L"Fast", L"Exact"}, 0)};
    f[0].minimum = 1;
    f[0].maximum = 100;
    return f;
  };

  std::vector<PromptField> fields = makeFields();
  script.cancelValues();
  EXPECT_FALSE(twk::ui().askValues(L"Settings", fields));
  EXPECT_EQ(fields[0].number, 10);
  EXPECT_EQ(fields[1].text, L"old");

  script.answerValues({20, 2.5, 1, 1}, {L"new"});
  EXPECT_TRUE(twk::ui().askValues(L"Settings", fields));
  EXPECT_EQ(fields[0].number, 20);
  EXPECT_EQ(fields[1].text, L"new");
  EXPECT_EQ(fields[2].number, 2.5);
  EXPECT_EQ(fields[3].number, 1);
  EXPECT_EQ(fields[4].number, 1);

  // Fields without a queued value keep theirs.
  fields = makeFields();
  script.answerValues({42});
  EXPECT_TRUE(twk::ui().askValues(L"Settings", fields));
  EXPECT_EQ(fields[0].number, 42);
  EXPECT_EQ(fields[2].number, 1.5);
  script.answerValuesText({L"only text"});
  EXPECT_TRUE(twk::ui().askValues(L"Settings", fields));
  EXPECT_EQ(fields[0].number, 42);
  EXPECT_EQ(fields[1].text, L"only text");

  // Values the dialog would refuse fail the test and leave every field as it was.
  const struct {
    const char* what;
    std::vector<double> numbers;
    std::vector<CString> texts;
  } refused[] = {
      {"out of range", {500}, {}},
      {"no such choice", {5, 1, 0, 2}, {}},
      {"too many numbers", {1, 2, 0, 1, 5}, {}},
      {"too many texts", {}, {L"a", L"b"}},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    fields = makeFields();
    script.answerValues(r.numbers, r.texts);
    EXPECT_THROW(twk::ui().askValues(L"Settings", fields), UnexpectedPrompt);
    EXPECT_EQ(fields[0].number, 10);
    EXPECT_EQ(fields[1].text, L"old");
  }
  EXPECT_EQ(script.lastMessage(), L"Settings");
  EXPECT_EQ(script.messageTypes.back(), ScriptedUi::kPromptEntry);
  EXPECT_EQ(script.prompts.back()[0].label, L"Iterations");
}

TEST(ScriptedUi, ScopedUiRestoresThePreviousInterface) {
  twk::setUi(nullptr);
  ScriptedUi outer, inner;
  {
    twk::ScopedUi a(outer);
    {
      twk::ScopedUi b(inner);
      twk::messageBox(L"inner");
    }
    twk::messageBox(L"outer");
  }
  EXPECT_EQ(inner.messages, std::vector<CString>{L"inner"});
  EXPECT_EQ(outer.messages, std::vector<CString>{L"outer"});
  EXPECT_EQ(twk::ui().messageBox(L"q", L"", MB_YESNO), IDNO);  // the silent default is back
}

TEST(ScriptedUi, RecordsFromSeveralThreads) {
  ScriptedUi script;
  twk::ScopedUi installed(script);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([] {
      for (int i = 0; i < 500; ++i) {
        twk::ui().setProgress(i % 100);
        twk::ui().pumpEvents();
      }
    });
  for (auto& w : workers) w.join();
  EXPECT_EQ(script.progress.size(), 2000u);
  EXPECT_EQ(script.pumps, 2000);
}

TEST(ScriptedUi, ShownFilesAreReadWithTheirEncoding) {
  const std::filesystem::path dir = twk::testing::testFolder("ui_test_shown_files");
  auto write = [&dir](const char* name, const std::string& bytes) {
    const std::filesystem::path p = dir / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return CString(p.string().c_str());
  };
  const std::wstring text = L"Volume \u20ac\r\nx";
  const CString withBom = write("bom.txt", "\xff\xfe" + twk::toUtf16LE(text));
  const CString noBom = write("nobom.txt", twk::toUtf16LE(text));
  const CString utf8 = write("utf8.txt", twk::toUtf8(text));
  const CString utf8Bom = write("utf8bom.txt", "\xef\xbb\xbf" + twk::toUtf8(text));

  ScriptedUi script;
  twk::ScopedUi installed(script);
  for (const CString& p : {withBom, noBom, utf8, utf8Bom}) EXPECT_TRUE(twk::ui().showTextFile(p));
  EXPECT_FALSE(twk::ui().showTextFile(CString((dir / "missing.txt").string().c_str())));
  EXPECT_EQ(script.shownFiles.size(), 5u);
  EXPECT_EQ(script.shownFileTexts, (std::vector<CString>{text, text, text, text, L""}));
  std::filesystem::remove_all(dir);
}

}  // namespace
