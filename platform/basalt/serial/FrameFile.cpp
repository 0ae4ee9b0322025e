#include "serial/FrameFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "TwkMem.h"
#include "volume/Frame.h"

namespace {

constexpr char kMagic[8] = {'T', 'W', 'K', 'F', 'R', 'M', '0', '1'};
constexpr int kHeaderBytes = 48;
// Frames larger than this (64 GiB) are refused as damage rather than attempted.
constexpr int64_t kMaxVoxelBytes = int64_t(1) << 36;

bool validKind(int32_t type, int32_t bpv) {
  return (type == FRM_ROI && bpv == 1) || (type == FRM_INT && (bpv == 8 || bpv == 16 || bpv == 32)) ||
         (type == FRM_REAL && bpv == 64);
}

// N = a * b * c * d without overflow, or -1.
int64_t product(int64_t a, int64_t b, int64_t c, int64_t d) {
  int64_t r = 1;
  for (int64_t f : {a, b, c, d}) {
    if (f < 1 || r > kMaxVoxelBytes / f) return -1;
    r *= f;
  }
  return r;
}

int64_t bytesLeft(FILE* fp) {
  struct stat st {};
  const long pos = std::ftell(fp);
  if (pos < 0 || ::fstat(::fileno(fp), &st) != 0) return -1;
  return int64_t(st.st_size) - pos;
}

}  // namespace

bool PR_FrameWrite(MFILE* mf, const FRAME* frame) {
  if (!mf || !frame || !frame->data || !validKind(frame->type, frame->bpv)) return false;
  const DIM3D& d = frame->dim;
  if (frame->lineBytes != PR_VolLineSize(d.w, frame->bpv)) return false;
  const int64_t bytes = product(frame->lineBytes, d.h, d.d, d.t);
  if (bytes < 0) return false;
  uint8_t h[kHeaderBytes];
  std::memcpy(h, kMagic, 8);
  const int32_t type = frame->type, bpv = frame->bpv;
  std::memcpy(h + 8, &type, 4);
  std::memcpy(h + 12, &d, 16);
  std::memcpy(h + 28, &bpv, 4);
  std::memcpy(h + 32, &frame->lineBytes, 8);
  std::memcpy(h + 40, &bytes, 8);
  const int64_t before = PR_MemFileSize(mf);
  if (PR_MemFileWrite(mf, h, kHeaderBytes) && PR_MemFileWrite(mf, frame->data, bytes)) return true;
  mf->bytes.resize(size_t(before));  // no partial record stays behind
  return false;
}

FRAME* PR_FrameReadFile(FILE* fp, bool show, int progressEnd) {
  if (!fp) return nullptr;
  uint8_t h[kHeaderBytes];
  if (std::fread(h, 1, kHeaderBytes, fp) != size_t(kHeaderBytes) || std::memcmp(h, kMagic, 8) != 0) return nullptr;
  int32_t type, bpv;
  DIM3D d;
  int64_t lineBytes, bytes;
  std::memcpy(&type, h + 8, 4);
  std::memcpy(&d, h + 12, 16);
  std::memcpy(&bpv, h + 28, 4);
  std::memcpy(&lineBytes, h + 32, 8);
  std::memcpy(&bytes, h + 40, 8);
  if (!validKind(type, bpv) || d.w < 1 || d.h < 1 || d.d < 1 || d.t < 1) return nullptr;
  if (lineBytes != PR_VolLineSize(d.w, bpv) || bytes != product(lineBytes, d.h, d.d, d.t)) return nullptr;
  const int64_t left = bytesLeft(fp);
  if (left >= 0 && left < bytes) return nullptr;  // truncated: refuse before allocating
  FRAME* frame = PR_FrameCreate(FRMTYPE(type), bpv, d, false);
  if (!frame) return nullptr;
  pf_prefault(frame->data, bytes, int64_t(64) << 20);
  // Read in slabs so that progress can be shown and a stop honoured.
  const int64_t slab = int64_t(1) << 24;
  const int64_t steps = (bytes + slab - 1) / slab;
  for (int64_t i = 0; i < steps; ++i) {
    const int64_t n = std::min(slab, bytes - i * slab);
    if (std::fread(frame->data + i * slab, 1, size_t(n), fp) != size_t(n) ||
        (show && !PR_SendMessageInterval(1, std::max(2, progressEnd), i, steps, true))) {
      PR_FrameDelete(&frame);
      return nullptr;
    }
  }
  return frame;
}
