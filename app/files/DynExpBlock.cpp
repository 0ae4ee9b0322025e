#include "DynExpBlock.h"

#include <cstring>
#include <memory>
#include <string>

#include "DocumentRecords.h"
#include "DynExp.h"
#include "TextCodec.h"

namespace twk::files {
namespace {

constexpr char kMagic[4] = {'D', 'X', 'B', '1'};
constexpr int32_t kMaxSlots = 64;
constexpr int32_t kMaxNameUnits = 4096;

}  // namespace

bool writeDynExpBlock(MFILE* mf, const CDynExp& dynExp, bool has4D) {
  if (!writeBytes(mf, kMagic, 4) || !writeValue(mf, int32_t(has4D ? 1 : 0)) ||
      !writeValue(mf, int32_t(DYNEXP_NUM_INPUTFUNCS)))
    return false;
  for (int s = 0; s < DYNEXP_NUM_INPUTFUNCS; ++s) {
    const std::string name = twk::toUtf16LE(dynExp.ifuncName[s].wstr());
    const INPUTFUNC& f = dynExp.ifunc[s];
    const int32_t points = f.count < 0 ? 0 : f.count > INPUTFUNC_MAX_POINTS ? INPUTFUNC_MAX_POINTS : f.count;
    if (!writeValue(mf, int32_t(name.size() / 2)) || !writeBytes(mf, name.data(), int64_t(name.size())) ||
        !writeValue(mf, points) || !writeBytes(mf, f.times, int64_t(points) * 8) ||
        !writeBytes(mf, f.values, int64_t(points) * 8))
      return false;
  }
  return true;
}

bool readDynExpBlock(FILE* fp, CDynExp* into) {
  char magic[4];
  int32_t flags = 0, slots = 0;
  if (!readBytes(fp, magic, 4) || std::memcmp(magic, kMagic, 4) != 0 || !readValue(fp, &flags) ||
      !readValue(fp, &slots) || slots < 0 || slots > kMaxSlots)
    return false;
  // Read into a scratch host first, so that a damaged block leaves the target as it was.
  auto scratch = std::make_unique<CDynExp>();
  for (int32_t s = 0; s < slots; ++s) {
    int32_t units = 0, points = 0;
    if (!readValue(fp, &units) || units < 0 || units > kMaxNameUnits) return false;
    std::string name(size_t(units) * 2, '\0');
    if (!readBytes(fp, name.data(), int64_t(name.size())) || !readValue(fp, &points) || points < 0 ||
        points > INPUTFUNC_MAX_POINTS)
      return false;
    if (s >= DYNEXP_NUM_INPUTFUNCS) {
      if (!skipBytes(fp, int64_t(points) * 16)) return false;
      continue;
    }
    INPUTFUNC& f = scratch->ifunc[s];
    if (!readBytes(fp, f.times, int64_t(points) * 8) || !readBytes(fp, f.values, int64_t(points) * 8)) return false;
    f.count = points;
    scratch->ifuncName[s] = CString(twk::fromUtf16LE(name.data(), name.size(), false));
  }
  if (into) *into = *scratch;
  return true;
}

}  // namespace twk::files
