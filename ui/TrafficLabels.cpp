// Traffic labels: each peer's point projected through the view matrices, its callsign drawn above it.
#include "ui/TrafficLabels.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"
#include "traffic/InstancedTraffic.h"
#include "traffic/TrafficModels.h"

namespace {

XPLMCommandRef toggleCommand = nullptr;
XPLMDataRef worldMatrix = nullptr, projectionMatrix = nullptr, viewport = nullptr;

// White on X-Plane's dark box reads on sky, cloud, ground and night alike.
const float kLabelColour[3] = {1.0f, 1.0f, 1.0f};
constexpr float kAboveModelMetres = 2.0f;  // the label's point, over the model's top
constexpr int kPadding = 3;

int ToggleLabelsCommand(XPLMCommandRef, XPLMCommandPhase inPhase, void *) {
    if (inPhase == xplm_CommandBegin) trafficLabels = trafficLabels ? 0 : 1;
    return 0;
}

// Column-major, as OpenGL and X-Plane keep them: out[i] = sum over j of m[4j + i] * v[j].
void Multiply(const float m[16], const float v[4], float out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = m[i] * v[0] + m[4 + i] * v[1] + m[8 + i] * v[2] + m[12 + i] * v[3];
}

// "1.2 km", "850 m", "+120 m": whole numbers or one decimal, without the process locale.
std::string Metres(double m, bool sign) {
    std::string out = sign ? (m < 0 ? "-" : "+") : "";
    double a = std::fabs(m);
    if (!sign && a >= 1000) {
        long tenths = std::lround(a / 100);
        return out + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " km";
    }
    return out + std::to_string(std::lround(a)) + " m";
}

}  // namespace

void StartTrafficLabels() {
    worldMatrix = XPLMFindDataRef("sim/graphics/view/world_matrix");
    projectionMatrix = XPLMFindDataRef("sim/graphics/view/projection_matrix_3d");
    viewport = XPLMFindDataRef("sim/graphics/view/viewport");
    toggleCommand = XPLMCreateCommand("skorvale/toggle_labels", "Show or hide the Skorvale callsign labels");
    XPLMRegisterCommandHandler(toggleCommand, ToggleLabelsCommand, 1, nullptr);
    // In the window phase, before the windows: every backend calls it, and the windows stay over the labels.
    XPLMRegisterDrawCallback(DrawTrafficLabels, xplm_Phase_Window, 1, nullptr);
}

void StopTrafficLabels() {
    XPLMUnregisterDrawCallback(DrawTrafficLabels, xplm_Phase_Window, 1, nullptr);
    if (toggleCommand) XPLMUnregisterCommandHandler(toggleCommand, ToggleLabelsCommand, 1, nullptr);
}

int DrawTrafficLabels(XPLMDrawingPhase, int, void *) {
    // The matrices exist from X-Plane 11.50 on; before, there are no labels.
    if (!trafficLabels || !tcpconnected || !worldMatrix || !projectionMatrix || !viewport) return 1;
    float world[16], projection[16];
    int view[4];
    if (XPLMGetDatavf(worldMatrix, world, 0, 16) != 16 || XPLMGetDatavf(projectionMatrix, projection, 0, 16) != 16 ||
        XPLMGetDatavi(viewport, view, 0, 4) != 4)
        return 1;
    const Aircraft &me = AircraftList[0];
    const float ownX = gPlaneX ? XPLMGetDataf(gPlaneX) : me.x, ownY = gPlaneY ? XPLMGetDataf(gPlaneY) : me.y;
    const float ownZ = gPlaneZ ? XPLMGetDataf(gPlaneZ) : me.z;
    const double range = labelRangeKm * 1000.0;
    int charWidth = 8, charHeight = 14;
    XPLMGetFontDimensions(xplmFont_Basic, &charWidth, &charHeight, nullptr);
    bool stateSet = false;
    for (int slot = 1; slot < kSlotCount; ++slot) {
        if (!TrafficSlotPresent(slot)) continue;
        const DrawnTraffic d = DrawnTrafficOf(slot);
        const double dx = d.x - ownX, dy = d.y - ownY, dz = d.z - ownZ;
        const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (!(distance <= range)) continue;
        const float top = TrafficModelInfo(TrafficModelOf(slot)).wheelHeight + kAboveModelMetres;
        const float point[4] = {d.x, d.y + top, d.z, 1};
        float eye[4], clip[4];
        Multiply(world, point, eye);
        Multiply(projection, eye, clip);
        // Behind the camera the division would mirror the point onto the screen: never drawn.
        if (!(clip[3] > 0.1f)) continue;
        const float nx = clip[0] / clip[3], ny = clip[1] / clip[3];
        if (!(std::fabs(nx) <= 1 && std::fabs(ny) <= 1)) continue;
        const int px = view[0] + static_cast<int>((nx + 1) / 2 * static_cast<float>(view[2] - view[0]));
        const int py = view[1] + static_cast<int>((ny + 1) / 2 * static_cast<float>(view[3] - view[1]));
        std::string text = Callsigns[slot].empty() ? "Slot " + std::to_string(slot) : Callsigns[slot];
        if (labelDetails) text += "  " + Metres(distance, false) + " " + Metres(dy, true);
        if (text.size() > 48) text.resize(48);
        const int width = charWidth * static_cast<int>(text.size());
        const int left = px - width / 2;
        if (!stateSet) {
            XPLMSetGraphicsState(0, 0, 0, 0, 1, 0, 0);
            stateSet = true;
        }
        XPLMDrawTranslucentDarkBox(left - kPadding, py + charHeight + kPadding, left + width + kPadding, py - kPadding);
        float colour[3] = {kLabelColour[0], kLabelColour[1], kLabelColour[2]};
        XPLMDrawString(colour, left, py, text.data(), nullptr, xplmFont_Basic);
    }
    return 1;
}
