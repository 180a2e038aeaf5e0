#include "app/menu_bar1.h"

namespace {

// One row of the menu tree. A nil shortcut is never assigned; a nil parent is the bar itself.
template <class Item>
void AddItem(
    class MenuBar1& bar, const char* name, const char* text, const char* shortcut, const char* parent)
{
    fw::Ref<Item> item = fw::New<Item>();
    item->Constructor();
    item->SetName(name);
    item->SetAutoEnable(true);
    item->SetText(text);
    item->SetVisible(true);
    if (shortcut)
        item->SetKeyboardShortcut(shortcut);
    if (!parent) {
        bar.Append(item);
        return;
    }
    // A missing menu raises NilObjectException here.
    bar.Child(parent)->Append(item);
}

} // namespace

fw::Ref<class MenuBar1> MenuBar1::implicitInstance;

const fw::ClassInfo& MenuBar1::Lookup()
{
    static const fw::ClassInfo& info
        = fw::RegisterClass(fw::ClassBuilder("MenuBar1.MenuBar1", &fw::MenuBar::Lookup())
                                .Factory<class MenuBar1>()
                                .Override("Constructor")
                                .Op("Untitled0")
                                .Op("Untitled1")
                                .Build());
    return info;
}

void MenuBar1::Constructor()
{
    Untitled0();
    Untitled1();
}

void MenuBar1::Untitled0()
{
    AddItem<fw::MenuItem>(*this, "FileMenu", "&File", "", nullptr);
    AddItem<fw::AppleMenuItem>(*this, "FileAboutVantrope", "About Vantrope...", "", "FileMenu");
    AddItem<fw::QuitMenuItem>(*this, "FileQuit", "&Quit", "Cmd+Q", "FileMenu");
}

void MenuBar1::Untitled1()
{
    AddItem<fw::MenuItem>(*this, "EditMenu", "&Edit", "", nullptr);
    AddItem<fw::MenuItem>(*this, "EditUndo", "&Undo", "Cmd+Z", "EditMenu");
    AddItem<fw::MenuItem>(*this, "UntitledMenu1", "-", nullptr, "EditMenu");
    AddItem<fw::MenuItem>(*this, "EditCut", "Cu&t", "Cmd+X", "EditMenu");
    AddItem<fw::MenuItem>(*this, "EditCopy", "&Copy", "Cmd+C", "EditMenu");
    AddItem<fw::MenuItem>(*this, "EditPaste", "&Paste", "Cmd+V", "EditMenu");
    AddItem<fw::MenuItem>(*this, "EditClear", "&Delete", "", "EditMenu");
    AddItem<fw::MenuItem>(*this, "UntitledMenu0", "-", nullptr, "EditMenu");
    AddItem<fw::MenuItem>(*this, "EditSelectAll", "Select &All", "Cmd+A", "EditMenu");
}

fw::Ref<class MenuBar1> MenuBar1()
{
    if (MenuBar1::implicitInstance)
        return MenuBar1::implicitInstance;
    auto bar = fw::New<class MenuBar1>();
    // Kept only once both menus stand: a failed build leaves the next call to start afresh.
    bar->Constructor();
    MenuBar1::implicitInstance = bar;
    return bar;
}
