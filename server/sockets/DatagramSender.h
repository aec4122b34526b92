// The relay's outbound datagrams, sent in batches from worker threads.
//
// Relaying is nearly all system time: each datagram in comes out to up to 19 receivers, and the system's
// work per datagram sent (on loopback, the receiver's side of it too) is what fills the core. The event
// loop copies what the relay sends into a batch, and at the end of each read round hands it to the
// workers, which call sendmmsg while the loop goes on reading; a small round the loop sends itself, since
// waking a worker would cost more than the sending. A receiver's datagrams always go through the same
// worker, so they stay in order. With no workers, the loop sends each batch itself.
#pragma once

#include <netinet/in.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/core/Counters.h"
#include "server/core/Transport.h"

namespace server {

class DatagramSender {
public:
    // `socket` stays open for the sender's life. `maxQueuedBytes` bounds what waits for the workers; past
    // it datagrams are dropped, as the system drops them when its send buffer is full.
    DatagramSender(int socket, std::size_t threads, std::size_t maxQueuedBytes);
    ~DatagramSender();
    DatagramSender(const DatagramSender &) = delete;
    DatagramSender &operator=(const DatagramSender &) = delete;

    // On the event-loop thread. `arrived`: when the datagram they relay reached the server, for the
    // latency histogram (the epoch for datagrams that relay nothing, such as a new slot's first state).
    void Add(const OutboundDatagram *datagrams, std::size_t count, TimePoint arrived);
    // Sends what was added since the last call, or hands it to the workers.
    void Flush();
    // Sends what is queued and stops the workers; anything added later is counted as unsent. Before the
    // socket closes.
    void Stop();
    // Adds what was sent, dropped and how long it took since the last call to `counters`; returns the
    // datagrams dropped and the last error among them.
    std::uint64_t Collect(RelayCounters &counters, int *lastError);

private:
    struct Item {
        sockaddr_in to;
        std::uint32_t offset;
        std::uint32_t length;
        TimePoint arrived;
    };
    struct Batch {
        std::string bytes;
        std::vector<Item> items;
    };
    // What a worker (or the loop, without workers) sent, for Collect.
    struct Tally {
        std::uint64_t sent = 0, unsent = 0;
        int lastError = 0;
        RelayCounters latency;  // only its latency members are used
    };
    struct Worker {
        std::thread thread;
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Batch> queue;
        std::size_t queuedBytes = 0;
        std::vector<Batch> spare;  // sent batches, kept for their buffers
        Tally tally;
        bool stop = false;
    };

    static void AddTally(Tally &into, const Tally &from);
    void Send(Batch &batch, Tally &tally) const;
    void Run(Worker &worker);

    int socket_;
    std::size_t maxQueuedBytes_;  // per worker
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<Batch> filling_;  // one per worker (one in all without workers)
    Tally inline_;                // without workers, and the batches dropped over the bound
};

}  // namespace server
