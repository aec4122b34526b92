// Every SDK function our headers declare (and the GL calls plug-ins make) is exported for a plug-in to bind.
#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "gtest/gtest.h"
#include "tests/support/Command.h"
#include "tests/support/Paths.h"

namespace {

TEST(HostExports, EveryDeclaredSdkFunctionResolvesByName) {
    std::vector<std::string> names = {"glColor4f", "glBegin", "glVertex2f", "glEnd"};
    const std::regex declaration(R"((?:XPLM_API|WIDGET_API)\s[^;(]*?\b((?:XPLM|XP)\w+)\s*\()");
    for (const char *folder : {"/sdk/XPLM", "/sdk/Widgets"}) {
        for (const auto &entry : std::filesystem::directory_iterator(std::string(testsupport::SourceDir()) + folder)) {
            std::string s = testsupport::ReadFile(entry.path());
            for (std::sregex_iterator it(s.begin(), s.end(), declaration), end; it != end; ++it)
                names.push_back((*it)[1]);
        }
    }
    EXPECT_GE(names.size(), 58u) << "the headers' declarations were not found";
    void *self = dlopen(nullptr, RTLD_NOW);
    for (const std::string &name : names) EXPECT_NE(dlsym(self, name.c_str()), nullptr) << name << " is not exported";
}

}  // namespace
