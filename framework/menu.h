// Menus: a tree of MenuItem objects under a MenuBar, shown as a Qt menu bar.
//
// A "&" in a text marks the mnemonic; the text "-" makes a separator; a shortcut
// "Cmd+X" is the platform's command key with X (Ctrl on Linux, the command key on
// macOS). The menu bar's own items are the menus. An AppleMenuItem is the About
// item (Qt's about role), a QuitMenuItem quits through Quit(0) by itself (Qt's
// quit role). Choosing any other item runs the window's handler of its name; with
// AutoEnable, an item that no handler serves is shown disabled.
//
// Changes made to an installed tree show on the window at the next turn of the
// event loop.
#pragma once

#include "framework/runtime.h"

#include <vector>

namespace fw {

class Window;

class MenuItem : public Object {
    FW_OBJECT(MenuItem)
public:
    MenuItem();
    ~MenuItem() override;

    // The default constructor: a fresh item in no menu.
    void Constructor();

    const String& Name() const { return name_; }
    const String& Text() const { return text_; }
    const String& KeyboardShortcut() const { return shortcut_; }
    // False while KeyboardShortcut was never assigned.
    bool KeyboardShortcutSet() const { return shortcutSet_; }
    bool AutoEnable() const { return autoEnable_; }
    bool Visible() const { return visible_; }
    void SetName(const String& v);
    void SetText(const String& v);
    void SetKeyboardShortcut(const String& v);
    void SetAutoEnable(bool v);
    void SetVisible(bool v);

    // Adds the item after the existing children.
    void Append(const Ref<MenuItem>& item);
    // The direct child of that name, or nil.
    Ref<MenuItem> Child(const String& name) const;
    // The item of that name anywhere below this one, menus and their items alike, or nil.
    Ref<MenuItem> Lookup(const String& name) const;
    Integer Count() const { return static_cast<Integer>(children_.size()); }
    Ref<MenuItem> Item(Integer index) const;

private:
    void Changed();

    String name_, text_, shortcut_;
    bool shortcutSet_ = false;
    bool autoEnable_ = true;
    bool visible_ = true;
    std::vector<Ref<MenuItem>> children_;
};

class MenuBar : public MenuItem {
    FW_OBJECT(MenuBar)
public:
    using MenuItem::Lookup;
};

class AppleMenuItem : public MenuItem {
    FW_OBJECT(AppleMenuItem)
public:
    using MenuItem::Lookup;
};

class QuitMenuItem : public MenuItem {
    FW_OBJECT(QuitMenuItem)
public:
    using MenuItem::Lookup;
};

namespace detail {
// Shows the menu bar on the window's Qt widget, with the window's handlers, in
// place of the one shown before; nil shows none.
void InstallMenuBar(Window& window, const Ref<MenuBar>& bar);
} // namespace detail

} // namespace fw
