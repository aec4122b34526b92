// The relay server's HTTP side: the live map page, its data (/api/traffic, /api/events) and /metrics.
//
// It runs on threads of its own and reads only what the TrafficFeed holds; it never touches the relay.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "server/TrafficFeed.h"

namespace httplib {
class Server;
}

namespace server {

struct HttpOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8080;
    std::string webRoot;                                          // the map page's files
    std::size_t maxPending = 64;                                  // accepted connections waiting for a thread
    std::size_t spareThreads = 8;                                 // threads beyond one per live map connection
    std::chrono::seconds writeTimeout = std::chrono::seconds(5);  // a browser that takes nothing this long is dropped
    std::chrono::seconds idleTimeout = std::chrono::seconds(5);   // a request must arrive within it
};

// "ADDRESS:PORT" with a dotted-quad IPv4 address and a port 1..65535. False for anything else.
bool ParseHttpAddress(const std::string &text, std::string *address, std::uint16_t *port);

class HttpObserver {
public:
    // Loads the page's files and binds the port. Throws std::runtime_error with a clear message when the
    // files are missing or the address cannot be used.
    HttpObserver(const HttpOptions &options, std::size_t maxStreams, TrafficFeed &feed);
    ~HttpObserver();
    HttpObserver(const HttpObserver &) = delete;
    HttpObserver &operator=(const HttpObserver &) = delete;

    // Serves on a thread of its own until Stop (or destruction).
    void Start();
    void Stop();

private:
    struct File {
        std::string type;
        std::string body;
    };
    class BoundedQueue;

    void LoadFiles(const std::string &root);
    void Route();

    HttpOptions options_;
    TrafficFeed &feed_;
    std::map<std::string, File> files_;
    std::atomic<bool> stopping_{false};  // lets the accept loop go when it waits for room in the queue
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace server
