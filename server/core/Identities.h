// A client's callsign, model and crew as it changes them: each change held to the client's rate (the
// latest held one goes out once the rate allows), and told to its receivers and to the other nodes.
#pragma once

#include <string>

#include "server/core/Callsigns.h"
#include "server/core/Cluster.h"
#include "server/core/Counters.h"
#include "server/core/RelayClient.h"
#include "server/core/Transport.h"

namespace server {

class Crews;
class Views;

class Identities {
public:
    Identities(const Clients &clients, Views &views, Crews &crews, RelayCounters &counters);
    void SetCluster(ClusterLink *cluster) { cluster_ = cluster; }

    // The texts are already made safe to relay.
    void OfferCallsign(Client &client, std::string callsign, bool viewOnly, TimePoint now);
    void OfferPlane(Client &client, std::string plane, TimePoint now);
    void OfferCrew(Client &client, std::string crew, int position, bool crewedWithoutId, TimePoint now);
    // Sends the held changes the client's rate now allows.
    void ApplyHeld(Client &client, TimePoint now);
    // Tells the other nodes a local client's whole identity.
    void Publish(const Client &client);
    // Settles the name `client` is shown as (after it logged in, or another node's aircraft named itself),
    // and settles again whoever that takes the name from.
    void SettleName(Client &client);
    // It leaves: its name is free for whoever asks next.
    void ReleaseName(int uniqueId) { callsigns_.Release(uniqueId); }

private:
    bool ShowName(Client &client, const std::string &name);

    const Clients &clients_;
    Callsigns callsigns_;
    Views &views_;
    Crews &crews_;
    RelayCounters &counters_;
    ClusterLink *cluster_ = nullptr;
};

}  // namespace server
