// libFuzzer target of one image reader: the input bytes become a file with the reader's extension
// and are loaded; any crash, leak of a half-made volume or sanitizer report is a finding.
// Built with clang (TWK_FUZZ_EXTENSION names the reader: "nii", "mgh", "nrrd", "npy", "im").

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "CString.h"
#include "Vol.h"
#include "io/ImageFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/twk_fuzz_" + std::to_string(::getpid()) + "." TWK_FUZZ_EXTENSION;
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return 0;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);
  const CString p = CString::fromUtf8(path);
  DIM3D dim;
  SPC spc;
  VA_RAW_FileInfo(p, &dim, &spc, false);
  CVol* vol = VA_RAW_LoadVolume(p, nullptr, nullptr, nullptr, false);
  delete vol;
  std::remove(path.c_str());
  return 0;
}
