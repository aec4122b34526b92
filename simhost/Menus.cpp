// Menus: the plug-ins menu, submenus and items, choosing an item by its path, and the XPLMMenus functions.
#include <algorithm>

#include "HostState.h"
#include "XPLMMenus.h"

namespace simhost {

namespace {

XPLMMenuID PluginsMenu(HostState &s) {
    if (!s.pluginsMenu) {
        s.pluginsMenu = s.NewHandle();
        MenuEntry root;
        root.name = "Plugins";
        s.menus[s.pluginsMenu] = root;
        s.menuOrder.push_back(s.pluginsMenu);
    }
    return s.pluginsMenu;
}

std::string JoinPath(const std::vector<std::string> &path, size_t upTo) {
    std::string out;
    for (size_t i = 0; i <= upTo && i < path.size(); ++i) out += (i ? "/" : "") + path[i];
    return out;
}

}  // namespace

XPLMMenuID Host::PluginsMenu() const { return simhost::PluginsMenu(*state_); }

std::vector<MenuInfo> Host::Menus() const {
    std::vector<MenuInfo> out;
    for (XPLMMenuID id : state_->menuOrder) {
        const MenuEntry &m = state_->menus.at(id);
        MenuInfo info{id, m.name, m.parent, m.parentItem, {}};
        for (const MenuItemEntry &item : m.items) info.items.push_back({item.name, item.itemRef, item.submenu});
        out.push_back(info);
    }
    return out;
}

bool Host::ChooseMenuItem(const std::vector<std::string> &path, std::string *error) {
    HostState &s = *state_;
    auto fail = [error](const std::string &why) {
        if (error) *error = why;
        return false;
    };
    if (path.empty()) return fail("empty menu path");
    XPLMMenuID menu = simhost::PluginsMenu(s);
    for (size_t depth = 0; depth < path.size(); ++depth) {
        const MenuEntry &m = s.menus.at(menu);
        const MenuItemEntry *found = nullptr;
        for (const MenuItemEntry &item : m.items)
            if (item.name == path[depth]) found = &item;
        if (!found) return fail("no menu item \"" + JoinPath(path, depth) + "\"");
        bool last = depth + 1 == path.size();
        if (!last) {
            if (!found->submenu || !s.menus.count(found->submenu))
                return fail("menu item \"" + JoinPath(path, depth) + "\" has no submenu");
            menu = found->submenu;
            continue;
        }
        if (found->submenu) return fail("menu item \"" + JoinPath(path, depth) + "\" opens a submenu");
        // Copies: the handler may rebuild or destroy the menu it belongs to.
        XPLMMenuHandler_f handler = m.handler;
        void *menuRef = m.menuRef;
        void *itemRef = found->itemRef;
        // A disabled plug-in's menu stays in place, but choosing its items does nothing.
        if (handler && Active(s, m.owner)) {
            PluginScope scope(s, m.owner);
            handler(menuRef, itemRef);
        }
        return true;
    }
    return fail("empty menu path");
}

}  // namespace simhost

using simhost::HostState;
using simhost::State;

extern "C" {

XPLMMenuID XPLMFindPluginsMenu(void) { return simhost::PluginsMenu(State()); }

XPLMMenuID XPLMCreateMenu(const char *inName, XPLMMenuID inParentMenu, int inParentItem, XPLMMenuHandler_f inHandler,
                          void *inMenuRef) {
    HostState &s = State();
    simhost::MenuEntry m;
    m.owner = s.currentPlugin;
    m.name = inName ? inName : "";
    m.parent = inParentMenu;
    m.parentItem = inParentItem;
    m.handler = inHandler;
    m.menuRef = inMenuRef;
    if (inParentMenu) {
        // X-Plane only attaches a submenu to an existing item of an existing menu.
        auto parent = s.menus.find(inParentMenu);
        if (parent == s.menus.end() || inParentItem < 0 ||
            static_cast<size_t>(inParentItem) >= parent->second.items.size())
            return nullptr;
    }
    XPLMMenuID id = s.NewHandle();
    s.menus[id] = m;
    s.menuOrder.push_back(id);
    if (inParentMenu) s.menus[inParentMenu].items[static_cast<size_t>(inParentItem)].submenu = id;
    return id;
}

void XPLMDestroyMenu(XPLMMenuID inMenuID) {
    HostState &s = State();
    auto it = s.menus.find(inMenuID);
    if (it == s.menus.end() || inMenuID == s.pluginsMenu) return;
    for (const simhost::MenuItemEntry &item : it->second.items)
        if (item.submenu) XPLMDestroyMenu(item.submenu);
    it = s.menus.find(inMenuID);
    if (it == s.menus.end()) return;
    auto parent = s.menus.find(it->second.parent);
    if (parent != s.menus.end())
        for (simhost::MenuItemEntry &item : parent->second.items)
            if (item.submenu == inMenuID) item.submenu = nullptr;
    s.menus.erase(it);
    s.menuOrder.erase(std::remove(s.menuOrder.begin(), s.menuOrder.end(), inMenuID), s.menuOrder.end());
}

int XPLMAppendMenuItem(XPLMMenuID inMenu, const char *inItemName, void *inItemRef, int /*inForceEnglish*/) {
    HostState &s = State();
    auto it = s.menus.find(inMenu);
    if (it == s.menus.end()) return -1;
    it->second.items.push_back({inItemName ? inItemName : "", inItemRef, nullptr});
    return static_cast<int>(it->second.items.size()) - 1;
}

}  // extern "C"
