// The view out of the window: sky and ground, and every instanced aircraft's model through the camera.
#include <algorithm>
#include <cmath>

#include "simhost/render/Layers.h"

namespace simhost {

namespace {

struct Projected {
    double x[3], y[3];
    double depth;  // the farthest corner's distance along the view: drawn far to near
    double light;  // 0..1, how squarely the face looks up towards the light
};

// Column-major 4 x 4 times (x, y, z, 1).
void Transform(const std::array<float, 16> &m, const double in[4], double out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = m[i] * in[0] + m[4 + i] * in[1] + m[8 + i] * in[2] + m[12 + i] * in[3];
}

}  // namespace

void DrawOutside(cairo_t *cr, const Scene &scene) {
    // The horizon: where a level line of sight meets the screen (the camera looks level).
    const double horizon = scene.height / 2.0;
    SetColour(cr, style::kSky);
    cairo_rectangle(cr, 0, 0, scene.width, horizon);
    cairo_fill(cr);
    SetColour(cr, style::kGround);
    cairo_rectangle(cr, 0, horizon, scene.width, scene.height - horizon);
    cairo_fill(cr);

    std::vector<Projected> faces;
    faces.reserve(scene.instanceTriangles.size());
    for (const SceneTriangle &t : scene.instanceTriangles) {
        Projected p{};
        bool visible = true;
        for (int k = 0; k < 3 && visible; ++k) {
            const double local[4] = {t[3 * k], t[3 * k + 1], t[3 * k + 2], 1};
            double eye[4], clip[4];
            Transform(scene.worldMatrix, local, eye);
            Transform(scene.projectionMatrix, eye, clip);
            if (clip[3] <= 0.5) visible = false;  // behind the camera or at it
            if (!visible) break;
            p.x[k] = (clip[0] / clip[3] + 1) / 2 * scene.width;
            p.y[k] = scene.height - (clip[1] / clip[3] + 1) / 2 * scene.height;
            p.depth = std::max(p.depth, clip[3]);
        }
        if (!visible) continue;
        const double ax = t[3] - t[0], ay = t[4] - t[1], az = t[5] - t[2];
        const double bx = t[6] - t[0], by = t[7] - t[1], bz = t[8] - t[2];
        const double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (!(length > 0)) continue;
        // Faces are two-sided here: the light falls on whichever side faces up, from above and a little south.
        p.light = std::fabs(ny * 0.8 + nz * 0.6) / length;
        faces.push_back(p);
    }
    std::sort(faces.begin(), faces.end(), [](const Projected &a, const Projected &b) { return a.depth > b.depth; });
    cairo_set_line_width(cr, 0.5);
    for (const Projected &p : faces) {
        const double shade = 0.45 + 0.55 * p.light;
        cairo_set_source_rgba(cr, style::kInstance.r * shade, style::kInstance.g * shade, style::kInstance.b * shade,
                              1);
        cairo_move_to(cr, p.x[0], p.y[0]);
        cairo_line_to(cr, p.x[1], p.y[1]);
        cairo_line_to(cr, p.x[2], p.y[2]);
        cairo_close_path(cr);
        cairo_fill_preserve(cr);
        cairo_stroke(cr);
    }
}

}  // namespace simhost
