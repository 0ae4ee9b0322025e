#pragma once
// A small host for the model tests: loads the plug-in with dlopen as the imaging core does,
// resolves every export by name, records message boxes and answers questions from a queue, gives
// the identity conversions and small curve helpers (the reference curves are in
// ReferenceCurves.h), and (ModelTest) runs one model cycle over
// curves with every output requested.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KinmodelsApi.h"
#include "ReferenceCurves.h"

namespace modeltest {

constexpr double kVoid = 1e60;

// Every export, resolved by name.
#define MODELTEST_EXPORTS(X)                                                                                      \
  X(DIDU_GetDomainName) X(DIDU_GetNumModels) X(DIDU_GetModelName) X(DIDU_SetCurrentModel) X(DIDU_GetCurrentModel) \
  X(DIDU_SetCurrentModelByName) X(DIDU_GetNumOutParms) X(DIDU_GetOutParmName) X(DIDU_GetOutParmUnits)              \
  X(DIDU_GetDefaultClrScheme) X(DIDU_GetNumFreeParms) X(DIDU_GetFreeParmName) X(DIDU_DefaultFreeParms)             \
  X(DIDU_SetFreeParms) X(DIDU_GetFreeParms) X(DIDU_GetNumIfuncs) X(DIDU_GetIFpanelName) X(DIDU_GetAllowedConcConv) \
  X(DIDU_GetAllowedDynDim) X(DIDU_GetAllowedModality) X(DIDU_GetAllowedOptimization)                               \
  X(DIDU_SetCurrentOptimization) X(DIDU_GetCurrentOptimization) X(DIDU_GetPreprocessTasks)                         \
  X(DIDU_ExtrapolateEnabled) X(DIDU_GetCalcVicRad) X(DIDU_ModelOutputFitCurve) X(DIDU_SetParmReq)                  \
  X(DIDU_GetParmReq) X(DIDU_DefineTimeProfile) X(DIDU_DefineEchoTmsProfile) X(DIDU_DefineBfactorProfile)           \
  X(DIDU_DefineFlipAngleProfile) X(DIDU_DefineRepetitionTimeProfile) X(DIDU_DefineTSLProfile)                      \
  X(DIDU_DefineInvTmsProfile) X(DIDU_SetTR) X(DIDU_SetNoiseLev) X(DIDU_SetFlipAngle) X(DIDU_SetGlobalTac)          \
  X(DIDU_SetTissue_SigToConc) X(DIDU_SetTissue_ConcToSig) X(DIDU_SetCalcMode) X(DIDU_SetCallbacks)                 \
  X(DIDU_ModelInit) X(DIDU_ComputeParmArray) X(DIDU_ModelClose) X(DIDU_ModelAutoTest)

struct Api {
  void* handle = nullptr;
  std::vector<std::string> missing;
#define MODELTEST_DECLARE(name) decltype(&::name) name = nullptr;
  MODELTEST_EXPORTS(MODELTEST_DECLARE)
#undef MODELTEST_DECLARE
};

inline const Api& api() {
  static const Api loaded = [] {
    Api a;
    a.handle = dlopen(KINMODELS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!a.handle) {
      a.missing.push_back(std::string("dlopen: ") + dlerror());
      return a;
    }
#define MODELTEST_RESOLVE(name)                                        \
  a.name = reinterpret_cast<decltype(a.name)>(dlsym(a.handle, #name)); \
  if (!a.name) a.missing.push_back(#name);
    MODELTEST_EXPORTS(MODELTEST_RESOLVE)
#undef MODELTEST_RESOLVE
    return a;
  }();
  return loaded;
}

// Message boxes: every text and box type is kept; questions take the next queued answer, or the
// default answer when none is queued (Yes unless a test says otherwise).
struct MessageRecorder {
  std::mutex mutex;
  std::vector<std::wstring> texts;
  std::vector<unsigned> types;
  std::deque<int> answers;
  int defaultAnswer = 6;  // IDYES

  static int messageBox(void* user, const wchar_t* text, const wchar_t*, unsigned type) {
    auto* self = static_cast<MessageRecorder*>(user);
    std::lock_guard lock(self->mutex);
    self->texts.emplace_back(text);
    self->types.push_back(type);
    if (self->answers.empty()) return self->defaultAnswer;
    const int answer = self->answers.front();
    self->answers.pop_front();
    return answer;
  }
};

inline void identity(const double* in, int64_t n, double* out, int64_t, void*) {
  std::memcpy(out, in, size_t(n) * sizeof(double));
}
inline void identityBack(const double* in, int64_t n, double* out, int64_t, const void*) {
  std::memcpy(out, in, size_t(n) * sizeof(double));
}

// Connects the spoiled gradient-echo pair as the host's conversions.
inline void connectSpoiledGradientEcho() {
  api().DIDU_SetTissue_SigToConc(spgrSigToConc);
  api().DIDU_SetTissue_ConcToSig(spgrConcToSig);
}

// Installs the recorder as the host's message callbacks (through `callbacks`, which must outlive
// the test), the identity conversions and calculation mode 0.
inline void connectHost(MessageRecorder& recorder, DIDU_CALLBACKS& callbacks) {
  const Api& a = api();
  callbacks = {&recorder, &MessageRecorder::messageBox};
  a.DIDU_SetCallbacks(&callbacks);
  a.DIDU_SetTissue_SigToConc(identity);
  a.DIDU_SetTissue_ConcToSig(identityBack);
  a.DIDU_SetCalcMode(0);
}

inline std::vector<double> range(double first, double step, int count) {
  std::vector<double> v(count);
  for (int i = 0; i < count; ++i) v[i] = first + step * i;
  return v;
}

inline std::vector<double> sample(const std::vector<double>& times, const std::function<double(double)>& f) {
  std::vector<double> v(times.size());
  for (size_t i = 0; i < times.size(); ++i) v[i] = f(times[i]);
  return v;
}

inline double relativeError(double value, double truth) { return std::fabs(value - truth) / std::fabs(truth); }

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(api().missing.empty()) << api().missing.front();
    connectHost(recorder_, callbacks_);
    api().DIDU_SetNoiseLev(0);
  }
  void TearDown() override {
    const Api& a = api();
    for (const auto& [type, method, optA, optB] : touched_) {
      a.DIDU_ModelClose(type);
      a.DIDU_DefaultFreeParms(type);
      a.DIDU_SetCurrentOptimization(type, method, optA, optB);
    }
    a.DIDU_SetParmReq(nullptr, 0);
    a.DIDU_SetGlobalTac(nullptr);
    a.DIDU_SetCallbacks(nullptr);
  }

  // Remembers a type's optimisation so that TearDown closes it and restores its settings.
  void touch(int type) {
    for (const auto& t : touched_)
      if (std::get<0>(t) == type) return;
    int optA = 0, optB = 0;
    const int method = api().DIDU_GetCurrentOptimization(type, &optA, &optB);
    touched_.emplace_back(type, method, optA, optB);
  }
  void setOptimisation(int type, int optA, int optB) {
    touch(type);
    int a = 0, b = 0;
    const int method = api().DIDU_GetCurrentOptimization(type, &a, &b);
    api().DIDU_SetCurrentOptimization(type, method, optA, optB);
  }
  // Sets free parameters by index over the defaults.
  void setParms(int type, std::initializer_list<std::pair<int, double>> values) {
    touch(type);
    double current[11] = {};
    api().DIDU_DefaultFreeParms(type);
    api().DIDU_GetFreeParms(type, current);
    for (const auto& [index, value] : values) current[index] = value;
    api().DIDU_SetFreeParms(type, current);
  }
  void setTimes(const std::vector<double>& times) {
    times_ = times;
    api().DIDU_DefineTimeProfile(times.data(), int(times.size()));
  }
  // Input-function records over the current times (relative to the first).
  void setInputs(std::initializer_list<std::vector<double>> inputs) {
    ifuncs_.assign(inputs.size(), INPUTFUNC{});
    size_t k = 0;
    for (const auto& values : inputs) {
      INPUTFUNC& f = ifuncs_[k++];
      f.count = int(values.size());
      for (size_t i = 0; i < values.size(); ++i) {
        f.times[i] = times_[i] - times_[0];
        f.values[i] = values[i];
      }
    }
  }
  bool init(int type) {
    touch(type);
    return api().DIDU_ModelInit(type, ifuncs_.empty() ? nullptr : ifuncs_.data(), nullptr, nullptr);
  }

  // All outputs of one curve (every output requested), and the fitted curve when asked.
  std::vector<DEMPOUT> compute(int type, const std::vector<double>& curve, std::vector<double>* fit = nullptr,
                               std::vector<double>* wanted = nullptr) {
    const int flags[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const int count = api().DIDU_GetNumOutParms(type);
    api().DIDU_SetParmReq(flags, count);
    std::vector<DEMPOUT> out(count + 1, DEMPOUT{-7, -7, -7, -7});
    const double* curves[1] = {curve.data()};
    if (fit) fit->assign(std::max(curve.size(), wanted ? wanted->size() : 0), -7.0);
    api().DIDU_ComputeParmArray(type, curves, 1, fit ? fit->data() : nullptr, out.data(),
                                wanted ? wanted->data() : nullptr, wanted ? int(wanted->size()) : 0);
    EXPECT_EQ(out.back().value, -7) << "a record beyond the requested outputs was written";
    out.pop_back();
    return out;
  }
  // All outputs of many curves, computed by several threads at once as a map run does (the
  // plug-in's computes are reentrant); the fitted curves too when asked.
  std::vector<std::vector<DEMPOUT>> computeMany(int type, const std::vector<std::vector<double>>& curves,
                                                std::vector<std::vector<double>>* fits = nullptr) {
    const int flags[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const int count = api().DIDU_GetNumOutParms(type);
    api().DIDU_SetParmReq(flags, count);
    std::vector<std::vector<DEMPOUT>> out(curves.size(), std::vector<DEMPOUT>(count));
    if (fits) fits->assign(curves.size(), {});
    const int workers = std::max(1, std::min(8, int(std::thread::hardware_concurrency())));
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
      threads.emplace_back([&, w] {
        for (size_t c = w; c < curves.size(); c += workers) {
          const double* one[1] = {curves[c].data()};
          double* fit = nullptr;
          if (fits) {
            (*fits)[c].assign(curves[c].size(), 0.0);
            fit = (*fits)[c].data();
          }
          api().DIDU_ComputeParmArray(type, one, 1, fit, out[c].data(), nullptr, 0);
        }
      });
    for (std::thread& t : threads) t.join();
    return out;
  }
  // Only the outputs whose flags are set.
  std::vector<DEMPOUT> computeRequested(int type, const std::vector<double>& curve, std::vector<int> flags) {
    flags.resize(12, 0);
    api().DIDU_SetParmReq(flags.data(), 12);
    int count = 0;
    for (int i = 0; i < api().DIDU_GetNumOutParms(type); ++i) count += flags[i] != 0;
    std::vector<DEMPOUT> out(count + 1, DEMPOUT{-7, -7, -7, -7});
    const double* curves[1] = {curve.data()};
    api().DIDU_ComputeParmArray(type, curves, 1, nullptr, out.data(), nullptr, 0);
    EXPECT_EQ(out.back().value, -7);
    out.pop_back();
    return out;
  }

  std::wstring lastMessage() const { return recorder_.texts.empty() ? L"" : recorder_.texts.back(); }

  MessageRecorder recorder_;
  DIDU_CALLBACKS callbacks_{};
  std::vector<double> times_;
  std::vector<INPUTFUNC> ifuncs_;
  std::vector<std::tuple<int, int, int, int>> touched_;
};

}  // namespace modeltest
