#include "framework/menu.h"

#include "framework/window.h"

namespace fw {

const ClassInfo& MenuItem::Lookup()
{
    static const ClassInfo& info = RegisterClass(
        ClassBuilder("MenuItem", &Object::Lookup())
            .Factory<MenuItem>()
            .Op("Append", {"MenuItem"})
            .Op("Child", {"String"}, "MenuItem")
            .Op("Clone", {}, "MenuItem")
            .Op("Close")
            .Op("Constructor")
            .Op("Constructor", {"MenuItem"})
            .Op("Constructor", {"String", "Variant"})
            .Op("Count", {}, "Integer")
            .Op("Enable")
            .Op("Handle", {"MenuItem.HandleType"}, "Integer")
            .Op("Insert", {"Integer", "MenuItem"})
            .Op("Item", {"Integer"}, "MenuItem")
            .Op("MenuItem")
            .Op("MenuItem", {"String", "Variant"})
            .Op("PopUp", {}, "MenuItem")
            .Op("PopUp", {"Integer", "Integer"}, "MenuItem")
            .Op("Remove", {"Integer"})
            .Op("Remove", {"MenuItem"})
            .Op("Remove", {"String"})
            .Op("_DependencyList")
            .Op("_DisableEntirely")
            .Op("_Lookup", {"String"}, "MenuItem")
            .Op("_Lookup", {"String", "Integer"}, "MenuItem")
            .Op("_SelfEnable")
            .Op("_Swap", {"String", "MenuItem"})
            .Event("Action")
            .Property("Name", &MenuItem::SetName)
            .Property("Text", &MenuItem::SetText)
            .Property("KeyboardShortcut", &MenuItem::SetKeyboardShortcut)
            .Property("AutoEnable", &MenuItem::SetAutoEnable)
            .Property("Visible", &MenuItem::SetVisible)
            .Build());
    return info;
}

const ClassInfo& MenuBar::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("MenuBar", &MenuItem::Lookup())
                                                     .Factory<MenuBar>()
                                                     .Override("_DependencyList")
                                                     .Op("_InstallClone", {"MenuItem"})
                                                     .Build());
    return info;
}

const ClassInfo& AppleMenuItem::Lookup()
{
    static const ClassInfo& info =
        RegisterClass(ClassBuilder("AppleMenuItem", &MenuItem::Lookup()).Factory<AppleMenuItem>().Build());
    return info;
}

const ClassInfo& QuitMenuItem::Lookup()
{
    static const ClassInfo& info =
        RegisterClass(ClassBuilder("QuitMenuItem", &MenuItem::Lookup()).Factory<QuitMenuItem>().Build());
    return info;
}

MenuItem::MenuItem() = default;
MenuItem::~MenuItem() = default;

void MenuItem::Constructor()
{
    CheckMainThread("MenuItem.Constructor");
}

void MenuItem::SetName(const String& v)
{
    CheckMainThread("MenuItem.Name");
    name_ = v;
}

void MenuItem::SetText(const String& v)
{
    CheckMainThread("MenuItem.Text");
    text_ = v;
    Changed();
}

void MenuItem::SetKeyboardShortcut(const String& v)
{
    CheckMainThread("MenuItem.KeyboardShortcut");
    shortcut_ = v;
    shortcutSet_ = true;
    Changed();
}

void MenuItem::SetAutoEnable(bool v)
{
    CheckMainThread("MenuItem.AutoEnable");
    autoEnable_ = v;
    Changed();
}

void MenuItem::SetVisible(bool v)
{
    CheckMainThread("MenuItem.Visible");
    visible_ = v;
    Changed();
}

void MenuItem::Append(const Ref<MenuItem>& item)
{
    CheckMainThread("MenuItem.Append");
    if (!item)
        throw NilObjectException("MenuItem.Append: the item is nil");
    children_.push_back(item);
    Changed();
}

Ref<MenuItem> MenuItem::Child(const String& name) const
{
    CheckMainThread("MenuItem.Child");
    for (const Ref<MenuItem>& c : children_)
        if (c->name_ == name)
            return c;
    return Ref<MenuItem>();
}

Ref<MenuItem> MenuItem::Lookup(const String& name) const
{
    CheckMainThread("MenuItem._Lookup");
    for (const Ref<MenuItem>& c : children_) {
        if (c->name_ == name)
            return c;
        if (Ref<MenuItem> below = c->Lookup(name))
            return below;
    }
    return Ref<MenuItem>();
}

Ref<MenuItem> MenuItem::Item(Integer index) const
{
    CheckMainThread("MenuItem.Item");
    if (index < 0 || index >= Count())
        throw OutOfBoundsException("MenuItem.Item: no item " + Str(index).ToStdString());
    return children_[static_cast<std::size_t>(index)];
}

void MenuItem::Changed()
{
    // pending: the application-shell issue shows changes on the installed Qt menus.
}

namespace detail {

void InstallMenuBar(Window& /*window*/, const Ref<MenuBar>& /*bar*/)
{
    // pending: the application-shell issue builds the Qt menu bar from the item tree.
}

} // namespace detail

} // namespace fw
