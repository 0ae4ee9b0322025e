#pragma once
// What the machine's processor offers, as the "CPU Info" command shows it: model, sockets, cores,
// logical processors, caches, SIMD features, memory and the threads oneTBB uses. Linux reports it in
// /proc/cpuinfo, the cache folders under /sys/devices/system/cpu/cpu0/cache and sysconf; whatever a
// machine does not report reads "unknown".

#include "CString.h"

// Fills info with one "name : value" line per fact; false (info still filled, facts "unknown") when
// /proc/cpuinfo cannot be read.
bool PR_GetCpuInfo(CString* info);

// The same from a given cpuinfo file and cache folder (the folder holding index0, index1, ...; empty
// for none); logical processors, memory and threads always come from the running machine.
bool PR_CpuInfoFromFiles(const wchar_t* cpuinfoPath, const wchar_t* cacheFolder, CString* info);
