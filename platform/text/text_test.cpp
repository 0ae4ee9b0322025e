#include <gtest/gtest.h>

#include "CString.h"

TEST(Format, Basic) { EXPECT_EQ(twk::formatWideArgs(L"%s %d", L"a", 1), L"a 1"); }
