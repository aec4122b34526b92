// The picture's layers, drawn one over the other by the renderer; shared only inside simhost/render.
#pragma once

#include <cairo.h>

#include "simhost/render/Scene.h"
#include "simhost/render/Style.h"

namespace simhost {

// Cairo's origin is top-left with y down; the host's is bottom-left with y up.
inline double FlipY(const Scene &scene, double y) { return scene.height - y; }

inline void SetColour(cairo_t *cr, const Rgba &c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

void DrawMap(cairo_t *cr, const Scene &scene);
void DrawOutside(cairo_t *cr, const Scene &scene);  // the view out of the window, with instanced aircraft
void DrawPluginDrawing(cairo_t *cr, const Scene &scene);
void DrawWidgets(cairo_t *cr, const Scene &scene);

// Text as XPLMDrawString places it: baseline's left end at host (x, y), wrapped to `wrapWidth`
// pixels when positive; wrapped lines go downward. Stops below the bottom of the screen.
void DrawHostString(cairo_t *cr, const Scene &scene, double x, double y, const std::string &text, int wrapWidth);

}  // namespace simhost
