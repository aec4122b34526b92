// skorvale-host: loads a plug-in as X-Plane does, plays a script of user actions, dumps what was seen.
#include <CLI/CLI.hpp>
#include <array>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "Script.h"
#include "StateDump.h"
#include "simhost/Geo.h"
#include "simhost/Host.h"
#if SKORVALE_HOST_PICTURES
#include "simhost/render/Screenshots.h"
#else
namespace simhost {
// A build without the picture renderer takes no --screenshot, so nothing is ever due.
struct Screenshots {
    bool Plan(const std::vector<std::string> &, const std::vector<double> &, double, std::string &) { return true; }
    bool AfterFrame(const Host &, std::string &) { return true; }
    bool Finish(const Host &, std::string &) { return true; }
    std::vector<std::string> Written() const { return {}; }
};
}  // namespace simhost
#endif

namespace {

namespace fs = std::filesystem;

struct Options {
    std::string plugin;
    std::string dir;
    double seconds = 10;
    std::string script;
    std::string stateJson;
    bool realtime = false;
    std::string screen;
    std::string start;
    std::string aircraft;
    double fps = 60;
    int xplane = 12;
    double planesHeldUntil = 0;
    int aiAircraft = 19;
    double releaseRequestAt = 0;
    double modelLoadMs = 0;
    std::string otherHolder;
    std::vector<std::string> objectLoadFails;
    int objectLoadFrames = 3;
    std::string terrain = "flat";
    std::string cwd;
    std::vector<std::string> screenshots;
    std::vector<double> screenshotAt;
};

// A clean one-line failure: what went wrong, and a non-zero exit.
int Fail(const std::string &message, int code = 1) {
    std::cerr << "skorvale-host: error: " << message << std::endl;
    return code;
}

bool ParseNumbers(const std::string &text, char separator, std::vector<double> &out) {
    out.clear();
    size_t start = 0;
    while (true) {
        size_t end = text.find(separator, start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        double v;
        auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
        if (part.empty() || ec != std::errc() || ptr != part.data() + part.size() || !std::isfinite(v)) return false;
        out.push_back(v);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

// Writes a file so that it holds either its old content or all of the new one, never a part: the text
// goes to a temporary file beside it, which then replaces it.
bool WriteWhole(const std::string &path, const std::string &text, std::string &why) {
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            why = std::strerror(errno);
            std::remove(temporary.c_str());
            return false;
        }
    }
    // std::filesystem::rename replaces an existing file on Windows too, where std::rename refuses.
    std::error_code renamed;
    fs::rename(temporary, path, renamed);
    if (renamed) {
        why = renamed.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

// Turns a path given relative to where the runner was started into an absolute one, before the chdir.
std::string Absolute(const std::string &path) { return path.empty() ? path : fs::absolute(path).string(); }

bool ApplyHostOptions(const Options &o, std::string &error) {
    simhost::Host &host = simhost::TheHost();
    std::vector<double> v;
    if (!o.screen.empty()) {
        if (!ParseNumbers(o.screen, 'x', v) || v.size() != 2 || v[0] < 1 || v[1] < 1 || v[0] > 16384 || v[1] > 16384 ||
            v[0] != static_cast<int>(v[0]) || v[1] != static_cast<int>(v[1])) {
            error = "--screen wants WIDTHxHEIGHT in whole pixels, e.g. 1920x1080, got \"" + o.screen + "\"";
            return false;
        }
        host.SetScreenSize(static_cast<int>(v[0]), static_cast<int>(v[1]));
    }
    if (!o.start.empty()) {
        if (!ParseNumbers(o.start, ',', v) || (v.size() != 2 && v.size() != 4 && v.size() != 6) || v[0] < -90 ||
            v[0] > 90 || v[1] < -180 || v[1] > 180 ||
            (v.size() == 6 && (v[4] < -90 || v[4] > 90 || v[5] < -180 || v[5] > 180))) {
            error =
                "--start wants LAT,LON or LAT,LON,ELEVATION_M,HEADING[,ORIGIN_LAT,ORIGIN_LON], got \"" + o.start + "\"";
            return false;
        }
        std::optional<simhost::Origin> origin;
        if (v.size() == 6) origin = simhost::Origin{v[4], v[5]};
        host.PlaceAircraft(v[0], v[1], v.size() >= 4 ? v[2] : host.ElevationM(), v.size() >= 4 ? v[3] : host.Heading(),
                           origin);
    }
    if (!o.aircraft.empty()) host.SetUserAircraftModel(fs::path(o.aircraft).filename().string(), o.aircraft);
    host.SetFrameRate(o.fps);
    host.SetXPlaneVersion(o.xplane == 11 ? simhost::XPlaneVersion::XPlane11 : simhost::XPlaneVersion::XPlane12);
    if (o.otherHolder == "honours") host.SetOtherHolder(simhost::OtherHolder::Honours);
    if (o.otherHolder == "ignores") host.SetOtherHolder(simhost::OtherHolder::Ignores);
    if (o.planesHeldUntil > 0) host.HoldPlanesUntil(o.planesHeldUntil);
    host.SetAIAircraftCount(o.aiAircraft);
    if (o.releaseRequestAt > 0) host.RequestPlanesReleaseAt(o.releaseRequestAt);
    host.SetModelLoadMs(o.modelLoadMs);
    for (const std::string &path : o.objectLoadFails) host.FailObjectLoads(path);
    host.SetObjectLoadFrames(o.objectLoadFrames);
    host.SetTerrain(o.terrain == "hills" ? simhost::Terrain::Hills : simhost::Terrain::Flat);
    host.SetSystemPath(o.dir);
    return true;
}

// The user's aircraft over the last frames, with the wall-clock time of each: lets another process's
// view of this aircraft be compared with where it really was at a given moment.
class Track {
public:
    void Record(const simhost::Host &host) {
        points_.push_back({simhost::WallSeconds(), host.Latitude(), host.Longitude(), host.ElevationM()});
        if (points_.size() > kFrames) points_.pop_front();
    }
    nlohmann::json Json() const {
        nlohmann::json out = nlohmann::json::array();
        for (const auto &p : points_) out.push_back({p[0], p[1], p[2], p[3]});
        return out;
    }

private:
    static constexpr size_t kFrames = 300;
    std::deque<std::array<double, 4>> points_;
};

// Each multiplayer slot as drawn over the last frames: [wallTime, x, y, z, lat, lon, el, psi], the
// world position converted from the local one by the host, so smoothing can be judged frame by frame.
class SlotTracks {
public:
    void Record(const simhost::Host &host) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        double wall = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
        for (int n = 1; n <= kSlots; ++n) {
            std::string p = "sim/multiplayer/position/plane" + std::to_string(n) + "_";
            double x = host.GetDataRef(p + "x"), y = host.GetDataRef(p + "y"), z = host.GetDataRef(p + "z");
            double lat = 0, lon = 0, el = 0;
            simhost::LocalToWorldAbout(host.OriginLatitude(), host.OriginLongitude(), x, y, z, lat, lon, el);
            auto &points = points_[static_cast<size_t>(n - 1)];
            points.push_back({wall, x, y, z, lat, lon, el, host.GetDataRef(p + "psi")});
            if (points.size() > kFrames) points.pop_front();
        }
    }
    void AddTo(nlohmann::json &slots) const {
        for (size_t i = 0; i < slots.size() && i < points_.size(); ++i) {
            nlohmann::json out = nlohmann::json::array();
            for (const auto &p : points_[i]) out.push_back(p);
            slots[i]["track"] = out;
        }
    }

private:
    static constexpr int kSlots = 19;
    static constexpr size_t kFrames = 300;
    std::array<std::deque<std::array<double, 8>>, kSlots> points_;
};

int Run(const Options &o) {
    // Checked before anything runs, so a bad script costs nothing.
    std::vector<simhost::ScriptEvent> events;
    if (!o.script.empty()) {
        std::ifstream in(o.script);
        if (!in) return Fail("cannot read script " + o.script + ": " + std::strerror(errno));
        std::string error;
        if (!simhost::ParseScript(in, events, error)) return Fail(o.script + ": " + error);
    }
    std::string error;
    simhost::Screenshots pictures;
    if (!pictures.Plan(o.screenshots, o.screenshotAt, o.seconds, error)) return Fail(error, 2);
    if (!ApplyHostOptions(o, error)) return Fail(error, 2);
    if (!fs::is_directory(o.dir)) return Fail("--dir " + o.dir + " is not a directory");
    // X-Plane's folder is where XPLMGetSystemPath points; the working directory is another matter.
    const std::string &cwd = o.cwd.empty() ? o.dir : o.cwd;
    std::error_code entered;
    fs::current_path(cwd, entered);
    if (entered) return Fail("cannot enter " + cwd + ": " + entered.message());

    std::unique_ptr<simhost::LoadedPlugin> plugin = simhost::LoadedPlugin::Load(o.plugin, error);
    if (!plugin) return Fail(error);
    if (!plugin->Start()) return Fail("the plug-in refused to start (XPluginStart returned 0)");
    if (!plugin->Enable()) std::cerr << "skorvale-host: warning: the plug-in refused to enable" << std::endl;

    simhost::Host &host = simhost::TheHost();
    Track track;
    SlotTracks slotTracks;
    const long frames = static_cast<long>(std::ceil(o.seconds * host.FrameRate() - 1e-9));
    const auto wallStart = std::chrono::steady_clock::now();
    size_t next = 0;
    int status = 0;
    for (long frame = 0; frame < frames && status == 0; ++frame) {
        // Events are due once the clock has reached their time; they act before the next frame.
        while (next < events.size() && events[next].time <= host.Now() + 1e-9) {
            const simhost::ScriptEvent &event = events[next++];
            if (!simhost::PlayEvent(event, std::cout, error)) {
                std::cerr << "skorvale-host: error: " << o.script << ": line " << event.line << ": " << event.command
                          << ": " << error << std::endl;
                status = 1;
                break;
            }
        }
        if (status) break;
        host.RunFrame();
        track.Record(host);
        slotTracks.Record(host);
        if (!pictures.AfterFrame(host, error)) {
            std::cerr << "skorvale-host: error: " << error << std::endl;
            status = 1;
        }
        if (o.realtime) std::this_thread::sleep_until(wallStart + std::chrono::duration<double>(host.Now()));
    }
    if (status == 0 && next < events.size())
        std::cerr << "skorvale-host: warning: " << events.size() - next
                  << " script event(s) at or after the end of the run were not played" << std::endl;

    // A last frame when the run stopped early, so the state shows drawn windows.
    if (host.FrameCount() == 0) host.RunFrame();
    if (!pictures.Finish(host, error)) {
        std::cerr << "skorvale-host: error: " << error << std::endl;
        status = 1;
    }
    nlohmann::json state = simhost::BuildState(*plugin);
    state["track"] = track.Json();
    slotTracks.AddTo(state["slots"]);
    plugin->Disable();
    plugin->Stop();
    plugin.reset();

    std::string why;
    if (!o.stateJson.empty() && !WriteWhole(o.stateJson, simhost::StateText(state), why))
        return Fail("cannot write --state-json " + o.stateJson + ": " + why);
    std::cout << simhost::Summary(state);
    for (const std::string &path : pictures.Written()) std::cout << "picture: " << path << "\n";
    return status;
}

}  // namespace

int main(int argc, char **argv) {
#ifdef SIGPIPE
    // Sends on a socket the server closed must fail with EPIPE, not kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    Options o;
    CLI::App app{"skorvale-host: a headless stand-in for X-Plane that loads and drives a plug-in"};
    app.add_option("--plugin", o.plugin, "the plug-in module (.xpl) to load")->required();
    app.add_option("--dir", o.dir, "X-Plane's folder (XPLMGetSystemPath), also the working directory unless --cwd says")
        ->required();
    app.add_option("--seconds", o.seconds, "simulated seconds to run")->check(CLI::Range(0.0, 86400.0));
    app.add_option("--script", o.script, "script of timed user actions");
    app.add_option("--state-json", o.stateJson, "where to write the observable state at the end");
    app.add_flag("--realtime", o.realtime, "pace frames by the wall clock (for real network traffic)");
    app.add_option("--screen", o.screen, "screen size WIDTHxHEIGHT (default 1024x768)");
    app.add_option("--start", o.start, "start position LAT,LON[,ELEVATION_M,HEADING[,ORIGIN_LAT,ORIGIN_LON]]");
    app.add_option("--xplane", o.xplane, "simulator to behave as: 12 (default) or 11 with OpenGL")
        ->check(CLI::IsMember({11, 12}));
    app.add_option("--planes-held-until", o.planesHeldUntil,
                   "another plug-in holds the multiplayer aircraft until this simulated second")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_option("--ai-aircraft", o.aiAircraft, "the pilot's AI aircraft count (default 19)")
        ->check(CLI::Range(0, 19));
    app.add_option("--release-request-at", o.releaseRequestAt,
                   "another plug-in asks for the multiplayer aircraft (XPLM_MSG_RELEASE_PLANES) at this second")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_option("--other-holder", o.otherHolder,
                   "a stand-in traffic plug-in holds the multiplayer aircraft from the start and honours or ignores "
                   "XPLM_MSG_RELEASE_PLANES")
        ->check(CLI::IsMember({"honours", "ignores"}));
    app.add_option("--model-load-ms", o.modelLoadMs, "milliseconds each aircraft model load blocks its frame")
        ->check(CLI::Range(0.0, 60000.0));
    app.add_option("--object-load-fails", o.objectLoadFails,
                   "XPLMLoadObject(Async) of this path (as the plug-in gives it) fails (repeatable)")
        ->allow_extra_args(false);
    app.add_option("--object-load-frames", o.objectLoadFrames, "frames an XPLMLoadObjectAsync takes (default 3)")
        ->check(CLI::Range(1, 100000));
    app.add_option("--terrain", o.terrain, "the ground terrain probes find: flat (default, sea level) or hills")
        ->check(CLI::IsMember({"flat", "hills"}));
    app.add_option("--cwd", o.cwd, "working directory to run in (default: --dir, X-Plane's folder)");
    app.add_option("--aircraft", o.aircraft, "the user's aircraft file path (XPLMGetNthAircraftModel 0)");
    app.add_option("--fps", o.fps, "simulated frames per second (default 60)")->check(CLI::Range(1.0, 1000.0));
#if SKORVALE_HOST_PICTURES
    app.add_option("--screenshot", o.screenshots, "write a PNG of the screen (repeatable)")->allow_extra_args(false);
    app.add_option("--screenshot-at", o.screenshotAt,
                   "simulated seconds of the matching --screenshot (default: the end)")
        ->allow_extra_args(false);
#else
    app.footer(
        "Pictures (--screenshot, --screenshot-at) are left out of this build: their renderer needs cairo "
        "and fontconfig, which are not built for Windows.");
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::string what = e.what();
        for (char &c : what)
            if (c == '\n') c = ' ';
        return Fail(what, 2);
    }
    try {
        o.plugin = Absolute(o.plugin);
        o.script = Absolute(o.script);
        o.stateJson = Absolute(o.stateJson);
        o.dir = Absolute(o.dir);
        o.cwd = Absolute(o.cwd);
        for (std::string &path : o.screenshots) path = Absolute(path);
        return Run(o);
    } catch (const std::exception &e) {
        return Fail(e.what());
    }
}
