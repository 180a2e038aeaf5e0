#include "framework/application.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Widgets are real but headless; ctest sets this too.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    fw::RuntimeInit(argc, argv);
    const int result = RUN_ALL_TESTS();
    fw::RuntimeExit();
    return result;
}
