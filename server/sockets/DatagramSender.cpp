// Batched, threaded sending of the relay's datagrams.
#include "server/sockets/DatagramSender.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace server {

namespace {

// Datagrams handed to the system per call.
constexpr std::size_t kChunk = 64;
// Read rounds that relay fewer datagrams than this are sent by the event loop itself when it can.
constexpr std::size_t kShareFrom = 128;

void AddLatency(RelayCounters &into, const RelayCounters &from) {
    for (std::size_t i = 0; i < into.latencyBuckets.size(); ++i) into.latencyBuckets[i] += from.latencyBuckets[i];
    into.latencyNanosTotal += from.latencyNanosTotal;
}

}  // namespace

void DatagramSender::AddTally(Tally &into, const Tally &from) {
    into.sent += from.sent;
    into.unsent += from.unsent;
    if (from.lastError != 0) into.lastError = from.lastError;
    AddLatency(into.latency, from.latency);
}

DatagramSender::DatagramSender(int socket, std::size_t threads, std::size_t maxQueuedBytes)
    : socket_(socket), maxQueuedBytes_(maxQueuedBytes / std::max<std::size_t>(threads, 1)) {
    filling_.resize(std::max<std::size_t>(threads, 1));
    for (std::size_t i = 0; i < threads; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        Worker &worker = *workers_.back();
        worker.thread = std::thread([this, &worker] { Run(worker); });
    }
}

DatagramSender::~DatagramSender() { Stop(); }

void DatagramSender::Stop() {
    for (auto &worker : workers_) {
        {
            std::lock_guard<std::mutex> lock(worker->mutex);
            worker->stop = true;
        }
        worker->ready.notify_one();
        worker->thread.join();
        AddTally(inline_, worker->tally);
    }
    workers_.clear();
    socket_ = -1;  // the socket closes next; its number may soon be another file's
}

void DatagramSender::Add(const OutboundDatagram *datagrams, std::size_t count, TimePoint arrived) {
    for (std::size_t i = 0; i < count; ++i) {
        const OutboundDatagram &datagram = datagrams[i];
        // By receiver, so that one receiver's datagrams never overtake each other on two workers.
        std::size_t lane =
            filling_.size() == 1 ? 0 : (datagram.to.address * 2654435761u ^ datagram.to.port) % filling_.size();
        Batch &batch = filling_[lane];
        Item item;
        item.to = sockaddr_in{};
        item.to.sin_family = AF_INET;
        item.to.sin_addr.s_addr = htonl(datagram.to.address);
        item.to.sin_port = htons(datagram.to.port);
        item.offset = static_cast<std::uint32_t>(batch.bytes.size());
        item.length = static_cast<std::uint32_t>(datagram.prefix.size() + datagram.body.size());
        item.arrived = arrived;
        batch.bytes.append(datagram.prefix);
        batch.bytes.append(datagram.body);
        batch.items.push_back(item);
    }
}

void DatagramSender::Flush() {
    if (workers_.empty()) {
        for (Batch &batch : filling_) {
            if (!batch.items.empty()) Send(batch, inline_);
            batch.bytes.clear();
            batch.items.clear();
        }
        return;
    }
    std::size_t total = 0;
    for (const Batch &batch : filling_) total += batch.items.size();
    for (std::size_t i = 0; i < workers_.size(); ++i) {
        Batch &batch = filling_[i];
        if (batch.items.empty()) continue;
        Worker &worker = *workers_[i];
        bool handed = false, idle = false;
        {
            std::lock_guard<std::mutex> lock(worker.mutex);
            // A small round costs less sent here than woken up for; only while its worker has nothing of
            // that lane's, so a receiver's datagrams still leave in order.
            idle = total < kShareFrom && worker.queuedBytes == 0;
            if (!idle && worker.queuedBytes + batch.bytes.size() <= maxQueuedBytes_) {
                worker.queuedBytes += batch.bytes.size();
                worker.queue.push_back(std::move(batch));
                handed = true;
                if (!worker.spare.empty()) {
                    batch = std::move(worker.spare.back());
                    worker.spare.pop_back();
                } else {
                    batch = Batch{};
                }
            }
        }
        if (idle) {
            Send(batch, inline_);
        } else if (handed) {
            worker.ready.notify_one();
        } else {
            // The workers fall behind the loop: like a full send buffer, the next locations replace these.
            inline_.unsent += batch.items.size();
            inline_.lastError = ENOBUFS;
        }
        batch.bytes.clear();
        batch.items.clear();
    }
}

std::uint64_t DatagramSender::Collect(RelayCounters &counters, int *lastError) {
    Tally total = inline_;
    inline_ = Tally{};
    for (auto &worker : workers_) {
        std::lock_guard<std::mutex> lock(worker->mutex);
        AddTally(total, worker->tally);
        worker->tally = Tally{};
    }
    counters.datagramsOut += total.sent;
    counters.datagramsUnsent += total.unsent;
    AddLatency(counters, total.latency);
    *lastError = total.lastError;
    return total.unsent;
}

void DatagramSender::Send(Batch &batch, Tally &tally) const {
    std::array<mmsghdr, kChunk> headers;
    std::array<iovec, kChunk> iov;
    std::size_t done = 0, count = batch.items.size();
    while (done < count) {
        std::size_t chunk = std::min(count - done, kChunk);
        for (std::size_t i = 0; i < chunk; ++i) {
            Item &item = batch.items[done + i];
            iov[i] = {&batch.bytes[item.offset], item.length};
            msghdr &header = headers[i].msg_hdr;
            header = msghdr{};
            header.msg_name = &item.to;
            header.msg_namelen = sizeof item.to;
            header.msg_iov = &iov[i];
            header.msg_iovlen = 1;
        }
        int sent = ::sendmmsg(socket_, headers.data(), static_cast<unsigned>(chunk), MSG_DONTWAIT);
        if (sent > 0) {
            // From the relayed datagram's arrival on the server's socket to the system taking its copy.
            TimePoint now = Clock::now();
            for (int i = 0; i < sent; ++i) {
                const Item &item = batch.items[done + static_cast<std::size_t>(i)];
                if (item.arrived != TimePoint{}) tally.latency.RecordLatency(now - item.arrived);
            }
            tally.sent += static_cast<std::uint64_t>(sent);
            done += static_cast<std::size_t>(sent);
            continue;
        }
        int error = errno;
        tally.lastError = error;
        if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
            // The send buffer is full: datagrams are lossy by nature, the next location replaces these.
            tally.unsent += count - done;
            return;
        }
        ++tally.unsent;  // this one receiver is unreachable; go on with the others
        ++done;
    }
}

void DatagramSender::Run(Worker &worker) {
    Tally tally;
    for (;;) {
        Batch batch;
        {
            std::unique_lock<std::mutex> lock(worker.mutex);
            // What the last batch did is added where Collect finds it, with the wait for the next one.
            AddTally(worker.tally, tally);
            tally = Tally{};
            worker.ready.wait(lock, [&] { return worker.stop || !worker.queue.empty(); });
            if (worker.queue.empty()) return;
            batch = std::move(worker.queue.front());
            worker.queue.pop_front();
        }
        Send(batch, tally);
        std::size_t bytes = batch.bytes.size();
        batch.bytes.clear();
        batch.items.clear();
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.queuedBytes -= bytes;
        if (worker.spare.size() < 4) worker.spare.push_back(std::move(batch));
    }
}

}  // namespace server
