// A token bucket: how the relay holds a sender (or a log line) to a sustained rate with a bounded burst.
#pragma once

#include "server/core/Transport.h"

namespace server {

class TokenBucket {
public:
    // `rate` tokens a second, at most `burst` saved up; it starts full.
    TokenBucket(double rate, double burst) : rate_(rate), burst_(burst), tokens_(burst) {}

    // Takes one token if there is one at `now`.
    bool Take(TimePoint now, double amount = 1.0) {
        Refill(now);
        if (tokens_ < amount) return false;
        tokens_ -= amount;
        return true;
    }
    // Takes `amount` whatever is left: the bucket may go into debt, which the refill pays off first.
    void Spend(TimePoint now, double amount) {
        Refill(now);
        tokens_ -= amount;
    }
    // Adds `amount` tokens at once, within the burst.
    void Grant(TimePoint now, double amount) {
        Refill(now);
        tokens_ += amount;
        if (tokens_ > burst_) tokens_ = burst_;
    }
    // True when a token is there, without taking it.
    bool Ready(TimePoint now) {
        Refill(now);
        return tokens_ >= 1.0;
    }
    // True when it has saved up its whole burst again: it is then no different from a new one.
    bool Full(TimePoint now) {
        Refill(now);
        return tokens_ >= burst_;
    }

    // A new rate and burst from now on; the tokens saved so far stay, within the new burst.
    void SetRate(double rate, double burst) {
        rate_ = rate;
        burst_ = burst;
        if (tokens_ > burst_) tokens_ = burst_;
    }

private:
    void Refill(TimePoint now) {
        if (!started_) {
            started_ = true;
            last_ = now;
            return;
        }
        if (now <= last_) return;
        double seconds = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        tokens_ += seconds * rate_;
        if (tokens_ > burst_) tokens_ = burst_;
    }

    double rate_;
    double burst_;
    double tokens_;
    TimePoint last_{};
    bool started_ = false;
};

}  // namespace server
