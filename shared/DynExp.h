#pragma once
// The kinetic-model host of the imaging core (CDynExp) and its input-function record.
// Only the input-function slots are declared here; the host that loads the model plug-in and runs
// the parametric-map calculation adds its members and methods to this class. Copies are member-wise:
// the texts as strings, the curves point for point.

#include <cstdint>

#include "CString.h"

constexpr int INPUTFUNC_MAX_POINTS = 20000;
constexpr int DYNEXP_NUM_INPUTFUNCS = 4;

#ifndef TWK_INPUTFUNC_DEFINED
#define TWK_INPUTFUNC_DEFINED
// An input-function curve: values, then times (seconds, the first 0), then the number of points.
// The layout is shared with the model plug-in, which reads arrays of these records.
struct INPUTFUNC {
  double values[20000];
  double times[20000];
  int32_t count;
};
#endif
static_assert(sizeof(INPUTFUNC{}.values) / sizeof(double) == INPUTFUNC_MAX_POINTS, "input-function capacity");

class CDynExp {
 public:
  // Input-function slots; an empty name marks an empty slot.
  INPUTFUNC ifunc[DYNEXP_NUM_INPUTFUNCS] = {};
  CString ifuncName[DYNEXP_NUM_INPUTFUNCS];
};
