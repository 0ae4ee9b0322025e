#pragma once
// Small helpers of the network library's tests: scratch folders, wide paths, whole files.
#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CString.h"
#include "TestFolder.h"

namespace annkit {

namespace fs = std::filesystem;

// An empty folder in the test process's folder.
inline fs::path scratch(const std::string& name) {
  return twk::testing::testFolder("twkann_" + name);
}

inline CString wide(const fs::path& p) { return CString(p.string().c_str()); }

inline std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream s(text);
  for (std::string line; std::getline(s, line);) out.push_back(line);
  return out;
}

inline bool startsWith(const CString& text, const wchar_t* head) { return text.Left(int(std::wcslen(head))) == head; }

}  // namespace annkit
