// Parsing and playing the runner's script: one timed user action per line.
#include "Script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <istream>
#include <map>
#include <ostream>

#include "XPStandardWidgets.h"
#include "simhost/Host.h"

namespace simhost {

namespace {

// Locale-independent numbers: the host process may share its locale with code that changed it.
bool ParseDouble(const std::string &text, double &out) {
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool ParseInt(const std::string &text, int &out) {
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

std::string Trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// A command's checker and player in one: with `play` false it only checks the arguments, so a script
// is rejected before anything runs and the checks cannot drift from what is played.
struct Call {
    const ScriptEvent &event;
    bool play;
    std::ostream *out;
    std::string &error;

    bool Fail(const std::string &why) {
        error = why;
        return false;
    }
    bool Count(size_t min, size_t max, const char *usage) {
        size_t n = event.args.size();
        return n >= min && n <= max ? true : Fail(std::string("usage: ") + usage);
    }
    bool Number(size_t i, double &v, const char *what) {
        return ParseDouble(event.args[i], v) ? true : Fail(std::string("bad ") + what + " \"" + event.args[i] + "\"");
    }
    bool Integer(size_t i, int &v, const char *what) {
        return ParseInt(event.args[i], v) ? true : Fail(std::string("bad ") + what + " \"" + event.args[i] + "\"");
    }
};

bool LatLon(Call &c, double lat, double lon) {
    if (lat < -90 || lat > 90) return c.Fail("latitude out of range: " + std::to_string(lat));
    if (lon < -180 || lon > 180) return c.Fail("longitude out of range: " + std::to_string(lon));
    return true;
}

bool Position(Call &c) {
    const char usage[] = "position LAT LON [ELEVATION_M [HEADING [ORIGIN_LAT ORIGIN_LON]]]";
    if (!c.Count(2, 6, usage)) return false;
    if (c.event.args.size() == 5)
        return c.Fail(std::string("an origin needs both its latitude and longitude: ") + usage);
    double lat, lon, el = TheHost().ElevationM(), heading = TheHost().Heading();
    if (!c.Number(0, lat, "latitude") || !c.Number(1, lon, "longitude") || !LatLon(c, lat, lon)) return false;
    if (c.event.args.size() > 2 && !c.Number(2, el, "elevation")) return false;
    if (c.event.args.size() > 3 && !c.Number(3, heading, "heading")) return false;
    std::optional<Origin> origin;
    if (c.event.args.size() == 6) {
        Origin o;
        if (!c.Number(4, o.latitude, "origin latitude") || !c.Number(5, o.longitude, "origin longitude") ||
            !LatLon(c, o.latitude, o.longitude))
            return false;
        origin = o;
    }
    if (c.play) TheHost().PlaceAircraft(lat, lon, el, heading, origin);
    return true;
}

bool OneNumber(Call &c, const char *usage, const char *what, void (Host::*set)(double)) {
    double v;
    if (!c.Count(1, 1, usage) || !c.Number(0, v, what)) return false;
    if (c.play) (TheHost().*set)(v);
    return true;
}

bool Route(Call &c) {
    if (c.event.args.empty()) return c.Fail("usage: route LAT,LON[,ELEVATION_M] ...");
    std::vector<Waypoint> route;
    for (const std::string &word : c.event.args) {
        std::vector<double> parts;
        size_t start = 0;
        while (start <= word.size()) {
            size_t comma = word.find(',', start);
            std::string part = word.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            double v;
            if (!ParseDouble(part, v)) return c.Fail("bad way-point \"" + word + "\"");
            parts.push_back(v);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (parts.size() < 2 || parts.size() > 3) return c.Fail("bad way-point \"" + word + "\"");
        if (!LatLon(c, parts[0], parts[1])) return false;
        route.push_back({parts[0], parts[1], parts.size() == 3 ? parts[2] : TheHost().ElevationM()});
    }
    if (c.play) TheHost().FlyRoute(route);
    return true;
}

bool Menu(Call &c) {
    std::vector<std::string> path;
    size_t start = 0;
    const std::string &text = c.event.rest;
    while (true) {
        size_t slash = text.find('/', start);
        path.push_back(Trim(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start)));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (const std::string &p : path)
        if (p.empty()) return c.Fail("usage: menu ITEM/SUBITEM (e.g. menu Skorvale/Control & Settings)");
    return !c.play || TheHost().ChooseMenuItem(path, &c.error);
}

struct NamedKey {
    char key;
    char vkey;
};

// X-Plane's virtual key codes for the keys a script names.
const std::map<std::string, NamedKey> &KeyNames() {
    static const std::map<std::string, NamedKey> names = {
        {"Tab", {9, 0x09}},     {"Return", {13, 0x0D}}, {"Enter", {13, 0x0D}},   {"Backspace", {8, 0x08}},
        {"Escape", {27, 0x1B}}, {"Space", {32, 0x20}},  {"Delete", {127, 0x2E}},
    };
    return names;
}

bool Key(Call &c) {
    if (!c.Count(1, 2, "key CHAR|Tab|Return|Backspace|Escape|Space|Delete [down|up|press]")) return false;
    const std::string &name = c.event.args[0];
    NamedKey k{};
    auto it = KeyNames().find(name);
    if (it != KeyNames().end()) {
        k = it->second;
    } else if (name.size() == 1 && name[0] > 32 && name[0] < 127) {
        k.key = name[0];
        k.vkey = (name[0] >= 'a' && name[0] <= 'z') ? static_cast<char>(name[0] - 'a' + 'A') : name[0];
    } else {
        return c.Fail("unknown key \"" + name + "\"");
    }
    std::string how = c.event.args.size() > 1 ? c.event.args[1] : "press";
    if (how != "down" && how != "up" && how != "press") return c.Fail("key action must be down, up or press");
    if (!c.play) return true;
    if (how == "down") TheHost().KeyDown(k.key, k.vkey);
    if (how == "up") TheHost().KeyUp(k.key, k.vkey);
    if (how == "press") TheHost().PressKey(k.key, k.vkey);
    return true;
}

bool Type(Call &c) {
    if (c.event.rest.empty()) return c.Fail("usage: type TEXT");
    for (char ch : c.event.rest)
        if (static_cast<unsigned char>(ch) < 32 || static_cast<unsigned char>(ch) > 126)
            return c.Fail("type takes printable ASCII only; use key for others");
    if (c.play) TheHost().TypeText(c.event.rest);
    return true;
}

bool Mouse(Call &c) {
    int x, y;
    if (!c.Count(3, 3, "mouse down|drag|up X Y") || !c.Integer(1, x, "x") || !c.Integer(2, y, "y")) return false;
    const std::string &what = c.event.args[0];
    if (what != "down" && what != "drag" && what != "up") return c.Fail("mouse action must be down, drag or up");
    if (!c.play) return true;
    if (what == "down") TheHost().MouseDown(x, y);
    if (what == "drag") TheHost().MouseDrag(x, y);
    if (what == "up") TheHost().MouseUp(x, y);
    return true;
}

bool Drag(Call &c) {
    int x1, y1, x2, y2;
    if (!c.Count(4, 4, "drag X1 Y1 X2 Y2") || !c.Integer(0, x1, "x1") || !c.Integer(1, y1, "y1") ||
        !c.Integer(2, x2, "x2") || !c.Integer(3, y2, "y2"))
        return false;
    if (!c.play) return true;
    if (!TheHost().MouseDown(x1, y1)) return c.Fail("nothing to drag at " + c.event.args[0] + " " + c.event.args[1]);
    TheHost().MouseDrag(x2, y2);
    TheHost().MouseUp(x2, y2);
    return true;
}

bool Click(Call &c) {
    if (c.event.rest.empty()) return c.Fail("usage: click DESCRIPTOR");
    return !c.play || TheHost().ClickWidget(c.event.rest, &c.error);
}

bool Field(Call &c) {
    if (!c.Count(1, 2, "field CAPTION TEXT (quote words with spaces: field \"User ID\" \"my name\")")) return false;
    if (!c.play) return true;
    const std::string &caption = c.event.args[0];
    XPWidgetID field = TheHost().FieldBesideCaption(caption);
    if (!field) return c.Fail("no text field beside a caption \"" + caption + "\"");
    return TheHost().ReplaceFieldText(field, c.event.args.size() > 1 ? c.event.args[1] : "", &c.error);
}

bool Close(Call &c) {
    if (c.event.rest.empty()) return c.Fail("usage: close WINDOW_TITLE");
    return !c.play || TheHost().PushCloseBox(c.event.rest, &c.error);
}

bool View(Call &c) {
    int view;
    if (!c.Count(1, 1, "view VIEW_TYPE (e.g. 1000 forward, 1026 3-D cockpit)") || !c.Integer(0, view, "view type"))
        return false;
    if (c.play) TheHost().SetViewType(view);
    return true;
}

bool DataRef(Call &c) {
    if (!c.Count(2, 64, "dataref NAME VALUE...")) return false;
    const std::string &name = c.event.args[0];
    if (!TheHost().HasDataRef(name)) return c.Fail("unknown data ref \"" + name + "\"");
    std::vector<double> values;
    for (size_t i = 1; i < c.event.args.size(); ++i) {
        double v;
        if (!c.Number(i, v, "value")) return false;
        values.push_back(v);
    }
    if (values.size() > TheHost().GetDataRefArray(name).size()) return c.Fail("too many values for \"" + name + "\"");
    if (c.play) TheHost().SetDataRefArray(name, values);
    return true;
}

bool RunCommand(Call &c) {
    if (!c.Count(1, 1, "command NAME (e.g. skorvale/toggle_chat)")) return false;
    return !c.play || TheHost().RunCommand(c.event.args[0], &c.error);
}

bool Screen(Call &c) {
    const char usage[] = "screen WIDTHxHEIGHT (whole pixels, e.g. 1280x800)";
    if (!c.Count(1, 1, usage)) return false;
    const std::string &size = c.event.args[0];
    size_t x = size.find('x');
    int width = 0, height = 0;
    auto parse = [](const std::string &text, int &out) {
        auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && out >= 1 && out <= 16384;
    };
    if (x == std::string::npos || !parse(size.substr(0, x), width) || !parse(size.substr(x + 1), height))
        return c.Fail(std::string("usage: ") + usage);
    if (c.play) TheHost().SetScreenSize(width, height);
    return true;
}

bool Echo(Call &c) {
    if (c.play && c.out) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "[%9.3f] ", TheHost().Now());
        // Flushed at once: whoever watches the host's output can tell how far it has got.
        *c.out << stamp << c.event.rest << std::endl;
    }
    return true;
}

using Command = std::function<bool(Call &)>;

const std::map<std::string, Command> &Commands() {
    static const std::map<std::string, Command> commands = {
        {"position", Position},
        {"heading", [](Call &c) { return OneNumber(c, "heading DEGREES", "heading", &Host::SetHeading); }},
        {"speed", [](Call &c) { return OneNumber(c, "speed METRES_PER_SECOND", "speed", &Host::SetGroundSpeed); }},
        {"climb",
         [](Call &c) { return OneNumber(c, "climb METRES_PER_SECOND", "climb rate", &Host::SetVerticalSpeed); }},
        {"stop",
         [](Call &c) {
             if (!c.Count(0, 0, "stop")) return false;
             if (c.play) TheHost().StopAircraft();
             return true;
         }},
        {"route", Route},
        {"menu", Menu},
        {"key", Key},
        {"type", Type},
        {"mouse", Mouse},
        {"drag", Drag},
        {"click", Click},
        {"field", Field},
        {"close", Close},
        {"view", View},
        {"dataref", DataRef},
        {"command", RunCommand},
        {"screen", Screen},
        {"echo", Echo},
    };
    return commands;
}

bool Run(const ScriptEvent &event, bool play, std::ostream *out, std::string &error) {
    auto it = Commands().find(event.command);
    if (it == Commands().end()) {
        error = "unknown command \"" + event.command + "\"";
        return false;
    }
    Call call{event, play, out, error};
    return it->second(call);
}

}  // namespace

bool SplitWords(const std::string &text, std::vector<std::string> &words, std::string &error) {
    words.clear();
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char ch = text[i++];
                if (ch == '"') {
                    closed = true;
                    break;
                }
                if (ch == '\\' && i < text.size()) ch = text[i++];
                word += ch;
            }
            if (!closed) {
                error = "unterminated quote";
                return false;
            }
        } else {
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') word += text[i++];
        }
        words.push_back(word);
    }
    return true;
}

bool ParseScript(std::istream &in, std::vector<ScriptEvent> &events, std::string &error) {
    events.clear();
    std::string raw;
    int lineNo = 0;
    // Bounded: a script is a human-written file, and a huge one is a mistake, not a workload.
    constexpr int kMaxLines = 1000000;
    while (std::getline(in, raw)) {
        if (++lineNo > kMaxLines) {
            error = "line " + std::to_string(lineNo) + ": script too long";
            return false;
        }
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        auto fail = [&](const std::string &why) {
            error = "line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        size_t sp = line.find_first_of(" \t");
        ScriptEvent event;
        event.line = lineNo;
        if (!ParseDouble(line.substr(0, sp), event.time) || event.time < 0)
            return fail("expected a time in seconds, got \"" + line.substr(0, sp) + "\"");
        if (sp == std::string::npos) return fail("missing command after the time");
        std::string afterTime = Trim(line.substr(sp));
        size_t sp2 = afterTime.find_first_of(" \t");
        event.command = afterTime.substr(0, sp2);
        event.rest = sp2 == std::string::npos ? "" : Trim(afterTime.substr(sp2));
        if (!Commands().count(event.command)) return fail("unknown command \"" + event.command + "\"");
        std::string why;
        if (!SplitWords(event.rest, event.args, why)) return fail(why);
        if (event.rest.size() >= 2 && event.rest.front() == '"' && event.args.size() == 1) event.rest = event.args[0];
        if (!Run(event, false, nullptr, why)) return fail(event.command + ": " + why);
        events.push_back(std::move(event));
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const ScriptEvent &a, const ScriptEvent &b) { return a.time < b.time; });
    return true;
}

bool PlayEvent(const ScriptEvent &event, std::ostream &out, std::string &error) {
    return Run(event, true, &out, error);
}

}  // namespace simhost
