#include "framework/msgbox.h"

#include <cstdio>
#include <utility>

namespace fw {

namespace {
MsgBoxHandler& Handler()
{
    static MsgBoxHandler handler;
    return handler;
}
} // namespace

void MsgBox(const String& text)
{
    if (Handler()) {
        Handler()(text);
        return;
    }
    // pending: the serial issue shows a Qt message box.
    std::fprintf(stderr, "%s\n", text.ToStdString().c_str());
}

MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler)
{
    return std::exchange(Handler(), std::move(handler));
}

} // namespace fw
