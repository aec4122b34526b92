// Where the tiny test plug-ins are: built beside the host library, found through the library's own path.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

#include "XPLMDataAccess.h"

namespace simhosttest {

inline std::string HostLibraryPath() {
#ifdef _WIN32
    HMODULE module = nullptr;
    char path[MAX_PATH] = "";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&XPLMFindDataRef), &module))
        GetModuleFileNameA(module, path, sizeof path);
    return path;
#else
    Dl_info info{};
    dladdr(reinterpret_cast<void *>(&XPLMFindDataRef), &info);
    return info.dli_fname ? info.dli_fname : "";
#endif
}

inline std::string HostLibraryDir() {
    std::string path = HostLibraryPath();
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The complete tiny plug-in, and one built without XPluginReceiveMessage.
inline std::string TinyPlugin() { return HostLibraryDir() + "/simhost_tiny_complete.xpl"; }
inline std::string PartialPlugin() { return HostLibraryDir() + "/simhost_tiny_partial.xpl"; }

}  // namespace simhosttest
