#pragma once
// Running the independent reference tools from tests: a shell command with its output, and a
// Python script under Debian's own interpreter (/usr/bin/python3, where python3-numpy, nibabel,
// pydicom, scipy and the other reference packages are installed).

#include <string>

namespace twk::test {

// Runs the command through the shell with standard error joined to the output; returns the exit
// status (-1 when it could not start).
int runCommand(const std::string& command, std::string* output = nullptr);

// Runs the script with Debian's python3 (the script is written to a temporary file first); true on
// exit status 0. The output (standard output and error) goes to output when it is given.
bool runPython(const std::string& script, std::string* output = nullptr);

}  // namespace twk::test
