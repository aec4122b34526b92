// The one status line a pilot reads (settings pane, plane list) and the "Skorvale: " lines in X-Plane's Log.txt.
//
// Called on the simulation thread only.
#pragma once

#include <string>

// Where the server connection stands. Traffic is shown only in LoggedIn.
enum class ConnectionState {
    Disconnected,  // never connected, or the pilot's own Disconnect
    Connecting,    // looking up the server's name, connecting, sending the login
    LoggedIn,      // the login is sent and the server has not refused it
    Waiting,       // unreachable, lost or refused for now: trying again after a delay
    Stopped,       // refused for good (credentials, a kick, a bad server entry): until the pilot acts
};

ConnectionState CurrentConnectionState();

// Sets the state and what the pilot reads about it ("Logged in to host:49556 as anna"). A change of either
// is written to Log.txt. In Waiting, the status line adds the seconds until the next attempt by itself:
// set them first.
void SetConnectionStatus(ConnectionState state, const std::string &text);
// The seconds until the next attempt, for the Waiting state's line (rounded up when shown).
void SetSecondsToRetry(double seconds);

// While logged in: why the traffic is not shown although online ("No traffic: ... holds the aircraft"),
// put before the state's text so that it survives where the line is cut short; "" clears it. Not logged
// here: whoever sets it writes its own Log.txt line.
void SetStatusNote(const std::string &note);

// The status line as shown: "Connecting to ...", "Connection lost. Reconnecting in 8 s", ...
std::string StatusLine();

// One line to Log.txt through XPLMDebugString, starting "Skorvale: ". Never give it the password.
void LogForPilot(const std::string &text);

// Back to the state of a fresh load.
void ResetConnectionStatus();
