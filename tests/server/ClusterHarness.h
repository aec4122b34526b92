// Test harness for networks of relay nodes: a NATS cluster of real nats-server processes, and nodes
// started on it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/server/ServerHarness.h"

namespace servertest {

// `count` nats-server processes with JetStream, routed to each other, on one loopback address of this
// test process (client ports 14222.., route ports 16222..), each with its store in a scratch folder.
// Stopped and cleaned up when destroyed.
class NatsCluster {
public:
    // `extra` goes to every server's command line (TLS, users); a single server is not clustered.
    explicit NatsCluster(int count = 3, const std::vector<std::string> &extra = {});
    ~NatsCluster();
    NatsCluster(const NatsCluster &) = delete;
    NatsCluster &operator=(const NatsCluster &) = delete;

    // True when every server accepted a connection in time.
    bool Ready() const { return ready_; }
    std::string Url(int index) const;
    const std::string &Address() const { return address_; }
    // Every server's URL, comma-separated, starting with `first`: the order in which a node tries them.
    std::string Urls(int first = 0) const;
    // Ends one server at once (SIGKILL), as a crash would.
    void Kill(int index);
    std::string Log(int index) const;
    // Publishes `payload` on `subject` through server `index`, speaking the NATS protocol itself, as an
    // outsider (or a broken node) would. True once the server has taken it.
    bool Publish(int index, const std::string &subject, const std::string &payload) const;

private:
    std::string address_;
    std::string dir_;
    std::vector<pid_t> pids_;
    bool ready_ = false;
};

// A message as one node published it: its subject and payload.
struct RecordedMessage {
    std::string subject;
    std::string payload;
};
// What two nodes of the first cluster protocol sent each other in a short session (nodes "oldalpha" and
// "oldbravo"; pilots anna 101 and ben 102 around 47.5 N 8.5 E, carl 103 in anna's crew), in order.
std::vector<RecordedMessage> RecordedFirstProtocol();

// A relay node named `node` on `address`, joined to the servers `urls`; waits (bounded) until its login
// store is ready, so logins are decided at once.
std::unique_ptr<ServerProcess> StartNode(const std::string &address, const std::string &node, const std::string &urls,
                                         const std::vector<std::string> &extra = {"--open"});

}  // namespace servertest
