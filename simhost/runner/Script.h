// The runner's script: timed user actions, parsed and checked up front, played against the host.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace simhost {

struct ScriptEvent {
    double time = 0;  // simulated seconds
    int line = 0;     // 1-based line in the script file
    std::string command;
    std::vector<std::string> args;  // the words after the command ("..." groups words, \" and \\ escape)
    std::string rest;               // the text after the command as written, unquoted if one quoted word
};

// Reads every event, checking each command and its arguments. False with "line N: reason" in `error`
// for the first bad line. Events come back in time order (a stable sort: same-time events keep order).
bool ParseScript(std::istream &in, std::vector<ScriptEvent> &events, std::string &error);

// Plays one event against TheHost(); `out` receives what `echo` prints. False with a reason when the
// action cannot be done (e.g. the widget to click is hidden).
bool PlayEvent(const ScriptEvent &event, std::ostream &out, std::string &error);

// Splits a line into words as the script does (exposed for tests).
bool SplitWords(const std::string &text, std::vector<std::string> &words, std::string &error);

}  // namespace simhost
