#include "ScriptedUi.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <string>

#include "TextCodec.h"

namespace twk {

namespace {

const char* kindName(int kind) {
  static const char* const names[] = {"a message-box answer", "a three-button answer", "a value-prompt answer",
                                      "a value-prompt cancel", "an open-file answer", "an open-files answer",
                                      "a save-file answer", "a folder answer", "a picker cancel"};
  return kind >= 0 && kind < int(std::size(names)) ? names[kind] : "an answer";
}

[[noreturn]] void fail(const char* call, const CString& text, const std::string& why) {
  throw UnexpectedPrompt(std::string("ScriptedUi: unexpected ") + call + " \"" + text.toUtf8() + "\": " + why);
}

bool isButtonOf(unsigned type, int id) {
  switch (type & 0xF) {
    case MB_OK: return id == IDOK;
    case MB_OKCANCEL: return id == IDOK || id == IDCANCEL;
    case MB_ABORTRETRYIGNORE: return id == IDABORT || id == IDRETRY || id == IDIGNORE;
    case MB_YESNOCANCEL: return id == IDYES || id == IDNO || id == IDCANCEL;
    case MB_YESNO: return id == IDYES || id == IDNO;
    case MB_RETRYCANCEL: return id == IDRETRY || id == IDCANCEL;
    default: return true;
  }
}

bool isNumeric(PromptField::Kind kind) { return kind != PromptField::Kind::Text; }

}  // namespace

ScriptedUi& ScriptedUi::push(Answer answer) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(answer));
  return *this;
}

ScriptedUi& ScriptedUi::answerMessage(int id) { return push({Kind::Message, id, {}, {}, {}}); }
ScriptedUi& ScriptedUi::answerThreeButtons(int index) { return push({Kind::ThreeButtons, index, {}, {}, {}}); }
ScriptedUi& ScriptedUi::answerValues(std::vector<double> numbers) { return push({Kind::Values, 0, std::move(numbers), {}, {}}); }
ScriptedUi& ScriptedUi::answerValuesText(std::vector<CString> texts) { return push({Kind::Values, 0, {}, std::move(texts), {}}); }
ScriptedUi& ScriptedUi::answerValues(std::vector<double> numbers, std::vector<CString> texts) {
  return push({Kind::Values, 0, std::move(numbers), std::move(texts), {}});
}
ScriptedUi& ScriptedUi::cancelValues() { return push({Kind::CancelValues, 0, {}, {}, {}}); }
ScriptedUi& ScriptedUi::answerOpenFile(CString path) { return push({Kind::OpenFile, 0, {}, {}, std::move(path)}); }
ScriptedUi& ScriptedUi::answerOpenFiles(std::vector<CString> paths) { return push({Kind::OpenFiles, 0, {}, std::move(paths), {}}); }
ScriptedUi& ScriptedUi::answerSaveFile(CString path) { return push({Kind::SaveFile, 0, {}, {}, std::move(path)}); }
ScriptedUi& ScriptedUi::answerFolder(CString folder) { return push({Kind::Folder, 0, {}, {}, std::move(folder)}); }
ScriptedUi& ScriptedUi::cancelPicker() { return push({Kind::CancelPicker, 0, {}, {}, {}}); }

bool ScriptedUi::pendingAnswers() const {
  std::lock_guard lock(mutex_);
  return !queue_.empty();
}

void ScriptedUi::clear() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  messages.clear();
  messageTypes.clear();
  prompts.clear();
  fileRequests.clear();
  statusTexts.clear();
  progress.clear();
  shownFiles.clear();
  shownFileTexts.clear();
  pumps = 0;
}

CString ScriptedUi::lastMessage() const {
  std::lock_guard lock(mutex_);
  return messages.empty() ? CString() : messages.back();
}

ScriptedUi::Answer ScriptedUi::take(const char* call, const CString& text, std::initializer_list<Kind> accepted) {
  if (queue_.empty()) fail(call, text, "no answer is queued");
  const Kind next = queue_.front().kind;
  bool ok = false;
  for (Kind k : accepted) ok = ok || k == next;
  if (!ok) fail(call, text, std::string("the next queued answer is ") + kindName(int(next)));
  Answer answer = std::move(queue_.front());
  queue_.pop_front();
  return answer;
}

int ScriptedUi::messageBox(const CString& text, const CString& /*caption*/, unsigned type) {
  std::lock_guard lock(mutex_);
  messages.push_back(text);
  messageTypes.push_back(type);
  if ((type & 0xF) == MB_OK) return IDOK;
  Answer answer = take("messageBox", text, {Kind::Message});
  if (!isButtonOf(type, answer.id)) fail("messageBox", text, "answer " + std::to_string(answer.id) + " is not one of its buttons");
  return answer.id;
}

int ScriptedUi::threeButtons(const CString& text, const CString& /*caption*/, const CString& /*button0*/,
                             const CString& /*button1*/, const CString& /*button2*/) {
  std::lock_guard lock(mutex_);
  messages.push_back(text);
  messageTypes.push_back(kThreeButtonsEntry);
  Answer answer = take("threeButtons", text, {Kind::ThreeButtons});
  if (answer.id < 0 || answer.id > 2) fail("threeButtons", text, "answer " + std::to_string(answer.id) + " is not a button index");
  return answer.id;
}

bool ScriptedUi::askValues(const CString& title, std::vector<PromptField>& fields) {
  std::lock_guard lock(mutex_);
  messages.push_back(title);
  messageTypes.push_back(kPromptEntry);
  prompts.push_back(fields);
  Answer answer = take("askValues", title, {Kind::Values, Kind::CancelValues});
  if (answer.kind == Kind::CancelValues) return false;

  // Check every value first, as the dialog refuses OK while a value is out of range, then write
  // them all back.
  std::vector<PromptField> result = fields;
  size_t nextNumber = 0, nextText = 0;
  for (PromptField& f : result) {
    if (isNumeric(f.kind)) {
      if (nextNumber >= answer.numbers.size()) continue;
      double v = answer.numbers[nextNumber++];
      const std::string where = "field \"" + f.label.toUtf8() + "\"";
      switch (f.kind) {
        case PromptField::Kind::Int:
          v = std::round(v);
          [[fallthrough]];
        case PromptField::Kind::Double:
          if (!(v >= f.minimum && v <= f.maximum)) fail("askValues", title, where + " cannot take " + std::to_string(v));
          break;
        case PromptField::Kind::Bool:
          v = v != 0 ? 1 : 0;
          break;
        case PromptField::Kind::Choice:
          if (!(v >= 0 && v < double(f.choices.size())) || v != std::floor(v))
            fail("askValues", title, where + " has no choice " + std::to_string(v));
          break;
        default:
          break;
      }
      f.number = v;
    } else if (nextText < answer.texts.size()) {
      f.text = answer.texts[nextText++];
    }
  }
  if (nextNumber < answer.numbers.size() || nextText < answer.texts.size())
    fail("askValues", title, "more values are queued than the prompt has fields");
  fields = std::move(result);
  return true;
}

bool ScriptedUi::pickerAnswer(const char* call, const FileRequest* request, const CString& title, Kind kind, Answer& answer) {
  if (request) fileRequests.push_back(*request);
  answer = take(call, title, {kind, Kind::CancelPicker});
  return answer.kind == kind;
}

bool ScriptedUi::openFileName(const FileRequest& request, CString& path) {
  std::lock_guard lock(mutex_);
  Answer answer{};
  if (!pickerAnswer("openFileName", &request, request.title, Kind::OpenFile, answer)) return false;
  path = answer.path;
  return true;
}

bool ScriptedUi::openFileNames(const FileRequest& request, std::vector<CString>& paths) {
  std::lock_guard lock(mutex_);
  Answer answer{};
  if (!pickerAnswer("openFileNames", &request, request.title, Kind::OpenFiles, answer)) return false;
  paths = answer.texts;
  return true;
}

bool ScriptedUi::saveFileName(const FileRequest& request, CString& path) {
  std::lock_guard lock(mutex_);
  Answer answer{};
  if (!pickerAnswer("saveFileName", &request, request.title, Kind::SaveFile, answer)) return false;
  path = answer.path;
  return true;
}

bool ScriptedUi::folderName(const CString& title, const CString& /*initialFolder*/, CString& folder) {
  std::lock_guard lock(mutex_);
  Answer answer{};
  if (!pickerAnswer("folderName", nullptr, title, Kind::Folder, answer)) return false;
  folder = answer.path;
  return true;
}

void ScriptedUi::setStatusText(const CString& text) {
  std::lock_guard lock(mutex_);
  statusTexts.push_back(text);
}

void ScriptedUi::setProgress(int percent) {
  std::lock_guard lock(mutex_);
  progress.push_back(percent);
}

void ScriptedUi::pumpEvents() {
  std::lock_guard lock(mutex_);
  ++pumps;
}

bool ScriptedUi::showTextFile(const CString& path) {
  std::lock_guard lock(mutex_);
  shownFiles.push_back(path);
  std::ifstream in(pathToNative(path), std::ios::binary);
  if (!in) {
    shownFileTexts.emplace_back();
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto byte = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };

  bool utf16 = bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
  if (!utf16 && bytes.size() >= 2) {
    // Text without a mark: UTF-16LE when its first code units are ASCII with zero high bytes
    // (zero bytes never appear in UTF-8 text).
    const size_t pairs = std::min<size_t>(bytes.size() / 2, 4);
    utf16 = true;
    for (size_t i = 0; i < pairs; ++i) utf16 = utf16 && byte(2 * i + 1) == 0 && byte(2 * i) != 0;
  }
  if (utf16) {
    shownFileTexts.emplace_back(fromUtf16LE(bytes.data(), bytes.size(), true));
  } else {
    const bool bom = bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF;
    shownFileTexts.emplace_back(fromUtf8(std::string_view(bytes).substr(bom ? 3 : 0)));
  }
  return true;
}

}  // namespace twk
