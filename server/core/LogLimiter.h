// Keeps a misbehaving peer from flooding the log: a budget of lines per kind of event.
#pragma once

#include <spdlog/spdlog.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "server/core/TokenBucket.h"
#include "server/core/Transport.h"

namespace server {

// One budget for every line outsiders can cause, whatever its kind: each kind has its own limiter, but
// however many kinds (or attacking clients) are busy at once, together they write at most this much. What
// it held back is told in one summary line a minute. A line counts as one of kLineBytes, or as as many as
// it fills, so the budget bounds the bytes written whatever texts the lines quote.
class LogBudget {
public:
    // Bytes of one line as the budget counts it, the timestamp and level included.
    static constexpr std::size_t kLineBytes = 160;

    // `perMinute` lines a minute on average, up to `burst` at once.
    LogBudget(double perMinute, double burst) : bucket_(perMinute / 60.0, burst), perMinute_(perMinute) {}

    bool Take(TimePoint now) {
        if (bucket_.Take(now)) return true;
        ++suppressed_;
        return false;
    }
    // A line of `bytes` (without timestamp and level) was written: one longer than kLineBytes draws the
    // rest of what it fills.
    void Charge(TimePoint now, std::size_t bytes) {
        bytes += kPrefixBytes;
        if (bytes > kLineBytes) bucket_.Spend(now, static_cast<double>(bytes - kLineBytes) / kLineBytes);
    }
    // A new budget from now on (a reload).
    void SetRate(double perMinute, double burst) {
        bucket_.SetRate(perMinute / 60.0, burst);
        perMinute_ = perMinute;
    }
    // Writes the summary line when lines were held back and a minute has passed since the last one.
    void Summarize(TimePoint now);

private:
    static constexpr std::size_t kPrefixBytes = 32;  // "2026-01-01 00:00:00.000 warning "
    TokenBucket bucket_;
    double perMinute_;
    std::uint64_t suppressed_ = 0;
    TimePoint lastSummary_{};
};

class LogLimiter {
public:
    // On average one line per `period`, up to `burst` at once.
    explicit LogLimiter(Clock::duration period = std::chrono::seconds(1), int burst = 1)
        : bucket_(1.0 / std::chrono::duration<double>(period).count(), burst) {}

    // Its lines also draw on `budget` (which must outlive it).
    void Share(LogBudget &budget) { budget_ = &budget; }

    // True when a line may be written now; `suppressed` then tells how many were held back since the last.
    bool Allow(TimePoint now, std::uint64_t *suppressed);
    // A line allowed by Allow was written with `bytes`: it draws on the shared budget by its length.
    void Charge(TimePoint now, std::size_t bytes) {
        if (budget_) budget_->Charge(now, bytes);
    }

    // Writes one line when the budget allows, with the count of lines held back since the last one. The
    // line is only formatted when it is written, so a flood costs no formatting.
    template <typename... Args>
    void Log(TimePoint now, spdlog::level::level_enum level, fmt::format_string<Args...> format, Args &&...args) {
        std::uint64_t suppressed = 0;
        if (!Allow(now, &suppressed)) return;
        std::string line = fmt::format(format, std::forward<Args>(args)...);
        if (suppressed > 0) line += fmt::format(" ({} similar lines suppressed)", suppressed);
        spdlog::log(level, "{}", line);
        Charge(now, line.size());
    }

private:
    TokenBucket bucket_;
    std::uint64_t held_ = 0;
    LogBudget *budget_ = nullptr;
};

}  // namespace server
