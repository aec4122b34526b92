// Windows kept on the screen: after the screen's size changes, each window moves back whole inside it.
#include "core/SkorvaleSE.h"
#include "ui/ChatWindows.h"

namespace {

int lastWidth = 0, lastHeight = 0;

void KeepOnScreen(XPLMWindowID window, int width, int height) {
    if (!window) return;
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(window, &left, &top, &right, &bottom);
    // The smallest move that brings the window inside; one larger than the screen keeps its left and
    // top edges on it, where its first rows are and where it is dragged from.
    int dx = right > width ? width - right : 0;
    if (left + dx < 0) dx = -left;
    int dy = bottom < 0 ? -bottom : 0;
    if (top + dy > height) dy = height - top;
    if (dx != 0 || dy != 0) XPLMSetWindowGeometry(window, left + dx, top + dy, right + dx, bottom + dy);
}

}  // namespace

void KeepWindowsOnScreen() {
    int width = 0, height = 0;
    XPLMGetScreenSize(&width, &height);
    if (width <= 0 || height <= 0 || (width == lastWidth && height == lastHeight)) return;
    bool first = lastWidth == 0;
    lastWidth = width;
    lastHeight = height;
    // The windows were laid out for the size at start; only a later change moves them.
    if (first) return;
    KeepOnScreen(gWindow, width, height);
    KeepOnScreen(imReadWin, width, height);
}
