// The login-checking thread.
#include "server/accounts/LoginWorker.h"

#include <spdlog/spdlog.h>

#include <exception>
#include <utility>

namespace server {

LoginWorker::LoginWorker(Authenticator &authenticator, Done done, AccountsChanged changed, Clock::duration watchPeriod)
    : authenticator_(authenticator),
      done_(std::move(done)),
      changed_(std::move(changed)),
      watchPeriod_(watchPeriod),
      thread_([this] { Run(); }) {}

LoginWorker::~LoginWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    thread_.join();
}

void LoginWorker::Submit(std::uint64_t ticket, int uniqueId, std::string_view user, std::string_view digest) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({ticket, uniqueId, std::string(user), std::string(digest)});
    }
    wake_.notify_one();
}

void LoginWorker::ReloadNow() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reloadNow_ = true;
    }
    wake_.notify_one();
}

void LoginWorker::Watch() {
    try {
        std::optional<std::vector<std::string>> users = authenticator_.Reload();
        lastError_.clear();
        if (users && changed_) changed_(std::move(*users));
    } catch (const std::exception &error) {
        if (error.what() != lastError_) {
            lastError_ = error.what();
            spdlog::error("accounts file not taken: {}; the accounts read before stay", lastError_);
        }
    }
}

void LoginWorker::Run() {
    auto nextWatch = Clock::now() + watchPeriod_;
    for (;;) {
        Request request;
        bool watch = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, nextWatch, [this] { return stopping_ || reloadNow_ || !queue_.empty(); });
            if (stopping_) return;
            if (reloadNow_ || Clock::now() >= nextWatch) {
                watch = true;
                reloadNow_ = false;
            } else {
                request = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (watch) {
            Watch();
            nextWatch = Clock::now() + watchPeriod_;
            continue;
        }
        LoginResult result = LoginResult::Unavailable;
        try {
            result = authenticator_.Accepts(request.uniqueId, request.user, request.digest) ? LoginResult::Accepted
                                                                                            : LoginResult::Refused;
        } catch (const std::exception &) {
        }
        done_(request.ticket, result);
    }
}

}  // namespace server
