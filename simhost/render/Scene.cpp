// Copies a still out of the host: aircraft positions from the data references, the frame, the widgets.
#include "simhost/render/Scene.h"

#include <cmath>

#include "XPStandardWidgets.h"

namespace simhost {

namespace {

// The slot number at the start of a plane-list row and where the rest begins, or 0 when the text
// is no such row.
int RowSlot(const std::string &text, size_t &rest) {
    size_t digits = 0;
    while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || text.compare(digits, 2, ": ") != 0) return 0;
    int slot = std::stoi(text.substr(0, digits));
    rest = digits + 2;
    return slot >= 1 && slot <= 19 ? slot : 0;
}

std::string PlaneRef(int slot, const char *field) {
    return "sim/multiplayer/position/plane" + std::to_string(slot) + "_" + field;
}

void AddWidgetTree(const Host &host, XPWidgetID id, XPWidgetID focus, std::vector<WidgetView> &out, int depth) {
    std::optional<WidgetInfo> info = host.Widget(id);
    // A hidden widget hides its children too; the depth bound guards against a corrupt tree.
    if (!info || !info->shown || depth > 64) return;
    WidgetView view;
    view.info = *info;
    view.buttonType = static_cast<int>(host.WidgetProperty(id, xpProperty_ButtonType));
    view.buttonBehavior = static_cast<int>(host.WidgetProperty(id, xpProperty_ButtonBehavior));
    view.buttonState = static_cast<int>(host.WidgetProperty(id, xpProperty_ButtonState));
    view.passwordMode = host.WidgetProperty(id, xpProperty_PasswordMode) != 0;
    view.closeBoxes = host.WidgetProperty(id, xpProperty_MainWindowHasCloseBoxes) != 0;
    view.focused = id == focus;
    out.push_back(view);
    for (XPWidgetID child : info->children) AddWidgetTree(host, child, focus, out, depth + 1);
}

// An instance's still triangles in the local frame: its model turned by roll, pitch and heading (the
// model's nose is -Z, heading turns clockwise seen from above), then moved to its position.
void AddInstance(const InstanceInfo &instance, const Obj8Mesh &mesh, std::vector<SceneTriangle> &out) {
    constexpr double kDeg = 3.14159265358979323846 / 180.0;
    const XPLMDrawInfo_t &p = instance.position;
    const double cr = std::cos(p.roll * kDeg), sr = std::sin(p.roll * kDeg);
    const double cp = std::cos(p.pitch * kDeg), sp = std::sin(p.pitch * kDeg);
    const double ch = std::cos(p.heading * kDeg), sh = std::sin(p.heading * kDeg);
    const size_t vertices = mesh.vertices.size() / 3;
    for (size_t t = 0; t + 3 <= mesh.stillTriangles.size(); t += 3) {
        SceneTriangle tri;
        for (size_t k = 0; k < 3; ++k) {
            const size_t v = mesh.stillTriangles[t + k];
            if (v >= vertices) return;
            double x = mesh.vertices[3 * v], y = mesh.vertices[3 * v + 1], z = mesh.vertices[3 * v + 2];
            const double x1 = x * cr + y * sr, y1 = -x * sr + y * cr;   // roll: right wing down
            const double y2 = y1 * cp - z * sp, z2 = y1 * sp + z * cp;  // pitch: nose up
            // heading: +X to (cos, sin) and +Z to (-sin, cos) in (east, south)
            tri[3 * k] = static_cast<float>(p.x + x1 * ch - z2 * sh);
            tri[3 * k + 1] = static_cast<float>(p.y + y2);
            tri[3 * k + 2] = static_cast<float>(p.z + x1 * sh + z2 * ch);
        }
        out.push_back(tri);
    }
}

}  // namespace

bool ReadCallsigns(const FrameRecord &frame, XPLMWindowID window, Callsigns &out) {
    Callsigns found;
    bool any = false;
    for (const DrawnString &s : frame.strings) {
        if (s.window != window) continue;
        size_t rest = 0;
        int slot = RowSlot(s.text, rest);
        if (slot == 0) continue;
        // "<callsign> <model>": an empty callsign leaves the model right after a second blank.
        size_t blank = s.text.find(' ', rest);
        found[slot] = s.text.substr(rest, blank == std::string::npos ? std::string::npos : blank - rest);
        any = true;
    }
    if (any) out = found;
    return any;
}

Scene CaptureScene(const Host &host, const Callsigns &callsigns) {
    Scene scene;
    scene.width = host.ScreenWidth();
    scene.height = host.ScreenHeight();
    scene.time = host.Now();
    scene.frame = host.LastFrame();
    scene.userX = host.GetDataRef("sim/flightmodel/position/local_x");
    scene.userZ = host.GetDataRef("sim/flightmodel/position/local_z");
    scene.userHeading = host.GetDataRef("sim/flightmodel/position/psi");
    const PlanesInfo planes = host.Planes();
    for (int slot = 1; slot <= 19; ++slot) {
        // Only what X-Plane would draw: an aircraft beyond the active count shows nowhere.
        if (!planes.Drawn(slot)) continue;
        TrafficMark mark;
        mark.slot = slot;
        mark.x = host.GetDataRef(PlaneRef(slot, "x"));
        mark.z = host.GetDataRef(PlaneRef(slot, "z"));
        double y = host.GetDataRef(PlaneRef(slot, "y"));
        mark.heading = host.GetDataRef(PlaneRef(slot, "psi"));
        // The host starts every multiplayer aircraft at the origin; one still there was never placed.
        if (mark.x == 0 && y == 0 && mark.z == 0) continue;
        if (!std::isfinite(mark.x) || !std::isfinite(mark.z)) continue;
        if (!std::isfinite(mark.heading)) mark.heading = 0;
        mark.callsign = callsigns[static_cast<size_t>(slot)];
        scene.traffic.push_back(mark);
    }
    for (const InstanceInfo &instance : host.Instances()) {
        const Obj8Mesh *mesh = host.InstanceMesh(instance.id);
        if (mesh && instance.positioned) AddInstance(instance, *mesh, scene.instanceTriangles);
    }
    std::vector<double> world = host.GetDataRefArray("sim/graphics/view/world_matrix");
    std::vector<double> projection = host.GetDataRefArray("sim/graphics/view/projection_matrix_3d");
    for (size_t i = 0; i < 16 && i < world.size() && i < projection.size(); ++i) {
        scene.worldMatrix[i] = static_cast<float>(world[i]);
        scene.projectionMatrix[i] = static_cast<float>(projection[i]);
    }
    XPWidgetID focus = host.WidgetWithFocus();
    for (XPWidgetID id : host.Widgets()) {
        std::optional<WidgetInfo> info = host.Widget(id);
        if (info && info->parent == nullptr) AddWidgetTree(host, id, focus, scene.widgets, 0);
    }
    return scene;
}

}  // namespace simhost
