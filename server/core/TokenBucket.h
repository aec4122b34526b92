// A token bucket: how the relay holds a sender (or a log line) to a sustained rate with a bounded burst.
#pragma once

#include "server/core/Transport.h"

namespace server {

class TokenBucket {
public:
    // `rate` tokens a second, at most `burst` saved up; it starts full.
    TokenBucket(double rate, double burst) : rate_(rate), burst_(burst), tokens_(burst) {}

    // Takes one token if there is one at `now`.
    bool Take(TimePoint now) {
        Refill(now);
        if (tokens_ < 1.0) return false;
        tokens_ -= 1.0;
        return true;
    }
    // True when a token is there, without taking it.
    bool Ready(TimePoint now) {
        Refill(now);
        return tokens_ >= 1.0;
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
