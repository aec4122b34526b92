// The name lookup thread: getaddrinfo for IPv4 on every system, its answer handed over under a lock.
#include "net/Resolver.h"

#include <memory>
#include <mutex>
#include <thread>

#if !defined(_WIN32)
#include <netdb.h>
#endif

namespace {

struct Lookup {
    std::string host;
    std::mutex lock;  // guards the fields below, written once by the thread
    bool done = false;
    bool found = false;
    in_addr address{};
    std::string error;
};

std::shared_ptr<Lookup> wanted;   // the lookup whose answer is wanted, if any
std::shared_ptr<Lookup> running;  // the lookup its thread works on
std::thread worker;

std::string LookupError(int code) {
    switch (code) {
#if defined(EAI_NODATA) && EAI_NODATA != EAI_NONAME
        case EAI_NODATA:
#endif
        case EAI_NONAME:
            return "no such host";
        case EAI_AGAIN:
            return "the name service did not answer (no network?)";
        case EAI_FAMILY:
            return "the host has no IPv4 address";
        default:
            return "the name lookup failed (code " + std::to_string(code) + ")";
    }
}

void Run(std::shared_ptr<Lookup> lookup) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    int code = getaddrinfo(lookup->host.c_str(), nullptr, &hints, &result);
    std::lock_guard<std::mutex> guard(lookup->lock);
    if (code == 0) {
        for (addrinfo *entry = result; entry != nullptr; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
                lookup->address = reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr;
                lookup->found = true;
                break;
            }
        }
        if (!lookup->found) lookup->error = "the host has no IPv4 address";
        freeaddrinfo(result);
    } else {
        lookup->error = LookupError(code);
    }
    lookup->done = true;
}

bool Done(Lookup &lookup) {
    std::lock_guard<std::mutex> guard(lookup.lock);
    return lookup.done;
}

// The thread of a finished lookup is joined (at once: it has ended), and the wanted one started if its
// turn has come.
void Advance() {
    if (running && Done(*running)) {
        if (worker.joinable()) worker.join();
        running.reset();
    }
    if (!running && wanted && !Done(*wanted)) {
        running = wanted;
        worker = std::thread(Run, running);
    }
}

}  // namespace

void StartLookup(const std::string &host) {
    wanted = std::make_shared<Lookup>();
    wanted->host = host;
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) {
        wanted->address = address;
        wanted->found = true;
        wanted->done = true;
        return;
    }
    Advance();
}

LookupState PollLookup(in_addr *address, std::string *error) {
    Advance();
    if (!wanted) {
        *error = "no lookup";
        return LookupState::Failed;
    }
    std::lock_guard<std::mutex> guard(wanted->lock);
    if (!wanted->done) return LookupState::Pending;
    if (!wanted->found) {
        *error = wanted->error;
        return LookupState::Failed;
    }
    *address = wanted->address;
    return LookupState::Found;
}

void CancelLookup() { wanted.reset(); }

void FinishLookups() {
    wanted.reset();
    if (worker.joinable()) worker.join();
    running.reset();
}
