// NATS nkeys for a node: a user's seed read from its file and checked, and the public key that goes with it.
#pragma once

#include <string>
#include <string_view>

namespace server {

// The public key ("U" and 55 more) of the user seed in the file at `path`: the first line starting with
// "SU", as `nk -gen user` writes it or as it stands in a credentials file. Throws std::invalid_argument saying
// what is wrong with the file (missing, unreadable, no user seed, a bad seed); the seed is never quoted.
std::string NkeyPublicKeyOfSeedFile(const std::string &path);

// The user seed ("SU" and 56 more) of 32 bytes of key material: how a new nkey pair is made.
std::string NkeyUserSeed(std::string_view material);

}  // namespace server
