// Commands: the XPLMUtilities command functions, and running a command as a user's key binding does.
#include "HostState.h"
#include "XPLMUtilities.h"

namespace simhost {

namespace {

void RunPhase(HostState &s, XPLMCommandRef ref, XPLMCommandPhase phase) {
    // Handlers registered before the command's own action run first; one returning 0 stops the rest.
    for (bool before : {true, false}) {
        auto it = s.commands.find(ref);
        if (it == s.commands.end()) return;
        const std::vector<CommandHandlerEntry> handlers = it->second.handlers;
        for (const CommandHandlerEntry &h : handlers) {
            if (h.removed || h.before != before || !Active(s, h.owner)) continue;
            PluginScope scope(s, h.owner);
            if (h.callback(ref, phase, h.refcon) == 0) return;
        }
    }
}

}  // namespace

bool Host::RunCommand(const std::string &name, std::string *error) {
    HostState &s = *state_;
    auto it = s.commandByName.find(name);
    if (it == s.commandByName.end()) {
        if (error) *error = "no command \"" + name + "\"";
        return false;
    }
    RunPhase(s, it->second, xplm_CommandBegin);
    RunPhase(s, it->second, xplm_CommandEnd);
    return true;
}

std::vector<std::string> Host::CommandNames() const {
    std::vector<std::string> names;
    for (const auto &entry : state_->commandByName) names.push_back(entry.first);
    return names;
}

}  // namespace simhost

extern "C" {

XPLMCommandRef XPLMCreateCommand(const char *inName, const char *inDescription) {
    simhost::HostState &s = simhost::State();
    if (!inName) return nullptr;
    auto it = s.commandByName.find(inName);
    if (it != s.commandByName.end()) return it->second;
    XPLMCommandRef ref = s.NewHandle();
    s.commands[ref] = {inName, inDescription ? inDescription : "", {}};
    s.commandByName[inName] = ref;
    return ref;
}

void XPLMRegisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                void *inRefcon) {
    simhost::HostState &s = simhost::State();
    auto it = s.commands.find(inComand);
    if (it == s.commands.end() || !inHandler) return;
    it->second.handlers.push_back({s.currentPlugin, inHandler, inBefore != 0, inRefcon, false});
}

void XPLMUnregisterCommandHandler(XPLMCommandRef inComand, XPLMCommandCallback_f inHandler, int inBefore,
                                  void *inRefcon) {
    simhost::HostState &s = simhost::State();
    auto it = s.commands.find(inComand);
    if (it == s.commands.end()) return;
    for (simhost::CommandHandlerEntry &h : it->second.handlers) {
        if (!h.removed && h.callback == inHandler && h.before == (inBefore != 0) && h.refcon == inRefcon) {
            h.removed = true;
            return;
        }
    }
}

}  // extern "C"
