#pragma once
// The dynamic order of a 4D volume, shared by the host's fits and the regularised maps.

#include <vector>

#include "TwkTypes.h"

class CVol;

namespace twk::dynexp {

// timeOf[k] = stored time point of the k-th dynamic point, with the axis kind, its values (dynamic
// order) and the acquisition times (dynamic order, from the first acquisition).
struct DynamicOrder {
  DYNDIM kind = DYN_UNKNOWN;
  std::vector<int> timeOf;
  std::vector<double> axis;
  std::vector<double> times;
};

// False for a volume without dynamic coordinates or time points.
bool dynamicOrder(const CVol* vol, DynamicOrder* order);

}  // namespace twk::dynexp
