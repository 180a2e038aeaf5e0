// The window's Open and Close, and the About box.
#include "monitor/window1.h"

void Window1::AddMenuHandlers(const fw::Ref<fw::Window>& /*window*/)
{
    // pending: the main-window issue binds the About item.
}

void Window1::Event_Open()
{
    // pending: the main-window issue places the tubes.
}

void Window1::Event_Close()
{
    // pending: the main-window issue quits.
}

bool Window1::FileAboutVantrope_Action()
{
    // pending: the main-window issue shows the version.
    return false;
}
