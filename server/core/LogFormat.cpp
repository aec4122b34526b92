// The log's line formats.
#include "server/core/LogFormat.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "server/core/Text.h"

namespace server {

namespace {

// Fields of an event message: it starts with this separator, and one stands between its fields. No
// client text can hold it: every one is shown through Preview, which escapes control characters.
constexpr char kField = '\x1f';

void Append(spdlog::memory_buf_t &dest, std::string_view text) { dest.append(text.data(), text.data() + text.size()); }

// A JSON string of `text`; bytes that are not UTF-8 become U+FFFD's escape, so the line stays valid JSON.
void AppendJsonString(spdlog::memory_buf_t &dest, std::string_view text) {
    dest.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            dest.push_back('\\');
            dest.push_back(static_cast<char>(byte));
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            Append(dest, escape);
        } else if (byte < 0x80) {
            dest.push_back(static_cast<char>(byte));
        } else {
            std::size_t size = byte >= 0xc2 && byte <= 0xdf   ? 2
                               : byte >= 0xe0 && byte <= 0xef ? 3
                               : byte >= 0xf0 && byte <= 0xf4 ? 4
                                                              : 0;
            bool valid = size != 0 && i + size <= text.size();
            for (std::size_t k = 1; valid && k < size; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
            if (valid) {
                Append(dest, text.substr(i, size));
                i += size - 1;
            } else {
                Append(dest, "\\ufffd");
            }
        }
    }
    dest.push_back('"');
}

int SyslogPriority(spdlog::level::level_enum level) {
    switch (level) {
        case spdlog::level::critical:
            return 2;
        case spdlog::level::err:
            return 3;
        case spdlog::level::warn:
            return 4;
        case spdlog::level::info:
            return 6;
        default:
            return 7;
    }
}

}  // namespace

void LineFormatter::format(const spdlog::details::log_msg &message, spdlog::memory_buf_t &dest) {
    using namespace std::chrono;
    auto sinceEpoch = duration_cast<milliseconds>(message.time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(sinceEpoch / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char time[96];
    std::snprintf(time, sizeof time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(sinceEpoch % 1000));
    std::string_view level(spdlog::level::to_string_view(message.level).data(),
                           spdlog::level::to_string_view(message.level).size());
    std::string_view payload(message.payload.data(), message.payload.size());

    // An event's fields; a plain line has only its text.
    std::string_view event = "log", address, user, text = payload;
    if (!payload.empty() && payload[0] == kField) {
        std::vector<std::string_view> fields;
        std::string_view rest = payload.substr(1);
        for (int i = 0; i < 3; ++i) {
            std::size_t end = rest.find(kField);
            if (end == std::string_view::npos) break;
            fields.push_back(rest.substr(0, end));
            rest.remove_prefix(end + 1);
        }
        if (fields.size() == 3) {
            event = fields[0];
            address = fields[1];
            user = fields[2];
            text = rest;
        }
    }

    if (format_ == LogFormat::Json) {
        Append(dest, "{\"time\":\"");
        Append(dest, time);
        Append(dest, "\",\"level\":");
        AppendJsonString(dest, level);
        Append(dest, ",\"event\":");
        AppendJsonString(dest, event);
        if (!address.empty()) {
            Append(dest, ",\"address\":");
            AppendJsonString(dest, address);
        }
        if (!user.empty()) {
            Append(dest, ",\"user\":");
            AppendJsonString(dest, user);
        }
        Append(dest, ",\"message\":");
        AppendJsonString(dest, text);
        Append(dest, "}\n");
        return;
    }
    if (journal_) {
        char priority[8];
        std::snprintf(priority, sizeof priority, "<%d>", SyslogPriority(message.level));
        Append(dest, priority);
    }
    Append(dest, time);
    dest.push_back(' ');
    Append(dest, level);
    dest.push_back(' ');
    if (!address.empty()) {
        Append(dest, address);
        dest.push_back(' ');
    }
    Append(dest, text);
    dest.push_back('\n');
}

std::unique_ptr<spdlog::formatter> LineFormatter::clone() const {
    return std::make_unique<LineFormatter>(format_, journal_);
}

bool StderrIsJournal() {
    // "DEVICE:INODE" of the journal's stream; it counts only while standard error is still that stream.
    const char *stream = std::getenv("JOURNAL_STREAM");
    if (!stream) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    struct stat info {};
    return ::fstat(2, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device &&
           static_cast<unsigned long long>(info.st_ino) == inode;
}

std::string EventMessage(std::string_view event, std::uint32_t address, std::string_view user, std::string_view text) {
    std::string message;
    message += kField;
    message.append(event);
    message += kField;
    message += AddressText(address);
    message += kField;
    message.append(user);
    message += kField;
    message.append(text);
    return message;
}

}  // namespace server
