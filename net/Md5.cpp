// MD5 for the login digest, delegated to OpenSSL so no hand-made hash code has to be trusted.
#include "net/Md5.h"

#include <openssl/evp.h>

#include <cstring>

void md5_init(md5_state_t *state) {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    if (ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        ctx = nullptr;
    }
    state->ctx = ctx;
}

void md5_append(md5_state_t *state, const md5_byte_t *data, int nbytes) {
    if (state->ctx == nullptr || data == nullptr || nbytes <= 0) return;
    EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(state->ctx), data, (size_t)nbytes);
}

void md5_finish(md5_state_t *state, md5_byte_t digest[16]) {
    // A context OpenSSL could not make leaves an all-zero digest: the login then simply fails, which
    // is all a plug-in that reports nothing can do.
    std::memset(digest, 0, 16);
    EVP_MD_CTX *ctx = static_cast<EVP_MD_CTX *>(state->ctx);
    if (ctx == nullptr) return;
    unsigned int length = 0;
    unsigned char out[EVP_MAX_MD_SIZE];
    if (EVP_DigestFinal_ex(ctx, out, &length) == 1 && length == 16) std::memcpy(digest, out, 16);
    EVP_MD_CTX_free(ctx);
    state->ctx = nullptr;
}
