#pragma once
// ScriptedUi: the Ui that tests install. Answers are queued in the order the questions will come;
// every text shown is captured. A question that finds no answer, or an answer of another kind,
// throws UnexpectedPrompt at once, so a test fails instead of waiting for a user.
//
//   twk::ScriptedUi script;
//   twk::ScopedUi installed(script);
//   script.answerMessage(IDYES).answerSaveFile(L"/tmp/out.vol");
//   runCommand();
//   EXPECT_FALSE(script.pendingAnswers());
//   EXPECT_EQ(script.lastMessage(), L"Saved");
//
// Plain MB_OK boxes need no answer: they are answered IDOK, captured, and never take a queued
// answer. Status texts, progress and event pumps are only recorded. All members may be called
// from worker threads.

#include <deque>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "TwkUi.h"

namespace twk {

// A question the script did not expect; what() names the call and the question's text (UTF-8).
class UnexpectedPrompt : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ScriptedUi : public Ui {
 public:
  // messageTypes holds the MB_* type of each message box; these mark the other entries of messages.
  static constexpr unsigned kThreeButtonsEntry = 0x80000000u;
  static constexpr unsigned kPromptEntry = 0x80000001u;

  // Queued answers, consumed in order.
  ScriptedUi& answerMessage(int id);                           // IDOK, IDYES, IDNO, IDCANCEL, ...; must be a button of the box
  ScriptedUi& answerThreeButtons(int index);                   // 0, 1 or 2
  ScriptedUi& answerValues(std::vector<double> numbers);       // OK; numbers go to the Int/Double/Bool/Choice fields in order
  ScriptedUi& answerValuesText(std::vector<CString> texts);    // OK; texts go to the Text fields in order
  ScriptedUi& answerValues(std::vector<double> numbers, std::vector<CString> texts);  // both in one prompt
  ScriptedUi& cancelValues();                                  // the prompt is cancelled; fields keep their values
  ScriptedUi& answerOpenFile(CString path);
  ScriptedUi& answerOpenFiles(std::vector<CString> paths);
  ScriptedUi& answerSaveFile(CString path);
  ScriptedUi& answerFolder(CString folder);
  ScriptedUi& cancelPicker();                                  // cancels whichever picker comes next

  bool pendingAnswers() const;  // answers queued but not yet asked for
  void clear();                 // drops queued answers and everything captured
  CString lastMessage() const;  // the last entry of messages, empty when none

  // Captured, in order. Fields that a prompt leaves out keep the caller's values.
  std::vector<CString> messages;      // message-box texts, three-button texts and prompt titles
  std::vector<unsigned> messageTypes; // one per entry of messages: MB_* type, kThreeButtonsEntry or kPromptEntry
  std::vector<std::vector<PromptField>> prompts;  // each prompt's fields as the caller passed them
  std::vector<FileRequest> fileRequests;          // each file picker's request, in order
  std::vector<CString> statusTexts;
  std::vector<int> progress;
  std::vector<CString> shownFiles;      // paths passed to showTextFile
  std::vector<CString> shownFileTexts;  // their contents when shown (UTF-16LE or UTF-8, see showTextFile)
  int pumps = 0;

  // Ui
  int messageBox(const CString& text, const CString& caption, unsigned type) override;
  int threeButtons(const CString& text, const CString& caption, const CString& button0, const CString& button1,
                   const CString& button2) override;
  bool askValues(const CString& title, std::vector<PromptField>& fields) override;
  bool openFileName(const FileRequest& request, CString& path) override;
  bool openFileNames(const FileRequest& request, std::vector<CString>& paths) override;
  bool saveFileName(const FileRequest& request, CString& path) override;
  bool folderName(const CString& title, const CString& initialFolder, CString& folder) override;
  void setStatusText(const CString& text) override;
  void setProgress(int percent) override;
  void pumpEvents() override;
  // Records the path and the file's text: UTF-16LE when it starts with the FF FE mark or its first
  // code units have zero high bytes, UTF-8 otherwise. False (with an empty text) when it cannot be read.
  bool showTextFile(const CString& path) override;

 private:
  enum class Kind { Message, ThreeButtons, Values, CancelValues, OpenFile, OpenFiles, SaveFile, Folder, CancelPicker };
  struct Answer {
    Kind kind;
    int id = 0;
    std::vector<double> numbers;
    std::vector<CString> texts;
    CString path;
  };

  ScriptedUi& push(Answer answer);
  // Takes the next answer for a call of one of the given kinds, or throws UnexpectedPrompt.
  Answer take(const char* call, const CString& text, std::initializer_list<Kind> accepted);
  bool pickerAnswer(const char* call, const FileRequest* request, const CString& title, Kind kind, Answer& answer);

  mutable std::recursive_mutex mutex_;
  std::deque<Answer> queue_;
};

}  // namespace twk
