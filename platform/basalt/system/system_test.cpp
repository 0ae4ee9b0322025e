// Processor information against what Python and the files themselves report.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ExternalTools.h"
#include "system/CpuInfo.h"
#include "TestFolder.h"

namespace {

std::string lineOf(const std::string& text, const std::string& name) {
  const size_t at = text.find(name + " : ");
  if (at == std::string::npos) return std::string();
  const size_t end = text.find('\n', at);
  return text.substr(at + name.size() + 3, end == std::string::npos ? std::string::npos : end - at - name.size() - 3);
}

TEST(CpuInfo, LogicalProcessorsAndModelAsTheSystemReportsThem) {
  CString info;
  ASSERT_TRUE(PR_GetCpuInfo(&info));
  const std::string text = info.toUtf8();
  std::string count, model;
  ASSERT_TRUE(twk::test::runPython("import os; print(os.cpu_count(), end='')", &count));
  EXPECT_EQ(lineOf(text, "Logical processors"), count);
  ASSERT_EQ(twk::test::runCommand("grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//' | tr -d '\\n'",
                                  &model),
            0);
  EXPECT_EQ(lineOf(text, "Model"), model.empty() ? "unknown" : model);
  for (const char* name : {"Sockets", "Cores", "Caches", "SIMD", "Memory", "TBB threads"})
    EXPECT_FALSE(lineOf(text, name).empty()) << name;
}

TEST(CpuInfo, WhatAMachineDoesNotReportIsUnknown) {
  // An ARM machine's cpuinfo: no model name, no sockets or cores, its SIMD as "asimd".
  const std::string path = (twk::testing::testFolder() / "arm_cpuinfo").string();
  std::ofstream(path) << "processor\t: 0\nBogoMIPS\t: 50.00\nFeatures\t: fp asimd evtstrm aes crc32 cpuid\n"
                         "CPU implementer\t: 0x41\nCPU part\t: 0xd0c\n\nprocessor\t: 1\nFeatures\t: fp asimd\n";
  CString info;
  EXPECT_TRUE(PR_CpuInfoFromFiles(CString::fromUtf8(path), L"", &info));
  const std::string text = info.toUtf8();
  EXPECT_EQ(lineOf(text, "Model"), "unknown");
  EXPECT_EQ(lineOf(text, "Sockets"), "unknown");
  EXPECT_EQ(lineOf(text, "Cores"), "unknown");
  EXPECT_EQ(lineOf(text, "Caches"), "unknown");
  EXPECT_EQ(lineOf(text, "SIMD"), "NEON");
  std::remove(path.c_str());
  // Unreadable: everything the file would tell is unknown, and the result says so.
  EXPECT_FALSE(PR_CpuInfoFromFiles(L"/nonexistent/cpuinfo", L"", &info));
  EXPECT_EQ(lineOf(info.toUtf8(), "Model"), "unknown");
}

}  // namespace
