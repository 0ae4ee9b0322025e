#include "ExternalTools.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace twk::test {

int runCommand(const std::string& command, std::string* output) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool runPython(const std::string& script, std::string* output) {
  const char* base = std::getenv("TWK_TEST_TMP");
  char path[512];
  std::snprintf(path, sizeof(path), "%s/script_%d_XXXXXX", base && *base ? base : "/tmp", int(::getpid()));
  int fd = ::mkstemp(path);
  if (fd < 0) {  // the test folder is not made yet
    std::snprintf(path, sizeof(path), "/tmp/script_%d_XXXXXX", int(::getpid()));
    fd = ::mkstemp(path);
  }
  if (fd < 0) return false;
  ::close(fd);
  std::ofstream(path) << script;
  const int status = runCommand(std::string("/usr/bin/python3 ") + path, output);
  std::remove(path);
  return status == 0;
}

}  // namespace twk::test
