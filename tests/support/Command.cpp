// Shell commands and whole-file reads for tests.
#include "tests/support/Command.h"

#include <stdlib.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

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
#ifdef _WIN32
    result.exitCode = status;  // the program's own exit code, through cmd.exe
#else
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
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
#ifdef _WIN32
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string path = testing::TempDir() + prefix + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount64()) + "-" + std::to_string(attempt);
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) return path;
    }
    return std::string();
#else
    std::string pattern = testing::TempDir() + "/" + prefix + "XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
#endif
}

void RemoveTree(const std::string &path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

}  // namespace testsupport
