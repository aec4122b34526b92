// The HTTP server of the live map and the metrics, on cpp-httplib's blocking model with bounded threads.
#include "server/HttpObserver.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <httplib.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace server {

namespace {

constexpr std::uintmax_t kMaxWebRootBytes = 32 << 20;
// Per connection; the system doubles it for its bookkeeping.
constexpr int kSendBuffer = 64 * 1024;
// A live connection with nothing to send writes a comment this often, so one whose browser has gone is noticed.
constexpr std::chrono::seconds kKeepAlive{15};

bool IsServedName(const std::string &name) {
    if (name.empty() || name[0] == '.') return false;
    for (char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                     c == '-' || c == '_';
        if (!plain) return false;
    }
    return true;
}

const char *ContentType(const std::string &name) {
    auto endsWith = [&](const char *ending) {
        std::size_t n = std::strlen(ending);
        return name.size() >= n && name.compare(name.size() - n, n, ending) == 0;
    };
    if (endsWith(".html")) return "text/html; charset=utf-8";
    if (endsWith(".js")) return "text/javascript; charset=utf-8";
    if (endsWith(".css")) return "text/css; charset=utf-8";
    if (endsWith(".json")) return "application/json";
    if (endsWith(".svg")) return "image/svg+xml";
    if (endsWith(".png")) return "image/png";
    return "application/octet-stream";
}

}  // namespace

bool ParseHttpAddress(const std::string &text, std::string *address, std::uint16_t *port) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    std::string host = text.substr(0, colon);
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
    const char *begin = text.data() + colon + 1;
    const char *end = text.data() + text.size();
    unsigned value = 0;
    auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end || value == 0 || value > 65535) return false;
    *address = host;
    *port = static_cast<std::uint16_t>(value);
    return true;
}

// cpp-httplib hands each accepted connection to a task queue. Its own pool queues without limit; this one
// has a fixed number of threads and a bounded queue, and when that is full it holds up the accept loop,
// so further connections wait in the system's listen backlog instead of costing memory and descriptors.
class HttpObserver::BoundedQueue : public httplib::TaskQueue {
public:
    BoundedQueue(std::size_t threads, std::size_t maxPending, const std::atomic<bool> &stopping)
        : maxPending_(maxPending), stopping_(stopping) {
        for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    }

    void enqueue(std::function<void()> job) override {
        std::unique_lock<std::mutex> lock(mutex_);
        // Timed, to notice a stop while every thread is busy.
        while (jobs_.size() >= maxPending_ && !stopping_) room_.wait_for(lock, std::chrono::milliseconds(100));
        jobs_.push_back(std::move(job));
        ready_.notify_one();
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            shutdown_ = true;
        }
        ready_.notify_all();
        for (std::thread &thread : threads_) thread.join();
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return shutdown_ || !jobs_.empty(); });
                // Queued connections are still served (and so closed) before the threads end.
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            room_.notify_one();
            job();
        }
    }

    const std::size_t maxPending_;
    const std::atomic<bool> &stopping_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::list<std::function<void()>> jobs_;
    std::vector<std::thread> threads_;
    bool shutdown_ = false;
};

HttpObserver::HttpObserver(const HttpOptions &options, std::size_t maxStreams, TrafficFeed &feed)
    : options_(options), feed_(feed), server_(std::make_unique<httplib::Server>()) {
    LoadFiles(options.webRoot);
    std::size_t threads = maxStreams + options.spareThreads;
    std::size_t maxPending = options.maxPending;
    server_->new_task_queue = [this, threads, maxPending] { return new BoundedQueue(threads, maxPending, stopping_); };
    server_->set_socket_options([](socket_t sock) {
        // SO_REUSEADDR only: httplib's default adds SO_REUSEPORT, which would let a second server share the port.
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // Accepted connections inherit a fixed send buffer. Left to grow, the system would hold up to 4 MiB
        // for a browser that reads nothing, minutes of traffic, before a write blocked and the write timeout
        // could drop it.
        int sendBuffer = kSendBuffer;
        ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    });
    server_->set_read_timeout(options.idleTimeout);
    server_->set_keep_alive_timeout(options.idleTimeout.count());
    server_->set_write_timeout(options.writeTimeout);
    server_->set_payload_max_length(64 * 1024);
    Route();
    errno = 0;
    if (!server_->bind_to_port(options.address, options.port)) {
        std::string reason = errno != 0 ? std::strerror(errno) : "bind failed";
        throw std::runtime_error("cannot listen on " + options.address + ":" + std::to_string(options.port) +
                                 " (HTTP): " + reason);
    }
}

HttpObserver::~HttpObserver() { Stop(); }

void HttpObserver::LoadFiles(const std::string &root) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        throw std::runtime_error("the map's files are not in '" + root +
                                 "': build the server (it installs them) or name them with --web-root");
    }
    std::uintmax_t total = 0;
    for (const fs::directory_entry &entry : fs::directory_iterator(root, error)) {
        std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(error) || !IsServedName(name)) continue;
        total += entry.file_size(error);
        if (total > kMaxWebRootBytes) throw std::runtime_error("'" + root + "' holds more than the map needs");
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream body;
        body << in.rdbuf();
        if (!in) throw std::runtime_error("cannot read " + entry.path().string());
        files_[name] = File{ContentType(name), body.str()};
    }
    if (error) throw std::runtime_error("cannot list '" + root + "': " + error.message());
    if (files_.count("index.html") == 0) throw std::runtime_error("'" + root + "' has no index.html");
}

void HttpObserver::Route() {
    httplib::Server &http = *server_;
    http.Get("/api/traffic", [this](const httplib::Request &, httplib::Response &response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(feed_.Traffic(), "application/json");
    });
    http.Get("/metrics", [this](const httplib::Request &, httplib::Response &response) {
        response.set_content(feed_.Metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    http.Get("/api/events", [this](const httplib::Request &, httplib::Response &response) {
        std::shared_ptr<TrafficFeed::Stream> stream = feed_.Open();
        if (!stream) {
            response.status = 503;
            response.set_header("Retry-After", "10");
            response.set_content("too many live map connections\n", "text/plain");
            return;
        }
        response.set_header("Cache-Control", "no-store");
        response.set_chunked_content_provider(
            "text/event-stream",
            [stream](std::size_t, httplib::DataSink &sink) {
                std::string events;
                if (!stream->Next(events, kKeepAlive)) return false;
                if (events.empty()) events = ": still here\n\n";
                // Blocks at most the write timeout: a browser that takes nothing loses its connection.
                return sink.write(events.data(), events.size());
            },
            [stream](bool) { stream->Close(); });
    });
    http.Get(R"(/([A-Za-z0-9._-]*))", [this](const httplib::Request &request, httplib::Response &response) {
        std::string name = request.matches[1];
        if (name.empty()) name = "index.html";
        auto found = files_.find(name);
        if (found == files_.end()) {
            response.status = 404;
            response.set_content("not found\n", "text/plain");
            return;
        }
        response.set_header("Cache-Control", "no-cache");
        response.set_content(found->second.body, found->second.type.c_str());
    });
}

void HttpObserver::Start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void HttpObserver::Stop() {
    stopping_ = true;
    feed_.Stop();  // ends the live connections, whose threads the server's shutdown waits for
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace server
