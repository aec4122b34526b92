// Sockets and the event loop of the relay server.
#include "server/sockets/Network.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <spdlog/spdlog.h>
#include <asio.hpp>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <algorithm>
#include <array>
#include <csignal>
#include <functional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/accounts/LoginWorker.h"
#include "server/admin/AdminCommands.h"
#include "server/admin/ControlSocket.h"
#include "server/core/LogLimiter.h"
#include "server/sockets/DatagramSender.h"

namespace server {

namespace {

using asio::ip::tcp;
using asio::ip::udp;

// Datagrams taken from or handed to the system per call.
constexpr std::size_t kBatch = 64;
// Batches read per wake-up: a datagram flood must not starve the stream connections and the timers.
constexpr int kReceiveRounds = 4;
// Anything longer is no message of ours; the relay drops what does not fit 1400 bytes anyway.
constexpr std::size_t kDatagramBuffer = 2048;
// A connection closed after its last line lingers this long at most, and only so many do at once: a crowd
// of refused connections holds no more descriptors than before.
constexpr auto kFinishTime = std::chrono::seconds(1);
constexpr std::size_t kMaxFinishing = 256;
// A stream with nothing to say for this long gets the keep-alive line "0|k|": the plug-in learns that the
// server is there, and takes its silence for a dead link. Older plug-ins read past a message of that type.
constexpr auto kKeepAliveInterval = std::chrono::seconds(10);
constexpr std::string_view kKeepAliveLine = "0|k|\n";

}  // namespace

class RelayServer::Impl : public Transport {
public:
    Impl(const ServerOptions &options, Authenticator &authenticator)
        : options_(options),
          relay_(*this, options.limits),
          acceptor_(io_),
          udp_(io_),
          tick_(io_),
          acceptRetry_(io_),
          snapshotTimer_(io_),
          networkTimer_(io_),
          drainTimer_(io_),
          reloadTimer_(io_),
          signals_(io_, SIGINT, SIGTERM),
          hangups_(io_, SIGHUP),
          logins_(
              authenticator,
              [this](std::uint64_t ticket, LoginResult result) {
                  // From the worker thread: the relay is only ever called on the event loop.
                  asio::post(io_, [this, ticket, result] { relay_.OnLoginChecked(ticket, result, Clock::now()); });
              },
              [this](std::vector<std::string> users) {
                  asio::post(io_, [this, users = std::move(users)] { relay_.KeepOnlyUsers(users); });
              }) {
        slowLog_.Share(relay_.OutsiderLog());
        asio::ip::address_v4 address;
        try {
            address = asio::ip::make_address_v4(options.address);
        } catch (const std::system_error &) {
            throw std::system_error(std::make_error_code(std::errc::invalid_argument),
                                    "'" + options.address + "' is not an IPv4 address");
        }
        std::string where = options.address + ":" + std::to_string(options.port);
        try {
            tcp::endpoint endpoint(address, options.port);
            acceptor_.open(endpoint.protocol());
            acceptor_.set_option(tcp::acceptor::reuse_address(true));
            acceptor_.bind(endpoint);
            acceptor_.listen();
        } catch (const std::system_error &error) {
            throw std::system_error(error.code(), "cannot listen on " + where + " (TCP)");
        }
        try {
            // No SO_REUSEADDR here: the plug-in binds its datagram socket to this very address and port,
            // which must fail on a client so that it falls back to an ephemeral port.
            udp::endpoint endpoint(address, options.port);
            udp_.open(endpoint.protocol());
            udp_.bind(endpoint);
            udp_.non_blocking(true);
        } catch (const std::system_error &error) {
            throw std::system_error(error.code(), "cannot bind " + where + " (UDP)");
        }
        asio::error_code ignored;
        // Each datagram's arrival time, so that a sender's rate is judged by when its datagrams came and
        // not by when a busy event loop got to them.
        int on = 1;
        ::setsockopt(udp_.native_handle(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        udp_.set_option(asio::socket_base::receive_buffer_size(4 << 20), ignored);
        udp_.set_option(asio::socket_base::send_buffer_size(4 << 20), ignored);

        receiveBuffers_.resize(kBatch);
        receiveHeaders_.resize(kBatch);
        receiveIov_.resize(kBatch);
        receiveAddresses_.resize(kBatch);
        receiveControl_.resize(kBatch);
        sender_ = std::make_unique<DatagramSender>(udp_.native_handle(), options.sendThreads, options.sendQueueBytes);

        if (!options.cluster.urls.empty()) {
            bridge_ = StartNatsBridge(
                options.cluster, relay_, [this](std::function<void()> work) { asio::post(io_, std::move(work)); },
                [this](Clock::duration delay, std::function<void()> work) {
                    networkTimer_.expires_after(delay);
                    networkTimer_.async_wait([work = std::move(work)](const asio::error_code &error) {
                        if (!error) work();
                    });
                });
            relay_.SetCluster(bridge_.get());
        }
    }

    void EnableAdmin(const AdminOptions &admin, BanList &bans, AdminCommands::DisableAccount disable) {
        relay_.SetBans(&bans);
        relay_.SetMotd(admin.motd);
        // Kicks and bans from other nodes apply here whether or not this node takes commands itself.
        commands_ = std::make_unique<AdminCommands>(relay_, bans, admin.bansFile, admin.motdFile, std::move(disable));
        relay_.SetOperatorHandler([this](const OperatorAction &action) { commands_->Apply(action); });
        if (admin.socketPath.empty()) return;
        control_ = std::make_unique<ControlSocket>(
            io_, admin.socketPath, [this](const std::vector<std::string> &words, const std::string &who) {
                return commands_->Run(words, who);
            });
        spdlog::info("admin commands on {}", admin.socketPath);
    }

    void Observe(TrafficObserver &observer, Clock::duration period) {
        observer_ = &observer;
        snapshotPeriod_ = period;
    }

    void OnReload(Reloader reload) { reload_ = std::move(reload); }

    void Run() {
        Accept();
        WaitDatagrams();
        Tick();
        node_.listening = true;
        if (observer_) HandSnapshot();
        WaitStop();
        WaitHangUp();
        spdlog::info("listening on {}:{} (TCP and UDP)", options_.address, options_.port);
        io_.run();
        spdlog::info("stopped");
    }

    void SendStream(ConnectionId connection, std::string_view text) override {
        auto found = sessions_.find(connection);
        if (found == sessions_.end()) return;
        std::shared_ptr<Session> session = found->second;
        std::size_t queued = session->pending.size() + session->inFlight.size() + text.size();
        // A reader that is only slow for a moment gets time to catch up (see CheckStalls); past twice the
        // bound it is dropped at once, which keeps memory bounded whatever happens.
        if (queued > 2 * options_.limits.maxQueuedBytes) {
            DropStalled(*session, "more than twice the bound");
            return;
        }
        relay_.Counters().streamMessagesOut += static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
        session->pending.append(text);
        session->lastQueued = Clock::now();
        if (queued > options_.limits.maxQueuedBytes && !session->over) {
            session->over = true;
            session->overSince = Clock::now();
        }
        if (!session->writing) Write(session);
    }

    std::size_t Queued(ConnectionId connection) const override {
        auto found = sessions_.find(connection);
        if (found == sessions_.end()) return 0;
        return found->second->pending.size() + found->second->inFlight.size();
    }

    void CheckLogin(std::uint64_t ticket, int uniqueId, std::string_view user, std::string_view digest) override {
        logins_.Submit(ticket, uniqueId, user, digest);
    }

    void SendDatagrams(const OutboundDatagram *datagrams, std::size_t count) override {
        sender_->Add(datagrams, count, draining_ ? arrived_ : TimePoint{});
        // Within a read round the whole round goes out together; anything else at once.
        if (!draining_) sender_->Flush();
    }

    void Close(ConnectionId connection) override {
        auto found = sessions_.find(connection);
        if (found != sessions_.end()) CloseSession(*found->second);
    }

    void CloseAfterSending(ConnectionId connection) override {
        auto found = sessions_.find(connection);
        if (found == sessions_.end()) return;
        Session &session = *found->second;
        if (session.finishing) return;
        if (finishing_ >= kMaxFinishing) {
            CloseSession(session);
            return;
        }
        session.finishing = true;
        session.finishBy = Clock::now() + kFinishTime;
        ++finishing_;
        if (!session.writing) FinishSending(session);
    }

private:
    struct Session {
        explicit Session(tcp::socket socket) : socket(std::move(socket)) {}
        tcp::socket socket;
        ConnectionId id = 0;
        std::array<char, 16384> readBuffer{};
        std::string pending;   // queued, not yet handed to the socket
        std::string inFlight;  // being written
        bool writing = false;
        bool closed = false;
        bool over = false;  // more than the bound queued, since overSince
        TimePoint overSince{};
        bool finishing = false;  // closed once its queue is sent, or at finishBy
        TimePoint finishBy{};
        TimePoint lastQueued = Clock::now();  // for the keep-alive line
    };

    // The queue is sent: the end of the stream follows it. What the peer still sends is read and dropped
    // until it closes too, since closing with unread bytes would reset the connection, and a reset can
    // take the last line with it before the peer has read it.
    static void FinishSending(Session &session) {
        asio::error_code ignored;
        session.socket.shutdown(tcp::socket::shutdown_send, ignored);
    }

    // A peer whose queue stays over the bound is not reading: drop it. Not from within SendStream's
    // caller's call: the relay is in the middle of handling a message.
    void DropStalled(Session &session, const char *why) {
        ConnectionId connection = session.id;
        std::size_t queued = session.pending.size() + session.inFlight.size();
        ++relay_.Counters().closedSlowReader;
        CloseSession(session);
        slowLog_.Log(Clock::now(), spdlog::level::warn,
                     "connection {} does not read what it is sent ({} bytes queued, {}); dropping it", connection,
                     queued, why);
        asio::post(io_, [this, connection] { relay_.OnDisconnect(connection, "stopped reading"); });
    }

    void CheckStalls() {
        TimePoint now = Clock::now();
        std::vector<Session *> stalled;
        std::vector<Session *> finished;
        std::vector<ConnectionId> quiet;
        for (auto &entry : sessions_) {
            Session &session = *entry.second;
            if (session.finishing) {
                if (now >= session.finishBy) finished.push_back(&session);
            } else if (session.over && now - session.overSince >= options_.limits.stallTimeout) {
                stalled.push_back(&session);
            } else if (now - session.lastQueued >= kKeepAliveInterval) {
                quiet.push_back(session.id);
            }
        }
        for (ConnectionId id : quiet) SendStream(id, kKeepAliveLine);
        for (Session *session : stalled) DropStalled(*session, "for too long");
        for (Session *session : finished) CloseSession(*session);
    }

    void Accept() {
        acceptor_.async_accept([this](const asio::error_code &error, tcp::socket socket) {
            if (error == asio::error::operation_aborted) return;
            if (error) {
                // Out of descriptors, usually: try again shortly rather than spin.
                std::uint64_t suppressed = 0;
                if (acceptLog_.Allow(Clock::now(), &suppressed)) spdlog::warn("accept failed: {}", error.message());
                acceptRetry_.expires_after(std::chrono::milliseconds(100));
                acceptRetry_.async_wait([this](const asio::error_code &waitError) {
                    if (!waitError) Accept();
                });
                return;
            }
            asio::error_code ignored;
            tcp::endpoint remote = socket.remote_endpoint(ignored);
            if (!ignored) {
                socket.set_option(tcp::no_delay(true), ignored);
                EnableKeepAlive(socket);
                auto session = std::make_shared<Session>(std::move(socket));
                session->id = nextId_++;
                sessions_.emplace(session->id, session);
                relay_.OnConnect(session->id, remote.address().to_v4().to_uint(), Clock::now());
                if (!session->closed) Read(session);
            }
            Accept();
        });
    }

    // A peer that vanished without closing (power loss, a dropped link) is noticed by the system
    // within about 25 seconds, even before the relay's silence timeout.
    static void EnableKeepAlive(tcp::socket &socket) {
        int on = 1, idle = 10, interval = 5, count = 3;
        int fd = socket.native_handle();
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    }

    void Read(const std::shared_ptr<Session> &session) {
        session->socket.async_read_some(
            asio::buffer(session->readBuffer), [this, session](const asio::error_code &error, std::size_t size) {
                if (session->closed) return;
                if (session->finishing) {
                    if (error) {
                        CloseSession(*session);
                    } else {
                        Read(session);
                    }
                    return;
                }
                if (error) {
                    std::string reason = error == asio::error::eof ? "connection closed" : error.message();
                    CloseSession(*session);
                    relay_.OnDisconnect(session->id, reason.c_str());
                    return;
                }
                relay_.OnStreamData(session->id, session->readBuffer.data(), size, Clock::now());
                if (!session->closed) Read(session);
            });
    }

    void Write(const std::shared_ptr<Session> &session) {
        session->writing = true;
        session->inFlight.swap(session->pending);
        session->pending.clear();
        asio::async_write(session->socket, asio::buffer(session->inFlight),
                          [this, session](const asio::error_code &error, std::size_t) {
                              session->writing = false;
                              if (session->closed) return;
                              if (error) {
                                  std::string reason = error.message();
                                  CloseSession(*session);
                                  relay_.OnDisconnect(session->id, reason.c_str());
                                  return;
                              }
                              session->inFlight.clear();
                              if (session->pending.size() <= options_.limits.maxQueuedBytes) session->over = false;
                              if (!session->pending.empty()) {
                                  Write(session);
                              } else if (session->finishing) {
                                  FinishSending(*session);
                              }
                          });
    }

    void CloseSession(Session &session) {
        if (session.closed) return;
        session.closed = true;
        if (session.finishing) --finishing_;
        asio::error_code ignored;
        session.socket.shutdown(tcp::socket::shutdown_both, ignored);
        session.socket.close(ignored);
        sessions_.erase(session.id);  // pending handlers still hold the session
    }

    void WaitDatagrams() {
        udp_.async_wait(udp::socket::wait_read, [this](const asio::error_code &error) {
            if (error) return;
            DrainDatagrams();
            WaitDatagrams();
        });
    }

    void DrainDatagrams() {
        for (int round = 0; round < kReceiveRounds; ++round) {
            for (std::size_t i = 0; i < kBatch; ++i) {
                receiveIov_[i] = {receiveBuffers_[i].data(), receiveBuffers_[i].size()};
                msghdr &header = receiveHeaders_[i].msg_hdr;
                header = msghdr{};
                header.msg_name = &receiveAddresses_[i];
                header.msg_namelen = sizeof(sockaddr_in);
                header.msg_iov = &receiveIov_[i];
                header.msg_iovlen = 1;
                header.msg_control = receiveControl_[i].bytes;
                header.msg_controllen = sizeof receiveControl_[i].bytes;
            }
            int received = ::recvmmsg(udp_.native_handle(), receiveHeaders_.data(), static_cast<unsigned>(kBatch),
                                      MSG_DONTWAIT, nullptr);
            if (received <= 0) return;
            TimePoint now = Clock::now();
            // The system stamps datagrams on the wall clock; the relay runs on the steady one.
            timespec wall{};
            clock_gettime(CLOCK_REALTIME, &wall);
            RelayCounters &counters = relay_.Counters();
            counters.datagramsIn += static_cast<std::uint64_t>(received);
            draining_ = true;
            for (int i = 0; i < received; ++i) {
                const sockaddr_in &from = receiveAddresses_[static_cast<std::size_t>(i)];
                Endpoint endpoint{ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)};
                msghdr &header = receiveHeaders_[static_cast<std::size_t>(i)].msg_hdr;
                // The latency histogram runs from here, arrival in the socket, to the system taking each
                // relayed copy: waiting there, behind the round and for a worker all count.
                arrived_ = ArrivalTime(header, wall, now);
                relay_.OnDatagram(endpoint, receiveBuffers_[static_cast<std::size_t>(i)].data(),
                                  receiveHeaders_[static_cast<std::size_t>(i)].msg_len, arrived_);
            }
            draining_ = false;
            sender_->Flush();
            if (static_cast<std::size_t>(received) < kBatch) return;
        }
    }

    // When a datagram arrived, on the steady clock: `now` less its age by the system's stamp. Without a
    // stamp, or with one that makes no sense (the wall clock jumped), it is `now`.
    static TimePoint ArrivalTime(msghdr &header, const timespec &wall, TimePoint now) {
        for (cmsghdr *c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            auto age = std::chrono::seconds(wall.tv_sec - stamp.tv_sec) +
                       std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
            if (age <= Clock::duration::zero() || age > std::chrono::seconds(10)) return now;
            return now - std::chrono::duration_cast<Clock::duration>(age);
        }
        return now;
    }

    void Tick() {
        if (relay_.Draining() && drainTimer_.expiry() > Clock::now() && relay_.LocalClientCount() == 0) {
            spdlog::info("drain over: every client has left");
            Shutdown();
            return;
        }
        CheckStalls();
        int error = 0;
        if (std::uint64_t unsent = sender_->Collect(relay_.Counters(), &error)) LogDrop(unsent, error);
        TimePoint now = Clock::now();
        relay_.OnTick(now);
        if (bridge_) bridge_->OnTick(now);
        tick_.expires_after(std::chrono::milliseconds(100));
        tick_.async_wait([this](const asio::error_code &error) {
            if (!error) Tick();
        });
    }

    // The web observer's snapshot: copied here, rendered and served on its own threads.
    void HandSnapshot() {
        TrafficSnapshot snapshot;
        relay_.Snapshot(snapshot);
        snapshot.node = node_;
        if (bridge_) bridge_->FillState(snapshot.node);
        observer_->Publish(std::move(snapshot));
        snapshotTimer_.expires_after(snapshotPeriod_);
        snapshotTimer_.async_wait([this](const asio::error_code &error) {
            if (!error) HandSnapshot();
        });
    }

    void LogDrop(std::size_t count, int error) {
        dropped_ += count;
        std::uint64_t suppressed = 0;
        if (!dropLog_.Allow(Clock::now(), &suppressed)) return;
        spdlog::warn("could not send {} datagrams: {}", dropped_, std::generic_category().message(error));
        dropped_ = 0;
    }

    // The first SIGTERM or SIGINT drains, the second ends at once.
    void WaitStop() {
        signals_.async_wait([this](const asio::error_code &error, int signal) {
            if (error) return;
            if (relay_.Draining()) {
                spdlog::info("signal {} again: shutting down now", signal);
                Shutdown();
                return;
            }
            StartDrain(signal);
            WaitStop();
        });
    }

    void StartDrain(int signal) {
        ++node_.drains;
        node_.draining = true;
        std::size_t pilots = relay_.LocalClientCount();
        relay_.StartDrain(options_.drainNotice);
        if (pilots == 0 || options_.drainTime <= Clock::duration::zero()) {
            spdlog::info("signal {}: shutting down", signal);
            // Still through the loop, so the notice is on its way to anyone who logged in meanwhile.
            asio::post(io_, [this] { Shutdown(); });
            return;
        }
        spdlog::info("signal {}: shutting down in {:.1f} s; draining, {} clients told (a second signal stops now)",
                     signal, std::chrono::duration<double>(options_.drainTime).count(), pilots);
        drainTimer_.expires_after(options_.drainTime);
        drainTimer_.async_wait([this](const asio::error_code &error) {
            if (error) return;
            spdlog::info("drain over: closing {} connections", sessions_.size());
            Shutdown();
        });
    }

    // SIGHUP: a reload, at most one a second; the signals that come in between make one more reload once
    // the second is over, so none is lost and a storm costs one reload a second.
    void WaitHangUp() {
        hangups_.async_wait([this](const asio::error_code &error, int) {
            if (error) return;
            if (!reloadPending_) {
                reloadPending_ = true;
                Clock::duration wait = lastReload_ + std::chrono::seconds(1) - Clock::now();
                reloadTimer_.expires_after(std::max(wait, Clock::duration::zero()));
                reloadTimer_.async_wait([this](const asio::error_code &waitError) {
                    if (waitError) return;
                    reloadPending_ = false;
                    lastReload_ = Clock::now();
                    Reload();
                });
            }
            WaitHangUp();
        });
    }

    void Reload() {
        if (!reload_) {
            spdlog::info("SIGHUP: nothing to reload");
            return;
        }
        std::optional<LiveSettings> live = reload_();
        if (!live) {
            ++node_.reloadsRefused;
            return;
        }
        ++node_.reloads;
        // The replay memory keeps the size and span it started with (a restart changes them).
        live->limits.replayWindow = options_.limits.replayWindow;
        live->limits.replayMemoryBytes = options_.limits.replayMemoryBytes;
        live->limits.replayPerAccount = options_.limits.replayPerAccount;
        options_.limits = live->limits;
        options_.drainTime = live->drainTime;
        options_.drainNotice = live->drainNotice;
        relay_.SetLimits(live->limits);
        // The accounts file is looked at now, not at the worker's next second: removed accounts go at once.
        logins_.ReloadNow();
    }

    void Shutdown() {
        if (control_) control_->Close();
        if (bridge_) bridge_->Stop();
        sender_->Stop();
        asio::error_code ignored;
        acceptor_.close(ignored);
        udp_.close(ignored);
        tick_.cancel();
        drainTimer_.cancel();
        reloadTimer_.cancel();
        hangups_.cancel();
        signals_.cancel();
        acceptRetry_.cancel();
        snapshotTimer_.cancel();
        networkTimer_.cancel();
        std::vector<std::shared_ptr<Session>> open;
        for (auto &entry : sessions_) open.push_back(entry.second);
        for (auto &session : open) CloseSession(*session);
        io_.stop();
    }

    asio::io_context io_{1};
    ServerOptions options_;
    Relay relay_;
    std::unique_ptr<ClusterBridge> bridge_;  // before relay_ in destruction: it calls into the relay
    std::unique_ptr<AdminCommands> commands_;
    std::unique_ptr<ControlSocket> control_;
    tcp::acceptor acceptor_;
    udp::socket udp_;
    asio::steady_timer tick_;
    asio::steady_timer acceptRetry_;
    asio::steady_timer snapshotTimer_;
    asio::steady_timer networkTimer_;  // the bridge's gathered locations
    asio::steady_timer drainTimer_;
    asio::steady_timer reloadTimer_;
    asio::signal_set signals_;
    asio::signal_set hangups_;
    Reloader reload_;
    bool reloadPending_ = false;
    TimePoint lastReload_{};
    NodeState node_;  // for the health endpoints and the metrics
    std::unordered_map<ConnectionId, std::shared_ptr<Session>> sessions_;
    ConnectionId nextId_ = 1;
    std::size_t finishing_ = 0;  // sessions closing once their last line is sent
    std::vector<std::array<char, kDatagramBuffer>> receiveBuffers_;
    std::vector<mmsghdr> receiveHeaders_;
    std::vector<iovec> receiveIov_;
    std::vector<sockaddr_in> receiveAddresses_;
    struct alignas(cmsghdr) ControlBuffer {
        char bytes[CMSG_SPACE(sizeof(timespec))];
    };
    std::vector<ControlBuffer> receiveControl_;  // each datagram's arrival stamp
    std::unique_ptr<DatagramSender> sender_;     // before udp_ in destruction: its workers use the socket
    bool draining_ = false;                      // within a read round, whose datagrams go out together
    TimePoint arrived_{};                        // when the datagram being relayed reached the socket
    LoginWorker logins_;                         // last: its thread stops before anything it posts to goes
    LogLimiter dropLog_, acceptLog_, slowLog_{std::chrono::milliseconds(100), 20};
    std::uint64_t dropped_ = 0;
    TrafficObserver *observer_ = nullptr;
    Clock::duration snapshotPeriod_{};
};

std::size_t DefaultSendThreads() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 0 : std::min(cores, 4u);
}

RelayServer::RelayServer(const ServerOptions &options, Authenticator &authenticator)
    : impl_(std::make_unique<Impl>(options, authenticator)) {}

RelayServer::~RelayServer() = default;

void RelayServer::Observe(TrafficObserver &observer, Clock::duration period) { impl_->Observe(observer, period); }

void RelayServer::OnReload(Reloader reload) { impl_->OnReload(std::move(reload)); }

void RelayServer::Run() { impl_->Run(); }

void RelayServer::EnableAdmin(const AdminOptions &admin, BanList &bans,
                              std::function<bool(const std::string &, bool)> disable) {
    impl_->EnableAdmin(admin, bans, std::move(disable));
}

}  // namespace server
