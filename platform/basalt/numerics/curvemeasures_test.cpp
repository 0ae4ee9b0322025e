// Basic curve measurements and the parallel SVD self-test.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "ExternalTools.h"
#include "ScriptedUi.h"
#include "numerics/CurveMeasures.h"
#include "numerics/LinearAlgebra.h"

namespace {

// "name<TAB>value..." lines of a report as name -> the values.
std::vector<double> valuesOf(const std::string& report, const std::string& name) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name + "\t", 0) != 0) continue;
    std::vector<double> values;
    std::istringstream fields(line.substr(name.size() + 1));
    for (std::string f; std::getline(fields, f, '\t');) {
      char* end = nullptr;
      const double v = std::strtod(f.c_str(), &end);
      if (end != f.c_str()) values.push_back(v);
    }
    return values;
  }
  return {};
}

TEST(CurveBasicMeasurement, GammaVariateAgreesWithNumpy) {
  // A gamma variate on uneven sampling, with numpy computing every measure independently.
  std::string out;
  ASSERT_TRUE(twk::test::runPython(R"(
import numpy as np
x = np.concatenate([np.arange(0, 20, 1.5), np.arange(20, 61, 2.5)])
y = 5 + 80 * np.where(x > 4, ((x - 4) / 6.0) ** 2 * np.exp(-(x - 4) / 6.0 * 2 + 2), 0)
i = int(np.argmax(y)); lo = int(np.argmin(y)); half = 0.5 * (y.max() + y.min())
l = max(k for k in range(i) if y[k] <= half); r = min(k for k in range(i, len(x)) if y[k] <= half)
xl = x[l] + (half - y[l]) * (x[l + 1] - x[l]) / (y[l + 1] - y[l])
xr = x[r - 1] + (half - y[r - 1]) * (x[r] - x[r - 1]) / (y[r] - y[r - 1])
s = np.diff(y) / np.diff(x); j = int(np.argmax(np.abs(s)))
print(len(x)); print(' '.join(repr(v) for v in x)); print(' '.join(repr(v) for v in y))
print(x.min(), x.max(), y.min(), x[lo], y.max(), x[i], y.mean(), np.trapz(y, x), xr - xl, s[j], x[j])
)", &out));
  std::istringstream in(out);
  int n = 0;
  in >> n;
  std::vector<double> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
  for (double& v : x) in >> v;
  for (double& v : y) in >> v;
  double e[11];
  for (double& v : e) in >> v;
  CString report;
  ASSERT_TRUE(VA_CurveBasicMeasurement(y.data(), x.data(), n, &report));
  const std::string text = report.toUtf8();
  const struct {
    const char* name;
    std::vector<double> expected;
  } rows[] = {{"Points", {double(n)}},        {"X range", {e[0], e[1]}},     {"Minimum", {e[2], e[3]}},
              {"Maximum", {e[4], e[5]}},       {"Mean", {e[6]}},              {"Area (trapezoids)", {e[7]}},
              {"FWHM", {e[8]}},                {"Steepest slope", {e[9], e[10]}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<double> got = valuesOf(text, row.name);
    ASSERT_EQ(got.size(), row.expected.size()) << text;
    for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], row.expected[k], 1e-7 * (1 + std::fabs(row.expected[k])));
  }
}

TEST(CurveBasicMeasurement, RefusesWhatItCannotMeasure) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const double x[] = {0, 1, 1, 3}, y[] = {1, 2, 3, 4}, bad[] = {1, NAN, 3, 4};
  CString report = L"old";
  EXPECT_FALSE(VA_CurveBasicMeasurement(y, x, 1, &report));
  EXPECT_TRUE(report.IsEmpty());
  EXPECT_FALSE(VA_CurveBasicMeasurement(bad, x, 2, &report));
  EXPECT_FALSE(VA_CurveBasicMeasurement(y, x, 4, &report));  // two samples at x = 1
  ASSERT_EQ(script.messages.size(), 3u);
  EXPECT_EQ(script.messages[2], L"VA_CurveBasicMeasurement : Neighbouring points share one x value");
  // A rising curve that never comes back down has no full width at half maximum.
  const double rising[] = {0, 1, 2, 3};
  ASSERT_TRUE(VA_CurveBasicMeasurement(rising, rising, 4, &report));
  EXPECT_NE(report.Find(L"FWHM\tundefined"), -1);
}

TEST(ParallelSvd, SelfTestPasses) {
  CString report;
  EXPECT_TRUE(PR_TestParSVD(false, &report)) << report.toUtf8();
  EXPECT_NE(report.Find(L"Parallel equals serial\tyes"), -1);
}

}  // namespace
