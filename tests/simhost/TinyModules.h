// Where the tiny test plug-ins are: built beside libsimhost.so, found through the library's own path.
#pragma once

#include <dlfcn.h>

#include <string>

#include "XPLMDataAccess.h"

namespace simhosttest {

inline std::string HostLibraryDir() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void *>(&XPLMFindDataRef), &info) || !info.dli_fname) return ".";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

inline std::string HostLibraryPath() {
    Dl_info info{};
    dladdr(reinterpret_cast<void *>(&XPLMFindDataRef), &info);
    return info.dli_fname ? info.dli_fname : "";
}

// The complete tiny plug-in, and one built without XPluginReceiveMessage.
inline std::string TinyPlugin() { return HostLibraryDir() + "/simhost_tiny_complete.xpl"; }
inline std::string PartialPlugin() { return HostLibraryDir() + "/simhost_tiny_partial.xpl"; }

}  // namespace simhosttest
