// The connection's state and status line, and the plug-in's lines in X-Plane's Log.txt.
#include "core/ConnectionStatus.h"

#include <cmath>

#include "core/HostInterface.h"
#include "net/Protocol.h"

namespace {

ConnectionState state = ConnectionState::Disconnected;
std::string text = "Disconnected";
double secondsToRetry = 0;
std::string note;

}  // namespace

ConnectionState CurrentConnectionState() { return state; }

void SetConnectionStatus(ConnectionState newState, const std::string &newText) {
    if (newState == state && newText == text) return;
    state = newState;
    text = newText;
    LogForPilot(StatusLine());
}

void SetSecondsToRetry(double seconds) { secondsToRetry = seconds; }

void SetStatusNote(const std::string &newNote) { note = newNote; }

std::string StatusLine() {
    // Online without traffic is what the pilot must hear first, even where the line is cut short.
    if (state == ConnectionState::LoggedIn && !note.empty()) return note + " (" + text + ")";
    if (state != ConnectionState::Waiting) return text;
    std::string line = text;
    // The locale-independent integer formatting of the protocol: the host may have set a locale.
    AddIntToString(&line, ". Trying again in ", (int)std::ceil(secondsToRetry > 0 ? secondsToRetry : 0));
    line += " s";
    return line;
}

void LogForPilot(const std::string &line) {
    std::string out = "Skorvale: " + line + "\n";
    XPLMDebugString(out.c_str());
}

void ResetConnectionStatus() {
    state = ConnectionState::Disconnected;
    text = "Disconnected";
    secondsToRetry = 0;
    note.clear();
}
