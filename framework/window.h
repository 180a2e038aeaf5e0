// Windows and controls, each backed by the Qt widget that the user sees.
//
// A Window's Constructor builds it and raises its construction events in this
// order: Layout, CreateControls, AddMenuHandlers, the controls' Open events in the
// order the controls were added, then the window's Open; the window is then shown
// if it is Visible. Closing it raises Close.
//
// A PopupMenu raises Change whenever its selected row changes, whether the user
// or code changed it, and also when the user picks the row that is already
// selected: choosing a port again must reopen it.
#pragma once

#include "framework/runtime.h"

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace fw {

class Window;
class MenuBar;

// Every user-interface member below raises ThreadAccessingUIException off the main thread.

class Control : public Object {
    FW_OBJECT(Control)
public:
    // Not an element of a control array.
    static constexpr Integer NoIndex = -2147483648LL;

    Control();
    ~Control() override;

    const String& Name() const { return name_; }
    void SetName(const String& name);
    Integer Index() const { return index_; }
    void SetIndex(Integer index);

    // The window the control was made for; nil once the window is gone.
    Ref<fw::Window> TrueWindow() const { return owner_.Lock(); }

private:
    friend class Window;
    String name_;
    Integer index_ = NoIndex;
    WeakRef<fw::Window> owner_;
};

// A control with a place in the window.
class RectControl : public Control {
    FW_OBJECT(RectControl)
public:
    RectControl();
    ~RectControl() override;

    // Makes the control's widget in its window; the stored geometry then applies to it.
    void Constructor();

    Integer Left() const { return left_; }
    Integer Top() const { return top_; }
    Integer Width() const { return width_; }
    Integer Height() const { return height_; }
    bool Visible() const { return visible_; }
    bool Enabled() const { return enabled_; }
    Integer TabIndex() const { return tabIndex_; }
    const String& HelpTag() const { return helpTag_; }
    void SetLeft(Integer v);
    void SetTop(Integer v);
    void SetWidth(Integer v);
    void SetHeight(Integer v);
    void SetVisible(bool v);
    void SetEnabled(bool v);
    void SetTabIndex(Integer v);
    void SetHelpTag(const String& v);

    // Asks for a repaint; the Paint follows from the event loop. Virtual so that
    // tests can see when a repaint is asked for.
    virtual void Invalidate(bool eraseBackground = true);

    // The control's widget, for the framework's own use; nullptr before Constructor.
    QWidget* Widget() const;

protected:
    virtual QWidget* CreateWidget(QWidget* parent) = 0;
    // Brings the new widget up to the control's stored state.
    virtual void Polish() { }
    void ApplyGeometry();

private:
    Integer left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true, enabled_ = true;
    Integer tabIndex_ = 0;
    String helpTag_;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Text styling that labels, popups and check boxes share.
class TextControl : public RectControl {
    FW_OBJECT(TextControl)
public:
    Single TextSize() const { return textSize_; }
    void SetTextSize(Single points); // one point is one logical pixel; 0 is the platform's size
    void SetTextFont(const String& font);
    void SetBold(bool v);
    void SetItalic(bool v);
    void SetUnderline(bool v);
    bool Bold() const { return bold_; }
    bool Italic() const { return italic_; }
    bool Underline() const { return underline_; }
    const String& TextFont() const { return textFont_; }

protected:
    void Polish() override;
    void ApplyFont();

private:
    Single textSize_ = 0;
    String textFont_ = "System";
    bool bold_ = false, italic_ = false, underline_ = false;
};

class Label : public TextControl {
    FW_OBJECT(Label)
public:
    Label();
    ~Label() override;
    const String& Text() const { return text_; }
    void SetText(const String& text);
    Integer TextAlign() const { return textAlign_; }
    void SetTextAlign(Integer align); // 0 default, 1 left, 2 centre, 3 right
    Color TextColor() const { return textColor_; }
    void SetTextColor(Color c);

protected:
    QWidget* CreateWidget(QWidget* parent) override;
    void Polish() override;

private:
    void ApplyStyle();
    String text_;
    Integer textAlign_ = 0;
    Color textColor_;
};

class PopupMenu : public TextControl {
    FW_OBJECT(PopupMenu)
public:
    PopupMenu();
    ~PopupMenu() override;
    void DeleteAllRows();
    void AddRow(const String& text);
    Integer ListCount() const;
    Integer ListIndex() const; // -1 when no row is selected
    void SetListIndex(Integer index); // an index outside the rows selects nothing and changes nothing
    String List(Integer row) const;
    void SetInitialValue(const String& rows); // one row per line

protected:
    QWidget* CreateWidget(QWidget* parent) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class CheckBox : public TextControl {
    FW_OBJECT(CheckBox)
public:
    CheckBox();
    ~CheckBox() override;
    const String& Caption() const { return caption_; }
    void SetCaption(const String& caption);
    bool Value() const;
    void SetValue(bool ticked);
    Integer State() const { return Value() ? 1 : 0; }
    void SetState(Integer state); // 0 unticked, 1 ticked

protected:
    QWidget* CreateWidget(QWidget* parent) override;

private:
    String caption_;
    bool value_ = false;
};

// A drawing control: its Paint event receives a Graphics for the whole control
// and the areas to redraw.
class Canvas : public RectControl {
    FW_OBJECT(Canvas)
public:
    Canvas();
    ~Canvas() override;

protected:
    QWidget* CreateWidget(QWidget* parent) override;
};

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
