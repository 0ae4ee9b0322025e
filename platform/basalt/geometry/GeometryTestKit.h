#pragma once
// Fixtures shared by the tests of the geometry and registration families: frames freed at the end
// of a scope, a smooth test volume, raw double files and scripts run by Debian's own Python (numpy
// and scipy.ndimage as ndi imported) in the test folder testDir().

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace twk::geotest {

// A frame deleted at the end of the scope.
struct FrameGuard {
  FRAME* f = nullptr;
  explicit FrameGuard(FRAME* frame = nullptr) : f(frame) {}
  ~FrameGuard() { PR_FrameDelete(&f); }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;
};

// The folder the scripts and raw files of a test binary live in (set by its suite).
inline std::string& testDir() {
  static std::string dir;
  return dir;
}

// A suite whose scripts work in testDir() = the test process's folder / Folder, with a scripted UI
// installed for every test.
template <const char* Folder>
class ScriptedSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testDir() = twk::testing::testFolder(Folder).string();
  }
  void SetUp() override { installed_ = std::make_unique<twk::ScopedUi>(ui_); }
  twk::ScriptedUi ui_;
  std::unique_ptr<twk::ScopedUi> installed_;
};

// Runs a script with Debian's Python in the test folder; its standard output is returned.
inline std::string runPython(const std::string& script) {
  const std::string file = testDir() + "/script.py";
  std::ofstream(file) << "import numpy as np, os\nfrom scipy import ndimage as ndi\nos.chdir(\"" << testDir() << "\")\n"
                      << script;
  FILE* p = ::popen((std::string(TWK_DEBIAN_PYTHON) + " " + file + " 2>&1").c_str(), "r");
  std::string out;
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  EXPECT_EQ(::pclose(p), 0) << out;
  return out;
}

// Voxels of time point 0 as doubles, x fastest.
inline std::vector<double> values(const FRAME* f) {
  std::vector<double> v;
  for (int z = 0; z < f->dim.d; ++z)
    for (int y = 0; y < f->dim.h; ++y)
      for (int x = 0; x < f->dim.w; ++x) v.push_back(twk::voxelValue(f, x, y, z, 0));
  return v;
}

inline void writeRaw(const std::string& name, const std::vector<double>& v) {
  std::ofstream(testDir() + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(v.data()),
                                                            std::streamsize(v.size() * sizeof(double)));
}

inline std::vector<double> readRaw(const std::string& name, size_t n) {
  std::vector<double> v(n);
  std::ifstream(testDir() + "/" + name, std::ios::binary).read(reinterpret_cast<char*>(v.data()),
                                                           std::streamsize(n * sizeof(double)));
  return v;
}

// A smooth real test volume with some structure on every axis.
inline FRAME* smoothVolume(const DIM3D& d) {
  FRAME* f = PR_FrameCreate(FRM_REAL, 64, d, false);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> noise(0, 5);
  for (int t = 0; t < d.t; ++t)
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x)
          twk::setVoxelValue(f, x, y, z, t,
                             100 + 40 * std::sin(0.5 * x) + 30 * std::cos(0.4 * y + 0.2 * z) + 10 * z + noise(rng) + t);
  return f;
}

}  // namespace twk::geotest
