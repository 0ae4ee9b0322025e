#include "BrushParms.h"

BRUSHPARMS g_BrushParms;
