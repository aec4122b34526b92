// The relay's view of the network: what it sends and closes, independent of the socket library.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace server {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using ConnectionId = std::uint64_t;

// An IPv4 datagram endpoint, address and port in host byte order.
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    bool operator==(const Endpoint &other) const { return address == other.address && port == other.port; }
    bool operator!=(const Endpoint &other) const { return !(*this == other); }
};

// One relayed datagram: a per-receiver prefix ("<slot>|l|") and the sender's fields, sent as one datagram.
// The views must stay valid until SendDatagrams returns.
struct OutboundDatagram {
    Endpoint to;
    std::string_view prefix;
    std::string_view body;
};

// What a login check found: the accounts let the client in, they do not, or they could not be read.
enum class LoginResult { Accepted, Refused, Unavailable };

// Implemented by the network layer. All calls come from the relay's single event-loop thread, and none
// of them may call back into the relay before returning: a connection the transport has to drop (its
// peer stopped reading) is reported to the relay later, from the event loop.
class Transport {
public:
    virtual ~Transport() = default;
    // Queues text on a connection's stream. Unknown or closed connections are ignored.
    virtual void SendStream(ConnectionId connection, std::string_view text) = 0;
    // Bytes queued on a connection's stream and not yet taken by its peer (0 for unknown connections).
    virtual std::size_t Queued(ConnectionId connection) const = 0;
    // Sends each datagram once, without waiting; a datagram the system cannot take now is dropped.
    virtual void SendDatagrams(const OutboundDatagram *datagrams, std::size_t count) = 0;
    // Closes a connection at once. The relay has already forgotten it.
    virtual void Close(ConnectionId connection) = 0;
    // Closes a connection once what is queued on it has been sent (its last line is a notice that says
    // why), within a short bound. The relay has already forgotten it.
    virtual void CloseAfterSending(ConnectionId connection) { Close(connection); }
    // Has a login checked against the accounts away from the event loop (the accounts file may be slow
    // or locked). The answer comes back as Relay::OnLoginChecked with the same ticket, from the event
    // loop, never from within this call.
    virtual void CheckLogin(std::uint64_t ticket, int uniqueId, std::string_view user, std::string_view digest) = 0;
};

}  // namespace server
