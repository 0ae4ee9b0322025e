// The library as the program loads it: the eleven entries resolved by name from libTwkANN.so, the
// start-up check, the version text, and the tensor self test on the standard output.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "AnnLib.h"
#include "ScriptedUi.h"

TEST(Library, ProgramResolvesItsElevenEntriesAndStartsTheLibrary) {
  void* module = dlopen(TWKANN_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  // The names and the order in which the program's loader binds them.
  const char* names[] = {"TWKANN_InitLib",
                         "TWKANN_TestSGD",
                         "TWKANN_PrepareTraining_BinarySegmentCommonBoundRect",
                         "TWKANN_PrepareTraining_BinarySegmentMinBoundRect",
                         "TWKANN_PrepareTraining_BRUNET2D_Binary",
                         "TWKANN_TrainUnet3DwSftMax",
                         "TWKANN_TrainUnetPI3DwSftMax",
                         "TWKANN_TrainBreastXnet2D",
                         "TWKANN_TrainBreastYnet2D",
                         "TWKANN_TrainBRUNET2D_FlexDim",
                         "TWKANN_BRUNET2D_SegmentationTmsAsCat"};
  for (const char* name : names) EXPECT_NE(dlsym(module, name), nullptr) << name;
  // The MNIST reader under its C++ name, the version under its plain name.
  EXPECT_NE(dlsym(module, "_Z26TWKANN_LoadMNIST_LabelFilePKwPPhPi"), nullptr);
  auto version = reinterpret_cast<void (*)(CString&)>(dlsym(module, "TWKANN_GetTorchVersion"));
  ASSERT_NE(version, nullptr);
  // Nothing else of the library's inside is exported.
  EXPECT_EQ(dlsym(module, "_Z17ANN_ReadModelCfgPKwP11ANNMODELCFG"), nullptr);

  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  auto initLib = reinterpret_cast<bool (*)(bool)>(dlsym(module, "TWKANN_InitLib"));
  EXPECT_TRUE(initLib(true));
  EXPECT_TRUE(initLib(false));
  CString text;
  version(text);
  EXPECT_EQ(text, CString(TWKANN_EXPECTED_TORCH_VERSION));
  EXPECT_EQ(text.Left(5), L"1.13.");
  EXPECT_TRUE(script.messages.empty());
  dlclose(module);
}

TEST(Library, TensorSelfTestPrintsViewsThatShareStorage) {
  testing::internal::CaptureStdout();
  EXPECT_TRUE(TWKANN_TestSGD());
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string threes =
      "(1,.,.) = \n"
      "  3  3  3  3  3\n"
      "  3  3  3  3  3\n"
      "[ CPUFloatType{1,2,5} ]\n";
  const std::string transposed3 =
      "(1,.,.) = \n"
      "  3  3  3  3  3\n"
      "\n"
      "(2,.,.) = \n"
      "  3  3  3  3  3\n"
      "[ CPUFloatType{2,1,5} ]\n";
  const std::string ones =
      "(1,.,.) = \n"
      "  1  1  1  1  1\n"
      "  1  1  1  1  1\n"
      "[ CPUFloatType{1,2,5} ]\n";
  const std::string transposed1 =
      "(1,.,.) = \n"
      "  1  1  1  1  1\n"
      "\n"
      "(2,.,.) = \n"
      "  1  1  1  1  1\n"
      "[ CPUFloatType{2,1,5} ]\n";
  const std::string fixed = threes + threes + transposed3 + ones + transposed1;
  ASSERT_EQ(out.substr(0, fixed.size()), fixed);
  // Then the random 3 x 4 tensor and the two values the mask selects, its corners (0,0) and (2,3).
  const std::string rest = out.substr(fixed.size());
  EXPECT_NE(rest.find("[ CPUFloatType{3,4} ]\n"), std::string::npos) << rest;
  EXPECT_NE(rest.find("[ CPUFloatType{2} ]\n"), std::string::npos) << rest;
}
