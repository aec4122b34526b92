// Schedules the run's pictures by simulated time and keeps the callsigns the plane list last showed.
#include "simhost/render/Screenshots.h"

#include <cmath>
#include <filesystem>

#include "simhost/render/Render.h"

namespace simhost {

namespace {

// Frame times are frame counts over the rate, so a time given in seconds is reached up to rounding.
constexpr double kTimeSlack = 1e-9;

}  // namespace

bool Screenshots::Plan(const std::vector<std::string> &paths, const std::vector<double> &times, double runSeconds,
                       std::string &error) {
    requests_.clear();
    if (times.size() > paths.size()) {
        error = "--screenshot-at given " + std::to_string(times.size()) + " times for " + std::to_string(paths.size()) +
                " --screenshot file(s); each time belongs to one file";
        return false;
    }
    for (size_t i = 0; i < paths.size(); ++i) {
        Request request;
        request.path = paths[i];
        if (request.path.empty()) {
            error = "--screenshot wants a file name";
            return false;
        }
        for (const Request &earlier : requests_)
            if (earlier.path == request.path) {
                error = "--screenshot " + request.path + " is given twice; each picture needs its own file";
                return false;
            }
        std::filesystem::path folder = std::filesystem::path(request.path).parent_path();
        std::error_code ec;
        if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
            error = "cannot write picture " + request.path + ": folder " + folder.string() + " does not exist";
            return false;
        }
        if (i < times.size()) {
            double t = times[i];
            if (!std::isfinite(t) || t < 0 || t > runSeconds + kTimeSlack) {
                error = "--screenshot-at " + std::to_string(t) + " for " + request.path + " is outside the run (0 to " +
                        std::to_string(runSeconds) + " simulated seconds)";
                return false;
            }
            request.at = t;
        }
        requests_.push_back(request);
    }
    return true;
}

void Screenshots::Observe(const Host &host) {
    const FrameRecord &frame = host.LastFrame();
    if (frame.frame == observedFrame_) return;
    observedFrame_ = frame.frame;
    // The plug-in's first window is its plane list.
    std::vector<WindowInfo> windows = host.Windows();
    if (!windows.empty()) ReadCallsigns(frame, windows.front().id, callsigns_);
}

bool Screenshots::Take(const Host &host, Request &request, std::string &error) {
    request.taken = true;
    if (!WritePng(CaptureScene(host, callsigns_), request.path, error)) return false;
    written_.push_back(request.path);
    return true;
}

bool Screenshots::AfterFrame(const Host &host, std::string &error) {
    if (requests_.empty()) return true;
    Observe(host);
    bool ok = true;
    for (Request &request : requests_) {
        if (request.taken || !request.at || host.Now() + kTimeSlack < *request.at) continue;
        std::string failure;
        if (!Take(host, request, failure)) {
            if (ok) error = failure;
            ok = false;
        }
    }
    return ok;
}

bool Screenshots::Finish(const Host &host, std::string &error) {
    if (requests_.empty()) return true;
    Observe(host);
    bool ok = true;
    for (Request &request : requests_) {
        if (request.taken) continue;
        std::string failure;
        if (!Take(host, request, failure)) {
            if (ok) error = failure;
            ok = false;
        }
    }
    return ok;
}

}  // namespace simhost
