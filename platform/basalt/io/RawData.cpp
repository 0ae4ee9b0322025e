// Volumes from raw arrays, basic volumes around frames, folders of diffusion images and N-column
// text tables.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TextCodec.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageData.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"
#include "paths/ValueText.h"

using namespace twk::io;

CVol* VA_LoadRawData(const void* data, DTYPE type, const DIM3D* dim, const SPC* spc, int dynKind, const wchar_t* dynValues,
                     const wchar_t* name, bool show) {
  const CString title = name ? name : L"";
  try {
    if (!data || !dim) throw IoError{L"no data"};
    if (PR_IsComplexType(type) || PR_DataTypeSize(type) == 0) throw IoError{L"unsupported element type"};
    ImageData image;
    image.dim = *dim;
    image.type = type;
    if (spc) image.spc = *spc;
    if (!(image.spc.x > 0 && image.spc.y > 0 && image.spc.z > 0)) throw IoError{L"invalid spacing"};
    image.allocateVoxels(nullptr);
    std::memcpy(image.voxels, data, size_t(image.voxelCount() * PR_DataTypeSize(type)));
    // Dynamic values: one per time point, into the coordinate that the kind names.
    std::vector<double> values;
    if (dynValues && *dynValues) {
      double* parsed = nullptr;
      int n = 0;
      if (!PR_ExtractDoubles(dynValues, &parsed, &n)) throw IoError{L"dynamic values are not numbers"};
      values.assign(parsed, parsed + n);
      pf_free(&parsed);
      if (int(values.size()) != dim->t) throw IoError{L"the number of dynamic values differs from the time points"};
    } else {
      for (int t = 0; t < dim->t; ++t) values.push_back(t);
    }
    image.dyn.assign(size_t(dim->t), DYNCRD{});
    for (int t = 0; t < dim->t; ++t) {
      DYNCRD& d = image.dyn[size_t(t)];
      const double v = values[size_t(t)];
      switch (dynKind) {
        case DYN_INVERSION_TIME: d.inversionTime = v; d.time = t; break;
        case DYN_ECHO_TIME: d.echoTime = v; d.time = t; break;
        case DYN_BVALUE: d.bValue = v; d.time = t; break;
        case DYN_FLIP_ANGLE: d.flipAngle = v; d.time = t; break;
        case DYN_SPINLOCK_TIME: d.spinLockTime = v; d.time = t; break;
        default: d.time = v; break;
      }
      d.timeEnd = t + 1 < dim->t ? (dynKind == DYN_TIME ? values[size_t(t + 1)] : t + 1) : d.time;
    }
    return buildVolume(image, title);
  } catch (const IoError& e) {
    reportFailure(show, L"VA_LoadRawData", title, e.what);
    return nullptr;
  }
}

CVol* VA_CreateBasicVolume(const wchar_t* name, FRAME** frame) {
  if (!frame || !*frame) return nullptr;
  const int times = (*frame)->dim.t;
  auto* dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(std::max(times, 1)) * sizeof(DYNCRD)));
  if (!dyn) return nullptr;
  for (int t = 0; t < times; ++t) {
    dyn[t].time = t;
    dyn[t].timeEnd = t + 1;
  }
  CVol* vol = new CVol;
  vol->frame = *frame;
  *frame = nullptr;
  vol->name = name ? name : L"";
  vol->dyn = dyn;
  return vol;
}

CVol* VA_Load4DvolumeFromDWIfolderOfNIFTIimages(const wchar_t* workFolder, const wchar_t* folder, bool show) {
  int n = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, L"nii;nii.gz", false, false, &n, show);
  if (!files) return nullptr;
  std::vector<CString> paths(files, files + n);
  pf_free_parr(&files, n);
  // b-values, one per file, from the first .bval file of the folder.
  std::vector<double> bvalues;
  int nb = 0;
  wchar_t** bfiles = PR_FindAllFilesInFolder(folder, L"bval", false, false, &nb, false);
  if (bfiles) {
    std::ifstream in(twk::pathToNative(bfiles[0]));
    double v;
    while (in >> v) bvalues.push_back(v);
    pf_free_parr(&bfiles, nb);
  }
  CVol* result = nullptr;
  FRAME* frame = nullptr;
  int64_t perTime = 0;
  for (int i = 0; i < n; ++i) {
    CVol* one = VA_RAW_LoadVolume(paths[size_t(i)], nullptr, nullptr, nullptr, show);
    if (!one) {
      delete result;
      return nullptr;
    }
    if (!result) {
      try {
        DIM3D dim = *one->Dim();
        dim.t = n;
        if (one->T() != 1) throw IoError{L"diffusion images must be 3D"};
        frame = newFrame(one->Type(), one->frame->bpv, dim);
      } catch (const IoError& e) {
        reportFailure(show, L"VA_Load4DvolumeFromDWIfolderOfNIFTIimages", paths[0], e.what);
        delete one;
        return nullptr;
      }
      perTime = frame->lineBytes * frame->dim.h * frame->dim.d;
      std::memcpy(frame->data, one->frame->data, size_t(perTime));
      std::swap(one->frame, frame);
      PR_FrameDelete(&frame);
      result = one;
      pf_free(&result->dyn);
      result->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(n) * sizeof(DYNCRD)));
      if (!result->dyn) {
        delete result;
        return nullptr;
      }
      result->name = PR_JoinPath(workFolder, PR_GetFileTitle(folder));
      continue;
    }
    const bool same = one->T() == 1 && one->Type() == result->Type() && one->frame->bpv == result->frame->bpv &&
                      one->W() == result->W() && one->H() == result->H() && one->D() == result->D();
    if (same) std::memcpy(result->frame->data + i * perTime, one->frame->data, size_t(perTime));
    delete one;
    if (!same) {
      reportFailure(show, L"VA_Load4DvolumeFromDWIfolderOfNIFTIimages", paths[size_t(i)], L"dimensions differ from the first image");
      delete result;
      return nullptr;
    }
  }
  for (int t = 0; t < n; ++t) {
    result->dyn[t].time = t;
    result->dyn[t].timeEnd = t + 1;
    result->dyn[t].bValue = t < int(bvalues.size()) ? bvalues[size_t(t)] : 0;
  }
  return result;
}

bool PR_LoadNcolumnFile(const wchar_t* path, wchar_t*** names, int* columns, int* points, double** values, bool show) {
  if (!names || !columns || !points || !values) return false;
  *names = nullptr;
  *values = nullptr;
  *columns = *points = 0;
  auto fail = [&](const CString& what) {
    reportFailure(show, L"PR_LoadNcolumnFile", path ? path : L"", what);
    return false;
  };
  std::ifstream in(twk::pathToNative(path ? path : L""), std::ios::binary);
  if (!in) return fail(L"file does not exist or cannot be read");
  auto split = [](const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
      if (c == '\t' || c == ',' || c == ';' || c == ' ' || c == '\r') {
        if (!cur.empty()) out.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
  };
  std::string line;
  std::vector<std::string> header;
  while (header.empty() && std::getline(in, line)) header = split(line);
  if (header.empty()) return fail(L"no column names");
  const size_t nc = header.size();
  std::vector<std::vector<double>> data(nc);
  int lineNumber = 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    const auto items = split(line);
    if (items.empty()) continue;
    if (items.size() != nc) {
      CString s;
      s.Format(L"line %d has %d values, expected %d", lineNumber, int(items.size()), int(nc));
      return fail(s);
    }
    for (size_t c = 0; c < nc; ++c) {
      char* end = nullptr;
      const double v = std::strtod(items[c].c_str(), &end);
      if (end == items[c].c_str() || *end) {
        CString s;
        s.Format(L"line %d: \"%S\" is not a number", lineNumber, items[c].c_str());
        return fail(s);
      }
      data[c].push_back(v);
    }
  }
  const size_t np = data[0].size();
  auto* nameArray = static_cast<wchar_t**>(pf_calloc(int64_t(nc * sizeof(wchar_t*))));
  auto* valueArray = static_cast<double*>(pf_malloc(int64_t(std::max<size_t>(1, nc * np) * sizeof(double))));
  bool ok = nameArray && valueArray;
  for (size_t c = 0; ok && c < nc; ++c) {
    const std::wstring w = twk::fromUtf8(header[c]);
    nameArray[c] = static_cast<wchar_t*>(pf_malloc(int64_t((w.size() + 1) * sizeof(wchar_t))));
    ok = nameArray[c] != nullptr;
    if (ok) std::memcpy(nameArray[c], w.c_str(), (w.size() + 1) * sizeof(wchar_t));
    if (ok) std::copy(data[c].begin(), data[c].end(), valueArray + c * np);
  }
  if (!ok) {
    if (nameArray) pf_free_parr(&nameArray, int64_t(nc));
    pf_free(&valueArray);
    return fail(L"not enough memory");
  }
  *names = nameArray;
  *values = valueArray;
  *columns = int(nc);
  *points = int(np);
  return true;
}
