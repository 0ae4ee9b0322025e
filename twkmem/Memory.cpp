// Counted allocation: byte counters over the runtime heap and the memcheck leak table.

#include <malloc.h>
#include <sys/mman.h>
#include <sys/sysinfo.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace {

std::atomic<int64_t> inUseBytes{0};
std::atomic<int64_t> peakBytes{0};
std::atomic<int64_t> largestRequest{0};
std::atomic<bool> showAllocErrors{false};

// One live block of the leak table. Freed blocks are cleared in place (address null, size 0);
// new entries are appended after the last used one.
struct MemcheckEntry {
  void* address;
  int64_t size;
};

struct MemcheckTable {
  int64_t count = 0;
  int64_t capacity = 0;
  MemcheckEntry* entries = nullptr;
};

// The table and its entries use the plain heap so that they stay out of the counters.
std::atomic<MemcheckTable*> memcheckTable{nullptr};
std::mutex memcheckLock;

constexpr int64_t kMemcheckGrowth = 256;

void destroyTable(MemcheckTable* table) {
  if (!table) return;
  std::free(table->entries);
  std::free(table);
}

void memcheckAdd(void* block, int64_t size) {
  std::lock_guard<std::mutex> hold(memcheckLock);
  MemcheckTable* table = memcheckTable.load();
  if (!table) return;
  if (table->count == table->capacity) {
    const int64_t capacity = table->capacity + kMemcheckGrowth;
    auto* grown = static_cast<MemcheckEntry*>(std::realloc(table->entries, size_t(capacity) * sizeof(MemcheckEntry)));
    if (!grown) return;  // the block stays valid, only unrecorded
    std::memset(grown + table->capacity, 0, size_t(kMemcheckGrowth) * sizeof(MemcheckEntry));
    table->entries = grown;
    table->capacity = capacity;
  }
  table->entries[table->count++] = {block, size};
}

void memcheckRemove(void* block) {
  std::lock_guard<std::mutex> hold(memcheckLock);
  MemcheckTable* table = memcheckTable.load();
  if (!table) return;
  for (int64_t k = 0; k < table->count; ++k) {
    if (table->entries[k].address == block) {
      table->entries[k] = {nullptr, 0};
      return;
    }
  }
}

void countAllocation(void* block, int64_t requested) {
  const int64_t bytes = int64_t(malloc_usable_size(block));
  const int64_t total = inUseBytes.fetch_add(bytes) + bytes;
  // Comparison then exchange: two threads may race and the smaller peak may win; diagnostic only.
  if (total > peakBytes.load()) peakBytes.exchange(total);
  if (requested > largestRequest.load()) largestRequest.exchange(requested);
}

void reportFailure(const wchar_t* verb, int64_t size) {
  if (!showAllocErrors.load()) return;
  twk::messageBox(FmtStr(L"Failed to %s %I64d bytes\nTotal allocated %I64d bytes", verb, size, inUseBytes.load()),
                  MB_OK | MB_ICONERROR);
}

void releaseBlock(void** slot) {
  void* block = *slot;
  if (!block) return;
  if (memcheckTable.load()) memcheckRemove(block);
  inUseBytes.fetch_sub(int64_t(malloc_usable_size(block)));
  std::free(block);
  *slot = nullptr;
}

// Reads "MemAvailable:   123456 kB" from /proc/meminfo; false when the kernel does not give it.
bool readAvailableMemory(uint64_t& bytes) {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return false;
  char line[256];
  bool found = false;
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long kb = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
      bytes = uint64_t(kb) * 1024u;
      found = true;
      break;
    }
  }
  std::fclose(f);
  return found;
}

}  // namespace

void* pf_malloc(int64_t size) {
  void* block = size >= 0 ? std::malloc(size_t(size)) : nullptr;
  if (!block) {
    reportFailure(L"Allocate", size);
    return nullptr;
  }
  countAllocation(block, size);
  if (memcheckTable.load()) memcheckAdd(block, size);
  return block;
}

void* pf_calloc(int64_t size) {
  void* block = size >= 0 ? std::calloc(size_t(size), 1) : nullptr;
  if (!block) {
    reportFailure(L"Calloc", size);
    return nullptr;
  }
  countAllocation(block, size);
  return block;
}

static bool reallocate(void* pptr, int64_t size, bool zeroed) {
  void** slot = static_cast<void**>(pptr);
  void* block = zeroed ? pf_calloc(size) : pf_malloc(size);
  if (!block) return false;
  if (*slot) {
    const int64_t oldSize = int64_t(malloc_usable_size(*slot));
    std::memcpy(block, *slot, size_t(oldSize < size ? oldSize : size));
    pf_free(slot);
  }
  *slot = block;
  return true;
}

bool pf_realloc(void* pptr, int64_t size) { return reallocate(pptr, size, false); }

bool pf_recalloc(void* pptr, int64_t size) { return reallocate(pptr, size, true); }

void pf_free(void* pptr) {
  if (!pptr) return;
  releaseBlock(static_cast<void**>(pptr));
}

void pf_free_parr(void* pparr, int64_t n) {
  if (!pparr) return;
  void*** slot = static_cast<void***>(pparr);
  void** array = *slot;
  if (!array) return;
  for (int64_t k = 0; k < n; ++k) releaseBlock(&array[k]);
  pf_free(slot);
}

void pf_aligned_free(void* pptr) {
  if (!pptr) return;
  void** slot = static_cast<void**>(pptr);
  if (!*slot) return;
  inUseBytes.fetch_sub(int64_t(malloc_usable_size(*slot)));
  std::free(*slot);  // aligned_alloc and posix_memalign blocks are released with free on Linux
  *slot = nullptr;
}

uint64_t pf_msize(void* p) { return p ? uint64_t(malloc_usable_size(p)) : 0; }

void pf_prefault(void* buffer, int64_t bytes, int64_t minBytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t(1) << 21, kPage = 4096;
  if (!buffer || bytes < minBytes || bytes <= 0) return;
  const uintptr_t begin = uintptr_t(buffer), end = begin + uintptr_t(bytes);
  const uintptr_t hugeBegin = (begin + kHuge - 1) & ~(kHuge - 1), hugeEnd = end & ~(kHuge - 1);
  if (hugeEnd > hugeBegin) ::madvise(reinterpret_cast<void*>(hugeBegin), hugeEnd - hugeBegin, MADV_HUGEPAGE);
#ifndef MADV_POPULATE_WRITE
  constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older kernels refuse it harmlessly
#endif
  const uintptr_t pageBegin = (begin + kPage - 1) & ~(kPage - 1), pageEnd = end & ~(kPage - 1);
  if (pageEnd > pageBegin) ::madvise(reinterpret_cast<void*>(pageBegin), pageEnd - pageBegin, MADV_POPULATE_WRITE);
#else
  (void)buffer, (void)bytes, (void)minBytes;
#endif
}

void pf_advise_hugepages(void* buffer, int64_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t(1) << 21;
  if (!buffer || bytes <= 0) return;
  const uintptr_t begin = uintptr_t(buffer), end = begin + uintptr_t(bytes);
  const uintptr_t hugeBegin = (begin + kHuge - 1) & ~(kHuge - 1), hugeEnd = end & ~(kHuge - 1);
  if (hugeEnd > hugeBegin) ::madvise(reinterpret_cast<void*>(hugeBegin), hugeEnd - hugeBegin, MADV_HUGEPAGE);
#else
  (void)buffer, (void)bytes;
#endif
}

void PR_InitTotalAllocSize() {
  inUseBytes.exchange(0);
  showAllocErrors.exchange(true);
}

void PR_SetAllocErrorDisplay(bool show) { showAllocErrors.exchange(show); }

int64_t PR_GetTotalAllocSize() { return inUseBytes.load(); }

void PR_GetAllocMemInfo(uint64_t* peak, uint64_t* largest, bool show) {
  if (peak) *peak = uint64_t(peakBytes.load());
  if (largest) *largest = uint64_t(largestRequest.load());
  if (show)
    twk::messageBox(FmtStr(L"Max used Mem: %I64d\nMax used block: %I64d\n", peakBytes.load(), largestRequest.load()),
                    MB_OK | MB_ICONINFORMATION);
}

void PR_ResetAllocMemInfo() {
  peakBytes.exchange(0);
  largestRequest.exchange(0);
  inUseBytes.exchange(0);
}

void PR_DisplayMemoryResidual(int64_t baseline) {
  twk::messageBox(FmtStr(L"\nMemory Residual = %I64d bytes\n", inUseBytes.load() - baseline), MB_OK | MB_ICONINFORMATION);
}

bool PR_GetTotalSystemMemory(uint64_t* total, uint64_t* available) {
  struct sysinfo info {};
  const bool haveInfo = sysinfo(&info) == 0;
  if (total) *total = haveInfo ? uint64_t(info.totalram) * info.mem_unit : 0;
  if (available) {
    uint64_t bytes = 0;
    if (!readAvailableMemory(bytes) && haveInfo) bytes = (uint64_t(info.freeram) + info.bufferram) * info.mem_unit;
    *available = bytes;
  }
  return true;
}

// Called only when no other thread allocates, so the table is replaced without the lock.
bool PR_StartMemcheck(bool) {
  destroyTable(memcheckTable.exchange(nullptr));
  auto* table = static_cast<MemcheckTable*>(std::calloc(1, sizeof(MemcheckTable)));
  if (!table) return false;
  memcheckTable.store(table);
  return true;
}

bool PR_EndMemcheck() {
  MemcheckTable* table = memcheckTable.load();
  if (!table) return true;
  CString blocks;
  int64_t number = 0, total = 0;
  for (int64_t k = 0; k < table->count; ++k) {
    const MemcheckEntry& entry = table->entries[k];
    if (!entry.address) continue;
    blocks.AppendFormat(L"Block = %I64d\n", entry.size);
    blocks += L"\n";
    ++number;
    total += entry.size;
  }
  memcheckTable.store(nullptr);
  destroyTable(table);

  CString report = FmtStr(L"Number of blocks = %I64d\nTotal Leak Size = %I64d bytes\n\n.................................\n",
                          number, total);
  report += blocks;
  // The system temp folder stands in for the desktop's scratch folder of the leak report.
  std::error_code error;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (!error) PR_NotepadExeOpenString(CString::fromUtf8(temp.string()), report);
  PR_CopyStrToClipboard(report.GetString());
  return true;
}
