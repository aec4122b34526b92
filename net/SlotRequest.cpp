// The SLOTS line: asking the relay for as many aircraft as the traffic mode can show.
#include "net/SlotRequest.h"

#include <string>

#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/Protocol.h"
#include "traffic/AircraftUtils.h"

namespace {

// What the relay was last told on this connection (it starts a session at the default).
int asked = kDefaultPeers;

}  // namespace

void ForgetSlotRequest() { asked = kDefaultPeers; }

void RequestSlotsFrame() {
    if (!tcpconnected) return;
    const int wanted = trafficModels ? kInstancedPeers : kDefaultPeers;
    if (wanted == asked) return;
    std::string line;
    AddIntToString(&line, "", uniqueID);
    AddIntToString(&line, "|SLOTS|", wanted);
    line += "|\n";
    if (SendOnStream(line) > 0) asked = wanted;
}
