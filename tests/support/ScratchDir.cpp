// Temporary working directories for tests.
#include "tests/support/ScratchDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace testsupport {

ScratchDir::ScratchDir() {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return;
    previous_ = cwd;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/skorvale-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    std::error_code error;
    std::filesystem::create_directories(pattern + "/Resources/plugins", error);
    if (error || chdir(pattern.c_str()) != 0) {
        std::filesystem::remove_all(pattern, error);
        return;
    }
    root_ = pattern;
}

ScratchDir::~ScratchDir() {
    if (root_.empty()) return;
    if (chdir(previous_.c_str()) != 0) {
        // Nowhere better to go; the tree is removed all the same.
    }
    std::error_code error;
    std::filesystem::remove_all(root_, error);
}

bool ScratchDir::Write(const std::string &relative, const std::string &bytes) const {
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

std::string ScratchDir::Read(const std::string &relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool ScratchDir::Exists(const std::string &relative) const {
    struct stat info;
    return stat(Path(relative).c_str(), &info) == 0;
}

}  // namespace testsupport
