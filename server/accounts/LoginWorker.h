// Checks logins on a thread of its own: the accounts file may be slow, or locked by another process, and
// that must delay only the logins that wait for it, never the relaying on the event loop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/accounts/Authenticator.h"
#include "server/core/Transport.h"

namespace server {

class LoginWorker {
public:
    // Called on the worker thread with each answer; it must hand the answer to the event loop.
    using Done = std::function<void(std::uint64_t ticket, LoginResult result)>;
    // Called on the worker thread with the user IDs that may log in, each time the accounts file changed;
    // it must hand them to the event loop, which ends the sessions of everyone else.
    using AccountsChanged = std::function<void(std::vector<std::string> users)>;

    // Between logins the worker looks at the accounts file every `watchPeriod`, so that a removed or
    // disabled account is noticed within that time even when nobody logs in.
    LoginWorker(Authenticator &authenticator, Done done, AccountsChanged changed = {},
                Clock::duration watchPeriod = std::chrono::seconds(1));
    // Waits for the check under way (bounded by the accounts file's busy timeout); queued ones are dropped.
    ~LoginWorker();
    LoginWorker(const LoginWorker &) = delete;
    LoginWorker &operator=(const LoginWorker &) = delete;

    // Called from the event loop. The queue needs no bound of its own: each connection has at most one
    // login under check, and connections are bounded.
    void Submit(std::uint64_t ticket, int uniqueId, std::string_view user, std::string_view digest);
    // Looks at the accounts file now (on SIGHUP), not at the next period.
    void ReloadNow();

private:
    struct Request {
        std::uint64_t ticket = 0;
        int uniqueId = 0;
        std::string user;
        std::string digest;
    };
    void Run();
    void Watch();

    Authenticator &authenticator_;
    Done done_;
    AccountsChanged changed_;
    Clock::duration watchPeriod_;
    std::string lastError_;  // logged once, not every period
    bool reloadNow_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace server
