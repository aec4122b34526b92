// The datagram batch for systems that receive one datagram per call, and what their errors mean to it.
#pragma once

#include "platform/Socket.h"

// What one receive gave the batch.
enum class ReceiveOutcome {
    kDatagram,    // one datagram, stored
    kSkip,        // this datagram is lost (cut short, interrupted call); the next may be there
    kNothingNow,  // nothing more to read in this batch
};

// One receive into `out` without waiting.
using ReceiveOne = ReceiveOutcome (*)(int socket, Datagram *out);

// Calls `receive` until it reports nothing more now or `count` datagrams (at most kMostDatagrams)
// are stored; a bounded number of skipped datagrams do not stop it. How many were stored.
int ReceiveDatagramsOneByOne(int socket, Datagram *out, int count, ReceiveOne receive);

// The meaning of a failed receive's error code: POSIX errno values, and Winsock's WSAGetLastError
// values (available everywhere, so that their handling is tested where Windows is not at hand).
ReceiveOutcome PosixReceiveError(int error);
ReceiveOutcome WinsockReceiveError(int error);
