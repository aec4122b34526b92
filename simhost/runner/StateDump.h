// The runner's JSON picture of what a user and a peer could observe at the end of a run.
#pragma once

#include <nlohmann/json.hpp>

#include "simhost/Host.h"

namespace simhost {

// Taken after the last frame and before the plug-in is disabled, so windows, widgets and the
// connection are still as the user last saw them.
nlohmann::json BuildState(const LoadedPlugin &plugin);

// The JSON text of a state: never fails, whatever bytes its texts hold.
std::string StateText(const nlohmann::json &state);

// Now, in seconds since the epoch: lets runs in other processes be lined up.
double WallSeconds();

// A few lines for people: name, run length, windows, planes, connection.
std::string Summary(const nlohmann::json &state);

}  // namespace simhost
