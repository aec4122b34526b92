// The relay's limits, in a header of their own so that every part of the relay can read them.
#pragma once

#include <chrono>
#include <cstddef>

#include "server/core/Transport.h"

namespace server {

// Every bound the server keeps on what outsiders can make it do. Each has a flag in main.cpp and a line
// in the README.
struct RelayLimits {
    std::size_t maxClients = 250;                               // open connections: what one node carries
    std::size_t maxLineLength = 4096;                           // one stream line, bytes
    Clock::duration silenceTimeout = std::chrono::seconds(30);  // no message at all: removed
    Clock::duration loginTimeout = std::chrono::seconds(10);    // connected but no opening message
    Clock::duration viewPeriod = std::chrono::seconds(1);       // nearest-aircraft re-evaluation

    // What one sender may have relayed: a sustained rate a second and a burst (token buckets).
    double chatRate = 2;  // chat lines
    double chatBurst = 5;
    double identityRate = 1;  // changes of callsign, of crew and of model, each
    double identityBurst = 3;
    double locationRate = 100;  // location datagrams; the rest are skipped, so a faster sender is thinned
    double locationBurst = 3;
    // A location datagram's length. A plug-in's is about 160 bytes and at most about 610 (42 fields of up to
    // 15 characters); anything longer only multiplies what the relay sends on.
    std::size_t maxLocationBytes = 640;

    // What one account and one address (all its sessions) may have relayed, and the whole server: chat lines
    // a second and bursts. A pilot types at most a line a second, and a club behind one address seldom
    // more than one and a half together. In five seconds one address gets at most 12 lines out, so an
    // honest line stays among the last 14 of every chat window at least that long.
    double accountChatRate = 1;
    double accountChatBurst = 5;
    double addressChatRate = 1.5;
    double addressChatBurst = 5;
    double serverChatRate = 10;
    double serverChatBurst = 20;
    // Location bytes a second one account may have relayed (each goes to every receiver showing it), and as
    // many at once: a plug-in sending long datagrams every frame fits, one sending the longest at the
    // location rate is thinned.
    double accountLocationBytes = 32 * 1024;
    // Sessions logged in at once from one address (a club behind one NAT). One account has one: a login
    // replaces the same user's older session.
    std::size_t maxSessionsPerAddress = 32;
    // Slot changes a receiver is sent (an aircraft given a slot, or a slot let go): a second, and at once,
    // enough to fill every slot at login. Past them a receiver keeps the aircraft it shows a little longer.
    double slotChangeRate = 2;
    double slotChangeBurst = 2 * 19;

    // A receiver's unsent stream output. Chat is not queued to a receiver holding more than the chat
    // share, so chat alone never makes it look like a receiver that stopped reading; one holding more
    // than maxQueuedBytes for stallTimeout, or twice that at any time, is dropped.
    std::size_t maxQueuedBytes = 256 * 1024;
    std::size_t chatQueueShare = 64 * 1024;
    Clock::duration stallTimeout = std::chrono::seconds(5);

    // Logins, per source address.
    std::size_t maxPendingPerAddress = 8;                     // connections that have not logged in
    int maxLoginFailures = 10;                                // a minute; then refused for a cooling-off
    Clock::duration loginCoolOff = std::chrono::seconds(60);  // doubled for each one in a row, up to 64x
    Clock::duration refusalDelay = std::chrono::seconds(1);   // a refused login waits this before it is closed
    // A login line (unique ID and digest) is accepted again only from the address that first used it,
    // while that session is live or for this long after it ended.
    Clock::duration replayWindow = std::chrono::hours(1);
    // What is remembered of accepted login lines: a capacity in bytes, and the lines each account keeps
    // however many the others make.
    std::size_t replayMemoryBytes = 8 << 20;
    std::size_t replayPerAccount = 64;
    // Places of maxClients that connections which have not sent a login line cannot take: when they hold
    // all the others, the oldest of them gives way to a newcomer.
    std::size_t reservedClients = 25;
    // Log lines a minute that outsiders can cause, all kinds together (a burst of as many may come at once).
    double logBudget = 120;
};

}  // namespace server
