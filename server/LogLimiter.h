// Keeps a misbehaving peer from flooding the log: at most one line per kind of event per period.
#pragma once

#include <cstdint>

#include "server/Transport.h"

namespace server {

class LogLimiter {
public:
    explicit LogLimiter(Clock::duration period = std::chrono::seconds(1)) : period_(period) {}

    // True when a line may be written now; `suppressed` then tells how many were held back since the last.
    bool Allow(TimePoint now, std::uint64_t *suppressed);

private:
    Clock::duration period_;
    TimePoint last_{};
    bool any_ = false;
    std::uint64_t held_ = 0;
};

}  // namespace server
