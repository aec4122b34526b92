// Renders a scene with cairo into pixels or a PNG file.
#include "simhost/render/Render.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "simhost/render/Layers.h"

namespace simhost {

namespace {

// The largest screen a picture is made of; the runner accepts no larger one either.
constexpr int kMaxSide = 16384;

struct SurfaceDeleter {
    void operator()(cairo_surface_t *s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Cairo and fontconfig keep font caches for the life of the process. Handing them back at exit, when
// no picture is alive any more, keeps leak checkers quiet about memory that is not lost.
void ReleaseFontCachesAtExit() {
    static const bool registered = std::atexit([] {
                                       cairo_debug_reset_static_data();
                                       FcFini();
                                   }) == 0;
    (void)registered;
}

Surface Paint(const Scene &scene, std::string &error) {
    ReleaseFontCachesAtExit();
    if (scene.width < 1 || scene.height < 1 || scene.width > kMaxSide || scene.height > kMaxSide) {
        error = "cannot render a " + std::to_string(scene.width) + " x " + std::to_string(scene.height) +
                " screen (each side must be 1 to " + std::to_string(kMaxSide) + " pixels)";
        return nullptr;
    }
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, scene.width, scene.height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        error = std::string("cannot make the picture: ") + cairo_status_to_string(cairo_surface_status(surface.get()));
        return nullptr;
    }
    cairo_t *cr = cairo_create(surface.get());
    if (scene.instanceTriangles.empty()) {
        DrawMap(cr, scene);
    } else {
        DrawOutside(cr, scene);
    }
    DrawPluginDrawing(cr, scene);
    DrawWidgets(cr, scene);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status != CAIRO_STATUS_SUCCESS) {
        error = std::string("drawing the picture failed: ") + cairo_status_to_string(status);
        return nullptr;
    }
    cairo_surface_flush(surface.get());
    return surface;
}

cairo_status_t WriteToFile(void *closure, const unsigned char *data, unsigned int length) {
    return std::fwrite(data, 1, length, static_cast<std::FILE *>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                     : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

Rgba Image::At(int x, int y) const {
    int row = height - 1 - y;
    if (x < 0 || x >= width || row < 0 || row >= height) return Rgba{0, 0, 0, 0};
    uint32_t p = pixels[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    double a = ((p >> 24) & 0xFF) / 255.0;
    // Premultiplied storage: divide the alpha back out.
    auto channel = [&](int shift) { return a > 0 ? ((p >> shift) & 0xFF) / 255.0 / a : 0.0; };
    return Rgba{channel(16), channel(8), channel(0), a};
}

bool RenderScene(const Scene &scene, Image &out, std::string &error) {
    Surface surface = Paint(scene, error);
    if (!surface) return false;
    out.width = scene.width;
    out.height = scene.height;
    out.pixels.assign(static_cast<size_t>(scene.width) * static_cast<size_t>(scene.height), 0);
    const unsigned char *data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int row = 0; row < scene.height; ++row)
        std::memcpy(&out.pixels[static_cast<size_t>(row) * static_cast<size_t>(scene.width)],
                    data + static_cast<size_t>(row) * static_cast<size_t>(stride),
                    static_cast<size_t>(scene.width) * 4);
    return true;
}

bool WritePng(const Scene &scene, const std::string &path, std::string &error) {
    Surface surface = Paint(scene, error);
    if (!surface) return false;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot write picture " + path + ": " + std::strerror(errno);
        return false;
    }
    cairo_status_t status = cairo_surface_write_to_png_stream(surface.get(), WriteToFile, file);
    int savedErrno = errno;
    bool closed = std::fclose(file) == 0;
    if (status != CAIRO_STATUS_SUCCESS || !closed) {
        error = "cannot write picture " + path + ": " +
                (status != CAIRO_STATUS_SUCCESS ? std::string(std::strerror(savedErrno)) : std::strerror(errno));
        std::remove(path.c_str());  // a cut PNG would look like a picture and be none
        return false;
    }
    return true;
}

}  // namespace simhost
