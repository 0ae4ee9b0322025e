#include <gtest/gtest.h>

#include "ScriptedUi.h"

TEST(Ui, SilentDefault) { EXPECT_EQ(twk::ui().messageBox(L"x", L"y", MB_YESNO), IDNO); }
