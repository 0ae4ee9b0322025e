#include "paths/FilePaths.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace fs = std::filesystem;

namespace {

bool isSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

std::wstring text(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

// Index of the first character of the last component.
size_t titleStart(const std::wstring& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (isSeparator(path[i - 1])) return i;
  return 0;
}

// Index of the dot of the extension of the last component, npos when none. A leading dot of a
// title (".hidden") is no extension.
size_t extensionDot(const std::wstring& path) {
  const size_t start = titleStart(path);
  const size_t dot = path.rfind(L'.');
  if (dot == std::wstring::npos || dot <= start) return std::wstring::npos;
  return dot;
}

fs::path native(const wchar_t* path) { return fs::path(twk::pathToNative(path)); }

CString wide(const fs::path& p) { return CString::fromUtf8(p.string()); }

void report(bool show, const wchar_t* function, const CString& message) {
  if (show) twk::showNamedError(function, message);
}

wchar_t* newWideString(const CString& s) {
  const size_t bytes = (size_t(s.GetLength()) + 1) * sizeof(wchar_t);
  auto* p = static_cast<wchar_t*>(pf_malloc(bytes));
  if (p) std::memcpy(p, s.GetString(), bytes);
  return p;
}

// Copies the names into a pf_malloc array of pf_malloc strings; null when empty or out of memory.
wchar_t** toArray(std::vector<CString>& names, int* count) {
  std::sort(names.begin(), names.end());
  if (count) *count = 0;
  if (names.empty()) return nullptr;
  auto** array = static_cast<wchar_t**>(pf_malloc(names.size() * sizeof(wchar_t*)));
  if (!array) return nullptr;
  for (size_t i = 0; i < names.size(); ++i) {
    array[i] = newWideString(names[i]);
    if (!array[i]) {
      pf_free_parr(&array, int64_t(i));
      return nullptr;
    }
  }
  if (count) *count = int(names.size());
  return array;
}

std::vector<std::wstring> splitExtensions(const wchar_t* list) {
  std::vector<std::wstring> out;
  std::wstring current;
  for (const wchar_t* p = list; p && *p; ++p) {
    if (*p == L';' || *p == L',' || *p == L' ') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else if (*p != L'.' && *p != L'*') {
      current += wchar_t(std::towlower(*p));
    } else if (*p == L'.' && !current.empty()) {
      current += L'.';  // compound extensions such as "nii.gz"
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

bool matchesExtension(const std::wstring& title, const std::vector<std::wstring>& extensions) {
  if (extensions.empty()) return true;
  std::wstring lower = title;
  for (auto& c : lower) c = wchar_t(std::towlower(c));
  for (const auto& ext : extensions) {
    const std::wstring tail = L"." + ext;
    if (lower.size() > tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0) return true;
  }
  return false;
}

}  // namespace

CString PR_GetFileTitle(const wchar_t* path) {
  std::wstring p = text(path);
  return CString(p.substr(titleStart(p)));
}

CString PR_GetFileTitleName(const wchar_t* path) { return PR_GetFileTitle(PR_GetFileName(path)); }

CString PR_GetFileName(const wchar_t* path) {
  std::wstring p = text(path);
  const size_t dot = extensionDot(p);
  return CString(dot == std::wstring::npos ? p : p.substr(0, dot));
}

CString PR_GetFileExt(const wchar_t* path) {
  std::wstring p = text(path);
  const size_t dot = extensionDot(p);
  return CString(dot == std::wstring::npos ? std::wstring() : p.substr(dot + 1));
}

CString PR_GetFileFolder(const wchar_t* path) {
  std::wstring p = text(path);
  size_t start = titleStart(p);
  while (start > 1 && isSeparator(p[start - 1])) --start;
  if (start == 1 && isSeparator(p[0])) return CString(p.substr(0, 1));  // the root folder
  return CString(p.substr(0, start));
}

CString PR_AddFileNameSfx(const wchar_t* name, const wchar_t* suffix, bool keepExtension) {
  std::wstring p = text(name);
  const size_t dot = extensionDot(p);
  std::wstring stem = dot == std::wstring::npos ? p : p.substr(0, dot);
  std::wstring ext = dot == std::wstring::npos ? std::wstring() : p.substr(dot);
  return CString(stem + text(suffix) + (keepExtension ? ext : std::wstring()));
}

CString PR_AddFileNameSfxChangeExt(const wchar_t* name, const wchar_t* suffix, const wchar_t* ext) {
  CString out = PR_AddFileNameSfx(name, suffix, false);
  std::wstring e = text(ext);
  if (!e.empty() && e[0] == L'.') e.erase(0, 1);
  if (!e.empty()) out += CString(L".") + CString(e);
  return out;
}

CString PR_GetFileTitleNameAddSfx(const wchar_t* name, const wchar_t* suffix) {
  return PR_GetFileTitleName(name) + CString(text(suffix));
}

int PR_FilenameReplaceInvalidChars(CString* name) {
  if (!name) return 0;
  int replaced = 0;
  for (auto& c : name->wstr()) {
    if (c < 32 || std::wcschr(L"<>:\"/\\|?*", c)) {
      c = L'-';
      ++replaced;
    }
  }
  return replaced;
}

CString PR_LayerNameRemoveExtraInfo(const wchar_t* name) {
  // Annotations are cut from the whole name first: they may hold separators ("[1/min]").
  std::wstring p = text(name);
  for (;;) {
    while (!p.empty() && p.back() == L' ') p.pop_back();
    if (p.empty()) break;
    const wchar_t close = p.back();
    const wchar_t open = close == L']' ? L'[' : close == L')' ? L'(' : 0;
    if (!open) break;
    const size_t at = p.rfind(open);
    if (at == std::wstring::npos || at == 0 || p[at - 1] != L' ' || at <= titleStart(p.substr(0, at))) break;
    p.erase(at);
  }
  const size_t start = titleStart(p);
  CString cleaned(p.substr(start));
  PR_FilenameReplaceInvalidChars(&cleaned);
  return CString(p.substr(0, start)) + cleaned;
}

CString PR_ReplaceFolderInName(const wchar_t* path, const wchar_t* folder) {
  return PR_JoinPath(folder, PR_GetFileTitle(path));
}

CString PR_JoinPath(const wchar_t* folder, const wchar_t* name) {
  std::wstring f = text(folder);
  if (f.empty()) return CString(text(name));
  if (!isSeparator(f.back())) f += L'/';
  return CString(f + text(name));
}

bool PR_FolderExists(const wchar_t* folder, bool show) {
  std::error_code ec;
  const bool exists = folder && *folder && fs::is_directory(native(folder), ec);
  if (!exists) report(show, L"PR_FolderExists", CString(L"Folder does not exist : ") + text(folder));
  return exists;
}

bool PR_UsableFolder(const wchar_t* folder, bool show) {
  if (!PR_FolderExists(folder, false)) {
    report(show, L"PR_UsableFolder", CString(L"Folder does not exist : ") + text(folder));
    return false;
  }
  const fs::path probe = native(folder) / (".twk_probe_" + std::to_string(::getpid()));
  FILE* fp = std::fopen(probe.c_str(), "wb");
  const bool ok = fp && std::fputc('x', fp) != EOF;
  if (fp) std::fclose(fp);
  std::error_code ec;
  fs::remove(probe, ec);
  if (!ok) report(show, L"PR_UsableFolder", CString(L"Folder is not writable : ") + text(folder));
  return ok;
}

bool PR_ClearFolderContent(const wchar_t* folder, bool show) {
  std::error_code ec;
  fs::directory_iterator it(native(folder), ec);
  if (ec) {
    report(show, L"PR_ClearFolderContent", CString(L"Unable to read folder : ") + text(folder));
    return false;
  }
  bool ok = true;
  for (const auto& entry : it) {
    std::error_code e2;
    if (entry.is_directory(e2)) continue;
    if (!fs::remove(entry.path(), e2)) {
      ok = false;
      report(show, L"PR_ClearFolderContent", CString(L"Unable to delete file : ") + wide(entry.path()));
    }
  }
  return ok;
}

bool PR_ClearExistingFolderOrCreateNew(const wchar_t* folder, bool show) {
  if (PR_FolderExists(folder, false)) return PR_ClearFolderContent(folder, show);
  std::error_code ec;
  if (!folder || !*folder || !fs::create_directories(native(folder), ec)) {
    report(show, L"PR_ClearExistingFolderOrCreateNew", CString(L"Unable to create a folder : ") + text(folder));
    return false;
  }
  return true;
}

bool PR_RemoveFolder(const wchar_t* folder) {
  if (!folder || !*folder) return false;
  std::error_code ec;
  fs::remove_all(native(folder), ec);
  return !ec;
}

wchar_t** PR_FindAllFilesInFolder(const wchar_t* folder, const wchar_t* extensions, bool includeSubfolders,
                                  bool namesOnly, int* count, bool show) {
  if (count) *count = 0;
  if (!PR_FolderExists(folder, false)) {
    report(show, L"PR_FindAllFilesInFolder", CString(L"Folder does not exist : ") + text(folder));
    return nullptr;
  }
  const auto wanted = splitExtensions(extensions);
  std::vector<CString> found;
  std::error_code ec;
  auto consider = [&](const fs::directory_entry& entry) {
    std::error_code e2;
    if (!entry.is_regular_file(e2)) return;
    CString title = wide(entry.path().filename());
    if (!matchesExtension(title.wstr(), wanted)) return;
    found.push_back(namesOnly ? title : wide(entry.path()));
  };
  if (includeSubfolders) {
    for (auto it = fs::recursive_directory_iterator(native(folder), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
      consider(*it);
  } else {
    for (auto it = fs::directory_iterator(native(folder), ec); !ec && it != fs::directory_iterator(); it.increment(ec))
      consider(*it);
  }
  if (found.empty()) {
    report(show, L"PR_FindAllFilesInFolder", CString(L"No files found in : ") + text(folder));
    return nullptr;
  }
  return toArray(found, count);
}

wchar_t** PR_FindAllSubfoldersInFolder(bool namesOnly, const wchar_t* folder, int* count, bool show) {
  if (count) *count = 0;
  std::error_code ec;
  std::vector<CString> found;
  for (auto it = fs::directory_iterator(native(folder), ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code e2;
    if (it->is_directory(e2)) found.push_back(namesOnly ? wide(it->path().filename()) : wide(it->path()));
  }
  if (found.empty()) {
    report(show, L"PR_FindAllSubfoldersInFolder", CString(L"No subfolders found in : ") + text(folder));
    return nullptr;
  }
  return toArray(found, count);
}

CString PR_FindOneFileInFolder(const wchar_t* folder, bool show) {
  int n = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, nullptr, false, false, &n, false);
  CString result;
  if (n == 1) result = files[0];
  pf_free_parr(&files, n);
  if (result.IsEmpty())
    report(show, L"PR_FindOneFileInFolder", CString(L"Exactly one file is expected in : ") + text(folder));
  return result;
}

int64_t PR_CountAllFilesInFolder(const wchar_t* folder) {
  std::error_code ec;
  int64_t n = 0;
  auto it = fs::directory_iterator(native(folder), ec);
  if (ec) return -1;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code e2;
    if (it->is_regular_file(e2)) ++n;
  }
  return n;
}

int64_t PR_FolderSize(const wchar_t* folder) {
  std::error_code ec;
  int64_t total = 0;
  for (auto it = fs::recursive_directory_iterator(native(folder), ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code e2;
    if (it->is_regular_file(e2)) total += int64_t(it->file_size(e2));
  }
  return total;
}

bool PR_CheckUniqueFileTitles(const wchar_t* const* paths, int64_t count, bool show) {
  std::vector<std::pair<std::wstring, int64_t>> titles;
  for (int64_t i = 0; i < count; ++i) {
    CString t = PR_GetFileTitle(paths[i]);
    t.MakeLower();
    titles.emplace_back(t.wstr(), i);
  }
  std::sort(titles.begin(), titles.end());
  CString duplicates;
  for (size_t i = 1; i < titles.size(); ++i)
    if (titles[i].first == titles[i - 1].first) duplicates += CString(L"\n") + paths[titles[i].second];
  if (duplicates.IsEmpty()) return true;
  report(show, L"PR_CheckUniqueFileTitles", CString(L"Duplicate file titles :") + duplicates);
  return false;
}

int64_t PR_FileSize(const wchar_t* path) {
  std::error_code ec;
  auto size = fs::file_size(native(path), ec);
  return ec ? -1 : int64_t(size);
}

bool PR_FileExists(const wchar_t* path) {
  std::error_code ec;
  return path && *path && fs::is_regular_file(native(path), ec);
}

bool PR_CompareFiles(const wchar_t* a, const wchar_t* b, bool* same, bool show) {
  if (same) *same = false;
  std::ifstream fa(native(a), std::ios::binary), fb(native(b), std::ios::binary);
  if (!fa || !fb || !same) {
    report(show, L"PR_CompareFiles", CString(L"Unable to open ") + (fa ? text(b) : text(a)));
    return false;
  }
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (;;) {
    fa.read(ba.data(), std::streamsize(ba.size()));
    fb.read(bb.data(), std::streamsize(bb.size()));
    const auto na = fa.gcount(), nb = fb.gcount();
    if (na != nb || std::memcmp(ba.data(), bb.data(), size_t(na)) != 0) return true;
    if (na == 0) break;
  }
  *same = true;
  return true;
}

bool PR_FileCopyUsingSystem(const wchar_t* source, const wchar_t* target) {
  std::error_code ec;
  fs::copy_file(native(source), native(target), fs::copy_options::overwrite_existing, ec);
  return !ec;
}

bool PR_FileMoveUsingSystem(const wchar_t* source, const wchar_t* target) {
  std::error_code ec;
  fs::rename(native(source), native(target), ec);
  if (!ec) return true;
  // Across file systems rename fails: copy, then remove the source.
  if (!PR_FileCopyUsingSystem(source, target)) return false;
  fs::remove(native(source), ec);
  return !ec;
}

bool PR_CopyFileArr(const wchar_t* const* files, int64_t count, const wchar_t* folder, const wchar_t* progressText) {
  twk::ProgressGuard progress(progressText, progressText && *progressText);
  bool ok = true;
  for (int64_t i = 0; i < count && ok; ++i) {
    ok = PR_FileCopyUsingSystem(files[i], PR_ReplaceFolderInName(files[i], folder));
    if (ok && !progress.Step(i + 1, count)) ok = false;
  }
  return ok;
}

bool PR_SaveTextToFile(const wchar_t* path, const wchar_t* textValue) {
  FILE* fp = std::fopen(twk::pathToNative(path).c_str(), "wb");
  if (!fp) return false;
  const std::string utf8 = twk::toUtf8(text(textValue));
  bool ok = utf8.empty() || std::fwrite(utf8.data(), 1, utf8.size(), fp) == utf8.size();
  ok = std::fclose(fp) == 0 && ok;
  return ok;
}

bool PR_FprintfTstr(FILE* fp, const wchar_t* format, ...) {
  if (!fp || !format) return false;
  va_list args;
  va_start(args, format);
  const std::string utf8 = twk::toUtf8(twk::formatWide(format, args));
  va_end(args);
  return utf8.empty() || std::fwrite(utf8.data(), 1, utf8.size(), fp) == utf8.size();
}

bool PR_IsZlibFile(const wchar_t* path) {
  FILE* fp = std::fopen(twk::pathToNative(path).c_str(), "rb");
  if (!fp) return false;
  unsigned char magic[2] = {0, 0};
  const bool ok = std::fread(magic, 1, 2, fp) == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
  std::fclose(fp);
  return ok;
}

CString VA_ProduceZlibDecompressName(const wchar_t* path, const wchar_t* workFolder) {
  CString title = PR_GetFileTitle(path);
  if (title.GetLength() > 3 && title.Right(3).CompareNoCase(L".gz") == 0) title = title.Left(title.GetLength() - 3);
  else title += L".unzipped";
  return PR_JoinPath(workFolder, title);
}
