// The relay server's HTTP side: the live map page, its data (/api/traffic, /api/events), /metrics and the
// health endpoints (/healthz, /readyz); a listener may serve the map, the rest, or both.
//
// It runs on a thread of its own and reads only what the TrafficFeed holds; it never touches the relay.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "server/http/TrafficFeed.h"

namespace server {

// Every bound on what one browser, or anyone else, can make the HTTP side hold.
struct HttpOptions {
    std::string address = "127.0.0.1";
    std::uint16_t port = 8080;
    std::string webRoot;                                            // the map page's files
    bool map = true;                                                // the map page and its data
    bool operations = true;                                         // /metrics, /healthz and /readyz
    std::size_t maxConnections = 64;                                // open at once, live map ones included
    std::size_t maxPerAddress = 12;                                 // open at once from one source address
    std::size_t maxHeaderBytes = 8 * 1024;                          // request line and header fields together
    std::size_t maxHeaderFields = 64;                               // header fields of one request
    std::chrono::seconds requestTimeout = std::chrono::seconds(5);  // a whole request, from when it may start
    std::chrono::seconds writeTimeout = std::chrono::seconds(5);    // a browser that takes nothing this long is dropped
};

// "ADDRESS:PORT" with a dotted-quad IPv4 address and a port 1..65535. False for anything else.
bool ParseHttpAddress(const std::string &text, std::string *address, std::uint16_t *port);

class HttpObserver {
public:
    // Loads the page's files and binds the port. Throws std::runtime_error with a clear message when the
    // files are missing or the address cannot be used.
    HttpObserver(const HttpOptions &options, TrafficFeed &feed);
    ~HttpObserver();
    HttpObserver(const HttpObserver &) = delete;
    HttpObserver &operator=(const HttpObserver &) = delete;

    // Serves on a thread of its own until Stop (or destruction).
    void Start();
    void Stop();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    std::thread thread_;
};

}  // namespace server
