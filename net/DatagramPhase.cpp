// The datagram phase of the packet processor: location datagrams into traffic slots, and the crewed redirect.
#include "net/DatagramPhase.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/FieldDecode.h"
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

void Apply(Aircraft &record, const LocationFields &fields) {
    const std::string_view *f = fields.field;
    double x = 0, y = 0, z = 0;
    SVWorldOrLocal(f[3], f[4], f[5], f[0], f[1], f[2], &x, &y, &z);
    record.x = (float)x;
    record.y = (float)y;
    record.z = (float)z;

    record.lat = DecodeFloatField(f[3]);
    record.lon = DecodeFloatField(f[4]);
    record.el = DecodeFloatField(f[5]);
    record.theta = DecodeFloatField(f[6]);
    record.phi = DecodeFloatField(f[7]);
    record.psi = DecodeFloatField(f[8]);
    record.flap = DecodeFloatField(f[9]);
    record.flap2 = DecodeFloatField(f[10]);
    record.speedbrake = DecodeFloatField(f[11]);
    record.slat = DecodeFloatField(f[12]);
    record.wingsweep = DecodeFloatField(f[13]);
    record.yokePitch = DecodeFloatField(f[14]);
    record.yokeRoll = DecodeFloatField(f[15]);
    record.yokeYaw = DecodeFloatField(f[16]);
    for (int i = 0; i < 10; i++) record.gear[i] = DecodeFloatField(f[17 + i]);
    record.beacon = f[27][0] - '0';
    record.landing = f[28][0] - '0';
    record.strobe = f[29][0] - '0';
    record.nav = f[30][0] - '0';
    record.taxi = f[31][0] - '0';
    for (int i = 0; i < 8; i++) record.throttle[i] = DecodeFloatField(f[32 + i]);

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

void HandleDatagram(std::string_view text) {
    pcrecpp::StringPiece input(text.data(), (int)text.size());
    int slot = 0;
    char type = 0;
    if (!DatagramHeaderPattern().Consume(&input, &slot, &type)) return;

    slot = Redirect(slot);
    if (type != 'l' || slot < 0 || slot >= kSlotCount) return;

    LocationFields fields;
    if (!SplitLocationFields(std::string_view(input.data(), (size_t)input.size()), &fields)) return;
    Apply(AircraftList[slot], fields);
}

void DatagramPhase() {
    udptx = "  ";
    udprx = "  ";

    // Descriptor 0 is the closed socket: receiving on it would read the host's standard input.
    if (sockfd <= 0) return;

    // All 90 receives in one system call: the same datagrams as 90 receives in a row, without paying
    // the system-call entry 90 times each flight loop. Module storage, so a call allocates nothing.
    static char buffers[kReceivesPerCall][kDatagramBytes];
    static sockaddr_in sources[kReceivesPerCall];
    static iovec pieces[kReceivesPerCall];
    static mmsghdr messages[kReceivesPerCall];
    for (int i = 0; i < kReceivesPerCall; i++) {
        pieces[i] = {buffers[i], kDatagramBytes};
        // The source lands in a local address, never in serverAddress, which every send relies on.
        messages[i].msg_hdr = {};
        messages[i].msg_hdr.msg_name = &sources[i];
        messages[i].msg_hdr.msg_namelen = sizeof sources[i];
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int received = recvmmsg(sockfd, messages, kReceivesPerCall, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < received; i++) {
        size = (int)messages[i].msg_len;
        if (size <= 0) continue;
        // Only the server speaks for the traffic; anyone else who learnt our port could move it.
        const sockaddr_in &source = sources[i];
        if (messages[i].msg_hdr.msg_namelen < sizeof source || source.sin_family != AF_INET ||
            source.sin_addr.s_addr != serverAddress.sin_addr.s_addr) {
            continue;
        }
        udprx = "Ur";
        const char *text = buffers[i];
        const void *nul = std::memchr(text, '\0', (size_t)size);
        size_t length = nul ? (size_t)(static_cast<const char *>(nul) - text) : (size_t)size;
        HandleDatagram(std::string_view(text, length));
    }
}
