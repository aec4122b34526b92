// Building the runner's JSON state and its human summary.
#include "StateDump.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "Connection.h"
#include "XPStandardWidgets.h"
#include "simhost/Geo.h"

namespace simhost {

namespace {

using nlohmann::json;

constexpr int kServerPort = 49556;

json Strings(const std::vector<DrawnString> &strings) {
    json out = json::array();
    for (const DrawnString &s : strings) {
        json item = {{"text", s.text}, {"x", s.x}, {"y", s.y}, {"rgb", {s.rgb[0], s.rgb[1], s.rgb[2]}}};
        item["wrap"] = s.wrapWidth ? json(*s.wrapWidth) : json(nullptr);
        out.push_back(item);
    }
    return out;
}

json Windows() {
    json out = json::array();
    const FrameRecord &frame = TheHost().LastFrame();
    int index = 0;
    for (const WindowInfo &w : TheHost().Windows()) {
        out.push_back({{"index", index++},
                       {"left", w.left},
                       {"top", w.top},
                       {"right", w.right},
                       {"bottom", w.bottom},
                       {"visible", w.visible},
                       {"keyboardFocus", w.hasKeyboardFocus},
                       {"strings", Strings(frame.StringsIn(w.id))}});
    }
    return out;
}

// The plug-in creates its plane list first and its chat window second.
XPLMWindowID NthWindow(size_t n) {
    std::vector<WindowInfo> windows = TheHost().Windows();
    return n < windows.size() ? windows[n].id : nullptr;
}

json PlaneList() {
    json rows = json::array();
    XPLMWindowID id = NthWindow(0);
    if (!id) return rows;
    for (const std::string &text : TheHost().LastFrame().TextsIn(id)) rows.push_back(text);
    return rows;
}

// The chat window wraps its history lines and its entry line (drawn last, lowest); anything unwrapped,
// such as the auto-close countdown, is reported apart.
json Chat() {
    json chat = {{"visible", false}, {"history", json::array()}, {"entry", nullptr}, {"other", json::array()}};
    XPLMWindowID id = NthWindow(1);
    if (!id) return chat;
    chat["visible"] = TheHost().Window(id)->visible;
    std::vector<std::string> wrapped;
    for (const DrawnString &s : TheHost().LastFrame().StringsIn(id)) {
        if (s.wrapWidth) {
            wrapped.push_back(s.text);
        } else {
            chat["other"].push_back(s.text);
        }
    }
    if (!wrapped.empty()) {
        chat["entry"] = wrapped.back();
        wrapped.pop_back();
        for (const std::string &line : wrapped) chat["history"].push_back(line);
    }
    return chat;
}

const char *ClassName(XPWidgetClass c) {
    switch (c) {
        case xpWidgetClass_MainWindow:
            return "MainWindow";
        case xpWidgetClass_SubWindow:
            return "SubWindow";
        case xpWidgetClass_Button:
            return "Button";
        case xpWidgetClass_TextField:
            return "TextField";
        case xpWidgetClass_ScrollBar:
            return "ScrollBar";
        case xpWidgetClass_Caption:
            return "Caption";
        default:
            return "Other";
    }
}

json Widgets() {
    json out = json::array();
    Host &host = TheHost();
    for (XPWidgetID id : host.Widgets()) {
        WidgetInfo w = *host.Widget(id);
        std::string descriptor = w.descriptor;
        if (w.widgetClass == xpWidgetClass_TextField && host.WidgetProperty(id, xpProperty_PasswordMode) == 1)
            descriptor = descriptor.empty() ? "" : "***";  // a password is not written to a file
        json item = {{"class", ClassName(w.widgetClass)},
                     {"descriptor", descriptor},
                     {"visible", w.visible},
                     {"shown", w.shown},
                     {"left", w.left},
                     {"top", w.top},
                     {"right", w.right},
                     {"bottom", w.bottom}};
        bool exists = false;
        intptr_t state = host.WidgetProperty(id, xpProperty_ButtonState, &exists);
        if (w.widgetClass == xpWidgetClass_Button) item["state"] = exists ? state : 0;
        if (host.WidgetWithFocus() == id) item["keyboardFocus"] = true;
        out.push_back(item);
    }
    return out;
}

// Where the pilot sees multiplayer aircraft n, with its distance from the user's aircraft; null when
// X-Plane does not draw it at all.
json Seen(const Host &host, const PlanesInfo &planes, int n) {
    if (!planes.Drawn(n)) return nullptr;
    std::string p = "sim/multiplayer/position/plane" + std::to_string(n) + "_";
    const std::string own = "sim/flightmodel/position/local_";
    double x = host.GetDataRef(p + "x"), y = host.GetDataRef(p + "y"), z = host.GetDataRef(p + "z");
    double lat = 0, lon = 0, el = 0;
    LocalToWorldAbout(host.OriginLatitude(), host.OriginLongitude(), x, y, z, lat, lon, el);
    double dx = x - host.GetDataRef(own + "x"), dy = y - host.GetDataRef(own + "y"),
           dz = z - host.GetDataRef(own + "z");
    return {{"lat", lat}, {"lon", lon}, {"el", el}, {"distanceKm", std::sqrt(dx * dx + dy * dy + dz * dz) / 1000.0}};
}

json Slots() {
    json out = json::array();
    Host &host = TheHost();
    PlanesInfo planes = host.Planes();
    for (int n = 1; n <= 19; ++n) {
        std::string p = "sim/multiplayer/position/plane" + std::to_string(n) + "_";
        out.push_back({{"slot", n},
                       {"model", planes.models[static_cast<size_t>(n)]},
                       {"x", host.GetDataRef(p + "x")},
                       {"y", host.GetDataRef(p + "y")},
                       {"z", host.GetDataRef(p + "z")},
                       {"lat", host.GetDataRef(p + "lat")},
                       {"lon", host.GetDataRef(p + "lon")},
                       {"el", host.GetDataRef(p + "el")},
                       {"heading", host.GetDataRef(p + "psi")},
                       {"aiDisabled", planes.aiDisabled.count(n) > 0},
                       {"aiFlies", planes.AIFlies(n)},
                       {"drawn", planes.Drawn(n)},
                       {"seen", Seen(host, planes, n)}});
    }
    return out;
}

json Planes(const PlanesInfo &planes) {
    json refused = json::array();
    for (const RefusedCall &call : planes.refused) refused.push_back({{"time", call.time}, {"call", call.call}});
    json releaseRequests = json::array();
    for (double time : planes.releaseRequests) releaseRequests.push_back(time);
    json holderAsked = json::array();
    for (double time : planes.holderAsked) holderAsked.push_back(time);
    const char *holder = planes.holder == PlanesHolder::PlugIn        ? "plug-in"
                         : planes.holder == PlanesHolder::OtherPlugIn ? "other plug-in"
                                                                      : "nobody";
    return {{"acquired", planes.acquired},
            {"holder", holder},
            {"since", planes.heldSince},
            {"activeCount", planes.activeCount},
            {"totalAircraft", planes.aiCount + 1},
            {"releaseRequests", releaseRequests},
            {"holderName", planes.holderName},
            {"holderAsked", holderAsked},
            {"modelLoads", planes.modelLoads},
            {"mostModelLoadsInFrame", planes.mostModelLoadsInFrame},
            {"longestFrame", planes.longestFrame},
            {"heldByOtherUntil", planes.heldByOtherUntil > 0 ? json(planes.heldByOtherUntil) : json(nullptr)},
            {"refusedCount", planes.refusedCount},
            {"refused", refused}};
}

// The instances alive at the end, with the object each draws and the data it was last given.
json Instances() {
    json out = json::array();
    for (const InstanceInfo &i : TheHost().Instances()) {
        json data = json::array();
        for (float v : i.data) data.push_back(v);
        out.push_back({{"object", i.object},
                       {"lat", i.latitude},
                       {"lon", i.longitude},
                       {"el", i.elevation},
                       {"psi", i.position.heading},
                       {"the", i.position.pitch},
                       {"phi", i.position.roll},
                       {"positioned", i.positioned},
                       {"datarefs", i.datarefs},
                       {"data", data}});
    }
    return out;
}

json Instancing() {
    InstancingInfo info = TheHost().Instancing();
    json refused = json::array();
    for (const RefusedCall &call : info.refused) refused.push_back({{"time", call.time}, {"call", call.call}});
    return {{"objectLoads", info.objectLoads},      {"failedLoads", info.failedLoads},
            {"objectsAlive", info.objectsAlive},    {"loadProblems", info.loadProblems},
            {"refusedCount", info.refusedCount},    {"refused", refused},
            {"probeCalls", TheHost().ProbeCalls()}, {"mostProbesInFrame", TheHost().MostProbesInFrame()}};
}

// The TCAS targets the plug-in keeps writing (those X-Plane has not dropped).
json Tcas() {
    TcasInfo info = TheHost().Tcas();
    json targets = json::array();
    for (const TcasTarget &t : info.targets)
        targets.push_back({{"index", t.index},
                           {"modeS_id", t.modeS},
                           {"flight_id", t.flightId},
                           {"icao_type", t.icaoType},
                           {"ssr_mode", t.ssrMode},
                           {"lat", t.latitude},
                           {"lon", t.longitude},
                           {"ele", t.elevation}});
    return {{"override", info.overridden ? 1 : 0}, {"targets", targets}};
}

}  // namespace

std::string StateText(const json &state) {
    // Texts come from the plug-in and its peers and need not be UTF-8 (a Latin-1 callsign, say): each
    // byte that is not becomes U+FFFD rather than failing the whole dump.
    return state.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

json BuildState(const LoadedPlugin &plugin) {
    Host &host = TheHost();
    const std::string pos = "sim/flightmodel/position/";
    TcpConnection connection = FindEstablishedConnection(kServerPort);
    PlanesInfo planes = host.Planes();
    return {
        {"time", host.Now()},
        {"wallTime", WallSeconds()},
        {"frames", host.FrameCount()},
        {"longestFrameWall", host.LongestFrameWall()},
        {"plugin", {{"name", plugin.Name()}, {"signature", plugin.Signature()}, {"description", plugin.Description()}}},
        {"aircraft",
         {{"lat", host.Latitude()},
          {"lon", host.Longitude()},
          {"elevation", host.ElevationM()},
          {"x", host.GetDataRef(pos + "local_x")},
          {"y", host.GetDataRef(pos + "local_y")},
          {"z", host.GetDataRef(pos + "local_z")},
          {"heading", host.Heading()},
          {"groundSpeed", host.GroundSpeed()},
          {"verticalSpeed", host.VerticalSpeed()},
          {"override", host.PlanePathOverridden()}}},
        {"view",
         {{"type", host.GetDataRef("sim/graphics/view/view_type")},
          {"pilotsHeadX", host.GetDataRef("sim/graphics/view/pilots_head_x")}}},
        {"windows", Windows()},
        {"drawing", {{"fogOrLightingIn2D", host.FogOrLightingIn2D()}}},
        {"keyboard", {{"focusToHiddenWindow", host.FocusToHiddenWindow()}}},
        {"planeList", PlaneList()},
        {"chat", Chat()},
        {"widgets", Widgets()},
        {"connection",
         {{"established", connection.established},
          {"remote", connection.established ? json(connection.remote) : json(nullptr)}}},
        {"planes", Planes(planes)},
        {"readOnlyWrites", {{"count", host.ReadOnlyWriteCount()}, {"names", host.ReadOnlyWrites()}}},
        {"slots", Slots()},
        {"instances", Instances()},
        {"instancing", Instancing()},
        {"tcas", Tcas()},
    };
}

std::string Summary(const json &state) {
    int visible = 0;
    for (const json &w : state["windows"])
        if (w["visible"].get<bool>()) ++visible;
    char line[512];
    std::string out;
    std::snprintf(line, sizeof line, "%s: ran %.2f simulated s (%ld frames)\n",
                  state["plugin"]["name"].get<std::string>().c_str(), state["time"].get<double>(),
                  state["frames"].get<long>());
    out += line;
    std::snprintf(line, sizeof line, "windows: %zu (%d visible); widgets: %zu\n", state["windows"].size(), visible,
                  state["widgets"].size());
    out += line;
    std::snprintf(line, sizeof line, "planes: %s, %d active\n",
                  state["planes"]["acquired"].get<bool>() ? "acquired" : "not acquired",
                  state["planes"]["activeCount"].get<int>());
    out += line;
    out += "connection: " +
           (state["connection"]["established"].get<bool>()
                ? "established to " + state["connection"]["remote"].get<std::string>()
                : std::string("none")) +
           "\n";
    std::snprintf(line, sizeof line, "own aircraft: %.6f, %.6f, %.1f m, heading %.1f%s\n",
                  state["aircraft"]["lat"].get<double>(), state["aircraft"]["lon"].get<double>(),
                  state["aircraft"]["elevation"].get<double>(), state["aircraft"]["heading"].get<double>(),
                  state["aircraft"]["override"].get<bool>() ? " (flown by the plug-in)" : "");
    out += line;
    return out;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace simhost
