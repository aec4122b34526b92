// How log lines are written: text for people (UTC with its zone, syslog priorities under systemd) or one
// JSON object a line for tools, and the events that carry an address and a user as fields of their own.
#pragma once

#include <spdlog/formatter.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace server {

enum class LogFormat { Text, Json };

// Writes each line as "2026-01-31T12:00:00.000Z warning <message>", or as {"time", "level", "event",
// "address", "user", "message"}; with `journal` (standard error goes to systemd's journal) a text line
// starts with its syslog priority ("<4>"), which journald takes off and keeps as the line's priority.
class LineFormatter : public spdlog::formatter {
public:
    LineFormatter(LogFormat format, bool journal) : format_(format), journal_(journal) {}
    void format(const spdlog::details::log_msg &message, spdlog::memory_buf_t &dest) override;
    std::unique_ptr<spdlog::formatter> clone() const override;

private:
    LogFormat format_;
    bool journal_;
};

// True when standard error is systemd's journal stream (systemd names it in $JOURNAL_STREAM).
bool StderrIsJournal();

// The message of a line about one connection: `event` names it for tools ("login_refused"), `address`
// (host byte order) comes first in the text form, before anything a client chose; `user` is the client's
// text as Preview shows it, or empty. A text line reads "<address> <text>".
std::string EventMessage(std::string_view event, std::uint32_t address, std::string_view user, std::string_view text);

}  // namespace server
