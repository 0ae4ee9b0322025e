#pragma once
// The program's kinetic-model host (CDynExp, DynExp.h): the program installs its one object at
// start-up and removes it at exit; the commands that use the host's settings or input functions
// (the parametric maps, the blood-vessel map) find it here. Null while none is installed.

class CDynExp;

namespace twk::detail {
inline CDynExp*& dynExpHostSlot() {
  static CDynExp* host = nullptr;
  return host;
}
}  // namespace twk::detail

inline CDynExp* TW_DynExpHost() { return twk::detail::dynExpHostSlot(); }
inline void TW_SetDynExpHost(CDynExp* host) { twk::detail::dynExpHostSlot() = host; }
