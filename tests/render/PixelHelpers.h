// Pixel helpers for the picture tests: colour comparison, and the pixels two renders disagree on.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "simhost/render/Render.h"

namespace rendertest {

struct Point {
    int x = 0, y = 0;  // host coordinates: origin bottom-left, y up
};

inline bool Near(const simhost::Rgba &a, const simhost::Rgba &b, double tolerance = 1.5 / 255) {
    return std::fabs(a.r - b.r) <= tolerance && std::fabs(a.g - b.g) <= tolerance && std::fabs(a.b - b.b) <= tolerance;
}

// `top` painted over `under` with `top`'s alpha, as GL blending does.
inline simhost::Rgba Over(const simhost::Rgba &top, const simhost::Rgba &under) {
    return simhost::Rgba{top.r * top.a + under.r * (1 - top.a), top.g * top.a + under.g * (1 - top.a),
                         top.b * top.a + under.b * (1 - top.a), 1};
}

inline std::string Show(const simhost::Rgba &c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

inline simhost::Image Render(const simhost::Scene &scene) {
    simhost::Image image;
    std::string error;
    EXPECT_TRUE(simhost::RenderScene(scene, image, error)) << error;
    return image;
}

// Every pixel where the two pictures differ.
inline std::vector<Point> Differences(const simhost::Image &a, const simhost::Image &b) {
    std::vector<Point> out;
    if (a.width != b.width || a.height != b.height) return out;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (a.pixels[static_cast<size_t>(a.height - 1 - y) * a.width + x] !=
                b.pixels[static_cast<size_t>(b.height - 1 - y) * b.width + x])
                out.push_back(Point{x, y});
    return out;
}

// Pixels close to one colour, e.g. a symbol's fill.
inline std::vector<Point> PixelsOf(const simhost::Image &image, const simhost::Rgba &colour, double tolerance) {
    std::vector<Point> out;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (Near(image.At(x, y), colour, tolerance)) out.push_back(Point{x, y});
    return out;
}

struct Bounds {
    int left = 1 << 30, bottom = 1 << 30, right = -(1 << 30), top = -(1 << 30);
    bool Empty() const { return right < left; }
};

inline Bounds BoundsOf(const std::vector<Point> &points) {
    Bounds b;
    for (const Point &p : points) {
        b.left = std::min(b.left, p.x);
        b.right = std::max(b.right, p.x);
        b.bottom = std::min(b.bottom, p.y);
        b.top = std::max(b.top, p.y);
    }
    return b;
}

inline void Centroid(const std::vector<Point> &points, double &x, double &y) {
    x = y = 0;
    for (const Point &p : points) {
        x += p.x;
        y += p.y;
    }
    if (!points.empty()) {
        x /= static_cast<double>(points.size());
        y /= static_cast<double>(points.size());
    }
}

}  // namespace rendertest
