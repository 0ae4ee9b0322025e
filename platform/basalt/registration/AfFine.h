#pragma once
// The fine optimisation of AutoFocus registration (ITK's v4 registration method; ITK stays in
// AfFine.cpp). Starts from the coarse search's map and optimises the transform type over a
// pyramid of shrink factors from the coarsest down to 1.

#include <cstdint>
#include <vector>

#include "AfCore.h"
#include "CString.h"

namespace twk::af {

struct AfFineInput {
  const AfImage* source = nullptr;
  const AfImage* target = nullptr;
  const std::vector<uint8_t>* mask = nullptr;  // target grid, one byte per voxel; null or empty: none
  const AfImage* sourceGrad = nullptr;         // three images (gradient measures)
  const AfImage* targetGrad = nullptr;
  double sourceNoise = 0, targetNoise = 0;
  int measure = 0;
  int bins = 0;
  int transformType = 1;  // 0 translation, 1 rigid, 2 affine
  int iterations = 100;   // per level
  int shrink = 1;         // coarsest shrink factor
  bool singleSlice = false;
  double centre[3] = {0, 0, 0};  // target centre, millimetres
};

// Optimises *map (target mm -> source mm) in place. False with the reason in *error (an ITK
// failure) or with an empty *error when stopped by Esc.
bool afFineTune(const AfFineInput& in, AfAffine* map, CString* error, const std::function<bool(int)>& progress);

}  // namespace twk::af
