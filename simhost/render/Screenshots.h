// The pictures a host run was asked for: when each is due, the callsigns seen so far, writing them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "simhost/Host.h"
#include "simhost/render/Scene.h"

namespace simhost {

// Used on the simulation thread, between frames.
class Screenshots {
public:
    // Pairs the i-th time with the i-th path; paths without a time are taken at the end of the run.
    // Refuses (false, with a reason) more times than paths, a time outside 0..runSeconds, a path given
    // twice, and a path whose folder does not exist, so a bad request costs no run.
    bool Plan(const std::vector<std::string> &paths, const std::vector<double> &times, double runSeconds,
              std::string &error);

    // After every frame: remembers the plane list's callsigns and writes each picture now due.
    // False with a reason when a picture cannot be written; the others are still taken.
    bool AfterFrame(const Host &host, std::string &error);

    // At the end of the run, before the plug-in is stopped: writes every picture not yet taken.
    bool Finish(const Host &host, std::string &error);

    const std::vector<std::string> &Written() const { return written_; }

private:
    struct Request {
        std::string path;
        std::optional<double> at;
        bool taken = false;
    };

    void Observe(const Host &host);
    bool Take(const Host &host, Request &request, std::string &error);

    std::vector<Request> requests_;
    Callsigns callsigns_;
    long observedFrame_ = -1;
    std::vector<std::string> written_;
};

}  // namespace simhost
