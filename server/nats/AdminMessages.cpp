// Operators' kicks, bans and lifted bans carried between the nodes of a network.
// The bans and lifted bans are kept in the network's store as well.
#include "server/nats/AdminMessages.h"

#include <spdlog/spdlog.h>

#include <chrono>

#include "server/core/Relay.h"

namespace server {

void AdminMessages::Publish(const OperatorAction &action) {
    const ClusterOptions &options = link_.Options();
    if (options.protocol < 2) {
        spdlog::warn(
            "node {}: kicks and bans do not cross to the other nodes while this node speaks cluster "
            "protocol {}",
            options.node, options.protocol);
        return;
    }
    ClusterMessage message;
    message.kind = action.kind == OperatorAction::Kind::Ban     ? ClusterKind::Ban
                   : action.kind == OperatorAction::Kind::Unban ? ClusterKind::Unban
                                                                : ClusterKind::Eject;
    message.node = options.node;
    message.action = action;
    link_.Send(kEventSubject, message);
    if (message.kind != ClusterKind::Eject) store_.Keep(message);
}

void AdminMessages::Apply(const ClusterMessage &message) {
    OperatorAction action = message.action;
    action.by = "node " + message.node + ", " + action.by;
    relay_.OnOperatorAction(action);
}

void AdminMessages::Learn(const std::vector<ClusterMessage> &messages) {
    std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::size_t inForce = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const ClusterMessage &message = messages[i];
        OperatorAction action = message.action;
        inForce += message.kind == ClusterKind::Ban && (action.until == 0 || action.until > now);
        action.by = "node " + message.node + ", " + action.by;
        action.fromStore = true;
        action.moreFromStore = i + 1 < messages.size();
        relay_.OnOperatorAction(action);
    }
    spdlog::info("node {}: read the network's ban store: {} bans in force, {} lifted or ended", link_.Node(), inForce,
                 messages.size() - inForce);
}

}  // namespace server
