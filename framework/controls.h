// Controls: the parts of a window that the user sees and uses, each backed by
// the Qt widget that shows it. A control is made for one window (Window::New) and
// gets its widget there from RectControl::Constructor.
//
// A PopupMenu raises Change whenever its selected row changes, whether the user
// or code changed it, and also when the user picks the row that is already
// selected: choosing a port again must reopen it.
//
// A single-line Label whose text would be cut at an edge draws it whole, at the
// largest size that fits; its TextSize stays as set. A Label's TextColor black,
// the default, is the desktop's text colour, so that it reads on a dark scheme
// too; any other colour is drawn as it is.
//
// Geometry, text sizes and a Canvas's drawing are in the window's layout units,
// which grow with the desktop's font (Window::Scale).
#pragma once

#include "framework/runtime.h"

#include <memory>
#include <string>

class QWidget;

namespace fw {

class Window;

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
    void SetTextSize(Single points); // one point is one layout unit; 0 is the platform's size
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

} // namespace fw
