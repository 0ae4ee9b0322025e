// Tests of TwkMem: counted memory and memcheck, the progress protocol, strings, files and
// processes, the comparison tolerances, and gzip decompression against the gzip tools.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Clock.h"
#include "OwnedPtrArray.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TestTools.h"
#include "TextCodec.h"
#include "TwkMem.h"

namespace fs = std::filesystem;

namespace {

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

int run(const std::string& command) { return std::system(command.c_str()); }

CString widePath(const fs::path& path) { return CString::fromUtf8(path.string()); }

// Each test gets its own scratch folder and a scripted UI that fails on any unexpected question.
class TwkMemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = twk::testing::testFolder(info->name());
  }
  void TearDown() override {
    PR_SetAllocErrorDisplay(false);
    fs::remove_all(dir_);
  }

  fs::path dir_;
  twk::ScriptedUi script_;
  twk::ScopedUi installed_{script_};
};

// ---------------------------------------------------------------------------------------------
// Counted memory and memcheck
// ---------------------------------------------------------------------------------------------

TEST_F(TwkMemTest, MemcheckReportsLiveBlocksAndCountersReturnToBaseline) {
  setenv("TMPDIR", dir_.c_str(), 1);
  const int64_t baseline = PR_GetTotalAllocSize();
  ASSERT_TRUE(PR_StartMemcheck(false));
  void* a = pf_malloc(100);
  void* b = pf_malloc(200);
  void* zeroed = pf_calloc(50);  // calloc blocks are not tracked
  void* freed = pf_malloc(30);
  pf_free(&freed);
  EXPECT_EQ(freed, nullptr);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline + int64_t(pf_msize(a) + pf_msize(b) + pf_msize(zeroed)));
  ASSERT_TRUE(PR_EndMemcheck());
  unsetenv("TMPDIR");

  const std::string expected =
      "Number of blocks = 2\nTotal Leak Size = 300 bytes\n\n.................................\n"
      "Block = 100\n\nBlock = 200\n\n";
  char* clip = PR_LoadStrFromClipboard();
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(std::string(clip), expected);
  pf_free(&clip);
  ASSERT_EQ(script_.shownFiles.size(), 1u);
  EXPECT_EQ(script_.shownFiles[0], widePath(dir_ / "NotepadTempFile.txt"));
  EXPECT_EQ(script_.shownFileTexts[0], CString::fromUtf8(expected));
  // The viewer file is UTF-16LE with a byte-order mark.
  const std::string file = readBytes(dir_ / "NotepadTempFile.txt");
  ASSERT_GE(file.size(), 4u);
  EXPECT_EQ(file.substr(0, 4), std::string("\xFF\xFEN\0", 4));

  pf_free(&a);
  pf_free(&b);
  pf_free(&zeroed);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  pf_free(&a);  // a second release of the same variable does nothing
  pf_free(static_cast<void*>(nullptr));
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST_F(TwkMemTest, MemcheckWithoutLiveBlocksAndBlocksFreedAfterEnd) {
  setenv("TMPDIR", dir_.c_str(), 1);
  void* before = pf_malloc(64);  // allocated before the check: never reported, freeing it is fine
  ASSERT_TRUE(PR_StartMemcheck(true));
  // Grow the table past its first 256 entries.
  std::vector<void*> blocks(600);
  for (auto& p : blocks) p = pf_malloc(8);
  pf_free(&before);
  for (auto& p : blocks) pf_free(&p);
  ASSERT_TRUE(PR_EndMemcheck());
  unsetenv("TMPDIR");
  char* clip = PR_LoadStrFromClipboard();
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(std::string(clip), "Number of blocks = 0\nTotal Leak Size = 0 bytes\n\n.................................\n");
  pf_free(&clip);
}

TEST_F(TwkMemTest, ReallocKeepsContentsAndRecallocZeroFills) {
  const int64_t baseline = PR_GetTotalAllocSize();
  uint8_t* p = nullptr;
  ASSERT_TRUE(pf_realloc(&p, 100));  // a null pointer acts as a plain allocation
  for (int k = 0; k < 100; ++k) p[k] = uint8_t(k + 1);
  ASSERT_TRUE(pf_realloc(&p, 100000));
  for (int k = 0; k < 100; ++k) ASSERT_EQ(p[k], k + 1);
  ASSERT_TRUE(pf_realloc(&p, 10));
  for (int k = 0; k < 10; ++k) ASSERT_EQ(p[k], k + 1);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline + int64_t(pf_msize(p)));

  // Past the old block's runtime size the grown block is zero.
  const int oldSize = int(pf_msize(p));
  ASSERT_TRUE(pf_recalloc(&p, 5000));
  for (int k = 0; k < 10; ++k) ASSERT_EQ(p[k], k + 1);
  for (int k = oldSize; k < 5000; ++k) ASSERT_EQ(p[k], 0) << k;

  // A failed reallocation keeps the old block.
  uint8_t* old = p;
  EXPECT_FALSE(pf_realloc(&p, int64_t(1) << 62));
  EXPECT_EQ(p, old);
  pf_free(&p);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST_F(TwkMemTest, DuplicateCopiesIntoACountedBlock) {
  const int64_t baseline = PR_GetTotalAllocSize();
  const double values[] = {1.5, -2, 1e60, 7};
  double* copy = pf_duplicate(values, 4);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, values);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(copy[k], values[k]);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline + int64_t(pf_msize(copy)));
  pf_free(&copy);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  // Nothing to copy: no block.
  EXPECT_EQ(pf_duplicate(values, 0), nullptr);
  EXPECT_EQ(pf_duplicate<double>(nullptr, 4), nullptr);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST_F(TwkMemTest, AllocationFailureMessagesFollowTheDisplayFlag) {
  const int64_t huge = int64_t(1) << 62;
  PR_SetAllocErrorDisplay(false);
  EXPECT_EQ(pf_malloc(huge), nullptr);
  EXPECT_TRUE(script_.messages.empty());

  PR_SetAllocErrorDisplay(true);
  const int64_t total = PR_GetTotalAllocSize();
  EXPECT_EQ(pf_malloc(huge), nullptr);
  EXPECT_EQ(pf_calloc(-1), nullptr);
  ASSERT_EQ(script_.messages.size(), 2u);
  EXPECT_EQ(script_.messages[0], FmtStr("Failed to Allocate 4611686018427387904 bytes\nTotal allocated %I64d bytes", total));
  EXPECT_EQ(script_.messages[1], FmtStr("Failed to Calloc -1 bytes\nTotal allocated %I64d bytes", total));
}

TEST_F(TwkMemTest, FreeArrayOfPointersAndMemoryInfo) {
  const int64_t baseline = PR_GetTotalAllocSize();
  auto** arr = static_cast<double**>(pf_malloc(3 * sizeof(double*)));
  arr[0] = static_cast<double*>(pf_malloc(80));
  arr[1] = nullptr;
  arr[2] = static_cast<double*>(pf_calloc(800));
  pf_free_parr(&arr, 3);
  EXPECT_EQ(arr, nullptr);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  pf_free_parr(&arr, 3);                 // null array: nothing
  pf_free_parr(static_cast<void*>(nullptr), 3);  // null address: nothing

  PR_ResetAllocMemInfo();
  EXPECT_EQ(PR_GetTotalAllocSize(), 0);
  void* big = pf_malloc(123456);
  void* small = pf_malloc(10);
  uint64_t peak = 0, largest = 0;
  PR_GetAllocMemInfo(&peak, &largest, true);
  EXPECT_EQ(largest, 123456u);
  EXPECT_EQ(peak, pf_msize(big) + pf_msize(small));
  EXPECT_EQ(script_.lastMessage(), FmtStr("Max used Mem: %I64d\nMax used block: 123456\n", int64_t(peak)));
  pf_free(&big);
  pf_free(&small);
  PR_DisplayMemoryResidual(0);
  EXPECT_EQ(script_.lastMessage(), L"\nMemory Residual = 0 bytes\n");

  uint64_t totalMemory = 0, available = 0;
  EXPECT_TRUE(PR_GetTotalSystemMemory(&totalMemory, &available));
  EXPECT_GT(totalMemory, 0u);
  EXPECT_GT(available, 0u);
  EXPECT_LE(available, totalMemory);
  EXPECT_TRUE(PR_GetTotalSystemMemory(nullptr, nullptr));
}

// ---------------------------------------------------------------------------------------------
// Progress protocol
// ---------------------------------------------------------------------------------------------

struct ProgressLog {
  std::vector<uint64_t> sink;
  std::vector<std::wstring> texts;  // non-null status texts
  int pumps = 0;
  std::wstring startText;
  bool expectText = false;
};
ProgressLog progressLog;

void countingSink(uint64_t value) {
  if (value == 0) progressLog.expectText = true;
  progressLog.sink.push_back(value);
}

// The first text after a reset is the operation's title.
bool countingMessage(const wchar_t* text, bool pump) {
  if (text && progressLog.expectText) {
    progressLog.startText = text;
    progressLog.expectText = false;
    return true;
  }
  if (text) progressLog.texts.push_back(text);
  if (pump) ++progressLog.pumps;
  return true;
}

class ProgressTest : public TwkMemTest {
 protected:
  void SetUp() override {
    TwkMemTest::SetUp();
    progressLog = ProgressLog{};
    MSGBLOCK block;
    block.progressSink = countingSink;
    block.showMessage = countingMessage;
    ASSERT_TRUE(PR_InitFrameFunctions(&block));
    EXPECT_FALSE(PR_InWorkProcess());
  }
  void TearDown() override {
    PR_SetInWorkProcess(false);
    TwkMemTest::TearDown();
  }
  std::vector<uint64_t> percents() const {
    std::vector<uint64_t> out;
    for (uint64_t v : progressLog.sink)
      if (v >= 1 && v <= 99) out.push_back(v);
    return out;
  }
};

TEST_F(ProgressTest, LongLoopReportsAtMostTenThousandTimesWithinOneToNinetyNine) {
  PR_StartMessage(L"Working", true);
  EXPECT_TRUE(PR_InWorkProcess());
  EXPECT_EQ(progressLog.startText, L"Working");
  // The title never reaches the sink as an address: only the reset does.
  EXPECT_EQ(progressLog.sink, std::vector<uint64_t>{PR_MSG_RESET});
  const int64_t n = 1000000;
  for (int64_t i = 0; i < n; ++i) ASSERT_TRUE(PR_SendMessageInterval(1, 98, i, n, true));
  PR_EndMessage(true);
  EXPECT_FALSE(PR_InWorkProcess());

  const auto values = percents();
  EXPECT_GE(values.size(), 9999u);
  EXPECT_LE(values.size(), 10001u);
  EXPECT_EQ(progressLog.pumps, int(values.size()));
  EXPECT_EQ(values.front(), 1u);
  EXPECT_EQ(values.back(), 97u);
  for (uint64_t v : values) ASSERT_TRUE(v >= 1 && v <= 99);
  ASSERT_FALSE(progressLog.sink.empty());
  EXPECT_EQ(progressLog.sink.front(), PR_MSG_RESET);
  EXPECT_EQ(progressLog.sink.back(), PR_MSG_END);

  // A short loop reports every step; a narrow title reaches the sink as wide text.
  progressLog = ProgressLog{};
  PR_StartMessage("Short w\xC3\xA4it", true);
  EXPECT_EQ(progressLog.startText, L"Short w\u00E4it");
  for (int64_t i = 0; i < 50; ++i) PR_SendMessageInterval(0, 100, i, 50, true);
  EXPECT_EQ(percents().size(), 50u);
  PR_EndMessage(true);
}

TEST_F(ProgressTest, PercentMappingClampsToOneAndNinetyNine) {
  const struct {
    int64_t start, end, i, n;
    uint64_t percent;
  } cases[] = {
      {1, 98, 0, 1000000, 1},       {1, 98, 9999, 10000, 97}, {0, 100, 0, 10, 1},
      {0, 200, 5, 10, 99},          {0, 100, 10, 10, 99},         {50, 60, 5, 10, 55},
      {-50, -10, 1, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.end << " at " << c.i << "/" << c.n);
    PR_SetInWorkProcess(true);
    progressLog.sink.clear();
    EXPECT_TRUE(PR_SendMessageInterval(c.start, c.end, c.i, c.n, true));
    ASSERT_EQ(progressLog.sink.size(), 1u);
    EXPECT_EQ(progressLog.sink[0], c.percent);
  }
}

TEST_F(ProgressTest, StoppingEndsTheLoopOnTheNextReportingStep) {
  const int64_t n = 1000000;  // stride 100
  PR_StartMessage(L"Stoppable", true);
  EXPECT_TRUE(PR_SendMessageInterval(1, 98, 500, n, true));
  PR_SetInWorkProcess(false);  // Esc
  EXPECT_TRUE(PR_SendMessageInterval(1, 98, 501, n, true));
  EXPECT_TRUE(PR_SendMessageInterval(1, 98, 599, n, true));
  EXPECT_FALSE(PR_SendMessageInterval(1, 98, 600, n, true));
  EXPECT_TRUE(PR_SendMessageInterval(1, 98, 600, n, false));  // silent callers never stop
  EXPECT_FALSE(PR_DisplayRemainingTime(CString(L"t"), twk::clockMs(), 600, n, true));
  EXPECT_TRUE(PR_DisplayRemainingTime(CString(L"t"), twk::clockMs(), 600, n, false));

  // No step count: nothing is reported and nothing divides by it.
  progressLog.sink.clear();
  PR_SetInWorkProcess(true);
  EXPECT_TRUE(PR_SendMessageInterval(1, 98, 0, 0, true));
  EXPECT_TRUE(PR_SendMessageInterval(1, 98, 5, -3, true));
  EXPECT_TRUE(PR_DisplayRemainingTime(CString(L"t"), twk::clockMs(), 0, 0, true));
  EXPECT_TRUE(PR_DisplayRemainingTime("t", twk::clockMs(), 3, -1, true));
  EXPECT_TRUE(progressLog.sink.empty());

  // A silent end leaves the flag and the sink alone; start with show false does nothing.
  PR_EndMessage(false);
  EXPECT_TRUE(PR_InWorkProcess());
  PR_SetInWorkProcess(false);
  PR_StartMessage(L"silent", false);
  EXPECT_FALSE(PR_InWorkProcess());
  EXPECT_TRUE(progressLog.sink.empty());

  PR_SendMessage(0xFFFFFFFFC00000FFull, true);  // a colour passes unchanged
  PR_SendMessage(42, false);
  PR_SendMessage(43);
  EXPECT_EQ(progressLog.sink, (std::vector<uint64_t>{0xFFFFFFFFC00000FFull, 43}));
  PR_SendSingleMessage(L"status", false);
  EXPECT_EQ(progressLog.texts.back(), L"status");
}

TEST_F(ProgressTest, RemainingTimeText) {
  PR_StartMessage(L"Cases", true);
  // i = 0: the title alone, percent 1.
  EXPECT_TRUE(PR_DisplayRemainingTime(CString(L"Cases 0 of 10"), twk::clockMs(), 0, 10, true));
  EXPECT_EQ(progressLog.texts.back(), L"Cases 0 of 10");
  EXPECT_EQ(progressLog.sink.back(), 1u);

  // Half done after 124.5 s of wall time: 125 s remain.
  const long start = twk::clockMs() - 124500;
  EXPECT_TRUE(PR_DisplayRemainingTime(CString(L"Cases 5 of 10"), start, 5, 10, true));
  EXPECT_EQ(progressLog.texts.back(), L"Cases 5 of 10  2:05 min remaining");
  EXPECT_EQ(progressLog.sink.back(), 49u);  // 5 * 97 / 10 + 1

  EXPECT_TRUE(PR_DisplayRemainingTime("narrow", twk::clockMs() - 3000, 9, 10, true));
  EXPECT_EQ(progressLog.texts.back(), L"narrow  0:01 min remaining");
  EXPECT_EQ(progressLog.sink.back(), 88u);
  PR_EndMessage(true);
}

size_t countOf(const std::vector<uint64_t>& values, uint64_t value) {
  return size_t(std::count(values.begin(), values.end(), value));
}

// Work under a guard that leaves its scope by return, by exception or by running to the end.
bool guardedWork(int exitPath) {
  twk::ProgressGuard progress(L"Guarded", true);
  EXPECT_TRUE(PR_InWorkProcess());
  for (int64_t i = 0; i < 10; ++i) {
    if (!progress.Step(i, 10)) return false;
    if (i == 4 && exitPath == 1) return false;
    if (i == 4 && exitPath == 2) throw std::runtime_error("failed step");
  }
  return true;
}

TEST_F(ProgressTest, GuardEndsTheWorkOnEveryWayOutOfItsScope) {
  for (int exitPath : {0, 1, 2}) {
    SCOPED_TRACE(exitPath);
    progressLog = ProgressLog{};
    if (exitPath == 2) EXPECT_THROW(guardedWork(exitPath), std::runtime_error);
    else EXPECT_EQ(guardedWork(exitPath), exitPath == 0);
    EXPECT_FALSE(PR_InWorkProcess());
    EXPECT_EQ(progressLog.startText, L"Guarded");
    ASSERT_GE(progressLog.sink.size(), 2u);
    EXPECT_EQ(progressLog.sink.front(), PR_MSG_RESET);
    EXPECT_EQ(progressLog.sink.back(), PR_MSG_END);
    EXPECT_EQ(countOf(progressLog.sink, PR_MSG_END), 1u);
    // Step i of 10 on the whole bar: 0 shows as 1, then 10, 20, ...
    const std::vector<uint64_t> expected =
        exitPath == 0 ? std::vector<uint64_t>{1, 10, 20, 30, 40, 50, 60, 70, 80, 90} : std::vector<uint64_t>{1, 10, 20, 30, 40};
    EXPECT_EQ(percents(), expected);
  }

  // An early End is the only end; a silent guard reports nothing and leaves the flag alone.
  progressLog = ProgressLog{};
  {
    twk::ProgressGuard progress("Short", true);
    EXPECT_TRUE(progress.Step(1, 4, 20, 60));
    progress.End();
    EXPECT_FALSE(PR_InWorkProcess());
    EXPECT_TRUE(progress.Step(2, 4));  // after the end nothing is reported or stopped
  }
  EXPECT_EQ(progressLog.sink, (std::vector<uint64_t>{PR_MSG_RESET, 30, PR_MSG_END}));
  progressLog = ProgressLog{};
  {
    twk::ProgressGuard silent(L"Silent", false);
    EXPECT_FALSE(PR_InWorkProcess());
    EXPECT_TRUE(silent.Step(1, 2));
    EXPECT_TRUE(silent.Poll());
    EXPECT_FALSE(silent.Shown());
  }
  EXPECT_TRUE(progressLog.sink.empty());
  EXPECT_EQ(progressLog.pumps, 0);
}

TEST_F(ProgressTest, GuardStopsOnEscAtTheNextStepAndNestedWorkJoinsTheOuter) {
  const int64_t n = 1000000;  // stride 100: Esc is still seen between two reports
  {
    twk::ProgressGuard outer(L"Outer", true);
    EXPECT_TRUE(outer.Step(0, n));
    {
      twk::ProgressGuard inner(L"Inner", true);
      EXPECT_TRUE(inner.Shown());
      EXPECT_TRUE(inner.Step(1, 2));
    }
    // The inner work neither reset the bar nor ended the outer work.
    EXPECT_EQ(progressLog.startText, L"Outer");
    EXPECT_EQ(countOf(progressLog.sink, PR_MSG_RESET), 1u);
    EXPECT_EQ(countOf(progressLog.sink, PR_MSG_END), 0u);
    EXPECT_TRUE(PR_InWorkProcess());
    EXPECT_FALSE(outer.Stopped());

    // Parts that run guards of their own share the outer bar: two halves, each stepped half-way.
    for (int part = 0; part < 2; ++part) {
      outer.NestInto(part * 50, part * 50 + 50);
      twk::ProgressGuard partGuard(L"Part", true);
      progressLog.sink.clear();
      EXPECT_TRUE(partGuard.Step(1, 2));
      EXPECT_EQ(progressLog.sink, std::vector<uint64_t>{uint64_t(part * 50 + 25)});
    }

    twk::ProgressGuard inner(L"Inner again", true);
    const int pumps = progressLog.pumps;
    EXPECT_TRUE(inner.Poll());
    EXPECT_EQ(progressLog.pumps, pumps + 1);
    PR_SetInWorkProcess(false);  // Esc
    EXPECT_TRUE(outer.Stopped());
    EXPECT_TRUE(inner.Stopped());
    EXPECT_FALSE(outer.Step(501, n));  // not a reporting step, stopped all the same
    EXPECT_FALSE(inner.Step(1, 3));
    EXPECT_FALSE(inner.Poll());
  }
  EXPECT_EQ(countOf(progressLog.sink, PR_MSG_END), 1u);
  EXPECT_EQ(progressLog.sink.back(), PR_MSG_END);

  // The next work starts afresh after a stop.
  twk::ProgressGuard next(L"Next", true);
  EXPECT_FALSE(next.Stopped());
  EXPECT_TRUE(next.Step(1, 2));
  EXPECT_EQ(progressLog.startText, L"Next");
}

// ---------------------------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------------------------

TEST_F(TwkMemTest, ExtractAllSubstrings) {
  const struct {
    const wchar_t* text;
    std::vector<std::wstring> fields;
  } cases[] = {
      {L"a,,b,", {L"a", L"b"}},
      {L"alpha,beta,,,gamma", {L"alpha", L"beta", L"gamma"}},
      {L",a,b", {}},  // a leading delimiter gives no field
      {L"", {}},
      {L"single", {L"single"}},
  };
  const int64_t baseline = PR_GetTotalAllocSize();
  for (const auto& c : cases) {
    SCOPED_TRACE(twk::toUtf8(c.text));
    int count = -1;
    CString** fields = PR_ExtractAllSubstrings(c.text, L',', &count);
    ASSERT_EQ(count, int(c.fields.size()));
    EXPECT_EQ(fields == nullptr, c.fields.empty());
    for (int k = 0; k < count; ++k) EXPECT_EQ(fields[k]->wstr(), c.fields[size_t(k)]);
    if (count > 0) {
      EXPECT_EQ(PR_FindStringInx(fields, count, c.fields.back().c_str()), count - 1);
    }
    for (int k = 0; k < count; ++k) delete fields[k];
    pf_free(&fields);
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

// An element that counts its destructions, to see what the owner deletes.
struct Counted {
  explicit Counted(int* deaths) : deaths_(deaths) {}
  ~Counted() { ++*deaths_; }
  int* deaths_;
};

TEST_F(TwkMemTest, OwnedPtrArrayDeletesItsElementsAndFreesTheArrayOnceOnEveryPath) {
  const int64_t baseline = PR_GetTotalAllocSize();
  int deaths = 0;
  // Filled as an extractor fills it: a counted array of elements made with new, appended to.
  auto fill = [&deaths](twk::OwnedPtrArray<Counted, int>& owner, int n) {
    Counted*** items = owner.Items();
    const int from = owner.Count();
    ASSERT_TRUE(pf_realloc(items, int64_t(from + n) * int64_t(sizeof(Counted*))));
    for (int k = 0; k < n; ++k) (*items)[from + k] = new Counted(&deaths);
    *owner.CountPtr() = from + n;
  };
  {
    twk::OwnedPtrArray<Counted, int> owner;
    fill(owner, 2);
    fill(owner, 3);
    EXPECT_EQ(owner.Count(), 5);
  }
  EXPECT_EQ(deaths, 5);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);

  // Reset empties the owner at once; Release hands the array on and deletes nothing.
  deaths = 0;
  twk::OwnedPtrArray<Counted, int> owner;
  fill(owner, 2);
  owner.Reset();
  EXPECT_EQ(deaths, 2);
  EXPECT_EQ(owner.Count(), 0);
  fill(owner, 4);
  int count = 0;
  Counted** handed = owner.Release(&count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(owner.Count(), 0);
  EXPECT_EQ(deaths, 2);
  for (int k = 0; k < count; ++k) delete handed[k];  // the new owner's part
  pf_free(&handed);
  EXPECT_EQ(deaths, 6);

  // The substrings of a text, held without a hand-written delete loop.
  {
    twk::OwnedPtrArray<CString, int> fields;
    *fields.Items() = PR_ExtractAllSubstrings(L"a,b,c", L',', fields.CountPtr());
    ASSERT_EQ(fields.Count(), 3);
    EXPECT_EQ(fields[2]->wstr(), L"c");
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST_F(TwkMemTest, NumberTextsAndFormatting) {
  const struct {
    int index, width;
    const wchar_t* text;
  } widths[] = {{7, 3, L"007"}, {7, -150, L"007"}, {1234, 2, L"1234"}, {5, 0, L"5"}, {42, -7, L"42"}, {0, 4, L"0000"}};
  for (const auto& c : widths) {
    SCOPED_TRACE(testing::Message() << c.index << "/" << c.width);
    EXPECT_EQ(PR_GetFixedWidthIndexString(c.index, c.width), c.text);
  }

  const struct {
    int v, digits;
  } digits[] = {{0, 1}, {9, 1}, {10, 2}, {2147483647, 10}, {-5, 0}};
  for (const auto& c : digits) EXPECT_EQ(PR_NumReqDigits(c.v), c.digits) << c.v;

  const struct {
    const wchar_t* in;
    const wchar_t* out;
  } cleaned[] = {{L"-1.5e3", L"1.53"}, {L"+12.75", L"12.75"}, {L"abc", L""}};
  for (const auto& c : cleaned) {
    std::wstring text = c.in;
    PR_DoubleFloatRemoveNonDigits(text.data());
    EXPECT_EQ(std::wstring(text.c_str()), c.out);
  }

  EXPECT_EQ(FmtStr("%s = %I64d", L"w\u00E9de", int64_t(1) << 40), L"w\u00E9de = 1099511627776");
  EXPECT_EQ(FmtStr(L"%s|%S|%.2Lf", L"wide", "narrow", 2.5), L"wide|narrow|2.50");

  CString repeated = L";;a;;;b;";
  PR_RemoveRepeatingDelimiters(repeated, L';');
  EXPECT_EQ(repeated, L";a;b;");

  CString number;
  PR_GenerateRandom128bit(number);
  EXPECT_FALSE(number.IsEmpty());
  EXPECT_EQ(number.SpanIncluding(L"0123456789"), number);
}

TEST_F(TwkMemTest, SearchingComparingAndConversions) {
  const wchar_t* names[] = {L"Liver", L"KIDNEY", L"liver", nullptr, L"Spleen"};
  EXPECT_EQ(PR_CountMatchingStrings(true, names, 5, L"liver"), 1);
  EXPECT_EQ(PR_CountMatchingStrings(false, names, 5, L"LIVER"), 2);
  EXPECT_EQ(PR_CountMatchingStrings(false, names, 0, L"LIVER"), 0);
  EXPECT_TRUE(PR_StringPresentInArrNonCase(names, 5, L"kidney"));
  EXPECT_FALSE(PR_StringPresentInArrNonCase(names, 2, L"spleen"));
  EXPECT_EQ(PR_SubstringPosNonCase(L"Series T1_MPRAGE", L"mprage"), 10);
  EXPECT_EQ(PR_SubstringPosNonCase(L"abc", L"x"), -1);
  EXPECT_TRUE(PR_SubstringPresentNonCase(L"FLAIR", L"air"));
  EXPECT_TRUE(PR_StringEndsWith(L"image.NII.GZ", L".nii.gz", false));
  EXPECT_FALSE(PR_StringEndsWith(L"image.NII.GZ", L".nii.gz", true));
  EXPECT_FALSE(PR_StringEndsWith(L"gz", L".nii.gz", false));
  const int values[] = {3, -7, 12};
  EXPECT_TRUE(PR_AbsPresentInBuf(values, 3, 7));
  EXPECT_TRUE(PR_AbsPresentInBuf(values, 3, -3));
  EXPECT_FALSE(PR_AbsPresentInBuf(values, 2, 12));
  EXPECT_EQ(PR_FindStringInx(nullptr, 3, L"a"), -1);

  // Windows-1252 both ways; the sized forms never write past their buffer.
  wchar_t wide[16];
  CstrToTstr("caf\xE9 \x80", wide);
  EXPECT_EQ(std::wstring(wide), L"caf\u00E9 \u20AC");
  char narrow[16];
  TstrToCstr(L"caf\u00E9 \u20AC \u4E2D", narrow);
  EXPECT_EQ(std::string(narrow), "caf\xE9 \x80 ?");
  char small[5];
  std::memset(small, 'x', sizeof small);
  TstrToCstr(L"truncated", small, 4);
  EXPECT_EQ(std::string(small, 4), std::string("tru\0", 4));
  EXPECT_EQ(small[4], 'x');
  wchar_t smallWide[5];
  std::wmemset(smallWide, L'x', 5);
  CstrToTstr("truncated", smallWide, 4);
  EXPECT_EQ(std::wstring(smallWide, 4), std::wstring(L"tru\0", 4));
  EXPECT_EQ(smallWide[4], L'x');
  std::strcpy(narrow, "keep");
  TstrToCstr(nullptr, narrow);
  EXPECT_STREQ(narrow, "keep");

  char mixed[] = "MiXeD 123";
  PR_StringToLower(mixed);
  EXPECT_STREQ(mixed, "mixed 123");

  wchar_t* copy = PR_CopyString(L"copy me");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::wstring(copy), L"copy me");
  EXPECT_EQ(pf_msize(copy) >= 8 * sizeof(wchar_t), true);
  pf_free(&copy);
  EXPECT_EQ(PR_CopyString(nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Numeric and geometry checks
// ---------------------------------------------------------------------------------------------

TEST_F(TwkMemTest, ToleranceAndGeometryChecks) {
  const struct {
    double a, b;
    bool spacingEqual, positionEqual;
  } pairs[] = {
      {1.0, 1.01, true, false},     {1.0, 1.02, false, false},     {10.0, 10.0009, true, true},
      {10.0, 10.001, true, false},  {-3.5, -3.5, true, true},      {250.0, 250.0099, true, false},
      {0.5, 0.5 - 0.0005, true, true},
  };
  for (const auto& c : pairs) {
    SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
    SPC s1{c.a, c.a, c.a}, s2{c.a, c.b, c.a};
    EXPECT_EQ(PR_IsEqualSpc(&s1, &s2), c.spacingEqual);
    EXPECT_EQ(PR_IsIsoPix(&s2), c.spacingEqual);
    DPOINT3D p1{c.a, 0, 0}, p2{c.b, 0, 0};
    EXPECT_EQ(PR_IsEqualImgpos(&p1, &p2), c.positionEqual);
    const double q1[3] = {1, 2, c.a}, q2[3] = {1, 2, c.b};
    EXPECT_EQ(PR_IsEqualImgpos(q1, q2), c.positionEqual);
  }

  DPOINT3D row1[2] = {{0, 0, 0}, {1, 1, 1}}, row2[2] = {{0, 0, 0}, {1, 1, 1.002}};
  EXPECT_TRUE(PR_AreEqualImgpos(row1, row2, 1));
  EXPECT_FALSE(PR_AreEqualImgpos(row1, row2, 2));
  EXPECT_TRUE(PR_AreEqualImgpos(row1, row2, 0));

  const double o1[6] = {1, 0, 0, 0, 1, 0}, o2[6] = {1, 0, 0, 0, 1, 0.000009}, o3[6] = {1, 0, 0, 0, 1, 0.00002};
  EXPECT_TRUE(PR_IsEqualOrient(o1, o2));
  EXPECT_FALSE(PR_IsEqualOrient(o1, o3));
  EXPECT_TRUE(PR_IsEqual(o1, o2, 5));
  EXPECT_FALSE(PR_IsEqual(o1, o2, 6));
  EXPECT_TRUE(PR_IsEqual(o1, o2, 0));
  EXPECT_FALSE(PR_IsEqual(o1, o1, -1));

  DYNCRD d1, d2;
  d1.time = d2.time = 5;
  d2.bValue = 800;
  EXPECT_TRUE(PR_IsEqualDynCrd(DYN_TIME, &d1, &d2));
  EXPECT_FALSE(PR_IsEqualDynCrd(DYN_BVALUE, &d1, &d2));
  EXPECT_TRUE(PR_IsEqualDynCrd(DYN_ECHO_TIME, &d1, &d2));
  EXPECT_FALSE(PR_IsEqualDynCrd(DYNDIM(4), &d1, &d1));  // kind 4 is never equal
  d2.timeEnd = 1;
  EXPECT_FALSE(PR_IsEqualDynCrd(DYN_TIME, &d1, &d2));

  const struct {
    int64_t width;
    int bits;
    int64_t bytes;
    FRMTYPE type;
  } lines[] = {{17, 1, 4, FRM_ROI}, {16, 1, 2, FRM_ROI}, {17, 8, 17, FRM_INT}, {17, 16, 34, FRM_INT},
               {17, 32, 68, FRM_INT}, {17, 64, 136, FRM_REAL}, {17, 12, -1, FRM_INVALID}};
  for (const auto& c : lines) {
    SCOPED_TRACE(c.bits);
    EXPECT_EQ(PR_VolLineSize(c.width, c.bits), c.bytes);
    EXPECT_EQ(VA_VolType(c.bits), c.type);
  }
  ASSERT_EQ(script_.messages.size(), 1u);
  EXPECT_EQ(script_.messages[0], L"PR_VolLineSize :  Incorrect number of bits");

  const DPOINT3D cloud[] = {{0, 0, 0}, {3, 0, 0}, {0, 4, 0}, {1, 1, 1}};
  DPOINT3D vector{9, 9, 9};
  EXPECT_DOUBLE_EQ(PR_PointSetDiameter(cloud, 4, &vector), 5.0);
  EXPECT_DOUBLE_EQ(vector.x, 3.0);
  EXPECT_DOUBLE_EQ(vector.y, -4.0);
  EXPECT_EQ(PR_PointSetDiameter(cloud, 1, &vector), 0.0);

  const double orient[6] = {1, 0, 0, 0, 1, 0};
  double normal[3];
  PR_GetNormalFromOrient(orient, normal);
  EXPECT_EQ(normal[0], 0);
  EXPECT_EQ(normal[1], 0);
  EXPECT_EQ(normal[2], 1);

  double values[4] = {1.0, NAN, INFINITY, -2.0};
  EXPECT_FALSE(PR_ArrayValidNumbers(values, 4));
  EXPECT_TRUE(PR_ArrayValidNumbers(values, 1));
  PR_ArrayReplaceInvalidNumbers(values, 4, 1e60);
  EXPECT_EQ(values[1], 1e60);
  EXPECT_EQ(values[2], 1e60);
  EXPECT_TRUE(PR_ArrayValidNumbers(values, 4));
  const uint8_t flags[3] = {1, 2, 0};
  EXPECT_TRUE(PR_IsValidResult(flags, 2));
  EXPECT_FALSE(PR_IsValidResult(flags, 3));

  double swapped[1] = {1.0};
  PR_SwapByteOrder(swapped, 1);
  uint64_t bits;
  std::memcpy(&bits, swapped, 8);
  EXPECT_EQ(bits, 0x000000000000F03Full);
}

// ---------------------------------------------------------------------------------------------
// Files, clipboard, processes and system
// ---------------------------------------------------------------------------------------------

TEST_F(TwkMemTest, FieldReadersAndTaskSplitting) {
  uint8_t bytes[] = {1, 2, 3, 4, 5};
  uint8_t* cursor = bytes;
  EXPECT_EQ(pf_readUIHT32(&cursor, 3), 3u * 65536u + 2u * 256u + 1u);
  EXPECT_EQ(cursor, bytes + 3);
  EXPECT_EQ(pf_readUIHT64(&cursor, 2), 0x0504u);
  EXPECT_EQ(cursor, bytes + 5);
  cursor = bytes;
  EXPECT_EQ(pf_readUIHT32(&cursor, 5), 0u);
  EXPECT_EQ(pf_readUIHT64(&cursor, 0), 0u);
  EXPECT_EQ(cursor, bytes);
  EXPECT_EQ(pf_readUIHT32(&cursor, 4), 0x04030201u);

  const struct {
    int64_t workers, tasks, chunks, size;
  } splits[] = {{4, 10, 5, 2}, {4, 3, 3, 1}, {3, 9, 3, 3}, {2, 0, 0, 1}};
  for (const auto& c : splits) {
    SCOPED_TRACE(testing::Message() << c.workers << " workers, " << c.tasks << " tasks");
    int64_t chunks = -1, size = -1;
    EXPECT_TRUE(FM_GetEqualTasks(c.workers, c.tasks, &chunks, &size));
    EXPECT_EQ(chunks, c.chunks);
    EXPECT_EQ(size, c.size);
  }
  int64_t chunks = 0, size = 0;
  FM_GetEqualTasks(0, 1000, &chunks, &size);
  EXPECT_EQ(size, std::max<int64_t>(1, 1000 / PR_GetNumLogicalCpus()));

  const int64_t cpus = PR_GetNumLogicalCpus();
  int64_t batches = 0, batchSize = 0;
  FM_GetBatchParameters(1, 1000, &batches, &batchSize);
  EXPECT_EQ(batchSize, cpus);
  EXPECT_EQ(batches, (1000 + cpus - 1) / cpus);
  FM_GetBatchParameters(-1, 1, &batches, &batchSize);
  EXPECT_EQ(batchSize, 1);
  EXPECT_EQ(batches, 1);
  FM_GetBatchParameters(0, 5, &batches, &batchSize);  // no workers asked for: still one
  EXPECT_EQ(batchSize, 1);
  EXPECT_EQ(batches, 5);
}

TEST_F(TwkMemTest, FileSaveAndLoad) {
  const CString narrowPath = widePath(dir_ / "narrow.txt");
  EXPECT_TRUE(PR_FileSave(narrowPath, "line\n\xE9"));
  EXPECT_EQ(readBytes(dir_ / "narrow.txt"), "line\n\xE9");
  EXPECT_TRUE(PR_FileSave(widePath(dir_ / "wide.txt"), L"A\u00E9"));
  EXPECT_EQ(readBytes(dir_ / "wide.txt"), std::string("\xFF\xFE" "A\0\xE9\0", 6));

  const std::string payload("\0\1\2binary\xFF", 10);
  EXPECT_TRUE(PR_FileSave(widePath(dir_ / "data.bin"), payload.data(), int64_t(payload.size()), true));
  int64_t size = 0;
  void* loaded = PR_FileLoad(widePath(dir_ / "data.bin"), nullptr, &size, true);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(std::string(static_cast<char*>(loaded), size_t(size)), payload);
  pf_free(&loaded);

  // A differing expected size is reported even without showErrors.
  int64_t expected = 11;
  size = -1;
  EXPECT_EQ(PR_FileLoad(widePath(dir_ / "data.bin"), &expected, &size, false), nullptr);
  EXPECT_EQ(size, 0);
  ASSERT_EQ(script_.messages.size(), 1u);
  EXPECT_EQ(script_.messages[0], L"PR_FileLoad : File size differs from expected");
  expected = 10;
  loaded = PR_FileLoad(widePath(dir_ / "data.bin"), &expected, nullptr, false);
  EXPECT_NE(loaded, nullptr);
  pf_free(&loaded);

  const CString missing = widePath(dir_ / "missing.bin");
  EXPECT_EQ(PR_FileLoad(missing, nullptr, nullptr, false), nullptr);
  EXPECT_EQ(script_.messages.size(), 1u);
  EXPECT_EQ(PR_FileLoad(missing, nullptr, nullptr, true), nullptr);
  EXPECT_EQ(script_.lastMessage(), L"Failed to load file : " + missing);
  const CString unwritable = widePath(dir_ / "no" / "such" / "folder.bin");
  EXPECT_FALSE(PR_FileSave(unwritable, payload.data(), 3, true));
  EXPECT_EQ(script_.lastMessage(), L"Unable to save file : " + unwritable);
}

TEST_F(TwkMemTest, ClipboardBufferAndHooks) {
  EXPECT_TRUE(PR_CopyStrToClipboard(L"Stat\u00E9\tvalue"));
  char* text = PR_LoadStrFromClipboard();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "Stat\xE9\tvalue");
  pf_free(&text);

  std::wstring desktop;
  bool haveText = false;
  PR_SetClipboardHooks([&](std::wstring& t) { t = desktop; return haveText; },
                       [&](const std::wstring& t) { desktop = t; haveText = true; return true; });
  EXPECT_EQ(PR_LoadStrFromClipboard(), nullptr);
  PR_CopyStrToClipboard("caf\xE9");
  EXPECT_EQ(desktop, L"caf\u00E9");
  text = PR_LoadStrFromClipboard();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "caf\xE9");
  pf_free(&text);

  PR_SetClipboardHooks(nullptr, [](const std::wstring&) { return false; });
  PR_CopyStrToClipboard("busy");
  EXPECT_EQ(script_.lastMessage(), L"PR_CopyStrToClipboard : Cannot open the Clipboard");
  PR_SetClipboardHooks(nullptr, nullptr);
}

TEST_F(TwkMemTest, ExecuteCommandLine) {
  // Quoted arguments arrive as single words.
  const fs::path out = dir_ / "args.txt";
  const CString arguments = L"-c 'printf \"%s|\" \"$@\" > " + widePath(out) + L"' sh \"two words\" plain";
  EXPECT_TRUE(PR_ExecuteCommandLine(L"/bin/sh", arguments, true, 10, true));
  EXPECT_EQ(readBytes(out), "two words|plain|");

  // A program that outlives the timeout: false, and it keeps running.
  const fs::path pidFile = dir_ / "pid.txt";
  EXPECT_FALSE(PR_ExecuteCommandLine(L"sh", L"-c \"echo $$ > " + widePath(pidFile) + L"; exec sleep 5\"", true, 1, true));
  EXPECT_EQ(script_.lastMessage(), L"PR_ExecuteCommandLine : sh has failed");
  const pid_t pid = pid_t(std::atoi(readBytes(pidFile).c_str()));
  ASSERT_GT(pid, 0);
  EXPECT_EQ(kill(pid, 0), 0);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);

  script_.clear();
  EXPECT_FALSE(PR_ExecuteCommandLine(L"/no/such/program", nullptr, false, 0, true));
  EXPECT_EQ(script_.lastMessage(), L"PR_ExecuteCommandLine : CreateProcess failed : No such file or directory");
  EXPECT_FALSE(PR_ExecuteCommandLine(L"no-such-program-twk", L"x", true, 1, false));
  EXPECT_EQ(script_.messages.size(), 1u);

  // Detached: returns at once; the program runs on in its own session.
  const fs::path marker = dir_ / "detached.txt";
  const fs::path release = dir_ / "release";
  EXPECT_TRUE(PR_ExecuteCommandLine(L"/bin/sh",
                                    L"-c \"for i in $(seq 200); do [ -e " + widePath(release) + L" ] && break; sleep 0.05; done; "
                                        L"cut -d' ' -f6 /proc/$$/stat > " + widePath(marker) + L"\"",
                                    false, 0, true));
  writeBytes(release, "");
  for (int k = 0; k < 400 && readBytes(marker).empty(); ++k) usleep(25000);
  const std::string session = readBytes(marker);
  ASSERT_FALSE(session.empty());
  EXPECT_NE(std::atoi(session.c_str()), int(getsid(0)));
}

TEST_F(TwkMemTest, TextViewerSystemTextsAndEntries) {
  EXPECT_TRUE(PR_NotepadExeOpenString(widePath(dir_), L"Table\t1\n"));
  ASSERT_EQ(script_.shownFiles.size(), 1u);
  EXPECT_EQ(script_.shownFiles[0], widePath(dir_ / "NotepadTempFile.txt"));
  EXPECT_EQ(script_.shownFileTexts[0], L"Table\t1\n");
  EXPECT_FALSE(PR_NotepadExeOpenString(widePath(dir_ / "missing"), L"x"));
  EXPECT_EQ(script_.shownFiles.size(), 1u);
  EXPECT_TRUE(PR_NotepadExeOpenFile(widePath(dir_ / "NotepadTempFile.txt")));
  EXPECT_EQ(script_.shownFiles.size(), 2u);

  CString build;
  PR_GetBuildNumber(build);
  EXPECT_EQ(build, L"483");
  errno = ENOENT;
  PR_DisplaySystemError(L"Opening");
  EXPECT_EQ(script_.lastMessage(), L"Opening: No such file or directory (build 483)");
  errno = 0;
  EXPECT_TRUE(PR_GetLastErrorStr().IsEmpty());
  EXPECT_EQ(PR_PrintStack(), nullptr);
  EXPECT_FALSE(PR_RegistryKeyPresent(L"SOFTWARE\\Tarnwick"));
  EXPECT_FALSE(PR_TestRegistryKey(L"SOFTWARE\\Tarnwick", L"Path"));

  EXPECT_NE(PR_GetProcAddress(nullptr, "malloc"), nullptr);
  EXPECT_EQ(PR_GetProcAddress(nullptr, "TWKANN_NoSuchEntry"), nullptr);
  EXPECT_EQ(script_.lastMessage(), L"Loading DLL: unable to locate TWKANN_NoSuchEntry");
  EXPECT_GE(PR_GetNumLogicalCpus(), 1);
}

// ---------------------------------------------------------------------------------------------
// Gzip decompression
// ---------------------------------------------------------------------------------------------

// A few megabytes of text that compress well but not trivially.
std::string sampleText(size_t bytes, unsigned seed) {
  std::string text;
  text.reserve(bytes + 64);
  uint32_t state = seed;
  while (text.size() < bytes) {
    state = state * 1664525u + 1013904223u;
    text += "voxel " + std::to_string(state % 4096) + (state & 0x100 ? "\t" : "\n");
  }
  text.resize(bytes);
  return text;
}

class GzipTest : public TwkMemTest {
 protected:
  // Decompresses path both ways and compares with the reference bytes.
  void expectBothWays(const fs::path& gz, const std::string& reference) {
    SCOPED_TRACE(gz.filename().string());
    const std::string packed = readBytes(gz);
    int64_t length = -1;
    uint8_t* out = PR_gunzip_to_buf(reinterpret_cast<const uint8_t*>(packed.data()), int64_t(packed.size()), &length);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(length, int64_t(reference.size()));
    EXPECT_TRUE(std::memcmp(out, reference.data(), reference.size()) == 0);
    pf_free(&out);

    const fs::path target = dir_ / (gz.filename().string() + ".out");
    EXPECT_TRUE(PR_gunzip_to_file(widePath(gz), widePath(target), true));
    EXPECT_TRUE(readBytes(target) == reference);
    EXPECT_TRUE(script_.messages.empty()) << twk::toUtf8(script_.lastMessage().wstr());
  }
  std::string gunzipReference(const fs::path& gz) {
    const fs::path ref = dir_ / (gz.filename().string() + ".ref");
    EXPECT_EQ(run("gzip -dc '" + gz.string() + "' > '" + ref.string() + "'"), 0);
    return readBytes(ref);
  }
};

TEST_F(GzipTest, SingleAndMultiMemberFilesMatchGzip) {
  const fs::path part1 = dir_ / "part1.txt", part2 = dir_ / "part2.txt", empty = dir_ / "empty.txt";
  writeBytes(part1, sampleText(3000000, 1));
  writeBytes(part2, sampleText(700000, 2));
  writeBytes(empty, "");
  ASSERT_EQ(run("gzip -c '" + part1.string() + "' > '" + (dir_ / "single.gz").string() + "'"), 0);
  if (run("command -v pigz > /dev/null") == 0) {
    ASSERT_EQ(run("pigz -b 128 -c '" + part1.string() + "' > '" + (dir_ / "pigz.gz").string() + "'"), 0);
    expectBothWays(dir_ / "pigz.gz", gunzipReference(dir_ / "pigz.gz"));
  }
  // Three concatenated members, the middle one empty.
  ASSERT_EQ(run("cd '" + dir_.string() + "' && gzip -c part2.txt > b.gz && gzip -c empty.txt > e.gz && "
                "cat single.gz e.gz b.gz > multi.gz"),
            0);
  const std::string single = gunzipReference(dir_ / "single.gz");
  EXPECT_EQ(single, readBytes(part1));
  expectBothWays(dir_ / "single.gz", single);
  const std::string multi = gunzipReference(dir_ / "multi.gz");
  EXPECT_EQ(multi.size(), 3700000u);
  expectBothWays(dir_ / "multi.gz", multi);
}

TEST_F(GzipTest, NiftiWrittenByNibabel) {
  const fs::path nii = dir_ / "volume.nii.gz";
  const std::string script =
      "import nibabel, numpy\n"
      "data = (numpy.arange(32 * 24 * 10, dtype=numpy.int16) % 977).reshape(32, 24, 10)\n"
      "nibabel.save(nibabel.Nifti1Image(data, numpy.diag([0.9, 0.9, 3.0, 1.0])), '" +
      nii.string() + "')\n";
  writeBytes(dir_ / "write.py", script);
  TWK_REQUIRE_TOOL(run("/usr/bin/python3 -c 'import nibabel' 2> /dev/null") == 0, "python3-nibabel of Debian");
  ASSERT_EQ(run("/usr/bin/python3 '" + (dir_ / "write.py").string() + "'"), 0);
  const std::string reference = gunzipReference(nii);
  ASSERT_GT(reference.size(), 348u);
  int32_t headerSize = 0;
  std::memcpy(&headerSize, reference.data(), 4);
  EXPECT_EQ(headerSize, 348);
  expectBothWays(nii, reference);
}

TEST_F(GzipTest, ZlibStreamAndOutputGrowth) {
  // A zlib-wrapped stream is accepted.
  const std::string text = sampleText(200000, 3);
  std::string packed(compressBound(uLong(text.size())), '\0');
  uLongf packedSize = uLongf(packed.size());
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                      reinterpret_cast<const Bytef*>(text.data()), uLong(text.size()), 9),
            Z_OK);
  int64_t length = 0;
  uint8_t* out = PR_gunzip_to_buf(reinterpret_cast<const uint8_t*>(packed.data()), int64_t(packedSize), &length);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(length, int64_t(text.size()));
  EXPECT_EQ(std::memcmp(out, text.data(), text.size()), 0);
  pf_free(&out);

  // Five million zeros: the buffer starts at four times the input and grows by half its size up
  // to two million bytes, then by a million; the largest request is the last capacity.
  const fs::path zeros = dir_ / "zeros.bin";
  writeBytes(zeros, std::string(5000000, '\0'));
  ASSERT_EQ(run("gzip -9 -c '" + zeros.string() + "' > '" + zeros.string() + ".gz'"), 0);
  const std::string gz = readBytes(zeros.string() + ".gz");
  int64_t capacity = std::min<int64_t>(4 * int64_t(gz.size()), 1000000);
  std::vector<int64_t> steps{capacity};
  while (capacity < 5000000) {
    capacity += std::min<int64_t>(capacity / 2, 1000000);
    steps.push_back(capacity);
  }
  PR_ResetAllocMemInfo();
  out = PR_gunzip_to_buf(reinterpret_cast<const uint8_t*>(gz.data()), int64_t(gz.size()), &length);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(length, 5000000);
  uint64_t peak = 0, largest = 0;
  PR_GetAllocMemInfo(&peak, &largest, false);
  EXPECT_EQ(int64_t(largest), steps.back());
  EXPECT_GT(steps.size(), 5u);
  pf_free(&out);

  EXPECT_EQ(PR_gunzip_to_buf(nullptr, 10, &length), nullptr);
  EXPECT_EQ(PR_gunzip_to_buf(reinterpret_cast<const uint8_t*>(gz.data()), 0, &length), nullptr);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(script_.messages.empty());
}

TEST_F(GzipTest, TruncatedAndCorruptInputLeaveNothingBehind) {
  const fs::path source = dir_ / "source.txt";
  writeBytes(source, sampleText(400000, 4));
  ASSERT_EQ(run("gzip -c '" + source.string() + "' > '" + (dir_ / "whole.gz").string() + "'"), 0);
  const std::string whole = readBytes(dir_ / "whole.gz");

  // Cut short: the buffer variant reports the truncation and returns nothing.
  const std::string cut = whole.substr(0, whole.size() / 2);
  int64_t length = -1;
  EXPECT_EQ(PR_gunzip_to_buf(reinterpret_cast<const uint8_t*>(cut.data()), int64_t(cut.size()), &length), nullptr);
  EXPECT_EQ(length, 0);
  ASSERT_EQ(script_.messages.size(), 1u);
  EXPECT_EQ(script_.messages[0], L"PR_gunzip_to_buf : No progress possible: likely truncated input");

  // The file variant: a message of its own and no target file.
  writeBytes(dir_ / "cut.gz", cut);
  const fs::path cutTarget = dir_ / "cut.out";
  EXPECT_FALSE(PR_gunzip_to_file(widePath(dir_ / "cut.gz"), widePath(cutTarget), false));
  EXPECT_FALSE(fs::exists(cutTarget));
  ASSERT_EQ(script_.messages.size(), 2u);
  EXPECT_EQ(script_.messages[1], L"gzclose reported CRC/length error");

  // A wrong CRC in the trailer.
  std::string badCrc = whole;
  badCrc[badCrc.size() - 8] = char(badCrc[badCrc.size() - 8] ^ 0x5A);
  writeBytes(dir_ / "crc.gz", badCrc);
  const fs::path crcTarget = dir_ / "crc.out";
  writeBytes(crcTarget, "older file");
  EXPECT_FALSE(PR_gunzip_to_file(widePath(dir_ / "crc.gz"), widePath(crcTarget), true));
  EXPECT_FALSE(fs::exists(crcTarget));
  EXPECT_EQ(script_.messages.size(), 3u);
  EXPECT_EQ(PR_gunzip_to_buf(reinterpret_cast<const uint8_t*>(badCrc.data()), int64_t(badCrc.size()), &length), nullptr);
  EXPECT_EQ(script_.lastMessage(), L"PR_gunzip_to_buf : No progress possible: likely truncated input");

  // Missing source, unwritable target.
  script_.clear();
  EXPECT_FALSE(PR_gunzip_to_file(widePath(dir_ / "none.gz"), widePath(dir_ / "none.out"), false));
  EXPECT_EQ(script_.lastMessage(), L"source gzopen failed");
  EXPECT_FALSE(fs::exists(dir_ / "none.out"));
  EXPECT_FALSE(PR_gunzip_to_file(widePath(dir_ / "whole.gz"), widePath(dir_ / "no" / "folder.out"), false));
  EXPECT_EQ(script_.lastMessage(), L"target fopen failed");
}

}  // namespace
