// The draw record, the XPLMGraphics functions and the few OpenGL immediate-mode calls plug-ins make.
#ifdef _WIN32
// The host defines these calls itself (its opengl32.dll forwards to them), so they are no imports here.
#define WINGDIAPI
#define APIENTRY
#endif
#include <GL/gl.h>

#include "Geo.h"
#include "HostState.h"
#include "XPLMGraphics.h"

namespace simhost {

std::vector<DrawnString> FrameRecord::StringsIn(XPLMWindowID window) const {
    std::vector<DrawnString> out;
    for (const DrawnString &s : strings)
        if (s.window == window) out.push_back(s);
    return out;
}

std::vector<std::string> FrameRecord::TextsIn(XPLMWindowID window) const {
    std::vector<std::string> out;
    for (const DrawnString &s : strings)
        if (s.window == window) out.push_back(s.text);
    return out;
}

bool FrameRecord::HasText(const std::string &text) const {
    for (const DrawnString &s : strings)
        if (s.text == text) return true;
    return false;
}

void BeginFrameRecord(HostState &s) {
    s.current = FrameRecord{};
    s.current.frame = s.frameCount;
    s.current.time = s.now;
}

void EndFrameRecord(HostState &s) {
    s.last = std::move(s.current);
    s.current = FrameRecord{};
}

}  // namespace simhost

using simhost::HostState;
using simhost::State;

extern "C" {

void XPLMSetGraphicsState(int inEnableFog, int inNumberTexUnits, int inEnableLighting, int inEnableAlphaTesting,
                          int inEnableAlphaBlending, int inEnableDepthTesting, int inEnableDepthWriting) {
    HostState &s = State();
    // The cockpit phases (35 and up) and windows are 2-D: X-Plane asks for no fog and no lighting there,
    // and with lighting on the colours given by glColor are ignored.
    bool twoD = s.drawingWindow != nullptr || s.drawingPhase >= xplm_Phase_FirstCockpit;
    if (twoD && (inEnableFog || inEnableLighting)) ++s.fogOrLightingIn2D;
    s.current.graphicsStates.push_back({s.drawingWindow, inEnableFog, inNumberTexUnits, inEnableLighting,
                                        inEnableAlphaTesting, inEnableAlphaBlending, inEnableDepthTesting,
                                        inEnableDepthWriting});
}

void XPLMDrawTranslucentDarkBox(int inLeft, int inTop, int inRight, int inBottom) {
    HostState &s = State();
    s.current.boxes.push_back({s.drawingWindow, inLeft, inTop, inRight, inBottom});
}

void XPLMDrawString(float *inColorRGB, int inXOffset, int inYOffset, char *inChar, int *inWordWrapWidth,
                    XPLMFontID inFontID) {
    HostState &s = State();
    simhost::DrawnString d;
    d.window = s.drawingWindow;
    if (inColorRGB) {
        for (int i = 0; i < 3; ++i) d.rgb[i] = inColorRGB[i];
    }
    d.x = inXOffset;
    d.y = inYOffset;
    d.text = inChar ? inChar : "";
    if (inWordWrapWidth) d.wrapWidth = *inWordWrapWidth;
    d.font = inFontID;
    s.current.strings.push_back(std::move(d));
}

void XPLMGetFontDimensions(XPLMFontID, int *outCharWidth, int *outCharHeight, int *outDigitsOnly) {
    // The one font is monospaced. The picture draws it in DejaVu Sans Mono 12 (7.2 pixels a character,
    // 14 between lines); the cell given is rounded up, so text laid out by it fits what is drawn.
    if (outCharWidth) *outCharWidth = 8;
    if (outCharHeight) *outCharHeight = 14;
    if (outDigitsOnly) *outDigitsOnly = 0;
}

void XPLMWorldToLocal(double inLatitude, double inLongitude, double inAltitude, double *outX, double *outY,
                      double *outZ) {
    HostState &s = State();
    double x, y, z;
    simhost::WorldToLocalAbout(s.latRef, s.lonRef, inLatitude, inLongitude, inAltitude, x, y, z);
    if (outX) *outX = x;
    if (outY) *outY = y;
    if (outZ) *outZ = z;
}

void XPLMLocalToWorld(double inX, double inY, double inZ, double *outLatitude, double *outLongitude,
                      double *outAltitude) {
    HostState &s = State();
    double lat, lon, alt;
    simhost::LocalToWorldAbout(s.latRef, s.lonRef, inX, inY, inZ, lat, lon, alt);
    if (outLatitude) *outLatitude = lat;
    if (outLongitude) *outLongitude = lon;
    if (outAltitude) *outAltitude = alt;
}

// OpenGL: recorded, never rendered. A vertex takes the colour current when it is given, as in GL.
void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha) {
    float *c = State().glColour;
    c[0] = red;
    c[1] = green;
    c[2] = blue;
    c[3] = alpha;
}

void glBegin(GLenum mode) {
    HostState &s = State();
    simhost::GlPrimitive p;
    p.window = s.drawingWindow;
    p.mode = mode;
    s.current.primitives.push_back(std::move(p));
    s.inGlBlock = true;
}

void glVertex2f(GLfloat x, GLfloat y) {
    HostState &s = State();
    if (!s.inGlBlock || s.current.primitives.empty()) return;  // GL ignores vertices outside a block
    simhost::GlVertex v;
    v.x = x;
    v.y = y;
    for (int i = 0; i < 4; ++i) v.rgba[i] = s.glColour[i];
    s.current.primitives.back().vertices.push_back(v);
}

void glEnd(void) { State().inGlBlock = false; }

}  // extern "C"
