// The login digest, computed with OpenSSL's one-shot EVP interface.
#include "server/accounts/Digest.h"

#include <openssl/evp.h>

#include <string>

namespace server {

std::string LoginDigest(int uniqueId, std::string_view user, std::string_view password) {
    std::string input = std::to_string(uniqueId);
    input.append(user);
    input.append(password);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < length; ++i) {
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 15]);
    }
    return text;
}

bool DigestsEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    // ASCII folding only: the process locale must not decide what a digest is.
    auto lower = [](char c) { return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); };
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(lower(a[i]) ^ lower(b[i]));
    return difference == 0;
}

}  // namespace server
