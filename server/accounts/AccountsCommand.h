// `skorvale-server accounts ...`: the commands that manage the accounts file.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace server {

class AccountsCommand {
public:
    // Adds the `accounts` subcommands to `app`, before it parses.
    explicit AccountsCommand(CLI::App &app);
    // After parsing: whether an `accounts` command was given.
    bool Chosen() const;
    // Runs it; returns the exit status (2 for input it refuses, 1 for a file it cannot use).
    int Run();

private:
    CLI::App *accounts_, *add_, *remove_, *list_, *disable_, *enable_;
    std::string file_, user_;
};

}  // namespace server
