// libFuzzer target of opening one DICOM file: the input bytes become a file and go through what the
// program does with a file found in a folder: the DICOM test, the record read, the header with the
// element tree and the tag getters, the pixel access (every transfer syntax the registered decoders
// know), and the volume of a one-file series made as a folder load makes it. Any crash, leak, hang or
// sanitizer report is a finding. Built with clang.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ArrayHelpers.h"
#include "CString.h"
#include "DicomRec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomHeaderBlob.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomTree.h"
#include "dicom/DicomVolume.h"

namespace {

// The input file and the frames of split multi-frame inputs, in a folder of the process that is
// removed when it ends.
const std::string& scratch() {
  static const struct Folder {
    std::string path = "/tmp/twk_fuzz_dicom_" + std::to_string(::getpid());
    Folder() { std::filesystem::create_directories(path + "/frames"); }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } folder;
  return folder.path;
}

void headerQueries(const DCMFF* h) {
  double d = 0, o[6], slope = 0, intercept = 0;
  int64_t i64 = 0;
  int n = 0;
  DPOINT3D p;
  CString a, b, c;
  TWKDCM_GetTR(h, &d);
  TWKDCM_GetTE(h, &d);
  TWKDCM_GetFlipAngle(h, &d);
  TWKDCM_GetImagePosition(h, &p);
  TWKDCM_GetImageOrientation(h, o);
  TWKDCM_GetSlopeIntercept(h, &slope, &intercept);
  TWKDCM_GetAcquisitionTime(h, &d);
  TWKDCM_GetAbsoluteTime(h, &d);
  TWKDCM_GetDiffusionBvalue(h, &d);
  TWKDCM_GetPatientInfo(h, &a, &b, &c);
  TWKDCM_GetGeneralDate(h, &a);
  TWKDCM_GetSeriesNumber(h, &n);
  TWKDCM_GetModality(h, &n);
  TWKDCM_GetImageIndex(h, &n);
  TWKDCM_GetStudyDescriptionAndUID(h, &a, &b);
  TWKDCM_GetString(h, TWKDCM_TAG(0x0020, 0x4000), &a);
  TWKDCM_GetDoubles(h, TWKDCM_TAG(0x0028, 0x0030), o, 2);
  TWKDCM_GetInt(h, TWKDCM_TAG(0x0028, 0x0008), &i64);
  TWKDCM_GetTimeSeconds(h, TWKDCM_TAG(0x0008, 0x0032), &d);
  TWKDCM_GetSequenceString(h, TWKDCM_TAG(0x5200, 0x9230), 0, TWKDCM_TAG(0x0020, 0x9113), &a);
  if (TWKDCM_GetNumImagesInMosaic(h, &n)) {
    DCMFF* const one[1] = {const_cast<DCMFF*>(h)};
    DCMFF** slices = TWKDCM_CloneHeaderFromMosaic(one, 1, n);
    TWKDCM_DeleteFFarr(&slices, n);
  }
  DCMNODE* tree = TWKDCM_CreateDCMNODE(h);
  if (tree) {
    wchar_t* text = TWKDCM_GetFirstConvertVal(TWKDCM_FindDCMNODE(tree, TWKDCM_TAG(0x0028, 0x0010)));
    pf_free(&text);
    text = TWKDCM_GetValueToString(TWKDCM_FindDCMNODE(tree, TWKDCM_TAG(0x0020, 0x0032)));
    pf_free(&text);
  }
  TWKDCM_DeleteDCMNODE(&tree);
  CString** phi = nullptr;
  int64_t count = 0;
  TWKDCM_ExtractPHIrecords(h, &phi, &count);
  for (int64_t k = 0; k < count; ++k) delete phi[k];
  pf_free(&phi);
  // The header as documents store it, and back.
  DCMFF* const one[1] = {const_cast<DCMFF*>(h)};
  int64_t size = 0;
  void* bytes = TWKDCM_SaveHeaders(one, 1, &size);
  if (bytes) {
    DCMFF** back = TWKDCM_LoadHeaders(bytes, size, 1);
    TWKDCM_DeleteFFarr(&back, 1);
    pf_free(&bytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TWKDCM_Initialize();
  TWKDCM_DJDecodeRegister();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = scratch() + "/input.dcm";
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return 0;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);
  const CString file = CString::fromUtf8(path);

  if (!VA_IsDicomFileLoading(file)) {
    std::remove(path.c_str());
    return 0;
  }
  int kind = 0;
  CString reason;
  delete VA_ReadDicomRec(file, true, &kind, &reason);

  DCMFF* header = TWKDCM_LoadDcmFF(file);
  if (header) headerQueries(header);
  TWKDCM_DeleteFF(&header);

  int width = 0, height = 0;
  int32_t* pixels = nullptr;
  bool isSigned = false;
  if (TWKDCM_GetImage(file, &width, &height, &pixels, &isSigned)) pf_free(&pixels);
  int64_t pixelBytes = 0;
  CString syntax;
  TWKDCM_GetPixelDataInfo(file, &pixelBytes, &syntax);

  // The volume of the file as a folder load makes it (multi-frame files are split first).
  const CString frames = CString::fromUtf8(scratch() + "/frames");
  const wchar_t* files[1] = {file};
  VA_DICOMTREE tree;
  DICOMREC** records = nullptr;
  int recordCount = 0;
  if (VA_FolderFullDicomTree(false, nullptr, nullptr, nullptr, true, frames, &tree, files, 1, &records, &recordCount,
                             nullptr, nullptr, false)) {
    std::vector<VA_DICOMTREEITEM*> series;
    VA_EnumerateAllSimpleSeries(&tree, &series);
    DIM3D dims;
    int combined = 0;
    if (VA_CheckCompatibleAndGetCommonDimensions(&tree, series.data(), int(series.size()), records, recordCount, &dims,
                                                 &combined, false)) {
      FRMTYPE frameKind = FRM_INT;
      std::unique_ptr<CVol> vol(VA_LoadByItem_VolHeader(&dims, records, nullptr, &frameKind, false));
      if (vol && VA_LoadByItem_CreateFrame(vol.get(), &dims, frameKind) && VA_LoadByItem_VolData(vol.get(), false)) {
        VA_VolEnsurePositiveOrient(vol.get(), false);
        int64_t headerSize = 0, storedSize = 0;
        void* blob = VA_VolCompressDicomHeaders(vol.get(), true, &headerSize, &storedSize);
        pf_free(&blob);
      }
    }
  }
  TW_FreeDicomRecArray(&records, recordCount);
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(scratch() + "/frames", ec)) std::filesystem::remove(e.path(), ec);
  std::remove(path.c_str());
  return 0;
}
