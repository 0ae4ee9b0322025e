#pragma once
// Where a test writes its files. Each test process gets a folder of its own, made on first use with
// mkdtemp under $TWK_TEST_TMP (the build's test folder when ctest runs the test), else under the
// system's temporary folder; so test binaries running side by side, and two test runs over one build,
// never meet in a file name. When the process ends and every test passed, the folder is removed;
// after a failure it stays, with the files that show what went wrong, and its path is printed.
//   testFolder()         the process's folder
//   testFolder("name")   an empty folder of that name inside it (emptied if a test made it before)
//   testFile("name")     the path of a file of that name inside it

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace twk::testing {

namespace detail {

struct ProcessFolder {
  std::filesystem::path path;
  pid_t owner = 0;  // a forked child that exits must not remove its parent's folder
};

inline ProcessFolder& processFolder() {
  // Never destroyed: the clean-up at exit reads it after static objects may be gone.
  static ProcessFolder* folder = [] {
    auto* made = new ProcessFolder;
    const char* base = std::getenv("TWK_TEST_TMP");
    std::error_code error;
    const std::filesystem::path root =
        base && *base ? std::filesystem::path(base) : std::filesystem::temp_directory_path(error);
    std::filesystem::create_directories(root, error);
    std::string pattern = (root / (std::string(program_invocation_short_name) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) {
      std::fprintf(stderr, "cannot make a test folder %s\n", pattern.c_str());
      std::abort();
    }
    made->path = pattern;
    made->owner = ::getpid();
    std::atexit([] {
      const ProcessFolder& f = processFolder();
      if (::getpid() != f.owner) return;
      if (::testing::UnitTest::GetInstance()->Passed()) {
        std::error_code ignored;
        std::filesystem::remove_all(f.path, ignored);
      } else {
        std::fprintf(stderr, "the test files are kept in %s\n", f.path.c_str());
      }
    });
    return made;
  }();
  return *folder;
}

}  // namespace detail

inline const std::filesystem::path& testFolder() { return detail::processFolder().path; }

inline std::filesystem::path testFolder(const std::string& name) {
  const std::filesystem::path folder = testFolder() / name;
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

inline std::string testFile(const std::string& name) { return (testFolder() / name).string(); }

}  // namespace twk::testing
