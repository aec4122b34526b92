// The widget library: the widget tree, properties, descriptors, visibility, message dispatch and queries.
#include <algorithm>
#include <cstring>

#include "HostState.h"
#include "XPStandardWidgets.h"
#include "XPWidgets.h"

namespace simhost {

namespace {

WidgetEntry *Find(HostState &s, XPWidgetID id) {
    auto it = s.widgets.find(id);
    return it == s.widgets.end() ? nullptr : &it->second;
}

// Offers a message to one widget's callbacks, newest first. `all` keeps going after a callback handled
// it; `onlyFirst` stops after the newest whatever it answered.
bool SendToWidget(HostState &s, XPWidgetID id, XPWidgetMessage message, intptr_t p1, intptr_t p2, bool all,
                  bool onlyFirst) {
    WidgetEntry *w = Find(s, id);
    if (!w) return false;
    // A copy: a callback may add callbacks or destroy the widget.
    const std::vector<XPWidgetFunc_t> callbacks = w->callbacks;
    const XPWidgetFunc_t behaviour = ClassBehaviour(w->widgetClass);
    const int owner = w->owner;
    // A disabled plug-in's widgets keep their standard behaviour; its own callbacks are not called.
    const bool active = Active(s, owner);
    PluginScope scope(s, owner);
    bool handled = false;
    for (XPWidgetFunc_t callback : callbacks) {
        if (!s.widgets.count(id)) break;
        if (!active && callback != behaviour) continue;
        if (callback && callback(message, id, p1, p2)) {
            handled = true;
            if (!all) break;
        }
        if (onlyFirst) break;
    }
    return handled;
}

bool Dispatch(HostState &s, XPWidgetID id, XPWidgetMessage message, XPDispatchMode mode, intptr_t p1, intptr_t p2) {
    switch (mode) {
        case xpMode_Direct:
            return SendToWidget(s, id, message, p1, p2, false, false);
        case xpMode_DirectAllCallbacks:
            return SendToWidget(s, id, message, p1, p2, true, false);
        case xpMode_Once:
            return SendToWidget(s, id, message, p1, p2, false, true);
        case xpMode_UpChain:
            for (XPWidgetID cur = id; cur;) {
                if (SendToWidget(s, cur, message, p1, p2, false, false)) return true;
                WidgetEntry *w = Find(s, cur);
                cur = w ? w->parent : nullptr;
            }
            return false;
        case xpMode_Recursive: {
            bool handled = SendToWidget(s, id, message, p1, p2, false, false);
            WidgetEntry *w = Find(s, id);
            if (!w) return handled;
            const std::vector<XPWidgetID> children = w->children;
            for (XPWidgetID child : children) handled = Dispatch(s, child, message, mode, p1, p2) || handled;
            return handled;
        }
        default:
            return false;
    }
}

void Detach(HostState &s, XPWidgetID id) {
    WidgetEntry *w = Find(s, id);
    if (!w || !w->parent) return;
    if (WidgetEntry *parent = Find(s, w->parent))
        parent->children.erase(std::remove(parent->children.begin(), parent->children.end(), id),
                               parent->children.end());
    w->parent = nullptr;
}

void Destroy(HostState &s, XPWidgetID id, bool withChildren, bool byParent) {
    if (!Find(s, id)) return;
    Dispatch(s, id, xpMsg_Destroy, xpMode_Direct, byParent ? 1 : 0, 0);
    WidgetEntry *w = Find(s, id);
    if (!w) return;
    const std::vector<XPWidgetID> children = w->children;
    for (XPWidgetID child : children) {
        if (withChildren) {
            Destroy(s, child, true, true);
        } else if (WidgetEntry *c = Find(s, child)) {
            c->parent = nullptr;  // orphaned, as X-Plane leaves them
        }
    }
    Detach(s, id);
    s.widgets.erase(id);
    s.widgetOrder.erase(std::remove(s.widgetOrder.begin(), s.widgetOrder.end(), id), s.widgetOrder.end());
    if (s.focusWidget == id) s.focusWidget = nullptr;
    if (s.widgetCapture == id) s.widgetCapture = nullptr;
}

// A hidden field cannot keep the keyboard: the user no longer sees where the keys go.
void DropFocusIfHidden(HostState &s) {
    if (s.focusWidget && !IsShown(s, s.focusWidget)) SetKeyboardFocus(s, nullptr, nullptr);
}

}  // namespace

bool IsShown(const HostState &s, XPWidgetID id) {
    for (int depth = 0; id && depth < 10000; ++depth) {
        auto it = s.widgets.find(id);
        if (it == s.widgets.end() || !it->second.visible) return false;
        id = it->second.parent;
    }
    return true;
}

void PaintWidgets(HostState &s) {
    // A copy: a paint handler may create, hide or destroy widgets.
    const std::vector<XPWidgetID> order = s.widgetOrder;
    for (XPWidgetID id : order) {
        if (s.widgets.count(id) && IsShown(s, id)) Dispatch(s, id, xpMsg_Paint, xpMode_Direct, 0, 0);
    }
}

// ---- Queries -----------------------------------------------------------------------------------------

std::vector<XPWidgetID> Host::Widgets() const { return state_->widgetOrder; }

std::optional<WidgetInfo> Host::Widget(XPWidgetID id) const {
    const WidgetEntry *w = Find(*state_, id);
    if (!w) return std::nullopt;
    WidgetInfo info;
    info.id = id;
    info.widgetClass = w->widgetClass;
    info.descriptor = w->descriptor;
    info.left = w->left;
    info.top = w->top;
    info.right = w->right;
    info.bottom = w->bottom;
    info.visible = w->visible;
    info.shown = IsShown(*state_, id);
    info.isRoot = w->isRoot;
    info.parent = w->parent;
    info.children = w->children;
    return info;
}

XPWidgetID Host::FindWidget(const std::string &descriptor) const {
    for (XPWidgetID id : state_->widgetOrder)
        if (state_->widgets.at(id).descriptor == descriptor) return id;
    return nullptr;
}

std::vector<XPWidgetID> Host::FindWidgetsByClass(XPWidgetClass widgetClass) const {
    std::vector<XPWidgetID> out;
    for (XPWidgetID id : state_->widgetOrder)
        if (state_->widgets.at(id).widgetClass == widgetClass) out.push_back(id);
    return out;
}

std::vector<XPWidgetID> Host::Children(XPWidgetID id) const {
    const WidgetEntry *w = Find(*state_, id);
    return w ? w->children : std::vector<XPWidgetID>{};
}

intptr_t Host::WidgetProperty(XPWidgetID id, XPWidgetPropertyID property, bool *exists) const {
    const WidgetEntry *w = Find(*state_, id);
    auto it = w ? w->properties.find(property) : std::map<XPWidgetPropertyID, intptr_t>::const_iterator{};
    bool found = w && it != w->properties.end();
    if (exists) *exists = found;
    return found ? it->second : 0;
}

bool Host::IsWidgetShown(XPWidgetID id) const { return IsShown(*state_, id); }

XPWidgetID Host::FieldBesideCaption(const std::string &caption) const {
    const HostState &s = *state_;
    // Shown captions first: a form may keep hidden copies of its rows.
    for (int pass = 0; pass < 2; ++pass) {
        for (XPWidgetID c : s.widgetOrder) {
            const WidgetEntry &cap = s.widgets.at(c);
            if (cap.widgetClass != xpWidgetClass_Caption) continue;
            // Forms end captions with a colon; a script may leave it out.
            if (cap.descriptor != caption && cap.descriptor != caption + ":") continue;
            if (pass == 0 && !IsShown(s, c)) continue;
            XPWidgetID best = nullptr;
            int bestGap = 0;
            for (XPWidgetID f : s.widgetOrder) {
                const WidgetEntry &field = s.widgets.at(f);
                if (field.widgetClass != xpWidgetClass_TextField || field.left < cap.left) continue;
                if (field.bottom > cap.top || field.top < cap.bottom) continue;  // not on the row
                int gap = field.left - cap.left;
                if (!best || gap < bestGap) {
                    best = f;
                    bestGap = gap;
                }
            }
            if (best) return best;
        }
    }
    return nullptr;
}

}  // namespace simhost

using simhost::HostState;
using simhost::State;
using simhost::WidgetEntry;

extern "C" {

XPWidgetID XPCreateWidget(int inLeft, int inTop, int inRight, int inBottom, int inVisible, const char *inDescriptor,
                          int inIsRoot, XPWidgetID inContainer, XPWidgetClass inClass) {
    HostState &s = State();
    XPWidgetID id = s.NewHandle();
    WidgetEntry w;
    w.owner = s.currentPlugin;
    w.widgetClass = inClass;
    w.descriptor = inDescriptor ? inDescriptor : "";
    w.left = inLeft;
    w.top = inTop;
    w.right = inRight;
    w.bottom = inBottom;
    w.visible = inVisible != 0;
    w.isRoot = inIsRoot != 0;
    if (XPWidgetFunc_t behaviour = simhost::ClassBehaviour(inClass)) w.callbacks.push_back(behaviour);
    if (inContainer && s.widgets.count(inContainer)) {
        w.parent = inContainer;
        s.widgets[inContainer].children.push_back(id);
    }
    s.widgets[id] = w;
    s.widgetOrder.push_back(id);
    simhost::Dispatch(s, id, xpMsg_Create, xpMode_Direct, 0, 0);
    return id;
}

void XPDestroyWidget(XPWidgetID inWidget, int inDestroyChildren) {
    simhost::Destroy(State(), inWidget, inDestroyChildren != 0, false);
}

int XPSendMessageToWidget(XPWidgetID inWidget, XPWidgetMessage inMessage, XPDispatchMode inMode, intptr_t inParam1,
                          intptr_t inParam2) {
    return simhost::Dispatch(State(), inWidget, inMessage, inMode, inParam1, inParam2) ? 1 : 0;
}

void XPAddWidgetCallback(XPWidgetID inWidget, XPWidgetFunc_t inNewCallback) {
    WidgetEntry *w = simhost::Find(State(), inWidget);
    if (w && inNewCallback) w->callbacks.insert(w->callbacks.begin(), inNewCallback);
}

void XPSetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, intptr_t inValue) {
    HostState &s = State();
    WidgetEntry *w = simhost::Find(s, inWidget);
    if (!w) return;
    w->properties[inProperty] = inValue;
    simhost::Dispatch(s, inWidget, xpMsg_PropertyChanged, xpMode_Direct, inProperty, inValue);
}

intptr_t XPGetWidgetProperty(XPWidgetID inWidget, XPWidgetPropertyID inProperty, int *inExists) {
    bool exists = false;
    intptr_t value = simhost::TheHost().WidgetProperty(inWidget, inProperty, &exists);
    if (inExists) *inExists = exists ? 1 : 0;
    return value;
}

void XPSetWidgetDescriptor(XPWidgetID inWidget, const char *inDescriptor) {
    HostState &s = State();
    WidgetEntry *w = simhost::Find(s, inWidget);
    if (!w) return;
    w->descriptor = inDescriptor ? inDescriptor : "";
    simhost::Dispatch(s, inWidget, xpMsg_DescriptorChanged, xpMode_Direct, 0, 0);
}

int XPGetWidgetDescriptor(XPWidgetID inWidget, char *outDescriptor, int inMaxDescLength) {
    WidgetEntry *w = simhost::Find(State(), inWidget);
    if (!w) return 0;
    const std::string &d = w->descriptor;
    if (outDescriptor && inMaxDescLength > 0) {
        // strncpy's contract: pad with NULs when short, no terminator when cut.
        size_t n = std::min(d.size(), static_cast<size_t>(inMaxDescLength));
        std::memcpy(outDescriptor, d.data(), n);
        if (n < static_cast<size_t>(inMaxDescLength))
            std::memset(outDescriptor + n, 0, static_cast<size_t>(inMaxDescLength) - n);
    }
    return static_cast<int>(d.size());
}

void XPShowWidget(XPWidgetID inWidget) {
    HostState &s = State();
    WidgetEntry *w = simhost::Find(s, inWidget);
    if (!w || w->visible) return;
    w->visible = true;
    simhost::Dispatch(s, inWidget, xpMsg_Shown, xpMode_UpChain, reinterpret_cast<intptr_t>(inWidget), 0);
}

void XPHideWidget(XPWidgetID inWidget) {
    HostState &s = State();
    WidgetEntry *w = simhost::Find(s, inWidget);
    if (!w || !w->visible) return;
    w->visible = false;
    simhost::Dispatch(s, inWidget, xpMsg_Hidden, xpMode_UpChain, reinterpret_cast<intptr_t>(inWidget), 0);
    simhost::DropFocusIfHidden(s);
}

int XPIsWidgetVisible(XPWidgetID inWidget) {
    WidgetEntry *w = simhost::Find(State(), inWidget);
    return w && w->visible ? 1 : 0;
}

}  // extern "C"
