// The network's JetStream key-value buckets: opening one, and keys for texts that may hold anything.
#pragma once

#include <nats/nats.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "server/core/Transport.h"

namespace server {

// Opens `bucket` on `connection`, creating it with `replicas` copies and entries living `ttl` (zero: for
// good) when it does not exist yet. `*js` is made on the first call and kept for the next ones. NATS_OK, or
// the failure, with `*kv` null.
natsStatus OpenBucket(natsConnection *connection, jsCtx **js, kvStore **kv, const char *bucket, int replicas,
                      Clock::duration ttl);

// A key of `prefix` and the SHA-256 of `text` in hexadecimal: keys are subject tokens, and a user ID or a
// ban's target can hold anything.
std::string HashedKey(std::string_view prefix, std::string_view text);

}  // namespace server
