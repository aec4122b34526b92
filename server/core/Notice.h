// The one stream line by which the relay tells a client why it refuses or ends its session.
#pragma once

#include <string>
#include <string_view>

namespace server {

// What the client may do after the line: try again by itself (with its growing delays), or wait for its
// pilot (wrong credentials, an operator's kick or ban, a newer login of the same user).
enum class Retry { Later, Never };

// The line is a chat message ("m"), so a plug-in that predates it shows it as a chat line from the server.
// Its number, where chat from pilots always carries 0, tells the plug-in that knows it that this is the
// server speaking: a peer's chat cannot carry another number, nor a line break to start a message of its
// own. The text is made safe for the stream like any relayed text.
constexpr int kNoticeTryLater = 9000;
constexpr int kNoticeFinal = 9001;

// "<9000|9001>|m|Server: <text>\n"
std::string NoticeLine(std::string_view text, Retry retry);

}  // namespace server
