// The stream phase of the packet processor: stream bytes into whole messages, and each message into the tables.
#include "net/StreamPhase.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "core/SimulatorPath.h"
#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/ModelPath.h"
#include "net/PeerText.h"
#include "net/Protocol.h"
#include "platform/File.h"
#include "platform/Socket.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/ModelLoader.h"
#include "traffic/SmoothTraffic.h"
#include "traffic/TrafficSlots.h"

namespace {

// Bounds the work of one flight loop to 140,000 bytes; more waits in the socket for the next call.
constexpr int kReadsPerCall = 100;
constexpr size_t kReadBytes = 1400;
const char kTerminator[] = "====";

// Set while the rest of an over-long line is being dropped, up to its line end.
bool discardingLine = false;
// Set by a notice from the server, which ends the connection: nothing behind it is applied.
bool endedByNotice = false;

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

const std::string &TextOrEmpty(const std::string &text) {
    static const std::string empty;
    return text == "BLANK" ? empty : text;
}

void AddChatLine(const std::string &text) {
    newTextRcvd = 9;
    const int lines = (int)(sizeof imRead / sizeof imRead[0]);
    for (int i = 0; i + 1 < lines; i++) imRead[i].swap(imRead[i + 1]);
    imRead[lines - 1] = text;
}

void HandleModel(int slot, const std::string &path) {
    // The relay empties a slot whose pilot left with BLANK (and sends BLANK for a peer whose path it
    // would not relay, whose next location fills the slot again).
    if (path == "BLANK") {
        // The relay blanks a slot when its pilot leaves: the instance and TCAS target go at once.
        Planes[slot].clear();
        ForgetSlotModel(slot);
        MarkSlotVacated(slot);
        ForgetTrafficSlot(slot);
        return;
    }
    NoteTrafficModelPath(slot, path);
    if (path.size() > kModelPathLimit) return;
    // A path written with "\" separators names its model as the same path with "/" would.
    std::string name = CleanPeerText(ModelName(WithForwardSlashes(path)));
    bool changed = Planes[slot] != name;
    if (changed) Planes[slot] = name;
    // The name is stored even when the file does not open, so the same model is not looked for again.
    // Only a model file under this installation's aircraft folder is handed to the host; a peer cannot
    // make it load any other file it can name. A model the pilot does not have gets the default one,
    // rather than whatever the aircraft's previous occupant flew.
    if (!changed) return;
    std::string local, full;
    bool found = LocalModelPath(path, &local) && RegularFileOpens(full = InSimulatorFolder(local));
    RequestModel(slot, found ? full : DefaultModelPath());
}

// What stays after parsing holds no terminator (else it would have been handled or dropped), so past
// the limit it is one line too long to be a message: dropped now, and the rest of it as it comes.
void EnforceBufferLimit() {
    if (tcpBuffer.size() <= kStreamBufferLimit) return;
    tcpBuffer.clear();
    discardingLine = true;
}

}  // namespace

void HandleStreamMessage(int slot, char type, const std::string &text) {
    // Slot 0 is the user's own aircraft: the server never names it, and a message that does would
    // rename the user or load a model into their own aircraft.
    bool inRange = slot > 0 && slot < kSlotCount;
    switch (type) {
        case 'c':
            if (inRange) {
                std::string callsign = CleanPeerText(TextOrEmpty(text));
                // Another aircraft in the slot, or none: it is drawn on its own timeline from its first
                // sample, not held back by where the previous one's clock had got to.
                if (callsign.empty() || callsign != Callsigns[slot]) ResetTrafficSlot(slot);
                Callsigns[slot] = std::move(callsign);
            }
            break;
        case 'm':
            // The server's notice carries a number no slot and no pilot's chat has (chat comes as 0), and
            // no chat text can start a line of its own: a peer cannot forge it. Otherwise the slot
            // number of a chat line means nothing.
            if (slot == kNoticeTryLater || slot == kNoticeFinal) {
                endedByNotice = TakeServerNotice(slot, CleanPeerText(text));
                break;
            }
            AddChatLine(CleanPeerText(text));
            break;
        case 'k':
            // The server's keep-alive: it is there, and from now on its silence counts.
            NoteStreamTraffic(true);
            break;
        case 'I':
            if (inRange) CrewIDs[slot] = TextOrEmpty(text);
            break;
        case 'p':
            if (inRange) HandleModel(slot, text);
            break;
        default:
            break;
    }
}

void ParseStreamBuffer() {
    const pcrecpp::RE &message = StreamMessagePattern();
    size_t position = 0;
    int slot = 0;
    char type = 0;
    std::string text;
    while (position < tcpBuffer.size()) {
        pcrecpp::StringPiece input(tcpBuffer.data() + position, (int)(tcpBuffer.size() - position));
        if (message.Consume(&input, &slot, &type, &text)) {
            position = (size_t)(input.data() - tcpBuffer.data());
            HandleStreamMessage(slot, type, text);
            if (endedByNotice) break;
            continue;
        }
        // No message begins with "=": one at the head is what is left of a terminator after a text that
        // ended in "=" (the message stopped at the first "====" of "=====") or of a line end split
        // across reads. Dropping it alone keeps the message behind it from being taken for junk.
        if (tcpBuffer[position] == '=') {
            while (position < tcpBuffer.size() && tcpBuffer[position] == '=') position++;
            continue;
        }
        // Not a message at the head. With a terminator behind it, the text before the terminator can
        // never become one (the message pattern stops at the first terminator): drop it. Without one
        // it may be a message still arriving, so it waits.
        size_t end = tcpBuffer.find(kTerminator, position);
        if (end == std::string::npos) break;
        position = end + sizeof kTerminator - 1;
    }
    // What came after a notice belongs to a session that has ended: gone with it.
    if (endedByNotice) position = tcpBuffer.size();
    endedByNotice = false;
    tcpBuffer.erase(0, position);
    EnforceBufferLimit();
}

void TakeStreamBytes(const char *bytes, size_t count) {
    size_t before = tcpBuffer.size();
    size_t i = 0;
    if (discardingLine) {
        while (i < count && !IsLineEnd(bytes[i])) i++;
        if (i == count) return;
        discardingLine = false;
    }
    // The text already in tcpBuffer is folded, so only the new bytes need folding. A run split
    // between two reads leaves two terminators, the second of which the parser drops.
    while (i < count) {
        if (IsLineEnd(bytes[i])) {
            while (i < count && IsLineEnd(bytes[i])) i++;
            tcpBuffer.append(kTerminator, sizeof kTerminator - 1);
            continue;
        }
        size_t start = i;
        while (i < count && !IsLineEnd(bytes[i])) i++;
        tcpBuffer.append(bytes + start, i - start);
    }
    // The text that was there holds no terminator, so unless one formed in the new bytes (or across the
    // seam) nothing became complete: a long line arriving in many reads is not scanned again each time.
    if (tcpBuffer.find(kTerminator, before >= 3 ? before - 3 : 0) == std::string::npos) {
        EnforceBufferLimit();
        return;
    }
    ParseStreamBuffer();
}

void StreamPhase() {
    tcprx = "  ";
    tcptx = "  ";

    // Text left by an earlier call is parsed whether or not anything arrives now.
    ParseStreamBuffer();

    char buffer[kReadBytes];
    for (int attempt = 0; attempt < kReadsPerCall; attempt++) {
        // Descriptor 0 is the closed socket: reading it would take the host's standard input.
        if (tsockfd <= 0) break;
        long received = ReceiveOnStream(tsockfd, buffer, sizeof buffer);
        size = (int)received;
        if (received > 0) {
            tcprx = "Tr";
            NoteStreamTraffic(false);
            const void *nul = std::memchr(buffer, '\0', (size_t)received);
            size_t length = nul ? (size_t)(static_cast<const char *>(nul) - buffer) : (size_t)received;
            TakeStreamBytes(buffer, length);
            continue;
        }
        if (received == kNothingNow) continue;
        // An orderly close (0) or a failed stream: the server is gone. End the connection without the
        // logout message nobody would read, and try again after a while.
        CloseServerConnection();
        break;
    }
}

void ResetStreamPhase() {
    tcpBuffer.clear();
    discardingLine = false;
    endedByNotice = false;
}
