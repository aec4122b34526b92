// Shared setup of the user-interface tests: a fresh host, a scratch working directory and the started plug-in.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <vector>

#include "core/SkorvaleSE.h"
#include "simhost/Host.h"
#include "tests/support/ScratchDir.h"

namespace uitest {

constexpr char kTab = 9;
constexpr char kReturn = 13;
constexpr char kBackspace = 8;
constexpr char kDelete = 127;
constexpr char kEscape = 27;

// Each test runs in its own process (CTest runs them one by one), so the plug-in's globals start fresh.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        host.Reset();
        ASSERT_TRUE(scratch.Ok());
    }

    void TearDown() override {
        if (started) {
            XPluginDisable();
            XPluginStop();
        }
    }

    // Starts and enables the plug-in, with `settings` as the settings file when it is not empty.
    void Start(const std::string &settings = "") {
        if (!settings.empty()) {
            ASSERT_TRUE(scratch.Write("Resources/plugins/svprefs.txt", settings));
        }
        char name[256], signature[256], description[256];
        XPluginStart(name, signature, description);
        XPluginEnable();
        started = true;
    }

    std::string SavedSettings() const { return scratch.Read("Resources/plugins/svprefs.txt"); }

    simhost::WindowInfo Geometry(XPLMWindowID window) const { return host.Window(window).value(); }

    std::vector<simhost::DrawnString> Strings(XPLMWindowID window) const { return host.LastFrame().StringsIn(window); }

    // The first GL block of `mode` drawn in `window` in the last frame, or an empty one.
    simhost::GlPrimitive Primitive(XPLMWindowID window, unsigned mode) const {
        for (const simhost::GlPrimitive &p : host.LastFrame().primitives) {
            if (p.window == window && p.mode == mode) return p;
        }
        return {};
    }

    // The chat box's fill alpha in the last frame; -1 when no box was drawn.
    float ChatAlpha() const {
        simhost::GlPrimitive quad = Primitive(imReadWin, GL_QUADS);
        return quad.vertices.empty() ? -1.0f : quad.vertices[0].rgba[3];
    }

    // Waits (bounded) until the server's bytes are readable on the plug-in's stream socket, so the next
    // packet-processing tick sees them.
    static bool WaitForStreamData(int timeoutMs = 2000) {
        pollfd p{tsockfd, POLLIN, 0};
        return tsockfd > 0 && poll(&p, 1, timeoutMs) == 1;
    }

    simhost::Host &host = simhost::TheHost();
    testsupport::ScratchDir scratch;
    bool started = false;
};

}  // namespace uitest
