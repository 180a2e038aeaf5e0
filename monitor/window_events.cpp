// The window's Open and Close, and the About box.
#include "app/app.h"
#include "framework/application.h"
#include "framework/msgbox.h"
#include "monitor/window1.h"
#include "nixie/nixie_canvas.h"

void Window1::AddMenuHandlers(const fw::Ref<fw::Window>& window)
{
    auto self = fw::RuntimeCheckCast<class Window1>(window);
    AddMenuHandler("FileAboutVantrope", fw::RuntimeCreateDelegate(&Window1::FileAboutVantrope_Action, self));
}

void Window1::Event_Open()
{
    // The tubes take the place of the CPM label, side by side.
    for (Integer i = 0; i < 4; ++i) {
        Canvas1(i)->SetLeft(80 + 50 * i);
        Canvas1(i)->SetTop(20);
        Canvas1(i)->SetWidth(50);
        Canvas1(i)->SetHeight(82);
    }
    for (Integer i = 0; i < 4; ++i)
        Canvas1(i)->SetVisible(false);
    StaticCPM()->SetVisible(true);
}

void Window1::Event_Close()
{
    fw::Quit(0);
}

bool Window1::FileAboutVantrope_Action()
{
    fw::String text = fw::String("Vantrope ") + fw::Str(App()->MajorVersion()) + ".";
    text = text + fw::Str(App()->MinorVersion()) + ".";
    text = text + fw::Str(App()->BugVersion());
    fw::MsgBox(text);
    return false;
}
