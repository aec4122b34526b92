// Who may log in: the relay asks this for every opening message.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace server {

class Authenticator {
public:
    virtual ~Authenticator() = default;
    // True when `digest` proves that the client knows the password of `user` for this unique ID. May
    // block on a file: it is called on the login worker's thread, never on the event loop. Throws when the
    // accounts cannot be read.
    virtual bool Accepts(int uniqueId, std::string_view user, std::string_view digest) = 0;
    // Rereads the accounts when their file was replaced or rewritten since the last look. Returns the user
    // IDs that may log in now when it did, nothing otherwise. Throws when a changed file cannot be used
    // (the accounts read before stay). Called on the login worker's thread.
    virtual std::optional<std::vector<std::string>> Reload() { return std::nullopt; }
};

// A user ID `accounts add` takes: non-empty, without the protocol's separator '|', and without spaces or
// control characters, which would make two accounts look alike in a list or a log.
inline bool IsValidUserId(std::string_view user) {
    if (user.empty()) return false;
    for (char c : user) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '|' || byte <= ' ' || byte == 0x7f) return false;
    }
    return true;
}

// For a local session: every valid user ID is accepted, whatever its digest, under any unique ID but 0
// (which no plug-in draws).
class OpenAuthenticator : public Authenticator {
public:
    bool Accepts(int uniqueId, std::string_view user, std::string_view) override {
        return uniqueId != 0 && IsValidUserId(user);
    }
};

}  // namespace server
