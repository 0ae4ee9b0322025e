// Cropping a volume into a new one by a 4D box or a list of time points.

#include <cstring>
#include <vector>

#include "DicomRec.h"
#include "TwkUi.h"
#include "Vol.h"
#include "volops/VolumeOperations.h"
#include "volume/BoxTransfer.h"
#include "volume/Frame.h"

namespace {

constexpr const wchar_t* kCrop = L"CVol::CloneByCrop";

CVol* refuse(bool show, const wchar_t* why) {
  if (show) twk::showNamedError(kCrop, why);
  return nullptr;
}

// The point moved along the row and column directions by dx and dy millimetres.
DPOINT3D shifted(const DPOINT3D& p, const double* orient, double dx, double dy) {
  return DPOINT3D{p.x + orient[0] * dx + orient[3] * dy, p.y + orient[1] * dx + orient[4] * dy,
                  p.z + orient[2] * dx + orient[5] * dy};
}

}  // namespace

CVol* VA_VolCloneByCrop(const CVol* vol, const RECT4D* box, const int32_t* timeList, bool cloneDicom, bool show) {
  if (!vol || !vol->frame || !vol->frame->data) return refuse(show, L"Invalid volume");
  if ((box == nullptr) == (timeList == nullptr)) return refuse(show, L"Invalid cropping parameters");
  const DIM3D& d = vol->frame->dim;
  RECT3D b{0, 0, 0, d.w - 1, d.h - 1, d.d - 1};
  std::vector<int> times;
  if (box) {
    if (box->x0 < 0 || box->y0 < 0 || box->z0 < 0 || box->t0 < 0 || box->x0 > box->x1 || box->y0 > box->y1 ||
        box->z0 > box->z1 || box->t0 > box->t1 || box->x1 >= d.w || box->y1 >= d.h || box->z1 >= d.d || box->t1 >= d.t)
      return refuse(show, L"Crop box lies outside the volume");
    b = RECT3D{box->x0, box->y0, box->z0, box->x1, box->y1, box->z1};
    for (int t = box->t0; t <= box->t1; ++t) times.push_back(t);
  } else {
    if (timeList[0] < 1) return refuse(show, L"Invalid cropping parameters");
    for (int32_t k = 1; k <= timeList[0]; ++k) {
      if (timeList[k] < 0 || timeList[k] >= d.t) return refuse(show, L"Invalid dynamic points");
      times.push_back(timeList[k]);
    }
  }

  const DIM3D dims{b.x1 - b.x0 + 1, b.y1 - b.y0 + 1, b.z1 - b.z0 + 1, int(times.size())};
  FRAME* frame = PR_FrameCreate(vol->frame->type, vol->frame->bpv, dims, false);
  if (!frame) return refuse(show, L"Not enough memory");
  for (size_t k = 0; k < times.size(); ++k)
    twk::transferBox(twk::frameBoxLines(vol->frame, b.x0, b.y0, b.z0, times[k], dims.d),
                     twk::frameBoxLines(frame, 0, 0, 0, int64_t(k), dims.d), dims.w, dims.h, dims.d, 1.0, 0.0);

  CVol* out = new CVol;
  out->frame = frame;
  out->name = vol->name;
  out->unit = vol->unit;
  out->modality = vol->modality;
  out->spc = vol->spc;
  std::memcpy(out->orient, vol->orient, sizeof out->orient);
  const double dx = b.x0 * vol->spc.x, dy = b.y0 * vol->spc.y;
  bool ok = true;
  if (vol->dyn) {
    out->dyn = static_cast<DYNCRD*>(pf_malloc(int64_t(dims.t) * int64_t(sizeof(DYNCRD))));
    ok = out->dyn != nullptr;
    for (int k = 0; ok && k < dims.t; ++k) out->dyn[k] = vol->dyn[times[size_t(k)]];
  }
  if (ok && vol->imgPos) {
    out->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(dims.d) * int64_t(sizeof(DPOINT3D))));
    ok = out->imgPos != nullptr;
    for (int z = 0; ok && z < dims.d; ++z) out->imgPos[z] = shifted(vol->imgPos[b.z0 + z], vol->orient, dx, dy);
  }
  if (ok && vol->dicom && vol->numDicom > 0) {
    const bool perSlice = cloneDicom && vol->numDicom == int64_t(d.d) * d.t;
    const int64_t n = perSlice ? int64_t(dims.d) * dims.t : 1;
    out->dicom = static_cast<DICOMREC**>(pf_calloc(n * int64_t(sizeof(DICOMREC*))));
    ok = out->dicom != nullptr;
    if (ok) {
      out->numDicom = n;
      for (int64_t i = 0; i < n; ++i) {
        const int64_t z = i % dims.d, k = i / dims.d;
        const DICOMREC* src = perSlice ? vol->dicom[int64_t(times[size_t(k)]) * d.d + b.z0 + z] : vol->dicom[0];
        DICOMREC* rec = src ? new DICOMREC(*src) : new DICOMREC;
        rec->width = uint16_t(dims.w);
        rec->height = uint16_t(dims.h);
        if (out->imgPos) {
          rec->imagePosition[0] = out->imgPos[z].x;
          rec->imagePosition[1] = out->imgPos[z].y;
          rec->imagePosition[2] = out->imgPos[z].z;
        } else if (rec->imagePosition[0] != VOID_VALUE) {
          const DPOINT3D p = shifted(DPOINT3D{rec->imagePosition[0], rec->imagePosition[1], rec->imagePosition[2]},
                                     vol->orient, dx, dy);
          rec->imagePosition[0] = p.x;
          rec->imagePosition[1] = p.y;
          rec->imagePosition[2] = p.z;
        }
        out->dicom[i] = rec;
      }
    }
  }
  if (!ok) {
    delete out;
    return refuse(show, L"Not enough memory");
  }
  return out;
}
