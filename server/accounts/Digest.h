// The login digest: MD5 over the decimal unique ID, the user ID and the password, as 32 lower-case hex digits.
#pragma once

#include <string>
#include <string_view>

namespace server {

std::string LoginDigest(int uniqueId, std::string_view user, std::string_view password);

// Compares two digests without regard to the case of the hex digits, in time independent of where
// they differ, so a guesser learns nothing from response timing.
bool DigestsEqual(std::string_view a, std::string_view b);

}  // namespace server
