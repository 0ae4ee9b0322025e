// libFuzzer target of the document reader: the input bytes become a ".twk" file that is read into a
// new document; any crash, leak, hang or sanitizer report is a finding. Built with clang when
// libFuzzer is at hand (see CMakeLists.txt); messages go to the silent default UI.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "AppOptions.h"
#include "CString.h"
#include "DocumentFile.h"
#include "DrawDoc.h"
#include "TwkDicom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The DICOM library's start-up quiets the toolkit's console log.
  static const bool initialized = TWKDCM_Initialize();
  (void)initialized;
  static const std::string path = "/tmp/twk_fuzz_document_" + std::to_string(::getpid()) + ".twk";
  TW_EditOptions().tempFolder = L"/tmp";
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return 0;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);
  for (uint8_t loadSettings : {0, 1}) {
    TW_EditOptions().loadDmdbFromTwk = loadSettings;
    CDrawDoc doc;
    doc.Load(CString::fromUtf8(path), false);
  }
  std::remove(path.c_str());
  return 0;
}
