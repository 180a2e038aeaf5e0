// The window's layout: its menu bar, its stored properties and its sixteen controls.
#include "monitor/window1.h"

void Window1::Layout()
{
    // pending: the main-window issue installs the menu bar and the stored properties.
}

void Window1::CreateControls()
{
    CreateControls0();
}

void Window1::CreateControls0()
{
    // pending: the main-window issue creates the sixteen controls.
}

void Window1::StaticCPM_Open(const fw::Ref<fw::Label>& /*sender*/)
{
    // pending: the main-window issue sets the text size.
}
