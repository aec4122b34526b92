// Running a program the way a user would from a shell, and reading the files it leaves behind.
#pragma once

#include <string>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;  // 128 + the signal when the program was killed
    std::string out;
    std::string err;
};

// Runs `command` through /bin/sh with its standard output and error captured in files under
// `scratchDir` (which must exist).
CommandResult RunCaptured(const std::string &command, const std::string &scratchDir);

// A whole file's bytes, or "" when it cannot be read.
std::string ReadFile(const std::string &path);

// A fresh directory under the test's temporary folder, named after `prefix`.
std::string MakeTempDir(const std::string &prefix);
void RemoveTree(const std::string &path);

}  // namespace testsupport
