#include "framework/application.h"
#include "framework/msgbox.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Widgets are real but headless; ctest sets this too.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    fw::RuntimeInit(argc, argv);
    // A modal box would wait for a click that never comes; tests that expect one set their own handler.
    fw::SetMsgBoxHandler([](const fw::String& text) {
        std::fprintf(stderr, "message box: %s\n", text.ToStdString().c_str());
    });
    const int result = RUN_ALL_TESTS();
    // A teardown that stalls ends the process with the run's status: make it the tests'.
    fw::Quit(result);
    fw::RuntimeExit();
    return result;
}
