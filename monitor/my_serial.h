// The serial object of a port choice: reports its errors in the window's error line.
#pragma once

#include "framework/serial.h"

class MySerial : public fw::Serial {
    FW_OBJECT(MySerial)
public:
    // Writes "Serial Port Error: ", the code and its text into the main window's error line.
    void Event_Error();
};
