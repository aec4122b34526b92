// The HTTP server of the live map and the metrics: Boost.Beast on an Asio event loop of its own, every
// request and connection bounded.
#include "server/http/HttpObserver.h"

#include <arpa/inet.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace server {

namespace {

constexpr std::uintmax_t kMaxWebRootBytes = 32 << 20;
// Per connection; the system doubles it for its bookkeeping.
constexpr int kSendBuffer = 64 * 1024;
// A live connection with nothing to send writes a comment this often, so one whose browser has gone is noticed.
constexpr std::chrono::seconds kKeepAlive{15};
// How often a live connection looks for new events (the relay hands over four snapshots a second).
constexpr std::chrono::milliseconds kEventPoll{50};

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

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

namespace {

// Reads a request's line and header fields, keeping only the method and target: a request costs its
// buffer and nothing more, however many fields it sends before it is cut off. GET requests carry no
// body, so any body is refused.
class RequestHead : public http::basic_parser<true> {
public:
    explicit RequestHead(std::size_t maxFields) : maxFields_(maxFields) { body_limit(0); }

    http::verb method = http::verb::unknown;
    std::string target;

private:
    void on_request_impl(http::verb verb, beast::string_view, beast::string_view path, int,
                         beast::error_code &) override {
        method = verb;
        target.assign(path.data(), path.size());
    }
    void on_response_impl(int, beast::string_view, int, beast::error_code &) override {}
    void on_field_impl(http::field, beast::string_view, beast::string_view, beast::error_code &error) override {
        if (++fields_ > maxFields_) error = http::error::header_limit;
    }
    void on_header_impl(beast::error_code &) override {}
    void on_body_init_impl(const boost::optional<std::uint64_t> &, beast::error_code &) override {}
    std::size_t on_body_impl(beast::string_view body, beast::error_code &) override { return body.size(); }
    void on_chunk_header_impl(std::uint64_t, beast::string_view, beast::error_code &) override {}
    std::size_t on_chunk_body_impl(std::uint64_t, beast::string_view body, beast::error_code &) override {
        return body.size();
    }
    void on_finish_impl(beast::error_code &) override {}

    std::size_t maxFields_;
    std::size_t fields_ = 0;
};

}  // namespace

class HttpObserver::Impl {
public:
    Impl(const HttpOptions &options, TrafficFeed &feed) : options_(options), feed_(feed), acceptor_(io_) {
        if (options.map) LoadFiles(options.webRoot);
        beast::error_code error;
        tcp::endpoint endpoint(asio::ip::make_address_v4(options.address, error), options.port);
        if (!error) acceptor_.open(endpoint.protocol(), error);
        // SO_REUSEADDR only, so no second server can share the port.
        if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
        // Accepted connections inherit a fixed send buffer. Left to grow, the system would hold up to 4 MiB
        // for a browser that reads nothing, minutes of traffic, before the write timeout could drop it.
        if (!error) acceptor_.set_option(asio::socket_base::send_buffer_size(kSendBuffer), error);
        if (!error) acceptor_.bind(endpoint, error);
        if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            throw std::runtime_error("cannot listen on " + options.address + ":" + std::to_string(options.port) +
                                     " (HTTP): " + error.message());
        }
    }

    void Run() {
        Accept();
        io_.run();
    }

    void Stop() {
        feed_.Stop();
        io_.stop();
    }

private:
    class Session;
    struct File {
        std::string type;
        std::string body;
    };

    void LoadFiles(const std::string &root);
    void Accept();

    const HttpOptions options_;
    TrafficFeed &feed_;
    std::map<std::string, File> files_;
    // Open connections, in total and by source address. Declared before the event loop, whose end frees
    // the connections that count themselves out of these.
    std::size_t open_ = 0;
    std::unordered_map<std::uint32_t, std::size_t> perAddress_;
    // Connections waiting for (the rest of) a request, oldest first: when every place is taken, the
    // oldest gives way to a newcomer, so slow requests cannot lock /metrics and the map out.
    std::map<std::uint64_t, Session *> waiting_;
    std::uint64_t nextArrival_ = 0;
    asio::io_context io_;
    tcp::acceptor acceptor_;
};

// One connection: requests one after another, each whole within the request timeout, and a live event
// stream once it asks for one.
class HttpObserver::Impl::Session : public std::enable_shared_from_this<Session> {
public:
    Session(Impl &owner, tcp::socket socket, std::uint32_t address)
        : owner_(owner),
          socket_(std::move(socket)),
          address_(address),
          buffer_(owner.options_.maxHeaderBytes + 1024),
          deadline_(socket_.get_executor()),
          poll_(socket_.get_executor()) {
        ++owner_.open_;
        ++owner_.perAddress_[address_];
    }
    ~Session() {
        if (events_) events_->Close();
        Release();
    }

    void Read() {
        arrival_ = ++owner_.nextArrival_;
        owner_.waiting_.emplace(arrival_, this);
        // One deadline from the end of the previous response (or the connection's start) to the end of the
        // request: a request trickled in byte by byte is cut off as surely as one never sent.
        Arm(owner_.options_.requestTimeout);
        request_.emplace(owner_.options_.maxHeaderFields);
        request_->header_limit(static_cast<std::uint32_t>(owner_.options_.maxHeaderBytes));
        http::async_read(socket_, buffer_, *request_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) { self->OnRequest(error); });
    }

private:
    void OnRequest(beast::error_code error) {
        owner_.waiting_.erase(arrival_);
        if (error) {
            // Too large a header gets an answer; a request cut off, broken or timed out just ends.
            if (error == http::error::header_limit || error == http::error::buffer_overflow) {
                keepAlive_ = false;
                SendText(http::status::request_header_fields_too_large, "request header too large\n");
            } else {
                Close();
            }
            return;
        }
        keepAlive_ = request_->keep_alive();
        if (request_->method != http::verb::get) {
            keepAlive_ = false;
            SendText(http::status::method_not_allowed, "only GET is served\n");
            return;
        }
        std::string path = request_->target.substr(0, request_->target.find('?'));
        const HttpOptions &options = owner_.options_;
        if (options.operations && (path == "/healthz" || path == "/readyz")) {
            std::string body;
            bool fine = owner_.feed_.Health(path == "/readyz", &body);
            SendText(fine ? http::status::ok : http::status::service_unavailable, std::move(body), "text/plain", true);
        } else if (options.operations && path == "/metrics") {
            SendText(http::status::ok, owner_.feed_.Metrics(), "text/plain; version=0.0.4; charset=utf-8");
        } else if (!options.map) {
            SendText(http::status::not_found, "not found\n");
        } else if (path == "/api/traffic") {
            SendText(http::status::ok, owner_.feed_.Traffic(), "application/json", true);
        } else if (path == "/api/events") {
            OpenEvents();
        } else {
            std::string name = path.size() > 1 ? path.substr(1) : "index.html";
            auto found = IsServedName(name) ? owner_.files_.find(name) : owner_.files_.end();
            if (found == owner_.files_.end()) {
                SendText(http::status::not_found, "not found\n");
                return;
            }
            // The body is the loaded file itself, never copied. A Range header is ignored: the whole file
            // is always the answer, so no request can ask for more bytes than the file holds.
            auto response = std::make_shared<http::response<http::span_body<const char>>>(http::status::ok, 11);
            response->set(http::field::content_type, found->second.type);
            response->set(http::field::cache_control, "no-cache");
            response->body() = beast::span<const char>(found->second.body.data(), found->second.body.size());
            Send(response);
        }
    }

    void SendText(http::status status, std::string body, const char *type = "text/plain", bool noStore = false) {
        auto response = std::make_shared<http::response<http::string_body>>(status, 11);
        response->set(http::field::content_type, type);
        if (noStore) response->set(http::field::cache_control, "no-store");
        if (status == http::status::service_unavailable) response->set(http::field::retry_after, "10");
        response->body() = std::move(body);
        Send(response);
    }

    template <typename Response>
    void Send(const std::shared_ptr<Response> &response) {
        response->keep_alive(keepAlive_);
        response->prepare_payload();
        Arm(owner_.options_.writeTimeout);
        http::async_write(socket_, *response,
                          [self = shared_from_this(), response](beast::error_code error, std::size_t) {
                              if (error || !self->keepAlive_) {
                                  self->Close();
                              } else {
                                  self->Read();
                              }
                          });
    }

    void OpenEvents() {
        events_ = owner_.feed_.Open();
        if (!events_) {
            SendText(http::status::service_unavailable, "too many live map connections\n");
            return;
        }
        // The stream runs until either side ends it; the body simply ends with the connection.
        pending_ =
            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
            "Connection: close\r\n\r\n";
        lastWrite_ = std::chrono::steady_clock::now();
        Write();
        // Nothing more is expected from the browser: a read only notices when it goes.
        WatchForClose();
    }

    void WatchForClose() {
        socket_.async_read_some(asio::buffer(discard_),
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    if (error) {
                                        self->Close();
                                    } else {
                                        self->WatchForClose();
                                    }
                                });
    }

    void Write() {
        Arm(owner_.options_.writeTimeout);
        asio::async_write(socket_, asio::buffer(pending_),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                              if (error) {
                                  self->Close();
                                  return;
                              }
                              self->deadline_.cancel();
                              self->pending_.clear();
                              self->lastWrite_ = std::chrono::steady_clock::now();
                              self->Poll();
                          });
    }

    void Poll() {
        poll_.expires_after(kEventPoll);
        poll_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (error || self->closed_) return;
            if (!self->events_->Next(self->pending_, std::chrono::milliseconds(0))) {
                self->Close();
                return;
            }
            if (self->pending_.empty() && std::chrono::steady_clock::now() - self->lastWrite_ >= kKeepAlive) {
                self->pending_ = ": still here\n\n";
            }
            if (self->pending_.empty()) {
                self->Poll();
            } else {
                self->Write();
            }
        });
    }

    void Arm(std::chrono::seconds timeout) {
        deadline_.expires_after(timeout);
        deadline_.async_wait([self = shared_from_this()](beast::error_code error) {
            // A wait that was re-armed or cancelled has a later deadline, or none.
            if (!error && self->deadline_.expiry() <= std::chrono::steady_clock::now()) self->Close();
        });
    }

    // Out of the counts as soon as it closes, not when its last handler has run.
    void Release() {
        if (released_) return;
        released_ = true;
        owner_.waiting_.erase(arrival_);
        --owner_.open_;
        auto found = owner_.perAddress_.find(address_);
        if (found != owner_.perAddress_.end() && --found->second == 0) owner_.perAddress_.erase(found);
    }

public:
    void Close() {
        if (closed_) return;
        closed_ = true;
        Release();
        beast::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        deadline_.cancel();
        poll_.cancel();
        if (events_) {
            events_->Close();
            events_.reset();
        }
    }

private:
    Impl &owner_;
    tcp::socket socket_;
    std::uint32_t address_;
    beast::flat_buffer buffer_;  // at most the header limit and a little
    std::optional<RequestHead> request_;
    bool keepAlive_ = false;
    asio::steady_timer deadline_, poll_;
    std::shared_ptr<TrafficFeed::Stream> events_;
    std::string pending_;
    std::chrono::steady_clock::time_point lastWrite_{};
    char discard_[256];
    std::uint64_t arrival_ = 0;
    bool closed_ = false, released_ = false;
};

void HttpObserver::Impl::LoadFiles(const std::string &root) {
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

void HttpObserver::Impl::Accept() {
    acceptor_.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error) {
            beast::error_code ignored;
            tcp::endpoint peer = socket.remote_endpoint(ignored);
            std::uint32_t address = ignored ? 0 : peer.address().to_v4().to_uint();
            auto found = perAddress_.find(address);
            std::size_t fromAddress = found == perAddress_.end() ? 0 : found->second;
            // Over either bound the connection is closed at once: it costs nothing to hold.
            if (fromAddress < options_.maxPerAddress && open_ >= options_.maxConnections && !waiting_.empty()) {
                waiting_.begin()->second->Close();
            }
            if (open_ < options_.maxConnections && fromAddress < options_.maxPerAddress) {
                std::make_shared<Session>(*this, std::move(socket), address)->Read();
            }
        }
        Accept();
    });
}

HttpObserver::HttpObserver(const HttpOptions &options, TrafficFeed &feed)
    : impl_(std::make_unique<Impl>(options, feed)) {}

HttpObserver::~HttpObserver() { Stop(); }

void HttpObserver::Start() {
    thread_ = std::thread([this] { impl_->Run(); });
}

void HttpObserver::Stop() {
    impl_->Stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace server
