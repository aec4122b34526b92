// Rate limiting of repetitive log lines.
#include "server/core/LogLimiter.h"

namespace server {

void LogBudget::Summarize(TimePoint now) {
    if (lastSummary_ == TimePoint{}) lastSummary_ = now;
    if (suppressed_ == 0 || now - lastSummary_ < std::chrono::minutes(1)) return;
    spdlog::warn("log budget of {} lines a minute reached: {} lines {} suppressed in the last {} s", perMinute_,
                 suppressed_, what_, std::chrono::duration_cast<std::chrono::seconds>(now - lastSummary_).count());
    suppressed_ = 0;
    lastSummary_ = now;
}

bool LogLimiter::Allow(TimePoint now, std::uint64_t *suppressed) {
    if (!bucket_.Take(now) || (budget_ && !budget_->Take(now))) {
        ++held_;
        return false;
    }
    *suppressed = held_;
    held_ = 0;
    return true;
}

}  // namespace server
