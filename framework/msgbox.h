// Message boxes: one text in a modal box that the user dismisses.
#pragma once

#include "framework/text.h"

#include <functional>

namespace fw {

// Shows the text in a modal message box with an OK button, on the main thread,
// and returns once the user has dismissed it. Raises ThreadAccessingUIException
// on another thread.
void MsgBox(const String& text);

// For tests: while a handler is set, MsgBox hands it the text instead of showing
// a box. Returns the handler it replaces.
using MsgBoxHandler = std::function<void(const String&)>;
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);

} // namespace fw
