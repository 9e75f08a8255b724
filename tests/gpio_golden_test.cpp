// A whole GPIO scenario against its kept trace: any change in what the library asks of the
// system, in what order, or in what it prints, shows as a diff of tests/golden/.
// Set TARVIK_UPDATE_GOLDEN=1 to write the trace anew after an intended change.
#include "Tarvik.h"
#include "golden_support.h"
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
