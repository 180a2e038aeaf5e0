// The window's layout: its menu bar, its stored properties and its sixteen controls.
#include "app/menu_bar1.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

#include <initializer_list>

using fw::Integer;
using fw::PropertySet;
using fw::Ref;

namespace {

PropertySet Join(std::initializer_list<const PropertySet*> sets)
{
    PropertySet all;
    for (const PropertySet* s : sets)
        all.insert(all.end(), s->begin(), s->end());
    return all;
}

const PropertySet& WindowProperties()
{
    static const PropertySet set = {
        { "Width", Integer { 300 } },
        { "Height", Integer { 300 } },
        { "MinWidth", Integer { 64 } },
        { "MinHeight", Integer { 64 } },
        { "MaxWidth", Integer { 32000 } },
        { "MaxHeight", Integer { 32000 } },
        { "Frame", Integer { 0 } },
        { "Title", fw::String("Vantrope") },
        { "CloseButton", true },
        { "Resizeable", false },
        { "MaximizeButton", false },
        { "MinimizeButton", true },
        { "FullScreenButton", false },
        { "Composite", false },
        { "MacProcID", Integer { 0 } },
        { "FullScreen", false },
        { "LiveResize", false },
        { "Placement", Integer { 0 } },
        { "Visible", true },
        { "HasBackColor", false },
        { "BackColor", fw::RGB(255, 255, 255) },
        { "MenuBarVisible", true },
    };
    return set;
}

// What every control with a place in the window stores.
const PropertySet placed = {
    { "TabPanelIndex", Integer { 0 } },
    { "TabStop", true },
    { "AutoDeactivate", true },
    { "Enabled", true },
    { "Visible", true },
    { "HelpTag", fw::String() },
    { "InitialParent", fw::String() },
};

// What the popup, the labels and the check boxes store beyond that.
const PropertySet texted = {
    { "Index", fw::Control::NoIndex },
    { "TextFont", fw::String("System") },
    { "TextUnit", Integer { 0 } },
    { "Bold", false },
    { "Italic", false },
    { "Underline", false },
    { "Transparent", false },
    { "DataSource", fw::String() },
    { "DataField", fw::String() },
};

const PropertySet labelled = {
    { "Multiline", false },
    { "Selectable", false },
    { "TextAlign", Integer { 0 } },
    { "TextColor", fw::RGB(0, 0, 0) },
    { "LockLeft", false },
    { "LockTop", false },
    { "LockRight", false },
    { "LockBottom", false },
};

const PropertySet boxed = {
    { "LockLeft", true },
    { "LockTop", true },
    { "LockRight", false },
    { "LockBottom", false },
    { "State", Integer { 0 } },
    { "Value", false },
};

PropertySet Place(
    const char* name, Integer tabIndex, Integer left, Integer top, Integer width, Integer height)
{
    return { { "Name", fw::String(name) }, { "TabIndex", tabIndex }, { "Left", left }, { "Top", top },
        { "Width", width }, { "Height", height } };
}

PropertySet LabelProperties(const char* name, Integer tab, Integer left, Integer top, Integer width,
    Integer height, const char* text, fw::Single textSize = 0)
{
    const PropertySet own = Place(name, tab, left, top, width, height);
    const PropertySet more = { { "Text", fw::String(text) }, { "TextSize", textSize } };
    return Join({ &own, &placed, &texted, &labelled, &more });
}

PropertySet CheckBoxProperties(const char* name, Integer tab, Integer left, Integer top, Integer width,
    Integer height, const char* caption)
{
    const PropertySet own = Place(name, tab, left, top, width, height);
    const PropertySet more = { { "Caption", fw::String(caption) }, { "TextSize", fw::Single { 0 } } };
    return Join({ &own, &placed, &texted, &boxed, &more });
}

PropertySet TubeProperties(Integer index, Integer tab, Integer left)
{
    const PropertySet own = Place("Canvas1", tab, left, 281, 100, 100);
    const PropertySet tube = {
        { "Index", index },
        { "LockLeft", true },
        { "LockTop", true },
        { "LockRight", false },
        { "LockBottom", false },
        { "UseFocusRing", true },
        { "AcceptFocus", false },
        { "AcceptTabs", false },
        { "DoubleBuffer", false },
        { "EraseBackground", true },
        { "Transparent", true },
        { "value", Integer { 0 } },
    };
    return Join({ &own, &placed, &tube });
}

PropertySet PopupProperties()
{
    const PropertySet own = Place("serialPopup", 0, 20, 162, 230, 20);
    const PropertySet more = {
        { "InitialValue", fw::String() },
        { "ListIndex", Integer { 0 } },
        { "TextSize", fw::Single { 12 } },
        { "LockLeft", true },
        { "LockTop", false },
        { "LockRight", false },
        { "LockBottom", true },
    };
    return Join({ &own, &placed, &texted, &more });
}

PropertySet TimerProperties(Integer period)
{
    return { { "Mode", fw::Timer::ModeMultiple }, { "Period", period } };
}

// One control of the layout, with what its creation needs.
struct ControlSpec {
    const char* name;
    const fw::ClassInfo& (*cls)();
    Integer index; // a tube's place in the control array; NoIndex for the others
    Ref<fw::Object> (*confirm)(const Ref<fw::Object>&);
    PropertySet properties;
    std::vector<std::pair<const char*, fw::Delegate (*)(const Ref<class Window1>&)>> bindings;
};

template <class T>
Ref<fw::Object> Confirm(const Ref<fw::Object>& o)
{
    return fw::RuntimeCheckCast<T>(o);
}

const std::vector<ControlSpec>& Controls()
{
    using W = class Window1;
    constexpr Integer none = fw::Control::NoIndex;
    static const std::vector<ControlSpec> controls = {
        { "serialPopup", &fw::PopupMenu::Lookup, none, &Confirm<fw::PopupMenu>, PopupProperties(),
            { { "Change",
                  [](const Ref<W>& w) { return fw::RuntimeCreateDelegate(&W::serialPopup_Change, w); } },
                { "Open",
                    [](const Ref<W>& w) { return fw::RuntimeCreateDelegate(&W::serialPopup_Open, w); } } } },
        { "Timer1", &fw::Timer::Lookup, none, &Confirm<fw::Timer>, TimerProperties(1000),
            { { "Action",
                [](const Ref<W>& w) { return fw::RuntimeCreateDelegate(&W::Timer1_Action, w); } } } },
        { "StaticCPM", &fw::Label::Lookup, none, &Confirm<fw::Label>,
            LabelProperties("StaticCPM", 1, 80, 20, 200, 76, "-", 32),
            { { "Open",
                [](const Ref<W>& w) { return fw::RuntimeCreateDelegate(&W::StaticCPM_Open, w); } } } },
        { "StaticStatus", &fw::Label::Lookup, none, &Confirm<fw::Label>,
            LabelProperties("StaticStatus", 2, 20, 217, 100, 20, "Not Open"), {} },
        { "StaticSerialError", &fw::Label::Lookup, none, &Confirm<fw::Label>,
            LabelProperties("StaticSerialError", 3, 20, 194, 260, 20, "Serial Port Error: None"), {} },
        { "StaticText3", &fw::Label::Lookup, none, &Confirm<fw::Label>,
            LabelProperties("StaticText3", 4, 27, 76, 34, 20, "CPM:"), {} },
        { "StaticText2", &fw::Label::Lookup, none, &Confirm<fw::Label>,
            LabelProperties("StaticText2", 5, 20, 140, 100, 20, "Serial Port:"), {} },
        { "StaticPortName", &fw::Label::Lookup, none, &Confirm<fw::Label>,
            LabelProperties("StaticPortName", 6, 20, 241, 243, 20, "Untitled"), {} },
        { "Canvas1", &NixieCanvas::Lookup, 0, &Confirm<NixieCanvas>, TubeProperties(0, 7, -63), {} },
        { "Canvas1", &NixieCanvas::Lookup, 1, &Confirm<NixieCanvas>, TubeProperties(1, 8, 41), {} },
        { "Canvas1", &NixieCanvas::Lookup, 2, &Confirm<NixieCanvas>, TubeProperties(2, 9, 153), {} },
        { "Canvas1", &NixieCanvas::Lookup, 3, &Confirm<NixieCanvas>, TubeProperties(3, 10, 275), {} },
        { "CheckBoxNixie", &fw::CheckBox::Lookup, none, &Confirm<fw::CheckBox>,
            CheckBoxProperties("CheckBoxNixie", 11, 20, 108, 140, 20, "Nixie Display"), {} },
        { "CheckBoxBlankLeadingZeros", &fw::CheckBox::Lookup, none, &Confirm<fw::CheckBox>,
            CheckBoxProperties("CheckBoxBlankLeadingZeros", 12, 134, 108, 156, 20, "Blank Leading Zeros"),
            {} },
        { "Timer2", &fw::Timer::Lookup, none, &Confirm<fw::Timer>, TimerProperties(50),
            { { "Action",
                [](const Ref<W>& w) { return fw::RuntimeCreateDelegate(&W::Timer2_Action, w); } } } },
        { "CheckBoxClicks", &fw::CheckBox::Lookup, none, &Confirm<fw::CheckBox>,
            CheckBoxProperties("CheckBoxClicks", 13, 134, 133, 100, 20, "Clicks"), {} },
    };
    return controls;
}

} // namespace

void Window1::Layout()
{
    {
        Ref<class MenuBar1> bar = MenuBar1();
        SetMenuBar(bar);
    } // the window and the application hold the bar from here on
    fw::SetProperties(Self(), WindowProperties());
}

void Window1::CreateControls()
{
    CreateControls0();
}

void Window1::CreateControls0()
{
    const Ref<class Window1> self = Self<class Window1>();
    for (const ControlSpec& spec : Controls()) {
        const fw::ClassInfo& cls = spec.cls();
        {
            Ref<fw::Object> made = New(cls);
            if (cls.IsA(fw::RectControl::Lookup())) {
                auto control = fw::RuntimeCheckCast<fw::RectControl>(made);
                if (spec.index != fw::Control::NoIndex)
                    control->SetIndex(spec.index);
                control->Constructor();
            }
            AddControl(spec.name, made);
        } // from here on the window alone holds the control
        auto find = [&] {
            Ref<fw::Object> found = spec.index == fw::Control::NoIndex
                ? ControlByName(spec.name)
                : ControlByNameIndex(spec.name, spec.index);
            return spec.confirm(found);
        };
        fw::SetProperties(find(), spec.properties);
        for (const auto& [event, makeDelegate] : spec.bindings)
            fw::RuntimeAddEventHandler(find(), event, makeDelegate(self));
    }
}

void Window1::StaticCPM_Open(const Ref<fw::Label>& sender)
{
    if (!sender)
        throw fw::NilObjectException("StaticCPM_Open: no label");
    sender->SetTextSize(72.0f);
}
