// Reading a server entry, and choosing between the environment, the settings and the built-in server.
#include "net/ServerAddress.h"

#include <cstdlib>

#include "core/SkorvaleSE.h"

#ifndef SKORVALE_SERVER_ADDRESS
#define SKORVALE_SERVER_ADDRESS "127.0.0.1"
#endif

namespace {

constexpr size_t kHostLimit = 253;
constexpr size_t kLabelLimit = 63;

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A host name as the name system has it (letters, digits, '-' and '.', labels of 1 to 63 bytes), which
// a dotted quad also is.
bool CheckHost(const std::string &host, std::string *error) {
    if (host.empty()) {
        *error = "no host name or address before the port";
        return false;
    }
    if (host.size() > kHostLimit) {
        *error = "the host name is longer than 253 characters";
        return false;
    }
    if (host.front() == '[' || host.find(':') != std::string::npos) {
        *error = "only IPv4 addresses and host names are supported";
        return false;
    }
    size_t label = 0;
    for (char c : host) {
        if (!IsHostCharacter(c)) {
            *error = "a host name has only letters, digits, '-' and '.'";
            return false;
        }
        label = c == '.' ? 0 : label + 1;
        if (label > kLabelLimit) {
            *error = "a part of the host name is longer than 63 characters";
            return false;
        }
    }
    if (host.front() == '.' || host.find("..") != std::string::npos) {
        *error = "the host name has an empty part";
        return false;
    }
    return true;
}

bool CheckPort(const std::string &digits, int *port, std::string *error) {
    *error = "the port must be a number from 1 to 65535";
    if (digits.empty() || digits.size() > 5) return false;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    *port = value;
    error->clear();
    return true;
}

}  // namespace

bool ParseServerName(const std::string &text, ServerName *out, std::string *error) {
    size_t begin = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    std::string entry = begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
    if (entry.empty()) {
        *error = "no server given";
        return false;
    }
    if (entry.size() > kServerEntryLimit) {
        *error = "the server entry is longer than 259 characters";
        return false;
    }
    ServerName parsed;
    size_t colon = entry.rfind(':');
    // More than one colon is an IPv6 address, which the host check turns down with its reason.
    if (colon != std::string::npos && entry.find(':') == colon) {
        parsed.host = entry.substr(0, colon);
        if (!CheckPort(entry.substr(colon + 1), &parsed.port, error)) return false;
    } else {
        parsed.host = entry;
    }
    if (!CheckHost(parsed.host, error)) return false;
    // Names are looked up without regard to case; one spelling keeps the status line and log steady.
    for (char &c : parsed.host) {
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    }
    *out = parsed;
    error->clear();
    return true;
}

std::string ServerNameText(const ServerName &server) { return server.host + ":" + std::to_string(server.port); }

const char *BuiltInServer() { return SKORVALE_SERVER_ADDRESS; }

std::string ChosenServerEntry() {
    const char *override = std::getenv("SKORVALE_SERVER_ADDRESS");
    if (override != nullptr && override[0] != '\0') return override;
    if (!serverSetting.empty()) return serverSetting;
    return BuiltInServer();
}
