// src/system: a whole system-services scenario against its kept trace: registers, backlight, touch,
// the debug link, and a backup restored with its restart. Any change in what the library asks of
// the system, in what order, or in what it prints, shows as a diff of tests/golden/.
#include "Tarvik.h"
#include "golden.h"
#include "library_test.h"
#include "test_support.h"

class SystemGolden : public tarvik_test::LibraryTest {};

TEST_F(SystemGolden, RegistersBacklightTouchDebugLinkAndARestoredBackup) {
    vboard::setBoardFolder("");
    EXPECT_EQ(ReadPhysicalAddress(1, vboard::kAnatopDigprog, 32), 0x00630002u);
    EXPECT_EQ(WritePhysicalAddress(2, 0x00907000, 16, 0xBEEF, 1), 0xBEEFu);
    EXPECT_EQ(WritePhysicalAddress(0, 0x00907000, 32, 1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(SetBacklightLevel(128), 1);
    EXPECT_EQ(SetBacklightSuspend(120, 1), 1);
    EXPECT_EQ(ClearTouchCalibrationData(), 1);
    EXPECT_EQ(CalibrateTouch(), 1);
    EXPECT_EQ(RestartPowerKITL(), 1);
    EXPECT_EQ(SaveRegistry(), 1);
    EXPECT_EQ(CreateRegistryBackup(), 1);
    EXPECT_EQ(SetBacklightSuspend(5, 0), 1);
    EXPECT_EQ(RestoreRegistryBackup(), 1);
    EXPECT_EQ(vboard::restarts(), 1u);
    EXPECT_EQ(SetBacklightLevel(64), 1);
    tarvik_test::expectGolden("system_round_trip.trace", vboard::traceLines());
    tarvik_test::expectNoMisuse();
}
