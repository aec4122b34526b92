// Text from peers made safe to show: invisible controls dropped, and cuts that never split a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// `text` without the C1 control characters (U+0080..U+009F) and the bidirectional embeddings,
// overrides and isolates (U+202A..U+202E, U+2066..U+2069) it holds in UTF-8: a peer could otherwise
// turn the rest of a row, or the rows after it, around or hide them. Every other byte stays, even where
// it is not UTF-8 (a Latin-1 callsign, say).
std::string CleanPeerText(std::string_view text);

// The bytes of the first `characters` characters of `text`: a UTF-8 sequence counts as one character
// and is never split; any other byte counts as one.
size_t Utf8Prefix(std::string_view text, size_t characters);
