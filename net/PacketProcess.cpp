// The packet processor: drains the datagram channel, then the stream channel, once per flight loop.
#include "net/PacketProcess.h"

#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/DatagramPhase.h"
#include "net/StreamPhase.h"
#include "traffic/CrewRedirect.h"

float SkorvalePacketProcess(float inElapsedSinceLastCall, float, int, void *) {
    // The own-aircraft sender waits for this first call, so the sockets are known to be drained.
    shouldIDraw = 1;
    AdvanceConnection(inElapsedSinceLastCall);
    AdvanceRedirectClock(inElapsedSinceLastCall);
    DatagramPhase();
    // Checked every call, datagrams or not: the crew's pilot falling silent is itself the reason.
    ReleaseIdleRedirect();
    StreamPhase();
    return 0.03f;
}
