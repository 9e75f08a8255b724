// The same application test in C++ with GoogleTest and the board's fixture, which resets the
// board before each test and fails a test that misused a handle:
//
//   c++ -std=c++17 -Iinclude -Isrc/platform -Ivboard/include vboard/examples/button_gtest.cpp
//       -Lbuild/default -lTarvik -ltarvik_vboard -lgtest -lgtest_main -pthread
//       -Wl,-rpath,$PWD/build/default          (one command line)
#include "Tarvik.h"
#include "vboard/gtest.h"

using ButtonTest = vboard::testing::BoardTest;

TEST_F(ButtonTest, APressSetsTheEventUntilDisarmed) {
    HANDLE pressed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(3, TARVIK_GPIO_RISING_EDGE, pressed), 1);
    vboard::gpio().driveInput(0, 5, true);
    EXPECT_EQ(WaitForSingleObject(pressed, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(GPIOClearInterrupt(3), 1);
    vboard::gpio().driveInput(0, 5, false);
    vboard::gpio().driveInput(0, 5, true);
    EXPECT_EQ(WaitForSingleObject(pressed, 0), WAIT_TIMEOUT);
    EXPECT_EQ(vboard::openDriverHandles(), 0u);
    CloseHandle(pressed);
}

TEST_F(ButtonTest, ALevelInterruptCanBeSetUpByConfiguration) {
    // The pad is high before the interrupt is armed: a high-level interrupt fires at once.
    EXPECT_TRUE(vboard::applyConfigLine("gpio input 0.5 1").empty());
    HANDLE pressed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(GPIOSetInterrupt(3, TARVIK_GPIO_HIGH_LEVEL, pressed), 1);
    EXPECT_EQ(WaitForSingleObject(pressed, 0), WAIT_OBJECT_0);
    GPIOClearInterrupt(3);
    CloseHandle(pressed);
}
