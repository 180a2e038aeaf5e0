#include "tests/window_fixture.h"

#include "nixie/nixie_canvas.h"

namespace testing_support {

namespace {

void Add(
    class Window1& w, const fw::ClassInfo& cls, const char* name, fw::Integer index = fw::Control::NoIndex)
{
    if (index == fw::Control::NoIndex ? bool(w.ControlByName(name)) : bool(w.ControlByNameIndex(name, index)))
        return;
    auto control = fw::RuntimeCheckCast<fw::Control>(w.New(cls));
    control->SetIndex(index);
    if (cls.IsA(fw::RectControl::Lookup()))
        fw::RuntimeCheckCast<fw::RectControl>(control)->Constructor();
    w.AddControl(name, control);
}

} // namespace

void EnsureControls(class Window1& w)
{
    Add(w, fw::PopupMenu::Lookup(), "serialPopup");
    for (const char* label :
        { "StaticCPM", "StaticStatus", "StaticSerialError", "StaticText3", "StaticText2", "StaticPortName" })
        Add(w, fw::Label::Lookup(), label);
    for (fw::Integer i = 0; i < 4; ++i)
        Add(w, NixieCanvas::Lookup(), "Canvas1", i);
    for (const char* box : { "CheckBoxNixie", "CheckBoxBlankLeadingZeros", "CheckBoxClicks" })
        Add(w, fw::CheckBox::Lookup(), box);
}

} // namespace testing_support
