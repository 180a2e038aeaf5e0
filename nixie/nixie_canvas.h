// One Nixie tube: draws the cell of the digit picture that its value selects.
#pragma once

#include "framework/drawing.h"
#include "framework/window.h"

#include <vector>

class NixieCanvas : public fw::Canvas {
    FW_OBJECT(NixieCanvas)
public:
    void Event_Paint(fw::Graphics& g, const std::vector<fw::Rect>& areas);

    // 0 to 9 show that digit, 10 the unlit tube; any other value draws nothing.
    fw::Integer value = 0;
};

// The digit picture, opened at its first use and kept; tried again while it is missing.
fw::Ref<fw::Picture> nixies();
