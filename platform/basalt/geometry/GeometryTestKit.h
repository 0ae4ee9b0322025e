#pragma once
// Fixtures shared by the geometry family's tests.

#include "volume/Frame.h"

namespace twk::geotest {

// A frame deleted at the end of the scope.
struct FrameGuard {
  FRAME* f = nullptr;
  explicit FrameGuard(FRAME* frame = nullptr) : f(frame) {}
  ~FrameGuard() { PR_FrameDelete(&f); }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;
};

}  // namespace twk::geotest
