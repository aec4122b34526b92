// The accounts commands: add (password from standard input), remove, list, disable, enable.
#include "server/accounts/AccountsCommand.h"

#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "server/accounts/Accounts.h"

namespace server {

namespace {

// The password comes on standard input so it stays out of the shell history and the process list. False
// when there is none.
bool ReadPassword(const std::string &user, std::string *password) {
    bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        // Typed at a terminal: ask, and do not echo it.
        std::cerr << "password for " << user << ": " << std::flush;
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    bool read = static_cast<bool>(std::getline(std::cin, *password));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << "\n";
    }
    if (read && !password->empty() && password->back() == '\r') password->pop_back();
    return read;
}

}  // namespace

AccountsCommand::AccountsCommand(CLI::App &app) {
    accounts_ = app.add_subcommand("accounts", "Manage the accounts file");
    accounts_->require_subcommand(1);
    add_ = accounts_->add_subcommand("add", "Add a user, or change its password (read from standard input)");
    add_->add_option("FILE", file_, "Accounts file (created, readable by its owner only)")->required();
    add_->add_option("USER", user_, "User ID")->required();
    remove_ = accounts_->add_subcommand("remove", "Remove a user; a running server ends its sessions");
    remove_->add_option("FILE", file_, "Accounts file")->required();
    remove_->add_option("USER", user_, "User ID")->required();
    list_ = accounts_->add_subcommand("list", "List the user IDs (disabled ones marked)");
    list_->add_option("FILE", file_, "Accounts file")->required();
    disable_ =
        accounts_->add_subcommand("disable", "Keep a user out, password kept; a running server ends its sessions");
    disable_->add_option("FILE", file_, "Accounts file")->required();
    disable_->add_option("USER", user_, "User ID")->required();
    enable_ = accounts_->add_subcommand("enable", "Let a disabled user in again");
    enable_->add_option("FILE", file_, "Accounts file")->required();
    enable_->add_option("USER", user_, "User ID")->required();
}

bool AccountsCommand::Chosen() const { return accounts_->parsed(); }

int AccountsCommand::Run() {
    try {
        if (add_->parsed()) {
            if (!IsValidUserId(user_)) {
                std::cerr << "skorvale-server: a user ID must be non-empty, without spaces, control characters "
                             "or '|'\n";
                return 2;
            }
            std::string password;
            if (!ReadPassword(user_, &password)) {
                std::cerr << "skorvale-server: no password on standard input\n";
                return 2;
            }
            if (password.empty()) {
                std::cerr << "skorvale-server: the password must not be empty\n";
                return 2;
            }
            AccountStore store(file_, true);
            store.Add(user_, password);
            std::cerr << "added " << user_ << " to " << file_ << "\n";
            return 0;
        }
        AccountStore store(file_, false);
        if (list_->parsed()) {
            for (const Account &account : store.Accounts()) {
                std::cout << account.user << (account.disabled ? "\tdisabled" : "") << "\n";
            }
            return 0;
        }
        bool found = remove_->parsed() ? store.Remove(user_) : store.SetDisabled(user_, disable_->parsed());
        if (!found) {
            std::cerr << "skorvale-server: no user " << user_ << " in " << file_ << "\n";
            return 1;
        }
        return 0;
    } catch (const std::exception &error) {
        std::cerr << "skorvale-server: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace server
