// Comparisons of volumes and frames, and the small geometry and acquisition queries of a volume.

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "DicomRec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "ops/VolumeOps.h"
#include "volops/VolumeOperations.h"
#include "volops/VoxelLines.h"
#include "volume/Frame.h"

namespace {

bool usable(const CVol* v) {
  return v && v->frame && v->frame->data && twk::voxelElemOf(v->frame) != twk::VoxelElem::Invalid;
}

bool valuesMatch(double a, double b, double tolerance) {
  const bool voidA = a == VOID_VALUE || a != a, voidB = b == VOID_VALUE || b != b;
  if (voidA || voidB) return voidA == voidB;
  return std::fabs(a - b) <= tolerance * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// A pf_malloc copy of n old entries resized to m (overlap kept, the rest zeroed); records itself
// when there is nothing to change, null when memory is short.
template <class T>
T* resizedRecords(T* records, int64_t n, int64_t m) {
  if (!records || n == m) return records;
  T* out = static_cast<T*>(pf_calloc(m * int64_t(sizeof(T))));
  if (out) std::memcpy(out, records, size_t(std::min(n, m)) * sizeof(T));
  return out;
}

}  // namespace

bool VA_VolIsEqualSpc(const CVol* a, const CVol* b) { return a && b && PR_IsEqualSpc(a->Spc(), b->Spc()); }

bool VA_VolIsEqualOrient(const CVol* a, const CVol* b) { return a && b && PR_IsEqualOrient(a->orient, b->orient); }

bool VA_VolIsMatchingVolume(const CVol* a, const CVol* b, double tolerance, bool* match) {
  if (!match || !usable(a) || !usable(b)) return false;
  const DIM3D &p = a->frame->dim, &q = b->frame->dim;
  bool same = p.w == q.w && p.h == q.h && p.d == q.d && p.t == q.t && VA_VolIsEqualSpc(a, b) && VA_VolIsEqualOrient(a, b);
  if (same && a->imgPos && b->imgPos) same = PR_AreEqualImgpos(a->imgPos, b->imgPos, p.d);
  if (same && tolerance < VOID_VALUE) {
    std::atomic<bool> differ{false};
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(p.d) * p.t), [&](const tbb::blocked_range<int64_t>& r) {
      std::vector<double> la, lb;
      for (int64_t s = r.begin(); s != r.end() && !differ.load(std::memory_order_relaxed); ++s) {
        const int64_t z = s % p.d, t = s / p.d;
        for (int64_t y = 0; y < p.h; ++y) {
          twk::lineToDoubles(a->frame, y, z, t, la);
          twk::lineToDoubles(b->frame, y, z, t, lb);
          for (int64_t x = 0; x < p.w; ++x)
            if (!valuesMatch(la[size_t(x)], lb[size_t(x)], tolerance)) {
              differ = true;
              return;
            }
        }
      }
    });
    same = !differ;
  }
  *match = same;
  return true;
}

bool PR_FramesHaveIdenticalData(const FRAME* a, const FRAME* b) {
  if (!a || !b || !a->data || !b->data) return false;
  if (a->type != b->type || a->bpv != b->bpv || a->lineBytes != b->lineBytes || a->dim.w != b->dim.w ||
      a->dim.h != b->dim.h || a->dim.d != b->dim.d || a->dim.t != b->dim.t)
    return false;
  const int64_t lines = int64_t(a->dim.h) * a->dim.d * a->dim.t;
  if (a->type != FRM_ROI) return std::memcmp(a->data, b->data, size_t(lines * a->lineBytes)) == 0;
  // ROI lines: whole bytes, then the bits of the last partial byte; the padding does not count.
  const int64_t whole = a->dim.w / 8, rest = a->dim.w % 8;
  const uint8_t last = uint8_t(0xFF << (8 - rest));
  for (int64_t i = 0; i < lines; ++i) {
    const uint8_t* p = a->data + i * a->lineBytes;
    const uint8_t* q = b->data + i * b->lineBytes;
    if (std::memcmp(p, q, size_t(whole)) != 0 || (rest && ((p[whole] ^ q[whole]) & last))) return false;
  }
  return true;
}

bool VA_VolIsValidSpc(const CVol* vol) {
  if (!vol) return false;
  for (double s : {vol->spc.x, vol->spc.y, vol->spc.z})
    if (!std::isfinite(s) || !(s > 0) || s >= VOID_VALUE) return false;
  return true;
}

double VA_VolUnivoxDiam(const CVol* vol) {
  if (!vol || !vol->frame) return 0.0;
  const double x = vol->W() * vol->Vx(), y = vol->H() * vol->Vy(), z = vol->D() * vol->Vz();
  return std::sqrt(x * x + y * y + z * z);
}

bool VA_VolSetBpv(CVol* vol, int bits) {
  if (!usable(vol)) return false;
  const FRAME* f = vol->frame;
  if (f->type == FRM_ROI) return bits == 1;
  if (f->type == FRM_REAL) return bits == 64;
  if (bits < 1 || bits > 32) return false;
  const int stored = bits <= 8 ? 8 : bits <= 16 ? 16 : 32;
  if (stored != f->bpv) {
    FRAME* converted = VA_VolConvertBits(f, stored);
    if (!converted) return false;
    PR_FrameDelete(&vol->frame);
    vol->frame = converted;
  }
  for (int64_t i = 0; vol->dicom && i < vol->numDicom; ++i)
    if (vol->dicom[i]) vol->dicom[i]->bitsAllocated = stored;
  return true;
}

namespace {

double acquisitionValue(const CVol* vol, double DICOMREC::*recordField, double DYNCRD::*dynField) {
  if (!vol) return VOID_VALUE;
  if (vol->dicom && vol->numDicom > 0 && vol->dicom[0] && vol->dicom[0]->*recordField != VOID_VALUE)
    return vol->dicom[0]->*recordField;
  if (vol->dyn && vol->frame && vol->frame->dim.t > 0) return vol->dyn[0].*dynField;
  return VOID_VALUE;
}

}  // namespace

double VA_VolGetFlipAngle(const CVol* vol) {
  return acquisitionValue(vol, &DICOMREC::flipAngle, &DYNCRD::flipAngle);
}
double VA_VolGetTR(const CVol* vol) {
  return acquisitionValue(vol, &DICOMREC::repetitionTime, &DYNCRD::repetitionTime);
}
double VA_VolGetTE(const CVol* vol) { return acquisitionValue(vol, &DICOMREC::echoTime, &DYNCRD::echoTime); }

bool VA_VolSetUniformFrame(CVol* vol, int type, const DIM3D& dims, double value, int bpv) {
  if (!vol) return false;
  FRAME* frame = VA_VolCreateUniform(type, dims, value, bpv);
  if (!frame) return false;
  // Without a frame the records were made for these dimensions and stay as they are.
  const int64_t oldT = vol->frame ? vol->frame->dim.t : dims.t, oldD = vol->frame ? vol->frame->dim.d : dims.d;
  DYNCRD* dyn = resizedRecords(vol->dyn, oldT, dims.t);
  DPOINT3D* positions = resizedRecords(vol->imgPos, oldD, dims.d);
  if ((vol->dyn && !dyn) || (vol->imgPos && !positions)) {
    if (dyn != vol->dyn) pf_free(&dyn);
    if (positions != vol->imgPos) pf_free(&positions);
    PR_FrameDelete(&frame);
    return false;
  }
  if (dyn != vol->dyn) {
    pf_free(&vol->dyn);
    vol->dyn = dyn;
  }
  if (positions != vol->imgPos) {
    pf_free(&vol->imgPos);
    vol->imgPos = positions;
  }
  PR_FrameDelete(&vol->frame);
  vol->frame = frame;
  return true;
}
