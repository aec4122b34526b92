// Pictures of the headless host's screen: the traffic map, the plug-in's windows and its widgets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simhost/render/Scene.h"
#include "simhost/render/Style.h"

namespace simhost {

// A rendered screen: premultiplied ARGB pixels, top row first (cairo's own layout).
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;

    // The colour at screen pixel (x, y) with the host's origin: bottom-left, y up. Alpha is 1
    // everywhere since the map is opaque. Outside the image: all zero.
    Rgba At(int x, int y) const;
};

// Draws the scene at its screen size, bottom to top: the map, what the plug-in drew outside and in
// its windows (in window order), then the shown widgets. False with a reason when the size is not
// usable or cairo fails.
bool RenderScene(const Scene &scene, Image &out, std::string &error);

// Renders and writes a PNG. False with a reason that names the path when it cannot be written.
bool WritePng(const Scene &scene, const std::string &path, std::string &error);

}  // namespace simhost
