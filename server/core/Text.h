// Making client texts safe to relay on the stream channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace server {

// The text as it may travel inside one outbound stream message. The receiving plug-in ends a message
// at any line break and at "====" (its line ends become "===="), cuts each read at a NUL byte, and
// reads an empty text as "BLANK": so control characters are dropped, runs of "=" are cut to three,
// "=" at the end is dropped (it would join the terminator), the text is cut to `maxLength` bytes,
// and an empty result becomes "BLANK". The result is valid UTF-8 (invalid bytes become U+FFFD, a cut
// never splits a character) without C1 controls, bidirectional controls, zero-width characters or
// line and paragraph separators, which would rearrange or hide what a pilot or the map shows.
std::string StreamText(std::string_view text, std::size_t maxLength);

// A model path as other machines can open it: "\" becomes "/", and an absolute path that runs through
// an "Aircraft" folder is cut to start there, the part every X-Plane installation shares.
std::string PortableModelPath(std::string_view path);

// True for a path a receiver may be sent as a model: relative, without ".." pieces, and naming an ".acf"
// file (any letter case). The plug-in loads whatever path it is sent.
bool IsAircraftModelPath(std::string_view path);

// A model path as the relay passes it on: portable, made safe for the stream, and "BLANK" unless it names
// a model inside an aircraft folder.
std::string RelayedModelPath(std::string_view path, std::size_t maxLength);

// Decodes one UTF-8 character at the start of `text` (not empty), setting `length` to the bytes it takes.
// Overlong forms, surrogates and values past U+10FFFF are invalid: U+FFFD, over the longest valid prefix
// (at least one byte), so what follows an invalid byte is read anew.
char32_t DecodeUtf8(std::string_view text, std::size_t *length);

// For the log: a dotted-quad address (host byte order), an address and port.
std::string AddressText(std::uint32_t address);
std::string EndpointText(std::uint32_t address, std::uint16_t port);
// For the log: peer-supplied bytes that can never end their field or the line, or pass for something the
// server wrote. Printable ASCII stays as it is but '"' and '\', which get a '\' before them; every other
// byte is written as \xHH. At most 80 bytes are shown, then "...". Preview puts the result in double
// quotes ("text", a cut one "text"...), Escaped leaves them off (for a field of its own).
std::string Preview(std::string_view bytes);
std::string Escaped(std::string_view bytes);

}  // namespace server
