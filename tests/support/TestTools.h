#pragma once
// Outside tools of the tests: Debian packages, data files, programs on the PATH. A test that needs one
// states it with TWK_REQUIRE_TOOL(available, "name"). When the tool is missing the test is skipped and
// names it ("missing test tool: name", which scripts/test.sh lists at the end); under continuous
// integration (CI set, and not to 0 or false) it fails instead, so that a missing install step can
// never turn CI green while testing less.

#include <gtest/gtest.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace twk::testing {

inline bool underContinuousIntegration() {
  const char* ci = std::getenv("CI");
  return ci && *ci && std::strcmp(ci, "0") != 0 && ::strcasecmp(ci, "false") != 0;
}

}  // namespace twk::testing

#define TWK_REQUIRE_TOOL(available, tool)                                                              \
  do {                                                                                                 \
    if (!(available)) {                                                                                \
      if (::twk::testing::underContinuousIntegration()) FAIL() << "missing test tool: " << (tool)      \
                                                               << " (CI requires every test tool)";   \
      GTEST_SKIP() << "missing test tool: " << (tool);                                                 \
    }                                                                                                  \
  } while (0)
