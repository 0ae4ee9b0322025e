#include "matfile/MatlabLayer.h"

#include <matio.h>

#include <cstdint>
#include <cstring>

#include "TwkMem.h"
#include "TwkUi.h"
#include "volume/Frame.h"

namespace {

template <class T>
void copyAs(const void* data, double* out, int64_t n) {
  const T* in = static_cast<const T*>(data);
  for (int64_t i = 0; i < n; ++i) out[i] = double(in[i]);
}

// The variable's elements as doubles; false for a type that is no plain number.
bool toDoubles(const matvar_t* var, double* out, int64_t n) {
  switch (var->data_type) {
    case MAT_T_DOUBLE: std::memcpy(out, var->data, size_t(n) * sizeof(double)); return true;
    case MAT_T_SINGLE: copyAs<float>(var->data, out, n); return true;
    case MAT_T_INT8: copyAs<int8_t>(var->data, out, n); return true;
    case MAT_T_UINT8: copyAs<uint8_t>(var->data, out, n); return true;
    case MAT_T_INT16: copyAs<int16_t>(var->data, out, n); return true;
    case MAT_T_UINT16: copyAs<uint16_t>(var->data, out, n); return true;
    case MAT_T_INT32: copyAs<int32_t>(var->data, out, n); return true;
    case MAT_T_UINT32: copyAs<uint32_t>(var->data, out, n); return true;
    case MAT_T_INT64: copyAs<int64_t>(var->data, out, n); return true;
    case MAT_T_UINT64: copyAs<uint64_t>(var->data, out, n); return true;
    default: return false;
  }
}

bool numericClass(enum matio_classes c) { return c >= MAT_C_DOUBLE && c <= MAT_C_UINT64; }

}  // namespace

FRAME* VA_LoadMatlabFileLayer(const wchar_t* path, const DIM3D* dims, CString* name, bool show) {
  auto fail = [&](const CString& why) -> FRAME* {
    if (show) twk::showNamedError(L"VA_LoadMatlabFileLayer", why);
    return nullptr;
  };
  if (!path) return fail(L"No file is given");
  mat_t* mat = Mat_Open(CString(path).toUtf8().c_str(), MAT_ACC_RDONLY);
  if (!mat) return fail(CString(L"Unable to open ") + path);
  FRAME* out = nullptr;
  bool memory = false;
  while (!out && !memory) {
    matvar_t* var = Mat_VarReadNext(mat);
    if (!var) break;
    const bool usable = var->data && !var->isComplex && numericClass(var->class_type) && var->rank >= 2 && var->rank <= 4;
    if (usable) {
      int64_t size[4] = {1, 1, 1, 1};
      bool fits = true;
      for (int k = 0; k < var->rank; ++k) {
        size[k] = int64_t(var->dims[k]);
        fits = fits && size[k] >= 1 && size[k] <= INT32_MAX;
      }
      if (fits && dims) fits = size[0] == dims->w && size[1] == dims->h && size[2] == dims->d;
      if (fits) {
        const DIM3D d{int(size[0]), int(size[1]), int(size[2]), int(size[3])};
        out = PR_FrameCreate(FRM_REAL, 64, d, false);
        memory = out == nullptr;
        if (out && !toDoubles(var, reinterpret_cast<double*>(out->data), size[0] * size[1] * size[2] * size[3]))
          PR_FrameDelete(&out);
        if (out && name) *name = CString::fromUtf8(var->name ? var->name : "");
      }
    }
    Mat_VarFree(var);
  }
  Mat_Close(mat);
  if (memory) return fail(L"Not enough memory");
  if (!out) {
    if (dims) return fail(FmtStr(L"No array of %d x %d x %d voxels is found in ", dims->w, dims->h, dims->d) + path);
    return fail(CString(L"No numeric array is found in ") + path);
  }
  return out;
}
