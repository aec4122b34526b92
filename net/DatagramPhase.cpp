// The datagram phase of the packet processor: location datagrams into traffic slots, and the crewed redirect.
#include "net/DatagramPhase.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/Protocol.h"
#include "traffic/AircraftUtils.h"
#include "traffic/WorldOrLocal.h"

namespace {

// Bounds the work of one flight loop: a flood of datagrams cannot stall the simulator, it only queues in
// the socket for the next calls (90 per 0.03 s is 3000 a second, far above what 19 aircraft send).
constexpr int kReceivesPerCall = 90;
constexpr size_t kDatagramBytes = 1400;

const char kPlanePathOverride[] = "sim/operation/override/override_planepath";

void WritePlanePathOverride(int value) { XPLMSetDatavi(XPLMFindDataRef(kPlanePathOverride), &value, 0, 1); }

// A field that ends with "|" and holds no line feed (the regex "(.*?)\|" of the field groups, whose "."
// stops at a line feed). Moves `rest` past the "|".
bool TakeField(std::string_view *rest, std::string_view *field) {
    size_t bar = rest->find('|');
    if (bar == std::string_view::npos) return false;
    std::string_view text = rest->substr(0, bar);
    if (text.find('\n') != std::string_view::npos) return false;
    *field = text;
    rest->remove_prefix(bar + 1);
    return true;
}

// A light field: exactly one decimal digit and "|".
bool TakeDigit(std::string_view *rest, std::string_view *field) {
    if (rest->size() < 2 || (*rest)[0] < '0' || (*rest)[0] > '9' || (*rest)[1] != '|') return false;
    *field = rest->substr(0, 1);
    rest->remove_prefix(2);
    return true;
}

float Decode(std::string_view field) { return stringtof(std::string(field)); }

// The crewed redirect: in crewed mode a seat other than the pilot's is flown by the crew's pilot, whose
// datagrams then move the user's own aircraft (slot 0) with the host's own flight model held off.
// Returns the slot the datagram acts on.
int Redirect(int slot) {
    // An empty crew ID names no crew: without this check every slot whose crew is unknown would fly
    // the user's aircraft.
    if (flightMode == 1 && slot >= 0 && slot < kSlotCount && !crewID.empty() && CrewIDs[slot] == crewID &&
        cockpitPosition > 0) {
        if (overridden == 0) {
            WritePlanePathOverride(1);
            overridden = 1;
        }
        return 0;
    }
    if (flightMode == 0 && overridden != 0) {
        WritePlanePathOverride(0);
        overridden = 0;
    }
    return slot;
}

void Apply(Aircraft &record, const LocationFields &fields, float ownLat, float ownLon) {
    const std::string_view *f = fields.field;
    double x = 0, y = 0, z = 0;
    SVWorldOrLocal(ownLat, ownLon, std::string(f[3]), std::string(f[4]), std::string(f[5]), std::string(f[0]),
                   std::string(f[1]), std::string(f[2]), &x, &y, &z);
    record.x = (float)x;
    record.y = (float)y;
    record.z = (float)z;

    record.lat = Decode(f[3]);
    record.lon = Decode(f[4]);
    record.el = Decode(f[5]);
    record.theta = Decode(f[6]);
    record.phi = Decode(f[7]);
    record.psi = Decode(f[8]);
    record.flap = Decode(f[9]);
    record.flap2 = Decode(f[10]);
    record.speedbrake = Decode(f[11]);
    record.slat = Decode(f[12]);
    record.wingsweep = Decode(f[13]);
    record.yokePitch = Decode(f[14]);
    record.yokeRoll = Decode(f[15]);
    record.yokeYaw = Decode(f[16]);
    for (int i = 0; i < 10; i++) record.gear[i] = Decode(f[17 + i]);
    record.beacon = f[27][0] - '0';
    record.landing = f[28][0] - '0';
    record.strobe = f[29][0] - '0';
    record.nav = f[30][0] - '0';
    record.taxi = f[31][0] - '0';
    for (int i = 0; i < 8; i++) record.throttle[i] = Decode(f[32 + i]);

    record.SetAircraftData();
}

}  // namespace

bool SplitLocationFields(std::string_view body, LocationFields *out) {
    std::string_view *f = out->field;
    for (int i = 0; i < 27; i++) {
        if (!TakeField(&body, &f[i])) return false;
    }
    for (int i = 27; i < 32; i++) {
        if (!TakeDigit(&body, &f[i])) return false;
    }
    for (int i = 32; i < 39; i++) {
        if (!TakeField(&body, &f[i])) return false;
    }
    // The last throttle may end the datagram; whatever follows its "|" (the sender's clock) is not read.
    f[39] = body.substr(0, body.find('|'));
    return true;
}

void HandleDatagram(std::string_view text, float ownLat, float ownLon) {
    pcrecpp::StringPiece input(text.data(), (int)text.size());
    int slot = 0;
    char type = 0;
    if (!DatagramHeaderPattern().Consume(&input, &slot, &type)) return;

    slot = Redirect(slot);
    if (type != 'l' || slot < 0 || slot >= kSlotCount) return;

    LocationFields fields;
    if (!SplitLocationFields(std::string_view(input.data(), (size_t)input.size()), &fields)) return;
    Apply(AircraftList[slot], fields, ownLat, ownLon);
}

void DatagramPhase() {
    float ownLat = XPLMGetDataf(gPlaneLat);
    float ownLon = XPLMGetDataf(gPlaneLon);
    udptx = "  ";
    udprx = "  ";

    // Descriptor 0 is the closed socket: receiving on it would read the host's standard input.
    if (sockfd <= 0) return;

    char buffer[kDatagramBytes];
    for (int attempt = 0; attempt < kReceivesPerCall; attempt++) {
        // The source lands in a local address, never in serverAddress, which every send relies on.
        sockaddr_in source;
        socklen_t sourceLength = sizeof source;
        size = (int)recvfrom(sockfd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&source),
                             &sourceLength);
        if (size <= 0) continue;
        // Only the server speaks for the traffic; anyone else who learnt our port could move it.
        if (sourceLength < sizeof source || source.sin_family != AF_INET ||
            source.sin_addr.s_addr != serverAddress.sin_addr.s_addr) {
            continue;
        }
        udprx = "Ur";
        const void *nul = std::memchr(buffer, '\0', (size_t)size);
        size_t length = nul ? (size_t)(static_cast<const char *>(nul) - buffer) : (size_t)size;
        HandleDatagram(std::string_view(buffer, length), ownLat, ownLon);
    }
}
