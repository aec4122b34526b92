// MD5 (RFC 1321) for the login digest, as a thin layer over OpenSSL's EVP interface.
#pragma once

typedef unsigned char md5_byte_t;

struct md5_state_t {
    void *ctx;  // EVP_MD_CTX, owned until md5_finish
};

void md5_init(md5_state_t *state);
void md5_append(md5_state_t *state, const md5_byte_t *data, int nbytes);
void md5_finish(md5_state_t *state, md5_byte_t digest[16]);
