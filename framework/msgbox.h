// Message boxes: one text in a modal box that the user dismisses.
#pragma once

#include "framework/text.h"

#include <functional>

namespace fw {

// Shows the text and returns once the user has dismissed the box.
void MsgBox(const String& text);

// For tests: while a handler is set, MsgBox hands it the text instead of showing
// a box. Returns the handler it replaces.
using MsgBoxHandler = std::function<void(const String&)>;
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);

} // namespace fw
