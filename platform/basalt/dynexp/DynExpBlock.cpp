// The dynamic-experiment block of documents (layout in DynExp.h).

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "DynExp.h"
#include "TextCodec.h"
#include "TwkUi.h"
#include "serial/MemFile.h"

namespace {

constexpr char kMagic[8] = {'T', 'W', 'K', 'D', 'Y', 'N', 'E', 'X'};
constexpr uint32_t kVersion = 1;
constexpr int64_t kHeaderBytes = 20;
constexpr uint32_t kMaxNameBytes = 32768;
// The largest payload of a valid block is about 1.3 MB (four full curves); anything above this
// bound is damage, refused before it is read.
constexpr uint64_t kMaxPayloadBytes = uint64_t(1) << 26;

class Writer {
 public:
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
  }
  template <class T>
  void value(T v) {
    bytes(&v, sizeof v);
  }
  std::vector<uint8_t> out;
};

class Reader {
 public:
  Reader(const uint8_t* p, int64_t n) : p_(p), left_(n) {}
  bool bytes(void* dst, int64_t n) {
    if (!ok_ || n < 0 || n > left_) return fail("the block is truncated");
    if (n > 0) std::memcpy(dst, p_, size_t(n));
    p_ += n;
    left_ -= n;
    return true;
  }
  template <class T>
  bool value(T* v) {
    return bytes(v, int64_t(sizeof *v));
  }
  // An int32 count in [0, maximum] whose items of itemBytes each fit in what is left.
  bool count(int32_t* n, int32_t maximum, int64_t itemBytes, const wchar_t* what) {
    if (!value(n)) return false;
    if (*n < 0 || *n > maximum) return fail(CString(L"invalid number of ") + what);
    if (int64_t(*n) * itemBytes > left_) return fail("the block is truncated");
    return true;
  }
  bool fail(const CString& why) {
    if (ok_) reason = why;
    ok_ = false;
    return false;
  }
  int64_t left() const { return left_; }
  CString reason;

 private:
  const uint8_t* p_;
  int64_t left_;
  bool ok_ = true;
};

// What a block holds, read in full before anything of the host is changed.
struct BlockContent {
  int32_t currentModel = 0;
  int32_t parmReq[DYNEXP_NUM_OUTPUTS] = {};
  std::vector<DYNEXP_MODELSET> models;
  VA_CONCCONV tissueConc, ifuncConc;
  VA_TISSUEATTRIB bloodAttrib;
  std::unique_ptr<INPUTFUNC[]> ifunc{new INPUTFUNC[DYNEXP_NUM_INPUTFUNCS]()};
  CString ifuncName[DYNEXP_NUM_INPUTFUNCS];
};

// Model settings as stored: F, F doubles, optimisation, grid, iterations.
constexpr int64_t kMinModelBytes = 4 + 3 * 4;
// Input-function slot with an empty name and no points.
constexpr int64_t kMinSlotBytes = 4 + 4;

bool parsePayload(Reader& r, BlockContent& c) {
  uint8_t has4D = 0;
  int32_t n = 0;
  if (!r.value(&has4D) || !r.value(&c.currentModel)) return false;
  if (!r.count(&n, DYNEXP_NUM_OUTPUTS, 4, L"requested outputs") || !r.bytes(c.parmReq, 4 * int64_t(n))) return false;
  if (!r.count(&n, DYNEXP_MAX_MODELS, kMinModelBytes, L"models")) return false;
  c.models.resize(size_t(n));
  for (DYNEXP_MODELSET& m : c.models) {
    if (!r.count(&m.numFreeParms, DYNEXP_MAX_FREE_PARMS, 8, L"free parameters") ||
        !r.bytes(m.freeParms, 8 * int64_t(m.numFreeParms)) || !r.value(&m.optimization) || !r.value(&m.grid) ||
        !r.value(&m.iterations))
      return false;
  }
  if (!r.value(&c.tissueConc) || !r.value(&c.ifuncConc) || !r.value(&c.bloodAttrib)) return false;
  if (!r.count(&n, DYNEXP_NUM_INPUTFUNCS, kMinSlotBytes, L"input functions")) return false;
  for (int i = 0; i < n; ++i) {
    uint32_t nameBytes = 0;
    if (!r.value(&nameBytes)) return false;
    if (nameBytes > kMaxNameBytes || nameBytes % 2 != 0) return r.fail(L"invalid input function name");
    std::string utf16(nameBytes, '\0');
    if (!r.bytes(utf16.data(), nameBytes)) return false;
    c.ifuncName[i] = CString(twk::fromUtf16LE(utf16.data(), utf16.size(), false));
    INPUTFUNC& f = c.ifunc[i];
    if (!r.count(&f.count, INPUTFUNC_MAX_POINTS, 16, L"input function points") ||
        !r.bytes(f.times, 8 * int64_t(f.count)) || !r.bytes(f.values, 8 * int64_t(f.count)))
      return false;
  }
  if (r.left() != 0) return r.fail(L"unexpected bytes after the input functions");
  return true;
}

// Header and payload of a block held in memory; size gives the bytes available.
bool parseBlock(const uint8_t* bytes, int64_t size, BlockContent& c, int64_t* used, CString* why) {
  Reader header(bytes, std::min(size, kHeaderBytes));
  char magic[8];
  uint32_t version = 0;
  uint64_t length = 0;
  if (!header.bytes(magic, 8) || !header.value(&version) || !header.value(&length)) {
    *why = header.reason;
    return false;
  }
  if (std::memcmp(magic, kMagic, 8) != 0) {
    *why = L"no dynamic experiment block found";
    return false;
  }
  if (version != kVersion) {
    why->Format(L"unsupported block version %u", version);
    return false;
  }
  if (length > kMaxPayloadBytes || int64_t(length) > size - kHeaderBytes) {
    *why = L"the block is truncated";
    return false;
  }
  Reader payload(bytes + kHeaderBytes, int64_t(length));
  if (!parsePayload(payload, c)) {
    *why = payload.reason;
    return false;
  }
  if (used) *used = kHeaderBytes + int64_t(length);
  return true;
}

// Bytes from the stream's position to its end; -1 when the stream is not a regular file.
int64_t bytesLeft(FILE* fp) {
  struct stat st {};
  const long pos = std::ftell(fp);
  if (pos < 0 || ::fstat(::fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return int64_t(st.st_size) - pos;
}

void reportDamage(const wchar_t* path, const CString& why) {
  CString text = L"Damaged dynamic experiment block";
  if (path && *path) text += CString(L" in ") + path;
  twk::showNamedError(L"CDynExp::Load", text + L" : " + why);
}

}  // namespace

bool CDynExp::Write(MFILE* mf, bool has4D) const {
  if (!mf) return false;
  auto refuse = [](const wchar_t* why) {
    twk::showNamedError(L"CDynExp::Write", why);
    return false;
  };
  if (models.size() > size_t(DYNEXP_MAX_MODELS)) return refuse(L"Too many models");
  Writer w;
  try {
    w.value(uint8_t(has4D ? 1 : 0));
    w.value(currentModel);
    w.value(int32_t(DYNEXP_NUM_OUTPUTS));
    w.bytes(parmReq, sizeof parmReq);
    w.value(int32_t(models.size()));
    for (const DYNEXP_MODELSET& m : models) {
      if (m.numFreeParms < 0 || m.numFreeParms > DYNEXP_MAX_FREE_PARMS) return refuse(L"Invalid number of free parameters");
      w.value(m.numFreeParms);
      w.bytes(m.freeParms, 8 * size_t(m.numFreeParms));
      w.value(m.optimization);
      w.value(m.grid);
      w.value(m.iterations);
    }
    w.value(tissueConc);
    w.value(ifuncConc);
    w.value(bloodAttrib);
    w.value(int32_t(DYNEXP_NUM_INPUTFUNCS));
    for (int i = 0; i < DYNEXP_NUM_INPUTFUNCS; ++i) {
      const std::string name = twk::toUtf16LE(ifuncName[i].wstr());
      if (name.size() > kMaxNameBytes) return refuse(L"Input function name is too long");
      const INPUTFUNC& f = ifunc[i];
      if (f.count < 0 || f.count > INPUTFUNC_MAX_POINTS) return refuse(L"Invalid number of input function points");
      w.value(uint32_t(name.size()));
      w.bytes(name.data(), name.size());
      w.value(f.count);
      w.bytes(f.times, 8 * size_t(f.count));
      w.bytes(f.values, 8 * size_t(f.count));
    }
  } catch (const std::bad_alloc&) {
    return refuse(L"Not enough memory");
  }
  Writer header;
  header.bytes(kMagic, 8);
  header.value(kVersion);
  header.value(uint64_t(w.out.size()));
  const int64_t before = PR_MemFileSize(mf);
  if (PR_MemFileWrite(mf, header.out.data(), int64_t(header.out.size())) &&
      PR_MemFileWrite(mf, w.out.data(), int64_t(w.out.size())))
    return true;
  mf->bytes.resize(size_t(before));  // no partial block stays behind
  return false;
}

bool CDynExp::loadBlock(const uint8_t* bytes, int64_t size, bool apply, int64_t* used, const wchar_t* path) {
  CString why;
  std::unique_ptr<BlockContent> content;
  try {
    content = std::make_unique<BlockContent>();
    if (!parseBlock(bytes, size, *content, used, &why)) {
      reportDamage(path, why);
      return false;
    }
  } catch (const std::bad_alloc&) {
    reportDamage(path, L"not enough memory");
    return false;
  }
  if (!apply) return true;
  currentModel = content->currentModel;
  std::memcpy(parmReq, content->parmReq, sizeof parmReq);
  models = std::move(content->models);
  tissueConc = content->tissueConc;
  ifuncConc = content->ifuncConc;
  bloodAttrib = content->bloodAttrib;
  std::memcpy(ifunc, content->ifunc.get(), sizeof ifunc);
  for (int i = 0; i < DYNEXP_NUM_INPUTFUNCS; ++i) ifuncName[i] = content->ifuncName[i];
  // The plug-in's catalogue governs: settings it cannot take read back as the plug-in holds them.
  if (domain_) {
    pushSettingsToDomain();
    takeSettingsFromDomain();
  }
  return true;
}

bool CDynExp::Load(const uint8_t* bytes, int64_t size, bool apply, int64_t* used) {
  if (size < 0 || (!bytes && size > 0)) return false;
  return loadBlock(bytes, size, apply, used, nullptr);
}

bool CDynExp::Load(const wchar_t* path, FILE* fp, bool apply) {
  if (!fp) return false;
  uint8_t header[kHeaderBytes];
  const size_t got = std::fread(header, 1, sizeof header, fp);
  uint64_t length = 0;
  if (got == sizeof header) std::memcpy(&length, header + 12, 8);
  const int64_t left = bytesLeft(fp);
  const bool magic = got == sizeof header && std::memcmp(header, kMagic, 8) == 0;
  if (magic && (length > kMaxPayloadBytes || (left >= 0 && int64_t(length) > left))) {
    reportDamage(path, L"the block is truncated");
    return false;
  }
  std::vector<uint8_t> block;
  try {
    block.assign(header, header + got);
    // Read in pieces, so that a stream of unknown size never makes us take much more than it holds.
    const uint64_t piece = uint64_t(1) << 20;
    for (uint64_t done = 0; magic && done < length;) {
      const size_t n = size_t(std::min(piece, length - done));
      const size_t at = block.size();
      block.resize(at + n);
      const size_t read = std::fread(block.data() + at, 1, n, fp);
      block.resize(at + read);
      if (read != n) break;
      done += n;
    }
  } catch (const std::bad_alloc&) {
    reportDamage(path, L"not enough memory");
    return false;
  }
  return loadBlock(block.data(), int64_t(block.size()), apply, nullptr, path);
}
