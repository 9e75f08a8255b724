// src/gpio: a whole GPIO scenario against its kept trace (see golden.h).
#include "Tarvik.h"
#include "golden.h"
#include "library_test.h"
#include "test_support.h"

using tarvik_test::expectGolden;

class GpioGolden : public tarvik_test::LibraryTest {};

TEST_F(GpioGolden, DirectionReadAndInterruptRoundTrip) {
    EXPECT_EQ(GPIOSetDirection(1, 0, 1), 1);
    EXPECT_EQ(GPIOGetPin(1), 0);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(GPIOSetInterrupt(3, vboard::kGpioRisingEdge, event), 1);
    vboard::gpio().driveInput(0, 5, true);
    EXPECT_EQ(WaitForSingleObject(event, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(GPIOClearInterrupt(3), 1);
    EXPECT_EQ(GPIOSetDirection(24, 0, 0), 0);
    CloseHandle(event);
    expectGolden("gpio_round_trip.trace", vboard::traceLines());
    tarvik_test::expectNoMisuse();
}
