#pragma once
// Series of the DICOM benchmarks, written by the DICOM export itself: w x h x d voxels of varied
// values in single-image files; a CT in "HU" is written with the rescale intercept -1024.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"

inline void TW_WriteBenchSeries(const std::string& folder, int w, int h, int d, bool ct = false) {
  std::filesystem::create_directories(folder);
  CVol vol;
  vol.frame = VA_VolCreateUniform(FRM_INT, DIM3D{w, h, d, 1}, 0.0, 16);
  auto* v = reinterpret_cast<uint16_t*>(vol.frame->data);
  const size_t n = size_t(w) * h * d;
  for (size_t i = 0; i < n; ++i) v[i] = uint16_t((i * 2654435761u >> 7) & 4095);
  vol.spc = SPC{0.7, 0.7, 1.0};
  vol.modality = ct ? MODALITY_CT : MODALITY_MR;
  if (ct) vol.unit = L"HU";
  vol.imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(d) * int64_t(sizeof(DPOINT3D))));
  for (int z = 0; z < d; ++z) vol.imgPos[z] = DPOINT3D{-90, -90, double(z)};
  vol.dyn = static_cast<DYNCRD*>(pf_calloc(sizeof(DYNCRD)));
  vol.name = L"bench";
  CVol::SaveToDicom(&vol, false, CString::fromUtf8(folder + "/img.dcm"), nullptr, false, true, true, false, false);
}

// The files of a series folder written above.
inline std::vector<CString> TW_BenchSeriesFiles(const std::string& folder) {
  std::vector<CString> files;
  for (const auto& e : std::filesystem::directory_iterator(folder)) files.push_back(CString::fromUtf8(e.path().string()));
  return files;
}
