// The chat window's three animation timers: cursor blink, auto-show countdown and opacity fade.
#include "core/SkorvaleSE.h"
#include "ui/ChatWindows.h"

float SkorvaleProcessCursorCallback(float, float, int, void *) {
    if (imWriteFocus) flashCursor = 1 - flashCursor;
    return 0.5f;
}

float SkorvaleProcessChatWinCallback(float, float, int, void *) {
    if (newTextRcvd > 0) {
        newTextRcvd--;
        networkShowChatOverride = 1;
    } else {
        networkShowChatOverride = 0;
    }
    return 1.0f;
}

float SkorvaleChatWinOpacityCallback(float, float, int, void *) {
    // Whole steps in single precision: ten steps reach exactly 0.69f from 0, and ten back down end a
    // hair below zero, which counts as hidden. Reversing mid-fade continues from the current value.
    if ((showChatWindow == 1 || networkShowChatOverride == 1) && chatOpacity < 0.69f) {
        chatOpacity += 0.069f;
    } else if (networkShowChatOverride == 0 && showChatWindow == 0 && chatOpacity > 0) {
        chatOpacity -= 0.069f;
    }
    // A chat that closes, by Tab, by its countdown or otherwise, gives the keyboard back at once: its
    // entry line is no longer drawn, and keys typed for the simulator must reach the simulator.
    if (!ChatIsOpen() && imWriteFocus) ReleaseChatKeyboard();
    XPLMSetWindowIsVisible(imReadWin, chatOpacity > 0 ? 1 : 0);
    TakeChatKeyboardWhenShown();
    KeepWindowsOnScreen();
    return 0.01f;
}
