#include "AppOptions.h"

USEROPT g_UserOpt;

void TW_SetUserOptionDefaults(USEROPT* o) {
  if (!o) return;
  USEROPT d;
  d.twkLoadFilterInx = o->twkLoadFilterInx;
  d.twkSaveFilterInx = o->twkSaveFilterInx;
  *o = d;
}
