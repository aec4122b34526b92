// Every SDK function our headers declare (and the GL calls plug-ins make) is exported for a plug-in to bind,
// on Windows from the module a plug-in's import table names: XPLM_64.dll, XPWidgets_64.dll or opengl32.dll.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <filesystem>
#include <fstream>
#include <regex>

#include "gtest/gtest.h"
#include "tests/support/Command.h"
#include "tests/support/Paths.h"

namespace {

// The module a plug-in built for Windows imports `name` from.
const char *ModuleOf(const std::string &name) {
    if (name.rfind("gl", 0) == 0) return "opengl32.dll";
    return name.rfind("XPLM", 0) == 0 ? "XPLM_64.dll" : "XPWidgets_64.dll";
}

void *Exported(const char *module, const std::string &name) {
#ifdef _WIN32
    HMODULE handle = GetModuleHandleA(module);
    if (!handle) handle = LoadLibraryA(module);
    return handle ? reinterpret_cast<void *>(GetProcAddress(handle, name.c_str())) : nullptr;
#else
    (void)module;  // one process-wide namespace
    static void *self = dlopen(nullptr, RTLD_NOW);
    return dlsym(self, name.c_str());
#endif
}

TEST(HostExports, EveryDeclaredSdkFunctionResolvesByName) {
    std::vector<std::string> names = {"glColor4f", "glBegin", "glVertex2f", "glEnd"};
    const std::regex declaration(R"((?:XPLM_API|WIDGET_API)\s[^;(]*?\b((?:XPLM|XP)\w+)\s*\()");
    for (const char *folder : {"/sdk/XPLM", "/sdk/Widgets"}) {
        for (const auto &entry : std::filesystem::directory_iterator(std::string(testsupport::SourceDir()) + folder)) {
            std::string s = testsupport::ReadFile(entry.path().string());
            for (std::sregex_iterator it(s.begin(), s.end(), declaration), end; it != end; ++it)
                names.push_back((*it)[1]);
        }
    }
    EXPECT_GE(names.size(), 58u) << "the headers' declarations were not found";
    for (const std::string &name : names)
        EXPECT_NE(Exported(ModuleOf(name), name), nullptr) << name << " is not exported by " << ModuleOf(name);
#ifdef _WIN32
    // A plug-in that imports a name from the wrong module fails to load in X-Plane: here too.
    for (const std::string &name : names) {
        if (std::string(ModuleOf(name)) == "XPLM_64.dll") continue;
        EXPECT_EQ(Exported("XPLM_64.dll", name), nullptr) << name << " must come from " << ModuleOf(name);
    }
    EXPECT_EQ(Exported("XPWidgets_64.dll", "XPLMFindDataRef"), nullptr);
#endif
}

}  // namespace
