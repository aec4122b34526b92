// Text form of the node-to-node messages. Numbers go through to_chars/from_chars: no locale.
#include "server/nats/ClusterMessage.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "server/core/ClientMessage.h"

namespace server {

namespace {

// Fields each kind carries after the kind letter and the node name.
int FieldCount(ClusterKind kind) {
    switch (kind) {
        case ClusterKind::Location:
            return 2;  // at least: pairs of ID and fields
        case ClusterKind::Aircraft:
            return 10;  // 8 from nodes that do not send when the crew and callsign were claimed
        case ClusterKind::Leave:
        case ClusterKind::Kick:
        case ClusterKind::Chat:
        case ClusterKind::Sync:
        case ClusterKind::Gone:
            return 1;
        case ClusterKind::Heartbeat:
            return 2;
    }
    return -1;
}

bool IsKnownKind(char letter) {
    switch (static_cast<ClusterKind>(letter)) {
        case ClusterKind::Location:
        case ClusterKind::Aircraft:
        case ClusterKind::Leave:
        case ClusterKind::Kick:
        case ClusterKind::Chat:
        case ClusterKind::Heartbeat:
        case ClusterKind::Sync:
        case ClusterKind::Gone:
            return true;
    }
    return false;
}

template <typename Number>
bool ReadNumber(std::string_view text, Number *value) {
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size();
}

bool ReadId(std::string_view text, int *id) { return ParseUniqueId(text, id) == text.size() && !text.empty(); }

// Stream texts never hold control characters; one that does came from no node of ours.
bool IsCleanText(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
}

}  // namespace

bool IsValidNodeName(std::string_view name) {
    if (name.empty() || name.size() > 32) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

std::string EncodeClusterMessage(const ClusterMessage &message) {
    std::string out;
    out += static_cast<char>(message.kind);
    out += '\n';
    out += message.node;
    out += '\n';
    switch (message.kind) {
        case ClusterKind::Location:
            for (std::size_t i = 0; i < message.locations.size(); ++i) {
                if (i > 0) out += '\n';
                out += std::to_string(message.locations[i].uniqueId) + '\n' + message.locations[i].fields;
            }
            break;
        case ClusterKind::Aircraft: {
            const AircraftIdentity &id = message.identity;
            int flags = (id.viewOnly ? 1 : 0) | (id.crewedWithoutId ? 2 : 0);
            out += std::to_string(message.uniqueId) + '\n' + std::to_string(id.since) + '\n' +
                   std::to_string(id.position) + '\n' + std::to_string(flags) + '\n' + id.user + '\n' + id.callsign +
                   '\n' + id.plane + '\n' + id.crew + '\n' + std::to_string(id.crewSince) + '\n' +
                   std::to_string(id.callsignSince);
            break;
        }
        case ClusterKind::Leave:
        case ClusterKind::Kick:
            out += std::to_string(message.uniqueId);
            break;
        case ClusterKind::Chat:
            out += message.text;
            break;
        case ClusterKind::Heartbeat:
            out += std::to_string(message.instance) + '\n' + std::to_string(message.count);
            break;
        case ClusterKind::Sync:
        case ClusterKind::Gone:
            out += std::to_string(message.instance);
            break;
    }
    return out;
}

bool ParseClusterMessage(std::string_view payload, ClusterMessage *message) {
    if (payload.size() < 2 || payload[1] != '\n' || !IsKnownKind(payload[0])) return false;
    ClusterKind kind = static_cast<ClusterKind>(payload[0]);
    std::vector<std::string_view> fields;
    std::string_view rest = payload.substr(2);
    for (;;) {
        std::size_t end = rest.find('\n');
        fields.push_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
        if (fields.size() > 11 && kind != ClusterKind::Location) return false;
    }
    bool counted = kind == ClusterKind::Location   ? fields.size() >= 3 && fields.size() % 2 == 1
                   : kind == ClusterKind::Aircraft ? fields.size() == 9 || fields.size() == 11
                                                   : static_cast<int>(fields.size()) == 1 + FieldCount(kind);
    if (!counted || !IsValidNodeName(fields[0])) return false;
    for (std::string_view field : fields) {
        if (!IsCleanText(field)) return false;
    }
    message->kind = kind;
    message->node.assign(fields[0]);
    switch (kind) {
        case ClusterKind::Location:
            message->locations.clear();
            for (std::size_t i = 1; i + 1 < fields.size(); i += 2) {
                LocationEntry entry;
                if (!ReadId(fields[i], &entry.uniqueId) || fields[i + 1].empty()) return false;
                entry.fields.assign(fields[i + 1]);
                message->locations.push_back(std::move(entry));
            }
            return true;
        case ClusterKind::Aircraft: {
            AircraftIdentity &id = message->identity;
            int flags = 0;
            if (!ReadId(fields[1], &message->uniqueId) || !ReadNumber(fields[2], &id.since) ||
                !ReadNumber(fields[3], &id.position) || id.position < 0 || !ReadNumber(fields[4], &flags) ||
                flags < 0 || flags > 3 || fields[6].empty() || fields[7].empty()) {
                return false;
            }
            id.uniqueId = message->uniqueId;
            id.viewOnly = (flags & 1) != 0;
            id.crewedWithoutId = (flags & 2) != 0;
            id.user.assign(fields[5]);
            id.callsign.assign(fields[6]);
            id.plane.assign(fields[7]);
            id.crew.assign(fields[8]);
            // A node that does not send when its pilot claimed the crew and the callsign: its login time.
            id.crewSince = id.callsignSince = id.since;
            return fields.size() == 9 ||
                   (ReadNumber(fields[9], &id.crewSince) && ReadNumber(fields[10], &id.callsignSince));
        }
        case ClusterKind::Leave:
        case ClusterKind::Kick:
            return ReadId(fields[1], &message->uniqueId);
        case ClusterKind::Chat:
            if (fields[1].empty()) return false;
            message->text.assign(fields[1]);
            return true;
        case ClusterKind::Heartbeat:
            return ReadNumber(fields[1], &message->instance) && ReadNumber(fields[2], &message->count);
        case ClusterKind::Sync:
        case ClusterKind::Gone:
            return ReadNumber(fields[1], &message->instance);
    }
    return false;
}

void StartLocations(std::string &payload, std::string_view node) {
    payload.clear();
    payload += static_cast<char>(ClusterKind::Location);
    payload += '\n';
    payload.append(node);
}

bool AppendLocation(std::string &payload, int uniqueId, std::string_view fields) {
    char id[16];
    auto end = std::to_chars(id, id + sizeof id, uniqueId).ptr;
    std::size_t size = 2 + static_cast<std::size_t>(end - id) + fields.size();
    if (fields.empty() || fields.find('\n') != std::string_view::npos || payload.size() + size > kMaxClusterPayload) {
        return false;
    }
    payload += '\n';
    payload.append(id, end);
    payload += '\n';
    payload.append(fields);
    return true;
}

Cell CellOf(double latitude, double longitude) {
    Cell cell;
    double lat = std::floor(latitude);
    cell.latitude = static_cast<int>(std::fmin(std::fmax(lat, -90.0), 89.0));
    // Longitudes arrive in -180..360; fold them into -180..179.
    double lon = std::floor(longitude);
    lon = std::fmod(lon + 180.0, 360.0);
    if (lon < 0) lon += 360.0;
    cell.longitude = static_cast<int>(lon) - 180;
    return cell;
}

std::string CellSubject(const Cell &cell) {
    return "skorvale.loc." + std::to_string(cell.latitude) + "." + std::to_string(cell.longitude);
}

std::string NodeSubject(std::string_view node) { return "skorvale.node." + std::string(node); }

}  // namespace server
