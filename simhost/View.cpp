// The view: the camera matrices and viewport X-Plane publishes for 2-D drawing that labels 3-D points.
#include <cmath>

#include "HostState.h"

namespace simhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The camera: in the cockpit, this far above the aircraft's reference point, looking level along the
// heading with X-Plane's default horizontal field of view.
constexpr double kEyeHeight = 1.5;
constexpr double kHorizontalFovDeg = 60;
constexpr double kNear = 0.5, kFar = 100000;

const char *const kWorld = "sim/graphics/view/world_matrix";
const char *const kProjection = "sim/graphics/view/projection_matrix_3d";
const char *const kViewport = "sim/graphics/view/viewport";

}  // namespace

void AddViewDataRefs(HostState &s) {
    AddDataRef(s, kWorld, RefType::FloatArray, false, 16);
    AddDataRef(s, kProjection, RefType::FloatArray, false, 16);
    AddDataRef(s, kViewport, RefType::IntArray, false, 4);
    AddDataRef(s, "sim/graphics/view/window_width", RefType::Int, false);
    AddDataRef(s, "sim/graphics/view/window_height", RefType::Int, false);
}

// Before drawing, as X-Plane sets its camera each frame. Column-major, as OpenGL keeps matrices.
void UpdateView(HostState &s) {
    const std::string pos = "sim/flightmodel/position/";
    const double ex = Value(s, pos + "local_x"), ey = Value(s, pos + "local_y") + kEyeHeight;
    const double ez = Value(s, pos + "local_z");
    const double psi = Value(s, pos + "psi") * kPi / 180.0;
    // Rows of the camera's rotation: right, up, and back (the camera looks down its -Z).
    const double right[3] = {std::cos(psi), 0, std::sin(psi)};
    const double up[3] = {0, 1, 0};
    const double back[3] = {-std::sin(psi), 0, std::cos(psi)};
    const double *rows[3] = {right, up, back};
    double world[16] = {};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) world[4 * j + i] = rows[i][j];
        world[12 + i] = -(rows[i][0] * ex + rows[i][1] * ey + rows[i][2] * ez);
    }
    world[15] = 1;
    const double aspect = static_cast<double>(s.screenWidth) / s.screenHeight;
    const double fx = 1.0 / std::tan(kHorizontalFovDeg / 2 * kPi / 180.0);
    double projection[16] = {};
    projection[0] = fx;
    projection[5] = fx * aspect;
    projection[10] = (kFar + kNear) / (kNear - kFar);
    projection[11] = -1;
    projection[14] = 2 * kFar * kNear / (kNear - kFar);
    for (int i = 0; i < 16; ++i) {
        Value(s, kWorld, i) = static_cast<float>(world[i]);
        Value(s, kProjection, i) = static_cast<float>(projection[i]);
    }
    const int viewport[4] = {0, 0, s.screenWidth, s.screenHeight};
    for (int i = 0; i < 4; ++i) Value(s, kViewport, i) = viewport[i];
    Value(s, "sim/graphics/view/window_width") = s.screenWidth;
    Value(s, "sim/graphics/view/window_height") = s.screenHeight;
}

}  // namespace simhost
