// The stream phase of the packet processor: stream bytes into whole messages, and each message into the tables.
#pragma once

#include <cstddef>
#include <string>

// The most unparsed text tcpBuffer holds: a line that grows past this without its line end is dropped,
// with the rest of it as it arrives.
constexpr size_t kStreamBufferLimit = 64 * 1024;

// Appends received bytes (already cut at their first NUL) to tcpBuffer with every run of line-end
// characters folded into the terminator "====", then handles every whole message in it. Simulation
// thread only.
void TakeStreamBytes(const char *bytes, size_t count);

// Handles the whole messages at the head of tcpBuffer in arrival order and leaves the rest there: an
// incomplete message, or text without any terminator yet. Text at the head that is not a message (an
// unexpected line, a terminator left by a line end split across reads) is dropped up to and including
// its terminator, so the messages behind it still arrive.
void ParseStreamBuffer();

// Applies one stream message of type `type` for `slot` with the text between its header and terminator.
void HandleStreamMessage(int slot, char type, const std::string &text);

// The whole phase: up to 100 reads from the stream socket, each followed by the parse above. Notices a
// server that closed the stream or failed it, and ends the connection then.
void StreamPhase();

// Back to the state of a fresh load (for test and fuzz harnesses that feed many inputs in one process).
void ResetStreamPhase();
