// Keeps a misbehaving peer from flooding the log: a budget of lines per kind of event.
#pragma once

#include <spdlog/spdlog.h>

#include <cstdint>
#include <string>
#include <utility>

#include "server/TokenBucket.h"
#include "server/Transport.h"

namespace server {

class LogLimiter {
public:
    // On average one line per `period`, up to `burst` at once.
    explicit LogLimiter(Clock::duration period = std::chrono::seconds(1), int burst = 1)
        : bucket_(1.0 / std::chrono::duration<double>(period).count(), burst) {}

    // True when a line may be written now; `suppressed` then tells how many were held back since the last.
    bool Allow(TimePoint now, std::uint64_t *suppressed);

    // Writes one line when the budget allows, with the count of lines held back since the last one. The
    // line is only formatted when it is written, so a flood costs no formatting.
    template <typename... Args>
    void Log(TimePoint now, spdlog::level::level_enum level, fmt::format_string<Args...> format, Args &&...args) {
        std::uint64_t suppressed = 0;
        if (!Allow(now, &suppressed)) return;
        std::string line = fmt::format(format, std::forward<Args>(args)...);
        if (suppressed > 0) {
            spdlog::log(level, "{} ({} similar lines suppressed)", line, suppressed);
        } else {
            spdlog::log(level, "{}", line);
        }
    }

private:
    TokenBucket bucket_;
    std::uint64_t held_ = 0;
};

}  // namespace server
