#include "MsRand.h"

namespace twk {

namespace {
thread_local unsigned int randState = 1;
}

int msRand() {
  randState = randState * 214013u + 2531011u;
  return int((randState >> 16) & 0x7FFF);
}

void msSrand(unsigned seed) { randState = seed; }

}  // namespace twk
