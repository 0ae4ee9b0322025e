#pragma once
// A monotonic wall clock for elapsed and remaining times. Its values behave as the MSVC clock()
// (milliseconds of wall time since the process started, TWK_CLOCKS_PER_SEC per second), which
// progress estimates were written for; they never go backwards.

#include <cstdint>

#define TWK_CLOCKS_PER_SEC 1000L

namespace twk {

long clockMs();                  // milliseconds since the process started
double secondsSinceStart();      // the same in seconds, with sub-millisecond resolution
int64_t monotonicNanoseconds();  // raw monotonic clock

}  // namespace twk
