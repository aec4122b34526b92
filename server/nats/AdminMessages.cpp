// Operators' kicks, bans and lifted bans carried between the nodes of a network.
#include "server/nats/AdminMessages.h"

#include <spdlog/spdlog.h>

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
}

void AdminMessages::Apply(const ClusterMessage &message) {
    OperatorAction action = message.action;
    action.by = "node " + message.node + ", " + action.by;
    relay_.OnOperatorAction(action);
}

}  // namespace server
