// What the plug-in drew this frame: dark boxes, GL quads and lines, and strings, window by window.
#include <GL/gl.h>

#include <algorithm>
#include <cmath>

#include "simhost/render/Layers.h"
#include "simhost/render/Text.h"

namespace simhost {

namespace {

// Cairo keeps coordinates in 24.8 fixed point; far-off values are pulled in before they can wrap.
constexpr double kCoordinateLimit = 1e6;

double Coordinate(double v) { return std::clamp(v, -kCoordinateLimit, kCoordinateLimit); }

// GL clamps colours to 0..1; a NaN (which no clamp catches) becomes 0.
double Channel(float v) { return std::isnan(v) ? 0.0 : std::clamp(static_cast<double>(v), 0.0, 1.0); }

bool Finite(const GlVertex &v) { return std::isfinite(v.x) && std::isfinite(v.y); }

void DrawDarkBox(cairo_t *cr, const Scene &scene, const DarkBox &box) {
    double left = Coordinate(std::min(box.left, box.right)), right = Coordinate(std::max(box.left, box.right));
    double top = Coordinate(std::max(box.top, box.bottom)), bottom = Coordinate(std::min(box.top, box.bottom));
    cairo_rectangle(cr, left, FlipY(scene, top), right - left, top - bottom);
    SetColour(cr, style::kDarkBoxFill);
    cairo_fill(cr);
    if (right - left < 2 || top - bottom < 2) return;
    cairo_rectangle(cr, left + 0.5, FlipY(scene, top) + 0.5, right - left - 1, top - bottom - 1);
    SetColour(cr, style::kDarkBoxFrame);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

// GL colours a flat-shaded primitive with its last vertex's colour; without blending, alpha is ignored.
void UseVertexColour(cairo_t *cr, const GlVertex &v, bool blending) {
    cairo_set_source_rgba(cr, Channel(v.rgba[0]), Channel(v.rgba[1]), Channel(v.rgba[2]),
                          blending ? Channel(v.rgba[3]) : 1.0);
}

// Filled shapes cover exactly the area between their vertices.
void FillPolygon(cairo_t *cr, const Scene &scene, const std::vector<GlVertex> &vs, size_t first, size_t count,
                 bool blending) {
    for (size_t k = first; k < first + count; ++k)
        if (!Finite(vs[k])) return;
    cairo_move_to(cr, Coordinate(vs[first].x), FlipY(scene, Coordinate(vs[first].y)));
    for (size_t k = first + 1; k < first + count; ++k)
        cairo_line_to(cr, Coordinate(vs[k].x), FlipY(scene, Coordinate(vs[k].y)));
    cairo_close_path(cr);
    UseVertexColour(cr, vs[first + count - 1], blending);
    cairo_fill(cr);
}

// A one-pixel line lights the pixels whose lower-left corners its ends name.
void StrokeSegment(cairo_t *cr, const Scene &scene, const GlVertex &a, const GlVertex &b, bool blending) {
    if (!Finite(a) || !Finite(b)) return;
    cairo_move_to(cr, Coordinate(a.x) + 0.5, FlipY(scene, Coordinate(a.y)) - 0.5);
    cairo_line_to(cr, Coordinate(b.x) + 0.5, FlipY(scene, Coordinate(b.y)) - 0.5);
    UseVertexColour(cr, b, blending);
    cairo_stroke(cr);
}

void DrawPrimitive(cairo_t *cr, const Scene &scene, const GlPrimitive &p, bool blending) {
    const std::vector<GlVertex> &vs = p.vertices;
    const size_t n = vs.size();
    cairo_set_line_width(cr, 1);
    switch (p.mode) {
        case GL_QUADS:
            for (size_t i = 0; i + 4 <= n; i += 4) FillPolygon(cr, scene, vs, i, 4, blending);
            break;
        case GL_TRIANGLES:
            for (size_t i = 0; i + 3 <= n; i += 3) FillPolygon(cr, scene, vs, i, 3, blending);
            break;
        case GL_POLYGON:
        case GL_TRIANGLE_FAN:
            if (n >= 3) FillPolygon(cr, scene, vs, 0, n, blending);
            break;
        case GL_LINES:
            for (size_t i = 0; i + 2 <= n; i += 2) StrokeSegment(cr, scene, vs[i], vs[i + 1], blending);
            break;
        case GL_LINE_STRIP:
        case GL_LINE_LOOP:
            for (size_t i = 0; i + 1 < n; ++i) StrokeSegment(cr, scene, vs[i], vs[i + 1], blending);
            if (p.mode == GL_LINE_LOOP && n > 2) StrokeSegment(cr, scene, vs[n - 1], vs[0], blending);
            break;
        case GL_POINTS:
            for (const GlVertex &v : vs) {
                if (!Finite(v)) continue;
                cairo_rectangle(cr, Coordinate(v.x), FlipY(scene, Coordinate(v.y)) - 1, 1, 1);
                UseVertexColour(cr, v, blending);
                cairo_fill(cr);
            }
            break;
        default:
            break;  // modes the plug-in does not use are left out rather than guessed at
    }
}

// The record keeps each kind of call in its own list, so the order inside one window is rebuilt the
// way windows are painted: background boxes, then shapes, then text on top. The last graphics state
// the window set decides blending; with none set, blending is on as in the simulator's window phase.
void DrawWindowContents(cairo_t *cr, const Scene &scene, XPLMWindowID window) {
    const FrameRecord &frame = scene.frame;
    for (const DarkBox &box : frame.boxes)
        if (box.window == window) DrawDarkBox(cr, scene, box);
    bool blending = true;
    for (const GraphicsStateCall &g : frame.graphicsStates)
        if (g.window == window) blending = g.alphaBlending != 0;
    cairo_antialias_t saved = cairo_get_antialias(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    for (const GlPrimitive &p : frame.primitives)
        if (p.window == window) DrawPrimitive(cr, scene, p, blending);
    cairo_set_antialias(cr, saved);
    for (const DrawnString &s : frame.strings) {
        if (s.window != window) continue;
        cairo_set_source_rgb(cr, Channel(s.rgb[0]), Channel(s.rgb[1]), Channel(s.rgb[2]));
        DrawHostString(cr, scene, s.x, s.y, s.text, s.wrapWidth.value_or(0));
    }
}

}  // namespace

void DrawHostString(cairo_t *cr, const Scene &scene, double x, double y, const std::string &text, int wrapWidth) {
    UseTextFont(cr, style::kFontSize);
    std::vector<std::string> characters = ToCharacters(text);
    std::vector<std::string> lines;
    if (wrapWidth > 0) {
        double perLine = std::floor(wrapWidth / CharacterAdvance(cr));
        lines = WrapCharacters(characters, static_cast<size_t>(std::max(1.0, perLine)));
    } else {
        std::string whole;
        for (const std::string &c : characters) whole += c;
        lines.push_back(whole);
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        double baseline = y - static_cast<double>(i) * style::kLineHeight;
        if (baseline < -style::kLineHeight) break;  // every further line is below the screen
        if (baseline > scene.height + style::kLineHeight) continue;
        ShowText(cr, Coordinate(x), FlipY(scene, baseline), lines[i]);
    }
}

void DrawPluginDrawing(cairo_t *cr, const Scene &scene) {
    // Drawing outside any window happened in the earlier phases, below every window.
    std::vector<XPLMWindowID> order{nullptr};
    for (XPLMWindowID w : scene.frame.windowsDrawn)
        if (std::find(order.begin(), order.end(), w) == order.end()) order.push_back(w);
    for (XPLMWindowID w : order) DrawWindowContents(cr, scene, w);
}

}  // namespace simhost
