// The serial object of a port choice: reports its errors in the window's error line.
#pragma once

#include "framework/serial.h"

class MySerial : public fw::Serial {
    FW_OBJECT(MySerial)
public:
    void Event_Error();
};
