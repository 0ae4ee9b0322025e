#pragma once
// Fixtures of the DICOM browser tests: the folders that dicom_fixtures.py writes with pydicom (made
// once per test binary in the build's test folder), dcm2niix's volumes of them, and small helpers
// to run the script and to find items of a tree.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CString.h"
#include "DicomRec.h"
#include "TestFolder.h"
#include "TwkDicom.h"
#include "dicom/DicomTree.h"

namespace twk::dicomtest {

namespace fs = std::filesystem;

inline std::string script() { return std::string(TWK_SOURCE_DIR) + "/app/files/tests/dicom_fixtures.py"; }

inline std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs a shell command; its standard output, and its exit status in *status.
inline std::string run(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int code = ::pclose(pipe);
  if (status) *status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
  return out;
}

inline std::string fixtureScript(const std::string& arguments, int* status = nullptr) {
  return run("/usr/bin/python3 " + quote(script()) + " " + arguments, status);
}

inline fs::path testRoot() { return twk::testing::testFolder(); }

// The fixture folders (made once per process).
inline const fs::path& fixtures() {
  static const fs::path root = [] {
    const fs::path r = testRoot() / "dicom_fixtures";
    fixtureScript("make " + quote(r.string()));
    fixtureScript("niix " + quote((r / "tree").string()) + " " + quote((r / "nii").string()));
    return r;
  }();
  return root;
}

inline CString wide(const fs::path& p) { return CString::fromUtf8(p.string()); }
inline std::string narrow(const CString& s) { return s.toUtf8(); }

inline std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, separator)) fields.push_back(field);
  if (!line.empty() && line.back() == separator) fields.emplace_back();
  return fields;
}

inline std::vector<std::vector<std::string>> readTable(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) rows.push_back(split(line, '\t'));
  return rows;
}

inline void walk(const VA_DICOMTREE& tree, const std::function<void(VA_DICOMTREEITEM*)>& visit) {
  std::function<void(VA_DICOMTREEITEM*)> each = [&](VA_DICOMTREEITEM* i) {
    visit(i);
    for (auto& c : i->children) each(c.get());
  };
  for (auto& p : tree.items) each(p.get());
}

inline VA_DICOMTREEITEM* findSeries(const VA_DICOMTREE& tree, int number) {
  VA_DICOMTREEITEM* found = nullptr;
  walk(tree, [&](VA_DICOMTREEITEM* i) {
    if (!found && i->kind == DCMITEM_SERIES && i->rec && i->rec->seriesNumber == number) found = i;
  });
  return found;
}

inline VA_DICOMTREEITEM* findImage(const VA_DICOMTREE& tree, const CString& path) {
  VA_DICOMTREEITEM* found = nullptr;
  walk(tree, [&](VA_DICOMTREEITEM* i) {
    if (!found && i->IsImage() && i->rec && i->rec->filePath == path) found = i;
  });
  return found;
}

inline int countItems(const VA_DICOMTREE& tree) {
  int n = 0;
  walk(tree, [&](VA_DICOMTREEITEM*) { ++n; });
  return n;
}

inline std::vector<CString> fields(const CString& rowText) {
  std::vector<CString> out;
  int start = 0;
  for (int tab; (tab = rowText.Find(L'\t', start)) >= 0; start = tab + 1) out.push_back(rowText.Mid(start, tab - start));
  return out;
}

// The files of a folder, sorted.
inline std::vector<fs::path> filesIn(const fs::path& folder) {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

inline void copyFolder(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

}  // namespace twk::dicomtest
