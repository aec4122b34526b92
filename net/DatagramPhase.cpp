// The datagram phase of the packet processor: location datagrams into traffic slots, and the crewed redirect.
#include "net/DatagramPhase.h"

#include <cmath>
#include <cstring>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/FieldDecode.h"
#include "net/Protocol.h"
#include "platform/Socket.h"
#include "traffic/AircraftUtils.h"
#include "traffic/CrewRedirect.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/SmoothTraffic.h"
#include "traffic/TrafficSlots.h"
#include "traffic/WorldOrLocal.h"

namespace {

// Bounds the work of one flight loop: a flood of datagrams cannot stall the simulator, it only queues in
// the socket for the next calls. The socket is drained every frame and every packet-processor call: at
// 60 frames a second that is 8000 a second, above what 63 aircraft sending at the relay's most (100 a
// second each) add up to.
constexpr int kReceivesPerCall = 90;
static_assert(kReceivesPerCall <= kMostDatagrams);

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

// A location with a non-finite number in any field is dropped whole: NaN or infinity written into the
// host's position and control references would break its drawing and, for slot 0, its flight model.
void Apply(Aircraft &record, const LocationFields &fields) {
    const std::string_view *f = fields.field;
    // Every field but the five light digits is a number.
    float value[40] = {};
    for (int i = 0; i < 40; i++) {
        if (i >= 27 && i < 32) continue;
        value[i] = DecodeFloatField(f[i]);
        if (!std::isfinite(value[i])) return;
    }
    double x = 0, y = 0, z = 0;
    SVWorldOrLocal(f[3], f[4], f[5], f[0], f[1], f[2], &x, &y, &z);
    if (!std::isfinite((float)x) || !std::isfinite((float)y) || !std::isfinite((float)z)) return;
    record.x = (float)x;
    if (record.planeIndex > 0) NoteTrafficLocation(record.planeIndex);
    record.y = (float)y;
    record.z = (float)z;

    record.lat = value[3];
    record.lon = value[4];
    record.el = value[5];
    record.theta = value[6];
    record.phi = value[7];
    record.psi = value[8];
    record.flap = value[9];
    record.flap2 = value[10];
    record.speedbrake = value[11];
    record.slat = value[12];
    record.wingsweep = value[13];
    record.yokePitch = value[14];
    record.yokeRoll = value[15];
    record.yokeYaw = value[16];
    for (int i = 0; i < 10; i++) record.gear[i] = value[17 + i];
    record.beacon = f[27][0] - '0';
    record.landing = f[28][0] - '0';
    record.strobe = f[29][0] - '0';
    record.nav = f[30][0] - '0';
    record.taxi = f[31][0] - '0';
    for (int i = 0; i < 8; i++) record.throttle[i] = value[32 + i];
    // A peer is drawn only once it has a position: before that its aircraft would show wherever it was.
    if (record.planeIndex != 0) MarkSlotOccupied(record.planeIndex);

    if (smoothTraffic != 0) {
        TakeTrafficSample(record, fields.clock);
        return;
    }
    if (record.planeIndex == 0) TrackPilotMotion(record);
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
    size_t bar = body.find('|');
    f[39] = body.substr(0, bar);
    out->clock = bar == std::string_view::npos ? std::string_view() : body.substr(bar + 1);
    return true;
}

void HandleDatagram(std::string_view text) {
    pcrecpp::StringPiece input(text.data(), (int)text.size());
    int slot = 0;
    char type = 0;
    if (!DatagramHeaderPattern().Consume(&input, &slot, &type)) return;
    // Slot 0 is the user's own aircraft, reached only through the crew's pilot: the server has no say
    // over it in Solo or any seat.
    if (slot == 0) return;

    slot = RedirectSlot(slot);
    if (type != 'l' || slot < 0 || slot >= kSlotCount) return;

    LocationFields fields;
    if (!SplitLocationFields(std::string_view(input.data(), (size_t)input.size()), &fields)) return;
    Apply(AircraftList[slot], fields);
}

void DatagramPhase() {
    udptx = "  ";
    udprx = "  ";
    DrainDatagramSocket();
}

void DrainDatagramSocket() {
    // Descriptor 0 is the closed socket: receiving on it would read the host's standard input.
    if (sockfd <= 0) return;

    // Module storage, so a call allocates nothing. The source lands in the datagram's own record, never
    // in serverAddress, which every send relies on.
    static Datagram datagrams[kReceivesPerCall];
    int received = ReceiveDatagrams(sockfd, datagrams, kReceivesPerCall);
    for (int i = 0; i < received; i++) {
        size = (int)datagrams[i].length;
        if (size <= 0) continue;
        // Only the server speaks for the traffic; anyone else who learnt our port could move it, and
        // another program on the server's machine is not the server.
        const sockaddr_in &source = datagrams[i].source;
        if (source.sin_family != AF_INET || source.sin_addr.s_addr != serverAddress.sin_addr.s_addr ||
            source.sin_port != serverAddress.sin_port) {
            continue;
        }
        udprx = "Ur";
        const char *text = datagrams[i].bytes;
        const void *nul = std::memchr(text, '\0', (size_t)size);
        size_t length = nul ? (size_t)(static_cast<const char *>(nul) - text) : (size_t)size;
        HandleDatagram(std::string_view(text, length));
    }
}
