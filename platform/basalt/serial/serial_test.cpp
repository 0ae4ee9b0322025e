#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TextCodec.h"
#include "serial/FrameFile.h"
#include "serial/MemFile.h"
#include "volume/Frame.h"

namespace {

std::string tempDir() {
  const std::filesystem::path dir = twk::testing::testFolder() / "serial_test";
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::vector<uint8_t> fileBytes(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return out;
  int c;
  while ((c = std::fgetc(fp)) != EOF) out.push_back(uint8_t(c));
  std::fclose(fp);
  return out;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), fp);
  std::fclose(fp);
}

// A frame whose every byte differs from its neighbours, so that a shifted or dropped byte shows.
FRAME* patternFrame(FRMTYPE type, int bpv, DIM3D dim) {
  FRAME* f = PR_FrameCreate(type, bpv, dim, true);
  const int64_t bytes = f->lineBytes * dim.h * dim.d * dim.t;
  for (int64_t i = 0; i < bytes; ++i) f->data[i] = uint8_t(i * 7 + 3);
  if (type == FRM_ROI) {  // keep the padding bits of ROI lines clear
    const int64_t lines = int64_t(dim.h) * dim.d * dim.t;
    for (int64_t l = 0; l < lines; ++l)
      for (int x = dim.w; x < f->lineBytes * 8; ++x) f->data[l * f->lineBytes + x / 8] &= uint8_t(~(0x80 >> (x % 8)));
  }
  return f;
}

}  // namespace

TEST(MemFile, GrowsSavesAndComparesByteExact) {
  const std::string dir = tempDir();
  const CString path = CString::fromUtf8(dir + "/doc.bin");
  MFILE* mf = PR_MemFileOpen(4);  // smaller than what is written: the file must grow
  ASSERT_NE(mf, nullptr);
  ASSERT_TRUE(PR_MemFileWriteString(mf, L"%s\n", L"Tarnwick v.17 document. Created with Build 483."));
  std::vector<uint8_t> payload(100000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 31);
  ASSERT_TRUE(PR_MemFileWrite(mf, payload.data(), int64_t(payload.size())));
  EXPECT_FALSE(PR_MemFileWrite(mf, nullptr, 5));
  EXPECT_FALSE(PR_MemFileWrite(mf, payload.data(), -1));

  ASSERT_TRUE(PR_MemFileSaveToFile(mf, path, 0, false));
  const auto disk = fileBytes(dir + "/doc.bin");
  EXPECT_EQ(disk, mf->bytes);
  bool equal = false;
  ASSERT_TRUE(PR_MemFileCompareToFile(mf, path, 0, &equal, false));
  EXPECT_TRUE(equal);

  // One changed byte, one byte more, one byte less: each is a difference.
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    auto changed = disk;
    if (variant == 0) changed[changed.size() / 2] ^= 1;
    if (variant == 1) changed.push_back(0);
    if (variant == 2) changed.pop_back();
    writeBytes(dir + "/doc.bin", changed);
    ASSERT_TRUE(PR_MemFileCompareToFile(mf, path, 0, &equal, false));
    EXPECT_FALSE(equal);
  }
  EXPECT_FALSE(PR_MemFileCompareToFile(mf, CString::fromUtf8(dir + "/absent.bin"), 0, &equal, false));
  PR_MemFileClose(&mf);
  EXPECT_EQ(mf, nullptr);
  PR_MemFileClose(&mf);  // a second close of a null handle is harmless
}

TEST(MemFile, FailedSaveKeepsThePreviousFileAndReports) {
  const std::string dir = tempDir();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  MFILE* mf = PR_MemFileOpen(0);
  ASSERT_TRUE(PR_MemFileWrite(mf, "abc", 3));
  EXPECT_FALSE(PR_MemFileSaveToFile(mf, CString::fromUtf8(dir + "/no/such/folder/x.twk"), 0, true));
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_NE(script.lastMessage().Find(L"PR_MemFileSaveToFile : Unable to create file"), -1);
  PR_MemFileClose(&mf);
}

TEST(MemFile, WideLinesRoundTripThroughFgetts) {
  const std::string dir = tempDir();
  const CString path = CString::fromUtf8(dir + "/lines.bin");
  MFILE* mf = PR_MemFileOpen(16);
  const wchar_t* lines[] = {L"Tarnwick v.17 document", L"", L"Gr\u00fc\u00dfe \u03bb \U0001F600", L"HU"};
  for (const wchar_t* l : lines) ASSERT_TRUE(PR_MemFileWriteString(mf, L"%s\n", l));
  ASSERT_TRUE(PR_MemFileWrite(mf, "\x07\x00", 2));  // a last line without line feed
  ASSERT_TRUE(PR_MemFileSaveToFile(mf, path, 0, false));
  PR_MemFileClose(&mf);
  // UTF-16LE without byte-order mark: the first two bytes are 'T' and 0.
  const auto bytes = fileBytes(dir + "/lines.bin");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 'T');
  EXPECT_EQ(bytes[1], 0);

  FILE* fp = std::fopen((dir + "/lines.bin").c_str(), "rb");
  CString line;
  for (const wchar_t* l : lines) {
    ASSERT_TRUE(PR_fgetts(fp, &line));
    EXPECT_EQ(line, CString(l));
  }
  ASSERT_TRUE(PR_fgetts(fp, &line));
  EXPECT_EQ(line, CString(L"\x07"));
  EXPECT_FALSE(PR_fgetts(fp, &line));
  std::fclose(fp);

  // A line longer than the limit is refused instead of read without bound.
  fp = std::fopen((dir + "/lines.bin").c_str(), "rb");
  EXPECT_FALSE(PR_fgetts(fp, &line, 5));
  std::fclose(fp);
}

TEST(FrameFile, RoundTripsEveryKindByteExact) {
  const std::string dir = tempDir();
  const struct { FRMTYPE type; int bpv; DIM3D dim; } cases[] = {
      {FRM_ROI, 1, {17, 3, 2, 2}}, {FRM_INT, 8, {5, 4, 3, 1}}, {FRM_INT, 16, {7, 2, 2, 3}},
      {FRM_INT, 32, {3, 3, 1, 1}}, {FRM_REAL, 64, {4, 5, 2, 2}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bpv);
    FRAME* f = patternFrame(c.type, c.bpv, c.dim);
    MFILE* mf = PR_MemFileOpen(0);
    ASSERT_TRUE(PR_MemFileWrite(mf, "pre", 3));
    ASSERT_TRUE(PR_FrameWrite(mf, f));
    ASSERT_TRUE(PR_MemFileWrite(mf, "post", 4));
    const CString path = CString::fromUtf8(dir + "/frame.bin");
    ASSERT_TRUE(PR_MemFileSaveToFile(mf, path, 0, false));

    FILE* fp = std::fopen((dir + "/frame.bin").c_str(), "rb");
    std::fseek(fp, 3, SEEK_SET);
    FRAME* back = PR_FrameReadFile(fp, false, 90);
    ASSERT_NE(back, nullptr);
    char tail[4];
    EXPECT_EQ(std::fread(tail, 1, 4, fp), 4u);  // the stream stands right after the record
    EXPECT_EQ(std::memcmp(tail, "post", 4), 0);
    std::fclose(fp);
    EXPECT_EQ(back->type, f->type);
    EXPECT_EQ(back->bpv, f->bpv);
    EXPECT_EQ(std::memcmp(&back->dim, &f->dim, sizeof(DIM3D)), 0);
    ASSERT_EQ(back->lineBytes, f->lineBytes);
    EXPECT_EQ(std::memcmp(back->data, f->data, size_t(f->lineBytes * c.dim.h * c.dim.d * c.dim.t)), 0);

    // Writing the read frame again gives the same bytes.
    MFILE* again = PR_MemFileOpen(0);
    ASSERT_TRUE(PR_MemFileWrite(again, "pre", 3));
    ASSERT_TRUE(PR_FrameWrite(again, back));
    ASSERT_TRUE(PR_MemFileWrite(again, "post", 4));
    EXPECT_EQ(again->bytes, mf->bytes);
    PR_MemFileClose(&again);
    PR_MemFileClose(&mf);
    PR_FrameDelete(&f);
    PR_FrameDelete(&back);
  }
}

TEST(FrameFile, DamagedRecordsAreRefusedBeforeAllocating) {
  const std::string dir = tempDir();
  FRAME* f = patternFrame(FRM_INT, 16, {8, 8, 4, 1});
  MFILE* mf = PR_MemFileOpen(0);
  ASSERT_TRUE(PR_FrameWrite(mf, f));
  const std::vector<uint8_t> good = mf->bytes;
  PR_MemFileClose(&mf);
  PR_FrameDelete(&f);

  auto patched = [&](int offset, const void* value, int n) {
    auto b = good;
    std::memcpy(b.data() + offset, value, size_t(n));
    return b;
  };
  const int32_t hugeW = 2000000000, seven = 7, negative = -1;
  const int64_t bigBytes = int64_t(1) << 40;
  const struct { const char* what; std::vector<uint8_t> bytes; } cases[] = {
      {"truncated voxels", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"truncated header", std::vector<uint8_t>(good.begin(), good.begin() + 20)},
      {"bad magic", patched(0, "XXXXXXXX", 8)},
      {"unknown kind", patched(8, &seven, 4)},
      {"negative width", patched(12, &negative, 4)},
      {"width beyond the data", patched(12, &hugeW, 4)},
      {"bits do not fit the kind", patched(28, &seven, 4)},
      {"byte count disagrees", patched(40, &bigBytes, 8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeBytes(dir + "/bad.bin", c.bytes);
    FILE* fp = std::fopen((dir + "/bad.bin").c_str(), "rb");
    EXPECT_EQ(PR_FrameReadFile(fp, false, 90), nullptr);
    std::fclose(fp);
  }
}
