// Serving the control socket: owner check, bounded requests, deadlines.
#include "server/admin/ControlSocket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <spdlog/spdlog.h>

#include <cstring>

namespace server {

struct ControlSocket::Client {
    explicit Client(asio::io_context &io) : socket(io), deadline(io) {}
    asio::local::stream_protocol::socket socket;
    asio::steady_timer deadline;
    std::string request;
    std::string answer;
    std::array<char, 4096> buffer{};
};

namespace {

// True when something accepts connections on the Unix socket at `path`.
bool Answered(const std::string &path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    bool answered = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return answered;
}

}  // namespace

std::string AdminOk(const std::string &output) { return "ok\n" + output; }
std::string AdminError(const std::string &why) { return "error: " + why + "\n"; }

ControlSocket::ControlSocket(asio::io_context &io, const std::string &path, Handler handler)
    : io_(io), path_(path), handler_(std::move(handler)), acceptor_(io) {
    if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
        throw std::system_error(std::make_error_code(std::errc::filename_too_long), "admin socket " + path);
    }
    // A socket left by a server that stopped is replaced; one a running server answers on is its own.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        if (Answered(path)) {
            throw std::system_error(std::make_error_code(std::errc::address_in_use),
                                    "admin socket " + path + ": another server takes commands there");
        }
        ::unlink(path.c_str());
    }
    try {
        // Created private, not just tightened afterwards: nobody else may connect in between.
        mode_t saved = ::umask(077);
        asio::local::stream_protocol::endpoint endpoint(path);
        acceptor_.open(endpoint.protocol());
        try {
            acceptor_.bind(endpoint);
        } catch (...) {
            ::umask(saved);
            throw;
        }
        ::umask(saved);
        ::chmod(path.c_str(), 0600);
        acceptor_.listen(16);
    } catch (const std::system_error &error) {
        throw std::system_error(error.code(), "admin socket " + path);
    }
    accepting_ = true;
    Accept();
}

ControlSocket::~ControlSocket() { Close(); }

void ControlSocket::Close() {
    if (!acceptor_.is_open()) return;
    asio::error_code ignored;
    acceptor_.close(ignored);
    ::unlink(path_.c_str());
}

void ControlSocket::Accept() {
    if (!acceptor_.is_open() || clients_ >= kMaxClients) {
        accepting_ = false;
        return;
    }
    accepting_ = true;
    auto client = std::make_shared<Client>(io_);
    acceptor_.async_accept(client->socket, [this, client](const asio::error_code &error) {
        if (error == asio::error::operation_aborted) return;
        if (!error) Serve(client);
        Accept();
    });
}

void ControlSocket::Serve(std::shared_ptr<Client> client) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(client->socket.native_handle(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.uid != ::geteuid()) {
        spdlog::warn("admin socket: refused a command from uid {}, pid {}: only uid {} may use it", peer.uid, peer.pid,
                     ::geteuid());
        return;  // closed as `client` goes
    }
    ++clients_;
    std::string who = "uid " + std::to_string(peer.uid) + ", pid " + std::to_string(peer.pid);
    client->deadline.expires_after(std::chrono::seconds(kDeadlineSeconds));
    client->deadline.async_wait([client](const asio::error_code &error) {
        if (!error) {
            asio::error_code ignored;
            client->socket.close(ignored);
        }
    });
    auto finish = [this, client] {
        client->deadline.cancel();
        asio::error_code ignored;
        client->socket.close(ignored);
        --clients_;
        if (!accepting_) Accept();
    };
    auto read = std::make_shared<std::function<void()>>();
    *read = [this, client, who, finish, read] {
        client->socket.async_read_some(asio::buffer(client->buffer), [this, client, who, finish, read](
                                                                         const asio::error_code &error, std::size_t n) {
            if (!error) {
                client->request.append(client->buffer.data(), n);
                if (client->request.size() <= kMaxRequest) {
                    (*read)();
                    return;
                }
                client->answer = AdminError("command longer than " + std::to_string(kMaxRequest) + " bytes");
            } else if (error == asio::error::eof) {
                // The words, each ended by a NUL byte.
                std::vector<std::string> words;
                std::size_t start = 0;
                for (std::size_t end; (end = client->request.find('\0', start)) != std::string::npos; start = end + 1) {
                    words.push_back(client->request.substr(start, end - start));
                }
                client->answer = start == client->request.size() && !words.empty() ? handler_(words, who)
                                                                                   : AdminError("not a command");
            } else {
                *read = nullptr;  // the deadline or the peer ended it
                finish();
                return;
            }
            *read = nullptr;
            asio::async_write(client->socket, asio::buffer(client->answer),
                              [finish](const asio::error_code &, std::size_t) { finish(); });
        });
    };
    (*read)();
}

}  // namespace server
