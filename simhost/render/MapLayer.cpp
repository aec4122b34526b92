// The traffic map: the user's aircraft at the centre, north up, every placed multiplayer aircraft around it.
#include <cmath>
#include <string>

#include "simhost/render/Layers.h"
#include "simhost/render/MapView.h"
#include "simhost/render/Text.h"

namespace simhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kUserSymbolSize = 13;
constexpr double kTrafficSymbolSize = 10;

// A plane seen from above, nose towards -y (up on screen), half-length 1; mirrored for the right side.
void PlanePath(cairo_t *cr) {
    static const double kLeftHalf[][2] = {{0, -1},       {-0.13, -0.78}, {-0.13, -0.2}, {-1, 0.12},   {-1, 0.3},
                                          {-0.13, 0.14}, {-0.1, 0.68},   {-0.42, 0.86}, {-0.42, 1.0}, {0, 0.93}};
    const int n = static_cast<int>(sizeof kLeftHalf / sizeof kLeftHalf[0]);
    cairo_move_to(cr, kLeftHalf[0][0], kLeftHalf[0][1]);
    for (int i = 1; i < n; ++i) cairo_line_to(cr, kLeftHalf[i][0], kLeftHalf[i][1]);
    for (int i = n - 2; i >= 1; --i) cairo_line_to(cr, -kLeftHalf[i][0], kLeftHalf[i][1]);
    cairo_close_path(cr);
}

void DrawPlane(cairo_t *cr, double px, double py, double headingDeg, double size, const Rgba &colour) {
    cairo_save(cr);
    cairo_translate(cr, px, py);
    // Cairo turns positive angles clockwise on screen, as a heading turns from north to east.
    cairo_rotate(cr, headingDeg * kPi / 180.0);
    cairo_scale(cr, size, size);
    PlanePath(cr);
    cairo_restore(cr);
    SetColour(cr, colour);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

void DrawNorthArrow(cairo_t *cr) {
    const double x = 30, tip = 34, base = 62;
    SetColour(cr, style::kMapText);
    cairo_move_to(cr, x, tip);
    cairo_line_to(cr, x + 8, base);
    cairo_line_to(cr, x, base - 7);
    cairo_line_to(cr, x - 8, base);
    cairo_close_path(cr);
    cairo_fill(cr);
    ShowText(cr, x - CharacterAdvance(cr) / 2, tip - 6, "N");
}

void DrawScaleBar(cairo_t *cr, const Scene &scene, const MapView &view) {
    double metres = NiceDistanceAtMost(view.rangeMetres / 3);
    double length = metres * view.pixelsPerMetre;
    const double x = 20, y = scene.height - 24.5;
    SetColour(cr, style::kMapText);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, x, y - 5);
    cairo_line_to(cr, x, y);
    cairo_line_to(cr, x + length, y);
    cairo_line_to(cr, x + length, y - 5);
    cairo_stroke(cr);
    ShowText(cr, x, y - 8, DistanceLabel(metres));
    ShowText(cr, x, y + 16, "t " + TimeLabel(scene.time));
}

void DrawRangeRings(cairo_t *cr, const MapView &view) {
    cairo_set_line_width(cr, 1);
    for (double fraction : {0.5, 1.0}) {
        double radius = view.radiusPixels * fraction;
        SetColour(cr, style::kRangeRing);
        cairo_new_sub_path(cr);
        cairo_arc(cr, view.centreX, view.centreY, radius, 0, 2 * kPi);
        cairo_stroke(cr);
        SetColour(cr, style::kMapText);
        double offset = radius * std::sqrt(0.5);
        ShowText(cr, view.centreX + offset + 3, view.centreY - offset - 3, DistanceLabel(view.rangeMetres * fraction));
    }
}

}  // namespace

void DrawMap(cairo_t *cr, const Scene &scene) {
    SetColour(cr, style::kMapBackground);
    cairo_paint(cr);
    MapView view = ChooseMapView(scene);
    UseTextFont(cr, style::kFontSize);
    DrawRangeRings(cr, view);
    DrawNorthArrow(cr);
    DrawScaleBar(cr, scene, view);
    for (const TrafficMark &mark : scene.traffic) {
        double px, py;
        view.ToPixels(mark.x, mark.z, px, py);
        DrawPlane(cr, px, py, mark.heading, kTrafficSymbolSize, style::kTrafficAircraft);
        std::string label = std::to_string(mark.slot);
        if (!mark.callsign.empty()) label += " " + mark.callsign;
        std::string safe;
        for (const std::string &c : ToCharacters(label, 40)) safe += c;
        SetColour(cr, style::kTrafficLabel);
        ShowText(cr, px + kTrafficSymbolSize + 3, py + 4, safe);
    }
    DrawPlane(cr, view.centreX, view.centreY, scene.userHeading, kUserSymbolSize, style::kUserAircraft);
}

}  // namespace simhost
