// The entry point of the suites whose every case runs in children: the parent
// starts nothing of Qt, so each child begins as a new program would.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Children inherit it: widgets are real but headless.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return RUN_ALL_TESTS();
}
