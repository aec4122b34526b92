// Full paths under X-Plane's folder: the simulator's working directory need not be that folder.
#pragma once

#include <string>

// `relative` (written with "/") under the folder XPLMGetSystemPath names, with the simulator's own
// directory separator: a full path, as the settings file, the view-only marker and every aircraft
// model need when X-Plane was started from elsewhere (the Finder on macOS, some Linux launchers).
std::string InSimulatorFolder(const std::string &relative);
