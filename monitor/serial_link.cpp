// The port popup, the port choice and the serial error line.
#include "monitor/my_serial.h"
#include "monitor/window1.h"

#include "framework/msgbox.h"

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

namespace {

fw::String ErrorText(fw::Integer code)
{
    switch (code) {
    case fw::Serial::NoError:
        return "None";
    case fw::Serial::AccessDenied:
        return "Access Denied";
    case fw::Serial::PortNotFound:
        return "Port Not Found";
    case fw::Serial::InvalidOptions:
        return "Invalid Options";
    case fw::Serial::BreakCondition:
        return "Break Condition";
    case fw::Serial::FramingError:
        return "Framing Error";
    default:
        return "";
    }
}

} // namespace

void MySerial::Event_Error()
{
    const fw::Integer code = LastErrorCode();
    const fw::Ref<class Window1> window = Window1();
    window->StaticSerialError()->SetText("Serial Port Error: " + fw::Str(code) + " " + ErrorText(code));
    // The layer has closed the port of a device that went away: the status says so.
    if (code == PortLost && !IsOpen() && window->Serial1.get() == this)
        window->StaticStatus()->SetText("Not Open");
}

void Window1::serialPopup_Open(const fw::Ref<fw::PopupMenu>& /*sender*/)
{
    serialPopup()->DeleteAllRows();
    serialPopup()->AddRow("None");
    // Raises Change at once: the window starts with an unopened serial object.
    serialPopup()->SetListIndex(0);
    for (Integer i = 0; i < fw::System()->SerialPortCount(); ++i)
        // A port that went since the count was asked is left out.
        if (const fw::Ref<fw::SerialPort> port = fw::System()->SerialPort(i))
            serialPopup()->AddRow(port->Name());
}

void Window1::serialPopup_Change(const fw::Ref<fw::PopupMenu>& /*sender*/)
{
    Serial1 = fw::RuntimeCheckCast<MySerial>(New(MySerial::Lookup()));
    ourSerialPort = serialPopup()->ListIndex() - 1;
    if (ourSerialPort < 0) {
        StaticPortName()->SetText("Port Name: ");
        StaticStatus()->SetText("Not Open");
        StaticSerialError()->SetText("");
        return;
    }
    if (ourSerialPort >= serialPopup()->ListCount())
        return;
    // The port the row names, wherever the system lists it now: a row looked up by its
    // place could open, and reset, another device. A port that went is not found (nil).
    Serial1->SetSerialPort(fw::System()->SerialPortNamed(serialPopup()->List(ourSerialPort + 1)));
    if (Serial1->Open()) {
        ignoreCountsTimer = 40;
        StaticSerialError()->SetText("Serial Port Error: None");
        StaticStatus()->SetText("Open");
        StaticPortName()->SetText("Port Name: " + Serial1->SerialPort()->Name());
        Serial1->SetBaud(fw::Serial::Baud57600);
        Serial1->SetBits(fw::Serial::Bits8);
        Serial1->SetDataTerminalReady(true);
        Serial1->SetRequestToSend(true);
        Serial1->Reset();
        SetWindowsDTR();
    } else {
        fw::MsgBox("Failure to open serial  port!!");
        StaticStatus()->SetText("Not Open");
        StaticPortName()->SetText("Port Name: ");
    }
}

// The last step of a successful opening: the line needs nothing more on this platform.
void Window1::SetWindowsDTR() { }
