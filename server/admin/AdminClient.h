// `skorvale-server admin COMMAND ...`: sends one command to a running server's control socket.
#pragma once

#include <string>
#include <vector>

namespace server {

// Prints the answer (its output on standard output, an error on standard error); returns the exit status:
// 0 for "ok", 1 for an error the server gave or a server that does not answer, 2 for no command.
int RunAdminCommand(const std::string &socketPath, const std::vector<std::string> &words);

}  // namespace server
