// Rate limiting of repetitive log lines.
#include "server/LogLimiter.h"

namespace server {

bool LogLimiter::Allow(TimePoint now, std::uint64_t *suppressed) {
    if (any_ && now - last_ < period_) {
        ++held_;
        return false;
    }
    any_ = true;
    last_ = now;
    *suppressed = held_;
    held_ = 0;
    return true;
}

}  // namespace server
