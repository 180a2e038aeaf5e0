#include "monitor/window1.h"

#include "monitor/my_serial.h"
#include "nixie/nixie_canvas.h"

using fw::Ref;
using fw::RuntimeCheckCast;

namespace {

template <class T>
Ref<T> ControlNamed(const fw::Window& window, const char* name)
{
    return RuntimeCheckCast<T>(window.ControlByName(name));
}

template <class T>
Ref<T> MenuItemNamed(const fw::Window& window, const char* name)
{
    Ref<fw::MenuBar> bar = window.MenuBar();
    if (!bar)
        throw fw::NilObjectException("the window has no menu bar");
    return RuntimeCheckCast<T>(bar->Lookup(name));
}

template <void (Window1::*Handler)()>
void Hooked(fw::Object& o, fw::EventArgs&)
{
    (static_cast<class Window1&>(o).*Handler)();
}

} // namespace

const fw::ClassInfo& Window1::Lookup()
{
    static const fw::ClassInfo& info
        = fw::RegisterClass(fw::ClassBuilder("Window1.Window1", &fw::Window::Lookup())
                                .Factory<class Window1>()
                                .Initializer()
                                .Finalizer()
                                .Op("Layout")
                                .Op("CreateControls")
                                .Op("CreateControls0", {}, {}, { { "Hidden", "" } })
                                .Op("serialPopup", {}, "PopupMenu")
                                .Op("Timer1", {}, "Timer")
                                .Op("StaticCPM", {}, "Label")
                                .Op("StaticStatus", {}, "Label")
                                .Op("StaticSerialError", {}, "Label")
                                .Op("StaticText3", {}, "Label")
                                .Op("StaticText2", {}, "Label")
                                .Op("StaticPortName", {}, "Label")
                                .Op("Canvas1", { "Integer" }, "NixieCanvas")
                                .Op("CheckBoxNixie", {}, "CheckBox")
                                .Op("CheckBoxBlankLeadingZeros", {}, "CheckBox")
                                .Op("Timer2", {}, "Timer")
                                .Op("CheckBoxClicks", {}, "CheckBox")
                                .Op("serialPopup_Change", { "PopupMenu" })
                                .Op("serialPopup_Open", { "PopupMenu" })
                                .Op("Timer1_Action", { "Timer" })
                                .Op("StaticCPM_Open", { "Label" })
                                .Op("Timer2_Action", { "Timer" })
                                .Op("EditMenu", {}, "MenuItem")
                                .Op("EditSelectAll", {}, "MenuItem")
                                .Op("UntitledMenu0", {}, "MenuItem")
                                .Op("EditClear", {}, "MenuItem")
                                .Op("EditPaste", {}, "MenuItem")
                                .Op("EditCopy", {}, "MenuItem")
                                .Op("EditCut", {}, "MenuItem")
                                .Op("UntitledMenu1", {}, "MenuItem")
                                .Op("EditUndo", {}, "MenuItem")
                                .Op("FileMenu", {}, "MenuItem")
                                .Op("FileQuit", {}, "QuitMenuItem")
                                .Op("FileAboutVantrope", {}, "AppleMenuItem")
                                .Op("AddMenuHandlers", { "Window" })
                                .Op("Event_Open")
                                .Op("Event_Close")
                                .Op("FileAboutVantrope_Action", {}, "Boolean")
                                .Op("SetWindowsDTR")
                                .Op("ReadNewCounts")
                                .Op("SetNixies", { "Integer" })
                                .Op("PlayClickSound", { "Integer" })
                                .Held("Serial1", "MySerial")
                                .Field("ourSerialPort", &Window1::ourSerialPort)
                                .Field("secondcountsindex", &Window1::secondcountsindex)
                                .Held("counts", "Integer()")
                                .Field("ignoreCountsTimer", &Window1::ignoreCountsTimer)
                                .Field("tempCountsSum", &Window1::tempCountsSum)
                                .Hook("Layout", Hooked<&Window1::Layout>)
                                .Hook("CreateControls", Hooked<&Window1::CreateControls>)
                                .Hook("AddMenuHandlers",
                                    [](fw::Object& o, fw::EventArgs&) {
                                        auto& w = static_cast<class Window1&>(o);
                                        w.AddMenuHandlers(w.Self<fw::Window>());
                                    })
                                .Hook("Open", Hooked<&Window1::Event_Open>)
                                .Hook("Close", Hooked<&Window1::Event_Close>)
                                .Build());
    return info;
}

Window1::Window1()
    : counts(101, 0)
{
}

Window1::~Window1()
{
    // Released, not closed: dropping the last reference closes the port.
    Serial1 = nullptr;
    counts.clear();
}

Ref<class Window1> Window1()
{
    Ref<fw::Window> window = fw::GetImplicitWindow("Window1.Window1");
    if (!window) {
        auto made = fw::New<class Window1>();
        made->Constructor();
        window = made;
    }
    return RuntimeCheckCast<class Window1>(window);
}

// ---- Control accessors --------------------------------------------------------

Ref<fw::PopupMenu> Window1::serialPopup()
{
    return ControlNamed<fw::PopupMenu>(*this, "serialPopup");
}
Ref<fw::Timer> Window1::Timer1()
{
    return ControlNamed<fw::Timer>(*this, "Timer1");
}
Ref<fw::Label> Window1::StaticCPM()
{
    return ControlNamed<fw::Label>(*this, "StaticCPM");
}
Ref<fw::Label> Window1::StaticStatus()
{
    return ControlNamed<fw::Label>(*this, "StaticStatus");
}
Ref<fw::Label> Window1::StaticSerialError()
{
    return ControlNamed<fw::Label>(*this, "StaticSerialError");
}
Ref<fw::Label> Window1::StaticText3()
{
    return ControlNamed<fw::Label>(*this, "StaticText3");
}
Ref<fw::Label> Window1::StaticText2()
{
    return ControlNamed<fw::Label>(*this, "StaticText2");
}
Ref<fw::Label> Window1::StaticPortName()
{
    return ControlNamed<fw::Label>(*this, "StaticPortName");
}

Ref<NixieCanvas> Window1::Canvas1(Integer index)
{
    return RuntimeCheckCast<NixieCanvas>(ControlByNameIndex("Canvas1", index));
}

Ref<fw::CheckBox> Window1::CheckBoxNixie()
{
    return ControlNamed<fw::CheckBox>(*this, "CheckBoxNixie");
}
Ref<fw::CheckBox> Window1::CheckBoxBlankLeadingZeros()
{
    return ControlNamed<fw::CheckBox>(*this, "CheckBoxBlankLeadingZeros");
}
Ref<fw::Timer> Window1::Timer2()
{
    return ControlNamed<fw::Timer>(*this, "Timer2");
}
Ref<fw::CheckBox> Window1::CheckBoxClicks()
{
    return ControlNamed<fw::CheckBox>(*this, "CheckBoxClicks");
}

// ---- Menu-item accessors ------------------------------------------------------

Ref<fw::MenuItem> Window1::EditMenu()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditMenu");
}
Ref<fw::MenuItem> Window1::EditSelectAll()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditSelectAll");
}
Ref<fw::MenuItem> Window1::UntitledMenu0()
{
    return MenuItemNamed<fw::MenuItem>(*this, "UntitledMenu0");
}
Ref<fw::MenuItem> Window1::EditClear()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditClear");
}
Ref<fw::MenuItem> Window1::EditPaste()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditPaste");
}
Ref<fw::MenuItem> Window1::EditCopy()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditCopy");
}
Ref<fw::MenuItem> Window1::EditCut()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditCut");
}
Ref<fw::MenuItem> Window1::UntitledMenu1()
{
    return MenuItemNamed<fw::MenuItem>(*this, "UntitledMenu1");
}
Ref<fw::MenuItem> Window1::EditUndo()
{
    return MenuItemNamed<fw::MenuItem>(*this, "EditUndo");
}
Ref<fw::MenuItem> Window1::FileMenu()
{
    return MenuItemNamed<fw::MenuItem>(*this, "FileMenu");
}
Ref<fw::QuitMenuItem> Window1::FileQuit()
{
    return MenuItemNamed<fw::QuitMenuItem>(*this, "FileQuit");
}
Ref<fw::AppleMenuItem> Window1::FileAboutVantrope()
{
    return MenuItemNamed<fw::AppleMenuItem>(*this, "FileAboutVantrope");
}
