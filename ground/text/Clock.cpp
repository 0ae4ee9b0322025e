#include "Clock.h"

#include <chrono>

namespace twk {

namespace {
// Taken when the library is loaded, which is at process start for everything linked to it.
const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();
}  // namespace

long clockMs() {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - processStart).count());
}

double secondsSinceStart() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - processStart).count();
}

int64_t monotonicNanoseconds() {
  return int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

}  // namespace twk
