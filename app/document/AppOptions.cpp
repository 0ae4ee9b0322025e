#include "AppOptions.h"

namespace {
USEROPT& programOptions() {
  static USEROPT options;
  return options;
}
}  // namespace

const USEROPT& TW_Options() { return programOptions(); }
USEROPT& TW_EditOptions() { return programOptions(); }

void TW_SetUserOptionDefaults(USEROPT* o) {
  if (!o) return;
  USEROPT d;
  d.twkLoadFilterInx = o->twkLoadFilterInx;
  d.twkSaveFilterInx = o->twkSaveFilterInx;
  *o = d;
}
