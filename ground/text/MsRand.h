#pragma once
// The MSVC runtime's rand()/srand(): a linear congruential generator, one state per thread,
// seeded with 1, RAND_MAX 32767. Formulas whose results depend on the exact random sequence use it.

namespace twk {

constexpr int kMsRandMax = 32767;

int msRand();                    // next value in 0..32767
void msSrand(unsigned seed);     // reseed the calling thread's generator

}  // namespace twk
