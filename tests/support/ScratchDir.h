// A throw-away working directory laid out like the simulator's, for tests of files the plug-in uses.
#pragma once

#include <string>

namespace testsupport {

// Makes a fresh temporary directory holding "Resources/plugins/", makes it the process's working
// directory (the plug-in resolves its files against that, as under X-Plane), and on destruction
// returns to the previous directory and removes the tree.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    bool Ok() const { return !root_.empty(); }
    const std::string &Root() const { return root_; }
    // `relative` under the root, e.g. "Resources/plugins/svprefs.txt".
    std::string Path(const std::string &relative) const { return root_ + "/" + relative; }

    // Whole-file helpers for tests; Read gives "" for a missing file.
    bool Write(const std::string &relative, const std::string &bytes) const;
    std::string Read(const std::string &relative) const;
    bool Exists(const std::string &relative) const;

private:
    std::string root_;
    std::string previous_;
};

}  // namespace testsupport
