// Who may log in: the relay asks this for every opening message.
#pragma once

#include <string_view>

namespace server {

class Authenticator {
public:
    virtual ~Authenticator() = default;
    // True when `digest` proves that the client knows the password of `user` for this unique ID. May
    // block on a file: it is called on the login worker's thread, never on the event loop. Throws when the
    // accounts cannot be read.
    virtual bool Accepts(int uniqueId, std::string_view user, std::string_view digest) = 0;
};

// A user ID `accounts add` takes: non-empty, without the protocol's separator '|'.
inline bool IsValidUserId(std::string_view user) { return !user.empty() && user.find('|') == std::string_view::npos; }

// For a local session: every valid user ID is accepted, whatever its digest, under any unique ID but 0
// (which no plug-in draws).
class OpenAuthenticator : public Authenticator {
public:
    bool Accepts(int uniqueId, std::string_view user, std::string_view) override {
        return uniqueId != 0 && IsValidUserId(user);
    }
};

}  // namespace server
