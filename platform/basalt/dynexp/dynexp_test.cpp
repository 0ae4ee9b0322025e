// The kinetic-model host: binding the built plug-in, refusing absent or incomplete ones, deep
// copies, and the dynamic-experiment block of documents (round trips, damaged blocks).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "DynExp.h"
#include "ScriptedUi.h"
#include "dynexp/DynExpDomain.h"
#include "serial/MemFile.h"
#include "TestFolder.h"

namespace {

namespace fs = std::filesystem;

CString wide(const char* s) { return CString(s); }

fs::path tempFolder() {
  fs::path dir = twk::testing::testFolder() / "dynexp_test";
  fs::create_directories(dir);
  return dir;
}

// A host with settings in every stored field, not bound to a plug-in.
std::unique_ptr<CDynExp> filledHost() {
  auto h = std::make_unique<CDynExp>();
  h->currentModel = 7;
  for (int i = 0; i < DYNEXP_NUM_OUTPUTS; ++i) h->parmReq[i] = i % 3 == 0;
  h->models.resize(3);
  h->models[0] = {0, {}, 1, 0, 0};
  h->models[1] = {4, {0.2, 0.95, 0.9, 0.5}, 7, 25, 400};
  h->models[2] = {1, {-3.5}, 2, 5, 10};
  h->tissueConc.method = 4;
  h->tissueConc.flipAngle = 10.0;
  h->tissueConc.tr = 0.0057;
  h->tissueConc.averageNext = 1;
  h->ifuncConc.method = 2;
  h->ifuncConc.r1 = 4.2;
  h->bloodAttrib.t1 = 1.48;
  h->ifuncName[0] = L"AIF";
  h->ifuncName[2] = L"Portal vein \u00e9\U0001F600";  // outside the 8-bit code page and the BMP
  h->ifunc[0].count = 3;
  h->ifunc[2].count = INPUTFUNC_MAX_POINTS;
  for (int i = 0; i < INPUTFUNC_MAX_POINTS; ++i) {
    h->ifunc[2].times[i] = 0.5 * i;
    h->ifunc[2].values[i] = 1.0 / (1 + i);
  }
  const double t[] = {0, 1.5, 3}, v[] = {0, 5.25, 2};
  std::memcpy(h->ifunc[0].times, t, sizeof t);
  std::memcpy(h->ifunc[0].values, v, sizeof v);
  h->outName[0] = L"Ktrans";  // refilled by calculations, not stored
  return h;
}

std::vector<uint8_t> blockOf(const CDynExp& host, bool has4D = true) {
  MFILE* mf = PR_MemFileOpen(0);
  EXPECT_TRUE(host.Write(mf, has4D));
  std::vector<uint8_t> bytes = mf->bytes;
  PR_MemFileClose(&mf);
  return bytes;
}

void expectSameSettings(const CDynExp& a, const CDynExp& b) {
  EXPECT_EQ(a.currentModel, b.currentModel);
  EXPECT_EQ(0, std::memcmp(a.parmReq, b.parmReq, sizeof a.parmReq));
  ASSERT_EQ(a.models.size(), b.models.size());
  for (size_t m = 0; m < a.models.size(); ++m) {
    SCOPED_TRACE(m);
    const DYNEXP_MODELSET &p = a.models[m], &q = b.models[m];
    EXPECT_EQ(p.numFreeParms, q.numFreeParms);
    EXPECT_EQ(0, std::memcmp(p.freeParms, q.freeParms, sizeof p.freeParms));
    EXPECT_EQ(p.optimization, q.optimization);
    EXPECT_EQ(p.grid, q.grid);
    EXPECT_EQ(p.iterations, q.iterations);
  }
  EXPECT_EQ(0, std::memcmp(&a.tissueConc, &b.tissueConc, sizeof a.tissueConc));
  EXPECT_EQ(0, std::memcmp(&a.ifuncConc, &b.ifuncConc, sizeof a.ifuncConc));
  EXPECT_EQ(0, std::memcmp(&a.bloodAttrib, &b.bloodAttrib, sizeof a.bloodAttrib));
  for (int i = 0; i < DYNEXP_NUM_INPUTFUNCS; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a.ifuncName[i], b.ifuncName[i]);
    ASSERT_EQ(a.ifunc[i].count, b.ifunc[i].count);
    const size_t n = size_t(a.ifunc[i].count) * sizeof(double);
    EXPECT_EQ(0, std::memcmp(a.ifunc[i].times, b.ifunc[i].times, n));
    EXPECT_EQ(0, std::memcmp(a.ifunc[i].values, b.ifunc[i].values, n));
  }
}

// The plug-in as the test sees it, to check what the host handed over.
struct PluginView {
  PluginView() : domain(TW_OpenDynExpDomain(wide(KINMODELS_LIBRARY), false)) {}
  ~PluginView() { TW_CloseDynExpDomain(&domain); }
  DynExpDomain* domain;
};

// The first model of the catalogue with at least two free parameters.
int modelWithFreeParms(const CDynExp& host) {
  for (size_t m = 0; m < host.models.size(); ++m)
    if (host.models[m].numFreeParms >= 2) return int(m);
  return -1;
}

TEST(DynExpDomain, LoadsThePluginAndTakesItsSettings) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto host = std::make_unique<CDynExp>();
  EXPECT_FALSE(host->IsLoaded());
  EXPECT_EQ(host->GetNumModels(), 0);
  EXPECT_FALSE(host->SetCurrentModel(0));

  ASSERT_TRUE(host->LoadDomain(wide(KINMODELS_LIBRARY)));
  EXPECT_TRUE(script.messages.empty());
  EXPECT_TRUE(host->IsLoaded());
  EXPECT_EQ(host->GetNumModels(), 58);

  PluginView plugin;
  ASSERT_NE(plugin.domain, nullptr);
  DynExpDomain& d = *plugin.domain;
  for (int m = 0; m < 58; ++m) {
    SCOPED_TRACE(m);
    EXPECT_EQ(host->models[size_t(m)].numFreeParms, d.DIDU_GetNumFreeParms(unsigned(m)));
    int grid = 0, iterations = 0;
    EXPECT_EQ(host->GetCurrentOptimization(m, &grid, &iterations), d.DIDU_GetCurrentOptimization(unsigned(m), nullptr, nullptr));
  }

  // Changes go to the plug-in.
  const int model = modelWithFreeParms(*host);
  ASSERT_GE(model, 0);
  const int n = host->models[size_t(model)].numFreeParms;
  const double values[DYNEXP_MAX_FREE_PARMS] = {0.2, 0.95, 0.9, 0.5, 0.25, 0.125};
  ASSERT_TRUE(host->SetFreeParms(model, values));
  double seen[64] = {};
  ASSERT_NE(d.DIDU_GetFreeParms(model, seen), nullptr);
  EXPECT_EQ(0, std::memcmp(seen, values, sizeof(double) * size_t(n)));
  ASSERT_TRUE(host->SetCurrentModel(12));
  EXPECT_EQ(d.DIDU_GetCurrentModel(), 12);
  const int flags[2] = {1, 1};
  host->SetParmReq(flags, 2);
  int req[DYNEXP_NUM_OUTPUTS];
  d.DIDU_GetParmReq(req, DYNEXP_NUM_OUTPUTS);
  EXPECT_EQ(req[0] + req[1] + req[2], 2);
  EXPECT_FALSE(host->SetCurrentModel(58));
}

TEST(DynExpDomain, DesktopNameFindsTheLinuxLibrary) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const fs::path lib(KINMODELS_LIBRARY);
  ASSERT_EQ(lib.filename(), "libKinmodels.so");
  CString desktop = wide(lib.parent_path().string().c_str()) + L"\\Kinmodels.dll";
  auto host = std::make_unique<CDynExp>();
  ASSERT_TRUE(host->LoadDomain(desktop));
  EXPECT_EQ(host->DomainPath(), wide(KINMODELS_LIBRARY));
}

TEST(DynExpDomain, AbsentOrIncompletePluginIsReportedAndNotLoaded) {
  const struct {
    const char* path;
    const char* message;
  } cases[] = {
      {"/nonexistent/folder/libKinmodels.so", "CDynExp::LoadDomain : Unable to load /nonexistent/folder/libKinmodels.so"},
      {"/nonexistent/folder\\Kinmodels.dll", "CDynExp::LoadDomain : Unable to load /nonexistent/folder/Kinmodels.dll"},
      {STUB_PLUGIN_LIBRARY, "Loading DLL: unable to locate DIDU_GetNumModels"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    auto host = filledHost();
    EXPECT_FALSE(host->LoadDomain(wide(c.path)));
    EXPECT_FALSE(host->IsLoaded());
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].Find(wide(c.message)), 0) << script.messages[0].GetString();
    // The settings survive a failed load.
    expectSameSettings(*filledHost(), *host);
  }
}

TEST(DynExpDomain, FailedReloadReleasesThePreviousPlugin) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto host = std::make_unique<CDynExp>();
  ASSERT_TRUE(host->LoadDomain(wide(KINMODELS_LIBRARY)));
  EXPECT_FALSE(host->LoadDomain(wide(STUB_PLUGIN_LIBRARY)));
  EXPECT_FALSE(host->IsLoaded());
  EXPECT_EQ(host->GetNumModels(), 0);
}

TEST(DynExpCopy, CopiesAreDeepAndOutliveTheOriginal) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto original = std::make_unique<CDynExp>();
  ASSERT_TRUE(original->LoadDomain(wide(KINMODELS_LIBRARY)));
  original->ifuncName[1] = L"AIF";
  original->ifunc[1].count = 2;
  original->ifunc[1].values[1] = 3.0;

  auto copy = std::make_unique<CDynExp>(*original);
  auto assigned = std::make_unique<CDynExp>();
  *assigned = *original;
  original->ifuncName[1] = L"changed";
  original->ifunc[1].values[1] = -1.0;
  original.reset();  // the copies keep their own reference to the plug-in

  for (CDynExp* h : {copy.get(), assigned.get()}) {
    EXPECT_TRUE(h->IsLoaded());
    EXPECT_EQ(h->ifuncName[1], L"AIF");
    EXPECT_EQ(h->ifunc[1].values[1], 3.0);
    EXPECT_EQ(h->GetNumModels(), 58);
    EXPECT_TRUE(h->SetCurrentModel(3));
    PluginView plugin;
    EXPECT_EQ(plugin.domain->DIDU_GetCurrentModel(), 3);
  }
  // Assigning an unloaded host releases the plug-in.
  *assigned = CDynExp();
  EXPECT_FALSE(assigned->IsLoaded());
}

TEST(DynExpBlock, RoundTripIsFieldEqualAndByteExact) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto source = filledHost();
  const std::vector<uint8_t> bytes = blockOf(*source);

  auto target = std::make_unique<CDynExp>();
  int64_t used = 0;
  ASSERT_TRUE(target->Load(bytes.data(), int64_t(bytes.size()), true, &used));
  EXPECT_EQ(used, int64_t(bytes.size()));
  expectSameSettings(*source, *target);
  EXPECT_TRUE(target->outName[0].IsEmpty());
  EXPECT_EQ(target->NumberIfuncs(), 2);
  EXPECT_EQ(blockOf(*target), bytes);
  EXPECT_TRUE(script.messages.empty());

  // The flag of the 4D layer changes only its byte.
  const std::vector<uint8_t> flat = blockOf(*source, false);
  ASSERT_EQ(flat.size(), bytes.size());
  EXPECT_EQ(flat[20], 0);
  EXPECT_EQ(bytes[20], 1);
}

TEST(DynExpBlock, StreamReadStopsAtTheBlockEndForEveryDocumentVersion) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto source = filledHost();
  std::vector<uint8_t> bytes = blockOf(*source);
  const fs::path file = tempFolder() / "block.bin";
  {
    FILE* fp = std::fopen(file.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::fputs("next", fp);
    std::fclose(fp);
  }
  using Loader = bool (CDynExp::*)(const wchar_t*, FILE*);
  const Loader older[] = {&CDynExp::Load_v16, &CDynExp::Load_v15, &CDynExp::Load_v14, &CDynExp::Load_v11_v12,
                          &CDynExp::Load_v2_v10};
  const CString path = wide(file.c_str());
  for (int i = -2; i < 5; ++i) {
    SCOPED_TRACE(i);
    FILE* fp = std::fopen(file.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    auto target = std::make_unique<CDynExp>();
    const bool ok = i == -2 ? target->Load(path, fp, true) : i == -1 ? target->Load(path, fp, false)
                                                                      : (target.get()->*older[i])(path, fp);
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::ftell(fp), long(bytes.size()));
    char rest[5] = {};
    EXPECT_EQ(std::fread(rest, 1, 4, fp), 4u);
    EXPECT_STREQ(rest, "next");
    std::fclose(fp);
    if (i == -1) EXPECT_EQ(target->NumberIfuncs(), 0);  // only passed over
    else expectSameSettings(*source, *target);
  }
  EXPECT_TRUE(script.messages.empty());
}

TEST(DynExpBlock, TruncatedOrDamagedBlocksFailCleanly) {
  auto source = filledHost();
  const std::vector<uint8_t> good = blockOf(*source);
  const size_t modelCountAt = 20 + 1 + 4 + 4 + 4 * DYNEXP_NUM_OUTPUTS;
  auto patched = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> b = good;
    std::memcpy(&b[at], &value, 4);
    return b;
  };
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); };
  std::vector<uint8_t> trailing = good;
  const uint64_t longer = good.size() - 20 + 1;
  trailing.push_back(0);
  std::memcpy(&trailing[12], &longer, 8);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* why;
  } cases[] = {
      {"empty", {}, "the block is truncated"},
      {"inside the header", cut(19), "the block is truncated"},
      {"header only", cut(20), "the block is truncated"},
      {"inside the models", cut(modelCountAt + 10), "the block is truncated"},
      {"one byte short", cut(good.size() - 1), "the block is truncated"},
      {"not a block", patched(0, 0x58585858), "no dynamic experiment block found"},
      {"newer version", patched(8, 2), "unsupported block version 2"},
      {"huge payload length", patched(16, 0x7FFFFFFF), "the block is truncated"},
      {"model count", patched(modelCountAt, 0x7FFFFFFF), "invalid number of models"},
      {"negative model count", patched(modelCountAt, 0xFFFFFFFF), "invalid number of models"},
      {"free parameters", patched(modelCountAt + 4, 13), "invalid number of free parameters"},
      {"bytes after the curves", trailing, "unexpected bytes after the input functions"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    auto target = filledHost();
    target->currentModel = 99;
    EXPECT_FALSE(target->Load(c.bytes.data(), int64_t(c.bytes.size()), true));
    EXPECT_EQ(target->currentModel, 99);  // nothing applied
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.lastMessage(), CString(L"CDynExp::Load : Damaged dynamic experiment block : ") + wide(c.why));
  }
}

TEST(DynExpBlock, TruncatedStreamNamesTheFile) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const std::vector<uint8_t> good = blockOf(*filledHost());
  const fs::path file = tempFolder() / "short.bin";
  FILE* fp = std::fopen(file.c_str(), "wb");
  ASSERT_NE(fp, nullptr);
  std::fwrite(good.data(), 1, good.size() / 2, fp);
  std::fclose(fp);
  fp = std::fopen(file.c_str(), "rb");
  auto target = std::make_unique<CDynExp>();
  EXPECT_FALSE(target->Load(wide(file.c_str()), fp, true));
  std::fclose(fp);
  EXPECT_EQ(script.lastMessage(), L"CDynExp::Load : Damaged dynamic experiment block in " + wide(file.c_str()) +
                                      L" : the block is truncated");
}

TEST(DynExpBlock, LoadingIntoALoadedHostHandsTheSettingsToThePlugin) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto saved = std::make_unique<CDynExp>();
  ASSERT_TRUE(saved->LoadDomain(wide(KINMODELS_LIBRARY)));
  const int model = modelWithFreeParms(*saved);
  ASSERT_GE(model, 0);
  const size_t n = size_t(saved->models[size_t(model)].numFreeParms);
  const double values[DYNEXP_MAX_FREE_PARMS] = {0.3, 0.8, 0.7, 0.6, 0.5, 0.4};
  ASSERT_TRUE(saved->SetFreeParms(model, values));
  ASSERT_TRUE(saved->SetCurrentOptimization(model, 3, 11, 222));
  ASSERT_TRUE(saved->SetCurrentModel(model));
  const std::vector<uint8_t> bytes = blockOf(*saved);
  saved.reset();

  auto host = std::make_unique<CDynExp>();
  ASSERT_TRUE(host->LoadDomain(wide(KINMODELS_LIBRARY)));
  const double other[DYNEXP_MAX_FREE_PARMS] = {1, 1, 1, 1, 1, 1};
  ASSERT_TRUE(host->SetFreeParms(model, other));
  ASSERT_TRUE(host->SetCurrentModel(0));
  ASSERT_TRUE(host->Load(bytes.data(), int64_t(bytes.size()), true));

  PluginView plugin;
  double seen[64] = {};
  ASSERT_NE(plugin.domain->DIDU_GetFreeParms(model, seen), nullptr);
  EXPECT_EQ(0, std::memcmp(seen, values, sizeof(double) * n));
  int grid = 0, iterations = 0;
  EXPECT_EQ(plugin.domain->DIDU_GetCurrentOptimization(unsigned(model), &grid, &iterations), 3);
  EXPECT_EQ(grid, 11);
  EXPECT_EQ(iterations, 222);
  EXPECT_EQ(plugin.domain->DIDU_GetCurrentModel(), model);
  EXPECT_EQ(host->GetCurrentModel(), model);
  EXPECT_EQ(host->GetNumModels(), 58);
}

}  // namespace
