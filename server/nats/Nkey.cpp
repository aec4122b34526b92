// NATS nkeys for a node: a user's seed read from its file and checked, and the public key that goes with it.
#include "server/nats/Nkey.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace server {

namespace {

// The first byte of a key says what it is: a seed's first five bits, a public key's whole byte.
constexpr unsigned char kSeedPrefix = 18 << 3;  // "S"
constexpr unsigned char kUserPrefix = 20 << 3;  // "U"
constexpr std::size_t kKeyBytes = 32;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

// CRC-16/XMODEM, which the keys carry after their bytes, low byte first.
std::uint16_t Crc16(const unsigned char *data, std::size_t size) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
    }
    return crc;
}

// Base32 without padding, as the keys are written.
std::string Base32(const std::vector<unsigned char> &bytes) {
    std::string text;
    unsigned buffer = 0;
    int bits = 0;
    for (unsigned char byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            text += kAlphabet[(buffer >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    if (bits > 0) text += kAlphabet[(buffer << (5 - bits)) & 31];
    return text;
}

bool FromBase32(std::string_view text, std::vector<unsigned char> *bytes) {
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        const char *at = c == 0 ? nullptr : std::strchr(kAlphabet, c);
        if (!at) return false;
        buffer = (buffer << 5) | static_cast<unsigned>(at - kAlphabet);
        bits += 5;
        if (bits >= 8) {
            bytes->push_back(static_cast<unsigned char>(buffer >> (bits - 8)));
            bits -= 8;
        }
    }
    return true;
}

// Bytes with their checksum, encoded.
std::string Encode(std::vector<unsigned char> bytes) {
    std::uint16_t crc = Crc16(bytes.data(), bytes.size());
    bytes.push_back(static_cast<unsigned char>(crc & 0xff));
    bytes.push_back(static_cast<unsigned char>(crc >> 8));
    std::string text = Base32(bytes);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return text;
}

// Wipes the key material it holds when it goes.
struct Secret {
    std::vector<unsigned char> bytes;
    std::string text;
    ~Secret() {
        if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
        if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
    }
};

}  // namespace

std::string NkeyUserSeed(std::string_view material) {
    if (material.size() != kKeyBytes) throw std::invalid_argument("an nkey seed is made of 32 bytes");
    std::vector<unsigned char> bytes = {kSeedPrefix | (kUserPrefix >> 5),
                                        static_cast<unsigned char>((kUserPrefix & 31) << 3)};
    bytes.insert(bytes.end(), material.begin(), material.end());
    return Encode(std::move(bytes));
}

std::string NkeyPublicKeyOfSeedFile(const std::string &path) {
    auto fail = [&](const std::string &why) { return std::invalid_argument("--nats-nkey " + path + ": " + why); };
    std::ifstream file(path);
    if (!file) throw fail(std::string("cannot read it (") + std::strerror(errno) + ")");
    Secret seed;
    std::string line;
    while (std::getline(file, line)) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start != std::string::npos && line.compare(start, 2, "SU") == 0) {
            std::size_t end = line.find_first_of(" \t\r", start);
            seed.text = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
            break;
        }
        OPENSSL_cleanse(line.data(), line.size());
    }
    OPENSSL_cleanse(line.data(), line.size());
    if (file.bad()) throw fail("cannot read it");
    if (seed.text.empty()) throw fail("holds no user nkey seed (a line starting with SU)");
    // 2 prefix bytes, the key, the checksum: 36 bytes, 58 characters.
    if (seed.text.size() != 58 || !FromBase32(seed.text, &seed.bytes) || seed.bytes.size() != 2 + kKeyBytes + 2) {
        throw fail("its user seed is not a valid nkey seed (58 characters of A-Z and 2-7)");
    }
    const unsigned char *raw = seed.bytes.data();
    std::uint16_t crc = static_cast<std::uint16_t>(raw[2 + kKeyBytes] | (raw[3 + kKeyBytes] << 8));
    if (Crc16(raw, 2 + kKeyBytes) != crc) throw fail("its user seed is damaged (its checksum does not match)");
    if ((raw[0] & 0xf8) != kSeedPrefix || (((raw[0] & 7) << 5) | (raw[1] >> 3)) != kUserPrefix) {
        throw fail("its seed is not a user's");
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, raw + 2, kKeyBytes), &EVP_PKEY_free);
    std::vector<unsigned char> publicKey(1 + kKeyBytes);
    std::size_t size = kKeyBytes;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), publicKey.data() + 1, &size) != 1 || size != kKeyBytes) {
        throw fail("its public key cannot be derived");
    }
    publicKey[0] = kUserPrefix;
    return Encode(std::move(publicKey));
}

}  // namespace server
