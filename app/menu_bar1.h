// The menu bar: File (About, Quit) and Edit, built once per run.
#pragma once

#include "framework/menu.h"

class MenuBar1 : public fw::MenuBar {
    FW_OBJECT(MenuBar1)
public:
    using fw::MenuItem::Lookup;

    // Builds both menus; takes the place of the framework's default constructor.
    void Constructor();
    void Untitled0(); // the File menu
    void Untitled1(); // the Edit menu

    // The one menu bar; nil until the accessor's first successful call.
    static fw::Ref<MenuBar1> implicitInstance;
};

// The one menu bar, made and built on the first call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
fw::Ref<class MenuBar1> MenuBar1();
#pragma GCC diagnostic pop
