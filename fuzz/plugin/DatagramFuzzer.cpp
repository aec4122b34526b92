// Fuzzes one datagram through header, crewed redirect, field groups and the slot write, and checks the
// hand-written field splitter and degree-text search against the regular expressions they stand for.
#include <pcrecpp.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/SkorvaleSE.h"
#include "net/DatagramPhase.h"
#include "net/FieldDecode.h"
#include "net/Protocol.h"
#include "simhost/Host.h"
#include "traffic/AircraftUtils.h"

namespace {

void Setup() {
    simhost::TheHost().Reset();
    for (int i = 0; i < kSlotCount; i++) AircraftList[i].set(i);
    crewID = "Eagle";
    for (int i = 0; i < kSlotCount; i += 3) CrewIDs[i] = "Eagle";
}

// The five field groups as regular expressions, matched one after the other from the start.
bool RegexSplit(const std::string &body, std::string *fields) {
    static const pcrecpp::RE group1("(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|");
    static const pcrecpp::RE group2("(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|");
    static const pcrecpp::RE group3("(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|");
    static const pcrecpp::RE group4("(\\d)\\|(\\d)\\|(\\d)\\|(\\d)\\|(\\d)\\|");
    static const pcrecpp::RE group5("(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|(.*?)\\|([^|]*)");
    pcrecpp::StringPiece input(body);
    std::string *f = fields;
    return group1.Consume(&input, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8]) &&
           group2.Consume(&input, &f[9], &f[10], &f[11], &f[12], &f[13], &f[14], &f[15], &f[16]) &&
           group3.Consume(&input, &f[17], &f[18], &f[19], &f[20], &f[21], &f[22], &f[23], &f[24], &f[25], &f[26]) &&
           group4.Consume(&input, &f[27], &f[28], &f[29], &f[30], &f[31]) &&
           group5.Consume(&input, &f[32], &f[33], &f[34], &f[35], &f[36], &f[37], &f[38], &f[39]);
}

void CheckSplitter(const std::string &body) {
    std::string expected[40];
    LocationFields fields;
    bool regex = RegexSplit(body, expected);
    bool ours = SplitLocationFields(body, &fields);
    if (regex != ours) std::abort();
    if (!ours) return;
    for (int i = 0; i < 40; i++) {
        if (fields.field[i] != expected[i]) std::abort();
    }
}

// The fast field decoder must give stringtof's result bit for bit.
void CheckDecode(const std::string &field) {
    float fast = DecodeFloatField(field);
    float slow = stringtof(field);
    if (std::memcmp(&fast, &slow, sizeof fast) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (Setup(), true);
    (void)ready;
    if (size < 1) return 0;

    // The first byte picks the crew settings, so the redirect and the override are exercised too.
    flightMode = data[0] & 1;
    cockpitPosition = (data[0] >> 1) & 3;
    data++;
    size--;

    // What a receive gives: at most 1400 bytes, and the text ends at the first NUL.
    size = size > 1400 ? 1400 : size;
    const char *text = reinterpret_cast<const char *>(data);
    const void *nul = std::memchr(text, '\0', size);
    size_t length = nul ? (size_t)(static_cast<const char *>(nul) - text) : size;
    std::string datagram(text, length);

    HandleDatagram(datagram);
    // No number that reaches the host is NaN or infinite.
    for (const Aircraft &record : AircraftList) {
        const float values[] = {record.x,  record.y,   record.z,       record.lat,     record.lon,
                                record.el, record.psi, record.yokeYaw, record.gear[9], record.throttle[7]};
        for (float value : values) {
            if (!std::isfinite(value)) std::abort();
        }
    }

    // Everything after a header (or the whole text) through the splitter, and the text as a number.
    size_t afterHeader = datagram.find('|', datagram.find('|') + 1);
    CheckSplitter(afterHeader == std::string::npos ? datagram : datagram.substr(afterHeader + 1));
    size_t start = 0;
    for (int i = 0; i < 50 && start <= datagram.size(); i++) {
        size_t bar = datagram.find('|', start);
        CheckDecode(datagram.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return 0;
}
