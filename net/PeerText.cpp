// Text from peers made safe to show: invisible controls dropped, and cuts that never split a character.
#include "net/PeerText.h"

namespace {

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at `at` (its lead byte and as many continuation bytes
// as the lead announces), or 1 for a byte that starts none.
size_t SequenceLength(std::string_view text, size_t at) {
    unsigned char lead = (unsigned char)text[at];
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 1;
    if (lead >= 0xF5) length = 1;
    if (at + length > text.size()) return 1;
    for (size_t i = 1; i < length; i++)
        if (!Continuation((unsigned char)text[at + i])) return 1;
    return length;
}

bool Hidden(std::string_view sequence) {
    auto byte = [&](size_t i) { return (unsigned char)sequence[i]; };
    if (sequence.size() == 2) return byte(0) == 0xC2 && byte(1) <= 0x9F;  // U+0080..U+009F
    if (sequence.size() != 3 || byte(0) != 0xE2) return false;
    if (byte(1) == 0x80) return byte(2) >= 0xAA && byte(2) <= 0xAE;  // U+202A..U+202E
    if (byte(1) == 0x81) return byte(2) >= 0xA6 && byte(2) <= 0xA9;  // U+2066..U+2069
    return false;
}

}  // namespace

std::string CleanPeerText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        size_t length = SequenceLength(text, at);
        std::string_view sequence = text.substr(at, length);
        if (!Hidden(sequence)) out.append(sequence);
        at += length;
    }
    return out;
}

size_t Utf8Prefix(std::string_view text, size_t characters) {
    size_t at = 0;
    for (size_t n = 0; n < characters && at < text.size(); n++) at += SequenceLength(text, at);
    return at;
}
