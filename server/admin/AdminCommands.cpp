// The operator's commands.
#include "server/admin/AdminCommands.h"

#include <spdlog/spdlog.h>

#include <chrono>
#include <ctime>

#include "server/admin/ControlSocket.h"
#include "server/admin/MotdFile.h"
#include "server/core/Relay.h"
#include "server/core/Text.h"

namespace server {

const char *const kAdminUsage =
    "  who                                       who is online: user, callsign, address, node, since, mode\n"
    "  kick USER [REASON]                        end USER's sessions; the plug-in does not reconnect\n"
    "  ban USER|ADDRESS|NET/N [--for D] [REASON] keep them out (D: 90s, 30m, 12h, 7d, 2w; none: for good)\n"
    "  unban USER|ADDRESS|NET/N                  lift a ban\n"
    "  bans                                      the bans in force\n"
    "  disable USER, enable USER                 keep an account out, or let it in again\n"
    "  say TEXT                                  a chat line from the server to every pilot\n"
    "  motd [TEXT]                               the line each pilot is sent at login (none: no line)\n";

namespace {

std::int64_t WallSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string UtcText(std::int64_t seconds) {
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The words from `first` on, as one text; empty when there are none.
std::string Rest(const std::vector<std::string> &words, std::size_t first) {
    std::string text;
    for (std::size_t i = first; i < words.size(); ++i) text += (i > first ? " " : "") + words[i];
    return text;
}

}  // namespace

bool CheckAdminText(const std::string &text, const char *what, std::string *error) {
    if (text.size() > AdminCommands::kMaxText) {
        *error = std::string(what) + " longer than " + std::to_string(AdminCommands::kMaxText) + " bytes";
        return false;
    }
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            *error = std::string(what) + " with a control character (a line break, a tab, an escape)";
            return false;
        }
    }
    return true;
}

std::string AdminCommands::Run(const std::vector<std::string> &words, const std::string &who) {
    const std::string &command = words[0];
    auto wrongCount = [&](const char *usage) { return AdminError("usage: " + std::string(usage)); };
    if (command == "who") {
        if (words.size() != 1) return wrongCount("who");
        std::string out = "user\tcallsign\taddress\tnode\tsince\tmode\n";
        for (const Relay::Session &session : relay_.Sessions()) {
            std::string mode = session.viewOnly ? "view-only"
                               : !session.crew.empty()
                                   ? (session.position > 0 ? "crew of " : "pilot of crew ") + Escaped(session.crew)
                                   : "pilot";
            out += Escaped(session.user) + '\t' + Escaped(session.callsign) + '\t' +
                   (session.remote ? "-" : AddressText(session.address)) + '\t' +
                   (!session.remote        ? "here"
                    : session.node.empty() ? "elsewhere"
                                           : Escaped(session.node)) +
                   '\t' + UtcText(static_cast<std::int64_t>(session.since / 1000000)) + '\t' + mode + '\n';
        }
        return AdminOk(out);
    }
    if (command == "kick") {
        if (words.size() < 2) return wrongCount("kick USER [REASON]");
        std::string reason = Rest(words, 2), error;
        if (!CheckAdminText(reason, "a reason", &error)) return AdminError(error);
        OperatorAction kick;
        kick.kind = OperatorAction::Kind::Kick;
        kick.target = words[1];
        kick.text = reason.empty() ? "kicked by the operator" : "kicked by the operator: " + reason;
        kick.by = who;
        std::size_t kicked = relay_.Kick(kick.target, kick.text);
        if (kicked == 0 && !relay_.InNetwork()) return AdminError("no pilot " + Preview(words[1]) + " is logged in");
        // The pilot may fly on another node of the network: every node ends its sessions there.
        relay_.PublishOperatorAction(kick);
        spdlog::warn("admin ({}): kicked {} ({} sessions){}", who, Preview(words[1]), kicked,
                     reason.empty() ? "" : ": " + Preview(reason));
        return AdminOk("kicked " + std::to_string(kicked) + " session(s) here\n");
    }
    if (command == "ban") return AddBan(words, who);
    if (command == "unban") {
        if (words.size() != 2) return wrongCount("unban USER|ADDRESS|NET/N");
        Ban parsed;
        std::string error;
        if (!ParseBanTarget(words[1], &parsed, &error)) return AdminError(Preview(words[1]) + ": " + error);
        if (!bans_.Remove(parsed.target)) return AdminError(Preview(parsed.target) + " is not banned");
        OperatorAction unban;
        unban.kind = OperatorAction::Kind::Unban;
        unban.target = parsed.target;
        unban.by = who;
        relay_.PublishOperatorAction(unban);
        std::string saved = SaveBans();
        spdlog::warn("admin ({}): lifted the ban on {}", who, Preview(parsed.target));
        return saved.empty() ? AdminOk() : AdminError("lifted, but " + saved);
    }
    if (command == "bans") {
        if (words.size() != 1) return wrongCount("bans");
        std::string out = "target\tuntil\tsince\tby\treason\n";
        for (const server::Ban &ban : bans_.InForce(WallSeconds())) {
            out += ban.target + '\t' + (ban.until == 0 ? "for good" : UtcText(ban.until)) + '\t' + UtcText(ban.since) +
                   '\t' + ban.by + '\t' + ban.reason + '\n';
        }
        return AdminOk(out);
    }
    if (command == "disable" || command == "enable") {
        if (words.size() != 2) return wrongCount("disable USER, enable USER");
        if (!disable_) return AdminError("this server has no accounts file (--open)");
        bool disable = command == "disable";
        try {
            if (!disable_(words[1], disable)) return AdminError("no account " + Preview(words[1]));
        } catch (const std::exception &failure) {
            return AdminError(failure.what());
        }
        if (disable) relay_.Kick(words[1], "this account was disabled");
        spdlog::warn("admin ({}): {} the account {}", who, disable ? "disabled" : "enabled", Preview(words[1]));
        return AdminOk();
    }
    if (command == "say" || command == "motd") {
        std::string text = Rest(words, 1), error;
        if (command == "say" && text.empty()) return wrongCount("say TEXT");
        if (!CheckAdminText(text, "a text", &error)) return AdminError(error);
        if (command == "say") {
            relay_.Say(text);
            spdlog::warn("admin ({}): said {}", who, Preview(text));
            return AdminOk();
        }
        relay_.SetMotd(text);
        spdlog::warn("admin ({}): message of the day {}", who, Preview(text));
        if (motdFile_.empty()) {
            return AdminOk("kept until this server stops: no --motd-file (or --bans) keeps it across a restart\n");
        }
        std::string saved;
        if (!SaveMotd(motdFile_, text, &saved)) {
            spdlog::error("cannot keep the message of the day: {}", saved);
            return AdminError("set until the server stops, but cannot keep it: " + saved);
        }
        return AdminOk();
    }
    return AdminError("unknown command " + Preview(command) + "; the commands are:\n" + kAdminUsage);
}

std::string AdminCommands::AddBan(const std::vector<std::string> &words, const std::string &who) {
    const char *usage = "usage: ban USER|ADDRESS|NET/N [--for DURATION] [REASON]";
    if (words.size() < 2) return AdminError(usage);
    server::Ban ban;
    std::string error;
    if (!ParseBanTarget(words[1], &ban, &error)) return AdminError(Preview(words[1]) + ": " + error);
    std::size_t reasonStart = 2;
    std::int64_t seconds = 0;
    if (words.size() > 2 && words[2] == "--for") {
        if (words.size() < 4 || !ParseBanDuration(words[3], &seconds)) {
            return AdminError("--for takes a duration of a second to ten years: 90s, 30m, 12h, 7d or 2w");
        }
        reasonStart = 4;
    }
    ban.reason = Rest(words, reasonStart);
    if (ban.reason.size() > kMaxBanReason) {
        return AdminError("a reason longer than " + std::to_string(kMaxBanReason) + " bytes");
    }
    if (!CheckAdminText(ban.reason, "a reason", &error)) return AdminError(error);
    ban.since = WallSeconds();
    ban.until = seconds == 0 ? 0 : ban.since + seconds;
    ban.by = who;
    bans_.Add(ban);
    OperatorAction action;
    action.kind = OperatorAction::Kind::Ban;
    action.target = ban.target;
    action.text = ban.reason;
    action.since = ban.since;
    action.until = ban.until;
    action.by = who;
    relay_.PublishOperatorAction(action);
    std::string saved = SaveBans();
    std::size_t ended = relay_.EndBanned(ban.since);
    spdlog::warn("admin ({}): banned {}{}{} ({} sessions ended)", who, Preview(ban.target),
                 ban.until == 0 ? std::string(" for good") : " until " + UtcText(ban.until),
                 ban.reason.empty() ? "" : ": " + Preview(ban.reason), ended);
    std::string out = "banned " + ban.target + (ban.until == 0 ? " for good" : " until " + UtcText(ban.until)) + "; " +
                      std::to_string(ended) + " session(s) ended\n";
    if (bansFile_.empty()) out += "kept until this server stops: no --bans file keeps bans across a restart\n";
    return saved.empty() ? AdminOk(out) : AdminError("banned until the server stops, but " + saved);
}

void AdminCommands::Apply(const OperatorAction &action) {
    if (action.kind == OperatorAction::Kind::Kick) {
        std::size_t kicked = relay_.Kick(action.target, action.text);
        spdlog::warn("admin ({}): kicked {} ({} sessions here)", Escaped(action.by), Preview(action.target), kicked);
        return;
    }
    server::Ban ban;
    std::string error;
    if (!ParseBanTarget(action.target, &ban, &error) || action.text.size() > kMaxBanReason) {
        spdlog::warn("admin ({}): a ban of {} not taken: {}", Escaped(action.by), Preview(action.target),
                     error.empty() ? "reason too long" : error);
        if (action.fromStore) FinishLearning(action);
        return;
    }
    ban.since = action.since;
    ban.until = action.until;
    ban.by = action.by;
    ban.reason = action.text;
    if (action.fromStore) {
        Learn(action, ban);
        return;
    }
    if (action.kind == OperatorAction::Kind::Unban) {
        bool removed = bans_.Remove(ban.target);
        if (removed) SaveBans();
        spdlog::warn("admin ({}): lifted the ban on {}{}", Escaped(action.by), Preview(ban.target),
                     removed ? "" : " (not banned here)");
        return;
    }
    bans_.Add(ban);
    SaveBans();
    std::size_t ended = relay_.EndBanned(WallSeconds());
    spdlog::warn("admin ({}): banned {}{} ({} sessions here ended)", Escaped(action.by), Preview(ban.target),
                 ban.until == 0 ? std::string(" for good") : " until " + UtcText(ban.until), ended);
}

void AdminCommands::Learn(const OperatorAction &action, const Ban &ban) {
    // Read again at every join: a ban this node has already, one that has ended, or a lift of a ban it does
    // not have changes nothing.
    if (action.kind == OperatorAction::Kind::Unban) {
        if (bans_.Remove(ban.target)) {
            learnedChanges_ = true;
            spdlog::warn("admin ({}): lifted the ban on {} (from the network's store)", Escaped(action.by),
                         Preview(ban.target));
        }
    } else {
        const Ban *known = bans_.Get(ban);
        bool ended = ban.until != 0 && ban.until <= WallSeconds();
        if (!ended && !(known && known->since == ban.since && known->until == ban.until)) {
            bans_.Add(ban);
            learnedChanges_ = true;
            spdlog::warn("admin ({}): banned {}{} (from the network's store)", Escaped(action.by), Preview(ban.target),
                         ban.until == 0 ? std::string(" for good") : " until " + UtcText(ban.until));
        }
    }
    FinishLearning(action);
}

void AdminCommands::FinishLearning(const OperatorAction &action) {
    // The file is written, and sessions under the new bans ended, once for the whole reading.
    if (action.moreFromStore || !learnedChanges_) return;
    learnedChanges_ = false;
    SaveBans();
    std::size_t ended = relay_.EndBanned(WallSeconds());
    if (ended > 0) spdlog::warn("admin: {} sessions here ended under bans from the network's store", ended);
}

std::string AdminCommands::SaveBans() {
    if (bansFile_.empty()) return "";  // kept until the server stops; the answer says so
    std::string error;
    if (bans_.Save(bansFile_, &error)) return "";
    spdlog::error("cannot save the bans: {}", error);
    return "cannot save the bans: " + error;
}

}  // namespace server
