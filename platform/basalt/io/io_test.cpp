#include <gtest/gtest.h>

#include "io/ImageFiles.h"

TEST(ImageFiles, RawFileTypeFromExtension) {
  EXPECT_EQ(VA_RawFileType(L"a/b.im"), RAWFILE_IM);
  EXPECT_EQ(VA_RawFileType(L"a/b.IMG"), RAWFILE_ANALYZE);
  EXPECT_EQ(VA_RawFileType(L"a/b.nii.gz"), RAWFILE_NIFTI);
  EXPECT_EQ(VA_RawFileType(L"a/b.time"), RAWFILE_UNKNOWN);
}
