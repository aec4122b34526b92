// The network's JetStream key-value buckets: opening one, and keys for texts that may hold anything.
#include "server/nats/KeyValue.h"

#include <openssl/sha.h>

#include <chrono>

namespace server {

natsStatus OpenBucket(natsConnection *connection, jsCtx **js, kvStore **kv, const char *bucket, int replicas,
                      Clock::duration ttl) {
    *kv = nullptr;
    if (!*js) {
        jsOptions jsOpts;
        jsOptions_Init(&jsOpts);
        jsOpts.Wait = 1000;
        natsStatus status = natsConnection_JetStream(js, connection, &jsOpts);
        if (status != NATS_OK) {
            *js = nullptr;
            return status;
        }
    }
    natsStatus status = js_KeyValue(kv, *js, bucket);
    if (status != NATS_OK) {
        kvConfig config;
        kvConfig_Init(&config);
        config.Bucket = bucket;
        config.History = 1;
        config.TTL = std::chrono::duration_cast<std::chrono::nanoseconds>(ttl).count();
        config.Replicas = replicas;
        status = js_CreateKeyValue(kv, *js, &config);
    }
    if (status != NATS_OK) *kv = nullptr;
    return status;
}

std::string HashedKey(std::string_view prefix, std::string_view text) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(text.data()), text.size(), digest);
    static const char kHex[] = "0123456789abcdef";
    std::string key(prefix);
    key += '.';
    for (unsigned char byte : digest) {
        key += kHex[byte >> 4];
        key += kHex[byte & 15];
    }
    return key;
}

}  // namespace server
