// Shell commands and whole-file reads for tests.
#include "tests/support/Command.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "gtest/gtest.h"

namespace testsupport {

CommandResult RunCaptured(const std::string &command, const std::string &scratchDir) {
    std::string out = scratchDir + "/.stdout", err = scratchDir + "/.stderr";
    int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    CommandResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string MakeTempDir(const std::string &prefix) {
    std::string pattern = testing::TempDir() + "/" + prefix + "XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

void RemoveTree(const std::string &path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

}  // namespace testsupport
