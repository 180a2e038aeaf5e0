// The port popup, the port choice and the serial error line.
#include "monitor/my_serial.h"
#include "monitor/window1.h"

const fw::ClassInfo& MySerial::Lookup()
{
    static const fw::ClassInfo& info = fw::RegisterClass(
        fw::ClassBuilder("MySerial", &fw::Serial::Lookup())
            .Factory<MySerial>()
            .Op("Event_Error")
            .Hook("Error", [](fw::Object& o, fw::EventArgs&) { static_cast<MySerial&>(o).Event_Error(); })
            .Build());
    return info;
}

void MySerial::Event_Error()
{
    // pending: the serial issue writes the error line.
}

void Window1::serialPopup_Open(const fw::Ref<fw::PopupMenu>& /*sender*/)
{
    // pending: the serial issue lists the ports.
}

void Window1::serialPopup_Change(const fw::Ref<fw::PopupMenu>& /*sender*/)
{
    // pending: the serial issue opens the chosen port.
}

void Window1::SetWindowsDTR() {}
