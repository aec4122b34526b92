// The local control socket: a Unix socket only the server's own user may use, on which `skorvale-server
// admin ...` sends one command and reads its answer. There is no network listener for it.
//
// Threading: everything runs on the relay's event loop, so a command acts on the relay directly.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace server {

class ControlSocket {
public:
    // The words of a command and who sent it ("uid 1000, pid 4242"); returns the answer.
    using Handler = std::function<std::string(const std::vector<std::string> &words, const std::string &who)>;

    // Binds `path` (replacing a socket left there by an earlier run) with mode 0600. Throws
    // std::system_error naming the path when it cannot.
    ControlSocket(asio::io_context &io, const std::string &path, Handler handler);
    // Removes the socket file.
    ~ControlSocket();
    ControlSocket(const ControlSocket &) = delete;
    ControlSocket &operator=(const ControlSocket &) = delete;

    // A command is at most this long, and a client has this long to send it and take the answer; at most
    // this many are served at once, more wait in the listen queue.
    static constexpr std::size_t kMaxRequest = 64 * 1024;
    static constexpr int kDeadlineSeconds = 5;
    static constexpr int kMaxClients = 4;

    void Close();

private:
    struct Client;
    void Accept();
    void Serve(std::shared_ptr<Client> client);

    asio::io_context &io_;
    std::string path_;
    Handler handler_;
    asio::local::stream_protocol::acceptor acceptor_;
    int clients_ = 0;
    bool accepting_ = false;
};

// The answer's first line is "ok" or "error: <why>"; a command's output follows an "ok".
std::string AdminOk(const std::string &output = "");
std::string AdminError(const std::string &why);

}  // namespace server
