// MD5 for the login digest from libmd, for the self-contained release plug-in (static, no other needs).
#include "net/Md5.h"

#include <md5.h>

#include <cstring>
#include <new>

void md5_init(md5_state_t *state) {
    MD5_CTX *ctx = new (std::nothrow) MD5_CTX;
    if (ctx != nullptr) MD5Init(ctx);
    state->ctx = ctx;
}

void md5_append(md5_state_t *state, const md5_byte_t *data, int nbytes) {
    if (state->ctx == nullptr || data == nullptr || nbytes <= 0) return;
    MD5Update(static_cast<MD5_CTX *>(state->ctx), data, (size_t)nbytes);
}

void md5_finish(md5_state_t *state, md5_byte_t digest[16]) {
    // Without a context the digest is all zeros and the login fails, as with the OpenSSL variant.
    std::memset(digest, 0, 16);
    MD5_CTX *ctx = static_cast<MD5_CTX *>(state->ctx);
    if (ctx == nullptr) return;
    MD5Final(digest, ctx);
    delete ctx;
    state->ctx = nullptr;
}
