// Full paths under X-Plane's folder: the simulator's working directory need not be that folder.
#include "core/SimulatorPath.h"

#include <algorithm>
#include <cstring>

#include "core/HostInterface.h"
#include "net/Protocol.h"

std::string InSimulatorFolder(const std::string &relative) {
    // X-Plane fills up to 512 bytes, its folder with a trailing separator.
    char folder[512] = {};
    XPLMGetSystemPath(folder);
    folder[sizeof folder - 1] = '\0';
    std::string path = folder;
    const char *separator = XPLMGetDirectorySeparator();
    size_t length = std::strlen(separator);
    if (!path.empty() && length > 0 &&
        path.compare(path.size() - std::min(path.size(), length), length, separator) != 0)
        path += separator;
    return path + ReplaceSeparators(relative);
}
