// A still of the simulator: what a picture of one moment needs, copied out of the host.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "simhost/Host.h"

namespace simhost {

// One multiplayer aircraft the host has been told to place (a slot whose position is not the unused
// origin), in the local frame: +X east, +Z south, heading in degrees from north towards east.
struct TrafficMark {
    int slot = 0;
    double x = 0, z = 0;
    double heading = 0;
    std::string callsign;  // empty when the plane list has not shown one
};

// A shown widget with the properties its look depends on, in drawing order (parents first).
struct WidgetView {
    WidgetInfo info;
    int buttonType = 0;      // 0 push, 1 radio-style
    int buttonBehavior = 0;  // 0 push, 1 check box, 2 radio
    int buttonState = 0;
    bool passwordMode = false;
    bool closeBoxes = false;
    bool focused = false;
};

// One still triangle of an instance's model, placed in the local frame (x, y, z of each corner).
using SceneTriangle = std::array<float, 9>;

struct Scene {
    int width = 1024, height = 768;
    double time = 0;
    double userX = 0, userZ = 0, userHeading = 0;
    std::vector<TrafficMark> traffic;
    // Instanced aircraft, seen through the simulator's camera (its world and projection matrices, as
    // published for 2-D drawing): with any, the picture shows the view out of the window, not the map.
    std::vector<SceneTriangle> instanceTriangles;
    std::array<float, 16> worldMatrix{}, projectionMatrix{};
    FrameRecord frame;
    std::vector<WidgetView> widgets;
};

// Callsigns by slot (index 0 unused), as read from the rows "<slot>: <callsign> <model>" that a
// plug-in's plane list draws. The host never sees the plug-in's own tables, only what it drew, so a
// callsign holding a blank is cut at the blank.
using Callsigns = std::array<std::string, 20>;

// Reads the plane-list rows drawn into `window` in this frame. Returns false (leaving `out` alone)
// when the window drew no such row, so the caller can keep what an earlier frame showed.
bool ReadCallsigns(const FrameRecord &frame, XPLMWindowID window, Callsigns &out);

// The host's state now: its last complete frame, the user's and the placed multiplayer aircraft,
// and the shown widgets. `callsigns` labels the traffic.
Scene CaptureScene(const Host &host, const Callsigns &callsigns);

}  // namespace simhost
