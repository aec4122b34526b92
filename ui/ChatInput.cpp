// Keyboard and mouse input of the chat and plane-list windows: the entry line, chat sending, Tab and dragging.
#include <string>

#include "core/SkorvaleSE.h"
#include "net/Connection.h"
#include "net/Protocol.h"
#include "ui/ChatWindows.h"

namespace {

// Drag state, shared by both windows: the host delivers the drag events to the window that got the press.
int dX = 0, dY = 0;
int Weight = 0, Height = 0;
bool gDragging = false;

void SendChatLine() {
    std::string message;
    AddIntToString(&message, "", uniqueID);
    message += "|MESSAGE|";
    message += imWrite;
    message += "\n";

    // Sent or not, the line stays up for about ten seconds so the user sees what happened.
    newTextRcvd = 9;
    if (!tcpconnected) return;  // keep the typed text for a later try
    tcptx = "Tx";
    SendOnStream(message);
    imWrite.clear();
}

}  // namespace

bool ChatIsOpen() { return showChatWindow != 0 || networkShowChatOverride != 0; }

void ReleaseChatKeyboard() {
    // Only a keyboard the chat holds is given back: another window or a settings field keeps its own.
    if (imWriteFocus) XPLMTakeKeyboardFocus(nullptr);
    imWriteFocus = 0;
    flashCursor = 0;
}

void HandleKeyCallback(XPLMWindowID inWindowID, char inKey, XPLMKeyFlags inFlags, char, void *, int losingFocus) {
    if (inWindowID != imReadWin || losingFocus) {
        // The keyboard went elsewhere (a click on the simulator, another window): the cursor and the
        // bright frame go with it, so they show exactly while the chat holds the keyboard.
        imWriteFocus = 0;
        flashCursor = 0;
        return;
    }
    // A key for a chat whose entry line is not shown (fading out or hidden) would go out as a chat line
    // the user never meant to type: it is dropped and the keyboard handed back to the simulator.
    if (!ChatIsOpen()) {
        XPLMTakeKeyboardFocus(nullptr);
        imWriteFocus = 0;
        flashCursor = 0;
        return;
    }
    // Key releases change nothing.
    if ((inFlags & xplm_DownFlag) == 0) return;

    imWriteFocus = 1;
    flashCursor = 1;

    int key = (signed char)inKey;
    if (key == 8 || key == 127) {
        if (!imWrite.empty()) imWrite.pop_back();
    } else if (key == 9) {
        // Tab inside the entry line only hands the keyboard back; the window stays open.
        XPLMTakeKeyboardFocus(nullptr);
        flashCursor = 0;
        imWriteFocus = 0;
    } else if (key == 13) {
        SendChatLine();
    } else if (key >= 32 && key <= 126) {
        // The server closes a connection whose line runs far past its text limit; the entry line stops
        // at that limit rather than getting the user thrown off.
        if (imWrite.size() < kChatEntryLimit) imWrite += (char)key;
    }
}

int HandleMouseClickCallback(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void *) {
    int left = 0, top = 0, right = 0, bottom = 0;
    XPLMGetWindowGeometry(inWindowID, &left, &top, &right, &bottom);

    if (inMouse == xplm_MouseDown) {
        if (inWindowID == imReadWin) {
            imWriteFocus = 1;
            XPLMTakeKeyboardFocus(imReadWin);
        } else {
            imWriteFocus = 0;
            flashCursor = 0;
        }
        // Every press starts a drag; the size is remembered so the window never resizes while moving.
        dX = x - left;
        dY = y - top;
        Weight = right - left;
        Height = bottom - top;
        gDragging = true;
    } else if (inMouse == xplm_MouseDrag) {
        if (gDragging) {
            int newLeft = x - dX;
            int newTop = y - dY;
            XPLMSetWindowGeometry(inWindowID, newLeft, newTop, newLeft + Weight, newTop + Height);
        }
    } else if (inMouse == xplm_MouseUp) {
        gDragging = false;
    }
    return 1;
}

int MyKeySniffer(char inChar, XPLMKeyFlags inFlags, char, void *) {
    if (inChar != 9 || (inFlags & xplm_DownFlag) == 0) return 1;

    if (showChatWindow == 0) {
        showChatWindow = 1;
        XPLMTakeKeyboardFocus(imReadWin);
        imWriteFocus = 1;
        flashCursor = 1;
    } else {
        showChatWindow = 0;
    }
    return 0;
}
