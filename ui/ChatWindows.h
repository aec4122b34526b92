// The chat and plane-list windows: drawing, keyboard, mouse, the Tab sniffer and the three animation timers.
#pragma once

#include <cstddef>

#include "core/HostInterface.h"

// The most bytes the chat entry line takes: the server's limit for a chat text.
constexpr size_t kChatEntryLimit = 1024;

void DrawWindowCallback(XPLMWindowID inWindowID, void *inRefcon);
void HandleKeyCallback(XPLMWindowID inWindowID, char inKey, XPLMKeyFlags inFlags, char inVirtualKey, void *inRefcon,
                       int losingFocus);
int HandleMouseClickCallback(XPLMWindowID inWindowID, int x, int y, XPLMMouseStatus inMouse, void *inRefcon);
int MyKeySniffer(char inChar, XPLMKeyFlags inFlags, char inVirtualKey, void *inRefcon);
float SkorvaleProcessCursorCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop, int inCounter,
                                    void *inRefcon);
float SkorvaleProcessChatWinCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                     int inCounter, void *inRefcon);
float SkorvaleChatWinOpacityCallback(float inElapsedSinceLastCall, float inElapsedTimeSinceLastFlightLoop,
                                     int inCounter, void *inRefcon);
void SVDrawTranslucentBox(int left, int top, int right, int bottom, int focused, float alpha);

// Opens the chat (its window takes the keyboard once shown) or closes it: plain Tab and the command.
void ToggleChat();
// The keyboard for a chat just opened, once its window is visible; run after each visibility change.
void TakeChatKeyboardWhenShown();
// The handler of the command "skorvale/toggle_chat", which pilots bind to a key or button of their own.
int ToggleChatCommand(XPLMCommandRef inCommand, XPLMCommandPhase inPhase, void *inRefcon);
// Keeps both windows whole on the screen after its size changes (a resized or moved main window).
void KeepWindowsOnScreen();

// Whether the chat shows its text and entry line: opened by Tab or by arriving text, not fading out.
bool ChatIsOpen();
// Gives the keyboard back to the simulator if the chat holds it, and clears the cursor and frame.
void ReleaseChatKeyboard();
