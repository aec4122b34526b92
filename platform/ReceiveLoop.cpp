// The datagram batch for systems that receive one datagram per call, and what their errors mean to it.
#include "platform/ReceiveLoop.h"

#include <cerrno>

namespace {

// Winsock's codes, as its headers define them; fixed by the Windows ABI.
constexpr int kWsaEintr = 10004;
constexpr int kWsaEwouldblock = 10035;
constexpr int kWsaEnetreset = 10052;
constexpr int kWsaEconnreset = 10054;

#if defined(_WIN32)
static_assert(kWsaEintr == WSAEINTR && kWsaEwouldblock == WSAEWOULDBLOCK && kWsaEnetreset == WSAENETRESET &&
              kWsaEconnreset == WSAECONNRESET);
#endif

}  // namespace

int ReceiveDatagramsOneByOne(int socket, Datagram *out, int count, ReceiveOne receive) {
    if (count > kMostDatagrams) count = kMostDatagrams;
    int stored = 0;
    // Skips count against the same bound as datagrams, so a stream of cut-short datagrams cannot hold
    // the loop for ever.
    for (int attempt = 0; attempt < count && stored < count; attempt++) {
        ReceiveOutcome outcome = receive(socket, &out[stored]);
        if (outcome == ReceiveOutcome::kDatagram) {
            stored++;
        } else if (outcome == ReceiveOutcome::kNothingNow) {
            break;
        }
    }
    return stored;
}

ReceiveOutcome PosixReceiveError(int error) {
    if (error == EINTR) return ReceiveOutcome::kSkip;
    return ReceiveOutcome::kNothingNow;
}

ReceiveOutcome WinsockReceiveError(int error) {
    switch (error) {
        case kWsaEintr:
            return ReceiveOutcome::kSkip;
        // An ICMP port unreachable (or TTL expiry) earned by an earlier send, reported here on the
        // socket: it says nothing about the datagrams waiting behind it, which the next batch reads.
        case kWsaEconnreset:
        case kWsaEnetreset:
        case kWsaEwouldblock:
        default:
            return ReceiveOutcome::kNothingNow;
    }
}
