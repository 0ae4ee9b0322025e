#include "system/CpuInfo.h"

#include <tbb/info.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TextCodec.h"

namespace {

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  const size_t b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// One record per processor of /proc/cpuinfo: its "key : value" lines.
std::vector<std::map<std::string, std::string>> readProcessors(std::istream& in) {
  std::vector<std::map<std::string, std::string>> processors(1);
  std::string line;
  while (std::getline(in, line)) {
    if (trim(line).empty()) {
      if (!processors.back().empty()) processors.emplace_back();
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    processors.back()[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
  }
  if (processors.back().empty()) processors.pop_back();
  return processors;
}

std::string firstOf(const std::vector<std::map<std::string, std::string>>& processors,
                    std::initializer_list<const char*> keys) {
  for (const auto& p : processors)
    for (const char* key : keys) {
      const auto it = p.find(key);
      if (it != p.end() && !it->second.empty()) return it->second;
    }
  return std::string();
}

std::string readLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return trim(line);
}

// "L1d 48K, L1i 32K, L2 1280K, L3 49152K" from the cache folders of one processor.
std::string cacheText(const std::string& folder) {
  if (folder.empty()) return std::string();
  std::string out;
  for (int i = 0; i < 16; ++i) {
    const std::string index = folder + "/index" + std::to_string(i);
    const std::string level = readLine(index + "/level"), size = readLine(index + "/size");
    if (level.empty() || size.empty()) break;
    const std::string type = readLine(index + "/type");
    const std::string suffix = type == "Data" ? "d" : type == "Instruction" ? "i" : "";
    out += (out.empty() ? "" : ", ") + std::string("L") + level + suffix + " " + size;
  }
  return out;
}

std::string simdText(const std::string& flags) {
  std::set<std::string> have;
  std::istringstream words(flags);
  for (std::string w; words >> w;) have.insert(w);
  static const std::pair<const char*, const char*> known[] = {
      {"sse2", "SSE2"}, {"ssse3", "SSSE3"},     {"sse4_1", "SSE4.1"}, {"sse4_2", "SSE4.2"},
      {"avx", "AVX"},   {"avx2", "AVX2"},       {"fma", "FMA"},       {"avx512f", "AVX-512F"},
      {"asimd", "NEON"}, {"neon", "NEON"},      {"sve", "SVE"}};
  std::string out;
  for (const auto& [flag, name] : known)
    if (have.count(flag) && out.find(name) == std::string::npos) out += (out.empty() ? "" : " ") + std::string(name);
  return out;
}

std::string orUnknown(const std::string& s) { return s.empty() ? "unknown" : s; }

}  // namespace

bool PR_CpuInfoFromFiles(const wchar_t* cpuinfoPath, const wchar_t* cacheFolder, CString* info) {
  std::ifstream in(twk::pathToNative(cpuinfoPath ? cpuinfoPath : L""));
  const bool readable = bool(in);
  const auto processors = readable ? readProcessors(in) : std::vector<std::map<std::string, std::string>>();

  std::set<std::string> sockets;
  for (const auto& p : processors)
    if (p.count("physical id")) sockets.insert(p.at("physical id"));
  std::string cores;
  const std::string perSocket = firstOf(processors, {"cpu cores"});
  if (!perSocket.empty() && !sockets.empty())
    cores = std::to_string(std::stol(perSocket) * long(sockets.size()));

  const long logical = ::sysconf(_SC_NPROCESSORS_ONLN);
  const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGE_SIZE);
  const std::string memory = pages > 0 && pageSize > 0 ? std::to_string((long long)pages * pageSize / (1024 * 1024)) + " MB" : "";

  std::ostringstream text;
  text << "Model : " << orUnknown(firstOf(processors, {"model name", "Model Name", "cpu model"})) << "\n"
       << "Sockets : " << (sockets.empty() ? "unknown" : std::to_string(sockets.size())) << "\n"
       << "Cores : " << orUnknown(cores) << "\n"
       << "Logical processors : " << (logical > 0 ? std::to_string(logical) : "unknown") << "\n"
       << "Caches : " << orUnknown(cacheText(twk::pathToNative(cacheFolder ? cacheFolder : L""))) << "\n"
       << "SIMD : " << orUnknown(simdText(firstOf(processors, {"flags", "Features"}))) << "\n"
       << "Memory : " << orUnknown(memory) << "\n"
       << "TBB threads : " << tbb::info::default_concurrency();
  if (info) *info = CString::fromUtf8(text.str());
  return readable;
}

bool PR_GetCpuInfo(CString* info) {
  return PR_CpuInfoFromFiles(L"/proc/cpuinfo", L"/sys/devices/system/cpu/cpu0/cache", info);
}
