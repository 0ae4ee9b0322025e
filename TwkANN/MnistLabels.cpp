// The MNIST (IDX) label file.
#include "AnnLib.h"

TWKANN_API bool TWKANN_LoadMNIST_LabelFile(const wchar_t* path, unsigned char** labels, int* count) {
  return ANN_Guarded(L"TWKANN_LoadMNIST_LabelFile", false, [&] {
    ANN_File file(ANN_OpenFile(path, "rb"));
    if (!file.f) return false;
    uint8_t head[8];
    if (std::fread(head, 1, 4, file.f) != 4) return false;
    // Magic 2049 as the format stores it (big-endian, 00 00 08 01) or little-endian (01 08 00 00);
    // the count that follows is read in the same byte order.
    const bool bigEndian = head[0] == 0 && head[1] == 0 && head[2] == 8 && head[3] == 1;
    const bool littleEndian = head[0] == 1 && head[1] == 8 && head[2] == 0 && head[3] == 0;
    if (!bigEndian && !littleEndian) {
      ANN_NamedMessage(L"TWKANN_LoadMNIST_LabelFile", CString(L"Invalid file header") + path);
      return false;
    }
    if (std::fread(head + 4, 1, 4, file.f) != 4) return false;
    const uint8_t* c = head + 4;
    const uint32_t n = bigEndian ? (uint32_t(c[0]) << 24 | uint32_t(c[1]) << 16 | uint32_t(c[2]) << 8 | c[3])
                                 : (uint32_t(c[3]) << 24 | uint32_t(c[2]) << 16 | uint32_t(c[1]) << 8 | c[0]);
    if (n > uint32_t(INT32_MAX)) return false;
    if (labels) {
      ANN_Counted<unsigned char> buffer(static_cast<unsigned char*>(pf_malloc(n > 0 ? int64_t(n) : 1)));
      if (!buffer || std::fread(buffer.get(), 1, n, file.f) != n) return false;
      *labels = std::exchange(buffer.p, nullptr);
    }
    if (count) *count = int(n);
    return true;
  });
}
