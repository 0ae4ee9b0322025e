// A kinetic-model plug-in that lacks every export but its domain name.
#include "KinmodelsApi.h"

const char* DIDU_GetDomainName() { return "Stub domain"; }
