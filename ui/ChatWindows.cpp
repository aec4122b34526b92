// Drawing of the chat and plane-list windows, and the translucent box behind the chat.
#include "ui/ChatWindows.h"

#include <GL/gl.h>

#include <string>

#include "core/SkorvaleSE.h"
#include "traffic/AircraftUtils.h"

namespace {

// XPLMDrawString takes a mutable colour and text in older SDKs, so both are passed as copies.
void DrawText(const float (&colour)[3], int x, int y, std::string text, int *wrapWidth) {
    float rgb[3] = {colour[0], colour[1], colour[2]};
    XPLMDrawString(rgb, x, y, text.data(), wrapWidth, xplmFont_Basic);
}

const float kWhite[3] = {1.0f, 1.0f, 1.0f};
const float kLightGreen[3] = {0.5f, 1.0f, 0.5f};
const float kYellow[3] = {1.0f, 1.0f, 0.3f};

void DrawPlaneList(int left, int top, int right, int bottom) {
    XPLMDrawTranslucentDarkBox(left, top, right, bottom);

    std::string indicators = recvstring + " " + tcptx + tcprx + udptx + udprx;
    if (overridden) indicators += " o";
    DrawText(kWhite, left + 5, top - 20, indicators, nullptr);

    // Slot 0 is the user's own aircraft and is not listed.
    for (int i = 1; i < kSlotCount; i++) {
        AircraftList[i].GetAircraftData();
        std::string row = std::to_string(i) + ": " + Callsigns[i] + " " + Planes[i];
        DrawText(kWhite, left + 5, top - 48 - 14 * (i - 1), row, nullptr);
    }
}

void DrawChat(int left, int top, int right, int bottom) {
    SVDrawTranslucentBox(left, top, right, bottom, imWriteFocus, chatOpacity);

    // While fading out only the box is drawn.
    if (networkShowChatOverride || showChatWindow) {
        int wrapWidth = right - left;
        for (int k = 0; k < 14; k++) DrawText(kLightGreen, left + 5, bottom + 300 - 20 * k, imRead[k], &wrapWidth);

        std::string entry = imWrite;
        if (imWriteFocus) entry += flashCursor ? "|" : " ";
        DrawText(kYellow, left + 5, bottom + 20, entry, &wrapWidth);
    }

    // Opened by arriving text only: show the seconds left before it fades out.
    if (showChatWindow == 0 && networkShowChatOverride) {
        DrawText(kYellow, right - 15, bottom + 14, std::to_string(newTextRcvd + 1), nullptr);
    }
}

}  // namespace

void DrawWindowCallback(XPLMWindowID inWindowID, void *) {
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(inWindowID, &left, &top, &right, &bottom);

    if (inWindowID == gWindow && showPlaneWindow == 1) DrawPlaneList(left, top, right, bottom);
    if (inWindowID == imReadWin && chatOpacity > 0) DrawChat(left, top, right, bottom);
}

void SVDrawTranslucentBox(int left, int top, int right, int bottom, int focused, float alpha) {
    XPLMSetGraphicsState(0, 0, 1, 0, 1, 0, 0);

    float l = (float)left, t = (float)top, r = (float)right, b = (float)bottom;
    glColor4f(0.1f, 0.1f, 0.1f, alpha);
    glBegin(GL_QUADS);
    glVertex2f(r, b);
    glVertex2f(l, b);
    glVertex2f(l, t);
    glVertex2f(r, t);
    glEnd();

    // A focused entry line gets a bright border that stays visible even while the box is faint.
    if (focused) {
        glColor4f(1.0f, 1.0f, 1.0f, (float)(alpha * 0.5 + 0.5));
    } else {
        glColor4f(0.0f, 0.0f, 0.0f, alpha);
    }
    glBegin(GL_LINES);
    glVertex2f(r, b);
    glVertex2f(l, b);
    glVertex2f(l, b);
    glVertex2f(l, t);
    glVertex2f(l, t);
    glVertex2f(r, t);
    glVertex2f(r, t);
    glVertex2f(r, b);
    glEnd();
}
