// Windows, each backed by the Qt main window that the user sees, and the
// framework's hold on them.
//
// A Window's Constructor builds it and raises its construction events in this
// order: Layout, CreateControls, AddMenuHandlers, the controls' Open events in the
// order the controls were added, then the window's Open; the window is then shown
// if it is Visible. Closing it raises Close.
//
// A window and its controls keep their stored sizes in layout units. On the
// screen each unit is Scale() pixels: the window takes that factor once, when its
// widgets are made, from how much larger the desktop's font is than Qt's own
// default, so that text the user asked to be larger still fits the layout. At the
// default font, or a smaller one, a unit is a pixel.
//
// A window's text keeps the colours it has with the focus when another window
// has it: some schemes dim it below what reads.
#pragma once

#include "framework/controls.h"
#include "framework/runtime.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace fw {

class MenuBar;

// Every user-interface member below raises ThreadAccessingUIException off the main thread.
class Window : public Object {
    FW_OBJECT(Window)
public:
    Window();
    ~Window() override;

    // Builds the window and raises its construction events (see the top of this file).
    void Constructor();

    // A new object of `cls` made for this window (a control knows its window).
    Ref<Object> New(const ClassInfo& cls);
    void AddControl(const String& name, const Ref<Object>& control);
    // The control registered under the name (the first one, for a control array); nil when none.
    Ref<Object> ControlByName(const String& name) const;
    // The element of a control array with that index; nil when none.
    Ref<Object> ControlByNameIndex(const String& name, Integer index) const;
    Integer ControlCount() const { return static_cast<Integer>(controls_.size()); }

    Ref<fw::MenuBar> MenuBar() const;
    void SetMenuBar(const Ref<fw::MenuBar>& bar);
    // From now on, choosing the menu item of that name runs the handler.
    void AddMenuHandler(const String& itemName, MenuDelegate handler);
    // Runs the handler of the named item; false when the window has none.
    bool HandleMenuItem(const String& itemName);
    bool HasMenuHandler(const String& itemName) const;

    void Show();
    void Hide();
    void Close();

    // Stored properties with a visible meaning.
    Integer Width() const { return width_; }
    Integer Height() const { return height_; }
    const String& Title() const { return title_; }
    bool Visible() const { return visible_; }
    bool Resizeable() const { return resizeable_; }
    bool MenuBarVisible() const { return menuBarVisible_; }
    void SetWidth(Integer v);
    void SetHeight(Integer v);
    void SetTitle(const String& v);
    void SetVisible(bool v);
    void SetResizeable(bool v);
    void SetCloseButton(bool v);
    void SetMinimizeButton(bool v);
    void SetMaximizeButton(bool v);
    void SetFullScreenButton(bool v);
    void SetMenuBarVisible(bool v);

    // The window's widgets, for the framework's own use.
    QWidget* Widget() const;
    QWidget* Content() const;
    // Pixels per layout unit (see the top of this file), and a position or length
    // in layout units as pixels.
    double Scale() const;
    int ToPixels(Integer units) const;
    // The user asked to close the window: raises Close, then lets the window go.
    void HandleCloseRequest();

private:
    void ApplyFlags();
    void ApplySize();
    // Tab moves through the controls in the order of their TabIndex.
    void ApplyTabOrder();

    struct Entry {
        String name;
        Ref<Object> control;
    };
    std::vector<Entry> controls_;
    Ref<fw::MenuBar> menuBar_;
    std::vector<std::pair<String, MenuDelegate>> menuHandlers_;
    Integer width_ = 300, height_ = 300;
    String title_;
    bool visible_ = true, resizeable_ = true, menuBarVisible_ = true;
    bool closeButton_ = true, minimizeButton_ = true, maximizeButton_ = true, fullScreenButton_ = false;
    bool constructed_ = false;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The window the framework holds for the type name, or nil.
Ref<Window> GetImplicitWindow(const std::string& typeName);

// Drops the framework's references to its windows, as at the end of the run.
void ReleaseAllWindows();

} // namespace fw
