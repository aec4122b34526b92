// What a user does to widgets: clicking, typing into fields, closing windows, and mouse and key delivery.
#include "HostState.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

namespace simhost {

namespace {

bool Fail(std::string *error, const std::string &why) {
    if (error) *error = why;
    return false;
}

std::string Quoted(const HostState &s, XPWidgetID id) {
    auto it = s.widgets.find(id);
    return "\"" + (it == s.widgets.end() ? std::string("?") : it->second.descriptor) + "\"";
}

bool Contains(const WidgetEntry &w, int x, int y) { return x >= w.left && x <= w.right && y <= w.top && y >= w.bottom; }

// The deepest shown widget under the point, children drawn later lying on top.
XPWidgetID HitTest(const HostState &s, XPWidgetID id, int x, int y) {
    const WidgetEntry &w = s.widgets.at(id);
    for (auto it = w.children.rbegin(); it != w.children.rend(); ++it) {
        const WidgetEntry &child = s.widgets.at(*it);
        if (child.visible && Contains(child, x, y)) return HitTest(s, *it, x, y);
    }
    return id;
}

void SendMouse(XPWidgetID id, XPWidgetMessage message, int x, int y) {
    XPMouseState_t mouse{x, y, 0, 0};
    XPSendMessageToWidget(id, message, xpMode_UpChain, reinterpret_cast<intptr_t>(&mouse), 0);
}

// Picks among widgets with this descriptor the first a user can see, so hidden twins do not shadow it.
XPWidgetID FindShown(const HostState &s, const std::string &descriptor, XPWidgetClass onlyClass, bool &hiddenMatch) {
    hiddenMatch = false;
    for (XPWidgetID id : s.widgetOrder) {
        const WidgetEntry &w = s.widgets.at(id);
        if (w.descriptor != descriptor || (onlyClass && w.widgetClass != onlyClass)) continue;
        if (IsShown(s, id)) return id;
        hiddenMatch = true;
    }
    return nullptr;
}

bool CheckShown(const HostState &s, XPWidgetID id, std::string *error) {
    if (!s.widgets.count(id)) return Fail(error, "no such widget");
    if (!IsShown(s, id)) return Fail(error, "widget " + Quoted(s, id) + " is hidden, so it cannot be used");
    return true;
}

}  // namespace

bool WidgetMouse(HostState &s, int x, int y, XPLMMouseStatus status) {
    if (status == xplm_MouseDown) {
        s.widgetCapture = nullptr;
        for (auto it = s.widgetOrder.rbegin(); it != s.widgetOrder.rend(); ++it) {
            const WidgetEntry &w = s.widgets.at(*it);
            if (w.parent || !w.visible || !Contains(w, x, y)) continue;
            XPWidgetID target = HitTest(s, *it, x, y);
            s.widgetCapture = target;
            SendMouse(target, xpMsg_MouseDown, x, y);
            return true;
        }
        return false;
    }
    XPWidgetID target = s.widgetCapture;
    if (!target || !s.widgets.count(target)) return false;
    if (status == xplm_MouseUp) s.widgetCapture = nullptr;
    SendMouse(target, status == xplm_MouseUp ? xpMsg_MouseUp : xpMsg_MouseDrag, x, y);
    return true;
}

void DeliverKeyToWidget(HostState &s, XPWidgetID widget, char key, XPLMKeyFlags flags, char vkey) {
    if (!s.widgets.count(widget)) return;
    XPKeyState_t state{key, flags, vkey};
    XPSendMessageToWidget(widget, xpMsg_KeyPress, xpMode_UpChain, reinterpret_cast<intptr_t>(&state), 0);
}

bool Host::ClickWidget(XPWidgetID id, std::string *error) {
    HostState &s = *state_;
    if (!CheckShown(s, id, error)) return false;
    const WidgetEntry &w = s.widgets.at(id);
    if (w.widgetClass != xpWidgetClass_Button && w.widgetClass != xpWidgetClass_TextField)
        return Fail(error, "widget " + Quoted(s, id) + " is not a button or a text field");
    int x = (w.left + w.right) / 2, y = (w.top + w.bottom) / 2;
    SendMouse(id, xpMsg_MouseDown, x, y);
    if (s.widgets.count(id)) SendMouse(id, xpMsg_MouseUp, x, y);
    return true;
}

bool Host::ClickWidget(const std::string &descriptor, std::string *error) {
    HostState &s = *state_;
    bool hidden = false;
    XPWidgetID id = FindShown(s, descriptor, xpWidgetClass_Button, hidden);
    if (!id && !hidden) id = FindShown(s, descriptor, xpWidgetClass_TextField, hidden);
    if (!id && hidden) return Fail(error, "widget \"" + descriptor + "\" is hidden, so it cannot be clicked");
    if (!id) return Fail(error, "no button or text field \"" + descriptor + "\"");
    return ClickWidget(id, error);
}

bool Host::ReplaceFieldText(XPWidgetID field, const std::string &text, std::string *error) {
    HostState &s = *state_;
    if (!CheckShown(s, field, error)) return false;
    if (s.widgets.at(field).widgetClass != xpWidgetClass_TextField)
        return Fail(error, "widget " + Quoted(s, field) + " is not a text field");
    if (!ClickWidget(field, error)) return false;
    if (s.focusWidget != field) return Fail(error, "text field " + Quoted(s, field) + " did not take the keyboard");
    // Select all, then type over it (an empty text deletes the selection).
    XPSetWidgetProperty(field, xpProperty_EditFieldSelStart, 0);
    XPSetWidgetProperty(field, xpProperty_EditFieldSelEnd, XPGetWidgetDescriptor(field, nullptr, 0));
    if (text.empty()) {
        PressKey(8, 8);
    } else {
        TypeText(text);
    }
    return true;
}

bool Host::PushCloseBox(XPWidgetID mainWindow, std::string *error) {
    HostState &s = *state_;
    if (!CheckShown(s, mainWindow, error)) return false;
    const WidgetEntry &w = s.widgets.at(mainWindow);
    if (w.widgetClass != xpWidgetClass_MainWindow)
        return Fail(error, "widget " + Quoted(s, mainWindow) + " is not a main window");
    auto boxes = w.properties.find(xpProperty_MainWindowHasCloseBoxes);
    if (boxes == w.properties.end() || boxes->second != 1)
        return Fail(error, "window " + Quoted(s, mainWindow) + " has no close box");
    XPSendMessageToWidget(mainWindow, xpMessage_CloseButtonPushed, xpMode_UpChain,
                          reinterpret_cast<intptr_t>(mainWindow), 0);
    return true;
}

bool Host::PushCloseBox(const std::string &title, std::string *error) {
    HostState &s = *state_;
    bool hidden = false;
    XPWidgetID id = FindShown(s, title, xpWidgetClass_MainWindow, hidden);
    if (!id && hidden) return Fail(error, "window \"" + title + "\" is hidden, so it cannot be closed");
    if (!id) return Fail(error, "no window \"" + title + "\"");
    return PushCloseBox(id, error);
}

}  // namespace simhost
