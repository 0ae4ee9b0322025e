// Whole-file reads and writes, field readers, the clipboard, external programs, the text viewer
// and small system queries.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace {

const wchar_t* const kBuildNumber = L"483";

// Writes all bytes to a new file at path; false when the file cannot be created or written.
bool writeWholeFile(const wchar_t* path, const void* data, size_t length) {
  if (!path) return false;
  FILE* f = std::fopen(twk::pathToNative(path).c_str(), "w+b");
  if (!f) return false;
  const bool written = length == 0 || std::fwrite(data, 1, length, f) == length;
  const bool closed = std::fclose(f) == 0;
  return written && closed;
}

std::string utf16WithBom(const wchar_t* text) {
  std::string bytes("\xFF\xFE", 2);
  bytes += twk::toUtf16LE(text ? std::wstring_view(text) : std::wstring_view());
  return bytes;
}

// --- clipboard -------------------------------------------------------------------------------

std::mutex clipboardLock;
std::optional<std::string> clipboardText;  // 8-bit text, as the desktop's plain-text format
PR_ClipboardGetter clipboardGetter;
PR_ClipboardSetter clipboardSetter;

bool clipboardRead(std::string& text) {
  std::lock_guard<std::mutex> hold(clipboardLock);
  if (clipboardGetter) {
    std::wstring wide;
    if (!clipboardGetter(wide)) return false;
    text = twk::toCodePage1252(wide);
    return true;
  }
  if (!clipboardText) return false;
  text = *clipboardText;
  return true;
}

bool clipboardWrite(const char* text) {
  std::lock_guard<std::mutex> hold(clipboardLock);
  const std::string narrow(text ? text : "");
  if (clipboardSetter) return clipboardSetter(twk::fromCodePage1252(narrow));
  clipboardText = narrow;
  return true;
}

// --- processes -------------------------------------------------------------------------------

// Splits a command line as a shell does for plain words: blanks separate, '...' and "..." group
// (the quotes are dropped and may stand inside a word), \" inside or outside quotes is a quote.
std::vector<std::string> splitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t k = 0; k < line.size(); ++k) {
    const char c = line[k];
    if (quote) {
      if (c == quote) {
        quote = 0;
      } else if (quote == '"' && c == '\\' && k + 1 < line.size() && (line[k + 1] == '"' || line[k + 1] == '\\')) {
        word += line[++k];
      } else {
        word += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == '\\' && k + 1 < line.size() && line[k + 1] == '"') {
      word += line[++k];
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program to run: a path as it stands, a bare name through PATH. Empty (errno set) when none.
std::string resolveProgram(const std::string& application) {
  if (application.find('/') != std::string::npos) return application;
  const char* pathList = std::getenv("PATH");
  std::string paths = pathList ? pathList : "/usr/local/bin:/usr/bin:/bin";
  size_t begin = 0;
  while (begin <= paths.size()) {
    size_t end = paths.find(':', begin);
    if (end == std::string::npos) end = paths.size();
    const std::string folder = end > begin ? paths.substr(begin, end - begin) : std::string(".");
    const std::string candidate = folder + "/" + application;
    if (isExecutableFile(candidate)) return candidate;
    begin = end + 1;
  }
  errno = ENOENT;
  return std::string();
}

// Starts program with argv. Detached: a grandchild in its own session, so nothing waits for it
// and it leaves no zombie behind. Returns the child's pid (0 when detached), -1 with errno set on
// failure. A pipe that closes on exec tells whether the exec itself succeeded.
pid_t startProcess(const std::string& program, const std::vector<std::string>& arguments, bool detached) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;

  const pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    close(report[0]);
    close(report[1]);
    errno = error;
    return -1;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    close(report[0]);
    if (detached) {
      setsid();
      const pid_t grandchild = fork();
      if (grandchild < 0) {
        const int error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
      }
      if (grandchild > 0) _exit(0);
    }
    execv(program.c_str(), argv.data());
    const int error = errno;
    (void)!write(report[1], &error, sizeof error);
    _exit(127);
  }

  close(report[1]);
  int childError = 0;
  ssize_t got;
  do {
    got = read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(report[0]);

  if (detached) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (got == ssize_t(sizeof childError)) {
    if (!detached) {
      int status = 0;
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
    }
    errno = childError;
    return -1;
  }
  return detached ? 0 : child;
}

// Waits for pid up to timeoutSeconds (0xFFFFFFFF: no limit); true when it ended.
bool waitForProcess(pid_t pid, unsigned timeoutSeconds) {
  const bool unlimited = timeoutSeconds == 0xFFFFFFFFu;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(unlimited ? 0 : timeoutSeconds);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, unlimited ? 0 : WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) return errno == ECHILD;
    if (unlimited) continue;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(20)) pause *= 2;
  }
}

}  // namespace

// --- files -------------------------------------------------------------------------------------

bool PR_FileSave(const wchar_t* path, const char* text) {
  const char* t = text ? text : "";
  return writeWholeFile(path, t, std::strlen(t));
}

bool PR_FileSave(const wchar_t* path, const wchar_t* text) {
  const std::string bytes = utf16WithBom(text);
  return writeWholeFile(path, bytes.data(), bytes.size());
}

bool PR_FileSave(const wchar_t* path, const void* data, int64_t length, bool showErrors) {
  const bool saved = length >= 0 && (data || length == 0) && writeWholeFile(path, data, size_t(length));
  if (!saved && showErrors)
    twk::messageBox(FmtStr(L"Unable to save file : %s", path ? path : L""), MB_OK | MB_ICONINFORMATION);
  return saved;
}

void* PR_FileLoad(const wchar_t* path, int64_t* expectedSize, int64_t* outSize, bool showErrors) {
  if (outSize) *outSize = 0;
  void* buffer = nullptr;
  bool loaded = false;
  FILE* f = path ? std::fopen(twk::pathToNative(path).c_str(), "rb") : nullptr;
  if (f) {
    struct stat info {};
    if (fstat(fileno(f), &info) == 0 && S_ISREG(info.st_mode)) {
      const int64_t size = int64_t(info.st_size);
      if (expectedSize && *expectedSize != size) {
        twk::showNamedError(L"PR_FileLoad", L"File size differs from expected");
      } else if ((buffer = pf_malloc(size)) != nullptr) {
        loaded = size == 0 || std::fread(buffer, 1, size_t(size), f) == size_t(size);
        if (loaded && outSize) *outSize = size;
      }
    }
    std::fclose(f);
  }
  if (!loaded) {
    pf_free(&buffer);
    if (showErrors)
      twk::messageBox(FmtStr(L"Failed to load file : %s", path ? path : L""), MB_OK | MB_ICONINFORMATION);
  }
  return buffer;
}

static uint64_t readLittleEndian(uint8_t** cursor, int nbytes) {
  if (!cursor || !*cursor || nbytes < 1 || nbytes > 4) return 0;
  uint64_t value = 0;
  for (int k = nbytes - 1; k >= 0; --k) value = (value << 8) | (*cursor)[k];
  *cursor += nbytes;
  return value;
}

uint32_t pf_readUIHT32(uint8_t** cursor, int nbytes) { return uint32_t(readLittleEndian(cursor, nbytes)); }

uint64_t pf_readUIHT64(uint8_t** cursor, int nbytes) { return readLittleEndian(cursor, nbytes); }

// --- clipboard ---------------------------------------------------------------------------------

void PR_SetClipboardHooks(PR_ClipboardGetter getter, PR_ClipboardSetter setter) {
  std::lock_guard<std::mutex> hold(clipboardLock);
  clipboardGetter = std::move(getter);
  clipboardSetter = std::move(setter);
}

char* PR_LoadStrFromClipboard() {
  std::string text;
  if (!clipboardRead(text)) return nullptr;
  auto* copy = static_cast<char*>(pf_malloc(int64_t(text.size()) + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

void PR_CopyStrToClipboard(const char* text) {
  if (!clipboardWrite(text)) twk::showNamedError(L"PR_CopyStrToClipboard", L"Cannot open the Clipboard");
}

bool PR_CopyStrToClipboard(const wchar_t* text) {
  const std::string narrow = twk::toCodePage1252(text ? std::wstring_view(text) : std::wstring_view());
  PR_CopyStrToClipboard(narrow.c_str());
  return true;
}

// --- external programs -------------------------------------------------------------------------

bool PR_ExecuteCommandLine(const wchar_t* application, const wchar_t* arguments, bool wait, unsigned timeoutSeconds,
                           bool showErrors) {
  const std::string app = twk::pathToNative(application);
  std::vector<std::string> argv{app};
  if (arguments) {
    for (std::string& word : splitCommandLine(twk::toUtf8(arguments))) argv.push_back(std::move(word));
  }

  const std::string program = app.empty() ? std::string() : resolveProgram(app);
  if (app.empty()) errno = ENOENT;
  const pid_t pid = program.empty() ? -1 : startProcess(program, argv, !wait);
  if (pid < 0) {
    if (showErrors)
      twk::showNamedError(L"PR_ExecuteCommandLine", CString(L"CreateProcess failed") + L" : " + PR_GetLastErrorStr());
    return false;
  }
  if (wait && !waitForProcess(pid, timeoutSeconds)) {
    if (showErrors) twk::showNamedError(L"PR_ExecuteCommandLine", CString(application) + L" has failed");
    return false;
  }
  return true;
}

bool PR_NotepadExeOpenString(const wchar_t* folder, const wchar_t* text) {
  CString path(folder ? folder : L"");
  if (!path.IsEmpty() && path[path.GetLength() - 1] != L'/' && path[path.GetLength() - 1] != L'\\') path += L"/";
  path += L"NotepadTempFile.txt";
  if (!PR_FileSave(path.GetString(), text ? text : L"")) return false;
  twk::ui().showTextFile(path);
  return true;
}

bool PR_NotepadExeOpenFile(const wchar_t* path) {
  twk::ui().showTextFile(CString(path ? path : L""));
  return true;
}

// --- system ------------------------------------------------------------------------------------

CString PR_GetLastErrorStr() {
  const int error = errno;
  if (error == 0) return CString();
  return CString::fromUtf8(std::strerror(error));
}

wchar_t* PR_PrintStack() { return nullptr; }

bool FM_GetEqualTasks(int64_t nWorkers, int64_t nTasks, int64_t* nChunks, int64_t* chunkSize) {
  if (nWorkers <= 0) nWorkers = PR_GetNumLogicalCpus();
  int64_t size = nTasks / nWorkers;
  if (size < 1) size = 1;
  const int64_t chunks = nTasks > 0 ? (nTasks + size - 1) / size : 0;
  if (chunkSize) *chunkSize = size;
  if (nChunks) *nChunks = chunks;
  return true;
}

void FM_GetBatchParameters(int64_t factor, int64_t nTasks, int64_t* nBatches, int64_t* batchSize) {
  const int64_t cpus = PR_GetNumLogicalCpus();
  int64_t workers = factor == -1 ? cpus / 2 : factor * cpus;
  if (workers < 1) workers = 1;  // a single processor, or a factor of 0, still gives one worker
  int64_t size = nTasks < workers ? nTasks : workers;
  int64_t batches = 0;
  if (size < 1) {
    size = 1;  // no tasks: no batches
  } else {
    batches = (nTasks + size - 1) / size;
  }
  if (batchSize) *batchSize = size;
  if (nBatches) *nBatches = batches;
}

bool PR_RegistryKeyPresent(const wchar_t*) { return false; }

bool PR_TestRegistryKey(const wchar_t*, const wchar_t*) { return false; }

void PR_GetBuildNumber(CString& s) { s = kBuildNumber; }

void PR_DisplaySystemError(const wchar_t* text) {
  const CString reason = CString::fromUtf8(std::strerror(errno));
  twk::messageBox(FmtStr(L"%s: %s (build %s)", text ? text : L"", reason.GetString(), kBuildNumber),
                  MB_OK | MB_ICONSTOP);
}

void* PR_GetProcAddress(void* module, const char* name) {
  void* entry = name ? dlsym(module ? module : RTLD_DEFAULT, name) : nullptr;
  if (!entry) twk::messageBox(CString(L"Loading DLL: unable to locate ") + CString(name ? name : ""));
  return entry;
}
