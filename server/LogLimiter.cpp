// Rate limiting of repetitive log lines.
#include "server/LogLimiter.h"

namespace server {

bool LogLimiter::Allow(TimePoint now, std::uint64_t *suppressed) {
    if (!bucket_.Take(now)) {
        ++held_;
        return false;
    }
    *suppressed = held_;
    held_ = 0;
    return true;
}

}  // namespace server
