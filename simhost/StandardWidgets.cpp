// The standard widget classes' own behaviour: buttons, text fields and main windows reacting to the user.
#include <algorithm>
#include <string>

#include "HostState.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

namespace simhost {

namespace {

intptr_t Property(XPWidgetID w, XPWidgetPropertyID p, intptr_t fallback = 0) {
    int exists = 0;
    intptr_t v = XPGetWidgetProperty(w, p, &exists);
    return exists ? v : fallback;
}

bool Inside(XPWidgetID id, const XPMouseState_t *m) {
    auto info = TheHost().Widget(id);
    return m && info && m->x >= info->left && m->x <= info->right && m->y <= info->top && m->y >= info->bottom;
}

void ChangeState(XPWidgetID button, intptr_t state) {
    XPSetWidgetProperty(button, xpProperty_ButtonState, state);
    XPSendMessageToWidget(button, xpMsg_ButtonStateChanged, xpMode_UpChain, reinterpret_cast<intptr_t>(button), state);
}

// The real library acts on the release, and only when the pointer is still on the button.
int Button(XPWidgetMessage message, XPWidgetID widget, intptr_t p1, intptr_t) {
    if (message == xpMsg_MouseDown) {
        XPSetWidgetProperty(widget, xpProperty_Hilited, 1);
        return 1;
    }
    if (message != xpMsg_MouseUp) return 0;
    XPSetWidgetProperty(widget, xpProperty_Hilited, 0);
    if (!Inside(widget, reinterpret_cast<const XPMouseState_t *>(p1))) return 1;
    switch (Property(widget, xpProperty_ButtonBehavior)) {
        case xpButtonBehaviorCheckBox:
            ChangeState(widget, Property(widget, xpProperty_ButtonState) ? 0 : 1);
            break;
        case xpButtonBehaviorRadioButton:
            // A radio button that is already on stays on and says nothing.
            if (!Property(widget, xpProperty_ButtonState)) ChangeState(widget, 1);
            break;
        default:
            XPSendMessageToWidget(widget, xpMsg_PushButtonPressed, xpMode_UpChain, reinterpret_cast<intptr_t>(widget),
                                  0);
            break;
    }
    return 1;
}

// Typing edits the descriptor. A selection (select-all before typing) is replaced by the next key.
int TextField(XPWidgetMessage message, XPWidgetID widget, intptr_t p1, intptr_t) {
    if (message == xpMsg_MouseDown) {
        // The caret goes to the end of the text: the host does not place it by pixel.
        intptr_t end = XPGetWidgetDescriptor(widget, nullptr, 0);
        XPSetWidgetProperty(widget, xpProperty_EditFieldSelStart, end);
        XPSetWidgetProperty(widget, xpProperty_EditFieldSelEnd, end);
        SetKeyboardFocus(State(), nullptr, widget);
        return 1;
    }
    if (message == xpMsg_MouseUp || message == xpMsg_MouseDrag) return 1;
    if (message != xpMsg_KeyPress || !p1) return 0;
    const XPKeyState_t *key = reinterpret_cast<const XPKeyState_t *>(p1);
    if (!(key->flags & xplm_DownFlag)) return 1;
    int length = XPGetWidgetDescriptor(widget, nullptr, 0);
    std::string text(static_cast<size_t>(length), '\0');
    if (length > 0) XPGetWidgetDescriptor(widget, &text[0], length);
    size_t selStart =
        static_cast<size_t>(std::clamp<intptr_t>(Property(widget, xpProperty_EditFieldSelStart, length), 0, length));
    size_t selEnd =
        static_cast<size_t>(std::clamp<intptr_t>(Property(widget, xpProperty_EditFieldSelEnd, length), 0, length));
    if (selEnd < selStart) std::swap(selStart, selEnd);
    unsigned char c = static_cast<unsigned char>(key->key);
    std::string edited = text;
    size_t caret = selStart;
    if (c == 8 || c == 127) {
        if (selStart < selEnd) {
            edited.erase(selStart, selEnd - selStart);
        } else if (selStart > 0) {
            edited.erase(selStart - 1, 1);
            caret = selStart - 1;
        }
    } else if (c >= 32 && c <= 126) {
        edited.erase(selStart, selEnd - selStart);
        intptr_t max = Property(widget, xpProperty_MaxCharacters);
        if (max > 0 && static_cast<intptr_t>(edited.size()) >= max) return 1;  // full: the key is dropped
        edited.insert(selStart, 1, static_cast<char>(c));
        caret = selStart + 1;
    } else {
        return 0;  // Return, Tab, Escape...: left to the widget's owner
    }
    XPSetWidgetProperty(widget, xpProperty_EditFieldSelStart, static_cast<intptr_t>(caret));
    XPSetWidgetProperty(widget, xpProperty_EditFieldSelEnd, static_cast<intptr_t>(caret));
    if (edited != text) {
        XPSetWidgetDescriptor(widget, edited.c_str());
        XPSendMessageToWidget(widget, xpMsg_TextFieldChanged, xpMode_UpChain, reinterpret_cast<intptr_t>(widget), 0);
    }
    return 1;
}

// A main window takes every click on it (a click never falls through a window to what lies behind).
int MainWindow(XPWidgetMessage message, XPWidgetID, intptr_t, intptr_t) {
    return message == xpMsg_MouseDown || message == xpMsg_MouseDrag || message == xpMsg_MouseUp ? 1 : 0;
}

}  // namespace

XPWidgetFunc_t ClassBehaviour(XPWidgetClass widgetClass) {
    switch (widgetClass) {
        case xpWidgetClass_Button:
            return Button;
        case xpWidgetClass_TextField:
            return TextField;
        case xpWidgetClass_MainWindow:
            return MainWindow;
        default:
            return nullptr;
    }
}

}  // namespace simhost
