// The login-checking thread.
#include "server/accounts/LoginWorker.h"

#include <exception>
#include <utility>

namespace server {

LoginWorker::LoginWorker(Authenticator &authenticator, Done done)
    : authenticator_(authenticator), done_(std::move(done)), thread_([this] { Run(); }) {}

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

void LoginWorker::Run() {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            request = std::move(queue_.front());
            queue_.pop_front();
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
