// Rewrites of a volume's dynamic coordinates that the view's commands make in place.
#include "Vol.h"

#include "volume/VolumeCurves.h"

bool CVol::RemoveAllDynamicDimensionsExceptTime() {
  if (!frame || !dyn) return false;
  const DYNCRD first = dyn[0];
  for (int t = 1; t < T(); ++t) {
    DYNCRD& d = dyn[t];
    d.echoTime = first.echoTime;
    d.inversionTime = first.inversionTime;
    d.bValue = first.bValue;
    d.spinLockTime = first.spinLockTime;
    d.flipAngle = first.flipAngle;
    d.repetitionTime = first.repetitionTime;
  }
  return true;
}

bool CVol::DynDimReplaceEchoTimeByTSL() {
  if (!frame || !dyn || VA_GetDynType(dyn, T()) != DYN_ECHO_TIME) return false;
  const double firstEcho = dyn[0].echoTime;
  for (int t = 0; t < T(); ++t) {
    dyn[t].spinLockTime = dyn[t].echoTime;
    dyn[t].echoTime = firstEcho;
  }
  return true;
}
